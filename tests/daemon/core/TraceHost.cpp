// Stands in for appwardd's trace handling: defines the host symbols, opens
// tracing at start-up, runs writer threads, and reloads on SIGHUP from a
// thread that waits for the signal. SIGTERM stops it.
//   trace_host [WRITERS]
// Prints "ready" once tracing is open and "reloaded" after each reload.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "TraceLevels.h"
#include "TraceLoader.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    // Blocked before any thread starts, so only sigwait sees them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    AppProtection::openTracing();

    int writers = argc > 1 ? std::atoi(argv[1]) : 4;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t) {
        threads.emplace_back([t, &stop] {
            for (int n = 0; !stop; ++n) {
                WARD_TRACE(kextIfFlowvalue, 0, L"KextInterface::writer - thread %d line %d %s %s\n", t, n,
                           "/tmp/caf\xc3\xa9", "caf\xe9");
                usleep(200);
            }
        });
    }
    std::printf("ready\n");
    std::fflush(stdout);

    for (;;) {
        int sig = 0;
        if (sigwait(&signals, &sig) != 0)
            continue;
        if (sig == SIGTERM)
            break;
        AppProtection::reloadTracing(sig);
        std::printf("reloaded\n");
        std::fflush(stdout);
    }
    stop = true;
    for (auto& t : threads)
        t.join();
    wardtrace::closeLogFile();
    return 0;
}
