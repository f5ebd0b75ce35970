// The Linux kernel-control link: KernelControl over the two SOCK_SEQPACKET
// connections described in Transport.h.
#pragma once

#include <atomic>
#include <mutex>

#include "ThreadSafety.h"
#include <string>

#include "KernelControl.h"
#include "Transport.h"

namespace kctl {

class SocketKernelControl : public KernelControl {
public:
    /// Connects to sockets in `directory`; an option unanswered for
    /// `replyTimeoutMs` fails with ETIMEDOUT, as does a hello.
    explicit SocketKernelControl(std::string directory = kControlDirectory, int replyTimeoutMs = 5000);
    ~SocketKernelControl() override;
    SocketKernelControl(const SocketKernelControl&) = delete;
    SocketKernelControl& operator=(const SocketKernelControl&) = delete;

    int open(const char* controlName) override;
    int setOption(int option, const void* value, socklen_t length) override;
    int waitReadable(long microseconds) override;
    ssize_t receive(void* buffer, size_t length) override;
    int close() override;

private:
    /// Reads replies until the current option's, up to the deadline.
    int awaitReplyLocked(long long deadlineMs, int32_t& rc, int32_t& err) WARD_REQUIRES(m_optionMutex);

    const std::string m_directory;
    const int m_replyTimeoutMs;
    std::atomic<int> m_data{-1};    // read by the request reader only
    std::atomic<int> m_control{-1}; // written under m_optionMutex
    ward::Mutex m_optionMutex;      // one option and its reply at a time
    unsigned m_lateReplies WARD_GUARDED_BY(m_optionMutex) = 0; // owed to timed-out options
    /// The control connection's receive time-out is the reply time-out.
    bool m_waitInReceive WARD_GUARDED_BY(m_optionMutex) = false;
};

} // namespace kctl
