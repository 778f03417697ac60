// What one client sends on a connection, cut into frames and handled against one unit and request
// context (so an upload and its reboot are reachable); a broken promise to the client aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "sim/ByteOrder.h"
#include "sim/Faults.h"
#include "sim/MbapFrame.h"
#include "sim/RequestHandler.h"
#include "sim/Unit.h"

namespace {

// Far more frames than any sequence the unit remembers; keeps a run short whatever -max_len is.
const int kMaxFramesPerInput = 256;

#define CHECK(cond) \
    if (!(cond)) fprintf(stderr, "invariant broken: %s\n", #cond), abort()

void CheckAnswer(const std::vector<uint8_t>& frame, const uint8_t* answer, const RequestOutcome& outcome) {
    size_t n = outcome.answerSize;
    // No fault is configured, so every complete frame is answered, normally or as an exception.
    CHECK(n <= kMaxAduSize && n >= kMbapHeaderSize + 2);
    CHECK(GetBe16(answer) == GetBe16(frame.data()) && GetBe16(answer + 2) == 0 && GetBe16(answer + 4) == n - 6);
    CHECK(answer[6] == frame[6]);
    uint8_t function = frame[kMbapHeaderSize], answered = answer[kMbapHeaderSize];
    const uint8_t* request = frame.data() + kMbapHeaderSize + 1;
    size_t requestSize = frame.size() - kMbapHeaderSize - 1;
    const uint8_t* data = answer + kMbapHeaderSize + 1;
    size_t dataSize = n - kMbapHeaderSize - 1;
    if (answered == (uint8_t)(function | kExceptionBit)) {   // no function of the unit has bit 7 set
        CHECK(dataSize == 1 && data[0] != 0 && !outcome.reboot);
        return;
    }
    CHECK(answered == function);
    CHECK(!outcome.reboot || function == 100);
    // 3 and 20: a byte count, then the data; 21: the request echoed; 100: start and count echoed.
    CHECK((function != 3 && function != 20) || data[0] == dataSize - 1);
    CHECK(function != 21 || (dataSize == requestSize && memcmp(data, request, requestSize) == 0));
    CHECK(function != 100 || (dataSize == 4 && memcmp(data, request, 4) == 0));
    CHECK(function != 67 || dataSize == 2);
    CHECK(function != 65 || dataSize == kTamrinFrameSize);
    CHECK(function == 3 || function == 20 || function == 21 || function == 100 || function == 67 || function == 65);
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
    size_t at = 0, frameSize = 0;
    for (int frames = 0; frames < kMaxFramesPerInput; ++frames, at += frameSize) {
        if (ScanFrame(input + at, size - at, &frameSize) != FrameScan::kComplete) break;
        CHECK(frameSize >= kMbapHeaderSize + 1 && frameSize <= kMaxAduSize && frameSize <= size - at);
        // Handle works on the frame in place; a copy of exactly its size lets ASan see an over-read.
        std::vector<uint8_t> frame(input + at, input + at + frameSize);
        RequestOutcome outcome = handler.Handle(frame.data(), frameSize, answer, context);
        CheckAnswer(frame, answer, outcome);
        if (outcome.reboot) {
            // The server applies the staged images and drops every connection; the client comes back.
            std::lock_guard<std::mutex> lock(unit.Mutex());
            unit.Reboot();
            context = RequestContext();
            context.localIp = 0x7F000001;
        }
    }
    return 0;
}
