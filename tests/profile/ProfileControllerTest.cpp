// The profile controller on one thread: load and persist, dependencies in
// the file, decisions, rule edits, change processing and the library-store
// invariant. Executables and libraries are real files; a scripted scanner
// says which are executables and what they load.
#include <fstream>
#include <functional>
#include <random>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include "DependentGenerator.h"
#include "DirectoryEnumerator.h"
#include "HashGenerator.h"
#include "PdcSupport.h"
#include "ProfileFile.h"
#include "RulebookTrace.h"
#include "ScriptedScanner.h"
#include "TraceCapture.h"

using namespace AppProtection;
using pdctest::Probe;
using pdctest::rule;
using Names = std::vector<std::string>;

namespace {

class Pdc : public ::testing::Test {
protected:
    /// A file the scanner calls an executable, loading `libs`.
    std::string exe(const std::string& rel, const Names& libs = {}, const std::string& content = "")
    {
        std::string path = dir / rel;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testfiles::writeFile(path, content.empty() ? "exe " + rel : content);
        scanner.setExecutable(path);
        scanner.setLibraries(path, libs);
        return path;
    }
    std::string lib(const std::string& rel, const std::string& content = "")
    {
        std::string path = dir / rel;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        testfiles::writeFile(path, content.empty() ? "lib " + rel : content);
        scanner.setLibraries(path, {});
        return path;
    }
    static struct stat statOf(const std::string& path)
    {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st;
    }

    testfiles::TempDir dir;
    testscan::ScriptedScanner scanner;
};

// ---------------------------------------------------------------------------
// Load and persist

TEST_F(Pdc, LoadingMissingFileCreatesEmptyProfileWhateverTheUmask)
{
    std::string path = dir / "profile";
    mode_t old = umask(077);
    {
        Probe p;
        p.loadProfile(path);
        EXPECT_TRUE(p.paths().empty());
    }
    umask(old);
    struct stat st = statOf(path);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(wardtest::shellOutput("stat -c %a " + path), "660\n");
    Probe again;
    again.loadProfile(path);
    EXPECT_TRUE(again.paths().empty());
    EXPECT_FALSE(std::filesystem::exists(path + ".corrupt"));
    EXPECT_FALSE(again.dirty());
}

TEST_F(Pdc, LoadWithoutCreateLeavesMissingFileMissing)
{
    std::string path = dir / "profile";
    Probe p;
    std::string a = exe("A");
    BasicAppRecord r = rule(a);
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    p.loadProfileIfPresent(path);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(p.paths(), Names{a});
}

TEST_F(Pdc, PersistWritesNewInodeOnlyWhenChanged)
{
    std::string path = dir / "profile";
    Probe p;
    p.loadProfile(path);
    struct stat before = statOf(path);
    std::string a = exe("A");
    BasicAppRecord r = rule(a);
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    umask(077);
    p.persistProfile(path);
    umask(022);
    struct stat first = statOf(path);
    EXPECT_NE(first.st_ino, before.st_ino);
    EXPECT_EQ(first.st_mode & 07777, 0660u);
    EXPECT_GT(first.st_size, 0);
    EXPECT_FALSE(p.dirty());
    p.drainPendingDeps(); // no libraries: the list stays empty, nothing to write
    p.persistProfile(path);
    struct stat second = statOf(path);
    EXPECT_EQ(second.st_ino, first.st_ino);
    EXPECT_EQ(second.st_mtim.tv_sec, first.st_mtim.tv_sec);
    EXPECT_EQ(second.st_mtim.tv_nsec, first.st_mtim.tv_nsec);
    // No temporary file is left beside it.
    EXPECT_EQ(DirectoryEnumerator().enumerate(dir.path(), false, false).size(), 2u);

    Probe fresh;
    fresh.loadProfile(path);
    EXPECT_EQ(fresh.paths(), Names{a});
}

TEST_F(Pdc, UnloadableProfileIsKeptAsideAndStoresEmptied)
{
    // A valid profile to truncate.
    std::string good = dir / "good";
    {
        Probe p;
        std::string a = exe("A");
        BasicAppRecord r = rule(a);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        p.persistProfile(good);
    }
    std::string whole = testfiles::readFile(good);
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"garbage", "not a profile at all"},
        {"truncated", whole.substr(0, whole.size() / 2)},
        {"one byte", std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir / "profile";
        testfiles::writeFile(path, c.bytes);
        std::string sum = pdctest::md5sum(path);
        Probe p;
        std::string b = exe("B");
        BasicAppRecord r = rule(b);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        p.loadProfile(path);
        EXPECT_TRUE(p.paths().empty());
        ASSERT_TRUE(std::filesystem::exists(path + ".corrupt"));
        EXPECT_EQ(pdctest::md5sum(path + ".corrupt"), sum);
        std::filesystem::remove(path + ".corrupt");
        std::filesystem::remove(b);
    }
}

TEST_F(Pdc, FailedPersistKeepsProfileDirtyAndWritesLater)
{
    std::string sub = dir / "later";
    std::string path = sub + "/profile";
    Probe p;
    std::string a = exe("A");
    BasicAppRecord r = rule(a);
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    EXPECT_FALSE(p.persistProfile(path)); // the folder does not exist yet
    EXPECT_TRUE(p.dirty());
    std::filesystem::create_directory(sub);
    EXPECT_TRUE(p.persistProfile(path));
    EXPECT_FALSE(p.dirty());
    EXPECT_TRUE(p.persistProfile(path)); // nothing to write
    Probe fresh;
    fresh.loadProfile(path);
    EXPECT_EQ(fresh.paths(), Names{a});
}

TEST_F(Pdc, ReadOnlyLoadCreatesMovesAndQueuesNothing)
{
    std::string good = dir / "good";
    std::string a = exe("A", {lib("L")});
    {
        Probe p;
        BasicAppRecord r = rule(a);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        p.drainPendingDeps();
        ASSERT_TRUE(p.persistProfile(good));
    }
    // A stored application without libraries would be queued by a load.
    std::string bare = dir / "bare";
    {
        ApplicationStore apps;
        DependentStore deps;
        DetailedAppRecord r;
        r.setAppPath(a);
        r.setAppGroup(a);
        ASSERT_TRUE(apps.addApp(r));
        std::ofstream out(bare, std::ios::binary);
        writeProfile(out, apps, deps);
    }
    const std::string whole = testfiles::readFile(good);
    struct Case {
        const char* name;
        const char* bytes; ///< nullptr: no file; "dir": a folder
        bool read;
        Names paths;
    } cases[] = {
        {"missing", nullptr, false, {}},
        {"folder", "dir", false, {}},
        {"empty file", "", true, {}},
        {"garbage", "not a profile at all", false, {}},
        {"profile", "good", true, {a}},
        {"without libraries", "bare", true, {a}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "profile";
        std::filesystem::remove_all(path);
        if (c.bytes != nullptr && std::string(c.bytes) == "dir")
            std::filesystem::create_directory(path);
        else if (c.bytes != nullptr && std::string(c.bytes) == "good")
            std::filesystem::copy_file(good, path);
        else if (c.bytes != nullptr && std::string(c.bytes) == "bare")
            std::filesystem::copy_file(bare, path);
        else if (c.bytes != nullptr)
            testfiles::writeFile(path, c.bytes);
        const std::string sum = c.bytes == nullptr ? "" : pdctest::md5sum(path);
        Probe p;
        std::string other = exe("O");
        BasicAppRecord r = rule(other);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        p.drainPendingDeps();
        EXPECT_EQ(p.loadProfileReadOnly(path), c.read);
        EXPECT_EQ(p.paths(), c.paths);
        EXPECT_EQ(std::filesystem::exists(path), c.bytes != nullptr);
        EXPECT_FALSE(std::filesystem::exists(path + ".corrupt"));
        if (c.bytes != nullptr && std::string(c.bytes) != "dir") {
            EXPECT_EQ(pdctest::md5sum(path), sum);
        }
        // Queued, the bare record would gain L from the scanner.
        p.drainPendingDeps();
        if (c.read && !c.paths.empty()) {
            EXPECT_EQ(p.app(a).getDependencies(), std::string(c.bytes) == "good" ? Names{dir / "L"} : Names{});
        }
        std::filesystem::remove(other);
    }
    EXPECT_EQ(testfiles::readFile(good), whole);
}

TEST_F(Pdc, FreshObjectIsDestroyedAtOnce)
{
    auto start = std::chrono::steady_clock::now();
    { Probe p; }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(Pdc, LockOnMissingFileNeitherLocksNorCreates)
{
    std::string path = dir / "profile";
    Probe p;
    EXPECT_FALSE(p.lockProfile(path));
    p.unlockProfile(path);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// ---------------------------------------------------------------------------
// Dependencies reach the file

TEST_F(Pdc, DependenciesReachTheFile)
{
    std::string library = lib("libL.dylib");
    std::string a = exe("B.app/Contents/MacOS/B", {library});
    std::string path = dir / "profile";
    Probe p;
    p.loadProfile(path);
    BasicAppRecord r = rule(dir / "B.app");
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    p.drainPendingDeps();
    p.persistProfile(path);
    std::string text = wardtest::shellOutput("iconv -f UCS-4BE -t UTF-8 " + path);
    std::string want = std::to_string(library.size()) + " " + library + " 32 " + pdctest::md5sum(library) + " 1 1 " +
                       std::to_string(a.size()) + " " + a;
    EXPECT_NE(text.find(want), std::string::npos) << text;
}

TEST_F(Pdc, LoadedApplicationWithoutLibrariesIsQueuedAgain)
{
    std::string library = lib("libL.dylib");
    std::string a = exe("A", {library});
    std::string path = dir / "profile";
    {
        // Written before the worker got to A: no libraries in the file.
        ApplicationStore apps;
        DependentStore deps;
        DetailedAppRecord rec(rule(a));
        rec.setAppPath(a);
        rec.setApplicationHash(HashGenerator::generateHash(a));
        apps.addApp(rec);
        std::ofstream out(path, std::ios::binary);
        writeProfile(out, apps, deps);
    }
    Probe p;
    p.loadProfile(path);
    p.drainPendingDeps();
    EXPECT_EQ(p.app(a).getDependencies(), Names{library});
    EXPECT_EQ(p.users(library), Names{a});
    EXPECT_TRUE(p.dirty());
    p.persistProfile(path);
    Probe fresh;
    fresh.loadProfile(path);
    EXPECT_EQ(fresh.app(a).getDependencies(), Names{library});
    EXPECT_EQ(fresh.users(library), Names{a});
}

TEST_F(Pdc, WorkerSurvivesFailingAndThrowingScansAndUnreadableLibraries)
{
    std::string fifo = dir / "qpipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string l = lib("libL.dylib");
    std::string a = exe("A", {fifo, "/dev/zero", l});
    std::string b = exe("B");
    scanner.setThrowing(b);
    std::string c = exe("C", {l});
    Probe p;
    for (const std::string& g : {a, b, c}) {
        BasicAppRecord r = rule(g);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS) << g;
    }
    p.drainPendingDeps();
    EXPECT_EQ(p.app(a).getDependencies(), (Names{fifo, "/dev/zero", l}));
    EXPECT_EQ(p.users(fifo), Names{"<not stored>"});
    EXPECT_EQ(p.users("/dev/zero"), Names{"<not stored>"});
    EXPECT_TRUE(p.app(b).getDependencies().empty());
    EXPECT_EQ(p.users(l), (Names{a, c}));
}

// ---------------------------------------------------------------------------
// Decisions

TEST_F(Pdc, DecisionTables)
{
    struct Case {
        const char* name;
        bool enabled, modified, exec;
        BasicAppRecord::NetworkAction nw;
        int fallback;
        ProfileDataController::SearchReturnValue launch, network;
    } cases[] = {
        {"disabled and modified", false, true, true, BasicAppRecord::NW_ACTION_ALLOW_ALL, 2,
         ProfileDataController::DISABLED_RULE, ProfileDataController::DISABLED_RULE},
        {"disabled, exec allowed", false, false, true, BasicAppRecord::NW_ACTION_ALLOW_ALL, 2,
         ProfileDataController::DISABLED_RULE, ProfileDataController::DISABLED_RULE},
        {"modified", true, true, true, BasicAppRecord::NW_ACTION_ALLOW_ALL, 2, ProfileDataController::APP_MODIFIED,
         ProfileDataController::APP_MODIFIED},
        {"nw 1, exec false", true, false, false, BasicAppRecord::NW_ACTION_ALLOW_ALL, 2,
         ProfileDataController::APP_DENIED, ProfileDataController::APP_ALLOWED},
        {"nw 2, exec true", true, false, true, BasicAppRecord::NW_ACTION_BLOCK_ALL, 1,
         ProfileDataController::APP_ALLOWED, ProfileDataController::APP_DENIED},
        {"custom, no rules, fallback 1", true, false, true, BasicAppRecord::NW_ACTION_CUSTOM, 1,
         ProfileDataController::APP_ALLOWED, ProfileDataController::APP_ALLOWED},
        {"custom, no rules, fallback 2", true, false, true, BasicAppRecord::NW_ACTION_CUSTOM, 2,
         ProfileDataController::APP_ALLOWED, ProfileDataController::APP_DENIED},
        {"custom, no rules, fallback 7", true, false, true, BasicAppRecord::NW_ACTION_CUSTOM, 7,
         ProfileDataController::APP_ALLOWED, ProfileDataController::APP_DENIED},
        {"unexpected nw value asks the rules", true, false, true, static_cast<BasicAppRecord::NetworkAction>(9), 1,
         ProfileDataController::APP_ALLOWED, ProfileDataController::APP_ALLOWED},
    };
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(0x0a000001);
    peer.sin_port = htons(80);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string a = exe("D" + std::to_string(n++));
        Probe p;
        BasicAppRecord r = rule(a, c.exec, c.nw);
        r.setEnabled(c.enabled);
        r.setAppModified(c.modified);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        p.setCustomNwFallbackAction(static_cast<BasicAppRecord::NetworkAction>(c.fallback));
        BasicAppRecord out;
        EXPECT_EQ(p.allowApplicationLaunch(a, out), c.launch);
        EXPECT_EQ(out.getAppPath(), a);
        EXPECT_EQ(p.allowNetworkAccess(a, peer, OUTGOING_CONNECTION, NW_TCP, out), c.network);
    }
}

TEST_F(Pdc, LowerOrderCustomRuleDecides)
{
    std::string a = exe("A");
    NetworkRule allow, block;
    allow.setOrder(2);
    allow.setAction(ACTION_ALLOW);
    allow.setNWProtocol(NW_TCP_UDP);
    block.setOrder(1);
    block.setAction(ACTION_BLOCK);
    block.setNWProtocol(NW_TCP_UDP);
    for (auto dir : {OUTGOING_CONNECTION}) {
        allow.setDirection(dir);
        block.setDirection(dir);
    }
    BasicAppRecord r = rule(a, true, BasicAppRecord::NW_ACTION_CUSTOM);
    r.setNwRules({allow, block});
    Probe p;
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    p.setCustomNwFallbackAction(BasicAppRecord::NW_ACTION_ALLOW_ALL);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(0x7f000001);
    peer.sin_port = htons(443);
    BasicAppRecord out;
    EXPECT_EQ(p.allowNetworkAccess(a, peer, OUTGOING_CONNECTION, NW_TCP, out), ProfileDataController::APP_DENIED);
}

TEST_F(Pdc, UnknownProgramsAreMatchedByContent)
{
    std::string a = exe("A.app/A");
    Probe p;
    BasicAppRecord r = rule(a, false);
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    std::string copy = dir / "copy";
    std::filesystem::copy_file(a, copy);
    BasicAppRecord out;
    EXPECT_EQ(p.allowApplicationLaunch(copy, out), ProfileDataController::APP_DENIED);
    EXPECT_EQ(out.getAppPath(), a);

    std::string other = dir / "other";
    testfiles::writeFile(other, "unknown content");
    BasicAppRecord untouched;
    untouched.setAppPath("caller's");
    EXPECT_EQ(p.allowApplicationLaunch(other, untouched), ProfileDataController::UNKNOWN_APP);
    EXPECT_EQ(untouched.getAppPath(), "caller's");

    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir / "missing", fifo}) {
        SCOPED_TRACE(path);
        auto start = std::chrono::steady_clock::now();
        try {
            p.allowApplicationLaunch(path, out);
            ADD_FAILURE() << "no exception";
        } catch (const AppProtException& e) {
            EXPECT_EQ(e.getExceptionId(), FILE_NOT_FOUND);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
}

TEST_F(Pdc, DecisionTraceLinesWithATraceFileOpen)
{
    std::string a = exe("A"), b = exe("B"), c = exe("C");
    NetworkRule https;
    https.setOrder(1);
    https.setPortRange("443");
    https.setNWProtocol(NW_TCP_UDP);
    https.setDirection(INCOMING_OUTGOING_CONNECTION);
    BasicAppRecord ra = rule(a, true, BasicAppRecord::NW_ACTION_CUSTOM);
    ra.setNwRules({https});
    BasicAppRecord rb = rule(b, false, BasicAppRecord::NW_ACTION_CUSTOM);
    BasicAppRecord rc = rule(c);
    rc.setEnabled(false);
    Probe p;
    for (BasicAppRecord* r : {&ra, &rb, &rc})
        ASSERT_EQ(p.addAppToProfile(*r), SUCCESS);
    p.drainPendingDeps();
    std::string copy = dir / "copy", other = dir / "other";
    std::filesystem::copy_file(a, copy);
    testfiles::writeFile(other, "unknown content");
    const std::string hashA = pdctest::md5sum(a), hashOther = pdctest::md5sum(other);

    wardtest::TraceCapture trace({{&pdcFlowvalue, 2}, {&appStoreFlowvalue, 3}, {&hashGenFlagvalue, 0}});
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(0x0a010203);
    peer.sin_port = 443;
    auto launch = [&](const std::string& path) {
        BasicAppRecord out;
        return p.allowApplicationLaunch(path, out);
    };
    auto connect = [&](const std::string& path) {
        BasicAppRecord out;
        return p.allowNetworkAccess(path, peer, OUTGOING_CONNECTION, NW_TCP, out);
    };
    const std::string pdc = "ProfileDataController::", store = "ApplicationStore::";
    struct Case {
        const char* name;
        std::function<ProfileDataController::SearchReturnValue()> decide;
        ProfileDataController::SearchReturnValue want;
        std::string lines;
    } cases[] = {
        {"stored, allowed", [&] { return launch(a); }, ProfileDataController::APP_ALLOWED,
         pdc + "allowApplicationLaunch - " + a + "\n" + store + "findAppByName - Acquired Lock\n" + store
             + "findAppByName - " + a + " found True\n" + pdc + "allowApplicationLaunch - returning 1\n"},
        {"stored, denied", [&] { return launch(b); }, ProfileDataController::APP_DENIED,
         pdc + "allowApplicationLaunch - " + b + "\n" + store + "findAppByName - Acquired Lock\n" + store
             + "findAppByName - " + b + " found True\n" + pdc + "allowApplicationLaunch - returning 2\n"},
        {"disabled", [&] { return launch(c); }, ProfileDataController::DISABLED_RULE,
         pdc + "allowApplicationLaunch - " + c + "\n" + store + "findAppByName - Acquired Lock\n" + store
             + "findAppByName - " + c + " found True\n" + pdc + "allowApplicationLaunch - Disabled Rule\n"},
        {"found by content", [&] { return launch(copy); }, ProfileDataController::APP_ALLOWED,
         pdc + "allowApplicationLaunch - " + copy + "\n" + store + "findAppByName - Acquired Lock\n" + store
             + "findAppByName - " + copy + " found False\n" + store + "findAppByHash - Acquired Lock\n" + store
             + "findAppByHash - comparing " + a + "\n" + store + "findAppByHash - " + hashA
             + " found 1 records True\n" + pdc + "allowApplicationLaunch - returning 1\n"},
        {"unknown", [&] { return launch(other); }, ProfileDataController::UNKNOWN_APP,
         pdc + "allowApplicationLaunch - " + other + "\n" + store + "findAppByName - Acquired Lock\n" + store
             + "findAppByName - " + other + " found False\n" + store + "findAppByHash - Acquired Lock\n" + store
             + "findAppByHash - " + hashOther + " found 0 records False\n" + pdc
             + "findRecord - Unknown application. Returning false\n" + pdc
             + "allowApplicationLaunch - record not found. returning UNKNOWN_APP\n"},
        {"custom rule matches", [&] { return connect(a); }, ProfileDataController::APP_ALLOWED,
         pdc + "allowNetworkAccess - " + a + " 10.1.2.3:" + std::to_string(ntohs(443)) + " TCP 103\n" + store
             + "findAppByName - Acquired Lock\n" + store + "findAppByName - " + a + " found True\n" + pdc
             + "allowNetworkAccess - Custom rule matched with action 1\n"},
        {"no custom rule, fallback", [&] { return connect(b); }, ProfileDataController::APP_DENIED,
         pdc + "allowNetworkAccess - " + b + " 10.1.2.3:" + std::to_string(ntohs(443)) + " TCP 103\n" + store
             + "findAppByName - Acquired Lock\n" + store + "findAppByName - " + b + " found True\n" + pdc
             + "allowNetworkAccess - No custom rule matched. Fallback 2\n"},
        {"disabled connection", [&] { return connect(c); }, ProfileDataController::DISABLED_RULE,
         pdc + "allowNetworkAccess - " + c + " 10.1.2.3:" + std::to_string(ntohs(443)) + " TCP 103\n" + store
             + "findAppByName - Acquired Lock\n" + store + "findAppByName - " + c + " found True\n" + pdc
             + "allowNetworkAccess - Disabled Rule\n"},
    };
    trace.take();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(k.decide(), k.want);
        EXPECT_EQ(trace.take(), k.lines);
    }
}

// ---------------------------------------------------------------------------
// Rule edits

TEST_F(Pdc, BundleExpansionStoresFirstOfIdenticalExecutables)
{
    std::string a = exe("B.app/Contents/MacOS/A", {}, "same bytes");
    std::string copy = exe("B.app/Contents/MacOS/A-copy", {}, "same bytes");
    testfiles::writeFile(dir / "B.app/Contents/MacOS/script.sh", "#!/bin/sh\n");
    ASSERT_EQ(mkfifo((dir / "B.app/Contents/MacOS/fifo").c_str(), 0600), 0);
    lib("B.app/Contents/Frameworks/lib.dylib");
    lib("B.app/Contents/PlugIns/plug.bundle");
    Names order;
    for (const std::string& f : DirectoryEnumerator().enumerate(dir / "B.app", false, false))
        if (f == a || f == copy)
            order.push_back(f);
    Probe p;
    BasicAppRecord r = rule(dir / "B.app");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.addAppToProfile(r), SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(p.paths(), Names{order.front()});
}

TEST_F(Pdc, AddResults)
{
    std::string a = exe("G1/A");
    exe("G2/A", {}, "exe G1/A"); // the same executable in another group
    lib("Scripts/run.sh");
    std::string sock = dir / "sock";
    wardtest::shellOutput("python3 -c \"import socket; socket.socket(socket.AF_UNIX).bind('" + sock + "')\"");
    ASSERT_TRUE(std::filesystem::is_socket(sock));
    Probe p;
    BasicAppRecord first = rule(dir / "G1");
    ASSERT_EQ(p.addAppToProfile(first), SUCCESS);

    struct Case {
        const char* name;
        BasicAppRecord rule;
        AppProtError want;
    };
    BasicAppRecord disabled = rule(dir / "G2");
    disabled.setEnabled(false);
    BasicAppRecord custom = rule(dir / "G2", true, BasicAppRecord::NW_ACTION_CUSTOM);
    const Case cases[] = {
        {"same rule again", rule(dir / "G1"), DUPLICATE_ENTRY},
        {"other group, same rule", rule(dir / "G2"), DUPLICATE_ENTRY},
        {"other group, only enabled differs", disabled, DUPLICATE_ENTRY},
        {"other group, exec differs", rule(dir / "G2", false), CONFLICTING_ENTRY},
        {"other group, network differs", rule(dir / "G2", true, BasicAppRecord::NW_ACTION_BLOCK_ALL),
         CONFLICTING_ENTRY},
        {"other group, custom rules differ", custom, CONFLICTING_ENTRY},
        {"scripts only", rule(dir / "Scripts"), NOT_A_VALID_EXECUTABLE},
        {"a script", rule(dir / "Scripts/run.sh"), NOT_A_VALID_EXECUTABLE},
        {"missing group", rule(dir / "missing"), FILE_NOT_FOUND},
        {"a Unix socket", rule(sock), NOT_A_VALID_EXECUTABLE},
        {"a character device", rule("/dev/null"), NOT_A_VALID_EXECUTABLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BasicAppRecord r = c.rule;
        EXPECT_EQ(p.addAppToProfile(r), c.want);
        EXPECT_EQ(p.paths(), Names{a});
    }
}

TEST_F(Pdc, ListingAndBreakdown)
{
    std::string x = exe("A/x"), y = exe("A/y"), z = exe("B/z"), w = exe("A/Sub/w");
    Probe p;
    for (const std::string& g : {dir / "A/Sub", dir / "B"}) {
        BasicAppRecord r = rule(g);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    }
    // A/x and A/y under group A, added one by one so A/Sub/w stays in A/Sub.
    for (const std::string& f : {x, y}) {
        BasicAppRecord r = rule(f);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        ASSERT_TRUE(p.apps().modifyApp(f, [&](DetailedAppRecord& rec) { rec.setAppGroup(dir / "A"); }));
    }
    Names got;
    for (const BasicAppRecord& r : p.getAllProfileRules(true))
        got.push_back(r.getAppPath());
    EXPECT_EQ(got, (Names{x, w, z}));
    EXPECT_EQ(p.getAllProfileRules(false).size(), 4u);

    std::string path = dir / "profile";
    p.persistProfile(path);
    EXPECT_EQ(p.breakdownAppGroupofApp(x), SUCCESS);
    EXPECT_EQ(p.app(x).getAppGroup(), x);
    EXPECT_EQ(p.app(y).getAppGroup(), y);
    EXPECT_TRUE(p.dirty());
    EXPECT_EQ(p.breakdownAppGroupofApp(z), SUCCESS); // one record: unchanged
    EXPECT_EQ(p.app(z).getAppGroup(), dir / "B");
    EXPECT_EQ(p.breakdownAppGroupofApp(dir / "nothing"), SUCCESS);
    p.persistProfile(path);
    Probe fresh;
    fresh.loadProfile(path);
    EXPECT_EQ(fresh.app(y).getAppGroup(), y);
}

TEST_F(Pdc, BreakdownOfThreeGivesThreeGroups)
{
    exe("G/a");
    exe("G/b");
    exe("G/c");
    Probe p;
    BasicAppRecord r = rule(dir / "G");
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    ASSERT_EQ(p.breakdownAppGroupofApp(dir / "G/b"), SUCCESS);
    for (const std::string& path : p.paths())
        EXPECT_EQ(p.app(path).getAppGroup(), path);
    EXPECT_EQ(p.getAllProfileRules(true).size(), 3u);
}

TEST_F(Pdc, MissingGroupDeleteAndUpdateArePersisted)
{
    std::string l = lib("libL.dylib");
    std::string a = exe("G/a", {l}), b = exe("G/b", {l});
    std::string path = dir / "profile";
    Probe p;
    BasicAppRecord r = rule(dir / "G");
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    p.drainPendingDeps();
    p.persistProfile(path);
    std::filesystem::rename(dir / "G", dir / "H");

    BasicAppRecord denied = rule(dir / "G", false);
    EXPECT_EQ(p.updateRuleForApp(denied), SUCCESS);
    EXPECT_TRUE(p.dirty());
    EXPECT_FALSE(p.app(a).getExecAllowed());
    EXPECT_EQ(p.app(a).getDependencies(), Names{l}); // kept on this road
    p.persistProfile(path);
    {
        Probe fresh;
        fresh.loadProfile(path);
        EXPECT_FALSE(fresh.app(b).getExecAllowed());
    }
    EXPECT_EQ(p.deleteAppFromProfile(denied), SUCCESS);
    EXPECT_TRUE(p.paths().empty());
    EXPECT_TRUE(p.users(l).empty()) << "deleted applications still listed";
    p.persistProfile(path);
    Probe fresh;
    fresh.loadProfile(path);
    EXPECT_TRUE(fresh.paths().empty());
}

TEST_F(Pdc, PresentGroupUpdateAndDelete)
{
    std::string l1 = lib("l1"), l2 = lib("l2");
    std::string a = exe("G/a", {l1, l2});
    exe("H/a", {l1}, "exe G/a"); // same content elsewhere
    Probe p;
    BasicAppRecord g = rule(dir / "G");
    ASSERT_EQ(p.addAppToProfile(g), SUCCESS);
    p.drainPendingDeps();
    ASSERT_EQ(p.users(l1), Names{a});
    p.markAppModifiedForDep(a, l1);

    BasicAppRecord deny = rule(dir / "G", false);
    EXPECT_EQ(p.updateRuleForApp(deny), SUCCESS);
    EXPECT_FALSE(p.app(a).getExecAllowed());
    EXPECT_FALSE(p.app(a).getAppModified()); // takes the rule's value
    p.drainPendingDeps();
    EXPECT_EQ(p.app(a).getDependencies(), (Names{l1, l2}));
    EXPECT_EQ(p.users(l1), Names{a});
    pdctest::expectLibraryInvariant(p, {l1, l2});

    // An executable whose new content is not stored.
    testfiles::writeFile(a, "rebuilt");
    try {
        p.updateRuleForApp(deny);
        ADD_FAILURE() << "no exception";
    } catch (const AppProtException& e) {
        EXPECT_EQ(e.getExceptionId(), ENTRY_NOT_FOUND);
    }
    testfiles::writeFile(a, "exe G/a");
    // Deleting by fingerprint also reaches H/a's group... which holds none here.
    BasicAppRecord h = rule(dir / "H");
    EXPECT_EQ(p.deleteAppFromProfile(h), SUCCESS);
    EXPECT_TRUE(p.paths().empty());
    EXPECT_TRUE(p.users(l1).empty());
    EXPECT_TRUE(p.users(l2).empty());
}

TEST_F(Pdc, SyncUpProfile)
{
    exe("A/x");
    exe("B/y");
    Probe p;
    for (const char* g : {"A", "B"}) {
        BasicAppRecord r = rule(dir / g);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    }
    // Unchanged rules: nothing happens.
    std::string path = dir / "profile";
    p.persistProfile(path);
    EXPECT_EQ(p.syncUpProfile({rule(dir / "A"), rule(dir / "B")}), 1);
    EXPECT_FALSE(p.dirty());
    // A changed rule, one gone, one new, one broken.
    exe("C/z");
    EXPECT_EQ(p.syncUpProfile({rule(dir / "A", false), rule(dir / "C"), rule(dir / "missing")}), 1);
    EXPECT_EQ(p.paths(), (Names{dir / "A/x", dir / "C/z"}));
    EXPECT_FALSE(p.app(dir / "A/x").getExecAllowed());
    EXPECT_EQ(p.syncUpProfile({}), 1);
    EXPECT_TRUE(p.paths().empty());
}

// ---------------------------------------------------------------------------
// Change processing

TEST_F(Pdc, ChangeNotices)
{
    std::string l = lib("libL"), x = lib("libX");
    std::string p1 = exe("P1", {l, x}), p2 = exe("P2", {l});
    Probe p;
    for (const std::string& g : {p1, p2}) {
        BasicAppRecord r = rule(g);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    }
    p.drainPendingDeps();
    std::string path = dir / "profile";
    p.persistProfile(path);

    p.processFileChange(dir / "unknown");
    EXPECT_FALSE(p.dirty());
    p.processFileChange(p1); // content unchanged
    EXPECT_FALSE(p.dirty());

    testfiles::writeFile(l, "new library build");
    p.processFileChange(l);
    EXPECT_TRUE(p.dirty());
    for (const std::string& a : {p1, p2}) {
        EXPECT_TRUE(p.app(a).getAppModified());
        EXPECT_EQ(p.app(a).getChangedDeps(), Names{l});
    }
    DependentRecord rec;
    ASSERT_TRUE(p.deps().findByName(l, rec));
    EXPECT_EQ(rec.getFileHash(), pdctest::md5sum(l));
    p.persistProfile(path);
    p.processFileChange(l);
    EXPECT_FALSE(p.dirty());
    EXPECT_EQ(p.app(p1).getChangedDeps(), Names{l});

    testfiles::writeFile(p2, "new P2 build");
    p.processFileChange(p2);
    EXPECT_TRUE(p.dirty());
    EXPECT_EQ(p.app(p2).getApplicationHash(), pdctest::md5sum(p2));
    BasicAppRecord out;
    EXPECT_EQ(p.allowApplicationLaunch(p2, out), ProfileDataController::APP_MODIFIED);

    std::filesystem::remove(p1);
    try {
        p.processFileChange(p1);
        ADD_FAILURE() << "no exception";
    } catch (const AppProtException& e) {
        EXPECT_EQ(e.getExceptionId(), FILE_NOT_FOUND);
    }
}

TEST_F(Pdc, ValidationThenNoticeListsLibraryOnce)
{
    std::string l = lib("libL");
    std::string a = exe("A", {l});
    std::string path = dir / "profile";
    {
        Probe p;
        BasicAppRecord r = rule(a);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
        p.drainPendingDeps();
        p.persistProfile(path);
    }
    testfiles::writeFile(l, "changed");
    Probe p;
    p.loadProfile(path);
    p.drainPendingDeps();
    p.validateProfileHashes();
    ASSERT_TRUE(pdctest::eventually([&] { return p.app(a).getAppModified(); }));
    p.loadProfileIfPresent(dir / "none"); // joins the validation thread
    EXPECT_FALSE(p.dirty());
    p.processFileChange(l);
    EXPECT_EQ(p.app(a).getChangedDeps(), Names{l});
}

TEST_F(Pdc, RelinkingMovesTheApplicationBetweenLibraries)
{
    std::string x = lib("X"), y = lib("Y"), z = lib("Z");
    std::string a = exe("A", {x, y}), b = exe("B", {x});
    Probe p;
    for (const std::string& g : {a, b}) {
        BasicAppRecord r = rule(g);
        ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    }
    p.drainPendingDeps();

    testfiles::writeFile(a, "A relinked");
    scanner.setLibraries(a, {x, z});
    p.processFileChange(a);
    EXPECT_EQ(p.app(a).getDependencies(), (Names{x, z}));
    EXPECT_TRUE(p.users(y).empty());
    EXPECT_EQ(p.users(z), Names{a});

    testfiles::writeFile(b, "B relinked");
    scanner.setLibraries(b, {x, z});
    p.processFileChange(b);
    EXPECT_EQ(p.app(b).getDependencies(), (Names{x, z}));
    EXPECT_EQ(p.users(z), (Names{a, b}));
    pdctest::expectLibraryInvariant(p, {x, y, z});
}

TEST_F(Pdc, LibraryInvariantAfterRandomEdits)
{
    Names libs;
    for (int i = 0; i < 5; ++i)
        libs.push_back(lib("lib" + std::to_string(i)));
    std::mt19937 rng(7);
    auto someLibs = [&] {
        Names out;
        for (const std::string& l : libs)
            if (rng() % 2)
                out.push_back(l);
        return out;
    };
    Names groups;
    for (int i = 0; i < 4; ++i) {
        exe("G" + std::to_string(i) + "/a", someLibs());
        exe("G" + std::to_string(i) + "/b", someLibs());
        groups.push_back(dir / ("G" + std::to_string(i)));
    }
    Probe p;
    for (int step = 0; step < 60; ++step) {
        SCOPED_TRACE(step);
        const std::string& g = groups[rng() % groups.size()];
        BasicAppRecord r = rule(g, rng() % 2);
        try {
            switch (rng() % 7) {
            case 0:
            case 1: p.addAppToProfile(r); break;
            case 2: p.updateRuleForApp(r); break;
            case 3: p.deleteAppFromProfile(r); break;
            case 4: p.breakdownAppGroupofApp(g + "/a"); break;
            case 5: {
                // Relink an executable of the group, or rebuild a library.
                if (rng() % 3 == 0) {
                    const std::string& l = libs[rng() % libs.size()];
                    testfiles::writeFile(l, "build " + std::to_string(step) + l);
                    p.processFileChange(l);
                    break;
                }
                std::string e = g + (rng() % 2 ? "/a" : "/b");
                testfiles::writeFile(e, "build " + std::to_string(step) + e);
                scanner.setLibraries(e, someLibs());
                p.processFileChange(e);
                break;
            }
            case 6: {
                // A group vanishes for a missing-group road, then returns.
                std::filesystem::rename(g, g + ".away");
                if (rng() % 2)
                    p.deleteAppFromProfile(r);
                else
                    p.updateRuleForApp(r);
                std::filesystem::rename(g + ".away", g);
                break;
            }
            }
        } catch (const AppProtException&) {
        }
        if (step % 10 == 9) {
            p.drainPendingDeps();
            pdctest::expectLibraryInvariant(p, libs);
        }
    }
    p.drainPendingDeps();
    pdctest::expectLibraryInvariant(p, libs);
}

} // namespace

namespace {

// The real scanner on a clang/lld bundle.
class PdcReal : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string d = dir.path();
        pdctest::MachO m(d);
        std::string x = m.object("x", "int x(void){return 1;}\n");
        std::string a = m.object("a", "int main(void){return 0;}\n");
        m.dylib(d + "/libX.dylib", d + "/libX.dylib", x);
        const std::string macos = d + "/B.app/Contents/MacOS";
        std::filesystem::create_directories(macos);
        m.executable(macos + "/A", a + " " + d + "/libX.dylib");
        std::filesystem::copy_file(macos + "/A", macos + "/A-copy");
        testfiles::writeFile(macos + "/script.sh", "#!/bin/sh\n");
        ASSERT_EQ(mkfifo((macos + "/fifo").c_str(), 0600), 0);
        std::filesystem::copy_file(d + "/libX.dylib", macos + "/libcopy.dylib");
        m.bundle(macos + "/plug.bundle", a);
        std::filesystem::copy_file(x, macos + "/x.o");
    }
    testfiles::TempDir dir;
};

TEST_F(PdcReal, BundleGivesOneRecordWhoseLibraryReachesTheFile)
{
    const std::string d = dir.path();
    const std::string path = d + "/profile";
    std::string first;
    for (const std::string& f : DirectoryEnumerator().enumerate(d + "/B.app", false, false))
        if (first.empty() && (f.size() > 2 && (f.substr(f.size() - 2) == "/A" || f.substr(f.size() - 7) == "/A-copy")))
            first = f;
    Probe p;
    p.loadProfile(path);
    BasicAppRecord r = rule(d + "/B.app");
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(p.addAppToProfile(r), SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(p.paths(), Names{first});
    p.drainPendingDeps();
    p.persistProfile(path);
    const std::string library = d + "/libX.dylib";
    std::string text = wardtest::shellOutput("iconv -f UCS-4BE -t UTF-8 " + path);
    std::string want = std::to_string(library.size()) + " " + library + " 32 " + pdctest::md5sum(library) + " 1 1 " +
                       std::to_string(first.size()) + " " + first;
    EXPECT_NE(text.find(want), std::string::npos) << text;
}

} // namespace
