// The requests waiting for the user: an execution request decided "ask"
// stays pending here until its answer, or a clear, answers it.
#pragma once

#include <atomic>
#include <list>
#include <mutex>

#include "AppProtRecords.h"
#include "AppRecordPayload.h"
#include "ScanRequest.h"

namespace AppProtection {

class AlertManager {
public:
    /// Created on first use; lives for the process.
    static AlertManager* getInstance();
    static void releaseInstance();

    /// Keeps a copy of the request pending and sends its alert (60001 to
    /// module 102). When the alert cannot be sent the request is denied at
    /// once, keeping its network action. The caller holds no profile lock.
    void sendAlert(ScanRequest& request);
    /// Applies the user's answer to the first pending request with its
    /// cookie: answers the kernel, reports a denial, and records an "always"
    /// rule or the process's network action. Each request is answered once,
    /// also when something on the way throws. On a broker thread.
    void processAlertResponse(AppProtAlert& answer);
    /// The one-way block notification (60000 to module 102). Takes no lock;
    /// failures are traced.
    void sendNotification(AppProtReport& report);
    /// Answers every pending request with allow (true) or deny (false),
    /// keeping each one's network action, and forgets them.
    void clearAllAlerts(bool allow);

    AlertManager(const AlertManager&) = delete;
    AlertManager& operator=(const AlertManager&) = delete;

private:
    AlertManager();
    /// Answers every request still pending with allow.
    ~AlertManager();
    /// Sends the alert of the request; throws what the broker throws, and
    /// HVOException without a broker.
    void sendAlertCommand(const ScanRequest& request);
    /// Applies `answer` to `request`, taken off the list; queues it for the
    /// kernel and sets `queued` once it is.
    void applyAnswerLocked(ScanRequest& request, AppProtAlert& answer, bool& queued);

    std::mutex m_alertMutex;
    std::list<ScanRequest> m_pendingAlerts; ///< guarded by m_alertMutex; in sending order

    static std::atomic<AlertManager*> m_pSelf;
    static std::mutex m_instanceMutex;
};

} // namespace AppProtection
