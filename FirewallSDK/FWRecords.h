// Records of one ipfw rule: header, body and the kernel-side extension, and
// the interface list offered to the user. Values throughout: copies share
// nothing.
//
// Members that only the firewall pane has (wide-text accessors, the interface
// list from the system) are declared when PORTWARD_PANE_MEMBERS is defined,
// which the pane's target alone does; the pane defines them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/serialization/access.hpp>
#include <boost/serialization/base_object.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/utility.hpp>
#include <boost/serialization/vector.hpp>

#include "FirewallException.h"

namespace FirewallSDK {

// Stored as 32-bit integers in records and archives: the numbers never change.
enum FWAction : int32_t {
    FW_ACTION_UNKNOWN = 0,
    FW_ACTION_ALLOW = 1,
    FW_ACTION_DENY = 2
};

enum FWProtocol : int32_t {
    FW_PROTOCOL_IP = 1,
    FW_PROTOCOL_TCP = 2,
    FW_PROTOCOL_UDP = 3,
    FW_PROTOCOL_ICMP = 4,
    FW_PROTOCOL_IGMP = 5
};

enum FWTrafficDirection : int32_t {
    FW_DIRECTION_UNSET = 0,
    FW_DIRECTION_BOTH = 1, // ipfw gets neither "in" nor "out"
    FW_DIRECTION_IN = 2,
    FW_DIRECTION_OUT = 3
};

/// Interface keyword chosen by the pane: 1 "recv", 2 "xmit", any other "via".
enum FWInterfaceDirection : int32_t {
    FW_INTERFACE_RECV = 1,
    FW_INTERFACE_XMIT = 2,
    FW_INTERFACE_VIA = 3
};

/// High half of a category: the rule's group.
const uint32_t FW_CUSTOM_RULE_CATEGORY = 0x10000000u;

class NetworkInterfaceInfo {
public:
    NetworkInterfaceInfo() = default;

#ifdef PORTWARD_PANE_MEMBERS
    int32_t getIndex() const;
    std::vector<std::string>& getInterface();
    std::vector<std::wstring> getInterfaceAsWstring();
    int retrieveInterfaceFromSystem();
#endif

private:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & index;
        ar & names;
    }

    int32_t index = -1; // position of the rule's interface in names; -1 none
    std::vector<std::string> names;
};

class FWBasicData {
public:
    FWBasicData() = default;
    FWBasicData(const FWBasicData&) = default;
    FWBasicData(FWBasicData&&) = default;
    FWBasicData& operator=(const FWBasicData&) = default;
    FWBasicData& operator=(FWBasicData&&) = default;
    /// Virtual, as the records have virtual members: one deleted through a
    /// pointer to its base is destroyed whole.
    virtual ~FWBasicData() = default;

    int32_t getRuleNo() const { return ruleNo; }
    /// Any number of 1 or more; below 1 throws 13013.
    void setRuleNo(int32_t n);
    /// The number ipfw reports: decimal, 1 to 65534, else 13013.
    void setRuleNoAsString(const std::string& text);
    std::string getRuleNoAsString() const;

    std::string getRuleName() const { return ruleName; }
    void setRuleName(const std::string& name) { ruleName = name; }

    /// 1 "allow", 2 "deny"; anything else throws 13014.
    void setAction(FWAction a);
    /// Any text, unchecked (the kernel reader's setter).
    void setAction(const std::string& text) { action = text; }
    const std::string& getActionAsString() const { return action; }
    std::string& getActionAsString() { return action; }
    /// "allow" 1, "deny" 2, anything else 0 (exact, case-sensitive).
    FWAction getAction() const;

    FWTrafficDirection getTrafficDirection() const { return direction; }
    void setTrafficDirection(FWTrafficDirection d) { direction = d; }

    uint32_t getRuleCategory() const { return category; }
    /// Stores c when its high half is one of the four groups, else 13015.
    void setRuleCategory(uint32_t c);

    /// Diagnostic dump of the header to standard output.
    virtual void DumpBasicData();

#ifdef PORTWARD_PANE_MEMBERS
    std::wstring getRuleNameAsWstring();
    void setRuleNameAsWstring(std::wstring name);
#endif

protected:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & ruleNo;
        ar & ruleName;
        ar & action;
        ar & direction;
        ar & category;
    }

    int32_t ruleNo = 5122;
    std::string ruleName;
    std::string action;
    FWTrafficDirection direction = FW_DIRECTION_UNSET;
    uint32_t category = 0;
};

class FWDetailedData : public FWBasicData {
public:
    enum FieldFlags : int32_t {
        FIELD_PLAIN = 0,
        FIELD_NOT = 1, // ipfw "not" before the entry
        FIELD_OR = 2   // ipfw "or" after it (protocols and addresses)
    };

    class FirewallProtocol {
    public:
        FirewallProtocol() = default; // for archive readers
        FirewallProtocol(FieldFlags f, const std::string& text) : flag(f), protocol(text) {}
        FieldFlags getProtocolFlag() const { return flag; }
        const std::string& getProtocol() const { return protocol; }
        std::string& getProtocol() { return protocol; }

    private:
        friend class boost::serialization::access;
        template <class Archive>
        void serialize(Archive& ar, const unsigned int /*version*/)
        {
            ar & flag;
            ar & protocol;
        }
        FieldFlags flag = FIELD_PLAIN;
        std::string protocol;
    };

    class FirewallIp {
    public:
        FirewallIp() = default;
        FirewallIp(FieldFlags f, const std::string& text) : flag(f), address(text) {}
        FieldFlags getIPFlag() const { return flag; }
        const std::string& getIPAddress() const { return address; }
        std::string& getIPAddress() { return address; }

    private:
        friend class boost::serialization::access;
        template <class Archive>
        void serialize(Archive& ar, const unsigned int /*version*/)
        {
            ar & flag;
            ar & address;
        }
        FieldFlags flag = FIELD_PLAIN;
        std::string address;
    };

    class FirewallPort {
    public:
        FirewallPort() = default;
        FirewallPort(FieldFlags f, const std::string& text) : flag(f), port(text) {}
        FieldFlags getPortFlag() const { return flag; }
        const std::string& getPortNo() const { return port; }
        std::string& getPortNo() { return port; }

    private:
        friend class boost::serialization::access;
        template <class Archive>
        void serialize(Archive& ar, const unsigned int /*version*/)
        {
            ar & flag;
            ar & port;
        }
        FieldFlags flag = FIELD_PLAIN;
        std::string port;
    };

    using ProtocolList = std::vector<FirewallProtocol>;
    using IpList = std::vector<FirewallIp>;
    using PortList = std::vector<FirewallPort>;
    using InterfaceMap = std::map<std::string, std::string>;

    FWDetailedData() = default;

    /// Appends (f, text); an empty text throws 13016.
    void setProtocol(FieldFlags f, const std::string& text);
    /// Appends the protocol's plain text; a value outside 1..5 throws 13026.
    void setProtocol(FWProtocol p);
    ProtocolList& getProtocolByRef() { return protocols; }
    const ProtocolList& getProtocolByRef() const { return protocols; }

    void setSrcIp(const std::string& text) { srcIpText = text; }
    void setSrcIp(FieldFlags f, const std::string& text) { srcIps.emplace_back(f, text); }
    std::string getSrcIp() const { return srcIpText; }
    IpList& getSrcIpByRef() { return srcIps; }
    const IpList& getSrcIpByRef() const { return srcIps; }

    void setDestIp(const std::string& text) { destIpText = text; }
    void setDestIp(FieldFlags f, const std::string& text) { destIps.emplace_back(f, text); }
    std::string getDestIp() const { return destIpText; }
    IpList& getDestIpByRef() { return destIps; }
    const IpList& getDestIpByRef() const { return destIps; }

    void setSrcPort(FieldFlags f, const std::string& text) { srcPorts.emplace_back(f, text); }
    PortList& getSrcPortByRef() { return srcPorts; }
    const PortList& getSrcPortByRef() const { return srcPorts; }
    /// The first entry's text, or "" without entries.
    std::string getSrcPort() const;

    void setDestPort(FieldFlags f, const std::string& text) { destPorts.emplace_back(f, text); }
    PortList& getDestPortByRef() { return destPorts; }
    const PortList& getDestPortByRef() const { return destPorts; }
    std::string getDestPort() const;

    bool isLogging() const { return logging; }
    void isLogging(bool on) { logging = on; }

    /// Inserts (keyword, name); a keyword already present keeps its name.
    void setInterface(const std::string& keyword, const std::string& name);
    InterfaceMap& getInterfaceByRef() { return interfaces; }
    const InterfaceMap& getInterfaceByRef() const { return interfaces; }

#ifdef PORTWARD_PANE_MEMBERS
    std::wstring getSrcIpAsWstring();
    std::wstring getDestIpAsWstring();
    std::wstring getSrcPortAsWstring();
    std::wstring getDestPortAsWstring();
    int getProtocol();
    void setSrcPort(std::string port);
    void setDestPort(std::string port);
    void setInterface(std::string name, FWInterfaceDirection interfaceDirection);
    NetworkInterfaceInfo getNetworkInterface();
#endif

protected:
    friend class boost::serialization::access;
    // The header fields are written here, not as a base object, so an
    // FWDetailedData carries no class information for FWBasicData.
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & ruleNo;
        ar & ruleName;
        ar & action;
        ar & direction;
        ar & category;
        ar & protocols;
        ar & srcIps;
        ar & srcIpText;
        ar & srcPorts;
        ar & destIps;
        ar & destIpText;
        ar & destPorts;
        ar & logging;
        ar & interfaces;
        ar & interfaceInfo;
    }

    ProtocolList protocols;
    IpList srcIps;
    std::string srcIpText;
    PortList srcPorts;
    IpList destIps;
    std::string destIpText;
    PortList destPorts;
    bool logging = true;
    InterfaceMap interfaces;
    NetworkInterfaceInfo interfaceInfo;
};

/// A rule as the kernel holds it: the body plus set, counters, probability,
/// action options and the ipfw option texts. Nothing here validates.
class FWExtDetailedData : public FWDetailedData {
public:
    FWExtDetailedData() = default;

    uint8_t getRuleSet() const { return ruleSet; }
    void setRuleSet(uint8_t set) { ruleSet = set; }
    std::string getRuleSetNoAsString() const;

    void setTimeStamp(uint32_t t) { timeStamp = t; }
    void setPackCount(uint64_t n) { packCount = n; }
    void setByteCount(uint64_t n) { byteCount = n; }

    double getProbability() const { return probability; }
    void setProbability(double p) { probability = p; }

    uint32_t getLogAmount() const { return logAmount; }
    void setLogAmount(uint32_t n) { logAmount = n; }

    std::string getActionOpt() const { return actionOpt; }
    void setActionOpt(const std::string& text) { actionOpt = text; }
    std::string getActionOptIp() const { return actionOptIp; }
    void setActionOptIp(const std::string& text) { actionOptIp = text; }
    uint16_t getActionOptPort() const { return actionOptPort; }
    void setActionOptPort(uint16_t port) { actionOptPort = port; }
    std::string getActionOptPortAsString() const;

#define FW_EXT_OPTION(accessor, member)                      \
    std::string& accessor() { return member; }               \
    const std::string& accessor() const { return member; }
    FW_EXT_OPTION(getSrcMacAddr, srcMacAddr)
    FW_EXT_OPTION(getSrcMacMask, srcMacMask)
    FW_EXT_OPTION(getDestMacAddr, destMacAddr)
    FW_EXT_OPTION(getDestMacMask, destMacMask)
    FW_EXT_OPTION(getMacType, macType)
    FW_EXT_OPTION(getFrag, frag)
    FW_EXT_OPTION(getLayer2, layer2)
    FW_EXT_OPTION(getIpId, ipId)
    FW_EXT_OPTION(getIpTtl, ipTtl)
    FW_EXT_OPTION(getIpVer, ipVer)
    FW_EXT_OPTION(getIpPrecedence, ipPrecedence)
    FW_EXT_OPTION(getIpLen, ipLen)
    FW_EXT_OPTION(getIpOpt, ipOpt)
    FW_EXT_OPTION(getIpTos, ipTos)
    FW_EXT_OPTION(getIpSec, ipSec)
    FW_EXT_OPTION(getIcmpType, icmpType)
    FW_EXT_OPTION(getEstab, estab)
    FW_EXT_OPTION(getTcpFlags, tcpFlags)
    FW_EXT_OPTION(getTcpOpts, tcpOpts)
    FW_EXT_OPTION(getTcpWin, tcpWin)
    FW_EXT_OPTION(getTcpAck, tcpAck)
    FW_EXT_OPTION(getTcpSeq, tcpSeq)
    FW_EXT_OPTION(getUid, uid)
    FW_EXT_OPTION(getGid, gid)
    FW_EXT_OPTION(getVerrevpath, verrevpath)
    FW_EXT_OPTION(getKeepState, keepState)
    FW_EXT_OPTION(getLimit, limit)
#undef FW_EXT_OPTION

private:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & boost::serialization::base_object<FWDetailedData>(*this);
        ar & ruleSet;
        ar & timeStamp;
        ar & packCount;
        ar & byteCount;
        ar & probability;
        ar & logAmount;
        ar & actionOpt;
        ar & actionOptIp;
        ar & actionOptPort;
        // The option texts in declaration order: the file's layout.
        ar & srcMacAddr;
        ar & srcMacMask;
        ar & destMacAddr;
        ar & destMacMask;
        ar & macType;
        ar & frag;
        ar & layer2;
        ar & ipId;
        ar & ipTtl;
        ar & ipVer;
        ar & ipPrecedence;
        ar & ipLen;
        ar & ipOpt;
        ar & ipTos;
        ar & ipSec;
        ar & icmpType;
        ar & estab;
        ar & tcpFlags;
        ar & tcpOpts;
        ar & tcpWin;
        ar & tcpAck;
        ar & tcpSeq;
        ar & uid;
        ar & gid;
        ar & verrevpath;
        ar & keepState;
        ar & limit;
    }

    uint8_t ruleSet = 0;
    uint32_t timeStamp = 0;
    uint64_t packCount = 0;
    uint64_t byteCount = 0;
    double probability = 1.0;
    uint32_t logAmount = 0;
    std::string actionOpt;
    std::string actionOptIp;
    uint16_t actionOptPort = 0;

    std::string srcMacAddr;
    std::string srcMacMask;
    std::string destMacAddr;
    std::string destMacMask;
    std::string macType;
    std::string frag;
    std::string layer2;
    std::string ipId;
    std::string ipTtl;
    std::string ipVer;
    std::string ipPrecedence;
    std::string ipLen;
    std::string ipOpt;
    std::string ipTos;
    std::string ipSec;
    std::string icmpType;
    std::string estab;
    std::string tcpFlags;
    std::string tcpOpts;
    std::string tcpWin;
    std::string tcpAck;
    std::string tcpSeq;
    std::string uid;
    std::string gid;
    std::string verrevpath;
    std::string keepState;
    std::string limit;
};

/// The kernel rule comparison: true when a stored and a kernel rule are the
/// same ipfw rule. Both are compared through one normalisation (what the
/// builder adds and the reader fills in), so operand order does not matter
/// and neither operand changes.
bool operator==(const FWExtDetailedData& a, const FWExtDetailedData& b);

/// Copies category, name and address texts of matching stored rules into the
/// kernel rules; returns 1.
int markRuleTypes(std::map<uint16_t, FWExtDetailedData>& store,
                  std::vector<FWExtDetailedData>& kernelRules);

} // namespace FirewallSDK
