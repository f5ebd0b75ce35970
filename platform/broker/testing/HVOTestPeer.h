// An in-process hub for tests of code that uses the broker: while a TestPeer
// exists, the broker's hub connections lead to it instead of to hvod. It
// speaks the hub's frames over a socket pair, so the broker's own code runs
// unchanged: it records what the process sends, answers waiting sends, and
// hands commands, replies and health checks to the process's interfaces.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CommandData.h"

namespace hvoframe {
struct Span;
}

namespace HVO {

class TestPeer {
public:
    /// Installs this peer as the hub connector; one at a time. Install it
    /// before the broker first reaches the hub.
    TestPeer();
    /// Hangs up (the broker sees a lost hub) and restores the connector.
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    /// false: connections are refused, as when hvod is not running.
    void setHubReachable(bool reachable);

    /// Answers waiting sends: fill `reply` and return true, or return false
    /// for "no such module" (the send then throws HVOException). Without an
    /// answer every waiting send throws. Sends that do not wait are only
    /// recorded.
    using Answer = std::function<bool(CommandData& request, CommandResult& reply)>;
    void setAnswer(Answer answer);

    struct Sent {
        BasicCommandData header;
        bool waited;
        bool hasData;
        std::wstring text;
    };
    struct Reply {
        BasicCommandData header;
        bool status;
        bool completed;
        bool hasData;
        std::wstring text;
    };
    struct Log {
        int sender;
        std::wstring component;
        int type;
        int level;
        std::wstring message;
        std::wstring detail;
        bool formatted; // HVO_LOG_MSG rather than sendLog
    };
    /// What the process sent, including everything a call that returned
    /// before this one wrote.
    std::vector<Sent> commands();
    std::vector<Reply> responses();
    std::vector<Log> logs();

    using Timeout = std::chrono::milliseconds;
    /// Sends `command` to the process as the hub would and waits for the
    /// module's reply: its own answer, or the failure reply the broker sends
    /// for a handler that failed. Nothing when no reply came in time.
    std::optional<Reply> deliverCommand(CommandData& command, Timeout timeout = Timeout(10000));
    /// Sends `reply` as the answer to a command the process sent without
    /// waiting; handleCommandResponse gets it on a broker thread.
    void deliverResponse(CommandResult& reply);
    /// Pokes the health check and returns its answer; false without a
    /// handler or an answer in time.
    bool deliverHealthCheck(Timeout timeout = Timeout(10000));

private:
    int connect(const std::string& socketPath);
    void serve(int fd);
    void handleFrame(int fd, const hvoframe::Span& body);
    void send(const std::vector<uint8_t>& frame);
    /// Waits until every frame already written to the peer is handled.
    void sync();
    void hangUp();

    std::mutex m_mutex; // guards everything below
    std::condition_variable m_cv;
    bool m_reachable = true;
    Answer m_answer;
    std::vector<Sent> m_commands;
    std::vector<Reply> m_responses;
    std::vector<Log> m_logs;
    std::map<uint32_t, int> m_health; // poke -> answer
    uint32_t m_nextSeq = 0;
    uint64_t m_syncAsked = 0;
    uint64_t m_syncDone = 0;

    int m_fd = -1;           // the hub's end of the current connection
    int m_wake[2] = {-1, -1}; // wakes the serving thread for sync()
    std::thread m_server;    // serves m_fd; joined before it is replaced
    bool m_serverEnded = false; // the broker closed its end of m_fd
};

} // namespace HVO
