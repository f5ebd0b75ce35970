#include "reader.h"

#include "errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace macho {

namespace {

// Reads up to `n` bytes at `offset`; stops early at the file's current end
// (it may have shrunk since it was opened) or on an error, which it notes.
uint64_t pread_some(byte_reader* reader, char* dst, uint64_t n, uint64_t offset)
{
    uint64_t got = 0;
    while (got < n) {
        const uint64_t left = n - got;
        const size_t chunk = left < (1u << 30) ? static_cast<size_t>(left) : (1u << 30);
        const ssize_t r = pread(reader->fd, dst + got, chunk, static_cast<off_t>(offset + got));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            reader->failed = 1;
            break;
        }
        if (r == 0)
            break;
        got += static_cast<uint64_t>(r);
    }
    return got;
}

} // namespace

void reader_open_fd(byte_reader* reader, int fd, uint64_t size)
{
    memset(reader, 0, sizeof *reader);
    reader->fd = fd;
    reader->size = size;
}

void reader_lend(byte_reader* reader, int fd, uint64_t size, char* window, uint64_t held)
{
    reader_open_fd(reader, fd, size);
    reader->lent = 1;
    reader->window = window;
    reader->window_length = held < size ? held : size;
    reader->window_reach = held > kReadWindow ? held : kReadWindow;
}

void reader_open_memory(byte_reader* reader, const char* mem, uint64_t size)
{
    memset(reader, 0, sizeof *reader);
    reader->fd = -1;
    reader->mem = mem;
    reader->size = size;
}

namespace {

// The window of the reader this thread closed last, kept for its next one: a
// run over many files allocates it once. Allocating it for each file also
// made the heap merge its small free chunks each time, which slowed every
// allocation of names that followed.
struct spare_window {
    char* bytes = nullptr;
    ~spare_window() { free(bytes); }
};
thread_local spare_window spare;

} // namespace

void reader_close(byte_reader* reader)
{
    if (!reader->lent) {
        if (reader->fd >= 0)
            close(reader->fd);
        if (spare.bytes == nullptr)
            spare.bytes = reader->window;
        else
            free(reader->window);
    }
    memset(reader, 0, sizeof *reader);
    reader->fd = -1;
}

namespace {

// Reads `fill` bytes at `offset` into the window, `reach` being how far
// this read might have gone.
void refill(byte_reader* reader, uint64_t offset, uint64_t fill, uint64_t reach)
{
    if (reader->window == nullptr) {
        reader->window = spare.bytes != nullptr ? spare.bytes : static_cast<char*>(allocate(kMaxReadWindow));
        spare.bytes = nullptr;
    }
    reader->window_offset = offset;
    reader->window_length = pread_some(reader, reader->window, fill, offset);
    reader->window_reach = reach;
}

// Copies [offset, offset + n), all before `end`, from the file; returns the
// count read.
uint64_t copy_range(byte_reader* reader, uint64_t offset, uint64_t end, char* out, uint64_t n)
{
    if (reader->mem != nullptr) {
        memcpy(out, reader->mem + offset, n);
        return n;
    }
    if (reader->fd < 0)
        return 0;
    if (n >= kReadWindow)
        return pread_some(reader, out, n, offset);

    const bool inside = reader->window_length != 0 && offset >= reader->window_offset
                        && offset - reader->window_offset <= reader->window_length
                        && n <= reader->window_length - (offset - reader->window_offset);
    if (!inside) {
        // A walk that goes on past the window reads further ahead each
        // time; a jump elsewhere starts again from one window.
        const bool onward = reader->window_length != 0 && offset >= reader->window_offset
                            && offset - reader->window_offset <= reader->window_length;
        uint64_t reach = kReadWindow;
        if (onward)
            reach = reader->window_reach < kMaxReadWindow / 2 ? 2 * reader->window_reach : kMaxReadWindow;
        // Read ahead no further than the structure the caller reads in.
        refill(reader, offset, end - offset < reach ? end - offset : reach, reach);
        if (n > reader->window_length)
            n = reader->window_length;
    }
    memcpy(out, reader->window + (offset - reader->window_offset), n);
    return n;
}

} // namespace

uint64_t reader_read_start(byte_reader* reader, uint64_t want)
{
    if (reader->fd < 0)
        return 0;
    if (want > kMaxReadWindow)
        want = kMaxReadWindow;
    refill(reader, 0, want < reader->size ? want : reader->size, want > kReadWindow ? want : kReadWindow);
    return reader->window_length;
}

uint64_t read_bytes_through(byte_reader* reader, uint64_t offset, uint64_t end, void* dst, uint64_t n)
{
    char* out = static_cast<char*>(dst);
    if (end > reader->size)
        end = reader->size;
    uint64_t got = 0;
    if (offset < end)
        got = copy_range(reader, offset, end, out, n < end - offset ? n : end - offset);
    // Bytes not read are zeros.
    memset(out + got, 0, n - got);
    return got;
}

} // namespace macho
