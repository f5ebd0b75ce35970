// The rule file's reader refuses collection counts and string lengths
// larger than the file, before allocating from them; the store keeps such a
// file aside as corrupt. Runs in tests/ns-run.sh with the scripted ipfw.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "BoundedIArchive.h"
#include "FWSerialize.h"
#include "LimitedChild.h"
#include "StoreTestSupport.h"

using namespace fwstore;

namespace {

enum Outcome { Refused = 0, Read = 1 };

/// Reads `text` as a rule table in a child limited to 256 MiB of address
/// space (no limit under AddressSanitizer).
wardtest::ChildRun readInLimitedChild(const std::string& text)
{
    return wardtest::runLimited([&] {
               try {
                   std::istringstream in(text);
                   HVO::bounded_iarchive ar(in, 0);
                   Table table;
                   FirewallSDK::readRecord(ar, table);
                   return int(Read);
               } catch (const boost::archive::archive_exception&) {
                   return int(Refused);
               }
           });
}

/// The text of a table holding rule 5122 named "MARK".
std::string honestText()
{
    Table table;
    table[5122] = storedRule(5122, 0x10000000u, "MARK");
    std::ostringstream out;
    {
        boost::archive::text_oarchive ar(out, 0);
        ar << table;
    }
    return out.str();
}

enum Field { ProtocolCount, NameLength };

struct Case {
    const char* what;
    Field field;
    std::string value; // "=": the characters left after it; empty: one more
};

const Case kCases[] = {
    {"protocol count 10^12", ProtocolCount, "1000000000000"},
    {"protocol count 10^8", ProtocolCount, "100000000"},
    {"protocol count left+1", ProtocolCount, ""},
    {"name length 10^12", NameLength, "1000000000000"},
    {"name length 10^8", NameLength, "100000000"},
    {"name length left+1", NameLength, ""},
};

/// The honest text with the field replaced: the rule name's length, or the
/// protocol count (after the name, action, direction, category and the
/// list's class information "0 0"). With `bytes`, blanks after the field
/// make the text that long.
std::string tampered(const Case& c, size_t bytes = 0)
{
    const std::string text = honestText();
    size_t begin = text.find(" 4 MARK ");
    if (begin == std::string::npos)
        return "";
    begin += 1;
    if (c.field == ProtocolCount)
        for (int skip = 0; skip < 8; ++skip)
            begin = text.find(' ', begin) + 1;
    const size_t end = text.find(' ', begin);
    const std::string rest = text.substr(end);
    const size_t digits = std::to_string(bytes).size();
    const size_t pad = bytes > begin + digits + rest.size() ? bytes - begin - digits - rest.size() : 0;
    // after a count: the rest; after a length: the rest but its space
    const size_t left = pad + rest.size() - (c.field == NameLength ? 1 : 0);
    const std::string value = c.value.empty() ? std::to_string(left + 1) : c.value == "=" ? std::to_string(left) : c.value;
    return text.substr(0, begin) + value + std::string(pad, ' ') + rest;
}

TEST(BoundedRuleFile, HonestTableReadsBack)
{
    std::istringstream in(honestText());
    HVO::bounded_iarchive ar(in, 0);
    Table table;
    FirewallSDK::readRecord(ar, table);
    ASSERT_EQ(keysOf(table), std::vector<int>{5122});
    EXPECT_EQ(table[5122].getRuleName(), "MARK");
}

TEST(BoundedRuleFile, HostileCountsAndLengthsAreRefusedWithoutAllocating)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string text = tampered(c);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(readInLimitedChild(text).code, Refused);
    }
}

constexpr size_t kLargeBytes = 16u << 20;
constexpr long kSlackKiB = 8 << 10;

TEST(BoundedRuleFile, CountThatFitsCostsOnlyWhatIsRead)
{
    // 16 MB whose protocol count equals the characters left passes the
    // count check; reading it may cost twice the text and 8 MiB.
    const std::string text = tampered({"protocol count left", ProtocolCount, "="}, kLargeBytes);
    ASSERT_EQ(kLargeBytes, text.size());
    const wardtest::ChildRun run = readInLimitedChild(text);
    EXPECT_EQ(Refused, run.code) << "100: out of memory";
    if (!wardtest::kSanitized && run.peakGrowthKiB >= 0) {
        EXPECT_LE(run.peakGrowthKiB, long(2 * kLargeBytes / 1024) + kSlackKiB);
    }
}

class BoundedRuleFileStore : public ::testing::Test {
protected:
    void SetUp() override { resetMachine(); }
    void TearDown() override { FWCommands::releaseInstance(); }
};

TEST_F(BoundedRuleFileStore, FileWithAHugeCountIsKeptAsideAsCorrupt)
{
    std::vector<FWExtDetailedData> rules;
    FWCommands::getInstance()->getStoredRules(rules); // 5002 added and stored
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        ::unlink(kCorruptFile.c_str());
        std::ofstream(kRuleFile, std::ios::binary | std::ios::trunc) << tampered(c);
        const std::string before = md5(kRuleFile);

        rules.clear();
        FWCommands::getInstance()->getStoredRules(rules);
        EXPECT_EQ(md5(kCorruptFile), before);
        EXPECT_EQ(keysOf(readTable()), std::vector<int>{5002});
        EXPECT_EQ(numbersOf(rules), std::vector<int>{5002});
    }
}

TEST_F(BoundedRuleFileStore, LargeFileCostsNoMoreThanItsBytes)
{
    // The store reads the file at its size, without copies of it.
    const std::string text = tampered({"protocol count left", ProtocolCount, "="}, kLargeBytes);
    std::vector<FWExtDetailedData> rules;
    FWCommands::getInstance()->getStoredRules(rules); // 5002 added and stored
    FWCommands::releaseInstance();
    ASSERT_TRUE(std::ofstream(kRuleFile, std::ios::binary | std::ios::trunc) << text);
    const std::string before = md5(kRuleFile);

    const wardtest::ChildRun run = wardtest::runLimited([] {
        std::vector<FWExtDetailedData> rules;
        FWCommands::getInstance()->getStoredRules(rules);
        FWCommands::releaseInstance();
        return numbersOf(rules) == std::vector<int>{5002} ? 0 : 1;
    });
    EXPECT_EQ(0, run.code);
    if (!wardtest::kSanitized && run.peakGrowthKiB >= 0) {
        EXPECT_LE(run.peakGrowthKiB, long(2 * kLargeBytes / 1024) + kSlackKiB);
    }
    EXPECT_EQ(md5(kCorruptFile), before);
}

} // namespace
