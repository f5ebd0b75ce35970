// kextsim as a real process beside this program, which holds the daemon's
// end of the link through the transport: the JSON lines of `serve`, --fail
// and --delay, `send` and its answers by cookie, `drop` and `wait-option`.
// The log is read back with python's json module.
#include <chrono>
#include <map>
#include <sys/stat.h>

#include "KctlTestSupport.h"
#include "ProcessSupport.h"

using namespace kctl;
using kctltest::hexOf;
using proc::Child;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kLog = "/usr/local/Vantrel/kextsim.jsonl";

using Fields = std::map<std::string, std::string>;

/// JSON lines as python's json module reads them (jsonl_fields.py).
std::vector<Fields> jsonLines(const std::string& path)
{
    int rc = -1;
    std::istringstream in(proc::run({"/usr/bin/python3", JSONL_PY, path}, &rc));
    EXPECT_EQ(0, rc) << path << " is not JSON lines";
    std::vector<Fields> out;
    std::string line;
    while (std::getline(in, line)) {
        Fields f;
        std::istringstream words(line);
        std::string w;
        while (words >> w) {
            const size_t eq = w.find('=');
            f[w.substr(0, eq)] = w.substr(eq + 1);
        }
        out.push_back(f);
    }
    return out;
}

/// Every field of `want` is in `got` with that value.
void expectFields(const Fields& want, const Fields& got)
{
    for (const auto& w : want) {
        auto it = got.find(w.first);
        if (it == got.end())
            ADD_FAILURE() << "no field " << w.first;
        else
            EXPECT_EQ(w.second, it->second) << "field " << w.first;
    }
}

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::vector<uint8_t> answerBytes(const RequestRecord& r)
{
    std::vector<uint8_t> a(answer::kSize);
    const int32_t word = answer::kWord;
    std::memcpy(a.data(), &word, 4);
    r.encode(a.data() + answer::kRecord);
    return a;
}

class KextsimTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        ctl.close();
        server.reset();
    }

    void startServer(const std::vector<std::string>& extra = {})
    {
        ctl.close();
        server.reset();
        ::unlink(kLog.c_str());
        std::vector<std::string> argv = {KEXTSIM, "serve", "--log", kLog};
        argv.insert(argv.end(), extra.begin(), extra.end());
        server = std::make_unique<Child>(argv);
        ASSERT_TRUE(proc::waitFor([] { return proc::readFile(kLog).find("listening") != std::string::npos; }, 5));
    }

    void startAndOpen(const std::vector<std::string>& extra = {})
    {
        startServer(extra);
        ASSERT_EQ(0, ctl.open(kAppProtectionControlName)) << std::strerror(errno);
        ASSERT_TRUE(proc::waitFor([] { return proc::readFile(kLog).find("\"link\"") != std::string::npos; }, 5));
    }

    std::vector<Fields> events(const std::string& event)
    {
        std::vector<Fields> out;
        for (auto& f : jsonLines(kLog))
            if (f["event"] == hexOf(event))
                out.push_back(f);
        return out;
    }

    /// The requests `send` passed on: one datagram, read here as the daemon.
    std::vector<uint8_t> receiveDatagram()
    {
        std::vector<uint8_t> buf(64 * record::kSize);
        EXPECT_EQ(1, ctl.waitReadable(5000000));
        const ssize_t n = ctl.receive(buf.data(), buf.size());
        EXPECT_GE(n, 0) << std::strerror(errno);
        buf.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return buf;
    }

    void answer(int32_t cookie, int16_t result, int32_t networkAction)
    {
        RequestRecord r;
        r.cookie = cookie;
        r.result = result;
        r.networkAction = networkAction;
        const auto a = answerBytes(r);
        ASSERT_EQ(0, ctl.setOption(KEXT_OPT_RESPONSE, a.data(), static_cast<socklen_t>(a.size())));
    }

    std::unique_ptr<Child> server;
    SocketKernelControl ctl;
};

TEST_F(KextsimTest, EachOptionIsLoggedAsOneJsonLineBeforeItsReply)
{
    startAndOpen();
    const std::string pid = std::to_string(getpid());
    ASSERT_EQ(1u, events("link").size());
    EXPECT_EQ(pid, events("link")[0]["pid"]);

    RequestRecord r;
    r.pid = 4242;
    r.reserved1 = -1;
    r.reserved2 = 0x01020304;
    r.requestType = 103;
    r.result = 2;
    r.padding = 0xbeef;
    r.protocol = 1;
    r.cookie = 77;
    r.path = "/usr/bin/tr\"ue";
    r.peer.sin_family = AF_INET;
    r.peer.sin_port = 8080;
    r.peer.sin_addr.s_addr = htonl(0x0a010203);
    r.networkAction = 4;
    const std::vector<uint8_t> answer = answerBytes(r);
    const std::string answerHex = hexOf(std::string(answer.begin(), answer.end()));
    const std::string longPath(1025, 'p');

    struct Case {
        const char* name;
        int option;
        std::vector<uint8_t> payload;
        int wantErrno; // 0: accepted
        Fields want;
    };
    const Case cases[] = {
        {"flush", 7, {}, 0, {{"option", "7"}, {"length", "0"}, {"rc", "0"}, {"errno", "0"}, {"bytes", ""}}},
        {"exclusion", 8, kctltest::bytesOf("/opt/ex"), 0,
         {{"length", "7"}, {"path", hexOf("/opt/ex")}, {"bytes", hexOf("/opt/ex")}}},
        {"exclusion with a blank", 8, kctltest::bytesOf("/tmp/e x"), 0, {{"path", hexOf("/tmp/e x")}}},
        {"exclusion with a quote and UTF-8", 8, kctltest::bytesOf("/tmp/\"\xc3\xa9\\"), 0,
         {{"path", hexOf("/tmp/\"\xc3\xa9\\")}}},
        {"prompt time-out", 5, {0x3c, 0, 0, 0}, 0, {{"timeout", "60"}, {"bytes", "3c000000"}}},
        {"start hooking", 1, {}, 0, {{"option", "1"}, {"rc", "0"}}},
        {"ping", 6, {}, 0, {{"option", "6"}}},
        {"answer", 4, answer, 0,
         {{"length", "1076"},
          {"word", "1"},
          {"record.pid", "4242"},
          {"record.reserved1", "-1"},
          {"record.reserved2", "16909060"},
          {"record.requestType", "103"},
          {"record.result", "2"},
          {"record.padding", "48879"},
          {"record.protocol", "1"},
          {"record.cookie", "77"},
          {"record.path", hexOf("/usr/bin/tr\"ue")},
          {"record.peer.family", "2"},
          {"record.peer.port", "8080"},
          {"record.peer.addr", hexOf("10.1.2.3")},
          {"record.networkAction", "4"},
          {"bytes", answerHex}}},
        {"purge", 9, {}, 0, {{"option", "9"}}},
        {"stop hooking", 2, {}, 0, {{"option", "2"}}},
        {"unused option 3", 3, {}, ENOPROTOOPT, {{"rc", "-1"}, {"errno", std::to_string(ENOPROTOOPT)}}},
        {"time-out of 2 bytes", 5, {60, 0}, EINVAL, {{"rc", "-1"}, {"errno", std::to_string(EINVAL)}}},
        {"exclusion over 1,024 bytes", 8, kctltest::bytesOf(longPath), EINVAL, {{"length", "1025"}, {"rc", "-1"}}},
        {"answer one byte short", 4, std::vector<uint8_t>(answer.begin(), answer.end() - 1), EINVAL,
         {{"length", "1075"}, {"rc", "-1"}}},
    };
    size_t lines = jsonLines(kLog).size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int rc = ctl.setOption(c.option, c.payload.data(), static_cast<socklen_t>(c.payload.size()));
        EXPECT_EQ(c.wantErrno == 0 ? 0 : -1, rc);
        if (rc != 0) {
            EXPECT_EQ(c.wantErrno, errno);
        }
        // Already there when the reply came.
        const auto log = jsonLines(kLog);
        ASSERT_EQ(lines + 1, log.size());
        lines = log.size();
        expectFields({{"event", hexOf("option")}, {"pid", pid}}, log.back());
        expectFields(c.want, log.back());
    }
    for (auto& f : events("option")) {
        EXPECT_EQ(f.count("path") != 0, f["option"] == "8" && f["rc"] == "0");
        EXPECT_EQ(f.count("timeout") != 0, f["option"] == "5" && f["rc"] == "0");
        EXPECT_EQ(f.count("record.cookie") != 0, f["option"] == "4" && f["rc"] == "0");
    }
}

TEST_F(KextsimTest, FailAndDelayChooseTheReplies)
{
    struct Step {
        int option;
        int wantErrno; // 0: accepted
        double atLeast, below; // seconds setOption takes
    };
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"--fail OPT:COUNT:ERRNO, once with EIO", {"--fail", "7:1:5"}, {{7, EIO, 0, 1}, {7, 0, 0, 1}}},
        {"--fail OPT: every time with EINVAL", {"--fail", "6"}, {{6, EINVAL, 0, 1}, {6, EINVAL, 0, 1}, {1, 0, 0, 1}}},
        {"--fail OPT:COUNT", {"--fail", "8:2"}, {{8, EINVAL, 0, 1}, {8, EINVAL, 0, 1}, {8, 0, 0, 1}}},
        {"two rules", {"--fail", "7:1", "--fail", "1:1:16"}, {{1, EBUSY, 0, 1}, {7, EINVAL, 0, 1}, {1, 0, 0, 1}}},
        {"--delay holds the reply", {"--delay", "1:0.4"}, {{1, 0, 0.39, 2}, {6, 0, 0, 0.3}, {1, 0, 0.39, 2}}},
        {"a delayed failure", {"--fail", "2:1:16", "--delay", "2:0.3"}, {{2, EBUSY, 0.29, 2}}},
        // The transport's own five seconds: the late reply is then dropped,
        // and the next option waits behind it for its own.
        {"a delay past the time-out", {"--delay", "1:6"}, {{1, ETIMEDOUT, 4.9, 5.9}, {6, 0, 0.5, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startAndOpen(c.args);
        for (const Step& s : c.steps) {
            SCOPED_TRACE(s.option);
            const auto t0 = Clock::now();
            const int rc = ctl.setOption(s.option, nullptr, 0);
            const double took = secondsSince(t0);
            EXPECT_EQ(s.wantErrno == 0 ? 0 : -1, rc);
            if (rc != 0) {
                EXPECT_EQ(s.wantErrno, errno) << std::strerror(errno);
            }
            EXPECT_GE(took, s.atLeast);
            EXPECT_LT(took, s.below);
        }
    }
}

TEST_F(KextsimTest, SendPassesOneDatagramAndPrintsTheAnswersByCookie)
{
    startAndOpen();
    const std::string out = kLog + ".send";
    Child send({KEXTSIM, "send", "--wait", "5", "pid=4242", "type=100", "cookie=7", "path=/usr/bin/true",
                "networkAction=7", "+", "type=103", "pid=43", "cookie=8", "protocol=1", "addr=10.1.2.3",
                "port=8080", "reserved1=-5", "padding=65535", "+", "type=105", "cookie=9", "path=/x"},
               out);
    const std::vector<uint8_t> datagram = receiveDatagram();
    ASSERT_EQ(3 * record::kSize, datagram.size());
    const RequestRecord launch = RequestRecord::decode(datagram.data());
    EXPECT_EQ(4242, launch.pid);
    EXPECT_EQ(100, launch.requestType);
    EXPECT_EQ(7, launch.cookie);
    EXPECT_EQ("/usr/bin/true", launch.path);
    EXPECT_EQ(7, launch.networkAction);
    EXPECT_EQ(AF_INET, launch.peer.sin_family);
    const RequestRecord connection = RequestRecord::decode(datagram.data() + record::kSize);
    EXPECT_EQ(103, connection.requestType);
    EXPECT_EQ(1, connection.protocol);
    EXPECT_EQ(-5, connection.reserved1);
    EXPECT_EQ(65535, connection.padding);
    EXPECT_EQ(8080, connection.peer.sin_port); // a plain number
    const uint8_t addr[4] = {10, 1, 2, 3};    // network order
    EXPECT_EQ(0, std::memcmp(addr, &connection.peer.sin_addr, 4));
    EXPECT_EQ("", connection.path);
    EXPECT_EQ(9, RequestRecord::decode(datagram.data() + 2 * record::kSize).cookie);

    answer(8, 2, 2);
    answer(7, 1, 1);
    EXPECT_EQ(0, send.wait(5));
    const auto printed = jsonLines(out);
    ASSERT_EQ(2u, printed.size());
    expectFields({{"cookie", "8"}, {"result", "2"}, {"networkAction", "2"}, {"word", "1"}}, printed[0]);
    expectFields({{"cookie", "7"}, {"result", "1"}, {"networkAction", "1"}, {"record.cookie", "7"}}, printed[1]);
    const auto requests = events("request");
    ASSERT_EQ(1u, requests.size());
    expectFields({{"pid", std::to_string(getpid())}, {"length", "3216"}, {"records", "3"}, {"cookies", "7,8,9"}},
                 requests[0]);
    ::unlink(out.c_str());
}

TEST_F(KextsimTest, SendFailsOnAMissingOrUnexpectedAnswer)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<int32_t> answers; // cookies answered, in order
        int wantExit;
        std::vector<std::string> printed; // cookies printed
    };
    const Case cases[] = {
        {"no answer", {"--wait", "0.5", "cookie=1"}, {}, 1, {}},
        {"one of two answered", {"--wait", "0.5", "cookie=1", "+", "cookie=2"}, {2}, 1, {"2"}},
        {"none expected, none came", {"--expect-none", "0.5", "type=106", "cookie=3"}, {}, 0, {}},
        {"none expected, one came", {"--expect-none", "3", "type=106", "cookie=3"}, {3}, 1, {"3"}},
        {"two answers for one cookie", {"--wait", "3", "cookie=5", "+", "cookie=6"}, {5, 5, 6}, 1, {"5", "5", "6"}},
        {"a cookie sent twice is answered twice", {"--wait", "3", "cookie=5", "+", "cookie=5"}, {5, 5}, 0,
         {"5", "5"}},
        {"another request's answer is not shown", {"--wait", "3", "cookie=10"}, {11, 10}, 0, {"10"}},
        {"records that expect no answer", {"--wait", "3", "type=101", "+", "type=105", "+", "type=104"}, {}, 0,
         {}},
    };
    startAndOpen();
    const std::string out = kLog + ".send";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {KEXTSIM, "send"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Child send(argv, out);
        ASSERT_FALSE(receiveDatagram().empty());
        for (int32_t cookie : c.answers)
            answer(cookie, 1, 1);
        EXPECT_EQ(c.wantExit, send.wait(5));
        std::vector<std::string> printed;
        for (auto& f : jsonLines(out))
            printed.push_back(f["cookie"]);
        EXPECT_EQ(c.printed, printed);
    }
    ::unlink(out.c_str());
}

TEST_F(KextsimTest, RawDatagramsGoAsTheyAre)
{
    startAndOpen();
    kctltest::TempDir dir;
    std::vector<uint8_t> bytes(3 * record::kSize + 100, 0xee);
    for (int i = 0; i < 3; ++i) {
        RequestRecord r;
        r.requestType = 100;
        r.cookie = 21 + i;
        r.path = std::string(1024, 'a' + i); // no NUL
        r.encode(bytes.data() + i * record::kSize);
    }
    const std::string raw = dir.path() + "/raw";
    const std::string empty = dir.path() + "/empty";
    {
        std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        std::ofstream(empty, std::ios::binary);
    }
    const std::string out = dir.path() + "/out";
    Child send({KEXTSIM, "send", "--wait", "5", "--raw", raw}, out);
    EXPECT_EQ(bytes, receiveDatagram());
    for (int32_t cookie : {23, 21, 22})
        answer(cookie, 1, 1);
    EXPECT_EQ(0, send.wait(5));
    const auto printed = jsonLines(out);
    ASSERT_EQ(3u, printed.size());
    EXPECT_EQ("23", printed[0].at("cookie"));

    // An empty datagram: nothing to read, and no hang-up.
    int rc = -1;
    proc::run({KEXTSIM, "send", "--raw", empty}, &rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(1, ctl.waitReadable(1000000));
    char b;
    EXPECT_EQ(0, ctl.receive(&b, 1));
    EXPECT_EQ(0, ctl.setOption(KEXT_OPT_PING, nullptr, 0));
}

TEST_F(KextsimTest, SendNeedsAServerADaemonAndGoodFields)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int wantExit;
    };
    const Case cases[] = {
        {"a field that does not exist", {"colour=7"}, 2},
        {"a number that is not one", {"pid=12x"}, 2},
        {"a number out of range", {"result=40000"}, 2},
        {"a path over 1,024 bytes", {"path=" + std::string(1025, 'p')}, 2},
        {"not an address", {"addr=10.1.2"}, 2},
        {"nothing to send", {"--wait", "1"}, 2},
        {"no daemon linked", {"cookie=1"}, 2},
    };
    startServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {KEXTSIM, "send"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        int rc = -1;
        proc::run(argv, &rc);
        EXPECT_EQ(c.wantExit, rc);
    }
    EXPECT_TRUE(events("request").empty());
    server.reset();
    int rc = -1;
    proc::run({KEXTSIM, "send", "cookie=1"}, &rc);
    EXPECT_EQ(2, rc);
}

TEST_F(KextsimTest, DropHangsUpOnTheDaemon)
{
    startAndOpen();
    int rc = -1;
    proc::run({KEXTSIM, "drop"}, &rc);
    EXPECT_EQ(0, rc);
    kctltest::expectHungUp(ctl);
    ASSERT_EQ(1u, events("drop").size());
    EXPECT_EQ(std::to_string(getpid()), events("drop")[0]["pid"]);
    proc::run({KEXTSIM, "drop"}, &rc);
    EXPECT_EQ(1, rc);

    // The daemon's own close is a hang-up.
    ctl.close();
    ASSERT_EQ(0, ctl.open(kAppProtectionControlName));
    ctl.close();
    EXPECT_TRUE(proc::waitFor([&] { return events("hangup").size() == 1; }, 5));
}

TEST_F(KextsimTest, WaitOptionReturnsOnceTheServerHasSeenTheOption)
{
    startAndOpen();
    Child waiting({KEXTSIM, "wait-option", "1", "--timeout", "5"});
    Child twice({KEXTSIM, "wait-option", "1", "--count", "2", "--timeout", "5"});
    EXPECT_EQ(-1, waiting.wait(0.3));
    ASSERT_EQ(0, ctl.setOption(KEXT_OPT_START_HOOKING, nullptr, 0));
    EXPECT_EQ(0, waiting.wait(2));
    EXPECT_EQ(-1, twice.wait(0.3));
    ASSERT_EQ(0, ctl.setOption(KEXT_OPT_START_HOOKING, nullptr, 0));
    EXPECT_EQ(0, twice.wait(2));

    ASSERT_EQ(-1, ctl.setOption(3, nullptr, 0));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int wantExit;
    };
    const Case cases[] = {
        {"seen before", {"1", "--timeout", "1"}, 0},
        {"seen too few times", {"1", "--count", "3", "--timeout", "0.3"}, 1},
        {"never seen", {"2", "--timeout", "0.3"}, 1},
        {"a refused option was seen too", {"3", "--timeout", "1"}, 0},
        {"no option number", {}, 2},
        {"a count of 0", {"1", "--count", "0"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {KEXTSIM, "wait-option"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        int rc = -1;
        proc::run(argv, &rc);
        EXPECT_EQ(c.wantExit, rc);
    }
}

TEST_F(KextsimTest, OneServerAtATimeAndItsSocketGoesWithIt)
{
    startServer();
    int rc = -1;
    proc::run({KEXTSIM, "serve", "--log", kLog + ".second"}, &rc, 5);
    EXPECT_EQ(1, rc);
    ASSERT_EQ(0, ctl.open(kAppProtectionControlName));
    ctl.close();

    const std::string socket = controlSocketPath(kControlDirectory, kAppProtectionControlName);
    struct stat st;
    ASSERT_EQ(0, ::lstat(socket.c_str(), &st));
    ASSERT_EQ(0, ::stat(kControlDirectory, &st));
    EXPECT_EQ(0700u, st.st_mode & 07777);
    server->signal(SIGTERM);
    EXPECT_EQ(0, server->wait(5));
    EXPECT_NE(0, ::lstat(socket.c_str(), &st));
    EXPECT_EQ(1u, events("stop").size());
    ::unlink((kLog + ".second").c_str());
}

} // namespace
