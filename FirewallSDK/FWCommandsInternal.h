// Shared by the rule store's source files (library-internal).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FWCommands.h"
#include "FWRuleFileText.h"
#include "FWTrace.h"
#include "FileIO.h"
#include "Trace.h"

#define FW_TRACE(threshold, ...) WARD_TRACE(fwCommandFlowvalue, threshold, __VA_ARGS__)

namespace FirewallSDK {

const uint16_t DEFAULT_RULE_NO = 5002;
const uint32_t DEFAULT_RULE_CATEGORY = 0x10000001u;
const uint32_t GROUP_MASK = 0xFFFF0000u;
const uint32_t NEVER_NUMBERED_GROUP = 0x80000000u;

/// An addition's rule file, written while ipfw runs: the table with the new
/// rule stored under the number it is being added with, in a temporary file
/// that is renamed into place only once ipfw reports that number; and the
/// records of the caller's category, handed back meanwhile. Until keep(),
/// destruction takes all of it back: the rule out of the table, the records
/// out of the caller's vector, the temporary away. The store's lock is held
/// throughout.
struct FWCommands::WriteAhead {
    /// `results` may be null: nothing to hand back.
    WriteAhead(RuleTable& table, std::vector<FWExtDetailedData>* results, unsigned category)
        : table(table), results(results), category(category)
    {
    }
    ~WriteAhead()
    {
        if (!kept)
            undo();
    }
    WriteAhead(const WriteAhead&) = delete;
    WriteAhead& operator=(const WriteAhead&) = delete;

    bool ready() const { return stored && file.prepared(); }
    /// The stored rule and the handed-back records stay; the temporary is
    /// the caller's to commit.
    void keep() { kept = true; }
    void undo()
    {
        if (stored)
            table.erase(number);
        stored = false;
        if (appended)
            results->erase(results->begin() + static_cast<std::ptrdiff_t>(resultsBefore), results->end());
        appended = false;
        file.discard();
    }

    RuleTable& table;
    std::vector<FWExtDetailedData>* const results;
    const unsigned category;
    uint16_t number = 0;       // the number ipfw is adding the rule with
    bool stored = false;       // the table holds the rule under `number`
    bool appended = false;     // `results` holds the category's records from resultsBefore on
    size_t resultsBefore = 0;
    bool kept = false;
    std::string text;          // what the temporary holds
    std::unique_ptr<RuleFileLayout> layout; // where its records stand
    wardfile::PendingReplace file;
};

namespace detail {

/// Inside a catch block: a FirewallException goes on as a plain copy, with
/// its message and code; anything else becomes SystemException 13058.
[[noreturn]] void rethrowAsFirewall(const char* function);

/// The group (high half) is one of the four.
bool validGroup(unsigned category);

} // namespace detail
} // namespace FirewallSDK
