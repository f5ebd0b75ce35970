// Conversion between the system's narrow texts (UTF-8) and its wide texts
// (32-bit code points in host order).
#pragma once

#include <cwchar>

/// UTF-8 `text` to a zero-terminated wide text in `out`. `*capacity` (wide
/// characters, terminator included) must be at least strlen(text) + 1.
/// Returns 0, or -1 on a null argument, too small a capacity or text that is
/// not valid UTF-8; on -1 `out` is not touched.
int char2widechar(const char* text, wchar_t* out, int* capacity);

/// Wide `text` to zero-terminated UTF-8 in `out`. `*capacity` (bytes,
/// terminator included) must be at least 6 * wcslen(text) + 1. Returns 0, or
/// -1 on a null argument, too small a capacity or a character that is a
/// surrogate or above U+10FFFF; on -1 `out` is not touched.
int widechar2charstr(const wchar_t* text, char* out, int* capacity);
