#import "AppProPanelPorts.h"
#import "AppProCatch.h"
#import "AppProPorts.h"

#include <exception>

#include "AppProtRecords.h"
#include "CommandData.h"
#include "ReportRecords.h"
#include "Trace.h"

@interface AppProRunLoopTimer : NSObject <AppProTimerPort>
@end

@implementation AppProRunLoopTimer
- (void)scheduleAfter:(NSTimeInterval)seconds target:(id)target selector:(SEL)selector userInfo:(id)info
{
    NSTimer *timer = [NSTimer timerWithTimeInterval:seconds
                                             target:target
                                           selector:selector
                                           userInfo:info
                                            repeats:NO];
    NSRunLoop *loop = [NSRunLoop currentRunLoop];
    NSArray *modes = AppProPanelRunLoopModes();
    for (NSUInteger i = 0; i < [modes count]; i++)
        [loop addTimer:timer forMode:[modes objectAtIndex:i]];
}
@end

@interface AppProPerformOnMain : NSObject <AppProMainThreadPort>
@end

@implementation AppProPerformOnMain
- (void)runOnMainThread:(id)target selector:(SEL)selector argument:(id)argument
{
    [target performSelectorOnMainThread:selector
                             withObject:argument
                          waitUntilDone:YES
                                  modes:AppProPanelRunLoopModes()];
}
@end

NSArray *AppProPanelRunLoopModes(void)
{
    return [NSArray arrayWithObjects:NSDefaultRunLoopMode, @"NSModalPanelRunLoopMode",
                                     @"NSEventTrackingRunLoopMode", nil];
}

static id<AppProTimerPort> timerPort = nil;
static id<AppProMainThreadPort> mainPort = nil;
static AppProTitleAttributesFunction titleAttributes = NULL;

id<AppProTimerPort> AppProTimer(void)
{
    if (timerPort == nil)
        timerPort = [[AppProRunLoopTimer alloc] init];
    return timerPort;
}

void AppProSetTimer(id<AppProTimerPort> timer)
{
    [(id)timer retain];
    [(id)timerPort release];
    timerPort = timer;
}

id<AppProMainThreadPort> AppProMainThread(void)
{
    // Set before the broker's threads start (the bundle's first use).
    if (mainPort == nil)
        mainPort = [[AppProPerformOnMain alloc] init];
    return mainPort;
}

void AppProSetMainThread(id<AppProMainThreadPort> port)
{
    [(id)port retain];
    [(id)mainPort release];
    mainPort = port;
}

NSDictionary *AppProTitleAttributes(BOOL centred)
{
    if (titleAttributes == NULL)
        return [NSDictionary dictionary];
    return titleAttributes(centred);
}

void AppProSetTitleAttributes(AppProTitleAttributesFunction function) { titleAttributes = function; }

NSString *AppProFormatWithName(NSString *format, NSString *name)
{
    if (format == nil)
        return nil;
    if (name == nil)
        name = @"";
    NSMutableString *out = [NSMutableString string];
    NSUInteger n = [format length];
    for (NSUInteger i = 0; i < n; i++) {
        unichar c = [format characterAtIndex:i];
        if (c == '%' && i + 1 < n) {
            unichar next = [format characterAtIndex:i + 1];
            if (next == '@') {
                [out appendString:name];
                i++;
                continue;
            }
            if (next == '%') {
                [out appendString:@"%"];
                i++;
                continue;
            }
        }
        [out appendFormat:@"%C", c];
    }
    return out;
}

void AppProTraceLine(const char *where, const char *what)
{
    if (wardtrace::fileOpen())
        wardtrace::writeLine(L"%s - %s\n", where, what != nullptr ? what : "");
}

BOOL AppProReadDetails(id<AppProReceivedRecord> record, const char *where)
{
    NSString *reason = nil;
    if (AppProCatching([&] { [record retriveAppProDetails]; }, &reason))
        return YES;
    AppProTraceLine(where, [reason UTF8String]);
    return NO;
}

bool AppProDecodeAlert(ReporterData &data, AppProtection::AppProtAlert &alert)
{
    try {
        data.getAlertCustomData(alert);
        return true;
    } catch (const std::exception &e) {
        AppProTraceLine("AppProDecodeAlert", e.what());
    } catch (...) {
        AppProTraceLine("AppProDecodeAlert", "payload holds no alert");
    }
    return false;
}

bool AppProReceive(id<AppProReceivedRecord> record, HVO::CommandData *command, const char *where)
{
    try {
        [record setData:command];
        return true;
    } catch (const std::exception &e) {
        AppProTraceLine(where, e.what());
    } catch (...) {
        AppProTraceLine(where, "unreadable payload");
    }
    return false;
}

void AppProHandOver(id panel, Class recordClass, HVO::CommandData *command, const char *where)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    id record = [[recordClass alloc] init];
    if (AppProReceive(record, command, where))
        [AppProMainThread() runOnMainThread:panel selector:@selector(createTimer:) argument:record];
    [record release];
    [pool release];
}

@implementation AppProReceivedData
- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    rData = new ReporterData();
    return self;
}

- (void)dealloc
{
    delete basicData;
    delete rData;
    [applicationName release];
    [super dealloc];
}

- (void)setData:(HVO::CommandData *)command
{
    if (command == nullptr)
        return;
    delete basicData;
    basicData = new HVO::BasicCommandData(*command);
    command->getCustomData(*rData);
}

- (HVO::BasicCommandData *)data { return basicData; }
- (ReporterData *)reportData { return rData; }

- (void)retriveAppProDetails
{
    AppProtection::AppProtAlert alert;
    if (!AppProDecodeAlert(*rData, alert))
        [NSException raise:NSInvalidArgumentException format:@"payload holds no alert"];
    timeOut = alert.getTimeout();
    [self takeDetails:alert];
    NSString *path = [NSString stringWithUTF8String:alert.getAppName().c_str()];
    [self setApplicationName:[self applicationNameFromAbsPath:path != nil ? path : @""]];
}

- (void)takeDetails:(const AppProtection::AppProtAlert &)alert { (void)alert; }
- (NSString *)applicationName { return applicationName; }
- (void)setApplicationName:(NSString *)name { AppProSetCopy(&applicationName, name); }
- (NSString *)applicationNameFromAbsPath:(NSString *)path { return [AppProPathInfoPort() displayNameAtPath:path]; }
- (int)timeOut { return timeOut; }
@end

NSString *AppProNextIdentifier(int *counter)
{
    if (*counter >= 100000)
        *counter = 0;
    else
        (*counter)++;
    return [NSString stringWithFormat:@"%d", *counter];
}

void AppProSetCopy(NSString **slot, NSString *value)
{
    NSString *copy = [value copy];
    [*slot release];
    *slot = copy;
}

id AppProSharedInstead(id instance, id shared)
{
    if (instance == shared)
        return instance;
    [instance release];
    return [shared retain];
}
