// The daemon's sending of activity log lines and events through the command
// broker's logger. No failure reaches the caller.
#pragma once

#include "LogRequest.h"
#include "ReportRecords.h"

namespace AppProtection {

class AppHVOLogWrapper {
public:
    /// A console event: the summary's text as message, the detail's as
    /// detail message; type 5, level 1.
    static void sendZuvEvents(ReportData& data, DetailReportData& detail);
    /// A history event, as the console event but type 3.
    static void sendHistoryEvents(ReportData& data, DetailReportData& detail);
    /// A recent event: the detail's text as message, no detail; type 7,
    /// level 1.
    static void sendRecentEvents(DetailReportData& detail);
    /// Formats the arguments and logs the text as module 3, "AppProtection".
    static void sendLogMessage(HVO::typeOfLog_enum type, HVO::hvk_logLevel_enum level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));

private:
    static void sendEvent(const wchar_t* method, HVO::typeOfLog_enum type, const std::wstring& message,
                          const std::wstring& detail);
};

} // namespace AppProtection
