#include "MemoryPreferences.h"

#include <map>
#include <mutex>
#include <stdexcept>

namespace settingstoretest {

struct MemoryPreferences::State {
    mutable std::mutex mutex; // guards everything below
    std::map<std::string, PrefEntries> domains;
    Failure reads = Failure::None;
    Failure writes = Failure::None;
    int written = 0;
};

namespace {

using State = MemoryPreferences::State;
using Failure = MemoryPreferences::Failure;

PrefEntries::iterator find(PrefEntries& entries, const std::string& key)
{
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it->first == key)
            return it;
    return entries.end();
}

class MemoryStorage : public PreferencesStorage {
public:
    MemoryStorage(std::shared_ptr<State> state, std::string domain)
        : m_state(std::move(state)), m_domain(std::move(domain))
    {
    }

    PrefValueRef stored(const std::string& key) override
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        switch (m_state->reads) {
        case Failure::None:
            break;
        case Failure::Refuse:
        case Failure::ThrowPreferences:
            throw PreferencesException("cannot read domain " + m_domain);
        case Failure::ThrowOther:
            throw std::runtime_error("memory store read failure");
        }
        PrefEntries& entries = m_state->domains[m_domain];
        auto it = find(entries, key);
        return it == entries.end() ? nullptr : it->second;
    }

    bool store(const std::string& key, PrefValueRef value, bool* wasStored) override
    {
        if (wasStored)
            *wasStored = false;
        std::lock_guard<std::mutex> lock(m_state->mutex);
        switch (m_state->writes) {
        case Failure::None:
            break;
        case Failure::Refuse:
            return false;
        case Failure::ThrowPreferences:
            throw PreferencesException("cannot write domain " + m_domain);
        case Failure::ThrowOther:
            throw std::runtime_error("memory store write failure");
        }
        PrefEntries& entries = m_state->domains[m_domain];
        auto it = find(entries, key);
        if (wasStored)
            *wasStored = it != entries.end();
        if (!value) {
            if (it == entries.end())
                return false;
            entries.erase(it);
        } else if (it != entries.end()) {
            it->second = std::move(value);
        } else {
            entries.emplace_back(key, std::move(value));
        }
        ++m_state->written;
        return true;
    }

private:
    std::shared_ptr<State> m_state;
    const std::string m_domain;
};

} // namespace

MemoryPreferences::MemoryPreferences() : m_state(std::make_shared<State>())
{
    std::shared_ptr<State> state = m_state;
    m_replaced = settingstore::setStorageFactory([state](const std::string& domain) {
        return std::unique_ptr<PreferencesStorage>(new MemoryStorage(state, domain));
    });
}

MemoryPreferences::~MemoryPreferences()
{
    settingstore::setStorageFactory(std::move(m_replaced));
}

void MemoryPreferences::failReads(Failure failure)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->reads = failure;
}

void MemoryPreferences::failWrites(Failure failure)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->writes = failure;
}

void MemoryPreferences::put(const std::string& domain, const std::string& key, PrefValueRef value)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    PrefEntries& entries = m_state->domains[domain];
    auto it = find(entries, key);
    if (it != entries.end())
        it->second = std::move(value);
    else
        entries.emplace_back(key, std::move(value));
}

PrefValueRef MemoryPreferences::get(const std::string& domain, const std::string& key) const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    auto d = m_state->domains.find(domain);
    if (d == m_state->domains.end())
        return nullptr;
    auto it = find(d->second, key);
    return it == d->second.end() ? nullptr : it->second;
}

int MemoryPreferences::writes() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->written;
}

} // namespace settingstoretest
