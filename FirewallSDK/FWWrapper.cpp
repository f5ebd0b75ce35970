// FWWrapper's writing side: ipfw argument lists, the child process over a
// pipe (started and reaped through the ipfw runner), and the exit-status
// table.
#include "FWWrapper.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "FWTrace.h"
#include "IpfwRunner.h"
#include "Trace.h"

namespace FirewallSDK {

namespace {

const char* const kSource = __FILE__;

/// "{", entries by flag, "}" (protocols and addresses). Entries with a flag
/// that has no ipfw form are dropped and traced.
template <typename List, typename Text, typename Flag>
void appendGroup(std::vector<std::string>& args, const List& list, Text text, Flag flag, const wchar_t* badFlagLine)
{
    args.push_back("{");
    for (const auto& entry : list) {
        switch (flag(entry)) {
        case FWDetailedData::FIELD_PLAIN:
            args.push_back(text(entry));
            break;
        case FWDetailedData::FIELD_OR:
            args.push_back(text(entry));
            args.push_back("or");
            break;
        case FWDetailedData::FIELD_NOT:
            args.push_back("not");
            args.push_back(text(entry));
            break;
        default:
            WARD_TRACE(fwCommandFlowvalue, 2, badFlagLine, "popen");
            break;
        }
    }
    args.push_back("}");
}

/// Port entries: no braces, no "or".
void appendPorts(std::vector<std::string>& args, const FWDetailedData::PortList& ports, const wchar_t* badFlagLine)
{
    if (ports.empty() || ports.front().getPortNo().empty())
        return;
    for (const auto& port : ports) {
        switch (port.getPortFlag()) {
        case FWDetailedData::FIELD_PLAIN:
            args.push_back(port.getPortNo());
            break;
        case FWDetailedData::FIELD_NOT:
            args.push_back("not");
            args.push_back(port.getPortNo());
            break;
        default:
            WARD_TRACE(fwCommandFlowvalue, 2, badFlagLine, "popen");
            break;
        }
    }
}

} // namespace

FWWrapper::FWWrapper()
    : m_ruleListBuffer(nullptr),
      m_ruleListSize(0),
      m_rawSocket(-1),
      m_childStream(nullptr),
      m_pipeFds{-1, -1},
      m_childPid(-1),
      m_childStatus(0)
{
}

FWWrapper::~FWWrapper()
{
    reapAfterFailure();
    releaseRuleList();
}

void FWWrapper::reapAfterFailure()
{
    if (m_childStream != nullptr) {
        std::fclose(m_childStream);
        m_childStream = nullptr;
        m_pipeFds[0] = -1;
    }
    if (m_pipeFds[0] >= 0) {
        ::close(m_pipeFds[0]);
        m_pipeFds[0] = -1;
    }
    if (m_pipeFds[1] >= 0) {
        ::close(m_pipeFds[1]);
        m_pipeFds[1] = -1;
    }
    if (m_childPid > 0) {
        int status = 0;
        ipfw::runner().wait(m_childPid, status);
        m_childPid = -1;
    }
}

std::vector<std::string> FWWrapper::buildDeleteArgs(int ruleNo)
{
    return {"ipfw", "delete", std::to_string(ruleNo)};
}

std::vector<std::string> FWWrapper::buildAddArgs(const FWExtDetailedData& rule)
{
    const char* fn = "popen";
    std::vector<std::string> args{"ipfw", "add"};
    const int ruleNo = rule.getRuleNo();
    const bool filterRule = ruleNo == QYV_DENY_ALLOW_FILTER_RULE_NO;
    WARD_TRACE(fwCommandFlowvalue, 4, L"Rule action is %d i.e 0 - Unknow, 1 - Allow, 2 = Deny\n",
               static_cast<int>(rule.getAction()));
    WARD_TRACE(fwCommandFlowvalue, 4, L"Rule no. is %d\n", ruleNo);
    if (rule.getAction() == FW_ACTION_DENY)
        WARD_TRACE(fwCommandFlowvalue, 4, L"This rule is a Deny Rule\n");
    else
        WARD_TRACE(fwCommandFlowvalue, 4, L"Rule no is not a Deny Rule\n");

    if (ruleNo != 0)
        args.push_back(rule.getRuleNoAsString());
    if (rule.getRuleSet() != 0)
        args.push_back(rule.getRuleSetNoAsString());

    const std::string& action = rule.getActionAsString();
    if (action.empty()) {
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Unknown action specified\n", fn);
        throw FirewallWrapperException("Unknown action requested", FW_UNKNOWN_ACTION_REQUESTED);
    }
    args.push_back(action);
    if (action == "fwd" || action == "forward") {
        if (!rule.getActionOptIp().empty()) {
            args.push_back(rule.getActionOptIp());
            args.push_back(rule.getActionOptPortAsString());
        }
    } else if (action == "pipe" || action == "queue" || action == "tee" || action == "skipto" ||
               action == "divert") {
        args.push_back(rule.getActionOptPortAsString());
    } else if (action == "unreach") {
        args.push_back(rule.getActionOpt());
    }

    if (rule.isLogging())
        args.push_back("log");

    const auto& protocols = rule.getProtocolByRef();
    if (protocols.empty()) {
        args.push_back("all");
    } else {
        appendGroup(
            args, protocols, [](const FWDetailedData::FirewallProtocol& p) { return p.getProtocol(); },
            [](const FWDetailedData::FirewallProtocol& p) { return p.getProtocolFlag(); },
            L"%s - Unknown logical operator for protocol\n");
    }

    if (filterRule)
        WARD_TRACE(fwCommandFlowvalue, 4,
                   L"Rule no is QYV_DENY_ALLOW_FILTER_RULE_NO i.e. a Deny Rule. So, we need to change source and "
                   L"destination strings.\n");

    auto ipText = [](const FWDetailedData::FirewallIp& ip) { return ip.getIPAddress(); };
    auto ipFlag = [](const FWDetailedData::FirewallIp& ip) { return ip.getIPFlag(); };
    const FWTrafficDirection direction = rule.getTrafficDirection();

    args.push_back("from");
    const auto& srcIps = rule.getSrcIpByRef();
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Source IP  SIZE %d\n", fn, static_cast<int>(srcIps.size()));
    if (!srcIps.empty()) {
        appendGroup(args, srcIps, ipText, ipFlag, L"%s - Invalid source ip flag specified\n");
    } else if (filterRule && direction == FW_DIRECTION_OUT) {
        args.push_back("me");
    } else {
        if (filterRule && direction != FW_DIRECTION_IN)
            WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Unknown on In-Out bound traffic direction specified.\n", fn);
        args.push_back("any");
    }
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s -Source port SIZE %d\n", fn,
               static_cast<int>(rule.getSrcPortByRef().size()));
    appendPorts(args, rule.getSrcPortByRef(), L"%s - Invalid source port flag specified\n");

    args.push_back("to");
    const auto& destIps = rule.getDestIpByRef();
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Destination IP  SIZE %d\n", fn, static_cast<int>(destIps.size()));
    if (!destIps.empty()) {
        appendGroup(args, destIps, ipText, ipFlag, L"%s - Invalid destination ip flag specified\n");
    } else if (filterRule && direction == FW_DIRECTION_IN) {
        args.push_back("me");
    } else {
        if (filterRule && direction != FW_DIRECTION_OUT)
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - Unknown or In-Out bound traffic direction specified.\n", fn);
        args.push_back("any");
    }
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s - destination port SIZE %d\n", fn,
               static_cast<int>(rule.getDestPortByRef().size()));
    appendPorts(args, rule.getDestPortByRef(), L"%s - Invalid destination port flag specified\n");

    for (const auto& iface : rule.getInterfaceByRef()) {
        args.push_back(iface.first);
        args.push_back(iface.second);
    }

    switch (direction) {
    case FW_DIRECTION_IN:
        WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Inbound traffic direction specified.\n", fn);
        args.push_back("in");
        if (filterRule) {
            WARD_TRACE(fwCommandFlowvalue, 2, L"It is a Deny Incoming Rule. So, we need to keep-state.\n");
            args.push_back("keep-state");
        }
        break;
    case FW_DIRECTION_OUT:
        WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Outbound traffic direction specified.\n", fn);
        args.push_back("out");
        if (filterRule) {
            WARD_TRACE(fwCommandFlowvalue, 2, L"It is a Deny Outgoing Rule. So, we need to keep-state.\n");
            args.push_back("keep-state");
        }
        break;
    case FW_DIRECTION_BOTH:
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Inbound and outbound traffic direction specified.\n", fn);
        break;
    default:
        WARD_TRACE(fwCommandFlowvalue, 0, L"%s - Unknown traffic direction specified.\n", fn);
        break;
    }

    if (!rule.getIcmpType().empty()) {
        args.push_back("icmptypes");
        args.push_back(rule.getIcmpType());
    }
    return args;
}

void FWWrapper::popen(int ruleNo)
{
    const char* fn = "popen";
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Called\n", fn);
    std::vector<std::string> args = buildDeleteArgs(ruleNo);
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s ---- ipfw tokens ----\n", fn);
    for (const std::string& a : args)
        WARD_TRACE(fwCommandFlowvalue, 4, L" .%s. \n", a.c_str());
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s ----  done ----\n", fn);
    startChild(args, false);
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Finished\n", fn);
}

void FWWrapper::popen(FWExtDetailedData rule)
{
    const char* fn = "popen";
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s : %s - Called\n", kSource, fn);
    std::vector<std::string> args = buildAddArgs(rule);
    WARD_TRACE(fwCommandFlowvalue, 0, L"%s ---- ipfw tokens ----\n", fn);
    for (const std::string& a : args)
        WARD_TRACE(fwCommandFlowvalue, 2, L" .%s. \n", a.c_str());
    startChild(args, true);
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Finished\n", fn);
}

void FWWrapper::startChild(const std::vector<std::string>& args, bool isAdd)
{
    const char* fn = "popen";
    reapAfterFailure();  // nothing is held between commands; be sure
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Executing chield process\n", fn);
    // O_CLOEXEC: a child started meanwhile by another thread of the host must
    // not keep the write end, or the read below never ends.
    if (::pipe2(m_pipeFds, O_CLOEXEC) != 0) {
        int e = errno;
        m_pipeFds[0] = m_pipeFds[1] = -1;
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Pipe call failed with error [ %s ]\n", fn, std::strerror(e));
        throw SystemException("Failed to open pipe", FW_PIPE_FAILED);
    }
    pid_t pid = ipfw::runner().spawn(args, m_pipeFds[1]);
    if (pid < 0) {
        int e = errno;
        reapAfterFailure();
        if (e == EAGAIN || e == ENOMEM) {
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Fork call failed\n", fn);
            throw SystemException("Failed to create chield process", FW_FORK_FAILED);
        }
        if (isAdd)
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - Execvp call failed\n", "execCommand");
        else
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Execvp call failed\n", "execCommand");
        throw SystemException("Faile to exec", FW_EXEC_FAILED);
    }
    m_childPid = pid;
    ::close(m_pipeFds[1]);
    m_pipeFds[1] = -1;
    m_childStream = ::fdopen(m_pipeFds[0], "r");
    if (m_childStream == nullptr) {
        if (isAdd)
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - fdopen failed\n", fn);
        else
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - fdopen failed\n", fn);
        reapAfterFailure();
        throw SystemException("Failed to open file from file descriptor", FW_FDOPEN_FAILED);
    }
}

int FWWrapper::pclose(FILE* stream)
{
    const char* fn = "pclose";
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Called\n", fn);
    if (stream != nullptr) {
        std::fclose(stream);
        if (stream == m_childStream) {
            m_childStream = nullptr;
            m_pipeFds[0] = -1;
        }
    }
    m_childStatus = 0;
    if (m_childPid > 0) {
        int status = 0;
        int rc = ipfw::runner().wait(m_childPid, status);
        int e = errno;
        m_childPid = -1;
        if (rc != 0) {
            // ECHILD when the host ignores SIGCHLD: the status is unknown, so
            // it must not read as success.
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - waitpid failed with error [ %s ]\n", fn, std::strerror(e));
            throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
        }
        m_childStatus = status;
    }
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Finished\n", fn);
    return m_childStatus;
}

void FWWrapper::readOutput()
{
    // fgets-sized pieces (at most 511 bytes, ending at a newline), read a
    // character at a time so that a signal interrupting the read loses
    // nothing: EINTR is not the end of the output.
    char buf[512];
    bool end = false;
    while (!end) {
        size_t n = 0;
        while (n < sizeof buf - 1) {
            int c = std::getc(m_childStream);
            if (c == EOF) {
                if (std::ferror(m_childStream) && errno == EINTR) {
                    std::clearerr(m_childStream);
                    continue;
                }
                end = true;
                break;
            }
            buf[n++] = static_cast<char>(c);
            if (c == '\n')
                break;
        }
        if (n > 0) {
            m_outputLines.emplace_back(buf, n);
            WARD_TRACE(fwCommandFlowvalue, 4, L"%s - ipfw output [ %s ]\n", "execCommand",
                       m_outputLines.back().c_str());
        }
    }
}

int FWWrapper::runCommand(bool isAdd, std::vector<std::string>& lines)
{
    const char* fn = "execCommand";
    try {
        readOutput();
        lines = m_outputLines;
    } catch (...) {
        reapAfterFailure();
        throw;
    }
    int status = pclose(m_childStream);
    m_childStream = nullptr;
    int code = (status >> 8) & 0xff;
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - ipfw return statur = %d\n", fn, code);
    if (WIFSIGNALED(status)) {
        WARD_TRACE(fwCommandFlowvalue, 2, L"%s - ipfw ended by signal %d\n", fn, WTERMSIG(status));
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
    if (!WIFEXITED(status))
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    if (code == 127) {
        // What a shell reports when it could not execute the tool.
        if (isAdd)
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - Execvp call failed\n", fn);
        else
            WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Execvp call failed\n", fn);
        throw SystemException("Faile to exec", FW_EXEC_FAILED);
    }
    if (isAdd) {
        switch (code) {
        case 64:
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - ipfw unknown option\n", fn);
            throw FirewallException("Invalid command for execution", FW_INVALID_COMMAND_FOR_EXECUTION);
        case 65:
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - ipfw invalid action\n", fn);
            throw FirewallException("Invalid action specified", FW_INVALID_ACTION_SPECIFIED);
        case 68:
            WARD_TRACE(fwCommandFlowvalue, 0, L"%s - ipfw unknown host name\n", fn);
            throw FirewallException("No such ip or host name exist", FW_NO_SUCH_HOST);
        default:
            break;
        }
    } else if (code == 69) {
        WARD_TRACE(fwCommandFlowvalue, 0, L"%s - ipfw no such rule number exist\n", fn);
        throw FirewallException("No such rule number exist", FW_NO_SUCH_RULE_NUMBER);
    }
    return code;
}

int FWWrapper::execCommand(int ruleNo, std::vector<std::string>& lines)
{
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s - %s Called\n", kSource, "execCommand");
    popen(ruleNo);
    int code = runCommand(false, lines);
    WARD_TRACE(fwCommandFlowvalue, 4, L"%s - Finished\n", "execCommand");
    return code;
}

int FWWrapper::execCommand(FWExtDetailedData rule, std::vector<std::string>& lines)
{
    return execCommand(std::move(rule), lines, std::function<void()>());
}

int FWWrapper::execCommand(FWExtDetailedData rule, std::vector<std::string>& lines,
                           const std::function<void()>& whileRunning)
{
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s - %s Called\n", kSource, "execCommand");
    popen(std::move(rule));
    if (whileRunning) {
        try {
            whileRunning();
        } catch (...) {
            reapAfterFailure();
            throw;
        }
    }
    int code = runCommand(true, lines);
    WARD_TRACE(fwCommandFlowvalue, 2, L"%s - Finished\n", "execCommand");
    return code;
}

} // namespace FirewallSDK
