// The daemon's registration with the management agent, which serves the
// central console's policies and property collection.
#pragma once

namespace AppProtection {

class AppHVOAgentWrapper {
public:
    /// Registers the daemon's two services with the agent; a failure leaves
    /// the daemon without console services and is not reported.
    AppHVOAgentWrapper();
    /// Unregisters and releases the agent instance, if there is one.
    ~AppHVOAgentWrapper();
    AppHVOAgentWrapper(const AppHVOAgentWrapper&) = delete;
    AppHVOAgentWrapper& operator=(const AppHVOAgentWrapper&) = delete;

    /// Ask the agent to reload or unload its plug-ins; nothing without an
    /// agent instance.
    static void reloadMAPlugins();
    static void unloadMAPlugins();

private:
    [[maybe_unused]] bool registered = false; ///< both services registered
};

} // namespace AppProtection
