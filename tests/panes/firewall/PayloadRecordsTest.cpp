// The firewall pane's payloads as they go on the wire: the records written
// through the command envelope (boost's wide text archive with the
// byte-wise facet, still open) and the service's rule-query reply read back
// with the bounded reader.
#include <map>
#include <string>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "CommandData.h"
#include "FWRecords.h"
#include "FWServiceRecords.h"

using FirewallSDK::FWBasicData;
using FirewallSDK::FWDetailedData;
using HVO::PayloadAccess;

namespace {

const std::wstring kHeader = L"22 serialization::archive 18 ";

template <class T> std::wstring payloadText(int commandId, T value)
{
    HVO::CommandData command(commandId, FIREWALL_SERVICE_HVK_ID, false);
    command.setCustomData(value);
    return PayloadAccess::outputText(command);
}

FWService::TrustedList oneGroup(const std::wstring& name, std::vector<std::string> addresses)
{
    FWService::TrustedList list;
    FWService::TrustedGroupInfo& g = list.getTrustedList()[name];
    for (auto& a : addresses)
        g.setMachineAddr(a);
    return list;
}

/// The rule editor's "web": tcp, incoming, me -> any, destination port 80.
FWDetailedData webRule()
{
    FWDetailedData r;
    r.setRuleName("web");
    r.setAction(FirewallSDK::FW_ACTION_ALLOW);
    r.setTrafficDirection(FirewallSDK::FW_DIRECTION_IN);
    r.setRuleCategory(FirewallSDK::FW_CUSTOM_RULE_CATEGORY);
    r.setProtocol(FWDetailedData::FIELD_PLAIN, "tcp");
    r.setSrcIp("me");
    r.setSrcPort(FWDetailedData::FIELD_PLAIN, "");
    r.setDestIp("any");
    r.setDestPort(FWDetailedData::FIELD_PLAIN, "80");
    return r;
}

TEST(FirewallPayloads, TextsAfterTheHeader)
{
    FWService::FWOptionalData deny;
    deny.isLogging(1);
    deny.setBasicRuleOpt(FWService::BASIC_RULE_DENY_OUTBOUND);
    std::map<std::wstring, bool> uncheck{{L"Office", false}};
    std::map<std::wstring, std::vector<std::wstring>> address{{L"Office", {L"10.1.1.1"}}};

    struct Case {
        const char* what;
        std::wstring text;
        std::wstring want;
    } cases[] = {
        {"10209 deny, outbound only, logging on", payloadText(10209, deny), L"0 0 1 0 0 2"},
        {"10207 move 5123 above 5122", payloadText(10207, std::vector<int>{5123, 5122}), L"2 0 5123 5122"},
        {"10215 a new group Office", payloadText(10215, oneGroup(L"Office", {})),
         L"0 0 0 0 1 0 0 0 6 Office 0 0 0 1 0 0 0 0 0"},
        {"10213 uncheck Office", payloadText(10213, uncheck), L"0 0 1 0 0 0 6 Office 0"},
        {"10214 Office's address", payloadText(10214, address), L"0 0 1 0 0 0 6 Office 0 0 1 0 8 10.1.1.1"},
        {"10216 delete Office", payloadText(10216, std::vector<std::wstring>{L"Office"}), L"0 0 1 0 6 Office"},
        {"10211 new rule web", payloadText(10211, webRule()),
         L"0 0 5122 3 web 5 allow 2 268435456 0 0 1 0 0 0 0 3 tcp 0 0 0 0 2 me 0 0 1 0 0 0 0 0  0 0 3 any 1 0 0 2 "
         L"80 1 0 0 0 0 0 0 -1 0 0 0 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(kHeader + c.want, c.text);
    }
}

TEST(FirewallPayloads, GroupAddressesAndNamesKeepTheirBytes)
{
    // A UTF-8 address crosses byte by byte; a wide name as its characters.
    std::wstring text = payloadText(10215, oneGroup(L"Caf\u00e9", {"h\xC3\xA9te"}));
    EXPECT_EQ(kHeader + L"0 0 0 0 1 0 0 0 4 Caf\u00e9 0 0 0 1 0 0 0 1 0 5 h\u00c3\u00a9te", text);

    HVO::CommandResult back;
    PayloadAccess::setInput(back, text);
    FWService::TrustedList list;
    back.getCustomData(list);
    ASSERT_EQ(1u, list.getTrustedList().count(L"Caf\u00e9"));
    const auto& g = list.getTrustedList().at(L"Caf\u00e9");
    EXPECT_EQ(std::vector<std::string>{"h\xC3\xA9te"}, g.getMachineAddr());
    EXPECT_TRUE(g.isGroupEnable());
    EXPECT_FALSE(g.isReadOnly());
}

TEST(FirewallPayloads, RuleQueryReply)
{
    // Logging on, stealth off, block-unknown on, deny inbound; two rows.
    const std::wstring reply = kHeader + L"0 0 0 0 1 0 1 1 0 0 2 0 0 0 5002 0  5 allow 0 268435457 5122 5 Caf"
                                         L"\u00c3\u00a9 5 allow 2 268435456";
    HVO::CommandResult result;
    PayloadAccess::setInput(result, reply);
    FWService::CompleteFWData data;
    result.getCustomData(data);

    const FWService::FWOptionalData& o = data.getOptions();
    EXPECT_EQ(1, o.isLogging());
    EXPECT_FALSE(o.isStealth());
    EXPECT_TRUE(o.isUnknownTrafficBlocked());
    EXPECT_EQ(FWService::BASIC_RULE_DENY_INBOUND, o.getBasicRuleOpt());

    struct Row {
        int number;
        std::string name, action;
        int direction;
        uint32_t category;
    } want[] = {{5002, "", "allow", 0, 0x10000001u}, {5122, "Caf\xC3\xA9", "allow", 2, 0x10000000u}};
    ASSERT_EQ(2u, data.getRules().size());
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const FWBasicData& r = data.getRules()[i];
        EXPECT_EQ(want[i].number, r.getRuleNo());
        EXPECT_EQ(want[i].name, r.getRuleName());
        EXPECT_EQ(want[i].action, r.getActionAsString());
        EXPECT_EQ(want[i].direction, r.getTrafficDirection());
        EXPECT_EQ(want[i].category, r.getRuleCategory());
    }

    // Written back by the service's side, the same text.
    HVO::CommandResult answer;
    answer.setCustomData(data);
    EXPECT_EQ(reply, PayloadAccess::outputText(answer));
}

TEST(FirewallPayloads, DefaultsAndAnEmptyTable)
{
    FWService::FWOptionalData o;
    EXPECT_EQ(0, o.isLogging());
    EXPECT_FALSE(o.isStealth());
    EXPECT_FALSE(o.isUnknownTrafficBlocked());
    EXPECT_EQ(FWService::BASIC_RULE_CUSTOM, o.getBasicRuleOpt());

    FWService::CompleteFWData empty;
    HVO::CommandResult answer;
    answer.setCustomData(empty);
    HVO::CommandResult result;
    PayloadAccess::setInput(result, PayloadAccess::outputText(answer));
    FWService::CompleteFWData back;
    back.getRules().resize(3);
    result.getCustomData(back);
    EXPECT_TRUE(back.getRules().empty());
    EXPECT_EQ(FWService::BASIC_RULE_CUSTOM, back.getOptions().getBasicRuleOpt());
}

} // namespace
