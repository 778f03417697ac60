// Discovery against the simulator on loopback: the request goes to 127.0.0.1 alone (never a
// broadcast from this namespace); phase two connects to the same port.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "tests/operations/DiscoveryCase.h"
#include "tests/support/RunnerSim.h"
#include "tests/support/ScriptedPeer.h"

namespace {
const std::string kPlain = "127.0.0.1 127.0.0.1 02:50:45:4C:54:41 \xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1 1.0.0.1";
const std::string kBare = "127.0.0.1 127.0.0.1 02:50:45:4C:54:41  ";
// Generous for a loaded, instrumented CI machine; every window waits it out once per search.
const int kWindowMs = 1000;

class DiscoveryTest : public RunnerSimTest {
protected:
    // The unit answers discovery and TCP on one port (later arguments may move TCP); without
    // units nobody listens on the port discovery asks.
    void Start(const std::vector<std::vector<std::string>>& units, int receiveMs = kWindowMs)
    {
        RunnerOptions options = FastOptions();
        options.discovery.directedAddress = inet_addr("127.0.0.1");
        options.discovery.receiveTimeoutMs = receiveMs;
        if (units.empty()) {
            int port = 0;
            close(BindLoopback(SOCK_DGRAM, &port));
            options.discovery.port = (uint16_t)port;
        } else {
            std::vector<std::string> args = {"--udp-port", "same"};
            args.insert(args.end(), units[0].begin(), units[0].end());
            StartSim(args);
            options.discovery.port = (uint16_t)sim_->UdpPort();
        }
        RunnerStart("", options);
    }
    // One search to its end, stopped once abortAfter is logged; no run flag or channel stays.
    AppState Search(const char* abortAfter = nullptr)
    {
        EXPECT_TRUE(runner_->FindDevicesBegin());
        EXPECT_TRUE(!abortAfter || ui_->WaitForLine(abortAfter, kOperationTimeoutMs)) << ui_->Dump();
        const auto stopped = std::chrono::steady_clock::now();
        if (abortAfter)
            runner_->TalkStop();
        const AppState end = Finish();
        EXPECT_TRUE(!abortAfter || std::chrono::steady_clock::now() - stopped < std::chrono::milliseconds(2500));
        EXPECT_EQ(0u, runner_->Flags() & RunFlags::Quiet);
        runner_->ChannelLock();
        EXPECT_EQ(nullptr, runner_->ChannelLocked());
        runner_->ChannelUnlock();
        EXPECT_TRUE(runner_->TalkPhChannelsClose()) << "an empty slot failed to close";
        return end;
    }
};

const DiscoveryCase kCases[] = {
    {"identity, configured IP and the steps of phase two",
     {{"--mac", "FF:1A:2B:3C:4D:80", "--ip", "10.1.2.254", "--id", "\xD0\xAE\xD0\xBD\xD0\xB8\xD1\x82" "7", "--version",
       "1.2.255.254"}},
     AppState::Succeeded, {"127.0.0.1 10.1.2.254 FF:1A:2B:3C:4D:80 \xD0\xAE\xD0\xBD\xD0\xB8\xD1\x82" "7 1.2.255.254"}, "2/2",
     {"Device search", "Device founded on address 127.0.0.1", "Send to broadcast addresses:", "\t\t127.0.0.1", "Get ID",
      "Get version", "Connecting to '127.0.0.1:", "Get extra information", "Find devices end: OK"},
     {"Get extra information..."}, true},
    {"two answers from one address", {{"--fault-discovery-duplicate"}}, AppState::Error, {kBare, kBare}, "1/2",
     {"Received some responses with one IP address", "Find devices end: ERROR"}, {}},
    {"identifier code 0 leaves ID empty, phase two in one line", {{"--fault-id-result", "0"}}, AppState::Succeeded,
     {"127.0.0.1 127.0.0.1 02:50:45:4C:54:41  1.0.0.1"}, "2/2", {"Get extra information..."}, {"Get ID", "Connecting to"}},
    {"malformed answers are not listed", {{"--fault-discovery-garbage"}}, AppState::Succeeded, {kPlain}, "2/2",
     {"Wrong file record return code (want '0x1'; read '0x0')", "Receiving error", "Wrong transaction identifier",
      "Wrong function code '0x15'"}, {}},
    {"unit gone in phase two", {{"--udp-port", "0"}}, AppState::Error, {kBare}, "1/2", {"Connection error"}, {}},
    {"version read refused", {{"--fault-exception", "3:4"}}, AppState::Error, {kBare}, "1/2",
     {"Device answer exception '0x4'"}, {}},
    {"no unit answers", {}, AppState::Succeeded, {}, "1/0", {"Device search"}, {"Get extra information", "Device founded"}},
};

TEST_F(DiscoveryTest, PhasesOnLoopback)
{
    for (const DiscoveryCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Start(c.units);
        runner_->FlagsSet(RunFlags::TalkLog, c.talkLog);
        DiscoveryExpect(c, Search(), *ui_);
    }
}

// A stop in either phase ends the search well within its waits, and the next search runs whole.
TEST_F(DiscoveryTest, AbortInEitherPhaseThenAgain)
{
    const struct {
        std::vector<std::string> unit;
        int receiveMs;
        const char* after;
    } cases[] = {{{}, 4000, "Device founded on address"},  // a long receive time-out: only the abort ends phase one
                 {{"--fault-after", "1", "--fault-delay", "4000:1"}, kWindowMs, "Get extra information"}};  // ID after 4 s
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        Start({c.unit}, c.receiveMs);
        EXPECT_EQ(AppState::Aborted, Search(c.after));
        DiscoveryOptions discovery = runner_->Options().discovery;
        discovery.receiveTimeoutMs = kWindowMs;
        runner_->DiscoveryOptionsSet(discovery);
        EXPECT_EQ(AppState::Succeeded, Search()) << ui_->Dump();
        EXPECT_EQ(std::vector<std::string>{kPlain}, ui_->Rows());
    }
}
}  // namespace
