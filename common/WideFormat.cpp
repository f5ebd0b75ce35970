#include "WideFormat.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "Utf8.h"

namespace wardformat {

std::wstring decode(const char* bytes, size_t n, InvalidByte invalid)
{
    if (invalid == InvalidByte::SurrogateEscape)
        return wardutf8::decode(bytes, n, [](std::wstring& out, unsigned char b) {
            out.push_back(static_cast<wchar_t>(0xDC00 + b));
        });
    return wardutf8::decode(bytes, n, [](std::wstring& out, unsigned char b) {
        static const char hex[] = "0123456789abcdef";
        out += L"\\x";
        out.push_back(static_cast<wchar_t>(hex[b >> 4]));
        out.push_back(static_cast<wchar_t>(hex[b & 0xF]));
    });
}

namespace {

std::wstring decodeByte(char byte, InvalidByte invalid) { return decode(&byte, 1, invalid); }

void pad(std::wstring& out, const std::wstring& text, bool left, int width)
{
    int fill = width - static_cast<int>(text.size());
    if (!left)
        for (int i = 0; i < fill; ++i)
            out.push_back(L' ');
    out += text;
    if (left)
        for (int i = 0; i < fill; ++i)
            out.push_back(L' ');
}

} // namespace

std::wstring format(const wchar_t* fmt, va_list ap, InvalidByte invalid)
{
    std::wstring out;
    if (fmt == nullptr)
        return out;
    const wchar_t* p = fmt;
    while (*p) {
        if (*p != L'%') {
            out.push_back(*p++);
            continue;
        }
        const wchar_t* start = p++;
        if (*p == L'%') {
            out.push_back(L'%');
            ++p;
            continue;
        }
        std::string spec = "%";
        bool left = false;
        while (*p && std::wcschr(L"-+ #0'", *p)) {
            if (*p == L'-')
                left = true;
            spec.push_back(static_cast<char>(*p++));
        }
        int width = -1, precision = -1;
        if (*p == L'*') {
            width = va_arg(ap, int);
            if (width < 0) {
                left = true;
                width = -width;
            }
            spec += std::to_string(width);
            ++p;
        } else {
            if (*p >= L'0' && *p <= L'9')
                width = 0;
            while (*p >= L'0' && *p <= L'9') {
                width = width * 10 + (*p - L'0');
                spec.push_back(static_cast<char>(*p++));
            }
        }
        if (*p == L'.') {
            spec.push_back('.');
            ++p;
            precision = 0;
            if (*p == L'*') {
                precision = va_arg(ap, int);
                spec += std::to_string(precision < 0 ? 0 : precision);
                ++p;
            } else {
                while (*p >= L'0' && *p <= L'9') {
                    precision = precision * 10 + (*p - L'0');
                    spec.push_back(static_cast<char>(*p++));
                }
            }
        }
        std::string length;
        while (*p && std::wcschr(L"hlLqjzt", *p))
            length.push_back(static_cast<char>(*p++));
        wchar_t conv = *p;
        if (conv == 0) {
            out.append(start, p);
            break;
        }
        ++p;
        switch (conv) {
        case L's':
        case L'S': {
            std::wstring text;
            if (conv == L'S' || length == "l") {
                const wchar_t* w = va_arg(ap, const wchar_t*);
                text = w ? std::wstring(w) : std::wstring(L"(null)");
            } else {
                const char* s = va_arg(ap, const char*);
                text = s ? decode(s, std::strlen(s), invalid) : std::wstring(L"(null)");
            }
            if (precision >= 0 && static_cast<size_t>(precision) < text.size())
                text.resize(static_cast<size_t>(precision));
            pad(out, text, left, width);
            break;
        }
        case L'c':
        case L'C': {
            std::wstring text;
            if (conv == L'C' || length == "l")
                text.push_back(static_cast<wchar_t>(va_arg(ap, wint_t)));
            else
                text = decodeByte(static_cast<char>(va_arg(ap, int)), invalid);
            pad(out, text, left, width);
            break;
        }
        case L'n':
            // Never written through: the argument is only consumed.
            (void)va_arg(ap, void*);
            break;
        case L'd':
        case L'i':
        case L'u':
        case L'o':
        case L'x':
        case L'X': {
            spec += length;
            spec.push_back(static_cast<char>(conv));
            char buf[128];
            bool isSigned = conv == L'd' || conv == L'i';
            if (length == "ll" || length == "q" || length == "j") {
                if (isSigned)
                    std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, long long));
                else
                    std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, unsigned long long));
            } else if (length == "l" || length == "z" || length == "t") {
                if (isSigned)
                    std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, long));
                else
                    std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, unsigned long));
            } else {
                if (isSigned)
                    std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, int));
                else
                    std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, unsigned int));
            }
            out += decode(buf, std::strlen(buf), invalid);
            break;
        }
        case L'e':
        case L'E':
        case L'f':
        case L'F':
        case L'g':
        case L'G':
        case L'a':
        case L'A': {
            if (length == "L")
                spec.push_back('L');
            spec.push_back(static_cast<char>(conv));
            char buf[512];
            if (length == "L")
                std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, long double));
            else
                std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, double));
            out += decode(buf, std::strlen(buf), invalid);
            break;
        }
        case L'p': {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%p", va_arg(ap, void*));
            out += decode(buf, std::strlen(buf), invalid);
            break;
        }
        default:
            // Unknown directive: kept as written, no argument taken.
            out.append(start, p);
            break;
        }
    }
    return out;
}

} // namespace wardformat
