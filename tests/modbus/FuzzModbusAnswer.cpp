// libFuzzer entry for the answer side of the Modbus client: the first byte picks the request,
// the frame mode, the attempts and how the stream ends; the second the piece sizes; the rest
// is what the unit "answers". Destinations are read back so an over-read shows up under ASan.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include "modbus/Modbus.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/modbus/MemoryChannel.h"

namespace {
volatile uint32_t g_sink;

ModbusStatus Call(const MODBUS_TalkInfo& info, int request, uint8_t* out, const uint8_t* source)
{
    switch (request) {
    case 0: return ModbusReadRegisters(info, kFnReadHoldingRegisters, 2, 2, out);
    case 1: return ModbusReadFileRecord(info, kFnReadFileRecord, 1, 0, 8, out);
    case 2: return ModbusWriteFileRecord(info, kFnWriteFileRecord, 3, 1, 8, source);
    case 3: return ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegReboot, 1, 1, source);
    case 4: return ModbusGatewaySend(info, source, 3);
    case 5: return ModbusReadFileRecord(info, kFnReadFileRecord, 10, 0, 64, out);
    default: return ModbusGatewayRead(info, out, 6);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const uint8_t control = data[0];
    const size_t piece = 1 + data[1] % 64;
    RecordingOwner owner;
    MemoryChannel channel(&owner, [piece] { return piece; });
    channel.Load(data + 2, size - 2, (control & 0x80) != 0);
    DevAddress device;
    device.unitId = (control & 0x40) ? 1 : 0;
    MODBUS_TalkInfo info;
    info.channel = &channel;
    info.device = &device;
    info.frameMode = (control & 0x40) ? kModbusFrameRtu : kModbusFrameTcp;
    info.attempts = 1 + (control >> 3 & 1);
    info.timeouts.readWindowSec = 0;
    info.timeouts.pollWaitMs = 0;
    info.timeouts.retryWaitMs = 0;
    uint8_t out[128];
    uint8_t source[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    ModbusStatus st = Call(info, control & 7, out, source);
    uint32_t sum = (uint32_t)st.result + (uint32_t)st.exception;
    if (st.Ok())
        for (uint8_t b : out) sum += b;
    for (const LoggedLine& l : owner.Lines()) sum += (uint32_t)l.text.size();
    g_sink = g_sink + sum;
    return 0;
}
