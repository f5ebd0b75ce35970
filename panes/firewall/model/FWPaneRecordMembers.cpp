// The record members only the pane has: wide texts of the rule records and
// trusted groups, the protocol code, the port and interface setters and the
// interface list with its fall-back to this machine's interfaces. Compiled
// with PORTWARD_PANE_MEMBERS.
#include <ifaddrs.h>

#include <memory>
#include <set>

#include "FWRecords.h"
#include "FWServiceRecords.h"
#include "StringConvert.h"

namespace {

using FirewallSDK::FirewallException;
using FirewallSDK::FWErrorCode;

/// Six wide characters per byte plus six; the converter is told the text's
/// length plus one.
std::wstring toWide(const std::string& text, FWErrorCode code)
{
    if (text.empty())
        return std::wstring();
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[text.size() * 6 + 6]());
    int capacity = static_cast<int>(text.size() + 1);
    if (char2widechar(text.c_str(), buffer.get(), &capacity) != 0)
        throw FirewallException("Failed to convert a text to a wide text", code);
    return std::wstring(buffer.get());
}

/// Six bytes per character plus six.
std::string toNarrow(const std::wstring& text, FWErrorCode code)
{
    if (text.empty())
        return std::string();
    const size_t size = text.size() * 6 + 6;
    std::unique_ptr<char[]> buffer(new char[size]());
    int capacity = static_cast<int>(size);
    if (widechar2charstr(text.c_str(), buffer.get(), &capacity) != 0)
        throw FirewallException("Failed to convert a wide text to a text", code);
    return std::string(buffer.get());
}

} // namespace

namespace FirewallSDK {

std::wstring FWBasicData::getRuleNameAsWstring()
{
    return toWide(ruleName, FW_RULE_NAME_TO_WSTRING_FAILED);
}

void FWBasicData::setRuleNameAsWstring(std::wstring name)
{
    setRuleName(toNarrow(name, FW_RULE_NAME_TO_STRING_FAILED));
}

std::wstring FWDetailedData::getSrcIpAsWstring()
{
    return toWide(srcIpText, FW_SRC_IP_TO_WSTRING_FAILED);
}

std::wstring FWDetailedData::getDestIpAsWstring()
{
    return toWide(destIpText, FW_DEST_IP_TO_WSTRING_FAILED);
}

std::wstring FWDetailedData::getSrcPortAsWstring()
{
    return srcPorts.empty() ? std::wstring() : toWide(srcPorts.front().getPortNo(), FW_SRC_PORT_TO_WSTRING_FAILED);
}

std::wstring FWDetailedData::getDestPortAsWstring()
{
    return destPorts.empty() ? std::wstring() : toWide(destPorts.front().getPortNo(), FW_DEST_PORT_TO_WSTRING_FAILED);
}

int FWDetailedData::getProtocol()
{
    if (protocols.empty())
        return 0;
    const std::string& p = protocols.front().getProtocol();
    if (p == "ip")
        return FW_PROTOCOL_IP;
    if (p == "tcp")
        return FW_PROTOCOL_TCP;
    if (p == "udp")
        return FW_PROTOCOL_UDP;
    if (p == "icmp")
        return FW_PROTOCOL_ICMP;
    if (p == "igmp")
        return FW_PROTOCOL_IGMP;
    return 0;
}

void FWDetailedData::setSrcPort(std::string port)
{
    setSrcPort(FIELD_PLAIN, port);
}

void FWDetailedData::setDestPort(std::string port)
{
    setDestPort(FIELD_PLAIN, port);
}

void FWDetailedData::setInterface(std::string name, FWInterfaceDirection interfaceDirection)
{
    if (name == "all")
        return;
    const char* keyword = interfaceDirection == FW_INTERFACE_RECV   ? "recv"
                          : interfaceDirection == FW_INTERFACE_XMIT ? "xmit"
                                                                    : "via";
    setInterface(std::string(keyword), name);
}

NetworkInterfaceInfo FWDetailedData::getNetworkInterface()
{
    return interfaceInfo;
}

int32_t NetworkInterfaceInfo::getIndex() const
{
    return index;
}

std::vector<std::string>& NetworkInterfaceInfo::getInterface()
{
    if (names.empty())
        retrieveInterfaceFromSystem();
    return names;
}

std::vector<std::wstring> NetworkInterfaceInfo::getInterfaceAsWstring()
{
    std::vector<std::wstring> out;
    for (const std::string& n : getInterface())
        out.push_back(toWide(n, FW_INTERFACE_TO_WSTRING_FAILED));
    return out;
}

int NetworkInterfaceInfo::retrieveInterfaceFromSystem()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return 0;
    std::set<std::string> unique; // each interface once, in byte order
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next)
        if (a->ifa_name != nullptr)
            unique.insert(a->ifa_name);
    freeifaddrs(list);
    names.insert(names.end(), unique.begin(), unique.end());
    names.push_back("all");
    return 1;
}

} // namespace FirewallSDK

namespace FWService {

std::vector<std::wstring> TrustedGroupInfo::getMachineAddrAsWstring()
{
    std::vector<std::wstring> out;
    for (const std::string& a : machineAddresses)
        out.push_back(toWide(a, FirewallSDK::FW_BUILD_NUMBER_TO_WSTRING_FAILED));
    return out;
}

void TrustedGroupInfo::setMachineAddrAsWstring(std::wstring address)
{
    setMachineAddr(toNarrow(address, FirewallSDK::FW_RULE_NAME_TO_STRING_FAILED));
}

} // namespace FWService
