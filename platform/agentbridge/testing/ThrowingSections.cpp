#include "ThrowingSections.h"

#include <stdexcept>

namespace agentbridgetest {

bool ThrowingSections::insert(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    if (++m_inserts == m_failAt)
        throw std::runtime_error("insert failed");
    return SectionsHandle::insert(section, key, value);
}

} // namespace agentbridgetest
