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
#define WARD_REQUIRES_SHARED(...) WARD_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define WARD_EXCLUDES(...) WARD_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define WARD_ACQUIRE(...) WARD_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define WARD_ACQUIRE_SHARED(...) WARD_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define WARD_RELEASE(...) WARD_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define WARD_RELEASE_SHARED(...) WARD_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define WARD_TRY_ACQUIRE(...) WARD_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define WARD_TRY_ACQUIRE_SHARED(...) WARD_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
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

/// A std::recursive_mutex the analysis knows. The analysis does not follow
/// calls: a function that locks it may call another that locks it again.
class WARD_CAPABILITY("mutex") RecursiveMutex : public std::recursive_mutex {
public:
    void lock() WARD_ACQUIRE() { std::recursive_mutex::lock(); }
    void unlock() WARD_RELEASE() { std::recursive_mutex::unlock(); }
    bool try_lock() WARD_TRY_ACQUIRE(true) { return std::recursive_mutex::try_lock(); }
};

/// A reader-writer lock the analysis knows, over a mutex type with lock()
/// and lock_shared() (std::shared_mutex, boost::shared_mutex).
template <class M>
class WARD_CAPABILITY("mutex") SharedMutex : public M {
public:
    void lock() WARD_ACQUIRE() { M::lock(); }
    void unlock() WARD_RELEASE() { M::unlock(); }
    void lock_shared() WARD_ACQUIRE_SHARED() { M::lock_shared(); }
    void unlock_shared() WARD_RELEASE_SHARED() { M::unlock_shared(); }
};

/// std::lock_guard for the lock types above, seen by the analysis.
template <class M>
class WARD_SCOPED_CAPABILITY LockGuard {
public:
    explicit LockGuard(M& m) WARD_ACQUIRE(m) : m_mutex(m) { m_mutex.lock(); }
    ~LockGuard() WARD_RELEASE() { m_mutex.unlock(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    M& m_mutex;
};

/// The shared hold of a SharedMutex for one scope.
template <class M>
class WARD_SCOPED_CAPABILITY SharedLockGuard {
public:
    explicit SharedLockGuard(SharedMutex<M>& m) WARD_ACQUIRE_SHARED(m) : m_mutex(m) { m_mutex.lock_shared(); }
    ~SharedLockGuard() WARD_RELEASE() { m_mutex.unlock_shared(); }
    SharedLockGuard(const SharedLockGuard&) = delete;
    SharedLockGuard& operator=(const SharedLockGuard&) = delete;

private:
    SharedMutex<M>& m_mutex;
};

/// A held ward::Mutex a std::condition_variable can wait on: native() is
/// the std::unique_lock to hand to wait(). The wait gives the mutex up and
/// takes it back before it returns, so the scope holds it throughout as far
/// as the analysis is concerned. A predicate handed to wait() that reads
/// guarded members says so with WARD_REQUIRES.
class WARD_SCOPED_CAPABILITY UniqueLock {
public:
    explicit UniqueLock(Mutex& m) WARD_ACQUIRE(m) : m_lock(m) {}
    ~UniqueLock() WARD_RELEASE() {}
    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    std::unique_lock<std::mutex>& native() { return m_lock; }

private:
    std::unique_lock<std::mutex> m_lock;
};

} // namespace ward
