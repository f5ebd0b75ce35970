// File I/O that every writer of the system's files shares: a file replaced
// whole or not at all, writes and reads that go on after EINTR and short
// counts, the writers' lock files and folder creation. Failures come back as
// errno values (0 is success), which the caller must look at ([[nodiscard]]);
// nothing here throws except a content writer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wardfile {

/// Writes all `size` bytes. 0 or an errno value.
[[nodiscard]] int writeAll(int fd, const void* data, size_t size);

/// Reads `fd` to its end into `out` (which it replaces), at most `limit`
/// bytes. 0, EFBIG when there is more, or the errno of a failed read; `out`
/// is empty after a failure.
[[nodiscard]] int readAll(int fd, std::string& out, size_t limit);
[[nodiscard]] int readAll(int fd, std::vector<uint8_t>& out, size_t limit);

/// Reads the regular file `path` whole, as readAll. Also ENOENT when it is
/// missing, EISDIR for a folder and EINVAL for anything else that is not a
/// regular file (opened without blocking, so a FIFO cannot hang the reader).
[[nodiscard]] int readFile(const std::string& path, std::string& out, size_t limit);
[[nodiscard]] int readFile(const std::string& path, std::vector<uint8_t>& out, size_t limit);

/// The folder `path` is in ("." for a bare name).
std::string parentPath(const std::string& path);

/// Creates the folder `path` and its missing parents with `mode` (less the
/// umask); an existing folder is fine. 0, ENOTDIR when the path or a part of
/// it is not a folder, or the errno of the mkdir that failed.
[[nodiscard]] int makeDirectories(const std::string& path, mode_t mode = 0755);

/// Writes the new content into the temporary file's descriptor: 0 or an
/// errno value. It may also throw: the temporary is then removed and the
/// exception passed on.
using ContentWriter = std::function<int(int fd)>;

struct ReplaceResult {
    int error = 0;          ///< 0 when `path` now holds the new content
    const char* step = "";  ///< the call that failed: "mkostemp", "fchmod", "write", "fsync", "close" or "rename"
    std::string temporary;  ///< the temporary file's name (already removed after a failure)
    int folderSyncError = 0; ///< errno of syncing the folder after the rename; the new file is in place either way
};

/// Replaces `path` whole: a temporary file "<path>.XXXXXX" beside it
/// (mkostemp, close-on-exec), given `mode`, filled by `write`, fsync'ed,
/// closed and renamed over `path`; then the folder is fsync'ed. On a failure
/// the temporary is removed and the old file stays whole. A writer killed
/// before its rename leaves the temporary behind: see removeLeftovers.
[[nodiscard]] ReplaceResult replaceFile(const std::string& path, mode_t mode, const ContentWriter& write);
[[nodiscard]] ReplaceResult replaceFile(const std::string& path, mode_t mode, const void* data, size_t size);

/// replaceFile in two steps, for a writer with other work to wait for
/// between writing the new content and putting it in place: prepare() does
/// everything before the rename (the temporary is written, fsync'ed and
/// closed; `path` is untouched), commit() renames it over `path` and syncs
/// the folder. Discarded, or destroyed before its commit, it removes the
/// temporary and the old file stays. The same failures are reported, at
/// the same steps, as replaceFile's.
class PendingReplace {
public:
    PendingReplace() = default;
    ~PendingReplace();
    PendingReplace(const PendingReplace&) = delete;
    PendingReplace& operator=(const PendingReplace&) = delete;

    /// Discards what an earlier prepare left, then writes the temporary.
    [[nodiscard]] ReplaceResult prepare(const std::string& path, mode_t mode, const ContentWriter& write);
    /// After a successful prepare: the rename and the folder's sync. A
    /// failed rename removes the temporary. EINVAL without a prepared one.
    [[nodiscard]] ReplaceResult commit();
    /// Removes a prepared temporary; nothing else happens.
    void discard();
    bool prepared() const { return !m_temporary.empty(); }

private:
    std::string m_path;
    std::string m_temporary; // written and synced, not renamed yet
};

/// Removes the temporary files of `path` ("<name>.XXXXXX", six letters or
/// digits) that killed writers left beside it. Call it only while holding
/// the lock every writer of `path` takes before its replace, so that no live
/// writer's temporary is taken. 0 or the errno of reading the folder; a
/// leftover not removed now is removed by the next writer, so callers may
/// ignore it.
int removeLeftovers(const std::string& path);

enum class LockKind {
    /// fcntl(F_OFD_SETLKW): belongs to the open file, so it also keeps out
    /// the process's other descriptors and threads, and lockf users.
    OpenFileDescription,
    /// lockf(F_LOCK): belongs to the process, and is dropped when the process
    /// closes any descriptor of the file.
    Process,
};

struct Locked {
    int fd = -1;           ///< the locked descriptor (closing it releases the lock), or -1
    int error = 0;         ///< errno of the failure
    const char* step = ""; ///< the call that failed: "open" or "lock"
};

/// Opens the lock file `path` read-write and close-on-exec, creating it with
/// `mode` when missing, and waits for an exclusive lock of `kind` on it.
[[nodiscard]] Locked lockFile(const std::string& path, LockKind kind, mode_t mode = 0644);

/// The same on a file that must already exist; it is never created.
[[nodiscard]] Locked lockExistingFile(const std::string& path, LockKind kind);

} // namespace wardfile
