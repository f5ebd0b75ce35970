#include "ReportManager.h"

#include <cwchar>
#include <exception>
#include <vector>

#include "AlertManager.h"
#include "AppHVOLogWrapper.h"
#include "HVOCommBroker.h"
#include "StatsManager.h"
#include "ServiceText.h"
#include "TraceLevels.h"

#define REPORT_TRACE(threshold, ...) WARD_TRACE(reportMgrFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

namespace {

using boost::logic::indeterminate;
using boost::logic::tribool;

bool isNetworkOperation(Operation operation)
{
    return operation == INCOMING_CONNECTION || operation == OUTGOING_CONNECTION;
}

/// The address text split at ":" with empty pieces dropped.
std::vector<std::string> addressPieces(const std::string& text)
{
    std::vector<std::string> pieces;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(':', begin);
        if (end == std::string::npos)
            end = text.size();
        if (end > begin)
            pieces.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return pieces;
}

} // namespace

ReportManager::ReportManager() = default;
ReportManager::~ReportManager() = default;

std::string ReportManager::reportLine(AppProtReport& report, int& level)
{
    const tribool action = report.getAction();
    const std::string name = report.getAppName();
    const std::string group = report.getBasicAppRecord().getAppGroup();
    std::string line;
    if (action) {
        line = "Granted permission to " + name + " for ";
        level = HVO::HVK_LOG_LEVEL_4;
    } else if (!action) {
        line = "Denied " + name + " from";
        level = HVO::HVK_LOG_LEVEL_3;
    } else {
        line = "Prompted user to grant " + name + " permission for ";
        level = HVO::HVK_LOG_LEVEL_3;
    }
    switch (report.getOperation()) {
    case INCOMING_CONNECTION:
        line += " accepting a " + report.getNWProtocolString() + " connection from " + report.getIPDetailsString() +
                " because ";
        break;
    case OUTGOING_CONNECTION:
        line += " creating a " + report.getNWProtocolString() + " connection to " + report.getIPDetailsString() +
                " because ";
        break;
    case EXEC_ACTION:
        line += " executing because ";
        break;
    case MODIFY_ACTION:
    case INCOMING_OUTGOING_CONNECTION:
    case PID_CREATION:
    case BLOCKED_INCOMING_CONNECTION:
    case BLOCKED_OUTGOING_CONNECTION:
        break;
    }
    switch (report.getSearchReturnValue()) {
    case 1:
    case 2:
        line += " of profile rule match with " + group;
        break;
    case 3:
        line += " it matched with profile rule for " + group +
                " . But the app has been modified after the rule was created";
        break;
    case 4:
        if (action)
            line += " of other preference settings";
        else if (!action)
            line += " unknown applications are blocked as per the settings";
        else
            line += " user needs to be prompted for unknown applications, as per the settings";
        break;
    case 5:
        line += " it matched with profile rule for " + group + " . But the rule is disabled.";
        break;
    default:
        break;
    }
    return line;
}

void ReportManager::handleReport(AppProtReport& report, bool notify)
{
    try {
        int level = HVO::HVK_LOG_LEVEL_3;
        const std::string line = reportLine(report, level);
        REPORT_TRACE(0, L"ReportManager::handleReport - %s (level %d)\n", line.c_str(), level);
        const tribool action = report.getAction();
        if (action)
            return;
        // A prompt is logged too, as the activity log shows every question
        // put to the user; only a denial produces events.
        AppHVOLogWrapper::sendLogMessage(HVO::LOG_TYPE_ACTIVITY, static_cast<HVO::hvk_logLevel_enum>(level), "%s",
                                         line.c_str());
        if (indeterminate(action))
            return;
        const Operation operation = report.getOperation();
        const std::string group = report.getBasicAppRecord().getAppGroup();
        bool first = false;
        if (operation == EXEC_ACTION)
            first = StatsManager::getInstance()->sendExecBlockNotification(group);
        else if (isNetworkOperation(operation))
            first = StatsManager::getInstance()->sendNetworkBlockNotification(group);
        if (!first)
            return;
        ReportData data;
        DetailReportData historyDetail;
        constructHistoryEvent(report, data, historyDetail);
        AppHVOLogWrapper::sendHistoryEvents(data, historyDetail);
        DetailReportData recentDetail;
        constructRecentEvent(report, recentDetail);
        AppHVOLogWrapper::sendRecentEvents(recentDetail);
        DetailReportData zuvDetail;
        constructZuvEvent(report, data, zuvDetail);
        AppHVOLogWrapper::sendZuvEvents(data, zuvDetail);
        if (notify)
            AlertManager::getInstance()->sendNotification(report);
    } catch (const std::exception& e) {
        REPORT_TRACE(0, L"ReportManager::handleReport - Exception: %s\n", e.what());
    } catch (...) {
        REPORT_TRACE(0, L"ReportManager::handleReport - Unknown exception\n");
    }
}

void ReportManager::constructHistoryEvent(AppProtReport& report, ReportData& data, DetailReportData& detail)
{
    REPORT_TRACE(0, L"ReportManager::constructHistoryEvent - %s\n", report.getAppName().c_str());
    const BasicAppRecord record = report.getBasicAppRecord();
    const std::wstring group = wideText(record.getAppGroup());
    std::map<std::wstring, std::wstring> header;
    std::multimap<std::wstring, std::wstring> rows;
    const Operation operation = report.getOperation();
    if (operation == EXEC_ACTION) {
        data.setName(L"HE_ApplicationName");
        data.setKind(L"HE_ApplicationAccess");
        detail.setTitle(L"HE_ApplicationAccess");
        header[L"HE_ApplicationPath"] = group;
        if (record.getAppModified()) {
            for (const std::string& dependency : record.getChangedDeps()) {
                std::wstring key;
                if (!utf8ToWide(dependency, key)) {
                    REPORT_TRACE(0, L"ReportManager::constructHistoryEvent - Skipping %s: not UTF-8\n",
                                 dependency.c_str());
                    continue;
                }
                rows.emplace(key, L"Changed");
            }
        }
    } else if (isNetworkOperation(operation)) {
        data.setName(L"HE_NetworkName");
        data.setKind(L"HE_NetworkAccess");
        detail.setTitle(L"HE_NetworkAccess");
        header[L"HE_NetworkOperationAttempted"] = operation == INCOMING_CONNECTION
                                                      ? L"HE_NetworkOperationAttemptedIncomingConnection"
                                                      : L"HE_NetworkOperationAttemptedOutgoingConnection";
        header[L"HE_NetworkPath"] = group;
        header[L"HE_NetworkProtocol"] = wideText(report.getNWProtocolString());
        header[L"HE_NetworkIPPort"] = wideText(report.getIPDetailsString());
    }
    detail.setHeader(header);
    detail.setDetail(rows);
    data.setHvkId(APP_PROTECTION_HVK_ID);
    detail.setHvkId(APP_PROTECTION_HVK_ID);
}

void ReportManager::constructRecentEvent(AppProtReport& report, DetailReportData& detail)
{
    REPORT_TRACE(2, L"ReportManager::constructRecentEvent - %s\n", report.getAppName().c_str());
    try {
        detail.setHvkId(APP_PROTECTION_HVK_ID);
        const std::wstring group = wideText(report.getBasicAppRecord().getAppGroup());
        std::map<std::wstring, std::wstring> header;
        const Operation operation = report.getOperation();
        if (operation == EXEC_ACTION) {
            detail.setTitle(L"RE_ApplicationAccess");
            header[L"RE_ApplicationAccessStatus"] = L"RE_BlockApplicationAccess";
            header[L"RE_ApplicationPath"] = group;
        } else if (isNetworkOperation(operation)) {
            detail.setTitle(L"RE_NetworkAccess");
            header[L"RE_NetworkAccessStatus"] = L"RE_BlockNetworkAccessStatus";
            header[L"RE_NetworkPath"] = group;
        }
        detail.setHeader(header);
    } catch (const HVO::HVOException& e) {
        REPORT_TRACE(0, L"ReportManager::constructRecentEvent - HVOException: %s\n", e.what());
    } catch (const std::exception& e) {
        REPORT_TRACE(0, L"ReportManager::constructRecentEvent - Exception: %s\n", e.what());
    } catch (...) {
        REPORT_TRACE(0, L"ReportManager::constructRecentEvent - Unknown exception\n");
    }
}

void ReportManager::constructZuvEvent(AppProtReport& report, ReportData& data, DetailReportData& detail)
{
    REPORT_TRACE(0, L"ReportManager::constructZuvEvent - %s\n", report.getAppName().c_str());
    data.setHvkId(APP_PROTECTION_HVK_ID);
    detail.setHvkId(APP_PROTECTION_HVK_ID);
    const Operation operation = report.getOperation();
    if (operation != EXEC_ACTION && !isNetworkOperation(operation))
        return;
    const std::string group = report.getBasicAppRecord().getAppGroup();
    std::map<std::wstring, std::wstring> header;
    header[L"ZUV_EVENT_KIND"] = L"EventData";
    header[L"ZUV_EVENT_SEVERITY"] = L"1";
    header[L"ZUV_EVENT_ID"] = operation == EXEC_ACTION ? L"20601" : L"20602";
    std::multimap<std::wstring, std::wstring> rows;
    insertRowInZuvEvent(rows, 1, L"ApplicationPath", group);
    insertRowInZuvEvent(rows, 2, L"ActionTaken", "Blocked");
    if (isNetworkOperation(operation)) {
        const std::vector<std::string> pieces = addressPieces(report.getIPDetailsString());
        insertRowInZuvEvent(rows, 3, L"Protocol", report.getNWProtocolString());
        insertRowInZuvEvent(rows, 4, L"IP", pieces.size() > 0 ? pieces[0] : std::string());
        insertRowInZuvEvent(rows, 5, L"Port", pieces.size() > 1 ? pieces[1] : std::string());
        insertRowInZuvEvent(rows, 6, L"Direction",
                            operation == INCOMING_CONNECTION ? "INCOMING_CONNECTION" : "OUTGOING_CONNECTION");
    }
    detail.setHeader(header);
    detail.setDetail(rows);
}

void ReportManager::insertRowInZuvEvent(std::multimap<std::wstring, std::wstring>& rows, int n, std::wstring tag,
                                        std::string value)
{
    wchar_t key[80];
    std::swprintf(key, sizeof key / sizeof key[0], L"%ls_%d", L"ZUV_EVENT_TAG", n);
    rows.emplace(key, tag);
    std::swprintf(key, sizeof key / sizeof key[0], L"%ls_%d", L"ZUV_EVENT_VALUE", n);
    rows.emplace(key, wideText(value));
}

} // namespace AppProtection
