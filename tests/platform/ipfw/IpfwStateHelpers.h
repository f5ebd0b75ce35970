// Shared by the stand-in's state tests: a clean state folder per test and a
// runner for the ipfw program.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "IpfwState.h"
#include "IpfwTestFiles.h"

/// Every state test starts without a state folder. Refuses to run outside
/// the mount namespace of tests/ns-run.sh, so the real /usr/local is never
/// written.
class IpfwStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* inside = std::getenv("WARD_NS_INSIDE");
        if (inside == nullptr || std::string(inside) != "1")
            GTEST_SKIP() << "needs tests/ns-run.sh";
        std::filesystem::remove_all(ipfw::kStateDir);
    }

    static void writeState(const std::string& path, const std::vector<uint8_t>& bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static void writeText(const std::string& path, const std::string& text)
    {
        writeState(path, std::vector<uint8_t>(text.begin(), text.end()));
    }
    static std::vector<uint8_t> rulesBin()
    {
        std::vector<uint8_t> bytes;
        ipfw::readWholeFile(ipfw::kRulesFile, bytes);
        return bytes;
    }
};

struct RunResult {
    int waitStatus = -1;
    std::string out;
    std::string err;

    bool exited() const { return WIFEXITED(waitStatus); }
    int status() const { return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1; }
};

inline std::string slurp(int fd)
{
    std::string s;
    ::lseek(fd, 0, SEEK_SET);
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

/// Starts the program with the given words (argv[0] "ipfw"); does not wait.
/// Output goes to two anonymous temporary files.
struct Started {
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
};

inline Started startIpfw(const std::vector<std::string>& words)
{
    Started s;
    s.outFd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    s.errFd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    std::vector<std::string> args{"ipfw"};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    s.pid = ::fork();
    if (s.pid == 0) {
        ::dup2(s.outFd, 1);
        ::dup2(s.errFd, 2);
        ::execv(IPFW_PROGRAM, argv.data());
        ::_exit(127);
    }
    return s;
}

inline RunResult finish(Started s)
{
    RunResult r;
    while (::waitpid(s.pid, &r.waitStatus, 0) < 0 && errno == EINTR) {
    }
    r.out = slurp(s.outFd);
    r.err = slurp(s.errFd);
    ::close(s.outFd);
    ::close(s.errFd);
    return r;
}

inline RunResult runIpfw(const std::vector<std::string>& words)
{
    return finish(startIpfw(words));
}

inline std::vector<std::string> wordsOf(const std::string& line)
{
    std::vector<std::string> w;
    size_t i = 0;
    while (i < line.size()) {
        size_t j = line.find(' ', i);
        if (j == std::string::npos)
            j = line.size();
        if (j > i)
            w.push_back(line.substr(i, j - i));
        i = j + 1;
    }
    return w;
}
