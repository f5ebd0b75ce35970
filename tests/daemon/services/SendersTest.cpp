// The event and log senders: what reaches the hub for each, and texts with
// format directives passed through unchanged.
#include "ServicesTestSupport.h"

#include "AppHVOLogWrapper.h"

namespace {

using namespace servicestest;
using AppProtection::AppHVOLogWrapper;

class SendersTest : public ServicesTest {
};

TEST_F(SendersTest, EachEventKindAsOneRecord)
{
    ReportData data;
    data.setName(L"n");
    data.setKind(L"k");
    data.setHvkId(3);
    DetailReportData detail;
    detail.setTitle(L"t");
    detail.setHeader({{L"a", L"b"}});
    detail.setHvkId(3);
    AppHVOLogWrapper::sendHistoryEvents(data, detail);
    AppHVOLogWrapper::sendRecentEvents(detail);
    AppHVOLogWrapper::sendZuvEvents(data, detail);
    waitLogs(3);
    const auto logs = newLogs();
    ASSERT_EQ(3u, logs.size());
    struct Expected {
        int type;
        std::wstring message, detail;
    } expected[] = {
        {3, data.toWstring(), detail.toWstring()},
        {7, detail.toWstring(), L""},
        {5, data.toWstring(), detail.toWstring()},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(3, logs[i].sender);
        EXPECT_EQ(expected[i].type, logs[i].type);
        EXPECT_EQ(1, logs[i].level);
        EXPECT_FALSE(logs[i].formatted);
        EXPECT_EQ(expected[i].message, logs[i].message);
        EXPECT_EQ(expected[i].detail, logs[i].detail);
    }
    EXPECT_EQ(0u, data.toWstring().find(kHeader + L" 0 0 4294967295 1 n 1 k "));
}

TEST_F(SendersTest, LogLinesKeepFormatDirectives)
{
    AppHVOLogWrapper::sendLogMessage(HVO::LOG_TYPE_ACTIVITY, HVO::HVK_LOG_LEVEL_3, "%s", "/tmp/a%s%n/x");
    AppHVOLogWrapper::sendLogMessage(HVO::LOG_TYPE_ACTIVITY, HVO::HVK_LOG_LEVEL_4, "cookie %d of %s", 77, "F");
    waitLogs(2);
    const auto logs = newLogs();
    ASSERT_EQ(2u, logs.size());
    EXPECT_EQ(L"/tmp/a%s%n/x", logs[0].message);
    EXPECT_TRUE(logs[0].formatted);
    EXPECT_EQ(L"AppProtection", logs[0].component);
    EXPECT_EQ(1, logs[0].type);
    EXPECT_EQ(3, logs[0].level);
    EXPECT_EQ(L"cookie 77 of F", logs[1].message);
    EXPECT_EQ(4, logs[1].level);
}

} // namespace
