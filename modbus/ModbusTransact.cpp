// One Modbus request/response exchange: send, read the answer in exact pieces with time-outs,
// check the header fields in a fixed order, drain a garbled answer and repeat.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>
#include "base/Crc.h"
#include "modbus/Modbus.h"
#include "modbus/ModbusFrame.h"

namespace {

struct CodeName {
    int code;
    const char* name;
};

// Exception codes of the Modbus Application Protocol V1.1b3 (7 and 9 carry no name here).
const CodeName kExceptionNames[] = {
    {1, "ILLEGAL FUNCTION"},
    {2, "ILLEGAL DATA ADDRESS"},
    {3, "ILLEGAL DATA VALUE"},
    {4, "SLAVE DEVICE FAILURE"},
    {5, "ACKNOWLEDGE"},
    {6, "SLAVE DEVICE BUSY"},
    {8, "MEMORY PARITY ERROR"},
    {10, "GATEWAY PATH UNAVAILABLE"},
    {11, "GATEWAY TARGET DEVICE FAILED TO RESPOND"},
};

TalkChannelExtI* OwnerOf(const MODBUS_TalkHead& head)
{
    return head.channel->Owner();
}

void LogLine(TalkChannelExtI* owner, const char* msgid, int style)
{
    owner->LogMessage(owner->MessageText(msgid), style, LogModeLine);
}

void Wait(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ModbusResult ModbusSend(MODBUS_TalkHead& head, uint8_t function, const ModbusDataPiece* pieces, int count)
{
    TalkChannelExtI* owner = OwnerOf(head);
    int size = ModbusFrameSize(head, ModbusDataLength(pieces, count));
    if (size > kModbusMaxFrame) {
        LogLine(owner, "Send data too big", kStyleError);
        return kModbusStopped;
    }
    uint8_t frame[kModbusMaxFrame];
    ModbusBuildFrame(head, function, pieces, count, frame);
    if (!owner->IsRunning()) return kModbusStopped;
    return head.channel->Send(frame, size) ? kModbusOk : kModbusSendFailed;
}

// Reads exactly length bytes, polling the stop flag and giving up after the read window.
ModbusResult ModbusReadFull(MODBUS_TalkHead& head, uint8_t* buffer, int length)
{
    TalkChannelExtI* owner = OwnerOf(head);
    const time_t start = time(nullptr);
    int done = 0;
    while (done < length) {
        if (!owner->IsRunning()) return kModbusStopped;
        int got = 0;
        bool end = false;
        if (!head.channel->Receive(buffer + done, length - done, &got, &end)) return kModbusReceiveFailed;
        head.received += got;
        if (got > 0) {
            done += got;
            continue;
        }
        if (end) {
            if (!head.quiet)
                LogLine(owner, head.received == 0 ? "No data (EOF). Check device connection." : "Data incomplete (EOF)",
                        kStyleError);
            return kModbusEof;
        }
        if (time(nullptr) - start < head.timeouts.readWindowSec) {
            if (!owner->IsRunning()) return kModbusStopped;
            Wait(head.timeouts.pollWaitMs);
            continue;
        }
        if (!head.quiet)
            LogLine(owner,
                    head.received == 0 ? "No data (timeout). Check device connection." : "Data incomplete (timeout)",
                    kStyleError);
        return kModbusTimeout;
    }
    return kModbusOk;
}

// Reads bytes and adds them to the running CRC when the frame mode has one.
ModbusResult ReadChecked(MODBUS_TalkHead& head, uint8_t* buffer, int length, uint16_t* crc)
{
    ModbusResult result = ModbusReadFull(head, buffer, length);
    if (result == kModbusOk && head.frameMode == kModbusFrameRtu)
        for (int i = 0; i < length; i++) Crc16ModbusStep(crc, buffer[i]);
    return result;
}

// Discards what is left of a garbled answer until the peer falls silent, closes or fails.
void DrainChannel(MODBUS_TalkHead& head)
{
    TalkChannelExtI* owner = OwnerOf(head);
    uint8_t sink[kModbusDrainChunk];
    time_t quietSince = 0;
    long drained = 0;
    while (owner->IsRunning() && drained < kModbusDrainLimit) {
        int got = 0;
        bool end = false;
        if (!head.channel->Receive(sink, sizeof sink, &got, &end) || end) return;
        if (got > 0) {
            head.received += got;
            drained += got;
            quietSince = 0;
            continue;
        }
        time_t now = time(nullptr);
        if (quietSince == 0)
            quietSince = now;
        else if (now - quietSince > head.timeouts.drainQuietSec)
            return;
    }
}

void Drain(MODBUS_TalkHead& head)
{
    LogLine(OwnerOf(head), "Reading the remainder from channel", kStyleStep);
    DrainChannel(head);
    // A drain cut short (stop, limit) must not leave bytes the channel read ahead.
    head.channel->DropReceived();
}

void ReadAnswer(MODBUS_TalkHead& head, uint8_t function, const ModbusDataPiece* answer, int answerCount,
                ModbusResult& result, int& exception)
{
    TalkChannelExtI* owner = OwnerOf(head);
    const uint32_t unit = head.device->unitId;
    uint16_t crc = 0xFFFF;
    uint8_t header[kMbapHeaderSize];
    if (head.frameMode == kModbusFrameRtu) {
        result = ReadChecked(head, header, 1, &crc);
        ModbusCheckValue(owner, "Wrong device address", unit, header[0], result);
    } else {
        result = ModbusReadFull(head, header, kMbapHeaderSize);
        ModbusCheckValue(owner, "Wrong transaction identifier", head.transactionId,
                         (uint32_t)(header[0] << 8 | header[1]), result);
        ModbusCheckValue(owner, "Wrong protocol identifier", 0, (uint32_t)(header[2] << 8 | header[3]), result);
        ModbusCheckValue(owner, "Wrong unit identifier", unit, header[6], result);
    }
    if (result != kModbusOk) return;

    uint8_t code = 0;
    result = ReadChecked(head, &code, 1, &crc);
    if (result != kModbusOk) return;
    if (code == function) {
        exception = 0;
    } else if (code == (function | 0x80)) {
        uint8_t value = 0;
        result = ReadChecked(head, &value, 1, &crc);
        if (result != kModbusOk) return;
        exception = value;
    } else {
        char text[8];
        snprintf(text, sizeof text, "0x%X", code);
        owner->LogMessage(owner->MessageText("Wrong function code '^0'", text), kStyleError, LogModeLine);
        result = kModbusWrongAnswer;
        return;
    }

    if (exception == 0 && answer && answerCount >= 0)
        for (int i = 0; i < answerCount && result == kModbusOk; i++)
            result = ReadChecked(head, static_cast<uint8_t*>(answer[i].data), answer[i].length, &crc);

    if (result == kModbusOk && head.frameMode == kModbusFrameRtu) {
        uint8_t tail[2];
        result = ModbusReadFull(head, tail, 2);
        ModbusCheckValue(owner, "Wrong CRC", crc, (uint32_t)(tail[0] | tail[1] << 8), result);
    }
}

} // namespace

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

const char* ModbusExceptionName(int code)
{
    for (const CodeName& row : kExceptionNames)
        if (row.code == code) return row.name;
    return "";
}

void ModbusCheckValue(TalkChannelExtI* owner, const char* label, uint32_t want, uint32_t read,
                      ModbusResult& result)
{
    if (result != kModbusOk || want == read) return;
    char wantText[16], readText[16];
    snprintf(wantText, sizeof wantText, "0x%X", want);
    snprintf(readText, sizeof readText, "0x%X", read);
    SString labelText = owner->MessageText(label);
    owner->LogMessage(owner->MessageText("^0 (want '^1'; read '^2')", labelText.Text(), wantText, readText),
                      kStyleError, LogModeLine);
    result = kModbusWrongAnswer;
}

ModbusStatus ModbusTransact(MODBUS_TalkHead& head, uint8_t function, const ModbusDataPiece* request,
                            int requestCount, const ModbusDataPiece* answer, int answerCount)
{
    int exception = -1;
    if (!head.device || !head.channel) return {kModbusStopped, -1};
    TalkChannelExtI* owner = OwnerOf(head);
    int attemptsLeft = head.attempts;
    // Bounded by the attempts: every pass either returns or uses one up.
    for (;;) {
        ModbusResult result = ModbusSend(head, function, request, requestCount);
        if (result == kModbusOk) {
            head.received = 0;
            ReadAnswer(head, function, answer, answerCount, result, exception);
        }
        if (result == kModbusOk && exception <= 0) return {kModbusOk, exception};
        if (result == kModbusOk) {
            char codeText[8];
            snprintf(codeText, sizeof codeText, "0x%X", exception);
            owner->LogMessage(owner->MessageText("Device answer exception '^0' ('^1')", codeText,
                                                 ModbusExceptionName(exception)),
                              kStyleError, LogModeLine);
            return {kModbusException, exception};
        }
        if (result == kModbusWrongAnswer || result == kModbusStopped) Drain(head);
        if (exception > 0) return {result, exception};
        if (--attemptsLeft <= 0) return {result, exception};
        if (!owner->IsRunning()) return {result, exception};
        LogLine(owner, "Retry", kStyleStep);
        Wait(head.timeouts.retryWaitMs);
    }
}
