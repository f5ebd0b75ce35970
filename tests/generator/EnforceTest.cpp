// The temporary profile: its bytes at the configured path, its mode, the
// sync flag, and what a failure leaves. Runs in tests/ns-run.sh (the
// preferences store and the default paths under /usr/local/Vantrel).
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sys/mount.h>
#include <sys/stat.h>

#include "ConfigController.h"
#include "GeneratorTestSupport.h"

using namespace gentest;
using testfiles::TempDir;

namespace {

/// `dir` read-only for root too, while the object lives.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(std::string dir) : dir_(std::move(dir))
    {
        ok_ = ::mount(dir_.c_str(), dir_.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
              ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyMount() { ::umount2(dir_.c_str(), MNT_DETACH); }
    bool ok() const { return ok_; }

private:
    std::string dir_;
    bool ok_ = false;
};

class GeneratorEnforce : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::getenv("WARD_NS_INSIDE") == nullptr)
            GTEST_SKIP() << "needs tests/ns-run.sh";
        std::filesystem::create_directories(kVar);
        std::filesystem::remove(kTempProfile);
        prefsSet("ProfileSyncNeeded", "-bool false");
        prefsSet("TempProfilePath", "-string " + kTempProfile);
    }
    void TearDown() override { AppProtection::ConfigController::releaseInstance(); }

    /// Names in `dir`, sorted.
    static Names entries(const std::string& dir)
    {
        Names out;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(GeneratorEnforce, WritesTheListAndSetsTheFlag)
{
    struct Case {
        const char* name;
        Names groups;
        const char* md5;
    } cases[] = {
        {"empty", {}, "9da33e882f524ccd031f3776a0f7116c"},
        {"one scanned record", {"/Applications/A.app"}, "5d356665936cb833ee1b35615c64c831"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefsSet("ProfileSyncNeeded", "-bool false");
        ProfileGenerator g;
        for (const std::string& group : c.groups) {
            BasicAppRecord r = record(group);
            g.addAppToList(r);
        }
        const mode_t old = ::umask(077);
        const bool done = g.enforceAppList();
        ::umask(old);
        EXPECT_TRUE(done);
        EXPECT_EQ(md5sum(kTempProfile), c.md5);
        EXPECT_EQ(statLine(kTempProfile).substr(0, 4), "660 ");
        EXPECT_EQ(prefsGet("ProfileSyncNeeded"), "true\n");
        EXPECT_EQ(entries(kVar), Names{"tempProfile.data"});
    }
}

TEST_F(GeneratorEnforce, UnwritableFolderLeavesFlagAndOldFile)
{
    TempDir dir;
    std::filesystem::create_directories(dir / "ro");
    const std::string earlier = dir / "ro/temp.data";
    testfiles::writeFile(earlier, "earlier");
    ReadOnlyMount ro(dir / "ro");
    ASSERT_TRUE(ro.ok()) << std::strerror(errno);
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing folder", dir / "missing/temp.data"},
        {"read-only folder", earlier},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefsSet("TempProfilePath", "-string " + c.path);
        ProfileGenerator g;
        BasicAppRecord r = record("/Applications/A.app");
        g.addAppToList(r);
        EXPECT_FALSE(g.enforceAppList());
        EXPECT_EQ(prefsGet("ProfileSyncNeeded"), "false\n");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    EXPECT_EQ(entries(dir / "ro"), Names{"temp.data"});
    EXPECT_EQ(testfiles::readFile(earlier), "earlier");
}

TEST_F(GeneratorEnforce, RefusedFlagIsAFailureAfterTheFile)
{
    const std::string prefs = "/usr/local/Vantrel/preferences";
    ASSERT_TRUE(std::filesystem::is_directory(prefs));
    {
        ReadOnlyMount ro(prefs);
        ASSERT_TRUE(ro.ok()) << std::strerror(errno);
        ProfileGenerator g;
        EXPECT_FALSE(g.enforceAppList());
        EXPECT_EQ(md5sum(kTempProfile), "9da33e882f524ccd031f3776a0f7116c");
    }
    EXPECT_EQ(prefsGet("ProfileSyncNeeded"), "false\n");
}

} // namespace
