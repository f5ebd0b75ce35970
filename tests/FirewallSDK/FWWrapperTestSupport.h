// Shared by the FWWrapper tests: rules built field by field, PATH control,
// a recording ipfw, and rule lists served from the fixture files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <string>
#include <vector>

#include "FWWrapper.h"
#include "Files.h"
#include "RuleListSource.h"

namespace fwwtest {

using FirewallSDK::FWDetailedData;
using FirewallSDK::FWExtDetailedData;

/// A rule that may carry the number 0, which the setter refuses.
struct RawRule : FWExtDetailedData {
    explicit RawRule(int number) { ruleNo = number; }
};

inline std::vector<uint8_t> fixture(const std::string& name)
{
    const std::string path = std::string(IPFW_FIXTURES) + "/" + name;
    if (!std::filesystem::exists(path))
        throw std::runtime_error("missing fixture " + name);
    return wardtest::readBytes(path);
}

/// Serves one list as the kernel would, recording every offered size.
/// Restores the default source when it goes.
class ServedList {
public:
    explicit ServedList(std::vector<uint8_t> list, int failErrno = 0) : m_list(std::move(list)), m_errno(failErrno)
    {
        ipfw::setRuleListSource([this](int, void* buf, socklen_t* len) {
            m_offers.push_back(*len);
            if (m_errno != 0) {
                errno = m_errno;
                return -1;
            }
            size_t n = m_list.size() < *len ? m_list.size() : *len;
            std::memcpy(buf, m_list.data(), n);
            *len = static_cast<socklen_t>(n);
            return 0;
        });
    }
    ~ServedList() { ipfw::setRuleListSource(nullptr); }
    const std::vector<socklen_t>& offers() const { return m_offers; }

private:
    std::vector<uint8_t> m_list;
    int m_errno;
    std::vector<socklen_t> m_offers;
};

/// Sets PATH for one test and puts the old one back.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path)
    {
        const char* old = std::getenv("PATH");
        m_old = old ? old : "";
        ::setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() { ::setenv("PATH", m_old.c_str(), 1); }

private:
    std::string m_old;
};

/// A folder holding an ipfw script that records its arguments, NUL after
/// each, into `record`.
class RecordingIpfw {
public:
    RecordingIpfw() : m_tmp("fwwrapper-rec"), m_dir(m_tmp.path())
    {
        m_record = m_dir + "/argv";
        std::ofstream script(m_dir + "/ipfw");
        script << "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" << m_record << "\"\necho 05122 recorded\n";
        script.close();
        std::filesystem::permissions(m_dir + "/ipfw", std::filesystem::perms::owner_all);
    }
    const std::string& dir() const { return m_dir; }
    bool ran() const { return std::filesystem::exists(m_record); }
    /// argv[0] "ipfw" plus the recorded arguments.
    std::vector<std::string> argv() const
    {
        const std::string all = wardtest::readFile(m_record);
        std::vector<std::string> out{"ipfw"};
        size_t start = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            if (all[i] == '\0') {
                out.push_back(all.substr(start, i - start));
                start = i + 1;
            }
        }
        return out;
    }

private:
    wardtest::TempDir m_tmp;
    std::string m_dir;
    std::string m_record;
};

/// The folder of the stand-in program built with the tests.
inline std::string standInDir()
{
    return std::filesystem::path(IPFW_PROGRAM).parent_path().string();
}

} // namespace fwwtest
