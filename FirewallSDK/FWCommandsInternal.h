// Shared by the rule store's source files (library-internal).
#pragma once

#include <cstdint>

#include "FWTrace.h"
#include "Trace.h"

#define FW_TRACE(threshold, ...) WARD_TRACE(fwCommandFlowvalue, threshold, __VA_ARGS__)

namespace FirewallSDK {

const uint16_t DEFAULT_RULE_NO = 5002;
const uint32_t DEFAULT_RULE_CATEGORY = 0x10000001u;
const uint32_t GROUP_MASK = 0xFFFF0000u;
const uint32_t NEVER_NUMBERED_GROUP = 0x80000000u;

namespace detail {

/// Inside a catch block: a FirewallException goes on as a plain copy, with
/// its message and code; anything else becomes SystemException 13058.
[[noreturn]] void rethrowAsFirewall(const char* function);

/// The group (high half) is one of the four.
bool validGroup(unsigned category);

} // namespace detail
} // namespace FirewallSDK
