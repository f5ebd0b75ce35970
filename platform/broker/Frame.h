// Frames on the hub socket: a little-endian u32 length (at most 64 MiB) of
// what follows, a u8 kind, then the kind's fields. Texts travel as a u32
// count and that many 32-bit characters, value for value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hvoframe {

constexpr uint32_t kMaxFrame = 64u * 1024 * 1024;
/// Buffers up to this size are kept for reuse; larger ones are given back
/// once empty.
constexpr size_t kKeptCapacity = 1u << 20;

enum Kind : uint8_t {
    HELLO = 1,         // i32 module id, u8 interface flags
    COMMAND = 2,       // header, u8 wait, u8 hasData, text
    REPLY = 3,         // header, u8 status, u8 completed, u8 hasData, text
    LOG = 4,           // u8 log kind, i32 sender, i32 type, i32 level, 3 texts
    HEALTH_POKE = 5,   // u32 poke number
    HEALTH_ANSWER = 6, // u32 poke number, u8 result
    NO_ROUTE = 7,      // header, u8 reason
    CONTROL = 8,       // u8 op, op fields
};

enum InterfaceFlags : uint8_t { HAS_COMMAND = 1, HAS_HEALTH = 2, HAS_LOG = 4 };
enum LogKind : uint8_t { LOG_RECORD = 0, LOG_MSG = 1 };
enum NoRouteReason : uint8_t { NO_SUCH_MODULE = 1, RECEIVER_GONE = 2 };

enum ControlOp : uint8_t {
    HELLO_OK = 1,
    HELLO_REFUSED = 2, // text reason
    PING = 3,
    PONG = 4,
    MODULES = 5,
    MODULES_ANSWER = 6, // text, one "id pid uid" line per module
    HEALTH_REQUEST = 7, // i32 module id
    HEALTH_RESULT = 8,  // i32 module id, u8 result (0 false, 1 true, 2 no such module)
    LOG_PATH = 9,
    LOG_PATH_ANSWER = 10, // text
};

struct Header {
    int32_t commandId = -1;
    uint32_t word1 = 0;
    int32_t word2 = -1;
    int32_t destinationId = -1;
    bool flag = false;
    int32_t word3 = -1;
};

/// Builds one frame; `finish` puts the length in front.
class Writer {
public:
    explicit Writer(Kind kind);
    Writer& u8(uint8_t v);
    Writer& u32(uint32_t v);
    Writer& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    Writer& text(const std::wstring& t);
    Writer& header(const Header& h);
    /// The whole frame, length first. With `tail`, the length also counts
    /// that many bytes that the caller sends right after the frame.
    std::vector<uint8_t> finish(size_t tail = 0) const;

private:
    std::vector<uint8_t> body;
};

/// Bytes held elsewhere.
struct Span {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

/// Reads the fields of one frame body; every read is checked against the
/// end, and a text's count against the bytes left, before anything is
/// allocated. After a failed read `ok()` is false and reads return zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p(data), left(size) {}
    uint8_t u8();
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    std::wstring text();
    /// A text's characters as they stand in the frame, 4 bytes each, for
    /// passing on without decoding; the same checks as text().
    Span rawText();
    Header header();
    bool ok() const { return good; }
    bool atEnd() const { return left == 0; }

private:
    bool take(void* out, size_t n);
    const uint8_t* p;
    size_t left;
    bool good = true;
};

/// Reads whole frames from a byte stream that arrives in pieces, growing its
/// buffer only as bytes arrive (a length field alone allocates nothing), and
/// giving a large buffer back once its frames are consumed.
class Assembler {
public:
    enum Result { NEED_MORE, FRAME, BAD_LENGTH };
    void append(const uint8_t* data, size_t n);
    /// On FRAME, `body` spans kind and fields of the next frame, in the
    /// assembler's buffer: valid until the next append() or next().
    Result next(Span& body);
    size_t pending() const { return buf.size() - start; }
    uint32_t badLength() const { return lastBad; }

private:
    void compact();
    std::vector<uint8_t> buf;
    size_t start = 0;
    uint32_t lastBad = 0;
};

/// JSON string contents for `text`, ASCII only: characters above 0x7E and
/// controls as \u escapes (beyond U+FFFF as a surrogate pair; values that are
/// no code point as U+FFFD).
std::string jsonEscape(const std::wstring& text);

} // namespace hvoframe
