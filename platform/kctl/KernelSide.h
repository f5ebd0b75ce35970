// The kernel extension's end of the Linux kernel-control link (Transport.h):
// listening, checking peers, hellos, option messages and their replies,
// request datagrams, and request records by field. kextsim and kextbench
// play the kernel with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/types.h>

#include "KextWire.h"
#include "Transport.h"

namespace kctl {

class KernelListener {
public:
    KernelListener() = default;
    ~KernelListener() { close(); }
    KernelListener(const KernelListener&) = delete;
    KernelListener& operator=(const KernelListener&) = delete;

    /// Makes the socket's folder (mode 0700, missing parents 0755), replaces
    /// a stale socket and listens (non-blocking). False, with `error`, when
    /// that fails or another kernel side answers at `path`.
    bool listen(const std::string& path, std::string& error);
    int fd() const { return m_fd; }
    /// Stops listening; removes the socket if it is still the one made here.
    void close();

private:
    int m_fd = -1;
    std::string m_path;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
};

/// A connection just accepted, non-blocking, with its peer's credentials.
struct Peer {
    int fd = -1;
    pid_t pid = 0;
    uid_t uid = static_cast<uid_t>(-1);
};

/// Accepts one waiting connection; fd -1 when there is none. Refusing a peer
/// whose uid is not 0 is the caller's part, so that it can say so.
Peer acceptPeer(int listenFd);

/// Reads the hello a connection begins with. False when what came is not a
/// hello of this version, or nothing came yet, or the peer closed.
bool readHello(int fd, uint32_t& channel);
/// Answers a hello.
bool sendHello(int fd, uint32_t channel);

enum class ReadStatus {
    Message,   // one option read
    Malformed, // a message that is not an option; it has been consumed
    HangUp,    // the peer closed
    Again,     // nothing to read now
};

/// Reads option messages from a control connection into one buffer of the
/// largest allowed size, allocated once.
class OptionReader {
public:
    OptionReader();
    /// Reads without waiting; with `wait`, waits as the socket's blocking
    /// mode and receive time-out say (Again once that time-out passed).
    ReadStatus read(int fd, bool wait = false);
    int32_t option() const { return m_option; }
    uint32_t length() const { return m_length; }
    const uint8_t* payload() const { return m_buffer.get() + kOptionHeaderSize; }

private:
    std::unique_ptr<uint8_t[]> m_buffer;
    int32_t m_option = 0;
    uint32_t m_length = 0;
};

/// Answers the option just read. False when the peer is gone.
bool replyOption(int fd, int32_t rc, int32_t err);

/// Both connections of one daemon, hellos answered.
struct Link {
    int data = -1;
    int control = -1;
    pid_t pid = 0;
    void close();
};

/// Accepts connections until one peer has opened both channels, refusing
/// peers that are not root or do not begin with a hello. Blocks up to
/// `timeoutMs`; false with `error` when no link was made.
bool acceptLink(int listenFd, Link& link, int timeoutMs, std::string& error);

/// A request record by field, as the kernel extension writes it.
struct RequestRecord {
    int32_t pid = 0;
    int32_t reserved1 = 0;
    int32_t reserved2 = 0;
    int32_t requestType = 0;
    int16_t result = 0;
    uint16_t padding = 0;
    int32_t protocol = 0;
    int32_t cookie = 0;
    std::string path; // at most record::kPathSize bytes; NUL-terminated when shorter
    sockaddr_in peer{}; // sin_port as a plain number, sin_addr in network order
    int32_t networkAction = 0;

    /// Writes record::kSize bytes.
    void encode(uint8_t* out) const;
    /// Reads record::kSize bytes; the path stops at its NUL or after 1,024 bytes.
    static RequestRecord decode(const uint8_t* in);
};

} // namespace kctl
