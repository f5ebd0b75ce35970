#include "KextInterface.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "AppProtError.h"
#include "ConfigController.h"
#include "TraceLevels.h"

#define KEXT_TRACE(threshold, ...) WARD_TRACE(kextIfFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

namespace {

/// Requests taken by one receive.
constexpr size_t kRecordsPerReceive = 10;
/// Longest wait for requests in one pass of the request thread.
constexpr long kPassMicroseconds = 1000;

[[noreturn]] void fail(AppProtError code)
{
    throw AppProtException(appProtErrorMessage(code), code);
}

/// Runs a fixed command line through the shell and waits for it; false when
/// it cannot be started or does not exit 0.
bool runCommand(const char* command)
{
    // The command texts are fixed; "r" because glibc refuses "r+".
    FILE* stream = ::popen(command, "r");
    if (stream == nullptr)
        return false;
    return ::pclose(stream) == 0;
}

} // namespace

KextInterface::KextInterface(std::unique_ptr<kctl::KernelControl> control, KextRequestSink& sink)
    : m_control(std::move(control)), m_sink(sink)
{
}

KextInterface::~KextInterface()
{
    shutdown();
}

void KextInterface::shutdown() noexcept
{
    if (m_hooking) {
        try {
            stopHooking();
        } catch (...) {
        }
        disconnectFromKext();
        try {
            unloadKext();
        } catch (...) {
        }
    }
    joinThreads();
}

void KextInterface::connectToKext()
{
    KEXT_TRACE(4, L"KextInterface::connectToKext - Entry\n");
    disconnectFromKext();
    if (m_control->open(kctl::kAppProtectionControlName) != 0) {
        KEXT_TRACE(0, L"KextInterface::connectToKext - open failed: %s\n", std::strerror(errno));
        fail(KEXT_CONNECT_FAILED);
    }
    m_connected = true;
    KEXT_TRACE(2, L"KextInterface::connectToKext - Connected\n");
}

void KextInterface::disconnectFromKext()
{
    // receive() must not run while the link closes.
    joinThreads();
    if (m_connected.exchange(false)) {
        m_control->close();
        KEXT_TRACE(2, L"KextInterface::disconnectFromKext - Disconnected\n");
    }
}

void KextInterface::startHooking()
{
    m_hooking = true;
    if (!m_responseThread)
        m_responseThread.reset(new std::thread([this] { sendResponseToKext(); }));
    if (!m_requestThread)
        m_requestThread.reset(new std::thread([this] { getRequestsFromKext(); }));
    if (m_control->setOption(kctl::KEXT_OPT_START_HOOKING, nullptr, 0) == -1) {
        KEXT_TRACE(0, L"KextInterface::startHooking - option 1 failed: %s\n", std::strerror(errno));
        m_hooking = false;
        joinThreads();
        fail(KEXT_START_HOOKING_FAILED);
    }
    KEXT_TRACE(2, L"KextInterface::startHooking - Hooking started\n");
}

void KextInterface::stopHooking()
{
    m_hooking = false;
    const int rc = m_control->setOption(kctl::KEXT_OPT_STOP_HOOKING, nullptr, 0);
    const int err = errno;
    joinThreads();
    if (rc == -1) {
        KEXT_TRACE(0, L"KextInterface::stopHooking - option 2 failed: %s\n", std::strerror(err));
        fail(KEXT_STOP_HOOKING_FAILED);
    }
    KEXT_TRACE(2, L"KextInterface::stopHooking - Hooking stopped\n");
}

void KextInterface::joinThreads()
{
    // Only the controller's enable and disable, and the destructor, get here
    // while threads exist; never one of the two threads itself.
    if (m_requestThread) {
        m_requestThread->join();
        m_requestThread.reset();
    }
    if (m_responseThread) {
        m_sink.wakeResponseQueue();
        m_responseThread->join();
        m_responseThread.reset();
    }
}

void KextInterface::pushExclusions()
{
    const std::vector<std::string> exclusions = ConfigController::getInstance()->getExclusionsList();
    if (m_control->setOption(kctl::KEXT_OPT_FLUSH_EXCLUSIONS, nullptr, 0) < 0) {
        KEXT_TRACE(0, L"KextInterface::pushExclusions - option 7 failed: %s\n", std::strerror(errno));
        fail(KEXT_FLUSH_EXCLUSIONS_FAILED);
    }
    for (const std::string& path : exclusions) {
        // An empty entry would exclude everything on the kernel's side.
        if (path.empty())
            continue;
        const size_t length = std::min(path.size(), kctl::kMaxExclusionLength);
        KEXT_TRACE(3, L"KextInterface::pushExclusions - Exclusion %s\n", path.c_str());
        if (m_control->setOption(kctl::KEXT_OPT_ADD_EXCLUSION, path.data(), static_cast<socklen_t>(length)) < 0) {
            KEXT_TRACE(0, L"KextInterface::pushExclusions - option 8 failed for %s: %s\n", path.c_str(),
                       std::strerror(errno));
            fail(KEXT_SET_EXCLUSIONS_FAILED);
        }
    }
    KEXT_TRACE(2, L"KextInterface::pushExclusions - Exclusions pushed\n");
}

void KextInterface::updateTimeout()
{
    const int timeout = ConfigController::getInstance()->getPromptTimeout();
    if (m_promptTimeout == timeout)
        return;
    m_promptTimeout = timeout;
    KEXT_TRACE(1, L"KextInterface::updateTimeout - Sending timeout %d\n", timeout);
    const int32_t value = timeout;
    if (m_control->setOption(kctl::KEXT_OPT_PROMPT_TIMEOUT, &value, sizeof value) == -1)
        fail(KEXT_SET_TIMEOUT_FAILED);
}

void KextInterface::pingKext()
{
    KEXT_TRACE(4, L"KextInterface::pingKext - Ping\n");
    if (m_control->setOption(kctl::KEXT_OPT_PING, nullptr, 0) == -1)
        fail(KEXT_PING_FAILED);
}

void KextInterface::purgeKextCache()
{
    KEXT_TRACE(2, L"KextInterface::purgeKextCache - Purging kext cache\n");
    if (m_control->setOption(kctl::KEXT_OPT_PURGE_CACHE, nullptr, 0) == -1)
        throw AppProtException("Unable to purge kext cache ", KEXT_PING_FAILED);
}

void KextInterface::loadKext()
{
    if (!runCommand(kLoadCommand))
        fail(KEXT_LOAD_FAILED);
}

void KextInterface::unloadKext()
{
    if (!runCommand(kUnloadCommand))
        fail(KEXT_UNLOAD_FAILED);
}

namespace {

/// Runs one periodic step of the request thread; false, traced, when it
/// threw, so that the step is tried again on the next pass.
template <class Step> bool periodicStep(Step step)
{
    try {
        step();
        return true;
    } catch (const AppProtException& e) {
        KEXT_TRACE(0, L"KextInterface::getRequestsFromKext - Exception %d: %s\n", static_cast<int>(e.getExceptionId()),
                   e.getExceptionMsg().c_str());
    } catch (...) {
        KEXT_TRACE(0, L"KextInterface::getRequestsFromKext - Unknown exception\n");
    }
    return false;
}

} // namespace

void KextInterface::getRequestsFromKext()
{
    KEXT_TRACE(4, L"KextInterface::getRequestsFromKext - Entry\n");
    std::vector<char> buffer(kRecordsPerReceive * sizeof(ScanRequest));
    // Pings are counted in passes of at most 1 ms each: the first pass, then
    // every 100 x KextHCInterval passes (every pass when it is 0).
    const long long healthCheckInterval = ConfigController::getInstance()->getKextHealthCheckInterval();
    int settingsPass = 0;
    long long pingPass = 0;
    while (m_hooking) {
        // A periodic step that fails is tried again on the next pass; it
        // never keeps the pass from reading requests.
        const bool settingsDone = settingsPass != 0 || periodicStep([this] {
            updateTimeout();
            ConfigController* config = ConfigController::getInstance();
            if (config->getExclusionsChanged()) {
                pushExclusions();
                config->setExclusionsChanged(false);
            }
        });
        if (settingsDone && ++settingsPass == 100)
            settingsPass = 0;
        const bool pinged = pingPass != 0 || periodicStep([this] { pingKext(); });
        if (pinged && ++pingPass / 100 == healthCheckInterval)
            pingPass = 0;

        const int ready = m_control->waitReadable(kPassMicroseconds);
        if (ready < 0) {
            // Not a readable link: try again on the next pass, without
            // spinning on an error that repeats at once.
            std::this_thread::sleep_for(std::chrono::microseconds(kPassMicroseconds));
            continue;
        }
        if (ready == 0)
            continue;
        const ssize_t n = m_control->receive(buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EBADF) {
                KEXT_TRACE(0, L"KextInterface::getRequestsFromKext - Why is kext giving EBADF(%d)?\n", EBADF);
                m_sink.kextLinkLost();
                return;
            }
            continue;
        }
        KEXT_TRACE(4, L"KextInterface::getRequestsFromKext - Received %d bytes\n", static_cast<int>(n));
        const size_t records = static_cast<size_t>(n) / sizeof(ScanRequest);
        for (size_t i = 0; i < records; ++i) {
            ScanRequest request;
            std::memcpy(&request, buffer.data() + i * sizeof(ScanRequest), sizeof request);
            try {
                m_sink.addtoRequestQueue(request);
            } catch (...) {
                KEXT_TRACE(0, L"KextInterface::getRequestsFromKext - Request for cookie %d dropped\n",
                           request.cookie);
            }
        }
    }
    KEXT_TRACE(4, L"KextInterface::getRequestsFromKext - Exit\n");
}

void KextInterface::sendResponseToKext()
{
    KEXT_TRACE(4, L"KextInterface::sendResponseToKext - Entry\n");
    while (m_hooking) {
        try {
            for (const ScanRequest& answer : m_sink.popAllFromResponseQueue())
                sendResponse(answer);
        } catch (...) {
            KEXT_TRACE(0, L"KextInterface::sendResponseToKext - Unknown exception\n");
        }
    }
    KEXT_TRACE(4, L"KextInterface::sendResponseToKext - Exit\n");
}

void KextInterface::sendPendingResponses()
{
    for (const ScanRequest& answer : m_sink.popAllFromResponseQueue())
        sendResponse(answer);
}

void KextInterface::sendResponse(const ScanRequest& answer)
{
    char message[kctl::answer::kSize];
    std::memcpy(message, &kctl::answer::kWord, sizeof kctl::answer::kWord);
    std::memcpy(message + kctl::answer::kRecord, &answer, sizeof answer);
    if (m_control->setOption(kctl::KEXT_OPT_RESPONSE, message, sizeof message) == -1) {
        KEXT_TRACE(0, L"KextInterface::sendResponseToKext - Answer for cookie %d lost: %s\n", answer.cookie,
                   std::strerror(errno));
        return;
    }
    KEXT_TRACE(4, L"KextInterface::sendResponseToKext - Sent answer for cookie %d\n", answer.cookie);
}

} // namespace AppProtection
