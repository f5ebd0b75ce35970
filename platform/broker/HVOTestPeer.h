// An in-process stand-in for the hub and the other modules, for tests of
// code that uses the broker: while a TestPeer exists, the broker sends
// nothing on a socket and hands every envelope to it instead.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "CommandData.h"

namespace HVO {

class HVOCommBroker;

class TestPeer {
public:
    /// Installs this peer; one at a time.
    TestPeer();
    ~TestPeer();
    TestPeer(const TestPeer&) = delete;
    TestPeer& operator=(const TestPeer&) = delete;

    /// false: getInstance returns null, as when no broker exists.
    void setBrokerAvailable(bool available);

    /// Answers waiting sends: fill `reply` and return true, or return false
    /// for "no such module" (the send then throws HVOException). Without an
    /// answer every waiting send throws.
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
    std::vector<Sent> commands() const;
    std::vector<Reply> responses() const;
    std::vector<Log> logs() const;

    /// Hands `command`'s text, as received, to the process's command
    /// interface on the calling thread; returns handleCommand's result.
    bool deliverCommand(CommandData& command);
    /// Hands `reply`, as received, to handleCommandResponse.
    void deliverResponse(CommandResult& reply);
    /// Calls the health-check interface; false without one.
    bool deliverHealthCheck();

    // Used by the broker.
    static TestPeer* current();
    static bool brokerAvailable();
    void onSendCommand(CommandData& command, CommandResult* result);
    void onSendResponse(CommandResult& result);
    void onLog(int sender, const std::wstring& component, int type, int level, const std::wstring& message,
               const std::wstring& detail, bool formatted);

private:
    mutable std::mutex m_mutex;
    bool m_available = true;
    Answer m_answer;
    std::vector<Sent> m_commands;
    std::vector<Reply> m_responses;
    std::vector<Log> m_logs;
};

} // namespace HVO
