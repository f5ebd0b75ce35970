// The request and response queues and the worker threads between them.
#include <chrono>
#include <exception>

#include "AppProtectionController.h"
#include "TraceLevels.h"

#define CTRL_TRACE(threshold, ...) WARD_TRACE(appControlFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

void AppProtectionController::addtoRequestQueue(ScanRequest& request)
{
    CTRL_TRACE(4, L"AppProtectionController::addtoRequestQueue - cookie %d type %d\n", request.cookie,
               request.requestType);
    {
        ward::LockGuard lock(m_requestMutex);
        m_requestQueue.push_back(request);
    }
    m_requestCondition.notify_one();
}

std::optional<ScanRequest> AppProtectionController::popFromRequestQueue()
{
    ward::UniqueLock lock(m_requestMutex);
    while (m_requestQueue.empty() && m_protectionStatus == 1) {
        m_requestCondition.wait_until(lock.native(),
                                      std::chrono::steady_clock::now() + std::chrono::seconds(m_threadPollInterval));
    }
    if (m_requestQueue.empty())
        return std::nullopt;
    ScanRequest request = m_requestQueue.front();
    m_requestQueue.pop_front();
    return request;
}

void AppProtectionController::addToResponseQueue(ScanRequest& answer)
{
    CTRL_TRACE(4, L"AppProtectionController::addToResponseQueue - cookie %d result %d\n", answer.cookie,
               static_cast<int>(answer.result));
    {
        ward::LockGuard lock(m_responseMutex);
        m_responseQueue.push_back(answer);
    }
    m_responseCondition.notify_one();
}

std::vector<ScanRequest> AppProtectionController::popAllFromResponseQueue()
{
    ward::UniqueLock lock(m_responseMutex);
    if (m_responseQueue.empty() && m_kextInterface.isHooking()) {
        m_responseCondition.wait_until(
            lock.native(), std::chrono::steady_clock::now() + std::chrono::seconds(m_threadPollInterval),
            [this]() WARD_REQUIRES(m_responseMutex) {
                return !m_responseQueue.empty() || !m_kextInterface.isHooking();
            });
    }
    std::vector<ScanRequest> answers(m_responseQueue.begin(), m_responseQueue.end());
    m_responseQueue.clear();
    return answers;
}

void AppProtectionController::wakeResponseQueue()
{
    ward::LockGuard lock(m_responseMutex);
    m_responseCondition.notify_all();
}

void AppProtectionController::processRequests()
{
    CTRL_TRACE(4, L"AppProtectionController::processRequests - Entry\n");
    while (m_protectionStatus != 0) {
        std::optional<ScanRequest> request = popFromRequestQueue();
        if (request)
            processRequest(*request);
    }
    CTRL_TRACE(2, L"AppProtectionController::processRequests - Protection is off. Leaving\n");
}

void AppProtectionController::processRequest(ScanRequest& request)
{
    try {
        boost::logic::tribool decision(false);
        switch (request.requestType) {
        case EXEC_ACTION:
            decision = handleAppExecutionRequest(request);
            break;
        case INCOMING_CONNECTION:
        case OUTGOING_CONNECTION:
            decision = handleNetworkAccessRequest(request);
            break;
        case MODIFY_ACTION: {
            ward::SharedLockGuard lock(m_profileLock);
            if (m_profile)
                m_profile->processFileChange(requestPath(request));
            return;
        }
        case PID_CREATION:
            m_processHelper.addProcessPid(requestPath(request), request.pid);
            return;
        case BLOCKED_INCOMING_CONNECTION:
        case BLOCKED_OUTGOING_CONNECTION: {
            // Decided as the connection it was, for the report only.
            const int32_t blocked = request.requestType;
            request.requestType =
                blocked == BLOCKED_INCOMING_CONNECTION ? INCOMING_CONNECTION : OUTGOING_CONNECTION;
            handleNetworkAccessRequest(request);
            request.requestType = blocked;
            return;
        }
        default:
            CTRL_TRACE(1, L"AppProtectionController::processRequests - Request type %d dropped\n",
                       request.requestType);
            return;
        }
        if (boost::logic::indeterminate(decision)) {
            CTRL_TRACE(2, L"AppProtectionController::processRequests - cookie %d waits for the user\n",
                       request.cookie);
            return;
        }
        request.result = decision ? 1 : 2;
        addToResponseQueue(request);
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::processRequests - Exception %d: %s\n",
                   static_cast<int>(e.getExceptionId()), e.getExceptionMsg().c_str());
    } catch (const std::exception& e) {
        CTRL_TRACE(0, L"AppProtectionController::processRequests - Exception: %s\n", e.what());
    } catch (...) {
        CTRL_TRACE(0, L"AppProtectionController::processRequests - Unknown exception\n");
    }
}

} // namespace AppProtection
