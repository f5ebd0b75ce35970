#include "KernelSide.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "FileIO.h"

namespace kctl {

static_assert(sizeof(sockaddr_in) == record::kPeerAddressSize, "the record holds this platform's sockaddr_in");

namespace {

/// mkdir -p with missing parents 0755 and the last folder `mode`, which an
/// existing last folder is given too. 0 or an errno value.
int makeFolder(const std::string& path, mode_t mode)
{
    // The last folder is made with its own mode: never open wider meanwhile.
    if (const int e = wardfile::makeDirectories(wardfile::parentPath(path), 0755))
        return e;
    if (const int e = wardfile::makeDirectories(path, mode))
        return e;
    return ::chmod(path.c_str(), mode) == 0 ? 0 : errno;
}

bool sockaddrFor(const std::string& path, sockaddr_un& addr)
{
    addr = sockaddr_un{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

template <class T> void put(uint8_t* out, size_t offset, T value)
{
    std::memcpy(out + offset, &value, sizeof value);
}

template <class T> T get(const uint8_t* in, size_t offset)
{
    T value;
    std::memcpy(&value, in + offset, sizeof value);
    return value;
}

} // namespace

bool KernelListener::listen(const std::string& path, std::string& error)
{
    close();
    sockaddr_un addr;
    if (!sockaddrFor(path, addr)) {
        error = "socket path too long: " + path;
        return false;
    }
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int e = makeFolder(path.substr(0, slash), 0700)) {
            error = "cannot make " + path.substr(0, slash) + ": " + std::strerror(e);
            return false;
        }
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        // Another kernel side answering there: refuse. Nobody: a stale socket.
        const int probe = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        const bool answered = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0)
            ::close(probe);
        if (answered) {
            error = "another kernel side answers on " + path;
            return false;
        }
        ::unlink(path.c_str());
    }
    m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::lstat(path.c_str(), &st) != 0 || ::listen(m_fd, 64) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_path = path;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    return true;
}

void KernelListener::close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    struct stat st;
    if (::lstat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino)
        ::unlink(m_path.c_str());
}

Peer acceptPeer(int listenFd)
{
    Peer peer;
    peer.fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (peer.fd < 0)
        return peer;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(peer.fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
        peer.pid = cred.pid;
        peer.uid = cred.uid;
    }
    return peer;
}

bool readHello(int fd, uint32_t& channel)
{
    uint8_t buf[kHelloSize + 1];
    ssize_t n;
    do
        n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    return n > 0 && decodeHello(buf, static_cast<size_t>(n), channel);
}

bool sendHello(int fd, uint32_t channel)
{
    uint8_t hello[kHelloSize];
    encodeHello(hello, channel);
    return sendMessage(fd, hello, sizeof hello, monotonicMs() + 1000) == 0;
}

OptionReader::OptionReader() : m_buffer(new uint8_t[kOptionHeaderSize + kMaxOptionLength]) {}

ReadStatus OptionReader::read(int fd, bool wait)
{
    iovec iov{m_buffer.get(), kOptionHeaderSize + kMaxOptionLength};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    do
        n = ::recvmsg(fd, &msg, wait ? 0 : MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? ReadStatus::Again : ReadStatus::HangUp;
    if (n == 0)
        return peerGone(fd) ? ReadStatus::HangUp : ReadStatus::Malformed;
    if ((msg.msg_flags & MSG_TRUNC) || static_cast<size_t>(n) < kOptionHeaderSize)
        return ReadStatus::Malformed;
    m_option = get<int32_t>(m_buffer.get(), 0);
    m_length = get<uint32_t>(m_buffer.get(), 4);
    if (uint64_t(m_length) + kOptionHeaderSize != uint64_t(n))
        return ReadStatus::Malformed;
    return ReadStatus::Message;
}

bool replyOption(int fd, int32_t rc, int32_t err)
{
    uint8_t reply[kOptionReplySize];
    put(reply, 0, rc);
    put(reply, 4, err);
    return sendMessage(fd, reply, sizeof reply, monotonicMs() + 1000) == 0;
}

void Link::close()
{
    if (data >= 0)
        ::close(data);
    if (control >= 0)
        ::close(control);
    data = control = -1;
}

bool acceptLink(int listenFd, Link& link, int timeoutMs, std::string& error)
{
    const long long deadline = monotonicMs() + timeoutMs;
    std::map<pid_t, Link> partial; // by peer pid: the two connections of one open()
    auto waitFor = [&](int fd) {
        const long long left = deadline - monotonicMs();
        pollfd p{fd, POLLIN, 0};
        return left > 0 && ::poll(&p, 1, static_cast<int>(left)) > 0;
    };
    while (waitFor(listenFd)) {
        const Peer peer = acceptPeer(listenFd);
        if (peer.fd < 0)
            continue;
        uint32_t channel = 0;
        if (peer.uid != 0 || !waitFor(peer.fd) || !readHello(peer.fd, channel) ||
            (channel != kDataChannel && channel != kControlChannel) || !sendHello(peer.fd, channel)) {
            ::close(peer.fd);
            continue;
        }
        Link& l = partial[peer.pid];
        int& slot = channel == kDataChannel ? l.data : l.control;
        if (slot >= 0)
            ::close(slot);
        slot = peer.fd;
        l.pid = peer.pid;
        if (l.data >= 0 && l.control >= 0) {
            link = l;
            partial.erase(peer.pid);
            for (auto& e : partial)
                e.second.close();
            return true;
        }
    }
    for (auto& e : partial)
        e.second.close();
    error = "no daemon opened the link within " + std::to_string(timeoutMs) + " ms";
    return false;
}

void RequestRecord::encode(uint8_t* out) const
{
    std::memset(out, 0, record::kSize);
    put(out, record::kPid, pid);
    put(out, record::kReserved1, reserved1);
    put(out, record::kReserved2, reserved2);
    put(out, record::kRequestType, requestType);
    put(out, record::kResult, result);
    put(out, record::kPadding, padding);
    put(out, record::kProtocol, protocol);
    put(out, record::kCookie, cookie);
    std::memcpy(out + record::kPath, path.data(), std::min(path.size(), record::kPathSize));
    std::memcpy(out + record::kPeerAddress, &peer, sizeof peer);
    put(out, record::kNetworkAction, networkAction);
}

RequestRecord RequestRecord::decode(const uint8_t* in)
{
    RequestRecord r;
    r.pid = get<int32_t>(in, record::kPid);
    r.reserved1 = get<int32_t>(in, record::kReserved1);
    r.reserved2 = get<int32_t>(in, record::kReserved2);
    r.requestType = get<int32_t>(in, record::kRequestType);
    r.result = get<int16_t>(in, record::kResult);
    r.padding = get<uint16_t>(in, record::kPadding);
    r.protocol = get<int32_t>(in, record::kProtocol);
    r.cookie = get<int32_t>(in, record::kCookie);
    const char* path = reinterpret_cast<const char*>(in + record::kPath);
    r.path.assign(path, ::strnlen(path, record::kPathSize));
    std::memcpy(&r.peer, in + record::kPeerAddress, sizeof r.peer);
    r.networkAction = get<int32_t>(in, record::kNetworkAction);
    return r;
}

} // namespace kctl
