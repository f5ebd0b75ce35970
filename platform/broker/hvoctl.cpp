// hvoctl: a test client of the command broker.
//
//   hvoctl ping [--wait S]
//   hvoctl modules | log | health ID
//   hvoctl send --to ID --cmd N [--payload-text FILE] [--timeout S] [--no-wait]
//       exit 0: reply with both flags true; 1: a flag false; 2: exception
//   hvoctl serve --as ID [--answer MODE] [--delay S] [--reply-file FILE]
//       MODE: allow deny allow-net always-allow always-deny incomplete none
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <clocale>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "AppProtRecords.h"
#include "FileIO.h"
#include "Frame.h"
#include "HVOCommBroker.h"
#include "LogFormat.h"
#include "ReportRecords.h"

namespace {

const char* kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";

int usage()
{
    std::fprintf(stderr,
                 "usage: hvoctl ping [--wait S] | modules | log | health ID\n"
                 "       hvoctl send --to ID --cmd N [--payload-text FILE] [--timeout S] [--no-wait]\n"
                 "       hvoctl serve --as ID [--answer MODE] [--delay S] [--reply-file FILE]\n");
    return 2;
}

/// A raw hub connection for the control requests.
int connectHub()
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, kSocket);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

bool writeAll(int fd, const std::vector<uint8_t>& frame)
{
    return wardfile::writeAll(fd, frame.data(), frame.size()) == 0;
}

/// Waits for one CONTROL frame with op `want`; its fields after the op.
bool readControl(int fd, uint8_t want, std::vector<uint8_t>& body, int timeoutMs)
{
    hvoframe::Assembler frames;
    hvoframe::Span frame;
    uint8_t buf[65536];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (frames.next(frame) == hvoframe::Assembler::FRAME)
            if (frame.size >= 2 && frame.data[0] == hvoframe::CONTROL && frame.data[1] == want) {
                body.assign(frame.data, frame.data + frame.size);
                return true;
            }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return false;
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        frames.append(buf, static_cast<size_t>(n));
    }
}

std::string narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());
}

int cmdPing(int argc, char** argv)
{
    double wait = 0;
    for (int i = 0; i < argc; ++i)
        if (std::string(argv[i]) == "--wait" && i + 1 < argc)
            wait = std::atof(argv[++i]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(wait * 1000));
    for (;;) {
        int fd = connectHub();
        if (fd >= 0) {
            std::vector<uint8_t> body;
            bool ok = writeAll(fd, hvoframe::Writer(hvoframe::CONTROL).u8(hvoframe::PING).finish()) &&
                      readControl(fd, hvoframe::PONG, body, 2000);
            close(fd);
            if (ok) {
                std::puts("pong");
                return 0;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "hvoctl: hvod does not answer\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int cmdControl(uint8_t op, uint8_t answer, int moduleId)
{
    int fd = connectHub();
    if (fd < 0) {
        std::fprintf(stderr, "hvoctl: hvod does not answer\n");
        return 2;
    }
    hvoframe::Writer w(hvoframe::CONTROL);
    w.u8(op);
    if (op == hvoframe::HEALTH_REQUEST)
        w.i32(moduleId);
    std::vector<uint8_t> body;
    bool ok = writeAll(fd, w.finish()) && readControl(fd, answer, body, 30000);
    close(fd);
    if (!ok) {
        std::fprintf(stderr, "hvoctl: no answer from hvod\n");
        return 2;
    }
    hvoframe::Reader r(body.data() + 2, body.size() - 2);
    if (answer == hvoframe::HEALTH_RESULT) {
        r.i32();
        uint8_t result = r.u8();
        std::puts(result == 1 ? "true" : result == 0 ? "false" : "no such module");
        return result == 1 ? 0 : result == 0 ? 1 : 2;
    }
    std::string text = narrow(r.text());
    if (answer == hvoframe::LOG_PATH_ANSWER) {
        std::ifstream f(text, std::ios::binary);
        std::cout << f.rdbuf();
        return 0;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

std::wstring readUtf8File(const std::string& path, bool& ok)
{
    // A text longer than a frame could not be sent.
    std::string bytes;
    ok = wardfile::readFile(path, bytes, hvoframe::kMaxFrame) == 0;
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.pop_back();
    return HVO::detail::decodeUtf8Escaped(bytes);
}

/// UTF-8 of a wide text, for printing.
std::string utf8(const std::wstring& w)
{
    std::string out;
    for (wchar_t wc : w) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

void printReply(const HVO::CommandResult& r)
{
    auto h = r.getBasicCommandData();
    std::printf("command %d module %d status %s completed %s\n", h.getCommandId(), h.getDestinationId(),
                r.getCommandStatus() ? "true" : "false", r.getCommandCompleted() ? "true" : "false");
    std::wstring text = HVO::PayloadAccess::inputText(r);
    if (!text.empty())
        std::printf("%s\n", utf8(text).c_str());
    std::fflush(stdout);
}

/// Collects the one reply of a send without a result object.
struct ReplyCatcher : HVO::CommandInterface {
    std::mutex m;
    std::condition_variable cv;
    bool got = false;
    bool ok = false;
    bool handleCommand(HVO::CommandData&) override { return false; }
    void handleCommandResponse(HVO::CommandResult& r) override
    {
        printReply(r);
        std::lock_guard<std::mutex> lock(m);
        got = true;
        ok = r.getCommandStatus() && r.getCommandCompleted();
        cv.notify_all();
    }
};

int cmdSend(int argc, char** argv)
{
    int to = -1, cmd = -1, timeout = 45;
    bool wait = true;
    std::string payloadFile;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--to" && i + 1 < argc)
            to = std::atoi(argv[++i]);
        else if (a == "--cmd" && i + 1 < argc)
            cmd = std::atoi(argv[++i]);
        else if (a == "--payload-text" && i + 1 < argc)
            payloadFile = argv[++i];
        else if (a == "--timeout" && i + 1 < argc)
            timeout = std::atoi(argv[++i]);
        else if (a == "--no-wait")
            wait = false;
        else
            return usage();
    }
    if (to < 0 || cmd < 0)
        return usage();
    ReplyCatcher catcher;
    int rc = 2;
    try {
        HVO::HVOCommBroker* b = HVO::HVOCommBroker::getInstance(kSocket);
        b->setCommandInterface(&catcher);
        HVO::CommandData command(cmd, to, false);
        if (!payloadFile.empty()) {
            bool ok = false;
            std::wstring text = readUtf8File(payloadFile, ok);
            if (!ok) {
                std::fprintf(stderr, "hvoctl: cannot read %s\n", payloadFile.c_str());
                return 2;
            }
            HVO::PayloadAccess::setOutputText(command, text);
        }
        if (wait) {
            HVO::CommandResult result;
            b->sendCommand(command, &result, true, timeout);
            printReply(result);
            rc = result.getCommandStatus() && result.getCommandCompleted() ? 0 : 1;
        } else {
            b->sendCommand(command, nullptr, false, timeout);
            std::unique_lock<std::mutex> lock(catcher.m);
            if (catcher.cv.wait_for(lock, std::chrono::seconds(timeout > 0 ? timeout : 45), [&] { return catcher.got; }))
                rc = catcher.ok ? 0 : 1;
            else
                std::fprintf(stderr, "hvoctl: no reply\n");
        }
    } catch (const HVO::HVOException& e) {
        std::fprintf(stderr, "hvoctl: %s\n", e.getExceptionMsg().c_str());
        rc = 2;
    }
    HVO::HVOCommBroker::releaseInstance();
    return rc;
}

std::string jsonText(const std::wstring& w)
{
    return "\"" + hvoframe::jsonEscape(w) + "\"";
}

std::string jsonBytes(const std::string& s)
{
    return jsonText(HVO::detail::decodeUtf8Escaped(s));
}

const char* actionName(boost::logic::tribool t)
{
    return t ? "true" : (!t ? "false" : "indeterminate");
}

class Server : public HVO::CommandInterface, public HVO::LogInterface {
public:
    Server(std::string mode, int delay, FILE* out) : m_mode(std::move(mode)), m_delay(delay), m_out(out) {}

    bool handleCommand(HVO::CommandData& command) override
    {
        std::string line = "{\"command\":" + std::to_string(command.getCommandId()) +
                           ",\"sender\":" + std::to_string(command.getBrokerWord2()) +
                           ",\"thread\":" + std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()) % 1000000);
        std::wstring text = HVO::PayloadAccess::inputText(command);
        line += ",\"text\":" + jsonText(text);
        AppProtection::AppProtAlert alert;
        bool haveAlert = false;
        if (command.getCommandId() == 60000 || command.getCommandId() == 60001) {
            try {
                ReporterData rep;
                command.getCustomData(rep);
                line += ",\"reporter\":{\"hvkId\":" + std::to_string(rep.getHvkId()) +
                        ",\"alertType\":" + std::to_string(rep.getAlertType()) + "}";
                rep.getAlertCustomData(alert);
                haveAlert = true;
                char addr[INET_ADDRSTRLEN] = "";
                sockaddr_in sa = alert.getSockAddr();
                inet_ntop(AF_INET, &sa.sin_addr, addr, sizeof addr);
                line += ",\"alert\":{\"appName\":" + jsonBytes(alert.getAppName()) +
                        ",\"operation\":" + std::to_string(alert.getOperation()) + ",\"action\":\"" +
                        actionName(alert.getAction()) + "\",\"port\":" + std::to_string(sa.sin_port) +
                        ",\"address\":\"" + addr + "\",\"protocol\":" + std::to_string(alert.getNWProtocol()) +
                        ",\"timeout\":" + std::to_string(alert.getTimeout()) +
                        ",\"cookie\":" + std::to_string(alert.getCookie()) +
                        ",\"always\":" + (alert.getAlways() ? "true" : "false") +
                        ",\"allowNetwork\":" + (alert.getAllowNetwork() ? "true" : "false") + "}";
            } catch (const std::exception& e) {
                line += ",\"error\":" + jsonBytes(e.what());
            }
        }
        record(line + "}");
        if (m_mode == "none")
            return true;
        if (m_delay > 0)
            std::this_thread::sleep_for(std::chrono::seconds(m_delay));
        HVO::CommandResult reply;
        reply.setBasicCommandData(command);
        if (m_mode == "incomplete")
            reply.setCommandCompleted(false);
        if (command.getCommandId() == 60001 && haveAlert) {
            alert.setAction(m_mode == "allow" || m_mode == "allow-net" || m_mode == "always-allow" ||
                            m_mode == "incomplete");
            alert.setAllowNetwork(m_mode == "allow-net");
            alert.setAlways(m_mode == "always-allow" || m_mode == "always-deny");
            ReporterData answer;
            answer.setHvkId(102);
            answer.setAlertType(ALERT_TYPE_ALERT);
            answer.setAlertCustomData(alert);
            reply.setCustomData(answer);
        }
        HVO::HVOCommBroker::getInstance(kSocket)->sendCommandResponse(reply);
        return true;
    }

    void handleCommandResponse(HVO::CommandResult& r) override { printReply(r); }

    void handleLog(HVO::LogRequest& rec) override
    {
        record("{\"log\":{\"sender\":" + std::to_string(rec.getSender()) +
               ",\"type\":" + std::to_string(rec.getLogType()) + ",\"level\":" + std::to_string(rec.getLogLevel()) +
               ",\"message\":" + jsonText(rec.getMessage()) + ",\"detail\":" + jsonText(rec.getDetailMessage()) +
               "}}");
    }

private:
    void record(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
    }
    std::string m_mode;
    int m_delay;
    FILE* m_out;
    std::mutex m_mutex;
};

HVO::HVOCommBroker* g_broker = nullptr;

void onTerm(int)
{
    if (g_broker)
        g_broker->stop();
}

int cmdServe(int argc, char** argv)
{
    int as = -1, delay = 0;
    std::string mode = "allow", replyFile;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--as" && i + 1 < argc)
            as = std::atoi(argv[++i]);
        else if (a == "--answer" && i + 1 < argc)
            mode = argv[++i];
        else if (a == "--delay" && i + 1 < argc)
            delay = std::atoi(argv[++i]);
        else if (a == "--reply-file" && i + 1 < argc)
            replyFile = argv[++i];
        else
            return usage();
    }
    const char* modes[] = {"allow", "deny", "allow-net", "always-allow", "always-deny", "incomplete", "none"};
    bool known = false;
    for (const char* m : modes)
        known = known || mode == m;
    if (as < 0 || !known)
        return usage();
    FILE* out = stdout;
    if (!replyFile.empty() && (out = std::fopen(replyFile.c_str(), "a")) == nullptr) {
        std::fprintf(stderr, "hvoctl: cannot open %s\n", replyFile.c_str());
        return 2;
    }
    Server server(mode, delay, out);
    int rc = 0;
    try {
        g_broker = HVO::HVOCommBroker::getInstance(kSocket);
        g_broker->setHVKId(as);
        g_broker->setCommandInterface(&server);
        g_broker->setLogInterface(&server);
        struct sigaction sa {};
        sa.sa_handler = onTerm;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        g_broker->start(false);
    } catch (const HVO::HVOException& e) {
        std::fprintf(stderr, "hvoctl: %s\n", e.getExceptionMsg().c_str());
        rc = 2;
    }
    HVO::HVOCommBroker::releaseInstance();
    if (out != stdout)
        std::fclose(out);
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    // A hub that hangs up fails the write (EPIPE) instead of ending hvoctl.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        return usage();
    std::string cmd = argv[1];
    if (cmd == "ping")
        return cmdPing(argc - 2, argv + 2);
    if (cmd == "modules")
        return cmdControl(hvoframe::MODULES, hvoframe::MODULES_ANSWER, 0);
    if (cmd == "log")
        return cmdControl(hvoframe::LOG_PATH, hvoframe::LOG_PATH_ANSWER, 0);
    if (cmd == "health" && argc == 3)
        return cmdControl(hvoframe::HEALTH_REQUEST, hvoframe::HEALTH_RESULT, std::atoi(argv[2]));
    if (cmd == "send")
        return cmdSend(argc - 2, argv + 2);
    if (cmd == "serve")
        return cmdServe(argc - 2, argv + 2);
    return usage();
}
