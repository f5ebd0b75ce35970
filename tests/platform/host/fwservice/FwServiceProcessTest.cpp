// The firewall service as a process: hvod, fwservice --record and the ipfw
// stand-in first on PATH, in a private /usr/local/Vantrel. Commands go
// through the broker client and hvoctl; the kernel list is read from
// rules.bin by a python script of its own.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "CommandData.h"
#include "FWRecords.h"
#include "FWServiceRecords.h"
#include "HVOCommBroker.h"
#include "FwServiceRun.h"
#include "ProcessSupport.h"
#include "Utf8.h"

using FirewallSDK::FWDetailedData;
using HVO::PayloadAccess;
using proc::Child;

namespace {

using namespace fwrun;

template <class T> std::wstring archiveText(T value)
{
    HVO::CommandData c(0, 4, false);
    c.setCustomData(value);
    return PayloadAccess::outputText(c);
}

struct Reply {
    bool status = false;
    std::wstring text; // the reply's payload, whole

    template <class T> T as() const
    {
        HVO::CommandResult r;
        PayloadAccess::setInput(r, text);
        T value{};
        r.getCustomData(value);
        return value;
    }
    /// The code a failed change carries; 0 without one.
    int code() const { return text.empty() ? 0 : as<int>(); }
};

/// One command through the broker client, as the pane sends it.
Reply sendText(int id, const std::wstring& payload)
{
    HVO::CommandData c(id, FIREWALL_SERVICE_HVK_ID, false);
    if (!payload.empty())
        PayloadAccess::setOutputText(c, payload);
    HVO::CommandResult r;
    HVO::HVOCommBroker::getInstance(kSocket)->sendCommand(c, &r, true, 45);
    return {r.getCommandStatus(), PayloadAccess::inputText(r)};
}

template <class T> Reply send(int id, T value)
{
    return sendText(id, archiveText(value));
}

Reply send(int id)
{
    return sendText(id, L"");
}

std::string utf8(const std::wstring& w)
{
    std::string out;
    for (wchar_t c : w) {
        uint32_t v = static_cast<uint32_t>(c);
        if (v < 0x80) {
            out.push_back(static_cast<char>(v));
        } else if (v < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (v >> 6)));
            out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (v >> 12)));
            out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
        }
    }
    return out;
}

/// One command through hvoctl with an archive text from a file; its status.
bool hvoctlSend(int id, const std::wstring& payload)
{
    std::string file = *g_tmp / "payload.txt";
    wardtest::writeFile(file, utf8(payload));
    int rc = -1;
    proc::run({HVOCTL_PATH, "send", "--to", "4", "--cmd", std::to_string(id), "--payload-text", file}, &rc, 60);
    return rc == 0;
}

FWDetailedData rule(const std::string& name, const std::string& protocol, const std::string& destPort,
                    FirewallSDK::FWAction action = FirewallSDK::FW_ACTION_ALLOW, int number = 5122)
{
    FWDetailedData r;
    r.setRuleNo(number);
    r.setRuleName(name);
    r.setAction(action);
    r.setTrafficDirection(FirewallSDK::FW_DIRECTION_IN);
    r.setRuleCategory(FirewallSDK::FW_CUSTOM_RULE_CATEGORY);
    r.setProtocol(FWDetailedData::FIELD_PLAIN, protocol);
    r.setSrcIp("me");
    r.setSrcPort(FWDetailedData::FIELD_PLAIN, "");
    r.setDestIp("any");
    r.setDestPort(FWDetailedData::FIELD_PLAIN, destPort);
    return r;
}

struct Row {
    int number;
    std::string name;
    int direction;
    bool operator==(const Row& o) const { return number == o.number && name == o.name && direction == o.direction; }
};

std::ostream& operator<<(std::ostream& os, const Row& r)
{
    return os << "{" << r.number << ", \"" << r.name << "\", " << r.direction << "}";
}

std::vector<Row> rows(FWService::CompleteFWData* options = nullptr)
{
    Reply r = send(10205);
    EXPECT_TRUE(r.status);
    auto data = r.as<FWService::CompleteFWData>();
    if (options)
        *options = data;
    std::vector<Row> out;
    for (const auto& b : data.getRules())
        out.push_back({b.getRuleNo(), b.getRuleName(), b.getTrafficDirection()});
    return out;
}

FWService::TrustedList groupsNamed(std::vector<std::wstring> names, std::vector<std::string> addresses = {},
                                   bool enable = true)
{
    FWService::TrustedList list;
    for (auto& n : names) {
        auto& g = list.getTrustedList()[n];
        g.isGroupEnable(enable);
        for (auto& a : addresses)
            g.setMachineAddr(a);
    }
    return list;
}

std::map<std::wstring, FWService::TrustedGroupInfo> groups()
{
    Reply r = send(10212);
    EXPECT_TRUE(r.status);
    return r.as<FWService::TrustedList>().getTrustedList();
}

// ---- rules --------------------------------------------------------------

TEST(FwServiceRules, ThePanesStepsReachTheKernel)
{
    freshService();
    EXPECT_EQ((std::vector<Row>{{5002, "", 0}}), rows());
    EXPECT_EQ("5002 allow -\n65535 allow -\n", kernelList());

    struct Step {
        const char* what;
        std::function<Reply()> command;
        bool status;
        int code;
        std::string kernel;
    } steps[] = {
        {"add web, tcp, destination port 80", [] { return send(10211, rule("web", "tcp", "80")); }, true, 0,
         "5002 allow -\n5122 allow 80\n65535 allow -\n"},
        {"add Caf\xC3\xA9, tcp, port 22", [] { return send(10211, rule("Caf\xC3\xA9", "tcp", "22")); }, true, 0,
         "5002 allow -\n5122 allow 80\n5123 allow 22\n65535 allow -\n"},
        {"move Caf\xC3\xA9 up", [] { return send(10207, std::vector<int>{5123, 5122}); }, true, 0,
         "5002 allow -\n5122 allow 22\n5123 allow 80\n65535 allow -\n"},
        {"edit web: deny, port 8080",
         [] { return send(10210, rule("web", "tcp", "8080", FirewallSDK::FW_ACTION_DENY, 5123)); }, true, 0,
         "5002 allow -\n5122 allow 22\n5123 deny 8080\n65535 allow -\n"},
        {"add with port 70000", [] { return send(10211, rule("bad", "tcp", "70000")); }, false, 13050,
         "5002 allow -\n5122 allow 22\n5123 deny 8080\n65535 allow -\n"},
        {"delete Caf\xC3\xA9", [] { return send(10208, std::vector<int>{5122}); }, true, 0,
         "5002 allow -\n5123 deny 8080\n65535 allow -\n"},
    };
    for (auto& s : steps) {
        SCOPED_TRACE(s.what);
        if (std::string(s.what) == "delete Caf\xC3\xA9") {
            // Before the delete: the name's UTF-8 bytes in the rule file and
            // in the rule query's reply.
            EXPECT_NE(std::string::npos, wardtest::readFile(kRuleFile).find("5 Caf\xC3\xA9"));
            EXPECT_EQ((std::vector<Row>{{5002, "", 0}, {5122, "Caf\xC3\xA9", 2}, {5123, "web", 2}}), rows());
        }
        Reply r = s.command();
        EXPECT_EQ(s.status, r.status);
        EXPECT_EQ(s.code, r.status ? 0 : r.code());
        EXPECT_EQ(s.kernel, kernelList());
    }

    Reply detail = send(10206, 5123);
    ASSERT_TRUE(detail.status);
    auto web = detail.as<FWDetailedData>();
    EXPECT_EQ("web", web.getRuleName());
    EXPECT_EQ("deny", web.getActionAsString());
    EXPECT_EQ("8080", web.getDestPort());
}

TEST(FwServiceRules, RefusalsChangeNothing)
{
    freshService();
    ASSERT_TRUE(send(10211, rule("web", "tcp", "80")).status);
    const std::string kernel = kernelList();
    const std::string file = wardtest::readFile(kRuleFile);

    struct Case {
        const char* what;
        std::function<Reply()> command;
        int code; // for the four that carry one
    } cases[] = {
        {"detail of a rule not stored", [] { return send(10206, 4000); }, 0},
        {"detail of the kernel's default rule", [] { return send(10206, 65535); }, 0},
        {"swap with one number", [] { return send(10207, std::vector<int>{5122}); }, 0},
        {"swap with a rule not stored", [] { return send(10207, std::vector<int>{5122, 4000}); }, 0},
        {"delete with one number not stored", [] { return send(10208, std::vector<int>{5122, 4000}); }, 0},
        {"modify a number not stored", [] { return send(10210, rule("x", "tcp", "81", FirewallSDK::FW_ACTION_ALLOW, 4000)); },
         13035},
        {"modify with a bad source port",
         [] {
             FWDetailedData r = rule("web", "tcp", "80");
             r.getSrcPortByRef().clear();
             r.setSrcPort(FWDetailedData::FIELD_PLAIN, "99999");
             return send(10210, r);
         },
         13049},
        {"add without a payload", [] { return send(10211); }, 13058},
        {"add a rule of another group",
         [] {
             FWDetailedData r = rule("other", "tcp", "81");
             r.setRuleCategory(0x20000000u);
             return send(10211, r);
         },
         13015},
        {"move a rule into another group",
         [] {
             FWDetailedData r = rule("web", "tcp", "80");
             r.setRuleNo(5122);
             r.setRuleCategory(0x20000000u);
             return send(10210, r);
         },
         13015},
        {"swap without a payload", [] { return send(10207); }, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reply r = c.command();
        EXPECT_FALSE(r.status);
        EXPECT_EQ(c.code, r.code());
        EXPECT_EQ(kernel, kernelList());
        EXPECT_EQ(file, wardtest::readFile(kRuleFile));
    }
}

// ---- options and switches ---------------------------------------------------

TEST(FwServiceOptions, KeptAcrossRestartsWithTheLogLevel)
{
    freshService();
    FWService::CompleteFWData data;
    rows(&data);
    EXPECT_EQ(FWService::BASIC_RULE_CUSTOM, data.getOptions().getBasicRuleOpt());
    EXPECT_EQ(0, data.getOptions().isLogging());

    FWService::FWOptionalData deny;
    deny.isLogging(1);
    deny.isStealth(true);
    deny.setBasicRuleOpt(FWService::BASIC_RULE_DENY_INBOUND);
    EXPECT_TRUE(send(10209, deny).status);
    EXPECT_EQ("1", wardtest::readFile(kSysctl + "net.inet.ip.fw.verbose").substr(0, 1));

    stopService();
    startService();
    rows(&data);
    EXPECT_EQ(FWService::BASIC_RULE_DENY_INBOUND, data.getOptions().getBasicRuleOpt());
    EXPECT_EQ(1, data.getOptions().isLogging());
    EXPECT_TRUE(data.getOptions().isStealth());

    // Seeded by hand as the demo does: mode 4, logging off.
    EXPECT_TRUE(hvoctlSend(10209, L"22 serialization::archive 18 0 0 0 0 0 4"));
    rows(&data);
    EXPECT_EQ(FWService::BASIC_RULE_CUSTOM, data.getOptions().getBasicRuleOpt());
    EXPECT_EQ("0", wardtest::readFile(kSysctl + "net.inet.ip.fw.verbose").substr(0, 1));
}

// A log level the kernel refuses: false, and the options kept are the old ones.
TEST(FwServiceOptions, ARefusedLogLevelKeepsTheOptions)
{
    freshService();
    const std::string verbose = kSysctl + "net.inet.ip.fw.verbose";
    for (const char *failing : {"read", "write"}) {
        SCOPED_TRACE(failing);
        wardtest::writeFile(verbose + ".fail", failing);
        FWService::FWOptionalData deny;
        deny.isLogging(1);
        deny.setBasicRuleOpt(FWService::BASIC_RULE_DENY_INBOUND);
        EXPECT_FALSE(send(10209, deny).status);
        std::remove((verbose + ".fail").c_str());
        FWService::CompleteFWData data;
        rows(&data);
        EXPECT_EQ(FWService::BASIC_RULE_CUSTOM, data.getOptions().getBasicRuleOpt());
        EXPECT_EQ(0, data.getOptions().isLogging());
        EXPECT_NE("1", wardtest::readFile(verbose).substr(0, 1));
    }
}

TEST(FwServiceOptions, AnUnreadableStateFileIsKeptAside)
{
    stopService();
    wardtest::writeFile(kState, "22 serialization::archive 18 0 0 1 0 0");
    startService();
    FWService::CompleteFWData data;
    rows(&data);
    EXPECT_EQ(FWService::BASIC_RULE_CUSTOM, data.getOptions().getBasicRuleOpt());
    EXPECT_EQ("22 serialization::archive 18 0 0 1 0 0", wardtest::readFile(kState + ".corrupt"));
    EXPECT_TRUE(groups().empty());
}

TEST(FwServiceOptions, FirewallSwitchAndInterfaceList)
{
    freshService();
    EXPECT_TRUE(send(10200, static_cast<signed char>(1)).status);
    Reply on = send(10201);
    ASSERT_TRUE(on.status);
    EXPECT_TRUE(on.as<bool>());
    EXPECT_TRUE(send(10200, static_cast<signed char>(0)).status);
    EXPECT_FALSE(send(10201).as<bool>());

    Reply list = send(10204);
    ASSERT_TRUE(list.status);
    EXPECT_EQ(L"22 serialization::archive 18 0 0 -1 0 0 0 0", list.text.substr(0, list.text.find_last_not_of(L"\n") + 1));
}

// ---- trusted groups -------------------------------------------------------------

TEST(FwServiceGroups, ChangesAndRefusals)
{
    freshService();
    ASSERT_TRUE(send(10215, groupsNamed({L"Office"})).status);
    ASSERT_TRUE(hvoctlSend(10215, L"22 serialization::archive 18 0 0 0 0 1 0 0 0 5 Fixed 0 0 0 1 1 0 0 1 0 8 10.0.0.1"));
    auto before = groups();
    ASSERT_EQ(2u, before.size());
    EXPECT_TRUE(before.at(L"Fixed").isReadOnly());

    std::vector<std::wstring> many;
    for (int i = 0; i < 31; ++i)
        many.push_back(L"g" + std::to_wstring(i));

    struct Case {
        const char* what;
        std::function<Reply()> command;
        int code;
    } refused[] = {
        {"a name that exists", [] { return send(10215, groupsNamed({L"New", L"Office"})); }, 13037},
        {"over 32 groups", [&] { return send(10215, groupsNamed(many)); }, 13038},
        {"an address refused", [] { return send(10215, groupsNamed({L"New"}, {"10.1.1.1", "10.1.1.999"})); }, 13046},
        {"an untrimmed address",
         [] { return send(10214, std::map<std::wstring, std::vector<std::wstring>>{{L"Office", {L" 10.1.1.1 "}}}); },
         13046},
        {"addresses of an unknown group",
         [] {
             return send(10214, std::map<std::wstring, std::vector<std::wstring>>{
                                    {L"Office", {L"10.1.1.1"}}, {L"Nowhere", {L"10.1.1.2"}}});
         },
         13058},
        {"enable an unknown group",
         [] { return send(10213, std::map<std::wstring, bool>{{L"Nowhere", false}, {L"Office", false}}); }, 0},
        {"delete an unknown group", [] { return send(10216, std::vector<std::wstring>{L"Office", L"Nowhere"}); }, 0},
        {"delete a read-only group", [] { return send(10216, std::vector<std::wstring>{L"Office", L"Fixed"}); }, 0},
    };
    const std::string state = wardtest::readFile(kState);
    for (auto& c : refused) {
        SCOPED_TRACE(c.what);
        Reply r = c.command();
        EXPECT_FALSE(r.status);
        EXPECT_EQ(c.code, r.code());
        EXPECT_EQ(state, wardtest::readFile(kState));
    }

    EXPECT_TRUE(send(10214, std::map<std::wstring, std::vector<std::wstring>>{{L"Office", {L"10.1.1.1", L"10.2.0.0/16"}}})
                    .status);
    EXPECT_TRUE(send(10213, std::map<std::wstring, bool>{{L"Office", false}}).status);
    EXPECT_TRUE(send(10215, groupsNamed({L"Caf\u00e9"}, {"10.3.3.3"})).status);
    auto after = groups();
    ASSERT_EQ(3u, after.size());
    EXPECT_EQ((std::vector<std::string>{"10.1.1.1", "10.2.0.0/16"}), after.at(L"Office").getMachineAddr());
    EXPECT_FALSE(after.at(L"Office").isGroupEnable());
    EXPECT_EQ(std::vector<std::string>{"10.3.3.3"}, after.at(L"Caf\u00e9").getMachineAddr());

    EXPECT_TRUE(send(10216, std::vector<std::wstring>{L"Office", L"Caf\u00e9"}).status);
    EXPECT_EQ(1u, groups().size());

    // Kept across a restart.
    stopService();
    startService();
    EXPECT_EQ(1u, groups().count(L"Fixed"));
}

// ---- the record -----------------------------------------------------------------

TEST(FwServiceRecord, OneLinePerCommand)
{
    freshService();
    const std::wstring sent[] = {archiveText(FWService::FWOptionalData()), archiveText(rule("bad", "tcp", "70000")),
                                 archiveText(std::vector<std::wstring>{L"Caf\u00e9"})};
    sendText(10209, sent[0]);
    sendText(10211, sent[1]);
    sendText(10216, sent[2]);
    // python's json module reads each line; the payload comes back as UTF-8.
    std::string script =
        "import json,sys\n"
        "for l in open(sys.argv[1], encoding='utf-8'):\n"
        "    r = json.loads(l)\n"
        "    sys.stdout.buffer.write(('%d %s %s %s\\n' % (r['id'], r['status'], r['code'], r['payload'])).encode())\n";
    std::string py = *g_tmp / "record.py";
    wardtest::writeFile(py, script);
    EXPECT_EQ("10209 True None " + utf8(sent[0]) + "\n" +
              "10211 False 13050 " + utf8(sent[1]) + "\n" +
              "10216 False None " + utf8(sent[2]) + "\n",
              proc::run({"/usr/bin/python3", py, g_record}));
}

} // namespace
