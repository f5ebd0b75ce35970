// The pane's controllers against the real system in a private namespace:
// hvod and appwardd (protection off, no kernel link) on a profile made by
// mkprofile and exclusions set with prefsctl.
#import "AppProExclusionController.h"
#import "AppProPrefsController.h"
#import "AppProRule.h"
#import "PaneTestSupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

using panetest::ns;
using panetest::run;
using panetest::utf8;

namespace {

const char kDomain[] = "com.vantrel.zrm.appprotection";
const char kHubSocket[] = "/usr/local/Vantrel/hvo/var/hvodsocket";
const char kVar[] = "/usr/local/Vantrel/AppProtection/var";

/// A program started by the test, stopped with SIGTERM at the end.
class Child {
public:
    Child(const std::vector<std::string> &argv, const std::string &log)
    {
        // Nothing allocated after the fork: the process has threads.
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
                close(fd);
            }
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        for (int i = 0; i < 100; i++) {
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    pid_t pid = -1;
};

template <class Pred> bool eventually(Pred pred, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> paths(NSArray *rows, SEL getter)
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [rows count]; i++)
        out.push_back(utf8([[rows objectAtIndex:i] performSelector:getter]));
    return out;
}

/// The executables are built once; every test starts the system afresh on
/// the same state (two rules, two exclusions, protection off) and stops it,
/// so no test sees another's changes.
class RealDaemon : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The system's fixed paths are written: only in tests/ns-run.sh.
        const char *inside = getenv("WARD_NS_INSIDE");
        ASSERT_TRUE(inside != nullptr && std::string(inside) == "1") << "run me in tests/ns-run.sh";
        apps = panetest::fixtureDir() + "/apps";
        ASSERT_EQ(0, run({"mkdir", "-p", apps, kVar}));
        // Three executables with different contents (the daemon refuses a
        // second rule for the same hash).
        for (const char *name : {"A", "B", "N"}) {
            const std::string source = apps + "/" + name + ".c";
            std::ofstream(source) << "int main(void) { return '" << name << "'; }\n";
            ASSERT_EQ(0, run({"clang", "-target", "x86_64-apple-macos10.15", "-c", source, "-o", source + ".o"}));
            ASSERT_EQ(0, run({"ld64.lld-14", "-arch", "x86_64", "-platform_version", "macos", "10.15", "10.15", "-e",
                              "_main", source + ".o", "-o", apps + "/" + name}));
        }
        built = true;
    }

    /// Two rules for A and B, two exclusions, protection off; then hvod and
    /// appwardd, up once the daemon answers the rules command.
    void startSystem()
    {
        ASSERT_TRUE(built) << "the executables were not built";
        const std::string &files = panetest::fixtureDir();
        ASSERT_EQ(0, run({MKPROFILE, std::string(kVar) + "/profile.data", apps + "/A:1:1", apps + "/B:0:2"}));
        ASSERT_EQ(0, run({PREFSCTL, "set", kDomain, "EnableAppProtection", "-bool", "false"}));
        ASSERT_EQ(0, run({PREFSCTL, "set", kDomain, "Exclusions", "-array", "/opt/ex", apps + "/A"}));
        // A socket left by the previous test's hub would pass for this one.
        unlink(kHubSocket);
        hub = std::make_unique<Child>(
            std::vector<std::string>{HVOD, "--log", files + "/hvod.jsonl", "--health-interval", "0"},
            files + "/hvod.out");
        struct stat st;
        ASSERT_TRUE(eventually([&st] { return stat(kHubSocket, &st) == 0; }, 10)) << "hvod did not start";
        daemon = std::make_unique<Child>(std::vector<std::string>{APPWARDD}, files + "/appwardd.out");
        std::string reply;
        ASSERT_TRUE(eventually(
            [&reply] { return run({HVOCTL, "send", "--to", "3", "--cmd", "20003", "--timeout", "2"}, &reply) == 0; },
            30))
            << "appwardd does not answer 20003";
    }

    void SetUp() override
    {
        startSystem();
        if (HasFatalFailure())
            return;
        pool = [NSAutoreleasePool new];
        rulesController = [[AppProPrefsController alloc] init];
        exclusionController = [[AppProExclusionController alloc] init];
        [rulesController awakeFromNib];
        [exclusionController awakeFromNib];
        [rulesController setIsPreferenceEnabled:YES];
    }
    void TearDown() override
    {
        [rulesController release];
        [exclusionController release];
        [pool release];
        // The daemon first: it persists the profile and leaves the hub.
        daemon.reset();
        hub.reset();
    }

    std::vector<std::string> rules()
    {
        return paths([rulesController appProRulesArray], @selector(applicationNameWithAbsPath));
    }
    std::vector<std::string> storedExclusions()
    {
        std::string out;
        EXPECT_EQ(0, run({PREFSCTL, "get", kDomain, "Exclusions"}, &out));
        return lines(out);
    }

    static std::string apps;
    static bool built;
    std::unique_ptr<Child> hub;
    std::unique_ptr<Child> daemon;
    NSAutoreleasePool *pool = nil;
    panetest::ToolkitScope toolkit;
    panetest::PaneBundle bundle;
    AppProPrefsController *rulesController = nil;
    AppProExclusionController *exclusionController = nil;
};

std::string RealDaemon::apps;
bool RealDaemon::built = false;

} // namespace

TEST_F(RealDaemon, ListsTheProfileAndTheSettings)
{
    EXPECT_EQ((std::vector<std::string>{apps + "/A", apps + "/B"}), rules());
    NSArray *rows = [rulesController appProRulesArray];
    ASSERT_EQ(2u, [rows count]);
    // As mkprofile wrote them: A may launch with all network, B may not launch.
    EXPECT_EQ(100, [[rows objectAtIndex:0] statusTag]);
    EXPECT_EQ(103, [[rows objectAtIndex:1] statusTag]);
    EXPECT_EQ(1, [[rows objectAtIndex:0] isRuleEnabled]);
    EXPECT_EQ((std::vector<std::string>{"/opt/ex", apps + "/A"}),
              paths([exclusionController appProExclusionsListArray], @selector(applicationNameWithAbsPath)));
    EXPECT_EQ(0u, [toolkit->panels count]) << "no error panel";
}

TEST_F(RealDaemon, RemovedExclusionLeavesTheStore)
{
    ASSERT_EQ((std::vector<std::string>{"/opt/ex", apps + "/A"}), storedExclusions());
    [exclusionController setSelectedIndexes:[NSIndexSet indexSetWithIndex:0]];
    [exclusionController RemoveExclusion:nil];
    EXPECT_EQ(std::vector<std::string>{apps + "/A"}, storedExclusions());
    EXPECT_EQ(std::vector<std::string>{apps + "/A"},
              paths([exclusionController appProExclusionsListArray], @selector(applicationNameWithAbsPath)));
    EXPECT_EQ(0u, [toolkit->panels count]);
    // The daemon's own list (20006) agrees.
    AppProExclusionController *fresh = [[AppProExclusionController alloc] init];
    [fresh awakeFromNib];
    EXPECT_EQ(std::vector<std::string>{apps + "/A"},
              paths([fresh appProExclusionsListArray], @selector(applicationNameWithAbsPath)));
    [fresh release];
}

TEST_F(RealDaemon, NewRuleIsListedByTheDaemon)
{
    const std::string exe = apps + "/N";
    EXPECT_TRUE([rulesController panel:nil shouldShowFilename:ns(exe)]);
    [rulesController AddNewRule:nil];
    ASSERT_TRUE([toolkit.toolkit sheetOpen]);
    [toolkit.toolkit playOpenPanelAnswer:[NSArray arrayWithObject:ns(exe)]];
    [rulesController ChooseApplication:nil];
    [rulesController AddNewRuleOK:nil];
    EXPECT_EQ(0u, [toolkit->panels count]) << "no error panel";
    EXPECT_FALSE([toolkit.toolkit sheetOpen]);
    EXPECT_EQ((std::vector<std::string>{apps + "/A", apps + "/B", exe}), rules());

    // A fresh pane fetches it from the daemon (20003).
    AppProPrefsController *fresh = [[AppProPrefsController alloc] init];
    [fresh awakeFromNib];
    NSArray *rows = [fresh appProRulesArray];
    EXPECT_EQ((std::vector<std::string>{apps + "/A", apps + "/B", exe}),
              paths(rows, @selector(applicationNameWithAbsPath)));
    // Sent as launch allowed with all network, enabled.
    ASSERT_EQ(3u, [rows count]);
    EXPECT_EQ(100, [[rows lastObject] statusTag]);
    EXPECT_EQ(1, [[rows lastObject] isRuleEnabled]);
    [fresh release];
    std::string reply;
    ASSERT_EQ(0, run({HVOCTL, "send", "--to", "3", "--cmd", "20003", "--timeout", "10"}, &reply));
    EXPECT_NE(std::string::npos, reply.find(" " + exe + " ")) << reply;
}
