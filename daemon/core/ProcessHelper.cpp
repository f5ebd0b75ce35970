#include "ProcessHelper.h"

#include <exception>
#include <vector>

#include "AppProtError.h"
#include "ConfigController.h"
#include "PathPrefix.h"
#include "TraceLevels.h"

#define PH_TRACE(threshold, ...) WARD_TRACE(processHelperFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

ProcessHelper::ProcessHelper(std::unique_ptr<ProcessSource> processes, std::unique_ptr<CodeSignChecker> codesign)
    : m_processes(std::move(processes)), m_codesign(std::move(codesign))
{
}

bool ProcessHelper::codesignAvailable()
{
    return m_codesign->available();
}

bool ProcessHelper::getCodesignStatus(std::string path)
{
    const bool signedByApple = m_codesign->isAppleSigned(path);
    PH_TRACE(2, L"ProcessHelper::getCodesignStatus - %s: %s\n", path.c_str(), signedByApple ? "true" : "false");
    return signedByApple;
}

bool ProcessHelper::isAppleSigned(std::string path)
{
    {
        ward::LockGuard lock(m_codesignCacheMutex);
        auto& byName = m_codesignCache.get<appNameTag>();
        auto it = byName.find(path);
        if (it != byName.end()) {
            PH_TRACE(3, L"ProcessHelper::isAppleSigned - cached %s: %d\n", path.c_str(), it->m_appleSigned ? 1 : 0);
            return it->m_appleSigned;
        }
    }
    const bool result = getCodesignStatus(path);
    addToCodeSignCache(path, result);
    return result;
}

void ProcessHelper::addToCodeSignCache(std::string path, bool appleSigned)
{
    if (path.empty())
        return;
    ward::LockGuard lock(m_codesignCacheMutex);
    auto& byName = m_codesignCache.get<appNameTag>();
    CodesignCacheRecord record{appleSigned, path};
    auto it = byName.find(path);
    if (it == byName.end())
        byName.insert(record);
    else
        byName.replace(it, record);
    PH_TRACE(3, L"ProcessHelper::addToCodeSignCache - %s: %d\n", path.c_str(), appleSigned ? 1 : 0);
}

void ProcessHelper::updateCodeSignStatus(std::string path)
{
    const bool result = getCodesignStatus(path);
    if (path.empty())
        return;
    ward::LockGuard lock(m_codesignCacheMutex);
    auto& byName = m_codesignCache.get<appNameTag>();
    auto it = byName.find(path);
    if (it == byName.end())
        byName.insert(CodesignCacheRecord{result, path});
    else if (it->m_appleSigned != result)
        byName.replace(it, CodesignCacheRecord{result, path});
}

void ProcessHelper::addProcessPid(std::string path, int pid)
{
    if (path.empty()) {
        PH_TRACE(3, L"ProcessHelper::addProcessPid - empty path for pid %d ignored\n", pid);
        return;
    }
    ProcPidRecord record{pid, path, false};
    ward::LockGuard lock(m_pidCacheMutex);
    auto& byPid = m_pidCache.get<pidTag>();
    auto it = byPid.find(pid);
    if (it == byPid.end())
        byPid.insert(record);
    else
        byPid.replace(it, record);
    PH_TRACE(3, L"ProcessHelper::addProcessPid - %d %s\n", pid, path.c_str());
}

void ProcessHelper::updateNetworkAction(std::string path, int pid, bool allow)
{
    ward::LockGuard lock(m_pidCacheMutex);
    auto& byPid = m_pidCache.get<pidTag>();
    auto it = byPid.find(pid);
    if (it == byPid.end()) {
        byPid.insert(ProcPidRecord{pid, path, allow});
    } else {
        ProcPidRecord record = *it;
        record.m_networkAction = allow;
        byPid.replace(it, record);
    }
    PH_TRACE(3, L"ProcessHelper::updateNetworkAction - %d %s: %d\n", pid, path.c_str(), allow ? 1 : 0);
}

std::string ProcessHelper::getNameFromPid(int pid)
{
    {
        ward::LockGuard lock(m_pidCacheMutex);
        auto& byPid = m_pidCache.get<pidTag>();
        auto it = byPid.find(pid);
        if (it != byPid.end())
            return it->m_procName;
    }
    PH_TRACE(2, L"ProcessHelper::getNameFromPid - %d not in cache\n", pid);
    throw AppProtException(appProtErrorMessage(PID_NOT_IN_CACHE), PID_NOT_IN_CACHE);
}

bool ProcessHelper::getNetworkActionFromPid(int pid)
{
    ward::LockGuard lock(m_pidCacheMutex);
    auto& byPid = m_pidCache.get<pidTag>();
    auto it = byPid.find(pid);
    return it != byPid.end() && it->m_networkAction;
}

std::string ProcessHelper::findNameFromPID(int pid)
{
    return m_processes->programPath(pid);
}

void ProcessHelper::buildPidCache()
{
    const std::vector<std::string> specialFolders = ConfigController::getInstance()->getSpecialFolderList();
    const std::vector<int> pids = m_processes->listPids();
    PH_TRACE(2, L"ProcessHelper::buildPidCache - %d processes\n", static_cast<int>(pids.size()));
    addProcessPid("kernel_task", 0);
    for (int pid : pids) {
        const std::string name = findNameFromPID(pid);
        if (name.empty())
            continue;
        addProcessPid(name, pid);
        for (const std::string& folder : specialFolders) {
            if (startsWithEntry(name, folder))
                updateNetworkAction(name, pid, true);
        }
    }
}

void ProcessHelper::clearCache()
{
    {
        ward::LockGuard lock(m_pidCacheMutex);
        m_pidCache.clear();
    }
    {
        ward::LockGuard lock(m_codesignCacheMutex);
        m_codesignCache.clear();
    }
    PH_TRACE(2, L"ProcessHelper::clearCache - cleared\n");
}

} // namespace AppProtection
