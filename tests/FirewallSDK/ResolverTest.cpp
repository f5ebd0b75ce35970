// Host names through the resolver, with the machine's host table replaced by
// a fixture inside a private mount namespace (see CMakeLists.txt): two
// addresses for one name, and no DNS.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "FWTrace.h"
#include "FwTestSupport.h"
#include "IPValidator.h"

using namespace FirewallSDK::IP_Validator;

TEST(ResolverTest, HostNames)
{
    if (std::getenv("FW_HOSTS_FIXTURE") == nullptr)
        GTEST_SKIP() << "needs the host-table fixture (run through CTest)";

    struct Case {
        const char* text;
        int code;
        int type; // -1: left as preset
        const char* addrText;
        const char* hostName;
    };
    const Case cases[] = {
        {"twohost", 0, 2, "10.0.0.1,10.0.0.2", "twohost"},
        {"localhost", 0, 2, "127.0.0.1", "localhost"},
        {"onehost", 0, 2, "192.168.7.9", "onehost"},
        {"nohost.invalid", 3, -1, nullptr, ""},
        {"10.1.2.3 ", 3, -1, nullptr, ""},
        {"twohost/24", 6, -1, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IPValidator v;
        ADDR_TYPE type = IP_ADDR_UNKNOWN;
        EXPECT_EQ(v.validateAddr(c.text, type), c.code);
        EXPECT_EQ(type, c.type < 0 ? IP_ADDR_UNKNOWN : c.type);
        if (c.addrText) {
            EXPECT_EQ(v.getIPAddrStr(), c.addrText);
        }
        EXPECT_EQ(v.getHostName(), c.hostName);
    }
}

TEST(ResolverTest, HostNameTraceLines)
{
    if (std::getenv("FW_HOSTS_FIXTURE") == nullptr)
        GTEST_SKIP() << "needs the host-table fixture (run through CTest)";
    fwtest::LevelGuard levels;
    ipValidatorFlowvalue = 5;
    fwtest::TraceCapture trace;
    IPValidator v;
    ADDR_TYPE type = IP_ADDR_UNKNOWN;
    EXPECT_EQ(v.validateAddr("twohost", type), 0);
    EXPECT_EQ(trace.text(), "IPValidator - Called\n"
                            "validateAddr - Called with IP Address twohost\n"
                            "isAddrContainChar - Contains alphabet char\n"
                            "isValidIPAddr - Input string contains alphabets\n"
                            "validateAddr - Going to validate Hostname\n"
                            "validateAddr - Resolved host name info -\n"
                            "validateAddr - Hostname : \n"
                            "validateAddr - Resolved IP Addresses : 10.0.0.1,10.0.0.2\n");
}
