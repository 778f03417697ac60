// Every fault switch of the simulator, alone and combined, seen from a raw client.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/sim/SimFixture.h"

namespace {

using FaultsTest = SimTest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kVersionRequest[] = "00 7B 00 00 00 06 00 03 00 02 00 02";
const char kVersionAnswer[] = "00 7B 00 00 00 07 00 03 04 01 00 00 01";
const char kDiscoveryRequest[] = "00 7B 00 00 00 0A 00 14 07 06 00 01 00 00 00 08";

// Counted faults: the first answers carry the fault, later ones are clean.
TEST_F(FaultsTest, CountedHeaderFaultsHitTheNextAnswersOnly) {
    struct Case {
        std::vector<std::string> args;
        std::vector<const char*> answers;   // to successive version reads
    } cases[] = {
        {{"--fault-protocol", "2", "--fault-exception", "20:2"},
         {"00 7B 00 01 00 07 00 03 04 01 00 00 01", "00 7B 00 01 00 07 00 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-after", "2", "--fault-transaction", "1"},
         {kVersionAnswer, kVersionAnswer, "00 7C 00 00 00 07 00 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-exception", "3:4"}, {"00 7B 00 00 00 03 00 83 04", "00 7B 00 00 00 03 00 83 04"}},
        {{"--fault-exception", "3:2:1"}, {"00 7B 00 00 00 03 00 83 02", kVersionAnswer}},
        {{"--fault-transaction", "1", "--fault-unit", "1", "--fault-function", "1"},
         {"00 7C 00 00 00 07 01 04 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-unit", "all"}, {"00 7B 00 00 00 07 01 03 04 01 00 00 01", "00 7B 00 00 00 07 01 03 04 01 00 00 01"}},
    };
    for (const Case& c : cases) {
        StartSim(c.args);
        Connect();
        for (size_t i = 0; i < c.answers.size(); ++i)
            EXPECT_EQ(c.answers[i], ToHex(client_.Transact(Hex(kVersionRequest)))) << c.args[0] << " answer " << i;
    }
}

TEST_F(FaultsTest, TimingFaultsDelaySilenceAndClose) {
    StartSim({"-v", "--fault-delay", "300:2", "--fault-transaction", "1"});
    Connect();
    auto start = Clock::now();
    EXPECT_EQ("00 7C 00 00 00 07 00 03 04 01 00 00 01", ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_GE(Clock::now() - start, milliseconds(290));
    // A client that resets the connection while its answer is held back costs the unit nothing.
    RawClient leaver;
    ASSERT_TRUE(leaver.Connect(sim_->TcpPort()));
    ASSERT_TRUE(leaver.Send(ReadRegistersFrame(2, 1)));
    ASSERT_TRUE(sim_->WaitForOutput("start 2 count 1 -> ok", kIoTimeoutMs)) << sim_->Output();
    leaver.Abort();
    start = Clock::now();
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_LT(Clock::now() - start, milliseconds(250));
    EXPECT_TRUE(sim_->WaitForOutput("closed by the unit", kIoTimeoutMs)) << "the failed send ends the connection";

    StartSim({"--fault-silence", "1"});
    Connect();
    ASSERT_TRUE(client_.Send(Hex(kVersionRequest)));
    EXPECT_TRUE(client_.Receive(1, 300).empty());
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));

    StartSim({"--fault-close", "3"});
    Connect();
    ASSERT_TRUE(client_.Send(Hex(kVersionRequest)));
    EXPECT_EQ("00 7B 00", ToHex(client_.Receive(13)));
    EXPECT_TRUE(client_.WaitClosed());
    Connect();   // only once: the next connection is served in full
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));
}

TEST_F(FaultsTest, WriteEchoFault) {
    StartSim({"--fault-echo", "1"});
    Connect();
    Bytes settings = WriteRecordFrame(100, 1, Hex("00 01 12 34"));
    Bytes answer = client_.Transact(settings);
    ASSERT_EQ(settings.size(), answer.size());
    EXPECT_NE(settings.back(), answer.back());
    EXPECT_TRUE(std::equal(settings.begin(), settings.end() - 1, answer.begin()));
    EXPECT_EQ(ToHex(settings), ToHex(client_.Transact(settings)));   // the next echo is right
}

TEST_F(FaultsTest, ReadBackAndIdentifierResultFaults) {
    // A 24-byte image has a header (position 0) and code records 1 and 2.
    struct Case {
        const char* fault;
        uint16_t result;
        const char* failingRecord;
    } cases[] = {{"0:7", 7, "record 0:"}, {"1:0", 0, "record 1:"}, {"2:300", 300, "record 2:"}};
    for (const Case& c : cases) {
        StartSim({"--fault-result", c.fault, "--fault-id-result", "3"});
        Connect();
        ImageWriteResult r = WriteImage(client_, 3, PatternImage(24, 5), 0x1234);
        EXPECT_FALSE(r.ok) << c.fault;
        EXPECT_EQ(c.result, r.lastResult) << c.fault;
        EXPECT_NE(std::string::npos, r.failure.find(c.failingRecord)) << r.failure;
    }
    EXPECT_EQ("00 03 CF E5 EB F2 E0 31", ToHex(RecordData(client_.Transact(ReadRecordFrame(1, 1, 4)))));
}

TEST_F(FaultsTest, TamrinFaults) {
    for (const char* fault : {"prefix", "check"}) {
        StartSim({"--fault-tamrin", fault});
        Connect();
        EXPECT_EQ("00 7B 00 00 00 04 00 43 00 00", ToHex(client_.Transact(Hex("00 7B 00 00 00 05 00 43 03 60 63"))));
        EXPECT_EQ(fault[0] == 'p' ? "00 7B 00 00 00 08 00 41 54 03 60 63 03 1E" : "00 7B 00 00 00 08 00 41 55 03 60 63 03 1F",
                  ToHex(client_.Transact(Hex("00 7B 00 00 00 02 00 41"))));
    }
}

TEST_F(FaultsTest, DiscoveryAnswersAndTheirFaults) {
    const Bytes request = Hex(kDiscoveryRequest);
    // Without --ip the unit reports the address the request reached.
    const std::string answer = "00 7B 00 00 00 15 00 14 12 11 06 00 01 00 1A 2B 3C 4D 5E 00 00 00 00 7F 00 00 01";
    StartSim({"--mac", "00:1A:2B:3C:4D:5E", "--fault-discovery-duplicate"});
    std::vector<Bytes> answers = UdpExchange(sim_->UdpPort(), request, 2, kIoTimeoutMs);
    ASSERT_EQ(2u, answers.size());
    EXPECT_EQ(answer, ToHex(answers[0]));
    EXPECT_EQ(answer, ToHex(answers[1]));
    // A datagram that is no complete frame is ignored rather than answered.
    EXPECT_TRUE(UdpExchange(sim_->UdpPort(), Hex("00 7B 00 00 00 0A 00 14 07"), 1, 300).empty());

    StartSim({"--mac", "00:1A:2B:3C:4D:5E", "--fault-discovery-garbage"});
    const std::string zeros = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const std::vector<std::string> expected = {
        "", "00 7B 00 00 00", "300 bytes", "00 7B 00 00 00 15 00 15 12 11 06 00 01" + zeros,
        "00 7C 00 00 00 15 00 14 12 11 06 00 01" + zeros, "00 7B 00 00 00 15 00 14 12 11 06 00 00" + zeros, answer};
    answers = UdpExchange(sim_->UdpPort(), request, expected.size(), kIoTimeoutMs);
    ASSERT_EQ(expected.size(), answers.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], i == 2 ? std::to_string(answers[i].size()) + " bytes" : ToHex(answers[i])) << i;

    StartSim({"--fault-transaction", "1", "--fault-silence", "1", "--fault-after", "0"});
    EXPECT_TRUE(UdpExchange(sim_->UdpPort(), request, 1, 300).empty());   // silence is taken first
    answers = UdpExchange(sim_->UdpPort(), request, 1, kIoTimeoutMs);
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ(0x7C, answers[0][1]);
}

}  // namespace
