// What the firewall pane relies on of the envelopes, the converters and the
// about-box record, used the way the pane uses them.
#include <map>
#include <string>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "CommandData.h"
#include "ReportRecords.h"
#include "StringConvert.h"

using HVO::PayloadAccess;

namespace {

/// The pane's sending steps with the service's answer put in by hand.
template <class Sent, class Reply> Reply exchange(int commandId, Sent sent, Reply reply)
{
    HVO::CommandData command(commandId, FIREWALL_SERVICE_HVK_ID, false);
    command.setCustomData(sent);
    HVO::CommandResult serviceSide;
    PayloadAccess::setInput(serviceSide, PayloadAccess::outputText(command));
    Sent seen{};
    serviceSide.getCustomData(seen);
    EXPECT_EQ(sent, seen);

    HVO::CommandResult answer;
    answer.setBasicCommandData(command);
    answer.setCustomData(reply);
    HVO::CommandResult result;
    PayloadAccess::setInput(result, PayloadAccess::outputText(answer));
    EXPECT_TRUE(result.getCommandStatus());
    Reply back{};
    result.getCustomData(back);
    return back;
}

TEST(PortWardContract, StandardPayloadTypes)
{
    EXPECT_EQ(1, (exchange<signed char, int>(10200, static_cast<signed char>(1), 1)));
    EXPECT_EQ(true, (exchange<int, bool>(10206, 5121, true)));
    EXPECT_EQ(13052, (exchange<std::vector<int>, int>(10207, {5122, 5123}, 13052)));
    std::vector<std::wstring> names{L"Office", L"caf\x00e9", L""};
    EXPECT_EQ(names, (exchange<std::vector<std::wstring>, std::vector<std::wstring>>(10216, names, names)));
    std::map<std::wstring, bool> enable{{L"Lab", true}, {L"Office", false}};
    EXPECT_EQ(enable, (exchange<std::map<std::wstring, bool>, std::map<std::wstring, bool>>(10213, enable, enable)));
    std::map<std::wstring, std::vector<std::wstring>> groups{{L"Lab", {L"10.0.0.0/8", L"host.example"}}, {L"Empty", {}}};
    EXPECT_EQ(groups, (exchange<decltype(groups), decltype(groups)>(10214, groups, groups)));
}

TEST(PortWardContract, ResultWithoutPayload)
{
    // A status query whose reply carried no payload reads false, and a
    // result nobody filled reads as success.
    HVO::CommandData command(10201, FIREWALL_SERVICE_HVK_ID, false);
    EXPECT_EQ(10201, command.getCommandId());
    HVO::CommandResult result;
    bool enabled = false;
    result.getCustomData(enabled);
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(result.getCommandStatus());
    result.setCommandStatus(false);
    EXPECT_FALSE(result.getCommandStatus());
}

TEST(PortWardContract, ConvertersAndAboutBox)
{
    wchar_t wide[8];
    int cap = 8;
    ASSERT_EQ(0, char2widechar("Lab \xc3\xa9", wide, &cap));
    EXPECT_EQ(std::wstring(L"Lab \x00e9"), wide);
    char narrow[6 * 5 + 1];
    cap = sizeof narrow;
    ASSERT_EQ(0, widechar2charstr(wide, narrow, &cap));
    EXPECT_EQ(std::string("Lab \xc3\xa9"), narrow);

    AboutBoxData about;
    about.setHvkId(4);
    about.setAboutBoxDisplayContents({{L"Firewall_Version", L"2.1"}});
    EXPECT_EQ(L"2.1", about.getAboutBoxDisplayContents()[L"Firewall_Version"]);
}

} // namespace
