#import "PreferenceRules.h"
#import "FWPPresenter.h"
#import "FWPRuleCommands.h"
#import "FWPSend.h"
#import "FirewallPreferencesStrings.h"
#import "NSString+wstring.h"
#import "RulesContainer.h"
#import "ZRMStringFormatter.h"

#include "FWRecords.h"
#include "FWServiceRecords.h"

BOOL gIsUIDenySelection = YES;
NSString *kFWZRmPrivateRowPBType = @"FWZRMPasteboardType";

static PreferenceRules *sharedRules = nil;

int FWPBasicRuleOpt(int tag, BOOL inbound, BOOL outbound)
{
    if (tag == 1000)
        return FWService::BASIC_RULE_ALLOW_ALL;
    if (tag != 1001)
        return -1;
    if (inbound && outbound)
        return FWService::BASIC_RULE_DENY_BOTH;
    if (inbound)
        return FWService::BASIC_RULE_DENY_INBOUND;
    if (outbound)
        return FWService::BASIC_RULE_DENY_OUTBOUND;
    return FWService::BASIC_RULE_DENY_NONE;
}

@implementation PreferenceRules

+ (PreferenceRules *)sharedPreferenceRules
{
    if (sharedRules == nil)
        [[PreferenceRules alloc] init];
    return sharedRules;
}

+ (BOOL)leopardRnot
{
    return YES; // no system version to ask here
}

- (id)init
{
    if (sharedRules != nil) {
        [self release];
        return sharedRules;
    }
    self = [super init];
    if (self == nil)
        return nil;
    sharedRules = self;
    fireWallRulesArray = [[NSMutableArray alloc] init];
    fireWallRulesArrayContr = [[NSArrayController alloc] initWithContent:[NSMutableArray array]];
    [fireWallRulesArrayContr setAvoidsEmptySelection:NO];
    [fireWallRulesArrayContr setSelectsInsertedObjects:NO];
    rulesObject = [[RulesContainer alloc] init];
    readMode = -1;
    [self setIsPreferenceEnabled:NO];
    [self setIsTiger:[PreferenceRules leopardRnot]];
    [self setTextField:isTiger];
    return self;
}

- (void)dealloc
{
    [fireWallRulesArray release];
    [super dealloc];
}

- (void)awakeFromNib
{
    try {
        [rulesTable setDelegate:(id)self];
        [rulesTable setTarget:self];
        [rulesTable setDoubleAction:@selector(EditRules:)];
        fireWallStringFormatter = [[ZRMStringFormatter alloc] init];
        [fireWallStringFormatter setMaxStringSize:20];
        [firewallUITextField setFormatter:fireWallStringFormatter];
    } catch (...) {
        NSLog(@"generic  exception ocuured in awake from nib");
    }
}

- (NSString *)retriveLocalisedStringForFile:(NSString *)key
{
    return FWPLocalized(key, @"ErrorStrings");
}

- (void)handleErrorCode:(int)code
{
    NSString *key;
    switch (code) {
    case 13022: case 13023: case 13028: key = @"Empty dest ip for setting"; break;
    case 13037: key = @"Trusted Group Name Already Exist"; break;
    case 13038: key = @"Trusted group list is full"; break;
    case 13040: key = @"Failed to set firewall state"; break;
    case 13041: key = @"Failed to get firewall state"; break;
    case 13042: key = @"Failed to set filewall log state"; break;
    case 13043: key = @"Failed to get filewall log state"; break;
    case 13046: key = @"No such ip or host name exist"; break;
    case 13047: key = @"No such source ip or host name exist"; break;
    case 13048: key = @"No such destination ip or host name exist"; break;
    case 13049: key = @"Invalid src port for setting"; break;
    case 13050: key = @"Invalid dest port for setting"; break;
    case 13052: key = @"No space left to add rule"; break;
    case FW_RULE_NAME_BLANK: key = @"Rule Name cannot be blank"; break;
    default: key = @"unknown error"; break;
    }
    [FWPCurrentPresenter() showPanelWithTitle:[self retriveLocalisedStringForFile:key]
                                       button:[self retriveLocalisedStringForFile:@"OK"]];
}

// ---- state ---------------------------------------------------------------

- (void)setIsPreferenceEnabled:(BOOL)v
{
    [self setTextColor:v];
    isPreferenceEnabled = v;
}
- (BOOL)isPreferenceEnabled { return isPreferenceEnabled; }
- (void)setTextColor:(BOOL)v
{
    NSColor *old = textColor;
    textColor = [(v ? [NSColor blackColor] : [NSColor lightGrayColor]) retain];
    [old release];
}
- (NSColor *)textColor { return textColor; }
- (void)setTextField:(BOOL)v
{
    NSColor *old = textField;
    textField = [(v ? [NSColor blackColor] : [NSColor lightGrayColor]) retain];
    [old release];
}
- (NSColor *)textField { return textField; }

/// A change the user made (not the controller showing what it read).
- (BOOL)userChange
{
    return gIsUIDenySelection && sendSuppressed == 0;
}

- (void)setAllowDenyCustom:(int)tag
{
    const BOOL fromUser = [self userChange];
    ++sendSuppressed;
    if (tag == 1000) {
        [self setIsCustomRulesEabled:NO];
        [self setIsDenySelected:NO];
        [self setIsOutBoundSelected:NO];
        [self setIsInBoundSelected:NO];
    } else if (tag == 1001) {
        [self setIsDenySelected:YES];
        if (gIsUIDenySelection) {
            [self setIsCustomRulesEabled:YES];
            [self setIsOutBoundSelected:NO];
            [self setIsInBoundSelected:YES];
        } else {
            [self setIsCustomRulesEabled:NO];
        }
    }
    --sendSuppressed;
    allowDenyCustom = tag;
    if (fromUser) {
        modeChosen = YES;
        SetBasicFWPrefs();
    }
}
- (int)allowDenyCustom { return allowDenyCustom; }

- (void)setIsInBoundSelected:(BOOL)v
{
    isInBoundSelected = v;
    if ([self userChange]) {
        modeChosen = YES;
        SetBasicFWPrefs();
    }
}
- (BOOL)isInBoundSelected { return isInBoundSelected; }
- (void)setIsOutBoundSelected:(BOOL)v
{
    isOutBoundSelected = v;
    if ([self userChange]) {
        modeChosen = YES;
        SetBasicFWPrefs();
    }
}
- (BOOL)isOutBoundSelected { return isOutBoundSelected; }
- (void)setIsLoggingSelected:(BOOL)v { isLoggingSelected = v; }
- (BOOL)isLoggingSelected { return isLoggingSelected; }
- (void)setIsStealthSelected:(BOOL)v { isStealthSelected = v; }
- (BOOL)isStealthSelected { return isStealthSelected; }
- (void)setIsBlockUnknownSelected:(BOOL)v { isBlockUnknownSelected = v; }
- (BOOL)isBlockUnknownSelected { return isBlockUnknownSelected; }
- (void)setIsDenySelected:(BOOL)v { isDenySelected = v; }
- (BOOL)isDenySelected { return isDenySelected; }
- (void)setIsCustomRulesEabled:(BOOL)v
{
    isCustomRulesEabled = v;
    [rulesTable deselectAll:nil];
    [fireWallRulesArrayContr setSelectionIndexes:[NSIndexSet indexSet]];
}
- (BOOL)isCustomRulesEabled { return isCustomRulesEabled; }
- (void)setIsDeleteEnabled:(BOOL)v { isDeleteEnabled = v; }
- (BOOL)isDeleteEnabled { return isDeleteEnabled; }
- (void)setIsUpArrowEnabled:(BOOL)v { isUpArrowEnabled = v; }
- (BOOL)isUpArrowEnabled { return isUpArrowEnabled; }
- (void)setIsDownArrowEnabled:(BOOL)v { isDownArrowEnabled = v; }
- (BOOL)isDownArrowEnabled { return isDownArrowEnabled; }
- (void)setIsTiger:(BOOL)v { isTiger = v; }
- (BOOL)isTiger { return isTiger; }
- (RulesContainer *)rulesObject { return rulesObject; }
- (NSArrayController *)rulesController { return fireWallRulesArrayContr; }

/// Shows the options read; sends nothing.
- (void)showOptions:(const FWService::FWOptionalData &)o
{
    [self setIsLoggingSelected:o.isLogging() == 1];
    [self setIsStealthSelected:o.isStealth()];
    [self setIsBlockUnknownSelected:o.isUnknownTrafficBlocked()];
    gIsUIDenySelection = NO;
    const int mode = o.getBasicRuleOpt();
    switch (mode) {
    case 0:
        [self setAllowDenyCustom:1000];
        [self setIsCustomRulesEabled:NO];
        break;
    case 1: case 2: case 3: case 4: case 5:
        [self setAllowDenyCustom:1001];
        [self setIsOutBoundSelected:mode == 2 || mode == 3];
        [self setIsInBoundSelected:mode == 1 || mode == 3];
        [self setIsCustomRulesEabled:YES];
        break;
    default:
        NSLog(@"Error no Option");
        break;
    }
    gIsUIDenySelection = YES;
    optionsRead = YES;
    readMode = mode;
    modeChosen = NO;
}

// ---- Advanced sheet --------------------------------------------------------

- (IBAction)AdvancedButtonClicked:(id)sender
{
    try {
        GetBasicFWPrefs();
        [FWPCurrentPresenter() beginSheet:advancedWindow];
    } catch (...) {
        NSLog(@"FireWall: generic occured in AdvancedButtonClicked Clicked");
    }
}

- (IBAction)applyAdvancedRules:(id)sender
{
    try {
        SetBasicFWPrefs();
        [FWPCurrentPresenter() endSheet:advancedWindow];
    } catch (...) {
        NSLog(@"FireWall: generic occured in applyAdvancedRules Clicked");
    }
}

- (IBAction)CancelAdvancedRules:(id)sender
{
    try {
        GetBasicFWPrefs();
        [FWPCurrentPresenter() endSheet:advancedWindow];
    } catch (...) {
        NSLog(@"FireWall: generic occured in CancelAdvancedRules Clicked");
    }
}

// ---- rows --------------------------------------------------------------------

- (void)stopObserving:(RulesContainer *)row
{
    [row removeObserver:self forKeyPath:@"rulesActionAsInt"];
    [row removeObserver:self forKeyPath:@"directionAsInt"];
}

- (void)removeAllRows
{
    NSArray *rows = [NSArray arrayWithArray:[fireWallRulesArrayContr arrangedObjects]];
    for (NSUInteger i = 0; i < [rows count]; ++i)
        [self stopObserving:[rows objectAtIndex:i]];
    if ([rows count] > 0)
        [fireWallRulesArrayContr removeObjects:rows];
    // GNUstep keeps a stale selection over removed rows.
    [fireWallRulesArrayContr setSelectionIndexes:[NSIndexSet indexSet]];
}

- (void)refreshUI
{
    [self removeAllRows];
    GetBasicFWPrefs();
    GetAllFWRules();
    [fireWallRulesArrayContr setSelectionIndexes:[NSIndexSet indexSet]];
    [rulesTable deselectAll:nil];
}

- (void)AddRules:(int)number Withname:(NSString *)name allow:(int)action direction:(int)direction
{
    try {
        RulesContainer *row = [[[RulesContainer alloc] init] autorelease];
        [row setRulesNameAsString:name];
        [row setRulesActionAsInt:action];
        [row setDirectionAsInt:direction];
        [row setRulesNumber:number];
        [fireWallRulesArrayContr addObject:row];
        NSKeyValueObservingOptions options = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld;
        [row addObserver:self forKeyPath:@"rulesActionAsInt" options:options context:NULL];
        [row addObserver:self forKeyPath:@"directionAsInt" options:options context:NULL];
    } catch (...) {
        NSLog(@"FireWall: generic occured in AddRules rules Button Clicked");
    }
}

- (void)observeValueForKeyPath:(NSString *)keyPath
                      ofObject:(id)object
                        change:(NSDictionary *)change
                       context:(void *)context
{
    const BOOL action = [keyPath isEqualToString:@"rulesActionAsInt"];
    if (!action && ![keyPath isEqualToString:@"directionAsInt"])
        return;
    if (observingSuppressed > 0)
        return;
    NSLog(action ? @"Received the notification for Acton change" : @"Received the notification for Direction change");
    if (ChangeFireWallRule(object) == 0)
        return;
    // Refused: the row shows what the service still has.
    id old = [change objectForKey:NSKeyValueChangeOldKey];
    if (old == nil || old == [NSNull null])
        return;
    ++observingSuppressed;
    if (action)
        [object setRulesActionAsInt:[old intValue]];
    else
        [object setDirectionAsInt:[old intValue]];
    --observingSuppressed;
}

- (BOOL)tableView:(NSTableView *)table shouldSelectRow:(NSInteger)row
{
    return isCustomRulesEabled;
}

- (void)tableViewSelectionDidChange:(NSNotification *)note
{
    [self rulesTableViewChanged];
}

- (void)rulesTableViewChanged
{
    try {
        NSUInteger n = [[fireWallRulesArrayContr selectedObjects] count];
        [self setIsDeleteEnabled:n > 0];
        [self setIsUpArrowEnabled:n == 1];
        [self setIsDownArrowEnabled:n == 1];
    } catch (...) {
        NSLog(@"FireWall: genereicExp occcured in table view selection did change");
    }
}

/// Exchanges the selected row with its neighbour once the service did.
- (void)moveSelectedBy:(int)step
{
    NSArray *rows = [fireWallRulesArrayContr arrangedObjects];
    NSUInteger i = [fireWallRulesArrayContr selectionIndex];
    if (i == NSNotFound)
        return;
    if (step < 0 && i == 0)
        return;
    if (step > 0 && i + 1 >= [rows count])
        return;
    RulesContainer *selected = [[[rows objectAtIndex:i] retain] autorelease];
    RulesContainer *neighbour = [rows objectAtIndex:i + step];
    int rc = SwapFWRule([selected rulesNumber], [neighbour rulesNumber]);
    if (rc != 0) {
        [self handleErrorCode:rc];
        [self refreshUI];
        return;
    }
    int n = [selected rulesNumber];
    [selected setRulesNumber:[neighbour rulesNumber]];
    [neighbour setRulesNumber:n];
    // The rows again in their new order (GNUstep's index-based insertion
    // raises here).
    NSMutableArray *order = [NSMutableArray arrayWithArray:rows];
    [order exchangeObjectAtIndex:i withObjectAtIndex:i + step];
    [fireWallRulesArrayContr removeObjects:[NSArray arrayWithArray:rows]];
    [fireWallRulesArrayContr addObjects:order];
    [fireWallRulesArrayContr setSelectionIndex:i + step];
}

- (IBAction)MoveSelectedRulesUp:(id)sender
{
    [self moveSelectedBy:-1];
}

- (IBAction)MoveSelectedRulesDown:(id)sender
{
    [self moveSelectedBy:1];
}

- (IBAction)DeleteRulesButtonClicked:(id)sender
{
    try {
        NSArray *selected = [NSArray arrayWithArray:[fireWallRulesArrayContr selectedObjects]];
        if ([selected count] == 0)
            return;
        NSMutableArray *numbers = [NSMutableArray array];
        for (NSUInteger i = 0; i < [selected count]; ++i)
            [numbers addObject:[NSNumber numberWithInt:[[selected objectAtIndex:i] rulesNumber]]];
        int rc = DeleteFWRule(numbers);
        if (rc != 0) {
            [self handleErrorCode:rc];
            [self refreshUI];
            return;
        }
        for (NSUInteger i = 0; i < [selected count]; ++i)
            [self stopObserving:[selected objectAtIndex:i]];
        [fireWallRulesArrayContr removeObjects:selected];
        [fireWallRulesArrayContr setSelectionIndexes:[NSIndexSet indexSet]];
    } catch (...) {
        NSLog(@"FireWall: generic occured in delete rules Button Clicked");
    }
}

// Rows are reordered with the buttons only.
- (BOOL)tableView:(NSTableView *)table writeRows:(NSArray *)rows toPasteboard:(NSPasteboard *)pboard
{
    NSData *data = [NSArchiver archivedDataWithRootObject:rows];
    [pboard declareTypes:[NSArray arrayWithObject:kFWZRmPrivateRowPBType] owner:self];
    [pboard setData:data forType:kFWZRmPrivateRowPBType];
    return YES;
}

- (NSDragOperation)tableView:(NSTableView *)table
                validateDrop:(id<NSDraggingInfo>)info
                 proposedRow:(NSInteger)row
       proposedDropOperation:(NSTableViewDropOperation)op
{
    if (op == NSTableViewDropAbove &&
        [[[info draggingPasteboard] types] containsObject:kFWZRmPrivateRowPBType])
        return NSDragOperationMove;
    return NSDragOperationNone;
}

- (BOOL)tableView:(NSTableView *)table
       acceptDrop:(id<NSDraggingInfo>)info
              row:(NSInteger)row
    dropOperation:(NSTableViewDropOperation)op
{
    return NO; // nothing is moved
}

// ---- editor sheet -------------------------------------------------------------

- (IBAction)AddRulesButtonClicked:(id)sender
{
    try {
        [rulesObject resetToInitState];
        int rc = GetNetworkInterfaceList();
        if (rc != 0) {
            [self handleErrorCode:rc];
            return;
        }
        [self populateNetworkInterface:[rulesObject listOfNetworkInterfaces]];
        editedRulesObject = nil;
        [FWPCurrentPresenter() beginSheet:addRulesWindow];
    } catch (...) {
        NSLog(@"FireWall: generic occured in addrules Button Clicked");
    }
}

- (void)editRow:(NSInteger)row
{
    try {
        if (row < 0 || !isPreferenceEnabled || !isCustomRulesEabled)
            return;
        if (static_cast<NSUInteger>(row) >= [[fireWallRulesArrayContr arrangedObjects] count])
            return;
        [fireWallRulesArrayContr setSelectionIndex:row];
        editedRulesObject = [[fireWallRulesArrayContr selectedObjects] objectAtIndex:0];
        [rulesObject copyRulesFromContainer:editedRulesObject];
        int rc = GetDetailedFWRule([editedRulesObject rulesNumber]);
        if (rc != 0) {
            [self handleErrorCode:rc];
            return;
        }
        [FWPCurrentPresenter() beginSheet:addRulesWindow];
    } catch (...) {
        NSLog(@"genericExp:nsexception occured in edit rule");
    }
}

- (IBAction)EditRules:(id)sender
{
    [self editRow:[rulesTable clickedRow]];
}

- (IBAction)AddNewCreatlyRules:(id)sender
{
    try {
        [[NSApp keyWindow] makeFirstResponder:nil];
        NSString *name = [rulesObject rulesNameAsString];
        if (name == nil ||
            [[name stringByTrimmingCharactersInSet:[NSCharacterSet whitespaceAndNewlineCharacterSet]] length] == 0) {
            [self handleErrorCode:FW_RULE_NAME_BLANK];
            return;
        }
        if (editedRulesObject != nil) {
            // The row takes the sheet's values without a command of its own;
            // one change goes to the service, and the row goes back if refused.
            RulesContainer *old = [[[RulesContainer alloc] initWithContentsOfContainer:editedRulesObject] autorelease];
            ++observingSuppressed;
            [editedRulesObject copyRulesFromContainer:rulesObject];
            --observingSuppressed;
            int rc = ModifyFWRule();
            if (rc != 0) {
                ++observingSuppressed;
                [editedRulesObject copyRulesFromContainer:old];
                --observingSuppressed;
                [self handleErrorCode:rc];
                return;
            }
        } else {
            int rc = AddFWRule();
            if (rc != 0) {
                [self handleErrorCode:rc];
                return;
            }
            [self removeAllRows];
            GetAllFWRules();
        }
        [FWPCurrentPresenter() endSheet:addRulesWindow];
    } catch (...) {
        NSLog(@"FireWall: generic occured in addnewcreatlyrules Clicked");
    }
}

- (IBAction)CancelAddRules:(id)sender
{
    try {
        [[NSApp keyWindow] makeFirstResponder:nil];
        [FWPCurrentPresenter() endSheet:addRulesWindow];
    } catch (...) {
        NSLog(@"FireWall: generic occured in CancelAddRules Clicked");
    }
}

- (IBAction)SourceIPMenuChanged:(id)sender
{
    if ([[sender selectedItem] tag] == FWP_TAG_TYPED)
        [addRulesWindow makeFirstResponder:sourceIpTextField];
}

- (IBAction)DestinationIPMenuChanged:(id)sender
{
    if ([[sender selectedItem] tag] == FWP_TAG_TYPED)
        [addRulesWindow makeFirstResponder:destinationIpTextField];
}

- (void)populateNetworkInterface:(NSArray *)names
{
    [networkPopUpButton removeAllItems];
    if (names != nil)
        [networkPopUpButton addItemsWithTitles:names];
}

@end

// ---- commands ---------------------------------------------------------------------

int GetAllFWRules(void)
{
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    return FWPSend(FWP_GET_ALL_RULES, nullptr, [&](HVO::CommandResult &r) {
        FWService::CompleteFWData data;
        r.getCustomData(data);
        for (FirewallSDK::FWBasicData &rule : data.getRules())
            [c AddRules:rule.getRuleNo()
                Withname:[NSString stringWithwstring:rule.getRuleNameAsWstring()]
                   allow:FWPActionTag(rule.getAction())
               direction:FWPDirectionTag(rule.getTrafficDirection())];
    });
}

int GetBasicFWPrefs(void)
{
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    return FWPSend(FWP_GET_BASIC_PREFS, nullptr, [&](HVO::CommandResult &r) {
        FWService::CompleteFWData data;
        r.getCustomData(data);
        [c showOptions:data.getOptions()];
    });
}

int SetBasicFWPrefs(void)
{
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    if (!c->optionsRead)
        return 0; // nothing to send before the service's options were shown
    const int mode = c->modeChosen ? FWPBasicRuleOpt(c->allowDenyCustom, c->isInBoundSelected, c->isOutBoundSelected)
                                   : c->readMode;
    if (mode < 0)
        return 0;
    int rc = FWPSend(FWP_SET_BASIC_PREFS, [&](HVO::CommandData &cmd) {
        FWService::FWOptionalData o;
        o.isLogging(c->isLoggingSelected ? 1 : 0);
        o.isStealth(c->isStealthSelected);
        o.isUnknownTrafficBlocked(c->isBlockUnknownSelected);
        o.setBasicRuleOpt(static_cast<FWService::BasicRuleOpt>(mode));
        cmd.setCustomData(o);
    }, nullptr);
    if (rc == 0) {
        c->readMode = mode;
        c->modeChosen = NO;
    }
    return rc;
}

int GetNetworkInterfaceList(void)
{
    return FWPGetInterfaceList([[PreferenceRules sharedPreferenceRules] rulesObject]);
}

int GetDetailedFWRule(int ruleNumber)
{
    return FWPGetDetailedRule([[PreferenceRules sharedPreferenceRules] rulesObject], ruleNumber);
}

int AddFWRule(void)
{
    return FWPAddRule([[PreferenceRules sharedPreferenceRules] rulesObject]);
}

int ModifyFWRule(void)
{
    return FWPModifyRule([[PreferenceRules sharedPreferenceRules] rulesObject]);
}
