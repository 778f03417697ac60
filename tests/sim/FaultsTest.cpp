#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "tests/sim/SimTestClient.h"

namespace {

using FaultsTest = SimTest;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kVersionRequest[] = "00 7B 00 00 00 06 00 03 00 02 00 02";
const char kVersionAnswer[] = "00 7B 00 00 00 07 00 03 04 01 00 00 01";

TEST_F(FaultsTest, AnswerTimingAndDiscoveryFaultsABusyAddressAndSigint) {
    // Counted faults hit the first answers to the case's request (a version read unless named).
    const std::string echo = ToHex(RecordWrite(100, 1, Hex("00 01 12 34")));
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> answers;
        std::string request = kVersionRequest;
    } cases[] = {
        {{"--fault-protocol", "2", "--fault-exception", "20:2"},
         {"00 7B 00 01 00 07 00 03 04 01 00 00 01", "00 7B 00 01 00 07 00 03 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-exception", "3:4"}, {"00 7B 00 00 00 03 00 83 04", "00 7B 00 00 00 03 00 83 04"}},
        {{"--fault-exception", "3:2:1"}, {"00 7B 00 00 00 03 00 83 02", kVersionAnswer}},
        {{"--fault-transaction", "1", "--fault-unit", "1", "--fault-function", "1"},
         {"00 7C 00 00 00 07 01 04 04 01 00 00 01", kVersionAnswer}},
        {{"--fault-echo", "1"}, {echo.substr(0, echo.size() - 2) + "CB", echo}, echo},
    };
    for (const Case& c : cases) {
        StartSim(c.args);
        Connect();
        for (size_t i = 0; i < c.answers.size(); ++i)
            EXPECT_EQ(c.answers[i], ToHex(client_.Transact(Hex(c.request.c_str()))))
                << c.args[0] << " " << c.args[1] << " answer " << i;
    }

    StartSim({"-v", "--fault-delay", "300:2", "--fault-transaction", "1"});
    Connect();
    auto start = Clock::now();
    EXPECT_EQ("00 7C 00 00 00 07 00 03 04 01 00 00 01", ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_GE(Clock::now() - start, milliseconds(290));
    // A client that resets the connection while its answer is held back costs the unit nothing.
    SimClient leaver;
    ASSERT_TRUE(leaver.Connect(sim_->TcpPort()));
    ASSERT_TRUE(leaver.Send(RecordFrame(3, Hex("00 02 00 01"))));
    ASSERT_TRUE(sim_->WaitForOutput("start 2 count 1 -> ok", kIoTimeoutMs)) << sim_->Output();
    leaver.Abort();
    start = Clock::now();
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));
    EXPECT_LT(Clock::now() - start, milliseconds(250));
    EXPECT_TRUE(sim_->WaitForOutput("closed by the unit", kIoTimeoutMs)) << "the failed send ends the connection";
    EXPECT_NE(std::string::npos, sim_->Output().find(" connected")) << sim_->Output();
    SimProcess second({"--port", std::to_string(sim_->TcpPort())});
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(2, second.ExitCode());
    EXPECT_NE(std::string::npos, second.Output().find("Address already in use")) << second.Output();
    ASSERT_EQ(0, kill(sim_->Pid(), SIGINT));
    EXPECT_TRUE(client_.WaitClosed());
    EXPECT_TRUE(sim_->WaitForOutput("dropped by the unit", kIoTimeoutMs)) << sim_->Output();
    EXPECT_TRUE(sim_->WaitForOutput("pelta-sim: stopped", kIoTimeoutMs)) << sim_->Output();
    EXPECT_NE(std::string::npos, sim_->Output().find("stopping on SIGINT"));

    StartSim({"--fault-close", "3:2"});
    for (int i = 0; i < 2; ++i) {   // twice; the next connection is served in full
        Connect();
        ASSERT_TRUE(client_.Send(Hex(kVersionRequest)));
        EXPECT_EQ("00 7B 00", ToHex(client_.Receive(13)));
        EXPECT_TRUE(client_.WaitClosed());
    }
    Connect();
    EXPECT_EQ(kVersionAnswer, ToHex(client_.Transact(Hex(kVersionRequest))));

    const Bytes request = Hex("00 7B 00 00 00 0A 00 14 07 06 00 01 00 00 00 08");
    // Without --ip the unit reports the address the request reached.
    const char answer[] = "00 7B 00 00 00 15 00 14 12 11 06 00 01 00 1A 2B 3C 4D 5E 00 00 00 00 7F 00 00 01";
    StartSim({"--mac", "00:1A:2B:3C:4D:5E", "--fault-discovery-duplicate"});
    // A datagram that is no complete frame is ignored rather than answered.
    EXPECT_TRUE(UdpExchange(sim_->UdpPort(), Hex("00 7B 00 00 00 0A 00 14 07"), 1, 300).empty());
    EXPECT_EQ(std::vector<Bytes>(2, Hex(answer)), UdpExchange(sim_->UdpPort(), request, 2, kIoTimeoutMs));

    // Before the answer: empty, cut short, oversized, wrong function, foreign transaction, result 0.
    StartSim({"--mac", "00:1A:2B:3C:4D:5E", "--fault-discovery-garbage"});
    const std::string zeros = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const std::vector<std::string> expected = {
        "", "00 7B 00 00 00", "300 bytes", "00 7B 00 00 00 15 00 15 12 11 06 00 01" + zeros,
        "00 7C 00 00 00 15 00 14 12 11 06 00 01" + zeros, "00 7B 00 00 00 15 00 14 12 11 06 00 00" + zeros, answer};
    std::vector<Bytes> answers = UdpExchange(sim_->UdpPort(), request, expected.size(), kIoTimeoutMs);
    ASSERT_EQ(expected.size(), answers.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], i == 2 ? std::to_string(answers[i].size()) + " bytes" : ToHex(answers[i])) << i;
}

}  // namespace
