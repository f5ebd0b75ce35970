// rulegen OPERATION...
//
// Runs the operations in turn on one profile generator, stopping at the
// first that fails:
//   scan DIR      the bundles below DIR        installed  those below /Applications
//   import PATH   the rules of a profile       current    the machine's profile
//   recommended   the recommended profile      add GROUP  a record for GROUP
//   delete GROUP  every record of GROUP        allow      each group may launch, all network
//   list          every record                 groups     one record per group
//   enforce       the temporary profile        export PATH  the list into a profile
// list and groups print per record: group, path, fingerprint, execution,
// network action, enabled, tab-separated.
// Exit status: 0 all done, 1 an operation failed, 2 usage, 3 an exception.
#include <clocale>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "ProfileGenerator.h"

// The trace host: the libraries trace through these.
FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

using AppProtection::BasicAppRecord;
using AppProtection::ProfileGenerator;

int usage()
{
    std::fprintf(stderr, "usage: rulegen OPERATION...\n"
                         "  scan DIR | installed | import PATH | current | recommended | add GROUP |\n"
                         "  delete GROUP | allow | list | groups | enforce | export PATH\n");
    return 2;
}

void print(const std::list<BasicAppRecord>& records)
{
    for (const BasicAppRecord& r : records)
        std::printf("%s\t%s\t%s\t%d\t%d\t%d\n", r.getAppGroup().c_str(), r.getAppPath().c_str(),
                    r.getApplicationHash().c_str(), r.getExecAllowed() ? 1 : 0, static_cast<int>(r.getNwAction()),
                    r.getEnabled() ? 1 : 0);
}

BasicAppRecord groupRecord(const std::string& group)
{
    BasicAppRecord r;
    r.setAppGroup(group);
    return r;
}

struct Step {
    std::string name; ///< the operation and its argument, for messages
    std::function<bool(ProfileGenerator&)> run;
};

/// The whole chain, or false on a usage error: nothing runs before the
/// command line is known to be whole.
bool parse(int argc, char** argv, std::vector<Step>& steps)
{
    for (int i = 1; i < argc; ++i) {
        const std::string op = argv[i];
        auto withArgument = [&](std::function<bool(ProfileGenerator&, const std::string&)> f) {
            if (i + 1 >= argc)
                return false;
            const std::string arg = argv[++i];
            steps.push_back({op + " " + arg, [f, arg](ProfileGenerator& g) { return f(g, arg); }});
            return true;
        };
        auto plain = [&](std::function<bool(ProfileGenerator&)> f) {
            steps.push_back({op, std::move(f)});
            return true;
        };
        bool ok;
        if (op == "scan")
            ok = withArgument([](ProfileGenerator& g, const std::string& a) { return g.loadAppsFromFolder(a); });
        else if (op == "installed")
            ok = plain([](ProfileGenerator& g) { return g.loadInstalledApplications(); });
        else if (op == "import")
            ok = withArgument([](ProfileGenerator& g, const std::string& a) { return g.importAppsFromProfile(a); });
        else if (op == "current")
            ok = plain([](ProfileGenerator& g) { return g.importCurrentProfile(); });
        else if (op == "recommended")
            ok = plain([](ProfileGenerator& g) { return g.loadRecommendedProfile(); });
        else if (op == "add")
            ok = withArgument([](ProfileGenerator& g, const std::string& a) {
                BasicAppRecord r = groupRecord(a);
                return g.addAppToList(r);
            });
        else if (op == "delete")
            ok = withArgument([](ProfileGenerator& g, const std::string& a) {
                BasicAppRecord r = groupRecord(a);
                return g.deleteAppFromList(r);
            });
        else if (op == "allow")
            ok = plain([](ProfileGenerator& g) {
                bool all = true;
                for (BasicAppRecord r : g.getAppList(true)) {
                    r.setExecAllowed(true);
                    r.setNwAction(BasicAppRecord::NW_ACTION_ALLOW_ALL);
                    all = g.updateAppInList(r) && all;
                }
                return all;
            });
        else if (op == "list")
            ok = plain([](ProfileGenerator& g) {
                print(g.getAppList(false));
                return true;
            });
        else if (op == "groups")
            ok = plain([](ProfileGenerator& g) {
                print(g.getAppList(true));
                return true;
            });
        else if (op == "enforce")
            ok = plain([](ProfileGenerator& g) { return g.enforceAppList(); });
        else if (op == "export")
            ok = withArgument([](ProfileGenerator& g, const std::string& a) { return g.exportAppToProfile(a); });
        else
            ok = false;
        if (!ok)
            return false;
    }
    return !steps.empty();
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::vector<Step> steps;
    if (!parse(argc, argv, steps))
        return usage();
    ProfileGenerator generator;
    for (const Step& step : steps) {
        try {
            if (!step.run(generator)) {
                std::fflush(stdout);
                std::fprintf(stderr, "rulegen: %s failed\n", step.name.c_str());
                return 1;
            }
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "rulegen: %s: %s\n", step.name.c_str(), e.what());
            return 3;
        }
        std::fflush(stdout);
    }
    return 0;
}
