// Exact archive texts of the payloads, and round trips of every payload type
// through a received envelope.
#include <arpa/inet.h>
#include <cstring>

#include <map>
#include <string>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#include "AppProtError.h"
#include "AppProtRecords.h"
#include "CommandData.h"
#include "ReportRecords.h"

using namespace AppProtection;
using HVO::PayloadAccess;

namespace {

const std::wstring kHeader = L"22 serialization::archive 18";

sockaddr_in peer(const char* dotted, uint16_t heldPort)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    inet_pton(AF_INET, dotted, &a.sin_addr);
    a.sin_port = heldPort; // as held: the port number itself
    return a;
}

AppProtAlert sampleAlert()
{
    AppProtAlert a("/opt/x/app", EXEC_ACTION, peer("192.0.2.7", 8080), NW_TCP);
    a.setAction(boost::logic::indeterminate);
    a.setTimeout(60);
    a.setCookie(77);
    a.setAlways(false);
    a.setAllowNetwork(true);
    return a;
}

const std::wstring kAlertText = kHeader + L" 0 0 10 /opt/x/app 100 3 8080 117571776 1 60 77 0 1";

template <class T> std::wstring payloadText(T value)
{
    HVO::CommandData c(20000, 3, false);
    c.setCustomData(value);
    EXPECT_TRUE(PayloadAccess::hasData(c));
    return PayloadAccess::outputText(c);
}

/// A report whose clock reads a fixed time.
struct FixedReport : ReportData {
    FixedReport() { time = 1700000000; }
};
struct FixedDetail : DetailReportData {
    FixedDetail() { time = 1700000000; }
};

TEST(PayloadText, ExactTexts)
{
    {
        HVO::CommandData c(20004, 3, false);
        EXPECT_FALSE(PayloadAccess::hasData(c));
        EXPECT_EQ(kHeader, PayloadAccess::outputText(c));
    }
    EXPECT_EQ(kHeader + L" 0 0 300 1 1 1 0", payloadText(AppProtPrefsData()));
    EXPECT_EQ(kAlertText, payloadText(sampleAlert()));
    {
        ReporterData r;
        r.setHvkId(3);
        r.setAlertType(ALERT_TYPE_ALERT);
        AppProtAlert a = sampleAlert();
        r.setAlertCustomData(a);
        HVO::CommandData c(60001, REPORTER_HVK_ID, false);
        c.setCustomData(r);
        ASSERT_EQ(79u, kAlertText.size());
        EXPECT_EQ(kHeader + L" 0 0 3 32 79 " + kAlertText, PayloadAccess::outputText(c));
    }
    EXPECT_EQ(kHeader + L" 0 0 3 0 20000 20015 20000",
              payloadText(std::vector<AppProtError>{SUCCESS, ENTRY_NOT_FOUND, SUCCESS}));
}

TEST(PayloadText, EventRecordTexts)
{
    FixedReport r;
    r.setName(L"HE_ApplicationName");
    r.setKind(L"HE_ApplicationAccess");
    r.setHvkId(3);
    EXPECT_EQ(kHeader + L" 0 0 4294967295 18 HE_ApplicationName 20 HE_ApplicationAccess 1700000000 3",
              r.toWstring());

    FixedDetail d;
    d.setTitle(L"HE_ApplicationAccess");
    d.setHeader({{L"HE_ApplicationPath", L"/bin/a"}});
    d.setDetail({{L"/usr/lib/a.dylib", L"Changed"}, {L"/usr/lib/a.dylib", L"Changed"}});
    d.setHvkId(3);
    EXPECT_EQ(kHeader + L" 0 0 20 HE_ApplicationAccess 0 0 1 0 0 0 18 HE_ApplicationPath 6 /bin/a"
                        L" 0 0 2 0 16 /usr/lib/a.dylib 7 Changed 16 /usr/lib/a.dylib 7 Changed 1700000000 3",
              d.toWstring());
}

TEST(PayloadText, NewReportCarriesAllBitsAndNow)
{
    time_t before = time(nullptr);
    ReportData r;
    std::wstring t = r.toWstring();
    EXPECT_EQ(0u, t.find(kHeader + L" 0 0 4294967295 0  0  "));
    long stamp = std::stol(t.substr(t.rfind(L"  ") + 2));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, time(nullptr));
}

/// Writes `value` into a request, hands its text to a received envelope and
/// reads it back.
template <class T> T roundTrip(T value)
{
    HVO::CommandData sent(1, 3, false);
    sent.setCustomData(value);
    HVO::CommandResult received;
    PayloadAccess::setInput(received, PayloadAccess::outputText(sent));
    T back{};
    received.getCustomData(back);
    return back;
}

int actionCode(boost::logic::tribool t)
{
    return t ? 1 : (!t ? 2 : 3);
}

bool sameAlert(const AppProtAlert& a, const AppProtAlert& b)
{
    auto sa = a.getSockAddr(), sb = b.getSockAddr();
    return a.getAppName() == b.getAppName() && a.getOperation() == b.getOperation() &&
           actionCode(a.getAction()) == actionCode(b.getAction()) &&
           sa.sin_port == sb.sin_port && sa.sin_addr.s_addr == sb.sin_addr.s_addr &&
           a.getNWProtocol() == b.getNWProtocol() && a.getTimeout() == b.getTimeout() &&
           a.getCookie() == b.getCookie() && a.getAlways() == b.getAlways() &&
           a.getAllowNetwork() == b.getAllowNetwork();
}

TEST(PayloadRoundTrip, EveryRecordType)
{
    EXPECT_EQ(ENTRY_NOT_FOUND, roundTrip(ENTRY_NOT_FOUND));
    std::vector<AppProtError> codes{SUCCESS, PREFERENCES_STORE_FAILED};
    EXPECT_EQ(codes, roundTrip(codes));
    std::vector<std::string> paths{"/opt/caf\xc3\xa9", "", "a b", "\xe9"};
    EXPECT_EQ(paths, roundTrip(paths));

    AppProtPrefsData p;
    p.setPromptTimeout(17);
    p.setUnknownAppAction(3);
    p.setAllowAppleSignedBinaries(false);
    p.setEnableAppProtection(false);
    p.setCustomNetworkAction(true);
    AppProtPrefsData pb = roundTrip(p);
    EXPECT_EQ(17, pb.getPromptTimeout());
    EXPECT_EQ(3, pb.getUnknownAppAction());
    EXPECT_FALSE(pb.getAllowAppleSignedBinaries());
    EXPECT_FALSE(pb.getEnableAppProtection());
    EXPECT_TRUE(pb.getCustomNetworkAction());

    for (boost::logic::tribool action :
         {boost::logic::tribool(true), boost::logic::tribool(false), boost::logic::tribool(boost::logic::indeterminate)}) {
        AppProtAlert a = sampleAlert();
        a.setAction(action);
        a.setAlways(true);
        EXPECT_TRUE(sameAlert(a, roundTrip(a)));
    }

    DashBoardData dash;
    dash.setHvkId(3);
    DashBoardDispalyContents entry;
    entry.setDisplayString(L"RISK_STRING");
    entry.setStatus(DASHBOARD_RISK);
    dash.setDashBoardDispalyData({{L"APPLICATION_PROTECTION_STATUS_KEY", entry}});
    DashBoardData dashBack = roundTrip(dash);
    EXPECT_EQ(3, dashBack.getHvkId());
    auto m = dashBack.getDashBoardDispalyData();
    ASSERT_EQ(1u, m.size());
    EXPECT_EQ(L"RISK_STRING", m.begin()->second.getDisplayString());
    EXPECT_EQ(DASHBOARD_RISK, m.begin()->second.getStatus());

    AboutBoxData about;
    about.setHvkId(3);
    about.setAboutBoxDisplayContents({{L"Application_Protection_Version", L"1.0 (7)"}, {L"x", L"\x00e9\x20ac"}});
    AboutBoxData aboutBack = roundTrip(about);
    EXPECT_EQ(3, aboutBack.getHvkId());
    EXPECT_EQ(about.getAboutBoxDisplayContents(), aboutBack.getAboutBoxDisplayContents());
}

TEST(PayloadRoundTrip, ReporterDataCarriesTheAlert)
{
    AppProtAlert a = sampleAlert();
    a.setAppName("/tmp/\xc3\xa9t\xe9"); // valid and invalid UTF-8 bytes alike
    HVO::CommandData sent(60001, REPORTER_HVK_ID, false);
    {
        ReporterData r;
        r.setHvkId(3);
        r.setAlertType(ALERT_TYPE_ALERT);
        r.setAlertCustomData(a);
        sent.setCustomData(r);
    }
    HVO::CommandResult received;
    PayloadAccess::setInput(received, PayloadAccess::outputText(sent));
    ReporterData r;
    received.getCustomData(r);
    EXPECT_EQ(3, r.getHvkId());
    EXPECT_EQ(ALERT_TYPE_ALERT, r.getAlertType());
    AppProtAlert back;
    r.getAlertCustomData(back);
    EXPECT_TRUE(sameAlert(a, back));
    EXPECT_EQ(std::string("/tmp/\xc3\xa9t\xe9"), back.getAppName());
}

} // namespace
