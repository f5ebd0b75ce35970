// Launch and connection decisions: the profile's answer turned into allow,
// deny or ask, with the network action the kernel extension receives.
#include <exception>

#include "AlertManager.h"
#include "AppProtectionController.h"
#include "AppRecordPayload.h"
#include "ConfigController.h"
#include "DependentGenerator.h"
#include "DetailedAppRecord.h"
#include "PathPrefix.h"
#include "TraceLevels.h"

#define CTRL_TRACE(threshold, ...) WARD_TRACE(appControlFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

namespace {

using boost::logic::indeterminate;
using boost::logic::tribool;

const char* decisionText(tribool decision)
{
    return decision ? "allow" : (!decision ? "deny" : "ask");
}

/// The network action of an unknown application or a disabled rule.
int32_t networkActionFor(tribool decision)
{
    return decision ? 1 : (!decision ? 2 : 4);
}

/// The network action of a modified application: from its rule and the
/// unknown-application preference, whatever the launch decision was.
int32_t modifiedNetworkAction(const BasicAppRecord& record)
{
    if (record.getNwAction() == BasicAppRecord::NW_ACTION_BLOCK_ALL)
        return 2;
    if (record.getNwAction() == BasicAppRecord::NW_ACTION_ALLOW_ALL &&
        ConfigController::getInstance()->getUnknownAppAction() == 1)
        return 1;
    return 4;
}

} // namespace

tribool AppProtectionController::handleUnknownAppRequest(std::string& path, BasicAppRecord&, Operation)
{
    ConfigController* config = ConfigController::getInstance();
    if (config->getAppleSignedAppsFlag() && checkAppleBinary(path)) {
        CTRL_TRACE(1, L"AppProtectionController::handleUnknownAppRequest - %s is Apple signed\n", path.c_str());
        return true;
    }
    for (const std::string& folder : config->getSpecialFolderList()) {
        if (startsWithEntry(path, folder)) {
            CTRL_TRACE(1, L"AppProtectionController::handleUnknownAppRequest - %s is in special folder %s\n",
                       path.c_str(), folder.c_str());
            return true;
        }
    }
    if (!DependentGenerator::getInstance()->isFileMachOExecutable(path)) {
        CTRL_TRACE(1, L"AppProtectionController::handleUnknownAppRequest - %s is not a Mach-O executable\n",
                   path.c_str());
        return true;
    }
    const int action = config->getUnknownAppAction();
    CTRL_TRACE(1, L"AppProtectionController::handleUnknownAppRequest - UnknownAppAction %d for %s\n", action,
               path.c_str());
    switch (action) {
    case 1:
        return true;
    case 3:
        return indeterminate;
    default:
        return false;
    }
}

tribool AppProtectionController::handleModifiedAppExecution(std::string& path, BasicAppRecord& record)
{
    if (!record.getExecAllowed())
        return false;
    return handleUnknownAppRequest(path, record, EXEC_ACTION);
}

tribool AppProtectionController::handleModifiedAppNwAccess(std::string& path, BasicAppRecord& record,
                                                           Operation operation, sockaddr_in& peer,
                                                           NWProtocol protocol)
{
    if (record.getNwAction() == BasicAppRecord::NW_ACTION_BLOCK_ALL)
        return false;
    actions action = ACTION_BLOCK;
    if (DetailedAppRecord(record).customRuleMatch(peer, operation, protocol, action) && action != ACTION_ALLOW)
        return false;
    return handleUnknownAppRequest(path, record, operation);
}

bool AppProtectionController::checkAppleBinary(std::string& path)
{
    return m_codesignAvailable && m_processHelper.isAppleSigned(path);
}

void AppProtectionController::updateNetworkActionForPid(std::string path, int pid, bool allow)
{
    m_processHelper.updateNetworkAction(path, pid, allow);
}

void AppProtectionController::reportDecision(AppProtReport& report, tribool decision)
{
    report.setAction(decision);
    m_reportManager.handleReport(report, true);
}

tribool AppProtectionController::handleAppExecutionRequest(ScanRequest& request)
{
    tribool decision(false);
    std::string path = requestPath(request);
    bool alertSent = false;
    try {
        BasicAppRecord record;
        int code = 6;
        {
            ward::SharedLockGuard lock(m_profileLock);
            if (!m_profile)
                throw AppProtException("No profile loaded", UNEXPECTED_EXCEPTION);
            code = m_profile->allowApplicationLaunch(path, record);
        }
        AppProtReport report(path, record, EXEC_ACTION, code);
        switch (code) {
        case ProfileDataController::APP_ALLOWED:
            decision = true;
            request.networkAction = record.getNwAction();
            break;
        case ProfileDataController::APP_DENIED:
            decision = false;
            break;
        case ProfileDataController::APP_MODIFIED:
            decision = handleModifiedAppExecution(path, record);
            request.networkAction = modifiedNetworkAction(record);
            break;
        case ProfileDataController::UNKNOWN_APP:
            decision = handleUnknownAppRequest(path, record, EXEC_ACTION);
            record.setAppGroup(path);
            report.setBasicAppRecord(record);
            report.setAppName(path);
            request.networkAction = networkActionFor(decision);
            break;
        case ProfileDataController::DISABLED_RULE:
            decision = handleUnknownAppRequest(path, record, EXEC_ACTION);
            request.networkAction = networkActionFor(decision);
            break;
        default:
            decision = true;
            request.networkAction = 1;
            break;
        }
        CTRL_TRACE(0, L"AppProtectionController::handleAppExecutionRequest - %s: code %d, %s, networkAction %d\n",
                   path.c_str(), code, decisionText(decision), request.networkAction);
        reportDecision(report, decision);
        if (decision) {
            m_processHelper.addProcessPid(path, request.pid);
        } else if (indeterminate(decision)) {
            // Cached first: the user's answer then updates this entry.
            m_processHelper.addProcessPid(path, request.pid);
            alertSent = true;
            AlertManager::getInstance()->sendAlert(request);
        }
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::handleAppExecutionRequest - %s: %s. Allowing\n", path.c_str(),
                   e.getExceptionMsg().c_str());
        decision = true;
    } catch (...) {
        CTRL_TRACE(0, L"AppProtectionController::handleAppExecutionRequest - %s: unknown exception. Allowing\n",
                   path.c_str());
        decision = true;
    }
    // The alert manager answers what it took; a second answer would be one
    // too many.
    return alertSent ? tribool(indeterminate) : decision;
}

tribool AppProtectionController::handleNetworkAccessRequest(ScanRequest& request)
{
    std::string name;
    try {
        name = m_processHelper.getNameFromPid(request.pid);
    } catch (const AppProtException&) {
        CTRL_TRACE(0, L"AppProtectionController::handleNetworkAccessRequest - pid %d not in cache. Allowing\n",
                   request.pid);
        request.networkAction = 1;
        return true;
    }
    for (const std::string& exclusion : ConfigController::getInstance()->getExclusionsList()) {
        if (startsWithEntry(name, exclusion)) {
            CTRL_TRACE(0, L"AppProtectionController::handleNetworkAccessRequest - %s is excluded. Allowing\n",
                       name.c_str());
            request.networkAction = 1;
            return true;
        }
    }
    tribool decision(false);
    try {
        BasicAppRecord record;
        sockaddr_in peer = request.peerAddress;
        const Operation operation = static_cast<Operation>(request.requestType);
        const NWProtocol protocol = static_cast<NWProtocol>(request.protocol);
        int code = 6;
        {
            ward::SharedLockGuard lock(m_profileLock);
            if (!m_profile)
                throw AppProtException("No profile loaded", UNEXPECTED_EXCEPTION);
            code = m_profile->allowNetworkAccess(name, peer, operation, protocol, record);
        }
        AppProtReport report(name, record, operation, code, peer, protocol);
        switch (code) {
        case ProfileDataController::APP_ALLOWED:
            decision = true;
            request.networkAction = record.getNwAction() == BasicAppRecord::NW_ACTION_ALLOW_ALL ? 1 : 4;
            break;
        case ProfileDataController::APP_DENIED:
            decision = false;
            request.networkAction = record.getNwAction() == BasicAppRecord::NW_ACTION_BLOCK_ALL ? 2 : 4;
            break;
        case ProfileDataController::APP_MODIFIED:
            decision = handleModifiedAppNwAccess(name, record, operation, peer, protocol);
            request.networkAction = modifiedNetworkAction(record);
            break;
        case ProfileDataController::UNKNOWN_APP:
            decision = handleUnknownAppRequest(name, record, operation);
            record.setAppGroup(name);
            report.setBasicAppRecord(record);
            report.setAppName(name);
            request.networkAction = networkActionFor(decision);
            break;
        case ProfileDataController::DISABLED_RULE:
            decision = handleUnknownAppRequest(name, record, operation);
            request.networkAction = networkActionFor(decision);
            break;
        default:
            decision = false;
            break;
        }
        // A connection never waits for the user: the answer the process got
        // at its launch stands in (deny when it has none).
        if (indeterminate(decision))
            decision = m_processHelper.getNetworkActionFromPid(request.pid);
        CTRL_TRACE(0,
                   L"AppProtectionController::handleNetworkAccessRequest - %s (pid %d, type %d): code %d, %s, "
                   L"networkAction %d\n",
                   name.c_str(), request.pid, request.requestType, code, decisionText(decision),
                   request.networkAction);
        reportDecision(report, decision);
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::handleNetworkAccessRequest - %s: %s. Allowing\n", name.c_str(),
                   e.getExceptionMsg().c_str());
        decision = true;
    } catch (...) {
        CTRL_TRACE(0, L"AppProtectionController::handleNetworkAccessRequest - %s: unknown exception. Allowing\n",
                   name.c_str());
        decision = true;
    }
    return decision;
}

} // namespace AppProtection
