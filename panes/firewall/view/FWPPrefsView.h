// The preference view, built in code: the rules and trusted-groups tabs,
// the rule editor and Advanced sheets, wired to the shared tab controllers.
#import <AppKit/AppKit.h>

/// The view (autoreleased); `tabDelegate` hears tab switches.
NSView *FWPBuildPreferencesView(id tabDelegate);

/// Fixed places in the view (its own coordinates, origin top left, as
/// xdotool sees them once the view fills a window's content).
extern const NSPoint FWPAddButtonPlace;
