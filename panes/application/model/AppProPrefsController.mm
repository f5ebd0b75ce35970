#import "AppProPrefsController.h"
#import "AppProExclusionController.h"
#import "AppProGlue.h"
#import "AppProPortCheck.h"
#import "AppProRule.h"
#import "AppProStrings.h"

#include <cstdlib>
#include <sys/stat.h>

#include "DependentGenerator.h"

// The time-out field is a control of the view.
@interface NSObject (AppProFormattedField)
- (void)setFormatter:(id)formatter;
@end

static AppProPrefsController *sharedController = nil;
static int clickedRowIndex = -1;

static NSString *const PrefKeys[] = {@"isAllowAppleSignedBinaries", @"unknownModifidAllowDenyPromptOption",
                                     @"timeOut"};
static NSString *const RowKeys[] = {@"isRuleEnabled", @"statusTag"};
static const NSKeyValueObservingOptions NewAndOld = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld;

#define RETAIN_SETTER(field, value)      \
    if ((value) != (field)) {            \
        id old = (field);                \
        (field) = [(value) retain];      \
        [old release];                   \
    }

@implementation AppProPrefsController

+ (AppProPrefsController *)sharedAppProPrefsController
{
    if (sharedController == nil)
        [[AppProPrefsController alloc] init];
    return sharedController;
}

+ (int)clickedRowIndex { return clickedRowIndex; }

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    sharedController = self;
    appProRulesArray = [[NSMutableArray alloc] init];
    isRuleModification = NO;
    unknownModifidAllowDenyPromptOption = 100;
    observedRows = [[NSMutableSet alloc] init];
    selectedRuleIndexes = [[NSIndexSet alloc] init];
    selectedDetailIndexes = [[NSIndexSet alloc] init];
    clickedRuleRow = -1;
    return self;
}

// Observation, with every registration tracked so that nothing is removed
// that was never added.
- (void)observeRow:(AppProRule *)row
{
    NSValue *key = [NSValue valueWithNonretainedObject:row];
    if ([observedRows containsObject:key])
        return;
    for (NSString *k : RowKeys)
        [row addObserver:self forKeyPath:k options:NewAndOld context:NULL];
    [observedRows addObject:key];
}

- (void)stopObservingRow:(AppProRule *)row
{
    NSValue *key = [NSValue valueWithNonretainedObject:row];
    if (![observedRows containsObject:key])
        return;
    for (NSString *k : RowKeys)
        [row removeObserver:self forKeyPath:k];
    [observedRows removeObject:key];
}

- (void)observeSelf
{
    if (observingSelf)
        return;
    for (NSString *k : PrefKeys)
        [self addObserver:self forKeyPath:k options:NewAndOld context:NULL];
    observingSelf = YES;
}

- (void)stopObservingSelf
{
    if (!observingSelf)
        return;
    for (NSString *k : PrefKeys)
        [self removeObserver:self forKeyPath:k];
    observingSelf = NO;
}

- (void)awakeFromNib
{
    AppProCustomNumberFormatter *formatter = [[AppProCustomNumberFormatter alloc] init];
    if (promptTimeout != nil && [promptTimeout respondsToSelector:@selector(setFormatter:)])
        [promptTimeout setFormatter:formatter];
    [formatter release];
    [self setIsLeopard:[self leopardRnot]];
    [self setIsAllowAppleSignedBinaries:[self leopardRnot]];
    [self setUnknownModifidAllowDenyPromptOption:102];
    if (GetAppProPreferences() == 0)
        prefsFetched = YES;
    GetAllAppProRules();
    [self observeSelf];
    [self setIsPreferenceEnabled:NO];
}

- (void)refreshRules
{
    [self refreshUIWIthRules];
    [self refreshUIWIthPrefs];
}

- (void)refreshUIWIthRules
{
    for (NSUInteger i = 0; i < [appProRulesArray count]; i++)
        [self stopObservingRow:[appProRulesArray objectAtIndex:i]];
    [appProRulesArray removeAllObjects];
    [self setAppProRulesArray:appProRulesArray];
    GetAllAppProRules();
    [self setSelectedRuleIndexes:[NSIndexSet indexSet]];
}

- (void)refreshUIWIthPrefs
{
    [self stopObservingSelf];
    if (GetAppProPreferences() == 0)
        prefsFetched = YES;
    [self observeSelf];
}

- (void)addObjectToAppProRulesArray:(AppProRule *)row
{
    [appProRulesArray addObject:row];
    [self observeRow:row];
    [self setAppProRulesArray:appProRulesArray];
}

- (void)observeValueForKeyPath:(NSString *)keyPath ofObject:(id)object change:(NSDictionary *)change
                       context:(void *)context
{
    (void)change;
    (void)context;
    if ([keyPath isEqualToString:@"isRuleEnabled"]) {
        ModifyAppProRule(object);
    } else if ([keyPath isEqualToString:@"statusTag"]) {
        ModifyAppProRule(object);
        if ([object statusTag] == AppProStatusAllowRestricted)
            [self EditRules:self];
    } else if ([keyPath isEqualToString:@"isAllowAppleSignedBinaries"] ||
               [keyPath isEqualToString:@"unknownModifidAllowDenyPromptOption"] ||
               [keyPath isEqualToString:@"timeOut"]) {
        // Values never fetched are not the daemon's: sending them would
        // overwrite its settings.
        if (prefsFetched)
            SetAppProPreferences();
    }
}

- (NSArray *)selectedRules
{
    NSMutableArray *rows = [NSMutableArray array];
    NSUInteger i = [selectedRuleIndexes firstIndex];
    while (i != NSNotFound) {
        if (i < [appProRulesArray count])
            [rows addObject:[appProRulesArray objectAtIndex:i]];
        i = [selectedRuleIndexes indexGreaterThanIndex:i];
    }
    return rows;
}

- (void)updateEnableAll:(NSArray *)rows
{
    BOOL mixed = NO;
    for (NSUInteger i = 0; i < [rows count] && !mixed; i++)
        mixed = [[rows objectAtIndex:i] isRuleEnabled] == -1;
    [self setIsEnableAll:mixed];
}

- (void)tableViewSelectionDidChange:(NSNotification *)notification
{
    (void)notification;
    try {
        NSArray *rows = [self selectedRules];
        if ([rows count] > 0) {
            [self setIsDeleteEnabled:YES];
            [self updateEnableAll:rows];
        } else {
            [self setIsDeleteEnabled:NO];
            [self setIsEnableAll:NO];
        }
    } catch (...) {
    }
}

- (BOOL)tableView:(id)table shouldSelectRow:(NSInteger)row
{
    (void)table;
    (void)row;
    return isPreferenceEnabled;
}

- (void)ZRMTableViewResponderChanged:(id)table
{
    [self setIsTableFirstResponder:[table isTableFirstResponder] == 1];
}

- (void)tabView:(id)tabView willSelectTabViewItem:(id)item
{
    (void)tabView;
    id identifier = [item identifier];
    if ([identifier isEqual:@"100"]) {
        [self refreshUIWIthPrefs];
        [self refreshUIWIthRules];
    } else if ([identifier isEqual:@"101"]) {
        [[AppProExclusionController sharedAppProExclusionController] refreshExclusions];
    }
}

- (void)EnableRules:(id)sender
{
    (void)sender;
    try {
        NSArray *rows = [self selectedRules];
        EnableAppProRules(rows);
        [self setAppProRulesArray:appProRulesArray];
        [self updateEnableAll:rows];
    } catch (...) {
    }
}

- (void)DeleteRule:(id)sender
{
    (void)sender;
    try {
        NSInteger index = [selectedRuleIndexes count] > 0 ? (NSInteger)[selectedRuleIndexes firstIndex] : -1;
        NSArray *rows = [self selectedRules];
        if (DeleteAppProRules(rows) == 0) {
            for (NSUInteger i = 0; i < [rows count]; i++) {
                AppProRule *row = [rows objectAtIndex:i];
                [self stopObservingRow:row];
                [appProRulesArray removeObjectIdenticalTo:row];
            }
        }
        [self setAppProRulesArray:appProRulesArray];
        if (index > 0)
            [self setSelectedRuleIndexes:[NSIndexSet indexSetWithIndex:(NSUInteger)(index - 1)]];
        else
            [self setSelectedRuleIndexes:[NSIndexSet indexSet]];
    } catch (...) {
    }
}

- (void)displayErrorMsg:(NSString *)key
{
    [AppProToolkitPort() showInformationalPanel:[self getLocalizedErrorString:key]
                                         button:[self getLocalizedErrorString:@"OK"]];
}

- (NSString *)getLocalizedErrorString:(NSString *)key { return AppProLocalized(key, @"AppProtection"); }
- (NSString *)retriveLocalisedString:(NSString *)key { return AppProLocalized(key, @"AppProPrefs"); }

// No system-version service here: the platform counts as 10.5 or later.
- (BOOL)leopardRnot { return YES; }

- (NSString *)displayTextForCell:(id)cell data:(id)data
{
    (void)cell;
    return [data displayName];
}

- (id)iconForCell:(id)cell data:(id)data
{
    (void)cell;
    return [data displayIcon];
}

// The sheet.

- (void)AddNewRule:(id)sender
{
    (void)sender;
    [self setIsRuleModification:NO];
    // Editing is refused while locked.
    if (!isPreferenceEnabled)
        return;
    if (rule == nil) {
        AppProRule *model = [[AppProRule alloc] init];
        [self setRule:model];
        [model release];
    }
    [rule initRuleObject];
    [rule setStatusTag:AppProStatusAllowWithNetwork];
    [self setAppProDetailedRulesArray:[rule detailedRule]];
    [self setSelectedDetailIndexes:[NSIndexSet indexSet]];
    try {
        [AppProToolkitPort() beginSheet:addRuleWindow];
    } catch (...) {
    }
}

- (void)EditRules:(id)sender
{
    (void)sender;
    try {
        [self setIsRuleModification:YES];
        clickedRowIndex = clickedRuleRow;
        if (clickedRowIndex < 0 || !isPreferenceEnabled || (NSUInteger)clickedRowIndex >= [appProRulesArray count])
            return;
        [self setSelectedRuleIndexes:[NSIndexSet indexSetWithIndex:(NSUInteger)clickedRowIndex]];
        AppProRule *row = [appProRulesArray objectAtIndex:(NSUInteger)clickedRowIndex];
        if (rule == nil) {
            AppProRule *model = [[AppProRule alloc] init];
            [self setRule:model];
            [model release];
        }
        [rule initWithApplicationPath:[row applicationNameWithAbsPath]];
        [rule setStatusTag:[row statusTag]];
        [rule setIsRuleEnabled:[row isRuleEnabled]];
        [rule setDetailedRule:[row detailedRule]];
        [editedPath release];
        editedPath = [[row applicationNameWithAbsPath] copy];
        [self setAppProDetailedRulesArray:[rule detailedRule]];
        [self setSelectedDetailIndexes:[NSIndexSet indexSet]];
        [AppProToolkitPort() beginSheet:addRuleWindow];
    } catch (...) {
    }
}

/// The absolute path without symbolic links; nil when it cannot be resolved.
static NSString *resolvedPath(NSString *path)
{
    const char *p = [path fileSystemRepresentation];
    if (p == NULL)
        return nil;
    char *real = realpath(p, NULL);
    if (real == NULL)
        return nil;
    NSString *text = [NSString stringWithUTF8String:real];
    free(real);
    return text;
}

- (void)ChooseApplication:(id)sender
{
    (void)sender;
    try {
        NSArray *paths = [AppProToolkitPort() runOpenPanelIn:@"/Applications"
                                                       title:[self retriveLocalisedString:@"select"]
                                                      prompt:[self retriveLocalisedString:@"ok"]
                                                       files:YES
                                                     folders:NO
                                                    multiple:NO
                                                      filter:self];
        if ([paths count] == 0)
            return;
        NSString *path = resolvedPath([paths objectAtIndex:0]);
        if (path != nil)
            [rule initWithApplicationPath:path];
    } catch (...) {
    }
}

- (BOOL)isFilePathDirectory:(NSString *)path
{
    struct stat st;
    const char *p = [path UTF8String];
    if (p == NULL || stat(p, &st) != 0)
        return NO;
    return (st.st_mode & 0x4000) != 0;
}

- (BOOL)panel:(id)sender shouldShowFilename:(NSString *)filename
{
    (void)sender;
    if ([self isFilePathDirectory:filename])
        return YES;
    if ([filename hasSuffix:@"app"])
        return YES;
    const char *p = [filename UTF8String];
    if (p == NULL)
        return NO;
    try {
        return AppProtection::DependentGenerator::getInstance()->isFileMachOExecutable(std::string(p)) ? YES : NO;
    } catch (...) {
        return NO;
    }
}

- (void)closeSheet
{
    [self setIsRuleModification:NO];
    [AppProToolkitPort() endSheet:addRuleWindow];
}

- (void)AddNewRuleOK:(id)sender
{
    (void)sender;
    try {
        NSString *path = [rule applicationNameWithAbsPath];
        if (path == nil || [path length] == 0)
            return;
        AppProRule *row = [[[AppProRule alloc] init] initWithApplicationPath:path];
        [row setIsRuleEnabled:1];
        [row setStatusTag:[rule statusTag]];
        [row setDetailedRule:[rule detailedRule]];
        NSMutableArray *details = [row detailedRule];
        for (NSUInteger i = 0; i < [details count]; i++)
            [[details objectAtIndex:i] setOrderNumber:(int)(i + 1)];

        BOOL done = NO;
        if (isRuleModification) {
            if (ModifyAppProRule(row) == 0) {
                done = YES;
                // The row is found by its path: a refetch since the sheet
                // opened may have moved it.
                NSUInteger p = NSNotFound;
                for (NSUInteger i = 0; i < [appProRulesArray count] && p == NSNotFound; i++)
                    if ([[[appProRulesArray objectAtIndex:i] applicationNameWithAbsPath] isEqualToString:editedPath])
                        p = i;
                if (p == NSNotFound) {
                    [self refreshUIWIthRules];
                } else {
                    AppProRule *old = [appProRulesArray objectAtIndex:p];
                    [appProRulesArray insertObject:row atIndex:p];
                    [self observeRow:row];
                    [self stopObservingRow:old];
                    [appProRulesArray removeObjectAtIndex:p + 1];
                    [self setAppProRulesArray:appProRulesArray];
                    [self setSelectedRuleIndexes:[NSIndexSet indexSetWithIndex:p]];
                }
                clickedRowIndex = -1;
            }
        } else if (AddNewAppProRule(row) == 0) {
            done = YES;
            [appProRulesArray addObject:row];
            [self observeRow:row];
            [self setAppProRulesArray:appProRulesArray];
            [self setSelectedRuleIndexes:[NSIndexSet indexSetWithIndex:[appProRulesArray count] - 1]];
        }
        [row release];
        if (done)
            [self closeSheet];
    } catch (...) {
    }
}

- (void)AddNewRuleCancel:(id)sender
{
    (void)sender;
    try {
        [self refreshUIWIthRules];
        [AppProToolkitPort() endSheet:addRuleWindow];
    } catch (...) {
    }
}

- (void)AddDetailedRule:(id)sender
{
    (void)sender;
    try {
        AppProDetailedRule *detail = [[AppProDetailedRule alloc] init];
        [detail setProtocolTag:102];
        [detail setActionTag:100];
        [detail setDirectionTag:102];
        [detail setIpSubnetString:[self retriveLocalisedString:@"any"]];
        [detail setPortRangeString:[self retriveLocalisedString:@"any"]];
        [[rule detailedRule] addObject:detail];
        [detail release];
        [self setAppProDetailedRulesArray:[rule detailedRule]];
        [self setSelectedDetailIndexes:[NSIndexSet indexSetWithIndex:[[rule detailedRule] count] - 1]];
    } catch (...) {
    }
}

- (void)DeleteDetailedRule:(id)sender
{
    (void)sender;
    try {
        NSMutableArray *doomed = [NSMutableArray array];
        NSUInteger i = [selectedDetailIndexes firstIndex];
        while (i != NSNotFound) {
            if (i < [appProDetailedRulesArray count])
                [doomed addObject:[appProDetailedRulesArray objectAtIndex:i]];
            i = [selectedDetailIndexes indexGreaterThanIndex:i];
        }
        for (NSUInteger k = 0; k < [doomed count]; k++)
            [appProDetailedRulesArray removeObjectIdenticalTo:[doomed objectAtIndex:k]];
        [self setAppProDetailedRulesArray:appProDetailedRulesArray];
        [self setSelectedDetailIndexes:[NSIndexSet indexSet]];
    } catch (...) {
    }
}

- (void)moveDetailBy:(int)step
{
    if ([selectedDetailIndexes count] == 0)
        return;
    NSUInteger from = [selectedDetailIndexes firstIndex];
    NSInteger to = (NSInteger)from + step;
    if (to < 0 || (NSUInteger)to >= [appProDetailedRulesArray count])
        return;
    [appProDetailedRulesArray exchangeObjectAtIndex:from withObjectAtIndex:(NSUInteger)to];
    [self setAppProDetailedRulesArray:appProDetailedRulesArray];
    // The selection follows the moved sub-rule.
    [self setSelectedDetailIndexes:[NSIndexSet indexSetWithIndex:(NSUInteger)to]];
}

- (void)MoveUpDetailedRule:(id)sender
{
    (void)sender;
    [self moveDetailBy:-1];
}

- (void)MoveDownDetailedRule:(id)sender
{
    (void)sender;
    [self moveDetailBy:1];
}

// Accessors.
- (id)addRuleWindow { return addRuleWindow; }
- (void)setAddRuleWindow:(id)value { addRuleWindow = value; }
- (id)rulesTable { return rulesTable; }
- (void)setRulesTable:(id)value { rulesTable = value; }
- (id)promptTimeout { return promptTimeout; }
- (void)setPromptTimeout:(id)value { promptTimeout = value; }
- (AppProRule *)rule { return rule; }
- (void)setRule:(AppProRule *)value { RETAIN_SETTER(rule, value) }
- (NSMutableArray *)appProRulesArray { return appProRulesArray; }
- (void)setAppProRulesArray:(NSMutableArray *)value { RETAIN_SETTER(appProRulesArray, value) }
- (NSMutableArray *)appProDetailedRulesArray { return appProDetailedRulesArray; }
- (void)setAppProDetailedRulesArray:(NSMutableArray *)value { RETAIN_SETTER(appProDetailedRulesArray, value) }
- (id)textColor { return [AppProToolkitPort() textColorForUnlocked:isTextBlack]; }
- (void)setTextColor:(BOOL)unlocked
{
    [self willChangeValueForKey:@"textColor"];
    isTextBlack = unlocked;
    [self didChangeValueForKey:@"textColor"];
}
+ (BOOL)automaticallyNotifiesObserversForKey:(NSString *)key
{
    if ([key isEqualToString:@"textColor"])
        return NO;
    return [super automaticallyNotifiesObserversForKey:key];
}
- (BOOL)isPreferenceEnabled { return isPreferenceEnabled; }
- (void)setIsPreferenceEnabled:(BOOL)value
{
    [self setTextColor:value];
    if (!value) {
        [self setSelectedRuleIndexes:[NSIndexSet indexSet]];
        [self tableViewSelectionDidChange:nil];
        [[AppProExclusionController sharedAppProExclusionController] deselectTable];
    }
    isPreferenceEnabled = value;
}
- (BOOL)isAllowAppleSignedBinaries { return isAllowAppleSignedBinaries; }
- (void)setIsAllowAppleSignedBinaries:(BOOL)value { isAllowAppleSignedBinaries = value; }
- (int)unknownModifidAllowDenyPromptOption { return unknownModifidAllowDenyPromptOption; }
- (void)setUnknownModifidAllowDenyPromptOption:(int)tag
{
    if (tag == 100 || tag == 101)
        [self setIsPromptTimeOutHidden:YES];
    else if (tag == 102)
        [self setIsPromptTimeOutHidden:NO];
    unknownModifidAllowDenyPromptOption = tag;
}
- (BOOL)isPromptTimeOutHidden { return isPromptTimeOutHidden; }
- (void)setIsPromptTimeOutHidden:(BOOL)value { isPromptTimeOutHidden = value; }
- (int)timeOut { return timeOut; }
- (void)setTimeOut:(int)value { timeOut = AppProClampTimeOut(value); }
- (BOOL)isDeleteEnabled { return isDeleteEnabled; }
- (void)setIsDeleteEnabled:(BOOL)value { isDeleteEnabled = value; }
- (BOOL)isEnableAll { return isEnableAll; }
- (void)setIsEnableAll:(BOOL)value { isEnableAll = value; }
- (BOOL)isRuleModification { return isRuleModification; }
- (void)setIsRuleModification:(BOOL)value { isRuleModification = value; }
- (BOOL)isLeopard { return isLeopard; }
- (void)setIsLeopard:(BOOL)value { isLeopard = value; }
- (BOOL)isTableFirstResponder { return isTableFirstResponder; }
- (void)setIsTableFirstResponder:(BOOL)value { isTableFirstResponder = value; }
- (NSIndexSet *)selectedRuleIndexes { return selectedRuleIndexes; }
- (void)setSelectedRuleIndexes:(NSIndexSet *)value
{
    NSIndexSet *copy = [value copy];
    [selectedRuleIndexes release];
    selectedRuleIndexes = copy != nil ? copy : [[NSIndexSet alloc] init];
}
- (NSIndexSet *)selectedDetailIndexes { return selectedDetailIndexes; }
- (void)setSelectedDetailIndexes:(NSIndexSet *)value
{
    NSIndexSet *copy = [value copy];
    [selectedDetailIndexes release];
    selectedDetailIndexes = copy != nil ? copy : [[NSIndexSet alloc] init];
}
- (int)clickedRuleRow { return clickedRuleRow; }
- (void)setClickedRuleRow:(int)value { clickedRuleRow = value; }
@end
