// The alert exchange: the alert sent to module 102, the user's answers
// applied (kernel answer, process network action, "always" rules), and the
// clears and failures that answer every request exactly once.
#include "ServicesTestSupport.h"

namespace {

using namespace servicestest;
using AppProtection::AlertManager;
using AppProtection::AppProtAlert;
using AppProtection::BasicAppRecord;
using Answers = std::vector<std::tuple<int, int, int>>;

class AlertManagerTest : public ServicesTest {
protected:
    void SetUp() override
    {
        ServicesTest::SetUp();
        putInt("UnknownAppAction", 3);
        putInt("PromptTimeout", 60);
        folder = apps({"U", "R", "D"});
        U = folder + "/U";
    }

    /// The worker's part: the process recorded, then the alert.
    SentAlert ask(int pid, int cookie, const std::string& path)
    {
        controller->processHelper().addProcessPid(path, pid);
        ScanRequest r = request(pid, 100, cookie, path);
        const size_t before = newCommands().size();
        AlertManager::getInstance()->sendAlert(r);
        EXPECT_TRUE(eventually([&] { return newCommands().size() > before; }));
        return newAlerts().back();
    }

    static AppProtAlert answer(const SentAlert& sent, boost::logic::tribool action, bool allowNetwork, bool always)
    {
        AppProtAlert a = sent.alert;
        a.setAction(action);
        a.setAllowNetwork(allowNetwork);
        a.setAlways(always);
        return a;
    }

    /// The answers queued once `n` came (or 10 s passed).
    Answers waitAnswers(size_t n)
    {
        Answers got;
        eventually([&] {
            Answers more = answers();
            got.insert(got.end(), more.begin(), more.end());
            return got.size() >= n;
        });
        return got;
    }

    /// Waits until the answer being applied is done: the alert mutex is
    /// held across it. Only for tests with nothing else pending.
    static void settle() { AlertManager::getInstance()->clearAllAlerts(false); }

    std::vector<std::pair<std::string, std::string>> groups()
    {
        std::vector<std::pair<std::string, std::string>> out;
        for (const BasicAppRecord& r : controller->getAllProfileRules(false))
            out.emplace_back(r.getAppPath(), r.getAppGroup());
        return out;
    }

    std::string folder, U;
};

TEST_F(AlertManagerTest, AlertCarriesTheRequest)
{
    start();
    const SentAlert sent = ask(4242, 77, U);
    EXPECT_EQ(60001, sent.commandId);
    EXPECT_EQ(102, sent.destination);
    EXPECT_FALSE(sent.flag);
    EXPECT_FALSE(hub().peer.commands().back().waited);
    EXPECT_EQ(3, sent.hvkId);
    EXPECT_EQ(32, sent.alertType);
    EXPECT_EQ(U, sent.alert.getAppName());
    EXPECT_EQ(100, sent.alert.getOperation());
    EXPECT_TRUE(sent.alert.getAction() == true);
    EXPECT_EQ(0, sent.alert.getSockAddr().sin_port);
    EXPECT_EQ(0u, sent.alert.getSockAddr().sin_addr.s_addr);
    EXPECT_EQ(0, sent.alert.getNWProtocol());
    EXPECT_EQ(60, sent.alert.getTimeout());
    EXPECT_EQ(77, sent.alert.getCookie());
    EXPECT_FALSE(sent.alert.getAlways());
    EXPECT_FALSE(sent.alert.getAllowNetwork());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Answers{}, answers()) << "pending until 102 answers";
}

TEST_F(AlertManagerTest, AnswersApplied)
{
    struct Case {
        const char* what;
        boost::logic::tribool action;
        bool allowNetwork, always;
        int result, network;
        bool processNetwork; // what the process cache then answers
    } cases[] = {
        {"allow", true, false, false, 1, 2, false},
        {"allow-net", true, true, false, 1, 1, true},
        {"deny", false, false, false, 2, 2, false},
        {"action code 3 (indeterminate)", boost::logic::indeterminate, true, false, 2, 1, true},
    };
    start();
    int cookie = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppProtection::StatsManager::releaseInstance();
        const int pid = 5000 + cookie;
        const SentAlert sent = ask(pid, ++cookie, U);
        const size_t logs = newLogs().size();
        answerAlert(sent, answer(sent, c.action, c.allowNetwork, c.always));
        EXPECT_EQ((Answers{{cookie, c.result, c.network}}), waitAnswers(1));
        settle();
        EXPECT_EQ(c.processNetwork, controller->processHelper().getNetworkActionFromPid(pid));
        hub().peer.logs();
        auto after = newLogs();
        if (c.result == 2) {
            // The unknown-deny line and the three events; no notification.
            ASSERT_EQ(logs + 4, after.size());
            EXPECT_EQ(L"Denied " + std::wstring(U.begin(), U.end()) +
                          L" from executing because  unknown applications are blocked as per the settings",
                      after[logs].message);
        } else {
            EXPECT_EQ(logs, after.size());
        }
        EXPECT_EQ(60001, newAlerts().back().commandId) << "no 60000";
        EXPECT_TRUE(groups().empty()) << "no rule";
    }
}

TEST_F(AlertManagerTest, AlwaysAnswersStoreARule)
{
    start();
    const SentAlert deny = ask(1, 1, U);
    answerAlert(deny, answer(deny, false, false, true));
    EXPECT_EQ((Answers{{1, 2, 2}}), waitAnswers(1));
    settle();
    auto rules = controller->getAllProfileRules(true);
    ASSERT_EQ(1u, rules.size());
    EXPECT_EQ(U, rules.front().getAppPath());
    EXPECT_EQ(U, rules.front().getAppGroup());
    EXPECT_FALSE(rules.front().getExecAllowed());
    EXPECT_EQ(BasicAppRecord::NW_ACTION_BLOCK_ALL, rules.front().getNwAction());
    EXPECT_TRUE(rules.front().getEnabled());

    // The same executable again, allowed with the network: its rule is
    // updated in place.
    const SentAlert allow = ask(2, 2, U);
    answerAlert(allow, answer(allow, true, true, true));
    EXPECT_EQ((Answers{{2, 1, 1}}), waitAnswers(1));
    settle();
    rules = controller->getAllProfileRules(false);
    ASSERT_EQ(1u, rules.size());
    EXPECT_TRUE(rules.front().getExecAllowed());
    EXPECT_EQ(BasicAppRecord::NW_ACTION_ALLOW_ALL, rules.front().getNwAction());
    // The next launch follows the rule: allowed with the network, no alert.
    const size_t alerts = newCommands().size();
    ScanRequest next = request(4, 100, 4, U);
    controller->processRequest(next);
    EXPECT_EQ((Answers{{4, 1, 1}}), answers());
    EXPECT_EQ(alerts, newCommands().size());

    // Another name in the answer: the rule names the pending request's path.
    const SentAlert other = ask(3, 3, folder + "/R");
    AppProtAlert renamed = answer(other, true, false, true);
    renamed.setAppName("/somewhere/else");
    answerAlert(other, renamed);
    EXPECT_EQ((Answers{{3, 1, 2}}), waitAnswers(1));
    settle();
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{folder + "/R", folder + "/R"}, {U, U}}), groups());
}

TEST_F(AlertManagerTest, AlwaysAllowSplitsADisabledGroup)
{
    start();
    // Bundle B holds x and y; its rule is disabled.
    const std::string B = dir / "B";
    std::filesystem::create_directory(B);
    std::filesystem::copy_file(folder + "/R", B + "/x");
    std::filesystem::copy_file(folder + "/D", B + "/y");
    BasicAppRecord rule;
    rule.setAppPath(B + "/x");
    rule.setAppGroup(B);
    rule.setExecAllowed(false);
    rule.setNwAction(BasicAppRecord::NW_ACTION_BLOCK_ALL);
    rule.setEnabled(false);
    ASSERT_EQ(AppProtection::SUCCESS, controller->addProfileRule(rule));
    ASSERT_EQ((std::vector<std::pair<std::string, std::string>>{{B + "/x", B}, {B + "/y", B}}), groups());
    const SentAlert sent = ask(7, 7, B + "/x");
    answerAlert(sent, answer(sent, true, false, true));
    EXPECT_EQ((Answers{{7, 1, 2}}), waitAnswers(1));
    settle();
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{B + "/x", B + "/x"}, {B + "/y", B + "/y"}}),
              groups());
    for (const BasicAppRecord& r : controller->getAllProfileRules(false)) {
        if (r.getAppPath() == B + "/x") {
            EXPECT_TRUE(r.getExecAllowed() && r.getEnabled());
        }
    }
}

TEST_F(AlertManagerTest, CookiesMatchFirstAppendedAndUnknownOnesChangeNothing)
{
    start();
    const SentAlert first = ask(10, 5, U);
    const SentAlert second = ask(11, 5, U);
    const SentAlert other = ask(12, 8, U);
    AppProtAlert unknown = answer(first, true, true, false);
    unknown.setCookie(6);
    answerAlert(first, unknown);
    answerAlert(first, answer(first, true, true, false));
    EXPECT_EQ((Answers{{5, 1, 1}}), waitAnswers(1));
    EXPECT_TRUE(controller->processHelper().getNetworkActionFromPid(10));
    EXPECT_FALSE(controller->processHelper().getNetworkActionFromPid(11));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Answers{}, answers()) << "cookie 6 answered nothing; the second 5 waits";
    (void)second;
    (void)other;
}

TEST_F(AlertManagerTest, FailedIncompleteOrUnreadableRepliesDenyEveryPendingAlert)
{
    struct Case {
        const char* what;
        std::function<void(const SentAlert&)> reply;
    } cases[] = {
        {"incomplete", [](const SentAlert& s) { answerAlert(s, s.alert, false, true); }},
        {"status false", [](const SentAlert& s) { answerAlert(s, s.alert, true, false); }},
        {"complete, no payload",
         [](const SentAlert& s) {
             HVO::CommandResult reply;
             reply.setBasicCommandData(s.header);
             hub().peer.deliverResponse(reply);
         }},
        {"complete, not an alert",
         [](const SentAlert& s) {
             HVO::CommandResult reply;
             reply.setBasicCommandData(s.header);
             HVO::PayloadAccess::setOutputText(reply, kHeader + L" 0 0 102 32 5 hello");
             hub().peer.deliverResponse(reply);
         }},
    };
    start();
    int cookie = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SentAlert a = ask(20, ++cookie, U);
        const SentAlert b = ask(21, ++cookie, U);
        const size_t logs = newLogs().size();
        c.reply(a);
        // Denied with the network action they carried; nothing logged.
        EXPECT_EQ((Answers{{cookie - 1, 2, 4}, {cookie, 2, 4}}), waitAnswers(2));
        hub().peer.logs();
        EXPECT_EQ(logs, newLogs().size());
        answerAlert(b, answer(b, true, true, false));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(Answers{}, answers()) << "answered once";
    }
}

TEST_F(AlertManagerTest, NotificationRepliesChangeNothing)
{
    start();
    const SentAlert pending = ask(30, 30, U);
    HVO::CommandData notification(60000, 102, false);
    HVO::CommandResult failed;
    failed.setBasicCommandData(notification);
    failed.setCommandStatus(false);
    failed.setCommandCompleted(false);
    hub().peer.deliverResponse(failed);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Answers{}, answers());
    answerAlert(pending, answer(pending, true, false, false));
    EXPECT_EQ((Answers{{30, 1, 2}}), waitAnswers(1));
}

TEST_F(AlertManagerTest, ClearAllowsAndDestructionAllows)
{
    start();
    ask(40, 40, U);
    ask(41, 41, U);
    AlertManager::getInstance()->clearAllAlerts(true);
    EXPECT_EQ((Answers{{40, 1, 4}, {41, 1, 4}}), answers());
    AlertManager::getInstance()->clearAllAlerts(false);
    EXPECT_EQ(Answers{}, answers());
    ask(42, 42, U);
    AlertManager::releaseInstance();
    EXPECT_EQ((Answers{{42, 1, 4}}), answers());
}

} // namespace
