// The rule store in one process against the ipfw stand-in run in-process (no
// ipfw process is started): rule file and its repair, numbering, edits,
// queries, reconciliation, checks and tokenizer. Runs in tests/ns-run.sh for
// the rule file's fixed path.
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sys/mount.h>
#include <thread>

#include <gtest/gtest.h>

#include "FwTestSupport.h"
#include "InProcessIpfw.h"
#include "IpfwTool.h"
#include "StoreTestSupport.h"

using namespace fwstore;
using FirewallSDK::FirewallException;
using FirewallSDK::FWDetailedData;

namespace {

/// Changes the kernel by hand, outside the store and unrecorded.
void byHand(const std::string& command)
{
    std::vector<std::string> words;
    std::istringstream in(command);
    for (std::string w; in >> w;)
        words.push_back(w);
    ipfw::runTool(words);
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetState();
        ipfw_.reset();
    }
    void TearDown() override { FWCommands::releaseInstance(); }
    static FWCommands& store() { return *FWCommands::getInstance(); }
    ipfwtest::InProcessIpfw ipfw_;

    /// The code of the FirewallException the call throws; 0 when none.
    template <class Fn>
    static int codeOf(Fn fn)
    {
        try {
            fn();
        } catch (const FirewallException& e) {
            return e.code;
        }
        return 0;
    }

    /// Hand-written table, the kernel holding each rule as the store would
    /// have added it.
    static void seed(const Table& table)
    {
        writeTable(table);
        for (const auto& e : table)
            if (e.first != 65535)
                byHand("add " + std::to_string(e.first) + " allow log { ip } from { any } to { any }");
    }

    static Table tableOf(const std::vector<std::pair<int, uint32_t>>& rules)
    {
        Table t;
        for (const auto& r : rules)
            t[static_cast<uint16_t>(r.first)] = storedRule(r.first, r.second);
        return t;
    }
};

const char* const kDefaultAdd = "add 5002 allow log { ip } from { any } to { any }";

// ---- rule file ----------------------------------------------------------------

TEST_F(StoreTest, FirstQueryOnAFreshMachineAddsTheDefaultRule)
{
    std::vector<FWExtDetailedData> rules;
    store().getStoredRules(rules);

    EXPECT_EQ(ipfw_.callLines(), std::vector<std::string>{kDefaultAdd});
    Table file = readTable();
    ASSERT_EQ(keysOf(file), std::vector<int>{5002});
    const FWExtDetailedData& r = file.at(5002);
    EXPECT_EQ(r.getRuleCategory(), 0x10000001u);
    EXPECT_EQ(r.getActionAsString(), "allow");
    ASSERT_EQ(r.getProtocolByRef().size(), 1u);
    EXPECT_EQ(r.getProtocolByRef()[0].getProtocol(), "ip");
    ASSERT_EQ(r.getSrcIpByRef().size(), 1u);
    EXPECT_EQ(r.getSrcIpByRef()[0].getIPAddress(), "any");
    ASSERT_EQ(r.getDestIpByRef().size(), 1u);
    EXPECT_EQ(r.getDestIpByRef()[0].getIPAddress(), "any");
    EXPECT_EQ(numbersOf(rules), std::vector<int>{5002});
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5002, 65535}));
    EXPECT_EQ(shellOutput("stat -c %a " + kRuleFile), "644\n");
}

TEST_F(StoreTest, FirstAdditionOnAFreshMachineAddsNoDefaultRule)
{
    std::vector<FWExtDetailedData> results;
    ASSERT_EQ(store().addRule(paneRule(), results, 0x10000000u), 0);
    EXPECT_EQ(keysOf(readTable()), std::vector<int>{5122});
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5122, 65535}));
    EXPECT_EQ(ipfw_.calls().size(), 1u);
    EXPECT_EQ(numbersOf(results), std::vector<int>{5122});
}

TEST_F(StoreTest, CorruptFileIsKeptAsideAndRewrittenWithTheTableAndDefaultRule)
{
    seed(tableOf({{5122, 0x10000000u}}));
    std::vector<FWExtDetailedData> rules;
    store().getStoredRules(rules); // the table in memory now holds 5122
    ipfw_.reset();

    std::mt19937 gen(7);
    std::string junk(3000, '\0');
    for (char& c : junk)
        c = static_cast<char>(gen());
    std::ofstream(kRuleFile, std::ios::binary | std::ios::trunc) << junk;
    const std::string before = md5(kRuleFile);

    rules.clear();
    store().getStoredRules(rules);

    EXPECT_EQ(md5(kCorruptFile), before);
    EXPECT_EQ(keysOf(readTable()), (std::vector<int>{5002, 5122}));
    EXPECT_EQ(numbersOf(rules), (std::vector<int>{5002, 5122}));
    EXPECT_EQ(ipfw_.callLines(), std::vector<std::string>{kDefaultAdd});
    EXPECT_EQ(shellOutput("ls " + kVar), "QyvRules\nQyvRules.corrupt\nQyvRules.lock\n");
}

TEST_F(StoreTest, CorruptFileWithTheDefaultRuleInMemoryAddsItOnlyToTheFile)
{
    std::vector<FWExtDetailedData> rules;
    store().getStoredRules(rules); // 5002 added and stored
    ipfw_.reset();
    std::ofstream(kRuleFile, std::ios::trunc) << "22 serialization::archive 18 0 0 9";

    rules.clear();
    store().getStoredRules(rules);
    EXPECT_TRUE(ipfw_.calls().empty());
    EXPECT_EQ(keysOf(readTable()), std::vector<int>{5002});
}

TEST_F(StoreTest, DestructorWritesOnlyAChangeNeverPersisted)
{
    seed(tableOf({{5122, 0x10000000u}}));
    std::vector<FWExtDetailedData> rules;
    store().getStoredRules(rules);
    // Another process writes a newer table meanwhile.
    writeTable(tableOf({{5122, 0x10000000u}, {5123, 0x10000000u}}));
    const std::string newer = fileId(kRuleFile);
    FWCommands::releaseInstance();
    EXPECT_EQ(fileId(kRuleFile), newer);

    store().clearRuleTable();
    FWCommands::releaseInstance();
    EXPECT_TRUE(readTable().empty());
}

TEST_F(StoreTest, ReleaseInstanceEndsTheHostsTracing)
{
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = 5;
    char path[] = "/tmp/fwstore-trace.XXXXXX";
    int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    logFilePtr = std::fopen(path, "a+");
    traceInited = 1;
    store().clearRuleTable();
    FWCommands::releaseInstance();
    EXPECT_EQ(traceInited, 0);
    EXPECT_EQ(logFilePtr, nullptr);
    std::string text = shellOutput(std::string("tail -n 1 ") + path);
    EXPECT_EQ(text, "~FWCommands - Finished\n");
    ::unlink(path);

    // Without a trace file nothing is closed.
    traceInited = 1;
    store();
    FWCommands::releaseInstance();
    EXPECT_EQ(logFilePtr, nullptr);
    EXPECT_EQ(traceInited, 0);
}

TEST_F(StoreTest, SixteenThreadsCallingGetInstanceFirstGetOneInstance)
{
    for (int round = 0; round < 20; ++round) {
        FWCommands::releaseInstance();
        std::atomic<int> ready{0};
        std::vector<FWCommands*> seen(16, nullptr);
        std::vector<std::thread> threads;
        for (int i = 0; i < 16; ++i)
            threads.emplace_back([&, i] {
                ++ready;
                while (ready.load() < 16) {
                }
                seen[i] = FWCommands::getInstance();
            });
        for (auto& t : threads)
            t.join();
        for (FWCommands* p : seen)
            EXPECT_EQ(p, seen[0]);
    }
}

TEST_F(StoreTest, PersistOntoAFullFolderFailsAndLeavesTheOldFile)
{
    seed(tableOf({{5122, 0x10000000u}}));
    ASSERT_EQ(::mount("fwfull", kVar.c_str(), "tmpfs", 0, "size=64k"), 0) << std::strerror(errno);
    writeTable(tableOf({{5122, 0x10000000u}}));
    std::ofstream(kLockFile).close();
    shellOutput("dd if=/dev/zero of=" + kVar + "/filler bs=4k count=100 2>/dev/null");
    const std::string before = fileId(kRuleFile);

    std::vector<FWExtDetailedData> results;
    int code = codeOf([&] { store().addRule(paneRule(), results, 0x10000000u); });
    EXPECT_EQ(code, FirewallSDK::FW_UNKNOWN_ERROR);
    EXPECT_EQ(fileId(kRuleFile), before);
    EXPECT_EQ(shellOutput("ls " + kVar), "QyvRules\nQyvRules.lock\nfiller\n");
    // The lock is free again: room made, the next update goes through.
    ::unlink((kVar + "/filler").c_str());
    EXPECT_EQ(store().addRule(paneRule(5122, "10.0.0.9"), results, 0x10000000u), 0);
    FWCommands::releaseInstance();
    ::umount(kVar.c_str());
}

TEST_F(StoreTest, ALockThatCannotBeTakenStopsTheUpdateBeforeIpfw)
{
    shellOutput("mkdir -p '" + kLockFile + "'"); // a folder cannot be opened for writing
    std::vector<FWExtDetailedData> results;
    EXPECT_EQ(codeOf([&] { store().addRule(paneRule(), results, 0x10000000u); }), FirewallSDK::FW_UNKNOWN_ERROR);
    EXPECT_EQ(codeOf([&] { store().persistRuleTable(); }), FirewallSDK::FW_UNKNOWN_ERROR);
    EXPECT_TRUE(ipfw_.calls().empty());
    EXPECT_FALSE(exists(kRuleFile));
    ::rmdir(kLockFile.c_str());
    // Persisting twice in a row is harmless; the lock is free afterwards.
    EXPECT_EQ(store().persistRuleTable(), 1);
    EXPECT_EQ(store().persistRuleTable(), 1);
    EXPECT_TRUE(readTable().empty());
    EXPECT_EQ(shellOutput("python3 -c 'import fcntl; fcntl.lockf(open(\"" + kLockFile +
                    "\", \"r+\"), fcntl.LOCK_EX | fcntl.LOCK_NB); print(\"locked\")'"),
              "locked\n");
}

// ---- numbering --------------------------------------------------------------------

struct NumberCase {
    const char* name;
    std::vector<std::pair<int, uint32_t>> stored;
    int number;
    uint32_t category;
    int want;
};

TEST_F(StoreTest, NumberingOfANewRule)
{
    const NumberCase cases[] = {
        {"empty table", {}, 5122, 0x10000000u, 5122},
        {"after the highest", {{5002, 0x10000001u}, {5122, 0x10000000u}, {5123, 0x10000000u}}, 5122, 0x10000000u, 5124},
        {"below the range", {{5002, 0x10000001u}}, 5122, 0x10000000u, 5122},
        {"65532 and 65534 passed over", {{5122, 0x10000000u}, {65532, 0x10000000u}, {65534, 0x10000000u}}, 5122,
         0x10000000u, 5123},
        {"65533 passed over", {{5122, 0x10000000u}, {65533, 0x10000000u}}, 5122, 0x10000000u, 5123},
        {"only special rules", {{65532, 0x10000000u}, {65533, 0x10000000u}, {65534, 0x10000000u}}, 5122,
         0x10000000u, 5122},
        {"65535 passed over", {{5122, 0x10000000u}, {65535, 0x10000000u}}, 5122, 0x10000000u, 5123},
        {"group 0x80000000 keeps its number", {{5122, 0x10000000u}}, 7000, 0x80000000u, 7000},
        {"below 5122 kept", {}, 100, 0x10000000u, 100},
        {"65532 kept", {{5122, 0x10000000u}}, 65532, 0x10000000u, 65532},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Table t = tableOf(c.stored);
        writeTable(t);
        std::vector<FWExtDetailedData> results;
        ASSERT_EQ(store().addRule(paneRule(c.number, "any", "any", c.category), results, c.category), 0);
        Table after = readTable();
        t[static_cast<uint16_t>(c.want)];
        EXPECT_EQ(keysOf(after), keysOf(t));
        ASSERT_EQ(ipfw_.calls().size(), 1u);
        EXPECT_EQ(ipfw_.calls()[0].at(1), std::to_string(c.want));
        EXPECT_EQ(after.at(static_cast<uint16_t>(c.want)).getRuleNo(), c.want);
    }
}

TEST_F(StoreTest, TheNumberIpfwPrintsIsStored)
{
    ipfw_.script({"print 07000 allow ip from any to any"});
    std::vector<FWExtDetailedData> results;
    ASSERT_EQ(store().addRule(paneRule(), results, 0x10000000u), 0);
    EXPECT_EQ(ipfw_.calls()[0].at(1), "5122");
    Table t = readTable();
    EXPECT_EQ(keysOf(t), std::vector<int>{7000});
    EXPECT_EQ(t.at(7000).getRuleNo(), 7000);
}

TEST_F(StoreTest, TheRuleFileIsTheArchiveOfItsTableAfterEveryKindOfEdit)
{
    // Additions are written by splicing one record into the text last
    // written: after each step the file must read as the serialisation
    // library's own text of the table it holds.
    auto oracle = [] {
        const Table t = readTable();
        std::ostringstream os;
        {
            boost::archive::text_oarchive ar(os, 0);
            ar << t;
        }
        return os.str();
    };
    auto slurp = [] { return wardtest::readFile(kRuleFile); };
    FWExtDetailedData withPort = paneRule(5122, "10.0.0.9");
    withPort.getDestPortByRef()[0].getPortNo() = "443";
    FWExtDetailedData withInterface = paneRule(5122, "10.0.0.10");
    withInterface.setInterface("via", "lo0");
    struct Step {
        const char* name;
        std::function<void()> run;
    };
    std::vector<FWExtDetailedData> r;
    const Step steps[] = {
        {"first addition", [&] { store().addRule(paneRule(5122, "10.0.0.1"), r, 0x10000000u); }},
        {"second addition", [&] { store().addRule(paneRule(5122, "10.0.0.2"), r, 0x10000000u); }},
        {"the first port", [&] { store().addRule(withPort, r, 0x10000000u); }},
        {"the first interface", [&] { store().addRule(withInterface, r, 0x10000000u); }},
        {"a plain one after them", [&] { store().addRule(paneRule(5122, "10.0.0.3"), r, 0x10000000u); }},
        {"below the first rule", [&] { store().addRule(paneRule(5010, "10.0.0.4"), r, 0x10000000u); }},
        {"the filter rule", [&] { store().addRule(paneRule(65532, "10.0.0.5"), r, 0x10000000u); }},
        {"between others", [&] { store().addRule(paneRule(5122, "10.0.0.6"), r, 0x10000000u); }},
        {"update", [&] { store().updateRule(paneRule(5123, "10.0.0.7"), r, 0x10000000u); }},
        {"swap", [&] { store().swapRules({5122, 5124}, r, 0x10000000u); }},
        {"delete", [&] { store().deleteRule(std::vector<int>{5123}); }},
        {"addition after a delete", [&] { store().addRule(paneRule(5122, "10.0.0.8"), r, 0x10000000u); }},
        {"and one more", [&] { store().addRule(paneRule(5122, "10.0.0.9"), r, 0x10000000u); }},
    };
    size_t rules = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.run();
        const std::string file = slurp();
        ASSERT_EQ(file, oracle());
        EXPECT_EQ(shellOutput("ls " + kVar), "QyvRules\nQyvRules.lock\n");
        rules = readTable().size();
    }
    EXPECT_EQ(rules, 9u);
}

TEST_F(StoreTest, AnAdditionIpfwRefusesLeavesTableFileAndResults)
{
    struct Case {
        const char* script;
        int status; // returned
        int code;   // thrown
    };
    const Case cases[] = {
        {"exit 1", 1, 0},
        {"exit 64", 0, FirewallSDK::FW_INVALID_COMMAND_FOR_EXECUTION},
        {"exit 68", 0, FirewallSDK::FW_NO_SUCH_HOST},
        {"print 99999 allow ip from any to any", 0, FirewallSDK::FW_INVALID_RULE_NUMBER_FOR_SETTING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        SetUp();
        seed(tableOf({{5122, 0x10000000u}, {65532, 0x10000000u}}));
        std::vector<FWExtDetailedData> rules;
        store().getStoredRules(rules); // the store has read the file
        const std::string before = fileId(kRuleFile);
        ipfw_.script({c.script});
        std::vector<FWExtDetailedData> results(1, storedRule(1)); // not emptied by the store
        int status = -1;
        EXPECT_EQ(codeOf([&] { status = store().addRule(paneRule(5122, "10.0.0.1"), results, 0x10000000u); }),
                  c.code);
        if (c.code == 0) {
            EXPECT_EQ(status, c.status);
        }
        EXPECT_EQ(numbersOf(results), std::vector<int>{1});
        EXPECT_EQ(fileId(kRuleFile), before);
        EXPECT_EQ(shellOutput("ls " + kVar), "QyvRules\nQyvRules.lock\n");
        rules.clear();
        store().getStoredRules(rules);
        EXPECT_EQ(numbersOf(rules), (std::vector<int>{5122, 65532}));
    }
}

TEST_F(StoreTest, RefusedRulesRunNoIpfwAndLeaveTheFile)
{
    struct Case {
        const char* name;
        FWExtDetailedData rule;
        int code;
    };
    FWExtDetailedData sourceBad = paneRule(5122, "ANY");
    FWExtDetailedData destBad = paneRule(5122, "any", "10.1.2/8");
    FWExtDetailedData portBad = paneRule();
    portBad.getDestPortByRef()[0].getPortNo() = "0";
    FWExtDetailedData srcPortBad = paneRule();
    srcPortBad.getSrcPortByRef()[0].getPortNo() = "80-";
    // Texts longer than anything valid are refused with their codes too.
    std::string manyPorts = "80";
    for (int i = 1; i < 50000; ++i)
        manyPorts += "," + std::to_string(1000 + i % 1000);
    FWExtDetailedData manyPortsBad = paneRule();
    manyPortsBad.getSrcPortByRef()[0].getPortNo() = manyPorts;
    const FWExtDetailedData longHostBad = paneRule(5122, "any", std::string(1 << 20, 'a'));
    const Case cases[] = {
        {"stored explicit number", paneRule(5002), FirewallSDK::FW_INVALID_RULE_NUMBER},
        {"stored 65532", paneRule(65532), FirewallSDK::FW_INVALID_RULE_NUMBER},
        {"stored group 0x80000000 number", paneRule(7000, "any", "any", 0x80000000u),
         FirewallSDK::FW_INVALID_RULE_NUMBER},
        {"65535", paneRule(65535), FirewallSDK::FW_INVALID_RULE_NUMBER},
        {"invalid source", sourceBad, FirewallSDK::FW_NO_SUCH_SOURCE_HOST},
        {"invalid destination", destBad, FirewallSDK::FW_NO_SUCH_DESTINATION_HOST},
        {"invalid source port", srcPortBad, FirewallSDK::FW_INVALID_SOURCE_PORT},
        {"destination port 0", portBad, FirewallSDK::FW_INVALID_DESTINATION_PORT},
        {"50,000 source ports", manyPortsBad, FirewallSDK::FW_INVALID_SOURCE_PORT},
        {"destination of 1 MiB", longHostBad, FirewallSDK::FW_NO_SUCH_DESTINATION_HOST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        writeTable(tableOf({{5002, 0x10000001u}, {5122, 0x10000000u}, {7000, 0x80000000u}, {65532, 0x10000000u}}));
        const std::string before = fileId(kRuleFile);
        std::vector<FWExtDetailedData> results;
        EXPECT_EQ(codeOf([&] { store().addRule(c.rule, results, 0x10000000u); }), c.code);
        EXPECT_TRUE(ipfw_.calls().empty());
        EXPECT_EQ(fileId(kRuleFile), before);
        EXPECT_TRUE(results.empty());
    }
}

TEST_F(StoreTest, RenumberingKeepsSpecialRulesAndMovesTheRestFrom5001)
{
    Table t = tableOf({{5002, 0x10000001u}, {5122, 0x10000000u}, {6000, 2}, {65531, 0x10000000u},
                       {65532, 0x10000000u}});
    seed(t);
    ipfw_.reset();
    FWExtDetailedData fresh = paneRule();
    fresh.setRuleName("new");
    std::vector<FWExtDetailedData> results;
    ASSERT_EQ(store().addRule(fresh, results, 0x10000000u), 0);

    Table after = readTable();
    ASSERT_EQ(keysOf(after), (std::vector<int>{5001, 5002, 5003, 5004, 6000, 65532}));
    const std::map<int, std::string> names = {{5001, "r5002"}, {5002, "r5122"}, {5003, "r65531"},
                                              {5004, "new"},   {6000, "r6000"}, {65532, "r65532"}};
    for (const auto& e : after) {
        SCOPED_TRACE(e.first);
        EXPECT_EQ(e.second.getRuleNo(), e.first);
        EXPECT_EQ(e.second.getRuleName(), names.at(e.first));
    }
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5001, 5002, 5003, 5004, 6000, 65532, 65535}));
    // Each move adds under the new number, then deletes the old.
    std::vector<std::string> calls = ipfw_.callLines();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0].substr(0, 9), "add 5001 ");
    EXPECT_EQ(calls[1], "delete 5002");
    EXPECT_EQ(calls[6].substr(0, 9), "add 5004 ");
}

TEST_F(StoreTest, NoNumberLeftIsRefusedBeforeIpfw)
{
    Table t;
    FWExtDetailedData r = storedRule(5001);
    for (uint32_t n = 5001; n <= 65531; ++n) {
        r.setRuleNo(static_cast<int32_t>(n));
        t.emplace(static_cast<uint16_t>(n), r);
    }
    writeTable(t);
    const std::string before = fileId(kRuleFile);
    std::vector<FWExtDetailedData> results;
    EXPECT_EQ(codeOf([&] { store().addRule(paneRule(), results, 0x10000000u); }), FirewallSDK::FW_NO_SPACE_LEFT);
    EXPECT_TRUE(ipfw_.calls().empty());
    EXPECT_EQ(fileId(kRuleFile), before);
}

// ---- edits --------------------------------------------------------------------------

TEST_F(StoreTest, SwapExchangesBodiesInTableAndKernel)
{
    std::vector<FWExtDetailedData> results;
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.1"), results, 0x10000000u), 0);
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.2"), results, 0x10000000u), 0);
    results.clear();
    ASSERT_EQ(store().swapRules({5122, 5123}, results, 0x10000000u), 0);
    Table t = readTable();
    EXPECT_EQ(t.at(5122).getSrcIp(), "10.0.0.2");
    EXPECT_EQ(t.at(5123).getSrcIp(), "10.0.0.1");
    EXPECT_EQ(t.at(5122).getRuleNo(), 5122);
    std::vector<FWExtDetailedData> kernel;
    FirewallSDK::FWWrapper().getFirewallRules(kernel);
    ASSERT_EQ(numbersOf(kernel), (std::vector<int>{5122, 5123, 65535}));
    EXPECT_EQ(kernel[0].getSrcIpByRef().at(0).getIPAddress(), "10.0.0.2");
    EXPECT_EQ(kernel[1].getSrcIpByRef().at(0).getIPAddress(), "10.0.0.1");
    EXPECT_EQ(numbersOf(results), (std::vector<int>{5122, 5123}));

    ipfw_.reset();
    const std::string before = fileId(kRuleFile);
    EXPECT_EQ(codeOf([&] { store().swapRules({5122, 9999}, results, 0x10000000u); }),
              FirewallSDK::FW_INVALID_RULE_NUMBER);
    EXPECT_TRUE(ipfw_.calls().empty());
    EXPECT_EQ(fileId(kRuleFile), before);
}

TEST_F(StoreTest, FailedSwapStepsAreUndone)
{
    std::vector<FWExtDetailedData> results;
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.1"), results, 0x10000000u), 0);
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.2"), results, 0x10000000u), 0);
    const std::string before = fileId(kRuleFile);
    // delete 5122, delete 5123, add 5122 fails with 68.
    ipfw_.script({"", "", "exit 68"});
    EXPECT_EQ(codeOf([&] { store().swapRules({5122, 5123}, results, 0x10000000u); }), FirewallSDK::FW_NO_SUCH_HOST);
    EXPECT_EQ(fileId(kRuleFile), before);
    std::vector<FWExtDetailedData> kernel;
    FirewallSDK::FWWrapper().getFirewallRules(kernel);
    ASSERT_EQ(numbersOf(kernel), (std::vector<int>{5122, 5123, 65535}));
    EXPECT_EQ(kernel[0].getSrcIpByRef().at(0).getIPAddress(), "10.0.0.1");
    EXPECT_EQ(kernel[1].getSrcIpByRef().at(0).getIPAddress(), "10.0.0.2");
}

TEST_F(StoreTest, DeleteByCategoryAndByNumber)
{
    std::vector<FWExtDetailedData> rules;
    store().getStoredRules(rules); // 5002
    ASSERT_EQ(store().addRule(paneRule(), rules, 0x10000000u), 0);
    EXPECT_EQ(store().deleteRule(0x10000001u), 1);
    EXPECT_EQ(keysOf(readTable()), std::vector<int>{5122});
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5122, 65535}));

    ipfw_.reset();
    store().deleteRule(std::vector<int>{5122, 5122});
    EXPECT_TRUE(readTable().empty());
    EXPECT_EQ(ipfw_.callLines(), (std::vector<std::string>{"delete 5122", "delete 5122"}));
}

TEST_F(StoreTest, ARowWhoseKernelDeleteFailedStays)
{
    std::vector<FWExtDetailedData> rules;
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.1"), rules, 0x10000000u), 0);
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.2"), rules, 0x10000000u), 0);
    ipfw_.script({"exit 71"});
    EXPECT_EQ(store().deleteRule(0x10000000u), 0);
    EXPECT_EQ(keysOf(readTable()), std::vector<int>{5122});
    ipfw_.script({"exit 71"});
    store().deleteRule(std::vector<int>{5122});
    EXPECT_EQ(keysOf(readTable()), std::vector<int>{5122});
}

TEST_F(StoreTest, UpdateTakesTheNumberFromTheAddsOwnLine)
{
    std::vector<FWExtDetailedData> results;
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.1"), results, 0x10000000u), 0);
    ipfw_.script({"echo 09999 stray"});
    ASSERT_EQ(store().updateRule(paneRule(5122, "10.0.0.7"), results, 0x10000000u), 0);
    Table t = readTable();
    ASSERT_EQ(keysOf(t), std::vector<int>{5122});
    EXPECT_EQ(t.at(5122).getSrcIp(), "10.0.0.7");
}

TEST_F(StoreTest, FailedUpdateKeepsTheOldRuleInTableAndKernel)
{
    struct Case {
        const char* name;
        std::vector<std::string> script; // delete, add
        int status;
        int code;
    };
    const Case cases[] = {
        {"bad number printed", {"", "print xyz"}, 0, FirewallSDK::FW_INVALID_RULE_NUMBER_FOR_SETTING},
        {"non-zero status", {"", "exit 3"}, 3, 0},
        {"exception", {"", "exit 68"}, 0, FirewallSDK::FW_NO_SUCH_HOST},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::vector<FWExtDetailedData> results;
        ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.1"), results, 0x10000000u), 0);
        const Table before = readTable();
        ipfw_.script(c.script);
        int status = -1;
        EXPECT_EQ(codeOf([&] { status = store().updateRule(paneRule(5122, "10.0.0.7"), results, 0x10000000u); }),
                  c.code);
        if (c.code == 0) {
            EXPECT_EQ(status, c.status);
        }
        Table after = readTable();
        ASSERT_EQ(keysOf(after), std::vector<int>{5122});
        EXPECT_EQ(after.at(5122).getSrcIp(), "10.0.0.1");
        std::vector<FWExtDetailedData> kernel;
        FirewallSDK::FWWrapper().getFirewallRules(kernel);
        ASSERT_EQ(numbersOf(kernel), (std::vector<int>{5122, 65535}));
        EXPECT_TRUE(before.at(5122) == kernel[0]);
    }
}

// ---- queries ----------------------------------------------------------------------

TEST_F(StoreTest, CategoryQueriesOfTableAndKernel)
{
    std::vector<FWExtDetailedData> scratch;
    store().getStoredRules(scratch); // 5002, category 0x10000001
    ASSERT_EQ(store().addRule(paneRule(5122, "10.0.0.1"), scratch, 0x10000000u), 0);
    // A 0x20000001 rule whose body is the default rule's twin.
    FWExtDetailedData twin = paneRule(5122, "any", "any", 0x20000001u);
    twin.isLogging(true);
    ASSERT_EQ(store().addRule(twin, scratch, 0x20000000u), 0);
    byHand("add 6000 deny all from any to any"); // outside the store

    struct Case {
        unsigned category;
        int result;
        std::vector<int> stored;
        std::vector<int> kernel;
    };
    const Case cases[] = {
        {0x10000000u, 1, {5002, 5122}, {5002, 5122}},
        {0x20000000u, 1, {5123}, {5123}},
        {0x10000001u, 1, {}, {}},
        {0x00000001u, 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.category);
        std::vector<FWExtDetailedData> stored{storedRule(1)};
        EXPECT_EQ(store().getStoredRulesBasedOnCategory(c.category, stored), c.result);
        std::vector<int> want{1};
        want.insert(want.end(), c.stored.begin(), c.stored.end());
        EXPECT_EQ(numbersOf(stored), want);
        std::vector<FWExtDetailedData> kernel;
        EXPECT_EQ(store().getRealTimeRulesBasedOnCategory(c.category, kernel), c.result);
        EXPECT_EQ(numbersOf(kernel), c.kernel);
    }
    EXPECT_EQ(store().ruleCountInStore(0x10000000u), 1);
    EXPECT_EQ(store().ruleCountInStore(0x10000001u), 1);
    EXPECT_TRUE(store().isRuleInStore(70658)); // 5122 + 65536
    EXPECT_FALSE(store().isRuleInStore(6000));
    FWExtDetailedData found;
    EXPECT_TRUE(store().getStoredRuleByNumber(5122, found));
    EXPECT_EQ(found.getSrcIp(), "10.0.0.1");
}

// ---- reconciliation ------------------------------------------------------------------

TEST_F(StoreTest, HealthCheckRepairsTheKernelWithExactCommands)
{
    const std::string add = " allow log { ip } from { any } to { any }";
    struct Case {
        const char* name;
        std::vector<int> stored;
        std::vector<std::string> kernel; // stand-in add lines
        int apply;                       // applyAllStoredRules on its own
        std::vector<std::string> calls;  // of the health check
        std::vector<int> table;          // afterwards
    };
    const Case cases[] = {
        {"empty kernel", {5002, 5200, 5300}, {}, 1,
         {"add 5002" + add, "add 5122" + add, "add 5123" + add}, {5002, 5122, 5123}},
        {"extra kernel rule", {}, {"add 5122" + add}, 0, {"delete 5122"}, {}},
        {"missing rule", {5122, 5130}, {"add 5122" + add}, 0, {"add 5130" + add}, {5122, 5130}},
        {"rule the table lacks", {5130}, {"add 5122" + add, "add 5130" + add}, 0, {"delete 5122"}, {5130}},
        {"other body", {5122}, {"add 5122 deny log { ip } from { any } to { any }"}, 0,
         {"delete 5122", "add 5122" + add}, {5122}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int applyFirst = 0; applyFirst < 2; ++applyFirst) {
            SetUp();
            Table t;
            for (int n : c.stored)
                t[static_cast<uint16_t>(n)] = storedRule(n, n == 5002 ? 0x10000001u : 0x10000000u);
            writeTable(t);
            for (const std::string& k : c.kernel)
                byHand(k);
            if (applyFirst) {
                EXPECT_EQ(store().applyAllStoredRules(), c.apply);
                if (c.apply == 0) {
                    EXPECT_TRUE(ipfw_.calls().empty());
                }
                continue;
            }
            fwtest::TraceCapture trace;
            fwtest::LevelGuard levels;
            fwCommandFlowvalue = 3;
            EXPECT_EQ(store().ruleHealthCheck(), 1);
            EXPECT_EQ(ipfw_.callLines(), c.calls);
            EXPECT_EQ(keysOf(readTable()), c.table);
            EXPECT_EQ(trace.text().find("ruleHealthCheck - Firewall is empty\n") != std::string::npos,
                      c.apply == 1);
            logFilePtr = nullptr;
            FWCommands::releaseInstance();
        }
    }
}

TEST_F(StoreTest, AFailedReAddKeepsTheRuleUnderItsOldNumber)
{
    Table t;
    for (int n : {5002, 5200, 5300})
        t[static_cast<uint16_t>(n)] = storedRule(n);
    writeTable(t);
    ipfw_.script({"", "exit 68"});
    EXPECT_EQ(store().applyAllStoredRules(), 1);
    EXPECT_EQ(keysOf(readTable()), (std::vector<int>{5002, 5200, 5201}));
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5002, 5201, 65535}));
}

class NoChurnTest : public StoreTest, public ::testing::WithParamInterface<FirewallSDK::FWTrafficDirection> {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        // Two addresses for one name.
        std::string d = ScriptedIpfw::newFolder();
        std::ofstream(d + "/hosts") << "127.0.0.1 localhost\n10.0.0.1 twohost\n10.0.0.2 twohost\n";
        std::ofstream(d + "/host.conf") << "multi on\n";
        std::ofstream(d + "/nsswitch.conf") << "hosts: files\n";
        for (const char* f : {"hosts", "host.conf", "nsswitch.conf"})
            ASSERT_EQ(::mount((d + "/" + f).c_str(), (std::string("/etc/") + f).c_str(), nullptr, MS_BIND, nullptr),
                      0);
    }
    void TearDown() override
    {
        for (const char* f : {"hosts", "host.conf", "nsswitch.conf"})
            ::umount((std::string("/etc/") + f).c_str());
        StoreTest::TearDown();
    }
};

TEST_P(NoChurnTest, PaneBuiltRulesEqualTheirKernelTwins)
{
    std::vector<FWExtDetailedData> rules;
    auto add = [&](FWExtDetailedData r, unsigned category) {
        ASSERT_EQ(store().addRule(r, rules, category), 0);
    };
    add(paneRule(), 0x10000000u);
    FWExtDetailedData filter = paneRule(65532);
    filter.setAction(FirewallSDK::FW_ACTION_DENY);
    filter.setTrafficDirection(GetParam());
    add(filter, 0x10000000u);
    add(paneRule(5122, "10.1.2.3/8"), 0x10000000u);
    add(paneRule(5122, "any", "twohost"), 0x10000000u);
    FWExtDetailedData ports = paneRule(5122, "me");
    ports.getDestPortByRef()[0].getPortNo() = "80,1000-2000";
    ports.setProtocol(FirewallSDK::FW_PROTOCOL_TCP);
    add(ports, 0x10000000u);
    add(paneRule(7000, "any", "any", 0x80000000u), 0x80000000u);
    FWExtDetailedData def = paneRule(5002, "any", "any", 0x10000001u);
    def.isLogging(true);
    add(def, 0x10000000u);

    ipfw_.reset();
    const std::string kernelBefore = fileId(kRulesBin);
    EXPECT_EQ(store().ruleHealthCheck(), 1);
    EXPECT_TRUE(ipfw_.calls().empty()) << ipfw_.callLines().front();
    EXPECT_EQ(fileId(kRulesBin), kernelBefore);

    std::vector<FWExtDetailedData> marked;
    store().getRealTimeRule(marked);
    ASSERT_EQ(marked.size(), 8u);
    for (const auto& r : marked)
        EXPECT_EQ(r.getRuleCategory() == 0, r.getRuleNo() == 65535) << r.getRuleNo();

    // One rule lost, one foreign, one changed: exactly those are repaired.
    byHand("delete 5123");
    byHand("add 6000 deny all from any to any");
    byHand("delete 5122");
    byHand("add 5122 deny all from any to any");
    ipfw_.reset();
    EXPECT_EQ(store().ruleHealthCheck(), 1);
    std::vector<std::string> calls = ipfw_.callLines();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], "delete 5122");
    EXPECT_EQ(calls[1].substr(0, 9), "add 5122 ");
    EXPECT_EQ(calls[2].substr(0, 9), "add 5123 ");
    EXPECT_EQ(calls[3], "delete 6000");
    ipfw_.reset();
    EXPECT_EQ(store().ruleHealthCheck(), 1);
    EXPECT_TRUE(ipfw_.calls().empty());
}

INSTANTIATE_TEST_SUITE_P(FilterDirection, NoChurnTest,
                         ::testing::Values(FirewallSDK::FW_DIRECTION_IN, FirewallSDK::FW_DIRECTION_OUT));

// ---- checks and tokenizer --------------------------------------------------------------

TEST_F(StoreTest, AddressChecksRebuildTheList)
{
    struct Case {
        const char* text;
        int target;
        bool valid;
        const char* single;
        std::vector<std::string> list;
    };
    const Case cases[] = {
        {"any", 1, true, "any", {"any"}},
        {"me", 2, true, "me", {"me"}},
        {"10.1.2.3/8", 1, true, "10.0.0.0/8", {"10.0.0.0/8"}},
        {"10.1.2.3", 2, true, "10.1.2.3", {"10.1.2.3"}},
        {"ANY", 1, false, "ANY", {}},
        {"any", 3, false, "any", {"stale"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " target " + std::to_string(c.target));
        FWExtDetailedData r = paneRule(5122, c.text, c.text);
        r.setSrcIp(FWDetailedData::FIELD_NOT, "stale");
        r.setDestIp(FWDetailedData::FIELD_NOT, "stale");
        auto target = static_cast<FirewallSDK::TargetType>(c.target);
        EXPECT_EQ(store().validateIPAddresses(r, target), c.valid);
        const auto& list = c.target == 2 ? r.getDestIpByRef() : r.getSrcIpByRef();
        EXPECT_EQ(c.target == 2 ? r.getDestIp() : r.getSrcIp(), c.single);
        std::vector<std::string> texts;
        for (const auto& e : list) {
            texts.push_back(e.getIPAddress());
            EXPECT_EQ(e.getIPFlag(), c.target == 3 ? FWDetailedData::FIELD_NOT : FWDetailedData::FIELD_PLAIN);
        }
        EXPECT_EQ(texts, c.list);
    }
    FWExtDetailedData r = paneRule();
    EXPECT_FALSE(store().validatePortNumber(r, static_cast<FirewallSDK::TargetType>(3)));
    FWExtDetailedData none;
    EXPECT_TRUE(store().validatePortNumber(none, FirewallSDK::FW_TARGET_SOURCE));
    EXPECT_TRUE(store().validatePortNumber(none, FirewallSDK::FW_TARGET_DESTINATION));
    EXPECT_EQ(codeOf([&] { store().addRuleToIpfw(paneRule(5122, "ANY")); }), FirewallSDK::FW_NO_SUCH_SOURCE_HOST);
    FWExtDetailedData port0 = paneRule();
    port0.getDestPortByRef()[0].getPortNo() = "0";
    EXPECT_EQ(codeOf([&] { store().addRuleToIpfw(port0); }), FirewallSDK::FW_INVALID_DESTINATION_PORT);
    EXPECT_TRUE(ipfw_.calls().empty());
}

TEST_F(StoreTest, Tokenizer)
{
    struct Case {
        std::string text;
        char separator;
        std::vector<std::string> tokens;
    };
    const std::string longToken(300, 'x');
    const Case cases[] = {
        {"05122 allow ip from any to any\n", ' ', {"05122", "allow", "ip", "from", "any", "to", "any"}},
        {"a  b", ' ', {"a", ""}},
        {longToken + " tail", ' ', {longToken}},
        {"a,b", '\0', {"a,b"}},
        {"", ' ', {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        std::vector<std::string> tokens{"kept"};
        EXPECT_EQ(store().tokenizer(tokens, c.text, c.separator), 1);
        std::vector<std::string> want{"kept"};
        want.insert(want.end(), c.tokens.begin(), c.tokens.end());
        EXPECT_EQ(tokens, want);
    }
}

// ---- threads ----------------------------------------------------------------------------

TEST_F(StoreTest, ThreadsMixingAdditionsAndQueries)
{
    std::vector<FWExtDetailedData> scratch;
    store().getStoredRules(scratch); // created before the threads
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                try {
                    std::vector<FWExtDetailedData> rules;
                    switch ((t + i) % 3) {
                    case 0:
                        if (store().addRule(paneRule(5122, "10.0.0." + std::to_string(t * 4 + i + 1)), rules,
                                            0x10000000u) != 0)
                            ++failures;
                        break;
                    case 1:
                        store().getStoredRules(rules);
                        break;
                    case 2:
                        store().getRealTimeRule(rules);
                        break;
                    }
                } catch (...) {
                    ++failures;
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    Table t = readTable();
    std::vector<int> kernel = kernelNumbers();
    kernel.pop_back();
    EXPECT_EQ(keysOf(t), kernel);
}

} // namespace
