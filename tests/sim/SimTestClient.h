// A deliberately small, independent Modbus TCP client for the simulator's tests: raw bytes in,
// raw bytes out, every receive bounded in time. Frame builders follow the public Modbus layouts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

const int kIoTimeoutMs = 3000;
const uint16_t kTid = 123;
const uint16_t kSimPassword = 1;

Bytes Hex(const char* text);                 // "00 7B 00 00" -> bytes
std::string ToHex(const Bytes& bytes);

class RawClient {
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connect(int port);
    void Close();
    bool Send(const Bytes& bytes);
    // Exactly n bytes, or fewer when the peer closed or the time-out passed.
    Bytes Receive(size_t n, int timeoutMs = kIoTimeoutMs);
    // One MBAP answer: header, then as many bytes as its length field says.
    Bytes ReceiveFrame(int timeoutMs = kIoTimeoutMs);
    // True when the peer closes (EOF or reset) within timeoutMs without sending anything.
    bool WaitClosed(int timeoutMs = kIoTimeoutMs);
    Bytes Transact(const Bytes& request) { return Send(request) ? ReceiveFrame() : Bytes(); }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// One datagram to 127.0.0.1:port; all answers that arrive within timeoutMs.
std::vector<Bytes> UdpExchange(int port, const Bytes& request, int timeoutMs);

// Request frames with transaction 123 and unit 0.
Bytes FrameOf(uint8_t function, const Bytes& data, uint16_t tid = kTid);
Bytes ReadRegistersFrame(uint16_t start, uint16_t count);
Bytes WriteKeyedFrame(uint16_t start, uint16_t value, uint16_t password = kSimPassword);
Bytes ReadRecordFrame(uint16_t file, uint16_t record, uint16_t length);
Bytes WriteRecordFrame(uint16_t file, uint16_t record, const Bytes& registers);
// The data of a read-file-record answer (after the 3 length and type bytes); empty on exceptions.
Bytes RecordData(const Bytes& answer);

// Writes an image through the firmware or loader contract and reads every record back.
struct ImageWriteResult {
    bool ok = false;
    std::string failure;       // first problem, for test messages
    uint16_t lastResult = 0;   // result code of the last read-back
    uint32_t records = 0;      // code records written
};
// crcXor spoils the header's CRC on purpose.
ImageWriteResult WriteImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask,
                            uint16_t password = kSimPassword, uint32_t crcXor = 0);
// Reads every record of an image written before and compares result and echo.
ImageWriteResult VerifyImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask);
Bytes PatternImage(size_t size, uint32_t seed);
uint32_t TestCrc32(const Bytes& data);
