// What the alert and notification panels need of the run loop and the
// toolkit, as protocols: the defaults use NSTimer and the main thread, tests
// install their own.
#import <Foundation/Foundation.h>

@protocol AppProTimerPort
/// Once, after `seconds`: [target selector] with an object whose `userInfo`
/// is `info`. Main thread.
- (void)scheduleAfter:(NSTimeInterval)seconds target:(id)target selector:(SEL)selector userInfo:(id)info;
@end

@protocol AppProMainThreadPort
/// Runs [target selector:argument] on the main thread and returns when it
/// has run.
- (void)runOnMainThread:(id)target selector:(SEL)selector argument:(id)argument;
@end

/// The modes a panel's timers and hand-overs run in: the default mode, modal
/// panels and event tracking (an alert arriving under a sheet still counts
/// down and still reaches the main thread).
NSArray *AppProPanelRunLoopModes(void);

id<AppProTimerPort> AppProTimer(void);
/// nil: back to NSTimer.
void AppProSetTimer(id<AppProTimerPort> timer);
id<AppProMainThreadPort> AppProMainThread(void);
/// nil: back to performing on the main thread.
void AppProSetMainThread(id<AppProMainThreadPort> port);

/// The attributes of a panel's titles (white; centred for buttons). The view
/// installs the toolkit's; without one the titles are plain.
typedef NSDictionary *(*AppProTitleAttributesFunction)(BOOL centred);
NSDictionary *AppProTitleAttributes(BOOL centred);
void AppProSetTitleAttributes(AppProTitleAttributesFunction function);

/// `format` (a table's text holding "%@" for the name) with `name` in place
/// of each "%@" and "%" for "%%"; other "%" signs stay as they are, so a
/// table's text is never read as a format with other arguments.
NSString *AppProFormatWithName(NSString *format, NSString *name);

/// A line in the host's trace file (when it has one).
void AppProTraceLine(const char *where, const char *what);

#ifdef __cplusplus
namespace HVO {
class CommandData;
}
#endif

/// A received alert or notification.
@protocol AppProReceivedRecord
/// Copies the header and decodes the payload; archive errors pass.
- (void)setData:(HVO::CommandData *)command;
/// Reads the details from the payload; raises when it holds no alert.
- (void)retriveAppProDetails;
@end

/// [record retriveAppProDetails], false (and a trace line from `where`)
/// when it raised: a payload that is no alert.
BOOL AppProReadDetails(id<AppProReceivedRecord> record, const char *where);

#ifdef __cplusplus
class ReporterData;
namespace AppProtection {
class AppProtAlert;
}
/// The alert in `data`; false (and a trace line) when it holds none.
bool AppProDecodeAlert(ReporterData &data, AppProtection::AppProtAlert &alert);
/// [record setData:command]; false (and a trace line) when the payload
/// cannot be read.
bool AppProReceive(id<AppProReceivedRecord> record, HVO::CommandData *command, const char *where);
/// Any thread: a new `recordClass` record of `command`, handed to
/// [panel createTimer:record] on the main thread; returns when that has
/// run. Nothing is handed over when the payload cannot be read.
void AppProHandOver(id panel, Class recordClass, HVO::CommandData *command, const char *where);
#endif

#ifdef __cplusplus
namespace HVO {
class BasicCommandData;
}
#endif

/// What an alert and a notification hold alike: a copy of the command's
/// header, the decoded payload, the display name and the time-out.
@interface AppProReceivedData : NSObject <AppProReceivedRecord> {
    HVO::BasicCommandData *basicData;
    ReporterData *rData;
    NSString *applicationName;
    int timeOut;
}
/// Copies the header and decodes the payload; archive errors pass.
- (void)setData:(HVO::CommandData *)command;
/// The header the answer carries (null before setData:).
- (HVO::BasicCommandData *)data;
- (ReporterData *)reportData;
/// Reads time-out and display name from the alert in the payload, then
/// hands the alert to takeDetails:.
- (void)retriveAppProDetails;
- (NSString *)applicationName;
- (void)setApplicationName:(NSString *)name;
- (NSString *)applicationNameFromAbsPath:(NSString *)path;
- (int)timeOut;
#ifdef __cplusplus
/// What a kind of record reads besides; nothing here.
- (void)takeDetails:(const AppProtection::AppProtAlert &)alert;
#endif
@end

/// The next identifier of a panel's counter: 1, 2, ... 100000, then 0.
NSString *AppProNextIdentifier(int *counter);
/// Puts a copy of `value` in `*slot`, releasing what was there.
void AppProSetCopy(NSString **slot, NSString *value);
/// A panel's -init: the shared controller in place of any other instance
/// (a nib's instance is the shared one).
id AppProSharedInstead(id instance, id shared);
