// The daemon's signals, handled on an ordinary thread: the work they start
// (stopping the broker, reopening the trace file, reloading the agent's
// plug-ins) is not async-signal-safe.
#pragma once

#include <functional>
#include <initializer_list>
#include <thread>

namespace AppProtection {

class SignalThread {
public:
    /// Starts a thread that calls `handler` with each of `signals` as it
    /// arrives, in arrival order. The signals must be blocked in every
    /// thread of the process (block them before the first thread starts).
    SignalThread(std::initializer_list<int> signals, std::function<void(int)> handler);
    /// stop().
    ~SignalThread();
    SignalThread(const SignalThread&) = delete;
    SignalThread& operator=(const SignalThread&) = delete;

    /// Waits for a handler that runs, then ends and joins the thread;
    /// signals that come later stay pending. Idempotent.
    void stop();

private:
    void run();

    std::function<void(int)> m_handler;
    int m_signalFd = -1;
    int m_stopFd = -1;
    std::thread m_thread;
};

} // namespace AppProtection
