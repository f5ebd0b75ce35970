// What the core's tests share: the configuration in memory with the
// services double reset, the platform pieces they fake and the Mach-O
// fixtures. Scratch folders and child processes come from the profile's and
// the broker's test support.
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <memory>
#include <string>
#include <vector>


#include <gtest/gtest.h>

#include "AppProtectionController.h"
#include "CodeSignChecker.h"
#include "ProcessSource.h"
#include "ConfigController.h"
#include "MemoryPreferences.h"
#include "ProcessSupport.h"
#include "ServicesDouble.h"
#include "TestFiles.h"

namespace coretest {

/// Exit status of a program run to its end.
inline int runProgram(const std::vector<std::string>& argv, double seconds = 60)
{
    int rc = -1;
    proc::run(argv, &rc, seconds);
    return rc;
}

/// The Mach-O and other test programs of tests/fixtures/daemon_fixtures.py,
/// made once per test program and removed at its exit.
inline const std::string& fixtures()
{
    struct Folder {
        std::string path;
        Folder()
        {
            char tmpl[] = "/tmp/ward-daemon-fixtures.XXXXXX";
            path = ::mkdtemp(tmpl);
            if (runProgram({"/usr/bin/python3", DAEMON_FIXTURES_PY, path}) != 0)
                std::abort();
        }
        ~Folder()
        {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    };
    static const Folder folder;
    return folder.path;
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
