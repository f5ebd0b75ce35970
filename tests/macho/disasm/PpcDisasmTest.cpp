// PowerPC disassembler: exact texts for big-endian words (the byte-swapping
// path on this host), the branch forms with their hints, the relocated
// operands and their warnings.
#include "BigEndianWords.h"
#include "options.h"

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

const macho::load_commands_view no_commands{nullptr, 0, 0, 0};

// Sets Zflag for one scope.
class ZflagSet {
public:
    explicit ZflagSet(int value) : saved_(Zflag) { Zflag = value; }
    ~ZflagSet() { Zflag = saved_; }
    ZflagSet(const ZflagSet&) = delete;
    ZflagSet& operator=(const ZflagSet&) = delete;

private:
    int saved_;
};

struct Call {
    uint64_t addr = 0;
    uint64_t sect_addr = 0;
    int verbose = 0;
    std::vector<macho::relocation_info> relocs;
    const Symbols* syms = nullptr;
    const std::vector<macho::sorted_symbol>* sorted = nullptr;
    bool symbols64 = false;
};

// ppc_disassemble with 32-bit symbols, no indirect symbols and no load
// commands.
uint32_t ppc_plain(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr, macho::byte_sex order,
                   const macho::relocation_info* relocs, uint32_t nrelocs, const macho::nlist* symbols,
                   uint32_t nsymbols, const macho::sorted_symbol* sorted, uint32_t nsorted, const char* strings,
                   uint64_t strings_size, int verbose)
{
    return macho::ppc_disassemble(sect, left, addr, sect_addr, order, relocs, nrelocs, symbols, nullptr, nsymbols,
                                  sorted, nsorted, strings, strings_size, nullptr, 0, no_commands, 0, 0, verbose);
}

Printed ppc(const std::vector<char>& b, const Call& k = Call(), uint64_t left = UINT64_MAX)
{
    if (left == UINT64_MAX)
        left = b.size();
    std::vector<macho::nlist_64> table64;
    if (k.syms != nullptr && k.symbols64) {
        for (const macho::nlist& n : k.syms->table) {
            macho::nlist_64 m{};
            m.n_strx = n.n_strx;
            m.n_value = n.n_value;
            table64.push_back(m);
        }
    }
    return capture([&] {
        return macho::ppc_disassemble(
            b.data(), left, k.addr, k.sect_addr, macho::BIG_ENDIAN_BYTE_SEX, k.relocs.empty() ? nullptr : k.relocs.data(),
            static_cast<uint32_t>(k.relocs.size()), k.syms != nullptr && !k.symbols64 ? k.syms->table.data() : nullptr,
            k.symbols64 ? table64.data() : nullptr, k.syms != nullptr ? static_cast<uint32_t>(k.syms->table.size()) : 0,
            k.sorted != nullptr ? k.sorted->data() : nullptr,
            k.sorted != nullptr ? static_cast<uint32_t>(k.sorted->size()) : 0,
            k.syms != nullptr ? k.syms->strings.data() : nullptr, k.syms != nullptr ? k.syms->strings.size() : 0,
            nullptr, 0, no_commands, 0, 0, k.verbose);
    });
}

struct Case {
    const char* word;
    uint64_t addr;
    int zflag;
    const char* want;
};

void check_cases(const std::vector<Case>& cases)
{
    for (const Case& k : cases) {
        SCOPED_TRACE(k.word);
        ZflagSet z(k.zflag);
        Call call;
        call.addr = k.addr;
        const Printed p = ppc(hex_bytes(k.word), call);
        EXPECT_EQ(k.want, p.out);
        EXPECT_EQ(4u, p.length);
        EXPECT_EQ("", p.err);
    }
}

// ---- the decoder ----

TEST(PpcDecode, ExactTexts)
{
    check_cases({
        {"60000000", 0, 0, "nop\n"},
        {"60000001", 0, 0, "ori\tr0,r0,0x1\n"},
        {"3860ffff", 0, 0, "li\tr3,0xffff\n"},
        {"3c600001", 0, 0, "lis\tr3,0x1\n"},
        {"38630010", 0, 0, "addi\tr3,r3,0x10\n"},
        {"7fe00008", 0, 0, "trap\n"},
        {"7c832008", 0, 0, "tweq\tr3,r4\n"},
        {"7d232008", 0, 0, "tw\t9,r3,r4\n"},
        {"0c830010", 0, 0, "tweqi\tr3,0x10\n"},
        {"7c032000", 0, 0, "cmpw\tr3,r4\n"},
        {"7c032000", 0, 1, "cmp\tcr0,0,r3,r4\n"},
        {"7c832000", 0, 0, "cmpw\tcr1,r3,r4\n"},
        {"7c232040", 0, 0, "cmpld\tr3,r4\n"},
        {"2c030005", 0, 0, "cmpwi\tr3,0x5\n"},
        {"2f83ffff", 0, 0, "cmpwi\tcr7,r3,0xffff\n"},
        {"28030005", 0, 1, "cmpli\tcr0,0,r3,0x5\n"},
        {"7c0802a6", 0, 0, "mfspr\tr0,lr\n"},
        {"7c0803a6", 0, 0, "mtspr\tlr,r0\n"},
        {"7c1c43a6", 0, 0, "mttbl\tr0\n"},
        {"7c1d43a6", 0, 0, "mttbu\tr0\n"},
        {"7c6042a6", 0, 0, "mfspr\tr3,VRsave\n"},
        {"7c7e42a6", 0, 0, "mfspr\tr3,286\n"},
        {"7c7ffaa6", 0, 0, "mfspr\tr3,pir\n"},
        {"7c7082a6", 0, 0, "mfspr\tr3,ibat0u\n"},
        {"7c6c42e6", 0, 0, "mftb\tr3\n"},
        {"7c6d42e6", 0, 0, "mftbu\tr3\n"},
        {"04000000", 0, 0, ".long 0x04000000\n"},
        {"84600000", 0, 0, "lwzu\tr3,0x0(r0)\n"},
        {"8c600000", 0, 0, "lbzu\tr3,0x0(0)\n"},
        {"a4600000", 0, 0, "lhzu\tr3,0x0(0)\n"},
        {"94210000", 0, 0, "stwu\tr1,0x0(r1)\n"},
        {"80610008", 0, 0, "lwz\tr3,0x8(r1)\n"},
        {"80600008", 0, 0, "lwz\tr3,0x8(0)\n"},
        {"c8230010", 0, 0, "lfd\tf1,0x10(r3)\n"},
        {"e8610012", 0, 0, "lwa\tr3,0x10(r1)\n"},
        {"e8610011", 0, 0, "ldu\tr3,0x10(r1)\n"},
        {"f8600008", 0, 0, "std\tr3,0x8(0)\n"},
        {"7c632214", 0, 0, "add\tr3,r3,r4\n"},
        {"7c632615", 0, 0, "addo.\tr3,r3,r4\n"},
        {"7c6300d0", 0, 0, "neg\tr3,r3\n"},
        {"7c632050", 0, 0, "subf\tr3,r3,r4\n"},
        {"7c6320d6", 0, 0, "mul\tr3,r3,r4\n"},
        {"7c632210", 0, 0, "doz\tr3,r3,r4\n"},
        {"7c6302d0", 0, 0, "abs\tr3,r3\n"},
        {"7c832378", 0, 0, "or\tr3,r4,r4\n"},
        {"7c6320f9", 0, 0, "nor.\tr3,r3,r4\n"},
        {"7c640034", 0, 0, "cntlzw\tr4,r3\n"},
        {"7c63203a", 0, 0, "maskg\tr3,r3,r4\n"},
        {"7c64182e", 0, 0, "lwzx\tr3,r4,r3\n"},
        {"7c60182e", 0, 0, "lwzx\tr3,0,r3\n"},
        {"7c64186e", 0, 0, "lwzux\tr3,r4,r3\n"},
        {"7c60192d", 0, 0, "stwcx.\tr3,0,r3\n"},
        {"7c201cae", 0, 0, "lfdx\tf1,0,r3\n"},
        {"7c4018ce", 0, 0, "lvx\tv2,0,r3\n"},
        {"7c001fae", 0, 0, "stfiwx\tf0,0,r3\n"},
        {"7c6404aa", 0, 0, "lswi\tr3,r4,0\n"},
        {"7c64222a", 0, 0, "lscbx\tr3,r4,r4\n"},
        {"7c00186c", 0, 0, "dcbst\t0,r3\n"},
        {"7c04186c", 0, 0, "dcbst\tr4,r3\n"},
        {"7c041a2c", 0, 0, "dcbt\tr4,r3\n"},
        {"7d041a2c", 0, 0, "dcbt\tr4,r3,0x8\n"},
        {"7c001fec", 0, 0, "dcbz\t0,r3\n"},
        {"7c201fec", 0, 0, "dcbzl\t0,r3\n"},
        {"7c640e70", 0, 0, "srawi\tr4,r3,1\n"},
        {"7c640e76", 0, 0, "sradi\tr4,r3,33\n"},
        {"7c640e74", 0, 0, "sradi\tr4,r3,1\n"},
        {"7c600026", 0, 0, "mfcr\tr3\n"},
        {"7c708026", 0, 0, "mfocrf\tr3,0x08\n"},
        {"7c6ff120", 0, 0, "mtcrf\t255,r3\n"},
        {"7c708120", 0, 0, "mtocrf\t0x08,r3\n"},
        {"7c6001a4", 0, 0, "mtsr\tsr0,r3\n"},
        {"7c6104a6", 0, 0, "mfsr\tr3,sr1\n"},
        {"7c000400", 0, 0, "mcrxr\tcr0\n"},
        {"7c640426", 0, 0, "clcs\tr3,r4\n"},
        {"7c001a64", 0, 0, "tlbie\tr3\n"},
        {"7c0004ac", 0, 0, "sync\n"},
        {"7c2004ac", 0, 0, "lwsync\n"},
        {"7c4004ac", 0, 0, "ptesync\n"},
        {"7c6004ac", 0, 0, "sync\t3\n"},
        {"7c0006ac", 0, 0, "eieio\n"},
        {"7c0002e4", 0, 0, "tlbia\n"},
        {"7c0322ac", 0, 0, "dst\tr3,r4,0\n"},
        {"7e0322ac", 0, 0, "dstt\tr3,r4,0\n"},
        {"7c00066c", 0, 0, "dss\t0\n"},
        {"7e00066c", 0, 0, "dssall\n"},
        {"00000200", 0, 0, "attn\t0x0\n"},
        {"00000000", 0, 0, ".long 0x00000000\n"},
        {"44000002", 0, 0, "sc\n"},
        {"4c000064", 0, 0, "rfi\n"},
        {"4c00012c", 0, 0, "isync\n"},
        {"4c220a42", 0, 0, "creqv\t1,2,1\n"},
        {"4c840000", 0, 0, "mcrf\tcr1,cr1\n"},
        {"5463103a", 0, 0, "rlwinm\tr3,r3,2,0,29\n"},
        {"5c63203e", 0, 0, "rlwnm\tr3,r3,r4,0,31\n"},
        {"78630020", 0, 0, "rldicl\tr3,r3,0,32\n"},
        {"78630010", 0, 0, "rldcl\tr3,r3,r0,0\n"},
        {"fc011000", 0, 0, "fcmpu\tcr0,f1,f2\n"},
        {"fc200890", 0, 0, "fmr\tf1,f1\n"},
        {"fc20102a", 0, 0, "fadd\tf1,f0,f2\n"},
        {"fc2110fa", 0, 0, "fmadd\tf1,f1,f3,f2\n"},
        {"fc2100f2", 0, 0, "fmul\tf1,f1,f3\n"},
        {"fc20102c", 0, 0, "fsqrt\tf1,f2\n"},
        {"fc2008ec", 0, 0, ".long 0xfc2008ec\n"},
        {"ec21102a", 0, 0, "fadds\tf1,f1,f2\n"},
        {"fc00048e", 0, 0, "mffs\tf0\n"},
        {"fdfe058e", 0, 0, "mtfsf\t255,f0\n"},
        {"10011080", 0, 0, "vadduwm\tv0,v1,v2\n"},
        {"100110c6", 0, 0, "vcmpeqfp\tv0,v1,v2\n"},
        {"100114c6", 0, 0, "vcmpeqfp.\tv0,v1,v2\n"},
        {"1000110a", 0, 0, "vrefp\tv0,v2\n"},
        {"1001120c", 0, 0, "vspltb\tv0,v2,1\n"},
        {"101f030c", 0, 0, "vspltisb\tv0,-1\n"},
        {"10000604", 0, 0, "mfvscr\tv0\n"},
        {"10001644", 0, 0, "mtvscr\tv2\n"},
        {"100110eb", 0, 0, "vperm\tv0,v1,v2,v3\n"},
        {"100110ee", 0, 0, "vmaddfp\tv0,v1,v3,v2\n"},
        {"1001116c", 0, 0, "vsldoi\tv0,v1,v2,5\n"},
        {"10011001", 0, 0, ".long 0x10011001\n"},
        {"1000003e", 0, 0, ".long 0x1000003e\n"},
        {"1000003a", 0, 0, ".long 0x1000003a\n"},
        {"1000120e", 0, 0, "vupkhsb\tv0,v2\n"},
    });
}

TEST(PpcDecode, TailWordIsZeroFilled)
{
    Printed p = ppc(hex_bytes("1234"));
    EXPECT_EQ(".long\t0x12340000\n(end of section)\n", p.out);
    EXPECT_EQ(2u, p.length);
    p = ppc(hex_bytes("12"));
    EXPECT_EQ(".long\t0x12000000\n(end of section)\n", p.out);
    EXPECT_EQ(1u, p.length);
    p = ppc(hex_bytes(""), Call(), 0);
    EXPECT_EQ("(end of section)\n", p.out);
    EXPECT_EQ(0u, p.length);
}

// ---- branches ----

TEST(PpcBranches, SimplifiedFormsHintsAndTargets)
{
    check_cases({
        {"4e800020", 0, 0, "blr\n"},
        {"4e800021", 0, 0, "blrl\n"},
        {"4e800420", 0, 0, "bctr\n"},
        {"4d820020", 0, 0, "beqlr\n"},
        {"4da20020", 0, 0, "beqlr+\n"},
        {"4e800020", 0, 1, "bclr\t20,0,0\n"},
        {"40860010", 0x64, 0, "bne\tcr1,0x74\n"},
        {"40820010", 0x68, 0, "bne\t0x78\n"},
        {"40820010", 0x68, 1, "bc\t4,2,0x78\n"},
        {"4200fff0", 0x6c, 0, "bdnz\t0x5c\n"},
        {"41a20010", 0x70, 0, "beq+\t0x80\n"},
        {"41a2fff0", 0x70, 0, "beq-\t0x60\n"},
        {"48000010", 0x74, 0, "b\t0x84\n"},
        {"48000011", 0x74, 0, "bl\t0x84\n"},
        {"4bfffff0", 0x74, 0, "b\t0x64\n"},
        {"48000012", 0x74, 0, "ba\t0x10\n"},
        {"40c20010", 0x78, 0, "bne--\t0x88\n"},
        {"41e20010", 0, 0, "beq++\t0x10\n"},
        {"43000010", 0, 0, "bdnz--\t0x10\n"},
        {"41000010", 0, 0, "bdnzt\tlt,0x10\n"},
        {"40060010", 0, 0, "bdnzf\tcr1+eq,0x10\n"},
        {"42800010", 0, 0, "b\t0x10\n"},
        {"42820010", 0, 0, "bc\t20,2,0x10\n"},
        {"42020010", 0, 0, "bc\t16,2,0x10\n"},
        {"4e000420", 0, 0, "bcctr\t16,0\n"},
        {"4c000420", 0, 0, "bcctr\t0,0\n"},
        {"4e801020", 0, 0, "blr\t2\n"},
        {"4d821020", 0, 0, "beqlr\tcr0,2\n"},
    });
}

TEST(PpcBranches, PredictionFlagFromARelocationOfLengthThree)
{
    Call call;
    call.verbose = 1;
    call.relocs = {plain_reloc(0, 1, false, 2, 3)};
    // y clear, forward: the flag gives "-".
    Printed p = ppc(hex_bytes("40820010"), call);
    EXPECT_EQ("bne-\t0x10\n", p.out);
    call.relocs = {plain_reloc(0, 1, false, 2, 2)};
    p = ppc(hex_bytes("40820010"), call);
    EXPECT_EQ("bne\t0x10\n", p.out);
}

TEST(PpcBranches, SixtyFourBitTargetsAboveFourGiB)
{
    Symbols syms;
    syms.add("_x");
    Call call;
    call.addr = 0x100000074ull;
    call.sect_addr = 0x100000000ull;
    call.syms = &syms;
    call.symbols64 = true;
    Printed p = ppc(hex_bytes("48000010"), call);
    EXPECT_EQ("b\t0x100000084\n", p.out);
    p = ppc(hex_bytes("4bfffff0"), call);
    EXPECT_EQ("b\t0x100000064\n", p.out);
    p = ppc(hex_bytes("41a20010"), call);
    EXPECT_EQ("beq+\t0x100000084\n", p.out);
    // 32-bit code wraps at 4 GiB.
    Call low;
    low.addr = 0x10;
    p = ppc(hex_bytes("4bffffe0"), low);
    EXPECT_EQ("b\t0xfffffff0\n", p.out);
}

// ---- relocated operands ----

struct RelocCase {
    const char* name;
    const char* word;
    std::vector<macho::relocation_info> relocs;
    const char* want;
    const char* warnings;
};

TEST(PpcRelocations, OperandsAndWarnings)
{
    using namespace macho;
    Symbols syms;
    const uint32_t x = syms.add("_x");
    const uint32_t foo = syms.add("_foo");
    const std::vector<sorted_symbol> sorted{{"_a", 0x1000}, {"_b", 0x1100}, {"_c", 0x12345678}};
    const std::vector<RelocCase> cases{
        {"hi16", "3c600000", {plain_reloc(0, x, true, 4), plain_reloc(0x5678, 0, false, 1)},
         "lis\tr3,hi16(_x+0x5678)\n", ""},
        {"lo16", "38635678", {plain_reloc(0, x, true, 5), plain_reloc(0, 0, false, 1)},
         "addi\tr3,r3,lo16(_x+0x5678)\n", ""},
        {"ha16 without sign adjustment", "3c600001", {plain_reloc(0, x, true, 6), plain_reloc(0x8000, 0, false, 1)},
         "lis\tr3,ha16(_x+0x18000)\n", ""},
        {"jbsr", "48000021", {plain_reloc(0, foo, true, 13), plain_reloc(0, 0, false, 1)}, "jbsr\t_foo,0x20\n", ""},
        {"jmp", "48000020", {plain_reloc(0, foo, true, 13), plain_reloc(0x40, 0, false, 1)}, "jmp\t_foo+0x40,0x20\n",
         ""},
        {"no offset", "3c600000", {plain_reloc(0, x, true, 4), plain_reloc(0, 0, false, 1)}, "lis\tr3,hi16(_x)\n",
         ""},
        {"missing pair", "3c600000", {plain_reloc(0, x, true, 4), plain_reloc(8, x, true, 0)}, "lis\tr3,0x0\n",
         "No PPC_RELOC_PAIR relocation entry after entry 0\n"},
        {"stray pair", "3c600000", {plain_reloc(0, 0, false, 1)}, "lis\tr3,0x0\n",
         "Stray PPC_RELOC_PAIR relocation entry 0\n"},
        {"other entry's pair skipped", "3c600000",
         {plain_reloc(8, x, true, 4), plain_reloc(0, 0, false, 1), plain_reloc(0, x, true, 4),
          plain_reloc(0x10, 0, false, 1)},
         "lis\tr3,hi16(_x+0x10)\n", ""},
        {"other entry without pair", "3c600000",
         {plain_reloc(8, x, true, 4), plain_reloc(0, x, true, 0)}, "lis\tr3,_x\n",
         "No PPC_RELOC_PAIR relocation entry after entry 0\n"},
        {"symbol number out of range", "3c600000",
         {plain_reloc(0, 7, true, 4), plain_reloc(0, 0, false, 1)}, "lis\tr3,hi16(bad string offset)\n", ""},
        {"ha16 sectdiff", "3c600000",
         {scattered_reloc(0, 12, 0x1100), scattered_reloc(0x0180, 1, 0x1000)}, "lis\tr3,ha16(_b-_a+0x80)\n", ""},
        {"lo16 sectdiff", "38630180",
         {scattered_reloc(0, 11, 0x1100), scattered_reloc(0, 1, 0x1000)}, "addi\tr3,r3,lo16(_b-_a+0x80)\n", ""},
        {"hi16 sectdiff exact", "3c600000",
         {scattered_reloc(0, 10, 0x2100), scattered_reloc(0x1100, 1, 0x1000)}, "lis\tr3,hi16(0x2100-_a)\n", ""},
        {"scattered lo16", "38631108",
         {scattered_reloc(0, 5, 0x1100), scattered_reloc(0, 1, 0)}, "addi\tr3,r3,lo16(_b+0x8)\n", ""},
        {"local hi16", "3c601234", {plain_reloc(0, 1, false, 4), plain_reloc(0x5678, 0, false, 1)},
         "lis\tr3,hi16(_c)\n", ""},
        {"local unnamed", "3c600001", {plain_reloc(0, 1, false, 6), plain_reloc(0x0010, 0, false, 1)},
         "lis\tr3,ha16(0x10010)\n", ""},
    };
    for (const RelocCase& k : cases) {
        SCOPED_TRACE(k.name);
        Call call;
        call.verbose = 1;
        call.relocs = k.relocs;
        call.syms = &syms;
        call.sorted = &sorted;
        const Printed p = ppc(hex_bytes(k.word), call);
        EXPECT_EQ(k.want, p.out);
        EXPECT_EQ(k.warnings, p.err);
    }
}

TEST(PpcRelocations, ExternalEntryWithoutSymbolTableOrPastTheStrings)
{
    Call call;
    call.verbose = 1;
    call.relocs = {macho::relocation_info(plain_reloc(0, 0, true, 4)), plain_reloc(0, 0, false, 1)};
    Printed p = ppc(hex_bytes("3c600000"), call);
    EXPECT_EQ("lis\tr3,hi16(bad string offset)\n", p.out);

    // A name that runs to the end of the table without its NUL stops there.
    Symbols syms;
    syms.add("_unterminated");
    syms.strings.pop_back();
    call.syms = &syms;
    const std::vector<char> bytes = hex_bytes("3c600000");
    p = ppc(bytes, call);
    EXPECT_EQ("lis\tr3,hi16(_unterminated)\n", p.out);
    syms.table[0].n_strx = 1000;
    p = ppc(bytes, call);
    EXPECT_EQ("lis\tr3,hi16(bad string offset)\n", p.out);
}

TEST(PpcRelocations, SortedSymbolsNameOperandsWithoutEntries)
{
    const std::vector<macho::sorted_symbol> sorted{{"_start", 0x84}};
    Call call;
    call.verbose = 1;
    call.addr = 0x74;
    call.sorted = &sorted;
    Printed p = ppc(hex_bytes("48000010"), call);
    EXPECT_EQ("b\t_start\n", p.out);
    p = ppc(hex_bytes("38600084"), call);
    EXPECT_EQ("li\tr3,_start\n", p.out);
}

// ---- against the Debian cross objdump ----

// Our text in the shared form: blanks for tabs, no hint characters.
std::string canon_ours(std::string s)
{
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    s = rx(s, "\t", " ");
    s = rx(s, "^([a-z.]+?)[-+]+( |$)", "$1$2");
    s = rx(s, "\\bsr([0-9]+)", "$1");
    s = rx(s, "VRsave", "vrsave");
    return s;
}

// A condition-register bit named by objdump ("4*cr1+eq", "gt") as its number.
std::string cr_bits(std::string s)
{
    static const std::map<std::string, int> bit{{"lt", 0}, {"gt", 1}, {"eq", 2}, {"so", 3}, {"un", 3}};
    std::smatch m;
    while (std::regex_search(s, m, re("4\\*cr([0-7])\\+(lt|gt|eq|so|un)")))
        s = m.prefix().str() + std::to_string(4 * std::stoi(m[1]) + bit.at(m[2])) + m.suffix().str();
    while (std::regex_search(s, m, re("\\b(lt|gt|eq|so|un)\\b")))
        s = m.prefix().str() + std::to_string(bit.at(m[1])) + m.suffix().str();
    return s;
}

// objdump's extended rotate and shift mnemonics as the instruction they
// stand for: the name, then sh, mb and me (or -1) from the operands n, b.
struct RotateAlias {
    const char* name;
    const char* op;
    long (*sh)(long n, long b);
    long (*mb)(long n, long b);
    long (*me)(long n, long b);
};
const RotateAlias rotate_aliases[] = {
    {"slwi", "rlwinm", [](long n, long) { return n; }, [](long, long) { return 0L; }, [](long n, long) { return 31 - n; }},
    {"srwi", "rlwinm", [](long n, long) { return (32 - n) % 32; }, [](long n, long) { return n; }, [](long, long) { return 31L; }},
    {"clrlwi", "rlwinm", [](long, long) { return 0L; }, [](long n, long) { return n; }, [](long, long) { return 31L; }},
    {"clrrwi", "rlwinm", [](long, long) { return 0L; }, [](long, long) { return 0L; }, [](long n, long) { return 31 - n; }},
    {"rotlwi", "rlwinm", [](long n, long) { return n; }, [](long, long) { return 0L; }, [](long, long) { return 31L; }},
    {"rotrwi", "rlwinm", [](long n, long) { return (32 - n) % 32; }, [](long, long) { return 0L; }, [](long, long) { return 31L; }},
    {"extlwi", "rlwinm", [](long, long b) { return b; }, [](long, long) { return 0L; }, [](long n, long) { return n - 1; }},
    {"extrwi", "rlwinm", [](long n, long b) { return (b + n) % 32; }, [](long n, long) { return 32 - n; }, [](long, long) { return 31L; }},
    {"inslwi", "rlwimi", [](long, long b) { return (32 - b) % 32; }, [](long, long b) { return b; }, [](long n, long b) { return b + n - 1; }},
    {"insrwi", "rlwimi", [](long n, long b) { return (64 - b - n) % 32; }, [](long, long b) { return b; }, [](long n, long b) { return b + n - 1; }},
    {"clrldi", "rldicl", [](long, long) { return 0L; }, [](long n, long) { return n; }, nullptr},
    {"rotldi", "rldicl", [](long n, long) { return n; }, [](long, long) { return 0L; }, nullptr},
    {"srdi", "rldicl", [](long n, long) { return (64 - n) % 64; }, [](long n, long) { return n; }, nullptr},
    {"sldi", "rldicr", [](long n, long) { return n; }, [](long n, long) { return 63 - n; }, nullptr},
    {"clrrdi", "rldicr", [](long, long) { return 0L; }, [](long n, long) { return 63 - n; }, nullptr},
    {"extrdi", "rldicl", [](long n, long b) { return (b + n) % 64; }, [](long n, long) { return 64 - n; }, nullptr},
    {"extldi", "rldicr", [](long, long b) { return b; }, [](long n, long) { return n - 1; }, nullptr},
    {"insrdi", "rldimi", [](long n, long b) { return (128 - b - n) % 64; }, [](long, long b) { return b; }, nullptr},
    {"clrlsldi", "rldic", [](long, long b) { return b; }, [](long n, long b) { return n - b; }, nullptr},
};

// objdump's text in the shared form: its extended mnemonics spelled as the
// instructions they stand for.
std::string canon_objdump(std::string s)
{
    s = rx(s, "[\t ]+", " ");
    s = rx(s, " $", "");
    s = rx(s, "^([a-z.]+?)[-+]+( |$)", "$1$2");
    std::smatch m;
    const auto is = [&](const char* pattern) { return std::regex_match(s, m, re(pattern)); };
    static const std::set<std::string> not_spr{"cr",   "msr",  "sr",   "srin", "tb",  "tbu", "fs",  "vscr",
                                               "ocrf", "crf",  "msrd", "tbl",  "fsf", "fsfi", "fsb0", "fsb1",
                                               "spr",  "dcr",  "pmr",  "fsb"};
    if (is("^mf([a-z0-9]+) (r[0-9]+)$") && not_spr.count(m[1]) == 0)
        return "mfspr " + m[2].str() + "," + m[1].str();
    if (is("^mt([a-z0-9]+) (r[0-9]+)$") && not_spr.count(m[1]) == 0)
        return "mtspr " + m[1].str() + "," + m[2].str();
    if (is("^mfsprg (r[0-9]+),([0-9])$"))
        return "mfspr " + m[1].str() + ",sprg" + m[2].str();
    if (is("^mtsprg ([0-9]),(r[0-9]+)$"))
        return "mtspr sprg" + m[1].str() + "," + m[2].str();
    if (is("^mf([id])bat([ul]) (r[0-9]+),([0-9])$"))
        return "mfspr " + m[3].str() + "," + m[1].str() + "bat" + m[4].str() + m[2].str();
    if (is("^mt([id])bat([ul]) ([0-9]),(r[0-9]+)$"))
        return "mtspr " + m[1].str() + "bat" + m[3].str() + m[2].str() + "," + m[4].str();
    if (is("^mtcr (r[0-9]+)$"))
        return "mtcrf 255," + m[1].str();
    if (s == "hwsync" || s == "sync 0")
        return "sync";
    if (s == "sync 2")
        return "ptesync";
    if (is("^mr(\\.?) (r[0-9]+),(r[0-9]+)$"))
        return "or" + m[1].str() + " " + m[2].str() + "," + m[3].str() + "," + m[3].str();
    if (is("^not(\\.?) (r[0-9]+),(r[0-9]+)$"))
        return "nor" + m[1].str() + " " + m[2].str() + "," + m[3].str() + "," + m[3].str();
    if (is("^tlbie (r[0-9]+),r0$"))
        return "tlbie " + m[1].str();
    if (is("^mcrfs (cr[0-7]),cr([0-7])$"))
        return "mcrfs " + m[1].str() + "," + m[2].str();
    if (is("^vnot (v[0-9]+),(v[0-9]+)$"))
        return "vnor " + m[1].str() + "," + m[2].str() + "," + m[2].str();
    if (is("^vmr (v[0-9]+),(v[0-9]+)$"))
        return "vor " + m[1].str() + "," + m[2].str() + "," + m[2].str();
    if (is("^(dcbt|dcbtst)ct (.*)$"))
        return m[1].str() + " " + m[2].str();
    if (s == "xnop")
        return "xori r0,r0,0";
    if (is("^rotlw(\\.?) (r[0-9]+),(r[0-9]+),(r[0-9]+)$"))
        return "rlwnm" + m[1].str() + " " + m[2].str() + "," + m[3].str() + "," + m[4].str() + ",0,31";
    if (is("^rotld(\\.?) (r[0-9]+),(r[0-9]+),(r[0-9]+)$"))
        return "rldcl" + m[1].str() + " " + m[2].str() + "," + m[3].str() + "," + m[4].str() + ",0";
    if (is("^([a-z]+)(\\.?) (r[0-9]+),(r[0-9]+),([0-9]+)(?:,([0-9]+))?$")) {
        for (const RotateAlias& a : rotate_aliases) {
            if (m[1] != a.name)
                continue;
            const long n = std::stol(m[5]);
            const long b = m[6].matched ? std::stol(m[6]) : 0;
            std::string out = std::string(a.op) + m[2].str() + " " + m[3].str() + "," + m[4].str() + ","
                              + std::to_string(a.sh(n, b)) + "," + std::to_string(a.mb(n, b));
            if (a.me != nullptr)
                out += "," + std::to_string(a.me(n, b));
            return out;
        }
    }
    // Condition-register operations and their extended forms.
    if (is("^crset ([0-9a-z*+]+)$"))
        s = "creqv " + m[1].str() + "," + m[1].str() + "," + m[1].str();
    else if (is("^crclr ([0-9a-z*+]+)$"))
        s = "crxor " + m[1].str() + "," + m[1].str() + "," + m[1].str();
    else if (is("^crmove ([0-9a-z*+]+),([0-9a-z*+]+)$"))
        s = "cror " + m[1].str() + "," + m[2].str() + "," + m[2].str();
    else if (is("^crnot ([0-9a-z*+]+),([0-9a-z*+]+)$"))
        s = "crnor " + m[1].str() + "," + m[2].str() + "," + m[2].str();
    if (s.compare(0, 2, "cr") == 0 || s.compare(0, 2, "bc") == 0)
        s = cr_bits(s);
    return rx(s, "4\\*(cr[0-7])\\+", "$1+");
}

// objdump runs over one file: 32-bit with AltiVec, 64-bit, POWER.
struct PpcOracles : ObjdumpReadings {
    explicit PpcOracles(const std::string& path)
    {
        const std::vector<std::vector<std::string>> modes{
            {"-m", "powerpc:common", "-EB", "-M", "32,altivec"},
            {"-m", "powerpc:common64", "-EB", "-M", "64,altivec"},
            {"-m", "rs6000:6000", "-EB", "-M", "pwr"},
        };
        for (const auto& mode : modes) {
            std::vector<std::string> argv{"powerpc-linux-gnu-objdump", "-D", "-b", "binary"};
            argv.insert(argv.end(), mode.begin(), mode.end());
            argv.push_back(path);
            add(argv);
        }
    }

    /// True when one of the oracles prints `ours` for the word at `addr`;
    /// `first` is what the 32-bit one printed.
    bool agrees(uint64_t addr, const std::string& ours, std::string* first) const
    {
        return ObjdumpReadings::agrees(addr, ours, first, canon_ours, canon_objdump);
    }
};

// Reviewed differences: "word HEX reason" for one word, "pair OURS THEIRS
// reason" for a mnemonic of ours that objdump spells otherwise.
struct PpcExceptions {
    std::set<std::string> words;
    std::set<std::pair<std::string, std::string>> pairs;

    PpcExceptions()
    {
        std::ifstream f(std::string(DISASM_CORPUS_DIR) + "/ppc_exceptions.txt");
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream in(line.substr(0, line.find('#')));
            std::string kind, a, b;
            in >> kind >> a;
            if (kind == "word")
                words.insert(a);
            else if (kind == "pair" && (in >> b))
                pairs.insert({a, b});
        }
    }

    bool explains(uint32_t word, const std::string& ours, const std::string& theirs) const
    {
        char hex[9];
        snprintf(hex, sizeof hex, "%08x", word);
        if (words.count(hex) != 0)
            return true;
        const auto mnemonic = [](const std::string& t) {
            std::string m = t.substr(0, t.find_first_of(" \t\n"));
            while (!m.empty() && (m.back() == '+' || m.back() == '-'))
                m.pop_back();
            return m;
        };
        return pairs.count({mnemonic(ours), mnemonic(theirs)}) != 0;
    }
};

bool have_ppc_tools()
{
    return have_program("powerpc-linux-gnu-as") && have_program("powerpc-linux-gnu-objdump")
           && have_program("powerpc-linux-gnu-objcopy") && have_program("clang");
}

// Every word through ppc_disassemble at address 4 × index, one line each.
std::vector<std::string> disassemble_all(const std::vector<char>& bin)
{
    return disassemble_words(ppc_plain, bin);
}

// The plain instruction behind an extended mnemonic that LLVM's and
// Capstone's printers use where ours prints the plain form.
std::string plain_mnemonic(const std::string& extended)
{
    static const std::map<std::string, std::string> plain{
        {"mflr", "mfspr"}, {"mtlr", "mtspr"},  {"mfctr", "mfspr"},   {"mtctr", "mtspr"}, {"mr", "or"},
        {"slwi", "rlwinm"}, {"srwi", "rlwinm"}, {"clrlwi", "rlwinm"}, {"rotlwi", "rlwinm"},
        {"clrrwi", "rlwinm"}, {"rotlw", "rlwnm"}, {"not", "nor"}, {"mtcr", "mtcrf"}, {"cmplwi", "cmplwi"},
        {"extlwi", "rlwinm"}, {"extrwi", "rlwinm"}, {"inslwi", "rlwimi"}, {"insrwi", "rlwimi"},
        {"crclr", "crxor"}, {"crset", "creqv"}, {"crmove", "cror"}, {"crnot", "crnor"}, {"sub", "subf"},
        {"subc", "subfc"}, {"nop", "nop"}};
    const auto it = plain.find(extended);
    return it == plain.end() ? extended : it->second;
}

struct PpcCorpus {
    const char* name;
    std::vector<std::string> build; // "SRC" and "OBJ" replaced
    bool names;                     // each line's mnemonic must come back
};

class PpcObjdump : public testing::TestWithParam<PpcCorpus> {};

TEST_P(PpcObjdump, TextsAgree)
{
    if (!have_ppc_tools())
        GTEST_SKIP() << "PowerPC cross tools missing (scripts/packages/disasm.txt)";
    const PpcCorpus& corpus = GetParam();
    const std::string source = std::string(DISASM_CORPUS_DIR) + "/" + corpus.name;
    const std::string object = write_temp(std::string(corpus.name) + ".o", {});
    std::vector<std::string> build;
    for (const std::string& a : corpus.build)
        build.push_back(a == "SRC" ? source : a == "OBJ" ? object : a);
    // The POWER assembler writes an ELF of no machine: read it as plain big-endian ELF.
    run_program(build);
    const std::string binpath = object + ".bin";
    run_program({"powerpc-linux-gnu-objcopy", "-I", "elf32-big", "-O", "binary", "-j", ".text", object, binpath});
    if (access(binpath.c_str(), R_OK) != 0 || run_program({"cat", binpath}).empty())
        run_program({"powerpc-linux-gnu-objcopy", "-O", "binary", "-j", ".text", object, binpath});
    const std::string raw = run_program({"cat", binpath});
    const std::vector<char> bin(raw.begin(), raw.end());
    ASSERT_GE(bin.size(), 16u);
    const PpcOracles oracles(binpath);
    unlink(object.c_str());
    unlink(binpath.c_str());
    const PpcExceptions exceptions;
    // The same lines through wardmacho on a Mach-O wrapper of the corpus,
    // and nothing allocated.
    const std::vector<std::string> ours = checked_words(ppc_plain, bin, 18, std::string(corpus.name) + ".macho");
    ASSERT_EQ(bin.size() / 4, ours.size());

    // The mnemonics of the source, in order.
    std::vector<std::string> mnemonics;
    if (corpus.names) {
        std::ifstream f(source);
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream in(line);
            std::string op;
            if ((in >> op) && op[0] != '.')
                mnemonics.push_back(op);
        }
        ASSERT_EQ(mnemonics.size(), ours.size());
    }
    // Extended mnemonics of the source that we print as the plain instruction.
    static const std::map<std::string, std::string> plain{
        {"tw", "tweq"}, {"twi", "twgti"}, {"tdi", "tdeqi"}, {"td", "tdeq"}};
    for (size_t i = 0; i < ours.size(); ++i) {
        const uint32_t word = word_at(bin, 4 * i);
        SCOPED_TRACE(testing::Message() << std::hex << word << ": " << ours[i]);
        std::string theirs;
        if (!oracles.agrees(4 * i, ours[i], &theirs)) {
            EXPECT_TRUE(exceptions.explains(word, ours[i], theirs)) << "objdump: " << theirs;
        }
        if (corpus.names) {
            std::string got = ours[i].substr(0, ours[i].find('\t'));
            while (!got.empty() && (got.back() == '+' || got.back() == '-'))
                got.pop_back();
            const auto alias = plain.find(mnemonics[i]);
            EXPECT_TRUE(got == mnemonics[i] || (alias != plain.end() && alias->second == got))
                << "assembled from " << mnemonics[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Corpora, PpcObjdump,
    testing::Values(
        PpcCorpus{"ppc_names.s", {"powerpc-linux-gnu-as", "-mppc", "-maltivec", "-o", "OBJ", "SRC"}, true},
        PpcCorpus{"ppc_names64.s", {"powerpc-linux-gnu-as", "-mppc64", "-a64", "-o", "OBJ", "SRC"}, true},
        PpcCorpus{"ppc_power.s", {"powerpc-linux-gnu-as", "-mpwr", "-o", "OBJ", "SRC"}, true},
        PpcCorpus{"compiled.c", {"clang", "--target=powerpc-linux-gnu", "-O2", "-c", "-o", "OBJ", "SRC"}, false}),
    [](const testing::TestParamInfo<PpcCorpus>& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '.', '_');
        return n;
    });

// Every primary opcode with every 10-bit extended opcode and a few register
// patterns: each word we decode, objdump decodes to the same text, or a
// reviewed entry says why not.
TEST(PpcSweep, EveryPrimaryAndExtendedOpcode)
{
    if (!have_ppc_tools())
        GTEST_SKIP() << "PowerPC cross tools missing (scripts/packages/disasm.txt)";
    const uint32_t patterns[] = {
        0,                                        // every field 0
        (3u << 21) | (4u << 16) | (5u << 11),     // rT 3, rA 4, rB 5
        (1u << 21) | (0u << 16) | (2u << 11) | 1, // rA 0, record bit
        (31u << 21) | (30u << 16) | (29u << 11),  // high registers
    };
    std::vector<char> bin;
    for (uint32_t primary = 0; primary < 64; ++primary)
        for (uint32_t xo = 0; xo < 1024; ++xo)
            for (uint32_t pattern : patterns) {
                const uint32_t w = (primary << 26) | pattern | (xo << 1);
                for (int shift : {24, 16, 8, 0})
                    bin.push_back(static_cast<char>(w >> shift));
            }
    const std::string path = write_temp("ppc_sweep.bin", bin);
    const PpcOracles oracles(path);
    unlink(path.c_str());
    const PpcExceptions exceptions;
    const std::vector<std::string> ours = disassemble_all(bin);
    ASSERT_EQ(bin.size() / 4, ours.size());
    std::map<std::string, std::pair<size_t, std::string>> unexplained; // by mnemonic pair
    size_t decoded = 0;
    const size_t npatterns = sizeof patterns / sizeof patterns[0];
    bool zero_agreed = false; // the word of this opcode with every field 0
    for (size_t i = 0; i < ours.size(); ++i) {
        const bool zero_pattern = i % npatterns == 0;
        if (ours[i].compare(0, 6, ".long ") == 0) {
            if (zero_pattern)
                zero_agreed = false;
            continue;
        }
        ++decoded;
        const uint32_t word = word_at(bin, 4 * i);
        std::string theirs;
        const bool agreed = oracles.agrees(4 * i, ours[i], &theirs);
        if (zero_pattern)
            zero_agreed = agreed;
        // Fields the architecture reserves for an opcode are not examined:
        // when the same opcode with every field 0 agrees, objdump may refuse
        // the word or read it as another extension's instruction, but not
        // print our instruction with other operands.
        const auto mnemonic = [](const std::string& t) { return t.substr(0, t.find_first_of(" \t")); };
        const bool other_instruction = mnemonic(canon_ours(ours[i])) != mnemonic(canon_objdump(theirs));
        if (agreed || (!zero_pattern && zero_agreed && other_instruction)
            || exceptions.explains(word, ours[i], theirs))
            continue;
        char hex[9];
        snprintf(hex, sizeof hex, "%08x", word);
        const std::string key = ours[i].substr(0, ours[i].find('\t')) + " / " + theirs.substr(0, theirs.find(' '));
        auto& entry = unexplained[key];
        if (entry.first++ == 0)
            entry.second = std::string(hex) + ": " + ours[i] + " | objdump: " + theirs;
    }
    EXPECT_GT(decoded, 10000u);
    for (const auto& u : unexplained)
        ADD_FAILURE() << u.first << " (" << u.second.first << " words), e.g. " << u.second.second;
}

// ---- through wardmacho ----

TEST(PpcWardmacho, StubNoteAndJbsr)
{
    Wrapper w;
    w.cputype = 18;
    // bl to the stub; bl with a JBSR entry naming _foo; blr
    w.text = hex_bytes("4800000d 48000009 4e800020");
    w.relocs = {plain_reloc(4, 2, true, 13), plain_reloc(0, 0, false, 1)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_puts", 0x01, 0, 0}, {"_foo", 0x01, 0, 0}};
    w.stub_size = 4;
    w.stubs = hex_bytes("4e800020");
    w.indirect = {1};
    const std::string path = write_temp("ppc_wrapper.o", build_wrapper(w));
    const std::string out = run_program({WARDMACHO, "-tvV", path});
    unlink(path.c_str());
    EXPECT_EQ("(__TEXT,__text) section\n"
              "_main:\n"
              "00000000\tbl\t0xc\t; symbol stub for: _puts\n"
              "00000004\tjbsr\t_foo,0xc\n"
              "00000008\tblr\n",
              out);
}

// A corpus wrapped: wardmacho prints what the disassembler prints, and
// llvm-objdump reads the same mnemonics.
TEST(PpcWardmacho, CompiledCorpusAgainstLlvmObjdump)
{
    if (!have_ppc_tools() || !have_program("llvm-objdump"))
        GTEST_SKIP() << "PowerPC cross tools or llvm-objdump missing";
    const std::string object = write_temp("compiled.o", {});
    Wrapper w;
    w.cputype = 18;
    w.text = build_section({"clang", "--target=powerpc-linux-gnu", "-O2", "-c", "-o", object,
                            std::string(DISASM_CORPUS_DIR) + "/compiled.c"},
                           object, "powerpc-linux-gnu-objcopy");
    ASSERT_GT(w.text.size(), 64u);
    // No symbols: the sorted ones would name every immediate of their value.
    const std::string path = write_temp("ppc_corpus.o", build_wrapper(w));
    const std::vector<std::string> ours = disassemble_all(w.text);
    const std::vector<std::string> printed = wardmacho_lines(path, "-tvV");
    EXPECT_EQ(ours, printed);

    // An invalid word has no line of its own on standard output.
    std::vector<std::string> llvm(ours.size(), ".long");
    std::istringstream in(run_program({"llvm-objdump", "--macho", "-d", path}));
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_match(line, m, re("^ *([0-9a-f]+):\t(?:[0-9a-f]{2} ){3}[0-9a-f]{2}\t([^ \t]+).*$"))) {
            const size_t index = std::stoul(m[1], nullptr, 16) / 4;
            if (index < llvm.size())
                llvm[index] = m[2];
        }
    }
    unlink(path.c_str());
    ASSERT_EQ(ours.size(), llvm.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        std::string a = canon_ours(ours[i]);
        a = a.substr(0, a.find(' '));
        if (a == ".long")
            a = ".long";
        std::string b = llvm[i];
        while (!b.empty() && (b.back() == '+' || b.back() == '-'))
            b.pop_back();
        b = plain_mnemonic(b);
        // LLVM names conditional branches by the bit's truth (bt, bf) or
        // as bclr; ours by the condition.
        std::smatch cond;
        if (std::regex_match(a, cond, re("^b(lt|gt|eq|un)(lr|ctr)?(l?a?)$")))
            a = cond[2].matched ? "bc" + cond[2].str() + cond[3].str() : "bt" + cond[3].str();
        else if (std::regex_match(a, cond, re("^b(ge|le|ne|nu)(lr|ctr)?(l?a?)$")))
            a = cond[2].matched ? "bc" + cond[2].str() + cond[3].str() : "bf" + cond[3].str();
        EXPECT_EQ(a, b) << std::hex << word_at(w.text, 4 * i) << ": " << ours[i] << " | llvm " << llvm[i];
    }
}

// cstool (Capstone) as a second oracle on the compiled corpus: the same
// instruction at every word, compared by mnemonic.
TEST(PpcCstool, CompiledCorpusMnemonics)
{
    if (!have_ppc_tools() || !have_program("cstool"))
        GTEST_SKIP() << "PowerPC cross tools or cstool missing";
    const std::string object = write_temp("compiled_cs.o", {});
    const std::vector<char> bin =
        build_section({"clang", "--target=powerpc-linux-gnu", "-O2", "-c", "-o", object,
                       std::string(DISASM_CORPUS_DIR) + "/compiled.c"},
                      object, "powerpc-linux-gnu-objcopy");
    ASSERT_GT(bin.size(), 64u);
    const std::vector<std::string> ours = disassemble_all(bin);
    ASSERT_EQ(bin.size() / 4, ours.size());
    // cstool stops at the first word it cannot decode: that word reads as
    // invalid, and the next run starts after it.
    // " 1c  4e 80 00 20  blr"
    std::vector<std::string> theirs(ours.size(), ".long");
    for (size_t from = 0; from < ours.size();) {
        std::istringstream in(run_program({"cstool", "ppc32be", to_hex(bin.data() + 4 * from, bin.size() - 4 * from)}));
        size_t next = from;
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (std::regex_match(line, m, re("^ *([0-9a-f]+)  (?:[0-9a-f]{2} ){4} *([^ \t]+).*$"))) {
                const size_t index = from + std::stoul(m[1], nullptr, 16) / 4;
                if (index < theirs.size())
                    theirs[index] = m[2];
                next = index + 1;
            }
        }
        from = next + 1;
    }
    EXPECT_GT(std::count_if(theirs.begin(), theirs.end(), [](const std::string& m) { return m != ".long"; }), 50);
    for (size_t i = 0; i < ours.size(); ++i) {
        std::string a = canon_ours(ours[i]);
        a = a.substr(0, a.find(' '));
        std::string b = theirs[i];
        while (!b.empty() && (b.back() == '+' || b.back() == '-'))
            b.pop_back();
        EXPECT_EQ(a, plain_mnemonic(b)) << std::hex << word_at(bin, 4 * i) << ": " << ours[i] << " | cstool "
                                        << theirs[i];
    }
}

} // namespace
