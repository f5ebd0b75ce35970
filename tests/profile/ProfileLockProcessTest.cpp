// The profile-file lock and the whole-file writes seen from other
// processes: python3's lockf, a waiting child, a rename while waiting, and a
// writer killed at random moments.
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "PdcSupport.h"
#include "ProfileFile.h"

extern char** environ;

using namespace AppProtection;
using pdctest::Probe;
using namespace std::chrono_literals;

namespace {

/// A pdc_helper child with a pipe on its standard output and, when asked,
/// one on its standard input.
struct Child {
    pid_t pid = -1;
    int out = -1; ///< read end of the child's standard output
    int in = -1;  ///< write end of the child's standard input

    Child(const std::vector<std::string>& args, int sharedOut = -1)
    {
        int o[2], i[2];
        if (sharedOut < 0 && pipe2(o, O_CLOEXEC) != 0)
            std::abort();
        if (pipe2(i, O_CLOEXEC) != 0)
            std::abort();
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, sharedOut >= 0 ? sharedOut : o[1], 1);
        posix_spawn_file_actions_adddup2(&fa, i[0], 0);
        std::vector<char*> argv;
        std::string helper = PDC_HELPER;
        argv.push_back(helper.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, helper.c_str(), &fa, nullptr, argv.data(), environ) != 0)
            std::abort();
        posix_spawn_file_actions_destroy(&fa);
        close(i[0]);
        in = i[1];
        if (sharedOut < 0) {
            close(o[1]);
            out = o[0];
        }
    }
    ~Child()
    {
        if (in >= 0)
            close(in);
        if (out >= 0)
            close(out);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string read(size_t n)
    {
        std::string got;
        char buf[256];
        while (got.size() < n) {
            ssize_t k = ::read(out, buf, std::min(sizeof buf, n - got.size()));
            if (k <= 0)
                break;
            got.append(buf, static_cast<size_t>(k));
        }
        return got;
    }
    std::string line()
    {
        std::string got;
        char c;
        while (::read(out, &c, 1) == 1 && c != '\n')
            got.push_back(c);
        return got;
    }
    int wait()
    {
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

bool pythonLockSucceeds(const std::string& path)
{
    std::string cmd = "python3 -c 'import fcntl,sys; f=open(sys.argv[1],\"r+\"); "
                      "fcntl.lockf(f, fcntl.LOCK_EX|fcntl.LOCK_NB)' " +
                      path + " 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

/// True once /proc/locks shows a waiter blocked on the file's inode.
bool waiterBlockedOn(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    std::string needle = ":" + std::to_string(st.st_ino) + " ";
    return pdctest::eventually(
        [&] {
            std::ifstream locks("/proc/locks");
            std::string line;
            while (std::getline(locks, line))
                if (line.find("->") != std::string::npos && line.find(needle) != std::string::npos)
                    return true;
            return false;
        },
        10s);
}

class PdcProcess : public ::testing::Test {
protected:
    void SetUp() override { testfiles::writeFile(path, ""); }
    testfiles::TempDir dir;
    std::string path = dir / "profile";
};

TEST_F(PdcProcess, LockExcludesPythonLockfUntilUnlocked)
{
    Probe p;
    ASSERT_TRUE(p.lockProfile(path));
    EXPECT_FALSE(pythonLockSucceeds(path));
    // Opening and closing the file through other descriptors keeps the lock.
    {
        Probe other;
        other.loadProfileIfPresent(path);
        int fd = open(path.c_str(), O_RDONLY);
        close(fd);
    }
    EXPECT_FALSE(pythonLockSucceeds(path));
    p.unlockProfile(path);
    EXPECT_TRUE(pythonLockSucceeds(path));
}

TEST_F(PdcProcess, WaitingChildLocksOnlyAfterUnlock)
{
    int order[2];
    ASSERT_EQ(pipe2(order, O_CLOEXEC), 0);
    Probe p;
    ASSERT_TRUE(p.lockProfile(path));
    Child child({"lock", path}, order[1]);
    char c = 0;
    ASSERT_EQ(read(order[0], &c, 1), 1);
    EXPECT_EQ(c, 'w');
    ASSERT_TRUE(waiterBlockedOn(path));
    ASSERT_EQ(write(order[1], "U", 1), 1);
    p.unlockProfile(path);
    close(order[1]);
    EXPECT_EQ(child.wait(), 0);
    std::string rest;
    while (read(order[0], &c, 1) == 1)
        rest.push_back(c);
    close(order[0]);
    EXPECT_EQ(rest, "UL");
}

TEST_F(PdcProcess, WaiterEndsUpHoldingTheRenamedFile)
{
    std::string exe = dir / "A";
    testfiles::writeFile(exe, "exe");
    Probe p;
    ASSERT_TRUE(p.lockProfile(path));
    Child child({"reload", path});
    ASSERT_TRUE(waiterBlockedOn(path));
    // A change the waiter must see: a record written straight into the store.
    DetailedAppRecord r;
    r.setAppPath(exe);
    r.setAppGroup(exe);
    r.setApplicationHash(std::string(32, 'b'));
    p.apps().addApp(r);
    p.setDirty(true);
    p.persistProfile(path);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    p.unlockProfile(path);
    EXPECT_EQ(child.line(), "1 " + std::to_string(st.st_ino));
    EXPECT_FALSE(pythonLockSucceeds(path)) << "the waiter holds no lock on the new file";
    close(child.in);
    child.in = -1;
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(pythonLockSucceeds(path));
}

TEST_F(PdcProcess, KilledWriterLeavesOneWholeProfile)
{
    const int n = 600;
    auto check = [&](const std::string& bytes) {
        ApplicationStore apps;
        DependentStore deps;
        std::istringstream in(bytes, std::ios::binary);
        readProfile(in, apps, deps);
        std::list<BasicAppRecord> all = apps.getAllProfileRules();
        if (static_cast<int>(all.size()) != n)
            return false;
        std::string group = all.front().getAppGroup();
        if (group != "/one" && group != "/two")
            return false;
        for (const BasicAppRecord& r : all)
            if (r.getAppGroup() != group)
                return false;
        return true;
    };
    std::mt19937 rng(11);
    std::atomic<bool> stop{false};
    std::atomic<int> partial{0}, reads{0};
    std::thread reader;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        Child child({"flip", path, std::to_string(n)});
        ASSERT_EQ(child.line(), "ready");
        if (round == 0) {
            reader = std::thread([&] {
                while (!stop) {
                    try {
                        if (!check(testfiles::readFile(path)))
                            ++partial;
                    } catch (...) {
                        ++partial;
                    }
                    ++reads;
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 200));
        kill(child.pid, SIGKILL);
        child.wait();
        Probe p;
        p.loadProfileIfPresent(path);
        EXPECT_EQ(p.getAllProfileRules(false).size(), static_cast<size_t>(n));
        EXPECT_FALSE(std::filesystem::exists(path + ".corrupt"));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(partial.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

} // namespace
