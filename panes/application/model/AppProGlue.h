// The pane's commands to the daemon (20000 to 20007 to module 3). Each
// blocks until the reply comes or the broker gives up; 0 is success, -1
// failure. Main thread only.
#import <Foundation/Foundation.h>

@class AppProRule;

/// The socket of the command broker's hub.
extern const char *const AppProBrokerSocket;

int GetAllAppProRules(void);
int AddNewAppProRule(AppProRule *row);
int ModifyAppProRule(AppProRule *row);
/// Rows marked modified become enabled without the mark and are sent; every
/// marked row is checked before any changes.
int EnableAppProRules(NSArray *rows);
int DeleteAppProRules(NSArray *rows);
int GetAppProPreferences(void);
/// Sends the controller's settings with the daemon's enable state and custom
/// network action as read just before; nothing when that read fails.
int SetAppProPreferences(void);
/// false on any failure.
bool GetAppProGeneralPrefsStatus(void);
/// Sends the daemon's settings as read just before, with protection enabled
/// or not; nothing when that read fails.
int SetAppProGeneralPrefsStatus(bool enable);
int GetExclusionList(void);
/// The rows' paths (AppProExclusionData), in order.
int SetExclusionList(NSArray *rows);
/// Shows the message of a daemon result code.
void HandleErrorCode(int code);
