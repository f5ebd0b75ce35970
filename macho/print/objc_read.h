// What both Objective-C printers share: where a section's bytes lie in the
// object, bounded reads of records and strings from there, and the walk over
// the segment commands' section records.
//
// Nothing of the object is copied but the record or string being printed:
// a read names the section and an offset in it and never goes past the
// section's end; what the section does not hold reads as zeros.
#pragma once

#include "print/lookup.h"

#include <cstdint>

namespace macho {

/// One section as the Objective-C printers see it: its bytes at `offset` of
/// the object (none for a zero-fill section, whose bytes read as zeros), its
/// address, and its size cut to what the object holds.
struct objc_section_bytes {
    uint64_t offset;
    bool zerofill;
    uint64_t addr;
    uint64_t size;
};

/// Where the section record `s` puts its bytes, with the two past-the-end
/// notes ("section contents of: ..." and "part of section contents of: ...").
objc_section_bytes objc_section_place(const object_bytes& object, const section_info& s);

/// True when the section holds `addr`; then `*offset` is where in it.
inline bool objc_section_holds(const objc_section_bytes& s, uint64_t addr, uint64_t* offset)
{
    if (addr < s.addr || addr - s.addr >= s.size)
        return false;
    *offset = addr - s.addr;
    return true;
}

/// Copies `n` bytes from `at` of the section into `dst`, zeros past the
/// section's end; returns how many the section held.
uint64_t objc_read(const object_bytes& object, const objc_section_bytes& s, uint64_t at, void* dst, uint64_t n);

/// Prints " %.*s\n" for the string at `at` of the section: up to its NUL or
/// the section's end.
void objc_print_string(const object_bytes& object, const objc_section_bytes& s, uint64_t at);

/// Calls `segment(segment)` for each segment command (only LC_SEGMENT_64
/// ones when `only64`) and `visit(segment, section)` for each of its section
/// records, in host order, with the walk's notes. A section record cut short by the end of the load-command
/// area is noted, visited zero-filled, and is the last of its command.
/// `visit` returns false to end the walk.
template <typename Segment, typename Visit>
void objc_walk_sections(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                        bool only64, Segment segment, Visit visit)
{
    if (ncmds == 0)
        return;
    walk_load_commands(lc, ncmds, sizeofcmds, object_byte_sex, LC_WALK_NOTES,
                       [&](uint32_t, uint64_t off, const load_command& l) {
                           if (l.cmd != LC_SEGMENT_64 && (only64 || l.cmd != LC_SEGMENT))
                               return true;
                           const segment_info sg = read_segment(lc, off, l.cmd, object_byte_sex);
                           segment(sg);
                           for (uint32_t j = 0; j < sg.nsects; ++j) {
                               section_info s;
                               const bool inside = read_section(lc, off, l.cmd, j, object_byte_sex, &s);
                               if (!inside)
                                   printf("section structure command extends past end of load commands\n");
                               if (!visit(sg, s))
                                   return false;
                               if (!inside)
                                   break;
                           }
                           return true;
                       });
}

/// The first (__TEXT,__cstring) section, with the walk's notes; all zero
/// when there is none.
/// For walks that look at sections only.
inline void objc_any_segment(const segment_info&) {}

objc_section_bytes get_cstring_section(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                                       byte_sex object_byte_sex, const object_bytes& object);

} // namespace macho
