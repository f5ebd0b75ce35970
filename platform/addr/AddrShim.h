// Stand-ins for the Mac's ascii2addr and addr2ascii, and host-name lookup,
// over glibc (inet_aton, inet_ntop, gethostbyname_r). Addresses are 4 bytes
// in network byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace addrshim {

/// Buffer size addr2ascii needs.
const int ADDR_TEXT_SIZE = 20;

/// AF_INET only: converts text in inet_aton's forms ("010.1.2.3" is 8.1.2.3,
/// "09.1.2.3" is refused) into *result; returns 4, or -1 on failure.
int ascii2addr(int af, const char* text, void* result);

/// AF_INET, len 4 only: writes the dotted text into buf (at least
/// ADDR_TEXT_SIZE bytes); returns buf, or nullptr on failure.
char* addr2ascii(int af, const void* address, int len, char* buf);

/// Resolves a host name to its IPv4 addresses in the resolver's order.
/// Returns false when the name does not resolve.
bool resolveHost(const std::string& name, std::vector<uint32_t>& addresses, std::string& officialName);

} // namespace addrshim
