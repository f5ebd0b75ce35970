// One file opened and classified: thin Mach-O object, universal file,
// archive or unknown, positioned on the object to examine.
//
// The file is never read whole (but for a small one opened by ofile_open):
// the record keeps it open and reads the ranges it needs through its bounded
// reader (reader.h): the universal header and slice table, a slice's Mach
// header, an archive's magic and member headers as they are walked, and,
// when examined, the load commands.
// Memory follows the largest range read, not the file's size. Positions in
// the file are 64-bit offsets, not addresses; records read from it are
// copies.
#pragma once

#include "arch.h"
#include "bytesex.h"
#include "reader.h"
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
    // 2. the file's bytes, read by range through `reader` (read_bytes with
    //    offsets in the file); `file_size` is its size when opened, or the
    //    size of the buffer given to ofile_map_from_memory (`file_mem`, owned
    //    by the record; none for a file read through its descriptor)
    byte_reader reader;
    char* file_mem;
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
    uint64_t member_offset;      // contents' offset from the start of the archive
    uint64_t member_file_offset; // contents' offset in the file
    uint64_t member_size;
    struct ar_hdr* member_ar_hdr;
    // The name up to its first NUL as a terminated heap copy, never longer
    // than the name asked for, whatever length the header gives it
    // (`member_name_size`): print it with "%.*s", which stops at the NUL.
    char* member_name;
    uint32_t member_name_size;
    ofile_type member_type;
    // 7. the cputype of an archive's objects (from its first Mach-O member)
    int32_t archive_cputype;
    int32_t archive_cpusubtype;
    // 8. the object to examine: its offset in the file and its size (set
    //    when mh or mh64 is)
    uint64_t object_offset;
    uint64_t object_size;
    byte_sex object_byte_sex;
    // 9. its header (at most one set; a copy held below, in file order until
    //    processor() normalises it) and its first load command's offset in
    //    the file
    mach_header* mh;
    mach_header_64* mh64;
    uint64_t load_commands_offset;
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

/// Opens and classifies `file_name`, which stays open until ofile_unmap. 1 on
/// success; 0 on failure with the record cleared. Open, examination and
/// first-read failures (also a file that is not a regular file, or a slice
/// table too large for memory) are silent.
int ofile_map(const char* file_name, const arch_flag* arch_flag, const char* object_name,
              ofile* ofile, int archives_with_fat_objects);
/// A file opened and its first bytes read ahead of ofile_map_opened, by
/// another thread for instance.
struct opened_file {
    int fd;         // -1: it could not be opened, or is no regular file
    uint64_t size;  // its size when opened
    int64_t mtime;  // its modification time
    char* window;   // kMaxReadWindow bytes, holding its first `held` bytes
    uint64_t held;
};
/// Opens `file_name` as ofile_map does and reads its first bytes into
/// `window` (kMaxReadWindow bytes): a small file whole, else one read
/// window, or a thin object's header and load commands (as far as the
/// window goes). The caller closes `fd`.
opened_file ofile_open(const char* file_name, char* window);
/// ofile_map on a file ofile_open opened. Its descriptor and window stay the
/// caller's, which keeps them until ofile_unmap (which leaves them).
int ofile_map_opened(const opened_file& file, const char* file_name, const arch_flag* arch_flag,
                     const char* object_name, ofile* ofile, int archives_with_fat_objects);
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
/// Closes the file, releases the record's buffer and copies and clears the
/// record; safe on a cleared record.
void ofile_unmap(ofile* ofile);

// Archive members (archive.cpp).
int ofile_specific_member(const char* object_name, ofile* ofile);
/// Selects the member whose header is at `offset` from the start of the
/// archive (the file, or the selected slice), as ofile_specific_member
/// selects one by name, and sets `*next` to the next header's offset (0 when
/// none was read). 0 when no whole header is there or the member is bad.
int ofile_member_at(ofile* ofile, uint64_t offset, uint64_t* next);
int check_fat_object_in_archive(ofile* ofile);
int size_ar_name(const ar_hdr* ar_hdr);

// Shared by ofile.cpp and archive.cpp.
/// Makes the `size` bytes at `offset` the object; its Mach header is read
/// from there, up to `end` (the end of what holds it).
void ofile_set_object(ofile* ofile, uint64_t offset, uint64_t size, uint64_t end);
void ofile_clear_object(ofile* ofile);
void ofile_clear_member(ofile* ofile);
/// The universal header at `offset` and `narchs` slices after it, read no
/// further than `end` (zeros past it), in host order with `narchs` as the
/// count: a heap block to free(). NULL when memory for it cannot be had.
char* read_fat_table(ofile* ofile, uint64_t offset, uint64_t end, uint32_t narchs);
/// The byte order of `magic` read in host order, UNKNOWN_BYTE_SEX when it
/// is no Mach-O magic.
byte_sex mach_magic_byte_sex(uint32_t magic);

} // namespace macho
