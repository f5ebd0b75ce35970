// The daemon's registration with the management agent, which serves the
// central console's policies and property collection.
#pragma once

namespace AppProtection {

class AppHVOAgentWrapper {
public:
    /// Creates the agent instance and registers the property-collection
    /// service, then the policy-enforcement service. A missing instance or a
    /// refused service leaves the daemon without (some) console services and
    /// is only traced; a refused service is deleted at once. An exception of
    /// the agent passes to the caller, after the agent was released and the
    /// services deleted.
    AppHVOAgentWrapper();
    /// Releases the agent instance (its thread joined), then deletes the
    /// services it held. Nothing without an agent instance.
    ~AppHVOAgentWrapper();
    AppHVOAgentWrapper(const AppHVOAgentWrapper&) = delete;
    AppHVOAgentWrapper& operator=(const AppHVOAgentWrapper&) = delete;

    /// Ask the agent to reload or unload its plug-ins; nothing without an
    /// agent instance. Safe while another thread destroys the wrapper.
    static void reloadMAPlugins();
    static void unloadMAPlugins();

    /// The agent's log callback (`category` is the agent's AgentLogCategory):
    /// writes `text` to the trace file when the category's level (0: 1,
    /// 1: 2, 2: 4, 3: 5, any other: 1) is at most zuvFlowvalue. Runs on the
    /// agent's thread.
    static void agentLogger(int category, const wchar_t* text);

private:
    [[maybe_unused]] bool registered = false; ///< both services registered
};

} // namespace AppProtection
