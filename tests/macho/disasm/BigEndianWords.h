// Helpers the big-endian families' tests share: a word read back from
// bytes, a table of exact cases for the disassemblers of PlainCall.h,
// a buffer's words one line each or counting allocations, wardmacho's
// instruction lines (of a wrapper too), objdump's readings of a file in
// several modes, and cached patterns for the oracle normalisers. Each test program defines WARDMACHO.
#pragma once

#include "PlainCall.h"

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace disasm_test {

/// The big-endian word at `off`.
inline uint32_t word_at(const std::vector<char>& bin, size_t off)
{
    return (uint32_t(uint8_t(bin[off])) << 24) | (uint32_t(uint8_t(bin[off + 1])) << 16)
           | (uint32_t(uint8_t(bin[off + 2])) << 8) | uint8_t(bin[off + 3]);
}

/// One word at `addr` and the text it prints; no warning, 4 bytes.
struct WordCase {
    uint32_t word;
    const char* text;
    uint64_t addr;
};

inline void run_word_cases(plain_disassembler disassemble, const std::vector<WordCase>& cases)
{
    for (const WordCase& c : cases) {
        Call k;
        k.addr = c.addr;
        const Printed p = plain_call(disassemble, big_endian(c.word), k);
        EXPECT_EQ(c.text, p.out) << std::hex << c.word;
        EXPECT_EQ("", p.err) << std::hex << c.word;
        EXPECT_EQ(4u, p.length) << std::hex << c.word;
    }
}

/// Every word of `bin` through `disassemble` at address 4 × index, one
/// line each.
inline std::vector<std::string> disassemble_words(plain_disassembler disassemble, const std::vector<char>& bin)
{
    const Printed p = capture([&] {
        for (size_t off = 0; off + 4 <= bin.size(); off += 4)
            disassemble(bin.data() + off, 4, off, 0, macho::BIG_ENDIAN_BYTE_SEX, nullptr, 0, nullptr, 0, nullptr, 0,
                        nullptr, 0, 0);
        return 0u;
    });
    std::vector<std::string> lines;
    std::istringstream in(p.out);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
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

/// The heap allocations of `disassemble`, verbose, over every word of `bin`
/// at address 4 × index, standard output discarded.
inline unsigned long word_allocations(plain_disassembler disassemble, const std::vector<char>& bin)
{
    unsigned long allocations = 0;
    quietly([&] {
        start_counting_allocations();
        for (size_t off = 0; off + 4 <= bin.size(); off += 4)
            disassemble(bin.data() + off, bin.size() - off, off, 0, macho::BIG_ENDIAN_BYTE_SEX, nullptr, 0, nullptr, 0,
                        nullptr, 0, nullptr, 0, 1);
        allocations = stop_counting_allocations();
    });
    return allocations;
}

/// wardmacho's -tvV instruction lines of a Mach-O wrapper of `text` for
/// `cputype`, written to the temporary file `name`.
inline std::vector<std::string> wrapper_lines(int32_t cputype, const std::vector<char>& text, const std::string& name)
{
    Wrapper w;
    w.cputype = cputype;
    w.text = text;
    const std::string path = write_temp(name, build_wrapper(w));
    std::vector<std::string> lines = wardmacho_lines(path, "-tvV");
    unlink(path.c_str());
    return lines;
}

/// disassemble_words of `bin`, checked to print the same lines through
/// wardmacho on a wrapper for `cputype` (file `name`) and, where that can
/// be counted, to allocate nothing.
inline std::vector<std::string> checked_words(plain_disassembler disassemble, const std::vector<char>& bin,
                                              int32_t cputype, const std::string& name)
{
    std::vector<std::string> lines = disassemble_words(disassemble, bin);
    EXPECT_EQ(lines, wrapper_lines(cputype, bin, name));
    if (allocation_counting_available()) {
        EXPECT_EQ(0u, word_allocations(disassemble, bin));
    }
    return lines;
}

/// objdump's readings of one file by address, one listing per mode; the
/// first is the main one.
struct ObjdumpReadings {
    using canon = std::string (*)(std::string);

    std::vector<std::map<uint64_t, std::string>> listings;

    void add(const std::vector<std::string>& argv)
    {
        std::map<uint64_t, std::string> listing;
        for (const OracleLine& l : objdump_listing(argv))
            listing[l.addr] = l.text;
        listings.push_back(std::move(listing));
    }

    /// True when a reading of the word at `addr`, normalised by
    /// `canon_theirs`, has the tokens of `ours` normalised by `canon_ours`;
    /// `first` is the main reading.
    bool agrees(uint64_t addr, const std::string& ours, std::string* first, canon canon_ours,
                canon canon_theirs) const
    {
        const std::vector<Token> a = tokenize(canon_ours(ours), false);
        for (size_t i = 0; i < listings.size(); ++i) {
            const auto it = listings[i].find(addr);
            const std::string theirs = it == listings[i].end() ? "" : it->second;
            if (i == 0)
                *first = theirs;
            if (same_tokens(a, tokenize(canon_theirs(theirs), false)))
                return true;
        }
        return false;
    }
};

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
