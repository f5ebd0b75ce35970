// The rule file's reader refuses collection counts and string lengths
// larger than the file, before allocating from them; the store keeps such a
// file aside as corrupt. Runs in tests/ns-run.sh with the scripted ipfw.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <new>
#include <sstream>

#include <gtest/gtest.h>

#include "BoundedIArchive.h"
#include "FWSerialize.h"
#include "StoreTestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define BOUNDED_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BOUNDED_TEST_ASAN 1
#endif
#endif

using namespace fwstore;

namespace {

enum Outcome { Refused = 0, Read = 1, OutOfMemory = 2, OtherError = 3, Crashed = 4 };

/// Reads `text` as a rule table in a child limited to 256 MiB of address
/// space (no limit under AddressSanitizer).
Outcome readInLimitedChild(const std::string& text)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifndef BOUNDED_TEST_ASAN
        const rlimit lim{256u << 20, 256u << 20};
        ::setrlimit(RLIMIT_AS, &lim);
#endif
        int code = OtherError;
        try {
            std::istringstream in(text);
            HVO::bounded_iarchive ar(in, 0);
            Table table;
            FirewallSDK::readRecord(ar, table);
            code = Read;
        } catch (const boost::archive::archive_exception&) {
            code = Refused;
        } catch (const std::bad_alloc&) {
            code = OutOfMemory;
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return Crashed;
    return static_cast<Outcome>(WEXITSTATUS(status));
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
    std::string value; // empty: one more than the characters left after it
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
/// list's class information "0 0").
std::string tampered(const Case& c)
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
    // after a count: the rest; after a length: the rest but its space
    const size_t left = text.size() - end - (c.field == NameLength ? 1 : 0);
    const std::string value = c.value.empty() ? std::to_string(left + 1) : c.value;
    return text.substr(0, begin) + value + text.substr(end);
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
        EXPECT_EQ(readInLimitedChild(text), Refused);
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

} // namespace
