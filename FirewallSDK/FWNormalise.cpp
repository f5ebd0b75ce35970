#include "FWNormalise.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>

#include "AddrShim.h"

namespace FirewallSDK {
namespace detail {

PortParse parsePort(const char* text, long& value, char& bad)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 0);
    // No digits: the text itself is what follows the (absent) number; an
    // empty text converts nothing and is refused as a failed conversion.
    if (end == text && *text != '\0') {
        bad = *text;
        return PortParse::Trailing;
    }
    // long is 64-bit here; port texts are read as a 32-bit long holds them.
    if (end == text || errno == ERANGE || value > INT32_MAX || value < INT32_MIN)
        return PortParse::Overflow;
    if (*end != '\0') {
        bad = *end;
        return PortParse::Trailing;
    }
    if (value < 0 || value > 65535)
        return PortParse::Range;
    return PortParse::Ok;
}

int contiguousMaskLength(uint32_t mask)
{
    int n = 0;
    while (n < 32 && (mask & (0x80000000u >> n)))
        ++n;
    if (n < 32 && (mask & (0xFFFFFFFFu >> n)) != 0)
        return -1;
    return n;
}

namespace {

std::string dotted(uint32_t hostOrder)
{
    uint32_t net = htonl(hostOrder);
    char buf[addrshim::ADDR_TEXT_SIZE];
    return addrshim::addr2ascii(AF_INET, &net, 4, buf) ? std::string(buf) : std::string();
}

bool parseDotted(const std::string& text, uint32_t& hostOrder)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (std::isspace(static_cast<unsigned char>(c)))
            return false; // inet_aton stops at a blank and ignores the rest
    uint32_t net;
    if (addrshim::ascii2addr(AF_INET, text.c_str(), &net) != 4)
        return false;
    hostOrder = ntohl(net);
    return true;
}

bool canonicalAddress(const std::string& item, std::string& out)
{
    if (item == "any" || item == "me") {
        out = item;
        return true;
    }
    uint32_t address = 0;
    uint32_t mask = 0xFFFFFFFFu;
    std::string::size_type sep = item.find_first_of("/:");
    if (sep == std::string::npos) {
        if (!parseDotted(item, address))
            return false;
    } else {
        if (!parseDotted(item.substr(0, sep), address))
            return false;
        std::string rest = item.substr(sep + 1);
        if (item[sep] == '/') {
            if (rest.empty() || rest.size() > 10)
                return false;
            unsigned long width = 0;
            for (char c : rest) {
                if (c < '0' || c > '9')
                    return false;
                width = width * 10 + static_cast<unsigned>(c - '0');
            }
            if (width > 32)
                return false;
            mask = width == 0 ? 0 : 0xFFFFFFFFu << (32 - width);
        } else if (!parseDotted(rest, mask)) {
            return false;
        }
    }
    int len = contiguousMaskLength(mask);
    address &= mask;
    if (len == 0)
        out = "any";
    else if (len < 0)
        out = dotted(address) + ":" + dotted(mask);
    else if (len < 32)
        out = dotted(address) + "/" + std::to_string(len);
    else
        out = dotted(address);
    return true;
}

bool canonicalPort(const std::string& item, std::string& out)
{
    std::string::size_type dash = item.find('-');
    std::string first = item.substr(0, dash);
    long low = 0;
    long high = 0;
    char bad = 0;
    if (first.empty() || parsePort(first.c_str(), low, bad) != PortParse::Ok)
        return false;
    high = low;
    if (dash != std::string::npos) {
        std::string second = item.substr(dash + 1);
        if (second.empty() || parsePort(second.c_str(), high, bad) != PortParse::Ok)
            return false;
    }
    out = std::to_string(low);
    if (high != low)
        out += "-" + std::to_string(high);
    return true;
}

template <class ItemFn>
bool canonicalList(const std::string& text, std::string& out, ItemFn canonicalItem)
{
    std::string result;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::string canon;
        if (item.empty() || !canonicalItem(item, canon))
            return false;
        if (!result.empty())
            result += ",";
        result += canon;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    out = result;
    return true;
}

} // namespace

bool canonicalAddressList(const std::string& text, std::string& out)
{
    return canonicalList(text, out, canonicalAddress);
}

bool canonicalPortList(const std::string& text, std::string& out)
{
    return canonicalList(text, out, canonicalPort);
}

} // namespace detail
} // namespace FirewallSDK
