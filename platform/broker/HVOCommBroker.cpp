#include "HVOCommBroker.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "BrokerTrace.h"
#include "Frame.h"
#include "HubConnector.h"

static_assert(std::atomic<bool>::is_always_lock_free, "stop() must stay async-signal-safe");

namespace HVO {

namespace detail {

constexpr int kDispatchers = 4;
constexpr size_t kKeptAsyncSends = 4096;
constexpr size_t kKeptTimedOut = 4096;

/// One hub connection: a socket thread reading frames and a pool of
/// dispatchers running handlers. Destroyed only after its threads joined.
struct Connection {
    int fd = -1;
    std::thread socketThread;
    std::vector<std::thread> dispatchers;
    std::mutex writeMutex; // one frame at a time on fd

    std::mutex queueMutex; // guards queue, closing
    std::condition_variable queueCv;
    std::deque<std::function<void()>> queue;
    bool closing = false;

    std::atomic<bool> dead{false};
    // Guarded by the broker's state mutex.
    int helloState = 0; // 0 none, 1 sent, 2 registered, 3 refused
    std::string refusal;
};

/// A waiting send; lives on the sender's stack, reached through m_waiters.
struct Waiter {
    Connection* conn = nullptr;
    bool done = false;
    bool failed = false;
    std::string error;
    hvoframe::Header header;
    bool status = false;
    bool completed = false;
    bool hasData = false;
    std::wstring text;
};

/// A command, a reply or a failure reply as it came off the socket.
struct Incoming {
    hvoframe::Header header;
    bool status = false;
    bool completed = false;
    bool hasData = false;
    std::wstring text;
};

} // namespace detail

using detail::Connection;
using detail::Incoming;
using detail::Waiter;

namespace {

std::atomic<HVOCommBroker*> s_instance{nullptr};
std::mutex s_instanceMutex;
std::string s_firstPath; // guarded by s_instanceMutex

hvoframe::Header toFrame(const BasicCommandData& h)
{
    hvoframe::Header f;
    f.commandId = h.getCommandId();
    f.word1 = h.getBrokerWord1();
    f.word2 = h.getBrokerWord2();
    f.destinationId = h.getDestinationId();
    f.flag = h.getCommandFlag();
    f.word3 = h.getBrokerWord3();
    return f;
}

void fromFrame(BasicCommandData& h, const hvoframe::Header& f)
{
    PayloadAccess::setHeader(h, f.commandId, f.word1, f.word2, f.destinationId, f.flag, f.word3);
}

std::string errnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

/// Fills `r` as the broker hands replies over; an unreadable payload leaves
/// it without an input archive.
bool fillResult(CommandResult& r, const hvoframe::Header& h, bool status, bool completed, bool hasData,
                std::wstring text)
{
    BasicCommandData header;
    fromFrame(header, h);
    r.setBasicCommandData(header);
    r.setCommandStatus(status);
    r.setCommandCompleted(completed);
    if (!hasData)
        return true;
    try {
        PayloadAccess::setInput(r, std::move(text));
        return true;
    } catch (const std::exception& e) {
        BROKER_TRACE(L"HVOCommBroker - unreadable reply payload for command %d: %s\n", h.commandId, e.what());
        return false;
    }
}

} // namespace

/// Counts the public calls in progress, so that release frees nothing a
/// caller still uses, and refuses calls once release began.
struct CallGuard {
    explicit CallGuard(HVOCommBroker* b) : b(b) { b->enterCall(); }
    ~CallGuard() { b->leaveCall(); }
    HVOCommBroker* b;
};

void HVOCommBroker::enterCall()
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (m_releasing)
        throw HVOException("command broker is being released");
    ++m_activeCalls;
}

void HVOCommBroker::leaveCall()
{
    std::lock_guard<std::mutex> lock(m_stateMutex);
    --m_activeCalls;
    m_stateCv.notify_all();
}

HVOCommBroker::HVOCommBroker(std::string socketPath) : m_socketPath(std::move(socketPath))
{
    if (pipe2(m_selfPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        m_selfPipe[0] = m_selfPipe[1] = -1;
}

HVOCommBroker::~HVOCommBroker()
{
    if (m_selfPipe[0] >= 0)
        close(m_selfPipe[0]);
    if (m_selfPipe[1] >= 0)
        close(m_selfPipe[1]);
}

HVOCommBroker* HVOCommBroker::getInstance(std::string socketPath)
{
    if (socketPath.empty())
        return nullptr;
    HVOCommBroker* b = s_instance.load(std::memory_order_acquire);
    if (b != nullptr)
        return b->m_socketPath == socketPath ? b : nullptr;
    std::lock_guard<std::mutex> lock(s_instanceMutex);
    if (s_firstPath.empty())
        s_firstPath = socketPath;
    if (socketPath != s_firstPath)
        return nullptr;
    b = s_instance.load(std::memory_order_acquire);
    if (b == nullptr) {
        b = new HVOCommBroker(socketPath);
        s_instance.store(b, std::memory_order_release);
    }
    return b;
}

HVOCommBroker* HVOCommBroker::existing()
{
    return s_instance.load(std::memory_order_acquire);
}

void HVOCommBroker::releaseInstance()
{
    std::lock_guard<std::mutex> lock(s_instanceMutex);
    HVOCommBroker* b = s_instance.load(std::memory_order_acquire);
    if (b == nullptr)
        return;
    if (b->onDispatcherThread())
        throw HVOException("releaseInstance called on a broker thread");
    b->stop();
    {
        std::lock_guard<std::mutex> state(b->m_stateMutex);
        b->m_releasing = true;
        for (auto& w : b->m_waiters) {
            w.second->failed = true;
            w.second->error = "command broker released";
            w.second->done = true;
        }
        b->m_stateCv.notify_all();
    }
    std::vector<std::shared_ptr<Connection>> conns;
    std::thread keeper;
    {
        std::lock_guard<std::mutex> conn(b->m_connMutex);
        conns = b->m_dead;
        b->m_dead.clear();
        if (b->m_current)
            conns.push_back(b->m_current);
        b->m_current.reset();
        keeper = std::move(b->m_keeper);
    }
    for (auto& c : conns)
        shutdown(c->fd, SHUT_RDWR);
    if (keeper.joinable())
        keeper.join();
    for (auto& c : conns) {
        if (c->socketThread.joinable())
            c->socketThread.join();
        for (auto& t : c->dispatchers)
            t.join();
        close(c->fd);
    }
    {
        std::unique_lock<std::mutex> state(b->m_stateMutex);
        b->m_stateCv.wait(state, [b] { return b->m_activeCalls == 0; });
    }
    s_instance.store(nullptr, std::memory_order_release);
    delete b;
}

void HVOCommBroker::setHVKId(int id)
{
    m_hvkId = id;
}

void HVOCommBroker::setCommandInterface(CommandInterface* handler)
{
    m_commandHandler = handler;
}

void HVOCommBroker::setHealthCheckInterface(HealthCheckInterface* handler)
{
    m_healthHandler = handler;
}

void HVOCommBroker::setLogInterface(LogInterface* handler)
{
    m_logHandler = handler;
}

void HVOCommBroker::stop()
{
    int saved = errno;
    m_stopRequested.store(true);
    if (m_selfPipe[1] >= 0) {
        char b = 1;
        ssize_t r = write(m_selfPipe[1], &b, 1);
        (void)r;
    }
    errno = saved;
}

void HVOCommBroker::start(boost::logic::tribool wait)
{
    CallGuard guard(this);
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        if (m_started)
            throw HVOException("command broker already started");
        m_started = true;
        if (wait == true) {
            m_keeper = std::thread([this] {
                try {
                    keepRegistered(false);
                } catch (const std::exception& e) {
                    BROKER_TRACE(L"HVOCommBroker::start - %s\n", e.what());
                }
            });
            return;
        }
    }
    keepRegistered(true);
}

namespace {
struct Refused : HVOException {
    using HVOException::HVOException;
};
} // namespace

void HVOCommBroker::keepRegistered(bool blocking)
{
    while (!m_stopRequested.load()) {
        reapDeadConnections();
        try {
            std::shared_ptr<Connection> c = connection();
            int state;
            {
                std::lock_guard<std::mutex> lock(m_stateMutex);
                state = c->helloState;
            }
            if (state == 0)
                registerOn(c, blocking);
        } catch (const Refused&) {
            if (blocking)
                throw;
        } catch (const HVOException& e) {
            BROKER_TRACE(L"HVOCommBroker::start - %s; retrying\n", e.what());
        }
        pollfd p{m_selfPipe[0], POLLIN, 0};
        if (poll(&p, 1, 1000) > 0) {
            char buf[64];
            while (read(m_selfPipe[0], buf, sizeof buf) > 0) {
            }
        }
    }
}

bool HVOCommBroker::registerOn(const std::shared_ptr<Connection>& c, bool blocking)
{
    uint8_t flags = 0;
    if (m_commandHandler.load())
        flags |= hvoframe::HAS_COMMAND;
    if (m_healthHandler.load())
        flags |= hvoframe::HAS_HEALTH;
    if (m_logHandler.load())
        flags |= hvoframe::HAS_LOG;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        c->helloState = 1;
    }
    writeFrame(*c, hvoframe::Writer(hvoframe::HELLO).i32(m_hvkId.load()).u8(flags).finish());
    std::unique_lock<std::mutex> lock(m_stateMutex);
    m_stateCv.wait_for(lock, std::chrono::seconds(2), [&] { return c->helloState != 1 || c->dead.load(); });
    if (c->helloState == 3) {
        std::string why = c->refusal;
        lock.unlock();
        if (blocking)
            throw Refused("registration refused: " + why);
        BROKER_TRACE(L"HVOCommBroker::start - registration refused: %s\n", why.c_str());
        return false;
    }
    return c->helloState == 2;
}

void HVOCommBroker::reapDeadConnections()
{
    std::vector<std::shared_ptr<Connection>> dead;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        dead.swap(m_dead);
    }
    for (auto& c : dead) {
        c->socketThread.join();
        for (auto& t : c->dispatchers)
            t.join();
        close(c->fd);
    }
}

bool HVOCommBroker::onDispatcherThread()
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    auto self = std::this_thread::get_id();
    auto mine = [&](const std::shared_ptr<Connection>& c) {
        if (!c)
            return false;
        if (c->socketThread.get_id() == self)
            return true;
        for (auto& t : c->dispatchers)
            if (t.get_id() == self)
                return true;
        return false;
    };
    if (mine(m_current))
        return true;
    for (auto& c : m_dead)
        if (mine(c))
            return true;
    return false;
}

std::shared_ptr<Connection> HVOCommBroker::connection()
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    if (m_current && !m_current->dead.load())
        return m_current;
    if (m_current) {
        // Joined later by start's loop or by release, never here: a
        // dispatcher of that connection may be the caller.
        m_dead.push_back(m_current);
        m_current.reset();
    }
    m_current = openConnection();
    return m_current;
}

std::shared_ptr<Connection> HVOCommBroker::openConnection()
{
    int fd = connectToHub(m_socketPath);
    auto c = std::make_shared<Connection>();
    c->fd = fd;
    Connection* raw = c.get();
    c->socketThread = std::thread([this, raw] { socketLoop(raw); });
    for (int i = 0; i < detail::kDispatchers; ++i)
        c->dispatchers.emplace_back([this, raw] { dispatchLoop(raw); });
    return c;
}

// Marked dead at once, so the next send opens a new connection even
// before the socket thread has seen the shutdown.
static void abandon(Connection& c)
{
    c.dead = true;
    shutdown(c.fd, SHUT_RDWR);
}

void HVOCommBroker::writeFrame(Connection& c, const std::vector<uint8_t>& frame)
{
    std::lock_guard<std::mutex> lock(c.writeMutex);
    if (c.dead.load())
        throw HVOException("connection to hvod lost");
    size_t off = 0;
    while (off < frame.size()) {
        ssize_t n = send(c.fd, frame.data() + off, frame.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Five seconds without progress: the hub is stuck.
            pollfd p{c.fd, POLLOUT, 0};
            int r;
            do
                r = poll(&p, 1, 5000);
            while (r < 0 && errno == EINTR);
            if (r > 0)
                continue;
            abandon(c);
            throw HVOException("write to hvod stalled for 5 s; connection closed");
        }
        std::string msg = errnoText("write to hvod failed");
        abandon(c);
        throw HVOException(msg);
    }
}

void HVOCommBroker::socketLoop(Connection* c)
{
    hvoframe::Assembler frames;
    hvoframe::Span body;
    uint8_t buf[65536];
    for (;;) {
        ssize_t n = recv(c->fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        frames.append(buf, static_cast<size_t>(n));
        hvoframe::Assembler::Result r;
        while ((r = frames.next(body)) == hvoframe::Assembler::FRAME)
            handleFrame(*c, body);
        if (r == hvoframe::Assembler::BAD_LENGTH)
            break;
    }
    connectionLost(*c);
}

void HVOCommBroker::connectionLost(Connection& c)
{
    c.dead = true;
    shutdown(c.fd, SHUT_RDWR);
    std::vector<BasicCommandData> orphans;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        for (auto& w : m_waiters) {
            if (w.second->conn == &c && !w.second->done) {
                w.second->failed = true;
                w.second->error = "connection to hvod lost before the reply";
                w.second->done = true;
            }
        }
        for (auto it = m_async.begin(); it != m_async.end();) {
            if (it->second.second == &c) {
                if (!m_releasing)
                    orphans.push_back(it->second.first);
                it = m_async.erase(it);
            } else {
                ++it;
            }
        }
        if (c.helloState == 1) {
            c.helloState = 3;
            c.refusal = "connection lost";
        }
        m_stateCv.notify_all();
    }
    std::lock_guard<std::mutex> lock(c.queueMutex);
    for (auto& h : orphans) {
        Incoming in;
        in.header = toFrame(h);
        c.queue.push_back([this, in]() mutable { deliverReply(in); });
    }
    c.closing = true;
    c.queueCv.notify_all();
}

void HVOCommBroker::dispatchLoop(Connection* c)
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(c->queueMutex);
            c->queueCv.wait(lock, [c] { return !c->queue.empty() || c->closing; });
            if (c->queue.empty())
                return;
            task = std::move(c->queue.front());
            c->queue.pop_front();
        }
        task();
    }
}

void HVOCommBroker::handleFrame(Connection& c, const hvoframe::Span& body)
{
    hvoframe::Reader r(body.data, body.size);
    uint8_t kind = r.u8();
    auto post = [&c](std::function<void()> task) {
        std::lock_guard<std::mutex> lock(c.queueMutex);
        c.queue.push_back(std::move(task));
        c.queueCv.notify_one();
    };
    switch (kind) {
    case hvoframe::REPLY:
    case hvoframe::NO_ROUTE: {
        Incoming in;
        in.header = r.header();
        std::string error;
        if (kind == hvoframe::REPLY) {
            in.status = r.u8() != 0;
            in.completed = r.u8() != 0;
            in.hasData = r.u8() != 0;
            in.text = r.text();
        } else {
            uint8_t reason = r.u8();
            error = (reason == hvoframe::RECEIVER_GONE ? "module " + std::to_string(in.header.destinationId) +
                                                             " went away before answering"
                                                       : "no module " + std::to_string(in.header.destinationId) +
                                                             " registered with hvod");
        }
        if (!r.ok())
            return;
        {
            // A reply to a waiting send goes straight to the waiter.
            std::lock_guard<std::mutex> lock(m_stateMutex);
            auto w = m_waiters.find(in.header.word1);
            if (w != m_waiters.end() && !w->second->done) {
                Waiter& wt = *w->second;
                wt.done = true;
                wt.failed = kind == hvoframe::NO_ROUTE;
                wt.error = error;
                wt.header = in.header;
                wt.status = in.status;
                wt.completed = in.completed;
                wt.hasData = in.hasData;
                wt.text = std::move(in.text);
                m_stateCv.notify_all();
                return;
            }
            for (uint32_t seq : m_timedOut)
                if (seq == in.header.word1) {
                    BROKER_TRACE(L"HVOCommBroker - late reply to command %d dropped\n", in.header.commandId);
                    return;
                }
            m_async.erase(in.header.word1);
        }
        post([this, in = std::move(in)]() mutable { deliverReply(in); });
        return;
    }
    case hvoframe::COMMAND: {
        Incoming in;
        in.header = r.header();
        r.u8(); // the sender's wait flag: nothing to do with it here
        in.hasData = r.u8() != 0;
        in.text = r.text();
        if (!r.ok())
            return;
        post([this, &c, in = std::move(in)]() mutable { runCommand(c, in); });
        return;
    }
    case hvoframe::HEALTH_POKE: {
        uint32_t seq = r.u32();
        if (!r.ok())
            return;
        post([this, &c, seq] {
            bool result = false;
            if (HealthCheckInterface* h = m_healthHandler.load()) {
                try {
                    result = h->handleHealthCheck();
                } catch (const std::exception& e) {
                    BROKER_TRACE(L"HVOCommBroker - health check threw: %s\n", e.what());
                } catch (...) {
                    BROKER_TRACE(L"HVOCommBroker - health check threw\n");
                }
            }
            try {
                writeFrame(c, hvoframe::Writer(hvoframe::HEALTH_ANSWER).u32(seq).u8(result ? 1 : 0).finish());
            } catch (const HVOException&) {
            }
        });
        return;
    }
    case hvoframe::LOG: {
        r.u8();
        int sender = r.i32();
        int type = r.i32();
        int level = r.i32();
        r.text(); // component
        std::wstring message = r.text();
        std::wstring detailText = r.text();
        if (!r.ok())
            return;
        post([this, sender, type, level, message, detailText] {
            LogInterface* h = m_logHandler.load();
            if (h == nullptr)
                return;
            LogRequest rec(sender, static_cast<typeOfLog_enum>(type), static_cast<hvk_logLevel_enum>(level));
            rec.setMessage(message);
            rec.setDetailMessage(detailText);
            try {
                h->handleLog(rec);
            } catch (...) {
                BROKER_TRACE(L"HVOCommBroker - log handler threw\n");
            }
        });
        return;
    }
    case hvoframe::CONTROL: {
        uint8_t op = r.u8();
        std::lock_guard<std::mutex> lock(m_stateMutex);
        if (op == hvoframe::HELLO_OK) {
            c.helloState = 2;
        } else if (op == hvoframe::HELLO_REFUSED) {
            std::wstring why = r.text();
            c.refusal.assign(why.begin(), why.end());
            c.helloState = 3;
        }
        m_stateCv.notify_all();
        return;
    }
    default:
        return;
    }
}

void HVOCommBroker::runCommand(Connection& c, Incoming& in)
{
    const auto& h = in.header;
    CommandData command(h.commandId, h.destinationId, h.flag);
    fromFrame(command, h);
    if (in.hasData) {
        try {
            PayloadAccess::setInput(command, std::move(in.text));
        } catch (const std::exception& e) {
            BROKER_TRACE(L"HVOCommBroker - unreadable payload of command %d: %s\n", h.commandId, e.what());
        }
    }
    auto key = std::make_tuple(h.word1, h.word2, h.word3);
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_inflight[key] = false;
    }
    bool handled = false;
    if (CommandInterface* handler = m_commandHandler.load()) {
        try {
            handled = handler->handleCommand(command);
        } catch (const std::exception& e) {
            BROKER_TRACE(L"HVOCommBroker - handler of command %d threw: %s\n", h.commandId, e.what());
        } catch (...) {
            BROKER_TRACE(L"HVOCommBroker - handler of command %d threw\n", h.commandId);
        }
    }
    bool answered;
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        answered = m_inflight[key];
        m_inflight.erase(key);
    }
    if (handled || answered)
        return;
    // Failed without an answer: the sender gets a failure reply now.
    try {
        writeFrame(c, hvoframe::Writer(hvoframe::REPLY).header(h).u8(0).u8(0).u8(0).text(L"").finish());
    } catch (const HVOException& e) {
        BROKER_TRACE(L"HVOCommBroker - failure reply not sent: %s\n", e.what());
    }
}

void HVOCommBroker::deliverReply(Incoming& in)
{
    CommandInterface* handler = m_commandHandler.load();
    if (handler == nullptr)
        return;
    CommandResult result;
    fillResult(result, in.header, in.status, in.completed, in.hasData, std::move(in.text));
    try {
        handler->handleCommandResponse(result);
    } catch (const std::exception& e) {
        BROKER_TRACE(L"HVOCommBroker - reply handler threw: %s\n", e.what());
    } catch (...) {
        BROKER_TRACE(L"HVOCommBroker - reply handler threw\n");
    }
}

void HVOCommBroker::sendCommand(CommandData& command, CommandResult* result, bool, int timeout)
{
    CallGuard guard(this);
    std::shared_ptr<Connection> c = connection();
    uint32_t seq = ++m_nextSeq;
    if (seq == 0)
        seq = ++m_nextSeq;
    PayloadAccess::setBrokerWords(command, seq, command.getBrokerWord2(), command.getBrokerWord3());
    auto frame = hvoframe::Writer(hvoframe::COMMAND)
                     .header(toFrame(command))
                     .u8(result != nullptr ? 1 : 0)
                     .u8(PayloadAccess::hasData(command) ? 1 : 0)
                     .text(PayloadAccess::outputText(command))
                     .finish();
    if (result == nullptr) {
        {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_async[seq] = {command, c.get()};
            m_asyncOrder.push_back(seq);
            while (m_async.size() > detail::kKeptAsyncSends && !m_asyncOrder.empty()) {
                m_async.erase(m_asyncOrder.front());
                m_asyncOrder.erase(m_asyncOrder.begin());
            }
            if (m_asyncOrder.size() > 2 * detail::kKeptAsyncSends) {
                std::vector<uint32_t> live;
                for (uint32_t s : m_asyncOrder)
                    if (m_async.count(s))
                        live.push_back(s);
                m_asyncOrder.swap(live);
            }
        }
        try {
            writeFrame(*c, frame);
        } catch (...) {
            std::lock_guard<std::mutex> lock(m_stateMutex);
            m_async.erase(seq);
            throw;
        }
        return;
    }

    Waiter w;
    w.conn = c.get();
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_waiters[seq] = &w;
    }
    try {
        writeFrame(*c, frame);
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        m_waiters.erase(seq);
        throw;
    }
    int seconds = timeout > 0 ? timeout : 45;
    std::unique_lock<std::mutex> lock(m_stateMutex);
    bool got = m_stateCv.wait_for(lock, std::chrono::seconds(seconds), [&] { return w.done; });
    m_waiters.erase(seq);
    if (!got) {
        m_timedOut.push_back(seq);
        if (m_timedOut.size() > detail::kKeptTimedOut)
            m_timedOut.erase(m_timedOut.begin());
        throw HVOException("no reply to command " + std::to_string(command.getCommandId()) + " from module " +
                           std::to_string(command.getDestinationId()) + " within " + std::to_string(seconds) +
                           " s");
    }
    lock.unlock();
    if (w.failed)
        throw HVOException(w.error);
    if (!fillResult(*result, w.header, w.status, w.completed, w.hasData, std::move(w.text)))
        throw HVOException("reply to command " + std::to_string(command.getCommandId()) + " has an unreadable payload");
}

void HVOCommBroker::sendCommandResponse(CommandResult& result)
{
    CallGuard guard(this);
    BasicCommandData h = result.getBasicCommandData();
    {
        std::lock_guard<std::mutex> lock(m_stateMutex);
        auto it = m_inflight.find(std::make_tuple(h.getBrokerWord1(), h.getBrokerWord2(), h.getBrokerWord3()));
        if (it != m_inflight.end())
            it->second = true;
    }
    std::shared_ptr<Connection> c = connection();
    writeFrame(*c, hvoframe::Writer(hvoframe::REPLY)
                       .header(toFrame(h))
                       .u8(result.getCommandStatus() ? 1 : 0)
                       .u8(result.getCommandCompleted() ? 1 : 0)
                       .u8(PayloadAccess::hasData(result) ? 1 : 0)
                       .text(PayloadAccess::outputText(result))
                       .finish());
}

void HVOCommBroker::sendLog(LogRequest& record)
{
    CallGuard guard(this);
    std::shared_ptr<Connection> c = connection();
    writeFrame(*c, hvoframe::Writer(hvoframe::LOG)
                       .u8(hvoframe::LOG_RECORD)
                       .i32(record.getSender())
                       .i32(record.getLogType())
                       .i32(record.getLogLevel())
                       .text(L"")
                       .text(record.getMessage())
                       .text(record.getDetailMessage())
                       .finish());
}

void HVOCommBroker::sendLogMessage(int sender, const std::wstring& component, int type, int level,
                                   const std::wstring& text)
{
    CallGuard guard(this);
    std::shared_ptr<Connection> c = connection();
    writeFrame(*c, hvoframe::Writer(hvoframe::LOG)
                       .u8(hvoframe::LOG_MSG)
                       .i32(sender)
                       .i32(type)
                       .i32(level)
                       .text(component)
                       .text(text)
                       .text(L"")
                       .finish());
}

namespace {
std::mutex s_connectorMutex;
HubConnector s_connector; // guarded by s_connectorMutex
} // namespace

HubConnector setHubConnector(HubConnector connector)
{
    std::lock_guard<std::mutex> lock(s_connectorMutex);
    HubConnector old = std::move(s_connector);
    s_connector = std::move(connector);
    return old;
}

int connectToHub(const std::string& socketPath)
{
    HubConnector connector;
    {
        std::lock_guard<std::mutex> lock(s_connectorMutex);
        connector = s_connector;
    }
    return connector ? connector(socketPath) : connectUnixSocket(socketPath);
}

int connectUnixSocket(const std::string& socketPath)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw HVOException(errnoText("cannot create hvod socket"));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) {
        close(fd);
        throw HVOException("hvod socket path too long");
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::string msg = errnoText(("cannot reach hvod at " + socketPath).c_str());
        close(fd);
        throw HVOException(msg);
    }
    return fd;
}

void loadTraceValues(const char*) {}

} // namespace HVO
