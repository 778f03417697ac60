// Device discovery: what one answering unit is known by, the request and answer layout the
// units share, and where the request goes.
#pragma once
#include <cstdint>

#include "base/SString.h"
#include "channels/TalkChannel_TCP.h"
#include "channels/TalkChannel_UDPBroadcast.h"

// One unit that answered the broadcast, in the order the answers arrived.
struct DFIND_DevInfo {
    SString ipConnect;  // sender of the answer: the address to connect to
    SString ip;         // the IPv4 address the unit reports
    SString mac;        // "00:1A:2B:3C:4D:5E"
    SString id;         // identifier, UTF-8 (phase two)
    SString version;    // "1.2.0.15" (phase two)
    int row = -1;       // the front end's row of this unit (its position in the list)
};

// File 1 of every unit: record 0 answers discovery, record 1 holds the identifier.
const uint16_t kDiscoveryFile = 1;
const uint16_t kDiscoveryRecord = 0;
const uint16_t kDiscoveryRecordRegisters = 8;
const uint16_t kIdentifierRecord = 1;
const uint16_t kIdentifierRecordRegisters = 4;
// Offsets in the discovery record and in the identifier record.
const int kDiscoveryMacAt = 2;
const int kDiscoveryMacBytes = 6;
const int kDiscoveryIpAt = 12;
const int kIdentifierTextAt = 2;
const int kIdentifierTextBytes = 6;
// Result code of a record that carries what was asked.
const uint16_t kIdentityResultOk = 1;
// The code page the units keep their identifier in.
extern const char kIdentifierCodepage[];

// Where the request goes and where phase two connects; the default is the standard port on
// every interface's broadcast address.
struct DiscoveryOptions {
    // Network order; non-zero sends the request to this address alone (a directed broadcast
    // to a routed subnet, or one unit's own address).
    uint32_t directedAddress = 0;
    uint16_t port = kDiscoveryPort;
    // Phase one ends this long after the last answer.
    int receiveTimeoutMs = kChannelSocketTimeoutMs;
};

// The record texts of one answer: MAC of record bytes 2..7, IP of bytes 12..15.
SString DiscoveryMacText(const uint8_t* record);
SString DiscoveryIpText(const uint8_t* record);
// The four version bytes as "a.b.c.d".
SString DiscoveryVersionText(const uint8_t* bytes);
// The identifier bytes converted to UTF-8; empty when they do not convert.
SString DiscoveryIdentifierText(const uint8_t* bytes, int count);
