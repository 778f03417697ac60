#include "sim/MbapFrame.h"

#include "sim/ByteOrder.h"

namespace {
const uint16_t kModbusProtocol = 0;
const uint16_t kMinLength = 2;   // unit identifier and function code
}  // namespace

FrameScan ScanFrame(const uint8_t* data, size_t available, size_t* frameSize) {
    // Protocol and length are known after 6 bytes; reject early so a stray stream never waits.
    if (available >= 4 && GetBe16(data + 2) != kModbusProtocol) return FrameScan::kMalformed;
    if (available < 6) return FrameScan::kNeedMore;
    uint16_t length = GetBe16(data + 4);
    if (length < kMinLength || length > kMaxPduSize + 1) return FrameScan::kMalformed;
    size_t size = 6 + (size_t)length;
    if (available < size) return FrameScan::kNeedMore;
    *frameSize = size;
    return FrameScan::kComplete;
}

MbapHeader ReadMbap(const uint8_t* frame) {
    return MbapHeader{GetBe16(frame), GetBe16(frame + 2), GetBe16(frame + 4), frame[6]};
}

void WriteMbap(uint8_t* out, const MbapHeader& request, size_t pduSize) {
    PutBe16(out, request.transaction);
    PutBe16(out + 2, request.protocol);
    PutBe16(out + 4, (uint16_t)(pduSize + 1));
    out[6] = request.unit;
}
