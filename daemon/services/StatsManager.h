// Which application groups already had an execution block and a network
// block reported, so that each group's events and notification go out once
// per kind in the life of the process. In memory only.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include <boost/multi_index/member.hpp>
#include <boost/multi_index/ordered_index.hpp>
#include <boost/multi_index/tag.hpp>
#include <boost/multi_index_container.hpp>

namespace AppProtection {

class StatsManager {
public:
    struct StatsRecord {
        std::string m_appPath; ///< the application group
        bool m_execBlockNotified = false;
        bool m_networkBlockNotified = false;
    };
    struct appNameTag {
    };

    /// Created on first use.
    static StatsManager* getInstance();
    static void releaseInstance();

    /// True for the group's first execution block, which is recorded; false
    /// afterwards and whenever it cannot tell. Never throws.
    bool sendExecBlockNotification(const std::string& group);
    /// The same for network blocks.
    bool sendNetworkBlockNotification(const std::string& group);
    /// Stores the record, replacing one of the same path.
    void addRecord(const StatsRecord& record);
    /// A copy of the path's record; AppProtException ENTRY_NOT_FOUND when
    /// there is none.
    StatsRecord findRecord(const std::string& path);

    StatsManager(const StatsManager&) = delete;
    StatsManager& operator=(const StatsManager&) = delete;

private:
    StatsManager();
    ~StatsManager();
    bool firstBlock(const std::string& group, bool StatsRecord::*flag, const wchar_t* method);

    using RecordSet = boost::multi_index_container<
        StatsRecord,
        boost::multi_index::indexed_by<boost::multi_index::ordered_unique<
            boost::multi_index::tag<appNameTag>,
            boost::multi_index::member<StatsRecord, std::string, &StatsRecord::m_appPath>>>>;

    std::mutex m_statsMutex;
    RecordSet m_statsRecords; ///< guarded by m_statsMutex

    static std::atomic<StatsManager*> m_pSelf;
    static std::mutex m_instanceMutex;
};

} // namespace AppProtection
