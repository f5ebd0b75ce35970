#include "IpfwTool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sysexits.h>

#include "FileIO.h"
#include "IpfwCompiler.h"
#include "IpfwLayout.h"
#include "IpfwState.h"

namespace ipfw {

namespace {

int complain(ToolResult& r, int status, const std::string& message)
{
    r.err += "ipfw: " + message + "\n";
    return status;
}

/// The held list, one byte vector per record, the default rule last.
/// False when the state is unusable.
bool loadList(std::vector<std::vector<uint8_t>>& records, std::string& problem)
{
    std::vector<uint8_t> bytes;
    int e = readWholeFile(kRulesFile, bytes);
    if (e == ENOENT) {
        records.assign(1, defaultRuleRecord());
        return true;
    }
    if (e != 0) {
        problem = std::string(kRulesFile) + ": " + std::strerror(e);
        return false;
    }
    ListCheck check = checkRuleList(ByteSpan(bytes));
    if (!check.ok) {
        problem = std::string(kRulesFile) + ": " + check.problem;
        return false;
    }
    size_t used = 0;
    for (const ip_fw& r : check.records)
        used += r.bytes.size;
    if (used != bytes.size()) {
        problem = std::string(kRulesFile) + ": " + std::to_string(bytes.size() - used) +
                  " bytes after the default rule";
        return false;
    }
    records.clear();
    for (const ip_fw& r : check.records)
        records.emplace_back(r.bytes.data, r.bytes.data + r.bytes.size);
    return true;
}

bool storeList(const std::vector<std::vector<uint8_t>>& records, std::string& problem)
{
    std::vector<uint8_t> bytes;
    for (const auto& r : records)
        bytes.insert(bytes.end(), r.begin(), r.end());
    // Under the state lock: what killed writers left can go.
    wardfile::removeLeftovers(kRulesFile);
    int e = wardfile::replaceFile(kRulesFile, 0644, bytes.data(), bytes.size()).error;
    if (e != 0) {
        problem = std::string(kRulesFile) + ": " + std::strerror(e);
        return false;
    }
    return true;
}

uint16_t ruleNumberOf(const std::vector<uint8_t>& rec)
{
    return readLE16(ByteSpan(rec), kOffRuleNum).value_or(0);
}

int addRule(const std::vector<std::string>& words, ToolResult& r)
{
    CompiledRule rule;
    try {
        rule = compileAdd(words);
    } catch (const CompileError& e) {
        return complain(r, e.status, e.message);
    }
    StateLock lock;
    if (lock.error() != 0)
        return complain(r, EX_OSERR, std::string(kLockFile) + ": " + std::strerror(lock.error()));
    std::vector<std::vector<uint8_t>> records;
    std::string problem;
    if (!loadList(records, problem))
        return complain(r, EX_OSERR, problem);

    uint16_t num = rule.rulenum;
    if (!rule.hasNumber) {
        unsigned highest = 0;
        for (const auto& r : records) {
            unsigned n = ruleNumberOf(r);
            if (n < kDefaultRuleNum && n > highest)
                highest = n;
        }
        if (highest + 100 > 65534)
            return complain(r, EX_DATAERR, "no rule number left after " + std::to_string(highest));
        num = static_cast<uint16_t>(highest + 100);
    }
    // After every rule with this number, before the first with a larger one.
    size_t at = 0;
    while (at < records.size() && ruleNumberOf(records[at]) <= num)
        ++at;
    records.insert(records.begin() + static_cast<long>(at),
                   makeRecord(num, rule.set, rule.actOfs, rule.instructions));
    if (!storeList(records, problem))
        return complain(r, EX_OSERR, problem);
    char head[8];
    std::snprintf(head, sizeof head, "%05u", static_cast<unsigned>(num));
    r.out += std::string(head) + " " + rule.shown + "\n";
    return EX_OK;
}

int deleteRule(const std::vector<std::string>& words, ToolResult& r)
{
    if (words.empty())
        return complain(r, EX_USAGE, "delete: missing rule number");
    if (words.size() > 1)
        return complain(r, EX_USAGE, "delete: unexpected \"" + words[1] + "\"");
    const std::string& text = words[0];
    bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
    unsigned long num = digits ? std::stoul(text) : 0;
    if (!digits || num < 1 || num > 65534)
        return complain(r, EX_DATAERR, "delete: bad rule number \"" + text + "\"");

    StateLock lock;
    if (lock.error() != 0)
        return complain(r, EX_OSERR, std::string(kLockFile) + ": " + std::strerror(lock.error()));
    std::vector<std::vector<uint8_t>> records;
    std::string problem;
    if (!loadList(records, problem))
        return complain(r, EX_OSERR, problem);
    size_t before = records.size();
    std::vector<std::vector<uint8_t>> kept;
    for (auto& r : records)
        if (ruleNumberOf(r) != num || &r == &records.back())
            kept.push_back(std::move(r));
    if (kept.size() == before)
        return complain(r, EX_UNAVAILABLE, "delete: no rule numbered " + text);
    if (!storeList(kept, problem))
        return complain(r, EX_OSERR, problem);
    return EX_OK;
}

} // namespace

ToolResult runTool(const std::vector<std::string>& words)
{
    ToolResult r;
    if (words.empty())
        r.status = complain(r, EX_USAGE, "usage: ipfw add [N [SET]] ACTION ... | ipfw delete N");
    else if (words[0] == "add")
        r.status = addRule(std::vector<std::string>(words.begin() + 1, words.end()), r);
    else if (words[0] == "delete")
        r.status = deleteRule(std::vector<std::string>(words.begin() + 1, words.end()), r);
    else
        r.status = complain(r, EX_USAGE, "unknown command \"" + words[0] + "\"");
    return r;
}

} // namespace ipfw
