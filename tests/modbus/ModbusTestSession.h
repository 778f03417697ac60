// A Modbus conversation with a scripted loopback peer: channel, unit address and descriptor
// with shortened time-outs, plus the frame builders the scripts use.
#pragma once
#include <algorithm>
#include <gtest/gtest.h>
#include "channels/TalkChannel_TCP.h"
#include "modbus/Modbus.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/channels/ScriptedPeer.h"

// Socket time-out and transaction time-outs that keep each failure case short. The read
// window counts whole seconds, so 3 leaves a slow peer on a loaded machine at least 2 s;
// cases that expect a time-out use kSilenceWindowSec.
const int kTestSocketTimeoutMs = 200;
const int kSilenceWindowSec = 1;
inline ModbusTimeouts FastTimeouts()
{
    ModbusTimeouts t;
    t.readWindowSec = 3;
    t.pollWaitMs = 10;
    t.drainQuietSec = 0;
    t.retryWaitMs = 10;
    return t;
}

// Modbus TCP frame: MBAP header (length = data + 2), unit, function, data.
inline Bytes Mbap(uint16_t tid, uint8_t unit, uint8_t function, const Bytes& data)
{
    Bytes f(8 + data.size());
    const size_t length = data.size() + 2;
    const uint8_t head[8] = {(uint8_t)(tid >> 8), (uint8_t)tid, 0, 0, (uint8_t)(length >> 8), (uint8_t)length,
                             unit, function};
    std::copy(head, head + 8, f.begin());
    std::copy(data.begin(), data.end(), f.begin() + 8);
    return f;
}
inline Bytes Frame(uint8_t function, const Bytes& data)
{
    return Mbap(kModbusTransactionId, 0, function, data);
}

// CRC-16/MODBUS, bit by bit (kept apart from the library's table version), low byte first.
inline Bytes WithCrc(Bytes frame)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : frame) {
        crc ^= b;
        for (int i = 0; i < 8; i++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
    }
    frame.push_back((uint8_t)(crc & 0xFF));
    frame.push_back((uint8_t)(crc >> 8));
    return frame;
}

struct ModbusSession {
    explicit ModbusSession(std::vector<ScriptedPeer::Script> scripts, int socketTimeoutMs = kTestSocketTimeoutMs)
        : peer(std::move(scripts)), channel(&owner, "", socketTimeoutMs)
    {
        info.channel = &channel;
        info.device = &device;
        info.attempts = 1;
        info.timeouts = FastTimeouts();
    }
    // Opens and connects; the log starts empty afterwards.
    bool Start()
    {
        if (!peer.Start() || !channel.Open() || !channel.Connect(peer.HostPort().c_str())) return false;
        owner.Clear();
        return true;
    }
    // Closes the channel and returns the peer's complaints (missing or unexpected bytes).
    std::vector<std::string> Finish()
    {
        channel.Close();
        peer.Finish();
        return peer.Problems();
    }

    RecordingOwner owner;
    ScriptedPeer peer;
    TalkChannel_TCP channel;
    DevAddress device;
    MODBUS_TalkInfo info;
};
