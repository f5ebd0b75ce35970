// The m68k disassembler: 68000 to 68040 with the 68881/68882 floating-point
// unit, the 68851/68030 memory-management unit, the 68040 cache and MMU
// instructions and move16, in MIT syntax. A bit-field decoder over the
// opcode word; every extension word is read through one cursor that never
// reads past the section and reads zeros for the bytes it does not have.
#include "disasm/disasm.h"

#include <cstdio>
#include <cstring>

namespace macho {

namespace {

// d0-d7 then a0-sp: a register number with its address-register bit.
const char* const regs[16] = {"d0", "d1", "d2", "d3", "d4", "d5", "d6", "d7",
                              "a0", "a1", "a2", "a3", "a4", "a5", "a6", "sp"};
const char* const* const dregs = regs;
const char* const* const aregs = regs + 8;
const char* const scales[4] = {":1", ":2", ":4", ":8"};
const char size_chars[] = "bwl?";
const char wl[] = "wl";
const char* const branches[16] = {"bra", "bsr", "bhi", "bls", "bcc", "bcs", "bne", "beq",
                                  "bvc", "bvs", "bpl", "bmi", "bge", "blt", "bgt", "ble"};
const char* const conditions[16] = {"t",  "f",  "hi", "ls", "cc", "cs", "ne", "eq",
                                    "vc", "vs", "pl", "mi", "ge", "lt", "gt", "le"};

const char* const fpcond[32] = {"f",  "eq",  "ogt", "oge", "olt",  "ole", "ogl", "or",  "un",  "ueq", "ugt",
                                "uge", "ult", "ule", "ne",  "t",    "sf",  "seq", "gt",  "ge",  "lt",  "le",
                                "gl", "gle", "ngle", "ngl", "nle", "nlt", "nge", "ngt", "sne", "st"};
const char* const fpregs[8] = {"fp0", "fp1", "fp2", "fp3", "fp4", "fp5", "fp6", "fp7"};
const char* const fpcregs[8] = {"fpc?", "fpi", "fps", "fps/fpi", "fpc", "fpc/fpi", "fpc/fps", "fpc/fps/fpi"};
const char fpformat[] = "lsxpwdbp";
const int fpsize[8] = {2, 3, 5, 6, 1, 4, 0, 6};
const char* const caches[3] = {"dc", "ic", "bc"};
const char scope_chars[] = "lpa";

// Floating-point operation names by opmode; the rest print as "f0x%02x".
struct fpop {
    unsigned opmode;
    const char* name;
};
const fpop fpops[] = {
    {0x00, "fmove"},   {0x01, "fint"},    {0x02, "fsinh"},    {0x03, "fintrz"},  {0x04, "fsqrt"},  {0x06, "flognp1"},
    {0x08, "fetoxm1"}, {0x09, "ftanh"},   {0x0a, "fatan"},    {0x0c, "fasin"},   {0x0d, "fatanh"}, {0x0e, "fsin"},
    {0x0f, "ftan"},    {0x10, "fetox"},   {0x11, "ftwotox"},  {0x12, "ftentox"}, {0x14, "flogn"},  {0x15, "flog10"},
    {0x16, "flog2"},   {0x18, "fabs"},    {0x19, "fcosh"},    {0x1a, "fneg"},    {0x1c, "facos"},  {0x1d, "fcos"},
    {0x1e, "fgetexp"}, {0x1f, "fgetman"}, {0x20, "fdiv"},     {0x21, "fmod"},    {0x22, "fadd"},   {0x23, "fmul"},
    {0x24, "fsgldiv"}, {0x25, "frem"},    {0x26, "fscale"},   {0x27, "fsglmul"}, {0x28, "fsub"},   {0x30, "fsincos"},
    {0x31, "fsincos"}, {0x32, "fsincos"}, {0x33, "fsincos"},  {0x34, "fsincos"}, {0x35, "fsincos"}, {0x36, "fsincos"},
    {0x37, "fsincos"}, {0x38, "fcmp"},    {0x3a, "ftst"},     {0x40, "fsmove"},  {0x41, "fssqrt"}, {0x44, "fdmove"},
    {0x45, "fdsqrt"},  {0x58, "fsabs"},   {0x5a, "fsneg"},    {0x5c, "fdabs"},   {0x5e, "fdneg"},  {0x60, "fsdiv"},
    {0x62, "fsadd"},   {0x63, "fsmul"},   {0x64, "fddiv"},    {0x66, "fdadd"},   {0x67, "fdmul"},  {0x68, "fssub"},
    {0x6c, "fdsub"},
};

void print_fpop(unsigned opmode)
{
    for (const fpop& f : fpops) {
        if (f.opmode == opmode) {
            printf("%s", f.name);
            return;
        }
    }
    printf("f0x%02x", opmode);
}

// Everything a symbolic operand needs, and the instruction's bytes.
struct context {
    const unsigned char* sect;
    uint64_t left; // bytes from sect to the end of the section
    uint32_t addr;
    uint32_t sect_addr;
    byte_sex object_byte_sex;
    bool swapped;
    const relocation_info* relocs;
    uint32_t nrelocs;
    const nlist* symbols;
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
    uint32_t used; // bytes of the instruction consumed so far
};

// The next n bytes of the instruction into the front of a zeroed `out`;
// only the bytes the section holds count as consumed.
void read_raw(context& c, void* out, uint32_t n)
{
    memset(out, 0, n);
    const uint64_t avail = c.left > c.used ? c.left - c.used : 0;
    const uint32_t take = avail < n ? static_cast<uint32_t>(avail) : n;
    memcpy(out, c.sect + c.used, take);
    c.used += take;
}

uint32_t read16(context& c)
{
    uint16_t v;
    read_raw(c, &v, 2);
    return c.swapped ? SWAP_SHORT(v) : v;
}

uint32_t read32(context& c)
{
    uint32_t v;
    read_raw(c, &v, 4);
    return c.swapped ? SWAP_INT(v) : v;
}

// Section offset and address of the next byte to be read.
uint32_t here_offset(const context& c)
{
    return c.addr + c.used - c.sect_addr;
}
uint32_t here_addr(const context& c)
{
    return c.addr + c.used;
}

bool symbol(const context& c, uint32_t value, uint32_t r_address, uint32_t dot_value = 0)
{
    return print_symbol(value, r_address, dot_value, c.relocs, c.nrelocs, c.symbols, nullptr, c.nsymbols,
                        c.sorted_symbols, c.nsorted_symbols, c.strings, c.strings_size, c.verbose);
}

// A value as a symbol or "0x%x", then ":" and its size letter when given.
void value_or_hex(const context& c, uint32_t value, uint32_t r_address, char marker, uint32_t dot_value = 0)
{
    if (!symbol(c, value, r_address, dot_value))
        printf("0x%x", value);
    if (marker != 0)
        printf(":%c", marker);
}

void print_invalid(uint32_t opcode)
{
    printf(".word\t0x%04x  | invalid instruction\n", opcode);
}

// The indexed modes: base is the address register (mode 6) or "pc".
void print_indexed(context& c, const char* base, bool pc)
{
    const uint32_t ext_addr = here_addr(c);
    const uint32_t e = read16(c);
    const char* index = regs[(e >> 12) & 0xf];
    const char index_size = wl[(e >> 11) & 1];
    const char* scale = scales[(e >> 9) & 3];
    if ((e & 0x100) == 0) {
        const uint32_t disp = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(e & 0xff)));
        printf("%s@(0x%x:b,%s:%c%s)", base, disp, index, index_size, scale);
        return;
    }
    const uint32_t bd_size = (e >> 4) & 3;
    if (bd_size == 0) {
        printf("<bad ef>");
        return;
    }
    if ((e & 0x80) != 0)
        base = pc ? "zpc" : "";
    const uint32_t iis = e & 7;
    const bool index_suppressed = (e & 0x40) != 0;
    uint32_t bd = 0, bd_pos = 0, od = 0, od_pos = 0;
    if (bd_size != 1) {
        bd_pos = here_offset(c);
        bd = bd_size == 2 ? read16(c) : read32(c);
    }
    const uint32_t od_size = iis & 3;
    if (od_size >= 2) {
        od_pos = here_offset(c);
        od = od_size == 2 ? read16(c) : read32(c);
    }
    if (iis == 4 || (index_suppressed && iis > 4)) {
        printf("<bad ef>");
        return;
    }
    printf("%s@(", base);
    if (bd_size == 1)
        printf("0");
    else
        value_or_hex(c, bd, bd_pos, bd_size == 2 ? 'w' : 'l', index_suppressed && iis == 0 ? ext_addr : 0);
    if (!index_suppressed && iis < 4)
        printf(",%s:%c%s", index, index_size, scale);
    printf(")");
    if (iis == 0)
        return;
    printf("@(");
    if (od_size < 2)
        printf("0");
    else
        value_or_hex(c, od, od_pos, od_size == 2 ? 'w' : 'l');
    if (!index_suppressed && iis >= 5)
        printf(",%s:%c%s", index, index_size, scale);
    printf(")");
}

// One effective-address operand; `size` is the immediate size code.
void print_ef(context& c, uint32_t mode, uint32_t reg, int size)
{
    switch (mode) {
    case 0:
        printf("%s", dregs[reg]);
        return;
    case 1:
        printf("%s", aregs[reg]);
        return;
    case 2:
        printf("%s@", aregs[reg]);
        return;
    case 3:
        printf("%s@+", aregs[reg]);
        return;
    case 4:
        printf("%s@-", aregs[reg]);
        return;
    case 5:
        printf("%s@(0x%x:w)", aregs[reg], read16(c));
        return;
    case 6:
        print_indexed(c, aregs[reg], false);
        return;
    default:
        break;
    }
    switch (reg) {
    case 0: {
        const uint32_t pos = here_offset(c);
        value_or_hex(c, read16(c), pos, 'w');
        return;
    }
    case 1: {
        const uint32_t pos = here_offset(c);
        value_or_hex(c, read32(c), pos, 'l');
        return;
    }
    case 2:
        printf("pc@(0x%x:w)", read16(c));
        return;
    case 3:
        print_indexed(c, "pc", true);
        return;
    case 4:
        break;
    default:
        printf("<bad ef>");
        return;
    }
    const uint32_t pos = here_offset(c);
    switch (size) {
    case 0:
        printf("#");
        value_or_hex(c, read16(c) & 0xff, pos, 'b');
        return;
    case 1:
        printf("#");
        value_or_hex(c, read16(c), pos, 'w');
        return;
    case 2:
        printf("#");
        value_or_hex(c, read32(c), pos, 'l');
        return;
    case 3: {
        float f;
        read_raw(c, &f, sizeof f);
        if (c.swapped)
            f = SWAP_FLOAT(f);
        printf("#0s%g", static_cast<double>(f));
        return;
    }
    case 4: {
        double d;
        read_raw(c, &d, sizeof d);
        if (c.swapped)
            d = SWAP_DOUBLE(d);
        printf("#0d%g", d);
        return;
    }
    case 5: {
        const uint32_t w0 = read32(c), w1 = read32(c), w2 = read32(c);
        printf("#0b%08x%08x%08x", w0, w1, w2);
        return;
    }
    case 6: {
        const uint32_t w0 = read32(c), w1 = read32(c), w2 = read32(c);
        printf((w0 & 0x80000000) != 0 ? "#-%c." : "#%c.", '0' + (w0 & 0xf));
        printf("%08x%08x", w1, w2);
        printf((w0 & 0x40000000) != 0 ? "e-%03x" : "e%03x", w0 & 0xfff);
        return;
    }
    default:
        printf("<bad ef>");
        return;
    }
}

// The effective address of the opcode word's low six bits.
void print_ea(context& c, uint32_t opcode, int size)
{
    print_ef(c, (opcode >> 3) & 7, opcode & 7, size);
}

// A movem register list; with predecrement bit 15 selects d0.
void print_reglist(uint32_t mask, bool predecrement)
{
    if (mask == 0) {
        printf("#0x0");
        return;
    }
    bool first = true;
    for (uint32_t i = 0; i < 16; ++i) {
        const uint32_t bit = predecrement ? 15 - i : i;
        if ((mask & (1u << bit)) == 0)
            continue;
        printf(first ? "%s" : "/%s", regs[i]);
        first = false;
    }
}

// A floating-point register list; with `reversed` bit 7 selects fp0.
void print_fplist(uint32_t mask, bool reversed)
{
    if (mask == 0) {
        printf("#0x0");
        return;
    }
    bool first = true;
    for (unsigned long i = 0; i < 8; ++i) {
        const uint32_t bit = reversed ? 7 - i : i;
        if ((mask & (1u << bit)) == 0)
            continue;
        printf(first ? "fp%lu" : "/fp%lu", i);
        first = false;
    }
}

// Register named by bits 12-15 of an extension word.
const char* ext_reg(uint32_t e)
{
    return regs[(e >> 12) & 0xf];
}

// The immediate of an immediate-source instruction: byte and word sizes
// are one word, long two.
uint32_t read_immediate(context& c, uint32_t size)
{
    if (size == 2)
        return read32(c);
    const uint32_t v = read16(c);
    return size == 0 ? v & 0xff : v;
}

void line0(context& c, uint32_t op)
{
    const uint32_t sz = (op >> 6) & 3;
    if (op == 0x003c) {
        printf("orb\t#0x%x,cc\n", read16(c) & 0xff);
    } else if (op == 0x007c) {
        printf("orw\t#0x%x,sr\n", read16(c));
    } else if (op >= 0x06c0 && op <= 0x06cf) {
        printf("rtm\t%s\n", regs[op & 0xf]);
    } else if (op >= 0x06d0 && op <= 0x06ff) {
        printf("callm\t#0x%x,", read16(c) & 0xff);
        print_ea(c, op, 1);
        printf("\n");
    } else if ((op & 0xf900) == 0 && sz == 3) {
        const uint32_t e = read16(c);
        const uint32_t s = (op >> 9) & 3;
        printf((e & 0x800) != 0 ? "chk2%c\t" : "cmp2%c\t", size_chars[s]);
        print_ea(c, op, static_cast<int>(s));
        printf(",%s\n", ext_reg(e));
    } else if (op < 0x0100) {
        const uint32_t imm = read_immediate(c, sz);
        printf("or%c\t#0x%x,", size_chars[sz], imm);
        print_ea(c, op, static_cast<int>(sz));
        printf("\n");
    } else if ((op & 0x0100) != 0 && ((op >> 3) & 7) == 1) {
        const uint32_t disp = read16(c);
        const uint32_t an = op & 7, dn = (op >> 9) & 7;
        switch (sz) {
        case 0:
            printf("movepw\t(0x%x,a%u),d%u\n", disp, an, dn);
            break;
        case 1:
            printf("movepl\t(0x%x,a%u),d%u\n", disp, an, dn);
            break;
        case 2:
            printf("movepw\td%u,(0x%x,a%u)\n", dn, disp, an);
            break;
        default:
            printf("movepl\td%u,(0x%x,a%u)\n", dn, disp, an);
            break;
        }
    } else if ((op & 0x0100) != 0) {
        static const char* const names[4] = {"btst", "bchg", "bclr", "bset"};
        printf("%s\td%u,", names[sz], (op >> 9) & 7);
        print_ea(c, op, 2);
        printf("\n");
    } else if (op == 0x023c) {
        printf("andb\t#0x%x,cc\n", read16(c) & 0xff);
    } else if (op == 0x027c) {
        printf("andw\t#0x%x,sr\n", read16(c));
    } else if (op == 0x0a3c) {
        printf("eorb\t#0x%x,cc\n", read16(c) & 0xff);
    } else if (op == 0x0a7c) {
        printf("eorw\t#0x%x,sr\n", read16(c));
    } else if (op >= 0x0800 && op <= 0x08ff) {
        static const char* const names[4] = {"btst", "bchg", "bclr", "bset"};
        printf("%s\t#%d,", names[sz], static_cast<int>(read16(c) & 0xff));
        print_ea(c, op, 2);
        printf("\n");
    } else if (op == 0x0afc || op == 0x0cfc || op == 0x0efc) {
        const uint32_t e1 = read16(c), e2 = read16(c);
        printf("cas2%c\td%u,d%u,d%u,d%u,%s,%s\n", "bwl"[((op >> 9) & 3) - 1], e1 & 7, e2 & 7, (e1 >> 6) & 7,
               (e2 >> 6) & 7, ext_reg(e1), ext_reg(e2));
    } else if (sz == 3 && (op & 0xf900) == 0x0800) {
        // 0x0ac0-0x0aff, 0x0cc0-0x0cff, 0x0ec0-0x0eff
        const uint32_t e = read16(c);
        const uint32_t s = (op >> 9) & 3;
        printf("cas%c\td%u,d%u,", "bwl"[s - 1], e & 7, (e >> 6) & 7);
        print_ea(c, op, static_cast<int>(s));
        printf("\n");
    } else {
        const uint32_t group = op & 0xff00;
        if (group == 0x0e00) {
            printf("moves%c\t", size_chars[sz]);
            const uint32_t e = read16(c);
            if ((e & 0x800) != 0) {
                printf("%s,", ext_reg(e));
                print_ea(c, op, static_cast<int>(sz));
            } else {
                print_ea(c, op, static_cast<int>(sz));
                printf(",%s", ext_reg(e));
            }
            printf("\n");
            return;
        }
        const char* name = group == 0x0200 ? "and" : group == 0x0400 ? "sub" : group == 0x0600 ? "add"
                           : group == 0x0a00 ? "eor" : group == 0x0c00 ? "cmp" : nullptr;
        if (name == nullptr) {
            print_invalid(op);
            return;
        }
        const uint32_t pos = here_offset(c);
        const uint32_t imm = read_immediate(c, sz);
        if (sz == 2 && group == 0x0400) {
            printf("subl\t");
            if (symbol(c, imm, pos))
                printf(",");
            else
                printf("#0x%x,", imm);
        } else if (sz == 2 && group == 0x0c00) {
            printf("cmpl\t#");
            if (!symbol(c, imm, pos))
                printf("0x%x", imm);
            printf(",");
        } else {
            printf("%s%c\t#0x%x,", name, size_chars[sz], imm);
        }
        print_ea(c, op, static_cast<int>(sz));
        printf("\n");
    }
}

void line_move(context& c, uint32_t op)
{
    const uint32_t line = op >> 12;
    const int size = line == 1 ? 0 : line == 2 ? 2 : 1;
    printf(line == 1 ? "moveb\t" : line == 2 ? "movel\t" : "movew\t");
    print_ea(c, op, size);
    const uint32_t dmode = (op >> 6) & 7, dreg = (op >> 9) & 7;
    if (line != 1 && dmode == 1) {
        printf(",%s\n", aregs[dreg]);
        return;
    }
    printf(",");
    print_ef(c, dmode, dreg, size);
    printf("\n");
}

const char* control_register(uint32_t e)
{
    switch (e & 0xfff) {
    case 0x000: return "sfc";
    case 0x001: return "dfc";
    case 0x002: return "cacr";
    case 0x003: return "tc";
    case 0x004: return "itt0";
    case 0x005: return "itt1";
    case 0x006: return "dtt0";
    case 0x007: return "dtt1";
    case 0x800: return "usp";
    case 0x801: return "vbr";
    case 0x802: return "caar";
    case 0x803: return "msp";
    case 0x804: return "isp";
    case 0x805: return "mmusr";
    case 0x806: return "urp";
    case 0x807: return "srp";
    default: return "???";
    }
}

void line4(context& c, uint32_t op)
{
    const uint32_t sz = (op >> 6) & 3;
    const auto ea_line = [&](const char* prefix, int size, const char* suffix) {
        printf("%s", prefix);
        print_ea(c, op, size);
        printf("%s\n", suffix);
    };
    if (op >= 0x40c0 && op <= 0x40ff) {
        ea_line("movew\tsr,", 1, "");
    } else if (op >= 0x4000 && op <= 0x40bf) {
        printf("negx%c\t", size_chars[sz]);
        ea_line("", static_cast<int>(sz), "");
    } else if ((op & 0x0100) != 0 && (op & 0x0040) == 0) {
        const bool word = (op & 0x80) != 0;
        printf(word ? "chkw\t" : "chkl\t");
        print_ea(c, op, word ? 1 : 2);
        printf(",%s\n", dregs[(op >> 9) & 7]);
    } else if (op >= 0x4880 && op <= 0x4887) {
        printf("extw\t%s\n", dregs[op & 7]);
    } else if (op >= 0x48c0 && op <= 0x48c7) {
        printf("extl\t%s\n", dregs[op & 7]);
    } else if (op >= 0x49c0 && op <= 0x49c7) {
        printf("extbl\t%s\n", dregs[op & 7]);
    } else if (((op >> 6) & 7) == 7) {
        printf("lea\t");
        print_ea(c, op, 2);
        printf(",a%u\n", (op >> 9) & 7);
    } else if (op >= 0x42c0 && op <= 0x42ff) {
        ea_line("movew\tcc,", 1, "");
    } else if (op >= 0x4200 && op <= 0x42bf) {
        printf("clr%c\t", size_chars[sz]);
        ea_line("", static_cast<int>(sz), "");
    } else if (op >= 0x44c0 && op <= 0x44ff) {
        ea_line("movew\t", 1, ",cc");
    } else if (op >= 0x4400 && op <= 0x44bf) {
        printf("neg%c\t", size_chars[sz]);
        ea_line("", static_cast<int>(sz), "");
    } else if (op >= 0x46c0 && op <= 0x46ff) {
        ea_line("movew\t", 1, ",sr");
    } else if (op >= 0x4600 && op <= 0x46bf) {
        printf("not%c\t", size_chars[sz]);
        ea_line("", static_cast<int>(sz), "");
    } else if (op >= 0x4808 && op <= 0x480f) {
        printf("linkl\t%s,#0x%x\n", aregs[op & 7], read32(c));
    } else if (op >= 0x4800 && op <= 0x483f) {
        ea_line("nbcd\t", 0, "");
    } else if (op >= 0x4840 && op <= 0x4847) {
        printf("swap\t%s\n", dregs[op & 7]);
    } else if (op >= 0x4848 && op <= 0x484f) {
        printf("bkpt\t#%d\n", static_cast<int>(op & 7));
    } else if (op >= 0x4840 && op <= 0x487f) {
        ea_line("pea\t", 2, "");
    } else if ((op >= 0x4880 && op <= 0x48ff) || (op >= 0x4c80 && op <= 0x4cff)) {
        const bool lng = (op & 0x40) != 0;
        printf("movem%c\t", lng ? 'l' : 'w');
        const uint32_t mask = read16(c);
        const bool predecrement = ((op >> 3) & 7) == 4;
        if ((op & 0x400) != 0) {
            print_ea(c, op, lng ? 2 : 1);
            printf(",");
            print_reglist(mask, predecrement);
        } else {
            print_reglist(mask, predecrement);
            printf(",");
            print_ea(c, op, lng ? 2 : 1);
        }
        printf("\n");
    } else if (op == 0x4afc) {
        printf("illegal\n");
    } else if (op >= 0x4ac0 && op <= 0x4aff) {
        ea_line("tas\t", 0, "");
    } else if (op >= 0x4a00 && op <= 0x4abf) {
        printf("tst%c\t", size_chars[sz]);
        ea_line("", static_cast<int>(sz), "");
    } else if (op >= 0x4c00 && op <= 0x4c3f) {
        const uint32_t e = read16(c);
        printf((e & 0x800) != 0 ? "mulsl\t" : "mulul\t");
        print_ea(c, op, 2);
        if ((e & 0x400) != 0)
            printf(",%s:%s\n", dregs[e & 7], dregs[(e >> 12) & 7]);
        else
            printf(",%s\n", dregs[(e >> 12) & 7]);
    } else if (op >= 0x4c40 && op <= 0x4c7f) {
        const uint32_t e = read16(c);
        printf((e & 0x800) != 0 ? "divs" : "divu");
        if ((e & 0x400) != 0 || (e & 7) != ((e >> 12) & 7)) {
            printf((e & 0x400) == 0 ? "ll\t" : "l\t");
            print_ea(c, op, 2);
            printf(",%s,%s\n", dregs[e & 7], dregs[(e >> 12) & 7]);
        } else {
            printf("l\t");
            print_ea(c, op, 2);
            printf(",%s\n", dregs[e & 7]);
        }
    } else if (op >= 0x4e40 && op <= 0x4e4f) {
        printf("trap\t#%d\n", static_cast<int>(op & 0xf));
    } else if (op >= 0x4e50 && op <= 0x4e57) {
        printf("linkw\t%s,#0x%x\n", aregs[op & 7], read16(c));
    } else if (op >= 0x4e58 && op <= 0x4e5f) {
        printf("unlk\t%s\n", aregs[op & 7]);
    } else if (op >= 0x4e60 && op <= 0x4e67) {
        printf("movel\t%s,usp\n", aregs[op & 7]);
    } else if (op >= 0x4e68 && op <= 0x4e6f) {
        printf("movel\tusp,%s\n", aregs[op & 7]);
    } else if (op == 0x4e70) {
        printf("reset\n");
    } else if (op == 0x4e71) {
        printf("nop\n");
    } else if (op == 0x4e72) {
        printf("stop\t#0x%x\n", read16(c));
    } else if (op == 0x4e73) {
        printf("rte\n");
    } else if (op == 0x4e74) {
        printf("rtd\t#0x%x\n", read16(c));
    } else if (op == 0x4e75) {
        printf("rts\n");
    } else if (op == 0x4e76) {
        printf("trapv\n");
    } else if (op == 0x4e77) {
        printf("rtr\n");
    } else if (op == 0x4e7a || op == 0x4e7b) {
        printf("movec\t");
        const uint32_t e = read16(c);
        if (op == 0x4e7b)
            printf("%s,%s\n", ext_reg(e), control_register(e));
        else
            printf("%s,%s\n", control_register(e), ext_reg(e));
    } else if (op >= 0x4e80 && op <= 0x4ebf) {
        ea_line("jsr\t", 2, "");
    } else if (op >= 0x4ec0 && op <= 0x4eff) {
        ea_line("jmp\t", 2, "");
    } else {
        print_invalid(op);
    }
}

// DBcc and FDBcc: the counter, then the target of the displacement word
// `base` bytes after the instruction's address.
void print_db_target(context& c, uint32_t base)
{
    const uint32_t pos = here_offset(c);
    const uint32_t disp = read16(c);
    const uint32_t target = c.addr + base + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(disp)));
    value_or_hex(c, target, pos, 0);
    printf("\n");
}

void line5(context& c, uint32_t op)
{
    const uint32_t sz = (op >> 6) & 3;
    const uint32_t mode = (op >> 3) & 7, reg = op & 7;
    if (sz != 3) {
        const uint32_t q = (op >> 9) & 7;
        printf((op & 0x100) == 0 ? "addq%c\t#0x%x," : "subq%c\t#0x%x,", size_chars[sz], q == 0 ? 8 : q);
        print_ea(c, op, static_cast<int>(sz));
        printf("\n");
        return;
    }
    const char* cond = conditions[(op >> 8) & 0xf];
    if (mode == 7 && reg == 2) {
        printf("trap%s.w\t#0x%x\n", cond, read16(c));
    } else if (mode == 7 && reg == 3) {
        printf("trap%s.l\t#0x%x\n", cond, read32(c));
    } else if (mode == 7 && reg == 4) {
        printf("trap%s\n", cond);
    } else if (mode == 1) {
        printf("db%s\t%s,", cond, dregs[reg]);
        print_db_target(c, 2);
    } else {
        printf("s%s\t", cond);
        print_ea(c, op, 1);
        printf("\n");
    }
}

void print_stub_note(const context& c, uint32_t target)
{
    if (!c.verbose)
        return;
    const char* name = guess_indirect_symbol(target, c.ncmds, c.sizeofcmds, *c.load_commands, c.object_byte_sex,
                                             c.indirect_symbols, c.nindirect_symbols, c.symbols, nullptr,
                                             c.nsymbols, c.strings, c.strings_size);
    if (name != nullptr)
        printf("\t; symbol stub for: %s", name);
}

void line6(context& c, uint32_t op)
{
    printf("%s\t", branches[(op >> 8) & 0xf]);
    const uint32_t low = op & 0xff;
    if (low != 0 && low != 0xff) {
        const uint32_t target = c.addr + 2 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(low)));
        value_or_hex(c, target, c.addr + 1 - c.sect_addr, 'b');
    } else if (low == 0) {
        const uint32_t pos = here_offset(c);
        const uint32_t target =
            c.addr + 2 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(read16(c))));
        value_or_hex(c, target, pos, 'w');
    } else {
        const uint32_t pos = here_offset(c);
        const uint32_t target = c.addr + 2 + read32(c);
        if (symbol(c, target, pos)) {
            printf(":l");
        } else {
            printf("0x%x:l", target);
            print_stub_note(c, target);
        }
    }
    printf("\n");
}

void line8(context& c, uint32_t op)
{
    const uint32_t sz = (op >> 6) & 3;
    const uint32_t rx = op & 7, ry = (op >> 9) & 7;
    const bool memory = (op & 8) != 0;
    if ((op & 0xf1f0) == 0x8100) {
        if (memory)
            printf("sbcd\t%s@-,%s@-\n", aregs[rx], aregs[ry]);
        else
            printf("sbcd\t%s,%s\n", dregs[rx], dregs[ry]);
    } else if ((op & 0xf1f0) == 0x8140 || (op & 0xf1f0) == 0x8180) {
        const char* name = (op & 0xf1f0) == 0x8140 ? "pack" : "unpk";
        const uint32_t e = read16(c);
        if (memory)
            printf("%s\t%s@-,%s@-,#0x%x\n", name, aregs[rx], aregs[ry], e);
        else
            printf("%s\t%s,%s,#0x%x\n", name, dregs[rx], dregs[ry], e);
    } else if ((op & 0xf0c0) == 0x80c0) {
        printf((op & 0x100) == 0 ? "divu\t" : "divs\t");
        print_ea(c, op, 1);
        printf(",%s\n", dregs[ry]);
    } else if ((op & 0x100) == 0) {
        printf("or%c\t", size_chars[sz]);
        print_ea(c, op, static_cast<int>(sz));
        printf(",%s\n", dregs[ry]);
    } else {
        printf("or%c\t%s,", size_chars[sz], dregs[ry]);
        print_ea(c, op, static_cast<int>(sz));
        printf("\n");
    }
}

void line_addsub(context& c, uint32_t op)
{
    const char* name = (op >> 12) == 9 ? "sub" : "add";
    const uint32_t opm = (op >> 6) & 7;
    const uint32_t rx = op & 7, ry = (op >> 9) & 7;
    if (opm == 3 || opm == 7) {
        printf("%sa%c\t", name, opm == 3 ? 'w' : 'l');
        print_ea(c, op, opm == 3 ? 1 : 2);
        printf(",%s\n", aregs[ry]);
    } else if (opm <= 2) {
        printf("%s%c\t", name, size_chars[opm]);
        print_ea(c, op, static_cast<int>(opm));
        printf(",%s\n", dregs[ry]);
    } else if ((op & 0x30) != 0) {
        printf("%s%c\t%s,", name, size_chars[opm & 3], dregs[ry]);
        print_ea(c, op, static_cast<int>(opm & 3));
        printf("\n");
    } else if ((op & 8) != 0) {
        printf("%sx%c\t%s@-,%s@-\n", name, size_chars[opm & 3], aregs[rx], aregs[ry]);
    } else {
        printf("%sx%c\t%s,%s\n", name, size_chars[opm & 3], dregs[rx], dregs[ry]);
    }
}

void line11(context& c, uint32_t op)
{
    const uint32_t opm = (op >> 6) & 7;
    const uint32_t ry = (op >> 9) & 7;
    if (((op >> 3) & 7) == 1 && (op & 0x100) != 0 && opm != 7) {
        printf("cmpm%c\t%s@+,%s@+\n", size_chars[opm & 3], aregs[op & 7], aregs[ry]);
    } else if (opm == 3 || opm == 7) {
        printf(opm == 3 ? "cmpw\t" : "cmpl\t");
        print_ea(c, op, opm == 3 ? 1 : 2);
        printf(",%s\n", aregs[ry]);
    } else if (opm >= 4) {
        printf("eor%c\t%s,", size_chars[opm & 3], dregs[ry]);
        print_ea(c, op, static_cast<int>(opm & 3));
        printf("\n");
    } else {
        printf("cmp%c\t", size_chars[opm]);
        print_ea(c, op, static_cast<int>(opm));
        printf(",%s\n", dregs[ry]);
    }
}

void line12(context& c, uint32_t op)
{
    const uint32_t opm = (op >> 6) & 7;
    const uint32_t rx = op & 7, ry = (op >> 9) & 7;
    if ((op & 0xf1f8) == 0xc140) {
        printf("exg\t%s,%s\n", dregs[ry], dregs[rx]);
    } else if ((op & 0xf1f8) == 0xc148) {
        printf("exg\t%s,%s\n", aregs[ry], aregs[rx]);
    } else if ((op & 0xf1f8) == 0xc188) {
        printf("exg\t%s,%s\n", dregs[ry], aregs[rx]);
    } else if ((op & 0xf1f0) == 0xc100) {
        if ((op & 8) != 0)
            printf("abcd\t%s@-,%s@-\n", aregs[rx], aregs[ry]);
        else
            printf("abcd\t%s,%s\n", dregs[rx], dregs[ry]);
    } else if ((op & 0xf0c0) == 0xc0c0) {
        printf((op & 0x100) == 0 ? "mulu\t" : "muls\t");
        print_ea(c, op, 1);
        printf(",%s\n", dregs[ry]);
    } else if (opm >= 4) {
        printf("and%c\t%s,", size_chars[opm & 3], dregs[ry]);
        print_ea(c, op, static_cast<int>(opm & 3));
        printf("\n");
    } else {
        printf("and%c\t", size_chars[opm]);
        print_ea(c, op, static_cast<int>(opm));
        printf(",%s\n", dregs[ry]);
    }
}

void line14(context& c, uint32_t op)
{
    static const char* const kinds[4] = {"as", "ls", "rox", "ro"};
    if (((op >> 6) & 3) == 3 && (op & 0x800) != 0) {
        static const char* const names[8] = {"bftst", "bfextu", "bfchg", "bfexts",
                                             "bfclr", "bfffo",  "bfset", "bfins"};
        const uint32_t kind = (op >> 8) & 7;
        const uint32_t e = read16(c);
        printf("%s\t", names[kind]);
        if (kind == 7)
            printf("%s,", dregs[(e >> 12) & 7]);
        print_ea(c, op, (op & 0x100) != 0 ? 2 : 1);
        if ((e & 0x800) != 0)
            printf("{%s,", dregs[(e >> 6) & 7]);
        else
            printf("{#%d,", static_cast<int>((e >> 6) & 31));
        if ((e & 0x20) != 0)
            printf("%s}", dregs[e & 7]);
        else
            printf("#%d}", static_cast<int>(e & 31));
        if (kind == 1 || kind == 3 || kind == 5)
            printf(",%s\n", dregs[(e >> 12) & 7]);
        else
            printf("\n");
    } else if (((op >> 6) & 3) == 3) {
        printf("%s%s", kinds[(op >> 9) & 3], (op & 0x100) != 0 ? "lw\t" : "rw\t");
        print_ea(c, op, 1);
        printf("\n");
    } else {
        printf("%s", kinds[(op >> 3) & 3]);
        printf((op & 0x100) != 0 ? "l%c\t" : "r%c\t", size_chars[(op >> 6) & 3]);
        if ((op & 0x20) != 0) {
            printf("%s,%s\n", dregs[(op >> 9) & 7], dregs[op & 7]);
        } else {
            const uint32_t count = (op >> 9) & 7;
            printf("#%d,%s\n", static_cast<int>(count == 0 ? 8 : count), dregs[op & 7]);
        }
    }
}

// ---- line 15 ----

// The function code of an MMU command word, or false when it is not one.
bool print_function_code(uint32_t e, bool dry_run)
{
    const uint32_t fc = e & 0x1f;
    if ((fc & 0x18) == 0x10) {
        if (!dry_run)
            printf("#0x%x", fc & 7);
    } else if ((fc & 0x18) == 0x08) {
        if (!dry_run)
            printf("%s", dregs[fc & 7]);
    } else if (fc == 0 || fc == 1) {
        if (!dry_run)
            printf("%s", fc == 0 ? "sfc" : "dfc");
    } else {
        return false;
    }
    return true;
}

// pmove between EA and an MMU register.
void print_pmove(context& c, uint32_t op, uint32_t e, const char* reg, bool fd_allowed)
{
    const char* name = fd_allowed && (e & 0x100) != 0 ? "pmovefd" : "pmove";
    if ((e & 0x200) == 0) {
        printf("%s\t", name);
        print_ea(c, op, 2);
        printf(",%s\n", reg);
    } else {
        printf("%s\t%s,", name, reg);
        print_ea(c, op, 2);
        printf("\n");
    }
}

void coprocessor_mmu(context& c, uint32_t op)
{
    const uint32_t e = read16(c);
    if (e > 0x9fff) {
        print_invalid(op);
        return;
    }
    const uint32_t field = (e >> 10) & 7;
    switch (e >> 13) {
    case 0:
        if (field == 2 || field == 3)
            print_pmove(c, op, e, field == 2 ? "tt0" : "tt1", true);
        else
            print_invalid(op);
        return;
    case 1:
        if ((e & 0xfde0) == 0x2000) {
            if (!print_function_code(e, true)) {
                print_invalid(op);
                return;
            }
            printf((e & 0x200) == 0 ? "ploadw\t" : "ploadr\t");
            print_function_code(e, false);
            printf(",");
            print_ea(c, op, 2);
            printf("\n");
        } else if ((e & 0xe300) == 0x2000 && field == 1) {
            printf("pflusha030\n");
        } else if ((e & 0xe300) == 0x2000 && (field == 4 || field == 6)) {
            if (!print_function_code(e, true)) {
                print_invalid(op);
                return;
            }
            printf("pflush\t");
            print_function_code(e, false);
            printf(",#0x%x", (e >> 5) & 7);
            if (field == 6) {
                printf(",");
                print_ea(c, op, 2);
            }
            printf("\n");
        } else {
            print_invalid(op);
        }
        return;
    case 2:
        if (field == 0 || field == 2 || field == 3)
            print_pmove(c, op, e, field == 0 ? "tc" : field == 2 ? "srp" : "crp", true);
        else
            print_invalid(op);
        return;
    case 3:
        print_pmove(c, op, e, "mmusr", false);
        return;
    default: // 4: ptest
        if (!print_function_code(e, true)) {
            print_invalid(op);
            return;
        }
        printf((e & 0x200) == 0 ? "ptestw\t" : "ptestr\t");
        print_function_code(e, false);
        printf(",");
        print_ea(c, op, 2);
        if ((e & 0x100) != 0)
            printf(",#0x%x,%s\n", field, aregs[(e >> 5) & 7]);
        else
            printf(",#0x%x\n", field);
        return;
    }
}

void coprocessor_68040(uint32_t op)
{
    if ((op & 0x0100) == 0) {
        const uint32_t cache = (op >> 6) & 3, scope = (op >> 3) & 3;
        if (cache == 0 || scope == 0) {
            print_invalid(op);
            return;
        }
        printf((op & 0x20) == 0 ? "cinv%c\t%s" : "cpush%c\t%s", scope_chars[scope - 1], caches[cache - 1]);
        if (scope == 3)
            printf("\n");
        else
            printf(",%s@\n", aregs[op & 7]);
    } else if (op >= 0xf500 && op <= 0xf51f) {
        switch ((op >> 3) & 3) {
        case 0:
            printf("pflushn\t%s@\n", aregs[op & 7]);
            break;
        case 1:
            printf("pflush\t%s@\n", aregs[op & 7]);
            break;
        case 2:
            printf("pflushan\n");
            break;
        default:
            printf("pflusha040\n");
            break;
        }
    } else if ((op >= 0xf548 && op <= 0xf54f) || (op >= 0xf568 && op <= 0xf56f)) {
        printf((op & 0x20) != 0 ? "ptestr\t%s@\n" : "ptestw\t%s@\n", aregs[op & 7]);
    } else {
        print_invalid(op);
    }
}

void coprocessor_move16(context& c, uint32_t op)
{
    if (op >= 0xf620 && op <= 0xf627) {
        const uint32_t e = read16(c);
        printf("move16\t%s@+,%s@+\n", aregs[op & 7], aregs[(e >> 12) & 7]);
    } else if (op >= 0xf600 && op <= 0xf61f) {
        const uint32_t a = read32(c);
        const char* an = aregs[op & 7];
        switch ((op >> 3) & 3) {
        case 0:
            printf("move16\t%s@+,#0x%x\n", an, a);
            break;
        case 1:
            printf("move16\t#0x%x,%s@+\n", a, an);
            break;
        case 2:
            printf("move16\t%s@,#0x%x\n", an, a);
            break;
        default:
            printf("move16\t#0x%x,%s@\n", a, an);
            break;
        }
    } else {
        print_invalid(op);
    }
}

void fpu_general(context& c, uint32_t op)
{
    const uint32_t e = read16(c);
    const uint32_t src = (e >> 10) & 7, dst = (e >> 7) & 7, opmode = e & 0x7f;
    switch (e >> 13) {
    case 0: {
        if ((e & 0x78) == 0x30) {
            printf("fsincosx\t%s,%s,%s\n", fpregs[src], fpregs[e & 7], fpregs[dst]);
            return;
        }
        print_fpop(opmode);
        if ((e & 0x7b) != 0x41)
            printf("x");
        if (src == dst || opmode == 0x3a)
            printf("\t%s\n", fpregs[src]);
        else
            printf("\t%s,%s\n", fpregs[src], fpregs[dst]);
        return;
    }
    case 1:
        print_invalid(op);
        return;
    case 2:
        if (src == 7) {
            printf("fmovecrx\t#0x%x,%s\n", opmode, fpregs[dst]);
            return;
        }
        print_fpop(opmode);
        printf("%c\t", fpformat[src]);
        print_ea(c, op, fpsize[src]);
        if ((e & 0x78) == 0x30)
            printf(",%s,%s\n", fpregs[e & 7], fpregs[dst]);
        else if (opmode == 0x3a)
            printf("\n");
        else
            printf(",%s\n", fpregs[dst]);
        return;
    case 3:
        printf("fmove%c\t%s,", fpformat[src], fpregs[dst]);
        print_ea(c, op, fpsize[src]);
        if (src == 3) {
            const int32_t k = (e & 0x40) != 0 ? static_cast<int32_t>(e & 0x7f) - 0x80 : static_cast<int32_t>(e & 0x7f);
            printf("{#%u}\n", static_cast<uint32_t>(k));
        } else if (src == 7) {
            printf("{%s}\n", dregs[(e >> 4) & 7]);
        } else {
            printf("\n");
        }
        return;
    case 4:
        printf("fmoveml\t");
        print_ea(c, op, 2);
        printf(",%s\n", fpcregs[src]);
        return;
    case 5:
        printf("fmoveml\t%s,", fpcregs[src]);
        print_ea(c, op, 2);
        printf("\n");
        return;
    default: {
        const auto list = [&] {
            if ((e & 0x800) != 0)
                printf("%s", dregs[(e >> 4) & 7]);
            else
                print_fplist(e & 0xff, (e & 0x1000) != 0);
        };
        printf("fmovemx\t");
        if ((e >> 13) == 6) {
            print_ea(c, op, 5);
            printf(",");
            list();
        } else {
            list();
            printf(",");
            print_ea(c, op, 5);
        }
        printf("\n");
        return;
    }
    }
}

void fpu_conditional(context& c, uint32_t op)
{
    const uint32_t pred = read16(c) & 0x3f;
    if (pred >= 32) {
        print_invalid(op);
        return;
    }
    const char* cond = fpcond[pred];
    switch (op & 0x3f) {
    case 0x3a:
        printf("ftrap%sw\t#0x%x\n", cond, read16(c));
        return;
    case 0x3b:
        printf("ftrap%sl\t#0x%x\n", cond, read32(c));
        return;
    case 0x3c:
        printf("ftrap%s\n", cond);
        return;
    default:
        break;
    }
    if (((op >> 3) & 7) == 1) {
        printf("fdb%s\t%s,", cond, dregs[op & 7]);
        print_db_target(c, 4);
        return;
    }
    printf("fs%s\t", cond);
    print_ea(c, op, 0);
    printf("\n");
}

void fpu_branch(context& c, uint32_t op, bool long_form)
{
    const uint32_t pred = op & 0x3f;
    if ((pred & 0x20) != 0) {
        print_invalid(op);
        return;
    }
    const uint32_t pos = here_offset(c);
    const uint32_t disp =
        long_form ? read32(c) : static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(read16(c))));
    if (op == 0xf280 && disp == 0) {
        printf("fnop\n");
        return;
    }
    printf("fb%s\t", fpcond[pred]);
    value_or_hex(c, c.addr + 2 + disp, pos, long_form ? 'l' : 'w');
    printf("\n");
}

void line15(context& c, uint32_t op)
{
    switch ((op >> 9) & 7) {
    case 0:
        coprocessor_mmu(c, op);
        return;
    case 2:
        coprocessor_68040(op);
        return;
    case 3:
        coprocessor_move16(c, op);
        return;
    case 1:
        break;
    default:
        print_invalid(op);
        return;
    }
    switch ((op >> 6) & 7) {
    case 0:
        fpu_general(c, op);
        return;
    case 1:
        fpu_conditional(c, op);
        return;
    case 2:
        fpu_branch(c, op, false);
        return;
    case 3:
        fpu_branch(c, op, true);
        return;
    case 4:
        printf("fsave\t");
        print_ea(c, op, 0);
        printf("\n");
        return;
    case 5:
        printf("frestore\t");
        print_ea(c, op, 0);
        printf("\n");
        return;
    default:
        print_invalid(op);
        return;
    }
}

} // namespace

uint32_t m68k_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size,
                          const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                          const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                          int verbose)
{
    context c{reinterpret_cast<const unsigned char*>(sect),
              left,
              static_cast<uint32_t>(addr),
              static_cast<uint32_t>(sect_addr),
              object_byte_sex,
              get_host_byte_sex() != object_byte_sex,
              relocs,
              nrelocs,
              symbols,
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
              verbose,
              0};
    if (left < 2) {
        if (left == 1) {
            uint16_t v = 0;
            memcpy(&v, sect, 1);
            printf(".short\t0x%04x\n", c.swapped ? SWAP_SHORT(v) : v);
        }
        printf("(end of section)\n");
        return static_cast<uint32_t>(left);
    }
    const uint32_t op = read16(c);
    switch (op >> 12) {
    case 0:
        line0(c, op);
        break;
    case 1:
    case 2:
    case 3:
        line_move(c, op);
        break;
    case 4:
        line4(c, op);
        break;
    case 5:
        line5(c, op);
        break;
    case 6:
        line6(c, op);
        break;
    case 7:
        printf("moveq\t#%ld,%s\n", static_cast<long>(static_cast<int8_t>(op & 0xff)), dregs[(op >> 9) & 7]);
        break;
    case 8:
        line8(c, op);
        break;
    case 9:
    case 13:
        line_addsub(c, op);
        break;
    case 11:
        line11(c, op);
        break;
    case 12:
        line12(c, op);
        break;
    case 14:
        line14(c, op);
        break;
    case 15:
        line15(c, op);
        break;
    default: // line 10
        print_invalid(op);
        break;
    }
    return c.used;
}

} // namespace macho
