// libportward's trace levels and their loader over real trace-flag files,
// with xmllint as the oracle for what a file holds.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "FWRecords.h"
#include "FWTrace.h"
#include "FwTestSupport.h"
#include "IPValidator.h"
#include "PortValidator.h"
#include "Shell.h"

using namespace FirewallSDK;

namespace {

class TempXml {
public:
    explicit TempXml(const std::string& content)
    {
        char name[] = "/tmp/fwtrace.XXXXXX";
        int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        close(fd);
        path_ = name;
    }
    ~TempXml() { unlink(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string flags(const char* command, const char* ip, const char* port)
{
    std::string s = "<?xml version=\"1.0\"?>\n<TraceValues>\n";
    if (command)
        s += std::string("  <fwCommandFlow>") + command + "</fwCommandFlow>\n";
    if (ip)
        s += std::string("  <ipValidatorFlow>") + ip + "</ipValidatorFlow>\n";
    if (port)
        s += std::string("  <portValidatorFlow>") + port + "</portValidatorFlow>\n";
    return s + "</TraceValues>\n";
}

std::string xmllintValue(const std::string& path, const char* key)
{
    std::string command = std::string("xmllint --xpath 'string(/TraceValues/") + key + ")' " + path;
    return wardtest::shellOutput(command);
}

/// Standard error of the calls made while it lives.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    ~StderrCapture()
    {
        restore();
        std::fclose(file_);
    }
    std::string text()
    {
        restore();
        std::string out;
        char buf[1024];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(fileno(file_), buf, sizeof buf, at)) > 0) {
            out.append(buf, static_cast<size_t>(n));
            at += n;
        }
        return out;
    }

private:
    void restore()
    {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
        }
    }
    int saved_;
    FILE* file_;
};

const int OLD = 7; // every level before a load

} // namespace

TEST(TraceLevelsTest, InitialValues)
{
    // Nothing in this program has changed them yet when this runs first;
    // LevelGuard restores them after every other test.
    EXPECT_EQ(fwCommandFlowvalue, 5);
    EXPECT_EQ(ipValidatorFlowvalue, 5);
    EXPECT_EQ(portValidatorFlowvalue, 5);
    EXPECT_EQ(firewallSDKTracervalue, 0);
}

TEST(TraceLevelsTest, LoaderReadsTheThreeKeys)
{
    struct Case {
        const char* name;
        std::string content;
        bool throws;
        int command, ip, port; // levels after the call
    };
    const Case cases[] = {
        {"all three", flags("3", "0", "0"), false, 3, 0, 0},
        {"no ipValidatorFlow", flags("3", nullptr, "1"), true, 3, OLD, OLD},
        {"no fwCommandFlow", flags(nullptr, "1", "1"), true, OLD, OLD, OLD},
        {"port not a number", flags("2", "2", "x"), true, 2, 2, OLD},
        {"empty key", flags("", "2", "2"), true, OLD, OLD, OLD},
        {"largest 32-bit value", flags("4294967295", "1", "1"), false, -1, 1, 1},
        {"above 32 bits", flags("4294967296", "1", "1"), true, OLD, OLD, OLD},
        {"minus one", flags("-1", "1", "1"), false, -1, 1, 1},
        {"2^31", flags("2147483648", "1", "1"), false, INT_MIN, 1, 1},
        {"two fwCommandFlow keys",
         "<TraceValues><fwCommandFlow>3</fwCommandFlow><fwCommandFlow>4</fwCommandFlow>"
         "<ipValidatorFlow>1</ipValidatorFlow><portValidatorFlow>1</portValidatorFlow></TraceValues>",
         true, OLD, OLD, OLD},
        {"not XML", "<TraceValues><fwCommandFlow>3", true, OLD, OLD, OLD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fwtest::LevelGuard levels;
        fwCommandFlowvalue = ipValidatorFlowvalue = portValidatorFlowvalue = OLD;
        TempXml file(c.content);
        StderrCapture err;
        bool threw = false;
        try {
            loadSDKTraceValues(file.path().c_str());
        } catch (const std::exception&) {
            threw = true;
        }
        err.text();
        EXPECT_EQ(threw, c.throws);
        EXPECT_EQ(fwCommandFlowvalue, c.command);
        EXPECT_EQ(ipValidatorFlowvalue, c.ip);
        EXPECT_EQ(portValidatorFlowvalue, c.port);
        if (c.command != OLD) {
            // What xmllint reads from the file is what the level holds.
            std::string text = xmllintValue(file.path(), "fwCommandFlow");
            long long want = std::strtoll(text.c_str(), nullptr, 10);
            EXPECT_EQ(static_cast<int>(static_cast<uint32_t>(want)), c.command) << text;
        }
    }
}

TEST(TraceLevelsTest, UnreadableFileChangesNothing)
{
    fwtest::LevelGuard levels;
    fwCommandFlowvalue = ipValidatorFlowvalue = portValidatorFlowvalue = OLD;
    StderrCapture err;
    EXPECT_THROW(loadSDKTraceValues("/no/such.xml"), std::exception);
    std::string text = err.text();
    EXPECT_NE(text.find("Error: unable to parse file \"/no/such.xml\"\n"), std::string::npos) << text;
    EXPECT_EQ(fwCommandFlowvalue, OLD);
    EXPECT_EQ(ipValidatorFlowvalue, OLD);
    EXPECT_EQ(portValidatorFlowvalue, OLD);
}

TEST(TraceLevelsTest, LoaderReportLines)
{
    TempXml file(flags("3", "0", "4"));
    struct Case {
        int sdkLevel;
        bool inited;
        bool withFile;
        const char* trace;
    };
    const Case cases[] = {
        {2, true, true,
         "Trace value of commandFlow = 3\nTrace value of ipValidatorFlow = 0\nTrace value of portValidatorFlow = 4\n"},
        {1, true, true, ""},
        {0, true, true, ""},
        {5, false, true, ""},
        {5, true, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sdkLevel);
        fwtest::LevelGuard levels;
        firewallSDKTracervalue = c.sdkLevel;
        fwtest::TraceCapture trace(c.inited);
        if (!c.withFile)
            logFilePtr = nullptr;
        loadSDKTraceValues(file.path().c_str());
        EXPECT_EQ(fwCommandFlowvalue, 3);
        EXPECT_EQ(trace.text(), c.trace);
    }
}

TEST(TraceLevelsTest, LoadedLevelsGateTheComponents)
{
    fwtest::LevelGuard levels;
    TempXml file(flags("3", "0", "0"));
    loadSDKTraceValues(file.path().c_str());
    fwtest::TraceCapture trace;
    {
        IP_Validator::IPValidator ip;
        IP_Validator::ADDR_TYPE type;
        ip.validateAddr("300.1.1.1", type);
        PORT_Validator::PortValidator port;
        port.validatePortNos("1-2-3");
    }
    EXPECT_EQ(trace.text(), "");

    // The comparison at 3: refusals (threshold 2) only, no flow lines.
    FWExtDetailedData a;
    FWExtDetailedData b;
    b.setRuleNo(9);
    EXPECT_FALSE(a == b);
    std::map<uint16_t, FWExtDetailedData> store;
    struct Forced : FWExtDetailedData {
        Forced() { category = 0x5u; }
    };
    store[5122] = Forced();
    std::vector<FWExtDetailedData> kernel(1);
    markRuleTypes(store, kernel);
    EXPECT_EQ(trace.text(), "markRuleTypes - Invalid category 5 for rule # 5122\n");
}
