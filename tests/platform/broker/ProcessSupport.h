// Child processes and files for the broker's process tests.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Files.h"

namespace proc {

/// A child process, killed if still running when destroyed.
class Child {
public:
    Child() = default;
    explicit Child(const std::vector<std::string>& argv, const std::string& outPath = "") { start(argv, outPath); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    void start(const std::vector<std::string>& argv, const std::string& outPath = "")
    {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            if (!outPath.empty()) {
                int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
                dup2(fd, 1);
            }
            execv(args[0], args.data());
            _exit(127);
        }
    }

    pid_t pid() const { return m_pid; }
    void signal(int sig) { ::kill(m_pid, sig); }

    /// Exit status, or -1 after `seconds` (the child then keeps running).
    int wait(double seconds)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
        for (;;) {
            int status = 0;
            pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    pid_t m_pid = -1;
};

/// Runs a program to its end; its standard output and exit status.
inline std::string run(const std::vector<std::string>& argv, int* rc = nullptr, double timeout = 10)
{
    wardtest::TempDir dir("brokerrun");
    const std::string path = dir / "out";
    int status;
    {
        Child c(argv, path);
        status = c.wait(timeout);
    }
    if (rc)
        *rc = status;
    return wardtest::readFile(path);
}

using wardtest::readFile;

inline size_t countOf(const std::string& hay, const std::string& needle)
{
    size_t n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1))
        ++n;
    return n;
}

/// Polls `pred` every 10 ms for up to `seconds`.
inline bool waitFor(const std::function<bool()>& pred, double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(long(seconds * 1000));
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace proc
