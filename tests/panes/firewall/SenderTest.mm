// The pane's commands on the in-process hub, the test peer playing the
// firewall service: payload texts, replies, return values and log lines.
#import <Foundation/Foundation.h>

#include <map>
#include <string>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#import "FWPSend.h"
#include "FWRecords.h"
#include "FWServiceRecords.h"
#include "HVOCommBroker.h"
#import "NSString+FWPaneWchar.h"
#import "PaneSupport.h"

using fwptest::FakeService;
using fwptest::LogCapture;
using fwptest::kHeader;

namespace {

using Lines = std::vector<std::string>;

struct Pool {
    Pool() { pool = [[NSAutoreleasePool alloc] init]; }
    ~Pool() { [pool release]; }
    NSAutoreleasePool *pool;
};

TEST(FirewallSenders, CompleteFunctions)
{
    Pool pool;
    FakeService service;
    service.answer(10201, true);
    struct Case {
        const char *what;
        std::function<int()> call;
        int want;
        int id;
        std::wstring payload;
        Lines log;
    } cases[] = {
        {"switch on", [] { return SetStatusForGeneralPreference(1); }, 0, 10200, L"1", {"status successfulyy set"}},
        {"status", [] { return GetStatusForGeneralPreferences(); }, 1, 10201, L"", {"Enabled"}},
        {"swap", [] { return SwapFWRule(5123, 5122); }, 0, 10207, L"2 0 5123 5122", {}},
        {"delete rules",
         [] { return DeleteFWRule([NSArray arrayWithObjects:[NSNumber numberWithInt:5122], [NSNumber numberWithInt:5002], nil]); }, 0, 10208,
         L"2 0 5122 5002", {}},
        {"delete a group", [] { return DeleteTrustedList([NSArray arrayWithObject:@"Office"]); }, 0, 10216, L"0 0 1 0 6 Office", {}},
        {"delete a group named in UTF-8", [] { return DeleteTrustedList([NSArray arrayWithObjects:fwptest::ns("Caf\xC3\xA9"), [NSNull null], nil]); },
         0, 10216, L"0 0 1 0 4 Caf\u00e9", {}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        service.clear();
        LogCapture log;
        EXPECT_EQ(c.want, c.call());
        EXPECT_EQ(std::vector<int>{c.id}, service.ids());
        if (!c.payload.empty()) {
            EXPECT_EQ(kHeader + c.payload, service.text(c.id));
        }
        EXPECT_EQ(c.log, log.lines());
    }
}

TEST(FirewallSenders, NoHubSendsNothing)
{
    Pool pool;
    FakeService service;
    service.peer.setHubReachable(false);
    struct Case {
        const char *what;
        std::function<int()> call;
        int want;
    } cases[] = {
        {"SetStatusForGeneralPreference", [] { return SetStatusForGeneralPreference(0); }, -1},
        {"GetStatusForGeneralPreferences", [] { return GetStatusForGeneralPreferences(); }, 0},
        {"SwapFWRule", [] { return SwapFWRule(1, 2); }, -1},
        {"DeleteFWRule", [] { return DeleteFWRule([NSArray array]); }, -1},
        {"DeleteTrustedList", [] { return DeleteTrustedList([NSArray arrayWithObject:@"x"]); }, -1},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.want, c.call());
    }
    for (int f = FWP_SET_STATUS; f <= FWP_DELETE_TRUSTED; ++f) {
        SCOPED_TRACE(f);
        int want = FWPRow(FWPFunction(f)).failureValue;
        EXPECT_EQ(want, FWPSend(FWPFunction(f), nullptr, [](HVO::CommandResult &) { ADD_FAILURE() << "applied"; }));
    }
    service.peer.setHubReachable(true);
    EXPECT_TRUE(service.ids().empty());
}

/// Every function's command, what a failed reply returns and what it logs.
TEST(FirewallSenders, FailedRepliesPerFunction)
{
    Pool pool;
    FakeService service;
    const int code13052 = 13052, code0 = 0;
    struct Case {
        FWPFunction f;
        int id;
        const int *code; // the failed reply's int, if any
        int want;
        Lines log;
    } cases[] = {
        {FWP_SET_STATUS, 10200, nullptr, -1, {"status was not set"}},
        {FWP_GET_STATUS, 10201, nullptr, 0, {"Firewall : Get status Command failed."}},
        {FWP_GET_INTERFACES, 10204, nullptr, -1, {"Firewall : GetNetworkInterfaceList command failed"}},
        {FWP_GET_ALL_RULES, 10205, nullptr, -1, {"Firewall : Unable to execute GetRuleDetailForFWPrefs() Command !"}},
        {FWP_GET_BASIC_PREFS, 10205, nullptr, -1, {"Firewall : Command Failed"}},
        {FWP_GET_DETAILED_RULE, 10206, nullptr, -1, {"Firewall : GetDetailedRuleForCustomView() 5123 command failed"}},
        {FWP_SWAP_RULES, 10207, nullptr, -1, {"SwapCustomRule Command Failed"}},
        {FWP_DELETE_RULES, 10208, nullptr, -1, {"Delete command Failed"}},
        {FWP_SET_BASIC_PREFS, 10209, &code13052, -1,
         {"Firewall : SetRulesforFirewallPrefsAndOnClickAdvanced command failed"}},
        {FWP_MODIFY_RULE, 10210, &code13052, 13052, {"set modified deatailed rule failed"}},
        {FWP_MODIFY_RULE, 10210, nullptr, -1, {"set modified deatailed rule failed"}},
        {FWP_MODIFY_RULE, 10210, &code0, -1, {"set modified deatailed rule failed"}},
        {FWP_ADD_RULE, 10211, &code13052, 13052, {"SetRulesForFirewallPrefs command with error"}},
        {FWP_ADD_RULE, 10211, nullptr, -1, {"SetRulesForFirewallPrefs command with error"}},
        {FWP_ADD_RULE, 10211, &code0, -1, {"SetRulesForFirewallPrefs command with error"}},
        {FWP_CHANGE_RULE_DETAIL, 10206, nullptr, -1, {}},
        {FWP_CHANGE_RULE, 10210, &code13052, 13052, {"set modified deatailed rule failed"}},
        {FWP_GET_TRUSTED, 10212, nullptr, -1, {"Firewall : Get trusted list Commad Failed"}},
        {FWP_ENABLE_TRUSTED, 10213, nullptr, -1, {"firewall : EnableTrustedList comand failed"}},
        {FWP_MODIFY_TRUSTED, 10214, &code13052, 13052, {"firewall : ModifyTrustedList comand failed"}},
        {FWP_MODIFY_TRUSTED, 10214, nullptr, -1, {"firewall : ModifyTrustedList comand failed"}},
        {FWP_SET_TRUSTED, 10215, &code13052, 13052, {"firewall : SetTrustedList comand failed"}},
        {FWP_SET_TRUSTED, 10215, &code0, -1, {"firewall : SetTrustedList comand failed"}},
        {FWP_DELETE_TRUSTED, 10216, nullptr, -1, {"firewall : DeleteTrustedList comand failed"}},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.id);
        service.clear();
        service.fail(c.id, c.code);
        LogCapture log;
        bool applied = false;
        EXPECT_EQ(c.want, FWPSend(c.f, nullptr, [&](HVO::CommandResult &) { applied = true; }, 5123));
        EXPECT_FALSE(applied);
        EXPECT_EQ(std::vector<int>{c.id}, service.ids());
        EXPECT_EQ(c.log, log.lines());
    }
}

TEST(FirewallSenders, ATrueReplyWithoutItsPayloadFails)
{
    Pool pool;
    FakeService service; // bare true replies
    for (FWPFunction f : {FWP_GET_STATUS, FWP_GET_INTERFACES, FWP_GET_ALL_RULES, FWP_GET_BASIC_PREFS,
                          FWP_GET_DETAILED_RULE, FWP_CHANGE_RULE_DETAIL, FWP_GET_TRUSTED}) {
        SCOPED_TRACE(FWPRow(f).commandId);
        bool applied = false;
        EXPECT_EQ(FWPRow(f).failureValue, FWPSend(f, nullptr, [&](HVO::CommandResult &) { applied = true; }));
        EXPECT_FALSE(applied);
    }
    EXPECT_EQ(0, GetStatusForGeneralPreferences());

    // With the payload: applied, 0.
    FWService::CompleteFWData data;
    data.getOptions().setBasicRuleOpt(FWService::BASIC_RULE_DENY_BOTH);
    service.answer(10205, data);
    FWService::CompleteFWData read;
    EXPECT_EQ(0, FWPSend(FWP_GET_BASIC_PREFS, nullptr, [&](HVO::CommandResult &r) { r.getCustomData(read); }));
    EXPECT_EQ(FWService::BASIC_RULE_DENY_BOTH, read.getOptions().getBasicRuleOpt());
}

TEST(FirewallSenders, ExceptionsAreLoggedAndNothingIsSent)
{
    Pool pool;
    FakeService service;
    struct Case {
        FWPFunction f;
        std::function<void()> raise;
        std::string log;
    } cases[] = {
        {FWP_SWAP_RULES, [] { throw HVO::HVOException("boom"); }, "Firewall : HVO ecxeption in SwapCustomRule: msg :: boom"},
        {FWP_DELETE_RULES, [] { throw HVO::HVOException("boom"); }, "Firewall : HVO ecxeption in DeleteRule: msg :: boom"},
        {FWP_GET_INTERFACES, [] { throw HVO::HVOException("boom"); },
         "Firewall : HVO ecxeption in GetNetworkInterfaceList: msg :: boom"},
        {FWP_ADD_RULE, [] { throw HVO::HVOException("boom"); },
         "Firewall : Got an HVO Exception in SetRulesForFirewallPrefs()"},
        {FWP_ADD_RULE, [] { throw FirewallSDK::FirewallException("x", FirewallSDK::FW_INVALID_RULE_NUMBER_FOR_SETTING); },
         "Firewall : Got an generic Exception in SetRulesForFirewallPrefs()"},
        {FWP_SET_TRUSTED, [] { [NSException raise:@"test" format:@"raised"]; },
         "Firewall : got an generic exception in SetTrustedList()"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.log);
        service.clear();
        LogCapture log;
        EXPECT_EQ(-1, FWPSend(c.f, [&](HVO::CommandData &) { c.raise(); }, nullptr));
        EXPECT_EQ(Lines{c.log}, log.lines());
        EXPECT_TRUE(service.ids().empty());
    }

    // The broker's own exception text goes into the line.
    service.peer.setHubReachable(false);
    LogCapture log;
    EXPECT_EQ(-1, SwapFWRule(5123, 5122));
    ASSERT_EQ(1u, log.lines().size());
    EXPECT_EQ(0u, log.lines()[0].find("Firewall : HVO ecxeption in SwapCustomRule: msg :: "));
    EXPECT_GT(log.lines()[0].size(), std::string("Firewall : HVO ecxeption in SwapCustomRule: msg :: ").size());
}

TEST(FirewallSenders, AnUnnamedGroupSendsNothing)
{
    Pool pool;
    FakeService service;
    LogCapture log;
    EXPECT_EQ(-1, FWPSend(FWP_ENABLE_TRUSTED, [](HVO::CommandData &c) {
        std::map<std::wstring, bool> enable{{FWPWideText(nil, 13001), true}};
        c.setCustomData(enable);
    }, nullptr));
    EXPECT_TRUE(service.ids().empty());
    EXPECT_EQ(Lines{"Firewall : got an generic exception in EnableTrustedList()"}, log.lines());
}

} // namespace
