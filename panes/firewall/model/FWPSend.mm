#import "FWPSend.h"
#import "NSString+FWPaneWchar.h"
#import "NSString+wstring.h"

#include <string>
#include <vector>

#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "FirewallException.h"
#include "HVOCommBroker.h"

const char *const FWPBrokerSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";

namespace {

const FWPCommandRow kRows[] = {
    // FWP_SET_STATUS
    {10200, false, false, -1, @"Unable to get HVO instance for communication", @"status was not set",
     @"got an HVO Exception in SetStatusForGeneralPreferenceWithIdentifier()",
     @"got an generic exception in SetStatusForGeneralPreferenceWithIdentifier()"},
    // FWP_GET_STATUS
    {10201, true, false, 0, @"Firewall : unable to get HVO instance", @"Firewall : Get status Command failed.",
     @"Firewall : Caught an HVO exception", @"Firewall : Caught a generic exception trying ot get status"},
    // FWP_GET_INTERFACES
    {10204, true, false, -1, @"Unable to get HVO instance for Communication",
     @"Firewall : GetNetworkInterfaceList command failed",
     @"Firewall : HVO ecxeption in GetNetworkInterfaceList: msg :: %@", @"Firewall : Got a generic exception"},
    // FWP_GET_ALL_RULES
    {10205, true, false, -1, @"Firewall : Unable to get HVO instance for Communication GetCustomRuleNameForFWPrefs()",
     @"Firewall : Unable to execute GetRuleDetailForFWPrefs() Command !",
     @"Firewall : Caught an HVO Exception GetCustomRuleNameForFWPrefs()",
     @"Firewall : Got a generic exception GetCustomRuleNameForFWPrefs()"},
    // FWP_GET_BASIC_PREFS
    {10205, true, false, -1, @"Firewall : Unable to get HVO Instance", @"Firewall : Command Failed",
     @"Firewall : Got an HVO Exception", @"Firewall : Got a generic Exception"},
    // FWP_GET_DETAILED_RULE
    {10206, true, false, -1, @"Firewall : unable to get HVO instance for Communicaton",
     @"Firewall : GetDetailedRuleForCustomView() %d command failed",
     @"Firewall : Got a HVO exception in GetDetailedRuleForCustomView()",
     @"Firewall : Got a generic exception in GetDetailedRuleForCustomView()"},
    // FWP_SWAP_RULES
    {10207, false, false, -1, @"Firewall : Unable to get HVO instance for Communication", @"SwapCustomRule Command Failed",
     @"Firewall : HVO ecxeption in SwapCustomRule: msg :: %@", @"firewall : Got a generic exception in SwapCustomRule"},
    // FWP_DELETE_RULES
    {10208, false, false, -1, @"Unable to get HVO instance for Communication", @"Delete command Failed",
     @"Firewall : HVO ecxeption in DeleteRule: msg :: %@", @"Received unknown exception during Delete Rule"},
    // FWP_SET_BASIC_PREFS
    {10209, false, false, -1, @"Firewall : Unable to get HVO Instance for Communication",
     @"Firewall : SetRulesforFirewallPrefsAndOnClickAdvanced command failed",
     @"Firewall : HVO exception caught in SetBasicFWPrefs", @"Firewall : Generic exception caught in SetBasicFWPrefs"},
    // FWP_MODIFY_RULE
    {10210, false, true, -1, @"Unable to get HVO instance for communication", @"set modified deatailed rule failed",
     @"Firewall : Got an HVO Exception in SetModifiedDetailedRuleForCustomView()",
     @"Firewall : Got an generic Exception in SetModifiedDetailedRuleForCustomView()"},
    // FWP_ADD_RULE
    {10211, false, true, -1, @"unable to get HVO instance for communication", @"SetRulesForFirewallPrefs command with error",
     @"Firewall : Got an HVO Exception in SetRulesForFirewallPrefs()",
     @"Firewall : Got an generic Exception in SetRulesForFirewallPrefs()"},
    // FWP_CHANGE_RULE_DETAIL
    {10206, true, false, -1, @"Unable to get HVO instance for communication", nil,
     @"Firewall : Got an HVO Exception in ChangeFireWallRule", @"Firewall : Got an generic Exception in ChangeFireWallRule"},
    // FWP_CHANGE_RULE
    {10210, false, true, -1, @"Unable to get HVO instance for communication", @"set modified deatailed rule failed",
     @"Firewall : Got an HVO Exception in ChangeFireWallRule", @"Firewall : Got an generic Exception in ChangeFireWallRule"},
    // FWP_GET_TRUSTED
    {10212, true, false, -1, @"Firewall : unable to get HVO Instance for communication",
     @"Firewall : Get trusted list Commad Failed", @"Firewall : Got an HVO Exception in GetTrustedList()",
     @"Firewall : Got an generic exception in GetTrustedList()"},
    // FWP_ENABLE_TRUSTED
    {10213, false, false, -1, @"Firewall : unable to get HVO Instance for communication",
     @"firewall : EnableTrustedList comand failed", @"Firewall : Got an HVO Exception in EnableTrustedList()",
     @"Firewall : got an generic exception in EnableTrustedList()"},
    // FWP_MODIFY_TRUSTED
    {10214, false, true, -1, @"Firewall : unable to get HVO Instance for communication",
     @"firewall : ModifyTrustedList comand failed", @"Firewall : Got an HVO Exception in ModifyTrustedList()",
     @"Firewall : got an generic exception in ModifyTrustedList()"},
    // FWP_SET_TRUSTED
    {10215, false, true, -1, @"Firewall : unable to get HVO Instance for communication",
     @"firewall : SetTrustedList comand failed", @"Firewall : Got an HVO Exception in SetTrustedList()",
     @"Firewall : got an generic exception in SetTrustedList()"},
    // FWP_DELETE_TRUSTED
    {10216, false, false, -1, @"Firewall : unable to get HVO Instance for communication",
     @"firewall : DeleteTrustedList comand failed", @"Firewall : Got an HVO Exception in DeleteTrustedList()",
     @"Firewall : got an generic exception in DeleteTrustedList()"},
};

static_assert(sizeof kRows / sizeof kRows[0] == FWP_DELETE_TRUSTED + 1, "one row per function");

void logLine(NSString *line)
{
    if (line != nil)
        NSLog(@"%@", line);
}

} // namespace

const FWPCommandRow &FWPRow(FWPFunction function)
{
    return kRows[function];
}

int FWPSend(FWPFunction function, const FWPBuild &build, const FWPApply &apply, int detail)
{
    const FWPCommandRow &row = kRows[function];
    try {
        HVO::HVOCommBroker *broker = HVO::HVOCommBroker::getInstance(std::string(FWPBrokerSocket));
        if (broker == nullptr) {
            logLine(row.noBroker);
            return row.failureValue;
        }
        HVO::CommandData command(row.commandId, FIREWALL_SERVICE_HVK_ID, false);
        HVO::CommandResult result;
        if (build)
            build(command);
        broker->sendCommand(command, &result, true, 45);
        const bool replied = HVO::PayloadAccess::hasInput(result);
        if (result.getCommandStatus() && (!row.replyPayload || replied)) {
            if (row.replyPayload && apply)
                apply(result);
            return 0;
        }
        if (row.failed != nil)
            logLine([row.failed stringByReplacingOccurrencesOfString:@"%d"
                                                           withString:[NSString stringWithFormat:@"%d", detail]]);
        if (!result.getCommandStatus() && row.failureCode && replied) {
            // A code of 0 would read as success.
            int code = 0;
            result.getCustomData(code);
            return code != 0 ? code : row.failureValue;
        }
        return row.failureValue;
    } catch (const HVO::HVOException &e) {
        NSString *message = [NSString stringWithUTF8String:e.getExceptionMsg().c_str()];
        logLine([row.hvoException stringByReplacingOccurrencesOfString:@"%@" withString:message ? message : @""]);
        return row.failureValue;
    } catch (...) {
        logLine(row.generic);
        return row.failureValue;
    }
}

int SetStatusForGeneralPreference(signed char value)
{
    int rc = FWPSend(FWP_SET_STATUS, [=](HVO::CommandData &c) {
        signed char v = value;
        c.setCustomData(v);
    }, nullptr);
    if (rc == 0)
        NSLog(@"status successfulyy set");
    return rc;
}

int GetStatusForGeneralPreferences(void)
{
    bool enabled = false;
    int rc = FWPSend(FWP_GET_STATUS, nullptr, [&enabled](HVO::CommandResult &r) {
        bool read = false;
        r.getCustomData(read);
        enabled = read;
    });
    if (rc != 0)
        return 0;
    NSLog(enabled ? @"Enabled" : @"Disabled");
    return enabled ? 1 : 0;
}

int SwapFWRule(int first, int second)
{
    return FWPSend(FWP_SWAP_RULES, [=](HVO::CommandData &c) {
        std::vector<int> numbers{first, second};
        c.setCustomData(numbers);
    }, nullptr);
}

int DeleteFWRule(NSArray *numbers)
{
    return FWPSend(FWP_DELETE_RULES, [=](HVO::CommandData &c) {
        std::vector<int> list;
        for (NSUInteger i = 0; i < [numbers count]; ++i)
            list.push_back([[numbers objectAtIndex:i] intValue]);
        c.setCustomData(list);
    }, nullptr);
}

int DeleteTrustedList(NSArray *names)
{
    return FWPSend(FWP_DELETE_TRUSTED, [=](HVO::CommandData &c) {
        std::vector<std::wstring> list;
        for (NSUInteger i = 0; i < [names count]; ++i) {
            id name = [names objectAtIndex:i];
            if (name != nil && name != [NSNull null])
                list.push_back(FWPWideText(name, FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED));
        }
        c.setCustomData(list);
    }, nullptr);
}
