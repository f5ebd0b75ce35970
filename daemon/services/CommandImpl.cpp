#include "CommandImpl.h"

#include <exception>
#include <functional>
#include <list>
#include <map>
#include <string>

#include <boost/archive/archive_exception.hpp>

#include "AlertManager.h"
#include "AppProtCommands.h"
#include "AppProtectionController.h"
#include "AppRecordPayload.h"
#include "ConfigController.h"
#include "LibXmlWrapper.h"
#include "Preferences.h"
#include "ReportRecords.h"
#include "ServiceText.h"
#include "TraceLevels.h"

#define CMD_TRACE(threshold, ...) WARD_TRACE(appCmdFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

namespace {

constexpr char kVersionFilePath[] = "/usr/local/Vantrel/hvo/config/AppProtection/HVKConfig.xml";
/// The about box's texts were formatted into 100 wide characters.
constexpr size_t kAboutTextLimit = 99;

HVO::HVOCommBroker& broker()
{
    HVO::HVOCommBroker* b = HVO::HVOCommBroker::getInstance(kHvoSocketPath);
    if (b == nullptr)
        throw HVO::HVOException("No command broker");
    return *b;
}

/// Reads the request's payload; a request whose payload the broker could
/// not read (or that has none) throws.
template <class T> void readPayload(HVO::CommandData& command, T& value)
{
    if (!HVO::PayloadAccess::hasInput(command))
        throw AppProtException("The request's payload cannot be read", UNEXPECTED_EXCEPTION);
    command.getCustomData(value);
}

/// The reply: the request's header, both flags true, `payload` inside.
template <class T> void sendReply(HVO::CommandData& command, T& payload)
{
    HVO::CommandResult result;
    result.setBasicCommandData(command);
    result.setCommandCompleted(true);
    result.setCommandStatus(true);
    result.setCustomData(payload);
    broker().sendCommandResponse(result);
    CMD_TRACE(1, L"CommandImpl::handleCommand - Replied to command %d\n", command.getCommandId());
}

std::wstring aboutText(std::wstring text)
{
    if (text.size() > kAboutTextLimit)
        text.resize(kAboutTextLimit);
    return text;
}

/// Runs `edit` on each record of the request, in order; the reply holds
/// one code per record.
void editRules(HVO::CommandData& command, const std::function<AppProtError(BasicAppRecord&)>& edit)
{
    std::vector<BasicAppRecord> records;
    readPayload(command, records);
    std::vector<AppProtError> results;
    results.reserve(records.size());
    for (BasicAppRecord& record : records)
        results.push_back(edit(record));
    sendReply(command, results);
}

/// The store's code; a list of narrow texts in the request.
void setList(HVO::CommandData& command, const std::function<int(std::vector<std::string>&)>& store)
{
    std::vector<std::string> list;
    readPayload(command, list);
    AppProtError result = static_cast<AppProtError>(store(list));
    sendReply(command, result);
}

} // namespace

CommandImpl::CommandImpl()
{
    CMD_TRACE(4, L"CommandImpl::CommandImpl - Constructed\n");
}

CommandImpl::~CommandImpl()
{
    CMD_TRACE(4, L"CommandImpl::~CommandImpl - Destroyed\n");
}

bool CommandImpl::handleCommand(HVO::CommandData& command)
{
    const int id = command.getCommandId();
    CMD_TRACE(2, L"CommandImpl::handleCommand - Received command %d\n", id);
    try {
        switch (id) {
        case CMD_DASH_BOARD_REQUEST:
            handleDashBoard(command);
            break;
        case CMD_ABOUT_BOX_REQUEST:
            handleAboutBox(command);
            break;
        case APP_PROT_ADD_RULES:
            handleRuleAddition(command);
            break;
        case APP_PROT_DELETE_RULE:
            handleRuleDeletion(command);
            break;
        case APP_PROT_MODIFY_RULE:
            handleRuleModification(command);
            break;
        case APP_PROT_GET_RULES:
            handleGetRules(command, true);
            break;
        case APP_PROT_GET_PREFS:
            handleGetPrefs(command);
            break;
        case APP_PROT_SET_PREFS:
            handleSetPrefs(command);
            break;
        case APP_PROT_GET_EXCLUSIONS:
            handleGetExclusions(command);
            break;
        case APP_PROT_SET_EXCLUSIONS:
            handleSetExclusions(command);
            break;
        case APP_PROT_ALL_GET_RULES:
            handleGetRules(command, false);
            break;
        case APP_PROT_GET_SPECIAL_FOLDERS:
            handleGetSpecialFolders(command);
            break;
        case APP_PROT_SET_SPECIAL_FOLDERS:
            handleSetSpecialFolders(command);
            break;
        default:
            // 1010 and ids the daemon does not serve get no reply.
            CMD_TRACE(0, L"CommandImpl::handleCommand - Command %d not served\n", id);
            break;
        }
    } catch (const AppProtException& e) {
        CMD_TRACE(0, L"CommandImpl::handleCommand - Command %d failed: %s\n", id, e.getExceptionMsg().c_str());
        sendFailureReply(command);
    } catch (const std::exception& e) {
        CMD_TRACE(0, L"CommandImpl::handleCommand - Command %d failed: %s\n", id, e.what());
        sendFailureReply(command);
    } catch (...) {
        CMD_TRACE(0, L"CommandImpl::handleCommand - Command %d failed: unknown exception\n", id);
        sendFailureReply(command);
    }
    return true;
}

void CommandImpl::sendFailureReply(HVO::CommandData& command)
{
    try {
        HVO::CommandResult result;
        result.setBasicCommandData(command);
        result.setCommandCompleted(false);
        result.setCommandStatus(false);
        broker().sendCommandResponse(result);
    } catch (const std::exception& e) {
        CMD_TRACE(0, L"CommandImpl::handleCommand - Failure reply to command %d not sent: %s\n",
                  command.getCommandId(), e.what());
    } catch (...) {
        CMD_TRACE(0, L"CommandImpl::handleCommand - Failure reply to command %d not sent\n", command.getCommandId());
    }
}

void CommandImpl::handleDashBoard(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleDashBoard - Received\n");
    AppProtectionController* controller = AppProtectionController::getInstance();
    DashBoardDispalyContents contents;
    if (!controller->getEnableAppProtection()) {
        contents.setDisplayString(L"DISABLED_STRING");
        contents.setStatus(DASHBOARD_DISABLED);
    } else if (controller->getProtectionStatus() != 0) {
        contents.setDisplayString(L"ENABLED_STRING");
        contents.setStatus(DASHBOARD_ENABLED);
    } else {
        contents.setDisplayString(L"RISK_STRING");
        contents.setStatus(DASHBOARD_RISK);
    }
    std::map<std::wstring, DashBoardDispalyContents> entries;
    entries[L"APPLICATION_PROTECTION_STATUS_KEY"] = contents;
    DashBoardData data;
    data.setHvkId(APP_PROTECTION_HVK_ID);
    data.setDashBoardDispalyData(entries);
    sendReply(command, data);
}

void CommandImpl::handleAboutBox(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleAboutBox - Received\n");
    LibXmlWrapper xml{std::string(kVersionFilePath)};
    std::map<std::wstring, std::wstring> texts;
    std::string build, version, patch;
    try {
        build = xml.getXPathStringValue("/HVKConfiguration/BuildNumber");
        version = xml.getXPathStringValue("/HVKConfiguration/HVKVersion");
        patch = xml.getXPathStringValue("/HVKConfiguration/PatchVersion");
    } catch (const std::exception& e) {
        CMD_TRACE(0, L"CommandImpl::handleAboutBox - Exception: %s\n", e.what());
    }
    std::wstring versionText = wideText(version);
    if (!patch.empty())
        versionText += L" " + wideText(patch);
    versionText += L" (" + wideText(build) + L")";
    texts[L"Application_Protection_Version"] = aboutText(versionText);
    const std::pair<const char*, const wchar_t*> optional[] = {
        {"/HVKConfiguration/ServicePack", L"Application_Protection_SPVersion"},
        {"/HVKConfiguration/Hotfixes", L"Application_Protection_HF"},
    };
    for (const auto& entry : optional) {
        try {
            const std::string text = xml.getXPathStringValue(entry.first);
            if (text != " ")
                texts[entry.second] = aboutText(wideText(text));
        } catch (const std::exception& e) {
            CMD_TRACE(0, L"CommandImpl::handleAboutBox - Exception: %s\n", e.what());
        }
    }
    AboutBoxData data;
    data.setHvkId(APP_PROTECTION_HVK_ID);
    data.setAboutBoxDisplayContents(texts);
    sendReply(command, data);
}

void CommandImpl::handleRuleAddition(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleRuleAddition - Received\n");
    AppProtectionController* controller = AppProtectionController::getInstance();
    editRules(command, [controller](BasicAppRecord& r) { return controller->addProfileRule(r); });
}

void CommandImpl::handleRuleDeletion(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleRuleDeletion - Received\n");
    AppProtectionController* controller = AppProtectionController::getInstance();
    editRules(command, [controller](BasicAppRecord& r) { return controller->deleteProfileRule(r); });
}

void CommandImpl::handleRuleModification(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleRuleModification - Received\n");
    AppProtectionController* controller = AppProtectionController::getInstance();
    editRules(command, [controller](BasicAppRecord& r) { return controller->updateProfileRule(r); });
}

void CommandImpl::handleGetRules(HVO::CommandData& command, bool perGroup)
{
    CMD_TRACE(0, L"CommandImpl::handleGetRules - Received (%s)\n", perGroup ? "per group" : "all");
    std::list<BasicAppRecord> rules = AppProtectionController::getInstance()->getAllProfileRules(perGroup);
    sendReply(command, rules);
}

void CommandImpl::handleGetPrefs(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleGetPrefs - Received\n");
    ConfigController* config = ConfigController::getInstance();
    AppProtPrefsData prefs;
    prefs.setAllowAppleSignedBinaries(config->getAppleSignedAppsFlag());
    prefs.setPromptTimeout(config->getPromptTimeout());
    prefs.setUnknownAppAction(config->getUnknownAppAction());
    prefs.setEnableAppProtection(config->getEnableAppProtection());
    prefs.setCustomNetworkAction(config->getCustomNwFallbackOption() == 1);
    sendReply(command, prefs);
}

AppProtError CommandImpl::mergeSetPrefsResults(const std::vector<AppProtError>& results)
{
    AppProtError merged = SUCCESS;
    for (AppProtError code : results) {
        if (code == UNEXPECTED_EXCEPTION)
            return UNEXPECTED_EXCEPTION;
        if (code == PREFERENCES_STORE_FAILED)
            merged = PREFERENCES_STORE_FAILED;
        else if (code != SUCCESS && merged != PREFERENCES_STORE_FAILED)
            merged = code;
    }
    return merged;
}

void CommandImpl::handleSetPrefs(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleSetPrefs - Received\n");
    AppProtPrefsData prefs;
    readPayload(command, prefs);
    ConfigController* config = ConfigController::getInstance();
    std::vector<AppProtError> results;
    results.push_back(static_cast<AppProtError>(config->setAppleSignedAppsFlag(prefs.getAllowAppleSignedBinaries())));
    results.push_back(static_cast<AppProtError>(config->setPromptTimeout(prefs.getPromptTimeout())));
    results.push_back(static_cast<AppProtError>(config->setUnknownAppAction(prefs.getUnknownAppAction())));
    AppProtError enabled = SUCCESS;
    try {
        enabled = static_cast<AppProtError>(config->setEnableAppProtection(prefs.getEnableAppProtection()));
    } catch (const AppProtException& e) {
        CMD_TRACE(0, L"CommandImpl::handleSetPrefs - %s\n", e.getExceptionMsg().c_str());
        enabled = e.getExceptionId();
    } catch (const PreferencesException& e) {
        CMD_TRACE(0, L"CommandImpl::handleSetPrefs - %s\n", e.what());
        enabled = PREFERENCES_STORE_FAILED;
    } catch (const std::exception& e) {
        CMD_TRACE(0, L"CommandImpl::handleSetPrefs - %s\n", e.what());
        enabled = UNEXPECTED_EXCEPTION;
    } catch (...) {
        CMD_TRACE(0, L"CommandImpl::handleSetPrefs - Unknown exception\n");
        enabled = UNEXPECTED_EXCEPTION;
    }
    results.push_back(enabled);
    // A false flag writes 0: the pane carries back what it read.
    results.push_back(static_cast<AppProtError>(config->setCustomNwFallbackOption(prefs.getCustomNetworkAction() ? 1 : 0)));
    AppProtError merged = mergeSetPrefsResults(results);
    sendReply(command, merged);
}

void CommandImpl::handleGetExclusions(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleGetExclusions - Received\n");
    std::vector<std::string> list = ConfigController::getInstance()->getExclusionsList();
    sendReply(command, list);
}

void CommandImpl::handleSetExclusions(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleSetExclusions - Received\n");
    setList(command, [](std::vector<std::string>& list) {
        const int result = ConfigController::getInstance()->setExclusionsList(list);
        if (result == SUCCESS) {
            // The list is stored whatever the kernel does with it: the reply
            // is the store's.
            try {
                AppProtectionController::getInstance()->pushExclusions();
            } catch (const AppProtException& e) {
                CMD_TRACE(0, L"CommandImpl::handleSetExclusions - Push failed: %s\n", e.getExceptionMsg().c_str());
            } catch (const std::exception& e) {
                CMD_TRACE(0, L"CommandImpl::handleSetExclusions - Push failed: %s\n", e.what());
            }
        }
        return result;
    });
}

void CommandImpl::handleGetSpecialFolders(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleGetSpecialFolders - Received\n");
    std::vector<std::string> list = ConfigController::getInstance()->getSpecialFolderList();
    sendReply(command, list);
}

void CommandImpl::handleSetSpecialFolders(HVO::CommandData& command)
{
    CMD_TRACE(0, L"CommandImpl::handleSetSpecialFolders - Received\n");
    setList(command, [](std::vector<std::string>& list) {
        return ConfigController::getInstance()->setSpecialFolderList(list);
    });
}

void CommandImpl::handleCommandResponse(HVO::CommandResult& result)
{
    const int id = result.getBasicCommandData().getCommandId();
    const bool completed = result.getCommandCompleted();
    const bool status = result.getCommandStatus();
    switch (id) {
    case CMD_APP_PROT_NOTIFICATION:
        CMD_TRACE(0, L"CommandImpl::handleCommandResponse - Reply to a notification: completed %s, status %s\n",
                  completed ? "true" : "false", status ? "true" : "false");
        return;
    case CMD_APP_PROT_ALERT:
        break;
    default:
        CMD_TRACE(0, L"CommandImpl::handleCommandResponse - Reply to command %d\n", id);
        return;
    }
    if (!completed || !status) {
        CMD_TRACE(0, L"CommandImpl::handleCommandResponse - Alert reply: completed %s, status %s. Denying every "
                     L"pending alert\n",
                  completed ? "true" : "false", status ? "true" : "false");
        AlertManager::getInstance()->clearAllAlerts(false);
        return;
    }
    AppProtAlert answer;
    try {
        if (!HVO::PayloadAccess::hasInput(result))
            throw AppProtException("The alert reply has no readable payload", UNEXPECTED_EXCEPTION);
        ReporterData reporter;
        result.getCustomData(reporter);
        reporter.getAlertCustomData(answer);
    } catch (const AppProtException& e) {
        CMD_TRACE(0, L"CommandImpl::handleCommandResponse - %s. Denying every pending alert\n",
                  e.getExceptionMsg().c_str());
        AlertManager::getInstance()->clearAllAlerts(false);
        return;
    } catch (const std::exception& e) {
        // Its cookie is unknown: counted as a failed answer.
        CMD_TRACE(0, L"CommandImpl::handleCommandResponse - Unreadable alert reply: %s. Denying every pending "
                     L"alert\n",
                  e.what());
        AlertManager::getInstance()->clearAllAlerts(false);
        return;
    }
    AlertManager::getInstance()->processAlertResponse(answer);
}

} // namespace AppProtection
