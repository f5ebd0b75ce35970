// One file read into memory and classified: thin Mach-O object, universal
// file, archive or unknown, positioned on the object to examine.
//
// The file is read whole into a heap buffer rather than mapped: a mapping
// raises SIGBUS when the file is truncated while it is examined, a buffer
// does not (a file that shrinks while it is read is examined as read).
// Records read from the buffer are copied, never reached through a cast
// pointer. Sizes and offsets are 64-bit throughout.
#pragma once

#include "arch.h"
#include "bytesex.h"
#include "records.h"

#include <cstdint>

namespace macho {

enum ofile_type {
    OFILE_UNKNOWN = 0,
    OFILE_FAT = 1,
    OFILE_ARCHIVE = 2,
    OFILE_Mach_O = 3,
};

struct ofile {
    // 1. the path (a copy owned by the record)
    char* file_name;
    // 2. the file's bytes (a heap buffer owned by the record; none when empty)
    char* file_addr;
    uint64_t file_size;
    // 3. the file kind
    ofile_type file_type;
    // 4. the universal header and slice table in host order: the file's, or
    //    those of a selected universal archive member
    struct fat_header* fat_header;
    struct fat_arch* fat_archs;
    // 5. the selected slice (-1 while an architecture is searched)
    int64_t narch;
    ofile_type arch_type;
    struct arch_flag arch_flag;
    // 6. the selected archive member
    uint64_t member_offset; // contents' offset from the start of the archive
    char* member_addr;
    uint64_t member_size;
    struct ar_hdr* member_ar_hdr;
    char* member_name; // points into the buffer; not terminated
    uint32_t member_name_size;
    ofile_type member_type;
    // 7. the cputype of an archive's objects (from its first Mach-O member)
    int32_t archive_cputype;
    int32_t archive_cpusubtype;
    // 8. the object to examine
    char* object_addr;
    uint64_t object_size;
    byte_sex object_byte_sex;
    // 9. its header (at most one set; a copy held below, in file order until
    //    processor() normalises it) and its first load command
    mach_header* mh;
    mach_header_64* mh64;
    char* load_commands;
    // 10. the thin object's cputype, host order
    int32_t mh_cputype;
    int32_t mh_cpusubtype;

    // storage behind the pointers above
    mach_header mh_store;
    mach_header_64 mh64_store;
    ar_hdr member_ar_hdr_store;
    char* file_fat_store;   // heap: the file's universal header and slices
    char* member_fat_store; // heap: a universal member's
};

/// Reads and classifies `file_name`. 1 on success; 0 on failure with the
/// record cleared. Open, examination and read failures (also a file that is
/// not a regular file, or a buffer that cannot be had) are silent.
int ofile_map(const char* file_name, const arch_flag* arch_flag, const char* object_name,
              ofile* ofile, int archives_with_fat_objects);
/// Classifies `addr`/`size`, a malloc'd buffer that becomes the record's
/// (ofile_unmap frees it). On failure releases the record and returns 0.
int ofile_map_from_memory(char* addr, uint64_t size, const char* file_name, const arch_flag* arch_flag,
                          const char* object_name, ofile* ofile, int archives_with_fat_objects);
/// Selects slice 0 of a universal file or universal archive member.
int ofile_first_arch(ofile* ofile);
/// Selects slice `narch`; refuses an index not below the slice count.
int ofile_specific_arch(ofile* ofile, uint32_t narch);
/// Acceptance hooks: accept everything.
int check_Mach_O(ofile* ofile);
int check_archive(ofile* ofile);
/// Releases the buffer and the record's copies and clears the record; safe
/// on a cleared record.
void ofile_unmap(ofile* ofile);

// Archive members (archive.cpp).
int ofile_specific_member(const char* object_name, ofile* ofile);
int check_fat_object_in_archive(ofile* ofile);
int size_ar_name(const ar_hdr* ar_hdr);

// Shared by ofile.cpp and archive.cpp.
void ofile_set_object(ofile* ofile, char* addr, uint64_t size);
void ofile_clear_object(ofile* ofile);
void ofile_clear_member(ofile* ofile);
/// The byte order of `magic` read in host order, UNKNOWN_BYTE_SEX when it
/// is no Mach-O magic.
byte_sex mach_magic_byte_sex(uint32_t magic);

} // namespace macho
