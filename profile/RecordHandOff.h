// Records made on one thread and taken on another, in the order made: a
// store's load reads the file on the calling thread while one helper moves
// the records into the store's indexes.
#pragma once

#include <condition_variable>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "ThreadSafety.h"

namespace AppProtection {

/// `take(Record&&)` runs on the helper only, once per record put, in order.
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
        if (m_batch.size() >= kBatch)
            handOver(false);
    }
    /// Hands over what is left and returns once every record is taken; throws
    /// what `take` threw, if it did.
    void finish()
    {
        handOver(true);
        m_helper.join();
        ward::LockGuard<ward::Mutex> lock(m_mutex);
        if (m_error)
            std::rethrow_exception(m_error);
    }

private:
    std::vector<Record> newBatch()
    {
        std::vector<Record> batch;
        batch.reserve(kBatch);
        return batch;
    }

    void handOver(bool last)
    {
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            if (m_error)
                std::rethrow_exception(m_error);
            if (!m_batch.empty())
                m_queue.push_back(std::move(m_batch));
            if (last) {
                m_done = true;
            } else if (!m_spare.empty()) {
                m_batch = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        m_wake.notify_one();
        if (!last && m_batch.capacity() == 0)
            m_batch = newBatch();
    }

    void run()
    {
        std::vector<std::vector<Record>> work;
        for (;;) {
            for (std::vector<Record>& batch : work)
                batch.clear();
            {
                ward::UniqueLock lock(m_mutex);
                // The emptied batches go back to the reading thread.
                for (std::vector<Record>& batch : work)
                    m_spare.push_back(std::move(batch));
                work.clear();
                m_wake.wait(lock.native(), [this]() WARD_REQUIRES(m_mutex) {
                    return m_stop || m_done || !m_queue.empty();
                });
                if (m_stop || m_queue.empty())
                    return;
                work.swap(m_queue);
            }
            try {
                for (std::vector<Record>& batch : work)
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
    std::vector<std::vector<Record>> m_queue WARD_GUARDED_BY(m_mutex);
    std::vector<std::vector<Record>> m_spare WARD_GUARDED_BY(m_mutex);
    bool m_done WARD_GUARDED_BY(m_mutex) = false; ///< nothing more will be put
    bool m_stop WARD_GUARDED_BY(m_mutex) = false; ///< drop what is queued
    std::exception_ptr m_error WARD_GUARDED_BY(m_mutex);
    std::thread m_helper;
};

} // namespace AppProtection
