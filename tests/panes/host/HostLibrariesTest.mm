// The host libraries without a display: recent-event rows, the hex colour
// parser, the length-limiting formatter and the replaceable authorisation.
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>

#import "AuthorizeUser.h"
#import "NSColor+HexRGB.h"
#import "UIRecentEventsData.h"
#import "ZRMStringFormatter.h"

TEST(HostLibraries, RecentEventRowKeepsCopies)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    NSMutableString *header = [NSMutableString stringWithString:@"blocked"];
    UIRecentEventsData *row = [[UIRecentEventsData alloc] init];
    [row setHeaderString:header];
    [row setTimeOfEvent:1234567];
    [row setSubjectString:@"name: Mail"];
    [header appendString:@" later"];
    EXPECT_STREQ("blocked", [[row headerString] UTF8String]);
    EXPECT_EQ(1234567, [row timeOfEvent]);
    EXPECT_STREQ("name: Mail", [[row subjectString] UTF8String]);
    [row release];
    [pool release];
}

TEST(HostLibraries, HexColourTexts)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    struct Case {
        NSString *text;
        BOOL ok;
        unsigned r, g, b;
    } cases[] = {
        {@"3399cc", YES, 0x33, 0x99, 0xcc},
        {@"3399CC", YES, 0x33, 0x99, 0xcc},
        {@"000000", YES, 0, 0, 0},
        {@"ffffff", YES, 255, 255, 255},
        {@"3399c", NO, 0, 0, 0},
        {@"#3399cc", NO, 0, 0, 0},
        {@"3399cg", NO, 0, 0, 0},
        {@"", NO, 0, 0, 0},
        {nil, NO, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text ? [c.text UTF8String] : "nil");
        unsigned r = 0, g = 0, b = 0;
        EXPECT_EQ(c.ok, ZRMParseHexRGB(c.text, &r, &g, &b));
        if (c.ok) {
            EXPECT_EQ(c.r, r);
            EXPECT_EQ(c.g, g);
            EXPECT_EQ(c.b, b);
        }
    }
    [pool release];
}

TEST(HostLibraries, StringFormatterKeepsLimit)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    ZRMStringFormatter *f = [[ZRMStringFormatter alloc] init];
    [f setMaxStringSize:20];
    NSString *replacement = nil;
    NSString *error = nil;
    EXPECT_TRUE([f isPartialStringValid:@"12345678901234567890" newEditingString:&replacement
                       errorDescription:&error]);
    EXPECT_FALSE([f isPartialStringValid:@"123456789012345678901" newEditingString:&replacement
                        errorDescription:&error]);
    EXPECT_STREQ("12345678901234567890", [replacement UTF8String]);
    [f release];
    [pool release];
}

static int granted() { return 1; }
static int refused() { return 0; }
static int odd() { return 7; }

TEST(HostLibraries, AuthorizeUserAsksTheInstalledHandler)
{
    AuthorizeUserHandler old = SetAuthorizeUserHandler(granted);
    EXPECT_EQ(1, AuthorizeUser());
    SetAuthorizeUserHandler(refused);
    EXPECT_EQ(0, AuthorizeUser());
    // Only 1 means granted.
    SetAuthorizeUserHandler(odd);
    EXPECT_EQ(0, AuthorizeUser());
    SetAuthorizeUserHandler(old);
}
