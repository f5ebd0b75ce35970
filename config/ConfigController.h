// The process-wide configuration of application protection: one typed getter
// per preference (never failing: a store error gives the key's fallback), one
// setter per writable preference (an AppProtError code), and one change
// callback.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ConfigData.h"

/// Trace level of the configuration's lines; set by the daemon's loader.
extern int configFlowvalue;

namespace AppProtection {

class ConfigController {
public:
    /// Created on first use; the pointer is published once fully built.
    static ConfigController* getInstance();
    static void releaseInstance();
    virtual ~ConfigController();

    ConfigController(const ConfigController&) = delete;
    ConfigController& operator=(const ConfigController&) = delete;

    /// Replaces the change callback; called on the setter's thread.
    void registerCallBack(void (*callback)());

    int getNumWorkerThreads();
    std::string getProfilePath();
    std::string getPidFilePath();
    std::string getTraceFilePath();
    std::string getTraceFlagPath();
    int getUnknownAppAction();
    int getPromptTimeout();
    int getThreadPollInterval();
    bool getAppleSignedAppsFlag();
    int getKextHealthCheckInterval();
    /// UTF-8 texts; an entry of 1,024 bytes or more is skipped.
    std::vector<std::string> getExclusionsList();
    std::vector<std::string> getSpecialFolderList();
    bool getEnableAppProtection();
    int getCustomNwFallbackOption();
    bool getProfileSyncNeeded();
    std::string getRecommendedProfilePath();
    bool getExclusionsChanged();
    std::string getTempProfilePath();

    int setUnknownAppAction(int action);
    int setPromptTimeout(int seconds);
    int setCustomNwFallbackOption(int option);
    int setAppleSignedAppsFlag(bool flag);
    /// Calls the callback after a stored value; an exception from the
    /// callback passes to the caller.
    int setEnableAppProtection(bool flag);
    int setExclusionsChanged(bool flag);
    int setProfileSyncNeeded(bool flag);
    /// The whole list is written; an entry that is not valid UTF-8 refuses
    /// the list (20022) and nothing is stored.
    int setExclusionsList(std::vector<std::string>& list);
    int setSpecialFolderList(std::vector<std::string>& list);

private:
    ConfigController();

    int getInt(int index);
    bool getBool(int index);
    std::string getPath(int index);
    std::vector<std::string> getList(int index);
    template <typename Store>
    int storeScalar(Store store, bool callbackOnSuccess);
    int storeFlag(const char* method, int index, bool flag);
    int storeList(const char* method, int index, const std::vector<std::string>& list);
    void callCallback();

    ConfigData m_configData;
    void (*m_callback)(); // written by registerCallBack, read by setters (atomic access)

    static std::atomic<ConfigController*> m_pSelf;
    static std::mutex m_instanceMutex;
};

} // namespace AppProtection
