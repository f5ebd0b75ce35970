// Placeholders until the printers and disassemblers are built: they print
// nothing.
#include "print/printers.h"

namespace macho {

void print_fat_headers(const fat_header*, const fat_arch*, uint32_t, uint64_t, int) {}

void print_ar_hdr(const ar_hdr*, const char*, uint32_t, int) {}

void print_library_toc(ofile*, const ar_hdr*, const char*, uint32_t, uint64_t, uint64_t, byte_sex, const char*,
                       uint64_t, uint64_t, const char*, int)
{
}

void print_mach_header(uint32_t, int32_t, int32_t, uint32_t, uint32_t, uint32_t, uint32_t, int) {}

void print_loadcmds(const load_commands_view&, uint32_t, uint32_t, int32_t, uint32_t, byte_sex, uint64_t, int, int)
{
}

void display_object(ofile*, const char*, const load_commands_view&) {}

} // namespace macho
