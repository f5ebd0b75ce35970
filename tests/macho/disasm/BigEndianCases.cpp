#include "BigEndianCases.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

extern char** environ;

namespace disasm_test {

std::string run_program(const std::vector<std::string>& argv)
{
    char path[] = "/tmp/disasm_outXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return "";
    unlink(path);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    std::string out;
    if (rc == 0) {
        int status;
        waitpid(pid, &status, 0);
        lseek(fd, 0, SEEK_SET);
        char buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return out;
}

std::string write_temp(const std::string& name, const std::vector<char>& bytes)
{
    const char* dir = getenv("TMPDIR");
    const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/" + name + "."
                             + std::to_string(getpid());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

bool have_program(const std::string& name)
{
    const char* path = getenv("PATH");
    std::string p = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos)
            end = p.size();
        const std::string full = p.substr(start, end - start) + "/" + name;
        if (access(full.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace disasm_test
