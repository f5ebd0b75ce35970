// Strict UTF-8 decoding into wide characters, shared by the trace facility and
// the broker's log formatting; each chooses what an invalid byte becomes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wardutf8 {

/// Decodes `n` bytes. Overlong forms, surrogates and values above U+10FFFF
/// are invalid; for each byte that does not start a valid sequence,
/// `onInvalid(out, byte)` appends its replacement and decoding goes on at the
/// next byte.
template <class OnInvalid>
std::wstring decode(const char* s, size_t n, OnInvalid onInvalid)
{
    std::wstring out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0;
        size_t len = 0;
        if (b < 0x80) {
            cp = b;
            len = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            len = 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            len = 4;
        }
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (c & 0x3F);
        }
        if (ok && len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (ok && len == 4 && (cp < 0x10000 || cp > 0x10FFFF))
            ok = false;
        if (ok) {
            out.push_back(static_cast<wchar_t>(cp));
            i += len;
        } else {
            onInvalid(out, b);
            ++i;
        }
    }
    return out;
}

} // namespace wardutf8
