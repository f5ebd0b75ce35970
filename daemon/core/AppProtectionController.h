// appwardd's controller: the one object that owns the kernel link, the
// profile, the request and response queues with their workers, the process
// caches and the handlers given to the command broker. Its members are spread
// over files by role: start-up, shutdown and signals
// (AppProtectionController.cpp), queues and workers (RequestQueues.cpp),
// decisions (Decisions.cpp), rule operations and preference changes
// (RuleOperations.cpp).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include <boost/logic/tribool.hpp>
#include <boost/thread/shared_mutex.hpp>

#include "AppHVOAgentWrapper.h"
#include "AppProtError.h"
#include "AppProtTypes.h"
#include "BasicAppRecord.h"
#include "CodeSignChecker.h"
#include "CommandImpl.h"
#include "HealthCheckImpl.h"
#include "KernelControl.h"
#include "KextInterface.h"
#include "ProcessHelper.h"
#include "ProcessSource.h"
#include "ProfileDataController.h"
#include "ReportManager.h"
#include "ScanRequest.h"
#include "ThreadSafety.h"

namespace AppProtection {

/// The command broker's socket, given to every broker lookup.
constexpr char kHvoSocketPath[] = "/usr/local/Vantrel/hvo/var/hvodsocket";
/// Its first word tells SIGUSR2 whether to reload or unload the agent's
/// plug-ins.
constexpr char kPluginChangePath[] = "/usr/local/Vantrel/AppProtection/var/pluginChange";
/// The daemon's module id on the command broker.
constexpr int kAppProtectionHvkId = 3;

/// Lock order: m_instanceMutex, then m_profileLock, then m_persistMutex;
/// the queues' mutexes are taken alone. No thread holds m_profileLock while
/// it reports, alerts or touches the process cache.
class AppProtectionController : public KextRequestSink {
public:
    /// The platform pieces the controller stands on. Missing ones are the
    /// real ones: the kernel-control socket, /proc and the codesign tool.
    struct Dependencies {
        std::unique_ptr<kctl::KernelControl> kernelControl;
        std::unique_ptr<ProcessSource> processSource;
        std::unique_ptr<CodeSignChecker> codeSignChecker;
    };
    /// The pieces the next instance is built with. For tests.
    static void setDependencies(Dependencies dependencies);

    /// The daemon's whole life: start-up, serving the broker until SIGTERM,
    /// shutdown. -1 when another daemon holds the PID file, else 0. Expects
    /// SIGTERM, SIGHUP and SIGUSR2 blocked in every thread.
    static int main(int argc, char** argv);

    static AppProtectionController* getInstance();
    /// The instance if one exists; never creates one.
    static AppProtectionController* getExistingInstance();
    /// Joins every thread the instance started and destroys it.
    static void releaseInstance();
    virtual ~AppProtectionController();
    AppProtectionController(const AppProtectionController&) = delete;
    AppProtectionController& operator=(const AppProtectionController&) = delete;

    // Start-up and shutdown.
    /// Opens, locks (without waiting) and rewrites the PID file with this
    /// process's id. False, the file untouched, when another process holds it.
    bool createPidFile();
    /// Unlinks the PID file, then closes it.
    void removePidFile();
    /// Builds the agent wrapper once; any failure is traced, never thrown.
    void createAppHVOMAgentWrapper();
    /// Closes the profile gate, then destroys the agent wrapper: no console
    /// call reaches the profile after.
    void releaseAppHVOMAgentWrapper();
    /// Waits until loadProfile has installed a profile (true) or the gate is
    /// closed for the shutdown (false). No time-out: the agent's caller
    /// bounds its wait.
    bool waitForProfile();
    void loadProfile(bool verifyHashes);
    /// Writes the profile under its file lock; nothing before a profile is
    /// loaded. Two persists never run at once.
    void persistProfile();
    /// Throws AppProtException when the link cannot be brought up; the
    /// workers it started are joined first. Refused (traced) before a
    /// profile is loaded.
    void enableAppProtection();
    /// Joins the workers and the link's threads, answers pending alerts with
    /// allow (sent before the link closes), persists the profile.
    void disableAppProtection();
    /// Registers with the broker and runs it until stopped.
    void startHVO();
    void stopHVO();
    static void terminationHandler(int signum);
    static void reloadHandler(int signum);
    static void pluginChangeHandler(int signum);
    bool getEnableAppProtection();
    void setEnableAppProtection(bool enable);
    uint8_t getProtectionStatus() const { return m_protectionStatus; }

    // Queues and workers.
    void addtoRequestQueue(ScanRequest& request) override;
    /// The oldest request; waits while the queue is empty and protection is
    /// on. Nothing once protection is off and the queue is empty.
    std::optional<ScanRequest> popFromRequestQueue();
    void addToResponseQueue(ScanRequest& answer);
    std::vector<ScanRequest> popAllFromResponseQueue() override;
    void wakeResponseQueue() override;
    void kextLinkLost() override;
    /// Body of each worker thread.
    void processRequests();
    /// Decides one request as a worker does: queues its answer when it gets
    /// one now (types 100, 102, 103 unless the user is asked). Never throws.
    void processRequest(ScanRequest& request);

    // Decisions (true allow, false deny, indeterminate ask).
    boost::logic::tribool handleAppExecutionRequest(ScanRequest& request);
    boost::logic::tribool handleNetworkAccessRequest(ScanRequest& request);
    boost::logic::tribool handleUnknownAppRequest(std::string& path, BasicAppRecord& record, Operation operation);
    boost::logic::tribool handleModifiedAppExecution(std::string& path, BasicAppRecord& record);
    boost::logic::tribool handleModifiedAppNwAccess(std::string& path, BasicAppRecord& record, Operation operation,
                                                     sockaddr_in& peer, NWProtocol protocol);
    bool checkAppleBinary(std::string& path);
    void updateNetworkActionForPid(std::string path, int pid, bool allow);

    // Rule operations and preference changes.
    AppProtError addProfileRule(BasicAppRecord& rule);
    AppProtError updateProfileRule(BasicAppRecord& rule);
    AppProtError deleteProfileRule(BasicAppRecord& rule);
    AppProtError breakdownAppGroupofApp(std::string group);
    /// Throws AppProtException UNEXPECTED_EXCEPTION before a profile is loaded.
    std::list<BasicAppRecord> getAllProfileRules(bool perGroup);
    /// Throws AppProtException UNEXPECTED_EXCEPTION before a profile is loaded.
    void loadModifiedProfile(std::list<BasicAppRecord> rules);
    /// Option 9; every failure ignored (also while the link is closed).
    void purgeKextCache();
    /// The exclusions to the kernel extension while protection is on.
    void pushExclusions();
    /// Protection follows EnableAppProtection, the loaded profile takes
    /// CustomNwFallBackAction, and the kernel's cache is purged.
    void preferencesCallBack();

    /// The process caches, for the services and for tests.
    ProcessHelper& processHelper() { return m_processHelper; }

private:
    explicit AppProtectionController(Dependencies dependencies);

    enum class EditKind { Add, Update, Delete, Breakdown };
    AppProtError editProfile(EditKind kind, const char* method, const std::function<AppProtError(ProfileDataController&)>& edit);
    void startWorkersLocked(int count) WARD_REQUIRES(m_instanceMutex);
    void stopWorkersLocked() WARD_REQUIRES(m_instanceMutex);
    /// Runs `work` on a thread of the controller's, joined at the latest
    /// when the controller goes; finished ones are joined first.
    void startHelperThread(std::function<void()> work);
    void joinHelperThreads();
    void reportDecision(AppProtReport& report, boost::logic::tribool decision);

    KextInterface m_kextInterface;
    std::unique_ptr<ProfileDataController> m_profile WARD_GUARDED_BY(m_profileLock);
    ward::Mutex m_requestMutex;
    std::list<ScanRequest> m_requestQueue WARD_GUARDED_BY(m_requestMutex);
    std::condition_variable m_requestCondition;
    ward::Mutex m_responseMutex;
    std::list<ScanRequest> m_responseQueue WARD_GUARDED_BY(m_responseMutex);
    std::condition_variable m_responseCondition;
    /// 1 while protection is on; written under m_instanceMutex, read anywhere.
    std::atomic<uint8_t> m_protectionStatus{0};
    std::vector<std::thread> m_workerThreads WARD_GUARDED_BY(m_instanceMutex);
    HealthCheckImpl m_healthCheckImpl;
    CommandImpl m_commandImpl;
    ProcessHelper m_processHelper;
    ReportManager m_reportManager;
    ward::Mutex m_agentMutex;
    std::unique_ptr<AppHVOAgentWrapper> m_agentWrapper WARD_GUARDED_BY(m_agentMutex);
    enum class ProfileGate { Waiting, Open, Closed };
    ward::Mutex m_gateMutex;
    ProfileGate m_profileGate WARD_GUARDED_BY(m_gateMutex) = ProfileGate::Waiting;
    std::condition_variable m_gateCondition;
    int m_pidFileFd = -1; ///< the PID file's one descriptor; main thread only
    bool m_codesignAvailable = false;
    /// Writer-preferring: a profile to install does not wait behind a stream
    /// of decisions.
    ward::SharedMutex<boost::shared_mutex> m_profileLock WARD_ACQUIRED_BEFORE(m_persistMutex);
    ward::Mutex m_persistMutex; ///< one persist at a time on the profile object
    int m_threadPollInterval = 1;

    struct HelperThread {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    ward::Mutex m_helperMutex;
    std::vector<HelperThread> m_helperThreads WARD_GUARDED_BY(m_helperMutex);

    static std::atomic<AppProtectionController*> m_pSelf;
    /// Creation and release of the instance, and every enable and disable.
    static ward::Mutex m_instanceMutex WARD_ACQUIRED_BEFORE(m_profileLock);
};

/// The change callback registered with the configuration.
void preferencesCallBack();

} // namespace AppProtection
