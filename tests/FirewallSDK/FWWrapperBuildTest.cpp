// The ipfw add and delete argument lists.
#include "FWWrapperTestSupport.h"

#include <cstdio>

#include "FWTrace.h"

extern FILE* logFilePtr;
extern int traceInited;

using namespace FirewallSDK;
using namespace fwwtest;

namespace {

using Args = std::vector<std::string>;

RawRule filterRule(FWTrafficDirection d)
{
    RawRule r(65532);
    r.setAction(std::string("deny"));
    r.isLogging(true);
    r.setProtocol(FWDetailedData::FIELD_PLAIN, "ip");
    r.setTrafficDirection(d);
    return r;
}

RawRule allowRule(int number = 5122)
{
    RawRule r(number);
    r.setAction(std::string("allow"));
    r.isLogging(false);
    return r;
}

} // namespace

TEST(FWWrapperBuild, AddArgumentsFollowTheRecord)
{
    struct Case {
        const char* name;
        FWExtDetailedData rule;
        Args args;
    };
    std::vector<Case> cases;
    cases.push_back({"filter rule incoming", filterRule(FW_DIRECTION_IN),
                     {"ipfw", "add", "65532", "deny", "log", "{", "ip", "}", "from", "any", "to", "me", "in",
                      "keep-state"}});
    cases.push_back({"filter rule outgoing", filterRule(FW_DIRECTION_OUT),
                     {"ipfw", "add", "65532", "deny", "log", "{", "ip", "}", "from", "me", "to", "any", "out",
                      "keep-state"}});
    cases.push_back({"filter rule unset", filterRule(FW_DIRECTION_UNSET),
                     {"ipfw", "add", "65532", "deny", "log", "{", "ip", "}", "from", "any", "to", "any"}});
    cases.push_back({"filter rule both", filterRule(FW_DIRECTION_BOTH),
                     {"ipfw", "add", "65532", "deny", "log", "{", "ip", "}", "from", "any", "to", "any"}});
    cases.push_back({"rule 0", allowRule(0), {"ipfw", "add", "allow", "all", "from", "any", "to", "any"}});
    {
        RawRule r = allowRule();
        r.setProtocol(FWDetailedData::FIELD_OR, "tcp");
        r.setProtocol(FWDetailedData::FIELD_PLAIN, "udp");
        cases.push_back({"tcp or udp", r,
                         {"ipfw", "add", "5122", "allow", "{", "tcp", "or", "udp", "}", "from", "any", "to", "any"}});
    }
    {
        RawRule r = allowRule();
        r.setProtocol(FWDetailedData::FIELD_NOT, "icmp");
        r.setProtocol(static_cast<FWDetailedData::FieldFlags>(7), "igmp");  // unusable flag: dropped
        r.setSrcIp(FWDetailedData::FIELD_NOT, "10.0.0.1");
        r.setSrcIp(static_cast<FWDetailedData::FieldFlags>(9), "10.0.0.2");
        r.setDestIp(FWDetailedData::FIELD_OR, "10.1.0.0/16");
        r.setDestIp(FWDetailedData::FIELD_PLAIN, "me");
        r.setDestPort(FWDetailedData::FIELD_PLAIN, "80");
        r.setDestPort(FWDetailedData::FIELD_OR, "443");
        r.setDestPort(FWDetailedData::FIELD_NOT, "22");
        cases.push_back({"flags", r,
                         {"ipfw", "add", "5122", "allow", "{", "not", "icmp", "}", "from", "{", "not", "10.0.0.1", "}",
                          "to", "{", "10.1.0.0/16", "or", "me", "}", "80", "not", "22"}});
    }
    {
        RawRule r = allowRule();
        r.setSrcPort(FWDetailedData::FIELD_PLAIN, "");
        r.setSrcPort(FWDetailedData::FIELD_PLAIN, "80");
        cases.push_back({"first port empty", r, {"ipfw", "add", "5122", "allow", "all", "from", "any", "to", "any"}});
    }
    {
        RawRule r = allowRule();
        r.setAction(std::string("divert"));
        r.setActionOptPort(8668);
        cases.push_back({"divert", r, {"ipfw", "add", "5122", "divert", "8668", "all", "from", "any", "to", "any"}});
    }
    {
        RawRule r = allowRule();
        r.setAction(std::string("fwd"));
        r.setActionOptIp("10.0.0.1");
        cases.push_back({"fwd without port", r,
                         {"ipfw", "add", "5122", "fwd", "10.0.0.1", "0", "all", "from", "any", "to", "any"}});
        RawRule noAddr = allowRule();
        noAddr.setAction(std::string("forward"));
        noAddr.setActionOptPort(80);
        cases.push_back({"forward without address", noAddr,
                         {"ipfw", "add", "5122", "forward", "all", "from", "any", "to", "any"}});
    }
    {
        RawRule r = allowRule();
        r.setAction(std::string("unreach"));
        r.setActionOpt("port");
        cases.push_back({"unreach port", r,
                         {"ipfw", "add", "5122", "unreach", "port", "all", "from", "any", "to", "any"}});
        RawRule empty = allowRule();
        empty.setAction(std::string("unreach"));
        cases.push_back({"unreach empty", empty,
                         {"ipfw", "add", "5122", "unreach", "", "all", "from", "any", "to", "any"}});
    }
    {
        RawRule r = allowRule();
        r.setRuleSet(5);
        cases.push_back({"set 5", r, {"ipfw", "add", "5122", "5", "allow", "all", "from", "any", "to", "any"}});
    }
    {
        RawRule r = allowRule();
        r.setTrafficDirection(FW_DIRECTION_BOTH);
        r.getIcmpType() = "0,3,8";
        r.setInterface("via", "en0");
        r.setInterface("recv", "en1");
        cases.push_back({"interfaces, both, icmptypes", r,
                         {"ipfw", "add", "5122", "allow", "all", "from", "any", "to", "any", "recv", "en1", "via",
                          "en0", "icmptypes", "0,3,8"}});
    }
    {
        RawRule r = allowRule();
        r.setTrafficDirection(FW_DIRECTION_IN);
        cases.push_back({"in without keep-state", r,
                         {"ipfw", "add", "5122", "allow", "all", "from", "any", "to", "any", "in"}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FWWrapper::buildAddArgs(c.rule), c.args);
    }
    EXPECT_EQ(FWWrapper::buildDeleteArgs(5122), (Args{"ipfw", "delete", "5122"}));
}

TEST(FWWrapperBuild, ArgvReachesTheProgramExactly)
{
    RecordingIpfw rec;
    ScopedPath path(rec.dir() + ":/usr/bin:/bin");
    struct Case {
        const char* name;
        FWExtDetailedData rule;
    };
    RawRule unreach = allowRule();
    unreach.setAction(std::string("unreach"));
    unreach.setRuleSet(5);
    RawRule fwd = allowRule(0);
    fwd.setAction(std::string("fwd"));
    fwd.setActionOptIp("10.0.0.1");
    const Case cases[] = {
        {"filter rule incoming", filterRule(FW_DIRECTION_IN)},
        {"unreach empty, set 5", unreach},
        {"rule 0, fwd", fwd},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FWWrapper w;
        std::vector<std::string> lines;
        EXPECT_EQ(w.execCommand(c.rule, lines), 0);
        EXPECT_EQ(rec.argv(), FWWrapper::buildAddArgs(c.rule));
        EXPECT_EQ(lines, (std::vector<std::string>{"05122 recorded\n"}));
    }
    FWWrapper w;
    std::vector<std::string> lines;
    EXPECT_EQ(w.execCommand(65534, lines), 0);
    EXPECT_EQ(rec.argv(), (Args{"ipfw", "delete", "65534"}));
}

TEST(FWWrapperBuild, EmptyActionThrowsAndStartsNothing)
{
    RecordingIpfw rec;
    ScopedPath path(rec.dir() + ":/usr/bin:/bin");
    RawRule r = allowRule();
    r.setAction(std::string(""));
    FWWrapper w;
    std::vector<std::string> lines{"kept"};
    try {
        w.execCommand(r, lines);
        FAIL() << "no exception";
    } catch (const FirewallWrapperException& e) {
        EXPECT_EQ(e.code, FW_UNKNOWN_ACTION_REQUESTED);
        EXPECT_EQ(e.getErrorMsg(), "Unknown action requested");
    }
    EXPECT_FALSE(rec.ran());
    EXPECT_EQ(lines, (std::vector<std::string>{"kept"}));
}

TEST(FWWrapperBuild, AddTracesItsArgumentsByLevel)
{
    RecordingIpfw rec;
    ScopedPath path(rec.dir() + ":/usr/bin:/bin");
    FILE* oldFile = logFilePtr;
    int oldInited = traceInited;
    int oldLevel = fwCommandFlowvalue;
    // The trace stream is wide-oriented once written: read it back through
    // its descriptor.
    auto traced = [&](int level) {
        FILE* trace = std::tmpfile();
        logFilePtr = trace;
        traceInited = 1;
        fwCommandFlowvalue = level;
        {
            FWWrapper w;
            std::vector<std::string> lines;
            w.execCommand(filterRule(FW_DIRECTION_IN), lines);
        }
        std::fflush(trace);
        std::string text;
        char buf[4096];
        ssize_t n;
        off_t off = 0;
        while ((n = ::pread(::fileno(trace), buf, sizeof buf, off)) > 0) {
            text.append(buf, static_cast<size_t>(n));
            off += n;
        }
        logFilePtr = oldFile;
        traceInited = oldInited;
        fwCommandFlowvalue = oldLevel;
        std::fclose(trace);
        return text;
    };
    std::string one = traced(1);
    std::string three = traced(3);

    EXPECT_NE(one.find("popen ---- ipfw tokens ----\n"), std::string::npos) << one;
    EXPECT_EQ(one.find(" .add. \n"), std::string::npos) << one;
    EXPECT_NE(three.find("popen ---- ipfw tokens ----\n .ipfw. \n .add. \n .65532. \n .deny. \n"), std::string::npos)
        << three;
    EXPECT_NE(three.find(" .keep-state. \n"), std::string::npos);
    EXPECT_EQ(three.find("popen - Executing chield process"), std::string::npos);  // level 4
}
