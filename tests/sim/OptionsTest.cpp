// The simulator's command line: option values, defaults, errors and process exit codes.
#include <gtest/gtest.h>
#include <signal.h>

#include "sim/SimOptions.h"
#include "tests/sim/SimFixture.h"

namespace {

ParseResult Parse(std::vector<std::string> args, SimConfig* config, std::string* error) {
    args.insert(args.begin(), "pelta-sim");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(&a[0]);
    return ParseOptions((int)argv.size(), argv.data(), config, error);
}

std::string HexOf(const uint8_t* bytes, size_t n) { return ToHex(Bytes(bytes, bytes + n)); }

TEST(SimOptions, ValuesAreParsed) {
    std::string error;
    SimConfig c;
    ASSERT_EQ(ParseResult::kRun,
              Parse({"--listen", "127.0.0.1", "--port=0", "--udp-port", "1502", "--version", "1.2.0.15", "--mac",
                     "00:1a:2B:3C:4D:5E", "--ip", "10.0.0.7", "--id", "AB", "--password", "0x10", "-v",
                     "--fault-exception", "21:4:2", "--fault-delay", "50", "--fault-close", "5:3", "--fault-result",
                     "0:2", "--fault-result", "7:9", "--fault-transaction", "all", "--fault-tamrin", "check",
                     "--fault-id-result", "65535", "--port", "1503"},
                    &c, &error))
        << error;
    EXPECT_EQ(0x7F000001u, c.listenIp);
    EXPECT_EQ(1503, c.tcpPort) << "the later option wins";
    EXPECT_EQ(1502, c.udpPort);
    EXPECT_EQ("01 02 00 0F", HexOf(c.version, 4));
    EXPECT_EQ("00 1A 2B 3C 4D 5E", HexOf(c.identity.mac, 6));
    EXPECT_EQ(0x0A000007u, c.identity.configuredIp);
    EXPECT_EQ("41 42 00 00 00 00", HexOf(c.identity.identifier, 6));
    EXPECT_EQ(16, c.password);
    EXPECT_TRUE(c.verbose);
    EXPECT_EQ(21, c.faults.exceptionFunction);
    EXPECT_EQ(4, c.faults.exceptionCode);
    EXPECT_EQ(2u, c.faults.exceptionCount);
    EXPECT_EQ(50u, c.faults.delayMs);
    EXPECT_EQ(kEveryAnswer, c.faults.delayCount);
    EXPECT_EQ(5u, c.faults.closeAfterBytes);
    EXPECT_EQ(3u, c.faults.closeCount);
    ASSERT_EQ(2u, c.faults.results.size());
    EXPECT_EQ(7u, c.faults.results[1].position);
    EXPECT_EQ(9, c.faults.results[1].code);
    EXPECT_EQ(kEveryAnswer, c.faults.wrongTransaction);
    EXPECT_EQ(TamrinFault::kCheck, c.faults.tamrin);
    EXPECT_EQ(65535, c.faults.identifierResult);
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--port"}, "needs a value"},
        {{"--port", "65536"}, "bad value '65536' for --port"},
        {{"--port", "-1"}, "bad value"},
        {{"--listen", "localhost"}, "bad value"},
        {{"--version", "1.2.3"}, "bad value"},
        {{"--version", "1.2.3.256"}, "bad value"},
        {{"--mac", "00:11:22:33:44"}, "bad value"},
        {{"--password", "32768"}, "bad value"},
        {{"--id", "ABCDEFG"}, "bad value"},
        {{"--id", "\xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0\xD0\x9F\xD0\xB5"}, "bad value"},
        {{"--fault-transaction", "0"}, "bad value"},
        {{"--fault-exception", "3"}, "bad value"},
        {{"--fault-exception", "3:4:0"}, "bad value"},
        {{"--fault-close", "5:0"}, "bad value"},
        {{"--fault-result", "1:2:3"}, "bad value"},
        {{"--fault-id-result", "65536"}, "bad value"},
        {{"--verbose=yes"}, "takes no value"},
    };
    for (const Case& c : cases) {
        SimConfig config;
        std::string error;
        EXPECT_EQ(ParseResult::kError, Parse(c.args, &config, &error)) << c.args[0];
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
    SimConfig config;
    std::string error;
    EXPECT_EQ(ParseResult::kHelp, Parse({"--port", "1", "--help"}, &config, &error));
}

using SimProcessTest = SimTest;

TEST_F(SimProcessTest, BadOptionAndBusyAddressExitWith2) {
    SimProcess bad({"--fault-tamrin", "crc"});
    std::string error;
    EXPECT_FALSE(bad.Start(&error));
    EXPECT_EQ(2, bad.ExitCode());
    EXPECT_NE(std::string::npos, bad.Output().find("bad value 'crc' for --fault-tamrin")) << bad.Output();

    StartSim();
    SimProcess second({"--port", std::to_string(sim_->TcpPort())});
    EXPECT_FALSE(second.Start(&error));
    EXPECT_EQ(2, second.ExitCode());
    EXPECT_NE(std::string::npos, second.Output().find("Address already in use")) << second.Output();
}

TEST_F(SimProcessTest, StopsCleanlyOnSigint) {
    StartSim({"-v"});
    Connect();
    ASSERT_EQ(13u, client_.Transact(ReadRegistersFrame(2, 2)).size());
    EXPECT_TRUE(sim_->WaitForOutput("fn 3 start 2 count 2 -> ok", kIoTimeoutMs)) << sim_->Output();
    EXPECT_NE(std::string::npos, sim_->Output().find(" connected")) << sim_->Output();
    ASSERT_EQ(0, kill(sim_->Pid(), SIGINT));
    EXPECT_TRUE(client_.WaitClosed());
    EXPECT_TRUE(sim_->WaitForOutput("dropped by the unit", kIoTimeoutMs)) << sim_->Output();
    EXPECT_TRUE(sim_->WaitForOutput("pelta-sim: stopped", kIoTimeoutMs)) << sim_->Output();
    EXPECT_NE(std::string::npos, sim_->Output().find("stopping on SIGINT"));
}

}  // namespace
