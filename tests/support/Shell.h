// Runs a shell command of the test's own making (the machine's tools are the
// oracles) and hands back its standard output and exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace wardtest {

struct ShellResult {
    int status;      // exit status, -1 when it did not exit normally
    std::string out; // standard output
};

inline ShellResult runShell(const std::string& command)
{
    ShellResult r{-1, ""};
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

/// Standard output only.
inline std::string shellOutput(const std::string& command) { return runShell(command).out; }

} // namespace wardtest
