// What the core's tests share: the configuration in memory with the
// services double reset, scratch folders, child processes and the Mach-O
// fixtures.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AppProtectionController.h"
#include "CodeSignChecker.h"
#include "ProcessSource.h"
#include "ConfigController.h"
#include "MemoryPreferences.h"
#include "ServicesDouble.h"

extern char** environ;

namespace coretest {

/// A fresh folder under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/ward-daemon.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr)
            std::abort();
        m_path = tmpl;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644)
{
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    ::chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/// A child process started from an argument vector, killed and reaped when
/// destroyed.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv)
    {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
            m_pid = -1;
    }
    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return m_pid; }
    /// Exit status, or -1 when it did not end within `seconds`.
    int wait(double seconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
        for (;;) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > end)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

private:
    pid_t m_pid = -1;
};

/// Runs a program to its end; its exit status.
inline int runProgram(const std::vector<std::string>& argv, double seconds = 60)
{
    Child child(argv);
    return child.wait(seconds);
}

inline bool waitUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

/// The Mach-O and other test programs of tests/fixtures/daemon_fixtures.py,
/// made once per test program.
inline const std::string& fixtures()
{
    static const std::string folder = [] {
        char tmpl[] = "/tmp/ward-daemon-fixtures.XXXXXX";
        std::string dir = ::mkdtemp(tmpl);
        if (runProgram({"/usr/bin/python3", DAEMON_FIXTURES_PY, dir}) != 0)
            std::abort();
        std::atexit([] { std::filesystem::remove_all(fixtures()); });
        return dir;
    }();
    return folder;
}

/// A process source that lists no process.
class NoProcesses : public AppProtection::ProcessSource {
public:
    std::vector<int> listPids() override { return {}; }
    std::string programPath(int) override { return ""; }
};

/// Counts the checks per path; `signedPaths` are Apple-signed.
class CountingChecker : public AppProtection::CodeSignChecker {
public:
    explicit CountingChecker(std::set<std::string> signedPaths, bool available = true)
        : m_signed(std::move(signedPaths)), m_available(available)
    {
    }
    bool available() override { return m_available; }
    bool isAppleSigned(const std::string& path) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_runs[path];
        return m_signed.count(path) != 0;
    }
    int runs(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_runs[path];
    }

private:
    std::mutex m_mutex;
    std::set<std::string> m_signed;
    const bool m_available;
    std::map<std::string, int> m_runs;
};

/// Each test starts with the configuration in memory, no controller, and
/// the services double reset; the controller it makes is released after.
class CoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AppProtection::AppProtectionController::releaseInstance();
        m_store.reset(new settingstoretest::MemoryPreferences);
        AppProtection::ConfigController::releaseInstance();
        m_config = AppProtection::ConfigController::getInstance();
        servicesdouble::reset();
    }
    void TearDown() override
    {
        AppProtection::AppProtectionController::releaseInstance();
        AppProtection::ConfigController::releaseInstance();
        m_store.reset();
    }

    /// Stores an integer preference that has no setter.
    void putInt(const char* key, int value)
    {
        m_store->put("com.vantrel.zrm.appprotection", key, std::make_shared<PrefNumber>(value));
    }

    std::unique_ptr<settingstoretest::MemoryPreferences> m_store;
    AppProtection::ConfigController* m_config = nullptr;
};

} // namespace coretest
