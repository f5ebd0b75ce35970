// Finding what the printers print: the symbol and string tables, the
// dynamic symbol table, one named section, the address-sorted symbols, and
// the names of addresses and relocated operands.
//
// The object is never held whole: every table or section a printer needs is
// read by range through the record's reader into a block of its own, no
// further than the object's end (itself no further than the file's), and
// converted to host order there. Memory follows what is printed.
#pragma once

#include "libstuff/bytesex.h"
#include "libstuff/lcview.h"
#include "libstuff/records.h"

#include <cstdint>
#include <cstdio>

namespace macho {

/// One defined symbol of the table sorted by address.
struct sorted_symbol {
    const char* name; // into the string table copy, or a constant
    uint64_t n_value;
};

/// The object being displayed: `size` bytes at `offset` of the file behind
/// `reader` (the size already clipped to the file).
struct object_bytes {
    byte_reader* reader;
    uint64_t offset;
    uint64_t size;
};

/// A new block with bytes [off, off + n) of the object, zeros where the
/// object holds none; none for n == 0. Ends the process when the heap
/// refuses (allocate).
char* object_copy(const object_bytes& object, uint64_t off, uint64_t n);

// Fields of a relocation entry in host order.
inline bool reloc_scattered(const relocation_info& r)
{
    return (static_cast<uint32_t>(r.r_address) & R_SCATTERED) != 0;
}
inline uint32_t reloc_symbolnum(const relocation_info& r)
{
    return r.r_info & 0xffffff;
}
inline uint32_t reloc_pcrel(const relocation_info& r)
{
    return (r.r_info >> 24) & 1;
}
inline uint32_t reloc_length(const relocation_info& r)
{
    return (r.r_info >> 25) & 3;
}
inline uint32_t reloc_extern(const relocation_info& r)
{
    return (r.r_info >> 27) & 1;
}
inline uint32_t reloc_type(const relocation_info& r)
{
    return (r.r_info >> 28) & 0xf;
}
// A scattered entry's fields, from its first word; its value is the second.
inline uint32_t sreloc_address(const relocation_info& r)
{
    return static_cast<uint32_t>(r.r_address) & 0xffffff;
}
inline uint32_t sreloc_type(const relocation_info& r)
{
    return (static_cast<uint32_t>(r.r_address) >> 24) & 0xf;
}
inline uint32_t sreloc_length(const relocation_info& r)
{
    return (static_cast<uint32_t>(r.r_address) >> 28) & 3;
}
inline uint32_t sreloc_pcrel(const relocation_info& r)
{
    return (static_cast<uint32_t>(r.r_address) >> 30) & 1;
}
inline uint32_t sreloc_value(const relocation_info& r)
{
    return r.r_info;
}

/// The relocation entries at `reloff` (at most `*nrelocs`, cut to the whole
/// entries inside the object, `*nrelocs` updated) as a new block in host
/// order; none when there are none.
relocation_info* read_relocs(const object_bytes& object, uint64_t reloff, uint32_t* nrelocs,
                             byte_sex object_byte_sex);

// ---- the load-command walk ----

/// What the walk says as it goes (stdout), and how it ended.
enum lc_walk_notes {
    LC_WALK_QUIET = 0, // nothing printed; stops at the first malformed size
    LC_WALK_NOTES = 1, // the size messages
};

/// Calls `visit(index, offset, cmd)` for each command (header in host
/// order) and returns true when the walk ended exactly at the end of the
/// area. `visit` returns false to stop the walk there (the result is then
/// true). Notes: "size not a multiple of sizeof(long)", "extends past end
/// of load commands", "size zero". Quiet walks stop at a command whose size
/// is not a multiple of 4, runs past the area or is 0.
template <typename Visit>
bool walk_load_commands(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                        byte_sex object_byte_sex, lc_walk_notes notes, Visit visit);

/// The one command of kind `cmd` (the first; a second one prints "more than
/// one NAME command (using command N)"), copied zero-filled to `size` bytes
/// in file order. Returns its index + 1, or 0 when there is none. Prints the
/// walk's notes and "Inconsistent sizeofcmds".
uint32_t find_load_command(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                           byte_sex object_byte_sex, uint32_t cmd, const char* name, void* out, size_t size);

/// A section record of either width, widened to 64-bit address and size.
struct section_info {
    char sectname[16];
    char segname[16];
    uint64_t addr;
    uint64_t size;
    uint32_t offset;
    uint32_t align;
    uint32_t reloff;
    uint32_t nreloc;
    uint32_t flags;
    uint32_t reserved1;
    uint32_t reserved2;
};

/// A segment command of either width, widened.
struct segment_info {
    uint32_t cmd;
    uint32_t cmdsize;
    char segname[16];
    uint64_t vmaddr;
    uint64_t vmsize;
    uint64_t fileoff;
    uint64_t filesize;
    int32_t maxprot;
    int32_t initprot;
    uint32_t nsects;
    uint32_t flags;
};

/// True for LC_SEGMENT and LC_SEGMENT_64.
bool is_segment_command(uint32_t cmd);
/// The segment command at `off` of the area, zero-filled past its end, in
/// host order.
segment_info read_segment(const load_commands_view& lc, uint64_t off, uint32_t cmd, byte_sex object_byte_sex);
/// Section `j` of the segment command at `off` (zero-filled past the area)
/// in host order; false when its record runs past the end of the area.
bool read_section(const load_commands_view& lc, uint64_t off, uint32_t cmd, uint32_t j, byte_sex object_byte_sex,
                  section_info* out);

// ---- lookups ----

/// The symbol table (12- or 16-byte entries by the cputype's 64-bit bit)
/// and the string table, as new blocks in host order; the string block has
/// a NUL past its `strings_size` bytes. All outputs none or 0 without an
/// LC_SYMTAB. The caller frees the three blocks.
void get_symbol_table_info(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                           int32_t cputype, byte_sex object_byte_sex, const object_bytes& object, nlist** symbols,
                           nlist_64** symbols64, uint32_t* nsymbols, char** strings, uint64_t* strings_size);

/// The LC_DYSYMTAB in host order (zero-filled when cut short); true when
/// found.
bool get_dyst(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
              byte_sex object_byte_sex, dysymtab_command* dyst);

/// The section (segname, sectname): its contents (a new block, none for a
/// zero-fill section or one past the object), size, address, relocation
/// entries (a new block in file order) and their count, and flags. 1 when
/// found, else 0 with everything none or 0. The caller frees both blocks.
int get_sect_info(const char* segname, const char* sectname, const load_commands_view& load_commands,
                  uint32_t ncmds, uint32_t sizeofcmds, uint32_t filetype, byte_sex object_byte_sex,
                  const object_bytes& object, char** contents, uint64_t* size, uint64_t* addr,
                  relocation_info** relocs, uint32_t* nrelocs, uint32_t* flags);

/// qsort orders: sorted symbols by value; relocation entries by address.
int sym_compare(const void* a, const void* b);
int rel_compare(const void* a, const void* b);

/// bsearch order of a uint32_t address key against a relocation entry.
int rel_bsearch(const void* key, const void* entry);

/// Prints the name of the symbol whose value is `addr`, and ":\n" after it
/// when `colon_and_newline` is 1; nothing when there is none.
void print_label(uint64_t addr, int colon_and_newline, const sorted_symbol* sorted_symbols,
                 uint32_t nsorted_symbols);

/// The name of the symbol whose value is `value`, or none (also when not
/// verbose).
const char* guess_symbol(uint64_t value, const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols,
                         int verbose);

/// The name of the symbol whose pointer or stub is at `value`, through the
/// indirect symbol table; none when there is none (or the section's stub
/// size is 0).
const char* guess_indirect_symbol(uint64_t value, uint32_t ncmds, uint32_t sizeofcmds,
                                  const load_commands_view& load_commands, byte_sex object_byte_sex,
                                  const uint32_t* indirect_symbols, uint32_t nindirect_symbols,
                                  const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                                  const char* strings, uint64_t strings_size);

/// Prints a symbolic form of the operand `value` at section offset
/// `r_address` and returns true, or prints nothing and returns false.
/// `relocs` are in host order.
bool print_symbol(uint32_t value, uint32_t r_address, uint32_t dot_value, const relocation_info* relocs,
                  uint32_t nrelocs, const nlist* symbols, const nlist_64* symbols64, uint32_t nsymbols,
                  const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, const char* strings,
                  uint64_t strings_size, int verbose);

/// True when a relocation of type `r_type` is followed by a PAIR entry. An
/// unknown cputype is reported through error() and answers false.
bool reloc_has_pair(int32_t cputype, uint32_t r_type);

/// The string at `strx` of the table, or none when it is outside it. The
/// table copies end with a NUL, so the name ends there at the latest.
inline const char* string_at(const char* strings, uint64_t strings_size, uint32_t strx)
{
    return strings != nullptr && strx < strings_size ? strings + strx : nullptr;
}

// ---- template body ----

template <typename Visit>
bool walk_load_commands(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                        byte_sex object_byte_sex, lc_walk_notes notes, Visit visit)
{
    const bool swapped = object_byte_sex != get_host_byte_sex();
    uint64_t cur = 0;
    for (uint32_t i = 0; i < ncmds; ++i) {
        const unsigned long index = i;
        load_command l;
        lc.read(cur, &l, sizeof l);
        if (swapped)
            swap_load_command(&l, get_host_byte_sex());
        if (notes == LC_WALK_QUIET) {
            if (l.cmdsize % sizeof(uint32_t) != 0 || l.cmdsize == 0 || cur + l.cmdsize > sizeofcmds)
                return false;
        } else {
            if (l.cmdsize % sizeof(uint32_t) != 0)
                printf("load command %lu size not a multiple of sizeof(long)\n", index);
            if (cur + l.cmdsize > sizeofcmds)
                printf("load command %lu extends past end of load commands\n", index);
        }
        if (!visit(i, cur, l))
            return true;
        if (l.cmdsize == 0) {
            printf("load command %lu size zero (can't advance to other load commands)\n", index);
            return cur == sizeofcmds;
        }
        cur += l.cmdsize;
        if (cur > sizeofcmds)
            return false;
    }
    return cur == sizeofcmds;
}

} // namespace macho
