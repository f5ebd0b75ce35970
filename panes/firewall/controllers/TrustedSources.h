// The trusted-groups tab: groups and the addresses of the selected one. Every
// change goes to the service at once. One controller per process.
#import <AppKit/AppKit.h>

@interface TrustedIPAddress : NSObject {
    NSString *ipAddress;
}
- (NSString *)ipAddress;
- (void)setIpAddress:(NSString *)address;
@end

@interface TrustedObjects : NSObject {
    int isNameSet; // 0 never named, 1 first name, 2 renamed
    BOOL isSelect;
    BOOL isReadOnly;
    NSMutableArray *trustedLists;
    NSString *trustedListName;
    NSArrayController *trustedListController;
}
/// nil keeps the name (and isNameSet) as they are.
- (void)setTrustedListName:(NSString *)name;
- (NSString *)trustedListName;
- (BOOL)validateTrustedListName:(id *)name error:(NSError **)error;
- (NSString *)retriveLocalisedString:(NSString *)key;
- (void)setTrustedLists:(NSArray *)addresses;
- (NSMutableArray *)trustedLists;
- (void)setIsSelected:(BOOL)on;
- (void)setIsSelect:(BOOL)on;
- (BOOL)isSelect;
- (void)setIsReadOnly:(BOOL)on;
- (BOOL)isReadOnly;
- (int)isNameSet;
@end

@interface TrustedSources : NSObject {
@public
    NSArrayController *trustedArrayController;
    NSArrayController *trustedDomainsArrayController;
    NSTableView *trustedGroupsTableView;
    NSTableView *trustedIPAddressTableView;
    NSMutableArray *trustedContentsArray;
    NSMutableArray *trustedIpArray;
    TrustedObjects *selectedTrustedObj;
    BOOL isGroupDeleteEnabled;
    BOOL isGroupFirstResponder;
    BOOL isAddressFirstResponder;
    BOOL isAdressDeleteEnabled;
    int observingSuppressed; // changes the controller makes itself
}
+ (TrustedSources *)sharedTrustedSources;
- (void)refreshUI;
- (void)addToTrustedList:(TrustedObjects *)group;
- (IBAction)AddGroup:(id)sender;
- (IBAction)DeleteGroup:(id)sender;
- (IBAction)AddIPToGroup:(id)sender;
- (IBAction)DeleteIPFromGroup:(id)sender;
- (IBAction)EditedIPAddress:(id)sender;
- (void)tableViewSelectionDidChange:(NSNotification *)note;
- (BOOL)tableView:(NSTableView *)table shouldEditTableColumn:(NSTableColumn *)column row:(NSInteger)row;
- (void)ZRMTableViewResponderChanged:(NSTableView *)table;
- (TrustedObjects *)selectedTrustedObj;
- (NSArrayController *)groupsController;
- (NSArrayController *)addressesController;
- (BOOL)isGroupDeleteEnabled;
- (void)setIsGroupDeleteEnabled:(BOOL)v;
- (BOOL)isAdressDeleteEnabled;
- (void)setIsAdressDeleteEnabled:(BOOL)v;
- (BOOL)isGroupFirstResponder;
- (void)setIsGroupFirstResponder:(BOOL)v;
- (BOOL)isAddressFirstResponder;
- (void)setIsAddressFirstResponder:(BOOL)v;
@end

int GetTrustedList(void);
/// 10215 for the selected group.
int SetTrustedList(void);
/// 10214 with the selected group's addresses, trimmed, empty ones left out.
int ModifyTrustedList(void);
int EnableTrustedList(TrustedObjects *group);
/// 10215 for `group` (its addresses untrimmed), or 10214 for its addresses.
int FWPSetTrustedGroup(TrustedObjects *group, NSString *name);
int FWPModifyTrustedGroup(TrustedObjects *group);
