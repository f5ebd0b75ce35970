#import "AppProCellGeometry.h"

AppProCellRect AppProCellIconRect(AppProCellRect f)
{
    return AppProCellRect{f.x + 5, f.y + 3, f.h - 6, f.h - 6};
}

AppProCellRect AppProCellTextRect(AppProCellRect f, double t)
{
    return AppProCellRect{f.x + f.h + 10, f.y + (f.h - t) / 2, f.w - 10 - f.h, f.h};
}

AppProCellColour AppProCellColourFor(bool unlocked, bool highlighted, bool disabled)
{
    if (!unlocked)
        return AppProCellColourGray;
    if (highlighted)
        return AppProCellColourSelected;
    if (disabled)
        return AppProCellColourDisabled;
    return AppProCellColourNormal;
}

NSString *AppProTruncateMiddle(NSString *text, NSUInteger maxChars)
{
    if (text == nil || [text length] <= maxChars)
        return text;
    if (maxChars <= 3)
        return [@"..." substringToIndex:maxChars];
    NSUInteger keep = maxChars - 3;
    NSUInteger head = (keep + 1) / 2;
    NSUInteger tail = keep - head;
    return [NSString stringWithFormat:@"%@...%@", [text substringToIndex:head],
                                      [text substringFromIndex:[text length] - tail]];
}
