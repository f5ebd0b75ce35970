#import "FirewallPreferencesStrings.h"
#import "PaneStrings.h"

static NSBundle *fixtureBundle = nil;

NSBundle *FWPResourceBundle(void) { return PaneResourceBundle(fixtureBundle, [FirewallPreferencesStrings class]); }
void FWPSetResourceBundle(NSBundle *bundle) { PaneKeepBundle(&fixtureBundle, bundle); }
NSString *FWPLocalized(NSString *key, NSString *table) { return PaneLocalized(FWPResourceBundle(), key, table); }

@implementation FirewallPreferencesStrings

- (NSString *)retriveLocalisedStringForFile:(NSString *)key
{
    return FWPLocalized(key, @"FirewallPreference");
}

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    const PaneText fields[] = {
        {&rulesTabnameString, @"rules"},
        {&trustedTabNameString, @"trusted"},
        {&rulesHeadingString, @"Rules lists the active IPFW rules available in the system"},
        {&trustedHeadingString, @"Trusted groups Explained"},
        {&allowString, @"allow all"},
        {&denyString, @"deny"},
        {&inboundString, @"inbound"},
        {&outBoundString, @"outbound"},
        {&customString, @"custom"},
        {&advancedButtonTitleString, @"advanced"},
        {&customExplanedString, @"Select this option if you want to allow or block incoming connections for specific IP addresses"},
        {&ruleNameTableCoulmnHeaderString, @"rule Name"},
        {&directionTableCoulmnHeaderString, @"direction"},
        {&actionTableCoulmnHeaderString, @"action"},
        {&trustedGroupTableCoulmnHeaderString, @"groups"},
        {&trustedAddressTableCoulmnHeaderString, @"ipandsubnet"},
        {&loggingString, @"enable Logging"},
        {&loggingExplainedString, @"Logging Explanation"},
        {&StealthString, @"enable stealth"},
        {&StealthExplainedString, @"stealth Explanation"},
        {&blockTrafficString, @"block unknown"},
        {&blockTrafficExplainedString, @"block unknown explained"},
        {&ruleNameString, @"rule Name"},
        {&generalString, @"general"},
        {&ruleActionString, @"rule Action"},
        {&protocolString, @"protocol"},
        {&directionString, @"direction"},
        {&interfaceString, @"interface"},
        {&souceDestinationString, @"source destination"},
        {&sourceIPString, @"source IP address, subnet or network"},
        {&portRangeString, @"port or range"},
        {&destIPString, @"destination IP address, subnet or network"},
        {&bothString, @"both"},
        {&addScreenAllowString, @"allow"},
        {&addScreenDenyString, @"deny"},
        {&meString, @"me"},
        {&othersString, @"others"},
        {&anyString, @"any"},
        {&okString, @"OK"},
        {&cancelString, @"cancel"},
    };
    PaneCopyTexts(fields, sizeof fields / sizeof fields[0], FWPResourceBundle(), @"FirewallPreference");
    explanationFontSize = 11;
    return self;
}

- (void)dealloc
{
    [rulesTabnameString release];
    [trustedTabNameString release];
    [rulesHeadingString release];
    [trustedHeadingString release];
    [allowString release];
    [denyString release];
    [inboundString release];
    [outBoundString release];
    [customString release];
    [advancedButtonTitleString release];
    [customExplanedString release];
    [ruleNameTableCoulmnHeaderString release];
    [directionTableCoulmnHeaderString release];
    [actionTableCoulmnHeaderString release];
    [trustedGroupTableCoulmnHeaderString release];
    [trustedAddressTableCoulmnHeaderString release];
    [loggingString release];
    [loggingExplainedString release];
    [StealthString release];
    [StealthExplainedString release];
    [blockTrafficString release];
    [blockTrafficExplainedString release];
    [ruleNameString release];
    [generalString release];
    [ruleActionString release];
    [protocolString release];
    [directionString release];
    [interfaceString release];
    [souceDestinationString release];
    [sourceIPString release];
    [portRangeString release];
    [destIPString release];
    [bothString release];
    [addScreenAllowString release];
    [addScreenDenyString release];
    [meString release];
    [othersString release];
    [anyString release];
    [okString release];
    [cancelString release];
    [super dealloc];
}

- (NSString *)rulesTabnameString
{
    return rulesTabnameString;
}

- (NSString *)trustedTabNameString
{
    return trustedTabNameString;
}

- (NSString *)rulesHeadingString
{
    return rulesHeadingString;
}

- (NSString *)trustedHeadingString
{
    return trustedHeadingString;
}

- (NSString *)allowString
{
    return allowString;
}

- (NSString *)denyString
{
    return denyString;
}

- (NSString *)inboundString
{
    return inboundString;
}

- (NSString *)outBoundString
{
    return outBoundString;
}

- (NSString *)customString
{
    return customString;
}

- (NSString *)advancedButtonTitleString
{
    return advancedButtonTitleString;
}

- (NSString *)customExplanedString
{
    return customExplanedString;
}

- (NSString *)ruleNameTableCoulmnHeaderString
{
    return ruleNameTableCoulmnHeaderString;
}

- (NSString *)directionTableCoulmnHeaderString
{
    return directionTableCoulmnHeaderString;
}

- (NSString *)actionTableCoulmnHeaderString
{
    return actionTableCoulmnHeaderString;
}

- (NSString *)trustedGroupTableCoulmnHeaderString
{
    return trustedGroupTableCoulmnHeaderString;
}

- (NSString *)trustedAddressTableCoulmnHeaderString
{
    return trustedAddressTableCoulmnHeaderString;
}

- (NSString *)loggingString
{
    return loggingString;
}

- (NSString *)loggingExplainedString
{
    return loggingExplainedString;
}

- (NSString *)StealthString
{
    return StealthString;
}

- (NSString *)StealthExplainedString
{
    return StealthExplainedString;
}

- (NSString *)blockTrafficString
{
    return blockTrafficString;
}

- (NSString *)blockTrafficExplainedString
{
    return blockTrafficExplainedString;
}

- (NSString *)ruleNameString
{
    return ruleNameString;
}

- (NSString *)generalString
{
    return generalString;
}

- (NSString *)ruleActionString
{
    return ruleActionString;
}

- (NSString *)protocolString
{
    return protocolString;
}

- (NSString *)directionString
{
    return directionString;
}

- (NSString *)interfaceString
{
    return interfaceString;
}

- (NSString *)souceDestinationString
{
    return souceDestinationString;
}

- (NSString *)sourceIPString
{
    return sourceIPString;
}

- (NSString *)portRangeString
{
    return portRangeString;
}

- (NSString *)destIPString
{
    return destIPString;
}

- (NSString *)bothString
{
    return bothString;
}

- (NSString *)addScreenAllowString
{
    return addScreenAllowString;
}

- (NSString *)addScreenDenyString
{
    return addScreenDenyString;
}

- (NSString *)meString
{
    return meString;
}

- (NSString *)othersString
{
    return othersString;
}

- (NSString *)anyString
{
    return anyString;
}

- (NSString *)okString
{
    return okString;
}

- (NSString *)cancelString
{
    return cancelString;
}

- (int)explanationFontSize
{
    return explanationFontSize;
}

@end
