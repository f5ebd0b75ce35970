// Strict UTF-8 decoding, shared by the trace facility, the broker's log
// formatting and the preferences store; each chooses what an invalid byte
// becomes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wardutf8 {

/// Decodes the sequence starting at s[i] (i < n) into `cp` and returns its
/// length, or 0 when it is invalid: a bad lead or continuation byte, a
/// sequence cut by the end, an overlong form, a surrogate or a value above
/// U+10FFFF.
inline size_t decodeOne(const char* s, size_t n, size_t i, uint32_t& cp)
{
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t len;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        cp = b & 0x1F;
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        cp = b & 0x0F;
        len = 3;
    } else if (b >= 0xF0 && b <= 0xF4) {
        cp = b & 0x07;
        len = 4;
    } else {
        return 0;
    }
    if (len > n - i)
        return 0;
    for (size_t k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
        return 0;
    if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))
        return 0;
    return len;
}

/// Decodes `n` bytes; for each byte that does not start a valid sequence,
/// `onInvalid(out, byte)` appends its replacement and decoding goes on at the
/// next byte.
template <class OnInvalid>
std::wstring decode(const char* s, size_t n, OnInvalid onInvalid)
{
    std::wstring out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        uint32_t cp = 0;
        size_t len = decodeOne(s, n, i, cp);
        if (len != 0) {
            out.push_back(static_cast<wchar_t>(cp));
            i += len;
        } else {
            onInvalid(out, static_cast<unsigned char>(s[i]));
            ++i;
        }
    }
    return out;
}

} // namespace wardutf8
