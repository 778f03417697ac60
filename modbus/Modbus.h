// Modbus client: one request/response exchange over a TalkChannel with every header check,
// time-out, drain and retry, and the six requests the tool sends to the unit.
#pragma once
#include <cstdint>
#include "base/SString.h"
#include "channels/TalkChannel.h"

// Where a session's requests go: the host text as typed (host[:port]) and the Modbus unit id.
struct DevAddress {
    SString host;
    int32_t unitId = 0;
};

enum ModbusFrameMode { kModbusFrameTcp = 0, kModbusFrameRtu = 1 };

enum ModbusResult {
    kModbusOk = 0,
    kModbusSendFailed = 2,
    kModbusReceiveFailed = 3,
    kModbusWrongAnswer = 4,
    kModbusException = 5,
    kModbusTimeout = 6,
    kModbusEof = 7,
    kModbusStopped = 8,
};

// Result of a transaction: the code and the device's exception code
// (-1 no function code received, 0 normal answer, else the exception).
struct ModbusStatus {
    ModbusResult result;
    int exception;
    bool Ok() const { return result == kModbusOk; }
};

const uint16_t kModbusTransactionId = 123;
const int kModbusSessionAttempts = 3;
const int kModbusMaxFrame = 256;
// The drain reads a garbled answer's remainder in chunks of this size, and gives up after
// this many bytes so that a peer that never stops sending cannot hold the worker.
const int kModbusDrainChunk = 64;
const long kModbusDrainLimit = 1L << 20;
// Reference type of every file record sub-request (Modbus Application Protocol, 0x14/0x15).
const uint8_t kFileRecordReferenceType = 6;

// Time-outs of the transaction layer; tests may shorten them.
struct ModbusTimeouts {
    int readWindowSec = 6;     // give up on an answer after this many whole seconds of silence
    int pollWaitMs = 50;       // wait between empty receives
    int drainQuietSec = 3;     // drain ends after this long without a byte
    int retryWaitMs = 500;     // pause before a retry
};

class MODBUS_TalkInfo {
public:
    virtual ~MODBUS_TalkInfo() = default;
    TalkChannel* channel = nullptr;
    const DevAddress* device = nullptr;
    int32_t frameMode = kModbusFrameTcp;
    int32_t attempts = 1;
    bool quiet = false;
    uint16_t transactionId = kModbusTransactionId;
    ModbusTimeouts timeouts;
};

class MODBUS_TalkHead : public MODBUS_TalkInfo {
public:
    explicit MODBUS_TalkHead(const MODBUS_TalkInfo& info) : MODBUS_TalkInfo(info) {}
    int32_t received = 0;
};

struct ModbusDataPiece {
    void* data;
    int32_t length;
};

ModbusStatus ModbusTransact(MODBUS_TalkHead& head, uint8_t function, const ModbusDataPiece* request,
                            int requestCount, const ModbusDataPiece* answer, int answerCount);
// When result is 0 and want != read: logs "<label> (want '0x..'; read '0x..')" and sets result to 4.
void ModbusCheckValue(TalkChannelExtI* owner, const char* label, uint32_t want, uint32_t read,
                      ModbusResult& result);
// Name of a device exception code ("" outside 1..11).
const char* ModbusExceptionName(int code);

ModbusStatus ModbusReadRegisters(const MODBUS_TalkInfo& info, uint8_t function, uint16_t start,
                                 uint16_t count, void* destination);
ModbusStatus ModbusWriteRegistersKeyed(const MODBUS_TalkInfo& info, uint8_t function, uint16_t start,
                                       uint16_t count, uint16_t password, const void* source);
ModbusStatus ModbusReadFileRecord(const MODBUS_TalkInfo& info, uint8_t function, uint16_t file,
                                  uint16_t record, uint16_t length, void* destination);
ModbusStatus ModbusWriteFileRecord(const MODBUS_TalkInfo& info, uint8_t function, uint16_t file,
                                   uint16_t record, uint16_t length, const void* source);
ModbusStatus ModbusGatewaySend(const MODBUS_TalkInfo& info, const void* data, uint16_t size);
ModbusStatus ModbusGatewayRead(const MODBUS_TalkInfo& info, void* destination, uint16_t size);

// Function codes and registers of the unit.
const uint8_t kFnReadHoldingRegisters = 3;
const uint8_t kFnReadFileRecord = 20;
const uint8_t kFnWriteFileRecord = 21;
const uint8_t kFnWriteRegistersKeyed = 100;
const uint8_t kFnGatewaySend = 67;
const uint8_t kFnGatewayRead = 65;
const uint16_t kRegVersion = 2;
const uint16_t kRegPassword = 2;
const uint16_t kRegReboot = 14;
