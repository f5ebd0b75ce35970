// Table-driven checks of the big-endian disassemblers: hex bytes in, the
// printed text, the warnings and the length out; relocation entries built in
// the published bit layout; the Debian cross objdump as an oracle.
#pragma once

#include "disasm/disasm.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace disasm_test {

/// Bytes from hex digits; blanks are ignored ("4e75 0000").
inline std::vector<char> hex_bytes(const std::string& hex)
{
    std::vector<char> out;
    int hi = -1;
    for (char ch : hex) {
        int v;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else
            continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<char>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

/// What one call printed and returned.
struct Printed {
    std::string out;
    std::string err;
    uint32_t length;
};

/// Runs `call` (returning the length) with stdout and stderr captured.
template <typename Call>
Printed capture(Call call)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const uint32_t length = call();
    fflush(stdout);
    fflush(stderr);
    Printed p;
    p.out = testing::internal::GetCapturedStdout();
    p.err = testing::internal::GetCapturedStderr();
    p.length = length;
    return p;
}

/// A plain relocation entry (host order).
inline macho::relocation_info plain_reloc(uint32_t address, uint32_t symbolnum, bool is_extern, uint32_t type,
                                          uint32_t length = 2, bool pcrel = false)
{
    macho::relocation_info r;
    r.r_address = static_cast<int32_t>(address);
    r.r_info = (symbolnum & 0xffffff) | (pcrel ? 1u << 24 : 0) | ((length & 3) << 25) | (is_extern ? 1u << 27 : 0)
               | ((type & 0xf) << 28);
    return r;
}

/// A scattered relocation entry (host order).
inline macho::relocation_info scattered_reloc(uint32_t address, uint32_t type, uint32_t value, uint32_t length = 2,
                                              bool pcrel = false)
{
    macho::relocation_info r;
    r.r_address = static_cast<int32_t>(macho::R_SCATTERED | (pcrel ? 1u << 30 : 0) | ((length & 3) << 28)
                                       | ((type & 0xf) << 24) | (address & 0xffffff));
    r.r_info = value;
    return r;
}

/// A symbol table with names and the string table that holds them.
struct Symbols {
    std::vector<macho::nlist> table;
    std::string strings{std::string(1, '\0')};

    uint32_t add(const std::string& name, uint32_t value = 0)
    {
        macho::nlist n{};
        n.n_strx = static_cast<uint32_t>(strings.size());
        n.n_value = value;
        strings += name;
        strings += '\0';
        table.push_back(n);
        return static_cast<uint32_t>(table.size() - 1);
    }
};

/// Symbols 0 and 1 named `first` and `second`, and symbol 2 whose string
/// index lies past the string table.
inline Symbols symbols_with_bad_index(const char* first, const char* second)
{
    Symbols syms;
    syms.add(first);
    syms.add(second);
    macho::nlist bad{};
    bad.n_strx = 1000;
    syms.table.push_back(bad);
    return syms;
}

/// Output of a shell-free program run (argv), or "" when it cannot start.
std::string run_program(const std::vector<std::string>& argv);

/// Writes `bytes` to a new file in the test's temporary folder.
std::string write_temp(const std::string& name, const std::vector<char>& bytes);

/// True when the program is on PATH.
bool have_program(const std::string& name);

} // namespace disasm_test

namespace disasm_test {

/// One instruction line of an objdump listing: its address and text (the
/// continuation lines of long instructions are left out).
struct OracleLine {
    uint64_t addr;
    std::string text;
};

/// Runs objdump (argv) and parses its instruction lines.
std::vector<OracleLine> objdump_listing(const std::vector<std::string>& argv);

/// The bytes of `section` of an ELF object built by `build` (argv ending in
/// the object path `object`), through `objcopy`; empty when a step fails.
std::vector<char> build_section(const std::vector<std::string>& build, const std::string& object,
                                const std::string& objcopy, const std::string& section = ".text");

/// "hex bytes" → reason lines of an exception list; '#' starts a comment.
std::vector<std::pair<std::string, std::string>> load_exceptions(const std::string& path);

/// Lower-case hex of bytes, no blanks.
std::string to_hex(const char* p, size_t n);

/// An operand text reduced for comparison with another disassembler's:
/// the words, the punctuation, and each number with the widths it may have
/// been printed at.
struct Token {
    std::string text; // the word or punctuation; "N" for a number
    bool number = false;
    std::vector<uint64_t> values; // readings of a number
};
std::vector<Token> tokenize(const std::string& s, bool bare_hex);

/// True when both token lists agree, numbers compared modulo 2^8, 2^16 or
/// 2^32 (the widths our side's value can be read at).
bool same_tokens(const std::vector<Token>& ours, const std::vector<Token>& theirs);

} // namespace disasm_test

namespace disasm_test {

/// A big-endian MH_OBJECT around a code section: one unnamed segment with
/// (__TEXT,__text) and, when `stub_size` is set, (__TEXT,__symbol_stub) after
/// it, an LC_SYMTAB and an LC_DYSYMTAB with the stubs' indirect table.
struct Wrapper {
    struct Symbol {
        std::string name;
        uint8_t type;  // N_EXT 1, N_UNDF 0, N_SECT 0xe
        uint8_t sect;  // 1 __text, 2 __symbol_stub
        uint32_t value;
    };
    int32_t cputype = 0;
    std::vector<char> text;
    std::vector<macho::relocation_info> relocs; // host order, of __text
    std::vector<Symbol> symbols;
    uint32_t stub_size = 0;
    std::vector<char> stubs;       // at the address after __text
    std::vector<uint32_t> indirect; // one symbol index per stub
};

/// The file's bytes.
std::vector<char> build_wrapper(const Wrapper& w);

} // namespace disasm_test

namespace disasm_test {

/// Heap allocations between start and stop (false when the build's
/// sanitizers own the allocator).
bool allocation_counting_available();
void start_counting_allocations();
unsigned long stop_counting_allocations();

/// Runs `call` with standard output sent to /dev/null.
template <typename Call>
void quietly(Call call)
{
    fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    call();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
}

} // namespace disasm_test
