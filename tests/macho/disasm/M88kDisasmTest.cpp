// The m88k disassembler: one case per decoding row and name-table entry on
// words built by the field encoder, the relocation pair rules, the section
// end, and a Mach-O wrapper through wardmacho. The words are big-endian, so
// every case runs the byte-swapped path on a little-endian host.
#include "M88kEncoder.h"
#include "BigEndianWords.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace disasm_test;
using namespace m88k_encode;

namespace {

Printed m88k(const std::vector<char>& b, const Call& k = Call(), uint64_t left = UINT64_MAX)
{
    return plain_call(macho::m88k_disassemble, b, k, left);
}

using Case = WordCase;

void run_cases(const std::vector<Case>& cases)
{
    run_word_cases(macho::m88k_disassemble, cases);
}

// ---- decoding tables ----

TEST(M88kDecode, ExactWords)
{
    run_cases({
        {0xf400fc00, "rte\n", 0},
        {0xf400fc01, "illop1\n", 0},
        {0xf400fc03, "illop3\n", 0},
        {0xc3ffffff, "br\t0xfc\n", 0x100},
        {0xd8410001, "bb1\teq,r1,0x4\n", 0},
        {0xd8210001, "bb1\t1,r1,0x4\n", 0},
        {0x80038044, "stcr\tr3,cr2\t| error: fields S1 != S2\n", 0},
        {0x80238044, "0x80238044\n", 0},
        {0x60220012, "addu\tr1,r2,0x12\n", 0},
        {0x90000000, ".long 0x90000000\n", 0},
    });
}

// Opcodes 0x00-0x1f: D, S1 and the immediate.
TEST(M88kDecode, ImmediateRows)
{
    const char* const expected[32] = {
        "ld.d\tx3,r5,0x1234\n",  "ld\tx3,r5,0x1234\n",    "ld.hu\tr3,r5,0x1234\n", "ld.bu\tr3,r5,0x1234\n",
        "ld.d\tr3,r5,0x1234\n",  "ld\tr3,r5,0x1234\n",    "ld.h\tr3,r5,0x1234\n",  "ld.b\tr3,r5,0x1234\n",
        "st.d\tr3,r5,0x1234\n",  "st\tr3,r5,0x1234\n",    "st.h\tr3,r5,0x1234\n",  "st.b\tr3,r5,0x1234\n",
        "st.d\tx3,r5,0x1234\n",  "st\tx3,r5,0x1234\n",    "st.x\tx3,r5,0x1234\n",  "ld.x\tx3,r5,0x1234\n",
        "and\tr3,r5,0x1234\n",   "and.u\tr3,r5,0x1234\n", "mask\tr3,r5,0x1234\n",  "mask.u\tr3,r5,0x1234\n",
        "xor\tr3,r5,0x1234\n",   "xor.u\tr3,r5,0x1234\n", "or\tr3,r5,0x1234\n",    "or.u\tr3,r5,0x1234\n",
        "addu\tr3,r5,0x1234\n",  "subu\tr3,r5,0x1234\n",  "divu\tr3,r5,0x1234\n",  "mulu\tr3,r5,0x1234\n",
        "add\tr3,r5,0x1234\n",   "sub\tr3,r5,0x1234\n",   "divs\tr3,r5,0x1234\n",  "cmp\tr3,r5,0x1234\n",
    };
    std::vector<Case> cases;
    for (uint32_t op = 0; op < 32; op++)
        cases.push_back({imm16(op, 3, 5, 0x1234), expected[op], 0});
    run_cases(cases);
}

// Branches, traps on bit and condition, tbnd, and the opcodes outside the table.
TEST(M88kDecode, BranchesAndOutsideOpcodes)
{
    run_cases({
        {branch26(0x30, 0x10), "br\t0x1040\n", 0x1000},
        {branch26(0x31, 0x3fffffe), "br.n\t0xff8\n", 0x1000},
        {branch26(0x32, 1), "bsr\t0x1004\n", 0x1000},
        {branch26(0x33, 0x200000), "bsr.n\t0x801000\n", 0x1000},
        {branch26(0x30, 0x2000000), "br\t0xf8001000\n", 0x1000},
        {branch16(0x34, 3, 5, 8), "bb0\tne,r5,0x1020\n", 0x1000},
        {branch16(0x35, 15, 6, 0xffff), "bb0.n\tnh,r6,0xffc\n", 0x1000},
        {branch16(0x36, 0, 7, 0), "bb1\t0,r7,0x1000\n", 0x1000},
        {branch16(0x37, 9, 1, 0x8000), "bb1.n\tls,r1,0xfffe1000\n", 0x1000},
        {branch16(0x3a, 1, 2, 1), "bcnd\tgt0,r2,0x1004\n", 0x1000},
        {branch16(0x3b, 14, 4, 2), "bcnd.n\tle0,r4,0x1008\n", 0x1000},
        {imm16(0x3e, 3, 5, 0x1234), "tbnd\tr5,4660\n", 0},
        {imm16(0x23, 1, 2, 3), ".long 0x8c220003\n", 0},
        {imm16(0x2f, 0, 0, 0), ".long 0xbc000000\n", 0},
        {imm16(0x38, 0, 0, 0), ".long 0xe0000000\n", 0},
        {imm16(0x39, 0, 0, 0), ".long 0xe4000000\n", 0},
        {imm16(0x3f, 1, 1, 1), ".long 0xfc210001\n", 0},
    });
}

// b5 names (bit numbers 2-15) and m5 names, each entry once, through tb1
// and tcnd.
TEST(M88kDecode, ConditionNames)
{
    const char* const b5[16] = {"0",  "1",  "eq", "ne", "gt", "le", "lt", "ge",
                                "hi", "ls", "lo", "hs", "be", "nb", "he", "nh"};
    for (uint32_t n = 0; n < 16; n++) {
        const std::string want = std::string("tb1\t") + b5[n] + ",r5,511\n";
        const Printed p = m88k(big_endian(trap(0x6c, n, 5, 0x1ff)));
        EXPECT_EQ(want, p.out) << n;
    }
    const struct {
        uint32_t m5;
        const char* text;
    } m5[] = {{1, "tcnd\tgt0,r6,3\n"},  {2, "tcnd\teq0,r6,3\n"},  {3, "tcnd\tge0,r6,3\n"}, {12, "tcnd\tlt0,r6,3\n"},
              {13, "tcnd\tne0,r6,3\n"}, {14, "tcnd\tle0,r6,3\n"}, {4, "tcnd\t4,r6,3\n"},  {0, "tcnd\t0,r6,3\n"}};
    for (const auto& m : m5) {
        const Printed p = m88k(big_endian(trap(0x74, m.m5, 6, 3)));
        EXPECT_EQ(m.text, p.out) << m.m5;
    }
    run_cases({{trap(0x68, 2, 5, 0x1ff), "tb0\teq,r5,511\n", 0}});
}

TEST(M88kDecode, ControlRegisters)
{
    run_cases({
        {control(8, 3, 0, 17, 0), "ldcr\tr3,cr17\n", 0},
        {control(8, 3, 1, 17, 0), "0x80614220\n", 0},
        {control(8, 3, 0, 17, 2), "0x80604222\n", 0},
        {control(9, 4, 0, 62, 0), "fldcr\tr4,fcr62\n", 0},
        {control(16, 0, 5, 9, 5), "stcr\tr5,cr9\n", 0},
        {control(17, 0, 6, 63, 6), "fstcr\tr6,fcr63\n", 0},
        {control(17, 0, 6, 63, 7), "fstcr\tr6,fcr63\t| error: fields S1 != S2\n", 0},
        {control(17, 2, 6, 63, 6), "0x80468fe6\n", 0},
        {control(24, 2, 3, 4, 3), "xcr\tr2,r3,cr4\n", 0},
        {control(24, 2, 3, 4, 4), "xcr\tr2,r3,cr4\t| error: fields S1 != S2\n", 0},
        {control(25, 2, 3, 5, 3), "fxcr\tr2,r3,fcr5\n", 0},
        {control(25, 2, 3, 5, 1), "fxcr\tr2,r3,fcr5\t| error: fields S1 != S2\n", 0},
        {control(0, 1, 2, 3, 4), "0x80220064\n", 0},
        {control(10, 0, 0, 0, 0), "0x80005000\n", 0},
    });
}

TEST(M88kDecode, FloatingPoint)
{
    run_cases({
        {fp(0, 0, 0, 2, 1, 3, 5, 7), "fmul.dsx\tr3,r5,r7\n", 0},
        {fp(1, 5, 1, 0, 2, 3, 5, 7), "fadd.xds\tx3,x5,x7\n", 0},
        {fp(0, 6, 1, 1, 0, 3, 5, 7), "fsub.sdd\tr3,r5,r7\n", 0},
        {fp(1, 14, 0, 0, 3, 3, 5, 7), "fdiv.?ss\tx3,x5,x7\n", 0},
        {fp(0, 1, 0, 0, 1, 3, 0, 7), "fcvt.ds\tr3,r7\n", 0},
        {fp(1, 15, 0, 1, 2, 3, 0, 7), "fsqrt.xd\tx3,x7\n", 0},
        {fp(0, 4, 1, 0, 1, 3, 0, 7), "flt.ds\tx3,r7\n", 0},
        {fp(0, 4, 0, 0, 0, 3, 0, 7), "flt.ss\tr3,r7\n", 0},
        {fp(0, 7, 1, 0, 0, 3, 5, 7), "fcmp.sds\tr3,r5,r7\n", 0},
        {fp(1, 7, 0, 2, 1, 3, 5, 7), "fcmpu.ssx\tr3,x5,x7\n", 0},
        {fp(0, 7, 0, 0, 2, 3, 5, 7), "0x84653847\n", 0},
        {fp(1, 8, 0, 1, 0, 3, 0, 7), "mov.d\tr3,x7\n", 0},
        {fp(0, 8, 1, 0, 0, 3, 0, 7), "mov.s\tx3,r7\n", 0},
        {fp(0, 8, 1, 2, 0, 3, 0, 7), "mov.?\tx3,r7\n", 0},
        {fp(0, 8, 1, 3, 0, 3, 0, 7), "mov.?\tx3,r7\n", 0},
        {fp(1, 8, 1, 2, 0, 3, 0, 7), "mov\tx3,x7\n", 0},
        {fp(0, 8, 0, 0, 1, 3, 0, 7), "0x84604027\n", 0},
        {fp(1, 9, 0, 1, 0, 3, 0, 7), "int.sd\tr3,x7\n", 0},
        {fp(0, 10, 0, 0, 0, 3, 0, 7), "nint.ss\tr3,r7\n", 0},
        {fp(0, 11, 0, 2, 0, 3, 0, 7), "trnc.sx\tr3,r7\n", 0},
        {fp(0, 11, 0, 2, 1, 3, 0, 7), "0x84605927\n", 0},
        {fp(0, 2, 0, 0, 0, 3, 5, 7), "0x84651007\n", 0},
    });
}

TEST(M88kDecode, Graphics)
{
    run_cases({
        {reg(0x22, 3, 5, 0x00, 0, 7), "pmul\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x08, 0x0b, 7), "padds.us\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x08, (1 << 2) | 2, 7), "padds.u.h\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x08, (0 << 2) | 3, 7), "padd\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x0c, (3 << 2) | 0, 7), "psubs.s.n\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x0c, (2 << 2) | 1, 7), "psubs.us.b\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x0e, 0, 7), "pcmp\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x18, 8 | 1, 7), "ppack.8.b\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x18, 16 | 2, 7), "ppack.16.h\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x19, 3, 7), "ppack.32\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x18, 12, 7), "0x88656187\n", 0},
        {reg(0x22, 3, 5, 0x1a, 0, 7), "punpk.n\tr3,r5\n", 0},
        {reg(0x22, 3, 5, 0x1c, 0x14, 7), "prot\tr3,r5,<20>\n", 0},
        {reg(0x22, 3, 5, 0x1e, 0, 7), "prot\tr3,r5,r7\n", 0},
        {reg(0x22, 3, 5, 0x02, 0, 7), "0x88650807\n", 0},
    });
}

// Opcode 0x3c: bit fields with immediates, traps, extended loads and stores.
TEST(M88kDecode, Opcode3c)
{
    run_cases({
        {bitfield(0x20, 3, 5, 10, 17), "clr\tr3,r5,10<17>\n", 0},
        {bitfield(0x22, 3, 5, 11, 18), "set\tr3,r5,11<18>\n", 0},
        {bitfield(0x24, 3, 5, 12, 19), "ext\tr3,r5,12<19>\n", 0},
        {bitfield(0x26, 3, 5, 13, 20), "extu\tr3,r5,13<20>\n", 0},
        {bitfield(0x28, 3, 5, 14, 21), "mak\tr3,r5,14<21>\n", 0},
        {bitfield(0x2a, 3, 5, 0, 22), "rot\tr3,r5,<22>\n", 0},
        {bitfield(0x21, 3, 5, 0, 0), "0xf0658400\n", 0},
        {bitfield(0x2c, 3, 5, 0, 0), "0xf065b000\n", 0},
        {trap(0x60, 2, 5, 0), "0xf045c000\n", 0},
        {reg(0x3c, 3, 5, 0x04, 0x18, 7), "ld.d.usr\tx3,r5[r7]\n", 0},
        {reg(0x3c, 3, 5, 0x05, 0, 7), "ld\tx3,r5,r7\n", 0},
        {reg(0x3c, 3, 5, 0x06, 0, 7), "ld.x\tx3,r5,r7\n", 0},
        {reg(0x3c, 3, 5, 0x09, 0x14, 7), "st.wt\tx3,r5[r7]\n", 0},
        {reg(0x3c, 3, 5, 0x0b, 0x08, 7), "st.?.usr\tx3,r5,r7\n", 0},
        {reg(0x3c, 3, 5, 0x0c, 0, 7), "0xf0653007\n", 0},
        {reg(0x3c, 3, 5, 0x10, 0, 7), "0xf0654007\n", 0},
    });
}

// Opcode 0x3d: the register-to-register instructions.
TEST(M88kDecode, Opcode3d)
{
    run_cases({
        {reg(0x3d, 3, 5, 0x07, 0x18, 7), "ld.b.usr\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x06, 0, 7), "ld.h\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x04, 0, 7), "ld.d\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x05, 0, 7), "ld\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x00, 0, 7), "xmem.bu\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x01, 0x18, 7), "xmem.usr\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x02, 0, 7), "ld.hu\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x03, 0x08, 7), "ld.bu.usr\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x0c, 0x10, 7), "lda.d\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x0d, 0x10, 7), "lda\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x0e, 0x10, 7), "lda.h\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x0f, 0x10, 7), "lda.x\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x0b, 0x1c, 7), "st.b.usr.wt\tr3,r5[r7]\n", 0},
        {reg(0x3d, 3, 5, 0x08, 0, 7), "st.d\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x10, 0, 7), "and\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x11, 0, 7), "and.c\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x12, 0, 7), "0xf4654807\n", 0},
        {reg(0x3d, 3, 5, 0x14, 0, 7), "xor\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x15, 0, 7), "xor.c\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x16, 0, 7), "or\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x17, 0, 7), "or.c\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x18, 0, 7), "addu\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x18, 0x08, 7), "addu.co\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x19, 0x10, 7), "subu.ci\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1c, 0x18, 7), "add.cio\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1d, 0, 7), "sub\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1a, 0, 7), "divu\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1a, 0x08, 7), "divu.d\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1b, 0, 7), "mulu\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1b, 0x08, 7), "mulu.d\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1b, 0x10, 7), "muls\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1e, 0, 7), "divs\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x1f, 0, 7), "cmp\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x20, 0, 7), "clr\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x22, 0, 7), "set\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x24, 0, 7), "ext\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x26, 0, 7), "extu\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x28, 0, 7), "mak\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x2a, 0, 7), "rot\tr3,r5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x21, 0, 7), "0xf4658407\n", 0},
        {reg(0x3d, 3, 5, 0x20, 1, 7), "0xf4658027\n", 0},
        {reg(0x3d, 0, 0, 0x30, 0, 7), "jmp\tr7\n", 0},
        {reg(0x3d, 0, 0, 0x31, 0, 7), "jmp.n\tr7\n", 0},
        {reg(0x3d, 0, 0, 0x32, 0, 7), "jsr\tr7\n", 0},
        {reg(0x3d, 0, 0, 0x33, 0, 7), "jsr.n\tr7\n", 0},
        {reg(0x3d, 3, 0, 0x30, 0, 7), "0xf460c007\n", 0},
        {reg(0x3d, 3, 5, 0x3a, 0, 7), "ff1\tr3,r7\n", 0},
        {reg(0x3d, 3, 5, 0x3b, 0, 7), "ff0\tr3,r7\n", 0},
        {reg(0x3d, 3, 5, 0x3e, 0, 7), "tbnd\tr5,r7\n", 0},
        {reg(0x3d, 3, 5, 0x38, 0, 7), "0xf465e007\n", 0},
    });
}

// ---- immediates, relocation pairs and symbols ----

// Immediate 0x12 under verbose without entry or symbol pads to four digits.
TEST(M88kImmediate, VerbosePadsBareValue)
{
    Call k;
    k.verbose = 1;
    EXPECT_EQ("addu\tr1,r2,0x0012\n", m88k(big_endian(0x60220012), k).out);
}

struct RelocCase {
    const char* what;
    uint32_t word;
    uint64_t addr;
    std::vector<macho::relocation_info> relocs;
    const char* out;
    const char* err;
};

TEST(M88kImmediate, RelocationPairs)
{
    const Symbols syms = symbols_with_bad_index("_x", "_y"); // symbol 2: string index past the table
    const std::vector<macho::sorted_symbol> sorted = {{"_start", 0x0}, {"_loop", 0x10}, {"_data", 0x12000}};
    const uint32_t pair = 1, pcrel26 = 3, hi = 4, lo = 5;
    const std::vector<RelocCase> cases = {
        {"external low half, pair carries the high half", 0x60220000, 0,
         {plain_reloc(0, 0, true, lo), plain_reloc(0x10, 0, false, pair)}, "addu\tr1,r2,lo16(_x+0x100000)\n", ""},
        {"external low half, no other half", 0x60220000, 0,
         {plain_reloc(0, 1, true, lo), plain_reloc(0, 0, false, pair)}, "addu\tr1,r2,lo16(_y)\n", ""},
        {"external high half with value", imm16(0x17, 1, 0, 0x1234), 0,
         {plain_reloc(0, 0, true, hi), plain_reloc(0x5678, 0, false, pair)}, "or.u\tr1,r0,hi16(_x+0x12345678)\n",
         ""},
        {"external high half, zero value, other half", imm16(0x17, 1, 0, 0), 0,
         {plain_reloc(0, 0, true, hi), plain_reloc(0x20, 0, false, pair)}, "or.u\tr1,r0,hi16(_x+0x20)\n", ""},
        {"external high half as the last entry: other half 0", imm16(0x17, 1, 0, 0), 0,
         {plain_reloc(0, 0, true, hi)}, "or.u\tr1,r0,hi16(_x)\n", ""},
        {"scattered pair keeps 12 bits", 0x60220000, 0,
         {plain_reloc(0, 0, true, lo), scattered_reloc(0xabcd, pair, 0)}, "addu\tr1,r2,lo16(_x+0xbcd0000)\n", ""},
        {"local high half names a sorted symbol", imm16(0x17, 1, 0, 1), 0,
         {plain_reloc(0, 1, false, hi), plain_reloc(0x2000, 0, false, pair)}, "or.u\tr1,r0,hi16(_data)\n", ""},
        {"scattered low half: symbol from its value, offset", imm16(0x16, 1, 1, 0x2010), 0,
         {scattered_reloc(0, lo, 0x12000), plain_reloc(0x0001, 0, false, pair)}, "or\tr1,r1,lo16(_data+0x10)\n",
         ""},
        {"local high half, no symbol", imm16(0x17, 1, 0, 1), 0,
         {plain_reloc(0, 1, false, hi), plain_reloc(0, 0, false, pair)}, "or.u\tr1,r0,hi16(0x10000)\n", ""},
        {"scattered high half, no symbol", imm16(0x17, 1, 0, 1), 0,
         {scattered_reloc(0, hi, 0x10000), plain_reloc(4, 0, false, pair)}, "or.u\tr1,r0,hi16(0x10000+0x4)\n", ""},
        {"scattered low half, no symbol", imm16(0x16, 1, 1, 0x20), 0,
         {scattered_reloc(0, lo, 0x14), plain_reloc(0, 0, false, pair)}, "or\tr1,r1,lo16(0x14+0xc)\n", ""},
        {"scattered other type, no symbol", imm16(0x18, 1, 1, 0x24), 0, {scattered_reloc(0, 2, 0x20)},
         "addu\tr1,r1,0x20+0x4\n", ""},
        {"external branch", branch26(0x32, 0), 0, {plain_reloc(0, 1, true, pcrel26)}, "bsr\t_y\n", ""},
        {"external branch with a target", branch26(0x32, 4), 0, {plain_reloc(0, 1, true, pcrel26)},
         "bsr\t_y+0x10\n", ""},
        {"branch to a sorted symbol", branch26(0x30, 4), 0, {}, "br\t_loop\n", ""},
        {"branch to nothing named", branch26(0x30, 5), 0, {}, "br\t0x0014\n", ""},
        {"entries of other addresses skipped with their pairs", 0x60220000, 0,
         {plain_reloc(0x20, 0, true, hi), plain_reloc(0x7, 0, false, pair), plain_reloc(0, 0, true, lo),
          plain_reloc(0x10, 0, false, pair)},
         "addu\tr1,r2,lo16(_x+0x100000)\n", ""},
        {"lone pair is stray", 0x60220012, 0, {plain_reloc(0, 0, false, pair)}, "addu\tr1,r2,0x0012\n",
         "Stray M88K_RELOC_PAIR relocation entry 0\n"},
        {"other address, no pair after", 0x60220012, 0,
         {plain_reloc(0x20, 0, true, hi), plain_reloc(0x30, 0, true, lo)}, "addu\tr1,r2,0x0012\n",
         "No M88K_RELOC_PAIR relocation entry after entry 0\n"},
        {"own address, no pair after: the walk goes on", 0x60220012, 0,
         {plain_reloc(0, 0, true, lo), plain_reloc(0x30, 0, true, 2)}, "addu\tr1,r2,0x0012\n",
         "No M88K_RELOC_PAIR relocation entry after entry 0\n"},
        {"symbol number past the table", 0x60220000, 0,
         {plain_reloc(0, 7, true, lo), plain_reloc(0, 0, false, pair)}, "addu\tr1,r2,lo16(bad string offset)\n",
         ""},
        {"string index past the table", 0x60220000, 0,
         {plain_reloc(0, 2, true, lo), plain_reloc(0, 0, false, pair)}, "addu\tr1,r2,lo16(bad string offset)\n",
         ""},
        {"entry found by the address within the section", 0x60220000, 0x1008,
         {plain_reloc(0, 0, true, lo), plain_reloc(0x10, 0, false, pair), plain_reloc(8, 1, true, lo),
          plain_reloc(0, 0, false, pair)},
         "addu\tr1,r2,lo16(_y)\n", ""},
    };
    for (const RelocCase& c : cases) {
        Call k;
        k.verbose = 1;
        k.addr = c.addr;
        k.sect_addr = c.addr & ~0xfffull;
        k.relocs = c.relocs;
        k.syms = &syms;
        k.sorted = &sorted;
        const Printed p = m88k(big_endian(c.word), k);
        EXPECT_EQ(c.out, p.out) << c.what;
        EXPECT_EQ(c.err, p.err) << c.what;
        EXPECT_EQ(4u, p.length) << c.what;
    }
}

// A name is bounded by the string table even when it has no NUL there.
TEST(M88kImmediate, NameStopsAtTableEnd)
{
    const char strings[] = {'\0', '_', 'a', 'b'};
    macho::nlist sym{};
    sym.n_strx = 1;
    const std::vector<macho::relocation_info> relocs = {plain_reloc(0, 0, true, 3)};
    const Printed p = capture([&] {
        const std::vector<char> b = big_endian(branch26(0x30, 0));
        return macho::m88k_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, relocs.data(), 1, &sym, 1,
                                       nullptr, 0, strings, sizeof strings, 1);
    });
    EXPECT_EQ("br\t_ab\n", p.out);
}

// ---- reading ----

TEST(M88kRead, SectionEnd)
{
    const struct {
        const char* bytes;
        const char* out;
        uint32_t length;
    } cases[] = {
        {"12 34", ".long\t0x12340000\n(end of section)\n", 2},
        {"ab cd ef", ".long\t0xabcdef00\n(end of section)\n", 3},
        {"7f", ".long\t0x7f000000\n(end of section)\n", 1},
    };
    for (const auto& c : cases) {
        const Printed p = m88k(hex_bytes(c.bytes));
        EXPECT_EQ(c.out, p.out) << c.bytes;
        EXPECT_EQ(c.length, p.length) << c.bytes;
    }
    // four bytes of a longer buffer: one instruction
    const Printed p = m88k(hex_bytes("f400fc00 f400fc01"), Call(), 4);
    EXPECT_EQ("rte\n", p.out);
}

TEST(M88kRead, LittleEndianObjectReadsUnswapped)
{
    Call k;
    k.order = macho::LITTLE_ENDIAN_BYTE_SEX;
    EXPECT_EQ("illop1\n", m88k(hex_bytes("01 fc 00 f4"), k).out);
    EXPECT_EQ(".long\t0x00003412\n(end of section)\n", m88k(hex_bytes("12 34"), k).out);
}

// ---- through wardmacho ----

TEST(M88kWardmacho, RelocatedPairAndBranch)
{
    Wrapper w;
    w.cputype = 13;
    std::vector<char> text;
    for (uint32_t word : {imm16(0x17, 1, 0, 0), imm16(0x16, 1, 1, 0x20), branch26(0x32, 0x3fffffe),
                          reg(0x3d, 0, 0, 0x30, 0, 1)}) {
        const std::vector<char> b = big_endian(word);
        text.insert(text.end(), b.begin(), b.end());
    }
    w.text = text;
    w.relocs = {plain_reloc(0, 1, true, 4), plain_reloc(0x20, 0, false, 1), plain_reloc(4, 1, true, 5),
                plain_reloc(0, 0, false, 1)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_x", 0x01, 0, 0}};
    const std::string path = write_temp("m88k_wrapper.o", build_wrapper(w));
    const std::string out = run_program({WARDMACHO, "-tvV", path});
    unlink(path.c_str());
    EXPECT_EQ("(__TEXT,__text) section\n"
              "_main:\n"
              "00000000\tor.u\tr1,r0,hi16(_x+0x20)\n"
              "00000004\tor\tr1,r1,lo16(_x+0x20)\n"
              "00000008\tbsr\t_main\n"
              "0000000c\tjmp\tr1\n",
              out);
}

} // namespace
