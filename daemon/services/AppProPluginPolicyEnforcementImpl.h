// The policy-enforcement service registered with the management agent: the
// console's settings, exclusions and rules, written into the configuration
// and merged into the profile.
#pragma once

#include <string>

#include "HvoAgent.h"
#include "NetworkRule.h"

namespace AppProtection {

class AppProPluginPolicyEnforcementImpl : public HVOEnterprise::IHvoAgentPolicyEnforcement {
public:
    /// Waits until the daemon has installed its profile, then applies the
    /// sections "QELVNMAC1100", "General", "Exclusions" and "Rules". False
    /// when the daemon shuts down before a profile is loaded (nothing
    /// changed) or when a setting was refused (the others still applied).
    /// Exceptions of the configuration and the profile pass to the caller.
    /// Runs on the agent's thread.
    bool enforcePolicy(const std::wstring& name, const HVOEnterprise::SectionsHandle& sections) override;
    /// Does nothing; true.
    bool enforcePolicy(const std::wstring& name, const std::wstring& user, const std::wstring& domain,
                       unsigned long session, HVOEnterprise::LogonState logonState,
                       const HVOEnterprise::SectionsHandle& sections) override;

    /// A number key (VALUETYPE 0): read as a decimal the way atoi does
    /// (leading blanks and a sign, trailing characters ignored, no digits
    /// 0). False, `destination` untouched, when the key is absent or its
    /// number does not fit an int (traced).
    static bool getPolicyKeyValue(const HVOEnterprise::SectionsHandle& sections, const std::wstring& section,
                                  const std::wstring& key, int& destination);
    /// A text key (VALUETYPE 1); false, `destination` untouched, when absent.
    static bool getPolicyKeyValue(const HVOEnterprise::SectionsHandle& sections, const std::wstring& section,
                                  const std::wstring& key, std::wstring& destination);
    /// The key's text as UTF-8; empty when it is absent or has no UTF-8 form.
    static std::string getStringFromKey(const HVOEnterprise::SectionsHandle& sections, const std::wstring& section,
                                        const std::wstring& key);
    /// A console rule text "protocol,address,port,direction,action" (empty
    /// fields skipped; absent fields keep the rule's defaults) as the rule of
    /// order index - 1. False, traced, when the address or the port text is
    /// refused: the rule is to be dropped.
    static bool getNetWorkRuleFromString(const std::string& text, int index, NetworkRule& rule);
};

} // namespace AppProtection
