// One dependent library of the profile: its path, fingerprint and the
// applications that load it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace AppProtection {

class DependentRecord {
public:
    DependentRecord() = default;
    DependentRecord(const DependentRecord&) = default;
    DependentRecord& operator=(const DependentRecord&) = default;
    DependentRecord(DependentRecord&&) = default;
    DependentRecord& operator=(DependentRecord&&) = default;
    virtual ~DependentRecord() = default;

    std::string getFileName() const { return m_fileName; }
    void setFileName(std::string name) { m_fileName = std::move(name); }
    std::string getFileHash() const { return m_fileHash; }
    void setFileHash(std::string hash) { m_fileHash = std::move(hash); }
    std::vector<std::string> getAppList() const { return m_appList; }
    /// Also sets the application count.
    void setAppList(std::vector<std::string> apps)
    {
        m_appList = std::move(apps);
        m_numApps = static_cast<uint32_t>(m_appList.size());
    }
    bool getHashVerified() const { return m_hashVerified; }
    void setHashVerified(bool value) { m_hashVerified = value; }

    /// Index keys of the dependent-library store.
    struct NameKey {
        using result_type = std::string;
        const std::string& operator()(const DependentRecord& r) const { return r.m_fileName; }
    };
    struct HashKey {
        using result_type = std::string;
        const std::string& operator()(const DependentRecord& r) const { return r.m_fileHash; }
    };
    struct AppCountKey {
        using result_type = uint32_t;
        uint32_t operator()(const DependentRecord& r) const { return r.m_numApps; }
    };

private:
    friend class ProfileRecordIO;

    std::string m_fileName;
    std::string m_fileHash;
    uint32_t m_numApps = 0; ///< entries in m_appList, or as read from the file
    bool m_hashVerified = false; ///< compared with the file since the load; never stored
    std::vector<std::string> m_appList; ///< may list one application twice
};

} // namespace AppProtection
