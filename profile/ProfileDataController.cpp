#include "ProfileDataController.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include "DependentGenerator.h"
#include "DirectoryEnumerator.h"
#include "FileIO.h"
#include "HashGenerator.h"
#include "ProfileFile.h"
#include "RulebookTrace.h"

// Trace levels: a line of level n is written when pdcFlowvalue >= n.
#define PDC_TRACE(level, ...) WARD_TRACE(pdcFlowvalue, (level)-1, __VA_ARGS__)
#define PDC_TRACING(level) WARD_TRACING(pdcFlowvalue, (level)-1)

namespace AppProtection {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

ProfileDataController::ProfileDataController()
{
    PDC_TRACE(1, L"ProfileDataController::ProfileDataController - Entry\n");
    m_pendingDepsThread = std::make_unique<std::thread>(&ProfileDataController::handlePendingDeps, this);
    PDC_TRACE(1, L"ProfileDataController::ProfileDataController - Exit\n");
}

ProfileDataController::~ProfileDataController()
{
    PDC_TRACE(1, L"ProfileDataController::~ProfileDataController - Entry\n");
    {
        // Set under the queue mutex so that the worker cannot miss the wake.
        ward::LockGuard lock(m_pendingDepsMutex);
        m_stopThreads = true;
    }
    m_pendingDepsCondition.notify_all();
    m_drainCondition.notify_all();
    {
        ward::LockGuard lock(m_validationMutex);
        joinValidationLocked();
    }
    if (m_pendingDepsThread) {
        m_pendingDepsThread->join();
        m_pendingDepsThread.reset();
    }
    if (m_profileFd != -1) {
        ::close(m_profileFd);
        m_profileFd = -1;
    }
    PDC_TRACE(1, L"ProfileDataController::~ProfileDataController - Exit\n");
}

void ProfileDataController::setPersistHook(std::function<void()> hook)
{
    ward::LockGuard lock(m_hookMutex);
    m_persistHook = std::move(hook);
}

// ---------------------------------------------------------------------------
// Load, persist, lock

void ProfileDataController::loadProfile(const std::string& path) { load(path, LoadMode::CreateMissing); }

void ProfileDataController::loadProfileIfPresent(const std::string& path) { load(path, LoadMode::IfPresent); }

bool ProfileDataController::loadProfileReadOnly(const std::string& path) { return load(path, LoadMode::ReadOnly); }

void ProfileDataController::clearStores()
{
    m_depStore.clear();
    m_appStore.clear();
}

bool ProfileDataController::load(const std::string& path, LoadMode mode)
{
    PDC_TRACE(1, L"ProfileDataController::loadProfile - Loading %s\n", path.c_str());
    {
        // A validation walking the old stores would mark what the load brings.
        ward::LockGuard lock(m_validationMutex);
        joinValidationLocked();
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        if (err == ENOENT && mode == LoadMode::CreateMissing) {
            fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0660);
            if (fd >= 0) {
                if (::fchmod(fd, 0660) != 0)
                    PDC_TRACE(1, L"ProfileDataController::loadProfile - fchmod failed: %s\n", std::strerror(errno));
                ::close(fd);
                PDC_TRACE(1, L"ProfileDataController::loadProfile - Unable to open file. Created and Returning.\n");
            } else {
                PDC_TRACE(1, L"ProfileDataController::loadProfile - Unable to create %s: %s\n", path.c_str(),
                          std::strerror(errno));
            }
        } else if (err == ENOENT) {
            PDC_TRACE(1, L"ProfileDataController::loadProfile - %s does not exist. Returning.\n", path.c_str());
            if (mode == LoadMode::ReadOnly)
                clearStores();
        } else {
            PDC_TRACE(1, L"ProfileDataController::loadProfile - Unable to open %s: %s. Clearing our store.\n",
                      path.c_str(), std::strerror(err));
            clearStores();
        }
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        PDC_TRACE(1, L"ProfileDataController::loadProfile - %s is not a readable file. Clearing our store.\n",
                  path.c_str());
        clearStores();
        return false;
    }
    if (st.st_size == 0) {
        ::close(fd);
        PDC_TRACE(1, L"ProfileDataController::loadProfile - Empty profile %s\n", path.c_str());
        clearStores();
        return true;
    }
    try {
        // Parsed as it is read, block by block: the file is never held whole.
        readProfile(fd, static_cast<uint64_t>(st.st_size), m_appStore, m_depStore);
        ::close(fd);
        PDC_TRACE(1, L"ProfileDataController::loadProfile - Loaded %s\n", path.c_str());
    } catch (const std::system_error&) {
        ::close(fd);
        PDC_TRACE(1, L"ProfileDataController::loadProfile - %s is not a readable file. Clearing our store.\n",
                  path.c_str());
        clearStores();
        return false;
    } catch (...) {
        ::close(fd);
        PDC_TRACE(1, L"ProfileDataController::loadProfile - Caught exception. Clearing our store and returning.\n");
        clearStores();
        if (mode == LoadMode::ReadOnly)
            return false;
        // Kept aside, not overwritten by the next persist: the rules cannot
        // be restored from anywhere else.
        std::string aside = path + ".corrupt";
        if (::rename(path.c_str(), aside.c_str()) == 0)
            PDC_TRACE(1, L"ProfileDataController::loadProfile - Unreadable profile moved to %s\n", aside.c_str());
        else
            PDC_TRACE(1, L"ProfileDataController::loadProfile - Could not move unreadable profile to %s: %s\n",
                      aside.c_str(), std::strerror(errno));
        return false;
    }
    if (mode != LoadMode::ReadOnly && m_appStore.loadedWithoutDependencies() > 0)
        requeueAppsWithoutDependencies();
    return true;
}

void ProfileDataController::requeueAppsWithoutDependencies()
{
    // Copies of those without libraries only, queued once the store's mutex
    // is released (the queue's mutex comes first in the lock order).
    std::vector<DetailedAppRecord> without;
    m_appStore.readAllApps([&](const DetailedAppRecord& r) {
        if (!r.hasDependencies())
            without.push_back(r);
    });
    for (const DetailedAppRecord& record : without)
        queueForDependencies(record);
}

bool ProfileDataController::persistProfile(const std::string& path)
{
    PDC_TRACE(1, L"ProfileDataController::persistProfile - Entry %s\n", path.c_str());
    // Cleared before the stores are written: an edit made from here on sets
    // it again and reaches the next persist.
    if (!m_profileChanged.exchange(false)) {
        PDC_TRACE(1, L"ProfileDataController::persistProfile - Profile not changed. Returning\n");
        return true;
    }
    bool written = false;
    try {
        written = writeProfileFile(path);
    } catch (const std::exception& e) {
        PDC_TRACE(1, L"ProfileDataController::persistProfile - Received exception %s\n", e.what());
    } catch (...) {
        PDC_TRACE(1, L"ProfileDataController::persistProfile - Received exception\n");
    }
    if (!written) {
        m_profileChanged = true;
        PDC_TRACE(1, L"ProfileDataController::persistProfile - Received exception. Ignoring. Will handle while "
                     L"loading data\n");
    }
    PDC_TRACE(1, L"ProfileDataController::persistProfile - Returning\n");
    return written;
}

bool ProfileDataController::writeProfileFile(const std::string& path)
{
    std::function<void()> hook;
    {
        ward::LockGuard lock(m_hookMutex);
        hook = m_persistHook;
    }
    return replaceProfileFile(
        path, L"ProfileDataController::persistProfile",
        [this](int fd) {
            // Library lists and the library store change together under this
            // mutex; the file gets them matching. Encoded straight into the
            // temporary file: no copy of the stores or of the text is made.
            ward::LockGuard lock(m_depWorkMutex);
            writeProfile(fd, m_appStore, m_depStore);
        },
        hook);
}

bool ProfileDataController::lockProfile(const std::string& path)
{
    PDC_TRACE(1, L"ProfileDataController::lockProfile - Entry %s\n", path.c_str());
    if (m_profileFd != -1) {
        PDC_TRACE(1, L"ProfileDataController::lockProfile - Already locked\n");
        return true;
    }
    for (;;) {
        wardfile::Locked lock = wardfile::lockExistingFile(path, wardfile::LockKind::OpenFileDescription);
        if (lock.fd < 0) {
            if (std::strcmp(lock.step, "open") == 0)
                PDC_TRACE(1, L"ProfileDataController::lockProfile - Could not open %s: %s\n", path.c_str(),
                          std::strerror(lock.error));
            else
                PDC_TRACE(1, L"ProfileDataController::lockProfile - Lock of %s failed: %s\n", path.c_str(),
                          std::strerror(lock.error));
            return false;
        }
        const int fd = lock.fd;
        // The holder may have replaced the file while this one waited: the
        // lock must be on the file the path names now.
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            m_profileFd = fd;
            // The daemon and the generator persist only under this lock: what
            // writers killed before their rename left can go.
            wardfile::removeLeftovers(path);
            PDC_TRACE(1, L"ProfileDataController::lockProfile - Locked %s\n", path.c_str());
            return true;
        }
        ::close(fd);
        PDC_TRACE(1, L"ProfileDataController::lockProfile - %s was replaced. Retrying\n", path.c_str());
    }
}

void ProfileDataController::unlockProfile(const std::string& path)
{
    PDC_TRACE(1, L"ProfileDataController::unlockProfile - %s\n", path.c_str());
    if (m_profileFd != -1) {
        ::close(m_profileFd);
        m_profileFd = -1;
    }
}

// ---------------------------------------------------------------------------
// Pending dependencies

void ProfileDataController::queueForDependencies(const DetailedAppRecord& record)
{
    {
        ward::LockGuard lock(m_pendingDepsMutex);
        m_pendingDeps.push_back(record);
    }
    m_pendingDepsCondition.notify_one();
}

void ProfileDataController::drainPendingDeps()
{
    ward::UniqueLock lock(m_pendingDepsMutex);
    m_drainCondition.wait(lock.native(), [this]() WARD_REQUIRES(m_pendingDepsMutex) {
        return (m_pendingDeps.empty() && !m_workerBusy) || m_stopThreads;
    });
}

void ProfileDataController::handlePendingDeps()
{
    PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - Entry\n");
    while (!m_stopThreads) {
        DetailedAppRecord record;
        {
            ward::UniqueLock lock(m_pendingDepsMutex);
            m_workerBusy = false;
            m_drainCondition.notify_all();
            while (m_pendingDeps.empty()) {
                // Also before the first wait: the flag may have been set, and
                // its one wake sent, after the test at the loop's top.
                if (m_stopThreads)
                    return;
                m_pendingDepsCondition.wait_for(lock.native(), std::chrono::seconds(2));
                if (m_stopThreads)
                    return;
            }
            record = m_pendingDeps.front();
            m_pendingDeps.pop_front();
            m_workerBusy = true;
        }
        std::string path = record.getAppPath();
        try {
            std::vector<std::string> deps = DependentGenerator::getInstance()->generateDependancies(path);
            if (m_stopThreads)
                break;
            prepareLibraries(deps);
            applyDependencies(path, deps, false, std::string());
        } catch (const AppProtException& e) {
            PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - Caught exception %s for %s. Skipping\n",
                      e.getExceptionMsg().c_str(), path.c_str());
        } catch (const std::exception& e) {
            PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - Caught exception %s for %s. Skipping\n",
                      e.what(), path.c_str());
        } catch (...) {
            PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - Caught exception for %s. Skipping\n",
                      path.c_str());
        }
    }
    PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - Exit\n");
}

void ProfileDataController::prepareLibraries(const std::vector<std::string>& libraries)
{
    // A library new to the store is fingerprinted here, so that the store
    // update under m_depWorkMutex finds it by name. Content already stored
    // under another name is left to the store, which folds it.
    for (const std::string& library : libraries) {
        DependentRecord known;
        if (m_depStore.findByName(library, known))
            continue;
        std::string hash;
        try {
            hash = HashGenerator::generateHash(library);
        } catch (const AppProtException&) {
            continue; // unreadable: the store will not list it either
        }
        if (m_depStore.findByHash(hash, known))
            continue;
        DependentRecord record;
        record.setFileName(library);
        record.setFileHash(hash);
        m_depStore.addDependent(record);
    }
}

void ProfileDataController::releaseLibrariesLocked(const std::string& application,
                                                   const std::vector<std::string>& libraries)
{
    for (const std::string& library : libraries)
        m_depStore.removeAppFromDependent(library, application);
}

void ProfileDataController::applyDependencies(const std::string& application,
                                              const std::vector<std::string>& dependencies, bool setHashAndModified,
                                              const std::string& newHash)
{
    ward::LockGuard lock(m_depWorkMutex);
    std::vector<std::string> old;
    bool stored = m_appStore.modifyApp(application, [&](DetailedAppRecord& r) {
        old = r.getDependencies();
        r.setDependencies(dependencies);
        if (setHashAndModified) {
            r.setApplicationHash(newHash);
            r.setAppModified(true);
        }
    });
    if (!stored) {
        PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - %s is no longer stored\n", application.c_str());
        return;
    }
    for (const std::string& library : old)
        if (!contains(dependencies, library))
            m_depStore.removeAppFromDependent(library, application);
    for (const std::string& library : dependencies) {
        if (!contains(old, library)) {
            m_depStore.addAppToDependent(library, application);
            PDC_TRACE(2, L"ProfileDataController::handlePendingDeps - Updated dependant  %s store for %s\n",
                      library.c_str(), application.c_str());
        }
    }
    if (old != dependencies || setHashAndModified)
        m_profileChanged = true;
}

// ---------------------------------------------------------------------------
// Decisions

bool ProfileDataController::findRecord(std::string path, DetailedAppRecord& out)
{
    return readRecord(path, [&](const DetailedAppRecord& r) { out = r; });
}

bool ProfileDataController::readRecord(const std::string& path,
                                       const std::function<void(const DetailedAppRecord&)>& read)
{
    if (m_appStore.readAppByName(path, read))
        return true;
    std::string hash = HashGenerator::generateHash(path);
    bool found = false;
    m_appStore.readAppsByHash(hash, [&](const DetailedAppRecord& r) {
        if (!found)
            read(r);
        found = true;
    });
    if (found)
        return true;
    PDC_TRACE(1, L"ProfileDataController::findRecord - Unknown application. Returning false\n");
    return false;
}

ProfileDataController::SearchReturnValue ProfileDataController::allowApplicationLaunch(const std::string& path,
                                                                                       BasicAppRecord& record)
{
    PDC_TRACE(1, L"ProfileDataController::allowApplicationLaunch - %s\n", path.c_str());
    bool enabled = false, modified = false, execAllowed = false;
    bool found = readRecord(path, [&](const DetailedAppRecord& r) {
        record = r; // the rule part only: keys and libraries stay behind
        enabled = r.getEnabled();
        modified = r.getAppModified();
        execAllowed = r.getExecAllowed();
    });
    if (!found) {
        PDC_TRACE(1, L"ProfileDataController::allowApplicationLaunch - record not found. returning UNKNOWN_APP\n");
        return UNKNOWN_APP;
    }
    if (!enabled) {
        PDC_TRACE(1, L"ProfileDataController::allowApplicationLaunch - Disabled Rule\n");
        return DISABLED_RULE;
    }
    if (modified) {
        PDC_TRACE(1, L"ProfileDataController::allowApplicationLaunch - Modified application. \n");
        return APP_MODIFIED;
    }
    SearchReturnValue result = execAllowed ? APP_ALLOWED : APP_DENIED;
    PDC_TRACE(1, L"ProfileDataController::allowApplicationLaunch - returning %d\n", static_cast<int>(result));
    return result;
}

ProfileDataController::SearchReturnValue
ProfileDataController::allowNetworkAccess(const std::string& path, sockaddr_in& peer, Operation operation,
                                          NWProtocol protocol, BasicAppRecord& record)
{
    if (PDC_TRACING(1)) {
        char address[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        const char* protocolName = protocol == NW_TCP ? "TCP" : protocol == NW_UDP ? "UDP" : "BOTH";
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - %s %s:%d %s %d\n", path.c_str(), address,
                  static_cast<int>(ntohs(peer.sin_port)), protocolName, static_cast<int>(operation));
    }
    bool enabled = false, modified = false, ruleMatched = false;
    BasicAppRecord::NetworkAction nwAction = BasicAppRecord::NW_ACTION_BLOCK_ALL;
    actions action = ACTION_BLOCK;
    bool found = readRecord(path, [&](const DetailedAppRecord& r) {
        record = r; // the rule part only: keys and libraries stay behind
        enabled = r.getEnabled();
        modified = r.getAppModified();
        nwAction = r.getNwAction();
        // Custom rules (also for an unexpected value) are walked where they
        // are stored.
        if (nwAction != BasicAppRecord::NW_ACTION_ALLOW_ALL && nwAction != BasicAppRecord::NW_ACTION_BLOCK_ALL)
            ruleMatched = r.customRuleMatch(peer, operation, protocol, action);
    });
    if (!found) {
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - record not found. returning UNKNOWN_APP\n");
        return UNKNOWN_APP;
    }
    if (!enabled) {
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - Disabled Rule\n");
        return DISABLED_RULE;
    }
    if (modified) {
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - Modified application. \n");
        return APP_MODIFIED;
    }
    switch (nwAction) {
    case BasicAppRecord::NW_ACTION_ALLOW_ALL:
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - All network access allowed\n");
        return APP_ALLOWED;
    case BasicAppRecord::NW_ACTION_BLOCK_ALL:
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - All network access blocked\n");
        return APP_DENIED;
    case BasicAppRecord::NW_ACTION_CUSTOM:
        break;
    }
    if (ruleMatched) {
        PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - Custom rule matched with action %d\n",
                  static_cast<int>(action));
        return action == ACTION_ALLOW ? APP_ALLOWED : APP_DENIED;
    }
    int fallback = m_customNwFallbackAction.load();
    PDC_TRACE(1, L"ProfileDataController::allowNetworkAccess - No custom rule matched. Fallback %d\n", fallback);
    return fallback == BasicAppRecord::NW_ACTION_ALLOW_ALL ? APP_ALLOWED : APP_DENIED;
}

// ---------------------------------------------------------------------------
// Rule edits

std::vector<std::string> ProfileDataController::getBinariesInDir(std::string directory)
{
    std::vector<std::string> binaries;
    std::vector<std::string> entries;
    try {
        entries = DirectoryEnumerator().enumerate(directory, false, false);
    } catch (const std::exception& e) {
        PDC_TRACE(1, L"ProfileDataController::getBinariesInDir - Cannot list %s: %s\n", directory.c_str(), e.what());
        return binaries;
    }
    DependentGenerator* generator = DependentGenerator::getInstance();
    for (const std::string& entry : entries) {
        // Only a regular file can be an executable; a FIFO or a device is
        // never handed to the scanner.
        struct stat st;
        if (::stat(entry.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (generator->isFileMachOExecutable(entry))
            binaries.push_back(entry);
    }
    return binaries;
}

AppProtError ProfileDataController::getAppsInGroup(BasicAppRecord& rule, struct stat& st,
                                                   std::vector<DetailedAppRecord>& out)
{
    std::string group = rule.getAppGroup();
    auto addExecutable = [&](const std::string& executable) {
        DetailedAppRecord record(rule);
        record.setAppPath(executable);
        record.setAppGroup(group);
        record.setApplicationHash(HashGenerator::generateHash(executable));
        for (const DetailedAppRecord& seen : out)
            if (seen.getApplicationHash() == record.getApplicationHash())
                return;
        out.push_back(record);
    };
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> executables = getBinariesInDir(group);
        if (executables.empty()) {
            PDC_TRACE(1, L"ProfileDataController::getAppsInGroup - no executables found in %s\n", group.c_str());
            return NOT_A_VALID_EXECUTABLE;
        }
        for (const std::string& executable : executables)
            addExecutable(executable);
        return SUCCESS;
    }
    if (S_ISREG(st.st_mode)) {
        if (!DependentGenerator::getInstance()->isFileMachOExecutable(group)) {
            PDC_TRACE(1, L"ProfileDataController::getAppsInGroup - %s is not a valid mach-o executable\n",
                      group.c_str());
            return NOT_A_VALID_EXECUTABLE;
        }
        addExecutable(group);
        return SUCCESS;
    }
    PDC_TRACE(1, L"ProfileDataController::getAppsInGroup - %s is not a regular file\n", group.c_str());
    return NOT_A_VALID_EXECUTABLE;
}

AppProtError ProfileDataController::addAppToProfile(BasicAppRecord& rule)
{
    std::string group = rule.getAppGroup();
    PDC_TRACE(1, L"ProfileDataController::addAppToProfile - %s\n", group.c_str());
    struct stat st;
    if (::stat(group.c_str(), &st) != 0) {
        PDC_TRACE(1, L"ProfileDataController::addAppToProfile - Could not run stat %s\n", group.c_str());
        return FILE_NOT_FOUND;
    }
    std::vector<DetailedAppRecord> records;
    AppProtError result = getAppsInGroup(rule, st, records);
    if (result != SUCCESS) {
        PDC_TRACE(1, L"ProfileDataController::addAppToProfile - returning %d\n", static_cast<int>(result));
        return result;
    }
    for (const DetailedAppRecord& record : records) {
        try {
            std::vector<DetailedAppRecord> stored;
            if (m_appStore.findAppByHash(record.getApplicationHash(), stored) && !stored.empty()) {
                if (record != stored.front()) {
                    PDC_TRACE(1, L"ProfileDataController::addAppToProfile - returning CONFLICTING_ENTRY %s\n",
                              stored.front().getAppPath().c_str());
                    return CONFLICTING_ENTRY;
                }
                PDC_TRACE(1, L"ProfileDataController::addAppToProfile - returning DUPLICATE_ENTRY %s\n",
                          stored.front().getAppPath().c_str());
                return DUPLICATE_ENTRY;
            }
        } catch (...) {
            PDC_TRACE(1, L"ProfileDataController::addAppToProfile - Caught exception while checking %s\n",
                      record.getAppPath().c_str());
        }
    }
    for (DetailedAppRecord& record : records) {
        try {
            if (!m_appStore.addApp(record)) {
                PDC_TRACE(1, L"ProfileDataController::addAppToProfile - returning DUPLICATE_ENTRY %s\n",
                          record.getAppPath().c_str());
                return DUPLICATE_ENTRY;
            }
            m_profileChanged = true;
            queueForDependencies(record);
            PDC_TRACE(1, L"ProfileDataController::addAppToProfile - Added %s\n", record.getAppPath().c_str());
        } catch (...) {
            PDC_TRACE(1, L"ProfileDataController::addAppToProfile - Caught exception . Lets just continue to "
                         L"process.\n");
        }
    }
    return SUCCESS;
}

AppProtError ProfileDataController::deleteAppFromProfile(BasicAppRecord& rule)
{
    std::string group = rule.getAppGroup();
    PDC_TRACE(1, L"ProfileDataController::deleteAppFromProfile - %s\n", group.c_str());
    struct stat st;
    if (::stat(group.c_str(), &st) != 0) {
        PDC_TRACE(1, L"ProfileDataController::deleteAppFromProfile - Could not run stat %s\n", group.c_str());
        ward::LockGuard lock(m_depWorkMutex);
        std::vector<DetailedAppRecord> stored;
        m_appStore.findAppByGroup(group, stored);
        for (DetailedAppRecord& record : stored) {
            releaseLibrariesLocked(record.getAppPath(), record.getDependencies());
            m_appStore.deleteApp(record);
            m_profileChanged = true;
        }
        return SUCCESS;
    }
    std::vector<DetailedAppRecord> records;
    AppProtError result = getAppsInGroup(rule, st, records);
    if (result != SUCCESS)
        return result;
    for (const DetailedAppRecord& record : records) {
        {
            ward::LockGuard lock(m_depWorkMutex);
            std::vector<DetailedAppRecord> stored;
            if (!m_appStore.findAppByHash(record.getApplicationHash(), stored) || stored.empty()) {
                PDC_TRACE(1, L"ProfileDataController::deleteAppFromProfile - Profile for app %s not found in our "
                             L"store. Throwing exception\n",
                          record.getAppPath().c_str());
                throw AppProtException("Entry not found", ENTRY_NOT_FOUND);
            }
            for (DetailedAppRecord& s : stored) {
                releaseLibrariesLocked(s.getAppPath(), s.getDependencies());
                m_appStore.deleteApp(s);
            }
        }
        m_profileChanged = true;
        PDC_TRACE(1, L"ProfileDataController::deleteAppFromProfile - Deleted %s\n", record.getAppPath().c_str());
    }
    return SUCCESS;
}

AppProtError ProfileDataController::updateRuleForApp(BasicAppRecord& rule)
{
    std::string group = rule.getAppGroup();
    PDC_TRACE(1, L"ProfileDataController::updateRuleForApp - %s exec %d\n", group.c_str(),
              static_cast<int>(rule.getExecAllowed()));
    struct stat st;
    if (::stat(group.c_str(), &st) != 0) {
        PDC_TRACE(1, L"ProfileDataController::updateRuleForApp - Could not run stat %s\n", group.c_str());
        std::vector<DetailedAppRecord> stored;
        m_appStore.findAppByGroup(group, stored);
        for (const DetailedAppRecord& s : stored) {
            rule.setAppPath(s.getAppPath());
            bool changed = m_appStore.modifyApp(s.getAppPath(), [&](DetailedAppRecord& r) {
                r = rule; // keeps fingerprint and libraries
                r.print();
            });
            if (changed)
                m_profileChanged = true;
        }
        return SUCCESS;
    }
    std::vector<DetailedAppRecord> fresh;
    AppProtError result = getAppsInGroup(rule, st, fresh);
    if (result != SUCCESS) {
        PDC_TRACE(1, L"ProfileDataController::updateRuleForApp - returning %d\n", static_cast<int>(result));
        return result;
    }
    for (DetailedAppRecord& record : fresh) {
        {
            ward::LockGuard lock(m_depWorkMutex);
            PDC_TRACE(3, L"ProfileDataController::updateRuleForApp - Looking up %s\n", record.getAppPath().c_str());
            std::vector<DetailedAppRecord> stored;
            if (!m_appStore.findAppByHash(record.getApplicationHash(), stored) || stored.empty()) {
                PDC_TRACE(1, L"ProfileDataController::updateRuleForApp - Profile for app %s not found in our "
                             L"store. Throwing exception\n",
                          record.getAppPath().c_str());
                throw AppProtException("Entry not found", ENTRY_NOT_FOUND);
            }
            PDC_TRACE(3, L"ProfileDataController::updateRuleForApp - Found %d records\n",
                      static_cast<int>(stored.size()));
            for (const DetailedAppRecord& s : stored) {
                // The new rule starts with no libraries: take the
                // application off its old ones and discover them again.
                releaseLibrariesLocked(s.getAppPath(), s.getDependencies());
                DetailedAppRecord replacement(record);
                replacement.setAppGroup(s.getAppGroup());
                replacement.setAppPath(s.getAppPath());
                replacement.setDependencies({});
                m_appStore.updateApp(replacement);
                queueForDependencies(replacement);
            }
        }
        m_profileChanged = true;
        PDC_TRACE(1, L"ProfileDataController::updateRuleForApp - Updated %s\n", record.getAppPath().c_str());
    }
    return SUCCESS;
}

AppProtError ProfileDataController::breakdownAppGroupofApp(const std::string& path)
{
    PDC_TRACE(1, L"ProfileDataController::breakdownAppGroupofApp - %s\n", path.c_str());
    DetailedAppRecord record;
    if (!m_appStore.findAppByName(path, record)) {
        PDC_TRACE(1, L"ProfileDataController::breakdownAppGroupofApp - invoked for %s. no etnry found\n",
                  path.c_str());
        return SUCCESS;
    }
    std::vector<DetailedAppRecord> members;
    m_appStore.findAppByGroup(record.getAppGroup(), members);
    if (members.size() > 1) {
        for (const DetailedAppRecord& member : members) {
            std::string own = member.getAppPath();
            if (m_appStore.modifyApp(own, [&](DetailedAppRecord& r) { r.setAppGroup(own); }))
                m_profileChanged = true;
        }
        PDC_TRACE(1, L"ProfileDataController::breakdownAppGroupofApp - Done for %s\n", path.c_str());
    } else {
        PDC_TRACE(1, L"ProfileDataController::breakdownAppGroupofApp - no elements or one element.\n");
    }
    return SUCCESS;
}

std::list<BasicAppRecord> ProfileDataController::getAllProfileRules(bool onePerGroup)
{
    PDC_TRACE(1, L"ProfileDataController::getAllProfileRules - Entry\n");
    std::list<BasicAppRecord> rules = m_appStore.getAllProfileRules();
    PDC_TRACE(2, L"ProfileDataController::getAllProfileRules - %d records\n", static_cast<int>(rules.size()));
    rules.sort([](const BasicAppRecord& a, const BasicAppRecord& b) { return a.getAppGroup() < b.getAppGroup(); });
    PDC_TRACE(2, L"ProfileDataController::getAllProfileRules - %d sorted\n", static_cast<int>(rules.size()));
    if (onePerGroup) {
        rules.unique(BasicAppRecord::compareGroupName);
        PDC_TRACE(2, L"ProfileDataController::getAllProfileRules - %d groups\n", static_cast<int>(rules.size()));
    }
    return rules;
}

int ProfileDataController::syncUpProfile(std::list<BasicAppRecord> rules)
{
    PDC_TRACE(1, L"ProfileDataController::syncUpProfile - Entry\n");
    std::list<BasicAppRecord> current = getAllProfileRules(true);
    for (BasicAppRecord& incoming : rules) {
        try {
            std::vector<DetailedAppRecord> stored;
            if (m_appStore.findAppByGroup(incoming.getAppGroup(), stored) && !stored.empty()) {
                const DetailedAppRecord& s = stored.front();
                if (!s.matches(incoming) || s.getEnabled() != incoming.getEnabled()) {
                    PDC_TRACE(2, L"ProfileDataController::syncUpProfile - Updating %s\n",
                              incoming.getAppGroup().c_str());
                    updateRuleForApp(incoming);
                } else if (s.getAppModified()) {
                    updateRuleForApp(incoming);
                }
            } else {
                PDC_TRACE(2, L"ProfileDataController::syncUpProfile - Adding %s\n", incoming.getAppGroup().c_str());
                addAppToProfile(incoming);
            }
        } catch (...) {
            PDC_TRACE(1, L"ProfileDataController::syncUpProfile - Caught exception for %s\n",
                      incoming.getAppGroup().c_str());
        }
    }
    for (BasicAppRecord& r : current) {
        bool wanted = false;
        for (const BasicAppRecord& incoming : rules)
            if (incoming.getAppGroup() == r.getAppGroup())
                wanted = true;
        if (wanted)
            continue;
        try {
            PDC_TRACE(2, L"ProfileDataController::syncUpProfile - Deleting %s\n", r.getAppGroup().c_str());
            deleteAppFromProfile(r);
        } catch (...) {
            PDC_TRACE(1, L"ProfileDataController::syncUpProfile - Caught exception deleting %s\n",
                      r.getAppGroup().c_str());
        }
    }
    PDC_TRACE(1, L"ProfileDataController::syncUpProfile - Exit\n");
    return 1;
}

// ---------------------------------------------------------------------------
// Change processing and validation

void ProfileDataController::processFileChange(const std::string& path)
{
    PDC_TRACE(1, L"ProfileDataController::processFileChange - %s\n", path.c_str());
    bool changed = processAppChange(path);
    if (!changed)
        changed = processDepChange(path);
    if (changed)
        m_profileChanged = true;
    PDC_TRACE(1, L"ProfileDataController::processFileChange - %s changed %s\n", path.c_str(),
              changed ? "yes" : "no");
}

bool ProfileDataController::processAppChange(const std::string& path)
{
    DetailedAppRecord record;
    if (!m_appStore.findAppByName(path, record)) {
        PDC_TRACE(1, L"ProfileDataController::processAppChange - This is not an App. Returning\n");
        return false;
    }
    std::string hash = HashGenerator::generateHash(path);
    if (hash == record.getApplicationHash()) {
        PDC_TRACE(1, L"ProfileDataController::processAppChange - hashes match for %s\n", path.c_str());
        return false;
    }
    // Scanning and fingerprinting first, with no controller lock held.
    std::vector<std::string> deps = DependentGenerator::getInstance()->generateDependancies(path);
    prepareLibraries(deps);
    bool stored = false;
    {
        ward::LockGuard lock(m_depWorkMutex);
        std::vector<std::string> old;
        stored = m_appStore.modifyApp(path, [&](DetailedAppRecord& r) {
            old = r.getDependencies();
            r.setApplicationHash(hash);
            r.setAppModified(true);
            r.setDependencies(deps);
        });
        if (stored) {
            for (const std::string& library : old)
                if (!contains(deps, library))
                    m_depStore.removeAppFromDependent(library, path);
            for (const std::string& library : deps)
                if (!contains(old, library))
                    m_depStore.addAppToDependent(library, path);
        }
    }
    PDC_TRACE(1, L"ProfileDataController::processAppChange - Done for %s\n", path.c_str());
    return stored;
}

bool ProfileDataController::processDepChange(const std::string& path)
{
    DependentRecord record;
    if (!m_depStore.findByName(path, record)) {
        PDC_TRACE(1, L"ProfileDataController::processDepChange - %s is not a dependant library. Returning\n",
                  path.c_str());
        return false;
    }
    std::string hash = HashGenerator::generateHash(path);
    if (hash == record.getFileHash()) {
        PDC_TRACE(1, L"ProfileDataController::processDepChange - hashes match.\n");
        return false;
    }
    std::vector<std::string> users;
    {
        ward::LockGuard lock(m_depWorkMutex);
        DependentRecord current;
        if (!m_depStore.findByName(path, current))
            return false;
        current.setFileHash(hash);
        m_depStore.updateDependent(current);
        users = current.getAppList();
    }
    for (const std::string& application : users)
        markAppModifiedForDep(application, path);
    PDC_TRACE(1, L"ProfileDataController::processDepChange - Done for %s\n", path.c_str());
    return true;
}

void ProfileDataController::markAppModifiedForDep(const std::string& application, const std::string& library)
{
    PDC_TRACE(1, L"ProfileDataController::markAppModifiedForDep - %s %s\n", application.c_str(), library.c_str());
    m_appStore.modifyApp(application, [&](DetailedAppRecord& r) {
        r.setAppModified(true);
        std::vector<std::string> changed = r.getChangedDeps();
        if (!contains(changed, library)) {
            changed.push_back(library);
            r.setChangedDeps(changed);
        }
    });
}

void ProfileDataController::joinValidationLocked()
{
    if (m_depValidationThread) {
        m_depValidationThread->join();
        m_depValidationThread.reset();
    }
}

void ProfileDataController::validateProfileHashes()
{
    PDC_TRACE(1, L"ProfileDataController::validateProfileHashes - Entry\n");
    {
        ward::LockGuard lock(m_validationMutex);
        joinValidationLocked();
    }
    // Not under m_validationMutex: a changed application is scanned here.
    validateAppHashes();
    PDC_TRACE(1, L"ProfileDataController::validateProfileHashes - Starting dependency validation\n");
    ward::LockGuard lock(m_validationMutex);
    joinValidationLocked(); // one started by another caller meanwhile
    m_depValidationThread = std::make_unique<std::thread>([this] {
        try {
            validateDepHashes();
        } catch (...) {
            PDC_TRACE(1, L"ProfileDataController::validateDepHashes - Caught exception. Ending\n");
        }
    });
}

void ProfileDataController::validateAppHashes()
{
    PDC_TRACE(1, L"ProfileDataController::validateAppHashes - Entry\n");
    std::vector<std::string> changed = m_appStore.validateHashes();
    PDC_TRACE(1, L"ProfileDataController::validateAppHashes - %d modified\n", static_cast<int>(changed.size()));
    for (const std::string& path : changed) {
        try {
            processAppChange(path);
        } catch (const AppProtException& e) {
            PDC_TRACE(1, L"ProfileDataController::validateAppHashes - %s: %s\n", path.c_str(),
                      e.getExceptionMsg().c_str());
        }
    }
    PDC_TRACE(1, L"ProfileDataController::validateAppHashes - Exit\n");
}

void ProfileDataController::validateDepHashes()
{
    PDC_TRACE(1, L"ProfileDataController::validateDepHashes - Entry\n");
    if (m_stopThreads)
        return;
    std::vector<std::string> changed = m_depStore.validateHashes();
    PDC_TRACE(1, L"ProfileDataController::validateDepHashes - %d modified\n", static_cast<int>(changed.size()));
    for (const std::string& name : changed) {
        if (m_stopThreads)
            return;
        DependentRecord record;
        if (!m_depStore.findByName(name, record)) {
            PDC_TRACE(1, L"ProfileDataController::validateDepHashes - dep record not found !!\n");
            continue;
        }
        for (const std::string& application : record.getAppList())
            markAppModifiedForDep(application, name);
    }
    PDC_TRACE(1, L"ProfileDataController::validateDepHashes - Exit\n");
}

} // namespace AppProtection
