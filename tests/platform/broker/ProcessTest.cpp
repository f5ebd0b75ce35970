// The broker between real processes: hvod, a peer module (hvo_test_peer),
// hvoctl, a python client, and this program as a sender without an id.
#include <arpa/inet.h>
#include <clocale>
#include <cstring>
#include <map>
#include <condition_variable>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <vector>

#include "AppRecordPayload.h"

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "AppProtError.h"
#include "AppProtRecords.h"
#include "HVOCommBroker.h"
#include "LimitedChild.h"
#include "PeerCommands.h"
#include "ProcessSupport.h"
#include "ReportRecords.h"

using namespace std::chrono_literals;
using HVO::PayloadAccess;
using proc::Child;

namespace {

const std::string kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
const std::string kLog = "/usr/local/Vantrel/hvo/var/hvod.jsonl";

/// Replies that reach this process's handleCommandResponse.
struct Recorder : HVO::CommandInterface {
    struct Seen {
        int commandId;
        bool status, completed;
        std::thread::id thread;
    };
    std::mutex m;
    std::condition_variable cv;
    std::vector<Seen> seen;
    int blockCommand = -1;    // replies to it wait until unblocked
    int releaseCommand = -1;  // replies to it try releaseInstance
    int releaseThrew = 0;
    bool handleCommand(HVO::CommandData&) override { return false; }
    void handleCommandResponse(HVO::CommandResult& r) override
    {
        int id = r.getBasicCommandData().getCommandId();
        std::unique_lock<std::mutex> lock(m);
        seen.push_back({id, r.getCommandStatus(), r.getCommandCompleted(), std::this_thread::get_id()});
        cv.notify_all();
        cv.wait(lock, [&] { return id != blockCommand; });
        if (id == releaseCommand) {
            lock.unlock();
            try {
                HVO::HVOCommBroker::releaseInstance();
            } catch (const HVO::HVOException&) {
                std::lock_guard<std::mutex> again(m);
                ++releaseThrew;
            }
        }
    }
    void setBlock(int id)
    {
        std::lock_guard<std::mutex> lock(m);
        blockCommand = id;
        cv.notify_all();
    }
    std::vector<Seen> of(int commandId)
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<Seen> out;
        for (auto& s : seen)
            if (s.commandId == commandId)
                out.push_back(s);
        return out;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        seen.clear();
    }
};

Recorder g_recorder;
std::unique_ptr<wardtest::TempDir> g_tmp;
std::string g_dir;
std::string g_peerRecord;
std::unique_ptr<Child> g_hub;
std::unique_ptr<Child> g_peer;

std::string modules()
{
    return proc::run({HVOCTL_PATH, "modules"});
}

bool registered(int id)
{
    std::string m = "\n" + modules();
    return m.find("\n" + std::to_string(id) + " ") != std::string::npos;
}

void startHub(const char* healthInterval = "0")
{
    g_hub = std::make_unique<Child>(std::vector<std::string>{HVOD_PATH, "--log", kLog, "--health-interval", healthInterval});
    int rc = -1;
    proc::run({HVOCTL_PATH, "ping", "--wait", "5"}, &rc);
    ASSERT_EQ(0, rc);
}

void startPeer()
{
    g_peer = std::make_unique<Child>(std::vector<std::string>{PEER_PATH, "--record", g_peerRecord});
    ASSERT_TRUE(proc::waitFor([] { return registered(3); }, 5));
}

HVO::HVOCommBroker* broker()
{
    return HVO::HVOCommBroker::getInstance(kSocket);
}

class HubEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_tmp = std::make_unique<wardtest::TempDir>("brokertest");
        g_dir = g_tmp->path();
        chmod(g_dir.c_str(), 0777);
        g_peerRecord = g_dir + "/peer.txt";
        startHub();
        startPeer();
        broker()->setCommandInterface(&g_recorder);
    }
    void TearDown() override
    {
        HVO::HVOCommBroker::releaseInstance();
        g_peer.reset();
        g_hub.reset();
        g_tmp.reset();
    }
};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new HubEnvironment);

/// One record of the log, read back through python's json module.
struct LogRecord {
    std::string kind;
    int sender, type, level;
    std::string component;
    std::string message, detail; // the bytes
};

std::string unhex(const std::string& h)
{
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<LogRecord> logRecords()
{
    std::vector<LogRecord> out;
    std::istringstream in(proc::run({"/usr/bin/python3", LOG_PY, kLog}));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream ls(line);
        std::string part;
        while (std::getline(ls, part, '|'))
            f.push_back(part);
        while (f.size() < 7)
            f.push_back("");
        out.push_back({f[0], std::stoi(f[1]), std::stoi(f[2]), std::stoi(f[3]), f[4], unhex(f[5]), unhex(f[6])});
    }
    return out;
}

size_t eventsContaining(const std::string& text)
{
    size_t n = 0;
    for (auto& r : logRecords())
        if (r.kind == "event" && r.message.find(text) != std::string::npos)
            ++n;
    return n;
}

template <class T> T echo(T value)
{
    HVO::CommandData c(peercmd::ECHO, APP_PROTECTION_HVK_ID, false);
    c.setCustomData(value);
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    EXPECT_TRUE(r.getCommandStatus());
    EXPECT_TRUE(r.getCommandCompleted());
    T back{};
    r.getCustomData(back);
    return back;
}

// --- texts and envelopes through the hub ---

TEST(Hub, RoundTripOfGetPrefs)
{
    HVO::CommandData c(20004, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 5);
    EXPECT_TRUE(r.getCommandStatus());
    EXPECT_TRUE(r.getCommandCompleted());
    EXPECT_EQ(20004, r.getBasicCommandData().getCommandId());
    EXPECT_EQ(3, r.getBasicCommandData().getDestinationId());
    AppProtection::AppProtPrefsData p;
    r.getCustomData(p);
    EXPECT_EQ(60, p.getPromptTimeout());
    EXPECT_EQ(3, p.getUnknownAppAction());
    EXPECT_FALSE(p.getAllowAppleSignedBinaries());
    EXPECT_TRUE(p.getEnableAppProtection());
    EXPECT_TRUE(p.getCustomNetworkAction());
}

TEST(Hub, EveryPayloadTypeReadsBackEqual)
{
    using namespace AppProtection;
    EXPECT_EQ(CONFLICTING_ENTRY, echo(CONFLICTING_ENTRY));
    std::vector<AppProtError> codes{SUCCESS, ENTRY_NOT_FOUND, SUCCESS};
    EXPECT_EQ(codes, echo(codes));
    std::vector<std::string> texts{"/opt/caf\xc3\xa9", "", "\xe9 lone", "a b"};
    EXPECT_EQ(texts, echo(texts));
    AppProtPrefsData prefs;
    prefs.setPromptTimeout(12);
    EXPECT_EQ(12, echo(prefs).getPromptTimeout());
    DashBoardData dash;
    dash.setHvkId(3);
    DashBoardDispalyContents entry;
    entry.setDisplayString(L"ENABLED_STRING");
    entry.setStatus(DASHBOARD_ENABLED);
    dash.setDashBoardDispalyData({{L"APPLICATION_PROTECTION_STATUS_KEY", entry}});
    auto dashBack = echo(dash).getDashBoardDispalyData();
    ASSERT_EQ(1u, dashBack.size());
    EXPECT_EQ(L"ENABLED_STRING", dashBack.begin()->second.getDisplayString());
    AboutBoxData about;
    about.setAboutBoxDisplayContents({{L"Application_Protection_Version", L"5.0 \x00e9 (12)"}});
    EXPECT_EQ(about.getAboutBoxDisplayContents(), echo(about).getAboutBoxDisplayContents());

    BasicAppRecord rec;
    rec.setAppPath("/bin/\xc3\xa9");
    rec.setAppGroup("/bin");
    rec.setExecAllowed(true);
    NetworkRule rule;
    rule.setOrder(2);
    rule.setIpRange("10.1.2.0/24");
    rule.setPortRange("22");
    rec.setNwRules({rule});
    rec.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
    auto recs = echo(std::vector<BasicAppRecord>{rec, BasicAppRecord()});
    ASSERT_EQ(2u, recs.size());
    EXPECT_TRUE(recs[0] == rec);
    EXPECT_EQ(rec.getAppPath(), recs[0].getAppPath());
    EXPECT_EQ("22", recs[0].getNwRules().front().getPortRange());
    auto recList = echo(std::list<BasicAppRecord>{BasicAppRecord(), rec});
    ASSERT_EQ(2u, recList.size());
    EXPECT_TRUE(recList.back() == rec);
    EXPECT_EQ("/bin", recList.back().getAppGroup());

    // The firewall pane's standard types.
    EXPECT_EQ(static_cast<signed char>(-3), echo(static_cast<signed char>(-3)));
    EXPECT_EQ(13052, echo(13052));
    EXPECT_EQ((std::vector<int>{5122, 5123}), echo(std::vector<int>{5122, 5123}));
    std::vector<std::wstring> names{L"Lab", L"\x20ac", L""};
    EXPECT_EQ(names, echo(names));
    std::map<std::wstring, bool> enable{{L"Lab", true}, {L"Office", false}};
    EXPECT_EQ(enable, echo(enable));
    std::map<std::wstring, std::vector<std::wstring>> groups{{L"Lab", {L"10.0.0.0/8"}}, {L"Empty", {}}};
    EXPECT_EQ(groups, echo(groups));
}

TEST(Hub, AlertEnvelopeKeepsPathBytes)
{
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    inet_pton(AF_INET, "192.0.2.7", &addr.sin_addr);
    addr.sin_port = 8080;
    AppProtection::AppProtAlert alert("/tmp/\xc3\xa9t\xc3\xa9", AppProtection::EXEC_ACTION, addr,
                                      AppProtection::NW_TCP);
    alert.setCookie(77);
    HVO::CommandData c(peercmd::ECHO, APP_PROTECTION_HVK_ID, false);
    {
        ReporterData rep;
        rep.setHvkId(3);
        rep.setAlertType(ALERT_TYPE_ALERT);
        rep.setAlertCustomData(alert);
        c.setCustomData(rep);
    }
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    ReporterData rep;
    r.getCustomData(rep);
    AppProtection::AppProtAlert back;
    rep.getAlertCustomData(back);
    EXPECT_EQ(std::string("/tmp/\xc3\xa9t\xc3\xa9"), back.getAppName());
    EXPECT_EQ(77, back.getCookie());
    EXPECT_EQ("192.0.2.7:8080", back.getIPDetailsString());
}

TEST(Hub, ReplyWithoutPayloadLeavesValueUntouched)
{
    HVO::CommandData c(peercmd::ECHO, APP_PROTECTION_HVK_ID, false); // nothing written
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    EXPECT_FALSE(PayloadAccess::hasInput(r));
    bool enabled = true;
    r.getCustomData(enabled);
    EXPECT_TRUE(enabled);
}

TEST(Hub, SocketRules)
{
    struct stat st;
    ASSERT_EQ(0, stat(kSocket.c_str(), &st));
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(0666u, st.st_mode & 0777) << "the panes run as the user";
    Child second({HVOD_PATH, "--log", g_dir + "/second.jsonl"});
    EXPECT_EQ(1, second.wait(2)) << "another hub answers";
    EXPECT_TRUE(registered(3));
}

// --- timing and threads ---

TEST(Hub, WaitingReplyBypassesBusyDispatchers)
{
    // Four replies hold all four dispatchers; a waiting send still gets its
    // reply, straight from the socket thread.
    g_recorder.clear();
    g_recorder.setBlock(peercmd::ECHO);
    for (int i = 0; i < 4; ++i) {
        HVO::CommandData c(peercmd::ECHO, APP_PROTECTION_HVK_ID, false);
        broker()->sendCommand(c, nullptr, false, 2);
    }
    ASSERT_TRUE(proc::waitFor([] { return g_recorder.of(peercmd::ECHO).size() == 4; }, 2));
    HVO::CommandData c(20004, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    auto t0 = std::chrono::steady_clock::now();
    broker()->sendCommand(c, &r, true, 2);
    EXPECT_LT(proc::secondsSince(t0), 0.5);
    EXPECT_TRUE(r.getCommandStatus());
    g_recorder.setBlock(-1);

    // And release refuses to run on a dispatcher.
    {
        std::lock_guard<std::mutex> lock(g_recorder.m);
        g_recorder.releaseCommand = 20004;
    }
    HVO::CommandData a(20004, APP_PROTECTION_HVK_ID, false);
    broker()->sendCommand(a, nullptr, false, 2);
    EXPECT_TRUE(proc::waitFor(
        [] {
            std::lock_guard<std::mutex> lock(g_recorder.m);
            return g_recorder.releaseThrew == 1;
        },
        2));
    {
        std::lock_guard<std::mutex> lock(g_recorder.m);
        g_recorder.releaseCommand = -1;
    }
    EXPECT_EQ(3, echo(3));
}


TEST(Hub, SendWithoutResultReturnsAtOnceAndTheLateReplyComesOnce)
{
    g_recorder.clear();
    HVO::CommandData c(peercmd::LATE_3S, APP_PROTECTION_HVK_ID, false);
    auto t0 = std::chrono::steady_clock::now();
    broker()->sendCommand(c, nullptr, false, 1);
    EXPECT_LT(proc::secondsSince(t0), 0.5);
    std::this_thread::sleep_for(1200ms);
    EXPECT_TRUE(g_recorder.of(peercmd::LATE_3S).empty()) << "no reply is invented at the time-out";
    ASSERT_TRUE(proc::waitFor([] { return !g_recorder.of(peercmd::LATE_3S).empty(); }, 3));
    std::this_thread::sleep_for(300ms);
    auto seen = g_recorder.of(peercmd::LATE_3S);
    ASSERT_EQ(1u, seen.size());
    EXPECT_TRUE(seen[0].status);
    EXPECT_TRUE(seen[0].completed);
    EXPECT_NE(std::this_thread::get_id(), seen[0].thread);
}

TEST(Hub, HandlersRunOnDispatchersConcurrently)
{
    // Two 1.5 s handlers answered together: they ran side by side, never on
    // the peer's main thread.
    auto t0 = std::chrono::steady_clock::now();
    std::thread other([] {
        HVO::CommandData c(peercmd::LATE_1500MS, APP_PROTECTION_HVK_ID, false);
        HVO::CommandResult r;
        broker()->sendCommand(c, &r, true, 2);
    });
    HVO::CommandData c(peercmd::LATE_1500MS, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    other.join();
    EXPECT_LT(proc::secondsSince(t0), 2.5);
    std::string rec = proc::readFile(g_peerRecord);
    EXPECT_EQ(0u, proc::countOf(rec, "command 6 from -1 main=1"));
    EXPECT_GE(proc::countOf(rec, "command 6 from -1 main=0"), 2u);
}

// --- failures ---

struct FailureCase {
    const char* name;
    int commandId;
    int destination;
    int timeout;
    bool waitingThrows;    // a waiting send throws (else: failure reply)
    double maxSeconds;     // how long the waiting send may take
    int asyncReplies;      // failure replies a send without result object gets
};

TEST(Failures, WaitingAndAsyncSends)
{
    const FailureCase cases[] = {
        {"no such module", peercmd::ECHO, 77, 2, true, 0.5, 1},
        {"handler throws", peercmd::THROW, 3, 2, false, 0.5, 1},
        {"handler returns false", peercmd::REFUSE, 3, 2, false, 0.5, 1},
        {"receiver silent", peercmd::SILENT, 3, 1, true, 1.6, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            HVO::CommandData cmd(c.commandId, c.destination, false);
            HVO::CommandResult r;
            auto t0 = std::chrono::steady_clock::now();
            if (c.waitingThrows) {
                EXPECT_THROW(broker()->sendCommand(cmd, &r, true, c.timeout), HVO::HVOException);
            } else {
                broker()->sendCommand(cmd, &r, true, c.timeout);
                EXPECT_FALSE(r.getCommandStatus());
                EXPECT_FALSE(r.getCommandCompleted());
                EXPECT_EQ(c.commandId, r.getBasicCommandData().getCommandId());
                EXPECT_EQ(c.destination, r.getBasicCommandData().getDestinationId());
            }
            EXPECT_LT(proc::secondsSince(t0), c.maxSeconds);
            if (c.timeout == 1 && c.waitingThrows) {
                EXPECT_GE(proc::secondsSince(t0), 0.95);
            }
        }
        g_recorder.clear();
        HVO::CommandData cmd(c.commandId, c.destination, false);
        broker()->sendCommand(cmd, nullptr, false, 1);
        std::this_thread::sleep_for(1500ms);
        auto seen = g_recorder.of(c.commandId);
        ASSERT_EQ(static_cast<size_t>(c.asyncReplies), seen.size());
        for (auto& s : seen) {
            EXPECT_FALSE(s.status);
            EXPECT_FALSE(s.completed);
        }
    }
    // The receiver lives on.
    EXPECT_EQ(5, echo(5));
}

TEST(Failures, LateReplyToTimedOutSendIsDropped)
{
    g_recorder.clear();
    HVO::CommandData c(peercmd::LATE_1500MS, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(broker()->sendCommand(c, &r, true, 1), HVO::HVOException);
    EXPECT_LT(proc::secondsSince(t0), 1.5);
    std::this_thread::sleep_for(1000ms);
    EXPECT_TRUE(g_recorder.of(peercmd::LATE_1500MS).empty());
    EXPECT_EQ(7, echo(7));
}

TEST(Failures, StalledWriteClosesTheConnectionAndThrows)
{
    echo(1);
    g_hub->signal(SIGSTOP);
    HVO::CommandData big(peercmd::SILENT, APP_PROTECTION_HVK_ID, false);
    PayloadAccess::setOutputText(big, std::wstring(4 * 1024 * 1024, L'x'));
    auto t0 = std::chrono::steady_clock::now();
    std::string message;
    try {
        broker()->sendCommand(big, nullptr, false, 1);
    } catch (const HVO::HVOException& e) {
        message = e.getExceptionMsg();
    }
    double took = proc::secondsSince(t0);
    g_hub->signal(SIGCONT);
    EXPECT_EQ("write to hvod stalled for 5 s; connection closed", message);
    EXPECT_GE(took, 4.5);
    EXPECT_LT(took, 15.0); // the write before the stall is slow under the sanitizers
    // The next send opens a new connection.
    EXPECT_EQ(4, echo(4));
}

TEST(Failures, OutstandingRequestsAreBounded)
{
    EXPECT_EQ("open\n", proc::run({"/usr/bin/python3", HOSTILE_PY, "flood"}));
    EXPECT_TRUE(proc::waitFor([] { return eventsContaining("outstanding request dropped: command 60000 seq 1") == 1; }, 2));
    EXPECT_EQ(1u, eventsContaining("outstanding request dropped"));
}

TEST(Failures, SecondAndUnroutedRepliesAreDroppedAndLogged)
{
    g_recorder.clear();
    size_t before = eventsContaining("unmatched reply dropped: command 8 ");
    HVO::CommandData c(peercmd::TWICE, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    EXPECT_TRUE(r.getCommandStatus());
    ASSERT_TRUE(proc::waitFor([&] { return eventsContaining("unmatched reply dropped: command 8 ") == before + 1; }, 2));
    EXPECT_TRUE(g_recorder.of(peercmd::TWICE).empty());

    EXPECT_EQ("open\n", proc::run({"/usr/bin/python3", HOSTILE_PY, "unrouted-reply"}));
    EXPECT_TRUE(proc::waitFor([] { return eventsContaining("unmatched reply dropped: command 60001 seq 4242") == 1; }, 2));
}

// --- log sink ---

TEST(LogSink, SendLogWritesOneLine)
{
    HVO::LogRequest rec(3, HVO::LOG_TYPE_RECENT_EVENT, HVO::HVK_LOG_LEVEL_1);
    std::wstring message = L"22 serialization::archive 18 caf\x00e9 \x20ac \U0001F600 \"q\" \\";
    rec.setMessage(message);
    broker()->sendLog(rec);
    std::string want = "22 serialization::archive 18 caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \"q\" \\";
    ASSERT_TRUE(proc::waitFor(
        [&] {
            for (auto& r : logRecords())
                if (r.kind == "log" && r.message == want)
                    return true;
            return false;
        },
        2));
    size_t n = 0;
    for (auto& r : logRecords()) {
        if (r.kind == "log" && r.message == want) {
            ++n;
            EXPECT_EQ(3, r.sender);
            EXPECT_EQ(7, r.type);
            EXPECT_EQ(1, r.level);
            EXPECT_EQ("", r.detail);
        }
    }
    EXPECT_EQ(1u, n);
    // ASCII only, one record a line.
    std::string raw = proc::readFile(kLog);
    for (unsigned char ch : raw)
        ASSERT_LT(ch, 0x80);
}

TEST(LogSink, LogMsgKeepsBytesInBothLocales)
{
    struct Case {
        const char* locale;
        const char* text;
    };
    const Case cases[] = {
        {"C", "Denied /tmp/a%s%n/\xc3\xa9 from executing"},
        {"C.UTF-8", "Denied /tmp/a%s%n/\xc3\xa9 from executing"},
        {"C", "Denied /tmp/caf\xe9 from executing"},
        {"C.UTF-8", "Denied /tmp/caf\xe9 from executing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + " " + c.text);
        std::setlocale(LC_CTYPE, c.locale);
        size_t before = 0;
        for (auto& r : logRecords())
            before += r.kind == "msg" && r.message == c.text;
        HVO_LOG_MSG(3, L"AppProtection", 1, 3, L"%s", c.text);
        std::setlocale(LC_CTYPE, "C.UTF-8");
        ASSERT_TRUE(proc::waitFor(
            [&] {
                size_t n = 0;
                for (auto& r : logRecords())
                    if (r.kind == "msg" && r.message == c.text) {
                        EXPECT_EQ("AppProtection", r.component);
                        EXPECT_EQ(3, r.sender);
                        EXPECT_EQ(1, r.type);
                        EXPECT_EQ(3, r.level);
                        ++n;
                    }
                return n == before + 1;
            },
            2));
    }
}

// --- health, registration, lifecycle ---

TEST(Lifecycle, HealthOnRequest)
{
    size_t before = proc::countOf(proc::readFile(g_peerRecord), "health main=0");
    int rc = -1;
    EXPECT_EQ("true\n", proc::run({HVOCTL_PATH, "health", "3"}, &rc));
    EXPECT_EQ(0, rc);
    std::string rec = proc::readFile(g_peerRecord);
    EXPECT_EQ(before + 1, proc::countOf(rec, "health main=0"));
    EXPECT_EQ(0u, proc::countOf(rec, "health main=1"));
    EXPECT_EQ("no such module\n", proc::run({HVOCTL_PATH, "health", "55"}, &rc));
}

TEST(Lifecycle, StopBeforeStartAndReleaseWithoutBroker)
{
    std::string rec = g_dir + "/stopfirst.txt";
    Child c({PEER_PATH, "--record", rec, "--id", "9", "--stop-first", "1"});
    EXPECT_EQ(0, c.wait(2));
    std::string text = proc::readFile(rec);
    EXPECT_NE(std::string::npos, text.find("start returned after 0 ms")) << text;
    EXPECT_NE(std::string::npos, text.find("second start: command broker already started")) << text;
    EXPECT_NE(std::string::npos, text.find("released")) << text;
}

TEST(Lifecycle, RegistrationRefusals)
{
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        const char* reason;
    };
    std::string rec = g_dir + "/refused.txt";
    { std::ofstream(rec).flush(); }
    chmod(rec.c_str(), 0666);
    const Case cases[] = {
        {"second module 3", {PEER_PATH, "--record", rec}, "module 3 already registered"},
        {"module 3 as uid 65534",
         {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", PEER_PATH, "--record", rec},
         "module 3 refused for uid 65534"},
        {"module 4 as uid 65534",
         {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", PEER_PATH, "--record", rec, "--id",
          "4"},
         "module 4 refused for uid 65534"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child child(c.argv);
        EXPECT_EQ(3, child.wait(3));
        EXPECT_NE(std::string::npos, proc::readFile(rec).find(std::string("registration refused: ") + c.reason));
        EXPECT_EQ(1u, eventsContaining(std::string("registration refused: ") + c.reason));
    }
    EXPECT_TRUE(registered(3));
    EXPECT_EQ(9, echo(9));
}

TEST(Lifecycle, AlertToReporterAndItsAnswer)
{
    std::string served = g_dir + "/served.jsonl";
    Child serve({HVOCTL_PATH, "serve", "--as", "102", "--answer", "always-deny", "--delay", "2", "--reply-file", served});
    ASSERT_TRUE(proc::waitFor([] { return registered(102); }, 3));
    HVO::CommandData c(peercmd::SEND_ALERT, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    EXPECT_TRUE(r.getCommandStatus());
    const std::string want = "response 60001 status 1 completed 1 cookie 77 always 1 action false app /opt/x/\xc3\xa9 main=0";
    ASSERT_TRUE(proc::waitFor([&] { return proc::countOf(proc::readFile(g_peerRecord), want) == 1; }, 4));
    std::string rec = proc::readFile(g_peerRecord);
    size_t at = rec.find("alert sent in ");
    ASSERT_NE(std::string::npos, at);
    EXPECT_LT(std::stoi(rec.substr(at + 14)), 500);
    HVO::LogRequest history(3, HVO::LOG_TYPE_HISTORY_EVENT, HVO::HVK_LOG_LEVEL_1);
    history.setMessage(L"history \x00e9");
    history.setDetailMessage(L"detail");
    broker()->sendLog(history);
    const std::string logLine =
        "{\"log\":{\"sender\":3,\"type\":3,\"level\":1,\"message\":\"history \\u00e9\",\"detail\":\"detail\"}}";
    EXPECT_TRUE(proc::waitFor([&] { return proc::readFile(served).find(logLine) != std::string::npos; }, 2))
        << proc::readFile(served);
    std::string line = proc::readFile(served);
    EXPECT_NE(std::string::npos, line.find("\"reporter\":{\"hvkId\":3,\"alertType\":32}")) << line;
    EXPECT_NE(std::string::npos, line.find("\"appName\":\"/opt/x/\\u00e9\"")) << line;
    EXPECT_NE(std::string::npos, line.find("\"cookie\":77")) << line;
    EXPECT_NE(std::string::npos, line.find("\"address\":\"192.0.2.7\",\"protocol\":1")) << line;
    serve.signal(SIGTERM);
    EXPECT_EQ(0, serve.wait(3));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(1u, proc::countOf(proc::readFile(g_peerRecord), want));
}

TEST(Lifecycle, ReceiverExitsBeforeAnswering)
{
    HVO::CommandData c(peercmd::EXIT, APP_PROTECTION_HVK_ID, false);
    HVO::CommandResult r;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(broker()->sendCommand(c, &r, true, 2), HVO::HVOException);
    // Well before the 2 s time-out (ThreadSanitizer alone adds 1 s to exit).
    EXPECT_LT(proc::secondsSince(t0), 1.5);
    EXPECT_EQ(0, g_peer->wait(2));
    startPeer();

    g_recorder.clear();
    HVO::CommandData a(peercmd::EXIT, APP_PROTECTION_HVK_ID, false);
    broker()->sendCommand(a, nullptr, false, 1);
    ASSERT_TRUE(proc::waitFor([] { return !g_recorder.of(peercmd::EXIT).empty(); }, 1.5));
    std::this_thread::sleep_for(200ms);
    auto seen = g_recorder.of(peercmd::EXIT);
    ASSERT_EQ(1u, seen.size());
    EXPECT_FALSE(seen[0].status);
    EXPECT_EQ(0, g_peer->wait(2));
    startPeer();
}

TEST(Lifecycle, HubDownThenRestarted)
{
    g_hub->signal(SIGTERM);
    EXPECT_EQ(0, g_hub->wait(2));
    struct stat st;
    EXPECT_NE(0, stat(kSocket.c_str(), &st)) << "hvod unlinks its socket";
    std::this_thread::sleep_for(200ms);
    const std::vector<std::pair<const char*, std::function<void()>>> sends = {
        {"waiting send",
         [] {
             HVO::CommandData c(peercmd::ECHO, 3, false);
             HVO::CommandResult r;
             broker()->sendCommand(c, &r, true, 2);
         }},
        {"send without result", [] {
             HVO::CommandData c(peercmd::ECHO, 3, false);
             broker()->sendCommand(c, nullptr, false, 2);
         }},
        {"sendLog", [] {
             HVO::LogRequest rec(3, HVO::LOG_TYPE_ACTIVITY, HVO::HVK_LOG_LEVEL_3);
             broker()->sendLog(rec);
         }},
        {"HVO_LOG_MSG", [] { HVO_LOG_MSG(3, L"AppProtection", 1, 3, L"%s", "x"); }},
    };
    for (const auto& s : sends) {
        SCOPED_TRACE(s.first);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_THROW(s.second(), HVO::HVOException);
        EXPECT_LT(proc::secondsSince(t0), 1.0);
    }
    // A stale socket is removed; this time the hub pokes every second.
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, kSocket.c_str());
        ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
        close(fd);
    }
    startHub("1");
    // The peer re-registers within its one-second retry.
    EXPECT_TRUE(proc::waitFor([] { return registered(3); }, 3));
    EXPECT_EQ(11, echo(11));
    size_t before = proc::countOf(proc::readFile(g_peerRecord), "health main=0");
    std::this_thread::sleep_for(2500ms);
    size_t pokes = proc::countOf(proc::readFile(g_peerRecord), "health main=0") - before;
    EXPECT_GE(pokes, 2u);
    EXPECT_LE(pokes, 3u);
}

TEST(Hvoctl, SendAndExitCodes)
{
    std::string payload = g_dir + "/payload.txt";
    // Archive text in UTF-8: the narrow bytes C3 A9 are the characters
    // U+00C3 U+00A9, written "\xc3\x83\xc2\xa9".
    std::ofstream(payload) << "22 serialization::archive 18 0 0 1 0 4 \xc3\x83\xc2\xa9/x\n";
    struct Case {
        const char* name;
        std::vector<std::string> argv;
        int rc;
        const char* out;
    };
    const Case cases[] = {
        {"echo with payload", {HVOCTL_PATH, "send", "--to", "3", "--cmd", "1", "--payload-text", payload, "--timeout", "2"},
         0, "4 \xc3\x83\xc2\xa9/x"},
        {"no wait", {HVOCTL_PATH, "send", "--to", "3", "--cmd", "1", "--no-wait", "--timeout", "2"}, 0,
         "status true completed true"},
        {"refused", {HVOCTL_PATH, "send", "--to", "3", "--cmd", "4", "--timeout", "2"}, 1, "status false"},
        {"no such module", {HVOCTL_PATH, "send", "--to", "77", "--cmd", "1", "--timeout", "2"}, 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int rc = -1;
        std::string out = proc::run(c.argv, &rc);
        EXPECT_EQ(c.rc, rc);
        EXPECT_NE(std::string::npos, out.find(c.out)) << out;
    }
    // What the peer received: the narrow text holds the bytes C3 A9.
    HVO::CommandData c(peercmd::ECHO, 3, false);
    PayloadAccess::setOutputText(c, L"22 serialization::archive 18 0 0 1 0 4 \x00c3\x00a9/x");
    HVO::CommandResult r;
    broker()->sendCommand(c, &r, true, 2);
    std::vector<std::string> v;
    r.getCustomData(v);
    EXPECT_EQ(std::vector<std::string>{"\xc3\xa9/x"}, v);
}

// --- hostile frames ---

/// A field of /proc/PID/status in KiB ("VmHWM:", "VmRSS:"), -1 if unreadable.
long statusKb(const Child& c, const std::string& field)
{
    std::ifstream f("/proc/" + std::to_string(c.pid()) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(field.size()));
    return -1;
}

long hubHighWaterKb()
{
    return statusKb(*g_hub, "VmHWM:");
}

/// Restarts the high-water mark of `c` at its current resident memory,
/// which it returns (KiB).
long resetHighWater(const Child& c)
{
    std::ofstream("/proc/" + std::to_string(c.pid()) + "/clear_refs") << "5";
    return statusKb(c, "VmRSS:");
}

TEST(HostileFrames, HubClosesThatConnectionAndServesTheOthers)
{
    const char* cases[] = {"huge-length", "truncated", "unknown-kind", "text-count", "zero-length"};
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        size_t before = eventsContaining("bad frame");
        EXPECT_EQ("closed\n", proc::run({"/usr/bin/python3", HOSTILE_PY, c}));
        EXPECT_TRUE(proc::waitFor([&] { return eventsContaining("bad frame") == before + 1; }, 2));
        int rc = -1;
        proc::run({HVOCTL_PATH, "ping"}, &rc);
        EXPECT_EQ(0, rc);
        EXPECT_EQ(12, echo(12));
    }
    long kb = hubHighWaterKb();
    EXPECT_GT(kb, 0);
    EXPECT_LT(kb, 100 * 1024) << "hvod allocated for a frame it never got";
}

TEST(HostileFrames, LargePayloadCostsHubAndModuleTwiceItsSize)
{
    // A 64 MB command whose collection count equals the characters left:
    // hvod routes it, the module's reader refuses it, and neither process
    // grows by more than twice the frame and 8 MiB.
    std::vector<std::wstring> one{L"caf\x00e9"};
    HVO::CommandData command(peercmd::READ_STRINGS, APP_PROTECTION_HVK_ID, false);
    command.setCustomData(one);
    std::wstring text = PayloadAccess::outputText(command);
    size_t begin = 0;
    for (int skip = 0; skip < 5; ++skip) // header and the vector's class information
        begin = text.find(L' ', begin) + 1;
    const size_t end = text.find(L' ', begin);
    ASSERT_EQ(L"1", text.substr(begin, end - begin));
    const size_t frameBytes = (64u << 20) - 4096;
    const size_t chars = frameBytes / 4;
    const std::wstring rest = text.substr(end);
    const size_t pad = chars - begin - 8 - rest.size();
    const std::wstring count = std::to_wstring(pad + rest.size());
    ASSERT_EQ(8u, count.size());
    PayloadAccess::setOutputText(command, text.substr(0, begin) + count + std::wstring(pad, L' ') + rest);
    text.clear();
    text.shrink_to_fit();

    const long hubBase = resetHighWater(*g_hub);
    const long peerBase = resetHighWater(*g_peer);
    HVO::CommandResult r;
    broker()->sendCommand(command, &r, true, 60);
    EXPECT_TRUE(r.getCommandCompleted());
    EXPECT_FALSE(r.getCommandStatus()) << "the module read it";
    // AddressSanitizer keeps freed memory in quarantine: no budget there.
    if (!wardtest::kSanitized) {
        const long budget = long(2 * frameBytes / 1024) + (8 << 10);
        EXPECT_LE(statusKb(*g_hub, "VmHWM:") - hubBase, budget);
        EXPECT_LE(statusKb(*g_peer, "VmHWM:") - peerBase, budget);
    }
    EXPECT_NE(std::string::npos, proc::readFile(g_peerRecord).find("refused input stream error"));

    int rc = -1;
    proc::run({HVOCTL_PATH, "ping"}, &rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(12, echo(12));
}

TEST(ZLast, SigtermEndsThePeer)
{
    g_peer->signal(SIGTERM);
    EXPECT_EQ(0, g_peer->wait(2));
    std::string rec = proc::readFile(g_peerRecord);
    EXPECT_NE(std::string::npos, rec.find("start returned main=1"));
    EXPECT_NE(std::string::npos, rec.find("released main=1"));
    EXPECT_TRUE(proc::waitFor([] { return eventsContaining("unregistered module 3") >= 3; }, 2));
}

} // namespace
