// Frames read back field for field; lengths and counts are bounded before
// anything is allocated; log text escapes to ASCII JSON.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Frame.h"

namespace {

TEST(Frame, FieldsRoundTrip)
{
    hvoframe::Header h;
    h.commandId = 60001;
    h.word1 = 4000000000u;
    h.word2 = 3;
    h.destinationId = 102;
    h.flag = true;
    h.word3 = 17;
    std::wstring text = L"22 serialization::archive 18 \x00c3\x00a9 \U0010FFFF";
    text.push_back(static_cast<wchar_t>(0xDC80));
    auto frame = hvoframe::Writer(hvoframe::REPLY).header(h).u8(1).u8(0).u8(1).text(text).finish();
    ASSERT_EQ(frame.size() - 4, frame[0] | frame[1] << 8 | frame[2] << 16 | frame[3] << 24);
    hvoframe::Assembler a;
    // Byte by byte: nothing until the last byte.
    hvoframe::Span body;
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        a.append(&frame[i], 1);
        ASSERT_EQ(hvoframe::Assembler::NEED_MORE, a.next(body));
    }
    a.append(&frame.back(), 1);
    ASSERT_EQ(hvoframe::Assembler::FRAME, a.next(body));
    hvoframe::Reader r(body.data, body.size);
    EXPECT_EQ(hvoframe::REPLY, r.u8());
    hvoframe::Header back = r.header();
    EXPECT_EQ(60001, back.commandId);
    EXPECT_EQ(4000000000u, back.word1);
    EXPECT_EQ(3, back.word2);
    EXPECT_EQ(102, back.destinationId);
    EXPECT_TRUE(back.flag);
    EXPECT_EQ(17, back.word3);
    EXPECT_EQ(1, r.u8());
    EXPECT_EQ(0, r.u8());
    EXPECT_EQ(1, r.u8());
    EXPECT_EQ(text, r.text());
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(r.atEnd());

    // The same text passed on raw: its bytes as they stand in the frame.
    hvoframe::Reader raw(body.data, body.size);
    raw.u8();
    raw.header();
    raw.u8(), raw.u8(), raw.u8();
    const hvoframe::Span span = raw.rawText();
    EXPECT_TRUE(raw.ok() && raw.atEnd());
    ASSERT_EQ(4 * text.size(), span.size);
    EXPECT_EQ(0, std::memcmp(span.data, frame.data() + frame.size() - span.size, span.size));
}

TEST(Frame, BadLengthsAndCounts)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        hvoframe::Assembler::Result want;
    };
    const Case cases[] = {
        {"zero length", {0, 0, 0, 0}, hvoframe::Assembler::BAD_LENGTH},
        {"all ones", {0xFF, 0xFF, 0xFF, 0xFF, 2}, hvoframe::Assembler::BAD_LENGTH},
        {"64 MiB + 1", {1, 0, 0, 4}, hvoframe::Assembler::BAD_LENGTH},
        {"64 MiB, waiting", {0, 0, 0, 4, 2}, hvoframe::Assembler::NEED_MORE},
        {"short header", {1, 0}, hvoframe::Assembler::NEED_MORE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hvoframe::Assembler a;
        a.append(c.bytes.data(), c.bytes.size());
        hvoframe::Span body;
        EXPECT_EQ(c.want, a.next(body));
        EXPECT_EQ(0u, body.size);
    }

    // A text count beyond the bytes left fails without allocating it, read
    // as text or passed on raw.
    std::vector<uint8_t> body = {0xFF, 0xFF, 0xFF, 0x3F, 'a', 0, 0, 0};
    hvoframe::Reader r(body.data(), body.size());
    EXPECT_TRUE(r.text().empty());
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(0u, r.u32());
    hvoframe::Reader raw(body.data(), body.size());
    EXPECT_EQ(nullptr, raw.rawText().data);
    EXPECT_FALSE(raw.ok());

    std::vector<uint8_t> three = {1, 2, 3};
    hvoframe::Reader s(three.data(), three.size());
    EXPECT_EQ(0u, s.u32());
    EXPECT_FALSE(s.ok());
}

TEST(Frame, JsonEscapeIsAsciiAndExact)
{
    struct Case {
        std::wstring in;
        std::string want;
    };
    const Case cases[] = {
        {L"plain", "plain"},
        {L"q\"b\\n\n\t", "q\\\"b\\\\n\\n\\t"},
        {L"\x00e9", "\\u00e9"},
        {L"\x0001\x007f", "\\u0001\\u007f"},
        {std::wstring(1, static_cast<wchar_t>(0xDCE9)), "\\udce9"},
        {L"\U0001F600", "\\ud83d\\ude00"},
        {std::wstring(1, static_cast<wchar_t>(0x110000)), "\\ufffd"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, hvoframe::jsonEscape(c.in));
}

} // namespace
