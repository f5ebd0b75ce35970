#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "IpfwLayout.h"
#include "IpfwTestFiles.h"

using namespace ipfw;

TEST(IpfwLayout, BoundedReadsRefuseBytesOutsideTheSpan)
{
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    ByteSpan s(bytes, sizeof bytes);
    EXPECT_EQ(readLE16(s, 0), 0x0201);
    EXPECT_EQ(readBE16(s, 0), 0x0102);
    EXPECT_EQ(readLE32(s, 5), 0x09080706u);
    EXPECT_EQ(readBE32(s, 5), 0x06070809u);
    EXPECT_EQ(readLE64(s, 1), 0x0908070605040302ull);
    EXPECT_EQ(readU8(s, 8), 0x09);

    EXPECT_FALSE(readU8(s, 9));
    EXPECT_FALSE(readLE16(s, 8));
    EXPECT_FALSE(readLE32(s, 6));
    EXPECT_FALSE(readBE32(s, 6));
    EXPECT_FALSE(readLE64(s, 2));
    EXPECT_FALSE(readLE32(s, SIZE_MAX - 1));  // off + size would wrap
    EXPECT_FALSE(readLE16(ByteSpan(), 0));
    EXPECT_EQ(s.sub(8, 2).size, 0u);
    EXPECT_EQ(s.sub(SIZE_MAX, 2).data, nullptr);
}

TEST(IpfwLayout, WritersStayInsideTheVector)
{
    std::vector<uint8_t> v(6, 0);
    EXPECT_TRUE(writeLE16(v, 0, 0x1234));
    EXPECT_TRUE(writeBE32(v, 2, 0x0a000001));
    EXPECT_EQ(v, (std::vector<uint8_t>{0x34, 0x12, 0x0a, 0x00, 0x00, 0x01}));
    EXPECT_FALSE(writeLE32(v, 3, 1));
    EXPECT_FALSE(writeLE64(v, 0, 1));
    EXPECT_FALSE(writeU8(v, 6, 1));
    EXPECT_FALSE(writeBytes(v, SIZE_MAX, "x", 1));
    EXPECT_EQ(v, (std::vector<uint8_t>{0x34, 0x12, 0x0a, 0x00, 0x00, 0x01}));
}

TEST(IpfwLayout, RecordViewReadsTheThirtyTwoBitHeader)
{
    std::vector<uint8_t> list = ipfwFixture("rule5122.bin");
    ListCheck check = checkRuleList(ByteSpan(list));
    ASSERT_TRUE(check.ok) << check.problem;
    ASSERT_EQ(check.records.size(), 2u);
    const ip_fw& r = check.records[0];
    EXPECT_EQ(r.bytes.size, 108u);
    EXPECT_EQ(r.act_ofs(), 7);
    EXPECT_EQ(r.cmd_len(), 11);
    EXPECT_EQ(r.rulenum(), 5122);
    EXPECT_EQ(r.set(), 0);
    EXPECT_EQ(r.pcnt(), 3u);
    EXPECT_EQ(r.bcnt(), 180u);
    EXPECT_EQ(r.timestamp(), 1000u);
    EXPECT_EQ(r.matchPart().size, 28u);
    EXPECT_EQ(r.actionPart().size, 16u);
    EXPECT_FALSE(r.isDefaultRule());
    EXPECT_TRUE(check.records[1].isDefaultRule());
    EXPECT_EQ(check.records[1].bytes.size, 68u);
}

TEST(IpfwLayout, DefaultRuleMatchesTheHandMadeBytes)
{
    EXPECT_EQ(defaultRuleRecord(), ipfwFixture("default.bin"));
    std::vector<uint8_t> d = defaultRuleRecord();
    std::vector<uint8_t> expect(68, 0);
    const uint8_t head[] = {0x00, 0x00, 0x01, 0x00, 0xff, 0xff, 0x1f, 0x00};
    std::copy(head, head + 8, expect.begin() + 16);
    expect[64] = 0x2c;
    expect[65] = 0x01;
    EXPECT_EQ(d, expect);
}

TEST(IpfwLayout, ListCheckFindsEveryRecordOrSaysWhatIsWrong)
{
    struct Case {
        const char* file;
        bool ok;
        size_t records;
        const char* problem;
    };
    const Case cases[] = {
        {"default.bin", true, 1, ""},
        {"list18.bin", true, 18, ""},
        {"roundtrip.bin", true, 2, ""},
        {"bad_cmdlen_past_end.bin", false, 0, "record 0 at byte 0: cmd_len 40 runs past the end of the list (136 bytes)"},
        {"bad_actofs.bin", false, 0, "record 0 at byte 0: act_ofs 2 > cmd_len 1"},
        {"bad_no_default.bin", false, 0, "no default rule before the end of the list (2 records, 136 bytes)"},
        {"bad_short_header.bin", false, 0, "record 1 at byte 68: header past the end of the list (108 bytes)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> list = ipfwFixture(c.file);
        ListCheck check = checkRuleList(ByteSpan(list));
        EXPECT_EQ(check.ok, c.ok);
        EXPECT_EQ(check.records.size(), c.records);
        EXPECT_EQ(check.problem, c.problem);
    }
}

TEST(IpfwLayout, PartWalkStopsAtZeroLengthAndPastTheEnd)
{
    struct Case {
        const char* file;
        WalkStop stop;
        std::vector<uint8_t> opcodes;
    };
    const Case cases[] = {
        {"insn_in_out.bin", WalkStop::End, {O_IN, O_IN}},
        {"bad_flen0.bin", WalkStop::ZeroLength, {O_PROTO}},
        {"bad_past_part.bin", WalkStop::PastEnd, {O_PROTO}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<uint8_t> list = ipfwFixture(c.file);
        ListCheck check = checkRuleList(ByteSpan(list));
        ASSERT_TRUE(check.ok);
        std::vector<uint8_t> seen;
        WalkStop stop = walkPart(check.records[0].matchPart(), [&](const ipfw_insn& insn) {
            seen.push_back(insn.opcode());
            EXPECT_EQ(insn.bytes.size, insn.flen() * kWord);
        });
        EXPECT_EQ(stop, c.stop);
        EXPECT_EQ(seen, c.opcodes);
    }
}
