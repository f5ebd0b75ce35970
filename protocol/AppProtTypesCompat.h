// The shared enumerations come from the rule records' header; until that
// header is in the tree, the same definitions stand here.
#pragma once

#if __has_include("AppProtTypes.h")
#include "AppProtTypes.h"
#else
#include <cstdint>

namespace AppProtection {

enum NWProtocol : int32_t {
    NW_TCP = 1,
    NW_UDP = 2,
    NW_TCP_UDP = 3,
};

enum actions : int32_t {
    ACTION_ALLOW = 1,
    ACTION_BLOCK = 2,
};

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
#endif
