// ipfw: the Linux stand-in for the packet filter's command-line tool.
//
// Accepts the add and delete command lines the firewall engine builds,
// compiles each rule into the kernel's record layout and keeps the kernel's
// list in the state folder, so that the rule reader gets back exactly what a
// kernel would hold. Exit statuses follow sysexits as the real tool's do.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sysexits.h>
#include <unistd.h>
#include <vector>

#include "IpfwState.h"
#include "IpfwTool.h"

namespace {

int complain(int status, const std::string& message)
{
    std::fprintf(stderr, "ipfw: %s\n", message.c_str());
    return status;
}

void writeOut(const std::string& s)
{
    std::fwrite(s.data(), 1, s.size(), stdout);
}

/// Test hook: the next run takes inject from the state folder and acts on it
/// before anything else. Taking is a rename, so one run only gets it.
/// Returns -1 to go on, or an exit status.
int runInjection()
{
    std::string taken = std::string(ipfw::kInjectFile) + ".taken." + std::to_string(::getpid());
    if (::rename(ipfw::kInjectFile, taken.c_str()) != 0)
        return -1;
    std::vector<uint8_t> bytes;
    int e = ipfw::readWholeFile(taken, bytes, 256);
    ::unlink(taken.c_str());
    if (e != 0)
        return complain(EX_OSERR, "inject: " + std::string(std::strerror(e)));
    std::string text(bytes.begin(), bytes.end());
    char word[32] = {0};
    unsigned long long n = 0;
    int got = std::sscanf(text.c_str(), "%31s %llu", word, &n);
    std::string what = got >= 1 ? word : "";
    if (what == "exit" && got == 2) {
        std::fprintf(stderr, "ipfw: injected exit %llu\n", n);
        return static_cast<int>(n & 0xff);
    }
    if (what == "signal") {
        std::fflush(stdout);
        ::kill(::getpid(), SIGKILL);
        return EX_OSERR;
    }
    if (what == "flood" && got == 2) {
        // n bytes of 64-byte lines; the last one shorter.
        std::string line(63, 'f');
        line += '\n';
        unsigned long long left = n;
        while (left >= line.size()) {
            writeOut(line);
            left -= line.size();
        }
        if (left > 0)
            writeOut(std::string(static_cast<size_t>(left - 1), 'f') + "\n");
        return -1;
    }
    if (what == "line" && got == 2) {
        writeOut(std::string(static_cast<size_t>(n), 'l') + "\n");
        return -1;
    }
    if (what == "sleep" && got == 2) {
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(n);
        ts.tv_nsec = 0;
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        return -1;
    }
    return complain(EX_OSERR, "inject: cannot read \"" + text + "\"");
}

} // namespace

int main(int argc, char** argv)
{
    int injected = runInjection();
    if (injected >= 0)
        return injected;
    ipfw::ToolResult r = ipfw::runTool(std::vector<std::string>(argv + 1, argv + argc));
    std::fwrite(r.err.data(), 1, r.err.size(), stderr);
    writeOut(r.out);
    int status = r.status;
    if (std::fflush(stdout) != 0 && status == EX_OK)
        status = EX_IOERR;
    return status;
}
