// How the kernel-control link runs over Unix sockets on Linux.
//
// The kernel side listens on a SOCK_SEQPACKET socket named after the control
// name in kControlDirectory (0700, root). open() makes two connections and
// each end begins each with a hello: a data connection, on which requests
// come as datagrams of whole records, and a control connection, which
// carries one message per option, {int32 option, uint32 length, bytes}, and
// one reply per option, {int32 rc, int32 errno}. Both ends refuse a peer
// whose SO_PEERCRED uid is not 0. All integers are in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kctl {

constexpr char kControlDirectory[] = "/usr/local/Vantrel/AppProtection/var/kctl";

constexpr uint32_t kHelloMagic = 0x4c54434b; // "KCTL" in memory order
constexpr uint32_t kHelloVersion = 1;
constexpr size_t kHelloSize = 12;             // magic, version, channel

enum Channel : uint32_t {
    kDataChannel = 0,
    kControlChannel = 1,
};

constexpr size_t kOptionHeaderSize = 8;  // int32 option, uint32 length
constexpr size_t kOptionReplySize = 8;   // int32 rc, int32 errno
/// Longest option payload either end handles; the largest real one is an
/// answer of 1,076 bytes.
constexpr uint32_t kMaxOptionLength = 64 * 1024;

/// The kernel side's socket for `controlName` in `directory`, or "" when the
/// name cannot be one (empty, holding '/', too long for a socket address).
std::string controlSocketPath(const std::string& directory, const std::string& controlName);

void encodeHello(uint8_t out[kHelloSize], uint32_t channel);

/// True when `size` bytes at `in` are a hello of this version; its channel.
bool decodeHello(const uint8_t* in, size_t size, uint32_t& channel);

/// Milliseconds of the monotonic clock, for deadlines.
long long monotonicMs();

/// Waits until `fd` has one of `events` (a hang-up counts) or the deadline
/// passes. 0, or an errno value (ETIMEDOUT).
int waitUntil(int fd, short events, long long deadlineMs);

/// The errors a socket gives once its peer is gone (ECONNRESET, EPIPE,
/// ENOTCONN, ECONNABORTED) as EBADF, the kernel control's word for a link
/// that no longer exists; other values as they are.
int linkErrno(int e);

/// Sends one whole message, waiting for room until the deadline, never
/// raising SIGPIPE. 0, or an errno value: EBADF once the peer is gone.
int sendMessage(int fd, const void* data, size_t size, long long deadlineMs);

/// Whether a connection whose recv() just returned 0 was closed by its
/// peer. A close and an empty datagram both read 0; only a close sets the
/// hang-up bits. Data still queued behind an empty datagram is read first.
bool peerGone(int fd);

/// Connects to the kernel side at `path` on `channel`: checks that the peer
/// is root, sends the hello and waits up to `timeoutMs` for its answer.
/// The connection, or -1 with errno (ENOENT, ECONNREFUSED, EPERM, ETIMEDOUT,
/// EPROTO for an answer that is not the hello).
int connectChannel(const std::string& path, uint32_t channel, int timeoutMs);

} // namespace kctl
