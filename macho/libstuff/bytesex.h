// Byte-order conversion of Mach-O records.
//
// Each swap_ routine rewrites its record(s) in place to `target_byte_sex`:
// the host's order to make a record read from an object of the other order
// readable, the other order to turn a host-order record back. 32- and 16-bit
// fields are byte-reversed, 64-bit fields and doubles reversed as one unit,
// bytes and byte arrays kept; bit-field words are re-packed (bitfields.h).
#pragma once

#include "reader.h"
#include "records.h"

#include <cstdint>

namespace macho {

enum byte_sex {
    UNKNOWN_BYTE_SEX = 0,
    BIG_ENDIAN_BYTE_SEX = 1,
    LITTLE_ENDIAN_BYTE_SEX = 2,
};

/// The host's byte order: LITTLE_ENDIAN_BYTE_SEX on the hosts we run on.
byte_sex get_host_byte_sex();

inline uint16_t SWAP_SHORT(uint16_t v)
{
    return __builtin_bswap16(v);
}
inline uint32_t SWAP_INT(uint32_t v)
{
    return __builtin_bswap32(v);
}
inline uint32_t SWAP_LONG(uint32_t v)
{
    return __builtin_bswap32(v);
}
inline uint64_t SWAP_LONG_LONG(uint64_t v)
{
    return __builtin_bswap64(v);
}
double SWAP_DOUBLE(double d);
float SWAP_FLOAT(float f);

void swap_fat_header(fat_header* p, byte_sex target_byte_sex);
void swap_fat_arch(fat_arch* p, uint32_t n, byte_sex target_byte_sex);
void swap_mach_header(mach_header* p, byte_sex target_byte_sex);
void swap_mach_header_64(mach_header_64* p, byte_sex target_byte_sex);
void swap_load_command(load_command* p, byte_sex target_byte_sex);
void swap_segment_command(segment_command* p, byte_sex target_byte_sex);
void swap_segment_command_64(segment_command_64* p, byte_sex target_byte_sex);
void swap_section(section* p, uint32_t n, byte_sex target_byte_sex);
void swap_section_64(section_64* p, uint32_t n, byte_sex target_byte_sex);
void swap_symtab_command(symtab_command* p, byte_sex target_byte_sex);
void swap_dysymtab_command(dysymtab_command* p, byte_sex target_byte_sex);
void swap_symseg_command(symseg_command* p, byte_sex target_byte_sex);
void swap_fvmlib_command(fvmlib_command* p, byte_sex target_byte_sex);
void swap_dylib_command(dylib_command* p, byte_sex target_byte_sex);
void swap_sub_framework_command(sub_framework_command* p, byte_sex target_byte_sex);
void swap_sub_umbrella_command(sub_umbrella_command* p, byte_sex target_byte_sex);
void swap_sub_library_command(sub_library_command* p, byte_sex target_byte_sex);
void swap_sub_client_command(sub_client_command* p, byte_sex target_byte_sex);
void swap_prebound_dylib_command(prebound_dylib_command* p, byte_sex target_byte_sex);
void swap_dylinker_command(dylinker_command* p, byte_sex target_byte_sex);
void swap_fvmfile_command(fvmfile_command* p, byte_sex target_byte_sex);
void swap_m68k_thread_state_regs(m68k_thread_state_regs* p, byte_sex target_byte_sex);
void swap_m68k_thread_state_68882(m68k_thread_state_68882* p, byte_sex target_byte_sex);
void swap_m68k_thread_state_user_reg(m68k_thread_state_user_reg* p, byte_sex target_byte_sex);
void swap_ppc_thread_state_t(ppc_thread_state_t* p, byte_sex target_byte_sex);
void swap_ppc_thread_state64_t(ppc_thread_state64_t* p, byte_sex target_byte_sex);
void swap_ppc_float_state_t(ppc_float_state_t* p, byte_sex target_byte_sex);
void swap_ppc_exception_state_t(ppc_exception_state_t* p, byte_sex target_byte_sex);
void swap_m88k_thread_state_grf_t(m88k_thread_state_grf_t* p, byte_sex target_byte_sex);
void swap_m88k_thread_state_xrf_t(m88k_thread_state_xrf_t* p, byte_sex target_byte_sex);
void swap_m88k_thread_state_user_t(m88k_thread_state_user_t* p, byte_sex target_byte_sex);
void swap_m88110_thread_state_impl_t(m88110_thread_state_impl_t* p, byte_sex target_byte_sex);
void swap_i860_thread_state_regs(i860_thread_state_regs* p, byte_sex target_byte_sex);
void swap_i386_thread_state(i386_thread_state* p, byte_sex target_byte_sex);
void swap_x86_thread_state64(x86_thread_state64* p, byte_sex target_byte_sex);
void swap_i386_float_state(i386_float_state* p, byte_sex target_byte_sex);
void swap_i386_exception_state(i386_exception_state* p, byte_sex target_byte_sex);
void swap_x86_float_state64(x86_float_state64* p, byte_sex target_byte_sex);
void swap_x86_exception_state64(x86_exception_state64* p, byte_sex target_byte_sex);
void swap_x86_debug_state32(x86_debug_state32* p, byte_sex target_byte_sex);
void swap_x86_debug_state64(x86_debug_state64* p, byte_sex target_byte_sex);
void swap_x86_state_hdr(x86_state_hdr* p, byte_sex target_byte_sex);
void swap_hppa_integer_thread_state(hppa_integer_thread_state* p, byte_sex target_byte_sex);
void swap_hppa_frame_thread_state(hppa_frame_thread_state* p, byte_sex target_byte_sex);
void swap_hppa_fp_thread_state(hppa_fp_thread_state* p, byte_sex target_byte_sex);
void swap_sparc_thread_state_regs(sparc_thread_state_regs* p, byte_sex target_byte_sex);
void swap_sparc_thread_state_fpu(sparc_thread_state_fpu* p, byte_sex target_byte_sex);
void swap_routines_command(routines_command* p, byte_sex target_byte_sex);
void swap_routines_command_64(routines_command_64* p, byte_sex target_byte_sex);
void swap_twolevel_hints_command(twolevel_hints_command* p, byte_sex target_byte_sex);
void swap_twolevel_hint(twolevel_hint* p, uint32_t n, byte_sex target_byte_sex);
void swap_prebind_cksum_command(prebind_cksum_command* p, byte_sex target_byte_sex);
void swap_uuid_command(uuid_command* p, byte_sex target_byte_sex);
void swap_linkedit_data_command(linkedit_data_command* p, byte_sex target_byte_sex);
void swap_rpath_command(rpath_command* p, byte_sex target_byte_sex);
void swap_nlist(nlist* p, uint32_t n, byte_sex target_byte_sex);
void swap_nlist_64(nlist_64* p, uint32_t n, byte_sex target_byte_sex);
void swap_ranlib(ranlib* p, uint32_t n, byte_sex target_byte_sex);
void swap_relocation_info(relocation_info* p, uint32_t n, byte_sex target_byte_sex);
void swap_indirect_symbols(uint32_t* p, uint32_t n, byte_sex target_byte_sex);
void swap_dylib_reference(dylib_reference* p, uint32_t n, byte_sex target_byte_sex);
void swap_dylib_module(dylib_module* p, uint32_t n, byte_sex target_byte_sex);
void swap_dylib_module_64(dylib_module_64* p, uint32_t n, byte_sex target_byte_sex);
void swap_dylib_table_of_contents(dylib_table_of_contents* p, uint32_t n, byte_sex target_byte_sex);

/// The byte order of the objects of the archive of `size` bytes at `offset`,
/// from the first member after the table of contents that holds a Mach-O
/// object; UNKNOWN_BYTE_SEX when none.
byte_sex get_toc_byte_sex(byte_reader* reader, uint64_t offset, uint64_t size);
/// The same for an archive held in memory.
byte_sex get_toc_byte_sex(const char* addr, uint64_t size);

} // namespace macho
