// hvod: the command broker's hub. Registers modules by id, routes commands
// to them and replies back to their senders, appends every log record as
// one JSON line, and pokes health checks.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "FileIO.h"
#include "Frame.h"

namespace {

const char* kDefaultSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
const char* kDefaultLog = "/usr/local/Vantrel/hvo/var/hvod.jsonl";
constexpr size_t kMaxOutstanding = 4096;
constexpr size_t kMaxQueuedOut = 256u * 1024 * 1024;

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    int saved = errno;
    char b = 1;
    ssize_t r = write(g_signalPipe[1], &b, 1);
    (void)r;
    errno = saved;
}

/// A request routed to a receiver and not yet answered.
struct Outstanding {
    int senderConn;
    uint32_t seq;
    hvoframe::Header header; // as forwarded
};

struct Conn {
    int id;
    int fd;
    pid_t pid = 0;
    uid_t uid = static_cast<uid_t>(-1);
    int module = -1;
    uint8_t flags = 0;
    hvoframe::Assembler in;
    std::vector<uint8_t> out;
    size_t outOff = 0;
    std::deque<Outstanding> outstanding;
    bool pokePending = false;
    uint32_t pokeSeq = 0;
    std::vector<int> healthRequesters; // connections waiting for the poke's answer
    bool closing = false;
};

class Hub {
public:
    Hub(std::string socketPath, std::string logPath, int healthInterval)
        : m_socketPath(std::move(socketPath)), m_logPath(std::move(logPath)), m_healthInterval(healthInterval)
    {
    }
    int run();

private:
    bool listenSocket();
    void acceptOne();
    void readFrom(Conn& c);
    void handle(Conn& c, const hvoframe::Span& body);
    /// Queues `frame` and, right after it, the `tail` its length counts.
    void send(Conn& c, const std::vector<uint8_t>& frame, hvoframe::Span tail = {});
    void flush(Conn& c);
    void drop(Conn& c, const std::string& why);
    void closeConn(int id);
    Conn* byId(int id);
    Conn* byModule(int module);
    void poke(Conn& c);
    void logLine(const char* kind, int pid, int sender, const std::wstring& component, int type, int level,
                 const std::wstring& message, const std::wstring& detail);
    void event(const Conn* c, const std::string& message);

    std::string m_socketPath;
    std::string m_logPath;
    int m_healthInterval;
    int m_listen = -1;
    int m_logFd = -1;
    int m_nextConn = 1;
    std::map<int, std::unique_ptr<Conn>> m_conns;
    std::vector<int> m_doomed;
    uint32_t m_nextPoke = 0;
};

std::wstring widen(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

void Hub::logLine(const char* kind, int pid, int sender, const std::wstring& component, int type, int level,
                  const std::wstring& message, const std::wstring& detail)
{
    if (m_logFd < 0)
        return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    char head[160];
    std::snprintf(head, sizeof head, "{\"time\":%ld.%06ld,\"pid\":%d,\"kind\":\"%s\",\"sender\":%d,", static_cast<long>(tv.tv_sec),
                  static_cast<long>(tv.tv_usec), pid, kind, sender);
    std::string line = head;
    line += "\"component\":\"" + hvoframe::jsonEscape(component) + "\",";
    line += "\"type\":" + std::to_string(type) + ",\"level\":" + std::to_string(level) + ",";
    line += "\"message\":\"" + hvoframe::jsonEscape(message) + "\",";
    line += "\"detail\":\"" + hvoframe::jsonEscape(detail) + "\"}\n";
    // One write per line: lines from one hub never interleave.
    ssize_t r = write(m_logFd, line.data(), line.size());
    (void)r;
}

void Hub::event(const Conn* c, const std::string& message)
{
    logLine("event", c ? c->pid : getpid(), c ? c->module : -1, L"hvod", 0, 0, widen(message), L"");
}

bool Hub::listenSocket()
{
    // A folder that cannot be made shows in the bind.
    (void)wardfile::makeDirectories(wardfile::parentPath(m_socketPath));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "hvod: socket path too long\n");
        return false;
    }
    std::memcpy(addr.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);
    // Another hub answering there: refuse. Nobody answering: a stale socket.
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        close(probe);
        std::fprintf(stderr, "hvod: another hub answers on %s\n", m_socketPath.c_str());
        return false;
    }
    if (probe >= 0)
        close(probe);
    unlink(m_socketPath.c_str());
    m_listen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listen < 0 || bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        chmod(m_socketPath.c_str(), 0666) != 0 || listen(m_listen, 64) != 0) {
        std::fprintf(stderr, "hvod: cannot listen on %s: %s\n", m_socketPath.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

int Hub::run()
{
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    m_logFd = open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_logFd < 0) {
        // A folder that cannot be made shows in the second open.
        (void)wardfile::makeDirectories(wardfile::parentPath(m_logPath));
        m_logFd = open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (m_logFd < 0) {
        std::fprintf(stderr, "hvod: cannot open log %s: %s\n", m_logPath.c_str(), std::strerror(errno));
        return 1;
    }
    if (!listenSocket())
        return 1;
    event(nullptr, "hvod started on " + m_socketPath);

    time_t nextHealth = m_healthInterval > 0 ? time(nullptr) + m_healthInterval : 0;
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({g_signalPipe[0], POLLIN, 0});
        fds.push_back({m_listen, POLLIN, 0});
        std::vector<int> ids;
        for (auto& e : m_conns) {
            short ev = POLLIN;
            if (e.second->out.size() > e.second->outOff)
                ev |= POLLOUT;
            fds.push_back({e.second->fd, ev, 0});
            ids.push_back(e.first);
        }
        int timeout = -1;
        if (m_healthInterval > 0)
            timeout = static_cast<int>(std::max<time_t>(0, nextHealth - time(nullptr))) * 1000 + 10;
        int n = poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[0].revents & POLLIN) {
            event(nullptr, "hvod stopping");
            unlink(m_socketPath.c_str());
            return 0;
        }
        if (fds[1].revents & POLLIN)
            acceptOne();
        for (size_t i = 0; i < ids.size(); ++i) {
            Conn* c = byId(ids[i]);
            if (c == nullptr || c->closing)
                continue;
            short re = fds[i + 2].revents;
            if (re & POLLOUT)
                flush(*c);
            if (!c->closing && (re & (POLLIN | POLLHUP | POLLERR)))
                readFrom(*c);
        }
        if (m_healthInterval > 0 && time(nullptr) >= nextHealth) {
            for (auto& e : m_conns)
                if ((e.second->flags & hvoframe::HAS_HEALTH) && e.second->module >= 0)
                    poke(*e.second);
            nextHealth = time(nullptr) + m_healthInterval;
        }
        std::vector<int> doomed;
        doomed.swap(m_doomed);
        for (int id : doomed)
            closeConn(id);
    }
    unlink(m_socketPath.c_str());
    return 1;
}

void Hub::acceptOne()
{
    int fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return;
    auto c = std::make_unique<Conn>();
    c->id = m_nextConn++;
    c->fd = fd;
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
        c->pid = cred.pid;
        c->uid = cred.uid;
    }
    m_conns[c->id] = std::move(c);
}

Conn* Hub::byId(int id)
{
    auto it = m_conns.find(id);
    return it == m_conns.end() ? nullptr : it->second.get();
}

Conn* Hub::byModule(int module)
{
    for (auto& e : m_conns)
        if (e.second->module == module && !e.second->closing)
            return e.second.get();
    return nullptr;
}

void Hub::drop(Conn& c, const std::string& why)
{
    if (c.closing)
        return;
    event(&c, why);
    c.closing = true;
    m_doomed.push_back(c.id);
}

void Hub::closeConn(int id)
{
    auto it = m_conns.find(id);
    if (it == m_conns.end())
        return;
    std::unique_ptr<Conn> c = std::move(it->second);
    m_conns.erase(it);
    close(c->fd);
    if (c->module >= 0)
        event(c.get(), "unregistered module " + std::to_string(c->module));
    // Requests this receiver never answered: their senders learn it now.
    for (const auto& o : c->outstanding) {
        Conn* s = byId(o.senderConn);
        if (s != nullptr && !s->closing)
            send(*s, hvoframe::Writer(hvoframe::NO_ROUTE).header(o.header).u8(hvoframe::RECEIVER_GONE).finish());
    }
    for (int r : c->healthRequesters)
        if (Conn* q = byId(r))
            send(*q, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::HEALTH_RESULT).i32(c->module).u8(2).finish());
}

void Hub::send(Conn& c, const std::vector<uint8_t>& frame, hvoframe::Span tail)
{
    if (c.closing)
        return;
    if (c.out.size() - c.outOff + frame.size() + tail.size > kMaxQueuedOut) {
        drop(c, "connection dropped: peer does not read");
        return;
    }
    c.out.insert(c.out.end(), frame.begin(), frame.end());
    c.out.insert(c.out.end(), tail.data, tail.data + tail.size);
    flush(c);
}

void Hub::flush(Conn& c)
{
    while (c.outOff < c.out.size()) {
        ssize_t n = ::send(c.fd, c.out.data() + c.outOff, c.out.size() - c.outOff, MSG_NOSIGNAL);
        if (n > 0) {
            c.outOff += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        drop(c, "connection dropped: write failed");
        return;
    }
    if (c.outOff == c.out.size()) {
        // A buffer grown for a large frame goes back once it is sent.
        if (c.out.capacity() > hvoframe::kKeptCapacity)
            std::vector<uint8_t>().swap(c.out);
        else
            c.out.clear();
        c.outOff = 0;
    }
}

void Hub::readFrom(Conn& c)
{
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            if (c.in.pending() != 0)
                drop(c, "bad frame: connection closed inside a frame of " + std::to_string(c.in.pending()) +
                            " bytes");
            else {
                c.closing = true;
                m_doomed.push_back(c.id);
            }
            return;
        }
        c.in.append(buf, static_cast<size_t>(n));
        hvoframe::Span body;
        hvoframe::Assembler::Result r = hvoframe::Assembler::NEED_MORE;
        while (!c.closing && (r = c.in.next(body)) == hvoframe::Assembler::FRAME)
            handle(c, body);
        if (c.closing)
            return;
        if (r == hvoframe::Assembler::BAD_LENGTH) {
            drop(c, "bad frame: length " + std::to_string(c.in.badLength()));
            return;
        }
        if (static_cast<size_t>(n) < sizeof buf)
            break;
    }
}

void Hub::poke(Conn& c)
{
    if (c.pokePending)
        return;
    c.pokePending = true;
    c.pokeSeq = ++m_nextPoke;
    send(c, hvoframe::Writer(hvoframe::HEALTH_POKE).u32(c.pokeSeq).finish());
}

void Hub::handle(Conn& c, const hvoframe::Span& body)
{
    hvoframe::Reader r(body.data, body.size);
    uint8_t kind = r.u8();
    auto bad = [&](const char* what) { drop(c, std::string("bad frame: ") + what); };
    switch (kind) {
    case hvoframe::HELLO: {
        int module = r.i32();
        uint8_t flags = r.u8();
        if (!r.ok() || !r.atEnd())
            return bad("hello");
        std::string refusal;
        if (c.module >= 0)
            refusal = "connection already registered as module " + std::to_string(c.module);
        else if (module < 0)
            refusal = "module id " + std::to_string(module) + " is not valid";
        else if ((module == 3 || module == 4) && c.uid != 0)
            refusal = "module " + std::to_string(module) + " refused for uid " + std::to_string(c.uid);
        else if (byModule(module) != nullptr)
            refusal = "module " + std::to_string(module) + " already registered";
        if (!refusal.empty()) {
            event(&c, "registration refused: " + refusal);
            send(c, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::HELLO_REFUSED).text(widen(refusal)).finish());
            return;
        }
        c.module = module;
        c.flags = flags;
        event(&c, "registered module " + std::to_string(module) + " (pid " + std::to_string(c.pid) + ", uid " +
                      std::to_string(c.uid) + ")");
        send(c, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::HELLO_OK).finish());
        return;
    }
    case hvoframe::COMMAND: {
        hvoframe::Header h = r.header();
        uint8_t wait = r.u8();
        uint8_t hasData = r.u8();
        const hvoframe::Span text = r.rawText(); // passed on as it came
        if (!r.ok() || !r.atEnd())
            return bad("command");
        h.word2 = c.module;
        h.word3 = c.id;
        Conn* to = byModule(h.destinationId);
        if (to == nullptr) {
            event(&c, "no route: command " + std::to_string(h.commandId) + " to module " +
                          std::to_string(h.destinationId));
            send(c, hvoframe::Writer(hvoframe::NO_ROUTE).header(h).u8(hvoframe::NO_SUCH_MODULE).finish());
            return;
        }
        if (to->outstanding.size() >= kMaxOutstanding) {
            const Outstanding& old = to->outstanding.front();
            event(to, "outstanding request dropped: command " + std::to_string(old.header.commandId) + " seq " +
                          std::to_string(old.seq));
            to->outstanding.pop_front();
        }
        to->outstanding.push_back({c.id, h.word1, h});
        send(*to,
             hvoframe::Writer(hvoframe::COMMAND).header(h).u8(wait).u8(hasData).u32(text.size / 4).finish(text.size),
             text);
        return;
    }
    case hvoframe::REPLY: {
        hvoframe::Header h = r.header();
        uint8_t status = r.u8();
        uint8_t completed = r.u8();
        uint8_t hasData = r.u8();
        const hvoframe::Span text = r.rawText();
        if (!r.ok() || !r.atEnd())
            return bad("reply");
        // Only a reply to a request this receiver holds goes on, once.
        auto it = c.outstanding.begin();
        for (; it != c.outstanding.end(); ++it)
            if (it->senderConn == h.word3 && it->seq == h.word1)
                break;
        if (it == c.outstanding.end()) {
            event(&c, "unmatched reply dropped: command " + std::to_string(h.commandId) + " seq " +
                          std::to_string(h.word1) + " connection " + std::to_string(h.word3));
            return;
        }
        c.outstanding.erase(it);
        Conn* to = byId(h.word3);
        if (to == nullptr || to->closing) {
            event(&c, "reply dropped: sender of command " + std::to_string(h.commandId) + " is gone");
            return;
        }
        send(*to,
             hvoframe::Writer(hvoframe::REPLY)
                 .header(h)
                 .u8(status)
                 .u8(completed)
                 .u8(hasData)
                 .u32(text.size / 4)
                 .finish(text.size),
             text);
        return;
    }
    case hvoframe::LOG: {
        uint8_t logKind = r.u8();
        int sender = r.i32();
        int type = r.i32();
        int level = r.i32();
        std::wstring component = r.text();
        std::wstring message = r.text();
        std::wstring detail = r.text();
        if (!r.ok() || !r.atEnd() || logKind > hvoframe::LOG_MSG)
            return bad("log");
        logLine(logKind == hvoframe::LOG_MSG ? "msg" : "log", c.pid, sender, component, type, level, message,
                detail);
        Conn* reporter = byModule(102);
        if (reporter != nullptr && (reporter->flags & hvoframe::HAS_LOG))
            send(*reporter, hvoframe::Writer(hvoframe::LOG)
                                .u8(logKind)
                                .i32(sender)
                                .i32(type)
                                .i32(level)
                                .text(component)
                                .text(message)
                                .text(detail)
                                .finish());
        return;
    }
    case hvoframe::HEALTH_ANSWER: {
        uint32_t seq = r.u32();
        uint8_t result = r.u8();
        if (!r.ok() || !r.atEnd())
            return bad("health answer");
        if (!c.pokePending || seq != c.pokeSeq) {
            event(&c, "unexpected health answer dropped");
            return;
        }
        c.pokePending = false;
        event(&c, std::string("health answer ") + (result ? "true" : "false") + " from module " +
                      std::to_string(c.module));
        for (int q : c.healthRequesters)
            if (Conn* to = byId(q))
                send(*to, hvoframe::Writer(hvoframe::CONTROL)
                              .u8(hvoframe::HEALTH_RESULT)
                              .i32(c.module)
                              .u8(result ? 1 : 0)
                              .finish());
        c.healthRequesters.clear();
        return;
    }
    case hvoframe::CONTROL: {
        uint8_t op = r.u8();
        if (op == hvoframe::PING && r.ok() && r.atEnd()) {
            send(c, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::PONG).finish());
        } else if (op == hvoframe::MODULES && r.ok() && r.atEnd()) {
            std::string list;
            for (auto& e : m_conns)
                if (e.second->module >= 0 && !e.second->closing)
                    list += std::to_string(e.second->module) + " " + std::to_string(e.second->pid) + " " +
                            std::to_string(e.second->uid) + "\n";
            send(c, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::MODULES_ANSWER).text(widen(list)).finish());
        } else if (op == hvoframe::HEALTH_REQUEST) {
            int module = r.i32();
            if (!r.ok() || !r.atEnd())
                return bad("health request");
            Conn* to = byModule(module);
            if (to == nullptr || !(to->flags & hvoframe::HAS_HEALTH)) {
                send(c, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::HEALTH_RESULT).i32(module).u8(2).finish());
                return;
            }
            to->healthRequesters.push_back(c.id);
            poke(*to);
        } else if (op == hvoframe::LOG_PATH && r.ok() && r.atEnd()) {
            send(c, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::LOG_PATH_ANSWER).text(widen(m_logPath)).finish());
        } else {
            bad("control");
        }
        return;
    }
    default:
        bad(("unknown kind " + std::to_string(kind)).c_str());
        return;
    }
}

} // namespace

int main(int argc, char** argv)
{
    std::string socketPath = kDefaultSocket;
    std::string logPath = kDefaultLog;
    int healthInterval = 60;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--log" && i + 1 < argc)
            logPath = argv[++i];
        else if (a == "--health-interval" && i + 1 < argc)
            healthInterval = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: hvod [--log FILE] [--health-interval SECONDS]\n");
            return 2;
        }
    }
    Hub hub(socketPath, logPath, healthInterval);
    return hub.run();
}
