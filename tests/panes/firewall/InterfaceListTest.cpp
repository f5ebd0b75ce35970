// The interface list's fall-back to this machine's interfaces, in a network
// namespace holding lo, en0 and en1 (the test's command makes them).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FWRecords.h"

using FirewallSDK::NetworkInterfaceInfo;

namespace {

TEST(FirewallInterfaceList, AnEmptyListShowsThisMachinesInterfaces)
{
    NetworkInterfaceInfo info;
    EXPECT_EQ((std::vector<std::wstring>{L"en0", L"en1", L"lo", L"all"}), info.getInterfaceAsWstring());
    // Filled once: asked again, the same list without a second "all".
    EXPECT_EQ((std::vector<std::string>{"en0", "en1", "lo", "all"}), info.getInterface());
    EXPECT_EQ(-1, info.getIndex());
}

} // namespace
