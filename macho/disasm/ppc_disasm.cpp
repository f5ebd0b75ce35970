// The PowerPC disassembler: the 32- and 64-bit architecture, AltiVec, the
// supervisor and implementation instructions and the older POWER ones. A
// chain of switches on the primary and extended opcodes; branches and every
// operand a relocation entry can name go through print_immediate and bc.
#include "disasm/disasm.h"
#include "options.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace macho {

namespace {

// The PowerPC relocation types.
enum : uint32_t {
    PPC_RELOC_VANILLA = 0,
    PPC_RELOC_PAIR = 1,
    PPC_RELOC_HI16 = 4,
    PPC_RELOC_LO16 = 5,
    PPC_RELOC_HA16 = 6,
    PPC_RELOC_LO14 = 7,
    PPC_RELOC_SECTDIFF = 8,
    PPC_RELOC_HI16_SECTDIFF = 10,
    PPC_RELOC_LO16_SECTDIFF = 11,
    PPC_RELOC_HA16_SECTDIFF = 12,
    PPC_RELOC_JBSR_TYPE = 13,
    PPC_RELOC_LO14_SECTDIFF = 14,
    PPC_RELOC_LOCAL_SECTDIFF = 15,
};

const char* const rc[2] = {"", "."};
const char* const lk[2] = {"", "l"};
const char* const aa[2] = {"", "a"};
const char* const oe_rc[4] = {"", ".", "o", "o."};
const char* const bc_true[4] = {"lt", "gt", "eq", "un"};
const char* const bc_false[4] = {"ge", "le", "ne", "nu"};

// Everything the symbolic operands need.
struct context {
    uint64_t addr;
    uint64_t sect_addr;
    uint32_t sect_offset;
    bool wide; // 64-bit code: branch targets keep all 64 bits
    byte_sex object_byte_sex;
    const relocation_info* relocs;
    uint32_t nrelocs;
    const nlist* symbols;
    const nlist_64* symbols64;
    uint32_t nsymbols;
    const sorted_symbol* sorted_symbols;
    uint32_t nsorted_symbols;
    const char* strings;
    uint64_t strings_size;
    const uint32_t* indirect_symbols;
    uint32_t nindirect_symbols;
    const load_commands_view* load_commands;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    int verbose;
};

// ---- relocation entries ----

uint32_t entry_address(const relocation_info& r)
{
    return reloc_scattered(r) ? sreloc_address(r) : static_cast<uint32_t>(r.r_address);
}
uint32_t entry_type(const relocation_info& r)
{
    return reloc_scattered(r) ? sreloc_type(r) : reloc_type(r);
}
uint32_t entry_length(const relocation_info& r)
{
    return reloc_scattered(r) ? sreloc_length(r) : reloc_length(r);
}

bool takes_pair(uint32_t type)
{
    return (type >= 4 && type <= 8) || (type >= 10 && type <= 15);
}

// The first entry at `sect_offset` that is not a pair, or none.
const relocation_info* entry_at(uint32_t sect_offset, const relocation_info* relocs, uint32_t nrelocs)
{
    for (uint32_t i = 0; i < nrelocs; ++i) {
        if (entry_address(relocs[i]) == sect_offset && entry_type(relocs[i]) != PPC_RELOC_PAIR)
            return &relocs[i];
    }
    return nullptr;
}

int get_reloc_r_type(uint32_t sect_offset, const relocation_info* relocs, uint32_t nrelocs)
{
    const relocation_info* r = entry_at(sect_offset, relocs, nrelocs);
    return r != nullptr ? static_cast<int>(entry_type(*r)) : -1;
}

// A string-table name, never read past the table's end.
void print_name(const context& c, uint32_t strx)
{
    if (c.strings == nullptr || strx >= c.strings_size) {
        printf("bad string offset");
        return;
    }
    const uint64_t room = c.strings_size - strx;
    printf("%.*s", room > INT_MAX ? INT_MAX : static_cast<int>(room), c.strings + strx);
}

// The name of an external entry's symbol.
void print_external_name(const context& c, uint32_t symbolnum)
{
    if (symbolnum >= c.nsymbols || (c.symbols == nullptr && c.symbols64 == nullptr)) {
        printf("bad string offset");
        return;
    }
    print_name(c, c.symbols != nullptr ? c.symbols[symbolnum].n_strx : c.symbols64[symbolnum].n_strx);
}

// The wrapper a relocation type puts around its operand, or none.
const char* wrapper(uint32_t type)
{
    switch (type) {
    case PPC_RELOC_HI16:
        return "hi16";
    case PPC_RELOC_HA16:
        return "ha16";
    case PPC_RELOC_LO16:
    case PPC_RELOC_LO14:
        return "lo16";
    default:
        return nullptr;
    }
}

const char* guess(const context& c, uint64_t value)
{
    return guess_symbol(value, c.sorted_symbols, c.nsorted_symbols, c.verbose);
}

// One operand value, symbolically when the relocation entries or the sorted
// symbols allow.
void print_immediate(const context& c, uint64_t value)
{
    if (!c.verbose) {
        printf("0x%llx", static_cast<unsigned long long>(value));
        return;
    }
    const relocation_info* found = nullptr;
    uint32_t other_half = 0;
    uint32_t pair_value = 0;
    for (uint32_t i = 0; i < c.nrelocs; ++i) {
        const relocation_info& r = c.relocs[i];
        const unsigned long index = i;
        const uint32_t type = entry_type(r);
        if (type == PPC_RELOC_PAIR) {
            fprintf(stderr, "Stray PPC_RELOC_PAIR relocation entry %lu\n", index);
            continue;
        }
        const bool next_is_pair = i + 1 < c.nrelocs && entry_type(c.relocs[i + 1]) == PPC_RELOC_PAIR;
        if (entry_address(r) != c.sect_offset) {
            if (takes_pair(type)) {
                if (next_is_pair)
                    ++i;
                else
                    fprintf(stderr, "No PPC_RELOC_PAIR relocation entry after entry %lu\n", index);
            }
            continue;
        }
        if (takes_pair(type) && i + 1 < c.nrelocs) {
            if (!next_is_pair) {
                fprintf(stderr, "No PPC_RELOC_PAIR relocation entry after entry %lu\n", index);
                continue;
            }
            const relocation_info& pair = c.relocs[i + 1];
            const uint32_t pair_address = entry_address(pair);
            other_half = type == PPC_RELOC_JBSR_TYPE ? pair_address : pair_address & 0xffff;
            if (reloc_scattered(pair))
                pair_value = sreloc_value(pair);
        }
        found = &r;
        break;
    }
    if (found == nullptr) {
        const char* name = guess(c, value);
        if (name != nullptr)
            printf("%s", name);
        else
            printf("0x%llx", static_cast<unsigned long long>(value));
        return;
    }
    // Relocated operands are 32-bit fields.
    const uint32_t v = static_cast<uint32_t>(value);
    const relocation_info& r = *found;
    const uint32_t type = entry_type(r);
    uint32_t full;
    switch (type) {
    case PPC_RELOC_HI16:
    case PPC_RELOC_HI16_SECTDIFF:
        full = (v << 16) | other_half;
        break;
    case PPC_RELOC_HA16:
    case PPC_RELOC_HA16_SECTDIFF:
        full = (v << 16) + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(other_half)));
        break;
    case PPC_RELOC_LO16:
    case PPC_RELOC_LO14:
    case PPC_RELOC_LO16_SECTDIFF:
    case PPC_RELOC_LO14_SECTDIFF:
        full = (other_half << 16) | v;
        break;
    case PPC_RELOC_JBSR_TYPE:
        full = other_half;
        break;
    default:
        full = v;
        break;
    }
    const char* wrap = wrapper(type);
    if (!reloc_scattered(r) && reloc_extern(r)) {
        const uint32_t offset = type == PPC_RELOC_HA16 ? (v << 16) | other_half : full;
        if (wrap != nullptr)
            printf("%s(", wrap);
        print_external_name(c, reloc_symbolnum(r));
        if (offset != 0)
            printf("+0x%x", offset);
        if (wrap != nullptr)
            printf(")");
        return;
    }
    if (reloc_scattered(r)
        && (type == PPC_RELOC_HI16_SECTDIFF || type == PPC_RELOC_HA16_SECTDIFF || type == PPC_RELOC_LO16_SECTDIFF
            || type == PPC_RELOC_LO14_SECTDIFF)) {
        const uint32_t rv = sreloc_value(r);
        printf(type == PPC_RELOC_HI16_SECTDIFF ? "hi16(" : type == PPC_RELOC_HA16_SECTDIFF ? "ha16(" : "lo16(");
        const char* first = guess(c, rv);
        if (first != nullptr)
            printf("%s", first);
        else
            printf("0x%x", rv);
        const char* second = guess(c, pair_value);
        if (second != nullptr)
            printf("-%s", second);
        else
            printf("-0x%x", pair_value);
        const uint32_t rest = full + pair_value - rv;
        if (rest != 0)
            printf("+0x%x", rest);
        printf(")");
        return;
    }
    uint32_t address = full;
    uint32_t offset = 0;
    if (reloc_scattered(r)) {
        address = sreloc_value(r);
        offset = full - address;
    }
    if (wrap != nullptr)
        printf("%s(", wrap);
    const char* name = guess(c, address);
    if (name != nullptr)
        printf("%s", name);
    else
        printf("0x%x", address);
    if (offset != 0)
        printf("+0x%x", offset);
    if (wrap != nullptr)
        printf(")");
}

// ---- branches ----

// The mnemonic and leading operands of a conditional branch; `suffix` is
// "" for bc, "lr" for bclr and "ctr" for bcctr. Returns the operands printed.
int bc(const context& c, const char* suffix, uint32_t word)
{
    const bool primary16 = suffix[0] == '\0';
    const bool is_bcctr = (word & 0xfc0007fe) == 0x4c000420;
    const unsigned long bo = (word >> 21) & 31;
    const unsigned long bi = (word >> 16) & 31;
    const unsigned long crf = (word >> 18) & 7;
    const uint32_t cond = bi & 3;
    const unsigned long bh = primary16 ? 0 : (word >> 11) & 3;
    const char* l = lk[word & 1];
    const char* a = primary16 ? aa[(word >> 1) & 1] : "";

    const relocation_info* r = entry_at(c.sect_offset, c.relocs, c.nrelocs);
    const bool predicted = r != nullptr && entry_length(*r) == 3;
    const bool y = (bo & 1) != 0;
    const char* hint;
    if (primary16) {
        const bool negative = (word & 0x8000) != 0;
        if (!y)
            hint = predicted ? (negative ? "+" : "-") : "";
        else
            hint = negative ? "-" : "+";
    } else {
        hint = y ? "+" : predicted ? "-" : "";
    }

    if (Zflag == 1) {
        if (!primary16) {
            printf("bc%s%s%s\t%lu,%lu,%lu", suffix, l, a, bo, bi, bh);
            return 3;
        }
        printf("bc%s%s%s\t%lu,%lu", suffix, l, a, bo, bi);
        return 2;
    }

    const auto plain = [&](const char* h) {
        if (bh != 0) {
            printf("bc%s%s%s%s\t%lu,%lu,%lu", suffix, l, a, h, bo, bi, bh);
            return 3;
        }
        printf("bc%s%s%s%s\t%lu,%lu", suffix, l, a, h, bo, bi);
        return 2;
    };
    // The CR-field and BH operands of the condition forms.
    const auto condition = [&](const char* name, const char* h) {
        printf("b%s%s%s%s%s", name, suffix, l, a, h);
        int n = 0;
        if (crf != 0 || bh != 0) {
            printf("\tcr%lu", crf);
            ++n;
        }
        if (bh != 0) {
            printf(",%lu", bh);
            ++n;
        }
        return n;
    };
    const auto decrement = [&](const char* name, const char* h) {
        printf("%s%s%s%s%s", name, suffix, l, a, h);
        if (bh != 0) {
            printf("\t%lu", bh);
            return 1;
        }
        return 0;
    };
    const auto decrement_condition = [&](const char* name) {
        printf("%s%s%s%s%s\t", name, suffix, l, a, hint);
        if (crf != 0)
            printf("cr%lu+", crf);
        printf("%s", bc_true[cond]);
        if (bh != 0) {
            printf(",%lu", bh);
            return 2;
        }
        return 1;
    };

    switch (bo) {
    case 0:
    case 1:
        return is_bcctr ? plain(hint) : decrement_condition("bdnzf");
    case 2:
    case 3:
        return is_bcctr ? plain(hint) : decrement_condition("bdzf");
    case 8:
    case 9:
        return is_bcctr ? plain(hint) : decrement_condition("bdnzt");
    case 10:
    case 11:
        return is_bcctr ? plain(hint) : decrement_condition("bdzt");
    case 4:
    case 5:
        return condition(bc_false[cond], hint);
    case 6:
        return condition(bc_false[cond], "--");
    case 7:
        return condition(bc_false[cond], "++");
    case 12:
    case 13:
        return condition(bc_true[cond], hint);
    case 14:
        return condition(bc_true[cond], "--");
    case 15:
        return condition(bc_true[cond], "++");
    case 16:
    case 17:
    case 18:
    case 19:
    case 24:
    case 25:
    case 26:
    case 27: {
        if (is_bcctr || bi != 0)
            return plain(hint);
        const char* name = bo == 16 || bo == 17 || bo == 24 || bo == 25 ? "bdnz" : "bdz";
        const char* h = bo < 24 ? hint : (bo & 1) != 0 ? "++" : "--";
        return decrement(name, h);
    }
    case 20:
        if (bi == 0) {
            printf("b%s%s%s", suffix, l, a);
            if (bh != 0)
                printf("\t%lu", bh);
            return 0;
        }
        if (bh != 0) {
            printf("bc%s%s%s\t%lu,%lu,%lu", suffix, l, a, bo, bi, bh);
            return 3;
        }
        printf("bc%s%s%s\t%lu,%lu", suffix, l, a, bo, bi);
        return 2;
    default:
        return plain(hint);
    }
}

uint64_t branch_base(const context& c, uint32_t word)
{
    return (word & 2) != 0 ? 0 : c.addr;
}

// A branch target in the code's address width.
uint64_t target_of(const context& c, uint32_t word, int64_t displacement)
{
    const uint64_t t = branch_base(c, word) + static_cast<uint64_t>(displacement);
    return c.wide ? t : static_cast<uint32_t>(t);
}

void conditional_branch(const context& c, uint32_t word)
{
    const int n = bc(c, "", word);
    printf(n == 0 ? "\t" : ",");
    print_immediate(c, target_of(c, word, static_cast<int16_t>(word & 0xfffc)));
    printf("\n");
}

void branch(const context& c, uint32_t word)
{
    int32_t li = static_cast<int32_t>(word & 0x03fffffc);
    if ((li & 0x02000000) != 0)
        li -= 0x04000000;
    const uint64_t target = target_of(c, word, li);
    const uint32_t form = word & 0xfc000003;
    const bool jbsr = get_reloc_r_type(c.sect_offset, c.relocs, c.nrelocs) == PPC_RELOC_JBSR_TYPE;
    if (jbsr && (form == 0x48000001 || form == 0x48000000)) {
        printf(form == 0x48000001 ? "jbsr\t" : "jmp\t");
        print_immediate(c, c.sect_addr);
        printf(",0x%llx\n", static_cast<unsigned long long>(target));
        return;
    }
    printf("b%s%s\t", lk[word & 1], aa[(word >> 1) & 1]);
    print_immediate(c, target);
    if (c.verbose) {
        const char* name = guess_indirect_symbol(target, c.ncmds, c.sizeofcmds, *c.load_commands, c.object_byte_sex,
                                                 c.indirect_symbols, c.nindirect_symbols, c.symbols, c.symbols64,
                                                 c.nsymbols, c.strings, c.strings_size);
        if (name != nullptr)
            printf("\t; symbol stub for: %s", name);
    }
    printf("\n");
}

// ---- fields and form printers ----

unsigned long RT(uint32_t w)
{
    return (w >> 21) & 31;
}
unsigned long RA(uint32_t w)
{
    return (w >> 16) & 31;
}
unsigned long RB(uint32_t w)
{
    return (w >> 11) & 31;
}
unsigned long RC(uint32_t w)
{
    return (w >> 6) & 31;
}
unsigned long ME(uint32_t w)
{
    return (w >> 1) & 31;
}
unsigned long CRFD(uint32_t w)
{
    return (w >> 23) & 7;
}
const char* RC_(uint32_t w)
{
    return rc[w & 1];
}

void print_unknown(uint32_t w)
{
    printf(".long 0x%08x\n", w);
}

void xo_form(const char* name, uint32_t w, int operands)
{
    const char* s = oe_rc[((w >> 10) & 1) * 2 + (w & 1)];
    if (operands == 3)
        printf("%s%s\tr%lu,r%lu,r%lu\n", name, s, RT(w), RA(w), RB(w));
    else
        printf("%s%s\tr%lu,r%lu\n", name, s, RT(w), RA(w));
}

void x_form(const char* name, uint32_t w)
{
    printf("%s%s\tr%lu,r%lu,r%lu\n", name, RC_(w), RT(w), RA(w), RB(w));
}

void sx_form(const char* name, uint32_t w, int operands)
{
    if (operands == 3)
        printf("%s%s\tr%lu,r%lu,r%lu\n", name, RC_(w), RA(w), RT(w), RB(w));
    else
        printf("%s%s\tr%lu,r%lu\n", name, RC_(w), RA(w), RT(w));
}

void fx_form(const char* name, uint32_t w, int operands)
{
    if (operands == 3)
        printf("%s\tf%lu,r%lu,r%lu\n", name, RT(w), RA(w), RB(w));
    else
        printf("%s%s\tf%lu,f%lu\n", name, RC_(w), RT(w), RB(w));
}

void xl_form(const char* name, uint32_t w)
{
    printf("%s%s\t%lu,%lu,%lu\n", name, lk[w & 1], RT(w), RA(w), RB(w));
}

void a_form(const char* name, uint32_t w, int operands)
{
    if (operands == 3)
        printf("%s%s\tf%lu,f%lu,f%lu\n", name, RC_(w), RT(w), RA(w), RB(w));
    else
        printf("%s%s\tf%lu,f%lu,f%lu,f%lu\n", name, RC_(w), RT(w), RA(w), RC(w), RB(w));
}

// tw, td, twi and tdi: the mnemonic and the leading operands.
void trap(const char* width, uint32_t w, bool immediate)
{
    const char* i = immediate ? "i" : "";
    const char* name = nullptr;
    switch (RT(w)) {
    case 1: name = "lgt"; break;
    case 2: name = "llt"; break;
    case 4: name = "eq"; break;
    case 5: name = "lge"; break;
    case 6: name = "lle"; break;
    case 8: name = "gt"; break;
    case 12: name = "ge"; break;
    case 16: name = "lt"; break;
    case 20: name = "le"; break;
    case 24: name = "ne"; break;
    default: break;
    }
    if (name != nullptr)
        printf("t%s%s%s\tr%lu,", width, name, i, RA(w));
    else
        printf("t%s%s\t%lu,r%lu,", width, i, RT(w), RA(w));
}

void print_special_register_name(uint32_t w)
{
    const unsigned long spr = RA(w) + 32 * RB(w);
    static const char* const bats[16] = {"ibat0u", "ibat0l", "ibat1u", "ibat1l", "ibat2u", "ibat2l",
                                         "ibat3u", "ibat3l", "dbat0u", "dbat0l", "dbat1u", "dbat1l",
                                         "dbat2u", "dbat2l", "dbat3u", "dbat3l"};
    static const char* const perf[23] = {"ummcr0", "upmc1", "upmc2", "usia", "ummcr1", "upmc3", "upmc4", nullptr,
                                         nullptr,  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         "mmcr0",  "pmc1",  "pmc2",  "sia",  "mmcr1",  "pmc3",  "pmc4"};
    const char* name = nullptr;
    switch (spr) {
    case 0: name = "mq"; break;
    case 1: name = "xer"; break;
    case 4: name = "rtcu"; break;
    case 5: name = "rtcl"; break;
    case 8: name = "lr"; break;
    case 9: name = "ctr"; break;
    case 18: name = "dsisr"; break;
    case 19: name = "dar"; break;
    case 22: name = "dec"; break;
    case 25: name = "sdr1"; break;
    case 26: name = "srr0"; break;
    case 27: name = "srr1"; break;
    case 256: name = "VRsave"; break;
    case 272: name = "sprg0"; break;
    case 273: name = "sprg1"; break;
    case 274: name = "sprg2"; break;
    case 275: name = "sprg3"; break;
    case 280: name = "asr"; break;
    case 281: name = "rtcd"; break;
    case 282: name = "rtci"; break;
    case 284: name = "tbl"; break;
    case 285: name = "tbu"; break;
    case 287: name = "pvr"; break;
    case 959: name = "sda"; break;
    case 976: name = "dmiss"; break;
    case 977: name = "dcmp"; break;
    case 978: name = "hash1"; break;
    case 979: name = "hash2"; break;
    case 980: name = "imiss"; break;
    case 981: name = "icmp"; break;
    case 982: name = "rpa"; break;
    case 1008: name = "hid0"; break;
    case 1009: name = "hid1"; break;
    case 1010: name = "hid2"; break;
    case 1013: name = "dabr"; break;
    case 1017: name = "l2cr"; break;
    case 1019: name = "ictc"; break;
    case 1020: name = "thrm1"; break;
    case 1021: name = "thrm2"; break;
    case 1022: name = "thrm3"; break;
    case 1023: name = "pir"; break;
    default:
        if (spr >= 528 && spr <= 543)
            name = bats[spr - 528];
        else if (spr >= 936 && spr <= 958)
            name = perf[spr - 936];
        break;
    }
    if (name != nullptr)
        printf("%s", name);
    else
        printf("%lu", spr);
}

// ---- primary opcodes ----

void compare(uint32_t w, bool logical)
{
    const char* l = logical ? "l" : "";
    const long L = (w >> 21) & 1;
    if (Zflag == 1)
        printf("cmp%s\tcr%lu,%ld,r%lu,r%lu\n", l, CRFD(w), L, RA(w), RB(w));
    else if (CRFD(w) != 0)
        printf("cmp%s%s\tcr%lu,r%lu,r%lu\n", l, L ? "d" : "w", CRFD(w), RA(w), RB(w));
    else
        printf("cmp%s%s\tr%lu,r%lu\n", l, L ? "d" : "w", RA(w), RB(w));
}

void compare_immediate(const context& c, uint32_t w, bool logical)
{
    const char* l = logical ? "l" : "";
    const long L = (w >> 21) & 1;
    if (Zflag == 1)
        printf("cmp%si\tcr%lu,%ld,r%lu,", l, CRFD(w), L, RA(w));
    else if (CRFD(w) != 0)
        printf("cmp%s%si\tcr%lu,r%lu,", l, L ? "d" : "w", CRFD(w), RA(w));
    else
        printf("cmp%s%si\tr%lu,", l, L ? "d" : "w", RA(w));
    print_immediate(c, w & 0xffff);
    printf("\n");
}

// "name\trT,rA," then the 16-bit immediate.
void d_immediate(const context& c, const char* name, unsigned long t, unsigned long a, uint32_t w)
{
    printf("%s\tr%lu,r%lu,", name, t, a);
    print_immediate(c, w & 0xffff);
    printf("\n");
}

// D-form and DS-form loads and stores.
void load_store(const context& c, const char* name, char kind, uint32_t w, uint32_t displacement, bool zero_base)
{
    printf("%s\t%c%lu,", name, kind, RT(w));
    print_immediate(c, displacement);
    if (zero_base && RA(w) == 0)
        printf("(0)\n");
    else
        printf("(r%lu)\n", RA(w));
}

// Indexed forms: "name\tT,rA,rB" or "name\tT,0,rB".
void indexed(const char* name, char kind, uint32_t w)
{
    if (RA(w) == 0)
        printf("%s\t%c%lu,0,r%lu\n", name, kind, RT(w), RB(w));
    else
        printf("%s\t%c%lu,r%lu,r%lu\n", name, kind, RT(w), RA(w), RB(w));
}

// Cache forms: "name\trA,rB" or "name\t0,rB".
void cache(const char* name, uint32_t w)
{
    if (RA(w) == 0)
        printf("%s\t0,r%lu\n", name, RB(w));
    else
        printf("%s\tr%lu,r%lu\n", name, RA(w), RB(w));
}

void shift_immediate(const char* name, uint32_t w, unsigned long sh)
{
    printf("%s%s\tr%lu,r%lu,%lu\n", name, RC_(w), RA(w), RT(w), sh);
}

// The arithmetic forms of primary 31, matched without their OE bit.
bool arithmetic(uint32_t w)
{
    const char* name;
    int operands = 3;
    switch ((w >> 1) & 0x1ff) {
    case 8: name = "subfc"; break;
    case 10: name = "addc"; break;
    case 40: name = "subf"; break;
    case 136: name = "subfe"; break;
    case 138: name = "adde"; break;
    case 266: name = "add"; break;
    case 235: name = "mullw"; break;
    case 233: name = "mulld"; break;
    case 75: name = "mulhw"; break;
    case 11: name = "mulhwu"; break;
    case 73: name = "mulhd"; break;
    case 9: name = "mulhdu"; break;
    case 491: name = "divw"; break;
    case 459: name = "divwu"; break;
    case 489: name = "divd"; break;
    case 457: name = "divdu"; break;
    case 107: name = "mul"; break;
    case 331: name = "div"; break;
    case 363: name = "divs"; break;
    case 264: name = "doz"; break;
    case 104: name = "neg"; operands = 2; break;
    case 200: name = "subfze"; operands = 2; break;
    case 202: name = "addze"; operands = 2; break;
    case 232: name = "subfme"; operands = 2; break;
    case 234: name = "addme"; operands = 2; break;
    case 360: name = "abs"; operands = 2; break;
    case 488: name = "nabs"; operands = 2; break;
    default: return false;
    }
    xo_form(name, w, operands);
    return true;
}

void primary31(uint32_t w)
{
    const uint32_t xo = (w >> 1) & 0x3ff;
    switch (xo) {
    case 0:
        compare(w, false);
        return;
    case 32:
        compare(w, true);
        return;
    case 4:
    case 68:
        if (w == 0x7fe00008) {
            printf("trap\n");
            return;
        }
        trap(xo == 4 ? "w" : "d", w, false);
        printf("r%lu\n", RB(w));
        return;
    // update-indexed
    case 55: x_form("lwzux", w); return;
    case 119: x_form("lbzux", w); return;
    case 311: x_form("lhzux", w); return;
    case 375: x_form("lhaux", w); return;
    case 373: x_form("lwaux", w); return;
    case 53: x_form("ldux", w); return;
    case 183: x_form("stwux", w); return;
    case 247: x_form("stbux", w); return;
    case 439: x_form("sthux", w); return;
    case 181: x_form("stdux", w); return;
    // logical, shifts, POWER masks and shifts
    case 28: sx_form("and", w, 3); return;
    case 60: sx_form("andc", w, 3); return;
    case 444: sx_form("or", w, 3); return;
    case 412: sx_form("orc", w, 3); return;
    case 316: sx_form("xor", w, 3); return;
    case 124: sx_form("nor", w, 3); return;
    case 476: sx_form("nand", w, 3); return;
    case 284: sx_form("eqv", w, 3); return;
    case 24: sx_form("slw", w, 3); return;
    case 536: sx_form("srw", w, 3); return;
    case 792: sx_form("sraw", w, 3); return;
    case 27: sx_form("sld", w, 3); return;
    case 539: sx_form("srd", w, 3); return;
    case 794: sx_form("srad", w, 3); return;
    case 29: sx_form("maskg", w, 3); return;
    case 541: sx_form("maskir", w, 3); return;
    case 537: sx_form("rrib", w, 3); return;
    case 152: sx_form("slq", w, 3); return;
    case 153: sx_form("sle", w, 3); return;
    case 216: sx_form("sllq", w, 3); return;
    case 217: sx_form("sleq", w, 3); return;
    case 664: sx_form("srq", w, 3); return;
    case 665: sx_form("sre", w, 3); return;
    case 728: sx_form("srlq", w, 3); return;
    case 729: sx_form("sreq", w, 3); return;
    case 920: sx_form("sraq", w, 3); return;
    case 921: sx_form("srea", w, 3); return;
    case 26: sx_form("cntlzw", w, 2); return;
    case 58: sx_form("cntlzd", w, 2); return;
    case 922: sx_form("extsh", w, 2); return;
    case 954: sx_form("extsb", w, 2); return;
    case 986: sx_form("extsw", w, 2); return;
    // floating-point update-indexed
    case 567: fx_form("lfsux", w, 3); return;
    case 631: fx_form("lfdux", w, 3); return;
    case 695: fx_form("stfsux", w, 3); return;
    case 759: fx_form("stfdux", w, 3); return;
    // indexed
    case 20: indexed("lwarx", 'r', w); return;
    case 84: indexed("ldarx", 'r', w); return;
    case 21: indexed("ldx", 'r', w); return;
    case 23: indexed("lwzx", 'r', w); return;
    case 87: indexed("lbzx", 'r', w); return;
    case 279: indexed("lhzx", 'r', w); return;
    case 343: indexed("lhax", 'r', w); return;
    case 341: indexed("lwax", 'r', w); return;
    case 534: indexed("lwbrx", 'r', w); return;
    case 790: indexed("lhbrx", 'r', w); return;
    case 533: indexed("lswx", 'r', w); return;
    case 149: indexed("stdx", 'r', w); return;
    case 151: indexed("stwx", 'r', w); return;
    case 215: indexed("stbx", 'r', w); return;
    case 407: indexed("sthx", 'r', w); return;
    case 662: indexed("stwbrx", 'r', w); return;
    case 918: indexed("sthbrx", 'r', w); return;
    case 661: indexed("stswx", 'r', w); return;
    case 150: indexed("stwcx.", 'r', w); return;
    case 214: indexed("stdcx.", 'r', w); return;
    case 310: indexed("eciwx", 'r', w); return;
    case 438: indexed("ecowx", 'r', w); return;
    case 535: indexed("lfsx", 'f', w); return;
    case 599: indexed("lfdx", 'f', w); return;
    case 663: indexed("stfsx", 'f', w); return;
    case 727: indexed("stfdx", 'f', w); return;
    case 983: indexed("stfiwx", 'f', w); return;
    case 6: indexed("lvsl", 'v', w); return;
    case 38: indexed("lvsr", 'v', w); return;
    case 7: indexed("lvebx", 'v', w); return;
    case 39: indexed("lvehx", 'v', w); return;
    case 71: indexed("lvewx", 'v', w); return;
    case 103: indexed("lvx", 'v', w); return;
    case 359: indexed("lvxl", 'v', w); return;
    case 135: indexed("stvebx", 'v', w); return;
    case 167: indexed("stvehx", 'v', w); return;
    case 199: indexed("stvewx", 'v', w); return;
    case 231: indexed("stvx", 'v', w); return;
    case 487: indexed("stvxl", 'v', w); return;
    case 597:
    case 725: {
        const char* name = xo == 597 ? "lswi" : "stswi";
        if (RA(w) == 0)
            printf("%s\tr%lu,0,%lu\n", name, RT(w), RB(w));
        else
            printf("%s\tr%lu,r%lu,%lu\n", name, RT(w), RA(w), RB(w));
        return;
    }
    case 277:
        if (RA(w) == 0)
            printf("lscbx%s\tr%lu,0,r%lu\n", RC_(w), RT(w), RB(w));
        else
            printf("lscbx%s\tr%lu,r%lu,r%lu\n", RC_(w), RT(w), RA(w), RB(w));
        return;
    // cache
    case 54: cache("dcbst", w); return;
    case 86: cache("dcbf", w); return;
    case 246: cache("dcbtst", w); return;
    case 470: cache("dcbi", w); return;
    case 758: cache("dcba", w); return;
    case 982: cache("icbi", w); return;
    case 278: {
        const uint32_t th = static_cast<uint32_t>(RT(w));
        if (th == 0)
            cache("dcbt", w);
        else if (RA(w) == 0)
            printf("dcbt\t0,r%lu,0x%x\n", RB(w), th & 0xf);
        else
            printf("dcbt\tr%lu,r%lu,0x%x\n", RA(w), RB(w), th & 0xf);
        return;
    }
    case 1014:
        cache((w & 0x00200000) != 0 ? "dcbzl" : "dcbz", w);
        return;
    // shifts by an immediate
    case 824: shift_immediate("srawi", w, RB(w)); return;
    case 184: shift_immediate("sliq", w, RB(w)); return;
    case 248: shift_immediate("slliq", w, RB(w)); return;
    case 696: shift_immediate("sriq", w, RB(w)); return;
    case 760: shift_immediate("srliq", w, RB(w)); return;
    case 952: shift_immediate("sraiq", w, RB(w)); return;
    case 826:
    case 827:
        shift_immediate("sradi", w, RB(w) + 32 * ((w >> 1) & 1));
        return;
    // register moves and system
    case 19:
        if ((w & 0x00100000) == 0)
            printf("mfcr\tr%lu\n", RT(w));
        else
            printf("mfocrf\tr%lu,0x%02x\n", RT(w), (w >> 12) & 0xff);
        return;
    case 144:
        if ((w & 0x00100000) == 0)
            printf("mtcrf\t%lu,r%lu\n", static_cast<unsigned long>((w >> 12) & 0xff), RT(w));
        else
            printf("mtocrf\t0x%02x,r%lu\n", (w >> 12) & 0xff, RT(w));
        return;
    case 83: printf("mfmsr\tr%lu\n", RT(w)); return;
    case 146: printf("mtmsr\tr%lu\n", RT(w)); return;
    case 178:
        if ((w & 0x00010000) != 0)
            printf("mtmsrd\tr%lu,1\n", RT(w));
        else
            printf("mtmsrd\tr%lu\n", RT(w));
        return;
    case 210: printf("mtsr\tsr%lu,r%lu\n", static_cast<unsigned long>((w >> 16) & 0xf), RT(w)); return;
    case 595: printf("mfsr\tr%lu,sr%lu\n", RT(w), static_cast<unsigned long>((w >> 16) & 0xf)); return;
    case 242: printf("mtsrin\tr%lu,r%lu\n", RT(w), RB(w)); return;
    case 659: printf("mfsrin\tr%lu,r%lu\n", RT(w), RB(w)); return;
    case 512: printf("mcrxr\tcr%lu\n", CRFD(w)); return;
    case 531: printf("clcs\tr%lu,r%lu\n", RT(w), RA(w)); return;
    case 306:
        if ((w & 0x00200000) != 0)
            printf("tlbie\tr%lu,1\n", RB(w));
        else
            printf("tlbie\tr%lu\n", RB(w));
        return;
    case 274: printf("tlbiel\tr%lu\n", RB(w)); return;
    case 434: printf("slbie\tr%lu\n", RB(w)); return;
    case 978: printf("tlbld\tr%lu\n", RB(w)); return;
    case 1010: printf("tlbli\tr%lu\n", RB(w)); return;
    case 402: printf("slbmte\tr%lu,r%lu\n", RT(w), RB(w)); return;
    case 851: printf("slbmfev\tr%lu,r%lu\n", RT(w), RB(w)); return;
    case 915: printf("slbmfee\tr%lu,r%lu\n", RT(w), RB(w)); return;
    case 370: printf("tlbia\n"); return;
    case 498: printf("slbia\n"); return;
    case 566: printf("tlbsync\n"); return;
    case 854: printf("eieio\n"); return;
    case 598:
        switch ((w >> 21) & 3) {
        case 0: printf("sync\n"); break;
        case 1: printf("lwsync\n"); break;
        case 2: printf("ptesync\n"); break;
        default: printf("sync\t3\n"); break;
        }
        return;
    case 339:
        printf("mfspr\tr%lu,", RT(w));
        print_special_register_name(w);
        printf("\n");
        return;
    case 467:
        if ((w & 0xfc1fffff) == 0x7c1c43a6) {
            printf("mttbl\tr%lu\n", RT(w));
        } else if ((w & 0xfc1fffff) == 0x7c1d43a6) {
            printf("mttbu\tr%lu\n", RT(w));
        } else {
            printf("mtspr\t");
            print_special_register_name(w);
            printf(",r%lu\n", RT(w));
        }
        return;
    case 371: {
        const uint32_t tbr = (w >> 11) & 0x3ff;
        if (tbr == 0x188)
            printf("mftb\tr%lu\n", RT(w));
        else if (tbr == 0x1a8)
            printf("mftbu\tr%lu\n", RT(w));
        else
            printf("mftb\tr%lu,%lu\n", RT(w), RA(w) + 32 * RB(w));
        return;
    }
    case 342:
    case 374: {
        const bool transient = (w & 0x02000000) != 0;
        const char* name = xo == 342 ? (transient ? "dstt" : "dst") : (transient ? "dststt" : "dstst");
        printf("%s\tr%lu,r%lu,%lu\n", name, RA(w), RB(w), static_cast<unsigned long>((w >> 21) & 3));
        return;
    }
    case 822:
        if ((w & 0x02000000) != 0)
            printf("dssall\n");
        else
            printf("dss\t%lu\n", static_cast<unsigned long>((w >> 21) & 3));
        return;
    default:
        break;
    }
    if (!arithmetic(w))
        print_unknown(w);
}

void primary19(const context& c, uint32_t w)
{
    switch ((w >> 1) & 0x3ff) {
    case 0: printf("mcrf\tcr%lu,cr%lu\n", CRFD(w), static_cast<unsigned long>((w >> 18) & 7)); return;
    case 16:
        bc(c, "lr", w);
        printf("\n");
        return;
    case 528:
        bc(c, "ctr", w);
        printf("\n");
        return;
    case 18: printf("rfid\n"); return;
    case 50: printf("rfi\n"); return;
    case 150: printf("isync\n"); return;
    case 33: xl_form("crnor", w); return;
    case 129: xl_form("crandc", w); return;
    case 193: xl_form("crxor", w); return;
    case 225: xl_form("crnand", w); return;
    case 257: xl_form("crand", w); return;
    case 289: xl_form("creqv", w); return;
    case 417: xl_form("crorc", w); return;
    case 449: xl_form("cror", w); return;
    default: print_unknown(w); return;
    }
}

void primary30(uint32_t w)
{
    const unsigned long sh = RB(w) + 32 * ((w >> 1) & 1);
    const unsigned long mb = RC(w) + 32 * ((w >> 5) & 1);
    static const char* const md[4] = {"rldicl", "rldicr", "rldic", "rldimi"};
    const uint32_t kind = (w >> 1) & 0xf;
    if (kind < 8)
        printf("%s%s\tr%lu,r%lu,%lu,%lu\n", md[kind / 2], RC_(w), RA(w), RT(w), sh, mb);
    else if (kind == 8 || kind == 9)
        printf("%s%s\tr%lu,r%lu,r%lu,%lu\n", kind == 8 ? "rldcl" : "rldcr", RC_(w), RA(w), RT(w), RB(w), mb);
    else
        print_unknown(w);
}

void primary59(uint32_t w)
{
    switch ((w >> 1) & 31) {
    case 18: a_form("fdivs", w, 3); return;
    case 20: a_form("fsubs", w, 3); return;
    case 21: a_form("fadds", w, 3); return;
    case 22: printf("fsqrts%s\tf%lu,f%lu\n", RC_(w), RT(w), RB(w)); return;
    case 24: printf("fres%s\tf%lu,f%lu\n", RC_(w), RT(w), RB(w)); return;
    case 25: printf("fmuls%s\tf%lu,f%lu,f%lu\n", RC_(w), RT(w), RA(w), RC(w)); return;
    case 28: a_form("fmsubs", w, 4); return;
    case 29: a_form("fmadds", w, 4); return;
    case 30: a_form("fnmsubs", w, 4); return;
    case 31: a_form("fnmadds", w, 4); return;
    default: print_unknown(w); return;
    }
}

void primary63(uint32_t w)
{
    switch ((w >> 1) & 0x3ff) {
    case 0: printf("fcmpu\tcr%lu,f%lu,f%lu\n", CRFD(w), RA(w), RB(w)); return;
    case 32: printf("fcmpo\tcr%lu,f%lu,f%lu\n", CRFD(w), RA(w), RB(w)); return;
    case 38: printf("mtfsb1%s\t%lu\n", RC_(w), RT(w)); return;
    case 70: printf("mtfsb0%s\t%lu\n", RC_(w), RT(w)); return;
    case 64: printf("mcrfs\tcr%lu,%lu\n", CRFD(w), static_cast<unsigned long>((w >> 18) & 7)); return;
    case 134:
        printf("mtfsfi%s\t%lu,%lu\n", RC_(w), CRFD(w), static_cast<unsigned long>((w >> 12) & 0xf));
        return;
    case 583: printf("mffs%s\tf%lu\n", RC_(w), RT(w)); return;
    case 711: printf("mtfsf%s\t%lu,f%lu\n", RC_(w), static_cast<unsigned long>((w >> 17) & 0xff), RB(w)); return;
    case 12: fx_form("frsp", w, 2); return;
    case 14: fx_form("fctiw", w, 2); return;
    case 15: fx_form("fctiwz", w, 2); return;
    case 22: fx_form("fsqrt", w, 2); return;
    case 26: fx_form("frsqrte", w, 2); return;
    case 40: fx_form("fneg", w, 2); return;
    case 72: fx_form("fmr", w, 2); return;
    case 136: fx_form("fnabs", w, 2); return;
    case 264: fx_form("fabs", w, 2); return;
    case 814: fx_form("fctid", w, 2); return;
    case 815: fx_form("fctidz", w, 2); return;
    case 846: fx_form("fcfid", w, 2); return;
    default: break;
    }
    switch ((w >> 1) & 31) {
    case 18: a_form("fdiv", w, 3); return;
    case 20: a_form("fsub", w, 3); return;
    case 21: a_form("fadd", w, 3); return;
    case 23: printf("fsel%s\tf%lu,f%lu,f%lu,f%lu\n", RC_(w), RT(w), RA(w), RC(w), RB(w)); return;
    case 25: printf("fmul%s\tf%lu,f%lu,f%lu\n", RC_(w), RT(w), RA(w), RC(w)); return;
    case 28: a_form("fmsub", w, 4); return;
    case 29: a_form("fmadd", w, 4); return;
    case 30: a_form("fnmsub", w, 4); return;
    case 31: a_form("fnmadd", w, 4); return;
    default: print_unknown(w); return;
    }
}

// AltiVec VX operand layouts.
enum vx_layout { VX_3, VX_2, VX_UIMM, VX_SIMM, VX_VT, VX_VB };

struct vx_op {
    uint32_t xo;
    const char* name;
    vx_layout layout;
};

// The VX-form extended opcodes (bits 0-10), the compares aside.
const vx_op vx_ops[] = {
    {0, "vaddubm", VX_3},      {64, "vadduhm", VX_3},    {128, "vadduwm", VX_3},   {384, "vaddcuw", VX_3},
    {512, "vaddubs", VX_3},    {576, "vadduhs", VX_3},   {640, "vadduws", VX_3},   {768, "vaddsbs", VX_3},
    {832, "vaddshs", VX_3},    {896, "vaddsws", VX_3},   {1024, "vsububm", VX_3},  {1088, "vsubuhm", VX_3},
    {1152, "vsubuwm", VX_3},   {1408, "vsubcuw", VX_3},  {1536, "vsububs", VX_3},  {1600, "vsubuhs", VX_3},
    {1664, "vsubuws", VX_3},   {1792, "vsubsbs", VX_3},  {1856, "vsubshs", VX_3},  {1920, "vsubsws", VX_3},
    {2, "vmaxub", VX_3},       {66, "vmaxuh", VX_3},     {130, "vmaxuw", VX_3},    {258, "vmaxsb", VX_3},
    {322, "vmaxsh", VX_3},     {386, "vmaxsw", VX_3},    {514, "vminub", VX_3},    {578, "vminuh", VX_3},
    {642, "vminuw", VX_3},     {770, "vminsb", VX_3},    {834, "vminsh", VX_3},    {898, "vminsw", VX_3},
    {1026, "vavgub", VX_3},    {1090, "vavguh", VX_3},   {1154, "vavguw", VX_3},   {1282, "vavgsb", VX_3},
    {1346, "vavgsh", VX_3},    {1410, "vavgsw", VX_3},   {4, "vrlb", VX_3},        {68, "vrlh", VX_3},
    {132, "vrlw", VX_3},       {260, "vslb", VX_3},      {324, "vslh", VX_3},      {388, "vslw", VX_3},
    {452, "vsl", VX_3},        {516, "vsrb", VX_3},      {580, "vsrh", VX_3},      {644, "vsrw", VX_3},
    {708, "vsr", VX_3},        {772, "vsrab", VX_3},     {836, "vsrah", VX_3},     {900, "vsraw", VX_3},
    {1028, "vand", VX_3},      {1092, "vandc", VX_3},    {1156, "vor", VX_3},      {1220, "vxor", VX_3},
    {1284, "vnor", VX_3},      {1540, "mfvscr", VX_VT},  {1604, "mtvscr", VX_VB},  {8, "vmuloub", VX_3},
    {72, "vmulouh", VX_3},     {264, "vmulosb", VX_3},   {328, "vmulosh", VX_3},   {520, "vmuleub", VX_3},
    {584, "vmuleuh", VX_3},    {776, "vmulesb", VX_3},   {840, "vmulesh", VX_3},   {1544, "vsum4ubs", VX_3},
    {1608, "vsum4shs", VX_3},  {1672, "vsum2sws", VX_3}, {1800, "vsum4sbs", VX_3}, {1928, "vsumsws", VX_3},
    {10, "vaddfp", VX_3},      {74, "vsubfp", VX_3},     {266, "vrefp", VX_2},     {330, "vrsqrtefp", VX_2},
    {394, "vexptefp", VX_2},   {458, "vlogefp", VX_2},   {522, "vrfin", VX_2},     {586, "vrfiz", VX_2},
    {650, "vrfip", VX_2},      {714, "vrfim", VX_2},     {778, "vcfux", VX_UIMM},  {842, "vcfsx", VX_UIMM},
    {906, "vctuxs", VX_UIMM},  {970, "vctsxs", VX_UIMM}, {1034, "vmaxfp", VX_3},   {1098, "vminfp", VX_3},
    {12, "vmrghb", VX_3},      {76, "vmrghh", VX_3},     {140, "vmrghw", VX_3},    {268, "vmrglb", VX_3},
    {332, "vmrglh", VX_3},     {396, "vmrglw", VX_3},    {524, "vspltb", VX_UIMM}, {588, "vsplth", VX_UIMM},
    {652, "vspltw", VX_UIMM},  {780, "vspltisb", VX_SIMM}, {844, "vspltish", VX_SIMM}, {908, "vspltisw", VX_SIMM},
    {1036, "vslo", VX_3},      {1100, "vsro", VX_3},     {14, "vpkuhum", VX_3},    {78, "vpkuwum", VX_3},
    {142, "vpkuhus", VX_3},    {206, "vpkuwus", VX_3},   {270, "vpkshus", VX_3},   {334, "vpkswus", VX_3},
    {398, "vpkshss", VX_3},    {462, "vpkswss", VX_3},   {526, "vupkhsb", VX_2},   {590, "vupkhsh", VX_2},
    {654, "vupklsb", VX_2},    {718, "vupklsh", VX_2},   {782, "vpkpx", VX_3},     {846, "vupkhpx", VX_2},
    {974, "vupklpx", VX_2},
};

// The vector compares (bits 0-9; bit 10 is their record bit).
const vx_op vx_compares[] = {
    {6, "vcmpequb", VX_3},   {70, "vcmpequh", VX_3},  {134, "vcmpequw", VX_3}, {198, "vcmpeqfp", VX_3},
    {454, "vcmpgefp", VX_3}, {518, "vcmpgtub", VX_3}, {582, "vcmpgtuh", VX_3}, {646, "vcmpgtuw", VX_3},
    {710, "vcmpgtfp", VX_3}, {774, "vcmpgtsb", VX_3}, {838, "vcmpgtsh", VX_3}, {902, "vcmpgtsw", VX_3},
    {966, "vcmpbfp", VX_3},
};

void primary4(uint32_t w)
{
    if ((w & 0x20) != 0) {
        // The published VA-form opcodes are 32 to 47: bit 4 set is none.
        if ((w & 0x10) != 0) {
            print_unknown(w);
            return;
        }
        static const char* const va[16] = {"vmhaddshs", "vmhraddshs", "vmladduhm", nullptr, "vmsumubm", "vmsummbm",
                                           "vmsumuhm",  "vmsumuhs",   "vmsumshm",  "vmsumshs", "vsel",   "vperm",
                                           nullptr,     nullptr,      "vmaddfp",   "vnmsubfp"};
        const uint32_t kind = w & 0xf;
        if (kind == 12)
            printf("vsldoi\tv%lu,v%lu,v%lu,%lu\n", RT(w), RA(w), RB(w), static_cast<unsigned long>((w >> 6) & 0xf));
        else if (kind == 14 || kind == 15)
            printf("%s\tv%lu,v%lu,v%lu,v%lu\n", va[kind], RT(w), RA(w), RC(w), RB(w));
        else if (va[kind] != nullptr)
            printf("%s\tv%lu,v%lu,v%lu,v%lu\n", va[kind], RT(w), RA(w), RB(w), RC(w));
        else
            print_unknown(w);
        return;
    }
    if ((w & 0x31) != 0) {
        print_unknown(w);
        return;
    }
    const uint32_t xo = w & 0x7ff;
    if ((xo & 0xf) == 6) {
        for (const vx_op& op : vx_compares) {
            if (op.xo == (xo & 0x3ff)) {
                printf("%s%s\tv%lu,v%lu,v%lu\n", op.name, rc[(xo >> 10) & 1], RT(w), RA(w), RB(w));
                return;
            }
        }
        print_unknown(w);
        return;
    }
    for (const vx_op& op : vx_ops) {
        if (op.xo != xo)
            continue;
        switch (op.layout) {
        case VX_3: printf("%s\tv%lu,v%lu,v%lu\n", op.name, RT(w), RA(w), RB(w)); break;
        case VX_2: printf("%s\tv%lu,v%lu\n", op.name, RT(w), RB(w)); break;
        case VX_UIMM: printf("%s\tv%lu,v%lu,%lu\n", op.name, RT(w), RB(w), RA(w)); break;
        case VX_SIMM: {
            long simm = static_cast<long>(RA(w));
            if (simm >= 16)
                simm -= 32;
            printf("%s\tv%lu,%ld\n", op.name, RT(w), simm);
            break;
        }
        case VX_VT: printf("%s\tv%lu\n", op.name, RT(w)); break;
        case VX_VB: printf("%s\tv%lu\n", op.name, RB(w)); break;
        }
        return;
    }
    print_unknown(w);
}

void decode(const context& c, uint32_t w)
{
    const uint32_t primary = w >> 26;
    const uint32_t d = w & 0xffff;
    static const char* const dform[24] = {"lwz",  "lwzu",  "lbz",  "lbzu",  "stw",  "stwu",  "stb",  "stbu",
                                          "lhz",  "lhzu",  "lha",  "lhau",  "sth",  "sthu",  "lmw",  "stmw",
                                          "lfs",  "lfsu",  "lfd",  "lfdu",  "stfs", "stfsu", "stfd", "stfdu"};
    // Which of them print "(0)" for a base of r0.
    static const bool zero_base[24] = {true, false, true, true,  true, false, true, false,
                                       true, true,  true, false, true, false, true, true,
                                       true, false, true, false, true, false, true, false};
    switch (primary) {
    case 0:
        if ((w & 0xfc0007ff) == 0x200)
            printf("attn\t0x%x\n", (w >> 11) & 0x7fff);
        else
            print_unknown(w);
        return;
    case 2:
    case 3:
        trap(primary == 2 ? "d" : "w", w, true);
        print_immediate(c, d);
        printf("\n");
        return;
    case 4:
        primary4(w);
        return;
    case 7: d_immediate(c, "mulli", RT(w), RA(w), w); return;
    case 8: d_immediate(c, "subfic", RT(w), RA(w), w); return;
    case 9: d_immediate(c, "dozi", RT(w), RA(w), w); return;
    case 10: compare_immediate(c, w, true); return;
    case 11: compare_immediate(c, w, false); return;
    case 12: d_immediate(c, "addic", RT(w), RA(w), w); return;
    case 13: d_immediate(c, "addic.", RT(w), RA(w), w); return;
    case 14:
    case 15:
        if (RA(w) == 0) {
            printf(primary == 14 ? "li\tr%lu," : "lis\tr%lu,", RT(w));
            print_immediate(c, d);
            printf("\n");
        } else {
            d_immediate(c, primary == 14 ? "addi" : "addis", RT(w), RA(w), w);
        }
        return;
    case 16:
        conditional_branch(c, w);
        return;
    case 17:
        if ((w & 0x7fe) == 2)
            printf("sc\n");
        else
            print_unknown(w);
        return;
    case 18:
        branch(c, w);
        return;
    case 19:
        primary19(c, w);
        return;
    case 20:
    case 21:
        printf("%s%s\tr%lu,r%lu,%lu,%lu,%lu\n", primary == 20 ? "rlwimi" : "rlwinm", RC_(w), RA(w), RT(w), RB(w),
               RC(w), ME(w));
        return;
    case 22:
    case 23:
        printf("%s%s\tr%lu,r%lu,r%lu,%lu,%lu\n", primary == 22 ? "rlmi" : "rlwnm", RC_(w), RA(w), RT(w), RB(w),
               RC(w), ME(w));
        return;
    case 24:
        if (w == 0x60000000) {
            printf("nop\n");
            return;
        }
        d_immediate(c, "ori", RA(w), RT(w), w);
        return;
    case 25: d_immediate(c, "oris", RA(w), RT(w), w); return;
    case 26: d_immediate(c, "xori", RA(w), RT(w), w); return;
    case 27: d_immediate(c, "xoris", RA(w), RT(w), w); return;
    case 28: d_immediate(c, "andi.", RA(w), RT(w), w); return;
    case 29: d_immediate(c, "andis.", RA(w), RT(w), w); return;
    case 30:
        primary30(w);
        return;
    case 31:
        primary31(w);
        return;
    case 58:
    case 62: {
        static const char* const ds58[3] = {"ld", "ldu", "lwa"};
        static const char* const ds62[2] = {"std", "stdu"};
        const uint32_t kind = w & 3;
        if ((primary == 58 && kind == 3) || (primary == 62 && kind > 1)) {
            print_unknown(w);
            return;
        }
        load_store(c, primary == 58 ? ds58[kind] : ds62[kind], 'r', w, d & 0xfffc, kind != 1);
        return;
    }
    case 59:
        primary59(w);
        return;
    case 63:
        primary63(w);
        return;
    default:
        break;
    }
    if (primary >= 32 && primary <= 55) {
        const uint32_t k = primary - 32;
        load_store(c, dform[k], k >= 16 ? 'f' : 'r', w, d, zero_base[k]);
        return;
    }
    print_unknown(w);
}

} // namespace

uint32_t ppc_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                         byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                         const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                         const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                         uint64_t strings_size, const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                         const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                         int verbose)
{
    const bool swapped = get_host_byte_sex() != object_byte_sex;
    uint32_t w = 0;
    if (left < 4) {
        if (left != 0) {
            memcpy(&w, sect, static_cast<size_t>(left));
            printf(".long\t0x%08x\n", swapped ? SWAP_INT(w) : w);
        }
        printf("(end of section)\n");
        return static_cast<uint32_t>(left);
    }
    memcpy(&w, sect, 4);
    if (swapped)
        w = SWAP_INT(w);
    const bool wide = symbols64 != nullptr || (addr >> 32) != 0 || (sect_addr >> 32) != 0;
    const context c{addr,
                    sect_addr,
                    static_cast<uint32_t>(addr - sect_addr),
                    wide,
                    object_byte_sex,
                    relocs,
                    nrelocs,
                    symbols,
                    symbols64,
                    nsymbols,
                    sorted_symbols,
                    nsorted_symbols,
                    strings,
                    strings_size,
                    indirect_symbols,
                    nindirect_symbols,
                    &load_commands,
                    ncmds,
                    sizeofcmds,
                    verbose};
    decode(c, w);
    return 4;
}

} // namespace macho
