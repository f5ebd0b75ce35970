#import "FWPPrefsView.h"
#import "PaneControls.h"
#import "FirewallPreferencesStrings.h"
#import "PreferenceRules.h"
#import "RulesContainer.h"
#import "TrustedSources.h"

namespace {

const CGFloat kWidth = 640, kHeight = 440;

NSButton *checkBox(NSView *parent, NSRect frame, NSString *title, id object, NSString *keyPath)
{
    NSButton *b = [[[NSButton alloc] initWithFrame:frame] autorelease];
    [b setButtonType:NSSwitchButton];
    [b setTitle:title];
    [b bind:@"value" toObject:object withKeyPath:keyPath options:nil];
    [parent addSubview:b];
    return b;
}

NSTextField *label(NSView *parent, NSRect frame, NSString *text)
{
    NSTextField *t = [[[NSTextField alloc] initWithFrame:frame] autorelease];
    [t setStringValue:text];
    [t setEditable:NO];
    [t setBordered:NO];
    [t setBezeled:NO];
    [t setDrawsBackground:NO];
    [parent addSubview:t];
    return t;
}

NSTextField *field(NSView *parent, NSRect frame, id object, NSString *keyPath)
{
    NSTextField *t = [[[NSTextField alloc] initWithFrame:frame] autorelease];
    // GNUstep hands typed text to the binding when the field sends its
    // action: also when editing ends by a click elsewhere.
    [[t cell] setSendsActionOnEndEditing:YES];
    [t bind:@"value" toObject:object withKeyPath:keyPath options:nil];
    [parent addSubview:t];
    return t;
}

NSTableView *table(NSView *parent, NSRect frame, NSArrayController *rows, NSArray *columns)
{
    NSScrollView *scroll = [[[NSScrollView alloc] initWithFrame:frame] autorelease];
    [scroll setHasVerticalScroller:YES];
    NSTableView *t = [[[NSTableView alloc] initWithFrame:[[scroll contentView] bounds]] autorelease];
    for (NSUInteger i = 0; i + 1 < [columns count]; i += 2) {
        NSTableColumn *c = [[[NSTableColumn alloc] initWithIdentifier:[columns objectAtIndex:i + 1]] autorelease];
        [[c headerCell] setStringValue:[columns objectAtIndex:i]];
        [c setWidth:(frame.size.width - 20) / ([columns count] / 2)];
        [c bind:@"value"
             toObject:rows
          withKeyPath:[@"arrangedObjects." stringByAppendingString:[columns objectAtIndex:i + 1]]
              options:nil];
        [t addTableColumn:c];
    }
    [t bind:@"selectionIndexes" toObject:rows withKeyPath:@"selectionIndexes" options:nil];
    [t setAllowsMultipleSelection:YES];
    [scroll setDocumentView:t];
    [parent addSubview:scroll];
    return t;
}

/// A tab of `tabs` headed by `heading`; answers its view.
NSView *tab(NSTabView *tabs, NSString *identifier, NSString *title, NSString *heading)
{
    NSTabViewItem *item = [[[NSTabViewItem alloc] initWithIdentifier:identifier] autorelease];
    [item setLabel:title];
    NSView *v = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, kWidth - 20, kHeight - 40)] autorelease];
    [item setView:v];
    [tabs addTabViewItem:item];
    label(v, NSMakeRect(10, 370, 600, 20), heading);
    return v;
}

NSPanel *sheet(NSRect frame)
{
    return [[NSPanel alloc] initWithContentRect:frame
                                      styleMask:NSTitledWindowMask
                                        backing:NSBackingStoreBuffered
                                          defer:YES];
}

NSPopUpButton *popUp(NSView *parent, NSRect frame, NSArray *titlesAndTags, id object, NSString *keyPath)
{
    NSPopUpButton *p = [[[NSPopUpButton alloc] initWithFrame:frame pullsDown:NO] autorelease];
    for (NSUInteger i = 0; i + 1 < [titlesAndTags count]; i += 2) {
        [p addItemWithTitle:[titlesAndTags objectAtIndex:i]];
        [[p lastItem] setTag:[[titlesAndTags objectAtIndex:i + 1] intValue]];
    }
    [p bind:@"selectedTag" toObject:object withKeyPath:keyPath options:nil];
    [parent addSubview:p];
    return p;
}

NSNumber *tag(int t)
{
    return [NSNumber numberWithInt:t];
}

} // namespace

/// The mode radio: sends the chosen tag to the rules controller and shows
/// the controller's mode, chosen or read (GNUstep's matrix has no
/// selectedTag binding).
@interface FWPModeTarget : NSObject {
    NSMatrix *matrix;
}
- (void)showModeIn:(NSMatrix *)m;
- (void)modeChosen:(id)sender;
@end

@implementation FWPModeTarget
- (void)showModeIn:(NSMatrix *)m
{
    PreferenceRules *rules = [PreferenceRules sharedPreferenceRules];
    if (matrix == nil)
        [rules addObserver:self forKeyPath:@"allowDenyCustom" options:NSKeyValueObservingOptionNew context:NULL];
    matrix = m; // the newest view's; views live as long as the pane
    [self observeValueForKeyPath:@"allowDenyCustom" ofObject:rules change:nil context:NULL];
}

- (void)observeValueForKeyPath:(NSString *)keyPath
                      ofObject:(id)object
                        change:(NSDictionary *)change
                       context:(void *)context
{
    // No mode yet (or an unknown one): neither button.
    if (![matrix selectCellWithTag:[object allowDenyCustom]])
        [matrix deselectAllCells];
}

- (void)modeChosen:(id)sender
{
    [[PreferenceRules sharedPreferenceRules] setAllowDenyCustom:(int)[[sender selectedCell] tag]];
}
@end

NSView *FWPBuildPreferencesView(id tabDelegate)
{
    FirewallPreferencesStrings *s = [[[FirewallPreferencesStrings alloc] init] autorelease];
    PreferenceRules *rules = [PreferenceRules sharedPreferenceRules];
    TrustedSources *groups = [TrustedSources sharedTrustedSources];

    NSView *view = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, kWidth, kHeight)] autorelease];
    NSTabView *tabs = [[[NSTabView alloc] initWithFrame:NSMakeRect(0, 0, kWidth, kHeight)] autorelease];
    [view addSubview:tabs];

    // Rules tab.
    NSView *r = tab(tabs, @"rules", [s rulesTabnameString], [s rulesHeadingString]);

    NSButtonCell *radio = [[[NSButtonCell alloc] init] autorelease];
    [radio setButtonType:NSRadioButton];
    NSMatrix *mode = [[[NSMatrix alloc] initWithFrame:NSMakeRect(10, 310, 160, 50)
                                                 mode:NSRadioModeMatrix
                                            prototype:radio
                                         numberOfRows:2
                                      numberOfColumns:1] autorelease];
    [[mode cellAtRow:0 column:0] setTitle:[s allowString]];
    [[mode cellAtRow:0 column:0] setTag:1000];
    [[mode cellAtRow:1 column:0] setTitle:[s denyString]];
    [[mode cellAtRow:1 column:0] setTag:1001];
    static FWPModeTarget *modeTarget = [[FWPModeTarget alloc] init];
    [mode setAllowsEmptySelection:YES];
    [mode setTarget:modeTarget];
    [mode setAction:@selector(modeChosen:)];
    [modeTarget showModeIn:mode];
    [r addSubview:mode];
    checkBox(r, NSMakeRect(190, 335, 120, 20), [s inboundString], rules, @"isInBoundSelected");
    checkBox(r, NSMakeRect(320, 335, 120, 20), [s outBoundString], rules, @"isOutBoundSelected");

    rules->rulesTable = table(r, NSMakeRect(10, 60, 600, 240), [rules rulesController],
                              [NSArray arrayWithObjects:[s ruleNameTableCoulmnHeaderString], @"rulesNameAsString",
                                                        [s directionTableCoulmnHeaderString], @"directionAsString",
                                                        [s actionTableCoulmnHeaderString], @"rulesActionAsString", nil]);
    PaneButton(r, NSMakeRect(10, 20, 80, 28), @"+", rules, @selector(AddRulesButtonClicked:));
    PaneButton(r, NSMakeRect(95, 20, 80, 28), @"-", rules, @selector(DeleteRulesButtonClicked:));
    PaneButton(r, NSMakeRect(180, 20, 80, 28), @"up", rules, @selector(MoveSelectedRulesUp:));
    PaneButton(r, NSMakeRect(265, 20, 80, 28), @"down", rules, @selector(MoveSelectedRulesDown:));
    PaneButton(r, NSMakeRect(500, 20, 110, 28), [s advancedButtonTitleString], rules, @selector(AdvancedButtonClicked:));

    // The rule editor sheet.
    NSPanel *add = sheet(NSMakeRect(0, 0, 420, 260));
    NSView *a = [add contentView];
    label(a, NSMakeRect(10, 220, 120, 20), [s ruleNameString]);
    rules->firewallUITextField = field(a, NSMakeRect(140, 220, 260, 22), rules, @"rulesObject.rulesNameAsString");
    label(a, NSMakeRect(10, 185, 120, 20), [s ruleActionString]);
    popUp(a, NSMakeRect(140, 183, 120, 24),
          [NSArray arrayWithObjects:[s addScreenAllowString], tag(FWP_TAG_ALLOW), [s addScreenDenyString],
                                    tag(FWP_TAG_DENY), nil],
          rules, @"rulesObject.rulesActionAsInt");
    label(a, NSMakeRect(10, 150, 120, 20), [s protocolString]);
    popUp(a, NSMakeRect(140, 148, 120, 24),
          [NSArray arrayWithObjects:@"ip", tag(FWP_TAG_IP), @"tcp", tag(FWP_TAG_TCP), @"udp", tag(FWP_TAG_UDP),
                                    @"icmp", tag(FWP_TAG_ICMP), @"igmp", tag(FWP_TAG_IGMP), nil],
          rules, @"rulesObject.protocolAsInt");
    label(a, NSMakeRect(10, 115, 120, 20), [s directionString]);
    popUp(a, NSMakeRect(140, 113, 120, 24),
          [NSArray arrayWithObjects:@"incoming", tag(FWP_TAG_INCOMING), @"outgoing", tag(FWP_TAG_OUTGOING),
                                    [s bothString], tag(FWP_TAG_BOTH), nil],
          rules, @"rulesObject.directionAsInt");
    label(a, NSMakeRect(10, 80, 120, 20), [s portRangeString]);
    field(a, NSMakeRect(140, 80, 120, 22), rules, @"rulesObject.portSource");
    field(a, NSMakeRect(280, 80, 120, 22), rules, @"rulesObject.portDestination");
    rules->networkPopUpButton = [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(140, 45, 120, 24) pullsDown:NO] autorelease];
    [a addSubview:rules->networkPopUpButton];
    PaneButton(a, NSMakeRect(220, 8, 90, 28), [s cancelString], rules, @selector(CancelAddRules:));
    PaneButton(a, NSMakeRect(320, 8, 90, 28), [s okString], rules, @selector(AddNewCreatlyRules:));
    rules->addRulesWindow = add;

    // The Advanced sheet.
    NSPanel *adv = sheet(NSMakeRect(0, 0, 360, 160));
    NSView *v = [adv contentView];
    checkBox(v, NSMakeRect(10, 120, 300, 20), [s loggingString], rules, @"isLoggingSelected");
    checkBox(v, NSMakeRect(10, 90, 300, 20), [s StealthString], rules, @"isStealthSelected");
    checkBox(v, NSMakeRect(10, 60, 300, 20), [s blockTrafficString], rules, @"isBlockUnknownSelected");
    PaneButton(v, NSMakeRect(160, 8, 90, 28), [s cancelString], rules, @selector(CancelAdvancedRules:));
    PaneButton(v, NSMakeRect(260, 8, 90, 28), [s okString], rules, @selector(applyAdvancedRules:));
    rules->advancedWindow = adv;
    [rules awakeFromNib];

    // Trusted groups tab.
    NSView *g = tab(tabs, @"trusted", [s trustedTabNameString], [s trustedHeadingString]);
    groups->trustedGroupsTableView =
        table(g, NSMakeRect(10, 60, 290, 300), [groups groupsController],
              [NSArray arrayWithObjects:@"", @"isSelect", [s trustedGroupTableCoulmnHeaderString], @"trustedListName", nil]);
    [groups->trustedGroupsTableView setDelegate:(id)groups];
    groups->trustedIPAddressTableView =
        table(g, NSMakeRect(320, 60, 290, 300), [groups addressesController],
              [NSArray arrayWithObjects:[s trustedAddressTableCoulmnHeaderString], @"ipAddress", nil]);
    PaneButton(g, NSMakeRect(10, 20, 60, 28), @"+", groups, @selector(AddGroup:));
    PaneButton(g, NSMakeRect(75, 20, 60, 28), @"-", groups, @selector(DeleteGroup:));
    PaneButton(g, NSMakeRect(320, 20, 60, 28), @"+", groups, @selector(AddIPToGroup:));
    PaneButton(g, NSMakeRect(385, 20, 60, 28), @"-", groups, @selector(DeleteIPFromGroup:));
    [groups->trustedIPAddressTableView setDelegate:(id)groups];
    // Only the user's tab switches refresh: adding the tabs selects one.
    [tabs setDelegate:tabDelegate];
    return view;
}
