// kextbench [COUNT]: plays the kernel side of the application-protection
// link and times request/answer round trips, with the same number of
// requests outstanding and the same kernel side in each part:
//   (a) the daemon's messages answered by a raw loop on a second thread:
//       one 1,072-byte request per datagram, one option 4 of 8 + 1,076
//       bytes and its 8-byte reply per answer, with plain blocking socket
//       calls: the floor the daemon is measured against;
//   (b) launches through appwardd with its default 6 workers, every other
//       one of a Mach-O program stored in the profile and the others of
//       copies of an ELF program the profile does not know.
// Every cookie must come back exactly once with the right answer and the
// rest of its record unchanged; exit 1 otherwise. It prints both rates, the
// ratio (b)/(a) and (b)'s median and 99th percentile. Run it in the test
// namespace: tests/ns-run.sh kextbench [COUNT].
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "KernelSide.h"

extern char** environ;

namespace {

using namespace kctl;
using Clock = std::chrono::steady_clock;

/// Requests in flight in each part.
constexpr size_t kOutstanding = 16;
/// A part that gets no answer for this long has failed.
constexpr int kStallMs = 10000;

/// One request and the answer it must get.
struct Request {
    uint8_t bytes[record::kSize];
    int16_t result;
    int32_t networkAction;
};

struct Run {
    size_t answered = 0;
    size_t wrong = 0;      // wrong answer, wrong length, unknown or repeated cookie
    double seconds = 0;
    std::vector<double> latencies; // per request, seconds from send to answer
    std::string failure;
};

/// The kernel side of one part: keeps `window` requests outstanding on
/// `link`, one per datagram, checks and acknowledges every answer, and
/// acknowledges any other option. Cookie i + 1 is request i.
Run driveKernel(const Link& link, const std::vector<Request>& requests, size_t window)
{
    Run run;
    run.latencies.assign(requests.size(), -1);
    std::vector<Clock::time_point> sentAt(requests.size());
    OptionReader reader;
    // Answers are awaited in the read itself: one call per answer.
    const timeval stall{kStallMs / 1000, 0};
    const int flags = ::fcntl(link.control, F_GETFL);
    if (flags < 0 || ::fcntl(link.control, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::setsockopt(link.control, SOL_SOCKET, SO_RCVTIMEO, &stall, sizeof stall) != 0) {
        run.failure = std::string("the control connection cannot wait: ") + std::strerror(errno);
        return run;
    }
    size_t sent = 0;
    const auto t0 = Clock::now();
    while (run.answered < requests.size()) {
        while (sent < requests.size() && sent - run.answered < window) {
            sentAt[sent] = Clock::now();
            if (const int e = sendMessage(link.data, requests[sent].bytes, record::kSize, monotonicMs() + kStallMs)) {
                run.failure = std::string("request not sent: ") + std::strerror(e);
                return run;
            }
            ++sent;
        }
        // One answer per turn, so that the window is refilled as soon as
        // it has room.
        const ReadStatus s = reader.read(link.control, true);
        if (s == ReadStatus::Again) {
            run.failure = "no answer for " + std::to_string(kStallMs / 1000) + " s";
            return run;
        }
        if (s == ReadStatus::HangUp) {
            run.failure = "the daemon hung up";
            return run;
        }
        if (s == ReadStatus::Malformed || reader.option() != KEXT_OPT_RESPONSE) {
            replyOption(link.control, 0, 0);
            continue;
        }
        const auto now = Clock::now();
        int32_t word, cookie;
        std::memcpy(&word, reader.payload(), 4);
        const uint8_t* rec = reader.payload() + answer::kRecord;
        std::memcpy(&cookie, rec + record::kCookie, 4);
        const size_t i = static_cast<size_t>(cookie) - 1;
        if (reader.length() != answer::kSize || word != answer::kWord || cookie < 1 || i >= sent ||
            run.latencies[i] >= 0) {
            ++run.wrong;
        } else {
            uint8_t want[record::kSize];
            std::memcpy(want, requests[i].bytes, record::kSize);
            std::memcpy(want + record::kResult, &requests[i].result, 2);
            std::memcpy(want + record::kNetworkAction, &requests[i].networkAction, 4);
            if (std::memcmp(want, rec, record::kSize) != 0)
                ++run.wrong;
            run.latencies[i] = std::chrono::duration<double>(now - sentAt[i]).count();
            ++run.answered;
        }
        replyOption(link.control, 0, 0);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return run;
}

/// Part (a)'s daemon: takes up to ten records per receive, as the daemon's
/// request thread does, and answers each with its own option 4 and waits
/// for its reply, as its response thread does; plain blocking calls on the
/// two connections. Ends when the kernel side hangs up.
void rawDaemon()
{
    const std::string path = controlSocketPath(kControlDirectory, kAppProtectionControlName);
    const int data = connectChannel(path, kDataChannel, kStallMs);
    const int control = data < 0 ? -1 : connectChannel(path, kControlChannel, kStallMs);
    std::vector<uint8_t> buf(10 * record::kSize);
    uint8_t message[kOptionHeaderSize + answer::kSize];
    const int32_t option = KEXT_OPT_RESPONSE;
    const uint32_t length = answer::kSize;
    std::memcpy(message, &option, 4);
    std::memcpy(message + 4, &length, 4);
    std::memcpy(message + kOptionHeaderSize, &answer::kWord, 4);
    uint8_t* rec = message + kOptionHeaderSize + answer::kRecord;
    ssize_t n;
    while (control >= 0 && (n = ::recv(data, buf.data(), buf.size(), 0)) > 0) {
        for (size_t off = 0; off + record::kSize <= static_cast<size_t>(n); off += record::kSize) {
            std::memcpy(rec, buf.data() + off, record::kSize);
            int32_t cookie;
            std::memcpy(&cookie, rec + record::kCookie, 4);
            const int16_t result = static_cast<int16_t>(1 + (cookie & 1));
            const int32_t networkAction = 1 + cookie % 4;
            std::memcpy(rec + record::kResult, &result, 2);
            std::memcpy(rec + record::kNetworkAction, &networkAction, 4);
            uint8_t reply[kOptionReplySize];
            if (::send(control, message, sizeof message, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof message) ||
                ::recv(control, reply, sizeof reply, 0) != static_cast<ssize_t>(sizeof reply))
                n = 0;
        }
    }
    if (data >= 0)
        ::close(data);
    if (control >= 0)
        ::close(control);
}

/// Launch request i (cookie i + 1) of `path`.
RequestRecord launchRecord(size_t i, const std::string& path)
{
    RequestRecord r;
    r.pid = 1000 + static_cast<int32_t>(i % 30000);
    r.requestType = 100;
    r.cookie = static_cast<int32_t>(i + 1);
    r.path = path;
    r.networkAction = 7;
    return r;
}

std::vector<Request> rawRequests(size_t count)
{
    std::vector<Request> out(count);
    for (size_t i = 0; i < count; ++i) {
        const RequestRecord r = launchRecord(i, "/Applications/Bench.app/Contents/MacOS/bench" + std::to_string(i % 97));
        r.encode(out[i].bytes);
        out[i].result = static_cast<int16_t>(1 + (r.cookie & 1));
        out[i].networkAction = 1 + r.cookie % 4;
    }
    return out;
}

/// Runs `daemon`, which opens the link and serves it, on a thread of its own
/// and drives the link from this one.
template <class Daemon> Run runPart(KernelListener& listener, const std::vector<Request>& requests, Daemon daemon)
{
    Run run;
    std::thread daemonThread(daemon);
    Link link;
    std::string error;
    if (!acceptLink(listener.fd(), link, kStallMs, error))
        run.failure = error;
    else
        run = driveKernel(link, requests, kOutstanding);
    link.close(); // the daemon's end: a hang-up
    daemonThread.join();
    return run;
}

/// Starts a program with its output on /dev/null; its pid, or -1.
pid_t spawn(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitExit(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) == -1 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/// Outside every special folder ("/usr/local/Vantrel" is one, by byte
/// prefix).
const std::string kApps = "/usr/local/ward-bench";
const std::string kVar = "/usr/local/Vantrel/AppProtection/var";
constexpr int kElfCopies = 8;

/// A stored program and the answer its launch gets.
struct Stored {
    const char* name;
    const char* rule; // mkprofile's EXEC:NWACTION
    int16_t result;
    int32_t networkAction;
};
const Stored kStored[] = {{"R", "1:1", 1, 1}, {"D", "0:2", 2, 7}, {"U", "1:3", 1, 3}, {"M", "1:2", 1, 2}};

/// The programs, the profile and silent trace levels for appwardd. False
/// with a message when a step fails.
bool prepareDaemon(std::string& error)
{
    std::filesystem::create_directories(kVar);
    if (waitExit(spawn({"/usr/bin/python3", DAEMON_FIXTURES_PY, kApps})) != 0) {
        error = "the fixtures could not be made";
        return false;
    }
    for (int i = 0; i < kElfCopies; ++i)
        std::filesystem::copy_file("/bin/true", kApps + "/elf" + std::to_string(i),
                                   std::filesystem::copy_options::overwrite_existing);
    std::vector<std::string> argv = {MKPROFILE, kVar + "/profile.data"};
    for (const Stored& s : kStored)
        argv.push_back(kApps + "/" + s.name + ":" + s.rule);
    if (waitExit(spawn(argv)) != 0) {
        error = "mkprofile failed";
        return false;
    }
    // Decisions, not trace lines, are measured: librulebook's profile lines
    // are on by default.
    std::ofstream(kVar + "/traceValues.xml") << "<TraceValues><pdcFlow>0</pdcFlow></TraceValues>\n";
    return true;
}

std::vector<Request> launchRequests(size_t count)
{
    std::vector<Request> out(count);
    for (size_t i = 0; i < count; ++i) {
        RequestRecord r;
        if (i % 2 == 0) {
            const Stored& s = kStored[(i / 2) % 4];
            r = launchRecord(i, kApps + "/" + s.name);
            out[i].result = s.result;
            out[i].networkAction = s.networkAction;
        } else {
            r = launchRecord(i, kApps + "/elf" + std::to_string((i / 2) % kElfCopies));
            out[i].result = 1;
            out[i].networkAction = 1;
        }
        r.encode(out[i].bytes);
    }
    return out;
}

/// Answers appwardd's options until it has started hooking.
bool awaitHooking(const Link& link, std::string& error)
{
    OptionReader reader;
    const long long deadline = monotonicMs() + kStallMs;
    for (;;) {
        if (waitUntil(link.control, POLLIN, deadline) != 0) {
            error = "appwardd did not start hooking";
            return false;
        }
        const ReadStatus s = reader.read(link.control);
        if (s == ReadStatus::HangUp) {
            error = "appwardd hung up";
            return false;
        }
        if (s != ReadStatus::Message)
            continue;
        replyOption(link.control, 0, 0);
        if (reader.option() == KEXT_OPT_START_HOOKING)
            return true;
    }
}

/// Part (b): appwardd as a child, its link driven like part (a)'s.
Run runDaemonPart(KernelListener& listener, const std::vector<Request>& requests)
{
    Run run;
    if (!prepareDaemon(run.failure))
        return run;
    const pid_t daemon = spawn({APPWARDD});
    if (daemon < 0) {
        run.failure = "appwardd could not be started";
        return run;
    }
    Link link;
    std::string error;
    if (!acceptLink(listener.fd(), link, kStallMs, error))
        run.failure = error;
    else if (!awaitHooking(link, error))
        run.failure = error;
    else
        run = driveKernel(link, requests, kOutstanding);
    link.close();
    ::kill(daemon, SIGTERM);
    if (const int code = waitExit(daemon); code != 0 && run.failure.empty())
        run.failure = "appwardd exited " + std::to_string(code);
    return run;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
    return values[i];
}

bool report(const char* name, const Run& run, size_t count)
{
    if (!run.failure.empty() || run.wrong != 0 || run.answered != count) {
        std::printf("%s: FAILED: %zu of %zu answered, %zu wrong%s%s\n", name, run.answered, count, run.wrong,
                    run.failure.empty() ? "" : ": ", run.failure.c_str());
        return false;
    }
    std::printf("%s: %zu answers in %.3f s: %.0f/s\n", name, count, run.seconds, count / run.seconds);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    size_t count = 100000;
    char* end = nullptr;
    if (argc == 2)
        count = std::strtoul(argv[1], &end, 10);
    if (argc > 2 || (argc == 2 && (*end != '\0' || argv[1][0] == '-' || count == 0 || count > INT32_MAX))) {
        std::fprintf(stderr, "usage: kextbench [COUNT]\n");
        return 2;
    }
    KernelListener listener;
    std::string error;
    if (!listener.listen(controlSocketPath(kControlDirectory, kAppProtectionControlName), error)) {
        std::fprintf(stderr, "kextbench: %s\n", error.c_str());
        return 1;
    }
    std::printf("kextbench: %zu requests per part, %zu outstanding\n", count, kOutstanding);

    const Run a = runPart(listener, rawRequests(count), rawDaemon);
    const bool ok = report("(a) raw SEQPACKET loop, 2 threads", a, count);

    const Run b = runDaemonPart(listener, launchRequests(count));
    const bool okB = report("(b) launches through appwardd, 6 workers", b, count);
    if (ok && okB) {
        const double ratio = (count / b.seconds) / (count / a.seconds);
        const double p50 = percentile(b.latencies, 0.50) * 1e6;
        const double p99 = percentile(b.latencies, 0.99) * 1e6;
        std::printf("(b)/(a): %.2f (goal 0.5); (b) latency p50 %.0f us, p99 %.0f us (goal below 1000 us)\n", ratio,
                    p50, p99);
    }
    return ok && okB ? 0 : 1;
}
