// The table view of the panes: tells its delegate when it gains or loses
// keyboard focus.
#import <AppKit/AppKit.h>

@interface NSObject (ZRMTableViewResponder)
- (void)ZRMTableViewResponderChanged:(id)table;
@end

@interface ZRMCustomTableView : NSTableView {
    BOOL isTableFirstResponder;
}
/// YES while the table has keyboard focus.
- (BOOL)isTableFirstResponder;
@end
