#include "IpfwStateHelpers.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <set>

#include "IpfwLayout.h"

namespace {

std::vector<uint8_t> hex(const std::string& text)
{
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint16_t> ruleNumbers(const std::vector<uint8_t>& list)
{
    std::vector<uint16_t> nums;
    ipfw::ListCheck check = ipfw::checkRuleList(ipfw::ByteSpan(list));
    for (const ipfw::ip_fw& r : check.records)
        nums.push_back(r.rulenum());
    return nums;
}

} // namespace

TEST_F(IpfwStateTest, RoundTripLeavesTheHandMadeBytes)
{
    RunResult r = runIpfw(wordsOf(
        "add 5122 allow log { tcp or udp } from { 10.0.0.0/8 } to { 192.168.1.5 } 80 via en0 in"));
    ASSERT_EQ(r.status(), 0) << r.err;
    EXPECT_EQ(r.out, "05122 allow log { tcp or udp } from { 10.0.0.0/8 } to { 192.168.1.5 } 80 via en0 in\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(rulesBin(), ipfwFixture("roundtrip.bin"));
}

TEST_F(IpfwStateTest, AddEchoesTheRuleWithAllShownAsIp)
{
    RunResult r = runIpfw(wordsOf("add 5122 allow all from any to any"));
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.out, "05122 allow ip from any to any\n");
    r = runIpfw(wordsOf("add 5122 7 deny log all from any to any"));
    EXPECT_EQ(r.out, "05122 deny log ip from any to any\n");
}

TEST_F(IpfwStateTest, AddCompilesEachWordToItsInstructions)
{
    struct Case {
        const char* line;
        uint8_t set;
        uint16_t actOfs;
        const char* instructions;
    };
    const Case cases[] = {
        {"add 100 deny log { ip } from any to me in keep-state", 0, 4,
         "25 01 00 00 07 01 00 00 0f 01 00 00 26 01 00 00 29 03 00 00 00 00 00 00 00 00 00 00 2d 01 00 00"},
        {"add 100 deny log { ip } from me to any out keep-state", 0, 4,
         "25 01 00 00 03 01 00 00 0f 81 00 00 26 01 00 00 29 03 00 00 00 00 00 00 00 00 00 00 2d 01 00 00"},
        {"add 100 5 allow { not tcp } from { not 10.1.2.3 } 22 to { 10.0.0.0/8,192.168.0.1 } not 80 "
         "icmptypes 0,3,8",
         5, 14,
         "0b 81 06 00 01 82 00 00 0a 01 02 03 09 02 00 00 16 00 16 00 "
         "06 05 00 00 0a 00 00 00 ff 00 00 00 c0 a8 00 01 ff ff ff ff 0a 82 00 00 50 00 50 00 "
         "22 02 00 00 09 01 00 00 2c 01 00 00"},
        {"add 100 allow { tcp or } from { 10.1.2.3:255.255.0.0 or me } to any 1000-2000,80", 0, 8,
         "0b 41 06 00 02 43 00 00 0a 01 00 00 ff ff 00 00 03 01 00 00 0a 03 00 00 e8 03 d0 07 50 00 50 00 "
         "2c 01 00 00"},
        {"add 100 allow all from any to any recv 10.0.0.1 xmit eth12", 0, 12,
         "11 06 00 00 0a 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "12 06 00 00 0c 00 00 00 65 74 68 00 00 00 00 00 00 00 00 00 00 00 00 00 2c 01 00 00"},
        {"add 100 unreach port all from any to any", 0, 0, "2e 01 03 00"},
        {"add 100 unreach 20 all from any to any", 0, 0, "2e 01 14 00"},
        {"add 100 unreach filter-prohib all from any to any", 0, 0, "2e 01 0d 00"},
        {"add 100 reject all from any to any", 0, 0, "2e 01 01 00"},
        {"add 100 reset all from any to any", 0, 0, "2e 01 00 01"},
        {"add 100 skipto 6000 all from any to any", 0, 0, "30 01 70 17"},
        {"add 100 divert 8668 all from any to any", 0, 0, "33 01 dc 21"},
        {"add 100 tee 9 all from any to any", 0, 0, "34 01 09 00"},
        {"add 100 pipe 3 all from any to any", 0, 0, "31 02 03 00 00 00 00 00"},
        {"add 100 queue 4 all from any to any", 0, 0, "32 02 04 00 00 00 00 00"},
        {"add 100 count all from any to any", 0, 0, "2f 01 00 00"},
        {"add 100 check-state all from any to any", 0, 0, "2b 01 00 00"},
        {"add 100 fwd 10.0.0.1 8080 all from any to any", 0, 0,
         "35 05 00 00 10 02 90 1f 0a 00 00 01 00 00 00 00 00 00 00 00"},
        {"add 100 forward 10.0.0.1 0 all from any to any", 0, 0,
         "35 05 00 00 10 02 00 00 0a 00 00 01 00 00 00 00 00 00 00 00"},
        {"add 100 allow { icmp igmp } from any to any", 0, 2, "0b 01 01 00 0b 01 02 00 2c 01 00 00"},
        // A host name the machine's /etc/hosts resolves.
        {"add 100 allow all from localhost to any", 0, 2, "01 02 00 00 7f 00 00 01 2c 01 00 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::filesystem::remove_all(ipfw::kStateDir);
        RunResult r = runIpfw(wordsOf(c.line));
        ASSERT_EQ(r.status(), 0) << r.err;
        std::vector<uint8_t> insns = hex(c.instructions);
        std::vector<uint8_t> expect(64, 0);
        expect[16] = static_cast<uint8_t>(c.actOfs);
        expect[18] = static_cast<uint8_t>(insns.size() / 4);
        expect[20] = 100;
        expect[22] = c.set;
        expect.insert(expect.end(), insns.begin(), insns.end());
        std::vector<uint8_t> def = ipfwFixture("default.bin");
        expect.insert(expect.end(), def.begin(), def.end());
        EXPECT_EQ(rulesBin(), expect);
    }
}

TEST_F(IpfwStateTest, RefusalsExitWithTheirStatusAndChangeNothing)
{
    struct Case {
        std::vector<std::string> words;
        int status;
    };
    const std::string tail = "all from any to any";
    const Case cases[] = {
        {{}, 64},
        {{"list"}, 64},
        {wordsOf("add"), 64},
        {wordsOf("add 100"), 64},
        {wordsOf("add 100 allow"), 64},
        {wordsOf("add 100 allow all any to any"), 64},
        {wordsOf("add 100 allow all from any"), 64},
        {wordsOf("add 100 allow all from any to any frob"), 64},
        {wordsOf("add 100 allow { tcp from any to any"), 64},
        {wordsOf("add 100 allow { } from any to any"), 64},
        {wordsOf("add 100 allow all from any to any via"), 64},
        {wordsOf("add 100 allow all from any to any icmptypes"), 64},
        {wordsOf("add 100 skipto"), 64},
        {wordsOf("add 100 fwd 10.0.0.1"), 64},
        {wordsOf("delete"), 64},
        {wordsOf("delete 1 2"), 64},
        {wordsOf("add 0 allow " + tail), 65},
        {wordsOf("add 65535 allow " + tail), 65},
        {wordsOf("add 100 32 allow " + tail), 65},
        {wordsOf("add 100 permit " + tail), 65},
        {{"add", "100", ""}, 65},
        {{"add", "100", "unreach", "", "all", "from", "any", "to", "any"}, 65},
        {wordsOf("add 100 unreach bogus " + tail), 65},
        {wordsOf("add 100 unreach 256 " + tail), 65},
        {wordsOf("add 100 skipto 70000 " + tail), 65},
        {wordsOf("add 100 allow nosuchproto from any to any"), 65},
        {wordsOf("add 100 allow all from 10.0.0.300 to any"), 65},
        {wordsOf("add 100 allow all from 10.0.0.0/33 to any"), 65},
        {wordsOf("add 100 allow all from 10.0.0.0:255.0 to any"), 65},
        {wordsOf("add 100 allow all from any to any 70000"), 65},
        {wordsOf("add 100 allow all from any to any 90-80"), 65},
        {{"add", "100", "allow", "all", "from", "any", "to", "any", ""}, 65},
        {wordsOf("add 100 allow all from any to any via en"), 65},
        {wordsOf("add 100 allow all from any to any via abcdefghijklmnop0"), 65},
        {wordsOf("add 100 allow all from any to any icmptypes 0,32"), 65},
        {wordsOf("delete 65535"), 65},
        {wordsOf("delete 0"), 65},
        {wordsOf("delete abc"), 65},
        {wordsOf("add 100 allow all from nosuchhost.invalid to any"), 68},
        {wordsOf("add 100 fwd nosuchhost.invalid 0 " + tail), 68},
        {wordsOf("delete 100"), 69},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& w : c.words)
            line += "[" + w + "]";
        SCOPED_TRACE(line);
        RunResult r = runIpfw(c.words);
        EXPECT_EQ(r.status(), c.status);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("ipfw: ", 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(ipfw::kRulesFile));
    }
}

TEST_F(IpfwStateTest, NumbersAndPlacesRulesAndDeletesEveryOneOfANumber)
{
    EXPECT_EQ(runIpfw(wordsOf("add allow all from any to any")).out, "00100 allow ip from any to any\n");
    EXPECT_EQ(runIpfw(wordsOf("add deny all from any to any")).out, "00200 deny ip from any to any\n");
    EXPECT_EQ(runIpfw(wordsOf("add 150 allow all from any to any")).status(), 0);
    EXPECT_EQ(runIpfw(wordsOf("add 100 count all from any to any")).status(), 0);
    std::vector<uint8_t> list = rulesBin();
    EXPECT_EQ(ruleNumbers(list), (std::vector<uint16_t>{100, 100, 150, 200, 65535}));
    // The second rule 100 went after the first.
    ipfw::ListCheck check = ipfw::checkRuleList(ipfw::ByteSpan(list));
    ASSERT_TRUE(check.ok);
    EXPECT_EQ(check.records[0].actionPart().data[0], ipfw::O_ACCEPT);
    EXPECT_EQ(check.records[1].actionPart().data[0], ipfw::O_COUNT);

    // A rule between others: the list is the one before, less its bytes.
    const size_t from = static_cast<size_t>(check.records[2].bytes.data - list.data());
    const size_t to = static_cast<size_t>(check.records[3].bytes.data - list.data());
    std::vector<uint8_t> without150(list.begin(), list.begin() + static_cast<long>(from));
    without150.insert(without150.end(), list.begin() + static_cast<long>(to), list.end());
    ASSERT_EQ(runIpfw(wordsOf("delete 150")).status(), 0);
    EXPECT_EQ(rulesBin(), without150);
    ASSERT_EQ(runIpfw(wordsOf("add 150 allow all from any to any")).status(), 0);
    EXPECT_EQ(rulesBin(), list);

    RunResult del = runIpfw(wordsOf("delete 100"));
    EXPECT_EQ(del.status(), 0);
    EXPECT_EQ(del.out, "");
    EXPECT_EQ(ruleNumbers(rulesBin()), (std::vector<uint16_t>{150, 200, 65535}));
    EXPECT_EQ(runIpfw(wordsOf("delete 100")).status(), 69);
}

TEST_F(IpfwStateTest, UnusableStateExits71AndIsLeftAlone)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"garbage", {1, 2, 3, 4, 5}},
        {"no default rule", ipfwFixture("bad_no_default.bin")},
        {"act_ofs past cmd_len", ipfwFixture("bad_actofs.bin")},
        {"bytes after the default rule", [] {
             std::vector<uint8_t> b = ipfwFixture("default.bin");
             b.push_back(0);
             return b;
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeState(ipfw::kRulesFile, c.bytes);
        EXPECT_EQ(runIpfw(wordsOf("add 100 allow all from any to any")).status(), 71);
        EXPECT_EQ(runIpfw(wordsOf("delete 100")).status(), 71);
        EXPECT_EQ(rulesBin(), c.bytes);
    }
    std::filesystem::remove(ipfw::kRulesFile);
    std::filesystem::create_directories(ipfw::kRulesFile);
    EXPECT_EQ(runIpfw(wordsOf("add 100 allow all from any to any")).status(), 71);
}

TEST_F(IpfwStateTest, InjectionActsOnceBeforeTheCommand)
{
    const std::string inject = ipfw::kInjectFile;

    writeText(inject, "exit 3\n");
    RunResult r = runIpfw(wordsOf("add 100 allow all from any to any"));
    EXPECT_EQ(r.status(), 3);
    EXPECT_FALSE(std::filesystem::exists(ipfw::kRulesFile));
    EXPECT_FALSE(std::filesystem::exists(inject));

    writeText(inject, "signal\n");
    r = runIpfw(wordsOf("add 100 allow all from any to any"));
    ASSERT_TRUE(WIFSIGNALED(r.waitStatus));
    EXPECT_EQ(WTERMSIG(r.waitStatus), SIGKILL);
    EXPECT_FALSE(std::filesystem::exists(ipfw::kRulesFile));

    writeText(inject, "flood 1000\n");
    r = runIpfw(wordsOf("add 100 allow all from any to any"));
    EXPECT_EQ(r.status(), 0);
    ASSERT_EQ(r.out.size(), 1000u + 31u);
    EXPECT_EQ(r.out.substr(1000), "00100 allow ip from any to any\n");
    EXPECT_EQ(r.out[999], '\n');

    writeText(inject, "line 600\n");
    r = runIpfw(wordsOf("delete 100"));
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.out, std::string(600, 'l') + "\n");

    writeText(inject, "sleep 1\n");
    auto t0 = std::chrono::steady_clock::now();
    r = runIpfw(wordsOf("delete 100"));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
    EXPECT_EQ(r.status(), 69);

    r = runIpfw(wordsOf("delete 100"));  // consumed: no further effect
    EXPECT_EQ(r.status(), 69);
    EXPECT_EQ(r.out, "");
}

TEST_F(IpfwStateTest, ConcurrentAddsAllLand)
{
    std::vector<Started> started;
    for (int i = 0; i < 8; ++i)
        started.push_back(startIpfw(wordsOf("add allow all from any to any")));
    started.push_back(startIpfw(wordsOf("add 5122 deny all from any to any")));
    started.push_back(startIpfw(wordsOf("add 5123 deny all from any to any")));
    for (Started& s : started) {
        RunResult r = finish(s);
        EXPECT_EQ(r.status(), 0) << r.err;
    }
    std::vector<uint16_t> nums = ruleNumbers(rulesBin());
    ASSERT_EQ(nums.size(), 11u);
    EXPECT_EQ(nums.back(), 65535);
    EXPECT_NE(std::find(nums.begin(), nums.end(), 5122), nums.end());
    EXPECT_NE(std::find(nums.begin(), nums.end(), 5123), nums.end());
    EXPECT_TRUE(std::is_sorted(nums.begin(), nums.end()));
    EXPECT_EQ(std::set<uint16_t>(nums.begin(), nums.end()).size(), nums.size());
}
