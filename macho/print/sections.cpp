// Section contents: hex dumps, and under -v the forms that follow the
// section's type (strings, literals, literal pointers, initialisation and
// termination pointers, shared-library initialisation pairs). Every word is
// converted to host order as it is read; a partial last unit is zero-filled
// in hex dumps and skipped elsewhere.
#include "print/display.h"

#include "libstuff/errors.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace macho {

namespace {

byte_sex host()
{
    return get_host_byte_sex();
}

uint32_t word32(const char* p, bool swapped)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return swapped ? SWAP_INT(v) : v;
}

// A word of `width` bytes at `off`, zeros past `size`.
uint32_t padded_word(const char* contents, uint64_t size, uint64_t off, unsigned width, bool swapped)
{
    unsigned char b[4] = {0, 0, 0, 0};
    for (unsigned k = 0; k < width && off + k < size; ++k)
        b[k] = static_cast<unsigned char>(contents[off + k]);
    if (width == 2) {
        uint16_t v;
        memcpy(&v, b, 2);
        return swapped ? SWAP_SHORT(v) : v;
    }
    return word32(reinterpret_cast<const char*>(b), swapped);
}

void print_address(uint64_t addr, int print_addresses)
{
    if (print_addresses)
        printf("%08x  ", static_cast<uint32_t>(addr));
}

// Reads the 8-byte literal at `p` (object order): its words in section
// order, the one with sign and exponent, and the value.
void literal8_at(const char* p, byte_sex object_byte_sex)
{
    const bool swapped = object_byte_sex != host();
    const uint32_t w0 = word32(p, swapped);
    const uint32_t w1 = word32(p + 4, swapped);
    uint64_t bits;
    memcpy(&bits, p, 8);
    if (swapped)
        bits = SWAP_LONG_LONG(bits);
    double d;
    memcpy(&d, &bits, sizeof d);
    // The sign and exponent are in the word at the higher address on a
    // little-endian object, the lower one on a big-endian one.
    print_literal8(w0, w1, object_byte_sex == BIG_ENDIAN_BYTE_SEX, d);
}

struct literal_section {
    char segname[16];
    char sectname[16];
    uint64_t addr;
    uint32_t type;
    uint32_t offset; // of its contents in the object
    uint64_t size;   // cut to the object
};

} // namespace

void print_sect(int32_t cputype, byte_sex object_byte_sex, const char* contents, uint64_t size, uint64_t addr)
{
    const bool swapped = object_byte_sex != host();
    const bool is64 = (cputype & CPU_ARCH_ABI64) != 0;
    for (uint64_t off = 0; off < size;) {
        const uint64_t line = size - off < 16 ? size - off : 16;
        if (cputype == 6) {
            printf("%08x ", static_cast<uint32_t>(addr));
            for (uint64_t k = 0; k < line; k += 2)
                printf("%04x ", padded_word(contents, size, off + k, 2, swapped));
        } else {
            if (is64)
                printf("%016llx\t", static_cast<unsigned long long>(addr));
            else
                printf("%08x\t", static_cast<uint32_t>(addr));
            if (cputype == 7 || cputype == 0x01000007) {
                for (uint64_t k = 0; k < line; ++k)
                    printf("%02x ", static_cast<unsigned char>(contents[off + k]));
            } else {
                for (uint64_t k = 0; k < line; k += 4)
                    printf("%08x ", padded_word(contents, size, off + k, 4, swapped));
            }
        }
        printf("\n");
        off += line;
        addr += line;
    }
}

void print_cstring_char(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (isprint(u)) {
        if (c == '\\')
            printf("\\\\");
        else
            putchar(c);
        return;
    }
    switch (c) {
    case '\a':
        printf("\\a");
        break;
    case '\b':
        printf("\\b");
        break;
    case '\t':
        printf("\\t");
        break;
    case '\n':
        printf("\\n");
        break;
    case '\v':
        printf("\\v");
        break;
    case '\f':
        printf("\\f");
        break;
    case '\r':
        printf("\\r");
        break;
    default:
        printf("\\%03o", static_cast<unsigned>(u));
        break;
    }
}

void print_cstring_section(const char* contents, uint64_t size, uint64_t addr, int print_addresses)
{
    for (uint64_t i = 0; i < size; ++i) {
        print_address(addr + i, print_addresses);
        for (; i < size && contents[i] != '\0'; ++i)
            print_cstring_char(contents[i]);
        if (i < size)
            printf("\n");
    }
}

void print_literal4(uint32_t word, float value)
{
    printf("0x%08x", word);
    if ((word & 0x7f800000) != 0x7f800000)
        printf(" (%.16e)\n", static_cast<double>(value));
    else if (word == 0x7f800000)
        printf(" (+Infinity)\n");
    else if (word == 0xff800000)
        printf(" (-Infinity)\n");
    else if (word & 0x00400000)
        printf(" (non-signaling Not-a-Number)\n");
    else
        printf(" (signaling Not-a-Number)\n");
}

void print_literal4_section(const char* contents, uint64_t size, uint64_t addr, byte_sex object_byte_sex,
                            int print_addresses)
{
    const bool swapped = object_byte_sex != host();
    for (uint64_t i = 0; i + 4 <= size; i += 4) {
        print_address(addr + i, print_addresses);
        const uint32_t w = word32(contents + i, swapped);
        float f;
        memcpy(&f, &w, sizeof f);
        print_literal4(w, f);
    }
}

void print_literal8(uint32_t word0, uint32_t word1, bool sign_in_first, double value)
{
    printf("0x%08x 0x%08x", word0, word1);
    const uint32_t sign = sign_in_first ? word0 : word1;
    const uint32_t other = sign_in_first ? word1 : word0;
    if ((sign & 0x7ff00000) != 0x7ff00000)
        printf(" (%.16e)\n", value);
    else if (sign == 0x7ff00000 && other == 0)
        printf(" (+Infinity)\n");
    else if (sign == 0xfff00000 && other == 0)
        printf(" (-Infinity)\n");
    else if (sign & 0x00080000)
        printf(" (non-signaling Not-a-Number)\n");
    else
        printf(" (signaling Not-a-Number)\n");
}

void print_literal8_section(const char* contents, uint64_t size, uint64_t addr, byte_sex object_byte_sex,
                            int print_addresses)
{
    for (uint64_t i = 0; i + 8 <= size; i += 8) {
        print_address(addr + i, print_addresses);
        literal8_at(contents + i, object_byte_sex);
    }
}

void print_literal16_section(const char* contents, uint64_t size, uint64_t addr, byte_sex object_byte_sex,
                             int print_addresses)
{
    const bool swapped = object_byte_sex != host();
    for (uint64_t i = 0; i + 16 <= size; i += 16) {
        print_address(addr + i, print_addresses);
        printf("0x%08x 0x%08x 0x%08x 0x%08x\n", word32(contents + i, swapped), word32(contents + i + 4, swapped),
               word32(contents + i + 8, swapped), word32(contents + i + 12, swapped));
    }
}

void print_literal_pointer_section(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                                   byte_sex object_byte_sex, const object_bytes& object, const char* contents,
                                   uint64_t size, uint64_t addr, const nlist* symbols, const nlist_64* symbols64,
                                   uint32_t nsymbols, const char* strings, uint64_t strings_size,
                                   const relocation_info* sorted_relocs, uint32_t nrelocs, int print_addresses)
{
    const bool swapped = object_byte_sex != host();
    // The literal sections, by place: their bytes are read when a pointer
    // names them, not held.
    literal_section* lits = nullptr;
    uint32_t nlits = 0;
    uint32_t capacity = 0;
    walk_load_commands(lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES,
                       [&](uint32_t, uint64_t off, const load_command& l) {
                           if (!is_segment_command(l.cmd))
                               return true;
                           const segment_info sg = read_segment(lc, off, l.cmd, object_byte_sex);
                           for (uint32_t j = 0; j < sg.nsects; ++j) {
                               section_info s;
                               if (!read_section(lc, off, l.cmd, j, object_byte_sex, &s)) {
                                   printf("section structure command extends past end of load commands\n");
                                   break;
                               }
                               const uint32_t type = s.flags & SECTION_TYPE;
                               if (type != S_CSTRING_LITERALS && type != S_4BYTE_LITERALS && type != S_8BYTE_LITERALS)
                                   continue;
                               if (nlits == capacity) {
                                   capacity = capacity == 0 ? 8 : capacity * 2;
                                   lits = static_cast<literal_section*>(reallocate(lits, sizeof *lits * capacity));
                               }
                               literal_section& t = lits[nlits++];
                               memcpy(t.segname, s.segname, 16);
                               memcpy(t.sectname, s.sectname, 16);
                               t.addr = s.addr;
                               t.type = type;
                               t.offset = s.offset;
                               t.size = s.size;
                               if (s.offset > object.size) {
                                   printf("section contents of: (%.16s,%.16s) is past end of file\n", s.segname,
                                          s.sectname);
                                   t.size = 0;
                               } else if (s.size > object.size - s.offset) {
                                   printf("part of section contents of: (%.16s,%.16s) is past end of file\n",
                                          s.segname, s.sectname);
                                   t.size = object.size - s.offset;
                               }
                           }
                           return true;
                       });

    const uint64_t object_end = object.offset + object.size;
    for (uint64_t i = 0; i + 4 <= size; i += 4) {
        print_address(addr + i, print_addresses);
        const uint32_t value = word32(contents + i, swapped);
        const uint32_t key = static_cast<uint32_t>(i);
        const relocation_info* r = nrelocs == 0 ? nullptr
                                                : static_cast<const relocation_info*>(bsearch(
                                                      &key, sorted_relocs, nrelocs, sizeof *sorted_relocs, rel_bsearch));
        if (r != nullptr && !reloc_scattered(*r) && reloc_extern(*r)) {
            printf("external relocation entry for symbol:");
            const uint32_t sym = reloc_symbolnum(*r);
            if (sym < nsymbols && (symbols != nullptr || symbols64 != nullptr)) {
                const uint32_t strx = symbols != nullptr ? symbols[sym].n_strx : symbols64[sym].n_strx;
                const char* name = string_at(strings, strings_size, strx);
                if (name == nullptr)
                    printf("bad string index for symbol: %u\n", sym);
                else if (value != 0)
                    printf("%s+0x%x\n", name, value);
                else
                    printf("%s\n", name);
            } else {
                printf("bad relocation entry\n");
            }
            continue;
        }
        const literal_section* t = nullptr;
        for (uint32_t k = 0; k < nlits && t == nullptr; ++k)
            if (value >= lits[k].addr && value - lits[k].addr < lits[k].size)
                t = &lits[k];
        if (t == nullptr) {
            printf("0x%x (not in a literal section)\n", value);
            continue;
        }
        printf("%.16s:%.16s:", t->segname, t->sectname);
        const uint64_t at = object.offset + t->offset + (value - t->addr);
        // Bytes past the section's cut end read as zeros.
        const uint64_t end = object.offset + t->offset + t->size;
        if (t->type == S_4BYTE_LITERALS) {
            char b[4];
            read_bytes(object.reader, at, end, b, sizeof b);
            const uint32_t w = word32(b, swapped);
            float f;
            memcpy(&f, &w, sizeof f);
            print_literal4(w, f);
        } else if (t->type == S_8BYTE_LITERALS) {
            char b[8];
            read_bytes(object.reader, at, end, b, sizeof b);
            literal8_at(b, object_byte_sex);
        } else {
            char chunk[256];
            bool done = false;
            for (uint64_t p = at; p < end && p < object_end && !done;) {
                const uint64_t n = read_bytes(object.reader, p, end, chunk, sizeof chunk);
                if (n == 0)
                    break;
                for (uint64_t k = 0; k < n; ++k) {
                    if (chunk[k] == '\0') {
                        done = true;
                        break;
                    }
                    print_cstring_char(chunk[k]);
                }
                p += n;
            }
            printf("\n");
        }
    }
    free(lits);
}

void print_init_term_pointer_section(int32_t cputype, const char* contents, uint64_t size, uint64_t addr,
                                     byte_sex object_byte_sex, const sorted_symbol* sorted_symbols,
                                     uint32_t nsorted_symbols, int verbose)
{
    const bool swapped = object_byte_sex != host();
    const bool is64 = (cputype & CPU_ARCH_ABI64) != 0;
    const uint64_t stride = is64 ? 8 : 4;
    for (uint64_t i = 0; i + stride <= size; i += stride) {
        uint64_t p;
        if (is64) {
            memcpy(&p, contents + i, 8);
            if (swapped)
                p = SWAP_LONG_LONG(p);
            printf("0x%016llx 0x%016llx", static_cast<unsigned long long>(addr + i), static_cast<unsigned long long>(p));
        } else {
            p = word32(contents + i, swapped);
            printf("0x%08x 0x%08x", static_cast<uint32_t>(addr + i), static_cast<uint32_t>(p));
        }
        const char* name = verbose ? guess_symbol(p, sorted_symbols, nsorted_symbols, verbose) : nullptr;
        // A pointer no symbol names ends its line there.
        if (name != nullptr)
            printf(" %s\n", name);
        else
            printf("\n");
    }
}

void print_shlib_init(byte_sex object_byte_sex, const char* contents, uint64_t size, uint64_t addr,
                      const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const nlist* symbols,
                      const nlist_64* symbols64, uint32_t nsymbols, const char* strings, uint64_t strings_size,
                      const relocation_info* sorted_relocs, uint32_t nrelocs, int verbose)
{
    const bool swapped = object_byte_sex != host();
    for (uint64_t i = 0; i + 8 <= size; i += 8) {
        const uint32_t value = word32(contents + i, swapped);
        const uint32_t address = word32(contents + i + 4, swapped);
        const uint32_t r_address = static_cast<uint32_t>(addr + i);
        printf("\tvalue   0x%08x ", value);
        print_symbol(value, r_address, 0, sorted_relocs, nrelocs, symbols, symbols64, nsymbols, sorted_symbols,
                     nsorted_symbols, strings, strings_size, verbose);
        printf("\n");
        printf("\taddress 0x%08x ", address);
        print_symbol(address, r_address + 4, 0, sorted_relocs, nrelocs, symbols, symbols64, nsymbols, sorted_symbols,
                     nsorted_symbols, strings, strings_size, verbose);
        printf("\n");
    }
}

} // namespace macho
