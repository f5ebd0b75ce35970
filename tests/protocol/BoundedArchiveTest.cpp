// Payload readers refuse collection counts and string lengths larger than
// the rest of the input, before allocating from them. Each hostile text is
// read in a child limited to 256 MiB of address space (no limit under
// AddressSanitizer, which reserves far more itself).
#include <new>
#include <string>
#include <vector>

#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "BoundedIArchive.h"
#include "CommandData.h"
#include "LimitedChild.h"

namespace {

using HVO::PayloadAccess;

enum Outcome { Refused = 0, Read = 1 };

/// Runs `fn` in a child with a 256 MiB address-space limit: Refused when it
/// throws archive_exception, Read when it returns.
template <class Fn> int inLimitedChild(Fn fn)
{
    return wardtest::runLimited([&] {
               try {
                   fn();
                   return int(Read);
               } catch (const boost::archive::archive_exception&) {
                   return int(Refused);
               }
           }).code;
}

// Payload texts: a vector<int> {1,2,3}, then (wide only) the wide string
// "hello", then the string "abc". {C}, {W} and {S} stand for the count and
// the two lengths.
const std::string kWideText = "22 serialization::archive 18 {C} 0 1 2 3 {W} hello {S} abc";
const std::string kNarrowText = "22 serialization::archive 18 {C} 0 1 2 3 {S} abc";

const char* const kHonest[][2] = {{"{C}", "3"}, {"{W}", "5"}, {"{S}", "3"}};

const std::string kLeftPlusOne = "left+1";

/// The text with `field` set to `value` and the other fields honest.
/// kLeftPlusOne stands for one more than the characters left after the field.
std::string textWith(std::string text, const std::string& field, const std::string& value)
{
    for (const auto& h : kHonest)
        if (h[0] != field) {
            const auto p = text.find(h[0]);
            if (p != std::string::npos)
                text.replace(p, 3, h[1]);
        }
    const auto p = text.find(field);
    if (field.empty() || p == std::string::npos)
        return text;
    std::string v = value;
    if (v == kLeftPlusOne) {
        // after a count: the rest; after a length: the rest but its space
        const size_t left = text.size() - (p + 3) - (field == "{C}" ? 0 : 1);
        v = std::to_string(left + 1);
    }
    return text.replace(p, 3, v);
}

void readWide(const std::string& text, std::vector<int>& numbers, std::wstring& name, std::string& tag)
{
    HVO::SerializedData d;
    PayloadAccess::setInput(d, std::wstring(text.begin(), text.end()));
    d.getCustomData(numbers);
    d.getCustomData(name);
    d.getCustomData(tag);
}

void readNarrow(const std::string& text, std::vector<int>& numbers, std::string& tag)
{
    std::istringstream in(text);
    HVO::bounded_iarchive ar(in);
    ar >> numbers >> tag;
}

TEST(BoundedArchive, HonestPayloadsReadBack)
{
    std::vector<int> numbers;
    std::wstring name;
    std::string tag;
    readWide(textWith(kWideText, "", ""), numbers, name, tag);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(name, L"hello");
    EXPECT_EQ(tag, "abc");

    numbers.clear();
    tag.clear();
    readNarrow(textWith(kNarrowText, "", ""), numbers, tag);
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(tag, "abc");
}

TEST(BoundedArchive, HostileCountsAndLengthsAreRefusedWithoutAllocating)
{
    struct Case {
        const char* field;
        std::string value;
    };
    const Case cases[] = {
        {"{C}", "1000000000000"}, {"{C}", "100000000"}, {"{C}", kLeftPlusOne},
        {"{W}", "1000000000000"}, {"{W}", "100000000"}, {"{W}", kLeftPlusOne},
        {"{S}", "1000000000000"}, {"{S}", "100000000"}, {"{S}", kLeftPlusOne},
    };
    for (const Case& c : cases) {
        const std::string wide = textWith(kWideText, c.field, c.value);
        SCOPED_TRACE(wide);
        EXPECT_EQ(inLimitedChild([&] {
                      std::vector<int> numbers;
                      std::wstring name;
                      std::string tag;
                      readWide(wide, numbers, name, tag);
                  }),
                  Refused);
        if (std::string(c.field) == "{W}")
            continue; // the narrow payload has no wide string
        const std::string narrow = textWith(kNarrowText, c.field, c.value);
        SCOPED_TRACE(narrow);
        EXPECT_EQ(inLimitedChild([&] {
                      std::vector<int> numbers;
                      std::string tag;
                      readNarrow(narrow, numbers, tag);
                  }),
                  Refused);
    }
}

} // namespace
