// What the firewall pane's tests share: the NSLog lines a call wrote, and a
// firewall service on the in-process hub that answers per command id and
// records every send.
#pragma once

#import <Foundation/Foundation.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CommandData.h"
#include "HVOTestPeer.h"

namespace fwptest {

/// How every payload text the pane sends begins.
inline const std::wstring kHeader = L"22 serialization::archive 18 ";
using Ids = std::vector<int>;

/// Collects NSLog lines while it lives (nothing reaches stderr).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines() const;
};

/// Module 4 on the test peer.
class FakeService {
public:
    using Reply = std::function<bool(HVO::CommandData &request, HVO::CommandResult &reply)>;
    FakeService();
    void on(int commandId, Reply reply);
    /// A true reply holding `value`.
    template <class T> void answer(int commandId, T value)
    {
        on(commandId, [value](HVO::CommandData &, HVO::CommandResult &r) mutable {
            r.setCustomData(value);
            return true;
        });
    }
    /// A false reply, with `code` when given.
    void fail(int commandId, const int *code = nullptr);
    std::vector<int> ids();
    /// The payload text of the n-th send of `commandId`, header and all.
    std::wstring text(int commandId, size_t n = 0);
    void clear();

    HVO::TestPeer peer;

private:
    std::map<int, Reply> m_replies;
    size_t m_base = 0;
};

std::string utf8(NSString *s);
NSString *ns(const std::string &s);

} // namespace fwptest
