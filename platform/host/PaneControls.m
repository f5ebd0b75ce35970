#import "PaneControls.h"

NSButton *PaneButton(NSView *parent, NSRect frame, NSString *title, id target, SEL action)
{
    NSButton *b = [[[NSButton alloc] initWithFrame:frame] autorelease];
    [b setTitle:title];
    [b setBezelStyle:NSRoundedBezelStyle];
    [b setTarget:target];
    [b setAction:action];
    [parent addSubview:b];
    return b;
}
