// Application rule records: rule lists, matching, equality, dumps.
#include <sstream>
#include <string>
#include <type_traits>

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "BasicAppRecord.h"
#include "DependentRecord.h"
#include "DetailedAppRecord.h"
#include "NetworkRule.h"
#include "ProfileRecordIO.h"
#include "TestFiles.h"

using namespace AppProtection;

namespace {

NetworkRule rule(int order, const std::string& ip, const std::string& ports, NWProtocol proto = NW_TCP,
                 Operation dir = OUTGOING_CONNECTION, actions act = ACTION_ALLOW)
{
    NetworkRule r;
    r.setOrder(order);
    if (!ip.empty()) {
        EXPECT_TRUE(r.setIpRange(ip)) << ip;
    }
    if (!ports.empty())
        r.setPortRange(ports);
    r.setNWProtocol(proto);
    r.setDirection(dir);
    r.setAction(act);
    return r;
}

/// A rule as a profile file carries it: fields only a file or a payload can
/// set, such as an open upper port bound or an odd width.
NetworkRule storedRule(const std::string& fields)
{
    std::istringstream in(testfiles::ucs4be("22 serialization::archive 3 0 0 " + fields));
    ProfileIArchive ar(in);
    NetworkRule r;
    ProfileRecordIO::load(ar, r);
    return r;
}

sockaddr_in peer(const char* ip, uint16_t portField)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_aton(ip, &a.sin_addr);
    a.sin_port = portField;
    return a;
}

TEST(NetworkRuleList, SetNwRulesSortsAndKeepsFirstOfEachOrder)
{
    NetworkRule a = rule(2, "10.0.0.1", "80");
    NetworkRule one = rule(1, "ANY_IP", "ANY_PORT");
    NetworkRule b = rule(2, "10.0.0.2", "443");
    BasicAppRecord rec;
    rec.setNwRules({a, one, b});
    std::list<NetworkRule> got = rec.getNwRules();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got.front(), one);
    EXPECT_EQ(got.back(), a);
    EXPECT_NE(got.back(), b);
}

TEST(NetworkRuleMatch, Table)
{
    const uint16_t plain80 = 80;
    struct Case {
        const char* name;
        NetworkRule rule;
        const char* peerIp;
        uint16_t portField;
        short proto;
        Operation dir;
        bool want;
    } cases[] = {
        {"any rule, any peer", rule(0, "", "", NW_TCP_UDP, INCOMING_OUTGOING_CONNECTION), "192.0.2.9", 7, 2,
         INCOMING_CONNECTION, true},
        {"/24 inside", rule(0, "10.1.2.0/24", ""), "10.1.2.77", 1, 1, OUTGOING_CONNECTION, true},
        {"/24 outside", rule(0, "10.1.2.0/24", ""), "10.1.3.1", 1, 1, OUTGOING_CONNECTION, false},
        {"width 0 exact", rule(0, "10.1.2.3", ""), "10.1.2.3", 1, 1, OUTGOING_CONNECTION, true},
        {"width 0 other", rule(0, "10.1.2.3", ""), "10.1.2.4", 1, 1, OUTGOING_CONNECTION, false},
        {"/1 upper half", rule(0, "128.0.0.0/1", ""), "200.1.1.1", 1, 1, OUTGOING_CONNECTION, true},
        {"/31 neighbour", rule(0, "10.0.0.6/31", ""), "10.0.0.7", 1, 1, OUTGOING_CONNECTION, true},
        {"80-80 by plain port", rule(0, "", "80"), "1.2.3.4", plain80, 1, OUTGOING_CONNECTION, true},
        {"80-80 by htons port", rule(0, "", "80"), "1.2.3.4", htons(80), 1, OUTGOING_CONNECTION, false},
        {"no port bounds", rule(0, "", ""), "1.2.3.4", 65535, 1, OUTGOING_CONNECTION, true},
        {"range below", rule(0, "", "1000-2000"), "1.2.3.4", 999, 1, OUTGOING_CONNECTION, false},
        {"range top", rule(0, "", "1000-2000"), "1.2.3.4", 2000, 1, OUTGOING_CONNECTION, true},
        {"range above", rule(0, "", "1000-2000"), "1.2.3.4", 2001, 1, OUTGOING_CONNECTION, false},
        {"incoming rule, outgoing request", rule(0, "", "", NW_TCP, INCOMING_CONNECTION), "1.2.3.4", 1, 1,
         OUTGOING_CONNECTION, false},
        {"both directions", rule(0, "", "", NW_TCP, INCOMING_OUTGOING_CONNECTION), "1.2.3.4", 1, 1,
         INCOMING_CONNECTION, true},
        {"udp rule, tcp request", rule(0, "", "", NW_UDP), "1.2.3.4", 1, 1, OUTGOING_CONNECTION, false},
        {"both protocols", rule(0, "", "", NW_TCP_UDP), "1.2.3.4", 1, 2, OUTGOING_CONNECTION, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.rule.matches(peer(c.peerIp, c.portField), c.proto, c.dir), c.want);
    }
}

TEST(NetworkRuleMatch, OpenEndedPortBounds)
{
    // order ip ipRange start end bits protocol action direction portRange
    NetworkRule from80 = storedRule("1 0 0  80 0 0 3 1 104 0 ");
    NetworkRule upTo1023 = storedRule("1 0 0  0 1023 0 3 1 104 0 ");
    for (uint16_t port : {0, 1, 79, 80, 81, 1023, 1024, 65535}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(from80.matches(peer("1.1.1.1", port), 1, OUTGOING_CONNECTION), port >= 80);
        EXPECT_EQ(upTo1023.matches(peer("1.1.1.1", port), 1, OUTGOING_CONNECTION), port <= 1023);
    }
}

TEST(NetworkRuleMatch, OddWidthsNeverShiftOutOfRange)
{
    // 10.1.2.3 = 167838211. Widths 0, 32, 33, 255 and -1 match the exact
    // address only; the sanitizer build checks that no shift is undefined.
    for (const char* bits : {"0", "32", "33", "255", "-1", "-32768"}) {
        SCOPED_TRACE(bits);
        NetworkRule r = storedRule(std::string("1 167838211 0  0 0 ") + bits + " 3 1 104 0 ");
        EXPECT_TRUE(r.matches(peer("10.1.2.3", 1), 1, OUTGOING_CONNECTION));
        EXPECT_FALSE(r.matches(peer("10.1.2.2", 1), 1, OUTGOING_CONNECTION));
        EXPECT_FALSE(r.matches(peer("0.0.0.0", 1), 1, OUTGOING_CONNECTION));
    }
}

TEST(DetailedRecord, CustomRuleMatchFirstRuleWinsAndNoRuleKeepsAction)
{
    DetailedAppRecord rec;
    rec.setNwRules({rule(2, "ANY_IP", "ANY_PORT", NW_TCP_UDP, INCOMING_OUTGOING_CONNECTION, ACTION_ALLOW),
                    rule(1, "10.0.0.0/8", "", NW_TCP_UDP, INCOMING_OUTGOING_CONNECTION, ACTION_BLOCK)});
    actions act = ACTION_ALLOW;
    EXPECT_TRUE(rec.customRuleMatch(peer("10.9.9.9", 5), OUTGOING_CONNECTION, NW_TCP, act));
    EXPECT_EQ(act, ACTION_BLOCK);
    EXPECT_TRUE(rec.customRuleMatch(peer("11.0.0.1", 5), OUTGOING_CONNECTION, NW_TCP, act));
    EXPECT_EQ(act, ACTION_ALLOW);

    DetailedAppRecord none;
    act = ACTION_BLOCK;
    EXPECT_FALSE(none.customRuleMatch(peer("1.2.3.4", 1), OUTGOING_CONNECTION, NW_TCP, act));
    EXPECT_EQ(act, ACTION_BLOCK);
}

TEST(NetworkRuleEquality, PortTextPlaysNoPart)
{
    NetworkRule ssh = rule(1, "ANY_IP", "SSH");
    NetworkRule num = rule(1, "ANY_IP", "22");
    EXPECT_EQ(ssh.getPortRange(), "SSH");
    EXPECT_TRUE(ssh == num);
    num.setAction(ACTION_BLOCK);
    EXPECT_FALSE(ssh == num);
}

TEST(AppRecordEquality, Table)
{
    BasicAppRecord base;
    base.setAppPath("/bin/a");
    base.setAppGroup("/bin");
    base.setApplicationHash("h1");
    base.setExecAllowed(true);
    base.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
    base.setNwRules({rule(1, "ANY_IP", "80")});

    struct Case {
        const char* name;
        void (*change)(BasicAppRecord&);
        bool matches;
        bool equal;
    } cases[] = {
        {"path", [](BasicAppRecord& r) { r.setAppPath("/bin/b"); }, true, true},
        {"group", [](BasicAppRecord& r) { r.setAppGroup("/x"); }, true, true},
        {"modified", [](BasicAppRecord& r) { r.setAppModified(true); }, true, true},
        {"enabled", [](BasicAppRecord& r) { r.setEnabled(false); }, true, true},
        {"changedDeps", [](BasicAppRecord& r) { r.setChangedDeps({"/lib/x"}); }, true, true},
        {"fingerprint", [](BasicAppRecord& r) { r.setApplicationHash("h2"); }, true, false},
        {"execAllowed", [](BasicAppRecord& r) { r.setExecAllowed(false); }, false, false},
        {"nwAction", [](BasicAppRecord& r) { r.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL); }, false, false},
        {"rules", [](BasicAppRecord& r) { r.setNwRules({rule(1, "ANY_IP", "81")}); }, false, false},
        {"rule count", [](BasicAppRecord& r) { r.setNwRules({}); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BasicAppRecord other = base;
        c.change(other);
        EXPECT_EQ(base.matches(other), c.matches);
        EXPECT_EQ(base == other, c.equal);
        EXPECT_EQ(base != other, !c.equal);
    }
    // Rules are compared only when they decide.
    BasicAppRecord allowAll = base, allowAll2 = base;
    allowAll.setNwAction(BasicAppRecord::NW_ACTION_ALLOW_ALL);
    allowAll2.setNwAction(BasicAppRecord::NW_ACTION_ALLOW_ALL);
    allowAll2.setNwRules({});
    EXPECT_TRUE(allowAll == allowAll2);
}

TEST(AppRecordGroups, CompareGroupName)
{
    BasicAppRecord a, b, c;
    a.setAppPath("/A.app/x");
    a.setAppGroup("/A.app");
    b.setAppPath("/A.app/y");
    b.setAppGroup("/A.app");
    c.setAppGroup("/B.app");
    EXPECT_TRUE(BasicAppRecord::compareGroupName(a, b));
    EXPECT_FALSE(BasicAppRecord::compareGroupName(a, c));
}

TEST(DetailedRecord, FromRuleTakesNoFingerprintAssignmentKeepsIt)
{
    BasicAppRecord r;
    r.setAppPath("/bin/a");
    r.setAppGroup("/bin");
    r.setApplicationHash("fromrule");
    r.setExecAllowed(true);
    r.setNwRules({rule(3, "", "80"), rule(1, "", "81"), rule(3, "", "82")});

    DetailedAppRecord d(r);
    EXPECT_EQ(d.getAppPath(), "/bin/a");
    EXPECT_EQ(d.getAppGroup(), "/bin");
    EXPECT_EQ(d.getApplicationHash(), "");
    EXPECT_EQ(d.getNwRules().size(), 2u);
    EXPECT_TRUE(d.getExecAllowed());

    DetailedAppRecord stored;
    stored.setAppPath("/old");
    stored.setApplicationHash("storedhash");
    stored.setDependencies({"/lib/a"});
    stored = r;
    EXPECT_EQ(stored.getAppPath(), "/bin/a");
    EXPECT_EQ(stored.getApplicationHash(), "storedhash");
    EXPECT_EQ(stored.getDependencies(), std::vector<std::string>{"/lib/a"});

    DetailedAppRecord copy(stored);
    EXPECT_EQ(copy.getApplicationHash(), "storedhash");
    EXPECT_EQ(copy.getDependencies(), stored.getDependencies());
    // The keys follow the setters.
    EXPECT_EQ(DetailedAppRecord::PathKey()(copy), "/bin/a");
    EXPECT_EQ(DetailedAppRecord::HashKey()(copy), "storedhash");
    EXPECT_EQ(DetailedAppRecord::GroupKey()(copy), "/bin");
}

TEST(DetailedRecord, MoveGivesTheValueOfACopy)
{
    static_assert(std::is_nothrow_move_constructible<DetailedAppRecord>::value, "vectors move, not copy");
    // Rules of orders 2, 1, 2 as a file carries them: a copy sorts them and
    // keeps one per order, and so must a move.
    std::istringstream in(testfiles::ucs4be("22 serialization::archive 3 0 0 2 /a 1 h 1 g 1 0 0 1 2 /l 0 1 0 0 3 0 0"
                                            " 2 0 6 ANY_IP 0 0 0 3 2 104 8 ANY_PORT"
                                            " 1 0 6 ANY_IP 0 0 0 3 1 104 8 ANY_PORT"
                                            " 2 0 6 ANY_IP 0 0 0 3 1 104 8 ANY_PORT 1 3"));
    ProfileIArchive ar(in);
    DetailedAppRecord read;
    ProfileRecordIO::load(ar, read);
    ASSERT_EQ(read.getNwRules().size(), 3u);
    DetailedAppRecord copy(read);
    DetailedAppRecord moved(std::move(read));
    DetailedAppRecord assigned;
    assigned.setAppPath("/old");
    assigned = std::move(moved);
    for (const DetailedAppRecord* r : {&copy, &assigned}) {
        EXPECT_EQ(DetailedAppRecord::PathKey()(*r), "/a");
        EXPECT_EQ(DetailedAppRecord::HashKey()(*r), "h");
        EXPECT_EQ(DetailedAppRecord::GroupKey()(*r), "g");
        EXPECT_EQ(r->getAppPath(), "/a");
        EXPECT_TRUE(r->getAppModified());
        EXPECT_EQ(r->getDependencies(), std::vector<std::string>{"/l"});
        std::list<NetworkRule> rules = r->getNwRules();
        ASSERT_EQ(rules.size(), 2u);
        EXPECT_EQ(rules.front().getOrder(), 1);
        EXPECT_EQ(rules.back().getOrder(), 2);
        EXPECT_EQ(rules.back().getAction(), ACTION_BLOCK); // the first of order 2
        EXPECT_EQ(r->getNwAction(), BasicAppRecord::NW_ACTION_CUSTOM);
    }
}

TEST(DependentRecordList, SetAppListSetsCount)
{
    DependentRecord d;
    d.setAppList({"/a", "/b", "/a"});
    EXPECT_EQ(DependentRecord::AppCountKey()(d), 3u);
    EXPECT_EQ(d.getAppList().size(), 3u);
}

TEST(Dumps, NetworkRulePrint)
{
    NetworkRule r = storedRule("1 167838208 11 10.1.2.0/24 80 0 24 1 1 103 2 80");
    std::ostringstream out;
    r.print(out);
    EXPECT_EQ(out.str(), " OrderNo :1 IP Address Range :10.1.2.0/24 IP Address : 167838208 SubnetMask : 24 "
                         "PortRangeStart :80 PortRangeEnd :0 NWProtocol :TCP Direction :OUTGOING Action :ALLOW\n");
}

TEST(Dumps, BasicRecordPrint)
{
    BasicAppRecord rec;
    rec.setAppPath("/bin/a");
    rec.setAppGroup("/bin");
    rec.setApplicationHash("h");
    rec.setExecAllowed(true);
    rec.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
    rec.setNwRules({rule(2, "ANY_IP", "ANY_PORT", NW_UDP, INCOMING_CONNECTION, ACTION_BLOCK)});
    std::ostringstream out;
    rec.print(out);
    EXPECT_EQ(out.str(), "\n\n\t AppGroup = /bin \n\t AppPath = /bin/a \n\t AppHash = h \n\t ExecAllowed = yes"
                         "  Enabled = yes  NwAction = 3\n"
                         "\t OrderNo :2 IP Address Range :ANY_IP IP Address : 0 SubnetMask : 0 PortRangeStart :0 "
                         "PortRangeEnd :0 NWProtocol :UDP Direction :INCOMING Action :BLOCK\n");
}

} // namespace
