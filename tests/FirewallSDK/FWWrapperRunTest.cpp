// The runner against the ipfw stand-in: real child processes over a pipe,
// exit statuses, signals. Runs in the mount namespace of tests/ns-run.sh.
#include "FWWrapperTestSupport.h"

#include <chrono>
#include <functional>
#include <csignal>
#include <sys/time.h>

#include "IpfwState.h"

using namespace FirewallSDK;
using namespace fwwtest;

namespace {

class FWWrapperRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* inside = std::getenv("WARD_NS_INSIDE");
        if (inside == nullptr || std::string(inside) != "1")
            GTEST_SKIP() << "needs tests/ns-run.sh";
        std::filesystem::remove_all(ipfw::kStateDir);
        std::filesystem::create_directories(ipfw::kStateDir);
        m_path.reset(new ScopedPath(standInDir() + ":/usr/bin:/bin"));
    }
    void TearDown() override { m_path.reset(); }

    static void inject(const std::string& what)
    {
        std::ofstream(ipfw::kInjectFile) << what << "\n";
    }

    static RawRule allow(int number)
    {
        RawRule r(number);
        r.setAction(std::string("allow"));
        r.isLogging(false);
        return r;
    }

    std::unique_ptr<ScopedPath> m_path;
};

std::string joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& l : lines)
        all += l;
    return all;
}

} // namespace

TEST_F(FWWrapperRun, DeleteOfANumberNotHeldThrowsAPlainExceptionAfterTheLines)
{
    FWWrapper w;
    std::vector<std::string> lines;
    try {
        w.execCommand(5122, lines);
        FAIL() << "no exception";
    } catch (const FirewallException& e) {
        EXPECT_EQ(typeid(e), typeid(FirewallException));
        EXPECT_EQ(e.code, FW_NO_SUCH_RULE_NUMBER);
        EXPECT_EQ(e.getErrorMsg(), "No such rule number exist");
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"ipfw: delete: no rule numbered 5122\n"}));
}

TEST_F(FWWrapperRun, StatusTableDependsOnTheCommand)
{
    struct Case {
        bool add;
        int exit;
        int code;  // 0: returned, not thrown
    };
    const Case cases[] = {
        {true, 64, FW_INVALID_COMMAND_FOR_EXECUTION}, {true, 65, FW_INVALID_ACTION_SPECIFIED},
        {true, 68, FW_NO_SUCH_HOST},  {true, 69, 0}, {true, 3, 0}, {true, 71, 0},
        {false, 64, 0}, {false, 65, 0}, {false, 68, 0}, {false, 69, FW_NO_SUCH_RULE_NUMBER}, {false, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.add ? "add" : "delete") + " exit " + std::to_string(c.exit));
        inject("exit " + std::to_string(c.exit));
        FWWrapper w;
        std::vector<std::string> lines;
        try {
            int status = c.add ? w.execCommand(allow(5122), lines) : w.execCommand(5122, lines);
            EXPECT_EQ(c.code, 0);
            EXPECT_EQ(status, c.exit);
        } catch (const FirewallException& e) {
            EXPECT_EQ(typeid(e), typeid(FirewallException));
            EXPECT_EQ(e.code, c.code);
        }
        EXPECT_EQ(lines, (std::vector<std::string>{"ipfw: injected exit " + std::to_string(c.exit) + "\n"}));
    }
}

TEST_F(FWWrapperRun, RealRefusalsMapToTheirCodes)
{
    struct Case {
        const char* name;
        FWExtDetailedData rule;
        int code;
    };
    RawRule badWord = allow(5122);
    badWord.setInterface("via", "");
    RawRule badAction = allow(5122);
    badAction.setAction(std::string("permit"));
    RawRule badHost = allow(5122);
    badHost.setDestIp(FWDetailedData::FIELD_PLAIN, "nosuchhost.invalid");
    RawRule badNumber = allow(65535);
    const Case cases[] = {
        {"empty interface", badWord, FW_INVALID_ACTION_SPECIFIED},
        {"unknown action", badAction, FW_INVALID_ACTION_SPECIFIED},
        {"unknown host", badHost, FW_NO_SUCH_HOST},
        {"rule 65535", badNumber, FW_INVALID_ACTION_SPECIFIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FWWrapper w;
        std::vector<std::string> lines;
        try {
            w.execCommand(c.rule, lines);
            ADD_FAILURE() << "no exception";
        } catch (const FirewallException& e) {
            EXPECT_EQ(e.code, c.code);
        }
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("ipfw: ", 0), 0u);
    }
}

TEST_F(FWWrapperRun, TwoCommandsOnOneObjectShareTheLines)
{
    FWWrapper w;
    std::vector<std::string> first;
    std::vector<std::string> second;
    EXPECT_EQ(w.execCommand(allow(5122), first), 0);
    EXPECT_EQ(w.execCommand(allow(5123), second), 0);
    EXPECT_EQ(first, (std::vector<std::string>{"05122 allow ip from any to any\n"}));
    EXPECT_EQ(second,
              (std::vector<std::string>{"05122 allow ip from any to any\n", "05123 allow ip from any to any\n"}));
}

TEST_F(FWWrapperRun, LongLinesArriveIn511BytePieces)
{
    inject("line 600");
    FWWrapper w;
    std::vector<std::string> lines;
    EXPECT_EQ(w.execCommand(allow(5122), lines), 0);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], std::string(511, 'l'));
    EXPECT_EQ(lines[1], std::string(89, 'l') + "\n");
    EXPECT_EQ(lines[2], "05122 allow ip from any to any\n");
}

TEST_F(FWWrapperRun, OutputBeyondThePipeBufferIsReadWhole)
{
    inject("flood 1048576");
    FWWrapper w;
    std::vector<std::string> lines;
    EXPECT_EQ(w.execCommand(allow(5122), lines), 0);
    EXPECT_EQ(lines.size(), 1048576u / 64 + 1);
    EXPECT_EQ(joined(lines).size(), 1048576u + 31u);
    EXPECT_EQ(lines.back(), "05122 allow ip from any to any\n");
}

TEST_F(FWWrapperRun, ToolKilledBySignalIsAnUnknownErrorAfterTheLines)
{
    inject("signal");
    FWWrapper w;
    std::vector<std::string> lines{"old"};
    try {
        w.execCommand(5122, lines);
        FAIL() << "no exception";
    } catch (const SystemException& e) {
        EXPECT_EQ(e.code, FW_UNKNOWN_ERROR);
        EXPECT_EQ(e.getErrorMsg(), "Unknown error");
    }
    EXPECT_TRUE(lines.empty());  // filled (with nothing) before the throw
}

TEST_F(FWWrapperRun, NoToolOnPathIsAnExecFailureForBothCommands)
{
    std::string empty = std::string(ipfw::kStateDir) + "/empty-path";
    std::filesystem::create_directories(empty);
    ScopedPath path(empty);
    for (bool add : {true, false}) {
        SCOPED_TRACE(add ? "add" : "delete");
        FWWrapper w;
        std::vector<std::string> lines;
        try {
            add ? w.execCommand(allow(5122), lines) : w.execCommand(5122, lines);
            ADD_FAILURE() << "no exception";
        } catch (const SystemException& e) {
            EXPECT_EQ(e.code, FW_EXEC_FAILED);
            EXPECT_EQ(e.getErrorMsg(), "Faile to exec");
        }
    }
}

TEST_F(FWWrapperRun, IgnoredSigchldIsNeverSuccess)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old {};
    ::sigaction(SIGCHLD, &ignore, &old);
    FWWrapper w;
    std::vector<std::string> lines;
    int code = 0;
    try {
        w.execCommand(allow(5122), lines);
    } catch (const SystemException& e) {
        code = e.code;
    }
    ::sigaction(SIGCHLD, &old, nullptr);
    EXPECT_EQ(code, FW_UNKNOWN_ERROR);
    EXPECT_EQ(lines, (std::vector<std::string>{"05122 allow ip from any to any\n"}));
}

namespace {
volatile sig_atomic_t g_alarms = 0;
void onAlarm(int) { g_alarms = g_alarms + 1; }
} // namespace

TEST_F(FWWrapperRun, SignalsWithoutRestartDoNotBreakTheWait)
{
    struct sigaction sa {};
    sa.sa_handler = onAlarm;
    sa.sa_flags = 0;  // no SA_RESTART: reads and waits see EINTR
    struct sigaction old {};
    ::sigaction(SIGALRM, &sa, &old);
    struct itimerval every {};
    every.it_interval.tv_usec = 150000;
    every.it_value.tv_usec = 150000;
    ::setitimer(ITIMER_REAL, &every, nullptr);

    inject("sleep 2");
    g_alarms = 0;
    auto t0 = std::chrono::steady_clock::now();
    FWWrapper w;
    std::vector<std::string> lines;
    int status = -1;
    EXPECT_NO_THROW(status = w.execCommand(allow(5122), lines));

    struct itimerval off {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &old, nullptr);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"05122 allow ip from any to any\n"}));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1900));
    EXPECT_GE(g_alarms, 5);
}

TEST_F(FWWrapperRun, RoundTripThroughTheStandIn)
{
    RawRule r(5122);
    r.setAction(std::string("allow"));
    r.isLogging(true);
    r.setProtocol(FWDetailedData::FIELD_OR, "tcp");
    r.setProtocol(FWDetailedData::FIELD_PLAIN, "udp");
    r.setSrcIp(FWDetailedData::FIELD_PLAIN, "10.0.0.0/8");
    r.setDestIp(FWDetailedData::FIELD_PLAIN, "192.168.1.5");
    r.setDestPort(FWDetailedData::FIELD_PLAIN, "80");
    r.setInterface("via", "en0");
    r.setTrafficDirection(FW_DIRECTION_IN);
    FWWrapper w;
    std::vector<std::string> lines;
    ASSERT_EQ(w.execCommand(r, lines), 0);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "05122 allow log { tcp or udp } from { 10.0.0.0/8 } to { 192.168.1.5 } 80 via en0 in\n"}));
    std::vector<uint8_t> state;
    ipfw::readWholeFile(ipfw::kRulesFile, state);
    EXPECT_EQ(state, fixture("roundtrip.bin"));

    std::vector<FWExtDetailedData> rules;
    ASSERT_EQ(w.getFirewallRules(rules), 1);
    ASSERT_EQ(rules.size(), 2u);
    const FWExtDetailedData& got = rules[0];
    EXPECT_EQ(got.getRuleNo(), 5122);
    ASSERT_EQ(got.getProtocolByRef().size(), 2u);
    EXPECT_EQ(got.getProtocolByRef()[0].getProtocol(), "tcp");
    EXPECT_EQ(got.getProtocolByRef()[0].getProtocolFlag(), FWDetailedData::FIELD_OR);
    EXPECT_EQ(got.getProtocolByRef()[1].getProtocol(), "udp");
    EXPECT_EQ(got.getProtocolByRef()[1].getProtocolFlag(), FWDetailedData::FIELD_PLAIN);
    ASSERT_EQ(got.getSrcIpByRef().size(), 1u);
    EXPECT_EQ(got.getSrcIpByRef()[0].getIPAddress(), "10.0.0.0/8");
    ASSERT_EQ(got.getDestIpByRef().size(), 1u);
    EXPECT_EQ(got.getDestIpByRef()[0].getIPAddress(), "192.168.1.5");
    EXPECT_EQ(got.getDestPort(), "80");
    EXPECT_EQ(got.getInterfaceByRef(), (FWDetailedData::InterfaceMap{{"via", "en0"}}));
    EXPECT_EQ(got.getTrafficDirection(), FW_DIRECTION_IN);
    EXPECT_TRUE(got.isLogging());
    EXPECT_EQ(got.getActionAsString(), "allow");
    EXPECT_EQ(rules[1].getRuleNo(), 65535);
    EXPECT_FALSE(rules[1].isLogging());

    // And back out again.
    std::vector<std::string> del;
    EXPECT_EQ(w.execCommand(5122, del), 0);
    rules.clear();
    w.getFirewallRules(rules);
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].getRuleNo(), 65535);
}

TEST_F(FWWrapperRun, StateReadsAsTheRuleListSource)
{
    // 17 rules and the default: 1,224 bytes, so the first offer is too small.
    for (int i = 1; i <= 17; ++i) {
        FWWrapper w;
        std::vector<std::string> lines;
        ASSERT_EQ(w.execCommand(allow(100 * i), lines), 0);
    }
    FWWrapper w;
    std::vector<FWExtDetailedData> rules;
    w.getFirewallRules(rules);
    ASSERT_EQ(rules.size(), 18u);
    EXPECT_EQ(rules[16].getRuleNo(), 1700);
}

TEST_F(FWWrapperRun, SignalsWithoutRestartDoNotBreakTheWaitAfterTheOutput)
{
    // A tool that closes its output first and ends later: the parent is in
    // waitpid when the signals arrive.
    std::string dir = std::string(ipfw::kStateDir) + "/late-exit";
    std::filesystem::create_directories(dir);
    {
        std::ofstream script(dir + "/ipfw");
        script << "#!/bin/sh\necho 05122 closing\nexec >&- 2>&-\nsleep 1\nexit 3\n";
    }
    std::filesystem::permissions(dir + "/ipfw", std::filesystem::perms::owner_all);
    ScopedPath path(dir + ":/usr/bin:/bin");

    struct sigaction sa {};
    sa.sa_handler = onAlarm;
    struct sigaction old {};
    ::sigaction(SIGALRM, &sa, &old);
    struct itimerval every {};
    every.it_interval.tv_usec = 100000;
    every.it_value.tv_usec = 100000;
    ::setitimer(ITIMER_REAL, &every, nullptr);
    g_alarms = 0;
    FWWrapper w;
    std::vector<std::string> lines;
    int status = -1;
    EXPECT_NO_THROW(status = w.execCommand(5122, lines));
    struct itimerval off {};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &old, nullptr);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(lines, (std::vector<std::string>{"05122 closing\n"}));
    EXPECT_GE(g_alarms, 3);
}

namespace {
size_t openDescriptors()
{
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++n;
    }
    return n;
}
} // namespace

TEST_F(FWWrapperRun, FailuresLeaveNoDescriptorOrChildBehind)
{
    const size_t before = openDescriptors();
    auto attempt = [](const std::function<void(FWWrapper&)>& op) {
        FWWrapper w;
        try {
            op(w);
        } catch (const FirewallException&) {
        }
    };
    std::vector<std::string> lines;
    std::vector<FWExtDetailedData> rules;
    attempt([&](FWWrapper& w) { w.execCommand(5122, lines); });  // 69
    inject("signal");
    attempt([&](FWWrapper& w) { w.execCommand(allow(5122), lines); });
    inject("exit 65");
    attempt([&](FWWrapper& w) { w.execCommand(allow(5122), lines); });
    {
        std::string empty = std::string(ipfw::kStateDir) + "/empty-path";
        std::filesystem::create_directories(empty);
        ScopedPath path(empty);
        attempt([&](FWWrapper& w) { w.execCommand(allow(5122), lines); });  // 13055
    }
    {
        ServedList served(fixture("bad_no_default.bin"));
        attempt([&](FWWrapper& w) { w.getFirewallRules(rules); });
    }
    {
        ServedList served(fixture("default.bin"), EIO);
        attempt([&](FWWrapper& w) { w.getFirewallRules(rules); });
    }
    {
        ServedList served(fixture("bad_rule0.bin"));
        attempt([&](FWWrapper& w) { w.getFirewallRules(rules); });
    }
    EXPECT_EQ(openDescriptors(), before);
    int status = 0;
    errno = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);  // every child reaped
    EXPECT_EQ(errno, ECHILD);
}
