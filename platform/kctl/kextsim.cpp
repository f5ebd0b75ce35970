// kextsim: plays the application-protection kernel extension.
//
//   kextsim serve [--log FILE] [--fail OPT[:COUNT[:ERRNO]]]... [--delay OPT:S]...
//   kextsim send [--wait S | --expect-none S] (--raw FILE | FIELD=VALUE... [+ FIELD=VALUE...]...)
//   kextsim drop
//   kextsim wait-option N [--count K] [--timeout S]
//
// `serve` listens where the daemon's kernel control connects and logs every
// option, and every event of the link, as one JSON line, before it replies.
// The other commands talk to the running server over a third channel of the
// same socket: `send` has it pass one datagram of requests to the daemon and
// prints the answers that come back for their cookies; `drop` hangs up on
// the daemon; `wait-option` returns once the server has seen an option.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "Frame.h"
#include "KernelSide.h"

namespace {

using namespace kctl;

/// kextsim's own channel beside the daemon's data and control channels.
constexpr uint32_t kToolChannel = 2;

enum ToolCommand : uint32_t { kSend = 1, kDrop = 2, kWaitOption = 3 };
enum ToolStatus : uint32_t { kOk = 0, kNoDaemon = 1, kSendFailed = 2 };

/// Largest datagram `send` passes on: far more records than one receive of
/// the daemon takes, well inside a socket's send buffer.
constexpr size_t kMaxDatagram = 64 * record::kSize;
constexpr int kHelloTimeoutMs = 5000;

int usage()
{
    std::fprintf(stderr,
                 "usage: kextsim serve [--log FILE] [--fail OPT[:COUNT[:ERRNO]]]... [--delay OPT:S]...\n"
                 "       kextsim send [--wait S | --expect-none S] (--raw FILE | FIELD=VALUE... [+ FIELD=VALUE...]...)\n"
                 "       kextsim drop\n"
                 "       kextsim wait-option N [--count K] [--timeout S]\n"
                 "fields: pid reserved1 reserved2 type result padding protocol cookie path family port addr "
                 "networkAction\n");
    return 2;
}

std::string socketPath()
{
    return controlSocketPath(kControlDirectory, kAppProtectionControlName);
}

bool parseLong(const std::string& text, long long lo, long long hi, long long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseSeconds(const std::string& text, double& out)
{
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(v >= 0) || v > 86400)
        return false;
    out = v;
    return true;
}

// ---- JSON lines ----

std::string jsonBytes(const std::string& bytes)
{
    // Each byte as the character of the same value: a reader gets the exact
    // bytes back by encoding the text as Latin-1.
    std::wstring wide;
    for (unsigned char c : bytes)
        wide.push_back(static_cast<wchar_t>(c));
    return "\"" + hvoframe::jsonEscape(wide) + "\"";
}

std::string hex(const uint8_t* data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}

std::string recordJson(const uint8_t* bytes)
{
    const RequestRecord r = RequestRecord::decode(bytes);
    char addr[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &r.peer.sin_addr, addr, sizeof addr);
    return "{\"pid\":" + std::to_string(r.pid) + ",\"reserved1\":" + std::to_string(r.reserved1) +
           ",\"reserved2\":" + std::to_string(r.reserved2) + ",\"requestType\":" + std::to_string(r.requestType) +
           ",\"result\":" + std::to_string(r.result) + ",\"padding\":" + std::to_string(r.padding) +
           ",\"protocol\":" + std::to_string(r.protocol) + ",\"cookie\":" + std::to_string(r.cookie) +
           ",\"path\":" + jsonBytes(r.path) + ",\"peer\":{\"family\":" + std::to_string(r.peer.sin_family) +
           ",\"port\":" + std::to_string(r.peer.sin_port) + ",\"addr\":\"" + addr +
           "\"},\"networkAction\":" + std::to_string(r.networkAction) + "}";
}

/// An answer as `send` prints it: cookie, result and network action first.
std::string answerJson(const uint8_t* answer)
{
    const RequestRecord r = RequestRecord::decode(answer + answer::kRecord);
    int32_t word;
    std::memcpy(&word, answer, 4);
    return "{\"cookie\":" + std::to_string(r.cookie) + ",\"result\":" + std::to_string(r.result) +
           ",\"networkAction\":" + std::to_string(r.networkAction) + ",\"word\":" + std::to_string(word) +
           ",\"record\":" + recordJson(answer + answer::kRecord) + ",\"bytes\":\"" + hex(answer, answer::kSize) +
           "\"}";
}

// ---- serve ----

struct FailRule {
    int32_t option;
    long long left; // -1: every time
    int err;
};

struct DelayRule {
    int32_t option;
    double seconds;
};

struct Pending {
    Peer peer;
    long long deadline;
};

struct Reply {
    long long due;
    int32_t rc;
    int32_t err;
};

/// One daemon's two connections, paired by the peer's pid.
struct DaemonLink {
    pid_t pid = 0;
    int data = -1;
    int control = -1;
    bool announced = false;
    std::deque<Reply> delayed; // replies held back by --delay, in order
    bool complete() const { return data >= 0 && control >= 0; }
};

struct Tool {
    std::multiset<int32_t> cookies; // answers forwarded for these
    int32_t waitOption = 0;
    uint64_t waitCount = 0; // 0: not waiting for an option
};

class Server {
public:
    Server(int logFd, std::vector<FailRule> fails, std::vector<DelayRule> delays)
        : m_logFd(logFd), m_fails(std::move(fails)), m_delays(std::move(delays))
    {
    }
    int run();

private:
    void line(const std::string& event, pid_t pid, const std::string& rest = "");
    void acceptOne();
    void helloFrom(size_t index);
    void readControl(DaemonLink& link, bool closing);
    void option(DaemonLink& link, int32_t option, const uint8_t* payload, uint32_t length);
    void flushDelayed(DaemonLink& link, long long now);
    void hangUp(size_t index, const char* event);
    void readTool(int fd);
    void closeTool(int fd);
    DaemonLink* newestLink();

    int m_logFd;
    std::vector<FailRule> m_fails;
    std::vector<DelayRule> m_delays;
    KernelListener m_listener;
    OptionReader m_reader;
    std::vector<Pending> m_pending;
    std::vector<DaemonLink> m_links; // oldest first
    std::map<int, Tool> m_tools;
    std::map<int32_t, uint64_t> m_seen; // options logged, by number
};

void Server::line(const std::string& event, pid_t pid, const std::string& rest)
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    char head[96];
    std::snprintf(head, sizeof head, "{\"time\":%ld.%06ld,\"event\":\"", static_cast<long>(tv.tv_sec),
                  static_cast<long>(tv.tv_usec));
    std::string text = head + event + "\",\"pid\":" + std::to_string(pid) + rest + "}\n";
    // One write per line, so that a reader never sees half of one.
    (void)!::write(m_logFd, text.data(), text.size());
}

DaemonLink* Server::newestLink()
{
    for (auto it = m_links.rbegin(); it != m_links.rend(); ++it)
        if (it->complete())
            return &*it;
    return nullptr;
}

void Server::acceptOne()
{
    const Peer peer = acceptPeer(m_listener.fd());
    if (peer.fd < 0)
        return;
    if (peer.uid != 0) {
        line("refused", peer.pid, ",\"uid\":" + std::to_string(peer.uid) + ",\"why\":\"not root\"");
        ::close(peer.fd);
        return;
    }
    m_pending.push_back({peer, monotonicMs() + kHelloTimeoutMs});
}

void Server::helloFrom(size_t index)
{
    const Peer peer = m_pending[index].peer;
    m_pending.erase(m_pending.begin() + static_cast<long>(index));
    uint32_t channel = 0;
    if (!readHello(peer.fd, channel) || channel > kToolChannel || !sendHello(peer.fd, channel)) {
        line("refused", peer.pid, ",\"uid\":0,\"why\":\"no hello\"");
        ::close(peer.fd);
        return;
    }
    if (channel == kToolChannel) {
        m_tools[peer.fd] = Tool{};
        return;
    }
    // open() connects data, then control; each joins the newest link of its
    // pid that lacks it.
    DaemonLink* link = nullptr;
    for (auto it = m_links.rbegin(); it != m_links.rend() && link == nullptr; ++it)
        if (it->pid == peer.pid && (channel == kDataChannel ? it->data : it->control) < 0)
            link = &*it;
    if (link == nullptr) {
        m_links.emplace_back();
        link = &m_links.back();
        link->pid = peer.pid;
    }
    (channel == kDataChannel ? link->data : link->control) = peer.fd;
    if (link->complete() && !link->announced) {
        link->announced = true;
        line("link", link->pid);
    }
}

void Server::option(DaemonLink& link, int32_t option, const uint8_t* payload, uint32_t length)
{
    int32_t rc = 0;
    int32_t err = 0;
    for (FailRule& f : m_fails) {
        if (f.option == option && f.left != 0) {
            rc = -1;
            err = f.err;
            if (f.left > 0)
                --f.left;
            break;
        }
    }
    std::string decoded;
    const bool isAnswer = option == KEXT_OPT_RESPONSE && length == answer::kSize;
    if (isAnswer) {
        int32_t word;
        std::memcpy(&word, payload, 4);
        decoded = ",\"word\":" + std::to_string(word) + ",\"record\":" + recordJson(payload + answer::kRecord);
    } else if (option == KEXT_OPT_PROMPT_TIMEOUT && length == 4) {
        int32_t seconds;
        std::memcpy(&seconds, payload, 4);
        decoded = ",\"timeout\":" + std::to_string(seconds);
    } else if (option == KEXT_OPT_ADD_EXCLUSION && length <= kMaxExclusionLength) {
        decoded = ",\"path\":" + jsonBytes(std::string(reinterpret_cast<const char*>(payload), length));
    }
    if (rc == 0) {
        switch (option) {
        case KEXT_OPT_START_HOOKING:
        case KEXT_OPT_STOP_HOOKING:
        case KEXT_OPT_PING:
        case KEXT_OPT_FLUSH_EXCLUSIONS:
        case KEXT_OPT_PURGE_CACHE:
            break;
        case KEXT_OPT_RESPONSE:
        case KEXT_OPT_PROMPT_TIMEOUT:
        case KEXT_OPT_ADD_EXCLUSION:
            if (decoded.empty()) {
                rc = -1;
                err = EINVAL;
            }
            break;
        default:
            rc = -1;
            err = ENOPROTOOPT;
        }
    }
    line("option", link.pid,
         ",\"option\":" + std::to_string(option) + ",\"length\":" + std::to_string(length) +
             ",\"rc\":" + std::to_string(rc) + ",\"errno\":" + std::to_string(err) + decoded + ",\"bytes\":\"" +
             hex(payload, length) + "\"");

    const uint64_t seen = ++m_seen[option];
    std::vector<int> done;
    for (auto& t : m_tools) {
        if (t.second.waitCount != 0 && t.second.waitOption == option && seen >= t.second.waitCount) {
            const uint32_t reply[2] = {kOk, static_cast<uint32_t>(seen)};
            sendMessage(t.first, reply, sizeof reply, monotonicMs() + 1000);
            done.push_back(t.first);
        }
    }
    // An answer the kernel refused was never taken, so nobody hears of it.
    if (isAnswer && rc == 0) {
        int32_t cookie;
        std::memcpy(&cookie, payload + answer::kRecord + record::kCookie, 4);
        for (auto& t : m_tools)
            if (t.second.cookies.count(cookie) != 0)
                sendMessage(t.first, payload, length, monotonicMs() + 1000);
    }
    for (int fd : done)
        closeTool(fd);

    for (const DelayRule& d : m_delays) {
        if (d.option == option) {
            link.delayed.push_back({monotonicMs() + static_cast<long long>(d.seconds * 1000), rc, err});
            return;
        }
    }
    replyOption(link.control, rc, err);
}

void Server::flushDelayed(DaemonLink& link, long long now)
{
    while (!link.delayed.empty() && link.delayed.front().due <= now) {
        replyOption(link.control, link.delayed.front().rc, link.delayed.front().err);
        link.delayed.pop_front();
    }
}

void Server::readControl(DaemonLink& link, bool closing)
{
    // Options after a held-back reply wait for it, so that replies keep
    // their order; a daemon that hung up is read to the end.
    while (closing || link.delayed.empty()) {
        switch (m_reader.read(link.control)) {
        case ReadStatus::Message:
            option(link, m_reader.option(), m_reader.payload(), m_reader.length());
            break;
        case ReadStatus::Malformed:
            line("malformed", link.pid);
            replyOption(link.control, -1, EINVAL);
            break;
        case ReadStatus::HangUp:
        case ReadStatus::Again:
            return;
        }
    }
}

void Server::hangUp(size_t index, const char* event)
{
    DaemonLink link = m_links[index];
    m_links.erase(m_links.begin() + static_cast<long>(index));
    if (link.data >= 0)
        ::close(link.data);
    if (link.control >= 0)
        ::close(link.control);
    line(event, link.pid);
}

void Server::closeTool(int fd)
{
    m_tools.erase(fd);
    ::close(fd);
}

void Server::readTool(int fd)
{
    std::vector<uint8_t> buf(4 + kMaxDatagram + 1);
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n < 4 || (msg.msg_flags & MSG_TRUNC)) {
        closeTool(fd);
        return;
    }
    Tool& tool = m_tools[fd];
    uint32_t command;
    std::memcpy(&command, buf.data(), 4);
    const size_t size = static_cast<size_t>(n) - 4;
    const uint8_t* body = buf.data() + 4;
    if (command == kSend) {
        DaemonLink* link = newestLink();
        if (link == nullptr) {
            const uint32_t reply[2] = {kNoDaemon, 0};
            sendMessage(fd, reply, sizeof reply, monotonicMs() + 1000);
            closeTool(fd);
            return;
        }
        std::string cookies;
        for (size_t off = 0; off + record::kSize <= size; off += record::kSize) {
            int32_t cookie;
            std::memcpy(&cookie, body + off + record::kCookie, 4);
            tool.cookies.insert(cookie);
            cookies += (cookies.empty() ? "" : ",") + std::to_string(cookie);
        }
        const int e = sendMessage(link->data, body, size, monotonicMs() + 2000);
        line("request", link->pid,
             ",\"length\":" + std::to_string(size) + ",\"records\":" + std::to_string(size / record::kSize) +
                 ",\"cookies\":[" + cookies + "],\"errno\":" + std::to_string(e));
        const uint32_t reply[2] = {e == 0 ? kOk : kSendFailed, static_cast<uint32_t>(e)};
        sendMessage(fd, reply, sizeof reply, monotonicMs() + 1000);
        if (e != 0)
            closeTool(fd);
    } else if (command == kDrop && size == 0) {
        uint32_t dropped = 0;
        while (!m_links.empty()) {
            dropped += m_links.back().complete() ? 1 : 0;
            hangUp(m_links.size() - 1, "drop");
        }
        const uint32_t reply[2] = {dropped != 0 ? kOk : kNoDaemon, dropped};
        sendMessage(fd, reply, sizeof reply, monotonicMs() + 1000);
        closeTool(fd);
    } else if (command == kWaitOption && size == 8) {
        int32_t option;
        uint32_t count;
        std::memcpy(&option, body, 4);
        std::memcpy(&count, body + 4, 4);
        const uint64_t seen = m_seen.count(option) ? m_seen[option] : 0;
        if (seen >= count) {
            const uint32_t reply[2] = {kOk, static_cast<uint32_t>(seen)};
            sendMessage(fd, reply, sizeof reply, monotonicMs() + 1000);
            closeTool(fd);
            return;
        }
        tool.waitOption = option;
        tool.waitCount = count;
    } else {
        closeTool(fd);
    }
}

int Server::run()
{
    // SIGTERM and SIGINT are read from a descriptor polled with the sockets.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    const int signals = sigprocmask(SIG_BLOCK, &stop, nullptr) == 0 ? ::signalfd(-1, &stop, SFD_CLOEXEC) : -1;
    if (signals < 0)
        return 1;
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!m_listener.listen(socketPath(), error)) {
        std::fprintf(stderr, "kextsim: %s\n", error.c_str());
        return 1;
    }
    line("listening", getpid(), ",\"path\":" + jsonBytes(socketPath()));

    enum What { kSignal, kListener, kPending, kData, kControl, kTool };
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<std::pair<What, int>> what; // kind and index or fd
        fds.push_back({signals, POLLIN, 0});
        what.push_back({kSignal, 0});
        fds.push_back({m_listener.fd(), POLLIN, 0});
        what.push_back({kListener, 0});
        long long wake = -1;
        for (size_t i = 0; i < m_pending.size(); ++i) {
            fds.push_back({m_pending[i].peer.fd, POLLIN, 0});
            what.push_back({kPending, m_pending[i].peer.fd});
            wake = wake < 0 ? m_pending[i].deadline : std::min(wake, m_pending[i].deadline);
        }
        for (auto& l : m_links) {
            if (l.data >= 0) {
                fds.push_back({l.data, POLLRDHUP, 0});
                what.push_back({kData, l.data});
            }
            if (l.control >= 0) {
                fds.push_back({l.control, static_cast<short>(l.delayed.empty() ? POLLIN : POLLRDHUP), 0});
                what.push_back({kControl, l.control});
            }
            if (!l.delayed.empty())
                wake = wake < 0 ? l.delayed.front().due : std::min(wake, l.delayed.front().due);
        }
        for (auto& t : m_tools) {
            fds.push_back({t.first, POLLIN, 0});
            what.push_back({kTool, t.first});
        }
        const int timeout = wake < 0 ? -1 : static_cast<int>(std::max(0LL, wake - monotonicMs()));
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            std::fprintf(stderr, "kextsim: poll: %s\n", std::strerror(errno));
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            line("stop", getpid());
            m_listener.close();
            return 0;
        }
        const long long now = monotonicMs();
        for (auto& l : m_links)
            flushDelayed(l, now);
        // Sockets are found again by descriptor: the lists change as events
        // are handled.
        for (size_t i = 1; i < fds.size(); ++i) {
            const short re = fds[i].revents;
            const int key = what[i].second;
            switch (what[i].first) {
            case kSignal:
                break;
            case kListener:
                if (re & POLLIN)
                    acceptOne();
                break;
            case kPending:
                for (size_t p = 0; p < m_pending.size(); ++p) {
                    if (m_pending[p].peer.fd == key) {
                        if (re)
                            helloFrom(p);
                        else if (m_pending[p].deadline <= now) {
                            line("refused", m_pending[p].peer.pid, ",\"uid\":0,\"why\":\"no hello\"");
                            ::close(key);
                            m_pending.erase(m_pending.begin() + static_cast<long>(p));
                        }
                        break;
                    }
                }
                break;
            case kData:
            case kControl:
                for (size_t l = 0; l < m_links.size(); ++l) {
                    DaemonLink& link = m_links[l];
                    if (link.data != key && link.control != key)
                        continue;
                    if (key == link.control && (re & POLLIN))
                        readControl(link, false);
                    // Requests only go the other way: anything on the data
                    // connection is its close.
                    if (re & (POLLHUP | POLLRDHUP | POLLERR)) {
                        if (link.control >= 0)
                            readControl(link, true);
                        hangUp(l, "hangup");
                    }
                    break;
                }
                break;
            case kTool:
                if (m_tools.count(key) != 0 && re != 0)
                    readTool(key);
                break;
            }
        }
    }
}

int serve(int argc, char** argv)
{
    std::string logPath;
    std::vector<FailRule> fails;
    std::vector<DelayRule> delays;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string v = argv[++i];
        if (a == "--log") {
            logPath = v;
        } else if (a == "--fail") {
            // OPT[:COUNT[:ERRNO]]: COUNT times (every time when absent), with ERRNO (EINVAL).
            std::vector<std::string> parts;
            size_t start = 0;
            for (size_t colon; (colon = v.find(':', start)) != std::string::npos; start = colon + 1)
                parts.push_back(v.substr(start, colon - start));
            parts.push_back(v.substr(start));
            long long opt, count = -1, err = EINVAL;
            if (parts.size() > 3 || !parseLong(parts[0], INT32_MIN, INT32_MAX, opt) ||
                (parts.size() > 1 && !parseLong(parts[1], 1, INT32_MAX, count)) ||
                (parts.size() > 2 && !parseLong(parts[2], 1, 4095, err)))
                return usage();
            fails.push_back({static_cast<int32_t>(opt), count, static_cast<int>(err)});
        } else if (a == "--delay") {
            const size_t colon = v.find(':');
            long long opt;
            double seconds;
            if (colon == std::string::npos || !parseLong(v.substr(0, colon), INT32_MIN, INT32_MAX, opt) ||
                !parseSeconds(v.substr(colon + 1), seconds))
                return usage();
            delays.push_back({static_cast<int32_t>(opt), seconds});
        } else {
            return usage();
        }
    }
    int logFd = STDOUT_FILENO;
    if (!logPath.empty()) {
        logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (logFd < 0) {
            std::fprintf(stderr, "kextsim: cannot open %s: %s\n", logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    return Server(logFd, std::move(fails), std::move(delays)).run();
}

// ---- the server's clients ----

int connectTool()
{
    const int fd = connectChannel(socketPath(), kToolChannel, kHelloTimeoutMs);
    if (fd < 0)
        std::fprintf(stderr, "kextsim: no server on %s: %s\n", socketPath().c_str(), std::strerror(errno));
    return fd;
}

/// Reads one message of the server, waiting until the deadline. Its size,
/// 0 when the server closed, -1 on time-out or error.
ssize_t readServer(int fd, uint8_t* buf, size_t size, long long deadline)
{
    for (;;) {
        if (waitUntil(fd, POLLIN, deadline) != 0)
            return -1;
        const ssize_t n = ::recv(fd, buf, size, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return n < 0 ? 0 : n;
    }
}

bool setField(RequestRecord& r, const std::string& arg)
{
    const size_t eq = arg.find('=');
    if (eq == std::string::npos)
        return false;
    const std::string key = arg.substr(0, eq);
    const std::string value = arg.substr(eq + 1);
    long long v = 0;
    auto int32 = [&](int32_t& field) {
        if (!parseLong(value, INT32_MIN, INT32_MAX, v))
            return false;
        field = static_cast<int32_t>(v);
        return true;
    };
    if (key == "path") {
        if (value.size() > record::kPathSize)
            return false;
        r.path = value;
        return true;
    }
    if (key == "addr")
        return inet_pton(AF_INET, value.c_str(), &r.peer.sin_addr) == 1;
    if (key == "pid")
        return int32(r.pid);
    if (key == "reserved1")
        return int32(r.reserved1);
    if (key == "reserved2")
        return int32(r.reserved2);
    if (key == "type")
        return int32(r.requestType);
    if (key == "protocol")
        return int32(r.protocol);
    if (key == "cookie")
        return int32(r.cookie);
    if (key == "networkAction")
        return int32(r.networkAction);
    if (key == "result" && parseLong(value, INT16_MIN, INT16_MAX, v)) {
        r.result = static_cast<int16_t>(v);
        return true;
    }
    if ((key == "padding" || key == "family" || key == "port") && parseLong(value, 0, UINT16_MAX, v)) {
        const uint16_t u = static_cast<uint16_t>(v);
        if (key == "padding")
            r.padding = u;
        else if (key == "family")
            r.peer.sin_family = u;
        else
            r.peer.sin_port = u; // a plain number, as the kernel extension writes it
        return true;
    }
    return false;
}

bool readRaw(const std::string& path, std::vector<uint8_t>& out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t chunk[65536];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 && out.size() + static_cast<size_t>(n) <= kMaxDatagram)
        out.insert(out.end(), chunk, chunk + n);
    ::close(fd);
    return n == 0;
}

/// Cookies whose records expect an answer: launches and connections.
bool expectsAnswer(int32_t type)
{
    return type == 100 || type == 102 || type == 103;
}

int send(int argc, char** argv)
{
    double wait = 5;
    bool expectNone = false;
    std::vector<uint8_t> datagram;
    bool raw = false;
    std::vector<RequestRecord> records;
    int i = 2;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--wait" || a == "--expect-none") && i + 1 < argc) {
            if (!parseSeconds(argv[++i], wait))
                return usage();
            expectNone = a == "--expect-none";
        } else if (a == "--raw" && i + 1 < argc) {
            raw = true;
            if (!readRaw(argv[++i], datagram)) {
                std::fprintf(stderr, "kextsim: cannot read %s, or it is larger than %zu bytes\n", argv[i],
                             kMaxDatagram);
                return 2;
            }
        } else {
            break;
        }
    }
    if (raw && i < argc)
        return usage();
    // FIELD=VALUE... with "+" between records; unset fields: type 100,
    // cookie the record's number from 1, family AF_INET, the rest 0.
    for (; i < argc; ++i) {
        if (records.empty() || std::string(argv[i]) == "+") {
            RequestRecord r;
            r.requestType = 100;
            r.cookie = static_cast<int32_t>(records.size() + 1);
            r.peer.sin_family = AF_INET;
            records.push_back(r);
            if (std::string(argv[i]) == "+")
                continue;
        }
        if (!setField(records.back(), argv[i])) {
            std::fprintf(stderr, "kextsim: bad field %s\n", argv[i]);
            return 2;
        }
    }
    if (!raw) {
        if (records.empty() || records.size() * record::kSize > kMaxDatagram)
            return usage();
        datagram.resize(records.size() * record::kSize);
        for (size_t r = 0; r < records.size(); ++r)
            records[r].encode(datagram.data() + r * record::kSize);
    }
    std::map<int32_t, int> owed; // cookie -> answers still expected
    std::set<int32_t> sent;
    for (size_t off = 0; off + record::kSize <= datagram.size(); off += record::kSize) {
        const RequestRecord r = RequestRecord::decode(datagram.data() + off);
        sent.insert(r.cookie);
        if (expectsAnswer(r.requestType) && !expectNone)
            ++owed[r.cookie];
    }

    const int fd = connectTool();
    if (fd < 0)
        return 2;
    std::vector<uint8_t> message(4 + datagram.size());
    const uint32_t command = kSend;
    std::memcpy(message.data(), &command, 4);
    if (!datagram.empty())
        std::memcpy(message.data() + 4, datagram.data(), datagram.size());
    uint8_t buf[answer::kSize + 1];
    uint32_t reply[2] = {0, 0};
    if (sendMessage(fd, message.data(), message.size(), monotonicMs() + 5000) != 0 ||
        readServer(fd, buf, sizeof buf, monotonicMs() + 5000) != 8) {
        std::fprintf(stderr, "kextsim: the server did not take the request\n");
        return 2;
    }
    std::memcpy(reply, buf, sizeof reply);
    if (reply[0] != kOk) {
        std::fprintf(stderr, "kextsim: %s\n",
                     reply[0] == kNoDaemon ? "no daemon has the link open" : std::strerror(static_cast<int>(reply[1])));
        return 2;
    }

    int status = 0;
    const long long deadline = monotonicMs() + static_cast<long long>(wait * 1000);
    size_t stillOwed = 0;
    for (auto& o : owed)
        stillOwed += static_cast<size_t>(o.second);
    while (expectNone || stillOwed > 0) {
        const ssize_t n = readServer(fd, buf, sizeof buf, deadline);
        if (n <= 0)
            break;
        if (static_cast<size_t>(n) != answer::kSize)
            continue;
        std::printf("%s\n", answerJson(buf).c_str());
        std::fflush(stdout);
        const RequestRecord r = RequestRecord::decode(buf + answer::kRecord);
        auto it = owed.find(r.cookie);
        if (it == owed.end() || it->second == 0) {
            std::fprintf(stderr, "kextsim: unexpected answer for cookie %d\n", r.cookie);
            status = 1;
            if (expectNone)
                break;
            continue;
        }
        --it->second;
        --stillOwed;
    }
    for (auto& o : owed)
        if (o.second > 0) {
            std::fprintf(stderr, "kextsim: no answer for cookie %d\n", o.first);
            status = 1;
        }
    ::close(fd);
    return status;
}

int drop()
{
    const int fd = connectTool();
    if (fd < 0)
        return 2;
    const uint32_t command = kDrop;
    uint8_t buf[8];
    if (sendMessage(fd, &command, 4, monotonicMs() + 5000) != 0 ||
        readServer(fd, buf, sizeof buf, monotonicMs() + 5000) != 8)
        return 2;
    uint32_t reply[2];
    std::memcpy(reply, buf, sizeof reply);
    ::close(fd);
    if (reply[0] != kOk) {
        std::fprintf(stderr, "kextsim: no daemon has the link open\n");
        return 1;
    }
    return 0;
}

int waitOption(int argc, char** argv)
{
    long long option, count = 1;
    double timeout = 10;
    if (argc < 3 || !parseLong(argv[2], INT32_MIN, INT32_MAX, option))
        return usage();
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count" && i + 1 < argc && parseLong(argv[i + 1], 1, UINT32_MAX, count))
            ++i;
        else if (a == "--timeout" && i + 1 < argc && parseSeconds(argv[i + 1], timeout))
            ++i;
        else
            return usage();
    }
    const int fd = connectTool();
    if (fd < 0)
        return 2;
    uint32_t message[3] = {kWaitOption, 0, static_cast<uint32_t>(count)};
    const int32_t opt = static_cast<int32_t>(option);
    std::memcpy(&message[1], &opt, 4);
    uint8_t buf[8];
    if (sendMessage(fd, message, sizeof message, monotonicMs() + 5000) != 0)
        return 2;
    const ssize_t n = readServer(fd, buf, sizeof buf, monotonicMs() + static_cast<long long>(timeout * 1000));
    ::close(fd);
    if (n != 8) {
        std::fprintf(stderr, "kextsim: option %lld not seen %lld time(s) within %g s\n", option, count, timeout);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "serve")
        return serve(argc, argv);
    if (command == "send")
        return send(argc, argv);
    if (command == "drop" && argc == 2)
        return drop();
    if (command == "wait-option")
        return waitOption(argc, argv);
    return usage();
}
