// m68k disassembler: exact texts and lengths for big-endian words (every
// case takes the byte-swapping path on this host), symbolic operands, and
// lengths and texts against the Debian cross objdump.
#include "BigEndianCases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <sstream>

using namespace disasm_test;

namespace {

const macho::load_commands_view no_commands{nullptr, 0, 0, 0};

struct Case {
    const char* bytes;
    uint32_t addr;
    const char* want;
    uint32_t length;
};

Printed m68k(const std::vector<char>& b, uint32_t addr, int verbose = 0,
             const std::vector<macho::relocation_info>& relocs = {}, const Symbols* syms = nullptr,
             uint64_t left = UINT64_MAX, macho::byte_sex order = macho::BIG_ENDIAN_BYTE_SEX)
{
    if (left == UINT64_MAX)
        left = b.size();
    return capture([&] {
        return macho::m68k_disassemble(b.data(), left, addr, 0, order, relocs.empty() ? nullptr : relocs.data(),
                                       static_cast<uint32_t>(relocs.size()),
                                       syms != nullptr ? syms->table.data() : nullptr,
                                       syms != nullptr ? static_cast<uint32_t>(syms->table.size()) : 0, nullptr, 0,
                                       syms != nullptr ? syms->strings.data() : nullptr,
                                       syms != nullptr ? syms->strings.size() : 0, nullptr, 0, no_commands, 0, 0,
                                       verbose);
    });
}

void check_cases(const std::vector<Case>& cases)
{
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bytes);
        const Printed p = m68k(hex_bytes(k.bytes), k.addr);
        EXPECT_EQ(k.want, p.out);
        EXPECT_EQ(k.length, p.length);
        EXPECT_EQ("", p.err);
    }
}

// ---- reading and the integer lines ----

TEST(M68kReading, ShortTailsAndSectionEnd)
{
    const std::vector<char> one = hex_bytes("4e");
    Printed p = m68k(one, 0, 0, {}, nullptr, 1);
    EXPECT_EQ(".short\t0x4e00\n(end of section)\n", p.out);
    EXPECT_EQ(1u, p.length);
    p = m68k(one, 0, 0, {}, nullptr, 0);
    EXPECT_EQ("(end of section)\n", p.out);
    EXPECT_EQ(0u, p.length);
    // The same byte in a little-endian object stays in the low byte.
    p = m68k(one, 0, 0, {}, nullptr, 1, macho::LITTLE_ENDIAN_BYTE_SEX);
    EXPECT_EQ(".short\t0x004e\n(end of section)\n", p.out);
}

TEST(M68kReading, ExtensionPastTheSectionReadsZerosAndCountsOnlyBytesPresent)
{
    // orl #imm,d0 with one byte of its long immediate present.
    Printed p = m68k(hex_bytes("80bc 12"), 0);
    EXPECT_EQ("orl\t#0x12000000:l,d0\n", p.out);
    EXPECT_EQ(3u, p.length);
    // bsr.l with no displacement at all.
    p = m68k(hex_bytes("61ff"), 0);
    EXPECT_EQ("bsr\t0x2:l\n", p.out);
    EXPECT_EQ(2u, p.length);
    // A truncated double immediate: only the bytes present count.
    p = m68k(hex_bytes("f23c 5400 4000"), 0);
    EXPECT_EQ("fmoved\t#0d2,fp0\n", p.out);
    EXPECT_EQ(6u, p.length);
}

TEST(M68kInteger, ExactTexts)
{
    check_cases({
        {"4e75", 0, "rts\n", 2},
        {"a000", 0, ".word\t0xa000  | invalid instruction\n", 2},
        {"7080", 0, "moveq\t#-128,d0\n", 2},
        {"7180", 0, "moveq\t#-128,d0\n", 2},
        {"803c 0012", 0, "orb\t#0x12:b,d0\n", 4},
        {"48e7 0000", 0, "moveml\t#0x0,sp@-\n", 4},
        {"48e7 8001", 0, "moveml\td0/sp,sp@-\n", 4},
        {"4cdf 0101", 0, "moveml\tsp@+,d0/a0\n", 4},
        {"61ff 0000 0010", 0, "bsr\t0x12:l\n", 6},
        {"6610", 0x100, "bne\t0x112:b\n", 2},
        {"67fe", 0x100, "beq\t0x100:b\n", 2},
        {"6000 fffe", 0x100, "bra\t0x100:w\n", 4},
        {"51c8 fffe", 0x40, "dbf\td0,0x40\n", 4},
        {"41f0 00f0", 0, "lea\ta0@(0xfffffff0:b,d0:w:1),a0\n", 4},
        {"41f0 0120 fff0", 0, "lea\ta0@(0xfff0:w,d0:w:1),a0\n", 6},
        {"41f0 01e1 0010", 0, "lea\t@(0x10:w)@(0),a0\n", 6},
        {"41f0 01a1 0010", 0, "lea\t@(0x10:w,d0:w:1)@(0),a0\n", 6},
        {"41fb 0190", 0, "lea\tzpc@(0,d0:w:1),a0\n", 4},
        {"41f0 0100", 0, "lea\t<bad ef>,a0\n", 4},
        {"41f0 0164 0000", 0, "lea\t<bad ef>,a0\n", 6},
        {"4e7a 0801", 0, "movec\tvbr,d0\n", 4},
        {"4e7b 8002", 0, "movec\ta0,cacr\n", 4},
        {"4e56 fff8", 0, "linkw\ta6,#0xfff8\n", 4},
        {"2f0e", 0, "movel\ta6,sp@-\n", 2},
        {"206e 0008", 0, "movel\ta6@(0x8:w),a0\n", 4},
        {"23c0 0000 1000", 0, "movel\td0,0x1000:l\n", 6},
        {"31c0 8000", 0, "movew\td0,0x8000:w\n", 4},
        {"0c80 0000 0010", 0, "cmpl\t#0x10,d0\n", 6},
        {"0480 0000 0010", 0, "subl\t#0x10,d0\n", 6},
        {"0680 0000 0010", 0, "addl\t#0x10,d0\n", 6},
        {"0800 0003", 0, "btst\t#3,d0\n", 4},
        {"0500", 0, "btst\td2,d0\n", 2},
        {"5280", 0, "addql\t#0x1,d0\n", 2},
        {"5f48", 0, "subqw\t#0x7,a0\n", 2},
        {"5088", 0, "addql\t#0x8,a0\n", 2},
        {"57c0", 0, "seq\td0\n", 2},
        {"57fa 0005", 0, "trapeq.w\t#0x5\n", 4},
        {"d081", 0, "addl\td1,d0\n", 2},
        {"d1c1", 0, "addal\td1,a0\n", 2},
        {"9189", 0, "subxl\ta1@-,a0@-\n", 2},
        {"c342", 0, "exg\td1,d2\n", 2},
        {"c1fc 0003", 0, "muls\t#0x3:w,d0\n", 4},
        {"4c00 0800", 0, "mulsl\td0,d0\n", 4},
        {"4c41 1402", 0, "divul\td1,d2,d1\n", 4},
        {"4c41 0000", 0, "divul\td1,d0\n", 4},
        {"e388", 0, "lsll\t#1,d0\n", 2},
        {"e2a8", 0, "lsrl\td1,d0\n", 2},
        {"e7d0", 0, "rolw\ta0@\n", 2},
        {"e9c0 0108", 0, "bfextu\td0{#4,#8},d0\n", 4},
        {"efd0 1828", 0, "bfins\td1,a0@{d0,d0}\n", 4},
        {"4afc", 0, "illegal\n", 2},
        {"4e40", 0, "trap\t#0\n", 2},
        {"4848", 0, "bkpt\t#0\n", 2},
        {"0e50 0800", 0, "movesw\td0,a0@\n", 4},
        {"0e50 8000", 0, "movesw\ta0@,a0\n", 4},
        {"0e50 8800", 0, "movesw\ta0,a0@\n", 4},
        {"0cd0 0081", 0, "casw\td1,d2,a0@\n", 4},
        {"0cfc 8001 9082", 0, "cas2w\td1,d2,d0,d2,a0,a1\n", 6},
        {"00d0 8000", 0, "cmp2b\ta0@,a0\n", 4},
        {"0108 0010", 0, "movepw\t(0x10,a0),d0\n", 4},
        {"4e71", 0, "nop\n", 2},
        {"81c1", 0, "divs\td1,d0\n", 2},
        {"c501", 0, "abcd\td1,d2\n", 2},
        {"b308", 0, "cmpmb\ta0@+,a1@+\n", 2},
        {"4ab9 0001 0000", 0, "tstl\t0x10000:l\n", 6},
        {"203c 3f80 0000", 0, "movel\t#0x3f800000:l,d0\n", 6},
        {"4a78 8000", 0, "tstw\t0x8000:w\n", 4},
        {"203b 0804", 0, "movel\tpc@(0x4:b,d0:l:1),d0\n", 4},
        {"203a 0010", 0, "movel\tpc@(0x10:w),d0\n", 4},
        {"203d", 0, "movel\t<bad ef>,d0\n", 2},
        {"4e7f", 0, ".word\t0x4e7f  | invalid instruction\n", 2},
    });
}

TEST(M68kInteger, FloatingImmediatesThroughTheSwappedPath)
{
    check_cases({
        {"f23c 4400 3fc0 0000", 0, "fmoves\t#0s1.5,fp0\n", 8},
        {"f23c 5400 c004 0000 0000 0000", 0, "fmoved\t#0d-2.5,fp0\n", 12},
        {"f23c 4800 4000 0000 8000 0000 0000 0000", 0, "fmovex\t#0b400000008000000000000000,fp0\n", 16},
        {"f23c 4c00 8000 0003 1234 5678 9abc def0", 0, "fmovep\t#-3.123456789abcdef0e003,fp0\n", 16},
        {"f23c 4c00 4000 0003 1234 5678 9abc def0", 0, "fmovep\t#3.123456789abcdef0e-003,fp0\n", 16},
    });
}

// ---- line 15 ----

TEST(M68kCoprocessor, ExactTexts)
{
    check_cases({
        {"f280 0000", 0, "fnop\n", 4},
        {"f240 0028", 0, ".word\t0xf240  | invalid instruction\n", 4},
        {"f200 0041", 0, "fssqrt\tfp0\n", 4},
        {"f200 0062", 0, "fsaddx\tfp0\n", 4},
        {"f200 00a2", 0, "faddx\tfp0,fp1\n", 4},
        {"f200 0005", 0, "f0x05x\tfp0\n", 4},
        {"f200 00b1", 0, "fsincosx\tfp0,fp1,fp1\n", 4},
        {"f200 003a", 0, "ftstx\tfp0\n", 4},
        {"f200 5c32", 0, "fmovecrx\t#0x32,fp0\n", 4},
        {"f200 2000", 0, ".word\t0xf200  | invalid instruction\n", 4},
        {"f227 e000", 0, "fmovemx\t#0x0,sp@-\n", 4},
        {"f227 e0c0", 0, "fmovemx\tfp6/fp7,sp@-\n", 4},
        {"f21f d030", 0, "fmovemx\tsp@+,fp2/fp3\n", 4},
        {"f210 6c7f", 0, "fmovep\tfp0,a0@{#4294967295}\n", 4},
        {"f210 7c10", 0, "fmovep\tfp0,a0@{d1}\n", 4},
        {"f210 6000", 0, "fmovel\tfp0,a0@\n", 4},
        {"f200 8400", 0, "fmoveml\td0,fpi\n", 4},
        {"f200 b000", 0, "fmoveml\tfpc,d0\n", 4},
        {"f281 0010", 0x10, "fbeq\t0x22:w\n", 4},
        {"f2c1 0000 0010", 0x10, "fbeq\t0x22:l\n", 6},
        {"f2a0", 0, ".word\t0xf2a0  | invalid instruction\n", 2},
        {"f248 0001 fffc", 0x20, "fdbeq\td0,0x20\n", 6},
        {"f27a 0001 0005", 0, "ftrapeqw\t#0x5\n", 6},
        {"f27c 0001", 0, "ftrapeq\n", 4},
        {"f240 0001", 0, "fseq\td0\n", 4},
        {"f310", 0, "fsave\ta0@\n", 2},
        {"f358", 0, "frestore\ta0@+\n", 2},
        {"f380", 0, ".word\t0xf380  | invalid instruction\n", 2},
        {"f458", 0, "cinva\tdc\n", 2},
        {"f448", 0, "cinvl\tdc,a0@\n", 2},
        {"f4f1", 0, "cpushp\tbc,a1@\n", 2},
        {"f408", 0, ".word\t0xf408  | invalid instruction\n", 2},
        {"f508", 0, "pflush\ta0@\n", 2},
        {"f500", 0, "pflushn\ta0@\n", 2},
        {"f510", 0, "pflushan\n", 2},
        {"f518", 0, "pflusha040\n", 2},
        {"f568", 0, "ptestr\ta0@\n", 2},
        {"f548", 0, "ptestw\ta0@\n", 2},
        {"f620 9000", 0, "move16\ta0@+,a1@+\n", 4},
        {"f600 0000 1000", 0, "move16\ta0@+,#0x1000\n", 6},
        {"f618 0000 1000", 0, "move16\t#0x1000,a0@\n", 6},
        {"f010 4000", 0, "pmove\ta0@,tc\n", 4},
        {"f010 4200", 0, "pmove\ttc,a0@\n", 4},
        {"f010 4100", 0, "pmovefd\ta0@,tc\n", 4},
        {"f010 0800", 0, "pmove\ta0@,tt0\n", 4},
        {"f010 6200", 0, "pmove\tmmusr,a0@\n", 4},
        {"f010 9e11", 0, "ptestr\t#0x1,a0@,#0x7\n", 4},
        {"f010 8110", 0, "ptestw\t#0x0,a0@,#0x0,a0\n", 4},
        {"f010 2010", 0, "ploadw\t#0x0,a0@\n", 4},
        {"f000 2400", 0, "pflusha030\n", 4},
        {"f000 3010", 0, "pflush\t#0x0,#0x0\n", 4},
        {"f010 3810", 0, "pflush\t#0x0,#0x0,a0@\n", 4},
        {"f010 2002", 0, ".word\t0xf010  | invalid instruction\n", 4},
        {"f000 a000", 0, ".word\t0xf000  | invalid instruction\n", 4},
        {"fa00", 0, ".word\t0xfa00  | invalid instruction\n", 2},
    });
}

// ---- symbolic operands ----

TEST(M68kSymbolic, ExternalRelocationNamesTheOperand)
{
    Symbols syms;
    const uint32_t foo = syms.add("_foo");
    const std::vector<macho::relocation_info> relocs{plain_reloc(2, foo, true, 0)};
    Printed p = m68k(hex_bytes("4eb9 0000 0000"), 0, 1, relocs, &syms);
    EXPECT_EQ("jsr\t_foo:l\n", p.out);
    EXPECT_EQ(6u, p.length);
    // Without verbose the same bytes print numerically.
    p = m68k(hex_bytes("4eb9 0000 0000"), 0, 0, relocs, &syms);
    EXPECT_EQ("jsr\t0x0:l\n", p.out);
    // subl looks its long immediate up at its own position (address + 2).
    p = m68k(hex_bytes("0480 0000 0004"), 0, 1, relocs, &syms);
    EXPECT_EQ("subl\t_foo+0x4,d0\n", p.out);
    p = m68k(hex_bytes("0c80 0000 0000"), 0, 1, relocs, &syms);
    EXPECT_EQ("cmpl\t#_foo,d0\n", p.out);
}

TEST(M68kSymbolic, BranchTargetsNameSortedSymbols)
{
    const macho::sorted_symbol sorted[] = {{"_start", 0x100}, {"_loop", 0x112}};
    const std::vector<char> b = hex_bytes("6610");
    const Printed p = capture([&] {
        return macho::m68k_disassemble(b.data(), b.size(), 0x100, 0x100, macho::BIG_ENDIAN_BYTE_SEX, nullptr, 0,
                                       nullptr, 0, sorted, 2, nullptr, 0, nullptr, 0, no_commands, 0, 0, 1);
    });
    EXPECT_EQ("bne\t_loop:b\n", p.out);
}

// ---- against the Debian cross objdump ----

std::string replace_all(std::string s, const std::string& re, const std::string& with)
{
    return std::regex_replace(s, std::regex(re), with);
}

// Register lists in one order: "d0/a1" and "a1/d0" compare equal.
std::string sort_lists(const std::string& s)
{
    static const std::regex list("[a-z0-9]+(/[a-z0-9]+)+");
    std::string out;
    auto begin = std::sregex_iterator(s.begin(), s.end(), list);
    size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        out += s.substr(last, static_cast<size_t>(it->position()) - last);
        std::vector<std::string> parts;
        std::stringstream in(it->str());
        std::string part;
        while (std::getline(in, part, '/'))
            parts.push_back(part);
        std::sort(parts.begin(), parts.end());
        for (size_t i = 0; i < parts.size(); ++i)
            out += (i == 0 ? "" : "/") + parts[i];
        last = static_cast<size_t>(it->position() + it->length());
    }
    return out + s.substr(last);
}

// `ext` is the address of the instruction's first extension word: pc@(d)
// is compared as the address it names, as objdump prints it.
std::string normalise_ours(std::string s, uint32_t ext)
{
    std::smatch pc;
    if (std::regex_search(s, pc, std::regex("pc@\\((0x[0-9a-f]+):w\\)"))) {
        const auto d = static_cast<int16_t>(std::stoul(pc[1].str().substr(2), nullptr, 16));
        s = pc.prefix().str() + "pc@(" + std::to_string(ext + static_cast<uint32_t>(d)) + ")" + pc.suffix().str();
    }
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    s = replace_all(s, "\t", " ");
    s = replace_all(s, "#0[sd]([-0-9.e+]+|inf|nan)", "F$1");
    s = replace_all(s, "\\b(0x[0-9a-f]+|[0-9]+):[bwl]", "$1");
    s = replace_all(s, "^(trap[a-z]+)\\.([wl])", "$1$2");
    s = replace_all(s, "\\b(d[0-7]):(d[0-7])\\b", "$1,$2");
    s = replace_all(s, "(:[wl]):1\\b", "$1");
    s = replace_all(s, "[#}]", "");
    s = replace_all(s, "\\{", ",");
    s = replace_all(s, "^pflusha0[34]0", "pflusha");
    return sort_lists(s);
}

std::string normalise_objdump(std::string s)
{
    s = replace_all(s, "\t", " ");
    s = replace_all(s, "#0e([-0-9.e+]+|inf|nan)", "F$1");
    s = replace_all(s, "[%#}]", "");
    s = replace_all(s, "\\{", ",");
    s = replace_all(s, "\\bfp\\b", "a6");
    s = replace_all(s, "\\bfpcr\\b", "fpc");
    s = replace_all(s, "\\bfpsr\\b", "fps");
    s = replace_all(s, "\\bfpiar\\b", "fpi");
    s = replace_all(s, "\\bpsr\\b", "mmusr");
    s = replace_all(s, "\\bccr\\b", "cc");
    // Ranges: d2-d4 is d2/d3/d4.
    static const std::regex range("\\b(d|a|fp)([0-7])-(?:d|a|fp)?([0-7])\\b");
    std::smatch m;
    while (std::regex_search(s, m, range)) {
        std::string list;
        for (int r = std::stoi(m[2]); r <= std::stoi(m[3]); ++r)
            list += (list.empty() ? "" : "/") + m[1].str() + std::to_string(r);
        s = m.prefix().str() + list + m.suffix().str();
    }
    s = replace_all(s, "\\ba7\\b", "sp");
    // Mnemonics.
    const size_t blank = s.find(' ');
    std::string op = s.substr(0, blank);
    std::string rest = blank == std::string::npos ? "" : s.substr(blank);
    static const std::set<std::string> branch_names{"bra", "bsr", "bhi", "bls", "bcc", "bcs", "bne", "beq",
                                                    "bvc", "bvs", "bpl", "bmi", "bge", "blt", "bgt", "ble"};
    if (op == "moveal" || op == "moveaw" || op == "cmpal" || op == "cmpaw")
        op.erase(op.size() - 2, 1);
    else if (std::regex_match(op, std::regex("(or|and|sub|add|eor|cmp)i[bwl]")))
        op.erase(op.size() - 2, 1);
    else if (op.size() > 1 && branch_names.count(op) == 0 && branch_names.count(op.substr(0, op.size() - 1)) != 0)
        op.pop_back();
    else if (op.size() > 3 && op[0] == 'f' && op[1] == 'b' && (op.back() == 'l' || op.back() == 'w'))
        op.pop_back();
    else if (op == "fmovel" && std::regex_search(rest, std::regex("\\bfp[csi]\\b")))
        op = "fmoveml";
    else if (op == "divuw" || op == "divsw" || op == "muluw" || op == "mulsw")
        op.pop_back();
    else if (op == "fssqrtx" || op == "fdsqrtx") // named without the x here
        op.pop_back();
    std::smatch div;
    if ((op == "divull" || op == "divsll") && std::regex_match(rest, div, std::regex("(.*),(d[0-7]),(d[0-7])"))
        && div[2] == div[3]) {
        op.pop_back();
        rest = div[1].str() + "," + div[2].str();
    }
    // movep d(An) reads as (d,An) here.
    if (op.compare(0, 5, "movep") == 0)
        rest = std::regex_replace(rest, std::regex("\\b(a[0-7]|sp)@\\((-?[0-9]+)\\)"), "($2,$1)");
    // One operand for an f-operation on one register.
    std::smatch same;
    if (op[0] == 'f' && std::regex_match(rest, same, std::regex(" (fp[0-7]),(fp[0-7])")) && same[1] == same[2])
        rest = " " + same[1].str();
    return sort_lists(op + rest);
}

struct Corpus {
    const char* name;
    std::vector<std::string> build; // argv; "SRC" and "OBJ" are replaced
    const char* machine;
};

class M68kObjdump : public testing::TestWithParam<Corpus> {};

TEST_P(M68kObjdump, LengthsAndTextsAgree)
{
    const Corpus& corpus = GetParam();
    for (const char* tool : {"m68k-linux-gnu-as", "m68k-linux-gnu-objdump", "m68k-linux-gnu-objcopy", "clang"})
        if (!have_program(tool))
            GTEST_SKIP() << tool << " missing (scripts/packages/disasm.txt)";
    const std::string object = write_temp(std::string(corpus.name) + ".o", {});
    std::vector<std::string> build;
    for (const std::string& a : corpus.build)
        build.push_back(a == "SRC" ? std::string(DISASM_CORPUS_DIR) + "/" + corpus.name : a == "OBJ" ? object : a);
    std::vector<char> bin = build_section(build, object, "m68k-linux-gnu-objcopy");
    ASSERT_GT(bin.size(), 16u);
    // objdump reports a lone final word out of bounds: pad with nops.
    for (int i = 0; i < 4; ++i) {
        bin.push_back(0x4e);
        bin.push_back(0x71);
    }
    const std::string path = write_temp(std::string(corpus.name) + ".bin", bin);
    const std::vector<OracleLine> theirs = objdump_listing(
        {"m68k-linux-gnu-objdump", "-D", "-b", "binary", "-m", corpus.machine, path});
    unlink(path.c_str());
    ASSERT_FALSE(theirs.empty());
    const auto exceptions = load_exceptions(std::string(DISASM_CORPUS_DIR) + "/m68k_exceptions.txt");
    const auto excepted = [&](const std::string& hex) {
        for (const auto& e : exceptions)
            if (e.first == hex)
                return true;
        return false;
    };

    size_t k = 0; // index into theirs
    uint64_t off = 0;
    size_t compared = 0;
    bool resync = false; // after an oracle's wrong length, until we agree again
    while (off + 8 < bin.size()) {
        const Printed p = m68k(std::vector<char>(bin.begin() + static_cast<long>(off), bin.end()),
                               static_cast<uint32_t>(off));
        ASSERT_GE(p.length, 2u);
        const std::string hex = to_hex(bin.data() + off, p.length);
        while (k < theirs.size() && theirs[k].addr < off)
            ++k;
        const bool aligned = k < theirs.size() && theirs[k].addr == off;
        const bool next_aligned = k + 1 < theirs.size() && theirs[k + 1].addr == off + p.length;
        if (excepted(hex)) {
            resync = !next_aligned;
        } else if (!(resync && !aligned)) {
            resync = false;
            SCOPED_TRACE(hex + " at " + std::to_string(off) + ": " + p.out);
            EXPECT_TRUE(aligned && next_aligned) << "objdump boundaries differ";
            if (aligned) {
                const std::string a = normalise_ours(p.out, static_cast<uint32_t>(off + 2));
                const std::string b = normalise_objdump(theirs[k].text);
                EXPECT_TRUE(same_tokens(tokenize(a, false), tokenize(b, true)))
                    << "ours    " << a << "\nobjdump " << b << "\n(" << theirs[k].text << ")";
                ++compared;
            }
        }
        off += p.length;
    }
    EXPECT_GT(compared, 10u);

    // Wrapped in a Mach-O object, wardmacho -tvV prints the same lines.
    Wrapper w;
    w.cputype = 6;
    w.text = bin;
    const std::string wrapped = write_temp(std::string(corpus.name) + ".macho", build_wrapper(w));
    std::vector<std::string> printed;
    std::istringstream in(run_program({WARDMACHO, "-tvV", wrapped}));
    unlink(wrapped.c_str());
    std::string line;
    while (std::getline(in, line))
        if (line.size() > 9 && line[8] == '\t')
            printed.push_back(line.substr(9) + "\n");
    std::vector<std::string> direct;
    for (uint64_t at = 0; at < bin.size();) {
        const Printed p = m68k(std::vector<char>(bin.begin() + static_cast<long>(at), bin.end()),
                               static_cast<uint32_t>(at));
        direct.push_back(p.out);
        at += p.length;
    }
    EXPECT_EQ(direct, printed);

    // Nothing is allocated while the corpus is disassembled.
    if (allocation_counting_available()) {
        start_counting_allocations();
        free(strdup("the counter sees libc's allocations"));
        ASSERT_GT(stop_counting_allocations(), 0u);
        unsigned long allocations = 0;
        quietly([&] {
            start_counting_allocations();
            for (uint64_t at = 0; at < bin.size();)
                at += macho::m68k_disassemble(bin.data() + at, bin.size() - at, at, 0, macho::BIG_ENDIAN_BYTE_SEX,
                                              nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                                              no_commands, 0, 0, 1);
            allocations = stop_counting_allocations();
        });
        EXPECT_EQ(0u, allocations);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Corpora, M68kObjdump,
    testing::Values(
        Corpus{"m68k_integer.s", {"m68k-linux-gnu-as", "-m68040", "-o", "OBJ", "SRC"}, "m68k:68040"},
        Corpus{"m68k_fpu040.s", {"m68k-linux-gnu-as", "-m68040", "-o", "OBJ", "SRC"}, "m68k:68040"},
        Corpus{"m68k_mmu030.s", {"m68k-linux-gnu-as", "-m68030", "-o", "OBJ", "SRC"}, "m68k:68030"},
        Corpus{"compiled.c", {"clang", "--target=m68k-linux-gnu", "-O2", "-c", "-o", "OBJ", "SRC"},
               "m68k:68040"}),
    [](const testing::TestParamInfo<Corpus>& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '.', '_');
        return n;
    });

// ---- through wardmacho ----

Wrapper m68k_wrapper()
{
    Wrapper w;
    w.cputype = 6;
    // nop; bsr.l to the stub; jsr _foo (external entry); rts
    w.text = hex_bytes("4e71 61ff 0000 000e 4eb9 0000 0000 4e75 4e71");
    w.relocs = {plain_reloc(10, 2, true, 0)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_puts", 0x01, 0, 0}, {"_foo", 0x01, 0, 0}};
    w.stub_size = 6;
    w.stubs = hex_bytes("4ef9 0000 0000");
    w.indirect = {1};
    return w;
}

TEST(M68kWardmacho, StubNoteAndExternalOperand)
{
    const std::string path = write_temp("m68k_wrapper.o", build_wrapper(m68k_wrapper()));
    const std::string out = run_program({WARDMACHO, "-tvV", path});
    unlink(path.c_str());
    EXPECT_EQ("(__TEXT,__text) section\n"
              "_main:\n"
              "00000000\tnop\n"
              "00000002\tbsr\t0x12:l\t; symbol stub for: _puts\n"
              "00000008\tjsr\t_foo:l\n"
              "0000000e\trts\n"
              "00000010\tnop\n",
              out);
}

// cstool (Capstone) as a second length oracle, on the compiled corpus: its
// integer instructions only (it is no oracle for line 15).
TEST(M68kCstool, CompiledCorpusLengths)
{
    for (const char* tool : {"cstool", "m68k-linux-gnu-objcopy", "clang"})
        if (!have_program(tool))
            GTEST_SKIP() << tool << " missing";
    const std::string object = write_temp("compiled_cs.o", {});
    const std::vector<char> bin =
        build_section({"clang", "--target=m68k-linux-gnu", "-O2", "-c", "-o", object,
                       std::string(DISASM_CORPUS_DIR) + "/compiled.c"},
                      object, "m68k-linux-gnu-objcopy");
    ASSERT_GT(bin.size(), 16u);
    // " 1c  4e 75  rts"
    std::map<uint64_t, size_t> theirs;
    std::istringstream in(run_program({"cstool", "m68k40", to_hex(bin.data(), bin.size())}));
    std::string line;
    static const std::regex row("^ *([0-9a-f]+)  ((?:[0-9a-f]{2} )+) .*$");
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, row))
            theirs[std::stoull(m[1], nullptr, 16)] = m[2].length() / 3;
    }
    size_t checked = 0;
    for (uint64_t off = 0; off < bin.size();) {
        const Printed p = m68k(std::vector<char>(bin.begin() + static_cast<long>(off), bin.end()),
                               static_cast<uint32_t>(off));
        ASSERT_GE(p.length, 2u);
        const auto it = theirs.find(off);
        ASSERT_NE(theirs.end(), it) << "cstool has no instruction at " << off << ": " << p.out;
        EXPECT_EQ(it->second, p.length) << "at " << off << ": " << p.out;
        ++checked;
        off += p.length;
    }
    EXPECT_GT(checked, 50u);
}

} // namespace
