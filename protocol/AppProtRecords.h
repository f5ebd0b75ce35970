// Decision report, alert and protection settings records.
#pragma once

#include <cstdint>
#include <string>

#include <netinet/in.h>

#include <boost/logic/tribool.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/string.hpp>

#include "AppProtTypes.h"

namespace AppProtection {

/// The report of one decision.
class AppProtBasicReport {
public:
    AppProtBasicReport();
    AppProtBasicReport(const std::string& name, Operation operation);
    AppProtBasicReport(const std::string& name, Operation operation, const sockaddr_in& addr,
                       NWProtocol protocol);

    std::string getAppName() const { return appName; }
    void setAppName(const std::string& name) { appName = name; }
    Operation getOperation() const { return operation; }
    void setOperation(Operation op) { operation = op; }
    boost::logic::tribool getAction() const { return action; }
    void setAction(boost::logic::tribool a) { action = a; }
    sockaddr_in getSockAddr() const { return sockAddr; }
    void setSockAddr(const sockaddr_in& addr) { sockAddr = addr; }
    NWProtocol getNWProtocol() const { return nwProtocol; }
    void setNWProtocol(NWProtocol p) { nwProtocol = p; }

    /// "TCP" for protocol 1, "UDP" for every other value.
    std::string getNWProtocolString() const;
    /// Dotted address, ":" and the port as held (no byte-order change).
    std::string getIPDetailsString() const;

protected:
    std::string appName;
    Operation operation;
    boost::logic::tribool action;
    sockaddr_in sockAddr;
    NWProtocol nwProtocol;
};

/// The alert payload: a report plus the prompt's time-out, the kernel
/// request's cookie and the user's two choices.
class AppProtAlert : public AppProtBasicReport {
public:
    AppProtAlert() = default;
    AppProtAlert(const std::string& name, Operation operation, const sockaddr_in& addr,
                 NWProtocol protocol);

    int getTimeout() const { return timeout; }
    void setTimeout(int t) { timeout = t; }
    int getCookie() const { return cookie; }
    void setCookie(int c) { cookie = c; }
    bool getAlways() const { return always; }
    void setAlways(bool a) { always = a; }
    bool getAllowNetwork() const { return allowNetwork; }
    void setAllowNetwork(bool a) { allowNetwork = a; }

    /// Port and address travel as held; action as 1 true, 2 false,
    /// 3 indeterminate.
    template <class Archive> void save(Archive& ar, const unsigned int) const
    {
        int32_t op = operation;
        int32_t code = action ? 1 : (!action ? 2 : 3);
        uint16_t port = sockAddr.sin_port;
        uint32_t addr = sockAddr.sin_addr.s_addr;
        int32_t proto = nwProtocol;
        ar << appName << op << code << port << addr << proto << timeout << cookie << always
           << allowNetwork;
    }
    /// Every action code but 1 and 2 reads as indeterminate.
    template <class Archive> void load(Archive& ar, const unsigned int)
    {
        int32_t op = 0, code = 0, proto = 0;
        uint16_t port = 0;
        uint32_t addr = 0;
        ar >> appName;
        ar >> op;
        operation = static_cast<Operation>(op);
        ar >> code;
        action = code == 1 ? boost::logic::tribool(true)
                           : code == 2 ? boost::logic::tribool(false) : boost::logic::indeterminate;
        ar >> port;
        sockAddr.sin_port = port;
        ar >> addr;
        sockAddr.sin_addr.s_addr = addr;
        ar >> proto;
        nwProtocol = static_cast<NWProtocol>(proto);
        ar >> timeout >> cookie >> always >> allowNetwork;
    }
    BOOST_SERIALIZATION_SPLIT_MEMBER()

private:
    int timeout = 0;
    int cookie = 0;
    bool always = false;
    bool allowNetwork = false;
};

/// Protection settings of commands 20004 and 20005.
class AppProtPrefsData {
public:
    int getPromptTimeout() const { return promptTimeout; }
    void setPromptTimeout(int v) { promptTimeout = v; }
    int getUnknownAppAction() const { return unknownAppAction; }
    void setUnknownAppAction(int v) { unknownAppAction = v; }
    bool getAllowAppleSignedBinaries() const { return allowAppleSignedBinaries; }
    void setAllowAppleSignedBinaries(bool v) { allowAppleSignedBinaries = v; }
    bool getEnableAppProtection() const { return enableAppProtection; }
    void setEnableAppProtection(bool v) { enableAppProtection = v; }
    bool getCustomNetworkAction() const { return customNetworkAction; }
    void setCustomNetworkAction(bool v) { customNetworkAction = v; }

    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & promptTimeout & unknownAppAction & allowAppleSignedBinaries & enableAppProtection
            & customNetworkAction;
    }

private:
    int promptTimeout = 300;
    int unknownAppAction = 1;
    bool allowAppleSignedBinaries = true;
    bool enableAppProtection = true;
    bool customNetworkAction = false;
};

} // namespace AppProtection
