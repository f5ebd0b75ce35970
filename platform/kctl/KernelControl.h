// The kernel-control socket the daemon talks to its kernel extension through.
//
// On the original platform this is a PF_SYSTEM datagram socket: socket(),
// the CTLIOCGINFO lookup and connect() open it, setsockopt() at level
// SYSPROTO_CONTROL sends an option, select() waits, recv() reads request
// records and close() ends it. The seam keeps those return conventions
// (-1 with errno on failure) so the kernel-link code reads as it would there.
#pragma once

#include <cstddef>
#include <sys/socket.h>
#include <sys/types.h>

namespace kctl {

class KernelControl {
public:
    virtual ~KernelControl() = default;

    /// Connects to the kernel control named `controlName`. 0, or -1 with
    /// errno (no such control, nobody there, or a peer that is not root).
    virtual int open(const char* controlName) = 0;

    /// Sends one option and waits for the kernel's answer to it. 0, or -1
    /// with the errno the kernel answered (EBADF when the link is gone).
    /// Options from several threads are sent one at a time.
    virtual int setOption(int option, const void* value, socklen_t length) = 0;

    /// Waits up to `microseconds` (negative: without limit) for requests or a
    /// hang-up. As select(): 1 ready, 0 timed out, -1 with errno.
    virtual int waitReadable(long microseconds) = 0;

    /// Reads one datagram of requests, at most `length` bytes (the rest of a
    /// longer one is lost). Never blocks. Byte count (0 for an empty
    /// datagram), or -1 with errno: EAGAIN when nothing is there, EBADF once
    /// the kernel side has hung up. Not to be called while close() runs.
    virtual ssize_t receive(void* buffer, size_t length) = 0;

    /// Ends the link; an option waiting for its answer returns EBADF. 0, or
    /// -1 with EBADF when not open.
    virtual int close() = 0;
};

} // namespace kctl
