// appwardd: the application-protection daemon. No arguments; SIGTERM stops
// it, SIGHUP reopens its trace file, SIGUSR2 reloads or unloads the
// management agent's plug-ins. The exit status is 0 on every path.
#include <clocale>
#include <csignal>
#include <cstdio>

#include <pthread.h>

#include "AppProtectionController.h"
#include "HVOCommBroker.h"
#include "TraceLoader.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    AppProtection::setFrameworkTraceLoader(HVO::loadTraceValues);
    // Blocked before any thread starts, so every thread inherits the mask
    // and the controller's signal thread is the only one that sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A write to a kernel link or broker peer that has gone must fail, not
    // end the daemon.
    std::signal(SIGPIPE, SIG_IGN);
    AppProtection::AppProtectionController::main(argc, argv);
    return 0;
}
