#include "ServicesDouble.h"

#include <cstdarg>
#include <cstdio>
#include <list>
#include <mutex>
#include <stdexcept>

#include "AlertManager.h"
#include "AppHVOAgentWrapper.h"
#include "AppHVOLogWrapper.h"
#include "AppProtectionController.h"
#include "CommandImpl.h"
#include "HealthCheckImpl.h"
#include "ReportManager.h"

namespace servicesdouble {

namespace {

std::mutex g_mutex;
Calls g_calls;                  // guarded by g_mutex
std::list<ScanRequest> g_pending; // guarded by g_mutex
bool g_failAgentWrapper = false; // guarded by g_mutex

void queue(ScanRequest& request)
{
    if (AppProtection::AppProtectionController* c = AppProtection::AppProtectionController::getExistingInstance())
        c->addToResponseQueue(request);
}

} // namespace

Calls calls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls;
}

void reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls = Calls();
    g_pending.clear();
    g_failAgentWrapper = false;
}

std::vector<ScanRequest> pending()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::vector<ScanRequest>(g_pending.begin(), g_pending.end());
}

bool answerPending(int cookie, bool allow)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_pending.begin(); it != g_pending.end(); ++it) {
        if (it->cookie == cookie) {
            ScanRequest answer = *it;
            g_pending.erase(it);
            answer.result = allow ? 1 : 2;
            queue(answer);
            return true;
        }
    }
    return false;
}

void failNextAgentWrapper()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_failAgentWrapper = true;
}

} // namespace servicesdouble

namespace AppProtection {

using namespace servicesdouble;

std::atomic<AlertManager*> AlertManager::m_pSelf{nullptr};
std::mutex AlertManager::m_instanceMutex;

AlertManager* AlertManager::getInstance()
{
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    if (m_pSelf == nullptr)
        m_pSelf = new AlertManager();
    return m_pSelf;
}

void AlertManager::releaseInstance()
{
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    delete m_pSelf.exchange(nullptr);
}

AlertManager::AlertManager() = default;
AlertManager::~AlertManager() = default;

void AlertManager::sendAlert(ScanRequest& request)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.alerts.push_back(request);
    g_pending.push_back(request);
}

void AlertManager::clearAllAlerts(bool allow)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clears.push_back(allow);
    for (ScanRequest& request : g_pending) {
        request.result = allow ? 1 : 2;
        queue(request);
    }
    g_pending.clear();
}

ReportManager::ReportManager() = default;
ReportManager::~ReportManager() = default;

void ReportManager::handleReport(AppProtReport& report, bool notify)
{
    Report r;
    r.appName = report.getAppName();
    r.operation = report.getOperation();
    const boost::logic::tribool action = report.getAction();
    r.action = action ? 1 : (!action ? 2 : 3);
    r.searchReturnValue = report.getSearchReturnValue();
    r.group = report.getBasicAppRecord().getAppGroup();
    r.notify = notify;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.reports.push_back(r);
}

void AppHVOLogWrapper::sendLogMessage(HVO::typeOfLog_enum type, HVO::hvk_logLevel_enum level, const char* format, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.logs.push_back(LogLine{type, level, text});
}

AppHVOAgentWrapper::AppHVOAgentWrapper()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_failAgentWrapper) {
        g_failAgentWrapper = false;
        throw std::runtime_error("agent library failed");
    }
    ++g_calls.agentWrappers;
}

AppHVOAgentWrapper::~AppHVOAgentWrapper()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_calls.agentWrappersReleased;
}

void AppHVOAgentWrapper::reloadMAPlugins()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_calls.reloads;
}

void AppHVOAgentWrapper::unloadMAPlugins()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_calls.unloads;
}

CommandImpl::CommandImpl() = default;
CommandImpl::~CommandImpl() = default;
bool CommandImpl::handleCommand(HVO::CommandData&)
{
    return false;
}
void CommandImpl::handleCommandResponse(HVO::CommandResult&) {}

HealthCheckImpl::HealthCheckImpl() = default;
HealthCheckImpl::~HealthCheckImpl() = default;
bool HealthCheckImpl::handleHealthCheck()
{
    AppProtectionController::getInstance()->persistProfile();
    return true;
}

} // namespace AppProtection
