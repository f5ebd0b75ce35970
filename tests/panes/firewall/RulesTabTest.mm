// The rules tab's controller on a display: what showing the service's
// options sends (nothing), what a user's choice sends (one command), and the
// rows after refused swaps, deletes and edits.
#import <AppKit/AppKit.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#import "FWPPresenter.h"
#import "FWPSend.h"
#include "FWRecords.h"
#include "FWServiceRecords.h"
#import "PaneSupport.h"
#import "RecordingPresenter.h"
#import "PreferenceRules.h"
#import "RulesContainer.h"

using fwptest::FakeService;
using Scope = fwptest::PresenterScope;
using fwptest::utf8;
using fwptest::kHeader;
using fwptest::Ids;

namespace {

FWService::CompleteFWData table(int mode, std::vector<std::pair<int, std::string>> rows = {})
{
    FWService::CompleteFWData d;
    d.getOptions().setBasicRuleOpt(static_cast<FWService::BasicRuleOpt>(mode));
    for (auto &r : rows) {
        FirewallSDK::FWBasicData b;
        b.setRuleNo(r.first);
        b.setRuleName(r.second);
        b.setAction(FirewallSDK::FW_ACTION_ALLOW);
        b.setTrafficDirection(FirewallSDK::FW_DIRECTION_IN);
        b.setRuleCategory(FirewallSDK::FW_CUSTOM_RULE_CATEGORY);
        d.getRules().push_back(b);
    }
    return d;
}

std::vector<std::pair<int, std::string>> rowsShown(PreferenceRules *c)
{
    std::vector<std::pair<int, std::string>> out;
    NSArray *rows = [[c rulesController] arrangedObjects];
    for (NSUInteger i = 0; i < [rows count]; ++i) {
        RulesContainer *r = [rows objectAtIndex:i];
        out.push_back({[r rulesNumber], utf8([r rulesNameAsString])});
    }
    return out;
}

// One test: the controller is one per process, and the order matters.
TEST(FirewallRulesTab, OptionsReadAreShownNotSent)
{
    Scope scope;
    FakeService service;
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    EXPECT_TRUE([PreferenceRules leopardRnot]);

    // Nothing read yet: nothing to send.
    EXPECT_EQ(0, SetBasicFWPrefs());
    [c setIsInBoundSelected:YES];
    EXPECT_TRUE(service.ids().empty());

    struct Shown {
        int mode, tag;
        BOOL in, out, custom;
    } shown[] = {
        {0, 1000, NO, NO, NO}, {1, 1001, YES, NO, YES}, {2, 1001, NO, YES, YES},
        {3, 1001, YES, YES, YES}, {4, 1001, NO, NO, YES}, {5, 1001, NO, NO, YES},
    };
    for (auto &s : shown) {
        SCOPED_TRACE(s.mode);
        service.answer(10205, table(s.mode));
        service.clear();
        EXPECT_EQ(0, GetBasicFWPrefs());
        EXPECT_EQ(Ids{10205}, service.ids());
        EXPECT_EQ(s.tag, [c allowDenyCustom]);
        EXPECT_EQ(s.in, [c isInBoundSelected]);
        EXPECT_EQ(s.out, [c isOutBoundSelected]);
        EXPECT_EQ(s.custom, [c isCustomRulesEabled]);
    }

    // Mode 4 read, Advanced logging on: the mode read goes back.
    service.answer(10205, table(4));
    GetBasicFWPrefs();
    service.clear();
    [c setIsLoggingSelected:YES];
    [c applyAdvancedRules:nil];
    EXPECT_EQ(Ids{10209}, service.ids());
    EXPECT_EQ(kHeader + L"0 0 1 0 0 4", service.text(10209));

    // The user chooses deny: one command, inbound only.
    service.answer(10205, table(0));
    GetBasicFWPrefs();
    service.clear();
    [c setAllowDenyCustom:1001];
    EXPECT_EQ(Ids{10209}, service.ids());
    EXPECT_EQ(kHeader + L"0 0 0 0 0 1", service.text(10209));
    [c setIsOutBoundSelected:YES];
    EXPECT_EQ(kHeader + L"0 0 0 0 0 3", service.text(10209, 1));
    [c setAllowDenyCustom:1000];
    EXPECT_EQ(kHeader + L"0 0 0 0 0 0", service.text(10209, 2));
    service.clear();
    [c setAllowDenyCustom:1007];
    EXPECT_TRUE(service.ids().empty());

    struct Map {
        int tag;
        BOOL in, out;
        int mode;
    } maps[] = {{1000, YES, YES, 0}, {1001, YES, YES, 3}, {1001, YES, NO, 1}, {1001, NO, YES, 2},
                {1001, NO, NO, 5},   {0, YES, NO, -1},   {1002, NO, NO, -1}};
    for (auto &m : maps)
        EXPECT_EQ(m.mode, FWPBasicRuleOpt(m.tag, m.in, m.out)) << m.tag << " " << m.in << m.out;
}

TEST(FirewallRulesTab, RowsChangeOnlyWhenTheServiceDid)
{
    Scope scope;
    FakeService service;
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    service.answer(10205, table(1, {{5002, ""}, {5122, "web"}, {5123, "Caf\xC3\xA9"}}));
    [c refreshUI];
    using Rows = std::vector<std::pair<int, std::string>>;
    const Rows shown{{5002, ""}, {5122, "web"}, {5123, "Caf\xC3\xA9"}};
    ASSERT_EQ(shown, rowsShown(c));
    NSArrayController *rows = [c rulesController];

    // A refused swap: the numbers stay, the error shows, the tab reloads.
    service.fail(10207);
    service.clear();
    [rows setSelectionIndex:2];
    [c MoveSelectedRulesUp:nil];
    EXPECT_EQ((Ids{10207, 10205, 10205}), service.ids());
    EXPECT_EQ(shown, rowsShown(c));
    EXPECT_EQ(std::vector<std::string>{"unknown error"}, scope.panels());

    // Done: numbers exchanged, Café above web.
    service.on(10207, [](HVO::CommandData &, HVO::CommandResult &) { return true; });
    service.clear();
    [rows setSelectionIndex:2];
    [c MoveSelectedRulesUp:nil];
    EXPECT_EQ(kHeader + L"2 0 5123 5122", service.text(10207));
    EXPECT_EQ((Rows{{5002, ""}, {5122, "Caf\xC3\xA9"}, {5123, "web"}}), rowsShown(c));
    [rows setSelectionIndex:2];
    service.clear();
    [c MoveSelectedRulesDown:nil]; // the last row: nothing
    EXPECT_TRUE(service.ids().empty());

    // A refused delete: the rows stay.
    [c refreshUI];
    service.fail(10208);
    service.clear();
    [rows setSelectionIndexes:[NSIndexSet indexSetWithIndexesInRange:NSMakeRange(1, 2)]];
    [c DeleteRulesButtonClicked:nil];
    EXPECT_EQ((Ids{10208, 10205, 10205}), service.ids());
    EXPECT_EQ(kHeader + L"2 0 5122 5123", service.text(10208));
    EXPECT_EQ(shown, rowsShown(c));
    service.on(10208, [](HVO::CommandData &, HVO::CommandResult &) { return true; });
    [rows setSelectionIndex:1];
    [c DeleteRulesButtonClicked:nil];
    EXPECT_EQ((Rows{{5002, ""}, {5123, "Caf\xC3\xA9"}}), rowsShown(c));

    EXPECT_FALSE([c tableView:nil acceptDrop:nil row:0 dropOperation:NSTableViewDropAbove]);
}

TEST(FirewallRulesTab, EditingSendsOneChange)
{
    Scope scope;
    FakeService service;
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    service.answer(10205, table(1, {{5122, "web"}}));
    [c refreshUI];
    [c setIsPreferenceEnabled:YES];
    FirewallSDK::FWDetailedData detail;
    detail.setSrcIp("me");
    detail.setDestIp("any");
    detail.setProtocol(FirewallSDK::FWDetailedData::FIELD_PLAIN, "tcp");
    detail.setDestPort(FirewallSDK::FWDetailedData::FIELD_PLAIN, "80");
    service.answer(10206, detail);
    const int refused = 13049;
    service.fail(10210, &refused);
    service.clear();

    [c editRow:0];
    EXPECT_EQ(Ids{10206}, service.ids());
    EXPECT_EQ(1, scope.presenter->begun);
    RulesContainer *sheet = [c rulesObject];
    EXPECT_EQ("80", utf8([sheet portDestination]));
    [sheet setRulesActionAsInt:FWP_TAG_DENY];
    [sheet setPortSource:@"99999"];
    [c AddNewCreatlyRules:nil];
    EXPECT_EQ((Ids{10206, 10210}), service.ids());
    EXPECT_EQ(std::vector<std::string>{"Invalid src port for setting"}, scope.panels());
    EXPECT_EQ(0, scope.presenter->ended);
    RulesContainer *row = [[[c rulesController] arrangedObjects] objectAtIndex:0];
    EXPECT_EQ(FWP_TAG_ALLOW, [row rulesActionAsInt]);

    // Accepted: one change, the sheet closes, the row shows it.
    service.on(10210, [](HVO::CommandData &, HVO::CommandResult &) { return true; });
    service.clear();
    [c AddNewCreatlyRules:nil];
    EXPECT_EQ(Ids{10210}, service.ids());
    EXPECT_EQ(1, scope.presenter->ended);
    EXPECT_EQ(FWP_TAG_DENY, [row rulesActionAsInt]);

    // A blank name: nothing sent.
    service.clear();
    [sheet setRulesNameAsString:@"   "];
    [c AddNewCreatlyRules:nil];
    EXPECT_TRUE(service.ids().empty());
    EXPECT_EQ("Rule Name cannot be blank", scope.panels().back());

    // An in-place change the service refuses: the old tag comes back.
    service.fail(10210, &refused);
    service.clear();
    [row setDirectionAsInt:FWP_TAG_OUTGOING];
    EXPECT_EQ((Ids{10206, 10210}), service.ids());
    EXPECT_EQ(FWP_TAG_INCOMING, [row directionAsInt]);
}

TEST(FirewallRulesTab, ErrorPanelTexts)
{
    Scope scope;
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    const std::pair<int, const char *> codes[] = {
        {13023, "Empty dest ip for setting"}, {13037, "Trusted Group Name Already Exist"},
        {13050, "Invalid dest port for setting"}, {13052, "No space left to add rule"},
        {-20, "Rule Name cannot be blank"}, {13051, "unknown error"}, {-1, "unknown error"},
    };
    for (auto &p : codes)
        [c handleErrorCode:p.first];
    std::vector<std::string> want;
    for (auto &p : codes)
        want.push_back(p.second);
    EXPECT_EQ(want, scope.panels());
}

} // namespace
