#include "LogFormat.h"

#include "HVOCommBroker.h"
#include "WideFormat.h"

namespace HVO {
namespace detail {

std::wstring decodeUtf8Escaped(const std::string& s)
{
    return wardformat::decode(s.data(), s.size(), wardformat::InvalidByte::SurrogateEscape);
}

std::wstring formatLogText(const wchar_t* format, va_list ap)
{
    return wardformat::format(format, ap, wardformat::InvalidByte::SurrogateEscape);
}

} // namespace detail
} // namespace HVO

void HVO_LOG_MSG(int sender, const wchar_t* component, int type, int level, const wchar_t* format, ...)
{
    va_list ap;
    va_start(ap, format);
    std::wstring text = HVO::detail::formatLogText(format, ap);
    va_end(ap);
    HVO::HVOCommBroker* b = HVO::HVOCommBroker::getInstance("/usr/local/Vantrel/hvo/var/hvodsocket");
    if (b == nullptr)
        throw HVO::HVOException("no command broker");
    b->sendLogMessage(sender, component ? component : L"", type, level, text);
}
