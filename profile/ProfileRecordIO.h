// The records' fields in the profile file, in their stored order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

#include "DependentRecord.h"
#include "DetailedAppRecord.h"
#include "NetworkRule.h"
#include "ProfileArchive.h"
#include "RecordHandOff.h"

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
    /// Payload order: path, fingerprint, group, launch, rules, modified,
    /// changed dependencies, enabled, network action.
    static void save(ProfileOArchive& ar, const BasicAppRecord& record);
    /// Name, fingerprint, application count, applications.
    static void save(ProfileOArchive& ar, const DependentRecord& record);
    /// The count is taken as written; the verified flag is cleared.
    static void load(ProfileIArchive& ar, DependentRecord& record);

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
    /// unique key repeats one already read is dropped.
    template <class Set, class Record = typename Set::value_type>
    static Set loadSet(ProfileIArchive& ar, const char* className)
    {
        Set loaded;
        auto& first = loaded.template get<0>();
        loadAll<Record>(ar, className, [&](Record&& r) { first.insert(first.end(), std::move(r)); });
        return loaded;
    }
    /// Reads such a collection, handing each record to `take` (by rvalue: it
    /// may be moved away) in file order. What the reading or `take` throws
    /// reaches the caller; the records read until then have been taken.
    template <class Record, class Take> static void loadAll(ProfileIArchive& ar, const char* className, Take&& take)
    {
        loadAll<Record>(ar, className, std::forward<Take>(take), [](size_t) {});
    }
    /// The same, telling `begin` first how many records may be reserved for.
    template <class Record, class Take, class Begin>
    static void loadAll(ProfileIArchive& ar, const char* className, Take&& take, Begin&& begin)
    {
        loadEach<Record>(ar, beginRecords<Record>(ar, className, begin), take);
    }
    /// The application records of such a collection, handed to `take` on a
    /// helper thread while this one reads on; those still waiting for the
    /// helper when the reading is done this thread takes itself (and all of
    /// them for a few records, or when no thread can be started). What the
    /// reading or `take` throws reaches the caller once the helper has
    /// stopped; records not taken by then are dropped.
    template <class Take, class Begin>
    static void loadAppsHandedOff(ProfileIArchive& ar, const char* className, Take&& take, Begin&& begin)
    {
        uint32_t count = beginRecords<DetailedAppRecord>(ar, className, begin);
        using HandOff = RecordHandOff<DetailedAppRecord, std::remove_reference_t<Take>>;
        std::unique_ptr<HandOff> handOff;
        if (count > HandOff::kBatch) {
            try {
                handOff = std::make_unique<HandOff>(take);
            } catch (const std::system_error&) {
            }
        }
        if (!handOff) {
            loadEach<DetailedAppRecord>(ar, count, take);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) {
            load(ar, handOff->next());
            handOff->put();
        }
        handOff->finish();
    }

private:
    /// The collection's preamble and count; `begin` told what to reserve.
    template <class Record, class Begin>
    static uint32_t beginRecords(ProfileIArchive& ar, const char* className, Begin& begin)
    {
        ar.beginClass(className);
        uint32_t count = ar.readCount();
        begin(ar.reservable(count, sizeof(Record)));
        return count;
    }
    template <class Record, class Take> static void loadEach(ProfileIArchive& ar, uint32_t count, Take& take)
    {
        for (uint32_t i = 0; i < count; ++i) {
            Record r;
            load(ar, r);
            take(std::move(r));
        }
    }

    /// The preamble of the rule list, its count and its rules.
    static void saveRules(ProfileOArchive& ar, const std::list<NetworkRule>& rules);
};

} // namespace AppProtection
