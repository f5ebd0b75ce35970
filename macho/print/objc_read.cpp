#include "print/objc_read.h"

#include <climits>
#include <cstring>

namespace macho {

namespace {

// Section types whose bytes the file does not hold.
bool is_zerofill(uint32_t flags)
{
    const uint32_t type = flags & SECTION_TYPE;
    return type == S_ZEROFILL || type == 0xc || type == 0x12;
}

} // namespace

objc_section_bytes objc_section_place(const object_bytes& object, const section_info& s)
{
    objc_section_bytes b{s.offset, false, s.addr, s.size};
    if (is_zerofill(s.flags)) {
        b.offset = 0;
        b.zerofill = true;
        return b;
    }
    if (s.offset > object.size) {
        printf("section contents of: (%.16s,%.16s) is past end of file\n", s.segname, s.sectname);
        b.size = 0;
    } else if (s.size > object.size - s.offset) {
        printf("part of section contents of: (%.16s,%.16s) is past end of file\n", s.segname, s.sectname);
        b.size = object.size - s.offset;
    }
    return b;
}

uint64_t objc_read(const object_bytes& object, const objc_section_bytes& s, uint64_t at, void* dst, uint64_t n)
{
    memset(dst, 0, n);
    if (at >= s.size)
        return 0;
    const uint64_t held = s.size - at < n ? s.size - at : n;
    if (!s.zerofill)
        read_bytes(object.reader, object.offset + s.offset + at, object.offset + object.size, dst, held);
    return held;
}

void objc_print_string(const object_bytes& object, const objc_section_bytes& s, uint64_t at)
{
    putchar(' ');
    // printf's precision is an int: a longer section is printed no further.
    uint64_t left = at < s.size ? s.size - at : 0;
    if (left > INT_MAX)
        left = INT_MAX;
    char chunk[512];
    while (left != 0) {
        const uint64_t n = left < sizeof chunk ? left : sizeof chunk;
        objc_read(object, s, at, chunk, n);
        const char* nul = static_cast<const char*>(memchr(chunk, '\0', n));
        const size_t take = nul != nullptr ? static_cast<size_t>(nul - chunk) : static_cast<size_t>(n);
        fwrite(chunk, 1, take, stdout);
        if (nul != nullptr)
            break;
        at += n;
        left -= n;
    }
    putchar('\n');
}

objc_section_bytes get_cstring_section(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds,
                                       byte_sex object_byte_sex, const object_bytes& object)
{
    objc_section_bytes found{0, false, 0, 0};
    objc_walk_sections(lc, ncmds, sizeofcmds, object_byte_sex, false, objc_any_segment,
                       [&](const segment_info&, const section_info& s) {
                           if (strncmp(s.segname, "__TEXT", 16) != 0 || strncmp(s.sectname, "__cstring", 16) != 0)
                               return true;
                           found = objc_section_place(object, s);
                           return false;
                       });
    return found;
}

} // namespace macho
