// The register states of LC_THREAD and LC_UNIXTHREAD commands, by
// processor and flavor. Each state is copied into a zero-filled record of
// its full size, so a state cut short prints zeros where bytes are missing;
// a count read from the file moves the walk no further than the states'
// end.
#include "print/display.h"

#include "libstuff/bitfields.h"
#include "libstuff/errors.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace macho {

namespace {

byte_sex host()
{
    return get_host_byte_sex();
}

// The thread-state walk over [p, end).
struct cursor {
    const char* p;
    const char* end;
    bool swapped;

    uint64_t left() const { return static_cast<uint64_t>(end - p); }

    uint32_t word()
    {
        if (left() <= 4) {
            p = end;
            return 0;
        }
        uint32_t v;
        memcpy(&v, p, 4);
        p += 4;
        return swapped ? SWAP_INT(v) : v;
    }

    /// The next `size` bytes into `rec` (zeros past the end; the walk then
    /// ends) and the same bytes, unconverted, into `raw` when given.
    void take(void* rec, size_t size, void* raw = nullptr)
    {
        memset(rec, 0, size);
        const size_t n = left() < size ? static_cast<size_t>(left()) : size;
        memcpy(rec, p, n);
        if (raw != nullptr) {
            memset(raw, 0, size);
            memcpy(raw, p, n);
        }
        p = n < size ? end : p + size;
    }

    /// Steps over `count` words, never past the end.
    void skip_words(uint32_t count)
    {
        const uint64_t n = uint64_t(count) * 4;
        p = n >= left() ? end : p + n;
    }
};

// A 32-bit word at `off` of raw file-order bytes, in host order.
uint32_t raw_word(const unsigned char* raw, size_t off, bool swapped)
{
    uint32_t v;
    memcpy(&v, raw + off, 4);
    return swapped ? SWAP_INT(v) : v;
}

void count_line(uint32_t count, uint32_t expected, const char* name, const char* not_tail = ")\n")
{
    if (count == expected)
        printf("      count %s_COUNT\n", name);
    else
        printf("      count %lu (not %s_COUNT%s", static_cast<unsigned long>(count), name, not_tail);
}

void flavor_line(const char* name, bool six = false)
{
    printf("%s flavor %s\n", six ? "     " : "    ", name);
}

struct reg32 {
    std::string name;
    uint32_t value;
};

std::string nm(const char* prefix, unsigned long i)
{
    return prefix + std::to_string(i);
}

// Registers as name and "0x%08x", `per_line` to a line after `prefix`,
// `sep` between them, each name padded to `width` (one blank at least).
void print_regs(const std::vector<reg32>& regs, const char* prefix, const char* sep, size_t per_line,
                size_t width = 4)
{
    for (size_t i = 0; i < regs.size(); ++i) {
        printf("%s", i % per_line == 0 ? prefix : sep);
        size_t n = regs[i].name.size();
        printf("%s", regs[i].name.c_str());
        do
            putchar(' ');
        while (++n < width);
        printf("0x%08x", regs[i].value);
        if (i % per_line == per_line - 1 || i + 1 == regs.size())
            printf("\n");
    }
}

// ---- x86 ----

void print_i386_thread_state(const i386_thread_state& c)
{
    printf("\t    eax 0x%08x ebx    0x%08x ecx 0x%08x edx 0x%08x\n"
           "\t    edi 0x%08x esi    0x%08x ebp 0x%08x esp 0x%08x\n"
           "\t    ss  0x%08x eflags 0x%08x eip 0x%08x cs  0x%08x\n"
           "\t    ds  0x%08x es     0x%08x fs  0x%08x gs  0x%08x\n",
           c.eax, c.ebx, c.ecx, c.edx, c.edi, c.esi, c.ebp, c.esp, c.ss, c.eflags, c.eip, c.cs, c.ds, c.es, c.fs,
           c.gs);
}

void print_x86_thread_state64(const x86_thread_state64& c)
{
    auto x = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    printf("   rax  0x%016llx rbx 0x%016llx rcx  0x%016llx\n", x(c.rax), x(c.rbx), x(c.rcx));
    printf("   rdx  0x%016llx rdi 0x%016llx rsi  0x%016llx\n", x(c.rdx), x(c.rdi), x(c.rsi));
    printf("   rbp  0x%016llx rsp 0x%016llx r8   0x%016llx\n", x(c.rbp), x(c.rsp), x(c.r8));
    printf("    r9  0x%016llx r10 0x%016llx r11  0x%016llx\n", x(c.r9), x(c.r10), x(c.r11));
    printf("   r12  0x%016llx r13 0x%016llx r14  0x%016llx\n", x(c.r12), x(c.r13), x(c.r14));
    printf("   r15  0x%016llx rip 0x%016llx\n", x(c.r15), x(c.rip));
    printf("rflags  0x%016llx cs  0x%016llx fs   0x%016llx\n", x(c.rflags), x(c.cs), x(c.fs));
    printf("    gs  0x%016llx\n", x(c.gs));
}

template <typename F>
void print_float_state(const F& f, int nxmm, int rsrv_rows, bool swapped)
{
    // Bit-field words as plain values, bit 0 least significant.
    const uint32_t fcw = swapped ? bits_from_host(f.fpu_fcw, kFpControlBits) : f.fpu_fcw;
    const uint32_t fsw = swapped ? bits_from_host(f.fpu_fsw, kFpStatusBits) : f.fpu_fsw;
    auto bit = [](uint32_t w, int b) { return static_cast<int>((w >> b) & 1); };
    printf("\t    fpu_reserved[0] %d fpu_reserved[1] %d\n", f.fpu_reserved[0], f.fpu_reserved[1]);
    printf("\t    control: invalid %d denorm %d zdiv %d ovrfl %d undfl %d precis %d\n", bit(fcw, 0), bit(fcw, 1),
           bit(fcw, 2), bit(fcw, 3), bit(fcw, 4), bit(fcw, 5));
    printf("\t\t     pc ");
    switch ((fcw >> 8) & 3) {
    case 0:
        printf("FP_PREC_24B ");
        break;
    case 2:
        printf("FP_PREC_53B ");
        break;
    case 3:
        printf("FP_PREC_64B ");
        break;
    default:
        printf("%d ", static_cast<int>((fcw >> 8) & 3));
        break;
    }
    printf("rc ");
    switch ((fcw >> 10) & 3) {
    case 0:
        printf("FP_RND_NEAR ");
        break;
    case 1:
        printf("FP_RND_DOWN ");
        break;
    case 2:
        printf("FP_RND_UP ");
        break;
    default:
        printf("FP_CHOP ");
        break;
    }
    printf("\n");
    printf("\t    status: invalid %d denorm %d zdiv %d ovrfl %d undfl %d precis %d stkflt %d\n", bit(fsw, 0),
           bit(fsw, 1), bit(fsw, 2), bit(fsw, 3), bit(fsw, 4), bit(fsw, 5), bit(fsw, 6));
    printf("\t            errsumm %d c0 %d c1 %d c2 %d tos %d c3 %d busy %d\n", bit(fsw, 7), bit(fsw, 8),
           bit(fsw, 9), bit(fsw, 10), static_cast<int>((fsw >> 11) & 7), bit(fsw, 14), bit(fsw, 15));
    printf("\t    fpu_ftw 0x%02x fpu_rsrv1 0x%02x fpu_fop 0x%04x fpu_ip 0x%08x\n", f.fpu_ftw, f.fpu_rsrv1, f.fpu_fop,
           f.fpu_ip);
    printf("\t    fpu_cs 0x%04x fpu_rsrv2 0x%04x fpu_dp 0x%08x fpu_ds 0x%04x\n", f.fpu_cs, f.fpu_rsrv2, f.fpu_dp,
           f.fpu_ds);
    printf("\t    fpu_rsrv3 0x%04x fpu_mxcsr 0x%08x fpu_mxcsrmask 0x%08x\n", f.fpu_rsrv3, f.fpu_mxcsr,
           f.fpu_mxcsrmask);
    for (int i = 0; i < 8; ++i) {
        printf("\t    fpu_stmm%d:\n", i);
        print_mmst_reg(f.fpu_stmm[i].mmst_reg);
    }
    for (int i = 0; i < nxmm; ++i) {
        printf("\t    fpu_xmm%d:\n", i);
        print_xmm_reg(f.fpu_xmm[i].xmm_reg);
    }
    printf("\t    fpu_rsrv4:\n");
    for (int r = 0; r < rsrv_rows; ++r) {
        printf("\t            ");
        for (int k = 0; k < 16; ++k)
            printf("%02x ", f.fpu_rsrv4[r * 16 + k]);
        printf("\n");
    }
    printf("\t    fpu_reserved1 0x%08x\n", f.fpu_reserved1);
}

void print_i386_exception_state(const i386_exception_state& e)
{
    printf("\t    trapno 0x%08x err 0x%08x faultvaddr 0x%08x\n", e.trapno, e.err, e.faultvaddr);
}

void print_x86_exception_state64(const x86_exception_state64& e)
{
    printf("\t    trapno 0x%08x err 0x%08x faultvaddr 0x%016llx\n", e.trapno, e.err,
           static_cast<unsigned long long>(e.faultvaddr));
}

void print_x86_debug_state32(const x86_debug_state32& d)
{
    printf("\t    dr0 0x%08x dr1 0x%08x dr2 0x%08x dr3 0x%08x\n", d.dr[0], d.dr[1], d.dr[2], d.dr[3]);
    printf("\t    dr4 0x%08x dr5 0x%08x dr6 0x%08x dr7 0x%08x\n", d.dr[4], d.dr[5], d.dr[6], d.dr[7]);
}

void print_x86_debug_state64(const x86_debug_state64& d)
{
    auto x = [](uint64_t v) { return static_cast<unsigned long long>(v); };
    printf("\t    dr0 0x%016llx dr1 0x%016llx dr2 0x%016llx dr3 0x%016llx\n", x(d.dr[0]), x(d.dr[1]), x(d.dr[2]),
           x(d.dr[3]));
    printf("\t    dr4 0x%016llx dr5 0x%016llx dr6 0x%016llx dr7 0x%016llx\n", x(d.dr[4]), x(d.dr[5]), x(d.dr[6]),
           x(d.dr[7]));
}

// The states an x86 header names, in a record of the outer flavor's size.
union x86_state_body {
    i386_thread_state ts32;
    x86_thread_state64 ts64;
    i386_float_state fs32;
    x86_float_state64 fs64;
    i386_exception_state es32;
    x86_exception_state64 es64;
    x86_debug_state32 ds32;
    x86_debug_state64 ds64;
};

bool x86_state(cursor& c, uint32_t flavor, uint32_t count)
{
    const bool sw = c.swapped;
    switch (flavor) {
    case 1: {
        flavor_line("i386_THREAD_STATE");
        count_line(count, 16, "i386_THREAD_STATE");
        i386_thread_state s;
        c.take(&s, sizeof s);
        if (sw)
            swap_i386_thread_state(&s, host());
        print_i386_thread_state(s);
        return true;
    }
    case 2: {
        flavor_line("i386_FLOAT_STATE");
        count_line(count, 131, "i386_FLOAT_STATE");
        i386_float_state s;
        c.take(&s, sizeof s);
        if (sw)
            swap_i386_float_state(&s, host());
        print_float_state(s, 8, 14, sw);
        return true;
    }
    case 3: {
        flavor_line("i386_EXCEPTION_STATE");
        count_line(count, 3, "I386_EXCEPTION_STATE");
        i386_exception_state s;
        c.take(&s, sizeof s);
        if (sw)
            swap_i386_exception_state(&s, host());
        print_i386_exception_state(s);
        return true;
    }
    case 4: {
        flavor_line("x86_THREAD_STATE64");
        count_line(count, 42, "x86_THREAD_STATE64");
        x86_thread_state64 s;
        c.take(&s, sizeof s);
        if (sw)
            swap_x86_thread_state64(&s, host());
        print_x86_thread_state64(s);
        return true;
    }
    case 5: {
        flavor_line("x86_FLOAT_STATE64");
        count_line(count, 131, "x86_FLOAT_STATE64");
        x86_float_state64 s;
        c.take(&s, sizeof s);
        if (sw)
            swap_x86_float_state64(&s, host());
        print_float_state(s, 16, 6, sw);
        return true;
    }
    case 6: {
        flavor_line("x86_EXCEPTION_STATE64");
        count_line(count, 4, "x86_EXCEPTION_STATE64");
        x86_exception_state64 s;
        c.take(&s, sizeof s);
        if (sw)
            swap_x86_exception_state64(&s, host());
        print_x86_exception_state64(s);
        return true;
    }
    case 10: {
        flavor_line("x86_DEBUG_STATE32");
        count_line(count, 8, "x86_DEBUG_STATE32");
        x86_debug_state32 s;
        c.take(&s, sizeof s);
        if (sw)
            swap_x86_debug_state32(&s, host());
        print_x86_debug_state32(s);
        return true;
    }
    case 11: {
        flavor_line("x86_DEBUG_STATE64");
        count_line(count, 16, "x86_DEBUG_STATE64");
        x86_debug_state64 s;
        c.take(&s, sizeof s);
        if (sw)
            swap_x86_debug_state64(&s, host());
        print_x86_debug_state64(s);
        return true;
    }
    case 7:
    case 8:
    case 9:
    case 12: {
        const char* name = flavor == 7 ? "x86_THREAD_STATE"
                           : flavor == 8 ? "x86_FLOAT_STATE"
                           : flavor == 9 ? "x86_EXCEPTION_STATE"
                                         : "x86_DEBUG_STATE";
        const uint32_t words = flavor == 7 ? 44 : flavor == 8 ? 133 : flavor == 9 ? 6 : 18;
        flavor_line(name);
        count_line(count, words, name, flavor == 12 ? "\n" : ")\n");
        struct {
            x86_state_hdr hdr;
            x86_state_body body;
        } rec;
        static_assert(sizeof(x86_state_hdr) + sizeof(x86_state_body) >= 133 * 4, "x86 record");
        memset(&rec, 0, sizeof rec);
        c.take(&rec, uint64_t(words) * 4);
        if (sw)
            swap_x86_state_hdr(&rec.hdr, host());
        const int32_t hf = rec.hdr.flavor;
        const int32_t hc = rec.hdr.count;
        if (flavor == 7) {
            if (hf == 1) {
                printf("\t    tsh.flavor x86_THREAD_STATE32 ");
                if (hc == 16)
                    printf("tsh.count x86_THREAD_STATE32_COUNT\n");
                else
                    printf("tsh.count %d (not x86_THREAD_STATE32_COUNT\n", hc);
                if (sw)
                    swap_i386_thread_state(&rec.body.ts32, host());
                print_i386_thread_state(rec.body.ts32);
            } else if (hf == 4) {
                printf("\t    tsh.flavor x86_THREAD_STATE64 ");
                if (hc == 42)
                    printf("tsh.count x86_THREAD_STATE64_COUNT\n");
                else
                    printf("tsh.count %d (not x86_THREAD_STATE64_COUNT\n", hc);
                if (sw)
                    swap_x86_thread_state64(&rec.body.ts64, host());
                print_x86_thread_state64(rec.body.ts64);
            } else {
                printf("\t    tsh.flavor %d tsh.count %d\n", hf, hc);
            }
        } else if (flavor == 8) {
            if (hf == 2) {
                printf("\t    fsh.flavor x86_FLOAT_STATE32 ");
                if (hc == 131)
                    printf("tsh.count x86_FLOAT_STATE32_COUNT\n");
                else
                    printf("tsh.count %d (not x86_FLOAT_STATE32_COUNT\n", hc);
                if (sw)
                    swap_i386_float_state(&rec.body.fs32, host());
                print_float_state(rec.body.fs32, 8, 14, sw);
            } else if (hf == 5) {
                printf("\t    fsh.flavor x86_FLOAT_STATE64 ");
                if (hc == 131)
                    printf("tsh.count x86_FLOAT_STATE64_COUNT\n");
                else
                    printf("tsh.count %d (not x86_FLOAT_STATE64_COUNT\n", hc);
                if (sw)
                    swap_x86_float_state64(&rec.body.fs64, host());
                print_float_state(rec.body.fs64, 16, 6, sw);
            } else {
                printf("\t    fsh.flavor %d fsh.count %d\n", hf, hc);
            }
        } else if (flavor == 9) {
            if (hf == 3) {
                printf("\t    esh.flavor x86_EXCEPTION_STATE32\n");
                if (hc == 3)
                    printf("\t    esh.count x86_EXCEPTION_STATE32_COUNT\n");
                else
                    printf("\t    esh.count %d (not x86_EXCEPTION_STATE32_COUNT\n", hc);
                if (sw)
                    swap_i386_exception_state(&rec.body.es32, host());
                print_i386_exception_state(rec.body.es32);
            } else if (hf == 6) {
                printf("\t    esh.flavor x86_EXCEPTION_STATE64\n");
                if (hc == 4)
                    printf("\t    esh.count x86_EXCEPTION_STATE64_COUNT\n");
                else
                    printf("\t    esh.count %d (not x86_EXCEPTION_STATE64_COUNT\n", hc);
                if (sw)
                    swap_x86_exception_state64(&rec.body.es64, host());
                print_x86_exception_state64(rec.body.es64);
            } else {
                printf("\t    esh.flavor %d esh.count %d\n", hf, hc);
            }
        } else {
            if (hf == 10) {
                printf("\t    dsh.flavor x86_DEBUG_STATE32\n");
                if (hc == 8)
                    printf("\t    dsh.count x86_DEBUG_STATE32_COUNT\n");
                else
                    printf("\t    esh.count %d (not x86_DEBUG_STATE32__COUNT\n", hc);
                if (sw)
                    swap_x86_debug_state32(&rec.body.ds32, host());
                print_x86_debug_state32(rec.body.ds32);
            } else if (hf == 11) {
                printf("\t    dsh.flavor x86_DEBUG_STATE64\n");
                if (hc == 16)
                    printf("\t    dsh.count x86_DEBUG_STATE64_COUNT\n");
                else
                    printf("\t    esh.count %d (not x86_DEBUG_STATE64__COUNT\n", hc);
                if (sw)
                    swap_x86_debug_state64(&rec.body.ds64, host());
                print_x86_debug_state64(rec.body.ds64);
            } else {
                printf("\t    dsh.flavor %d dsh.count %d\n", hf, hc);
            }
        }
        return true;
    }
    default:
        return false;
    }
}

// ---- m68k ----

bool m68k_state(cursor& c, uint32_t flavor, uint32_t count)
{
    const bool sw = c.swapped;
    switch (flavor) {
    case 1: {
        flavor_line("M68K_THREAD_STATE_REGS");
        count_line(count, 18, "M68K_THREAD_STATE_REGS");
        m68k_thread_state_regs s;
        c.take(&s, sizeof s);
        if (sw)
            swap_m68k_thread_state_regs(&s, host());
        printf(" dregs ");
        for (int32_t v : s.dreg)
            printf(" %08x", static_cast<uint32_t>(v));
        printf("\n aregs ");
        for (int32_t v : s.areg)
            printf(" %08x", static_cast<uint32_t>(v));
        printf("\n pad 0x%04x sr 0x%04x pc 0x%08x\n", static_cast<uint16_t>(s.pad0), s.sr, s.pc);
        return true;
    }
    case 2: {
        flavor_line("M68K_THREAD_STATE_68882");
        count_line(count, 28, "M68K_THREAD_STATE_68882", "\n");
        m68k_thread_state_68882 s;
        unsigned char raw[sizeof s];
        c.take(&s, sizeof s, raw);
        if (sw)
            swap_m68k_thread_state_68882(&s, host());
        // Each register's three words as they lie in the file.
        for (unsigned long i = 0; i < 8; ++i)
            printf(" fp reg %lu %08x %08x %08x\n", i, raw_word(raw, i * 12, sw), raw_word(raw, i * 12 + 4, sw),
                   raw_word(raw, i * 12 + 8, sw));
        printf(" cr 0x%08x sr 0x%08x state 0x%08x\n", s.cr, s.sr, s.state);
        return true;
    }
    case 3: {
        flavor_line("M68K_THREAD_STATE_USER_REG");
        count_line(count, 1, "M68K_THREAD_STATE_USER_REG", "\n");
        m68k_thread_state_user_reg s;
        c.take(&s, sizeof s);
        if (sw)
            swap_m68k_thread_state_user_reg(&s, host());
        printf(" user_reg 0x%08x\n", static_cast<uint32_t>(s.user_reg));
        return true;
    }
    default:
        return false;
    }
}

// ---- HP-PA ----

bool hppa_state(cursor& c, uint32_t flavor, uint32_t count)
{
    const bool sw = c.swapped;
    switch (flavor) {
    case 1: {
        flavor_line("HPPA_INTEGER_THREAD_STATE", true);
        count_line(count, 36, "HPPA_INTEGER_THREAD_STATE");
        hppa_integer_thread_state s;
        c.take(&s, sizeof s);
        if (sw)
            swap_hppa_integer_thread_state(&s, host());
        std::vector<reg32> regs;
        for (unsigned long i = 0; i < 31; ++i)
            regs.push_back({nm("r", i + 1), s.gr[i]});
        for (unsigned long i = 0; i < 3; ++i)
            regs.push_back({nm("sr", i), s.sr[i]});
        regs.push_back({"sar", s.sar});
        print_regs(regs, "", "  ", 4);
        return true;
    }
    case 2: {
        flavor_line("HPPA_FRAME_THREAD_STATE", true);
        count_line(count, 11, "HPPA_FRAME_THREAD_STATE");
        hppa_frame_thread_state s;
        c.take(&s, sizeof s);
        if (sw)
            swap_hppa_frame_thread_state(&s, host());
        printf("pcsq_front  0x%08x pcsq_back  0x%08x\npcoq_front  0x%08x pcoq_back  0x%08x\n       psw  0x%08x\n",
               s.pcsq_front, s.pcsq_back, s.pcoq_front, s.pcoq_back, s.psw);
        return true;
    }
    case 3: {
        flavor_line("HPPA_FP_THREAD_STATE", true);
        count_line(count, 64, "HPPA_FP_THREAD_STATE");
        hppa_fp_thread_state s;
        c.take(&s, sizeof s);
        if (sw)
            swap_hppa_fp_thread_state(&s, host());
        for (int i = 0; i < 32; i += 2)
            printf("%-5s%f    %-5s%f\n", nm("fp", i).c_str(), s.fp[i], nm("fp", i + 1).c_str(), s.fp[i + 1]);
        return true;
    }
    default:
        return false;
    }
}

// ---- SPARC ----

bool sparc_state(cursor& c, uint32_t flavor, uint32_t count)
{
    const bool sw = c.swapped;
    switch (flavor) {
    case 1: {
        flavor_line("SPARC_THREAD_STATE_REGS");
        count_line(count, 19, "SPARC_THREAD_STATE_REGS");
        sparc_thread_state_regs s;
        c.take(&s, sizeof s);
        if (sw)
            swap_sparc_thread_state_regs(&s, host());
        const uint32_t psr = sw ? bits_from_host(s.psr, kSparcPsrBits) : s.psr;
        std::vector<reg32> regs{{"psr", psr}, {"pc", s.pc}, {"npc", s.npc}, {"y", s.y}, {"g0", 0}};
        for (unsigned long i = 0; i < 7; ++i)
            regs.push_back({nm("g", i + 1), s.g[i]});
        for (unsigned long i = 0; i < 8; ++i)
            regs.push_back({nm("o", i), s.o[i]});
        print_regs(regs, "", "  ", 4);
        return true;
    }
    case 2: {
        flavor_line("SPARC_THREAD_STATE_FPU");
        count_line(count, 68, "SPARC_THREAD_STATE_FPU");
        sparc_thread_state_fpu s;
        unsigned char raw[sizeof s];
        c.take(&s, sizeof s, raw);
        if (sw)
            swap_sparc_thread_state_fpu(&s, host());
        std::vector<reg32> regs;
        for (unsigned long i = 0; i < 32; ++i)
            regs.push_back({nm("f", i), raw_word(raw, i * 4, sw)});
        print_regs(regs, "", "  ", 4);
        printf("fsr 0x%08x\n", sw ? bits_from_host(s.fsr, kSparcFsrBits) : s.fsr);
        return true;
    }
    default:
        return false;
    }
}

// ---- PowerPC ----

bool ppc_state(cursor& c, uint32_t flavor, uint32_t count)
{
    const bool sw = c.swapped;
    switch (flavor) {
    case 1: {
        flavor_line("PPC_THREAD_STATE");
        count_line(count, 40, "PPC_THREAD_STATE");
        ppc_thread_state_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_ppc_thread_state_t(&s, host());
        std::vector<reg32> regs;
        for (unsigned long i = 0; i < 32; ++i)
            regs.push_back({nm("r", i), s.r[i]});
        regs.push_back({"cr", s.cr});
        regs.push_back({"xer", s.xer});
        regs.push_back({"lr", s.lr});
        regs.push_back({"ctr", s.ctr});
        regs.push_back({"mq", s.mq});
        regs.push_back({"vrsave", s.vrsave});
        regs.push_back({"srr0", s.srr0});
        regs.push_back({"srr1", s.srr1});
        print_regs(regs, "    ", " ", 5);
        return true;
    }
    case 2: {
        flavor_line("PPC_FLOAT_STATE", true);
        count_line(count, 66, "PPC_FLOAT_STATE");
        ppc_float_state_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_ppc_float_state_t(&s, host());
        for (int i = 0; i < 32; i += 2)
            printf("       %-4s%f    %-4s%f\n", nm("f", i).c_str(), s.fpregs[i], nm("f", i + 1).c_str(),
                   s.fpregs[i + 1]);
        printf("       fpscr_pad 0x%x fpscr 0x%x\n", s.fpscr_pad, s.fpscr);
        return true;
    }
    case 3: {
        flavor_line("PPC_EXCEPTION_STATE", true);
        count_line(count, 8, "PPC_EXCEPTION_STATE");
        ppc_exception_state_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_ppc_exception_state_t(&s, host());
        printf("      dar 0x%x dsisr 0x%x exception 0x%x pad0 0x%x\n", s.dar, s.dsisr, s.exception, s.pad0);
        printf("      pad1[0] 0x%x pad1[1] 0x%x pad1[2] 0x%x pad1[3] 0x%x\n", s.pad1[0], s.pad1[1], s.pad1[2],
               s.pad1[3]);
        return true;
    }
    case 5: {
        flavor_line("PPC_THREAD_STATE64");
        count_line(count, 76, "PPC_THREAD_STATE64");
        ppc_thread_state64_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_ppc_thread_state64_t(&s, host());
        struct item {
            std::string name;
            uint64_t value;
            bool wide;
        };
        std::vector<item> items;
        for (unsigned long i = 0; i < 32; ++i)
            items.push_back({nm("r", i), s.r[i], true});
        items.push_back({"cr", s.cr, false});
        items.push_back({"xer", s.xer, true});
        items.push_back({"lr", s.lr, true});
        items.push_back({"ctr", s.ctr, true});
        items.push_back({"vrsave", s.vrsave, false});
        items.push_back({"srr0", s.srr0, true});
        items.push_back({"srr1", s.srr1, true});
        for (size_t i = 0; i < items.size(); ++i) {
            const size_t col = i % 3;
            printf("%s", col == 0 ? "    " : " ");
            // The third column's names take one place more.
            const size_t width = col == 2 ? 5 : 4;
            int n = printf("%s", items[i].name.c_str());
            do
                putchar(' ');
            while (static_cast<size_t>(++n) < width);
            if (items[i].wide)
                printf("0x%016llx", static_cast<unsigned long long>(items[i].value));
            else
                printf("0x%08x", static_cast<uint32_t>(items[i].value));
            if (col == 2 || i + 1 == items.size())
                printf("\n");
        }
        return true;
    }
    default:
        return false;
    }
}

// ---- m88k ----

const char* match_word(uint32_t m)
{
    switch (m) {
    case 0:
        return "MATCH_BYTE ";
    case 1:
        return "MATCH_SHORT ";
    case 3:
        return "MATCH_WORD ";
    case 7:
        return "MATCH_DOUBLE ";
    case 15:
        return "MATCH_QUAD ";
    case 31:
        return "MATCH_32 ";
    case 63:
        return "MATCH_64 ";
    case 127:
        return "MATCH_128 ";
    case 255:
        return "MATCH_256 ";
    case 511:
        return "MATCH_512 ";
    case 1023:
        return "MATCH_1024 ";
    case 2047:
        return "MATCH_2048 ";
    case 4095:
        return "MATCH_4096 ";
    default:
        return nullptr;
    }
}

bool m88k_state(cursor& c, uint32_t flavor, uint32_t count)
{
    const bool sw = c.swapped;
    auto bit = [](uint32_t w, int b) { return static_cast<int>((w >> b) & 1); };
    switch (flavor) {
    case 1: {
        flavor_line("M88K_THREAD_STATE_GRF", true);
        count_line(count, 34, "M88K_THREAD_STATE_GRF");
        m88k_thread_state_grf_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_m88k_thread_state_grf_t(&s, host());
        std::vector<reg32> regs;
        for (unsigned long i = 0; i < 31; ++i)
            regs.push_back({nm("r", i + 1), s.r[i]});
        regs.push_back({"xip", s.xip});
        regs.push_back({"xip_in_bd", s.xip_in_bd});
        regs.push_back({"nip", s.nip});
        print_regs(regs, "      ", " ", 5);
        return true;
    }
    case 2: {
        flavor_line("M88K_THREAD_STATE_XRF", true);
        count_line(count, 128, "M88K_THREAD_STATE_XRF");
        m88k_thread_state_xrf_t s;
        unsigned char raw[sizeof s];
        c.take(&s, sizeof s, raw);
        if (sw)
            swap_m88k_thread_state_xrf_t(&s, host());
        for (unsigned long i = 0; i < 31; ++i)
            printf("      %-4s0x%08x 0x%08x 0x%08x 0x%08x\n", nm("x", i + 1).c_str(), raw_word(raw, i * 16, sw),
                   raw_word(raw, i * 16 + 4, sw), raw_word(raw, i * 16 + 8, sw), raw_word(raw, i * 16 + 12, sw));
        const uint32_t fpsr = sw ? bits_from_host(s.fpsr, kM88kFpsrBits) : s.fpsr;
        const uint32_t fpcr = sw ? bits_from_host(s.fpcr, kM88kFpcrBits) : s.fpcr;
        printf("      fpsr xmod %d afinv %d afdvz %d afunf %d afovf %d afinx %d\n", bit(fpsr, 15), bit(fpsr, 4),
               bit(fpsr, 3), bit(fpsr, 2), bit(fpsr, 1), bit(fpsr, 0));
        printf("      fpcr rm ");
        static const char* const kRm[] = {"RM_NEAREST ", "RM_ZERO ", "RM_NEGINF ", "RM_POSINF "};
        printf("%s", kRm[(fpcr >> 14) & 3]);
        printf("efinv %d efdvz %d efunf %d efovf %d efinx %d\n", bit(fpcr, 4), bit(fpcr, 3), bit(fpcr, 2),
               bit(fpcr, 1), bit(fpcr, 0));
        return true;
    }
    case 3: {
        flavor_line("M88K_THREAD_STATE_USER", true);
        count_line(count, 1, "M88K_THREAD_STATE_USER");
        m88k_thread_state_user_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_m88k_thread_state_user_t(&s, host());
        printf("      user 0x%08x\n", static_cast<uint32_t>(s.user));
        return true;
    }
    case 4: {
        flavor_line("M88110_THREAD_STATE_IMPL", true);
        count_line(count, 16, "M88110_THREAD_STATE_IMPL");
        m88110_thread_state_impl_t s;
        c.take(&s, sizeof s);
        if (sw)
            swap_m88110_thread_state_impl_t(&s, host());
        for (unsigned long j = 0; j < 2; ++j) {
            const uint32_t ctrl = sw ? bits_from_host(s.data_bp[j].ctrl, kM88110BpCtrlBits) : s.data_bp[j].ctrl;
            printf("      data_bp[%lu] addr 0x%08x\n", j, s.data_bp[j].addr);
            printf("                  cntl rw %d rwm %d addr_match ", bit(ctrl, 3), bit(ctrl, 4));
            const uint32_t m = (ctrl >> 19) & 0xfff;
            const char* w = match_word(m);
            if (w != nullptr)
                printf("%s", w);
            else
                printf("%d (?)", static_cast<int>(m));
            printf("v %d\n", bit(ctrl, 31));
        }
        const uint32_t psr = sw ? bits_from_host(s.psr, kM88110PsrBits) : s.psr;
        printf("      psr le %d se %d c %d sgn_imd %d sm %d sfu1dis %d mxm_dis %d\n", bit(psr, 1), bit(psr, 2),
               bit(psr, 3), bit(psr, 5), bit(psr, 6), bit(psr, 28), bit(psr, 29));
        return true;
    }
    default:
        return false;
    }
}

// ---- i860 ----

bool i860_state(cursor& c, uint32_t flavor, uint32_t count)
{
    if (flavor != 4)
        return false;
    flavor_line("I860_THREAD_STATE_REGS", true);
    count_line(count, 97, "I860_THREAD_STATE_REGS");
    i860_thread_state_regs s;
    c.take(&s, sizeof s);
    if (c.swapped)
        swap_i860_thread_state_regs(&s, host());
    printf(" iregs\n");
    for (unsigned long i = 0; i < 31; ++i) {
        printf(" i%-2lu 0x%08x", i, static_cast<uint32_t>(s.ireg[i]));
        if (i % 5 == 4 || i == 30)
            printf("\n");
    }
    printf(" fregs\n");
    for (unsigned long i = 0; i < 30; ++i) {
        printf(" f%-2lu 0x%08x", i, static_cast<uint32_t>(s.freg[i]));
        if (i % 5 == 4 || i == 29)
            printf("\n");
    }
    printf(" psr 0x%08x epsr 0x%08x db 0x%08x pc 0x%08x\n", static_cast<uint32_t>(s.psr),
           static_cast<uint32_t>(s.epsr), static_cast<uint32_t>(s.db), static_cast<uint32_t>(s.pc));
    printf(" Mres3 %e Ares3 %e\n", s.Mres3, s.Ares3);
    printf(" Mres2 %e Ares2 %e\n", s.Mres2, s.Ares2);
    printf(" Mres1 %e Ares1 %e\n", s.Mres1, s.Ares1);
    printf(" Ires1 %e\n", s.Ires1);
    printf(" Lres3m %e Lres2m %e Lres1m %e\n", s.Lres3m, s.Lres2m, s.Lres1m);
    printf(" KR %e KI %e T %e\n", s.KR, s.KI, s.T);
    printf(" Fsr3 0x%08x Fsr2 0x%08x Fsr1 0x%08x\n", static_cast<uint32_t>(s.Fsr3), static_cast<uint32_t>(s.Fsr2),
           static_cast<uint32_t>(s.Fsr1));
    printf(" Mergelo32 0x%08x Mergehi32 0x%08x\n", static_cast<uint32_t>(s.Mergelo32),
           static_cast<uint32_t>(s.Mergehi32));
    return true;
}

} // namespace

void print_unknown_state(const char* begin, const char* end, uint32_t count, int swap)
{
    const uint64_t present = static_cast<uint64_t>(end - begin) / 4;
    const uint64_t n = count < present ? count : present;
    // Only the words present are read: no copy sized by the count.
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t w;
        memcpy(&w, begin + i * 4, 4);
        if (swap)
            w = SWAP_INT(w);
        printf("%08x ", w);
        if (i % 8 == 7 || i + 1 == n)
            printf("\n");
    }
}

void print_mmst_reg(const uint8_t* bytes)
{
    printf("\t      mmst_reg  ");
    for (int i = 0; i < 10; ++i)
        printf("%02x ", bytes[i]);
    printf("\n\t      mmst_rsrv ");
    for (int i = 10; i < 16; ++i)
        printf("%02x ", bytes[i]);
    printf("\n");
}

void print_xmm_reg(const uint8_t* bytes)
{
    printf("\t      xmm_reg ");
    for (int i = 0; i < 16; ++i)
        printf("%02x ", bytes[i]);
    printf("\n");
}

void print_thread_states(const char* begin, const char* end, int32_t cputype, byte_sex thread_states_byte_sex)
{
    cursor c{begin, end, thread_states_byte_sex != host()};
    bool (*flavors)(cursor&, uint32_t, uint32_t) = nullptr;
    switch (cputype) {
    case 6:
        flavors = m68k_state;
        break;
    case 7:
    case 0x01000007:
        flavors = x86_state;
        break;
    case 11:
        flavors = hppa_state;
        break;
    case 13:
        flavors = m88k_state;
        break;
    case 14:
        flavors = sparc_state;
        break;
    case 15:
        flavors = i860_state;
        break;
    case 18:
    case 255:
    case 0x01000012:
        flavors = ppc_state;
        break;
    default:
        break;
    }
    while (c.p < c.end) {
        const uint32_t flavor = c.word();
        const uint32_t count = c.word();
        if (flavors != nullptr && flavors(c, flavor, count))
            continue;
        printf("     flavor %lu%s\n", static_cast<unsigned long>(flavor), flavors != nullptr ? " (unknown)" : "");
        printf("      count %lu\n", static_cast<unsigned long>(count));
        printf(flavors != nullptr ? "      state:\n" : "      state (Unknown cputype/cpusubtype):\n");
        print_unknown_state(c.p, c.end, count, c.swapped);
        c.skip_words(count);
    }
}

} // namespace macho
