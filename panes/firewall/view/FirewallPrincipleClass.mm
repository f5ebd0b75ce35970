#import "FirewallPrincipleClass.h"
#import "FWPPrefsView.h"
#import "FWPSend.h"
#import "FWPTrampoline.h"
#import "FirewallPreferencesStrings.h"
#import "NSString+wstring.h"
#import "PreferenceRules.h"
#import "TrustedSources.h"

#include "ReportRecords.h"

namespace {

struct Lookup {
    NSString *key;
    NSString *text;
};

void lookUp(void *context)
{
    Lookup *l = static_cast<Lookup *>(context);
    l->text = FWPLocalized(l->key, @"Firewall");
}

/// The key's text in "Firewall"; nil after the log line of what was raised.
NSString *localised(NSString *key, NSString *nsLine, NSString *genericLine)
{
    Lookup l = {key, nil};
    try {
        if (FWPRunCatchingNSException(lookUp, &l) == 0)
            return l.text;
        NSLog(@"%@", nsLine);
    } catch (...) {
        NSLog(@"%@", genericLine);
    }
    return nil;
}

} // namespace

@implementation FirewallPrincipleClass

- (NSView *)viewForStringIdentifier:(NSString *)identifier
{
    if (![identifier isEqualToString:@"FWPreferene_view"])
        return nil;
    if (mPreferencesView == nil)
        [self loadPreferencenib];
    [[PreferenceRules sharedPreferenceRules] refreshUI];
    [[TrustedSources sharedTrustedSources] refreshUI];
    return mPreferencesView;
}

- (void)setPrefereceEnabled:(BOOL)enabled
{
    [[PreferenceRules sharedPreferenceRules] setIsPreferenceEnabled:enabled];
}

- (NSString *)getLocalisedString:(NSString *)key
{
    NSString *text = localised(key, @"", @"");
    return text != nil ? text : key;
}

- (NSString *)localisedStringForAboutBox:(NSString *)key
{
    return localised(key, @"Firewall : nsexception exception occured in localised String for aboutBox",
                     @"Firewall : genericexp occured in localised String for abouBox");
}

- (NSString *)localisedStringforDashBoard:(NSString *)key
{
    return localised(key, @"Firewall : nsexception exception occured in localised String for DashBoard",
                     @"Firewall : genericexp occured in localised String for DashBoard");
}

- (NSString *)hvkNameDisplayString
{
    return [self getLocalisedString:@"ProductName"];
}

- (void)addToAbouBoxArray:(NSMutableArray *)lines
                  fromMap:(const std::map<std::wstring, std::wstring> &)map
                      key:(const std::wstring &)key
{
    auto it = map.find(key);
    if (it == map.end())
        return;
    NSString *k = [self localisedStringForAboutBox:[NSString stringWithwstring:it->first]];
    NSString *v = [self localisedStringForAboutBox:[NSString stringWithwstring:it->second]];
    [lines addObject:[NSString stringWithFormat:@"%@: %@", k, v]];
}

- (NSArray *)arrayForAboutBox:(AboutBoxData *)data
{
    NSMutableArray *lines = [[NSMutableArray alloc] init];
    if (data != nullptr) {
        const std::map<std::wstring, std::wstring> map = data->getAboutBoxDisplayContents();
        for (const wchar_t *key : {L"FirewallVersionAndBuildNo", L"Firewall_SPVersion", L"Firewall_HF"})
            [self addToAbouBoxArray:lines fromMap:map key:key];
    }
    return [lines autorelease];
}

- (NSNumber *)SetStatusForGeneralPreferenceWithIdentifier:(NSString *)identifier value:(BOOL)value
{
    (void)identifier;
    return [NSNumber numberWithInt:SetStatusForGeneralPreference(value ? 1 : 0)];
}

- (NSNumber *)statusForGeneralPreferenceWithIdentifier:(NSString *)identifier
{
    (void)identifier;
    return [NSNumber numberWithInt:GetStatusForGeneralPreferences()];
}

- (void)loadPreferencenib
{
    // The view is built in code; the tab controllers are the shared ones.
    try {
        mPreferencesView = [FWPBuildPreferencesView(self) retain];
        if (mPreferencesView == nil)
            NSLog(@"FireWall : could not load NIB avprefs!");
    } catch (...) {
        NSLog(@"FireWall : genericexp occured in loadPreferencenib");
    }
}

- (void)tabView:(NSTabView *)tabView willSelectTabViewItem:(NSTabViewItem *)item
{
    (void)tabView;
    (void)item;
    [[PreferenceRules sharedPreferenceRules] refreshUI];
    [[TrustedSources sharedTrustedSources] refreshUI];
}

@end
