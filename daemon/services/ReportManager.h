// Turns each decision into what the user and the management console see:
// log lines, events and block notifications.
#pragma once

#include <map>
#include <string>

#include "AppRecordPayload.h"
#include "ReportRecords.h"

namespace AppProtection {

class ReportManager {
public:
    ReportManager();
    ~ReportManager();
    /// Reports one decision: its line goes to the activity log unless it is
    /// a grant; a group's first execution and first network block also go
    /// out as history, recent and console events and, with `notify`, as a
    /// notification (false for a denial the user chose). Never throws.
    void handleReport(AppProtReport& report, bool notify);

    /// The decision's line and its log level.
    static std::string reportLine(AppProtReport& report, int& level);

    void constructHistoryEvent(AppProtReport& report, ReportData& data, DetailReportData& detail);
    void constructRecentEvent(AppProtReport& report, DetailReportData& detail);
    void constructZuvEvent(AppProtReport& report, ReportData& data, DetailReportData& detail);
    /// Adds row n: the tag under "ZUV_EVENT_TAG_n", the value under
    /// "ZUV_EVENT_VALUE_n".
    void insertRowInZuvEvent(std::multimap<std::wstring, std::wstring>& rows, int n, std::wstring tag,
                             std::string value);
};

} // namespace AppProtection
