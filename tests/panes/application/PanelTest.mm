// The alert and notification panels against a recording host, a timer that
// fires on demand and the in-process hub (which records the answers).
#import "AppProAlert.h"
#import "AppProNotifier.h"
#import "AppProPanelPorts.h"
#import "AuthorizeUser.h"
#import "PaneTestSupport.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "HVOTestPeer.h"
#include "ReportRecords.h"
#include "TraceCapture.h"

// GNUstep's allocation counters (declared only in debug builds).
extern "C" BOOL GSDebugAllocationActive(BOOL active);
extern "C" int GSDebugAllocationCount(Class c);

using panetest::ns;
using panetest::utf8;

/// What a scheduled timer hands to its selector.
@interface FakeTimerEntry : NSObject {
@public
    NSTimeInterval seconds;
    id target;
    SEL selector;
    id info;
}
- (id)userInfo;
@end

@implementation FakeTimerEntry
- (id)userInfo { return info; }
- (void)dealloc
{
    [target release];
    [info release];
    [super dealloc];
}
@end

/// Records each timer; fires one on demand.
@interface FakeTimer : NSObject <AppProTimerPort> {
@public
    NSMutableArray *entries;
}
- (void)fire:(NSUInteger)index;
@end

@implementation FakeTimer
- (id)init
{
    self = [super init];
    entries = [[NSMutableArray alloc] init];
    return self;
}
- (void)dealloc
{
    [entries release];
    [super dealloc];
}
- (void)scheduleAfter:(NSTimeInterval)seconds target:(id)target selector:(SEL)selector userInfo:(id)info
{
    FakeTimerEntry *e = [[FakeTimerEntry alloc] init];
    e->seconds = seconds;
    e->target = [target retain];
    e->selector = selector;
    e->info = [info retain];
    [entries addObject:e];
    [e release];
}
- (void)fire:(NSUInteger)index
{
    FakeTimerEntry *e = [entries objectAtIndex:index];
    [e->target performSelector:e->selector withObject:e];
}
@end

/// Runs the hand-over on the calling thread, one at a time.
@interface InlineMainThread : NSObject <AppProMainThreadPort>
@end

@implementation InlineMainThread
- (void)runOnMainThread:(id)target selector:(SEL)selector argument:(id)argument
{
    @synchronized(self) { [target performSelector:selector withObject:argument]; }
}
@end

namespace {

std::atomic<int> authorizeAnswer{0};
std::atomic<int> authorizeCalls{0};

int scriptedAuthorize(void)
{
    authorizeCalls++;
    return authorizeAnswer.load();
}

AppProtection::AppProtAlert makeAlert(const std::string &path, int operation, int timeout, int cookie,
                                      bool allowNetwork)
{
    sockaddr_in addr{};
    addr.sin_port = 8080;
    addr.sin_addr.s_addr = 117571776;
    AppProtection::AppProtAlert alert(path, static_cast<AppProtection::Operation>(operation), addr,
                                      static_cast<AppProtection::NWProtocol>(1));
    alert.setAction(boost::logic::indeterminate);
    alert.setTimeout(timeout);
    alert.setCookie(cookie);
    alert.setAllowNetwork(allowNetwork);
    return alert;
}

/// The archive text of a ReporterData holding `alert`, as the daemon writes it.
std::wstring payloadOf(AppProtection::AppProtAlert alert, int type = ALERT_TYPE_ALERT)
{
    ReporterData data;
    data.setHvkId(3);
    data.setAlertType(type);
    data.setAlertCustomData(alert);
    HVO::CommandData out(60001, 102, false);
    out.setCustomData(data);
    return HVO::PayloadAccess::outputText(out);
}

/// A received command: header as the hub delivers it, payload `text`.
std::unique_ptr<HVO::CommandData> received(int commandId, const std::wstring &text, uint32_t seq)
{
    std::unique_ptr<HVO::CommandData> c(new HVO::CommandData(commandId, 102, false));
    HVO::PayloadAccess::setHeader(*c, commandId, seq, 3, 102, true, 7);
    HVO::PayloadAccess::setInput(*c, text);
    return c;
}

struct Answer {
    HVO::BasicCommandData header;
    bool status = false;
    bool completed = false;
    AppProtection::AppProtAlert alert;
    int hvkId = -1;
    int type = -1;
};

Answer decode(const HVO::TestPeer::Reply &r)
{
    Answer a;
    a.header = r.header;
    a.status = r.status;
    a.completed = r.completed;
    HVO::CommandData in(0, 0, false);
    HVO::PayloadAccess::setInput(in, r.text);
    ReporterData data;
    in.getCustomData(data);
    data.getAlertCustomData(a.alert);
    a.hvkId = data.getHvkId();
    a.type = data.getAlertType();
    return a;
}

std::vector<std::string> strings(NSArray *a)
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [a count]; i++)
        out.push_back(utf8([a objectAtIndex:i]));
    return out;
}

class Panels : public ::testing::Test {
protected:
    void SetUp() override
    {
        pool = [NSAutoreleasePool new];
        texts.reset(new panetest::PaneBundle());
        host = [[RecordingHost alloc] init];
        timer = [[FakeTimer alloc] init];
        AppProSetTimer(timer);
        AppProSetMainThread([[[InlineMainThread alloc] init] autorelease]);
        alerts = [[AppProAlert alloc] initController];
        [alerts setAlerter:host];
        notifier = [[AppProNotifier alloc] initController];
        [notifier setNotifier:host];
        authorizeAnswer = 0;
        authorizeCalls = 0;
        SetAuthorizeUserHandler(scriptedAuthorize);
    }
    void TearDown() override
    {
        SetAuthorizeUserHandler(NULL);
        AppProSetTimer(nil);
        AppProSetMainThread(nil);
        [timer release]; // releases the controllers the timers held
        [alerts release];
        [notifier release];
        [host release];
        texts.reset();
        [pool release];
    }
    /// Delivers an alert as the host does (the command is freed at once);
    /// answers the identifier it got.
    std::string deliver(const AppProtection::AppProtAlert &alert, uint32_t seq = 41)
    {
        auto command = received(60001, payloadOf(alert), seq);
        [alerts addAlertFromHvo:command.get()];
        command.reset();
        NSString *last = [host->calls lastObject];
        return utf8([[last componentsSeparatedByString:@" "] lastObject]);
    }
    std::string notify(const AppProtection::AppProtAlert &alert)
    {
        auto command = received(60000, payloadOf(alert, ALERT_TYPE_NOTIFICATION), 9);
        [notifier addNotificationFromHvo:command.get()];
        command.reset();
        NSString *last = [host->calls lastObject];
        return utf8([[last componentsSeparatedByString:@" "] lastObject]);
    }
    std::vector<std::string> calls() { return strings(host->calls); }

    NSAutoreleasePool *pool;
    RecordingHost *host;
    FakeTimer *timer;
    AppProAlert *alerts;
    AppProNotifier *notifier;
    HVO::TestPeer peer;
    std::unique_ptr<panetest::PaneBundle> texts;
};

TEST_F(Panels, DaemonsArchiveTextDecodesToTheAlert)
{
    // As the daemon's records and boost 1.74 write an alert for
    // /opt/x/app (192.0.2.7:8080 as held, action indeterminate).
    const std::wstring fixture = L"22 serialization::archive 18 0 0 3 32 79 "
                                 L"22 serialization::archive 18 0 0 10 /opt/x/app 100 3 8080 117571776 1 60 77 0 1";
    EXPECT_EQ(payloadOf(makeAlert("/opt/x/app", 100, 60, 77, true)), fixture);
    auto command = received(60001, fixture, 5);
    AppProAlertData *record = [[[AppProAlertData alloc] init] autorelease];
    [record setData:command.get()];
    [record retriveAppProDetails];
    EXPECT_EQ([record timeOut], 60);
    EXPECT_EQ(utf8([record applicationName]), "app");
}

TEST_F(Panels, IdentifiersCountToOneHundredThousandThenWrapToZero)
{
    EXPECT_EQ(deliver(makeAlert("/opt/x/app", 100, 0, 1, true)), "1");
    struct Step {
        int after; // identifiers drawn before this step
        const char *expected;
    } steps[] = {{1, "2"}, {99999, "100000"}, {100000, "0"}, {100001, "1"}};
    int drawn = 1;
    for (const Step &s : steps) {
        while (drawn < s.after) {
            [alerts getNewAlertIdentifier];
            drawn++;
        }
        EXPECT_EQ(utf8([alerts getNewAlertIdentifier]), s.expected) << "after " << s.after;
        drawn++;
    }
}

TEST_F(Panels, UnansweredAlertIsDeniedOnceByItsTimerWhileAnotherIsShown)
{
    std::string first = deliver(makeAlert("/Applications/Mail.app", 100, 30, 77, true), 41);
    std::string second = deliver(makeAlert("/opt/other", 100, 30, 78, true), 42);
    ASSERT_EQ([timer->entries count], 2u);
    EXPECT_EQ(((FakeTimerEntry *)[timer->entries objectAtIndex:0])->seconds, 30.0);
    [alerts setViewForidentifier:ns(second)];
    [alerts setAction:1];

    [timer fire:0];
    auto replies = peer.responses();
    ASSERT_EQ(replies.size(), 1u);
    Answer a = decode(replies[0]);
    EXPECT_EQ(a.alert.getCookie(), 77);
    EXPECT_TRUE(!a.alert.getAction());
    EXPECT_FALSE(a.alert.getAlways());
    EXPECT_EQ(calls().back(), "DeleteAlert 3 " + first);
    // The shown alert is untouched.
    EXPECT_EQ(utf8([alerts selectedAlertIdentifier]), second);
    EXPECT_EQ([alerts action], 1);
}

TEST_F(Panels, NoTimerForTimeOutsOfZeroOrLess)
{
    for (int timeout : {0, -1}) {
        deliver(makeAlert("/opt/x/app", 100, timeout, 1, true));
        EXPECT_EQ([timer->entries count], 0u) << timeout;
    }
}

TEST_F(Panels, TimerAfterTheAnswerDoesNothing)
{
    std::string id = deliver(makeAlert("/opt/x/app", 100, 5, 1, true));
    [alerts setViewForidentifier:ns(id)];
    [alerts denyButtonClicked:nil];
    size_t replies = peer.responses().size();
    size_t before = [host->calls count];
    [timer fire:0];
    EXPECT_EQ(peer.responses().size(), replies);
    EXPECT_EQ([host->calls count], before);
}

TEST_F(Panels, AnswersCarryTheChoiceAndTheRequestUnchanged)
{
    authorizeAnswer = 1;
    struct Case {
        const char *button;
        int choice;
        bool receivedNetwork;
        bool action, allowNetwork, always;
    } cases[] = {
        {"always", 1, true, true, false, true},
        {"once", 2, true, false, true, false},
        {"once", 2, false, false, false, false},
        {"once", 0, false, true, true, false},
        {"always", 0, false, true, true, true},
    };
    uint32_t seq = 100;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.button) + " choice " + std::to_string(c.choice));
        AppProtection::AppProtAlert sent = makeAlert("/Applications/Mail.app", 100, 60, 4242, c.receivedNetwork);
        std::string id = deliver(sent, ++seq);
        [alerts setViewForidentifier:ns(id)];
        [alerts setAction:c.choice];
        size_t before = peer.responses().size();
        if (std::string(c.button) == "always")
            [alerts allowButtonClicked:nil];
        else
            [alerts denyButtonClicked:nil];
        auto replies = peer.responses();
        ASSERT_EQ(replies.size(), before + 1);
        Answer a = decode(replies.back());
        EXPECT_EQ(a.alert.getAction() == true, c.action);
        EXPECT_EQ(a.alert.getAllowNetwork(), c.allowNetwork);
        EXPECT_EQ(a.alert.getAlways(), c.always);
        // Header as received, all six fields.
        EXPECT_EQ(a.header.getCommandId(), 60001);
        EXPECT_EQ(a.header.getBrokerWord1(), seq);
        EXPECT_EQ(a.header.getBrokerWord2(), 3);
        EXPECT_EQ(a.header.getDestinationId(), 102);
        EXPECT_TRUE(a.header.getCommandFlag());
        EXPECT_EQ(a.header.getBrokerWord3(), 7);
        EXPECT_TRUE(a.status);
        EXPECT_TRUE(a.completed);
        EXPECT_EQ(a.hvkId, 3);
        EXPECT_EQ(a.type, ALERT_TYPE_ALERT);
        EXPECT_EQ(a.alert.getCookie(), 4242);
        EXPECT_EQ(a.alert.getTimeout(), 60);
        EXPECT_EQ(a.alert.getAppName(), "/Applications/Mail.app");
        EXPECT_EQ(a.alert.getOperation(), sent.getOperation());
        EXPECT_EQ(a.alert.getSockAddr().sin_port, 8080);
        EXPECT_EQ(a.alert.getSockAddr().sin_addr.s_addr, 117571776u);
        EXPECT_EQ(a.alert.getNWProtocol(), sent.getNWProtocol());
        EXPECT_EQ(calls().back(), "DeleteAlert 3 " + id);
    }
}

TEST_F(Panels, TwoPendingAlertsKeepTheirOwnChoices)
{
    std::string a = deliver(makeAlert("/opt/a", 100, 0, 1, true));
    std::string b = deliver(makeAlert("/opt/b", 100, 0, 2, true));
    [alerts setViewForidentifier:ns(a)];
    EXPECT_EQ([alerts action], 0);
    [alerts setAction:2];
    [alerts setViewForidentifier:ns(b)];
    EXPECT_EQ([alerts action], 0);
    EXPECT_EQ(utf8([alerts alertString]), "b is trying to execute");
    [alerts setAction:1];
    [alerts setViewForidentifier:ns(a)];
    EXPECT_EQ([alerts action], 2);
    [alerts denyButtonClicked:nil];
    [alerts setViewForidentifier:ns(b)];
    EXPECT_EQ([alerts action], 1);
    [alerts denyButtonClicked:nil];
    auto replies = peer.responses();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(decode(replies[0]).alert.getCookie(), 1);
    EXPECT_TRUE(!decode(replies[0]).alert.getAction());
    EXPECT_EQ(decode(replies[1]).alert.getCookie(), 2);
    EXPECT_TRUE(decode(replies[1]).alert.getAction() == true);
    EXPECT_FALSE(decode(replies[1]).alert.getAllowNetwork());
}

TEST_F(Panels, AlwaysNeedsOneGrantedAuthorisation)
{
    std::string a = deliver(makeAlert("/opt/a", 100, 0, 1, true));
    [alerts setViewForidentifier:ns(a)];
    struct Click {
        int answer;
        int promptsAfter;
        size_t repliesAfter;
        bool pending;
    } clicks[] = {{0, 1, 0, true}, {0, 2, 0, true}, {1, 3, 1, false}};
    for (const Click &c : clicks) {
        authorizeAnswer = c.answer;
        [alerts allowButtonClicked:nil];
        EXPECT_EQ(authorizeCalls.load(), c.promptsAfter);
        EXPECT_EQ(peer.responses().size(), c.repliesAfter);
        EXPECT_EQ(calls().back() == "DeleteAlert 3 " + a, !c.pending);
    }
    authorizeAnswer = 0;
    std::string b = deliver(makeAlert("/opt/b", 100, 0, 2, true));
    [alerts setViewForidentifier:ns(b)];
    [alerts allowButtonClicked:nil];
    EXPECT_EQ(authorizeCalls.load(), 3);
    EXPECT_EQ(peer.responses().size(), 2u);
}

TEST_F(Panels, AnswerWithTheHubGoneIsTracedAndTheSlotStillGoes)
{
    wardtest::TraceCapture trace;
    std::string id = deliver(makeAlert("/opt/a", 100, 0, 1, true));
    peer.setHubReachable(false);
    [alerts setViewForidentifier:ns(id)];
    [alerts denyButtonClicked:nil];
    EXPECT_EQ(calls().back(), "DeleteAlert 3 " + id);
    EXPECT_NE(trace.text().find("sendResponseToAlert - cannot reach hvod"), std::string::npos) << trace.text();
    // Nothing left to answer: the next click sends nothing and still asks
    // the host to delete the slot.
    peer.setHubReachable(true);
    [alerts denyButtonClicked:nil];
    EXPECT_TRUE(peer.responses().empty());
    EXPECT_EQ(calls().back(), "DeleteAlert 3 " + id);
}

TEST_F(Panels, PayloadThatIsNoAlertRegistersNothing)
{
    for (const wchar_t *text : {L"22 serialization::archive 18 0 0 3 32 5 hello",
                                L"22 serialization::archive 18 0 0 3 32 999 short"}) {
        auto command = received(60001, text, 3);
        [alerts addAlertFromHvo:command.get()];
    }
    EXPECT_TRUE(calls().empty());
}

TEST_F(Panels, AlertsReachTheMainThreadWhileAModalSessionRuns)
{
    AppProSetMainThread(nil);
    std::atomic<bool> done{false};
    std::wstring text = payloadOf(makeAlert("/opt/a", 100, 0, 1, true));
    std::thread t([&] {
        auto command = received(60001, text, 3);
        [alerts addAlertFromHvo:command.get()];
        done = true;
    });
    // A modal session's loop has its own sources (the display); a timer
    // stands for them here.
    NSTimer *source = [NSTimer timerWithTimeInterval:0.05 target:host selector:@selector(description) userInfo:nil repeats:YES];
    [[NSRunLoop currentRunLoop] addTimer:source forMode:@"NSModalPanelRunLoopMode"];
    NSDate *limit = [NSDate dateWithTimeIntervalSinceNow:5];
    while (!done && [limit timeIntervalSinceNow] > 0)
        [[NSRunLoop currentRunLoop] runMode:@"NSModalPanelRunLoopMode"
                                 beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    [source invalidate];
    bool inModalSession = done;
    while (!done) // let the thread finish either way
        [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode
                                 beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.05]];
    t.join();
    EXPECT_TRUE(inModalSession);
    EXPECT_EQ(calls(), std::vector<std::string>{"AddAlert 3 1"});
}

TEST_F(Panels, NotificationsShowFortyFiveSecondsWhateverTheirTimeOut)
{
    int n = 0;
    for (int timeout : {0, 60, -1}) {
        notify(makeAlert("/opt/a", 100, timeout, 1, true));
        ASSERT_EQ([timer->entries count], (NSUInteger)++n);
        EXPECT_EQ(((FakeTimerEntry *)[timer->entries lastObject])->seconds, 45.0) << timeout;
    }
    [timer fire:0];
    EXPECT_EQ(calls().back(), "DeleteNotification 3 1");
}

TEST_F(Panels, OkRemovesTheNotificationAtOnceAndTheTimerLaterDoesNothing)
{
    std::string id = notify(makeAlert("/opt/a", 100, 0, 1, true));
    [notifier setViewForidentifier:ns(id)];
    [notifier okButtonClicked:nil];
    EXPECT_EQ(calls(), (std::vector<std::string>{"AddNotification 3 1", "DeleteNotification 3 1"}));
    [timer fire:0];
    EXPECT_EQ([host->calls count], 2u);
}

TEST_F(Panels, NotificationTextsByOperation)
{
    struct Case {
        int operation;
        const char *path;
        const char *text;
    } cases[] = {
        {100, "/Applications/Mail.app", "Mail was prevented from executing"},
        {102, "/Applications/Mail.app", "Mail was prevented from incoming network access"},
        {103, "/Applications/Mail.app", "Mail was prevented from outgoing network access"},
        {104, "/opt/tool", "tool was prevented from incoming and outgoing network access"},
        {107, "/Applications/Mail.app", "Mail was blocked"},
        {0, "/opt/tool", "tool was blocked"},
    };
    for (const Case &c : cases) {
        std::string id = notify(makeAlert(c.path, c.operation, 0, 1, true));
        [notifier setViewForidentifier:ns(id)];
        EXPECT_EQ(utf8([notifier notificationString]), c.text) << c.operation;
    }
}

TEST_F(Panels, NotificationCounterIsApartFromAlertsAndNothingGoesBack)
{
    deliver(makeAlert("/opt/a", 100, 0, 1, true));
    deliver(makeAlert("/opt/b", 100, 0, 2, true));
    EXPECT_EQ(notify(makeAlert("/opt/c", 103, 0, 3, true)), "1");
    [notifier setViewForidentifier:@"1"];
    [notifier okButtonClicked:nil];
    EXPECT_TRUE(peer.commands().empty());
    EXPECT_TRUE(peer.responses().empty());
}

TEST_F(Panels, FormatsTakeOnlyTheName)
{
    struct Case {
        const char *format;
        const char *text;
    } cases[] = {
        {"%@ is trying to execute", "Mail is trying to execute"},
        {"no name", "no name"},
        {"%@ %s %d %n 100%%", "Mail %s %d %n 100%"},
        {"%@/%@", "Mail/Mail"},
        {"trailing %", "trailing %"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(utf8(AppProFormatWithName(ns(c.format), @"Mail")), c.text);
}

TEST_F(Panels, FirstUseFromTwoThreadsMakesOneSharedController)
{
    GSDebugAllocationActive(YES);
    std::wstring text = payloadOf(makeAlert("/opt/a", 100, 0, 1, true));
    std::wstring note = payloadOf(makeAlert("/opt/a", 100, 0, 1, true), ALERT_TYPE_NOTIFICATION);
    std::atomic<int> ready{0};
    auto deliverBoth = [&] {
        NSAutoreleasePool *p = [NSAutoreleasePool new];
        ready++;
        while (ready < 2) {
        }
        auto a = received(60001, text, 3);
        auto n = received(60000, note, 4);
        [[AppProAlert sharedAppProAlert] addAlertFromHvo:a.get()];
        [[AppProNotifier sharedAppProNotifier] addNotificationFromHvo:n.get()];
        [p release];
    };
    int alertsBefore = GSDebugAllocationCount([AppProAlert class]);
    int notifiersBefore = GSDebugAllocationCount([AppProNotifier class]);
    std::thread one(deliverBoth), two(deliverBoth);
    one.join();
    two.join();
    EXPECT_EQ(GSDebugAllocationCount([AppProAlert class]) - alertsBefore, 1);
    EXPECT_EQ(GSDebugAllocationCount([AppProNotifier class]) - notifiersBefore, 1);
    // A nib's instance is the shared one.
    AppProAlert *fromNib = [[AppProAlert alloc] init];
    EXPECT_EQ(fromNib, [AppProAlert sharedAppProAlert]);
    [fromNib release];
    GSDebugAllocationActive(NO);
}

} // namespace
