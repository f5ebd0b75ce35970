#import "AppProConversion.h"
#import "AppProPortCheck.h"
#import "AppProPrefsController.h"
#import "AppProRule.h"
#import "AppProStrings.h"

#include <string>

using AppProtection::BasicAppRecord;
using AppProtection::NetworkRule;

namespace {

std::string utf8(NSString *s)
{
    const char *p = [s UTF8String];
    return p != nullptr ? std::string(p) : std::string();
}

NSString *fromUtf8(const std::string &s)
{
    return [NSString stringWithUTF8String:s.c_str()];
}

AppProtection::NWProtocol protocolFromTag(int tag)
{
    switch (tag) {
    case 100: return AppProtection::NW_TCP;
    case 101: return AppProtection::NW_UDP;
    default: return AppProtection::NW_TCP_UDP;
    }
}

int protocolTag(AppProtection::NWProtocol p)
{
    switch (static_cast<int>(p)) {
    case 1: return 100;
    case 2: return 101;
    default: return 102;
    }
}

AppProtection::Operation directionFromTag(int tag)
{
    switch (tag) {
    case 100: return AppProtection::INCOMING_CONNECTION;
    case 101: return AppProtection::OUTGOING_CONNECTION;
    default: return AppProtection::INCOMING_OUTGOING_CONNECTION;
    }
}

int directionTag(AppProtection::Operation d)
{
    switch (static_cast<int>(d)) {
    case 102: return 100;
    case 103: return 101;
    default: return 102;
    }
}

int actionTag(AppProtection::actions a)
{
    switch (static_cast<int>(a)) {
    case 1: return 100;
    case 2: return 101;
    default: return 102;
    }
}

bool invalid(NSString *key, int *status)
{
    [[AppProPrefsController sharedAppProPrefsController] displayErrorMsg:key];
    *status = -1;
    return false;
}

} // namespace

void AppProStatusToRecord(int tag, BasicAppRecord &record)
{
    switch (tag) {
    case AppProStatusAllowWithNetwork:
        record.setExecAllowed(true);
        record.setNwAction(BasicAppRecord::NW_ACTION_ALLOW_ALL);
        return;
    case AppProStatusAllowWithoutNetwork:
        record.setExecAllowed(true);
        record.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
        return;
    case AppProStatusAllowRestricted:
        record.setExecAllowed(true);
        record.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
        return;
    default:
        record.setExecAllowed(false);
        record.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
        return;
    }
}

int AppProStatusFromRecord(const BasicAppRecord &record)
{
    if (!record.getExecAllowed())
        return AppProStatusDeny;
    switch (static_cast<int>(record.getNwAction())) {
    case 2: return AppProStatusAllowWithoutNetwork;
    case 3: return AppProStatusAllowRestricted;
    default: return AppProStatusAllowWithNetwork;
    }
}

std::list<NetworkRule> populateNWRuleList(NSMutableArray *rows, int *status)
{
    std::list<NetworkRule> rules;
    for (NSUInteger i = 0; i < [rows count]; i++) {
        AppProDetailedRule *row = [rows objectAtIndex:i];
        NetworkRule rule;
        rule.setOrder([row orderNumber]);
        NSString *any = [row getLocalisedString:@"any"];

        NSString *address = [row ipSubnetString];
        if (address == nil) {
            invalid(@"InvalidIPAddress", status);
            return rules;
        }
        std::string addressText = [address isEqualToString:any] ? std::string("ANY_IP") : utf8(address);
        if (!rule.setIpRange(addressText)) {
            invalid(@"InvalidIPAddress", status);
            return rules;
        }

        NSString *port = [row portRangeString];
        if (port == nil) {
            invalid(@"InvalidPortRange", status);
            return rules;
        }
        std::string portText = utf8(port);
        if ([port isEqualToString:any])
            portText = "ANY_PORT";
        for (const char *name : AppProServiceNames)
            if ([port isEqualToString:[row getLocalisedString:[NSString stringWithUTF8String:name]]])
                portText = name;
        if (PortRangeValidateWithRegex(portText) != 1 || !rule.setPortRange(portText)) {
            invalid(@"InvalidPortRange", status);
            return rules;
        }

        rule.setNWProtocol(protocolFromTag([row protocolTag]));
        rule.setDirection(directionFromTag([row directionTag]));
        rule.setAction([row actionTag] == 100 ? AppProtection::ACTION_ALLOW : AppProtection::ACTION_BLOCK);
        rules.push_back(rule);
    }
    *status = 0;
    return rules;
}

bool AppProRecordFromRow(AppProRule *row, BasicAppRecord &record)
{
    int status = -1;
    std::list<NetworkRule> rules = populateNWRuleList([row detailedRule], &status);
    if (status != 0)
        return false;
    record = BasicAppRecord();
    record.setAppGroup(utf8([row applicationNameWithAbsPath]));
    record.setEnabled([row isRuleEnabled] == 1);
    record.setAppModified(false);
    AppProStatusToRecord([row statusTag], record);
    record.setNwRules(rules);
    return true;
}

void addRuleToAppProRulesArray(BasicAppRecord record)
{
    NSString *group = fromUtf8(record.getAppGroup());
    if (group == nil)
        return;
    AppProRule *row = [[[AppProRule alloc] init] initWithApplicationPath:group];
    if (record.getAppModified()) {
        [row setIsRuleModified:YES];
    } else {
        [row setIsRuleModified:NO];
        [row setIsRuleEnabled:record.getEnabled() ? 1 : 0];
    }
    [row setStatusTag:AppProStatusFromRecord(record)];
    NSMutableArray *details = [NSMutableArray array];
    for (const NetworkRule &rule : record.getNwRules()) {
        AppProDetailedRule *detail = [[AppProDetailedRule alloc] init];
        if (rule.getIpRange() == "ANY_IP")
            [detail setIpSubnetString:[detail getLocalisedString:@"any"]];
        else
            [detail setIpSubnetString:fromUtf8(rule.getIpRange())];
        NSString *port = rule.getPortRange() == "ANY_PORT" ? @"any" : fromUtf8(rule.getPortRange());
        [detail setPortRangeString:port != nil ? [detail getLocalisedString:port] : nil];
        [detail setProtocolTag:protocolTag(rule.getNWProtocol())];
        [detail setActionTag:actionTag(rule.getAction())];
        [detail setDirectionTag:directionTag(rule.getDirection())];
        [detail setOrderNumber:rule.getOrder()];
        [details addObject:detail];
        [detail release];
    }
    [row setDetailedRule:details];
    [[AppProPrefsController sharedAppProPrefsController] addObjectToAppProRulesArray:row];
    [row release];
}
