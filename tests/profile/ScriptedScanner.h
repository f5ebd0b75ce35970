// A scanner that answers from a script: library names per path, which paths
// are executables, paths that fail or throw, a gate that holds one path's
// scan until released, and a delay per scan.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DependentGenerator.h"

namespace testscan {

class ScriptedScanner : public AppProtection::DependencyScanner {
public:
    /// Installs itself in the generator; the destructor puts the real one
    /// back.
    ScriptedScanner() { AppProtection::DependentGenerator::setScanner(this); }
    ~ScriptedScanner() override
    {
        release();
        AppProtection::DependentGenerator::setScanner(nullptr);
    }

    void setLibraries(const std::string& path, std::vector<std::string> names)
    {
        std::lock_guard<std::mutex> lock(m_);
        libraries_[path] = std::move(names);
    }
    void setExecutable(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_);
        executables_.insert(path);
    }
    void setFailing(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_);
        failing_.insert(path);
    }
    void setThrowing(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_);
        throwing_.insert(path);
    }
    void setDelay(std::chrono::milliseconds delay)
    {
        std::lock_guard<std::mutex> lock(m_);
        delay_ = delay;
    }
    /// The next scan of `path` waits in the scanner until release().
    void gate(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_);
        gatePath_ = path;
        gated_ = true;
        entered_ = false;
    }
    /// True once the gated scan is waiting.
    bool waitEntered(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, timeout, [this] { return entered_; });
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock(m_);
            gated_ = false;
        }
        cv_.notify_all();
    }
    int scans() const { return scans_.load(); }
    int overlaps() const { return overlaps_.load(); }

    int getDependantLibraries(const char* path, ::dependant_libraries* libs) override;
    int isFileMachOExecutable(const char* path) override
    {
        Inside inside(*this);
        std::lock_guard<std::mutex> lock(m_);
        return executables_.count(path) ? 1 : 0;
    }

private:
    // Counts threads inside the scanner: the generator must keep it at one.
    struct Inside {
        explicit Inside(ScriptedScanner& s) : s_(s)
        {
            if (s_.inside_.fetch_add(1) != 0)
                s_.overlaps_.fetch_add(1);
        }
        ~Inside() { s_.inside_.fetch_sub(1); }
        ScriptedScanner& s_;
    };

    std::mutex m_;
    std::condition_variable cv_;
    std::map<std::string, std::vector<std::string>> libraries_;
    std::set<std::string> executables_, failing_, throwing_;
    std::chrono::milliseconds delay_{0};
    std::string gatePath_;
    bool gated_ = false;
    bool entered_ = false;
    std::atomic<int> scans_{0};
    std::atomic<int> inside_{0};
    std::atomic<int> overlaps_{0};
};

inline int ScriptedScanner::getDependantLibraries(const char* path, ::dependant_libraries* libs)
{
    Inside inside(*this);
    scans_.fetch_add(1);
    std::vector<std::string> names;
    std::chrono::milliseconds delay;
    {
        std::unique_lock<std::mutex> lock(m_);
        if (gated_ && gatePath_ == path) {
            entered_ = true;
            cv_.notify_all();
            cv_.wait(lock, [this] { return !gated_; });
        }
        if (failing_.count(path))
            return 0;
        if (throwing_.count(path))
            throw std::runtime_error("scripted scanner failure");
        auto it = libraries_.find(path);
        if (it == libraries_.end())
            return 0;
        names = it->second;
        delay = delay_;
    }
    if (delay.count() > 0)
        std::this_thread::sleep_for(delay);
    // The scanner's own allocation: each name and the array from malloc.
    libs->count = static_cast<int32_t>(names.size());
    libs->names = static_cast<char**>(std::malloc(sizeof(char*) * (names.size() + 1)));
    for (size_t i = 0; i < names.size(); ++i)
        libs->names[i] = strdup(names[i].c_str());
    return 1;
}

} // namespace testscan
