// The i860 disassembler: one case per opcode-table row on words built by the
// field encoder (expected texts from the processor's assembler syntax), the
// table's structure, dual-instruction mode, the relocation prefixes and
// pairs, the section end, and a Mach-O wrapper through wardmacho. The words
// are big-endian, so every case runs the byte-swapped path on a
// little-endian host.
#include "I860Encoder.h"
#include "PlainCall.h"
#include "disasm/i860_opcodes.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <set>
#include <tuple>

using namespace disasm_test;
using namespace i860_encode;

namespace {

Printed i860(const std::vector<char>& b, const Call& k = Call(), uint64_t left = UINT64_MAX)
{
    return plain_call(macho::i860_disassemble, b, k, left);
}

// The printed line: the name padded to 12, a tab, the operands.
std::string line(const std::string& name, const std::string& operands, bool dual = false)
{
    std::string padded = name;
    if (padded.size() < 12)
        padded.resize(12, ' ');
    return (dual ? "d." : "") + padded + "\t" + operands + "\n";
}

struct Case {
    uint32_t word;
    const char* name;
    const char* operands;
    uint64_t addr = 0;
};

void run_cases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        Call k;
        k.addr = c.addr;
        const Printed p = i860(big_endian(c.word), k);
        EXPECT_EQ(line(c.name, c.operands), p.out) << std::hex << c.word;
        EXPECT_EQ("", p.err) << std::hex << c.word;
        EXPECT_EQ(4u, p.length) << std::hex << c.word;
    }
}

// Register fields: src1 r5, src2 r7, dest r9 (f5, f7, f9).
constexpr uint32_t S1 = 5, S2 = 7, D = 9;

// ---- one case per table row ----

TEST(I860Rows, IntegerLoadsAndStores)
{
    run_cases({
        {reg(0x00, S1, S2, D), "ld.b", "r5(r7),r9"},
        {imm(0x01, 0x1234, S2, D), "ld.b", "0x1234(r7),r9"},
        {reg(0x02, S1, S2, D), "ixfr", "r5,f9"},
        {split(0x03, S1, S2, 0x1234), "st.b", "r5,0x1234(r7)"},
        {split(0x03, S1, S2, 0xfff5), "st.b", "r5,0xfff5(r7)"},
        {reg(0x04, S1, S2, D, 0), "ld.s", "r5(r7),r9"},
        {reg(0x04, S1, S2, D, 1), "ld.l", "r5(r7),r9"},
        {imm(0x05, 0x1236, S2, D), "ld.s", "0x1236(r7),r9"},
        {imm(0x05, 0x1239, S2, D), "ld.l", "0x1238(r7),r9"},
        {split(0x07, S1, S2, 0x1236), "st.s", "r5,0x1236(r7)"},
        {split(0x07, S1, S2, 0x123d), "st.l", "r5,0x123c(r7)"},
    });
}

TEST(I860Rows, FloatingLoadsAndStores)
{
    run_cases({
        // fld: .l when bit 1 is set, .d when bits 2-1 are 00, .q when 10;
        // bit 0 the auto-increment.
        {reg(0x08, S1, S2, D, 2), "fld.l", "r5(r7),f9"},
        {reg(0x08, S1, S2, D, 3), "fld.l", "r5(r7)++,f9"},
        {imm(0x09, 0x1236, S2, D), "fld.l", "0x1234(r7),f9"},
        {imm(0x09, 0x1237, S2, D), "fld.l", "0x1234(r7)++,f9"},
        {reg(0x08, S1, S2, D, 0), "fld.d", "r5(r7),f9"},
        {reg(0x08, S1, S2, D, 1), "fld.d", "r5(r7)++,f9"},
        {imm(0x09, 0x1238, S2, D), "fld.d", "0x1238(r7),f9"},
        {imm(0x09, 0x1239, S2, D), "fld.d", "0x1238(r7)++,f9"},
        {reg(0x08, S1, S2, D, 4), "fld.q", "r5(r7),f9"},
        {reg(0x08, S1, S2, D, 5), "fld.q", "r5(r7)++,f9"},
        {imm(0x09, 0x1234, S2, D), "fld.q", "0x1230(r7),f9"},
        {imm(0x09, 0x1235, S2, D), "fld.q", "0x1230(r7)++,f9"},
        {reg(0x0a, S1, S2, D, 2), "fst.l", "f9,r5(r7)"},
        {reg(0x0a, S1, S2, D, 3), "fst.l", "f9,r5(r7)++"},
        {imm(0x0b, 0xfffe, S2, D), "fst.l", "f9,0xfffc(r7)"},
        {imm(0x0b, 0xfffb, S2, D), "fst.l", "f9,0xfff8(r7)++"},
        {reg(0x0a, S1, S2, D, 0), "fst.d", "f9,r5(r7)"},
        {reg(0x0a, S1, S2, D, 1), "fst.d", "f9,r5(r7)++"},
        {imm(0x0b, 0x0010, S2, D), "fst.d", "f9,0x10(r7)"},
        {imm(0x0b, 0x0019, S2, D), "fst.d", "f9,0x18(r7)++"},
        {reg(0x0a, S1, S2, D, 4), "fst.q", "f9,r5(r7)"},
        {reg(0x0a, S1, S2, D, 5), "fst.q", "f9,r5(r7)++"},
        {imm(0x0b, 0x0024, S2, D), "fst.q", "f9,0x20(r7)"},
        {imm(0x0b, 0x0035, S2, D), "fst.q", "f9,0x30(r7)++"},
        {imm(0x0f, 0x1238, S2, D), "pst.d", "f9,0x1238(r7)"},
        {imm(0x0f, 0x1239, S2, D), "pst.d", "f9,0x1238(r7)++"},
        {reg(0x18, S1, S2, D, 2), "pfld.l", "r5(r7),f9"},
        {reg(0x18, S1, S2, D, 3), "pfld.l", "r5(r7)++,f9"},
        {imm(0x19, 0x0106, S2, D), "pfld.l", "0x104(r7),f9"},
        {imm(0x19, 0x0107, S2, D), "pfld.l", "0x104(r7)++,f9"},
        {reg(0x18, S1, S2, D, 0), "pfld.d", "r5(r7),f9"},
        {reg(0x18, S1, S2, D, 1), "pfld.d", "r5(r7)++,f9"},
        {imm(0x19, 0x0108, S2, D), "pfld.d", "0x108(r7),f9"},
        {imm(0x19, 0x0109, S2, D), "pfld.d", "0x108(r7)++,f9"},
    });
}

TEST(I860Rows, ControlAndEscapes)
{
    run_cases({
        {reg(0x0c, 0, 2, D), "ld.c", "dirbase,r9"},
        {imm(0x0d, 0x1230, S2, 0), "flush", "0x1230(r7)"},
        {imm(0x0d, 0x123f, S2, 0), "flush", "0x1230(r7)++"},
        {reg(0x0e, S1, 4, 0), "st.c", "r5,fsr"},
        {reg(0x10, S1, 0, 0), "bri", "r5"},
        {reg(0x11, S1, S2, D), "trap", "r5,r7,r9"},
        {escape(1), "lock", ""},
        {escape(2, S1), "calli", "r5"},
        {escape(4), "intovr", ""},
        {escape(7), "unlock", ""},
    });
}

// Every control-register name, then the empty slots.
TEST(I860Rows, ControlRegisterNames)
{
    const char* const names[8] = {"fir", "psr", "dirbase", "db", "fsr", "epsr", "?", "?"};
    for (uint32_t n = 0; n < 8; n++) {
        EXPECT_EQ(line("ld.c", std::string(names[n]) + ",r9"), i860(big_endian(reg(0x0c, 0, n, D))).out) << n;
        EXPECT_EQ(line("st.c", std::string("r5,") + names[n]), i860(big_endian(reg(0x0e, S1, n, 0))).out) << n;
    }
    EXPECT_EQ(line("ld.c", "?,r9"), i860(big_endian(reg(0x0c, 0, 31, D))).out);
}

// Branch offsets print relative to the instruction: the offset in words,
// plus the 4 of the branch itself.
TEST(I860Rows, Branches)
{
    run_cases({
        {branch(0x1a, 0x3ffffff), "br", ".+0"},
        {branch(0x1a, 0), "br", ".+4"},
        {branch(0x1b, 0x10), "call", ".+68", 0x100},
        {branch(0x1c, 0x2000000), "bc", ".-134217724"},
        {branch(0x1d, 0x1ffffff), "bc.t", ".+134217728"},
        {branch(0x1e, 0x3fffffe), "bnc", ".-4"},
        {branch(0x1f, 1), "bnc.t", ".+8"},
        {split(0x14, S1, S2, 3), "btne", "r5,r7,.+16", 0x100},
        {split(0x15, 5, S2, 0xffff), "btne", "5,r7,.+0"},
        {split(0x16, S1, S2, 0x8000), "bte", "r5,r7,.-131068"},
        {split(0x17, 31, S2, 0x7fff), "bte", "31,r7,.+131072"},
        {split(0x2d, S1, S2, 2), "bla", "r5,r7,.+12"},
        {reg(0x10, 31, 0, 0), "bri", "r31"},
    });
}

TEST(I860Rows, IntegerOperations)
{
    run_cases({
        {reg(0x20, S1, S2, D), "addu", "r5,r7,r9"},
        {imm(0x21, 0x1234, S2, D), "addu", "0x1234,r7,r9"},
        {reg(0x22, S1, S2, D), "subu", "r5,r7,r9"},
        {imm(0x23, 0xffff, S2, D), "subu", "0xffff,r7,r9"},
        {reg(0x24, S1, S2, D), "adds", "r5,r7,r9"},
        {imm(0x25, 0x8000, S2, D), "adds", "0x8000,r7,r9"},
        {reg(0x26, S1, S2, D), "subs", "r5,r7,r9"},
        {imm(0x27, 0x0001, S2, D), "subs", "0x1,r7,r9"},
        {0xa0000000, "nop", ""},
        {reg(0x28, 0, S2, D), "mov", "r7,r9"},
        {reg(0x28, S1, S2, D), "shl", "r5,r7,r9"},
        {imm(0x29, 12, S2, D), "shl", "12,r7,r9"},
        {reg(0x2a, S1, S2, D), "shr", "r5,r7,r9"},
        {imm(0x2b, 31, S2, D), "shr", "31,r7,r9"},
        {0xb0000000, "fnop", ""},
        {reg(0x2c, S1, S2, D), "shrd", "r5,r7,r9"},
        {reg(0x2e, S1, S2, D), "shra", "r5,r7,r9"},
        {imm(0x2f, 65535, S2, D), "shra", "65535,r7,r9"},
        {reg(0x30, S1, S2, D), "and", "r5,r7,r9"},
        {imm(0x31, 0x00ff, S2, D), "and", "0xff,r7,r9"},
        {imm(0x33, 0xff00, S2, D), "andh", "0xff00,r7,r9"},
        {reg(0x34, S1, S2, D), "andnot", "r5,r7,r9"},
        {imm(0x35, 0x0f0f, S2, D), "andnot", "0xf0f,r7,r9"},
        {imm(0x37, 0xf0f0, S2, D), "andnoth", "0xf0f0,r7,r9"},
        {reg(0x38, S1, S2, D), "or", "r5,r7,r9"},
        {imm(0x39, 0x5678, S2, D), "or", "0x5678,r7,r9"},
        {imm(0x3b, 0x1234, 0, 31), "orh", "0x1234,r0,r31"},
        {reg(0x3c, S1, S2, D), "xor", "r5,r7,r9"},
        {imm(0x3d, 0xabcd, S2, D), "xor", "0xabcd,r7,r9"},
        {imm(0x3f, 0x8001, S2, D), "xorh", "0x8001,r7,r9"},
    });
}

TEST(I860Rows, FloatingOperations)
{
    // fp(op, P, S, R, src1, src2, dest): .ss S=0 R=0, .sd R=1, .ds S=1,
    // .dd both; P the pipelined form.
    run_cases({
        {fp(0x20, 0, 0, 0, S1, S2, D), "fmul.ss", "f5,f7,f9"},
        {fp(0x20, 0, 0, 1, S1, S2, D), "fmul.sd", "f5,f7,f9"},
        {fp(0x20, 0, 1, 1, S1, S2, D), "fmul.dd", "f5,f7,f9"},
        {fp(0x20, 1, 0, 0, S1, S2, D), "pfmul.ss", "f5,f7,f9"},
        {fp(0x20, 1, 0, 1, S1, S2, D), "pfmul.sd", "f5,f7,f9"},
        {fp(0x20, 1, 1, 1, S1, S2, D), "pfmul.dd", "f5,f7,f9"},
        {fp(0x21, 0, 1, 1, S1, S2, D), "fmlow.dd", "f5,f7,f9"},
        {fp(0x22, 0, 0, 0, 0, S2, D), "frcp.ss", "f7,f9"},
        {fp(0x22, 0, 0, 1, 0, S2, D), "frcp.sd", "f7,f9"},
        {fp(0x22, 0, 1, 1, 0, S2, D), "frcp.dd", "f7,f9"},
        {fp(0x23, 0, 0, 0, 0, S2, D), "frsqr.ss", "f7,f9"},
        {fp(0x23, 0, 0, 1, 0, S2, D), "frsqr.sd", "f7,f9"},
        {fp(0x23, 0, 1, 1, 0, S2, D), "frsqr.dd", "f7,f9"},
        {fp(0x24, 1, 1, 1, S1, S2, D), "pfmul3.dd", "f5,f7,f9"},
        {fp(0x30, 0, 0, 0, S1, S2, D), "fadd.ss", "f5,f7,f9"},
        {fp(0x30, 0, 0, 1, S1, S2, D), "fadd.sd", "f5,f7,f9"},
        {fp(0x30, 0, 1, 1, S1, S2, D), "fadd.dd", "f5,f7,f9"},
        {fp(0x30, 1, 0, 0, S1, S2, D), "pfadd.ss", "f5,f7,f9"},
        {fp(0x30, 1, 0, 1, S1, S2, D), "pfadd.sd", "f5,f7,f9"},
        {fp(0x30, 1, 1, 1, S1, S2, D), "pfadd.dd", "f5,f7,f9"},
        {fp(0x31, 0, 0, 0, S1, S2, D), "fsub.ss", "f5,f7,f9"},
        {fp(0x31, 0, 0, 1, S1, S2, D), "fsub.sd", "f5,f7,f9"},
        {fp(0x31, 0, 1, 1, S1, S2, D), "fsub.dd", "f5,f7,f9"},
        {fp(0x31, 1, 0, 0, S1, S2, D), "pfsub.ss", "f5,f7,f9"},
        {fp(0x31, 1, 0, 1, S1, S2, D), "pfsub.sd", "f5,f7,f9"},
        {fp(0x31, 1, 1, 1, S1, S2, D), "pfsub.dd", "f5,f7,f9"},
        {fp(0x32, 0, 0, 0, S1, 0, D), "fix.ss", "f5,f9"},
        {fp(0x32, 0, 0, 1, S1, 0, D), "fix.sd", "f5,f9"},
        {fp(0x32, 0, 1, 1, S1, 0, D), "fix.dd", "f5,f9"},
        {fp(0x32, 1, 0, 0, S1, 0, D), "pfix.ss", "f5,f9"},
        {fp(0x32, 1, 0, 1, S1, 0, D), "pfix.sd", "f5,f9"},
        {fp(0x32, 1, 1, 1, S1, 0, D), "pfix.dd", "f5,f9"},
        {fp(0x33, 0, 0, 0, S1, 0, D), "famov.ss", "f5,f9"},
        {fp(0x33, 0, 0, 1, S1, 0, D), "famov.sd", "f5,f9"},
        {fp(0x33, 0, 1, 0, S1, 0, D), "famov.ds", "f5,f9"},
        {fp(0x33, 0, 1, 1, S1, 0, D), "famov.dd", "f5,f9"},
        {fp(0x33, 1, 0, 0, S1, 0, D), "pfamov.ss", "f5,f9"},
        {fp(0x33, 1, 0, 1, S1, 0, D), "pfamov.sd", "f5,f9"},
        {fp(0x33, 1, 1, 0, S1, 0, D), "pfamov.ds", "f5,f9"},
        {fp(0x33, 1, 1, 1, S1, 0, D), "pfamov.dd", "f5,f9"},
        {fp(0x34, 1, 0, 0, S1, S2, D), "pfgt.ss", "f5,f7,f9"},
        {fp(0x34, 1, 1, 0, S1, S2, D), "pfgt.dd", "f5,f7,f9"},
        {fp(0x34, 1, 0, 1, S1, S2, D), "pfle.ss", "f5,f7,f9"},
        {fp(0x34, 1, 1, 1, S1, S2, D), "pfle.dd", "f5,f7,f9"},
        {fp(0x35, 1, 0, 0, S1, S2, D), "pfeq.ss", "f5,f7,f9"},
        {fp(0x35, 1, 1, 0, S1, S2, D), "pfeq.dd", "f5,f7,f9"},
        {fp(0x3a, 0, 0, 0, S1, 0, D), "ftrunc.ss", "f5,f9"},
        {fp(0x3a, 0, 0, 1, S1, 0, D), "ftrunc.sd", "f5,f9"},
        {fp(0x3a, 0, 1, 1, S1, 0, D), "ftrunc.dd", "f5,f9"},
        {fp(0x3a, 1, 0, 0, S1, 0, D), "pftrunc.ss", "f5,f9"},
        {fp(0x3a, 1, 0, 1, S1, 0, D), "pftrunc.sd", "f5,f9"},
        {fp(0x3a, 1, 1, 1, S1, 0, D), "pftrunc.dd", "f5,f9"},
        {fp(0x40, 0, 0, 0, S1, 0, D), "fxfr", "f5,r9"},
        {fp(0x49, 0, 0, 0, S1, S2, D), "fiadd.ss", "f5,f7,f9"},
        {fp(0x49, 0, 1, 1, S1, S2, D), "fiadd.dd", "f5,f7,f9"},
        {fp(0x49, 1, 0, 0, S1, S2, D), "pfiadd.ss", "f5,f7,f9"},
        {fp(0x49, 1, 1, 1, S1, S2, D), "pfiadd.dd", "f5,f7,f9"},
        {fp(0x4d, 0, 0, 0, S1, S2, D), "fisub.ss", "f5,f7,f9"},
        {fp(0x4d, 0, 1, 1, S1, S2, D), "fisub.dd", "f5,f7,f9"},
        {fp(0x4d, 1, 0, 0, S1, S2, D), "pfisub.ss", "f5,f7,f9"},
        {fp(0x4d, 1, 1, 1, S1, S2, D), "pfisub.dd", "f5,f7,f9"},
        {fp(0x50, 0, 1, 1, S1, S2, D), "faddp", "f5,f7,f9"},
        {fp(0x50, 1, 1, 1, S1, S2, D), "pfaddp", "f5,f7,f9"},
        {fp(0x51, 0, 1, 1, S1, S2, D), "faddz", "f5,f7,f9"},
        {fp(0x51, 1, 1, 1, S1, S2, D), "pfaddz", "f5,f7,f9"},
        {fp(0x57, 0, 1, 1, S1, S2, D), "fzchkl", "f5,f7,f9"},
        {fp(0x57, 1, 1, 1, S1, S2, D), "pfzchkl", "f5,f7,f9"},
        {fp(0x5a, 0, 1, 1, S1, 0, D), "form", "f5,f9"},
        {fp(0x5a, 1, 1, 1, S1, 0, D), "pform", "f5,f9"},
        {fp(0x5f, 0, 1, 1, S1, S2, D), "fzchks", "f5,f7,f9"},
        {fp(0x5f, 1, 1, 1, S1, S2, D), "pfzchks", "f5,f7,f9"},
    });
}

// The move spellings share their words with earlier rows, which print:
// fmov.ss and fmov.dd are fiadd with f0 as src2, fmov.sd and fmov.ds are
// famov, and mov is shl with r0 as src1 (its own row, before shl).
TEST(I860Rows, CoveredMoveRows)
{
    run_cases({
        {fp(0x49, 0, 0, 0, S1, 0, D), "fiadd.ss", "f5,f0,f9"},
        {0x480001c9, "fiadd.dd", "f0,f0,f0"},
        {fp(0x49, 0, 1, 1, S1, 0, D), "fiadd.dd", "f5,f0,f9"},
        {fp(0x49, 1, 0, 0, S1, 0, D), "pfiadd.ss", "f5,f0,f9"},
        {fp(0x49, 1, 1, 1, S1, 0, D), "pfiadd.dd", "f5,f0,f9"},
        {fp(0x33, 0, 0, 1, S1, 0, D), "famov.sd", "f5,f9"},
        {fp(0x33, 0, 1, 0, S1, 0, D), "famov.ds", "f5,f9"},
        {fp(0x33, 1, 0, 1, S1, 0, D), "pfamov.sd", "f5,f9"},
        {fp(0x33, 1, 1, 0, S1, 0, D), "pfamov.ds", "f5,f9"},
        {reg(0x28, 0, 0, 0), "nop", ""},
        {reg(0x28, 0, 0, 1), "mov", "r0,r1"},
        {reg(0x2c, 0, 0, 0), "fnop", ""},
        {reg(0x2c, 0, 0, 1), "shrd", "r0,r0,r1"},
    });
}

// The dual-operation families, by data-path control (the low four bits of
// the operation): add-and-multiply and subtract-and-multiply pipelined
// (P set, operation 0x00-0x0f and 0x10-0x1f), and their multiplier-result
// forms (P clear).
TEST(I860Rows, DualOperationFamilies)
{
    const struct {
        uint32_t p;
        uint32_t base;
        const char* names[16];
    } families[] = {
        {1, 0x00, {"r2p1", "r2pt", "r2ap1", "r2apt", "i2p1", "i2pt", "i2ap1", "i2apt", "rat1p2", "m12apm", "ra1p2",
                   "m12ttpa", "iat1p2", "m12tpm", "ia1p2", "m12tpa"}},
        {1, 0x10, {"r2s1", "r2st", "r2as1", "r2ast", "i2s1", "i2st", "i2as1", "i2ast", "rat1s2", "m12asm", "ra1s2",
                   "m12ttsa", "iat1s2", "m12tsm", "ia1s2", "m12tsa"}},
        {0, 0x00, {"mr2p1", "mr2pt", "mr2mp1", "mr2mpt", "mi2p1", "mi2pt", "mi2mp1", "mi2mpt", "mrmt1p2", "mm12mpm",
                   "mrm1p2", "mm12ttpm", "mimt1p2", "mm12tpm", "mim1p2", "mm12tpm"}},
        {0, 0x10, {"mr2s1", "mr2st", "mr2ms1", "mr2mst", "mi2s1", "mi2st", "mi2ms1", "mi2mst", "mrmt1s2", "mm12msm",
                   "mrm1s2", "mm12ttsm", "mimt1s2", "mm12tsm", "mim1s2", "mm12tsm"}},
    };
    const struct {
        const char* suffix;
        uint32_t s, r;
    } precisions[] = {{".ss", 0, 0}, {".sd", 0, 1}, {".dd", 1, 1}};
    std::vector<Case> cases;
    std::vector<std::string> names;
    names.reserve(4 * 16 * 3);
    for (const auto& f : families)
        for (uint32_t dpc = 0; dpc < 16; dpc++)
            for (const auto& pr : precisions) {
                names.push_back(std::string(f.names[dpc]) + pr.suffix);
                cases.push_back({fp(f.base | dpc, f.p, pr.s, pr.r, S1, S2, D), names.back().c_str(), "f5,f7,f9"});
            }
    run_cases(cases);
    // The precision the families lack (.ds) is no row.
    EXPECT_EQ(".long\t0x48e95500\n", i860(big_endian(fp(0, 1, 1, 0, 10, 7, 9))).out);
}

// ---- dual-instruction mode and undecodable words ----

TEST(I860Decode, DualModeAndUnknownWords)
{
    const struct {
        uint32_t word;
        std::string out;
    } cases[] = {
        {0xb0000200, line("fnop", "", true)},
        {0xa0000000, line("nop", "")},
        {fp(0x30, 0, 0, 0, S1, S2, D, 1), line("fadd.ss", "f5,f7,f9", true)},
        {fp(0x0, 1, 1, 1, S1, S2, D, 1), line("r2p1.dd", "f5,f7,f9", true)},
        {fp(0x40, 0, 0, 0, S1, 0, D, 1), line("fxfr", "f5,r9", true)},
        {0x4bfffbc9, line("fiadd.dd", "f31,f31,f31", true)},
        // bit 9 stays in every other word
        {0xa0000200, line("mov", "r0,r0")},
        {imm(0x25, 0x0200, S2, D), line("adds", "0x200,r7,r9")},
        {0xb0000201, line("shrd", "r0,r0,r0")},
        {0xb0000600, line("shrd", "r0,r0,r0")},
        // undecodable: the word as read, with the D bit cleared in dual mode
        {fp(0x7f, 0, 0, 0, 0, 0, 0, 1), ".long\t0x4800007f\n"},
        {fp(0x7f, 1, 0, 0, 0, 0, 0), ".long\t0x4800047f\n"},
        {escape(0x1f), ".long\t0x4c00001f\n"},
        {imm(0x06, 0x1234, S2, D), ".long\t0x18e91234\n"},
        {0xffffffff, line("xorh", "0xffff,r31,r31")},
    };
    for (const auto& c : cases) {
        const Printed p = i860(big_endian(c.word));
        EXPECT_EQ(c.out, p.out) << std::hex << c.word;
        EXPECT_EQ(4u, p.length) << std::hex << c.word;
    }
}

// ---- the table ----

// The operands a row prints for its own match word (every field 0).
std::string zero_operands(const char* args)
{
    std::string out;
    for (const char* t = args; *t != '\0'; t++) {
        switch (*t) {
        case '1': case '2': case 'd': out += "r0"; break;
        case 'e': case 'E': case 'f': case 'F': case 'g': case 'G': case 'H': out += "f0"; break;
        case 'B': case 'D': out += "0"; break;
        case 'C': out += "fir"; break;
        case 'I': out += "h%0x0"; break;
        case 'J': out += "ha%0x0"; break;
        case 'K': case 'L': out += ".+4"; break;
        case 'i': case 'j': case 'k': case 'l': case 'm': case 'n': case 'o': case 'p': out += "0x0"; break;
        default: out += *t; break;
        }
    }
    return out;
}

TEST(I860Table, Structure)
{
    // Rows whose match word an earlier row (or the padding word) prints.
    const std::map<std::string, std::string> covered = {
        {"ld.b 1(2),d", "| Padded to i860 section boundary\n"},
        {"mov 2,d", line("nop", "")},
        {"shl 1,2,d", line("nop", "")},
        {"shrd 1,2,d", line("fnop", "")},
        {"fmov.ss e,g", line("fiadd.ss", "f0,f0,f0")},
        {"fmov.dd e,g", line("fiadd.dd", "f0,f0,f0")},
        {"pfmov.ss e,g", line("pfiadd.ss", "f0,f0,f0")},
        {"pfmov.dd e,g", line("pfiadd.dd", "f0,f0,f0")},
        {"fmov.sd e,g", line("famov.sd", "f0,f0")},
        {"fmov.ds e,g", line("famov.ds", "f0,f0")},
        {"pfmov.sd e,g", line("pfamov.sd", "f0,f0")},
        {"pfmov.ds e,g", line("pfamov.ds", "f0,f0")},
    };
    std::set<std::tuple<std::string, uint32_t, uint32_t, std::string>> seen;
    std::set<std::string> covered_seen;
    size_t rows = 0;
    for (const macho::i860_opcode* op = macho::i860_opcodes; op->name != nullptr; op++, rows++) {
        const std::string key = std::string(op->name) + " " + op->args;
        SCOPED_TRACE(key);
        EXPECT_EQ(0u, op->match & ~op->mask);
        EXPECT_TRUE(seen.emplace(op->name, op->mask, op->match, op->args).second);
        EXPECT_TRUE(op->expand == 0 || op->expand == 1);
        const Printed p = i860(big_endian(op->match));
        const auto c = covered.find(key);
        if (c != covered.end()) {
            covered_seen.insert(key);
            EXPECT_EQ(c->second, p.out);
        } else {
            EXPECT_EQ(line(op->name, zero_operands(op->args)), p.out);
        }
    }
    EXPECT_EQ(covered.size(), covered_seen.size());
    // the row of zeros after the last
    const macho::i860_opcode& end = macho::i860_opcodes[rows];
    EXPECT_EQ(nullptr, end.args);
    EXPECT_EQ(0u, end.mask | end.match);
}

// ---- relocation prefixes, pairs and symbols ----

struct RelocCase {
    const char* what;
    uint32_t word;
    uint64_t addr;
    uint64_t sect_addr;
    std::vector<macho::relocation_info> relocs;
    const char* out;
    const char* err;
    int verbose = 1;
};

TEST(I860Address, RelocationEntries)
{
    const Symbols syms = symbols_with_bad_index("_x", "_f"); // symbol 2: string index past the table
    const std::vector<macho::sorted_symbol> sorted = {
        {"_start", 0x0}, {"_loop", 0x110}, {"_low", 0x5678}, {"_data", 0x12345678}};
    const uint32_t pair = 1, high = 2, low0 = 3, low2 = 5, split1 = 9, highadj = 11, braddr = 12, sectdiff = 13;
    const uint32_t orh = imm(0x3b, 0x1234, 0, 31);
    const uint32_t ld_l = imm(0x05, 0x0011, 31, 16);
    const std::vector<RelocCase> cases = {
        {"external high half rebuilt with its pair", orh, 0, 0,
         {plain_reloc(0, 0, true, high), plain_reloc(0x5678, 0, false, pair)},
         "orh         \th%_x+0x12345678,r0,r31\n", ""},
        {"external high adjusted: the low half added signed", orh, 0, 0,
         {plain_reloc(0, 0, true, highadj), plain_reloc(0xfff0, 0, false, pair)},
         "orh         \tha%_x+0x1233fff0,r0,r31\n", ""},
        {"external high half, value 0", imm(0x3b, 0, 0, 31), 0, 0,
         {plain_reloc(0, 0, true, high), plain_reloc(0, 0, false, pair)}, "orh         \th%_x,r0,r31\n", ""},
        {"scattered pair gives the low half", orh, 0, 0,
         {plain_reloc(0, 0, true, high), scattered_reloc(0x5678, pair, 0)},
         "orh         \th%_x+0x12345678,r0,r31\n", ""},
        {"local high half names a sorted symbol", orh, 0, 0,
         {plain_reloc(0, 1, false, high), plain_reloc(0x5678, 0, false, pair)}, "orh         \th%_data,r0,r31\n",
         ""},
        {"local high half, no symbol there", orh, 0, 0,
         {plain_reloc(0, 1, false, high), plain_reloc(0x5679, 0, false, pair)},
         "orh         \th%0x12345679,r0,r31\n", ""},
        {"not verbose: prefix and value", orh, 0, 0,
         {plain_reloc(0, 0, true, high), plain_reloc(0x5678, 0, false, pair)},
         "orh         \th%0x12345678,r0,r31\n", "", 0},
        {"low half", imm(0x39, 0x5678, 31, 31), 0, 0, {plain_reloc(0, 0, true, low0)},
         "or          \tl%_x+0x5678,r31,r31\n", ""},
        {"low half of a load, aligned", ld_l, 0, 0, {plain_reloc(0, 0, true, low2)},
         "ld.l        \tl%_x+0x10(r31),r16\n", ""},
        {"split low half of a store", split(0x07, 16, 31, 0x0009), 0, 0, {plain_reloc(0, 0, true, split1)},
         "st.l        \tr16,l%_x+0x8(r31)\n", ""},
        {"local low half names a sorted symbol", imm(0x39, 0x5678, 31, 31), 0, 0, {plain_reloc(0, 1, false, low0)},
         "or          \tl%_low,r31,r31\n", ""},
        {"pc-relative low half: no prefix", imm(0x39, 0x5678, 31, 31), 0, 0,
         {plain_reloc(0, 0, true, low0, 2, true)}, "or          \t_x+0x5678,r31,r31\n", ""},
        {"branch to an external symbol", branch(0x1b, 0x3ffffff), 0, 0, {plain_reloc(0, 1, true, braddr, 2, true)},
         "call        \t_f\n", ""},
        {"branch with an offset from the symbol", branch(0x1b, 1), 0, 0, {plain_reloc(0, 1, true, braddr, 2, true)},
         "call        \t_f+0x8\n", ""},
        {"branch target a sorted symbol", branch(0x1b, 3), 0x100, 0, {}, "call        \t_loop\n", ""},
        {"short branch, nothing named", split(0x16, 1, 2, 0x0fff), 0x10c, 0x100, {},
         "bte         \tr1,r2,.+16384\n", ""},
        {"short branch to a named target", split(0x16, 1, 2, 0xffff), 0x110, 0x100, {},
         "bte         \tr1,r2,_loop\n", ""},
        {"branch to nothing named", branch(0x1a, 5), 0x100, 0, {}, "br          \t.+24\n", ""},
        {"entries of other addresses skipped with their pairs", orh, 8, 0,
         {plain_reloc(0, 0, true, high), plain_reloc(0x7, 0, false, pair), plain_reloc(8, 0, true, highadj),
          plain_reloc(0x10, 0, false, pair)},
         "orh         \tha%_x+0x12340010,r0,r31\n", ""},
        {"entry found by the address within the section", orh, 0x1008, 0x1000,
         {plain_reloc(0, 0, true, high), plain_reloc(0x10, 0, false, pair), plain_reloc(8, 1, true, high),
          plain_reloc(0, 0, false, pair)},
         "orh         \th%_f+0x12340000,r0,r31\n", ""},
        {"scattered entry at the address is not taken", orh, 0, 0,
         {scattered_reloc(0, high, 0x12345678), plain_reloc(0x5678, 0, false, pair)},
         "orh         \t0x1234,r0,r31\n", ""},
        {"scattered entry skipped with its pair, plain one after taken", orh, 0, 0,
         {scattered_reloc(0, high, 0x12345678), plain_reloc(0x5678, 0, false, pair), plain_reloc(0, 0, true, high),
          plain_reloc(0x1, 0, false, pair)},
         "orh         \th%_x+0x12340001,r0,r31\n", ""},
        {"section difference with its pair: no prefix", orh, 0, 0,
         {plain_reloc(0, 0, false, sectdiff), plain_reloc(0, 0, false, pair)}, "orh         \t0x1234,r0,r31\n", ""},
        {"lone pair is stray", orh, 0, 0, {plain_reloc(0, 0, false, pair)}, "orh         \t0x1234,r0,r31\n",
         "Stray I860_RELOC_PAIR relocation entry 0\n"},
        {"scattered stray pair", orh, 0, 0, {plain_reloc(0x20, 0, true, low0), scattered_reloc(0, pair, 0)},
         "orh         \t0x1234,r0,r31\n", "Stray I860_RELOC_PAIR relocation entry 1\n"},
        {"own high half, no pair after: the walk goes on", orh, 0, 0,
         {plain_reloc(0, 0, true, high), plain_reloc(0x30, 0, true, low0), plain_reloc(0, 1, true, low0)},
         "orh         \tl%_f+0x1234,r0,r31\n", "No I860_RELOC_PAIR relocation entry after entry 0\n"},
        {"high half as the last entry", orh, 0, 0, {plain_reloc(0, 0, true, highadj)},
         "orh         \t0x1234,r0,r31\n", "No I860_RELOC_PAIR relocation entry after entry 0\n"},
        {"scattered section difference with no pair", orh, 0, 0,
         {scattered_reloc(0x40, sectdiff, 0), plain_reloc(0x30, 0, true, low0)}, "orh         \t0x1234,r0,r31\n",
         "No I860_RELOC_PAIR relocation entry after entry 0\n"},
        {"symbol number past the table: the sorted symbols", imm(0x39, 0x5678, 31, 31), 0, 0,
         {plain_reloc(0, 7, true, low0)}, "or          \tl%_low,r31,r31\n", ""},
        {"string index past the table", imm(0x39, 0x1234, 31, 31), 0, 0, {plain_reloc(0, 2, true, low0)},
         "or          \tl%0x1234,r31,r31\n", ""},
    };
    for (const RelocCase& c : cases) {
        Call k;
        k.verbose = c.verbose;
        k.addr = c.addr;
        k.sect_addr = c.sect_addr;
        k.relocs = c.relocs;
        k.syms = &syms;
        k.sorted = &sorted;
        const Printed p = i860(big_endian(c.word), k);
        EXPECT_EQ(c.out, p.out) << c.what;
        EXPECT_EQ(c.err, p.err) << c.what;
        EXPECT_EQ(4u, p.length) << c.what;
    }
}

// The prefix of each relocation type on a low-half operand, plain and
// pc-relative, with no symbol to name.
TEST(I860Address, PrefixByType)
{
    const uint32_t word = imm(0x39, 0x5678, 31, 31);
    for (uint32_t type = 0; type < 16; type++) {
        for (bool pcrel : {false, true}) {
            std::vector<macho::relocation_info> relocs = {plain_reloc(0, 0, false, type, 2, pcrel)};
            if (type == 2 || type == 11 || type == 13)
                relocs.push_back(plain_reloc(0x9abc, 0, false, 1));
            const char* want = "0x5678";
            if (type == 2)
                want = "h%0x56789abc";
            else if (type == 11)
                want = "ha%0x56779abc";
            else if (type >= 3 && type <= 10 && !pcrel)
                want = "l%0x5678";
            Call k;
            k.verbose = 1;
            k.relocs = relocs;
            const Printed p = i860(big_endian(word), k);
            EXPECT_EQ(line("or", std::string(want) + ",r31,r31"), p.out) << type << " " << pcrel;
            EXPECT_EQ(type == 1 ? "Stray I860_RELOC_PAIR relocation entry 0\n" : "", p.err) << type;
        }
    }
}

// A name is bounded by the string table even when it has no NUL there, and
// no symbol table means no name.
TEST(I860Address, NamesStayInsideTheTables)
{
    const char strings[] = {'\0', '_', 'a', 'b'};
    macho::nlist sym{};
    sym.n_strx = 1;
    const std::vector<macho::relocation_info> relocs = {plain_reloc(0, 0, true, 12, 2, true)};
    const std::vector<char> b = big_endian(branch(0x1a, 0x3ffffff));
    Printed p = capture([&] {
        return macho::i860_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, relocs.data(), 1, &sym, 1,
                                       nullptr, 0, strings, sizeof strings, 1);
    });
    EXPECT_EQ(line("br", "_ab"), p.out);
    p = capture([&] {
        return macho::i860_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, relocs.data(), 1, nullptr, 0,
                                       nullptr, 0, nullptr, 0, 1);
    });
    EXPECT_EQ(line("br", ".+0"), p.out);
}

// ---- reading ----

TEST(I860Read, SectionEndAndPadding)
{
    const struct {
        const char* bytes;
        uint64_t left;
        const char* out;
        uint32_t length;
    } cases[] = {
        {"12 34", 2, ".long\t0x12340000\n(end of section)\n", 2},
        {"ab cd ef", 3, ".long\t0xabcdef00\n(end of section)\n", 3},
        {"7f", 1, ".long\t0x7f000000\n(end of section)\n", 1},
        {"", 0, "(end of section)\n", 0},
        {"00000000", 4, "| Padded to i860 section boundary\n", 4},
        {"a0000000 b0000000", 4, "nop         \t\n", 4},
    };
    for (const auto& c : cases) {
        const std::vector<char> b = hex_bytes(c.bytes);
        const Printed p = i860(b, Call(), c.left);
        EXPECT_EQ(c.out, p.out) << c.bytes;
        EXPECT_EQ(c.length, p.length) << c.bytes;
    }
}

TEST(I860Read, LittleEndianObjectReadsUnswapped)
{
    Call k;
    k.order = macho::LITTLE_ENDIAN_BYTE_SEX;
    EXPECT_EQ(line("fnop", "", true), i860(hex_bytes("00 02 00 b0"), k).out);
    EXPECT_EQ(".long\t0x00003412\n(end of section)\n", i860(hex_bytes("12 34"), k).out);
}

// ---- through wardmacho ----

TEST(I860Wardmacho, RelocatedPairAndBranch)
{
    Wrapper w;
    w.cputype = 15;
    std::vector<char> text;
    for (uint32_t word : {imm(0x3b, 0, 0, 31), imm(0x05, 0x0001, 31, 16), branch(0x1a, 0x3fffffd), 0xa0000000u,
                          0x00000000u}) {
        const std::vector<char> b = big_endian(word);
        text.insert(text.end(), b.begin(), b.end());
    }
    w.text = text;
    w.relocs = {plain_reloc(0, 1, true, 11), plain_reloc(0x20, 0, false, 1), plain_reloc(4, 1, true, 5)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_x", 0x01, 0, 0}};
    const std::string path = write_temp("i860_wrapper.o", build_wrapper(w));
    const std::string out = run_program({WARDMACHO, "-tvV", path});
    unlink(path.c_str());
    EXPECT_EQ("(__TEXT,__text) section\n"
              "_main:\n"
              "00000000\torh         \tha%_x+0x20,r0,r31\n"
              "00000004\tld.l        \tl%_x(r31),r16\n"
              "00000008\tbr          \t_main\n"
              "0000000c\tnop         \t\n"
              "00000010\t| Padded to i860 section boundary\n",
              out);
}

// Every row's word with the fields outside its mask filled, and a dual-mode
// copy of each floating-point one: wardmacho prints what the direct calls
// print, and nothing is allocated while the section is disassembled with
// entries and symbols.
TEST(I860Wardmacho, EveryRowThroughTheDisplayLoop)
{
    std::vector<uint32_t> words;
    for (const macho::i860_opcode* op = macho::i860_opcodes; op->name != nullptr; op++) {
        words.push_back(op->match | (0x5a5a5a5au & ~op->mask));
        if ((op->match >> 26) == 0x12)
            words.push_back(words.back() | 0x200);
    }
    std::vector<char> text;
    for (uint32_t word : words) {
        const std::vector<char> b = big_endian(word);
        text.insert(text.end(), b.begin(), b.end());
    }
    text.push_back(0x12);
    Wrapper w;
    w.cputype = 15;
    w.text = text;
    w.relocs = {plain_reloc(0, 1, true, 2),       plain_reloc(0x10, 0, false, 1),
                plain_reloc(8, 1, true, 5),       plain_reloc(0x40, 1, true, 11),
                plain_reloc(0xfff0, 0, false, 1), plain_reloc(0x44, 1, true, 12, 2, true)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_x", 0x01, 0, 0}};
    const std::string path = write_temp("i860_rows.o", build_wrapper(w));
    std::istringstream in(run_program({WARDMACHO, "-tvV", path}));
    unlink(path.c_str());
    std::vector<std::string> printed;
    std::string text_line;
    while (std::getline(in, text_line))
        if (text_line.size() > 9 && text_line[8] == '\t')
            printed.push_back(text_line.substr(9) + "\n");

    Symbols syms;
    syms.add("_main");
    syms.add("_x");
    const std::vector<macho::sorted_symbol> sorted = {{"_main", 0}};
    Call k;
    k.verbose = 1;
    k.relocs = w.relocs;
    k.syms = &syms;
    k.sorted = &sorted;
    std::vector<std::string> direct;
    for (uint64_t at = 0; at < text.size();) {
        k.addr = at;
        const Printed p = i860(std::vector<char>(text.begin() + static_cast<long>(at), text.end()), k);
        EXPECT_EQ("", p.err) << at;
        // the section's tail prints two lines, the second without an address
        const size_t nl = p.out.find('\n');
        direct.push_back(p.out.substr(0, nl + 1));
        at += p.length;
    }
    EXPECT_EQ(direct, printed);

    if (allocation_counting_available()) {
        unsigned long allocations = 0;
        quietly([&] {
            start_counting_allocations();
            for (uint64_t at = 0; at < text.size();)
                at += macho::i860_disassemble(text.data() + at, text.size() - at, at, 0, macho::BIG_ENDIAN_BYTE_SEX,
                                              k.relocs.data(), static_cast<uint32_t>(k.relocs.size()),
                                              syms.table.data(), static_cast<uint32_t>(syms.table.size()),
                                              sorted.data(), 1, syms.strings.data(), syms.strings.size(), 1);
            allocations = stop_counting_allocations();
        });
        EXPECT_EQ(0u, allocations);
    }
}

} // namespace
