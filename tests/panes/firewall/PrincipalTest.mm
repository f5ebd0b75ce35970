// The built PortWardPane.bundle loaded as the host loads it, on a display,
// the test peer playing the firewall service.
#import <AppKit/AppKit.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#import "FirewallPrincipleClass.h"
#import "PaneSupport.h"
#include "ReportRecords.h"

using fwptest::FakeService;
using fwptest::utf8;
using fwptest::Ids;

namespace {

FirewallPrincipleClass *pane()
{
    static FirewallPrincipleClass *principal = nil;
    if (principal == nil) {
        NSBundle *bundle = [NSBundle bundleWithPath:@PORTWARD_BUNDLE_DIR];
        if (![bundle load])
            return nil;
        principal = [[[bundle principalClass] alloc] init];
    }
    return principal;
}

TEST(FirewallPrincipalClass, TheViewAndItsRefresh)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    [NSApplication sharedApplication];
    FakeService service;
    FirewallPrincipleClass *p = pane();
    ASSERT_NE(nil, p);
    EXPECT_EQ("FirewallPrincipleClass", std::string(object_getClassName(p)));

    EXPECT_EQ(nil, [p viewForStringIdentifier:@"AppProPreferene_view"]);
    EXPECT_EQ(nil, [p viewForStringIdentifier:nil]);
    EXPECT_TRUE(service.ids().empty());

    NSView *view = [p viewForStringIdentifier:@"FWPreferene_view"];
    ASSERT_NE(nil, view);
    // Bare true replies carry no payload: nothing is applied, nothing sent back.
    EXPECT_EQ((Ids{10205, 10205, 10212}), service.ids());
    service.clear();
    EXPECT_EQ(view, [p viewForStringIdentifier:@"FWPreferene_view"]);
    EXPECT_EQ((Ids{10205, 10205, 10212}), service.ids());
    [pool release];
}

TEST(FirewallPrincipalClass, HostTexts)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    FakeService service;
    FirewallPrincipleClass *p = pane();
    ASSERT_NE(nil, p);
    AboutBoxData about;
    about.setAboutBoxDisplayContents({{L"Firewall_HF", L"L"}});
    NSArray *lines = [p arrayForAboutBox:&about];
    ASSERT_EQ(1u, [lines count]);
    EXPECT_EQ("Firewall_HF: L", utf8([lines objectAtIndex:0]));
    about.setAboutBoxDisplayContents({{L"FirewallVersionAndBuildNo", L"5.0"}, {L"Other", L"x"}});
    lines = [p arrayForAboutBox:&about];
    ASSERT_EQ(2u, [lines count]);
    EXPECT_EQ("Version: 5.0", utf8([lines objectAtIndex:0]));

    EXPECT_EQ("Firewall", utf8([p hvkNameDisplayString]));
    EXPECT_EQ("no such key", utf8([p getLocalisedString:@"no such key"]));

    service.answer(10201, true);
    EXPECT_EQ(0, [[p SetStatusForGeneralPreferenceWithIdentifier:@"x" value:YES] intValue]);
    EXPECT_EQ(1, [[p statusForGeneralPreferenceWithIdentifier:@"x"] intValue]);
    service.fail(10200);
    EXPECT_EQ(-1, [[p SetStatusForGeneralPreferenceWithIdentifier:@"x" value:NO] intValue]);
    [pool release];
}

NSMatrix *findMatrix(NSView *view)
{
    if ([view isKindOfClass:[NSMatrix class]])
        return (NSMatrix *)view;
    NSArray *subs = [view subviews];
    for (NSUInteger i = 0; i < [subs count]; i++) {
        NSMatrix *m = findMatrix([subs objectAtIndex:i]);
        if (m != nil)
            return m;
    }
    return nil;
}

// The mode radio shows the rules controller's mode, whoever set it.
TEST(FirewallPrincipalClass, TheModeRadioShowsTheMode)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    [NSApplication sharedApplication];
    FakeService service;
    FirewallPrincipleClass *p = pane();
    ASSERT_NE(nil, p);
    NSMatrix *mode = findMatrix([p viewForStringIdentifier:@"FWPreferene_view"]);
    ASSERT_NE(nil, mode);
    id rules = [NSClassFromString(@"PreferenceRules") performSelector:@selector(sharedPreferenceRules)];
    ASSERT_NE(nil, rules);
    typedef void (*SetMode)(id, SEL, int);
    SetMode setMode = (SetMode)(void *)[rules methodForSelector:@selector(setAllowDenyCustom:)];
    struct {
        int chosen;
        long shown; // -1: neither button
    } cases[] = {{1001, 1001}, {1000, 1000}, {1001, 1001}, {7, -1}, {1000, 1000}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.chosen);
        setMode(rules, @selector(setAllowDenyCustom:), c.chosen);
        NSCell *selected = [mode selectedCell];
        EXPECT_EQ(c.shown, selected != nil ? (long)[selected tag] : -1L);
    }
    [pool release];
}

/// The colours of a screenshot (ImageMagick): 1 for a bare root window.
int colours(const std::string &png)
{
    std::string cmd = "identify -format %k '" + png + "'";
    FILE *f = popen(cmd.c_str(), "r");
    int n = -1;
    if (f != nullptr) {
        if (fscanf(f, "%d", &n) != 1)
            n = -1;
        pclose(f);
    }
    return n;
}

TEST(FirewallPrincipalClass, TheViewDraws)
{
    NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
    [NSApplication sharedApplication];
    FakeService service;
    FirewallPrincipleClass *p = pane();
    ASSERT_NE(nil, p);
    NSView *view = [p viewForStringIdentifier:@"FWPreferene_view"];
    ASSERT_NE(nil, view);
    NSWindow *window = [[NSWindow alloc] initWithContentRect:[view frame]
                                                   styleMask:NSTitledWindowMask
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
    [window setContentView:view];
    [window orderFront:nil];
    [window display];
    [[NSRunLoop currentRunLoop] runUntilDate:[NSDate dateWithTimeIntervalSinceNow:1.0]];
    std::string dir = PORTWARD_ARTIFACTS;
    std::string png = dir + "/portward-view.png";
    ASSERT_EQ(0, std::system(("mkdir -p '" + dir + "' && import -window root '" + png + "'").c_str()));
    EXPECT_GT(colours(png), 10);
    [window orderOut:nil];
    [pool release];
}

} // namespace
