#import "RulesContainer.h"
#import "FirewallPreferencesStrings.h"
#import "NSString+FWPaneWchar.h"
#import "NSString+wstring.h"

#include <string>

using FirewallSDK::FirewallException;
using FirewallSDK::FWDetailedData;

namespace {

NSString *copyOrEmpty(NSString *s)
{
    return s == nil ? @"" : [s copy];
}

/// UTF-8 of a typed text; nil as empty.
std::string utf8Text(NSString *s)
{
    return FWPUtf8Text(s, FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED);
}

} // namespace

@implementation RulesContainer

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    [self setNetworkInterface:@"all"];
    [self resetToInitState];
    return self;
}

- (id)initWithContentsOfContainer:(RulesContainer *)other
{
    self = [self init];
    if (self != nil)
        [self copyRulesFromContainer:other];
    return self;
}

- (void)dealloc
{
    [rulesNameAsString release];
    [directionAsString release];
    [rulesActionAsString release];
    [portSource release];
    [portDestination release];
    [sourceAddress release];
    [destinationAddress release];
    [networkInterface release];
    [listOfNetworkInterfaces release];
    [super dealloc];
}

- (void)resetToInitState
{
    try {
        [self setRulesNameAsString:@""];
        [self setRulesActionAsInt:FWP_TAG_ALLOW];
        [self setDirectionAsInt:FWP_TAG_INCOMING];
        [self setProtocolAsInt:FWP_TAG_IP];
        [self setSourcePopUp:FWP_TAG_ME];
        [self setDestinationPopUp:FWP_TAG_ANY];
        [self setPortSource:@""];
        [self setPortDestination:@""];
        [self setSourceAddress:@""];
        [self setDestinationAddress:@""];
        [self setRulesNumber:0];
    } catch (...) {
        NSLog(@"firewall:generic exception occured in awake reset to init");
    }
}

- (void)copyRulesFromContainer:(RulesContainer *)other
{
    try {
        [self setRulesNameAsString:[other rulesNameAsString]];
        [self setRulesActionAsInt:[other rulesActionAsInt]];
        [self setDirectionAsInt:[other directionAsInt]];
        [self setProtocolAsInt:[other protocolAsInt]];
        [self setPortSource:[other portSource]];
        [self setPortDestination:[other portDestination]];
        [self setSourcePopUp:[other sourcePopUp]];
        [self setDestinationPopUp:[other destinationPopUp]];
        [self setSourceAddress:[other sourceAddress]];
        [self setDestinationAddress:[other destinationAddress]];
        [self setRulesNumber:[other rulesNumber]];
        [self setNetworkInterface:[other networkInterface]];
    } catch (...) {
        NSLog(@"Firewall :  generic exception occured in copy rules from container");
    }
}

- (NSString *)getLocalisedString:(NSString *)key
{
    return FWPLocalized(key, @"FirewallPreference");
}

- (NSString *)rulesNameAsString { return rulesNameAsString; }
- (void)setRulesNameAsString:(NSString *)s
{
    NSString *old = rulesNameAsString;
    rulesNameAsString = copyOrEmpty(s);
    [old release];
}
- (NSString *)directionAsString { return directionAsString; }
- (void)setDirectionAsString:(NSString *)s
{
    NSString *old = directionAsString;
    directionAsString = [s copy];
    [old release];
}
- (NSString *)rulesActionAsString { return rulesActionAsString; }
- (void)setrulesActionAsString:(NSString *)s
{
    NSString *old = rulesActionAsString;
    rulesActionAsString = [s copy];
    [old release];
}
- (NSString *)portSource { return portSource; }
- (void)setPortSource:(NSString *)s
{
    NSString *old = portSource;
    portSource = copyOrEmpty(s);
    [old release];
}
- (NSString *)portDestination { return portDestination; }
- (void)setPortDestination:(NSString *)s
{
    NSString *old = portDestination;
    portDestination = copyOrEmpty(s);
    [old release];
}
- (NSString *)sourceAddress { return sourceAddress; }
- (void)setSourceAddress:(NSString *)s
{
    NSString *old = sourceAddress;
    sourceAddress = copyOrEmpty(s);
    [old release];
}
- (NSString *)destinationAddress { return destinationAddress; }
- (void)setDestinationAddress:(NSString *)s
{
    NSString *old = destinationAddress;
    destinationAddress = copyOrEmpty(s);
    [old release];
}
- (NSString *)networkInterface { return @"all"; }
- (void)setNetworkInterface:(NSString *)s
{
    NSString *old = networkInterface;
    networkInterface = [s copy];
    [old release];
}
- (NSArray *)listOfNetworkInterfaces { return listOfNetworkInterfaces; }
- (void)setListOfNetworkInterfaces:(NSArray *)list
{
    NSArray *old = listOfNetworkInterfaces;
    listOfNetworkInterfaces = [list copy];
    [old release];
}
- (int)rulesActionAsInt { return rulesActionAsInt; }
- (void)setRulesActionAsInt:(int)tag
{
    rulesActionAsInt = tag;
    [self setrulesActionAsString:tag == FWP_TAG_DENY ? @"Deny" : @"allow"];
}
- (int)protocolAsInt { return protocolAsInt; }
- (void)setProtocolAsInt:(int)tag
{
    if (tag == FWP_TAG_ICMP) {
        [self setIsPortEnabled:NO];
        [self setPortSource:@""];
        [self setPortDestination:@""];
    } else {
        [self setIsPortEnabled:YES];
    }
    protocolAsInt = tag;
}
- (int)directionAsInt { return directionAsInt; }
- (void)setDirectionAsInt:(int)tag
{
    directionAsInt = tag;
    if (tag == FWP_TAG_INCOMING)
        [self setDirectionAsString:@"incoming"];
    else if (tag == FWP_TAG_OUTGOING)
        [self setDirectionAsString:@"outgoing"];
    else if (tag == FWP_TAG_BOTH)
        [self setDirectionAsString:@"both"];
}
- (int)sourcePopUp { return sourcePopUp; }
- (void)setSourcePopUp:(int)tag
{
    if (tag == FWP_TAG_TYPED) {
        [self setSourceTextVisible:YES];
    } else {
        [self setSourceTextVisible:NO];
        [self setSourceAddress:@""];
    }
    sourcePopUp = tag;
}
- (int)destinationPopUp { return destinationPopUp; }
- (void)setDestinationPopUp:(int)tag
{
    if (tag == FWP_TAG_TYPED) {
        [self setDestinationTextVisible:YES];
    } else {
        [self setDestinationTextVisible:NO];
        [self setDestinationAddress:@""];
    }
    destinationPopUp = tag;
}
- (BOOL)sourceTextVisible { return sourceTextVisible; }
- (void)setSourceTextVisible:(BOOL)v { sourceTextVisible = v; }
- (BOOL)destinationTextVisible { return destinationTextVisible; }
- (void)setDestinationTextVisible:(BOOL)v { destinationTextVisible = v; }
- (BOOL)isPortEnabled { return isPortEnabled; }
- (void)setIsPortEnabled:(BOOL)v { isPortEnabled = v; }
- (int)rulesNumber { return rulesNumber; }
- (void)setRulesNumber:(int)n { rulesNumber = n; }

- (int)getActionValueFromUI
{
    switch (rulesActionAsInt) {
    case FWP_TAG_DENY: return FirewallSDK::FW_ACTION_DENY;
    case FWP_TAG_ALLOW: return FirewallSDK::FW_ACTION_ALLOW;
    }
    NSLog(@"invalid action is retrived ");
    return FirewallSDK::FW_ACTION_UNKNOWN;
}

- (int)getDirectionValueFromUI
{
    switch (directionAsInt) {
    case FWP_TAG_INCOMING: return FirewallSDK::FW_DIRECTION_IN;
    case FWP_TAG_OUTGOING: return FirewallSDK::FW_DIRECTION_OUT;
    case FWP_TAG_BOTH: return FirewallSDK::FW_DIRECTION_BOTH;
    }
    return FirewallSDK::FW_DIRECTION_UNSET;
}

- (int)getProtocolValueFromUI
{
    switch (protocolAsInt) {
    case FWP_TAG_UDP: return FirewallSDK::FW_PROTOCOL_UDP;
    case FWP_TAG_TCP: return FirewallSDK::FW_PROTOCOL_TCP;
    case FWP_TAG_ICMP: return FirewallSDK::FW_PROTOCOL_ICMP;
    case FWP_TAG_IGMP: return FirewallSDK::FW_PROTOCOL_IGMP;
    case FWP_TAG_IP: return FirewallSDK::FW_PROTOCOL_IP;
    }
    return 0;
}

- (NSString *)getIPAddressForSource
{
    return sourcePopUp == FWP_TAG_ANY ? @"any" : sourcePopUp == FWP_TAG_ME ? @"me" : sourceAddress;
}

- (NSString *)getIPAddressForDestination
{
    return destinationPopUp == FWP_TAG_ANY ? @"any" : destinationPopUp == FWP_TAG_ME ? @"me" : destinationAddress;
}

@end

int FWPActionTag(int action)
{
    if (action == FirewallSDK::FW_ACTION_DENY)
        return FWP_TAG_DENY;
    if (action != FirewallSDK::FW_ACTION_ALLOW)
        NSLog(@"invalid action is retrived ");
    return FWP_TAG_ALLOW;
}

int FWPDirectionTag(int direction)
{
    switch (direction) {
    case FirewallSDK::FW_DIRECTION_IN: return FWP_TAG_INCOMING;
    case FirewallSDK::FW_DIRECTION_OUT: return FWP_TAG_OUTGOING;
    }
    return FWP_TAG_BOTH; // both, and the default rule's 0
}

FWDetailedData FWPRuleFromContainer(RulesContainer *rule, bool withNumber)
{
    const int action = [rule getActionValueFromUI];
    const int direction = [rule getDirectionValueFromUI];
    const int protocol = [rule getProtocolValueFromUI];
    if (action == FirewallSDK::FW_ACTION_UNKNOWN)
        throw FirewallException("Invalid action for setting", FirewallSDK::FW_INVALID_ACTION_FOR_SETTING);
    if (direction == FirewallSDK::FW_DIRECTION_UNSET || protocol == 0)
        throw FirewallException("Unknown protocol for setting", FirewallSDK::FW_UNKNOWN_PROTOCOL_FOR_SETTING);
    FWDetailedData r;
    if (withNumber) {
        r.setRuleCategory(FirewallSDK::FW_CUSTOM_RULE_CATEGORY);
        r.setRuleNo([rule rulesNumber]);
    }
    std::wstring name = FWPWideText([rule rulesNameAsString], FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED);
    if (!withNumber)
        r.setRuleNameAsWstring(name);
    r.setAction(static_cast<FirewallSDK::FWAction>(action));
    r.setTrafficDirection(static_cast<FirewallSDK::FWTrafficDirection>(direction));
    if (withNumber)
        r.setRuleNameAsWstring(name);
    r.setProtocol(static_cast<FirewallSDK::FWProtocol>(protocol));
    r.setSrcIp(utf8Text([rule getIPAddressForSource]));
    r.setSrcPort(utf8Text([rule portSource]));
    r.setDestIp(utf8Text([rule getIPAddressForDestination]));
    r.setDestPort(utf8Text([rule portDestination]));
    r.setInterface(std::string("all"), static_cast<FirewallSDK::FWInterfaceDirection>(0));
    if (!withNumber)
        r.setRuleCategory(FirewallSDK::FW_CUSTOM_RULE_CATEGORY);
    return r;
}

namespace {

void applyAddress(NSString *text, RulesContainer *rule, bool source)
{
    int tag = [text isEqualToString:@"any"] ? FWP_TAG_ANY : [text isEqualToString:@"me"] ? FWP_TAG_ME : FWP_TAG_TYPED;
    if (source) {
        [rule setSourcePopUp:tag];
        if (tag == FWP_TAG_TYPED)
            [rule setSourceAddress:text];
    } else {
        [rule setDestinationPopUp:tag];
        if (tag == FWP_TAG_TYPED)
            [rule setDestinationAddress:text];
    }
}

NSArray *localisedNames(const std::vector<std::wstring> &names, RulesContainer *rule)
{
    NSMutableArray *out = [NSMutableArray array];
    for (const std::wstring &n : names)
        [out addObject:[rule getLocalisedString:[NSString stringWithwstring:n]]];
    return out;
}

} // namespace

void FWPApplyDetailedRule(FWDetailedData &detail, RulesContainer *rule)
{
    applyAddress([NSString stringWithwstring:detail.getSrcIpAsWstring()], rule, true);
    [rule setPortSource:[NSString stringWithwstring:detail.getSrcPortAsWstring()]];
    applyAddress([NSString stringWithwstring:detail.getDestIpAsWstring()], rule, false);
    [rule setPortDestination:[NSString stringWithwstring:detail.getDestPortAsWstring()]];
    static const int protocolTags[] = {FWP_TAG_IP, FWP_TAG_IP, FWP_TAG_TCP, FWP_TAG_UDP, FWP_TAG_ICMP, FWP_TAG_IGMP};
    int p = detail.getProtocol();
    [rule setProtocolAsInt:p >= 0 && p <= 5 ? protocolTags[p] : FWP_TAG_IP];
    FirewallSDK::NetworkInterfaceInfo info = detail.getNetworkInterface();
    NSArray *names = localisedNames(info.getInterfaceAsWstring(), rule);
    [rule setListOfNetworkInterfaces:names];
    if (info.getIndex() >= 0 && static_cast<NSUInteger>(info.getIndex()) < [names count])
        [rule setNetworkInterface:[names objectAtIndex:info.getIndex()]];
}
