// A Modbus client for the tests: a TCP channel to host:port, unit 1's address, and a
// descriptor with time-outs short enough for failure cases (the read window counts whole
// seconds, so 3 leaves a slow peer on a loaded machine at least 2 s).
#pragma once
#include <string>
#include "channels/TalkChannel_TCP.h"
#include "modbus/Modbus.h"
#include "tests/support/RecordingOwner.h"

struct ModbusClient {
    explicit ModbusClient(int socketTimeoutMs = 200) : channel(&owner, "", socketTimeoutMs)
    {
        info.channel = &channel;
        info.device = &device;
        device.unitId = 1;
        info.timeouts = {3, 10, 0, 10};
    }
    ~ModbusClient() { channel.Close(); }
    // Opens and connects; the log starts empty afterwards.
    bool Connect(const std::string& hostPort)
    {
        bool ok = channel.Open() && channel.Connect(hostPort.c_str());
        owner.Clear();
        return ok;
    }
    RecordingOwner owner;
    TalkChannel_TCP channel;
    DevAddress device;
    MODBUS_TalkInfo info;
};
