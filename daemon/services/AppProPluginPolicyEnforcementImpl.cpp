#include "AppProPluginPolicyEnforcementImpl.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <list>
#include <vector>

#include <sys/stat.h>

#include "AppProtError.h"
#include "AppProtectionController.h"
#include "BasicAppRecord.h"
#include "ConfigController.h"
#include "StringConvert.h"
#include "TraceLevels.h"

#define ZUV_TRACE(threshold, ...) WARD_TRACE(zuvFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

namespace {

/// Entries of one list a policy is read for at most; keys beyond are not
/// looked up (a count is the console's word, not a size).
constexpr int kMaxPolicyEntries = 100000;
/// Exclusion entries this long or longer cannot be read back by the
/// configuration.
constexpr size_t kMaxExclusionBytes = 1024;

const std::wstring kGeneralSection = L"General";
const std::wstring kExclusionsSection = L"Exclusions";
const std::wstring kRulesSection = L"Rules";

enum class TextKey { Absent, Unconvertible, Present };

TextKey readTextKey(const HVOEnterprise::SectionsHandle& sections, const std::wstring& section,
                    const std::wstring& key, std::string& out)
{
    std::wstring value;
    if (!AppProPluginPolicyEnforcementImpl::getPolicyKeyValue(sections, section, key, value))
        return TextKey::Absent;
    // Six bytes a character and the terminator: what the conversion asks.
    if (value.size() > static_cast<size_t>((INT_MAX - 1) / 6))
        return TextKey::Unconvertible;
    std::vector<char> buffer(6 * value.size() + 1);
    int capacity = static_cast<int>(buffer.size());
    if (widechar2charstr(value.c_str(), buffer.data(), &capacity) != 0)
        return TextKey::Unconvertible;
    out.assign(buffer.data());
    return TextKey::Present;
}

/// strtol's reading, base 10, in a long (64 bits): leading blanks and a sign,
/// trailing characters ignored, no digits 0.
long fieldNumber(const std::string& text)
{
    return std::strtol(text.c_str(), nullptr, 10);
}

void applyStatus(BasicAppRecord& record, int status)
{
    switch (status) {
    case 1:
        record.setExecAllowed(true);
        record.setNwAction(BasicAppRecord::NW_ACTION_ALLOW_ALL);
        break;
    case 2:
        record.setExecAllowed(true);
        record.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
        break;
    case 3:
        record.setExecAllowed(true);
        record.setNwAction(BasicAppRecord::NW_ACTION_CUSTOM);
        break;
    case 4:
        record.setExecAllowed(false);
        record.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
        break;
    default:
        break;
    }
}

bool stored(int result, const char* what)
{
    if (result == SUCCESS)
        return true;
    ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - %s refused: %d\n", what, result);
    return false;
}

} // namespace

bool AppProPluginPolicyEnforcementImpl::getPolicyKeyValue(const HVOEnterprise::SectionsHandle& sections,
                                                          const std::wstring& section, const std::wstring& key,
                                                          std::wstring& destination)
{
    std::wstring value;
    if (!sections.getPropValue(section, key, value))
        return false;
    ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::getPolicyKeyValue - %ls %ls\n", key.c_str(), value.c_str());
    destination.swap(value);
    return true;
}

bool AppProPluginPolicyEnforcementImpl::getPolicyKeyValue(const HVOEnterprise::SectionsHandle& sections,
                                                          const std::wstring& section, const std::wstring& key,
                                                          int& destination)
{
    std::wstring value;
    if (!getPolicyKeyValue(sections, section, key, value))
        return false;
    size_t i = 0;
    while (i < value.size() && (value[i] == L' ' || (value[i] >= L'\t' && value[i] <= L'\r')))
        ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == L'+' || value[i] == L'-'))
        negative = value[i++] == L'-';
    long long magnitude = 0;
    for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
        magnitude = magnitude * 10 + (value[i] - L'0');
        if (magnitude > static_cast<long long>(INT_MAX) + 1) {
            ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::getPolicyKeyValue - %ls out of range, ignored\n",
                      key.c_str());
            return false;
        }
    }
    const long long number = negative ? -magnitude : magnitude;
    if (number > INT_MAX) {
        ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::getPolicyKeyValue - %ls out of range, ignored\n",
                  key.c_str());
        return false;
    }
    destination = static_cast<int>(number);
    return true;
}

std::string AppProPluginPolicyEnforcementImpl::getStringFromKey(const HVOEnterprise::SectionsHandle& sections,
                                                                const std::wstring& section, const std::wstring& key)
{
    std::string text;
    if (readTextKey(sections, section, key, text) != TextKey::Present)
        return std::string();
    return text;
}

bool AppProPluginPolicyEnforcementImpl::getNetWorkRuleFromString(const std::string& text, int index,
                                                                 NetworkRule& rule)
{
    ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::getNetWorkRuleFromString - %s\n", text.c_str());
    // Empty fields are skipped: the later ones move up.
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        if (comma > start)
            fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    NetworkRule built;
    built.setOrder(index - 1);
    if (fields.size() > 0) {
        const long protocol = fieldNumber(fields[0]);
        built.setNWProtocol(protocol == 1 ? NW_TCP : protocol == 2 ? NW_UDP : NW_TCP_UDP);
    }
    if (fields.size() > 1 && !built.setIpRange(fields[1])) {
        ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::getNetWorkRuleFromString - address %s refused, rule "
                     L"dropped\n",
                  fields[1].c_str());
        return false;
    }
    if (fields.size() > 2 && !built.setPortRange(fields[2])) {
        ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::getNetWorkRuleFromString - port %s refused, rule dropped\n",
                  fields[2].c_str());
        return false;
    }
    if (fields.size() > 3) {
        const long direction = fieldNumber(fields[3]);
        built.setDirection(direction == 1 ? INCOMING_CONNECTION
                                          : direction == 2 ? OUTGOING_CONNECTION : INCOMING_OUTGOING_CONNECTION);
    }
    if (fields.size() > 4)
        built.setAction(fieldNumber(fields[4]) == 1 ? ACTION_ALLOW : ACTION_BLOCK);
    rule = built;
    return true;
}

bool AppProPluginPolicyEnforcementImpl::enforcePolicy(const std::wstring&, const std::wstring&,
                                                      const std::wstring&, unsigned long, HVOEnterprise::LogonState,
                                                      const HVOEnterprise::SectionsHandle&)
{
    return true;
}

bool AppProPluginPolicyEnforcementImpl::enforcePolicy(const std::wstring&,
                                                      const HVOEnterprise::SectionsHandle& sections)
{
    ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - Entry\n");
    // The rules go into the profile the daemon loads at start-up; a policy
    // that comes earlier waits for it.
    AppProtectionController* controller = AppProtectionController::getExistingInstance();
    if (controller == nullptr || !controller->waitForProfile()) {
        ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - No profile: policy not applied\n");
        return false;
    }
    int value = 0;
    if (getPolicyKeyValue(sections, L"QELVNMAC1100", L"EnforcePolicy", value) && value == 0) {
        ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - EnforcePolicy 0: ignored\n");
        return true;
    }
    bool applied = true;
    ConfigController* config = ConfigController::getInstance();

    if (getPolicyKeyValue(sections, kGeneralSection, L"zUV_AppProtectionEnabled", value))
        applied &= stored(config->setEnableAppProtection(value == 1), "zUV_AppProtectionEnabled");
    if (getPolicyKeyValue(sections, kGeneralSection, L"zUV_AllowAppleBinariesEnabled", value)) {
        struct stat st;
        const bool codesign = ::stat("/usr/bin/codesign", &st) == 0;
        applied &= stored(config->setAppleSignedAppsFlag(value == 1 && codesign), "zUV_AllowAppleBinariesEnabled");
    }
    if (getPolicyKeyValue(sections, kGeneralSection, L"zUV_UnknownApplications", value) && value >= 1 && value <= 3)
        applied &= stored(config->setUnknownAppAction(value), "zUV_UnknownApplications");
    if (getPolicyKeyValue(sections, kGeneralSection, L"zUV_UnknownAppPromptTime", value))
        applied &= stored(config->setPromptTimeout(value), "zUV_UnknownAppPromptTime");

    int count = 0;
    if (getPolicyKeyValue(sections, kExclusionsSection, L"zUV_NoOfApplications", count)) {
        std::vector<std::string> wanted;
        for (int i = 1; i <= std::min(count, kMaxPolicyEntries); ++i) {
            const std::wstring key = L"zUV_App_" + std::to_wstring(i);
            std::string path;
            // An empty entry would match every path: skipped like the
            // absent, unconvertible and unreadably long ones.
            const TextKey got = readTextKey(sections, kExclusionsSection, key, path);
            if (got != TextKey::Present || path.empty() || path.size() >= kMaxExclusionBytes) {
                ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - %ls skipped (%s)\n", key.c_str(),
                          got == TextKey::Absent          ? "absent"
                          : got == TextKey::Unconvertible ? "no UTF-8 form"
                          : path.empty()                  ? "empty"
                                                          : "too long");
                continue;
            }
            ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - exclusion %s\n", path.c_str());
            wanted.push_back(path);
        }
        std::vector<std::string> current = config->getExclusionsList();
        std::vector<std::string> sortedWanted = wanted;
        std::sort(sortedWanted.begin(), sortedWanted.end());
        std::sort(current.begin(), current.end());
        if (sortedWanted != current) {
            const bool listStored = stored(config->setExclusionsList(wanted), "Exclusions");
            applied &= listStored;
            if (listStored)
                applied &= stored(config->setExclusionsChanged(true), "ExclusionsChanged");
        }
    }

    if (getPolicyKeyValue(sections, kRulesSection, L"zUV_NoOfRules", count)) {
        std::list<BasicAppRecord> rules;
        for (int i = 1; i <= std::min(count, kMaxPolicyEntries); ++i) {
            const std::wstring n = std::to_wstring(i);
            BasicAppRecord record;
            if (getPolicyKeyValue(sections, kRulesSection, L"zUV_RuleEnabled_" + n, value))
                record.setEnabled(value == 1);
            record.setAppGroup(getStringFromKey(sections, kRulesSection, L"zUV_AppName_" + n));
            if (getPolicyKeyValue(sections, kRulesSection, L"zUV_AppStatus_" + n, value))
                applyStatus(record, value);
            int details = 0;
            if (getPolicyKeyValue(sections, kRulesSection, L"zUV_AppDetailsNum_" + n, details)) {
                std::list<NetworkRule> nwRules;
                for (int j = 1; j <= std::min(details, kMaxPolicyEntries); ++j) {
                    const std::string text =
                        getStringFromKey(sections, kRulesSection, L"zUV_AppDetails_" + n + L"_" + std::to_wstring(j));
                    NetworkRule rule;
                    if (getNetWorkRuleFromString(text, j, rule))
                        nwRules.push_back(rule);
                }
                record.setNwRules(nwRules);
            }
            rules.push_back(record);
        }
        controller->loadModifiedProfile(rules);
    }
    ZUV_TRACE(0, L"AppProPluginPolicyEnforcementImpl::enforcePolicy - Exit %s\n", applied ? "true" : "false");
    return applied;
}

} // namespace AppProtection
