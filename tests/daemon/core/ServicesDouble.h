// A test double of the daemon's services for the core's tests: the same
// classes (daemon/services/*.h) with bodies that record each call. Its alert
// manager keeps requests pending as the real one does, and a test can answer
// one as the user would.
#pragma once

#include <string>
#include <vector>

#include "ScanRequest.h"

namespace servicesdouble {

struct Report {
    std::string appName;
    int operation = 0;
    int action = 0; ///< 1 allow, 2 deny, 3 ask
    int searchReturnValue = 0;
    std::string group; ///< the record's group
    bool notify = false;
};

struct LogLine {
    int type = 0;
    int level = 0;
    std::string text;
};

struct Calls {
    std::vector<ScanRequest> alerts; ///< every sendAlert, in order
    std::vector<bool> clears;        ///< every clearAllAlerts argument
    std::vector<Report> reports;     ///< every handleReport
    std::vector<LogLine> logs;       ///< every sendLogMessage
    int reloads = 0;
    int unloads = 0;
    int agentWrappers = 0;         ///< wrappers built
    int agentWrappersReleased = 0; ///< wrappers destroyed
};

/// What was called since the last reset().
Calls calls();
/// Forgets the calls and the pending requests.
void reset();
/// Requests the alert manager keeps.
std::vector<ScanRequest> pending();
/// Answers the first pending request with `cookie` as the alert manager
/// does on the user's answer: result 1 or 2, queued for the kernel. False
/// when none is pending.
bool answerPending(int cookie, bool allow);
/// The next AppHVOAgentWrapper constructor throws.
void failNextAgentWrapper();

} // namespace servicesdouble
