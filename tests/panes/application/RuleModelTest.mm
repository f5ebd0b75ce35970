// The rule rows: the three-state enabled value, status and detail flag,
// sub-rule list sharing, reset and copies.
#import "AppProCellGeometry.h"
#import "AppProRule.h"
#import "PaneTestSupport.h"

#include <gtest/gtest.h>

using panetest::utf8;

TEST(RuleModel, EnabledValueFollowsTheMark)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProRule *r = [[[AppProRule alloc] init] autorelease];
    EXPECT_EQ(1, [r isRuleEnabled]);
    [r setIsRuleEnabled:-1];
    EXPECT_EQ(1, [r isRuleEnabled]);
    EXPECT_FALSE([r isRuleModified]);
    [r setIsRuleModified:YES];
    EXPECT_EQ(-1, [r isRuleEnabled]);
    [r setIsRuleEnabled:-1];
    EXPECT_EQ(-1, [r isRuleEnabled]);
    EXPECT_TRUE([r isRuleModified]);
    [r setIsRuleEnabled:0];
    EXPECT_EQ(0, [r isRuleEnabled]);
    EXPECT_FALSE([r isRuleModified]);
    [pool release];
}

TEST(RuleModel, StatusSetsDetailFlag)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProRule *r = [[[AppProRule alloc] init] autorelease];
    EXPECT_EQ(100, [r statusTag]);
    for (int tag : {102, 100, 101, 103, 102}) {
        [r setStatusTag:tag];
        EXPECT_EQ(tag == 102, [r isDetailTableEnabled]) << tag;
    }
    [pool release];
}

TEST(RuleModel, DetailListIsCopiedShallow)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProRule *r = [[[AppProRule alloc] init] autorelease];
    NSMutableArray *held = [r detailedRule];
    [r setDetailedRule:held];
    EXPECT_TRUE([r detailedRule] == held);

    AppProDetailedRule *shared = [[[AppProDetailedRule alloc] init] autorelease];
    NSMutableArray *given = [NSMutableArray arrayWithObject:shared];
    [r setDetailedRule:given];
    EXPECT_TRUE([r detailedRule] != given);
    [given addObject:[[[AppProDetailedRule alloc] init] autorelease]];
    EXPECT_EQ(1u, [[r detailedRule] count]);
    [shared setPortRangeString:@"8080"];
    EXPECT_EQ("8080", utf8([[[r detailedRule] objectAtIndex:0] portRangeString]));
    [pool release];
}

TEST(RuleModel, InitRuleObjectResetsInPlace)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    panetest::ToolkitScope toolkit;
    AppProRule *r = [[[[AppProRule alloc] init] initWithApplicationPath:@"/Applications/Mail.app"] autorelease];
    EXPECT_EQ("Mail", utf8([r applicationName]));
    EXPECT_EQ("/Applications/Mail.app", utf8([r applicationNameWithAbsPath]));
    [r setStatusTag:102];
    [r setIsRuleModified:YES];
    [[r detailedRule] addObject:[[[AppProDetailedRule alloc] init] autorelease]];
    NSMutableArray *list = [r detailedRule];
    [r initRuleObject];
    EXPECT_EQ(100, [r statusTag]);
    EXPECT_FALSE([r isDetailTableEnabled]);
    EXPECT_TRUE([r detailedRule] == list);
    EXPECT_EQ(0u, [list count]);
    EXPECT_TRUE([r isRuleModified]);
    EXPECT_EQ(1, [r isRuleEnabled]);
    EXPECT_TRUE([r applicationName] == nil);
    EXPECT_TRUE([r applicationNameWithAbsPath] == nil);
    [pool release];
}

TEST(RuleModel, CopyKeepsMixedState)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    struct Case {
        BOOL modified;
        int enabled;
    } cases[] = {{YES, -1}, {NO, 0}, {NO, 1}};
    for (const Case &c : cases) {
        AppProRule *r = [[[AppProRule alloc] init] autorelease];
        [r setIsRuleEnabled:c.enabled];
        if (c.modified)
            [r setIsRuleModified:YES];
        [r setApplicationNameWithAbsPath:@"/bin/x"];
        [r setStatusTag:101];
        AppProRule *copy = [[r copy] autorelease];
        EXPECT_EQ(c.enabled, [copy isRuleEnabled]);
        EXPECT_EQ(c.modified, [copy isRuleModified]);
        EXPECT_EQ("/bin/x", utf8([copy applicationNameWithAbsPath]));
        EXPECT_EQ(101, [copy statusTag]);
        EXPECT_TRUE([copy detailedRule] != [r detailedRule]);
    }
    [pool release];
}

TEST(RuleModel, LocalisedStringAnswersKeyWhenMissing)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    panetest::FixtureBundle bundle("AppProPrefs", "\"any\" = \"alle\";\n");
    AppProDetailedRule *d = [[[AppProDetailedRule alloc] init] autorelease];
    EXPECT_EQ("alle", utf8([d getLocalisedString:@"any"]));
    EXPECT_EQ("8080", utf8([d getLocalisedString:@"8080"]));
    EXPECT_EQ(0, [d protocolTag]);
    EXPECT_EQ(0, [d orderNumber]);
    [pool release];
}

TEST(CellGeometry, RectanglesColoursAndTruncation)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProCellRect frame{40, 60, 300, 20};
    AppProCellRect icon = AppProCellIconRect(frame);
    EXPECT_DOUBLE_EQ(45, icon.x);
    EXPECT_DOUBLE_EQ(63, icon.y);
    EXPECT_DOUBLE_EQ(14, icon.w);
    EXPECT_DOUBLE_EQ(14, icon.h);
    AppProCellRect text = AppProCellTextRect(frame, 14);
    EXPECT_DOUBLE_EQ(70, text.x);
    EXPECT_DOUBLE_EQ(63, text.y);
    EXPECT_DOUBLE_EQ(270, text.w);
    EXPECT_DOUBLE_EQ(20, text.h);

    struct Case {
        bool unlocked, highlighted, disabled;
        AppProCellColour want;
    } cases[] = {
        {false, false, false, AppProCellColourGray},      {false, true, false, AppProCellColourGray},
        {false, true, true, AppProCellColourGray},        {true, true, true, AppProCellColourSelected},
        {true, false, true, AppProCellColourDisabled},    {true, false, false, AppProCellColourNormal},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.want, AppProCellColourFor(c.unlocked, c.highlighted, c.disabled));

    NSString *path = @"/Applications/Utilities/Some Very Long Folder Name/Deep/Inside/Tool.app";
    NSString *cut = AppProTruncateMiddle(path, 30);
    EXPECT_EQ(30u, [cut length]);
    EXPECT_TRUE([cut hasPrefix:@"/Applications/"]);
    EXPECT_TRUE([cut hasSuffix:@"Tool.app"]);
    EXPECT_TRUE([cut rangeOfString:@"..."].location != NSNotFound);
    EXPECT_EQ("short", utf8(AppProTruncateMiddle(@"short", 30)));
    [pool release];
}
