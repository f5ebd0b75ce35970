#include "HVOTestPeer.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "Frame.h"
#include "HVOCommBroker.h"
#include "HubConnector.h"

namespace HVO {

namespace {

std::atomic<TestPeer*> s_peer{nullptr};

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

template <class Envelope> void setFrom(Envelope& to, const hvoframe::Header& h)
{
    PayloadAccess::setHeader(to, h.commandId, h.word1, h.word2, h.destinationId, h.flag, h.word3);
}

void writeAll(int fd, const std::vector<uint8_t>& frame)
{
    size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the broker hung up: nothing to tell it
        done += static_cast<size_t>(n);
    }
}

} // namespace

TestPeer::TestPeer()
{
    TestPeer* expected = nullptr;
    if (!s_peer.compare_exchange_strong(expected, this))
        throw HVOException("a test peer is already installed");
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        s_peer.store(nullptr);
        throw HVOException(std::string("test peer: pipe: ") + std::strerror(errno));
    }
    setHubConnector([this](const std::string& path) { return connect(path); });
}

TestPeer::~TestPeer()
{
    setHubConnector(nullptr);
    hangUp();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    s_peer.store(nullptr);
}

void TestPeer::setHubReachable(bool reachable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reachable = reachable;
}

void TestPeer::setAnswer(Answer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
}

int TestPeer::connect(const std::string& socketPath)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_reachable)
            throw HVOException("cannot reach hvod at " + socketPath + ": " + std::strerror(ECONNREFUSED));
    }
    hangUp(); // the broker opens a new connection only when it lost the last one
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        throw HVOException(std::string("cannot create hvod socket: ") + std::strerror(errno));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fd = pair[0];
        m_serverEnded = false;
    }
    m_server = std::thread([this, fd = pair[0]] { serve(fd); });
    return pair[1];
}

void TestPeer::hangUp()
{
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_fd;
    }
    if (fd < 0)
        return;
    // The broker reads the end and closes its side; waiting for that means
    // its next send opens a new connection rather than failing on this one.
    ::shutdown(fd, SHUT_WR);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(5), [this] { return m_serverEnded; });
    }
    ::shutdown(fd, SHUT_RDWR);
    if (m_server.joinable())
        m_server.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    ::close(m_fd);
    m_fd = -1;
}

void TestPeer::serve(int fd)
{
    hvoframe::Assembler frames;
    hvoframe::Span body;
    uint8_t buf[65536];
    bool open = true;
    while (open) {
        pollfd p[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        uint64_t asked = 0;
        if (p[1].revents & POLLIN) {
            char drain[64];
            while (::read(m_wake[0], drain, sizeof drain) > 0) {
            }
            // Taken before reading: a sync asked later may have data that
            // arrives after the read below ends.
            std::lock_guard<std::mutex> lock(m_mutex);
            asked = m_syncAsked;
        }
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (n <= 0) {
                open = false;
                break;
            }
            frames.append(buf, static_cast<size_t>(n));
            hvoframe::Assembler::Result r;
            while ((r = frames.next(body)) == hvoframe::Assembler::FRAME)
                handleFrame(fd, body);
            if (r == hvoframe::Assembler::BAD_LENGTH) {
                open = false;
                break;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!open)
            asked = m_syncAsked;
        if (asked > m_syncDone)
            m_syncDone = asked;
        m_cv.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serverEnded = true;
    m_cv.notify_all();
}

void TestPeer::handleFrame(int fd, const hvoframe::Span& body)
{
    hvoframe::Reader r(body.data, body.size);
    switch (r.u8()) {
    case hvoframe::HELLO:
        writeAll(fd, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::HELLO_OK).finish());
        return;
    case hvoframe::COMMAND: {
        hvoframe::Header h = r.header();
        bool wait = r.u8() != 0;
        bool hasData = r.u8() != 0;
        std::wstring text = r.text();
        if (!r.ok())
            return;
        BasicCommandData header;
        setFrom(header, h);
        Answer answer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_commands.push_back({header, wait, hasData, text});
            answer = m_answer;
        }
        if (!wait)
            return;
        CommandData request(h.commandId, h.destinationId, h.flag);
        setFrom(request, h);
        CommandResult reply;
        bool answered = false;
        try {
            if (hasData)
                PayloadAccess::setInput(request, std::move(text));
            reply.setBasicCommandData(request);
            answered = answer && answer(request, reply);
        } catch (...) {
            answered = false;
        }
        if (answered)
            writeAll(fd, hvoframe::Writer(hvoframe::REPLY)
                             .header(h)
                             .u8(reply.getCommandStatus() ? 1 : 0)
                             .u8(reply.getCommandCompleted() ? 1 : 0)
                             .u8(PayloadAccess::hasData(reply) ? 1 : 0)
                             .text(PayloadAccess::outputText(reply))
                             .finish());
        else
            writeAll(fd, hvoframe::Writer(hvoframe::NO_ROUTE).header(h).u8(hvoframe::NO_SUCH_MODULE).finish());
        return;
    }
    case hvoframe::REPLY: {
        hvoframe::Header h = r.header();
        bool status = r.u8() != 0;
        bool completed = r.u8() != 0;
        bool hasData = r.u8() != 0;
        std::wstring text = r.text();
        if (!r.ok())
            return;
        BasicCommandData header;
        setFrom(header, h);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_responses.push_back({header, status, completed, hasData, std::move(text)});
        m_cv.notify_all();
        return;
    }
    case hvoframe::LOG: {
        bool formatted = r.u8() == hvoframe::LOG_MSG;
        int sender = r.i32();
        int type = r.i32();
        int level = r.i32();
        std::wstring component = r.text();
        std::wstring message = r.text();
        std::wstring detail = r.text();
        if (!r.ok())
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_logs.push_back({sender, component, type, level, message, detail, formatted});
        return;
    }
    case hvoframe::HEALTH_ANSWER: {
        uint32_t seq = r.u32();
        uint8_t result = r.u8();
        if (!r.ok())
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_health[seq] = result;
        m_cv.notify_all();
        return;
    }
    default:
        return;
    }
}

void TestPeer::send(const std::vector<uint8_t>& frame)
{
    int fd;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        fd = m_fd;
    }
    if (fd < 0)
        throw HVOException("test peer: the broker has not reached the hub");
    writeAll(fd, frame);
}

void TestPeer::sync()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_fd < 0)
        return;
    uint64_t target = ++m_syncAsked;
    char b = 1;
    ssize_t w = ::write(m_wake[1], &b, 1);
    (void)w; // a full pipe wakes the server all the same
    m_cv.wait(lock, [&] { return m_syncDone >= target; });
}

std::vector<TestPeer::Sent> TestPeer::commands()
{
    sync();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::vector<TestPeer::Reply> TestPeer::responses()
{
    sync();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responses;
}

std::vector<TestPeer::Log> TestPeer::logs()
{
    sync();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logs;
}

std::optional<TestPeer::Reply> TestPeer::deliverCommand(CommandData& command, Timeout timeout)
{
    hvoframe::Header h = toFrame(command);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Numbers of the peer's own, apart from the broker's sequence.
        h.word1 = 0x80000000u | ++m_nextSeq;
    }
    send(hvoframe::Writer(hvoframe::COMMAND)
             .header(h)
             .u8(0)
             .u8(PayloadAccess::hasData(command) ? 1 : 0)
             .text(PayloadAccess::outputText(command))
             .finish());
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<Reply> got;
    m_cv.wait_for(lock, timeout, [&] {
        for (const Reply& r : m_responses)
            if (r.header.getBrokerWord1() == h.word1) {
                got = r;
                return true;
            }
        return false;
    });
    return got;
}

void TestPeer::deliverResponse(CommandResult& reply)
{
    send(hvoframe::Writer(hvoframe::REPLY)
             .header(toFrame(reply.getBasicCommandData()))
             .u8(reply.getCommandStatus() ? 1 : 0)
             .u8(reply.getCommandCompleted() ? 1 : 0)
             .u8(PayloadAccess::hasData(reply) ? 1 : 0)
             .text(PayloadAccess::outputText(reply))
             .finish());
}

bool TestPeer::deliverHealthCheck(Timeout timeout)
{
    uint32_t seq;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        seq = ++m_nextSeq;
    }
    send(hvoframe::Writer(hvoframe::HEALTH_POKE).u32(seq).finish());
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, timeout, [&] { return m_health.count(seq) != 0; }))
        return false;
    return m_health[seq] == 1;
}

} // namespace HVO
