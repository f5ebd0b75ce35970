#include "ConfigData.h"

#include <mutex>

namespace AppProtection {

#define APPPROT_VAR "/usr/local/Vantrel/AppProtection/var"

const char* const kAppProtDomain = "com.vantrel.zrm.appprotection";

const char* const appProtPrefsKeys[kAppProtPrefsCount] = {
    "NumWorkerThreads",   "ProfilePath",          "PIDFilePath",
    "TraceFilePath",      "TraceFlagPath",        "UnknownAppAction",
    "PromptTimeout",      "ThreadPollInterval",   "AllowAppleSignedApps",
    "KextHCInterval",     "Exclusions",           "SpecialFolders",
    "EnableAppProtection", "CustomNwFallBackAction", "ProfileSyncNeeded",
    "RecommendedProfilePath", "ExclusionsChanged", "TempProfilePath",
};

const char* const appProtDefaultPaths[kAppProtPrefsCount] = {
    nullptr,
    APPPROT_VAR "/profile.data",
    APPPROT_VAR "/.AppProtPid",
    APPPROT_VAR "/appProt.trace",
    APPPROT_VAR "/traceValues.xml",
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    APPPROT_VAR "/template.profile",
    nullptr,
    APPPROT_VAR "/tempProfile.data",
};

namespace {

const char* const kSpecialFolderDefaults[] = {
    "/usr/sbin",
    "/System/Library",
    "/bin",
    "/sbin",
    "/usr/bin",
    "/usr/libexec",
    "/Applications/Utilities/",
    "/Library/Vantrel",
    "/usr/local/Vantrel",
    "/Applications/Vantrel Security.app",
    "/Applications/Gendrik.app",
    "/Library/Application Support/Vantrel",
    "/Library/Frameworks/QuendelPreferences.framework",
    "/Applications/Vantrel Strevo.app",
    "/Library/Frameworks/VantrelStrevo.framework",
    "/Applications/VantrelSecurityUninstaller.app",
};

// Filled once per process; every entry is a counted reference, so the store
// and this table each keep the values alive on their own.
PrefValueRef prefsValues[kAppProtPrefsCount];

} // namespace

ConfigData::ConfigData()
{
    PreferencesHelper* helper = PreferencesHelper::getInstance();
    PrefMutableArrayRef specialFolders = helper->CreateCFMutableArray();
    for (const char* folder : kSpecialFolderDefaults)
        specialFolders->append(helper->CreateCFString(folder));
    PrefMutableArrayRef exclusions = helper->CreateCFMutableArray();

    static std::once_flag filled;
    std::call_once(filled, [&] {
        prefsValues[kNumWorkerThreads] = helper->CreateCFIntNumber(6);
        prefsValues[kUnknownAppAction] = helper->CreateCFIntNumber(1);
        prefsValues[kPromptTimeout] = helper->CreateCFIntNumber(60);
        prefsValues[kThreadPollInterval] = helper->CreateCFIntNumber(1);
        prefsValues[kKextHCInterval] = helper->CreateCFIntNumber(30);
        prefsValues[kCustomNwFallBackAction] = helper->CreateCFIntNumber(2);
        prefsValues[kAllowAppleSignedApps] = helper->CreateCFBoolean(true);
        prefsValues[kEnableAppProtection] = helper->CreateCFBoolean(true);
        prefsValues[kProfileSyncNeeded] = helper->CreateCFBoolean(false);
        prefsValues[kExclusionsChanged] = helper->CreateCFBoolean(false);
        prefsValues[kExclusions] = exclusions;
        prefsValues[kSpecialFolders] = specialFolders;
        for (int i = 0; i < kAppProtPrefsCount; ++i)
            if (appProtDefaultPaths[i] != nullptr)
                prefsValues[i] = helper->CreateCFString(appProtDefaultPaths[i]);
    });

    initialize(kAppProtDomain, appProtPrefsKeys, prefsValues, kAppProtPrefsCount);
}

ConfigData::~ConfigData() = default;

bool ConfigData::PreferenceCallback() { return true; }

} // namespace AppProtection
