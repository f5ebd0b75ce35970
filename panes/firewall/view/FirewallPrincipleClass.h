// The pane's principal class: what the suite's host asks of the pane.
#import <AppKit/AppKit.h>

#include <map>
#include <string>

class AboutBoxData;

@interface FirewallPrincipleClass : NSObject {
    NSView *mPreferencesView;
}
- (NSView *)viewForStringIdentifier:(NSString *)identifier;
- (void)setPrefereceEnabled:(BOOL)enabled;
- (NSString *)getLocalisedString:(NSString *)key;
- (NSString *)localisedStringForAboutBox:(NSString *)key;
- (NSString *)localisedStringforDashBoard:(NSString *)key;
- (NSString *)hvkNameDisplayString;
- (NSArray *)arrayForAboutBox:(AboutBoxData *)data;
- (void)addToAbouBoxArray:(NSMutableArray *)lines
                  fromMap:(const std::map<std::wstring, std::wstring> &)map
                      key:(const std::wstring &)key;
- (NSNumber *)SetStatusForGeneralPreferenceWithIdentifier:(NSString *)identifier value:(BOOL)value;
- (NSNumber *)statusForGeneralPreferenceWithIdentifier:(NSString *)identifier;
- (void)loadPreferencenib;
- (void)tabView:(NSTabView *)tabView willSelectTabViewItem:(NSTabViewItem *)item;
@end
