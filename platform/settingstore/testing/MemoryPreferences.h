// The preferences store in memory, for tests of code above it: while it
// exists, PreferencesBase objects initialized meanwhile keep their stored keys
// here (every domain, shared by all of them) instead of in plist files. Reads
// and writes can be made to fail as a broken store would.
#pragma once

#include <memory>
#include <string>

#include "Preferences.h"

namespace settingstoretest {

class MemoryPreferences {
public:
    /// Installs itself as the storage factory; the destructor puts back the
    /// one it replaced. Storages already handed out stay usable.
    MemoryPreferences();
    ~MemoryPreferences();
    MemoryPreferences(const MemoryPreferences&) = delete;
    MemoryPreferences& operator=(const MemoryPreferences&) = delete;

    enum class Failure {
        None,
        Refuse,           // writes answer false; reads throw PreferencesException
        ThrowPreferences, // both throw PreferencesException
        ThrowOther,       // both throw std::runtime_error
    };
    void failReads(Failure failure);
    void failWrites(Failure failure);

    /// Stores any value, of any type, as a file written by hand would.
    void put(const std::string& domain, const std::string& key, PrefValueRef value);
    /// The stored value, or null.
    PrefValueRef get(const std::string& domain, const std::string& key) const;
    /// Writes stored so far.
    int writes() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
    settingstore::StorageFactory m_replaced;
};

} // namespace settingstoretest
