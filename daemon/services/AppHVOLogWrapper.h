// The daemon's sending of activity log lines and events through the command
// broker's logger. No failure reaches the caller.
#pragma once

#include "LogRequest.h"

namespace AppProtection {

class AppHVOLogWrapper {
public:
    /// Formats the arguments and logs the text as module 3, "AppProtection".
    static void sendLogMessage(HVO::typeOfLog_enum type, HVO::hvk_logLevel_enum level, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
};

} // namespace AppProtection
