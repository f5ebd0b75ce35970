// Enumerations shared by the rules, the kernel link, the payloads and the
// panes. Their numbers reach the profile file, the kernel extension and the
// wire: never renumber.
#pragma once

#include <cstdint>

namespace AppProtection {

/// Protocol a network rule applies to.
enum NWProtocol : int32_t {
    NW_TCP = 1,
    NW_UDP = 2,
    NW_TCP_UDP = 3, ///< in a rule: any protocol
};

/// What a network rule does with a connection it matches.
enum actions : int32_t {
    ACTION_ALLOW = 1,
    ACTION_BLOCK = 2,
};

/// Request kinds of the kernel extension, and rule directions.
enum Operation : int32_t {
    EXEC_ACTION = 100,
    MODIFY_ACTION = 101,
    INCOMING_CONNECTION = 102,
    OUTGOING_CONNECTION = 103,
    INCOMING_OUTGOING_CONNECTION = 104,
    PID_CREATION = 105,
    BLOCKED_INCOMING_CONNECTION = 106,
    BLOCKED_OUTGOING_CONNECTION = 107,
};

} // namespace AppProtection
