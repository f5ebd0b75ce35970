// The pane's text layer: wide texts of the records, the protocol code, the
// port and interface setters, NSString to wide text, and the labels.
#import <Foundation/Foundation.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#import "FirewallPreferencesStrings.h"
#include "FWRecords.h"
#include "FWServiceRecords.h"
#import "NSString+FWPaneWchar.h"
#import "NSString+wstring.h"
#import "PaneSupport.h"

using FirewallSDK::FirewallException;
using FirewallSDK::FWDetailedData;

namespace {

struct Pool {
    Pool() { pool = [[NSAutoreleasePool alloc] init]; }
    ~Pool() { [pool release]; }
    NSAutoreleasePool *pool;
};

int codeOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const FirewallException &e) {
        return e.code;
    }
    return 0;
}

TEST(FirewallTextLayer, WideTextsOfTheRecords)
{
    FWDetailedData r;
    r.setRuleName("Caf\xC3\xA9");
    r.setSrcIp("10.0.0.0/8");
    r.setDestIp("any");
    EXPECT_EQ(L"Caf\u00e9", r.getRuleNameAsWstring());
    EXPECT_EQ(L"10.0.0.0/8", r.getSrcIpAsWstring());
    EXPECT_EQ(L"any", r.getDestIpAsWstring());
    EXPECT_EQ(L"", r.getSrcPortAsWstring()); // no entry: nothing converted
    r.setSrcPort(std::string("22"));
    r.setSrcPort(std::string("23"));
    r.setDestPort(std::string(""));
    EXPECT_EQ(L"22", r.getSrcPortAsWstring());
    EXPECT_EQ(L"", r.getDestPortAsWstring());
    EXPECT_EQ(2u, r.getSrcPortByRef().size());

    r.setRuleNameAsWstring(L"h\u00e9 ");
    EXPECT_EQ("h\xC3\xA9 ", r.getRuleName());

    // Bytes that are no UTF-8, characters that are no Unicode: the member's code.
    struct Case {
        const char *what;
        std::function<void()> call;
        int code;
    } cases[] = {
        {"name from bytes", [] { FWDetailedData d; d.setRuleName("\xFF"); d.getRuleNameAsWstring(); }, 13002},
        {"name to bytes", [] { FWDetailedData d; d.setRuleNameAsWstring(std::wstring(1, wchar_t(0xD800))); }, 13001},
        {"source", [] { FWDetailedData d; d.setSrcIp("\xC3"); d.getSrcIpAsWstring(); }, 13004},
        {"destination", [] { FWDetailedData d; d.setDestIp("\x80"); d.getDestIpAsWstring(); }, 13008},
        {"source port", [] { FWDetailedData d; d.setSrcPort(std::string("\xFE")); d.getSrcPortAsWstring(); }, 13006},
        {"destination port", [] { FWDetailedData d; d.setDestPort(std::string("\xFE")); d.getDestPortAsWstring(); }, 13010},
        {"group address from bytes",
         [] { FWService::TrustedGroupInfo g; g.setMachineAddr("\xFF"); g.getMachineAddrAsWstring(); }, 13011},
        {"group address to bytes",
         [] { FWService::TrustedGroupInfo g; g.setMachineAddrAsWstring(std::wstring(1, wchar_t(0x110000))); }, 13001},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.code, codeOf(c.call));
    }

    FWService::TrustedGroupInfo g;
    g.setMachineAddrAsWstring(L"10.1.1.1");
    g.setMachineAddrAsWstring(L"");
    EXPECT_EQ((std::vector<std::wstring>{L"10.1.1.1", L""}), g.getMachineAddrAsWstring());
}

TEST(FirewallTextLayer, ProtocolCodeAndInterface)
{
    struct Case {
        std::vector<std::string> protocols;
        int code;
    } cases[] = {
        {{}, 0}, {{"ip"}, 1}, {{"tcp"}, 2}, {{"udp", "tcp"}, 3}, {{"icmp"}, 4}, {{"igmp"}, 5}, {{"gre"}, 0}, {{"TCP"}, 0},
    };
    for (auto &c : cases) {
        FWDetailedData r;
        for (auto &p : c.protocols)
            r.setProtocol(FWDetailedData::FIELD_PLAIN, p);
        EXPECT_EQ(c.code, r.getProtocol()) << (c.protocols.empty() ? "none" : c.protocols[0]);
    }

    struct Iface {
        const char *name;
        int direction;
        std::map<std::string, std::string> want;
    } ifaces[] = {
        {"en0", 7, {{"via", "en0"}}},
        {"en0", 1, {{"recv", "en0"}}},
        {"en1", 2, {{"xmit", "en1"}}},
        {"all", 1, {}},
        {"all", 3, {}},
    };
    for (auto &c : ifaces) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.direction));
        FWDetailedData r;
        r.setInterface(std::string(c.name), FirewallSDK::FWInterfaceDirection(c.direction));
        std::map<std::string, std::string> got(r.getInterfaceByRef().begin(), r.getInterfaceByRef().end());
        EXPECT_EQ(c.want, got);
    }
    EXPECT_EQ(-1, FWDetailedData().getNetworkInterface().getIndex());
}

TEST(FirewallTextLayer, WcharUsingEncoding)
{
    Pool pool;
    struct Case {
        NSString *text;
        std::wstring want;
    } cases[] = {
        {@"", L""}, {@"web", L"web"}, {fwptest::ns("Caf\xC3\xA9 \xE2\x82\xAC"), L"Caf\u00e9 \u20ac"}, {@" a ", L" a "},
    };
    for (auto &c : cases) {
        wchar_t *w = [c.text wcharUsingEncoding:NSUTF8StringEncoding];
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(c.want, std::wstring(w));
        std::free(w);
        // And back through the host's converter.
        if (!c.want.empty()) {
            EXPECT_TRUE([c.text isEqualToString:[NSString stringWithwstring:c.want]]);
        }
    }

    // A string with no form in the encoding asked for.
    NSString *euro = fwptest::ns("\xE2\x82\xAC");
    fwptest::LogCapture log;
    EXPECT_EQ(nullptr, [euro wcharUsingEncoding:NSASCIIStringEncoding]);
    EXPECT_EQ(std::vector<std::string>{"Failed to convert to nchar"}, log.lines());
    EXPECT_EQ(13001, codeOf([&] { FWPWideText(nil, 13001); }));
    EXPECT_EQ(L"ok", FWPWideText(@"ok", 13001));
}

TEST(FirewallTextLayer, LabelsFallBackToTheirKeys)
{
    Pool pool;
    // No table in the test program's bundle: every label is its key.
    FirewallPreferencesStrings *s = [[FirewallPreferencesStrings alloc] init];
    struct Case {
        NSString *label;
        const char *key;
    } cases[] = {
        {[s StealthString], "enable stealth"},
        {[s rulesTabnameString], "rules"},
        {[s customExplanedString],
         "Select this option if you want to allow or block incoming connections for specific IP addresses"},
        {[s okString], "OK"},
        {[s valueForKey:@"souceDestinationString"], "source destination"},
    };
    for (auto &c : cases)
        EXPECT_EQ(c.key, fwptest::utf8(c.label));
    EXPECT_EQ(11, [s explanationFontSize]);
    [s release];
}

} // namespace
