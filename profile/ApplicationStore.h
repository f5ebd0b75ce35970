// The profile's application rules: one DetailedAppRecord per executable,
// indexed by path (unique), group and fingerprint.
#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include <boost/multi_index/hashed_index.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>

#include "BasicAppRecord.h"
#include "ThreadSafety.h"
#include "DetailedAppRecord.h"

namespace AppProtection {

class ProfileOArchive;
class ProfileIArchive;

struct appPathTag {};
struct appGroupTag {};
struct appHashTag {};
struct appPathLookupTag {};

/// Keys compare as byte strings; records with equal group keep the order in
/// which they entered that index. The fingerprint index is hashed: a record
/// goes in with one hash and a few compares instead of a walk down a tree of
/// random keys, which is most of a load's index work. It keeps the records
/// of one fingerprint together, the last entered first (the store reads them
/// backwards, in order of entry). The fourth index finds a path without
/// walking the ordered one: a decision looks a path up in a profile of any
/// size with a few memory reads.
using ApplicationSet = boost::multi_index_container<
    DetailedAppRecord,
    boost::multi_index::indexed_by<
        boost::multi_index::ordered_unique<boost::multi_index::tag<appPathTag>, DetailedAppRecord::PathKey>,
        boost::multi_index::ordered_non_unique<boost::multi_index::tag<appGroupTag>, DetailedAppRecord::GroupKey>,
        boost::multi_index::hashed_non_unique<boost::multi_index::tag<appHashTag>, DetailedAppRecord::HashKey,
                                              std::hash<std::string>>,
        boost::multi_index::hashed_unique<boost::multi_index::tag<appPathLookupTag>, DetailedAppRecord::PathKey,
                                           std::hash<std::string>>>>;

/// Thread-safe: every operation holds the store's mutex for its whole
/// duration and records go in and out by value.
class ApplicationStore {
public:
    ApplicationStore() = default;
    ApplicationStore(const ApplicationStore&) = delete;
    ApplicationStore& operator=(const ApplicationStore&) = delete;
    virtual ~ApplicationStore() = default;

    /// False, store unchanged, when the path is already stored.
    bool addApp(DetailedAppRecord& record);
    /// Replaces the record stored under `record.getAppPath()`; nothing when
    /// absent.
    void updateApp(DetailedAppRecord& record);
    /// Applies `change` to the record stored at `path`, under the mutex, so
    /// that fields the change leaves alone keep concurrent edits. False when
    /// the path is not stored. `change` must not touch the store, and a path
    /// it sets is ignored.
    bool modifyApp(const std::string& path, const std::function<void(DetailedAppRecord&)>& change);
    /// Erases the record stored under the record's path; nothing when absent.
    void deleteApp(DetailedAppRecord& record);
    /// False leaves `out` as it was.
    bool findAppByName(const std::string& path, DetailedAppRecord& out);
    /// Hands the record stored at `path` to `read` in place, under the
    /// mutex, instead of copying it out; the same trace lines as
    /// findAppByName. `read` must not call the store. False when not stored.
    bool readAppByName(const std::string& path, const std::function<void(const DetailedAppRecord&)>& read);
    /// Appends every record of the group (group-index order) to `out`, which
    /// is not cleared; true when at least one was appended.
    bool findAppByGroup(std::string group, std::vector<DetailedAppRecord>& out);
    /// The same for a fingerprint.
    bool findAppByHash(std::string hash, std::vector<DetailedAppRecord>& out);
    /// Hands every record with the fingerprint to `read` in place, in index
    /// order, under the mutex; the same trace lines as findAppByHash. `read`
    /// must not call the store.
    bool readAppsByHash(const std::string& hash, const std::function<void(const DetailedAppRecord&)>& read);
    /// Hands every record to `read` in place, in ascending path order, under
    /// the mutex. `read` must not call the store.
    void readAllApps(const std::function<void(const DetailedAppRecord&)>& read) const;
    /// The base part of every record, in ascending path order.
    std::list<BasicAppRecord> getAllProfileRules();
    /// Re-fingerprints every executable under the mutex; a changed one is
    /// stored modified with its new fingerprint and its path returned. A
    /// file that cannot be fingerprinted counts as unmodified.
    std::vector<std::string> validateHashes();
    void clear();

    /// The store's part of the profile file (after its class preamble):
    /// every record in ascending path order, encoded in place under the
    /// mutex (nothing is copied, and the file gets one state of the store).
    void save(ProfileOArchive& ar, unsigned int version) const;
    /// Reads the records, moving each into a new index set, and once all are
    /// read puts that set in place of the whole content; a repeated path
    /// keeps the first record. Throws the archive's error and leaves the
    /// store as it was when the input is refused.
    void load(ProfileIArchive& ar, unsigned int version);
    /// How many of the records the last load put in place have no dependent
    /// library (0 before any load): a caller looking for them after a load
    /// walks the store only when there are any.
    size_t loadedWithoutDependencies() const;

protected:
    mutable ward::Mutex m_storeMutex;
    ApplicationSet m_applications WARD_GUARDED_BY(m_storeMutex);
    size_t m_loadedWithoutDependencies WARD_GUARDED_BY(m_storeMutex) = 0;
};

} // namespace AppProtection
