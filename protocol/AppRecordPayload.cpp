#include "AppRecordPayload.h"

namespace AppProtection {

AppProtReport::AppProtReport(const std::string& name, const BasicAppRecord& record, Operation operation,
                             int searchReturnValue)
    : AppProtBasicReport(name, operation), basicAppRecord(record), searchReturnValue(searchReturnValue)
{
}

AppProtReport::AppProtReport(const std::string& name, const BasicAppRecord& record, Operation operation,
                             int searchReturnValue, const sockaddr_in& addr, NWProtocol protocol)
    : AppProtBasicReport(name, operation, addr, protocol), basicAppRecord(record), searchReturnValue(searchReturnValue)
{
}

} // namespace AppProtection
