// libwardconf's logic over the preferences store in memory: defaults,
// fallbacks, result codes, callbacks and list entries. Needs neither root nor
// a private /usr/local/Vantrel; ConfigStoreTest.cpp runs it over the real
// store.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AppProtError.h"
#include "ConfigController.h"
#include "MemoryPreferences.h"
#include "Shell.h"
#include "Trace.h"
#include "TraceCapture.h"

using AppProtection::ConfigController;
using settingstoretest::MemoryPreferences;

namespace {

const std::string kDomain = "com.vantrel.zrm.appprotection";

using wardtest::shellOutput;

std::atomic<int> g_calls{0};
void countCall() { ++g_calls; }
void throwingCall()
{
    ++g_calls;
    throw std::runtime_error("callback");
}

/// What the store holds under `key`, as prefsctl would print it; "-" when
/// nothing is stored.
std::string shown(const MemoryPreferences& store, const char* key)
{
    PrefValueRef v = store.get(kDomain, key);
    if (!v)
        return "-";
    switch (v->type()) {
    case PrefType::Integer:
        return std::to_string(static_cast<const PrefNumber&>(*v).value());
    case PrefType::Boolean:
        return static_cast<const PrefBoolean&>(*v).value() ? "true" : "false";
    case PrefType::String:
        return static_cast<const PrefString&>(*v).utf8();
    case PrefType::Array: {
        std::string out = "[";
        const auto& a = static_cast<const PrefArray&>(*v);
        for (size_t i = 0; i < a.count(); ++i)
            out += (i ? "," : "") + a.at(i)->utf8();
        return out + "]";
    }
    case PrefType::Other:
        break;
    }
    return "?";
}

class Config : public ::testing::Test {
protected:
    void SetUp() override
    {
        store_.reset(new MemoryPreferences);
        // A controller made before this store keeps the one it had.
        ConfigController::releaseInstance();
        g_calls = 0;
        config_ = ConfigController::getInstance();
        config_->registerCallBack(countCall);
    }
    void TearDown() override
    {
        ConfigController::releaseInstance();
        store_.reset();
    }
    std::unique_ptr<MemoryPreferences> store_;
    ConfigController* config_ = nullptr;
};

void expectDefaults(ConfigController* c)
{
    std::vector<std::string> folders = c->getSpecialFolderList();
    ASSERT_EQ(folders.size(), 16u);
    EXPECT_EQ(folders[0], "/usr/sbin");
    EXPECT_EQ(folders[6], "/Applications/Utilities/");
    EXPECT_EQ(folders[15], "/Applications/VantrelSecurityUninstaller.app");
    EXPECT_TRUE(c->getExclusionsList().empty());
    EXPECT_EQ(c->getPromptTimeout(), 60);
    EXPECT_EQ(c->getNumWorkerThreads(), 6);
    EXPECT_EQ(c->getCustomNwFallbackOption(), 2);
    EXPECT_EQ(c->getUnknownAppAction(), 1);
    EXPECT_EQ(c->getThreadPollInterval(), 1);
    EXPECT_EQ(c->getKextHealthCheckInterval(), 30);
    EXPECT_TRUE(c->getAppleSignedAppsFlag());
    EXPECT_TRUE(c->getEnableAppProtection());
    EXPECT_FALSE(c->getProfileSyncNeeded());
    EXPECT_FALSE(c->getExclusionsChanged());
    EXPECT_EQ(c->getProfilePath(), "/usr/local/Vantrel/AppProtection/var/profile.data");
    EXPECT_EQ(c->getPidFilePath(), "/usr/local/Vantrel/AppProtection/var/.AppProtPid");
    EXPECT_EQ(c->getTraceFilePath(), "/usr/local/Vantrel/AppProtection/var/appProt.trace");
    EXPECT_EQ(c->getTraceFlagPath(), "/usr/local/Vantrel/AppProtection/var/traceValues.xml");
    EXPECT_EQ(c->getRecommendedProfilePath(), "/usr/local/Vantrel/AppProtection/var/template.profile");
    EXPECT_EQ(c->getTempProfilePath(), "/usr/local/Vantrel/AppProtection/var/tempProfile.data");
}

TEST_F(Config, DefaultsOnEmptyStoreAndAfterRelease)
{
    expectDefaults(config_);
    ConfigController::releaseInstance();
    config_ = ConfigController::getInstance();
    expectDefaults(config_);
    // Defaults are never written.
    EXPECT_EQ(store_->writes(), 0);
}

TEST_F(Config, ConcurrentFirstUseMakesOneObject)
{
    ConfigController::releaseInstance();
    std::atomic<bool> go{false};
    std::vector<ConfigController*> seen(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&, i] {
            while (!go)
                std::this_thread::yield();
            seen[i] = ConfigController::getInstance();
        });
    go = true;
    for (auto& t : threads)
        t.join();
    config_ = seen[0];
    for (auto* p : seen)
        EXPECT_EQ(p, seen[0]);
    EXPECT_EQ(ConfigController::getInstance(), seen[0]);
}

TEST_F(Config, SettersResultStoredValueAndCallbacks)
{
    using F = MemoryPreferences::Failure;
    struct Case {
        const char* name;
        F writes;
        std::function<int(ConfigController*)> call;
        int result;
        const char* key;
        std::string stored; // "-": not stored
        int calls;
    } cases[] = {
        {"setUnknownAppAction(4)", F::None, [](ConfigController* c) { return c->setUnknownAppAction(4); }, 20003,
         "UnknownAppAction", "-", 0},
        {"setUnknownAppAction(0)", F::None, [](ConfigController* c) { return c->setUnknownAppAction(0); }, 20000,
         "UnknownAppAction", "0", 1},
        {"setUnknownAppAction(-1)", F::None, [](ConfigController* c) { return c->setUnknownAppAction(-1); }, 20000,
         "UnknownAppAction", "-1", 1},
        {"setPromptTimeout(30)", F::None, [](ConfigController* c) { return c->setPromptTimeout(30); }, 20000,
         "PromptTimeout", "30", 1},
        {"setCustomNwFallbackOption(1)", F::None, [](ConfigController* c) { return c->setCustomNwFallbackOption(1); },
         20000, "CustomNwFallBackAction", "1", 1},
        {"setPromptTimeout(30) refused", F::Refuse, [](ConfigController* c) { return c->setPromptTimeout(30); },
         20022, "PromptTimeout", "-", 0},
        {"setPromptTimeout(30) store exception", F::ThrowPreferences,
         [](ConfigController* c) { return c->setPromptTimeout(30); }, 20022, "PromptTimeout", "-", 0},
        {"setPromptTimeout(30) other exception", F::ThrowOther,
         [](ConfigController* c) { return c->setPromptTimeout(30); }, 20001, "PromptTimeout", "-", 0},
        {"setAppleSignedAppsFlag(false) refused", F::Refuse,
         [](ConfigController* c) { return c->setAppleSignedAppsFlag(false); }, 20022, "AllowAppleSignedApps", "-", 0},
        {"setEnableAppProtection(false) refused", F::Refuse,
         [](ConfigController* c) { return c->setEnableAppProtection(false); }, 20022, "EnableAppProtection", "-", 0},
        {"setEnableAppProtection(false) other exception", F::ThrowOther,
         [](ConfigController* c) { return c->setEnableAppProtection(false); }, 20001, "EnableAppProtection", "-", 0},
        {"setEnableAppProtection(false)", F::None, [](ConfigController* c) { return c->setEnableAppProtection(false); },
         20000, "EnableAppProtection", "false", 1},
        {"setExclusionsChanged(true) refused", F::Refuse,
         [](ConfigController* c) { return c->setExclusionsChanged(true); }, 20022, "ExclusionsChanged", "-", 0},
        {"setExclusionsChanged(true)", F::None, [](ConfigController* c) { return c->setExclusionsChanged(true); },
         20000, "ExclusionsChanged", "true", 0},
        {"setProfileSyncNeeded(true) refused", F::Refuse,
         [](ConfigController* c) { return c->setProfileSyncNeeded(true); }, 20022, "ProfileSyncNeeded", "-", 0},
        {"setExclusionsList({})", F::None,
         [](ConfigController* c) {
             std::vector<std::string> none;
             return c->setExclusionsList(none);
         },
         20000, "Exclusions", "[]", 0},
        {"setSpecialFolderList({/a}) refused", F::Refuse,
         [](ConfigController* c) {
             std::vector<std::string> one{"/a"};
             return c->setSpecialFolderList(one);
         },
         20022, "SpecialFolders", "-", 0},
        {"setSpecialFolderList({/a}) store exception", F::ThrowPreferences,
         [](ConfigController* c) {
             std::vector<std::string> one{"/a"};
             return c->setSpecialFolderList(one);
         },
         20022, "SpecialFolders", "-", 0},
        {"setExclusionsList({/a}) other exception", F::ThrowOther,
         [](ConfigController* c) {
             std::vector<std::string> one{"/a"};
             return c->setExclusionsList(one);
         },
         20001, "Exclusions", "-", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        store_->failWrites(c.writes);
        EXPECT_EQ(c.call(config_), c.result);
        EXPECT_EQ(shown(*store_, c.key), c.stored);
        EXPECT_EQ(g_calls, c.calls);
        TearDown();
    }
}

TEST_F(Config, NoCallbackRegisteredAndThrowingCallback)
{
    config_->registerCallBack(nullptr);
    EXPECT_EQ(config_->setAppleSignedAppsFlag(false), 20000);
    EXPECT_FALSE(config_->getAppleSignedAppsFlag());

    config_->registerCallBack(throwingCall);
    EXPECT_EQ(config_->setPromptTimeout(31), 20001);
    EXPECT_EQ(config_->getPromptTimeout(), 31); // stored before the callback threw
    EXPECT_EQ(config_->setUnknownAppAction(2), 20001);
    EXPECT_EQ(config_->setCustomNwFallbackOption(1), 20001);
    EXPECT_EQ(config_->setAppleSignedAppsFlag(true), 20001);
    EXPECT_THROW(config_->setEnableAppProtection(false), std::runtime_error);
    EXPECT_FALSE(config_->getEnableAppProtection());
    EXPECT_EQ(g_calls, 5);
}

using wardtest::TraceCapture;

TEST_F(Config, UnreadableStoreGivesFallbacks)
{
    using F = MemoryPreferences::Failure;
    for (F failure : {F::ThrowPreferences, F::ThrowOther}) {
        SCOPED_TRACE(failure == F::ThrowOther ? "other exception" : "store exception");
        store_->put(kDomain, "PromptTimeout", PreferencesHelper::getInstance()->CreateCFIntNumber(30));
        store_->failReads(failure);
        EXPECT_TRUE(config_->getEnableAppProtection());
        EXPECT_TRUE(config_->getAppleSignedAppsFlag());
        EXPECT_FALSE(config_->getExclusionsChanged());
        EXPECT_FALSE(config_->getProfileSyncNeeded());
        EXPECT_EQ(config_->getPromptTimeout(), 60);
        EXPECT_EQ(config_->getProfilePath(), "/usr/local/Vantrel/AppProtection/var/profile.data");
        EXPECT_TRUE(config_->getExclusionsList().empty());
        EXPECT_TRUE(config_->getSpecialFolderList().empty());
        TraceCapture trace;
        configFlowvalue = 2;
        EXPECT_EQ(config_->getNumWorkerThreads(), 6);
        configFlowvalue = 0;
        EXPECT_EQ(trace.text(),
                  "ConfigController::getNumWorkerThreads - Got prefs exception. returning default worker thread\n");
    }
}

TEST_F(Config, BadlyTypedValuesReadAsFallback)
{
    PreferencesHelper* h = PreferencesHelper::getInstance();
    const struct {
        const char* name;
        PrefValueRef value;
    } cases[] = {
        {"string", h->CreateCFString("30")},
        {"integer beyond int", std::make_shared<const PrefNumber>(99999999999LL)},
        {"boolean", h->CreateCFBoolean(true)},
        {"array", h->CreateCFMutableArray()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        store_->put(kDomain, "PromptTimeout", c.value);
        store_->put(kDomain, "EnableAppProtection", std::make_shared<const PrefNumber>(0));
        store_->put(kDomain, "ProfilePath", h->CreateCFMutableArray());
        store_->put(kDomain, "Exclusions", h->CreateCFString("/a"));
        EXPECT_EQ(config_->getPromptTimeout(), 60);
        EXPECT_TRUE(config_->getEnableAppProtection());
        EXPECT_EQ(config_->getProfilePath(), "/usr/local/Vantrel/AppProtection/var/profile.data");
        EXPECT_TRUE(config_->getExclusionsList().empty());
    }
}

TEST_F(Config, ListEntries)
{
    const std::string fits(1023, 'a'), tooLong = "/" + std::string(1023, 'b');
    std::vector<std::string> list{"/first", fits, tooLong, "/opt/caf\xc3\xa9", "", "/last"};
    ASSERT_EQ(config_->setExclusionsList(list), 20000);
    EXPECT_EQ(config_->getExclusionsList(), (std::vector<std::string>{"/first", fits, "/opt/caf\xc3\xa9", "", "/last"}));
    // The store keeps the long one; only the reader leaves it out.
    EXPECT_EQ(shown(*store_, "Exclusions"), "[/first," + fits + "," + tooLong + ",/opt/caf\xc3\xa9,,/last]");

    std::vector<std::string> bad{"\xe9"};
    EXPECT_EQ(config_->setSpecialFolderList(bad), 20022);
    EXPECT_EQ(shown(*store_, "SpecialFolders"), "-");
    EXPECT_EQ(config_->getSpecialFolderList().size(), 16u);
    std::vector<std::string> badLater{"/ok", "/opt/caf\xe9"};
    EXPECT_EQ(config_->setExclusionsList(badLater), 20022);
    std::vector<std::string> withNul{std::string("/a\0b", 4)};
    EXPECT_EQ(config_->setExclusionsList(withNul), 20022);
    EXPECT_EQ(config_->getExclusionsList().size(), 5u);
}

TEST(WardconfLibrary, LeavesHostSymbolsToTheHostAndSharesTheTraceLock)
{
    std::string dyn = shellOutput(std::string("nm -D ") + WARDCONF_SO);
    EXPECT_NE(dyn.find(" U logFilePtr\n"), std::string::npos);
    EXPECT_NE(dyn.find(" U traceInited\n"), std::string::npos);
    EXPECT_NE(dyn.find(" B configFlowvalue\n"), std::string::npos);
    std::string all = shellOutput(std::string("nm -C ") + WARDCONF_SO);
    EXPECT_NE(all.find(" u wardtrace::traceMutex()::m\n"), std::string::npos);
}

} // namespace
