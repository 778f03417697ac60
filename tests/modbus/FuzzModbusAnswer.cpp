// The answer side of the Modbus client under any input. Byte 0: the request (bits 0-2: ModbusRequest),
// a second attempt (bit 3), the RTU layout (bit 6), a time-out before the end of the stream (bit 7);
// byte 1: the piece sizes; byte 2: when the user stops (below 200: never); the rest: the unit's answer.
// ModbusAnswerFault names the first broken rule: the fuzzer aborts on it, modbus_tests runs it too.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include "channels/TalkChannel_TCP.h"
#include "modbus/Modbus.h"
#include "tests/support/RecordingOwner.h"

namespace {

// A channel without a socket (the socket calls it inherits are never made): Send only counts;
// Receive hands out the answer in pieces, then (when asked) one time-out, then end of stream.
struct MemoryChannel : TalkChannel_TCP {
    MemoryChannel(RecordingOwner* owner, const uint8_t* answer, size_t size, size_t piece, bool timeout)
        : TalkChannel_TCP(owner, ""), user(owner), answer(answer), size(size), piece(piece), timeout(timeout) {}
    bool Send(const void* data, int count) override
    {
        sends++;
        if (!data || count <= 0 || count > kModbusMaxFrame || user->stopped)
            fault = "a send of " + std::to_string(count);
        return true;
    }
    bool Receive(void* buffer, int count, int* received, bool* end) override
    {
        if (count <= 0 || user->stopped) fault = "a receive of " + std::to_string(count);
        *received = (int)std::min({(size_t)std::max(count, 0), size - at, piece});
        memcpy(buffer, answer + at, (size_t)*received);
        at += (size_t)*received;
        *end = *received == 0 && !timeout;
        timeout = timeout && *received > 0;
        return true;
    }
    RecordingOwner* user;
    const uint8_t* answer;
    size_t size, piece, at = 0;
    bool timeout;
    int sends = 0;
    std::string fault;   // a send or receive of no bytes, of too many, or after the stop
};

} // namespace

// Request number `request` to unit 1 (modbus_tests names them); source bytes count up from 0.
ModbusStatus ModbusRequest(TalkChannel* channel, int request, uint8_t* out, int attempts, bool rtu, bool quiet,
                           const ModbusTimeouts& timeouts)
{
    static const auto source = [] { std::vector<uint8_t> s(256); std::iota(s.begin(), s.end(), 0); return s; }();
    DevAddress device;
    device.unitId = 1;
    MODBUS_TalkInfo info;
    info.channel = channel;
    info.device = &device;
    info.frameMode = rtu ? kModbusFrameRtu : kModbusFrameTcp;
    info.attempts = attempts;
    info.quiet = quiet;
    info.timeouts = timeouts;
    switch (request) {
    case 0: return ModbusReadRegisters(info, kFnReadHoldingRegisters, 2, 2, out);
    case 1: return ModbusReadFileRecord(info, kFnReadFileRecord, 5, 0, 8, out);
    case 2: return ModbusWriteFileRecord(info, kFnWriteFileRecord, 3, 1, 8, source.data());
    case 3: return ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegReboot, 1, 0x1234, source.data());
    case 4: return ModbusGatewaySend(info, source.data(), 3);
    case 5: return ModbusReadFileRecord(info, kFnReadFileRecord, 10, 0, 64, out);
    case 6: return ModbusGatewayRead(info, out, 6);
    case 7: return ModbusWriteFileRecord(info, kFnWriteFileRecord, 3, 0, 120, source.data());   // the largest frame
    default: return ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegReboot, 121, 0x1234, source.data());
    }
}

std::string ModbusAnswerFault(const uint8_t* data, size_t size, ModbusResult* result)
{
    if (size < 3) return "";
    RecordingOwner owner;
    owner.stopAfterPolls = data[2] < 200 ? -1 : data[2] - 200;
    MemoryChannel channel(&owner, data + 3, size - 3, 1 + data[1] % 64, data[0] & 0x80);
    const int attempts = 1 + (data[0] >> 3 & 1);
    uint8_t out[128];
    ModbusStatus st = ModbusRequest(&channel, data[0] & 7, out, attempts, data[0] & 0x40, false, {0, 0, 0, 0});
    if (result) *result = st.result;
    if (st.result == 1 || st.result > kModbusStopped || (st.result == kModbusException) != (st.exception > 0) ||
        st.exception < -1 || st.exception > 255)
        return "result " + std::to_string(st.result) + ", exception " + std::to_string(st.exception);
    if (channel.sends > attempts || (channel.sends == 0 && !owner.stopped))
        return std::to_string(channel.sends) + " sends";
    return channel.fault;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ModbusAnswerFault(data, size, nullptr).empty()) abort();
    return 0;
}
