// The process and code-signature caches: the cache rules, the start-up scan
// over the real /proc with real child processes, and the code-signature
// check through a counting checker and through a fake codesign tool run as
// a real child.
#include <set>

#include "AppProtError.h"
#include "CodeSignChecker.h"
#include "CoreTestSupport.h"
#include "ProcessHelper.h"

using AppProtection::AppProtException;
using AppProtection::ProcessHelper;
using proc::Child;
using coretest::CountingChecker;
using coretest::NoProcesses;
using testfiles::TempDir;

namespace {

class ProcessCacheTest : public coretest::CoreTest {
protected:
    ProcessHelper helper{std::make_unique<NoProcesses>(), std::make_unique<CountingChecker>(std::set<std::string>{})};
};

TEST_F(ProcessCacheTest, EntriesFollowTheCacheRules)
{
    struct Case {
        const char* name;
        std::function<void(ProcessHelper&)> steps;
        bool cached;
        std::string path;
        bool network;
    };
    const Case cases[] = {
        {"a re-used pid takes the new path and loses its network answer",
         [](ProcessHelper& h) {
             h.addProcessPid("/a", 7);
             h.updateNetworkAction("/a", 7, true);
             h.addProcessPid("/b", 7);
         },
         true, "/b", false},
        {"an update keeps the cached path",
         [](ProcessHelper& h) {
             h.addProcessPid("/a", 7);
             h.updateNetworkAction("/elsewhere", 7, true);
         },
         true, "/a", true},
        {"an update of an unknown pid inserts it",
         [](ProcessHelper& h) { h.updateNetworkAction("/c", 7, true); }, true, "/c", true},
        {"an empty path is not cached", [](ProcessHelper& h) { h.addProcessPid("", 7); }, false, "", false},
        {"a clear forgets everything",
         [](ProcessHelper& h) {
             h.updateNetworkAction("/c", 7, true);
             h.clearCache();
         },
         false, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        helper.clearCache();
        c.steps(helper);
        EXPECT_EQ(c.network, helper.getNetworkActionFromPid(7));
        if (c.cached)
            EXPECT_EQ(c.path, helper.getNameFromPid(7));
        else
            EXPECT_THROW(helper.getNameFromPid(7), AppProtException);
    }
}

TEST_F(ProcessCacheTest, UnknownPidThrowsPidNotInCache)
{
    try {
        helper.getNameFromPid(12345);
        FAIL() << "no exception";
    } catch (const AppProtException& e) {
        EXPECT_EQ(AppProtection::PID_NOT_IN_CACHE, e.getExceptionId());
        EXPECT_EQ("Could not find PID in cache", e.getExceptionMsg());
    }
    EXPECT_FALSE(helper.getNetworkActionFromPid(12345));
}

TEST_F(ProcessCacheTest, StartUpScanNamesRealProcessesExactly)
{
    // Blanks, a double blank and UTF-8 in the path; one program removed
    // while it runs; one in a special folder.
    TempDir dir;
    const std::string folder = dir / "x  y";
    std::filesystem::create_directory(folder);
    const std::string odd = folder + "/sl\xc3\xa9" "ep";
    const std::string gone = dir / "gone";
    std::filesystem::copy_file("/usr/bin/sleep", odd);
    std::filesystem::copy_file("/usr/bin/sleep", gone);
    ::chmod(odd.c_str(), 0755);
    ::chmod(gone.c_str(), 0755);
    Child oddChild({odd, "30"});
    Child goneChild({gone, "30"});
    Child systemChild({"/usr/bin/sleep", "30"});
    ASSERT_GT(oddChild.pid(), 0);
    ASSERT_GT(goneChild.pid(), 0);
    ASSERT_GT(systemChild.pid(), 0);
    // The children have exec'ed once /proc names their programs.
    ASSERT_TRUE(proc::waitFor(
        [&] { return AppProtection::ProcProcessSource().programPath(goneChild.pid()) == gone; }, 5));
    ::unlink(gone.c_str());
    ASSERT_TRUE(proc::waitFor(
        [&] { return AppProtection::ProcProcessSource().programPath(oddChild.pid()) == odd; }, 5));
    ASSERT_TRUE(proc::waitFor(
        [&] { return AppProtection::ProcProcessSource().programPath(systemChild.pid()) == "/usr/bin/sleep"; }, 5));

    // An empty special-folder entry must not make every process trusted.
    std::vector<std::string> folders{"", "/usr/bin"};
    ASSERT_EQ(AppProtection::SUCCESS, m_config->setSpecialFolderList(folders));

    ProcessHelper real(std::make_unique<AppProtection::ProcProcessSource>(),
                       std::make_unique<CountingChecker>(std::set<std::string>{}));
    real.buildPidCache();
    EXPECT_EQ("kernel_task", real.getNameFromPid(0));
    EXPECT_EQ(odd, real.getNameFromPid(oddChild.pid()));
    EXPECT_FALSE(real.getNetworkActionFromPid(oddChild.pid()));
    EXPECT_EQ(gone, real.getNameFromPid(goneChild.pid()));
    EXPECT_EQ("/usr/bin/sleep", real.getNameFromPid(systemChild.pid()));
    EXPECT_TRUE(real.getNetworkActionFromPid(systemChild.pid()));
    EXPECT_EQ(odd, real.findNameFromPID(oddChild.pid()));
}

TEST_F(ProcessCacheTest, CodesignRunsOncePerPathUntilCleared)
{
    auto checker = std::make_unique<CountingChecker>(std::set<std::string>{"/signed"});
    CountingChecker* counts = checker.get();
    ProcessHelper h(std::make_unique<NoProcesses>(), std::move(checker));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                EXPECT_TRUE(h.isAppleSigned("/signed"));
                EXPECT_FALSE(h.isAppleSigned("/unsigned"));
            }
        });
    for (std::thread& t : threads)
        t.join();
    // Two threads may both miss at first; after that the cache answers.
    EXPECT_LE(counts->runs("/signed"), 4);
    EXPECT_GE(counts->runs("/signed"), 1);
    const int before = counts->runs("/unsigned");
    EXPECT_FALSE(h.isAppleSigned("/unsigned"));
    EXPECT_EQ(before, counts->runs("/unsigned"));
    h.clearCache();
    EXPECT_FALSE(h.isAppleSigned("/unsigned"));
    EXPECT_EQ(before + 1, counts->runs("/unsigned"));
}

/// A fake codesign that writes its arguments, NUL-terminated, to `out` and
/// exits with `status`.
std::string fakeCodesign(const TempDir& dir, const std::string& name, int status)
{
    const std::string tool = dir / name;
    testfiles::writeFile(tool, "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + dir / (name + ".args") + "'\nexit " +
                                   std::to_string(status) + "\n");
    ::chmod(tool.c_str(), 0755);
    return tool;
}

TEST(CodesignTool, PathReachesTheToolAsOneArgumentAndExitStatusDecides)
{
    TempDir dir;
    const std::string weird = dir / "a\"b$(touch PWNED)c`touch PWNED2`d\\e f";
    struct Case {
        const char* name;
        int status;
        bool signedByApple;
    };
    for (const Case& c : {Case{"signed", 0, true}, Case{"unsigned", 1, false}}) {
        SCOPED_TRACE(c.name);
        const std::string tool = fakeCodesign(dir, c.name, c.status);
        AppProtection::CodesignToolChecker checker(tool);
        EXPECT_TRUE(checker.available());
        EXPECT_EQ(c.signedByApple, checker.isAppleSigned(weird));
        const std::string expected = std::string("-v") + '\0' + "-R=anchor apple" + '\0' + weird + '\0';
        EXPECT_EQ(expected, testfiles::readFile(dir / (std::string(c.name) + ".args")));
    }
    EXPECT_FALSE(std::filesystem::exists("PWNED"));
    EXPECT_FALSE(std::filesystem::exists("PWNED2"));

    AppProtection::CodesignToolChecker missing(dir / "no-such-tool");
    EXPECT_FALSE(missing.available());
    EXPECT_FALSE(missing.isAppleSigned(weird));
}

TEST(CodesignTool, ToolIsExecutedDirectlyWithoutAShell)
{
    TempDir dir;
    const std::string tool = fakeCodesign(dir, "codesign", 0);
    const std::string path = dir / "x; echo $HOME";
    const std::string log = dir / "strace.log";
    ASSERT_EQ(0, coretest::runProgram({"/usr/bin/strace", "-f", "-qq", "-s", "4096",
                                       // LeakSanitizer cannot run under ptrace.
                                       "-E", "LSAN_OPTIONS=detect_leaks=0", "-e", "trace=execve", "-o", log,
                                       CODESIGN_PROBE, tool, path}));
    const std::string trace = testfiles::readFile(log);
    std::istringstream lines(trace);
    std::vector<std::string> execs;
    for (std::string line; std::getline(lines, line);)
        if (line.find("execve(") != std::string::npos)
            execs.push_back(line);
    // The probe itself, then the tool with its four arguments; no shell.
    ASSERT_EQ(2u, execs.size()) << trace;
    EXPECT_NE(std::string::npos,
              execs[1].find("execve(\"" + tool + "\", [\"" + tool + "\", \"-v\", \"-R=anchor apple\", \"" + path +
                            "\"]"))
        << execs[1];
}

} // namespace
