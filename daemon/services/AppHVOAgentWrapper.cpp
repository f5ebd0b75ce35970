#include "AppHVOAgentWrapper.h"

#include <memory>
#include <mutex>
#include <string>

#include <unistd.h>

#include "AppProPluginPolicyEnforcementImpl.h"
#include "AppProPluginPropertyCollectionImpl.h"
#include "HvoAgent.h"
#include "TraceLevels.h"

namespace AppProtection {

namespace {

constexpr char kSoftwareId[] = "QELVNMAC1100";
constexpr char kAgentId[] = "ZOVOVORU3700RUZA";
/// The deployment's access string: six lower-case letters and 58 digits.
constexpr char kAccessString[] = "qelvnm"
                                 "4180263957"
                                 "0926481735"
                                 "5503172648"
                                 "9314076285"
                                 "2867135049"
                                 "71806324";
static_assert(sizeof kAccessString == 65, "the access string has 64 characters");
const wchar_t kLogDirectory[] = L"/var/tmp";

/// Keeps the plug-in requests of the signal thread off an agent being
/// released.
std::mutex& agentMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

AppHVOAgentWrapper::AppHVOAgentWrapper()
{
    registered = false;
    std::lock_guard<std::mutex> lock(agentMutex());
    HVOEnterprise::HvoAgent* agent =
        HVOEnterprise::HvoAgent::createInstance(kSoftwareId, kAgentId, std::to_string(static_cast<int>(::getpid())),
                                                kAccessString, kLogDirectory, agentLogger);
    if (agent == nullptr) {
        WARD_TRACE(zuvFlowvalue, 0, L"AppHVOAgentWrapper::AppHVOAgentWrapper - No agent instance\n");
        return;
    }
    // Outside the try: on an exception they are deleted only after the agent
    // that may hold them was released.
    std::unique_ptr<AppProPluginPropertyCollectionImpl> property(new AppProPluginPropertyCollectionImpl());
    std::unique_ptr<AppProPluginPolicyEnforcementImpl> policy;
    try {
        if (!agent->registerPropertyCollectionService(property.get())) {
            WARD_TRACE(zuvFlowvalue, 0,
                       L"AppHVOAgentWrapper::AppHVOAgentWrapper - Property collection service refused\n");
            return;
        }
        policy.reset(new AppProPluginPolicyEnforcementImpl());
        if (!agent->registerPolicyEnforcementService(policy.get())) {
            WARD_TRACE(zuvFlowvalue, 0,
                       L"AppHVOAgentWrapper::AppHVOAgentWrapper - Policy enforcement service refused\n");
            // The property service stays with the agent until the release.
            property.release();
            return;
        }
    } catch (...) {
        HVOEnterprise::HvoAgent::releaseInstance();
        throw;
    }
    property.release();
    policy.release();
    registered = true;
    WARD_TRACE(zuvFlowvalue, 1, L"AppHVOAgentWrapper::AppHVOAgentWrapper - Services registered\n");
}

AppHVOAgentWrapper::~AppHVOAgentWrapper()
{
    std::lock_guard<std::mutex> lock(agentMutex());
    HVOEnterprise::HvoAgent* agent = HVOEnterprise::HvoAgent::getInstance();
    if (agent == nullptr)
        return;
    HVOEnterprise::IHvoAgentPropertyCollection* property = agent->getPropertyCollectionInterface();
    HVOEnterprise::IHvoAgentPolicyEnforcement* policy = agent->getPolicyEnforcementInterface();
    // The agent's thread may be inside a service: joined first.
    HVOEnterprise::HvoAgent::releaseInstance();
    delete property;
    delete policy;
}

void AppHVOAgentWrapper::reloadMAPlugins()
{
    std::lock_guard<std::mutex> lock(agentMutex());
    if (HVOEnterprise::HvoAgent* agent = HVOEnterprise::HvoAgent::getInstance())
        agent->performPluginReload();
    else
        WARD_TRACE(zuvFlowvalue, 1, L"AppHVOAgentWrapper::reloadMAPlugins - No agent instance\n");
}

void AppHVOAgentWrapper::unloadMAPlugins()
{
    std::lock_guard<std::mutex> lock(agentMutex());
    if (HVOEnterprise::HvoAgent* agent = HVOEnterprise::HvoAgent::getInstance())
        agent->performPluginUnload();
    else
        WARD_TRACE(zuvFlowvalue, 1, L"AppHVOAgentWrapper::unloadMAPlugins - No agent instance\n");
}

void AppHVOAgentWrapper::agentLogger(int category, const wchar_t* text)
{
    int level = 1;
    switch (category) {
    case 0:
        level = 1;
        break;
    case 1:
        level = 2;
        break;
    case 2:
        level = 4;
        break;
    case 3:
        level = 5;
        break;
    default:
        break;
    }
    if (text == nullptr || !WARD_TRACING(zuvFlowvalue, level - 1))
        return;
    const std::string narrow = HVOEnterprise::HvoAgentUtils::wstringToString(text);
    WARD_TRACE(zuvFlowvalue, level - 1, L"%s\n", narrow.c_str());
}

} // namespace AppProtection
