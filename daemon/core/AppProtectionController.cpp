// The controller's life: the singleton, start-up and shutdown, the PID file,
// the profile's load and persist, enabling and disabling protection, the
// command broker and the signals.
#include "AppProtectionController.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AlertManager.h"
#include "AppHVOLogWrapper.h"
#include "ConfigController.h"
#include "FileIO.h"
#include "HVOCommBroker.h"
#include "SignalThread.h"
#include "SocketKernelControl.h"
#include "TraceLevels.h"
#include "TraceLoader.h"

#define CTRL_TRACE(threshold, ...) WARD_TRACE(appControlFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

std::atomic<AppProtectionController*> AppProtectionController::m_pSelf{nullptr};
ward::Mutex AppProtectionController::m_instanceMutex;

namespace {

/// Collaborators for the next instance; guarded by the instance mutex.
AppProtectionController::Dependencies g_nextDependencies;

/// SIGTERM stops the broker only until the main thread is done with it: a
/// lookup after its release would make a new one.
std::mutex g_brokerMutex;
bool g_brokerDone = false; ///< guarded by g_brokerMutex

void markBrokerDone()
{
    std::lock_guard<std::mutex> lock(g_brokerMutex);
    g_brokerDone = true;
}

/// More would only cost memory and scheduling; the preference is a count.
constexpr int kMaxWorkerThreads = 256;

/// At most this much of the plug-in change file is read.
constexpr size_t kPluginChangeReadLimit = 4096;

/// Attempts at locking a PID file that other daemons keep replacing.
constexpr int kPidFileAttempts = 8;

void dispatchSignal(int signum)
{
    switch (signum) {
    case SIGTERM:
        AppProtectionController::terminationHandler(signum);
        break;
    case SIGHUP:
        AppProtectionController::reloadHandler(signum);
        break;
    case SIGUSR2:
        AppProtectionController::pluginChangeHandler(signum);
        break;
    default:
        break;
    }
}

} // namespace

void AppProtectionController::setDependencies(Dependencies dependencies)
{
    ward::LockGuard lock(m_instanceMutex);
    g_nextDependencies = std::move(dependencies);
}

AppProtectionController* AppProtectionController::getInstance()
{
    AppProtectionController* self = m_pSelf.load(std::memory_order_acquire);
    if (self != nullptr)
        return self;
    ward::LockGuard lock(m_instanceMutex);
    self = m_pSelf.load(std::memory_order_acquire);
    if (self == nullptr) {
        self = new AppProtectionController(std::move(g_nextDependencies));
        g_nextDependencies = Dependencies();
        m_pSelf.store(self, std::memory_order_release);
    }
    return self;
}

AppProtectionController* AppProtectionController::getExistingInstance()
{
    return m_pSelf.load(std::memory_order_acquire);
}

void AppProtectionController::releaseInstance()
{
    AppProtectionController* self;
    {
        ward::LockGuard lock(m_instanceMutex);
        self = m_pSelf.exchange(nullptr, std::memory_order_acq_rel);
    }
    // Destroyed without the instance mutex: its helper threads may be
    // waiting for it to enable or disable.
    delete self;
}

AppProtectionController::AppProtectionController(Dependencies dependencies)
    : m_kextInterface(dependencies.kernelControl ? std::move(dependencies.kernelControl)
                                                 : std::make_unique<kctl::SocketKernelControl>(),
                      *this),
      m_processHelper(dependencies.processSource ? std::move(dependencies.processSource)
                                                 : std::make_unique<ProcProcessSource>(),
                      dependencies.codeSignChecker ? std::move(dependencies.codeSignChecker)
                                                   : std::make_unique<CodesignToolChecker>())
{
    ConfigController* config = ConfigController::getInstance();
    m_codesignAvailable = m_processHelper.codesignAvailable();
    // Before the callback is registered: this change is not one to react to.
    if (!m_codesignAvailable)
        config->setAppleSignedAppsFlag(false);
    // Every wait of the workers and the response thread lasts this long; 0
    // or less would make them spin.
    m_threadPollInterval = std::max(1, config->getThreadPollInterval());
    config->registerCallBack(AppProtection::preferencesCallBack);
}

AppProtectionController::~AppProtectionController()
{
    joinHelperThreads();
    m_protectionStatus = 0;
    stopWorkersLocked();
    // The link's threads use the queues, which go before the link does.
    m_kextInterface.shutdown();
    releaseAppHVOMAgentWrapper();
    if (m_pidFileFd >= 0)
        ::close(m_pidFileFd);
}

// ---------------------------------------------------------------------------
// PID file

bool AppProtectionController::createPidFile()
{
    const std::string path = ConfigController::getInstance()->getPidFilePath();
    int fd = -1;
    for (int attempt = 0; attempt < kPidFileAttempts && fd < 0; ++attempt) {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd < 0)
            return false;
        // The lock covers the whole file: from offset 0, length 0.
        if (::lseek(fd, 0, SEEK_SET) != 0 || ::lockf(fd, F_TLOCK, 0) != 0) {
            const int err = errno;
            CTRL_TRACE(0, L"AppProtectionController::createPidFile - lockf failed: %d %s. Our pid %d\n", err,
                       std::strerror(err), static_cast<int>(::getpid()));
            ::close(fd);
            return false;
        }
        // A daemon that was leaving may have unlinked the file after it was
        // opened here: the lock must be on the file the path names.
        struct stat held, named;
        if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
            held.st_ino != named.st_ino) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return false;
    const std::string pid = std::to_string(static_cast<int>(::getpid()));
    if (::ftruncate(fd, 0) != 0 || wardfile::writeAll(fd, pid.data(), pid.size()) != 0) {
        const int err = errno;
        CTRL_TRACE(0, L"AppProtectionController::createPidFile - could not write the pid: %s\n", std::strerror(err));
        ::close(fd);
        return false;
    }
    ::fchmod(fd, 0644);
    m_pidFileFd = fd;
    return true;
}

void AppProtectionController::removePidFile()
{
    if (m_pidFileFd < 0)
        return;
    // Unlinked while still locked: no other daemon can lock this file and
    // then lose it to the unlink.
    ::unlink(ConfigController::getInstance()->getPidFilePath().c_str());
    ::close(m_pidFileFd);
    m_pidFileFd = -1;
}

// ---------------------------------------------------------------------------
// Agent wrapper

void AppProtectionController::createAppHVOMAgentWrapper()
{
    ward::LockGuard lock(m_agentMutex);
    if (m_agentWrapper)
        return;
    try {
        m_agentWrapper.reset(new AppHVOAgentWrapper());
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::createAppHVOMAgentWrapper - Exception: %s\n",
                   e.getExceptionMsg().c_str());
    } catch (const std::exception& e) {
        CTRL_TRACE(0, L"AppProtectionController::createAppHVOMAgentWrapper - Exception: %s\n", e.what());
    } catch (...) {
        CTRL_TRACE(0, L"AppProtectionController::createAppHVOMAgentWrapper - Unknown exception\n");
    }
}

void AppProtectionController::releaseAppHVOMAgentWrapper()
{
    // A policy waiting for the profile gives up before the agent joins it.
    {
        ward::LockGuard lock(m_gateMutex);
        m_profileGate = ProfileGate::Closed;
        m_gateCondition.notify_all();
    }
    std::unique_ptr<AppHVOAgentWrapper> wrapper;
    {
        ward::LockGuard lock(m_agentMutex);
        wrapper = std::move(m_agentWrapper);
    }
    wrapper.reset();
}

// ---------------------------------------------------------------------------
// Profile

void AppProtectionController::loadProfile(bool verifyHashes)
{
    ConfigController* config = ConfigController::getInstance();
    const std::string path = config->getProfilePath();
    CTRL_TRACE(2, L"AppProtectionController::loadProfile - %s\n", path.c_str());
    std::unique_ptr<ProfileDataController> profile(new ProfileDataController());
    // A missing file is not locked; the load creates it.
    if (!profile->lockProfile(path))
        CTRL_TRACE(0, L"AppProtectionController::loadProfile - Could not lock %s\n", path.c_str());
    profile->loadProfile(path);
    profile->unlockProfile(path);
    if (verifyHashes)
        profile->validateProfileHashes();
    profile->setCustomNwFallbackAction(
        static_cast<BasicAppRecord::NetworkAction>(config->getCustomNwFallbackOption()));
    {
        ward::LockGuard lock(m_profileLock);
        m_profile.swap(profile);
    }
    {
        ward::LockGuard lock(m_gateMutex);
        if (m_profileGate == ProfileGate::Waiting)
            m_profileGate = ProfileGate::Open;
        m_gateCondition.notify_all();
    }
    // The previous profile, if any, goes outside the lock.
}

bool AppProtectionController::waitForProfile()
{
    ward::UniqueLock lock(m_gateMutex);
    m_gateCondition.wait(lock.native(),
                         [this]() WARD_REQUIRES(m_gateMutex) { return m_profileGate != ProfileGate::Waiting; });
    return m_profileGate == ProfileGate::Open;
}

void AppProtectionController::persistProfile()
{
    ward::SharedLockGuard lock(m_profileLock);
    if (!m_profile)
        return;
    ward::LockGuard persisting(m_persistMutex);
    const std::string path = ConfigController::getInstance()->getProfilePath();
    if (!m_profile->lockProfile(path))
        CTRL_TRACE(0, L"AppProtectionController::persistProfile - Could not lock %s\n", path.c_str());
    m_profile->persistProfile(path);
    m_profile->unlockProfile(path);
}

// ---------------------------------------------------------------------------
// Protection

void AppProtectionController::enableAppProtection()
{
    ward::LockGuard lock(m_instanceMutex);
    if (m_protectionStatus == 1)
        return;
    {
        ward::SharedLockGuard profileLock(m_profileLock);
        if (!m_profile) {
            CTRL_TRACE(0, L"AppProtectionController::enableAppProtection - No profile loaded yet. Not enabling\n");
            return;
        }
        m_protectionStatus = 1;
        m_profile->validateProfileHashes();
    }
    ConfigController* config = ConfigController::getInstance();
    startWorkersLocked(config->getNumWorkerThreads());
    try {
        KextInterface::loadKext();
    } catch (const AppProtException&) {
        CTRL_TRACE(0, L"AppProtectionController::enableAppProtection - Could not load kext. Maybe its already loaded\n");
    }
    try {
        m_kextInterface.connectToKext();
        pushExclusions();
        m_processHelper.buildPidCache();
        m_kextInterface.startHooking();
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::enableAppProtection - %s\n", e.getExceptionMsg().c_str());
        m_protectionStatus = 0;
        stopWorkersLocked();
        m_kextInterface.disconnectFromKext();
        throw;
    }
    CTRL_TRACE(2, L"AppProtectionController::enableAppProtection - Protection enabled\n");
    AppHVOLogWrapper::sendLogMessage(HVO::LOG_TYPE_ACTIVITY, HVO::HVK_LOG_LEVEL_3,
                                     "Application Protection has been enabled");
}

void AppProtectionController::disableAppProtection()
{
    ward::LockGuard lock(m_instanceMutex);
    if (m_protectionStatus == 0)
        return;
    m_protectionStatus = 0;
    // No worker may queue an answer or an alert once the queue is flushed.
    stopWorkersLocked();
    try {
        m_kextInterface.stopHooking();
    } catch (...) {
    }
    AlertManager::getInstance()->clearAllAlerts(true);
    m_kextInterface.sendPendingResponses();
    m_processHelper.clearCache();
    m_kextInterface.disconnectFromKext();
    persistProfile();
    CTRL_TRACE(2, L"AppProtectionController::disableAppProtection - Protection disabled\n");
    AppHVOLogWrapper::sendLogMessage(HVO::LOG_TYPE_ACTIVITY, HVO::HVK_LOG_LEVEL_3,
                                     "Application Protection has been disabled");
}

bool AppProtectionController::getEnableAppProtection()
{
    return ConfigController::getInstance()->getEnableAppProtection();
}

void AppProtectionController::setEnableAppProtection(bool enable)
{
    ConfigController::getInstance()->setEnableAppProtection(enable);
}

void AppProtectionController::startWorkersLocked(int count)
{
    if (count > kMaxWorkerThreads) {
        CTRL_TRACE(1, L"AppProtectionController::enableAppProtection - %d worker threads asked, %d started\n", count,
                   kMaxWorkerThreads);
        count = kMaxWorkerThreads;
    }
    for (int i = 0; i < count; ++i)
        m_workerThreads.emplace_back([this] { processRequests(); });
    CTRL_TRACE(2, L"AppProtectionController::enableAppProtection - Started %d worker threads\n", count);
}

void AppProtectionController::stopWorkersLocked()
{
    {
        // Under the queue's mutex: a worker about to wait sees the status.
        ward::LockGuard lock(m_requestMutex);
        m_requestCondition.notify_all();
    }
    for (std::thread& worker : m_workerThreads)
        worker.join();
    m_workerThreads.clear();
}

// ---------------------------------------------------------------------------
// Helper threads

void AppProtectionController::startHelperThread(std::function<void()> work)
{
    ward::LockGuard lock(m_helperMutex);
    for (auto it = m_helperThreads.begin(); it != m_helperThreads.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_helperThreads.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    m_helperThreads.push_back(HelperThread{std::thread([work, done] {
                                               work();
                                               done->store(true);
                                           }),
                                           done});
}

void AppProtectionController::joinHelperThreads()
{
    for (;;) {
        std::vector<HelperThread> threads;
        {
            ward::LockGuard lock(m_helperMutex);
            threads.swap(m_helperThreads);
        }
        if (threads.empty())
            return;
        for (HelperThread& helper : threads)
            helper.thread.join();
    }
}

void AppProtectionController::kextLinkLost()
{
    startHelperThread([this] {
        try {
            disableAppProtection();
        } catch (...) {
            CTRL_TRACE(0, L"AppProtectionController::disableAppProtection - Unknown exception\n");
        }
    });
}

// ---------------------------------------------------------------------------
// Command broker and signals

void AppProtectionController::startHVO()
{
    HVO::HVOCommBroker* broker = HVO::HVOCommBroker::getInstance(kHvoSocketPath);
    if (broker == nullptr)
        throw HVO::HVOException("No command broker for " + std::string(kHvoSocketPath));
    broker->setHVKId(kAppProtectionHvkId);
    broker->setCommandInterface(&m_commandImpl);
    broker->setHealthCheckInterface(&m_healthCheckImpl);
    broker->start(false);
    markBrokerDone();
}

void AppProtectionController::stopHVO()
{
    HVO::HVOCommBroker::releaseInstance();
}

void AppProtectionController::terminationHandler(int signum)
{
    if (signum != SIGTERM)
        return;
    CTRL_TRACE(0, L"AppProtectionController::terminationHandler - Received SIGTERM\n");
    std::lock_guard<std::mutex> lock(g_brokerMutex);
    if (g_brokerDone)
        return;
    if (HVO::HVOCommBroker* broker = HVO::HVOCommBroker::getInstance(kHvoSocketPath))
        broker->stop();
}

void AppProtectionController::reloadHandler(int signum)
{
    reloadTracing(signum);
}

void AppProtectionController::pluginChangeHandler(int signum)
{
    if (signum != SIGUSR2)
        return;
    const int fd = ::open(kPluginChangePath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return;
    // Only the first word counts: a bounded prefix is read, not the file.
    std::string text(kPluginChangeReadLimit, '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    size_t begin = 0;
    while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    size_t end = begin;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
        ++end;
    const std::string word = text.substr(begin, end - begin);
    CTRL_TRACE(1, L"AppProtectionController::pluginChangeHandler - %s\n", word.c_str());
    if (word == "RELOAD")
        AppHVOAgentWrapper::reloadMAPlugins();
    else
        AppHVOAgentWrapper::unloadMAPlugins();
}

// ---------------------------------------------------------------------------
// The daemon's life

int AppProtectionController::main(int, char**)
{
    {
        std::lock_guard<std::mutex> lock(g_brokerMutex);
        g_brokerDone = false;
    }
    SignalThread signals({SIGTERM, SIGHUP, SIGUSR2}, dispatchSignal);
    AppProtectionController* controller = nullptr;
    try {
        controller = getInstance();
        openTracing();
        if (!controller->createPidFile()) {
            CTRL_TRACE(0, L"AppProtectionController::main -  Create PID file returned false. Aborting start\n");
            signals.stop();
            return -1;
        }
        controller->createAppHVOMAgentWrapper();
        controller->loadProfile(false);
        if (controller->getEnableAppProtection())
            controller->enableAppProtection();
        controller->startHVO();
        controller->disableAppProtection();
        controller->stopHVO();
    } catch (const HVO::HVOException& e) {
        CTRL_TRACE(0, L"AppProtectionController::main - HVOException: %s\n", e.what());
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::main - AppProtException: %s\n", e.getExceptionMsg().c_str());
    } catch (...) {
        CTRL_TRACE(0, L"AppProtectionController::main - Unknown exception\n");
    }
    // The shutdown tail, on every way out.
    markBrokerDone();
    try {
        HVO::HVOCommBroker::releaseInstance();
    } catch (...) {
    }
    if (controller != nullptr) {
        // No console policy reaches the profile once it is written.
        controller->releaseAppHVOMAgentWrapper();
        try {
            controller->persistProfile();
        } catch (...) {
            CTRL_TRACE(0, L"AppProtectionController::main - Could not persist the profile\n");
        }
        controller->removePidFile();
    }
    signals.stop();
    releaseInstance();
    return 0;
}

} // namespace AppProtection
