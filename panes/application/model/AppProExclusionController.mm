#import "AppProExclusionController.h"
#import "AppProGlue.h"
#import "AppProPrefsController.h"

#include <climits>
#include <cstdlib>

static AppProExclusionController *sharedExclusions = nil;

@implementation AppProExclusionData
- (id)initWithApplicationPath:(NSString *)path
{
    id<AppProPathInfo> info = AppProPathInfoPort();
    applicationName = [[info displayNameAtPath:path] copy];
    applicationIcon = [[info iconForPath:path] retain];
    applicationNameWithAbsPath = [path copy];
    return self;
}

- (void)dealloc
{
    [applicationName release];
    [applicationIcon release];
    [applicationNameWithAbsPath release];
    [super dealloc];
}

- (id)copyWithZone:(NSZone *)zone
{
    AppProExclusionData *copy = [[AppProExclusionData allocWithZone:zone] init];
    copy->applicationName = [applicationName retain];
    copy->applicationIcon = [applicationIcon retain];
    copy->applicationNameWithAbsPath = [applicationNameWithAbsPath retain];
    return copy;
}

- (NSString *)applicationName { return applicationName; }
- (void)setApplicationName:(NSString *)value
{
    [value retain];
    [applicationName release];
    applicationName = value;
}
- (id)applicationIcon { return applicationIcon; }
- (void)setApplicationIcon:(id)value
{
    [value retain];
    [applicationIcon release];
    applicationIcon = value;
}
- (NSString *)applicationNameWithAbsPath { return applicationNameWithAbsPath; }
- (void)setApplicationNameWithAbsPath:(NSString *)value
{
    [value retain];
    [applicationNameWithAbsPath release];
    applicationNameWithAbsPath = value;
}
- (NSString *)displayName { return applicationNameWithAbsPath; }
- (id)displayIcon { return applicationIcon; }
@end

@implementation AppProExclusionController
+ (AppProExclusionController *)sharedAppProExclusionController
{
    if (sharedExclusions == nil)
        [[AppProExclusionController alloc] init];
    return sharedExclusions;
}

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    sharedExclusions = self;
    appProExclusionsListArray = [[NSMutableArray alloc] init];
    selectedIndexes = [[NSIndexSet alloc] init];
    return self;
}

- (void)awakeFromNib
{
    listFetched = GetExclusionList() == 0;
}

- (void)refreshExclusions
{
    [appProExclusionsListArray removeAllObjects];
    [self setAppProExclusionsListArray:appProExclusionsListArray];
    listFetched = GetExclusionList() == 0;
    [self deselectTable];
}

- (void)addExclusions:(NSMutableArray *)rows
{
    [self setAppProExclusionsListArray:rows];
}

- (BOOL)locked
{
    return ![[AppProPrefsController sharedAppProPrefsController] isPreferenceEnabled];
}

- (void)AddExclusion:(id)sender
{
    (void)sender;
    try {
        if ([self locked])
            return;
        NSArray *paths = [AppProToolkitPort() runOpenPanelIn:@"/Applications"
                                                       title:nil
                                                      prompt:nil
                                                       files:YES
                                                     folders:YES
                                                    multiple:YES
                                                      filter:self];
        [self openPanelDidEnd:paths returnCode:(paths != nil ? 1 : 0) contextInfo:NULL];
    } catch (...) {
    }
}

/// The absolute path without symbolic links; nil when it cannot be
/// resolved (missing, a dangling link, longer than the system allows).
static NSString *resolvedPath(NSString *path)
{
    const char *p = [path fileSystemRepresentation];
    if (p == NULL || strlen(p) >= PATH_MAX)
        return nil;
    char *real = realpath(p, NULL);
    if (real == NULL)
        return nil;
    NSString *text = [NSString stringWithUTF8String:real];
    free(real);
    return text;
}

- (void)openPanelDidEnd:(NSArray *)paths returnCode:(int)code contextInfo:(void *)context
{
    (void)context;
    if (code != 1)
        return;
    // A list that is not the daemon's would replace the daemon's.
    if (!listFetched)
        return;
    for (NSUInteger i = 0; i < [paths count]; i++) {
        NSString *path = resolvedPath([paths objectAtIndex:i]);
        if (path == nil || [self isDuplicateExixts:path])
            continue;
        AppProExclusionData *row = [[AppProExclusionData alloc] initWithApplicationPath:path];
        [appProExclusionsListArray addObject:row];
        [row release];
    }
    if (SetExclusionList(appProExclusionsListArray) != 0) {
        [self refreshExclusions];
        return;
    }
    [self setAppProExclusionsListArray:appProExclusionsListArray];
    [self deselectTable];
}

- (void)RemoveExclusion:(id)sender
{
    (void)sender;
    try {
        if ([self locked] || !listFetched)
            return;
        NSInteger index = [selectedIndexes count] > 0 ? (NSInteger)[selectedIndexes firstIndex] : -1;
        NSMutableArray *rows = [NSMutableArray array];
        NSUInteger i = [selectedIndexes firstIndex];
        while (i != NSNotFound) {
            if (i < [appProExclusionsListArray count])
                [rows addObject:[appProExclusionsListArray objectAtIndex:i]];
            i = [selectedIndexes indexGreaterThanIndex:i];
        }
        for (NSUInteger k = 0; k < [rows count]; k++) {
            [appProExclusionsListArray removeObjectIdenticalTo:[rows objectAtIndex:k]];
            if (SetExclusionList(appProExclusionsListArray) != 0) {
                // Show what the daemon holds, not what it refused.
                [self refreshExclusions];
                return;
            }
        }
        [self setAppProExclusionsListArray:appProExclusionsListArray];
        if (index > 0)
            [self setSelectedIndexes:[NSIndexSet indexSetWithIndex:(NSUInteger)(index - 1)]];
        else
            [self setSelectedIndexes:[NSIndexSet indexSet]];
        [self tableViewSelectionDidChange:nil];
        [self refreshTheScreens];
    } catch (...) {
    }
}

- (BOOL)isDuplicateExixts:(NSString *)path
{
    for (NSUInteger i = 0; i < [appProExclusionsListArray count]; i++) {
        NSString *p = [[appProExclusionsListArray objectAtIndex:i] applicationNameWithAbsPath];
        if (p != nil && [p isEqualToString:path])
            return YES;
    }
    return NO;
}

// Only systems before 10.5 needed a redisplay; this one counts as later.
- (void)refreshTheScreens {}

- (void)tableViewSelectionDidChange:(NSNotification *)notification
{
    (void)notification;
    try {
        [self setIsDeleteEnabled:[selectedIndexes count] > 0];
    } catch (...) {
    }
}

- (BOOL)tableView:(id)table shouldSelectRow:(NSInteger)row
{
    (void)table;
    (void)row;
    return [[AppProPrefsController sharedAppProPrefsController] isPreferenceEnabled];
}

- (void)ZRMTableViewResponderChanged:(id)table
{
    [self setIsTableFirstResponder:[table isTableFirstResponder] == 1];
}

- (void)deselectTable
{
    [self setSelectedIndexes:[NSIndexSet indexSet]];
    [self tableViewSelectionDidChange:nil];
}

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

- (BOOL)isFilePathDirectory:(NSString *)path
{
    return [[AppProPrefsController sharedAppProPrefsController] isFilePathDirectory:path];
}

- (BOOL)panel:(id)sender shouldShowFilename:(NSString *)filename
{
    return [[AppProPrefsController sharedAppProPrefsController] panel:sender shouldShowFilename:filename];
}

- (NSString *)myPrimaryText { return @"Test"; }
- (BOOL)isDeleteEnabled { return isDeleteEnabled; }
- (void)setIsDeleteEnabled:(BOOL)value { isDeleteEnabled = value; }
- (BOOL)isTableFirstResponder { return isTableFirstResponder; }
- (void)setIsTableFirstResponder:(BOOL)value { isTableFirstResponder = value; }
- (NSMutableArray *)appProExclusionsListArray { return appProExclusionsListArray; }
- (void)setAppProExclusionsListArray:(NSMutableArray *)value
{
    [value retain];
    [appProExclusionsListArray release];
    appProExclusionsListArray = value;
}
- (NSIndexSet *)selectedIndexes { return selectedIndexes; }
- (void)setSelectedIndexes:(NSIndexSet *)value
{
    NSIndexSet *copy = [value copy];
    [selectedIndexes release];
    selectedIndexes = copy != nil ? copy : [[NSIndexSet alloc] init];
}
- (id)appProExclusionTabView { return appProExclusionTabView; }
- (void)setAppProExclusionTabView:(id)value { appProExclusionTabView = value; }
@end

@implementation AppProDetailRuleController
- (void)awakeFromNib
{
    if (detailedRuleTable != nil && [detailedRuleTable respondsToSelector:@selector(setDelegate:)])
        [detailedRuleTable setDelegate:self];
}

- (void)tableViewSelectionDidChange:(NSNotification *)notification
{
    (void)notification;
    try {
        [self setIsDeleteEnabled:[[[AppProPrefsController sharedAppProPrefsController] selectedDetailIndexes] count] > 0];
    } catch (...) {
    }
}

- (void)ZRMTableViewResponderChanged:(id)table
{
    [self setIsTableFirstResponder:[table isTableFirstResponder] == 1];
}

- (BOOL)isDeleteEnabled { return isDeleteEnabled; }
- (void)setIsDeleteEnabled:(BOOL)value { isDeleteEnabled = value; }
- (BOOL)isTableFirstResponder { return isTableFirstResponder; }
- (void)setIsTableFirstResponder:(BOOL)value { isTableFirstResponder = value; }
- (id)detailedRuleTable { return detailedRuleTable; }
- (void)setDetailedRuleTable:(id)value { detailedRuleTable = value; }
@end
