#include "DependentStore.h"

#include "AppProtError.h"
#include "HashGenerator.h"
#include "ProfileRecordIO.h"
#include "RulebookTrace.h"

namespace AppProtection {

void DependentStore::addDependent(DependentRecord& record)
{
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addDependent - Entry\n");
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addDependent - Acquired Lock\n");
    m_dependents.insert(record);
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addDependent - Exit\n");
}

void DependentStore::updateDependent(DependentRecord& record)
{
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::updateDependent - Entry\n");
    ward::LockGuard lock(m_storeMutex);
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::updateDependent - Acquired Lock\n");
    auto& byName = m_dependents.get<fileNameTag>();
    auto it = byName.find(record.getFileName());
    if (it != byName.end())
        byName.replace(it, record);
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::updateDependent - Exit\n");
}

bool DependentStore::findByName(const std::string& name, DependentRecord& out)
{
    ward::LockGuard lock(m_storeMutex);
    auto& byName = m_dependents.get<fileNameTag>();
    auto it = byName.find(name);
    if (it == byName.end())
        return false;
    out = *it;
    return true;
}

bool DependentStore::findByHash(const std::string& hash, DependentRecord& out)
{
    ward::LockGuard lock(m_storeMutex);
    auto& byHash = m_dependents.get<fileHashTag>();
    auto it = byHash.find(hash);
    if (it == byHash.end())
        return false;
    out = *it;
    return true;
}

void DependentStore::clear()
{
    ward::LockGuard lock(m_storeMutex);
    m_dependents.clear();
}

void DependentStore::addAppToDependent(const std::string& library, std::string application)
{
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addAppToDependent - Adding %s to %s\n", application.c_str(),
               library.c_str());
    std::lock_guard<std::mutex> change(m_changeMutex);
    DependentRecord record;
    bool known = findByName(library, record);
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addAppToDependent - findByName returned %s\n",
               known ? "true" : "false");
    if (!known) {
        std::string hash;
        try {
            hash = HashGenerator::generateHash(library);
        } catch (const AppProtException& e) {
            WARD_TRACE(depStoreFlowvalue, 0,
                       L"DependentStore::addAppToDependent - Caught excpetion which calculating hash. %s\n",
                       e.getExceptionMsg().c_str());
            return;
        }
        // The same content under another path joins the stored record.
        known = findByHash(hash, record);
        WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addAppToDependent - findByHash returned %s\n",
                   known ? "true" : "false");
        if (!known) {
            record.setFileName(library);
            record.setFileHash(hash);
        }
    }
    std::vector<std::string> apps = record.getAppList();
    apps.push_back(std::move(application));
    record.setAppList(std::move(apps));
    if (known) {
        WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addAppToDependent - Updating known library %s\n",
                   record.getFileName().c_str());
        updateDependent(record);
    } else {
        WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addAppToDependent - Adding new library %s\n",
                   library.c_str());
        addDependent(record);
    }
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::addAppToDependent - Done\n");
}

void DependentStore::removeAppFromDependent(const std::string& library, std::string application)
{
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::removeAppFromDependent - Entry %s %s\n", library.c_str(),
               application.c_str());
    std::lock_guard<std::mutex> change(m_changeMutex);
    DependentRecord record;
    if (!findByName(library, record)) {
        WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::removeAppFromDependent - %s not stored\n",
                   library.c_str());
        return;
    }
    std::vector<std::string> apps = record.getAppList();
    for (auto it = apps.begin(); it != apps.end(); ++it) {
        if (*it == application) {
            apps.erase(it);
            break;
        }
    }
    record.setAppList(std::move(apps));
    updateDependent(record);
    WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::removeAppFromDependent - Exit\n");
}

std::vector<std::string> DependentStore::validateHashes()
{
    std::vector<std::string> changed;
    // The walk order is fixed up front (highest application count first);
    // each library is then handled under the locks on its own, so other
    // threads are held up for one fingerprint at a time.
    std::vector<std::string> names;
    {
        ward::LockGuard lock(m_storeMutex);
        const auto& byCount = m_dependents.get<appCountTag>();
        for (auto it = byCount.rbegin(); it != byCount.rend(); ++it)
            names.push_back(DependentRecord::NameKey()(*it));
    }
    for (const std::string& name : names) {
        std::lock_guard<std::mutex> change(m_changeMutex);
        ward::LockGuard lock(m_storeMutex);
        auto& byName = m_dependents.get<fileNameTag>();
        auto it = byName.find(name);
        if (it == byName.end() || it->getHashVerified())
            continue;
        DependentRecord record(*it);
        record.setHashVerified(true);
        byName.replace(it, record); // the stored fingerprint stays the old one
        WARD_TRACE(depStoreFlowvalue, 0, L"DependentStore::validateHashes - Checking %s stored hash %s\n",
                   name.c_str(), record.getFileHash().c_str());
        try {
            if (HashGenerator::generateHash(name) != record.getFileHash())
                changed.push_back(name);
        } catch (const AppProtException&) {
            // Unreadable: counts as unchanged.
        }
    }
    return changed;
}

void DependentStore::save(ProfileOArchive& ar, unsigned int) const
{
    ward::LockGuard lock(m_storeMutex);
    ProfileRecordIO::saveAll(ar, ProfileClass::DependentVector, m_dependents.get<fileNameTag>());
}

void DependentStore::load(ProfileIArchive& ar, unsigned int)
{
    DependentSet loaded = ProfileRecordIO::loadSet<DependentSet>(ar, ProfileClass::DependentVector);
    {
        ward::LockGuard lock(m_storeMutex);
        m_dependents.swap(loaded);
    }
    // The previous content is freed here, outside the mutex.
}

} // namespace AppProtection
