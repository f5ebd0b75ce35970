// A section handle whose n-th insert throws, as a broken agent's would.
#pragma once

#include "HvoAgent.h"

namespace agentbridgetest {

class ThrowingSections : public HVOEnterprise::SectionsHandle {
public:
    /// The `failAt`-th insert (1-based) throws std::runtime_error; the
    /// others insert.
    explicit ThrowingSections(int failAt) : m_failAt(failAt) {}
    bool insert(const std::wstring& section, const std::wstring& key, const std::wstring& value) override;
    int inserts() const { return m_inserts; }

private:
    int m_failAt;
    int m_inserts = 0;
};

} // namespace agentbridgetest
