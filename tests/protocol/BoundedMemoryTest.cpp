// A payload whose collection count equals the characters left passes the
// count check; its reader must then cost only what it actually reads. Each
// 16 MB payload is read in a child limited to 256 MiB of address space
// whose peak resident memory may grow by at most twice the input and 8 MiB.
#include <list>
#include <string>
#include <vector>

#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/list.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "AppRecordPayload.h"
#include "CommandData.h"
#include "FWRecords.h"
#include "LimitedChild.h"

using HVO::PayloadAccess;

namespace {

constexpr size_t kInputBytes = 16u << 20;
constexpr long kSlackKiB = 8 << 10;

template <class T> std::wstring payloadText(T value)
{
    HVO::CommandData command(20001, APP_PROTECTION_HVK_ID, false);
    command.setCustomData(value);
    return PayloadAccess::outputText(command);
}

/// `text`, the payload of a one-element collection, with its count set to
/// the number of characters after it, padded with blanks right after the
/// count so that the whole text is `bytes` bytes as a wide string. The
/// count follows the archive header and the collection's class information.
std::wstring countEqualsLeft(const std::wstring& text, size_t bytes)
{
    size_t begin = 0;
    for (int skip = 0; skip < 5; ++skip)
        begin = text.find(L' ', begin) + 1;
    const size_t end = text.find(L' ', begin);
    EXPECT_EQ(L"1", text.substr(begin, end - begin)) << text;
    const std::wstring rest = text.substr(end);
    const size_t chars = bytes / sizeof(wchar_t);
    const size_t digits = std::to_wstring(chars).size();
    const size_t pad = chars - begin - digits - rest.size();
    const std::wstring count = std::to_wstring(pad + rest.size());
    EXPECT_EQ(count.size(), digits);
    return text.substr(0, begin) + count + std::wstring(pad, L' ') + rest;
}

template <class T> void expectRefusedWithinBudget(const T& honest)
{
    const std::wstring text = countEqualsLeft(payloadText(honest), kInputBytes);
    const wardtest::ChildRun run = wardtest::runLimited([&] {
        HVO::SerializedData d;
        PayloadAccess::setInput(d, text);
        T value;
        try {
            d.getCustomData(value);
        } catch (const boost::archive::archive_exception&) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(0, run.code) << "0 refused, 1 read, 100 out of memory";
    if (!wardtest::kSanitized && run.peakGrowthKiB >= 0) {
        EXPECT_LE(run.peakGrowthKiB, long(2 * kInputBytes / 1024) + kSlackKiB);
    }
}

TEST(BoundedMemory, ApplicationRecords)
{
    AppProtection::BasicAppRecord record;
    record.setAppPath("/Applications/Mail.app/Contents/MacOS/Mail");
    expectRefusedWithinBudget(std::vector<AppProtection::BasicAppRecord>{record});
}

TEST(BoundedMemory, FirewallRecords)
{
    FirewallSDK::FWDetailedData rule;
    rule.setRuleName("MARK");
    expectRefusedWithinBudget(std::list<FirewallSDK::FWDetailedData>{rule});
}

TEST(BoundedMemory, WideStrings)
{
    expectRefusedWithinBudget(std::vector<std::wstring>{L"caf\x00e9"});
}

} // namespace
