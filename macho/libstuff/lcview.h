// The load commands of one object as the scanner walks them: the bytes the
// file holds, read as they are walked, and zeros from there up to
// `sizeofcmds`. Nothing is allocated for the area, however large
// `sizeofcmds` claims to be.
#pragma once

#include "reader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace macho {

struct load_commands_view {
    byte_reader* reader;
    uint64_t offset;  // the first load command's offset in the file
    uint64_t present; // bytes actually there, at most sizeofcmds
    uint32_t sizeofcmds;

    /// Copies `n` bytes from offset `off` of the area (file byte order),
    /// zeros where the file holds none.
    void read(uint64_t off, void* dst, size_t n) const
    {
        if (off >= present) {
            memset(dst, 0, n);
            return;
        }
        read_bytes(reader, offset + off, offset + present, dst, n);
    }
    /// The `n` bytes at offset `off` of the area when the reader's window
    /// holds them all; else null. Valid until the next read.
    const char* held(uint64_t off, size_t n) const
    {
        if (off >= present || n > present - off)
            return nullptr;
        return window_bytes(reader, offset + off, offset + present, n);
    }
    /// One byte of the area (0 past the bytes present).
    char at(uint64_t off) const
    {
        char c;
        read(off, &c, 1);
        return c;
    }
};

} // namespace macho
