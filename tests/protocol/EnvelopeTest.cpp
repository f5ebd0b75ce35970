// Envelope headers, ownership and the failure roads of payload reading.
#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <type_traits>

#include <boost/archive/archive_exception.hpp>
#include <gtest/gtest.h>

#include "AppProtRecords.h"
#include "CommandData.h"
#include "LogRequest.h"
#include "ReportRecords.h"

using namespace AppProtection;
using HVO::PayloadAccess;

static_assert(!std::is_copy_constructible<HVO::CommandData>::value, "envelopes own archives");
static_assert(!std::is_copy_assignable<HVO::CommandData>::value, "envelopes own archives");
static_assert(!std::is_copy_constructible<HVO::CommandResult>::value, "envelopes own archives");
static_assert(!std::is_copy_assignable<HVO::CommandResult>::value, "envelopes own archives");
static_assert(!std::is_copy_constructible<ReporterData>::value, "owns its text");
static_assert(!std::is_copy_assignable<ReporterData>::value, "owns its text");
static_assert(!std::is_copy_constructible<HVO::LogRequest>::value, "owns archives");
static_assert(!std::is_copy_assignable<HVO::LogRequest>::value, "owns archives");

namespace {

struct HeaderCase {
    const char* name;
    HVO::BasicCommandData header;
    int commandId;
    uint32_t w1;
    int w2, dest;
    bool flag;
    int w3;
};

void expectHeader(const HVO::BasicCommandData& h, int id, uint32_t w1, int w2, int dest, bool flag, int w3)
{
    EXPECT_EQ(id, h.getCommandId());
    EXPECT_EQ(w1, h.getBrokerWord1());
    EXPECT_EQ(w2, h.getBrokerWord2());
    EXPECT_EQ(dest, h.getDestinationId());
    EXPECT_EQ(flag, h.getCommandFlag());
    EXPECT_EQ(w3, h.getBrokerWord3());
}

TEST(Envelope, Headers)
{
    {
        SCOPED_TRACE("default");
        expectHeader(HVO::BasicCommandData(), -1, 0, -1, -1, false, -1);
    }
    {
        SCOPED_TRACE("firewall command");
        HVO::CommandData c(10200, FIREWALL_SERVICE_HVK_ID, false);
        expectHeader(c, 10200, 0, -1, 4, false, -1);
        EXPECT_FALSE(PayloadAccess::hasData(c));
        EXPECT_TRUE(PayloadAccess::hasOutput(c));
        EXPECT_FALSE(PayloadAccess::hasInput(c));
    }
    {
        SCOPED_TRACE("reply copies all six fields");
        HVO::CommandData c(20004, 3, true);
        PayloadAccess::setBrokerWords(c, 7, 8, 9);
        HVO::CommandResult r;
        EXPECT_TRUE(r.getCommandStatus());
        EXPECT_TRUE(r.getCommandCompleted());
        expectHeader(r.getBasicCommandData(), -1, 0, -1, -1, false, -1);
        r.setBasicCommandData(c);
        expectHeader(r.getBasicCommandData(), 20004, 7, 8, 3, true, 9);
    }
}

TEST(Envelope, WithoutArchivesNothingMoves)
{
    // A log request has neither side: writes vanish, reads leave the value.
    HVO::LogRequest log(3, HVO::LOG_TYPE_RECENT_EVENT, HVO::HVK_LOG_LEVEL_1);
    int v = 5;
    log.setCustomData(v);
    EXPECT_FALSE(PayloadAccess::hasData(log));
    log.getCustomData(v);
    EXPECT_EQ(5, v);
    // A reply nobody filled: the value stays and the status reads success.
    HVO::CommandResult r;
    AppProtPrefsData p;
    p.setPromptTimeout(9);
    r.getCustomData(p);
    EXPECT_EQ(9, p.getPromptTimeout());
    EXPECT_TRUE(r.getCommandStatus());
}

TEST(Envelope, SecondReadThrowsFirstStays)
{
    HVO::CommandData sent(20006, 3, false);
    int first = 42;
    sent.setCustomData(first);
    HVO::CommandResult received;
    PayloadAccess::setInput(received, PayloadAccess::outputText(sent));
    int a = 0;
    received.getCustomData(a);
    EXPECT_EQ(42, a);
    int b = 7;
    EXPECT_ANY_THROW(received.getCustomData(b));
    EXPECT_EQ(42, a);
}

TEST(Envelope, BadTextsThrow)
{
    struct Case {
        const char* name;
        std::wstring text;
        bool headerThrows;
    };
    const Case cases[] = {
        {"empty", L"", true},
        {"not an archive", L"hello world", true},
        {"newer library", L"22 serialization::archive 99 0 0 300", true},
        {"truncated record", L"22 serialization::archive 18 0 0 300 1", false},
        {"garbled number", L"22 serialization::archive 18 0 0 x 1 1 1 0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HVO::CommandResult r;
        if (c.headerThrows) {
            EXPECT_ANY_THROW(PayloadAccess::setInput(r, c.text));
            continue;
        }
        PayloadAccess::setInput(r, c.text);
        AppProtPrefsData p;
        EXPECT_ANY_THROW(r.getCustomData(p));
    }
}

/// A received ReporterData whose custom text is `alertText`.
void loadReporter(ReporterData& rep, const std::wstring& alertText)
{
    HVO::CommandResult r;
    PayloadAccess::setInput(r, L"22 serialization::archive 18 0 0 3 32 " + std::to_wstring(alertText.size()) + L" " +
                                   alertText);
    r.getCustomData(rep);
}

AppProtAlert alertFromText(const std::wstring& alertText)
{
    ReporterData rep;
    loadReporter(rep, alertText);
    AppProtAlert a;
    a.setCookie(-5);
    rep.getAlertCustomData(a);
    return a;
}

TEST(Envelope, AlertActionCodes)
{
    struct Case {
        int code;
        int want; // 1 true, 0 false, 3 indeterminate
    };
    const Case cases[] = {{1, 1}, {2, 0}, {3, 3}, {7, 3}, {0, 3}, {-1, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        AppProtAlert a = alertFromText(L"22 serialization::archive 18 0 0 6 /bin/a 100 " + std::to_wstring(c.code) +
                                       L" 80 0 2 60 77 1 0");
        if (c.want == 3)
            EXPECT_TRUE(boost::logic::indeterminate(a.getAction()));
        else
            EXPECT_EQ(c.want == 1, static_cast<bool>(a.getAction() == true));
        EXPECT_EQ(77, a.getCookie());
        EXPECT_EQ(NW_UDP, a.getNWProtocol());
        EXPECT_EQ("UDP", a.getNWProtocolString());
    }
}

TEST(Envelope, BadCustomTextsThrowKeepingFieldsRead)
{
    // A non-alert text throws; the fields read before the failure stay.
    ReporterData rep;
    loadReporter(rep, L"22 serialization::archive 18 0 0 6 /bin/a 103 x");
    AppProtAlert partial;
    partial.setCookie(-5);
    EXPECT_ANY_THROW(rep.getAlertCustomData(partial));
    EXPECT_EQ("/bin/a", partial.getAppName());
    EXPECT_EQ(OUTGOING_CONNECTION, partial.getOperation());
    EXPECT_EQ(-5, partial.getCookie());

    // Custom text that is not UTF-8 is refused by the converter, not read.
    HVO::CommandResult latin;
    PayloadAccess::setInput(latin, L"22 serialization::archive 18 0 0 3 32 5 caf\x00e9!");
    ReporterData badText;
    latin.getCustomData(badText);
    EXPECT_THROW(badText.getAlertCustomData(partial), std::runtime_error);

    // A text the converter would cut short is refused; the old text stays.
    AppProtAlert good;
    good.setCookie(5);
    ReporterData keeps;
    keeps.setAlertCustomData(good);
    AppProtAlert withZero;
    withZero.setAppName(std::string("/tmp/a\0b", 8));
    EXPECT_THROW(keeps.setAlertCustomData(withZero), std::runtime_error);
    AppProtAlert back;
    keeps.getAlertCustomData(back);
    EXPECT_EQ(5, back.getCookie());

    // The empty text a new ReporterData holds throws like any bad text.
    ReporterData empty;
    EXPECT_ANY_THROW(empty.getAlertCustomData(partial));
}

TEST(Envelope, ReportTextForms)
{
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    inet_pton(AF_INET, "192.0.2.7", &addr.sin_addr);
    addr.sin_port = 8080;
    AppProtBasicReport r("/bin/a", OUTGOING_CONNECTION, addr, NW_TCP);
    EXPECT_EQ("192.0.2.7:8080", r.getIPDetailsString());
    EXPECT_EQ("TCP", r.getNWProtocolString());
    AppProtBasicReport zero;
    EXPECT_EQ("0.0.0.0:0", zero.getIPDetailsString());
    EXPECT_TRUE(static_cast<bool>(zero.getAction()));
    EXPECT_EQ(EXEC_ACTION, zero.getOperation());
    addr.sin_port = 65535;
    r.setSockAddr(addr);
    EXPECT_EQ("192.0.2.7:65535", r.getIPDetailsString());
}

TEST(Envelope, SettersMergeAndNeverClear)
{
    AboutBoxData about;
    about.setAboutBoxDisplayContents({{L"a", L"1"}, {L"b", L"2"}});
    about.setAboutBoxDisplayContents({{L"b", L"3"}, {L"c", L"4"}});
    std::map<std::wstring, std::wstring> want{{L"a", L"1"}, {L"b", L"3"}, {L"c", L"4"}};
    EXPECT_EQ(want, about.getAboutBoxDisplayContents());
    about.setAboutBoxDisplayContents({});
    EXPECT_EQ(want, about.getAboutBoxDisplayContents());

    DashBoardData dash;
    DashBoardDispalyContents e;
    EXPECT_EQ(DASHBOARD_UNKNOWN, e.getStatus());
    dash.setDashBoardDispalyData({{L"k1", e}});
    e.setStatus(DASHBOARD_ENABLED);
    dash.setDashBoardDispalyData({{L"k2", e}});
    EXPECT_EQ(2u, dash.getDashBoardDispalyData().size());
}

} // namespace
