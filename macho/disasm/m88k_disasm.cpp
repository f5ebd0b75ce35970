// The m88k disassembler: the 88100 set with the 88110 additions (extended
// registers, their loads, stores and moves, conversions and graphics). A
// hand-written tree over the opcode fields; each instruction is one format
// string, and a trailing immediate or branch target goes through
// print_immediate, which applies the high/low relocation pairs.
#include "disasm/disasm.h"
#include "disasm/family.h"

#include <cstdio>
#include <cstring>

namespace macho {

namespace {

const char ty[] = "sdx?";
const char* const ty_star[4] = {".s", ".d", ".?", ".?"};
const char* const io[4] = {"", ".co", ".ci", ".cio"};
const char* const tyf1[4] = {".d", "", ".h", ".x"};
const char* const tyr1[4] = {".d", "", ".h", ".b"};
const char* const tyr0[4] = {".d", "", ".x", ".?"};
const char* const b[2] = {".hu", ".bu"};
const char* const w[2] = {".bu", ""};
const char* const usr[2] = {"", ".usr"};
const char* const thru[2] = {"", ".wt"};
const char* const sat[4] = {"", "s.u", "s.us", "s.s"};
const char* const pt[4] = {".n", ".b", ".h", ""};
const char* const b5[14] = {"eq", "ne", "gt", "le", "lt", "ge", "hi", "ls", "lo", "hs", "be", "nb", "he", "nh"};

// Loads, stores, logical and arithmetic with a 16-bit immediate, by opcode.
const char* const immediate_formats[32] = {
    "ld.d\tx%lu,r%lu,",  "ld\tx%lu,r%lu,",    "ld.hu\tr%lu,r%lu,", "ld.bu\tr%lu,r%lu,", "ld.d\tr%lu,r%lu,",
    "ld\tr%lu,r%lu,",    "ld.h\tr%lu,r%lu,",  "ld.b\tr%lu,r%lu,",  "st.d\tr%lu,r%lu,",  "st\tr%lu,r%lu,",
    "st.h\tr%lu,r%lu,",  "st.b\tr%lu,r%lu,",  "st.d\tx%lu,r%lu,",  "st\tx%lu,r%lu,",    "st.x\tx%lu,r%lu,",
    "ld.x\tx%lu,r%lu,",  "and\tr%lu,r%lu,",   "and.u\tr%lu,r%lu,", "mask\tr%lu,r%lu,",  "mask.u\tr%lu,r%lu,",
    "xor\tr%lu,r%lu,",   "xor.u\tr%lu,r%lu,", "or\tr%lu,r%lu,",    "or.u\tr%lu,r%lu,",  "addu\tr%lu,r%lu,",
    "subu\tr%lu,r%lu,",  "divu\tr%lu,r%lu,",  "mulu\tr%lu,r%lu,",  "add\tr%lu,r%lu,",   "sub\tr%lu,r%lu,",
    "divs\tr%lu,r%lu,",  "cmp\tr%lu,r%lu,"};

// Relocation types of m88k entries.
constexpr uint32_t M88K_RELOC_PAIR = 1;
constexpr uint32_t M88K_RELOC_HI16 = 4;
constexpr uint32_t M88K_RELOC_LO16 = 5;

using ul = unsigned long;

void print_b5(uint32_t field)
{
    if (field >= 2 && field <= 15)
        printf("%s", b5[field - 2]);
    else
        printf("%lu", static_cast<ul>(field));
}

void print_m5(uint32_t field)
{
    switch (field) {
    case 1: printf("gt0"); break;
    case 2: printf("eq0"); break;
    case 3: printf("ge0"); break;
    case 12: printf("lt0"); break;
    case 13: printf("ne0"); break;
    case 14: printf("le0"); break;
    default: printf("%lu", static_cast<ul>(field)); break;
    }
}

bool has_pair(uint32_t type)
{
    return type == M88K_RELOC_HI16 || type == M88K_RELOC_LO16;
}

// The sorted symbol whose value is exactly `value`, or none.
const sorted_symbol* find_symbol(uint32_t value, const sorted_symbol* sorted, uint32_t nsorted)
{
    if (sorted == nullptr)
        return nullptr;
    uint32_t lo = 0;
    uint32_t hi = nsorted;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (sorted[mid].n_value < value)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < nsorted && sorted[lo].n_value == value ? &sorted[lo] : nullptr;
}

// `name` as "hi16(name)", "lo16(name+0x..)" or "name+0x.." by the entry's
// type, and the newline.
void print_named(uint32_t type, const char* name, int len, uint32_t offset)
{
    const char* wrap = type == M88K_RELOC_HI16 ? "hi16(" : type == M88K_RELOC_LO16 ? "lo16(" : "";
    const char* close = *wrap != '\0' ? ")" : "";
    if (offset != 0)
        printf("%s%.*s+0x%x%s\n", wrap, len, name, offset, close);
    else
        printf("%s%.*s%s\n", wrap, len, name, close);
}

void print_immediate(uint32_t value, uint32_t r_address, const relocation_info* relocs, uint32_t nrelocs,
                     const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                     uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose)
{
    if (!verbose) {
        printf("0x%x\n", value);
        return;
    }
    bool found = false;
    reloc_entry found_entry{};
    uint32_t other_half = 0;
    if (relocs == nullptr)
        nrelocs = 0;
    for (uint32_t i = 0; i < nrelocs; i++) {
        const reloc_entry e = read_reloc_entry(relocs[i]);
        if (e.type == M88K_RELOC_PAIR) {
            fprintf(stderr, "Stray M88K_RELOC_PAIR relocation entry %lu\n", static_cast<ul>(i));
            continue;
        }
        if (e.address == r_address) {
            if (has_pair(e.type) && i + 1 < nrelocs) {
                const reloc_entry pair = read_reloc_entry(relocs[i + 1]);
                if (pair.type != M88K_RELOC_PAIR) {
                    fprintf(stderr, "No M88K_RELOC_PAIR relocation entry after entry %lu\n", static_cast<ul>(i));
                    continue;
                }
                other_half = pair.address & (pair.scattered ? 0xfff : 0xffff);
            }
            found = true;
            found_entry = e;
            break;
        }
        if (has_pair(e.type) && i + 1 < nrelocs) {
            if (read_reloc_entry(relocs[i + 1]).type == M88K_RELOC_PAIR)
                i++;
            else
                fprintf(stderr, "No M88K_RELOC_PAIR relocation entry after entry %lu\n", static_cast<ul>(i));
        }
    }

    const uint32_t type = found ? found_entry.type : 0;
    uint32_t full = value;
    if (type == M88K_RELOC_HI16)
        full = (value << 16) | other_half;
    else if (type == M88K_RELOC_LO16)
        full = value | (other_half << 16);

    if (found && found_entry.external) {
        int len = 0;
        const char* name =
            reloc_symbol_name(found_entry.symbolnum, symbols, nsymbols, strings, strings_size, &len);
        print_named(type, name, len, has_pair(type) ? full : value);
        return;
    }

    const uint32_t lookup = found && found_entry.scattered ? found_entry.value : full;
    const uint32_t offset = full - lookup;
    if (const sorted_symbol* s = find_symbol(lookup, sorted_symbols, nsorted_symbols)) {
        const char* name = s->name != nullptr ? s->name : "";
        print_named(type, name, static_cast<int>(strlen(name)), offset);
        return;
    }
    if (has_pair(type)) {
        const char* wrap = type == M88K_RELOC_HI16 ? "hi16" : "lo16";
        if (offset != 0)
            printf("%s(0x%x+0x%x)\n", wrap, lookup, offset);
        else
            printf("%s(0x%x)\n", wrap, lookup);
    } else if (offset != 0) {
        printf("0x%x+0x%x\n", lookup, offset);
    } else {
        printf("0x%04x\n", lookup);
    }
}

// Three registers, each "x" when `x` is set, else "r".
void print_regs3(bool x, uint32_t d, uint32_t s1, uint32_t s2)
{
    printf(x ? "\tx%lu,x%lu,x%lu\n" : "\tr%lu,r%lu,r%lu\n", static_cast<ul>(d), static_cast<ul>(s1),
           static_cast<ul>(s2));
}

void print_word(uint32_t word)
{
    printf("0x%08x\n", word);
}

void control(uint32_t word, uint32_t d, uint32_t s1, uint32_t s2)
{
    const ul crn = (word >> 5) & 0x3f;
    const bool fp = (word & 0x0800) != 0;
    switch (word & 0xf000) {
    case 0x4000:
        if (s1 == 0 && s2 == 0) {
            printf(fp ? "fldcr\tr%lu,fcr%lu\n" : "ldcr\tr%lu,cr%lu\n", static_cast<ul>(d), crn);
            return;
        }
        break;
    case 0x8000:
        if (d == 0) {
            printf(fp ? "fstcr\tr%lu,fcr%lu%s\n" : "stcr\tr%lu,cr%lu%s\n", static_cast<ul>(s1), crn,
                   s1 != s2 ? "\t| error: fields S1 != S2" : "");
            return;
        }
        break;
    case 0xc000:
        printf(fp ? "fxcr\tr%lu,r%lu,fcr%lu%s\n" : "xcr\tr%lu,r%lu,cr%lu%s\n", static_cast<ul>(d),
               static_cast<ul>(s1), crn, s1 != s2 ? "\t| error: fields S1 != S2" : "");
        return;
    default:
        break;
    }
    print_word(word);
}

void floating_point(uint32_t word, uint32_t d, uint32_t s1, uint32_t s2)
{
    const bool x = (word & 0x8000) != 0;
    const char td = ty[(word >> 5) & 3];
    const char t1 = ty[(word >> 9) & 3];
    const uint32_t t2i = (word >> 7) & 3;
    const char t2 = ty[t2i];
    const ul ud = d;
    const ul us2 = s2;
    switch (word & 0x7800) {
    case 0x0000:
    case 0x2800:
    case 0x3000:
    case 0x7000: {
        const uint32_t op = word & 0x7800;
        const char* name = op == 0x0000 ? "fmul" : op == 0x2800 ? "fadd" : op == 0x3000 ? "fsub" : "fdiv";
        printf("%s.%c%c%c", name, td, t1, t2);
        print_regs3(x, d, s1, s2);
        return;
    }
    case 0x0800:
    case 0x7800:
        printf((word & 0x7800) == 0x0800 ? "fcvt.%c%c" : "fsqrt.%c%c", td, t2);
        printf(x ? "\tx%lu,x%lu\n" : "\tr%lu,r%lu\n", ud, us2);
        return;
    case 0x2000:
        printf((word & 0x200) != 0 ? "flt.%cs\tx%lu,r%lu\n" : "flt.%cs\tr%lu,r%lu\n", td, ud, us2);
        return;
    case 0x3800: {
        const uint32_t kind = (word >> 5) & 3;
        if (kind > 1)
            break;
        printf(kind == 0 ? "fcmp.s%c%c" : "fcmpu.s%c%c", t1, t2);
        printf(x ? "\tr%lu,x%lu,x%lu\n" : "\tr%lu,r%lu,r%lu\n", ud, static_cast<ul>(s1), us2);
        return;
    }
    case 0x4000:
        if ((word & 0x8660) == 0x8000) {
            printf("mov%s\tr%lu,x%lu\n", ty_star[t2i], ud, us2);
            return;
        }
        if ((word & 0x8660) == 0x0200) {
            printf("mov%s\tx%lu,r%lu\n", ty_star[t2i], ud, us2);
            return;
        }
        if ((word & 0x87e0) == 0x8300) {
            printf("mov\tx%lu,x%lu\n", ud, us2);
            return;
        }
        break;
    case 0x4800:
    case 0x5000:
    case 0x5800: {
        const uint32_t form = word & 0x8660;
        if (form != 0x8000 && form != 0)
            break;
        const uint32_t op = word & 0x7800;
        printf(op == 0x4800 ? "int.s%c" : op == 0x5000 ? "nint.s%c" : "trnc.s%c", t2);
        printf(form == 0x8000 ? "\tr%lu,x%lu\n" : "\tr%lu,r%lu\n", ud, us2);
        return;
    }
    default:
        break;
    }
    print_word(word);
}

void graphics(uint32_t word, uint32_t d, uint32_t s1, uint32_t s2)
{
    const ul ud = d, us1 = s1, us2 = s2;
    const char* ptn = pt[(word >> 5) & 3];
    switch (word & 0xf800) {
    case 0x0000: printf("pmul\tr%lu,r%lu,r%lu\n", ud, us1, us2); return;
    case 0x3800: printf("pcmp\tr%lu,r%lu,r%lu\n", ud, us1, us2); return;
    case 0x2000: printf("padd%s%s\tr%lu,r%lu,r%lu\n", sat[(word >> 7) & 3], ptn, ud, us1, us2); return;
    case 0x3000: printf("psub%s%s\tr%lu,r%lu,r%lu\n", sat[(word >> 7) & 3], ptn, ud, us1, us2); return;
    case 0x6000:
        switch (word & 0x780) {
        case 0x100: printf("ppack.8%s\tr%lu,r%lu,r%lu\n", ptn, ud, us1, us2); return;
        case 0x200: printf("ppack.16%s\tr%lu,r%lu,r%lu\n", ptn, ud, us1, us2); return;
        case 0x400: printf("ppack.32%s\tr%lu,r%lu,r%lu\n", ptn, ud, us1, us2); return;
        default: break;
        }
        break;
    case 0x6800: printf("punpk%s\tr%lu,r%lu\n", ptn, ud, us1); return;
    case 0x7000: printf("prot\tr%lu,r%lu,<%lu>\n", ud, us1, static_cast<ul>((word >> 5) & 0x3c)); return;
    case 0x7800: printf("prot\tr%lu,r%lu,r%lu\n", ud, us1, us2); return;
    default: break;
    }
    print_word(word);
}

// "\tr,r[r]\n" when bit 9 (scaled) is set, else "\tr,r,r\n"; `x` names D
// as an extended register.
void print_indexed(uint32_t word, bool x, uint32_t d, uint32_t s1, uint32_t s2)
{
    const char* format = (word & 0x200) != 0 ? (x ? "\tx%lu,r%lu[r%lu]\n" : "\tr%lu,r%lu[r%lu]\n")
                                              : (x ? "\tx%lu,r%lu,r%lu\n" : "\tr%lu,r%lu,r%lu\n");
    printf(format, static_cast<ul>(d), static_cast<ul>(s1), static_cast<ul>(s2));
}

const char* const field_names[6] = {"clr", "set", "ext", "extu", "mak", "rot"};

void opcode_f0(uint32_t word, uint32_t d, uint32_t s1, uint32_t s2)
{
    switch (word & 0xc000) {
    case 0x8000: {
        const uint32_t op = word & 0xfc00;
        if (op >= 0x8000 && op <= 0xa000 && (op & 0x7ff) == 0) {
            printf("%s\tr%lu,r%lu,%lu<%lu>\n", field_names[(op - 0x8000) >> 11], static_cast<ul>(d),
                   static_cast<ul>(s1), static_cast<ul>((word >> 5) & 0x1f), static_cast<ul>(word & 0x1f));
            return;
        }
        if (op == 0xa800) {
            printf("rot\tr%lu,r%lu,<%lu>\n", static_cast<ul>(d), static_cast<ul>(s1), static_cast<ul>(word & 0x1f));
            return;
        }
        break;
    }
    case 0xc000: {
        const uint32_t op = word & 0xfe00;
        if (op == 0xd000 || op == 0xd800) {
            printf(op == 0xd000 ? "tb0\t" : "tb1\t");
            print_b5(d);
        } else if (op == 0xe800) {
            printf("tcnd\t");
            print_m5(d);
        } else {
            break;
        }
        printf(",r%lu,%lu\n", static_cast<ul>(s1), static_cast<ul>(word & 0x1ff));
        return;
    }
    case 0x0000:
        if ((word & 0xf000) == 0x1000) {
            printf("ld%s%s", tyr0[(word >> 10) & 3], usr[(word >> 8) & 1]);
            print_indexed(word, true, d, s1, s2);
            return;
        }
        if ((word & 0xf000) == 0x2000) {
            printf("st%s%s%s", tyr0[(word >> 10) & 3], usr[(word >> 8) & 1], thru[(word >> 7) & 1]);
            print_indexed(word, true, d, s1, s2);
            return;
        }
        break;
    default:
        break;
    }
    print_word(word);
}

void opcode_f4(uint32_t word, uint32_t d, uint32_t s1, uint32_t s2)
{
    const ul ud = d, us1 = s1, us2 = s2;
    switch (word & 0xe000) {
    case 0x0000:
        if ((word & 0x1000) != 0)
            printf("ld%s%s", tyr1[(word >> 10) & 3], usr[(word >> 8) & 1]);
        else if ((word & 0x0800) == 0)
            printf("xmem%s%s", w[(word >> 10) & 1], usr[(word >> 8) & 1]);
        else
            printf("ld%s%s", b[(word >> 10) & 1], usr[(word >> 8) & 1]);
        print_indexed(word, false, d, s1, s2);
        return;
    case 0x2000:
        if ((word & 0x1000) != 0) {
            printf("lda%s\tr%lu,r%lu[r%lu]\n", tyf1[(word >> 10) & 3], ud, us1, us2);
        } else {
            printf("st%s%s%s", tyr1[(word >> 10) & 3], usr[(word >> 8) & 1], thru[(word >> 7) & 1]);
            print_indexed(word, false, d, s1, s2);
        }
        return;
    case 0x4000: {
        const uint32_t op = word & 0x1800;
        if (op == 0x0800)
            break;
        printf("%s%s\tr%lu,r%lu,r%lu\n", op == 0 ? "and" : op == 0x1000 ? "xor" : "or",
               (word & 0x400) != 0 ? ".c" : "", ud, us1, us2);
        return;
    }
    case 0x6000: {
        const char* name = "";
        const char* suffix = "";
        switch (word & 0x1c00) {
        case 0x0000: name = "addu"; suffix = io[(word >> 8) & 3]; break;
        case 0x0400: name = "subu"; suffix = io[(word >> 8) & 3]; break;
        case 0x1000: name = "add"; suffix = io[(word >> 8) & 3]; break;
        case 0x1400: name = "sub"; suffix = io[(word >> 8) & 3]; break;
        case 0x0800: name = (word & 0x100) != 0 ? "divu.d" : "divu"; break;
        case 0x0c00: name = (word & 0x200) != 0 ? "muls" : (word & 0x100) != 0 ? "mulu.d" : "mulu"; break;
        case 0x1800: name = "divs"; break;
        default: name = "cmp"; break;
        }
        printf("%s%s\tr%lu,r%lu,r%lu\n", name, suffix, ud, us1, us2);
        return;
    }
    case 0x8000:
    case 0xa000: {
        const uint32_t op = word & 0xffe0;
        if (op >= 0x8000 && op <= 0xa800 && (op & 0x7ff) == 0) {
            printf("%s\tr%lu,r%lu,r%lu\n", field_names[(op - 0x8000) >> 11], ud, us1, us2);
            return;
        }
        break;
    }
    case 0xc000:
        switch (word & 0x3ffffe0) {
        case 0xc000: printf("jmp\tr%lu\n", us2); return;
        case 0xc400: printf("jmp.n\tr%lu\n", us2); return;
        case 0xc800: printf("jsr\tr%lu\n", us2); return;
        case 0xcc00: printf("jsr.n\tr%lu\n", us2); return;
        default: break;
        }
        break;
    default: // 0xe000
        switch (word & 0xffe0) {
        case 0xe800: printf("ff1\tr%lu,r%lu\n", ud, us2); return;
        case 0xec00: printf("ff0\tr%lu,r%lu\n", ud, us2); return;
        case 0xf800: printf("tbnd\tr%lu,r%lu\n", us1, us2); return;
        case 0xfc00:
            if ((word & 3) == 0)
                printf("rte\n");
            else
                printf("illop%lu\n", static_cast<ul>(word & 3));
            return;
        default: break;
        }
        break;
    }
    print_word(word);
}

} // namespace

uint32_t m88k_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose)
{
    uint32_t word;
    if (!read_instruction_word(sect, left, object_byte_sex, &word))
        return static_cast<uint32_t>(left);

    const uint32_t a = static_cast<uint32_t>(addr);
    const uint32_t r_address = static_cast<uint32_t>(addr - sect_addr);
    const uint32_t d = (word >> 21) & 0x1f;
    const uint32_t s1 = (word >> 16) & 0x1f;
    const uint32_t s2 = word & 0x1f;
    auto immediate = [&](uint32_t value) {
        print_immediate(value, r_address, relocs, nrelocs, symbols, nsymbols, sorted_symbols, nsorted_symbols,
                        strings, strings_size, verbose);
    };
    const uint32_t opcode = word & 0xfc000000;
    if (opcode <= 0x7c000000) {
        printf(immediate_formats[opcode >> 26], static_cast<ul>(d), static_cast<ul>(s1));
        immediate(word & 0xffff);
        return 4;
    }
    // Targets: the displacement sign-extended, in words, from the branch.
    const uint32_t target26 = a + (static_cast<uint32_t>(static_cast<int32_t>(word << 6) >> 6) << 2);
    const uint32_t target16 = a + (static_cast<uint32_t>(static_cast<int32_t>(word << 16) >> 16) << 2);
    switch (opcode) {
    case 0x80000000: control(word, d, s1, s2); break;
    case 0x84000000: floating_point(word, d, s1, s2); break;
    case 0x88000000: graphics(word, d, s1, s2); break;
    case 0xc0000000:
    case 0xc4000000:
    case 0xc8000000:
    case 0xcc000000:
        printf(opcode == 0xc0000000 ? "br\t" : opcode == 0xc4000000 ? "br.n\t" : opcode == 0xc8000000 ? "bsr\t"
                                                                                                       : "bsr.n\t");
        immediate(target26);
        break;
    case 0xd0000000:
    case 0xd4000000:
    case 0xd8000000:
    case 0xdc000000:
        printf(opcode == 0xd0000000 ? "bb0\t" : opcode == 0xd4000000 ? "bb0.n\t" : opcode == 0xd8000000 ? "bb1\t"
                                                                                                         : "bb1.n\t");
        print_b5(d);
        printf(",r%lu,", static_cast<ul>(s1));
        immediate(target16);
        break;
    case 0xe8000000:
    case 0xec000000:
        printf(opcode == 0xe8000000 ? "bcnd\t" : "bcnd.n\t");
        print_m5(d);
        printf(",r%lu,", static_cast<ul>(s1));
        immediate(target16);
        break;
    case 0xf0000000: opcode_f0(word, d, s1, s2); break;
    case 0xf4000000: opcode_f4(word, d, s1, s2); break;
    case 0xf8000000: printf("tbnd\tr%lu,%lu\n", static_cast<ul>(s1), static_cast<ul>(word & 0xffff)); break;
    default: printf(".long 0x%08x\n", word); break;
    }
    return 4;
}

} // namespace macho
