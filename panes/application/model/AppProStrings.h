// The pane's texts: the lookup rule every lookup method shares, and the
// labels of the preference view.
#import <Foundation/Foundation.h>

/// The bundle the texts come from: the one that holds the pane's classes,
/// unless a test gave another one.
NSBundle *AppProResourceBundle(void);
/// nil: back to the bundle of the pane's classes.
void AppProSetResourceBundle(NSBundle *bundle);
/// The text of `key` in `table` of the resource bundle, asked with the empty
/// default: a key (or table) that is missing answers the key itself. Raises
/// what the bundle raises.
NSString *AppProLocalized(NSString *key, NSString *table);

/// The sixteen service names a port text may hold, in the order of the
/// port pop-up; each is also the localisation key of its display text.
extern const char *const AppProServiceNames[16];

/// Labels and pop-up items of the preference view, read by name (KVC).
@interface AppProPrefsStrings : NSObject {
    NSString *rulesString;
    NSString *exclusionString;
    NSString *appleSignedBinariesString;
    NSString *unknownModifiedApplicationString;
    NSString *applicationNameString;
    NSString *pathString;
    NSString *statusString;
    NSString *networkConnectionString;
    NSString *forString;
    NSString *secondsString;
    NSString *rulesTabHeadingString;
    NSString *exclusionTabHeadingString;
    NSString *allowString;
    NSString *denyString;
    NSString *allowExecutionWithNWAccessString;
    NSString *allowExecutionWithoutNWAccessString;
    NSString *allowExecutionWithRestrictedAccessString;
    NSString *denyExecutionWithString;
    NSString *promptString;
    NSString *tcpString;
    NSString *udpString;
    NSString *bothString;
    NSString *allowallString;
    NSString *denyallString;
    NSString *customString;
    NSString *incomingString;
    NSString *outgoingString;
    NSString *anyString;
    NSString *protocolString;
    NSString *ipsubnetString;
    NSString *portrangeString;
    NSString *directionString;
    NSString *actionString;
    NSString *okString;
    NSString *cancelString;
    NSString *predefinedApplicationsString;
    NSString *existingRulesString;
    NSString *importRulesFromString;
    NSString *allApplicationsString;
    NSString *promptDesString;
    NSMutableArray *portDropDownItem;
    NSMutableArray *IpDropDownItem;
}
/// Table "AppProPrefs" by the lookup rule; exceptions pass.
- (NSString *)retriveLocalisedString:(NSString *)key;
@end
