#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "FileIO.h"
#include "Preferences.h"
#include "PreferencesStorage.h"

namespace {

// A file bigger than this is not a preferences file.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;

// Threads of this process take this before the cross-process lock: lockf
// locks belong to the process, so they do not keep its own threads apart.
std::mutex& writeMutex()
{
    static std::mutex m;
    return m;
}

/// Closes a descriptor on every road out.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

PreferencesHelper* PreferencesHelper::getInstance()
{
    static PreferencesHelper helper;
    return &helper;
}

PrefValueRef PreferencesHelper::CreateCFIntNumber(int n) const { return std::make_shared<const PrefNumber>(n); }

PrefValueRef PreferencesHelper::CreateCFBoolean(bool b) const { return PrefBoolean::get(b); }

PrefStringRef PreferencesHelper::CreateCFString(const char* utf8) const { return PrefString::createWithUTF8(utf8); }

PrefMutableArrayRef PreferencesHelper::CreateCFMutableArray() const { return std::make_shared<PrefArray>(); }

namespace {

std::string domainFile(const std::string& domain)
{
    return std::string(settingstore::kPreferencesFolder) + "/" + domain + ".plist";
}

/// The domain's plist file, with the keys as last read from it.
class PlistFileStorage : public PreferencesStorage {
public:
    explicit PlistFileStorage(std::string domain) : m_domain(std::move(domain)), m_path(domainFile(m_domain)) {}
    PrefValueRef stored(const std::string& key) override;
    bool store(const std::string& key, PrefValueRef value, bool* wasStored) override;

private:
    struct FileId {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        struct timespec mtime {};
        struct timespec ctime {}; // a change of mode or owner too
        bool operator==(const FileId& o) const;
    };
    enum class FileState { Missing, Parsed, Unparseable };

    static FileId idOf(const struct stat& st);
    const std::string& filePath() const { return m_path; }
    /// Re-reads the file when it changed; m_mutex held.
    void refreshLocked();

    const std::string m_domain;
    const std::string m_path;
    std::mutex m_mutex; // guards the cache below
    FileState m_state = FileState::Missing;
    bool m_haveId = false;
    FileId m_id;
    PrefEntries m_entries;
};

std::mutex& factoryMutex()
{
    static std::mutex m;
    return m;
}

settingstore::StorageFactory& installedFactory()
{
    static settingstore::StorageFactory f;
    return f;
}

} // namespace

settingstore::StorageFactory settingstore::setStorageFactory(StorageFactory factory)
{
    std::lock_guard<std::mutex> lock(factoryMutex());
    StorageFactory old = std::move(installedFactory());
    installedFactory() = std::move(factory);
    return old;
}

std::unique_ptr<PreferencesStorage> settingstore::plistFileStorage(const std::string& domain)
{
    return std::make_unique<PlistFileStorage>(domain);
}

bool PlistFileStorage::FileId::operator==(const FileId& o) const
{
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
}

PlistFileStorage::FileId PlistFileStorage::idOf(const struct stat& st)
{
    FileId id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    id.ctime = st.st_ctim;
    return id;
}

PreferencesBase::PreferencesBase() = default;
PreferencesBase::~PreferencesBase() = default;

bool PreferencesBase::PreferenceCallback() { return false; }

void PreferencesBase::initialize(const char* domain, const char* const keys[], const PrefValueRef defaults[], int count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_domain = domain ? domain : "";
    const bool domainOk = !m_domain.empty() && m_domain.find('/') == std::string::npos && m_domain[0] != '.' &&
                          m_domain.find('\0') == std::string::npos;
    m_defaults.clear();
    for (int i = 0; keys && defaults && i < count; ++i)
        if (keys[i] != nullptr && defaults[i] != nullptr)
            m_defaults[keys[i]] = defaults[i];
    m_storage.reset();
    if (domainOk) {
        settingstore::StorageFactory factory;
        {
            std::lock_guard<std::mutex> installed(factoryMutex());
            factory = installedFactory();
        }
        m_storage = factory ? factory(m_domain) : settingstore::plistFileStorage(m_domain);
    }
}

std::string PreferencesBase::filePath() const
{
    return domainFile(m_domain);
}

void PlistFileStorage::refreshLocked()
{
    Fd file;
    file.fd = open(filePath().c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) {
        if (errno != ENOENT)
            throw PreferencesException("cannot open " + filePath() + ": " + std::strerror(errno));
        m_haveId = false;
        m_state = FileState::Missing;
        m_entries.clear();
        return;
    }
    struct stat st;
    if (fstat(file.fd, &st) != 0)
        throw PreferencesException("cannot stat " + filePath());
    const FileId id = idOf(st);
    if (m_haveId && id == m_id)
        return;
    std::string text;
    PrefEntries entries;
    bool ok = st.st_size <= kMaxFileSize && wardfile::readAll(file.fd, text, static_cast<size_t>(kMaxFileSize)) == 0 &&
              settingstore::parsePlist(text, entries);
    m_id = id;
    m_haveId = true;
    m_state = ok ? FileState::Parsed : FileState::Unparseable;
    m_entries = ok ? std::move(entries) : PrefEntries();
}

PrefValueRef PlistFileStorage::stored(const std::string& key)
{
    // One stat() tells whether the file is still the one last read (or still
    // missing); only a changed file is opened and read again.
    struct stat st;
    const bool statted = stat(filePath().c_str(), &st) == 0;
    const bool missing = !statted && errno == ENOENT;
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool unchanged = statted ? m_haveId && idOf(st) == m_id : missing && m_state == FileState::Missing;
    if (!unchanged)
        refreshLocked();
    if (m_state == FileState::Unparseable)
        throw PreferencesException("cannot parse " + filePath());
    for (const auto& entry : m_entries)
        if (entry.first == key)
            return entry.second;
    return nullptr;
}

PrefValueRef PreferencesBase::GetStoredValue(const char* key)
{
    if (key == nullptr)
        throw PreferencesException("no key");
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_storage)
        throw PreferencesException("preferences domain \"" + m_domain + "\" refused");
    return m_storage->stored(key);
}

PrefValueRef PreferencesBase::lookup(const char* key)
{
    PrefValueRef value = GetStoredValue(key);
    if (value)
        return value;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_defaults.find(key);
    return it == m_defaults.end() ? nullptr : it->second;
}

bool PreferencesBase::GetBooleanValue(const char* key)
{
    PrefValueRef v = lookup(key);
    if (!v || v->type() != PrefType::Boolean)
        throw PreferencesException(std::string("no boolean for ") + key);
    return static_cast<const PrefBoolean&>(*v).value();
}

int PreferencesBase::GetIntegerValue(const char* key)
{
    PrefValueRef v = lookup(key);
    if (!v || v->type() != PrefType::Integer)
        throw PreferencesException(std::string("no integer for ") + key);
    int64_t n = static_cast<const PrefNumber&>(*v).value();
    if (n < INT_MIN || n > INT_MAX)
        throw PreferencesException(std::string("integer out of range for ") + key);
    return static_cast<int>(n);
}

char* PreferencesBase::GetCStringValue(const char* key)
{
    PrefValueRef v = lookup(key);
    if (!v)
        return nullptr;
    if (v->type() != PrefType::String)
        throw PreferencesException(std::string("no string for ") + key);
    const std::string& s = static_cast<const PrefString&>(*v).utf8();
    char* copy = new char[s.size() + 1];
    std::memcpy(copy, s.c_str(), s.size() + 1);
    return copy;
}

PrefArrayRef PreferencesBase::GetCFArrayValue(const char* key)
{
    PrefValueRef v = lookup(key);
    if (!v)
        return nullptr;
    if (v->type() != PrefType::Array)
        throw PreferencesException(std::string("no array for ") + key);
    return std::static_pointer_cast<const PrefArray>(v);
}

bool PreferencesBase::SetBooleanValue(const char* key, bool value) { return SetValue(key, PrefBoolean::get(value)); }

bool PreferencesBase::SetIntegerValue(const char* key, int value)
{
    return SetValue(key, std::make_shared<const PrefNumber>(value));
}

bool PreferencesBase::SetCFArrayValue(const char* key, PrefArrayRef array)
{
    if (!array)
        return false;
    // Stored as a copy: the caller may go on appending to its own array.
    auto copy = std::make_shared<PrefArray>();
    for (size_t i = 0; i < array->count(); ++i) {
        if (!array->at(i))
            return false;
        copy->append(array->at(i));
    }
    return SetValue(key, copy);
}

bool PreferencesBase::SetValue(const char* key, PrefValueRef value)
{
    if (!value)
        return false;
    if (value->type() == PrefType::String && !PrefString::createWithUTF8(static_cast<const PrefString&>(*value).utf8()))
        return false;
    if (value->type() == PrefType::Array) {
        const auto& array = static_cast<const PrefArray&>(*value);
        for (size_t i = 0; i < array.count(); ++i)
            if (!array.at(i) || !PrefString::createWithUTF8(array.at(i)->utf8()))
                return false;
    }
    return update(key, std::move(value), nullptr);
}

bool PreferencesBase::RemoveValue(const char* key, bool* wasStored) { return update(key, nullptr, wasStored); }

bool PreferencesBase::update(const char* key, PrefValueRef value, bool* wasStored)
{
    if (wasStored)
        *wasStored = false;
    if (key == nullptr || !PrefString::createWithUTF8(key))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_storage && m_storage->store(key, std::move(value), wasStored);
}

bool PlistFileStorage::store(const std::string& key, PrefValueRef value, bool* wasStored)
{
    if (wasStored)
        *wasStored = false;
    std::lock_guard<std::mutex> threads(writeMutex());
    std::lock_guard<std::mutex> lock(m_mutex);
    if (wardfile::makeDirectories(settingstore::kPreferencesFolder) != 0)
        return false;
    const std::string path = filePath();
    Fd lockFile;
    lockFile.fd = wardfile::lockFile(path + ".lock", wardfile::LockKind::Process, 0644).fd;
    if (lockFile.fd < 0)
        return false;
    // What writers killed before their rename left behind.
    wardfile::removeLeftovers(path);
    // Under the lock: the file as the last writer left it.
    try {
        refreshLocked();
    } catch (const PreferencesException&) {
        return false;
    }
    if (m_state == FileState::Unparseable)
        return false;
    PrefEntries entries = m_entries;
    bool found = false;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->first == key) {
            found = true;
            if (value)
                it->second = value;
            else
                entries.erase(it);
            break;
        }
    }
    if (wasStored)
        *wasStored = found;
    if (!value && !found)
        return false;
    if (value && !found)
        entries.emplace_back(key, value);

    std::string text = settingstore::writePlist(entries);
    if (wardfile::replaceFile(path, 0644, text.data(), text.size()).error != 0)
        return false;
    // The next Get re-reads (the inode changed), so the cache is just dropped.
    m_haveId = false;
    return true;
}
