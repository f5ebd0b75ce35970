#import "PaneSupport.h"

#include <mutex>

namespace fwptest {

namespace {

std::mutex g_logMutex;
std::vector<std::string> g_lines;
NSLog_printf_handler *g_previous = nullptr;

void collect(NSString *message)
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::string line = [message UTF8String] ? [message UTF8String] : "";
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    g_lines.push_back(line);
}

} // namespace

LogCapture::LogCapture()
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_lines.clear();
    g_previous = _NSLog_printf_handler;
    _NSLog_printf_handler = collect;
}

LogCapture::~LogCapture()
{
    _NSLog_printf_handler = g_previous;
}

std::vector<std::string> LogCapture::lines() const
{
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::vector<std::string> out;
    // NSLog's handler gets the whole line: date, process, then the text.
    for (const std::string &l : g_lines) {
        size_t p = l.find("] ");
        out.push_back(p == std::string::npos ? l : l.substr(p + 2));
    }
    return out;
}

FakeService::FakeService()
{
    peer.setAnswer([this](HVO::CommandData &request, HVO::CommandResult &reply) {
        if (request.getDestinationId() != FIREWALL_SERVICE_HVK_ID)
            return false;
        auto it = m_replies.find(request.getCommandId());
        if (it == m_replies.end())
            return true; // a bare true reply
        return it->second(request, reply);
    });
}

void FakeService::on(int commandId, Reply reply)
{
    m_replies[commandId] = std::move(reply);
}

void FakeService::fail(int commandId, const int *code)
{
    int value = code ? *code : 0;
    bool withCode = code != nullptr;
    on(commandId, [=](HVO::CommandData &, HVO::CommandResult &r) mutable {
        r.setCommandStatus(false);
        if (withCode)
            r.setCustomData(value);
        return true;
    });
}

std::vector<int> FakeService::ids()
{
    std::vector<int> out;
    auto sent = peer.commands();
    for (size_t i = m_base; i < sent.size(); ++i)
        out.push_back(sent[i].header.getCommandId());
    return out;
}

std::wstring FakeService::text(int commandId, size_t n)
{
    auto sent = peer.commands();
    for (size_t i = m_base; i < sent.size(); ++i)
        if (sent[i].header.getCommandId() == commandId && n-- == 0)
            return sent[i].text;
    return L"<not sent>";
}

void FakeService::clear()
{
    m_base = peer.commands().size();
}

std::string utf8(NSString *s)
{
    return s == nil ? "(nil)" : std::string([s UTF8String]);
}

NSString *ns(const std::string &s)
{
    return [NSString stringWithUTF8String:s.c_str()];
}

} // namespace fwptest
