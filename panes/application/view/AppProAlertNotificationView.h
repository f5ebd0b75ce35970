// The views of nib "AlertNotification", built in code: the alert view (the
// three choices bound to `action`, `alertString`, "always" and "once") and
// the notification view (`notificationString`, OK), wired to the shared
// panel controllers. The nib's bindings are key-value observation here.
#import <AppKit/AppKit.h>

@class AppProAlert;
@class AppProNotifier;

@interface AppProAlertNotificationView : NSObject {
@public
    NSView *alertView;
    NSView *notificationView;
    NSTextField *alertText;
    NSPopUpButton *choices;
    NSButton *alwaysButton;
    NSButton *onceButton;
    NSTextField *notificationText;
    NSButton *okButton;
    AppProAlert *alerts;
    AppProNotifier *notifier;
}
/// Builds both views; raises what AppKit raises (without a display).
- (id)init;
/// Shows the controllers' current texts and choice.
- (void)refresh;
- (NSView *)alertView;
- (NSView *)notificationView;
@end

/// The panels' title attributes: white, centred for buttons, "Arial" 13.
NSDictionary *AppProAppKitTitleAttributes(BOOL centred);
