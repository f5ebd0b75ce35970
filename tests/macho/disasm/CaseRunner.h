// Runs one call of a disassembler on a byte array and hands back what it
// printed on each stream and the length it returned. The streams are
// captured by flushing and pointing descriptors 1 and 2 at memory files.
#pragma once

#include "disasm/disasm.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace disasm_test {

/// One disassembler call's inputs beyond the bytes.
struct call_input {
    std::vector<uint8_t> bytes;
    uint64_t left = UINT64_MAX; // UINT64_MAX: bytes.size()
    uint64_t addr = 0;
    uint64_t sect_addr = 0;
    int32_t cputype = 7;
    int verbose = 0;
    macho::byte_sex byte_order = macho::LITTLE_ENDIAN_BYTE_SEX;
    const macho::relocation_info* relocs = nullptr;
    uint32_t nrelocs = 0;
    const macho::nlist* symbols = nullptr;
    const macho::nlist_64* symbols64 = nullptr;
    uint32_t nsymbols = 0;
    const macho::sorted_symbol* sorted = nullptr;
    uint32_t nsorted = 0;
    const char* strings = nullptr;
    uint64_t strings_size = 0;
    const uint32_t* indirect = nullptr;
    uint32_t nindirect = 0;
    const macho::load_commands_view* load_commands = nullptr; // none: an empty area
    uint32_t ncmds = 0;
    uint32_t sizeofcmds = 0;
};

struct call_output {
    std::string out;
    std::string err;
    uint32_t length = 0;
};

/// Any `*_disassemble`, bound to the inputs.
using disassembler = std::function<uint32_t(const call_input&, const char* sect, uint64_t left,
                                            const macho::load_commands_view& lc)>;

/// The i386 and x86-64 disassembler.
disassembler i386();

/// Calls `d` once with stdout and stderr captured.
call_output run_case(const disassembler& d, const call_input& in);

/// Runs `f` with stdout and stderr captured; returns (stdout, stderr).
std::pair<std::string, std::string> capture(const std::function<void()>& f);

/// "55 89 e5" -> bytes.
std::vector<uint8_t> hex_bytes(const std::string& text);

} // namespace disasm_test
