#include "AppHVOAgentWrapper.h"

#include "TraceLevels.h"

namespace AppProtection {

AppHVOAgentWrapper::AppHVOAgentWrapper()
{
    // TODO: create the agent instance ("QELVNMAC1100") and register the
    // property-collection and policy-enforcement services; until then the
    // agent is taken to have given no instance, and the daemon runs without
    // console services.
    registered = false;
    WARD_TRACE(zuvFlowvalue, 1, L"AppHVOAgentWrapper::AppHVOAgentWrapper - No agent instance\n");
}

AppHVOAgentWrapper::~AppHVOAgentWrapper() = default;

void AppHVOAgentWrapper::reloadMAPlugins()
{
    // TODO: performPluginReload on the agent instance; there is none yet.
    WARD_TRACE(zuvFlowvalue, 1, L"AppHVOAgentWrapper::reloadMAPlugins - No agent instance\n");
}

void AppHVOAgentWrapper::unloadMAPlugins()
{
    // TODO: performPluginUnload on the agent instance; there is none yet.
    WARD_TRACE(zuvFlowvalue, 1, L"AppHVOAgentWrapper::unloadMAPlugins - No agent instance\n");
}

} // namespace AppProtection
