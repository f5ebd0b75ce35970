// The application store and the dependent-library store.
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "ApplicationStore.h"
#include "DependentStore.h"
#include "HashGenerator.h"
#include "TestFiles.h"

using namespace AppProtection;
using testfiles::TempDir;
using Paths = std::vector<std::string>;

namespace {

DetailedAppRecord app(const std::string& path, const std::string& group, const std::string& hash = "")
{
    DetailedAppRecord r;
    r.setAppPath(path);
    r.setAppGroup(group);
    r.setApplicationHash(hash);
    return r;
}

Paths pathsOf(const std::vector<DetailedAppRecord>& v)
{
    Paths p;
    for (const auto& r : v)
        p.push_back(r.getAppPath());
    return p;
}

TEST(ApplicationStore, AddRefusesAStoredPath)
{
    ApplicationStore store;
    DetailedAppRecord first = app("/bin/a", "/bin", "h1");
    first.setExecAllowed(true);
    DetailedAppRecord second = app("/bin/a", "/other", "h2");
    EXPECT_TRUE(store.addApp(first));
    EXPECT_FALSE(store.addApp(second));
    DetailedAppRecord got;
    ASSERT_TRUE(store.findAppByName("/bin/a", got));
    EXPECT_EQ(got.getAppGroup(), "/bin");
    EXPECT_EQ(got.getApplicationHash(), "h1");
    EXPECT_TRUE(got.getExecAllowed());
    std::vector<DetailedAppRecord> byGroup;
    EXPECT_FALSE(store.findAppByGroup("/other", byGroup));
}

TEST(ApplicationStore, FindersAppendInIndexOrder)
{
    ApplicationStore store;
    for (auto r : {app("/z", "/g", "h1"), app("/a", "/g", "h2"), app("/m", "/g2", "h1"), app("/b", "/g", "h1")})
        ASSERT_TRUE(store.addApp(r));

    std::vector<DetailedAppRecord> out;
    EXPECT_TRUE(store.findAppByGroup("/g", out));
    EXPECT_EQ(pathsOf(out), (Paths{"/z", "/a", "/b"})); // order of entry

    std::vector<DetailedAppRecord> byHash{app("/kept", "/k")};
    EXPECT_FALSE(store.findAppByHash("nothing", byHash));
    EXPECT_EQ(byHash.size(), 1u);
    EXPECT_TRUE(store.findAppByHash("h1", byHash));
    EXPECT_EQ(pathsOf(byHash), (Paths{"/kept", "/z", "/m", "/b"}));

    DetailedAppRecord untouched = app("/u", "/u");
    EXPECT_FALSE(store.findAppByName("/none", untouched));
    EXPECT_EQ(untouched.getAppPath(), "/u");

    std::list<BasicAppRecord> all = store.getAllProfileRules();
    Paths allPaths;
    for (const auto& r : all)
        allPaths.push_back(r.getAppPath());
    EXPECT_EQ(allPaths, (Paths{"/a", "/b", "/m", "/z"}));
}

TEST(ApplicationStore, UpdateMovesKeysDeleteByPath)
{
    ApplicationStore store;
    DetailedAppRecord a = app("/a", "/g1", "h");
    ASSERT_TRUE(store.addApp(a));
    DetailedAppRecord b = app("/b", "/g1", "h");
    ASSERT_TRUE(store.addApp(b));

    DetailedAppRecord stranger = app("/nope", "/g1", "h");
    store.updateApp(stranger);
    store.deleteApp(stranger);
    std::vector<DetailedAppRecord> out;
    EXPECT_TRUE(store.findAppByGroup("/g1", out));
    EXPECT_EQ(out.size(), 2u);

    DetailedAppRecord moved = app("/a", "/g2", "h9");
    store.updateApp(moved);
    out.clear();
    EXPECT_TRUE(store.findAppByGroup("/g1", out));
    EXPECT_EQ(pathsOf(out), Paths{"/b"});
    out.clear();
    EXPECT_TRUE(store.findAppByGroup("/g2", out));
    EXPECT_EQ(pathsOf(out), Paths{"/a"});
    out.clear();
    EXPECT_TRUE(store.findAppByHash("h9", out));

    store.deleteApp(moved);
    DetailedAppRecord got;
    EXPECT_FALSE(store.findAppByName("/a", got));
    out.clear();
    EXPECT_FALSE(store.findAppByHash("h9", out));
    store.clear();
    EXPECT_TRUE(store.getAllProfileRules().empty());
}

TEST(ApplicationStore, ValidateHashesReportsARewriteOnce)
{
    TempDir dir;
    std::string kept = dir / "kept", changed = dir / "changed", gone = dir / "gone";
    for (const std::string& p : {kept, changed, gone})
        testfiles::writeFile(p, p);
    ApplicationStore store;
    for (const std::string& p : {kept, changed, gone}) {
        DetailedAppRecord r = app(p, p, HashGenerator::generateHash(p));
        ASSERT_TRUE(store.addApp(r));
    }
    std::string goneHash = HashGenerator::generateHash(gone);
    testfiles::writeFile(changed, "new content");
    unlink(gone.c_str());

    EXPECT_EQ(store.validateHashes(), Paths{changed});
    DetailedAppRecord got;
    ASSERT_TRUE(store.findAppByName(changed, got));
    EXPECT_TRUE(got.getAppModified());
    EXPECT_EQ(got.getApplicationHash(), HashGenerator::generateHash(changed));
    std::vector<DetailedAppRecord> byHash;
    EXPECT_TRUE(store.findAppByHash(HashGenerator::generateHash(changed), byHash));

    ASSERT_TRUE(store.findAppByName(gone, got));
    EXPECT_FALSE(got.getAppModified());
    EXPECT_EQ(got.getApplicationHash(), goneHash);
    ASSERT_TRUE(store.findAppByName(kept, got));
    EXPECT_FALSE(got.getAppModified());

    EXPECT_TRUE(store.validateHashes().empty());
}

TEST(ApplicationStore, ConcurrentCallersSeeWholeRecords)
{
    ApplicationStore store;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (int i = 0; i < 200; ++i) {
                std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
                DetailedAppRecord r = app(path, "/g", "h");
                store.addApp(r);
                DetailedAppRecord got;
                EXPECT_TRUE(store.findAppByName(path, got));
                if (i % 2)
                    store.deleteApp(r);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    std::vector<DetailedAppRecord> out;
    store.findAppByGroup("/g", out);
    EXPECT_EQ(out.size(), 400u);
}

// ---------------------------------------------------------------- libraries

class Libraries : public ::testing::Test {
protected:
    std::string lib(const std::string& name, const std::string& content)
    {
        std::string p = dir / name;
        testfiles::writeFile(p, content);
        return p;
    }
    DependentRecord stored(const std::string& name)
    {
        DependentRecord r;
        EXPECT_TRUE(store.findByName(name, r)) << name;
        return r;
    }
    TempDir dir;
    DependentStore store;
};

TEST_F(Libraries, AddingAnApplicationTwiceListsItTwice)
{
    std::string l = lib("l", "L");
    store.addAppToDependent(l, "/A");
    store.addAppToDependent(l, "/A");
    DependentRecord r = stored(l);
    EXPECT_EQ(r.getAppList(), (Paths{"/A", "/A"}));
    EXPECT_EQ(DependentRecord::AppCountKey()(r), 2u);
    EXPECT_EQ(r.getFileHash(), HashGenerator::generateHash(l));
}

TEST_F(Libraries, UnreadableNewLibraryChangesNothingStoredOneNeedsNoFile)
{
    store.addAppToDependent(dir / "missing", "/A");
    DependentRecord r;
    EXPECT_FALSE(store.findByName(dir / "missing", r));

    std::string l = lib("l", "L");
    store.addAppToDependent(l, "/A");
    unlink(l.c_str());
    store.addAppToDependent(l, "/B");
    EXPECT_EQ(stored(l).getAppList(), (Paths{"/A", "/B"}));
}

TEST_F(Libraries, SameContentIsFoldedIntoTheStoredRecord)
{
    std::string l1 = lib("l1", "same"), l2 = lib("l2", "same");
    store.addAppToDependent(l1, "/A");
    store.addAppToDependent(l2, "/B");
    DependentRecord r;
    EXPECT_FALSE(store.findByName(l2, r));
    EXPECT_EQ(stored(l1).getAppList(), (Paths{"/A", "/B"}));
    EXPECT_TRUE(store.findByHash(HashGenerator::generateHash(l2), r));
    EXPECT_EQ(r.getFileName(), l1);
}

TEST_F(Libraries, RemovingAnApplication)
{
    std::string l = lib("l", "L");
    store.addAppToDependent(l, "/A");
    store.addAppToDependent(l, "/B");
    store.addAppToDependent(l, "/A");
    store.removeAppFromDependent(l, "/A");
    EXPECT_EQ(stored(l).getAppList(), (Paths{"/B", "/A"}));
    store.removeAppFromDependent(l, "/C");
    EXPECT_EQ(stored(l).getAppList(), (Paths{"/B", "/A"}));
    store.removeAppFromDependent(l, "/B");
    store.removeAppFromDependent(l, "/A");
    DependentRecord r = stored(l);
    EXPECT_TRUE(r.getAppList().empty());
    EXPECT_EQ(DependentRecord::AppCountKey()(r), 0u);
    store.removeAppFromDependent(dir / "unknown", "/A");
    EXPECT_FALSE(store.findByName(dir / "unknown", r));
}

TEST_F(Libraries, BasicOperations)
{
    DependentRecord a;
    a.setFileName("/l/a");
    a.setFileHash("h");
    a.setAppList({"/x"});
    store.addDependent(a);
    DependentRecord again = a;
    again.setAppList({});
    store.addDependent(again); // stored name: nothing
    EXPECT_EQ(stored("/l/a").getAppList(), Paths{"/x"});
    DependentRecord other;
    other.setFileName("/l/none");
    store.updateDependent(other);
    DependentRecord r;
    EXPECT_FALSE(store.findByName("/l/none", r));
    a.setAppList({"/x", "/y"});
    store.updateDependent(a);
    EXPECT_EQ(stored("/l/a").getAppList(), (Paths{"/x", "/y"}));
    store.clear();
    EXPECT_FALSE(store.findByName("/l/a", r));
}

TEST_F(Libraries, ValidationReportsOnceAndKeepsTheOldFingerprint)
{
    std::string l = lib("l", "old");
    std::string oldHash = HashGenerator::generateHash(l);
    store.addAppToDependent(l, "/A");
    std::string gone = lib("gone", "g");
    store.addAppToDependent(gone, "/A");
    unlink(gone.c_str());
    lib("l", "new");
    EXPECT_EQ(store.validateHashes(), Paths{l});
    EXPECT_TRUE(store.validateHashes().empty());
    DependentRecord r = stored(l);
    EXPECT_EQ(r.getFileHash(), oldHash);
    EXPECT_TRUE(r.getHashVerified());
    EXPECT_TRUE(stored(gone).getHashVerified());
}

TEST_F(Libraries, ValidationGoesFromTheHighestApplicationCountDown)
{
    std::string three = lib("three", "3"), one = lib("one", "1"), two = lib("two", "2");
    for (const char* a : {"/a", "/b", "/c"})
        store.addAppToDependent(three, a);
    store.addAppToDependent(one, "/a");
    store.addAppToDependent(two, "/a");
    store.addAppToDependent(two, "/b");
    for (const std::string& p : {three, one, two})
        lib(p.substr(dir.path().size() + 1), "changed " + p);
    EXPECT_EQ(store.validateHashes(), (Paths{three, two, one}));
    EXPECT_TRUE(DependentStore().validateHashes().empty());
}

TEST_F(Libraries, ConcurrentAddAndRemoveLoseNothing)
{
    std::string l = lib("l", "L");
    store.addAppToDependent(l, "/base");
    std::thread adder([&] {
        for (int i = 0; i < 300; ++i)
            store.addAppToDependent(l, "/add" + std::to_string(i));
    });
    std::thread remover([&] {
        for (int i = 0; i < 300; ++i) {
            store.addAppToDependent(l, "/tmp" + std::to_string(i));
            store.removeAppFromDependent(l, "/tmp" + std::to_string(i));
        }
    });
    std::thread validator([&] {
        for (int i = 0; i < 50; ++i)
            store.validateHashes();
    });
    adder.join();
    remover.join();
    validator.join();
    EXPECT_EQ(stored(l).getAppList().size(), 301u);
}

} // namespace
