#include "FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace wardfile {

namespace {

/// Closes a descriptor on every road out.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

template <class Bytes>
int readInto(int fd, Bytes& out, size_t limit, size_t sizeHint)
{
    out.clear();
    // One byte past the limit tells a longer file from one that fits.
    const size_t cap = limit < SIZE_MAX ? limit + 1 : limit;
    out.resize(std::min(cap, std::max<size_t>(sizeHint, 4095) + 1));
    size_t used = 0;
    for (;;) {
        if (used == out.size()) {
            if (used == cap)
                break;
            out.resize(used <= cap / 2 ? used * 2 : cap);
        }
        ssize_t n = ::read(fd, &out[used], out.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int e = errno;
            out.clear();
            return e;
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    if (used > limit) {
        out.clear();
        return EFBIG;
    }
    out.resize(used);
    return 0;
}

template <class Bytes>
int readFileInto(const std::string& path, Bytes& out, size_t limit)
{
    out.clear();
    Fd file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file.fd < 0)
        return errno;
    struct stat st;
    if (::fstat(file.fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (static_cast<uint64_t>(st.st_size) > limit)
        return EFBIG;
    return readInto(file.fd, out, limit, static_cast<size_t>(st.st_size));
}

bool isTemporaryOf(const std::string& name, const std::string& base)
{
    // mkostemp's six characters are letters and digits.
    if (name.size() != base.size() + 7 || name.compare(0, base.size(), base) != 0 || name[base.size()] != '.')
        return false;
    return std::all_of(name.end() - 6, name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

Locked lockOpened(int fd, LockKind kind)
{
    Locked result;
    for (;;) {
        int rc;
        if (kind == LockKind::OpenFileDescription) {
            struct flock fl;
            std::memset(&fl, 0, sizeof fl);
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            rc = ::fcntl(fd, F_OFD_SETLKW, &fl);
        } else {
            rc = ::lockf(fd, F_LOCK, 0);
        }
        if (rc == 0) {
            result.fd = fd;
            return result;
        }
        if (errno != EINTR)
            break;
    }
    result.error = errno;
    result.step = "lock";
    ::close(fd);
    return result;
}

Locked openAndLock(const std::string& path, int flags, mode_t mode, LockKind kind)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | flags, mode);
    if (fd < 0) {
        Locked failed;
        failed.error = errno;
        failed.step = "open";
        return failed;
    }
    return lockOpened(fd, kind);
}

} // namespace

int writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int readAll(int fd, std::string& out, size_t limit) { return readInto(fd, out, limit, 0); }

int readAll(int fd, std::vector<uint8_t>& out, size_t limit) { return readInto(fd, out, limit, 0); }

int readFile(const std::string& path, std::string& out, size_t limit) { return readFileInto(path, out, limit); }

int readFile(const std::string& path, std::vector<uint8_t>& out, size_t limit)
{
    return readFileInto(path, out, limit);
}

std::string parentPath(const std::string& path)
{
    std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

int makeDirectories(const std::string& path, mode_t mode)
{
    if (path.empty())
        return EINVAL;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    // mkdir rather than create_directories: the folders get `mode`, not 0777.
    std::filesystem::path part;
    for (const std::filesystem::path& name : std::filesystem::path(path)) {
        part /= name;
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return errno;
    }
    if (::stat(path.c_str(), &st) != 0)
        return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

PendingReplace::~PendingReplace()
{
    discard();
}

void PendingReplace::discard()
{
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
    m_temporary.clear();
}

ReplaceResult PendingReplace::prepare(const std::string& path, mode_t mode, const ContentWriter& write)
{
    discard();
    ReplaceResult result;
    result.temporary = path + ".XXXXXX";
    int fd = ::mkostemp(&result.temporary[0], O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        result.step = "mkostemp";
        return result;
    }
    auto fail = [&](const char* step, int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(result.temporary.c_str());
        result.error = error;
        result.step = step;
        return result;
    };
    if (::fchmod(fd, mode) != 0)
        return fail("fchmod", errno);
    int written;
    try {
        written = write(fd);
    } catch (...) {
        ::close(fd);
        ::unlink(result.temporary.c_str());
        throw;
    }
    if (written != 0)
        return fail("write", written);
    if (::fsync(fd) != 0)
        return fail("fsync", errno);
    int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail("close", errno);
    m_path = path;
    m_temporary = result.temporary;
    return result;
}

ReplaceResult PendingReplace::commit()
{
    ReplaceResult result;
    result.temporary = m_temporary;
    if (m_temporary.empty()) {
        result.error = EINVAL;
        result.step = "rename";
        return result;
    }
    if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
        result.error = errno;
        result.step = "rename";
        discard();
        return result;
    }
    m_temporary.clear();
    Fd folder;
    folder.fd = ::open(parentPath(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.fd < 0 || ::fsync(folder.fd) != 0)
        result.folderSyncError = errno;
    return result;
}

ReplaceResult replaceFile(const std::string& path, mode_t mode, const ContentWriter& write)
{
    PendingReplace pending;
    ReplaceResult result = pending.prepare(path, mode, write);
    if (result.error != 0)
        return result;
    return pending.commit();
}

ReplaceResult replaceFile(const std::string& path, mode_t mode, const void* data, size_t size)
{
    return replaceFile(path, mode, [&](int fd) { return writeAll(fd, data, size); });
}

int removeLeftovers(const std::string& path)
{
    const std::filesystem::path target(path);
    const std::string base = target.filename().string();
    std::error_code ec;
    std::filesystem::directory_iterator it(parentPath(path), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (!isTemporaryOf(it->path().filename().string(), base))
            continue;
        std::error_code ignored;
        if (it->symlink_status(ignored).type() == std::filesystem::file_type::regular)
            std::filesystem::remove(it->path(), ignored);
    }
    return ec.value();
}

Locked lockFile(const std::string& path, LockKind kind, mode_t mode)
{
    return openAndLock(path, O_CREAT, mode, kind);
}

Locked lockExistingFile(const std::string& path, LockKind kind) { return openAndLock(path, 0, 0, kind); }

} // namespace wardfile
