// The application-protection preference domain: its keys and defaults,
// registered with the preferences store.
#pragma once

#include "Preferences.h"

namespace AppProtection {

/// Number of keys of the domain.
constexpr int kAppProtPrefsCount = 18;

/// Positions in the key and default tables; the order is the domain's.
enum ConfigKey : int {
    kNumWorkerThreads,
    kProfilePath,
    kPIDFilePath,
    kTraceFilePath,
    kTraceFlagPath,
    kUnknownAppAction,
    kPromptTimeout,
    kThreadPollInterval,
    kAllowAppleSignedApps,
    kKextHCInterval,
    kExclusions,
    kSpecialFolders,
    kEnableAppProtection,
    kCustomNwFallBackAction,
    kProfileSyncNeeded,
    kRecommendedProfilePath,
    kExclusionsChanged,
    kTempProfilePath,
};

extern const char* const kAppProtDomain;
/// "NumWorkerThreads", "ProfilePath", ... in ConfigKey order.
extern const char* const appProtPrefsKeys[kAppProtPrefsCount];
/// Default texts of the six path keys (null for the others).
extern const char* const appProtDefaultPaths[kAppProtPrefsCount];

class ConfigData : public PreferencesBase {
public:
    ConfigData();
    ~ConfigData() override;
    bool PreferenceCallback() override;
};

} // namespace AppProtection
