#include "DriverRun.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace machotest {

namespace {

std::string tempPath(const char* what)
{
    const char* dir = getenv("TMPDIR");
    std::string p = std::string(dir != nullptr ? dir : "/tmp") + "/macho-" + what + "-XXXXXX";
    const int fd = mkstemp(&p[0]);
    if (fd < 0)
        throw std::runtime_error("mkstemp");
    close(fd);
    return p;
}

int spawnWait(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath)
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_TRUNC, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        throw std::runtime_error("posix_spawn " + argv[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
    }
    if (WIFEXITED(st))
        return WEXITSTATUS(st);
    return 128 + WTERMSIG(st);
}

} // namespace

std::string fixtureDir()
{
    return MACHO_FIXTURE_DIR;
}

std::string fixture(const std::string& name)
{
    return fixtureDir() + "/" + name;
}

DriverResult runDriver(const std::string& mode, const std::string& path, const std::vector<std::string>& extra,
                       const std::vector<std::string>& wrapper)
{
    const std::string answers = tempPath("answers");
    const std::string out = tempPath("out");
    const std::string err = tempPath("err");
    std::vector<std::string> argv = wrapper;
    for (const char* a : {MACHO_SCAN_DRIVER, mode.c_str(), path.c_str(), answers.c_str()})
        argv.push_back(a);
    argv.insert(argv.end(), extra.begin(), extra.end());
    DriverResult r;
    r.status = spawnWait(argv, out, err);
    r.answers = readFile(answers);
    r.out = readFile(out);
    r.err = readFile(err);
    unlink(answers.c_str());
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
}

DriverResult runProgramStreams(const std::vector<std::string>& argv)
{
    const std::string out = tempPath("prog-out");
    const std::string err = tempPath("prog-err");
    DriverResult r;
    r.status = spawnWait(argv, out, err);
    r.out = readFile(out);
    r.err = readFile(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
}

int runQuiet(const std::vector<std::string>& argv)
{
    return spawnWait(argv, "/dev/null", "/dev/null");
}

std::string runProgram(const std::vector<std::string>& argv, int* status)
{
    DriverResult r = runProgramStreams(argv);
    if (status != nullptr)
        *status = r.status;
    return r.out;
}

std::string withPath(std::string text, const std::string& path)
{
    for (size_t at = text.find("PATH"); at != std::string::npos; at = text.find("PATH", at + path.size()))
        text.replace(at, 4, path);
    return text;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
        out.push_back(l);
    return out;
}

} // namespace machotest
