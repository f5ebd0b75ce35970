// The agent as a console drives it: what the control socket offers, callable
// in process. For tests and for the socket's own server; a product uses
// HvoAgent.h only.
#pragma once

#include <string>

#include "AgentWire.h"
#include "HvoAgent.h"

namespace HVOEnterprise {
namespace control {

struct Status {
    std::string softwareId;
    std::string agentId;
    std::string processId;
    std::string accessString;
    std::wstring logDirectory;
    agentwire::ServiceState property = agentwire::NEVER_OFFERED;
    agentwire::ServiceState policy = agentwire::NEVER_OFFERED;
};
/// False when there is no agent instance.
bool status(Status& out);

struct Result {
    agentwire::Outcome outcome = agentwire::OUT_NO_SERVICE;
    std::string message; ///< the exception's text, or why nothing was called
};

/// Each call runs on the agent's thread, after every call queued before it;
/// these wait until it ran, or until the agent is released before it ran
/// (OUT_NO_SERVICE, "agent released").
Result enforcePolicy(const std::wstring& name, const SectionsHandle& sections);
/// The service inserts into `sections` (also the keys before a throw).
Result collectProperties(bool collectAll, SectionsHandle& sections);
/// Calls the product's log callback with `text`; OUT_TRUE once it returned.
Result log(AgentLogCategory category, const std::wstring& text);

struct Counts {
    unsigned reloads = 0;
    unsigned unloads = 0;
};
/// False when there is no agent instance.
bool counts(Counts& out);

/// What the next createInstance and registrations fail with; FROM_ENV (the
/// default) reads AGENTBRIDGE_FAIL at createInstance: "create" (no instance),
/// "property" or "policy" (that registration refused), "throw" (the
/// property-collection registration throws std::runtime_error).
enum class Failure { FROM_ENV, NONE, CREATE, PROPERTY, POLICY, THROW };
void setFailure(Failure failure);

/// Where the next createInstance listens; empty: no control socket. The
/// default is agentwire::kSocketPath.
void setSocketPath(const std::string& path);

} // namespace control
} // namespace HVOEnterprise
