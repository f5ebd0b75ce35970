// Error codes and exception classes.
#include <exception>
#include <type_traits>

#include <gtest/gtest.h>

#include "FirewallException.h"

using namespace FirewallSDK;

static_assert(!std::is_polymorphic_v<FirewallException>, "a value type without virtual functions");
static_assert(!std::is_base_of_v<std::exception, FirewallException>, "no std::exception base");
static_assert(std::is_base_of_v<FirewallException, SystemException>);
static_assert(std::is_base_of_v<FirewallException, FirewallWrapperException>);
static_assert(sizeof(FWErrorCode) == 4);

TEST(FirewallExceptionTest, EveryCodeHasItsText)
{
    struct Case {
        FWErrorCode code;
        int value;
        const char* text;
    };
    const Case cases[] = {
        {FW_RULE_NAME_TO_STRING_FAILED, 13001, "Failed to convert rule name from widestring to string"},
        {FW_RULE_NAME_TO_WSTRING_FAILED, 13002, "Failed to convert rule name from string to widestring"},
        {FW_SRC_IP_TO_WSTRING_FAILED, 13004, "Failed to convert src ip from string to widestring"},
        {FW_SRC_PORT_TO_WSTRING_FAILED, 13006, "Failed to convert src port from string to widestring"},
        {FW_DEST_IP_TO_WSTRING_FAILED, 13008, "Failed to convert dest ip from string to widestring"},
        {FW_DEST_PORT_TO_WSTRING_FAILED, 13010, "Failed to convert dest port from string to widestring"},
        {FW_BUILD_NUMBER_TO_WSTRING_FAILED, 13011, "Failed to convert build number from string to widestring"},
        {FW_INTERFACE_TO_WSTRING_FAILED, 13012, "Failed to convert network interface from string to widestring"},
        {FW_INVALID_RULE_NUMBER_FOR_SETTING, 13013, "Invalid rule number for setting"},
        {FW_INVALID_ACTION_FOR_SETTING, 13014, "Invalid action for setting"},
        {FW_INVALID_CATEGORY_FOR_SETTING, 13015, "Invalid category for setting"},
        {FW_INVALID_PROTOCOL_FOR_SETTING, 13016, "Invalid protocol for setting"},
        {FW_EMPTY_DEST_IP, 13022, "Empty dest ip for setting"},
        {FW_EMPTY_DEST_IP_2, 13023, "Empty dest ip for setting"},
        {FW_UNKNOWN_PROTOCOL_FOR_SETTING, 13026, "Unknown protocol for setting"},
        {FW_EMPTY_DEST_IP_3, 13028, "Empty dest ip for setting"},
        {FW_UNKNOWN_ACTION_REQUESTED, 13029, "Unknown action requested"},
        {FW_INVALID_RULE_NUMBER, 13035, "Invalid rule number"},
        {FW_TRUSTED_GROUP_NAME_EXISTS, 13037, "Trusted Group Name Already Exist"},
        {FW_TRUSTED_GROUP_LIST_FULL, 13038, "Trusted group list is full"},
        {FW_SET_FIREWALL_STATE_FAILED, 13040, "Failed to set firewall state"},
        {FW_GET_FIREWALL_STATE_FAILED, 13041, "Failed to get firewall state"},
        {FW_SET_LOG_STATE_FAILED, 13042, "Failed to set filewall log state"},
        {FW_GET_LOG_STATE_FAILED, 13043, "Failed to get filewall log state"},
        {FW_INVALID_COMMAND_FOR_EXECUTION, 13044, "Invalid command for execution"},
        {FW_INVALID_ACTION_SPECIFIED, 13045, "Invalid action specified"},
        {FW_NO_SUCH_HOST, 13046, "No such ip or host name exist"},
        {FW_NO_SUCH_SOURCE_HOST, 13047, "No such source ip or host name exist"},
        {FW_NO_SUCH_DESTINATION_HOST, 13048, "No such destination ip or host name exist"},
        {FW_INVALID_SOURCE_PORT, 13049, "Invalid source port"},
        {FW_INVALID_DESTINATION_PORT, 13050, "Invalid destination port"},
        {FW_NO_SUCH_RULE_NUMBER, 13051, "No such rule number exist"},
        {FW_NO_SPACE_LEFT, 13052, "No space left to add rule"},
        {FW_PIPE_FAILED, 13053, "Failed to open pipe"},
        {FW_FORK_FAILED, 13054, "Failed to create chield process"},
        {FW_EXEC_FAILED, 13055, "Faile to exec"},
        {FW_FDOPEN_FAILED, 13056, "Failed to open file from file descriptor"},
        {FW_RAW_SOCKET_FAILED, 13057, "Failed to open raw socket"},
        {FW_UNKNOWN_ERROR, 13058, "Unknown error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(static_cast<int>(c.code), c.value);
        EXPECT_STREQ(fwErrorText(c.code), c.text);
        FirewallException e(fwErrorText(c.code), c.code);
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.getErrorMsg(), c.text);
    }
    EXPECT_STREQ(fwErrorText(static_cast<FWErrorCode>(13003)), "");
}

TEST(FirewallExceptionTest, SubclassCaughtByBaseKeepsCodeAndText)
{
    try {
        throw SystemException("Failed to open pipe", FW_PIPE_FAILED);
    } catch (FirewallException& e) {
        EXPECT_EQ(e.code, 13053);
        EXPECT_EQ(e.getErrorMsg(), "Failed to open pipe");
        return;
    }
    FAIL() << "not caught";
}

TEST(FirewallExceptionTest, RethrowByCopyBecomesPlainException)
{
    bool caughtAsWrapper = false;
    try {
        try {
            try {
                throw FirewallWrapperException("Unknown action requested", FW_UNKNOWN_ACTION_REQUESTED);
            } catch (FirewallException& e) {
                throw FirewallException(e); // the rule store's rethrow
            }
        } catch (FirewallWrapperException&) {
            caughtAsWrapper = true;
        }
    } catch (FirewallException& e) {
        EXPECT_EQ(e.code, FW_UNKNOWN_ACTION_REQUESTED);
        EXPECT_EQ(e.getErrorMsg(), "Unknown action requested");
    }
    EXPECT_FALSE(caughtAsWrapper);
}
