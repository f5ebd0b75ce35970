#import "AppProAlert.h"
#import "AppProCatch.h"
#import "AppProGlue.h"
#import "AppProPanelPorts.h"
#import "AppProPorts.h"
#import "AppProStrings.h"
#import "AuthorizeUser.h"

#include <exception>
#include <mutex>

#include "AppProtRecords.h"
#include "CommandData.h"
#include "HVOCommBroker.h"
#include "ReportRecords.h"

namespace {

/// Sends the answer for `record`; false (with a trace line) when the
/// payload cannot be read or written or the broker fails. C++ exceptions
/// end here: none crosses an Objective-C exception frame.
bool sendAnswer(HVO::BasicCommandData &header, ReporterData &data, int choice, bool always)
{
    try {
        HVO::CommandResult reply;
        reply.setBasicCommandData(header);
        reply.setCommandStatus(true);
        reply.setCommandCompleted(true);
        AppProtection::AppProtAlert alert;
        data.getAlertCustomData(alert);
        alert.setAlways(always);
        switch (choice) {
        case 0:
            alert.setAction(true);
            alert.setAllowNetwork(true);
            break;
        case 1:
            alert.setAction(true);
            alert.setAllowNetwork(false);
            break;
        case 2:
            alert.setAction(false);
            break;
        default:
            break;
        }
        data.setAlertCustomData(alert);
        reply.setCustomData(data);
        HVO::HVOCommBroker *broker = HVO::HVOCommBroker::getInstance(AppProBrokerSocket);
        if (broker == nullptr) {
            AppProTraceLine("AppProAlertResponse::sendResponseToAlert", "no broker");
            return false;
        }
        broker->sendCommandResponse(reply);
        return true;
    } catch (const std::exception &e) {
        AppProTraceLine("AppProAlertResponse::sendResponseToAlert", e.what());
    } catch (...) {
        AppProTraceLine("AppProAlertResponse::sendResponseToAlert", "answer not sent");
    }
    return false;
}

} // namespace

@implementation AppProAlertData
- (int)action { return action; }
- (void)setAction:(int)value { action = value; }
@end

@implementation AppProAlertResponse
- (void)setAppProData:(AppProAlertData *)record { appProData = record; }

- (int)sendResponseToAlert:(BOOL)always
{
    if (appProData == nil || [appProData data] == nullptr)
        return -1;
    // A failed answer is traced; the daemon keeps the request pending.
    sendAnswer(*[appProData data], *[appProData reportData], [appProData action], always == 1);
    return 0;
}
@end

static AppProAlert *sharedAlert = nil;

@implementation AppProAlert
+ (AppProAlert *)sharedAppProAlert
{
    static std::once_flag once;
    std::call_once(once, [] { sharedAlert = [[AppProAlert alloc] initController]; });
    return sharedAlert;
}

- (id)init { return AppProSharedInstead(self, [AppProAlert sharedAppProAlert]); }

- (NSAttributedString *)title:(NSString *)key centred:(BOOL)centred
{
    return [[NSAttributedString alloc] initWithString:[self retriveLocalisedString:key]
                                           attributes:AppProTitleAttributes(centred)];
}

- (id)initController
{
    self = [super init];
    if (self == nil)
        return nil;
    alertDataIdentifierMap = [[NSMutableDictionary alloc] init];
    alwaysString = [self title:@"always" centred:YES];
    onceString = [self title:@"once" centred:YES];
    okLabel = [self title:@"ok" centred:YES];
    allowWithNetworkString = [self title:@"Allow Excecution with Full Netrwork access" centred:NO];
    allowWithoutNetworkString = [self title:@"Allow Excecution with no Netrwork access" centred:NO];
    denyString = [self title:@"Deny Exceution" centred:NO];
    return self;
}

- (void)dealloc
{
    [alertDataIdentifierMap release];
    [selectedAlertIdentifier release];
    [alertString release];
    [alwaysString release];
    [onceString release];
    [okLabel release];
    [allowWithNetworkString release];
    [allowWithoutNetworkString release];
    [denyString release];
    [currentAlertData release];
    [super dealloc];
}

- (void)setAlerter:(id<ZRMUIFrameworkAlertingProtocol>)alerter { alertFrameworkController = alerter; }

- (void)addAlertFromHvo:(HVO::CommandData *)command
{
    AppProHandOver(self, [AppProAlertData class], command, "AppProAlert::addAlertFromHvo");
}

- (void)createTimer:(AppProAlertData *)record
{
    if (!AppProReadDetails(record, "AppProAlert::createTimer"))
        return;
    NSString *identifier = [self getNewAlertIdentifier];
    if ([record timeOut] > 0)
        [AppProTimer() scheduleAfter:[record timeOut] target:self selector:@selector(alertTimedOut:) userInfo:identifier];
    [alertDataIdentifierMap setObject:record forKey:identifier];
    [alertFrameworkController AddAlert:APP_PROTECTION_HVK_ID viewIdentifier:identifier];
}

- (NSString *)getNewAlertIdentifier { return AppProNextIdentifier(&alertIdentifier); }

- (BOOL)setViewForidentifier:(NSString *)identifier
{
    AppProAlertData *record = [alertDataIdentifierMap objectForKey:identifier];
    [record retain];
    [currentAlertData release];
    currentAlertData = record;
    [self setSelectedAlertIdentifier:identifier];
    [self setAction:[record action]];
    [self setAlertString:[record applicationName]];
    return YES;
}

- (int)action { return action; }

- (void)setAction:(int)value
{
    action = value;
    [currentAlertData setAction:value];
}

- (NSString *)alertString { return alertString; }

- (void)setAlertString:(NSString *)name
{
    AppProSetCopy(&alertString, AppProFormatWithName([self retriveLocalisedString:@"App is Trying To Execute"], name));
}

- (NSString *)selectedAlertIdentifier { return selectedAlertIdentifier; }

- (void)setSelectedAlertIdentifier:(NSString *)identifier { AppProSetCopy(&selectedAlertIdentifier, identifier); }

- (void)allowButtonClicked:(id)sender
{
    (void)sender;
    if (useAuth == 0)
        useAuth = (char)AuthorizeUser();
    if (useAuth != 1)
        return;
    NSString *identifier = [[selectedAlertIdentifier copy] autorelease];
    [self sendResponseToHvk:YES viewId:identifier];
    [self removeAlertWithIdentifierFromUI:identifier];
}

- (void)denyButtonClicked:(id)sender
{
    (void)sender;
    NSString *identifier = [[selectedAlertIdentifier copy] autorelease];
    [self sendResponseToHvk:NO viewId:identifier];
    [self removeAlertWithIdentifierFromUI:identifier];
}

- (void)alertTimedOut:(id)timer
{
    NSString *identifier = [(NSTimer *)timer userInfo];
    AppProAlertData *record = identifier != nil ? (AppProAlertData *)[alertDataIdentifierMap objectForKey:identifier] : nil;
    if (record == nil)
        return;
    [record setAction:2];
    [self sendResponseToHvk:NO viewId:identifier];
    [self removeAlertWithIdentifierFromUI:identifier];
}

- (void)removeAlertWithIdentifierFromUI:(NSString *)identifier
{
    if (identifier == nil)
        return;
    [[identifier retain] autorelease];
    [alertDataIdentifierMap removeObjectForKey:identifier];
    [alertFrameworkController DeleteAlert:APP_PROTECTION_HVK_ID viewIdentifier:identifier];
}

- (void)sendResponseToHvk:(BOOL)always viewId:(NSString *)identifier
{
    AppProAlertData *record = identifier != nil ? (AppProAlertData *)[alertDataIdentifierMap objectForKey:identifier] : nil;
    if (record == nil)
        return;
    AppProAlertResponse *response = [[AppProAlertResponse alloc] init];
    NSString *reason = nil;
    if (!AppProCatching(
            [&] {
                [response setAppProData:record];
                [response sendResponseToAlert:always];
            },
            &reason))
        AppProTraceLine("AppProAlert::sendResponseToHvk", [reason UTF8String]);
    [response release];
}

- (NSString *)retriveLocalisedString:(NSString *)key { return AppProLocalized(key, @"AppProAlerts"); }
- (NSAttributedString *)alwaysString { return alwaysString; }
- (NSAttributedString *)onceString { return onceString; }
- (NSAttributedString *)okLabel { return okLabel; }
- (NSAttributedString *)allowWithNetworkString { return allowWithNetworkString; }
- (NSAttributedString *)allowWithoutNetworkString { return allowWithoutNetworkString; }
- (NSAttributedString *)denyString { return denyString; }
@end
