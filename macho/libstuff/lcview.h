// The load commands of one object as the scanner walks them: the bytes the
// file holds, and zeros from there up to `sizeofcmds`. Nothing beyond the
// bytes present is ever allocated, however large `sizeofcmds` claims to be.
#pragma once

#include <cstdint>
#include <cstring>

namespace macho {

struct load_commands_view {
    const char* bytes; // the first load command (file byte order)
    uint64_t present;  // bytes actually there, at most sizeofcmds
    uint32_t sizeofcmds;

    /// Copies `n` bytes from offset `off` of the area, zeros where the file
    /// holds none.
    void read(uint64_t off, void* dst, size_t n) const
    {
        memset(dst, 0, n);
        if (off >= present)
            return;
        const uint64_t avail = present - off;
        memcpy(dst, bytes + off, n < avail ? n : static_cast<size_t>(avail));
    }
    /// One byte of the area (0 past the bytes present).
    char at(uint64_t off) const { return off < present ? bytes[off] : '\0'; }
};

} // namespace macho
