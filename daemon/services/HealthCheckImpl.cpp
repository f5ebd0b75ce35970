#include "HealthCheckImpl.h"

#include "AppProtectionController.h"
#include "TraceLevels.h"

#define HC_TRACE(threshold, ...) WARD_TRACE(appHCFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

HealthCheckImpl::HealthCheckImpl()
{
    HC_TRACE(1, L"HealthCheckImpl::HealthCheckImpl - Constructed\n");
}

HealthCheckImpl::~HealthCheckImpl()
{
    HC_TRACE(1, L"HealthCheckImpl::~HealthCheckImpl - Destroyed\n");
}

bool HealthCheckImpl::handleHealthCheck()
{
    HC_TRACE(0, L"HealthCheckImpl::handleHealthCheck - Entry\n");
    AppProtectionController::getInstance()->persistProfile();
    HC_TRACE(0, L"HealthCheckImpl::handleHealthCheck - Exit\n");
    return true;
}

} // namespace AppProtection
