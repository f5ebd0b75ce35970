// The two converters: capacity rules, untouched destinations on failure,
// and the conversions checked against the iconv program.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Shell.h"
#include "StringConvert.h"

namespace {

constexpr wchar_t kWideMarker = 0x7777;
constexpr char kNarrowMarker = 'Z';

struct ToWideCase {
    const char* name;
    const char* text; // null: null source
    int capacity;
    int want;
    std::vector<wchar_t> out; // on 0, the characters with the terminator
};

TEST(Char2WideChar, CapacityAndValidity)
{
    const ToWideCase cases[] = {
        {"empty fits in 1", "", 1, 0, {0}},
        {"empty needs 1", "", 0, -1, {}},
        {"e-acute fits in 3", "\xc3\xa9", 3, 0, {0xE9, 0}},
        {"e-acute needs 3", "\xc3\xa9", 2, -1, {}},
        {"ascii", "ab", 3, 0, {L'a', L'b', 0}},
        {"negative capacity", "ab", -5, -1, {}},
        {"lone latin-1 byte", "caf\xe9", 5, -1, {}},
        {"truncated sequence", "\xe2\x82", 3, -1, {}},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", 5, -1, {}},
        {"surrogate", "\xed\xa0\x80", 4, -1, {}},
        {"four-byte character", "\xf0\x9f\x98\x80", 5, 0, {0x1F600, 0}},
        {"null source", nullptr, 5, -1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<wchar_t> dest(8, kWideMarker);
        int cap = c.capacity;
        EXPECT_EQ(c.want, char2widechar(c.text, dest.data(), &cap));
        EXPECT_EQ(c.capacity, cap);
        if (c.want == 0) {
            for (size_t i = 0; i < c.out.size(); ++i)
                EXPECT_EQ(c.out[i], dest[i]) << i;
            EXPECT_EQ(kWideMarker, dest[c.out.size()]);
        } else {
            for (wchar_t w : dest)
                EXPECT_EQ(kWideMarker, w);
        }
    }
    wchar_t w[4];
    int cap = 4;
    EXPECT_EQ(-1, char2widechar("a", nullptr, &cap));
    EXPECT_EQ(-1, char2widechar("a", w, nullptr));
}

struct ToNarrowCase {
    const char* name;
    std::vector<wchar_t> text; // with terminator; empty: null source
    int capacity;
    int want;
    std::string out; // on 0, the bytes before the terminator
};

TEST(WideChar2CharStr, CapacityAndValidity)
{
    const ToNarrowCase cases[] = {
        {"empty fits in 1", {0}, 1, 0, ""},
        {"empty needs 1", {0}, 0, -1, ""},
        {"two letters fit in 13", {L'a', L'b', 0}, 13, 0, "ab"},
        {"two letters need 13", {L'a', L'b', 0}, 12, -1, ""},
        {"e-acute", {0xE9, 0}, 7, 0, "\xc3\xa9"},
        {"four-byte", {0x1F600, 0}, 7, 0, "\xf0\x9f\x98\x80"},
        {"surrogate", {0xD800, 0}, 7, -1, ""},
        {"beyond U+10FFFF", {0x110000, 0}, 7, -1, ""},
        {"null source", {}, 7, -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dest(16, kNarrowMarker);
        int cap = c.capacity;
        EXPECT_EQ(c.want, widechar2charstr(c.text.empty() ? nullptr : c.text.data(), &dest[0], &cap));
        EXPECT_EQ(c.capacity, cap);
        if (c.want == 0) {
            EXPECT_EQ(c.out, std::string(dest.c_str()));
            EXPECT_EQ(kNarrowMarker, dest[c.out.size() + 1]);
        } else {
            EXPECT_EQ(std::string(16, kNarrowMarker), dest);
        }
    }
    int cap = 7;
    EXPECT_EQ(-1, widechar2charstr(L"a", nullptr, &cap));
    EXPECT_EQ(-1, widechar2charstr(L"a", &std::string(8, 'x')[0], nullptr));
}

std::string runIconv(const std::string& input)
{
    char path[] = "/tmp/convtestXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "mkstemp failed";
    FILE* f = fdopen(fd, "wb");
    fwrite(input.data(), 1, input.size(), f);
    fclose(f);
    std::string cmd = std::string("iconv -f UTF-8 -t UCS-4LE ") + path + " 2>/dev/null; echo \" rc=$?\"";
    std::string out = wardtest::shellOutput(cmd);
    remove(path);
    return out;
}

TEST(Char2WideChar, AgreesWithIconvProgram)
{
    const char* texts[] = {"plain", "/opt/caf\xc3\xa9", "\xe2\x82\xac 5", "\xf0\x9f\x98\x80!"};
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        std::string out = runIconv(t);
        ASSERT_GE(out.size(), 5u);
        ASSERT_EQ(" rc=0\n", out.substr(out.size() - 6));
        std::string ucs4 = out.substr(0, out.size() - 6);
        std::vector<wchar_t> dest(64);
        int cap = 64;
        ASSERT_EQ(0, char2widechar(t, dest.data(), &cap));
        std::wstring w(dest.data());
        ASSERT_EQ(ucs4.size(), w.size() * 4);
        for (size_t i = 0; i < w.size(); ++i) {
            uint32_t v = static_cast<unsigned char>(ucs4[4 * i]) | static_cast<unsigned char>(ucs4[4 * i + 1]) << 8 |
                         static_cast<unsigned char>(ucs4[4 * i + 2]) << 16 |
                         static_cast<uint32_t>(static_cast<unsigned char>(ucs4[4 * i + 3])) << 24;
            EXPECT_EQ(v, static_cast<uint32_t>(w[i])) << i;
        }
        // And back to the same bytes.
        std::string back(6 * w.size() + 1, 'x');
        int bcap = static_cast<int>(back.size());
        ASSERT_EQ(0, widechar2charstr(w.c_str(), &back[0], &bcap));
        EXPECT_EQ(std::string(t), std::string(back.c_str()));
    }
    // The program refuses what the converter refuses.
    std::string out = runIconv("caf\xe9");
    EXPECT_NE(std::string::npos, out.find("rc=1"));
}

} // namespace
