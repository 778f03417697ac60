// A deliberately small, independent Modbus TCP client for the simulator's tests: raw bytes in,
// raw bytes out, every receive bounded in time. Frame builders follow the public Modbus layouts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

const int kIoTimeoutMs = 3000;
const uint16_t kSimPassword = 1;

Bytes Hex(const char* text);   // "00 7B 00 00" -> bytes
std::string ToHex(const Bytes& bytes);

class RawClient {
public:
    RawClient() = default;
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connect(int port);
    void Close();
    // Leaves with a reset instead of an orderly close.
    void Abort();
    bool Send(const Bytes& bytes);
    // Exactly n bytes, or fewer when the peer closed or the time-out passed.
    Bytes Receive(size_t n, int timeoutMs = kIoTimeoutMs);
    // One MBAP answer: header, then as many bytes as its length field says.
    Bytes ReceiveFrame(int timeoutMs = kIoTimeoutMs);
    // True when the peer closes (EOF or reset) within timeoutMs without sending anything.
    bool WaitClosed(int timeoutMs = kIoTimeoutMs);
    Bytes Transact(const Bytes& request) { return Send(request) ? ReceiveFrame() : Bytes(); }

private:
    int fd_ = -1;
};

// One datagram to 127.0.0.1:port; the answers that arrive within timeoutMs, at most `want`.
std::vector<Bytes> UdpExchange(int port, const Bytes& request, size_t want, int timeoutMs);

// Request frames with transaction 123 and unit 0.
Bytes FrameOf(uint8_t function, const Bytes& data, uint16_t tid = 123);
Bytes ReadRegistersFrame(uint16_t start, uint16_t count);
Bytes WriteKeyedFrame(uint16_t start, uint16_t value, uint16_t password = kSimPassword);
Bytes ReadRecordFrame(uint16_t file, uint16_t record, uint16_t length);
Bytes WriteRecordFrame(uint16_t file, uint16_t record, const Bytes& registers);
// The data of a read-file-record answer with one sub-response; empty on exceptions.
Bytes RecordData(const Bytes& answer);
// Result register of an image record (0xFFFF when the read fails).
uint16_t ResultOf(RawClient& client, uint16_t file, uint16_t record);

// Writes an image through the firmware or loader contract (header, then 12-byte code records)
// and reads every record back. Ten records travel in one frame and several frames are sent
// before their answers are read, so that the largest image takes seconds, not minutes.
struct ImageWriteResult {
    bool ok = false;
    std::string failure;       // first problem, for test messages: "file F record R: ..."
    uint16_t lastResult = 0;   // result code of the last record read back
    uint32_t records = 0;      // code records written
};
// crcXor spoils the header's CRC on purpose.
ImageWriteResult WriteImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask,
                            uint16_t password = kSimPassword, uint32_t crcXor = 0);
// Only the read-back of an image written before.
ImageWriteResult VerifyImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask);
Bytes PatternImage(size_t size, uint32_t seed);
