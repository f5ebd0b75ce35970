// One custom network rule of an application: address and prefix, port range,
// protocol, direction and action.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <netinet/in.h>

#include "AppProtTypes.h"

namespace AppProtection {

class ProfileRecordIO;

class NetworkRule {
public:
    NetworkRule() = default;
    NetworkRule(const NetworkRule&) = default;
    NetworkRule& operator=(const NetworkRule&) = default;
    NetworkRule(NetworkRule&&) = default;
    NetworkRule& operator=(NetworkRule&&) = default;
    virtual ~NetworkRule() = default;

    int getOrder() const { return order; }
    void setOrder(int value) { order = value; }
    actions getAction() const { return action; }
    void setAction(actions value) { action = value; }
    NWProtocol getNWProtocol() const { return protocol; }
    void setNWProtocol(NWProtocol value) { protocol = value; }
    Operation getDirection() const { return direction; }
    void setDirection(Operation value) { direction = value; }
    std::string getIpRange() const { return ipRange; }
    std::string getPortRange() const { return portRange; }
    int getPortRangeStart() const { return portRangeStart; }
    int getPortRangeEnd() const { return portRangeEnd; }

    /// Takes "ANY_IP", an inet_aton address, or address "/" width (1 to 31).
    /// False when refused; a refused width also zeroes address and width.
    bool setIpRange(std::string text);
    /// Takes "ANY_PORT", a service name, a port or "low-high". The text is
    /// kept even when refused.
    bool setPortRange(std::string text);
    /// Sets both ends to `port`; refuses ports outside 1..65535.
    bool setPortRangeStart(int port);
    /// Sets the upper end; refuses ports outside 1..65535 or not above the
    /// lower end.
    bool setPortRangeEnd(int port);

    /// True when a connection of `protocol` in `direction` with `peer` falls
    /// under this rule. `peer.sin_port` holds the port number itself, not in
    /// network byte order.
    bool matches(const sockaddr_in& peer, short protocol, Operation direction) const;

    /// Every field but the `portRange` text.
    bool operator==(const NetworkRule& other) const;
    bool operator!=(const NetworkRule& other) const { return !(*this == other); }

    static bool sortOrder(NetworkRule a, NetworkRule b) { return a.order < b.order; }
    static bool uniqueOrder(NetworkRule a, NetworkRule b) { return a.order == b.order; }

    /// Diagnostic dump, one line.
    void print(std::ostream& out) const;
    void print() const;

    /// The rule's order wherever it is serialised, payloads included.
    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & order & ipAddress & ipRange & portRangeStart & portRangeEnd & subnetBits & protocol & action
            & direction & portRange;
    }

private:
    friend class ProfileRecordIO;

    int32_t order = 0;
    uint32_t ipAddress = 0; ///< host byte order; 0 is any address
    int16_t subnetBits = 0; ///< 0 is the single address
    std::string ipRange;
    std::string portRange;
    int32_t portRangeStart = 0; ///< 0: no lower bound
    int32_t portRangeEnd = 0;   ///< 0: no upper bound
    NWProtocol protocol = NW_TCP;
    actions action = ACTION_ALLOW;
    Operation direction = OUTGOING_CONNECTION;
};

} // namespace AppProtection
