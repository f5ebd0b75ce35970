// The rows of the rules table and their network sub-rules.
#import <Foundation/Foundation.h>

/// Status tags of a rule (the status pop-ups carry them).
enum {
    AppProStatusAllowWithNetwork = 100,
    AppProStatusAllowWithoutNetwork = 101,
    AppProStatusAllowRestricted = 102, ///< the sub-rules decide
    AppProStatusDeny = 103,
};

@interface AppProRule : NSObject <NSCopying> {
    int isRuleEnabled; ///< 1, 0, or -1: modified, waiting for the user
    BOOL isRuleModified;
    NSString *applicationName;
    id applicationIcon;
    NSString *applicationNameWithAbsPath;
    int statusTag;
    BOOL isDetailTableEnabled;
    NSMutableArray *detailedRule;
}
/// Back to the initial state; the modified mark stays and the sub-rule list
/// is emptied in place.
- (void)initRuleObject;
/// Name, icon and path from `path`; nothing else changes.
- (id)initWithApplicationPath:(NSString *)path;
- (int)isRuleEnabled;
/// -1 stays only on a rule marked modified (else 1); 0 and 1 clear the mark.
- (void)setIsRuleEnabled:(int)value;
- (BOOL)isRuleModified;
/// YES also sets the enabled value to -1.
- (void)setIsRuleModified:(BOOL)value;
- (NSString *)applicationName;
- (void)setApplicationName:(NSString *)value;
- (id)applicationIcon;
- (void)setApplicationIcon:(id)value;
- (NSString *)applicationNameWithAbsPath;
- (void)setApplicationNameWithAbsPath:(NSString *)value;
- (int)statusTag;
/// Also sets isDetailTableEnabled to (tag == 102).
- (void)setStatusTag:(int)value;
- (BOOL)isDetailTableEnabled;
- (void)setIsDetailTableEnabled:(BOOL)value;
- (NSMutableArray *)detailedRule;
/// Keeps a shallow mutable copy, unless `list` is the list already held.
- (void)setDetailedRule:(NSMutableArray *)list;
/// Enabled value, name, status, detail flag and an own copy of the list.
- (void)copyRule:(AppProRule *)other;
- (NSString *)displayName;
- (id)displayIcon;
@end

@interface AppProDetailedRule : NSObject {
    int protocolTag;
    NSString *ipSubnetString;
    NSString *portRangeString;
    int directionTag;
    int actionTag;
    int orderNumber;
}
- (int)protocolTag;
- (void)setProtocolTag:(int)value;
- (NSString *)ipSubnetString;
- (void)setIpSubnetString:(NSString *)value;
- (NSString *)portRangeString;
- (void)setPortRangeString:(NSString *)value;
- (int)directionTag;
- (void)setDirectionTag:(int)value;
- (int)actionTag;
- (void)setActionTag:(int)value;
- (int)orderNumber;
- (void)setOrderNumber:(int)value;
/// Table "AppProPrefs"; the key itself when missing or when the lookup
/// raises.
- (NSString *)getLocalisedString:(NSString *)key;
@end
