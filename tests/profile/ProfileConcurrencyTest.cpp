// The profile controller under threads: the worker against edits, edits
// during a persist, starvation, decisions under load, destruction under
// load and the file lock between threads.
#include <fstream>
#include <future>

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "HashGenerator.h"
#include "PdcSupport.h"
#include "ProfileFile.h"
#include "ScriptedScanner.h"

using namespace AppProtection;
using pdctest::Probe;
using pdctest::rule;
using Names = std::vector<std::string>;
using namespace std::chrono_literals;

namespace {

class PdcThreads : public ::testing::Test {
protected:
    std::string exe(const std::string& rel, const Names& libs = {})
    {
        std::string path = dir / rel;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testfiles::writeFile(path, "exe " + rel);
        scanner.setExecutable(path);
        scanner.setLibraries(path, libs);
        return path;
    }
    std::string lib(const std::string& rel)
    {
        std::string path = dir / rel;
        testfiles::writeFile(path, "lib " + rel);
        scanner.setLibraries(path, {});
        return path;
    }

    testfiles::TempDir dir;
    testscan::ScriptedScanner scanner;
};

TEST_F(PdcThreads, EditsDuringAGatedScanSurviveTheWorker)
{
    std::string l = lib("libL"), m = lib("libM");
    std::string a = exe("G/A", {l});
    Probe p;
    scanner.gate(a);
    BasicAppRecord r = rule(dir / "G");
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    ASSERT_TRUE(scanner.waitEntered());
    // The group leaves the disk, so these edits need no scanner call.
    std::filesystem::rename(dir / "G", dir / "G.away");
    BasicAppRecord deny = rule(dir / "G", false);
    EXPECT_EQ(p.updateRuleForApp(deny), SUCCESS);
    p.markAppModifiedForDep(a, m);
    scanner.release();
    p.drainPendingDeps();
    DetailedAppRecord got = p.app(a);
    EXPECT_FALSE(got.getExecAllowed());
    EXPECT_TRUE(got.getAppModified());
    EXPECT_EQ(got.getChangedDeps(), Names{m});
    EXPECT_EQ(got.getDependencies(), Names{l});
    EXPECT_EQ(p.users(l), Names{a});
}

TEST_F(PdcThreads, DeleteDuringAGatedScanLeavesNoListing)
{
    std::string l = lib("libL");
    std::string a = exe("G/A", {l});
    Probe p;
    scanner.gate(a);
    BasicAppRecord r = rule(dir / "G");
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    ASSERT_TRUE(scanner.waitEntered());
    std::filesystem::rename(dir / "G", dir / "G.away");
    EXPECT_EQ(p.deleteAppFromProfile(r), SUCCESS);
    scanner.release();
    p.drainPendingDeps();
    EXPECT_FALSE(p.has(a));
    Names users = p.users(l);
    EXPECT_EQ(std::count(users.begin(), users.end(), a), 0);
}

TEST_F(PdcThreads, EditDuringPersistReachesTheNextPersist)
{
    std::string a = exe("A"), b = exe("B");
    std::string path = dir / "profile";
    Probe p;
    BasicAppRecord ra = rule(a);
    ASSERT_EQ(p.addAppToProfile(ra), SUCCESS);
    std::promise<void> entered, leave;
    std::shared_future<void> leaveFuture = leave.get_future().share();
    p.setPersistHook([&] {
        entered.set_value();
        leaveFuture.wait();
    });
    std::thread writer([&] { p.persistProfile(path); });
    entered.get_future().wait();
    BasicAppRecord rb = rule(b);
    ASSERT_EQ(p.addAppToProfile(rb), SUCCESS);
    leave.set_value();
    writer.join();
    p.setPersistHook(nullptr);
    EXPECT_TRUE(p.dirty());
    {
        Probe first;
        first.loadProfile(path);
        EXPECT_EQ(first.paths(), Names{a});
    }
    p.persistProfile(path);
    Probe second;
    second.loadProfile(path);
    EXPECT_EQ(second.paths(), (Names{a, b}));
}

TEST_F(PdcThreads, AddIsNotStarvedByTheWorker)
{
    std::string path = dir / "profile";
    {
        ApplicationStore apps;
        DependentStore deps;
        for (int i = 0; i < 100; ++i) {
            std::string fake = dir / ("queued" + std::to_string(i));
            DetailedAppRecord rec(rule(fake));
            rec.setAppPath(fake);
            rec.setApplicationHash(std::string(32, 'a' + i % 6));
            apps.addApp(rec);
            scanner.setLibraries(fake, {});
        }
        std::ofstream out(path, std::ios::binary);
        writeProfile(out, apps, deps);
    }
    scanner.setDelay(50ms);
    std::string a = exe("A");
    Probe p;
    p.loadProfile(path);
    ASSERT_TRUE(pdctest::eventually([&] { return scanner.scans() >= 2; }));
    auto start = std::chrono::steady_clock::now();
    BasicAppRecord r = rule(a);
    EXPECT_EQ(p.addAppToProfile(r), SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(PdcThreads, DecisionsUnderLoadFitAStateTheProfileWasIn)
{
    std::string l = lib("libL");
    std::string a = exe("G/A", {l});
    Probe p;
    BasicAppRecord r = rule(dir / "G", true, BasicAppRecord::NW_ACTION_CUSTOM);
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    p.drainPendingDeps();
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0}, answers{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            sockaddr_in peer{};
            peer.sin_family = AF_INET;
            peer.sin_addr.s_addr = htonl(0x0a000001);
            peer.sin_port = htons(80);
            while (!stop) {
                BasicAppRecord out;
                try {
                    auto launch = p.allowApplicationLaunch(a, out);
                    auto network = p.allowNetworkAccess(a, peer, OUTGOING_CONNECTION, NW_TCP, out);
                    if ((launch != ProfileDataController::APP_ALLOWED && launch != ProfileDataController::APP_DENIED)
                        || (network != ProfileDataController::APP_ALLOWED
                            && network != ProfileDataController::APP_DENIED)
                        || out.getAppPath() != a)
                        ++bad;
                } catch (...) {
                    ++bad;
                }
                ++answers;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            BasicAppRecord flip = rule(dir / "G", i % 2, BasicAppRecord::NW_ACTION_CUSTOM);
            try {
                p.updateRuleForApp(flip);
            } catch (...) {
                ++bad;
            }
        }
    });
    threads.emplace_back([&] {
        while (!stop) {
            p.processFileChange(a);
            p.processFileChange(l);
            p.validateProfileHashes();
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i)
            p.setCustomNwFallbackAction(i % 2 ? BasicAppRecord::NW_ACTION_ALLOW_ALL
                                              : BasicAppRecord::NW_ACTION_BLOCK_ALL);
    });
    std::this_thread::sleep_for(1500ms);
    stop = true;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(answers.load(), 0);
    p.drainPendingDeps();
    pdctest::expectLibraryInvariant(p, {l});
}

TEST_F(PdcThreads, DestructionWaitsForTheGatedScanOnly)
{
    std::string a = exe("A", {lib("libL")});
    auto p = std::make_unique<Probe>();
    scanner.gate(a);
    BasicAppRecord r = rule(a);
    ASSERT_EQ(p->addAppToProfile(r), SUCCESS);
    ASSERT_TRUE(scanner.waitEntered());
    p->validateProfileHashes();
    p->validateProfileHashes();
    std::atomic<bool> destroyed{false};
    std::thread killer([&] {
        p.reset();
        destroyed = true;
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(destroyed.load());
    scanner.release();
    killer.join();
    EXPECT_TRUE(destroyed.load());
    int scansBefore = scanner.scans();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(scanner.scans(), scansBefore) << "the scanner was used after destruction";
}

TEST_F(PdcThreads, LockExcludesAnotherObjectOnAnotherThread)
{
    std::string path = dir / "profile";
    testfiles::writeFile(path, "");
    Probe first, second;
    ASSERT_TRUE(first.lockProfile(path));
    std::atomic<bool> locked{false};
    std::thread t([&] {
        EXPECT_TRUE(second.lockProfile(path));
        locked = true;
        second.unlockProfile(path);
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(locked.load());
    first.unlockProfile(path);
    t.join();
    EXPECT_TRUE(locked.load());
}

} // namespace
