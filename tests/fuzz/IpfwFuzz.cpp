// The kernel rule list as libportward reads it: the stand-in's list check
// and record views (platform/ipfw), then FWWrapper's decoder over a
// rule-list source that serves the input. Needs a raw socket, so root.
//
// Checked: an accepted list is cut into records that lie end to end from
// its first byte, each with its parts and instructions inside it, the
// default rule last; the decoder gives one rule per record in that order
// (or the rules before a record whose field a setter refuses, with the
// setter's code), and refuses exactly the lists the check refuses, with
// 13058 and nothing appended.
#include <cstring>
#include <string>
#include <vector>

#include "FWWrapper.h"
#include "FirewallException.h"
#include "FuzzCheck.h"
#include "IpfwLayout.h"
#include "RuleListSource.h"

using namespace FirewallSDK;

namespace {

const uint8_t* g_list = nullptr;
size_t g_listSize = 0;

int serveInput(int, void* buf, socklen_t* len)
{
    const size_t n = g_listSize < *len ? g_listSize : static_cast<size_t>(*len);
    if (n != 0)
        std::memcpy(buf, g_list, n);
    *len = static_cast<socklen_t>(n);
    return 0;
}

void checkPart(ipfw::ByteSpan record, ipfw::ByteSpan part, size_t words, const char* name)
{
    fuzzcheck::check(part.size == words * ipfw::kWord, std::string(name) + " part of the wrong size");
    fuzzcheck::check(part.size == 0 || (part.data >= record.data + ipfw::kHeaderSize &&
                                        part.data + part.size <= record.data + record.size),
                     std::string(name) + " part outside its record");
    ipfw::walkPart(part, [&](const ipfw::ipfw_insn& insn) {
        fuzzcheck::check(insn.bytes.data >= part.data && insn.bytes.data + insn.bytes.size <= part.data + part.size,
                         std::string("instruction outside the ") + name + " part");
        fuzzcheck::check(insn.flen() != 0 && insn.bytes.size == insn.flen() * ipfw::kWord &&
                             insn.wordsInside() == insn.flen() && insn.own().size == insn.bytes.size,
                         std::string("instruction of the ") + name + " part cut wrongly");
    });
}

/// The stand-in's reading side; true when the list is accepted.
bool checkList(const uint8_t* data, size_t size, size_t& records)
{
    const ipfw::ListCheck check = ipfw::checkRuleList(ipfw::ByteSpan(data, size));
    records = check.records.size();
    if (!check.ok) {
        fuzzcheck::check(check.records.empty() && !check.problem.empty(), "a refusal without its reason");
        return false;
    }
    fuzzcheck::check(!check.records.empty() && check.records.back().isDefaultRule(),
                     "an accepted list does not end with the default rule");
    size_t off = 0;
    for (const ipfw::ip_fw& rec : check.records) {
        fuzzcheck::check(rec.bytes.data == data + off, "records do not lie end to end");
        fuzzcheck::check(rec.bytes.size == ipfw::kHeaderSize + size_t(rec.cmd_len()) * ipfw::kWord &&
                             off + rec.bytes.size <= size,
                         "a record of the wrong size");
        fuzzcheck::check(rec.act_ofs() <= rec.cmd_len(), "act_ofs beyond cmd_len");
        checkPart(rec.bytes, rec.matchPart(), rec.act_ofs(), "match");
        checkPart(rec.bytes, rec.actionPart(), size_t(rec.cmd_len()) - rec.act_ofs(), "action");
        off += rec.bytes.size;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool sourceSet = [] {
        ipfw::setRuleListSource(serveInput);
        return true;
    }();
    (void)sourceSet;
    g_list = data;
    g_listSize = size;
    fuzzcheck::guard([&] {
        size_t records = 0;
        const bool accepted = checkList(data, size, records);
        FWWrapper wrapper;
        std::vector<FWExtDetailedData> rules;
        bool complete = true;
        try {
            fuzzcheck::check(wrapper.getFirewallRules(rules) == 1, "getFirewallRules answered other than 1");
        } catch (const FirewallException& e) {
            fuzzcheck::check(e.code != FW_RAW_SOCKET_FAILED, "no raw socket: run the target as root");
            if (!accepted) {
                fuzzcheck::check(e.code == FW_UNKNOWN_ERROR && rules.empty(),
                                 "a refused list gave code " + std::to_string(e.code) + " or rules");
                return;
            }
            // A record field that a setter refuses ends the walk; the
            // records before it stay.
            fuzzcheck::check(e.code != FW_UNKNOWN_ERROR && rules.size() < records,
                             "an accepted list was refused whole, code " + std::to_string(e.code));
            complete = false;
        }
        fuzzcheck::check(accepted, "the decoder accepted a list the check refuses");
        fuzzcheck::check(!complete || rules.size() == records, "not one rule per record");
        const ipfw::ListCheck check = ipfw::checkRuleList(ipfw::ByteSpan(data, size));
        for (size_t i = 0; i < rules.size(); ++i)
            fuzzcheck::check(rules[i].getRuleNo() == check.records[i].rulenum(), "rule " + std::to_string(i) +
                                                                                    " decoded with another number");
    });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    const std::vector<uint8_t> list = ipfw::defaultRuleRecord();
    writeSeed(dir, "default-rule", std::string(list.begin(), list.end()));
}
