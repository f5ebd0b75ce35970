#include "HVOTestPeer.h"

#include <atomic>

#include "HVOCommBroker.h"

namespace HVO {

namespace {
std::atomic<TestPeer*> s_peer{nullptr};

template <class Envelope> void receive(Envelope& to, const SerializedData& from)
{
    if (PayloadAccess::hasData(from))
        PayloadAccess::setInput(to, PayloadAccess::outputText(from));
}
} // namespace

TestPeer::TestPeer()
{
    TestPeer* expected = nullptr;
    if (!s_peer.compare_exchange_strong(expected, this))
        throw HVOException("a test peer is already installed");
}

TestPeer::~TestPeer()
{
    s_peer.store(nullptr);
}

TestPeer* TestPeer::current()
{
    return s_peer.load();
}

bool TestPeer::brokerAvailable()
{
    TestPeer* p = s_peer.load();
    if (p == nullptr)
        return true;
    std::lock_guard<std::mutex> lock(p->m_mutex);
    return p->m_available;
}

void TestPeer::setBrokerAvailable(bool available)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_available = available;
}

void TestPeer::setAnswer(Answer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
}

std::vector<TestPeer::Sent> TestPeer::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::vector<TestPeer::Reply> TestPeer::responses() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_responses;
}

std::vector<TestPeer::Log> TestPeer::logs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logs;
}

void TestPeer::onSendCommand(CommandData& command, CommandResult* result)
{
    Answer answer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push_back({command, result != nullptr, PayloadAccess::hasData(command),
                              PayloadAccess::outputText(command)});
        answer = m_answer;
    }
    if (result == nullptr)
        return;
    CommandData received(command.getCommandId(), command.getDestinationId(), command.getCommandFlag());
    PayloadAccess::setHeader(received, command.getCommandId(), command.getBrokerWord1(), command.getBrokerWord2(),
                             command.getDestinationId(), command.getCommandFlag(), command.getBrokerWord3());
    receive(received, command);
    CommandResult reply;
    reply.setBasicCommandData(received);
    if (!answer || !answer(received, reply))
        throw HVOException("no module " + std::to_string(command.getDestinationId()) + " registered with hvod");
    result->setBasicCommandData(reply.getBasicCommandData());
    result->setCommandStatus(reply.getCommandStatus());
    result->setCommandCompleted(reply.getCommandCompleted());
    receive(*result, reply);
}

void TestPeer::onSendResponse(CommandResult& result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responses.push_back({result.getBasicCommandData(), result.getCommandStatus(), result.getCommandCompleted(),
                           PayloadAccess::hasData(result), PayloadAccess::outputText(result)});
}

void TestPeer::onLog(int sender, const std::wstring& component, int type, int level, const std::wstring& message,
                     const std::wstring& detail, bool formatted)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logs.push_back({sender, component, type, level, message, detail, formatted});
}

bool TestPeer::deliverCommand(CommandData& command)
{
    HVOCommBroker* b = HVOCommBroker::existing();
    CommandInterface* h = b ? b->m_commandHandler.load() : nullptr;
    if (h == nullptr)
        return false;
    CommandData received(command.getCommandId(), command.getDestinationId(), command.getCommandFlag());
    PayloadAccess::setHeader(received, command.getCommandId(), command.getBrokerWord1(), command.getBrokerWord2(),
                             command.getDestinationId(), command.getCommandFlag(), command.getBrokerWord3());
    receive(received, command);
    return h->handleCommand(received);
}

void TestPeer::deliverResponse(CommandResult& reply)
{
    HVOCommBroker* b = HVOCommBroker::existing();
    CommandInterface* h = b ? b->m_commandHandler.load() : nullptr;
    if (h == nullptr)
        return;
    CommandResult received;
    received.setBasicCommandData(reply.getBasicCommandData());
    received.setCommandStatus(reply.getCommandStatus());
    received.setCommandCompleted(reply.getCommandCompleted());
    receive(received, reply);
    h->handleCommandResponse(received);
}

bool TestPeer::deliverHealthCheck()
{
    HVOCommBroker* b = HVOCommBroker::existing();
    HealthCheckInterface* h = b ? b->m_healthHandler.load() : nullptr;
    return h != nullptr && h->handleHealthCheck();
}

} // namespace HVO
