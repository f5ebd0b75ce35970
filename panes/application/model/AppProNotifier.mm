#import "AppProNotifier.h"
#import "AppProPanelPorts.h"
#import "AppProPorts.h"
#import "AppProStrings.h"

#include <exception>
#include <mutex>

#include "AppProtRecords.h"
#include "CommandData.h"
#include "ReportRecords.h"

/// Every notification shows this long, whatever its own time-out.
static const NSTimeInterval NotificationSeconds = 45.0;

@implementation AppProNotificationData
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
    operationType = alert.getOperation();
    NSString *path = [NSString stringWithUTF8String:alert.getAppName().c_str()];
    [self setApplicationName:[self applicationNameFromAbsPath:path != nil ? path : @""]];
}

- (NSString *)applicationName { return applicationName; }

- (void)setApplicationName:(NSString *)name
{
    NSString *copy = [name copy];
    [applicationName release];
    applicationName = copy;
}

- (NSString *)applicationNameFromAbsPath:(NSString *)path { return [AppProPathInfoPort() displayNameAtPath:path]; }
- (int)operationType { return operationType; }
- (int)timeOut { return timeOut; }
@end

static AppProNotifier *sharedNotifier = nil;

@implementation AppProNotifier
+ (AppProNotifier *)sharedAppProNotifier
{
    static std::once_flag once;
    std::call_once(once, [] { sharedNotifier = [[AppProNotifier alloc] initController]; });
    return sharedNotifier;
}

- (id)init
{
    AppProNotifier *shared = [AppProNotifier sharedAppProNotifier];
    if (self != shared) {
        [self release];
        return [shared retain];
    }
    return self;
}

- (id)initController
{
    self = [super init];
    if (self == nil)
        return nil;
    notifyDataIdentifierMap = [[NSMutableDictionary alloc] init];
    return self;
}

- (void)dealloc
{
    [notifyDataIdentifierMap release];
    [selectedNotificationIdentifier release];
    [notificationString release];
    [currentNotificationData release];
    [super dealloc];
}

- (void)setNotifier:(id<ZRMUIFrameworkNotificationProtocol>)notifier { notifyFrameworkController = notifier; }

- (void)addNotificationFromHvo:(HVO::CommandData *)command
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProNotificationData *record = [[AppProNotificationData alloc] init];
    if (AppProReceive(record, command, "AppProNotifier::addNotificationFromHvo"))
        [AppProMainThread() runOnMainThread:self selector:@selector(createTimer:) argument:record];
    [record release];
    [pool release];
}

- (void)createTimer:(AppProNotificationData *)record
{
    if (!AppProReadDetails(record, "AppProNotifier::createTimer"))
        return;
    NSString *identifier = [self getNewIdentifier];
    [AppProTimer() scheduleAfter:NotificationSeconds target:self selector:@selector(alertTimedOut:) userInfo:identifier];
    [notifyDataIdentifierMap setObject:record forKey:identifier];
    [notifyFrameworkController AddNotification:APP_PROTECTION_HVK_ID viewIdentifier:identifier];
}

- (NSString *)getNewIdentifier
{
    if (notificationIdentifier >= 100000)
        notificationIdentifier = 0;
    else
        notificationIdentifier++;
    return [NSString stringWithFormat:@"%d", notificationIdentifier];
}

- (BOOL)setViewForidentifier:(NSString *)identifier
{
    AppProNotificationData *record = [notifyDataIdentifierMap objectForKey:identifier];
    [record retain];
    [currentNotificationData release];
    currentNotificationData = record;
    [self setSelectedNotificationIdentifier:identifier];
    [self createNotificationString:[record applicationName] operationType:[record operationType]];
    return YES;
}

- (void)createNotificationString:(NSString *)name operationType:(int)operation
{
    NSString *key;
    switch (operation) {
    case 100:
        key = @"App Prevented Execution";
        break;
    case 102:
        key = @"App is prevented Incoming Network";
        break;
    case 103:
        key = @"App is prevented Outgoing Network";
        break;
    case 104:
        key = @"App is prevented Incoming and Outgoing Network";
        break;
    default:
        key = @"Unknow Action";
        break;
    }
    [self setNotificationString:AppProFormatWithName([self retriveLocalisedString:key], name)];
}

- (NSString *)notificationString { return notificationString; }

- (void)setNotificationString:(NSString *)text
{
    NSString *copy = [text copy];
    [notificationString release];
    notificationString = copy;
}

- (NSString *)selectedNotificationIdentifier { return selectedNotificationIdentifier; }

- (void)setSelectedNotificationIdentifier:(NSString *)identifier
{
    NSString *copy = [identifier copy];
    [selectedNotificationIdentifier release];
    selectedNotificationIdentifier = copy;
}

- (void)okButtonClicked:(id)sender
{
    (void)sender;
    [self removeAlertWithIdentifierFromUI:[[selectedNotificationIdentifier copy] autorelease]];
}

- (void)alertTimedOut:(id)timer
{
    NSString *identifier = [(NSTimer *)timer userInfo];
    if (identifier != nil && [notifyDataIdentifierMap objectForKey:identifier] != nil)
        [self removeAlertWithIdentifierFromUI:identifier];
}

- (void)removeAlertWithIdentifierFromUI:(NSString *)identifier
{
    if (identifier == nil)
        return;
    [[identifier retain] autorelease];
    [notifyDataIdentifierMap removeObjectForKey:identifier];
    [notifyFrameworkController DeleteNotification:APP_PROTECTION_HVK_ID viewIdentifier:identifier];
}

- (NSString *)retriveLocalisedString:(NSString *)key { return AppProLocalized(key, @"AppProAlerts"); }
@end
