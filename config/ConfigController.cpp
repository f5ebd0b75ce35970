#include "ConfigController.h"

#include <cstring>

#include "AppProtError.h"
#include "Trace.h"

int configFlowvalue = 0;

namespace AppProtection {

std::atomic<ConfigController*> ConfigController::m_pSelf{nullptr};
std::mutex ConfigController::m_instanceMutex;

namespace {

// Fallbacks of the scalar getters, by key.
int intFallback(int index)
{
    switch (index) {
    case kNumWorkerThreads: return 6;
    case kUnknownAppAction: return 1;
    case kPromptTimeout: return 60;
    case kThreadPollInterval: return 1;
    case kKextHCInterval: return 30;
    case kCustomNwFallBackAction: return 2;
    }
    return 0;
}

bool boolFallback(int index) { return index == kAllowAppleSignedApps || index == kEnableAppProtection; }

const char* boolText(bool b) { return b ? "true" : "false"; }

// A list element is copied through a buffer of this size, terminator included.
constexpr size_t kListEntryBuffer = 1024;

} // namespace

ConfigController::ConfigController() : m_callback(nullptr) {}

ConfigController::~ConfigController() = default;

ConfigController* ConfigController::getInstance()
{
    ConfigController* self = m_pSelf.load(std::memory_order_acquire);
    if (self != nullptr)
        return self;
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    self = m_pSelf.load(std::memory_order_relaxed);
    if (self == nullptr) {
        self = new ConfigController();
        m_pSelf.store(self, std::memory_order_release);
    }
    return self;
}

void ConfigController::releaseInstance()
{
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    delete m_pSelf.exchange(nullptr);
}

void ConfigController::registerCallBack(void (*callback)())
{
    __atomic_store_n(&m_callback, callback, __ATOMIC_RELEASE);
}

void ConfigController::callCallback()
{
    void (*callback)() = __atomic_load_n(&m_callback, __ATOMIC_ACQUIRE);
    if (callback != nullptr)
        callback();
}

int ConfigController::getInt(int index)
{
    try {
        return m_configData.GetIntegerValue(appProtPrefsKeys[index]);
    } catch (...) {
        return intFallback(index);
    }
}

bool ConfigController::getBool(int index)
{
    try {
        return m_configData.GetBooleanValue(appProtPrefsKeys[index]);
    } catch (...) {
        return boolFallback(index);
    }
}

std::string ConfigController::getPath(int index)
{
    try {
        char* text = m_configData.GetCStringValue(appProtPrefsKeys[index]);
        if (text != nullptr) {
            std::string out;
            try {
                out = text;
            } catch (...) {
                delete[] text;
                throw;
            }
            delete[] text;
            return out;
        }
    } catch (...) {
    }
    return appProtDefaultPaths[index];
}

std::vector<std::string> ConfigController::getList(int index)
{
    std::vector<std::string> out;
    try {
        PrefArrayRef array = m_configData.GetCFArrayValue(appProtPrefsKeys[index]);
        if (!array)
            return out;
        for (size_t i = 0; i < array->count(); ++i) {
            char buffer[kListEntryBuffer];
            std::memset(buffer, 0, sizeof buffer);
            PrefStringRef entry = array->at(i);
            // An entry that does not fit would read as "", which every path
            // begins with: it is left out instead.
            if (!entry || !entry->getCString(buffer, sizeof buffer))
                continue;
            out.push_back(buffer);
        }
    } catch (...) {
    }
    return out;
}

int ConfigController::getNumWorkerThreads()
{
    try {
        int n = m_configData.GetIntegerValue(appProtPrefsKeys[kNumWorkerThreads]);
        WARD_TRACE(configFlowvalue, 1, L"ConfigController::getNumWorkerThreads - returning %d worker threads\n", n);
        return n;
    } catch (...) {
        WARD_TRACE(configFlowvalue, 1,
                   L"ConfigController::getNumWorkerThreads - Got prefs exception. returning default worker thread\n");
        return intFallback(kNumWorkerThreads);
    }
}

std::string ConfigController::getProfilePath() { return getPath(kProfilePath); }
std::string ConfigController::getPidFilePath() { return getPath(kPIDFilePath); }
std::string ConfigController::getTraceFilePath() { return getPath(kTraceFilePath); }
std::string ConfigController::getTraceFlagPath() { return getPath(kTraceFlagPath); }
int ConfigController::getUnknownAppAction() { return getInt(kUnknownAppAction); }
int ConfigController::getPromptTimeout() { return getInt(kPromptTimeout); }
int ConfigController::getThreadPollInterval() { return getInt(kThreadPollInterval); }
bool ConfigController::getAppleSignedAppsFlag() { return getBool(kAllowAppleSignedApps); }
int ConfigController::getKextHealthCheckInterval() { return getInt(kKextHCInterval); }
std::vector<std::string> ConfigController::getExclusionsList() { return getList(kExclusions); }
std::vector<std::string> ConfigController::getSpecialFolderList() { return getList(kSpecialFolders); }
bool ConfigController::getEnableAppProtection() { return getBool(kEnableAppProtection); }
int ConfigController::getCustomNwFallbackOption() { return getInt(kCustomNwFallBackAction); }
bool ConfigController::getProfileSyncNeeded() { return getBool(kProfileSyncNeeded); }
std::string ConfigController::getRecommendedProfilePath() { return getPath(kRecommendedProfilePath); }
bool ConfigController::getExclusionsChanged() { return getBool(kExclusionsChanged); }
std::string ConfigController::getTempProfilePath() { return getPath(kTempProfilePath); }

template <typename Store>
int ConfigController::storeScalar(Store store, bool callbackOnSuccess)
{
    // The callback runs inside the guard: its exception becomes a result code.
    try {
        if (!store())
            return PREFERENCES_STORE_FAILED;
        if (callbackOnSuccess)
            callCallback();
        return SUCCESS;
    } catch (const PreferencesException&) {
        return PREFERENCES_STORE_FAILED;
    } catch (...) {
        return UNEXPECTED_EXCEPTION;
    }
}

int ConfigController::setUnknownAppAction(int action)
{
    // No lower bound: 0 and negative values are stored (and read as deny).
    if (action > 3)
        return VALUE_OUT_OF_RANGE;
    return storeScalar([&] { return m_configData.SetIntegerValue(appProtPrefsKeys[kUnknownAppAction], action); }, true);
}

int ConfigController::setPromptTimeout(int seconds)
{
    return storeScalar([&] { return m_configData.SetIntegerValue(appProtPrefsKeys[kPromptTimeout], seconds); }, true);
}

int ConfigController::setCustomNwFallbackOption(int option)
{
    return storeScalar(
        [&] { return m_configData.SetIntegerValue(appProtPrefsKeys[kCustomNwFallBackAction], option); }, true);
}

int ConfigController::setAppleSignedAppsFlag(bool flag)
{
    return storeScalar([&] { return m_configData.SetBooleanValue(appProtPrefsKeys[kAllowAppleSignedApps], flag); },
                       true);
}

int ConfigController::storeFlag(const char* method, int index, bool flag)
{
    WARD_TRACE(configFlowvalue, 1, L"ConfigController::%s - setting %s to %s\n", method, appProtPrefsKeys[index],
               boolText(flag));
    // A refusal is reported: a caller must not believe the flag was stored.
    int rc = storeScalar([&] { return m_configData.SetBooleanValue(appProtPrefsKeys[index], flag); }, false);
    if (rc == SUCCESS)
        WARD_TRACE(configFlowvalue, 1, L"ConfigController::%s - successfully set %s\n", method, appProtPrefsKeys[index]);
    else
        WARD_TRACE(configFlowvalue, 1, L"ConfigController::%s - setting %s failed, error %d\n", method,
                   appProtPrefsKeys[index], rc);
    return rc;
}

int ConfigController::setEnableAppProtection(bool flag)
{
    int rc = storeFlag("setEnableAppProtection", kEnableAppProtection, flag);
    // Outside the guard: the callback's exception reaches the caller.
    if (rc == SUCCESS)
        callCallback();
    return rc;
}

int ConfigController::setExclusionsChanged(bool flag)
{
    return storeFlag("setExclusionsChanged", kExclusionsChanged, flag);
}

int ConfigController::setProfileSyncNeeded(bool flag)
{
    return storeFlag("setProfileSyncNeeded", kProfileSyncNeeded, flag);
}

int ConfigController::storeList(const char* method, int index, const std::vector<std::string>& list)
{
    int rc = SUCCESS;
    try {
        PreferencesHelper* helper = PreferencesHelper::getInstance();
        PrefMutableArrayRef array = helper->CreateCFMutableArray();
        for (const std::string& entry : list) {
            WARD_TRACE(configFlowvalue, 2, L"ConfigController::%s - Appending to array %s\n", method, entry.c_str());
            PrefStringRef text = PrefString::createWithUTF8(entry);
            if (!text)
                throw AppProtException("entry is not a storable UTF-8 text", PREFERENCES_STORE_FAILED);
            array->append(text);
        }
        if (!m_configData.SetCFArrayValue(appProtPrefsKeys[index], array)) {
            WARD_TRACE(configFlowvalue, 1, L"ConfigController::%s - setting %s failed\n", method,
                       appProtPrefsKeys[index]);
            rc = PREFERENCES_STORE_FAILED;
        }
    } catch (const PreferencesException&) {
        rc = PREFERENCES_STORE_FAILED;
    } catch (const AppProtException& e) {
        WARD_TRACE(configFlowvalue, 1, L"ConfigController::%s - %s\n", method, e.getExceptionMsg().c_str());
        rc = e.getExceptionId();
    } catch (...) {
        rc = UNEXPECTED_EXCEPTION;
    }
    WARD_TRACE(configFlowvalue, 1, L"ConfigController::%s - returning %d\n", method, rc);
    return rc;
}

int ConfigController::setExclusionsList(std::vector<std::string>& list)
{
    return storeList("setExclusionsList", kExclusions, list);
}

int ConfigController::setSpecialFolderList(std::vector<std::string>& list)
{
    return storeList("setSpecialFolderList", kSpecialFolders, list);
}

} // namespace AppProtection
