// The preferences store: one property-list file per domain,
// "/usr/local/Vantrel/preferences/<domain>.plist", holding the stored keys
// only (the storage of PreferencesStorage.h). Gets answer the stored value or
// the registered default and re-read the file when it changed on disk; Sets
// rewrite it whole (temporary file, fsync, rename) under a lock shared with
// other processes. A change made by another process never calls this
// process's PreferenceCallback().
#pragma once

#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "PrefValues.h"
#include "PreferencesStorage.h"

class PreferencesException : public std::exception {
public:
    explicit PreferencesException(std::string message) : m_message(std::move(message)) {}
    std::string getMessage() const { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

/// Factory of store values.
class PreferencesHelper {
public:
    static PreferencesHelper* getInstance();
    PrefValueRef CreateCFIntNumber(int n) const;
    PrefValueRef CreateCFBoolean(bool b) const;
    /// Null when `utf8` is not a text the store can keep.
    PrefStringRef CreateCFString(const char* utf8) const;
    PrefMutableArrayRef CreateCFMutableArray() const;
};

/// Stored keys of one domain, in file order.
using PrefEntries = std::vector<std::pair<std::string, PrefValueRef>>;

class PreferencesBase {
public:
    PreferencesBase();
    virtual ~PreferencesBase();
    PreferencesBase(const PreferencesBase&) = delete;
    PreferencesBase& operator=(const PreferencesBase&) = delete;

    /// Nothing in the store calls it.
    virtual bool PreferenceCallback();

    /// Registers the domain and the keys with their defaults (the store keeps
    /// its own reference to each). A domain that is empty, holds "/" or starts
    /// with "." is refused: every Get then throws and every Set fails.
    void initialize(const char* domain, const char* const keys[], const PrefValueRef defaults[], int count);

    /// Stored value or default. Throw PreferencesException on a wrong type, an
    /// integer outside int, an unparseable file, or a key with neither.
    bool GetBooleanValue(const char* key);
    int GetIntegerValue(const char* key);
    /// A new[] copy the caller deletes, or null when neither stored nor
    /// registered.
    char* GetCStringValue(const char* key);
    /// An immutable snapshot, or null when neither stored nor registered.
    PrefArrayRef GetCFArrayValue(const char* key);

    /// True when stored. False when the file cannot be parsed (it is left
    /// alone) or cannot be written.
    bool SetBooleanValue(const char* key, bool value);
    bool SetIntegerValue(const char* key, int value);
    bool SetCFArrayValue(const char* key, PrefArrayRef array);

    /// For the command-line tool: the stored value only (null when not
    /// stored), any value, and removal (false when not stored or not written).
    PrefValueRef GetStoredValue(const char* key);
    bool SetValue(const char* key, PrefValueRef value);
    bool RemoveValue(const char* key, bool* wasStored = nullptr);

    /// "/usr/local/Vantrel/preferences/<domain>.plist".
    std::string filePath() const;

private:
    PrefValueRef lookup(const char* key);
    bool update(const char* key, PrefValueRef value, bool* wasStored);

    std::string m_domain;
    std::map<std::string, PrefValueRef> m_defaults;

    std::mutex m_mutex; // guards the members above and the storage's use
    std::unique_ptr<PreferencesStorage> m_storage; // null while the domain is refused
};

namespace settingstore {
/// The folder of every domain's file.
extern const char* const kPreferencesFolder;
/// Parses plist text; false when it is not a well-formed store file.
bool parsePlist(const std::string& text, PrefEntries& out);
/// Writes entries as an indented UTF-8 plist.
std::string writePlist(const PrefEntries& entries);
} // namespace settingstore
