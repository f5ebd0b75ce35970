// Checks of one user-typed address: dotted IPv4, address with a mask width,
// or host name. Every refusal is a return code; nothing throws.
#pragma once

#include <cstdint>
#include <string>

namespace FirewallSDK {
namespace IP_Validator {

/// What validateAddr recognised; written on success only (callers preset 3).
enum ADDR_TYPE : int32_t {
    IP_ADDR_DOTTED = 0,
    IP_ADDR_WITH_MASK = 1,
    IP_ADDR_HOSTNAME = 2,
    IP_ADDR_UNKNOWN = 3
};

/// Serves one validateAddr call; its fields are read only after a 0.
class IPValidator {
public:
    IPValidator();
    ~IPValidator();

    /// 0 valid; 1 masked address not printable; 2 not four digit groups;
    /// 3 no IPv4 address or unresolved host; 5 bad mask width; 6 host name
    /// with a width; 7 address not printable.
    int validateAddr(std::string address, ADDR_TYPE& type);

    int isValidIPAddr(const char* text);
    int isAddrContainChar(const char* text);
    int isValidDotedIPAddr(const char* text);
    int isValidMaskWidth(const char* text);

    std::string getIPAddrStr() const { return addrText; }
    std::string getHostName() const { return hostName; }
    std::string getIPAndMask() const { return addrText + "/" + maskWidthText; }

private:
    std::string addrText;      // normalised address text
    uint32_t address = 0;      // network byte order
    std::string maskWidthText; // as written after the "/"
    uint32_t mask = 0;         // network byte order
    std::string hostName;
};

} // namespace IP_Validator
} // namespace FirewallSDK
