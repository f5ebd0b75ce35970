// Turns each decision into what the user and the management console see:
// log lines, events and block notifications.
#pragma once

#include "AppRecordPayload.h"

namespace AppProtection {

class ReportManager {
public:
    ReportManager();
    ~ReportManager();
    /// Reports one decision; `notify` false for a denial the user chose.
    /// Never throws.
    void handleReport(AppProtReport& report, bool notify);
};

} // namespace AppProtection
