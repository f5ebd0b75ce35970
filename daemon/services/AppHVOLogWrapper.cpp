#include "AppHVOLogWrapper.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <string>

#include "HVOCommBroker.h"
#include "TraceLevels.h"

#define LOGGER_TRACE(threshold, ...) WARD_TRACE(loggerFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

void AppHVOLogWrapper::sendLogMessage(HVO::typeOfLog_enum type, HVO::hvk_logLevel_enum level, const char* format, ...)
{
    std::string text;
    va_list ap;
    va_start(ap, format);
    va_list probe;
    va_copy(probe, ap);
    const int n = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (n > 0) {
        text.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&text[0], text.size(), format, ap);
        text.resize(static_cast<size_t>(n));
    }
    va_end(ap);
    try {
        // The text is the argument of "%s": none of its characters is taken
        // as a format directive.
        HVO_LOG_MSG(3, L"AppProtection", type, level, L"%s", text.c_str());
    } catch (const HVO::HVOException& e) {
        LOGGER_TRACE(0, L"AppHVOLogWrapper::sendLogMessage - %s: %s\n", text.c_str(), e.what());
    } catch (...) {
        LOGGER_TRACE(0, L"AppHVOLogWrapper::sendLogMessage - %s: unknown exception\n", text.c_str());
    }
}

} // namespace AppProtection
