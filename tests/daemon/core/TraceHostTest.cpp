// The trace host (trace_host, standing in for appwardd) driven with real
// signals: SIGHUP reopens the trace file and re-reads the levels while four
// threads write.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

const std::string kVar = "/usr/local/Vantrel/AppProtection/var";
const std::string kTrace = kVar + "/appProt.trace";
const std::string kFlags = kVar + "/traceValues.xml";
const std::string kErr = "/tmp/ward-trace-host.err";
const std::string kReloadLine = "AppProtectionController::reloadHandler  - reloaded tracing";

std::string slurp(const std::string& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFlags(int kextIf, int appControl)
{
    std::ofstream(kFlags) << "<TraceValues><kextIfFlow>" << kextIf << "</kextIfFlow><appControlFlow>" << appControl
                          << "</appControlFlow></TraceValues>\n";
}

size_t countLines(const std::string& text, const std::string& prefix)
{
    size_t n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            ++n;
    return n;
}

/// Every line whole: a writer's line or the reload line, nothing torn.
void expectWholeLines(const std::string& text)
{
    // "KextInterface::writer - thread T line N /tmp/café caf\xe9"
    auto isWriterLine = [](const std::string& line) {
        const std::string head = "KextInterface::writer - thread ", tail = " /tmp/caf\xc3\xa9 caf\\xe9";
        if (line.size() < head.size() + tail.size() || line.compare(0, head.size(), head) != 0 ||
            line.compare(line.size() - tail.size(), tail.size(), tail) != 0)
            return false;
        std::string middle = line.substr(head.size(), line.size() - head.size() - tail.size());
        if (middle.size() < 8 || middle[0] < '0' || middle[0] > '3' || middle.compare(1, 6, " line ") != 0)
            return false;
        return middle.find_first_not_of("0123456789", 7) == std::string::npos;
    };
    ASSERT_TRUE(text.empty() || text.back() == '\n');
    std::istringstream in(text);
    size_t bad = 0;
    for (std::string line; std::getline(in, line);)
        if (line != kReloadLine && !isWriterLine(line) && bad++ < 3)
            ADD_FAILURE() << "torn line: " << line;
    EXPECT_EQ(bad, 0u);
}

class Host : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_STREQ(getenv("WARD_NS_INSIDE"), "1") << "run through tests/ns-run.sh";
        ASSERT_EQ(std::system(("rm -rf /usr/local/Vantrel/AppProtection && mkdir -p " + kVar).c_str()), 0);
    }
    void TearDown() override
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_)
            std::fclose(out_);
    }
    void start()
    {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            dup2(fds[1], 1);
            int err = open(kErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            close(fds[0]);
            execl(TRACE_HOST, TRACE_HOST, "4", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        out_ = fdopen(fds[0], "r");
        expectLine("ready\n");
    }
    void expectLine(const std::string& want)
    {
        char buf[64] = {};
        ASSERT_NE(std::fgets(buf, sizeof buf, out_), nullptr);
        ASSERT_EQ(std::string(buf), want);
    }
    void reload()
    {
        ASSERT_EQ(kill(pid_, SIGHUP), 0);
        expectLine("reloaded\n");
    }
    /// Waits until the trace file holds at least n writer lines.
    bool waitForLines(size_t n)
    {
        for (int i = 0; i < 500; ++i) {
            if (countLines(slurp(kTrace), "KextInterface::writer") >= n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int stop()
    {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
};

TEST_F(Host, RemovedTraceFileIsMadeAgainOnSighup)
{
    writeFlags(1, 0);
    start();
    ASSERT_TRUE(waitForLines(10));
    ASSERT_EQ(unlink(kTrace.c_str()), 0);
    reload();
    struct stat st;
    ASSERT_EQ(stat(kTrace.c_str(), &st), 0);
    ASSERT_TRUE(waitForLines(10));
    EXPECT_EQ(stop(), 0);
    std::string text = slurp(kTrace);
    expectWholeLines(text);
    EXPECT_EQ(countLines(text, kReloadLine), 0u); // appControlFlow 0
}

TEST_F(Host, EditedLevelsApplyAfterSighup)
{
    writeFlags(1, 0);
    start();
    ASSERT_TRUE(waitForLines(5));
    writeFlags(0, 3); // silence the writers, show the reload line
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(countLines(slurp(kTrace), kReloadLine), 0u);
    reload();
    // A writer that passed its level test before the reload may still finish
    // its one line; after that the file stops growing.
    std::string after = slurp(kTrace), previous;
    for (int i = 0; i < 50 && (i < 3 || after != previous); ++i) {
        previous = after;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = slurp(kTrace);
    }
    EXPECT_EQ(after, previous);
    EXPECT_EQ(countLines(after, kReloadLine), 1u);
    size_t reloadAt = after.find(kReloadLine);
    ASSERT_NE(reloadAt, std::string::npos);
    EXPECT_LE(countLines(after.substr(reloadAt), "KextInterface::writer"), 4u);

    writeFlags(1, 3);
    reload();
    size_t before = countLines(after, "KextInterface::writer");
    EXPECT_TRUE(waitForLines(before + 10));
    EXPECT_EQ(stop(), 0);
    std::string text = slurp(kTrace);
    EXPECT_EQ(countLines(text, kReloadLine), 2u);
    expectWholeLines(text);
}

TEST_F(Host, SighupStreamUnderFourWriters)
{
    writeFlags(1, 3);
    start();
    ASSERT_TRUE(waitForLines(5));
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(kill(pid_, SIGHUP), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (i % 50 == 0)
            unlink(kTrace.c_str()); // a new file now and then
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(stop(), 0);
    std::string err = slurp(kErr);
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    std::string text = slurp(kTrace);
    EXPECT_GT(countLines(text, kReloadLine), 0u);
    expectWholeLines(text);
}

} // namespace
