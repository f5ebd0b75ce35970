#include "WideStream.h"

#include <cstdint>

namespace HVO {

wchar_t ByteWiseCType::do_widen(char c) const
{
    return static_cast<wchar_t>(static_cast<unsigned char>(c));
}

const char* ByteWiseCType::do_widen(const char* lo, const char* hi, wchar_t* to) const
{
    for (; lo != hi; ++lo, ++to)
        *to = do_widen(*lo);
    return hi;
}

char ByteWiseCType::do_narrow(wchar_t c, char dfault) const
{
    auto v = static_cast<uint32_t>(c);
    return v <= 0xFF ? static_cast<char>(static_cast<unsigned char>(v)) : dfault;
}

const wchar_t* ByteWiseCType::do_narrow(const wchar_t* lo, const wchar_t* hi, char dfault,
                                        char* to) const
{
    for (; lo != hi; ++lo, ++to)
        *to = do_narrow(*lo, dfault);
    return hi;
}

const std::locale& byteWiseLocale()
{
    static const std::locale loc(std::locale::classic(), new ByteWiseCType);
    return loc;
}

std::unique_ptr<std::wstringstream> newWideStream(std::ios::openmode mode)
{
    auto s = std::make_unique<std::wstringstream>(mode);
    s->imbue(byteWiseLocale());
    return s;
}

std::unique_ptr<std::wstringstream> newWideStream(const std::wstring& text, std::ios::openmode mode)
{
    auto s = std::make_unique<std::wstringstream>(mode);
    s->imbue(byteWiseLocale());
    s->str(text);
    s->seekg(0);
    return s;
}

} // namespace HVO
