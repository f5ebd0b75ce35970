#import "AppProPrefsView.h"
#import "PaneControls.h"
#import "AppProAppKitPorts.h"
#import "AppProExclusionController.h"
#import "AppProPortCheck.h"
#import "AppProPrefsController.h"
#import "AppProRule.h"
#import "AppProStrings.h"
#import "ImageTextCell.h"
#import "ZRMCustomTableView.h"

@interface AppProPrefsView (Refresh)
- (void)refreshAll;
@end

static AppProPrefsView *sharedView = nil;

static NSTextField *label(NSView *parent, NSRect frame, NSString *text)
{
    NSTextField *l = [[[NSTextField alloc] initWithFrame:frame] autorelease];
    [l setStringValue:text != nil ? text : @""];
    [l setEditable:NO];
    [l setSelectable:NO];
    [l setBezeled:NO];
    [l setDrawsBackground:NO];
    [parent addSubview:l];
    return l;
}

static NSPopUpButtonCell *popUpCell(NSArray *titles, int firstTag)
{
    NSPopUpButtonCell *cell = [[[NSPopUpButtonCell alloc] initTextCell:@"" pullsDown:NO] autorelease];
    for (NSUInteger i = 0; i < [titles count]; i++) {
        [cell addItemWithTitle:[titles objectAtIndex:i]];
        [[cell lastItem] setTag:firstTag + (int)i];
    }
    [cell setBordered:NO];
    return cell;
}

static NSTableView *table(NSView *parent, NSRect frame, id owner)
{
    NSScrollView *scroll = [[[NSScrollView alloc] initWithFrame:frame] autorelease];
    [scroll setHasVerticalScroller:YES];
    [scroll setBorderType:NSBezelBorder];
    ZRMCustomTableView *t =
        [[[ZRMCustomTableView alloc] initWithFrame:NSMakeRect(0, 0, frame.size.width, frame.size.height)] autorelease];
    [t setRowHeight:20];
    [t setDataSource:owner];
    [t setDelegate:owner];
    [t setAllowsMultipleSelection:YES];
    [scroll setDocumentView:t];
    [parent addSubview:scroll];
    return t;
}

static NSTableColumn *column(NSTableView *t, NSString *identifier, NSString *title, float width)
{
    NSTableColumn *c = [[[NSTableColumn alloc] initWithIdentifier:identifier] autorelease];
    [[c headerCell] setStringValue:title != nil ? title : @""];
    [c setWidth:width];
    [t addTableColumn:c];
    return c;
}

@implementation AppProPrefsView

+ (AppProPrefsView *)sharedView
{
    if (sharedView == nil)
        sharedView = [[AppProPrefsView alloc] init];
    return sharedView;
}

- (NSString *)s:(NSString *)field { return [strings valueForKey:field]; }

- (void)buildRulesTab:(NSView *)v
{
    label(v, NSMakeRect(10, 380, 560, 20), [self s:@"rulesTabHeadingString"]);
    appleSigned = [[[NSButton alloc] initWithFrame:NSMakeRect(10, 352, 300, 22)] autorelease];
    [appleSigned setButtonType:NSSwitchButton];
    [appleSigned setTitle:[self s:@"appleSignedBinariesString"]];
    [appleSigned setTarget:self];
    [appleSigned setAction:@selector(appleSignedChanged:)];
    [v addSubview:appleSigned];

    label(v, NSMakeRect(10, 322, 210, 22), [self s:@"unknownModifiedApplicationString"]);
    unknownOption = [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(220, 320, 110, 24) pullsDown:NO] autorelease];
    NSArray *options = [NSArray arrayWithObjects:[self s:@"allowString"], [self s:@"denyString"],
                                                 [self s:@"promptString"], nil];
    for (NSUInteger i = 0; i < [options count]; i++) {
        [unknownOption addItemWithTitle:[options objectAtIndex:i]];
        [[unknownOption lastItem] setTag:100 + (int)i];
    }
    [unknownOption setTarget:self];
    [unknownOption setAction:@selector(optionChanged:)];
    [v addSubview:unknownOption];
    label(v, NSMakeRect(340, 322, 30, 22), [self s:@"forString"]);
    promptTimeout = [[[NSTextField alloc] initWithFrame:NSMakeRect(372, 322, 50, 22)] autorelease];
    [promptTimeout setTarget:self];
    [promptTimeout setAction:@selector(timeOutChanged:)];
    [v addSubview:promptTimeout];
    label(v, NSMakeRect(426, 322, 80, 22), [self s:@"secondsString"]);

    rulesTable = table(v, NSMakeRect(10, 50, 560, 260), self);
    [[column(rulesTable, @"enabled", @"", 24) dataCell] setAllowsMixedState:YES];
    NSButtonCell *check = [[[NSButtonCell alloc] init] autorelease];
    [check setButtonType:NSSwitchButton];
    [check setAllowsMixedState:YES];
    [check setTitle:@""];
    [[rulesTable tableColumnWithIdentifier:@"enabled"] setDataCell:check];
    column(rulesTable, @"name", [self s:@"applicationNameString"], 250);
    NSTableColumn *status = column(rulesTable, @"status", [self s:@"statusString"], 270);
    [status setDataCell:popUpCell([NSArray arrayWithObjects:[self s:@"allowExecutionWithNWAccessString"],
                                                            [self s:@"allowExecutionWithoutNWAccessString"],
                                                            [self s:@"allowExecutionWithRestrictedAccessString"],
                                                            [self s:@"denyExecutionWithString"], nil],
                                  100)];
    [rulesTable setDoubleAction:@selector(rulesDoubleClicked:)];
    [rulesTable setTarget:self];

    addRuleButton = PaneButton(v, NSMakeRect(10, 12, 40, 28), @"+", rules, @selector(AddNewRule:));
    deleteRuleButton = PaneButton(v, NSMakeRect(54, 12, 40, 28), @"-", rules, @selector(DeleteRule:));
    enableRulesButton = PaneButton(v, NSMakeRect(100, 12, 120, 28), [self s:@"allowString"], rules, @selector(EnableRules:));
}

- (void)buildExclusionsTab:(NSView *)v
{
    label(v, NSMakeRect(10, 380, 560, 20), [self s:@"exclusionTabHeadingString"]);
    exclusionsTable = table(v, NSMakeRect(10, 50, 560, 320), self);
    column(exclusionsTable, @"path", [self s:@"pathString"], 540);
    addExclusionButton = PaneButton(v, NSMakeRect(10, 12, 40, 28), @"+", exclusions, @selector(AddExclusion:));
    removeExclusionButton = PaneButton(v, NSMakeRect(54, 12, 40, 28), @"-", exclusions, @selector(RemoveExclusion:));
    [exclusions setAppProExclusionTabView:v];
}

- (void)buildSheet
{
    addRuleWindow = [[NSPanel alloc] initWithContentRect:NSMakeRect(0, 0, 560, 330)
                                               styleMask:NSTitledWindowMask
                                                 backing:NSBackingStoreBuffered
                                                   defer:NO];
    [addRuleWindow setTitle:@"Rule"];
    NSView *v = [addRuleWindow contentView];
    label(v, NSMakeRect(10, 295, 100, 22), [self s:@"applicationNameString"]);
    appName = [[[NSTextField alloc] initWithFrame:NSMakeRect(110, 295, 390, 22)] autorelease];
    [appName setEditable:NO];
    [v addSubview:appName];
    browseButton = PaneButton(v, NSMakeRect(506, 293, 40, 26), @"", rules, @selector(ChooseApplication:));
    NSString *iconPath = [[NSBundle bundleForClass:[AppProPrefsView class]] pathForResource:@"Browse_icon"
                                                                                     ofType:@"png"];
    if (iconPath != nil)
        [browseButton setImage:[[[NSImage alloc] initWithContentsOfFile:iconPath] autorelease]];
    label(v, NSMakeRect(10, 262, 100, 22), [self s:@"statusString"]);
    sheetStatus = [[[NSPopUpButton alloc] initWithFrame:NSMakeRect(110, 260, 330, 24) pullsDown:NO] autorelease];
    NSArray *statuses = [NSArray arrayWithObjects:[self s:@"allowExecutionWithNWAccessString"],
                                                  [self s:@"allowExecutionWithoutNWAccessString"],
                                                  [self s:@"allowExecutionWithRestrictedAccessString"],
                                                  [self s:@"denyExecutionWithString"], nil];
    for (NSUInteger i = 0; i < [statuses count]; i++) {
        [sheetStatus addItemWithTitle:[statuses objectAtIndex:i]];
        [[sheetStatus lastItem] setTag:100 + (int)i];
    }
    [sheetStatus setTarget:self];
    [sheetStatus setAction:@selector(sheetStatusChanged:)];
    [v addSubview:sheetStatus];

    detailTable = table(v, NSMakeRect(10, 80, 540, 170), self);
    NSArray *protocols = [NSArray arrayWithObjects:[self s:@"tcpString"], [self s:@"udpString"], [self s:@"bothString"], nil];
    [column(detailTable, @"protocol", [self s:@"protocolString"], 80) setDataCell:popUpCell(protocols, 100)];
    column(detailTable, @"address", [self s:@"ipsubnetString"], 150);
    column(detailTable, @"port", [self s:@"portrangeString"], 110);
    NSArray *directions =
        [NSArray arrayWithObjects:[self s:@"incomingString"], [self s:@"outgoingString"], [self s:@"bothString"], nil];
    [column(detailTable, @"direction", [self s:@"directionString"], 100) setDataCell:popUpCell(directions, 100)];
    NSArray *actions = [NSArray arrayWithObjects:[self s:@"allowString"], [self s:@"denyString"], nil];
    [column(detailTable, @"action", [self s:@"actionString"], 80) setDataCell:popUpCell(actions, 100)];

    PaneButton(v, NSMakeRect(10, 44, 30, 26), @"+", rules, @selector(AddDetailedRule:));
    PaneButton(v, NSMakeRect(44, 44, 30, 26), @"-", rules, @selector(DeleteDetailedRule:));
    PaneButton(v, NSMakeRect(78, 44, 30, 26), @"^", rules, @selector(MoveUpDetailedRule:));
    PaneButton(v, NSMakeRect(112, 44, 30, 26), @"v", rules, @selector(MoveDownDetailedRule:));
    sheetCancel = PaneButton(v, NSMakeRect(360, 8, 90, 28), [self s:@"cancelString"], rules, @selector(AddNewRuleCancel:));
    sheetOK = PaneButton(v, NSMakeRect(460, 8, 90, 28), [self s:@"okString"], rules, @selector(AddNewRuleOK:));
    [rules setAddRuleWindow:addRuleWindow];
}

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    AppProInstallAppKitPorts();
    strings = [[AppProPrefsStrings alloc] init];
    fonts = [[AppProFonts alloc] init];
    rules = [AppProPrefsController sharedAppProPrefsController];
    exclusions = [AppProExclusionController sharedAppProExclusionController];
    detailController = [[AppProDetailRuleController alloc] init];

    preferenceView = [[NSView alloc] initWithFrame:NSMakeRect(0, 0, 600, 460)];
    tabView = [[[NSTabView alloc] initWithFrame:NSMakeRect(0, 0, 600, 460)] autorelease];
    NSTabViewItem *rulesItem = [[[NSTabViewItem alloc] initWithIdentifier:@"100"] autorelease];
    [rulesItem setLabel:[self s:@"rulesString"]];
    NSTabViewItem *exclusionItem = [[[NSTabViewItem alloc] initWithIdentifier:@"101"] autorelease];
    [exclusionItem setLabel:[self s:@"exclusionString"]];
    NSView *rv = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, 580, 410)] autorelease];
    NSView *ev = [[[NSView alloc] initWithFrame:NSMakeRect(0, 0, 580, 410)] autorelease];
    [rulesItem setView:rv];
    [exclusionItem setView:ev];
    [self buildRulesTab:rv];
    [self buildExclusionsTab:ev];
    [tabView addTabViewItem:rulesItem];
    [tabView addTabViewItem:exclusionItem];
    [tabView setDelegate:(id)rules];
    [preferenceView addSubview:tabView];
    [self buildSheet];

    [rules setRulesTable:rulesTable];
    [rules setPromptTimeout:promptTimeout];
    [detailController setDetailedRuleTable:detailTable];

    // Cells of the name and path columns, as the controllers' start-up does.
    ImageTextCell *nameCell = [[[ImageTextCell alloc] init] autorelease];
    [nameCell setDataDelegate:rules];
    [[rulesTable tableColumnWithIdentifier:@"name"] setDataCell:nameCell];
    [[rulesTable tableColumnWithIdentifier:@"name"] setEditable:NO];
    ImageTextCell *pathCell = [[[ImageTextCell alloc] init] autorelease];
    [pathCell setDataDelegate:exclusions];
    [[exclusionsTable tableColumnWithIdentifier:@"path"] setDataCell:pathCell];
    [[exclusionsTable tableColumnWithIdentifier:@"path"] setEditable:NO];

    NSString *keys[] = {@"appProRulesArray", @"selectedRuleIndexes", @"appProDetailedRulesArray",
                        @"selectedDetailIndexes", @"isPreferenceEnabled", @"textColor", @"timeOut",
                        @"unknownModifidAllowDenyPromptOption", @"isAllowAppleSignedBinaries",
                        @"isPromptTimeOutHidden", @"isDeleteEnabled", @"isEnableAll", @"rule"};
    for (NSString *k : keys)
        [rules addObserver:self forKeyPath:k options:0 context:NULL];
    [exclusions addObserver:self forKeyPath:@"appProExclusionsListArray" options:0 context:NULL];
    [exclusions addObserver:self forKeyPath:@"selectedIndexes" options:0 context:NULL];
    [exclusions addObserver:self forKeyPath:@"isDeleteEnabled" options:0 context:NULL];

    [rules awakeFromNib];
    [exclusions awakeFromNib];
    [detailController awakeFromNib];
    [detailTable setDelegate:self];
    [self refreshAll];
    return self;
}

- (NSView *)preferenceView { return preferenceView; }

- (void)syncSelection:(NSTableView *)t to:(NSIndexSet *)wanted
{
    if (![[t selectedRowIndexes] isEqualToIndexSet:wanted]) {
        syncing = YES;
        if ([wanted count] == 0)
            [t deselectAll:nil];
        else
            [t selectRowIndexes:wanted byExtendingSelection:NO];
        syncing = NO;
    }
}

- (void)refreshAll
{
    [rulesTable reloadData];
    [exclusionsTable reloadData];
    [detailTable reloadData];
    [self syncSelection:rulesTable to:[rules selectedRuleIndexes]];
    [self syncSelection:exclusionsTable to:[exclusions selectedIndexes]];
    [self syncSelection:detailTable to:[rules selectedDetailIndexes]];
    BOOL unlocked = [rules isPreferenceEnabled];
    [appleSigned setState:[rules isAllowAppleSignedBinaries] ? NSOnState : NSOffState];
    [unknownOption selectItemWithTag:[rules unknownModifidAllowDenyPromptOption]];
    [promptTimeout setFormatter:[[[AppProCustomNumberFormatter alloc] init] autorelease]];
    [promptTimeout setObjectValue:[NSNumber numberWithInt:[rules timeOut]]];
    [promptTimeout setHidden:[rules isPromptTimeOutHidden]];
    NSControl *locked[] = {appleSigned, unknownOption, promptTimeout, addRuleButton, addExclusionButton};
    for (NSControl *c : locked)
        [c setEnabled:unlocked];
    [deleteRuleButton setEnabled:unlocked && [rules isDeleteEnabled]];
    [enableRulesButton setEnabled:unlocked && [rules isEnableAll]];
    [removeExclusionButton setEnabled:unlocked && [exclusions isDeleteEnabled]];
    AppProRule *model = [rules rule];
    [appName setStringValue:[model applicationNameWithAbsPath] != nil ? [model applicationNameWithAbsPath] : @""];
    if (model != nil)
        [sheetStatus selectItemWithTag:[model statusTag]];
    [detailTable setEnabled:model != nil && [model isDetailTableEnabled]];
    [preferenceView setNeedsDisplay:YES];
}

- (void)observeValueForKeyPath:(NSString *)keyPath ofObject:(id)object change:(NSDictionary *)change
                       context:(void *)context
{
    (void)keyPath;
    (void)object;
    (void)change;
    (void)context;
    [self refreshAll];
}

// Actions of the controls bound in the nib.
- (void)appleSignedChanged:(id)sender { [rules setIsAllowAppleSignedBinaries:[sender state] == NSOnState]; }
- (void)optionChanged:(id)sender { [rules setUnknownModifidAllowDenyPromptOption:(int)[[sender selectedItem] tag]]; }
- (void)timeOutChanged:(id)sender { [rules setTimeOut:[sender intValue]]; }
- (void)sheetStatusChanged:(id)sender
{
    [[rules rule] setStatusTag:(int)[[sender selectedItem] tag]];
    [self refreshAll];
}
- (void)rulesDoubleClicked:(id)sender
{
    [rules setClickedRuleRow:(int)[rulesTable clickedRow]];
    [rules EditRules:sender];
}

// Data source.
- (NSArray *)rowsOf:(NSTableView *)t
{
    if (t == rulesTable)
        return [rules appProRulesArray];
    if (t == exclusionsTable)
        return [exclusions appProExclusionsListArray];
    return [rules appProDetailedRulesArray];
}

- (NSInteger)numberOfRowsInTableView:(NSTableView *)t { return (NSInteger)[[self rowsOf:t] count]; }

- (id)tableView:(NSTableView *)t objectValueForTableColumn:(NSTableColumn *)c row:(NSInteger)row
{
    NSArray *rows = [self rowsOf:t];
    if (row < 0 || (NSUInteger)row >= [rows count])
        return nil;
    id r = [rows objectAtIndex:(NSUInteger)row];
    NSString *k = [c identifier];
    if (t == rulesTable) {
        if ([k isEqualToString:@"enabled"]) {
            int e = [r isRuleEnabled];
            return [NSNumber numberWithInt:e == -1 ? NSMixedState : (e ? NSOnState : NSOffState)];
        }
        if ([k isEqualToString:@"status"])
            return [NSNumber numberWithInt:[r statusTag] - 100];
        return r;
    }
    if (t == exclusionsTable)
        return r;
    if ([k isEqualToString:@"protocol"])
        return [NSNumber numberWithInt:[r protocolTag] - 100];
    if ([k isEqualToString:@"direction"])
        return [NSNumber numberWithInt:[r directionTag] - 100];
    if ([k isEqualToString:@"action"])
        return [NSNumber numberWithInt:[r actionTag] - 100];
    if ([k isEqualToString:@"address"])
        return [r ipSubnetString];
    return [r portRangeString];
}

- (void)tableView:(NSTableView *)t setObjectValue:(id)value forTableColumn:(NSTableColumn *)c row:(NSInteger)row
{
    NSArray *rows = [self rowsOf:t];
    if (![rules isPreferenceEnabled] || row < 0 || (NSUInteger)row >= [rows count])
        return;
    id r = [rows objectAtIndex:(NSUInteger)row];
    NSString *k = [c identifier];
    if (t == rulesTable) {
        [rules setClickedRuleRow:(int)row];
        if ([k isEqualToString:@"enabled"])
            [r setIsRuleEnabled:[value intValue] == NSOffState ? 0 : 1];
        else if ([k isEqualToString:@"status"])
            [r setStatusTag:100 + [value intValue]];
    } else if (t == detailTable) {
        if ([k isEqualToString:@"protocol"])
            [r setProtocolTag:100 + [value intValue]];
        else if ([k isEqualToString:@"direction"])
            [r setDirectionTag:100 + [value intValue]];
        else if ([k isEqualToString:@"action"])
            [r setActionTag:100 + [value intValue]];
        else if ([k isEqualToString:@"address"])
            [r setIpSubnetString:value];
        else if ([k isEqualToString:@"port"])
            [r setPortRangeString:value];
    }
}

// Delegate.
- (BOOL)tableView:(NSTableView *)t shouldSelectRow:(NSInteger)row
{
    if (t == rulesTable)
        return [rules tableView:t shouldSelectRow:row];
    if (t == exclusionsTable)
        return [exclusions tableView:t shouldSelectRow:row];
    return [rules isPreferenceEnabled];
}

- (void)tableViewSelectionDidChange:(NSNotification *)n
{
    if (syncing)
        return;
    NSTableView *t = [n object];
    if (t == rulesTable) {
        [rules setSelectedRuleIndexes:[t selectedRowIndexes]];
        [rules tableViewSelectionDidChange:n];
    } else if (t == exclusionsTable) {
        [exclusions setSelectedIndexes:[t selectedRowIndexes]];
        [exclusions tableViewSelectionDidChange:n];
    } else {
        [rules setSelectedDetailIndexes:[t selectedRowIndexes]];
        [detailController tableViewSelectionDidChange:n];
    }
}

- (void)ZRMTableViewResponderChanged:(id)t
{
    if (t == rulesTable)
        [rules ZRMTableViewResponderChanged:t];
    else if (t == exclusionsTable)
        [exclusions ZRMTableViewResponderChanged:t];
    else
        [detailController ZRMTableViewResponderChanged:t];
}
@end
