// Shared by the rule store's source files (library-internal).
#pragma once

#include <cstdint>
#include <string>

#include "FWCommands.h"
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
/// that is renamed into place only once ipfw reports that number. Until
/// keep(), destruction takes the rule out of the table again and removes
/// the temporary. The store's lock is held throughout.
struct FWCommands::WriteAhead {
    WriteAhead(RuleTable& table, uint16_t number) : table(table), number(number) {}
    ~WriteAhead() { undo(); }
    WriteAhead(const WriteAhead&) = delete;
    WriteAhead& operator=(const WriteAhead&) = delete;

    bool ready() const { return stored && file.prepared(); }
    /// The stored rule stays; the temporary is the caller's to commit.
    void keep() { stored = false; }
    void undo()
    {
        if (stored)
            table.erase(number);
        stored = false;
        file.discard();
    }

    RuleTable& table;
    const uint16_t number;
    bool stored = false;       // the table holds the rule under `number`
    std::string text;          // what the temporary holds
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
