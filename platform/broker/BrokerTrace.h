// The broker's own diagnostics: lines on standard error when the
// environment variable HVO_TRACE is set. The broker is not part of the
// system's trace file.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace HVO {
namespace detail {

inline bool brokerTraceOn()
{
    static const bool on = std::getenv("HVO_TRACE") != nullptr;
    return on;
}

/// Narrow-formats an ASCII wide format; "%s" arguments pass as bytes.
inline void brokerTrace(const wchar_t* fmt, ...)
{
    char narrow[256];
    size_t i = 0;
    for (; fmt[i] != 0 && i + 1 < sizeof narrow; ++i)
        narrow[i] = static_cast<unsigned>(fmt[i]) < 0x80 ? static_cast<char>(fmt[i]) : '?';
    narrow[i] = 0;
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, narrow, ap);
    va_end(ap);
    std::fputs(line, stderr);
}

} // namespace detail
} // namespace HVO

#define BROKER_TRACE(...)                                   \
    do {                                                    \
        if (::HVO::detail::brokerTraceOn())                 \
            ::HVO::detail::brokerTrace(__VA_ARGS__);        \
    } while (0)
