// pelta-cli discover against the simulator on loopback: the request goes to 127.0.0.1 alone,
// with the real receive time-out.
#include "tests/cli/CliProcess.h"

namespace {
class DiscoverCliTest : public CliSimTest {
protected:
    // TCP on the discovery port, so that one --port reaches both.
    CliResult Discover(std::vector<std::string> simArgs, const std::vector<std::string>& extra = {},
                       const char* interruptOn = "")
    {
        simArgs.insert(simArgs.begin(), {"--udp-port", "same"});
        Start(simArgs);
        EXPECT_EQ(sim_->TcpPort(), sim_->UdpPort());
        std::vector<std::string> args = {"discover", "--broadcast", "127.0.0.1", "--port", std::to_string(sim_->UdpPort())};
        args.insert(args.end(), extra.begin(), extra.end());
        CliOptions options;
        options.interruptOn = interruptOn;
        return CliRun(args, options);
    }
};

TEST_F(DiscoverCliTest, TableOfTheUnitWhenTheSearchEnds)
{
    CliResult r = Discover({"--mac", "00:1A:2B:3C:4D:5E", "--version", "1.2.0.15"});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    const std::string table =
        "IP (connect)  IP         MAC                ID      Version\n"
        "127.0.0.1     127.0.0.1  00:1A:2B:3C:4D:5E  \xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1  1.2.0.15\n";
    ASSERT_GE(r.out.size(), table.size());
    EXPECT_EQ(table, r.out.substr(r.out.size() - table.size())) << r.out;
    EXPECT_THAT(r.out, ::testing::HasSubstr("Device founded on address 127.0.0.1\n"));
    EXPECT_THAT(r.out, ::testing::HasSubstr("Find devices end: OK."));
}

TEST_F(DiscoverCliTest, JsonLinesOnStandardOutputAndTheFailureExitCode)
{
    // Two answers from one address: both listed without details, and the search fails.
    CliResult r = Discover({"--fault-discovery-duplicate"}, {"--json"});
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    const std::string row =
        "{\"ip_connect\":\"127.0.0.1\",\"ip\":\"127.0.0.1\",\"mac\":\"02:50:45:4C:54:41\",\"id\":\"\",\"version\":\"\"}\n";
    EXPECT_EQ(row + row, r.out);
    EXPECT_THAT(r.err, ::testing::HasSubstr("Received some responses with one IP address"));
    EXPECT_THAT(r.err, ::testing::HasSubstr("Find devices end: ERROR."));
}

TEST_F(DiscoverCliTest, CtrlCStopsTheSearch)
{
    CliResult r = Discover({}, {}, "Device founded on address");
    EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
    EXPECT_THAT(r.out, ::testing::HasSubstr("Find devices end: ABORTED."));
}
}  // namespace
