#include "NetworkRule.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <vector>

#include <arpa/inet.h>

namespace AppProtection {

namespace {

/// The non-empty pieces of `text` between `sep` characters.
std::vector<std::string> splitPieces(const std::string& text, char sep)
{
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

/// strtol in base 10 (leading blanks and a sign accepted, trailing text
/// ignored); false when there are no digits or the value is out of range.
bool readDecimal(const std::string& piece, long& value)
{
    const char* begin = piece.c_str();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE)
        return false;
    value = v;
    return true;
}

bool validPort(long port) { return port > 0 && port <= 65535; }

struct Service {
    const char* name;
    int first;
    int last;
};

const Service kServices[] = {
    {"FTP", 20, 21},          {"SSH", 22, 22},    {"Telnet", 23, 23},
    {"SMTP", 25, 25},         {"DNS", 53, 53},    {"DHCP Server", 67, 67},
    {"DHCP Client", 68, 68},  {"TFTP", 69, 69},   {"HTTP", 80, 80},
    {"POP3", 110, 110},       {"NTP", 123, 123},  {"SMB", 139, 139},
    {"IMAP", 143, 143},       {"Airport", 192, 192}, {"LDAP", 389, 389},
    {"HTTPS", 443, 443},
};

} // namespace

bool NetworkRule::setIpRange(std::string text)
{
    if (text.empty())
        return false;
    if (text == "ANY_IP") {
        ipAddress = 0;
        subnetBits = 0;
        ipRange = text;
        return true;
    }
    std::vector<std::string> pieces = splitPieces(text, '/');
    if (pieces.empty())
        return false;
    in_addr addr{};
    if (inet_aton(pieces[0].c_str(), &addr) == 0)
        return false;
    ipAddress = ntohl(addr.s_addr);
    if (pieces.size() >= 2) {
        // The width is checked as read, before it is narrowed to 16 bits.
        long bits = 0;
        if (!readDecimal(pieces[1], bits) || bits <= 0 || bits >= 32) {
            ipAddress = 0;
            subnetBits = 0;
            return false;
        }
        subnetBits = static_cast<int16_t>(bits);
        ipAddress &= ~((uint32_t(1) << (32 - bits)) - 1);
        ipRange = text;
        return true;
    }
    subnetBits = 0;
    ipRange = text;
    return true;
}

bool NetworkRule::setPortRangeStart(int port)
{
    if (!validPort(port))
        return false;
    portRangeStart = port;
    portRangeEnd = port;
    return true;
}

bool NetworkRule::setPortRangeEnd(int port)
{
    if (port <= portRangeStart || !validPort(port))
        return false;
    portRangeEnd = port;
    return true;
}

bool NetworkRule::setPortRange(std::string text)
{
    if (text.empty())
        return false;
    portRange = text;
    if (text == "ANY_PORT")
        return true;
    for (const Service& s : kServices) {
        if (text == s.name) {
            setPortRangeStart(s.first);
            setPortRangeEnd(s.last); // refused for a single port: stays first-first
            return true;
        }
    }
    std::vector<std::string> pieces = splitPieces(text, '-');
    if (pieces.empty())
        return false;
    // Numbers are range-checked as read, before they are narrowed to int.
    long first = 0;
    if (!readDecimal(pieces[0], first) || !validPort(first))
        return false;
    setPortRangeStart(static_cast<int>(first));
    if (pieces.size() == 1)
        return true;
    long last = 0;
    if (pieces.size() > 2 || !readDecimal(pieces[1], last) || !validPort(last)
        || !setPortRangeEnd(static_cast<int>(last))) {
        portRangeStart = 0;
        portRangeEnd = 0;
        return false;
    }
    return true;
}

bool NetworkRule::matches(const sockaddr_in& peer, short proto, Operation dir) const
{
    uint32_t peerAddress = ntohl(peer.sin_addr.s_addr);
    // The port field carries the number itself (see the kernel request).
    int32_t peerPort = static_cast<uint16_t>(peer.sin_port);

    if (ipAddress != 0 && ipAddress != peerAddress) {
        // Width 0 means the single address; a width outside 1..31 (only a
        // file or a payload can carry one) matches the exact address only.
        if (subnetBits <= 0 || subnetBits >= 32)
            return false;
        uint32_t mask = ~((uint32_t(1) << (32 - subnetBits)) - 1);
        if ((peerAddress & mask) != ipAddress)
            return false;
    }
    if (portRangeStart != 0 && peerPort < portRangeStart)
        return false;
    if (portRangeEnd != 0 && peerPort > portRangeEnd)
        return false;
    if (protocol != NW_TCP_UDP && protocol != proto)
        return false;
    if (direction != INCOMING_OUTGOING_CONNECTION && direction != dir)
        return false;
    return true;
}

bool NetworkRule::operator==(const NetworkRule& o) const
{
    return order == o.order && ipRange == o.ipRange && ipAddress == o.ipAddress
        && subnetBits == o.subnetBits && portRangeStart == o.portRangeStart
        && portRangeEnd == o.portRangeEnd && protocol == o.protocol
        && direction == o.direction && action == o.action;
}

void NetworkRule::print(std::ostream& out) const
{
    out << " OrderNo :" << order << " IP Address Range :" << ipRange
        << " IP Address : " << ipAddress << " SubnetMask : " << subnetBits
        << " PortRangeStart :" << portRangeStart << " PortRangeEnd :" << portRangeEnd
        << " NWProtocol :" << (protocol == NW_TCP ? "TCP" : protocol == NW_UDP ? "UDP" : "BOTH")
        << " Direction :"
        << (direction == INCOMING_CONNECTION ? "INCOMING"
                : direction == OUTGOING_CONNECTION ? "OUTGOING" : "BOTH")
        << " Action :" << (action == ACTION_ALLOW ? "ALLOW" : "BLOCK") << std::endl;
}

void NetworkRule::print() const { print(std::cout); }

} // namespace AppProtection
