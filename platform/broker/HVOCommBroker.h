// The command broker client: moves command envelopes and log records
// between this process and the hub `hvod` on a local socket.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <boost/logic/tribool.hpp>

#include "CommandData.h"
#include "LogRequest.h"

namespace hvoframe {
struct Span;
}

namespace HVO {

/// What every broker operation may throw.
class HVOException : public std::exception {
public:
    explicit HVOException(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }
    std::string getExceptionMsg() const { return m_message; }

private:
    std::string m_message;
};

class HVOInterface {
public:
    virtual ~HVOInterface() = default;
};

class CommandInterface : public HVOInterface {
public:
    ~CommandInterface() override = default;
    /// A command addressed to this module, on a dispatcher thread. The
    /// envelope lives only for the call. Return false without answering (or
    /// throw) and the sender gets a failure reply.
    virtual bool handleCommand(CommandData& command) = 0;
    /// The reply to a command this process sent without a result object.
    virtual void handleCommandResponse(CommandResult& result) = 0;
};

class HealthCheckInterface : public HVOInterface {
public:
    ~HealthCheckInterface() override = default;
    virtual bool handleHealthCheck() = 0;
};

/// Log records the hub passes on to module 102.
class LogInterface : public HVOInterface {
public:
    ~LogInterface() override = default;
    virtual void handleLog(LogRequest& record) = 0;
};

namespace detail {
struct Connection;
struct Waiter;
struct Incoming;
} // namespace detail

class HVOCommBroker {
public:
    /// The process's one broker. Null for an empty path or a path other than
    /// the first one given. An existing broker is found without taking a
    /// lock. The hub is reached (HubConnector.h) when a call first needs it.
    static HVOCommBroker* getInstance(std::string socketPath);
    /// Stops, closes the hub connection, joins the broker's threads (running
    /// handlers finish), fails waiting senders and frees the broker. Does
    /// nothing without a broker. Throws HVOException on a dispatcher thread.
    static void releaseInstance();

    void setHVKId(int id);
    void setCommandInterface(CommandInterface* handler);
    void setHealthCheckInterface(HealthCheckInterface* handler);
    void setLogInterface(LogInterface* handler);

    /// Registers with the hub and keeps registered (retrying every second,
    /// again after a hang-up). false or indeterminate: blocks until stop();
    /// true: returns at once. A second start throws; so does a refusal seen
    /// by a blocking start.
    void start(boost::logic::tribool wait);
    /// Async-signal-safe: one atomic store and one byte to a pipe.
    void stop();

    /// With `result`: waits up to `timeout` seconds (<= 0: 45) and returns
    /// only with the reply in it, else throws. Without: writes one frame and
    /// returns; the reply, or an immediate failure reply, comes to
    /// handleCommandResponse.
    void sendCommand(CommandData& command, CommandResult* result, bool wait, int timeout);
    /// Sends a reply; it carries its request's header.
    void sendCommandResponse(CommandResult& result);
    /// Writes one log record to the hub and returns.
    void sendLog(LogRequest& record);
    /// One formatted log line (HVO_LOG_MSG).
    void sendLogMessage(int sender, const std::wstring& component, int type, int level,
                        const std::wstring& text);

    HVOCommBroker(const HVOCommBroker&) = delete;
    HVOCommBroker& operator=(const HVOCommBroker&) = delete;

private:
    explicit HVOCommBroker(std::string socketPath);
    ~HVOCommBroker();
    static HVOCommBroker* existing();

    std::shared_ptr<detail::Connection> connection();
    std::shared_ptr<detail::Connection> openConnection();
    void writeFrame(detail::Connection& c, const std::vector<uint8_t>& frame);
    void socketLoop(detail::Connection* c);
    void dispatchLoop(detail::Connection* c);
    void connectionLost(detail::Connection& c);
    void handleFrame(detail::Connection& c, const hvoframe::Span& body);
    /// Both take the payload text out of `in`.
    void runCommand(detail::Connection& c, detail::Incoming& in);
    void deliverReply(detail::Incoming& in);
    void keepRegistered(bool blocking);
    bool registerOn(const std::shared_ptr<detail::Connection>& c, bool blocking);
    void reapDeadConnections();
    bool onDispatcherThread();
    void enterCall();
    void leaveCall();
    friend struct CallGuard;

    const std::string m_socketPath;
    int m_selfPipe[2] = {-1, -1};
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_releasing{false};
    std::atomic<int> m_hvkId{-1};
    std::atomic<CommandInterface*> m_commandHandler{nullptr};
    std::atomic<HealthCheckInterface*> m_healthHandler{nullptr};
    std::atomic<LogInterface*> m_logHandler{nullptr};
    std::atomic<uint32_t> m_nextSeq{0};

    std::mutex m_connMutex; // guards m_current, m_dead, m_started, m_keeper
    std::shared_ptr<detail::Connection> m_current;
    std::vector<std::shared_ptr<detail::Connection>> m_dead;
    bool m_started = false;
    std::thread m_keeper;

    std::mutex m_stateMutex; // guards everything below
    std::condition_variable m_stateCv;
    std::map<uint32_t, detail::Waiter*> m_waiters;
    std::map<uint32_t, std::pair<BasicCommandData, detail::Connection*>> m_async;
    std::vector<uint32_t> m_asyncOrder;   // oldest first, may hold answered seqs
    std::vector<uint32_t> m_timedOut;     // newest last, bounded
    std::map<std::tuple<uint32_t, int, int>, bool> m_inflight; // commands being handled: answered?
    int m_activeCalls = 0;
};

/// The framework's trace loader: nothing to load here.
void loadTraceValues(const char* path);

} // namespace HVO

/// One log line: the format is applied here ("%s" takes UTF-8 bytes, an
/// invalid byte b becoming U+DC00+b: U+DC80 to U+DCFF; "%ls" takes a wide text). Throws
/// HVOException when the hub cannot be reached.
void HVO_LOG_MSG(int sender, const wchar_t* component, int type, int level, const wchar_t* format, ...);
