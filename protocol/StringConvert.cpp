#include "StringConvert.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <vector>

namespace {

bool validCodePoint(wchar_t c)
{
    auto v = static_cast<unsigned long>(static_cast<uint32_t>(c));
    return v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF);
}

/// Runs one whole conversion; false on any converter error or when the
/// output does not fit.
bool convertAll(const char* to, const char* from, const char* in, size_t inBytes, char* out,
                size_t outBytes, size_t* written)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char* src = const_cast<char*>(in);
    char* dst = out;
    size_t srcLeft = inBytes;
    size_t dstLeft = outBytes;
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
    // Flush any shift state; UTF-8 and UCS-4 have none, but be exact.
    if (ok)
        ok = iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    *written = outBytes - dstLeft;
    return ok;
}

} // namespace

int char2widechar(const char* text, wchar_t* out, int* capacity)
{
    if (text == nullptr || out == nullptr || capacity == nullptr)
        return -1;
    size_t n = std::strlen(text) + 1;
    if (*capacity < 0 || static_cast<size_t>(*capacity) < n)
        return -1;
    // One UTF-8 byte never yields more than one character.
    std::vector<wchar_t> buf(n);
    size_t written = 0;
    if (!convertAll("WCHAR_T", "UTF-8", text, n, reinterpret_cast<char*>(buf.data()),
                    n * sizeof(wchar_t), &written))
        return -1;
    size_t chars = written / sizeof(wchar_t);
    if (chars == 0 || buf[chars - 1] != L'\0')
        return -1;
    for (size_t i = 0; i + 1 < chars; ++i)
        if (!validCodePoint(buf[i]))
            return -1;
    std::memcpy(out, buf.data(), chars * sizeof(wchar_t));
    return 0;
}

int widechar2charstr(const wchar_t* text, char* out, int* capacity)
{
    if (text == nullptr || out == nullptr || capacity == nullptr)
        return -1;
    size_t m = std::wcslen(text);
    if (*capacity <= 0 || static_cast<unsigned long long>(*capacity) < 6ULL * m + 1)
        return -1;
    for (size_t i = 0; i < m; ++i)
        if (!validCodePoint(text[i]))
            return -1;
    std::vector<char> buf(6 * m + 1);
    size_t written = 0;
    if (m != 0 && !convertAll("UTF-8", "WCHAR_T", reinterpret_cast<const char*>(text),
                              m * sizeof(wchar_t), buf.data(), 6 * m, &written))
        return -1;
    buf[written] = '\0';
    std::memcpy(out, buf.data(), written + 1);
    return 0;
}
