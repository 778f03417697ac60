// Server side of the Modbus TCP framing (Modbus Messaging on TCP/IP Implementation Guide
// V1.0b): the 7-byte MBAP header in front of every request and answer PDU.
#pragma once
#include <cstddef>
#include <cstdint>

const size_t kMbapHeaderSize = 7;
const size_t kMaxPduSize = 253;
const size_t kMaxAduSize = kMbapHeaderSize + kMaxPduSize;   // 260
const uint8_t kExceptionBit = 0x80;

// Modbus exception codes the unit answers with.
enum ModbusExceptionCode : uint8_t {
    kExIllegalFunction = 1,
    kExIllegalDataAddress = 2,
    kExIllegalDataValue = 3,
    kExDeviceFailure = 4,
    kExGatewayTargetFailed = 11,
};

struct MbapHeader {
    uint16_t transaction;
    uint16_t protocol;
    uint16_t length;   // unit identifier + PDU
    uint8_t unit;
};

enum class FrameScan { kNeedMore, kComplete, kMalformed };

// Looks at the start of a byte stream. kComplete sets *frameSize to the whole frame's size;
// kMalformed means the stream cannot be resynchronised (wrong protocol or impossible length).
FrameScan ScanFrame(const uint8_t* data, size_t available, size_t* frameSize);
MbapHeader ReadMbap(const uint8_t* frame);
// Writes the header of an answer whose PDU (pduSize bytes) already sits at out + 7.
void WriteMbap(uint8_t* out, const MbapHeader& request, size_t pduSize);
