// The printers the scanner calls itself, and the display dispatch that runs
// an object's gated display steps. Each runs only when its option variable
// (macho/options.h) is set; nothing in the system sets one.
#pragma once

#include "libstuff/lcview.h"
#include "libstuff/ofile.h"

#include <cstdint>

namespace macho {

/// The universal header and the `narchs` slices given (host order).
void print_fat_headers(const fat_header* header, const fat_arch* archs, uint32_t narchs,
                       uint64_t size, int verbose);
/// An archive member's header (`aflag`).
void print_ar_hdr(const ar_hdr* member_ar_hdr, const char* member_name, uint32_t member_name_size, int verbose);
/// An archive's table of contents from its "__.SYMDEF" member (`Sflag`):
/// the member's contents and the archive (library) are given by their
/// offsets in the file, read through the record's reader.
void print_library_toc(ofile* ofile, const ar_hdr* toc_ar_hdr, const char* toc_name, uint32_t toc_name_size,
                       uint64_t toc_offset, uint64_t toc_size, byte_sex toc_byte_sex, const char* library_name,
                       uint64_t library_offset, uint64_t library_size, const char* arch_name, int verbose);
/// The Mach header (`hflag`), host order fields.
void print_mach_header(uint32_t magic, int32_t cputype, int32_t cpusubtype, uint32_t filetype, uint32_t ncmds,
                       uint32_t sizeofcmds, uint32_t flags, int verbose);
/// Every load command (`lflag`).
void print_loadcmds(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                    int32_t cputype, uint32_t filetype, byte_sex load_commands_byte_sex, uint64_t object_size,
                    int verbose, int very_verbose);
/// The gated display steps after the library names, for one object whose
/// header processor() has normalised.
void display_object(ofile* ofile, const char* arch_name, const load_commands_view& load_commands);

} // namespace macho
