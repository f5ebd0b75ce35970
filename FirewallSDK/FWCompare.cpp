// Whether a stored rule and a kernel rule are the same ipfw rule, and the
// carrying of the store's own fields over to the kernel's rules.
//
// Both operands are read through one normalisation N, field by field: what
// the command builder adds on its way to ipfw and what the kernel reader fills
// in on the way back ("ip" for no protocol, "any"/"me" for no address, the
// direction word, keep-state of rule 65532, the reader's address and port
// forms) compares equal to what the store holds.
#include <string>
#include <vector>

#include "FWNormalise.h"
#include "FWRecords.h"
#include "FWTrace.h"
#include "Trace.h"

#define FW_TRACE(threshold, ...) WARD_TRACE(fwCommandFlowvalue, threshold, __VA_ARGS__)

namespace FirewallSDK {

namespace {

const int32_t DEFAULT_DENY_RULE = 65532;

int32_t directionN(const FWExtDetailedData& r)
{
    // "both" sends no direction word and reads back unset.
    switch (r.getTrafficDirection()) {
    case FW_DIRECTION_IN:
    case FW_DIRECTION_OUT:
        return r.getTrafficDirection();
    case FW_DIRECTION_UNSET:
    case FW_DIRECTION_BOTH:
        break;
    }
    return FW_DIRECTION_UNSET;
}

std::string keepStateN(const FWExtDetailedData& r)
{
    const std::string& text = r.getKeepState();
    int32_t d = directionN(r);
    if (text.empty() && r.getRuleNo() == DEFAULT_DENY_RULE && (d == FW_DIRECTION_IN || d == FW_DIRECTION_OUT))
        return "keep-state";
    return text;
}

struct EntryN {
    int32_t flag;
    std::string text;
};

enum class ListKind { Protocol, Address, Port };

std::string textN(ListKind kind, const std::string& text)
{
    std::string canon;
    switch (kind) {
    case ListKind::Protocol:
        break;
    case ListKind::Address:
        if (detail::canonicalAddressList(text, canon))
            return canon;
        break;
    case ListKind::Port:
        if (detail::canonicalPortList(text, canon))
            return canon;
        break;
    }
    return text;
}

template <class List, class FlagFn, class TextFn>
std::vector<EntryN> listN(const List& list, ListKind kind, const char* whenEmpty, FlagFn flagOf, TextFn textOf)
{
    std::vector<EntryN> out;
    if (list.empty() && whenEmpty != nullptr) {
        out.push_back({FWDetailedData::FIELD_PLAIN, whenEmpty});
        return out;
    }
    out.reserve(list.size());
    for (const auto& entry : list)
        out.push_back({flagOf(entry), textN(kind, textOf(entry))});
    return out;
}

std::vector<EntryN> protocolsN(const FWExtDetailedData& r)
{
    return listN(r.getProtocolByRef(), ListKind::Protocol, "ip",
                 [](const FWDetailedData::FirewallProtocol& e) { return e.getProtocolFlag(); },
                 [](const FWDetailedData::FirewallProtocol& e) -> const std::string& { return e.getProtocol(); });
}

std::vector<EntryN> addressesN(const FWExtDetailedData& r, bool source)
{
    int32_t meDirection = source ? FW_DIRECTION_OUT : FW_DIRECTION_IN;
    const char* whenEmpty = r.getRuleNo() == DEFAULT_DENY_RULE && directionN(r) == meDirection ? "me" : "any";
    return listN(source ? r.getSrcIpByRef() : r.getDestIpByRef(), ListKind::Address, whenEmpty,
                 [](const FWDetailedData::FirewallIp& e) { return e.getIPFlag(); },
                 [](const FWDetailedData::FirewallIp& e) -> const std::string& { return e.getIPAddress(); });
}

std::vector<EntryN> portsN(const FWDetailedData::PortList& list)
{
    return listN(list, ListKind::Port, nullptr,
                 [](const FWDetailedData::FirewallPort& e) { return e.getPortFlag(); },
                 [](const FWDetailedData::FirewallPort& e) -> const std::string& { return e.getPortNo(); });
}

// Count first, then each pair in order, flag before text.
bool sameEntries(const std::vector<EntryN>& a, const std::vector<EntryN>& b, const wchar_t* countLine,
                 const wchar_t* entryLine)
{
    if (a.size() != b.size()) {
        FW_TRACE(4, countLine, "operator==");
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].flag != b[i].flag || a[i].text != b[i].text) {
            FW_TRACE(4, entryLine, "operator==");
            return false;
        }
    }
    return true;
}

bool differs(bool different, const wchar_t* line)
{
    if (different)
        FW_TRACE(4, line, "operator==");
    return different;
}

} // namespace

bool operator==(const FWExtDetailedData& a, const FWExtDetailedData& b)
{
    FW_TRACE(4, L"%s - Called\n", "operator==");
    if (differs(a.getRuleNo() != b.getRuleNo(), L"%s - Rule number does not match\n") ||
        differs(a.getRuleSet() != b.getRuleSet(), L"%s - Rule set does not match\n") ||
        differs(a.getProbability() != b.getProbability(), L"%s - Rule probability does not match\n") ||
        differs(a.getAction() != b.getAction(), L"%s - Rule action does not match\n") ||
        differs(a.getActionOpt() != b.getActionOpt(), L"%s - Rule action option does not match\n") ||
        differs(a.getActionOptIp() != b.getActionOptIp(), L"%s - Rule action option ip does not match\n") ||
        differs(a.getActionOptPort() != b.getActionOptPort(), L"%s - Rule action option port does not match\n"))
        return false;
    // Logging is not compared: the kernel reader reports it on for every rule.
    if (differs(a.getLogAmount() != b.getLogAmount(), L"%s - Rule log amount does not match\n"))
        return false;
    if (!sameEntries(protocolsN(a), protocolsN(b), L"%s - Rule protocol count dose not match\n",
                     L"%s - Rule protocol does not match\n") ||
        !sameEntries(addressesN(a, true), addressesN(b, true), L"%s - Rule source ip count does not match\n",
                     L"%s - Rule source ip does not match\n") ||
        !sameEntries(portsN(a.getSrcPortByRef()), portsN(b.getSrcPortByRef()),
                     L"%s - Rule source port count does not match\n", L"%s - Rule source port does not match\n") ||
        !sameEntries(addressesN(a, false), addressesN(b, false),
                     L"%s - Rule destination ip count does not match\n",
                     L"%s - Rule destination ip does not match\n") ||
        !sameEntries(portsN(a.getDestPortByRef()), portsN(b.getDestPortByRef()),
                     L"%s - Rule destination port count does not match\n",
                     L"%s - Rule destination port does not match\n"))
        return false;

    const FWDetailedData::InterfaceMap& ia = a.getInterfaceByRef();
    const FWDetailedData::InterfaceMap& ib = b.getInterfaceByRef();
    if (differs(ia.size() != ib.size(), L"%s - Rule network interface count does not match\n"))
        return false;
    for (auto i = ia.begin(), j = ib.begin(); i != ia.end(); ++i, ++j)
        if (differs(i->first != j->first || i->second != j->second,
                    L"%s - Rule network interface does not match\n"))
            return false;

    if (differs(a.getSrcMacAddr() != b.getSrcMacAddr(), L"%s - Rule sourec MAC addr does not match\n") ||
        differs(a.getSrcMacMask() != b.getSrcMacMask(), L"%s - Rule source MAC addr mask does not match\n") ||
        differs(a.getDestMacAddr() != b.getDestMacAddr(), L"%s - Rule destination MAC addr does not match\n") ||
        differs(a.getDestMacMask() != b.getDestMacMask(),
                L"%s - Rule destination MAC addr mask does not match\n") ||
        differs(a.getMacType() != b.getMacType(), L"%s - Rule ether type does not match\n") ||
        differs(a.getFrag() != b.getFrag(), L"%s - Rule frag does not match\n") ||
        differs(directionN(a) != directionN(b), L"%s - Rule traffic direction does not match\n") ||
        differs(a.getLayer2() != b.getLayer2(), L"%s - Rule layer2 does not match\n") ||
        differs(a.getIpId() != b.getIpId(), L"%s - Rule ip id does not match\n") ||
        differs(a.getIpTtl() != b.getIpTtl(), L"%s - Rule ip ttl does not match\n") ||
        differs(a.getIpVer() != b.getIpVer(), L"%s - Rule ip version does not match\n") ||
        differs(a.getIpPrecedence() != b.getIpPrecedence(), L"%s - Rule ip precedence does not match\n") ||
        differs(a.getIpLen() != b.getIpLen(), L"%s - Rule ip length does not match\n") ||
        differs(a.getIpOpt() != b.getIpOpt(), L"%s - Rule ip option does not match\n") ||
        differs(a.getIpTos() != b.getIpTos(), L"%s - Rule ip tos does not match\n") ||
        differs(a.getIcmpType() != b.getIcmpType(), L"%s - Rule icmp type does not match\n") ||
        differs(a.getEstab() != b.getEstab(), L"%s - Rule established does not match\n") ||
        differs(a.getTcpFlags() != b.getTcpFlags(), L"%s - Rule tcp flag does not match\n") ||
        differs(a.getTcpOpts() != b.getTcpOpts(), L"%s - Rule tcp option does not match\n") ||
        differs(a.getTcpWin() != b.getTcpWin(), L"%s - Rule tcp window does not match\n") ||
        differs(a.getTcpAck() != b.getTcpAck(), L"%s - Rule tcp ack does not match\n") ||
        differs(a.getTcpSeq() != b.getTcpSeq(), L"%s - Rule tcp sequence does not match\n") ||
        differs(a.getUid() != b.getUid(), L"%s - Rule uid does not match\n") ||
        differs(a.getGid() != b.getGid(), L"%s - Rule gid does not match\n") ||
        differs(a.getVerrevpath() != b.getVerrevpath(), L"%s - Rule ver revpath does not match\n") ||
        differs(a.getIpSec() != b.getIpSec(), L"%s - Rule ip sec does not match\n") ||
        differs(keepStateN(a) != keepStateN(b), L"%s - Rule keep state does not match\n") ||
        differs(a.getLimit() != b.getLimit(), L"%s - Rule limit does not match\n"))
        return false;

    FW_TRACE(4, L"%s - Finished\n", "operator==");
    return true;
}

int markRuleTypes(std::map<uint16_t, FWExtDetailedData>& store, std::vector<FWExtDetailedData>& kernelRules)
{
    FW_TRACE(4, L"%s - Called\n", "markRuleTypes");
    auto scanStart = store.begin();
    for (FWExtDetailedData& kernelRule : kernelRules) {
        for (auto it = scanStart; it != store.end(); ++it) {
            const FWExtDetailedData& stored = it->second;
            FW_TRACE(4, L"%s - ipfw rule # %d : stored rule # %d\n", "markRuleTypes", kernelRule.getRuleNo(),
                     stored.getRuleNo());
            if (!(stored == kernelRule))
                continue;
            FW_TRACE(4, L"%s - Match found for rule # %d\n", "markRuleTypes", kernelRule.getRuleNo());
            // A stored category outside the four groups must not stop the
            // listing: that kernel rule keeps its category, the rest is copied.
            try {
                kernelRule.setRuleCategory(stored.getRuleCategory());
            } catch (const FirewallException&) {
                FW_TRACE(2, L"%s - Invalid category %x for rule # %d\n", "markRuleTypes", stored.getRuleCategory(),
                         stored.getRuleNo());
            }
            kernelRule.setRuleName(stored.getRuleName());
            kernelRule.setSrcIp(stored.getSrcIp());
            kernelRule.setDestIp(stored.getDestIp());
            scanStart = it;
            break;
        }
    }
    FW_TRACE(4, L"%s - Finished\n", "markRuleTypes");
    return 1;
}

} // namespace FirewallSDK
