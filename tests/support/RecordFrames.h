// Modbus TCP frames with the tool's transaction identifier; the file-record ones (unit 0, one
// sub-request of reference type 6) as scripted peers expect and answer them.
#pragma once
#include "modbus/Modbus.h"
#include "tests/support/ScriptedPeer.h"

inline Bytes RecordFrame(uint8_t function, const Bytes& data, uint8_t unit = 0)
{
    return Concat({{0, (uint8_t)kModbusTransactionId, 0, 0, 0, (uint8_t)(data.size() + 2), unit, function}, data});
}

// A read of `registers` registers of (file, rec) from the first register.
inline Bytes RecordRead(uint16_t file, uint16_t rec, uint8_t registers)
{
    return RecordFrame(20, {7, 6, (uint8_t)(file >> 8), (uint8_t)file, (uint8_t)(rec >> 8), (uint8_t)rec, 0, registers});
}

// The answer to a read, carrying these register bytes.
inline Bytes RecordAnswer(const Bytes& r)
{
    return RecordFrame(20, Concat({{(uint8_t)(r.size() + 2), (uint8_t)(r.size() + 1), 6}, r}));
}

// A write of these register bytes to (file, rec) from the first register, and its echo.
inline Bytes RecordWrite(uint16_t file, uint16_t rec, const Bytes& r)
{
    const uint8_t head[] = {(uint8_t)(r.size() + 7), 6, (uint8_t)(file >> 8), (uint8_t)file, (uint8_t)(rec >> 8),
                            (uint8_t)rec, 0, (uint8_t)(r.size() / 2)};
    return RecordFrame(21, Concat({Bytes(head, head + sizeof head), r}));
}
