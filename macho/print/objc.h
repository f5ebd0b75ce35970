// The Objective-C metadata printers (oflag, and the __OBJC sections named
// with -s).
#pragma once

#include "print/lookup.h"

#include <cstdint>

namespace macho {

/// Objective-C 2 metadata of a 64-bit image; relocation entries host order.
void print_objc2(int32_t cputype, const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                 byte_sex object_byte_sex, const object_bytes& object, const nlist_64* symbols64,
                 uint32_t nsymbols, const char* strings, uint64_t strings_size, const sorted_symbol* sorted_symbols,
                 uint32_t nsorted_symbols, const relocation_info* ext_relocs, uint32_t next_relocs,
                 const relocation_info* loc_relocs, uint32_t nloc_relocs, int verbose);
/// Objective-C 1 metadata (the __OBJC segment).
void print_objc_segment(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                        byte_sex object_byte_sex, const object_bytes& object, const sorted_symbol* sorted_symbols,
                        uint32_t nsorted_symbols, int verbose);
void print_objc_protocol_section(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                                 byte_sex object_byte_sex, const object_bytes& object, int verbose);
void print_objc_string_object_section_64(const char* sectname, const load_commands_view& load_commands,
                                         uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                                         const object_bytes& object, int32_t cputype, const nlist_64* symbols64,
                                         uint32_t nsymbols, const char* strings, uint64_t strings_size,
                                         const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols,
                                         int verbose);
void print_objc_string_object_section(const char* sectname, const load_commands_view& load_commands,
                                      uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                                      const object_bytes& object, int verbose);
void print_objc_runtime_setup_section(const load_commands_view& load_commands, uint32_t ncmds,
                                      uint32_t sizeofcmds, byte_sex object_byte_sex, const object_bytes& object,
                                      int verbose);

} // namespace macho
