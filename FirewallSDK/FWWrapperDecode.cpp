// FWWrapper's reading side: fetching the kernel's rule list and decoding
// its records. Every byte is read through the bounded views of IpfwLayout.h;
// the list is checked whole before anything is decoded.
#include "FWWrapper.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FWTrace.h"
#include "RuleListSource.h"
#include "Trace.h"

namespace FirewallSDK {

const FWKeyword ipopts[] = {{"ssrr", 0x02}, {"lsrr", 0x01}, {"rr", 0x04}, {"ts", 0x08}, {"ip option", 0}};
const FWKeyword iptos[] = {{"lowdelay", 0x10},   {"throughput", 0x08}, {"reliability", 0x04},
                           {"mincost", 0x02},    {"congestion", 0x01}, {"ecntransport", 0x02},
                           {"ip tos option", 0}};
const FWKeyword tcpflags[] = {{"syn", 0x02}, {"fin", 0x01}, {"ack", 0x10}, {"psh", 0x08},
                              {"rst", 0x04}, {"urg", 0x20}, {"tcp flag", 0}};
const FWKeyword tcpopts[] = {{"mss", 0x01}, {"maxseg", 0x01},    {"window", 0x02}, {"sack", 0x04},
                             {"ts", 0x08},  {"timestamp", 0x08}, {"cc", 0x10},     {"tcp option", 0}};
const FWKeyword limitmasks[] = {{"all", 0x0F},      {"src-addr", 0x01}, {"src-port", 0x02},
                                {"dst-addr", 0x04}, {"dst-port", 0x08}, {"", 0}};

namespace {

using namespace ipfw;

/// Largest list fetched: far above anything a kernel holds; a source that
/// keeps reporting a full buffer stops here instead of growing for ever.
constexpr size_t kMaxRuleList = 64u << 20;

FWDetailedData::FieldFlags flagOf(const ipfw_insn& insn)
{
    if (insn.isNot())
        return FWDetailedData::FIELD_NOT;
    if (insn.isOr())
        return FWDetailedData::FIELD_OR;
    return FWDetailedData::FIELD_PLAIN;
}

std::string dottedNet(uint32_t hostOrderValue)
{
    struct in_addr a;
    a.s_addr = htonl(hostOrderValue);
    char buf[INET_ADDRSTRLEN];
    return ::inet_ntop(AF_INET, &a, buf, sizeof buf) ? std::string(buf) : std::string();
}

/// A flag list: set bits give the keyword, cleared bits "!keyword".
std::string flagList(const FWKeyword* table, uint16_t arg1)
{
    uint8_t set = static_cast<uint8_t>(arg1 & 0xff);
    uint8_t clear = static_cast<uint8_t>(arg1 >> 8);
    std::string out;
    auto add = [&out](const std::string& word) {
        if (!out.empty())
            out += ',';
        out += word;
    };
    for (const FWKeyword* row = table; row->value != 0; ++row) {
        if (set & row->value) {
            set = static_cast<uint8_t>(set & ~row->value);
            add(row->name);
        }
        if (clear & row->value) {
            clear = static_cast<uint8_t>(clear & ~row->value);
            add(std::string("!") + row->name);
        }
    }
    return out;
}

const char* opcodeName(uint8_t op)
{
    static const char* const names[] = {
        "O_NOP",         "O_IP_SRC",     "O_IP_SRC_MASK", "O_IP_SRC_ME",    "O_IP_SRC_SET",   "O_IP_DST",
        "O_IP_DST_MASK", "O_IP_DST_ME",  "O_IP_DST_SET",  "O_IP_SRCPORT",   "O_IP_DSTPORT",   "O_PROTO",
        "O_MACADDR2",    "O_MAC_TYPE",   "O_LAYER2",      "O_IN",           "O_FRAG",         "O_RECV",
        "O_XMIT",        "O_VIA",        "O_IPOPT",       "O_IPLEN",        "O_IPID",         "O_IPTOS",
        "O_IPPRECEDENCE", "O_IPTTL",     "O_IPVER",       "O_UID",          "O_GID",          "O_ESTAB",
        "O_TCPFLAGS",    "O_TCPWIN",     "O_TCPSEQ",      "O_TCPACK",       "O_ICMPTYPE",     "O_TCPOPTS",
        "O_VERREVPATH",  "O_PROBE_STATE", "O_KEEP_STATE", "O_LIMIT",        "O_LIMIT_PARENT", "O_LOG",
        "O_PROB",        "O_CHECK_STATE", "O_ACCEPT",     "O_DENY",         "O_REJECT",       "O_COUNT",
        "O_SKIPTO",      "O_PIPE",       "O_QUEUE",       "O_DIVERT",       "O_TEE",          "O_FORWARD_IP",
        "O_FORWARD_MAC", "O_IPSEC",
    };
    return op < sizeof names / sizeof names[0] ? names[op] : "O_UNKNOWN";
}

const char* unreachName(uint16_t code)
{
    switch (code) {
    case 0: return "net";
    case 2: return "protocol";
    case 3: return "port";
    case 4: return "needfrag";
    case 5: return "srcfail";
    case 6: return "net-unknown";
    case 7: return "host-unknown";
    case 8: return "isolated";
    case 9: return "net-prohib";
    case 10: return "host-prohib";
    case 11: return "tosnet";
    case 12: return "toshost";
    case 13: return "filter-prohib";
    case 14: return "host-precedence";
    case 15: return "precedence-cutoff";
    default: return nullptr;
    }
}

const char* unreachSymbol(uint16_t code)
{
    static const char* const names[] = {
        "ICMP_UNREACH_NET",         "ICMP_UNREACH_HOST",           "ICMP_UNREACH_PROTOCOL",
        "ICMP_UNREACH_PORT",        "ICMP_UNREACH_NEEDFRAG",       "ICMP_UNREACH_SRCFAIL",
        "ICMP_UNREACH_NET_UNKNOWN", "ICMP_UNREACH_HOST_UNKNOWN",   "ICMP_UNREACH_ISOLATED",
        "ICMP_UNREACH_NET_PROHIB",  "ICMP_UNREACH_HOST_PROHIB",    "ICMP_UNREACH_TOSNET",
        "ICMP_UNREACH_TOSHOST",     "ICMP_UNREACH_FILTER_PROHIB",  "ICMP_UNREACH_HOST_PRECEDENCE",
        "ICMP_UNREACH_PRECEDENCE_CUTOFF",
    };
    return code < 16 ? names[code] : "UNREACH";
}

void traceStop(WalkStop stop, const char* fn, uint16_t rulenum)
{
    if (stop == WalkStop::ZeroLength)
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Rule %u: instruction of length 0, rest of the part not decoded\n",
                   fn, static_cast<unsigned>(rulenum));
    else if (stop == WalkStop::PastEnd)
        WARD_TRACE(fwCommandFlowvalue, 2,
                   L"%s - Rule %u: instruction runs past the end of its part, rest of the part not decoded\n", fn,
                   static_cast<unsigned>(rulenum));
}

} // namespace

// ---- reading the list ------------------------------------------------------

int FWWrapper::initFirewallManager()
{
    m_rawSocket = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (m_rawSocket < 0) {
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Failed to open raw socket. You need to have root permission.\n",
                   "initFirewallManager");
        throw FirewallException("Failed to open raw socket", FW_RAW_SOCKET_FAILED);
    }
    return 1;
}

int FWWrapper::quaryIPFW()
{
    const char* fn = "quaryIPFW";
    size_t offered = 512;
    size_t reported = 512;
    while (reported >= offered) {
        size_t size = reported * 2 + 200;
        if (size > kMaxRuleList) {
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Rule list larger than %u bytes\n", fn,
                       static_cast<unsigned>(kMaxRuleList));
            return 0;
        }
        offered = reported = size;
        void* grown = std::realloc(m_ruleListBuffer, size);
        if (grown == nullptr) {
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Failed to reallco memory\n", fn);
            return 0;
        }
        m_ruleListBuffer = static_cast<unsigned char*>(grown);
        std::memset(m_ruleListBuffer, 0, size);
        socklen_t len = static_cast<socklen_t>(size);
        // getsockopt(m_rawSocket, IPPROTO_IP, IP_FW_GET, ...) on the original
        // platform; Linux has no such option.
        if (ipfw::getRuleList(m_rawSocket, m_ruleListBuffer, &len) != 0) {
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Getsockopt failed\n", fn);
            return 0;
        }
        reported = len < size ? len : size;
    }
    m_ruleListSize = static_cast<uint32_t>(reported);
    return 1;
}

void FWWrapper::releaseRuleList()
{
    std::free(m_ruleListBuffer);
    m_ruleListBuffer = nullptr;
    m_ruleListSize = 0;
    if (m_rawSocket >= 0) {
        ::close(m_rawSocket);
        m_rawSocket = -1;
    }
}

int FWWrapper::getFirewallRules(std::vector<FWExtDetailedData>& rules)
{
    const char* fn = "getFirewallRules";
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Called\n", fn);
    releaseRuleList();
    initFirewallManager();
    struct Release {
        FWWrapper* self;
        ~Release() { self->releaseRuleList(); }
    } release{this};

    if (quaryIPFW() == 0) {
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Failed to fetch the rule list\n", fn);
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
    ListCheck check = checkRuleList(ByteSpan(m_ruleListBuffer, m_ruleListSize));
    if (!check.ok) {
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Malformed rule list: %s\n", fn, check.problem.c_str());
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
    for (ip_fw& record : check.records) {
        FWExtDetailedData rule;
        rule.isLogging(false);  // on only when the action part holds O_LOG
        rule.setRuleSet(record.set());
        rule.setRuleNo(record.rulenum());
        rule.setTimeStamp(record.timestamp());
        rule.setPackCount(record.pcnt());
        rule.setByteCount(record.bcnt());
        getActionFromRule(rule, &record);
        getBodyFromRule(rule, &record);
        if (rule.getProtocolByRef().empty())
            rule.setProtocol(FWDetailedData::FIELD_PLAIN, "ip");
        if (rule.getSrcIpByRef().empty())
            rule.setSrcIp(FWDetailedData::FIELD_PLAIN, "any");
        if (rule.getDestIpByRef().empty())
            rule.setDestIp(FWDetailedData::FIELD_PLAIN, "any");
        rules.push_back(rule);
    }
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Finished\n", fn);
    return 1;
}

// ---- action part -----------------------------------------------------------

int FWWrapper::getActionFromRule(FWExtDetailedData& rule, ip_fw* record)
{
    const char* fn = "getActionFromRule";
    WalkStop stop = walkPart(record->actionPart(), [&](const ipfw_insn& insn) {
        const uint8_t op = insn.opcode();
        const uint16_t arg1 = insn.arg1();
        WARD_TRACE(fwCommandFlowvalue, 4, L"%s - %s\n", fn, opcodeName(op));
        switch (op) {
        case O_LOG: {
            rule.isLogging(true);
            uint32_t max = readLE32(insn.bytes, kInsnLogMax).value_or(0);
            if (max != 0)
                rule.setLogAmount(max);
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - No action in ipfw rule table. Not a problem.\n", fn);
            break;
        }
        case O_CHECK_STATE: rule.setAction(std::string("check-state")); break;
        case O_ACCEPT: rule.setAction(std::string("allow")); break;
        case O_DENY: rule.setAction(std::string("deny")); break;
        case O_COUNT: rule.setAction(std::string("count")); break;
        case O_REJECT:
            if (arg1 == kRejectRst) {
                WARD_TRACE(fwCommandFlowvalue, 4, L"%s - ICMP_REJECT_RST\n", fn);
                rule.setAction(std::string("reset"));
            } else if (arg1 == kRejectPlain) {
                WARD_TRACE(fwCommandFlowvalue, 4, L"%s - ICMP_UNREACH_HOST\n", fn);
                rule.setAction(std::string("reject"));
            } else {
                WARD_TRACE(fwCommandFlowvalue, 4, L"%s - %s\n", fn, unreachSymbol(arg1));
                rule.setAction(std::string("unreach"));
                const char* name = unreachName(arg1);
                rule.setActionOpt(name ? std::string(name) : std::to_string(arg1));
            }
            break;
        case O_SKIPTO:
        case O_PIPE:
        case O_QUEUE:
        case O_DIVERT:
        case O_TEE: {
            static const char* const words[] = {"skipto", "pipe", "queue", "divert", "tee"};
            rule.setAction(std::string(words[op - O_SKIPTO]));
            rule.setActionOptPort(arg1);
            break;
        }
        case O_FORWARD_IP: {
            std::optional<uint32_t> addr = readBE32(insn.bytes, kInsnSaAddr);
            if (!addr) {
                WARD_TRACE(fwCommandFlowvalue, 2, L"%s - No action in ipfw rule table. Not a problem.\n", fn);
                break;
            }
            rule.setAction(std::string("forward"));
            rule.setActionOptIp(dottedNet(*addr));
            uint16_t port = readLE16(insn.bytes, kInsnSaPort).value_or(0);
            if (port != 0)
                rule.setActionOptPort(port);
            break;
        }
        default:
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - No action in ipfw rule table. Not a problem.\n", fn);
            break;
        }
    });
    traceStop(stop, fn, record->rulenum());
    return 1;
}

// ---- match part --------------------------------------------------------------

int FWWrapper::getBodyFromRule(FWExtDetailedData& rule, ip_fw* record)
{
    const char* fn = "getBodyFromRule";
    WalkStop stop = walkPart(record->matchPart(), [&](const ipfw_insn& insn) {
        const uint8_t op = insn.opcode();
        const uint16_t arg1 = insn.arg1();
        const size_t words = insn.wordsInside();
        auto noOption = [&] { WARD_TRACE(fwCommandFlowvalue, 4, L"%s - No option\n", fn); };
        WARD_TRACE(fwCommandFlowvalue, 4, L"%s - %s\n", fn, opcodeName(op));
        switch (op) {
        case O_IP_SRC:
        case O_IP_SRC_MASK:
        case O_IP_SRC_ME:
        case O_IP_SRC_SET:
        case O_IP_DST:
        case O_IP_DST_MASK:
        case O_IP_DST_ME:
        case O_IP_DST_SET: {
            // Only "me" lives in the first word; the others need a payload.
            bool me = op == O_IP_SRC_ME || op == O_IP_DST_ME;
            if (!me && words < 2) {
                noOption();
                break;
            }
            _ipfw_insn_ip ip;
            ip.bytes = insn.bytes;
            getIP(rule, &ip, op <= O_IP_SRC_SET ? IP_SRC : IP_DEST);
            break;
        }
        case O_IP_SRCPORT:
        case O_IP_DSTPORT:
        case O_MAC_TYPE: {
            if (words < 2) {
                noOption();
                break;
            }
            _ipfw_insn_u16 u;
            u.bytes = insn.bytes;
            getUint16(rule, &u,
                      op == O_IP_SRCPORT ? TWO_BYTE_SRC_PORT : op == O_IP_DSTPORT ? TWO_BYTE_DEST_PORT : TWO_BYTE_MAC_TYPE);
            break;
        }
        case O_PROTO: {
            struct protoent pe;
            struct protoent* found = nullptr;
            char buf[1024];
            std::string name;
            if (::getprotobynumber_r(arg1, &pe, buf, sizeof buf, &found) == 0 && found != nullptr &&
                found->p_name != nullptr)
                name = found->p_name;
            else
                name = std::to_string(arg1);
            rule.setProtocol(flagOf(insn), name);
            break;
        }
        case O_MACADDR2: {
            if (words < kLenMac) {
                noOption();
                break;
            }
            unsigned char f[4][6];
            std::memcpy(f[0], insn.bytes.data + kInsnMacDst, 6);
            std::memcpy(f[1], insn.bytes.data + kInsnMacDstMask, 6);
            std::memcpy(f[2], insn.bytes.data + kInsnMacSrc, 6);
            std::memcpy(f[3], insn.bytes.data + kInsnMacSrcMask, 6);
            getMacAddr(rule, f[0], f[1], MAC_DEST);
            getMacAddr(rule, f[2], f[3], MAC_SRC);
            break;
        }
        case O_LAYER2: rule.getLayer2() += "layer2"; break;
        case O_FRAG: rule.getFrag() += "frag"; break;
        case O_IN: {
            FWTrafficDirection d = rule.getTrafficDirection();
            bool out = insn.isNot();
            FWTrafficDirection next;
            if (d == FW_DIRECTION_UNSET)
                next = out ? FW_DIRECTION_OUT : FW_DIRECTION_IN;
            else if (d == FW_DIRECTION_IN)
                next = out ? FW_DIRECTION_BOTH : FW_DIRECTION_IN;
            else if (d == FW_DIRECTION_OUT)
                next = out ? FW_DIRECTION_OUT : FW_DIRECTION_BOTH;
            else
                next = FW_DIRECTION_BOTH;
            rule.setTrafficDirection(next);
            break;
        }
        case O_RECV:
        case O_XMIT:
        case O_VIA: {
            if (words < kLenIface) {
                noOption();
                break;
            }
            // The name field holds at most 16 bytes, NUL-terminated or not.
            const char* p = reinterpret_cast<const char*>(insn.bytes.data + kInsnIfName);
            size_t n = ::strnlen(p, kIfNameSize);
            std::string name;
            if (n != 0)
                name = std::string(p, n) + std::to_string(static_cast<int32_t>(*readLE32(insn.bytes, kInsnIfUnit)));
            else
                name = dottedNet(*readBE32(insn.bytes, kInsnIfUnit));
            rule.setInterface(op == O_RECV ? "recv" : op == O_XMIT ? "xmit" : "via", name);
            break;
        }
        case O_IPOPT: rule.getIpOpt() += flagList(ipopts, arg1); break;
        case O_IPTOS: rule.getIpTos() += flagList(iptos, arg1); break;
        case O_TCPOPTS: rule.getTcpOpts() += flagList(tcpopts, arg1); break;
        case O_TCPFLAGS:
            if ((arg1 & 0xff) == 0x02 && (arg1 >> 8) == 0x10)
                rule.getTcpFlags() += "setup";
            else
                rule.getTcpFlags() += flagList(tcpflags, arg1);
            break;
        case O_IPLEN:
        case O_IPID:
        case O_IPTTL: {
            std::string& text = op == O_IPLEN ? rule.getIpLen() : op == O_IPID ? rule.getIpId() : rule.getIpTtl();
            if (insn.flen() == 1) {
                text += std::to_string(arg1);
            } else {
                _ipfw_insn_u16 u;
                u.bytes = insn.bytes;
                getUint16(rule, &u, op == O_IPLEN ? TWO_BYTE_IP_LEN : op == O_IPID ? TWO_BYTE_IP_ID : TWO_BYTE_IP_TTL);
            }
            break;
        }
        case O_IPPRECEDENCE: rule.getIpPrecedence() += std::to_string(arg1 >> 5); break;
        case O_IPVER: rule.getIpVer() += std::to_string(arg1); break;
        case O_UID:
        case O_GID: {
            std::optional<uint32_t> id = readLE32(insn.bytes, kInsnU32);
            if (!id) {
                noOption();
                break;
            }
            // Names of any length: the buffers grow until the entry fits.
            std::string name;
            std::vector<char> buf(1024);
            for (;;) {
                int rc;
                if (op == O_UID) {
                    struct passwd pw;
                    struct passwd* found = nullptr;
                    rc = ::getpwuid_r(*id, &pw, buf.data(), buf.size(), &found);
                    if (rc == 0 && found != nullptr)
                        name = found->pw_name;
                } else {
                    struct group gr;
                    struct group* found = nullptr;
                    rc = ::getgrgid_r(*id, &gr, buf.data(), buf.size(), &found);
                    if (rc == 0 && found != nullptr)
                        name = found->gr_name;
                }
                if (rc == ERANGE && buf.size() < (1u << 20)) {
                    buf.resize(buf.size() * 2);
                    continue;
                }
                break;
            }
            if (name.empty())
                name = std::to_string(*id);
            (op == O_UID ? rule.getUid() : rule.getGid()) += name;
            break;
        }
        case O_ESTAB: rule.getEstab() += "established"; break;
        case O_TCPWIN: rule.getTcpWin() += std::to_string(*readBE16(insn.bytes, kInsnArg1)); break;
        case O_TCPSEQ:
        case O_TCPACK: {
            std::optional<uint32_t> v = readBE32(insn.bytes, kInsnU32);
            if (!v) {
                noOption();
                break;
            }
            (op == O_TCPSEQ ? rule.getTcpSeq() : rule.getTcpAck()) += std::to_string(*v);
            break;
        }
        case O_ICMPTYPE: {
            std::optional<uint32_t> bits = readLE32(insn.bytes, kInsnU32);
            if (!bits) {
                noOption();
                break;
            }
            std::string text;
            for (unsigned i = 0; i < 32; ++i) {
                if (*bits & (1u << i)) {
                    if (!text.empty())
                        text += ',';
                    text += std::to_string(i);
                }
            }
            rule.getIcmpType() += text;
            break;
        }
        case O_VERREVPATH: rule.getVerrevpath() += "verrevpath"; break;
        case O_PROBE_STATE: break;
        case O_KEEP_STATE: rule.getKeepState() += "keep-state"; break;
        case O_LIMIT: {
            std::optional<uint8_t> mask = readU8(insn.bytes, kInsnLimitMask);
            std::optional<uint16_t> conn = readLE16(insn.bytes, kInsnLimitConn);
            if (!mask || !conn) {
                noOption();
                break;
            }
            uint8_t m = *mask;
            std::string text;
            for (const FWKeyword* row = limitmasks; row->value != 0; ++row) {
                if ((m & row->value) == row->value) {
                    m = static_cast<uint8_t>(m & ~row->value);
                    if (!text.empty())
                        text += ',';
                    text += row->name;
                }
            }
            rule.getLimit() += text + std::to_string(*conn);
            break;
        }
        case O_PROB: {
            std::optional<uint32_t> v = readLE32(insn.bytes, kInsnU32);
            if (!v) {
                noOption();
                break;
            }
            rule.setProbability(static_cast<double>(*v) / 2147483647.0);
            break;
        }
        case O_IPSEC: rule.getIpSec() += "ipsec"; break;
        default: noOption(); break;
        }
    });
    traceStop(stop, fn, record->rulenum());
    return 1;
}

int FWWrapper::getIP(FWExtDetailedData& rule, _ipfw_insn_ip* insn, IPType type)
{
    const uint8_t op = insn->opcode();
    std::string text;
    if (op == O_IP_SRC_ME || op == O_IP_DST_ME) {
        text = "me";
    } else if (op == O_IP_SRC_SET || op == O_IP_DST_SET) {
        const uint16_t count = insn->arg1();
        const uint32_t base = readLE32(insn->bytes, kInsnU32).value_or(0);
        uint32_t prefixMask = ~(static_cast<uint32_t>(count) - 1u);
        unsigned char net[4] = {static_cast<unsigned char>(prefixMask >> 24),
                                static_cast<unsigned char>(prefixMask >> 16),
                                static_cast<unsigned char>(prefixMask >> 8), static_cast<unsigned char>(prefixMask)};
        text = dottedNet(base) + "/" + std::to_string(contigmask(net, 32));
        // Only the bitmap words inside the instruction are read.
        const size_t words = insn->wordsInside();
        const size_t bitsInside = words > 2 ? (words - 2) * 32 : 0;
        const size_t bits = count < bitsInside ? count : bitsInside;
        auto member = [&](size_t i) {
            uint32_t w = readLE32(insn->bytes, kInsnSetBitmap + (i / 32) * 4).value_or(0);
            return (w >> (i % 32)) & 1u;
        };
        const unsigned last = base & 0xff;
        std::string members;
        for (size_t i = 0; i < bits;) {
            if (!member(i)) {
                ++i;
                continue;
            }
            size_t j = i;
            while (j + 1 < bits && member(j + 1))
                ++j;
            if (!members.empty())
                members += ',';
            if (j - i >= 2) {
                members += std::to_string(last + i) + "-" + std::to_string(last + j);
            } else {
                members += std::to_string(last + i);
                if (j > i)
                    members += "," + std::to_string(last + j);
            }
            i = j + 1;
        }
        text += "{" + members + "}";
    } else {
        const bool noMask = op == O_IP_SRC || op == O_IP_DST;
        const size_t pairs = insn->flen() / 2;
        for (size_t k = 0; k < pairs; ++k) {
            std::optional<uint32_t> addr = readBE32(insn->bytes, kInsnIpAddr + 8 * k);
            if (!addr)
                break;
            int len = 32;
            uint32_t mask = 0xffffffffu;
            if (!noMask) {
                std::optional<uint32_t> m = readBE32(insn->bytes, kInsnIpMask + 8 * k);
                if (!m)
                    break;
                mask = *m;
                unsigned char bytes[4] = {static_cast<unsigned char>(mask >> 24), static_cast<unsigned char>(mask >> 16),
                                          static_cast<unsigned char>(mask >> 8), static_cast<unsigned char>(mask)};
                len = contigmask(bytes, 32);
            }
            if (k != 0)
                text += ',';
            if (len == 0) {
                text += "any";
                continue;
            }
            text += dottedNet(*addr);
            if (len < 0)
                text += ":" + dottedNet(mask);
            else if (len < 32)
                text += "/" + std::to_string(len);
        }
    }
    if (type == IP_SRC)
        rule.setSrcIp(flagOf(*insn), text);
    else
        rule.setDestIp(flagOf(*insn), text);
    return 1;
}

int FWWrapper::getUint16(FWExtDetailedData& rule, _ipfw_insn_u16* insn, TwoByteType type)
{
    const size_t words = insn->wordsInside();
    std::string text;
    for (size_t k = 0; k + 1 < words; ++k) {
        uint16_t lo = readLE16(insn->bytes, kInsnU16Pairs + 4 * k).value_or(0);
        uint16_t hi = readLE16(insn->bytes, kInsnU16Pairs + 4 * k + 2).value_or(0);
        if (k != 0)
            text += ',';
        text += std::to_string(lo);
        if (hi != lo)
            text += "-" + std::to_string(hi);
    }
    switch (type) {
    case TWO_BYTE_SRC_PORT: rule.setSrcPort(flagOf(*insn), text); break;
    case TWO_BYTE_DEST_PORT: rule.setDestPort(flagOf(*insn), text); break;
    case TWO_BYTE_MAC_TYPE: rule.getMacType() += text; break;
    case TWO_BYTE_IP_ID: rule.getIpId() += text; break;
    case TWO_BYTE_IP_TTL: rule.getIpTtl() += text; break;
    default: rule.getIpLen() += text; break;
    }
    return 1;
}

int FWWrapper::getMacAddr(FWExtDetailedData& rule, unsigned char* addr, unsigned char* mask, MACType type)
{
    std::string& addrText = type == MAC_SRC ? rule.getSrcMacAddr() : rule.getDestMacAddr();
    std::string& maskText = type == MAC_SRC ? rule.getSrcMacMask() : rule.getDestMacMask();
    bool zero = true;
    for (int i = 0; i < 6; ++i)
        zero = zero && mask[i] == 0;
    if (zero) {
        addrText += "any";
        return 1;
    }
    auto fmt = [](const unsigned char* b) {
        char buf[18];
        std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
        return std::string(buf);
    };
    addrText += fmt(addr);
    maskText += fmt(mask);
    return 1;
}

int FWWrapper::contigmask(unsigned char* bits, int len)
{
    int i = 0;
    for (; i < len; ++i)
        if ((bits[i / 8] & (0x80 >> (i % 8))) == 0)
            break;
    for (int n = i + 1; n < len; ++n)
        if (bits[n / 8] & (0x80 >> (n % 8)))
            return -1;
    return i;
}

} // namespace FirewallSDK
