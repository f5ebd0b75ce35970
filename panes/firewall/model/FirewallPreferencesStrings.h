// The pane's texts: the lookup every localised text shares, and the labels
// of the preference view.
#import <Foundation/Foundation.h>

/// The bundle the texts come from: the one holding the pane's classes,
/// unless a test gave another one.
NSBundle *FWPResourceBundle(void);
/// nil: back to the bundle of the pane's classes.
void FWPSetResourceBundle(NSBundle *bundle);
/// The text of `key` in `table`, asked with the empty default: a missing key
/// answers the key itself. Raises what the bundle raises.
NSString *FWPLocalized(NSString *key, NSString *table);

/// The labels of the preference view, from the table "FirewallPreference";
/// read by name (KVC).
@interface FirewallPreferencesStrings : NSObject {
    NSString *rulesTabnameString;
    NSString *trustedTabNameString;
    NSString *rulesHeadingString;
    NSString *trustedHeadingString;
    NSString *allowString;
    NSString *denyString;
    NSString *inboundString;
    NSString *outBoundString;
    NSString *customString;
    NSString *advancedButtonTitleString;
    NSString *customExplanedString;
    NSString *ruleNameTableCoulmnHeaderString;
    NSString *directionTableCoulmnHeaderString;
    NSString *actionTableCoulmnHeaderString;
    NSString *trustedGroupTableCoulmnHeaderString;
    NSString *trustedAddressTableCoulmnHeaderString;
    NSString *loggingString;
    NSString *loggingExplainedString;
    NSString *StealthString;
    NSString *StealthExplainedString;
    NSString *blockTrafficString;
    NSString *blockTrafficExplainedString;
    NSString *ruleNameString;
    NSString *generalString;
    NSString *ruleActionString;
    NSString *protocolString;
    NSString *directionString;
    NSString *interfaceString;
    NSString *souceDestinationString;
    NSString *sourceIPString;
    NSString *portRangeString;
    NSString *destIPString;
    NSString *bothString;
    NSString *addScreenAllowString;
    NSString *addScreenDenyString;
    NSString *meString;
    NSString *othersString;
    NSString *anyString;
    NSString *okString;
    NSString *cancelString;
    int explanationFontSize;
}
- (NSString *)retriveLocalisedStringForFile:(NSString *)key;
- (NSString *)rulesTabnameString;
- (NSString *)trustedTabNameString;
- (NSString *)rulesHeadingString;
- (NSString *)trustedHeadingString;
- (NSString *)allowString;
- (NSString *)denyString;
- (NSString *)inboundString;
- (NSString *)outBoundString;
- (NSString *)customString;
- (NSString *)advancedButtonTitleString;
- (NSString *)customExplanedString;
- (NSString *)ruleNameTableCoulmnHeaderString;
- (NSString *)directionTableCoulmnHeaderString;
- (NSString *)actionTableCoulmnHeaderString;
- (NSString *)trustedGroupTableCoulmnHeaderString;
- (NSString *)trustedAddressTableCoulmnHeaderString;
- (NSString *)loggingString;
- (NSString *)loggingExplainedString;
- (NSString *)StealthString;
- (NSString *)StealthExplainedString;
- (NSString *)blockTrafficString;
- (NSString *)blockTrafficExplainedString;
- (NSString *)ruleNameString;
- (NSString *)generalString;
- (NSString *)ruleActionString;
- (NSString *)protocolString;
- (NSString *)directionString;
- (NSString *)interfaceString;
- (NSString *)souceDestinationString;
- (NSString *)sourceIPString;
- (NSString *)portRangeString;
- (NSString *)destIPString;
- (NSString *)bothString;
- (NSString *)addScreenAllowString;
- (NSString *)addScreenDenyString;
- (NSString *)meString;
- (NSString *)othersString;
- (NSString *)anyString;
- (NSString *)okString;
- (NSString *)cancelString;
- (int)explanationFontSize;
@end
