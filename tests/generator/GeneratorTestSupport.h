// Helpers for the generator tests: the bundle tree seen at /Applications
// (tests/ns-run.sh --overlay with tests/fixtures/app_bundles.py), the
// system's fixed paths, lists of groups and paths, and a reader of the
// temporary profile.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BasicAppRecord.h"
#include "ProfileArchive.h"
#include "ProfileGenerator.h"
#include "ProfileRecordIO.h"
#include "TestFiles.h"

namespace gentest {

using namespace AppProtection;
using Names = std::vector<std::string>;

const std::string kVar = "/usr/local/Vantrel/AppProtection/var";
const std::string kTempProfile = kVar + "/tempProfile.data";
const std::string kProfile = kVar + "/profile.data";
const std::string kTemplate = kVar + "/template.profile";
const std::string kDomain = "com.vantrel.zrm.appprotection";

const std::string kA = "/Applications/A.app";
const std::string kAExe = kA + "/Contents/MacOS/A";
const std::string kB = kA + "/Contents/Helpers/B.app";
const std::string kBExe = kB + "/Contents/MacOS/B";
const std::string kLibF = kA + "/Contents/MacOS/../Frameworks/libF.dylib";

/// Skips the test outside the namespace that shows the bundle tree.
#define GEN_NEEDS_TREE()                                                                                     \
    do {                                                                                                     \
        if (std::getenv("WARD_NS_INSIDE") == nullptr || !std::filesystem::exists(gentest::kAExe))         \
            GTEST_SKIP() << "needs tests/ns-run.sh --overlay with tests/fixtures/app_bundles.py's tree";    \
    } while (0)

inline Names groups(const std::list<BasicAppRecord>& records)
{
    Names out;
    for (const BasicAppRecord& r : records)
        out.push_back(r.getAppGroup());
    return out;
}

inline Names paths(const std::list<BasicAppRecord>& records)
{
    Names out;
    for (const BasicAppRecord& r : records)
        out.push_back(r.getAppPath());
    return out;
}

inline BasicAppRecord record(const std::string& group, const std::string& path = "")
{
    BasicAppRecord r;
    r.setAppGroup(group);
    r.setAppPath(path);
    return r;
}

inline std::string md5sum(const std::string& path) { return wardtest::shellOutput("md5sum < '" + path + "'").substr(0, 32); }

/// "%a %i %Y" of stat(1): mode, inode, mtime.
inline std::string statLine(const std::string& path) { return wardtest::shellOutput("stat -c '%a %i %Y' '" + path + "'"); }

/// A preference through prefsctl, as a script reads it.
inline std::string prefsGet(const std::string& key)
{
    return wardtest::shellOutput(std::string(PREFSCTL) + " get " + kDomain + " " + key + " 2>&1");
}
inline void prefsSet(const std::string& key, const std::string& typeAndValue)
{
    ASSERT_EQ(std::system((std::string(PREFSCTL) + " set " + kDomain + " " + key + " " + typeAndValue).c_str()), 0);
}

/// The temporary profile read back field by field, with the profile file's
/// own reader.
inline std::list<BasicAppRecord> readTempProfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    ProfileIArchive ar(in);
    ar.beginClass(ProfileClass::BasicAppRecordList);
    const uint32_t count = ar.readCount();
    std::list<BasicAppRecord> out;
    for (uint32_t i = 0; i < count; ++i) {
        BasicAppRecord r;
        ar.beginClass(ProfileClass::BasicAppRecord);
        r.setAppPath(ar.readText());
        r.setApplicationHash(ar.readText());
        r.setAppGroup(ar.readText());
        r.setExecAllowed(ar.readBool());
        ar.beginClass(ProfileClass::NetworkRuleList);
        const uint32_t rules = ar.readCount();
        std::list<NetworkRule> list;
        for (uint32_t k = 0; k < rules; ++k)
            ProfileRecordIO::load(ar, list.emplace_back());
        r.setNwRules(list);
        r.setAppModified(ar.readBool());
        r.setChangedDeps(ar.readTextVector());
        r.setEnabled(ar.readBool());
        r.setNwAction(static_cast<BasicAppRecord::NetworkAction>(ar.readInt32()));
        out.push_back(r);
    }
    return out;
}

/// Every field of two records, texts byte by byte.
inline void expectSameRecord(const BasicAppRecord& a, const BasicAppRecord& b)
{
    EXPECT_EQ(a.getAppPath(), b.getAppPath());
    EXPECT_EQ(a.getApplicationHash(), b.getApplicationHash());
    EXPECT_EQ(a.getAppGroup(), b.getAppGroup());
    EXPECT_EQ(a.getExecAllowed(), b.getExecAllowed());
    EXPECT_EQ(a.getAppModified(), b.getAppModified());
    EXPECT_EQ(a.getChangedDeps(), b.getChangedDeps());
    EXPECT_EQ(a.getEnabled(), b.getEnabled());
    EXPECT_EQ(a.getNwAction(), b.getNwAction());
    EXPECT_EQ(a.getNwRules(), b.getNwRules());
}

} // namespace gentest
