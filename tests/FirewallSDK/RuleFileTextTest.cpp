// The rule file's text built a record at a time, and an addition spliced
// into it, against the oracle: the serialisation library writing the whole
// table (`text_oarchive(os, 0) << table`).
#include <sstream>
#include <string>
#include <vector>

#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/map.hpp>
#include <gtest/gtest.h>

#include "FWRuleFileText.h"

using namespace FirewallSDK;
using Flags = FWDetailedData;

namespace {

std::string wholeArchive(const RuleTable& table)
{
    std::ostringstream os;
    {
        boost::archive::text_oarchive ar(os, 0);
        ar << table;
    }
    return os.str();
}

/// A rule holding the optional parts named in `parts`: p(rotocol), a(ddress),
/// o (port), i(nterface); "-" for none.
FWExtDetailedData rule(int number, const std::string& parts)
{
    FWExtDetailedData r;
    r.setRuleNo(number);
    r.setRuleName("rule \"" + std::to_string(number) + "\" with a name");
    r.setAction(number % 2 ? "allow" : "deny");
    r.setRuleCategory(0x10000000u | static_cast<uint32_t>(number % 7));
    r.setProbability(0.25 * (number % 4));
    r.setActionOptPort(static_cast<uint16_t>(number));
    for (char c : parts) {
        switch (c) {
        case 'p':
            r.setProtocol(Flags::FIELD_OR, "tcp");
            r.setProtocol(Flags::FIELD_PLAIN, "udp");
            break;
        case 'a':
            r.setSrcIp(Flags::FIELD_NOT, "10.0.0." + std::to_string(number % 250));
            r.setDestIp(Flags::FIELD_PLAIN, "me");
            break;
        case 'o':
            r.setDestPort(Flags::FIELD_PLAIN, "80,443");
            break;
        case 'i':
            r.setInterface("via", "en" + std::to_string(number % 3));
            r.setInterface("xmit", "lo0");
            break;
        default:
            break;
        }
    }
    return r;
}

RuleTable tableOf(const std::vector<std::pair<int, std::string>>& rules)
{
    RuleTable t;
    for (const auto& r : rules)
        t.emplace(static_cast<uint16_t>(r.first), rule(r.first, r.second));
    return t;
}

struct Case {
    const char* name;
    RuleTable table;
};

const std::vector<Case>& cases()
{
    static const std::vector<Case> all = [] {
        std::vector<Case> c = {
            {"empty", {}},
            {"one bare rule", tableOf({{5122, "-"}})},
            {"one rule with every part", tableOf({{5002, "paoi"}})},
            {"first rule describes every part", tableOf({{5002, "paoi"}, {5122, "-"}, {5123, "pa"}, {65532, "oi"}})},
            // Each part described by a later record than the first.
            {"parts met one at a time", tableOf({{5001, "-"}, {5002, "a"}, {5003, "-"}, {5004, "pa"}, {5005, "o"},
                                                 {5006, "paoi"}, {5007, "i"}, {5008, "-"}})},
            {"a part met only in the last rule", tableOf({{5122, "a"}, {5123, "a"}, {65535, "i"}})},
        };
        RuleTable many;
        for (int i = 0; i < 1000; ++i)
            many.emplace(static_cast<uint16_t>(5122 + i), rule(5122 + i, i % 97 == 0 ? "paoi" : i < 300 ? "a" : "pa"));
        c.push_back({"a thousand rules", many});
        return c;
    }();
    return all;
}

} // namespace

TEST(RuleFileText, BuiltARecordAtATimeReadsAsTheWholeArchive)
{
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        std::string text = "left over";
        RuleFileLayout layout;
        buildRuleFileText(c.table, text, layout);
        EXPECT_EQ(text, wholeArchive(c.table));
        ASSERT_EQ(layout.numbers.size(), c.table.size());
        EXPECT_EQ(text.substr(layout.countAt, layout.countSize), std::to_string(c.table.size()));
    }
}

TEST(RuleFileText, ASplicedRecordReadsAsTheWholeArchiveOrIsRefused)
{
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        size_t spliced = 0;
        size_t index = 0;
        // Each record in turn is the addition (a sample of the large table),
        // and then the record after it, into the text the first splice left:
        // as the store's next addition would.
        for (auto entry = c.table.begin(); entry != c.table.end(); ++entry) {
            if (index++ % (c.table.size() > 50 ? 41 : 1) != 0)
                continue;
            const auto after = std::next(entry);
            RuleTable withFirst = c.table;
            if (after != c.table.end())
                withFirst.erase(after->first);
            RuleTable less = withFirst;
            less.erase(entry->first);
            std::string text;
            RuleFileLayout layout;
            buildRuleFileText(less, text, layout);
            const std::string before = text;
            if (!spliceRuleFileText(withFirst, entry->first, text, layout)) {
                EXPECT_EQ(text, before) << "a refusal changes nothing";
                continue;
            }
            ++spliced;
            ASSERT_EQ(text, wholeArchive(withFirst)) << "record " << entry->first;
            if (after != c.table.end() && spliceRuleFileText(c.table, after->first, text, layout)) {
                ASSERT_EQ(text, wholeArchive(c.table)) << "record " << after->first << " after " << entry->first;
            }
        }
        if (c.table.size() > 1) {
            EXPECT_GT(spliced, 0u);
        }
    }
}

TEST(RuleFileText, RecordsThatDescribeAClassAreNotSpliced)
{
    const RuleTable table = tableOf({{5001, "-"}, {5002, "a"}, {5003, "a"}, {5004, "ao"}, {5005, "a"}});
    struct Refusal {
        int number;
        bool spliced;
        const char* why;
    };
    const Refusal refusals[] = {
        {5001, false, "the first record"},
        {5002, false, "describes the address"},
        {5003, true, "an address, described before it"},
        {5004, false, "describes the port"},
        {5005, true, "last, nothing new"},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.why);
        RuleTable less = table;
        less.erase(static_cast<uint16_t>(r.number));
        std::string text;
        RuleFileLayout layout;
        buildRuleFileText(less, text, layout);
        EXPECT_EQ(spliceRuleFileText(table, static_cast<uint16_t>(r.number), text, layout), r.spliced);
    }
    // A layout that is not the table's less one record is refused.
    std::string text;
    RuleFileLayout layout;
    buildRuleFileText(table, text, layout);
    EXPECT_FALSE(spliceRuleFileText(table, 5005, text, layout));
}
