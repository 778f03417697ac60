// libFuzzer entry for the request side of the simulator: the input is what one client sends
// on a TCP connection. Frames are cut out of it as the connection does and handled against a
// fresh unit with one request context, so a gateway send followed by a read, or an image
// upload followed by the reboot it asks for, is reachable. Every answer is checked for what a
// client relies on; a violation aborts so libFuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sim/ByteOrder.h"
#include "sim/Faults.h"
#include "sim/MbapFrame.h"
#include "sim/RequestHandler.h"
#include "sim/Unit.h"

namespace {

// Far more frames than any sequence the unit remembers needs; the bound keeps a run short
// whatever -max_len is given.
const int kMaxFramesPerInput = 256;

void Fail(const char* what, const uint8_t* frame, size_t frameSize, const uint8_t* answer, size_t answerSize) {
    fprintf(stderr, "invariant broken: %s\nrequest:", what);
    for (size_t i = 0; i < frameSize; ++i) fprintf(stderr, " %02X", frame[i]);
    fprintf(stderr, "\nanswer: ");
    for (size_t i = 0; i < answerSize && i < kMaxAduSize; ++i) fprintf(stderr, " %02X", answer[i]);
    fprintf(stderr, "\n");
    abort();
}

void CheckAnswer(const uint8_t* frame, size_t frameSize, const uint8_t* answer, const RequestOutcome& outcome) {
    size_t n = outcome.answerSize;
#define CHECK(cond) \
    if (!(cond)) Fail(#cond, frame, frameSize, answer, n)
    // No fault is configured, so every complete frame is answered, normally or as an exception.
    CHECK(n <= kMaxAduSize);
    CHECK(n >= kMbapHeaderSize + 2);
    CHECK(GetBe16(answer) == GetBe16(frame));           // transaction
    CHECK(GetBe16(answer + 2) == 0);                    // protocol
    CHECK(GetBe16(answer + 4) == n - 6);                // length: unit and PDU
    CHECK(answer[6] == frame[6]);                       // unit
    uint8_t function = frame[kMbapHeaderSize];
    uint8_t answered = answer[kMbapHeaderSize];
    const uint8_t* request = frame + kMbapHeaderSize + 1;
    size_t requestSize = frameSize - kMbapHeaderSize - 1;
    const uint8_t* data = answer + kMbapHeaderSize + 1;
    size_t dataSize = n - kMbapHeaderSize - 1;
    if (answered == (uint8_t)(function | kExceptionBit)) {   // no function of the unit has bit 7 set
        CHECK(dataSize == 1);
        CHECK(data[0] != 0);
        CHECK(!outcome.reboot);
        return;
    }
    CHECK(answered == function);
    switch (function) {
    case 3:    // byte count, then the registers asked for
    case 20:   // response data length, then the sub-responses
        CHECK(data[0] == dataSize - 1);
        break;
    case 21:   // the request echoed
        CHECK(dataSize == requestSize && memcmp(data, request, requestSize) == 0);
        break;
    case 100:  // start and count echoed
        CHECK(dataSize == 4 && memcmp(data, request, 4) == 0);
        break;
    case 67:
        CHECK(dataSize == 2);
        break;
    case 65:
        CHECK(dataSize == kTamrinFrameSize);
        break;
    default:
        CHECK(!"an unknown function was answered without an exception");
    }
    CHECK(!outcome.reboot || function == 100);
#undef CHECK
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    UnitIdentity identity = {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 0x0A010203, false, {'P', 'e', 'l', 't', 'a', '1'}};
    const uint8_t version[4] = {1, 2, 0, 15};
    Unit unit(identity, version, kDefaultPassword);
    Faults faults{FaultConfig()};
    RequestHandler handler(unit, faults, nullptr, false);
    RequestContext context;
    context.localIp = 0x7F000001;
    uint8_t answer[kMaxAduSize];   // exactly the room the transports give

    size_t at = 0;
    for (int frames = 0; frames < kMaxFramesPerInput; ++frames) {
        size_t frameSize = 0;
        if (ScanFrame(input + at, size - at, &frameSize) != FrameScan::kComplete) break;
        if (frameSize < kMbapHeaderSize + 1 || frameSize > kMaxAduSize || frameSize > size - at) abort();
        // Handle works on the frame in place; a copy of exactly its size lets ASan see an over-read.
        uint8_t* frame = (uint8_t*)malloc(frameSize);
        memcpy(frame, input + at, frameSize);
        RequestOutcome outcome = handler.Handle(frame, frameSize, answer, context);
        CheckAnswer(frame, frameSize, answer, outcome);
        free(frame);
        at += frameSize;
        if (outcome.reboot) {
            // The server applies the staged images and drops every connection; the client
            // then comes back on a new one.
            std::lock_guard<std::mutex> lock(unit.Mutex());
            unit.Reboot();
            context = RequestContext();
            context.localIp = 0x7F000001;
        }
    }
    return 0;
}
