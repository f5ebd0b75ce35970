#include "IpfwLayout.h"

#include <cstring>

namespace ipfw {

std::optional<uint8_t> readU8(ByteSpan s, size_t off)
{
    if (!s.has(off, 1))
        return std::nullopt;
    return s.data[off];
}

std::optional<uint16_t> readLE16(ByteSpan s, size_t off)
{
    if (!s.has(off, 2))
        return std::nullopt;
    return static_cast<uint16_t>(s.data[off] | (s.data[off + 1] << 8));
}

std::optional<uint32_t> readLE32(ByteSpan s, size_t off)
{
    if (!s.has(off, 4))
        return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 4; i-- > 0;)
        v = (v << 8) | s.data[off + i];
    return v;
}

std::optional<uint64_t> readLE64(ByteSpan s, size_t off)
{
    if (!s.has(off, 8))
        return std::nullopt;
    uint64_t v = 0;
    for (size_t i = 8; i-- > 0;)
        v = (v << 8) | s.data[off + i];
    return v;
}

std::optional<uint16_t> readBE16(ByteSpan s, size_t off)
{
    if (!s.has(off, 2))
        return std::nullopt;
    return static_cast<uint16_t>((s.data[off] << 8) | s.data[off + 1]);
}

std::optional<uint32_t> readBE32(ByteSpan s, size_t off)
{
    if (!s.has(off, 4))
        return std::nullopt;
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = (v << 8) | s.data[off + i];
    return v;
}

namespace {
bool fits(const std::vector<uint8_t>& v, size_t off, size_t n)
{
    return off <= v.size() && n <= v.size() - off;
}

template <typename T>
bool writeLE(std::vector<uint8_t>& v, size_t off, T x)
{
    if (!fits(v, off, sizeof(T)))
        return false;
    for (size_t i = 0; i < sizeof(T); ++i)
        v[off + i] = static_cast<uint8_t>(static_cast<uint64_t>(x) >> (8 * i));
    return true;
}
} // namespace

bool writeU8(std::vector<uint8_t>& v, size_t off, uint8_t x) { return writeLE(v, off, x); }
bool writeLE16(std::vector<uint8_t>& v, size_t off, uint16_t x) { return writeLE(v, off, x); }
bool writeLE32(std::vector<uint8_t>& v, size_t off, uint32_t x) { return writeLE(v, off, x); }
bool writeLE64(std::vector<uint8_t>& v, size_t off, uint64_t x) { return writeLE(v, off, x); }

bool writeBE32(std::vector<uint8_t>& v, size_t off, uint32_t x)
{
    if (!fits(v, off, 4))
        return false;
    for (size_t i = 0; i < 4; ++i)
        v[off + i] = static_cast<uint8_t>(x >> (8 * (3 - i)));
    return true;
}

bool writeBytes(std::vector<uint8_t>& v, size_t off, const void* p, size_t n)
{
    if (!fits(v, off, n))
        return false;
    if (n != 0)
        std::memcpy(v.data() + off, p, n);
    return true;
}

size_t ipfw_insn::wordsInside() const
{
    size_t whole = bytes.size / kWord;
    size_t f = flen();
    return f < whole ? f : whole;
}

ByteSpan ip_fw::matchPart() const
{
    size_t act = act_ofs();
    size_t len = cmd_len();
    if (act > len)
        act = len;
    return bytes.sub(kHeaderSize, act * kWord);
}

ByteSpan ip_fw::actionPart() const
{
    size_t act = act_ofs();
    size_t len = cmd_len();
    if (act > len)
        return ByteSpan();
    return bytes.sub(kHeaderSize + act * kWord, (len - act) * kWord);
}

ListCheck checkRuleList(ByteSpan list)
{
    ListCheck out;
    size_t off = 0;
    for (size_t index = 0;; ++index) {
        if (!list.has(off, kHeaderSize)) {
            out.problem = "record " + std::to_string(index) + " at byte " + std::to_string(off) +
                          ": header past the end of the list (" + std::to_string(list.size) + " bytes)";
            if (off == list.size)
                out.problem = "no default rule before the end of the list (" + std::to_string(index) +
                              " records, " + std::to_string(list.size) + " bytes)";
            out.records.clear();
            return out;
        }
        ByteSpan header = list.sub(off, kHeaderSize);
        uint16_t cmdLen = *readLE16(header, kOffCmdLen);
        uint16_t actOfs = *readLE16(header, kOffActOfs);
        uint64_t recSize = kHeaderSize + uint64_t(cmdLen) * kWord;
        if (!list.has(off, recSize)) {
            out.problem = "record " + std::to_string(index) + " at byte " + std::to_string(off) +
                          ": cmd_len " + std::to_string(cmdLen) + " runs past the end of the list (" +
                          std::to_string(list.size) + " bytes)";
            out.records.clear();
            return out;
        }
        if (actOfs > cmdLen) {
            out.problem = "record " + std::to_string(index) + " at byte " + std::to_string(off) +
                          ": act_ofs " + std::to_string(actOfs) + " > cmd_len " + std::to_string(cmdLen);
            out.records.clear();
            return out;
        }
        ip_fw rec{list.sub(off, recSize)};
        out.records.push_back(rec);
        off += recSize;
        if (rec.isDefaultRule()) {
            out.ok = true;
            return out;
        }
    }
}

std::vector<uint8_t> makeRecord(uint16_t rulenum, uint8_t set, uint16_t actOfs,
                                const std::vector<uint8_t>& instructions)
{
    std::vector<uint8_t> rec(kHeaderSize + instructions.size(), 0);
    writeLE16(rec, kOffActOfs, actOfs);
    writeLE16(rec, kOffCmdLen, static_cast<uint16_t>(instructions.size() / kWord));
    writeLE16(rec, kOffRuleNum, rulenum);
    writeU8(rec, kOffSet, set);
    writeBytes(rec, kHeaderSize, instructions.data(), instructions.size());
    return rec;
}

std::vector<uint8_t> defaultRuleRecord()
{
    return makeRecord(kDefaultRuleNum, kDefaultRuleSet, 0, {O_ACCEPT, 1, 0, 0});
}

} // namespace ipfw
