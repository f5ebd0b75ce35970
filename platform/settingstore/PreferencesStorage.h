// Where the stored keys of a preference domain live.
//
// PreferencesBase keeps the registered defaults, the checks of keys and
// values and the typed answers; a storage keeps the stored keys of one
// domain. The default storage is the domain's plist file; tests may install
// another factory (testing/MemoryPreferences.h) before a PreferencesBase is
// initialized.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "PrefValues.h"

class PreferencesStorage {
public:
    virtual ~PreferencesStorage() = default;
    /// The stored value of `key`, or null when it is not stored. Throws
    /// PreferencesException when the stored keys cannot be read.
    virtual PrefValueRef stored(const std::string& key) = 0;
    /// Stores `value` under `key`, or removes the key when `value` is null;
    /// other keys stay as they are. True when written; false when not
    /// (nothing changed, a removal of a key not stored included).
    /// `wasStored` tells whether the key was stored before.
    virtual bool store(const std::string& key, PrefValueRef value, bool* wasStored) = 0;
};

namespace settingstore {

/// Makes the storage of one domain (a name already checked).
using StorageFactory = std::function<std::unique_ptr<PreferencesStorage>(const std::string& domain)>;

/// Installs a factory for the PreferencesBase objects initialized from now
/// on; an empty one restores the plist files. Returns the one it replaces.
StorageFactory setStorageFactory(StorageFactory factory);

/// The default: "<kPreferencesFolder>/<domain>.plist", re-read when it
/// changed on disk, written whole under "<domain>.plist.lock".
std::unique_ptr<PreferencesStorage> plistFileStorage(const std::string& domain);

} // namespace settingstore
