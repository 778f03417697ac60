#include "modbus/ModbusFrame.h"
#include <cstring>
#include "base/Crc.h"

int ModbusDataLength(const ModbusDataPiece* pieces, int count)
{
    int total = 0;
    for (int i = 0; pieces && i < count; i++)
        if (pieces[i].data && pieces[i].length > 0) total += pieces[i].length;
    return total;
}

int ModbusFrameSize(const MODBUS_TalkInfo& head, int dataLength)
{
    return dataLength + (head.frameMode == kModbusFrameRtu ? kRtuFrameOverhead : kTcpFrameOverhead);
}

static int CopyPieces(const ModbusDataPiece* pieces, int count, uint8_t* out)
{
    int at = 0;
    for (int i = 0; pieces && i < count; i++) {
        if (!pieces[i].data || pieces[i].length <= 0) continue;
        memcpy(out + at, pieces[i].data, (size_t)pieces[i].length);
        at += pieces[i].length;
    }
    return at;
}

int ModbusBuildFrame(const MODBUS_TalkInfo& head, uint8_t function, const ModbusDataPiece* pieces,
                     int count, uint8_t* frame)
{
    const uint8_t unit = head.device ? (uint8_t)head.device->unitId : 0;
    if (head.frameMode == kModbusFrameRtu) {
        frame[0] = unit;
        frame[1] = function;
        int size = 2 + CopyPieces(pieces, count, frame + 2);
        uint16_t crc = Crc16Modbus(frame, (uint8_t)size, 0xFFFF);
        frame[size++] = (uint8_t)(crc & 0xFF);
        frame[size++] = (uint8_t)(crc >> 8);
        return size;
    }
    // Modbus Messaging on TCP/IP Implementation Guide V1.0b: the length field counts the
    // unit id, the function code and the data.
    int data = CopyPieces(pieces, count, frame + kTcpFrameOverhead);
    uint16_t length = (uint16_t)(data + 2);
    frame[0] = (uint8_t)(head.transactionId >> 8);
    frame[1] = (uint8_t)(head.transactionId & 0xFF);
    frame[2] = 0;
    frame[3] = 0;
    frame[4] = (uint8_t)(length >> 8);
    frame[5] = (uint8_t)(length & 0xFF);
    frame[6] = unit;
    frame[7] = function;
    return data + kTcpFrameOverhead;
}
