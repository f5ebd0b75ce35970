#include "FirewallException.h"

#include <utility>

namespace FirewallSDK {

const char* fwErrorText(FWErrorCode code)
{
    switch (code) {
    case FW_RULE_NAME_TO_STRING_FAILED: return "Failed to convert rule name from widestring to string";
    case FW_RULE_NAME_TO_WSTRING_FAILED: return "Failed to convert rule name from string to widestring";
    case FW_SRC_IP_TO_WSTRING_FAILED: return "Failed to convert src ip from string to widestring";
    case FW_SRC_PORT_TO_WSTRING_FAILED: return "Failed to convert src port from string to widestring";
    case FW_DEST_IP_TO_WSTRING_FAILED: return "Failed to convert dest ip from string to widestring";
    case FW_DEST_PORT_TO_WSTRING_FAILED: return "Failed to convert dest port from string to widestring";
    case FW_BUILD_NUMBER_TO_WSTRING_FAILED: return "Failed to convert build number from string to widestring";
    case FW_INTERFACE_TO_WSTRING_FAILED: return "Failed to convert network interface from string to widestring";
    case FW_INVALID_RULE_NUMBER_FOR_SETTING: return "Invalid rule number for setting";
    case FW_INVALID_ACTION_FOR_SETTING: return "Invalid action for setting";
    case FW_INVALID_CATEGORY_FOR_SETTING: return "Invalid category for setting";
    case FW_INVALID_PROTOCOL_FOR_SETTING: return "Invalid protocol for setting";
    case FW_EMPTY_DEST_IP:
    case FW_EMPTY_DEST_IP_2:
    case FW_EMPTY_DEST_IP_3: return "Empty dest ip for setting";
    case FW_UNKNOWN_PROTOCOL_FOR_SETTING: return "Unknown protocol for setting";
    case FW_UNKNOWN_ACTION_REQUESTED: return "Unknown action requested";
    case FW_INVALID_RULE_NUMBER: return "Invalid rule number";
    case FW_TRUSTED_GROUP_NAME_EXISTS: return "Trusted Group Name Already Exist";
    case FW_TRUSTED_GROUP_LIST_FULL: return "Trusted group list is full";
    case FW_SET_FIREWALL_STATE_FAILED: return "Failed to set firewall state";
    case FW_GET_FIREWALL_STATE_FAILED: return "Failed to get firewall state";
    case FW_SET_LOG_STATE_FAILED: return "Failed to set filewall log state";
    case FW_GET_LOG_STATE_FAILED: return "Failed to get filewall log state";
    case FW_INVALID_COMMAND_FOR_EXECUTION: return "Invalid command for execution";
    case FW_INVALID_ACTION_SPECIFIED: return "Invalid action specified";
    case FW_NO_SUCH_HOST: return "No such ip or host name exist";
    case FW_NO_SUCH_SOURCE_HOST: return "No such source ip or host name exist";
    case FW_NO_SUCH_DESTINATION_HOST: return "No such destination ip or host name exist";
    case FW_INVALID_SOURCE_PORT: return "Invalid source port";
    case FW_INVALID_DESTINATION_PORT: return "Invalid destination port";
    case FW_NO_SUCH_RULE_NUMBER: return "No such rule number exist";
    case FW_NO_SPACE_LEFT: return "No space left to add rule";
    case FW_PIPE_FAILED: return "Failed to open pipe";
    case FW_FORK_FAILED: return "Failed to create chield process";
    case FW_EXEC_FAILED: return "Faile to exec";
    case FW_FDOPEN_FAILED: return "Failed to open file from file descriptor";
    case FW_RAW_SOCKET_FAILED: return "Failed to open raw socket";
    case FW_UNKNOWN_ERROR: return "Unknown error";
    }
    return "";
}

FirewallException::FirewallException(std::string msg, FWErrorCode errorCode)
    : code(errorCode), message(std::move(msg))
{
}

SystemException::SystemException(std::string msg, FWErrorCode errorCode)
    : FirewallException(std::move(msg), errorCode)
{
}

FirewallWrapperException::FirewallWrapperException(std::string msg, FWErrorCode errorCode)
    : FirewallException(std::move(msg), errorCode)
{
}

} // namespace FirewallSDK
