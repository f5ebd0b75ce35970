#include "StatsManager.h"

#include <exception>

#include "AppProtError.h"
#include "TraceLevels.h"

#define STATS_TRACE(threshold, ...) WARD_TRACE(statsMgrFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

std::atomic<StatsManager*> StatsManager::m_pSelf{nullptr};
std::mutex StatsManager::m_instanceMutex;

StatsManager* StatsManager::getInstance()
{
    StatsManager* self = m_pSelf.load(std::memory_order_acquire);
    if (self != nullptr)
        return self;
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    self = m_pSelf.load(std::memory_order_acquire);
    if (self == nullptr) {
        self = new StatsManager();
        m_pSelf.store(self, std::memory_order_release);
    }
    return self;
}

void StatsManager::releaseInstance()
{
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    delete m_pSelf.exchange(nullptr, std::memory_order_acq_rel);
}

StatsManager::StatsManager() = default;

StatsManager::~StatsManager()
{
    std::lock_guard<std::mutex> lock(m_statsMutex);
    m_statsRecords.clear();
}

bool StatsManager::firstBlock(const std::string& group, bool StatsRecord::*flag, const wchar_t* method)
{
    STATS_TRACE(0, L"StatsManager::%ls - %s\n", method, group.c_str());
    bool first = false;
    try {
        // Lookup and update under one hold: of threads reporting the same
        // group at once, exactly one gets true.
        std::lock_guard<std::mutex> lock(m_statsMutex);
        auto& byName = m_statsRecords.get<appNameTag>();
        auto it = byName.find(group);
        if (it == byName.end()) {
            StatsRecord record;
            record.m_appPath = group;
            record.*flag = true;
            first = byName.insert(record).second;
        } else if (!((*it).*flag)) {
            first = byName.modify(it, [flag](StatsRecord& r) { r.*flag = true; });
        }
    } catch (const std::exception& e) {
        STATS_TRACE(0, L"StatsManager::%ls - Exception: %s\n", method, e.what());
        first = false;
    } catch (...) {
        STATS_TRACE(0, L"StatsManager::%ls - Unknown exception\n", method);
        first = false;
    }
    STATS_TRACE(0, L"StatsManager::%ls - returning %s\n", method, first ? "true" : "false");
    return first;
}

bool StatsManager::sendExecBlockNotification(const std::string& group)
{
    return firstBlock(group, &StatsRecord::m_execBlockNotified, L"sendExecBlockNotification");
}

bool StatsManager::sendNetworkBlockNotification(const std::string& group)
{
    return firstBlock(group, &StatsRecord::m_networkBlockNotified, L"sendNetworkBlockNotification");
}

void StatsManager::addRecord(const StatsRecord& record)
{
    std::lock_guard<std::mutex> lock(m_statsMutex);
    auto& byName = m_statsRecords.get<appNameTag>();
    try {
        auto inserted = byName.insert(record);
        if (!inserted.second)
            byName.replace(inserted.first, record);
    } catch (const std::exception& e) {
        STATS_TRACE(0, L"StatsManager::addRecord - %s: %s\n", record.m_appPath.c_str(), e.what());
    }
}

StatsManager::StatsRecord StatsManager::findRecord(const std::string& path)
{
    {
        std::lock_guard<std::mutex> lock(m_statsMutex);
        auto& byName = m_statsRecords.get<appNameTag>();
        auto it = byName.find(path);
        if (it != byName.end())
            return *it;
    }
    throw AppProtException("Could not find entry in cache", ENTRY_NOT_FOUND);
}

} // namespace AppProtection
