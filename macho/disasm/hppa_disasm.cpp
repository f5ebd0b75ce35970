// The HP-PA disassembler: the word is matched against the PA-RISC 1.1 rows
// in order and the first matching row prints its name and operand template.
// Immediates and targets that a relocation entry may name go through
// print_immediate, which prints the assembler's field selectors L` and R`.
#include "disasm/disasm.h"
#include "disasm/family.h"
#include "disasm/hppa_opcodes.h"

#include <cstdio>
#include <cstring>

namespace macho {

namespace {

using ul = unsigned long;
using sl = long;

const char* const comp_conds[16] = {"",    ",tr",  ",=",   ",<>",  ",<",  ",>=", ",<=", ",>",
                                    ",<<", ",>>=", ",<<=", ",>>", ",sv", ",nsv", ",od", ",ev"};
const char* const add_conds[16] = {"",    ",tr", ",=",   ",<>",  ",<",  ",>=", ",<=", ",>",
                                   ",nuv", ",uv", ",znv", ",vnz", ",sv", ",nsv", ",od", ",ev"};
const char* const unit_conds[16] = {"",    ",tr",  ",??",  ",??",  ",sbz", ",nbz", ",shz", ",nhz",
                                    ",sdc", ",ndc", ",??", ",??", ",sbc", ",nbc", ",shc", ",nhc"};
const char* const shift_conds[8] = {"", ",=", ",<", ",od", ",tr", ",<>", ",>=", ",ev"};
const char* const index_cmplts[4] = {"", ",m", ",s", ",sm"};
const char* const short_cmplts[4] = {"", ",ma", "", ",mb"};
const char* const load_cache_hint[4] = {"", ",co", "??", "??"};
const char* const store_cache_hint[4] = {"", ",bc", "??", "??"};
const char* const stbys_a_cmplts[2] = {",b", ",e"};
const char* const stbys_m_cmplts[2] = {"", ",m"};
const char* const fp_fmts[4] = {",sgl", ",dbl", ",??", ",quad"};
const char* const fp_conds[32] = {
    ",false?", ",false", ",?",   ",!<=>", ",=",   ",=T",   ",?=",  ",!<>", ",!?>=", ",<",    ",?<",
    ",!>=",    ",!?>",   ",<=",  ",?<=",  ",!>",  ",!?<=", ",>",   ",?>",  ",!<=",  ",!?<",  ",>=",
    ",?>=",    ",!<",    ",!?=", ",<>",   ",!=",  ",!=T",  ",!?",  ",<=>", ",true?", ",true"};

// Relocation types of HP-PA entries.
constexpr uint32_t HPPA_RELOC_PAIR = 1;
constexpr uint32_t HPPA_RELOC_HI21 = 2;
constexpr uint32_t HPPA_RELOC_LO14 = 3;
constexpr uint32_t HPPA_RELOC_BR17 = 4;
constexpr uint32_t HPPA_RELOC_JBSR = 6;
constexpr uint32_t HPPA_RELOC_SECTDIFF = 7;
constexpr uint32_t HPPA_RELOC_HI21_SECTDIFF = 8;
constexpr uint32_t HPPA_RELOC_LO14_SECTDIFF = 9;

// The characters of a template that print completers: the tab that starts
// the operands comes before the first character not among them. H (the
// format of the multiple operations) is one too, so that its ",sgl" or
// ",dbl" stays with the name.
const char completer_chars[] = "cCY<?!-+&U>~nZFGHM,lL3a";

// Bits lo..lo+width-1 of the word.
uint32_t bits(uint32_t word, unsigned lo, unsigned width)
{
    return (word >> lo) & ((width >= 32 ? 0u : 1u << width) - 1);
}

uint32_t ones(uint32_t n)
{
    return n >= 32 ? 0xffffffffu : (1u << n) - 1;
}

// The sign of these fields is their bit 0.
uint32_t low_sign_ext(uint32_t x, uint32_t n)
{
    return sign_extend(((x & 1) << (n - 1)) | ((x & ones(n)) >> 1), n);
}

uint32_t assemble_3(uint32_t x)
{
    return ((x & 1) << 2) | ((x & 6) >> 1);
}

uint32_t assemble_12(uint32_t x, uint32_t y)
{
    return ((y & 1) << 11) | ((x & 1) << 10) | ((x & 0x7fe) >> 1);
}

uint32_t assemble_17(uint32_t x, uint32_t y, uint32_t z)
{
    uint32_t r = ((z & 1) << 16) | ((x & 0x1f) << 11) | ((y & 1) << 10) | ((y & 0x7fe) >> 1);
    if ((z & 1) != 0)
        r |= 0xfffe0000;
    return r;
}

uint32_t assemble_21(uint32_t x)
{
    return ((x & 1) << 20) | ((x & 0xffe) << 8) | ((x & 0xc000) >> 7) | ((x & 0x1f0000) >> 14)
           | ((x & 0x3000) >> 12);
}

// A modification completer (bits 13 and 5 index it), then the cache hint
// of bits 10-11 when a hint table is given.
void print_cmplt(const char* const cmplts[4], const char* const hints[4], uint32_t word)
{
    printf("%s%s", cmplts[2 * bits(word, 13, 1) + bits(word, 5, 1)], hints != nullptr ? hints[bits(word, 10, 2)] : "");
}

void print_multiple_fpreg(uint32_t reg, uint32_t single)
{
    if (single == 0)
        printf("%%fr%d", static_cast<int>(reg));
    else
        printf("%%fr%d%s", static_cast<int>(reg | 16), (reg & 16) != 0 ? "r" : "");
}

bool has_pair(uint32_t type)
{
    return type == HPPA_RELOC_HI21 || type == HPPA_RELOC_LO14 || type == HPPA_RELOC_BR17
           || type == HPPA_RELOC_JBSR || type == HPPA_RELOC_SECTDIFF || type == HPPA_RELOC_HI21_SECTDIFF
           || type == HPPA_RELOC_LO14_SECTDIFF;
}

const char* left_selector = "L`";
const char* right_selector = "R`";

void print_immediate(uint32_t value, uint32_t r_address, const relocation_info* relocs, uint32_t nrelocs,
                     const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                     uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose)
{
    if (!verbose) {
        printf("0x%x", value);
        return;
    }
    if (relocs == nullptr)
        nrelocs = 0;
    bool found = false;
    reloc_entry e{};
    uint32_t other_part = 0;
    uint32_t pair_value = 0;
    for (uint32_t i = 0; i < nrelocs; i++) {
        const reloc_entry r = read_reloc_entry(relocs[i]);
        if (r.type == HPPA_RELOC_PAIR) {
            fprintf(stderr, "Stray HPPA_RELOC_PAIR relocation entry %lu\n", static_cast<ul>(i));
            continue;
        }
        const bool paired = has_pair(r.type);
        const bool pair_follows = paired && i + 1 < nrelocs && read_reloc_entry(relocs[i + 1]).type == HPPA_RELOC_PAIR;
        if (paired && !pair_follows)
            fprintf(stderr, "No HPPA_RELOC_PAIR relocation entry after entry %lu\n", static_cast<ul>(i));
        if (r.address != r_address) {
            if (pair_follows)
                i++;
            continue;
        }
        if (paired) {
            if (!pair_follows)
                continue;
            const reloc_entry pair = read_reloc_entry(relocs[i + 1]);
            if (pair.scattered) {
                other_part = pair.address;
                pair_value = pair.value;
            } else {
                other_part = static_cast<uint32_t>(relocs[i + 1].r_address);
            }
        }
        found = true;
        e = r;
        break;
    }

    const uint32_t type = found ? e.type : 0;
    if (found && e.external) {
        int len = 0;
        const char* name = reloc_symbol_name(e.symbolnum, symbols, nsymbols, strings, strings_size, &len);
        uint32_t full = value;
        if (type == HPPA_RELOC_HI21) {
            printf("%s%.*s", left_selector, len, name);
            full = value + sign_extend(other_part, 14);
        } else if (type == HPPA_RELOC_LO14 || type == HPPA_RELOC_BR17) {
            printf("%s%.*s", right_selector, len, name);
            full = value + (other_part << 11);
        } else if (type == HPPA_RELOC_JBSR) {
            printf("%.*s", len, name);
            if (other_part != 0)
                printf("+0x%x", sign_extend(other_part, 24));
            return;
        } else {
            printf("%.*s", len, name);
        }
        if (full != 0)
            printf("+0x%x", full);
        return;
    }

    uint32_t full = value;
    if (type == HPPA_RELOC_HI21 || type == HPPA_RELOC_HI21_SECTDIFF)
        full = value + sign_extend(other_part, 14);
    else if (type == HPPA_RELOC_LO14 || type == HPPA_RELOC_BR17 || type == HPPA_RELOC_LO14_SECTDIFF)
        full = value + (other_part << 11);
    else if (type == HPPA_RELOC_JBSR)
        full = value + sign_extend(other_part, 24);

    if (type == HPPA_RELOC_HI21_SECTDIFF || type == HPPA_RELOC_LO14_SECTDIFF) {
        printf("%s", type == HPPA_RELOC_HI21_SECTDIFF ? left_selector : right_selector);
        const char* first = guess_symbol(e.value, sorted_symbols, nsorted_symbols, verbose);
        const char* second = guess_symbol(pair_value, sorted_symbols, nsorted_symbols, verbose);
        if (first != nullptr)
            printf("%s", first);
        else
            printf("0x%x", e.value);
        if (second != nullptr)
            printf("-%s", second);
        else
            printf("-0x%x", pair_value);
        if (full + pair_value - e.value != 0)
            printf("+0x%x", full + pair_value - e.value);
        return;
    }

    uint32_t lookup = full;
    uint32_t offset = 0;
    if (found && e.scattered) {
        lookup = e.value;
        offset = full - lookup;
    }
    const char* name = guess_symbol(lookup, sorted_symbols, nsorted_symbols, verbose);
    const char* selector = "";
    if (type == HPPA_RELOC_HI21)
        selector = left_selector;
    else if (type == HPPA_RELOC_LO14 || type == HPPA_RELOC_BR17)
        selector = right_selector;
    if (name != nullptr)
        printf("%s%s", selector, name);
    else
        printf("%s0x%x", selector, lookup);
    if (offset != 0)
        printf("+0x%x", offset);
}

// True when a bl at `r_address` carries a long-branch stub entry: the first
// entry there that is not a pair decides.
bool is_jbsr(uint32_t r_address, const relocation_info* relocs, uint32_t nrelocs)
{
    if (relocs == nullptr)
        return false;
    for (uint32_t i = 0; i < nrelocs; i++) {
        const reloc_entry e = read_reloc_entry(relocs[i]);
        if (e.type == HPPA_RELOC_PAIR || e.address != r_address)
            continue;
        return e.type == HPPA_RELOC_JBSR;
    }
    return false;
}

} // namespace

uint32_t hppa_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose)
{
    uint32_t word;
    if (!read_instruction_word(sect, left, object_byte_sex, &word))
        return static_cast<uint32_t>(left);

    const uint32_t a = static_cast<uint32_t>(addr);
    const uint32_t r_address = static_cast<uint32_t>(addr - sect_addr);
    const pa_opcode* row = nullptr;
    bool jbsr = false;
    if ((word & 0xfc00e000) == 0xe8000000 && is_jbsr(r_address, relocs, nrelocs)) {
        row = &pa_opcodes[pa_num_opcodes - 1];
        jbsr = true;
    } else {
        for (size_t i = 0; i < pa_num_opcodes - 1; i++) {
            if ((word & pa_opcodes[i].mask) == pa_opcodes[i].match) {
                row = &pa_opcodes[i];
                break;
            }
        }
    }
    if (row == nullptr) {
        printf(".long 0x%08x\n", word);
        return 4;
    }

    auto immediate = [&](uint32_t value) {
        print_immediate(value, r_address, relocs, nrelocs, symbols, nsymbols, sorted_symbols, nsorted_symbols,
                        strings, strings_size, verbose);
    };
    const uint32_t major = bits(word, 26, 6);
    const uint32_t target17 = 4 * assemble_17(bits(word, 16, 5), bits(word, 2, 11), bits(word, 0, 1));
    printf("%s", row->name);
    bool tabbed = false;
    for (const char* s = row->args; *s != '\0'; s++) {
        if (!tabbed && strchr(completer_chars, *s) == nullptr) {
            putchar('\t');
            tabbed = true;
        }
        switch (*s) {
        case 'x': printf("%%r%lu", static_cast<ul>(bits(word, 16, 5))); break;
        case 'b': printf("%%r%lu", static_cast<ul>(bits(word, 21, 5))); break;
        case 't': printf("%%r%lu", static_cast<ul>(bits(word, 0, 5))); break;
        case 'B':
            if (bits(word, 14, 2) != 0)
                printf(" %u,", bits(word, 14, 2));
            printf("%%r%lu", static_cast<ul>(bits(word, 21, 5)));
            break;
        case 'n':
            if ((word & 2) != 0)
                printf(",n");
            break;
        case 'Z':
            if ((word & 0x20) != 0)
                printf(",m");
            break;
        case 'S': printf("%%sr%lu", static_cast<ul>(assemble_3(bits(word, 13, 3)))); break;
        case '<':
        case '?': printf("%s", comp_conds[2 * bits(word, 13, 3)]); break;
        case '-': printf("%s", comp_conds[bits(word, 12, 4)]); break;
        case '>':
        case '~': printf("%s", shift_conds[bits(word, 13, 3)]); break;
        case 'U': printf("%s", unit_conds[bits(word, 12, 4)]); break;
        case '!': printf("%s", add_conds[2 * bits(word, 13, 3)]); break;
        case '&':
        case '+': printf("%s", add_conds[bits(word, 12, 4)]); break;
        case 'c': print_cmplt(index_cmplts, nullptr, word); break;
        case 'C': print_cmplt(short_cmplts, nullptr, word); break;
        case 'L': print_cmplt(index_cmplts, load_cache_hint, word); break;
        case '3': print_cmplt(index_cmplts, store_cache_hint, word); break;
        case 'a': print_cmplt(short_cmplts, load_cache_hint, word); break;
        case 'l': print_cmplt(short_cmplts, store_cache_hint, word); break;
        case 'Y':
            printf("%s%s%s", stbys_a_cmplts[bits(word, 13, 1)], stbys_m_cmplts[bits(word, 5, 1)],
                   store_cache_hint[bits(word, 10, 2)]);
            break;
        case 'F': printf("%s", fp_fmts[major == 12 ? bits(word, 11, 2) : bits(word, 11, 1)]); break;
        case 'G': printf("%s", fp_fmts[bits(word, 13, 2)]); break;
        case 'H': printf("%s", (word & 0x20) != 0 ? ",sgl" : ",dbl"); break;
        case 'M': printf("%s", fp_conds[bits(word, 0, 5)]); break;
        case 'E':
            printf("%%fr%ld%s", static_cast<sl>(bits(word, 21, 5)), (word & 0x80) != 0 ? "r" : "");
            break;
        case 'X':
            printf("%%fr%ld%s", static_cast<sl>(bits(word, 16, 5)),
                   major == 14 && (word & 0x1000) != 0 ? "r" : "");
            break;
        case 'v':
            printf("%%fr%ld%s", static_cast<sl>(bits(word, 0, 5)), (word & 0x40) != 0 ? "r" : "");
            break;
        // The five registers of the multiple operations, in the
        // assembler's order: rm1, rm2, tm, ra, ta.
        case '4': print_multiple_fpreg(bits(word, 21, 5), bits(word, 5, 1)); break;
        case '6': print_multiple_fpreg(bits(word, 16, 5), bits(word, 5, 1)); break;
        case '7': print_multiple_fpreg(bits(word, 0, 5), bits(word, 5, 1)); break;
        case '9': print_multiple_fpreg(bits(word, 6, 5), bits(word, 5, 1)); break;
        case '8': print_multiple_fpreg(bits(word, 11, 5), bits(word, 5, 1)); break;
        case '5': printf("0x%x", low_sign_ext(bits(word, 16, 5), 5)); break;
        case 'V': printf("0x%x", low_sign_ext(bits(word, 0, 5), 5)); break;
        case 'i': printf("0x%x", low_sign_ext(bits(word, 0, 14), 11)); break;
        case 'j': immediate(low_sign_ext(bits(word, 0, 14), 14)); break;
        case 'k': immediate(assemble_21(bits(word, 0, 21)) << 11); break;
        case 'w':
            immediate(a + 8 + 4 * sign_extend(assemble_12(bits(word, 2, 11), bits(word, 0, 1)), 12));
            break;
        case 'W':
            if (jbsr)
                printf("0x%x", a + 8 + target17);
            else
                immediate(a + 8 + target17);
            break;
        case 'z':
            if (jbsr)
                printf("0x%x", target17);
            else
                immediate(target17);
            break;
        case '@': immediate(static_cast<uint32_t>(sect_addr)); break;
        case 'T': printf("%d", 32 - static_cast<int>(bits(word, 0, 5))); break;
        case 'p': printf("%d", 31 - static_cast<int>(bits(word, 5, 5))); break;
        case 'P': printf("%ld", static_cast<sl>(bits(word, 5, 5))); break;
        case 'Q': printf("%ld", static_cast<sl>(bits(word, 21, 5))); break;
        case 'R': printf("%ld", static_cast<sl>(bits(word, 16, 5))); break;
        case 'r': printf("%ld", static_cast<sl>(bits(word, 0, 5))); break;
        case 'f':
        case 'u': printf("%ld", static_cast<sl>(bits(word, 6, 3))); break;
        case 'o': printf("%ld", static_cast<sl>(bits(word, 11, 15))); break;
        case 'O': printf("%d", static_cast<int>((bits(word, 11, 15) << 5) | bits(word, 0, 5))); break;
        case '0': printf("%ld", static_cast<sl>((bits(word, 11, 5) << 5) | bits(word, 0, 5))); break;
        case '1': printf("%ld", static_cast<sl>((bits(word, 11, 10) << 5) | bits(word, 0, 5))); break;
        case '2': printf("%ld", static_cast<sl>((bits(word, 9, 17) << 5) | bits(word, 0, 5))); break;
        case 'A': printf("%ld", static_cast<sl>(bits(word, 13, 13))); break;
        case 'D': printf("%ld", static_cast<sl>(bits(word, 0, 26))); break;
        default: putchar(*s); break;
        }
    }
    putchar('\n');
    return 4;
}

} // namespace macho
