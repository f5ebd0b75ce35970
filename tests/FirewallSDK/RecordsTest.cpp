// Rule records: defaults, validating setters, copies.
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "FWRecords.h"
#include "FwTestSupport.h"

using namespace FirewallSDK;
using Flags = FWDetailedData;

namespace {

/// Runs f, expects a FirewallException with the code, and the record's fields
/// exactly as before.
template <class Record, class F>
void expectRefused(Record& r, FWErrorCode code, F f)
{
    std::vector<std::string> before = fwtest::dumpFields(r);
    try {
        f();
        ADD_FAILURE() << "no exception";
    } catch (const FirewallException& e) {
        EXPECT_EQ(e.code, code);
        EXPECT_EQ(e.getErrorMsg(), fwErrorText(code));
    }
    EXPECT_EQ(fwtest::dumpFields(r), before);
}

} // namespace

TEST(FWRecordsTest, DefaultDetailedData)
{
    FWDetailedData r;
    EXPECT_EQ(r.getRuleNo(), 5122);
    EXPECT_EQ(r.getRuleName(), "");
    EXPECT_EQ(r.getActionAsString(), "");
    EXPECT_EQ(r.getTrafficDirection(), 0);
    EXPECT_EQ(r.getRuleCategory(), 0u);
    EXPECT_EQ(r.getAction(), 0);
    EXPECT_TRUE(r.isLogging());
    EXPECT_TRUE(r.getProtocolByRef().empty());
    EXPECT_TRUE(r.getSrcIpByRef().empty());
    EXPECT_TRUE(r.getDestPortByRef().empty());
    EXPECT_TRUE(r.getInterfaceByRef().empty());
    EXPECT_EQ(r.getSrcIp(), "");
    EXPECT_EQ(fwtest::dumpFields(NetworkInterfaceInfo()), (std::vector<std::string>{"-1", "list 0"}));
    // The last two fields of the record are the interface information.
    std::vector<std::string> fields = fwtest::dumpFields(r);
    ASSERT_GE(fields.size(), 2u);
    EXPECT_EQ(fields[fields.size() - 2], "-1");
}

TEST(FWRecordsTest, RuleNumberSetters)
{
    FWBasicData r;
    r.setRuleNo(70000);
    EXPECT_EQ(r.getRuleNo(), 70000);
    for (int bad : {0, -3}) {
        SCOPED_TRACE(bad);
        expectRefused(r, FW_INVALID_RULE_NUMBER_FOR_SETTING, [&] { r.setRuleNo(bad); });
    }

    struct Case {
        const char* text;
        int32_t stored; // 0: refused
    };
    const Case cases[] = {
        {"65534", 65534}, {"12abc", 12}, {" 7", 7},       {"1", 1},
        {"65535", 0},     {"0", 0},      {"-5", 0},       {"", 0},
        {"4294967297", 0}, {"4294967296", 0}, {"abc", 0}, {"99999999999999999999999", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        FWDetailedData d;
        d.setRuleNo(4000);
        if (c.stored) {
            d.setRuleNoAsString(c.text);
            EXPECT_EQ(d.getRuleNo(), c.stored);
        } else {
            expectRefused(d, FW_INVALID_RULE_NUMBER_FOR_SETTING, [&] { d.setRuleNoAsString(c.text); });
        }
    }
}

TEST(FWRecordsTest, NumberTextsAreUnsignedDecimal)
{
    FWExtDetailedData r;
    r.setRuleNo(1000000000);
    EXPECT_EQ(r.getRuleNoAsString(), "1000000000");
    r.setRuleNo(2147483647);
    EXPECT_EQ(r.getRuleNoAsString(), "2147483647");
    r.setRuleSet(255);
    EXPECT_EQ(r.getRuleSetNoAsString(), "255");
    r.setActionOptPort(65535);
    EXPECT_EQ(r.getActionOptPortAsString(), "65535");
}

TEST(FWRecordsTest, CategorySetter)
{
    struct Case {
        uint32_t value;
        bool stored;
    };
    const Case cases[] = {
        {0x10000001u, true}, {0x80000000u, true}, {0x2000ffffu, true}, {0x40000000u, true},
        {0x30000000u, false}, {1u, false}, {0x10010000u, false}, {0x1001ffffu, false}, {0u, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        FWBasicData r;
        r.setRuleCategory(0x20000002u);
        if (c.stored) {
            r.setRuleCategory(c.value);
            EXPECT_EQ(r.getRuleCategory(), c.value);
        } else {
            FWDetailedData d;
            d.setRuleCategory(0x20000002u);
            expectRefused(d, FW_INVALID_CATEGORY_FOR_SETTING, [&] { d.setRuleCategory(c.value); });
            EXPECT_EQ(d.getRuleCategory(), 0x20000002u);
        }
    }
}

TEST(FWRecordsTest, ActionSetters)
{
    FWDetailedData r;
    r.setAction(FW_ACTION_DENY);
    EXPECT_EQ(r.getActionAsString(), "deny");
    EXPECT_EQ(r.getAction(), FW_ACTION_DENY);
    for (int bad : {0, 3, -1}) {
        SCOPED_TRACE(bad);
        expectRefused(r, FW_INVALID_ACTION_FOR_SETTING, [&] { r.setAction(static_cast<FWAction>(bad)); });
    }
    struct Case {
        const char* text;
        FWAction code;
    };
    const Case cases[] = {{"allow", FW_ACTION_ALLOW}, {"deny", FW_ACTION_DENY}, {"Allow", FW_ACTION_UNKNOWN},
                          {"count", FW_ACTION_UNKNOWN}, {"allow ", FW_ACTION_UNKNOWN}, {"", FW_ACTION_UNKNOWN}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        r.setAction(std::string(c.text));
        EXPECT_EQ(r.getActionAsString(), c.text);
        EXPECT_EQ(r.getAction(), c.code);
    }
}

TEST(FWRecordsTest, ProtocolSetters)
{
    FWDetailedData r;
    for (int bad : {0, 6, -1}) {
        SCOPED_TRACE(bad);
        expectRefused(r, FW_UNKNOWN_PROTOCOL_FOR_SETTING, [&] { r.setProtocol(static_cast<FWProtocol>(bad)); });
    }
    expectRefused(r, FW_INVALID_PROTOCOL_FOR_SETTING, [&] { r.setProtocol(Flags::FIELD_NOT, ""); });

    const char* names[] = {"ip", "tcp", "udp", "icmp", "igmp"};
    for (int p = 1; p <= 5; ++p) {
        FWDetailedData one;
        one.setProtocol(static_cast<FWProtocol>(p));
        ASSERT_EQ(one.getProtocolByRef().size(), 1u);
        EXPECT_EQ(one.getProtocolByRef()[0].getProtocolFlag(), Flags::FIELD_PLAIN);
        EXPECT_EQ(one.getProtocolByRef()[0].getProtocol(), names[p - 1]);
    }
    r.setProtocol(Flags::FIELD_OR, "anything at all");
    EXPECT_EQ(r.getProtocolByRef().back().getProtocolFlag(), Flags::FIELD_OR);
}

TEST(FWRecordsTest, InterfaceKeepsFirstName)
{
    FWDetailedData r;
    r.setInterface("recv", "en0");
    r.setInterface("recv", "en1");
    r.setInterface("xmit", "en2");
    EXPECT_EQ(r.getInterfaceByRef(), (FWDetailedData::InterfaceMap{{"recv", "en0"}, {"xmit", "en2"}}));
}

TEST(FWRecordsTest, FirstPortText)
{
    FWDetailedData r;
    EXPECT_EQ(r.getSrcPort(), "");
    r.setSrcPort(Flags::FIELD_PLAIN, "");
    r.setSrcPort(Flags::FIELD_PLAIN, "80");
    EXPECT_EQ(r.getSrcPort(), "");
    r.setDestPort(Flags::FIELD_NOT, "443");
    r.setDestPort(Flags::FIELD_PLAIN, "80");
    EXPECT_EQ(r.getDestPort(), "443");
}

TEST(FWRecordsTest, CopiesShareNothing)
{
    FWExtDetailedData a;
    a.setProtocol(FW_PROTOCOL_TCP);
    a.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.1");
    a.setInterface("via", "en0");
    a.getKeepState() = "keep-state";
    std::vector<std::string> before = fwtest::dumpFields(a);

    FWExtDetailedData b = a;
    EXPECT_EQ(fwtest::dumpFields(b), before);
    b.getProtocolByRef()[0].getProtocol() = "udp";
    b.getSrcIpByRef().clear();
    b.getInterfaceByRef()["via"] = "en9";
    b.getKeepState() = "";
    FWExtDetailedData c;
    c = b;
    c.setDestIp(Flags::FIELD_PLAIN, "me");
    EXPECT_EQ(fwtest::dumpFields(a), before);
    EXPECT_NE(fwtest::dumpFields(b), fwtest::dumpFields(c));
}

TEST(FWRecordsTest, DumpBasicData)
{
    FWBasicData r;
    r.setRuleName("web");
    r.setAction(FW_ACTION_ALLOW);
    r.setTrafficDirection(FW_DIRECTION_IN);
    r.setRuleCategory(0x10000000u);
    std::ostringstream out;
    std::streambuf* saved = std::cout.rdbuf(out.rdbuf());
    r.DumpBasicData();
    std::cout.rdbuf(saved);
    EXPECT_EQ(out.str(), "------- FWBasicData -------\n[ 5122 web allow 2 268435456]\n");
}
