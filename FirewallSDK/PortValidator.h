// Check of a user-typed port list: single ports and ranges separated by
// commas, at most 30 items.
#pragma once

#include <string>

namespace FirewallSDK {
namespace PORT_Validator {

class PortValidator {
public:
    PortValidator();
    ~PortValidator();

    /// 0 valid; 1 not a port list or a bad port; 3 more than two range parts;
    /// 4 more than 30 items.
    int validatePortNos(std::string ports);
    /// One port number: strtol with automatic base, 0 to 65535.
    bool validatePort(const char* text);
};

} // namespace PORT_Validator
} // namespace FirewallSDK
