// The controller in one process: decisions on real files, queues and
// workers, enable and disable, rule operations and preference changes, the
// PID file. The kernel is a control in memory, the services the double, the
// preferences in memory.
#include <atomic>
#include <optional>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <unistd.h>

#include "AppProtError.h"
#include "CoreTestSupport.h"
#include "FakeKernelControl.h"
#include "MakeProfile.h"
#include "PrefValues.h"

using AppProtection::AppProtectionController;
using AppProtection::AppProtException;
using AppProtection::BasicAppRecord;
using coretest::FakeKernelControl;
using daemontest::Rule;

// lockf for this program: the C library's, after which a test can have the
// PID file's path removed or replaced, as a daemon leaving at that moment
// would do.
namespace pidrace {
std::mutex mutex;
std::string path;   // guarded by mutex
bool replace = false;
int times = 0;      // -1: on every lock

void afterLock(int result)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (result != 0 || times == 0 || path.empty())
        return;
    if (times > 0)
        --times;
    if (replace) {
        testfiles::writeFile(path + ".new", "4242");
        ::rename((path + ".new").c_str(), path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

void set(const std::string& target, bool replaceIt, int count)
{
    std::lock_guard<std::mutex> lock(mutex);
    path = target;
    replace = replaceIt;
    times = count;
}
} // namespace pidrace

extern "C" int lockf(int fd, int cmd, off_t length)
{
    using Lockf = int (*)(int, int, off_t);
    static const auto real = reinterpret_cast<Lockf>(::dlsym(RTLD_NEXT, "lockf"));
    const int result = real(fd, cmd, length);
    const int err = errno;
    pidrace::afterLock(result);
    errno = err;
    return result;
}

namespace {

const char kDomain[] = "com.vantrel.zrm.appprotection";

ScanRequest launch(int pid, int cookie, const std::string& path)
{
    ScanRequest r{};
    r.pid = pid;
    r.requestType = AppProtection::EXEC_ACTION;
    r.cookie = cookie;
    std::strncpy(r.path, path.c_str(), sizeof r.path - 1); // r.path stays NUL-terminated
    r.networkAction = 7;
    return r;
}

ScanRequest connection(int pid, int cookie, int type = AppProtection::OUTGOING_CONNECTION)
{
    ScanRequest r{};
    r.pid = pid;
    r.requestType = type;
    r.cookie = cookie;
    r.protocol = AppProtection::NW_TCP;
    r.peerAddress.sin_family = AF_INET;
    r.peerAddress.sin_port = 80;
    r.peerAddress.sin_addr.s_addr = inet_addr("10.1.2.3");
    r.networkAction = 7;
    return r;
}

ScanRequest notice(int pid, int type, const std::string& path)
{
    ScanRequest r = launch(pid, 0, path);
    r.requestType = type;
    return r;
}

using Answer = std::optional<std::pair<int, int>>; // result, networkAction

int threadCount()
{
    std::istringstream status(testfiles::readFile("/proc/self/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0)
            return std::stoi(line.substr(8));
    return -1;
}

class ControllerTest : public coretest::CoreTest {
protected:
    void SetUp() override
    {
        coretest::CoreTest::SetUp();
        apps = dir / "apps";
        std::filesystem::create_directory(apps);
        for (const char* name : {"R", "D", "U", "M", "M2", "elf", "script"})
            std::filesystem::copy_file(coretest::fixtures() + "/" + name, apps + "/" + name);
        putString("ProfilePath", dir / "profile.data");
        putString("PIDFilePath", dir / ".AppProtPid");
        // Off: a preference change must not enable protection behind a
        // test's back.
        m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(false));
        daemontest::makeProfile(dir / "profile.data", {Rule{apps + "/R", true, BasicAppRecord::NW_ACTION_CUSTOM},
                                                       Rule{apps + "/D", false, BasicAppRecord::NW_ACTION_BLOCK_ALL},
                                                       Rule{apps + "/M", true, BasicAppRecord::NW_ACTION_ALLOW_ALL}});
    }

    void putString(const char* key, const std::string& value)
    {
        m_store->put(kDomain, key, PrefString::createWithUTF8(value));
    }

    /// Builds the controller on the fake kernel and loads the profile.
    AppProtectionController* start(std::unique_ptr<AppProtection::CodeSignChecker> codesign = nullptr)
    {
        auto control = std::make_unique<FakeKernelControl>();
        fake = control.get();
        AppProtectionController::Dependencies deps;
        deps.kernelControl = std::move(control);
        deps.processSource = std::make_unique<coretest::NoProcesses>();
        deps.codeSignChecker =
            codesign ? std::move(codesign) : std::make_unique<coretest::CountingChecker>(std::set<std::string>{}, false);
        AppProtectionController::setDependencies(std::move(deps));
        controller = AppProtectionController::getInstance();
        controller->loadProfile(false);
        return controller;
    }

    /// Decides one request as a worker does; the answer queued, if any.
    Answer decide(ScanRequest request)
    {
        controller->processRequest(request);
        const std::vector<ScanRequest> answers = controller->popAllFromResponseQueue();
        if (answers.empty())
            return std::nullopt;
        EXPECT_EQ(1u, answers.size());
        EXPECT_EQ(request.cookie, answers[0].cookie);
        return std::make_pair(int(answers[0].result), answers[0].networkAction);
    }

    /// Every answer the fake kernel got, by cookie.
    std::map<int, std::vector<std::pair<int, int>>> answersByCookie()
    {
        std::map<int, std::vector<std::pair<int, int>>> out;
        for (const auto& o : fake->options()) {
            if (o.option != kctl::KEXT_OPT_RESPONSE || o.payload.size() != kctl::answer::kSize)
                continue;
            ScanRequest r;
            std::memcpy(&r, o.payload.data() + kctl::answer::kRecord, sizeof r);
            out[r.cookie].emplace_back(r.result, r.networkAction);
        }
        return out;
    }

    void push(const std::vector<ScanRequest>& requests)
    {
        fake->pushDatagram(requests.data(), requests.size() * sizeof(ScanRequest));
    }

    std::vector<std::string> logTexts()
    {
        std::vector<std::string> out;
        for (const auto& l : servicesdouble::calls().logs)
            out.push_back(l.text);
        return out;
    }

    testfiles::TempDir dir;
    std::string apps;
    FakeKernelControl* fake = nullptr;
    AppProtectionController* controller = nullptr;
};

TEST_F(ControllerTest, LaunchesAreDecidedAsTheTableSays)
{
    start();
    std::vector<std::string> folders = m_config->getSpecialFolderList();
    folders.push_back(dir / "sp");
    folders.push_back(""); // matches nothing
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setSpecialFolderList(folders));
    std::filesystem::create_directory(dir / "spX");
    std::filesystem::copy_file(apps + "/U", dir / "spX/u");

    struct Case {
        const char* name;
        std::string path;
        int unknownAppAction;
        Answer expected;
    };
    const Case cases[] = {
        {"/usr/bin/true: special folder", "/usr/bin/true", 2, std::make_pair(1, 1)},
        {"an ELF copy: not Mach-O", apps + "/elf", 2, std::make_pair(1, 1)},
        {"a script: not Mach-O", apps + "/script", 2, std::make_pair(1, 1)},
        {"R: allowed, its network action", apps + "/R", 2, std::make_pair(1, 3)},
        {"D: denied, network action untouched", apps + "/D", 2, std::make_pair(2, 7)},
        {"unknown U, allow", apps + "/U", 1, std::make_pair(1, 1)},
        {"unknown U, deny", apps + "/U", 2, std::make_pair(2, 2)},
        {"unknown U, action 0 denies", apps + "/U", 0, std::make_pair(2, 2)},
        {"unknown U, action 7 denies", apps + "/U", 7, std::make_pair(2, 2)},
        {"U by byte prefix of a special folder", dir / "spX/u", 2, std::make_pair(1, 1)},
        {"a file that does not exist: allowed on the exception", "/nonexistent/x", 2, std::make_pair(1, 7)},
        {"unknown U, ask: no answer now", apps + "/U", 3, std::nullopt},
    };
    int cookie = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putInt("UnknownAppAction", c.unknownAppAction);
        EXPECT_EQ(c.expected, decide(launch(1000 + cookie, cookie, c.path)));
        ++cookie;
    }
    // The asked launch waits in the alert manager with network action 4; its
    // process is cached without network.
    const std::vector<ScanRequest> pending = servicesdouble::pending();
    ASSERT_EQ(1u, pending.size());
    EXPECT_EQ(cookie - 1, pending[0].cookie);
    EXPECT_EQ(4, pending[0].networkAction);
    EXPECT_EQ(apps + "/U", controller->processHelper().getNameFromPid(1000 + cookie - 1));
    EXPECT_FALSE(controller->processHelper().getNetworkActionFromPid(1000 + cookie - 1));
    // The exception left no cache entry.
    EXPECT_THROW(controller->processHelper().getNameFromPid(1011), AppProtException);
    // An unknown application is reported under its own path as group.
    const auto reports = servicesdouble::calls().reports;
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(apps + "/U", reports.back().group);
    EXPECT_EQ(3, reports.back().action);
    // The user's answer is the only one the request gets.
    EXPECT_TRUE(servicesdouble::answerPending(cookie - 1, true));
    EXPECT_EQ(1u, controller->popAllFromResponseQueue().size());
}

TEST_F(ControllerTest, ChangedApplicationIsDeniedAfterItsFileChangeNotice)
{
    start();
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setUnknownAppAction(2));
    EXPECT_EQ(std::make_pair(1, 1), decide(launch(50, 1, apps + "/M")));
    std::filesystem::copy_file(apps + "/M2", apps + "/M", std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(std::nullopt, decide(notice(0, AppProtection::MODIFY_ACTION, apps + "/M")));
    EXPECT_EQ(std::make_pair(2, 4), decide(launch(51, 2, apps + "/M")));
    // Its network: not blocked by the rule, so the unknown-application rule
    // denies; the network action is the modified one.
    controller->processHelper().addProcessPid(apps + "/M", 52);
    EXPECT_EQ(std::make_pair(2, 4), decide(connection(52, 3)));
}

TEST_F(ControllerTest, ConnectionsAreDecidedFromTheProcessCache)
{
    start();
    std::vector<std::string> exclusions{"", "/opt/ex"}; // the empty entry matches nothing
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setExclusionsList(exclusions));
    EXPECT_EQ(std::make_pair(1, 1), decide(connection(99, 1))); // not cached

    EXPECT_EQ(std::nullopt, decide(notice(4242, AppProtection::PID_CREATION, apps + "/D")));
    EXPECT_EQ(std::make_pair(2, 2), decide(connection(4242, 2)));

    ASSERT_EQ(AppProtection::SUCCESS, m_config->setUnknownAppAction(3));
    EXPECT_EQ(std::nullopt, decide(launch(4343, 3, apps + "/U")));
    EXPECT_EQ(std::make_pair(2, 4), decide(connection(4343, 4)));

    const size_t reportsBefore = servicesdouble::calls().reports.size();
    decide(notice(4444, AppProtection::PID_CREATION, "/opt/ex/tool"));
    EXPECT_EQ(std::make_pair(1, 1), decide(connection(4444, 5)));
    EXPECT_EQ(reportsBefore, servicesdouble::calls().reports.size()); // excluded: no report

    // R's custom rules match nothing: the fallback decides, as the
    // preference says now.
    decide(notice(4545, AppProtection::PID_CREATION, apps + "/R"));
    EXPECT_EQ(std::make_pair(2, 4), decide(connection(4545, 6)));
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setCustomNwFallbackOption(1));
    EXPECT_EQ(std::make_pair(1, 4), decide(connection(4545, 7)));
}

TEST_F(ControllerTest, BlockedNoticesAreOnlyReportedAndOtherTypesDropped)
{
    start();
    decide(notice(4242, AppProtection::PID_CREATION, apps + "/D"));
    struct Case {
        const char* name;
        int type;
        int reportedAs; // 0: no report
    };
    for (const Case& c : {Case{"106", AppProtection::BLOCKED_INCOMING_CONNECTION, 102},
                          Case{"107", AppProtection::BLOCKED_OUTGOING_CONNECTION, 103},
                          Case{"104", AppProtection::INCOMING_OUTGOING_CONNECTION, 0}, Case{"0", 0, 0}}) {
        SCOPED_TRACE(c.name);
        const size_t before = servicesdouble::calls().reports.size();
        ScanRequest r = connection(4242, 9, c.type);
        controller->processRequest(r);
        EXPECT_TRUE(controller->popAllFromResponseQueue().empty());
        EXPECT_EQ(c.type, r.requestType);
        const auto reports = servicesdouble::calls().reports;
        if (c.reportedAs == 0) {
            EXPECT_EQ(before, reports.size());
        } else {
            ASSERT_EQ(before + 1, reports.size());
            EXPECT_EQ(c.reportedAs, reports.back().operation);
            EXPECT_EQ(2, reports.back().action);
        }
    }
}

TEST_F(ControllerTest, BeforeAProfileIsLoadedEditsAndEnableAreRefused)
{
    AppProtectionController::Dependencies deps;
    auto control = std::make_unique<FakeKernelControl>();
    fake = control.get();
    deps.kernelControl = std::move(control);
    deps.processSource = std::make_unique<coretest::NoProcesses>();
    AppProtectionController::setDependencies(std::move(deps));
    controller = AppProtectionController::getInstance();
    BasicAppRecord rule;
    rule.setAppGroup(apps + "/U");
    EXPECT_EQ(AppProtection::UNEXPECTED_EXCEPTION, controller->addProfileRule(rule));
    EXPECT_EQ(AppProtection::UNEXPECTED_EXCEPTION, controller->deleteProfileRule(rule));
    EXPECT_EQ(AppProtection::UNEXPECTED_EXCEPTION, controller->breakdownAppGroupofApp(apps + "/U"));
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { controller->getAllProfileRules(true); },
             [&] { controller->loadModifiedProfile({rule}); }}) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const AppProtException& e) {
            EXPECT_EQ(AppProtection::UNEXPECTED_EXCEPTION, e.getExceptionId());
        }
    }
    controller->enableAppProtection();
    EXPECT_EQ(0, controller->getProtectionStatus());
    EXPECT_TRUE(fake->events().empty());
    // A decision still answers: allowed, as after any failure.
    EXPECT_EQ(std::make_pair(1, 7), decide(launch(5, 5, apps + "/D")));
}

TEST_F(ControllerTest, RuleEditsReturnTheProfileCodeAndPurgeUnlessItThrew)
{
    start();
    struct Case {
        const char* name;
        std::function<AppProtection::AppProtError()> edit;
        AppProtection::AppProtError code;
        size_t purges;
    };
    BasicAppRecord absent;
    absent.setAppGroup(apps + "/U");
    absent.setAppPath(apps + "/U");
    BasicAppRecord added = absent;
    added.setEnabled(true);
    const Case cases[] = {
        {"deleting an absent rule", [&] { return controller->deleteProfileRule(absent); },
         AppProtection::ENTRY_NOT_FOUND, 0},
        {"adding while off: the purge is tried", [&] { return controller->addProfileRule(added); },
         AppProtection::SUCCESS, 1},
        {"a duplicate add", [&] { return controller->addProfileRule(added); }, AppProtection::DUPLICATE_ENTRY, 1},
        {"a breakdown never purges", [&] { return controller->breakdownAppGroupofApp(apps + "/U"); },
         AppProtection::SUCCESS, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake->count(kctl::KEXT_OPT_PURGE_CACHE);
        EXPECT_EQ(c.code, c.edit());
        EXPECT_EQ(before + c.purges, fake->count(kctl::KEXT_OPT_PURGE_CACHE));
    }
}

TEST_F(ControllerTest, EnableSendsExclusionsBeforeHookingAndDisableAnswersPendingAlertsFirst)
{
    start();
    std::vector<std::string> exclusions{"/opt/ex", "", "/tmp/e x"};
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setExclusionsList(exclusions));
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setUnknownAppAction(3));
    controller->enableAppProtection();
    ASSERT_EQ(1, controller->getProtectionStatus());
    ASSERT_TRUE(fake->waitFor(
        [&] { return fake->count(kctl::KEXT_OPT_PING) >= 1 && fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT) >= 1; },
        1));
    std::vector<std::string> events = fake->events();
    std::vector<std::string> untilHooking;
    for (const std::string& e : events) {
        if (e != "option 9" && e != "option 5" && e != "option 6")
            untilHooking.push_back(e);
        if (e == "option 1")
            break;
    }
    EXPECT_EQ((std::vector<std::string>{"open", "option 7", "option 8", "option 8", "option 1"}), untilHooking);
    std::vector<std::string> paths;
    for (const auto& o : fake->options())
        if (o.option == kctl::KEXT_OPT_ADD_EXCLUSION)
            paths.emplace_back(o.payload.begin(), o.payload.end());
    EXPECT_EQ((std::vector<std::string>{"/opt/ex", "/tmp/e x"}), paths);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(1u, fake->count(kctl::KEXT_OPT_PING));
    EXPECT_EQ(1u, fake->count(kctl::KEXT_OPT_PROMPT_TIMEOUT));

    push({launch(77, 31, apps + "/U")});
    ASSERT_TRUE(proc::waitFor([] { return servicesdouble::pending().size() == 1; }, 5));
    controller->disableAppProtection();
    events = fake->events();
    const auto stop = std::find(events.begin(), events.end(), "option 2");
    ASSERT_NE(events.end(), stop);
    EXPECT_EQ((std::vector<std::string>{"option 2", "option 4", "close"}), std::vector<std::string>(stop, events.end()));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{1, 4}}), answersByCookie()[31]);
    EXPECT_EQ((std::vector<std::string>{"Application Protection has been enabled",
                                         "Application Protection has been disabled"}),
              logTexts());
    const auto logs = servicesdouble::calls().logs;
    EXPECT_EQ(1, logs.back().type);
    EXPECT_EQ(3, logs.back().level);
}

TEST_F(ControllerTest, FailedEnableThrowsAndLeavesNoThreadRunning)
{
    struct Case {
        const char* name;
        int option; // 0: the open fails
        AppProtection::AppProtError code;
    };
    const Case cases[] = {
        {"connect", 0, AppProtection::KEXT_CONNECT_FAILED},
        {"flush exclusions", kctl::KEXT_OPT_FLUSH_EXCLUSIONS, AppProtection::KEXT_FLUSH_EXCLUSIONS_FAILED},
        {"add exclusion", kctl::KEXT_OPT_ADD_EXCLUSION, AppProtection::KEXT_SET_EXCLUSIONS_FAILED},
        {"start hooking", kctl::KEXT_OPT_START_HOOKING, AppProtection::KEXT_START_HOOKING_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppProtectionController::releaseInstance();
        start();
        std::vector<std::string> exclusions{"/opt/ex"};
        m_config->setExclusionsList(exclusions);
        const int threads = threadCount();
        if (c.option == 0)
            fake->failOpen(true);
        else
            fake->failOption(c.option, EINVAL);
        try {
            controller->enableAppProtection();
            ADD_FAILURE() << "no exception";
        } catch (const AppProtException& e) {
            EXPECT_EQ(c.code, e.getExceptionId());
        }
        EXPECT_EQ(0, controller->getProtectionStatus());
        // A joined thread can still be counted for a moment after the join.
        EXPECT_TRUE(proc::waitFor([&] { return threadCount() <= threads; }, 5)) << threadCount() << " threads";
        if (c.option != 0) {
            EXPECT_EQ("close", fake->events().back());
        }
        EXPECT_TRUE(logTexts().empty());
    }
}

TEST_F(ControllerTest, HangUpDisablesOnceOnAnotherThread)
{
    start();
    controller->enableAppProtection();
    fake->hangUp();
    ASSERT_TRUE(proc::waitFor([&] { return logTexts().size() == 2; }, 5));
    EXPECT_EQ("Application Protection has been disabled", logTexts().back());
    EXPECT_EQ(0, controller->getProtectionStatus());
    controller->disableAppProtection();
    EXPECT_EQ(2u, logTexts().size());
}

TEST_F(ControllerTest, ProtectionFollowsEnableAppProtection)
{
    start();
    controller->enableAppProtection();
    const size_t purges = fake->count(kctl::KEXT_OPT_PURGE_CACHE);
    // A change that leaves it on: one purge and nothing else.
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setPromptTimeout(61));
    EXPECT_EQ(purges + 1, fake->count(kctl::KEXT_OPT_PURGE_CACHE));
    EXPECT_EQ(1u, fake->count(kctl::KEXT_OPT_START_HOOKING));

    m_config->setEnableAppProtection(false);
    EXPECT_EQ(1u, fake->count(kctl::KEXT_OPT_STOP_HOOKING)); // before the setter returned
    EXPECT_EQ(0, controller->getProtectionStatus());

    m_config->setEnableAppProtection(true);
    EXPECT_TRUE(fake->waitFor([&] { return fake->count(kctl::KEXT_OPT_START_HOOKING) == 2; }, 3));
    EXPECT_TRUE(proc::waitFor([&] { return controller->getProtectionStatus() == 1; }, 3));
}

TEST_F(ControllerTest, FileChangeFailureLeavesTheWorkerDeciding)
{
    putInt("NumWorkerThreads", 1);
    start();
    controller->enableAppProtection();
    // A stored application whose file is gone cannot be fingerprinted.
    std::filesystem::remove(apps + "/R");
    push({notice(0, AppProtection::MODIFY_ACTION, apps + "/R"), launch(60, 61, apps + "/D")});
    ASSERT_TRUE(fake->waitFor([&] { return answersByCookie().count(61) == 1; }, 5));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{2, 7}}), answersByCookie()[61]);
}

TEST_F(ControllerTest, CodesignRunsOncePerPathPerEnable)
{
    // One worker: two workers missing the cache at once may both run the
    // tool for one path (the later result replaces the earlier).
    putInt("NumWorkerThreads", 1);
    auto checker = std::make_unique<coretest::CountingChecker>(std::set<std::string>{});
    coretest::CountingChecker* counts = checker.get();
    start(std::move(checker));
    ASSERT_TRUE(m_config->getAppleSignedAppsFlag());
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setUnknownAppAction(2));
    controller->enableAppProtection();
    push({launch(1, 1, apps + "/U"), launch(2, 2, apps + "/U")});
    ASSERT_TRUE(fake->waitFor([&] { return answersByCookie().size() == 2; }, 5));
    EXPECT_EQ(1, counts->runs(apps + "/U"));
    controller->disableAppProtection();
    controller->enableAppProtection();
    push({launch(3, 3, apps + "/U")});
    ASSERT_TRUE(fake->waitFor([&] { return answersByCookie().size() == 3; }, 5));
    EXPECT_EQ(2, counts->runs(apps + "/U"));
}

TEST_F(ControllerTest, WithoutCodesignAppleSignedAppsIsSwitchedOff)
{
    ASSERT_TRUE(m_config->getAppleSignedAppsFlag());
    start();
    EXPECT_FALSE(m_config->getAppleSignedAppsFlag());
}

TEST_F(ControllerTest, TenThousandLaunchesFromThreeSendersGetOneAnswerEach)
{
    start();
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setUnknownAppAction(2));
    controller->enableAppProtection();
    struct Kind {
        std::string path;
        std::pair<int, int> answer;
    };
    const Kind kinds[] = {{apps + "/R", {1, 3}}, {apps + "/D", {2, 7}}, {"/usr/bin/true", {1, 1}}, {apps + "/U", {2, 2}}};
    constexpr int kPerSender = 3334;
    std::vector<std::thread> senders;
    for (int s = 0; s < 3; ++s) {
        senders.emplace_back([&, s] {
            // Datagrams of 1 to 10 records.
            std::vector<ScanRequest> batch;
            size_t batches = 0;
            for (int i = 0; i < kPerSender; ++i) {
                const int cookie = s * kPerSender + i + 1;
                batch.push_back(launch(cookie, cookie, kinds[cookie % 4].path));
                if (batch.size() == 1 + batches % 10) {
                    push(batch);
                    batch.clear();
                    ++batches;
                }
            }
            if (!batch.empty())
                push(batch);
        });
    }
    for (std::thread& t : senders)
        t.join();
    const size_t total = 3 * kPerSender;
    const bool all = fake->waitFor([&] { return fake->count(kctl::KEXT_OPT_RESPONSE) >= total; }, 120);
    ASSERT_TRUE(all) << fake->count(kctl::KEXT_OPT_RESPONSE) << " answers, " << fake->passes() << " passes";
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto answers = answersByCookie();
    ASSERT_EQ(total, answers.size());
    for (const auto& [cookie, got] : answers) {
        ASSERT_EQ(1u, got.size()) << "cookie " << cookie;
        ASSERT_EQ(kinds[cookie % 4].answer, got[0]) << "cookie " << cookie;
    }
    controller->disableAppProtection();
}

TEST_F(ControllerTest, PersistsOfOneProfileNeverOverlap)
{
    start();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                BasicAppRecord rule;
                const std::string path = apps + (t % 2 ? "/U" : "/elf");
                rule.setAppGroup(apps + "/U");
                rule.setAppPath(apps + "/U");
                rule.setEnabled(true);
                controller->addProfileRule(rule);
                controller->persistProfile();
                controller->deleteProfileRule(rule);
                controller->persistProfile();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    controller->persistProfile();
    // What was written last loads, and holds the three rules made at start.
    daemontest::Rule none;
    AppProtection::ProfileDataController check;
    check.loadProfile(dir / "profile.data");
    EXPECT_EQ(3u, check.getAllProfileRules(false).size());
}

TEST_F(ControllerTest, AgentWrapperFailureIsTracedNotThrown)
{
    start();
    servicesdouble::failNextAgentWrapper();
    EXPECT_NO_THROW(controller->createAppHVOMAgentWrapper());
    EXPECT_EQ(0, servicesdouble::calls().agentWrappers);
    controller->createAppHVOMAgentWrapper();
    controller->createAppHVOMAgentWrapper();
    EXPECT_EQ(1, servicesdouble::calls().agentWrappers);
    controller->releaseAppHVOMAgentWrapper();
    EXPECT_EQ(1, servicesdouble::calls().agentWrappersReleased);
}

/// Runs python3's fcntl.lockf on `path`: 0 when it got the lock at once.
int pythonLock(const std::string& path)
{
    return coretest::runProgram({"/usr/bin/python3", "-c",
                                 "import fcntl, sys\n"
                                 "f = open(sys.argv[1], 'a')\n"
                                 "try:\n"
                                 "    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)\n"
                                 "except OSError:\n"
                                 "    sys.exit(1)\n",
                                 path});
}

TEST_F(ControllerTest, PidFileHoldsThePidUnderLockUntilRemoved)
{
    start();
    const std::string path = dir / ".AppProtPid";
    ASSERT_TRUE(controller->createPidFile());
    EXPECT_EQ(1, pythonLock(path));
    // Reading it here closes a descriptor of the file, which drops this
    // process's lock: only after the lock was checked.
    EXPECT_EQ(std::to_string(::getpid()), testfiles::readFile(path));
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777);
    controller->removePidFile();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ControllerTest, PidFileHeldElsewhereIsLeftAsItIs)
{
    start();
    const std::string path = dir / ".AppProtPid";
    testfiles::writeFile(path, "4242");
    const std::string ready = dir / "ready";
    proc::Child holder({"/usr/bin/python3", "-c",
                            "import fcntl, sys, time\n"
                            "f = open(sys.argv[1], 'a')\n"
                            "fcntl.lockf(f, fcntl.LOCK_EX)\n"
                            "open(sys.argv[2], 'w').close()\n"
                            "time.sleep(30)\n",
                            path, ready});
    ASSERT_TRUE(proc::waitFor([&] { return std::filesystem::exists(ready); }, 10));
    EXPECT_FALSE(controller->createPidFile());
    EXPECT_EQ("4242", testfiles::readFile(path));
    controller->removePidFile(); // holds nothing: removes nothing
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(ControllerTest, PidFileLockedAfterItsPathChangedIsReopened)
{
    struct Case {
        const char* name;
        bool replace; // else removed
        int times;    // -1: after every lock
        bool created;
    };
    const Case cases[] = {
        {"removed after the lock", false, 1, true},
        {"replaced after the lock", true, 1, true},
        {"replaced after three locks", true, 3, true},
        {"replaced after every lock", true, -1, false},
    };
    const std::string path = dir / ".AppProtPid";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppProtectionController::releaseInstance();
        start();
        std::filesystem::remove(path);
        pidrace::set(path, c.replace, c.times);
        const bool created = controller->createPidFile();
        pidrace::set("", false, 0);
        EXPECT_EQ(c.created, created);
        if (!created) {
            EXPECT_EQ("4242", testfiles::readFile(path));
            continue;
        }
        // The lock and the pid are on the file the path names.
        EXPECT_EQ(1, pythonLock(path));
        EXPECT_EQ(std::to_string(::getpid()), testfiles::readFile(path));
        controller->removePidFile();
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(ControllerTest, ShutdownAfterAFailedStartStillPersistsTheProfile)
{
    struct Case {
        const char* name;
        int option; // 0: the open fails
    };
    const Case cases[] = {
        {"kernel link refused", 0},
        {"hooking refused", kctl::KEXT_OPT_START_HOOKING},
    };
    const std::string profile = dir / "profile.data";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppProtectionController::releaseInstance();
        m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(true));
        start();
        const std::string event = c.option == 0 ? "open" : "option " + std::to_string(c.option);
        // A rule edited while the daemon starts, just before the step that
        // fails: only the shutdown's persist can write it.
        AppProtection::AppProtError edited = AppProtection::UNEXPECTED_EXCEPTION;
        fake->beforeEvent(event, [&] {
            BasicAppRecord rule;
            rule.setAppGroup(apps + "/U");
            rule.setAppPath(apps + "/U");
            rule.setEnabled(true);
            edited = AppProtectionController::getInstance()->addProfileRule(rule);
        });
        if (c.option == 0)
            fake->failOpen(true);
        else
            fake->failOption(c.option, EINVAL);
        EXPECT_EQ(0, AppProtectionController::main(0, nullptr));
        EXPECT_EQ(AppProtection::SUCCESS, edited);
        AppProtection::ProfileDataController check;
        check.loadProfile(profile);
        std::set<std::string> paths;
        for (const BasicAppRecord& r : check.getAllProfileRules(false))
            paths.insert(r.getAppPath());
        EXPECT_EQ((std::set<std::string>{apps + "/R", apps + "/D", apps + "/M", apps + "/U"}), paths);
        EXPECT_FALSE(std::filesystem::exists(dir / ".AppProtPid"));
        m_store->put(kDomain, "EnableAppProtection", PrefBoolean::get(false));
        daemontest::makeProfile(profile, {Rule{apps + "/R", true, BasicAppRecord::NW_ACTION_CUSTOM},
                                          Rule{apps + "/D", false, BasicAppRecord::NW_ACTION_BLOCK_ALL},
                                          Rule{apps + "/M", true, BasicAppRecord::NW_ACTION_ALLOW_ALL}});
    }
}

} // namespace
