// The instruction disassemblers, one per processor family. Each prints one
// instruction at `sect` (`left` bytes remain in the section) whose address
// is `addr`, and returns the number of bytes it used. `relocs` (host order)
// are the section's relocation entries under Vflag, else none.
#pragma once

#include "libstuff/bytesex.h"
#include "libstuff/lcview.h"
#include "libstuff/records.h"
#include "print/lookup.h"

#include <cstdint>

namespace macho {

uint32_t i386_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                          const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                          uint64_t strings_size, const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                          int32_t cputype, const load_commands_view& load_commands, uint32_t ncmds,
                          uint32_t sizeofcmds, int verbose);

uint32_t ppc_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                         byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                         const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                         const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                         uint64_t strings_size, const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                         const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                         int verbose);

uint32_t m68k_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size,
                          const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                          const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                          int verbose);

uint32_t sparc_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                           byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                           const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                           uint32_t nsorted_symbols, const char* strings, uint64_t strings_size,
                           const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                           const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                           int verbose);

uint32_t i860_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose);

uint32_t m88k_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose);

uint32_t hppa_disassemble(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr,
                          byte_sex object_byte_sex, const relocation_info* relocs, uint32_t nrelocs,
                          const nlist* symbols, uint32_t nsymbols, const sorted_symbol* sorted_symbols,
                          uint32_t nsorted_symbols, const char* strings, uint64_t strings_size, int verbose);

} // namespace macho
