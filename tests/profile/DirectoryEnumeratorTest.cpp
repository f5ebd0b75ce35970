// Directory enumeration: flags, links, missing and unreadable folders.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DirectoryEnumerator.h"
#include "TestFiles.h"

using testfiles::TempDir;
using Paths = std::vector<std::string>;

namespace {

/// f, d/g, d/e/h, d/link -> ../x (folder), d/broken -> nowhere, x/y.
class Tree : public ::testing::Test {
protected:
    void SetUp() override
    {
        mkdir((dir / "d").c_str(), 0755);
        mkdir((dir / "d/e").c_str(), 0755);
        mkdir((dir / "x").c_str(), 0755);
        testfiles::writeFile(dir / "f", "f");
        testfiles::writeFile(dir / "d/g", "g");
        testfiles::writeFile(dir / "d/e/h", "h");
        testfiles::writeFile(dir / "x/y", "y");
        ASSERT_EQ(symlink("../x", (dir / "d/link").c_str()), 0);
        ASSERT_EQ(symlink("nowhere", (dir / "d/broken").c_str()), 0);
    }
    Paths sorted(Paths p)
    {
        std::sort(p.begin(), p.end());
        return p;
    }
    Paths abs(std::initializer_list<const char*> names)
    {
        Paths p;
        for (const char* n : names)
            p.push_back(dir / n);
        return sorted(p);
    }
    TempDir dir;
};

TEST_F(Tree, Flags)
{
    struct Case {
        bool includeDirs;
        bool dirsOnly;
        Paths want;
    } cases[] = {
        {false, false, abs({"f", "d/g", "d/e/h", "x/y"})},
        {true, false, abs({"f", "d", "d/g", "d/e", "d/e/h", "d/link", "x", "x/y"})},
        {true, true, abs({"d", "d/e", "d/link", "x"})},
        {false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.includeDirs) + std::to_string(c.dirsOnly));
        Paths got = DirectoryEnumerator().enumerate(dir.path(), c.includeDirs, c.dirsOnly);
        EXPECT_EQ(sorted(got), c.want);
    }
}

TEST_F(Tree, DirectoryComesBeforeItsContents)
{
    Paths got = DirectoryEnumerator().enumerate(dir.path(), true, false);
    auto pos = [&](const std::string& p) { return std::find(got.begin(), got.end(), p) - got.begin(); };
    EXPECT_LT(pos(dir / "d"), pos(dir / "d/g"));
    EXPECT_LT(pos(dir / "d/e"), pos(dir / "d/e/h"));
    EXPECT_LT(pos(dir / "d"), pos(dir / "d/e"));
}

TEST_F(Tree, MissingOrLinkedDirectoryGivesNothing)
{
    ASSERT_EQ(symlink(dir.path().c_str(), (dir / "selflink").c_str()), 0);
    ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "deadlink").c_str()), 0);
    for (const std::string& p : {dir / "missing", dir / "selflink", dir / "deadlink"}) {
        SCOPED_TRACE(p);
        EXPECT_TRUE(DirectoryEnumerator().enumerate(p, true, false).empty());
    }
}

TEST_F(Tree, RelativeNameGivesCompletePaths)
{
    std::string cwd = std::filesystem::current_path();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    Paths got = DirectoryEnumerator().enumerate("d/e", false, false);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_EQ(got, Paths{dir / "d/e/h"});
}

TEST_F(Tree, RegularFileThrows)
{
    EXPECT_THROW(DirectoryEnumerator().enumerate(dir / "f", true, false), std::filesystem::filesystem_error);
}

TEST_F(Tree, UnreadableFolders)
{
    chmod((dir / "d/e").c_str(), 0);
    // Below the given folder: listed, not entered, the rest still listed.
    EXPECT_TRUE(testfiles::asNobody([&] {
        Paths got = DirectoryEnumerator().enumerate(dir.path(), true, false);
        std::sort(got.begin(), got.end());
        return got == abs({"f", "d", "d/g", "d/e", "d/link", "x", "x/y"});
    }));
    // The given folder itself: the error reaches the caller.
    EXPECT_TRUE(testfiles::asNobody([&] {
        try {
            DirectoryEnumerator().enumerate(dir / "d/e", true, false);
        } catch (const std::filesystem::filesystem_error&) {
            return true;
        }
        return false;
    }));
}

} // namespace
