// Decision reports: the activity-log line of each decision, the three events
// of a group's first block of each kind, and the notification.
#include "ServicesTestSupport.h"

#include "ReportManager.h"

namespace {

using namespace servicestest;
using AppProtection::AppProtReport;
using AppProtection::BasicAppRecord;

class ReportManagerTest : public ServicesTest {
protected:
    AppProtReport execReport(const std::string& name, const std::string& group, int code)
    {
        BasicAppRecord record;
        record.setAppGroup(group);
        return AppProtReport(name, record, AppProtection::EXEC_ACTION, code);
    }
    AppProtReport networkReport(const std::string& name, const std::string& group, int code,
                                AppProtection::Operation operation, const char* ip, uint16_t port)
    {
        BasicAppRecord record;
        record.setAppGroup(group);
        return AppProtReport(name, record, operation, code, peerAddress(ip, port), AppProtection::NW_TCP);
    }
    AppProtection::ReportManager reports;
};

std::wstring wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

TEST_F(ReportManagerTest, OneLinePerDenialOrPrompt)
{
    const boost::logic::tribool deny(false), ask(boost::logic::indeterminate), allow(true);
    struct Case {
        const char* what;
        AppProtReport report;
        boost::logic::tribool action;
        const char* line; // nullptr: nothing logged
    } cases[] = {
        {"unknown, deny", execReport("F", "F", 4), deny,
         "Denied F from executing because  unknown applications are blocked as per the settings"},
        {"rule, deny", execReport("F", "G", 2), deny, "Denied F from executing because  of profile rule match with G"},
        {"rule, deny incoming TCP",
         networkReport("F", "G", 2, AppProtection::INCOMING_CONNECTION, "192.0.2.7", 8080), deny,
         "Denied F from accepting a TCP connection from 192.0.2.7:8080 because  of profile rule match with G"},
        {"modified, deny", execReport("F", "G", 3), deny,
         "Denied F from executing because  it matched with profile rule for G . But the app has been modified "
         "after the rule was created"},
        {"disabled, deny", execReport("F", "G", 5), deny,
         "Denied F from executing because  it matched with profile rule for G . But the rule is disabled."},
        {"ask", execReport("F", "F", 4), ask,
         "Prompted user to grant F permission for  executing because  user needs to be prompted for unknown "
         "applications, as per the settings"},
        {"unknown code, deny", execReport("F", "G", 9), deny, "Denied F from executing because "},
        {"format directives", execReport("/tmp/a%s%n/x", "/tmp/a%s%n/x", 2), deny,
         "Denied /tmp/a%s%n/x from executing because  of profile rule match with /tmp/a%s%n/x"},
        {"grant by rule", execReport("F", "G", 1), allow, nullptr},
        {"grant, unknown", execReport("F", "F", 4), allow, nullptr},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppProtection::StatsManager::releaseInstance();
        const size_t before = newLogs().size();
        c.report.setAction(c.action);
        reports.handleReport(c.report, false);
        hub().peer.logs(); // everything written so far has reached the hub
        auto logs = newLogs();
        logs.erase(logs.begin(), logs.begin() + static_cast<long>(before));
        if (c.line == nullptr) {
            EXPECT_TRUE(logs.empty());
            continue;
        }
        ASSERT_FALSE(logs.empty());
        EXPECT_TRUE(logs[0].formatted);
        EXPECT_EQ(3, logs[0].sender);
        EXPECT_EQ(L"AppProtection", logs[0].component);
        EXPECT_EQ(1, logs[0].type);
        EXPECT_EQ(3, logs[0].level);
        EXPECT_EQ(wide(c.line), logs[0].message);
        // Events only for a denial with an operation.
        const bool events = static_cast<bool>(!c.action);
        EXPECT_EQ(events ? 4u : 1u, logs.size());
    }
}

TEST_F(ReportManagerTest, LaunchEventsAreByteExact)
{
    AppProtReport report = execReport("/opt/x/app", "/opt/x/app", 4);
    report.setAction(false);
    reports.handleReport(report, false);
    const auto logs = newLogs();
    ASSERT_EQ(4u, logs.size());
    const std::wstring T = eventTime(logs[1].message);
    EXPECT_EQ(T, eventTime(logs[1].detail));
    EXPECT_EQ(T, eventTime(logs[2].message));
    struct Expected {
        int type;
        std::wstring message, detail;
    } expected[] = {
        {3, kHeader + L" 0 0 4294967295 18 HE_ApplicationName 20 HE_ApplicationAccess " + T + L" 3",
         kHeader + L" 0 0 20 HE_ApplicationAccess 0 0 1 0 0 0 18 HE_ApplicationPath 10 /opt/x/app 0 0 0 0 " + T +
             L" 3"},
        {7,
         kHeader + L" 0 0 20 RE_ApplicationAccess 0 0 2 0 0 0 26 RE_ApplicationAccessStatus 25 "
                   L"RE_BlockApplicationAccess 18 RE_ApplicationPath 10 /opt/x/app 0 0 0 0 " +
             T + L" 3",
         L""},
        {5, kHeader + L" 0 0 4294967295 18 HE_ApplicationName 20 HE_ApplicationAccess " + T + L" 3",
         kHeader + L" 0 0 0  0 0 3 0 0 0 12 ZUV_EVENT_ID 5 20601 14 ZUV_EVENT_KIND 9 EventData 18 "
                   L"ZUV_EVENT_SEVERITY 1 1 0 0 4 0 15 ZUV_EVENT_TAG_1 15 ApplicationPath 15 ZUV_EVENT_TAG_2 11 "
                   L"ActionTaken 17 ZUV_EVENT_VALUE_1 10 /opt/x/app 17 ZUV_EVENT_VALUE_2 7 Blocked " +
             T + L" 3"},
    };
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(logs[i + 1].formatted);
        EXPECT_EQ(3, logs[i + 1].sender);
        EXPECT_EQ(expected[i].type, logs[i + 1].type);
        EXPECT_EQ(1, logs[i + 1].level);
        EXPECT_EQ(expected[i].message, logs[i + 1].message);
        EXPECT_EQ(expected[i].detail, logs[i + 1].detail);
    }
    EXPECT_TRUE(newCommands().empty()) << "no notification for notify false";
}

TEST_F(ReportManagerTest, ConnectionEvents)
{
    AppProtReport report =
        networkReport("/usr/bin/nc", "/usr/bin/nc", 2, AppProtection::OUTGOING_CONNECTION, "10.0.0.5", 443);
    report.setAction(false);
    reports.handleReport(report, false);
    const auto logs = newLogs();
    ASSERT_EQ(4u, logs.size());
    EXPECT_EQ(L"Denied /usr/bin/nc from creating a TCP connection to 10.0.0.5:443 because  of profile rule match "
              L"with /usr/bin/nc",
              logs[0].message);
    const std::wstring T = eventTime(logs[1].message);
    EXPECT_EQ(kHeader + L" 0 0 4294967295 14 HE_NetworkName 16 HE_NetworkAccess " + T + L" 3", logs[1].message);
    EXPECT_EQ(kHeader + L" 0 0 16 HE_NetworkAccess 0 0 4 0 0 0 16 HE_NetworkIPPort 12 10.0.0.5:443 28 "
                        L"HE_NetworkOperationAttempted 46 HE_NetworkOperationAttemptedOutgoingConnection 14 "
                        L"HE_NetworkPath 11 /usr/bin/nc 18 HE_NetworkProtocol 3 TCP 0 0 0 0 " +
                  T + L" 3",
              logs[1].detail);
    EXPECT_EQ(kHeader + L" 0 0 16 RE_NetworkAccess 0 0 2 0 0 0 22 RE_NetworkAccessStatus 27 "
                        L"RE_BlockNetworkAccessStatus 14 RE_NetworkPath 11 /usr/bin/nc 0 0 0 0 " +
                  T + L" 3",
              logs[2].message);
    EXPECT_EQ(logs[1].message, logs[3].message);
    EXPECT_EQ(kHeader + L" 0 0 0  0 0 3 0 0 0 12 ZUV_EVENT_ID 5 20602 14 ZUV_EVENT_KIND 9 EventData 18 "
                        L"ZUV_EVENT_SEVERITY 1 1 0 0 12 0 15 ZUV_EVENT_TAG_1 15 ApplicationPath 15 ZUV_EVENT_TAG_2 "
                        L"11 ActionTaken 15 ZUV_EVENT_TAG_3 8 Protocol 15 ZUV_EVENT_TAG_4 2 IP 15 ZUV_EVENT_TAG_5 4 "
                        L"Port 15 ZUV_EVENT_TAG_6 9 Direction 17 ZUV_EVENT_VALUE_1 11 /usr/bin/nc 17 "
                        L"ZUV_EVENT_VALUE_2 7 Blocked 17 ZUV_EVENT_VALUE_3 3 TCP 17 ZUV_EVENT_VALUE_4 8 10.0.0.5 17 "
                        L"ZUV_EVENT_VALUE_5 3 443 17 ZUV_EVENT_VALUE_6 19 OUTGOING_CONNECTION " +
                  T + L" 3",
              logs[3].detail);
}

TEST_F(ReportManagerTest, ModifiedRowsAndTextsThatAreNotUtf8)
{
    BasicAppRecord record;
    record.setAppGroup("/opt/\xe9");
    record.setAppModified(true);
    record.setChangedDeps({"/lib/a.dylib", "/lib/\xff.dylib", "/lib/b.dylib"});
    AppProtReport report("/opt/\xe9", record, AppProtection::EXEC_ACTION, 3);
    report.setAction(false);
    reports.handleReport(report, false);
    const auto logs = newLogs();
    ASSERT_EQ(4u, logs.size());
    const std::wstring group{L'/', L'o', L'p', L't', L'/', static_cast<wchar_t>(0xDCE9)};
    EXPECT_EQ(L"Denied " + group + L" from executing because  it matched with profile rule for " + group +
                  L" . But the app has been modified after the rule was created",
              logs[0].message);
    const std::wstring T = eventTime(logs[1].message);
    EXPECT_EQ(kHeader + L" 0 0 20 HE_ApplicationAccess 0 0 1 0 0 0 18 HE_ApplicationPath 6 " + group +
                  L" 0 0 2 0 12 /lib/a.dylib 7 Changed 12 /lib/b.dylib 7 Changed " + T + L" 3",
              logs[1].detail);
    EXPECT_NE(std::wstring::npos, logs[3].detail.find(L"17 ZUV_EVENT_VALUE_1 6 " + group + L" "));
}

TEST_F(ReportManagerTest, EventsAndNotificationOncePerGroupAndKind)
{
    auto deny = [&](AppProtReport r, bool notify) {
        r.setAction(false);
        reports.handleReport(r, notify);
        hub().peer.logs();
    };
    deny(execReport("/b/x", "B", 2), true);
    EXPECT_EQ(4u, newLogs().size());
    waitCommands(1);
    auto alerts = newAlerts();
    ASSERT_EQ(1u, alerts.size());
    EXPECT_EQ(60000, alerts[0].commandId);
    EXPECT_EQ(102, alerts[0].destination);
    EXPECT_FALSE(alerts[0].flag);
    EXPECT_EQ(3, alerts[0].hvkId);
    EXPECT_EQ(31, alerts[0].alertType);
    const AppProtection::AppProtAlert& a = alerts[0].alert;
    EXPECT_EQ("/b/x", a.getAppName());
    EXPECT_EQ(100, a.getOperation());
    EXPECT_TRUE(!a.getAction());
    EXPECT_EQ(0, a.getSockAddr().sin_port);
    EXPECT_EQ(0u, a.getSockAddr().sin_addr.s_addr);
    EXPECT_EQ(1, a.getNWProtocol());
    EXPECT_EQ(0, a.getTimeout());
    EXPECT_EQ(0, a.getCookie());
    EXPECT_FALSE(a.getAlways());
    EXPECT_FALSE(a.getAllowNetwork());

    deny(execReport("/b/y", "B", 2), true);
    EXPECT_EQ(5u, newLogs().size()) << "the line only";
    deny(networkReport("/b/x", "B", 2, AppProtection::OUTGOING_CONNECTION, "10.0.0.5", 443), true);
    EXPECT_EQ(9u, newLogs().size()) << "the line and network events";
    waitCommands(2);
    EXPECT_EQ(103, newAlerts()[1].alert.getOperation());
    deny(networkReport("/b/y", "B", 2, AppProtection::INCOMING_CONNECTION, "10.0.0.5", 443), true);
    EXPECT_EQ(10u, newLogs().size());

    // A denial the user chose: line and events, no notification.
    deny(execReport("/c", "/c", 4), false);
    EXPECT_EQ(14u, newLogs().size());
    hub().peer.commands();
    EXPECT_EQ(2u, newCommands().size());
}

} // namespace
