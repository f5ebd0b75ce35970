// FWWrapper: libportward's only access to the ipfw packet filter.
//
// Writing side: builds the ipfw tool's add and delete argument lists, runs
// the tool as a child process over a pipe, collects its output lines and
// maps its exit status to FWErrorCodes. Reading side: fetches the kernel's
// rule list and decodes every record into an FWExtDetailedData.
//
// One object serves one rule-store operation on one thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "FWRecords.h"
#include "IpfwLayout.h"

namespace FirewallSDK {

/// The deny/allow filter rule: the builder fills in "me" and keep-state.
constexpr int QYV_DENY_ALLOW_FILTER_RULE_NO = 65532;

/// The kernel's record and instruction views (bounded, never casts).
using ip_fw = ipfw::ip_fw;
using _ipfw_insn_ip = ipfw::_ipfw_insn_ip;
using _ipfw_insn_u16 = ipfw::_ipfw_insn_u16;

/// A keyword table row; a table ends at the first row whose value is 0.
struct FWKeyword {
    const char* name;
    uint8_t value;
};
extern const FWKeyword ipopts[];
extern const FWKeyword iptos[];
extern const FWKeyword tcpflags[];
extern const FWKeyword tcpopts[];
extern const FWKeyword limitmasks[];

class FWWrapper {
public:
    enum MACType { MAC_SRC = 0, MAC_DEST = 1 };
    enum TwoByteType {
        TWO_BYTE_SRC_PORT = 0,
        TWO_BYTE_DEST_PORT = 1,
        TWO_BYTE_MAC_TYPE = 2,
        TWO_BYTE_IP_ID = 3,
        TWO_BYTE_IP_TTL = 4,
        TWO_BYTE_IP_LEN = 5  // any larger value acts as this one
    };
    enum IPType { IP_SRC = 0, IP_DEST = 1 };

    FWWrapper();
    /// Releases what a failed operation may still hold (stream, child,
    /// buffer, socket); after a normal operation that is nothing.
    ~FWWrapper();
    FWWrapper(const FWWrapper&) = delete;
    FWWrapper& operator=(const FWWrapper&) = delete;

    // ---- ipfw commands ----------------------------------------------------

    /// Starts "ipfw delete N" with its output on m_childStream.
    void popen(int ruleNo);
    /// Starts "ipfw add ..." built from the rule; an empty action throws
    /// FirewallWrapperException 13029 before anything is started.
    void popen(FWExtDetailedData rule);
    /// Closes the stream and reaps the child; returns its wait status.
    /// A wait that fails (other than EINTR, which is retried) throws
    /// SystemException 13058.
    int pclose(FILE* stream);
    /// Runs the delete command; `lines` receives every line read through this
    /// object so far. Returns the tool's exit status; 69 throws 13051.
    int execCommand(int ruleNo, std::vector<std::string>& lines);
    /// Runs the add command; 64, 65 and 68 throw 13044, 13045 and 13046.
    int execCommand(FWExtDetailedData rule, std::vector<std::string>& lines);
    /// The same, calling `whileRunning` on this thread once ipfw has started
    /// and before its output is read, so that the caller's work overlaps
    /// the tool's. It should not throw; if it does, the tool is reaped
    /// without its output being read and the exception passes on.
    int execCommand(FWExtDetailedData rule, std::vector<std::string>& lines,
                    const std::function<void()>& whileRunning);

    /// The argument lists, argv[0] "ipfw" included.
    static std::vector<std::string> buildDeleteArgs(int ruleNo);
    static std::vector<std::string> buildAddArgs(const FWExtDetailedData& rule);

    // ---- kernel rule reader ---------------------------------------------

    /// Appends one record per kernel rule, the default rule 65535 last.
    /// 13057 without a raw socket; 13058 when the list cannot be fetched or
    /// is malformed (nothing appended then).
    int getFirewallRules(std::vector<FWExtDetailedData>& rules);
    int initFirewallManager();
    /// Fetches the whole list into m_ruleListBuffer; 1, or 0 on failure.
    int quaryIPFW();
    int getActionFromRule(FWExtDetailedData& rule, ip_fw* record);
    int getBodyFromRule(FWExtDetailedData& rule, ip_fw* record);
    int getIP(FWExtDetailedData& rule, _ipfw_insn_ip* insn, IPType type);
    int getUint16(FWExtDetailedData& rule, _ipfw_insn_u16* insn, TwoByteType type);
    int getMacAddr(FWExtDetailedData& rule, unsigned char* addr, unsigned char* mask, MACType type);
    int contigmask(unsigned char* bits, int len);

    /// The rule-list bytes held (tests).
    uint32_t ruleListSize() const { return m_ruleListSize; }

private:
    void startChild(const std::vector<std::string>& args, bool isAdd);
    int runCommand(bool isAdd, std::vector<std::string>& lines);
    void readOutput();
    void reapAfterFailure();
    void releaseRuleList();

    unsigned char* m_ruleListBuffer;         // kernel rule list; null when none
    uint32_t m_ruleListSize;                 // bytes of it the kernel returned
    int m_rawSocket;                         // -1 until opened
    FILE* m_childStream;                     // parent's end of the pipe; null when none
    std::vector<std::string> m_outputLines;  // every line read through this object
    int m_pipeFds[2];                        // read end, write end
    pid_t m_childPid;                        // -1 when no child is held
    int m_childStatus;                       // wait status
};

} // namespace FirewallSDK
