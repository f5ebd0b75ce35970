// Benchmark of the rule store (a program, not a test). From an empty state,
// inside tests/ns-run.sh with the ipfw stand-in first on PATH, it times
// COUNT (default 1000) additions of distinct custom rules, one kernel read
// (COUNT + 1 records) and COUNT spawns of /bin/true (posix_spawn and waitpid,
// as the driver starts ipfw), and prints the times, the per-call averages,
// the add/spawn ratio and the size of the rule file. Each addition is
// followed by one spawn, so that both see the same load on the machine.
// Every addition rewrites the whole file. CPU times (user + system) are
// printed beside the wall times: the store process's own per addition, and
// its children's (ipfw, /bin/true), which a loaded machine changes less.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "FWCommands.h"

extern char** environ;

FILE* logFilePtr = nullptr;
int traceInited = 0;

using namespace FirewallSDK;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

/// CPU time (user plus system) and page faults of this process or of its
/// reaped children. Page faults are dear on some virtual machines.
struct Usage {
    double cpu = 0;
    double faults = 0;

    static Usage of(int who)
    {
        struct rusage u;
        ::getrusage(who, &u);
        Usage r;
        r.cpu = static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        r.faults = static_cast<double>(u.ru_minflt + u.ru_majflt);
        return r;
    }
    Usage& operator+=(const Usage& o)
    {
        cpu += o.cpu;
        faults += o.faults;
        return *this;
    }
    Usage operator-(const Usage& o) const
    {
        Usage r = *this;
        r.cpu -= o.cpu;
        r.faults -= o.faults;
        return r;
    }
};

FWExtDetailedData customRule(unsigned i)
{
    FWExtDetailedData r;
    r.setRuleCategory(FW_CUSTOM_RULE_CATEGORY);
    r.setAction(FW_ACTION_ALLOW);
    r.setTrafficDirection(FW_DIRECTION_BOTH);
    r.isLogging(false);
    r.setRuleName("bench " + std::to_string(i));
    r.setSrcIp("10." + std::to_string(i / 62500) + "." + std::to_string(i / 250 % 250) + "." +
               std::to_string(i % 250 + 1));
    r.setDestIp("any");
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const unsigned count = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1000;
    struct stat st;
    if (::stat("/usr/local/Vantrel/Firewall/var/QyvRules", &st) == 0) {
        std::fprintf(stderr, "bench: not an empty state (a rule file exists)\n");
        return 2;
    }
    FWCommands* store = FWCommands::getInstance();
    try {
        double addTime = 0;
        double spawnTime = 0;
        Usage storeUse;  // the store process during additions
        Usage ipfwUse;   // the ipfw children
        Usage trueUse;   // the /bin/true children
        for (unsigned i = 0; i < count; ++i) {
            std::vector<FWExtDetailedData> results;
            const Usage self0 = Usage::of(RUSAGE_SELF);
            const Usage children0 = Usage::of(RUSAGE_CHILDREN);
            Clock::time_point t0 = Clock::now();
            if (store->addRule(customRule(i), results, FW_CUSTOM_RULE_CATEGORY) != 0) {
                std::fprintf(stderr, "bench: addition %u failed\n", i);
                return 1;
            }
            addTime += seconds(t0);
            storeUse += Usage::of(RUSAGE_SELF) - self0;
            const Usage children1 = Usage::of(RUSAGE_CHILDREN);
            ipfwUse += children1 - children0;
            t0 = Clock::now();
            char* args[] = {const_cast<char*>("true"), nullptr};
            pid_t pid = -1;
            if (::posix_spawn(&pid, "/bin/true", nullptr, nullptr, args, environ) != 0) {
                std::fprintf(stderr, "bench: /bin/true could not be started\n");
                return 1;
            }
            int status = 0;
            ::waitpid(pid, &status, 0);
            spawnTime += seconds(t0);
            trueUse += Usage::of(RUSAGE_CHILDREN) - children1;
        }
        Clock::time_point t0 = Clock::now();
        std::vector<FWExtDetailedData> kernel;
        store->getIpfwRule(kernel);
        const double readTime = seconds(t0);
        if (kernel.size() != count + 1) {
            std::fprintf(stderr, "bench: %zu kernel records, expected %u\n", kernel.size(), count + 1);
            return 1;
        }

        ::stat("/usr/local/Vantrel/Firewall/var/QyvRules", &st);
        std::printf("additions:   %u in %.3f s, %.3f ms each\n", count, addTime, addTime * 1000 / count);
        std::printf("kernel read: %zu records in %.3f ms\n", kernel.size(), readTime * 1000);
        std::printf("spawns:      %u of /bin/true in %.3f s, %.3f ms each\n", count, spawnTime,
                    spawnTime * 1000 / count);
        std::printf("add/spawn:   %.2f\n", addTime / spawnTime);
        std::printf("cpu:         store %.3f ms + ipfw %.3f ms per addition, /bin/true %.3f ms per spawn\n",
                    storeUse.cpu * 1000 / count, ipfwUse.cpu * 1000 / count, trueUse.cpu * 1000 / count);
        std::printf("page faults: store %.0f + ipfw %.0f per addition, /bin/true %.0f per spawn\n",
                    storeUse.faults / count, ipfwUse.faults / count, trueUse.faults / count);
        std::printf("rule file:   %lld bytes\n", static_cast<long long>(st.st_size));
    } catch (const FirewallException& e) {
        std::fprintf(stderr, "bench: error %d %s\n", e.code, e.getErrorMsg().c_str());
        return 1;
    }
    FWCommands::releaseInstance();
    return 0;
}
