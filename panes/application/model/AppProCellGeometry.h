// Where the icon-and-text cell draws and in which colour: pure functions,
// so that they are tested without a display.
#import <Foundation/Foundation.h>

struct AppProCellRect {
    double x, y, w, h;
};

/// The icon's square for a cell frame: (x + 5, y + 3), side h - 6.
AppProCellRect AppProCellIconRect(AppProCellRect frame);
/// The text's rectangle for a cell frame and the text's own height t:
/// (x + h + 10, y + (h - t) / 2), width w - 10 - h, height h.
AppProCellRect AppProCellTextRect(AppProCellRect frame, double textHeight);

enum AppProCellColour {
    AppProCellColourGray,     ///< the pane is locked
    AppProCellColourSelected, ///< the toolkit's selected-control text colour
    AppProCellColourDisabled, ///< the toolkit's disabled-control text colour
    AppProCellColourNormal,   ///< the toolkit's control text colour
};
AppProCellColour AppProCellColourFor(bool unlocked, bool highlighted, bool disabled);

/// `text` shortened in the middle with "..." to at most `maxChars`
/// characters, keeping its beginning and end.
NSString *AppProTruncateMiddle(NSString *text, NSUInteger maxChars);
