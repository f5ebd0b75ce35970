#include "AgentWire.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace agentwire {

std::string toUtf8(const std::wstring& text, char replacement)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        const uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (replacement != 0)
                out.push_back(replacement);
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c <= 0x10FFFF) {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (replacement != 0) {
            out.push_back(replacement);
        }
    }
    return out;
}

bool fromUtf8(const std::string& bytes, std::wstring& text)
{
    std::wstring out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        size_t more;
        uint32_t c;
        uint32_t least;
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            more = 1, c = b & 0x1F, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            more = 2, c = b & 0x0F, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            more = 3, c = b & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (more > n - i - 1)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            const uint8_t cb = static_cast<uint8_t>(bytes[i + k]);
            if ((cb & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (cb & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        out.push_back(static_cast<wchar_t>(c));
        i += more + 1;
    }
    text.swap(out);
    return true;
}

Writer& Writer::u8(uint8_t v)
{
    body.push_back(v);
    return *this;
}

Writer& Writer::u32(uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        body.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
}

Writer& Writer::text(const std::string& utf8)
{
    // A text that cannot be counted in 32 bits cannot fit a frame either;
    // finish() refuses the frame.
    const uint32_t n = utf8.size() > kMaxFrame ? kMaxFrame + 1 : static_cast<uint32_t>(utf8.size());
    u32(n);
    if (utf8.size() <= kMaxFrame)
        body.insert(body.end(), utf8.begin(), utf8.end());
    else
        body.resize(kMaxFrame + 1);
    return *this;
}

std::vector<uint8_t> Writer::finish() const
{
    if (body.size() > kMaxFrame)
        return {};
    std::vector<uint8_t> frame;
    frame.reserve(4 + body.size());
    const uint32_t n = static_cast<uint32_t>(body.size());
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(n >> (8 * i)));
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

bool Reader::take(void* out, size_t n)
{
    if (!good || n > left) {
        good = false;
        std::memset(out, 0, n);
        return false;
    }
    std::memcpy(out, p, n);
    p += n;
    left -= n;
    return true;
}

uint8_t Reader::u8()
{
    uint8_t v = 0;
    take(&v, 1);
    return v;
}

uint32_t Reader::u32()
{
    uint8_t b[4];
    if (!take(b, 4))
        return 0;
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

std::string Reader::text()
{
    const uint32_t n = u32();
    if (!good || n > left) {
        good = false;
        return std::string();
    }
    std::string s(reinterpret_cast<const char*>(p), n);
    p += n;
    left -= n;
    return s;
}

std::wstring Reader::wtext()
{
    const std::string bytes = text();
    std::wstring out;
    if (good && !fromUtf8(bytes, out))
        good = false;
    return out;
}

bool sendAll(int fd, const std::vector<uint8_t>& frame)
{
    if (frame.empty())
        return false;
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

/// 1 all read, 0 end of stream before the first byte, -1 short or error.
int readExact(int fd, uint8_t* out, size_t size)
{
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, out + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            return got == 0 ? 0 : -1;
        got += static_cast<size_t>(n);
    }
    return 1;
}

} // namespace

ReadResult readFrame(int fd, std::vector<uint8_t>& body)
{
    uint8_t len[4];
    const int r = readExact(fd, len, 4);
    if (r == 0)
        return ReadResult::Closed;
    if (r < 0)
        return ReadResult::BadFrame;
    const uint32_t n = uint32_t(len[0]) | uint32_t(len[1]) << 8 | uint32_t(len[2]) << 16 | uint32_t(len[3]) << 24;
    if (n == 0 || n > kMaxFrame)
        return ReadResult::BadFrame;
    body.resize(n);
    return readExact(fd, body.data(), n) == 1 ? ReadResult::Frame : ReadResult::BadFrame;
}

} // namespace agentwire
