// Rule operations for the services (commands, alert answers, console
// policies) and the reaction to preference changes.
#include <exception>

#include "AppProtectionController.h"
#include "ConfigController.h"
#include "TraceLevels.h"

#define CTRL_TRACE(threshold, ...) WARD_TRACE(appControlFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

AppProtError AppProtectionController::editProfile(EditKind kind, const char* method,
                                                  const std::function<AppProtError(ProfileDataController&)>& edit)
{
    AppProtError result = SUCCESS;
    try {
        ward::SharedLockGuard lock(m_profileLock);
        if (!m_profile)
            throw AppProtException("No profile loaded", UNEXPECTED_EXCEPTION);
        result = edit(*m_profile);
        // Whatever the profile answered: the kernel must not keep decisions
        // made under the old rules.
        if (kind != EditKind::Breakdown)
            purgeKextCache();
    } catch (const AppProtException& e) {
        CTRL_TRACE(0, L"AppProtectionController::%s - Exception: %s\n", method, e.getExceptionMsg().c_str());
        result = e.getExceptionId();
    } catch (const std::exception& e) {
        CTRL_TRACE(0, L"AppProtectionController::%s - Exception: %s\n", method, e.what());
        result = UNEXPECTED_EXCEPTION;
    } catch (...) {
        CTRL_TRACE(0, L"AppProtectionController::%s - Unknown exception\n", method);
        result = UNEXPECTED_EXCEPTION;
    }
    CTRL_TRACE(1, L"AppProtectionController::%s - returning %d\n", method, static_cast<int>(result));
    return result;
}

AppProtError AppProtectionController::addProfileRule(BasicAppRecord& rule)
{
    return editProfile(EditKind::Add, "addProfileRule",
                       [&rule](ProfileDataController& p) { return p.addAppToProfile(rule); });
}

AppProtError AppProtectionController::updateProfileRule(BasicAppRecord& rule)
{
    return editProfile(EditKind::Update, "updateProfileRule",
                       [&rule](ProfileDataController& p) { return p.updateRuleForApp(rule); });
}

AppProtError AppProtectionController::deleteProfileRule(BasicAppRecord& rule)
{
    return editProfile(EditKind::Delete, "deleteProfileRule",
                       [&rule](ProfileDataController& p) { return p.deleteAppFromProfile(rule); });
}

AppProtError AppProtectionController::breakdownAppGroupofApp(std::string group)
{
    return editProfile(EditKind::Breakdown, "breakdownAppGroupofApp",
                       [&group](ProfileDataController& p) { return p.breakdownAppGroupofApp(group); });
}

std::list<BasicAppRecord> AppProtectionController::getAllProfileRules(bool perGroup)
{
    ward::SharedLockGuard lock(m_profileLock);
    if (!m_profile)
        throw AppProtException("No profile loaded", UNEXPECTED_EXCEPTION);
    return m_profile->getAllProfileRules(perGroup);
}

void AppProtectionController::loadModifiedProfile(std::list<BasicAppRecord> rules)
{
    ward::SharedLockGuard lock(m_profileLock);
    if (!m_profile)
        throw AppProtException("No profile loaded", UNEXPECTED_EXCEPTION);
    m_profile->syncUpProfile(rules);
}

void AppProtectionController::purgeKextCache()
{
    CTRL_TRACE(2, L"AppProtectionController::purgeKextCache - Purging\n");
    try {
        m_kextInterface.purgeKextCache();
    } catch (...) {
    }
}

void AppProtectionController::pushExclusions()
{
    if (m_protectionStatus != 0)
        m_kextInterface.pushExclusions();
}

void AppProtectionController::preferencesCallBack()
{
    ConfigController* config = ConfigController::getInstance();
    const bool wanted = config->getEnableAppProtection();
    if (m_protectionStatus != 0 && !wanted) {
        disableAppProtection();
    } else if (m_protectionStatus == 0 && wanted) {
        startHelperThread([this] {
            try {
                enableAppProtection();
            } catch (const AppProtException& e) {
                CTRL_TRACE(0, L"AppProtectionController::preferencesCallBack - Enable failed: %s\n",
                           e.getExceptionMsg().c_str());
            } catch (...) {
                CTRL_TRACE(0, L"AppProtectionController::preferencesCallBack - Enable failed\n");
            }
        });
    }
    {
        // Decisions follow the fallback the preferences hold now, not the
        // one read when the profile was loaded.
        ward::SharedLockGuard lock(m_profileLock);
        if (m_profile)
            m_profile->setCustomNwFallbackAction(
                static_cast<BasicAppRecord::NetworkAction>(config->getCustomNwFallbackOption()));
    }
    purgeKextCache();
}

void preferencesCallBack()
{
    if (AppProtectionController* controller = AppProtectionController::getExistingInstance())
        controller->preferencesCallBack();
}

} // namespace AppProtection
