// Small readers of archive member headers shared by the scanner's walks.
#pragma once

#include "records.h"

#include <cstdint>
#include <cstring>

namespace macho {

/// The member size: the decimal digits of the size field (leading blanks
/// skipped, reading stops at the first non-digit).
inline uint64_t ar_member_size(const ar_hdr& hdr)
{
    uint64_t n = 0;
    size_t i = 0;
    while (i < sizeof hdr.ar_size && hdr.ar_size[i] == ' ')
        ++i;
    for (; i < sizeof hdr.ar_size && hdr.ar_size[i] >= '0' && hdr.ar_size[i] <= '9'; ++i)
        n = n * 10 + static_cast<uint64_t>(hdr.ar_size[i] - '0');
    return n;
}

/// True for a "#1/" name; `len` gets the decimal number after "#1/" (0 when
/// no digit follows).
inline bool extended_name_length(const ar_hdr& hdr, uint64_t* len)
{
    if (memcmp(hdr.ar_name, AR_EFMT1, 3) != 0)
        return false;
    uint64_t n = 0;
    for (size_t i = 3; i < sizeof hdr.ar_name && hdr.ar_name[i] >= '0' && hdr.ar_name[i] <= '9'; ++i)
        n = n * 10 + static_cast<uint64_t>(hdr.ar_name[i] - '0');
    *len = n;
    return true;
}

/// The offset of the member after the one whose header `hdr` is at `off`:
/// contents padded to an even length.
inline uint64_t next_member_offset(const ar_hdr& hdr, uint64_t off)
{
    const uint64_t size = ar_member_size(hdr);
    return off + sizeof(ar_hdr) + size + (size & 1);
}

} // namespace macho
