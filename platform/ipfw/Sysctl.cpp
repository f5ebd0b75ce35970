#include "Sysctl.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileIO.h"
#include "IpfwState.h"

namespace {

bool knownName(const char* name)
{
    return std::strcmp(name, "net.inet.ip.fw.enable") == 0 || std::strcmp(name, "net.inet.ip.fw.verbose") == 0;
}

std::string trimmed(const std::vector<uint8_t>& bytes)
{
    std::string s(bytes.begin(), bytes.end());
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

/// 0 with the value, or an errno value.
int readValue(const std::string& path, int& value)
{
    std::vector<uint8_t> bytes;
    int e = ipfw::readWholeFile(path, bytes, 64);
    if (e == ENOENT) {
        value = 0;
        return 0;
    }
    if (e != 0)
        return e;
    std::string text = trimmed(bytes);
    if (text.empty())
        return EIO;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return EIO;
    value = static_cast<int>(v);
    return 0;
}

} // namespace

extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen)
{
    if (name == nullptr || !knownName(name)) {
        errno = ENOENT;
        return -1;
    }
    const std::string path = std::string(ipfw::kSysctlDir) + "/" + name;
    const bool sizeCall = oldp == nullptr && oldlenp != nullptr;
    const bool readCall = oldp != nullptr;
    const bool writeCall = newp != nullptr;

    std::vector<uint8_t> failBytes;
    if (ipfw::readWholeFile(path + ".fail", failBytes, 64) == 0) {
        std::string kind = trimmed(failBytes);
        if ((kind == "size" && sizeCall) || (kind == "read" && readCall) || (kind == "write" && writeCall)) {
            errno = EPERM;
            return -1;
        }
    }
    if (readCall && oldlenp == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (readCall && *oldlenp < sizeof(int)) {
        errno = ENOMEM;
        return -1;
    }
    if (writeCall && newlen != sizeof(int)) {
        errno = EINVAL;
        return -1;
    }

    int old = 0;
    if (readCall) {
        int e = readValue(path, old);
        if (e != 0) {
            errno = e;
            return -1;
        }
    }
    if (writeCall) {
        int value;
        std::memcpy(&value, newp, sizeof value);
        std::string text = std::to_string(value) + "\n";
        int e = wardfile::makeDirectories(ipfw::kSysctlDir);
        if (e == 0)
            e = wardfile::replaceFile(path, 0644, text.data(), text.size()).error;
        if (e != 0) {
            errno = e;
            return -1;
        }
    }
    if (readCall) {
        std::memcpy(oldp, &old, sizeof old);
        *oldlenp = sizeof(int);
    } else if (sizeCall) {
        *oldlenp = sizeof(int);
    }
    return 0;
}
