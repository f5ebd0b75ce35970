// The rule store: singleton, rule file and its lock, loading, persisting and
// the corrupt-file repair; the firewall switches; the rule checks and the
// tokenizer.
#include "FWCommands.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/archive/archive_exception.hpp>
#include "BoundedIArchive.h"
#include <boost/serialization/map.hpp>

#include "FWCommandsInternal.h"
#include "FWRuleFileText.h"
#include "FWSerialize.h"
#include "FWTrace.h"
#include "FileIO.h"
#include "IPValidator.h"
#include "PortValidator.h"
#include "Trace.h"

// The ipfw stand-in's system values (glibc has none).
extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);

namespace FirewallSDK {

std::atomic<FWCommands*> FWCommands::m_pSelf{nullptr};
std::mutex FWCommands::m_instanceMutex;

namespace {

const char* const RULE_FILE = "/usr/local/Vantrel/Firewall/var/QyvRules";
const char* const LOCK_SUFFIX = ".lock";
const char* const CORRUPT_SUFFIX = ".corrupt";

} // namespace

[[noreturn]] void detail::rethrowAsFirewall(const char* function)
{
    try {
        throw;
    } catch (const FirewallException& e) {
        FW_TRACE(2, L"%s - Excp msg : %s\n", function, e.getErrorMsg().c_str());
        throw FirewallException(e.getErrorMsg(), e.code);
    } catch (...) {
        FW_TRACE(2, L"%s - Unknown exception catght\n", function);
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
}

bool detail::validGroup(unsigned category)
{
    unsigned group = category & 0xFFFF0000u;
    return group == 0x10000000u || group == 0x20000000u || group == 0x40000000u || group == 0x80000000u;
}

// ---- locked update guard ---------------------------------------------------

FWCommands::Update::Update(FWCommands& store) : m_store(store)
{
    m_store.loadRuleTable(true);
}

FWCommands::Update::~Update()
{
    if (m_done)
        return;
    // A failure is on its way out: end the hold; a table changed part-way
    // (renumbering moves) is still written so that it agrees with ipfw.
    try {
        ward::LockGuard guard(m_store.m_mutex); // held already: it is recursive
        m_store.endUpdate(true);
    } catch (...) {
        FW_TRACE(2, L"%s - Boost exception\n", "persistRuleTable");
    }
}

void FWCommands::Update::commit()
{
    m_done = true;
    ward::LockGuard guard(m_store.m_mutex); // held already: it is recursive
    m_store.endUpdate(true);
}

// ---- singleton -------------------------------------------------------------

FWCommands* FWCommands::getInstance()
{
    FW_TRACE(4, L"%s - Called\n", "getInstance");
    FWCommands* self = m_pSelf.load(std::memory_order_acquire);
    if (self == nullptr) {
        std::lock_guard<std::mutex> lock(m_instanceMutex);
        self = m_pSelf.load(std::memory_order_relaxed);
        if (self == nullptr) {
            self = new FWCommands();
            m_pSelf.store(self, std::memory_order_release);
        }
    }
    return self;
}

void FWCommands::releaseInstance()
{
    FW_TRACE(4, L"%s - Called\n", "releaseInstance");
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    FWCommands* self = m_pSelf.exchange(nullptr);
    delete self;
}

FWCommands::FWCommands()
    : m_ruleFilePath(RULE_FILE), m_lockFilePath(std::string(RULE_FILE) + LOCK_SUFFIX),
      m_ruleStore(new RuleTable()), m_ruleFileFd(-1), m_lockHolds(0), m_readRuleFile(true), m_dirty(false),
      m_cacheValid(false)
{
    FW_TRACE(4, L"%s - Called\n", "FWCommands");
}

FWCommands::~FWCommands()
{
    {
        ward::LockGuard guard(m_mutex);
        // Only a change never persisted is written: writing the table as it
        // was read would put it over another process's newer file.
        if (m_ruleStore != nullptr && m_dirty) {
            try {
                acquireFileLock();
                writeRuleFile();
            } catch (...) {
                FW_TRACE(4, L"%s - Bosst exception\n", "~FWCommands");
            }
        }
        while (m_lockHolds > 0)
            releaseFileLock();
        delete m_ruleStore;
        m_ruleStore = nullptr;
    }
    FW_TRACE(4, L"%s - Finished\n", "~FWCommands");
    // Releasing the store ends the host's tracing.
    wardtrace::endTracing();
}

// ---- the file lock ---------------------------------------------------------

void FWCommands::acquireFileLock()
{
    if (m_lockHolds > 0) {
        ++m_lockHolds;
        return;
    }
    // A failure here shows in the lock file's open.
    (void)wardfile::makeDirectories(wardfile::parentPath(m_lockFilePath));
    // Close-on-exec: an ipfw child must not share the lock's description.
    wardfile::Locked lock = wardfile::lockFile(m_lockFilePath, wardfile::LockKind::OpenFileDescription, 0644);
    if (lock.fd < 0) {
        FW_TRACE(2, L"%s - The lock on the QyvRules file could not be obtained ( %s )\n", "loadRuleTable",
                 std::strerror(lock.error));
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
    m_ruleFileFd = lock.fd;
    m_lockHolds = 1;
}

void FWCommands::releaseFileLock()
{
    if (m_lockHolds == 0)
        return;
    if (--m_lockHolds > 0)
        return;
    ::close(m_ruleFileFd); // drops the OFD lock
    m_ruleFileFd = -1;
}

// ---- reading and writing the rule file -------------------------------------

bool FWCommands::readRuleFile(bool& missing)
{
    missing = false;
    try {
        // Read whole, so that the archive checks counts against its length.
        std::string whole;
        int e = wardfile::readFile(m_ruleFilePath, whole, SIZE_MAX);
        if (e != 0) {
            missing = e == ENOENT;
            FW_TRACE(2, L"%s - Generic Exception\n", "loadRuleTable");
            return false;
        }
        // The bytes the unchanged table was read from or written as: parsing
        // them again would give the same table.
        if (m_cacheValid && !m_dirty && whole == m_fileText)
            return true;
        HVO::bounded::view_istream<char> text(whole.data(), whole.size());
        HVO::bounded_iarchive archive(text, 0);
        readRecord(archive, *m_ruleStore); // whole or not at all
        m_fileText = std::move(whole);
        m_fileLayout.reset();
        m_cacheValid = true;
        return true;
    } catch (const boost::archive::archive_exception&) {
        FW_TRACE(2, L"%s - Boost exception\n", "loadRuleTable");
    } catch (...) {
        FW_TRACE(2, L"%s - Generic Exception\n", "loadRuleTable");
    }
    return false;
}

namespace {

/// Whether the text built a record at a time reads as the whole archive:
/// 0 not known yet, 1 it does (checked once per process), -1 it does not.
std::atomic<int> s_recordWise{0};

} // namespace

std::string FWCommands::tableText(std::unique_ptr<RuleFileLayout>& layout) const
{
    const RuleTable& table = *m_ruleStore;
    if (s_recordWise.load() >= 0) {
        try {
            auto built = std::make_unique<RuleFileLayout>();
            std::string text;
            buildRuleFileText(table, text, *built);
            if (s_recordWise.load() == 0)
                s_recordWise = text == archiveRuleFileText(table) ? 1 : -1;
            if (s_recordWise.load() == 1) {
                layout = std::move(built);
                return text;
            }
        } catch (const std::logic_error&) {
            s_recordWise = -1;
        }
    }
    layout.reset();
    return archiveRuleFileText(table);
}

void FWCommands::writeRuleFile()
{
    std::string data;
    std::unique_ptr<RuleFileLayout> layout;
    try {
        data = tableText(layout);
    } catch (...) {
        FW_TRACE(2, L"%s - Boost exception\n", "persistRuleTable");
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
    // A folder that cannot be made shows in the replace.
    (void)wardfile::makeDirectories(wardfile::parentPath(m_ruleFilePath));
    // Written only under the file lock: what killed writers left can go.
    wardfile::removeLeftovers(m_ruleFilePath);
    int e = wardfile::replaceFile(m_ruleFilePath, 0644, data.data(), data.size()).error;
    if (e != 0) {
        FW_TRACE(2, L"%s - Boost exception\n", "persistRuleTable");
        FW_TRACE(2, L"%s - The rule file could not be written ( %s )\n", "persistRuleTable", std::strerror(e));
        throw SystemException("Unknown error", FW_UNKNOWN_ERROR);
    }
    m_fileText = std::move(data);
    m_fileLayout = std::move(layout);
    m_cacheValid = true;
    m_dirty = false;
}

void FWCommands::writeAhead(WriteAhead& ahead, const FWExtDetailedData& rule) noexcept
{
    try {
        if (!m_ruleStore->emplace(ahead.number, rule).second)
            return;
        ahead.stored = true;
        // The file holds the table less this rule: its text takes the rule's
        // record where it can, instead of the whole table being written again.
        bool spliced = false;
        if (!m_dirty && m_cacheValid && m_fileLayout != nullptr) {
            ahead.text = m_fileText;
            ahead.layout = std::make_unique<RuleFileLayout>(*m_fileLayout);
            spliced = spliceRuleFileText(*m_ruleStore, ahead.number, ahead.text, *ahead.layout);
        }
        if (!spliced)
            ahead.text = tableText(ahead.layout);
        // A folder that cannot be made shows in the prepare.
        (void)wardfile::makeDirectories(wardfile::parentPath(m_ruleFilePath));
        // Under the file lock, as every write of the rule file.
        wardfile::removeLeftovers(m_ruleFilePath);
        const std::string& text = ahead.text;
        wardfile::ReplaceResult r = ahead.file.prepare(
            m_ruleFilePath, 0644, [&](int fd) { return wardfile::writeAll(fd, text.data(), text.size()); });
        if (r.error != 0) {
            ahead.undo(); // written again, and its failure reported, after ipfw
            return;
        }
        // Not while the category's lines are traced: they follow ipfw's.
        if (ahead.results != nullptr && !WARD_TRACING(fwCommandFlowvalue, 0)) {
            ahead.resultsBefore = ahead.results->size();
            ahead.appended = true;
            appendCategory(ahead.category, *ahead.results);
        }
    } catch (...) {
        ahead.undo();
    }
}

void FWCommands::endUpdate(bool write)
{
    if (write && m_dirty) {
        try {
            writeRuleFile();
        } catch (...) {
            releaseFileLock();
            throw;
        }
    }
    releaseFileLock();
}

void FWCommands::repairRuleFile()
{
    acquireFileLock();
    bool held = true; // until endUpdate, which releases on every way out
    try {
        // Another process may have repaired or replaced it meanwhile.
        bool missing = false;
        if (readRuleFile(missing)) {
            m_dirty = false;
            held = false;
            endUpdate(false);
            return;
        }
        if (!missing) {
            // Kept aside, not removed: nothing else holds these rules.
            std::string aside = m_ruleFilePath + CORRUPT_SUFFIX;
            if (::rename(m_ruleFilePath.c_str(), aside.c_str()) == 0)
                FW_TRACE(2, L"%s - Boost Exception : The remove was successful\n", "loadRuleTable");
            else
                FW_TRACE(2, L"%s - Boost Exception : The remove was unsuccessful\n", "loadRuleTable");
        }
        m_dirty = true; // the file is rewritten from the table
        if (m_ruleStore->count(DEFAULT_RULE_NO) == 0) {
            m_readRuleFile = false; // the nested update trusts the table
            loadDefaultRules();
        }
        held = false;
        endUpdate(true);
    } catch (...) {
        m_readRuleFile = true;
        if (held)
            releaseFileLock();
        throw;
    }
}

// ---- rule store ------------------------------------------------------------

int FWCommands::loadRuleTable(bool lock)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(2, L"%s - Loading rules from rule file\n", "loadRuleTable");
    if (lock) {
        FW_TRACE(2, L"%s - Locking the mutex so that no 2 threads read the QyvRules file at the same time\n",
                 "loadRuleTable");
        acquireFileLock();
        FW_TRACE(2, L"%s - file descriptor = %d\n", "loadRuleTable", m_ruleFileFd);
    }
    if (!m_readRuleFile) {
        m_readRuleFile = true;
        return 1;
    }
    bool missing = false;
    if (readRuleFile(missing)) {
        m_dirty = false;
        return 1;
    }
    if (lock && missing)
        return 1; // the update's persist creates the file
    try {
        repairRuleFile();
    } catch (...) {
        if (lock)
            releaseFileLock();
        throw;
    }
    return 1;
}

int FWCommands::persistRuleTable()
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(2, L"%s - Persisting rules from rule file\n", "persistRuleTable");
    if (m_lockHolds == 0)
        acquireFileLock(); // never a write without the lock
    m_dirty = true;
    endUpdate(true);
    return 1;
}

void FWCommands::loadDefaultRules()
{
    ward::LockGuard guard(m_mutex);
    FWExtDetailedData rule;
    rule.setRuleNo(DEFAULT_RULE_NO);
    rule.setRuleCategory(0x10000001u);
    rule.setAction(FW_ACTION_ALLOW);
    rule.setProtocol(FW_PROTOCOL_IP);
    rule.setSrcIp("any");
    rule.setDestIp("any");
    std::vector<FWExtDetailedData> results;
    if (addRule(rule, results, FW_CUSTOM_RULE_CATEGORY) != 0)
        FW_TRACE(2, L"%s - Failed to add AllowAll rule\n", "loadDefaultRules");
}

void FWCommands::clearRuleTable()
{
    ward::LockGuard guard(m_mutex);
    m_ruleStore->clear();
    m_dirty = true;
}

void FWCommands::appendCategory(unsigned category, std::vector<FWExtDetailedData>& rules)
{
    // One allocation for all of them: a vector grown one record at a time
    // copies a thousand records about twice more, into fresh pages. Still
    // geometric, for callers that keep appending to one vector.
    size_t matching = 0;
    for (const auto& entry : *m_ruleStore)
        if ((entry.second.getRuleCategory() & 0xFFFF0000u) == category)
            ++matching;
    const size_t needed = rules.size() + matching;
    if (needed > rules.capacity())
        rules.reserve(std::max(needed, 2 * rules.capacity()));
    for (const auto& entry : *m_ruleStore) {
        FW_TRACE(0, L"%s - ruleType : %x --> itr->getRuleCategory() : %x\n", "getStoredRulesBasedOnCategory",
                 category, entry.second.getRuleCategory());
        if ((entry.second.getRuleCategory() & 0xFFFF0000u) == category)
            rules.push_back(entry.second);
    }
}

int FWCommands::getStoredRulesBasedOnCategory(unsigned category, std::vector<FWExtDetailedData>& rules)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getStoredRulesBasedOnCategory");
    loadRuleTable(false);
    if (!detail::validGroup(category))
        return 0;
    appendCategory(category, rules);
    return 1;
}

// ---- firewall switches -----------------------------------------------------

namespace {

const char* const ENABLE_NAME = "net.inet.ip.fw.enable";
const char* const VERBOSE_NAME = "net.inet.ip.fw.verbose";

int readSwitch(const char* name, const char* function)
{
    int value = 0;
    size_t size = sizeof value;
    if (sysctlbyname(name, &value, &size, nullptr, 0) != 0) {
        FW_TRACE(2, L"%s - Failed to get the size of firewall state system variable\n", function);
        throw FirewallException("Failed to get firewall state", FW_GET_FIREWALL_STATE_FAILED);
    }
    return value;
}

/// Size query, then one call that reads the old value and writes the new
/// one. The new value is one int, whatever size the query reports.
void writeSwitch(const char* name, int value, bool logVariable, const char* function)
{
    size_t size = 0;
    if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0) {
        if (logVariable) {
            FW_TRACE(2, L"%s - Failed to get the size of firewall log system variable\n", function);
            throw FirewallException("Failed to get filewall log state", FW_GET_LOG_STATE_FAILED);
        }
        FW_TRACE(2, L"%s - Failed to get the size of firewall state system variable\n", function);
        throw FirewallException("Failed to get firewall state", FW_GET_FIREWALL_STATE_FAILED);
    }
    std::vector<unsigned char> old(size < sizeof(int) ? sizeof(int) : size, 0);
    size_t oldSize = old.size();
    int newValue = value;
    if (sysctlbyname(name, old.data(), &oldSize, &newValue, sizeof newValue) != 0) {
        if (logVariable) {
            FW_TRACE(4, L"%s - Failed to logging the firewall status to [ %d ]\n", function, value);
            throw FirewallException("Failed to set filewall log state", FW_SET_LOG_STATE_FAILED);
        }
        FW_TRACE(2, L"%s - Failed to change the firewall status to [ %d ]\n", function, value);
        throw FirewallException("Failed to set firewall state", FW_SET_FIREWALL_STATE_FAILED);
    }
    int oldValue = 0;
    std::memcpy(&oldValue, old.data(), sizeof oldValue);
    if (logVariable)
        FW_TRACE(4, L"%s - Firewall logging changed from [ %d ] to [ %d ]\n", function, oldValue, value);
    else
        FW_TRACE(4, L"%s - Firewall state changed from [ %d ] to [ %d ]\n", function, oldValue, value);
}

} // namespace

int FWCommands::getIpfwStatus(bool& enabled)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getIpfwStatus");
    int value = readSwitch(ENABLE_NAME, "getIpfwStatus");
    enabled = value == 1;
    FW_TRACE(4, L"%s -  firewall status to [ %d ]\n", "getIpfwStatus", value);
    FW_TRACE(4, L"%s - Finished\n", "getIpfwStatus");
    return 0;
}

int FWCommands::setIpfwStatus(bool enable)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "setIpfwStatus");
    writeSwitch(ENABLE_NAME, enable ? 1 : 0, false, "setIpfwStatus");
    FW_TRACE(4, L"%s - Finished\n", "setIpfwStatus");
    return 0;
}

int FWCommands::getLogLevel(int& level)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "getLogLevel");
    level = readSwitch(VERBOSE_NAME, "getLogLevel");
    FW_TRACE(4, L"%s - Log STATE firewall status to [ %d ]\n", "getLogLevel", level);
    FW_TRACE(4, L"%s - Finished\n", "getLogLevel");
    return 0;
}

int FWCommands::setLogLevel(int level)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "setLogLevel");
    writeSwitch(VERBOSE_NAME, level, true, "setLogLevel");
    FW_TRACE(4, L"%s - Finished\n", "setLogLevel");
    return 0;
}

// ---- checks and the tokenizer ----------------------------------------------

bool FWCommands::validateIPAddresses(FWExtDetailedData& rule, TargetType target)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "validateIPAddresses");
    if (target != FW_TARGET_SOURCE && target != FW_TARGET_DESTINATION) {
        FW_TRACE(2, L"%s - Invalid IP Address type specified\n", "validateIPAddresses");
        return false;
    }
    const bool source = target == FW_TARGET_SOURCE;
    FWDetailedData::IpList& list = source ? rule.getSrcIpByRef() : rule.getDestIpByRef();
    std::string text = source ? rule.getSrcIp() : rule.getDestIp();
    list.clear();
    if (text == "any" || text == "me") {
        list.emplace_back(FWDetailedData::FIELD_PLAIN, text);
        return true;
    }
    IP_Validator::IPValidator validator;
    IP_Validator::ADDR_TYPE type = IP_Validator::IP_ADDR_UNKNOWN;
    if (validator.validateAddr(text, type) != 0)
        return false;
    switch (type) {
    case IP_Validator::IP_ADDR_WITH_MASK:
        text = validator.getIPAndMask();
        list.emplace_back(FWDetailedData::FIELD_PLAIN, text);
        break;
    case IP_Validator::IP_ADDR_HOSTNAME:
        text = validator.getHostName();
        list.emplace_back(FWDetailedData::FIELD_PLAIN, validator.getIPAddrStr());
        break;
    case IP_Validator::IP_ADDR_DOTTED:
        list.emplace_back(FWDetailedData::FIELD_PLAIN, text);
        break;
    case IP_Validator::IP_ADDR_UNKNOWN:
        FW_TRACE(2, L"%s - Invalid input string\n", "validateIPAddresses");
        return false;
    }
    if (source)
        rule.setSrcIp(text);
    else
        rule.setDestIp(text);
    FW_TRACE(4, L"%s - Finished\n", "validateIPAddresses");
    return true;
}

bool FWCommands::validatePortNumber(FWExtDetailedData& rule, TargetType target)
{
    ward::LockGuard guard(m_mutex);
    FW_TRACE(4, L"%s - Called\n", "validatePortNumber");
    if (target != FW_TARGET_SOURCE && target != FW_TARGET_DESTINATION) {
        FW_TRACE(2, L"%s - Invalid port number for processing\n", "validatePortNumber");
        return false;
    }
    std::string text = target == FW_TARGET_SOURCE ? rule.getSrcPort() : rule.getDestPort();
    if (text.empty()) {
        FW_TRACE(4, L"%s - Empty port number\n", "validatePortNumber");
        return true;
    }
    PORT_Validator::PortValidator validator;
    return validator.validatePortNos(text) == 0;
}

void FWCommands::checkRule(FWExtDetailedData& rule)
{
    if (!validateIPAddresses(rule, FW_TARGET_SOURCE)) {
        FW_TRACE(0, L"%s - Invalid src ip\n", "addRuleToIpfw");
        throw FirewallException("No such source ip or host name exist", FW_NO_SUCH_SOURCE_HOST);
    }
    if (!validateIPAddresses(rule, FW_TARGET_DESTINATION)) {
        FW_TRACE(0, L"%s - Invalid dest ip\n", "addRuleToIpfw");
        throw FirewallException("No such destination ip or host name exist", FW_NO_SUCH_DESTINATION_HOST);
    }
    if (!validatePortNumber(rule, FW_TARGET_SOURCE)) {
        FW_TRACE(0, L"%s - Invalid src port\n", "addRuleToIpfw");
        throw FirewallException("Invalid source port", FW_INVALID_SOURCE_PORT);
    }
    if (!validatePortNumber(rule, FW_TARGET_DESTINATION)) {
        FW_TRACE(0, L"%s - Invalid dest port\n", "addRuleToIpfw");
        throw FirewallException("Invalid destination port", FW_INVALID_DESTINATION_PORT);
    }
    // The command builder sends no ports when the first text is empty; the
    // stored rule says the same, so that it equals its kernel twin.
    if (!rule.getSrcPortByRef().empty() && rule.getSrcPortByRef().front().getPortNo().empty())
        rule.getSrcPortByRef().clear();
    if (!rule.getDestPortByRef().empty() && rule.getDestPortByRef().front().getPortNo().empty())
        rule.getDestPortByRef().clear();
}

int FWCommands::tokenizer(std::vector<std::string>& tokens, std::string text, char separator)
{
    // Up to and including the terminating NUL; text after the last
    // separator or newline is dropped (unless the separator is NUL).
    const char* p = text.c_str();
    std::string token;
    for (;; ++p) {
        if (*p == separator || *p == '\n') {
            tokens.push_back(token);
            token.clear();
        } else if (*p != '\0') {
            token.push_back(*p);
        }
        if (*p == '\0')
            break;
    }
    return 1;
}

} // namespace FirewallSDK
