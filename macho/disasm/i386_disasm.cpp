// The i386 and x86-64 disassembler: one instruction a call, in AT&T syntax.
// Table-driven: each opcode byte selects a row of i386_tables.cpp; the row's
// operand form decides what is read next and how it prints. Operand bytes
// are read under the section's remaining-byte limit (missing bytes read as
// 0 and are not counted). Nothing is allocated and nothing outlives a call.
#include "disasm/disasm.h"
#include "disasm/i386_tables.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace macho {

namespace {

using namespace i386;

// ---- register names ----

const char* const REG16[8][2] = {{"%al", "%ax"}, {"%cl", "%cx"}, {"%dl", "%dx"}, {"%bl", "%bx"},
                                 {"%ah", "%sp"}, {"%ch", "%bp"}, {"%dh", "%si"}, {"%bh", "%di"}};

const char* const REG32[16][3] = {
    {"%al", "%eax", "%rax"},    {"%cl", "%ecx", "%rcx"},    {"%dl", "%edx", "%rdx"},    {"%bl", "%ebx", "%rbx"},
    {"%ah", "%esp", "%rsp"},    {"%ch", "%ebp", "%rbp"},    {"%dh", "%esi", "%rsi"},    {"%bh", "%edi", "%rdi"},
    {"%r8b", "%r8d", "%r8"},    {"%r9b", "%r9d", "%r9"},    {"%r10b", "%r10d", "%r10"}, {"%r11b", "%r11d", "%r11"},
    {"%r12b", "%r12d", "%r12"}, {"%r13b", "%r13d", "%r13"}, {"%r14b", "%r14d", "%r14"}, {"%r15b", "%r15d", "%r15"},
};

const char* const regname16[4][8] = {
    {"%bx,%si", "%bx,%di", "%bp,%si", "%bp,%di", "%si", "%di", "", "%bx"},
    {"%bx,%si", "%bx,%di", "%bp,%si", "%bp,%di", "%si", "%di", "%bp", "%bx"},
    {"%bx,%si", "%bx,%di", "%bp,%si", "%bp,%di", "%si", "%di", "%bp", "%bx"},
    {"%ax", "%cx", "%dx", "%bx", "%sp", "%bp", "%si", "%di"},
};

const char* const regname32[4][8] = {
    {"%eax", "%ecx", "%edx", "%ebx", "%esp", "", "%esi", "%edi"},
    {"%eax", "%ecx", "%edx", "%ebx", "%esp", "%ebp", "%esi", "%edi"},
    {"%eax", "%ecx", "%edx", "%ebx", "%esp", "%ebp", "%esi", "%edi"},
    {"%eax", "%ecx", "%edx", "%ebx", "%esp", "%ebp", "%esi", "%edi"},
};

const char* const regname64[16] = {"%rax", "%rcx", "%rdx", "%rbx", "%rsp", "%rbp", "%rsi", "%rdi",
                                   "%r8",  "%r9",  "%r10", "%r11", "%r12", "%r13", "%r14", "%r15"};

const char* const indexname[8] = {",%eax", ",%ecx", ",%edx", ",%ebx", "", ",%ebp", ",%esi", ",%edi"};

const char* const indexname64[16] = {",%rax", ",%rcx", ",%rdx", ",%rbx", "",     ",%rbp", ",%rsi", ",%rdi",
                                     ",%r8",  ",%r9",  ",%r10", ",%r11", ",%r12", ",%r13", ",%r14", ",%r15"};

const char* const scale_factor[4] = {"1", "2", "4", "8"};

const char* const SEGREG[8] = {"%es", "%cs", "%ss", "%ds", "%fs", "%gs", "%?6", "%?7"};

const char* const CONTROLREG[16] = {"%cr0", "%cr1", "%cr2",  "%cr3",  "%cr4",  "%cr5",  "%cr6",  "%cr7",
                                    "%cr8", "%cr9", "%cr10", "%cr11", "%cr12", "%cr13", "%cr14", "%cr15"};
const char* const DEBUGREG[16] = {"%db0", "%db1", "%db2",  "%db3",  "%db4",  "%db5",  "%db6",  "%db7",
                                  "%db8", "%db9", "%db10", "%db11", "%db12", "%db13", "%db14", "%db15"};
const char* const TESTREG[8] = {"%tr0", "%tr1", "%tr2", "%tr3", "%tr4", "%tr5", "%tr6", "%tr7"};

// Displacement sizes by [r/m][mod].
const signed char dispsize32[8][4] = {{0, 1, 4, 0}, {0, 1, 4, 0}, {0, 1, 4, 0}, {0, 1, 4, 0},
                                      {0, 1, 4, 0}, {4, 1, 4, 0}, {0, 1, 4, 0}, {0, 1, 4, 0}};
const signed char dispsize16[8][4] = {{0, 1, 2, 0}, {0, 1, 2, 0}, {0, 1, 2, 0}, {0, 1, 2, 0},
                                      {0, 1, 2, 0}, {0, 1, 2, 0}, {2, 1, 2, 0}, {0, 1, 2, 0}};

constexpr uint8_t REX_W = 8, REX_R = 4, REX_X = 2, REX_B = 1;

/// A name and the most characters it may have: a name read from the string
/// table by its index stops at the table's end even without a NUL.
struct name_ref {
    const char* p = nullptr;
    int n = 0;
};

/// One decoded operand: names, the number printed after them, its width in
/// bytes, and the register or base-index text.
struct operand {
    name_ref symadd;
    name_ref symsub;
    uint64_t value = 0;
    uint32_t value_size = 0;
    char result[40];
};

enum vec_kind { XMM, MM, GPR };

struct decoder {
    // the byte reader
    const unsigned char* sect;
    uint64_t length;
    uint64_t left;

    // what the call was given
    uint64_t addr;
    uint64_t sect_addr;
    bool is64;
    const relocation_info* relocs;
    uint32_t nrelocs;
    const nlist* symbols;
    const nlist_64* symbols64;
    uint32_t nsymbols;
    const sorted_symbol* sorted;
    uint32_t nsorted;
    const char* strings;
    uint64_t strings_size;
    int verbose;

    // stand-ins for names a difference relocation needs but no symbol has
    char add_buffer[16];
    char sub_buffer[16];

    // decoder state
    bool data16 = false;
    bool addr16 = false;
    const char* seg = "";
    uint8_t seg_byte = 0;
    uint8_t rex = 0;
    uint8_t last_prefix = 0;
    uint8_t op1 = 0;
    uint8_t op2 = 0;
    bool two_byte = false;
    uint8_t last_byte = 0;
    bool have_modrm = false;
    uint8_t modrm = 0;
    unsigned mod = 0, reg = 0, rm = 0;
    char mn[32];

    uint64_t get_value(unsigned size)
    {
        uint64_t v = 0;
        for (unsigned i = 0; i < size && left > 0; ++i) {
            v |= static_cast<uint64_t>(sect[length]) << (8 * i);
            ++length;
            --left;
        }
        return v;
    }

    uint8_t next_byte()
    {
        last_byte = static_cast<uint8_t>(get_value(1));
        return last_byte;
    }

    void read_modrm()
    {
        if (have_modrm)
            return;
        modrm = next_byte();
        have_modrm = true;
        mod = modrm >> 6;
        reg = (modrm >> 3) & 7;
        rm = modrm & 7;
    }

    const char* get_reg_name(unsigned r, unsigned wbit, bool d16) const
    {
        if (rex != 0)
            return REG32[r + ((rex & REX_R) ? 8 : 0)][wbit + ((rex & REX_W) ? 1 : 0)];
        return d16 ? REG16[r][wbit] : REG32[r][wbit];
    }

    const char* get_r_m_name(unsigned r, unsigned wbit, bool d16) const
    {
        if (rex != 0)
            return REG32[r + ((rex & REX_B) ? 8 : 0)][wbit + ((rex & REX_W) ? 1 : 0)];
        return d16 ? REG16[r][wbit] : REG32[r][wbit];
    }

    unsigned xmm_reg() const { return reg + ((rex & REX_R) ? 8 : 0); }
    unsigned xmm_rm() const { return rm + ((rex & REX_B) ? 8 : 0); }

    bool get_symbol(operand& o, uint64_t r_address, uint64_t value, uint64_t* offset);
    void name_value(operand& o, uint64_t r_address);
    void get_operand(operand& o, unsigned wbit, bool d16, bool sse2, bool mmx);
    void immediate(operand& o, unsigned size);
    uint64_t displacement(operand& o, unsigned size);
    void print_operand(const char* segtext, const operand& o, const char* tail) const;

    unsigned full_size() const { return data16 ? 2 : 4; }
    unsigned prefix_p() const
    {
        return last_prefix == 0x66 || last_prefix == 0xf2 || last_prefix == 0xf3 ? last_prefix : 0;
    }
    void bad(uint8_t b) const { printf(".byte 0x%02x #bad opcode\n", b); }

    void vector_form(const opcode_row& r);
    void sse_load_store(bool store);
    const char* vec_reg(char* buf, size_t n, vec_kind k) const;
    void vec_rm(operand& o, vec_kind k) { get_operand(o, 1, false, k == XMM, k == MM); }
};

// ---- names from relocation entries and symbols ----

bool decoder::get_symbol(operand& o, uint64_t r_address, uint64_t value, uint64_t* offset)
{
    o.symadd = name_ref{};
    o.symsub = name_ref{};
    *offset = value;
    if (!verbose || nrelocs == 0 || relocs == nullptr)
        return false;
    for (uint32_t i = 0; i < nrelocs; ++i) {
        const relocation_info& r = relocs[i];
        const unsigned long index = i;
        if (!is64 && reloc_scattered(r)) {
            const uint32_t type = sreloc_type(r);
            if (type == GENERIC_RELOC_PAIR) {
                fprintf(stderr, "Stray GENERIC_RELOC_PAIR relocation entry %lu\n", index);
            } else if (type == GENERIC_RELOC_VANILLA) {
                if (sreloc_address(r) == r_address) {
                    const char* n = guess_symbol(sreloc_value(r), sorted, nsorted, verbose);
                    if (n != nullptr) {
                        o.symadd = name_ref{n, INT_MAX};
                        *offset = value - sreloc_value(r);
                        return true;
                    }
                }
            } else if (type == GENERIC_RELOC_SECTDIFF || type == GENERIC_RELOC_LOCAL_SECTDIFF) {
                // Look at the pair only when there is an entry after this one.
                const bool paired = i + 1 < nrelocs && (static_cast<uint32_t>(relocs[i + 1].r_address) &
                                                        0x8f000000) == (R_SCATTERED | (GENERIC_RELOC_PAIR << 24));
                if (!paired) {
                    fprintf(stderr, "No GENERIC_RELOC_PAIR relocation entry after entry %lu\n", index);
                    continue;
                }
                const relocation_info& pair = relocs[i + 1];
                if (sreloc_address(r) != r_address) {
                    ++i;
                    continue;
                }
                const char* add = guess_symbol(sreloc_value(r), sorted, nsorted, verbose);
                if (add == nullptr) {
                    snprintf(add_buffer, sizeof add_buffer, "0x%x", sreloc_value(r));
                    add = add_buffer;
                }
                const char* sub = guess_symbol(sreloc_value(pair), sorted, nsorted, verbose);
                if (sub == nullptr) {
                    snprintf(sub_buffer, sizeof sub_buffer, "0x%x", sreloc_value(pair));
                    sub = sub_buffer;
                }
                o.symadd = name_ref{add, INT_MAX};
                o.symsub = name_ref{sub, INT_MAX};
                const int32_t diff = static_cast<int32_t>(sreloc_value(r) - sreloc_value(pair));
                *offset = value - static_cast<uint64_t>(static_cast<int64_t>(diff));
                return true;
            } else {
                fprintf(stderr, "Unknown relocation r_type for entry %lu\n", index);
            }
            continue;
        }
        if (static_cast<uint64_t>(static_cast<uint32_t>(r.r_address)) != r_address)
            continue;
        const uint32_t symnum = reloc_symbolnum(r);
        if (reloc_extern(r) && symnum < nsymbols) {
            const uint32_t strx = symbols != nullptr ? symbols[symnum].n_strx
                                  : symbols64 != nullptr ? symbols64[symnum].n_strx
                                                         : 0;
            if (strx != 0 && strings != nullptr && strx < strings_size) {
                const uint64_t room = strings_size - strx;
                o.symadd = name_ref{strings + strx, room > INT_MAX ? INT_MAX : static_cast<int>(room)};
            }
        }
        return o.symadd.p != nullptr;
    }
    return false;
}

void decoder::name_value(operand& o, uint64_t r_address)
{
    if (!verbose)
        return;
    uint64_t offset;
    if (get_symbol(o, r_address, o.value, &offset)) {
        o.value = offset;
        return;
    }
    const char* n = guess_symbol(o.value, sorted, nsorted, verbose);
    if (n != nullptr) {
        o.symadd = name_ref{n, INT_MAX};
        o.value = 0;
    }
}

// ---- operands ----

void decoder::get_operand(operand& o, unsigned wbit, bool d16, bool sse2, bool mmx)
{
    o.symadd = name_ref{};
    o.symsub = name_ref{};
    o.value = 0;
    o.value_size = 0;
    o.result[0] = '\0';

    const bool has_sib = mod != 3 && rm == 4 && (is64 || !addr16);
    unsigned ss = 0, index = 0, base = 0;
    if (has_sib) {
        const uint8_t sib = static_cast<uint8_t>(get_value(1));
        ss = sib >> 6;
        index = (sib >> 3) & 7;
        base = sib & 7;
    }
    const bool addr16_32 = addr16 && !is64; // 16-bit addressing
    o.value_size = static_cast<uint32_t>(addr16_32 ? dispsize16[rm][mod] : dispsize32[rm][mod]);
    if (has_sib && mod == 0 && base == 5)
        o.value_size = 4;
    if (o.value_size != 0) {
        const uint64_t r_address = addr + length - sect_addr;
        o.value = get_value(o.value_size) & 0xffffffffu;
        name_value(o, r_address);
    }

    if (has_sib) {
        const char* base_t;
        const char* index_t;
        if (!is64 || addr16) {
            base_t = regname32[mod][base];
            index_t = indexname[index];
        } else {
            base_t = regname64[base + ((rex & REX_B) ? 8 : 0)];
            index_t = indexname64[index + ((rex & REX_X) ? 8 : 0)];
        }
        if (mod == 0 && base == 5)
            base_t = "";
        if (ss == 0) {
            if (base_t[0] == '\0' && index_t[0] == '\0')
                o.result[0] = '\0';
            else
                snprintf(o.result, sizeof o.result, "(%s%s)", base_t, index_t);
        } else {
            snprintf(o.result, sizeof o.result, "(%s%s,%s)", base_t, index_t, scale_factor[ss]);
        }
        return;
    }
    if (mod == 3) {
        if (sse2)
            snprintf(o.result, sizeof o.result, "%%xmm%u", xmm_rm());
        else if (mmx)
            snprintf(o.result, sizeof o.result, "%%mm%u", rm);
        else
            snprintf(o.result, sizeof o.result, "%s", get_r_m_name(rm, wbit, d16));
        return;
    }
    if (mod == 0 && rm == 5 && !addr16_32) {
        snprintf(o.result, sizeof o.result, "%s", is64 ? "(%rip)" : "");
        return;
    }
    const char* text;
    if (addr16)
        text = is64 ? regname32[mod][rm] : regname16[mod][rm];
    else
        text = is64 ? regname64[rm + ((rex & REX_B) ? 8 : 0)] : regname32[mod][rm];
    if (text[0] == '\0')
        o.result[0] = '\0';
    else
        snprintf(o.result, sizeof o.result, "(%s)", text);
}

void decoder::immediate(operand& o, unsigned size)
{
    o.symadd = name_ref{};
    o.symsub = name_ref{};
    o.result[0] = '\0';
    const uint64_t r_address = addr + length - sect_addr;
    o.value = get_value(size);
    o.value_size = size;
    name_value(o, r_address);
}

// Reads a branch displacement and makes `o` its target (or the symbol a
// relocation entry names); returns the target address.
uint64_t decoder::displacement(operand& o, unsigned size)
{
    o.symadd = name_ref{};
    o.symsub = name_ref{};
    o.result[0] = '\0';
    o.value_size = size;
    const uint64_t r_address = addr + length - sect_addr;
    const uint64_t raw = get_value(size);
    int64_t disp;
    if (size == 1)
        disp = static_cast<int8_t>(raw);
    else if (size == 2)
        disp = static_cast<int16_t>(raw);
    else
        disp = static_cast<int32_t>(raw);
    const uint64_t next = addr + length;
    uint64_t target;
    if (is64) {
        target = next + static_cast<uint64_t>(disp);
        // x86-64 relocation entries name the symbol and keep the addend in
        // the displacement, so a named target prints the displacement.
        uint64_t offset;
        if (get_symbol(o, r_address, static_cast<uint32_t>(disp), &offset)) {
            o.value = offset & 0xffffffffu;
            return target;
        }
        o.value = target;
    } else {
        target = static_cast<uint32_t>(next + static_cast<uint64_t>(disp));
        o.value = target;
        uint64_t offset;
        if (get_symbol(o, r_address, o.value, &offset)) {
            o.value = offset & 0xffffffffu;
            return target;
        }
    }
    if (verbose) {
        const char* n = guess_symbol(o.value, sorted, nsorted, verbose);
        if (n != nullptr) {
            o.symadd = name_ref{n, INT_MAX};
            o.value = 0;
        }
    }
    return target;
}

void decoder::print_operand(const char* segtext, const operand& o, const char* tail) const
{
    const int width = static_cast<int>(2 * o.value_size);
    const unsigned long long v = o.value;
    if (o.symadd.p != nullptr && o.symsub.p != nullptr) {
        if (o.value_size != 0 && v != 0)
            printf("%s%.*s-%.*s+0x%0*llx%s%s", segtext, o.symadd.n, o.symadd.p, o.symsub.n, o.symsub.p, width, v,
                   o.result, tail);
        else
            printf("%s%.*s-%.*s%s%s", segtext, o.symadd.n, o.symadd.p, o.symsub.n, o.symsub.p, o.result, tail);
    } else if (o.symadd.p != nullptr) {
        if (o.value_size != 0 && v != 0)
            printf("%s%.*s+0x%0*llx%s%s", segtext, o.symadd.n, o.symadd.p, width, v, o.result, tail);
        else
            printf("%s%.*s%s%s", segtext, o.symadd.n, o.symadd.p, o.result, tail);
    } else if (o.value_size != 0) {
        printf("%s0x%0*llx%s%s", segtext, width, v, o.result, tail);
    } else {
        printf("%s%s%s", segtext, o.result, tail);
    }
}

// ---- the vector forms ----

const char* decoder::vec_reg(char* buf, size_t n, vec_kind k) const
{
    switch (k) {
    case XMM:
        snprintf(buf, n, "%%xmm%u", xmm_reg());
        return buf;
    case MM:
        snprintf(buf, n, "%%mm%u", reg);
        return buf;
    case GPR:
        return get_reg_name(reg, 1, false);
    }
    return "";
}

const char* by_prefix(unsigned p, const char* p66, const char* pf2, const char* pf3, const char* none)
{
    return p == 0x66 ? p66 : p == 0xf2 ? pf2 : p == 0xf3 ? pf3 : none;
}

// OF_SSE (load) and OF_SSE_STORE: the ending, the operand kinds and the
// order chosen by the last prefix byte.
void decoder::sse_load_store(bool store)
{
    read_modrm();
    const unsigned p = prefix_p();
    const char* end = "";
    const char* whole = nullptr;
    bool unnamed = false;
    vec_kind rk = XMM, gk = XMM; // r/m operand, reg operand
    char rbuf[16];
    operand o;

    // A store row takes the ending and operand kinds of the load row it
    // mirrors; D6 and E7 have their own. Key 0 stands for "chosen here".
    unsigned key = op2;
    if (store) {
        switch (op2) {
        case 0x11: key = 0x10; break;
        case 0x7f: key = 0x6f; break;
        case 0xd6:
            if (p == 0xf2 || p == 0xf3) {
                sse_load_store(false);
                return;
            }
            key = 0;
            if (p == 0x66)
                end = "q";
            else {
                unnamed = true;
                rk = GPR;
            }
            break;
        case 0xe7:
            key = 0;
            if (p == 0x66)
                end = "tdq";
            else {
                end = "tq";
                rk = gk = MM;
            }
            break;
        default: key = 0x14; break; // 13, 17, 29, 2B
        }
    }

    switch (key) {
    case 0: break;
    case 0x10: end = by_prefix(p, "upd", "sd", "ss", "ups"); break;
    case 0x12:
        if (p == 0xf2 || p == 0xf3)
            whole = p == 0xf2 ? "movddup" : "movsldup";
        else
            end = p == 0x66 ? "lpd" : mod == 3 ? "hlps" : "lps";
        break;
    case 0x16:
        if (p == 0xf3)
            whole = "movshdup";
        else
            end = p == 0x66 ? "hpd" : p == 0xf2 ? "hsd" : mod == 3 ? "lhps" : "hps";
        break;
    case 0x14:
    case 0x15:
    case 0x28:
    case 0x51:
    case 0x52:
    case 0x53:
    case 0x54:
    case 0x55:
    case 0x56:
    case 0x57:
    case 0x58:
    case 0x59:
    case 0x5c:
    case 0x5d:
    case 0x5e:
    case 0x5f: end = by_prefix(p, "pd", "sd", "ss", "ps"); break;
    case 0x2a:
        end = by_prefix(p, "pi2pd", "si2sd", "si2ss", "pi2ps");
        rk = p == 0xf2 || p == 0xf3 ? GPR : MM;
        break;
    case 0x2c:
        end = by_prefix(p, "tpd2pi", "tsd2si", "tss2si", "tps2pi");
        gk = p == 0xf2 || p == 0xf3 ? GPR : MM;
        break;
    case 0x2d:
        end = by_prefix(p, "pd2pi", "sd2si", "ss2si", "ps2pi");
        gk = p == 0xf2 || p == 0xf3 ? GPR : MM;
        break;
    case 0x2e:
    case 0x2f: end = p == 0x66 ? "sd" : "ss"; break;
    case 0x50:
        end = p == 0x66 ? "pd" : "ps";
        gk = GPR;
        break;
    case 0x5a: end = by_prefix(p, "pd2ps", "sd2ss", "ss2sd", "ps2pd"); break;
    case 0x5b: end = by_prefix(p, "ps2dq", "dq2ps", "tps2dq", "dq2ps"); break;
    case 0x6c:
    case 0x6d:
        if (p == 0x66)
            end = "qdq";
        else
            unnamed = true;
        break;
    case 0x6e:
        rk = GPR;
        gk = p == 0x66 ? XMM : MM;
        break;
    case 0x6f:
        if (p == 0x66 || p == 0xf3)
            end = p == 0x66 ? "dqa" : "dqu";
        else {
            end = "q";
            rk = gk = MM;
        }
        break;
    case 0x7c:
    case 0x7d:
    case 0xd0:
        if (p == 0x66 || p == 0xf2)
            end = p == 0x66 ? "d" : "s";
        else
            rk = gk = MM;
        break;
    case 0xd6:
        // reached with F2 or F3 only
        if (p == 0xf2) {
            end = "dq2q";
            gk = MM;
        } else {
            end = "q2dq";
            rk = MM;
        }
        break;
    case 0xd7:
        get_operand(o, 1, false, false, false);
        if (p == 0x66)
            printf("%s\t%%xmm%u,%s\n", mn, xmm_rm(), get_reg_name(reg, 1, false));
        else
            printf("%s\t%%mm%lu,%s\n", mn, static_cast<unsigned long>(rm), get_reg_name(reg, 1, false));
        return;
    case 0xe6:
        if (p == 0)
            unnamed = true;
        else
            end = by_prefix(p, "tpd2dq", "pd2dq", "dq2pd", "");
        break;
    case 0xf0: break;
    case 0xf7:
        if (p != 0x66) {
            get_operand(o, 1, false, false, true);
            printf("%sq\t%%mm%lu,%%mm%lu\n", mn, static_cast<unsigned long>(rm), static_cast<unsigned long>(reg));
            return;
        }
        end = "dqu";
        break;
    default:
        // the MMX and SSE2 integer rows
        if (p != 0x66)
            rk = gk = MM;
        break;
    }
    if (store) {
        if (unnamed)
            get_operand(o, 0, false, false, false); // a byte-sized general operand
        else
            vec_rm(o, rk);
        if (unnamed)
            printf("\t%s,", vec_reg(rbuf, sizeof rbuf, gk));
        else
            printf("%s%s\t%s,", mn, end, vec_reg(rbuf, sizeof rbuf, gk));
        print_operand(seg, o, "\n");
        return;
    }
    vec_rm(o, rk);
    if (unnamed)
        printf("\t");
    else if (whole != nullptr)
        printf("%s\t", whole);
    else
        printf("%s%s\t", mn, end);
    print_operand(seg, o, ",");
    printf("%s\n", vec_reg(rbuf, sizeof rbuf, gk));
}

void decoder::vector_form(const opcode_row& r)
{
    const unsigned p = prefix_p();
    char rbuf[16];
    operand o;
    switch (r.form) {
    case OF_SSE:
        sse_load_store(false);
        return;
    case OF_SSE_STORE:
        sse_load_store(true);
        return;
    case OF_SSE_IMM: {
        read_modrm();
        if (op2 == 0x70) {
            const bool x = p != 0;
            vec_rm(o, x ? XMM : MM);
            const unsigned imm = static_cast<unsigned>(get_value(1));
            if (x)
                printf("%s%s\t$0x%x,", mn, by_prefix(p, "fd", "flw", "fhw", ""), imm);
            else
                printf("%sfw\t$0x%x,", mn, imm);
            print_operand(seg, o, ",");
            printf("%s\n", vec_reg(rbuf, sizeof rbuf, x ? XMM : MM));
        } else if (op2 == 0xc2 || op2 == 0xc6) {
            vec_rm(o, XMM);
            const unsigned imm = static_cast<unsigned>(get_value(1));
            printf("%s%s\t$0x%x,", mn, by_prefix(p, "pd", "sd", "ss", "ps"), imm);
            print_operand(seg, o, ",");
            printf("%s\n", vec_reg(rbuf, sizeof rbuf, XMM));
        } else if (op2 == 0xc4) {
            vec_rm(o, GPR);
            const unsigned imm = static_cast<unsigned>(get_value(1));
            printf("%s\t$0x%x,", mn, imm);
            print_operand(seg, o, ",");
            printf("%s\n", vec_reg(rbuf, sizeof rbuf, p == 0x66 ? XMM : MM));
        } else { // C5
            get_operand(o, 1, false, false, false);
            const unsigned imm = static_cast<unsigned>(get_value(1));
            if (p == 0x66)
                printf("%s\t$0x%x,%%xmm%u,%s\n", mn, imm, xmm_rm(), get_reg_name(reg, 1, false));
            else
                printf("%s\t$0x%x,%%mm%lu,%s\n", mn, imm, static_cast<unsigned long>(rm),
                       get_reg_name(reg, 1, false));
        }
        return;
    }
    case OF_SSE_SHIFT: {
        read_modrm();
        const unsigned imm = static_cast<unsigned>(get_value(1));
        const char* fmt = nullptr;
        if (op2 == 0x71)
            fmt = reg == 2 ? "%srlw\t$0x%x," : reg == 4 ? "%sraw\t$0x%x," : reg == 6 ? "%sllw\t$0x%x," : nullptr;
        else if (op2 == 0x72)
            fmt = reg == 2 ? "%srld\t$0x%x," : reg == 4 ? "%srad\t$0x%x," : reg == 6 ? "%slld\t$0x%x," : nullptr;
        else if (reg == 2)
            fmt = "%srlq\t$0x%x,";
        else if (reg == 6)
            fmt = "%sllq\t$0x%x,";
        else if (p == 0x66 && reg == 3)
            fmt = "%srldq\t$0x%x,";
        else if (p == 0x66 && reg == 7)
            fmt = "%slldq\t$0x%x,";
        if (fmt != nullptr)
            printf(fmt, mn, imm);
        else
            printf("\t");
        if (p == 0x66)
            printf("%%xmm%u\n", xmm_rm());
        else
            printf("%%mm%lu\n", static_cast<unsigned long>(rm));
        return;
    }
    case OF_SSE_MOVD_STORE:
        read_modrm();
        if (p == 0x66) {
            vec_rm(o, GPR);
            printf("%sd\t%%xmm%u,", mn, xmm_reg());
            print_operand(seg, o, "\n");
        } else if (p == 0xf3) {
            vec_rm(o, XMM);
            printf("%sq\t", mn);
            print_operand(seg, o, ",");
            printf("%%xmm%u\n", xmm_reg());
        } else {
            vec_rm(o, last_prefix == 0xf0 ? MM : GPR);
            printf("%sd\t%%mm%lu,", mn, static_cast<unsigned long>(reg));
            print_operand(seg, o, "\n");
        }
        return;
    case OF_SSSE3:
    case OF_SSSE3_IMM: {
        read_modrm();
        const vec_kind k = p == 0x66 ? XMM : MM;
        vec_rm(o, k);
        if (r.form == OF_SSSE3_IMM)
            printf("%s\t$0x%x,", mn, static_cast<unsigned>(get_value(1)));
        else
            printf("%s\t", mn);
        print_operand(seg, o, ",");
        printf("%s\n", vec_reg(rbuf, sizeof rbuf, k));
        return;
    }
    case OF_SSE4:
    case OF_SSE4_IMM:
        read_modrm();
        vec_rm(o, XMM);
        if (r.form == OF_SSE4_IMM)
            printf("%s\t$0x%x,", mn, static_cast<unsigned>(get_value(1)));
        else
            printf("%s\t", mn);
        print_operand(seg, o, ",");
        printf("%%xmm%u\n", xmm_reg());
        return;
    case OF_SSE4_EXTRACT:
    case OF_SSE4_INSERT: {
        read_modrm();
        vec_rm(o, GPR);
        const unsigned imm = static_cast<unsigned>(get_value(1));
        const bool stem = strcmp(mn, "pextr") == 0 || strcmp(mn, "pinsr") == 0;
        if (stem)
            printf("%s%s\t$0x%x,", mn, (rex & REX_W) ? "q" : "d", imm);
        else
            printf("%s\t$0x%x,", mn, imm);
        if (r.form == OF_SSE4_EXTRACT) {
            printf("%%xmm%u,", xmm_reg());
            print_operand(seg, o, "\n");
        } else {
            print_operand(seg, o, ",");
            printf("%%xmm%u\n", xmm_reg());
        }
        return;
    }
    default:
        return;
    }
}

bool sse_family(operand_form f)
{
    switch (f) {
    case OF_SSE:
    case OF_SSE_IMM:
    case OF_SSE_SHIFT:
    case OF_SSE_STORE:
    case OF_SSE_MOVD_STORE:
    case OF_SSE4:
    case OF_SSE4_IMM:
    case OF_POPCNT:
    case OF_CRC32:
    case OF_CRC32_BYTE:
        return true;
    default:
        return false;
    }
}

bool is_vector(operand_form f)
{
    return f >= OF_SSE && f <= OF_SSE4_INSERT;
}

} // namespace

uint32_t i386_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                          const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                          uint64_t strings_size, const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                          int32_t cputype, const load_commands_view& load_commands, uint32_t ncmds,
                          uint32_t sizeofcmds, int verbose)
{
    if (left == 0) {
        printf("(end of section)\n");
        return 0;
    }
    const bool is64 = (static_cast<uint32_t>(cputype) & 0x01000000u) != 0;
    if (!is64) {
        addr = static_cast<uint32_t>(addr);
        sect_addr = static_cast<uint32_t>(sect_addr);
    }
    decoder d{};
    d.sect = reinterpret_cast<const unsigned char*>(sect);
    d.left = left;
    d.addr = addr;
    d.sect_addr = sect_addr;
    d.is64 = is64;
    d.relocs = relocs;
    d.nrelocs = verbose ? nrelocs : 0;
    d.symbols = symbols;
    d.symbols64 = symbols64;
    d.nsymbols = nsymbols;
    d.sorted = sorted_symbols;
    d.nsorted = nsorted_symbols;
    d.strings = strings;
    d.strings_size = strings_size;
    d.verbose = verbose;
    auto done = [&d]() { return static_cast<uint32_t>(d.length); };

    // Prefixes.
    const opcode_row* held = nullptr;
    uint8_t held_byte = 0;
    const opcode_row* r;
    uint8_t byte;
    for (;;) {
        byte = d.next_byte();
        r = &distable[byte];
        if (is64 && r->row_64 != R64_NONE)
            r = &row_for_64(r->row_64);
        if (r->form == OF_PREFIX) {
            if (held != nullptr)
                printf("%s", held->name);
            held = r;
            held_byte = byte;
            d.last_prefix = byte;
        } else if (r->form == OF_ADDR16) {
            d.addr16 = !d.addr16;
            d.last_prefix = byte;
        } else if (r->form == OF_DATA16) {
            d.data16 = !d.data16;
            d.last_prefix = byte;
        } else if (r->form == OF_SEG_OVERRIDE) {
            d.seg = r->name;
            d.seg_byte = byte;
            d.last_prefix = byte;
        } else if (r->form == OF_REX) {
            d.rex = byte;
        } else {
            break;
        }
    }
    d.op1 = byte;
    operand o; // the r/m operand of the 3DNow! path

    // Two- and three-byte opcodes, and the held prefix.
    if (r->next == T_0F) {
        d.two_byte = true;
        d.op2 = d.next_byte();
        r = &op0F[d.op2];
        if (is64 && r->row_64 != R64_NONE)
            r = &row_for_64(r->row_64);
        if (r->next == T_0F38) {
            r = &op0F38[d.next_byte()];
        } else if (r->next == T_0F3A) {
            const uint8_t b = d.next_byte();
            if (b >= op0F3A.size()) {
                d.bad(b);
                return done();
            }
            r = &op0F3A[b];
        }
        if (sse_family(r->form) || (d.op2 == 0xc7 && held_byte == 0xf3)) {
            // the prefix is part of the opcode
        } else if (r->next == T_0F0F) {
            d.read_modrm();
            d.get_operand(o, 0, d.data16, false, true);
            r = &op0F0F[d.next_byte()];
            d.data16 = false;
        } else if (r->next == T_0F01) {
            d.read_modrm();
            if (d.modrm == 0xc8 || d.modrm == 0xc9) {
                r = d.modrm == 0xc8 ? &op_monitor : &op_mwait;
                d.data16 = false;
            } else if (is64 && d.modrm == 0xf8) {
                r = &op_swapgs;
            } else {
                r = &group_table(T_0F01)[d.reg];
            }
        } else if (held != nullptr) {
            printf("%s", held->name);
        }
    } else if (held != nullptr) {
        if (byte == 0x90 && d.last_prefix == 0xf3) {
            printf("pause\n");
            return done();
        }
        const bool string_op = (byte >= 0x6c && byte <= 0x6f) || byte == 0xa4 || byte == 0xa5 || byte == 0xaa ||
                               byte == 0xab || byte == 0xac || byte == 0xad;
        printf("%s", held_byte == 0xf3 && string_op ? "rep/" : held->name);
    }

    // Groups and the x87 tables.
    if (r->next != T_NONE) {
        d.read_modrm();
        if (r->next == T_FP) {
            if (byte == 0xdb && d.mod == 3 && d.reg == 4) {
                r = &opFP5[d.rm];
            } else if (byte == 0xdb && d.mod == 3 && d.reg == 7) {
                printf(".byte 0x%01x%01x, 0x%01x%01x 0x%02x #bad opcode\n", byte >> 4, byte & 15u, d.op2 >> 4,
                       d.op2 & 15u, d.modrm);
                return done();
            } else if (byte == 0xd9 && d.mod == 3 && d.reg >= 4) {
                r = &opFP4[(d.reg - 4) * 8 + d.rm];
            } else if (d.mod == 3) {
                r = &opFP3[(byte - 0xd8) * 8 + d.reg];
            } else {
                r = &opFP1n2[(byte - 0xd8) * 8 + d.reg];
            }
        } else {
            const opcode_row* g = group_table(r->next);
            if (g == nullptr) {
                d.bad(d.last_byte);
                return done();
            }
            r = &g[d.reg];
        }
    }

    // 64-bit operands by default.
    if (is64 && (r->suffix_flags & SF_DEFAULT64))
        d.rex |= 0x40 | REX_W;

    // The mnemonic.
    const operand_form form = r->form;
    if (!(r->suffix_flags & SF_SIZE) || form == OF_CBW || form == OF_CWD) {
        snprintf(d.mn, sizeof d.mn, "%s", r->name);
    } else {
        const char* letter = d.data16                                          ? "w"
                             : form == OF_INDIRECT || form == OF_MEM_NOSUFFIX ? ""
                             : (d.rex & REX_W)                                ? "q"
                                                                              : "l";
        snprintf(d.mn, sizeof d.mn, "%s%s", r->name, letter);
    }
    if (form == OF_REL8) {
        if (d.seg_byte == 0x2e || d.seg_byte == 0x3e) {
            strcat(d.mn, d.seg_byte == 0x2e ? ",pn" : ",pt");
            d.seg = "";
        }
    }

    if (is_vector(form)) {
        d.vector_form(*r);
        return done();
    }

    const unsigned w = byte & 1u;
    const char* mn = d.mn;
    operand imm;
    switch (form) {
    case OF_NONE:
    case OF_SEG_OVERRIDE:
    case OF_DATA16:
    case OF_ADDR16:
    case OF_PREFIX:
    case OF_REX:
        d.bad(d.last_byte);
        break;
    case OF_PLAIN:
        printf("%s\n", mn);
        break;
    case OF_RM_REG:
    case OF_POPCNT:
        d.read_modrm();
        d.get_operand(o, w, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, ",");
        printf("%s\n", d.get_reg_name(d.reg, w, d.data16));
        break;
    case OF_REG_RM:
        d.read_modrm();
        d.get_operand(o, w, d.data16, false, false);
        printf("%s\t%s,", mn, d.get_reg_name(d.reg, w, d.data16));
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_MEM_REG:
    case OF_CRC32:
        d.read_modrm();
        d.get_operand(o, 1, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, ",");
        printf("%s\n", d.get_reg_name(d.reg, 1, d.data16));
        break;
    case OF_CRC32_BYTE:
        d.read_modrm();
        d.get_operand(o, 0, d.data16, false, false);
        if (d.mod == 3)
            snprintf(o.result, sizeof o.result, "%s", REG32[d.rm][0]);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, ",");
        printf("%s\n", d.get_reg_name(d.reg, 1, d.data16));
        break;
    case OF_IMM_RM_GROUP:
    case OF_IMM_RM:
        d.read_modrm();
        d.get_operand(o, w, d.data16, false, false);
        if (form == OF_IMM_RM_GROUP)
            d.immediate(imm, byte == 0x81 ? d.full_size() : 1);
        else
            d.immediate(imm, w ? d.full_size() : 1);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",");
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_IMM_OPREG:
        d.immediate(imm, 1);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",");
        printf("%s\n", d.get_r_m_name(byte & 7u, 0, d.data16));
        break;
    case OF_IMM_OPREG64:
        d.immediate(imm, d.data16 ? 2 : (d.rex & REX_W) ? 8 : 4);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",");
        printf("%s\n", d.get_r_m_name(byte & 7u, 1, d.data16));
        break;
    case OF_IMM_ACC: {
        const unsigned size = w ? d.full_size() : 1;
        d.immediate(imm, size);
        printf("%s\t$", mn);
        d.print_operand("", imm, size == 1 ? ",%al\n" : size == 2 ? ",%ax\n" : ",%eax\n");
        break;
    }
    case OF_MOFFS_ACC:
    case OF_ACC_MOFFS: {
        const unsigned size = is64 ? (d.addr16 ? 4 : 8) : (d.addr16 ? 2 : 4);
        d.immediate(imm, size);
        if (is64)
            mn = "movabsl";
        const char* acc = d.get_reg_name(0, w, d.data16);
        if (form == OF_MOFFS_ACC) {
            printf("%s\t", mn);
            d.print_operand(d.seg, imm, ",");
            printf("%s\n", acc);
        } else {
            printf("%s\t%s,", mn, acc);
            d.print_operand(d.seg, imm, "\n");
        }
        break;
    }
    case OF_RM_SREG:
        d.read_modrm();
        d.get_operand(o, 1, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, ",");
        printf("%s\n", SEGREG[d.reg]);
        break;
    case OF_SREG_RM:
        d.read_modrm();
        d.get_operand(o, 1, d.data16, false, false);
        printf("%s\t%s,", mn, SEGREG[d.reg]);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_SEG:
        printf("%s\t%s\n", mn, SEGREG[(byte >> 3) & 3u]);
        break;
    case OF_SEG_FSGS:
        printf("%s\t%s\n", mn, SEGREG[(d.op2 >> 3) & 7u]);
        break;
    case OF_OPREG:
        printf("%s\t%s\n", mn, d.get_r_m_name(byte & 7u, 1, d.data16));
        break;
    case OF_OPREG_ACC:
        printf("%s\t%s,%s\n", mn, d.get_r_m_name(byte & 7u, 1, d.data16), d.data16 ? "%ax" : "%eax");
        break;
    case OF_BSWAP:
        printf("%s\t%s\n", mn, d.get_r_m_name(d.op2 & 7u, 1, d.data16));
        break;
    case OF_SHIFT:
        d.get_operand(o, w, d.data16, false, false);
        printf("%s\t%s", mn, (byte & 2u) ? "%cl," : "");
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_SHIFT_IMM:
    case OF_BT_IMM: {
        const unsigned wb = form == OF_BT_IMM ? 1 : w;
        d.get_operand(o, wb, d.data16, false, false);
        d.immediate(imm, 1);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",");
        d.print_operand(d.seg, o, "\n");
        break;
    }
    case OF_RM_W:
    case OF_RM_MULDIV:
        d.get_operand(o, w, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_SETCC:
        d.read_modrm();
        d.get_operand(o, 0, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_MEM:
    case OF_MEM_NOSUFFIX:
        d.read_modrm();
        if (d.two_byte && d.op2 == 0x01 && d.modrm >= 0xc1 && d.modrm <= 0xc4) {
            static const char* const vmx[4] = {"vmcall", "vmlaunch", "vmresume", "vmxoff"};
            printf("%s\n", vmx[d.modrm - 0xc1]);
            break;
        }
        if (d.two_byte && d.op2 == 0xc7) {
            if (d.last_prefix == 0x66)
                mn = "vmclear";
            else if (d.last_prefix == 0xf3)
                mn = "vmxon";
            else if (d.reg == 6)
                mn = "vmptrld";
            else if (d.reg == 7)
                mn = "vmptrst";
        }
        d.get_operand(o, 1, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_INDIRECT: {
        d.get_operand(o, 1, d.data16, false, false);
        const bool star = d.mod != 0 || d.rm == 4 || d.rm == 5;
        printf("%s\t%s", mn, star ? "*" : "");
        d.print_operand(d.seg, o, "\n");
        break;
    }
    case OF_FAR_INDIRECT:
        d.get_operand(o, 1, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_REL8:
        d.displacement(o, 1);
        o.value_size = 4;
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_REL: {
        const uint64_t target = d.displacement(o, d.full_size());
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "");
        if (verbose) {
            const char* stub =
                guess_indirect_symbol(target, ncmds, sizeofcmds, load_commands, object_byte_sex, indirect_symbols,
                                      nindirect_symbols, symbols, symbols64, nsymbols, strings, strings_size);
            if (stub != nullptr)
                printf("\t; symbol stub for: %s", stub);
        }
        printf("\n");
        break;
    }
    case OF_FAR_IMM: {
        d.immediate(imm, d.full_size());
        operand segment;
        d.immediate(segment, 2);
        printf("%s\t$", mn);
        d.print_operand("", segment, ",$");
        d.print_operand("", imm, "\n");
        break;
    }
    case OF_IMM:
    case OF_IMM8:
    case OF_RET_IMM:
        d.immediate(imm, form == OF_IMM ? d.full_size() : form == OF_IMM8 ? 1 : 2);
        printf("%s\t$", mn);
        d.print_operand("", imm, "\n");
        break;
    case OF_ENTER: {
        d.immediate(imm, 2);
        operand level;
        d.immediate(level, 1);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",$");
        d.print_operand("", level, "\n");
        break;
    }
    case OF_INT3:
        printf("%s\t$0x3\n", mn);
        break;
    case OF_ASCII_ADJ:
        d.get_value(1);
        printf("%s\n", mn);
        break;
    case OF_IMUL3:
        d.read_modrm();
        d.get_operand(o, 1, d.data16, false, false);
        d.immediate(imm, byte == 0x69 ? d.full_size() : 1);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",");
        d.print_operand(d.seg, o, ",");
        printf("%s\n", d.get_reg_name(d.reg, 1, d.data16));
        break;
    case OF_SHLD_IMM:
        d.read_modrm();
        d.get_operand(o, 1, d.data16, false, false);
        d.immediate(imm, 1);
        printf("%s\t$", mn);
        d.print_operand("", imm, ",");
        printf("%s,", d.get_reg_name(d.reg, 1, d.data16));
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_SHLD_CL:
        d.read_modrm();
        d.get_operand(o, 1, d.data16, false, false);
        printf("%s\t%%cl,%s,", mn, d.get_reg_name(d.reg, 1, d.data16));
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_MOVX: {
        d.read_modrm();
        const unsigned wb = d.two_byte ? (d.op2 & 1u) : 0;
        d.get_operand(o, wb, d.rex != 0 ? d.data16 : true, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, ",");
        printf("%s\n", d.get_reg_name(d.reg, 1, d.data16));
        break;
    }
    case OF_XADD: {
        d.read_modrm();
        const unsigned wb = d.op2 & 1u;
        d.get_operand(o, wb, d.data16, false, false);
        printf("%s\t%s,", mn, d.get_reg_name(d.reg, wb, d.data16));
        d.print_operand(d.seg, o, "\n");
        break;
    }
    case OF_SPECIAL_REG: {
        d.read_modrm();
        const char* gpr = d.get_r_m_name(d.rm, 1, d.data16);
        const unsigned ext = (d.rex & REX_R) ? 8 : 0;
        switch (d.op2) {
        case 0x20: printf("%s\t%s,%s\n", mn, CONTROLREG[d.reg + ext], gpr); break;
        case 0x22: printf("%s\t%s,%s\n", mn, gpr, CONTROLREG[d.reg + ext]); break;
        case 0x21: printf("%s\t%s,%s\n", mn, DEBUGREG[d.reg + ext], gpr); break;
        case 0x23: printf("%s\t%s,%s\n", mn, gpr, DEBUGREG[d.reg + ext]); break;
        case 0x24: printf("%s\t%s,%s\n", mn, TESTREG[d.reg], gpr); break;
        default: printf("%s\t%s,%s\n", mn, gpr, TESTREG[d.reg]); break;
        }
        break;
    }
    case OF_STR_SI_DI:
        printf(d.addr16 ? "%s\t%s(%%si),(%%di)\n" : "%s\t%s(%%esi),(%%edi)\n", mn, d.seg);
        break;
    case OF_STR_REG_DI:
        printf(d.addr16 ? "%s\t%s,%s(%%di)\n" : "%s\t%s,%s(%%edi)\n", mn, d.get_reg_name(0, w, d.data16), d.seg);
        break;
    case OF_STR_SI_REG:
        printf(d.addr16 ? "%s\t%s(%%si),%s\n" : "%s\t%s(%%esi),%s\n", mn, d.seg, d.get_reg_name(0, w, d.data16));
        break;
    case OF_IN_IMM:
        d.immediate(imm, 1);
        printf("%s\t$", mn);
        d.print_operand(d.seg, imm, ",%eax\n");
        break;
    case OF_OUT_IMM:
        d.immediate(imm, 1);
        printf("%s\t%%eax,$", mn);
        d.print_operand("", imm, "\n");
        break;
    case OF_IN_DX:
        printf("%s\t%s%%dx,%%eax\n", mn, d.seg);
        break;
    case OF_OUT_DX:
        printf("%s\t%s%%eax,%%dx\n", mn, d.seg);
        break;
    case OF_CBW:
        printf("%s\n", d.data16 ? "cbtw" : "cwtl");
        break;
    case OF_CWD:
        printf("%s\n", d.data16 ? "cwtd" : "cltd");
        break;
    case OF_FP_ST:
        printf("%s\t%%st(%1.1lu)\n", mn, static_cast<unsigned long>(d.rm));
        break;
    case OF_FP_ST2:
        if (byte == 0xdc || byte == 0xdd || byte == 0xde)
            printf("%s\t%%st,%%st(%1.1lu)\n", mn, static_cast<unsigned long>(d.rm));
        else
            printf("%s\t%%st(%1.1lu),%%st\n", mn, static_cast<unsigned long>(d.rm));
        break;
    case OF_PREFETCH: {
        d.read_modrm();
        static const char* const hint[8] = {"nta", "t0", "t1", "t2", "", "", "", ""};
        d.get_operand(o, 0, d.data16, false, false);
        printf("prefetch%s%s\t", hint[d.reg], d.data16 ? "w" : "l");
        d.print_operand(d.seg, o, "\n");
        break;
    }
    case OF_PREFETCH_3DNOW:
        d.read_modrm();
        d.get_operand(o, 0, d.data16, false, false);
        printf("%s", d.reg == 0 ? "prefetch\t" : d.reg == 1 ? "prefetchw\t" : "");
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_CLFLUSH:
        if (d.mod == 3 && d.rm == 0) {
            printf("sfence\n");
            break;
        }
        d.get_operand(o, 0, d.data16, false, false);
        printf("%s\t", mn);
        d.print_operand(d.seg, o, "\n");
        break;
    case OF_3DNOW:
        printf("%s\t", mn);
        d.print_operand(d.seg, o, ",");
        printf("%%mm%lu\n", static_cast<unsigned long>(d.reg));
        break;
    case OF_SSE:
    case OF_SSE_IMM:
    case OF_SSE_SHIFT:
    case OF_SSE_STORE:
    case OF_SSE_MOVD_STORE:
    case OF_SSSE3:
    case OF_SSSE3_IMM:
    case OF_SSE4:
    case OF_SSE4_IMM:
    case OF_SSE4_EXTRACT:
    case OF_SSE4_INSERT:
        break; // handled above
    }
    return done();
}

} // namespace macho
