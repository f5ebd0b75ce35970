// Runs a piece of code in a forked child under an address-space limit and
// reports how it ended and how far its resident memory grew meanwhile.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace wardtest {

/// Built with a sanitizer that reserves its shadow memory up front (address,
/// thread, memory): no address-space limit leaves it room, and resident
/// memory measures the sanitizer as much as the code.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

/// Limits this process to `bytes` of address space; false, and no limit,
/// when built with such a sanitizer or when the limit is refused.
inline bool limitAddressSpace(rlim_t bytes)
{
    const rlimit lim{bytes, bytes};
    return !kSanitized && ::setrlimit(RLIMIT_AS, &lim) == 0;
}

/// Exit codes the harness itself gives; the code's own codes stay below 100.
enum : int { kOutOfMemory = 100, kOtherException = 101, kCrashed = 102 };

struct ChildRun {
    int code = kCrashed;    // what the code returned, or one of the above
    long peakGrowthKiB = -1; // peak resident memory over that at the start, -1 if unknown
};

namespace detail {

/// A "VmRSS:"-style field of /proc/self/status in KiB, -1 if unreadable.
inline long statusKiB(const char* field)
{
    char buf[4096];
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    buf[n] = '\0';
    const char* p = std::strstr(buf, field);
    long kib = -1;
    if (p == nullptr || std::sscanf(p + std::strlen(field), " %ld", &kib) != 1)
        return -1;
    return kib;
}

} // namespace detail

/// Runs `fn` (returning an int below 100) in a child limited to `limit`
/// bytes of address space; no limit under a sanitizer, which reserves far
/// more itself. The peak is measured from the child's resident memory
/// when `fn` starts (the high-water mark is reset then).
template <class Fn> ChildRun runLimited(Fn fn, rlim_t limit = rlim_t(256) << 20)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        limitAddressSpace(limit);
        const long base = detail::statusKiB("VmRSS:");
        const int clear = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
        const bool reset = clear >= 0 && ::write(clear, "5", 1) == 1;
        if (clear >= 0)
            ::close(clear);
        int code = kOtherException;
        try {
            code = fn();
        } catch (const std::bad_alloc&) {
            code = kOutOfMemory;
        } catch (...) {
        }
        const long peak = detail::statusKiB("VmHWM:");
        const long growth = reset && base >= 0 && peak >= 0 ? peak - base : -1;
        (void)!::write(fds[1], &growth, sizeof growth);
        ::_exit(code);
    }
    ::close(fds[1]);
    ChildRun run;
    if (pid > 0) {
        long growth = -1;
        if (::read(fds[0], &growth, sizeof growth) == static_cast<ssize_t>(sizeof growth))
            run.peakGrowthKiB = growth;
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            run.code = WEXITSTATUS(status);
    }
    ::close(fds[0]);
    return run;
}

} // namespace wardtest
