// Scratch folders, files and child processes for the librulebook tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testfiles {

/// A fresh folder under /tmp, removed with everything in it. Mode 0755 so
/// that a child running as nobody can reach what the test makes readable.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/ward-profile.XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            std::abort();
        path_ = tmpl;
        chmod(path_.c_str(), 0755);
    }
    ~TempDir()
    {
        std::error_code ec;
        // Restore permissions the tests took away, so everything goes.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink())
                chmod(it->path().c_str(), 0755);
        }
        chmod(path_.c_str(), 0755);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/// Standard output of a shell command.
inline std::string run(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

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
