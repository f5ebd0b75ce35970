// printf-style formatting into wide texts, shared by the trace file and the
// broker's log records. Narrow texts are taken as UTF-8 whatever the locale;
// each caller says what a byte that is not valid UTF-8 becomes.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace wardformat {

/// What an invalid byte b (0x80 to 0xFF) becomes.
enum class InvalidByte {
    HexEscape,       ///< the four characters "\xNN" (the trace file)
    SurrogateEscape, ///< the character U+DC00+b, as python's surrogateescape (the broker's log)
};

/// UTF-8 bytes to characters, strictly (see Utf8.h).
std::wstring decode(const char* bytes, size_t n, InvalidByte invalid);

/// "%s" takes a narrow text as UTF-8, "%ls" a wide text, "%c" a byte, "%lc"
/// a wide character; widths and precisions count characters; numeric
/// directives go one at a time through snprintf. "%n" writes nothing; an
/// unknown directive is kept as written.
std::wstring format(const wchar_t* fmt, va_list ap, InvalidByte invalid);

} // namespace wardformat
