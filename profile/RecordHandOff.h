// Records made on one thread and taken on another, in the order made: a
// store's load reads the file on the calling thread while one helper moves
// the records into the store's indexes.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "ThreadSafety.h"

namespace AppProtection {

/// `take(Record&&)` runs once per record put, in order: on the helper, but
/// for the records still queued when finish() is called, which the calling
/// thread takes itself rather than wait for a helper that may be slow to run.
/// The object must not outlive what `take` refers to; its destructor stops
/// the helper (records not yet taken are dropped) and joins it.
template <class Record, class Take> class RecordHandOff {
public:
    /// Records handed over together: the helper wakes once per batch.
    static constexpr size_t kBatch = 512;

    /// Starts the helper; throws std::system_error when no thread can be
    /// started.
    explicit RecordHandOff(Take& take) : m_take(take), m_batch(newBatch())
    {
        m_helper = std::thread([this] { run(); });
    }
    RecordHandOff(const RecordHandOff&) = delete;
    RecordHandOff& operator=(const RecordHandOff&) = delete;
    ~RecordHandOff()
    {
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        if (m_helper.joinable())
            m_helper.join();
    }

    /// A record to fill in place, then to hand over with put().
    Record& next()
    {
        m_batch.emplace_back();
        return m_batch.back();
    }
    /// Hands over the record next() gave once its batch is full. Throws what
    /// `take` threw on the helper, if it did.
    void put()
    {
        if (m_batch.size() < kBatch)
            return;
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            if (m_error)
                std::rethrow_exception(m_error);
            m_queue.push_back(std::move(m_batch));
            if (!m_spare.empty()) {
                m_batch = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        m_wake.notify_one();
        if (m_batch.capacity() == 0)
            m_batch = newBatch();
    }
    /// Returns once every record is taken: the helper ends the batch it is
    /// on, this thread takes the rest. Throws what `take` threw.
    void finish()
    {
        std::deque<std::vector<Record>> rest;
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            rest.swap(m_queue);
            m_done = true;
        }
        m_wake.notify_one();
        m_helper.join();
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            if (m_error)
                std::rethrow_exception(m_error);
        }
        rest.push_back(std::move(m_batch));
        for (std::vector<Record>& batch : rest)
            for (Record& r : batch)
                m_take(std::move(r));
    }

private:
    std::vector<Record> newBatch()
    {
        std::vector<Record> batch;
        batch.reserve(kBatch);
        return batch;
    }

    void run()
    {
        std::vector<Record> batch;
        for (;;) {
            // The emptied batch goes back to the reading thread.
            batch.clear();
            {
                ward::UniqueLock lock(m_mutex);
                if (batch.capacity() > 0)
                    m_spare.push_back(std::move(batch));
                m_wake.wait(lock.native(), [this]() WARD_REQUIRES(m_mutex) {
                    return m_stop || m_done || !m_queue.empty();
                });
                if (m_stop || m_queue.empty())
                    return;
                // One batch at a time: what is queued at the end is taken
                // by the reading thread.
                batch = std::move(m_queue.front());
                m_queue.pop_front();
            }
            try {
                for (Record& r : batch)
                    m_take(std::move(r));
            } catch (...) {
                ward::LockGuard<ward::Mutex> lock(m_mutex);
                m_error = std::current_exception();
                return;
            }
        }
    }

    Take& m_take;
    std::vector<Record> m_batch; ///< filled by the reading thread only
    ward::Mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::vector<Record>> m_queue WARD_GUARDED_BY(m_mutex);
    std::vector<std::vector<Record>> m_spare WARD_GUARDED_BY(m_mutex);
    bool m_done WARD_GUARDED_BY(m_mutex) = false; ///< nothing more is queued
    bool m_stop WARD_GUARDED_BY(m_mutex) = false; ///< drop what is queued
    std::exception_ptr m_error WARD_GUARDED_BY(m_mutex);
    std::thread m_helper;
};

} // namespace AppProtection
