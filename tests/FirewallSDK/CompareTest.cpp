// Stored rule against kernel rule, and carrying the store's fields over.
//
// Kernel twins are written out as the kernel reader yields them (logging on,
// "ip" and "any" filled in, "me" for 65532, the keep-state text, direction 0
// when no direction word was sent), never derived from the stored rule.
#include <functional>

#include <gtest/gtest.h>

#include "FWRecords.h"
#include "FWTrace.h"
#include "FwTestSupport.h"

using namespace FirewallSDK;
using Flags = FWDetailedData;
using Rule = FWExtDetailedData;

namespace {

Rule rule(int32_t number, const char* action, FWTrafficDirection direction = FW_DIRECTION_UNSET)
{
    Rule r;
    r.setRuleNo(number);
    r.setAction(std::string(action));
    r.setTrafficDirection(direction);
    return r;
}

// A stored custom rule as the pane makes it: tcp to port 80 from a network.
Rule storedWeb()
{
    Rule r = rule(5122, "allow", FW_DIRECTION_IN);
    r.setRuleName("web");
    r.setRuleCategory(0x10000000u);
    r.setProtocol(FW_PROTOCOL_TCP);
    r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/8");
    r.setSrcIp("10.1.2.3/8");
    r.setDestIp(Flags::FIELD_PLAIN, "me");
    r.setDestIp("me");
    r.setDestPort(Flags::FIELD_PLAIN, "80");
    return r;
}

// Its kernel twin.
Rule kernelWeb()
{
    Rule r = rule(5122, "allow", FW_DIRECTION_IN);
    r.setProtocol(Flags::FIELD_PLAIN, "tcp");
    r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/8");
    r.setDestIp(Flags::FIELD_PLAIN, "me");
    r.setDestPort(Flags::FIELD_PLAIN, "80");
    r.isLogging(true);
    return r;
}

Rule with(Rule r, const std::function<void(Rule&)>& change)
{
    change(r);
    return r;
}

std::string mismatch(const char* what)
{
    return std::string("operator== - Called\noperator== - Rule ") + what + "\n";
}
const std::string EQUAL = "operator== - Called\noperator== - Finished\n";

struct Case {
    const char* name;
    Rule stored;
    Rule kernel;
    bool equal;
    std::string trace;
};

} // namespace

TEST(FWCompareTest, StoredAgainstKernel)
{
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = 5;

    const Case cases[] = {
        {"twins", storedWeb(), kernelWeb(), true, EQUAL},
        {"store-only and kernel-only fields differ", storedWeb(),
         with(kernelWeb(),
              [](Rule& r) {
                  r.setRuleName("other");
                  r.setRuleCategory(0x80000000u);
                  r.setTimeStamp(99);
                  r.setPackCount(5);
                  r.setByteCount(700);
                  r.setSrcIp("somewhere");
                  r.setDestIp("elsewhere");
              }),
         true, EQUAL},
        {"two actions neither allow nor deny", with(storedWeb(), [](Rule& r) { r.setAction(std::string("count")); }),
         with(kernelWeb(), [](Rule& r) { r.setAction(std::string("skipto")); }), true, EQUAL},
        {"rule number", storedWeb(), with(kernelWeb(), [](Rule& r) { r.setRuleNo(5123); }), false,
         mismatch("number does not match")},
        {"rule set", storedWeb(), with(kernelWeb(), [](Rule& r) { r.setRuleSet(3); }), false,
         mismatch("set does not match")},
        {"probability", storedWeb(), with(kernelWeb(), [](Rule& r) { r.setProbability(0.5); }), false,
         mismatch("probability does not match")},
        {"allow against deny", storedWeb(), with(kernelWeb(), [](Rule& r) { r.setAction(FW_ACTION_DENY); }), false,
         mismatch("action does not match")},
        {"log amount", storedWeb(), with(kernelWeb(), [](Rule& r) { r.setLogAmount(10); }), false,
         mismatch("log amount does not match")},
        {"protocol order", with(storedWeb(), [](Rule& r) { r.setProtocol(FW_PROTOCOL_UDP); }),
         with(kernelWeb(),
              [](Rule& r) {
                  r.getProtocolByRef().clear();
                  r.setProtocol(Flags::FIELD_PLAIN, "udp");
                  r.setProtocol(Flags::FIELD_PLAIN, "tcp");
              }),
         false, mismatch("protocol does not match")},
        {"protocol count", storedWeb(), with(kernelWeb(), [](Rule& r) { r.setProtocol(FW_PROTOCOL_UDP); }), false,
         mismatch("protocol count dose not match")},
        {"not source against plain",
         with(storedWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_NOT, "10.0.0.0/8");
              }),
         kernelWeb(), false, mismatch("source ip does not match")},
        {"interface", with(storedWeb(), [](Rule& r) { r.setInterface("recv", "en0"); }), kernelWeb(), false,
         mismatch("network interface count does not match")},
        {"interface name", with(storedWeb(), [](Rule& r) { r.setInterface("recv", "en0"); }),
         with(kernelWeb(), [](Rule& r) { r.setInterface("recv", "en1"); }), false,
         mismatch("network interface does not match")},
        {"in against out", storedWeb(),
         with(kernelWeb(), [](Rule& r) { r.setTrafficDirection(FW_DIRECTION_OUT); }), false,
         mismatch("traffic direction does not match")},
        {"source MAC", storedWeb(), with(kernelWeb(), [](Rule& r) { r.getSrcMacAddr() = "any"; }), false,
         mismatch("sourec MAC addr does not match")},
        {"limit", storedWeb(), with(kernelWeb(), [](Rule& r) { r.getLimit() = "src-addr 5"; }), false,
         mismatch("limit does not match")},

        // Normalised: what the builder adds and the reader fills in.
        {"default allow rule and its kernel twin",
         with(rule(5122, "allow", FW_DIRECTION_BOTH), [](Rule& r) { r.isLogging(false); }),
         with(rule(5122, "allow", FW_DIRECTION_UNSET),
              [](Rule& r) {
                  r.isLogging(true);
                  r.setProtocol(Flags::FIELD_PLAIN, "ip");
                  r.setSrcIp(Flags::FIELD_PLAIN, "any");
                  r.setDestIp(Flags::FIELD_PLAIN, "any");
              }),
         true, EQUAL},
        {"default deny rule in and its kernel twin", rule(65532, "deny", FW_DIRECTION_IN),
         with(rule(65532, "deny", FW_DIRECTION_IN),
              [](Rule& r) {
                  r.setProtocol(Flags::FIELD_PLAIN, "ip");
                  r.setSrcIp(Flags::FIELD_PLAIN, "any");
                  r.setDestIp(Flags::FIELD_PLAIN, "me");
                  r.getKeepState() = "keep-state";
              }),
         true, EQUAL},
        {"default deny rule out and its kernel twin", rule(65532, "deny", FW_DIRECTION_OUT),
         with(rule(65532, "deny", FW_DIRECTION_OUT),
              [](Rule& r) {
                  r.setProtocol(Flags::FIELD_PLAIN, "ip");
                  r.setSrcIp(Flags::FIELD_PLAIN, "me");
                  r.setDestIp(Flags::FIELD_PLAIN, "any");
                  r.getKeepState() = "keep-state";
              }),
         true, EQUAL},
        {"default deny rule against kernel without direction", rule(65532, "deny", FW_DIRECTION_IN),
         with(rule(65532, "deny", FW_DIRECTION_UNSET),
              [](Rule& r) {
                  r.setProtocol(Flags::FIELD_PLAIN, "ip");
                  r.setSrcIp(Flags::FIELD_PLAIN, "any");
                  r.setDestIp(Flags::FIELD_PLAIN, "me");
                  r.getKeepState() = "keep-state";
              }),
         false, mismatch("traffic direction does not match")},
        {"keep-state only added for 65532", storedWeb(),
         with(kernelWeb(), [](Rule& r) { r.getKeepState() = "keep-state"; }), false,
         mismatch("keep state does not match")},
        {"empty source against me", with(storedWeb(), [](Rule& r) { r.getSrcIpByRef().clear(); }),
         with(kernelWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "me");
              }),
         false, mismatch("source ip does not match")},
        {"width 32 is the bare address",
         with(storedWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.1.2.3/32");
              }),
         with(kernelWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.1.2.3");
              }),
         true, EQUAL},
        {"width with leading zero",
         with(storedWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/08");
              }),
         kernelWeb(), true, EQUAL},
        {"address masked by its width",
         with(storedWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.1.2.3/8,0.0.0.0/0,10.1.2.3:255.0.255.0");
              }),
         with(kernelWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/8,any,10.0.2.0:255.0.255.0");
              }),
         true, EQUAL},
        {"different widths",
         with(storedWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/16");
              }),
         kernelWeb(), false, mismatch("source ip does not match")},
        {"address set compared as text",
         with(storedWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/24{1,5-7,9}");
              }),
         with(kernelWeb(),
              [](Rule& r) {
                  r.getSrcIpByRef().clear();
                  r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/24{1,5-7,9}");
              }),
         true, EQUAL},
        {"one-port range", with(storedWeb(), [](Rule& r) { r.getDestPortByRef()[0].getPortNo() = "80-80"; }),
         kernelWeb(), true, EQUAL},
        {"octal item after the first",
         with(storedWeb(), [](Rule& r) { r.getDestPortByRef()[0].getPortNo() = "80,010"; }),
         with(kernelWeb(), [](Rule& r) { r.getDestPortByRef()[0].getPortNo() = "80,8"; }), true, EQUAL},
        {"different ports", with(storedWeb(), [](Rule& r) { r.getDestPortByRef()[0].getPortNo() = "81"; }),
         kernelWeb(), false, mismatch("destination port does not match")},
        {"port list that does not parse", with(storedWeb(), [](Rule& r) { r.getDestPortByRef()[0].getPortNo() = "80,"; }),
         kernelWeb(), false, mismatch("destination port does not match")},
    };

    for (const Case& c : cases) {
        for (bool swapped : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (swapped ? " (swapped)" : ""));
            const Rule& a = swapped ? c.kernel : c.stored;
            const Rule& b = swapped ? c.stored : c.kernel;
            std::vector<std::string> beforeA = fwtest::dumpFields(a);
            std::vector<std::string> beforeB = fwtest::dumpFields(b);
            fwtest::TraceCapture trace;
            EXPECT_EQ(a == b, c.equal);
            EXPECT_EQ(trace.text(), c.trace);
            EXPECT_EQ(fwtest::dumpFields(a), beforeA);
            EXPECT_EQ(fwtest::dumpFields(b), beforeB);
        }
    }
}

TEST(FWCompareTest, SilentBelowLevelFive)
{
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = 4;
    fwtest::TraceCapture trace;
    EXPECT_FALSE(storedWeb() == with(kernelWeb(), [](Rule& r) { r.setRuleNo(1); }));
    EXPECT_EQ(trace.text(), "");
}

namespace {

struct Store {
    std::map<uint16_t, Rule> rules;
    void add(Rule r, const char* name, uint32_t category)
    {
        r.setRuleName(name);
        r.setRuleCategory(category);
        r.setSrcIp(std::string(name) + "-src");
        r.setDestIp(std::string(name) + "-dst");
        rules[static_cast<uint16_t>(r.getRuleNo())] = r;
    }
};

// A stored rule whose category no setter would take (read from a file).
struct ForcedCategory : Rule {
    ForcedCategory(const Rule& r, uint32_t c) : Rule(r) { category = c; }
};

Rule numbered(int32_t n)
{
    return with(kernelWeb(), [n](Rule& r) { r.setRuleNo(n); });
}

} // namespace

TEST(FWMarkRuleTypesTest, MatchedKernelRulesGetTheStoresFields)
{
    Store store;
    store.add(numbered(5122), "a", 0x10000001u);
    store.add(numbered(5123), "b", 0x20000000u);
    store.add(numbered(5124), "c", 0x40000002u);
    std::vector<Rule> kernel{numbered(5122), numbered(5124), numbered(9999)};

    EXPECT_EQ(markRuleTypes(store.rules, kernel), 1);
    struct Want {
        const char* name;
        uint32_t category;
        const char* src;
        const char* dst;
    };
    const Want want[] = {{"a", 0x10000001u, "a-src", "a-dst"}, {"c", 0x40000002u, "c-src", "c-dst"}, {"", 0, "", ""}};
    for (size_t i = 0; i < kernel.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kernel[i].getRuleName(), want[i].name);
        EXPECT_EQ(kernel[i].getRuleCategory(), want[i].category);
        EXPECT_EQ(kernel[i].getSrcIp(), want[i].src);
        EXPECT_EQ(kernel[i].getDestIp(), want[i].dst);
    }
}

TEST(FWMarkRuleTypesTest, TwoIdenticalKernelRulesBothMatch)
{
    Store store;
    store.add(numbered(5122), "a", 0x10000001u);
    store.add(numbered(5130), "z", 0x10000002u);
    std::vector<Rule> kernel{numbered(5122), numbered(5122), numbered(5130)};
    markRuleTypes(store.rules, kernel);
    EXPECT_EQ(kernel[0].getRuleName(), "a");
    EXPECT_EQ(kernel[1].getRuleName(), "a");
    EXPECT_EQ(kernel[1].getRuleCategory(), 0x10000001u);
    EXPECT_EQ(kernel[2].getRuleName(), "z");
}

TEST(FWMarkRuleTypesTest, EmptyStoreChangesNothing)
{
    std::map<uint16_t, Rule> empty;
    std::vector<Rule> kernel{numbered(5122), numbered(65535)};
    std::vector<std::string> before = fwtest::dumpFields(kernel);
    EXPECT_EQ(markRuleTypes(empty, kernel), 1);
    EXPECT_EQ(fwtest::dumpFields(kernel), before);
}

TEST(FWMarkRuleTypesTest, BadStoredCategoryDoesNotStopTheListing)
{
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = 3;
    Store store;
    store.add(numbered(5122), "bad", 0x10000000u);
    store.rules[5122] = ForcedCategory(store.rules[5122], 0x5u);
    store.add(numbered(5124), "good", 0x80000001u);
    std::vector<Rule> kernel{numbered(5122), numbered(5124)};

    fwtest::TraceCapture trace;
    int result = 0;
    EXPECT_NO_THROW(result = markRuleTypes(store.rules, kernel));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(kernel[0].getRuleCategory(), 0u);
    EXPECT_EQ(kernel[0].getRuleName(), "bad");
    EXPECT_EQ(kernel[0].getSrcIp(), "bad-src");
    EXPECT_EQ(kernel[0].getDestIp(), "bad-dst");
    EXPECT_EQ(kernel[1].getRuleCategory(), 0x80000001u);
    EXPECT_EQ(kernel[1].getRuleName(), "good");
    EXPECT_EQ(trace.text(), "markRuleTypes - Invalid category 5 for rule # 5122\n");
}

TEST(FWMarkRuleTypesTest, TraceOfAWalk)
{
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = 5;
    Store store;
    store.add(numbered(5122), "a", 0x10000001u);
    std::vector<Rule> kernel{numbered(5122)};
    fwtest::TraceCapture trace;
    markRuleTypes(store.rules, kernel);
    EXPECT_EQ(trace.text(), "markRuleTypes - Called\n"
                            "markRuleTypes - ipfw rule # 5122 : stored rule # 5122\n"
                            "operator== - Called\n"
                            "operator== - Finished\n"
                            "markRuleTypes - Match found for rule # 5122\n"
                            "markRuleTypes - Finished\n");
}
