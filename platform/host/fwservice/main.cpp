// fwservice: the firewall service, module 4 on the command broker.
//   fwservice [--record FILE]
// Runs as root (the hub admits module 4 only from uid 0) until SIGTERM or
// SIGINT. libportward runs "ipfw" through PATH.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <string>

#include "FWCommands.h"
#include "FirewallService.h"
#include "HVOCommBroker.h"

// The trace variables libportward binds to (this program is linked -rdynamic).
FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

const char* const kSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";
HVO::HVOCommBroker* g_broker = nullptr;

void onSignal(int)
{
    if (g_broker != nullptr)
        g_broker->stop();
}

int usage()
{
    std::fprintf(stderr, "usage: fwservice [--record FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string recordPath;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--record" && i + 1 < argc)
            recordPath = argv[++i];
        else
            return usage();
    }
    FILE* record = nullptr;
    if (!recordPath.empty() && (record = std::fopen(recordPath.c_str(), "a")) == nullptr) {
        std::fprintf(stderr, "fwservice: cannot open %s\n", recordPath.c_str());
        return 2;
    }

    fwservice::ServiceState state;
    std::string problem;
    state.load(problem);
    if (!problem.empty())
        std::fprintf(stderr, "fwservice: %s; starting from the defaults\n", problem.c_str());
    fwservice::FirewallService service(state, record);

    int rc = 0;
    try {
        g_broker = HVO::HVOCommBroker::getInstance(kSocket);
        g_broker->setHVKId(FIREWALL_SERVICE_HVK_ID);
        g_broker->setCommandInterface(&service);
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        g_broker->start(false); // until stop()
    } catch (const HVO::HVOException& e) {
        std::fprintf(stderr, "fwservice: %s\n", e.getExceptionMsg().c_str());
        rc = 1;
    }
    try {
        HVO::HVOCommBroker::releaseInstance();
    } catch (const HVO::HVOException& e) {
        std::fprintf(stderr, "fwservice: %s\n", e.getExceptionMsg().c_str());
    }
    g_broker = nullptr;
    // Closes the trace file and sets logFilePtr NULL.
    FirewallSDK::FWCommands::releaseInstance();
    if (record != nullptr)
        std::fclose(record);
    return rc;
}
