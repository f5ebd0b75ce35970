#include "IpfwStateHelpers.h"

#include <cerrno>
#include <cstring>

#include "RuleListSource.h"
#include "Sysctl.h"

using IpfwSourceTest = IpfwStateTest;

TEST_F(IpfwSourceTest, AbsentListIsTheDefaultRuleAlone)
{
    std::vector<uint8_t> buf(512, 0xee);
    socklen_t len = 512;
    ASSERT_EQ(ipfw::getRuleList(-1, buf.data(), &len), 0);
    ASSERT_EQ(len, 68u);
    buf.resize(len);
    EXPECT_EQ(buf, ipfwFixture("default.bin"));
}

TEST_F(IpfwSourceTest, CopiesAtMostTheOfferedBytes)
{
    const std::vector<uint8_t> list = ipfwFixture("list18.bin");
    writeState(ipfw::kRulesFile, list);
    struct Case {
        socklen_t offered;
        socklen_t reported;
    };
    const Case cases[] = {{0, 0}, {100, 100}, {1224, 1224}, {2648, 1224}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offered);
        std::vector<uint8_t> buf(c.offered + 8, 0xee);
        socklen_t len = c.offered;
        ASSERT_EQ(ipfw::getRuleList(-1, buf.data(), &len), 0);
        EXPECT_EQ(len, c.reported);
        EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + len, list.begin()));
        EXPECT_EQ(buf[c.offered], 0xee);  // nothing written past the offer
    }
}

TEST_F(IpfwSourceTest, UnreadableStateFailsWithErrno)
{
    std::filesystem::create_directories(ipfw::kRulesFile);
    std::vector<uint8_t> buf(64);
    socklen_t len = 64;
    errno = 0;
    EXPECT_EQ(ipfw::getRuleList(-1, buf.data(), &len), -1);
    EXPECT_EQ(errno, EISDIR);
}

TEST_F(IpfwSourceTest, TestsCanReplaceTheSource)
{
    int calls = 0;
    ipfw::RuleListSource old = ipfw::setRuleListSource([&](int, void*, socklen_t*) {
        ++calls;
        errno = ENOPROTOOPT;
        return -1;
    });
    EXPECT_FALSE(old);
    socklen_t len = 4;
    char buf[4];
    EXPECT_EQ(ipfw::getRuleList(3, buf, &len), -1);
    EXPECT_EQ(errno, ENOPROTOOPT);
    EXPECT_EQ(calls, 1);
    ipfw::setRuleListSource(nullptr);
    len = 4;
    EXPECT_EQ(ipfw::getRuleList(3, buf, &len), 0);
    EXPECT_EQ(calls, 1);
}

// ---- sysctlbyname ------------------------------------------------------------

namespace {
const char* const kEnable = "net.inet.ip.fw.enable";
const char* const kVerbose = "net.inet.ip.fw.verbose";

std::string sysctlPath(const char* name, const char* suffix = "")
{
    return std::string(ipfw::kSysctlDir) + "/" + name + suffix;
}

std::string fileText(const std::string& path)
{
    std::vector<uint8_t> b;
    if (ipfw::readWholeFile(path, b) != 0)
        return "<absent>";
    return std::string(b.begin(), b.end());
}
} // namespace

TEST_F(IpfwSourceTest, SysctlReadsAndWritesTheTwoValues)
{
    for (const char* name : {kEnable, kVerbose}) {
        SCOPED_TRACE(name);
        size_t len = 0;
        ASSERT_EQ(sysctlbyname(name, nullptr, &len, nullptr, 0), 0);
        EXPECT_EQ(len, 4u);

        int value = -7;
        len = sizeof value;
        ASSERT_EQ(sysctlbyname(name, &value, &len, nullptr, 0), 0);
        EXPECT_EQ(value, 0);  // absent: 0

        int set = 1;
        ASSERT_EQ(sysctlbyname(name, nullptr, nullptr, &set, sizeof set), 0);
        EXPECT_EQ(fileText(sysctlPath(name)), "1\n");

        // Read the old value and write the new one in one call.
        int old = -1;
        int next = 0;
        len = 8;
        ASSERT_EQ(sysctlbyname(name, &old, &len, &next, sizeof next), 0);
        EXPECT_EQ(old, 1);
        EXPECT_EQ(len, 4u);
        value = -1;
        len = sizeof value;
        ASSERT_EQ(sysctlbyname(name, &value, &len, nullptr, 0), 0);
        EXPECT_EQ(value, 0);
    }
    writeText(sysctlPath(kVerbose), "42\n");
    int value = 0;
    size_t len = sizeof value;
    ASSERT_EQ(sysctlbyname(kVerbose, &value, &len, nullptr, 0), 0);
    EXPECT_EQ(value, 42);
}

TEST_F(IpfwSourceTest, SysctlFailuresChangeNothing)
{
    writeText(sysctlPath(kEnable), "1\n");
    struct Case {
        const char* name;
        const char* fail;  // content of <name>.fail, or null
        bool read;
        size_t oldLen;
        bool write;
        size_t newLen;
        bool sizeOnly;
        int err;
    };
    const Case cases[] = {
        {"net.inet.ip.fw.nope", nullptr, true, 4, false, 0, false, ENOENT},
        {"", nullptr, true, 4, false, 0, false, ENOENT},
        {kEnable, nullptr, true, 3, false, 0, false, ENOMEM},
        {kEnable, nullptr, false, 0, true, 2, false, EINVAL},
        {kEnable, nullptr, true, 4, true, 8, false, EINVAL},
        {kEnable, "size", false, 0, false, 0, true, EPERM},
        {kEnable, "read", true, 4, false, 0, false, EPERM},
        {kEnable, "read", true, 4, true, 4, false, EPERM},
        {kEnable, "write", false, 0, true, 4, false, EPERM},
        {kEnable, "write", true, 4, true, 4, false, EPERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " fail=" + (c.fail ? c.fail : "-") + " read=" +
                     std::to_string(c.read) + " write=" + std::to_string(c.write));
        std::filesystem::remove(sysctlPath(kEnable, ".fail"));
        if (c.fail)
            writeText(sysctlPath(kEnable, ".fail"), std::string(c.fail) + "\n");
        int old = -5;
        int next = 0;
        size_t len = c.oldLen;
        errno = 0;
        int rc = sysctlbyname(c.name, c.read ? &old : nullptr, (c.read || c.sizeOnly) ? &len : nullptr,
                              c.write ? &next : nullptr, c.newLen);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(errno, c.err);
        EXPECT_EQ(old, -5);
        EXPECT_EQ(len, c.oldLen);
        EXPECT_EQ(fileText(sysctlPath(kEnable)), "1\n");
    }
    // A fail file for one kind leaves the other kinds working.
    writeText(sysctlPath(kEnable, ".fail"), "write");
    int value = 0;
    size_t len = sizeof value;
    EXPECT_EQ(sysctlbyname(kEnable, &value, &len, nullptr, 0), 0);
    EXPECT_EQ(value, 1);
}
