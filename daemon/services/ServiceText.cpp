#include "ServiceText.h"

#include <vector>

#include "StringConvert.h"
#include "WideFormat.h"

namespace AppProtection {

bool utf8ToWide(const std::string& text, std::wstring& out)
{
    std::vector<wchar_t> buffer(text.size() + 1);
    int capacity = static_cast<int>(buffer.size());
    if (char2widechar(text.c_str(), buffer.data(), &capacity) != 0)
        return false;
    out.assign(buffer.data());
    return true;
}

std::wstring wideText(const std::string& text)
{
    std::wstring wide;
    if (utf8ToWide(text, wide))
        return wide;
    return wardformat::decode(text.data(), text.size(), wardformat::InvalidByte::SurrogateEscape);
}

} // namespace AppProtection
