// Where the pane's sheets, error panel and group-name alert appear: one seam,
// so that tests record them instead of running modal loops.
#import <AppKit/AppKit.h>

@protocol FWPPresenter
/// Shows `sheet` on the key window.
- (void)beginSheet:(NSWindow *)sheet;
/// Ends and orders out `sheet`.
- (void)endSheet:(NSWindow *)sheet;
/// An informational panel (or alert) with one button; returns when it is
/// dismissed.
- (void)showPanelWithTitle:(NSString *)title button:(NSString *)button;
@end

/// The presenter in use: AppKit's sheets and panels unless one was set.
/// With the user default FWPModelessPanels YES (tests only) sheets open
/// without a modal loop and panels are logged "FWP panel: <title>".
id<FWPPresenter> FWPCurrentPresenter(void);
/// nil: back to AppKit's.
void FWPSetPresenter(id<FWPPresenter> presenter);
