#include "AppHVOLogWrapper.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <string>

#include "AppProtectionController.h" // kHvoSocketPath, kAppProtectionHvkId
#include "HVOCommBroker.h"
#include "TraceLevels.h"

#define LOGGER_TRACE(threshold, ...) WARD_TRACE(loggerFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

void AppHVOLogWrapper::sendEvent(const wchar_t* method, HVO::typeOfLog_enum type, const std::wstring& message,
                                 const std::wstring& detail)
{
    LOGGER_TRACE(2, L"AppHVOLogWrapper::%ls - Entry\n", method);
    try {
        HVO::HVOCommBroker* broker = HVO::HVOCommBroker::getInstance(kHvoSocketPath);
        if (broker == nullptr) {
            LOGGER_TRACE(0, L"AppHVOLogWrapper::%ls - No command broker\n", method);
            return;
        }
        HVO::LogRequest request(kAppProtectionHvkId, type, HVO::HVK_LOG_LEVEL_1);
        request.setMessage(message);
        request.setDetailMessage(detail);
        broker->sendLog(request);
    } catch (const HVO::HVOException& e) {
        LOGGER_TRACE(0, L"AppHVOLogWrapper::%ls - HVOException: %s\n", method, e.what());
    } catch (const std::exception& e) {
        LOGGER_TRACE(0, L"AppHVOLogWrapper::%ls - Exception: %s\n", method, e.what());
    } catch (...) {
        LOGGER_TRACE(0, L"AppHVOLogWrapper::%ls - Unknown exception\n", method);
    }
}

void AppHVOLogWrapper::sendZuvEvents(ReportData& data, DetailReportData& detail)
{
    sendEvent(L"sendZuvEvents", HVO::LOG_TYPE_ZUV_EVENT, data.toWstring(), detail.toWstring());
}

void AppHVOLogWrapper::sendHistoryEvents(ReportData& data, DetailReportData& detail)
{
    sendEvent(L"sendHistoryEvents", HVO::LOG_TYPE_HISTORY_EVENT, data.toWstring(), detail.toWstring());
}

void AppHVOLogWrapper::sendRecentEvents(DetailReportData& detail)
{
    sendEvent(L"sendRecentEvents", HVO::LOG_TYPE_RECENT_EVENT, detail.toWstring(), std::wstring());
}

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
