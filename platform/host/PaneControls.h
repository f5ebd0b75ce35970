// Controls the panes' views built in code share.
#import <AppKit/AppKit.h>

#ifdef __cplusplus
extern "C" {
#endif

/// A rounded push button sending `action` to `target`, added to `parent`.
NSButton *PaneButton(NSView *parent, NSRect frame, NSString *title, id target, SEL action);

#ifdef __cplusplus
}
#endif
