// The process cache (process id -> program path and the process's network
// answer) and the code-signature cache (program path -> Apple-signed).
#pragma once

#include <memory>
#include <string>

#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>

#include "CodeSignChecker.h"
#include "ProcessSource.h"
#include "ThreadSafety.h"

namespace AppProtection {

class ProcessHelper {
public:
    struct ProcPidRecord {
        int m_pid = -1;
        std::string m_procName;
        bool m_networkAction = false; ///< true: the process may use the network
    };
    struct CodesignCacheRecord {
        bool m_appleSigned = false;
        std::string m_appName;
    };
    struct pidTag {};
    struct procNameTag {};
    struct appNameTag {};

    using PidCache = boost::multi_index_container<
        ProcPidRecord,
        boost::multi_index::indexed_by<
            boost::multi_index::ordered_unique<boost::multi_index::tag<pidTag>,
                                               boost::multi_index::member<ProcPidRecord, int, &ProcPidRecord::m_pid>>,
            boost::multi_index::ordered_non_unique<
                boost::multi_index::tag<procNameTag>,
                boost::multi_index::member<ProcPidRecord, std::string, &ProcPidRecord::m_procName>>>>;
    using CodesignCache = boost::multi_index_container<
        CodesignCacheRecord,
        boost::multi_index::indexed_by<boost::multi_index::ordered_unique<
            boost::multi_index::tag<appNameTag>,
            boost::multi_index::member<CodesignCacheRecord, std::string, &CodesignCacheRecord::m_appName>>>>;

    ProcessHelper(std::unique_ptr<ProcessSource> processes, std::unique_ptr<CodeSignChecker> codesign);
    ProcessHelper(const ProcessHelper&) = delete;
    ProcessHelper& operator=(const ProcessHelper&) = delete;

    /// Whether code signatures can be checked on this machine at all.
    bool codesignAvailable();
    /// Runs the check; never cached.
    bool getCodesignStatus(std::string path);
    /// The cached answer, or the check's (then cached). No lock is held
    /// while the check runs.
    bool isAppleSigned(std::string path);
    /// Replaces the entry of the path; an empty path is ignored.
    void addToCodeSignCache(std::string path, bool appleSigned);
    void updateCodeSignStatus(std::string path);

    /// (pid, path, network denied), replacing the pid's entry; an empty path
    /// is ignored.
    void addProcessPid(std::string path, int pid);
    /// Sets the pid's network answer, keeping its path; inserts (pid, path,
    /// allow) when the pid has no entry.
    void updateNetworkAction(std::string path, int pid, bool allow);
    /// Throws AppProtException PID_NOT_IN_CACHE when the pid has no entry.
    std::string getNameFromPid(int pid);
    /// False when the pid has no entry.
    bool getNetworkActionFromPid(int pid);
    /// The program the process runs, from the process source; "" when unknown.
    std::string findNameFromPID(int pid);
    /// Caches every running process: "kernel_task" as pid 0, and each
    /// process with a program; those in a special folder (plain byte prefix;
    /// empty entries match nothing) may use the network.
    void buildPidCache();
    /// Empties the process cache, then the code-signature cache.
    void clearCache();

private:
    std::unique_ptr<ProcessSource> m_processes;
    std::unique_ptr<CodeSignChecker> m_codesign;
    ward::Mutex m_pidCacheMutex;
    ward::Mutex m_codesignCacheMutex;
    PidCache m_pidCache WARD_GUARDED_BY(m_pidCacheMutex);
    CodesignCache m_codesignCache WARD_GUARDED_BY(m_codesignCacheMutex);
};

} // namespace AppProtection
