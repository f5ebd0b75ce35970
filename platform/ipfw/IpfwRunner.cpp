#include "IpfwRunner.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ipfw {

namespace {

class SpawnRunner : public IpfwRunner {
public:
    pid_t spawn(const std::vector<std::string>& args, int outFd) override
    {
        if (args.empty()) {
            errno = EINVAL;
            return -1;
        }
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        // dup2 onto itself would keep close-on-exec set: a descriptor 1 or 2
        // is first copied above them.
        int w = outFd;
        if (w <= 2) {
            w = ::fcntl(outFd, F_DUPFD_CLOEXEC, 3);
            if (w < 0)
                return -1;
        }
        posix_spawn_file_actions_t actions;
        int rc = ::posix_spawn_file_actions_init(&actions);
        if (rc == 0) {
            rc = ::posix_spawn_file_actions_adddup2(&actions, w, 1);
            if (rc == 0)
                rc = ::posix_spawn_file_actions_adddup2(&actions, w, 2);
            pid_t pid = -1;
            if (rc == 0)
                rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
            ::posix_spawn_file_actions_destroy(&actions);
            if (rc == 0) {
                if (w != outFd)
                    ::close(w);
                return pid;
            }
        }
        if (w != outFd)
            ::close(w);
        errno = rc;
        return -1;
    }

    int wait(pid_t child, int& status) override
    {
        for (;;) {
            pid_t r = ::waitpid(child, &status, 0);
            if (r == child)
                return 0;
            if (r < 0 && errno == EINTR)
                continue;
            return -1;
        }
    }
};

SpawnRunner s_spawnRunner;
std::atomic<IpfwRunner*> s_installed{nullptr};

} // namespace

IpfwRunner& runner()
{
    IpfwRunner* r = s_installed.load(std::memory_order_acquire);
    return r != nullptr ? *r : s_spawnRunner;
}

IpfwRunner* setRunner(IpfwRunner* runner)
{
    return s_installed.exchange(runner, std::memory_order_acq_rel);
}

} // namespace ipfw
