#include "DetailedAppRecord.h"

namespace AppProtection {

bool DetailedAppRecord::customRuleMatch(const sockaddr_in& peer, const Operation& direction,
                                        const NWProtocol& protocol, actions& action) const
{
    for (const NetworkRule& rule : nwRules) {
        if (rule.matches(peer, static_cast<short>(protocol), direction)) {
            action = rule.getAction();
            return true;
        }
    }
    return false;
}

} // namespace AppProtection
