#include "Transport.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kctl {

std::string controlSocketPath(const std::string& directory, const std::string& controlName)
{
    if (controlName.empty() || controlName.find('/') != std::string::npos ||
        controlName.find('\0') != std::string::npos)
        return "";
    std::string path = directory + "/" + controlName;
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        return "";
    return path;
}

void encodeHello(uint8_t out[kHelloSize], uint32_t channel)
{
    const uint32_t words[3] = {kHelloMagic, kHelloVersion, channel};
    std::memcpy(out, words, kHelloSize);
}

bool decodeHello(const uint8_t* in, size_t size, uint32_t& channel)
{
    if (size != kHelloSize)
        return false;
    uint32_t words[3];
    std::memcpy(words, in, kHelloSize);
    if (words[0] != kHelloMagic || words[1] != kHelloVersion)
        return false;
    channel = words[2];
    return true;
}

long long monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int waitUntil(int fd, short events, long long deadlineMs)
{
    for (;;) {
        const long long left = deadlineMs - monotonicMs();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0)
            return (p.revents & POLLNVAL) ? EBADF : 0;
        if (r < 0 && errno != EINTR)
            return errno;
    }
}

int linkErrno(int e)
{
    return e == ECONNRESET || e == EPIPE || e == ENOTCONN || e == ECONNABORTED ? EBADF : e;
}

int sendMessage(int fd, const void* data, size_t size, long long deadlineMs)
{
    for (;;) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<size_t>(n) == size ? 0 : EIO;
        const int e = errno;
        if (e == EINTR)
            continue;
        if (e != EAGAIN && e != EWOULDBLOCK)
            return linkErrno(e);
        if (const int w = waitUntil(fd, POLLOUT, deadlineMs))
            return w;
    }
}

bool peerGone(int fd)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & (POLLHUP | POLLRDHUP | POLLERR)))
        return false;
    int queued = 0;
    return ::ioctl(fd, FIONREAD, &queued) != 0 || queued == 0;
}

int connectChannel(const std::string& path, uint32_t channel, int timeoutMs)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = ENOENT;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    auto fail = [fd](int e) {
        ::close(fd);
        errno = e;
        return -1;
    };
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail(errno);
    // Only root may play the kernel.
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != 0)
        return fail(EPERM);
    const long long deadline = monotonicMs() + timeoutMs;
    uint8_t hello[kHelloSize];
    encodeHello(hello, channel);
    // The kernel side closes a connection it refuses without a word, maybe
    // before the hello could go.
    if (const int e = sendMessage(fd, hello, sizeof hello, deadline))
        return fail(e == EBADF ? ECONNREFUSED : e);
    uint8_t back[kHelloSize + 1];
    for (;;) {
        if (const int e = waitUntil(fd, POLLIN, deadline))
            return fail(e);
        const ssize_t n = ::recv(fd, back, sizeof back, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return fail(ECONNREFUSED);
        uint32_t answered = 0;
        if (!decodeHello(back, static_cast<size_t>(n), answered) || answered != channel)
            return fail(EPROTO);
        return fd;
    }
}

} // namespace kctl
