// alertclient: a module-102 client on libhvohelpers that answers the
// daemon's alerts with one scripted reply.
//
//   alertclient --record FILE [--action CODE] [--allow-network 0|1]
//               [--always 0|1] [--app NAME] [--cookie N] [--after N] [--unreadable]
//
// Each command that comes is recorded as "ID COOKIE" (cookie -1 when it
// carries no readable alert). Once the N-th alert (default 1) has come, the
// first alert is answered once: the alert as received, with the action code
// (1 true, 2 false, 3 indeterminate; default 1), the two flags and, when
// given, another application name or cookie. --unreadable answers with a
// complete reply whose payload is no reporter record. Later alerts go
// unanswered. SIGTERM ends the client.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <clocale>
#include <mutex>
#include <string>
#include <vector>

#include "AppProtRecords.h"
#include "HVOCommBroker.h"
#include "ReportRecords.h"

namespace {

const char* kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
constexpr int kAlertCommand = 60001;

struct Script {
    int action = 1;
    bool allowNetwork = false;
    bool always = false;
    bool unreadable = false;
    bool haveApp = false;
    std::string app;
    bool haveCookie = false;
    int cookie = 0;
    int after = 1;
};

class Client : public HVO::CommandInterface {
public:
    Client(const Script& script, FILE* out) : m_script(script), m_out(out) {}

    bool handleCommand(HVO::CommandData& command) override
    {
        AppProtection::AppProtAlert alert;
        bool readable = false;
        if (command.getCommandId() == kAlertCommand || command.getCommandId() == 60000) {
            try {
                ReporterData reporter;
                command.getCustomData(reporter);
                reporter.getAlertCustomData(alert);
                readable = true;
            } catch (const std::exception&) {
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        std::fprintf(m_out, "%d %d\n", command.getCommandId(), readable ? alert.getCookie() : -1);
        std::fflush(m_out);
        if (command.getCommandId() != kAlertCommand || !readable)
            return true;
        if (m_alerts.empty())
            m_first = command;
        m_alerts.push_back(alert);
        if (static_cast<int>(m_alerts.size()) == m_script.after)
            answer(m_first, m_alerts.front());
        return true;
    }

    void handleCommandResponse(HVO::CommandResult&) override {}

private:
    void answer(const HVO::BasicCommandData& header, AppProtection::AppProtAlert alert)
    {
        HVO::CommandResult reply;
        reply.setBasicCommandData(header);
        if (m_script.unreadable) {
            // A whole archive whose first field is no number.
            HVO::PayloadAccess::setOutputText(reply, L"22 serialization::archive 18 x");
        } else {
            alert.setAction(m_script.action == 1   ? boost::logic::tribool(true)
                            : m_script.action == 2 ? boost::logic::tribool(false)
                                                   : boost::logic::tribool(boost::logic::indeterminate));
            alert.setAllowNetwork(m_script.allowNetwork);
            alert.setAlways(m_script.always);
            if (m_script.haveApp)
                alert.setAppName(m_script.app);
            if (m_script.haveCookie)
                alert.setCookie(m_script.cookie);
            ReporterData reporter;
            reporter.setHvkId(102);
            reporter.setAlertType(ALERT_TYPE_ALERT);
            reporter.setAlertCustomData(alert);
            reply.setCustomData(reporter);
        }
        HVO::HVOCommBroker::getInstance(kSocket)->sendCommandResponse(reply);
        std::fprintf(m_out, "answered %d\n", alert.getCookie());
        std::fflush(m_out);
    }

    const Script m_script;
    FILE* m_out;
    std::mutex m_mutex; // guards the alerts and m_out
    HVO::BasicCommandData m_first;
    std::vector<AppProtection::AppProtAlert> m_alerts;
};

HVO::HVOCommBroker* g_broker = nullptr;

void onTerm(int)
{
    if (g_broker)
        g_broker->stop();
}

int usage()
{
    std::fprintf(stderr, "usage: alertclient --record FILE [--action CODE] [--allow-network 0|1] [--always 0|1]\n"
                         "                   [--app NAME] [--cookie N] [--after N] [--unreadable]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::signal(SIGPIPE, SIG_IGN);
    Script script;
    std::string record;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool value = i + 1 < argc;
        if (a == "--record" && value)
            record = argv[++i];
        else if (a == "--action" && value)
            script.action = std::atoi(argv[++i]);
        else if (a == "--allow-network" && value)
            script.allowNetwork = std::atoi(argv[++i]) != 0;
        else if (a == "--always" && value)
            script.always = std::atoi(argv[++i]) != 0;
        else if (a == "--app" && value) {
            script.haveApp = true;
            script.app = argv[++i];
        } else if (a == "--cookie" && value) {
            script.haveCookie = true;
            script.cookie = std::atoi(argv[++i]);
        } else if (a == "--after" && value)
            script.after = std::atoi(argv[++i]);
        else if (a == "--unreadable")
            script.unreadable = true;
        else
            return usage();
    }
    if (record.empty() || script.after < 1)
        return usage();
    FILE* out = std::fopen(record.c_str(), "a");
    if (out == nullptr) {
        std::fprintf(stderr, "alertclient: cannot open %s\n", record.c_str());
        return 2;
    }
    Client client(script, out);
    int rc = 0;
    try {
        g_broker = HVO::HVOCommBroker::getInstance(kSocket);
        g_broker->setHVKId(102);
        g_broker->setCommandInterface(&client);
        struct sigaction sa {};
        sa.sa_handler = onTerm;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        g_broker->start(false);
    } catch (const HVO::HVOException& e) {
        std::fprintf(stderr, "alertclient: %s\n", e.getExceptionMsg().c_str());
        rc = 2;
    }
    HVO::HVOCommBroker::releaseInstance();
    std::fclose(out);
    return rc;
}
