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
/// stay out of the way: the file is never held whole.
const size_t kBlockSize = size_t(1) << 20;
/// The reader's block is smaller: it is parsed while the records it yields
/// are built, and stays in the cache beside them from the read that fills it
/// to the last character parsed.
const size_t kReadBlockSize = size_t(1) << 18;
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

// ---------------------------------------------------------------- writer

ProfileOArchive::ProfileOArchive(std::ostream& out) : m_out(&out), m_block(new char[kBlockSize])
{
    writeText(kSignature);
    writeUnsigned(kLibraryVersion);
}

ProfileOArchive::ProfileOArchive(int fd) : m_fd(fd), m_block(new char[kBlockSize])
{
    writeText(kSignature);
    writeUnsigned(kLibraryVersion);
}

ProfileOArchive::~ProfileOArchive()
{
    // A stream gets every token written, as if each went straight to it;
    // finish() is what reports a failure. A file gets only what finish()
    // wrote: an abandoned one is removed by its writer.
    if (m_out && m_used > 0)
        m_out->write(m_block.get(), static_cast<std::streamsize>(m_used));
}

void ProfileOArchive::flush()
{
    if (m_out) {
        m_out->write(m_block.get(), static_cast<std::streamsize>(m_used));
        if (!*m_out)
            refuse(archive_exception::output_stream_error);
    } else {
        size_t done = 0;
        while (done < m_used) {
            ssize_t n = ::write(m_fd, m_block.get() + done, m_used - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                systemFailure("write");
            }
            done += static_cast<size_t>(n);
        }
    }
    m_used = 0;
}

void ProfileOArchive::put(char byte) { putBytes(&byte, 1); }

void ProfileOArchive::putBytes(const char* bytes, size_t n)
{
    while (n > 0) {
        if (m_used == kBlockSize)
            flush();
        size_t chunk = std::min(n, (kBlockSize - m_used) / 4);
        unsigned char* out = reinterpret_cast<unsigned char*>(m_block.get() + m_used);
        const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
        // Each byte is the character of the same value, 0x80..0xFF included.
        for (size_t i = 0; i < chunk; ++i) {
            out[4 * i] = 0;
            out[4 * i + 1] = 0;
            out[4 * i + 2] = 0;
            out[4 * i + 3] = in[i];
        }
        m_used += 4 * chunk;
        bytes += chunk;
        n -= chunk;
    }
}

void ProfileOArchive::token(const char* digits, size_t n)
{
    if (!m_first)
        put(' ');
    m_first = false;
    putBytes(digits, n);
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
    writeUnsigned(text.size());
    put(' ');
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

void ProfileOArchive::finish()
{
    flush();
    if (m_out) {
        m_out->flush();
        if (!*m_out)
            refuse(archive_exception::output_stream_error);
    }
}

// ---------------------------------------------------------------- reader

/// Reads a file's blocks on a thread of its own into a ring of blocks, a few
/// ahead of the parser: the copy out of the page cache is off the parsing
/// thread. The ring is all the memory it takes.
class ProfileIArchive::ReadAhead {
public:
    /// Room before each block's bytes for the part character left at the
    /// end of the block before.
    static constexpr size_t kHeadroom = 4;

    struct Block {
        char* bytes;   ///< kHeadroom bytes before them are free
        size_t length; ///< 0: the file ended early
    };

    /// Starts reading the next `size` bytes of `fd`; throws std::system_error
    /// when no thread can be started.
    ReadAhead(int fd, uint64_t size) : m_fd(fd), m_size(size)
    {
        for (std::unique_ptr<char[]>& slot : m_slots)
            slot.reset(new char[kHeadroom + kReadBlockSize]);
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

    /// The next block, in file order; the block given before is given back.
    /// Throws std::system_error with the errno of a failed read.
    Block next()
    {
        ward::UniqueLock lock(m_mutex);
        if (m_taken > 0) {
            ++m_released;
            // The reader is woken when half the ring is free, not per block.
            if (m_readerWaiting && m_read - m_released <= kSlots / 2)
                m_freed.notify_one();
        }
        m_parserWaiting = true;
        m_filled.wait(lock.native(), [this]() WARD_REQUIRES(m_mutex) { return m_read > m_taken || m_ended; });
        m_parserWaiting = false;
        if (m_read == m_taken) {
            if (m_error != 0)
                throw std::system_error(m_error, std::generic_category(), "read");
            return {m_slots[m_taken % kSlots].get() + kHeadroom, 0};
        }
        size_t slot = m_taken % kSlots;
        ++m_taken;
        return {m_slots[slot].get() + kHeadroom, m_lengths[slot]};
    }

private:
    static constexpr size_t kSlots = 8;

    void run()
    {
        uint64_t left = m_size;
        for (uint64_t block = 0; left > 0; ++block) {
            {
                ward::UniqueLock lock(m_mutex);
                m_readerWaiting = true;
                m_freed.wait(lock.native(),
                             [this]() WARD_REQUIRES(m_mutex) { return m_stop || m_read - m_released < kSlots; });
                m_readerWaiting = false;
                if (m_stop)
                    return;
            }
            // The slot is this thread's until it is counted as read.
            size_t slot = block % kSlots;
            char* to = m_slots[slot].get() + kHeadroom;
            size_t want = static_cast<size_t>(std::min<uint64_t>(left, kReadBlockSize));
            size_t got = 0;
            int error = 0;
            while (got < want) {
                ssize_t n = ::read(m_fd, to + got, want - got);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    error = errno;
                if (n <= 0)
                    break;
                got += static_cast<size_t>(n);
            }
            left -= got;
            ward::LockGuard<ward::Mutex> lock(m_mutex);
            // A failed read or the file's early end stops the reading; the
            // part of a block read before is not handed on.
            if (got == want) {
                m_lengths[slot] = got;
                ++m_read;
            }
            if (got < want || left == 0) {
                m_error = error;
                m_ended = true;
            }
            if (m_parserWaiting)
                m_filled.notify_one();
            if (m_ended)
                return;
        }
    }

    const int m_fd;
    const uint64_t m_size;
    std::unique_ptr<char[]> m_slots[kSlots];
    ward::Mutex m_mutex;
    std::condition_variable m_filled; ///< a block read, or the reading ended
    std::condition_variable m_freed;  ///< room in the ring, or stop
    size_t m_lengths[kSlots] WARD_GUARDED_BY(m_mutex) = {};
    uint64_t m_read WARD_GUARDED_BY(m_mutex) = 0;     ///< blocks read
    uint64_t m_taken WARD_GUARDED_BY(m_mutex) = 0;    ///< blocks given to the parser
    uint64_t m_released WARD_GUARDED_BY(m_mutex) = 0; ///< blocks given back
    bool m_ended WARD_GUARDED_BY(m_mutex) = false;    ///< no block will be read any more
    int m_error WARD_GUARDED_BY(m_mutex) = 0;         ///< errno of the read that failed
    bool m_stop WARD_GUARDED_BY(m_mutex) = false;
    bool m_readerWaiting WARD_GUARDED_BY(m_mutex) = false;
    bool m_parserWaiting WARD_GUARDED_BY(m_mutex) = false;
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
    if (m_fd >= 0 && size > kReadAheadBlocks * kReadBlockSize) {
        try {
            m_readAhead = std::make_unique<ReadAhead>(m_fd, size);
        } catch (const std::system_error&) {
            // Read on this thread.
        }
    }
    if (!m_readAhead) {
        m_blockSize = static_cast<size_t>(std::min<uint64_t>(size, kReadBlockSize));
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
        std::memcpy(part, m_cur, left);
        ReadAhead::Block block = m_readAhead->next();
        if (block.length == 0)
            refuse(); // the file is shorter than it was
        std::memcpy(block.bytes - left, part, left);
        m_unread -= block.length;
        m_cur = block.bytes - left;
        m_end = block.bytes + block.length;
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
