// Row conversion and the command glue against the in-process hub: the
// payloads are decoded from what the broker sent.
#import "AppProConversion.h"
#import "AppProExclusionController.h"
#import "AppProGlue.h"
#import "AppProPrefsController.h"
#import "AppProRule.h"
#import "PaneTestSupport.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "HVOCommBroker.h"

using AppProtection::AppProtError;
using AppProtection::AppProtPrefsData;
using AppProtection::BasicAppRecord;
using AppProtection::NetworkRule;
using panetest::utf8;

namespace {

NSArray *list(std::initializer_list<id> items)
{
    NSMutableArray *a = [NSMutableArray array];
    for (id i : items)
        [a addObject:i];
    return a;
}

AppProDetailedRule *detail(NSString *address, NSString *port, int protocol, int direction, int action)
{
    AppProDetailedRule *d = [[[AppProDetailedRule alloc] init] autorelease];
    [d setIpSubnetString:address];
    [d setPortRangeString:port];
    [d setProtocolTag:protocol];
    [d setDirectionTag:direction];
    [d setActionTag:action];
    return d;
}

AppProRule *row(NSString *path, int status, NSArray *details = nil)
{
    AppProRule *r = [[[[AppProRule alloc] init] initWithApplicationPath:path] autorelease];
    [r setStatusTag:status];
    if (details != nil)
        [r setDetailedRule:[NSMutableArray arrayWithArray:details]];
    return r;
}

std::vector<std::string> panels(RecordingToolkit *t)
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [t->panels count]; i++)
        out.push_back(utf8([t->panels objectAtIndex:i]));
    return out;
}

class Glue : public ::testing::Test {
protected:
    void SetUp() override
    {
        pool = [NSAutoreleasePool new];
        [[AppProPrefsController alloc] init];
        [[AppProExclusionController alloc] init];
    }
    void TearDown() override { [pool release]; }
    NSAutoreleasePool *pool;
    panetest::ToolkitScope toolkit;
    panetest::PaneBundle bundle;
    panetest::FakeDaemon daemon;
};

} // namespace

TEST_F(Glue, SubRuleConversion)
{
    int status = -1;
    NSMutableArray *rows = [NSMutableArray arrayWithObjects:detail(@"any", @"21", 101, 100, 100),
                                                            detail(@"10.0.0.0/8", @"Telnet", 102, 102, 101),
                                                            detail(@"1.2.3.4", @"SMTP", 100, 101, 100), nil];
    std::list<NetworkRule> rules = populateNWRuleList(rows, &status);
    ASSERT_EQ(0, status);
    ASSERT_EQ(3u, rules.size());
    const NetworkRule &a = rules.front();
    EXPECT_EQ("ANY_IP", a.getIpRange());
    EXPECT_EQ("21", a.getPortRange());
    EXPECT_EQ(2, static_cast<int>(a.getNWProtocol()));
    EXPECT_EQ(102, static_cast<int>(a.getDirection()));
    EXPECT_EQ(1, static_cast<int>(a.getAction()));
    const NetworkRule &b = *std::next(rules.begin());
    EXPECT_EQ("Telnet", b.getPortRange());
    EXPECT_EQ(3, static_cast<int>(b.getNWProtocol()));
    EXPECT_EQ(104, static_cast<int>(b.getDirection()));
    EXPECT_EQ(2, static_cast<int>(b.getAction()));
    EXPECT_EQ("SMTP", rules.back().getPortRange());
    EXPECT_EQ(103, static_cast<int>(rules.back().getDirection()));
    EXPECT_TRUE(panels(toolkit.toolkit).empty());
}

// Localised "any" and service texts go to the daemon as their names; the
// listing shows them localised again.
TEST_F(Glue, LocalisedPortTextsTravelAsNames)
{
    panetest::FixtureBundle texts("AppProPrefs", "\"any\" = \"alle\";\n\"Telnet\" = \"Fernschreiber\";\n");
    int status = -1;
    NSMutableArray *rows = [NSMutableArray arrayWithObjects:detail(@"alle", @"Fernschreiber", 100, 100, 100),
                                                            detail(@"alle", @"alle", 100, 100, 100), nil];
    [[rows objectAtIndex:0] setOrderNumber:1];
    [[rows objectAtIndex:1] setOrderNumber:2];
    std::list<NetworkRule> rules = populateNWRuleList(rows, &status);
    ASSERT_EQ(0, status);
    ASSERT_EQ(2u, rules.size());
    EXPECT_EQ("Telnet", rules.front().getPortRange());
    EXPECT_EQ("ANY_IP", rules.front().getIpRange());
    EXPECT_EQ("ANY_PORT", rules.back().getPortRange());
    EXPECT_EQ(0u, [toolkit->panels count]);
    // Untranslated, "any" is no address.
    populateNWRuleList([NSMutableArray arrayWithObject:detail(@"any", @"SMTP", 100, 100, 100)], &status);
    EXPECT_EQ(-1, status);

    BasicAppRecord listed = panetest::record("/bin/t", true, 3);
    listed.setNwRules(rules);
    daemon.answer(20003, std::list<BasicAppRecord>{listed});
    ASSERT_EQ(0, GetAllAppProRules());
    NSArray *details = [[[[AppProPrefsController sharedAppProPrefsController] appProRulesArray] lastObject] detailedRule];
    ASSERT_EQ(2u, [details count]);
    EXPECT_EQ("Fernschreiber", utf8([[details objectAtIndex:0] portRangeString]));
    EXPECT_EQ("alle", utf8([[details objectAtIndex:0] ipSubnetString]));
    EXPECT_EQ("alle", utf8([[details objectAtIndex:1] portRangeString]));
}

TEST_F(Glue, InvalidSubRulesAreReportedOnceAndNothingIsSent)
{
    daemon.codes(20000, {});
    struct Case {
        NSArray *rows;
        const char *key;
    } cases[] = {
        {list({detail(@"any", @"80-79", 100, 100, 100)}), "InvalidPortRange"},
        {list({detail(@"any", @"80-80", 100, 100, 100)}), "InvalidPortRange"},
        {list({detail(@"any", @"80", 100, 100, 100), detail(@"", @"80", 100, 100, 100),
            detail(@"", @"80", 100, 100, 100)}),
         "InvalidIPAddress"},
        {list({detail(nil, @"80", 100, 100, 100)}), "InvalidIPAddress"},
        {list({detail(@"any", nil, 100, 100, 100)}), "InvalidPortRange"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        [toolkit->panels removeAllObjects];
        daemon.clear();
        int status = 7;
        populateNWRuleList([NSMutableArray arrayWithArray:c.rows], &status);
        EXPECT_EQ(-1, status);
        EXPECT_EQ(-1, AddNewAppProRule(row(@"/Applications/Mail.app", 102, c.rows)));
        // Once by the conversion above, once by the command.
        EXPECT_EQ((std::vector<std::string>{
                      utf8([[AppProPrefsController sharedAppProPrefsController] getLocalizedErrorString:panetest::ns(c.key)]),
                      utf8([[AppProPrefsController sharedAppProPrefsController] getLocalizedErrorString:panetest::ns(c.key)])}),
                  panels(toolkit.toolkit));
        EXPECT_EQ(0u, daemon.count(20000));
    }
}

TEST_F(Glue, StatusTagsTravelInEveryRuleCommand)
{
    daemon.codes(20000, {});
    daemon.codes(20001, {});
    daemon.codes(20002, {});
    struct Case {
        int tag;
        bool exec;
        int nw;
    } cases[] = {{100, true, 1}, {101, true, 2}, {102, true, 3}, {103, false, 2}, {7, false, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tag);
        daemon.clear();
        AppProRule *r = row(@"/Applications/Mail.app", c.tag);
        ASSERT_EQ(0, AddNewAppProRule(r));
        ASSERT_EQ(0, ModifyAppProRule(r));
        ASSERT_EQ(0, DeleteAppProRules(list({r})));
        for (int id : {20000, 20002, 20001}) {
            auto records = daemon.sent<std::vector<BasicAppRecord>>(id);
            ASSERT_EQ(1u, records.size());
            EXPECT_EQ("/Applications/Mail.app", records[0].getAppGroup());
            EXPECT_EQ(c.exec, records[0].getExecAllowed());
            EXPECT_EQ(c.nw, static_cast<int>(records[0].getNwAction()));
            EXPECT_TRUE(records[0].getEnabled());
            EXPECT_FALSE(records[0].getAppModified());
        }
    }
}

TEST_F(Glue, ListingBuildsRows)
{
    BasicAppRecord custom = panetest::record("/Applications/Mail.app", true, 3);
    NetworkRule any;
    any.setIpRange("ANY_IP");
    any.setPortRange("ANY_PORT");
    any.setOrder(1);
    NetworkRule web;
    web.setIpRange("10.0.0.1");
    web.setPortRange("8080");
    web.setOrder(2);
    web.setNWProtocol(AppProtection::NW_UDP);
    web.setDirection(AppProtection::OUTGOING_CONNECTION);
    web.setAction(AppProtection::ACTION_BLOCK);
    custom.setNwRules({any, web});
    std::list<BasicAppRecord> listed = {custom,
                                        panetest::record("/bin/denied", false, 3),
                                        panetest::record("/bin/zero", true, 0),
                                        panetest::record("/bin/modified", true, 1, true, true),
                                        panetest::record("/bin/disabled", true, 2, false),
                                        panetest::record("\xff\xfe", true, 1)};
    daemon.answer(20003, listed);
    ASSERT_EQ(0, GetAllAppProRules());
    NSArray *rows = [[AppProPrefsController sharedAppProPrefsController] appProRulesArray];
    ASSERT_EQ(5u, [rows count]); // the group that is not UTF-8 is skipped
    struct Want {
        const char *path;
        int tag;
        int enabled;
    } want[] = {{"/Applications/Mail.app", 102, 1}, {"/bin/denied", 103, 1}, {"/bin/zero", 100, 1},
                {"/bin/modified", 100, -1},         {"/bin/disabled", 101, 0}};
    for (NSUInteger i = 0; i < 5; i++) {
        AppProRule *r = [rows objectAtIndex:i];
        EXPECT_EQ(want[i].path, utf8([r applicationNameWithAbsPath]));
        EXPECT_EQ(want[i].tag, [r statusTag]);
        EXPECT_EQ(want[i].enabled, [r isRuleEnabled]);
    }
    EXPECT_EQ("Mail", utf8([[rows objectAtIndex:0] applicationName]));
    NSArray *details = [[rows objectAtIndex:0] detailedRule];
    ASSERT_EQ(2u, [details count]);
    EXPECT_EQ("any", utf8([[details objectAtIndex:0] ipSubnetString]));
    EXPECT_EQ("any", utf8([[details objectAtIndex:0] portRangeString]));
    EXPECT_EQ("10.0.0.1", utf8([[details objectAtIndex:1] ipSubnetString]));
    EXPECT_EQ("8080", utf8([[details objectAtIndex:1] portRangeString]));
    EXPECT_EQ(101, [[details objectAtIndex:1] protocolTag]);
    EXPECT_EQ(101, [[details objectAtIndex:1] directionTag]);
    EXPECT_EQ(101, [[details objectAtIndex:1] actionTag]);
    EXPECT_EQ(2, [[details objectAtIndex:1] orderNumber]);
}

TEST_F(Glue, RuleCommandCodes)
{
    daemon.codes(20000, {AppProtection::DUPLICATE_ENTRY});
    EXPECT_EQ(-1, AddNewAppProRule(row(@"/bin/a", 100)));
    EXPECT_EQ(std::vector<std::string>{"A rule for this application already exists."}, panels(toolkit.toolkit));

    [toolkit->panels removeAllObjects];
    daemon.codes(20001, {AppProtection::SUCCESS, AppProtection::ENTRY_NOT_FOUND, AppProtection::SUCCESS});
    EXPECT_EQ(-1, DeleteAppProRules(list({row(@"/bin/a", 100), row(@"/bin/b", 100), row(@"/bin/c", 100)})));
    EXPECT_EQ(std::vector<std::string>{"The rule was not found."}, panels(toolkit.toolkit));
    EXPECT_EQ(3u, (daemon.sent<std::vector<BasicAppRecord>>(20001).size()));

    [toolkit->panels removeAllObjects];
    daemon.codes(20002, {AppProtection::UNEXPECTED_EXCEPTION});
    EXPECT_EQ(-1, ModifyAppProRule(row(@"/bin/a", 100)));
    EXPECT_EQ(std::vector<std::string>{"An unknown error occurred."}, panels(toolkit.toolkit));

    [toolkit->panels removeAllObjects];
    daemon.codes(20000, {AppProtection::SUCCESS});
    EXPECT_EQ(0, AddNewAppProRule(row(@"/bin/a", 100)));
    EXPECT_TRUE(panels(toolkit.toolkit).empty());

    // Not completed: -1 without a panel.
    daemon.on(20000, [](HVO::CommandData &, HVO::CommandResult &r) {
        r.setCommandCompleted(false);
        return true;
    });
    EXPECT_EQ(-1, AddNewAppProRule(row(@"/bin/a", 100)));
    EXPECT_TRUE(panels(toolkit.toolkit).empty());
}

TEST_F(Glue, EnableSendsMarkedRowsOnlyAndChecksAllFirst)
{
    daemon.codes(20002, {});
    daemon.clear();
    AppProRule *plain = row(@"/bin/plain", 100);
    EXPECT_EQ(0, EnableAppProRules(list({plain})));
    EXPECT_EQ(std::vector<int>{20002}, daemon.ids());
    EXPECT_TRUE(daemon.sent<std::vector<BasicAppRecord>>(20002).empty());

    AppProRule *good = row(@"/bin/good", 100);
    [good setIsRuleModified:YES];
    AppProRule *bad = row(@"/bin/bad", 102, list({detail(@"", @"80", 100, 100, 100)}));
    [bad setIsRuleModified:YES];
    daemon.clear();
    EXPECT_EQ(-1, EnableAppProRules(list({good, bad})));
    EXPECT_TRUE(daemon.ids().empty());
    // Nothing changed: the good row is still waiting for the user.
    EXPECT_EQ(-1, [good isRuleEnabled]);
    EXPECT_TRUE([good isRuleModified]);

    EXPECT_EQ(0, EnableAppProRules(list({good, plain})));
    auto sent = daemon.sent<std::vector<BasicAppRecord>>(20002);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("/bin/good", sent[0].getAppGroup());
    EXPECT_TRUE(sent[0].getEnabled());
    EXPECT_EQ(1, [good isRuleEnabled]);
}

TEST_F(Glue, Preferences)
{
    AppProPrefsController *c = [AppProPrefsController sharedAppProPrefsController];
    struct Case {
        int action;
        int tag;
    } cases[] = {{1, 100}, {2, 101}, {3, 102}, {0, 102}, {9, 102}};
    for (const Case &k : cases) {
        AppProtPrefsData p;
        p.setUnknownAppAction(k.action);
        p.setPromptTimeout(45);
        daemon.answer(20004, p);
        ASSERT_EQ(0, GetAppProPreferences());
        EXPECT_EQ(k.tag, [c unknownModifidAllowDenyPromptOption]) << k.action;
        EXPECT_EQ(45, [c timeOut]);
    }
    // A fetched 5 is stored (and sent) as what the field shows.
    AppProtPrefsData low;
    low.setPromptTimeout(5);
    daemon.answer(20004, low);
    ASSERT_EQ(0, GetAppProPreferences());
    EXPECT_EQ(10, [c timeOut]);

    AppProtPrefsData read;
    read.setPromptTimeout(45);
    read.setUnknownAppAction(3);
    read.setAllowAppleSignedBinaries(true);
    read.setEnableAppProtection(true);
    read.setCustomNetworkAction(true);
    daemon.answer(20004, read);
    daemon.code(20005, AppProtection::SUCCESS);
    daemon.clear();
    ASSERT_EQ(0, SetAppProGeneralPrefsStatus(false));
    EXPECT_EQ((std::vector<int>{20004, 20005}), daemon.ids());
    AppProtPrefsData sent = daemon.sent<AppProtPrefsData>(20005);
    EXPECT_EQ(45, sent.getPromptTimeout());
    EXPECT_EQ(3, sent.getUnknownAppAction());
    EXPECT_TRUE(sent.getAllowAppleSignedBinaries());
    EXPECT_FALSE(sent.getEnableAppProtection());
    EXPECT_TRUE(sent.getCustomNetworkAction());

    // The controller's settings, with the daemon's enable state and custom
    // action carried back.
    [c setTimeOut:60];
    [c setUnknownModifidAllowDenyPromptOption:101];
    [c setIsAllowAppleSignedBinaries:NO];
    daemon.clear();
    ASSERT_EQ(0, SetAppProPreferences());
    EXPECT_EQ((std::vector<int>{20004, 20005}), daemon.ids());
    sent = daemon.sent<AppProtPrefsData>(20005);
    EXPECT_EQ(60, sent.getPromptTimeout());
    EXPECT_EQ(2, sent.getUnknownAppAction());
    EXPECT_FALSE(sent.getAllowAppleSignedBinaries());
    EXPECT_TRUE(sent.getEnableAppProtection());
    EXPECT_TRUE(sent.getCustomNetworkAction());
    EXPECT_TRUE(GetAppProGeneralPrefsStatus());

    // A failed read sends nothing.
    daemon.on(20004, [](HVO::CommandData &, HVO::CommandResult &r) {
        r.setCommandStatus(false);
        return true;
    });
    daemon.clear();
    EXPECT_EQ(-1, SetAppProPreferences());
    EXPECT_EQ(-1, SetAppProGeneralPrefsStatus(true));
    EXPECT_FALSE(GetAppProGeneralPrefsStatus());
    EXPECT_EQ(0u, daemon.count(20005));
    EXPECT_EQ(60, [c timeOut]); // a failed fetch changes nothing
    EXPECT_EQ(-1, GetAppProPreferences());
    EXPECT_EQ(60, [c timeOut]);
}

TEST_F(Glue, CodeRepliesWithoutACodeFail)
{
    AppProtPrefsData p;
    daemon.answer(20004, p);
    for (int id : {20005, 20007}) {
        daemon.on(id, [](HVO::CommandData &, HVO::CommandResult &) { return true; });
    }
    EXPECT_EQ(-1, SetExclusionList(list({})));
    EXPECT_EQ(-1, SetAppProPreferences());
    daemon.code(20007, AppProtection::PREFERENCES_STORE_FAILED);
    EXPECT_EQ(-1, SetExclusionList(list({})));
    daemon.code(20007, AppProtection::SUCCESS);
    daemon.clear();
    AppProExclusionData *a = [[[AppProExclusionData alloc] initWithApplicationPath:@"/Applications/Mail.app"] autorelease];
    EXPECT_EQ(0, SetExclusionList(list({a})));
    EXPECT_EQ(std::vector<std::string>{"/Applications/Mail.app"}, daemon.sent<std::vector<std::string>>(20007));
    EXPECT_TRUE(panels(toolkit.toolkit).empty());
}

TEST_F(Glue, ExclusionListing)
{
    daemon.answer(20006, std::vector<std::string>{"/Applications/Mail.app", "/opt/tools", "\xff"});
    ASSERT_EQ(0, GetExclusionList());
    NSArray *rows = [[AppProExclusionController sharedAppProExclusionController] appProExclusionsListArray];
    ASSERT_EQ(2u, [rows count]);
    EXPECT_EQ("/Applications/Mail.app", utf8([[rows objectAtIndex:0] displayName]));
    EXPECT_EQ("Mail", utf8([[rows objectAtIndex:0] applicationName]));
    EXPECT_EQ("/opt/tools", utf8([[rows objectAtIndex:1] displayName]));
}

// Without a hub every function fails at once and shows nothing.
TEST_F(Glue, NoHub)
{
    daemon.unreachable(true);
    AppProRule *r = row(@"/bin/a", 100);
    [r setIsRuleModified:YES];
    EXPECT_EQ(-1, GetAllAppProRules());
    EXPECT_EQ(-1, AddNewAppProRule(r));
    EXPECT_EQ(-1, ModifyAppProRule(r));
    EXPECT_EQ(-1, EnableAppProRules(list({r})));
    EXPECT_EQ(-1, DeleteAppProRules(list({r})));
    EXPECT_EQ(-1, GetAppProPreferences());
    EXPECT_EQ(-1, SetAppProPreferences());
    EXPECT_FALSE(GetAppProGeneralPrefsStatus());
    EXPECT_EQ(-1, SetAppProGeneralPrefsStatus(true));
    EXPECT_EQ(-1, GetExclusionList());
    EXPECT_EQ(-1, SetExclusionList(list({})));
    EXPECT_TRUE(panels(toolkit.toolkit).empty());
    daemon.unreachable(false);
}

// A process whose broker belongs to another hub path has no broker for the
// pane: every function fails without a panel.
TEST(GlueNullBroker, EveryFunctionFails)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(
        {
            NSAutoreleasePool *pool = [NSAutoreleasePool new];
            panetest::ToolkitScope toolkit;
            HVO::HVOCommBroker::getInstance("/tmp/another-hub");
            [[AppProPrefsController alloc] init];
            AppProRule *r = row(@"/bin/a", 100);
            int failures = (GetAllAppProRules() == -1) + (AddNewAppProRule(r) == -1) +
                           (ModifyAppProRule(r) == -1) + (EnableAppProRules(list({r})) == -1) +
                           (DeleteAppProRules(list({r})) == -1) + (GetAppProPreferences() == -1) +
                           (SetAppProPreferences() == -1) + (!GetAppProGeneralPrefsStatus()) +
                           (SetAppProGeneralPrefsStatus(true) == -1) + (GetExclusionList() == -1) +
                           (SetExclusionList(list({})) == -1);
            bool quiet = [toolkit->panels count] == 0;
            [pool release];
            _exit(failures == 11 && quiet ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
