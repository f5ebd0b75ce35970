// The bundle's principal class: the one object through which the host
// drives the pane (views, texts, about box, recent events, protection
// switch, alerts and notifications).
#import <AppKit/AppKit.h>

#import "ZRMUIAlerting.h"

#include <map>
#include <string>

@class AppProAlert;
class AboutBoxData;
class DetailReportData;

@interface AppProtectPrincipalClass : NSObject <ZRMUIBundleAlertingProtocol, ZRMUIBundleNotificationProtocol> {
    NSView *preferenceView;
    NSMutableAttributedString *eventStr;
    AppProAlert *sharedAppProAlertContr;
    NSDictionary *headingattrs;
    NSDictionary *contentsattrs;
    NSFont *textFonts;
    NSFont *strHeadingfonts;
    NSView *alertView;
    NSView *notificationView;
}
- (NSView *)viewForStringIdentifier:(NSString *)identifier;
- (void)setPrefereceEnabled:(BOOL)enabled;
- (NSString *)getLocalisedString:(NSString *)key;
- (NSString *)localisedStringForReports:(NSString *)key;
- (NSString *)localisedStringForRecentEvents:(NSString *)key;
- (NSString *)localisedStringForAboutBox:(NSString *)key;
- (NSString *)localisedStringforDashBoard:(NSString *)key;
- (NSString *)hvkNameDisplayString;
/// Autoreleased: the caller's pool frees it.
- (NSMutableArray *)arrayForAboutBox:(AboutBoxData *)data;
/// Owned by the caller; nil for a title the pane does not show.
- (id)dataForRecentEvents:(DetailReportData *)data;
- (NSNumber *)SetStatusForGeneralPreferenceWithIdentifier:(NSString *)identifier value:(BOOL)value;
- (NSNumber *)statusForGeneralPreferenceWithIdentifier:(NSString *)identifier;

/// The heading and contents fonts and attributes (needs a display).
- (void)buildTextStyles;
- (void)loadPreferencenib;
- (BOOL)loadAlertNib;
- (NSString *)applicationNameFromAbsPath:(NSString *)path;
- (void)addToAbouBoxArray:(NSMutableArray *)array
                  fromMap:(std::map<std::wstring, std::wstring>)map
                      key:(const std::wstring &)key;
- (id)appRecentString:(DetailReportData *)data;
- (id)netRecentString:(DetailReportData *)data;
/// Set by the nibs.
- (void)setPreferenceView:(NSView *)view;
- (void)setAlertView:(NSView *)view;
- (void)setNotificationView:(NSView *)view;
@end
