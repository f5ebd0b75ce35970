// Helpers the big-endian families' tests share: words as bytes and back,
// one call of the disassemblers that take the short argument list (m88k,
// HP-PA, i860), wardmacho's instruction lines, and cached patterns for the
// oracle normalisers. Each test program defines WARDMACHO.
#pragma once

#include "BigEndianCases.h"

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace disasm_test {

/// The four bytes of `word`, most significant first.
inline std::vector<char> big_endian(uint32_t word)
{
    return {static_cast<char>(word >> 24), static_cast<char>(word >> 16), static_cast<char>(word >> 8),
            static_cast<char>(word)};
}

/// The big-endian word at `off`.
inline uint32_t word_at(const std::vector<char>& bin, size_t off)
{
    return (uint32_t(uint8_t(bin[off])) << 24) | (uint32_t(uint8_t(bin[off + 1])) << 16)
           | (uint32_t(uint8_t(bin[off + 2])) << 8) | uint8_t(bin[off + 3]);
}

/// What a call passes beside the bytes.
struct ShortCall {
    uint64_t addr = 0;
    uint64_t sect_addr = 0;
    int verbose = 0;
    std::vector<macho::relocation_info> relocs;
    const Symbols* syms = nullptr;
    const std::vector<macho::sorted_symbol>* sorted = nullptr;
    macho::byte_sex order = macho::BIG_ENDIAN_BYTE_SEX;
};

using short_disassembler = uint32_t (*)(const char*, uint64_t, uint64_t, uint64_t, macho::byte_sex,
                                        const macho::relocation_info*, uint32_t, const macho::nlist*, uint32_t,
                                        const macho::sorted_symbol*, uint32_t, const char*, uint64_t, int);

/// One instruction of `b` through `disassemble`, its output captured;
/// `left` defaults to the whole buffer.
inline Printed run_short(short_disassembler disassemble, const std::vector<char>& b, const ShortCall& k,
                         uint64_t left = UINT64_MAX)
{
    if (left == UINT64_MAX)
        left = b.size();
    return capture([&] {
        return disassemble(b.data(), left, k.addr, k.sect_addr, k.order,
                           k.relocs.empty() ? nullptr : k.relocs.data(), static_cast<uint32_t>(k.relocs.size()),
                           k.syms != nullptr ? k.syms->table.data() : nullptr,
                           k.syms != nullptr ? static_cast<uint32_t>(k.syms->table.size()) : 0,
                           k.sorted != nullptr ? k.sorted->data() : nullptr,
                           k.sorted != nullptr ? static_cast<uint32_t>(k.sorted->size()) : 0,
                           k.syms != nullptr ? k.syms->strings.data() : nullptr,
                           k.syms != nullptr ? k.syms->strings.size() : 0, k.verbose);
    });
}

/// One word at `addr` and the text it prints; no warning, 4 bytes.
struct WordCase {
    uint32_t word;
    const char* text;
    uint64_t addr;
};

inline void run_word_cases(short_disassembler disassemble, const std::vector<WordCase>& cases)
{
    for (const WordCase& c : cases) {
        ShortCall k;
        k.addr = c.addr;
        const Printed p = run_short(disassemble, big_endian(c.word), k);
        EXPECT_EQ(c.text, p.out) << std::hex << c.word;
        EXPECT_EQ("", p.err) << std::hex << c.word;
        EXPECT_EQ(4u, p.length) << std::hex << c.word;
    }
}

/// wardmacho's instruction lines without their address column.
inline std::vector<std::string> wardmacho_lines(const std::string& path, const char* options)
{
    std::vector<std::string> lines;
    std::istringstream in(run_program({WARDMACHO, options, path}));
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == 8 && line.find_first_not_of("0123456789abcdef") == 8)
            lines.push_back(line.substr(tab + 1));
    }
    return lines;
}

/// A pattern compiled once.
inline const std::regex& re(const char* pattern)
{
    static std::map<const char*, std::regex> cache;
    auto it = cache.find(pattern);
    if (it == cache.end())
        it = cache.emplace(pattern, std::regex(pattern)).first;
    return it->second;
}

inline std::string rx(const std::string& s, const char* pattern, const char* with)
{
    return std::regex_replace(s, re(pattern), with);
}

} // namespace disasm_test
