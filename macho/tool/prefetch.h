// Opens the files of a run ahead of their turn on a few threads of its own:
// opening, examining and closing a file and reading its first bytes are
// system calls, which cost a run over many small files more than reading
// them does. The caller takes the files in order on one thread and gets each
// open, with its first bytes read, while the threads open the next ones. A
// file no thread has begun when its turn comes is opened by the caller, so
// busy processors slow the run no more than opening every file itself would.
#pragma once

#include "libstuff/ofile.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class file_prefetch {
public:
    /// Opens `paths[0..count)` ahead on up to `threads` threads; `paths`
    /// stays the caller's until this is destroyed.
    file_prefetch(const char* const* paths, size_t count, unsigned threads);
    /// Joins the threads and closes the files still open.
    ~file_prefetch();
    file_prefetch(const file_prefetch&) = delete;
    file_prefetch& operator=(const file_prefetch&) = delete;

    /// File `i`, open (or fd -1, as ofile_open answers). Files are taken in
    /// order from 0, each once, on one thread; the file and its window stay
    /// valid until release(i).
    const macho::opened_file& take(size_t i);
    /// Done with file `i`, the last one taken: its slot may be reused.
    void release(size_t i);

    /// Files held open at most; each slot holds a descriptor and a window.
    static constexpr size_t kSlots = 64;

private:

    // A slot's state is 4 * the file it is for + one of these.
    enum phase : size_t { kFree = 0, kOpening = 1, kReady = 2 };

    struct slot {
        macho::opened_file file{-1, 0, 0, nullptr, 0};
        char* window = nullptr; // in windows_
        std::atomic<size_t> state{0};
    };

    void run();
    // Waits until file `i` has its slot: the file kSlots before it was
    // released. False when the object is being destroyed.
    bool wait_for_slot(size_t i);
    // Closes the file `s` held and opens file `i` into it.
    void open_into(slot& s, size_t i);

    const char* const* paths_;
    const size_t count_;
    std::unique_ptr<slot[]> slots_;
    // The slots' windows, one block: freeing blocks that other threads
    // allocated costs each a flush of every processor's address cache.
    std::unique_ptr<char[]> windows_;
    std::atomic<size_t> next_{0};     // the next file a thread claims
    std::atomic<size_t> released_{0}; // files before it are released
    std::atomic<bool> taker_waits_{false};
    std::atomic<unsigned> openers_waiting_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_; // for the two waits below; the state is atomic
    std::condition_variable slot_freed_;
    std::condition_variable file_ready_;
    std::vector<std::thread> threads_;
};
