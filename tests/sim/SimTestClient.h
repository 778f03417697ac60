// The tool's own channel and requests for well-formed traffic, raw bytes where the bytes are the
// point; images pipelined so that the largest takes seconds.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "channels/TalkChannel_TCP.h"
#include "tests/support/RecordFrames.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/SimProcess.h"

const int kIoTimeoutMs = 3000;

std::string ToHex(const Bytes& bytes);   // "00 7B 00"

class SimClient {
public:
    bool Connect(int port);
    void Close() { channel_.Close(); }
    void Abort();   // leaves with a reset instead of an orderly close
    bool Send(const Bytes& bytes) { return channel_.Send(bytes.data(), (int)bytes.size()); }
    Bytes Receive(size_t n);   // fewer on a close or time-out
    Bytes ReceiveFrame();      // the MBAP header, then its length
    bool WaitClosed();         // the peer closes (EOF or reset) in time, sending nothing
    Bytes Transact(const Bytes& request) { return Send(request) ? ReceiveFrame() : Bytes(); }
    // The registers read in hex or "ok"; else "exception N", or "failed N" with the client's log.
    std::string Read(uint16_t file, uint16_t record, uint16_t count);
    std::string Write(uint16_t file, uint16_t record, const Bytes& registers);
    std::string Keyed(uint16_t reg, uint16_t value, uint16_t password = 1);

private:
    std::string Outcome(ModbusStatus status, const std::string& data);
    RecordingOwner owner_;
    TalkChannel_TCP channel_{&owner_, "", kIoTimeoutMs};
    DevAddress device_;
    MODBUS_TalkInfo info_;
};

// One datagram to 127.0.0.1:port; the answers that arrive within timeoutMs, at most `want`.
std::vector<Bytes> UdpExchange(int port, const Bytes& request, size_t want, int timeoutMs);

// Writes an image (header, then 12-byte code records) and reads every record back (only that when
// write=false): "" or the first answer that differs. crcXor spoils the header's CRC.
std::string WriteImage(SimClient& client, uint16_t firstFile, const Bytes& image, uint32_t mask,
                       uint16_t password = 1, uint32_t crcXor = 0, bool write = true);
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
    SimClient client_;
};
