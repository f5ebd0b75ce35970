// What the host and a pane say to each other about alerts and
// notifications: the pane's side (the principal object) and the host's side
// (the alert and notification areas).
#import <Foundation/Foundation.h>

@class NSView;

#ifdef __cplusplus
namespace HVO {
class CommandData;
}
typedef HVO::CommandData ZRMHostCommand;
#else
typedef struct ZRMHostCommand ZRMHostCommand;
#endif

/// Implemented by a pane's principal object that shows alerts. The command
/// lives only for the call; every other selector comes on the main thread.
@protocol ZRMUIBundleAlertingProtocol
- (void)setAlerter:(id)alerter;
/// Any thread.
- (void)addAlertFromHvo:(ZRMHostCommand *)command;
- (NSView *)viewForAlert:(NSString *)identifier;
@end

/// Implemented by a pane's principal object that shows notifications.
@protocol ZRMUIBundleNotificationProtocol
- (void)setNotifier:(id)notifier;
/// Any thread.
- (void)addNotificationFromHvo:(ZRMHostCommand *)command;
- (NSView *)viewForNotification:(NSString *)identifier;
@end

/// The host's alert area; main thread.
@protocol ZRMUIFrameworkAlertingProtocol
- (void)AddAlert:(int)moduleId viewIdentifier:(NSString *)identifier;
- (void)DeleteAlert:(int)moduleId viewIdentifier:(NSString *)identifier;
@end

/// The host's notification area; main thread.
@protocol ZRMUIFrameworkNotificationProtocol
- (void)AddNotification:(int)moduleId viewIdentifier:(NSString *)identifier;
- (void)DeleteNotification:(int)moduleId viewIdentifier:(NSString *)identifier;
@end
