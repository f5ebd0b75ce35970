// The host libraries without a display: recent-event rows, the hex colour
// parser, the length-limiting formatter and the replaceable authorisation.
#import <Foundation/Foundation.h>

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#import "AuthorizeUser.h"
#import "NSColor+HexRGB.h"
#import "NSString+wstring.h"
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

// The wide text as UTF-8, by iconv from UTF-32LE: the independent reading.
static std::string iconvUtf8(const std::wstring &text)
{
    iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
    EXPECT_NE(reinterpret_cast<iconv_t>(-1), cd);
    std::string in(reinterpret_cast<const char *>(text.data()), text.size() * 4);
    std::string out(in.size() * 2 + 4, '\0');
    char *ip = &in[0], *op = &out[0];
    size_t il = in.size(), ol = out.size();
    EXPECT_NE(static_cast<size_t>(-1), iconv(cd, &ip, &il, &op, &ol));
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

TEST(HostLibraries, WideStringsReadAsUtf32)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    const std::wstring texts[] = {L"", L"Mail", L"\u00E9", L"Caf\u00E9 \u20AC \U0001F600", std::wstring(1, L'\0') + L"x"};
    for (const std::wstring &t : texts) {
        NSString *s = [NSString stringWithwstring:t];
        ASSERT_NE(nil, s);
        std::string utf8 = iconvUtf8(t);
        EXPECT_EQ(utf8, std::string([s UTF8String], [s lengthOfBytesUsingEncoding:NSUTF8StringEncoding]));
    }
    EXPECT_EQ(0u, [[NSString stringWithwstring:L""] length]);
    // A lone surrogate (how undecodable bytes travel) or a value past
    // U+10FFFF reads as U+FFFD, the rest of the text kept.
    std::wstring bad = L"a";
    bad += static_cast<wchar_t>(0xDCE9);
    bad += static_cast<wchar_t>(0x110000);
    bad += L"b";
    EXPECT_STREQ("a\xEF\xBF\xBD\xEF\xBF\xBD" "b", [[NSString stringWithwstring:bad] UTF8String]);
    [pool release];
}
