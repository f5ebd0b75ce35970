#include "RuleListSource.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "IpfwLayout.h"
#include "IpfwState.h"

namespace ipfw {

namespace {
std::mutex& sourceMutex()
{
    static std::mutex m;
    return m;
}

RuleListSource& currentSource()
{
    static RuleListSource s;
    return s;
}
} // namespace

int stateRuleListSource(int, void* buf, socklen_t* len)
{
    if (buf == nullptr || len == nullptr) {
        errno = EFAULT;
        return -1;
    }
    std::vector<uint8_t> list;
    int e = readWholeFile(kRulesFile, list);
    if (e == ENOENT)
        list = defaultRuleRecord();
    else if (e != 0) {
        errno = e;
        return -1;
    }
    size_t n = list.size() < *len ? list.size() : static_cast<size_t>(*len);
    if (n != 0)
        std::memcpy(buf, list.data(), n);
    *len = static_cast<socklen_t>(n);
    return 0;
}

int getRuleList(int fd, void* buf, socklen_t* len)
{
    RuleListSource source;
    {
        std::lock_guard<std::mutex> lock(sourceMutex());
        source = currentSource();
    }
    if (source)
        return source(fd, buf, len);
    return stateRuleListSource(fd, buf, len);
}

RuleListSource setRuleListSource(RuleListSource source)
{
    std::lock_guard<std::mutex> lock(sourceMutex());
    RuleListSource old = std::move(currentSource());
    currentSource() = std::move(source);
    return old;
}

} // namespace ipfw
