// The firewall service (module 4): answers the firewall pane's commands with
// libportward's rule store, its own options and trusted groups.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "HVOCommBroker.h"
#include "ServiceState.h"

namespace fwservice {

/// The outcome of one command: the reply's status, and the code a failed
/// rule or group change carries (0: none).
struct Outcome {
    bool status = false;
    int code = 0;
};

class FirewallService : public HVO::CommandInterface {
public:
    /// `record`: where one JSON line per command goes (null: nowhere).
    FirewallService(ServiceState& state, FILE* record) : m_state(state), m_record(record) {}

    /// Runs the command and sends its reply; one command at a time.
    bool handleCommand(HVO::CommandData& command) override;
    void handleCommandResponse(HVO::CommandResult&) override {}

    /// Runs one command: its payload in, its reply's status and payload out.
    /// Never throws.
    Outcome run(HVO::CommandData& command, HVO::CommandResult& reply);

private:
    Outcome runLocked(int id, HVO::CommandData& command, HVO::CommandResult& reply);
    void recordLocked(int id, const std::wstring& payload, const Outcome& outcome);

    std::mutex m_mutex; // every command; guards m_state and m_record
    ServiceState& m_state;
    FILE* m_record;
};

} // namespace fwservice
