// The trace facility: when a line is written, and how its bytes come out.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "Files.h"
#include "RulebookTrace.h"

namespace {

class TraceFile : public ::testing::Test {
protected:
    // The stream is wide-oriented once traced to, so it is read back by name.
    void SetUp() override { reopen(); }
    void TearDown() override
    {
        logFilePtr = nullptr;
        traceInited = 0;
        std::fclose(file_);
        unlink(path_.c_str());
    }
    void reopen()
    {
        if (file_) {
            std::fclose(file_);
            unlink(path_.c_str());
        }
        char tmpl[] = "/tmp/ward-trace.XXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        path_ = tmpl;
        file_ = fdopen(fd, "a+");
        ASSERT_NE(file_, nullptr);
        logFilePtr = file_;
        traceInited = 1;
    }
    std::string contents() { return wardtest::readFile(path_); }
    FILE* file_ = nullptr;
    std::string path_;
};

TEST_F(TraceFile, LineWrittenOnlyWhenLevelExceedsThreshold)
{
    for (int level : {-1, 0, 1, 3, 5}) {
        for (int threshold = 0; threshold <= 4; ++threshold) {
            SCOPED_TRACE("level " + std::to_string(level) + " threshold " + std::to_string(threshold));
            reopen();
            int lvl = level;
            WARD_TRACE(lvl, threshold, L"X::y - %d\n", threshold);
            EXPECT_EQ(contents(), level > threshold ? "X::y - " + std::to_string(threshold) + "\n" : "");
        }
    }
}

TEST_F(TraceFile, NothingWithoutTraceInitedOrFile)
{
    int lvl = 5;
    traceInited = 0;
    WARD_TRACE(lvl, 0, L"A - off\n");
    traceInited = 1;
    logFilePtr = nullptr;
    WARD_TRACE(lvl, 0, L"B - no file\n");
    logFilePtr = file_;
    EXPECT_EQ(contents(), "");
}

TEST_F(TraceFile, ArgumentsAreEvaluatedOnlyForALineThatIsWritten)
{
    struct Case {
        const char* name;
        int level, inited;
        bool file;
        int evaluations;
    } cases[] = {
        {"written", 1, 1, true, 1},
        {"level too low", 0, 1, true, 0},
        {"no file", 1, 1, false, 0},
        {"not set up", 1, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        traceInited = c.inited;
        logFilePtr = c.file ? file_ : nullptr;
        int evaluations = 0;
        auto argument = [&] {
            ++evaluations;
            return "x";
        };
        EXPECT_EQ(WARD_TRACING(c.level, 0), c.evaluations == 1);
        WARD_TRACE(c.level, 0, L"E - %s\n", argument());
        EXPECT_EQ(evaluations, c.evaluations);
    }
    logFilePtr = file_;
    EXPECT_EQ(contents(), "E - x\n");
}

TEST_F(TraceFile, NarrowArgumentsKeepUtf8AndEscapeInvalidBytes)
{
    int lvl = 1;
    WARD_TRACE(lvl, 0, L"P - %s\n", "/tmp/caf\xc3\xa9");
    WARD_TRACE(lvl, 0, L"Q - %s and %d\n", "caf\xe9", 7);
    EXPECT_EQ(contents(), "P - /tmp/caf\xc3\xa9\nQ - caf\\xe9 and 7\n");
}

TEST(TraceDecode, RejectsOverlongSurrogateAndOutOfRange)
{
    struct Case {
        std::string in;
        std::wstring want;
    } cases[] = {
        {"\xc0\xaf", L"\\xc0\\xaf"},
        {"\xed\xa0\x80", L"\\xed\\xa0\\x80"},
        {"\xf4\x90\x80\x80", L"\\xf4\\x90\\x80\\x80"},
        {"\xf0\x9f\x98\x80", L"\U0001F600"},
        {"ab\xc3", L"ab\\xc3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(wardtrace::decodeEscaped(c.in.data(), c.in.size()), c.want);
    }
}

TEST(TraceLevels, RulebookDefaults)
{
    EXPECT_EQ(pdcFlowvalue, 2);
    EXPECT_EQ(appStoreFlowvalue, 0);
    EXPECT_EQ(hashGenFlagvalue, 0);
}

} // namespace
