// The pane's commands to the firewall service (module 4): one sender runs
// every command's steps, each sending function is a row of one table (id,
// whether a true reply must carry a payload, whether a failed one carries a
// code, its log lines). Main thread only; each call blocks until the reply
// comes or the broker gives up.
#import <Foundation/Foundation.h>

#include <functional>

#include "CommandData.h"

/// The socket of the command broker's hub.
extern const char *const FWPBrokerSocket;

enum FWPFunction {
    FWP_SET_STATUS,         // SetStatusForGeneralPreference, 10200
    FWP_GET_STATUS,         // GetStatusForGeneralPreferences, 10201
    FWP_GET_INTERFACES,     // GetNetworkInterfaceList, 10204
    FWP_GET_ALL_RULES,      // GetAllFWRules, 10205
    FWP_GET_BASIC_PREFS,    // GetBasicFWPrefs, 10205
    FWP_GET_DETAILED_RULE,  // GetDetailedFWRule, 10206
    FWP_SWAP_RULES,         // SwapFWRule, 10207
    FWP_DELETE_RULES,       // DeleteFWRule, 10208
    FWP_SET_BASIC_PREFS,    // SetBasicFWPrefs, 10209
    FWP_MODIFY_RULE,        // ModifyFWRule, 10210
    FWP_ADD_RULE,           // AddFWRule, 10211
    FWP_CHANGE_RULE_DETAIL, // ChangeFireWallRule's read, 10206
    FWP_CHANGE_RULE,        // ChangeFireWallRule's change, 10210
    FWP_GET_TRUSTED,        // GetTrustedList, 10212
    FWP_ENABLE_TRUSTED,     // EnableTrustedList, 10213
    FWP_MODIFY_TRUSTED,     // ModifyTrustedList, 10214
    FWP_SET_TRUSTED,        // SetTrustedList, 10215
    FWP_DELETE_TRUSTED,     // DeleteTrustedList, 10216
};

/// One sending function: its command and what it logs. `failed` may hold
/// "%d" (the detail argument), `hvoException` "%@" (the exception's text).
struct FWPCommandRow {
    int commandId;
    bool replyPayload;  ///< a true reply carries a payload to apply
    bool failureCode;   ///< a false reply carries the service's error code
    int failureValue;   ///< returned on every failure without a code
    NSString *noBroker;
    NSString *failed;   ///< nil: nothing logged
    NSString *hvoException;
    NSString *generic;
};

const FWPCommandRow &FWPRow(FWPFunction function);

/// Writes the command's payload; may throw (nothing is sent then).
using FWPBuild = std::function<void(HVO::CommandData &command)>;
/// Reads and applies the reply's payload; may throw.
using FWPApply = std::function<void(HVO::CommandResult &result)>;

/// The steps of every command: the broker, the command (id, 4, false), the
/// payload, the send (waiting, 45 s), the reply. 0 on success. A failure
/// returns the row's failure value, except that a failed command carrying
/// a non-zero code returns that code. A true reply that should carry a
/// payload and does not is a failure: nothing is applied. Every exception is
/// caught and logged.
int FWPSend(FWPFunction function, const FWPBuild &build, const FWPApply &apply, int detail = 0);

// The sending functions that need no controller.
int SetStatusForGeneralPreference(signed char value);
/// 1 when the firewall is on, 0 otherwise (failures included).
int GetStatusForGeneralPreferences(void);
int SwapFWRule(int first, int second);
/// The intValue of every element, in order.
int DeleteFWRule(NSArray *numbers);
/// The elements' wide texts, in order; NSNull elements left out.
int DeleteTrustedList(NSArray *names);
