// The trace-flag loader, and opening the trace file at start-up.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TraceLevels.h"
#include "TraceLoader.h"

namespace {

struct Row {
    const char* key;
    int* level;
};

// In the order of the trace-flag file's key table.
const std::vector<Row> kRows = {
    {"appTracer", &appTracervalue},       {"appControlFlow", &appControlFlowvalue},
    {"appCmdFlow", &appCmdFlowvalue},     {"configFlow", &configFlowvalue},
    {"appHCFlow", &appHCFlowvalue},       {"kextIfFlow", &kextIfFlowvalue},
    {"appStoreFlow", &appStoreFlowvalue}, {"depGenFlow", &depGenFlowvalue},
    {"depStoreFlow", &depStoreFlowvalue}, {"pdcFlow", &pdcFlowvalue},
    {"hashGenFlag", &hashGenFlagvalue},   {"processHelperFlow", &processHelperFlowvalue},
    {"reportMgrFlow", &reportMgrFlowvalue}, {"alertMgrFlow", &alertMgrFlowvalue},
    {"loggerFlow", &loggerFlowvalue},     {"statsMgrFlow", &statsMgrFlowvalue},
    {"zuvFlow", &zuvFlowvalue},
};

std::string slurp(const std::string& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> g_frameworkPaths;
int g_zuvAtFrameworkCall = 0;
void frameworkLoader(const char* path)
{
    g_frameworkPaths.push_back(path ? path : "(null)");
    g_zuvAtFrameworkCall = zuvFlowvalue;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ward-flags.XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = tmpl;
        // Every level starts at its own sentinel, so a stray write shows.
        for (size_t i = 0; i < kRows.size(); ++i)
            *kRows[i].level = 100 + static_cast<int>(i);
        g_frameworkPaths.clear();
        AppProtection::setFrameworkTraceLoader(frameworkLoader);
    }
    void TearDown() override
    {
        AppProtection::setFrameworkTraceLoader(nullptr);
        unlink(path_.c_str());
        for (const Row& r : kRows)
            *r.level = 0;
        pdcFlowvalue = 2;
    }
    void load(const std::string& body)
    {
        std::ofstream(path_) << "<TraceValues>" << body << "</TraceValues>\n";
        AppProtection::loadTraceValues(path_.c_str());
    }
    // Levels other than the named one keep their sentinel.
    void expectOnly(const char* key, int want)
    {
        for (size_t i = 0; i < kRows.size(); ++i) {
            SCOPED_TRACE(kRows[i].key);
            EXPECT_EQ(*kRows[i].level, std::string(kRows[i].key) == key ? want : 100 + static_cast<int>(i));
        }
    }
    std::string path_;
};

TEST_F(Loader, OneKeyChangesOneLevel)
{
    load("<pdcFlow>3</pdcFlow>");
    expectOnly("pdcFlow", 3);
    load("<hashGenFlag>5</hashGenFlag>");
    EXPECT_EQ(hashGenFlagvalue, 5);
    EXPECT_EQ(pdcFlowvalue, 3);
}

TEST_F(Loader, EveryKeyReachesItsOwnLevel)
{
    std::string body;
    for (size_t i = 0; i < kRows.size(); ++i)
        body += "<" + std::string(kRows[i].key) + ">" + std::to_string(i + 1) + "</" + kRows[i].key + ">";
    load(body);
    for (size_t i = 0; i < kRows.size(); ++i) {
        SCOPED_TRACE(kRows[i].key);
        EXPECT_EQ(*kRows[i].level, static_cast<int>(i + 1));
    }
}

TEST_F(Loader, RejectedValuesLeaveTheLevel)
{
    struct Case {
        std::string body;
        bool changes;
        int want;
    } cases[] = {
        {"<pdcFlow/>", false, 0},
        {"<pdcFlow>abc</pdcFlow>", false, 0},
        {"<pdcFlow>4294967296</pdcFlow>", false, 0},
        {"<pdcFlow>1</pdcFlow><pdcFlow>2</pdcFlow>", false, 0},
        {"<pdcFlow>4294967295</pdcFlow>", true, -1},
        {"<pdcFlow>-1</pdcFlow>", true, -1},
        {"<pdcFlow>2147483648</pdcFlow>", true, -2147483647 - 1},
        {"<pdcFlow> 4x</pdcFlow>", true, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        pdcFlowvalue = 100 + 9;
        load(c.body);
        expectOnly("pdcFlow", c.changes ? c.want : 109);
    }
    pdcFlowvalue = 109;
    unlink(path_.c_str());
    testing::internal::CaptureStderr();
    AppProtection::loadTraceValues(path_.c_str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error: unable to parse file \"" + path_ + "\"\n"), std::string::npos);
    expectOnly("none", 0);
}

TEST_F(Loader, FrameworkLoaderCalledLastWithTheSamePath)
{
    load("<zuvFlow>7</zuvFlow>");
    EXPECT_EQ(g_frameworkPaths, std::vector<std::string>{path_});
    EXPECT_EQ(g_zuvAtFrameworkCall, 7);
    // Also for a file it could not read.
    unlink(path_.c_str());
    testing::internal::CaptureStderr();
    AppProtection::loadTraceValues(path_.c_str());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_frameworkPaths.size(), 2u);
    AppProtection::setFrameworkTraceLoader(nullptr);
    load("<zuvFlow>8</zuvFlow>"); // no hook: nothing to call
    EXPECT_EQ(g_frameworkPaths.size(), 2u);
}

TEST_F(Loader, TraceValueLinesWhenTracingIsOpen)
{
    char tmpl[] = "/tmp/ward-trace.XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    logFilePtr = fdopen(fd, "a+");
    traceInited = 1;
    appTracervalue = 1;
    load("<appTracer>2</appTracer><pdcFlow>abc</pdcFlow><zuvFlow>4</zuvFlow>");
    traceInited = 0;
    std::fclose(logFilePtr);
    logFilePtr = nullptr;
    std::string text = slurp(tmpl);
    unlink(tmpl);
    std::string want;
    for (const Row& r : kRows)
        if (std::string(r.key) != "appTracer")
            want += "Trace value of " + std::string(r.key) + " = " + std::to_string(*r.level) + "\n";
    // appTracer's own line is written once its new level (2) allows it.
    EXPECT_EQ(text, "Trace value of appTracer = 2\n" + want);
    EXPECT_EQ(pdcFlowvalue, 109);
}

class Opening : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_STREQ(getenv("WARD_NS_INSIDE"), "1") << "run through tests/ns-run.sh";
        std::system("rm -rf /usr/local/Vantrel/AppProtection /usr/local/Vantrel/preferences");
        traceInited = 0;
        logFilePtr = nullptr;
    }
    void TearDown() override
    {
        wardtrace::closeLogFile();
        traceInited = 0;
        appControlFlowvalue = 0;
        pdcFlowvalue = 2;
    }
    const std::string var_ = "/usr/local/Vantrel/AppProtection/var";
};

TEST_F(Opening, StartUpLoadsLevelsThenOpensForAppending)
{
    ASSERT_EQ(std::system(("mkdir -p " + var_).c_str()), 0);
    std::ofstream(var_ + "/traceValues.xml") << "<TraceValues><pdcFlow>4</pdcFlow></TraceValues>";
    std::ofstream(var_ + "/appProt.trace") << "earlier run\n";
    AppProtection::openTracing();
    EXPECT_EQ(pdcFlowvalue, 4);
    EXPECT_EQ(traceInited, 1);
    ASSERT_NE(logFilePtr, nullptr);
    WARD_TRACE(pdcFlowvalue, 3, L"ProfileDataController::x - caf%s\n", "\xc3\xa9");
    EXPECT_EQ(slurp(var_ + "/appProt.trace"), "earlier run\nProfileDataController::x - caf\xc3\xa9\n");
    // Already set up: the file is not opened again.
    FILE* before = logFilePtr;
    AppProtection::openTracing();
    EXPECT_EQ(logFilePtr, before);
}

TEST_F(Opening, FailedOpenStillMarksTracingSetUp)
{
    testing::internal::CaptureStderr();
    AppProtection::openTracing(); // no folder: neither file can be opened
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(traceInited, 1);
    EXPECT_EQ(logFilePtr, nullptr);
    int level = 5;
    WARD_TRACE(level, 0, L"X::y - nowhere\n"); // must not crash

    // A reload that can open it starts tracing.
    ASSERT_EQ(std::system(("mkdir -p " + var_).c_str()), 0);
    std::ofstream(var_ + "/traceValues.xml") << "<TraceValues><appControlFlow>3</appControlFlow></TraceValues>";
    AppProtection::reloadTracing(SIGUSR1); // not SIGHUP: nothing happens
    EXPECT_EQ(logFilePtr, nullptr);
    AppProtection::reloadTracing(SIGHUP);
    ASSERT_NE(logFilePtr, nullptr);
    EXPECT_EQ(slurp(var_ + "/appProt.trace"), "AppProtectionController::reloadHandler  - reloaded tracing\n");
}

TEST_F(Opening, ConfiguredPathsAreUsed)
{
    ASSERT_EQ(std::system("mkdir -p /usr/local/Vantrel/elsewhere"), 0);
    ASSERT_EQ(std::system((std::string(PREFSCTL) + " set com.vantrel.zrm.appprotection TraceFilePath -string "
                           "/usr/local/Vantrel/elsewhere/t.trace && " PREFSCTL
                           " set com.vantrel.zrm.appprotection TraceFlagPath -string /usr/local/Vantrel/elsewhere/f.xml")
                              .c_str()),
              0);
    std::ofstream("/usr/local/Vantrel/elsewhere/f.xml") << "<TraceValues><pdcFlow>9</pdcFlow></TraceValues>";
    AppProtection::openTracing();
    EXPECT_EQ(pdcFlowvalue, 9);
    WARD_TRACE(pdcFlowvalue, 0, L"P - here\n");
    EXPECT_EQ(slurp("/usr/local/Vantrel/elsewhere/t.trace"), "P - here\n");
}

} // namespace
