// An ipfw runner for tests that starts no process. Each command is recorded,
// then answered from a script or run by the stand-in's own code (runTool) on
// the state folder, in the calling thread; the kernel list it leaves is the
// one the default rule-list source reads.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "IpfwRunner.h"

namespace ipfwtest {

class InProcessIpfw : public ipfw::IpfwRunner {
public:
    /// Installs itself; the destructor puts back the runner it replaced.
    InProcessIpfw();
    ~InProcessIpfw() override;
    InProcessIpfw(const InProcessIpfw&) = delete;
    InProcessIpfw& operator=(const InProcessIpfw&) = delete;

    /// One line per later command, in order (the words of
    /// tests/FirewallSDK/scripted_ipfw.sh): "" runs the stand-in; "exit N"
    /// exits with N and changes nothing; "print TEXT" runs the stand-in and
    /// prints TEXT instead of its output; "echo TEXT" prints TEXT, then runs
    /// the stand-in. Commands past the script run the stand-in.
    void script(const std::vector<std::string>& lines);
    /// Forgets the recorded commands and what is left of the script.
    void reset();
    /// Every command so far, its words after "ipfw".
    std::vector<std::vector<std::string>> calls() const;
    /// The same as "add 5002 allow ..." lines.
    std::vector<std::string> callLines() const;

    /// Runs the command before it returns; its output must fit in the pipe
    /// (the stand-in prints one line).
    pid_t spawn(const std::vector<std::string>& args, int outFd) override;
    int wait(pid_t child, int& status) override;

private:
    ipfw::IpfwRunner* m_replaced;
    // One command at a time: the state folder's lockf lock keeps processes
    // apart, not the threads of one process.
    std::mutex m_toolMutex;
    mutable std::mutex m_mutex; // guards everything below
    std::deque<std::string> m_script;
    std::vector<std::vector<std::string>> m_calls;
    std::map<pid_t, int> m_statuses; // ended "children" not yet waited for
    pid_t m_nextPid = 1 << 30;       // above any real process id
};

} // namespace ipfwtest
