// The rules tab: basic mode and options, the rule table, the editor sheet
// and the pane's error panel. One controller per process.
#import <AppKit/AppKit.h>

@class RulesContainer;
@class ZRMStringFormatter;

/// NO only while the service's options are being shown.
extern BOOL gIsUIDenySelection;
/// The pasteboard type of dragged rows.
extern NSString *kFWZRmPrivateRowPBType;

/// The name check's code: "Rule Name cannot be blank".
enum { FW_RULE_NAME_BLANK = -20 };

@interface PreferenceRules : NSObject {
@public
    NSWindow *addRulesWindow;
    NSWindow *advancedWindow;
    NSArrayController *fireWallRulesArrayContr;
    RulesContainer *rulesObject;
    RulesContainer *editedRulesObject;
    NSTableView *rulesTable;
    NSPopUpButton *networkPopUpButton;
    NSTextField *firewallUITextField;
    NSTextField *sourceIpTextField;
    NSTextField *destinationIpTextField;
    ZRMStringFormatter *fireWallStringFormatter;
    NSMutableArray *fireWallRulesArray;
    BOOL isPreferenceEnabled;
    NSColor *textColor;
    NSColor *textField;
    BOOL isDenySelected;
    BOOL isAllowCustom;
    BOOL isInBoundSelected;
    BOOL isOutBoundSelected;
    int allowDenyCustom;
    BOOL isCustomRulesEabled;
    BOOL isDeleteEnabled;
    BOOL isUpArrowEnabled;
    BOOL isDownArrowEnabled;
    BOOL isLoggingSelected;
    BOOL isStealthSelected;
    BOOL isBlockUnknownSelected;
    BOOL isTiger;
    // What the service last said, so that showing it sends nothing.
    BOOL optionsRead;     // a read succeeded
    int readMode;         // the mode read (or last sent)
    BOOL modeChosen;      // the user chose mode or directions since
    int sendSuppressed;   // setters called by the controller itself
    int observingSuppressed; // row changes made by the controller itself
}
+ (PreferenceRules *)sharedPreferenceRules;
+ (BOOL)leopardRnot;
- (NSString *)retriveLocalisedStringForFile:(NSString *)key;
- (void)handleErrorCode:(int)code;

- (void)setIsPreferenceEnabled:(BOOL)v;
- (BOOL)isPreferenceEnabled;
- (void)setTextColor:(BOOL)v;
- (NSColor *)textColor;
- (void)setTextField:(BOOL)v;
- (NSColor *)textField;
- (void)setAllowDenyCustom:(int)tag;
- (int)allowDenyCustom;
- (void)setIsInBoundSelected:(BOOL)v;
- (BOOL)isInBoundSelected;
- (void)setIsOutBoundSelected:(BOOL)v;
- (BOOL)isOutBoundSelected;
- (void)setIsLoggingSelected:(BOOL)v;
- (BOOL)isLoggingSelected;
- (void)setIsStealthSelected:(BOOL)v;
- (BOOL)isStealthSelected;
- (void)setIsBlockUnknownSelected:(BOOL)v;
- (BOOL)isBlockUnknownSelected;
- (void)setIsDenySelected:(BOOL)v;
- (BOOL)isDenySelected;
- (void)setIsCustomRulesEabled:(BOOL)v;
- (BOOL)isCustomRulesEabled;
- (void)setIsDeleteEnabled:(BOOL)v;
- (BOOL)isDeleteEnabled;
- (void)setIsUpArrowEnabled:(BOOL)v;
- (BOOL)isUpArrowEnabled;
- (void)setIsDownArrowEnabled:(BOOL)v;
- (BOOL)isDownArrowEnabled;
- (void)setIsTiger:(BOOL)v;
- (BOOL)isTiger;
- (RulesContainer *)rulesObject;
- (NSArrayController *)rulesController;

- (IBAction)AdvancedButtonClicked:(id)sender;
- (IBAction)applyAdvancedRules:(id)sender;
- (IBAction)CancelAdvancedRules:(id)sender;
- (void)refreshUI;
- (void)AddRules:(int)number Withname:(NSString *)name allow:(int)action direction:(int)direction;
- (void)rulesTableViewChanged;
- (IBAction)MoveSelectedRulesUp:(id)sender;
- (IBAction)MoveSelectedRulesDown:(id)sender;
- (IBAction)DeleteRulesButtonClicked:(id)sender;

- (IBAction)AddRulesButtonClicked:(id)sender;
- (IBAction)EditRules:(id)sender;
- (IBAction)AddNewCreatlyRules:(id)sender;
- (IBAction)CancelAddRules:(id)sender;
- (IBAction)SourceIPMenuChanged:(id)sender;
- (IBAction)DestinationIPMenuChanged:(id)sender;
- (void)populateNetworkInterface:(NSArray *)names;
- (BOOL)tableView:(NSTableView *)table
       acceptDrop:(id<NSDraggingInfo>)info
              row:(NSInteger)row
    dropOperation:(NSTableViewDropOperation)op;
/// The row to edit when the edit is not started by a double click.
- (void)editRow:(NSInteger)row;
@end

// The rules tab's commands (0 on success).
int GetAllFWRules(void);
int GetBasicFWPrefs(void);
int SetBasicFWPrefs(void);
int GetNetworkInterfaceList(void);
int GetDetailedFWRule(int ruleNumber);
int AddFWRule(void);
int ModifyFWRule(void);
/// The mode the service gets for a mode tag and two directions; -1 for a tag
/// that is neither allow all (1000) nor deny (1001).
int FWPBasicRuleOpt(int tag, BOOL inbound, BOOL outbound);
