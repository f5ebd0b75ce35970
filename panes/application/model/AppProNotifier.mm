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
- (void)takeDetails:(const AppProtection::AppProtAlert &)alert { operationType = alert.getOperation(); }
- (int)operationType { return operationType; }
@end

static AppProNotifier *sharedNotifier = nil;

@implementation AppProNotifier
+ (AppProNotifier *)sharedAppProNotifier
{
    static std::once_flag once;
    std::call_once(once, [] { sharedNotifier = [[AppProNotifier alloc] initController]; });
    return sharedNotifier;
}

- (id)init { return AppProSharedInstead(self, [AppProNotifier sharedAppProNotifier]); }

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
    AppProHandOver(self, [AppProNotificationData class], command, "AppProNotifier::addNotificationFromHvo");
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

- (NSString *)getNewIdentifier { return AppProNextIdentifier(&notificationIdentifier); }

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

- (void)setNotificationString:(NSString *)text { AppProSetCopy(&notificationString, text); }

- (NSString *)selectedNotificationIdentifier { return selectedNotificationIdentifier; }

- (void)setSelectedNotificationIdentifier:(NSString *)identifier { AppProSetCopy(&selectedNotificationIdentifier, identifier); }

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
