// ipfw: the Linux stand-in for the packet filter's command-line tool.
//
// Accepts the add and delete command lines the firewall engine builds,
// compiles each rule into the kernel's record layout and keeps the kernel's
// list in the state folder, so that the rule reader gets back exactly what a
// kernel would hold. Exit statuses follow sysexits as the real tool's do.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sysexits.h>
#include <unistd.h>
#include <vector>

#include "FileIO.h"
#include "IpfwCompiler.h"
#include "IpfwLayout.h"
#include "IpfwState.h"

namespace {

int complain(int status, const std::string& message)
{
    std::fprintf(stderr, "ipfw: %s\n", message.c_str());
    return status;
}

void writeOut(const std::string& s)
{
    std::fwrite(s.data(), 1, s.size(), stdout);
}

/// Test hook: the next run takes inject from the state folder and acts on it
/// before anything else. Taking is a rename, so one run only gets it.
/// Returns -1 to go on, or an exit status.
int runInjection()
{
    std::string taken = std::string(ipfw::kInjectFile) + ".taken." + std::to_string(::getpid());
    if (::rename(ipfw::kInjectFile, taken.c_str()) != 0)
        return -1;
    std::vector<uint8_t> bytes;
    int e = ipfw::readWholeFile(taken, bytes, 256);
    ::unlink(taken.c_str());
    if (e != 0)
        return complain(EX_OSERR, "inject: " + std::string(std::strerror(e)));
    std::string text(bytes.begin(), bytes.end());
    char word[32] = {0};
    unsigned long long n = 0;
    int got = std::sscanf(text.c_str(), "%31s %llu", word, &n);
    std::string what = got >= 1 ? word : "";
    if (what == "exit" && got == 2) {
        std::fprintf(stderr, "ipfw: injected exit %llu\n", n);
        return static_cast<int>(n & 0xff);
    }
    if (what == "signal") {
        std::fflush(stdout);
        ::kill(::getpid(), SIGKILL);
        return EX_OSERR;
    }
    if (what == "flood" && got == 2) {
        // n bytes of 64-byte lines; the last one shorter.
        std::string line(63, 'f');
        line += '\n';
        unsigned long long left = n;
        while (left >= line.size()) {
            writeOut(line);
            left -= line.size();
        }
        if (left > 0)
            writeOut(std::string(static_cast<size_t>(left - 1), 'f') + "\n");
        return -1;
    }
    if (what == "line" && got == 2) {
        writeOut(std::string(static_cast<size_t>(n), 'l') + "\n");
        return -1;
    }
    if (what == "sleep" && got == 2) {
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(n);
        ts.tv_nsec = 0;
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
        return -1;
    }
    return complain(EX_OSERR, "inject: cannot read \"" + text + "\"");
}

/// The held list, one byte vector per record, the default rule last.
/// False when the state is unusable.
bool loadList(std::vector<std::vector<uint8_t>>& records, std::string& problem)
{
    std::vector<uint8_t> bytes;
    int e = ipfw::readWholeFile(ipfw::kRulesFile, bytes);
    if (e == ENOENT) {
        records.assign(1, ipfw::defaultRuleRecord());
        return true;
    }
    if (e != 0) {
        problem = std::string(ipfw::kRulesFile) + ": " + std::strerror(e);
        return false;
    }
    ipfw::ListCheck check = ipfw::checkRuleList(ipfw::ByteSpan(bytes));
    if (!check.ok) {
        problem = std::string(ipfw::kRulesFile) + ": " + check.problem;
        return false;
    }
    size_t used = 0;
    for (const ipfw::ip_fw& r : check.records)
        used += r.bytes.size;
    if (used != bytes.size()) {
        problem = std::string(ipfw::kRulesFile) + ": " + std::to_string(bytes.size() - used) +
                  " bytes after the default rule";
        return false;
    }
    records.clear();
    for (const ipfw::ip_fw& r : check.records)
        records.emplace_back(r.bytes.data, r.bytes.data + r.bytes.size);
    return true;
}

bool storeList(const std::vector<std::vector<uint8_t>>& records, std::string& problem)
{
    std::vector<uint8_t> bytes;
    for (const auto& r : records)
        bytes.insert(bytes.end(), r.begin(), r.end());
    // Under the state lock: what killed writers left can go.
    wardfile::removeLeftovers(ipfw::kRulesFile);
    int e = wardfile::replaceFile(ipfw::kRulesFile, 0644, bytes.data(), bytes.size()).error;
    if (e != 0) {
        problem = std::string(ipfw::kRulesFile) + ": " + std::strerror(e);
        return false;
    }
    return true;
}

uint16_t ruleNumberOf(const std::vector<uint8_t>& rec)
{
    return ipfw::readLE16(ipfw::ByteSpan(rec), ipfw::kOffRuleNum).value_or(0);
}

int addRule(const std::vector<std::string>& words)
{
    ipfw::CompiledRule rule;
    try {
        rule = ipfw::compileAdd(words);
    } catch (const ipfw::CompileError& e) {
        return complain(e.status, e.message);
    }
    ipfw::StateLock lock;
    if (lock.error() != 0)
        return complain(EX_OSERR, std::string(ipfw::kLockFile) + ": " + std::strerror(lock.error()));
    std::vector<std::vector<uint8_t>> records;
    std::string problem;
    if (!loadList(records, problem))
        return complain(EX_OSERR, problem);

    uint16_t num = rule.rulenum;
    if (!rule.hasNumber) {
        unsigned highest = 0;
        for (const auto& r : records) {
            unsigned n = ruleNumberOf(r);
            if (n < ipfw::kDefaultRuleNum && n > highest)
                highest = n;
        }
        if (highest + 100 > 65534)
            return complain(EX_DATAERR, "no rule number left after " + std::to_string(highest));
        num = static_cast<uint16_t>(highest + 100);
    }
    // After every rule with this number, before the first with a larger one.
    size_t at = 0;
    while (at < records.size() && ruleNumberOf(records[at]) <= num)
        ++at;
    records.insert(records.begin() + static_cast<long>(at),
                   ipfw::makeRecord(num, rule.set, rule.actOfs, rule.instructions));
    if (!storeList(records, problem))
        return complain(EX_OSERR, problem);
    char head[8];
    std::snprintf(head, sizeof head, "%05u", static_cast<unsigned>(num));
    writeOut(std::string(head) + " " + rule.shown + "\n");
    return EX_OK;
}

int deleteRule(const std::vector<std::string>& words)
{
    if (words.empty())
        return complain(EX_USAGE, "delete: missing rule number");
    if (words.size() > 1)
        return complain(EX_USAGE, "delete: unexpected \"" + words[1] + "\"");
    const std::string& text = words[0];
    bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
    unsigned long num = digits ? std::stoul(text) : 0;
    if (!digits || num < 1 || num > 65534)
        return complain(EX_DATAERR, "delete: bad rule number \"" + text + "\"");

    ipfw::StateLock lock;
    if (lock.error() != 0)
        return complain(EX_OSERR, std::string(ipfw::kLockFile) + ": " + std::strerror(lock.error()));
    std::vector<std::vector<uint8_t>> records;
    std::string problem;
    if (!loadList(records, problem))
        return complain(EX_OSERR, problem);
    size_t before = records.size();
    std::vector<std::vector<uint8_t>> kept;
    for (auto& r : records)
        if (ruleNumberOf(r) != num || &r == &records.back())
            kept.push_back(std::move(r));
    if (kept.size() == before)
        return complain(EX_UNAVAILABLE, "delete: no rule numbered " + text);
    if (!storeList(kept, problem))
        return complain(EX_OSERR, problem);
    return EX_OK;
}

} // namespace

int main(int argc, char** argv)
{
    int injected = runInjection();
    if (injected >= 0)
        return injected;
    std::vector<std::string> words(argv + 1, argv + argc);
    int status;
    if (words.empty()) {
        status = complain(EX_USAGE, "usage: ipfw add [N [SET]] ACTION ... | ipfw delete N");
    } else if (words[0] == "add") {
        status = addRule(std::vector<std::string>(words.begin() + 1, words.end()));
    } else if (words[0] == "delete") {
        status = deleteRule(std::vector<std::string>(words.begin() + 1, words.end()));
    } else {
        status = complain(EX_USAGE, "unknown command \"" + words[0] + "\"");
    }
    if (std::fflush(stdout) != 0 && status == EX_OK)
        status = EX_IOERR;
    return status;
}
