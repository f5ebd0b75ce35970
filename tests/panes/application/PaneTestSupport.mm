#import "PaneTestSupport.h"
#import "AppProStrings.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#include "Files.h"

#include <boost/serialization/list.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

@implementation RecordingHost
- (id)init
{
    self = [super init];
    calls = [[NSMutableArray alloc] init];
    return self;
}
- (void)dealloc
{
    [calls release];
    [super dealloc];
}
- (void)AddAlert:(int)moduleId viewIdentifier:(NSString *)identifier
{
    @synchronized(self) { [calls addObject:[NSString stringWithFormat:@"AddAlert %d %@", moduleId, identifier]]; }
}
- (void)DeleteAlert:(int)moduleId viewIdentifier:(NSString *)identifier
{
    @synchronized(self) { [calls addObject:[NSString stringWithFormat:@"DeleteAlert %d %@", moduleId, identifier]]; }
}
- (void)AddNotification:(int)moduleId viewIdentifier:(NSString *)identifier
{
    @synchronized(self) {
        [calls addObject:[NSString stringWithFormat:@"AddNotification %d %@", moduleId, identifier]];
    }
}
- (void)DeleteNotification:(int)moduleId viewIdentifier:(NSString *)identifier
{
    @synchronized(self) {
        [calls addObject:[NSString stringWithFormat:@"DeleteNotification %d %@", moduleId, identifier]];
    }
}
@end

@implementation RecordingToolkit
- (id)init
{
    self = [super init];
    if (self != nil) {
        panels = [[NSMutableArray alloc] init];
        panelButtons = [[NSMutableArray alloc] init];
        openPanelAnswers = [[NSMutableArray alloc] init];
        openPanelRequests = [[NSMutableArray alloc] init];
    }
    return self;
}

- (void)dealloc
{
    [panels release];
    [panelButtons release];
    [openPanelAnswers release];
    [openPanelRequests release];
    [super dealloc];
}

- (void)showInformationalPanel:(NSString *)title button:(NSString *)button
{
    [panels addObject:title != nil ? title : @"(nil)"];
    [panelButtons addObject:button != nil ? button : @"(nil)"];
}

- (void)beginSheet:(id)window
{
    (void)window;
    sheetsBegun++;
}

- (void)endSheet:(id)window
{
    (void)window;
    sheetsEnded++;
}

- (BOOL)sheetOpen { return sheetsBegun > sheetsEnded; }

- (void)playOpenPanelAnswer:(NSArray *)paths
{
    [openPanelAnswers addObject:paths != nil ? (id)paths : (id)[NSNull null]];
}

- (NSArray *)runOpenPanelIn:(NSString *)folder
                      title:(NSString *)title
                     prompt:(NSString *)prompt
                      files:(BOOL)files
                    folders:(BOOL)folders
                   multiple:(BOOL)multiple
                     filter:(id<AppProOpenPanelFilter>)filter
{
    (void)filter;
    NSMutableDictionary *request = [NSMutableDictionary dictionary];
    [request setObject:folder != nil ? folder : @"" forKey:@"folder"];
    [request setObject:title != nil ? title : @"" forKey:@"title"];
    [request setObject:prompt != nil ? prompt : @"" forKey:@"prompt"];
    [request setObject:[NSNumber numberWithBool:files] forKey:@"files"];
    [request setObject:[NSNumber numberWithBool:folders] forKey:@"folders"];
    [request setObject:[NSNumber numberWithBool:multiple] forKey:@"multiple"];
    [openPanelRequests addObject:request];
    if ([openPanelAnswers count] == 0)
        return nil;
    id answer = [[[openPanelAnswers objectAtIndex:0] retain] autorelease];
    [openPanelAnswers removeObjectAtIndex:0];
    return answer == [NSNull null] ? nil : answer;
}

- (id)textColorForUnlocked:(BOOL)unlocked { return unlocked ? @"black" : @"gray"; }
@end

namespace panetest {

ToolkitScope::ToolkitScope() : toolkit([[RecordingToolkit alloc] init])
{
    AppProSetToolkit(toolkit);
    AppProSetPathInfo(nil);
}

ToolkitScope::~ToolkitScope()
{
    AppProSetToolkit(nil);
    [toolkit release];
}

static std::string tempDir()
{
    char name[] = "/tmp/pane-test.XXXXXX";
    const char *made = mkdtemp(name);
    return made != nullptr ? std::string(made) : std::string();
}

FixtureBundle::FixtureBundle(const std::map<std::string, std::string> &tables) : path(tempDir())
{
    std::string lproj = path + "/Resources/English.lproj";
    run({"mkdir", "-p", lproj});
    for (const auto &t : tables) {
        std::ofstream out(lproj + "/" + t.first + ".strings", std::ios::binary);
        out << "\xEF\xBB\xBF" << t.second;
    }
    AppProSetResourceBundle([NSBundle bundleWithPath:ns(path)]);
}

FixtureBundle::~FixtureBundle()
{
    AppProSetResourceBundle(nil);
    run({"rm", "-rf", path});
}

PaneBundle::PaneBundle() { AppProSetResourceBundle([NSBundle bundleWithPath:@APPWARD_BUNDLE_DIR]); }
PaneBundle::~PaneBundle() { AppProSetResourceBundle(nil); }

FakeDaemon::FakeDaemon()
{
    peer.setAnswer([this](HVO::CommandData &request, HVO::CommandResult &reply) {
        auto it = m_replies.find(request.getCommandId());
        if (it == m_replies.end())
            return false;
        return it->second(request, reply);
    });
}

void FakeDaemon::on(int commandId, Reply reply) { m_replies[commandId] = std::move(reply); }

void FakeDaemon::codes(int commandId, std::vector<AppProtection::AppProtError> codes)
{
    on(commandId, [codes](HVO::CommandData &request, HVO::CommandResult &reply) {
        std::vector<AppProtection::AppProtError> out = codes;
        if (out.empty()) {
            std::vector<AppProtection::BasicAppRecord> records;
            request.getCustomData(records);
            out.assign(records.size(), AppProtection::SUCCESS);
        }
        reply.setCustomData(out);
        return true;
    });
}

void FakeDaemon::code(int commandId, AppProtection::AppProtError code) { answer(commandId, code); }

std::vector<HVO::TestPeer::Sent> FakeDaemon::sends()
{
    std::vector<HVO::TestPeer::Sent> all = peer.commands();
    if (m_base >= all.size())
        return {};
    return std::vector<HVO::TestPeer::Sent>(all.begin() + static_cast<long>(m_base), all.end());
}

std::vector<int> FakeDaemon::ids()
{
    std::vector<int> out;
    for (const auto &s : sends())
        out.push_back(s.header.getCommandId());
    return out;
}

size_t FakeDaemon::count(int commandId)
{
    size_t n = 0;
    for (int id : ids())
        n += id == commandId;
    return n;
}

void FakeDaemon::decode(int commandId, size_t n, const std::function<void(HVO::CommandData &)> &read)
{
    for (const auto &s : sends()) {
        if (s.header.getCommandId() != commandId)
            continue;
        if (n-- > 0)
            continue;
        HVO::CommandData d(commandId, 3, false);
        if (s.hasData) {
            HVO::PayloadAccess::setInput(d, s.text);
            read(d);
        }
        return;
    }
    ADD_FAILURE() << "no send of " << commandId;
}

void FakeDaemon::clear()
{
    // The peer keeps its record; a fresh count starts from here.
    m_base = peer.commands().size();
}

void FakeDaemon::unreachable(bool down) { peer.setHubReachable(!down); }

AppProtection::BasicAppRecord record(const std::string &group, bool exec, int nwAction, bool enabled, bool modified)
{
    AppProtection::BasicAppRecord r;
    r.setAppGroup(group);
    r.setAppPath(group);
    r.setExecAllowed(exec);
    r.setNwAction(static_cast<AppProtection::BasicAppRecord::NetworkAction>(nwAction));
    r.setEnabled(enabled);
    r.setAppModified(modified);
    return r;
}

int run(const std::vector<std::string> &argv, std::string *out)
{
    int fds[2] = {-1, -1};
    if (out != nullptr && pipe(fds) != 0)
        return -1;
    // Nothing allocated after the fork: the process has threads.
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (out != nullptr) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    if (out != nullptr) {
        close(fds[1]);
        out->clear();
        char buf[4096];
        ssize_t n;
        while (pid > 0 && (n = read(fds[0], buf, sizeof buf)) != 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            out->append(buf, static_cast<size_t>(n));
        }
        close(fds[0]);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

const std::string &fixtureDir()
{
    static std::once_flag once;
    static std::string dir;
    std::call_once(once, [] {
        // Removed with its contents when the test program ends.
        static wardtest::TempDir root("pane-test");
        dir = root / "files";
        if (run({"bash", PANE_FIXTURES_SCRIPT, dir}) != 0)
            ADD_FAILURE() << "pane_fixtures.sh failed";
    });
    return dir;
}

std::string utf8(NSString *s)
{
    const char *p = [s UTF8String];
    return p != nullptr ? p : "(nil)";
}

NSString *ns(const std::string &s) { return [NSString stringWithUTF8String:s.c_str()]; }

} // namespace panetest
