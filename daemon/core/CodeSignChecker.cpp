#include "CodeSignChecker.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace AppProtection {

CodesignToolChecker::CodesignToolChecker(std::string tool) : m_tool(std::move(tool)) {}

bool CodesignToolChecker::available()
{
    struct stat st;
    return ::stat(m_tool.c_str(), &st) == 0;
}

bool CodesignToolChecker::isAppleSigned(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    std::string requirement = "-R=anchor apple";
    std::string verify = "-v";
    std::string tool = m_tool;
    std::string program = path;
    char* argv[] = {&tool[0], &verify[0], &requirement[0], &program[0], nullptr};
    pid_t child = -1;
    const int rc = posix_spawn(&child, m_tool.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(child, &status, 0)) == -1 && errno == EINTR) {
    }
    return r == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace AppProtection
