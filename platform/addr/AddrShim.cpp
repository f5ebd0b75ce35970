#include "AddrShim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace addrshim {

int ascii2addr(int af, const char* text, void* result)
{
    if (af != AF_INET || text == nullptr || result == nullptr)
        return -1;
    struct in_addr a;
    if (inet_aton(text, &a) == 0)
        return -1;
    std::memcpy(result, &a, sizeof a);
    return static_cast<int>(sizeof a);
}

char* addr2ascii(int af, const void* address, int len, char* buf)
{
    if (af != AF_INET || len != 4 || address == nullptr || buf == nullptr)
        return nullptr;
    return inet_ntop(AF_INET, address, buf, ADDR_TEXT_SIZE) ? buf : nullptr;
}

bool resolveHost(const std::string& name, std::vector<uint32_t>& addresses, std::string& officialName)
{
    std::vector<char> buffer(1024);
    struct hostent entry;
    struct hostent* result = nullptr;
    int herr = 0;
    for (;;) {
        int rc = gethostbyname_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result, &herr);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr)
            return false;
        break;
    }
    if (result->h_addrtype != AF_INET || result->h_length != 4)
        return false;
    officialName = result->h_name ? result->h_name : "";
    addresses.clear();
    for (char** p = result->h_addr_list; p && *p; ++p) {
        uint32_t a;
        std::memcpy(&a, *p, 4);
        addresses.push_back(a);
    }
    return true;
}

} // namespace addrshim
