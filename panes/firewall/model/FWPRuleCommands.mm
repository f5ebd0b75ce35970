#import "FWPRuleCommands.h"
#import "FWPSend.h"
#import "NSString+wstring.h"
#import "RulesContainer.h"

#include "FWRecords.h"

using FirewallSDK::FWDetailedData;

int FWPGetInterfaceList(RulesContainer *sheet)
{
    return FWPSend(FWP_GET_INTERFACES, nullptr, [&](HVO::CommandResult &r) {
        FirewallSDK::NetworkInterfaceInfo info;
        r.getCustomData(info);
        NSMutableArray *names = [NSMutableArray array];
        for (const std::wstring &n : info.getInterfaceAsWstring())
            [names addObject:[sheet getLocalisedString:[NSString stringWithwstring:n]]];
        [sheet setListOfNetworkInterfaces:names];
        if ([names count] > 0)
            [sheet setNetworkInterface:[names objectAtIndex:0]];
    });
}

int FWPGetDetailedRule(RulesContainer *sheet, int ruleNumber)
{
    if (sheet == nil)
        return -1;
    return FWPSend(FWP_GET_DETAILED_RULE, [&](HVO::CommandData &c) {
        int n = ruleNumber;
        c.setCustomData(n);
    }, [&](HVO::CommandResult &r) {
        FWDetailedData detail;
        r.getCustomData(detail);
        FWPApplyDetailedRule(detail, sheet);
    }, ruleNumber);
}

int FWPAddRule(RulesContainer *sheet)
{
    return FWPSend(FWP_ADD_RULE, [&](HVO::CommandData &c) {
        FWDetailedData rule = FWPRuleFromContainer(sheet, false);
        c.setCustomData(rule);
    }, nullptr);
}

int FWPModifyRule(RulesContainer *sheet)
{
    return FWPSend(FWP_MODIFY_RULE, [&](HVO::CommandData &c) {
        FWDetailedData rule = FWPRuleFromContainer(sheet, true);
        c.setCustomData(rule);
    }, nullptr);
}

int ChangeFireWallRule(RulesContainer *row)
{
    FWDetailedData detail;
    int rc = FWPSend(FWP_CHANGE_RULE_DETAIL, [&](HVO::CommandData &c) {
        int n = [row rulesNumber];
        c.setCustomData(n);
    }, [&](HVO::CommandResult &r) { r.getCustomData(detail); });
    if (rc != 0)
        return -1;
    return FWPSend(FWP_CHANGE_RULE, [&](HVO::CommandData &c) {
        const int action = [row getActionValueFromUI];
        const int direction = [row getDirectionValueFromUI];
        if (action == FirewallSDK::FW_ACTION_UNKNOWN || direction == FirewallSDK::FW_DIRECTION_UNSET)
            throw FirewallSDK::FirewallException("Invalid action for setting",
                                                 FirewallSDK::FW_INVALID_ACTION_FOR_SETTING);
        detail.setAction(static_cast<FirewallSDK::FWAction>(action));
        detail.setTrafficDirection(static_cast<FirewallSDK::FWTrafficDirection>(direction));
        c.setCustomData(detail);
    }, nullptr);
}
