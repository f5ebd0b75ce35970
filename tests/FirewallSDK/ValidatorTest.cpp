// Address and port validators, against glibc's inet_aton (through python's
// socket module) and python's regular expressions as oracles.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "FWTrace.h"
#include "FwTestSupport.h"
#include "IPValidator.h"
#include "LimitedChild.h"
#include "PortValidator.h"
#include "Shell.h"

using namespace FirewallSDK;
using FirewallSDK::IP_Validator::ADDR_TYPE;
using FirewallSDK::IP_Validator::IPValidator;
using FirewallSDK::PORT_Validator::PortValidator;

namespace {

const int NOT_SET = -1;

std::string tempFile(const std::string& content)
{
    char path[] = "/tmp/fwtest.XXXXXX";
    int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    return path;
}

/// "2,3,...": n ports.
std::string portList(int n)
{
    std::string list;
    for (int i = 1; i <= n; ++i)
        list += (i > 1 ? "," : "") + std::to_string(i % 65535 + 1);
    return list;
}

/// `unit` repeated to at least `bytes` characters.
std::string repeated(const std::string& unit, size_t bytes)
{
    std::string text;
    while (text.size() < bytes)
        text += unit;
    return text;
}

} // namespace

TEST(IPValidatorTest, ValidateAddr)
{
    struct Case {
        const char* text;
        int code;
        int type; // NOT_SET: left as preset
        const char* addrText; // nullptr: not checked
        const char* ipAndMask;
    };
    const Case cases[] = {
        {"10.1.2.3", 0, 0, "10.1.2.3", nullptr},
        {"10.1.2.3/8", 0, 1, "10.0.0.0", "10.0.0.0/8"},
        {"10.1.2.3/024", 0, 1, "10.1.2.0", "10.1.2.0/024"},
        {"10.1.2.3/32", 0, 1, "10.1.2.3", "10.1.2.3/32"},
        {"192.168.77.200/1", 0, 1, "128.0.0.0", "128.0.0.0/1"},
        {"010.1.2.3", 0, 0, "8.1.2.3", nullptr},
        {"1.2.3.04", 0, 0, "1.2.3.4", nullptr},
        {"10.1.2.3/33", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2.3/x", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2.3/0", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2.3/", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2.3/-8", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2.3/8/8", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2.3/4294967320", 5, NOT_SET, nullptr, nullptr},
        {"10.1.2/8", 2, NOT_SET, nullptr, nullptr},
        {"", 2, NOT_SET, nullptr, nullptr},
        {"10.1.2.3.4", 2, NOT_SET, nullptr, nullptr},
        {"1000.1.2.3", 2, NOT_SET, nullptr, nullptr},
        {"300.1.1.1", 3, NOT_SET, nullptr, nullptr},
        {"09.1.2.3", 3, NOT_SET, nullptr, nullptr},
        {"300.1.1.1/8", 3, NOT_SET, nullptr, nullptr},
        {"somehost/24", 6, NOT_SET, nullptr, nullptr},
        {"10.1.2.3 /24", 6, NOT_SET, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        IPValidator v;
        ADDR_TYPE type = IP_Validator::IP_ADDR_UNKNOWN;
        EXPECT_EQ(v.validateAddr(c.text, type), c.code);
        EXPECT_EQ(type, c.type == NOT_SET ? IP_Validator::IP_ADDR_UNKNOWN : c.type);
        if (c.addrText) {
            EXPECT_EQ(v.getIPAddrStr(), c.addrText);
        }
        if (c.ipAndMask) {
            EXPECT_EQ(v.getIPAndMask(), c.ipAndMask);
        }
    }
}

TEST(IPValidatorTest, DottedFormsAgreeWithGlibcInetAton)
{
    // python's socket.inet_aton is glibc's inet_aton; inet_ntoa gives the text.
    const char* texts[] = {"10.1.2.3", "010.1.2.3", "09.1.2.3", "1.2.3.04", "255.255.255.255",
                           "256.1.1.1", "0.0.0.0", "00.000.0.077", "1.2.3.08", "127.000.000.001"};
    std::string list;
    for (const char* t : texts)
        list += std::string(t) + "\n";
    std::string path = tempFile(list);
    std::string oracle = wardtest::shellOutput(
        "python3 -c 'import socket,sys\n"
        "for t in open(sys.argv[1]).read().split():\n"
        "    try: print(socket.inet_ntoa(socket.inet_aton(t)))\n"
        "    except OSError: print(\"refused\")' " + path);
    unlink(path.c_str());
    std::istringstream lines(oracle);
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        std::string want;
        ASSERT_TRUE(std::getline(lines, want)) << oracle;
        IPValidator v;
        ADDR_TYPE type = IP_Validator::IP_ADDR_UNKNOWN;
        int code = v.validateAddr(t, type);
        if (want == "refused") {
            EXPECT_EQ(code, 3);
        } else {
            EXPECT_EQ(code, 0);
            EXPECT_EQ(v.getIPAddrStr(), want);
        }
    }
}

TEST(ValidatorPatternsTest, AgreeWithPythonRegularExpressions)
{
    // boost's "." matches a newline by default; python's does with DOTALL.
    // Long texts too: past a length, the validators answer without
    // regular expressions, which must not change a single answer.
    const std::string texts[] = {"abc", "1.2.3.4", "1.2.3.4 ", " ", "\n", "1\nx", "x\n1", "10.1.2.3\n",
                                 "1.2.3", "1234.1.1.1", "1.2.3.4a", "80", "080", "80,", "80-", "1-2-3",
                                 "80,010", "65535", "123456", "1,\n2", "9-09", "",
                                 portList(50000), portList(50000) + "x", portList(50000) + ",",
                                 "0" + portList(200), portList(200) + ",,1", portList(200) + ",123456",
                                 repeated("1-", 1 << 20) + "1", repeated("1", 1 << 20),
                                 repeated("1.", 1 << 20) + "a", repeated("\n", 2000) + " "};
    // Each text on one line, newlines escaped for python.
    std::string list;
    for (const std::string& t : texts) {
        for (char ch : t)
            list += ch == '\n' ? std::string("\\n") : std::string(1, ch);
        list += "\x1e";
    }
    std::string path = tempFile(list);
    std::string oracle = wardtest::shellOutput(
        "python3 -c 'import re,sys\n"
        "pats=[r\".*[a-z A-Z]+.*\", r\"[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\",\n"
        "      r\"[1-9][0-9]{0,4}((-|,)[0-9]{1,5})*\"]\n"
        "for t in open(sys.argv[1]).read().split(\"\\x1e\")[:-1]:\n"
        "    t=t.replace(\"\\\\n\",\"\\n\")\n"
        "    print(\"\".join(\"1\" if re.fullmatch(p,t,re.DOTALL) else \"0\" for p in pats))' " + path);
    unlink(path.c_str());
    std::istringstream lines(oracle);
    for (const std::string& t : texts) {
        SCOPED_TRACE("\"" + t + "\"");
        std::string want;
        ASSERT_TRUE(std::getline(lines, want)) << oracle;
        ASSERT_EQ(want.size(), 3u);
        IPValidator v;
        EXPECT_EQ(v.isAddrContainChar(t.c_str()) == 6, want[0] == '1');
        EXPECT_EQ(v.isValidDotedIPAddr(t.c_str()) == 0, want[1] == '1');
        PortValidator p;
        // A list refused by the pattern gives 1 before anything else.
        if (want[2] == '0') {
            EXPECT_EQ(p.validatePortNos(t), 1);
        }
    }
}

TEST(IPValidatorTest, MaskWidth)
{
    struct Case {
        const char* text;
        int code;
    };
    const Case cases[] = {{"24", 0}, {"1", 0}, {"32", 0}, {"024", 0}, {"0", 5}, {"33", 5}, {"-1", 5},
                          {"x", 4}, {"", 4}, {"24x", 4}, {"2147483648", 4}, {"99999999999999999999", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IPValidator v;
        EXPECT_EQ(v.isValidMaskWidth(c.text), c.code);
    }
}

TEST(PortValidatorTest, ValidatePortNos)
{
    std::string thirty;
    for (int i = 1; i <= 30; ++i)
        thirty += (i > 1 ? "," : "") + std::to_string(1000 + i);
    struct Case {
        std::string text;
        int code;
    };
    const Case cases[] = {
        {"80", 0}, {"80,443", 0}, {"1000-2000", 0}, {"2000-1000", 0}, {"80-80", 0}, {"80,0", 0},
        {"80,010", 0}, {"65535", 0}, {"80,0x1", 1}, {"0", 1}, {"080", 1}, {"80,", 1}, {"80-", 1},
        {"70000", 1}, {"80,09", 1}, {"80,65536", 1}, {"", 1}, {" 80", 1}, {"1-2-3", 3}, {"80,1-2-3", 3},
        {thirty, 0}, {thirty + ",80", 4}, {thirty + ",70000", 4}, {"80,,443", 1},
        // longer than any list that can pass
        {portList(50000), 4}, {portList(50000) + "x", 1}, {repeated("1,", 1 << 20) + "1", 4},
        {repeated("1-", 400) + "1", 3}, {"80,1-" + repeated("9", 400), 1}, {"80," + repeated("1-", 400) + "1", 3},
        {"80,0" + repeated("-1", 400), 3}, {"80,09-" + repeated("1-", 400) + "1", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PortValidator v;
        EXPECT_EQ(v.validatePortNos(c.text), c.code);
    }
}

TEST(ValidatorCostTest, LongTextsAreRefusedAtOnce)
{
    // Best of three runs, so that a busy machine does not fail it.
    auto fastest = [](auto check) {
        double best = 1e9;
        for (int run = 0; run < 3; ++run) {
            const auto t0 = std::chrono::steady_clock::now();
            check();
            best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        return best;
    };
    const std::string ports = portList(50000);
    const std::string mebibyte = repeated("1,", 1 << 20);
    const std::string host = repeated("a", 1 << 20);
    int portsCode = -1, mebibyteCode = -1, hostCode = -1;
    const double portsMs = fastest([&] { portsCode = PortValidator().validatePortNos(ports); });
    const double mebibyteMs = fastest([&] { mebibyteCode = PortValidator().validatePortNos(mebibyte); });
    const double hostMs = fastest([&] {
        IPValidator v;
        ADDR_TYPE type = static_cast<ADDR_TYPE>(NOT_SET);
        hostCode = v.validateAddr(host, type);
    });
    EXPECT_EQ(4, portsCode);
    EXPECT_EQ(1, mebibyteCode); // ends with a comma
    EXPECT_EQ(3, hostCode);
    // Sanitizer builds make each of these copies of a mebibyte slow.
    if (!wardtest::kSanitized) {
        EXPECT_LT(portsMs, 10.0);
        EXPECT_LT(mebibyteMs, 10.0);
        EXPECT_LT(hostMs, 10.0);
    }
}

TEST(PortValidatorTest, ValidatePort)
{
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {{"0", true},      {"65535", true},       {"0x50", true},    {"010", true},
                          {"65536", false}, {"-1", false},         {"09", false},     {"80a", false},
                          {"", false},      {"4294967376", false}, {"99999999999999999999", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PortValidator v;
        EXPECT_EQ(v.validatePort(c.text), c.valid);
    }
}

TEST(ValidatorTraceTest, RefusalLinesAtLevelThree)
{
    fwtest::LevelGuard levels;
    ipValidatorFlowvalue = 3;
    fwtest::TraceCapture trace;
    IPValidator v;
    ADDR_TYPE type = IP_Validator::IP_ADDR_UNKNOWN;
    EXPECT_EQ(v.validateAddr("10.1.2/8", type), 2);
    EXPECT_EQ(trace.text(), "isValidDotedIPAddr - Invalid dotted IP Address 10.1.2\n"
                            "isValidIPAddr - Input string is not a dotted ip address\n"
                            "validateAddr - Invalid IP Address 10.1.2\n");
}

TEST(ValidatorTraceTest, PortLinesAtLevelThree)
{
    fwtest::LevelGuard levels;
    portValidatorFlowvalue = 3;
    struct Case {
        const char* text;
        const char* trace;
    };
    const Case cases[] = {
        {"80", ""},
        {"080", ""}, // the pattern refusal is a flow line (threshold 4)
        {"80,09", "validatePort - Invalid port # with char ( 9 )\nvalidatePortNos - Invalid port number\n"},
        {"70000", "validatePort - Port number to out of acceptable range.\nvalidatePortNos - Invalid port number\n"},
        {"1-2-3", "validatePortNos - Invalid port range\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        fwtest::TraceCapture trace;
        PortValidator v;
        v.validatePortNos(c.text);
        EXPECT_EQ(trace.text(), c.trace);
    }
}

TEST(ValidatorTraceTest, SinglePortRefusalLines)
{
    fwtest::LevelGuard levels;
    portValidatorFlowvalue = 3;
    struct Case {
        const char* text;
        const char* trace;
    };
    // A text without digits is refused for its first character, as one with
    // characters after the number is; only an empty text converts nothing.
    const Case cases[] = {
        {"abc", "validatePort - Invalid port # with char ( a )\n"},
        {"-", "validatePort - Invalid port # with char ( - )\n"},
        {"80a", "validatePort - Invalid port # with char ( a )\n"},
        {"", "validatePort - Conversion Error, Port number to out of acceptable range.\n"},
        {"4294967376", "validatePort - Conversion Error, Port number to out of acceptable range.\n"},
        {"65536", "validatePort - Port number to out of acceptable range.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        fwtest::TraceCapture trace;
        PortValidator v;
        EXPECT_FALSE(v.validatePort(c.text));
        EXPECT_EQ(trace.text(), c.trace);
    }
}

TEST(ValidatorTraceTest, FlowLinesAtInitialLevels)
{
    fwtest::LevelGuard levels;
    ASSERT_EQ(ipValidatorFlowvalue, 5);
    ASSERT_EQ(portValidatorFlowvalue, 5);
    fwtest::TraceCapture trace;
    {
        IPValidator v;
        ADDR_TYPE type = IP_Validator::IP_ADDR_UNKNOWN;
        v.validateAddr("10.1.2.3/24", type);
    }
    EXPECT_EQ(trace.text(), "IPValidator - Called\n"
                            "validateAddr - Called with IP Address 10.1.2.3/24\n"
                            "validateAddr - IP/MaskWidth address format\n"
                            "validateAddr - IP Address 10.1.2.3\n"
                            "isAddrContainChar - Dose not contain alphabet char\n"
                            "isValidDotedIPAddr - Valid dotted IP Address 10.1.2.3\n"
                            "validateAddr - Mask width 24\n"
                            "isValidMaskWidth - IP Mask is ( ffffff )\n"
                            "validateAddr - Valid IP Address 10.1.2.0\n"
                            "~IPValidator - Called\n");
}

TEST(ValidatorTraceTest, SilentAtLevelZeroOrWithoutTraceFile)
{
    fwtest::LevelGuard levels;
    {
        ipValidatorFlowvalue = 0;
        portValidatorFlowvalue = 0;
        fwtest::TraceCapture trace;
        IPValidator v;
        ADDR_TYPE type;
        v.validateAddr("300.1.1.1", type);
        PortValidator p;
        p.validatePortNos("1-2-3");
        EXPECT_EQ(trace.text(), "");
    }
    ipValidatorFlowvalue = 5;
    {
        fwtest::TraceCapture trace(false); // traceInited 0
        IPValidator v;
        EXPECT_EQ(trace.text(), "");
    }
    {
        fwtest::TraceCapture trace;
        logFilePtr = nullptr;
        IPValidator v;
        EXPECT_EQ(trace.text(), "");
    }
}
