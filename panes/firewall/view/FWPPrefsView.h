// The preference view, built in code: the rules and trusted-groups tabs,
// the rule editor and Advanced sheets, wired to the shared tab controllers.
#import <AppKit/AppKit.h>

/// The view (autoreleased); `tabDelegate` hears tab switches.
NSView *FWPBuildPreferencesView(id tabDelegate);
