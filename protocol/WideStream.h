// Wide string streams for the payload archives.
//
// boost's wide text archives widen and narrow every byte of a narrow text
// through the stream's ctype<wchar_t>; the standard facet turns bytes above
// 0x7F into WEOF and the archive fails. Every payload stream is imbued with
// a byte-wise facet instead: byte b is character b, and back.
#pragma once

#include <locale>
#include <memory>
#include <sstream>

namespace HVO {

class ByteWiseCType : public std::ctype<wchar_t> {
public:
    explicit ByteWiseCType(size_t refs = 0) : std::ctype<wchar_t>(refs) {}

protected:
    wchar_t do_widen(char c) const override;
    const char* do_widen(const char* lo, const char* hi, wchar_t* to) const override;
    /// Characters above 0xFF have no byte: they become `dfault`.
    char do_narrow(wchar_t c, char dfault) const override;
    const wchar_t* do_narrow(const wchar_t* lo, const wchar_t* hi, char dfault,
                             char* to) const override;
};

/// The classic locale with the byte-wise facet.
const std::locale& byteWiseLocale();

/// A new wide string stream, imbued with the byte-wise facet.
std::unique_ptr<std::wstringstream> newWideStream(std::ios::openmode mode);
std::unique_ptr<std::wstringstream> newWideStream(const std::wstring& text, std::ios::openmode mode);

} // namespace HVO
