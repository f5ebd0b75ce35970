// libwardconf over the real preferences store, inside a private
// /usr/local/Vantrel (tests/ns-run.sh): what the store itself decides (a
// read-only folder, an unparseable file, the file's form, other processes).
// The configuration's logic is tested over the store in memory
// (ConfigControllerTest.cpp).
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AppProtError.h"
#include "ConfigController.h"
#include "Files.h"
#include "Shell.h"
#include "Trace.h"
#include "TraceCapture.h"

using AppProtection::ConfigController;

namespace {

const std::string kFolder = "/usr/local/Vantrel/preferences";
const std::string kFile = kFolder + "/com.vantrel.zrm.appprotection.plist";
const std::string kDomain = "com.vantrel.zrm.appprotection";

using Outcome = wardtest::ShellResult;
using wardtest::readFile;
using wardtest::runShell;

Outcome prefsGet(const std::string& key) { return runShell(std::string(PREFSCTL) + " get " + kDomain + " " + key); }

std::atomic<int> g_calls{0};
void countCall() { ++g_calls; }

class Config : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The machine's own /usr/local is never written: only inside ns-run.sh.
        ASSERT_STREQ(getenv("WARD_NS_INSIDE"), "1") << "run through tests/ns-run.sh";
        runShell("rm -rf " + kFolder);
        ASSERT_EQ(runShell("mkdir -p " + kFolder).status, 0);
        g_calls = 0;
        config_ = ConfigController::getInstance();
        config_->registerCallBack(countCall);
    }
    void TearDown() override
    {
        if (readOnly_)
            umount(kFolder.c_str());
        if (config_)
            config_->registerCallBack(nullptr);
    }
    void makeReadOnly()
    {
        // Root ignores modes: only a read-only mount refuses it.
        ASSERT_EQ(mount(kFolder.c_str(), kFolder.c_str(), nullptr, MS_BIND, nullptr), 0);
        ASSERT_EQ(mount(nullptr, kFolder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
        readOnly_ = true;
    }
    void writeFile(const std::string& text) { std::ofstream(kFile, std::ios::binary) << text; }
    ConfigController* config_ = nullptr;
    bool readOnly_ = false;
};

TEST_F(Config, SettersResultStoredValueAndCallbacks)
{
    struct Case {
        const char* name;
        bool readOnly;
        std::function<int(ConfigController*)> call;
        int result;
        const char* key;
        Outcome stored; // prefsctl get afterwards (status 1: not stored)
        int calls;
    } cases[] = {
        {"setUnknownAppAction(4)", false, [](ConfigController* c) { return c->setUnknownAppAction(4); }, 20003,
         "UnknownAppAction", {1, ""}, 0},
        {"setUnknownAppAction(0)", false, [](ConfigController* c) { return c->setUnknownAppAction(0); }, 20000,
         "UnknownAppAction", {0, "0\n"}, 1},
        {"setUnknownAppAction(-1)", false, [](ConfigController* c) { return c->setUnknownAppAction(-1); }, 20000,
         "UnknownAppAction", {0, "-1\n"}, 1},
        {"setPromptTimeout(30)", false, [](ConfigController* c) { return c->setPromptTimeout(30); }, 20000,
         "PromptTimeout", {0, "30\n"}, 1},
        {"setCustomNwFallbackOption(1)", false, [](ConfigController* c) { return c->setCustomNwFallbackOption(1); },
         20000, "CustomNwFallBackAction", {0, "1\n"}, 1},
        {"setPromptTimeout(30) read-only", true, [](ConfigController* c) { return c->setPromptTimeout(30); }, 20022,
         "PromptTimeout", {1, ""}, 0},
        {"setAppleSignedAppsFlag(false)", true, [](ConfigController* c) { return c->setAppleSignedAppsFlag(false); },
         20022, "AllowAppleSignedApps", {1, ""}, 0},
        {"setEnableAppProtection(false)", true, [](ConfigController* c) { return c->setEnableAppProtection(false); },
         20022, "EnableAppProtection", {1, ""}, 0},
        {"setEnableAppProtection(false) writable", false,
         [](ConfigController* c) { return c->setEnableAppProtection(false); }, 20000, "EnableAppProtection",
         {0, "false\n"}, 1},
        {"setExclusionsChanged(true)", true, [](ConfigController* c) { return c->setExclusionsChanged(true); }, 20022,
         "ExclusionsChanged", {1, ""}, 0},
        {"setExclusionsChanged(true) writable", false,
         [](ConfigController* c) { return c->setExclusionsChanged(true); }, 20000, "ExclusionsChanged", {0, "true\n"},
         0},
        {"setProfileSyncNeeded(true)", true, [](ConfigController* c) { return c->setProfileSyncNeeded(true); }, 20022,
         "ProfileSyncNeeded", {1, ""}, 0},
        {"setExclusionsList({})", false,
         [](ConfigController* c) {
             std::vector<std::string> none;
             return c->setExclusionsList(none);
         },
         20000, "Exclusions", {0, ""}, 0},
        {"setSpecialFolderList({/a}) read-only", true,
         [](ConfigController* c) {
             std::vector<std::string> one{"/a"};
             return c->setSpecialFolderList(one);
         },
         20022, "SpecialFolders", {1, ""}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.readOnly)
            makeReadOnly();
        EXPECT_EQ(c.call(config_), c.result);
        Outcome got = prefsGet(c.key);
        EXPECT_EQ(got.status, c.stored.status);
        EXPECT_EQ(got.out, c.stored.out);
        EXPECT_EQ(g_calls, c.calls);
        TearDown();
        readOnly_ = false;
    }
    // The empty list is stored as an empty array.
    SetUp();
    std::vector<std::string> none;
    ASSERT_EQ(config_->setExclusionsList(none), 20000);
    EXPECT_EQ(runShell("xmllint --xpath 'name(/plist/dict/key[.=\"Exclusions\"]/following-sibling::*[1])' " + kFile).out,
              "array\n");
}

using wardtest::TraceCapture;

TEST_F(Config, CorruptFileGivesFallbacksAndRefusesWrites)
{
    const std::string garbage = "<plist version=\"1.0\"><dict><key>PromptTimeout</key>";
    writeFile(garbage);
    EXPECT_TRUE(config_->getEnableAppProtection());
    EXPECT_FALSE(config_->getProfileSyncNeeded());
    EXPECT_EQ(config_->getPromptTimeout(), 60);
    EXPECT_EQ(config_->getProfilePath(), "/usr/local/Vantrel/AppProtection/var/profile.data");
    EXPECT_TRUE(config_->getExclusionsList().empty());
    {
        TraceCapture trace;
        configFlowvalue = 2;
        EXPECT_EQ(config_->getNumWorkerThreads(), 6);
        configFlowvalue = 0;
        EXPECT_EQ(trace.text(),
                  "ConfigController::getNumWorkerThreads - Got prefs exception. returning default worker thread\n");
    }
    EXPECT_EQ(config_->setPromptTimeout(30), 20022);
    EXPECT_EQ(config_->setEnableAppProtection(false), 20022);
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(readFile(kFile), garbage);
}

TEST_F(Config, OtherProcessesReadAndWriteTheSameStore)
{
    ASSERT_EQ(config_->setPromptTimeout(25), 20000);
    std::vector<std::string> list{"/opt/caf\xc3\xa9", "/x"};
    ASSERT_EQ(config_->setExclusionsList(list), 20000);
    EXPECT_EQ(prefsGet("PromptTimeout").out, "25\n");
    EXPECT_EQ(prefsGet("Exclusions").out, "/opt/caf\xc3\xa9\n/x\n");
    EXPECT_EQ(runShell("xmllint --xpath 'string(/plist/dict/key[.=\"PromptTimeout\"]/following-sibling::*[1])' " + kFile)
                  .out,
              "25\n");
    EXPECT_EQ(runShell("xmllint --noout " + kFile).status, 0);

    g_calls = 0;
    for (int v : {30, 40}) {
        ASSERT_EQ(runShell(std::string(PREFSCTL) + " set " + kDomain + " PromptTimeout -int " + std::to_string(v)).status, 0);
        EXPECT_EQ(config_->getPromptTimeout(), v);
    }
    EXPECT_EQ(g_calls, 0);
}

TEST_F(Config, WritersInTwoProcessesLoseNeither)
{
    FILE* other = popen(("for i in $(seq 1 40); do " + std::string(PREFSCTL) + " set " + kDomain +
                         " KextHCInterval -int $i || echo fail; done").c_str(),
                        "r");
    ASSERT_NE(other, nullptr);
    for (int i = 1; i <= 40; ++i)
        ASSERT_EQ(config_->setPromptTimeout(100 + i), 20000);
    char buf[64];
    std::string out;
    while (fgets(buf, sizeof buf, other))
        out += buf;
    EXPECT_EQ(pclose(other), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(config_->getPromptTimeout(), 140);
    EXPECT_EQ(config_->getKextHealthCheckInterval(), 40);
    EXPECT_EQ(runShell("xmllint --noout " + kFile).status, 0);
}

} // namespace
