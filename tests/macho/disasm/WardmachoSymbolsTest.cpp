// Symbolic operands through wardmacho: relocation entries, local and
// external names, and symbol stubs in objects llvm-mc, clang and ld64.lld
// made (tests/fixtures/disasm_fixtures.py).
#include "DriverRun.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace machotest;

namespace {

struct symbol_case {
    const char* file;
    const char* flags;
    const char* out;
};

TEST(X86Symbols, ThroughWardmacho)
{
    const std::vector<symbol_case> cases = {
        {"r.o", "-tvV",
         "(__TEXT,__text) section\n_f:\n00000000\tcall\t0x00000005\n00000005\tpopl\t%ebx\n"
         "00000006\tmovl\t_data-0x5(%ebx),%eax\n0000000c\tcall\t_ext\n00000011\tret\n"},
        {"r.o", "-tv",
         "(__TEXT,__text) section\n_f:\n00000000\tcall\t0x00000005\n00000005\tpopl\t%ebx\n"
         "00000006\tmovl\t0x0000000d(%ebx),%eax\n0000000c\tcall\t0x00000000\n00000011\tret\n"},
        // a global _data gives a SECTDIFF entry in place of the LOCAL_SECTDIFF
        {"r_globl.o", "-tvV",
         "(__TEXT,__text) section\n_f:\n00000000\tcall\t0x00000005\n00000005\tpopl\t%ebx\n"
         "00000006\tmovl\t_data-0x5(%ebx),%eax\n0000000c\tcall\t_ext\n00000011\tret\n"},
        {"st.o", "-tvV",
         "(__TEXT,__text) section\n_f:\n00000000\tcall\t0x0000000b\t; symbol stub for: _puts\n"
         "00000005\tcall\t0x00000010\t; symbol stub for: _ext\n0000000a\tret\n"},
        {"st64.o", "-tvV",
         "(__TEXT,__text) section\n_f:\n0000000000000000\tcall\t0x00000006\t; symbol stub for: _puts\n"
         "0000000000000005\tret\n"},
    };
    for (const symbol_case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.flags);
        const DriverResult r = runProgramStreams({WARDMACHO, c.flags, fixture(c.file)});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}

// A hand-made i386 object with malformed relocation lists: each operand's
// scan reports them by entry and goes on; nothing is read past the array.
TEST(X86Symbols, MalformedRelocationList)
{
    const DriverResult r = runProgramStreams({WARDMACHO, "-tvV", fixture("bad_relocs.o")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "(__TEXT,__text) section\n00000000\tmovl\t0x00000010(%eax),%eax\n"
                     "00000006\tmovl\t0x00000020(%eax),%eax\n0000000c\tret\n");
    const std::string once = "Stray GENERIC_RELOC_PAIR relocation entry 0\nUnknown relocation r_type for entry 1\n"
                             "No GENERIC_RELOC_PAIR relocation entry after entry 2\n";
    EXPECT_EQ(r.err, once + once);
    // without -V no entry is read
    const DriverResult plain = runProgramStreams({WARDMACHO, "-tv", fixture("bad_relocs.o")});
    EXPECT_EQ(plain.out, r.out);
    EXPECT_EQ(plain.err, "");
}

// The target and stub name of the first line holding `call` (a hexadecimal
// target after it) and then `note` and the name.
bool stub_call(const std::string& text, const std::string& call, const std::string& note, uint64_t* target,
               std::string* name)
{
    for (size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
        const size_t eol = text.find('\n', at);
        const std::string line = text.substr(at + call.size(), eol == std::string::npos ? eol : eol - at - call.size());
        const size_t n = line.find(note);
        if (n == std::string::npos)
            continue;
        *target = std::stoull(line.substr(0, n), nullptr, 16);
        *name = line.substr(n + note.size());
        return true;
    }
    return false;
}

// A linked x86-64 executable: the call to puts's stub lies above 4 GiB; its
// target and stub name are llvm-objdump's.
TEST(X86Symbols, StubAboveFourGiB)
{
    const std::string path = fixture("stub_x64.exe");
    const std::string ours = runProgram({WARDMACHO, "-tvV", path});
    const std::string theirs = runProgram({"/usr/bin/llvm-objdump", "--macho", "-d", path});
    uint64_t our_target = 0, their_target = 0;
    std::string our_stub, their_stub;
    ASSERT_TRUE(stub_call(ours, "\tcall\t0x", "\t; symbol stub for: ", &our_target, &our_stub)) << ours;
    ASSERT_TRUE(stub_call(theirs, "callq\t0x", " ## symbol stub for: ", &their_target, &their_stub)) << theirs;
    EXPECT_EQ(our_target, their_target);
    EXPECT_GT(our_target, 0xffffffffull);
    EXPECT_EQ(our_stub, their_stub);
    EXPECT_EQ(our_stub, "_puts");
}

} // namespace
