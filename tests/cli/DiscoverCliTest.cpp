// pelta-cli discover against the simulator on loopback: the request goes to 127.0.0.1 alone,
// with the real receive time-out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/CliProcess.h"
#include "tests/support/SimProcess.h"

namespace {
const int kOk = 0, kFailed = 1, kUsage = 2, kAborted = 3;

class DiscoverCliTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> args)
    {
        // TCP on the discovery port, so that one --port reaches both.
        args.insert(args.begin(), {"--udp-port", "same"});
        sim_.reset(new SimProcess(args));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        ASSERT_EQ(sim_->TcpPort(), sim_->UdpPort());
    }
    std::vector<std::string> Discover(std::vector<std::string> extra)
    {
        std::vector<std::string> args = {"discover", "--broadcast", "127.0.0.1", "--port",
                                         std::to_string(sim_->UdpPort())};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(DiscoverCliTest, TableOfTheUnitWhenTheSearchEnds)
{
    Start({"--mac", "00:1A:2B:3C:4D:5E", "--version", "1.2.0.15"});
    CliResult r = CliRun(Discover({}));
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    const std::string table =
        "IP (connect)  IP         MAC                ID      Version\n"
        "127.0.0.1     127.0.0.1  00:1A:2B:3C:4D:5E  \xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1  1.2.0.15\n";
    ASSERT_GE(r.out.size(), table.size());
    EXPECT_EQ(table, r.out.substr(r.out.size() - table.size())) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Device founded on address 127.0.0.1\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Find devices end: OK.")) << r.out;
}

TEST_F(DiscoverCliTest, JsonLinesOnStandardOutputAndTheFailureExitCode)
{
    // Two answers from one address: both listed without details, and the search fails.
    Start({"--fault-discovery-duplicate"});
    CliResult r = CliRun(Discover({"--json"}));
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    const std::string row =
        "{\"ip_connect\":\"127.0.0.1\",\"ip\":\"127.0.0.1\",\"mac\":\"02:50:45:4C:54:41\",\"id\":\"\",\"version\":\"\"}\n";
    EXPECT_EQ(row + row, r.out);
    EXPECT_NE(std::string::npos, r.err.find("Received some responses with one IP address")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("Find devices end: ERROR.")) << r.err;
}

TEST_F(DiscoverCliTest, CtrlCStopsTheSearch)
{
    Start({});
    CliResult r = CliRun(Discover({}), "Device founded on address");
    EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Find devices end: ABORTED.")) << r.out;
}

TEST(DiscoverCliArguments, BadOptionsExitWithTwo)
{
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        // Each would broadcast from this namespace if it were taken: only values that are
        // refused twice (here and again before the runner starts) are tried.
        {{"discover", "--broadcast", "unit7"}, "--broadcast needs an IPv4 address, not 'unit7'"},
        {{"discover", "--broadcast", "0.0.0.0"}, "--broadcast needs an IPv4 address, not '0.0.0.0'"},
        {{"discover", "--broadcast", "127.0.0.1", "--port", "65536"}, "--port needs a number from 1 to 65535"},
        {{"discover", "--broadcast", "127.0.0.1", "--port=0"}, "--port needs a number from 1 to 65535, not '0'"},
        {{"discover", "--broadcast", "127.0.0.1", "--port", "5x"}, "not '5x'"},
        {{"discover", "--broadcast", "127.0.0.1", "--host", "127.0.0.1"}, "without --host"},
        {{"version", "--host", "127.0.0.1", "--broadcast", "127.0.0.1"}, "do not apply to version"},
    };
    for (const auto& c : cases) {
        CliResult r = CliRun(c.args);
        EXPECT_EQ(kUsage, r.exitCode) << c.reason;
        EXPECT_NE(std::string::npos, r.err.find(c.reason)) << r.err;
        EXPECT_TRUE(r.out.empty()) << c.reason;
    }
}
}  // namespace
