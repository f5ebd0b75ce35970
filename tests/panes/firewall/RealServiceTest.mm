// The tab controllers against the real processes: hvod, fwservice --record
// and the ipfw stand-in, in tests/ns-run.sh on a virtual display. The
// pane's steps as the user takes them; the commands from fwservice's
// record; the kernel list decoded from rules.bin by python.
#import <AppKit/AppKit.h>

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#import "FWPPresenter.h"
#import "FWPSend.h"
#include "FwServiceRun.h"
#import "PaneSupport.h"
#import "RecordingPresenter.h"
#import "PreferenceRules.h"
#import "RulesContainer.h"
#import "TrustedSources.h"

using fwptest::utf8;

namespace {

using namespace fwrun;

/// The ids fwservice recorded since the last call, with the payload of
/// 10209, 10207 and 10208 after a colon, and ":false" for a refusal.
std::vector<std::string> commandsSince()
{
    static size_t seen = 0;
    std::string all = wardtest::readFile(g_record);
    std::vector<std::string> out;
    std::string rest = all.substr(std::min(seen, all.size()));
    seen = all.size();
    std::regex line("\\{\"id\":(\\d+),\"payload\":\"([^\"]*)\",\"status\":(true|false)");
    for (std::sregex_iterator it(rest.begin(), rest.end(), line), end; it != end; ++it) {
        std::string num = (*it)[1], payload = (*it)[2], status = (*it)[3];
        std::string entry = num;
        if (num == "10209" || num == "10207" || num == "10208")
            entry += ":" + payload.substr(payload.find("18 ") + 3);
        if (status == "false")
            entry += ":false";
        out.push_back(entry);
    }
    return out;
}

NSInteger rowOf(PreferenceRules *c, int number)
{
    NSArray *rows = [[c rulesController] arrangedObjects];
    for (NSUInteger i = 0; i < [rows count]; ++i)
        if ([[rows objectAtIndex:i] rulesNumber] == number)
            return i;
    return -1;
}

void addRule(PreferenceRules *c, NSString *name, int protocol, NSString *port)
{
    [c AddRulesButtonClicked:nil];
    RulesContainer *sheet = [c rulesObject];
    [sheet setRulesNameAsString:name];
    [sheet setProtocolAsInt:protocol];
    [sheet setPortDestination:port];
    [c AddNewCreatlyRules:nil];
}

TEST(FirewallPaneWithTheService, TheUsersSteps)
{
    fwptest::PresenterScope scope;
    freshService();
    PreferenceRules *c = [PreferenceRules sharedPreferenceRules];
    commandsSince();

    using Cmds = std::vector<std::string>;
    // Showing the view: both tabs from the service, nothing sent back.
    [c refreshUI];
    [[TrustedSources sharedTrustedSources] refreshUI];
    [c setIsPreferenceEnabled:YES];
    EXPECT_EQ((Cmds{"10205", "10205", "10212"}), commandsSince());
    EXPECT_EQ("5002 allow -\n65535 allow -\n", kernelList());

    [c setAllowDenyCustom:1001];
    EXPECT_EQ((Cmds{"10209:0 0 0 0 0 1"}), commandsSince());
    EXPECT_EQ("5002 allow -\n65535 allow -\n", kernelList());

    addRule(c, @"web", FWP_TAG_TCP, @"80");
    EXPECT_EQ((Cmds{"10204", "10211", "10205"}), commandsSince());
    EXPECT_EQ("5002 allow -\n5122 allow 80\n65535 allow -\n", kernelList());

    addRule(c, fwptest::ns("Caf\xC3\xA9"), FWP_TAG_TCP, @"22");
    EXPECT_EQ((Cmds{"10204", "10211", "10205"}), commandsSince());
    EXPECT_EQ("5002 allow -\n5122 allow 80\n5123 allow 22\n65535 allow -\n", kernelList());

    [[c rulesController] setSelectionIndex:rowOf(c, 5123)];
    [c MoveSelectedRulesUp:nil];
    EXPECT_EQ((Cmds{"10207:2 0 5123 5122"}), commandsSince());
    EXPECT_EQ("5002 allow -\n5122 allow 22\n5123 allow 80\n65535 allow -\n", kernelList());
    EXPECT_NE(std::string::npos, wardtest::readFile(kRuleFile).find("5 Caf\xC3\xA9"));
    EXPECT_EQ("Caf\xC3\xA9", utf8([[[[c rulesController] arrangedObjects] objectAtIndex:rowOf(c, 5122)] rulesNameAsString]));

    [c editRow:rowOf(c, 5123)];
    [[c rulesObject] setRulesActionAsInt:FWP_TAG_DENY];
    [[c rulesObject] setPortDestination:@"8080"];
    [c AddNewCreatlyRules:nil];
    EXPECT_EQ((Cmds{"10206", "10210"}), commandsSince());
    EXPECT_EQ("5002 allow -\n5122 allow 22\n5123 deny 8080\n65535 allow -\n", kernelList());

    [[c rulesController] setSelectionIndex:rowOf(c, 5122)];
    [c DeleteRulesButtonClicked:nil];
    EXPECT_EQ((Cmds{"10208:1 0 5122"}), commandsSince());
    EXPECT_EQ("5002 allow -\n5123 deny 8080\n65535 allow -\n", kernelList());

    addRule(c, @"bad", FWP_TAG_TCP, @"70000");
    EXPECT_EQ((Cmds{"10204", "10211:false"}), commandsSince());
    EXPECT_EQ("5002 allow -\n5123 deny 8080\n65535 allow -\n", kernelList());
    ASSERT_GT([scope.presenter->panels count], 0u);
    EXPECT_EQ("Invalid dest port for setting", utf8([scope.presenter->panels lastObject]));
}

} // namespace
