#include "SignalThread.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <stdexcept>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace AppProtection {

SignalThread::SignalThread(std::initializer_list<int> signals, std::function<void(int)> handler)
    : m_handler(std::move(handler))
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals)
        sigaddset(&set, s);
    m_signalFd = ::signalfd(-1, &set, SFD_CLOEXEC);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_signalFd < 0 || m_stopFd < 0) {
        if (m_signalFd >= 0)
            ::close(m_signalFd);
        if (m_stopFd >= 0)
            ::close(m_stopFd);
        throw std::runtime_error("SignalThread: no signalfd or eventfd");
    }
    m_thread = std::thread([this] { run(); });
}

SignalThread::~SignalThread()
{
    stop();
}

void SignalThread::stop()
{
    if (!m_thread.joinable())
        return;
    const uint64_t one = 1;
    (void)!::write(m_stopFd, &one, sizeof one);
    m_thread.join();
    ::close(m_signalFd);
    ::close(m_stopFd);
    m_signalFd = m_stopFd = -1;
}

void SignalThread::run()
{
    for (;;) {
        pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        signalfd_siginfo info;
        const ssize_t n = ::read(m_signalFd, &info, sizeof info);
        if (n != static_cast<ssize_t>(sizeof info))
            continue;
        try {
            m_handler(static_cast<int>(info.ssi_signo));
        } catch (...) {
        }
    }
}

} // namespace AppProtection
