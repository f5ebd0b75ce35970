// Writer and reader of the profile file layout: a wide text archive of
// library version 3, every character stored as four big-endian bytes.
//
// The archive is one line of tokens separated by single blanks. Integers are
// decimal, bools 0 or 1, a narrow text is its byte length, one blank and its
// bytes (each byte one character), a collection is its count and then its
// elements, and the first object of each class type in the archive is
// preceded by a preamble "0 0" (not tracked, class version 0).
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <set>
#include <string>
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
} // namespace ProfileClass

class ProfileOArchive {
public:
    /// Writes the header "22 serialization::archive 3".
    explicit ProfileOArchive(std::ostream& out);

    void writeText(const std::string& text);
    void writeInt(int64_t value);
    void writeUnsigned(uint64_t value);
    void writeBool(bool value) { writeInt(value ? 1 : 0); }
    /// Writes the preamble when `className` has not been met yet.
    void beginClass(const std::string& className);
    /// Preamble of the vector of texts, count, texts.
    void writeTextVector(const std::vector<std::string>& texts);
    /// Flushes; throws boost::archive::archive_exception(output_stream_error)
    /// when the stream failed.
    void finish();

private:
    void put(uint32_t ch);
    void token(const std::string& digits);

    std::ostream& m_out;
    bool m_first = true;
    std::set<std::string> m_classesSeen;
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

    unsigned libraryVersion() const { return m_libraryVersion; }

    std::string readText();
    int32_t readInt32();
    int16_t readInt16();
    uint32_t readUInt32();
    bool readBool();
    /// A collection's element count, bounded by the characters left.
    uint32_t readCount();
    /// Reads the preamble when `className` has not been met yet; returns the
    /// class version (always 0).
    unsigned beginClass(const std::string& className);
    std::vector<std::string> readTextVector();

private:
    bool peekChar(uint32_t& ch);
    uint32_t getChar();
    void skipBlanks();
    /// An optionally signed decimal token within [min, max].
    int64_t readNumber(int64_t min, int64_t max);
    uint64_t charsLeft() const;

    std::istream& m_in;
    uint64_t m_bytesLeft = 0;
    bool m_havePeek = false;
    uint32_t m_peek = 0;
    unsigned m_libraryVersion = 0;
    std::set<std::string> m_classesSeen;
};

} // namespace AppProtection
