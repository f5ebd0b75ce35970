// The profile's dependent libraries: one DependentRecord per library file,
// indexed by file name (unique), fingerprint and application count.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>

#include "DependentRecord.h"
#include "ThreadSafety.h"

namespace AppProtection {

class ProfileOArchive;
class ProfileIArchive;

struct fileNameTag {};
struct fileHashTag {};
struct appCountTag {};

/// Keys ascend (texts byte-wise); equal keys keep their order of entry.
using DependentSet = boost::multi_index_container<
    DependentRecord,
    boost::multi_index::indexed_by<
        boost::multi_index::ordered_unique<boost::multi_index::tag<fileNameTag>, DependentRecord::NameKey>,
        boost::multi_index::ordered_non_unique<boost::multi_index::tag<fileHashTag>, DependentRecord::HashKey>,
        boost::multi_index::ordered_non_unique<boost::multi_index::tag<appCountTag>, DependentRecord::AppCountKey>>>;

/// Thread-safe. Basic operations hold the store's mutex while they run; the
/// compound ones (add or remove an application, validation) also hold a
/// change mutex across their look-up, change and write-back, so two of them
/// never lose each other's change of one record.
class DependentStore {
public:
    DependentStore() = default;
    DependentStore(const DependentStore&) = delete;
    DependentStore& operator=(const DependentStore&) = delete;
    virtual ~DependentStore() = default;

    /// Nothing when the file name is already stored.
    void addDependent(DependentRecord& record);
    /// Replaces the record stored under `record.getFileName()`; nothing when
    /// absent.
    void updateDependent(DependentRecord& record);
    bool findByName(const std::string& name, DependentRecord& out);
    /// The first record with that fingerprint in fingerprint-index order.
    bool findByHash(const std::string& hash, DependentRecord& out);
    void clear();

    /// Lists `application` as a user of `library` (again, if already
    /// listed). A library not stored is fingerprinted: an unreadable one
    /// changes nothing, one whose content equals a stored library's is
    /// folded into that record, otherwise a new record is added.
    void addAppToDependent(const std::string& library, std::string application);
    /// Removes the first listing of `application`; the record stays, also
    /// with no application left.
    void removeAppFromDependent(const std::string& library, std::string application);
    /// Fingerprints every library not yet verified since the load, from the
    /// highest application count down, and returns those that changed. The
    /// stored fingerprint is kept; an unreadable library counts as unchanged.
    std::vector<std::string> validateHashes();

    /// The store's part of the profile file (after its class preamble):
    /// every record in ascending file-name order, encoded in place under the
    /// mutex.
    void save(ProfileOArchive& ar, unsigned int version) const;
    /// Reads the records, moving each into a new index set, and once all are
    /// read puts that set in place of the whole content; a repeated file name
    /// keeps the first record. Throws the archive's error and leaves the
    /// store as it was when the input is refused.
    void load(ProfileIArchive& ar, unsigned int version);

protected:
    std::mutex m_changeMutex; ///< taken before m_storeMutex, never after
    mutable ward::Mutex m_storeMutex;
    DependentSet m_dependents WARD_GUARDED_BY(m_storeMutex);
};

} // namespace AppProtection
