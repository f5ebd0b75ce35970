#include "AppProtRecords.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

namespace AppProtection {

namespace {
sockaddr_in zeroAddress()
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    return a;
}
} // namespace

AppProtBasicReport::AppProtBasicReport()
    : operation(EXEC_ACTION), action(true), sockAddr(zeroAddress()), nwProtocol(NW_TCP)
{
}

AppProtBasicReport::AppProtBasicReport(const std::string& name, Operation operation)
    : appName(name), operation(operation), action(true), sockAddr(zeroAddress()), nwProtocol(NW_TCP)
{
}

AppProtBasicReport::AppProtBasicReport(const std::string& name, Operation operation,
                                       const sockaddr_in& addr, NWProtocol protocol)
    : appName(name), operation(operation), action(true), sockAddr(addr), nwProtocol(protocol)
{
}

std::string AppProtBasicReport::getNWProtocolString() const
{
    return nwProtocol == NW_TCP ? "TCP" : "UDP";
}

std::string AppProtBasicReport::getIPDetailsString() const
{
    char addr[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &sockAddr.sin_addr, addr, sizeof addr);
    char port[10];
    std::snprintf(port, sizeof port, "%d", static_cast<int>(sockAddr.sin_port));
    return std::string(addr) + ":" + port;
}

AppProtAlert::AppProtAlert(const std::string& name, Operation operation, const sockaddr_in& addr,
                           NWProtocol protocol)
    : AppProtBasicReport(name, operation, addr, protocol)
{
}

} // namespace AppProtection
