// The notification panel: each block the daemon reports shows for 45
// seconds in a slot of the host's notification area, or until OK. Nothing
// goes back to the daemon. Foundation only.
#import <Foundation/Foundation.h>

#import "AppProPanelPorts.h"
#import "ZRMUIAlerting.h"

class ReporterData;
namespace HVO {
class BasicCommandData;
class CommandData;
}

/// One received notification; keeps its own copy of the command's header.
@interface AppProNotificationData : AppProReceivedData {
    int operationType;
}
- (int)operationType;
@end

@interface AppProNotifier : NSObject {
    id textColor;
    NSMutableDictionary *notifyDataIdentifierMap;
    id<ZRMUIFrameworkNotificationProtocol> notifyFrameworkController;
    NSString *selectedNotificationIdentifier;
    NSString *notificationString;
    int notificationIdentifier;
    AppProNotificationData *currentNotificationData;
}
/// The shared controller, made once even when two threads ask first.
+ (AppProNotifier *)sharedAppProNotifier;
/// A controller of its own, apart from the shared one.
- (id)initController;
- (void)setNotifier:(id<ZRMUIFrameworkNotificationProtocol>)notifier;
/// Any thread; the command may be freed once this returns.
- (void)addNotificationFromHvo:(HVO::CommandData *)command;
- (BOOL)setViewForidentifier:(NSString *)identifier;
- (NSString *)notificationString;
- (NSString *)selectedNotificationIdentifier;
- (void)okButtonClicked:(id)sender;

- (void)createTimer:(AppProNotificationData *)record;
- (NSString *)getNewIdentifier;
- (void)alertTimedOut:(id)timer;
- (void)setSelectedNotificationIdentifier:(NSString *)identifier;
- (void)createNotificationString:(NSString *)name operationType:(int)operation;
- (void)setNotificationString:(NSString *)text;
- (void)removeAlertWithIdentifierFromUI:(NSString *)identifier;
- (NSString *)retriveLocalisedString:(NSString *)key;
@end
