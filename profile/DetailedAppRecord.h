// An application rule as the profile stores it: one record per executable,
// with index keys mirroring path, fingerprint and group, and the libraries it
// loads.
#pragma once

#include <string>
#include <vector>

#include <netinet/in.h>

#include "BasicAppRecord.h"

namespace AppProtection {

class DetailedAppRecord : public BasicAppRecord {
public:
    DetailedAppRecord() = default;
    /// Takes the rule's fields; fingerprint and dependencies stay empty (the
    /// profile fingerprints the executable itself).
    DetailedAppRecord(const BasicAppRecord& rule) { assignRule(rule); }
    /// Takes the rule's fields; keeps this record's fingerprint and
    /// dependencies.
    DetailedAppRecord& operator=(const BasicAppRecord& rule)
    {
        assignRule(rule);
        return *this;
    }
    DetailedAppRecord(const DetailedAppRecord& other) : BasicAppRecord() { assignDetailed(other); }
    DetailedAppRecord& operator=(const DetailedAppRecord& other)
    {
        if (this != &other)
            assignDetailed(other);
        return *this;
    }
    /// The same value as a copy (the rules sorted and one per order), with
    /// the texts, lists and rules taken over instead of copied.
    DetailedAppRecord(DetailedAppRecord&& other) noexcept
        : BasicAppRecord(std::move(other)), m_appPath(std::move(other.m_appPath)),
          m_applicationHash(std::move(other.m_applicationHash)), m_appGroup(std::move(other.m_appGroup)),
          m_dependencies(std::move(other.m_dependencies))
    {
        setNwRules(std::move(nwRules));
    }
    DetailedAppRecord& operator=(DetailedAppRecord&& other) noexcept
    {
        if (this != &other) {
            BasicAppRecord::operator=(std::move(other));
            m_appPath = std::move(other.m_appPath);
            m_applicationHash = std::move(other.m_applicationHash);
            m_appGroup = std::move(other.m_appGroup);
            m_dependencies = std::move(other.m_dependencies);
            setNwRules(std::move(nwRules));
        }
        return *this;
    }
    ~DetailedAppRecord() override = default;

    void setAppPath(std::string path) override
    {
        BasicAppRecord::setAppPath(path);
        m_appPath = std::move(path);
    }
    void setAppGroup(std::string group) override
    {
        BasicAppRecord::setAppGroup(group);
        m_appGroup = std::move(group);
    }
    void setApplicationHash(std::string hash) override
    {
        BasicAppRecord::setApplicationHash(hash);
        m_applicationHash = std::move(hash);
    }

    std::vector<std::string> getDependencies() const { return m_dependencies; }
    /// Without copying the list.
    bool hasDependencies() const { return !m_dependencies.empty(); }
    void setDependencies(std::vector<std::string> deps) { m_dependencies = std::move(deps); }

    /// Walks the rules in order; the first that matches writes its action and
    /// answers true. False leaves `action` as it was.
    bool customRuleMatch(const sockaddr_in& peer, const Operation& direction, const NWProtocol& protocol,
                         actions& action) const;

    /// Index keys of the application store.
    struct PathKey {
        using result_type = std::string;
        const std::string& operator()(const DetailedAppRecord& r) const { return r.m_appPath; }
    };
    struct GroupKey {
        using result_type = std::string;
        const std::string& operator()(const DetailedAppRecord& r) const { return r.m_appGroup; }
    };
    struct HashKey {
        using result_type = std::string;
        const std::string& operator()(const DetailedAppRecord& r) const { return r.m_applicationHash; }
    };

private:
    friend class ProfileRecordIO;

    void assignRule(const BasicAppRecord& rule)
    {
        setAppPath(rule.getAppPath());
        setAppGroup(rule.getAppGroup());
        execAllowed = rule.getExecAllowed();
        setNwRules(rule.getNwRules());
        appModified = rule.getAppModified();
        changedDeps = rule.getChangedDeps();
        enabled = rule.getEnabled();
        nwAction = rule.getNwAction();
    }
    void assignDetailed(const DetailedAppRecord& other)
    {
        setAppPath(other.appPath);
        setApplicationHash(other.applicationHash);
        setAppGroup(other.appGroup);
        execAllowed = other.execAllowed;
        setNwRules(other.nwRules);
        appModified = other.appModified;
        changedDeps = other.changedDeps;
        enabled = other.enabled;
        nwAction = other.nwAction;
        m_dependencies = other.m_dependencies;
    }

    // Keys always equal the base fields: only the overriding setters write
    // them.
    std::string m_appPath;
    std::string m_applicationHash;
    std::string m_appGroup;
    std::vector<std::string> m_dependencies;
};

} // namespace AppProtection
