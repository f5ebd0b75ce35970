// The management agent: the library through which the central console reaches
// a product. A product creates one agent instance, registers its
// property-collection and policy-enforcement services with it, and the agent
// calls them on a thread of its own.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace HVOEnterprise {

/// Category of a message the agent logs through the product's callback.
typedef int AgentLogCategory;
/// The product's log callback; `text` is valid only during the call.
typedef void (*AgentLogCallback)(AgentLogCategory category, const wchar_t* text);

/// The kind of a policy value: 0 a number written as text, 1 a text.
enum VALUETYPE { VALUETYPE_NUMBER = 0, VALUETYPE_TEXT = 1 };

/// The console user's logon state, passed through as a number.
typedef int LogonState;

class HvoAgentUtils {
public:
    /// UTF-8 form of `text`; a character that has no UTF-8 form (a surrogate,
    /// or a value above U+10FFFF) becomes "?".
    static std::string wstringToString(const std::wstring& text);
};

/// Sections of keys and values, all wide texts. Keys keep the order in which
/// they were inserted, per section.
class SectionsHandle {
public:
    SectionsHandle() = default;
    SectionsHandle(const SectionsHandle&) = default;
    SectionsHandle& operator=(const SectionsHandle&) = default;
    virtual ~SectionsHandle() = default;

    /// True, with `value` set, when the section holds the key; otherwise
    /// `value` is untouched.
    bool getPropValue(const std::wstring& section, const std::wstring& key, std::wstring& value) const;
    /// Adds the key, or replaces its value in place; false for an empty
    /// section or key name.
    virtual bool insert(const std::wstring& section, const std::wstring& key, const std::wstring& value);

    struct Entry {
        std::wstring section;
        std::wstring key;
        std::wstring value;
    };
    /// Every key in insertion order, across sections.
    const std::vector<Entry>& entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
    /// (section, key) to its index in m_entries.
    std::map<std::pair<std::wstring, std::wstring>, size_t> m_index;
};

/// The property-collection service a product registers.
class IHvoAgentPropertyCollection {
public:
    virtual ~IHvoAgentPropertyCollection() = default;
    virtual bool collectProperties(bool collectAllSections, SectionsHandle& sections) = 0;
    virtual bool isSoftwareExists(const std::wstring& software) = 0;
};

/// The policy-enforcement service a product registers.
class IHvoAgentPolicyEnforcement {
public:
    virtual ~IHvoAgentPolicyEnforcement() = default;
    virtual bool enforcePolicy(const std::wstring& name, const SectionsHandle& sections) = 0;
    virtual bool enforcePolicy(const std::wstring& name, const std::wstring& user, const std::wstring& domain,
                               unsigned long session, LogonState logonState, const SectionsHandle& sections) = 0;
};

/// One agent instance per process.
class HvoAgent {
public:
    /// Creates the instance, or returns null: an instance exists already, the
    /// access string is not six lower-case letters and 58 digits, or another
    /// live agent holds the control socket. The agent's threads block every
    /// asynchronous signal.
    static HvoAgent* createInstance(const std::string& softwareId, const std::string& agentId,
                                    const std::string& processId, const std::string& accessString,
                                    const std::wstring& logDirectory, AgentLogCallback logCallback);
    /// The instance, or null when there is none.
    static HvoAgent* getInstance();
    /// Closes the control socket, fails the calls still queued ("agent
    /// released"), lets the call in hand finish, joins every thread and
    /// destroys the instance. The services are not deleted: they are the
    /// product's. Nothing when there is no instance.
    static void releaseInstance();

    /// The agent keeps the pointer (it does not own it) when it returns true.
    bool registerPropertyCollectionService(IHvoAgentPropertyCollection* service);
    bool registerPolicyEnforcementService(IHvoAgentPolicyEnforcement* service);
    /// The registered services, or null.
    IHvoAgentPropertyCollection* getPropertyCollectionInterface();
    IHvoAgentPolicyEnforcement* getPolicyEnforcementInterface();

    void performPluginReload();
    void performPluginUnload();

    HvoAgent(const HvoAgent&) = delete;
    HvoAgent& operator=(const HvoAgent&) = delete;

    class Impl;

private:
    friend class HvoAgentAccess;
    explicit HvoAgent(std::shared_ptr<Impl> impl);
    ~HvoAgent();

    std::shared_ptr<Impl> m_impl;
};

} // namespace HVOEnterprise
