// Rule records in payloads: the exact text of a one-record vector, round
// trips of vectors and lists, and the decision report.
#include <arpa/inet.h>
#include <cstring>

#include <gtest/gtest.h>

#include "AppRecordPayload.h"
#include "CommandData.h"

using namespace AppProtection;
using HVO::PayloadAccess;

namespace {

BasicAppRecord sampleRecord()
{
    BasicAppRecord r;
    r.setAppPath("/bin/a");
    r.setAppGroup("/bin/a");
    r.setApplicationHash("d41d8cd98f00b204e9800998ecf8427e");
    r.setExecAllowed(true);
    NetworkRule rule;
    rule.setOrder(1);
    EXPECT_TRUE(rule.setIpRange("10.1.2.0/24"));
    EXPECT_TRUE(rule.setPortRange("80"));
    rule.setNWProtocol(NW_TCP);
    rule.setAction(ACTION_ALLOW);
    rule.setDirection(OUTGOING_CONNECTION);
    r.setNwRules({rule});
    r.setEnabled(true);
    r.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
    return r;
}

TEST(AppRecordPayload, ExactTextOfOneRecord)
{
    std::vector<BasicAppRecord> v{sampleRecord()};
    HVO::CommandData c(20000, APP_PROTECTION_HVK_ID, false);
    c.setCustomData(v);
    EXPECT_EQ(L"22 serialization::archive 18 0 0 1 0 0 0 6 /bin/a 32 d41d8cd98f00b204e9800998ecf8427e 6 /bin/a 1 0 0 1 0 "
              L"0 0 1 167838208 11 10.1.2.0/24 80 80 24 1 1 103 2 80 0 0 0 0 0 1 3",
              PayloadAccess::outputText(c));
}

template <class T> T roundTrip(T value)
{
    HVO::CommandData sent(20000, 3, false);
    sent.setCustomData(value);
    HVO::CommandResult received;
    PayloadAccess::setInput(received, PayloadAccess::outputText(sent));
    T back;
    received.getCustomData(back);
    return back;
}

TEST(AppRecordPayload, VectorsAndListsReadBackEqual)
{
    BasicAppRecord a = sampleRecord();
    BasicAppRecord b;
    b.setAppPath("/Applications/caf\xc3\xa9.app/x");
    b.setAppGroup("/Applications/caf\xc3\xa9.app");
    b.setAppModified(true);
    b.setChangedDeps({"/usr/lib/a.dylib", "/usr/lib/\xe9.dylib"});
    b.setEnabled(false);
    b.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
    std::vector<BasicAppRecord> v{a, b};
    auto vb = roundTrip(v);
    ASSERT_EQ(2u, vb.size());
    std::list<BasicAppRecord> l{b, a};
    auto lb = roundTrip(l);
    ASSERT_EQ(2u, lb.size());
    for (const auto& pair : {std::make_pair(vb[0], a), std::make_pair(vb[1], b), std::make_pair(lb.front(), b),
                             std::make_pair(lb.back(), a)}) {
        const BasicAppRecord& got = pair.first;
        const BasicAppRecord& want = pair.second;
        EXPECT_TRUE(got == want);
        EXPECT_EQ(want.getAppPath(), got.getAppPath());
        EXPECT_EQ(want.getAppGroup(), got.getAppGroup());
        EXPECT_EQ(want.getAppModified(), got.getAppModified());
        EXPECT_EQ(want.getChangedDeps(), got.getChangedDeps());
        EXPECT_EQ(want.getEnabled(), got.getEnabled());
        ASSERT_EQ(want.getNwRules().size(), got.getNwRules().size());
        if (!want.getNwRules().empty()) {
            EXPECT_EQ(want.getNwRules().front().getPortRange(), got.getNwRules().front().getPortRange());
            EXPECT_TRUE(want.getNwRules().front() == got.getNwRules().front());
        }
    }
}

TEST(AppRecordPayload, ReportConstructors)
{
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    inet_pton(AF_INET, "192.0.2.7", &addr.sin_addr);
    addr.sin_port = 8080;
    AppProtReport exec("/bin/a", sampleRecord(), EXEC_ACTION, 4);
    EXPECT_EQ("/bin/a", exec.getAppName());
    EXPECT_EQ(4, exec.getSearchReturnValue());
    EXPECT_EQ("0.0.0.0:0", exec.getIPDetailsString());
    EXPECT_TRUE(static_cast<bool>(exec.getAction()));
    AppProtReport net("/bin/a", BasicAppRecord(), OUTGOING_CONNECTION, 2, addr, NW_UDP);
    EXPECT_EQ("192.0.2.7:8080", net.getIPDetailsString());
    EXPECT_EQ("UDP", net.getNWProtocolString());
    net.setBasicAppRecord(sampleRecord());
    EXPECT_EQ("/bin/a", net.getBasicAppRecord().getAppPath());
}

} // namespace
