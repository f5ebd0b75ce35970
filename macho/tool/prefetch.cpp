#include "prefetch.h"

#include <system_error>
#include <unistd.h>

namespace {

// How long the taker waits for a file being opened before it sleeps: a few
// microseconds, about what an open takes; being woken costs more. Longer
// only takes processor time from the openers on a busy machine.
constexpr int kSpins = 200;

inline void cpu_relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

} // namespace

file_prefetch::file_prefetch(const char* const* paths, size_t count, unsigned threads)
    : paths_(paths), count_(count), slots_(new slot[kSlots]), windows_(new char[kSlots * macho::kMaxReadWindow])
{
    for (size_t k = 0; k < kSlots; ++k) {
        slots_[k].window = windows_.get() + k * macho::kMaxReadWindow;
        slots_[k].state.store(4 * k + kFree);
    }
    try {
        for (unsigned t = 0; t < threads; ++t)
            threads_.emplace_back([this] { run(); });
    } catch (const std::system_error&) {
        // Fewer threads, or none: take() opens what they do not.
    }
}

file_prefetch::~file_prefetch()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_.store(true);
    }
    slot_freed_.notify_all();
    for (std::thread& t : threads_)
        t.join();
    for (size_t k = 0; k < kSlots; ++k)
        if (slots_[k].file.fd >= 0)
            close(slots_[k].file.fd);
}

void file_prefetch::open_into(slot& s, size_t i)
{
    if (s.file.fd >= 0)
        close(s.file.fd);
    s.file = macho::ofile_open(paths_[i], s.window);
}

void file_prefetch::run()
{
    while (!stopping_.load()) {
        const size_t i = next_.fetch_add(1);
        if (i >= count_ || !wait_for_slot(i))
            return;
        slot& s = slots_[i % kSlots];
        size_t free = 4 * i + kFree;
        // The taker may have opened it already.
        if (!s.state.compare_exchange_strong(free, 4 * i + kOpening))
            continue;
        open_into(s, i);
        s.state.store(4 * i + kReady);
        if (taker_waits_.load()) {
            std::lock_guard<std::mutex> lock(mutex_);
            file_ready_.notify_one();
        }
    }
}

bool file_prefetch::wait_for_slot(size_t i)
{
    if (i < released_.load() + kSlots)
        return true;
    std::unique_lock<std::mutex> lock(mutex_);
    openers_waiting_.fetch_add(1);
    slot_freed_.wait(lock, [&] { return stopping_.load() || i < released_.load() + kSlots; });
    openers_waiting_.fetch_sub(1);
    return !stopping_.load();
}

const macho::opened_file& file_prefetch::take(size_t i)
{
    slot& s = slots_[i % kSlots];
    size_t free = 4 * i + kFree;
    if (s.state.load() == free && s.state.compare_exchange_strong(free, 4 * i + kOpening)) {
        // No thread has begun it: the threads are behind, and go on after it.
        size_t next = next_.load();
        while (next <= i && !next_.compare_exchange_weak(next, i + 1)) {
        }
        open_into(s, i);
        s.state.store(4 * i + kReady);
        return s.file;
    }
    const size_t ready = 4 * i + kReady;
    for (int spin = 0; spin < kSpins && s.state.load() != ready; ++spin)
        cpu_relax();
    if (s.state.load() != ready) {
        std::unique_lock<std::mutex> lock(mutex_);
        taker_waits_.store(true);
        file_ready_.wait(lock, [&] { return s.state.load() == ready; });
        taker_waits_.store(false);
    }
    return s.file;
}

void file_prefetch::release(size_t i)
{
    slots_[i % kSlots].state.store(4 * (i + kSlots) + kFree);
    released_.store(i + 1);
    // Openers that ran a full set of slots ahead wait; they are woken when
    // half of the slots are free again, not for each file.
    if (openers_waiting_.load() != 0 && (i + 1) % (kSlots / 2) == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        slot_freed_.notify_all();
    }
}
