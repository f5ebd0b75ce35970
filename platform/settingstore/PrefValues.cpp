#include "PrefValues.h"

#include <cstring>

#include "Utf8.h"

std::shared_ptr<const PrefBoolean> PrefBoolean::get(bool v)
{
    static const std::shared_ptr<const PrefBoolean> t(new PrefBoolean(true));
    static const std::shared_ptr<const PrefBoolean> f(new PrefBoolean(false));
    return v ? t : f;
}

namespace settingstore {

// What an XML 1.0 document can carry.
static bool storable(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t n = wardutf8::decodeOne(s.data(), s.size(), i, cp);
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
