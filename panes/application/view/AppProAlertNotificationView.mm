#import "AppProAlertNotificationView.h"
#import "AppProAlert.h"
#import "AppProCatch.h"
#import "AppProNotifier.h"

/// A view filled with one colour, so the white texts show.
@interface AppProPanelBackground : NSView {
    NSColor *fill;
}
- (id)initWithFrame:(NSRect)frame colour:(NSColor *)colour;
@end

@implementation AppProPanelBackground
- (id)initWithFrame:(NSRect)frame colour:(NSColor *)colour
{
    self = [super initWithFrame:frame];
    fill = [colour retain];
    return self;
}
- (void)dealloc
{
    [fill release];
    [super dealloc];
}
- (void)drawRect:(NSRect)rect
{
    [fill set];
    NSRectFill(rect);
}
@end

NSDictionary *AppProAppKitTitleAttributes(BOOL centred)
{
    NSMutableDictionary *a = [NSMutableDictionary dictionary];
    [a setObject:[NSColor whiteColor] forKey:NSForegroundColorAttributeName];
    // Fonts need the display; without one the titles have none.
    NSFont *font = nil;
    AppProCatching([&] {
        font = [NSFont fontWithName:@"Arial" size:13.0];
        if (font == nil)
            font = [NSFont systemFontOfSize:13.0];
    });
    if (font != nil)
        [a setObject:font forKey:NSFontAttributeName];
    if (centred) {
        NSMutableParagraphStyle *p = [[[NSMutableParagraphStyle alloc] init] autorelease];
        [p setAlignment:NSCenterTextAlignment];
        [a setObject:p forKey:NSParagraphStyleAttributeName];
    }
    return a;
}

static NSTextField *textLine(NSView *parent, NSRect frame)
{
    NSTextField *l = [[[NSTextField alloc] initWithFrame:frame] autorelease];
    [l setEditable:NO];
    [l setSelectable:NO];
    [l setBezeled:NO];
    [l setDrawsBackground:NO];
    [l setTextColor:[NSColor whiteColor]];
    [parent addSubview:l];
    return l;
}

static NSButton *panelButton(NSView *parent, NSRect frame, NSAttributedString *title, id target, SEL action)
{
    NSButton *b = [[[NSButton alloc] initWithFrame:frame] autorelease];
    [b setTitle:[title string]];
    [b setBezelStyle:NSRoundedBezelStyle];
    [b setTarget:target];
    [b setAction:action];
    [parent addSubview:b];
    return b;
}

@implementation AppProAlertNotificationView
- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    alerts = [[AppProAlert sharedAppProAlert] retain];
    notifier = [[AppProNotifier sharedAppProNotifier] retain];
    NSColor *dark = [NSColor colorWithCalibratedRed:0.13 green:0.25 blue:0.42 alpha:1.0];

    alertView = [[AppProPanelBackground alloc] initWithFrame:NSMakeRect(0, 0, 380, 130) colour:dark];
    alertText = textLine(alertView, NSMakeRect(10, 96, 360, 22));
    choices = [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(10, 58, 360, 26) pullsDown:NO] autorelease];
    NSArray *titles = [NSArray arrayWithObjects:[alerts allowWithNetworkString], [alerts allowWithoutNetworkString],
                                                [alerts denyString], nil];
    for (NSUInteger i = 0; i < [titles count]; i++)
        [choices addItemWithTitle:[[titles objectAtIndex:i] string]];
    [choices setTarget:self];
    [choices setAction:@selector(choiceChanged:)];
    [alertView addSubview:choices];
    alwaysButton = panelButton(alertView, NSMakeRect(170, 12, 95, 28), [alerts alwaysString], alerts,
                               @selector(allowButtonClicked:));
    onceButton = panelButton(alertView, NSMakeRect(275, 12, 95, 28), [alerts onceString], alerts,
                             @selector(denyButtonClicked:));

    notificationView = [[AppProPanelBackground alloc] initWithFrame:NSMakeRect(0, 0, 380, 90) colour:dark];
    notificationText = textLine(notificationView, NSMakeRect(10, 52, 360, 22));
    okButton = panelButton(notificationView, NSMakeRect(275, 12, 95, 28), [alerts okLabel], notifier,
                           @selector(okButtonClicked:));

    [alerts addObserver:self forKeyPath:@"alertString" options:0 context:NULL];
    [alerts addObserver:self forKeyPath:@"action" options:0 context:NULL];
    [notifier addObserver:self forKeyPath:@"notificationString" options:0 context:NULL];
    [self refresh];
    return self;
}

- (void)refresh
{
    NSString *text = [alerts alertString];
    [alertText setStringValue:text != nil ? text : @""];
    int action = [alerts action];
    if (action >= 0 && action < [choices numberOfItems])
        [choices selectItemAtIndex:action];
    text = [notifier notificationString];
    [notificationText setStringValue:text != nil ? text : @""];
}

- (void)observeValueForKeyPath:(NSString *)path ofObject:(id)object change:(NSDictionary *)change context:(void *)context
{
    (void)path;
    (void)object;
    (void)change;
    (void)context;
    [self refresh];
}

- (void)choiceChanged:(id)sender
{
    (void)sender;
    [alerts setAction:(int)[choices indexOfSelectedItem]];
}

- (NSView *)alertView { return alertView; }
- (NSView *)notificationView { return notificationView; }
@end
