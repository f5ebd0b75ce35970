// The profile generator: a list of candidate application rules, made from
// the bundles below a folder or read from a profile, edited by the caller,
// and written as the temporary profile or into a profile file.
#pragma once

#include <list>
#include <string>

#include "BasicAppRecord.h"

namespace AppProtection {

/// Used from one thread; no threads, locks or trace of its own.
class ProfileGenerator {
public:
    ProfileGenerator();
    ~ProfileGenerator();
    ProfileGenerator(const ProfileGenerator&) = delete;
    ProfileGenerator& operator=(const ProfileGenerator&) = delete;

    /// loadAppsFromFolder("/Applications").
    bool loadInstalledApplications();
    /// Appends a record, group only, for every directory below `folder`
    /// whose name ends in ".app" after at least one character, in the
    /// enumerator's order (a bundle before the bundles nested in it). True;
    /// a missing folder adds nothing. The enumerator's
    /// std::filesystem::filesystem_error (a regular file, an unreadable
    /// folder) reaches the caller, and nothing is appended.
    bool loadAppsFromFolder(std::string folder);
    /// Appends a copy. True.
    bool addAppToList(BasicAppRecord& record);
    /// Removes every record of the argument's group. True.
    bool deleteAppFromList(BasicAppRecord& record);
    /// Every record of the group replaced by one copy, at the end. True.
    bool updateAppInList(BasicAppRecord& record);
    /// Sorts the list by group, stably, in place; returns a copy, with
    /// only the first record of each group when `onePerGroup`.
    std::list<BasicAppRecord> getAppList(bool onePerGroup);
    /// Writes the list as the temporary profile (replaced whole, mode 0660)
    /// and then sets the sync flag. True only when both succeeded; no flag
    /// is set when the file was not written.
    bool enforceAppList();
    /// Replaces the profile at `path` with the list's rules, each record's
    /// group expanded into its executables and their libraries discovered,
    /// under the profile-file lock. A list that adds nothing leaves the file
    /// as it is. False exactly when the write failed; the old file then
    /// stays whole.
    bool exportAppToProfile(std::string path);
    /// Appends every rule of the profile at `path`, sorted by group, without
    /// the lock and without writing anything. True exactly when a profile
    /// was read (an empty file is the empty profile).
    bool importAppsFromProfile(std::string path);
    /// importAppsFromProfile of the recommended profile.
    bool loadRecommendedProfile();
    /// importAppsFromProfile of the machine's profile.
    bool importCurrentProfile();

private:
    std::list<BasicAppRecord> m_appRecordList;
};

} // namespace AppProtection
