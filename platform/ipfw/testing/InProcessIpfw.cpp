#include "InProcessIpfw.h"

#include <cerrno>
#include <unistd.h>

#include "FileIO.h"
#include "IpfwTool.h"

namespace ipfwtest {

namespace {

bool writeAll(int fd, const std::string& text)
{
    return wardfile::writeAll(fd, text.data(), text.size()) == 0;
}

bool startsWith(const std::string& s, const char* prefix, std::string& rest)
{
    std::string p(prefix);
    if (s.compare(0, p.size(), p) != 0)
        return false;
    rest = s.substr(p.size());
    return true;
}

} // namespace

InProcessIpfw::InProcessIpfw() : m_replaced(ipfw::setRunner(this)) {}

InProcessIpfw::~InProcessIpfw()
{
    ipfw::setRunner(m_replaced);
}

void InProcessIpfw::script(const std::vector<std::string>& lines)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script.insert(m_script.end(), lines.begin(), lines.end());
}

void InProcessIpfw::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_script.clear();
    m_calls.clear();
}

std::vector<std::vector<std::string>> InProcessIpfw::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<std::string> InProcessIpfw::callLines() const
{
    std::vector<std::string> out;
    for (const auto& words : calls()) {
        std::string line;
        for (const std::string& w : words)
            line += (line.empty() ? "" : " ") + w;
        out.push_back(line);
    }
    return out;
}

pid_t InProcessIpfw::spawn(const std::vector<std::string>& args, int outFd)
{
    if (args.empty() || args[0] != "ipfw") {
        errno = ENOENT;
        return -1;
    }
    std::vector<std::string> words(args.begin() + 1, args.end());
    std::string line;
    pid_t pid;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(words);
        if (!m_script.empty()) {
            line = m_script.front();
            m_script.pop_front();
        }
        pid = m_nextPid++;
    }
    std::string text;
    ipfw::ToolResult r;
    std::lock_guard<std::mutex> tool(m_toolMutex);
    if (startsWith(line, "exit ", text)) {
        r.status = std::stoi(text) & 0xff;
    } else if (startsWith(line, "print ", text)) {
        r = ipfw::runTool(words);
        r.out = text + "\n";
        r.err.clear();
    } else {
        std::string echoed;
        if (startsWith(line, "echo ", text))
            echoed = text + "\n";
        r = ipfw::runTool(words);
        r.out = echoed + r.out;
    }
    if (!writeAll(outFd, r.out) || !writeAll(outFd, r.err))
        return -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statuses[pid] = r.status << 8;
    return pid;
}

int InProcessIpfw::wait(pid_t child, int& status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_statuses.find(child);
    if (it == m_statuses.end()) {
        errno = ECHILD;
        return -1;
    }
    status = it->second;
    m_statuses.erase(it);
    return 0;
}

} // namespace ipfwtest
