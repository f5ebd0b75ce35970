#include "BasicAppRecord.h"

#include <iostream>

namespace AppProtection {

void BasicAppRecord::setNwRules(std::list<NetworkRule> rules)
{
    // The same tests as sortOrder and uniqueOrder, without copying each rule
    // for every comparison; nothing here allocates or throws. Rules already
    // in strictly ascending order (every list the profile stores or reads)
    // are left as they are.
    bool ascending = true;
    for (auto it = rules.begin(), next = it; ascending && it != rules.end() && ++next != rules.end(); ++it)
        ascending = it->getOrder() < next->getOrder();
    if (!ascending) {
        rules.sort([](const NetworkRule& a, const NetworkRule& b) { return a.getOrder() < b.getOrder(); });
        rules.unique([](const NetworkRule& a, const NetworkRule& b) { return a.getOrder() == b.getOrder(); });
    }
    nwRules = std::move(rules);
}

bool BasicAppRecord::matches(const BasicAppRecord& other) const
{
    if (execAllowed != other.execAllowed || nwAction != other.nwAction)
        return false;
    if (nwAction != NW_ACTION_CUSTOM)
        return true;
    return nwRules == other.nwRules;
}

bool BasicAppRecord::operator==(const BasicAppRecord& other) const
{
    return matches(other) && applicationHash == other.applicationHash;
}

void BasicAppRecord::print(std::ostream& out) const
{
    out << std::endl
        << "\n\t AppGroup = " << appGroup << " \n\t AppPath = " << appPath
        << " \n\t AppHash = " << applicationHash
        << " \n\t ExecAllowed = " << (execAllowed ? "yes" : "no")
        << "  Enabled = " << (enabled ? "yes" : "no") << "  NwAction = " << nwAction << std::endl;
    if (nwAction == NW_ACTION_CUSTOM) {
        for (const NetworkRule& rule : nwRules) {
            out << "\t";
            rule.print(out);
        }
    }
}

void BasicAppRecord::print() const { print(std::cout); }

} // namespace AppProtection
