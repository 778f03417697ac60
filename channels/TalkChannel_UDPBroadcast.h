// Discovery channel: Send broadcasts one datagram on every IPv4 interface that can broadcast;
// Receive hands out the next answering datagram piece by piece, then end of stream, so the
// Modbus transaction runs over it unchanged. It remembers each datagram's sender.
#pragma once
#include <cstdint>
#include "channels/IfiInfo.h"
#include "channels/TalkChannel_TCP.h"

// Largest datagram the channel takes; a longer one is a receive error.
const int kUdpReceiveBufferSize = 256;
// Every discovery datagram goes to the Modbus port.
const uint16_t kDiscoveryPort = 502;

class TalkChannel_UDPBroadcast : public TalkChannel_TCP {
public:
    TalkChannel_UDPBroadcast(const char* name, TalkChannelExtI* owner,
                             int timeoutMs = kChannelSocketTimeoutMs);
    // The same with the owner first, as the TCP channel takes them.
    TalkChannel_UDPBroadcast(TalkChannelExtI* owner, const char* name,
                             int timeoutMs = kChannelSocketTimeoutMs);

    bool Open() override;
    bool Connect(const SString& address) override;
    bool Send(const void* data, int size) override;
    bool Receive(void* buffer, int size, int* received, bool* end) override;

    // Source address (network order) of the last datagram taken from the socket.
    uint32_t SenderAddress() const { return senderAddress_; }
    bool IsDatagramHeld() const { return datagramHeld_; }
    bool IsRequestSent() const { return requestSent_; }
    // Lets the next Receive wait for a new datagram (the user does this between answers).
    void ClearDatagramHeld() { datagramHeld_ = false; }

protected:
    // The interfaces to send to (the host's own, from get_ifi_info); a free()-able array.
    virtual ifi_entry* Interfaces(int* count);
    // Destination port of the datagrams; only tests that answer on loopback change it.
    uint16_t destinationPort_ = kDiscoveryPort;

private:
    // Sends one datagram to one broadcast address; false after logging the failure.
    bool SendTo(uint32_t broadcast, const void* data, int size, const char** detail, int* code);

    uint8_t receiveBuffer_[kUdpReceiveBufferSize];
    int32_t heldCount_ = 0;
    uint32_t senderAddress_ = 0;
    bool requestSent_ = false;
    bool datagramHeld_ = false;
};
