// How the firewall driver starts the ipfw tool and collects its status.
//
// The default spawns the program found through PATH with posix_spawnp (no
// fork: the host is threaded, and a forked copy of a large host costs more
// than the tool itself) and reaps it with waitpid. Tests may install their
// own runner, e.g. the in-process one of testing/InProcessIpfw.h.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace ipfw {

class IpfwRunner {
public:
    virtual ~IpfwRunner() = default;
    /// Starts args[0] (looked up through PATH) with `args`, its standard
    /// output and standard error on `outFd`. The child holds no other
    /// descriptor of the caller's that is close-on-exec. Returns the child's
    /// id (> 0), or -1 with errno set: EAGAIN or ENOMEM when no process could
    /// be made, anything else when the program could not be executed.
    virtual pid_t spawn(const std::vector<std::string>& args, int outFd) = 0;
    /// Waits for a child that spawn started, as waitpid(child, status, 0)
    /// does but retrying EINTR. 0, or -1 with errno set.
    virtual int wait(pid_t child, int& status) = 0;
};

/// The installed runner, or the default.
IpfwRunner& runner();

/// Installs a runner; null restores the default. The caller keeps ownership.
/// Returns the runner it replaces (null for the default).
IpfwRunner* setRunner(IpfwRunner* runner);

} // namespace ipfw
