// One call of a big-endian disassembler that takes no indirect symbol table
// and no load commands (i860, m88k, HP-PA; the SPARC and PowerPC tests wrap
// theirs to this form): its arguments as a case sets them, and the word
// layout those cases are written in.
#pragma once

#include "BigEndianCases.h"

#include <cstdint>
#include <vector>

namespace disasm_test {

/// The arguments of one call besides the bytes.
struct Call {
    uint64_t addr = 0;
    uint64_t sect_addr = 0;
    int verbose = 0;
    std::vector<macho::relocation_info> relocs;
    const Symbols* syms = nullptr;
    const std::vector<macho::sorted_symbol>* sorted = nullptr;
    macho::byte_sex order = macho::BIG_ENDIAN_BYTE_SEX;
};

using plain_disassembler = uint32_t (*)(const char*, uint64_t, uint64_t, uint64_t, macho::byte_sex,
                                        const macho::relocation_info*, uint32_t, const macho::nlist*, uint32_t,
                                        const macho::sorted_symbol*, uint32_t, const char*, uint64_t, int);

/// Runs `disassemble` on the instruction at `at` (`left` bytes remain)
/// whose address is `addr`, with the output captured.
inline Printed call_at(plain_disassembler disassemble, const char* at, uint64_t left, uint64_t addr, const Call& k)
{
    return capture([&] {
        return disassemble(at, left, addr, k.sect_addr, k.order, k.relocs.empty() ? nullptr : k.relocs.data(),
                           static_cast<uint32_t>(k.relocs.size()), k.syms != nullptr ? k.syms->table.data() : nullptr,
                           k.syms != nullptr ? static_cast<uint32_t>(k.syms->table.size()) : 0,
                           k.sorted != nullptr ? k.sorted->data() : nullptr,
                           k.sorted != nullptr ? static_cast<uint32_t>(k.sorted->size()) : 0,
                           k.syms != nullptr ? k.syms->strings.data() : nullptr,
                           k.syms != nullptr ? k.syms->strings.size() : 0, k.verbose);
    });
}

/// Runs `disassemble` on `b` (`left` bytes of it, all by default) with
/// the output captured.
inline Printed plain_call(plain_disassembler disassemble, const std::vector<char>& b, const Call& k,
                          uint64_t left = UINT64_MAX)
{
    if (left == UINT64_MAX)
        left = b.size();
    return call_at(disassemble, b.data(), left, k.addr, k);
}

/// Runs `disassemble` on the instruction at `offset` of `section`, which
/// starts at `k.sect_addr`: its address is sect_addr + offset, and `left`
/// bytes remain (the rest of the section by default).
inline Printed section_call(plain_disassembler disassemble, const std::vector<char>& section, size_t offset,
                            const Call& k, uint64_t left = UINT64_MAX)
{
    if (left == UINT64_MAX)
        left = section.size() - offset;
    return call_at(disassemble, section.data() + offset, left, k.sect_addr + offset, k);
}

/// The four bytes of `word` in big-endian order.
inline std::vector<char> big_endian(uint32_t word)
{
    return {static_cast<char>(word >> 24), static_cast<char>(word >> 16), static_cast<char>(word >> 8),
            static_cast<char>(word)};
}

} // namespace disasm_test
