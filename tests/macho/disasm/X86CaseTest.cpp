// The i386 and x86-64 disassembler on single instructions: bytes in, the
// exact stdout, stderr and length out.
#include "CaseRunner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace disasm_test;

namespace {

constexpr int32_t I386 = 7;
constexpr int32_t X86_64 = 0x01000007;

struct x86_case {
    const char* bytes;
    int32_t cputype;
    uint64_t addr;
    const char* out;
    uint32_t length;
    uint64_t left = UINT64_MAX;
};

void check(const std::vector<x86_case>& cases)
{
    for (const x86_case& c : cases) {
        SCOPED_TRACE(std::string(c.cputype == I386 ? "i386 " : "x86-64 ") + c.bytes);
        call_input in;
        in.bytes = hex_bytes(c.bytes);
        in.cputype = c.cputype;
        in.addr = c.addr;
        in.left = c.left;
        const call_output r = run_case(i386(), in);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.length, c.length);
    }
}

// Prefixes, opcode maps, the x87 rule and undecodable bytes.
TEST(X86Decoder, OpcodesAndPrefixes)
{
    check({
        {"55", I386, 0, "pushl\t%ebp\n", 1},
        {"89 e5", I386, 0, "movl\t%esp,%ebp\n", 2},
        {"66 90", I386, 0, "nop\n", 2},
        {"f3 90", I386, 0, "pause\n", 2},
        {"f3 a4", I386, 0, "rep/movsb\t(%esi),(%edi)\n", 2},
        {"f3 a6", I386, 0, "repz/cmpsb\t(%esi),(%edi)\n", 2},
        {"f0 f3 a4", I386, 0, "lock/rep/movsb\t(%esi),(%edi)\n", 3},
        {"f2 ae", I386, 0, "repnz/scasb\t%al,(%edi)\n", 2},
        {"2e 74 05", I386, 0, "je,pn\t0x00000008\n", 3},
        {"3e 74 05", I386, 0, "je,pt\t0x00000008\n", 3},
        {"26 74 05", I386, 0, "je\t%es:0x00000008\n", 3},
        {"74 fe", I386, 0x10, "je\t0x00000010\n", 2},
        {"ff 10", I386, 0, "call\t(%eax)\n", 2},
        {"ff 50 08", I386, 0, "call\t*0x08(%eax)\n", 3},
        {"ff d0", I386, 0, "call\t*%eax\n", 2},
        {"ff 25 00 10 00 00", I386, 0, "jmp\t*0x00001000\n", 6},
        {"83 c0 ff", I386, 0, "addl\t$0xff,%eax\n", 3},
        {"66 83 c0 01", I386, 0, "addw\t$0x01,%ax\n", 4},
        {"81 c1 00 01 00 00", I386, 0, "addl\t$0x00000100,%ecx\n", 6},
        {"80 f1 01", I386, 0, "xorb\t$0x01,%cl\n", 3},
        {"db f8", I386, 0, ".byte 0xdb, 0x00 0xf8 #bad opcode\n", 2},
        {"48", I386, 0, "decl\t%eax\n", 1},
        {"0f 0f c1 01", I386, 0, ".byte 0x01 #bad opcode\n", 4},
        {"0f 0f c1 9e", I386, 0, "pfadd\t%mm1,%mm0\n", 4},
        {"0f 3a 70", I386, 0, ".byte 0x70 #bad opcode\n", 3},
        {"0f 04", I386, 0, ".byte 0x04 #bad opcode\n", 2},
        {"fe 10", I386, 0, ".byte 0x10 #bad opcode\n", 2},
        {"f1", I386, 0, ".byte 0xf1 #bad opcode\n", 1},
        {"", I386, 0, "(end of section)\n", 0},
        {"e8 00 00 00 00", I386, 0x10, "call\t0x00000015\n", 5},
        {"e9 fb ff ff ff", I386, 0, "jmp\t0x00000000\n", 5},
        {"c3", I386, 0, "ret\n", 1},
        {"c2 08 00", I386, 0, "ret\t$0x0008\n", 3},
        {"cc", I386, 0, "int\t$0x3\n", 1},
        {"cd 80", I386, 0, "int\t$0x80\n", 2},
        {"98", I386, 0, "cwtl\n", 1},
        {"66 98", I386, 0, "cbtw\n", 2},
        {"99", I386, 0, "cltd\n", 1},
        {"e4 10", I386, 0, "inb\t$0x10,%eax\n", 2},
        {"d3 e0", I386, 0, "shll\t%cl,%eax\n", 2},
        {"c1 e0 04", I386, 0, "shll\t$0x04,%eax\n", 3},
        {"0f b6 c1", I386, 0, "movzbl\t%cl,%eax\n", 3},
        {"0f b7 c1", I386, 0, "movzwl\t%cx,%eax\n", 3},
        {"0f af c1", I386, 0, "imull\t%ecx,%eax\n", 3},
        {"6b c0 0c", I386, 0, "imull\t$0x0c,%eax,%eax\n", 3},
        {"0f a4 c1 04", I386, 0, "shldl\t$0x04,%eax,%ecx\n", 4},
        {"0f c8", I386, 0, "bswap\t%eax\n", 2},
        {"0f 94 c0", I386, 0, "sete\t%al\n", 3},
        {"c8 10 00 01", I386, 0, "enter\t$0x0010,$0x01\n", 4},
        {"d9 e8", I386, 0, "fld1\n", 2},
        {"d9 c1", I386, 0, "fld\t%st(1)\n", 2},
        {"dc c1", I386, 0, "fadd\t%st,%st(1)\n", 2},
        {"d8 c1", I386, 0, "fadd\t%st(1),%st\n", 2},
        {"dd 00", I386, 0, "fldl\t(%eax)\n", 2},
        {"db 00", I386, 0, "fildl\t(%eax)\n", 2},
        {"db e3", I386, 0, "fninit\n", 2},
        {"9b db e3", I386, 0, "wait/fninit\n", 3},
        {"0f ae f8", I386, 0, "sfence\n", 3},
        {"0f ae 38", I386, 0, "clflush\t(%eax)\n", 3},
        {"8c d8", I386, 0, "movl\t%ds,%eax\n", 2},
        {"0f 20 c0", I386, 0, "movl\t%cr0,%eax\n", 3},
        {"a1 00 10 00 00", I386, 0, "movl\t0x00001000,%eax\n", 5},
        {"64 a1 00 00 00 00", I386, 0, "movl\t%fs:0x00000000,%eax\n", 6},
    });
}

// 64-bit code: REX, RIP-relative operands, default 64-bit operands.
TEST(X86Decoder, LongMode)
{
    check({
        {"50", X86_64, 0, "pushq\t%rax\n", 1},
        {"41 57", X86_64, 0, "pushq\t%r15\n", 2},
        {"06", X86_64, 0, ".byte 0x06 #bad opcode\n", 1},
        {"48 b8 88 77 66 55 44 33 22 11", X86_64, 0, "movq\t$0x1122334455667788,%rax\n", 10},
        {"8b 05 00 00 00 00", X86_64, 0, "movl\t0x00000000(%rip),%eax\n", 6},
        {"41 8b 00", X86_64, 0, "movl\t(%r8),%eax\n", 3},
        {"44 0f 58 c1", X86_64, 0, "addps\t%xmm1,%xmm8\n", 4},
        {"66 48 0f 3a 16 c0 01", X86_64, 0, "pextrq\t$0x1,%xmm0,%rax\n", 7},
        {"48 0f c7 08", X86_64, 0, "cmpxchg8bq\t(%rax)\n", 4},
        {"48 89 e5", X86_64, 0, "movq\t%rsp,%rbp\n", 3},
        {"4c 8d 04 8d 00 00 00 00", X86_64, 0, "leaq\t0x00000000(,%rcx,4),%r8\n", 8},
        {"4a 8b 04 e0", X86_64, 0, "movq\t(%rax,%r12,8),%rax\n", 4},
        {"48 63 c1", X86_64, 0, "movslq\t%ecx,%rax\n", 3},
        {"ff d0", X86_64, 0, "call\t*%rax\n", 2},
        {"0f 05", X86_64, 0, "syscall\n", 2},
        {"0f 01 f8", X86_64, 0, "swapgs\n", 3},
        {"c3", X86_64, 0, "ret\n", 1},
        // the target is formed in 64-bit code too
        {"e8 00 00 00 00", X86_64, 0x10, "call\t0x00000015\n", 5},
        {"e8 fb ff ff ff", X86_64, 0x100000000ull, "call\t0x100000000\n", 5},
        {"eb fe", X86_64, 0x100000000ull, "jmp\t0x100000000\n", 2},
        // kept: the accumulator forms name %eax; REX byte registers 4-7; 67 ignores REX.B
        {"48 05 01 00 00 00", X86_64, 0, "addq\t$0x00000001,%eax\n", 6},
        {"40 88 c4", X86_64, 0, "movb\t%al,%ah\n", 3},
        {"67 41 8b 00", X86_64, 0, "movl\t(%eax),%eax\n", 4},
        {"a1 88 77 66 55 44 33 22 11", X86_64, 0, "movabsl\t0x1122334455667788,%eax\n", 9},
        {"67 a1 00 10 00 00", X86_64, 0, "movabsl\t0x00001000,%eax\n", 6},
        {"f3 a4", X86_64, 0, "rep/movsb\t(%esi),(%edi)\n", 2},
    });
}

// Operands: ModR/M, SIB, displacements, immediates, the byte reader's limit.
TEST(X86Operands, MemoryAndImmediates)
{
    check({
        {"8b 45 fc", I386, 0, "movl\t0xfc(%ebp),%eax\n", 3},
        {"8b 04 25 00 10 00 00", I386, 0, "movl\t0x00001000,%eax\n", 7},
        {"8b 04 8d 00 10 00 00", I386, 0, "movl\t0x00001000(,%ecx,4),%eax\n", 7},
        {"8b 04 24", I386, 0, "movl\t(%esp),%eax\n", 3},
        {"8b 44 8b 04", I386, 0, "movl\t0x04(%ebx,%ecx,4),%eax\n", 4},
        {"8b 04 0b", I386, 0, "movl\t(%ebx,%ecx),%eax\n", 3},
        {"8b 05 00 10 00 00", I386, 0, "movl\t0x00001000,%eax\n", 6},
        {"66 8b c1", I386, 0, "movw\t%cx,%ax\n", 3},
        {"67 8b 07", I386, 0, "movl\t(%bx),%eax\n", 3},
        {"67 8b 06 34 12", I386, 0, "movl\t0x1234,%eax\n", 5},
        {"67 8b 00", I386, 0, "movl\t(%bx,%si),%eax\n", 3},
        {"b8 01 02", I386, 0, "movl\t$0x00000201,%eax\n", 3, 3},
        {"8b 45", I386, 0, "movl\t0x00(%ebp),%eax\n", 2, 2},
        {"c7 00 01 00 00 00", I386, 0, "movl\t$0x00000001,(%eax)\n", 6},
        {"c6 40 04 07", I386, 0, "movb\t$0x07,0x04(%eax)\n", 4},
        {"65 8b 00", I386, 0, "movl\t%gs:(%eax),%eax\n", 3},
    });
}

// The MMX, SSE and SSE4 forms chosen by the last prefix byte.
TEST(X86Vector, PrefixChosenForms)
{
    check({
        {"66 0f 58 c1", I386, 0, "addpd\t%xmm1,%xmm0\n", 4},
        {"f2 0f 10 c1", I386, 0, "movsd\t%xmm1,%xmm0\n", 4},
        {"f3 0f 10 c1", I386, 0, "movss\t%xmm1,%xmm0\n", 4},
        {"0f 10 c1", I386, 0, "movups\t%xmm1,%xmm0\n", 3},
        {"0f 6f c1", I386, 0, "movq\t%mm1,%mm0\n", 3},
        {"66 0f 6f c1", I386, 0, "movdqa\t%xmm1,%xmm0\n", 4},
        {"f3 0f 7e c1", I386, 0, "movq\t%xmm1,%xmm0\n", 4},
        {"66 0f 7e c0", I386, 0, "movd\t%xmm0,%eax\n", 4},
        {"0f 7e c0", I386, 0, "movd\t%mm0,%eax\n", 3},
        {"0f 73 d1 04", I386, 0, "psrlq\t$0x4,%mm1\n", 4},
        {"66 0f 73 d9 04", I386, 0, "psrldq\t$0x4,%xmm1\n", 5},
        {"66 0f 3a 16 c0 01", I386, 0, "pextrd\t$0x1,%xmm0,%eax\n", 6},
        {"66 0f 3a 22 c0 01", I386, 0, "pinsrd\t$0x1,%eax,%xmm0\n", 6},
        {"0f 12 c1", I386, 0, "movhlps\t%xmm1,%xmm0\n", 3},
        {"0f 12 00", I386, 0, "movlps\t(%eax),%xmm0\n", 3},
        {"0f 16 c1", I386, 0, "movlhps\t%xmm1,%xmm0\n", 3},
        {"f2 0f 12 c1", I386, 0, "movddup\t%xmm1,%xmm0\n", 4},
        {"0f 6c c1", I386, 0, "\t%xmm1,%xmm0\n", 3},
        {"66 0f 6c c1", I386, 0, "punpcklqdq\t%xmm1,%xmm0\n", 4},
        {"0f fe c1", I386, 0, "paddd\t%mm1,%mm0\n", 3},
        {"66 0f fe c1", I386, 0, "paddd\t%xmm1,%xmm0\n", 4},
        {"f2 0f 2a c0", I386, 0, "cvtsi2sd\t%eax,%xmm0\n", 4},
        {"f2 0f 2c c1", I386, 0, "cvttsd2si\t%xmm1,%eax\n", 4},
        {"66 0f 2e c1", I386, 0, "ucomisd\t%xmm1,%xmm0\n", 4},
        {"0f 11 08", I386, 0, "movups\t%xmm1,(%eax)\n", 3},
        {"66 0f 7f 08", I386, 0, "movdqa\t%xmm1,(%eax)\n", 4},
        {"66 0f d6 c1", I386, 0, "movq\t%xmm0,%xmm1\n", 4},
        {"0f d6 c1", I386, 0, "\t%xmm0,%cl\n", 3},
        {"0f 7f c1", I386, 0, "movq\t%mm0,%mm1\n", 3},
        {"f3 0f 7f 08", I386, 0, "movdqu\t%xmm1,(%eax)\n", 4},
        {"0f 29 08", I386, 0, "movaps\t%xmm1,(%eax)\n", 3},
        {"f3 0f 11 08", I386, 0, "movss\t%xmm1,(%eax)\n", 4},
        {"66 0f 17 08", I386, 0, "movhpd\t%xmm1,(%eax)\n", 4},
        {"66 0f e7 08", I386, 0, "movntdq\t%xmm1,(%eax)\n", 4},
        {"0f e7 08", I386, 0, "movntq\t%mm1,(%eax)\n", 3},
        {"f2 0f d6 c1", I386, 0, "movdq2q\t%xmm1,%mm0\n", 4},
        {"f3 0f d6 c1", I386, 0, "movq2dq\t%mm1,%xmm0\n", 4},
        {"66 0f d7 c1", I386, 0, "pmovmskb\t%xmm1,%eax\n", 4},
        {"66 0f 70 c1 1b", I386, 0, "pshufd\t$0x1b,%xmm1,%xmm0\n", 5},
        {"0f 70 c1 1b", I386, 0, "pshufw\t$0x1b,%mm1,%mm0\n", 4},
        {"0f c6 c1 01", I386, 0, "shufps\t$0x1,%xmm1,%xmm0\n", 4},
        {"66 0f c5 c1 02", I386, 0, "pextrw\t$0x2,%xmm1,%eax\n", 5},
        {"66 0f 38 00 c1", I386, 0, "pshufb\t%xmm1,%xmm0\n", 5},
        {"0f 38 00 c1", I386, 0, "pshufb\t%mm1,%mm0\n", 4},
        {"66 0f 38 29 c1", I386, 0, "pcmpeqq\t%xmm1,%xmm0\n", 5},
        {"66 0f 3a 63 c1 0c", I386, 0, "pcmpistri\t$0xc,%xmm1,%xmm0\n", 6},
        {"66 0f 3a 0f c1 04", I386, 0, "palignr\t$0x4,%xmm1,%xmm0\n", 6},
        {"f2 0f 38 f1 c1", I386, 0, "crc32l\t%ecx,%eax\n", 5},
        {"f2 0f 38 f0 c1", I386, 0, "crc32b\t%cl,%eax\n", 5},
        {"f3 0f b8 c1", I386, 0, "popcntl\t%ecx,%eax\n", 4},
        {"66 45 0f 58 c1", X86_64, 0, "addpd\t%xmm9,%xmm8\n", 5},
    });
}

// The VMX rule and the mnemonics longer than a stem field.
TEST(X86Vector, VmxAndLongNames)
{
    check({
        {"0f 01 c1", I386, 0, "vmcall\n", 3},
        {"0f 01 c2", I386, 0, "vmlaunch\n", 3},
        {"0f 01 c4", I386, 0, "vmxoff\n", 3},
        {"66 0f c7 30", I386, 0, "vmclear\t(%eax)\n", 4},
        {"f3 0f c7 30", I386, 0, "vmxon\t(%eax)\n", 4},
        {"0f c7 30", I386, 0, "vmptrld\t(%eax)\n", 3},
        {"0f c7 38", I386, 0, "vmptrst\t(%eax)\n", 3},
        {"0f c7 08", I386, 0, "cmpxchg8bl\t(%eax)\n", 3},
        {"0f 18 00", I386, 0, "prefetchntal\t(%eax)\n", 3},
        {"66 0f 18 00", I386, 0, "prefetchntaw\t(%eax)\n", 4},
        {"0f 18 08", I386, 0, "prefetcht0l\t(%eax)\n", 3},
        {"0f 0d 08", I386, 0, "prefetchw\t(%eax)\n", 3},
        {"0f 01 c8", I386, 0, "monitor\n", 3},
        {"0f 01 c9", I386, 0, "mwait\n", 3},
        {"0f 01 38", I386, 0, "invlpgl\t(%eax)\n", 3},
        {"48 0f c7 08", X86_64, 0, "cmpxchg8bq\t(%rax)\n", 4},
    });
}

} // namespace

namespace {

using macho::relocation_info;

constexpr uint32_t scattered(uint32_t type, uint32_t address)
{
    return macho::R_SCATTERED | (type << 24) | address;
}

relocation_info sreloc(uint32_t type, uint32_t address, uint32_t value)
{
    return relocation_info{static_cast<int32_t>(scattered(type, address)), value};
}

// A plain external 4-byte entry for symbol `symnum`.
relocation_info extern_reloc(uint32_t address, uint32_t symnum, bool pcrel)
{
    return relocation_info{static_cast<int32_t>(address), symnum | (pcrel ? 1u << 24 : 0) | (2u << 25) | (1u << 27)};
}

struct reloc_case {
    const char* name;
    const char* bytes;
    uint64_t addr;
    std::vector<relocation_info> relocs;
    std::vector<macho::sorted_symbol> sorted;
    const char* out;
    const char* err;
};

// Symbolic operands from relocation entries and the sorted symbols (i386,
// verbose on); malformed lists are reported by entry and the scan goes on.
TEST(X86Operands, RelocationEntries)
{
    const std::vector<reloc_case> cases = {
        {"stray pair", "8b 80 10 00 00 00", 0, {sreloc(macho::GENERIC_RELOC_PAIR, 0x100, 0)}, {},
         "movl\t0x00000010(%eax),%eax\n", "Stray GENERIC_RELOC_PAIR relocation entry 0\n"},
        {"sectdiff last", "8b 80 10 00 00 00", 0,
         {extern_reloc(0x40, 0, false), sreloc(macho::GENERIC_RELOC_SECTDIFF, 2, 0x10)}, {},
         "movl\t0x00000010(%eax),%eax\n", "No GENERIC_RELOC_PAIR relocation entry after entry 1\n"},
        {"sectdiff without pair", "8b 80 10 00 00 00", 0,
         {sreloc(macho::GENERIC_RELOC_LOCAL_SECTDIFF, 2, 0x10), extern_reloc(0x40, 0, false)}, {},
         "movl\t0x00000010(%eax),%eax\n", "No GENERIC_RELOC_PAIR relocation entry after entry 0\n"},
        {"unknown type", "8b 80 10 00 00 00", 0, {sreloc(macho::GENERIC_RELOC_PB_LA_PTR, 2, 0x10)}, {},
         "movl\t0x00000010(%eax),%eax\n", "Unknown relocation r_type for entry 0\n"},
        {"local sectdiff", "8b 83 0d 00 00 00", 6,
         {sreloc(macho::GENERIC_RELOC_LOCAL_SECTDIFF, 8, 0x12), sreloc(macho::GENERIC_RELOC_PAIR, 0, 0x5)},
         {{"_data", 0x12}}, "movl\t_data-0x5(%ebx),%eax\n", ""},
        {"sectdiff with offset", "8b 83 11 00 00 00", 6,
         {sreloc(macho::GENERIC_RELOC_SECTDIFF, 8, 0x12), sreloc(macho::GENERIC_RELOC_PAIR, 0, 0x5)},
         {{"_f", 0x5}, {"_data", 0x12}}, "movl\t_data-_f+0x00000004(%ebx),%eax\n", ""},
        {"sectdiff without names", "8b 83 0d 00 00 00", 6,
         {sreloc(macho::GENERIC_RELOC_SECTDIFF, 8, 0x12), sreloc(macho::GENERIC_RELOC_PAIR, 0, 0x5)}, {},
         "movl\t0x12-0x5(%ebx),%eax\n", ""},
        {"pair skipped with its entry", "8b 83 0d 00 00 00", 6,
         {sreloc(macho::GENERIC_RELOC_SECTDIFF, 0x30, 0x12), sreloc(macho::GENERIC_RELOC_PAIR, 0, 0x5)}, {},
         "movl\t0x0000000d(%ebx),%eax\n", ""},
        {"scattered vanilla", "b8 20 00 00 00", 0, {sreloc(macho::GENERIC_RELOC_VANILLA, 1, 0x18)},
         {{"_x", 0x18}}, "movl\t$_x+0x00000008,%eax\n", ""},
        {"address named by the symbols", "a1 00 10 00 00", 0, {}, {{"_g", 0x1000}}, "movl\t_g,%eax\n", ""},
        {"plain non-external ends the scan", "e8 0b 00 00 00", 0,
         {relocation_info{1, 1u | (1u << 24) | (2u << 25)}, sreloc(macho::GENERIC_RELOC_PB_LA_PTR, 9, 0)},
         {{"_t", 0x10}}, "call\t_t\n", ""},
    };
    for (const reloc_case& c : cases) {
        SCOPED_TRACE(c.name);
        call_input in;
        in.bytes = hex_bytes(c.bytes);
        in.addr = c.addr;
        in.verbose = 1;
        // exactly sized, so a look-ahead past the last entry is caught under AddressSanitizer
        std::vector<relocation_info> relocs(c.relocs);
        in.relocs = relocs.empty() ? nullptr : relocs.data();
        in.nrelocs = static_cast<uint32_t>(relocs.size());
        in.sorted = c.sorted.empty() ? nullptr : c.sorted.data();
        in.nsorted = static_cast<uint32_t>(c.sorted.size());
        const call_output r = run_case(i386(), in);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

// An external entry names the operand from the string table; a name that
// runs to the table's end without a NUL stops there.
TEST(X86Operands, ExternalNames)
{
    const char table[] = {'\0', '_', 'e', 'x', 't'};
    std::vector<char> strings(table, table + sizeof table);
    const macho::nlist syms[2] = {{1, 0x01, 0, 0, 0}, {7, 0x01, 0, 0, 0}};
    for (const auto& c : std::vector<std::pair<uint32_t, const char*>>{{0, "call\t_ext\n"},
                                                                        {1, "call\t0x00000000\n"}}) {
        SCOPED_TRACE(c.second);
        relocation_info rel = extern_reloc(1, c.first, true);
        call_input in;
        in.bytes = hex_bytes("e8 fb ff ff ff");
        in.verbose = 1;
        in.relocs = &rel;
        in.nrelocs = 1;
        in.symbols = syms;
        in.nsymbols = 2;
        in.strings = strings.data();
        in.strings_size = strings.size();
        EXPECT_EQ(run_case(i386(), in).out, c.second);
    }
    // x86-64: the entry names the symbol and the displacement is its addend
    const std::vector<char> strings64 = {'\0', '_', 'p', 'u', 't', 's', '\0'};
    const macho::nlist_64 syms64[1] = {{1, 0x01, 0, 0, 0}};
    relocation_info rel = extern_reloc(1, 0, true);
    call_input in;
    in.bytes = hex_bytes("e8 00 00 00 00");
    in.cputype = X86_64;
    in.addr = 0x20;
    in.sect_addr = 0x20;
    in.verbose = 1;
    in.relocs = &rel;
    in.nrelocs = 1;
    in.symbols64 = syms64;
    in.nsymbols = 1;
    in.strings = strings64.data();
    in.strings_size = strings64.size();
    EXPECT_EQ(run_case(i386(), in).out, "call\t_puts\n");
}

// Without verbose no relocation entry or symbol is consulted.
TEST(X86Operands, NotVerboseReadsNoEntry)
{
    call_input in;
    in.bytes = hex_bytes("e8 00 00 00 00");
    in.relocs = reinterpret_cast<const relocation_info*>(uintptr_t{16}); // never touched
    in.nrelocs = 1000;
    in.sorted = reinterpret_cast<const macho::sorted_symbol*>(uintptr_t{16});
    in.nsorted = 1000;
    const call_output r = run_case(i386(), in);
    EXPECT_EQ(r.out, "call\t0x00000005\n");
    EXPECT_EQ(r.err, "");
}

} // namespace
