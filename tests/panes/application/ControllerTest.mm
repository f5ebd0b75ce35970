// The rules tab, the rule sheet and the exclusions tab driven as the view
// drives them, against the in-process hub and the recording toolkit.
#import "AppProExclusionController.h"
#import "AppProGlue.h"
#import "AppProPortCheck.h"
#import "AppProPrefsController.h"
#import "AppProRule.h"
#import "PaneTestSupport.h"

#include <fstream>

#include <gtest/gtest.h>

using AppProtection::AppProtPrefsData;
using AppProtection::BasicAppRecord;
using panetest::ns;
using panetest::utf8;

@interface FakeTabItem : NSObject {
    NSString *ident;
}
- (id)initWithIdentifier:(NSString *)identifier;
- (id)identifier;
@end

@implementation FakeTabItem
- (id)initWithIdentifier:(NSString *)identifier
{
    self = [super init];
    ident = [identifier copy];
    return self;
}
- (void)dealloc
{
    [ident release];
    [super dealloc];
}
- (id)identifier { return ident; }
@end

/// Counts its own observations as a strict KVO would: a removal without a
/// matching registration is a stray.
@interface StrictPrefsController : AppProPrefsController {
@public
    NSCountedSet *observed;
    int strayRemovals;
}
@end

@implementation StrictPrefsController
- (void)addObserver:(NSObject *)observer
         forKeyPath:(NSString *)keyPath
            options:(NSKeyValueObservingOptions)options
            context:(void *)context
{
    if (observed == nil)
        observed = [[NSCountedSet alloc] init];
    [observed addObject:keyPath];
    [super addObserver:observer forKeyPath:keyPath options:options context:context];
}
- (void)removeObserver:(NSObject *)observer forKeyPath:(NSString *)keyPath
{
    if ([observed countForObject:keyPath] == 0)
        strayRemovals++;
    else
        [observed removeObject:keyPath];
    [super removeObserver:observer forKeyPath:keyPath];
}
@end

namespace {

NSArray *list(std::initializer_list<id> items)
{
    NSMutableArray *a = [NSMutableArray array];
    for (id i : items)
        [a addObject:i];
    return a;
}

NSIndexSet *indexes(std::initializer_list<NSUInteger> items)
{
    NSMutableIndexSet *s = [NSMutableIndexSet indexSet];
    for (NSUInteger i : items)
        [s addIndex:i];
    return s;
}

std::vector<std::string> paths(NSArray *rows)
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [rows count]; i++)
        out.push_back(utf8([[rows objectAtIndex:i] applicationNameWithAbsPath]));
    return out;
}

/// A daemon holding rules, settings and exclusions, answering as appwardd.
class Pane : public ::testing::Test {
protected:
    void SetUp() override
    {
        pool = [NSAutoreleasePool new];
        rules = {panetest::record("/Applications/A.app", true, 1), panetest::record("/Applications/B.app", true, 2),
                 panetest::record("/Applications/C.app", false, 2), panetest::record("/Applications/D.app", true, 1)};
        prefs.setPromptTimeout(45);
        prefs.setUnknownAppAction(2);
        exclusions = {"/Applications/X.app", "/Applications/Y.app"};
        daemon.on(20003, [this](HVO::CommandData &, HVO::CommandResult &r) {
            r.setCustomData(rules);
            return true;
        });
        daemon.on(20004, [this](HVO::CommandData &, HVO::CommandResult &r) {
            r.setCustomData(prefs);
            return prefsUp;
        });
        daemon.on(20006, [this](HVO::CommandData &, HVO::CommandResult &r) {
            r.setCustomData(exclusions);
            r.setCommandStatus(exclusionsUp);
            return true;
        });
        daemon.on(20007, [this](HVO::CommandData &request, HVO::CommandResult &r) {
            std::vector<std::string> sent;
            request.getCustomData(sent);
            AppProtection::AppProtError code = AppProtection::PREFERENCES_STORE_FAILED;
            if (storeUp) {
                exclusions = sent;
                code = AppProtection::SUCCESS;
            }
            r.setCustomData(code);
            return true;
        });
        daemon.code(20005, AppProtection::SUCCESS);
        for (int id : {20000, 20001, 20002})
            daemon.codes(id, {});
        rulesController = [[AppProPrefsController alloc] init];
        exclusionController = [[AppProExclusionController alloc] init];
    }
    void TearDown() override { [pool release]; }

    void start(bool unlocked = true)
    {
        [rulesController awakeFromNib];
        [exclusionController awakeFromNib];
        if (unlocked)
            [rulesController setIsPreferenceEnabled:YES];
        daemon.clear();
    }

    NSArray *rows() { return [rulesController appProRulesArray]; }
    NSArray *excluded() { return [exclusionController appProExclusionsListArray]; }

    NSAutoreleasePool *pool;
    panetest::ToolkitScope toolkit;
    panetest::PaneBundle bundle;
    panetest::FakeDaemon daemon;
    std::list<BasicAppRecord> rules;
    AppProtPrefsData prefs;
    std::vector<std::string> exclusions;
    bool prefsUp = true;
    bool exclusionsUp = true;
    bool storeUp = true;
    AppProPrefsController *rulesController;
    AppProExclusionController *exclusionController;
};

} // namespace

TEST_F(Pane, StartWithoutDaemon)
{
    daemon.unreachable(true);
    start(false);
    EXPECT_EQ(0u, [rows() count]);
    EXPECT_EQ(102, [rulesController unknownModifidAllowDenyPromptOption]);
    EXPECT_FALSE([rulesController isPromptTimeOutHidden]);
    EXPECT_EQ(0, [rulesController timeOut]);
    AppProCustomNumberFormatter *f = [[[AppProCustomNumberFormatter alloc] init] autorelease];
    EXPECT_EQ("10", utf8([f stringForObjectValue:[NSNumber numberWithInt:[rulesController timeOut]]]));
    EXPECT_TRUE([rulesController isAllowAppleSignedBinaries]);
    EXPECT_TRUE([rulesController isLeopard]);
    EXPECT_FALSE([rulesController isPreferenceEnabled]);
    EXPECT_EQ("gray", utf8([rulesController textColor]));

    // The daemon comes up; values never fetched are not sent.
    daemon.unreachable(false);
    [rulesController setTimeOut:60];
    [rulesController setIsAllowAppleSignedBinaries:NO];
    EXPECT_EQ(0u, daemon.count(20005));
    EXPECT_EQ(0u, daemon.count(20004));
}

TEST_F(Pane, StartListsAndPreferencesGoBackOnlyWhenSet)
{
    start();
    EXPECT_EQ((std::vector<std::string>{"/Applications/A.app", "/Applications/B.app", "/Applications/C.app",
                                        "/Applications/D.app"}),
              paths(rows()));
    EXPECT_EQ(45, [rulesController timeOut]);
    EXPECT_EQ(101, [rulesController unknownModifidAllowDenyPromptOption]);
    EXPECT_TRUE([rulesController isPromptTimeOutHidden]);
    EXPECT_EQ((std::vector<std::string>{"/Applications/X.app", "/Applications/Y.app"}), paths(excluded()));

    [rulesController refreshUIWIthPrefs];
    EXPECT_EQ(std::vector<int>{20004}, daemon.ids());
    daemon.clear();
    [rulesController setTimeOut:[rulesController timeOut]];
    EXPECT_EQ((std::vector<int>{20004, 20005}), daemon.ids());
    EXPECT_EQ(45, daemon.sent<AppProtPrefsData>(20005).getPromptTimeout());
    daemon.clear();
    [rulesController setTimeOut:5];
    EXPECT_EQ(10, daemon.sent<AppProtPrefsData>(20005).getPromptTimeout());

    daemon.clear();
    [rulesController tabView:nil willSelectTabViewItem:[[[FakeTabItem alloc] initWithIdentifier:@"100"] autorelease]];
    EXPECT_EQ((std::vector<int>{20004, 20003}), daemon.ids());
    daemon.clear();
    [rulesController tabView:nil willSelectTabViewItem:[[[FakeTabItem alloc] initWithIdentifier:@"101"] autorelease]];
    EXPECT_EQ(std::vector<int>{20006}, daemon.ids());
    daemon.clear();
    [rulesController tabView:nil willSelectTabViewItem:[[[FakeTabItem alloc] initWithIdentifier:@"7"] autorelease]];
    EXPECT_TRUE(daemon.ids().empty());
}

TEST_F(Pane, ViewRequestsBeforeTheViewExistsRemoveNothing)
{
    // Each view request refreshes the controllers; requests may come before
    // the view is built. Afterwards every change is sent once.
    for (int before : {0, 1, 2}) {
        SCOPED_TRACE(before);
        StrictPrefsController *strict = [[StrictPrefsController alloc] init];
        rulesController = strict;
        exclusionController = [[AppProExclusionController alloc] init];
        for (int i = 0; i < before; i++) {
            [rulesController refreshRules];
            [exclusionController refreshExclusions];
        }
        start();
        [rulesController refreshRules];
        [exclusionController refreshExclusions];
        EXPECT_EQ(4u, [rows() count]);
        EXPECT_EQ(2u, [excluded() count]);
        EXPECT_EQ(0, strict->strayRemovals);
        for (NSString *key : {@"timeOut", @"unknownModifidAllowDenyPromptOption", @"isAllowAppleSignedBinaries"})
            EXPECT_EQ(1u, [strict->observed countForObject:key]) << utf8(key);
        daemon.clear();
        [rulesController setTimeOut:60];
        EXPECT_EQ((std::vector<int>{20004, 20005}), daemon.ids());
        daemon.clear();
        [[rows() objectAtIndex:1] setIsRuleEnabled:0];
        EXPECT_EQ(std::vector<int>{20002}, daemon.ids());
    }
}

TEST_F(Pane, RowChangesAreSentAndStatus102OpensTheSheet)
{
    start();
    AppProRule *b = [rows() objectAtIndex:1];
    [b setIsRuleEnabled:0];
    EXPECT_EQ(std::vector<int>{20002}, daemon.ids());
    EXPECT_FALSE(daemon.sent<std::vector<BasicAppRecord>>(20002)[0].getEnabled());

    daemon.clear();
    [rulesController setClickedRuleRow:1];
    [b setStatusTag:102];
    EXPECT_EQ(std::vector<int>{20002}, daemon.ids());
    EXPECT_EQ(3, static_cast<int>(daemon.sent<std::vector<BasicAppRecord>>(20002)[0].getNwAction()));
    EXPECT_EQ(1, toolkit->sheetsBegun);
    EXPECT_TRUE([rulesController isRuleModification]);
    EXPECT_EQ("/Applications/B.app", utf8([[rulesController rule] applicationNameWithAbsPath]));
    EXPECT_EQ(1, [AppProPrefsController clickedRowIndex]);
}

TEST_F(Pane, DeletingMovesTheSelectionUp)
{
    start();
    struct Case {
        NSUInteger selected;
        bool refused;
        size_t rowsAfter;
        NSInteger selectedAfter; // -1: none
    } cases[] = {{3, true, 4, 2}, {3, false, 3, 2}, {0, false, 2, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.selected);
        daemon.codes(20001, c.refused ? std::vector<AppProtection::AppProtError>{AppProtection::ENTRY_NOT_FOUND}
                                      : std::vector<AppProtection::AppProtError>{});
        [rulesController setSelectedRuleIndexes:indexes({c.selected})];
        [rulesController DeleteRule:nil];
        EXPECT_EQ(c.rowsAfter, [rows() count]);
        NSIndexSet *sel = [rulesController selectedRuleIndexes];
        if (c.selectedAfter < 0)
            EXPECT_EQ(0u, [sel count]);
        else
            EXPECT_EQ((NSUInteger)c.selectedAfter, [sel firstIndex]);
    }
    // A deleted row is no longer observed: changing it sends nothing.
    daemon.clear();
    AppProRule *gone = [[[AppProRule alloc] init] autorelease];
    [gone setIsRuleEnabled:0];
    EXPECT_TRUE(daemon.ids().empty());
}

TEST_F(Pane, LockedPaneRefusesSelectionAndEditing)
{
    start();
    [rulesController setSelectedRuleIndexes:indexes({1})];
    [rulesController tableViewSelectionDidChange:nil];
    [exclusionController setSelectedIndexes:indexes({0})];
    EXPECT_TRUE([rulesController isDeleteEnabled]);
    [rulesController setIsPreferenceEnabled:NO];
    EXPECT_EQ(0u, [[rulesController selectedRuleIndexes] count]);
    EXPECT_EQ(0u, [[exclusionController selectedIndexes] count]);
    EXPECT_FALSE([rulesController isDeleteEnabled]);
    EXPECT_FALSE([rulesController tableView:nil shouldSelectRow:0]);
    EXPECT_FALSE([exclusionController tableView:nil shouldSelectRow:0]);

    [rulesController setClickedRuleRow:1];
    [rulesController EditRules:nil];
    EXPECT_EQ(0, toolkit->sheetsBegun);
    EXPECT_TRUE([rulesController isRuleModification]);
    [rulesController AddNewRule:nil];
    EXPECT_EQ(0, toolkit->sheetsBegun);
    EXPECT_FALSE([rulesController isRuleModification]);

    [toolkit.toolkit playOpenPanelAnswer:list({@"/tmp"})];
    [exclusionController AddExclusion:nil];
    EXPECT_EQ(0u, [toolkit->openPanelRequests count]);
    [exclusionController setSelectedIndexes:indexes({0})];
    [exclusionController RemoveExclusion:nil];
    EXPECT_TRUE(daemon.ids().empty());
    EXPECT_EQ(2u, [excluded() count]);
}

TEST_F(Pane, NewRuleThroughTheSheet)
{
    start();
    std::string exe = panetest::fixtureDir() + "/exe";
    [rulesController AddNewRule:nil];
    EXPECT_EQ(1, toolkit->sheetsBegun);
    // Chosen through a link: the target is stored.
    [toolkit.toolkit playOpenPanelAnswer:list({ns(panetest::fixtureDir() + "/link")})];
    [rulesController ChooseApplication:nil];
    NSDictionary *request = [toolkit->openPanelRequests lastObject];
    EXPECT_EQ("/Applications", utf8([request objectForKey:@"folder"]));
    EXPECT_FALSE([[request objectForKey:@"multiple"] boolValue]);
    EXPECT_EQ(exe, utf8([[rulesController rule] applicationNameWithAbsPath]));

    // Refused: one panel, the sheet stays, the table is unchanged.
    daemon.codes(20000, {AppProtection::DUPLICATE_ENTRY});
    [rulesController AddNewRuleOK:nil];
    EXPECT_EQ(1u, [toolkit->panels count]);
    EXPECT_TRUE([toolkit.toolkit sheetOpen]);
    EXPECT_EQ(4u, [rows() count]);

    daemon.codes(20000, {});
    daemon.clear();
    [rulesController AddNewRuleOK:nil];
    auto sent = daemon.sent<std::vector<BasicAppRecord>>(20000);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(exe, sent[0].getAppGroup());
    EXPECT_TRUE(sent[0].getEnabled());
    EXPECT_TRUE(sent[0].getExecAllowed());
    EXPECT_EQ(1, static_cast<int>(sent[0].getNwAction()));
    EXPECT_TRUE(sent[0].getNwRules().empty());
    ASSERT_EQ(5u, [rows() count]);
    EXPECT_EQ(exe, utf8([[rows() lastObject] applicationNameWithAbsPath]));
    EXPECT_EQ(4u, [[rulesController selectedRuleIndexes] firstIndex]);
    EXPECT_FALSE([toolkit.toolkit sheetOpen]);
    // The new row is observed.
    daemon.clear();
    [[rows() lastObject] setIsRuleEnabled:0];
    EXPECT_EQ(std::vector<int>{20002}, daemon.ids());

    // Confirming without an application does nothing.
    [rulesController AddNewRule:nil];
    daemon.clear();
    [rulesController AddNewRuleOK:nil];
    EXPECT_TRUE(daemon.ids().empty());
    EXPECT_TRUE([toolkit.toolkit sheetOpen]);
    [rulesController AddNewRuleCancel:nil];
    EXPECT_FALSE([toolkit.toolkit sheetOpen]);
    EXPECT_EQ(std::vector<int>{20003}, daemon.ids());
}

TEST_F(Pane, SubRulesAreNumberedAndMoved)
{
    start();
    [rulesController AddNewRule:nil];
    [[rulesController rule] initWithApplicationPath:@"/Applications/E.app"];
    [[rulesController rule] setStatusTag:102];
    for (int i = 0; i < 3; i++)
        [rulesController AddDetailedRule:nil];
    NSMutableArray *subs = [rulesController appProDetailedRulesArray];
    EXPECT_TRUE(subs == [[rulesController rule] detailedRule]);
    ASSERT_EQ(3u, [subs count]);
    EXPECT_EQ(2u, [[rulesController selectedDetailIndexes] firstIndex]);
    AppProDetailedRule *first = [subs objectAtIndex:0];
    EXPECT_EQ(102, [first protocolTag]);
    EXPECT_EQ(100, [first actionTag]);
    EXPECT_EQ(102, [first directionTag]);
    EXPECT_EQ("any", utf8([first ipSubnetString]));
    EXPECT_EQ(0, [first orderNumber]);
    [first setPortRangeString:@"80"];

    [rulesController setSelectedDetailIndexes:indexes({0})];
    [rulesController MoveUpDetailedRule:nil];
    EXPECT_TRUE([subs objectAtIndex:0] == first);
    [rulesController MoveDownDetailedRule:nil];
    EXPECT_TRUE([subs objectAtIndex:1] == first);
    EXPECT_EQ(1u, [[rulesController selectedDetailIndexes] firstIndex]);

    [rulesController AddNewRuleOK:nil];
    auto sent = daemon.sent<std::vector<BasicAppRecord>>(20000);
    ASSERT_EQ(1u, sent.size());
    std::list<AppProtection::NetworkRule> nw = sent[0].getNwRules();
    ASSERT_EQ(3u, nw.size());
    int order = 1;
    for (const auto &r : nw)
        EXPECT_EQ(order++, r.getOrder());
    EXPECT_EQ("80", std::next(nw.begin())->getPortRange());
    EXPECT_EQ(2, [first orderNumber]);
}

TEST_F(Pane, EditReplacesTheRowByPathAfterAReorderingRefetch)
{
    start();
    [rulesController setClickedRuleRow:1];
    [rulesController EditRules:nil];
    EXPECT_EQ(1, toolkit->sheetsBegun);
    [[rulesController rule] setStatusTag:103];
    // Another refetch meanwhile puts B last.
    rules.push_back(rules.front());
    rules.pop_front();
    rules.push_back(*std::next(rules.begin(), 0));
    rules.pop_front();
    [rulesController refreshUIWIthRules];
    ASSERT_EQ("/Applications/B.app", utf8([[rows() lastObject] applicationNameWithAbsPath]));
    daemon.clear();
    [rulesController AddNewRuleOK:nil];
    EXPECT_EQ(std::vector<int>{20002}, daemon.ids());
    EXPECT_EQ(4u, [rows() count]);
    AppProRule *edited = [rows() lastObject];
    EXPECT_EQ("/Applications/B.app", utf8([edited applicationNameWithAbsPath]));
    EXPECT_EQ(103, [edited statusTag]);
    EXPECT_EQ(3u, [[rulesController selectedRuleIndexes] firstIndex]);
    EXPECT_EQ(-1, [AppProPrefsController clickedRowIndex]);
    EXPECT_FALSE([toolkit.toolkit sheetOpen]);
    EXPECT_FALSE([rulesController isRuleModification]);
}

TEST_F(Pane, OpenPanelFilter)
{
    const std::string &dir = panetest::fixtureDir();
    {
        std::ofstream out("/tmp/fooapp");
        out << "x";
    }
    struct Case {
        std::string path;
        BOOL shown;
    } cases[] = {
        {dir + "/folder", YES}, {"/tmp/fooapp", YES}, {dir + "/fooapp", YES},   {dir + "/exe", YES},
        {dir + "/link", YES},   {dir + "/script.sh", NO}, {dir + "/libl.dylib", NO}, {dir + "/dangling", NO},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.shown, [rulesController panel:nil shouldShowFilename:ns(c.path)]);
        EXPECT_EQ(c.shown, [exclusionController panel:nil shouldShowFilename:ns(c.path)]);
    }
    std::remove("/tmp/fooapp");
}

TEST_F(Pane, AddingExclusions)
{
    start();
    const std::string &dir = panetest::fixtureDir();
    std::string deep;
    std::ifstream(dir + "/deep.path") >> deep;
    ASSERT_GT(deep.size(), 4096u);
    [toolkit.toolkit playOpenPanelAnswer:list({@"/Applications/X.app"})];
    [exclusionController AddExclusion:nil];
    // A listed path adds nothing, the list is still sent.
    EXPECT_EQ(std::vector<int>{20007}, daemon.ids());
    EXPECT_EQ(2u, [excluded() count]);
    NSDictionary *request = [toolkit->openPanelRequests lastObject];
    EXPECT_TRUE([[request objectForKey:@"multiple"] boolValue]);
    EXPECT_TRUE([[request objectForKey:@"folders"] boolValue]);

    daemon.clear();
    [toolkit.toolkit playOpenPanelAnswer:list({ns(dir + "/script.sh"), ns(dir + "/link"), ns(dir + "/dangling"),
                                               ns(deep), ns(dir + "/folder"), ns(dir + "/script.sh")})];
    [exclusionController AddExclusion:nil];
    EXPECT_EQ(std::vector<int>{20007}, daemon.ids());
    EXPECT_EQ((std::vector<std::string>{"/Applications/X.app", "/Applications/Y.app", dir + "/script.sh",
                                        dir + "/exe", dir + "/folder"}),
              paths(excluded()));
    EXPECT_EQ(paths(excluded()), daemon.sent<std::vector<std::string>>(20007));

    // Cancelled: nothing sent.
    daemon.clear();
    [toolkit.toolkit playOpenPanelAnswer:nil];
    [exclusionController AddExclusion:nil];
    EXPECT_TRUE(daemon.ids().empty());

    // A refused list: the daemon's list shows again.
    storeUp = false;
    [toolkit.toolkit playOpenPanelAnswer:list({ns(dir + "/libl.dylib")})];
    [exclusionController AddExclusion:nil];
    EXPECT_EQ((std::vector<int>{20007, 20006}), daemon.ids());
    EXPECT_EQ(exclusions, paths(excluded()));
}

TEST_F(Pane, RemovingExclusions)
{
    exclusions = {"/a", "/b", "/c", "/d"};
    start();
    [exclusionController setSelectedIndexes:indexes({1, 2})];
    [exclusionController RemoveExclusion:nil];
    EXPECT_EQ((std::vector<int>{20007, 20007}), daemon.ids());
    EXPECT_EQ((std::vector<std::string>{"/a", "/c", "/d"}), daemon.sent<std::vector<std::string>>(20007, 0));
    EXPECT_EQ((std::vector<std::string>{"/a", "/d"}), daemon.sent<std::vector<std::string>>(20007, 1));
    EXPECT_EQ(0u, [[exclusionController selectedIndexes] firstIndex]);

    // A removal the daemon refused: its list shows again.
    storeUp = false;
    daemon.clear();
    [exclusionController setSelectedIndexes:indexes({0})];
    [exclusionController RemoveExclusion:nil];
    EXPECT_EQ((std::vector<int>{20007, 20006}), daemon.ids());
    EXPECT_EQ((std::vector<std::string>{"/a", "/d"}), paths(excluded()));
}

TEST_F(Pane, UnfetchedExclusionsAreNeverSent)
{
    exclusionsUp = false;
    start();
    EXPECT_EQ(0u, [excluded() count]);
    [toolkit.toolkit playOpenPanelAnswer:list({@"/tmp"})];
    [exclusionController AddExclusion:nil];
    [exclusionController setSelectedIndexes:indexes({0})];
    [exclusionController RemoveExclusion:nil];
    EXPECT_EQ(0u, daemon.count(20007));
}
