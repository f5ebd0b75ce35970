// A module for the broker's process tests: registers with hvod, answers a
// table of command ids and records every call (with whether it ran on the
// main thread) as one line in a file.
//
//   hvo_test_peer --record FILE [--id N]
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>

#include <clocale>

#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "AppProtRecords.h"
#include "HVOCommBroker.h"
#include "PeerCommands.h"
#include "ReportRecords.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

const char* kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
std::thread::id g_mainThread;
FILE* g_record = nullptr;
std::mutex g_recordMutex;
HVO::HVOCommBroker* g_broker = nullptr;

void record(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_recordMutex);
    std::fprintf(g_record, "%s main=%d\n", line.c_str(), std::this_thread::get_id() == g_mainThread ? 1 : 0);
    std::fflush(g_record);
}

void answerWith(HVO::CommandData& command, const std::wstring* text, bool status = true)
{
    HVO::CommandResult reply;
    reply.setBasicCommandData(command);
    reply.setCommandStatus(status);
    if (text != nullptr)
        HVO::PayloadAccess::setOutputText(reply, *text);
    g_broker->sendCommandResponse(reply);
}

class Peer : public HVO::CommandInterface, public HVO::HealthCheckInterface {
public:
    bool handleCommand(HVO::CommandData& command) override
    {
        int id = command.getCommandId();
        record("command " + std::to_string(id) + " from " + std::to_string(command.getBrokerWord2()));
        switch (id) {
        case peercmd::GET_PREFS: {
            AppProtection::AppProtPrefsData p;
            p.setPromptTimeout(60);
            p.setUnknownAppAction(3);
            p.setAllowAppleSignedBinaries(false);
            p.setEnableAppProtection(true);
            p.setCustomNetworkAction(true);
            HVO::CommandResult reply;
            reply.setBasicCommandData(command);
            reply.setCustomData(p);
            g_broker->sendCommandResponse(reply);
            return true;
        }
        case peercmd::ECHO: {
            const std::wstring echo = HVO::PayloadAccess::inputText(command);
            answerWith(command, HVO::PayloadAccess::hasInput(command) ? &echo : nullptr);
            return true;
        }
        case peercmd::SILENT:
            return true;
        case peercmd::THROW:
            throw std::runtime_error("handler failed");
        case peercmd::REFUSE:
            return false;
        case peercmd::LATE_3S:
            std::this_thread::sleep_for(std::chrono::seconds(3));
            answerWith(command, nullptr);
            return true;
        case peercmd::LATE_1500MS:
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            answerWith(command, nullptr);
            return true;
        case peercmd::EXIT:
            std::fflush(nullptr);
            _exit(0);
        case peercmd::TWICE:
            answerWith(command, nullptr);
            answerWith(command, nullptr, false);
            return true;
        case peercmd::SEND_ALERT: {
            sockaddr_in addr;
            std::memset(&addr, 0, sizeof addr);
            addr.sin_port = 8080;
            addr.sin_addr.s_addr = 117571776;
            AppProtection::AppProtAlert alert("/opt/x/\xc3\xa9", AppProtection::EXEC_ACTION, addr,
                                              AppProtection::NW_TCP);
            alert.setTimeout(60);
            alert.setCookie(77);
            ReporterData rep;
            rep.setHvkId(3);
            rep.setAlertType(ALERT_TYPE_ALERT);
            rep.setAlertCustomData(alert);
            HVO::CommandData alertCommand(60001, REPORTER_HVK_ID, false);
            alertCommand.setCustomData(rep);
            auto before = std::chrono::steady_clock::now();
            g_broker->sendCommand(alertCommand, nullptr, false, 45);
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
            record("alert sent in " + std::to_string(ms.count()) + " ms");
            answerWith(command, nullptr);
            return true;
        }
        case peercmd::READ_STRINGS: {
            std::vector<std::wstring> strings;
            bool read = true;
            try {
                command.getCustomData(strings);
            } catch (const boost::archive::archive_exception& e) {
                record(std::string("refused ") + e.what());
                read = false;
            }
            answerWith(command, nullptr, read);
            return true;
        }
        default:
            return true;
        }
    }

    void handleCommandResponse(HVO::CommandResult& result) override
    {
        auto h = result.getBasicCommandData();
        std::string line = "response " + std::to_string(h.getCommandId()) + " status " +
                           std::to_string(result.getCommandStatus()) + " completed " +
                           std::to_string(result.getCommandCompleted());
        if (h.getCommandId() == 60001 && result.getCommandStatus() && result.getCommandCompleted()) {
            try {
                ReporterData rep;
                result.getCustomData(rep);
                AppProtection::AppProtAlert alert;
                rep.getAlertCustomData(alert);
                line += " cookie " + std::to_string(alert.getCookie()) + " always " +
                        std::to_string(alert.getAlways()) + " action " +
                        (alert.getAction() ? "true" : (!alert.getAction() ? "false" : "indeterminate")) +
                        " app " + alert.getAppName();
            } catch (const std::exception& e) {
                line += std::string(" unreadable ") + e.what();
            }
        }
        record(line);
    }

    bool handleHealthCheck() override
    {
        record("health");
        return true;
    }
};

void onTerm(int)
{
    g_broker->stop();
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    g_mainThread = std::this_thread::get_id();
    const char* recordPath = nullptr;
    int id = APP_PROTECTION_HVK_ID;
    bool stopFirst = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--record") == 0)
            recordPath = argv[i + 1];
        else if (std::strcmp(argv[i], "--id") == 0)
            id = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--stop-first") == 0)
            stopFirst = true;
    }
    if (recordPath == nullptr || (g_record = std::fopen(recordPath, "a")) == nullptr)
        return 2;
    if (stopFirst) {
        // Release without a broker, stop before start: start returns at once.
        HVO::HVOCommBroker::releaseInstance();
        HVO::HVOCommBroker::releaseInstance();
        g_broker = HVO::HVOCommBroker::getInstance(kSocket);
        g_broker->setHVKId(id);
        g_broker->stop();
        auto t0 = std::chrono::steady_clock::now();
        g_broker->start(false);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
        record("start returned after " + std::to_string(ms.count()) + " ms");
        try {
            g_broker->start(false);
        } catch (const HVO::HVOException& e) {
            record("second start: " + e.getExceptionMsg());
        }
        HVO::HVOCommBroker::releaseInstance();
        HVO::HVOCommBroker::releaseInstance();
        record("released");
        return 0;
    }
    Peer peer;
    int rc = 0;
    try {
        g_broker = HVO::HVOCommBroker::getInstance(kSocket);
        g_broker->setHVKId(id);
        g_broker->setCommandInterface(&peer);
        g_broker->setHealthCheckInterface(&peer);
        struct sigaction sa {};
        sa.sa_handler = onTerm;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        record("starting");
        g_broker->start(false);
        record("start returned");
    } catch (const HVO::HVOException& e) {
        record(std::string("exception ") + e.getExceptionMsg());
        rc = 3;
    }
    HVO::HVOCommBroker::releaseInstance();
    HVO::HVOCommBroker::releaseInstance();
    record("released");
    return rc;
}
