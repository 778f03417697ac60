#include "channels/IfiInfo.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

static_assert(IFF_BROADCAST == kIfiBroadcast, "interface broadcast flag");
static_assert(sizeof(ifi_entry) == 16, "one interface entry is 16 bytes");

ifi_entry MakeIfiEntry(uint32_t flags, uint32_t address, uint32_t netmask)
{
    return ifi_entry{flags, address, netmask, address | ~netmask};
}

ifi_entry* get_ifi_info(int* count)
{
    *count = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return nullptr;
    int n = 0;
    for (ifaddrs* it = list; it; it = it->ifa_next)
        if (it->ifa_addr && it->ifa_addr->sa_family == AF_INET) n++;
    ifi_entry* entries = nullptr;
    if (n > 0) {
        entries = static_cast<ifi_entry*>(malloc(sizeof(ifi_entry) * n));
        if (!entries) {
            errno = ENOMEM;
            perror("get_ifi_info: Out of memory");
            freeifaddrs(list);
            return nullptr;
        }
        int at = 0;
        for (ifaddrs* it = list; it && at < n; it = it->ifa_next) {
            if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
            uint32_t address = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
            uint32_t mask = it->ifa_netmask
                                ? reinterpret_cast<sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr
                                : 0xFFFFFFFFu;
            entries[at++] = MakeIfiEntry(it->ifa_flags, address, mask);
        }
        *count = at;
    }
    freeifaddrs(list);
    return entries;
}

char* IPv4ToText(uint32_t address, char* buffer, size_t size)
{
    if (!buffer || size == 0) return nullptr;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
    int n = snprintf(buffer, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return n > 0 ? buffer : nullptr;
}
