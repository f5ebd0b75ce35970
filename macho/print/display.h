// The printers the display dispatch calls: thread states, relocation
// entries, the dynamic-library tables, indirect symbols and hints, and
// section contents. Every one writes to standard output and returns nothing;
// tables and sections come in as host-order copies the dispatch made.
#pragma once

#include "print/lookup.h"

#include <cstdint>

namespace macho {

// ---- thread states ----

/// The states between `begin` and `end` (the bytes after a thread command's
/// header, file order).
void print_thread_states(const char* begin, const char* end, int32_t cputype, byte_sex thread_states_byte_sex);
/// `count` words (no more than lie between begin and end), eight to a line.
void print_unknown_state(const char* begin, const char* end, uint32_t count, int swap);
void print_mmst_reg(const uint8_t* bytes);
void print_xmm_reg(const uint8_t* bytes);

// ---- relocation entries ----

void print_reloc(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds, int32_t cputype,
                 byte_sex object_byte_sex, const object_bytes& object, const nlist* symbols,
                 const nlist_64* symbols64, uint32_t nsymbols, const char* strings, uint64_t strings_size,
                 int verbose);
void print_r_type(int32_t cputype, uint32_t r_type, bool predicted);

// ---- dynamic-library tables, indirect symbols, hints ----

void print_toc(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
               byte_sex object_byte_sex, const object_bytes& object, const dylib_table_of_contents* tocs,
               uint32_t ntocs, const dylib_module* mods, const dylib_module_64* mods64, uint32_t nmodtab,
               const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols, const char* strings,
               uint64_t strings_size, int verbose);
void print_module_table(const dylib_module* mods, uint32_t nmodtab, const char* strings, uint64_t strings_size,
                        int verbose);
void print_module_table_64(const dylib_module_64* mods64, uint32_t nmodtab, const char* strings,
                           uint64_t strings_size, int verbose);
void print_refs(const dylib_reference* refs, uint32_t nrefs, const dylib_module* mods,
                const dylib_module_64* mods64, uint32_t nmodtab, const nlist* symbols, const nlist_64* symbols64,
                uint32_t nsymbols, const char* strings, uint64_t strings_size, int verbose);
void print_indirect_symbols(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                            int32_t cputype, byte_sex object_byte_sex, const uint32_t* indirect_symbols,
                            uint32_t nindirect_symbols, const nlist* symbols, const nlist_64* symbols64,
                            uint32_t nsymbols, const char* strings, uint64_t strings_size, int verbose);
void print_hints(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                 byte_sex object_byte_sex, const twolevel_hint* hints, uint32_t nhints, const nlist* symbols,
                 const nlist_64* symbols64, uint32_t nsymbols, const char* strings, uint64_t strings_size,
                 int verbose);
/// The short name of an install name (a new block, or none); `is_framework`
/// tells the framework forms; `suffix` gets a new block with a "_" suffix, or
/// none. The caller frees both.
char* guess_short_name(const char* name, bool* is_framework, char** suffix);
/// The nearest '/' before `p`, not before `start`; none when there is none.
const char* look_back_for_slash(const char* start, const char* p);

// ---- section contents ----

void print_sect(int32_t cputype, byte_sex object_byte_sex, const char* contents, uint64_t size, uint64_t addr);
void print_cstring_section(const char* contents, uint64_t size, uint64_t addr, int print_addresses);
void print_cstring_char(char c);
void print_literal4_section(const char* contents, uint64_t size, uint64_t addr, byte_sex object_byte_sex,
                            int print_addresses);
void print_literal4(uint32_t word, float value);
void print_literal8_section(const char* contents, uint64_t size, uint64_t addr, byte_sex object_byte_sex,
                            int print_addresses);
/// `word0`, `word1` in section order; the one with the sign and exponent
/// (the first on a big-endian object, the second on a little-endian one)
/// decides the classification.
void print_literal8(uint32_t word0, uint32_t word1, bool sign_in_first, double value);
void print_literal16_section(const char* contents, uint64_t size, uint64_t addr, byte_sex object_byte_sex,
                             int print_addresses);
/// `sorted_relocs` in host order, sorted by address.
void print_literal_pointer_section(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                                   byte_sex object_byte_sex, const object_bytes& object, const char* contents,
                                   uint64_t size, uint64_t addr, const nlist* symbols, const nlist_64* symbols64,
                                   uint32_t nsymbols, const char* strings, uint64_t strings_size,
                                   const relocation_info* sorted_relocs, uint32_t nrelocs, int print_addresses);
void print_init_term_pointer_section(int32_t cputype, const char* contents, uint64_t size, uint64_t addr,
                                     byte_sex object_byte_sex, const sorted_symbol* sorted_symbols,
                                     uint32_t nsorted_symbols, int verbose);
void print_shlib_init(byte_sex object_byte_sex, const char* contents, uint64_t size, uint64_t addr,
                      const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const nlist* symbols,
                      const nlist_64* symbols64, uint32_t nsymbols, const char* strings, uint64_t strings_size,
                      const relocation_info* sorted_relocs, uint32_t nrelocs, int verbose);

} // namespace macho
