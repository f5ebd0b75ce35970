// The controller in this process against kextsim, the kernel extension's
// stand-in, as a real process at the system's socket path: rule operations
// and preference changes as the kernel sees them. And the plug-in change
// signal, through a real SIGUSR2 and the plug-in change file. Runs in a
// private /usr/local/Vantrel.
#include <csignal>

#include "AppProtError.h"
#include "CoreTestSupport.h"
#include "MakeProfile.h"
#include "PrefValues.h"
#include "SignalThread.h"

using AppProtection::AppProtectionController;
using AppProtection::BasicAppRecord;

namespace {

// Before main() starts any thread: every thread then keeps SIGUSR2 blocked
// and only the signal thread takes it.
const bool g_signalsBlocked = [] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR2);
    return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}();

const char kDomain[] = "com.vantrel.zrm.appprotection";
const std::string kLog = "/usr/local/Vantrel/kextsim.jsonl";

/// kextsim's log lines of option `option`.
size_t optionCount(int option)
{
    const std::string log = testfiles::readFile(kLog);
    return proc::countOf(log, "\"event\":\"option\",\"pid\":" + std::to_string(::getpid()) + ",\"option\":" +
                                  std::to_string(option) + ",");
}

/// Has kextsim pass one request that gets no answer; false if one came.
bool notify(const std::vector<std::string>& fields)
{
    std::vector<std::string> argv = {KEXTSIM, "send", "--expect-none", "0.3"};
    argv.insert(argv.end(), fields.begin(), fields.end());
    int rc = -1;
    proc::run(argv, &rc, 10);
    return rc == 0;
}

/// "result,networkAction" of kextsim's answer for one request, "" when none.
std::string send(const std::vector<std::string>& fields)
{
    std::vector<std::string> argv = {KEXTSIM, "send", "--wait", "3"};
    argv.insert(argv.end(), fields.begin(), fields.end());
    int rc = -1;
    const std::string out = proc::run(argv, &rc, 10);
    const size_t r = out.find("\"result\":");
    const size_t n = out.find("\"networkAction\":");
    if (rc != 0 || r == std::string::npos || n == std::string::npos)
        return "";
    return std::to_string(std::atoi(out.c_str() + r + 9)) + "," + std::to_string(std::atoi(out.c_str() + n + 16));
}

class KextsimControllerTest : public coretest::CoreTest {
protected:
    void SetUp() override
    {
        coretest::CoreTest::SetUp();
        ASSERT_TRUE(g_signalsBlocked);
        ::unlink(kLog.c_str());
        kextsim.reset(new proc::Child({KEXTSIM, "serve", "--log", kLog}));
        ASSERT_TRUE(proc::waitFor([] { return testfiles::readFile(kLog).find("listening") != std::string::npos; }, 5));
        apps = dir / "apps";
        std::filesystem::create_directory(apps);
        for (const char* name : {"R", "U"})
            std::filesystem::copy_file(coretest::fixtures() + "/" + name, apps + "/" + name);
        m_store->put(kDomain, "ProfilePath", PrefString::createWithUTF8(dir / "profile.data"));
        m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(false));
        daemontest::makeProfile(dir / "profile.data", {daemontest::Rule{apps + "/R", true, BasicAppRecord::NW_ACTION_CUSTOM}});
        AppProtectionController::Dependencies deps;
        deps.processSource = std::make_unique<coretest::NoProcesses>();
        AppProtectionController::setDependencies(std::move(deps));
        controller = AppProtectionController::getInstance();
        controller->loadProfile(false);
    }
    void TearDown() override
    {
        coretest::CoreTest::TearDown();
        kextsim.reset();
    }

    testfiles::TempDir dir;
    std::string apps;
    std::unique_ptr<proc::Child> kextsim;
    AppProtectionController* controller = nullptr;
};

TEST_F(KextsimControllerTest, RuleOperationsAndPreferenceChangesAsTheKernelSeesThem)
{
    BasicAppRecord rule;
    rule.setAppGroup(apps + "/U");
    rule.setAppPath(apps + "/U");
    rule.setEnabled(true);
    // Off: the purge is tried and fails unseen.
    EXPECT_EQ(AppProtection::SUCCESS, controller->addProfileRule(rule));

    // The preference says on, as the daemon's start-up found it.
    m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(true));
    controller->enableAppProtection();
    ASSERT_EQ(1, controller->getProtectionStatus());
    ASSERT_EQ(1u, optionCount(1));
    EXPECT_EQ(0u, optionCount(9));

    BasicAppRecord absent;
    absent.setAppGroup(coretest::fixtures() + "/D");
    EXPECT_EQ(AppProtection::ENTRY_NOT_FOUND, controller->deleteProfileRule(absent));
    EXPECT_EQ(0u, optionCount(9));
    EXPECT_EQ(AppProtection::DUPLICATE_ENTRY, controller->addProfileRule(rule));
    EXPECT_EQ(1u, optionCount(9));

    // R's custom rules match nothing: the fallback preference decides, as
    // it stands now.
    EXPECT_TRUE(notify({"pid=4545", "type=105", "cookie=1", "path=" + apps + "/R"}));
    ASSERT_TRUE(proc::waitFor([&] {
        try {
            return controller->processHelper().getNameFromPid(4545) == apps + "/R";
        } catch (...) {
            return false;
        }
    }, 5));
    EXPECT_EQ("2,4", send({"pid=4545", "type=103", "cookie=2", "networkAction=7"}));
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setCustomNwFallbackOption(1));
    EXPECT_EQ("1,4", send({"pid=4545", "type=103", "cookie=3", "networkAction=7"}));

    m_config->setEnableAppProtection(false);
    EXPECT_EQ(1u, optionCount(2)); // logged before the setter returned
    EXPECT_EQ(0, controller->getProtectionStatus());
    m_config->setEnableAppProtection(true);
    EXPECT_TRUE(proc::waitFor([] { return optionCount(1) == 2; }, 3));
}

TEST_F(KextsimControllerTest, PluginChangeSignalReloadsOnlyOnTheExactWord)
{
    AppProtection::SignalThread signals({SIGUSR2}, AppProtectionController::pluginChangeHandler);
    struct Case {
        const char* name;
        const char* content; // null: no file
        int reloads;
        int unloads;
    };
    const Case cases[] = {
        {"RELOAD and a newline", "RELOAD\n", 1, 0},
        {"blanks around it", "  RELOAD  more", 1, 0},
        {"lower case", "reload", 0, 1},
        {"empty", "", 0, 1},
        {"a longer word", "RELOAD2", 0, 1},
        {"no file", nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        servicesdouble::reset();
        ::unlink(AppProtection::kPluginChangePath);
        if (c.content != nullptr)
            testfiles::writeFile(AppProtection::kPluginChangePath, c.content);
        ASSERT_EQ(0, ::kill(::getpid(), SIGUSR2));
        if (c.reloads + c.unloads > 0)
            ASSERT_TRUE(proc::waitFor(
                [] { return servicesdouble::calls().reloads + servicesdouble::calls().unloads > 0; }, 5));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(c.reloads, servicesdouble::calls().reloads);
        EXPECT_EQ(c.unloads, servicesdouble::calls().unloads);
    }
}

} // namespace
