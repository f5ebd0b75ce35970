// One rule in the terms of the pane's controls: every choice as the tag of
// the control showing it, addresses and ports as typed. Rows of the rules
// table and the editor sheet's model.
#import <Foundation/Foundation.h>

#include "FWRecords.h"

// Action, direction, protocol and address pop-up tags.
enum {
    FWP_TAG_DENY = 1200,
    FWP_TAG_ALLOW = 1201,
    FWP_TAG_UDP = 1300,
    FWP_TAG_TCP = 1301,
    FWP_TAG_ICMP = 1302,
    FWP_TAG_IGMP = 1303,
    FWP_TAG_IP = 1304,
    FWP_TAG_INCOMING = 1400,
    FWP_TAG_OUTGOING = 1401,
    FWP_TAG_BOTH = 1402,
    FWP_TAG_ANY = 1500,
    FWP_TAG_ME = 1501,
    FWP_TAG_TYPED = 1503,
};

@interface RulesContainer : NSObject {
    NSString *rulesNameAsString;
    NSString *directionAsString;
    NSString *rulesActionAsString;
    NSString *portSource;
    NSString *portDestination;
    NSString *sourceAddress;
    NSString *destinationAddress;
    NSString *networkInterface;
    NSArray *listOfNetworkInterfaces;
    int rulesActionAsInt;
    int protocolAsInt;
    int directionAsInt;
    int sourcePopUp;
    int destinationPopUp;
    BOOL sourceTextVisible;
    BOOL destinationTextVisible;
    BOOL isPortEnabled;
    int rulesNumber;
}
- (id)initWithContentsOfContainer:(RulesContainer *)other;
- (void)resetToInitState;
- (void)copyRulesFromContainer:(RulesContainer *)other;
- (NSString *)getLocalisedString:(NSString *)key;

- (NSString *)rulesNameAsString;
- (void)setRulesNameAsString:(NSString *)s;
- (NSString *)directionAsString;
- (void)setDirectionAsString:(NSString *)s;
- (NSString *)rulesActionAsString;
- (void)setrulesActionAsString:(NSString *)s;
- (NSString *)portSource;
- (void)setPortSource:(NSString *)s;
- (NSString *)portDestination;
- (void)setPortDestination:(NSString *)s;
- (NSString *)sourceAddress;
- (void)setSourceAddress:(NSString *)s;
- (NSString *)destinationAddress;
- (void)setDestinationAddress:(NSString *)s;
/// Always "all": rules are never bound to an interface.
- (NSString *)networkInterface;
- (void)setNetworkInterface:(NSString *)s;
- (NSArray *)listOfNetworkInterfaces;
- (void)setListOfNetworkInterfaces:(NSArray *)list;
- (int)rulesActionAsInt;
- (void)setRulesActionAsInt:(int)tag;
- (int)protocolAsInt;
- (void)setProtocolAsInt:(int)tag;
- (int)directionAsInt;
- (void)setDirectionAsInt:(int)tag;
- (int)sourcePopUp;
- (void)setSourcePopUp:(int)tag;
- (int)destinationPopUp;
- (void)setDestinationPopUp:(int)tag;
- (BOOL)sourceTextVisible;
- (void)setSourceTextVisible:(BOOL)v;
- (BOOL)destinationTextVisible;
- (void)setDestinationTextVisible:(BOOL)v;
- (BOOL)isPortEnabled;
- (void)setIsPortEnabled:(BOOL)v;
- (int)rulesNumber;
- (void)setRulesNumber:(int)n;

/// The record's values of the tags; 0 for a tag no control has.
- (int)getActionValueFromUI;
- (int)getDirectionValueFromUI;
- (int)getProtocolValueFromUI;
- (NSString *)getIPAddressForSource;
- (NSString *)getIPAddressForDestination;
@end

/// The row's tags of a record's action and direction (GetAllFWRules).
int FWPActionTag(int action);
int FWPDirectionTag(int direction);

/// The rule the service gets from `rule` (a new one, or with its number for
/// a change). Throws FirewallSDK::FirewallException for a tag no control
/// has or a text without a UTF-8 form: nothing is sent then.
FirewallSDK::FWDetailedData FWPRuleFromContainer(RulesContainer *rule, bool withNumber);
/// Shows a detailed rule's addresses, ports, protocol and interfaces.
void FWPApplyDetailedRule(FirewallSDK::FWDetailedData &detail, RulesContainer *rule);
