#include "PrefValues.h"

#include <cstring>

std::shared_ptr<const PrefBoolean> PrefBoolean::get(bool v)
{
    static const std::shared_ptr<const PrefBoolean> t(new PrefBoolean(true));
    static const std::shared_ptr<const PrefBoolean> f(new PrefBoolean(false));
    return v ? t : f;
}

namespace settingstore {

namespace {
// Decodes one code point at s[i]; 0 on an invalid sequence.
size_t decode(const std::string& s, size_t i, uint32_t& cp)
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
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}
} // namespace

// What an XML 1.0 document can carry.
static bool storable(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t n = decode(s, i, cp);
        if (n == 0)
            return false;
        if ((cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF)
            return false;
        i += n;
    }
    return true;
}

} // namespace settingstore

std::shared_ptr<const PrefString> PrefString::createWithUTF8(const std::string& utf8)
{
    if (!settingstore::storable(utf8))
        return nullptr;
    return std::make_shared<const PrefString>(utf8);
}

std::shared_ptr<const PrefString> PrefString::createWithUTF8(const char* utf8)
{
    if (utf8 == nullptr)
        return nullptr;
    return createWithUTF8(std::string(utf8));
}

bool PrefString::getCString(char* buf, size_t size) const
{
    if (buf == nullptr || m_text.size() + 1 > size)
        return false;
    std::memcpy(buf, m_text.c_str(), m_text.size() + 1);
    return true;
}
