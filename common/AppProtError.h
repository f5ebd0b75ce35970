// Result codes and the exception of application protection. The numbers
// travel in command replies and are compared by the panes: never renumber.
#pragma once

#include <cstdint>
#include <string>

namespace AppProtection {

enum AppProtError : int32_t {
    SUCCESS = 20000,
    UNEXPECTED_EXCEPTION = 20001,
    VALUE_OUT_OF_RANGE = 20003,
    KEXT_LOAD_FAILED = 20004,
    KEXT_UNLOAD_FAILED = 20005,
    KEXT_CONNECT_FAILED = 20006,
    KEXT_START_HOOKING_FAILED = 20007,
    KEXT_STOP_HOOKING_FAILED = 20008,
    KEXT_PING_FAILED = 20009,
    KEXT_FLUSH_EXCLUSIONS_FAILED = 20010,
    KEXT_SET_EXCLUSIONS_FAILED = 20011,
    KEXT_SET_TIMEOUT_FAILED = 20012,
    DUPLICATE_ENTRY = 20014,
    ENTRY_NOT_FOUND = 20015,
    CONFLICTING_ENTRY = 20017,
    FILE_NOT_FOUND = 20020,
    NOT_A_VALID_EXECUTABLE = 20021,
    PREFERENCES_STORE_FAILED = 20022,
    PID_NOT_IN_CACHE = 20023,
};

/// The message an AppProtException carrying `code` is thrown with; "" for the
/// codes that have no fixed message. Kept as the system writes them.
inline const char* appProtErrorMessage(AppProtError code)
{
    switch (code) {
    case KEXT_LOAD_FAILED: return "Unable to load kext";
    case KEXT_UNLOAD_FAILED: return "Unable to unload kext";
    case KEXT_CONNECT_FAILED: return "Unable to connect to kext";
    case KEXT_START_HOOKING_FAILED: return "Unable to start hooking";
    case KEXT_STOP_HOOKING_FAILED: return "Unable to stop hooking";
    case KEXT_PING_FAILED: return "Unable to ping kext";
    case KEXT_FLUSH_EXCLUSIONS_FAILED: return "Error in flushing kext exclusions";
    case KEXT_SET_EXCLUSIONS_FAILED: return "Error in setting kext exclusions";
    case KEXT_SET_TIMEOUT_FAILED: return "Unable to send timeout to kext";
    case ENTRY_NOT_FOUND: return "Entry not found";
    case FILE_NOT_FOUND: return "File not found";
    case PID_NOT_IN_CACHE: return "Could not find PID in cache";
    case SUCCESS:
    case UNEXPECTED_EXCEPTION:
    case VALUE_OUT_OF_RANGE:
    case DUPLICATE_ENTRY:
    case CONFLICTING_ENTRY:
    case NOT_A_VALID_EXECUTABLE:
    case PREFERENCES_STORE_FAILED:
        return "";
    }
    return "";
}

/// The one exception of application protection: a message and a code. Not
/// derived from std::exception; caught by type at every boundary.
class AppProtException {
public:
    AppProtException(std::string message, AppProtError id)
        : m_exceptionId(id), m_exceptionMsg(std::move(message))
    {
    }
    std::string getExceptionMsg() const { return m_exceptionMsg; }
    AppProtError getExceptionId() const { return m_exceptionId; }

private:
    AppProtError m_exceptionId;
    std::string m_exceptionMsg;
};

} // namespace AppProtection
