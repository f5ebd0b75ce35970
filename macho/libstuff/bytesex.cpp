#include "bytesex.h"

#include "arutil.h"
#include "bitfields.h"

#include <cstring>

namespace macho {

namespace {

[[maybe_unused]] inline uint8_t bsw(uint8_t v)
{
    return v;
}
inline uint16_t bsw(uint16_t v)
{
    return __builtin_bswap16(v);
}
inline int16_t bsw(int16_t v)
{
    return static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(v)));
}
inline uint32_t bsw(uint32_t v)
{
    return __builtin_bswap32(v);
}
inline int32_t bsw(int32_t v)
{
    return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(v)));
}
inline uint64_t bsw(uint64_t v)
{
    return __builtin_bswap64(v);
}
inline double bsw(double v)
{
    return SWAP_DOUBLE(v);
}

// Assignment by value also works on the members of packed records.
#define SW(field) ((field) = bsw(field))

template <typename T, size_t N>
void swap_array(T (&a)[N])
{
    for (size_t i = 0; i < N; ++i)
        SW(a[i]);
}

bool to_host(byte_sex target)
{
    return target == get_host_byte_sex();
}

uint32_t swap_bits32(uint32_t v, const BitLayout& layout, byte_sex target)
{
    if (to_host(target))
        return bits_to_host(bsw(v), layout);
    return bsw(bits_from_host(v, layout));
}

uint16_t swap_bits16(uint16_t v, const BitLayout& layout, byte_sex target)
{
    if (to_host(target))
        return static_cast<uint16_t>(bits_to_host(bsw(v), layout));
    return bsw(static_cast<uint16_t>(bits_from_host(v, layout)));
}

constexpr uint8_t kReloc[] = {24, 1, 2, 1, 4};
constexpr uint8_t kHint[] = {8, 24};
constexpr uint8_t kDylibRef[] = {24, 8};
constexpr uint8_t kFpControl[] = {1, 1, 1, 1, 1, 1, 2, 2, 2, 1, 3};
constexpr uint8_t kFpStatus[] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3, 1, 1};
constexpr uint8_t kSparcPsr[] = {5, 1, 1, 1, 4, 1, 1, 6, 1, 1, 1, 1, 4, 4};
constexpr uint8_t kSparcFsr[] = {5, 5, 2, 1, 1, 3, 3, 2, 1, 5, 2, 2};
constexpr uint8_t kM88kFpsr[] = {1, 1, 1, 1, 1, 10, 1, 16};
constexpr uint8_t kM88kFpcr[] = {1, 1, 1, 1, 1, 9, 2, 16};
constexpr uint8_t kM88110BpCtrl[] = {3, 1, 1, 14, 12, 1};
constexpr uint8_t kM88110Psr[] = {1, 1, 1, 1, 1, 1, 1, 21, 1, 1, 2};

constexpr uint32_t mask(unsigned w)
{
    return w >= 32 ? 0xffffffffu : ((1u << w) - 1);
}

} // namespace

const BitLayout kRelocationInfoBits{32, kReloc, sizeof kReloc};
const BitLayout kTwolevelHintBits{32, kHint, sizeof kHint};
const BitLayout kDylibReferenceBits{32, kDylibRef, sizeof kDylibRef};
const BitLayout kFpControlBits{16, kFpControl, sizeof kFpControl};
const BitLayout kFpStatusBits{16, kFpStatus, sizeof kFpStatus};
const BitLayout kSparcPsrBits{32, kSparcPsr, sizeof kSparcPsr};
const BitLayout kSparcFsrBits{32, kSparcFsr, sizeof kSparcFsr};
const BitLayout kM88kFpsrBits{32, kM88kFpsr, sizeof kM88kFpsr};
const BitLayout kM88kFpcrBits{32, kM88kFpcr, sizeof kM88kFpcr};
const BitLayout kM88110BpCtrlBits{32, kM88110BpCtrl, sizeof kM88110BpCtrl};
const BitLayout kM88110PsrBits{32, kM88110Psr, sizeof kM88110Psr};

uint32_t bits_to_host(uint32_t v, const BitLayout& layout)
{
    uint32_t out = 0;
    unsigned p = 0;
    for (size_t i = 0; i < layout.count; ++i) {
        const unsigned w = layout.widths[i];
        const unsigned q = layout.word_bits - p - w;
        out |= ((v >> q) & mask(w)) << p;
        p += w;
    }
    return out;
}

uint32_t bits_from_host(uint32_t v, const BitLayout& layout)
{
    uint32_t out = 0;
    unsigned p = 0;
    for (size_t i = 0; i < layout.count; ++i) {
        const unsigned w = layout.widths[i];
        const unsigned q = layout.word_bits - p - w;
        out |= ((v >> p) & mask(w)) << q;
        p += w;
    }
    return out;
}

byte_sex get_host_byte_sex()
{
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return BIG_ENDIAN_BYTE_SEX;
#else
    return LITTLE_ENDIAN_BYTE_SEX;
#endif
}

double SWAP_DOUBLE(double d)
{
    uint64_t u;
    memcpy(&u, &d, sizeof u);
    u = __builtin_bswap64(u);
    memcpy(&d, &u, sizeof d);
    return d;
}

float SWAP_FLOAT(float f)
{
    uint32_t u;
    memcpy(&u, &f, sizeof u);
    u = __builtin_bswap32(u);
    memcpy(&f, &u, sizeof f);
    return f;
}

void swap_fat_header(fat_header* p, byte_sex)
{
    SW(p->magic);
    SW(p->nfat_arch);
}

void swap_fat_arch(fat_arch* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].cputype);
        SW(p[i].cpusubtype);
        SW(p[i].offset);
        SW(p[i].size);
        SW(p[i].align);
    }
}

void swap_mach_header(mach_header* p, byte_sex)
{
    SW(p->magic);
    SW(p->cputype);
    SW(p->cpusubtype);
    SW(p->filetype);
    SW(p->ncmds);
    SW(p->sizeofcmds);
    SW(p->flags);
}

void swap_mach_header_64(mach_header_64* p, byte_sex)
{
    SW(p->magic);
    SW(p->cputype);
    SW(p->cpusubtype);
    SW(p->filetype);
    SW(p->ncmds);
    SW(p->sizeofcmds);
    SW(p->flags);
    SW(p->reserved);
}

void swap_load_command(load_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
}

void swap_segment_command(segment_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->vmaddr);
    SW(p->vmsize);
    SW(p->fileoff);
    SW(p->filesize);
    SW(p->maxprot);
    SW(p->initprot);
    SW(p->nsects);
    SW(p->flags);
}

void swap_segment_command_64(segment_command_64* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->vmaddr);
    SW(p->vmsize);
    SW(p->fileoff);
    SW(p->filesize);
    SW(p->maxprot);
    SW(p->initprot);
    SW(p->nsects);
    SW(p->flags);
}

void swap_section(section* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].addr);
        SW(p[i].size);
        SW(p[i].offset);
        SW(p[i].align);
        SW(p[i].reloff);
        SW(p[i].nreloc);
        SW(p[i].flags);
        SW(p[i].reserved1);
        SW(p[i].reserved2);
    }
}

void swap_section_64(section_64* p, uint32_t n, byte_sex)
{
    // reserved3 is left as it is.
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].addr);
        SW(p[i].size);
        SW(p[i].offset);
        SW(p[i].align);
        SW(p[i].reloff);
        SW(p[i].nreloc);
        SW(p[i].flags);
        SW(p[i].reserved1);
        SW(p[i].reserved2);
    }
}

void swap_symtab_command(symtab_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->symoff);
    SW(p->nsyms);
    SW(p->stroff);
    SW(p->strsize);
}

void swap_dysymtab_command(dysymtab_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->ilocalsym);
    SW(p->nlocalsym);
    SW(p->iextdefsym);
    SW(p->nextdefsym);
    SW(p->iundefsym);
    SW(p->nundefsym);
    SW(p->tocoff);
    SW(p->ntoc);
    SW(p->modtaboff);
    SW(p->nmodtab);
    SW(p->extrefsymoff);
    SW(p->nextrefsyms);
    SW(p->indirectsymoff);
    SW(p->nindirectsyms);
    SW(p->extreloff);
    SW(p->nextrel);
    SW(p->locreloff);
    SW(p->nlocrel);
}

void swap_symseg_command(symseg_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->offset);
    SW(p->size);
}

void swap_fvmlib_command(fvmlib_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->name.offset);
    SW(p->minor_version);
    SW(p->header_addr);
}

void swap_dylib_command(dylib_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->name.offset);
    SW(p->timestamp);
    SW(p->current_version);
    SW(p->compatibility_version);
}

void swap_sub_framework_command(sub_framework_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->umbrella.offset);
}

void swap_sub_umbrella_command(sub_umbrella_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->sub_umbrella.offset);
}

void swap_sub_library_command(sub_library_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->sub_library.offset);
}

void swap_sub_client_command(sub_client_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->client.offset);
}

void swap_prebound_dylib_command(prebound_dylib_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->name.offset);
    SW(p->nmodules);
    SW(p->linked_modules.offset);
}

void swap_dylinker_command(dylinker_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->name.offset);
}

void swap_fvmfile_command(fvmfile_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->name.offset);
    SW(p->header_addr);
}

void swap_m68k_thread_state_regs(m68k_thread_state_regs* p, byte_sex)
{
    swap_array(p->dreg);
    swap_array(p->areg);
    SW(p->pad0);
    SW(p->sr);
    SW(p->pc);
}

void swap_m68k_thread_state_68882(m68k_thread_state_68882* p, byte_sex)
{
    for (m68k_fp_reg& r : p->regs) {
        for (size_t i = 0; i < sizeof r.bytes / 2; ++i) {
            const uint8_t t = r.bytes[i];
            r.bytes[i] = r.bytes[sizeof r.bytes - 1 - i];
            r.bytes[sizeof r.bytes - 1 - i] = t;
        }
    }
    SW(p->cr);
    SW(p->sr);
    SW(p->iar);
    SW(p->state);
}

void swap_m68k_thread_state_user_reg(m68k_thread_state_user_reg* p, byte_sex)
{
    SW(p->user_reg);
}

void swap_ppc_thread_state_t(ppc_thread_state_t* p, byte_sex)
{
    SW(p->srr0);
    SW(p->srr1);
    swap_array(p->r);
    SW(p->cr);
    SW(p->xer);
    SW(p->lr);
    SW(p->ctr);
    SW(p->mq);
    SW(p->vrsave);
}

void swap_ppc_thread_state64_t(ppc_thread_state64_t* p, byte_sex)
{
    SW(p->srr0);
    SW(p->srr1);
    for (int i = 0; i < 32; ++i)
        SW(p->r[i]);
    SW(p->cr);
    SW(p->xer);
    SW(p->lr);
    SW(p->ctr);
    SW(p->vrsave);
}

void swap_ppc_float_state_t(ppc_float_state_t* p, byte_sex)
{
    swap_array(p->fpregs);
    SW(p->fpscr_pad);
    SW(p->fpscr);
}

void swap_ppc_exception_state_t(ppc_exception_state_t* p, byte_sex)
{
    SW(p->dar);
    SW(p->dsisr);
    SW(p->exception);
    SW(p->pad0);
    swap_array(p->pad1);
}

void swap_m88k_thread_state_grf_t(m88k_thread_state_grf_t* p, byte_sex)
{
    swap_array(p->r);
    SW(p->xip);
    SW(p->xip_in_bd);
    SW(p->nip);
}

void swap_m88k_thread_state_xrf_t(m88k_thread_state_xrf_t* p, byte_sex target)
{
    for (m88k_xrf_t& x : p->x)
        swap_array(x.x);
    p->fpsr = swap_bits32(p->fpsr, kM88kFpsrBits, target);
    p->fpcr = swap_bits32(p->fpcr, kM88kFpcrBits, target);
}

void swap_m88k_thread_state_user_t(m88k_thread_state_user_t* p, byte_sex)
{
    SW(p->user);
}

void swap_m88110_thread_state_impl_t(m88110_thread_state_impl_t* p, byte_sex target)
{
    for (m88110_data_bp_t& bp : p->data_bp) {
        SW(bp.addr);
        bp.ctrl = swap_bits32(bp.ctrl, kM88110BpCtrlBits, target);
    }
    p->psr = swap_bits32(p->psr, kM88110PsrBits, target);
    SW(p->fp_trap_status);
    swap_array(p->pad);
    swap_array(p->intermediate_result.x);
    swap_array(p->spare);
}

void swap_i860_thread_state_regs(i860_thread_state_regs* p, byte_sex)
{
    swap_array(p->ireg);
    swap_array(p->freg);
    SW(p->psr);
    SW(p->epsr);
    SW(p->db);
    SW(p->pc);
    SW(p->pad);
    SW(p->Mres3);
    SW(p->Ares3);
    SW(p->Mres2);
    SW(p->Ares2);
    SW(p->Mres1);
    SW(p->Ares1);
    SW(p->Ires1);
    SW(p->Lres3m);
    SW(p->Lres2m);
    SW(p->Lres1m);
    SW(p->KR);
    SW(p->KI);
    SW(p->T);
    SW(p->Fsr3);
    SW(p->Fsr2);
    SW(p->Fsr1);
    SW(p->Mergelo32);
    SW(p->Mergehi32);
}

void swap_i386_thread_state(i386_thread_state* p, byte_sex)
{
    SW(p->eax);
    SW(p->ebx);
    SW(p->ecx);
    SW(p->edx);
    SW(p->edi);
    SW(p->esi);
    SW(p->ebp);
    SW(p->esp);
    SW(p->ss);
    SW(p->eflags);
    SW(p->eip);
    SW(p->cs);
    SW(p->ds);
    SW(p->es);
    SW(p->fs);
    SW(p->gs);
}

void swap_x86_thread_state64(x86_thread_state64* p, byte_sex)
{
    SW(p->rax);
    SW(p->rbx);
    SW(p->rcx);
    SW(p->rdx);
    SW(p->rdi);
    SW(p->rsi);
    SW(p->rbp);
    SW(p->rsp);
    SW(p->r8);
    SW(p->r9);
    SW(p->r10);
    SW(p->r11);
    SW(p->r12);
    SW(p->r13);
    SW(p->r14);
    SW(p->r15);
    SW(p->rip);
    SW(p->rflags);
    SW(p->cs);
    SW(p->fs);
    SW(p->gs);
}

namespace {

// The common head of the two x87/SSE states; register images stay as they are.
template <typename State>
void swap_float_head(State* p, byte_sex target)
{
    swap_array(p->fpu_reserved);
    p->fpu_fcw = swap_bits16(p->fpu_fcw, kFpControlBits, target);
    p->fpu_fsw = swap_bits16(p->fpu_fsw, kFpStatusBits, target);
    SW(p->fpu_fop);
    SW(p->fpu_ip);
    SW(p->fpu_cs);
    SW(p->fpu_rsrv2);
    SW(p->fpu_dp);
    SW(p->fpu_ds);
    SW(p->fpu_rsrv3);
    SW(p->fpu_mxcsr);
    SW(p->fpu_mxcsrmask);
    SW(p->fpu_reserved1);
}

} // namespace

void swap_i386_float_state(i386_float_state* p, byte_sex target)
{
    swap_float_head(p, target);
}

void swap_i386_exception_state(i386_exception_state* p, byte_sex)
{
    SW(p->trapno);
    SW(p->err);
    SW(p->faultvaddr);
}

void swap_x86_float_state64(x86_float_state64* p, byte_sex target)
{
    swap_float_head(p, target);
}

void swap_x86_exception_state64(x86_exception_state64* p, byte_sex)
{
    SW(p->trapno);
    SW(p->err);
    SW(p->faultvaddr);
}

void swap_x86_debug_state32(x86_debug_state32* p, byte_sex)
{
    swap_array(p->dr);
}

void swap_x86_debug_state64(x86_debug_state64* p, byte_sex)
{
    swap_array(p->dr);
}

void swap_x86_state_hdr(x86_state_hdr* p, byte_sex)
{
    SW(p->flavor);
    SW(p->count);
}

void swap_hppa_integer_thread_state(hppa_integer_thread_state* p, byte_sex)
{
    swap_array(p->gr);
    swap_array(p->sr);
    SW(p->sar);
}

void swap_hppa_frame_thread_state(hppa_frame_thread_state* p, byte_sex)
{
    SW(p->pcsq_front);
    SW(p->pcsq_back);
    SW(p->pcoq_front);
    SW(p->pcoq_back);
    SW(p->psw);
    SW(p->unaligned_faults);
    SW(p->fault_address);
    SW(p->step_range_start);
    SW(p->step_range_stop);
    swap_array(p->spare);
}

void swap_hppa_fp_thread_state(hppa_fp_thread_state* p, byte_sex)
{
    swap_array(p->fp);
}

void swap_sparc_thread_state_regs(sparc_thread_state_regs* p, byte_sex target)
{
    p->psr = swap_bits32(p->psr, kSparcPsrBits, target);
    SW(p->pc);
    SW(p->npc);
    SW(p->y);
    swap_array(p->g);
    swap_array(p->o);
}

void swap_sparc_thread_state_fpu(sparc_thread_state_fpu* p, byte_sex target)
{
    swap_array(p->dregs);
    p->fsr = swap_bits32(p->fsr, kSparcFsrBits, target);
    SW(p->flags);
    SW(p->extra);
    SW(p->qcnt);
    for (sparc_fq& q : p->q) {
        SW(q.addr);
        SW(q.instr);
    }
}

void swap_routines_command(routines_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->init_address);
    SW(p->init_module);
    SW(p->reserved1);
    SW(p->reserved2);
    SW(p->reserved3);
    SW(p->reserved4);
    SW(p->reserved5);
    SW(p->reserved6);
}

void swap_routines_command_64(routines_command_64* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->init_address);
    SW(p->init_module);
    SW(p->reserved1);
    SW(p->reserved2);
    SW(p->reserved3);
    SW(p->reserved4);
    SW(p->reserved5);
    SW(p->reserved6);
}

void swap_twolevel_hints_command(twolevel_hints_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->offset);
    SW(p->nhints);
}

void swap_twolevel_hint(twolevel_hint* p, uint32_t n, byte_sex target)
{
    for (uint32_t i = 0; i < n; ++i)
        p[i].word = swap_bits32(p[i].word, kTwolevelHintBits, target);
}

void swap_prebind_cksum_command(prebind_cksum_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->cksum);
}

void swap_uuid_command(uuid_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
}

void swap_linkedit_data_command(linkedit_data_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->dataoff);
    SW(p->datasize);
}

void swap_rpath_command(rpath_command* p, byte_sex)
{
    SW(p->cmd);
    SW(p->cmdsize);
    SW(p->path.offset);
}

void swap_nlist(nlist* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].n_strx);
        SW(p[i].n_desc);
        SW(p[i].n_value);
    }
}

void swap_nlist_64(nlist_64* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].n_strx);
        SW(p[i].n_desc);
        SW(p[i].n_value);
    }
}

void swap_ranlib(ranlib* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].ran_strx);
        SW(p[i].ran_off);
    }
}

void swap_relocation_info(relocation_info* p, uint32_t n, byte_sex target)
{
    const bool host = to_host(target);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t first = static_cast<uint32_t>(p[i].r_address);
        // Judged in the order the entry is in before conversion.
        const uint32_t readable = host ? bsw(first) : first;
        if (readable & R_SCATTERED) {
            SW(p[i].r_address);
            SW(p[i].r_info);
        } else {
            SW(p[i].r_address);
            p[i].r_info = swap_bits32(p[i].r_info, kRelocationInfoBits, target);
        }
    }
}

void swap_indirect_symbols(uint32_t* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i)
        SW(p[i]);
}

void swap_dylib_reference(dylib_reference* p, uint32_t n, byte_sex target)
{
    for (uint32_t i = 0; i < n; ++i)
        p[i].word = swap_bits32(p[i].word, kDylibReferenceBits, target);
}

void swap_dylib_module(dylib_module* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].module_name);
        SW(p[i].iextdefsym);
        SW(p[i].nextdefsym);
        SW(p[i].irefsym);
        SW(p[i].nrefsym);
        SW(p[i].ilocalsym);
        SW(p[i].nlocalsym);
        SW(p[i].iextrel);
        SW(p[i].nextrel);
        SW(p[i].iinit_iterm);
        SW(p[i].ninit_nterm);
        SW(p[i].objc_module_info_addr);
        SW(p[i].objc_module_info_size);
    }
}

void swap_dylib_module_64(dylib_module_64* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].module_name);
        SW(p[i].iextdefsym);
        SW(p[i].nextdefsym);
        SW(p[i].irefsym);
        SW(p[i].nrefsym);
        SW(p[i].ilocalsym);
        SW(p[i].nlocalsym);
        SW(p[i].iextrel);
        SW(p[i].nextrel);
        SW(p[i].iinit_iterm);
        SW(p[i].ninit_nterm);
        SW(p[i].objc_module_info_size);
        SW(p[i].objc_module_info_addr);
    }
}

void swap_dylib_table_of_contents(dylib_table_of_contents* p, uint32_t n, byte_sex)
{
    for (uint32_t i = 0; i < n; ++i) {
        SW(p[i].symbol_index);
        SW(p[i].module_index);
    }
}

byte_sex get_toc_byte_sex(byte_reader* reader, uint64_t offset, uint64_t size)
{
    const byte_sex host = get_host_byte_sex();
    const byte_sex other = host == BIG_ENDIAN_BYTE_SEX ? LITTLE_ENDIAN_BYTE_SEX : BIG_ENDIAN_BYTE_SEX;
    const uint64_t end = offset + size;
    // The first member is the table of contents: start after it.
    uint64_t off = SARMAG;
    if (off + sizeof(ar_hdr) > size)
        return UNKNOWN_BYTE_SEX;
    ar_hdr hdr;
    read_bytes(reader, offset + off, end, &hdr, sizeof hdr);
    off = next_member_offset(hdr, off);
    while (off + sizeof(ar_hdr) + sizeof(uint32_t) <= size) {
        read_bytes(reader, offset + off, end, &hdr, sizeof hdr);
        uint64_t contents = off + sizeof(ar_hdr);
        uint64_t namelen = 0;
        if (extended_name_length(hdr, &namelen))
            contents += namelen;
        if (contents + sizeof(uint32_t) <= size) {
            uint32_t magic;
            read_bytes(reader, offset + contents, end, &magic, sizeof magic);
            if (magic == MH_MAGIC || magic == MH_MAGIC_64)
                return host;
            if (magic == MH_CIGAM || magic == MH_CIGAM_64)
                return other;
        }
        off = next_member_offset(hdr, off);
    }
    return UNKNOWN_BYTE_SEX;
}

byte_sex get_toc_byte_sex(const char* addr, uint64_t size)
{
    byte_reader reader;
    reader_open_memory(&reader, addr, size);
    return get_toc_byte_sex(&reader, 0, size);
}

} // namespace macho
