// What the 4-byte families' disassemblers share: reading the instruction
// word (or the section's short tail), one relocation entry's fields, plain
// or scattered, the name of an external entry's symbol, and sign extension
// of an instruction field.
#pragma once

#include "print/lookup.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace macho {

/// The instruction word at `sect` in host order, true when 4 bytes remain.
/// With fewer, the bytes present are zero-filled and converted, printed as
/// ".long\t0x%08x\n(end of section)\n", and the result is false.
inline bool read_instruction_word(const char* sect, uint64_t left, byte_sex object_byte_sex, uint32_t* word)
{
    const bool swapped = get_host_byte_sex() != object_byte_sex;
    *word = 0;
    const bool whole = left >= 4;
    if (left > 0)
        memcpy(word, sect, whole ? 4 : static_cast<size_t>(left));
    if (swapped)
        *word = SWAP_INT(*word);
    if (!whole)
        printf(".long\t0x%08x\n(end of section)\n", *word);
    return whole;
}

/// The low `bits` bits of `value` with the highest of them copied into
/// the bits above; `bits` of 0 gives 0 and 32 or more gives `value`.
inline uint32_t sign_extend(uint32_t value, uint32_t bits)
{
    const uint32_t mask = bits >= 32 ? 0xffffffffu : (1u << bits) - 1;
    value &= mask;
    if (bits > 0 && bits < 32 && (value & (1u << (bits - 1))) != 0)
        value |= ~mask;
    return value;
}

struct reloc_entry {
    bool scattered;
    uint32_t address;
    uint32_t type;
    bool external;
    uint32_t symbolnum;
    uint32_t value; // a scattered entry's value word
};

inline reloc_entry read_reloc_entry(const relocation_info& r)
{
    reloc_entry e{};
    e.scattered = reloc_scattered(r);
    if (e.scattered) {
        e.address = sreloc_address(r);
        e.type = sreloc_type(r);
        e.value = sreloc_value(r);
    } else {
        e.address = static_cast<uint32_t>(r.r_address);
        e.type = reloc_type(r);
        e.external = reloc_extern(r) != 0;
        e.symbolnum = reloc_symbolnum(r);
    }
    return e;
}

/// The name of symbol `n`, its length in `*len` bounded by the string
/// table, or "bad string offset" when the number or the string index lies
/// outside the tables.
inline const char* reloc_symbol_name(uint32_t n, const nlist* symbols, uint32_t nsymbols, const char* strings,
                                     uint64_t strings_size, int* len)
{
    static const char bad[] = "bad string offset";
    if (symbols != nullptr && n < nsymbols) {
        const char* s = string_at(strings, strings_size, symbols[n].n_strx);
        if (s != nullptr) {
            *len = static_cast<int>(strnlen(s, strings_size - symbols[n].n_strx));
            return s;
        }
    }
    *len = static_cast<int>(sizeof bad - 1);
    return bad;
}

} // namespace macho
