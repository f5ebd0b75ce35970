// The icon-and-text cell and the hex colours with NSApp on a virtual
// display.
#import <AppKit/AppKit.h>

#import "AppProPrefsController.h"
#import "ImageTextCell.h"
#import "NSColor+HexRGB.h"
#import "AppProRule.h"
#import "PaneTestSupport.h"

#include <gtest/gtest.h>

using panetest::utf8;

@interface CellRow : NSObject
- (NSString *)title;
- (NSString *)picture;
@end
@implementation CellRow
- (NSString *)title { return @"from key path"; }
- (NSString *)picture { return @"icon from key path"; }
@end

@interface CellDelegate : NSObject
@end
@implementation CellDelegate
- (NSString *)displayTextForCell:(id)cell data:(id)data
{
    (void)cell;
    (void)data;
    return @"from delegate";
}
- (id)iconForCell:(id)cell data:(id)data
{
    (void)cell;
    (void)data;
    return @"icon from delegate";
}
@end

namespace {

class View : public ::testing::Test {
protected:
    static void SetUpTestSuite() { [NSApplication sharedApplication]; }
    void SetUp() override
    {
        pool = [NSAutoreleasePool new];
        [[AppProPrefsController alloc] init];
    }
    void TearDown() override { [pool release]; }
    NSAutoreleasePool *pool;
    panetest::ToolkitScope toolkit;
};

bool sameColour(NSColor *a, NSColor *b)
{
    NSColor *x = [a colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    NSColor *y = [b colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    return x != nil && y != nil && fabs([x redComponent] - [y redComponent]) < 0.01 &&
           fabs([x greenComponent] - [y greenComponent]) < 0.01 && fabs([x blueComponent] - [y blueComponent]) < 0.01;
}

} // namespace

TEST_F(View, HexColour)
{
    NSColor *c = [[NSColor colorFromHexRGB:@"3399cc"] colorUsingColorSpaceName:NSDeviceRGBColorSpace];
    ASSERT_TRUE(c != nil);
    EXPECT_EQ(0x33, (int)lround([c redComponent] * 255));
    EXPECT_EQ(0x99, (int)lround([c greenComponent] * 255));
    EXPECT_EQ(0xcc, (int)lround([c blueComponent] * 255));
    EXPECT_TRUE([NSColor colorFromHexRGB:@"33x9cc"] == nil);
}

TEST_F(View, CellAnswersFromDelegateOverKeyPaths)
{
    ImageTextCell *cell = [[[ImageTextCell alloc] init] autorelease];
    CellRow *row = [[[CellRow alloc] init] autorelease];
    // No delegate, no key paths: nothing to draw.
    EXPECT_TRUE([cell dataDelegate] == cell);
    EXPECT_TRUE([[cell dataDelegate] displayTextForCell:cell data:row] == nil);
    EXPECT_TRUE([[cell dataDelegate] iconForCell:cell data:row] == nil);
    [cell setDisplayTextKeyPath:@"title"];
    [cell setIconKeyPath:@"picture"];
    EXPECT_EQ("from key path", utf8([[cell dataDelegate] displayTextForCell:cell data:row]));
    CellDelegate *d = [[[CellDelegate alloc] init] autorelease];
    [cell setDataDelegate:d];
    EXPECT_EQ("from delegate", utf8([[cell dataDelegate] displayTextForCell:cell data:row]));
    EXPECT_EQ("icon from delegate", utf8([[cell dataDelegate] iconForCell:cell data:row]));
    ImageTextCell *copy = [[cell copy] autorelease];
    EXPECT_TRUE([copy dataDelegate] == d);
}

TEST_F(View, LockedTextIsGrayAlsoHighlighted)
{
    ImageTextCell *cell = [[[ImageTextCell alloc] init] autorelease];
    AppProPrefsController *c = [AppProPrefsController sharedAppProPrefsController];
    struct Case {
        BOOL unlocked, highlighted;
        NSColor *want;
    } cases[] = {
        {NO, NO, [NSColor grayColor]},
        {NO, YES, [NSColor grayColor]},
        {YES, NO, [NSColor controlTextColor]},
        {YES, YES, [NSColor selectedControlTextColor]},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << k.unlocked << k.highlighted);
        [c setIsPreferenceEnabled:k.unlocked];
        [cell setHighlighted:k.highlighted];
        EXPECT_TRUE(sameColour(k.want, [cell textColourForData:nil]));
    }
}

// A cell drawn into an image: icon and text land where the geometry says.
TEST_F(View, CellDrawsIconAndText)
{
    AppProPrefsController *c = [AppProPrefsController sharedAppProPrefsController];
    [c setIsPreferenceEnabled:YES];
    NSImage *icon = [[[NSImage alloc] initWithSize:NSMakeSize(32, 32)] autorelease];
    [icon lockFocus];
    [[NSColor redColor] set];
    NSRectFill(NSMakeRect(0, 0, 32, 32));
    [icon unlockFocus];
    AppProRule *row = [[[AppProRule alloc] init] autorelease];
    [row setApplicationName:@"Mail"];
    [row setApplicationIcon:icon];
    ImageTextCell *cell = [[[ImageTextCell alloc] init] autorelease];
    [cell setDataDelegate:c];
    [cell setObjectValue:row];

    NSImage *canvas = [[[NSImage alloc] initWithSize:NSMakeSize(200, 20)] autorelease];
    [canvas lockFocus];
    [[NSColor whiteColor] set];
    NSRectFill(NSMakeRect(0, 0, 200, 20));
    [cell drawWithFrame:NSMakeRect(0, 0, 200, 20) inView:nil];
    NSBitmapImageRep *rep = [[[NSBitmapImageRep alloc] initWithFocusedViewRect:NSMakeRect(0, 0, 200, 20)] autorelease];
    [canvas unlockFocus];
    ASSERT_TRUE(rep != nil);
    // Bitmap rows run top down; the icon is the square (5, 3, 14, 14).
    NSColor *inIcon = [[rep colorAtX:11 y:9] colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    EXPECT_GT([inIcon redComponent], 0.8);
    EXPECT_LT([inIcon greenComponent], 0.2);
    NSColor *left = [[rep colorAtX:2 y:9] colorUsingColorSpaceName:NSCalibratedRGBColorSpace];
    EXPECT_GT([left greenComponent], 0.8);
    // Some dark text pixels right of x = 30, none between icon and text.
    int dark = 0;
    for (int x = 30; x < 120; x++)
        for (int y = 0; y < 20; y++)
            dark += [[[rep colorAtX:x y:y] colorUsingColorSpaceName:NSCalibratedRGBColorSpace] redComponent] < 0.5;
    EXPECT_GT(dark, 5);
}
