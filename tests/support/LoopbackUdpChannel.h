// The UDP broadcast channel with a chosen interface list and destination port, so that tests
// in the host namespace send only to loopback addresses.
#pragma once
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "channels/TalkChannel_UDPBroadcast.h"

class LoopbackUdpChannel : public TalkChannel_UDPBroadcast {
public:
    LoopbackUdpChannel(TalkChannelExtI* owner, std::vector<ifi_entry> interfaces, uint16_t port, int timeoutMs)
        : TalkChannel_UDPBroadcast("", owner, timeoutMs), interfaces_(std::move(interfaces))
    {
        destinationPort_ = port;
    }
    // An interface that can broadcast, whose broadcast address is the address itself.
    static ifi_entry Loopback(const char* address) { return MakeIfiEntry(kIfiBroadcast, inet_addr(address), ~0u); }

protected:
    ifi_entry* Interfaces(int* count) override
    {
        *count = (int)interfaces_.size();
        auto* list = static_cast<ifi_entry*>(malloc(sizeof(ifi_entry) * (interfaces_.size() + 1)));
        memcpy(list, interfaces_.data(), sizeof(ifi_entry) * interfaces_.size());
        return list;
    }

private:
    std::vector<ifi_entry> interfaces_;
};
