// The lookup rule and the labels of the preference view; the bundle's own
// tables are checked with plparse and for every key the pane looks up.
#import "AppProStrings.h"
#import "PaneTestSupport.h"

#include <gtest/gtest.h>

using panetest::utf8;

namespace {

struct Label {
    const char *field;
    const char *key;
};

const Label kLabels[] = {
    {"rulesString", "rules"},
    {"exclusionString", "exclusions"},
    {"appleSignedBinariesString", "applesignedbinaries"},
    {"unknownModifiedApplicationString", "unknown/modified"},
    {"applicationNameString", "applicationname"},
    {"pathString", "path"},
    {"statusString", "status"},
    {"forString", "for"},
    {"secondsString", "seconds"},
    {"rulesTabHeadingString", "rulesheading"},
    {"exclusionTabHeadingString", "exclusionheading"},
    {"allowString", "allow"},
    {"denyString", "deny"},
    {"allowExecutionWithNWAccessString", "allowexecutionwithnwaccess"},
    {"allowExecutionWithoutNWAccessString", "allowexecutionwithoutnwaccess"},
    {"allowExecutionWithRestrictedAccessString", "allowexecutionwithrestictednwaccess"},
    {"denyExecutionWithString", "denyexecution"},
    {"promptString", "prompt"},
    {"tcpString", "tcp"},
    {"udpString", "udp"},
    {"bothString", "both"},
    {"allowallString", "allowall"},
    {"denyallString", "denyall"},
    {"customString", "custom"},
    {"incomingString", "incoming"},
    {"outgoingString", "outgoing"},
    {"anyString", "any"},
    {"protocolString", "protocol"},
    {"ipsubnetString", "ipsubnet"},
    {"portrangeString", "portrange"},
    {"directionString", "direction"},
    {"actionString", "action"},
    {"okString", "ok"},
    {"cancelString", "cancel"},
    {"predefinedApplicationsString", "predefinedApplications"},
    {"existingRulesString", "existingRules"},
    {"importRulesFromString", "importRulesFrom"},
    {"allApplicationsString", "allApplications"},
    {"promptDesString", "promptDescription"},
};

const char *const kPorts[] = {"any", "FTP", "SSH", "SMTP", "Telnet", "DNS", "DHCP Server", "DHCP Client", "TFTP",
                              "HTTP", "POP3", "NTP", "SMB", "IMAP", "Airport", "LDAP", "HTTPS"};

std::vector<std::string> items(NSArray *a)
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [a count]; i++)
        out.push_back(utf8([a objectAtIndex:i]));
    return out;
}

} // namespace

TEST(Strings, EmptyTableAnswersEveryKey)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    for (int withTable = 0; withTable < 2; withTable++) {
        SCOPED_TRACE(withTable ? "empty table" : "no table");
        std::map<std::string, std::string> tables;
        if (withTable)
            tables["AppProPrefs"] = "";
        panetest::FixtureBundle bundle(tables);
        AppProPrefsStrings *s = [[AppProPrefsStrings alloc] init];
        for (const Label &l : kLabels)
            EXPECT_EQ(l.key, utf8([s valueForKey:[NSString stringWithUTF8String:l.field]])) << l.field;
        EXPECT_TRUE([s valueForKey:@"networkConnectionString"] == nil);
        EXPECT_EQ(std::vector<std::string>(std::begin(kPorts), std::end(kPorts)),
                  items([s valueForKey:@"portDropDownItem"]));
        EXPECT_EQ(std::vector<std::string>{"any"}, items([s valueForKey:@"IpDropDownItem"]));
        [s release];
    }
    [pool release];
}

TEST(Strings, TranslatedTextsReachTheLabelsAndPortList)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    panetest::FixtureBundle bundle("AppProPrefs", "\"Telnet\" = \"Fernschreiber\";\n\"any\" = \"alle\";\n"
                                                    "\"networkconnection\" = \"Netz\";\n\"rules\" = \"Regeln\";\n");
    AppProPrefsStrings *s = [[AppProPrefsStrings alloc] init];
    EXPECT_EQ("Regeln", utf8([s valueForKey:@"rulesString"]));
    std::vector<std::string> ports = items([s valueForKey:@"portDropDownItem"]);
    ASSERT_EQ(17u, ports.size());
    EXPECT_EQ("alle", ports[0]);
    EXPECT_EQ("Fernschreiber", ports[4]);
    EXPECT_EQ("HTTPS", ports[16]);
    EXPECT_EQ(std::vector<std::string>{"alle"}, items([s valueForKey:@"IpDropDownItem"]));
    // Never loaded, whatever the table holds.
    EXPECT_TRUE([s valueForKey:@"networkConnectionString"] == nil);
    // The lookup rule: a key the table lacks is its own text.
    EXPECT_EQ("no such key", utf8(AppProLocalized(@"no such key", @"AppProPrefs")));
    EXPECT_EQ("no such key", utf8(AppProLocalized(@"no such key", @"NoSuchTable")));
    [s release];
    [pool release];
}

// Every key the pane looks up is in the bundle's tables, each table parses,
// and each starts with a byte-order mark.
TEST(Strings, BundleTablesHoldEveryKey)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    std::map<std::string, std::vector<std::string>> keys = {
        {"AppProtection",
         {"ProductName", "Application_Protection_Version", "Application_Protection_SPVersion",
          "Application_Protection_HF", "DuplicateEntry", "RuleNotFound", "ConflictingEntry", "NotAValidExecutable",
          "UnknownError", "InvalidIPAddress", "InvalidPortRange", "OK", "tickMarkToolTip"}},
        {"RecentEvent",
         {"application is blocked from execution", "application is blocked from network connection", "name"}},
        {"AppProAlerts",
         {"always", "once", "ok", "Allow Excecution with Full Netrwork access",
          "Allow Excecution with no Netrwork access", "Deny Exceution", "App is Trying To Execute",
          "App Prevented Execution", "App is prevented Incoming Network", "App is prevented Outgoing Network",
          "App is prevented Incoming and Outgoing Network", "Unknow Action"}},
        {"AppProPrefs", {"select", "ok", "any"}},
    };
    for (const Label &l : kLabels)
        keys["AppProPrefs"].push_back(l.key);
    for (const char *p : kPorts)
        keys["AppProPrefs"].push_back(p);

    NSString *dir = @APPWARD_BUNDLE_DIR "/Resources/English.lproj";
    for (const auto &t : keys) {
        SCOPED_TRACE(t.first);
        std::string file = utf8(dir) + "/" + t.first + ".strings";
        EXPECT_EQ(0, panetest::run({"plparse", file}));
        NSData *bytes = [NSData dataWithContentsOfFile:panetest::ns(file)];
        ASSERT_TRUE(bytes != nil);
        ASSERT_GE([bytes length], 3u);
        EXPECT_EQ(0, memcmp([bytes bytes], "\xEF\xBB\xBF", 3));
        NSDictionary *table = [[[[NSString alloc] initWithData:bytes encoding:NSUTF8StringEncoding] autorelease]
            propertyListFromStringsFileFormat];
        for (const std::string &k : t.second)
            EXPECT_TRUE([table objectForKey:panetest::ns(k)] != nil) << k;
    }
    [pool release];
}
