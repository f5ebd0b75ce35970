// Special folders and exclusions match paths by plain, case-sensitive byte
// prefix, as the system's users expect them to.
#pragma once

#include <string>

namespace AppProtection {

/// True when `path` begins with `entry`. An empty entry matches nothing:
/// left in a list by mistake, it would otherwise match every path.
inline bool startsWithEntry(const std::string& path, const std::string& entry)
{
    return !entry.empty() && path.compare(0, entry.size(), entry) == 0;
}

} // namespace AppProtection
