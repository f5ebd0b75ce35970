// The principal class as the host drives it: views by identifier, texts,
// about box, recent events, the protection switch and the alert views, with
// NSApp on a virtual display and the in-process hub as the daemon.
#import <AppKit/AppKit.h>

#import "AppProAlert.h"
#import "AppProAlertNotificationView.h"
#import "AppProPanelPorts.h"
#import "AppProPrefsView.h"
#import "AppProtectPrincipalClass.h"
#import "PaneTestSupport.h"
#import "UIRecentEventsData.h"

#include <gtest/gtest.h>

#include "ReportRecords.h"

// GNUstep's allocation counters (declared only in debug builds).
extern "C" BOOL GSDebugAllocationActive(BOOL active);
extern "C" int GSDebugAllocationTotal(Class c);

using AppProtection::AppProtPrefsData;
using panetest::ns;
using panetest::utf8;

namespace {

std::vector<std::string> strings(NSArray *a)
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [a count]; i++)
        out.push_back(utf8([a objectAtIndex:i]));
    return out;
}

/// Every text field's string under `view`, in order.
void texts(NSView *view, std::vector<std::string> &out)
{
    if ([view isKindOfClass:[NSTextField class]])
        out.push_back(utf8([(NSTextField *)view stringValue]));
    NSArray *subs = [view subviews];
    for (NSUInteger i = 0; i < [subs count]; i++)
        texts([subs objectAtIndex:i], out);
}

class Principal : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        [NSApplication sharedApplication];
        GSDebugAllocationActive(YES);
    }
    void SetUp() override
    {
        pool = [NSAutoreleasePool new];
        { bundle.reset(); bundle.reset(new panetest::PaneBundle()); }
        prefs.setPromptTimeout(33);
        prefs.setUnknownAppAction(3);
        prefs.setAllowAppleSignedBinaries(true);
        prefs.setCustomNetworkAction(true);
        prefs.setEnableAppProtection(false);
        daemon.answer(20003, std::list<AppProtection::BasicAppRecord>());
        daemon.on(20004, [this](HVO::CommandData &, HVO::CommandResult &r) {
            if (!prefsReadable)
                return false;
            r.setCustomData(prefs);
            return true;
        });
        daemon.answer(20006, std::vector<std::string>());
        daemon.code(20005, AppProtection::SUCCESS);
        principal = [[AppProtectPrincipalClass alloc] init];
    }
    void TearDown() override
    {
        [principal release];
        bundle.reset();
        [pool release];
    }
    NSAutoreleasePool *pool;
    std::unique_ptr<panetest::PaneBundle> bundle;
    panetest::FakeDaemon daemon;
    AppProtPrefsData prefs;
    bool prefsReadable = true;
    AppProtectPrincipalClass *principal;
};

TEST_F(Principal, PreferenceViewIsBuiltOnceAndOtherIdentifiersAnswerNil)
{
    int before = GSDebugAllocationTotal([AppProPrefsView class]);
    NSView *first = [principal viewForStringIdentifier:@"AppProtection_View"];
    NSView *second = [principal viewForStringIdentifier:@"AppProtection_View"];
    EXPECT_NE(first, nil);
    EXPECT_EQ(first, second);
    EXPECT_LE(GSDebugAllocationTotal([AppProPrefsView class]) - before, 1);

    daemon.clear();
    EXPECT_EQ([principal viewForStringIdentifier:@"X"], nil);
    std::vector<int> ids = daemon.ids();
    for (int id : {20003, 20004, 20006})
        EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end()) << id;
}

TEST_F(Principal, OneBuilderGivesBothPanelViews)
{
    RecordingHost *slots = [[[RecordingHost alloc] init] autorelease];
    [principal setAlerter:slots];
    AppProtection::AppProtAlert alert;
    alert.setAppName("/Applications/Mail.app");
    alert.setOperation(static_cast<AppProtection::Operation>(100));
    alert.setTimeout(0);
    ReporterData data;
    data.setHvkId(3);
    data.setAlertType(ALERT_TYPE_ALERT);
    data.setAlertCustomData(alert);
    HVO::CommandData out(60001, 102, false);
    out.setCustomData(data);
    HVO::CommandData command(60001, 102, false);
    HVO::PayloadAccess::setInput(command, HVO::PayloadAccess::outputText(out));
    [principal addAlertFromHvo:&command];
    ASSERT_EQ([slots->calls count], 1u);
    NSString *identifier = [[[slots->calls lastObject] componentsSeparatedByString:@" "] lastObject];

    NSView *alertView = [principal viewForAlert:identifier];
    ASSERT_NE(alertView, nil);
    int built = GSDebugAllocationTotal([AppProAlertNotificationView class]);
    NSView *notificationView = [principal viewForNotification:@"1"];
    EXPECT_NE(notificationView, nil);
    EXPECT_NE(notificationView, alertView);
    EXPECT_EQ([principal viewForAlert:identifier], alertView);
    EXPECT_EQ(GSDebugAllocationTotal([AppProAlertNotificationView class]), built);

    std::vector<std::string> shown;
    texts(alertView, shown);
    EXPECT_NE(std::find(shown.begin(), shown.end(), "Mail is trying to execute"), shown.end());
    [[AppProAlert sharedAppProAlert] denyButtonClicked:nil];
    EXPECT_EQ(utf8([slots->calls lastObject]), "DeleteAlert 3 " + utf8(identifier));
    [principal setAlerter:nil];
}

TEST_F(Principal, WithoutTheNibResourceTheViewsAreNil)
{
    panetest::FixtureBundle empty("AppProtection", "\"ProductName\" = \"P\";\n");
    AppProtectPrincipalClass *other = [[[AppProtectPrincipalClass alloc] init] autorelease];
    EXPECT_EQ([other viewForAlert:@"1"], nil);
    EXPECT_EQ([other viewForNotification:@"1"], nil);
    EXPECT_EQ([other viewForStringIdentifier:@"AppProtection_View"], nil);
}

TEST_F(Principal, AboutBoxLines)
{
    struct Case {
        bool projectTable;
        std::map<std::wstring, std::wstring> map;
        std::vector<std::string> lines;
    } cases[] = {
        {false, {{L"Application_Protection_HF", L"3"}}, {"Application_Protection_HF: 3"}},
        {false, {}, {}},
        {false, {{L"Other", L"9"}}, {}},
        {true,
         {{L"Application_Protection_HF", L"3"},
          {L"Application_Protection_Version", L"1.0"},
          {L"Application_Protection_SPVersion", L"2"}},
         {"Application Protection Version: 1.0", "Service Pack: 2", "Hot Fix: 3"}},
    };
    for (const Case &c : cases) {
        {
            std::unique_ptr<panetest::FixtureBundle> lacking;
            if (!c.projectTable)
                lacking.reset(new panetest::FixtureBundle("AppProtection", "\"ProductName\" = \"P\";\n"));
            AboutBoxData data;
            data.setAboutBoxDisplayContents(c.map);
            NSAutoreleasePool *inner = [NSAutoreleasePool new];
            NSMutableArray *lines = [principal arrayForAboutBox:&data];
            EXPECT_EQ(strings(lines), c.lines);
            // Autoreleased once: the caller's pool frees it.
            EXPECT_EQ([lines retainCount], 1u);
            EXPECT_EQ([NSAutoreleasePool autoreleaseCountForObject:lines], 1u);
            [inner release];
        }
        { bundle.reset(); bundle.reset(new panetest::PaneBundle()); }
    }
}

TEST_F(Principal, RecentEventRows)
{
    struct Case {
        bool projectTable;
        const wchar_t *title;
        std::map<std::wstring, std::wstring> header;
        bool row;
        const char *headerText;
        const char *subject; // nullptr: none
    } cases[] = {
        {false, L"RE_NetworkAccess", {}, true, "application is blocked from network connection", nullptr},
        {false, L"RE_NetworkAccess", {{L"RE_ApplicationPath", L"/x/A.app"}}, true,
         "application is blocked from network connection", nullptr},
        {false, L"RE_Other", {{L"RE_NetworkPath", L"/x/A.app"}}, false, nullptr, nullptr},
        {true, L"RE_ApplicationAccess", {{L"RE_ApplicationPath", L"/Applications/Mail.app"}}, true,
         "Application blocked from execution", "Name: Mail"},
        {true, L"RE_NetworkAccess", {{L"RE_NetworkPath", L"/opt/caf\u00e9"}}, true,
         "Application blocked from network connection", "Name: caf\xc3\xa9"},
    };
    for (const Case &c : cases) {
        std::unique_ptr<panetest::FixtureBundle> lacking;
        if (!c.projectTable)
            lacking.reset(new panetest::FixtureBundle("RecentEvent", "\"name\" = \"N\";\n"));
        else
            { bundle.reset(); bundle.reset(new panetest::PaneBundle()); }
        DetailReportData data;
        data.setTitle(c.title);
        data.setHeader(c.header);
        // The record's time as held (the constructor sets it).
        int32_t time = data.getTime();
        UIRecentEventsData *row = [principal dataForRecentEvents:&data];
        EXPECT_EQ(row != nil, c.row);
        if (row != nil) {
            EXPECT_EQ(utf8([row headerString]), c.headerText);
            EXPECT_EQ([row timeOfEvent], time);
            if (c.subject == nullptr)
                EXPECT_EQ([row subjectString], nil);
            else
                EXPECT_EQ(utf8([row subjectString]), c.subject);
            [row release];
        }
    }
}

TEST_F(Principal, Texts)
{
    EXPECT_EQ(utf8([principal hvkNameDisplayString]), "Application Protection");
    EXPECT_EQ(utf8([principal getLocalisedString:@"NoSuchKey"]), "NoSuchKey");
    EXPECT_EQ(utf8([principal localisedStringForRecentEvents:@"name"]), "Name: ");
    EXPECT_EQ(utf8([principal localisedStringForAboutBox:@"1.0"]), "1.0");
}

TEST_F(Principal, ProtectionSwitchChangesOnlyTheEnableFlag)
{
    struct Case {
        BOOL value;
        bool readable;
        int answer;
        bool sent;
        bool enabled;
    } cases[] = {
        {1, true, 0, true, true}, {0, true, 0, true, false}, {7, true, 0, true, false}, {1, false, -1, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        prefsReadable = c.readable;
        daemon.clear();
        NSNumber *answer = [principal SetStatusForGeneralPreferenceWithIdentifier:@"ignored" value:c.value];
        EXPECT_EQ([answer intValue], c.answer);
        std::vector<int> expected = {20004};
        if (c.sent)
            expected.push_back(20005);
        EXPECT_EQ(daemon.ids(), expected);
        if (c.sent) {
            AppProtPrefsData written = daemon.sent<AppProtPrefsData>(20005);
            EXPECT_EQ(written.getEnableAppProtection(), c.enabled);
            EXPECT_EQ(written.getPromptTimeout(), 33);
            EXPECT_EQ(written.getUnknownAppAction(), 3);
            EXPECT_TRUE(written.getAllowAppleSignedBinaries());
            EXPECT_TRUE(written.getCustomNetworkAction());
        }
    }
}

TEST_F(Principal, StatusReadsTheDaemonAndIsNoWithoutOne)
{
    prefs.setEnableAppProtection(true);
    EXPECT_TRUE([[principal statusForGeneralPreferenceWithIdentifier:@"x"] boolValue]);
    prefsReadable = false; // no module 3 on the hub
    EXPECT_FALSE([[principal statusForGeneralPreferenceWithIdentifier:@"x"] boolValue]);
}

} // namespace
