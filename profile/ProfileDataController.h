// The profile: the application and library stores, their file with its
// whole-file lock, the pending-dependency worker, the launch and network
// decisions, the rule edits and change processing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/stat.h>

#include "AppProtError.h"
#include "AppProtTypes.h"
#include "ApplicationStore.h"
#include "BasicAppRecord.h"
#include "DependentStore.h"
#include "DetailedAppRecord.h"
#include "ThreadSafety.h"

namespace AppProtection {

/// Lock order: m_depWorkMutex, then m_pendingDepsMutex, then a store's
/// mutex (inside the store call); m_validationMutex is held only to join or
/// start the validation thread. The dependency generator's mutex is never
/// taken while a controller mutex is held.
class ProfileDataController {
public:
    /// The five answers of the decisions. Reported to the daemon's peers:
    /// never renumber.
    enum SearchReturnValue : int32_t {
        APP_ALLOWED = 1,
        APP_DENIED = 2,
        APP_MODIFIED = 3,
        UNKNOWN_APP = 4,
        DISABLED_RULE = 5,
    };

    /// Starts the pending-dependency worker.
    ProfileDataController();
    ProfileDataController(const ProfileDataController&) = delete;
    ProfileDataController& operator=(const ProfileDataController&) = delete;
    /// Ends and joins both threads; returns once a scan in progress ends.
    /// Records still queued are dropped (the next load queues them again).
    virtual ~ProfileDataController();

    /// Reads both stores from the file. A missing file is created empty
    /// (mode 0660); an empty file is the empty profile; a file that does not
    /// load is moved to "<path>.corrupt" and the stores are emptied. Every
    /// application without libraries is queued for discovery. Waits for a
    /// running validation first.
    void loadProfile(const std::string& path);
    /// The same, except that a missing file is not created and leaves the
    /// stores as they are.
    void loadProfileIfPresent(const std::string& path);
    /// Reads as loadProfile does, but creates nothing, moves nothing aside
    /// and queues nothing. True exactly when a profile was read (an empty
    /// file is the empty profile); otherwise the stores are emptied.
    bool loadProfileReadOnly(const std::string& path);
    /// Writes both stores when they changed since the last write: to a
    /// temporary file beside the path, then renamed over it, so the old file
    /// stays whole on any failure. A failed write leaves the profile dirty.
    /// False exactly when a needed write failed.
    bool persistProfile(const std::string& path);
    /// Takes the exclusive whole-file lock on the profile (an open file
    /// description lock: it excludes other processes, other objects and
    /// threads of this process, and lockf users). Waits for it. False, no
    /// lock, when the file is missing or the lock cannot be taken. Holding
    /// it, removes the temporary files that writers killed before their
    /// rename left beside the file.
    bool lockProfile(const std::string& path);
    /// Releases the lock; nothing when none is held.
    void unlockProfile(const std::string& path);
    void setCustomNwFallbackAction(BasicAppRecord::NetworkAction value) { m_customNwFallbackAction = value; }
    /// Body of the pending-dependency worker.
    void handlePendingDeps();
    /// Returns once the queue is empty and the worker holds no record.
    void drainPendingDeps();

    // Decisions.
    /// The stored record of `path`, else the first stored record with the
    /// file's fingerprint. Throws AppProtException FILE_NOT_FOUND when the
    /// path is not stored and cannot be fingerprinted.
    bool findRecord(std::string path, DetailedAppRecord& out);
    SearchReturnValue allowApplicationLaunch(const std::string& path, BasicAppRecord& record);
    SearchReturnValue allowNetworkAccess(const std::string& path, sockaddr_in& peer, Operation operation,
                                         NWProtocol protocol, BasicAppRecord& record);

    // Rule edits.
    AppProtError getAppsInGroup(BasicAppRecord& rule, struct stat& st, std::vector<DetailedAppRecord>& out);
    std::vector<std::string> getBinariesInDir(std::string directory);
    AppProtError addAppToProfile(BasicAppRecord& rule);
    AppProtError updateRuleForApp(BasicAppRecord& rule);
    AppProtError deleteAppFromProfile(BasicAppRecord& rule);
    AppProtError breakdownAppGroupofApp(const std::string& path);
    std::list<BasicAppRecord> getAllProfileRules(bool onePerGroup);
    int syncUpProfile(std::list<BasicAppRecord> rules);

    // Change processing and validation.
    void processFileChange(const std::string& path);
    bool processAppChange(const std::string& path);
    bool processDepChange(const std::string& path);
    void markAppModifiedForDep(const std::string& application, const std::string& library);
    /// Validates the applications now and the libraries on a thread of its
    /// own; a previous validation thread is joined first.
    void validateProfileHashes();
    void validateAppHashes();
    void validateDepHashes();

    /// Runs inside every persist after the temporary file is written and
    /// before it replaces the profile. For tests.
    void setPersistHook(std::function<void()> hook);

protected:
    ApplicationStore m_appStore;
    DependentStore m_depStore;
    std::atomic<int> m_customNwFallbackAction{BasicAppRecord::NW_ACTION_BLOCK_ALL};
    std::atomic<bool> m_profileChanged{false};

private:
    enum class LoadMode { CreateMissing, IfPresent, ReadOnly };
    /// True when a profile was read.
    bool load(const std::string& path, LoadMode mode);
    /// Finds the record as findRecord does and hands it to `read` in place,
    /// under the application store's mutex, instead of copying it out.
    bool readRecord(const std::string& path, const std::function<void(const DetailedAppRecord&)>& read);
    void clearStores();
    void requeueAppsWithoutDependencies();
    void queueForDependencies(const DetailedAppRecord& record);
    void joinValidationLocked() WARD_REQUIRES(m_validationMutex);
    /// Replaces the application's library list and brings the library store
    /// in line; nothing when the application is no longer stored.
    void applyDependencies(const std::string& application, const std::vector<std::string>& dependencies,
                           bool setHashAndModified, const std::string& newHash);
    /// Fingerprints libraries not yet stored, outside every controller lock.
    void prepareLibraries(const std::vector<std::string>& libraries);
    /// Takes the application off each of its libraries (m_depWorkMutex held).
    void releaseLibrariesLocked(const std::string& application, const std::vector<std::string>& libraries)
        WARD_REQUIRES(m_depWorkMutex);
    /// Encodes both stores into a temporary file beside `path` and renames
    /// it over `path`; false, with the temporary removed, on a failure.
    bool writeProfileFile(const std::string& path);

    int m_profileFd = -1; ///< the locked descriptor; used by the locking caller only

    ward::Mutex m_validationMutex;
    std::unique_ptr<std::thread> m_depValidationThread WARD_GUARDED_BY(m_validationMutex);

    /// Serialises "change a dependency list, then bring the library store
    /// in line" against deletes and updates. Never held while the scanner or
    /// the fingerprinting of an executable runs.
    ward::Mutex m_depWorkMutex WARD_ACQUIRED_BEFORE(m_pendingDepsMutex);

    ward::Mutex m_pendingDepsMutex;
    std::list<DetailedAppRecord> m_pendingDeps WARD_GUARDED_BY(m_pendingDepsMutex);
    bool m_workerBusy WARD_GUARDED_BY(m_pendingDepsMutex) = false;
    std::condition_variable m_pendingDepsCondition; ///< work queued, or stop
    std::condition_variable m_drainCondition;       ///< the worker went idle
    std::atomic<bool> m_stopThreads{false};
    std::unique_ptr<std::thread> m_pendingDepsThread;

    ward::Mutex m_hookMutex;
    std::function<void()> m_persistHook WARD_GUARDED_BY(m_hookMutex);
};

} // namespace AppProtection
