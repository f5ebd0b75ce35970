// The rule of one application as callers pass it around: path, fingerprint,
// group, launch permission and network policy.
#pragma once

#include <cstdint>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "NetworkRule.h"

namespace AppProtection {

class ProfileRecordIO;

class BasicAppRecord {
public:
    /// Network treatment of an application. Stored in the profile file.
    enum NetworkAction : int32_t {
        NW_ACTION_ALLOW_ALL = 1,
        NW_ACTION_BLOCK_ALL = 2,
        NW_ACTION_CUSTOM = 3, ///< `nwRules` decide, in order
    };

    BasicAppRecord() = default;
    BasicAppRecord(const BasicAppRecord&) = default;
    BasicAppRecord& operator=(const BasicAppRecord&) = default;
    BasicAppRecord(BasicAppRecord&&) = default;
    BasicAppRecord& operator=(BasicAppRecord&&) = default;
    virtual ~BasicAppRecord() = default;

    virtual void setAppPath(std::string path) { appPath = std::move(path); }
    virtual void setAppGroup(std::string group) { appGroup = std::move(group); }
    virtual void setApplicationHash(std::string hash) { applicationHash = std::move(hash); }

    std::string getAppPath() const { return appPath; }
    std::string getApplicationHash() const { return applicationHash; }
    std::string getAppGroup() const { return appGroup; }
    std::vector<std::string> getChangedDeps() const { return changedDeps; }
    std::list<NetworkRule> getNwRules() const { return nwRules; }
    bool getExecAllowed() const { return execAllowed; }
    bool getAppModified() const { return appModified; }
    bool getEnabled() const { return enabled; }
    NetworkAction getNwAction() const { return nwAction; }

    void setExecAllowed(bool value) { execAllowed = value; }
    void setAppModified(bool value) { appModified = value; }
    void setEnabled(bool value) { enabled = value; }
    void setNwAction(NetworkAction value) { nwAction = value; }
    void setChangedDeps(std::vector<std::string> deps) { changedDeps = std::move(deps); }
    /// Stores the rules sorted by order (stable); of several rules with one
    /// order the first given is kept.
    void setNwRules(std::list<NetworkRule> rules);

    /// The two rules decide alike: launch permission, network action and,
    /// for custom rules, the rules themselves.
    bool matches(const BasicAppRecord& other) const;
    /// `matches` and the same fingerprint.
    bool operator==(const BasicAppRecord& other) const;
    bool operator!=(const BasicAppRecord& other) const { return !(*this == other); }

    /// Equal group texts: the predicate that reduces a list to one record
    /// per group.
    static bool compareGroupName(BasicAppRecord a, BasicAppRecord b) { return a.appGroup == b.appGroup; }

    /// Diagnostic dump.
    void print(std::ostream& out) const;
    void print() const;

    /// Payload order (command payloads, the generator's temporary profile);
    /// not the profile file's. The caller includes boost's string, vector
    /// and list serializers.
    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & appPath & applicationHash & appGroup & execAllowed & nwRules & appModified & changedDeps & enabled
            & nwAction;
    }

protected:
    friend class ProfileRecordIO;

    std::string appPath;
    std::string applicationHash; ///< 32 lower-case hex digits
    std::string appGroup;
    bool execAllowed = false;
    bool appModified = false;
    std::vector<std::string> changedDeps;
    bool enabled = true;
    NetworkAction nwAction = NW_ACTION_ALLOW_ALL;
    std::list<NetworkRule> nwRules;
};

} // namespace AppProtection
