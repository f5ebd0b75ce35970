// The record the broker's logger carries.
#pragma once

#include <string>

#include "CommandData.h"

namespace HVO {

enum typeOfLog_enum : int {
    LOG_TYPE_ACTIVITY = 1,
    LOG_TYPE_HISTORY_EVENT = 3,
    LOG_TYPE_ZUV_EVENT = 5,
    LOG_TYPE_RECENT_EVENT = 7,
};

enum hvk_logLevel_enum : int {
    HVK_LOG_LEVEL_1 = 1,
    HVK_LOG_LEVEL_2 = 2,
    HVK_LOG_LEVEL_3 = 3,
    HVK_LOG_LEVEL_4 = 4,
    HVK_LOG_LEVEL_5 = 5,
};

/// A log record: sender, type, level, message and detail. Not copyable.
class LogRequest : public SerializedData {
public:
    LogRequest(int sender, typeOfLog_enum type, hvk_logLevel_enum level)
        : sender(sender), logType(type), level(level)
    {
    }
    ~LogRequest() override = default;

    void setMessage(const std::wstring& m) { message = m; }
    void setDetailMessage(const std::wstring& d) { detailMessage = d; }

    int getSender() const { return sender; }
    typeOfLog_enum getLogType() const { return logType; }
    hvk_logLevel_enum getLogLevel() const { return level; }
    std::wstring getMessage() const { return message; }
    std::wstring getDetailMessage() const { return detailMessage; }

private:
    int sender;
    typeOfLog_enum logType;
    std::wstring message;
    std::wstring detailMessage;
    hvk_logLevel_enum level;
};

} // namespace HVO
