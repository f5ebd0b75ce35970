// wardhost [--bundle PATH]... [--script FILE] [--record FILE] [--headless]
//          [--trace FILE]
//
// The suite's host: loads pane bundles by their principal classes, is
// module 102 on the broker, hands alerts (60001) and notifications (60000)
// to the pane, shows them one slot at a time, shows recent events, the
// preference view and about lines. --script runs one command per line on
// the main thread; --record appends one JSON line per event; --headless
// runs without NSApplication (the views stay nil).
#import <AppKit/AppKit.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AuthorizeUser.h"
#include "CommandData.h"
#include "HVOCommBroker.h"
#include "LogRequest.h"
#include "ReportRecords.h"
#include "Trace.h"
#include "WardHostRecord.h"
#import "UIRecentEventsData.h"
#import "ZRMUIAlerting.h"

// The trace file of every library in the process.
FILE *logFilePtr = nullptr;
int traceInited = 0;

namespace {

const char *const HubSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
constexpr int CMD_APP_PROT_NOTIFICATION = 60000;
constexpr int CMD_APP_PROT_ALERT = 60001;
constexpr int CMD_ABOUT_BOX = 1004;

wardhost::Record record;

std::string utf8(NSString *s)
{
    const char *c = [s UTF8String];
    return c != nullptr ? c : "";
}

std::string js(NSString *s) { return wardhost::jsonString(utf8(s)); }
std::string num(long n) { return std::to_string(n); }

void trace(const char *what)
{
    if (wardtrace::fileOpen())
        wardtrace::writeLine(L"wardhost - %s\n", what);
}

NSArray *panelModes()
{
    return [NSArray arrayWithObjects:NSDefaultRunLoopMode, NSModalPanelRunLoopMode, NSEventTrackingRunLoopMode, nil];
}

/// Answers of `authorize yes|no`, oldest first; no answer pending: refused.
std::mutex authorizeMutex;
std::deque<int> authorizeAnswers;
bool scriptedAuthorize = false;
AuthorizeUserHandler panelAuthorize = nullptr;

int hostAuthorize(void)
{
    int answer = 0;
    if (scriptedAuthorize) {
        std::lock_guard<std::mutex> lock(authorizeMutex);
        if (!authorizeAnswers.empty()) {
            answer = authorizeAnswers.front();
            authorizeAnswers.pop_front();
        }
    } else if (panelAuthorize != nullptr) {
        answer = panelAuthorize();
    }
    answer = answer == 1 ? 1 : 0;
    record.write("AuthorizeUser", {{"answer", num(answer)}});
    return answer;
}

} // namespace

@interface NSObject (WardHostPane)
- (void)setAlerter:(id)alerter;
- (void)setNotifier:(id)notifier;
- (void)addAlertFromHvo:(HVO::CommandData *)command;
- (void)addNotificationFromHvo:(HVO::CommandData *)command;
- (NSView *)viewForAlert:(NSString *)identifier;
- (NSView *)viewForNotification:(NSString *)identifier;
- (NSView *)viewForStringIdentifier:(NSString *)identifier;
- (void)setPrefereceEnabled:(BOOL)enabled;
- (NSMutableArray *)arrayForAboutBox:(AboutBoxData *)data;
- (id)dataForRecentEvents:(DetailReportData *)data;
- (NSNumber *)SetStatusForGeneralPreferenceWithIdentifier:(NSString *)identifier value:(BOOL)value;
- (NSNumber *)statusForGeneralPreferenceWithIdentifier:(NSString *)identifier;
- (NSString *)hvkNameDisplayString;
+ (id)sharedAppProAlert;
+ (id)sharedAppProNotifier;
- (NSString *)alertString;
- (NSString *)notificationString;
- (void)allowButtonClicked:(id)sender;
- (void)denyButtonClicked:(id)sender;
- (void)okButtonClicked:(id)sender;
@end

/// One slot area: the pending identifiers in order; the first is shown.
@interface WardHostArea : NSObject {
@public
    NSMutableArray *pending; // "module id" pairs as two-element arrays
    NSView *container;       // nil headless
    NSView *shown;
}
@end

@implementation WardHostArea
- (id)init
{
    self = [super init];
    pending = [[NSMutableArray alloc] init];
    return self;
}
@end

@interface WardHost : NSObject <ZRMUIFrameworkAlertingProtocol, ZRMUIFrameworkNotificationProtocol> {
@public
    NSMutableArray *panes;
    id alertPane;
    id notificationPane;
    id prefsPane; // the pane whose preference view was shown last
    WardHostArea *alerts;
    WardHostArea *notifications;
    BOOL headless;
    BOOL quitting;
    int exitCode;
    NSWindow *window;
    NSWindow *prefsWindow;
    NSTextField *recentList;
    NSMutableArray *recentLines;
    NSTextField *aboutList;
    NSArray *script;
    NSUInteger next;
    NSDate *waitLimit;
    NSString *waitFor;
    NSString *waitPath; // `wait file SECONDS PATH`
}
- (void)runNextCommand;
- (void)recordFramesOf:(NSView *)view;
- (id)lockedPane;
- (void)sendActionOf:(NSArray *)words;
- (void)setKeyPathOf:(NSArray *)words;
- (void)getKeyPathOf:(NSArray *)words;
@end

namespace {

WardHost *host = nil;

/// The broker's side: commands and log records for module 102.
class HostInterfaces : public HVO::CommandInterface, public HVO::LogInterface {
public:
    bool handleCommand(HVO::CommandData &command) override
    {
        int cmd = command.getCommandId();
        if (cmd != CMD_APP_PROT_ALERT && cmd != CMD_APP_PROT_NOTIFICATION)
            return false;
        NSAutoreleasePool *pool = [NSAutoreleasePool new];
        id pane = cmd == CMD_APP_PROT_ALERT ? host->alertPane : host->notificationPane;
        bool taken = pane != nil;
        if (cmd == CMD_APP_PROT_ALERT)
            [pane addAlertFromHvo:&command];
        else
            [pane addNotificationFromHvo:&command];
        [pool release];
        return taken;
    }
    void handleCommandResponse(HVO::CommandResult &) override {}
    void handleLog(HVO::LogRequest &log) override
    {
        if (log.getLogType() != HVO::LOG_TYPE_RECENT_EVENT)
            return;
        std::unique_ptr<DetailReportData> detail(new DetailReportData());
        try {
            auto stream = HVO::newWideStream(log.getMessage(), std::ios::in);
            HVO::bounded_wiarchive ar(*stream);
            ar >> *detail;
        } catch (const std::exception &e) {
            trace(e.what());
            return;
        } catch (...) {
            trace("unreadable recent event");
            return;
        }
        NSAutoreleasePool *pool = [NSAutoreleasePool new];
        NSValue *box = [NSValue valueWithPointer:detail.release()];
        [host performSelectorOnMainThread:@selector(showRecentEvent:) withObject:box waitUntilDone:NO modes:panelModes()];
        [pool release];
    }
};

HostInterfaces interfaces;

} // namespace

@implementation WardHost
- (id)init
{
    self = [super init];
    panes = [[NSMutableArray alloc] init];
    alerts = [[WardHostArea alloc] init];
    notifications = [[WardHostArea alloc] init];
    recentLines = [[NSMutableArray alloc] init];
    return self;
}

// Slots.

- (void)showArea:(WardHostArea *)area alert:(BOOL)isAlert
{
    NSArray *first = [area->pending count] > 0 ? [area->pending objectAtIndex:0] : nil;
    [area->shown removeFromSuperview];
    area->shown = nil;
    if (first == nil)
        return;
    NSString *identifier = [first objectAtIndex:1];
    id pane = isAlert ? alertPane : notificationPane;
    NSView *view = isAlert ? [pane viewForAlert:identifier] : [pane viewForNotification:identifier];
    record.write(isAlert ? "viewForAlert" : "viewForNotification",
                 {{"id", js(identifier)}, {"view", view != nil ? "true" : "false"}});
    if (isAlert) {
        id controller = [NSClassFromString(@"AppProAlert") sharedAppProAlert];
        record.write("alertString", {{"id", js(identifier)}, {"text", js([controller alertString])}});
    } else {
        id controller = [NSClassFromString(@"AppProNotifier") sharedAppProNotifier];
        record.write("notificationString", {{"id", js(identifier)}, {"text", js([controller notificationString])}});
    }
    if (view != nil && area->container != nil) {
        [view setFrameOrigin:NSMakePoint(0, 0)];
        [area->container addSubview:view];
        area->shown = view;
        [window display];
        [self recordFramesOf:view];
    }
}

- (void)add:(WardHostArea *)area module:(int)moduleId identifier:(NSString *)identifier alert:(BOOL)isAlert
{
    record.write(isAlert ? "AddAlert" : "AddNotification", {{"module", num(moduleId)}, {"id", js(identifier)}});
    [area->pending addObject:[NSArray arrayWithObjects:[NSNumber numberWithInt:moduleId], identifier, nil]];
    if ([area->pending count] == 1)
        [self showArea:area alert:isAlert];
}

- (void)remove:(WardHostArea *)area module:(int)moduleId identifier:(NSString *)identifier alert:(BOOL)isAlert
{
    record.write(isAlert ? "DeleteAlert" : "DeleteNotification", {{"module", num(moduleId)}, {"id", js(identifier)}});
    NSUInteger i = 0;
    for (; i < [area->pending count]; i++) {
        NSArray *slot = [area->pending objectAtIndex:i];
        if ([[slot objectAtIndex:0] intValue] == moduleId && [[slot objectAtIndex:1] isEqualToString:identifier])
            break;
    }
    if (i < [area->pending count])
        [area->pending removeObjectAtIndex:i];
    // The pane has one view for all: ask again for the slot shown now.
    [self showArea:area alert:isAlert];
}

- (void)AddAlert:(int)moduleId viewIdentifier:(NSString *)identifier
{
    [self add:alerts module:moduleId identifier:identifier alert:YES];
}
- (void)DeleteAlert:(int)moduleId viewIdentifier:(NSString *)identifier
{
    [self remove:alerts module:moduleId identifier:identifier alert:YES];
}
- (void)AddNotification:(int)moduleId viewIdentifier:(NSString *)identifier
{
    [self add:notifications module:moduleId identifier:identifier alert:NO];
}
- (void)DeleteNotification:(int)moduleId viewIdentifier:(NSString *)identifier
{
    [self remove:notifications module:moduleId identifier:identifier alert:NO];
}

// The root-window frame of `rect` (in `v`'s coordinates), by title.
- (void)recordFrame:(NSRect)rect of:(NSView *)v title:(NSString *)title editable:(BOOL)editable
{
    NSRect r = [v convertRect:rect toView:nil];
    NSRect w = [[v window] frame];
    double screenHeight = [[[v window] screen] frame].size.height;
    double x = w.origin.x + r.origin.x;
    double top = screenHeight - (w.origin.y + r.origin.y + r.size.height);
    record.write("frame", {{"title", js(title)},
                           {"x", num((long)x)},
                           {"y", num((long)top)},
                           {"w", num((long)r.size.width)},
                           {"h", num((long)r.size.height)},
                           {"window", num((long)[[v window] windowNumber])},
                           {"editable", editable ? "true" : "false"}});
}

// A tab view's tabs: each item's run along the strip above the content.
- (void)recordTabsOf:(NSTabView *)tabs
{
    NSRect bounds = [tabs bounds];
    NSRect content = [tabs contentRect];
    BOOL above = NSMaxY(bounds) - NSMaxY(content) >= NSMinY(content) - NSMinY(bounds);
    double low = above ? NSMaxY(content) : NSMinY(bounds);
    double high = above ? NSMaxY(bounds) : NSMinY(content);
    double y = (low + high) / 2;
    NSTabViewItem *item = nil;
    double start = 0;
    for (double x = NSMinX(bounds); x <= NSMaxX(bounds); x += 1) {
        NSTabViewItem *at = x < NSMaxX(bounds) ? [tabs tabViewItemAtPoint:NSMakePoint(x, y)] : nil;
        if (at == item)
            continue;
        if (item != nil)
            [self recordFrame:NSMakeRect(start, low, x - start, high - low) of:tabs title:[item label] editable:NO];
        item = at;
        start = x;
    }
}

// The root-window frame of each control under `view`, by title.
- (void)recordFramesOf:(NSView *)view
{
    NSArray *subs = [view subviews];
    for (NSUInteger i = 0; i < [subs count]; i++) {
        NSView *v = [subs objectAtIndex:i];
        NSString *title = nil;
        if ([v isKindOfClass:[NSPopUpButton class]])
            title = [(NSPopUpButton *)v titleOfSelectedItem];
        else if ([v isKindOfClass:[NSButton class]])
            title = [(NSButton *)v title];
        else if ([v isKindOfClass:[NSTextField class]])
            title = [(NSTextField *)v stringValue];
        else if ([v isKindOfClass:[NSTabView class]])
            [self recordTabsOf:(NSTabView *)v];
        if (title != nil)
            [self recordFrame:[v bounds] of:v title:title
                     editable:[v isKindOfClass:[NSTextField class]] && [(NSTextField *)v isEditable]];
        [self recordFramesOf:v];
    }
}

// Recent events (main thread): the pane's row becomes a line.
- (void)showRecentEvent:(NSValue *)box
{
    DetailReportData *detail = static_cast<DetailReportData *>([box pointerValue]);
    for (NSUInteger i = 0; i < [panes count]; i++) {
        id pane = [panes objectAtIndex:i];
        if (![pane respondsToSelector:@selector(dataForRecentEvents:)])
            continue;
        UIRecentEventsData *row = [pane dataForRecentEvents:detail];
        if (row == nil)
            continue;
        NSString *subject = [row subjectString];
        record.write("recent", {{"header", js([row headerString])},
                                {"time", num([row timeOfEvent])},
                                {"subject", subject != nil ? js(subject) : "null"}});
        [recentLines addObject:[NSString stringWithFormat:@"%@  %d  %@", [row headerString], [row timeOfEvent],
                                                          subject != nil ? subject : @""]];
        [recentList setStringValue:[recentLines componentsJoinedByString:@"\n"]];
        [row release];
    }
    delete detail;
}

// The about box: 1004 to module 3, the pane's lines.
- (void)about
{
    AboutBoxData data;
    try {
        HVO::CommandData command(CMD_ABOUT_BOX, 3, false);
        HVO::CommandResult reply;
        HVO::HVOCommBroker *broker = HVO::HVOCommBroker::getInstance(HubSocket);
        if (broker == nullptr)
            return;
        broker->sendCommand(command, &reply, true, 10);
        reply.getCustomData(data);
    } catch (const std::exception &e) {
        trace(e.what());
        record.write("about-failed", {{"reason", wardhost::jsonString(e.what())}});
        return;
    }
    NSMutableArray *lines = [alertPane arrayForAboutBox:&data];
    for (NSUInteger i = 0; i < [lines count]; i++)
        record.write("about", {{"line", js([lines objectAtIndex:i])}});
    [aboutList setStringValue:[lines componentsJoinedByString:@"\n"]];
}

// The first pane that has a view for the identifier.
- (void)showPreferenceView:(NSString *)identifier
{
    NSView *view = nil;
    for (NSUInteger i = 0; i < [panes count] && view == nil; i++) {
        id pane = [panes objectAtIndex:i];
        if (![pane respondsToSelector:@selector(viewForStringIdentifier:)])
            continue;
        view = [pane viewForStringIdentifier:identifier];
        if (view != nil)
            prefsPane = pane;
    }
    record.write("view", {{"id", js(identifier)}, {"view", view != nil ? "true" : "false"}});
    if (view == nil || headless)
        return;
    if (prefsWindow == nil) {
        prefsWindow = [[NSWindow alloc] initWithContentRect:[view frame]
                                                  styleMask:NSTitledWindowMask
                                                    backing:NSBackingStoreBuffered
                                                      defer:NO];
        [prefsWindow setReleasedWhenClosed:NO];
    }
    [prefsWindow setTitle:[prefsPane hvkNameDisplayString]];
    [prefsWindow setContentSize:[view frame].size]; // views differ in size
    [prefsWindow setContentView:view];
    [prefsWindow makeKeyAndOrderFront:nil];
    [prefsWindow display];
    [self recordFramesOf:view];
}

// A sheet or panel coming up: where its controls are, for clicks.
- (void)panelBecameKey:(NSNotification *)note
{
    NSWindow *w = [note object];
    if (![w isKindOfClass:[NSPanel class]])
        return;
    record.write("panel", {{"title", js([w title])}, {"window", num((long)[w windowNumber])}});
    [self recordFramesOf:[w contentView]];
}

- (void)shot:(NSString *)path
{
    if (window == nil) {
        record.write("shot", {{"file", js(path)}, {"written", "false"}});
        return;
    }
    NSView *content = [window contentView];
    [content display];
    NSBitmapImageRep *rep = [content bitmapImageRepForCachingDisplayInRect:[content bounds]];
    [content cacheDisplayInRect:[content bounds] toBitmapImageRep:rep];
    NSData *png = [rep representationUsingType:NSPNGFileType properties:[NSDictionary dictionary]];
    BOOL written = png != nil && [png writeToFile:path atomically:YES];
    record.write("shot", {{"file", js(path)}, {"written", written ? "true" : "false"}});
}

// A button of the shown view by title; nil headless or when absent.
- (NSButton *)buttonTitled:(NSString *)title under:(NSView *)view
{
    NSArray *subs = [view subviews];
    for (NSUInteger i = 0; i < [subs count]; i++) {
        NSView *v = [subs objectAtIndex:i];
        if ([v isKindOfClass:[NSButton class]] && ![v isKindOfClass:[NSPopUpButton class]] &&
            [[(NSButton *)v title] isEqualToString:title])
            return (NSButton *)v;
        NSButton *b = [self buttonTitled:title under:v];
        if (b != nil)
            return b;
    }
    return nil;
}

- (void)click:(NSString *)which
{
    record.write("click", {{"button", js(which)}});
    id alertController = [NSClassFromString(@"AppProAlert") sharedAppProAlert];
    id notifier = [NSClassFromString(@"AppProNotifier") sharedAppProNotifier];
    BOOL ok = [which isEqualToString:@"ok"];
    NSView *shown = ok ? notifications->shown : alerts->shown;
    NSString *key = ok ? @"okLabel" : ([which isEqualToString:@"always"] ? @"alwaysString" : @"onceString");
    NSAttributedString *title = [alertController valueForKey:key];
    NSButton *button = shown != nil ? [self buttonTitled:[title string] under:shown] : nil;
    if (button != nil) {
        [button performClick:nil];
        return;
    }
    // Without a view the buttons' actions go to the shared controllers.
    if (ok)
        [notifier okButtonClicked:nil];
    else if ([which isEqualToString:@"always"])
        [alertController allowButtonClicked:nil];
    else
        [alertController denyButtonClicked:nil];
}

// The pane whose lock the script works: the shown view's, else the alerts'.
- (id)lockedPane
{
    return prefsPane != nil ? prefsPane : alertPane;
}

// The shared controller of a pane's class: +shared<Class>; nil when none.
- (id)sharedInstanceOf:(NSString *)className
{
    Class c = NSClassFromString(className);
    SEL shared = NSSelectorFromString([@"shared" stringByAppendingString:className]);
    if (c == Nil || ![c respondsToSelector:shared])
        return nil;
    return [c performSelector:shared];
}

// The type of `selector`'s one argument when VALUE can be given as it (an
// object, or a number for scalars); 0 otherwise.
static char valueType(id target, SEL selector)
{
    NSMethodSignature *sig = [target respondsToSelector:selector] ? [target methodSignatureForSelector:selector] : nil;
    const char *type = sig != nil && [sig numberOfArguments] == 3 ? [sig getArgumentTypeAtIndex:2] : "";
    while (*type == 'r' || *type == 'n' || *type == 'o' || *type == 'V')
        type++; // qualifiers
    return *type != '\0' && std::strchr("@iIcCBlLqQd", *type) != nullptr ? *type : 0;
}

// Sends `selector` with VALUE converted to `type` (from valueType).
static void sendWithValue(id target, SEL selector, char type, NSString *value)
{
    IMP imp = [target methodForSelector:selector];
    switch (type) {
    case '@':
        ((void (*)(id, SEL, id))(void *)imp)(target, selector, value);
        break;
    case 'i':
    case 'I':
        ((void (*)(id, SEL, int))(void *)imp)(target, selector, [value intValue]);
        break;
    case 'c':
    case 'C':
    case 'B':
        ((void (*)(id, SEL, BOOL))(void *)imp)(target, selector, (BOOL)[value intValue]);
        break;
    case 'd':
        ((void (*)(id, SEL, double))(void *)imp)(target, selector, [value doubleValue]);
        break;
    default: // l L q Q
        ((void (*)(id, SEL, long))(void *)imp)(target, selector, (long)[value longLongValue]);
        break;
    }
}

// The words of a script line from `first` on, joined again.
static NSString *restOfLine(NSArray *words, NSUInteger first)
{
    if ([words count] <= first)
        return @"";
    return [[words subarrayWithRange:NSMakeRange(first, [words count] - first)] componentsJoinedByString:@" "];
}

// `action CLASS SELECTOR [VALUE]`: the selector with VALUE, or with a nil
// sender when it takes one and no VALUE is given.
- (void)sendActionOf:(NSArray *)words
{
    NSString *className = [words count] > 1 ? [words objectAtIndex:1] : @"";
    NSString *selectorName = [words count] > 2 ? [words objectAtIndex:2] : @"";
    NSString *value = restOfLine(words, 3);
    id target = [self sharedInstanceOf:className];
    SEL action = NSSelectorFromString(selectorName);
    BOOL withValue = [words count] > 3;
    char type = target != nil && withValue ? valueType(target, action) : 0;
    BOOL sent = target != nil && [selectorName length] > 0 && [target respondsToSelector:action] &&
                (!withValue || type != 0);
    std::vector<std::pair<std::string, std::string>> fields = {{"class", js(className)}, {"selector", js(selectorName)}};
    if (withValue)
        fields.push_back({"value", js(value)});
    fields.push_back({"sent", sent ? "true" : "false"});
    record.write("action", fields); // before the call: it may run a modal loop
    if (!sent)
        return;
    if (withValue)
        sendWithValue(target, action, type, value);
    else if ([selectorName hasSuffix:@":"])
        [target performSelector:action withObject:nil];
    else
        [target performSelector:action];
    record.write("returned", {{"class", js(className)}, {"selector", js(selectorName)}});
}

// The object at the end of PATH's keys but the last, from CLASS's shared
// controller; nil when a getter is missing.
- (id)ownerOf:(NSArray *)keys inClass:(NSString *)className
{
    id owner = [self sharedInstanceOf:className];
    for (NSUInteger i = 0; i + 1 < [keys count] && owner != nil; i++) {
        SEL getter = NSSelectorFromString([keys objectAtIndex:i]);
        owner = [owner respondsToSelector:getter] ? [owner performSelector:getter] : nil;
    }
    return owner;
}

// `set CLASS KEY[.KEY]... VALUE`: the getters along the path, then the last
// key's setter; VALUE is the rest of the line, a number for scalar setters.
- (void)setKeyPathOf:(NSArray *)words
{
    NSString *className = [words count] > 1 ? [words objectAtIndex:1] : @"";
    NSString *path = [words count] > 2 ? [words objectAtIndex:2] : @"";
    NSString *value = restOfLine(words, 3);
    NSArray *keys = [path componentsSeparatedByString:@"."];
    id owner = [self ownerOf:keys inClass:className];
    NSString *key = [keys lastObject];
    BOOL done = NO;
    if (owner != nil && [key length] > 0) {
        NSString *name = [NSString stringWithFormat:@"set%@%@:", [[key substringToIndex:1] uppercaseString],
                                                    [key substringFromIndex:1]];
        SEL setter = NSSelectorFromString(name);
        char type = valueType(owner, setter);
        done = type != 0;
        if (done)
            sendWithValue(owner, setter, type, value);
    }
    record.write("set", {{"class", js(className)}, {"path", js(path)}, {"value", js(value)}, {"done", done ? "true" : "false"}});
}

// `get CLASS KEY[.KEY]...`: the value at the key path from CLASS's shared
// controller, recorded as text (a list of texts for an array).
- (void)getKeyPathOf:(NSArray *)words
{
    NSString *className = [words count] > 1 ? [words objectAtIndex:1] : @"";
    NSString *path = [words count] > 2 ? [words objectAtIndex:2] : @"";
    id owner = [self sharedInstanceOf:className];
    id value = nil;
    if (owner != nil && [path length] > 0) {
        try {
            value = [owner valueForKeyPath:path];
        } catch (...) {
            value = nil; // no such key
        }
    }
    std::string text = "null";
    if ([value isKindOfClass:[NSArray class]]) {
        text = "[";
        for (NSUInteger i = 0; i < [value count]; i++)
            text += (i > 0 ? "," : "") + js([[value objectAtIndex:i] description]);
        text += "]";
    } else if (value != nil) {
        text = js([value description]);
    }
    record.write("get", {{"class", js(className)}, {"path", js(path)}, {"value", text}});
}

- (void)quit
{
    quitting = YES;
    if (!headless)
        [NSApp terminate:nil];
}

// The script: one command per line; `wait` and `sleep` come back later.
- (void)scheduleNext:(NSTimeInterval)delay
{
    [self performSelector:@selector(runNextCommand) withObject:nil afterDelay:delay inModes:panelModes()];
}

- (BOOL)slotShown:(NSString *)kind
{
    if ([kind isEqualToString:@"file"])
        return waitPath != nil && [[NSFileManager defaultManager] fileExistsAtPath:waitPath];
    WardHostArea *area = [kind isEqualToString:@"alert"] ? alerts : notifications;
    return [area->pending count] > 0;
}

- (void)runNextCommand
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    if (waitFor != nil) {
        if ([self slotShown:waitFor]) {
            [waitFor release];
            waitFor = nil;
        } else if ([waitLimit timeIntervalSinceNow] > 0) {
            [self scheduleNext:0.1];
            [pool release];
            return;
        } else {
            record.write("wait-timeout", {{"for", js(waitFor)}});
            exitCode = 1;
            [waitFor release];
            waitFor = nil;
        }
    }
    while (next < [script count] && !quitting) {
        NSString *line = [[script objectAtIndex:next++]
            stringByTrimmingCharactersInSet:[NSCharacterSet whitespaceAndNewlineCharacterSet]];
        if ([line length] == 0 || [line hasPrefix:@"#"])
            continue;
        NSArray *words = [line componentsSeparatedByString:@" "];
        NSString *cmd = [words objectAtIndex:0];
        NSString *arg = [words count] > 1 ? [words objectAtIndex:1] : @"";
        NSString *arg2 = [words count] > 2 ? [words objectAtIndex:2] : @"";
        if ([cmd isEqualToString:@"wait"]) {
            waitFor = [arg copy];
            [waitLimit release];
            waitLimit = [[NSDate dateWithTimeIntervalSinceNow:[arg2 doubleValue]] retain];
            [waitPath release];
            waitPath = [restOfLine(words, 3) copy];
            [self scheduleNext:0];
            [pool release];
            return;
        } else if ([cmd isEqualToString:@"sleep"]) {
            [self scheduleNext:[arg doubleValue]];
            [pool release];
            return;
        } else if ([cmd isEqualToString:@"choose"]) {
            // The view's pop-up sets the shared controller's choice.
            id controller = [NSClassFromString(@"AppProAlert") sharedAppProAlert];
            typedef void (*SetChoice)(id, SEL, int);
            SetChoice set = (SetChoice)(void *)[controller methodForSelector:@selector(setAction:)];
            if (set != nullptr)
                set(controller, @selector(setAction:), [arg intValue]);
            record.write("choose", {{"choice", num([arg intValue])}});
        } else if ([cmd isEqualToString:@"click"]) {
            [self click:arg];
        } else if ([cmd isEqualToString:@"authorize"]) {
            std::lock_guard<std::mutex> lock(authorizeMutex);
            authorizeAnswers.push_back([arg isEqualToString:@"yes"] ? 1 : 0);
        } else if ([cmd isEqualToString:@"about"]) {
            [self about];
        } else if ([cmd isEqualToString:@"protection"]) {
            if ([arg isEqualToString:@"status"]) {
                NSNumber *n = [alertPane statusForGeneralPreferenceWithIdentifier:@"AppProtection"];
                record.write("protection", {{"op", "\"status\""}, {"answer", num([n intValue])}});
            } else {
                BOOL on = [arg isEqualToString:@"on"];
                NSNumber *n = [alertPane SetStatusForGeneralPreferenceWithIdentifier:@"AppProtection" value:on];
                record.write("protection", {{"op", js(arg)}, {"answer", num([n intValue])}});
            }
        } else if ([cmd isEqualToString:@"lock"]) {
            [[self lockedPane] setPrefereceEnabled:NO];
            record.write("lock", {});
        } else if ([cmd isEqualToString:@"unlock"]) {
            BOOL granted = AuthorizeUser() == 1;
            if (granted)
                [[self lockedPane] setPrefereceEnabled:YES];
            record.write("unlock", {{"granted", granted ? "true" : "false"}});
        } else if ([cmd isEqualToString:@"view"]) {
            [self showPreferenceView:arg];
        } else if ([cmd isEqualToString:@"shot"]) {
            [self shot:arg];
        } else if ([cmd isEqualToString:@"action"]) {
            [self sendActionOf:words];
        } else if ([cmd isEqualToString:@"get"]) {
            [self getKeyPathOf:words];
        } else if ([cmd isEqualToString:@"set"]) {
            [self setKeyPathOf:words];
        } else if ([cmd isEqualToString:@"quit"]) {
            [self quit];
        } else {
            record.write("unknown-command", {{"line", js(line)}});
            exitCode = 2;
        }
    }
    if (next >= [script count] && !quitting)
        [self quit];
    [pool release];
}

// The main window: the alert area, the notification area, recent events
// and about lines.
- (void)buildWindow
{
    window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, 400, 420)
                                         styleMask:NSTitledWindowMask
                                           backing:NSBackingStoreBuffered
                                             defer:NO];
    [window setTitle:@"wardhost"];
    [window setReleasedWhenClosed:NO];
    NSView *content = [window contentView];
    alerts->container = [[NSView alloc] initWithFrame:NSMakeRect(10, 280, 380, 130)];
    notifications->container = [[NSView alloc] initWithFrame:NSMakeRect(10, 180, 380, 90)];
    [content addSubview:alerts->container];
    [content addSubview:notifications->container];
    recentList = [[NSTextField alloc] initWithFrame:NSMakeRect(10, 70, 380, 100)];
    aboutList = [[NSTextField alloc] initWithFrame:NSMakeRect(10, 10, 380, 50)];
    NSTextField *lists[] = {recentList, aboutList};
    for (NSTextField *f : lists) {
        [f setEditable:NO];
        [f setSelectable:NO];
        [content addSubview:f];
    }
    [window setFrameTopLeftPoint:NSMakePoint(0, [[window screen] frame].size.height)];
    [window makeKeyAndOrderFront:nil];
}

- (void)applicationDidFinishLaunching:(NSNotification *)n
{
    (void)n;
    [self buildWindow];
    [[NSNotificationCenter defaultCenter] addObserver:self
                                             selector:@selector(panelBecameKey:)
                                                 name:NSWindowDidBecomeKeyNotification
                                               object:nil];
    [self showArea:alerts alert:YES];
    [self showArea:notifications alert:NO];
    if (script != nil)
        [self scheduleNext:0];
}

- (BOOL)application:(NSApplication *)app openFile:(NSString *)file
{
    (void)app;
    (void)file;
    return YES;
}

- (void)applicationWillTerminate:(NSNotification *)n
{
    (void)n;
    HVO::HVOCommBroker::releaseInstance();
    record.close();
    std::exit(exitCode);
}
@end

static int usage()
{
    std::fprintf(stderr, "usage: wardhost [--bundle PATH]... [--script FILE] [--record FILE] [--headless] [--trace FILE]\n");
    return 2;
}

int main(int argc, char **argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    std::vector<std::string> bundles;
    std::string scriptPath, recordPath, tracePath;
    bool headless = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--bundle" && more)
            bundles.push_back(argv[++i]);
        else if (a == "--script" && more)
            scriptPath = argv[++i];
        else if (a == "--record" && more)
            recordPath = argv[++i];
        else if (a == "--trace" && more)
            tracePath = argv[++i];
        else if (a == "--headless")
            headless = true;
        else if (a.size() > 1 && a[0] == '-' && a[1] != '-' && more)
            ++i; // a user default and its value (argument domain)
        else
            return usage();
    }
    if (!tracePath.empty())
        wardtrace::openLogFile(tracePath.c_str());
    if (!recordPath.empty() && !record.open(recordPath)) {
        std::fprintf(stderr, "wardhost: cannot write %s\n", recordPath.c_str());
        return 1;
    }

    host = [[WardHost alloc] init];
    host->headless = headless;
    if (!scriptPath.empty()) {
        NSString *text = [NSString stringWithContentsOfFile:[NSString stringWithUTF8String:scriptPath.c_str()]
                                                   encoding:NSUTF8StringEncoding
                                                      error:NULL];
        if (text == nil) {
            std::fprintf(stderr, "wardhost: cannot read %s\n", scriptPath.c_str());
            return 1;
        }
        host->script = [[text componentsSeparatedByString:@"\n"] retain];
        scriptedAuthorize = true;
    }
    panelAuthorize = SetAuthorizeUserHandler(hostAuthorize);

    for (const std::string &path : bundles) {
        NSBundle *bundle = [NSBundle bundleWithPath:[NSString stringWithUTF8String:path.c_str()]];
        Class principal = [bundle principalClass];
        if (principal == Nil) {
            std::fprintf(stderr, "wardhost: cannot load %s\n", path.c_str());
            return 1;
        }
        id pane = [[principal alloc] init];
        if (pane == nil) {
            std::fprintf(stderr, "wardhost: %s made no principal object\n", path.c_str());
            return 1;
        }
        [host->panes addObject:pane];
        if ([pane conformsToProtocol:@protocol(ZRMUIBundleAlertingProtocol)]) {
            [pane setAlerter:host];
            if (host->alertPane == nil)
                host->alertPane = pane;
        }
        if ([pane conformsToProtocol:@protocol(ZRMUIBundleNotificationProtocol)]) {
            [pane setNotifier:host];
            if (host->notificationPane == nil)
                host->notificationPane = pane;
        }
        record.write("bundle", {{"path", wardhost::jsonString(path)}, {"title", js([pane hvkNameDisplayString])}});
    }

    HVO::HVOCommBroker *broker = HVO::HVOCommBroker::getInstance(HubSocket);
    broker->setHVKId(REPORTER_HVK_ID);
    broker->setCommandInterface(&interfaces);
    broker->setLogInterface(&interfaces);
    broker->start(true);
    record.write("started", {});

    if (headless) {
        // The main thread runs the run loop itself; a timer keeps it waiting.
        [NSTimer scheduledTimerWithTimeInterval:3600 target:host selector:@selector(description) userInfo:nil repeats:YES];
        if (host->script != nil)
            [host scheduleNext:0];
        while (!host->quitting) {
            NSAutoreleasePool *turn = [NSAutoreleasePool new];
            [[NSRunLoop currentRunLoop] runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.2]];
            [turn release];
        }
        HVO::HVOCommBroker::releaseInstance();
        record.close();
        wardtrace::endTracing();
        [pool release];
        return host->exitCode;
    }

    [NSApplication sharedApplication];
    [NSApp setDelegate:host];
    [NSApp run];
    HVO::HVOCommBroker::releaseInstance();
    record.close();
    [pool release];
    return host->exitCode;
}
