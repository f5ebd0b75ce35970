#import "ImageTextCell.h"
#import "AppProCellGeometry.h"
#import "AppProPrefsController.h"
#import "AppProStrings.h"

@interface NSObject (ImageTextCellDelegate)
- (id)dataElementForCell:(id)cell;
- (BOOL)disabledForCell:(id)cell data:(id)data;
@end

@implementation ImageTextCell
- (void)dealloc
{
    [self setDataDelegate:nil];
    [self setIconKeyPath:nil];
    [self setDisplayTextKeyPath:nil];
    [super dealloc];
}

- (id)copyWithZone:(NSZone *)zone
{
    ImageTextCell *copy = [super copyWithZone:zone];
    // The platform copied the pointers; the copy takes its own references.
    copy->delegate = nil;
    copy->iconKeyPath = nil;
    copy->displayTextKeyPath = nil;
    [copy setIconKeyPath:iconKeyPath];
    [copy setDisplayTextKeyPath:displayTextKeyPath];
    [copy setDataDelegate:delegate];
    return copy;
}

- (id)dataDelegate { return delegate != nil ? delegate : (id)self; }
- (void)setDataDelegate:(id)value
{
    [value retain];
    [delegate release];
    delegate = value;
}
- (void)setIconKeyPath:(NSString *)path
{
    [path retain];
    [iconKeyPath release];
    iconKeyPath = path;
}
- (void)setDisplayTextKeyPath:(NSString *)path
{
    [path retain];
    [displayTextKeyPath release];
    displayTextKeyPath = path;
}

- (NSString *)displayTextForCell:(id)cell data:(id)data
{
    (void)cell;
    return displayTextKeyPath != nil ? [data valueForKeyPath:displayTextKeyPath] : nil;
}

- (id)iconForCell:(id)cell data:(id)data
{
    (void)cell;
    return iconKeyPath != nil ? [data valueForKeyPath:iconKeyPath] : nil;
}

- (id)rowObject
{
    id d = [self dataDelegate];
    if ([d respondsToSelector:@selector(dataElementForCell:)])
        return [d dataElementForCell:self];
    return [self objectValue];
}

- (NSColor *)textColourForData:(id)data
{
    id d = [self dataDelegate];
    BOOL disabled = [d respondsToSelector:@selector(disabledForCell:data:)] ? [d disabledForCell:self data:data] : NO;
    BOOL unlocked = [[AppProPrefsController sharedAppProPrefsController] isPreferenceEnabled];
    switch (AppProCellColourFor(unlocked, [self isHighlighted], disabled)) {
    case AppProCellColourGray: return [NSColor grayColor];
    case AppProCellColourSelected: return [NSColor selectedControlTextColor];
    case AppProCellColourDisabled: return [NSColor disabledControlTextColor];
    case AppProCellColourNormal: return [NSColor controlTextColor];
    }
    return [NSColor controlTextColor];
}

- (void)drawWithFrame:(NSRect)frame inView:(NSView *)view
{
    [self setTextColor:[NSColor blackColor]];
    id data = [self rowObject];
    NSColor *colour = [self textColourForData:data];
    id d = [self dataDelegate];
    AppProCellRect f{frame.origin.x, frame.origin.y, frame.size.width, frame.size.height};

    NSString *text = [d displayTextForCell:self data:data];
    if (text != nil) {
        NSFont *font = [NSFont systemFontOfSize:11];
        NSMutableParagraphStyle *style = [[[NSMutableParagraphStyle alloc] init] autorelease];
        [style setLineBreakMode:NSLineBreakByTruncatingMiddle];
        [style setAlignment:[self alignment]];
        NSDictionary *attrs = [NSDictionary dictionaryWithObjectsAndKeys:font, NSFontAttributeName, colour,
                                                                         NSForegroundColorAttributeName, style,
                                                                         NSParagraphStyleAttributeName, nil];
        AppProCellRect r = AppProCellTextRect(f, [font defaultLineHeightForFont]);
        // GNUstep draws without middle truncation: shorten the text itself.
        NSString *shown = text;
        double width = [shown sizeWithAttributes:attrs].width;
        if (width > r.w && [shown length] > 4) {
            NSUInteger chars = (NSUInteger)([shown length] * (r.w / width));
            while (chars > 4 && [AppProTruncateMiddle(text, chars) sizeWithAttributes:attrs].width > r.w)
                chars--;
            shown = AppProTruncateMiddle(text, chars);
        }
        [shown drawInRect:NSMakeRect(r.x, r.y, r.w, r.h) withAttributes:attrs];
    }

    id icon = [d iconForCell:self data:data];
    if (icon != nil) {
        [NSGraphicsContext saveGraphicsState];
        double y = f.y;
        if ([view isFlipped]) {
            NSAffineTransform *t = [NSAffineTransform transform];
            [t translateXBy:0 yBy:f.h];
            [t scaleXBy:1 yBy:-1];
            [t concat];
            y = -f.y;
        }
        AppProCellRect ir = AppProCellIconRect(AppProCellRect{f.x, y, f.w, f.h});
        NSGraphicsContext *ctx = [NSGraphicsContext currentContext];
        NSImageInterpolation old = [ctx imageInterpolation];
        [ctx setImageInterpolation:NSImageInterpolationHigh];
        [icon drawInRect:NSMakeRect(ir.x, ir.y, ir.w, ir.h) fromRect:NSZeroRect operation:NSCompositeSourceOver
                fraction:1.0];
        [ctx setImageInterpolation:old];
        [NSGraphicsContext restoreGraphicsState];
    }
}
@end

@implementation AppProFonts
- (id)init
{
    self = [super init];
    if (self != nil) {
        prefsButtonFont = [[NSFont fontWithName:@"Symbol" size:17.0] retain];
        prefsArrowButtonFont = [[NSFont fontWithName:@"Symbol" size:14.0] retain];
        tablePopDownContentFont = [[NSFont fontWithName:@"Lucida Grande" size:11.0] retain];
        descriptionFont = [[NSFont fontWithName:@"Lucida Grande" size:11.0] retain];
        tickMarkFont = [[NSFont fontWithName:@"Symbol" size:14.0] retain];
        tickMarkToolTip = [[self retriveLocalisedString:@"tickMarkToolTip"] copy];
    }
    return self;
}

- (void)dealloc
{
    [prefsButtonFont release];
    [prefsArrowButtonFont release];
    [tablePopDownContentFont release];
    [descriptionFont release];
    [tickMarkFont release];
    [tickMarkToolTip release];
    [super dealloc];
}

- (NSString *)retriveLocalisedString:(NSString *)key { return AppProLocalized(key, @"AppProtection"); }
@end
