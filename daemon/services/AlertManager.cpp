#include "AlertManager.h"

#include <exception>

#include <boost/archive/archive_exception.hpp>

#include "AppProtCommands.h"
#include "AppProtectionController.h"
#include "ConfigController.h"
#include "HVOCommBroker.h"
#include "ReportManager.h"
#include "ReportRecords.h"
#include "TraceLevels.h"

#define ALERT_TRACE(threshold, ...) WARD_TRACE(alertMgrFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

namespace {

const char* tristateText(boost::logic::tribool value)
{
    return value ? "true" : (!value ? "false" : "indeterminate");
}

/// For the kernel writer thread; nowhere to go without a controller.
void queueAnswer(ScanRequest& answer)
{
    if (AppProtectionController* controller = AppProtectionController::getExistingInstance())
        controller->addToResponseQueue(answer);
}

/// One alert or notification to module 102, without waiting: an answer
/// comes to CommandImpl::handleCommandResponse.
void sendReporterCommand(int commandId, int alertType, AppProtAlert& alert)
{
    HVO::HVOCommBroker* broker = HVO::HVOCommBroker::getInstance(kHvoSocketPath);
    if (broker == nullptr)
        throw HVO::HVOException("No command broker");
    ReporterData reporter;
    reporter.setAlertCustomData(alert);
    reporter.setHvkId(APP_PROTECTION_HVK_ID);
    reporter.setAlertType(alertType);
    HVO::CommandData command(commandId, REPORTER_HVK_ID, false);
    command.setCustomData(reporter);
    broker->sendCommand(command, nullptr, false, 45);
}

} // namespace

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
    for (ScanRequest& request : m_pendingAlerts) {
        request.result = 1;
        queueAnswer(request);
    }
    m_pendingAlerts.clear();
}

void AlertManager::sendAlert(ScanRequest& request)
{
    ALERT_TRACE(0, L"AlertManager::sendAlert - %s\n", requestPath(request).c_str());
    std::lock_guard<std::mutex> lock(m_alertMutex);
    // Held across the send: the broker never waits there, and the answer,
    // which may come on another thread at once, finds the entry.
    std::list<ScanRequest>::iterator entry = m_pendingAlerts.end();
    try {
        entry = m_pendingAlerts.insert(m_pendingAlerts.end(), request);
        sendAlertCommand(request);
        return;
    } catch (const boost::archive::archive_exception& e) {
        ALERT_TRACE(0, L"AlertManager::sendAlert - Archive exception: %s\n", e.what());
    } catch (const HVO::HVOException& e) {
        ALERT_TRACE(0, L"AlertManager::sendAlert - HVOException: %s\n", e.what());
    } catch (const std::exception& e) {
        ALERT_TRACE(0, L"AlertManager::sendAlert - Exception: %s\n", e.what());
    } catch (...) {
        ALERT_TRACE(0, L"AlertManager::sendAlert - Unknown exception\n");
    }
    // No answer comes for an alert that did not go out: deny now, keeping
    // the network action the decision gave.
    ScanRequest answer = request;
    if (entry != m_pendingAlerts.end()) {
        answer = *entry;
        m_pendingAlerts.erase(entry);
    }
    answer.result = 2;
    ALERT_TRACE(0, L"AlertManager::sendAlert - cookie %d denied: no alert sent\n", answer.cookie);
    queueAnswer(answer);
}

void AlertManager::sendAlertCommand(const ScanRequest& request)
{
    AppProtAlert alert(requestPath(request), static_cast<Operation>(request.requestType), request.peerAddress,
                       static_cast<NWProtocol>(request.protocol));
    alert.setTimeout(ConfigController::getInstance()->getPromptTimeout());
    alert.setCookie(request.cookie);
    sendReporterCommand(CMD_APP_PROT_ALERT, ALERT_TYPE_ALERT, alert);
}

void AlertManager::processAlertResponse(AppProtAlert& answer)
{
    ALERT_TRACE(0, L"AlertManager::processAlertResponse - %s cookie %d action %s allowNetwork %s always %s\n",
                answer.getAppName().c_str(), answer.getCookie(), tristateText(answer.getAction()),
                answer.getAllowNetwork() ? "true" : "false", answer.getAlways() ? "true" : "false");
    std::lock_guard<std::mutex> lock(m_alertMutex);
    auto it = m_pendingAlerts.begin();
    while (it != m_pendingAlerts.end() && it->cookie != answer.getCookie())
        ++it;
    if (it == m_pendingAlerts.end()) {
        ALERT_TRACE(0, L"AlertManager::processAlertResponse - No pending alert with cookie %d\n", answer.getCookie());
        return;
    }
    ScanRequest request = *it;
    m_pendingAlerts.erase(it);
    bool queued = false;
    try {
        applyAnswerLocked(request, answer, queued);
        return;
    } catch (const AppProtException& e) {
        ALERT_TRACE(0, L"AlertManager::processAlertResponse - Exception: %s\n", e.getExceptionMsg().c_str());
    } catch (const std::exception& e) {
        ALERT_TRACE(0, L"AlertManager::processAlertResponse - Exception: %s\n", e.what());
    } catch (...) {
        ALERT_TRACE(0, L"AlertManager::processAlertResponse - Unknown exception\n");
    }
    // The request is off the list: it is answered here or never.
    if (!queued) {
        request.result = 2;
        queueAnswer(request);
    }
}

void AlertManager::applyAnswerLocked(ScanRequest& request, AppProtAlert& answer, bool& queued)
{
    const std::string path = requestPath(request);
    const boost::logic::tribool action = answer.getAction();
    if (action) {
        request.result = 1;
    } else {
        request.result = 2;
        BasicAppRecord record;
        record.setAppGroup(path);
        AppProtReport report(path, record, EXEC_ACTION, ProfileDataController::UNKNOWN_APP);
        report.setAction(false);
        // The user chose it: no notification.
        ReportManager().handleReport(report, false);
    }
    request.networkAction = answer.getAllowNetwork() ? 1 : 2;
    AppProtectionController* controller = AppProtectionController::getExistingInstance();
    // The pid's network choice is cached before the kernel lets the program run,
    // so its first connection is decided by it.
    if (controller != nullptr && !answer.getAlways())
        controller->updateNetworkActionForPid(path, request.pid, answer.getAllowNetwork());
    queueAnswer(request);
    queued = true;
    if (controller == nullptr || !answer.getAlways())
        return;
    BasicAppRecord rule;
    rule.setAppGroup(path);
    rule.setAppPath(path);
    rule.setExecAllowed(action ? true : false);
    rule.setNwAction(answer.getAllowNetwork() ? BasicAppRecord::NW_ACTION_ALLOW_ALL
                                              : BasicAppRecord::NW_ACTION_BLOCK_ALL);
    rule.setEnabled(true);
    const AppProtError added = controller->addProfileRule(rule);
    ALERT_TRACE(2, L"AlertManager::processAlertResponse - addProfileRule %s: %d\n", path.c_str(),
                static_cast<int>(added));
    if (added == CONFLICTING_ENTRY || added == DUPLICATE_ENTRY) {
        const AppProtError split = controller->breakdownAppGroupofApp(rule.getAppGroup());
        const AppProtError updated = controller->updateProfileRule(rule);
        ALERT_TRACE(2, L"AlertManager::processAlertResponse - breakdownAppGroupofApp %d, updateProfileRule %d\n",
                    static_cast<int>(split), static_cast<int>(updated));
    }
}

void AlertManager::sendNotification(AppProtReport& report)
{
    ALERT_TRACE(0, L"AlertManager::sendNotification - %s\n", report.getAppName().c_str());
    AppProtAlert alert(report.getAppName(), report.getOperation(), report.getSockAddr(), report.getNWProtocol());
    alert.setAction(report.getAction());
    try {
        sendReporterCommand(CMD_APP_PROT_NOTIFICATION, ALERT_TYPE_NOTIFICATION, alert);
        ALERT_TRACE(0, L"AlertManager::sendNotification - Sent\n");
    } catch (const boost::archive::archive_exception& e) {
        ALERT_TRACE(0, L"AlertManager::sendNotification - Archive exception: %s\n", e.what());
    } catch (const HVO::HVOException& e) {
        ALERT_TRACE(0, L"AlertManager::sendNotification - HVOException: %s\n", e.what());
    } catch (const std::exception& e) {
        ALERT_TRACE(0, L"AlertManager::sendNotification - Exception: %s\n", e.what());
    } catch (...) {
        ALERT_TRACE(0, L"AlertManager::sendNotification - Unknown exception\n");
    }
}

void AlertManager::clearAllAlerts(bool allow)
{
    ALERT_TRACE(0, L"AlertManager::clearAllAlerts - %s\n", allow ? "allow" : "deny");
    std::lock_guard<std::mutex> lock(m_alertMutex);
    for (ScanRequest& request : m_pendingAlerts) {
        request.result = allow ? 1 : 2;
        queueAnswer(request);
    }
    m_pendingAlerts.clear();
    ALERT_TRACE(0, L"AlertManager::clearAllAlerts - Cleared\n");
}

} // namespace AppProtection
