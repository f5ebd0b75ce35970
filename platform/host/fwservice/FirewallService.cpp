#include "FirewallService.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "FWCommands.h"
#include "FirewallException.h"
#include "Frame.h"
#include "IPValidator.h"

namespace fwservice {

using FirewallSDK::FirewallException;
using FirewallSDK::FWCommands;
using FirewallSDK::FWExtDetailedData;

namespace {

const char* const kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
constexpr size_t kMaxGroups = 32;

enum Command : int {
    SET_STATUS = 10200,
    GET_STATUS = 10201,
    GET_INTERFACE_LIST = 10204,
    GET_RULES = 10205,
    GET_DETAILED_RULE = 10206,
    SWAP_RULES = 10207,
    DELETE_RULES = 10208,
    SET_BASIC_PREFS = 10209,
    MODIFY_RULE = 10210,
    ADD_RULE = 10211,
    GET_TRUSTED_LIST = 10212,
    ENABLE_TRUSTED_LIST = 10213,
    MODIFY_TRUSTED_LIST = 10214,
    SET_TRUSTED_LIST = 10215,
    DELETE_TRUSTED_LIST = 10216
};

/// The commands whose failed reply carries an error code.
bool carriesCode(int id)
{
    return id == MODIFY_RULE || id == ADD_RULE || id == MODIFY_TRUSTED_LIST || id == SET_TRUSTED_LIST;
}

/// A refusal with the code the reply carries.
struct Refused {
    int code;
};

template <class T> T payload(HVO::CommandData& command)
{
    if (!HVO::PayloadAccess::hasInput(command))
        throw std::runtime_error("the request carries no payload");
    T value{};
    command.getCustomData(value);
    return value;
}

bool inGroup(uint32_t category)
{
    return (category & 0xFFFF0000u) == FirewallSDK::FW_CUSTOM_RULE_CATEGORY;
}

bool storedInGroup(int number)
{
    FWExtDetailedData rule;
    return FWCommands::getInstance()->getStoredRuleByNumber(number, rule) && rule.getRuleNo() == number &&
           inGroup(rule.getRuleCategory());
}

FWExtDetailedData extended(const FirewallSDK::FWDetailedData& d)
{
    FWExtDetailedData ext;
    static_cast<FirewallSDK::FWDetailedData&>(ext) = d;
    return ext;
}

/// An address a trusted group may hold, as UTF-8; refused with 13046.
std::string checkedAddress(const std::string& address)
{
    FirewallSDK::IP_Validator::IPValidator validator;
    FirewallSDK::IP_Validator::ADDR_TYPE type = FirewallSDK::IP_Validator::IP_ADDR_UNKNOWN;
    if (address.empty() || validator.validateAddr(address, type) != 0)
        throw Refused{FirewallSDK::FW_NO_SUCH_HOST};
    return address;
}

std::string checkedAddress(const std::wstring& address)
{
    std::string narrow;
    if (!toUtf8(address, narrow))
        throw Refused{FirewallSDK::FW_NO_SUCH_HOST};
    return checkedAddress(narrow);
}

/// Status of a store call: 0 goes on, anything else is refused with it.
void require(int status)
{
    if (status != 0)
        throw Refused{status};
}

} // namespace

bool FirewallService::handleCommand(HVO::CommandData& command)
{
    HVO::CommandResult reply;
    reply.setBasicCommandData(command);
    run(command, reply);
    try {
        HVO::HVOCommBroker* broker = HVO::HVOCommBroker::getInstance(kSocket);
        if (broker == nullptr)
            return false;
        broker->sendCommandResponse(reply);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fwservice: reply to %d not sent: %s\n", command.getCommandId(), e.what());
    }
    return true;
}

Outcome FirewallService::run(HVO::CommandData& command, HVO::CommandResult& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int id = command.getCommandId();
    Outcome outcome;
    HVO::CommandResult answer; // the reply's payload, taken only on success
    try {
        outcome = runLocked(id, command, answer);
    } catch (const Refused& r) {
        outcome = {false, r.code};
    } catch (const FirewallException& e) {
        outcome = {false, e.code};
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fwservice: command %d: %s\n", id, e.what());
        outcome = {false, FirewallSDK::FW_UNKNOWN_ERROR};
    } catch (...) {
        outcome = {false, FirewallSDK::FW_UNKNOWN_ERROR};
    }
    if (outcome.status || !carriesCode(id))
        outcome.code = 0;
    else if (outcome.code == 0)
        outcome.code = FirewallSDK::FW_UNKNOWN_ERROR;
    reply.setCommandStatus(outcome.status);
    if (outcome.status && HVO::PayloadAccess::hasData(answer)) {
        HVO::PayloadAccess::setOutputText(reply, HVO::PayloadAccess::outputText(answer));
    } else if (outcome.code != 0) {
        int code = outcome.code;
        reply.setCustomData(code);
    }
    recordLocked(id, HVO::PayloadAccess::inputText(command), outcome);
    return outcome;
}

Outcome FirewallService::runLocked(int id, HVO::CommandData& command, HVO::CommandResult& reply)
{
    FWCommands& store = *FWCommands::getInstance();
    const unsigned group = FirewallSDK::FW_CUSTOM_RULE_CATEGORY;
    std::vector<FWExtDetailedData> results;
    switch (id) {
    case SET_STATUS: {
        signed char on = payload<signed char>(command);
        require(store.setIpfwStatus(on != 0));
        return {true, 0};
    }
    case GET_STATUS: {
        bool on = false;
        require(store.getIpfwStatus(on));
        reply.setCustomData(on);
        return {true, 0};
    }
    case GET_INTERFACE_LIST: {
        FirewallSDK::NetworkInterfaceInfo none;
        reply.setCustomData(none);
        return {true, 0};
    }
    case GET_RULES: {
        FWService::CompleteFWData data;
        data.getOptions() = m_state.options();
        store.getStoredRulesBasedOnCategory(group, results);
        for (const FWExtDetailedData& r : results)
            data.getRules().push_back(static_cast<const FirewallSDK::FWBasicData&>(r));
        reply.setCustomData(data);
        return {true, 0};
    }
    case GET_DETAILED_RULE: {
        int number = payload<int>(command);
        FWExtDetailedData rule;
        if (!storedInGroup(number) || !store.getStoredRuleByNumber(number, rule))
            return {false, 0};
        FirewallSDK::FWDetailedData detailed = rule;
        reply.setCustomData(detailed);
        return {true, 0};
    }
    case SWAP_RULES: {
        std::vector<int> numbers = payload<std::vector<int>>(command);
        if (numbers.size() < 2 || !storedInGroup(numbers[0]) || !storedInGroup(numbers[1]))
            return {false, 0};
        numbers.resize(2);
        require(store.swapRules(numbers, results, group));
        return {true, 0};
    }
    case DELETE_RULES: {
        std::vector<int> numbers = payload<std::vector<int>>(command);
        for (int n : numbers)
            if (!storedInGroup(n))
                return {false, 0};
        store.deleteRule(numbers, results, group);
        for (int n : numbers)
            if (store.isRuleInStore(n))
                return {false, 0};
        return {true, 0};
    }
    case SET_BASIC_PREFS: {
        FWService::FWOptionalData options = payload<FWService::FWOptionalData>(command);
        // A refusal changes neither the log level nor the options kept.
        int before = 0;
        require(store.getLogLevel(before));
        require(store.setLogLevel(options.isLogging() ? 1 : 0));
        if (!m_state.save(options, m_state.groups())) {
            store.setLogLevel(before);
            return {false, 0};
        }
        return {true, 0};
    }
    case MODIFY_RULE: {
        FirewallSDK::FWDetailedData rule = payload<FirewallSDK::FWDetailedData>(command);
        if (!storedInGroup(rule.getRuleNo()))
            return {false, FirewallSDK::FW_INVALID_RULE_NUMBER};
        if (!inGroup(rule.getRuleCategory()))
            return {false, FirewallSDK::FW_INVALID_CATEGORY_FOR_SETTING};
        require(store.updateRule(extended(rule), results, group));
        return {true, 0};
    }
    case ADD_RULE: {
        FirewallSDK::FWDetailedData rule = payload<FirewallSDK::FWDetailedData>(command);
        // The pane's rules only: another group's rule is not the pane's to add.
        if (!inGroup(rule.getRuleCategory()))
            return {false, FirewallSDK::FW_INVALID_CATEGORY_FOR_SETTING};
        require(store.addRule(extended(rule), results, group));
        return {true, 0};
    }
    case GET_TRUSTED_LIST: {
        FWService::TrustedList groups = m_state.groups();
        reply.setCustomData(groups);
        return {true, 0};
    }
    case ENABLE_TRUSTED_LIST: {
        auto changes = payload<std::map<std::wstring, bool>>(command);
        FWService::TrustedList groups = m_state.groups();
        for (const auto& c : changes) {
            auto it = groups.getTrustedList().find(c.first);
            if (it == groups.getTrustedList().end())
                return {false, 0};
            it->second.isGroupEnable(c.second);
        }
        return {m_state.save(m_state.options(), groups), 0};
    }
    case MODIFY_TRUSTED_LIST: {
        auto changes = payload<std::map<std::wstring, std::vector<std::wstring>>>(command);
        FWService::TrustedList groups = m_state.groups();
        for (const auto& c : changes) {
            auto it = groups.getTrustedList().find(c.first);
            if (it == groups.getTrustedList().end())
                return {false, FirewallSDK::FW_UNKNOWN_ERROR};
            FWService::TrustedGroupAccess::clearAddresses(it->second);
            for (const std::wstring& a : c.second)
                it->second.setMachineAddr(checkedAddress(a));
        }
        if (!m_state.save(m_state.options(), groups))
            return {false, FirewallSDK::FW_UNKNOWN_ERROR};
        return {true, 0};
    }
    case SET_TRUSTED_LIST: {
        FWService::TrustedList added = payload<FWService::TrustedList>(command);
        FWService::TrustedList groups = m_state.groups();
        for (const auto& g : added.getTrustedList()) {
            std::string name;
            if (!toUtf8(g.first, name))
                return {false, FirewallSDK::FW_UNKNOWN_ERROR};
            if (groups.getTrustedList().count(g.first) != 0)
                return {false, FirewallSDK::FW_TRUSTED_GROUP_NAME_EXISTS};
            if (groups.getTrustedList().size() >= kMaxGroups)
                return {false, FirewallSDK::FW_TRUSTED_GROUP_LIST_FULL};
            for (const std::string& a : g.second.getMachineAddr())
                checkedAddress(a);
            groups.getTrustedList().emplace(g.first, g.second);
        }
        if (!m_state.save(m_state.options(), groups))
            return {false, FirewallSDK::FW_UNKNOWN_ERROR};
        return {true, 0};
    }
    case DELETE_TRUSTED_LIST: {
        auto names = payload<std::vector<std::wstring>>(command);
        FWService::TrustedList groups = m_state.groups();
        for (const std::wstring& n : names) {
            auto it = groups.getTrustedList().find(n);
            if (it == groups.getTrustedList().end() || it->second.isReadOnly())
                return {false, 0};
            groups.getTrustedList().erase(it);
        }
        return {m_state.save(m_state.options(), groups), 0};
    }
    }
    return {false, 0};
}

void FirewallService::recordLocked(int id, const std::wstring& payload, const Outcome& outcome)
{
    if (m_record == nullptr)
        return;
    std::string line = "{\"id\":" + std::to_string(id) + ",\"payload\":\"" + hvoframe::jsonEscape(payload) +
                       "\",\"status\":" + (outcome.status ? "true" : "false") +
                       ",\"code\":" + (outcome.status || outcome.code == 0 ? "null" : std::to_string(outcome.code)) +
                       "}\n";
    std::fputs(line.c_str(), m_record);
    std::fflush(m_record);
}

} // namespace fwservice
