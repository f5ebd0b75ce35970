// The kernel's 32-bit ipfw rule record, as bytes.
//
// The kernel hands out its rule list as a run of records laid out for a
// 32-bit process: 8-byte counters sit on 4-byte boundaries, so no native
// struct on x86_64 matches it (pcnt would move from 36 to 40). Everything
// here reads and writes through bounded little-endian accessors over byte
// spans; `ip_fw` and the instruction types are views, never casts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ipfw {

// ---- record header (64 bytes) --------------------------------------------
constexpr size_t kOffVersion = 0;     // version and three kernel pointers (16 bytes, ignored)
constexpr size_t kOffActOfs = 16;     // u16: first action word, counted from the first instruction
constexpr size_t kOffCmdLen = 18;     // u16: instruction words
constexpr size_t kOffRuleNum = 20;    // u16
constexpr size_t kOffSet = 22;        // u8 (23: padding)
constexpr size_t kOffSetMasks = 24;   // two u32 set masks (ignored)
constexpr size_t kOffPad = 32;        // u8, then 3 bytes of padding
constexpr size_t kOffPcnt = 36;       // u64
constexpr size_t kOffBcnt = 44;       // u64
constexpr size_t kOffTimestamp = 52;  // u32
constexpr size_t kOffReserved = 56;   // 8 bytes
constexpr size_t kHeaderSize = 64;    // instructions start here

static_assert(kOffActOfs == kOffVersion + 16, "act_ofs follows version and 3 pointers");
static_assert(kOffCmdLen == kOffActOfs + 2, "cmd_len");
static_assert(kOffRuleNum == kOffCmdLen + 2, "rulenum");
static_assert(kOffSet == kOffRuleNum + 2, "set");
static_assert(kOffSetMasks == kOffSet + 2, "set masks after set and its padding byte");
static_assert(kOffPad == kOffSetMasks + 8, "pad");
static_assert(kOffPcnt == kOffPad + 4, "pcnt on a 4-byte boundary (32-bit layout)");
static_assert(kOffBcnt == kOffPcnt + 8, "bcnt");
static_assert(kOffTimestamp == kOffBcnt + 8, "timestamp");
static_assert(kOffReserved == kOffTimestamp + 4, "reserved");
static_assert(kHeaderSize == kOffReserved + 8, "header is 64 bytes");

constexpr uint16_t kDefaultRuleNum = 65535;
constexpr uint8_t kDefaultRuleSet = 31;
constexpr size_t kWord = 4;

// ---- instruction word ------------------------------------------------------
constexpr size_t kInsnOpcode = 0;  // u8
constexpr size_t kInsnLen = 1;     // u8: F_LEN | F_OR | F_NOT
constexpr size_t kInsnArg1 = 2;    // u16
static_assert(kInsnArg1 + 2 == kWord, "first instruction word");

constexpr uint8_t F_LEN_MASK = 0x3f;
constexpr uint8_t F_OR = 0x40;
constexpr uint8_t F_NOT = 0x80;

// Payload offsets from an instruction's start.
constexpr size_t kInsnU32 = 4;          // 27, 28, 32, 33, 34, 42 and the set base
constexpr size_t kInsnIpAddr = 4;       // 1, 5; pairs for 2, 6
constexpr size_t kInsnIpMask = 8;
constexpr size_t kInsnSetBitmap = 8;    // 4, 8
constexpr size_t kInsnU16Pairs = 4;     // 9, 10, 13, 21, 22, 25
constexpr size_t kInsnLimitMask = 5;    // 39: +4 pad, +5 mask, +6 connection limit
constexpr size_t kInsnLimitConn = 6;
constexpr size_t kInsnLogMax = 4;       // 41
constexpr size_t kInsnLogLeft = 8;
constexpr size_t kInsnSaLen = 4;        // 53: a 16-byte socket address
constexpr size_t kInsnSaFamily = 5;
constexpr size_t kInsnSaPort = 6;
constexpr size_t kInsnSaAddr = 8;
constexpr size_t kInsnSaZero = 12;
constexpr size_t kInsnMacDst = 4;       // 12: four 6-byte fields
constexpr size_t kInsnMacSrc = 10;
constexpr size_t kInsnMacDstMask = 16;
constexpr size_t kInsnMacSrcMask = 22;
constexpr size_t kInsnIfUnit = 4;       // 17, 18, 19: int32 unit, or the address (net)
constexpr size_t kInsnIfName = 8;       // 16 bytes, NUL-padded
constexpr size_t kIfNameSize = 16;
static_assert(kInsnLimitConn == kInsnLimitMask + 1, "limit fields");
static_assert(kInsnSaZero + 8 == 5 * kWord, "forward instruction is 5 words");
static_assert(kInsnMacSrcMask + 6 == 7 * kWord, "MAC instruction is 7 words");
static_assert(kInsnIfName + kIfNameSize == 6 * kWord, "interface instruction is 6 words");

// F_LEN of the fixed-size instructions.
constexpr uint8_t kLenAddr = 2;
constexpr uint8_t kLenU32 = 2;
constexpr uint8_t kLenLimit = 2;
constexpr uint8_t kLenLog = 3;
constexpr uint8_t kLenForward = 5;
constexpr uint8_t kLenMac = 7;
constexpr uint8_t kLenIface = 6;

enum Opcode : uint8_t {
    O_NOP = 0,
    O_IP_SRC = 1,
    O_IP_SRC_MASK = 2,
    O_IP_SRC_ME = 3,
    O_IP_SRC_SET = 4,
    O_IP_DST = 5,
    O_IP_DST_MASK = 6,
    O_IP_DST_ME = 7,
    O_IP_DST_SET = 8,
    O_IP_SRCPORT = 9,
    O_IP_DSTPORT = 10,
    O_PROTO = 11,
    O_MACADDR2 = 12,
    O_MAC_TYPE = 13,
    O_LAYER2 = 14,
    O_IN = 15,
    O_FRAG = 16,
    O_RECV = 17,
    O_XMIT = 18,
    O_VIA = 19,
    O_IPOPT = 20,
    O_IPLEN = 21,
    O_IPID = 22,
    O_IPTOS = 23,
    O_IPPRECEDENCE = 24,
    O_IPTTL = 25,
    O_IPVER = 26,
    O_UID = 27,
    O_GID = 28,
    O_ESTAB = 29,
    O_TCPFLAGS = 30,
    O_TCPWIN = 31,
    O_TCPSEQ = 32,
    O_TCPACK = 33,
    O_ICMPTYPE = 34,
    O_TCPOPTS = 35,
    O_VERREVPATH = 36,
    O_PROBE_STATE = 37,
    O_KEEP_STATE = 38,
    O_LIMIT = 39,
    O_LIMIT_PARENT = 40,
    O_LOG = 41,
    O_PROB = 42,
    O_CHECK_STATE = 43,
    O_ACCEPT = 44,
    O_DENY = 45,
    O_REJECT = 46,
    O_COUNT = 47,
    O_SKIPTO = 48,
    O_PIPE = 49,
    O_QUEUE = 50,
    O_DIVERT = 51,
    O_TEE = 52,
    O_FORWARD_IP = 53,
    O_FORWARD_MAC = 54,
    O_IPSEC = 55,
};

// O_REJECT arguments that are not ICMP unreachable codes.
constexpr uint16_t kRejectPlain = 1;   // "reject" (ICMP host unreachable)
constexpr uint16_t kRejectRst = 256;   // "reset"

// ---- bounded access ----------------------------------------------------------

/// A read-only run of bytes. Every read checks its bounds; nothing points
/// past `size`.
struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;

    ByteSpan() = default;
    ByteSpan(const uint8_t* d, size_t n) : data(d), size(n) {}
    explicit ByteSpan(const std::vector<uint8_t>& v) : data(v.data()), size(v.size()) {}

    /// True when [off, off + n) lies inside the span (computed without overflow).
    bool has(size_t off, size_t n) const { return off <= size && n <= size - off; }
    /// The bytes [off, off + n), or an empty span when they do not all lie inside.
    ByteSpan sub(size_t off, size_t n) const { return has(off, n) ? ByteSpan(data + off, n) : ByteSpan(); }
};

std::optional<uint8_t> readU8(ByteSpan s, size_t off);
std::optional<uint16_t> readLE16(ByteSpan s, size_t off);
std::optional<uint32_t> readLE32(ByteSpan s, size_t off);
std::optional<uint64_t> readLE64(ByteSpan s, size_t off);
/// Network order (big-endian) 16- and 32-bit values.
std::optional<uint16_t> readBE16(ByteSpan s, size_t off);
std::optional<uint32_t> readBE32(ByteSpan s, size_t off);

/// Writers into a growable byte vector: each writes inside the vector only
/// and answers false when the field does not fit.
bool writeU8(std::vector<uint8_t>& v, size_t off, uint8_t x);
bool writeLE16(std::vector<uint8_t>& v, size_t off, uint16_t x);
bool writeLE32(std::vector<uint8_t>& v, size_t off, uint32_t x);
bool writeLE64(std::vector<uint8_t>& v, size_t off, uint64_t x);
bool writeBE32(std::vector<uint8_t>& v, size_t off, uint32_t x);
bool writeBytes(std::vector<uint8_t>& v, size_t off, const void* p, size_t n);

// ---- views -----------------------------------------------------------------

/// One instruction: its F_LEN words, as cut out of its part by `walkPart`.
/// `bytes.size` bounds every payload read, so nothing is read past F_LEN.
struct ipfw_insn {
    ByteSpan bytes;

    uint8_t opcode() const { return readU8(bytes, kInsnOpcode).value_or(0); }
    uint8_t lenByte() const { return readU8(bytes, kInsnLen).value_or(0); }
    uint8_t flen() const { return lenByte() & F_LEN_MASK; }
    bool isNot() const { return (lenByte() & F_NOT) != 0; }
    bool isOr() const { return (lenByte() & F_OR) != 0; }
    uint16_t arg1() const { return readLE16(bytes, kInsnArg1).value_or(0); }
    /// Whole words of this instruction that lie inside its part (at most F_LEN).
    size_t wordsInside() const;
    /// The instruction's own bytes: F_LEN words, clipped to its part.
    ByteSpan own() const { return bytes.sub(0, wordsInside() * kWord); }
};

/// Address instructions (1–8).
struct _ipfw_insn_ip : ipfw_insn {};
/// 16-bit pair lists (9, 10, 13, 21, 22, 25).
struct _ipfw_insn_u16 : ipfw_insn {};

/// One rule record of the kernel list: header and instructions. Built only
/// by `RuleList` once the record is known to lie inside the list.
struct ip_fw {
    ByteSpan bytes;  // 64 + 4 * cmd_len bytes

    uint16_t act_ofs() const { return readLE16(bytes, kOffActOfs).value_or(0); }
    uint16_t cmd_len() const { return readLE16(bytes, kOffCmdLen).value_or(0); }
    uint16_t rulenum() const { return readLE16(bytes, kOffRuleNum).value_or(0); }
    uint8_t set() const { return readU8(bytes, kOffSet).value_or(0); }
    uint64_t pcnt() const { return readLE64(bytes, kOffPcnt).value_or(0); }
    uint64_t bcnt() const { return readLE64(bytes, kOffBcnt).value_or(0); }
    uint32_t timestamp() const { return readLE32(bytes, kOffTimestamp).value_or(0); }
    bool isDefaultRule() const { return rulenum() == kDefaultRuleNum && set() == kDefaultRuleSet; }

    /// Match instructions [0, act_ofs) and action instructions [act_ofs, cmd_len).
    ByteSpan matchPart() const;
    ByteSpan actionPart() const;
};

/// Result of checking a whole list before it is walked.
struct ListCheck {
    bool ok = false;
    std::string problem;             // what is wrong and where, when !ok
    std::vector<ip_fw> records;      // every record, in order, the default rule last
};

/// Checks a list of `size` bytes: every record lies inside the list,
/// act_ofs <= cmd_len, and a default rule (65535, set 31) ends the walk. Bytes
/// after the default rule are not looked at.
ListCheck checkRuleList(ByteSpan list);

/// Walks the instructions of one part. Calls `fn(insn)` for each; stops at an
/// instruction with F_LEN 0 (which would loop for ever) or one that claims
/// more words than the part has left, and reports which in `stop`.
enum class WalkStop { End, ZeroLength, PastEnd };
template <typename Fn>
WalkStop walkPart(ByteSpan part, Fn&& fn)
{
    size_t off = 0;
    while (part.has(off, kWord)) {
        size_t flen = part.data[off + kInsnLen] & F_LEN_MASK;
        if (flen == 0)
            return WalkStop::ZeroLength;
        if (!part.has(off, flen * kWord))
            return WalkStop::PastEnd;
        fn(ipfw_insn{part.sub(off, flen * kWord)});
        off += flen * kWord;
    }
    return WalkStop::End;
}

/// Bytes of a record: header with the given fields, then the instructions.
std::vector<uint8_t> makeRecord(uint16_t rulenum, uint8_t set, uint16_t actOfs,
                                const std::vector<uint8_t>& instructions);
/// The kernel's default rule: 65535, set 31, O_ACCEPT.
std::vector<uint8_t> defaultRuleRecord();

} // namespace ipfw
