// The alert panel: one shared controller for the alert view and every
// pending alert, one record per received alert, and the answer to the
// daemon. Foundation only: the view binds its controls to `action` and
// `alertString` and sends the two button actions.
#import <Foundation/Foundation.h>

#import "AppProPanelPorts.h"
#import "ZRMUIAlerting.h"

class ReporterData;
namespace HVO {
class BasicCommandData;
class CommandData;
}

/// One received alert. Keeps its own copy of the command's header, so the
/// host may free the command once it has handed it over.
@interface AppProAlertData : AppProReceivedData {
    int action;
}
- (int)action;
- (void)setAction:(int)value;
@end

/// Builds and sends one answer.
@interface AppProAlertResponse : NSObject {
    AppProAlertData *appProData;
}
- (void)setAppProData:(AppProAlertData *)record;
/// 0 when the answer was handed to the broker, -1 without a record.
- (int)sendResponseToAlert:(BOOL)always;
@end

@interface AppProAlert : NSObject {
    id allowAlwaysButton;
    id textColor;
    NSMutableDictionary *alertDataIdentifierMap;
    id<ZRMUIFrameworkAlertingProtocol> alertFrameworkController;
    NSString *selectedAlertIdentifier;
    NSString *alertString;
    NSAttributedString *alwaysString;
    NSAttributedString *onceString;
    NSAttributedString *okLabel;
    NSAttributedString *allowWithNetworkString;
    NSAttributedString *allowWithoutNetworkString;
    NSAttributedString *denyString;
    id arialFont;
    int alertIdentifier;
    int action;
    char useAuth;
    AppProAlertData *currentAlertData;
}
/// The shared controller, made once even when two threads ask first.
+ (AppProAlert *)sharedAppProAlert;
/// A controller of its own, apart from the shared one.
- (id)initController;
- (void)setAlerter:(id<ZRMUIFrameworkAlertingProtocol>)alerter;
/// Any thread: decodes here, then registers the alert on the main thread and
/// returns when that is done. The command may be freed afterwards.
- (void)addAlertFromHvo:(HVO::CommandData *)command;
- (BOOL)setViewForidentifier:(NSString *)identifier;
- (int)action;
- (void)setAction:(int)value;
- (NSString *)alertString;
- (NSString *)selectedAlertIdentifier;
- (void)allowButtonClicked:(id)sender;
- (void)denyButtonClicked:(id)sender;
- (NSAttributedString *)alwaysString;
- (NSAttributedString *)onceString;
- (NSAttributedString *)okLabel;
- (NSAttributedString *)allowWithNetworkString;
- (NSAttributedString *)allowWithoutNetworkString;
- (NSAttributedString *)denyString;

- (void)createTimer:(AppProAlertData *)record;
- (NSString *)getNewAlertIdentifier;
- (void)alertTimedOut:(id)timer;
- (void)setSelectedAlertIdentifier:(NSString *)identifier;
- (void)setAlertString:(NSString *)name;
- (void)removeAlertWithIdentifierFromUI:(NSString *)identifier;
- (void)sendResponseToHvk:(BOOL)always viewId:(NSString *)identifier;
- (NSString *)retriveLocalisedString:(NSString *)key;
@end
