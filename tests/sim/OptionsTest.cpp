// The simulator's command line: option values, defaults, errors and process exit codes.
#include <gtest/gtest.h>
#include <signal.h>

#include "sim/SimOptions.h"
#include "tests/sim/SimTestClient.h"

namespace {

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},           {{"--port"}, "needs a value"},
        {{"--port", "65536"}, "bad value '65536' for --port"}, {{"--mac", "00:11:22:33:44"}, "bad value"},
        {{"--password", "32768"}, "bad value"},                {{"--id", "ABCDEFG"}, "bad value"},
        {{"--fault-exception", "3"}, "bad value"},             {{"--fault-close", "5:0"}, "bad value"},
        {{"--fault-result", "1:2:3"}, "bad value"},            {{"--fault-id-result", "65536"}, "bad value"},
        {{"--verbose=yes"}, "takes no value"},
    };
    for (Case& c : cases) {
        SimConfig config;
        std::string error;
        std::vector<char*> argv = {(char*)"pelta-sim"};
        for (auto& a : c.args) argv.push_back(&a[0]);
        EXPECT_EQ(ParseResult::kError, ParseOptions((int)argv.size(), argv.data(), &config, &error)) << c.args[0];
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
}

using SimProcessTest = SimTest;

TEST_F(SimProcessTest, BadOptionAndBusyAddressExitWith2AndSigintStopsCleanly) {
    SimProcess bad({"--fault-tamrin", "crc"});
    EXPECT_FALSE(bad.Start());
    EXPECT_EQ(2, bad.ExitCode()) << bad.Output();
    StartSim({"-v"});
    SimProcess second({"--port", std::to_string(sim_->TcpPort())});
    EXPECT_FALSE(second.Start());
    EXPECT_EQ(2, second.ExitCode());
    EXPECT_NE(std::string::npos, second.Output().find("Address already in use")) << second.Output();
    Connect();
    ASSERT_EQ(13u, client_.Transact(RecordFrame(3, Hex("00 02 00 02"))).size());
    EXPECT_TRUE(sim_->WaitForOutput("fn 3 start 2 count 2 -> ok", kIoTimeoutMs)) << sim_->Output();
    EXPECT_NE(std::string::npos, sim_->Output().find(" connected")) << sim_->Output();
    ASSERT_EQ(0, kill(sim_->Pid(), SIGINT));
    EXPECT_TRUE(client_.WaitClosed());
    EXPECT_TRUE(sim_->WaitForOutput("dropped by the unit", kIoTimeoutMs)) << sim_->Output();
    EXPECT_TRUE(sim_->WaitForOutput("pelta-sim: stopped", kIoTimeoutMs)) << sim_->Output();
    EXPECT_NE(std::string::npos, sim_->Output().find("stopping on SIGINT"));
}

}  // namespace
