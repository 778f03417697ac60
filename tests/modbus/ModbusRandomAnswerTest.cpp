// Seeded random answers through an in-memory channel: valid frames with one field mutated,
// cut short, padded, or plain noise, handed over in random piece sizes. Every request must
// end with a known result, log only known messages, and (under the sanitizers) touch no
// memory outside its buffers.
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include "modbus/Modbus.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/modbus/MemoryChannel.h"
#include "tests/modbus/ModbusTestSession.h"

namespace {

const int kSeeds = 20000;

// A correct answer to each request, which the generator then damages.
struct Shape {
    uint8_t function;
    Bytes pdu;   // after the function code
};

const Shape kShapes[] = {
    {kFnReadHoldingRegisters, Hex("04 01 02 03 04")},
    {kFnReadFileRecord, Concat({Hex("12 11 06"), Bytes(16, 0x5A)})},
    {kFnWriteFileRecord, Concat({Hex("17 06 00 03 00 01 00 08"), Bytes(16, 0x33)})},
    {kFnWriteRegistersKeyed, Hex("00 0E 00 01")},
    {kFnGatewaySend, Hex("00 00")},
    {kFnGatewayRead, Hex("55 01 02 03 04 5F")},
};

ModbusStatus Call(const MODBUS_TalkInfo& info, int shape, uint8_t* out)
{
    static const Bytes kRecord(16, 0x33);
    static const uint8_t kOne[2] = {0, 1};
    switch (shape) {
    case 0: return ModbusReadRegisters(info, kFnReadHoldingRegisters, 2, 2, out);
    case 1: return ModbusReadFileRecord(info, kFnReadFileRecord, 5, 0, 8, out);
    case 2: return ModbusWriteFileRecord(info, kFnWriteFileRecord, 3, 1, 8, kRecord.data());
    case 3: return ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegReboot, 1, 1, kOne);
    case 4: return ModbusGatewaySend(info, kOne, 2);
    default: return ModbusGatewayRead(info, out, 6);
    }
}

Bytes RandomAnswer(std::mt19937& rng, const Shape& shape)
{
    Bytes frame = Frame(shape.function, shape.pdu);
    switch (rng() % 6) {
    case 0: break;                                                // as it should be
    case 1: frame[rng() % frame.size()] ^= (uint8_t)(1 + rng() % 255); break;   // one byte wrong
    case 2: frame.resize(rng() % frame.size()); break;           // cut short
    case 3: frame.resize(frame.size() + rng() % 300, (uint8_t)rng()); break;   // longer
    case 4: frame[7] |= 0x80; frame.resize(9); break;            // an exception
    default: frame.resize(rng() % 300); for (uint8_t& b : frame) b = (uint8_t)rng(); break;   // noise
    }
    return frame;
}

// Message forms the client may log (their variable parts cut off).
bool KnownLine(const std::string& text)
{
    static const char* kForms[] = {
        "Wrong transaction identifier (want", "Wrong protocol identifier (want", "Wrong unit identifier (want",
        "Wrong function code '", "Device answer exception '", "Wrong device data length (want",
        "Wrong device record length (want", "Wrong reference type (want", "Wrong registers start address (want",
        "Wrong registers count (want", "Answer not equal request", "Reading the remainder from channel", "Retry",
        "No data (timeout). Check device connection.", "Data incomplete (timeout)",
        "No data (EOF). Check device connection.", "Data incomplete (EOF)"};
    for (const char* form : kForms)
        if (text.compare(0, strlen(form), form) == 0) return true;
    return false;
}

TEST(ModbusRandomAnswers, EndWithAKnownResultAndKnownLines)
{
    int outcomes[9] = {};
    for (int seed = 0; seed < kSeeds; seed++) {
        std::mt19937 rng(seed);
        RecordingOwner owner;
        MemoryChannel channel(&owner, [&rng] { return (size_t)(1 + rng() % 40); });
        DevAddress device;
        MODBUS_TalkInfo info;
        info.channel = &channel;
        info.device = &device;
        info.attempts = 1 + (int)(rng() % 3);
        info.timeouts.readWindowSec = 0;
        info.timeouts.pollWaitMs = 0;
        info.timeouts.retryWaitMs = 0;
        const int shape = (int)(rng() % 6);
        const Bytes answer = RandomAnswer(rng, kShapes[shape]);
        channel.Load(answer.data(), answer.size(), rng() % 2 == 0);

        uint8_t out[64];
        memset(out, 0, sizeof out);
        ModbusStatus st = Call(info, shape, out);
        ASSERT_TRUE(st.result == 0 || (st.result >= 2 && st.result <= 8)) << "seed " << seed;
        ASSERT_GE(st.exception, -1) << "seed " << seed;
        ASSERT_LE(st.exception, 255) << "seed " << seed;
        ASSERT_EQ(st.result == kModbusException, st.exception > 0) << "seed " << seed;
        ASSERT_GE(channel.sends, 1) << "seed " << seed;
        ASSERT_LE(channel.sends, info.attempts) << "seed " << seed;
        ASSERT_LE(channel.largestSend, kModbusMaxFrame) << "seed " << seed;
        ASSERT_GT(channel.largestSend, 0) << "seed " << seed;
        ASSERT_EQ(channel.badReceives, 0) << "seed " << seed;
        for (const LoggedLine& l : owner.Lines()) ASSERT_TRUE(KnownLine(l.text)) << "seed " << seed << ": " << l.text;
        outcomes[st.result]++;
    }
    // The generator reaches success, wrong answers, exceptions, time-outs and end of stream.
    for (ModbusResult r : {kModbusOk, kModbusWrongAnswer, kModbusException, kModbusTimeout, kModbusEof})
        EXPECT_GT(outcomes[r], 0) << "result " << r;
}

} // namespace
