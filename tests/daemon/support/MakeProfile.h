// Profiles for the daemon's tests and tools: one rule per executable,
// written as the daemon's profile controller writes them.
#pragma once

#include <string>
#include <vector>

#include "BasicAppRecord.h"
#include "ProfileDataController.h"

namespace daemontest {

struct Rule {
    std::string path; ///< the executable, also the rule's group
    bool exec = true;
    AppProtection::BasicAppRecord::NetworkAction nwAction = AppProtection::BasicAppRecord::NW_ACTION_ALLOW_ALL;
};

/// Writes `rules` as the profile at `profilePath` (replacing it). The
/// profile's answer for each rule, 20000 or its error code, in order.
inline std::vector<int> makeProfile(const std::string& profilePath, const std::vector<Rule>& rules)
{
    std::vector<int> results;
    AppProtection::ProfileDataController profile;
    for (const Rule& r : rules) {
        AppProtection::BasicAppRecord rule;
        rule.setAppPath(r.path);
        rule.setAppGroup(r.path);
        rule.setExecAllowed(r.exec);
        rule.setEnabled(true);
        rule.setNwAction(r.nwAction);
        results.push_back(profile.addAppToProfile(rule));
    }
    profile.drainPendingDeps();
    profile.persistProfile(profilePath);
    return results;
}

} // namespace daemontest
