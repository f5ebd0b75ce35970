// agentctl: plays the management console against the agent's control socket.
//
//   agentctl status [--wait S]
//   agentctl policy [--name N] [--timeout S] FILE|-   (section<TAB>key<TAB>value lines)
//   agentctl collect [--all 0|1] [--timeout S]
//   agentctl log CATEGORY TEXT
//   agentctl counts
//
// Exit status: 0 true, 1 false, 2 the service threw (its message printed),
// 3 no agent or no such service, 4 time-out or socket error, 64 bad usage.
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "AgentWire.h"

namespace {

constexpr int kExitUsage = 64;

int usage()
{
    std::fprintf(stderr, "usage: agentctl status [--wait S] | policy [--name N] [--timeout S] FILE|- |\n"
                         "       collect [--all 0|1] [--timeout S] | log CATEGORY TEXT | counts\n");
    return kExitUsage;
}

/// A whole decimal number; false for anything else.
bool parseLong(const char* text, long& out)
{
    if (text == nullptr || *text == '\0')
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0')
        return false;
    out = v;
    return true;
}

enum class Connect { Ok, NoAgent, Error };

Connect connectOnce(int& fd)
{
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Connect::Error;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, agentwire::kSocketPath, sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return Connect::Ok;
    const int err = errno;
    ::close(fd);
    fd = -1;
    return (err == ENOENT || err == ECONNREFUSED) ? Connect::NoAgent : Connect::Error;
}

/// Connects, retrying for `waitSeconds` while there is no agent.
Connect connectAgent(int& fd, long waitSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    for (;;) {
        const Connect c = connectOnce(fd);
        if (c != Connect::NoAgent || std::chrono::steady_clock::now() >= deadline)
            return c;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

/// Sends one request and reads its answer; an exit status on failure.
int exchange(const std::vector<uint8_t>& request, std::vector<uint8_t>& answer, long timeoutSeconds,
             long waitSeconds = 0)
{
    int fd = -1;
    switch (connectAgent(fd, waitSeconds)) {
    case Connect::Ok:
        break;
    case Connect::NoAgent:
        std::fprintf(stderr, "agentctl: no agent\n");
        return agentwire::OUT_NO_SERVICE;
    case Connect::Error:
        std::fprintf(stderr, "agentctl: cannot connect: %s\n", std::strerror(errno));
        return agentwire::OUT_TIMEOUT;
    }
    timeval tv{timeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (!agentwire::sendAll(fd, request)) {
        std::fprintf(stderr, "agentctl: could not send the request\n");
        ::close(fd);
        return agentwire::OUT_TIMEOUT;
    }
    const agentwire::ReadResult r = agentwire::readFrame(fd, answer);
    const int err = errno;
    ::close(fd);
    if (r != agentwire::ReadResult::Frame || answer.empty() || answer[0] != request[4]) {
        if (err == EAGAIN || err == EWOULDBLOCK)
            std::fprintf(stderr, "agentctl: no answer within %ld s\n", timeoutSeconds);
        else
            std::fprintf(stderr, "agentctl: the agent closed the connection\n");
        return agentwire::OUT_TIMEOUT;
    }
    return -1;
}

const char* stateName(uint8_t s)
{
    switch (s) {
    case agentwire::REGISTERED:
        return "registered";
    case agentwire::REFUSED:
        return "refused";
    default:
        return "never offered";
    }
}

/// Prints an outcome and returns it as the exit status.
int finishOutcome(uint8_t outcome, const std::string& message, bool printResult)
{
    switch (outcome) {
    case agentwire::OUT_TRUE:
    case agentwire::OUT_FALSE:
        if (printResult)
            std::printf("%s\n", outcome == agentwire::OUT_TRUE ? "true" : "false");
        return outcome == agentwire::OUT_TRUE ? 0 : 1;
    case agentwire::OUT_THREW:
        std::printf("%s\n", message.c_str());
        return 2;
    default:
        std::fprintf(stderr, "agentctl: %s\n", message.c_str());
        return outcome <= agentwire::OUT_TIMEOUT ? static_cast<int>(outcome) : static_cast<int>(agentwire::OUT_TIMEOUT);
    }
}

int finishOutcome(agentwire::Reader& in, bool printResult)
{
    const uint8_t outcome = in.u8();
    const std::string message = in.text();
    if (!in.ok())
        return agentwire::OUT_TIMEOUT;
    return finishOutcome(outcome, message, printResult);
}

int cmdStatus(int argc, char** argv)
{
    long wait = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc && parseLong(argv[i + 1], wait) && wait >= 0)
            ++i;
        else
            return usage();
    }
    std::vector<uint8_t> answer;
    const int rc = exchange(agentwire::Writer(agentwire::STATUS).finish(), answer, 30, wait);
    if (rc >= 0)
        return rc;
    agentwire::Reader in(answer.data() + 1, answer.size() - 1);
    const std::string software = in.text(), agent = in.text(), pid = in.text(), access = in.text(),
                      logdir = in.text();
    const uint8_t property = in.u8(), policy = in.u8();
    if (!in.ok())
        return agentwire::OUT_TIMEOUT;
    std::printf("software %s\nagent %s\npid %s\naccess %s\nlogdir %s\nproperty %s\npolicy %s\n", software.c_str(),
                agent.c_str(), pid.c_str(), access.c_str(), logdir.c_str(), stateName(property), stateName(policy));
    return 0;
}

int cmdPolicy(int argc, char** argv)
{
    std::string name;
    long timeout = 30;
    const char* file = nullptr;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc)
            name = argv[++i];
        else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc && parseLong(argv[i + 1], timeout)
                 && timeout > 0)
            ++i;
        else if (file == nullptr)
            file = argv[i];
        else
            return usage();
    }
    if (file == nullptr)
        return usage();
    std::string text;
    if (std::strcmp(file, "-") == 0) {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "agentctl: cannot read %s\n", file);
            return kExitUsage;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    struct Line {
        std::string section, key, value;
    };
    std::vector<Line> lines;
    std::istringstream stream(text);
    std::string line;
    int number = 0;
    while (std::getline(stream, line)) {
        ++number;
        if (line.empty())
            continue;
        const size_t a = line.find('\t');
        const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        std::wstring check;
        if (b == std::string::npos || !agentwire::fromUtf8(line, check)) {
            std::fprintf(stderr, "agentctl: line %d is not section<TAB>key<TAB>value in UTF-8\n", number);
            return kExitUsage;
        }
        lines.push_back(Line{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    agentwire::Writer w(agentwire::POLICY);
    w.text(name).u32(static_cast<uint32_t>(lines.size()));
    for (const Line& l : lines)
        w.text(l.section).text(l.key).text(l.value);
    const std::vector<uint8_t> request = w.finish();
    if (request.empty()) {
        std::fprintf(stderr, "agentctl: the policy exceeds a frame\n");
        return kExitUsage;
    }
    std::vector<uint8_t> answer;
    const int rc = exchange(request, answer, timeout);
    if (rc >= 0)
        return rc;
    agentwire::Reader in(answer.data() + 1, answer.size() - 1);
    return finishOutcome(in, true);
}

int cmdCollect(int argc, char** argv)
{
    long all = 1, timeout = 30;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--all") == 0 && i + 1 < argc && parseLong(argv[i + 1], all)
            && (all == 0 || all == 1))
            ++i;
        else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc && parseLong(argv[i + 1], timeout)
                 && timeout > 0)
            ++i;
        else
            return usage();
    }
    std::vector<uint8_t> answer;
    const int rc = exchange(agentwire::Writer(agentwire::COLLECT).u8(static_cast<uint8_t>(all)).finish(), answer,
                            timeout);
    if (rc >= 0)
        return rc;
    agentwire::Reader in(answer.data() + 1, answer.size() - 1);
    const uint8_t outcome = in.u8();
    const std::string message = in.text();
    const uint32_t n = in.u32();
    std::vector<std::string> rows;
    for (uint32_t i = 0; i < n && in.ok(); ++i) {
        const std::string s = in.text(), k = in.text(), v = in.text();
        rows.push_back(s + "\t" + k + "\t" + v);
    }
    if (!in.ok())
        return agentwire::OUT_TIMEOUT;
    for (const std::string& r : rows)
        std::printf("%s\n", r.c_str());
    return finishOutcome(outcome, message, true);
}

int cmdLog(int argc, char** argv)
{
    long category = 0;
    if (argc != 2 || !parseLong(argv[0], category) || category < INT32_MIN || category > INT32_MAX)
        return usage();
    std::wstring text;
    if (!agentwire::fromUtf8(argv[1], text)) {
        std::fprintf(stderr, "agentctl: the text is not UTF-8\n");
        return kExitUsage;
    }
    std::vector<uint8_t> answer;
    const int rc = exchange(
        agentwire::Writer(agentwire::LOG).u32(static_cast<uint32_t>(static_cast<int32_t>(category))).text(argv[1]).finish(),
        answer, 30);
    if (rc >= 0)
        return rc;
    agentwire::Reader in(answer.data() + 1, answer.size() - 1);
    return finishOutcome(in, false);
}

int cmdCounts(int argc, char**)
{
    if (argc != 0)
        return usage();
    std::vector<uint8_t> answer;
    const int rc = exchange(agentwire::Writer(agentwire::COUNTS).finish(), answer, 30);
    if (rc >= 0)
        return rc;
    agentwire::Reader in(answer.data() + 1, answer.size() - 1);
    const uint32_t reloads = in.u32(), unloads = in.u32();
    if (!in.ok())
        return agentwire::OUT_TIMEOUT;
    std::printf("reload %u\nunload %u\n", reloads, unloads);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (argc < 2)
        return usage();
    const std::string cmd = argv[1];
    if (cmd == "status")
        return cmdStatus(argc - 2, argv + 2);
    if (cmd == "policy")
        return cmdPolicy(argc - 2, argv + 2);
    if (cmd == "collect")
        return cmdCollect(argc - 2, argv + 2);
    if (cmd == "log")
        return cmdLog(argc - 2, argv + 2);
    if (cmd == "counts")
        return cmdCounts(argc - 2, argv + 2);
    return usage();
}
