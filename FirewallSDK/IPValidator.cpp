#include "IPValidator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdlib>
#include <sys/socket.h>
#include <vector>

#include <boost/regex.hpp>

#include "AddrShim.h"
#include "FWTrace.h"
#include "Trace.h"

#define IPV_TRACE(threshold, ...) WARD_TRACE(ipValidatorFlowvalue, threshold, __VA_ARGS__)

namespace FirewallSDK {
namespace IP_Validator {

namespace {
// Texts longer than this are never matched against a regular expression
// (boost.regex throws when its stack or state count runs out); both
// patterns below give their answer on them by plain scanning.
const size_t LONGEST_MATCHED_TEXT = 1024;
// Longer names never resolve (RFC 1035 limits a name to 255 octets).
const size_t LONGEST_HOST_NAME = 255;
// The longest dotted address: four groups of three digits.
const size_t LONGEST_DOTTED_ADDRESS = 15;

bool isLetterOrBlank(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ';
}
} // namespace

IPValidator::IPValidator()
{
    IPV_TRACE(4, L"%s - Called\n", "IPValidator");
}

IPValidator::~IPValidator()
{
    IPV_TRACE(4, L"%s - Called\n", "~IPValidator");
}

int IPValidator::isAddrContainChar(const char* text)
{
    static const boost::regex pattern(".*[a-z A-Z]+.*");
    const size_t length = std::strlen(text);
    const bool contains = length <= LONGEST_MATCHED_TEXT ? boost::regex_match(text, pattern)
                                                         : std::any_of(text, text + length, isLetterOrBlank);
    if (contains) {
        IPV_TRACE(2, L"%s - Contains alphabet char\n", "isAddrContainChar");
        return 6;
    }
    IPV_TRACE(4, L"%s - Dose not contain alphabet char\n", "isAddrContainChar");
    return 0;
}

int IPValidator::isValidDotedIPAddr(const char* text)
{
    static const boost::regex pattern("[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}");
    if (std::strlen(text) <= LONGEST_DOTTED_ADDRESS && boost::regex_match(text, pattern)) {
        IPV_TRACE(4, L"%s - Valid dotted IP Address %s\n", "isValidDotedIPAddr", text);
        return 0;
    }
    IPV_TRACE(2, L"%s - Invalid dotted IP Address %s\n", "isValidDotedIPAddr", text);
    return 2;
}

int IPValidator::isValidMaskWidth(const char* text)
{
    char* end = nullptr;
    errno = 0;
    long width = std::strtol(text, &end, 10);
    // No digits, overflow of a 32-bit long (long is 64-bit here), or trailing text.
    if (end == text || errno == ERANGE || width > INT32_MAX || width < INT32_MIN || *end != '\0') {
        IPV_TRACE(2, L"%s - Invalid mask width ( %s )\n", "isValidMaskWidth", text);
        return 4;
    }
    if (width > 32 || width <= 0) {
        IPV_TRACE(2, L"%s - Mask width is out of acceptable range ( %s )\n", "isValidMaskWidth", text);
        return 5;
    }
    uint32_t hostMask = width == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> width);
    mask = htonl(hostMask);
    IPV_TRACE(4, L"%s - IP Mask is ( %x )\n", "isValidMaskWidth", mask);
    return 0;
}

int IPValidator::isValidIPAddr(const char* text)
{
    if (isAddrContainChar(text) == 6) {
        IPV_TRACE(2, L"%s - Input string contains alphabets\n", "isValidIPAddr");
        return 6;
    }
    if (isValidDotedIPAddr(text) == 2) {
        IPV_TRACE(2, L"%s - Input string is not a dotted ip address\n", "isValidIPAddr");
        return 2;
    }
    uint32_t converted = 0;
    if (addrshim::ascii2addr(AF_INET, text, &converted) != 4) {
        IPV_TRACE(2, L"%s - Invalid IP Address %s\n", "isValidIPAddr", text);
        return 3;
    }
    address = converted;
    return 0;
}

int IPValidator::validateAddr(std::string text, ADDR_TYPE& type)
{
    IPV_TRACE(4, L"%s - Called with IP Address %s\n", "validateAddr", text.c_str());
    char buf[addrshim::ADDR_TEXT_SIZE];

    std::string::size_type slash = text.find('/');
    if (slash == std::string::npos) {
        int code = isValidIPAddr(text.c_str());
        if (code == 0) {
            if (addrshim::addr2ascii(AF_INET, &address, 4, buf) == nullptr) {
                IPV_TRACE(2, L"%s - Failed to convert back doted IP Address\n", "validateAddr");
                IPV_TRACE(2, L"%s - Unknown error while validating inout str %s\n", "validateAddr", text.c_str());
                return 7;
            }
            addrText = buf;
            IPV_TRACE(4, L"%s - Valid IP Address %s\n", "validateAddr", addrText.c_str());
            type = IP_ADDR_DOTTED;
            return 0;
        }
        IPV_TRACE(4, L"%s - Going to validate Hostname\n", "validateAddr");
        if (code == 6) {
            std::vector<uint32_t> addresses;
            std::string officialName;
            if (text.size() > LONGEST_HOST_NAME || !addrshim::resolveHost(text, addresses, officialName)) {
                IPV_TRACE(2, L"%s - Unable to resolve host name\n", "validateAddr");
                return 3;
            }
            hostName = text;
            IPV_TRACE(4, L"%s - Resolved host name info -\n", "validateAddr");
            if (!officialName.empty())
                IPV_TRACE(4, L"%s - Hostname : \n", "validateAddr");
            std::string joined;
            for (uint32_t a : addresses) {
                if (addrshim::addr2ascii(AF_INET, &a, 4, buf) == nullptr)
                    continue;
                if (!joined.empty())
                    joined += ",";
                joined += buf;
            }
            addrText = joined;
            IPV_TRACE(4, L"%s - Resolved IP Addresses : %s\n", "validateAddr", addrText.c_str());
            type = IP_ADDR_HOSTNAME;
            return 0;
        }
        IPV_TRACE(2, L"%s - Not an IP Address\n", "validateAddr");
        return code;
    }

    IPV_TRACE(4, L"%s - IP/MaskWidth address format\n", "validateAddr");
    addrText = text.substr(0, slash);
    IPV_TRACE(4, L"%s - IP Address %s\n", "validateAddr", addrText.c_str());
    int code = isValidIPAddr(addrText.c_str());
    if (code != 0) {
        IPV_TRACE(2, L"%s - Invalid IP Address %s\n", "validateAddr", addrText.c_str());
        return code;
    }
    maskWidthText = text.substr(slash + 1);
    IPV_TRACE(4, L"%s - Mask width %s\n", "validateAddr", maskWidthText.c_str());
    if (isValidMaskWidth(maskWidthText.c_str()) != 0) {
        IPV_TRACE(2, L"%s - Invalid mask width %s\n", "validateAddr", maskWidthText.c_str());
        return 5;
    }
    uint32_t masked = address & mask;
    if (addrshim::addr2ascii(AF_INET, &masked, 4, buf) == nullptr) {
        IPV_TRACE(2, L"%s - After mask invalid IP Address\n", "validateAddr");
        return 1;
    }
    addrText = buf;
    type = IP_ADDR_WITH_MASK;
    IPV_TRACE(4, L"%s - Valid IP Address %s\n", "validateAddr", addrText.c_str());
    return 0;
}

} // namespace IP_Validator
} // namespace FirewallSDK
