#include "ApplicationStore.h"

#include "AppProtError.h"
#include "HashGenerator.h"
#include "ProfileRecordIO.h"
#include "RulebookTrace.h"

namespace AppProtection {

bool ApplicationStore::addApp(DetailedAppRecord& record)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::addApp - Acquired Lock\n");
    std::string path = record.getAppPath();
    bool added = m_applications.insert(record).second;
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::addApp - Adding %s returned %s\n", path.c_str(),
               added ? "true" : "false");
    return added;
}

void ApplicationStore::updateApp(DetailedAppRecord& record)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::updateApp - Acquired Lock\n");
    auto& byPath = m_applications.get<appPathTag>();
    auto it = byPath.find(record.getAppPath());
    if (it != byPath.end())
        byPath.replace(it, record);
}

bool ApplicationStore::modifyApp(const std::string& path,
                                 const std::function<void(DetailedAppRecord&)>& change)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::modifyApp - Acquired Lock\n");
    auto& byPath = m_applications.get<appPathTag>();
    auto it = byPath.find(path);
    if (it == byPath.end())
        return false;
    DetailedAppRecord changed(*it);
    change(changed);
    changed.setAppPath(path);
    byPath.replace(it, changed);
    return true;
}

void ApplicationStore::deleteApp(DetailedAppRecord& record)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::deleteApp - Acquired Lock\n");
    m_applications.get<appPathTag>().erase(DetailedAppRecord::PathKey()(record));
}

bool ApplicationStore::findAppByName(const std::string& path, DetailedAppRecord& out)
{
    return readAppByName(path, [&](const DetailedAppRecord& r) { out = r; });
}

bool ApplicationStore::readAppByName(const std::string& path,
                                     const std::function<void(const DetailedAppRecord&)>& read)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::findAppByName - Acquired Lock\n");
    auto& byPath = m_applications.get<appPathLookupTag>();
    auto it = byPath.find(path);
    bool found = it != byPath.end();
    if (found)
        read(*it);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::findAppByName - %s found %s\n", path.c_str(),
               found ? "True" : "False");
    return found;
}

bool ApplicationStore::findAppByGroup(std::string group, std::vector<DetailedAppRecord>& out)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::findAppByGroup - Acquired Lock\n");
    auto range = m_applications.get<appGroupTag>().equal_range(group);
    int count = 0;
    for (auto it = range.first; it != range.second; ++it) {
        WARD_TRACE(appStoreFlowvalue, 2, L"ApplicationStore::findAppByGroup - comparing %s\n",
                   it->getAppPath().c_str());
        out.push_back(*it);
        ++count;
    }
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::findAppByGroup - %s found %d records %s\n",
               group.c_str(), count, count > 0 ? "True" : "False");
    return count > 0;
}

bool ApplicationStore::findAppByHash(std::string hash, std::vector<DetailedAppRecord>& out)
{
    return readAppsByHash(hash, [&](const DetailedAppRecord& r) { out.push_back(r); });
}

bool ApplicationStore::readAppsByHash(const std::string& hash,
                                      const std::function<void(const DetailedAppRecord&)>& read)
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::findAppByHash - Acquired Lock\n");
    auto range = m_applications.get<appHashTag>().equal_range(hash);
    // The index holds the last entered first: read in order of entry.
    std::vector<const DetailedAppRecord*> entered;
    for (auto it = range.first; it != range.second; ++it)
        entered.push_back(&*it);
    int count = 0;
    for (auto it = entered.rbegin(); it != entered.rend(); ++it) {
        WARD_TRACE(appStoreFlowvalue, 2, L"ApplicationStore::findAppByHash - comparing %s\n",
                   (*it)->getAppPath().c_str());
        read(**it);
        ++count;
    }
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::findAppByHash - %s found %d records %s\n", hash.c_str(),
               count, count > 0 ? "True" : "False");
    return count > 0;
}

void ApplicationStore::readAllApps(const std::function<void(const DetailedAppRecord&)>& read) const
{
    ward::LockGuard lock(m_storeMutex);
    for (const DetailedAppRecord& r : m_applications.get<appPathTag>())
        read(r);
}

std::list<BasicAppRecord> ApplicationStore::getAllProfileRules()
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::getAllProfileRules - Acquired Lock\n");
    std::list<BasicAppRecord> rules;
    for (const DetailedAppRecord& r : m_applications.get<appPathTag>())
        rules.push_back(static_cast<const BasicAppRecord&>(r));
    return rules;
}

std::vector<std::string> ApplicationStore::validateHashes()
{
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::validateHashes - Acquired Lock\n");
    std::vector<std::string> modified;
    auto& byPath = m_applications.get<appPathTag>();
    for (auto it = byPath.begin(); it != byPath.end(); ++it) {
        std::string path = it->getAppPath();
        std::string hash;
        try {
            hash = HashGenerator::generateHash(path);
        } catch (const AppProtException&) {
            WARD_TRACE(appStoreFlowvalue, 0,
                       L"ApplicationStore::validateHashes - Couldn't cvalidate hash of %s. Assuming unmodified\n",
                       path.c_str());
            continue;
        }
        if (hash != it->getApplicationHash()) {
            DetailedAppRecord changed(*it);
            changed.setAppModified(true);
            changed.setApplicationHash(hash);
            byPath.replace(it, changed); // same path: the walk stays in place
            modified.push_back(path);
        }
    }
    WARD_TRACE(appStoreFlowvalue, 0, L"ApplicationStore::validateHashes - Returning %d modified applications\n",
               static_cast<int>(modified.size()));
    return modified;
}

void ApplicationStore::clear()
{
    ward::LockGuard lock(m_storeMutex);
    m_applications.clear();
}

void ApplicationStore::save(ProfileOArchive& ar, unsigned int) const
{
    ward::LockGuard lock(m_storeMutex);
    ProfileRecordIO::saveAll(ar, ProfileClass::AppRecordVector, m_applications.get<appPathTag>());
}

void ApplicationStore::load(ProfileIArchive& ar, unsigned int)
{
    // Each record is moved in through the path index with its end as the
    // hint (the file holds them in path order); a repeated path is dropped.
    // The indexes are filled on a helper thread while this one reads on.
    ApplicationSet loaded;
    auto& byPath = loaded.get<appPathTag>();
    size_t withoutDependencies = 0;
    ProfileRecordIO::loadAppsHandedOff(
        ar, ProfileClass::AppRecordVector,
        [&](DetailedAppRecord&& r) {
            bool without = !r.hasDependencies();
            size_t before = loaded.size();
            byPath.insert(byPath.end(), std::move(r));
            if (without && loaded.size() != before)
                ++withoutDependencies;
        },
        [&](size_t count) {
            // The hash tables sized once rather than rehashed as they grow.
            loaded.get<appHashTag>().reserve(count);
            loaded.get<appPathLookupTag>().reserve(count);
        });
    {
        ward::LockGuard lock(m_storeMutex);
        m_applications.swap(loaded);
        m_loadedWithoutDependencies = withoutDependencies;
    }
    // The previous content is freed here, outside the mutex.
}

size_t ApplicationStore::loadedWithoutDependencies() const
{
    ward::LockGuard lock(m_storeMutex);
    return m_loadedWithoutDependencies;
}

} // namespace AppProtection
