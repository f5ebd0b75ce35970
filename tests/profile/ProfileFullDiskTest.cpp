// A persist onto a full file system: run through tests/ns-run.sh, which gives
// a private mount namespace where a 16 KiB tmpfs can be mounted.
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>
#include <sys/mount.h>

#include "PdcSupport.h"
#include "ProfileFile.h"

using namespace AppProtection;
using pdctest::Probe;

namespace {

void addRecord(Probe& p, int i)
{
    DetailedAppRecord r;
    r.setAppPath("/x/app" + std::to_string(i));
    r.setAppGroup("/x");
    r.setApplicationHash(std::string(32, 'c'));
    p.apps().addApp(r);
}

size_t profileSize(Probe& p)
{
    std::ostringstream out(std::ios::binary);
    writeProfile(out, p.apps(), p.deps());
    return out.str().size();
}

TEST(PdcFullDisk, FailedPersistLeavesOldFileAndNoTemporary)
{
    const std::string mnt = "/usr/local/Vantrel/full";
    if (getenv("WARD_NS_INSIDE") == nullptr)
        GTEST_SKIP() << "needs tests/ns-run.sh";
    std::filesystem::create_directories(mnt);
    ASSERT_EQ(mount("ward-full", mnt.c_str(), "tmpfs", 0, "size=16k,mode=0755"), 0) << std::strerror(errno);
    const std::string path = mnt + "/profile";
    {
        Probe p;
        p.loadProfile(path);
        addRecord(p, 0);
        p.setDirty(true);
        p.persistProfile(path);
        ASSERT_FALSE(p.dirty());
        ASSERT_LT(profileSize(p), 4096u);
        const std::string old = testfiles::readFile(path);

        // Two of the four pages taken by a filler; the new profile needs two.
        for (int i = 1; profileSize(p) < 4096 + 1024; ++i)
            addRecord(p, i);
        ASSERT_LT(profileSize(p), 8192u);
        testfiles::writeFile(mnt + "/filler", std::string(8192, 'f'));
        p.setDirty(true);
        p.persistProfile(path);
        EXPECT_TRUE(p.dirty());
        EXPECT_EQ(testfiles::readFile(path), old);
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(mnt))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"filler", "profile"}));

        std::filesystem::remove(mnt + "/filler");
        p.persistProfile(path); // no new change
        EXPECT_FALSE(p.dirty());
    }
    Probe fresh;
    fresh.loadProfile(path);
    EXPECT_GT(fresh.paths().size(), 1u);
    umount2(mnt.c_str(), MNT_DETACH);
}

} // namespace
