// libwardconf over the real preferences store, inside a private
// /usr/local/Vantrel (tests/ns-run.sh).
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
#include "Trace.h"

using AppProtection::ConfigController;

namespace {

const std::string kFolder = "/usr/local/Vantrel/preferences";
const std::string kFile = kFolder + "/com.vantrel.zrm.appprotection.plist";
const std::string kDomain = "com.vantrel.zrm.appprotection";

struct Outcome {
    int status;
    std::string out;
};

Outcome run(const std::string& cmd)
{
    Outcome r{-1, ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

Outcome prefsGet(const std::string& key) { return run(std::string(PREFSCTL) + " get " + kDomain + " " + key); }

std::string slurp(const std::string& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::atomic<int> g_calls{0};
void countCall() { ++g_calls; }
void throwingCall()
{
    ++g_calls;
    throw std::runtime_error("callback");
}

class Config : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The machine's own /usr/local is never written: only inside ns-run.sh.
        ASSERT_STREQ(getenv("WARD_NS_INSIDE"), "1") << "run through tests/ns-run.sh";
        run("rm -rf " + kFolder);
        ASSERT_EQ(run("mkdir -p " + kFolder).status, 0);
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
    EXPECT_EQ(prefsGet("SpecialFolders").status, 1);
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
    EXPECT_EQ(run("xmllint --xpath 'name(/plist/dict/key[.=\"Exclusions\"]/following-sibling::*[1])' " + kFile).out,
              "array\n");
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

class TraceCapture {
public:
    TraceCapture()
    {
        char tmpl[] = "/tmp/ward-conftrace.XXXXXX";
        int fd = mkstemp(tmpl);
        path_ = tmpl;
        logFilePtr = fdopen(fd, "a+");
        traceInited = 1;
    }
    ~TraceCapture()
    {
        traceInited = 0;
        std::fclose(logFilePtr);
        logFilePtr = nullptr;
        unlink(path_.c_str());
    }
    std::string text() const { return slurp(path_); }

private:
    std::string path_;
};

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
    EXPECT_EQ(slurp(kFile), garbage);
}

TEST_F(Config, BadlyTypedValuesReadAsFallback)
{
    for (std::string value : {"<string>30</string>", "<integer>99999999999</integer>", "<true/>"}) {
        SCOPED_TRACE(value);
        writeFile("<plist version=\"1.0\"><dict><key>PromptTimeout</key>" + value +
                  "<key>EnableAppProtection</key><integer>0</integer>"
                  "<key>ProfilePath</key><array/></dict></plist>");
        EXPECT_EQ(config_->getPromptTimeout(), 60);
        EXPECT_TRUE(config_->getEnableAppProtection());
        EXPECT_EQ(config_->getProfilePath(), "/usr/local/Vantrel/AppProtection/var/profile.data");
    }
}

TEST_F(Config, ListEntries)
{
    const std::string fits(1023, 'a'), tooLong = "/" + std::string(1023, 'b');
    std::vector<std::string> list{"/first", fits, tooLong, "/opt/caf\xc3\xa9", "", "/last"};
    ASSERT_EQ(config_->setExclusionsList(list), 20000);
    EXPECT_EQ(config_->getExclusionsList(), (std::vector<std::string>{"/first", fits, "/opt/caf\xc3\xa9", "", "/last"}));
    // The store keeps the long one; only the reader leaves it out.
    EXPECT_EQ(prefsGet("Exclusions").out, "/first\n" + fits + "\n" + tooLong + "\n/opt/caf\xc3\xa9\n\n/last\n");

    std::vector<std::string> bad{"\xe9"};
    EXPECT_EQ(config_->setSpecialFolderList(bad), 20022);
    EXPECT_EQ(prefsGet("SpecialFolders").status, 1);
    EXPECT_EQ(config_->getSpecialFolderList().size(), 16u);
    std::vector<std::string> badLater{"/ok", "/opt/caf\xe9"};
    EXPECT_EQ(config_->setExclusionsList(badLater), 20022);
    std::vector<std::string> withNul{std::string("/a\0b", 4)};
    EXPECT_EQ(config_->setExclusionsList(withNul), 20022);
    EXPECT_EQ(config_->getExclusionsList().size(), 5u);
}

TEST_F(Config, OtherProcessesReadAndWriteTheSameStore)
{
    ASSERT_EQ(config_->setPromptTimeout(25), 20000);
    std::vector<std::string> list{"/opt/caf\xc3\xa9", "/x"};
    ASSERT_EQ(config_->setExclusionsList(list), 20000);
    EXPECT_EQ(prefsGet("PromptTimeout").out, "25\n");
    EXPECT_EQ(prefsGet("Exclusions").out, "/opt/caf\xc3\xa9\n/x\n");
    EXPECT_EQ(run("xmllint --xpath 'string(/plist/dict/key[.=\"PromptTimeout\"]/following-sibling::*[1])' " + kFile)
                  .out,
              "25\n");
    EXPECT_EQ(run("xmllint --noout " + kFile).status, 0);

    g_calls = 0;
    for (int v : {30, 40}) {
        ASSERT_EQ(run(std::string(PREFSCTL) + " set " + kDomain + " PromptTimeout -int " + std::to_string(v)).status, 0);
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
    EXPECT_EQ(run("xmllint --noout " + kFile).status, 0);
}

TEST(WardconfLibrary, LeavesHostSymbolsToTheHostAndSharesTheTraceLock)
{
    std::string dyn = run(std::string("nm -D ") + WARDCONF_SO).out;
    EXPECT_NE(dyn.find(" U logFilePtr\n"), std::string::npos);
    EXPECT_NE(dyn.find(" U traceInited\n"), std::string::npos);
    EXPECT_NE(dyn.find(" B configFlowvalue\n"), std::string::npos);
    std::string all = run(std::string("nm -C ") + WARDCONF_SO).out;
    EXPECT_NE(all.find(" u wardtrace::traceMutex()::m\n"), std::string::npos);
}

} // namespace
