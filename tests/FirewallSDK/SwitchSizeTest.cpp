// The switches' second call passes one int as the new value, whatever size
// the size query reports. This program defines sysctlbyname itself: the
// library's call binds to the executable's definition.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "FWCommands.h"

namespace {
std::vector<size_t> newLengths;
int value = 0;
} // namespace

extern "C" int sysctlbyname(const char*, void* oldp, size_t* oldlenp, void* newp, size_t newlen)
{
    if (oldp == nullptr && oldlenp != nullptr) {
        *oldlenp = 8; // as a 64-bit kernel might answer
        return 0;
    }
    if (oldp != nullptr)
        std::memcpy(oldp, &value, sizeof value);
    if (newp != nullptr) {
        newLengths.push_back(newlen);
        std::memcpy(&value, newp, sizeof value);
    }
    return 0;
}

TEST(SwitchSize, NewValueLengthIsOneInt)
{
    FirewallSDK::FWCommands* store = FirewallSDK::FWCommands::getInstance();
    EXPECT_EQ(store->setIpfwStatus(true), 0);
    EXPECT_EQ(store->setLogLevel(2), 0);
    EXPECT_EQ(newLengths, (std::vector<size_t>{4, 4}));
    EXPECT_EQ(value, 2);
    FirewallSDK::FWCommands::releaseInstance();
}
