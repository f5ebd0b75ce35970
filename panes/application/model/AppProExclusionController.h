// The exclusions tab: paths the daemon keeps out of application protection.
// The list lives in the daemon and is always sent whole.
#import <Foundation/Foundation.h>

#import "AppProPorts.h"

@interface AppProExclusionData : NSObject <NSCopying> {
    NSString *applicationName;
    id applicationIcon;
    NSString *applicationNameWithAbsPath;
}
- (id)initWithApplicationPath:(NSString *)path;
- (NSString *)applicationName;
- (void)setApplicationName:(NSString *)value;
- (id)applicationIcon;
- (void)setApplicationIcon:(id)value;
- (NSString *)applicationNameWithAbsPath;
- (void)setApplicationNameWithAbsPath:(NSString *)value;
/// The absolute path: the table shows paths.
- (NSString *)displayName;
- (id)displayIcon;
@end

@interface AppProExclusionController : NSObject <AppProOpenPanelFilter> {
    id appProExclusionsTable;
    id appProExclusionListArrayController;
    id appProExclusionTabView;
    NSMutableArray *appProExclusionsListArray;
    BOOL isDeleteEnabled;
    BOOL isTableFirstResponder;
    NSIndexSet *selectedIndexes; ///< the table's selection
    BOOL listFetched;            ///< the list shown is the daemon's
}
+ (AppProExclusionController *)sharedAppProExclusionController;
- (void)awakeFromNib;
- (void)refreshExclusions;
- (void)addExclusions:(NSMutableArray *)rows;
- (void)AddExclusion:(id)sender;
/// The end of the open panel: `paths` were chosen when `code` is 1.
- (void)openPanelDidEnd:(NSArray *)paths returnCode:(int)code contextInfo:(void *)context;
- (void)RemoveExclusion:(id)sender;
- (BOOL)isDuplicateExixts:(NSString *)path;
- (void)refreshTheScreens;
- (void)tableViewSelectionDidChange:(NSNotification *)notification;
- (BOOL)tableView:(id)table shouldSelectRow:(NSInteger)row;
- (void)ZRMTableViewResponderChanged:(id)table;
- (void)deselectTable;
- (NSString *)displayTextForCell:(id)cell data:(id)data;
- (id)iconForCell:(id)cell data:(id)data;
- (BOOL)isFilePathDirectory:(NSString *)path;
- (NSString *)myPrimaryText;
- (BOOL)isDeleteEnabled;
- (void)setIsDeleteEnabled:(BOOL)value;
- (BOOL)isTableFirstResponder;
- (void)setIsTableFirstResponder:(BOOL)value;
- (NSMutableArray *)appProExclusionsListArray;
- (void)setAppProExclusionsListArray:(NSMutableArray *)value;
- (NSIndexSet *)selectedIndexes;
- (void)setSelectedIndexes:(NSIndexSet *)value;
- (id)appProExclusionTabView;
- (void)setAppProExclusionTabView:(id)value;
@end

/// The AppProDetailRuleController of the sheet's sub-rule table.
@interface AppProDetailRuleController : NSObject {
    id detailedRuleTable;
    id AppProDetailedRuleArrayController;
    BOOL isDeleteEnabled;
    BOOL isTableFirstResponder;
}
- (void)awakeFromNib;
/// Follows the sub-rule selection of the shared rules controller.
- (void)tableViewSelectionDidChange:(NSNotification *)notification;
- (void)ZRMTableViewResponderChanged:(id)table;
- (BOOL)isDeleteEnabled;
- (void)setIsDeleteEnabled:(BOOL)value;
- (BOOL)isTableFirstResponder;
- (void)setIsTableFirstResponder:(BOOL)value;
- (id)detailedRuleTable;
- (void)setDetailedRuleTable:(id)value;
@end
