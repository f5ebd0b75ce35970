// The i860 disassembler: the word is matched against the opcode table in
// order and the first row prints its name and operand template. Address
// operands carry the assembler's relocation prefixes ("h%", "ha%", "l%") and
// print as symbols where the section's entries or the symbols allow.
#include "disasm/disasm.h"
#include "disasm/i860_opcodes.h"

#include <cstdio>
#include <cstring>

namespace macho {

namespace {

using ul = unsigned long;

// Relocation types of i860 entries.
constexpr uint32_t I860_RELOC_PAIR = 1;
constexpr uint32_t I860_RELOC_HIGH = 2;
constexpr uint32_t I860_RELOC_LOW0 = 3;
constexpr uint32_t I860_RELOC_SPLIT2 = 10;
constexpr uint32_t I860_RELOC_HIGHADJ = 11;
constexpr uint32_t I860_RELOC_SECTDIFF = 13;

const char* const i860_controlregs[32] = {"fir", "psr", "dirbase", "db", "fsr", "epsr"};

uint32_t entry_type(const relocation_info& r)
{
    return reloc_scattered(r) ? sreloc_type(r) : reloc_type(r);
}

uint32_t entry_address(const relocation_info& r)
{
    return reloc_scattered(r) ? sreloc_address(r) : static_cast<uint32_t>(r.r_address);
}

bool has_pair(uint32_t type)
{
    return type == I860_RELOC_HIGH || type == I860_RELOC_HIGHADJ || type == I860_RELOC_SECTDIFF;
}

// True when entry i + 1 exists and is a pair.
bool pair_follows(const relocation_info* relocs, uint32_t nrelocs, uint32_t i)
{
    return i + 1 < nrelocs && entry_type(relocs[i + 1]) == I860_RELOC_PAIR;
}

// Prints `value` as the external symbol of `reloc` (plus the value) or as
// the sorted symbol at that address; 1 when it printed, 0 otherwise.
int i860_print_symbol(uint32_t value, const relocation_info* reloc, const nlist* symbols, uint32_t nsymbols,
                      const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                      uint64_t strings_size, int verbose)
{
    if (!verbose)
        return 0;
    if (reloc != nullptr && reloc_extern(*reloc) && symbols != nullptr) {
        const uint32_t n = reloc_symbolnum(*reloc);
        const char* name = n < nsymbols ? string_at(strings, strings_size, symbols[n].n_strx) : nullptr;
        if (name != nullptr) {
            // The table may end without a NUL: the name stops at its end.
            const int len = static_cast<int>(strnlen(name, strings_size - symbols[n].n_strx));
            if (value != 0)
                printf("%.*s+0x%x", len, name, value);
            else
                printf("%.*s", len, name);
            return 1;
        }
    }
    if (const char* name = guess_symbol(value, sorted_symbols, nsorted_symbols, verbose)) {
        printf("%s", name);
        return 1;
    }
    return 0;
}

// Prints one address operand or branch offset of the template letter
// `letter`: the relocation prefix, then a symbol, else the value (branches
// relative to the instruction). Malformed pairs are reported on stderr.
void i860_dump_addr(uint32_t value, char letter, uint32_t addr, uint32_t sect_addr, const relocation_info* relocs,
                    uint32_t nrelocs, const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                    uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose)
{
    if (relocs == nullptr)
        nrelocs = 0;
    const uint32_t r_address = addr - sect_addr;
    const relocation_info* entry = nullptr;
    const relocation_info* pair = nullptr;
    for (uint32_t i = 0; i < nrelocs; i++) {
        const relocation_info& r = relocs[i];
        const uint32_t type = entry_type(r);
        if (type == I860_RELOC_PAIR) {
            fprintf(stderr, "Stray I860_RELOC_PAIR relocation entry %lu\n", static_cast<ul>(i));
            continue;
        }
        const bool paired = has_pair(type);
        if (paired && !pair_follows(relocs, nrelocs, i)) {
            fprintf(stderr, "No I860_RELOC_PAIR relocation entry after entry %lu\n", static_cast<ul>(i));
            continue;
        }
        if (!reloc_scattered(r) && entry_address(r) == r_address) {
            entry = &r;
            pair = paired ? &relocs[i + 1] : nullptr;
            break;
        }
        if (paired)
            i++;
    }

    const uint32_t type = entry != nullptr ? reloc_type(*entry) : 0;
    const char* prefix = "";
    if (type == I860_RELOC_HIGH || letter == 'I')
        prefix = "h%";
    else if (type == I860_RELOC_HIGHADJ || letter == 'J')
        prefix = "ha%";
    else if (type >= I860_RELOC_LOW0 && type <= I860_RELOC_SPLIT2 && !reloc_pcrel(*entry))
        prefix = "l%";

    if (pair != nullptr) {
        const uint32_t low = entry_address(*pair) & 0xffff;
        if (type == I860_RELOC_HIGH)
            value = (value << 16) | low;
        else if (type == I860_RELOC_HIGHADJ)
            value = (value << 16) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(low)));
    }

    printf("%s", prefix);
    const bool branch = letter == 'K' || letter == 'L';
    const uint32_t offered = branch ? value + addr + 4 : value;
    if (i860_print_symbol(offered, entry, symbols, nsymbols, sorted_symbols, nsorted_symbols, strings, strings_size,
                          verbose))
        return;
    if (branch)
        printf(".%+ld", static_cast<long>(static_cast<int32_t>(value)) + 4);
    else
        printf("0x%x", value);
}

} // namespace

uint32_t i860_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose)
{
    const bool swapped = get_host_byte_sex() != object_byte_sex;
    uint32_t word = 0;
    if (left < 4) {
        if (left > 0) {
            memcpy(&word, sect, static_cast<size_t>(left));
            if (swapped)
                word = SWAP_INT(word);
            printf(".long\t0x%08x\n", word);
        }
        printf("(end of section)\n");
        return static_cast<uint32_t>(left);
    }
    memcpy(&word, sect, sizeof word);
    if (swapped)
        word = SWAP_INT(word);
    if (word == 0) {
        printf("| Padded to i860 section boundary\n");
        return 4;
    }

    // Dual-instruction mode: the D bit of a floating-point word (or of fnop)
    // is shown as the "d." prefix and is not part of the operation.
    bool dual = false;
    if (((word >> 26) == 0x12 || word == 0xb0000200) && (word & 0x200) != 0) {
        dual = true;
        word &= ~0x200u;
    }

    const i860_opcode* op = i860_opcodes;
    while (op->name != nullptr && (word & op->mask) != op->match)
        op++;
    if (op->name == nullptr) {
        printf(".long\t0x%08x\n", word);
        return 4;
    }

    printf(dual ? "d.%-12s\t" : "%-12s\t", op->name);
    const uint32_t a = static_cast<uint32_t>(addr);
    const uint32_t s = static_cast<uint32_t>(sect_addr);
    const ul src1 = (word >> 11) & 0x1f;
    const ul src2 = (word >> 21) & 0x1f;
    const ul dest = (word >> 16) & 0x1f;
    const uint32_t imm = word & 0xffff;
    const uint32_t split = (((word >> 16) & 0x1f) << 11) | (word & 0x7ff);
    auto address = [&](uint32_t value, char letter) {
        i860_dump_addr(value, letter, a, s, relocs, nrelocs, symbols, nsymbols, sorted_symbols, nsorted_symbols,
                       strings, strings_size, verbose);
    };
    for (const char* t = op->args; *t != '\0'; t++) {
        switch (*t) {
        case '1': printf("r%lu", src1); break;
        case '2': printf("r%lu", src2); break;
        case 'd': printf("r%lu", dest); break;
        case 'e':
        case 'E': printf("f%lu", src1); break;
        case 'f':
        case 'F': printf("f%lu", src2); break;
        case 'g':
        case 'G':
        case 'H': printf("f%lu", dest); break;
        case 'B': printf("%lu", src1); break;
        case 'D': printf("%lu", static_cast<ul>(imm)); break;
        case 'C': printf("%s", i860_controlregs[src2] != nullptr ? i860_controlregs[src2] : "?"); break;
        case 'i':
        case 'I':
        case 'J': address(imm, *t); break;
        case 'j': address(imm & ~1u, *t); break;
        case 'k': address(imm & ~3u, *t); break;
        case 'l': address(imm & ~7u, *t); break;
        case 'm': address(imm & ~15u, *t); break;
        case 'n': address(split, *t); break;
        case 'o': address(split & ~1u, *t); break;
        case 'p': address(split & ~3u, *t); break;
        case 'K': address(static_cast<uint32_t>(static_cast<int32_t>(word << 6) >> 6) << 2, *t); break;
        case 'L': address(static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(split))) << 2, *t); break;
        default: putchar(*t); break;
        }
    }
    putchar('\n');
    return 4;
}

} // namespace macho
