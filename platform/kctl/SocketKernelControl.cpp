#include "SocketKernelControl.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace kctl {

SocketKernelControl::SocketKernelControl(std::string directory, int replyTimeoutMs)
    : m_directory(std::move(directory)), m_replyTimeoutMs(replyTimeoutMs)
{
}

SocketKernelControl::~SocketKernelControl()
{
    close();
}

int SocketKernelControl::open(const char* controlName)
{
    ward::LockGuard lock(m_optionMutex);
    if (m_data.load() >= 0 || m_control.load() >= 0) {
        errno = EISCONN;
        return -1;
    }
    const std::string path = controlSocketPath(m_directory, controlName ? controlName : "");
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    const int data = connectChannel(path, kDataChannel, m_replyTimeoutMs);
    if (data < 0)
        return -1;
    const int control = connectChannel(path, kControlChannel, m_replyTimeoutMs);
    if (control < 0) {
        const int e = errno;
        ::close(data);
        errno = e;
        return -1;
    }
    m_lateReplies = 0;
    // A reply is then awaited in recv() itself, one call instead of two. A
    // receive time-out of zero would mean none at all.
    const timeval limit{m_replyTimeoutMs / 1000, (m_replyTimeoutMs % 1000) * 1000};
    m_waitInReceive =
        m_replyTimeoutMs > 0 && ::setsockopt(control, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
    m_data.store(data);
    m_control.store(control);
    return 0;
}

int SocketKernelControl::awaitReplyLocked(long long deadlineMs, int32_t& rc, int32_t& err)
{
    const int fd = m_control.load();
    uint8_t reply[kOptionReplySize + 1];
    // The socket's receive time-out is the whole reply time-out: recv() may
    // wait by itself only while that ends no later than the deadline (within
    // the clock's millisecond). Later reads wait for the rest of the deadline.
    bool waitInReceive = m_waitInReceive && deadlineMs - monotonicMs() >= m_replyTimeoutMs - 1;
    for (;;) {
        int flags = 0;
        if (waitInReceive)
            waitInReceive = false;
        else if (const int e = waitUntil(fd, POLLIN, deadlineMs))
            return e;
        else
            flags = MSG_DONTWAIT;
        const ssize_t n = ::recv(fd, reply, sizeof reply, flags);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return linkErrno(errno);
        }
        if (n == 0) {
            if (peerGone(fd))
                return EBADF;
            continue; // an empty datagram answers nothing
        }
        // Answers come in order, one per option: those owed to options
        // that timed out are dropped, never taken for this one's.
        if (m_lateReplies > 0) {
            --m_lateReplies;
            continue;
        }
        if (n != static_cast<ssize_t>(kOptionReplySize))
            return EIO;
        std::memcpy(&rc, reply, 4);
        std::memcpy(&err, reply + 4, 4);
        return 0;
    }
}

int SocketKernelControl::setOption(int option, const void* value, socklen_t length)
{
    if (length > kMaxOptionLength || (value == nullptr && length > 0)) {
        errno = EINVAL;
        return -1;
    }
    // Answers and the other options fit on the stack; larger ones go to the heap.
    uint8_t small[kOptionHeaderSize + 2048];
    std::vector<uint8_t> large;
    uint8_t* message = small;
    const size_t size = kOptionHeaderSize + length;
    if (size > sizeof small) {
        large.resize(size);
        message = large.data();
    }
    const int32_t opt = option;
    const uint32_t len = length;
    std::memcpy(message, &opt, 4);
    std::memcpy(message + 4, &len, 4);
    if (length > 0)
        std::memcpy(message + kOptionHeaderSize, value, length);

    ward::LockGuard lock(m_optionMutex);
    const int fd = m_control.load();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    const long long deadline = monotonicMs() + m_replyTimeoutMs;
    if (const int e = sendMessage(fd, message, size, deadline)) {
        errno = e;
        return -1;
    }
    int32_t rc = 0;
    int32_t err = 0;
    if (const int e = awaitReplyLocked(deadline, rc, err)) {
        if (e == ETIMEDOUT)
            ++m_lateReplies;
        errno = e;
        return -1;
    }
    if (rc == 0)
        return 0;
    errno = err != 0 ? err : EIO;
    return -1;
}

int SocketKernelControl::waitReadable(long microseconds)
{
    const int fd = m_data.load();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    timespec ts{microseconds / 1000000, (microseconds % 1000000) * 1000};
    const int r = ::ppoll(&p, 1, microseconds < 0 ? nullptr : &ts, nullptr);
    if (r <= 0)
        return r;
    if (p.revents & POLLNVAL) {
        errno = EBADF;
        return -1;
    }
    return 1;
}

ssize_t SocketKernelControl::receive(void* buffer, size_t length)
{
    const int fd = m_data.load();
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    const ssize_t n = ::recv(fd, buffer, length, MSG_DONTWAIT);
    if (n < 0) {
        errno = linkErrno(errno);
        return -1;
    }
    if (n == 0 && peerGone(fd)) {
        errno = EBADF;
        return -1;
    }
    return n;
}

int SocketKernelControl::close()
{
    if (m_data.load() < 0 && m_control.load() < 0) {
        errno = EBADF;
        return -1;
    }
    // Wakes an option waiting for its answer before its lock is taken.
    const int waiting = m_control.load();
    if (waiting >= 0)
        ::shutdown(waiting, SHUT_RDWR);
    {
        ward::LockGuard lock(m_optionMutex);
        const int control = m_control.exchange(-1);
        if (control >= 0)
            ::close(control);
        m_lateReplies = 0;
    }
    const int data = m_data.exchange(-1);
    if (data >= 0)
        ::close(data);
    return 0;
}

} // namespace kctl
