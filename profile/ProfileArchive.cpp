#include "ProfileArchive.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

#include <endian.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <boost/archive/archive_exception.hpp>

#include "ThreadSafety.h"

namespace AppProtection {

namespace {

const char kSignature[] = "serialization::archive";
const unsigned kLibraryVersion = 3;
/// Large enough that a write or read costs little per byte, small enough to
/// stay in the cache from the read that fills it to the last character
/// parsed (or from the first character encoded to the write): the file is
/// never held whole.
const size_t kBlockSize = size_t(1) << 18;
/// Files of more blocks than this are read ahead on a thread of their own.
const uint64_t kReadAheadBlocks = 4;

using boost::archive::archive_exception;

[[noreturn]] void refuse(archive_exception::exception_code code = archive_exception::input_stream_error)
{
    throw archive_exception(code);
}

[[noreturn]] void systemFailure(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

bool isBlank(uint32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/// Narrows `n` characters at `in` to one byte each at `out`; false when one
/// of them is above 0xFF (the bytes written are then of no use).
bool narrow(const char* in, char* out, size_t n)
{
#if defined(__SSE2__) && __BYTE_ORDER == __LITTLE_ENDIAN
    // Read as little-endian words, a character's value is the word's top
    // byte and the bytes above 0xFF are its low 24 bits. Sixteen characters
    // at a time, then four; what is left is done again from the end,
    // overlapping what is done already.
    if (n >= 4) {
        __m128i upper = _mm_setzero_si128();
        auto sixteen = [&](size_t i) {
            const char* p = in + 4 * i;
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
            __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
            __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
            upper = _mm_or_si128(upper, _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d)));
            __m128i ab = _mm_packs_epi32(_mm_srli_epi32(a, 24), _mm_srli_epi32(b, 24));
            __m128i cd = _mm_packs_epi32(_mm_srli_epi32(c, 24), _mm_srli_epi32(d, 24));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(ab, cd));
        };
        auto four = [&](size_t i) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
            upper = _mm_or_si128(upper, a);
            __m128i v = _mm_srli_epi32(a, 24);
            v = _mm_packs_epi32(v, v);
            int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(v, v));
            std::memcpy(out + i, &bytes, 4);
        };
        size_t i = 0;
        if (n >= 16) {
            for (; n - i >= 16; i += 16)
                sixteen(i);
            if (i < n)
                sixteen(n - 16);
        } else {
            for (; n - i >= 4; i += 4)
                four(i);
            if (i < n)
                four(n - 4);
        }
        upper = _mm_and_si128(upper, _mm_set1_epi32(0x00FFFFFF));
        return _mm_movemask_epi8(_mm_cmpeq_epi8(upper, _mm_setzero_si128())) == 0xFFFF;
    }
#endif
    uint32_t high = 0;
    for (size_t i = 0; i < n; ++i) {
        uint32_t ch;
        std::memcpy(&ch, in + 4 * i, 4);
        ch = be32toh(ch);
        high |= ch >> 8;
        out[i] = static_cast<char>(ch);
    }
    return high == 0;
}

} // namespace

bool ProfileClassesSeen::firstTime(std::string_view className)
{
    for (const std::string& name : m_names)
        if (name == className)
            return false;
    m_names.emplace_back(className);
    return true;
}

bool ProfileClassesSeen::firstTime(const char* className)
{
    for (const char* p : m_pointers)
        if (p == className)
            return false;
    bool first = firstTime(std::string_view(className));
    m_pointers.push_back(className);
    return first;
}

// ------------------------------------------------------ write-behind

namespace {

/// Writes all `n` bytes; the errno of a failed write, or 0.
int writeAll(int fd, const char* bytes, size_t n)
{
    for (size_t done = 0; done < n;) {
        ssize_t put = ::write(fd, bytes + done, n - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return errno;
        if (put == 0)
            return EIO;
        done += static_cast<size_t>(put);
    }
    return 0;
}

/// Blocks handed from one thread to another in order, through a ring of
/// four: the filler takes an empty block, fills it and puts it; the drainer
/// takes the blocks put and gives each back by taking the next. A side
/// sleeps only when the ring is full or empty; the filler is woken when half
/// the ring is free again, not per block.
class BlockRing {
public:
    explicit BlockRing(size_t blockBytes)
    {
        for (std::unique_ptr<char[]>& slot : m_slots)
            slot.reset(new char[blockBytes]);
    }
    BlockRing(const BlockRing&) = delete;
    BlockRing& operator=(const BlockRing&) = delete;

    // The filler's side.
    /// The block to fill next; null once the ring is stopped.
    char* emptyBlock()
    {
        ward::UniqueLock lock(m_mutex);
        m_fillerWaiting = true;
        m_freed.wait(lock.native(),
                     [this]() WARD_REQUIRES(m_mutex) { return m_stopped || m_put - m_released < kSlots; });
        m_fillerWaiting = false;
        // The block is the filler's own until it is put.
        return m_stopped ? nullptr : m_slots[m_put % kSlots].get();
    }
    /// The block emptyBlock() gave holds `length` bytes.
    void put(size_t length)
    {
        ward::LockGuard<ward::Mutex> lock(m_mutex);
        m_lengths[m_put % kSlots] = length;
        ++m_put;
        if (m_drainerWaiting)
            m_filled.notify_one();
    }
    /// Nothing more will be put.
    void finish()
    {
        ward::LockGuard<ward::Mutex> lock(m_mutex);
        m_finished = true;
        m_filled.notify_one();
    }

    // The drainer's side.
    /// The next block put, in order; the one taken before is given back.
    /// False once the filling is finished and every block taken, or the ring
    /// stopped.
    bool take(char*& bytes, size_t& length)
    {
        ward::UniqueLock lock(m_mutex);
        if (m_taken > m_released) {
            ++m_released;
            if (m_fillerWaiting && m_put - m_released <= kSlots / 2)
                m_freed.notify_one();
        }
        m_drainerWaiting = true;
        m_filled.wait(lock.native(),
                      [this]() WARD_REQUIRES(m_mutex) { return m_stopped || m_finished || m_put > m_taken; });
        m_drainerWaiting = false;
        if (m_stopped || m_put == m_taken)
            return false;
        size_t slot = m_taken % kSlots;
        ++m_taken;
        bytes = m_slots[slot].get();
        length = m_lengths[slot];
        return true;
    }

    /// Either side: no more blocks are filled or taken; `error` (an errno,
    /// or 0) is what stopped the drainer.
    void stop(int error)
    {
        ward::LockGuard<ward::Mutex> lock(m_mutex);
        m_stopped = true;
        if (m_drainerError == 0)
            m_drainerError = error;
        m_freed.notify_one();
        m_filled.notify_one();
    }

    int drainerError()
    {
        ward::LockGuard<ward::Mutex> lock(m_mutex);
        return m_drainerError;
    }

private:
    static constexpr size_t kSlots = 4;

    std::unique_ptr<char[]> m_slots[kSlots];
    ward::Mutex m_mutex;
    std::condition_variable m_filled; ///< a block put, the filling finished, or stop
    std::condition_variable m_freed;  ///< room in the ring, or stop
    size_t m_lengths[kSlots] WARD_GUARDED_BY(m_mutex) = {};
    uint64_t m_put WARD_GUARDED_BY(m_mutex) = 0;      ///< blocks put
    uint64_t m_taken WARD_GUARDED_BY(m_mutex) = 0;    ///< blocks taken
    uint64_t m_released WARD_GUARDED_BY(m_mutex) = 0; ///< blocks given back
    bool m_finished WARD_GUARDED_BY(m_mutex) = false;
    bool m_stopped WARD_GUARDED_BY(m_mutex) = false;
    int m_drainerError WARD_GUARDED_BY(m_mutex) = 0;
    bool m_fillerWaiting WARD_GUARDED_BY(m_mutex) = false;
    bool m_drainerWaiting WARD_GUARDED_BY(m_mutex) = false;
};

} // namespace

/// Writes a file's blocks on a thread of its own while the next are
/// encoded: the copy into the page cache is off the encoding thread.
class ProfileOArchive::WriteBehind {
public:
    /// Throws std::system_error when no thread can be started.
    explicit WriteBehind(int fd) : m_ring(kBlockSize)
    {
        m_thread = std::thread([this, fd] { run(fd); });
    }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    /// What is not written by now is not.
    ~WriteBehind()
    {
        if (m_thread.joinable()) {
            m_ring.stop(0);
            m_thread.join();
        }
    }

    /// A block to encode into; throws std::system_error with the errno of a
    /// write that failed.
    char* emptyBlock()
    {
        char* block = m_ring.emptyBlock();
        if (block == nullptr)
            failed();
        return block;
    }
    /// The block from emptyBlock() is to be written, `length` bytes.
    void put(size_t length) { m_ring.put(length); }
    /// Returns once every block put is written; throws as emptyBlock().
    void finish()
    {
        m_ring.finish();
        m_thread.join();
        if (m_ring.drainerError() != 0)
            failed();
    }

private:
    [[noreturn]] void failed()
    {
        throw std::system_error(m_ring.drainerError(), std::generic_category(), "write");
    }

    void run(int fd)
    {
        char* bytes = nullptr;
        size_t length = 0;
        while (m_ring.take(bytes, length)) {
            if (int error = writeAll(fd, bytes, length)) {
                m_ring.stop(error);
                return;
            }
        }
    }

    BlockRing m_ring;
    std::thread m_thread;
};

// ---------------------------------------------------------------- writer

ProfileOArchive::ProfileOArchive(std::ostream& out) : m_out(&out), m_ownBlock(new char[kBlockSize])
{
    m_block = m_ownBlock.get();
    writeText(kSignature);
    writeUnsigned(kLibraryVersion);
}

ProfileOArchive::ProfileOArchive(int fd) : m_fd(fd), m_ownBlock(new char[kBlockSize])
{
    m_block = m_ownBlock.get();
    writeText(kSignature);
    writeUnsigned(kLibraryVersion);
}

ProfileOArchive::~ProfileOArchive()
{
    // A stream gets every token written, as if each went straight to it;
    // finish() is what reports a failure. A file gets only what finish()
    // wrote: an abandoned one is removed by its writer.
    if (m_out && m_used > 0)
        m_out->write(m_block, static_cast<std::streamsize>(m_used));
}

void ProfileOArchive::flush()
{
    if (m_out) {
        m_out->write(m_block, static_cast<std::streamsize>(m_used));
        if (!*m_out)
            refuse(archive_exception::output_stream_error);
    } else if (m_writeBehind || startWriteBehind()) {
        m_writeBehind->put(m_used);
        m_block = m_writeBehind->emptyBlock();
    } else {
        writeHere();
    }
    m_used = 0;
}

void ProfileOArchive::writeHere()
{
    if (int error = writeAll(m_fd, m_block, m_used))
        throw std::system_error(error, std::generic_category(), "write");
    m_used = 0;
}

namespace {

/// Each of the `n` bytes at `in` as the character of the same value (0x80
/// to 0xFF included), four big-endian bytes each at `out`.
void widen(const char* in, char* out, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    // Zeros interleaved below each byte twice over: 0 0 0 b per byte.
    const __m128i zero = _mm_setzero_si128();
    for (; n - i >= 16; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        __m128i lo = _mm_unpacklo_epi8(zero, v);
        __m128i hi = _mm_unpackhi_epi8(zero, v);
        char* o = out + 4 * i;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi16(zero, lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi16(zero, lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), _mm_unpacklo_epi16(zero, hi));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 48), _mm_unpackhi_epi16(zero, hi));
    }
#endif
    for (; i < n; ++i) {
        uint32_t ch = htobe32(static_cast<unsigned char>(in[i]));
        std::memcpy(out + 4 * i, &ch, 4);
    }
}

} // namespace

void ProfileOArchive::putBytes(const char* bytes, size_t n)
{
    while (n > 0) {
        if (m_used == kBlockSize)
            flush();
        size_t chunk = std::min(n, (kBlockSize - m_used) / 4);
        widen(bytes, m_block + m_used, chunk);
        m_used += 4 * chunk;
        bytes += chunk;
        n -= chunk;
    }
}

void ProfileOArchive::token(const char* digits, size_t n)
{
    // The blank and the digits in one go.
    char text[32];
    size_t used = 0;
    if (!m_first)
        text[used++] = ' ';
    m_first = false;
    n = std::min(n, sizeof text - used);
    std::memcpy(text + used, digits, n);
    n += used;
    if (4 * n <= kBlockSize - m_used) {
        // Nearly always: straight into the block.
        widen(text, m_block + m_used, n);
        m_used += 4 * n;
        return;
    }
    putBytes(text, n);
}

void ProfileOArchive::writeInt(int64_t value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    token(digits, static_cast<size_t>(end - digits));
}

void ProfileOArchive::writeUnsigned(uint64_t value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    token(digits, static_cast<size_t>(end - digits));
}

void ProfileOArchive::writeText(const std::string& text)
{
    // The length and the blank after it as one token.
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits - 1, text.size()).ptr;
    *end++ = ' ';
    token(digits, static_cast<size_t>(end - digits));
    putBytes(text.data(), text.size());
}

void ProfileOArchive::beginClass(const std::string& className)
{
    // Not through the pointer: the text may not outlive the call.
    if (m_classesSeen.firstTime(std::string_view(className)))
        writePreamble();
}

void ProfileOArchive::beginClass(const char* className)
{
    if (m_classesSeen.firstTime(className))
        writePreamble();
}

void ProfileOArchive::writePreamble()
{
    writeUnsigned(0); // not tracked
    writeUnsigned(0); // class version
}

void ProfileOArchive::writeTextVector(const std::vector<std::string>& texts)
{
    beginClass(ProfileClass::TextVector);
    writeUnsigned(texts.size());
    for (const std::string& t : texts)
        writeText(t);
}

bool ProfileOArchive::startWriteBehind()
{
    // From the first full block on: a file of one block is written here.
    try {
        m_writeBehind = std::make_unique<WriteBehind>(m_fd);
    } catch (const std::system_error&) {
        return false;
    }
    // The first block is handed on as one of the ring's.
    char* first = m_writeBehind->emptyBlock();
    std::memcpy(first, m_block, m_used);
    m_block = first;
    return true;
}

void ProfileOArchive::finish()
{
    if (m_writeBehind) {
        if (m_used > 0)
            m_writeBehind->put(m_used);
        m_used = 0;
        m_writeBehind->finish();
    } else if (!m_out) {
        writeHere();
    } else {
        flush();
    }
    if (m_out) {
        m_out->flush();
        if (!*m_out)
            refuse(archive_exception::output_stream_error);
    }
}

// ---------------------------------------------------------------- reader

/// Reads a file's blocks on a thread of its own, a few ahead of the parser:
/// the copy out of the page cache is off the parsing thread. The parser never
/// waits on the thread: a block the thread has not read by the time the
/// parser needs it the parser reads itself (a block is read at its own
/// offset, whoever reads it), so a thread slow to wake or to run costs
/// nothing but its own time.
class ProfileIArchive::ReadAhead {
public:
    /// Room before each block for the part character left at the end of the
    /// block before.
    static constexpr size_t kHeadroom = 4;

    /// Starts reading the `size` bytes of `fd` from offset `start`; throws
    /// std::system_error when no thread can be started.
    ReadAhead(int fd, uint64_t start, uint64_t size)
        : m_fd(fd), m_start(start), m_size(size), m_blocks((size + kBlockSize - 1) / kBlockSize)
    {
        for (std::unique_ptr<char[]>& slot : m_slots)
            slot.reset(new char[kHeadroom + kBlockSize]);
        m_thread = std::thread([this] { run(); });
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead()
    {
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            m_stop = true;
        }
        m_freed.notify_one();
        m_thread.join();
    }

    /// The next block in file order (kHeadroom bytes before it free); the
    /// one given before is given back. False when the file ended early;
    /// throws std::system_error with the errno of a failed read.
    bool next(char*& bytes, size_t& length)
    {
        uint64_t block = 0;
        char* to = nullptr; // null: read by the thread
        Read got;
        {
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            block = m_taken++;
            // The block before is given back: the thread is woken when half
            // the slots are free, not per block.
            if (block > 0 && m_readerWaiting && m_claimed - released() <= kSlots / 2)
                m_freed.notify_one();
            if (block >= m_blocks)
                return false;
            size_t slot = block % kSlots;
            if (m_slotBlock[slot] == block) {
                got = m_slotRead[slot];
                to = nullptr;
            } else if (block == m_claimed && !m_slotBusy[slot]) {
                ++m_claimed;
                to = m_slots[slot].get() + kHeadroom;
            } else {
                // Being read by the thread, or its slot still is: read into
                // the parser's own block.
                if (block == m_claimed)
                    ++m_claimed;
                if (!m_own)
                    m_own.reset(new char[kHeadroom + kBlockSize]);
                to = m_own.get() + kHeadroom;
            }
        }
        if (to != nullptr)
            got = readBlock(block, to);
        else
            to = m_slots[block % kSlots].get() + kHeadroom;
        if (got.error != 0)
            throw std::system_error(got.error, std::generic_category(), "read");
        if (!got.whole)
            return false;
        bytes = to;
        length = got.length;
        return true;
    }

private:
    static constexpr size_t kSlots = 4;

    /// Blocks given back: all the parser asked for but the one it holds.
    uint64_t released() const WARD_REQUIRES(m_mutex) { return m_taken > 0 ? m_taken - 1 : 0; }

    struct Read {
        size_t length = 0;
        int error = 0;      ///< errno of a failed read
        bool whole = false; ///< false: the file ended within the block
    };

    /// Block `block` to `to`.
    Read readBlock(uint64_t block, char* to)
    {
        uint64_t offset = block * kBlockSize;
        size_t want = static_cast<size_t>(std::min<uint64_t>(m_size - offset, kBlockSize));
        Read got;
        while (got.length < want) {
            ssize_t n = ::pread(m_fd, to + got.length, want - got.length,
                                static_cast<off_t>(m_start + offset + got.length));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                got.error = errno;
            if (n <= 0)
                return got;
            got.length += static_cast<size_t>(n);
        }
        got.whole = true;
        return got;
    }

    void run()
    {
        for (;;) {
            uint64_t block = 0;
            {
                ward::UniqueLock lock(m_mutex);
                m_readerWaiting = true;
                m_freed.wait(lock.native(), [this]() WARD_REQUIRES(m_mutex) {
                    return m_stop || m_claimed >= m_blocks || m_claimed < released() + kSlots;
                });
                m_readerWaiting = false;
                if (m_stop || m_claimed >= m_blocks)
                    return;
                block = m_claimed++;
                m_slotBusy[block % kSlots] = true;
            }
            Read got = readBlock(block, m_slots[block % kSlots].get() + kHeadroom);
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            m_slotBusy[block % kSlots] = false;
            m_slotRead[block % kSlots] = got;
            m_slotBlock[block % kSlots] = block;
            if (!got.whole)
                return; // the parser meets the failure at this block
        }
    }

    const int m_fd;
    const uint64_t m_start;
    const uint64_t m_size;
    const uint64_t m_blocks;
    /// Block b goes to slot b % kSlots, once b - kSlots is given back; the
    /// bytes of a slot are its reader's until they are counted as read.
    std::unique_ptr<char[]> m_slots[kSlots];
    std::unique_ptr<char[]> m_own; ///< the parser's, for blocks the thread is late with
    ward::Mutex m_mutex;
    std::condition_variable m_freed; ///< slots given back, or stop
    uint64_t m_claimed WARD_GUARDED_BY(m_mutex) = 0;  ///< blocks begun, by either thread
    uint64_t m_taken WARD_GUARDED_BY(m_mutex) = 0;    ///< blocks the parser asked for
    /// The block each slot holds as read by the thread, and how it went.
    uint64_t m_slotBlock[kSlots] WARD_GUARDED_BY(m_mutex) = {~0ull, ~0ull, ~0ull, ~0ull};
    Read m_slotRead[kSlots] WARD_GUARDED_BY(m_mutex);
    bool m_slotBusy[kSlots] WARD_GUARDED_BY(m_mutex) = {}; ///< the thread is reading into it
    bool m_stop WARD_GUARDED_BY(m_mutex) = false;
    bool m_readerWaiting WARD_GUARDED_BY(m_mutex) = false;
    std::thread m_thread;
};

ProfileIArchive::ProfileIArchive(std::istream& in) : m_in(&in)
{
    std::streampos start = in.tellg();
    if (start == std::streampos(-1) || !in.seekg(0, std::ios::end))
        refuse();
    std::streampos end = in.tellg();
    if (end == std::streampos(-1) || !in.seekg(start) || end < start)
        refuse();
    this->start(static_cast<uint64_t>(end - start));
}

ProfileIArchive::ProfileIArchive(int fd, uint64_t size) : m_fd(fd) { start(size); }

ProfileIArchive::~ProfileIArchive() = default;

void ProfileIArchive::start(uint64_t size)
{
    m_unread = size;
    if (m_fd >= 0 && size > kReadAheadBlocks * kBlockSize) {
        // At the blocks' offsets: a file that cannot seek is read here.
        off_t at = ::lseek(m_fd, 0, SEEK_CUR);
        try {
            if (at >= 0)
                m_readAhead = std::make_unique<ReadAhead>(m_fd, static_cast<uint64_t>(at), size);
        } catch (const std::system_error&) {
            // Read on this thread.
        }
    }
    if (!m_readAhead) {
        m_blockSize = static_cast<size_t>(std::min<uint64_t>(size, kBlockSize));
        if (m_blockSize > 0)
            m_block.reset(new char[m_blockSize]);
        m_cur = m_end = m_block.get();
    }

    if (text() != kSignature)
        refuse(archive_exception::invalid_signature);
    int64_t version = readNumber(0, std::numeric_limits<uint32_t>::max());
    if (version > kLibraryVersion)
        refuse(archive_exception::unsupported_version);
    m_libraryVersion = static_cast<unsigned>(version);
}

void ProfileIArchive::fetch(char* to, size_t n)
{
    if (m_in) {
        if (m_in->rdbuf()->sgetn(to, static_cast<std::streamsize>(n)) != static_cast<std::streamsize>(n))
            refuse();
        return;
    }
    while (n > 0) {
        ssize_t got = ::read(m_fd, to, n);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            systemFailure("read");
        }
        if (got == 0)
            refuse(); // the file is shorter than it was
        to += got;
        n -= static_cast<size_t>(got);
    }
}

bool ProfileIArchive::refill()
{
    size_t left = static_cast<size_t>(m_end - m_cur);
    if (left + m_unread == 0)
        return false;
    if (left + m_unread < 4)
        refuse(); // a character cut short
    if (m_readAhead) {
        // What is left (part of a character: every caller reads on only with
        // less than a whole one) is kept before the block that holds the
        // rest, taken before the block holding it is given back.
        if (left >= ReadAhead::kHeadroom)
            refuse();
        char part[ReadAhead::kHeadroom];
        if (left > 0) // before the first block there is none
            std::memcpy(part, m_cur, left);
        char* bytes = nullptr;
        size_t length = 0;
        if (!m_readAhead->next(bytes, length))
            refuse(); // the file is shorter than it was
        if (left > 0)
            std::memcpy(bytes - left, part, left);
        m_unread -= length;
        m_cur = bytes - left;
        m_end = bytes + length;
        return true;
    }
    char* block = m_block.get();
    std::memmove(block, m_cur, left);
    size_t more = static_cast<size_t>(std::min<uint64_t>(m_blockSize - left, m_unread));
    fetch(block + left, more);
    m_unread -= more;
    m_cur = block;
    m_end = block + left + more;
    return true;
}

uint32_t ProfileIArchive::getChar()
{
    uint32_t ch = 0;
    if (!peekChar(ch))
        refuse(); // ends early
    m_cur += 4;
    return ch;
}

inline int64_t ProfileIArchive::readNumber(int64_t min, int64_t max)
{
    // Nearly every token is a blank and a few digits well inside the block:
    // read so without a refill check per character. A sign, or a token that
    // may reach the window's end, is read the general way from its start.
    const size_t kWindow = 32; // characters
    if (static_cast<size_t>(m_end - m_cur) >= 4 * kWindow) {
        const char* p = m_cur;
        const char* const last = m_cur + 4 * (kWindow - 1);
        uint32_t ch = decode(p);
        while (isBlank(ch) && p < last) {
            p += 4;
            ch = decode(p);
        }
        if (ch >= '0' && ch <= '9') {
            uint64_t value = 0;
            do {
                value = value * 10 + (ch - '0');
                if (value > static_cast<uint64_t>(max))
                    refuse();
                p += 4;
                ch = decode(p);
            } while (ch >= '0' && ch <= '9' && p < last);
            if (ch < '0' || ch > '9') {
                m_cur = p;
                return static_cast<int64_t>(value);
            }
        }
    }
    return readAnyNumber(min, max);
}

int64_t ProfileIArchive::readAnyNumber(int64_t min, int64_t max)
{
    // The position stays in a local between refills: a token is a handful of
    // characters, read once per field of every record.
    const char* cur = m_cur;
    auto peek = [&](uint32_t& ch) {
        if (m_end - cur < 4) {
            m_cur = cur;
            bool more = refill();
            cur = m_cur;
            if (!more)
                return false;
        }
        ch = decode(cur);
        return true;
    };
    uint32_t ch = 0;
    bool any = peek(ch);
    while (any && isBlank(ch)) {
        cur += 4;
        any = peek(ch);
    }
    bool negative = false;
    if (any && (ch == '-' || ch == '+')) {
        negative = ch == '-';
        cur += 4;
        any = peek(ch);
    }
    // Range-checked digit by digit: no value wider than the target survives.
    const uint64_t limit = negative ? uint64_t(-min) : uint64_t(max);
    uint64_t value = 0;
    int digits = 0;
    while (any && ch >= '0' && ch <= '9') {
        cur += 4;
        value = value * 10 + (ch - '0');
        if (value > limit)
            refuse();
        ++digits;
        any = peek(ch);
    }
    m_cur = cur;
    if (digits == 0)
        refuse();
    if (negative && min >= 0 && value != 0)
        refuse();
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

inline uint32_t ProfileIArchive::textLength()
{
    uint64_t length = static_cast<uint64_t>(readNumber(0, std::numeric_limits<uint32_t>::max()));
    // The one separator after the length.
    if (m_end - m_cur >= 4)
        m_cur += 4;
    else
        getChar();
    if (length > charsLeft())
        refuse();
    return static_cast<uint32_t>(length);
}

inline void ProfileIArchive::narrowText(char* to, size_t length)
{
    size_t done = 0;
    while (done < length) {
        if (m_end - m_cur < 4 && !refill())
            refuse();
        size_t chunk = std::min(length - done, static_cast<size_t>(m_end - m_cur) / 4);
        if (!narrow(m_cur, to + done, chunk))
            refuse(); // a character above 0xFF: never written by a byte-wise writer
        m_cur += 4 * chunk;
        done += chunk;
    }
}

inline std::string ProfileIArchive::text()
{
    uint32_t length = textLength();
    // Nearly every text is short and whole in the block: narrowed into a
    // local, the string is built once from its bytes, with no zero fill.
    const size_t kShort = 256;
    if (length <= kShort && static_cast<size_t>(m_end - m_cur) / 4 >= length) {
        char bytes[kShort];
        if (!narrow(m_cur, bytes, length))
            refuse();
        m_cur += 4 * static_cast<size_t>(length);
        return std::string(bytes, length);
    }
    std::string text(length, '\0');
    narrowText(&text[0], length);
    return text;
}

std::string ProfileIArchive::readText() { return text(); }

int32_t ProfileIArchive::readInt32()
{
    return static_cast<int32_t>(readNumber(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int16_t ProfileIArchive::readInt16()
{
    return static_cast<int16_t>(readNumber(std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

uint32_t ProfileIArchive::readUInt32()
{
    return static_cast<uint32_t>(readNumber(0, std::numeric_limits<uint32_t>::max()));
}

bool ProfileIArchive::readBool() { return readNumber(0, 1) != 0; }

uint32_t ProfileIArchive::readCount()
{
    uint32_t count = readUInt32();
    // Every element takes at least a blank and one digit.
    if (count > charsLeft() / 2)
        refuse();
    return count;
}

size_t ProfileIArchive::reservable(uint32_t count, size_t bytesEach) const
{
    uint64_t left = static_cast<uint64_t>(m_end - m_cur) + m_unread;
    return static_cast<size_t>(std::min<uint64_t>(count, left / bytesEach));
}

unsigned ProfileIArchive::beginClass(const std::string& className)
{
    return m_classesSeen.firstTime(std::string_view(className)) ? readPreamble() : 0;
}

unsigned ProfileIArchive::beginClass(const char* className)
{
    return m_classesSeen.firstTime(className) ? readPreamble() : 0;
}

unsigned ProfileIArchive::readPreamble()
{
    if (readNumber(0, 1) != 0)
        refuse(); // tracked objects never occur in a profile
    if (readNumber(0, std::numeric_limits<uint32_t>::max()) != 0)
        refuse(archive_exception::unsupported_class_version);
    return 0;
}

std::vector<std::string> ProfileIArchive::readTextVector()
{
    beginClass(ProfileClass::TextVector);
    uint32_t count = readCount();
    std::vector<std::string> texts;
    texts.reserve(reservable(count, sizeof(std::string)));
    for (uint32_t i = 0; i < count; ++i)
        texts.push_back(text());
    return texts;
}

} // namespace AppProtection
