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

/// The held list as read: its bytes and a view of every record in them, the
/// default rule last. Records are spliced as views, never copied one by one:
/// every addition starts this program and rewrites the whole list.
struct HeldList {
    std::vector<uint8_t> bytes;
    std::vector<ip_fw> records;
};

/// False when the state is unusable.
bool loadList(HeldList& list, std::string& problem)
{
    int e = readWholeFile(kRulesFile, list.bytes);
    if (e == ENOENT)
        list.bytes = defaultRuleRecord();
    else if (e != 0) {
        problem = std::string(kRulesFile) + ": " + std::strerror(e);
        return false;
    }
    ListCheck check = checkRuleList(ByteSpan(list.bytes));
    if (!check.ok) {
        problem = std::string(kRulesFile) + ": " + check.problem;
        return false;
    }
    size_t used = 0;
    for (const ip_fw& r : check.records)
        used += r.bytes.size;
    if (used != list.bytes.size()) {
        problem = std::string(kRulesFile) + ": " + std::to_string(list.bytes.size() - used) +
                  " bytes after the default rule";
        return false;
    }
    list.records = std::move(check.records);
    return true;
}

/// Replaces the list with `pieces` written one after another; pieces that
/// follow each other in memory go out in one write.
bool storeList(const std::vector<ByteSpan>& pieces, std::string& problem)
{
    std::vector<ByteSpan> runs;
    for (const ByteSpan& piece : pieces) {
        if (!runs.empty() && runs.back().data + runs.back().size == piece.data)
            runs.back().size += piece.size;
        else if (piece.size != 0)
            runs.push_back(piece);
    }
    // Under the state lock: what killed writers left can go.
    wardfile::removeLeftovers(kRulesFile);
    int e = wardfile::replaceFile(kRulesFile, 0644, [&](int fd) {
                for (const ByteSpan& run : runs) {
                    int w = wardfile::writeAll(fd, run.data, run.size);
                    if (w != 0)
                        return w;
                }
                return 0;
            }).error;
    if (e != 0) {
        problem = std::string(kRulesFile) + ": " + std::strerror(e);
        return false;
    }
    return true;
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
    HeldList list;
    std::string problem;
    if (!loadList(list, problem))
        return complain(r, EX_OSERR, problem);

    uint16_t num = rule.rulenum;
    if (!rule.hasNumber) {
        unsigned highest = 0;
        for (const ip_fw& rec : list.records) {
            unsigned n = rec.rulenum();
            if (n < kDefaultRuleNum && n > highest)
                highest = n;
        }
        if (highest + 100 > 65534)
            return complain(r, EX_DATAERR, "no rule number left after " + std::to_string(highest));
        num = static_cast<uint16_t>(highest + 100);
    }
    // After every rule with this number, before the first with a larger one.
    size_t at = 0;
    size_t offset = 0;
    while (at < list.records.size() && list.records[at].rulenum() <= num) {
        offset += list.records[at].bytes.size;
        ++at;
    }
    const std::vector<uint8_t> added = makeRecord(num, rule.set, rule.actOfs, rule.instructions);
    const ByteSpan all(list.bytes);
    if (!storeList({all.sub(0, offset), ByteSpan(added), all.sub(offset, all.size - offset)}, problem))
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
    HeldList list;
    std::string problem;
    if (!loadList(list, problem))
        return complain(r, EX_OSERR, problem);
    std::vector<ByteSpan> kept;
    for (const ip_fw& rec : list.records)
        if (rec.rulenum() != num || &rec == &list.records.back())
            kept.push_back(rec.bytes);
    if (kept.size() == list.records.size())
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
