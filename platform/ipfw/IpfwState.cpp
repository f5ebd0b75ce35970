#include "IpfwState.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ipfw {

int readWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t limit)
{
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        return e;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    uint8_t chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int e = errno;
            ::close(fd);
            out.clear();
            return e;
        }
        if (n == 0)
            break;
        if (out.size() + static_cast<size_t>(n) > limit) {
            ::close(fd);
            out.clear();
            return EFBIG;
        }
        out.insert(out.end(), chunk, chunk + n);
    }
    ::close(fd);
    return 0;
}

namespace {
int writeAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

std::string parentOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}
} // namespace

int writeFileAtomic(const std::string& path, const void* data, size_t size)
{
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    int e = writeAll(fd, static_cast<const uint8_t*>(data), size);
    if (e == 0 && ::fsync(fd) != 0)
        e = errno;
    if (::close(fd) != 0 && e == 0)
        e = errno;
    if (e == 0 && ::rename(tmp.c_str(), path.c_str()) != 0)
        e = errno;
    if (e != 0) {
        ::unlink(tmp.c_str());
        return e;
    }
    int dfd = ::open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

int makeDirs(const std::string& path)
{
    if (path.empty())
        return EINVAL;
    for (size_t pos = 1;; ++pos) {
        pos = path.find('/', pos);
        std::string part = pos == std::string::npos ? path : path.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return errno;
        if (pos == std::string::npos)
            break;
    }
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

StateLock::StateLock()
{
    m_error = makeDirs(kStateDir);
    if (m_error != 0)
        return;
    m_fd = ::open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = errno;
        return;
    }
    while (::lockf(m_fd, F_LOCK, 0) != 0) {
        if (errno == EINTR)
            continue;
        m_error = errno;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

StateLock::~StateLock()
{
    if (m_fd >= 0)
        ::close(m_fd);  // closing drops the lock
}

} // namespace ipfw
