// Parsing shared by the validators and the rule comparison (library-internal).
#pragma once

#include <cstdint>
#include <string>

namespace FirewallSDK {
namespace detail {

enum class PortParse { Ok, Overflow, Trailing, Range };

/// One port number as the port validator reads it: strtol with automatic
/// base; a value outside the 32-bit long range or an empty text is an
/// overflow; characters after the number, or instead of one, are refused
/// (bad holds the first); then 0 to 65535.
PortParse parsePort(const char* text, long& value, char& bad);

/// Number of leading one bits of a host-order mask, -1 when not contiguous.
int contiguousMaskLength(uint32_t mask);

/// An address list ("any", "me", A, A/W, A:M items separated by ",") in the
/// kernel reader's form; false when any item does not parse.
bool canonicalAddressList(const std::string& text, std::string& out);

/// A port list (N or N-M items separated by ",") in the kernel reader's form;
/// false when any item does not parse.
bool canonicalPortList(const std::string& text, std::string& out);

} // namespace detail
} // namespace FirewallSDK
