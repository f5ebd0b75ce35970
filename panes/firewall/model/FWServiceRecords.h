// The firewall pane's own payload records: basic options, trusted groups and
// the rule query's reply. Plain values; every record is class version 0 and
// serialises its fields in the order declared below, which the firewall
// service reads and writes as well.
//
// The wide-text accessors of TrustedGroupInfo are declared when
// PORTWARD_PANE_MEMBERS is defined; the pane defines them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <boost/serialization/access.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/utility.hpp>
#include <boost/serialization/vector.hpp>

#include "FWRecords.h"

namespace FWService {

// Travels as an int: the numbers never change.
enum BasicRuleOpt : int32_t {
    BASIC_RULE_ALLOW_ALL = 0,
    BASIC_RULE_DENY_INBOUND = 1,
    BASIC_RULE_DENY_OUTBOUND = 2,
    BASIC_RULE_DENY_BOTH = 3,
    BASIC_RULE_CUSTOM = 4, // never sent by the pane
    BASIC_RULE_DENY_NONE = 5
};

/// The basic options. No setter checks a value.
class FWOptionalData {
public:
    int isLogging() const { return logging; }
    void isLogging(int on) { logging = on; }
    bool isStealth() const { return stealth; }
    void isStealth(bool on) { stealth = on; }
    bool isUnknownTrafficBlocked() const { return unknownTrafficBlocked; }
    void isUnknownTrafficBlocked(bool on) { unknownTrafficBlocked = on; }
    BasicRuleOpt getBasicRuleOpt() const { return basicRuleOpt; }
    void setBasicRuleOpt(BasicRuleOpt opt) { basicRuleOpt = opt; }

private:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & logging;
        ar & stealth;
        ar & unknownTrafficBlocked;
        ar & basicRuleOpt;
    }

    int32_t logging = 0;
    bool stealth = false;
    bool unknownTrafficBlocked = false;
    BasicRuleOpt basicRuleOpt = BASIC_RULE_CUSTOM;
};

/// One trusted group.
class TrustedGroupInfo {
public:
    TrustedGroupInfo() = default;
    TrustedGroupInfo(const TrustedGroupInfo&) = default;
    TrustedGroupInfo& operator=(const TrustedGroupInfo&) = default;

    bool isGroupEnable() const { return groupEnable; }
    void isGroupEnable(bool on) { groupEnable = on; }
    bool isReadOnly() const { return readOnly; }
    /// Appends one address, subnet or host name (UTF-8).
    void setMachineAddr(std::string address) { machineAddresses.push_back(std::move(address)); }
    const std::vector<std::string>& getMachineAddr() const { return machineAddresses; }

#ifdef PORTWARD_PANE_MEMBERS
    std::vector<std::wstring> getMachineAddrAsWstring();
    void setMachineAddrAsWstring(std::wstring address);
#endif

private:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & groupValue;
        ar & groupEnable;
        ar & readOnly;
        ar & machineAddresses;
    }

    int32_t groupValue = 0; // the service's; the pane sends 0
    bool groupEnable = true;
    bool readOnly = false; // set by the service only
    std::vector<std::string> machineAddresses;

    friend class TrustedGroupAccess;
};

/// The trusted groups by wide name: names are unique within one list.
class TrustedList {
public:
    using Groups = std::map<std::wstring, TrustedGroupInfo>;
    Groups& getTrustedList() { return groups; }
    const Groups& getTrustedList() const { return groups; }

private:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & groups;
    }

    Groups groups;
};

/// The reply to the rule query: the options and one header per rule, in the
/// order of the pane's table.
class CompleteFWData {
public:
    FWOptionalData& getOptions() { return options; }
    const FWOptionalData& getOptions() const { return options; }
    std::vector<FirewallSDK::FWBasicData>& getRules() { return rules; }
    const std::vector<FirewallSDK::FWBasicData>& getRules() const { return rules; }

private:
    friend class boost::serialization::access;
    template <class Archive>
    void serialize(Archive& ar, const unsigned int /*version*/)
    {
        ar & options;
        ar & rules;
    }

    FWOptionalData options;
    std::vector<FirewallSDK::FWBasicData> rules;
};

/// What only the service sets: the value it keeps and the read-only mark.
class TrustedGroupAccess {
public:
    static void setReadOnly(TrustedGroupInfo& g, bool on) { g.readOnly = on; }
    static void clearAddresses(TrustedGroupInfo& g) { g.machineAddresses.clear(); }
};

} // namespace FWService
