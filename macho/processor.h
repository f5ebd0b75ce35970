// The scanner's per-object driver, also run by the printers per slice and
// archive member.
#pragma once

#include "libstuff/bytesex.h"
#include "libstuff/lcview.h"
#include "libstuff/ofile.h"
#include "scanner.h"

#include <cstdint>

namespace macho {

/// 0: normalise the header only; otherwise also collect library names.
enum processor_mode {
    PROCESSOR_HEADER_ONLY = 0,
    PROCESSOR_COLLECT = 1,
};

/// Runs over one classified record whose object fields are filled:
/// normalises the Mach header to host order (the record's copy), collects
/// library names into `out` when `mode` is non-zero, and runs the display
/// steps whose options are set. `arch_name` goes only to the table-of-
/// contents printer.
void processor(ofile* ofile, const char* arch_name, dependant_libraries* out, int mode);

/// Walks the load commands and fills `out` with the names of the libraries
/// loaded (a fresh array; count 0 after a malformed walk). With `id_only`
/// prints only the library's own id name; `verbose` adds time stamps.
void print_libraries(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                     byte_sex load_commands_byte_sex, int id_only, int verbose, dependant_libraries* out);

} // namespace macho
