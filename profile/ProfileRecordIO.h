// The records' fields in the profile file, in their stored order.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "DependentRecord.h"
#include "DetailedAppRecord.h"
#include "NetworkRule.h"
#include "ProfileArchive.h"

namespace AppProtection {

class ProfileRecordIO {
public:
    static void save(ProfileOArchive& ar, const NetworkRule& rule);
    static void load(ProfileIArchive& ar, NetworkRule& rule);
    /// Path, fingerprint, group, modified, dependencies, changed
    /// dependencies, launch, rules, enabled, network action.
    static void save(ProfileOArchive& ar, const DetailedAppRecord& record);
    /// The rules are kept in the order read.
    static void load(ProfileIArchive& ar, DetailedAppRecord& record);
    /// The same in two steps, that may run on two threads: `read` reads the
    /// record, leaving its key fields to be set and the texts of its lists
    /// in `later`; `complete` sets the keys and makes the lists. Records are
    /// completed in the order they were read into one spool.
    static void read(ProfileIArchive& ar, DetailedAppRecord& record, TextSpool& later);
    static void complete(DetailedAppRecord& record, TextSpool& later);
    /// Payload order: path, fingerprint, group, launch, rules, modified,
    /// changed dependencies, enabled, network action.
    static void save(ProfileOArchive& ar, const BasicAppRecord& record);
    /// Name, fingerprint, application count, applications.
    static void save(ProfileOArchive& ar, const DependentRecord& record);
    /// The count is taken as written; the verified flag is cleared.
    static void load(ProfileIArchive& ar, DependentRecord& record);
    static void read(ProfileIArchive& ar, DependentRecord& record, TextSpool& later);
    static void complete(DependentRecord& record, TextSpool& later);

    static void saveVector(ProfileOArchive& ar, const std::vector<DetailedAppRecord>& records);
    static std::vector<DetailedAppRecord> loadAppVector(ProfileIArchive& ar);
    static void saveVector(ProfileOArchive& ar, const std::vector<DependentRecord>& records);
    static std::vector<DependentRecord> loadDependentVector(ProfileIArchive& ar);

    /// A collection of records: its preamble (as `className`), its count and
    /// every record of `records` (any container with size()), in its order.
    template <class Records> static void saveAll(ProfileOArchive& ar, const char* className, const Records& records)
    {
        ar.beginClass(className);
        ar.writeUnsigned(records.size());
        for (const auto& r : records)
            save(ar, r);
    }
    /// Reads such a collection into a new index set (see loadAll): each
    /// record is moved in through the first index with its end as the hint
    /// (a store writes its records in that index's order). A record whose
    /// unique key repeats one already read is dropped. `prepare` gets the
    /// new set and the record count first (no more of it than the input
    /// left can hold, see reservable), to size what the set allows.
    template <class Set, class Record = typename Set::value_type, class Prepare>
    static Set loadSet(ProfileIArchive& ar, const char* className, Prepare&& prepare)
    {
        Set loaded;
        auto& first = loaded.template get<0>();
        loadAll<Record>(
            ar, className, [&](Record&& r) { first.insert(first.end(), std::move(r)); },
            [&](size_t count) { prepare(loaded, count); });
        return loaded;
    }
    template <class Set, class Record = typename Set::value_type>
    static Set loadSet(ProfileIArchive& ar, const char* className)
    {
        return loadSet<Set, Record>(ar, className, [](Set&, size_t) {});
    }
    /// Reads such a collection, handing each record to `take` (by rvalue: it
    /// may be moved away) in file order, on the calling thread. A large
    /// collection is read on a helper thread, a batch at a time, while this
    /// one completes the records and takes them: `take` must not use the
    /// archive. What the reading or `take` throws reaches the caller once
    /// the helper is joined; a refusal drops the records read but not yet
    /// taken.
    template <class Record, class Take> static void loadAll(ProfileIArchive& ar, const char* className, Take&& take)
    {
        loadAll<Record>(ar, className, std::forward<Take>(take), [](size_t) {});
    }
    /// The same, telling `begin` first how many records may be reserved for.
    template <class Record, class Take, class Begin>
    static void loadAll(ProfileIArchive& ar, const char* className, Take&& take, Begin&& begin)
    {
        ar.beginClass(className);
        uint32_t count = ar.readCount();
        begin(ar.reservable(count, sizeof(Record)));
        if (count >= kHandOverFrom && loadHandingOver<Record>(ar, count, take))
            return;
        TextSpool later;
        for (uint32_t i = 0; i < count; ++i) {
            Record r;
            read(ar, r, later);
            complete(r, later);
            later.clear();
            take(std::move(r));
        }
    }

private:
    /// The preamble of the rule list, its count and its rules.
    static void saveRules(ProfileOArchive& ar, const std::list<NetworkRule>& rules);

    /// Below this many records a helper thread costs more than it saves.
    static constexpr uint32_t kHandOverFrom = 256;
    static constexpr size_t kBatch = 256;        ///< records handed over at once, at most
    static constexpr size_t kBatchTexts = 256 * 1024; ///< bytes of texts handed over at once, about
    static constexpr size_t kQueuedBatches = 8; ///< batches read ahead of the taker, at most

    /// Records read, with the texts they are still to be completed from.
    template <class Record> struct Batch {
        std::vector<Record> records;
        TextSpool later;
    };

    /// Batches of records from the reading thread to the taking one. The
    /// emptied batches go back to the reader, so that a load allocates a few
    /// of them only and each is freed by the thread that allocated it.
    template <class Record> class Handoff {
    public:
        Handoff() { m_spare.reserve(kQueuedBatches + 2); }
        /// Waits while the queue is full; false once the taker has stopped.
        /// Otherwise `batch` is queued and replaced by an empty one, one
        /// given back if there is one.
        bool put(Batch<Record>& batch)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopped || m_batches.size() < kQueuedBatches; });
            if (m_stopped)
                return false;
            m_batches.push_back(std::move(batch));
            batch = Batch<Record>();
            if (!m_spare.empty()) {
                batch = std::move(m_spare.back());
                m_spare.pop_back();
            }
            lock.unlock();
            m_changed.notify_all();
            return true;
        }
        /// No more batches: the taker ends once it has taken what is queued.
        void finish()
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_finished = true;
            }
            m_changed.notify_all();
        }
        /// Either side gives up: what is queued is dropped.
        void stop()
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_stopped = true;
            }
            m_changed.notify_all();
        }
        /// The next batch; false when there is none to come. `batch`, emptied
        /// by the taker, is given back first.
        bool get(Batch<Record>& batch)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (batch.records.capacity() > 0 && m_spare.size() < m_spare.capacity())
                m_spare.push_back(std::move(batch));
            m_changed.wait(lock, [this] { return m_stopped || !m_batches.empty() || m_finished; });
            if (m_stopped || m_batches.empty())
                return false;
            batch = std::move(m_batches.front());
            m_batches.pop_front();
            lock.unlock();
            m_changed.notify_all();
            return true;
        }

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        std::deque<Batch<Record>> m_batches; ///< guarded by m_mutex, as are the rest
        std::vector<Batch<Record>> m_spare;   ///< emptied batches, memory kept
        bool m_finished = false;
        bool m_stopped = false;
    };

    /// Reads `count` records on a helper thread, the only user of the
    /// archive until it is joined, while this one completes them and hands
    /// them to `take`: the records' strings are made, and their memory
    /// taken, by the thread that keeps them. False, nothing read, when no
    /// thread can be started.
    template <class Record, class Take> static bool loadHandingOver(ProfileIArchive& ar, uint32_t count, Take& take)
    {
        Handoff<Record> handoff;
        // Sixteen batches or more, so that this thread starts early; none
        // larger than the input left can hold.
        const size_t batchSize =
            std::min<size_t>(kBatch, std::max<size_t>(1, ar.reservable(count, sizeof(Record)) / 16));
        std::exception_ptr readFailure; ///< the helper's alone until it is joined
        std::thread reading;
        try {
            reading = std::thread([&handoff, &readFailure, &ar, count, batchSize] {
                try {
                    Batch<Record> batch;
                    for (uint32_t i = 0; i < count; ++i) {
                        if (batch.records.empty())
                            batch.records.reserve(batchSize);
                        batch.records.emplace_back();
                        read(ar, batch.records.back(), batch.later);
                        bool full = batch.records.size() == batchSize || batch.later.bytes() >= kBatchTexts;
                        if ((full || i + 1 == count) && !handoff.put(batch))
                            return; // the taker failed
                    }
                } catch (...) {
                    // A refusal drops what is queued.
                    readFailure = std::current_exception();
                    handoff.stop();
                    return;
                }
                handoff.finish();
            });
        } catch (const std::system_error&) {
            return false;
        }
        // Joined on every way out; what `take` throws stops the reading.
        struct Join {
            Handoff<Record>& handoff;
            std::thread& reading;
            ~Join()
            {
                if (reading.joinable()) {
                    handoff.stop();
                    reading.join();
                }
            }
        } join{handoff, reading};
        Batch<Record> batch;
        while (handoff.get(batch)) {
            for (Record& r : batch.records) {
                complete(r, batch.later);
                take(std::move(r));
            }
            batch.records.clear();
            batch.later.clear();
        }
        reading.join();
        if (readFailure)
            std::rethrow_exception(readFailure);
        return true;
    }
};

} // namespace AppProtection
