#include "ProcessSource.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include <dirent.h>
#include <unistd.h>

namespace AppProtection {

namespace {

/// The link's target grows until it fits; a link is never longer than this.
constexpr size_t kMaxLinkLength = 1 << 16;

const char kDeletedSuffix[] = " (deleted)";

} // namespace

ProcProcessSource::ProcProcessSource(std::string procRoot) : m_procRoot(std::move(procRoot)) {}

std::vector<int> ProcProcessSource::listPids()
{
    std::vector<int> pids;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(m_procRoot.c_str()), ::closedir);
    if (!dir)
        return pids;
    while (const dirent* entry = ::readdir(dir.get())) {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9')
            continue;
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(name, &end, 10);
        if (*end == '\0' && errno == 0 && pid > 0 && pid <= INT32_MAX)
            pids.push_back(static_cast<int>(pid));
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string ProcProcessSource::programPath(int pid)
{
    const std::string link = m_procRoot + "/" + std::to_string(pid) + "/exe";
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), &target[0], target.size());
        if (n < 0)
            return ""; // a kernel thread has no program; a process gone has no folder
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            break;
        }
        if (target.size() >= kMaxLinkLength)
            return "";
        target.resize(target.size() * 2);
    }
    // The kernel marks a program removed since it started; the path it had
    // is what the profile knows.
    const size_t suffix = sizeof kDeletedSuffix - 1;
    if (target.size() > suffix && target.compare(target.size() - suffix, suffix, kDeletedSuffix) == 0)
        target.resize(target.size() - suffix);
    return target;
}

} // namespace AppProtection
