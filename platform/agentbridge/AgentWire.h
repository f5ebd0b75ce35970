// Frames on the agent's control socket: a little-endian u32 length (at most
// 1 MiB) of what follows, a u8 request or answer kind, then its fields.
// Numbers are little-endian u32; texts are a u32 byte count and that many
// bytes of UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace agentwire {

constexpr uint32_t kMaxFrame = 1u << 20;
constexpr char kSocketPath[] = "/usr/local/Vantrel/hvo/var/agentsocket";

enum Request : uint8_t {
    STATUS = 1,  // -
    POLICY = 2,  // text name, u32 n, n x (section, key, value)
    COLLECT = 3, // u8 collect all sections
    LOG = 4,     // u32 category (two's complement), text
    COUNTS = 5,  // -
};

/// Outcome of a call into the product, also agentctl's exit status.
enum Outcome : uint8_t {
    OUT_FALSE = 0,
    OUT_TRUE = 1,
    OUT_THREW = 2,      // text: the exception's message
    OUT_NO_SERVICE = 3, // no agent, or no such service registered
    OUT_TIMEOUT = 4,
};

/// State of a service at the agent.
enum ServiceState : uint8_t { NEVER_OFFERED = 0, REGISTERED = 1, REFUSED = 2 };

/// UTF-8 of `text`; a character without a UTF-8 form becomes `replacement`
/// (nothing when it is 0).
std::string toUtf8(const std::wstring& text, char replacement);
/// Wide text of UTF-8 bytes; false for bytes that are not valid UTF-8
/// (overlong forms, surrogates and values above U+10FFFF included).
bool fromUtf8(const std::string& bytes, std::wstring& text);

class Writer {
public:
    explicit Writer(uint8_t kind) { body.push_back(kind); }
    Writer& u8(uint8_t v);
    Writer& u32(uint32_t v);
    Writer& text(const std::string& utf8);
    Writer& wtext(const std::wstring& t) { return text(toUtf8(t, '?')); }
    /// Length first; empty when the body would exceed kMaxFrame.
    std::vector<uint8_t> finish() const;

private:
    std::vector<uint8_t> body;
};

/// Reads the fields of one frame body; every read is checked against what is
/// left. After a failed read ok() is false and reads give zeros.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p(data), left(size) {}
    uint8_t u8();
    uint32_t u32();
    std::string text();
    /// A UTF-8 text as wide characters; invalid UTF-8 fails the reader.
    std::wstring wtext();
    bool ok() const { return good; }
    bool atEnd() const { return left == 0; }

private:
    bool take(void* out, size_t n);
    const uint8_t* p;
    size_t left;
    bool good = true;
};

/// Writes all of `frame`; false on an error (EINTR retried).
bool sendAll(int fd, const std::vector<uint8_t>& frame);
enum class ReadResult { Frame, Closed, BadFrame };
/// Reads one whole frame body into `body`. Closed: end of stream before a
/// frame began. BadFrame: a length over kMaxFrame or zero, a frame cut short
/// by the end of the stream, or an error.
ReadResult readFrame(int fd, std::vector<uint8_t>& body);

} // namespace agentwire
