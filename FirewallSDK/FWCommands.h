// FWCommands: libportward's rule store and its interface to the host.
//
// The numbered ipfw rule table lives in memory and in the rule file
// "/usr/local/Vantrel/Firewall/var/QyvRules" (one narrow boost archive of the
// whole map); every operation re-reads the file, every change rewrites it
// whole. A file holding the very bytes the unchanged table was last read
// from or written as is not parsed again. ipfw is changed first, through
// FWWrapper, the table second.
//
// Locks:
// - m_mutex (recursive, per instance): every exported operation, queries
//   included, runs under it; operations call each other freely.
// - the rule-file lock: an OFD write lock on "QyvRules.lock" (never renamed
//   or removed), held from loadRuleTable(true) to the end of the matching
//   persist. The instance takes it once and counts its holds, so nested
//   updates (a repair inside an update, the health check's re-apply) reuse
//   it. The rule file is never written without it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FWRecords.h"
#include "ThreadSafety.h"

namespace FirewallSDK {

struct RuleFileLayout;

/// Which side of a rule a check works on.
enum TargetType : int32_t {
    FW_TARGET_SOURCE = 1,
    FW_TARGET_DESTINATION = 2
};

class FWCommands {
public:
    using RuleTable = std::map<uint16_t, FWExtDetailedData>;

    static FWCommands* getInstance();
    /// Destroys the instance. Must not run while another thread uses it.
    static void releaseInstance();

    FWCommands();
    /// Writes a change never persisted (under the file lock), then ends the
    /// host's tracing: traceInited 0, logFilePtr closed and set to NULL.
    ~FWCommands();
    FWCommands(const FWCommands&) = delete;
    FWCommands& operator=(const FWCommands&) = delete;

    // ---- rule store and rule file -------------------------------------

    /// Brings the table up to date with the rule file; with `lock` opens a
    /// locked update (throws SystemException 13058 when the lock cannot be
    /// taken). A missing or unreadable file outside an update, or an
    /// unreadable one inside, is repaired under the lock: kept aside as
    /// "QyvRules.corrupt", the default rule added when the table lacks it.
    int loadRuleTable(bool lock);
    /// Writes the table (temporary file, fsync, rename) and ends one hold of
    /// the locked update. A failed write throws 13058 after unlocking; the
    /// old file stays.
    int persistRuleTable();
    void loadDefaultRules();
    /// Empties the table in memory; the file is not touched.
    void clearRuleTable();
    int getStoredRulesBasedOnCategory(unsigned category, std::vector<FWExtDetailedData>& rules);

    // ---- numbering and edits --------------------------------------------

    int addRule(FWExtDetailedData rule, std::vector<FWExtDetailedData>& results, unsigned category);
    int addRule(FWExtDetailedData rule, bool lock);
    int updateRule(FWExtDetailedData rule, std::vector<FWExtDetailedData>& results, unsigned category);
    int swapRules(std::vector<int> ruleNos, std::vector<FWExtDetailedData>& results, unsigned category);
    /// 1, or 0 when a rule stayed because its kernel delete failed.
    int deleteRule(unsigned category);
    void deleteRule(std::vector<int> ruleNos);
    void deleteRule(std::vector<int> ruleNos, std::vector<FWExtDetailedData>& results, unsigned category);
    void reSequenceRulenumbers();

    // ---- queries and reconciliation -------------------------------------

    bool getStoredRuleByNumber(int ruleNo, FWExtDetailedData& rule);
    int ruleCountInStore(unsigned category);
    bool isRuleInStore(int ruleNo);
    int getStoredRules(std::vector<FWExtDetailedData>& rules);
    int getIpfwRule(std::vector<FWExtDetailedData>& rules);
    int getRealTimeRule(std::vector<FWExtDetailedData>& rules);
    int getRealTimeRulesBasedOnCategory(unsigned category, std::vector<FWExtDetailedData>& rules);
    int deleteRulesFromIpfw();
    int applyAllStoredRules();
    int ruleHealthCheck();

    // ---- firewall switches ----------------------------------------------

    int getIpfwStatus(bool& enabled);
    int setIpfwStatus(bool enable);
    int getLogLevel(int& level);
    int setLogLevel(int level);

    // ---- checks and single kernel steps ---------------------------------

    bool validateIPAddresses(FWExtDetailedData& rule, TargetType target);
    bool validatePortNumber(FWExtDetailedData& rule, TargetType target);
    int addRuleToIpfw(FWExtDetailedData rule);
    int deleteRuleFromIpfw(int ruleNo);
    int tokenizer(std::vector<std::string>& tokens, std::string text, char separator);

    static std::atomic<FWCommands*> m_pSelf;
    static std::mutex m_instanceMutex;

private:
    /// One locked update: loadRuleTable(true) on construction; commit()
    /// writes a changed table and ends the hold; on a failure on its way out
    /// the destructor does the same, swallowing a write error.
    class Update {
    public:
        explicit Update(FWCommands& store);
        ~Update();
        Update(const Update&) = delete;
        Update& operator=(const Update&) = delete;
        void commit();

    private:
        FWCommands& m_store;
        bool m_done = false;
    };

    /// The rule file of an addition written while ipfw runs; see
    /// FWCommandsInternal.h.
    struct WriteAhead;

    void acquireFileLock() WARD_REQUIRES(m_mutex);
    void releaseFileLock() WARD_REQUIRES(m_mutex);
    /// Reads the rule file into the table; false (table untouched) when it
    /// is missing or unreadable. `missing` tells which.
    bool readRuleFile(bool& missing) WARD_REQUIRES(m_mutex);
    /// The corrupt-file path, under the file lock.
    void repairRuleFile() WARD_REQUIRES(m_mutex);
    /// The rule file's bytes for the table as it is now, and where its
    /// records stand in them (null when that is not known).
    std::string tableText(std::unique_ptr<RuleFileLayout>& layout) const WARD_REQUIRES(m_mutex);
    void writeRuleFile() WARD_REQUIRES(m_mutex);
    /// Called while ipfw runs: stores the rule under the number it is being
    /// added with, writes the rule file for that table to a temporary and
    /// hands back the category's records. On any failure nothing stays
    /// stored, written or handed back, and the addition goes on as usual.
    void writeAhead(WriteAhead& ahead, const FWExtDetailedData& rule) noexcept WARD_REQUIRES(m_mutex);
    /// Ends one hold; writes first when the table changed since it was read.
    void endUpdate(bool write) WARD_REQUIRES(m_mutex);
    void checkRule(FWExtDetailedData& rule);
    uint16_t chooseRuleNumber(const FWExtDetailedData& rule) WARD_REQUIRES(m_mutex);
    void reSequenceLocked() WARD_REQUIRES(m_mutex);
    /// Numbers, adds to ipfw and stores; the status of ipfw. With `ahead`
    /// (the update is written right after) the rule file is written while
    /// ipfw runs and put in place once ipfw has taken the rule under the
    /// number the file was written with.
    int addRuleLocked(FWExtDetailedData& rule, WriteAhead* ahead = nullptr) WARD_REQUIRES(m_mutex);
    bool deleteFromKernelQuietly(int ruleNo) WARD_REQUIRES(m_mutex);
    void appendCategory(unsigned category, std::vector<FWExtDetailedData>& rules) WARD_REQUIRES(m_mutex);

    std::string m_ruleFilePath;      // set by the constructor
    std::string m_lockFilePath;      // the lock file beside it
    ward::RecursiveMutex m_mutex;    // every exported operation
    RuleTable* m_ruleStore WARD_GUARDED_BY(m_mutex) WARD_PT_GUARDED_BY(m_mutex);
    int m_ruleFileFd WARD_GUARDED_BY(m_mutex);  // OFD-locked QyvRules.lock; -1 when not held
    int m_lockHolds WARD_GUARDED_BY(m_mutex);   // nested holds of the file lock
    bool m_readRuleFile WARD_GUARDED_BY(m_mutex); // false: the next load skips the file once
    bool m_dirty WARD_GUARDED_BY(m_mutex);      // the table differs from the file
    bool m_cacheValid WARD_GUARDED_BY(m_mutex); // m_fileText holds bytes of the table
    std::string m_fileText WARD_GUARDED_BY(m_mutex); // the rule file as last read or written
    /// Its records' places; null when not known.
    std::unique_ptr<RuleFileLayout> m_fileLayout WARD_GUARDED_BY(m_mutex);
};

} // namespace FirewallSDK
