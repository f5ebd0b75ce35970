// Writer and reader of the profile file layout: a wide text archive of
// library version 3, every character stored as four big-endian bytes.
//
// The archive is one line of tokens separated by single blanks. Integers are
// decimal, bools 0 or 1, a narrow text is its byte length, one blank and its
// bytes (each byte one character), a collection is its count and then its
// elements, and the first object of each class type in the archive is
// preceded by a preamble "0 0" (not tracked, class version 0).
//
// Both sides work through blocks of bytes: the writer encodes into one and
// hands it to the stream or file whenever it is full, the reader refills one
// from the stream or file (or takes a large file's blocks from a small ring
// a thread fills ahead of it), so neither ever holds the whole file.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace AppProtection {

/// Class names of the preamble table, one per serialised type.
namespace ProfileClass {
constexpr const char* ApplicationStore = "ApplicationStore";
constexpr const char* AppRecordVector = "std::vector<DetailedAppRecord>";
constexpr const char* DetailedAppRecord = "DetailedAppRecord";
constexpr const char* TextVector = "std::vector<std::string>";
constexpr const char* NetworkRuleList = "std::list<NetworkRule>";
constexpr const char* NetworkRule = "NetworkRule";
constexpr const char* DependentStore = "DependentStore";
constexpr const char* DependentVector = "std::vector<DependentRecord>";
constexpr const char* DependentRecord = "DependentRecord";
constexpr const char* BasicAppRecordList = "std::list<BasicAppRecord>";
constexpr const char* BasicAppRecord = "BasicAppRecord";
} // namespace ProfileClass

/// The class names an archive has met; a profile has nine.
class ProfileClassesSeen {
public:
    /// True, and remembered, the first time `className` is asked for.
    bool firstTime(std::string_view className);
    /// The same; a name asked for before through the same pointer (one of
    /// the ProfileClass names, asked for at every record) is found without
    /// comparing texts. `className` must stay valid and unchanged while
    /// this object lives.
    bool firstTime(const char* className);

private:
    std::vector<std::string> m_names;
    std::vector<const char*> m_pointers; ///< pointers to names in m_names
};

class ProfileOArchive {
public:
    /// Writes the header "22 serialization::archive 3" to `out`.
    explicit ProfileOArchive(std::ostream& out);
    /// The same to an open file, in blocks of 256 KiB (written on a thread of
    /// their own, while the next are encoded, past the first). A failed
    /// write throws std::system_error with its errno, at a later block or
    /// at finish().
    explicit ProfileOArchive(int fd);
    ProfileOArchive(const ProfileOArchive&) = delete;
    ProfileOArchive& operator=(const ProfileOArchive&) = delete;
    ~ProfileOArchive();

    void writeText(const std::string& text);
    void writeInt(int64_t value);
    void writeUnsigned(uint64_t value);
    void writeBool(bool value) { writeInt(value ? 1 : 0); }
    /// Writes the preamble when `className` has not been met yet. A name
    /// given as `const char*` must stay valid while the archive lives (a
    /// ProfileClass name).
    void beginClass(const std::string& className);
    void beginClass(const char* className);
    /// Preamble of the vector of texts, count, texts.
    void writeTextVector(const std::vector<std::string>& texts);
    /// Writes what is left in the block and flushes a stream. Throws
    /// boost::archive::archive_exception(output_stream_error) when the stream
    /// failed, std::system_error when a file write failed.
    void finish();

private:
    class WriteBehind;

    /// Each byte one character.
    void putBytes(const char* bytes, size_t n);
    void token(const char* digits, size_t n);
    /// Hands on the full block.
    void flush();
    /// Writes the block to the file on this thread.
    void writeHere();
    /// False when no thread can be started: the file is written here.
    bool startWriteBehind();
    void writePreamble();

    std::ostream* m_out = nullptr;
    int m_fd = -1;
    std::unique_ptr<WriteBehind> m_writeBehind; ///< null: written on this thread
    std::unique_ptr<char[]> m_ownBlock;
    char* m_block = nullptr; ///< m_ownBlock, or one of the write-behind's
    size_t m_used = 0;       ///< bytes of m_block filled, a multiple of 4
    bool m_first = true;
    ProfileClassesSeen m_classesSeen;
};

/// Every refusal throws boost::archive::archive_exception: a wrong
/// signature, a library version above 3, a class version above 0, a tracked
/// object, a truncated or unreadable token, or a length or count larger than
/// what is left of the input. Nothing is allocated beyond what the input
/// actually holds.
class ProfileIArchive {
public:
    /// Reads and checks the header. The stream must be seekable (a file or a
    /// string stream): its size bounds every length and count.
    explicit ProfileIArchive(std::istream& in);
    /// The same from the next `size` bytes of an open file, read in blocks of
    /// 256 KiB (on a thread of its own, a few blocks ahead, for a file of
    /// more than a few blocks); `size` bounds every length and count. A
    /// failed read throws std::system_error with its errno; a file that ends
    /// before `size` bytes is refused like a truncated one.
    ProfileIArchive(int fd, uint64_t size);
    ProfileIArchive(const ProfileIArchive&) = delete;
    ProfileIArchive& operator=(const ProfileIArchive&) = delete;
    ~ProfileIArchive();

    unsigned libraryVersion() const { return m_libraryVersion; }

    std::string readText();
    int32_t readInt32();
    int16_t readInt16();
    uint32_t readUInt32();
    bool readBool();
    /// A collection's element count, bounded by the characters left.
    uint32_t readCount();
    /// How many of `count` elements of `bytesEach` bytes may be reserved
    /// ahead: no more than the bytes of input left would pay for, so that a
    /// reservation never outgrows the input.
    size_t reservable(uint32_t count, size_t bytesEach) const;
    /// Reads the preamble when `className` has not been met yet; returns the
    /// class version (always 0). A name given as `const char*` must stay
    /// valid while the archive lives (a ProfileClass name).
    unsigned beginClass(const std::string& className);
    unsigned beginClass(const char* className);
    std::vector<std::string> readTextVector();

private:
    class ReadAhead;

    void start(uint64_t size);
    /// The next character, not consumed; false at the end of the input.
    bool peekChar(uint32_t& ch)
    {
        if (m_end - m_cur < 4 && !refill())
            return false;
        ch = decode(m_cur);
        return true;
    }
    uint32_t getChar();
    static uint32_t decode(const char* p)
    {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
    }
    /// Moves the part character left in the block to its start and reads on;
    /// false when the input is used up, a refusal when it ends inside a
    /// character.
    bool refill();
    /// Exactly `n` bytes of the input; a refusal when it has fewer.
    void fetch(char* to, size_t n);
    // The two below are defined where they are used, in the archive's own
    // source, so that they are compiled into each caller there.
    /// An optionally signed decimal token within [min, max].
    inline int64_t readNumber(int64_t min, int64_t max);
    /// What readText reads.
    inline std::string text();
    /// A text's length and the blank after it, checked against the input left.
    inline uint32_t textLength();
    /// The next `length` characters, narrowed to one byte each at `to`.
    inline void narrowText(char* to, size_t length);
    /// readNumber for any token, wherever it ends.
    int64_t readAnyNumber(int64_t min, int64_t max);
    uint64_t charsLeft() const { return (static_cast<uint64_t>(m_end - m_cur) + m_unread) / 4; }
    /// The preamble of a class met for the first time.
    unsigned readPreamble();

    std::istream* m_in = nullptr;
    int m_fd = -1;
    std::unique_ptr<ReadAhead> m_readAhead; ///< null: read on this thread
    std::unique_ptr<char[]> m_block;
    size_t m_blockSize = 0;
    const char* m_cur = nullptr; ///< next byte of m_block
    const char* m_end = nullptr; ///< end of the bytes read into m_block
    uint64_t m_unread = 0;       ///< bytes of the input not yet in m_block
    unsigned m_libraryVersion = 0;
    ProfileClassesSeen m_classesSeen;
};

} // namespace AppProtection
