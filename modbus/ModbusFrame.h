// Request frames of the Modbus client: the Modbus TCP (MBAP) and the RTU-style layouts.
#pragma once
#include <cstdint>
#include "modbus/Modbus.h"

// MBAP header: transaction id, protocol id, length, unit id.
const int kMbapHeaderSize = 7;
// Bytes a frame adds to its data (unit id and function code included in the data count):
// MBAP without the unit id; unit id + function + CRC in RTU style.
const int kTcpFrameOverhead = 8;
const int kRtuFrameOverhead = 4;

// Sum of the lengths of the pieces that have a pointer and a non-zero length.
int ModbusDataLength(const ModbusDataPiece* pieces, int count);
// Frame size for the given data length in the head's frame mode.
int ModbusFrameSize(const MODBUS_TalkInfo& head, int dataLength);
// Writes the whole frame into frame (at least ModbusFrameSize bytes) and returns its size.
int ModbusBuildFrame(const MODBUS_TalkInfo& head, uint8_t function, const ModbusDataPiece* pieces,
                     int count, uint8_t* frame);
