// The host's IPv4 interfaces with their broadcast addresses, and dotted address text.
#pragma once
#include <cstddef>
#include <cstdint>

// Interface flag bit: the interface can broadcast (IFF_BROADCAST).
const uint32_t kIfiBroadcast = 2;

struct ifi_entry {
    uint32_t flags;     // the platform's interface flags
    uint32_t address;   // IPv4, network order
    uint32_t netmask;   // network order
    uint32_t broadcast; // address | ~netmask, network order
};

// A new array (free with free()) of one entry per IPv4 interface, or null with count 0.
ifi_entry* get_ifi_info(int* count);
// Fills an entry, computing its broadcast address from address and mask.
ifi_entry MakeIfiEntry(uint32_t flags, uint32_t address, uint32_t netmask);
// "%u.%u.%u.%u" of the four bytes in memory order; null when nothing could be written.
char* IPv4ToText(uint32_t address, char* buffer, size_t size);
