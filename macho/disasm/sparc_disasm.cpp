// The SPARC disassembler: a search of the opcode table, sorted once so that
// the most specific row of a word comes first, then the row's operand
// template letter by letter. Branch targets and sethi values go through
// print_symbolic, which applies the relocation entries and their pairs.
#include "disasm/disasm.h"
#include "disasm/family.h"
#include "disasm/sparc_opcodes.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace macho {

int opcodes_sorted = 0;

namespace {

const char* const reg_names[72] = {
    "g0",  "g1",  "g2",  "g3",  "g4",  "g5",  "g6",  "g7",  "o0",  "o1",  "o2",  "o3",  "o4",  "o5",  "sp",  "o7",
    "l0",  "l1",  "l2",  "l3",  "l4",  "l5",  "l6",  "l7",  "i0",  "i1",  "i2",  "i3",  "i4",  "i5",  "fp",  "i7",
    "f0",  "f1",  "f2",  "f3",  "f4",  "f5",  "f6",  "f7",  "f8",  "f9",  "f10", "f11", "f12", "f13", "f14", "f15",
    "f16", "f17", "f18", "f19", "f20", "f21", "f22", "f23", "f24", "f25", "f26", "f27", "f28", "f29", "f30", "f31",
    "y",   "psr", "wim", "tbr", "pc",  "npc", "fpsr", "cpsr"};

// Relocation types of SPARC entries.
constexpr uint32_t SPARC_RELOC_PAIR = 1;
constexpr uint32_t SPARC_RELOC_HI22 = 2;
constexpr uint32_t SPARC_RELOC_LO10 = 3;
constexpr uint32_t SPARC_RELOC_WDISP22 = 4;
constexpr uint32_t SPARC_RELOC_WDISP30 = 5;
constexpr uint32_t SPARC_RELOC_SECTDIFF = 6;
constexpr uint32_t SPARC_RELOC_HI22_SECTDIFF = 7;
constexpr uint32_t SPARC_RELOC_LO10_SECTDIFF = 8;

using ul = unsigned long;

bool has_pair(uint32_t type)
{
    return type == SPARC_RELOC_HI22 || type == SPARC_RELOC_LO10 || type == SPARC_RELOC_SECTDIFF
           || type == SPARC_RELOC_HI22_SECTDIFF || type == SPARC_RELOC_LO10_SECTDIFF;
}

// ---- the one-time sort ----

void bad_row(const char* prefix, sparc_opcode* row)
{
    fprintf(stderr, "%s\"%s\", %#.8lx, %#.8lx\n", prefix, row->name, static_cast<ul>(row->match),
            static_cast<ul>(row->lose));
    row->lose &= ~row->match;
}

// The first of two masks to have a bit the other lacks, from bit 0: -1
// when it is a, 1 when b, 0 when they are equal.
int compare_masks(uint32_t a, uint32_t b)
{
    const uint32_t differ = a ^ b;
    if (differ == 0)
        return 0;
    const uint32_t lowest = differ & (0u - differ);
    return (a & lowest) != 0 ? -1 : 1;
}

int compare_opcodes(sparc_opcode* a, sparc_opcode* b)
{
    if ((a->match & a->lose) != 0)
        bad_row("Internal error:  bad sparc-opcode: ", a);
    if ((b->match & b->lose) != 0)
        bad_row("Internal error: bad sparc-opcode: ", b);
    if (int c = compare_masks(a->match, b->match))
        return c;
    if (int c = compare_masks(a->lose, b->lose))
        return c;
    const bool alias_a = (a->flags & SPARC_F_ALIAS) != 0;
    const bool alias_b = (b->flags & SPARC_F_ALIAS) != 0;
    if (alias_a != alias_b)
        return alias_a ? 1 : -1;
    if (strcmp(a->name, b->name) != 0) {
        if (alias_a)
            return strcmp(a->name, b->name);
        fprintf(stderr, "Internal error: bad sparc-opcode: \"%s\" == \"%s\"\n", a->name, b->name);
    }
    const size_t la = strlen(a->args);
    const size_t lb = strlen(b->args);
    if (la != lb)
        return la < lb ? -1 : 1;
    const char* pa = strchr(a->args, '+');
    const char* pb = strchr(b->args, '+');
    if (pa != nullptr && pb != nullptr) {
        if (pa != a->args && pa[-1] == 'i' && pb[1] == 'i')
            return 1;
        if (pb != b->args && pb[-1] == 'i' && pa[1] == 'i')
            return -1;
    }
    return 0;
}

// A stable insertion sort in place: rows that compare equal keep their
// table order.
void sort_opcodes()
{
    for (int i = 1; i < bfd_sparc_num_opcodes; ++i) {
        int j = i;
        while (j > 0 && compare_opcodes(&bfd_sparc_opcodes[j - 1], &bfd_sparc_opcodes[j]) > 0) {
            const sparc_opcode t = bfd_sparc_opcodes[j - 1];
            bfd_sparc_opcodes[j - 1] = bfd_sparc_opcodes[j];
            bfd_sparc_opcodes[j] = t;
            --j;
        }
    }
    opcodes_sorted = 1;
}

std::once_flag sort_once;

// ---- symbolic operands ----

// A symbol's name or "0x%x" with the value.
void print_name_or_value(uint32_t value, const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, int verbose,
                         const char* prefix)
{
    if (const char* name = guess_symbol(value, sorted_symbols, nsorted_symbols, verbose))
        printf("%s%s", prefix, name);
    else
        printf("%s0x%x", prefix, value);
}

void print_symbolic(char kind, uint32_t value, uint32_t r_address, const relocation_info* relocs, uint32_t nrelocs,
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
    for (uint32_t i = 0; i < nrelocs; ++i) {
        const reloc_entry r = read_reloc_entry(relocs[i]);
        if (r.type == SPARC_RELOC_PAIR) {
            fprintf(stderr, "Stray SPARC_RELOC_PAIR entry ");
            continue;
        }
        const bool paired = has_pair(r.type);
        const bool pair_next = paired && i + 1 < nrelocs && read_reloc_entry(relocs[i + 1]).type == SPARC_RELOC_PAIR;
        if (r.address != r_address) {
            if (pair_next)
                ++i;
            else if (paired)
                fprintf(stderr, "no SPARC_RELOC_PAIR relocation entry after %lu\n", static_cast<ul>(i));
            continue;
        }
        if (paired) {
            if (!pair_next) {
                fprintf(stderr, "No SPARC_RELOC_PAIR relocation entry after entry %lu\n", static_cast<ul>(i));
                continue;
            }
            const reloc_entry pair = read_reloc_entry(relocs[i + 1]);
            other_part = pair.address; // a plain pair's whole first word, a scattered one's 24 bits
            pair_value = pair.scattered ? pair.value : 0;
        }
        e = r;
        found = true;
        break;
    }

    if (found && e.external) {
        int len = 0;
        const char* name = reloc_symbol_name(e.symbolnum, symbols, nsymbols, strings, strings_size, &len);
        switch (e.type) {
        case SPARC_RELOC_HI22:
        case SPARC_RELOC_LO10: {
            const uint32_t offset = e.type == SPARC_RELOC_HI22 ? value + other_part : value | (other_part << 10);
            printf(e.type == SPARC_RELOC_HI22 ? "%%hi(%.*s" : "%%lo(%.*s", len, name);
            if (offset != 0)
                printf("+0x%x)", offset);
            else
                printf(")");
            break;
        }
        case SPARC_RELOC_WDISP22:
        case SPARC_RELOC_WDISP30:
            printf("%.*s", len, name);
            if (value != 0)
                printf("+0x%x", value);
            break;
        default: printf("%.*s", len, name); break;
        }
        return;
    }

    if (found) {
        if (e.type == SPARC_RELOC_HI22 || e.type == SPARC_RELOC_HI22_SECTDIFF)
            value |= other_part;
        else if (e.type == SPARC_RELOC_LO10 || e.type == SPARC_RELOC_LO10_SECTDIFF)
            value |= other_part << 10;
        if (e.type == SPARC_RELOC_HI22_SECTDIFF || e.type == SPARC_RELOC_LO10_SECTDIFF) {
            printf(e.type == SPARC_RELOC_HI22_SECTDIFF ? "%%hi(" : "%%lo(");
            print_name_or_value(e.value, sorted_symbols, nsorted_symbols, verbose, "");
            print_name_or_value(pair_value, sorted_symbols, nsorted_symbols, verbose, "-");
            printf(")");
            return;
        }
    }
    const uint32_t lookup = found && e.scattered ? e.value : value;
    const char* name = guess_symbol(lookup, sorted_symbols, nsorted_symbols, verbose);
    const char* wrap = "";
    if (kind == 'h' && found && e.type == SPARC_RELOC_HI22)
        wrap = "%hi(";
    else if (kind == 'h' && found && e.type == SPARC_RELOC_LO10)
        wrap = "%lo(";
    const char* close = *wrap != '\0' ? ")" : "";
    if (name != nullptr)
        printf("%s%s%s", wrap, name, close);
    else
        printf("%s0x%x%s", wrap, lookup, close);
}

// ---- operands ----

void print_reg(uint32_t n)
{
    printf("%%%s", reg_names[n]);
}

// A double or quad register: an odd field names one of %f32-%f62.
void print_fp_pair(uint32_t field)
{
    if ((field & 1) != 0)
        printf("%%f%u", 32 + 2 * (field >> 1));
    else
        print_reg(32 + field);
}

uint32_t read_word(const char* p, bool swapped)
{
    uint32_t word;
    memcpy(&word, p, sizeof word);
    return swapped ? SWAP_INT(word) : word;
}

// True when the template has an immediate added to a register.
bool adds_immediate(const char* args)
{
    for (const char* p = args; *p != '\0'; ++p)
        if (*p == '+' && p[1] == 'i')
            return true;
    return false;
}

} // namespace

void print_address_func(uint32_t value)
{
    printf("0x%x", value);
}

int label_symbol(uint32_t value, int colon, const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols)
{
    const char* name = guess_symbol(value, sorted_symbols, nsorted_symbols, 1);
    if (name == nullptr)
        return 0;
    printf("%s", name);
    if (colon == 1)
        printf(":\n");
    return 1;
}

uint32_t sparc_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                           byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                           const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                           uint32_t nsorted_symbols, const char* strings, uint64_t strings_size,
                           const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                           const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                           int verbose)
{
    std::call_once(sort_once, sort_opcodes);
    const bool swapped = get_host_byte_sex() != object_byte_sex;
    uint32_t word = 0;
    if (!read_instruction_word(sect, left, object_byte_sex, &word))
        return static_cast<uint32_t>(left);
    const uint32_t rd = (word >> 25) & 0x1f;
    const uint32_t rs1 = (word >> 14) & 0x1f;
    const uint32_t rs2 = word & 0x1f;

    const sparc_opcode* row = nullptr;
    for (int i = 0; i < bfd_sparc_num_opcodes; ++i) {
        const sparc_opcode& o = bfd_sparc_opcodes[i];
        if ((word & o.match) != o.match || (word & o.lose) != 0)
            continue;
        if (strchr(o.args, 'r') != nullptr && rd != rs1)
            continue;
        if (strchr(o.args, 'u') != nullptr && rs2 != rd)
            continue;
        row = &o;
        break;
    }
    if (row == nullptr) {
        printf(".long 0x%08x\n", word);
        return 4;
    }

    const uint32_t a = static_cast<uint32_t>(addr);
    const uint32_t r_address = static_cast<uint32_t>(addr - sect_addr);
    const auto symbolic = [&](char kind, uint32_t value) {
        print_symbolic(kind, value, r_address, relocs, nrelocs, symbols, nsymbols, sorted_symbols, nsorted_symbols,
                       strings, strings_size, verbose);
    };
    printf("%s", row->name);
    if (row->args[0] != ',')
        printf("\t");
    for (const char* p = row->args; *p != '\0'; ++p) {
        switch (*p) {
        case ',':
            if (p[1] == 'a') {
                printf(",a\t");
                ++p;
            } else {
                printf(",");
            }
            break;
        case '1':
        case 'r': print_reg(rs1); break;
        case '2':
        case 'u': print_reg(rs2); break;
        case 'd': print_reg(rd); break;
        case 'e': print_reg(32 + rs1); break;
        case 'f': print_reg(32 + rs2); break;
        case 'g': print_reg(32 + rd); break;
        case 'V':
        case 'v': print_fp_pair(rs1); break;
        case 'B':
        case 'R': print_fp_pair(rs2); break;
        case 'H':
        case 'J': print_fp_pair(rd); break;
        case 'i': printf("0x%x", sign_extend(word, 13)); break;
        case 'n': printf("%#x", sign_extend(word, 22)); break;
        case 'h': symbolic('h', word << 10); break;
        case 'l': symbolic('l', a + (sign_extend(word, 22) << 2)); break;
        case 'L': {
            const uint32_t target = a + (word << 2);
            symbolic('L', target);
            if (verbose) {
                if (const char* stub = guess_indirect_symbol(target, ncmds, sizeofcmds, load_commands,
                                                             object_byte_sex, indirect_symbols, nindirect_symbols,
                                                             symbols, nullptr, nsymbols, strings, strings_size))
                    printf("\t; symbol stub for: %s", stub);
            }
            break;
        }
        case 'A': printf("(%d)", static_cast<int>((word >> 5) & 0xff)); break;
        case '#': printf("0"); break;
        case 'D': printf("%%c%u", rd); break;
        case 'b': printf("%%c%u", rs1); break;
        case 'c': printf("%%c%u", rs2); break;
        case 'M': printf("%%asr%d", static_cast<int>(rs1)); break;
        case 'm': printf("%%asr%d", static_cast<int>(rd)); break;
        case 'C': printf("%%csr"); break;
        case 'F': printf("%%fsr"); break;
        case 'Q': printf("%%cq"); break;
        case 'p': printf("%%psr"); break;
        case 'q': printf("%%fq"); break;
        case 't': printf("%%tbr"); break;
        case 'w': printf("%%wim"); break;
        case 'y': printf("%%y"); break;
        default: putchar(*p); break;
        }
    }

    // The value a sethi two words back and this immediate build together.
    if (row->match == 0x80102000 || row->match == 0x80002000 || adds_immediate(row->args)) {
        const uint64_t offset = addr - sect_addr;
        const uint32_t before = offset >= 4 ? read_word(sect - 4, swapped) : 0;
        if (before != 0) {
            const uint32_t two_before = offset >= 8 ? read_word(sect - 8, swapped) : 0;
            if ((two_before & 0xc1c00000) == 0x01000000 && ((two_before >> 25) & 0x1f) == rs1) {
                printf("\t! ");
                print_address_func((two_before << 10) | sign_extend(word, 13));
            }
        }
    }
    printf("\n");
    return 4;
}

} // namespace macho
