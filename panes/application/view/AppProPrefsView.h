// The preference view of nib "AppProPrefs", built in code: the tab view
// ("100" rules, "101" exclusions), both tables, the general preferences and
// the rule sheet, wired to the shared controllers. The bindings of the nib
// are key-value observation here.
#import <AppKit/AppKit.h>

@class AppProPrefsController;
@class AppProExclusionController;

@interface AppProPrefsView : NSObject {
@public
    NSView *preferenceView;
    NSTabView *tabView;
    NSTableView *rulesTable;
    NSTableView *exclusionsTable;
    NSTableView *detailTable;
    NSPopUpButton *unknownOption;
    NSButton *appleSigned;
    NSTextField *promptTimeout;
    NSPanel *addRuleWindow;
    NSTextField *appName;
    NSButton *browseButton;
    NSPopUpButton *sheetStatus;
    NSButton *addRuleButton;
    NSButton *deleteRuleButton;
    NSButton *enableRulesButton;
    NSButton *addExclusionButton;
    NSButton *removeExclusionButton;
    NSButton *sheetOK;
    NSButton *sheetCancel;
    AppProPrefsController *rules;
    AppProExclusionController *exclusions;
    id detailController;
    id strings;
    id fonts;
    BOOL syncing;
}
/// The one view of the process, built (and its controllers started) on the
/// first call.
+ (AppProPrefsView *)sharedView;
- (NSView *)preferenceView;
@end
