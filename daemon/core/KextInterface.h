// The link to the kernel extension: the kernel-control connection, the
// request thread that reads requests into the request queue and the response
// thread that sends the answers back, the options that tell the kernel
// extension its settings, and the extension's load and unload commands.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "KernelControl.h"
#include "ScanRequest.h"

namespace AppProtection {

/// Where the link's threads take requests to and answers from: the
/// controller's queues.
class KextRequestSink {
public:
    virtual ~KextRequestSink() = default;
    /// Queues a copy of a request read from the kernel extension.
    virtual void addtoRequestQueue(ScanRequest& request) = 0;
    /// Every queued answer, oldest first. While the link hooks, waits a while
    /// when there is none; once hooking stopped, never waits.
    virtual std::vector<ScanRequest> popAllFromResponseQueue() = 0;
    /// Hooking stopped: a waiting popAllFromResponseQueue() returns now.
    virtual void wakeResponseQueue() = 0;
    /// The kernel side is gone (EBADF). Called on the request thread, which
    /// ends right after: the callee must not wait for that thread, so it
    /// hands the disable to another.
    virtual void kextLinkLost() = 0;
};

class KextInterface {
public:
    static constexpr const char* kLoadCommand =
        "/sbin/kextload /usr/local/Vantrel/AppProtection/Extensions/AppProtection.kext";
    static constexpr const char* kUnloadCommand =
        "/sbin/kextunload /usr/local/Vantrel/AppProtection/Extensions/AppProtection.kext";

    KextInterface(std::unique_ptr<kctl::KernelControl> control, KextRequestSink& sink);
    KextInterface(const KextInterface&) = delete;
    KextInterface& operator=(const KextInterface&) = delete;
    /// While hooking: stopHooking, disconnectFromKext, unloadKext; never
    /// throws.
    virtual ~KextInterface();

    /// Opens the link (closing an open one first). 20006 on failure.
    void connectToKext();
    /// Closes the link, once both threads have ended; never throws.
    void disconnectFromKext();
    /// Starts both threads, then sends option 1. On failure both threads
    /// are joined and 20007 is thrown.
    void startHooking();
    /// Sends option 2 and joins both threads, also when the option fails
    /// (20008 then). Not to be called on the request or response thread.
    void stopHooking();
    /// Option 7, then one option 8 per non-empty exclusion, from its own
    /// bytes (at most 1,024). 20010 or 20011 at the first failure.
    void pushExclusions();
    /// Sends the prompt time-out when it differs from the last one stored;
    /// the new value is stored first, so a failed send (20012) is not
    /// repeated until the preference changes again.
    void updateTimeout();
    /// Option 6; 20009.
    void pingKext();
    /// Option 9; 20009 "Unable to purge kext cache ".
    void purgeKextCache();
    /// Run the load or unload command; 20004 or 20005 when it cannot run or
    /// exits non-zero.
    static void loadKext();
    static void unloadKext();

    /// Body of the request thread.
    void getRequestsFromKext();
    /// Body of the response thread.
    void sendResponseToKext();
    /// Sends every queued answer now, on the calling thread: the answers the
    /// disable gives pending alerts go out before the link closes.
    void sendPendingResponses();

    bool isHooking() const { return m_hooking; }
    /// The destructor's work, for an owner whose queues must outlive the
    /// link's threads: it calls this before they go.
    void shutdown() noexcept;

private:
    /// Option 4: the word 1, then the record. A failure loses the answer.
    void sendResponse(const ScanRequest& answer);
    void joinThreads();

    std::unique_ptr<kctl::KernelControl> m_control;
    KextRequestSink& m_sink;
    std::atomic<bool> m_connected{false};
    /// Threads are started and joined by the controller's enable and disable
    /// (one at a time, under its instance mutex) and by the destructor.
    std::unique_ptr<std::thread> m_requestThread;
    std::unique_ptr<std::thread> m_responseThread;
    std::atomic<bool> m_hooking{false};
    std::atomic<int> m_promptTimeout{45};
};

} // namespace AppProtection
