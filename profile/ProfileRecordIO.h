// The records' fields in the profile file, in their stored order.
#pragma once

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
    /// Name, fingerprint, application count, applications.
    static void save(ProfileOArchive& ar, const DependentRecord& record);
    /// The count is taken as written; the verified flag is cleared.
    static void load(ProfileIArchive& ar, DependentRecord& record);

    static void saveVector(ProfileOArchive& ar, const std::vector<DetailedAppRecord>& records);
    static std::vector<DetailedAppRecord> loadAppVector(ProfileIArchive& ar);
    static void saveVector(ProfileOArchive& ar, const std::vector<DependentRecord>& records);
    static std::vector<DependentRecord> loadDependentVector(ProfileIArchive& ar);
};

} // namespace AppProtection
