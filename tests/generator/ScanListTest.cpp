// The scan of a folder for bundles, and the list's edits.
#include <algorithm>
#include <filesystem>
#include <functional>

#include "GeneratorTestSupport.h"

using namespace gentest;
using testfiles::TempDir;

namespace {

const Names kTreeBundles = {kA, kB, "/Applications/Empty.app", "/Applications/Link.app"};

/// The scan's groups: A.app before B.app, the rest as a set.
void expectTreeScan(const std::list<BasicAppRecord>& got, const std::string& root, const std::string& as)
{
    Names want;
    for (const std::string& g : kTreeBundles)
        want.push_back(root + g.substr(as.size()));
    Names have = groups(got);
    const auto a = std::find(have.begin(), have.end(), want[0]);
    const auto b = std::find(have.begin(), have.end(), want[1]);
    EXPECT_TRUE(a != have.end() && b != have.end() && a < b) << "A.app before B.app";
    std::sort(have.begin(), have.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(have, want);
    for (const BasicAppRecord& r : got) {
        // Candidates carry a new record's defaults.
        EXPECT_EQ(r.getAppPath(), "");
        EXPECT_EQ(r.getApplicationHash(), "");
        EXPECT_FALSE(r.getExecAllowed());
        EXPECT_TRUE(r.getEnabled());
        EXPECT_EQ(r.getNwAction(), BasicAppRecord::NW_ACTION_ALLOW_ALL);
    }
}

TEST(GeneratorScan, TheTreeGivesItsFourBundlesOnly)
{
    GEN_NEEDS_TREE();
    TempDir copy;
    ASSERT_EQ(std::system(("cp -a /Applications/. '" + copy.path() + "'").c_str()), 0);
    struct Case {
        const char* name;
        std::function<bool(ProfileGenerator&)> scan;
        std::string root;
    } cases[] = {
        {"installed", [](ProfileGenerator& g) { return g.loadInstalledApplications(); }, "/Applications"},
        {"folder /Applications", [](ProfileGenerator& g) { return g.loadAppsFromFolder("/Applications"); },
         "/Applications"},
        {"a copy elsewhere", [&](ProfileGenerator& g) { return g.loadAppsFromFolder(copy.path()); }, copy.path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileGenerator g;
        ASSERT_TRUE(c.scan(g));
        // getAppList sorts the member list; the scan's own order shows in
        // a copy taken before.
        std::list<BasicAppRecord> sorted = g.getAppList(false);
        expectTreeScan(sorted, c.root, "/Applications");
    }
}

TEST(GeneratorScan, OnlyNamesEndingInDotAppAfterACharacter)
{
    TempDir dir;
    for (const char* d : {"Snapp", "app", ".app", "X.APP", "a.app.old", "y.app", "dir.app/Contents/in.app",
                          "plain/deep.app"})
        std::filesystem::create_directories(dir / d);
    testfiles::writeFile(dir / "file.app", "not a folder");
    ProfileGenerator g;
    ASSERT_TRUE(g.loadAppsFromFolder(dir.path()));
    Names got = groups(g.getAppList(false));
    EXPECT_EQ(got, (Names{dir / "dir.app", dir / "dir.app/Contents/in.app", dir / "plain/deep.app", dir / "y.app"}));
}

TEST(GeneratorScan, MissingFolderAddsNothingRegularFileThrows)
{
    TempDir dir;
    testfiles::writeFile(dir / "file", "x");
    std::filesystem::create_directories(dir / "z.app");
    ProfileGenerator g;
    BasicAppRecord kept = record("/kept");
    g.addAppToList(kept);
    EXPECT_TRUE(g.loadAppsFromFolder(dir / "missing"));
    EXPECT_THROW(g.loadAppsFromFolder(dir / "file"), std::filesystem::filesystem_error);
    EXPECT_EQ(groups(g.getAppList(false)), Names{"/kept"});
}

// ---------------------------------------------------------------- list edits

TEST(GeneratorList, OnePerGroupKeepsFirstAndSortsMemberListStably)
{
    ProfileGenerator g;
    for (auto [group, path] : {std::pair{"/X", "x1"}, {"/A", "a"}, {"/X", "x2"}}) {
        BasicAppRecord r = record(group, path);
        EXPECT_TRUE(g.addAppToList(r));
    }
    std::list<BasicAppRecord> one = g.getAppList(true);
    EXPECT_EQ(groups(one), (Names{"/A", "/X"}));
    EXPECT_EQ(paths(one), (Names{"a", "x1"}));
    std::list<BasicAppRecord> all = g.getAppList(false);
    EXPECT_EQ(paths(all), (Names{"a", "x1", "x2"}));
}

TEST(GeneratorList, DeleteAndUpdate)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> list; ///< group, path
        bool update;                                         ///< else delete
        std::pair<std::string, std::string> arg;
        Names want; ///< "group:path", sorted by group
    } cases[] = {
        {"delete every record of the group", {{"/A", "1"}, {"/A", "2"}, {"/B", "3"}}, false, {"/A", ""}, {"/B:3"}},
        {"delete a group not there", {{"/A", "1"}, {"/B", "2"}}, false, {"/Z", ""}, {"/A:1", "/B:2"}},
        {"delete apart", {{"/A", "1"}, {"/B", "2"}, {"/A", "3"}}, false, {"/A", ""}, {"/B:2"}},
        {"update replaces by one copy", {{"/A", "1"}, {"/B", "2"}, {"/A", "3"}}, true, {"/A", "new"},
         {"/A:new", "/B:2"}},
        {"update of a group not there adds", {{"/A", "1"}}, true, {"/C", "c"}, {"/A:1", "/C:c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProfileGenerator g;
        for (const auto& [group, path] : c.list) {
            BasicAppRecord r = record(group, path);
            g.addAppToList(r);
        }
        BasicAppRecord arg = record(c.arg.first, c.arg.second);
        EXPECT_TRUE(c.update ? g.updateAppInList(arg) : g.deleteAppFromList(arg));
        Names got;
        for (const BasicAppRecord& r : g.getAppList(false))
            got.push_back(r.getAppGroup() + ":" + r.getAppPath());
        EXPECT_EQ(got, c.want);
    }
}

} // namespace
