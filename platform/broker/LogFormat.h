// The formatting behind HVO_LOG_MSG.
#pragma once

#include <cstdarg>
#include <string>

namespace HVO {
namespace detail {

/// printf-style formatting into a wide text. "%s" takes a narrow text as
/// UTF-8 (an invalid byte b, 0x80 to 0xFF, becomes U+DC00+b), "%ls" a wide text, "%c" a
/// byte, "%lc" a wide character; numeric directives go one at a time
/// through snprintf. "%n" writes nothing.
std::wstring formatLogText(const wchar_t* format, va_list ap);

/// UTF-8 bytes to characters; an invalid byte b becomes U+DC00+b.
std::wstring decodeUtf8Escaped(const std::string& bytes);

} // namespace detail
} // namespace HVO
