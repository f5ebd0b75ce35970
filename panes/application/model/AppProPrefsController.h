// The rules tab: the rule rows, the general preferences, the lock, and the
// rule editing sheet. Foundation only: the view keeps the tables'
// selections in step with the selection properties here.
#import <Foundation/Foundation.h>

#import "AppProPorts.h"

@class AppProRule;

@interface AppProPrefsController : NSObject <AppProOpenPanelFilter> {
    // Outlets (set by the view).
    id addRuleWindow;
    id rulesTable;
    id AppProRuleArrayController;
    id AppProDetailedRuleArrayController;
    AppProRule *rule;
    id promptTimeout;
    id appName;
    id browseButton;

    NSMutableArray *appProRulesArray;
    NSMutableArray *appProDetailedRulesArray;
    BOOL isTextBlack; ///< textColor: black unlocked, gray locked
    BOOL isPreferenceEnabled;
    BOOL isAllowAppleSignedBinaries;
    int unknownModifidAllowDenyPromptOption;
    BOOL isPromptTimeOutHidden;
    int timeOut;
    BOOL isDeleteEnabled;
    BOOL isEnableAll;
    BOOL isRuleModification;
    BOOL isLeopard;
    BOOL isTableFirstResponder;

    // What the array controllers of the nib held: the selections and the
    // row the user clicked.
    NSIndexSet *selectedRuleIndexes;
    NSIndexSet *selectedDetailIndexes;
    int clickedRuleRow;

    BOOL prefsFetched;      ///< a fetch of the preferences succeeded
    BOOL observingSelf;     ///< the three preference keys are observed
    NSMutableSet *observedRows; ///< NSValue of each row observed
    NSString *editedPath;   ///< the path of the row the sheet opened on
}

+ (AppProPrefsController *)sharedAppProPrefsController;
/// The rules-table row whose edit sheet is open; -1 for none.
+ (int)clickedRowIndex;

- (void)awakeFromNib;
- (void)refreshRules;
- (void)refreshUIWIthRules;
- (void)refreshUIWIthPrefs;
- (void)addObjectToAppProRulesArray:(AppProRule *)row;
- (void)tableViewSelectionDidChange:(NSNotification *)notification;
- (BOOL)tableView:(id)table shouldSelectRow:(NSInteger)row;
- (void)ZRMTableViewResponderChanged:(id)table;
- (void)tabView:(id)tabView willSelectTabViewItem:(id)item;
- (void)EnableRules:(id)sender;
- (void)DeleteRule:(id)sender;
- (void)displayErrorMsg:(NSString *)key;
- (NSString *)getLocalizedErrorString:(NSString *)key;
- (NSString *)retriveLocalisedString:(NSString *)key;
- (BOOL)leopardRnot;
- (NSString *)displayTextForCell:(id)cell data:(id)data;
- (id)iconForCell:(id)cell data:(id)data;

// The sheet.
- (void)AddNewRule:(id)sender;
- (void)EditRules:(id)sender;
- (void)ChooseApplication:(id)sender;
- (BOOL)isFilePathDirectory:(NSString *)path;
- (void)AddNewRuleOK:(id)sender;
- (void)AddNewRuleCancel:(id)sender;
- (void)AddDetailedRule:(id)sender;
- (void)DeleteDetailedRule:(id)sender;
- (void)MoveUpDetailedRule:(id)sender;
- (void)MoveDownDetailedRule:(id)sender;

// Accessors.
- (id)addRuleWindow;
- (void)setAddRuleWindow:(id)value;
- (id)rulesTable;
- (void)setRulesTable:(id)value;
- (id)promptTimeout;
- (void)setPromptTimeout:(id)value;
- (AppProRule *)rule;
- (void)setRule:(AppProRule *)value;
- (NSMutableArray *)appProRulesArray;
- (void)setAppProRulesArray:(NSMutableArray *)value;
- (NSMutableArray *)appProDetailedRulesArray;
- (void)setAppProDetailedRulesArray:(NSMutableArray *)value;
/// The toolkit's colour: black unlocked, gray locked.
- (id)textColor;
/// A flag, not a colour: YES black, NO gray.
- (void)setTextColor:(BOOL)unlocked;
- (BOOL)isPreferenceEnabled;
- (void)setIsPreferenceEnabled:(BOOL)value;
- (BOOL)isAllowAppleSignedBinaries;
- (void)setIsAllowAppleSignedBinaries:(BOOL)value;
- (int)unknownModifidAllowDenyPromptOption;
- (void)setUnknownModifidAllowDenyPromptOption:(int)tag;
- (BOOL)isPromptTimeOutHidden;
- (void)setIsPromptTimeOutHidden:(BOOL)value;
- (int)timeOut;
/// Stored within [10, 300], as the field shows it.
- (void)setTimeOut:(int)value;
- (BOOL)isDeleteEnabled;
- (void)setIsDeleteEnabled:(BOOL)value;
- (BOOL)isEnableAll;
- (void)setIsEnableAll:(BOOL)value;
- (BOOL)isRuleModification;
- (void)setIsRuleModification:(BOOL)value;
- (BOOL)isLeopard;
- (void)setIsLeopard:(BOOL)value;
- (BOOL)isTableFirstResponder;
- (void)setIsTableFirstResponder:(BOOL)value;
- (NSIndexSet *)selectedRuleIndexes;
- (void)setSelectedRuleIndexes:(NSIndexSet *)value;
- (NSIndexSet *)selectedDetailIndexes;
- (void)setSelectedDetailIndexes:(NSIndexSet *)value;
- (int)clickedRuleRow;
- (void)setClickedRuleRow:(int)value;
@end
