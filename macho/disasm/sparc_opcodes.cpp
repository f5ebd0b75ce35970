// The SPARC instruction set (V6 to V8 and the SPARClite additions) with the
// assembler's synthetic instructions as alias rows. Each row gives the bits
// that must be set and those that must be clear; the disassembler sorts the
// table once so that the most specific row of a word comes first.
#include "disasm/sparc_opcodes.h"

namespace {

constexpr uint32_t op(uint32_t x)
{
    return (x & 3u) << 30;
}
constexpr uint32_t op2(uint32_t x)
{
    return (x & 7u) << 22;
}
constexpr uint32_t op3(uint32_t x)
{
    return (x & 0x3fu) << 19;
}
constexpr uint32_t rd(uint32_t x)
{
    return (x & 0x1fu) << 25;
}
constexpr uint32_t rs1(uint32_t x)
{
    return (x & 0x1fu) << 14;
}
constexpr uint32_t rs2(uint32_t x)
{
    return x & 0x1fu;
}
constexpr uint32_t cond(uint32_t x)
{
    return (x & 0xfu) << 25;
}
constexpr uint32_t opf(uint32_t x)
{
    return (x & 0x1ffu) << 5;
}
constexpr uint32_t IMM = 1u << 13;     // i: the second operand is simm13
constexpr uint32_t ASI = 0xffu << 5;   // asi, unused bits of register forms
constexpr uint32_t SIMM = 0x1fffu;     // simm13
constexpr uint32_t ANNUL = 1u << 29;   // a of the branches
constexpr uint32_t RD = rd(~0u);
constexpr uint32_t RS1 = rs1(~0u);
constexpr uint32_t RS2 = rs2(~0u);

// Format 3: op, op3 and i set as given, the rest of those fields clear.
constexpr uint32_t f3(uint32_t o, uint32_t o3, uint32_t i)
{
    return op(o) | op3(o3) | (i != 0 ? IMM : 0);
}
constexpr uint32_t f3_lose(uint32_t o, uint32_t o3, uint32_t i)
{
    return op(~o) | op3(~o3) | (i != 0 ? 0 : IMM);
}
// Format 2: op 0 and op2.
constexpr uint32_t f2(uint32_t o2)
{
    return op(0) | op2(o2);
}
constexpr uint32_t f2_lose(uint32_t o2)
{
    return op(~0u) | op2(~o2);
}
// A floating-point operate: op 2, op3 and opf.
constexpr uint32_t fpop(uint32_t o3, uint32_t f)
{
    return op(2) | op3(o3) | opf(f);
}
constexpr uint32_t fpop_lose(uint32_t o3, uint32_t f)
{
    return op(~2u) | op3(~o3) | opf(~f);
}

constexpr char A = macho::SPARC_F_ALIAS;
enum { v6 = 0, v7 = 1, v8 = 2, sparclite = 3 };

} // namespace

// Register or immediate second operand: "1,2,d" and "1,i,d".
#define ARITH(n, o3, fl, ar)                                                                                     \
    {n, f3(2, o3, 0), f3_lose(2, o3, 0) | ASI, "1,2,d", fl, ar},                                                 \
        {n, f3(2, o3, 1), f3_lose(2, o3, 1), "1,i,d", fl, ar}
// The same with the immediate also accepted first.
#define ARITH_C(n, o3, fl, ar) ARITH(n, o3, fl, ar), {n, f3(2, o3, 1), f3_lose(2, o3, 1), "i,1,d", fl, ar}

// An address: [rs1+rs2], [rs1], [rs1+simm13], [simm13+rs1], [simm13], [rs1].
// `pre` and `post` are the other operand's letters around it.
#define MEM(n, o, o3, pre, post, extra, fl, ar)                                                                  \
    {n, f3(o, o3, 0), f3_lose(o, o3, 0) | ASI | (extra), pre "[1+2]" post, fl, ar},                              \
        {n, f3(o, o3, 0), f3_lose(o, o3, 0) | ASI | RS2 | (extra), pre "[1]" post, fl, ar},                            \
        {n, f3(o, o3, 1), f3_lose(o, o3, 1) | (extra), pre "[1+i]" post, fl, ar},                                \
        {n, f3(o, o3, 1), f3_lose(o, o3, 1) | (extra), pre "[i+1]" post, fl, ar},                                \
        {n, f3(o, o3, 1), f3_lose(o, o3, 1) | RS1 | (extra), pre "[i]" post, fl, ar},                            \
        {n, f3(o, o3, 1), f3_lose(o, o3, 1) | SIMM | (extra), pre "[1]" post, fl, ar}
#define LOAD(n, o3, reg, extra, fl, ar) MEM(n, 3, o3, "", "," reg, extra, fl, ar)
#define STORE(n, o3, reg, extra, fl, ar) MEM(n, 3, o3, reg ",", "", extra, fl, ar)
// Alternate space: register address only, the asi after it.
#define LOAD_A(n, o3, ar)                                                                                        \
    {n, f3(3, o3, 0), f3_lose(3, o3, 0), "[1+2]A,d", 0, ar},                                                     \
        {n, f3(3, o3, 0), f3_lose(3, o3, 0) | RS2, "[1]A,d", 0, ar}
#define STORE_A(n, o3, ar)                                                                                       \
    {n, f3(3, o3, 0), f3_lose(3, o3, 0), "d,[1+2]A", 0, ar},                                                     \
        {n, f3(3, o3, 0), f3_lose(3, o3, 0) | RS2, "d,[1]A", 0, ar}
// A jump-like address without brackets, and an operand after it.
// `set` and `extra` are more bits that must be set and clear.
#define ADDR(n, o3, post, set, extra, fl, ar)                                                                    \
    {n, f3(2, o3, 0) | (set), f3_lose(2, o3, 0) | ASI | (extra), "1+2" post, fl, ar},                            \
        {n, f3(2, o3, 0) | (set), f3_lose(2, o3, 0) | ASI | RS2 | (extra), "1" post, fl, ar},                    \
        {n, f3(2, o3, 1) | (set), f3_lose(2, o3, 1) | (extra), "1+i" post, fl, ar},                              \
        {n, f3(2, o3, 1) | (set), f3_lose(2, o3, 1) | (extra), "i+1" post, fl, ar},                              \
        {n, f3(2, o3, 1) | (set), f3_lose(2, o3, 1) | RS1 | (extra), "i" post, fl, ar},                          \
        {n, f3(2, o3, 1) | (set), f3_lose(2, o3, 1) | SIMM | (extra), "1" post, fl, ar}
// A branch on condition c of the format-2 group o2, without and with annul.
#define BRANCH(n, o2, c, fl, ar)                                                                                 \
    {n, f2(o2) | cond(c), f2_lose(o2) | cond(~c) | ANNUL, "l", fl, ar},                                          \
        {n, f2(o2) | cond(c) | ANNUL, f2_lose(o2) | cond(~c), ",a l", fl, ar}
// A trap on condition c: the trap number is rs1 plus rs2 or simm13.
#define TRAP(n, c, fl)                                                                                           \
    {n, f3(2, 0x3a, 0) | cond(c), f3_lose(2, 0x3a, 0) | cond(~c) | ASI, "1+2", fl, v6},                          \
        {n, f3(2, 0x3a, 0) | cond(c), f3_lose(2, 0x3a, 0) | cond(~c) | ASI | RS2, "1", fl, v6},                  \
        {n, f3(2, 0x3a, 1) | cond(c), f3_lose(2, 0x3a, 1) | cond(~c), "1+i", fl, v6},                            \
        {n, f3(2, 0x3a, 1) | cond(c), f3_lose(2, 0x3a, 1) | cond(~c), "i+1", fl, v6},                            \
        {n, f3(2, 0x3a, 1) | cond(c), f3_lose(2, 0x3a, 1) | cond(~c) | RS1, "i", fl, v6}
// Floating-point operates: two sources, or one (rs1 unused).
#define FP3(n, o3, f, args) {n, fpop(o3, f), fpop_lose(o3, f), args, 0, v6}
#define FP2(n, o3, f, args) {n, fpop(o3, f), fpop_lose(o3, f) | RS1, args, 0, v6}
#define FCMP(n, f, args) {n, fpop(0x35, f), fpop_lose(0x35, f) | RD, args, 0, v6}
// Bit operations on one register: "2,r" and "i,r".
#define BITOP(n, o3)                                                                                             \
    {n, f3(2, o3, 0), f3_lose(2, o3, 0) | ASI, "2,r", A, v6}, {n, f3(2, o3, 1), f3_lose(2, o3, 1), "i,r", A, v6}
// A state register read into rd (rs1 selects %y or an %asr).
#define READ(n, o3, reg, extra, fl)                                                                              \
    {n, f3(2, o3, 0), f3_lose(2, o3, 0) | RS2 | ASI | (extra), reg ",d", fl, v6}
// A state register write of rs1 xor the second operand, and its short
// forms with rs1 %g0 or rs2 %g0.
#define WRITE(o3, reg, extra)                                                                                    \
    {"wr", f3(2, o3, 0), f3_lose(2, o3, 0) | ASI | (extra), "1,2," reg, 0, v6},                                  \
        {"wr", f3(2, o3, 1), f3_lose(2, o3, 1) | (extra), "1,i," reg, 0, v6},                                    \
        {"wr", f3(2, o3, 0), f3_lose(2, o3, 0) | ASI | RS1 | (extra), "2," reg, A, v6},                          \
        {"wr", f3(2, o3, 1), f3_lose(2, o3, 1) | RS1 | (extra), "i," reg, A, v6},                                \
        {"wr", f3(2, o3, 0), f3_lose(2, o3, 0) | ASI | RS2 | (extra), "1," reg, A, v6},                          \
        {"wr", f3(2, o3, 1), f3_lose(2, o3, 1) | SIMM | (extra), "1," reg, A, v6}

extern "C" {

struct sparc_opcode bfd_sparc_opcodes[] = {
    // ---- loads ----
    LOAD("ldsb", 0x09, "d", 0, 0, v6),
    LOAD("ldsh", 0x0a, "d", 0, 0, v6),
    LOAD("ldub", 0x01, "d", 0, 0, v6),
    LOAD("lduh", 0x02, "d", 0, 0, v6),
    LOAD("ld", 0x00, "d", 0, 0, v6),
    LOAD("ldd", 0x03, "d", 0, 0, v6),
    LOAD("ld", 0x20, "g", 0, 0, v6),
    LOAD("ldd", 0x23, "H", 0, 0, v6),
    LOAD("ld", 0x21, "F", RD, 0, v6),
    LOAD("ld", 0x30, "D", 0, 0, v6),
    LOAD("ldd", 0x33, "D", 0, 0, v6),
    LOAD("ld", 0x31, "C", 0, 0, v6),
    LOAD("ldstub", 0x0d, "d", 0, 0, v6),
    LOAD("swap", 0x0f, "d", 0, 0, v7),
    LOAD_A("ldsba", 0x19, v6),
    LOAD_A("ldsha", 0x1a, v6),
    LOAD_A("lduba", 0x11, v6),
    LOAD_A("lduha", 0x12, v6),
    LOAD_A("lda", 0x10, v6),
    LOAD_A("ldda", 0x13, v6),
    LOAD_A("ldstuba", 0x1d, v6),
    LOAD_A("swapa", 0x1f, v7),
    // ---- stores ----
    STORE("stb", 0x05, "d", 0, 0, v6),
    STORE("sth", 0x06, "d", 0, 0, v6),
    STORE("st", 0x04, "d", 0, 0, v6),
    STORE("std", 0x07, "d", 0, 0, v6),
    STORE("st", 0x24, "g", 0, 0, v6),
    STORE("std", 0x27, "H", 0, 0, v6),
    STORE("st", 0x25, "F", RD, 0, v6),
    STORE("std", 0x26, "q", 0, 0, v6),
    STORE("st", 0x34, "D", 0, 0, v6),
    STORE("std", 0x37, "D", 0, 0, v6),
    STORE("st", 0x35, "C", 0, 0, v6),
    STORE("std", 0x36, "Q", 0, 0, v6),
    STORE_A("stba", 0x15, v6),
    STORE_A("stha", 0x16, v6),
    STORE_A("sta", 0x14, v6),
    STORE_A("stda", 0x17, v6),
    // synonyms of the byte and halfword stores, and stores of %g0
    STORE("stub", 0x05, "d", 0, A, v6),
    STORE("stsb", 0x05, "d", 0, A, v6),
    STORE("stuh", 0x06, "d", 0, A, v6),
    STORE("stsh", 0x06, "d", 0, A, v6),
    MEM("clr", 3, 0x04, "", "", RD, A, v6),
    MEM("clrb", 3, 0x05, "", "", RD, A, v6),
    MEM("clrh", 3, 0x06, "", "", RD, A, v6),

    // ---- arithmetic, logical and shift ----
    ARITH_C("add", 0x00, 0, v6),
    ARITH_C("addcc", 0x10, 0, v6),
    ARITH_C("addx", 0x08, 0, v6),
    ARITH_C("addxcc", 0x18, 0, v6),
    ARITH("sub", 0x04, 0, v6),
    ARITH("subcc", 0x14, 0, v6),
    ARITH("subx", 0x0c, 0, v6),
    ARITH("subxcc", 0x1c, 0, v6),
    ARITH_C("and", 0x01, 0, v6),
    ARITH_C("andcc", 0x11, 0, v6),
    ARITH("andn", 0x05, 0, v6),
    ARITH("andncc", 0x15, 0, v6),
    ARITH_C("or", 0x02, 0, v6),
    ARITH_C("orcc", 0x12, 0, v6),
    ARITH("orn", 0x06, 0, v6),
    ARITH("orncc", 0x16, 0, v6),
    ARITH_C("xor", 0x03, 0, v6),
    ARITH_C("xorcc", 0x13, 0, v6),
    ARITH_C("xnor", 0x07, 0, v6),
    ARITH_C("xnorcc", 0x17, 0, v6),
    // shift counts are 5 bits; the rest of simm13 is clear
    {"sll", f3(2, 0x25, 0), f3_lose(2, 0x25, 0) | ASI, "1,2,d", 0, v6},
    {"sll", f3(2, 0x25, 1), f3_lose(2, 0x25, 1) | ASI, "1,i,d", 0, v6},
    {"srl", f3(2, 0x26, 0), f3_lose(2, 0x26, 0) | ASI, "1,2,d", 0, v6},
    {"srl", f3(2, 0x26, 1), f3_lose(2, 0x26, 1) | ASI, "1,i,d", 0, v6},
    {"sra", f3(2, 0x27, 0), f3_lose(2, 0x27, 0) | ASI, "1,2,d", 0, v6},
    {"sra", f3(2, 0x27, 1), f3_lose(2, 0x27, 1) | ASI, "1,i,d", 0, v6},
    ARITH_C("taddcc", 0x20, 0, v6),
    ARITH_C("taddcctv", 0x22, 0, v6),
    ARITH("tsubcc", 0x21, 0, v6),
    ARITH("tsubcctv", 0x23, 0, v6),
    ARITH("mulscc", 0x24, 0, v6),
    ARITH_C("umul", 0x0a, 0, v8),
    ARITH_C("smul", 0x0b, 0, v8),
    ARITH_C("umulcc", 0x1a, 0, v8),
    ARITH_C("smulcc", 0x1b, 0, v8),
    ARITH("udiv", 0x0e, 0, v8),
    ARITH("sdiv", 0x0f, 0, v8),
    ARITH("udivcc", 0x1e, 0, v8),
    ARITH("sdivcc", 0x1f, 0, v8),
    ARITH("divscc", 0x1d, 0, sparclite),
    ARITH("scan", 0x2c, 0, sparclite),
    ARITH("save", 0x3c, 0, v6),
    ARITH("restore", 0x3d, 0, v6),
    {"save", f3(2, 0x3c, 0), f3_lose(2, 0x3c, 0) | RD | RS1 | RS2 | ASI, "", A, v6},
    {"restore", f3(2, 0x3d, 0), f3_lose(2, 0x3d, 0) | RD | RS1 | RS2 | ASI, "", A, v6},

    // ---- synthetic arithmetic ----
    {"cmp", f3(2, 0x14, 0), f3_lose(2, 0x14, 0) | RD | ASI, "1,2", A, v6},
    {"cmp", f3(2, 0x14, 1), f3_lose(2, 0x14, 1) | RD, "1,i", A, v6},
    {"tst", f3(2, 0x12, 0), f3_lose(2, 0x12, 0) | RD | RS1 | ASI, "2", A, v6},
    {"tst", f3(2, 0x12, 0), f3_lose(2, 0x12, 0) | RD | RS2 | ASI, "1", A, v6},
    {"btst", f3(2, 0x11, 0), f3_lose(2, 0x11, 0) | RD | ASI, "2,1", A, v6},
    {"btst", f3(2, 0x11, 1), f3_lose(2, 0x11, 1) | RD, "i,1", A, v6},
    BITOP("bset", 0x02),
    BITOP("bclr", 0x05),
    BITOP("btog", 0x03),
    {"clr", f3(2, 0x02, 0), f3_lose(2, 0x02, 0) | RS1 | RS2 | ASI, "d", A, v6},
    {"clr", f3(2, 0x02, 1), f3_lose(2, 0x02, 1) | RS1 | SIMM, "d", A, v6},
    {"mov", f3(2, 0x02, 0), f3_lose(2, 0x02, 0) | RS1 | ASI, "2,d", A, v6},
    {"mov", f3(2, 0x02, 1), f3_lose(2, 0x02, 1) | RS1, "i,d", A, v6},
    {"mov", f3(2, 0x02, 0), f3_lose(2, 0x02, 0) | RS2 | ASI, "1,d", A, v6},
    {"mov", f3(2, 0x02, 1), f3_lose(2, 0x02, 1) | SIMM, "1,d", A, v6},
    {"not", f3(2, 0x07, 0), f3_lose(2, 0x07, 0) | RS2 | ASI, "r", A, v6},
    {"not", f3(2, 0x07, 0), f3_lose(2, 0x07, 0) | RS2 | ASI, "1,d", A, v6},
    {"neg", f3(2, 0x04, 0), f3_lose(2, 0x04, 0) | RS1 | ASI, "u", A, v6},
    {"neg", f3(2, 0x04, 0), f3_lose(2, 0x04, 0) | RS1 | ASI, "2,d", A, v6},
    {"inc", f3(2, 0x00, 1) | 1, f3_lose(2, 0x00, 1) | (SIMM & ~1u), "r", A, v6},
    {"inc", f3(2, 0x00, 1), f3_lose(2, 0x00, 1), "i,r", A, v6},
    {"inccc", f3(2, 0x10, 1) | 1, f3_lose(2, 0x10, 1) | (SIMM & ~1u), "r", A, v6},
    {"inccc", f3(2, 0x10, 1), f3_lose(2, 0x10, 1), "i,r", A, v6},
    {"dec", f3(2, 0x04, 1) | 1, f3_lose(2, 0x04, 1) | (SIMM & ~1u), "r", A, v6},
    {"dec", f3(2, 0x04, 1), f3_lose(2, 0x04, 1), "i,r", A, v6},
    {"deccc", f3(2, 0x14, 1) | 1, f3_lose(2, 0x14, 1) | (SIMM & ~1u), "r", A, v6},
    {"deccc", f3(2, 0x14, 1), f3_lose(2, 0x14, 1), "i,r", A, v6},

    // ---- sethi, unimp ----
    {"nop", f2(4), ~f2(4), "", A, v6},
    {"sethi", f2(4), f2_lose(4), "h,d", 0, v6},
    {"set", f2(4), f2_lose(4), "h,d", A, v6},
    {"unimp", f2(0), f2_lose(0) | RD, "n", 0, v6},

    // ---- control transfer ----
    {"call", op(1), op(~1u), "L", 0, v6},
    {"call", op(1), op(~1u), "L,#", 0, v6},
    ADDR("jmpl", 0x38, ",d", 0, 0, 0, v6),
    ADDR("jmp", 0x38, "", 0, RD, A, v6),
    ADDR("call", 0x38, "", rd(15), RD & ~rd(15), A, v6),
    ADDR("call", 0x38, ",#", rd(15), RD & ~rd(15), A, v6),
    {"ret", f3(2, 0x38, 1) | rs1(31) | 8, f3_lose(2, 0x38, 1) | RD | (RS1 & ~rs1(31)) | (SIMM & ~8u), "", A, v6},
    {"retl", f3(2, 0x38, 1) | rs1(15) | 8, f3_lose(2, 0x38, 1) | RD | (RS1 & ~rs1(15)) | (SIMM & ~8u), "", A,
     v6},
    ADDR("rett", 0x39, "", 0, RD, 0, v6),
    ADDR("flush", 0x3b, "", 0, RD, 0, v8),
    ADDR("iflush", 0x3b, "", 0, RD, A, v6),

    BRANCH("bn", 2, 0x0, 0, v6),
    BRANCH("be", 2, 0x1, 0, v6),
    BRANCH("bz", 2, 0x1, A, v6),
    BRANCH("ble", 2, 0x2, 0, v6),
    BRANCH("bl", 2, 0x3, 0, v6),
    BRANCH("bleu", 2, 0x4, 0, v6),
    BRANCH("bcs", 2, 0x5, 0, v6),
    BRANCH("blu", 2, 0x5, A, v6),
    BRANCH("bneg", 2, 0x6, 0, v6),
    BRANCH("bvs", 2, 0x7, 0, v6),
    BRANCH("b", 2, 0x8, 0, v6),
    BRANCH("ba", 2, 0x8, A, v6),
    BRANCH("bne", 2, 0x9, 0, v6),
    BRANCH("bnz", 2, 0x9, A, v6),
    BRANCH("bg", 2, 0xa, 0, v6),
    BRANCH("bge", 2, 0xb, 0, v6),
    BRANCH("bgu", 2, 0xc, 0, v6),
    BRANCH("bcc", 2, 0xd, 0, v6),
    BRANCH("bgeu", 2, 0xd, A, v6),
    BRANCH("bpos", 2, 0xe, 0, v6),
    BRANCH("bvc", 2, 0xf, 0, v6),

    BRANCH("fbn", 6, 0x0, 0, v6),
    BRANCH("fbne", 6, 0x1, 0, v6),
    BRANCH("fbnz", 6, 0x1, A, v6),
    BRANCH("fblg", 6, 0x2, 0, v6),
    BRANCH("fbul", 6, 0x3, 0, v6),
    BRANCH("fbl", 6, 0x4, 0, v6),
    BRANCH("fbug", 6, 0x5, 0, v6),
    BRANCH("fbg", 6, 0x6, 0, v6),
    BRANCH("fbu", 6, 0x7, 0, v6),
    BRANCH("fb", 6, 0x8, 0, v6),
    BRANCH("fba", 6, 0x8, A, v6),
    BRANCH("fbe", 6, 0x9, 0, v6),
    BRANCH("fbz", 6, 0x9, A, v6),
    BRANCH("fbue", 6, 0xa, 0, v6),
    BRANCH("fbge", 6, 0xb, 0, v6),
    BRANCH("fbuge", 6, 0xc, 0, v6),
    BRANCH("fble", 6, 0xd, 0, v6),
    BRANCH("fbule", 6, 0xe, 0, v6),
    BRANCH("fbo", 6, 0xf, 0, v6),

    BRANCH("cbn", 7, 0x0, 0, v6),
    BRANCH("cb123", 7, 0x1, 0, v6),
    BRANCH("cb12", 7, 0x2, 0, v6),
    BRANCH("cb13", 7, 0x3, 0, v6),
    BRANCH("cb1", 7, 0x4, 0, v6),
    BRANCH("cb23", 7, 0x5, 0, v6),
    BRANCH("cb2", 7, 0x6, 0, v6),
    BRANCH("cb3", 7, 0x7, 0, v6),
    BRANCH("cb", 7, 0x8, 0, v6),
    BRANCH("cba", 7, 0x8, A, v6),
    BRANCH("cb0", 7, 0x9, 0, v6),
    BRANCH("cb03", 7, 0xa, 0, v6),
    BRANCH("cb02", 7, 0xb, 0, v6),
    BRANCH("cb023", 7, 0xc, 0, v6),
    BRANCH("cb01", 7, 0xd, 0, v6),
    BRANCH("cb013", 7, 0xe, 0, v6),
    BRANCH("cb012", 7, 0xf, 0, v6),

    TRAP("tn", 0x0, 0),
    TRAP("te", 0x1, 0),
    TRAP("tz", 0x1, A),
    TRAP("tle", 0x2, 0),
    TRAP("tl", 0x3, 0),
    TRAP("tleu", 0x4, 0),
    TRAP("tcs", 0x5, 0),
    TRAP("tlu", 0x5, A),
    TRAP("tneg", 0x6, 0),
    TRAP("tvs", 0x7, 0),
    TRAP("ta", 0x8, 0),
    TRAP("t", 0x8, A),
    TRAP("tne", 0x9, 0),
    TRAP("tnz", 0x9, A),
    TRAP("tg", 0xa, 0),
    TRAP("tge", 0xb, 0),
    TRAP("tgu", 0xc, 0),
    TRAP("tcc", 0xd, 0),
    TRAP("tgeu", 0xd, A),
    TRAP("tpos", 0xe, 0),
    TRAP("tvc", 0xf, 0),

    // ---- state registers ----
    {"stbar", f3(2, 0x28, 0) | rs1(15), f3_lose(2, 0x28, 0) | RD | (RS1 & ~rs1(15)) | RS2 | ASI, "", 0, v8},
    READ("rd", 0x28, "y", RS1, 0),
    READ("rd", 0x28, "M", 0, 0),
    READ("rd", 0x29, "p", RS1, 0),
    READ("rd", 0x2a, "w", RS1, 0),
    READ("rd", 0x2b, "t", RS1, 0),
    READ("mov", 0x28, "y", RS1, A),
    READ("mov", 0x28, "M", 0, A),
    READ("mov", 0x29, "p", RS1, A),
    READ("mov", 0x2a, "w", RS1, A),
    READ("mov", 0x2b, "t", RS1, A),
    WRITE(0x30, "y", RD),
    WRITE(0x30, "m", 0),
    WRITE(0x31, "p", RD),
    WRITE(0x32, "w", RD),
    WRITE(0x33, "t", RD),

    // ---- floating point ----
    FP2("fmovs", 0x34, 0x01, "f,g"),
    FP2("fnegs", 0x34, 0x05, "f,g"),
    FP2("fabss", 0x34, 0x09, "f,g"),
    FP2("fsqrts", 0x34, 0x29, "f,g"),
    FP2("fsqrtd", 0x34, 0x2a, "B,H"),
    FP2("fsqrtq", 0x34, 0x2b, "R,J"),
    FP3("fadds", 0x34, 0x41, "e,f,g"),
    FP3("faddd", 0x34, 0x42, "v,B,H"),
    FP3("faddq", 0x34, 0x43, "V,R,J"),
    FP3("fsubs", 0x34, 0x45, "e,f,g"),
    FP3("fsubd", 0x34, 0x46, "v,B,H"),
    FP3("fsubq", 0x34, 0x47, "V,R,J"),
    FP3("fmuls", 0x34, 0x49, "e,f,g"),
    FP3("fmuld", 0x34, 0x4a, "v,B,H"),
    FP3("fmulq", 0x34, 0x4b, "V,R,J"),
    FP3("fdivs", 0x34, 0x4d, "e,f,g"),
    FP3("fdivd", 0x34, 0x4e, "v,B,H"),
    FP3("fdivq", 0x34, 0x4f, "V,R,J"),
    FP3("fsmuld", 0x34, 0x69, "e,f,H"),
    FP3("fdmulq", 0x34, 0x6e, "v,B,J"),
    FP2("fitos", 0x34, 0xc4, "f,g"),
    FP2("fitod", 0x34, 0xc8, "f,H"),
    FP2("fitoq", 0x34, 0xcc, "f,J"),
    FP2("fstoi", 0x34, 0xd1, "f,g"),
    FP2("fdtoi", 0x34, 0xd2, "B,g"),
    FP2("fqtoi", 0x34, 0xd3, "R,g"),
    FP2("fstod", 0x34, 0xc9, "f,H"),
    FP2("fstoq", 0x34, 0xcd, "f,J"),
    FP2("fdtos", 0x34, 0xc6, "B,g"),
    FP2("fdtoq", 0x34, 0xce, "B,J"),
    FP2("fqtos", 0x34, 0xc7, "R,g"),
    FP2("fqtod", 0x34, 0xcb, "R,H"),
    FCMP("fcmps", 0x51, "e,f"),
    FCMP("fcmpd", 0x52, "v,B"),
    FCMP("fcmpq", 0x53, "V,R"),
    FCMP("fcmpes", 0x55, "e,f"),
    FCMP("fcmped", 0x56, "v,B"),
    FCMP("fcmpeq", 0x57, "V,R"),

    // ---- coprocessor operates ----
    {"cpop1", f3(2, 0x36, 0), f3_lose(2, 0x36, 1), "[1+2],d", 0, v6},
    {"cpop2", f3(2, 0x37, 0), f3_lose(2, 0x37, 1), "[1+2],d", 0, v6},
};

const int bfd_sparc_num_opcodes = sizeof bfd_sparc_opcodes / sizeof bfd_sparc_opcodes[0];

const char* const bfd_sparc_architecture_pname[] = {"v6", "v7", "v8", "sparclite"};

} // extern "C"
