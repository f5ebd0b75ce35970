#include "FWRecords.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace FirewallSDK {

namespace {

bool isCategoryGroup(uint32_t c)
{
    switch (c & 0xFFFF0000u) {
    case 0x10000000u:
    case 0x20000000u:
    case 0x40000000u:
    case 0x80000000u:
        return true;
    default:
        return false;
    }
}

[[noreturn]] void throwCode(FWErrorCode code)
{
    throw FirewallException(fwErrorText(code), code);
}

} // namespace

void FWBasicData::setRuleNo(int32_t n)
{
    if (n < 1)
        throwCode(FW_INVALID_RULE_NUMBER_FOR_SETTING);
    ruleNo = n;
}

void FWBasicData::setRuleNoAsString(const std::string& text)
{
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    unsigned long value = std::strtoul(start, &end, 10);
    // strtoul takes a sign and sets no errno for "no digits"; long is 64-bit
    // here, so anything above 32 bits is refused before narrowing.
    if (end == start || errno == ERANGE || value > 0xFFFFFFFFul)
        throwCode(FW_INVALID_RULE_NUMBER_FOR_SETTING);
    int32_t n = static_cast<int32_t>(static_cast<uint32_t>(value));
    if (n < 1 || n > 65534)
        throwCode(FW_INVALID_RULE_NUMBER_FOR_SETTING);
    ruleNo = n;
}

std::string FWBasicData::getRuleNoAsString() const
{
    return std::to_string(static_cast<uint32_t>(ruleNo));
}

void FWBasicData::setAction(FWAction a)
{
    switch (a) {
    case FW_ACTION_ALLOW:
        action = "allow";
        return;
    case FW_ACTION_DENY:
        action = "deny";
        return;
    case FW_ACTION_UNKNOWN:
        break;
    }
    throwCode(FW_INVALID_ACTION_FOR_SETTING);
}

FWAction FWBasicData::getAction() const
{
    if (action == "allow")
        return FW_ACTION_ALLOW;
    if (action == "deny")
        return FW_ACTION_DENY;
    return FW_ACTION_UNKNOWN;
}

void FWBasicData::setRuleCategory(uint32_t c)
{
    if (!isCategoryGroup(c))
        throwCode(FW_INVALID_CATEGORY_FOR_SETTING);
    category = c;
}

void FWBasicData::DumpBasicData()
{
    std::cout << "------- FWBasicData -------" << std::endl;
    std::cout << "[ " << ruleNo << " " << ruleName << " " << action << " "
              << static_cast<int32_t>(direction) << " " << category << "]" << std::endl;
}

void FWDetailedData::setProtocol(FieldFlags f, const std::string& text)
{
    if (text.empty())
        throwCode(FW_INVALID_PROTOCOL_FOR_SETTING);
    protocols.emplace_back(f, text);
}

void FWDetailedData::setProtocol(FWProtocol p)
{
    const char* text = nullptr;
    switch (p) {
    case FW_PROTOCOL_IP: text = "ip"; break;
    case FW_PROTOCOL_TCP: text = "tcp"; break;
    case FW_PROTOCOL_UDP: text = "udp"; break;
    case FW_PROTOCOL_ICMP: text = "icmp"; break;
    case FW_PROTOCOL_IGMP: text = "igmp"; break;
    }
    if (text == nullptr)
        throwCode(FW_UNKNOWN_PROTOCOL_FOR_SETTING);
    setProtocol(FIELD_PLAIN, text);
}

std::string FWDetailedData::getSrcPort() const
{
    return srcPorts.empty() ? std::string() : srcPorts.front().getPortNo();
}

std::string FWDetailedData::getDestPort() const
{
    return destPorts.empty() ? std::string() : destPorts.front().getPortNo();
}

void FWDetailedData::setInterface(const std::string& keyword, const std::string& name)
{
    interfaces.emplace(keyword, name);
}

std::string FWExtDetailedData::getRuleSetNoAsString() const
{
    return std::to_string(static_cast<unsigned>(ruleSet));
}

std::string FWExtDetailedData::getActionOptPortAsString() const
{
    return std::to_string(static_cast<unsigned>(actionOptPort));
}

} // namespace FirewallSDK
