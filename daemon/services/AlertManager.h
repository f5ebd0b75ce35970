// The requests waiting for the user: an execution request decided "ask"
// stays pending here until its answer, or a clear, answers it.
#pragma once

#include <atomic>
#include <list>
#include <mutex>

#include "ScanRequest.h"

namespace AppProtection {

class AlertManager {
public:
    /// Created on first use; lives for the process.
    static AlertManager* getInstance();
    static void releaseInstance();

    /// Keeps a copy of the request pending and sends its alert. The caller
    /// holds no profile lock.
    void sendAlert(ScanRequest& request);
    /// Answers every pending request with allow (true) or deny (false),
    /// keeping each one's network action, and forgets them.
    void clearAllAlerts(bool allow);

    AlertManager(const AlertManager&) = delete;
    AlertManager& operator=(const AlertManager&) = delete;

private:
    AlertManager();
    /// Answers every request still pending with allow.
    ~AlertManager();

    std::mutex m_alertMutex;
    std::list<ScanRequest> m_pendingAlerts; ///< guarded by m_alertMutex; in sending order

    static std::atomic<AlertManager*> m_pSelf;
    static std::mutex m_instanceMutex;
};

} // namespace AppProtection
