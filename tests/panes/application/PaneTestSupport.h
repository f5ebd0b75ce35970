// What the pane's tests share: a toolkit that records panels and sheets and
// plays open-panel answers, path information without a display, a hub that
// answers the pane's commands like the daemon (HVO::TestPeer), the
// resource bundles the texts come from, and a host that records the alert
// and notification slots.
#pragma once

#import <Foundation/Foundation.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "AppProtError.h"
#include "AppProtRecords.h"
#include "AppRecordPayload.h"
#include "CommandData.h"
#include "HVOTestPeer.h"

#import "AppProPorts.h"
#import "ZRMUIAlerting.h"

/// The host's alert and notification areas: every call as "Add 3 1".
@interface RecordingHost : NSObject <ZRMUIFrameworkAlertingProtocol, ZRMUIFrameworkNotificationProtocol> {
@public
    NSMutableArray *calls;
}
@end

@interface RecordingToolkit : NSObject <AppProToolkit> {
@public
    NSMutableArray *panels;        ///< titles of the informational panels
    NSMutableArray *panelButtons;
    int sheetsBegun;
    int sheetsEnded;
    NSMutableArray *openPanelAnswers; ///< NSArray of paths, or NSNull: cancel
    NSMutableArray *openPanelRequests; ///< dictionaries of the panel's options
}
- (void)playOpenPanelAnswer:(NSArray *)paths; ///< nil: the user cancels
- (BOOL)sheetOpen;
@end

namespace panetest {

/// Installs a fresh RecordingToolkit and the default path information;
/// uninstalls the toolkit at the end.
class ToolkitScope {
public:
    ToolkitScope();
    ~ToolkitScope();
    RecordingToolkit *operator->() const { return toolkit; }
    RecordingToolkit *toolkit;
};

/// The texts of a bundle holding the given tables (name -> file text), in a
/// fresh temporary folder; the resource bundle is reset at the end.
class FixtureBundle {
public:
    explicit FixtureBundle(const std::map<std::string, std::string> &tables);
    /// One table.
    FixtureBundle(const std::string &table, const std::string &text)
        : FixtureBundle(std::map<std::string, std::string>{{table, text}})
    {
    }
    FixtureBundle(const FixtureBundle &) = delete;
    FixtureBundle &operator=(const FixtureBundle &) = delete;
    ~FixtureBundle();
    std::string path;
};

/// The built AppWardPane.bundle as the resource bundle while it lives.
class PaneBundle {
public:
    PaneBundle();
    ~PaneBundle();
};

/// A daemon on the test peer: a reply per command id; every send recorded.
class FakeDaemon {
public:
    /// Fills the reply; return false for "no such module".
    using Reply = std::function<bool(HVO::CommandData &request, HVO::CommandResult &reply)>;
    FakeDaemon();
    void on(int commandId, Reply reply);
    /// Replies with a payload.
    template <class T> void answer(int commandId, T value)
    {
        on(commandId, [value](HVO::CommandData &, HVO::CommandResult &r) mutable {
            r.setCustomData(value);
            return true;
        });
    }
    /// Replies to 20000-20002 with one code per record sent (or `codes` when
    /// given), to 20005 and 20007 with `code`.
    void codes(int commandId, std::vector<AppProtection::AppProtError> codes);
    void code(int commandId, AppProtection::AppProtError code);
    /// The ids of every command sent, in order.
    std::vector<int> ids();
    /// The payload of the n-th send of `commandId` (n from 0).
    template <class T> T sent(int commandId, size_t n = 0)
    {
        T value{};
        decode(commandId, n, [&value](HVO::CommandData &d) { d.getCustomData(value); });
        return value;
    }
    size_t count(int commandId);
    /// Forgets what was sent so far.
    void clear();
    void unreachable(bool down);

    HVO::TestPeer peer;

private:
    void decode(int commandId, size_t n, const std::function<void(HVO::CommandData &)> &read);
    std::vector<HVO::TestPeer::Sent> sends();
    std::map<int, Reply> m_replies;
    size_t m_base = 0;
};

/// Records of the profile used by several tests.
AppProtection::BasicAppRecord record(const std::string &group, bool exec, int nwAction, bool enabled = true,
                                     bool modified = false);

/// Runs `argv` and answers its exit status (-1 when it did not exit); its
/// standard output goes to `out` when given.
int run(const std::vector<std::string> &argv, std::string *out = nullptr);

/// The folder of pane_fixtures.sh's files, made once per process.
const std::string &fixtureDir();

std::string utf8(NSString *s);
NSString *ns(const std::string &s);

} // namespace panetest
