// Files for tests: read and write whole files, and a scratch folder that
// goes away with everything in it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace wardtest {

/// The whole file, empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

/// The folder scratch files go in: $TMPDIR, else /tmp.
inline std::string scratchRoot()
{
    const char* t = std::getenv("TMPDIR");
    return t != nullptr && *t != '\0' ? t : "/tmp";
}

/// A new folder (mode 0755) removed with its contents when this ends, also
/// where a test took permissions away. Only the process that made it removes
/// it: a forked child that exits leaves it to its parent.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "ward-test")
    {
        std::string tmpl = scratchRoot() + "/" + prefix + ".XXXXXX";
        if (::mkdtemp(&tmpl[0]) == nullptr)
            std::abort();
        path_ = tmpl;
        ::chmod(path_.c_str(), 0755);
    }
    ~TempDir()
    {
        if (::getpid() != owner_)
            return;
        std::error_code ec;
        // Restore permissions the tests took away, so everything goes.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink())
                ::chmod(it->path().c_str(), 0755);
        }
        ::chmod(path_.c_str(), 0755);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    pid_t owner_ = ::getpid();
};

} // namespace wardtest
