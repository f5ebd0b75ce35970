// Helpers for the profile controller tests: a probe into the controller's
// stores, the library-store invariant, oracles and clang/lld Mach-O files.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "DependentRecord.h"
#include "ProfileDataController.h"
#include "TestFiles.h"

namespace pdctest {

using namespace AppProtection;

/// The controller with its stores and dirty flag in reach.
class Probe : public ProfileDataController {
public:
    ApplicationStore& apps() { return m_appStore; }
    DependentStore& deps() { return m_depStore; }
    bool dirty() const { return m_profileChanged.load(); }
    void setDirty(bool value) { m_profileChanged = value; }

    DetailedAppRecord app(const std::string& path)
    {
        DetailedAppRecord r;
        EXPECT_TRUE(m_appStore.findAppByName(path, r)) << path;
        return r;
    }
    bool has(const std::string& path)
    {
        DetailedAppRecord r;
        return m_appStore.findAppByName(path, r);
    }
    std::vector<std::string> users(const std::string& library)
    {
        DependentRecord r;
        if (!m_depStore.findByName(library, r))
            return {"<not stored>"};
        return r.getAppList();
    }
    std::vector<std::string> paths()
    {
        std::vector<std::string> out;
        for (const BasicAppRecord& r : m_appStore.getAllProfileRules())
            out.push_back(r.getAppPath());
        return out;
    }
};

/// L is in A's list exactly when L's list holds A once; every listed user
/// is stored; the count field matches the list. Checked over `libraries`.
inline void expectLibraryInvariant(Probe& p, const std::vector<std::string>& libraries)
{
    std::vector<std::string> apps = p.paths();
    for (const std::string& lib : libraries) {
        SCOPED_TRACE(lib);
        DependentRecord rec;
        bool stored = p.deps().findByName(lib, rec);
        std::vector<std::string> users = stored ? rec.getAppList() : std::vector<std::string>();
        if (stored) {
            EXPECT_EQ(DependentRecord::AppCountKey()(rec), users.size());
        }
        for (const std::string& user : users)
            EXPECT_NE(std::find(apps.begin(), apps.end(), user), apps.end()) << "stale user " << user;
        for (const std::string& a : apps) {
            std::vector<std::string> list = p.app(a).getDependencies();
            bool listed = std::find(list.begin(), list.end(), lib) != list.end();
            auto count = std::count(users.begin(), users.end(), a);
            EXPECT_EQ(count, listed ? 1 : 0) << a;
        }
    }
}

inline std::string md5sum(const std::string& path)
{
    std::string out = wardtest::shellOutput("md5sum < '" + path + "'");
    return out.substr(0, 32);
}

inline BasicAppRecord rule(const std::string& group, bool exec = true,
                           BasicAppRecord::NetworkAction nw = BasicAppRecord::NW_ACTION_ALLOW_ALL)
{
    BasicAppRecord r;
    r.setAppGroup(group);
    r.setExecAllowed(exec);
    r.setNwAction(nw);
    return r;
}

/// Polls `done` for up to `limit`.
template <class F> bool eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

/// Mach-O files made with clang and ld64.lld in a folder.
class MachO {
public:
    explicit MachO(std::string dir) : dir_(std::move(dir)) {}

    /// An object file of `source` (C).
    std::string object(const std::string& name, const std::string& source)
    {
        std::string c = dir_ + "/" + name + ".c", o = dir_ + "/" + name + ".o";
        testfiles::writeFile(c, source);
        sh("clang -target x86_64-apple-macos10.15 -c '" + c + "' -o '" + o + "'");
        return o;
    }
    /// A dylib with `installName`, linked against `inputs`.
    void dylib(const std::string& out, const std::string& installName, const std::string& inputs)
    {
        sh(ld() + " -dylib -install_name '" + installName + "' " + inputs + " -o '" + out + "'");
    }
    void executable(const std::string& out, const std::string& inputs)
    {
        sh(ld() + " -e _main " + inputs + " -undefined dynamic_lookup -o '" + out + "'");
    }
    void bundle(const std::string& out, const std::string& inputs)
    {
        sh(ld() + " -bundle " + inputs + " -undefined dynamic_lookup -o '" + out + "'");
    }
    static void sh(const std::string& command)
    {
        int rc = std::system((command + " 2>&1").c_str());
        ASSERT_EQ(rc, 0) << command;
    }

private:
    static std::string ld() { return "ld64.lld-14 -arch x86_64 -platform_version macos 10.15 10.15"; }
    std::string dir_;
};

} // namespace pdctest
