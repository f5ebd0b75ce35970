// The kernel rule reader and decoder over hand-made rule lists
// (tests/fixtures/ipfw_records.py), served through the rule-list source.
#include "FWWrapperTestSupport.h"

#include <cstdio>
#include <functional>

using namespace FirewallSDK;
using namespace fwwtest;

namespace {

using Check = std::function<void(const FWExtDetailedData&)>;

std::vector<FWExtDetailedData> readList(const std::string& file)
{
    ServedList served(fixture(file));
    FWWrapper w;
    std::vector<FWExtDetailedData> rules;
    EXPECT_EQ(w.getFirewallRules(rules), 1);
    return rules;
}

std::vector<std::pair<int, std::string>> entries(const FWDetailedData::IpList& l)
{
    std::vector<std::pair<int, std::string>> out;
    for (const auto& e : l)
        out.emplace_back(e.getIPFlag(), e.getIPAddress());
    return out;
}
std::vector<std::pair<int, std::string>> entries(const FWDetailedData::PortList& l)
{
    std::vector<std::pair<int, std::string>> out;
    for (const auto& e : l)
        out.emplace_back(e.getPortFlag(), e.getPortNo());
    return out;
}
std::vector<std::pair<int, std::string>> entries(const FWDetailedData::ProtocolList& l)
{
    std::vector<std::pair<int, std::string>> out;
    for (const auto& e : l)
        out.emplace_back(e.getProtocolFlag(), e.getProtocol());
    return out;
}

using Entries = std::vector<std::pair<int, std::string>>;
const Entries kAny{{0, "any"}};
const Entries kIp{{0, "ip"}};

} // namespace

TEST(FWWrapperRead, DefaultRuleAlone)
{
    std::vector<FWExtDetailedData> rules = readList("default.bin");
    ASSERT_EQ(rules.size(), 1u);
    const FWExtDetailedData& r = rules[0];
    EXPECT_EQ(r.getRuleNo(), 65535);
    EXPECT_EQ(r.getRuleSet(), 31);
    EXPECT_EQ(r.getActionAsString(), "allow");
    EXPECT_EQ(entries(r.getProtocolByRef()), kIp);
    EXPECT_EQ(entries(r.getSrcIpByRef()), kAny);
    EXPECT_EQ(entries(r.getDestIpByRef()), kAny);
    EXPECT_FALSE(r.isLogging());
    EXPECT_EQ(r.getRuleCategory(), 0u);
    EXPECT_EQ(r.getProbability(), 1.0);
}

TEST(FWWrapperRead, Rule5122OfTheRecordTables)
{
    std::vector<FWExtDetailedData> rules = readList("rule5122.bin");
    ASSERT_EQ(rules.size(), 2u);
    const FWExtDetailedData& r = rules[0];
    EXPECT_EQ(r.getRuleNo(), 5122);
    EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "10.0.0.0/8"}}));
    EXPECT_EQ(entries(r.getDestPortByRef()), (Entries{{0, "80,1000-2000"}}));
    EXPECT_EQ(entries(r.getDestIpByRef()), kAny);
    EXPECT_EQ(entries(r.getProtocolByRef()), kIp);
    EXPECT_EQ(r.getTrafficDirection(), FW_DIRECTION_IN);
    EXPECT_TRUE(r.isLogging());
    EXPECT_EQ(r.getActionAsString(), "allow");
    EXPECT_EQ(rules[1].getRuleNo(), 65535);
}

TEST(FWWrapperRead, EachInstructionDecodesAsListed)
{
    struct Case {
        const char* file;
        Check check;
    };
    const Case cases[] = {
        {"insn_src_me.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "me"}})); }},
        {"insn_src_me_not.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{1, "me"}})); }},
        {"insn_dst_mask24.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getDestIpByRef()), (Entries{{0, "10.1.2.0/24"}}));
             EXPECT_EQ(entries(r.getSrcIpByRef()), kAny);
         }},
        {"insn_dst_mask_noncontig.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getDestIpByRef()), (Entries{{0, "10.1.2.0:255.0.255.0"}}));
         }},
        {"insn_dst_mask0.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(entries(r.getDestIpByRef()), kAny); }},
        {"insn_src_ip.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "192.168.1.5"}}));
         }},
        {"insn_src_set.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "10.0.0.0/24{1,5-7,9}"}}));
         }},
        {"insn_src_set_12.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "10.0.0.0/24{1,2}"}}));
         }},
        {"insn_src_set_empty.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "10.0.0.0/24{}"}}));
         }},
        {"insn_dst_ports_or.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getDestPortByRef()), (Entries{{2, "80,1000-2000"}}));
         }},
        {"insn_proto_tcp.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(entries(r.getProtocolByRef()), (Entries{{0, "tcp"}})); }},
        {"insn_tcpflags_setup.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpFlags(), "setup"); }},
        {"insn_tcpflags_synack.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpFlags(), "syn,ack"); }},
        {"insn_tcpflags_syn_notrst.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpFlags(), "syn,!rst"); }},
        {"insn_iptos_mincost.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getIpTos(), "mincost"); }},
        {"insn_tcpopts_mss_ts.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpOpts(), "mss,ts"); }},
        {"insn_icmptypes.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getIcmpType(), "0,3,8"); }},
        {"insn_limit_src.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getLimit(), "src-addr10"); }},
        {"insn_limit_all.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getLimit(), "all10"); }},
        {"insn_via_en0.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getInterfaceByRef(), (FWDetailedData::InterfaceMap{{"via", "en0"}}));
         }},
        {"insn_prob_one.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getProbability(), 1.0); }},
        {"insn_prob_zero.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getProbability(), 0.0); }},
        {"insn_in_out.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTrafficDirection(), FW_DIRECTION_BOTH); }},
        {"insn_tcpseq.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpSeq(), "1234567890"); }},
        {"insn_tcpseq_high.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpSeq(), "4294967294"); }},
        {"insn_mac.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getDestMacAddr(), "00:11:22:33:44:55");
             EXPECT_EQ(r.getDestMacMask(), "ff:ff:ff:ff:ff:ff");
             EXPECT_EQ(r.getSrcMacAddr(), "any");
             EXPECT_EQ(r.getSrcMacMask(), "");
         }},
        {"insn_uid_root.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getUid(), "root"); }},
        {"insn_gid_root.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getGid(), "root"); }},
        {"insn_uid_none.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getUid(), "4000000000"); }},
        {"insn_iplen_single.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getIpLen(), "40"); }},
        {"insn_ipttl_list.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getIpTtl(), "1-10,64"); }},
        {"insn_ipopts.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getIpOpt(), "ssrr,lsrr,!rr"); }},
        {"insn_precedence.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getIpPrecedence(), "7"); }},
        {"insn_words.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getLayer2(), "layer2");
             EXPECT_EQ(r.getFrag(), "frag");
             EXPECT_EQ(r.getEstab(), "establishedestablished");
             EXPECT_EQ(r.getVerrevpath(), "verrevpath");
             EXPECT_EQ(r.getKeepState(), "keep-state");
             EXPECT_EQ(r.getIpSec(), "ipsec");
         }},
        {"insn_tcpwin.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpWin(), "4096"); }},
        {"insn_tcpack.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getTcpAck(), "1"); }},
        {"insn_unknown_then_udp.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getProtocolByRef()), (Entries{{0, "udp"}}));
         }},
        {"act_log100.bin", [](const FWExtDetailedData& r) {
             EXPECT_TRUE(r.isLogging());
             EXPECT_EQ(r.getLogAmount(), 100u);
             EXPECT_EQ(r.getActionAsString(), "allow");
         }},
        {"act_reject.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getActionAsString(), "reject");
             EXPECT_EQ(r.getActionOpt(), "");
         }},
        {"act_unreach_port.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getActionAsString(), "unreach");
             EXPECT_EQ(r.getActionOpt(), "port");
         }},
        {"act_reset.bin", [](const FWExtDetailedData& r) { EXPECT_EQ(r.getActionAsString(), "reset"); }},
        {"act_unreach_20.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getActionAsString(), "unreach");
             EXPECT_EQ(r.getActionOpt(), "20");
         }},
        {"act_skipto.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getActionAsString(), "skipto");
             EXPECT_EQ(r.getActionOptPort(), 6000);
         }},
        {"act_forward.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getActionAsString(), "forward");
             EXPECT_EQ(r.getActionOptIp(), "10.0.0.1");
             EXPECT_EQ(r.getActionOptPort(), 8080);
         }},
        {"act_none.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getActionAsString(), "");
             EXPECT_FALSE(r.isLogging());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<FWExtDetailedData> rules = readList(c.file);
        ASSERT_EQ(rules.size(), 2u);
        EXPECT_EQ(rules[0].getRuleNo(), 100);
        c.check(rules[0]);
        EXPECT_EQ(rules[1].getRuleNo(), 65535);
    }
}

TEST(FWWrapperRead, BufferGrowsUntilTheListFits)
{
    ServedList served(fixture("list18.bin"));
    FWWrapper w;
    std::vector<FWExtDetailedData> rules;
    ASSERT_EQ(w.getFirewallRules(rules), 1);
    EXPECT_EQ(served.offers(), (std::vector<socklen_t>{1224, 2648}));
    ASSERT_EQ(rules.size(), 18u);
    EXPECT_EQ(rules[0].getRuleNo(), 100);
    EXPECT_EQ(rules[17].getRuleNo(), 65535);
}

TEST(FWWrapperRead, EarlierEntriesStayInFront)
{
    ServedList served(fixture("default.bin"));
    FWWrapper w;
    std::vector<FWExtDetailedData> rules(2);
    rules[0].setRuleName("first");
    ASSERT_EQ(w.getFirewallRules(rules), 1);
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[0].getRuleName(), "first");
    EXPECT_EQ(rules[2].getRuleNo(), 65535);
}

TEST(FWWrapperRead, SetterRefusalEndsTheWalkKeepingEarlierRecords)
{
    ServedList served(fixture("bad_rule0.bin"));
    FWWrapper w;
    std::vector<FWExtDetailedData> rules;
    try {
        w.getFirewallRules(rules);
        FAIL() << "no exception";
    } catch (const FirewallException& e) {
        EXPECT_EQ(e.code, FW_INVALID_RULE_NUMBER_FOR_SETTING);
    }
    ASSERT_EQ(rules.size(), 2u);
    EXPECT_EQ(rules[1].getRuleNo(), 200);
    EXPECT_EQ(w.ruleListSize(), 0u);  // released on the way out
}

TEST(FWWrapperRead, FailedOrMalformedListsAppendNothing)
{
    struct Case {
        const char* file;
        int err;  // source fails with this errno
    };
    const Case cases[] = {
        {"default.bin", EACCES},
        {"bad_cmdlen_past_end.bin", 0},
        {"bad_actofs.bin", 0},
        {"bad_no_default.bin", 0},
        {"bad_short_header.bin", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ServedList served(fixture(c.file), c.err);
        FWWrapper w;
        std::vector<FWExtDetailedData> rules;
        try {
            w.getFirewallRules(rules);
            ADD_FAILURE() << "no exception";
        } catch (const SystemException& e) {
            EXPECT_EQ(e.code, FW_UNKNOWN_ERROR);
            EXPECT_EQ(e.getErrorMsg(), "Unknown error");
        }
        EXPECT_TRUE(rules.empty());
        EXPECT_EQ(w.ruleListSize(), 0u);
    }
    // A source that always fills the offer would grow the buffer for ever.
    ipfw::setRuleListSource([](int, void*, socklen_t*) { return 0; });
    FWWrapper w;
    std::vector<FWExtDetailedData> rules;
    EXPECT_THROW(w.getFirewallRules(rules), SystemException);
    ipfw::setRuleListSource(nullptr);
}

TEST(FWWrapperRead, HostileInstructionsStopOnlyTheirPart)
{
    struct Case {
        const char* file;
        Check check;
    };
    const Case cases[] = {
        {"bad_flen0.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getProtocolByRef()), (Entries{{0, "tcp"}}));
             EXPECT_EQ(r.getActionAsString(), "allow");
         }},
        {"bad_past_part.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getProtocolByRef()), (Entries{{0, "tcp"}}));
             EXPECT_EQ(r.getActionAsString(), "allow");
         }},
        {"bad_set_arg65535.bin", [](const FWExtDetailedData& r) {
             // Only the 32 bits inside the instruction are members.
             EXPECT_EQ(entries(r.getSrcIpByRef()), (Entries{{0, "10.0.0.0/-1{0-31}"}}));
         }},
        {"bad_ifname16.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(r.getInterfaceByRef(), (FWDetailedData::InterfaceMap{{"via", "abcdefghijklmnop7"}}));
         }},
        {"bad_short_insn.bin", [](const FWExtDetailedData& r) {
             EXPECT_EQ(entries(r.getSrcIpByRef()), kAny);
             EXPECT_EQ(entries(r.getProtocolByRef()), (Entries{{0, "tcp"}}));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<FWExtDetailedData> rules = readList(c.file);
        ASSERT_EQ(rules.size(), 2u);
        c.check(rules[0]);
    }
}

TEST(FWWrapperRead, SmallDecoders)
{
    FWWrapper w;
    struct Case {
        std::vector<unsigned char> bits;
        int len;
        int want;
    };
    const Case cases[] = {
        {{0xff, 0xff, 0xff, 0x00}, 32, 24}, {{0xff, 0x00, 0xff, 0x00}, 32, -1}, {{0, 0, 0, 0}, 32, 0},
        {{0xff, 0xff, 0xff, 0xff}, 32, 32}, {{0xfe}, 7, 7}, {{0xf0, 0x01}, 12, 4}, {{0xf0, 0x08}, 13, -1},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> b = c.bits;
        EXPECT_EQ(w.contigmask(b.data(), c.len), c.want);
    }
    FWExtDetailedData r;
    unsigned char addr[6] = {0, 0x11, 0x22, 0x33, 0x44, 0x55};
    unsigned char mask[6] = {0xff, 0xff, 0xff, 0, 0, 0};
    w.getMacAddr(r, addr, mask, FWWrapper::MAC_SRC);
    w.getMacAddr(r, addr, mask, FWWrapper::MAC_SRC);  // repeated options join without a separator
    EXPECT_EQ(r.getSrcMacAddr(), "00:11:22:33:44:5500:11:22:33:44:55");
    EXPECT_EQ(r.getSrcMacMask(), "ff:ff:ff:00:00:00ff:ff:ff:00:00:00");
    EXPECT_EQ(r.getDestMacAddr(), "");
}
