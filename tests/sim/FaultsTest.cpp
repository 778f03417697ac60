// Every fault switch of the simulator, alone and combined, seen from a raw client.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "tests/sim/SimFixture.h"

namespace {

using FaultsTest = SimTest;

const char kVersionRequest[] = "00 7B 00 00 00 06 00 03 00 02 00 02";
const char kVersionAnswer[] = "00 7B 00 00 00 07 00 03 04 01 00 00 01";

// Header faults: the first answers carry the fault, later ones are clean.
TEST_F(FaultsTest, CountedHeaderFaultsHitTheNextAnswersOnly) {
    struct Case {
        std::vector<std::string> args;
        std::vector<const char*> answers;   // to successive version reads
    } cases[] = {
        {{"--fault-transaction", "1"}, {"00 7C 00 00 00 07 00 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-protocol", "2"},
         {"00 7B 00 01 00 07 00 03 04 01 00 00 01", "00 7B 00 01 00 07 00 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-unit", "1"}, {"00 7B 00 00 00 07 01 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-function", "1"}, {"00 7B 00 00 00 07 00 04 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-after", "2", "--fault-transaction", "1"},
         {kVersionAnswer, kVersionAnswer, "00 7C 00 00 00 07 00 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-exception", "3:4"}, {"00 7B 00 00 00 03 00 83 04", "00 7B 00 00 00 03 00 83 04"}},
        {{"--fault-exception", "3:2:1"}, {"00 7B 00 00 00 03 00 83 02", kVersionAnswer}},
        {{"--fault-exception", "20:2"}, {kVersionAnswer}},
        {{"--fault-transaction", "1", "--fault-unit", "1", "--fault-function", "1"},
         {"00 7C 00 00 00 07 01 04 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-transaction", "all"}, {"00 7C 00 00 00 07 00 03 04 01 00 00 01", "00 7C 00 00 00 07 00 03 04 01 00 00 01"}},
    };
    for (const Case& c : cases) {
        StartSim(c.args);
        Connect();
        for (size_t i = 0; i < c.answers.size(); ++i)
            EXPECT_EQ(c.answers[i], ToHex(client_.Transact(Hex(kVersionRequest)))) << c.args[1] << " answer " << i;
    }
}

TEST_F(FaultsTest, TimingFaultsDelaySilenceAndClose) {
    using Clock = std::chrono::steady_clock;
    StartSim({"--fault-delay", "300:1"});
    Connect();
    auto start = Clock::now();
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(290));
    start = Clock::now();
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(250));

    StartSim({"--fault-silence", "1"});
    Connect();
    ASSERT_TRUE(client_.Send(Hex(kVersionRequest)));
    EXPECT_TRUE(client_.Receive(1, 500).empty());
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));

    StartSim({"--fault-close", "3"});
    Connect();
    ASSERT_TRUE(client_.Send(Hex(kVersionRequest)));
    EXPECT_EQ("00 7B 00", ToHex(client_.Receive(13)));
    EXPECT_TRUE(client_.WaitClosed());
    Connect();   // only once: the next connection is served in full
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));

    // A delayed answer and a wrong transaction on the same answer.
    StartSim({"--fault-delay", "200:1", "--fault-transaction", "1"});
    Connect();
    start = Clock::now();
    EXPECT_EQ("00 7C 00 00 00 07 00 03 04 01 00 00 01", ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(190));
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

TEST_F(FaultsTest, ReadBackResultFaults) {
    // A 24-byte image has a header (position 0) and code records 1 and 2.
    struct Case {
        const char* fault;
        uint16_t result;
        uint16_t failingRecord;
    } cases[] = {{"0:7", 7, 0}, {"1:0", 0, 1}, {"2:2", 2, 2}, {"2:300", 300, 2}};
    for (const Case& c : cases) {
        StartSim({"--fault-result", c.fault});
        Connect();
        ImageWriteResult r = WriteImage(client_, 3, PatternImage(24, 5), 0x1234);
        EXPECT_FALSE(r.ok) << c.fault;
        EXPECT_EQ(c.result, r.lastResult) << c.fault;
        EXPECT_NE(std::string::npos, r.failure.find("record " + std::to_string(c.failingRecord) + ":")) << r.failure;
    }
}

TEST_F(FaultsTest, TamrinFaults) {
    struct Case {
        const char* fault;
        const char* frame;
    } cases[] = {
        {nullptr, "55 03 60 63 03 1E"},
        {"prefix", "54 03 60 63 03 1E"},
        {"check", "55 03 60 63 03 1F"},
    };
    for (const Case& c : cases) {
        StartSim(c.fault ? std::vector<std::string>{"--fault-tamrin", c.fault} : std::vector<std::string>{});
        Connect();
        EXPECT_EQ("00 7B 00 00 00 04 00 43 00 00", ToHex(client_.Transact(Hex("00 7B 00 00 00 05 00 43 03 60 63"))));
        Bytes answer = client_.Transact(Hex("00 7B 00 00 00 02 00 41"));
        ASSERT_EQ(14u, answer.size());
        EXPECT_EQ(c.frame, ToHex(Bytes(answer.begin() + 8, answer.end()))) << (c.fault ? c.fault : "none");
    }
}

TEST_F(FaultsTest, DiscoveryFaults) {
    Bytes request = Hex("00 7B 00 00 00 0A 00 14 07 06 00 01 00 00 00 08");
    StartSim({"--fault-discovery-duplicate", "--ip", "10.9.8.7"});
    std::vector<Bytes> answers = UdpExchange(sim_->UdpPort(), request, 500);
    ASSERT_EQ(2u, answers.size());
    EXPECT_EQ(answers[0], answers[1]);
    // The configured address differs from the one the answer came from (127.0.0.1).
    EXPECT_EQ("0A 09 08 07", ToHex(Bytes(answers[0].end() - 4, answers[0].end())));

    StartSim({"--fault-transaction", "1", "--fault-silence", "1", "--fault-after", "0"});
    EXPECT_TRUE(UdpExchange(sim_->UdpPort(), request, 300).empty());   // silence is taken first
    answers = UdpExchange(sim_->UdpPort(), request, 500);
    ASSERT_EQ(1u, answers.size());
    EXPECT_EQ(0x7C, answers[0][1]);
}

}  // namespace
