#include "ProfileArchive.h"

#include <limits>

#include <boost/archive/archive_exception.hpp>

namespace AppProtection {

namespace {

const char kSignature[] = "serialization::archive";
const unsigned kLibraryVersion = 3;

using boost::archive::archive_exception;

[[noreturn]] void refuse(archive_exception::exception_code code = archive_exception::input_stream_error)
{
    throw archive_exception(code);
}

bool isBlank(uint32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

// ---------------------------------------------------------------- writer

ProfileOArchive::ProfileOArchive(std::ostream& out) : m_out(out)
{
    writeText(kSignature);
    writeUnsigned(kLibraryVersion);
}

void ProfileOArchive::put(uint32_t ch)
{
    const char bytes[4] = {static_cast<char>(ch >> 24), static_cast<char>(ch >> 16), static_cast<char>(ch >> 8),
                           static_cast<char>(ch)};
    m_out.write(bytes, 4);
}

void ProfileOArchive::token(const std::string& digits)
{
    if (!m_first)
        put(' ');
    m_first = false;
    for (char c : digits)
        put(static_cast<unsigned char>(c));
}

void ProfileOArchive::writeInt(int64_t value) { token(std::to_string(value)); }

void ProfileOArchive::writeUnsigned(uint64_t value) { token(std::to_string(value)); }

void ProfileOArchive::writeText(const std::string& text)
{
    writeUnsigned(text.size());
    put(' ');
    // Each byte is the character of the same value, 0x80..0xFF included.
    for (char c : text)
        put(static_cast<unsigned char>(c));
}

void ProfileOArchive::beginClass(const std::string& className)
{
    if (m_classesSeen.insert(className).second) {
        writeUnsigned(0); // not tracked
        writeUnsigned(0); // class version
    }
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
    m_out.flush();
    if (!m_out)
        refuse(archive_exception::output_stream_error);
}

// ---------------------------------------------------------------- reader

ProfileIArchive::ProfileIArchive(std::istream& in) : m_in(in)
{
    std::streampos start = in.tellg();
    if (start == std::streampos(-1) || !in.seekg(0, std::ios::end))
        refuse();
    std::streampos end = in.tellg();
    if (end == std::streampos(-1) || !in.seekg(start) || end < start)
        refuse();
    m_bytesLeft = static_cast<uint64_t>(end - start);

    if (readText() != kSignature)
        refuse(archive_exception::invalid_signature);
    int64_t version = readNumber(0, std::numeric_limits<uint32_t>::max());
    if (version > kLibraryVersion)
        refuse(archive_exception::unsupported_version);
    m_libraryVersion = static_cast<unsigned>(version);
}

uint64_t ProfileIArchive::charsLeft() const { return m_bytesLeft / 4 + (m_havePeek ? 1 : 0); }

bool ProfileIArchive::peekChar(uint32_t& ch)
{
    if (!m_havePeek) {
        if (m_bytesLeft == 0)
            return false;
        if (m_bytesLeft < 4)
            refuse(); // a character cut short
        unsigned char b[4];
        if (m_in.rdbuf()->sgetn(reinterpret_cast<char*>(b), 4) != 4)
            refuse();
        m_bytesLeft -= 4;
        m_peek = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
        m_havePeek = true;
    }
    ch = m_peek;
    return true;
}

uint32_t ProfileIArchive::getChar()
{
    uint32_t ch = 0;
    if (!peekChar(ch))
        refuse(); // ends early
    m_havePeek = false;
    return ch;
}

void ProfileIArchive::skipBlanks()
{
    uint32_t ch = 0;
    while (peekChar(ch) && isBlank(ch))
        m_havePeek = false;
}

int64_t ProfileIArchive::readNumber(int64_t min, int64_t max)
{
    skipBlanks();
    uint32_t ch = 0;
    bool negative = false;
    if (peekChar(ch) && (ch == '-' || ch == '+')) {
        negative = ch == '-';
        m_havePeek = false;
    }
    // Range-checked digit by digit: no value wider than the target survives.
    const uint64_t limit = negative ? uint64_t(-min) : uint64_t(max);
    uint64_t value = 0;
    int digits = 0;
    while (peekChar(ch) && ch >= '0' && ch <= '9') {
        m_havePeek = false;
        value = value * 10 + (ch - '0');
        if (value > limit)
            refuse();
        ++digits;
    }
    if (digits == 0)
        refuse();
    if (negative && min >= 0 && value != 0)
        refuse();
    return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

std::string ProfileIArchive::readText()
{
    uint64_t length = static_cast<uint64_t>(readNumber(0, std::numeric_limits<uint32_t>::max()));
    getChar(); // the one separator after the length
    if (length > charsLeft())
        refuse();
    std::string text;
    text.reserve(static_cast<size_t>(length));
    for (uint64_t i = 0; i < length; ++i) {
        uint32_t ch = getChar();
        if (ch > 0xFF)
            refuse(); // never written by a byte-wise writer
        text.push_back(static_cast<char>(ch));
    }
    return text;
}

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

unsigned ProfileIArchive::beginClass(const std::string& className)
{
    if (!m_classesSeen.insert(className).second)
        return 0;
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
    for (uint32_t i = 0; i < count; ++i)
        texts.push_back(readText());
    return texts;
}

} // namespace AppProtection
