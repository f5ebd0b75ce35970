// The block-notification record: once per group and kind, also when many
// threads report the same groups at once.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AppProtError.h"
#include "StatsManager.h"

namespace {

using AppProtection::StatsManager;

class StatsManagerTest : public ::testing::Test {
protected:
    void SetUp() override { StatsManager::releaseInstance(); }
    void TearDown() override { StatsManager::releaseInstance(); }
    StatsManager* stats() { return StatsManager::getInstance(); }
};

TEST_F(StatsManagerTest, FirstBlockOfEachKindOnly)
{
    EXPECT_TRUE(stats()->sendExecBlockNotification("/g"));
    EXPECT_FALSE(stats()->sendExecBlockNotification("/g"));
    EXPECT_TRUE(stats()->sendNetworkBlockNotification("/g"));
    EXPECT_FALSE(stats()->sendNetworkBlockNotification("/g"));

    // First seen through the network: the execution flag stays false.
    EXPECT_TRUE(stats()->sendNetworkBlockNotification("/n"));
    const StatsManager::StatsRecord record = stats()->findRecord("/n");
    EXPECT_EQ("/n", record.m_appPath);
    EXPECT_FALSE(record.m_execBlockNotified);
    EXPECT_TRUE(record.m_networkBlockNotified);
    EXPECT_TRUE(stats()->sendExecBlockNotification("/n"));

    // Byte-wise keys: a prefix is another group.
    EXPECT_TRUE(stats()->sendExecBlockNotification("/g/"));
    EXPECT_TRUE(stats()->sendExecBlockNotification(""));
    EXPECT_FALSE(stats()->sendExecBlockNotification(""));
}

TEST_F(StatsManagerTest, AddRecordReplacesAndFindRecordThrows)
{
    try {
        stats()->findRecord("/nope");
        ADD_FAILURE() << "no exception";
    } catch (const AppProtection::AppProtException& e) {
        EXPECT_EQ(AppProtection::ENTRY_NOT_FOUND, e.getExceptionId());
        EXPECT_EQ("Could not find entry in cache", e.getExceptionMsg());
    }
    stats()->sendExecBlockNotification("/a");
    stats()->addRecord(StatsManager::StatsRecord{"/a", false, true});
    StatsManager::StatsRecord got = stats()->findRecord("/a");
    EXPECT_FALSE(got.m_execBlockNotified);
    EXPECT_TRUE(got.m_networkBlockNotified);
    EXPECT_TRUE(stats()->sendExecBlockNotification("/a"));
    EXPECT_FALSE(stats()->sendNetworkBlockNotification("/a"));
}

TEST_F(StatsManagerTest, EightThreadsGetOneTruePerGroupAndKind)
{
    constexpr int kThreads = 8;
    constexpr int kGroups = 1000;
    std::mutex mutex;
    std::condition_variable cv;
    int waiting = 0;
    std::vector<std::atomic<int>> exec(kGroups), network(kGroups);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            {
                // Behind one barrier: every thread starts at once.
                std::unique_lock<std::mutex> lock(mutex);
                if (++waiting == kThreads)
                    cv.notify_all();
                else
                    cv.wait(lock, [&] { return waiting == kThreads; });
            }
            for (int i = 0; i < kGroups; ++i) {
                // Half the threads go the other way round, and mix kinds.
                const int g = t % 2 == 0 ? i : kGroups - 1 - i;
                const std::string group = "/apps/" + std::to_string(g);
                if ((t / 2) % 2 == 0) {
                    exec[g] += stats()->sendExecBlockNotification(group);
                    network[g] += stats()->sendNetworkBlockNotification(group);
                } else {
                    network[g] += stats()->sendNetworkBlockNotification(group);
                    exec[g] += stats()->sendExecBlockNotification(group);
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    int wrong = 0;
    for (int g = 0; g < kGroups; ++g)
        wrong += exec[g] != 1 || network[g] != 1;
    EXPECT_EQ(0, wrong);
}

} // namespace
