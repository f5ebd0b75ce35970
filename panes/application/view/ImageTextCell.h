// The table cell that draws an icon followed by a text, greyed while the
// pane is locked.
#import <AppKit/AppKit.h>

@interface ImageTextCell : NSTextFieldCell {
    id delegate;
    NSString *iconKeyPath;
    NSString *displayTextKeyPath;
}
- (id)dataDelegate;
- (void)setDataDelegate:(id)value;
- (void)setIconKeyPath:(NSString *)path;
- (void)setDisplayTextKeyPath:(NSString *)path;
- (NSString *)displayTextForCell:(id)cell data:(id)data;
- (id)iconForCell:(id)cell data:(id)data;
/// The colour the text is drawn in for a row.
- (NSColor *)textColourForData:(id)data;
@end

/// Fonts and the tick-mark tool tip the view's controls use.
@interface AppProFonts : NSObject {
    NSFont *prefsButtonFont;
    NSFont *prefsArrowButtonFont;
    NSFont *tablePopDownContentFont;
    NSFont *descriptionFont;
    NSFont *tickMarkFont;
    NSString *tickMarkToolTip;
}
- (NSString *)retriveLocalisedString:(NSString *)key;
@end
