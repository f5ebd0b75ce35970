// The firewall switches over the stand-in's file-backed sysctlbyname.
#include <fstream>

#include <gtest/gtest.h>

#include "FwTestSupport.h"
#include "StoreTestSupport.h"

using namespace fwstore;
using FirewallSDK::FirewallException;

namespace {

const std::string kSysctl = kIpfwState + "/sysctl/";
const std::string kEnable = kSysctl + "net.inet.ip.fw.enable";
const std::string kVerbose = kSysctl + "net.inet.ip.fw.verbose";

class SwitchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetState();
        shellOutput("mkdir -p " + kSysctl);
    }
    void TearDown() override { FWCommands::releaseInstance(); }
    static FWCommands& store() { return *FWCommands::getInstance(); }
    static void put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string get(const std::string& path) { return shellOutput("cat " + path); }
};

TEST_F(SwitchTest, EnableReadsTrueOnlyForOne)
{
    const std::pair<const char*, bool> cases[] = {{"1", true}, {"2", false}, {"0", false}, {"-1", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        put(kEnable, c.first);
        bool enabled = !c.second;
        EXPECT_EQ(store().getIpfwStatus(enabled), 0);
        EXPECT_EQ(enabled, c.second);
    }
}

TEST_F(SwitchTest, WritesReportTheOldAndNewValue)
{
    fwtest::TraceCapture trace;
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = 5;
    EXPECT_EQ(store().setIpfwStatus(true), 0);
    EXPECT_EQ(get(kEnable), "1\n");
    bool enabled = false;
    store().getIpfwStatus(enabled);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(store().setIpfwStatus(false), 0);
    EXPECT_EQ(get(kEnable), "0\n");
    EXPECT_EQ(store().setLogLevel(3), 0);
    int level = 0;
    EXPECT_EQ(store().getLogLevel(level), 0);
    EXPECT_EQ(level, 3);
    const std::string text = trace.text();
    EXPECT_NE(text.find("setIpfwStatus - Firewall state changed from [ 0 ] to [ 1 ]\n"), std::string::npos);
    EXPECT_NE(text.find("setIpfwStatus - Firewall state changed from [ 1 ] to [ 0 ]\n"), std::string::npos);
    EXPECT_NE(text.find("setLogLevel - Firewall logging changed from [ 0 ] to [ 3 ]\n"), std::string::npos);
    logFilePtr = nullptr; // the capture closes its own file
}

TEST_F(SwitchTest, FailuresThrowTheirCodes)
{
    struct Case {
        const char* name;
        const std::string* variable;
        const char* failing;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"getIpfwStatus", &kEnable, "read", 13041, "Failed to get firewall state"},
        {"getLogLevel", &kVerbose, "read", 13041, "Failed to get firewall state"},
        {"setIpfwStatus", &kEnable, "size", 13041, "Failed to get firewall state"},
        {"setIpfwStatus", &kEnable, "write", 13040, "Failed to set firewall state"},
        {"setLogLevel", &kVerbose, "size", 13043, "Failed to get filewall log state"},
        {"setLogLevel", &kVerbose, "write", 13042, "Failed to set filewall log state"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.failing);
        put(kEnable, "0");
        put(kVerbose, "0");
        put(*c.variable + ".fail", c.failing);
        bool enabled = true;
        int level = 7;
        try {
            const std::string op = c.name;
            if (op == "getIpfwStatus")
                store().getIpfwStatus(enabled);
            else if (op == "getLogLevel")
                store().getLogLevel(level);
            else if (op == "setIpfwStatus")
                store().setIpfwStatus(true);
            else
                store().setLogLevel(2);
            ADD_FAILURE() << "no exception";
        } catch (const FirewallException& e) {
            EXPECT_EQ(e.code, c.code);
            EXPECT_EQ(e.getErrorMsg(), c.message);
        }
        EXPECT_TRUE(enabled);
        EXPECT_EQ(level, 7);
        EXPECT_EQ(get(kEnable), "0");
        EXPECT_EQ(get(kVerbose), "0");
        ::unlink((*c.variable + ".fail").c_str());
    }
}

} // namespace
