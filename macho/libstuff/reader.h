// The one way the scanner reads a file's bytes: by range. Each range is
// checked against the end of the structure it belongs to (a slice, an
// archive, a load-command area) and against the file's size, in 64 bits,
// and then copied into the caller's storage, as LLVM's getStructOrErr does.
// Nothing is reached through a pointer into the file, so a header question
// costs the header, not the file.
//
// Files are read with pread through a descriptor rather than mapped: a
// mapping raises SIGBUS when the file is truncated while it is examined, a
// read comes back short. A file that shrinks while it is read is examined as
// read: the bytes a short read did not bring are zeros, like bytes past an
// end.
#pragma once

#include <cstdint>
#include <cstring>

namespace macho {

/// Small reads (headers, commands, names) are served from one window of this
/// many bytes read ahead from the first of them, so that a walk over small
/// records makes one system call per window rather than one per record.
constexpr uint64_t kReadWindow = 4096;
/// Each later refill reads twice as far ahead as the one before, up to this:
/// a long walk (a large load-command area) costs a few reads, while a header
/// question still costs one window.
constexpr uint64_t kMaxReadWindow = 65536;

struct byte_reader {
    int fd;          // open on the file; -1 when the bytes are `mem`
    const char* mem; // the bytes of a file given in memory (not owned)
    uint64_t size;   // the file's size: no byte at or past it is read
    int failed;      // 1 once a read failed (an error, not a short read)
    // The window: heap, kMaxReadWindow bytes, from the first small read on.
    char* window;
    uint64_t window_offset;
    uint64_t window_length; // what it holds (less when the file shrank)
    uint64_t window_reach;  // how far the last refill might read ahead
    int lent;               // 1: fd and window are the caller's (reader_lend)
};

/// Reads `size` bytes of the file open on `fd`; the reader owns `fd`.
void reader_open_fd(byte_reader* reader, int fd, uint64_t size);
/// Reads `size` bytes of the file open on `fd` into `window`
/// (kMaxReadWindow bytes), which already holds the file's first `held`
/// bytes. Both stay the caller's: it keeps them until reader_close, which
/// leaves them open and allocated.
void reader_lend(byte_reader* reader, int fd, uint64_t size, char* window, uint64_t held);
/// Reads the file's first bytes, up to `want` (at most kMaxReadWindow), into
/// the window; returns the count read.
uint64_t reader_read_start(byte_reader* reader, uint64_t want);
/// Reads `size` bytes at `mem`, which the caller keeps alive.
void reader_open_memory(byte_reader* reader, const char* mem, uint64_t size);
/// Closes the descriptor and frees the window (unless lent); leaves the
/// reader closed (fd -1), which is safe to close again.
void reader_close(byte_reader* reader);

/// read_bytes when the range is not already in the window.
uint64_t read_bytes_through(byte_reader* reader, uint64_t offset, uint64_t end, void* dst, uint64_t n);

/// The bytes [offset, offset + n) where the window already holds them all,
/// before `end`; else null. Valid until the reader's next read.
inline const char* window_bytes(const byte_reader* reader, uint64_t offset, uint64_t end, uint64_t n)
{
    // The window holds only bytes before the file's size.
    if (reader->window == nullptr || offset < reader->window_offset || offset > end || n > end - offset)
        return nullptr;
    const uint64_t at = offset - reader->window_offset;
    if (at > reader->window_length || n > reader->window_length - at)
        return nullptr;
    return reader->window + at;
}

/// Copies bytes [offset, offset + n) into `dst`, reading none at or past
/// `end` (the end of what the bytes belong to) or the file's size. Bytes not
/// read are zeros. Returns the count read: n when the range was all there.
inline uint64_t read_bytes(byte_reader* reader, uint64_t offset, uint64_t end, void* dst, uint64_t n)
{
    // Most reads of a walk are whole and in the window: a copy.
    if (const char* held = window_bytes(reader, offset, end, n)) {
        memcpy(dst, held, n);
        return n;
    }
    return read_bytes_through(reader, offset, end, dst, n);
}

} // namespace macho
