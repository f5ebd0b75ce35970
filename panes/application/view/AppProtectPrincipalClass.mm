#import "AppProtectPrincipalClass.h"
#import "AppProAlert.h"
#import "AppProAlertNotificationView.h"
#import "AppProAppKitPorts.h"
#import "AppProCatch.h"
#import "AppProExclusionController.h"
#import "AppProGlue.h"
#import "AppProNotifier.h"
#import "AppProPanelPorts.h"
#import "AppProPorts.h"
#import "AppProPrefsController.h"
#import "AppProPrefsView.h"
#import "AppProStrings.h"
#import "NSColor+HexRGB.h"
#import "NSString+wstring.h"
#import "UIRecentEventsData.h"

#include "ReportRecords.h"

/// The builders the nibs name, each built once (and again while it failed).
static AppProAlertNotificationView *alertNib = nil;

/// Nib loading: the bundle must hold the nib; its builder then sets the
/// outlets. An exception while building (no display) leaves them nil.
template <class F> static BOOL loadNib(NSString *name, F build)
{
    NSString *path = [AppProResourceBundle() pathForResource:name ofType:@"nib"];
    if (path == nil)
        return NO;
    NSString *reason = nil;
    if (!AppProCatching(build, &reason)) {
        AppProTraceLine("AppProtectPrincipalClass::loadNib", [reason UTF8String]);
        return NO;
    }
    return YES;
}

@implementation AppProtectPrincipalClass
- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    AppProInstallAppKitPorts();
    AppProSetTitleAttributes(AppProAppKitTitleAttributes);
    // Fonts need a display; without one the styles stay empty.
    AppProtectPrincipalClass *me = self;
    AppProCatching([&] { [me buildTextStyles]; });
    return self;
}

- (void)buildTextStyles
{
    strHeadingfonts = [[NSFont fontWithName:@"Lucida Grande" size:12.0] retain];
    NSMutableDictionary *heading = [NSMutableDictionary dictionary];
    if (strHeadingfonts != nil)
        [heading setObject:strHeadingfonts forKey:NSFontAttributeName];
    NSColor *blue = [NSColor colorFromHexRGB:@"3399cc"];
    if (blue != nil)
        [heading setObject:blue forKey:NSForegroundColorAttributeName];
    headingattrs = [heading copy];
    textFonts = [[NSFont fontWithName:@"Lucida Grande" size:11.0] retain];
    contentsattrs = textFonts != nil ? [[NSDictionary alloc] initWithObjectsAndKeys:textFonts, NSFontAttributeName, nil]
                                     : [[NSDictionary alloc] init];
}

- (void)dealloc
{
    [preferenceView release];
    [alertView release];
    [notificationView release];
    [headingattrs release];
    [contentsattrs release];
    [textFonts release];
    [strHeadingfonts release];
    [super dealloc];
}

- (void)setPreferenceView:(NSView *)view
{
    [view retain];
    [preferenceView release];
    preferenceView = view;
}

- (void)setAlertView:(NSView *)view
{
    [view retain];
    [alertView release];
    alertView = view;
}

- (void)setNotificationView:(NSView *)view
{
    [view retain];
    [notificationView release];
    notificationView = view;
}

- (void)loadPreferencenib
{
    loadNib(@"AppProPrefs", [&] { [self setPreferenceView:[[AppProPrefsView sharedView] preferenceView]]; });
}

- (BOOL)loadAlertNib
{
    return loadNib(@"AlertNotification", [&] {
        if (alertNib == nil)
            alertNib = [[AppProAlertNotificationView alloc] init];
        [self setAlertView:[alertNib alertView]];
        [self setNotificationView:[alertNib notificationView]];
    });
}

- (NSView *)viewForStringIdentifier:(NSString *)identifier
{
    NSView *view = nil;
    if ([identifier isEqualToString:@"AppProtection_View"]) {
        if (preferenceView == nil)
            [self loadPreferencenib];
        view = preferenceView;
    }
    [[AppProPrefsController sharedAppProPrefsController] refreshRules];
    [[AppProExclusionController sharedAppProExclusionController] refreshExclusions];
    return view;
}

- (void)setPrefereceEnabled:(BOOL)enabled
{
    [[AppProPrefsController sharedAppProPrefsController] setIsPreferenceEnabled:enabled];
}

/// The text of `key` in `table`; nil when the lookup raised.
static NSString *lookup(NSString *key, NSString *table)
{
    NSString *text = nil;
    if (!AppProCatching([&] { text = AppProLocalized(key, table); }))
        return nil;
    return text;
}

- (NSString *)getLocalisedString:(NSString *)key
{
    NSString *text = lookup(key, @"AppProtection");
    return text != nil ? text : key;
}

- (NSString *)localisedStringForReports:(NSString *)key { return lookup(key, @"AppProtection"); }
- (NSString *)localisedStringForRecentEvents:(NSString *)key { return lookup(key, @"RecentEvent"); }
- (NSString *)localisedStringForAboutBox:(NSString *)key { return lookup(key, @"AppProtection"); }
- (NSString *)localisedStringforDashBoard:(NSString *)key { return lookup(key, @"AppProtection"); }
- (NSString *)hvkNameDisplayString { return [self getLocalisedString:@"ProductName"]; }

- (NSString *)applicationNameFromAbsPath:(NSString *)path { return [AppProPathInfoPort() displayNameAtPath:path]; }

- (void)addToAbouBoxArray:(NSMutableArray *)array
                  fromMap:(std::map<std::wstring, std::wstring>)map
                      key:(const std::wstring &)key
{
    auto it = map.find(key);
    if (it == map.end())
        return;
    NSString *name = [self localisedStringForAboutBox:[NSString stringWithwstring:it->first]];
    NSString *value = [self localisedStringForAboutBox:[NSString stringWithwstring:it->second]];
    [array addObject:[NSString stringWithFormat:@"%@: %@", name, value]];
}

- (NSMutableArray *)arrayForAboutBox:(AboutBoxData *)data
{
    NSMutableArray *lines = [NSMutableArray array];
    if (data == nullptr)
        return lines;
    std::map<std::wstring, std::wstring> map = data->getAboutBoxDisplayContents();
    for (const wchar_t *key :
         {L"Application_Protection_Version", L"Application_Protection_SPVersion", L"Application_Protection_HF"})
        [self addToAbouBoxArray:lines fromMap:map key:key];
    return lines;
}

- (id)recentRow:(DetailReportData *)data header:(NSString *)header pathKey:(const wchar_t *)pathKey
{
    UIRecentEventsData *row = [[UIRecentEventsData alloc] init];
    [row setHeaderString:[[[self localisedStringForRecentEvents:header] copy] autorelease]];
    [row setTimeOfEvent:data->getTime()];
    std::map<std::wstring, std::wstring> headerMap = data->getHeader();
    auto it = headerMap.find(pathKey);
    if (it != headerMap.end()) {
        NSString *path = [NSString stringWithwstring:it->second];
        NSString *name = [self localisedStringForRecentEvents:@"name"];
        NSString *display = [self applicationNameFromAbsPath:path];
        [row setSubjectString:[NSString stringWithFormat:@"%@%@", name != nil ? name : @"",
                                                         display != nil ? display : @""]];
    }
    return row;
}

- (id)appRecentString:(DetailReportData *)data
{
    return [self recentRow:data header:@"application is blocked from execution" pathKey:L"RE_ApplicationPath"];
}

- (id)netRecentString:(DetailReportData *)data
{
    return [self recentRow:data header:@"application is blocked from network connection" pathKey:L"RE_NetworkPath"];
}

- (id)dataForRecentEvents:(DetailReportData *)data
{
    if (data == nullptr)
        return nil;
    std::wstring title = data->getTitle();
    if (title == L"RE_ApplicationAccess")
        return [self appRecentString:data];
    if (title == L"RE_NetworkAccess")
        return [self netRecentString:data];
    return nil;
}

- (NSNumber *)SetStatusForGeneralPreferenceWithIdentifier:(NSString *)identifier value:(BOOL)value
{
    (void)identifier;
    return [NSNumber numberWithInt:SetAppProGeneralPrefsStatus(value == 1)];
}

- (NSNumber *)statusForGeneralPreferenceWithIdentifier:(NSString *)identifier
{
    (void)identifier;
    return [NSNumber numberWithBool:GetAppProGeneralPrefsStatus() ? YES : NO];
}

- (void)addAlertFromHvo:(HVO::CommandData *)command
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    [[AppProAlert sharedAppProAlert] addAlertFromHvo:command];
    [pool release];
}

- (void)addNotificationFromHvo:(HVO::CommandData *)command
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    [[AppProNotifier sharedAppProNotifier] addNotificationFromHvo:command];
    [pool release];
}

- (void)setAlerter:(id)alerter { [[AppProAlert sharedAppProAlert] setAlerter:alerter]; }
- (void)setNotifier:(id)notifier { [[AppProNotifier sharedAppProNotifier] setNotifier:notifier]; }

- (NSView *)viewForAlert:(NSString *)identifier
{
    if (alertView == nil)
        [self loadAlertNib];
    [[AppProAlert sharedAppProAlert] setViewForidentifier:identifier];
    return alertView;
}

- (NSView *)viewForNotification:(NSString *)identifier
{
    if (notificationView == nil)
        [self loadAlertNib];
    [[AppProNotifier sharedAppProNotifier] setViewForidentifier:identifier];
    return notificationView;
}
@end
