#include "Frame.h"

#include <cstdio>
#include <cstring>

namespace hvoframe {

Writer::Writer(Kind kind)
{
    body.push_back(kind);
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

Writer& Writer::text(const std::wstring& t)
{
    u32(static_cast<uint32_t>(t.size()));
    body.reserve(body.size() + 4 * t.size());
    for (wchar_t c : t)
        u32(static_cast<uint32_t>(c));
    return *this;
}

Writer& Writer::header(const Header& h)
{
    i32(h.commandId).u32(h.word1).i32(h.word2).i32(h.destinationId).u8(h.flag ? 1 : 0).i32(h.word3);
    return *this;
}

std::vector<uint8_t> Writer::finish(size_t tail) const
{
    std::vector<uint8_t> out;
    out.reserve(body.size() + 4);
    uint32_t n = static_cast<uint32_t>(body.size() + tail);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bool Reader::take(void* out, size_t n)
{
    if (!good || left < n) {
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
    uint8_t v;
    take(&v, 1);
    return v;
}

uint32_t Reader::u32()
{
    uint8_t b[4];
    take(b, 4);
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
           static_cast<uint32_t>(b[3]) << 24;
}

std::wstring Reader::text()
{
    uint32_t count = u32();
    if (!good || count > left / 4) {
        good = false;
        return std::wstring();
    }
    std::wstring t;
    t.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        t[i] = static_cast<wchar_t>(u32());
    return t;
}

Span Reader::rawText()
{
    uint32_t count = u32();
    if (!good || count > left / 4) {
        good = false;
        return {};
    }
    Span s{p, 4 * static_cast<size_t>(count)};
    p += s.size;
    left -= s.size;
    return s;
}

Header Reader::header()
{
    Header h;
    h.commandId = i32();
    h.word1 = u32();
    h.word2 = i32();
    h.destinationId = i32();
    h.flag = u8() != 0;
    h.word3 = i32();
    return h;
}

void Assembler::append(const uint8_t* data, size_t n)
{
    compact();
    buf.insert(buf.end(), data, data + n);
}

void Assembler::compact()
{
    if (start == buf.size()) {
        // All consumed: a buffer grown for a large frame goes back.
        start = 0;
        if (buf.capacity() > kKeptCapacity)
            std::vector<uint8_t>().swap(buf);
        else
            buf.clear();
    } else if (start > 65536 && start * 2 > buf.size()) {
        // Drop consumed bytes once they dominate the buffer.
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(start));
        start = 0;
    }
}

Assembler::Result Assembler::next(Span& body)
{
    compact();
    if (pending() < 4)
        return NEED_MORE;
    const uint8_t* b = buf.data() + start;
    uint32_t n = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                 static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    if (n == 0 || n > kMaxFrame) {
        lastBad = n;
        return BAD_LENGTH;
    }
    if (pending() - 4 < n)
        return NEED_MORE;
    body = {b + 4, n};
    start += 4 + static_cast<size_t>(n);
    return FRAME;
}

std::string jsonEscape(const std::wstring& text)
{
    std::string out;
    char tmp[16];
    auto unit = [&](unsigned v) {
        std::snprintf(tmp, sizeof tmp, "\\u%04x", v);
        out += tmp;
    };
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c == '"')
            out += "\\\"";
        else if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c >= 0x20 && c < 0x7F)
            out.push_back(static_cast<char>(c));
        else if (c <= 0xFFFF)
            unit(c);
        else if (c <= 0x10FFFF) {
            c -= 0x10000;
            unit(0xD800 + (c >> 10));
            unit(0xDC00 + (c & 0x3FF));
        } else
            unit(0xFFFD);
    }
    return out;
}

} // namespace hvoframe
