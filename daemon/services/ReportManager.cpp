#include "ReportManager.h"

namespace AppProtection {

ReportManager::ReportManager() = default;
ReportManager::~ReportManager() = default;

void ReportManager::handleReport(AppProtReport&, bool)
{
    // TODO: the decision's log line for a denial, and for the first block of
    // each application group the history, recent and console events and the
    // notification; until then decisions are only traced by the controller.
}

} // namespace AppProtection
