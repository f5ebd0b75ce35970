// Child processes and encodings for the librulebook tests; scratch folders
// and files come from tests/support.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Files.h"
#include "Shell.h"

namespace testfiles {

using wardtest::readFile;
using wardtest::TempDir;
using wardtest::writeFile;

/// Runs `check` in a child process as user and group 65534 (when the test
/// runs as root; otherwise as the current user) and answers its result.
inline bool asNobody(const std::function<bool()>& check)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0
                               || setresuid(65534, 65534, 65534) != 0))
            _exit(3);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace testfiles

namespace testfiles {

/// Each byte of `text` as one character of four big-endian bytes.
inline std::string ucs4be(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        out.append(3, '\0');
        out.push_back(static_cast<char>(c));
    }
    return out;
}

} // namespace testfiles
