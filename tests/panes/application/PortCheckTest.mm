// The port-text check against a table and against grep's whole-line match
// of the same number forms; the time-out formatter's typing and display.
#import "AppProPortCheck.h"
#import "PaneTestSupport.h"

#include <fstream>

#include <gtest/gtest.h>

using panetest::utf8;

TEST(PortCheck, Forms)
{
    struct Case {
        const char *text;
        int want;
    } cases[] = {
        {"", 0}, {"ANY_PORT", 1}, {"any_port", 0}, {"Telnet", 1}, {"TELNET", 0}, {"80", 1},
        {"20-21", 1}, {"99999", 1}, {"80-79", 1}, {"80-", 0}, {"-80", 0}, {" 80", 0},
        {"20,21", 0}, {"20 - 21", 0}, {"80\n", 0}, {"DHCP Server", 1}, {"HTTPS", 1}, {"Airport ", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.want, PortRangeValidateWithRegex(c.text));
    }
}

// Number forms decided by grep -Px on one line each (so "80\n" is not a
// line of its own here): both must agree.
TEST(PortCheck, NumberFormsAgreeWithGrep)
{
    const char *texts[] = {"80", "20-21", "0", "007", "1-2-3", "80-", "-80", "8 0", "+80", "٣", "65536-1", "x1"};
    std::string file = "/tmp/pane-portcheck.txt";
    for (const char *t : texts) {
        SCOPED_TRACE(t);
        {
            std::ofstream out(file);
            out << t << "\n";
        }
        int grep = panetest::run({"grep", "-qPx", "[0-9]+|[0-9]+-[0-9]+", file});
        EXPECT_EQ(grep == 0 ? 1 : 0, PortRangeValidateWithRegex(t));
    }
    std::remove(file.c_str());
}

TEST(TimeOutFormatter, Typing)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProCustomNumberFormatter *f = [[AppProCustomNumberFormatter alloc] init];
    EXPECT_EQ(300, [f maxAllowedValue]);
    EXPECT_EQ(10, [f minAllowedValue]);

    // Typing one character at the end of `before`.
    auto type = [f](NSString *before, NSString *typed, NSString **shown, NSString **error) {
        NSString *proposed = [before stringByAppendingString:typed];
        NSRange sel = NSMakeRange([proposed length], 0);
        *shown = proposed;
        return [f isPartialStringValid:shown proposedSelectedRange:&sel originalString:before
                 originalSelectedRange:NSMakeRange([before length], 0) errorDescription:error];
    };
    NSString *shown = nil;
    NSString *error = @"untouched";
    EXPECT_FALSE(type(@"", @"x", &shown, &error));
    EXPECT_EQ("Input is not an integer", utf8(error));

    error = @"untouched";
    EXPECT_TRUE(type(@"", @"3", &shown, &error));
    EXPECT_TRUE(error == nil);
    EXPECT_TRUE(type(@"3", @"5", &shown, &error));
    error = @"untouched";
    EXPECT_FALSE(type(@"35", @"0", &shown, &error));
    EXPECT_EQ("300", utf8(shown));
    EXPECT_EQ("untouched", utf8(error));

    EXPECT_FALSE(type(@"300", @"1", &shown, &error));
    EXPECT_EQ("Input is greater than maxvakue", utf8(error));

    // Backspace: the proposed text is shorter, nothing inserted.
    NSString *after = @"30";
    NSRange sel = NSMakeRange(2, 0);
    EXPECT_TRUE([f isPartialStringValid:&after proposedSelectedRange:&sel originalString:@"300"
                  originalSelectedRange:NSMakeRange(2, 1) errorDescription:&error]);
    // No place for the error text.
    NSString *p = @"x";
    sel = NSMakeRange(1, 0);
    EXPECT_FALSE([f isPartialStringValid:&p proposedSelectedRange:&sel originalString:@""
                   originalSelectedRange:NSMakeRange(0, 0) errorDescription:NULL]);
    [f release];
    [pool release];
}

TEST(TimeOutFormatter, DisplayAndStoredValue)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    AppProCustomNumberFormatter *f = [[AppProCustomNumberFormatter alloc] init];
    struct Case {
        int value;
        const char *shown;
    } cases[] = {{0, "10"}, {5, "10"}, {10, "10"}, {11, "11"}, {45, "45"}, {299, "299"}, {300, "300"}, {1000, "300"},
                 {-7, "10"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(c.shown, utf8([f stringForObjectValue:[NSNumber numberWithInt:c.value]]));
        // What is stored is what is shown.
        EXPECT_EQ(atoi(c.shown), AppProClampTimeOut(c.value));
    }
    id value = nil;
    EXPECT_TRUE([f getObjectValue:&value forString:@"45" errorDescription:NULL]);
    EXPECT_EQ(45, [value intValue]);
    [f release];
    [pool release];
}
