#include "IpfwCompiler.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <sysexits.h>

#include "IpfwLayout.h"

namespace ipfw {

namespace {

[[noreturn]] void fail(int status, const std::string& message)
{
    throw CompileError{status, message};
}

bool allDigits(const std::string& s)
{
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

/// Decimal number in [lo, hi]; anything else is a bad value.
uint32_t number(const std::string& s, uint32_t lo, uint32_t hi, const std::string& what)
{
    if (!allDigits(s) || s.size() > 10)
        fail(EX_DATAERR, what + " \"" + s + "\" is not a number");
    unsigned long long v = std::stoull(s);
    if (v < lo || v > hi)
        fail(EX_DATAERR, what + " " + s + " out of range " + std::to_string(lo) + "-" + std::to_string(hi));
    return static_cast<uint32_t>(v);
}

/// Instruction words as bytes.
struct Insn {
    std::vector<uint8_t> b;

    Insn(uint8_t op, uint8_t flen, uint16_t arg1 = 0, uint8_t flags = 0)
        : b(size_t(flen) * kWord, 0)
    {
        b[kInsnOpcode] = op;
        b[kInsnLen] = static_cast<uint8_t>(flen | flags);
        writeLE16(b, kInsnArg1, arg1);
    }
};

void append(std::vector<uint8_t>& out, const Insn& insn)
{
    out.insert(out.end(), insn.b.begin(), insn.b.end());
}

uint8_t flagsOf(bool isNot, bool isOr)
{
    return static_cast<uint8_t>((isNot ? F_NOT : 0) | (isOr ? F_OR : 0));
}

/// A dotted address, strictly four decimal parts; false otherwise.
bool dotted(const std::string& s, uint32_t& addr)
{
    struct in_addr a;
    if (inet_pton(AF_INET, s.c_str(), &a) != 1)
        return false;
    addr = ntohl(a.s_addr);
    return true;
}

bool looksNumeric(const std::string& s)
{
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '.'))
            return false;
    return true;
}

/// A dotted address or a host name that resolves (68 otherwise).
uint32_t hostAddress(const std::string& s)
{
    uint32_t addr = 0;
    if (dotted(s, addr))
        return addr;
    if (s.empty())
        fail(EX_DATAERR, "empty address");
    if (looksNumeric(s))
        fail(EX_DATAERR, "bad address \"" + s + "\"");
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* res = nullptr;
    if (getaddrinfo(s.c_str(), nullptr, &hints, &res) != 0 || res == nullptr)
        fail(EX_NOHOST, "hostname \"" + s + "\" unknown");
    addr = ntohl(reinterpret_cast<struct sockaddr_in*>(res->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(res);
    return addr;
}

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(sep, start);
        parts.push_back(s.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos)
            return parts;
        start = pos + 1;
    }
}

enum Side { Src = 0, Dst = 1 };

/// One address entry: "me", a dotted address or host name, or masked
/// elements ("/w", ":mask", comma lists).
void addressEntry(std::vector<uint8_t>& out, const std::string& text, Side side, uint8_t flags)
{
    const uint8_t opMe = side == Src ? O_IP_SRC_ME : O_IP_DST_ME;
    const uint8_t opIp = side == Src ? O_IP_SRC : O_IP_DST;
    const uint8_t opMask = side == Src ? O_IP_SRC_MASK : O_IP_DST_MASK;
    if (text == "me") {
        append(out, Insn(opMe, 1, 0, flags));
        return;
    }
    if (text.find_first_of(",/:") == std::string::npos) {
        Insn insn(opIp, kLenAddr, 0, flags);
        writeBE32(insn.b, kInsnIpAddr, hostAddress(text));
        append(out, insn);
        return;
    }
    std::vector<std::string> elems = split(text, ',');
    if (elems.size() > 31)
        fail(EX_DATAERR, "address list \"" + text + "\" too long");
    Insn insn(opMask, static_cast<uint8_t>(1 + 2 * elems.size()), 0, flags);
    size_t off = kInsnIpAddr;
    for (const std::string& e : elems) {
        if (e.empty())
            fail(EX_DATAERR, "empty element in address list \"" + text + "\"");
        uint32_t mask = 0xffffffffu;
        std::string host = e;
        size_t cut = e.find_first_of("/:");
        if (cut != std::string::npos) {
            host = e.substr(0, cut);
            std::string rest = e.substr(cut + 1);
            if (e[cut] == '/') {
                uint32_t w = number(rest, 0, 32, "mask width");
                mask = w == 0 ? 0 : 0xffffffffu << (32 - w);
            } else if (!dotted(rest, mask)) {
                fail(EX_DATAERR, "bad mask \"" + rest + "\"");
            }
        }
        uint32_t addr = hostAddress(host);
        writeBE32(insn.b, off, addr & mask);
        writeBE32(insn.b, off + 4, mask);
        off += 8;
    }
    append(out, insn);
}

bool portLike(const std::string& s)
{
    if (s.empty())
        return true;  // an empty port argument is a bad value, not a keyword
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == ',' || c == '-'))
            return false;
    return true;
}

void portEntry(std::vector<uint8_t>& out, const std::string& text, Side side, uint8_t flags)
{
    if (text.empty())
        fail(EX_DATAERR, "empty port argument");
    std::vector<std::string> elems = split(text, ',');
    if (elems.size() > 62)
        fail(EX_DATAERR, "port list \"" + text + "\" too long");
    Insn insn(side == Src ? O_IP_SRCPORT : O_IP_DSTPORT, static_cast<uint8_t>(1 + elems.size()), 0, flags);
    size_t off = kInsnU16Pairs;
    for (const std::string& e : elems) {
        size_t dash = e.find('-');
        std::string lo = dash == std::string::npos ? e : e.substr(0, dash);
        std::string hi = dash == std::string::npos ? e : e.substr(dash + 1);
        uint32_t l = number(lo, 0, 65535, "port");
        uint32_t h = number(hi, 0, 65535, "port");
        if (h < l)
            fail(EX_DATAERR, "port range \"" + e + "\" runs backwards");
        writeLE16(insn.b, off, static_cast<uint16_t>(l));
        writeLE16(insn.b, off + 2, static_cast<uint16_t>(h));
        off += 4;
    }
    append(out, insn);
}

void protocolEntry(std::vector<uint8_t>& out, const std::string& text, uint8_t flags)
{
    if (text.empty())
        fail(EX_DATAERR, "empty protocol");
    uint32_t num;
    if (allDigits(text)) {
        num = number(text, 0, 255, "protocol");
    } else {
        struct protoent pe;
        struct protoent* found = nullptr;
        char buf[1024];
        if (getprotobyname_r(text.c_str(), &pe, buf, sizeof buf, &found) != 0 || found == nullptr)
            fail(EX_DATAERR, "unknown protocol \"" + text + "\"");
        num = static_cast<uint32_t>(found->p_proto);
    }
    append(out, Insn(O_PROTO, 1, static_cast<uint16_t>(num), flags));
}

class Words {
public:
    explicit Words(const std::vector<std::string>& w) : m_w(w) {}
    bool atEnd() const { return m_i >= m_w.size(); }
    const std::string& peek() const { return m_w[m_i]; }
    bool peekIs(const char* s) const { return !atEnd() && m_w[m_i] == s; }
    const std::string& take() { return m_w[m_i++]; }
    const std::string& operand(const std::string& after)
    {
        if (atEnd())
            fail(EX_USAGE, "missing operand after \"" + after + "\"");
        return take();
    }
    size_t index() const { return m_i; }

private:
    const std::vector<std::string>& m_w;
    size_t m_i = 0;
};

/// A `{ a or b not c }` group or a single entry. `entry(text, flags)`
/// compiles one entry; `skip(text)` names entries that compile to nothing.
template <typename Entry, typename Skip>
void group(Words& w, const char* what, Entry&& entry, Skip&& skip)
{
    if (w.atEnd())
        fail(EX_USAGE, std::string("missing ") + what);
    if (!w.peekIs("{")) {
        bool isNot = false;
        if (w.peekIs("not")) {
            w.take();
            isNot = true;
        }
        const std::string& t = w.operand(isNot ? "not" : what);
        if (!skip(t))
            entry(t, flagsOf(isNot, false));
        return;
    }
    w.take();
    size_t entries = 0;
    for (;;) {
        if (w.atEnd())
            fail(EX_USAGE, std::string("unbalanced brace in ") + what);
        if (w.peekIs("}")) {
            w.take();
            break;
        }
        bool isNot = false;
        if (w.peekIs("not")) {
            w.take();
            isNot = true;
        }
        if (w.peekIs("from") || w.peekIs("to"))
            fail(EX_USAGE, std::string("unbalanced brace in ") + what);
        if (w.atEnd() || w.peekIs("}") || w.peekIs("{") || w.peekIs("or"))
            fail(EX_USAGE, std::string("missing ") + what + " in braces");
        const std::string& t = w.take();
        bool isOr = false;
        if (w.peekIs("or")) {
            w.take();
            isOr = true;
        }
        ++entries;
        if (!skip(t))
            entry(t, flagsOf(isNot, isOr));
    }
    if (entries == 0)
        fail(EX_USAGE, std::string("empty braces for ") + what);
}

struct UnreachName {
    const char* name;
    int code;
};
const UnreachName kUnreach[] = {
    {"net", 0}, {"host", 1}, {"protocol", 2}, {"port", 3}, {"needfrag", 4}, {"srcfail", 5},
    {"net-unknown", 6}, {"host-unknown", 7}, {"isolated", 8}, {"net-prohib", 9},
    {"host-prohib", 10}, {"tosnet", 11}, {"toshost", 12}, {"filter-prohib", 13},
    {"host-precedence", 14}, {"precedence-cutoff", 15},
};

void interfaceEntry(std::vector<uint8_t>& out, uint8_t op, const std::string& text)
{
    if (text.empty())
        fail(EX_DATAERR, "empty interface name");
    Insn insn(op, kLenIface);
    uint32_t addr = 0;
    if (dotted(text, addr)) {
        writeBE32(insn.b, kInsnIfUnit, addr);
        append(out, insn);
        return;
    }
    size_t digits = text.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 == text.size())
        fail(EX_DATAERR, "interface \"" + text + "\" has no unit number");
    std::string name = text.substr(0, digits + 1);
    if (name.size() > kIfNameSize - 1)
        fail(EX_DATAERR, "interface name \"" + name + "\" longer than 15 bytes");
    uint32_t unit = number(text.substr(digits + 1), 0, 0x7fffffff, "interface unit");
    writeLE32(insn.b, kInsnIfUnit, unit);
    writeBytes(insn.b, kInsnIfName, name.data(), name.size());
    append(out, insn);
}

} // namespace

int unreachCodeByName(const std::string& name)
{
    for (const UnreachName& u : kUnreach)
        if (name == u.name)
            return u.code;
    return -1;
}

CompiledRule compileAdd(const std::vector<std::string>& words)
{
    CompiledRule rule;
    Words w(words);
    if (!w.atEnd() && allDigits(w.peek())) {
        rule.hasNumber = true;
        rule.rulenum = static_cast<uint16_t>(number(w.take(), 1, 65534, "rule number"));
        if (!w.atEnd() && allDigits(w.peek()))
            rule.set = static_cast<uint8_t>(number(w.take(), 0, 31, "set"));
    }
    const size_t shownFrom = w.index();

    // action
    std::vector<uint8_t> action;
    if (w.atEnd())
        fail(EX_USAGE, "missing action");
    const std::string act = w.take();
    if (act == "allow") {
        append(action, Insn(O_ACCEPT, 1));
    } else if (act == "deny") {
        append(action, Insn(O_DENY, 1));
    } else if (act == "count") {
        append(action, Insn(O_COUNT, 1));
    } else if (act == "check-state") {
        append(action, Insn(O_CHECK_STATE, 1));
    } else if (act == "reject") {
        append(action, Insn(O_REJECT, 1, kRejectPlain));
    } else if (act == "reset") {
        append(action, Insn(O_REJECT, 1, kRejectRst));
    } else if (act == "unreach") {
        const std::string& code = w.operand(act);
        int c = unreachCodeByName(code);
        if (c < 0) {
            if (!allDigits(code))
                fail(EX_DATAERR, "unknown unreach code \"" + code + "\"");
            c = static_cast<int>(number(code, 0, 255, "unreach code"));
        }
        append(action, Insn(O_REJECT, 1, static_cast<uint16_t>(c)));
    } else if (act == "skipto" || act == "pipe" || act == "queue" || act == "divert" || act == "tee") {
        uint16_t n = static_cast<uint16_t>(number(w.operand(act), 0, 65535, act + " number"));
        if (act == "skipto")
            append(action, Insn(O_SKIPTO, 1, n));
        else if (act == "pipe")
            append(action, Insn(O_PIPE, 2, n));
        else if (act == "queue")
            append(action, Insn(O_QUEUE, 2, n));
        else if (act == "divert")
            append(action, Insn(O_DIVERT, 1, n));
        else
            append(action, Insn(O_TEE, 1, n));
    } else if (act == "fwd" || act == "forward") {
        std::string addrText = w.operand(act);
        std::string portText = w.operand(act + " address");
        uint32_t addr = hostAddress(addrText);
        uint16_t port = static_cast<uint16_t>(number(portText, 0, 65535, "forward port"));
        Insn insn(O_FORWARD_IP, kLenForward);
        writeU8(insn.b, kInsnSaLen, 16);
        writeU8(insn.b, kInsnSaFamily, AF_INET);
        writeLE16(insn.b, kInsnSaPort, port);
        writeBE32(insn.b, kInsnSaAddr, addr);
        append(action, insn);
    } else {
        fail(EX_DATAERR, "unknown action \"" + act + "\"");
    }
    bool log = false;
    if (w.peekIs("log")) {
        w.take();
        log = true;
    }

    // protocols
    std::vector<uint8_t> protos;
    size_t protoIndex = w.index();
    if (w.peekIs("from"))
        fail(EX_USAGE, "missing protocol");
    if (w.peekIs("all")) {
        w.take();
    } else if (w.peekIs("{") && w.index() + 2 < words.size() && words[w.index() + 1] == "ip" &&
               words[w.index() + 2] == "}") {
        w.take();
        w.take();
        w.take();
    } else {
        group(w, "protocol", [&](const std::string& t, uint8_t f) { protocolEntry(protos, t, f); },
              [](const std::string&) { return false; });
    }

    auto addresses = [&](std::vector<uint8_t>& out, Side side) {
        group(w, side == Src ? "source" : "destination",
              [&](const std::string& t, uint8_t f) { addressEntry(out, t, side, f); },
              [](const std::string& t) { return t == "any"; });
    };
    auto ports = [&](std::vector<uint8_t>& out, Side side) {
        for (;;) {
            bool isNot = false;
            if (w.peekIs("not") && w.index() + 1 < words.size() && portLike(words[w.index() + 1])) {
                w.take();
                isNot = true;
            }
            if (w.atEnd() || !portLike(w.peek()))
                return;
            portEntry(out, w.take(), side, flagsOf(isNot, false));
        }
    };

    if (!w.peekIs("from"))
        fail(EX_USAGE, w.atEnd() ? "missing \"from\"" : "unexpected \"" + w.peek() + "\", expected \"from\"");
    w.take();
    std::vector<uint8_t> src, srcPorts, dst, dstPorts;
    addresses(src, Src);
    ports(srcPorts, Src);
    if (!w.peekIs("to"))
        fail(EX_USAGE, w.atEnd() ? "missing \"to\"" : "unexpected \"" + w.peek() + "\", expected \"to\"");
    w.take();
    addresses(dst, Dst);
    ports(dstPorts, Dst);

    std::vector<uint8_t> ifaces, direction, icmp;
    bool keepState = false;
    while (!w.atEnd()) {
        const std::string word = w.take();
        if (word == "recv" || word == "xmit" || word == "via") {
            uint8_t op = word == "recv" ? O_RECV : word == "xmit" ? O_XMIT : O_VIA;
            interfaceEntry(ifaces, op, w.operand(word));
        } else if (word == "in" || word == "out") {
            append(direction, Insn(O_IN, 1, 0, word == "out" ? F_NOT : 0));
        } else if (word == "keep-state") {
            keepState = true;
        } else if (word == "icmptypes") {
            const std::string& list = w.operand(word);
            uint32_t bits = 0;
            for (const std::string& t : split(list, ','))
                bits |= 1u << number(t, 0, 31, "icmp type");
            Insn insn(O_ICMPTYPE, kLenU32);
            writeLE32(insn.b, kInsnU32, bits);
            append(icmp, insn);
        } else {
            fail(EX_USAGE, "unknown word \"" + word + "\"");
        }
    }

    std::vector<uint8_t> match;
    if (keepState)
        append(match, Insn(O_PROBE_STATE, 1));
    for (const std::vector<uint8_t>* part : {&protos, &src, &srcPorts, &dst, &dstPorts, &ifaces, &direction, &icmp})
        match.insert(match.end(), part->begin(), part->end());
    if (keepState)
        append(match, Insn(O_KEEP_STATE, 1));

    std::vector<uint8_t> actionPart;
    if (log)
        append(actionPart, Insn(O_LOG, kLenLog));
    actionPart.insert(actionPart.end(), action.begin(), action.end());

    if ((match.size() + actionPart.size()) / kWord > 0xffff)
        fail(EX_DATAERR, "rule too long");
    rule.actOfs = static_cast<uint16_t>(match.size() / kWord);
    rule.instructions = match;
    rule.instructions.insert(rule.instructions.end(), actionPart.begin(), actionPart.end());

    for (size_t i = shownFrom; i < words.size(); ++i) {
        if (i != shownFrom)
            rule.shown += ' ';
        rule.shown += (i == protoIndex && words[i] == "all") ? std::string("ip") : words[i];
    }
    return rule;
}

} // namespace ipfw
