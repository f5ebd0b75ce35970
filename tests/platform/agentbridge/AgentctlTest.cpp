// agentctl against the agent stand-in at the system's socket path (run in a
// private /usr/local/Vantrel): its outputs and exit statuses, the socket's
// owner-only access, hostile frames, stale and live sockets.
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AgentControl.h"
#include "AgentWire.h"
#include "HvoAgent.h"
#include "ProcessSupport.h"

using namespace HVOEnterprise;

namespace {

const std::string kAccess = "qwerty" + std::string(58, '1');

std::mutex g_mutex;
std::vector<std::wstring> g_logs; // guarded by g_mutex

void recordLog(AgentLogCategory category, const wchar_t* text)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_logs.push_back(std::to_wstring(category) + L" " + text);
}

class Policy : public IHvoAgentPolicyEnforcement {
public:
    bool enforcePolicy(const std::wstring& name, const SectionsHandle& sections) override
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        lastName = name;
        last = sections.entries();
        std::wstring v;
        if (sections.getPropValue(L"T", L"throw", v))
            throw std::runtime_error(HvoAgentUtils::wstringToString(v));
        if (sections.getPropValue(L"T", L"sleep", v))
            ::usleep(static_cast<useconds_t>(std::stoi(v)) * 1000);
        return !sections.getPropValue(L"T", L"false", v);
    }
    bool enforcePolicy(const std::wstring&, const std::wstring&, const std::wstring&, unsigned long, LogonState,
                       const SectionsHandle&) override
    {
        return true;
    }
    std::wstring lastName;
    std::vector<SectionsHandle::Entry> last;
};

class Collection : public IHvoAgentPropertyCollection {
public:
    bool collectProperties(bool all, SectionsHandle& sections) override
    {
        sections.insert(L"General", L"szProductVer", L" 8.0.123");
        sections.insert(L"General", L"all", all ? L"1" : L"0");
        sections.insert(L"General", L"name", L"caf\u00e9");
        return !all;
    }
    bool isSoftwareExists(const std::wstring&) override { return true; }
};

std::string agentctl(const std::vector<std::string>& args, int* rc, double timeout = 20)
{
    std::vector<std::string> argv{AGENTCTL};
    argv.insert(argv.end(), args.begin(), args.end());
    return proc::run(argv, rc, timeout);
}

std::string writeTemp(const std::string& text)
{
    char path[] = "/tmp/agentctl-policy.XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
    return path;
}

int connectRaw()
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, agentwire::kSocketPath);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// True when the agent closes the connection: end of stream, or a reset
/// when it closed with bytes unread.
bool closedByPeer(int fd)
{
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char b;
    const ssize_t n = ::read(fd, &b, 1);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

class AgentctlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        control::setSocketPath(agentwire::kSocketPath);
        control::setFailure(control::Failure::NONE);
    }
    void TearDown() override { HvoAgent::releaseInstance(); }
    HvoAgent* start(bool services = true)
    {
        HvoAgent* agent = HvoAgent::createInstance("QELVNMAC1100", "ZOVOVORU3700RUZA", "4242", kAccess, L"/var/tmp",
                                                   recordLog);
        if (agent != nullptr && services) {
            agent->registerPropertyCollectionService(&collection);
            agent->registerPolicyEnforcementService(&policy);
        }
        return agent;
    }
    Policy policy;
    Collection collection;
};

TEST_F(AgentctlTest, StatusShowsTheRecordedValuesAndTheServices)
{
    int rc = -1;
    agentctl({"status"}, &rc);
    EXPECT_EQ(rc, 3) << "no agent";
    control::setFailure(control::Failure::POLICY);
    ASSERT_NE(start(), nullptr);
    const std::string out = agentctl({"status"}, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "software QELVNMAC1100\nagent ZOVOVORU3700RUZA\npid 4242\naccess " + kAccess +
                       "\nlogdir /var/tmp\nproperty registered\npolicy refused\n");
    struct stat st;
    ASSERT_EQ(::stat(agentwire::kSocketPath, &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    HvoAgent::releaseInstance();
    EXPECT_NE(::access(agentwire::kSocketPath, F_OK), 0) << "the socket goes with the agent";
}

TEST_F(AgentctlTest, StatusWaitsForTheAgent)
{
    int rc = -1;
    proc::Child waiting({AGENTCTL, "status", "--wait", "10"}, "/dev/null");
    ::usleep(300 * 1000);
    ASSERT_NE(start(), nullptr);
    EXPECT_EQ(waiting.wait(15), 0);
    agentctl({"status", "--wait", "x"}, &rc);
    EXPECT_EQ(rc, 64);
}

TEST_F(AgentctlTest, PolicyOutcomesAndExitStatuses)
{
    ASSERT_NE(start(), nullptr);
    struct Case {
        const char* name;
        std::string file;
        std::vector<std::string> options;
        int rc;
        std::string out;
    } cases[] = {
        {"true", "General\tzUV_App_1\t/a b\tc\n\nT\tk\tcaf\xc3\xa9\n", {"--name", "N1"}, 0, "true\n"},
        {"false", "T\tfalse\t1\n", {}, 1, "false\n"},
        {"threw", "T\tthrow\tbad value\n", {}, 2, "bad value\n"},
        {"time-out", "T\tsleep\t2500\n", {"--timeout", "1"}, 4, ""},
        {"not three fields", "T\tk\n", {}, 64, ""},
        {"not UTF-8", "T\tk\t\xff\n", {}, 64, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = writeTemp(c.file);
        std::vector<std::string> args{"policy"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(path);
        int rc = -1;
        EXPECT_EQ(agentctl(args, &rc), c.out);
        EXPECT_EQ(rc, c.rc);
        ::unlink(path.c_str());
    }
}

TEST_F(AgentctlTest, PolicyDeliversEveryLineInOrder)
{
    ASSERT_NE(start(), nullptr);
    const std::string path = writeTemp("General\tzUV_App_1\t/a b\tc\nRules\tzUV_AppName_1\tcaf\xc3\xa9\n");
    int rc = -1;
    EXPECT_EQ(agentctl({"policy", "--name", "N1", path}, &rc), "true\n");
    EXPECT_EQ(rc, 0);
    ::unlink(path.c_str());
    std::lock_guard<std::mutex> lock(g_mutex);
    EXPECT_EQ(policy.lastName, L"N1");
    ASSERT_EQ(policy.last.size(), 2u);
    EXPECT_EQ(policy.last[0].section, L"General");
    EXPECT_EQ(policy.last[0].key, L"zUV_App_1");
    EXPECT_EQ(policy.last[0].value, L"/a b\tc");
    EXPECT_EQ(policy.last[1].value, L"caf\u00e9");
}

TEST_F(AgentctlTest, CollectLogAndCounts)
{
    HvoAgent* agent = start();
    ASSERT_NE(agent, nullptr);
    int rc = -1;
    EXPECT_EQ(agentctl({"collect"}, &rc),
              "General\tszProductVer\t 8.0.123\nGeneral\tall\t1\nGeneral\tname\tcaf\xc3\xa9\nfalse\n");
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(agentctl({"collect", "--all", "0"}, &rc),
              "General\tszProductVer\t 8.0.123\nGeneral\tall\t0\nGeneral\tname\tcaf\xc3\xa9\ntrue\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(agentctl({"log", "-1", "agent caf\xc3\xa9"}, &rc), "");
    EXPECT_EQ(rc, 0);
    agent->performPluginReload();
    agent->performPluginUnload();
    agent->performPluginUnload();
    EXPECT_EQ(agentctl({"counts"}, &rc), "reload 1\nunload 2\n");
    EXPECT_EQ(rc, 0);
    std::lock_guard<std::mutex> lock(g_mutex);
    ASSERT_FALSE(g_logs.empty());
    EXPECT_EQ(g_logs[0], L"-1 agent caf\u00e9");
}

TEST_F(AgentctlTest, AServiceNeverRegisteredExitsThree)
{
    ASSERT_NE(start(false), nullptr);
    const std::string path = writeTemp("T\tk\tv\n");
    int rc = -1;
    agentctl({"policy", path}, &rc);
    EXPECT_EQ(rc, 3);
    agentctl({"collect"}, &rc);
    EXPECT_EQ(rc, 3);
    ::unlink(path.c_str());
}

TEST_F(AgentctlTest, HostileFramesCloseOnlyTheirConnection)
{
    ASSERT_NE(start(), nullptr);
    const int bystander = connectRaw();
    ASSERT_GE(bystander, 0);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool shutWrite;
    } cases[] = {
        {"length over 1 MiB", {0x01, 0x00, 0x10, 0x00, agentwire::STATUS}, false},
        {"zero length", {0, 0, 0, 0}, false},
        {"unknown request", {1, 0, 0, 0, 0x7F}, false},
        {"status with trailing bytes", {2, 0, 0, 0, agentwire::STATUS, 0}, false},
        {"text count beyond the frame", {6, 0, 0, 0, agentwire::POLICY, 0xFF, 0xFF, 0xFF, 0x7F, 0}, false},
        {"policy claiming 2^32-1 entries", {9, 0, 0, 0, agentwire::POLICY, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, false},
        {"invalid UTF-8", {10, 0, 0, 0, agentwire::LOG, 0, 0, 0, 0, 1, 0, 0, 0, 0xC0}, false},
        {"truncated frame", {9, 0, 0, 0, agentwire::LOG, 0, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int fd = connectRaw();
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size()));
        if (c.shutWrite)
            ::shutdown(fd, SHUT_WR);
        EXPECT_TRUE(closedByPeer(fd));
        ::close(fd);
        int rc = -1;
        agentctl({"counts"}, &rc);
        EXPECT_EQ(rc, 0);
    }
    // The idle connection is still served.
    const std::vector<uint8_t> counts = agentwire::Writer(agentwire::COUNTS).finish();
    ASSERT_TRUE(agentwire::sendAll(bystander, counts));
    std::vector<uint8_t> answer;
    EXPECT_EQ(agentwire::readFrame(bystander, answer), agentwire::ReadResult::Frame);
    ::close(bystander);
}

TEST_F(AgentctlTest, OnlyRootIsServed)
{
    ASSERT_NE(start(), nullptr);
    // A child that gives up root before it connects.
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(10);
        const int fd = connectRaw();
        if (fd < 0)
            ::_exit(0); // the socket's mode refuses it
        ::_exit(closedByPeer(fd) ? 0 : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // agentctl itself under uid 65534, when that user can reach the program.
    if (::system("setpriv --reuid=65534 --regid=65534 --clear-groups test -x " AGENTCTL) != 0)
        GTEST_SKIP() << "uid 65534 cannot reach " << AGENTCTL;
    int rc = -1;
    proc::run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", AGENTCTL, "status"}, &rc);
    EXPECT_EQ(rc, 4);
}

TEST_F(AgentctlTest, AStaleSocketIsReplacedALiveOneRefused)
{
    // A socket file nobody listens on.
    ::mkdir("/usr/local/Vantrel/hvo", 0755);
    ::mkdir("/usr/local/Vantrel/hvo/var", 0755);
    ::unlink(agentwire::kSocketPath);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, agentwire::kSocketPath);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_NE(start(), nullptr);
    int rc = -1;
    agentctl({"counts"}, &rc);
    EXPECT_EQ(rc, 0);
    HvoAgent::releaseInstance();

    // Someone else listening there.
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 1), 0);
    EXPECT_EQ(start(), nullptr);
    EXPECT_EQ(::access(agentwire::kSocketPath, F_OK), 0) << "the live socket stays";
    ::close(fd);
    ::unlink(agentwire::kSocketPath);
}

} // namespace
