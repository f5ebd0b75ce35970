// State of the ipfw stand-in: one folder holding the kernel's rule list as
// the kernel would hand it out, a lock for writers, and the sysctl values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FileIO.h"

namespace ipfw {

constexpr const char* kStateDir = "/usr/local/Vantrel/ipfw";
constexpr const char* kRulesFile = "/usr/local/Vantrel/ipfw/rules.bin";
constexpr const char* kLockFile = "/usr/local/Vantrel/ipfw/rules.lock";
constexpr const char* kInjectFile = "/usr/local/Vantrel/ipfw/inject";
constexpr const char* kSysctlDir = "/usr/local/Vantrel/ipfw/sysctl";

/// Largest state file read: far above any list the stand-in can build
/// (65534 rules of a few hundred bytes).
constexpr size_t kMaxStateFile = 64u << 20;

/// Reads a whole file of at most `limit` bytes. 0, or an errno value
/// (ENOENT when absent, EFBIG when larger than the limit).
inline int readWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t limit = kMaxStateFile)
{
    return wardfile::readFile(path, out, limit);
}

/// The writers' lock on rules.lock, held from construction to destruction.
/// Reads and writes of rules.bin go through other descriptors, so the lock
/// file is opened only here and closed only by the destructor.
class StateLock {
public:
    StateLock();
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
    /// 0 when held, else the errno value of the failure.
    int error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

} // namespace ipfw
