// The rule store's operations on rules: numbering, edits, queries and the
// reconciliation with the kernel. ipfw first, the table second.
#include "FWCommands.h"

#include <cstddef>
#include <functional>

#include "FWCommandsInternal.h"
#include "FWWrapper.h"

namespace FirewallSDK {

namespace {

const uint32_t FIRST_AUTOMATIC = 5122;
const uint32_t LAST_AUTOMATIC = 65531;
const uint32_t FIRST_RESEQUENCED = 5001;
const uint32_t FILTER_RULE = 65532;
const uint32_t KERNEL_DEFAULT_RULE = 65535;

/// Categories the renumbering leaves where they are.
bool setAsideCategory(uint32_t category)
{
    return category == 2 || category == 4 || category == 8;
}

/// Rules that keep their numbers in table and kernel when renumbering:
/// below 5001 (moving one onto a number a later rule still holds would make
/// that rule's delete remove both), 65532 and above, categories 2, 4, 8.
bool keepsNumber(uint32_t number, const FWExtDetailedData& rule)
{
    return number < FIRST_RESEQUENCED || number >= FILTER_RULE || setAsideCategory(rule.getRuleCategory());
}

/// A number the caller gave as int: 1 to 65534, else false.
bool asRuleNumber(int number, uint16_t& out)
{
    if (number < 1 || number > 65534)
        return false;
    out = static_cast<uint16_t>(number);
    return true;
}

/// Runs ipfw for one kernel step without touching the table; failures are
/// traced and swallowed. Used where a step undoes another.
void restoreInKernel(const FWExtDetailedData& rule, const char* function)
{
    try {
        FWWrapper wrapper;
        std::vector<std::string> lines;
        if (wrapper.execCommand(rule, lines) != 0)
            FW_TRACE(2, L"%s - Failed to enforce the rule : %d\n", function, rule.getRuleNo());
    } catch (const FirewallException& e) {
        FW_TRACE(2, L"%s - Excp msg : %s\n", function, e.getErrorMsg().c_str());
    } catch (...) {
        FW_TRACE(2, L"%s - Unknown exception catght\n", function);
    }
}

} // namespace

// ---- numbering -------------------------------------------------------------

uint16_t FWCommands::chooseRuleNumber(const FWExtDetailedData& rule)
{
    RuleTable& table = *m_ruleStore;
    const int32_t n = rule.getRuleNo();
    const uint32_t group = rule.getRuleCategory() & GROUP_MASK;
    const bool automatic = group != NEVER_NUMBERED_GROUP && n > 5121 && n <= static_cast<int32_t>(LAST_AUTOMATIC);
    if (!automatic) {
        // ipfw would hold two rules under one number while the table keeps
        // one: refused before ipfw runs.
        if (n < 1 || n > 65534 || table.count(static_cast<uint16_t>(n)) != 0) {
            FW_TRACE(2, L"%s - Rule number %d is not free\n", "addRule", n);
            throw FirewallException("Invalid rule number", FW_INVALID_RULE_NUMBER);
        }
        return static_cast<uint16_t>(n);
    }
    if (table.empty()) {
        FW_TRACE(4, L"2.1 - Rule no = %d\n", FIRST_AUTOMATIC);
        return FIRST_AUTOMATIC;
    }
    FW_TRACE(4, L"3.0 - Iterator value for rule no is = %d\n", table.rbegin()->first);
    // The highest number in use, passing over 65532 to 65535.
    auto below = table.lower_bound(static_cast<uint16_t>(FILTER_RULE));
    if (below == table.begin()) {
        FW_TRACE(4, L"4.0 - Rule no = %d\n", FIRST_AUTOMATIC);
        return FIRST_AUTOMATIC;
    }
    --below;
    const uint32_t highest = below->first;
    FW_TRACE(4, L"3.3 - Iterator value for rule no is = %d\n", highest);
    if (highest <= 5121) {
        FW_TRACE(4, L"4.0 - Rule no = %d\n", FIRST_AUTOMATIC);
        return FIRST_AUTOMATIC;
    }
    if (highest < LAST_AUTOMATIC) {
        FW_TRACE(4, L"4.1 - Rule no = %d\n", highest + 1);
        return static_cast<uint16_t>(highest + 1);
    }
    FW_TRACE(4, L"5.0 - Iterator value is = %d\n", highest);
    // Every number from 5001 to 65531 taken: nothing can be freed.
    size_t used = static_cast<size_t>(std::distance(table.lower_bound(static_cast<uint16_t>(FIRST_RESEQUENCED)),
                                                    table.lower_bound(static_cast<uint16_t>(FILTER_RULE))));
    if (used >= LAST_AUTOMATIC - FIRST_RESEQUENCED + 1)
        throw FirewallException("No space left to add rule", FW_NO_SPACE_LEFT);
    reSequenceLocked();
    uint32_t next = FIRST_RESEQUENCED;
    while (next < FILTER_RULE && table.count(static_cast<uint16_t>(next)) != 0)
        ++next;
    if (next >= FILTER_RULE)
        throw FirewallException("No space left to add rule", FW_NO_SPACE_LEFT);
    FW_TRACE(0, L"5.2 - Rule no = %d\n", next);
    return static_cast<uint16_t>(next);
}

void FWCommands::reSequenceLocked()
{
    FW_TRACE(4, L"%s - Called\n", "reSequenceRulenumbers");
    RuleTable& table = *m_ruleStore;
    std::vector<uint16_t> numbers;
    numbers.reserve(table.size());
    for (const auto& entry : table)
        numbers.push_back(entry.first);
    uint32_t i = FIRST_RESEQUENCED;
    for (uint16_t number : numbers) {
        const FWExtDetailedData& rule = table.at(number);
        if (keepsNumber(number, rule)) {
            if (setAsideCategory(rule.getRuleCategory()))
                FW_TRACE(2,
                         L"%s : It is Deny rule with no %d and it shouldn't de deleted from ipfw due to this logic.\n",
                         "reSequenceRulenumbers", number);
            continue;
        }
        // Pass over numbers kept where they are.
        while (i != number && table.count(static_cast<uint16_t>(i)) != 0)
            ++i;
        if (i != number) {
            FW_TRACE(2, L"%s : Rule no that would be modified is %d\n", "reSequenceRulenumbers", i);
            FWExtDetailedData moved = rule;
            moved.setRuleNo(static_cast<int32_t>(i));
            int status = addRuleToIpfw(moved);
            if (status != 0) {
                FW_TRACE(2, L"%s - Failed to enforce the rule : %d\n", "reSequenceRulenumbers", i);
                throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
            }
            // The table takes each move with the kernel.
            table.erase(number);
            table.emplace(static_cast<uint16_t>(i), moved);
            m_dirty = true;
            deleteRuleFromIpfw(number);
        }
        ++i;
    }
    FW_TRACE(2, L"%s - Finished\n", "reSequenceRulenumbers");
}

void FWCommands::reSequenceRulenumbers()
{
    ward::LockGuard guard(m_mutex);
    Update update(*this);
    reSequenceLocked();
    update.commit();
}

// ---- adding ----------------------------------------------------------------

int FWCommands::addRuleLocked(FWExtDetailedData& rule, WriteAhead* ahead)
{
    const uint16_t number = chooseRuleNumber(rule);
    rule.setRuleNo(number);
    FWWrapper wrapper;
    std::vector<std::string> lines;
    std::function<void()> whileRunning;
    if (ahead != nullptr) {
        ahead->number = number;
        // Called on this thread, before ipfw is waited for.
        whileRunning = [&]() WARD_REQUIRES(m_mutex) { writeAhead(*ahead, rule); };
    }
    int status = wrapper.execCommand(rule, lines, whileRunning);
    if (status != 0) {
        if (ahead != nullptr)
            ahead->undo(); // the table and the file as they were
        return status;
    }
    // Stored under the number ipfw reports.
    std::vector<std::string> tokens;
    if (!lines.empty())
        tokenizer(tokens, lines.front(), ' ');
    if (!tokens.empty() && !tokens.front().empty()) {
        try {
            rule.setRuleNoAsString(tokens.front());
        } catch (...) {
            deleteFromKernelQuietly(number); // the table does not get it
            throw;
        }
    }
    if (ahead != nullptr && ahead->ready() && rule.getRuleNo() == number) {
        // Stored and written as ipfw took it: the file goes in place. A
        // failed rename leaves the table dirty, to be written as usual.
        ahead->keep();
        m_dirty = true;
        if (ahead->file.commit().error == 0) {
            m_fileText = std::move(ahead->text);
            m_fileLayout = std::move(ahead->layout);
            m_cacheValid = true;
            m_dirty = false;
        }
        return 0;
    }
    if (ahead != nullptr)
        ahead->undo();
    if (m_ruleStore->emplace(static_cast<uint16_t>(rule.getRuleNo()), rule).second)
        m_dirty = true;
    return 0;
}

int FWCommands::addRule(FWExtDetailedData rule, std::vector<FWExtDetailedData>& results, unsigned category)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(2, L"%s : %s - Called - Category ( %x )\n", __FILE__, "addRule", rule.getRuleCategory());
    checkRule(rule); // before the update: nothing changes on a bad rule
    Update update(*this);
    const size_t before = results.size();
    WriteAhead ahead(*m_ruleStore, &results, category);
    try {
        int status = addRuleLocked(rule, &ahead);
        update.commit();
        if (status != 0)
            return status;
        if (!ahead.appended)
            appendCategory(category, results);
        FW_TRACE(2, L"%s - Rule has been added successfully\n", "addRule");
        FW_TRACE(2, L"---------%s ENDING----------\n", "addRule");
        return 0;
    } catch (...) {
        // Nothing handed back from a failed addition.
        results.erase(results.begin() + static_cast<std::ptrdiff_t>(before), results.end());
        detail::rethrowAsFirewall("addRule");
    }
}

int FWCommands::addRule(FWExtDetailedData rule, bool lock)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(2, L"%s - Called at Line No %d - Category ( %x )\n", "addRule", __LINE__, rule.getRuleCategory());
    if (lock) {
        Update update(*this);
        WriteAhead ahead(*m_ruleStore, nullptr, 0);
        try {
            int status = addRuleLocked(rule, &ahead);
            update.commit();
            return status;
        } catch (...) {
            detail::rethrowAsFirewall("addRule");
        }
    }
    int status = 0;
    try {
        status = addRuleLocked(rule);
    } catch (...) {
        try {
            persistRuleTable();
        } catch (...) {
        }
        detail::rethrowAsFirewall("addRule");
    }
    persistRuleTable();
    return status;
}

// ---- replacing and swapping ------------------------------------------------

int FWCommands::updateRule(FWExtDetailedData rule, std::vector<FWExtDetailedData>& results, unsigned category)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "updateRule");
    try {
        checkRule(rule);
    } catch (...) {
        detail::rethrowAsFirewall("updateRule");
    }
    Update update(*this);
    const int32_t n = rule.getRuleNo();
    FW_TRACE(2, L"%s - Rule no = %d\n", "updateRule", n);
    RuleTable& table = *m_ruleStore;
    try {
        std::vector<std::string> lines;
        int status = FWWrapper().execCommand(n, lines);
        if (status != 0) {
            FW_TRACE(2, L"%s - Error in deleting the rule.\n", "updateRule");
            update.commit();
            appendCategory(category, results);
            return status;
        }
        // The kernel holds neither rule now: any failure below puts the old
        // one back under its number; the table stays as it was.
        uint16_t key = 0;
        const bool stored = asRuleNumber(n, key) && table.count(key) != 0;
        auto putBack = [&]() WARD_REQUIRES(m_mutex) {
            if (stored)
                restoreInKernel(table.at(key), "updateRule");
        };
        FWWrapper adder; // its own lines: the delete may have printed one
        std::vector<std::string> addLines;
        try {
            status = adder.execCommand(rule, addLines);
        } catch (...) {
            putBack();
            throw;
        }
        if (status != 0) {
            putBack();
            update.commit();
            return status;
        }
        FWExtDetailedData replacement = rule;
        std::vector<std::string> tokens;
        if (!addLines.empty())
            tokenizer(tokens, addLines.front(), ' ');
        if (!tokens.empty() && !tokens.front().empty()) {
            try {
                replacement.setRuleNoAsString(tokens.front());
            } catch (...) {
                deleteFromKernelQuietly(n);
                putBack();
                throw;
            }
        }
        if (stored)
            table.erase(key);
        table.erase(static_cast<uint16_t>(replacement.getRuleNo()));
        table.emplace(static_cast<uint16_t>(replacement.getRuleNo()), replacement);
        m_dirty = true;
        update.commit();
        appendCategory(category, results);
        return 0;
    } catch (...) {
        detail::rethrowAsFirewall("updateRule");
    }
}

int FWCommands::swapRules(std::vector<int> ruleNos, std::vector<FWExtDetailedData>& results, unsigned category)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "swapRules");
    Update update(*this);
    RuleTable& table = *m_ruleStore;
    uint16_t a = 0;
    uint16_t b = 0;
    for (size_t k = 0; k < 2; ++k) {
        int requested = k < ruleNos.size() ? ruleNos[k] : 0;
        uint16_t& key = k == 0 ? a : b;
        if (!asRuleNumber(requested, key) || table.count(key) == 0) {
            FW_TRACE(2, L"%s - Rule number requested does not exist : %d\n", "swapRules", requested);
            update.commit();
            throw FirewallException("Invalid rule number", FW_INVALID_RULE_NUMBER);
        }
    }
    if (a == b) {
        update.commit();
        appendCategory(category, results);
        return 0;
    }
    const FWExtDetailedData oldA = table.at(a);
    const FWExtDetailedData oldB = table.at(b);
    FWExtDetailedData newA = oldB; // b's body under a
    newA.setRuleNo(a);
    FWExtDetailedData newB = oldA;
    newB.setRuleNo(b);

    // Each step done is undone when a later one fails; the table changes
    // only when all four succeeded.
    bool deletedA = false, deletedB = false, addedA = false;
    auto undo = [&]() WARD_REQUIRES(m_mutex) {
        if (addedA)
            deleteFromKernelQuietly(a);
        if (deletedA)
            restoreInKernel(oldA, "swapRules");
        if (deletedB)
            restoreInKernel(oldB, "swapRules");
    };
    try {
        std::vector<std::string> lines;
        int status = FWWrapper().execCommand(static_cast<int>(a), lines);
        if (status == 0) {
            deletedA = true;
            status = FWWrapper().execCommand(static_cast<int>(b), lines);
        }
        if (status == 0) {
            deletedB = true;
            status = FWWrapper().execCommand(newA, lines);
        }
        if (status == 0) {
            addedA = true;
            status = FWWrapper().execCommand(newB, lines);
        }
        if (status != 0) {
            FW_TRACE(2, L"%s - Failed to enforce the rule : %d\n", "swapRules", status);
            undo();
            update.commit();
            return status;
        }
    } catch (...) {
        FW_TRACE(2, L"%s - Failed to delete rule nombers from firewall, but rule store is updated.\n", "swapRules");
        undo();
        detail::rethrowAsFirewall("swapRules");
    }
    table[a] = newA;
    table[b] = newB;
    m_dirty = true;
    update.commit();
    appendCategory(category, results);
    return 0;
}

// ---- deleting ----------------------------------------------------------------

bool FWCommands::deleteFromKernelQuietly(int ruleNo)
{
    try {
        FWWrapper wrapper;
        std::vector<std::string> lines;
        return wrapper.execCommand(ruleNo, lines) == 0;
    } catch (const FirewallException& e) {
        FW_TRACE(2, L"%s - Excp msg : %s\n", "deleteRule", e.getErrorMsg().c_str());
        // Not held by ipfw: the row may go.
        return e.code == FW_NO_SUCH_RULE_NUMBER;
    } catch (...) {
        FW_TRACE(2, L"%s - Unknown exception catght\n", "deleteRule");
        return false;
    }
}

int FWCommands::deleteRule(unsigned category)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "deleteRule");
    Update update(*this);
    RuleTable& table = *m_ruleStore;
    bool allGone = true;
    for (auto it = table.begin(); it != table.end();) {
        if (it->second.getRuleCategory() == category) {
            if (deleteFromKernelQuietly(it->first)) {
                it = table.erase(it);
                m_dirty = true;
                continue;
            }
            allGone = false; // stays: ipfw still holds it
        }
        ++it;
    }
    update.commit();
    return allGone ? 1 : 0;
}

void FWCommands::deleteRule(std::vector<int> ruleNos)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "deleteRule");
    Update update(*this);
    for (int number : ruleNos) {
        FW_TRACE(2, L"%s - Rule no that would be deleted is %d\n", "deleteRule", number);
        uint16_t key = 0;
        if (deleteFromKernelQuietly(number) && asRuleNumber(number, key) && m_ruleStore->erase(key) != 0)
            m_dirty = true;
    }
    update.commit();
}

void FWCommands::deleteRule(std::vector<int> ruleNos, std::vector<FWExtDetailedData>& results, unsigned category)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(2, L"%s at %d - Called\n", "deleteRule", __LINE__);
    Update update(*this);
    for (int number : ruleNos) {
        uint16_t key = 0;
        if (deleteFromKernelQuietly(number) && asRuleNumber(number, key) && m_ruleStore->erase(key) != 0)
            m_dirty = true;
    }
    update.commit();
    appendCategory(category, results);
}

// ---- queries of the table ------------------------------------------------------

bool FWCommands::getStoredRuleByNumber(int ruleNo, FWExtDetailedData& rule)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getStoredRuleByNumber");
    loadRuleTable(false);
    auto it = m_ruleStore->find(static_cast<uint16_t>(ruleNo));
    if (it == m_ruleStore->end())
        return false;
    rule = it->second;
    return true;
}

int FWCommands::ruleCountInStore(unsigned category)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "ruleCountInStore");
    loadRuleTable(false);
    int count = 0;
    for (const auto& entry : *m_ruleStore)
        if (entry.second.getRuleCategory() == category)
            ++count;
    return count;
}

bool FWCommands::isRuleInStore(int ruleNo)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "isRuleInStore");
    loadRuleTable(false);
    return m_ruleStore->count(static_cast<uint16_t>(ruleNo)) != 0;
}

int FWCommands::getStoredRules(std::vector<FWExtDetailedData>& rules)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getStoredRules");
    loadRuleTable(false);
    for (const auto& entry : *m_ruleStore)
        rules.push_back(entry.second);
    return 1;
}

// ---- queries of the kernel -------------------------------------------------------

int FWCommands::getIpfwRule(std::vector<FWExtDetailedData>& rules)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getIpfwRule");
    FWWrapper().getFirewallRules(rules);
    FW_TRACE(4, L"%s - Finsished\n", "getIpfwRule");
    return 1;
}

int FWCommands::getRealTimeRule(std::vector<FWExtDetailedData>& rules)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getRealTimeRule");
    loadRuleTable(false);
    std::vector<FWExtDetailedData> kernel;
    FWWrapper().getFirewallRules(kernel);
    markRuleTypes(*m_ruleStore, kernel);
    rules.insert(rules.end(), kernel.begin(), kernel.end());
    FW_TRACE(4, L"%s - Finished\n", "getRealTimeRule");
    return 1;
}

int FWCommands::getRealTimeRulesBasedOnCategory(unsigned category, std::vector<FWExtDetailedData>& rules)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getRealTimeRulesBasedOnCategory");
    loadRuleTable(false);
    if (!detail::validGroup(category))
        return 0;
    std::vector<FWExtDetailedData> kernel;
    FWWrapper().getFirewallRules(kernel);
    markRuleTypes(*m_ruleStore, kernel);
    // Group equality, as the stored query.
    for (const FWExtDetailedData& rule : kernel) {
        FW_TRACE(4, L"%s - ruleType : %x --> : %x\n", "getRealTimeRulesBasedOnCategory", category,
                 rule.getRuleCategory());
        if ((rule.getRuleCategory() & GROUP_MASK) == category)
            rules.push_back(rule);
    }
    return 1;
}

// ---- reconciliation ----------------------------------------------------------------

int FWCommands::deleteRulesFromIpfw()
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "deleteRulesFromIpfw");
    Update update(*this);
    for (const auto& entry : *m_ruleStore) {
        uint32_t category = entry.second.getRuleCategory();
        if ((category & GROUP_MASK) != FW_CUSTOM_RULE_CATEGORY && category != NEVER_NUMBERED_GROUP)
            continue;
        FW_TRACE(2, L"%s - Deleting rule number: %d\n", "deleteRulesFromIpfw", entry.first);
        try {
            FWWrapper wrapper;
            std::vector<std::string> lines;
            wrapper.execCommand(static_cast<int>(entry.first), lines);
        } catch (const FirewallException& e) {
            FW_TRACE(2, L"%s - Excp msg : %s\n", "deleteRulesFromIpfw", e.getErrorMsg().c_str());
        } catch (...) {
            FW_TRACE(2, L"%s - Unknown exception catght\n", "deleteRulesFromIpfw");
        }
    }
    update.commit();
    return 1;
}

int FWCommands::applyAllStoredRules()
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "applyAllStoredRules");
    // One locked update: a second process waits, then finds the kernel full.
    Update update(*this);
    std::vector<FWExtDetailedData> kernel;
    FWWrapper().getFirewallRules(kernel);
    if (kernel.size() != 1 || kernel.front().getRuleNo() != static_cast<int32_t>(KERNEL_DEFAULT_RULE)) {
        update.commit();
        return 0;
    }
    FW_TRACE(2, L"%s - Called will clear rule table\n", "applyAllStoredRules");
    std::vector<FWExtDetailedData> stored;
    for (const auto& entry : *m_ruleStore)
        stored.push_back(entry.second);
    m_ruleStore->clear();
    m_dirty = true;
    for (const FWExtDetailedData& original : stored) {
        FWExtDetailedData rule = original;
        bool added = false;
        try {
            added = addRuleLocked(rule) == 0;
        } catch (const FirewallException& e) {
            FW_TRACE(2, L"%s - Excp msg : %s\n", "applyAllStoredRules", e.getErrorMsg().c_str());
        } catch (...) {
            FW_TRACE(2, L"%s - Unknown exception catght\n", "applyAllStoredRules");
        }
        // A rule that could not be re-added stays under its old number,
        // which later numbering counts; the next check tries it again.
        if (!added)
            m_ruleStore->emplace(static_cast<uint16_t>(original.getRuleNo()), original);
    }
    update.commit();
    FW_TRACE(2, L"%s - Finished\n", "applyAllStoredRules");
    return 1;
}

int FWCommands::ruleHealthCheck()
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "ruleHealthCheck");
    Update update(*this);
    if (applyAllStoredRules() == 1) {
        FW_TRACE(2, L"%s - Firewall is empty\n", "ruleHealthCheck");
        update.commit();
        return 1;
    }
    std::vector<FWExtDetailedData> kernel;
    FWWrapper().getFirewallRules(kernel);
    const RuleTable& table = *m_ruleStore;

    auto tryDelete = [&](int number, const wchar_t* failure) -> bool {
        try {
            deleteRuleFromIpfw(number);
            return true;
        } catch (...) {
            FW_TRACE(2, failure, "ruleHealthCheck");
            return false;
        }
    };
    auto tryAdd = [&](const FWExtDetailedData& rule, const wchar_t* failure) {
        try {
            addRuleToIpfw(rule);
        } catch (...) {
            FW_TRACE(2, failure, "ruleHealthCheck");
        }
    };

    auto k = kernel.begin();
    auto s = table.begin();
    while (s != table.end() && k != kernel.end()) {
        const int32_t storedNo = s->first;
        const int32_t kernelNo = k->getRuleNo();
        FW_TRACE(2, L"%s - Processing rules [ %d ] : [ %d ]\n", "ruleHealthCheck", storedNo, kernelNo);
        if (s->second == *k) {
            FW_TRACE(2, L"%s - Rules are equal\n", "ruleHealthCheck");
            ++k;
            ++s;
        } else if (storedNo == kernelNo) {
            FW_TRACE(2, L"%s - global rule number is same as ipfw rule, but body is diffrent\n", "ruleHealthCheck");
            if (tryDelete(kernelNo, L"%s - Got exception while modifying the rule\n"))
                tryAdd(s->second, L"%s - Got exception while modifying the rule\n");
            ++k;
            ++s;
        } else if (storedNo < kernelNo) {
            FW_TRACE(2, L"%s - global rule is less than ipfw rule\n", "ruleHealthCheck");
            tryAdd(s->second, L"%s - Got exception while adding rule\n");
            ++s;
        } else {
            FW_TRACE(2, L"%s - global rule is greater than ipfw rule\n", "ruleHealthCheck");
            do {
                FW_TRACE(2, L"%s - I am here\n", "ruleHealthCheck");
                const int32_t number = k->getRuleNo();
                tryDelete(number, L"%s - Got exception while deleting rule\n");
                auto again = table.find(static_cast<uint16_t>(number));
                if (again != table.end())
                    tryAdd(again->second, L"%s - Got exception while adding rule\n");
                ++k;
            } while (k != kernel.end() && k->getRuleNo() != static_cast<int32_t>(KERNEL_DEFAULT_RULE) &&
                     k->getRuleNo() != storedNo);
        }
    }
    // Stored rules the kernel list ran out for (a list without 65535).
    for (; s != table.end(); ++s)
        tryAdd(s->second, L"%s - Got exception while adding rule\n");
    for (; k != kernel.end(); ++k) {
        const int32_t number = k->getRuleNo();
        if (number == static_cast<int32_t>(KERNEL_DEFAULT_RULE))
            continue;
        FW_TRACE(2, L"%s - deleting extra rule no : %d\n", "ruleHealthCheck", number);
        tryDelete(number, L"%s - Got exception while deleting extra rule\n");
        auto again = table.find(static_cast<uint16_t>(number));
        if (again != table.end())
            addRuleToIpfw(again->second); // the one exception passed on
    }
    update.commit();
    FW_TRACE(2, L"%s - Finished\n", "ruleHealthCheck");
    return 1;
}

// ---- single kernel steps -------------------------------------------------------------

int FWCommands::addRuleToIpfw(FWExtDetailedData rule)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(0, L"%s - Called\n", "addRuleToIpfw");
    try {
        checkRule(rule);
        FWWrapper wrapper;
        std::vector<std::string> lines;
        int status = wrapper.execCommand(rule, lines);
        FW_TRACE(0, L"%s - Finished\n", "addRuleToIpfw");
        return status;
    } catch (...) {
        detail::rethrowAsFirewall("addRuleToIpfw");
    }
}

int FWCommands::deleteRuleFromIpfw(int ruleNo)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "deleteRuleFromIpfw");
    try {
        FWWrapper wrapper;
        std::vector<std::string> lines;
        int status = wrapper.execCommand(ruleNo, lines);
        FW_TRACE(4, L"%s - Finished\n", "deleteRuleFromIpfw");
        return status;
    } catch (...) {
        detail::rethrowAsFirewall("deleteRuleFromIpfw");
    }
}

} // namespace FirewallSDK
