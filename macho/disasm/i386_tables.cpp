// The opcode maps of the i386 and x86-64 decoder, from Intel's one-, two-
// and three-byte opcode maps and AMD's 3DNow! list, with AT&T stems. Each
// table is built once at compile time.
#include "disasm/i386_tables.h"

namespace macho {
namespace i386 {

namespace {

constexpr uint8_t S = SF_SIZE;
constexpr uint8_t S64 = SF_SIZE | SF_DEFAULT64;

constexpr opcode_row row(const char* name, operand_form form, uint8_t flags = 0, row64 r64 = R64_NONE)
{
    return opcode_row{name, T_NONE, form, flags, r64};
}

constexpr opcode_row link(next_table t)
{
    return opcode_row{"", t, OF_NONE, 0, R64_NONE};
}

constexpr opcode_row none()
{
    return opcode_row{"", T_NONE, OF_NONE, 0, R64_NONE};
}

using table256 = std::array<opcode_row, 256>;
using table8 = std::array<opcode_row, 8>;

constexpr const char* alu[8] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
constexpr const char* alub[8] = {"addb", "orb", "adcb", "sbbb", "andb", "subb", "xorb", "cmpb"};
constexpr const char* jcc[16] = {"jo", "jno", "jb", "jae", "je", "jne", "jbe", "ja",
                                 "js", "jns", "jp", "jnp", "jl", "jge", "jle", "jg"};
constexpr const char* setcc[16] = {"seto", "setno", "setb", "setae", "sete", "setne", "setbe", "seta",
                                   "sets", "setns", "setp", "setnp", "setl", "setge", "setle", "setg"};
constexpr const char* cmovcc[16] = {"cmovo", "cmovno", "cmovb", "cmovae", "cmove", "cmovne", "cmovbe", "cmova",
                                    "cmovs", "cmovns", "cmovp", "cmovnp", "cmovl", "cmovge", "cmovle", "cmovg"};

constexpr table256 make_distable()
{
    table256 t{};
    for (auto& r : t)
        r = none();
    for (int op = 0; op < 8; ++op) {
        const int b = op * 8;
        t[b + 0] = row(alub[op], OF_REG_RM);
        t[b + 1] = row(alu[op], OF_REG_RM, S);
        t[b + 2] = row(alub[op], OF_RM_REG);
        t[b + 3] = row(alu[op], OF_RM_REG, S);
        t[b + 4] = row(alub[op], OF_IMM_ACC);
        t[b + 5] = row(alu[op], OF_IMM_ACC, S);
    }
    t[0x06] = row("push", OF_SEG, S, R64_INVALID);
    t[0x07] = row("pop", OF_SEG, S, R64_INVALID);
    t[0x0e] = row("push", OF_SEG, S, R64_INVALID);
    t[0x0f] = link(T_0F);
    t[0x16] = row("push", OF_SEG, S, R64_INVALID);
    t[0x17] = row("pop", OF_SEG, S, R64_INVALID);
    t[0x1e] = row("push", OF_SEG, S, R64_INVALID);
    t[0x1f] = row("pop", OF_SEG, S, R64_INVALID);
    t[0x26] = row("%es:", OF_SEG_OVERRIDE);
    t[0x27] = row("daa", OF_PLAIN, 0, R64_INVALID);
    t[0x2e] = row("%cs:", OF_SEG_OVERRIDE);
    t[0x2f] = row("das", OF_PLAIN, 0, R64_INVALID);
    t[0x36] = row("%ss:", OF_SEG_OVERRIDE);
    t[0x37] = row("aaa", OF_PLAIN, 0, R64_INVALID);
    t[0x3e] = row("%ds:", OF_SEG_OVERRIDE);
    t[0x3f] = row("aas", OF_PLAIN, 0, R64_INVALID);
    for (int i = 0; i < 8; ++i) {
        t[0x40 + i] = row("inc", OF_OPREG, S, R64_REX);
        t[0x48 + i] = row("dec", OF_OPREG, S, R64_REX);
        t[0x50 + i] = row("push", OF_OPREG, S64);
        t[0x58 + i] = row("pop", OF_OPREG, S64);
    }
    t[0x60] = row("pusha", OF_PLAIN, S, R64_INVALID);
    t[0x61] = row("popa", OF_PLAIN, S, R64_INVALID);
    t[0x62] = row("bound", OF_MEM_REG, S, R64_INVALID);
    t[0x63] = row("arpl", OF_REG_RM, 0, R64_MOVSL);
    t[0x64] = row("%fs:", OF_SEG_OVERRIDE);
    t[0x65] = row("%gs:", OF_SEG_OVERRIDE);
    t[0x66] = row("data16", OF_DATA16);
    t[0x67] = row("addr16", OF_ADDR16);
    t[0x68] = row("push", OF_IMM, S64);
    t[0x69] = row("imul", OF_IMUL3, S);
    t[0x6a] = row("push", OF_IMM8, S64);
    t[0x6b] = row("imul", OF_IMUL3, S);
    t[0x6c] = row("insb", OF_PLAIN);
    t[0x6d] = row("ins", OF_PLAIN, S);
    t[0x6e] = row("outsb", OF_PLAIN);
    t[0x6f] = row("outs", OF_PLAIN, S);
    for (int i = 0; i < 16; ++i)
        t[0x70 + i] = row(jcc[i], OF_REL8);
    t[0x80] = link(T_80);
    t[0x81] = link(T_81);
    t[0x82] = link(T_82);
    t[0x83] = link(T_83);
    t[0x84] = row("testb", OF_RM_REG);
    t[0x85] = row("test", OF_RM_REG, S);
    t[0x86] = row("xchgb", OF_RM_REG);
    t[0x87] = row("xchg", OF_RM_REG, S);
    t[0x88] = row("movb", OF_REG_RM);
    t[0x89] = row("mov", OF_REG_RM, S);
    t[0x8a] = row("movb", OF_RM_REG);
    t[0x8b] = row("mov", OF_RM_REG, S);
    t[0x8c] = row("mov", OF_SREG_RM, S);
    t[0x8d] = row("lea", OF_MEM_REG, S);
    t[0x8e] = row("mov", OF_RM_SREG, S);
    t[0x8f] = row("pop", OF_MEM, S64);
    t[0x90] = row("nop", OF_PLAIN);
    for (int i = 1; i < 8; ++i)
        t[0x90 + i] = row("xchg", OF_OPREG_ACC, S);
    t[0x98] = row("", OF_CBW);
    t[0x99] = row("", OF_CWD);
    t[0x9a] = row("lcall", OF_FAR_IMM);
    t[0x9b] = row("wait/", OF_PREFIX);
    t[0x9c] = row("pushf", OF_PLAIN, S64);
    t[0x9d] = row("popf", OF_PLAIN, S64);
    t[0x9e] = row("sahf", OF_PLAIN);
    t[0x9f] = row("lahf", OF_PLAIN);
    t[0xa0] = row("movb", OF_MOFFS_ACC);
    t[0xa1] = row("mov", OF_MOFFS_ACC, S);
    t[0xa2] = row("movb", OF_ACC_MOFFS);
    t[0xa3] = row("mov", OF_ACC_MOFFS, S);
    t[0xa4] = row("movsb", OF_STR_SI_DI);
    t[0xa5] = row("movs", OF_STR_SI_DI, S);
    t[0xa6] = row("cmpsb", OF_STR_SI_DI);
    t[0xa7] = row("cmps", OF_STR_SI_DI, S);
    t[0xa8] = row("testb", OF_IMM_ACC);
    t[0xa9] = row("test", OF_IMM_ACC, S);
    t[0xaa] = row("stosb", OF_STR_REG_DI);
    t[0xab] = row("stos", OF_STR_REG_DI, S);
    t[0xac] = row("lodsb", OF_STR_SI_REG);
    t[0xad] = row("lods", OF_STR_SI_REG, S);
    t[0xae] = row("scasb", OF_STR_REG_DI);
    t[0xaf] = row("scas", OF_STR_REG_DI, S);
    for (int i = 0; i < 8; ++i) {
        t[0xb0 + i] = row("movb", OF_IMM_OPREG);
        t[0xb8 + i] = row("mov", OF_IMM_OPREG64, S);
    }
    t[0xc0] = link(T_C0);
    t[0xc1] = link(T_C1);
    t[0xc2] = row("ret", OF_RET_IMM);
    t[0xc3] = row("ret", OF_PLAIN);
    t[0xc4] = row("les", OF_MEM_REG, S, R64_INVALID);
    t[0xc5] = row("lds", OF_MEM_REG, S, R64_INVALID);
    t[0xc6] = row("movb", OF_IMM_RM);
    t[0xc7] = row("mov", OF_IMM_RM, S);
    t[0xc8] = row("enter", OF_ENTER);
    t[0xc9] = row("leave", OF_PLAIN);
    t[0xca] = row("lret", OF_RET_IMM);
    t[0xcb] = row("lret", OF_PLAIN);
    t[0xcc] = row("int", OF_INT3);
    t[0xcd] = row("int", OF_IMM8);
    t[0xce] = row("into", OF_PLAIN, 0, R64_INVALID);
    t[0xcf] = row("iret", OF_PLAIN);
    t[0xd0] = link(T_D0);
    t[0xd1] = link(T_D1);
    t[0xd2] = link(T_D2);
    t[0xd3] = link(T_D3);
    t[0xd4] = row("aam", OF_ASCII_ADJ, 0, R64_INVALID);
    t[0xd5] = row("aad", OF_ASCII_ADJ, 0, R64_INVALID);
    t[0xd6] = row("falc", OF_PLAIN);
    t[0xd7] = row("xlat", OF_PLAIN);
    for (int i = 0; i < 8; ++i)
        t[0xd8 + i] = link(T_FP);
    t[0xe0] = row("loopne", OF_REL8);
    t[0xe1] = row("loope", OF_REL8);
    t[0xe2] = row("loop", OF_REL8);
    t[0xe3] = row("jecxz", OF_REL8);
    t[0xe4] = row("inb", OF_IN_IMM);
    t[0xe5] = row("in", OF_IN_IMM, S);
    t[0xe6] = row("outb", OF_OUT_IMM);
    t[0xe7] = row("out", OF_OUT_IMM, S);
    t[0xe8] = row("call", OF_REL);
    t[0xe9] = row("jmp", OF_REL);
    t[0xea] = row("ljmp", OF_FAR_IMM);
    t[0xeb] = row("jmp", OF_REL8);
    t[0xec] = row("inb", OF_IN_DX);
    t[0xed] = row("in", OF_IN_DX, S);
    t[0xee] = row("outb", OF_OUT_DX);
    t[0xef] = row("out", OF_OUT_DX, S);
    t[0xf0] = row("lock/", OF_PREFIX);
    t[0xf2] = row("repnz/", OF_PREFIX);
    t[0xf3] = row("repz/", OF_PREFIX);
    t[0xf4] = row("hlt", OF_PLAIN);
    t[0xf5] = row("cmc", OF_PLAIN);
    t[0xf6] = link(T_F6);
    t[0xf7] = link(T_F7);
    t[0xf8] = row("clc", OF_PLAIN);
    t[0xf9] = row("stc", OF_PLAIN);
    t[0xfa] = row("cli", OF_PLAIN);
    t[0xfb] = row("sti", OF_PLAIN);
    t[0xfc] = row("cld", OF_PLAIN);
    t[0xfd] = row("std", OF_PLAIN);
    t[0xfe] = link(T_FE);
    t[0xff] = link(T_FF);
    return t;
}

constexpr table256 make_op0F()
{
    table256 t{};
    for (auto& r : t)
        r = none();
    t[0x00] = link(T_0F00);
    t[0x01] = link(T_0F01);
    t[0x02] = row("lar", OF_MEM_REG, S);
    t[0x03] = row("lsl", OF_MEM_REG, S);
    t[0x05] = row("", OF_NONE, 0, R64_SYSCALL);
    t[0x06] = row("clts", OF_PLAIN);
    t[0x07] = row("", OF_NONE, 0, R64_SYSRET);
    t[0x08] = row("invd", OF_PLAIN);
    t[0x09] = row("wbinvd", OF_PLAIN);
    t[0x0b] = row("ud2", OF_PLAIN);
    t[0x0d] = row("prefetch", OF_PREFETCH_3DNOW);
    t[0x0e] = row("femms", OF_PLAIN);
    t[0x0f] = link(T_0F0F);
    t[0x10] = row("mov", OF_SSE);
    t[0x11] = row("mov", OF_SSE_STORE);
    t[0x12] = row("mov", OF_SSE);
    t[0x13] = row("movl", OF_SSE_STORE);
    t[0x14] = row("unpckl", OF_SSE);
    t[0x15] = row("unpckh", OF_SSE);
    t[0x16] = row("mov", OF_SSE);
    t[0x17] = row("movh", OF_SSE_STORE);
    t[0x18] = row("prefetch", OF_PREFETCH);
    t[0x1f] = row("nop", OF_MEM, S);
    t[0x20] = row("mov", OF_SPECIAL_REG, S64);
    t[0x21] = row("mov", OF_SPECIAL_REG, S64);
    t[0x22] = row("mov", OF_SPECIAL_REG, S64);
    t[0x23] = row("mov", OF_SPECIAL_REG, S64);
    t[0x24] = row("mov", OF_SPECIAL_REG, S);
    t[0x26] = row("mov", OF_SPECIAL_REG, S);
    t[0x28] = row("mova", OF_SSE);
    t[0x29] = row("mova", OF_SSE_STORE);
    t[0x2a] = row("cvt", OF_SSE);
    t[0x2b] = row("movnt", OF_SSE_STORE);
    t[0x2c] = row("cvt", OF_SSE);
    t[0x2d] = row("cvt", OF_SSE);
    t[0x2e] = row("ucomi", OF_SSE);
    t[0x2f] = row("comi", OF_SSE);
    t[0x30] = row("wrmsr", OF_PLAIN);
    t[0x31] = row("rdtsc", OF_PLAIN);
    t[0x32] = row("rdmsr", OF_PLAIN);
    t[0x33] = row("rdpmc", OF_PLAIN);
    t[0x34] = row("sysenter", OF_PLAIN);
    t[0x35] = row("sysexit", OF_PLAIN);
    t[0x38] = link(T_0F38);
    t[0x3a] = link(T_0F3A);
    for (int i = 0; i < 16; ++i) {
        t[0x40 + i] = row(cmovcc[i], OF_RM_REG, S);
        t[0x80 + i] = row(jcc[i], OF_REL);
        t[0x90 + i] = row(setcc[i], OF_SETCC);
    }
    constexpr const char* sse5x[16] = {"movmsk", "sqrt", "rsqrt", "rcp", "and", "andn", "or", "xor",
                                       "add",    "mul",  "cvt",   "cvt", "sub", "min",  "div", "max"};
    for (int i = 0; i < 16; ++i)
        t[0x50 + i] = row(sse5x[i], OF_SSE);
    constexpr const char* mmx6x[16] = {"punpcklbw", "punpcklwd", "punpckldq", "packsswb", "pcmpgtb", "pcmpgtw",
                                       "pcmpgtd",   "packuswb",  "punpckhbw", "punpckhwd", "punpckhdq",
                                       "packssdw",  "punpckl",   "punpckh",   "movd",     "mov"};
    for (int i = 0; i < 16; ++i)
        t[0x60 + i] = row(mmx6x[i], OF_SSE);
    t[0x70] = row("pshu", OF_SSE_IMM);
    t[0x71] = row("ps", OF_SSE_SHIFT);
    t[0x72] = row("ps", OF_SSE_SHIFT);
    t[0x73] = row("ps", OF_SSE_SHIFT);
    t[0x74] = row("pcmpeqb", OF_SSE);
    t[0x75] = row("pcmpeqw", OF_SSE);
    t[0x76] = row("pcmpeqd", OF_SSE);
    t[0x77] = row("emms", OF_PLAIN);
    t[0x78] = row("vmread", OF_REG_RM, SF_DEFAULT64);
    t[0x79] = row("vmwrite", OF_RM_REG, SF_DEFAULT64);
    t[0x7c] = row("haddp", OF_SSE);
    t[0x7d] = row("hsubp", OF_SSE);
    t[0x7e] = row("mov", OF_SSE_MOVD_STORE);
    t[0x7f] = row("mov", OF_SSE_STORE);
    t[0xa0] = row("push", OF_SEG_FSGS, S64);
    t[0xa1] = row("pop", OF_SEG_FSGS, S64);
    t[0xa2] = row("cpuid", OF_PLAIN);
    t[0xa3] = row("bt", OF_REG_RM, S);
    t[0xa4] = row("shld", OF_SHLD_IMM, S);
    t[0xa5] = row("shld", OF_SHLD_CL, S);
    t[0xa8] = row("push", OF_SEG_FSGS, S64);
    t[0xa9] = row("pop", OF_SEG_FSGS, S64);
    t[0xaa] = row("rsm", OF_PLAIN, 0, R64_INVALID);
    t[0xab] = row("bts", OF_REG_RM, S);
    t[0xac] = row("shrd", OF_SHLD_IMM, S);
    t[0xad] = row("shrd", OF_SHLD_CL, S);
    t[0xae] = link(T_0FAE);
    t[0xaf] = row("imul", OF_RM_REG, S);
    t[0xb0] = row("cmpxchgb", OF_XADD);
    t[0xb1] = row("cmpxchg", OF_XADD, S);
    t[0xb2] = row("lss", OF_MEM_REG, S);
    t[0xb3] = row("btr", OF_REG_RM, S);
    t[0xb4] = row("lfs", OF_MEM_REG, S);
    t[0xb5] = row("lgs", OF_MEM_REG, S);
    t[0xb6] = row("movzb", OF_MOVX, S);
    t[0xb7] = row("movzwl", OF_MOVX);
    t[0xb8] = row("popcnt", OF_POPCNT, S);
    t[0xba] = link(T_0FBA);
    t[0xbb] = row("btc", OF_REG_RM, S);
    t[0xbc] = row("bsf", OF_RM_REG, S);
    t[0xbd] = row("bsr", OF_RM_REG, S);
    t[0xbe] = row("movsb", OF_MOVX, S);
    t[0xbf] = row("movswl", OF_MOVX);
    t[0xc0] = row("xaddb", OF_XADD);
    t[0xc1] = row("xadd", OF_XADD, S);
    t[0xc2] = row("cmp", OF_SSE_IMM);
    t[0xc3] = row("movnti", OF_REG_RM);
    t[0xc4] = row("pinsrw", OF_SSE_IMM);
    t[0xc5] = row("pextrw", OF_SSE_IMM);
    t[0xc6] = row("shuf", OF_SSE_IMM);
    t[0xc7] = row("cmpxchg8b", OF_MEM, S);
    for (int i = 0; i < 8; ++i)
        t[0xc8 + i] = row("bswap", OF_BSWAP);
    constexpr const char* dx[16] = {"addsubp", "psrlw", "psrld",  "psrlq",   "paddq",   "pmullw", "mov",   "pmovmskb",
                                    "psubusb", "psubusw", "pminub", "pand", "paddusb", "paddusw", "pmaxub", "pandn"};
    constexpr const char* ex[16] = {"pavgb",  "psraw",  "psrad", "pavgw", "pmulhuw", "pmulhw", "cvt",    "movn",
                                    "psubsb", "psubsw", "pminsw", "por",  "paddsb",  "paddsw", "pmaxsw", "pxor"};
    constexpr const char* fx[16] = {"lddqu", "psllw", "pslld", "psllq", "pmuludq", "pmaddwd", "psadbw", "maskmov",
                                    "psubb", "psubw", "psubd", "psubq", "paddb",   "paddw",   "paddd",  ""};
    for (int i = 0; i < 16; ++i) {
        t[0xd0 + i] = row(dx[i], OF_SSE);
        t[0xe0 + i] = row(ex[i], OF_SSE);
        t[0xf0 + i] = row(fx[i], OF_SSE);
    }
    t[0xd6] = row("mov", OF_SSE_STORE);
    t[0xe7] = row("movn", OF_SSE_STORE);
    t[0xff] = none();
    return t;
}

constexpr table256 make_op0F38()
{
    table256 t{};
    for (auto& r : t)
        r = none();
    constexpr const char* ssse3[12] = {"pshufb", "phaddw", "phaddd", "phaddsw", "pmaddubsw", "phsubw",
                                       "phsubd", "phsubsw", "psignb", "psignw", "psignd",    "pmulhrsw"};
    for (int i = 0; i < 12; ++i)
        t[i] = row(ssse3[i], OF_SSSE3);
    t[0x1c] = row("pabsb", OF_SSSE3);
    t[0x1d] = row("pabsw", OF_SSSE3);
    t[0x1e] = row("pabsd", OF_SSSE3);
    t[0x10] = row("pblendvb", OF_SSE4);
    t[0x14] = row("blendvps", OF_SSE4);
    t[0x15] = row("blendvpd", OF_SSE4);
    t[0x17] = row("ptest", OF_SSE4);
    constexpr const char* mov2x[6] = {"pmovsxbw", "pmovsxbd", "pmovsxbq", "pmovsxwd", "pmovsxwq", "pmovsxdq"};
    constexpr const char* mov3x[6] = {"pmovzxbw", "pmovzxbd", "pmovzxbq", "pmovzxwd", "pmovzxwq", "pmovzxdq"};
    for (int i = 0; i < 6; ++i) {
        t[0x20 + i] = row(mov2x[i], OF_SSE4);
        t[0x30 + i] = row(mov3x[i], OF_SSE4);
    }
    t[0x28] = row("pmuldq", OF_SSE4);
    t[0x29] = row("pcmpeqq", OF_SSE4);
    t[0x2a] = row("movntdqa", OF_SSE4);
    t[0x2b] = row("packusdw", OF_SSE4);
    t[0x37] = row("pcmpgtq", OF_SSE4);
    constexpr const char* minmax[8] = {"pminsb", "pminsd", "pminuw", "pminud", "pmaxsb", "pmaxsd", "pmaxuw", "pmaxud"};
    for (int i = 0; i < 8; ++i)
        t[0x38 + i] = row(minmax[i], OF_SSE4);
    t[0x40] = row("pmulld", OF_SSE4);
    t[0x41] = row("phminposuw", OF_SSE4);
    t[0xf0] = row("crc32b", OF_CRC32_BYTE);
    t[0xf1] = row("crc32", OF_CRC32, S);
    return t;
}

constexpr std::array<opcode_row, 112> make_op0F3A()
{
    std::array<opcode_row, 112> t{};
    for (auto& r : t)
        r = none();
    constexpr const char* round[7] = {"roundps", "roundpd", "roundss", "roundsd", "blendps", "blendpd", "pblendw"};
    for (int i = 0; i < 7; ++i)
        t[0x08 + i] = row(round[i], OF_SSE4_IMM);
    t[0x0f] = row("palignr", OF_SSSE3_IMM);
    t[0x14] = row("pextrb", OF_SSE4_EXTRACT);
    t[0x15] = row("pextrw", OF_SSE4_EXTRACT);
    t[0x16] = row("pextr", OF_SSE4_EXTRACT);
    t[0x17] = row("extractps", OF_SSE4_EXTRACT);
    t[0x20] = row("pinsrb", OF_SSE4_INSERT);
    t[0x21] = row("insertps", OF_SSE4_INSERT);
    t[0x22] = row("pinsr", OF_SSE4_INSERT);
    t[0x40] = row("dpps", OF_SSE4_IMM);
    t[0x41] = row("dppd", OF_SSE4_IMM);
    t[0x42] = row("mpsadbw", OF_SSE4_IMM);
    t[0x60] = row("pcmpestrm", OF_SSE4_IMM);
    t[0x61] = row("pcmpestri", OF_SSE4_IMM);
    t[0x62] = row("pcmpistrm", OF_SSE4_IMM);
    t[0x63] = row("pcmpistri", OF_SSE4_IMM);
    return t;
}

constexpr table256 make_op0F0F()
{
    table256 t{};
    for (auto& r : t)
        r = none();
    t[0x0c] = row("pi2fw", OF_3DNOW);
    t[0x0d] = row("pi2fd", OF_3DNOW);
    t[0x1c] = row("pf2iw", OF_3DNOW);
    t[0x1d] = row("pf2id", OF_3DNOW);
    t[0x8a] = row("pfnacc", OF_3DNOW);
    t[0x8e] = row("pfpnacc", OF_3DNOW);
    t[0x90] = row("pfcmpge", OF_3DNOW);
    t[0x94] = row("pfmin", OF_3DNOW);
    t[0x96] = row("pfrcp", OF_3DNOW);
    t[0x97] = row("pfrsqrt", OF_3DNOW);
    t[0x9a] = row("pfsub", OF_3DNOW);
    t[0x9e] = row("pfadd", OF_3DNOW);
    t[0xa0] = row("pfcmpgt", OF_3DNOW);
    t[0xa4] = row("pfmax", OF_3DNOW);
    t[0xa6] = row("pfrcpit1", OF_3DNOW);
    t[0xa7] = row("pfrsqit1", OF_3DNOW);
    t[0xaa] = row("pfsubr", OF_3DNOW);
    t[0xae] = row("pfacc", OF_3DNOW);
    t[0xb0] = row("pfcmpeq", OF_3DNOW);
    t[0xb4] = row("pfmul", OF_3DNOW);
    t[0xb6] = row("pfrcpit2", OF_3DNOW);
    t[0xb7] = row("pmulhrw", OF_3DNOW);
    t[0xbb] = row("pswapd", OF_3DNOW);
    t[0xbf] = row("pavgusb", OF_3DNOW);
    return t;
}

constexpr table8 group8(const char* const* names, operand_form form, uint8_t flags)
{
    table8 t{};
    for (int i = 0; i < 8; ++i)
        t[i] = names[i][0] != '\0' ? row(names[i], form, flags) : none();
    return t;
}

constexpr const char* shifts[8] = {"rol", "ror", "rcl", "rcr", "shl", "shr", "", "sar"};
constexpr const char* shiftsb[8] = {"rolb", "rorb", "rclb", "rcrb", "shlb", "shrb", "", "sarb"};

constexpr table8 make_op80()
{
    table8 t = group8(alub, OF_IMM_RM_GROUP, 0);
    t[1].form = t[4].form = t[6].form = OF_IMM_RM;
    return t;
}
constexpr table8 make_op81()
{
    table8 t = group8(alu, OF_IMM_RM_GROUP, S);
    t[1].form = t[4].form = t[6].form = OF_IMM_RM;
    return t;
}
constexpr table8 make_op82()
{
    table8 t = group8(alub, OF_IMM_RM_GROUP, 0);
    t[1] = t[4] = t[6] = none();
    return t;
}
constexpr table8 make_opF6(bool w)
{
    constexpr const char* b[8] = {"testb", "", "notb", "negb", "mulb", "imulb", "divb", "idivb"};
    constexpr const char* l[8] = {"test", "", "not", "neg", "mul", "imul", "div", "idiv"};
    table8 t = group8(w ? l : b, OF_RM_MULDIV, w ? S : 0);
    t[0].form = OF_IMM_RM;
    t[2].form = t[3].form = OF_RM_W;
    return t;
}
constexpr table8 make_opFE()
{
    table8 t{};
    for (auto& r : t)
        r = none();
    t[0] = row("incb", OF_RM_W);
    t[1] = row("decb", OF_RM_W);
    return t;
}
constexpr table8 make_opFF()
{
    table8 t{};
    t[0] = row("inc", OF_RM_W, S);
    t[1] = row("dec", OF_RM_W, S);
    t[2] = row("call", OF_INDIRECT, S64);
    t[3] = row("lcall", OF_FAR_INDIRECT);
    t[4] = row("jmp", OF_INDIRECT, S64);
    t[5] = row("ljmp", OF_FAR_INDIRECT);
    t[6] = row("push", OF_MEM, S64);
    t[7] = none();
    return t;
}
constexpr table8 make_op0F00()
{
    constexpr const char* n[8] = {"sldt", "str", "lldt", "ltr", "verr", "verw", "", ""};
    return group8(n, OF_MEM, 0);
}
constexpr table8 make_op0F01()
{
    constexpr const char* n[8] = {"sgdt", "sidt", "lgdt", "lidt", "smsw", "", "lmsw", "invlpg"};
    return group8(n, OF_MEM, S);
}
constexpr table8 make_op0FAE()
{
    table8 t{};
    t[0] = row("fxsave", OF_MEM);
    t[1] = row("fxrstor", OF_MEM);
    t[2] = row("ldmxcsr", OF_MEM);
    t[3] = row("stmxcsr", OF_MEM);
    t[4] = none();
    t[5] = row("lfence", OF_PLAIN);
    t[6] = row("mfence", OF_PLAIN);
    t[7] = row("clflush", OF_CLFLUSH);
    return t;
}
constexpr table8 make_op0FBA()
{
    constexpr const char* n[8] = {"", "", "", "", "bt", "bts", "btr", "btc"};
    return group8(n, OF_BT_IMM, S);
}

constexpr std::array<opcode_row, 64> make_opFP1n2()
{
    std::array<opcode_row, 64> t{};
    constexpr const char* n[64] = {
        "fadds",  "fmuls",    "fcoms",   "fcomps",  "fsubs",  "fsubrs",  "fdivs",   "fdivrs",   // D8
        "flds",   "",         "fsts",    "fstps",   "fldenv", "fldcw",   "fnstenv", "fnstcw",   // D9
        "fiaddl", "fimull",   "ficoml",  "ficompl", "fisubl", "fisubrl", "fidivl",  "fidivrl",  // DA
        "fildl",  "fisttpl",  "fistl",   "fistpl",  "",       "fldt",    "",        "fstpt",    // DB
        "faddl",  "fmull",    "fcoml",   "fcompl",  "fsubl",  "fsubrl",  "fdivl",   "fdivrl",   // DC
        "fldl",   "fisttpll", "fstl",    "fstpl",   "frstor", "",        "fnsave",  "fnstsw",   // DD
        "fiadds", "fimuls",   "ficoms",  "ficomps", "fisubs", "fisubrs", "fidivs",  "fidivrs",  // DE
        "filds",  "fisttps",  "fists",   "fistps",  "fbld",   "fildq",   "fbstp",   "fistpq",   // DF
    };
    for (int i = 0; i < 64; ++i)
        t[i] = n[i][0] != '\0' ? row(n[i], OF_MEM) : none();
    for (int i : {12, 13, 14, 15, 44, 46, 47})
        t[i].suffix_flags = S;
    t[24].form = OF_MEM_NOSUFFIX;
    t[27].form = OF_MEM_NOSUFFIX;
    return t;
}

constexpr std::array<opcode_row, 64> make_opFP3()
{
    std::array<opcode_row, 64> t{};
    for (auto& r : t)
        r = none();
    // D8: st(i),st
    constexpr const char* arith[8] = {"fadd", "fmul", "fcom", "fcomp", "fsub", "fsubr", "fdiv", "fdivr"};
    for (int i = 0; i < 8; ++i)
        t[i] = row(arith[i], i == 2 || i == 3 ? OF_FP_ST : OF_FP_ST2);
    // D9
    t[8 + 0] = row("fld", OF_FP_ST);
    t[8 + 1] = row("fxch", OF_FP_ST);
    t[8 + 2] = row("fnop", OF_PLAIN);
    // DA
    t[16 + 0] = row("fcmovb", OF_FP_ST2);
    t[16 + 1] = row("fcmove", OF_FP_ST2);
    t[16 + 2] = row("fcmovbe", OF_FP_ST2);
    t[16 + 3] = row("fcmovu", OF_FP_ST2);
    t[16 + 5] = row("fucompp", OF_PLAIN);
    // DB
    t[24 + 0] = row("fcmovnb", OF_FP_ST2);
    t[24 + 1] = row("fcmovne", OF_FP_ST2);
    t[24 + 2] = row("fcmovnbe", OF_FP_ST2);
    t[24 + 3] = row("fcmovnu", OF_FP_ST2);
    t[24 + 5] = row("fucomi", OF_FP_ST2);
    t[24 + 6] = row("fcomi", OF_FP_ST2);
    // DC: st,st(i); the AT&T names of the reversed pairs
    constexpr const char* dc[8] = {"fadd", "fmul", "", "", "fsub", "fsubr", "fdiv", "fdivr"};
    for (int i = 0; i < 8; ++i)
        if (dc[i][0] != '\0')
            t[32 + i] = row(dc[i], OF_FP_ST2);
    // DD
    t[40 + 0] = row("ffree", OF_FP_ST);
    t[40 + 2] = row("fst", OF_FP_ST);
    t[40 + 3] = row("fstp", OF_FP_ST);
    t[40 + 4] = row("fucom", OF_FP_ST);
    t[40 + 5] = row("fucomp", OF_FP_ST);
    // DE
    t[48 + 0] = row("faddp", OF_FP_ST2);
    t[48 + 1] = row("fmulp", OF_FP_ST2);
    t[48 + 3] = row("fcompp", OF_PLAIN);
    t[48 + 4] = row("fsubp", OF_FP_ST2);
    t[48 + 5] = row("fsubrp", OF_FP_ST2);
    t[48 + 6] = row("fdivp", OF_FP_ST2);
    t[48 + 7] = row("fdivrp", OF_FP_ST2);
    // DF
    t[56 + 0] = row("ffree", OF_FP_ST);
    t[56 + 4] = row("fnstsw", OF_MEM);
    t[56 + 5] = row("fucomip", OF_FP_ST2);
    t[56 + 6] = row("fcomip", OF_FP_ST2);
    return t;
}

constexpr std::array<opcode_row, 32> make_opFP4()
{
    std::array<opcode_row, 32> t{};
    constexpr const char* n[32] = {"fchs",  "fabs",   "",       "",       "ftst",    "fxam",   "",       "",
                                   "fld1",  "fldl2t", "fldl2e", "fldpi",  "fldlg2",  "fldln2", "fldz",   "",
                                   "f2xm1", "fyl2x",  "fptan",  "fpatan", "fxtract", "fprem1", "fdecstp", "fincstp",
                                   "fprem", "fyl2xp1", "fsqrt", "fsincos", "frndint", "fscale", "fsin",  "fcos"};
    for (int i = 0; i < 32; ++i)
        t[i] = n[i][0] != '\0' ? row(n[i], OF_PLAIN) : none();
    return t;
}

constexpr std::array<opcode_row, 8> make_opFP5()
{
    std::array<opcode_row, 8> t{};
    for (auto& r : t)
        r = none();
    t[2] = row("fnclex", OF_PLAIN);
    t[3] = row("fninit", OF_PLAIN);
    t[4] = row("fsetpm", OF_PLAIN);
    return t;
}

constexpr table8 op80 = make_op80();
constexpr table8 op81 = make_op81();
constexpr table8 op82 = make_op82();
constexpr table8 op83 = group8(alu, OF_IMM_RM_GROUP, S);
constexpr table8 opC0 = group8(shiftsb, OF_SHIFT_IMM, 0);
constexpr table8 opC1 = group8(shifts, OF_SHIFT_IMM, S);
constexpr table8 opD0 = group8(shiftsb, OF_SHIFT, 0);
constexpr table8 opD1 = group8(shifts, OF_SHIFT, S);
constexpr table8 opD2 = group8(shiftsb, OF_SHIFT, 0);
constexpr table8 opD3 = group8(shifts, OF_SHIFT, S);
constexpr table8 opF6 = make_opF6(false);
constexpr table8 opF7 = make_opF6(true);
constexpr table8 opFE = make_opFE();
constexpr table8 opFF = make_opFF();
constexpr table8 op0F00 = make_op0F00();
constexpr table8 op0F01 = make_op0F01();
constexpr table8 op0FAE = make_op0FAE();
constexpr table8 op0FBA = make_op0FBA();

constexpr opcode_row op_invalid_64 = none();
constexpr opcode_row opREX = row("", OF_REX);
constexpr opcode_row op_movsl = row("movsl", OF_MOVX, S);
constexpr opcode_row op_syscall = row("syscall", OF_PLAIN);
constexpr opcode_row op_sysret = row("sysret", OF_PLAIN);

} // namespace

extern constexpr std::array<opcode_row, 256> distable = make_distable();
extern constexpr std::array<opcode_row, 256> op0F = make_op0F();
extern constexpr std::array<opcode_row, 256> op0F38 = make_op0F38();
extern constexpr std::array<opcode_row, 112> op0F3A = make_op0F3A();
extern constexpr std::array<opcode_row, 256> op0F0F = make_op0F0F();
extern constexpr std::array<opcode_row, 64> opFP1n2 = make_opFP1n2();
extern constexpr std::array<opcode_row, 64> opFP3 = make_opFP3();
extern constexpr std::array<opcode_row, 32> opFP4 = make_opFP4();
extern constexpr std::array<opcode_row, 8> opFP5 = make_opFP5();
extern constexpr opcode_row op_monitor = row("monitor", OF_PLAIN);
extern constexpr opcode_row op_mwait = row("mwait", OF_PLAIN);
extern constexpr opcode_row op_swapgs = row("swapgs", OF_PLAIN);

const opcode_row* group_table(next_table t)
{
    switch (t) {
    case T_80: return op80.data();
    case T_81: return op81.data();
    case T_82: return op82.data();
    case T_83: return op83.data();
    case T_C0: return opC0.data();
    case T_C1: return opC1.data();
    case T_D0: return opD0.data();
    case T_D1: return opD1.data();
    case T_D2: return opD2.data();
    case T_D3: return opD3.data();
    case T_F6: return opF6.data();
    case T_F7: return opF7.data();
    case T_FE: return opFE.data();
    case T_FF: return opFF.data();
    case T_0F00: return op0F00.data();
    case T_0F01: return op0F01.data();
    case T_0FAE: return op0FAE.data();
    case T_0FBA: return op0FBA.data();
    case T_NONE:
    case T_0F:
    case T_0F38:
    case T_0F3A:
    case T_0F0F:
    case T_FP:
        return nullptr;
    }
    return nullptr;
}

const opcode_row& row_for_64(row64 r)
{
    switch (r) {
    case R64_NONE:
    case R64_INVALID: return op_invalid_64;
    case R64_REX: return opREX;
    case R64_MOVSL: return op_movsl;
    case R64_SYSCALL: return op_syscall;
    case R64_SYSRET: return op_sysret;
    }
    return op_invalid_64;
}

} // namespace i386
} // namespace macho
