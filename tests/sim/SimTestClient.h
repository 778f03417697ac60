// A deliberately small, independent Modbus TCP client for the simulator's tests: raw bytes in,
// raw bytes out, every receive bounded in time. Frame builders follow the public Modbus layouts.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimProcess.h"

const int kIoTimeoutMs = 3000;
const uint16_t kSimPassword = 1;

std::string ToHex(const Bytes& bytes);   // "00 7B 00"

class RawClient {
public:
    RawClient() = default;
    ~RawClient() { Close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Connect(int port);
    void Close();
    void Abort();   // leaves with a reset instead of an orderly close
    bool Send(const Bytes& bytes);
    Bytes Receive(size_t n, int timeoutMs = kIoTimeoutMs);   // fewer on a close or time-out
    Bytes ReceiveFrame();                                    // the MBAP header, then its length
    bool WaitClosed();   // the peer closes (EOF or reset) in time, sending nothing
    Bytes Transact(const Bytes& request) { return Send(request) ? ReceiveFrame() : Bytes(); }

private:
    int fd_ = -1;
};

// One datagram to 127.0.0.1:port; the answers that arrive within timeoutMs, at most `want`.
std::vector<Bytes> UdpExchange(int port, const Bytes& request, size_t want, int timeoutMs);

Bytes FrameOf(uint8_t function, const Bytes& data, uint16_t tid = 123);
Bytes ReadRegistersFrame(uint16_t start, uint16_t count);
Bytes WriteKeyedFrame(uint16_t start, uint16_t value, uint16_t password = kSimPassword);
Bytes ReadRecordFrame(uint16_t file, uint16_t record, uint16_t length);
Bytes WriteRecordFrame(uint16_t file, uint16_t record, const Bytes& registers);
// The data of a read-file-record answer with one sub-response; empty on exceptions.
Bytes RecordData(const Bytes& answer);
// Result register of an image record (0xFFFF when the read fails).
uint16_t ResultOf(RawClient& client, uint16_t file, uint16_t record);

// Writes an image through the firmware or loader contract (header, then 12-byte code records), ten
// records a frame and frames pipelined, and reads every record back (only that when write=false).
// Empty, or the first problem: "file F record R: ...". crcXor spoils the header's CRC on purpose.
std::string WriteImage(RawClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask,
                       uint16_t password = kSimPassword, uint32_t crcXor = 0, bool write = true);
Bytes PatternImage(size_t size, uint32_t seed);

// One simulator per test, which must stop cleanly (exit 0: no sanitizer report, no leak).
class SimTest : public ::testing::Test {
protected:
    void StartSim(const std::vector<std::string>& args = {}) {
        StopSim();
        sim_ = std::make_unique<SimProcess>(args);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }
    void StopSim() {
        client_.Close();
        if (!sim_) return;
        sim_->Stop();
        EXPECT_EQ(0, sim_->ExitCode()) << sim_->Output();
        sim_.reset();
    }
    void Connect() { ASSERT_TRUE(client_.Connect(sim_->TcpPort())); }
    void TearDown() override { StopSim(); }

    std::unique_ptr<SimProcess> sim_;
    RawClient client_;
};
