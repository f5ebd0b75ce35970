// Lock annotations that clang's -Wthread-safety checks (other compilers see
// nothing): a member marked WARD_GUARDED_BY(m) is read and written only with
// m held. The analysis knows only annotated lock types, so guarded members'
// mutexes are ward::Mutex and their holders ward::LockGuard.
#pragma once

#include <mutex>

#if defined(__clang__)
#define WARD_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define WARD_THREAD_ANNOTATION(x)
#endif

#define WARD_CAPABILITY(name) WARD_THREAD_ANNOTATION(capability(name))
#define WARD_SCOPED_CAPABILITY WARD_THREAD_ANNOTATION(scoped_lockable)
#define WARD_GUARDED_BY(m) WARD_THREAD_ANNOTATION(guarded_by(m))
#define WARD_PT_GUARDED_BY(m) WARD_THREAD_ANNOTATION(pt_guarded_by(m))
#define WARD_ACQUIRED_BEFORE(...) WARD_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define WARD_REQUIRES(...) WARD_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define WARD_EXCLUDES(...) WARD_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define WARD_ACQUIRE(...) WARD_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define WARD_RELEASE(...) WARD_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define WARD_TRY_ACQUIRE(...) WARD_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define WARD_NO_THREAD_SAFETY_ANALYSIS WARD_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace ward {

/// A std::mutex the analysis knows. It is one: std::unique_lock and
/// std::condition_variable take it as it is (unchecked).
class WARD_CAPABILITY("mutex") Mutex : public std::mutex {
public:
    void lock() WARD_ACQUIRE() { std::mutex::lock(); }
    void unlock() WARD_RELEASE() { std::mutex::unlock(); }
    bool try_lock() WARD_TRY_ACQUIRE(true) { return std::mutex::try_lock(); }
};

/// std::lock_guard for ward::Mutex, seen by the analysis.
class WARD_SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(Mutex& m) WARD_ACQUIRE(m) : m_mutex(m) { m_mutex.lock(); }
    ~LockGuard() WARD_RELEASE() { m_mutex.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Mutex& m_mutex;
};

} // namespace ward
