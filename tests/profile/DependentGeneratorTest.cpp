// Dependency discovery over a scripted scanner and over the real one with
// clang/lld Mach-O files.
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "DependentGenerator.h"
#include "PdcSupport.h"
#include "ScriptedScanner.h"

using AppProtection::DependentGenerator;
using Names = std::vector<std::string>;

namespace {

struct WalkCase {
    const char* name;
    std::vector<std::pair<std::string, Names>> script; // path -> names the scanner gives
    std::vector<std::string> failing;
    std::string executable;
    Names want;
};

TEST(DependentGeneratorScripted, WalksTable)
{
    const WalkCase cases[] = {
        {"cycle: X and Y load each other, X first",
         {{"/d/exe", {"/d/libX.dylib"}},
          {"/d/libX.dylib", {"/d/libX.dylib", "/d/libY.dylib"}},
          {"/d/libY.dylib", {"/d/libY.dylib", "/d/libX.dylib"}}},
         {},
         "/d/exe",
         {"/d/libX.dylib", "/d/libY.dylib"}},
        {"@executable_path resolves against the executable's folder, also inside libraries",
         {{"/a/A.app/Contents/MacOS/A", {"@executable_path/../Frameworks/libF.dylib"}},
          {"/a/A.app/Contents/MacOS/../Frameworks/libF.dylib",
           {"@executable_path/../Frameworks/libF.dylib", "@executable_path/../Frameworks/libG.dylib"}}},
         {},
         "/a/A.app/Contents/MacOS/A",
         {"/a/A.app/Contents/MacOS/../Frameworks/libF.dylib", "/a/A.app/Contents/MacOS/../Frameworks/libG.dylib"}},
        {"only the first @executable_path is replaced",
         {{"/e/x", {"@executable_path/@executable_path/l"}}},
         {},
         "/e/x",
         {"/e/@executable_path/l"}},
        {"a path without a slash resolves to '.'",
         {{"A", {"@executable_path/../Frameworks/libF.dylib"}}},
         {},
         "A",
         {"./../Frameworks/libF.dylib"}},
        {"a file in the root resolves to '/'",
         {{"/A", {"@executable_path/l"}}},
         {},
         "/A",
         {"//l"}},
        {"trailing slashes are ignored",
         {{"/p/q/", {"@executable_path/l"}}},
         {},
         "/p/q/",
         {"/p/l"}},
        {"other @ prefixes are listed unchanged",
         {{"/r/x", {"@rpath/libZ.dylib", "@loader_path/libW.dylib"}}},
         {"@rpath/libZ.dylib", "@loader_path/libW.dylib"},
         "/r/x",
         {"@rpath/libZ.dylib", "@loader_path/libW.dylib"}},
        {"an unreadable library is listed without its own",
         {{"/u/x", {"/u/l1", "/u/l2"}}, {"/u/l2", {"/u/l3"}}},
         {"/u/l1"},
         "/u/x",
         {"/u/l1", "/u/l2", "/u/l3"}},
        {"an unreadable executable gives nothing", {}, {"/v/x"}, "/v/x", {}},
        {"depth first: a library's own libraries come before its sibling",
         {{"/w/x", {"/w/a", "/w/b"}}, {"/w/a", {"/w/c"}}, {"/w/b", {"/w/a"}}},
         {},
         "/w/x",
         {"/w/a", "/w/c", "/w/b"}},
    };
    for (const WalkCase& c : cases) {
        SCOPED_TRACE(c.name);
        testscan::ScriptedScanner scanner;
        for (const auto& entry : c.script)
            scanner.setLibraries(entry.first, entry.second);
        for (const auto& f : c.failing)
            scanner.setFailing(f);
        EXPECT_EQ(DependentGenerator::getInstance()->generateDependancies(c.executable), c.want);
    }
}

TEST(DependentGeneratorScripted, ExecutableTestAndThrowingScanner)
{
    testscan::ScriptedScanner scanner;
    scanner.setExecutable("/x/exe");
    DependentGenerator* g = DependentGenerator::getInstance();
    EXPECT_TRUE(g->isFileMachOExecutable("/x/exe"));
    EXPECT_FALSE(g->isFileMachOExecutable("/x/other"));
    // A failure thrown out of the scanner releases the generator's lock.
    scanner.setLibraries("/x/exe", {"/x/lib"});
    scanner.setThrowing("/x/lib");
    EXPECT_THROW(g->generateDependancies("/x/exe"), std::runtime_error);
    EXPECT_EQ(g->generateDependancies("/x/lib2"), Names{});
}

TEST(DependentGeneratorScripted, ParallelDiscoveryGivesEachItsOwnList)
{
    testscan::ScriptedScanner scanner;
    scanner.setLibraries("/d/exe", {"/d/libX.dylib"});
    scanner.setLibraries("/d/exe2", {"/d/libY.dylib"});
    scanner.setLibraries("/d/libX.dylib", {"/d/libX.dylib", "/d/libY.dylib"});
    scanner.setLibraries("/d/libY.dylib", {"/d/libY.dylib", "/d/libX.dylib"});
    scanner.setDelay(std::chrono::milliseconds(1));
    std::atomic<int> wrong{0};
    auto ask = [&](const std::string& exe, const Names& want) {
        for (int i = 0; i < 40; ++i)
            if (DependentGenerator::getInstance()->generateDependancies(exe) != want)
                ++wrong;
    };
    std::thread a(ask, "/d/exe", Names{"/d/libX.dylib", "/d/libY.dylib"});
    std::thread b(ask, "/d/exe2", Names{"/d/libY.dylib", "/d/libX.dylib"});
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(scanner.overlaps(), 0) << "two threads were inside the scanner at once";
}

TEST(DependentGeneratorScripted, SixteenThreadsGetOneInstance)
{
    DependentGenerator::releaseInstance();
    std::vector<DependentGenerator*> seen(16);
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&seen, i] { seen[i] = DependentGenerator::getInstance(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(std::set<DependentGenerator*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(seen[0], DependentGenerator::getInstance());
}

// ---------------------------------------------------------------------------
// The real scanner on clang/lld files.

// The fixtures are made once for the suite (each clang and ld64.lld run
// costs); no test changes them.
class DependentGeneratorReal : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new testfiles::TempDir;
        const std::string d = s_dir->path();
        pdctest::MachO m(d);
        std::string x = m.object("x", "int x(void){return 1;}\n");
        std::string y = m.object("y", "int y(void){return 2;}\n");
        std::string a = m.object("a", "int main(void){return 0;}\n");
        m.dylib(d + "/libX.dylib", d + "/libX.dylib", x);
        m.dylib(d + "/libY.dylib", d + "/libY.dylib", y + " " + d + "/libX.dylib");
        m.dylib(d + "/libX.dylib", d + "/libX.dylib", x + " " + d + "/libY.dylib");
        m.executable(d + "/exe", a + " " + d + "/libX.dylib");
        m.executable(d + "/exe2", a + " " + d + "/libY.dylib");
        const std::string macos = d + "/A.app/Contents/MacOS", fw = d + "/A.app/Contents/Frameworks";
        pdctest::MachO::sh("mkdir -p " + macos + " " + fw);
        m.dylib(fw + "/libG.dylib", "@executable_path/../Frameworks/libG.dylib", y);
        m.dylib(fw + "/libF.dylib", "@executable_path/../Frameworks/libF.dylib", x + " " + fw + "/libG.dylib");
        m.executable(macos + "/A", a + " " + fw + "/libF.dylib");
        m.dylib(d + "/libP.dylib", d + "/qpipe", x);
        m.dylib(d + "/libZ.dylib", "/dev/zero", y);
        m.executable(d + "/trap", a + " " + d + "/libP.dylib " + d + "/libZ.dylib");
        pdctest::MachO::sh("mkfifo " + d + "/qpipe");
        m.bundle(d + "/b.bundle", a);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    static testfiles::TempDir* s_dir;
    const testfiles::TempDir& dir = *s_dir;
};

testfiles::TempDir* DependentGeneratorReal::s_dir = nullptr;

TEST_F(DependentGeneratorReal, DiscoversCyclesFrameworksAndTraps)
{
    const std::string d = dir.path();
    const std::string fw = d + "/A.app/Contents/MacOS/../Frameworks";
    struct Case {
        std::string exe;
        Names want;
    } cases[] = {
        {d + "/exe", {d + "/libX.dylib", d + "/libY.dylib"}},
        {d + "/exe2", {d + "/libY.dylib", d + "/libX.dylib"}},
        {d + "/A.app/Contents/MacOS/A", {fw + "/libF.dylib", fw + "/libG.dylib"}},
        {d + "/trap", {d + "/qpipe", "/dev/zero"}},
    };
    DependentGenerator* g = DependentGenerator::getInstance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exe);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(g->generateDependancies(c.exe), c.want);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    // The oracle: the first name llvm-objdump lists for exe is libX.
    EXPECT_NE(wardtest::shellOutput("llvm-objdump --macho --dylibs-used " + d + "/exe").find(d + "/libX.dylib"),
              std::string::npos);
}

TEST_F(DependentGeneratorReal, RelativeExecutableGivesDotNames)
{
    const std::string macos = dir.path() + "/A.app/Contents/MacOS";
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(macos.c_str()), 0);
    Names got = DependentGenerator::getInstance()->generateDependancies("A");
    ASSERT_EQ(chdir(here), 0);
    EXPECT_EQ(got, (Names{"./../Frameworks/libF.dylib", "./../Frameworks/libG.dylib"}));
}

TEST_F(DependentGeneratorReal, ExecutableTest)
{
    const std::string d = dir.path();
    struct Case {
        std::string path;
        bool want;
    } cases[] = {
        {d + "/exe", true},       {d + "/exe2", true},       {d + "/A.app/Contents/MacOS/A", true},
        {"/bin/ls", false},       {d + "/libX.dylib", false}, {d + "/b.bundle", false},
        {d + "/a.o", false},      {d + "/qpipe", false},     {d + "/missing", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DependentGenerator::getInstance()->isFileMachOExecutable(c.path), c.want);
    }
}

TEST_F(DependentGeneratorReal, ParallelDiscovery)
{
    const std::string d = dir.path();
    std::atomic<int> wrong{0};
    auto ask = [&](const std::string& exe, const Names& want) {
        for (int i = 0; i < 25; ++i)
            if (DependentGenerator::getInstance()->generateDependancies(exe) != want)
                ++wrong;
    };
    std::thread a(ask, d + "/exe", Names{d + "/libX.dylib", d + "/libY.dylib"});
    std::thread b(ask, d + "/exe2", Names{d + "/libY.dylib", d + "/libX.dylib"});
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
