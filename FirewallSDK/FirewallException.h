// Error codes and exceptions of the firewall rule model and engine.
#pragma once

#include <cstdint>
#include <string>

namespace FirewallSDK {

/// The firewall's error vocabulary; the numbers cross process boundaries
/// (service replies to the pane), so they never change.
enum FWErrorCode : int32_t {
    FW_RULE_NAME_TO_STRING_FAILED = 13001,
    FW_RULE_NAME_TO_WSTRING_FAILED = 13002,
    FW_SRC_IP_TO_WSTRING_FAILED = 13004,
    FW_SRC_PORT_TO_WSTRING_FAILED = 13006,
    FW_DEST_IP_TO_WSTRING_FAILED = 13008,
    FW_DEST_PORT_TO_WSTRING_FAILED = 13010,
    FW_BUILD_NUMBER_TO_WSTRING_FAILED = 13011,
    FW_INTERFACE_TO_WSTRING_FAILED = 13012,
    FW_INVALID_RULE_NUMBER_FOR_SETTING = 13013,
    FW_INVALID_ACTION_FOR_SETTING = 13014,
    FW_INVALID_CATEGORY_FOR_SETTING = 13015,
    FW_INVALID_PROTOCOL_FOR_SETTING = 13016,
    FW_EMPTY_DEST_IP = 13022,
    FW_EMPTY_DEST_IP_2 = 13023,
    FW_UNKNOWN_PROTOCOL_FOR_SETTING = 13026,
    FW_EMPTY_DEST_IP_3 = 13028,
    FW_UNKNOWN_ACTION_REQUESTED = 13029,
    FW_INVALID_RULE_NUMBER = 13035,
    FW_TRUSTED_GROUP_NAME_EXISTS = 13037,
    FW_TRUSTED_GROUP_LIST_FULL = 13038,
    FW_SET_FIREWALL_STATE_FAILED = 13040,
    FW_GET_FIREWALL_STATE_FAILED = 13041,
    FW_SET_LOG_STATE_FAILED = 13042,
    FW_GET_LOG_STATE_FAILED = 13043,
    FW_INVALID_COMMAND_FOR_EXECUTION = 13044,
    FW_INVALID_ACTION_SPECIFIED = 13045,
    FW_NO_SUCH_HOST = 13046,
    FW_NO_SUCH_SOURCE_HOST = 13047,
    FW_NO_SUCH_DESTINATION_HOST = 13048,
    FW_INVALID_SOURCE_PORT = 13049,
    FW_INVALID_DESTINATION_PORT = 13050,
    FW_NO_SUCH_RULE_NUMBER = 13051,
    FW_NO_SPACE_LEFT = 13052,
    FW_PIPE_FAILED = 13053,
    FW_FORK_FAILED = 13054,
    FW_EXEC_FAILED = 13055,
    FW_FDOPEN_FAILED = 13056,
    FW_RAW_SOCKET_FAILED = 13057,
    FW_UNKNOWN_ERROR = 13058
};

/// The message text that goes with a code ("" for a value outside the table).
const char* fwErrorText(FWErrorCode code);

/// A failure of the firewall: message and code. A value type without virtual
/// functions; thrown by value, caught by reference. Rethrowing by copy gives a
/// plain FirewallException whatever subclass was caught.
class FirewallException {
public:
    FirewallException(std::string message, FWErrorCode errorCode);

    const std::string& getErrorMsg() const { return message; }
    std::string& getErrorMsg() { return message; }

    FWErrorCode code;

private:
    std::string message;
};

/// Failures of the operating system's facilities and unexpected failures.
class SystemException : public FirewallException {
public:
    SystemException(std::string message, FWErrorCode errorCode);
};

/// Raised by the ipfw command builder only.
class FirewallWrapperException : public FirewallException {
public:
    FirewallWrapperException(std::string message, FWErrorCode errorCode);
};

} // namespace FirewallSDK
