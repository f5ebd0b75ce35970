#import "TrustedSources.h"
#import "FWPPresenter.h"
#import "FWPSend.h"
#import "FirewallPreferencesStrings.h"
#import "NSString+FWPaneWchar.h"
#import "NSString+wstring.h"
#import "PreferenceRules.h"
#import "ZRMCustomTableView.h"

#include <map>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "FWServiceRecords.h"

namespace {

NSString *trimmed(NSString *s)
{
    return [s stringByTrimmingCharactersInSet:[NSCharacterSet whitespaceAndNewlineCharacterSet]];
}

const NSKeyValueObservingOptions kOldNew = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionOld;

} // namespace

@implementation TrustedIPAddress
- (void)dealloc
{
    [ipAddress release];
    [super dealloc];
}
- (NSString *)ipAddress { return ipAddress; }
- (void)setIpAddress:(NSString *)address
{
    NSString *old = ipAddress;
    ipAddress = [address copy];
    [old release];
}
@end

@implementation TrustedObjects

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    trustedLists = [[NSMutableArray alloc] init];
    [self setIsReadOnly:NO];
    [self setIsSelected:YES];
    isNameSet = 0;
    return self;
}

- (void)dealloc
{
    [trustedLists release];
    [trustedListName release];
    [super dealloc];
}

- (void)setTrustedListName:(NSString *)name
{
    if (name == nil)
        return;
    if (trustedListName != nil)
        isNameSet = 2;
    else if ([name length] > 0)
        isNameSet = 1;
    NSString *old = trustedListName;
    trustedListName = [name copy];
    [old release];
}

- (NSString *)trustedListName { return trustedListName; }

- (BOOL)validateTrustedListName:(id *)name error:(NSError **)error
{
    NSString *proposed = name != NULL && [*name isKindOfClass:[NSString class]] ? trimmed(*name) : nil;
    if (name != NULL && proposed != nil)
        *name = proposed;
    if ([proposed length] > 0)
        return YES;
    if (error != NULL) {
        NSDictionary *info = [NSDictionary dictionaryWithObject:@"Invalid Exclusion list"
                                                         forKey:NSLocalizedDescriptionKey];
        *error = [NSError errorWithDomain:NSCocoaErrorDomain code:3072 userInfo:info];
    }
    [FWPCurrentPresenter() showPanelWithTitle:[self retriveLocalisedString:@"Invalid GroupName"]
                                       button:[self retriveLocalisedString:@"Ok"]];
    return NO;
}

- (NSString *)retriveLocalisedString:(NSString *)key
{
    return FWPLocalized(key, @"ErrorStrings");
}

- (void)setTrustedLists:(NSArray *)addresses
{
    [trustedLists removeAllObjects];
    [trustedLists addObjectsFromArray:addresses];
}
- (NSMutableArray *)trustedLists { return trustedLists; }
- (void)setIsSelected:(BOOL)on { [self setIsSelect:on]; }
- (void)setIsSelect:(BOOL)on { isSelect = on; }
- (BOOL)isSelect { return isSelect; }
- (void)setIsReadOnly:(BOOL)on { isReadOnly = on; }
- (BOOL)isReadOnly { return isReadOnly; }
- (int)isNameSet { return isNameSet; }

@end

static TrustedSources *sharedSources = nil;

@implementation TrustedSources

+ (TrustedSources *)sharedTrustedSources
{
    if (sharedSources == nil)
        [[TrustedSources alloc] init];
    return sharedSources;
}

- (id)init
{
    if (sharedSources != nil) {
        [self release];
        return sharedSources;
    }
    self = [super init];
    if (self == nil)
        return nil;
    sharedSources = self;
    trustedContentsArray = [[NSMutableArray alloc] init];
    trustedIpArray = [[NSMutableArray alloc] init];
    trustedArrayController = [[NSArrayController alloc] initWithContent:[NSMutableArray array]];
    [trustedArrayController setAvoidsEmptySelection:NO];
    [trustedArrayController setSelectsInsertedObjects:NO];
    trustedDomainsArrayController = [[NSArrayController alloc] initWithContent:[NSMutableArray array]];
    [trustedDomainsArrayController setAvoidsEmptySelection:NO];
    [trustedDomainsArrayController setSelectsInsertedObjects:NO];
    return self;
}

- (void)dealloc
{
    [trustedContentsArray release];
    [trustedIpArray release];
    [super dealloc];
}

- (void)awakeFromNib
{
    try {
        [trustedDomainsArrayController addObject:@""];
        [trustedIPAddressTableView setDelegate:(id)self];
    } catch (...) {
        NSLog(@"Firewall : genericexp occured in awake from nib for trusted source");
    }
}

- (TrustedObjects *)selectedTrustedObj { return selectedTrustedObj; }
- (NSArrayController *)groupsController { return trustedArrayController; }
- (NSArrayController *)addressesController { return trustedDomainsArrayController; }
- (BOOL)isGroupDeleteEnabled { return isGroupDeleteEnabled; }
- (void)setIsGroupDeleteEnabled:(BOOL)v { isGroupDeleteEnabled = v; }
- (BOOL)isAdressDeleteEnabled { return isAdressDeleteEnabled; }
- (void)setIsAdressDeleteEnabled:(BOOL)v { isAdressDeleteEnabled = v; }
- (BOOL)isGroupFirstResponder { return isGroupFirstResponder; }
- (void)setIsGroupFirstResponder:(BOOL)v { isGroupFirstResponder = v; }
- (BOOL)isAddressFirstResponder { return isAddressFirstResponder; }
- (void)setIsAddressFirstResponder:(BOOL)v { isAddressFirstResponder = v; }

- (void)observeGroup:(TrustedObjects *)g
{
    [g addObserver:self forKeyPath:@"trustedListName" options:kOldNew context:NULL];
    [g addObserver:self forKeyPath:@"isSelect" options:kOldNew context:NULL];
}

- (void)stopObservingGroup:(TrustedObjects *)g
{
    [g removeObserver:self forKeyPath:@"isSelect"];
    [g removeObserver:self forKeyPath:@"trustedListName"];
    NSArray *addresses = [g trustedLists];
    for (NSUInteger i = 0; i < [addresses count]; ++i)
        [[addresses objectAtIndex:i] removeObserver:self forKeyPath:@"ipAddress"];
}

- (void)observeAddress:(TrustedIPAddress *)a of:(TrustedObjects *)g
{
    [a addObserver:self forKeyPath:@"ipAddress" options:kOldNew context:[g trustedLists]];
}

- (void)refreshUI
{
    NSArray *rows = [NSArray arrayWithArray:[trustedArrayController arrangedObjects]];
    for (NSUInteger i = 0; i < [rows count]; ++i)
        [self stopObservingGroup:[rows objectAtIndex:i]];
    if ([rows count] > 0)
        [trustedArrayController removeObjects:rows];
    // GNUstep keeps a stale selection over removed rows.
    [trustedArrayController setSelectionIndexes:[NSIndexSet indexSet]];
    GetTrustedList();
    [self tableViewSelectionDidChange:nil];
}

- (void)addToTrustedList:(TrustedObjects *)group
{
    [trustedArrayController addObject:group];
}

- (IBAction)AddGroup:(id)sender
{
    TrustedObjects *g = [[[TrustedObjects alloc] init] autorelease];
    NSUInteger row = [[trustedArrayController arrangedObjects] count];
    [self addToTrustedList:g];
    [self observeGroup:g];
    // The new row alone, so that what is sent next is this group.
    [trustedArrayController setSelectionIndex:row];
    [self tableViewSelectionDidChange:nil];
    [trustedGroupsTableView editColumn:1 row:row withEvent:nil select:YES];
}

- (IBAction)DeleteGroup:(id)sender
{
    NSArray *selected = [NSArray arrayWithArray:[trustedArrayController selectedObjects]];
    NSMutableArray *names = [NSMutableArray array];
    for (NSUInteger i = 0; i < [selected count]; ++i)
        if ([[selected objectAtIndex:i] trustedListName] != nil)
            [names addObject:[[selected objectAtIndex:i] trustedListName]];
    if (sender != nil && [names count] > 0) {
        // Rows leave the table once the service let the groups go.
        int rc = DeleteTrustedList(names);
        if (rc != 0) {
            [[PreferenceRules sharedPreferenceRules] handleErrorCode:rc];
            [self refreshUI];
            return;
        }
    }
    for (NSUInteger i = 0; i < [selected count]; ++i)
        [self stopObservingGroup:[selected objectAtIndex:i]];
    [trustedArrayController removeObjects:selected];
    [trustedArrayController setSelectionIndexes:[NSIndexSet indexSet]];
    [self tableViewSelectionDidChange:nil];
}

- (IBAction)AddIPToGroup:(id)sender
{
    TrustedObjects *g = [[trustedArrayController selectedObjects] count] > 0
                            ? [[trustedArrayController selectedObjects] objectAtIndex:0]
                            : nil;
    if (g == nil || [g trustedLists] == nil)
        return;
    TrustedIPAddress *a = [[[TrustedIPAddress alloc] init] autorelease];
    [a setIpAddress:@""];
    [self observeAddress:a of:g];
    NSUInteger row = [[trustedDomainsArrayController arrangedObjects] count];
    [trustedDomainsArrayController addObject:a];
    [[g trustedLists] addObject:a];
    [trustedDomainsArrayController setSelectionIndex:row];
    [trustedIPAddressTableView editColumn:0 row:row withEvent:nil select:YES];
}

- (IBAction)DeleteIPFromGroup:(id)sender
{
    if (selectedTrustedObj == nil)
        return;
    NSArray *selected = [NSArray arrayWithArray:[trustedDomainsArrayController selectedObjects]];
    if ([selected count] == 0)
        return;
    for (NSUInteger i = 0; i < [selected count]; ++i) {
        id a = [selected objectAtIndex:i];
        if ([a isKindOfClass:[TrustedIPAddress class]])
            [a removeObserver:self forKeyPath:@"ipAddress"];
        [[selectedTrustedObj trustedLists] removeObject:a];
    }
    [trustedDomainsArrayController removeObjects:selected];
    int rc = ModifyTrustedList();
    if (rc != 0) {
        [[PreferenceRules sharedPreferenceRules] handleErrorCode:rc];
        [self refreshUI];
    }
}

- (IBAction)EditedIPAddress:(id)sender
{
    NSLog(@"IP address edited");
    NSBeep();
}

- (void)tableViewSelectionDidChange:(NSNotification *)note
{
    id from = [note object];
    if (note == nil || from == trustedGroupsTableView) {
        selectedTrustedObj = nil;
        NSArray *shown = [NSArray arrayWithArray:[trustedDomainsArrayController arrangedObjects]];
        if ([shown count] > 0)
            [trustedDomainsArrayController removeObjects:shown];
        NSArray *selected = [trustedArrayController selectedObjects];
        if ([selected count] > 0) {
            selectedTrustedObj = [selected objectAtIndex:0];
            [self setIsGroupDeleteEnabled:![selectedTrustedObj isReadOnly]];
            if ([[selectedTrustedObj trustedLists] count] > 0)
                [trustedDomainsArrayController addObjects:[selectedTrustedObj trustedLists]];
            [trustedDomainsArrayController setSelectionIndexes:[NSIndexSet indexSet]];
        } else {
            [self setIsGroupDeleteEnabled:NO];
        }
    } else if (from == trustedIPAddressTableView) {
        [self setIsAdressDeleteEnabled:[[trustedDomainsArrayController selectedObjects] count] > 0];
    }
}

- (BOOL)tableView:(NSTableView *)table shouldEditTableColumn:(NSTableColumn *)column row:(NSInteger)row
{
    if (table == trustedGroupsTableView) {
        NSArray *selected = [trustedArrayController selectedObjects];
        return [selected count] > 0 && ![[selected objectAtIndex:0] isReadOnly];
    }
    return YES;
}

- (void)ZRMTableViewResponderChanged:(NSTableView *)table
{
    if (![table isKindOfClass:[ZRMCustomTableView class]])
        return;
    BOOL first = [(ZRMCustomTableView *)table isTableFirstResponder];
    if (table == trustedGroupsTableView)
        [self setIsGroupFirstResponder:first];
    else if (table == trustedIPAddressTableView)
        [self setIsAddressFirstResponder:first];
}

/// The group whose address array is `addresses`.
- (TrustedObjects *)groupOwning:(void *)addresses
{
    NSArray *rows = [trustedArrayController arrangedObjects];
    for (NSUInteger i = 0; i < [rows count]; ++i)
        if ((void *)[[rows objectAtIndex:i] trustedLists] == addresses)
            return [rows objectAtIndex:i];
    return nil;
}

- (void)renamed:(TrustedObjects *)g from:(NSString *)old
{
    int rc = DeleteTrustedList([NSArray arrayWithObject:old]);
    if (rc != 0) {
        [[PreferenceRules sharedPreferenceRules] handleErrorCode:rc];
        [self refreshUI];
        return;
    }
    rc = FWPSetTrustedGroup(g, [g trustedListName]);
    if (rc == 0)
        return;
    // The group is gone under its old name: put it back, as it was.
    int restored = FWPSetTrustedGroup(g, old);
    [[PreferenceRules sharedPreferenceRules] handleErrorCode:rc];
    if (restored != 0) {
        [self refreshUI];
        return;
    }
    ++observingSuppressed;
    [g setTrustedListName:old];
    --observingSuppressed;
}

- (void)observeValueForKeyPath:(NSString *)keyPath
                      ofObject:(id)object
                        change:(NSDictionary *)change
                       context:(void *)context
{
    if (observingSuppressed > 0)
        return;
    if ([keyPath isEqualToString:@"isSelect"]) {
        if ([object trustedListName] == nil)
            return; // an unnamed group is not the service's yet
        if (EnableTrustedList(object) != 0) {
            [[PreferenceRules sharedPreferenceRules] handleErrorCode:-1];
            [self refreshUI];
        }
    } else if ([keyPath isEqualToString:@"trustedListName"]) {
        NSString *name = [object trustedListName];
        if (name == nil || [trimmed(name) length] == 0) {
            [self DeleteGroup:nil];
            return;
        }
        if ([object isNameSet] == 1) {
            int rc = FWPSetTrustedGroup(object, name);
            if (rc != 0) {
                [[PreferenceRules sharedPreferenceRules] handleErrorCode:rc];
                [self refreshUI];
            }
        } else if ([object isNameSet] == 2) {
            id old = [change objectForKey:NSKeyValueChangeOldKey];
            if ([old isKindOfClass:[NSString class]] && ![old isEqualToString:name])
                [self renamed:object from:old];
        }
    } else if ([keyPath isEqualToString:@"ipAddress"]) {
        TrustedObjects *g = [self groupOwning:context];
        if (g == nil)
            return;
        int rc = FWPModifyTrustedGroup(g);
        if (rc != 0) {
            [[PreferenceRules sharedPreferenceRules] handleErrorCode:rc];
            [self refreshUI];
        }
    }
}

@end

// ---- commands -----------------------------------------------------------------

int GetTrustedList(void)
{
    TrustedSources *c = [TrustedSources sharedTrustedSources];
    return FWPSend(FWP_GET_TRUSTED, nullptr, [&](HVO::CommandResult &r) {
        FWService::TrustedList list;
        r.getCustomData(list);
        if (list.getTrustedList().empty())
            NSLog(@"No elements has been added");
        for (auto &entry : list.getTrustedList()) {
            TrustedObjects *g = [[[TrustedObjects alloc] init] autorelease];
            [g setTrustedListName:[NSString stringWithwstring:entry.first]];
            [g setIsSelected:entry.second.isGroupEnable()];
            [g setIsReadOnly:entry.second.isReadOnly()];
            NSMutableArray *addresses = [NSMutableArray array];
            for (const std::wstring &a : entry.second.getMachineAddrAsWstring()) {
                TrustedIPAddress *row = [[[TrustedIPAddress alloc] init] autorelease];
                [row setIpAddress:[NSString stringWithwstring:a]];
                [addresses addObject:row];
            }
            [g setTrustedLists:addresses];
            for (NSUInteger i = 0; i < [addresses count]; ++i)
                [c observeAddress:[addresses objectAtIndex:i] of:g];
            [c addToTrustedList:g];
            [c observeGroup:g];
        }
    });
}

int FWPSetTrustedGroup(TrustedObjects *group, NSString *name)
{
    return FWPSend(FWP_SET_TRUSTED, [&](HVO::CommandData &cmd) {
        FWService::TrustedList list;
        FWService::TrustedGroupInfo info;
        info.isGroupEnable([group isSelect]);
        NSArray *addresses = [group trustedLists];
        for (NSUInteger i = 0; i < [addresses count]; ++i) {
            NSString *a = [[addresses objectAtIndex:i] ipAddress];
            if (a != nil && [a length] > 0)
                info.setMachineAddrAsWstring(FWPWideText(a, FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED));
        }
        list.getTrustedList()[FWPWideText(name, FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED)] = info;
        cmd.setCustomData(list);
    }, nullptr);
}

int FWPModifyTrustedGroup(TrustedObjects *group)
{
    return FWPSend(FWP_MODIFY_TRUSTED, [&](HVO::CommandData &cmd) {
        std::vector<std::wstring> list;
        NSArray *addresses = [group trustedLists];
        for (NSUInteger i = 0; i < [addresses count]; ++i) {
            NSString *a = trimmed([[addresses objectAtIndex:i] ipAddress]);
            if (a != nil && [a length] > 0)
                list.push_back(FWPWideText(a, FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED));
        }
        std::map<std::wstring, std::vector<std::wstring>> payload{
            {FWPWideText([group trustedListName], FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED), list}};
        cmd.setCustomData(payload);
    }, nullptr);
}

int SetTrustedList(void)
{
    TrustedObjects *g = [[TrustedSources sharedTrustedSources] selectedTrustedObj];
    return FWPSetTrustedGroup(g, [g trustedListName]);
}

int ModifyTrustedList(void)
{
    return FWPModifyTrustedGroup([[TrustedSources sharedTrustedSources] selectedTrustedObj]);
}

int EnableTrustedList(TrustedObjects *group)
{
    return FWPSend(FWP_ENABLE_TRUSTED, [&](HVO::CommandData &cmd) {
        std::map<std::wstring, bool> payload{
            {FWPWideText([group trustedListName], FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED), [group isSelect] ? true : false}};
        cmd.setCustomData(payload);
    }, nullptr);
}
