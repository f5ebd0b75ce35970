// Rule-store processes meeting in one namespace: the file lock, concurrent
// updates and checks, lock-free queries, a store released after another
// process wrote, kill -9 in the middle of updates.
//
// This program never creates a store itself: every store lives in a
// fwstore_host child. A scripted ipfw blocking on a FIFO holds a child
// inside its locked update; pipes, not sleeps, order the steps.
#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "StoreTestSupport.h"

using namespace fwstore;

namespace {

/// One fwstore_host child with its own scripted-ipfw folder.
class Host {
public:
    explicit Host(const std::vector<std::string>& args, const std::string& folder = ScriptedIpfw::newFolder())
        : m_folder(folder)
    {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        std::vector<std::string> all{FWSTORE_HOST};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        std::string env = "FWTEST_DIR=" + m_folder;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(toChild[0], 0);
            ::dup2(fromChild[1], 1);
            ::putenv(&env[0]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(toChild[0]);
        ::close(fromChild[1]);
        m_in = toChild[1];
        m_out = ::fdopen(fromChild[0], "r");
    }
    ~Host()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
        if (m_out)
            std::fclose(m_out);
        if (m_in >= 0)
            ::close(m_in);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    /// The next line the host prints ("" at its end).
    std::string line()
    {
        char buf[65536];
        if (std::fgets(buf, sizeof buf, m_out) == nullptr)
            return "";
        std::string s(buf);
        if (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    }
    void send(const std::string& text)
    {
        std::string s = text + "\n";
        ASSERT_EQ(::write(m_in, s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    /// Its last line, after it ended; the exit status in `status`.
    std::string finish(int* status = nullptr)
    {
        ::close(m_in);
        m_in = -1;
        std::string last, l;
        while (!(l = line()).empty())
            last = l;
        int st = wait();
        if (status)
            *status = st;
        return last;
    }
    void killNow()
    {
        ::kill(m_pid, SIGKILL);
        wait();
    }
    const std::string& folder() const { return m_folder; }

private:
    int wait()
    {
        int st = 0;
        while (::waitpid(m_pid, &st, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return st;
    }

    std::string m_folder;
    pid_t m_pid = -1;
    int m_in = -1;
    FILE* m_out = nullptr;
};

/// Two FIFOs: the scripted ipfw writes "reached" to `out`, then waits for
/// a line on `in`.
struct Gate {
    std::string in, out;
    explicit Gate(const std::string& folder) : in(folder + "/gate.in"), out(folder + "/gate.out")
    {
        ::mkfifo(in.c_str(), 0600);
        ::mkfifo(out.c_str(), 0600);
    }
    /// Blocks, then runs the stand-in.
    std::string scriptLine() const { return "block " + in + " " + out; }
    /// Blocks, then fails without changing anything.
    std::string holdLine() const { return "hold " + in + " " + out; }
    /// Blocks until the ipfw child reached the gate.
    std::string reached() const
    {
        std::ifstream f(out);
        std::string l;
        std::getline(f, l);
        return l;
    }
    void open() const { std::ofstream(in) << "go\n"; }
};

/// fcntl.lockf without waiting, from python3: "locked" or the errno name.
std::string pythonLockf()
{
    return shellOutput("python3 -c 'import fcntl,sys,errno\n"
                 "f=open(sys.argv[1],\"r+\")\n"
                 "try:\n"
                 "    fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB); print(\"locked\")\n"
                 "except OSError as e: print(errno.errorcode[e.errno])' " +
                 kLockFile);
}

/// Waits (bounded) until /proc/locks shows a process blocked on a lock.
bool someoneWaitsForALock()
{
    for (int i = 0; i < 10000; ++i) {
        if (shellOutput("grep -c -- '->' /proc/locks").substr(0, 1) != "0")
            return true;
        ::usleep(1000);
    }
    return false;
}

std::vector<int> parseNumbers(const std::string& line)
{
    std::vector<int> out;
    std::istringstream in(line);
    std::string word;
    in >> word; // "ok"
    int n;
    while (in >> n)
        out.push_back(n);
    return out;
}

class StoreProcessTest : public ::testing::Test {
protected:
    void SetUp() override { resetMachine(); }

    static Table seedTable(int count, int first = 5122)
    {
        Table t;
        for (int i = 0; i < count; ++i)
            t[static_cast<uint16_t>(first + i)] = storedRule(first + i);
        writeTable(t);
        return t;
    }
};

TEST_F(StoreProcessTest, AnUpdateHoldsTheLockAndASecondWaitsForIt)
{
    for (bool freshMachine : {true, false}) {
        SCOPED_TRACE(freshMachine ? "no rule file yet" : "with a rule file");
        resetMachine();
        if (!freshMachine)
            seedTable(1, 5000);
        std::string folderA = ScriptedIpfw::newFolder();
        Gate gate(folderA);
        ScriptedIpfw::script({gate.scriptLine()}, folderA);
        Host a({"add", "5122", "0x10000000", "10.0.0.1"}, folderA);
        ASSERT_EQ(gate.reached(), "reached");

        EXPECT_EQ(pythonLockf(), "EAGAIN\n");
        Host b({"add", "5122", "0x10000000", "10.0.0.2"});
        ASSERT_TRUE(someoneWaitsForALock());
        gate.open();
        EXPECT_EQ(a.finish().substr(0, 2), "ok");
        EXPECT_EQ(b.finish().substr(0, 2), "ok");

        Table t = readTable();
        std::vector<int> want{5122, 5123};
        if (!freshMachine)
            want.insert(want.begin(), 5000);
        EXPECT_EQ(keysOf(t), want);
        EXPECT_EQ(t.at(5122).getSrcIp(), "10.0.0.1");
        EXPECT_EQ(t.at(5123).getSrcIp(), "10.0.0.2");
        EXPECT_EQ(pythonLockf(), "locked\n");
    }
}

TEST_F(StoreProcessTest, TwoProcessesAddingFiftyRulesEach)
{
    Host a({"add-many", "50", "1"});
    Host b({"add-many", "50", "2"});
    EXPECT_EQ(a.finish(), "ok");
    EXPECT_EQ(b.finish(), "ok");
    Table t = readTable();
    EXPECT_EQ(t.size(), 100u);
    std::vector<int> kernel = kernelNumbers();
    ASSERT_EQ(kernel.back(), 65535);
    kernel.pop_back();
    EXPECT_EQ(keysOf(t), kernel);
    std::set<std::string> sources;
    for (const auto& e : t)
        sources.insert(e.second.getSrcIp());
    EXPECT_EQ(sources.size(), 100u);
}

TEST_F(StoreProcessTest, ALockFreeQueryDuringAnUpdateSeesTheOldTable)
{
    seedTable(3);
    std::string folderA = ScriptedIpfw::newFolder();
    Gate gate(folderA);
    ScriptedIpfw::script({gate.scriptLine()}, folderA);
    Host a({"add", "5122", "0x10000000", "10.0.0.1"}, folderA);
    ASSERT_EQ(gate.reached(), "reached");

    Host query({"get-stored"});
    EXPECT_EQ(parseNumbers(query.finish()), (std::vector<int>{5122, 5123, 5124}));
    EXPECT_TRUE(ScriptedIpfw::calls(query.folder()).empty()); // no repair
    EXPECT_FALSE(exists(kCorruptFile));
    gate.open();
    EXPECT_EQ(a.finish().substr(0, 2), "ok");
    EXPECT_EQ(keysOf(readTable()), (std::vector<int>{5122, 5123, 5124, 5125}));
}

TEST_F(StoreProcessTest, TwoHealthChecksOnAnEmptiedKernelAddEachRuleOnce)
{
    seedTable(5);
    Host a({"health"});
    Host b({"health"});
    EXPECT_EQ(a.finish(), "ok 1");
    EXPECT_EQ(b.finish(), "ok 1");
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5122, 5123, 5124, 5125, 5126, 65535}));
    EXPECT_EQ(ScriptedIpfw::calls(a.folder()).size() + ScriptedIpfw::calls(b.folder()).size(), 5u);
}

TEST_F(StoreProcessTest, TwoProcessesMeetingACorruptFileAddTheDefaultRuleOnce)
{
    shellOutput("mkdir -p " + kVar + " && head -c 4000 /dev/urandom > " + kRuleFile);
    const std::string before = md5(kRuleFile);
    Host a({"get-stored"});
    Host b({"get-stored"});
    EXPECT_EQ(a.finish(), "ok 5002");
    EXPECT_EQ(b.finish(), "ok 5002");
    EXPECT_EQ(kernelNumbers(), (std::vector<int>{5002, 65535}));
    EXPECT_EQ(ScriptedIpfw::calls(a.folder()).size() + ScriptedIpfw::calls(b.folder()).size(), 1u);
    EXPECT_EQ(md5(kCorruptFile), before);
}

TEST_F(StoreProcessTest, AStoreReleasedAfterAnotherProcessWroteKeepsItsRule)
{
    seedTable(1);
    Host a({"load-wait-release"});
    EXPECT_EQ(a.line(), "loaded 5122");
    Host b({"add", "5122", "0x10000000", "10.0.0.2"});
    EXPECT_EQ(b.finish(), "ok 5122 5123");
    a.send("go");
    EXPECT_EQ(a.finish(), "released");
    EXPECT_EQ(keysOf(readTable()), (std::vector<int>{5122, 5123}));
}

TEST_F(StoreProcessTest, KillNineDuringUpdatesLeavesAWholeTable)
{
    // A hundred rules: the file rewritten at every step still spans several
    // pages, so kills land inside a write as they would with thousands.
    const size_t kRules = 100;
    Table t = seedTable(kRules);
    t[100] = storedRule(100);
    writeTable(t);
    std::mt19937 gen(12345);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        Host victim({"loop-readd", "100"});
        ASSERT_EQ(victim.line(), "looping");
        ::usleep(std::uniform_int_distribution<int>(0, 40000)(gen));
        victim.killNow();
        Table now = readTable(); // whole, never cut
        EXPECT_GE(now.size(), kRules);
        EXPECT_LE(now.size(), kRules + 1);
        EXPECT_FALSE(exists(kCorruptFile));
    }
    // Killed while its ipfw child is still blocked: the lock goes with it.
    std::string folder = ScriptedIpfw::newFolder();
    Gate gate(folder);
    ScriptedIpfw::script({"", gate.holdLine()}, folder);
    Host victim({"loop-readd", "100"}, folder);
    ASSERT_EQ(gate.reached(), "reached");
    victim.killNow();
    Host next({"delete", "5122"});
    EXPECT_EQ(next.finish(), "ok");
    gate.open();

    Host check({"health"});
    EXPECT_EQ(check.finish(), "ok 1");
    std::vector<int> kernel = kernelNumbers();
    kernel.pop_back();
    EXPECT_EQ(kernel, keysOf(readTable()));
    EXPECT_FALSE(exists(kCorruptFile));
}

TEST_F(StoreProcessTest, KillNineInsideApplyAllStoredRulesKeepsTheOldFile)
{
    Table t = seedTable(20);
    const std::string before = md5(kRuleFile);
    std::string folder = ScriptedIpfw::newFolder();
    Gate gate(folder);
    ScriptedIpfw::script({"", "", "", gate.holdLine()}, folder);
    Host apply({"apply"}, folder);
    ASSERT_EQ(gate.reached(), "reached");
    apply.killNow();
    EXPECT_EQ(md5(kRuleFile), before);
    EXPECT_EQ(keysOf(readTable()), keysOf(t));
    gate.open();
    Host check({"health"});
    EXPECT_EQ(check.finish(), "ok 1");
    std::vector<int> kernel = kernelNumbers();
    kernel.pop_back();
    EXPECT_EQ(kernel, keysOf(readTable()));
}

} // namespace
