// The six requests the tool sends to a unit, each a thin layer over ModbusTransact that
// describes its data as pieces and checks the answer's own fields.
#include <cstdlib>
#include <cstring>
#include "modbus/Modbus.h"

namespace {

void PutU16(uint8_t* at, uint16_t value)
{
    at[0] = (uint8_t)(value >> 8);
    at[1] = (uint8_t)(value & 0xFF);
}

uint16_t GetU16(const uint8_t* at)
{
    return (uint16_t)(at[0] << 8 | at[1]);
}

TalkChannelExtI* OwnerOf(const MODBUS_TalkInfo& info)
{
    return info.channel->Owner();
}

// Modbus Application Protocol V1.1b3, 0x14/0x15 sub-request: reference type, file, record, length.
void PutFileSubRequest(uint8_t* at, uint16_t file, uint16_t record, uint16_t length)
{
    at[0] = kFileRecordReferenceType;
    PutU16(at + 1, file);
    PutU16(at + 3, record);
    PutU16(at + 5, length);
}

} // namespace

ModbusStatus ModbusReadRegisters(const MODBUS_TalkInfo& info, uint8_t function, uint16_t start,
                                 uint16_t count, void* destination)
{
    MODBUS_TalkHead head(info);
    uint8_t request[4];
    PutU16(request, start);
    PutU16(request + 2, count);
    uint8_t byteCount = 0;
    const ModbusDataPiece ask[] = {{request, sizeof request}};
    const ModbusDataPiece answer[] = {{&byteCount, 1}, {destination, count * 2}};
    ModbusStatus status = ModbusTransact(head, function, ask, 1, answer, 2);
    if (status.result == kModbusOk)
        ModbusCheckValue(OwnerOf(info), "Wrong device data length", count * 2u, byteCount, status.result);
    return status;
}

ModbusStatus ModbusWriteRegistersKeyed(const MODBUS_TalkInfo& info, uint8_t function, uint16_t start,
                                       uint16_t count, uint16_t password, const void* source)
{
    MODBUS_TalkHead head(info);
    uint8_t request[7];
    PutU16(request, start);
    PutU16(request + 2, count);
    request[4] = (uint8_t)(count * 2);
    PutU16(request + 5, password);
    uint8_t echo[4] = {0, 0, 0, 0};
    const ModbusDataPiece ask[] = {{request, sizeof request}, {const_cast<void*>(source), count * 2}};
    const ModbusDataPiece answer[] = {{echo, sizeof echo}};
    ModbusStatus status = ModbusTransact(head, function, ask, 2, answer, 1);
    if (status.result == kModbusOk) {
        ModbusCheckValue(OwnerOf(info), "Wrong registers start address", start, GetU16(echo), status.result);
        ModbusCheckValue(OwnerOf(info), "Wrong registers count", count, GetU16(echo + 2), status.result);
    }
    return status;
}

ModbusStatus ModbusReadFileRecord(const MODBUS_TalkInfo& info, uint8_t function, uint16_t file,
                                  uint16_t record, uint16_t length, void* destination)
{
    MODBUS_TalkHead head(info);
    uint8_t request[8];
    request[0] = 7;
    PutFileSubRequest(request + 1, file, record, length);
    // Response data length, sub-response length, reference type.
    uint8_t lengths[3] = {0, 0, 0};
    const ModbusDataPiece ask[] = {{request, sizeof request}};
    const ModbusDataPiece answer[] = {{lengths, sizeof lengths}, {destination, length * 2}};
    ModbusStatus status = ModbusTransact(head, function, ask, 1, answer, 2);
    if (status.result == kModbusOk) {
        TalkChannelExtI* owner = OwnerOf(info);
        ModbusCheckValue(owner, "Wrong device data length", length * 2u + 2, lengths[0], status.result);
        ModbusCheckValue(owner, "Wrong device record length", length * 2u + 1, lengths[1], status.result);
        ModbusCheckValue(owner, "Wrong reference type", kFileRecordReferenceType, lengths[2], status.result);
    }
    return status;
}

ModbusStatus ModbusWriteFileRecord(const MODBUS_TalkInfo& info, uint8_t function, uint16_t file,
                                   uint16_t record, uint16_t length, const void* source)
{
    const int dataBytes = length * 2;
    const int echoSize = dataBytes + 8;
    uint8_t* echo = static_cast<uint8_t*>(malloc((size_t)echoSize));
    if (!echo) {
        TalkChannelExtI* owner = OwnerOf(info);
        owner->LogMessage(owner->MessageText("ASSERT no mem"), kStyleError, LogModeLine);
        return {kModbusStopped, -1};
    }
    MODBUS_TalkHead head(info);
    uint8_t request[8];
    request[0] = (uint8_t)(dataBytes + 7);
    PutFileSubRequest(request + 1, file, record, length);
    const ModbusDataPiece ask[] = {{request, sizeof request}, {const_cast<void*>(source), dataBytes}};
    const ModbusDataPiece answer[] = {{echo, echoSize}};
    ModbusStatus status = ModbusTransact(head, function, ask, 2, answer, 1);
    if (status.result == kModbusOk &&
        (memcmp(echo, request, sizeof request) != 0 ||
         (dataBytes > 0 && memcmp(echo + sizeof request, source, (size_t)dataBytes) != 0))) {
        TalkChannelExtI* owner = OwnerOf(info);
        owner->LogMessage(owner->MessageText("Answer not equal request"), kStyleError, LogModeLine);
    }
    free(echo);
    return status;
}

ModbusStatus ModbusGatewaySend(const MODBUS_TalkInfo& info, const void* data, uint16_t size)
{
    MODBUS_TalkHead head(info);
    uint8_t ignored[2];
    const ModbusDataPiece ask[] = {{const_cast<void*>(data), size}};
    const ModbusDataPiece answer[] = {{ignored, sizeof ignored}};
    return ModbusTransact(head, kFnGatewaySend, ask, 1, answer, 1);
}

ModbusStatus ModbusGatewayRead(const MODBUS_TalkInfo& info, void* destination, uint16_t size)
{
    MODBUS_TalkHead head(info);
    const ModbusDataPiece answer[] = {{destination, size}};
    return ModbusTransact(head, kFnGatewayRead, nullptr, 0, answer, 1);
}
