// Export into a profile file and import from one, on the bundle tree at
// /Applications (tests/ns-run.sh --overlay): exact content against md5sum and
// iconv, what is left alone, the lock, a full disk, and concurrent writers.
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ConfigController.h"
#include "GeneratorTestSupport.h"

extern char** environ;

using namespace gentest;
using testfiles::TempDir;

namespace {

const std::string kLibFFile = kA + "/Contents/Frameworks/libF.dylib";

/// What the export of the scanned tree holds, through iconv (518 characters).
std::string treeExport()
{
    return "22 serialization::archive 3 0 0 0 0 2 0 0 59 " + kBExe + " 32 " + md5sum(kBExe) +
           " 19 /Applications/A.app 0 0 0 0 0 0 0 0 0 1 1 36 " + kAExe + " 32 " + md5sum(kAExe) +
           " 19 /Applications/A.app 0 1 59 " + kLibF + " 0 0 0 1 1 0 0 0 0 1 0 0 59 " + kLibF + " 32 " +
           md5sum(kLibFFile) + " 1 1 36 " + kAExe;
}

std::string asText(const std::string& path) { return wardtest::shellOutput("iconv -f UCS-4BE -t UTF-8 '" + path + "'"); }

ProfileGenerator& withGroups(ProfileGenerator& g, const Names& list)
{
    for (const std::string& group : list) {
        BasicAppRecord r = record(group);
        g.addAppToList(r);
    }
    return g;
}

bool exportGroups(const Names& list, const std::string& path)
{
    ProfileGenerator g;
    return withGroups(g, list).exportAppToProfile(path);
}

class GeneratorExport : public ::testing::Test {
protected:
    void SetUp() override { GEN_NEEDS_TREE(); }
    void TearDown() override { AppProtection::ConfigController::releaseInstance(); }
    TempDir dir;
};

TEST_F(GeneratorExport, TheScannedTree)
{
    const std::string p = dir / "P";
    ProfileGenerator g;
    ASSERT_TRUE(g.loadInstalledApplications());
    ASSERT_EQ(g.getAppList(false).size(), 4u);
    // The profile object's worker is woken at its end: no wait of its own.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(g.exportAppToProfile(p));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    const std::string want = treeExport();
    EXPECT_EQ(want.size(), 518u);
    EXPECT_EQ(asText(p), want);
    // The list itself is left as it was.
    EXPECT_EQ(g.getAppList(false).size(), 4u);
}

TEST_F(GeneratorExport, NothingAddedLeavesTheTargetAlone)
{
    struct Case {
        const char* name;
        Names list;
    } cases[] = {
        {"empty list", {}},
        {"only Empty.app", {"/Applications/Empty.app"}},
        {"only Link.app", {"/Applications/Link.app"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = dir / "P", absent = dir / "absent";
        testfiles::writeFile(p, "old bytes");
        const std::string before = statLine(p);
        EXPECT_TRUE(exportGroups(c.list, p));
        EXPECT_EQ(statLine(p), before);
        EXPECT_EQ(testfiles::readFile(p), "old bytes");
        EXPECT_TRUE(exportGroups(c.list, absent));
        EXPECT_FALSE(std::filesystem::exists(absent));
    }
}

TEST_F(GeneratorExport, ReplacesWhatTheTargetHeld)
{
    const std::string p = dir / "P";
    ASSERT_TRUE(exportGroups({kB}, p));
    ASSERT_NE(asText(p).find(" " + std::to_string(kB.size()) + " " + kB + " "), std::string::npos);
    const std::string inode = wardtest::shellOutput("stat -c %i '" + p + "'");
    const mode_t old = ::umask(077);
    const bool done = exportGroups({kA}, p);
    ::umask(old);
    EXPECT_TRUE(done);
    EXPECT_EQ(asText(p), treeExport());
    EXPECT_NE(wardtest::shellOutput("stat -c %i '" + p + "'"), inode);
    EXPECT_EQ(statLine(p).substr(0, 4), "660 ");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
              1);
}

TEST_F(GeneratorExport, NestedBundleBeforeItsOuterOneRefusesTheOuterOneWhole)
{
    const std::string p = dir / "P";
    ASSERT_TRUE(exportGroups({kB, kA}, p));
    ProfileGenerator g;
    ASSERT_TRUE(g.importAppsFromProfile(p));
    std::list<BasicAppRecord> list = g.getAppList(false);
    EXPECT_EQ(paths(list), Names{kBExe});
    EXPECT_EQ(groups(list), Names{kB});
}

TEST_F(GeneratorExport, WaitsForAnotherProcesssLock)
{
    const std::string p = dir / "P";
    testfiles::writeFile(p, "");
    // python3 takes lockf, says so, and holds it until its input closes.
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const std::string script = "import fcntl, os, sys\n"
                               "f = open(sys.argv[1], 'r+')\n"
                               "fcntl.lockf(f, fcntl.LOCK_EX)\n"
                               "os.write(1, b'L')\n"
                               "sys.stdin.read()\n";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&fa, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&fa, toChild[1]);
    posix_spawn_file_actions_addclose(&fa, fromChild[0]);
    const char* argv[] = {"python3", "-c", script.c_str(), p.c_str(), nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawnp(&child, "python3", &fa, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    char c = 0;
    ASSERT_EQ(::read(fromChild[0], &c, 1), 1);
    ASSERT_EQ(c, 'L');

    std::atomic<bool> finished{false};
    bool result = false;
    std::thread exporter([&] {
        result = exportGroups({kA}, p);
        finished = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(finished.load()) << "the export did not wait for the lock";
    EXPECT_EQ(testfiles::readFile(p), "");
    ::close(toChild[1]); // the child ends, and its lock with it
    exporter.join();
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(fromChild[0]);
    EXPECT_TRUE(result);
    EXPECT_EQ(asText(p), treeExport());
}

TEST_F(GeneratorExport, FullDiskKeepsTheOldFile)
{
    const std::string mnt = "/usr/local/Vantrel/full";
    std::filesystem::create_directories(mnt);
    ASSERT_EQ(::mount("ward-full", mnt.c_str(), "tmpfs", 0, "size=16k,mode=0755"), 0) << std::strerror(errno);
    const std::string p = mnt + "/P";
    testfiles::writeFile(p, "old bytes");
    // The rest of the four pages taken.
    testfiles::writeFile(mnt + "/filler", std::string(12288, 'f'));
    EXPECT_FALSE(exportGroups({kA}, p));
    EXPECT_EQ(testfiles::readFile(p), "old bytes");
    Names names;
    for (const auto& e : std::filesystem::directory_iterator(mnt))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Names{"P", "filler"}));
    ::umount2(mnt.c_str(), MNT_DETACH);
}

// ---------------------------------------------------------------- import

class GeneratorImport : public GeneratorExport {
protected:
    void SetUp() override
    {
        GeneratorExport::SetUp();
        if (IsSkipped())
            return;
        std::filesystem::create_directories(kVar);
        std::filesystem::remove(kProfile);
        std::filesystem::remove(kTemplate);
    }
};

TEST_F(GeneratorImport, CurrentProfileAfterAnExport)
{
    ASSERT_TRUE(exportGroups({kA}, kProfile));
    ProfileGenerator g;
    BasicAppRecord pre = record("/zz", "/zz/pre");
    g.addAppToList(pre);
    EXPECT_TRUE(g.importCurrentProfile());
    std::list<BasicAppRecord> list = g.getAppList(false);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(paths(list), (Names{kBExe, kAExe, "/zz/pre"}));
    auto it = list.begin();
    for (const std::string& exe : {kBExe, kAExe}) {
        SCOPED_TRACE(exe);
        EXPECT_EQ(it->getAppGroup(), kA);
        EXPECT_EQ(it->getApplicationHash(), md5sum(exe));
        EXPECT_FALSE(it->getExecAllowed());
        EXPECT_TRUE(it->getEnabled());
        EXPECT_EQ(it->getNwAction(), BasicAppRecord::NW_ACTION_ALLOW_ALL);
        ++it;
    }
}

TEST_F(GeneratorImport, WhatIsNotAProfileFailsAndStaysAsItWas)
{
    struct Case {
        const char* name;
        const char* content; ///< nullptr: no file
        bool read;
    } cases[] = {
        {"missing", nullptr, false},
        {"corrupt", "22 serialization::archive 3 nonsense", false},
        {"empty file", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(kProfile);
        if (c.content != nullptr)
            testfiles::writeFile(kProfile, testfiles::ucs4be(c.content));
        const std::string sum = c.content != nullptr ? md5sum(kProfile) : "";
        ProfileGenerator g;
        BasicAppRecord pre = record("/pre");
        g.addAppToList(pre);
        EXPECT_EQ(g.importCurrentProfile(), c.read);
        EXPECT_EQ(groups(g.getAppList(false)), Names{"/pre"});
        EXPECT_EQ(std::filesystem::exists(kProfile), c.content != nullptr);
        if (c.content != nullptr) {
            EXPECT_EQ(md5sum(kProfile), sum);
        }
        EXPECT_FALSE(std::filesystem::exists(kProfile + ".corrupt"));
    }
    ProfileGenerator g;
    EXPECT_FALSE(g.importAppsFromProfile(dir / "missing"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(GeneratorImport, RecommendedProfileIsTheTemplate)
{
    ProfileGenerator g;
    EXPECT_FALSE(g.loadRecommendedProfile());
    ASSERT_TRUE(exportGroups({kA}, kTemplate));
    EXPECT_TRUE(g.loadRecommendedProfile());
    EXPECT_EQ(paths(g.getAppList(false)), (Names{kBExe, kAExe}));
    EXPECT_FALSE(std::filesystem::exists(kProfile));
}

TEST_F(GeneratorImport, EveryImportIsOneWholeProfileWhileAnotherProcessWrites)
{
    const std::string p = dir / "P";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_addclose(&fa, out[0]);
    const char* argv[] = {PDC_HELPER, "flip", p.c_str(), "3", nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, PDC_HELPER, &fa, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    char ready[6] = {};
    ASSERT_EQ(::read(out[0], ready, 6), 6);
    int ones = 0, twos = 0;
    for (int i = 0; i < 200; ++i) {
        ProfileGenerator g;
        ASSERT_TRUE(g.importAppsFromProfile(p)) << i;
        std::list<BasicAppRecord> list = g.getAppList(false);
        const Names got = paths(list);
        if (got == Names{"/one/app0", "/one/app1", "/one/app2"})
            ++ones;
        else if (got == Names{"/two/app0", "/two/app1", "/two/app2"})
            ++twos;
        else
            ADD_FAILURE() << "import " << i << " read " << got.size() << " records";
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(out[0]);
    EXPECT_EQ(ones + twos, 200);
}

// ---------------------------------------------------------------- round trip

TEST_F(GeneratorImport, ImportedRecordsSurviveTheTemporaryProfileByteForByte)
{
    // Two bundles with names above 0x7F; the second executable a copy of B
    // with a tag appended (another fingerprint, still Mach-O).
    const std::string cafe = dir / "Caf\xc3\xa9.app";
    const std::string exe1 = cafe + "/Contents/MacOS/B", exe2 = dir / "\xc3\x9c" "ber.app/Contents/MacOS/\xe2\x82\xac";
    std::filesystem::create_directories(std::filesystem::path(exe1).parent_path());
    std::filesystem::create_directories(std::filesystem::path(exe2).parent_path());
    std::filesystem::copy_file(kBExe, exe1);
    testfiles::writeFile(exe2, testfiles::readFile(kBExe) + "tag \xff");
    ProfileGenerator scan;
    ASSERT_TRUE(scan.loadAppsFromFolder(dir.path()));
    ASSERT_TRUE(scan.exportAppToProfile(dir / "P"));

    ProfileGenerator g;
    ASSERT_TRUE(g.importAppsFromProfile(dir / "P"));
    const std::list<BasicAppRecord> imported = g.getAppList(false);
    ASSERT_EQ(paths(imported), (Names{exe1, exe2}));
    prefsSet("TempProfilePath", "-string " + kTempProfile);
    ASSERT_TRUE(g.enforceAppList());
    const std::list<BasicAppRecord> back = readTempProfile(kTempProfile);
    ASSERT_EQ(back.size(), imported.size());
    auto a = imported.begin();
    for (const BasicAppRecord& b : back)
        expectSameRecord(*a++, b);
}

} // namespace
