// Benchmark of the profile (a program, not a test). For each size N (default
// 1000 10000 100000) a child process writes a profile of N realistic
// applications with the project's writer; then this process times, best of
// three, a load under the profile lock, a persist after one change, a plain
// read of the file and a write+fsync+rename of the same bytes, and prints the
// ratios, the peak memory after the load and three persists over the file
// size, and the median and 99th percentile of stored and unstored decisions.
// It checks the answers: every decision against the generated rule, and a
// persist of the loaded profile against the written file, byte for byte. Exit
// status 1 when an answer disagrees.
//
//   bench [--dir FOLDER] [N ...]
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ProfileDataController.h"
#include "RulebookTrace.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

using namespace AppProtection;
using Clock = std::chrono::steady_clock;

namespace {

int g_failures = 0;

void disagree(const std::string& what)
{
    std::fprintf(stderr, "bench: DISAGREE: %s\n", what.c_str());
    ++g_failures;
}

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// ---------------------------------------------------------------- records

/// splitmix64: one independent stream per application index.
uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(mix(seed)) {}
    uint64_t next() { return s = mix(s); }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
};

std::string hex32(Rng& rng)
{
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (int i = 0; i < 32; ++i)
        h.push_back(digits[rng.below(16)]);
    return h;
}

const char* const kVendors[] = {"Acme", "Globex", "Initech", "Umbrella", "Soylent", "Hooli", "Vandelay", "Wonka"};
const char* const kProducts[] = {"Editor", "Viewer", "Studio", "Player", "Sync", "Mail", "Notes", "Terminal"};

std::string groupOf(unsigned i)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "/Applications/%s %s %06u.app", kVendors[i % 8], kProducts[i / 8 % 8], i);
    return buf;
}

std::string pathOf(unsigned i) { return groupOf(i) + "/Contents/MacOS/" + kProducts[i / 8 % 8]; }

/// One of 400 libraries shared by many applications.
std::string systemLibrary(unsigned k)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "/System/Library/Frameworks/Kit%03u.framework/Versions/A/Kit%03u", k, k);
    return buf;
}

/// What the bench expects of application i; the record is built from it.
struct Plan {
    bool enabled, modified, exec;
    BasicAppRecord::NetworkAction nw;
    bool customAllows; ///< with nw 3: a rule allows the bench's peer
    unsigned ruleCount;
};

Plan planOf(unsigned i)
{
    Rng rng(i * 7919ULL + 1);
    Plan p;
    p.enabled = rng.below(100) >= 5;
    p.modified = rng.below(100) < 2;
    p.exec = rng.below(100) >= 10;
    unsigned nw = rng.below(3);
    p.nw = nw == 0 ? BasicAppRecord::NW_ACTION_CUSTOM
                   : nw == 1 ? BasicAppRecord::NW_ACTION_ALLOW_ALL : BasicAppRecord::NW_ACTION_BLOCK_ALL;
    p.customAllows = rng.below(2) == 0;
    p.ruleCount = 1 + rng.below(3);
    return p;
}

NetworkRule makeRule(int order, const char* ip, const char* port, actions action)
{
    NetworkRule r;
    r.setOrder(order);
    r.setIpRange(ip);
    r.setPortRange(port);
    r.setNWProtocol(NW_TCP_UDP);
    r.setDirection(INCOMING_OUTGOING_CONNECTION);
    r.setAction(action);
    return r;
}

/// The bench's peer: 10.1.2.3, port 443, TCP, outgoing.
sockaddr_in benchPeer()
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = htonl(0x0a010203);
    peer.sin_port = 443; // the port number itself, as the kernel link gives it
    return peer;
}

DetailedAppRecord recordOf(unsigned i)
{
    Plan p = planOf(i);
    Rng rng(i * 104729ULL + 3);
    DetailedAppRecord r;
    r.setAppPath(pathOf(i));
    r.setAppGroup(groupOf(i));
    r.setApplicationHash(hex32(rng));
    r.setEnabled(p.enabled);
    r.setAppModified(p.modified);
    r.setExecAllowed(p.exec);
    r.setNwAction(p.nw);
    std::vector<std::string> deps;
    unsigned count = 2 + rng.below(4);
    for (unsigned k = 0; k < count; ++k)
        deps.push_back(systemLibrary(rng.below(400)));
    std::sort(deps.begin(), deps.end());
    deps.erase(std::unique(deps.begin(), deps.end()), deps.end());
    r.setDependencies(deps);
    if (p.modified)
        r.setChangedDeps({deps.front()});
    if (p.nw == BasicAppRecord::NW_ACTION_CUSTOM) {
        std::list<NetworkRule> rules;
        rules.push_back(makeRule(1, "192.168.0.0/16", "ANY_PORT", ACTION_BLOCK));
        if (p.ruleCount > 1)
            rules.push_back(makeRule(2, "172.16.0.0/12", "1-1023", ACTION_ALLOW));
        if (p.customAllows)
            rules.push_back(makeRule(3, "10.0.0.0/8", "443", ACTION_ALLOW));
        r.setNwRules(rules);
    }
    return r;
}

/// The controller with its stores and dirty flag in reach.
class BenchProfile : public ProfileDataController {
public:
    ApplicationStore& apps() { return m_appStore; }
    DependentStore& deps() { return m_depStore; }
    void touch() { m_profileChanged = true; }
    /// One change that no decision looks at: a new changed-library list for
    /// application i.
    void change(unsigned i)
    {
        std::string mark = "/bench/change/" + std::to_string(++m_changes);
        m_appStore.modifyApp(pathOf(i), [&](DetailedAppRecord& r) { r.setChangedDeps({mark}); });
        m_profileChanged = true;
    }

private:
    unsigned m_changes = 0;
};

/// Runs in a child, so that the measuring process starts with a clean heap.
void writeProfileOf(unsigned n, const std::string& path)
{
    BenchProfile p;
    std::map<std::string, std::vector<std::string>> users; // shared library -> applications
    for (unsigned i = 0; i < n; ++i) {
        DetailedAppRecord r = recordOf(i);
        for (const std::string& d : r.getDependencies())
            users[d].push_back(r.getAppPath());
        if (!p.apps().addApp(r))
            std::exit(3);
    }
    Rng rng(42);
    for (auto& shared : users) {
        DependentRecord d;
        d.setFileName(shared.first);
        d.setFileHash(hex32(rng));
        d.setAppList(std::move(shared.second));
        p.deps().addDependent(d);
    }
    p.touch();
    p.persistProfile(path);
}

// ---------------------------------------------------------------- helpers

long peakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

/// Resets the peak resident size to the current one.
bool resetPeak()
{
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    refs.flush();
    return static_cast<bool>(refs);
}

std::string plainRead(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        std::perror(path.c_str());
        std::exit(2);
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t got = ::read(fd, &bytes[done], bytes.size() - done);
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

/// The reference replace: temporary file, write, fsync, rename, fsync of the
/// folder. Like a persist, it replaces a file of the same size, whose freeing
/// is part of the cost (the caller puts one there before the first timing).
void writeFsyncRename(const std::string& dir, const std::string& bytes)
{
    std::string tmp = dir + "/reference.XXXXXX";
    int fd = ::mkostemp(&tmp[0], O_CLOEXEC);
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put <= 0)
            break;
        done += static_cast<size_t>(put);
    }
    if (fd < 0 || done != bytes.size() || ::fsync(fd) != 0 || ::close(fd) != 0
        || ::rename(tmp.c_str(), (dir + "/reference.data").c_str()) != 0) {
        std::perror("reference write");
        std::exit(2);
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(dfd);
    ::close(dfd);
}

struct Spread {
    double median = 0, p99 = 0;
};

Spread spreadOf(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    Spread s;
    if (!us.empty()) {
        s.median = us[us.size() / 2];
        s.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
    return s;
}

ProfileDataController::SearchReturnValue launchAnswer(const Plan& p)
{
    if (!p.enabled)
        return ProfileDataController::DISABLED_RULE;
    if (p.modified)
        return ProfileDataController::APP_MODIFIED;
    return p.exec ? ProfileDataController::APP_ALLOWED : ProfileDataController::APP_DENIED;
}

ProfileDataController::SearchReturnValue networkAnswer(const Plan& p)
{
    if (!p.enabled)
        return ProfileDataController::DISABLED_RULE;
    if (p.modified)
        return ProfileDataController::APP_MODIFIED;
    switch (p.nw) {
    case BasicAppRecord::NW_ACTION_ALLOW_ALL:
        return ProfileDataController::APP_ALLOWED;
    case BasicAppRecord::NW_ACTION_BLOCK_ALL:
        return ProfileDataController::APP_DENIED;
    case BasicAppRecord::NW_ACTION_CUSTOM:
        break;
    }
    // No rule matches without the allowing one; the profile falls back to 2.
    return p.customAllows ? ProfileDataController::APP_ALLOWED : ProfileDataController::APP_DENIED;
}

/// Times `samples` launch and network decisions of stored paths in a random
/// order, checking each answer.
void storedDecisions(ProfileDataController& p, unsigned n, unsigned samples, Spread& launch, Spread& network)
{
    Rng rng(n);
    std::vector<unsigned> order(samples);
    for (unsigned& i : order)
        i = rng.below(n);
    std::vector<std::string> paths;
    paths.reserve(samples);
    for (unsigned i : order)
        paths.push_back(pathOf(i));
    sockaddr_in peer = benchPeer();
    std::vector<double> lt, nt;
    lt.reserve(samples);
    nt.reserve(samples);
    for (unsigned k = 0; k < samples; ++k) {
        BasicAppRecord out;
        Clock::time_point t0 = Clock::now();
        ProfileDataController::SearchReturnValue got = p.allowApplicationLaunch(paths[k], out);
        lt.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        Plan plan = planOf(order[k]);
        if (got != launchAnswer(plan) || out.getAppPath() != paths[k])
            disagree("launch of " + paths[k] + " answered " + std::to_string(got));
    }
    for (unsigned k = 0; k < samples; ++k) {
        BasicAppRecord out;
        Clock::time_point t0 = Clock::now();
        ProfileDataController::SearchReturnValue got =
            p.allowNetworkAccess(paths[k], peer, OUTGOING_CONNECTION, NW_TCP, out);
        nt.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (got != networkAnswer(planOf(order[k])))
            disagree("connection of " + paths[k] + " answered " + std::to_string(got));
    }
    launch = spreadOf(lt);
    network = spreadOf(nt);
}

Spread unstoredDecisions(ProfileDataController& p, const std::string& program, unsigned samples)
{
    std::vector<double> t;
    for (unsigned k = 0; k < samples; ++k) {
        BasicAppRecord out;
        Clock::time_point t0 = Clock::now();
        ProfileDataController::SearchReturnValue got = p.allowApplicationLaunch(program, out);
        t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        if (got != ProfileDataController::UNKNOWN_APP)
            disagree("unstored program answered " + std::to_string(got));
    }
    return spreadOf(t);
}

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

void runSize(unsigned n, const std::string& dir)
{
    const std::string path = dir + "/profile.data";
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        writeProfileOf(n, path);
        std::fflush(nullptr);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    struct stat st;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || ::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "bench: writing the profile of %u applications failed\n", n);
        std::exit(2);
    }
    const double fileBytes = static_cast<double>(st.st_size);

    double load = 1e9, persist = 1e9, read = 1e9, write = 1e9;
    long peak = -1;
    writeFsyncRename(dir, plainRead(path));
    const bool peakReset = resetPeak();
    for (int round = 0; round < 3; ++round) {
        {
            BenchProfile p;
            Clock::time_point t0 = Clock::now();
            p.lockProfile(path);
            p.loadProfile(path);
            p.unlockProfile(path);
            load = std::min(load, seconds(t0));
            if (p.apps().getAllProfileRules().size() != n)
                disagree("loaded " + std::to_string(p.apps().getAllProfileRules().size()) + " applications");
            for (int k = 0; k < 3; ++k) {
                p.change(static_cast<unsigned>(round * 3 + k) % n);
                t0 = Clock::now();
                p.lockProfile(path);
                p.persistProfile(path);
                p.unlockProfile(path);
                persist = std::min(persist, seconds(t0));
            }
            if (round == 0)
                peak = peakKiB();
        }
        Clock::time_point t0 = Clock::now();
        std::string bytes = plainRead(path);
        read = std::min(read, seconds(t0));
        t0 = Clock::now();
        writeFsyncRename(dir, bytes);
        write = std::min(write, seconds(t0));
    }

    // The loaded profile writes back the very bytes it was read from.
    const std::string original = plainRead(path);
    Spread launchDefault, networkDefault, launchQuiet, networkQuiet, unstored;
    {
        BenchProfile p;
        p.loadProfile(path);
        p.touch();
        p.persistProfile(dir + "/again.data");
        if (plainRead(dir + "/again.data") != original)
            disagree("the loaded profile does not write back the same bytes");

        const unsigned samples = std::max(2000u, std::min(200000u, 2 * n));
        const int defaultLevel = wardtrace::level(pdcFlowvalue);
        storedDecisions(p, n, samples, launchDefault, networkDefault);
        wardtrace::setLevel(pdcFlowvalue, 0);
        storedDecisions(p, n, samples, launchQuiet, networkQuiet);
        wardtrace::setLevel(pdcFlowvalue, defaultLevel);

        // An 8 KiB program the profile does not hold.
        std::string program = dir + "/unstored";
        std::string content(8192, '\0');
        Rng rng(n + 99);
        for (char& c : content)
            c = static_cast<char>(rng.next());
        std::ofstream(program, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
        unstored = unstoredDecisions(p, program, 2000);
        ::unlink(program.c_str());
    }
    ::unlink((dir + "/again.data").c_str());
    ::unlink((dir + "/reference.data").c_str());
    ::unlink(path.c_str());

    std::printf("applications %u, file %.1f MiB (%.2f KiB per application)\n", n, mib(fileBytes),
                fileBytes / 1024.0 / n);
    std::printf("  load                %9.1f ms  plain read     %8.1f ms  load/read       %6.2f  (%.2f us per application)\n",
                load * 1e3, read * 1e3, load / read, load * 1e6 / n);
    std::printf("  persist after 1 change %6.1f ms  write+fsync+rename %4.1f ms  persist/write %6.2f\n",
                persist * 1e3, write * 1e3, persist / write);
    if (peakReset && peak > 0)
        std::printf("  peak memory after load and 3 persists %.1f MiB = %.2f x the file (limit 1.5 x + 16 MiB = %.1f MiB)\n",
                    peak / 1024.0, peak * 1024.0 / fileBytes, mib(1.5 * fileBytes) + 16);
    else
        std::printf("  peak memory: not measured (cannot reset /proc/self/clear_refs)\n");
    std::printf("  stored launch       median %6.2f us  p99 %6.2f us   (trace level 0: %6.2f / %6.2f us)\n",
                launchDefault.median, launchDefault.p99, launchQuiet.median, launchQuiet.p99);
    std::printf("  stored connection   median %6.2f us  p99 %6.2f us   (trace level 0: %6.2f / %6.2f us)\n",
                networkDefault.median, networkDefault.p99, networkQuiet.median, networkQuiet.p99);
    std::printf("  unstored launch     median %6.2f us  p99 %6.2f us   (8 KiB program)\n", unstored.median,
                unstored.p99);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string dir;
    std::vector<unsigned> sizes;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else {
            char* end = nullptr;
            unsigned long n = std::strtoul(arg.c_str(), &end, 10);
            if (end == arg.c_str() || *end != '\0' || n == 0 || n > 10000000) {
                std::fprintf(stderr, "usage: bench [--dir FOLDER] [N ...]\n");
                return 2;
            }
            sizes.push_back(static_cast<unsigned>(n));
        }
    }
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    bool ownDir = dir.empty();
    if (ownDir) {
        char tmpl[] = "/var/tmp/ward-profile-bench.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            std::perror("mkdtemp");
            return 2;
        }
        dir = tmpl;
    }
    std::printf("trace level pdcFlowvalue %d, no trace file open; best of 3\n", wardtrace::level(pdcFlowvalue));
    for (unsigned n : sizes)
        runSize(n, dir);
    if (ownDir)
        ::rmdir(dir.c_str());
    if (g_failures > 0) {
        std::fprintf(stderr, "bench: %d answers disagree\n", g_failures);
        return 1;
    }
    return 0;
}
