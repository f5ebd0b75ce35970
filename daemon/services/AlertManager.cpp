#include "AlertManager.h"

#include "AppProtectionController.h"
#include "TraceLevels.h"

#define ALERT_TRACE(threshold, ...) WARD_TRACE(alertMgrFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

std::atomic<AlertManager*> AlertManager::m_pSelf{nullptr};
std::mutex AlertManager::m_instanceMutex;

AlertManager* AlertManager::getInstance()
{
    AlertManager* self = m_pSelf.load(std::memory_order_acquire);
    if (self != nullptr)
        return self;
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    self = m_pSelf.load(std::memory_order_acquire);
    if (self == nullptr) {
        self = new AlertManager();
        m_pSelf.store(self, std::memory_order_release);
    }
    return self;
}

void AlertManager::releaseInstance()
{
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    delete m_pSelf.exchange(nullptr, std::memory_order_acq_rel);
}

AlertManager::AlertManager() = default;

AlertManager::~AlertManager()
{
    std::lock_guard<std::mutex> lock(m_alertMutex);
    AppProtectionController* controller = AppProtectionController::getExistingInstance();
    for (ScanRequest& request : m_pendingAlerts) {
        request.result = 1;
        if (controller != nullptr)
            controller->addToResponseQueue(request);
    }
    m_pendingAlerts.clear();
}

void AlertManager::sendAlert(ScanRequest& request)
{
    ALERT_TRACE(0, L"AlertManager::sendAlert - %s\n", requestPath(request).c_str());
    std::lock_guard<std::mutex> lock(m_alertMutex);
    m_pendingAlerts.push_back(request);
    // TODO: send the alert (command 60001 to module 102) and apply its
    // answer; until then the request stays pending until a clear answers it.
}

void AlertManager::clearAllAlerts(bool allow)
{
    ALERT_TRACE(0, L"AlertManager::clearAllAlerts - %s\n", allow ? "allow" : "deny");
    std::lock_guard<std::mutex> lock(m_alertMutex);
    AppProtectionController* controller = AppProtectionController::getExistingInstance();
    for (ScanRequest& request : m_pendingAlerts) {
        request.result = allow ? 1 : 2;
        if (controller != nullptr)
            controller->addToResponseQueue(request);
    }
    m_pendingAlerts.clear();
    ALERT_TRACE(0, L"AlertManager::clearAllAlerts - Cleared\n");
}

} // namespace AppProtection
