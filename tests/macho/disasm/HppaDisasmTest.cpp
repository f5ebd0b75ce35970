// The HP-PA disassembler: exact texts for big-endian words (the swapped path
// on this host), the opcode table's structure, the relocated operands and
// their warnings, and differential runs against the cross objdump on an
// assembled corpus and on a sweep of the major-opcode space.
#include "BigEndianWords.h"
#include "disasm/hppa_opcodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <unistd.h>

using namespace disasm_test;

namespace {

Printed hppa(const std::vector<char>& b, const Call& k = Call(), uint64_t left = UINT64_MAX)
{
    return plain_call(macho::hppa_disassemble, b, k, left);
}

using Case = WordCase;

void run_cases(const std::vector<Case>& cases)
{
    run_word_cases(macho::hppa_disassemble, cases);
}

// ---- decoding ----

TEST(HppaDecode, ExactWords)
{
    run_cases({
        {0x08000240, "nop\n", 0},
        {0x08000241, "copy\t%r0,%r1\n", 0},
        {0x0ca31328, "stbys,b,m\t%r3,0x4(%r5)\n", 0},
        {0x0ca33300, "stbys,e\t%r3,0x0(%r5)\n", 0},
        {0x20227246, "ldil\t0x12345800,%r1\n", 0},
        {0x90000000, "comiclr\t0x0,%r0,%r0\n", 0},
        {0x10000045, "spop0,\t1,5y\n", 0},
        {0x00004001, "break\t1,2\n", 0},
        {0x0c001300, "stbys,b\t%r0,0x0(%r0)\n", 0},
        // unused major opcodes
        {0x3c000000, ".long 0x3c000000\n", 0},
        {0xfc000000, ".long 0xfc000000\n", 0},
        {0x7c123456, ".long 0x7c123456\n", 0},
    });
}

// The five-bit low-sign immediates (letters 5 and V), through ldws and stws.
TEST(HppaDecode, LowSignExtendedFields)
{
    run_cases({
        {0x0c021080, "ldws\t0x1(%r0),%r0\n", 0},          // 0b00010
        {0x0c011080, "ldws\t0xfffffff0(%r0),%r0\n", 0},   // 0b00001
        {0x0c1f1080, "ldws\t0xffffffff(%r0),%r0\n", 0},   // 0b11111
        {0x0c001282, "stws\t%r0,0x1(%r0)\n", 0},
        {0x0c001281, "stws\t%r0,0xfffffff0(%r0)\n", 0},
        {0x0c00129f, "stws\t%r0,0xffffffff(%r0)\n", 0},
        // fourteen bits (j) and eleven (i)
        {0x34a3ffe1, "ldo\t0xfffffff0(%r5),%r3\n", 0},
        {0xb422000a, "addi\t0x5,%r1,%r2\n", 0},
        {0xb4220001, "addi\t0xfffffc00,%r1,%r2\n", 0},
    });
}

// Each template letter's field, with distinct field values.
TEST(HppaDecode, TemplateLetters)
{
    run_cases({
        // space register " N," (B) and S through assemble_3
        {0x48a34002, "ldw\t0x1( 1,%r5),%r3\n", 0},
        {0x0ca460a3, "ldwx,sm\t%r4( 1,%r5),%r3\n", 0},
        {0xe4c06022, "ble,n\t0x10(%sr5,%r6)\n", 0},
        {0x00017820, "mtsp\t%r1,%sr5\n", 0},
        // branch targets: w (12 bits), W (17 bits), z
        {0x80417ff5, "comb,<=\t%r1,%r2,0x4c\n", 0x4c},
        {0x88414000, "combf,<\t%r1,%r2,0x30\n", 0x28},
        {0xe8400010, "bl\t0x14,%r2\n", 0x4},
        {0xe81f1fe7, "b,n\t0x0\n", 0x8},
        {0xe0a02010, "be\t0x8(%sr4,%r5)\n", 0},
        // conditions
        {0x08413e03, "addo,<>\t%r1,%r2,%r3\n", 0},
        {0x08417883, "comclr,>\t%r1,%r2,%r3\n", 0},
        {0x0841f243, "or,ev\t%r1,%r2,%r3\n", 0},
        {0x08415383, "uxor,nbz\t%r1,%r2,%r3\n", 0},
        {0xa0419ff5, "addb,nuv\t%r1,%r2,0x54\n", 0x54},
        {0xc8417ff5, "movb,od\t%r1,%r2,0x58\n", 0x58},
        {0xc4a1dff5, "bb,>=\t%r1,5,0x44\n", 0x44},
        // positions and lengths
        {0xd02218ba, "extru\t%r1,5,6,%r2\n", 0},
        {0xd4410b5a, "zdep\t%r1,5,6,%r2\n", 0},
        {0xd0410b43, "shd\t%r1,%r2,5,%r3\n", 0},
        {0xd45b1eda, "depi\t0xfffffffd,9,6,%r2\n", 0},
        // system fields
        {0x00050d61, "ssm\t5,%r1\n", 0},
        {0x14000005, "diag\t5\n", 0},
        {0x04a15343, "lpa\t%r1(%sr1,%r5),%r3\n", 0},
        {0x04a15363, "lpa,m\t%r1(%sr1,%r5),%r3\n", 0},
        {0x04a37183, "proberi\t( 1,%r5),3,%r3\n", 0},
        // floating point: formats, halves, conditions
        {0x30850e06, "fadd,dbl\t%fr4,%fr5,%fr6\n", 0},
        {0x388516c6, "fadd,sgl\t%fr4r,%fr5r,%fr6r\n", 0},
        {0x30850c10, "fcmp,dbl,!?<=\t%fr4,%fr5\n", 0},
        {0x3081aa05, "fcnvfxt,dbl,dbl\t%fr4,%fr5\n", 0},
        {0x30807e06, "fdiv,quad\t%fr4,%fr0,%fr6\n", 0},
        {0x38854706, "xmpyu\t%fr4,%fr5,%fr6\n", 0},
        {0x24a30044, "fldwx\t%r3(%r5),%fr4r\n", 0},
        {0x24b93264, "fstws,mb\t%fr4r,0xfffffffc(%r5)\n", 0},
        // coprocessor and special function unit numbers and operations
        {0x10002a83, "spop1,\t2,5,%r3\n", 0},
        {0x10600485, "spop2,\t2,5,%r3\n", 0},
        {0x10830685, "spop3,\t2,5,%r3,%r4\n", 0},
        {0x30000085, "copr,\t2,5\n", 0},
        {0x2c4812a3, "cstds,ma,\t2,%r3,0x4(%r2)\n", 0},
    });
}

// The multiple operations: the format stays with the name; registers in the
// assembler's order rm1, rm2, tm, ra, ta (the objdump reading of 188541c6
// is "fmpyadd,dbl fr4,fr5,fr6,fr7,fr8").
TEST(HppaDecode, MultipleOperations)
{
    run_cases({
        {0x188541c6, "fmpyadd,dbl\t%fr4,%fr5,%fr6,%fr7,%fr8\n", 0},
        {0x988541c6, "fmpysub,dbl\t%fr4,%fr5,%fr6,%fr7,%fr8\n", 0},
        {0x180120e2, "fmpyadd,sgl\t%fr16,%fr17,%fr18,%fr19,%fr20\n", 0},
        {0x1bff9ffe, "fmpyadd,sgl\t%fr31r,%fr31r,%fr30r,%fr31r,%fr19r\n", 0},
    });
}

// ---- the table ----

TEST(HppaTable, RowsAreConsistent)
{
    ASSERT_GT(macho::pa_num_opcodes, 1u);
    EXPECT_STREQ("jbsr", macho::pa_opcodes[macho::pa_num_opcodes - 1].name);
    std::set<std::tuple<std::string, uint32_t, uint32_t, std::string>> seen;
    for (size_t i = 0; i < macho::pa_num_opcodes; ++i) {
        const macho::pa_opcode& r = macho::pa_opcodes[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(r.match, r.match & r.mask);
        EXPECT_TRUE(r.flags >= 0 && r.flags <= 2);
        EXPECT_TRUE(seen.insert({r.name, r.match, r.mask, r.args}).second) << "row repeated";
        // every template character is a letter the printer knows or
        // punctuation it copies
        for (const char* s = r.args; *s != '\0'; ++s)
            EXPECT_NE(nullptr, strchr("xbtBnZS<?->~U!&+cCL3alYFGHMEXv46798" "5VijkwWz@TpPQRrfuoO012AD(),y", *s))
                << r.args;
    }
}

// Every row prints its own match word (operand fields 0) under its own
// name, except the rows a preferred row before them covers.
TEST(HppaTable, EachRowPrintsItsMatchWord)
{
    // row → the row whose name its match word prints
    const std::map<std::string, std::string> covered = {
        {"combt", "comb"},   {"comibt", "comib"}, {"addbt", "addb"}, {"addibt", "addib"},
        {"bl", "b"},         {"jbsr", "b"},       {"ldo", "ldi"},    {"or", "nop"},
        {"copy", "nop"},     {"cldwx", "fldwx"},  {"cstwx", "fstwx"}, {"cldws", "fldws"},
        {"cstws", "fstws"},  {"clddx", "flddx"},  {"cstdx", "fstdx"}, {"cldds", "fldds"},
        {"cstds", "fstds"},
    };
    for (size_t i = 0; i < macho::pa_num_opcodes; ++i) {
        const macho::pa_opcode& r = macho::pa_opcodes[i];
        const Printed p = hppa(big_endian(r.match));
        const std::string name = p.out.substr(0, p.out.find_first_of("\t,\n"));
        const auto it = covered.find(r.name);
        EXPECT_EQ(it != covered.end() ? it->second : std::string(r.name), name)
            << r.name << " " << std::hex << r.match << ": " << p.out;
    }
}

// ---- immediates, relocation entries and symbols ----

TEST(HppaImmediate, RelocatedOperands)
{
    const Symbols syms = symbols_with_bad_index("_x", "_y"); // symbol 2: string index past the table
    const std::vector<macho::sorted_symbol> sorted = {{"_start", 0x0}, {"_loop", 0x10}, {"_data", 0x12000}};
    const uint32_t pair = 1, hi21 = 2, lo14 = 3, br17 = 4, jbsr = 6, sectdiff = 7, hi21_diff = 8, lo14_diff = 9;
    const struct {
        const char* what;
        uint32_t word;
        std::vector<macho::relocation_info> relocs;
        const char* out;
        const char* err;
    } cases[] = {
        {"external high part, pair carries the low", 0x20200000,
         {plain_reloc(0, 0, true, hi21), plain_reloc(0x123, 0, false, pair)}, "ldil\tL`_x+0x123,%r1\n", ""},
        {"external high part, negative low part", 0x20200000,
         {plain_reloc(0, 0, true, hi21), plain_reloc(0x3fff, 0, false, pair)}, "ldil\tL`_x+0xffffffff,%r1\n", ""},
        {"external high part, no offset", 0x20200000,
         {plain_reloc(0, 1, true, hi21), plain_reloc(0, 0, false, pair)}, "ldil\tL`_y,%r1\n", ""},
        {"external low part, pair carries the high", 0x34210010,
         {plain_reloc(0, 0, true, lo14), plain_reloc(0x2, 0, false, pair)}, "ldo\tR`_x+0x1008(%r1),%r1\n", ""},
        {"external 17-bit branch", 0xe8000000,
         {plain_reloc(0, 1, true, br17), plain_reloc(0, 0, false, pair)}, "b\tR`_y+0x8\n", ""},
        {"external other type prints the name and the value", 0x34210010, {plain_reloc(0, 1, true, 5)},
         "ldo\t_y+0x8(%r1),%r1\n", ""},
        {"local high part names a sorted symbol", 0x20200000,
         {plain_reloc(0, 1, false, hi21), plain_reloc(0x10, 0, false, pair)}, "ldil\tL`_loop,%r1\n", ""},
        {"local low part names a sorted symbol", 0x34210020,
         {plain_reloc(0, 1, false, lo14), plain_reloc(0, 0, false, pair)}, "ldo\tR`_loop(%r1),%r1\n", ""},
        {"local high part, full value names a symbol", 0x20290000,
         {plain_reloc(0, 1, false, hi21), plain_reloc(0, 0, false, pair)}, "ldil\tL`_data,%r1\n", ""},
        {"scattered low part: symbol from its value, offset", 0x34210020,
         {scattered_reloc(0, lo14, 0x12000), plain_reloc(0x24, 0, false, pair)}, "ldo\tR`_data+0x10(%r1),%r1\n",
         ""},
        {"scattered high part, no symbol", 0x20200000,
         {scattered_reloc(0, hi21, 0x30000), plain_reloc(0x8, 0, false, pair)}, "ldil\tL`0x30000+0xfffd0008,%r1\n",
         ""},
        {"section difference, high part", 0x20290000,
         {scattered_reloc(0, hi21_diff, 0x12000), scattered_reloc(0, pair, 0x10)}, "ldil\tL`_data-_loop+0x10,%r1\n",
         ""},
        {"section difference, low part, no names", 0x3421021e,
         {scattered_reloc(0, lo14_diff, 0x500), scattered_reloc(0, pair, 0x400)}, "ldo\tR`0x500-0x400+0xf(%r1),%r1\n",
         ""},
        {"plain section difference consumes its pair", 0x34210020,
         {plain_reloc(0, 1, false, sectdiff), plain_reloc(0, 0, false, pair)}, "ldo\t_loop(%r1),%r1\n", ""},
        {"no entry: the value names a symbol", 0x34210020, {}, "ldo\t_loop(%r1),%r1\n", ""},
        {"entries of other addresses skipped with their pairs", 0x20200000,
         {plain_reloc(8, 1, true, hi21), plain_reloc(0x7, 0, false, pair), plain_reloc(0, 0, true, hi21),
          plain_reloc(0x123, 0, false, pair)},
         "ldil\tL`_x+0x123,%r1\n", ""},
        {"lone pair is stray", 0x34210020, {plain_reloc(0, 0, false, pair)}, "ldo\t_loop(%r1),%r1\n",
         "Stray HPPA_RELOC_PAIR relocation entry 0\n"},
        {"other address, no pair after", 0x34210020,
         {plain_reloc(8, 0, true, hi21), plain_reloc(0x30, 0, true, lo14)}, "ldo\t_loop(%r1),%r1\n",
         "No HPPA_RELOC_PAIR relocation entry after entry 0\nNo HPPA_RELOC_PAIR relocation entry after entry 1\n"},
        {"own address, last entry with no pair: the walk ends", 0x34210020, {plain_reloc(0, 0, true, lo14)},
         "ldo\t_loop(%r1),%r1\n", "No HPPA_RELOC_PAIR relocation entry after entry 0\n"},
        {"own address, no pair after: the walk goes on", 0x34210020,
         {plain_reloc(0, 0, true, lo14), plain_reloc(0, 1, true, 5)}, "ldo\t_y+0x10(%r1),%r1\n",
         "No HPPA_RELOC_PAIR relocation entry after entry 0\n"},
        {"symbol number past the table", 0x20200000,
         {plain_reloc(0, 7, true, hi21), plain_reloc(0, 0, false, pair)}, "ldil\tL`bad string offset,%r1\n", ""},
        {"string index past the table", 0x20200000,
         {plain_reloc(0, 2, true, hi21), plain_reloc(0, 0, false, pair)}, "ldil\tL`bad string offset,%r1\n", ""},
        {"bl with a stub entry is jbsr", 0xe8400008,
         {plain_reloc(0, 1, true, jbsr), plain_reloc(0x10, 0, false, pair)}, "jbsr\t_y+0x10,%r2,0xc\n", ""},
        {"a pair at the bl's address does not decide", 0xe8400008,
         {plain_reloc(0, 0, false, pair), plain_reloc(0, 1, true, jbsr), plain_reloc(0, 0, false, pair)},
         "jbsr\t_y,%r2,0xc\n", "Stray HPPA_RELOC_PAIR relocation entry 0\n"},
        {"bl with another entry first stays bl", 0xe8400008,
         {plain_reloc(0, 1, true, br17), plain_reloc(0, 0, false, pair), plain_reloc(0, 1, true, jbsr),
          plain_reloc(0, 0, false, pair)},
         "bl\tR`_y+0xc,%r2\n", ""},
    };
    for (const auto& c : cases) {
        Call k;
        k.verbose = 1;
        k.relocs = c.relocs;
        k.syms = &syms;
        k.sorted = &sorted;
        const Printed p = hppa(big_endian(c.word), k);
        EXPECT_EQ(c.out, p.out) << c.what;
        EXPECT_EQ(c.err, p.err) << c.what;
        EXPECT_EQ(4u, p.length) << c.what;
    }
}

// The jbsr row's @ operand is the section's address; its target is printed
// as a number even without a symbol table; the relocation address is the
// offset within the section.
TEST(HppaImmediate, JbsrFromTheSectionAddress)
{
    Call k;
    k.verbose = 1;
    k.addr = 0x2008;
    k.sect_addr = 0x2000;
    k.relocs = {plain_reloc(8, 0, false, 6), plain_reloc(0, 0, false, 1)};
    const Printed p = hppa(big_endian(0xe8400008), k);
    EXPECT_EQ("jbsr\t0x2000,%r2,0x2014\n", p.out);
    EXPECT_EQ("", p.err);
}

// Without symbolic operands numbers print bare; with them but without any
// name a number still prints as one.
TEST(HppaImmediate, VerboseWithoutNames)
{
    Call k;
    EXPECT_EQ("ldil\t0x12345800,%r1\n", hppa(big_endian(0x20227246), k).out);
    k.verbose = 1;
    EXPECT_EQ("ldil\t0x12345800,%r1\n", hppa(big_endian(0x20227246), k).out);
}

// A name is bounded by the string table even when it has no NUL there.
TEST(HppaImmediate, NameStopsAtTableEnd)
{
    const char strings[] = {'\0', '_', 'a', 'b'};
    macho::nlist sym{};
    sym.n_strx = 1;
    const std::vector<macho::relocation_info> relocs = {plain_reloc(0, 0, true, 5)};
    const Printed p = capture([&] {
        const std::vector<char> b = big_endian(0xe8000000);
        return macho::hppa_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, relocs.data(), 1, &sym, 1,
                                       nullptr, 0, strings, sizeof strings, 1);
    });
    EXPECT_EQ("b\t_ab+0x8\n", p.out);
}

// An external entry with no symbol table at all.
TEST(HppaImmediate, ExternalEntryWithoutSymbolTable)
{
    const std::vector<macho::relocation_info> relocs = {plain_reloc(0, 0, true, 2), plain_reloc(0, 0, false, 1)};
    const Printed p = capture([&] {
        const std::vector<char> b = big_endian(0x20200000);
        return macho::hppa_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, relocs.data(), 2, nullptr, 0,
                                       nullptr, 0, nullptr, 0, 1);
    });
    EXPECT_EQ("ldil\tL`bad string offset,%r1\n", p.out);
}

// ---- reading ----

TEST(HppaRead, SectionEnd)
{
    const struct {
        const char* bytes;
        const char* out;
        uint32_t length;
    } cases[] = {
        {"12 34", ".long\t0x12340000\n(end of section)\n", 2},
        {"ab cd ef", ".long\t0xabcdef00\n(end of section)\n", 3},
        {"7f", ".long\t0x7f000000\n(end of section)\n", 1},
        {"", ".long\t0x00000000\n(end of section)\n", 0},
    };
    for (const auto& c : cases) {
        const Printed p = hppa(hex_bytes(c.bytes));
        EXPECT_EQ(c.out, p.out) << c.bytes;
        EXPECT_EQ(c.length, p.length) << c.bytes;
    }
    // four bytes of a longer buffer: one instruction
    EXPECT_EQ("nop\n", hppa(hex_bytes("08000240 08000241"), Call(), 4).out);
}

TEST(HppaRead, LittleEndianObjectReadsUnswapped)
{
    Call k;
    k.order = macho::LITTLE_ENDIAN_BYTE_SEX;
    EXPECT_EQ("copy\t%r0,%r1\n", hppa(hex_bytes("41 02 00 08"), k).out);
    EXPECT_EQ(".long\t0x00003412\n(end of section)\n", hppa(hex_bytes("12 34"), k).out);
}

// ---- against the cross objdump ----

std::vector<std::string> split_operands(const std::string& ops)
{
    std::vector<std::string> out;
    std::string cur;
    int depth = 0;
    for (char c : ops) {
        if (c == '(')
            ++depth;
        if (c == ')')
            --depth;
        if (c == ',' && depth == 0) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty() || !out.empty())
        out.push_back(cur);
    return out;
}

std::string join_operands(const std::vector<std::string>& ops)
{
    std::string s;
    for (size_t i = 0; i < ops.size(); ++i)
        s += (i != 0 ? "," : "") + ops[i];
    return s;
}

// The condition that a false-branch row names, as objdump's single form
// spells the branch: the negated condition.
std::string negate(const std::string& cond, bool add)
{
    static const std::map<std::string, std::string> compare{
        {"", ",tr"}, {",=", ",<>"}, {",<", ",>="}, {",<=", ",>"}, {",<<", ",>>="}, {",<<=", ",>>"},
        {",sv", ",nsv"}, {",od", ",ev"}};
    static const std::map<std::string, std::string> addition{
        {"", ",tr"}, {",=", ",<>"}, {",<", ",>="}, {",<=", ",>"}, {",nuv", ",uv"}, {",znv", ",vnz"},
        {",sv", ",nsv"}, {",od", ",ev"}};
    const auto& m = add ? addition : compare;
    for (const auto& kv : m) {
        if (kv.first == cond)
            return kv.second;
        if (kv.second == cond)
            return kv.first;
    }
    return cond;
}

// The PA-RISC 1.1 mnemonics as objdump's PA 2.0 spelling: the name, the
// completers it adds in front of ours, and how the operands change.
enum class Edit { none, sar2, sar3, shift2, be_l, addil, modify, neg_compare, neg_add };
struct Rename {
    const char* ours;
    const char* theirs;
    const char* completers;
    Edit edit;
};
const Rename renames[] = {
    {"comb", "cmpb", "", Edit::none},           {"combt", "cmpb", "", Edit::none},
    {"combf", "cmpb", "", Edit::neg_compare},   {"comib", "cmpib", "", Edit::none},
    {"comibt", "cmpib", "", Edit::none},        {"comibf", "cmpib", "", Edit::neg_compare},
    {"addbt", "addb", "", Edit::none},          {"addbf", "addb", "", Edit::neg_add},
    {"addibt", "addib", "", Edit::none},        {"addibf", "addib", "", Edit::neg_add},
    {"comclr", "cmpclr", "", Edit::none},       {"comiclr", "cmpiclr", "", Edit::none},
    {"extru", "extrw", ",u", Edit::none},       {"extrs", "extrw", ",s", Edit::none},
    {"vextru", "extrw", ",u", Edit::sar2},      {"vextrs", "extrw", ",s", Edit::sar2},
    {"zdep", "depw", ",z", Edit::none},         {"dep", "depw", "", Edit::none},
    {"zvdep", "depw", ",z", Edit::sar2},        {"vdep", "depw", "", Edit::sar2},
    {"zdepi", "depwi", ",z", Edit::none},       {"depi", "depwi", "", Edit::none},
    {"zvdepi", "depwi", ",z", Edit::sar2},      {"vdepi", "depwi", "", Edit::sar2},
    {"vshd", "shrpw", "", Edit::sar3},          {"shd", "shrpw", "", Edit::none},
    {"bvb", "bb", "", Edit::sar2},              {"bl", "b", ",l", Edit::none},
    {"gate", "b", ",gate", Edit::none},         {"ble", "be", ",l", Edit::be_l},
    {"stbys", "stby", "", Edit::none},          {"addl", "add", ",l", Edit::none},
    {"addo", "add", ",tsv", Edit::none},        {"addc", "add", ",c", Edit::none},
    {"addco", "add", ",c,tsv", Edit::none},     {"sh1add", "shladd", "", Edit::shift2},
    {"sh1addl", "shladd", ",l", Edit::shift2},  {"sh1addo", "shladd", ",tsv", Edit::shift2},
    {"sh2add", "shladd", "", Edit::shift2},     {"sh2addl", "shladd", ",l", Edit::shift2},
    {"sh2addo", "shladd", ",tsv", Edit::shift2}, {"sh3add", "shladd", "", Edit::shift2},
    {"sh3addl", "shladd", ",l", Edit::shift2},  {"sh3addo", "shladd", ",tsv", Edit::shift2},
    {"subo", "sub", ",tsv", Edit::none},        {"subb", "sub", ",b", Edit::none},
    {"subbo", "sub", ",b,tsv", Edit::none},     {"subt", "sub", ",tc", Edit::none},
    {"subto", "sub", ",tc,tsv", Edit::none},    {"uaddcmt", "uaddcm", ",tc", Edit::none},
    {"idcor", "dcor", ",i", Edit::none},        {"addio", "addi", ",tsv", Edit::none},
    {"addit", "addi", ",tc", Edit::none},       {"addito", "addi", ",tc,tsv", Edit::none},
    {"subio", "subi", ",tsv", Edit::none},      {"addil", "addil", "", Edit::addil},
    {"ldwx", "ldw", "", Edit::none},            {"ldws", "ldw", "", Edit::none},
    {"ldhx", "ldh", "", Edit::none},            {"ldhs", "ldh", "", Edit::none},
    {"ldbx", "ldb", "", Edit::none},            {"ldbs", "ldb", "", Edit::none},
    {"ldwax", "ldwa", "", Edit::none},          {"ldwas", "ldwa", "", Edit::none},
    {"ldcwx", "ldcw", "", Edit::none},          {"ldcws", "ldcw", "", Edit::none},
    {"stws", "stw", "", Edit::none},            {"sths", "sth", "", Edit::none},
    {"stbs", "stb", "", Edit::none},            {"stwas", "stwa", "", Edit::none},
    {"ldwm", "ldw", "", Edit::modify},          {"stwm", "stw", "", Edit::modify},
    {"fldwx", "fldw", "", Edit::none},          {"fldws", "fldw", "", Edit::none},
    {"fstwx", "fstw", "", Edit::none},          {"fstws", "fstw", "", Edit::none},
    {"flddx", "fldd", "", Edit::none},          {"fldds", "fldd", "", Edit::none},
    {"fstdx", "fstd", "", Edit::none},          {"fstds", "fstd", "", Edit::none},
    {"cldwx", "cldw", "", Edit::none},          {"cldws", "cldw", "", Edit::none},
    {"cstwx", "cstw", "", Edit::none},          {"cstws", "cstw", "", Edit::none},
    {"clddx", "cldd", "", Edit::none},          {"cldds", "cldd", "", Edit::none},
    {"cstdx", "cstd", "", Edit::none},          {"cstds", "cstd", "", Edit::none},
    {"prober", "probe", ",r", Edit::none},      {"probew", "probe", ",w", Edit::none},
    {"proberi", "probei", ",r", Edit::none},    {"probewi", "probei", ",w", Edit::none},
    {"rfir", "rfi", ",r", Edit::none},
};

// Our line in objdump's spelling: blanks for the tab, registers without
// the percent sign, a space register as "srN", the selectors as "L%".
std::string canon_ours(std::string s)
{
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    // The unit number and operation of the special function and
    // coprocessor rows follow the tab; objdump writes them as completers.
    // The literal y that ends spop0's template is not compared.
    std::smatch u;
    if (std::regex_search(s, u, re("^(spop[0-3]|copr),\t([0-9]+),([0-9]+)y?,?"))) {
        char op[16];
        snprintf(op, sizeof op, "%lx", std::stoul(u[3]));
        s = u[1].str() + "," + u[2].str() + "," + op + "\t" + u.suffix().str();
    }
    // the coprocessor loads and stores: unit first, then the completers
    s = rx(s, "^(c(?:ld|st)[wd][xs])((?:,[a-z?]+)*),\t([0-9]+),", "$1,$3$2\t");
    s = rx(s, "\t$", "");
    s = rx(s, "\t", " ");
    s = rx(s, ", ", ",");
    s = rx(s, "%fr([0-9]+)r", "fr$1R");
    s = rx(s, "%", "");
    s = rx(s, "\\( ([0-3]),", "(sr$1,");
    s = rx(s, "L`", "L%");
    s = rx(s, "R`", "R%");
    const size_t sp = s.find(' ');
    const std::string mnemonic = s.substr(0, sp);
    std::vector<std::string> ops = split_operands(sp == std::string::npos ? "" : s.substr(sp + 1));
    const size_t comma = mnemonic.find(',');
    std::string base = mnemonic.substr(0, comma);
    std::string completers = comma == std::string::npos ? "" : mnemonic.substr(comma);
    for (const Rename& r : renames) {
        if (base != r.ours)
            continue;
        base = r.theirs;
        switch (r.edit) {
        case Edit::none: break;
        case Edit::sar2:
            if (!ops.empty())
                ops.insert(ops.begin() + 1, "sar");
            break;
        case Edit::sar3:
            if (ops.size() >= 2)
                ops.insert(ops.begin() + 2, "sar");
            break;
        case Edit::shift2:
            if (!ops.empty())
                ops.insert(ops.begin() + 1, std::string(1, r.ours[2]));
            break;
        case Edit::be_l:
            ops.push_back("sr0");
            ops.push_back("r31");
            break;
        case Edit::addil: ops.push_back("r1"); break;
        case Edit::modify: {
            // objdump modifies before the access when the field's top bit
            // (bit 12 of the value) is set
            if (ops.size() < 2)
                break;
            const std::string& d = base == "ldw" ? ops.front() : ops.back();
            const uint32_t disp = static_cast<uint32_t>(std::stoul(d.substr(0, d.find('(')), nullptr, 16));
            completers = (disp & 0x1000u) != 0 ? ",mb" : ",ma";
            break;
        }
        case Edit::neg_compare: completers = negate(completers, false); break;
        case Edit::neg_add: completers = negate(completers, true); break;
        }
        completers = r.completers + completers;
        break;
    }
    // objdump leaves out the default ",b" of stby unless ",m" follows
    if (base == "stby" && completers.compare(0, 2, ",b") == 0 && completers.compare(0, 4, ",b,m") != 0)
        completers = completers.substr(2);
    // objdump writes no R on the right halves of the single multiple
    // operations (the assembler encodes %fr16R as field 16)
    if ((base == "fmpyadd" || base == "fmpysub") && completers == ",sgl")
        for (std::string& op : ops)
            op = rx(op, "R$", "");
    std::string out = base + completers;
    if (!ops.empty())
        out += " " + join_operands(ops);
    // space register 0 left out, as objdump does for the data side
    return rx(out, "\\(sr0,", "(");
}

// objdump's line with the register names as numbers.
std::string canon_theirs(std::string s)
{
    s = rx(s, "[\t ]+", " ");
    s = rx(s, " $", "");
    s = rx(s, "\\brp\\b", "r2");
    s = rx(s, "\\bdp\\b", "r27");
    s = rx(s, "\\bret0\\b", "r28");
    s = rx(s, "\\bret1\\b", "r29");
    s = rx(s, "\\bsp\\b", "r30");
    s = rx(s, "\\bfpsr\\b", "fr0");
    std::smatch m;
    while (std::regex_search(s, m, re("\\bfpe([1-7])\\b"))) {
        const int n = std::stoi(m[1]);
        s = m.prefix().str() + "fr" + std::to_string(n / 2) + (n % 2 != 0 ? "R" : "") + m.suffix().str();
    }
    s = rx(s, "\\b(fr[0-9]+)L\\b", "$1");
    s = rx(s, "\\(sr0,", "(");
    if (std::regex_search(s, re("^(ldil|addil) ")))
        s = rx(s, "L%", "");
    if (std::regex_search(s, re("^m[tf]ctl "))) {
        static const char* const names[] = {"rctr", "", "", "", "", "", "", "", "pidr1", "pidr2", "ccr",
                                            "sar",  "pidr3", "pidr4", "iva", "eiem", "itmr", "pcsq", "pcoq",
                                            "iir",  "isr", "ior", "ipsw", "eirr", "tr0", "tr1", "tr2", "tr3",
                                            "tr4",  "tr5", "tr6", "tr7"};
        s = rx(s, "\\bcr([0-9]+)\\b", "r$1");
        for (int i = 0; i < 32; ++i) {
            if (*names[i] == '\0')
                continue;
            const std::string pattern = std::string("\\b") + names[i] + "\\b";
            s = std::regex_replace(s, std::regex(pattern), "r" + std::to_string(i));
        }
    }
    return s;
}

// objdump's operands as tokens: a bare number may be hex or decimal.
std::vector<Token> their_tokens(const std::string& s)
{
    std::vector<Token> t = tokenize(s, false);
    for (size_t i = 0; i < t.size(); ++i) {
        Token& k = t[i];
        const bool negated = i > 0 && t[i - 1].text == "-";
        if (k.number) {
            // decimal digits may be hex as well
            const uint64_t v = k.values[0];
            const bool below = v > 0xffffffffull;
            const uint64_t hex = std::stoull(std::to_string(below ? 0 - v : v), nullptr, 16);
            k.values.push_back(below ? 0 - hex : hex);
            continue;
        }
        if (k.text.find_first_not_of("0123456789abcdef") != std::string::npos)
            continue;
        uint64_t v = std::stoull(k.text, nullptr, 16);
        if (negated) {
            v = 0 - v;
            t.erase(t.begin() + static_cast<long>(i) - 1);
            --i;
        }
        t[i] = Token{"N", true, {v}};
    }
    return t;
}

bool same_text(const std::string& ours, const std::string& theirs)
{
    const std::string a = canon_ours(ours);
    const std::string b = canon_theirs(theirs);
    const std::string ma = a.substr(0, a.find(' '));
    const std::string mb = b.substr(0, b.find(' '));
    if (ma != mb)
        return false;
    const std::string oa = a.find(' ') == std::string::npos ? "" : a.substr(a.find(' ') + 1);
    const std::string ob = b.find(' ') == std::string::npos ? "" : b.substr(b.find(' ') + 1);
    return same_tokens(tokenize(oa, false), their_tokens(ob));
}

bool have_hppa_tools()
{
    return have_program("hppa-linux-gnu-as") && have_program("hppa-linux-gnu-objcopy") && have_program("objdump");
}

// objdump's reading of a raw big-endian file, by address.
std::map<uint64_t, std::string> objdump_hppa(const std::string& path)
{
    std::map<uint64_t, std::string> listing;
    for (const OracleLine& l : objdump_listing({"objdump", "-D", "-b", "binary", "-m", "hppa1.1", "-EB", path}))
        listing[l.addr] = l.text;
    return listing;
}

// Every word through hppa_disassemble at address 4 × index, one line each.
std::vector<std::string> disassemble_all(const std::vector<char>& bin)
{
    return disassemble_words(macho::hppa_disassemble, bin);
}

// Reviewed differences: "HEX reason" for one word, "MASK=MATCH reason"
// for a class of words, "OURS/THEIRS reason" for a mnemonic of ours (as the
// table names it) that objdump reads as THEIRS (its name without
// completers).
struct HppaExceptions {
    std::set<std::string> keys;

    HppaExceptions()
    {
        for (const auto& e : load_exceptions(std::string(DISASM_CORPUS_DIR) + "/hppa_exceptions.txt"))
            keys.insert(e.first);
    }

    static std::string key(const std::string& ours, const std::string& theirs)
    {
        return ours.substr(0, ours.find_first_of("\t,\n")) + "/" + theirs.substr(0, theirs.find_first_of(" \t,"));
    }

    bool explains(uint32_t word, const std::string& ours, const std::string& theirs) const
    {
        char hex[9];
        snprintf(hex, sizeof hex, "%08x", word);
        if (keys.count(hex) != 0 || keys.count(key(ours, theirs)) != 0)
            return true;
        // "MASK=MATCH": a class of words
        for (const std::string& k : keys) {
            if (k.size() != 17 || k[8] != '=')
                continue;
            const uint32_t mask = static_cast<uint32_t>(std::stoul(k.substr(0, 8), nullptr, 16));
            const uint32_t match = static_cast<uint32_t>(std::stoul(k.substr(9), nullptr, 16));
            if ((word & mask) == match)
                return true;
        }
        return false;
    }
};

// The assembled corpus: every line's mnemonic comes back, objdump reads
// each word alike (or a reviewed entry says why not), wardmacho prints the
// same lines from a Mach-O wrapper, and nothing is allocated meanwhile.
TEST(HppaObjdump, AssembledCorpus)
{
    if (!have_hppa_tools())
        GTEST_SKIP() << "HP-PA cross tools missing (scripts/packages/disasm.txt)";
    const std::string source = std::string(DISASM_CORPUS_DIR) + "/hppa_names.s";
    const std::string object = write_temp("hppa_names.o", {});
    const std::vector<char> bin =
        build_section({"hppa-linux-gnu-as", "-o", object, source}, object, "hppa-linux-gnu-objcopy");
    ASSERT_GE(bin.size(), 16u);
    const std::string binpath = write_temp("hppa_names.bin", bin);
    const std::map<uint64_t, std::string> theirs = objdump_hppa(binpath);
    unlink(binpath.c_str());
    const std::vector<std::string> ours = checked_words(macho::hppa_disassemble, bin, 11, "hppa_names.macho");
    ASSERT_EQ(bin.size() / 4, ours.size());

    std::vector<std::string> mnemonics;
    {
        std::ifstream f(source);
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream in(line);
            std::string op;
            if ((in >> op) && op[0] != '.' && op[0] != '#')
                mnemonics.push_back(op.substr(0, op.find(',')));
        }
    }
    ASSERT_EQ(mnemonics.size(), ours.size());
    // The true-branch spellings print as the preferred row before them.
    static const std::map<std::string, std::string> preferred{
        {"combt", "comb"}, {"comibt", "comib"}, {"addbt", "addb"}, {"addibt", "addib"}};
    const HppaExceptions exceptions;
    for (size_t i = 0; i < ours.size(); ++i) {
        const uint32_t word = word_at(bin, 4 * i);
        SCOPED_TRACE(testing::Message() << std::hex << word << ": " << ours[i]);
        const auto it = theirs.find(4 * i);
        const std::string t = it == theirs.end() ? "" : it->second;
        if (!same_text(ours[i], t)) {
            EXPECT_TRUE(exceptions.explains(word, ours[i], t))
                << "objdump: " << t << " | ours: " << canon_ours(ours[i]) << " | theirs: " << canon_theirs(t);
        }
        const std::string got = ours[i].substr(0, ours[i].find_first_of("\t,\n"));
        const auto alias = preferred.find(mnemonics[i]);
        EXPECT_EQ(alias != preferred.end() ? alias->second : mnemonics[i], got);
    }
}

// Every major opcode with every value of bits 5-15 under three register
// patterns: each word we decode, objdump decodes to the same text, or a
// reviewed entry says why not.
TEST(HppaSweep, EveryMajorOpcode)
{
    if (!have_hppa_tools())
        GTEST_SKIP() << "HP-PA cross tools missing (scripts/packages/disasm.txt)";
    const uint32_t patterns[] = {
        0,
        (5u << 21) | (3u << 16) | 4u,
        (31u << 21) | (30u << 16) | 29u,
    };
    std::vector<char> bin;
    for (uint32_t major = 0; major < 64; ++major)
        for (uint32_t mid = 0; mid < 2048; ++mid)
            for (uint32_t pattern : patterns) {
                const uint32_t w = (major << 26) | (mid << 5) | pattern;
                for (int shift : {24, 16, 8, 0})
                    bin.push_back(static_cast<char>(w >> shift));
            }
    const std::string path = write_temp("hppa_sweep.bin", bin);
    const std::map<uint64_t, std::string> theirs = objdump_hppa(path);
    unlink(path.c_str());
    const std::vector<std::string> ours = disassemble_all(bin);
    ASSERT_EQ(bin.size() / 4, ours.size());
    const HppaExceptions exceptions;
    std::map<std::string, std::pair<size_t, std::string>> unexplained; // by mnemonic pair
    size_t decoded = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].compare(0, 6, ".long ") == 0)
            continue;
        ++decoded;
        const uint32_t word = word_at(bin, 4 * i);
        const auto it = theirs.find(4 * i);
        const std::string t = it == theirs.end() ? "" : it->second;
        if (same_text(ours[i], t) || exceptions.explains(word, ours[i], t))
            continue;
        char hex[9];
        snprintf(hex, sizeof hex, "%08x", word);
        auto& entry = unexplained[HppaExceptions::key(ours[i], t)];
        if (entry.first++ == 0)
            entry.second = std::string(hex) + ": " + ours[i] + " | objdump: " + t;
    }
    EXPECT_GT(decoded, 100000u);
    for (const auto& u : unexplained)
        ADD_FAILURE() << u.first << " (" << u.second.first << " words), e.g. " << u.second.second;
}

// ---- through wardmacho ----

// A relocated ldil/ldo pair, a long-branch stub call and a plain branch to a
// label, from a big-endian MH_OBJECT.
TEST(HppaWardmacho, RelocatedOperandsAndJbsr)
{
    Wrapper w;
    w.cputype = 11;
    for (uint32_t word : {0x20200000u, 0x34210000u, 0xe8400000u, 0xe81f1fdfu, 0x08000240u}) {
        const std::vector<char> b = big_endian(word);
        w.text.insert(w.text.end(), b.begin(), b.end());
    }
    w.relocs = {plain_reloc(0, 1, true, 2), plain_reloc(0x10, 0, false, 1), plain_reloc(4, 1, true, 3),
                plain_reloc(0, 0, false, 1), plain_reloc(8, 2, true, 6), plain_reloc(0, 0, false, 1)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_x", 0x01, 0, 0}, {"_f", 0x01, 0, 0}};
    const std::string path = write_temp("hppa_wrapper.o", build_wrapper(w));
    const std::string out = run_program({WARDMACHO, "-tvV", path});
    unlink(path.c_str());
    EXPECT_EQ("(__TEXT,__text) section\n"
              "_main:\n"
              "00000000\tldil\tL`_x+0x10,%r1\n"
              "00000004\tldo\tR`_x(%r1),%r1\n"
              "00000008\tjbsr\t_f,%r2,0x10\n"
              "0000000c\tb,n\t_main\n"
              "00000010\tnop\n",
              out);
}

} // namespace
