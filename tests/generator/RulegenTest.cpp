// rulegen as a script runs it: its output, exit statuses and messages.
#include <filesystem>

#include "GeneratorTestSupport.h"

using namespace gentest;
using testfiles::TempDir;

namespace {

struct Outcome {
    int status;
    std::string out;
};

/// rulegen with `args` (a shell word list), standard error into the output.
Outcome rulegen(const std::string& args)
{
    const std::string text = wardtest::shellOutput(std::string(RULEGEN) + " " + args + " 2>&1; echo \"#$?\"");
    const size_t mark = text.rfind('#');
    return {std::stoi(text.substr(mark + 1)), text.substr(0, mark)};
}

std::string line(const std::string& group, const std::string& path, const std::string& hash, int exec, int nw)
{
    return group + "\t" + path + "\t" + hash + "\t" + std::to_string(exec) + "\t" + std::to_string(nw) + "\t1\n";
}

TEST(Rulegen, ScanAllowExportImport)
{
    GEN_NEEDS_TREE();
    TempDir dir;
    const std::string p = dir / "P";
    Outcome scan = rulegen("scan /Applications groups");
    EXPECT_EQ(scan.status, 0);
    EXPECT_EQ(scan.out, line(kA, "", "", 0, 1) + line(kB, "", "", 0, 1) + line("/Applications/Empty.app", "", "", 0, 1) +
                            line("/Applications/Link.app", "", "", 0, 1));
    EXPECT_EQ(rulegen("scan /Applications allow export " + p).status, 0);
    Outcome list = rulegen("import " + p + " list");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, line(kA, kBExe, md5sum(kBExe), 1, 1) + line(kA, kAExe, md5sum(kAExe), 1, 1));
}

TEST(Rulegen, FailuresAndUsage)
{
    TempDir dir;
    testfiles::writeFile(dir / "file", "x");
    struct Case {
        const char* name;
        std::string args;
        int status;
        std::string out;
    } cases[] = {
        {"import of a missing file", "import " + dir / "missing" + " list", 1,
         "rulegen: import " + dir / "missing" + " failed\n"},
        {"stops at the failure", "add /g list import " + dir / "missing" + " list", 1,
         "/g\t\t\t0\t1\t1\nrulegen: import " + dir / "missing" + " failed\n"},
        {"scan of a regular file", "scan " + dir / "file", 3, ""},
        {"no arguments", "", 2, ""},
        {"unknown operation, nothing run", "add /g list frobnicate", 2, ""},
        {"missing argument", "add /g list export", 2, ""},
        {"add and delete", "add /a add /b add /a delete /a groups", 0, "/b\t\t\t0\t1\t1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome o = rulegen(c.args);
        EXPECT_EQ(o.status, c.status) << o.out;
        if (c.status == 2)
            EXPECT_EQ(o.out.rfind("usage: rulegen", 0), 0u) << o.out;
        else if (c.status == 3)
            EXPECT_NE(o.out.find("rulegen: scan " + dir / "file" + ": "), std::string::npos) << o.out;
        else
            EXPECT_EQ(o.out, c.out);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

} // namespace

namespace {

TEST(RulebuilderLibrary, ExportsEveryOperationAndLeavesTheHostSymbolsToTheHost)
{
    const std::string symbols = wardtest::shellOutput(std::string("nm -DC '") + RULEBUILDER + "'");
    ASSERT_FALSE(symbols.empty());
    for (const char* op :
         {"ProfileGenerator()", "~ProfileGenerator()", "loadInstalledApplications()", "loadAppsFromFolder(",
          "addAppToList(AppProtection::BasicAppRecord&)", "deleteAppFromList(AppProtection::BasicAppRecord&)",
          "updateAppInList(AppProtection::BasicAppRecord&)", "getAppList[abi:cxx11](bool)", "enforceAppList()",
          "exportAppToProfile(", "importAppsFromProfile(", "loadRecommendedProfile()", "importCurrentProfile()"}) {
        SCOPED_TRACE(op);
        EXPECT_NE(symbols.find(std::string(" T AppProtection::ProfileGenerator::") + op), std::string::npos);
    }
    // Defined by the host program only: declared or unused here.
    for (const char* host : {"logFilePtr", "traceInited"}) {
        SCOPED_TRACE(host);
        for (const char* kind : {" B ", " D ", " T ", " C "})
            EXPECT_EQ(symbols.find(std::string(kind) + host + "\n"), std::string::npos);
    }
}

} // namespace
