// tests/ns-run.sh, run as a process from outside any namespace: with
// --overlay DIR, DIR's files show at their paths inside only, writes stay
// inside except in the bound source and build trees, and locks work; without
// it, the private /usr/local/Vantrel as before.
#include <sys/stat.h>

#include "KctlTestSupport.h"
#include "ProcessSupport.h"

namespace {

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644)
{
    std::ofstream(path) << text;
    ::chmod(path.c_str(), mode);
}

/// A folder laid out like the machine's root: a kextload and an application.
class OverlayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(exists("/usr/sbin/kextload")) << "this machine has a kextload of its own";
        ASSERT_FALSE(exists("/Applications"));
        std::filesystem::create_directories(dir.path() + "/usr/sbin");
        std::filesystem::create_directories(dir.path() + "/Applications/X.app/Contents");
        writeFile(dir.path() + "/usr/sbin/kextload", "#!/bin/sh\necho \"fake kextload $*\"\n", 0755);
        writeFile(dir.path() + "/Applications/X.app/Contents/Info.plist", "<plist/>\n");
    }

    /// `script` run by /bin/sh inside the overlay, with `args` as $1...
    std::string inside(const std::string& script, const std::vector<std::string>& args = {}, int* rc = nullptr)
    {
        std::vector<std::string> argv = {NS_RUN, "--overlay", dir.path(), "/bin/sh", "-c", script, "sh"};
        argv.insert(argv.end(), args.begin(), args.end());
        return proc::run(argv, rc, 30);
    }

    kctltest::TempDir dir;
};

TEST_F(OverlayTest, TheFolderShowsAtItsPathsInsideOnly)
{
    int rc = -1;
    const std::string out = inside("/sbin/kextload /usr/local/Vantrel/AppProtection/Extensions/AppProtection.kext && "
                                   "cat /Applications/X.app/Contents/Info.plist && "
                                   "echo changed > /usr/sbin/kextload && cat /usr/sbin/kextload",
                                   {}, &rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ("fake kextload /usr/local/Vantrel/AppProtection/Extensions/AppProtection.kext\n<plist/>\nchanged\n",
              out);
    EXPECT_FALSE(exists("/usr/sbin/kextload"));
    EXPECT_FALSE(exists("/Applications"));
    // The folder itself was copied, not written through.
    EXPECT_EQ("#!/bin/sh\necho \"fake kextload $*\"\n", proc::readFile(dir.path() + "/usr/sbin/kextload"));
}

TEST_F(OverlayTest, NothingWrittenOutsideTheBoundTreesReachesTheMachine)
{
    const std::string probe = "ward-overlay-probe-" + std::to_string(getpid());
    const std::vector<std::string> paths = {
        "/etc/" + probe,         "/tmp/" + probe,        "/var/tmp/" + probe, "/usr/local/" + probe,
        "/usr/local/Vantrel/" + probe, "/Applications/" + probe, "/" + probe,
        dir.path() + "/" + probe, // the folder given, seen from inside
    };
    std::string script = "set -e; mkdir /Applications/new.app";
    std::vector<std::string> args;
    for (size_t i = 0; i < paths.size(); ++i) {
        script += "; echo x > \"$" + std::to_string(i + 1) + "\"";
        args.push_back(paths[i]);
    }
    script += "; rm /usr/bin/true; echo done";
    int rc = -1;
    EXPECT_EQ("done\n", inside(script, args, &rc));
    EXPECT_EQ(0, rc);
    for (const std::string& p : paths) {
        EXPECT_FALSE(exists(p)) << p;
        ::unlink(p.c_str());
    }
    EXPECT_TRUE(exists("/usr/bin/true"));
}

TEST_F(OverlayTest, BoundTreesTakeWritesAndTheWorkingFolderIsKept)
{
    // This test runs in the build tree, which is bound in with the sources.
    char cwd[4096];
    ASSERT_NE(nullptr, ::getcwd(cwd, sizeof cwd));
    const std::string probe = std::string(BUILD_TREE) + "/ns-overlay-probe-" + std::to_string(getpid());
    int rc = -1;
    const std::string out = inside("pwd && echo through > \"$1\" && test -w /dev/null && "
                                   "readlink /proc/self/exe && test -d /sys/kernel",
                                   {probe}, &rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(std::string(cwd) + "\n/usr/bin/readlink\n", out);
    EXPECT_EQ("through\n", proc::readFile(probe));
    ::unlink(probe.c_str());
    ASSERT_TRUE(exists(std::string(SOURCE_TREE) + "/tests/ns-run.sh"));
    EXPECT_EQ("ok\n", inside("test -f \"$1\" && echo ok", {std::string(SOURCE_TREE) + "/tests/ns-run.sh"}));
}

TEST_F(OverlayTest, LockfLocksHoldInsideTheOverlay)
{
    // One python holds the lock; a second process cannot take it, and can
    // once it is released. On the overlaid root and in /usr/local/Vantrel.
    const std::string script = R"PY(
import fcntl, os, subprocess, sys
for path in ("/tmp/ward-lock", "/usr/local/Vantrel/AppProtection/var/appward.pid"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    f = open(path, "a+")
    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
    probe = ("import fcntl,sys\nf=open(sys.argv[1],'a+')\n"
             "try:\n fcntl.lockf(f, fcntl.LOCK_EX|fcntl.LOCK_NB); print('free')\n"
             "except OSError: print('held')")
    held = subprocess.run([sys.executable, "-c", probe, path], capture_output=True, text=True).stdout
    f.close()
    free = subprocess.run([sys.executable, "-c", probe, path], capture_output=True, text=True).stdout
    print(path, held.strip(), free.strip())
)PY";
    int rc = -1;
    const std::string out = proc::run({NS_RUN, "--overlay", dir.path(), "/usr/bin/python3", "-c", script}, &rc, 30);
    EXPECT_EQ(0, rc);
    EXPECT_EQ("/tmp/ward-lock held free\n/usr/local/Vantrel/AppProtection/var/appward.pid held free\n", out);
}

TEST_F(OverlayTest, ArgumentsAndExitStatusPassThrough)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int wantExit;
        std::string wantOut;
    };
    const Case cases[] = {
        {"status", {"--overlay", "DIR", "/bin/sh", "-c", "exit 7"}, 7, ""},
        {"arguments with blanks", {"--overlay", "DIR", "/usr/bin/printf", "[%s]", "a b", "", "c"}, 0, "[a b][][c]"},
        {"no folder", {"--overlay", "/nonexistent/ward", "/bin/true"}, 2, ""},
        {"no command", {"--overlay", "DIR"}, 2, ""},
        // Without --overlay: a private /usr/local/Vantrel on the machine's root.
        {"without --overlay", {"/bin/sh", "-c", "mount | grep -c ' /usr/local/Vantrel type tmpfs'; test ! -e /Applications"},
         0, "1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {NS_RUN};
        for (const std::string& a : c.args)
            argv.push_back(a == "DIR" ? dir.path() : a);
        int rc = -1;
        EXPECT_EQ(c.wantOut, proc::run(argv, &rc, 30));
        EXPECT_EQ(c.wantExit, rc);
    }
}

} // namespace
