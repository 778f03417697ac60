// Discovery against the simulator on loopback: the request goes to 127.0.0.1 alone (never a
// broadcast from this namespace), phase two connects to the same port.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "base/LogTypes.h"
#include "tests/operations/FindUi.h"
#include "tests/operations/SimFixture.h"

namespace {
const int kFastReceiveMs = 1000;
const char kLoopback[] = "127.0.0.1";
const char kSimMac[] = "02:50:45:4C:54:41";
const char kSimId[] = "\xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1";  // the simulator's default
const char kSimVersion[] = "1.0.0.1";

// A loopback UDP port nobody listens on.
int SilentPort()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr(kLoopback);
    socklen_t len = sizeof a;
    bool ok = fd >= 0 && bind(fd, (sockaddr*)&a, sizeof a) == 0 && getsockname(fd, (sockaddr*)&a, &len) == 0;
    if (fd >= 0)
        close(fd);
    return ok ? ntohs(a.sin_port) : -1;
}

struct StyleRule {
    const char* needle;
    int style;
};
const StyleRule kStyles[] = {
    {"Device search", LogStylePlain},
    {"Device founded on address", LogStyleResultOK},
    {"Get extra information", LogStylePlain},
    {"Received some responses with one IP address", LogStyleError},
    {"Wrong file record return code", LogStyleError},
};

class DiscoveryTest : public ::testing::Test {
protected:
    // Simulator with TCP on its discovery port unless tcpElsewhere; none when simArgs is null.
    void Start(const std::vector<std::string>* simArgs, bool tcpElsewhere = false, int receiveMs = kFastReceiveMs)
    {
        int port = SilentPort();
        if (simArgs) {
            std::vector<std::string> args = *simArgs;
            if (!tcpElsewhere)
                args.insert(args.begin(), {"--udp-port", "same"});
            sim_.reset(new SimProcess(args));
            std::string error;
            ASSERT_TRUE(sim_->Start(&error)) << error;
            port = sim_->UdpPort();
        }
        ASSERT_GT(port, 0);
        RunnerOptions options = FastOptions();
        options.discovery.directedAddress = inet_addr(kLoopback);
        options.discovery.port = (uint16_t)port;
        options.discovery.receiveTimeoutMs = receiveMs;
        ui_.reset(new FindUi());
        runner_.reset(new OperationRunner(ui_.get(), options));
        ui_->Attach(runner_.get());
    }
    void TearDown() override
    {
        if (runner_)
            runner_->WorkerStop(true);
        if (ui_) {
            EXPECT_EQ(0, ui_->LockMistakes());
            EXPECT_EQ(0, ui_->rowMistakes.load());
        }
        runner_.reset();
        if (sim_ && HasFailure())
            printf("simulator output:\n%s\n", sim_->Output().c_str());
        sim_.reset();
    }
    void Run()
    {
        ASSERT_TRUE(runner_->FindDevicesBegin());
        ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs)) << ui_->Dump();
    }
    AppState State()
    {
        AppState state;
        runner_->StateGet(&state, nullptr);
        return state;
    }
    bool SlotEmpty()
    {
        runner_->ChannelLock();
        bool empty = runner_->ChannelLocked() == nullptr;
        runner_->ChannelUnlock();
        return empty;
    }
    // Stops the operation once needle is logged; true when it then ends as aborted well
    // within the waits it was in.
    void AbortAfter(const std::string& needle)
    {
        ASSERT_TRUE(runner_->FindDevicesBegin());
        ASSERT_TRUE(ui_->WaitForLine(needle, kOperationTimeoutMs)) << ui_->Dump();
        auto stopped = std::chrono::steady_clock::now();
        runner_->TalkStop();
        ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopped);
        EXPECT_LT(took.count(), 2500) << ui_->Dump();
        EXPECT_EQ(AppState::Aborted, State());
        EXPECT_GE(ui_->Find("Find devices end: ABORTED"), 0) << ui_->Dump();
        EXPECT_TRUE(SlotEmpty());
    }

    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<FindUi> ui_;
    std::unique_ptr<OperationRunner> runner_;
};

struct LoopCase {
    const char* name;
    bool withSim;
    std::vector<std::string> simArgs;
    bool tcpElsewhere;
    bool talkLog;
    AppState end;
    std::vector<FoundRow> rows;
    int64_t progressDone, progressTotal;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

const FoundRow kPlainRow = {kLoopback, kLoopback, kSimMac, kSimId, kSimVersion};
const FoundRow kBareRow = {kLoopback, kLoopback, kSimMac, "", ""};

const LoopCase kLoopCases[] = {
    {"identity, configured IP and details", true,
     {"--mac", "00:1A:2B:3C:4D:5E", "--ip", "10.1.2.3", "--id", "\xD0\xAE\xD0\xBD\xD0\xB8\xD1\x82" "7",
      "--version", "1.2.0.15"}, false, false, AppState::Succeeded,
     {{kLoopback, "10.1.2.3", "00:1A:2B:3C:4D:5E", "\xD0\xAE\xD0\xBD\xD0\xB8\xD1\x82" "7", "1.2.0.15"}}, 2, 2,
     {"Device search", "Device founded on address 127.0.0.1", "Get extra information...",
      "Send to broadcast addresses:", "\t\t127.0.0.1", "Find devices end: OK"},
     {"Get ID", "Connecting to"}},
    {"talk log shows the steps of phase two", true, {}, false, true, AppState::Succeeded, {kPlainRow}, 2, 2,
     {"Get ID", "Get version", "Connecting to '127.0.0.1:", "Get extra information"},
     {"Get extra information..."}},
    {"two answers from one address", true, {"--fault-discovery-duplicate"}, false, false, AppState::Error,
     {kBareRow, kBareRow}, 1, 2, {"Received some responses with one IP address", "Find devices end: ERROR"}, {}},
    {"identifier code 0 leaves ID empty", true, {"--fault-id-result", "0"}, false, false, AppState::Succeeded,
     {{kLoopback, kLoopback, kSimMac, "", kSimVersion}}, 2, 2, {}, {}},
    {"malformed answers are not listed", true, {"--fault-discovery-garbage"}, false, false, AppState::Succeeded,
     {kPlainRow}, 2, 2,
     {"Wrong file record return code (want '0x1'; read '0x0')", "Receiving error", "Wrong transaction identifier",
      "Wrong function code '0x15'"}, {}},
    {"unit gone in phase two", true, {}, true, false, AppState::Error, {kBareRow}, 1, 2, {"Connection error"}, {}},
    {"version read refused", true, {"--fault-exception", "3:4"}, false, false, AppState::Error, {kBareRow}, 1, 2,
     {"Device answer exception '0x4'"}, {}},
    {"no unit answers", false, {}, false, false, AppState::Succeeded, {}, 1, 0, {"Device search"},
     {"Get extra information", "Device founded"}},
};

TEST_F(DiscoveryTest, PhasesOnLoopback)
{
    for (const LoopCase& c : kLoopCases) {
        SCOPED_TRACE(c.name);
        runner_.reset();
        sim_.reset();
        Start(c.withSim ? &c.simArgs : nullptr, c.tcpElsewhere);
        runner_->FlagsSet(RunFlags::TalkLog, c.talkLog);
        Run();
        EXPECT_EQ(c.end, State()) << ui_->Dump();
        EXPECT_EQ(1, ui_->clears.load());
        std::vector<FoundRow> rows = ui_->Rows();
        ASSERT_EQ(c.rows.size(), rows.size()) << ui_->Dump();
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(c.rows[i].ipConnect, rows[i].ipConnect);
            EXPECT_EQ(c.rows[i].ip, rows[i].ip);
            EXPECT_EQ(c.rows[i].mac, rows[i].mac);
            EXPECT_EQ(c.rows[i].id, rows[i].id);
            EXPECT_EQ(c.rows[i].version, rows[i].version);
            EXPECT_TRUE(rows[i].duringPhaseOne);
        }
        int64_t done = -1, total = -1;
        int calls = 0;
        ui_->Progress(&done, &total, &calls);
        EXPECT_EQ(c.progressDone, done);
        EXPECT_EQ(c.progressTotal, total);
        for (const std::string& line : c.present)
            EXPECT_GE(ui_->Find(line), 0) << line << "\n" << ui_->Dump();
        for (const std::string& line : c.absent)
            EXPECT_LT(ui_->Find(line), 0) << line << "\n" << ui_->Dump();
        for (const StyleRule& rule : kStyles) {
            if (ui_->Find(rule.needle) >= 0) {
                EXPECT_EQ(rule.style, ui_->StyleOf(rule.needle)) << rule.needle;
            }
        }
        EXPECT_EQ(0u, runner_->Flags() & RunFlags::Quiet);
        EXPECT_TRUE(SlotEmpty());
    }
}

TEST_F(DiscoveryTest, AbortInPhaseOneThenAgain)
{
    // A long receive time-out: only the abort can end phase one early.
    const std::vector<std::string> args;
    Start(&args, false, 4000);
    AbortAfter("Device founded on address");
    EXPECT_EQ(1, ui_->RowCount());
    Run();
    EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    ASSERT_EQ(1, ui_->RowCount());
    EXPECT_EQ(kSimVersion, ui_->Rows()[0].version);
}

TEST_F(DiscoveryTest, AbortInPhaseTwoThenAgain)
{
    // The discovery answer goes out at once, the identifier answer only after 4 s.
    const std::vector<std::string> args = {"--fault-after", "1", "--fault-delay", "4000:1"};
    Start(&args);
    AbortAfter("Get extra information");
    EXPECT_EQ("", ui_->Rows()[0].version);
    Run();
    EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    EXPECT_EQ(kSimVersion, ui_->Rows()[0].version);
}

TEST_F(DiscoveryTest, BeginIsRefusedWhileBusy)
{
    const std::vector<std::string> args;
    Start(&args);
    ASSERT_TRUE(runner_->FindDevicesBegin());
    EXPECT_FALSE(runner_->FindDevicesBegin());
    EXPECT_FALSE(runner_->CommandBegin(OperationKind::VersionRead));
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
    EXPECT_EQ(1, ui_->clears.load());
}

struct TextCase {
    uint8_t bytes[16];
    const char* mac;
    const char* ip;
    const char* version;
};

TEST(DiscoveryTexts, RecordFieldsAsShown)
{
    const TextCase cases[] = {
        {{0, 1, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 9, 9, 9, 9, 192, 168, 1, 10}, "00:1A:2B:3C:4D:5E", "192.168.1.10",
         "0.1.0.26"},
        {{1, 2, 0xFF, 0xFE, 0xFD, 0x00, 0x01, 0x80, 0, 0, 0, 0, 255, 255, 255, 255}, "FF:FE:FD:00:01:80",
         "255.255.255.255", "1.2.255.254"},
    };
    for (const TextCase& c : cases) {
        EXPECT_STREQ(c.mac, DiscoveryMacText(c.bytes).Text());
        EXPECT_STREQ(c.ip, DiscoveryIpText(c.bytes).Text());
        EXPECT_STREQ(c.version, DiscoveryVersionText(c.bytes).Text());
    }
    const uint8_t version[4] = {1, 2, 0, 15};
    EXPECT_STREQ("1.2.0.15", DiscoveryVersionText(version).Text());
    // WINDOWS-1251 "Юнит7" and its NUL padding; 0x98 has no character in that code page.
    const uint8_t id[6] = {0xDE, 0xED, 0xE8, 0xF2, '7', 0};
    EXPECT_STREQ("\xD0\xAE\xD0\xBD\xD0\xB8\xD1\x82" "7", DiscoveryIdentifierText(id, 6).Text());
    const uint8_t bad[6] = {'A', 0x98, 'B', 0, 0, 0};
    EXPECT_STREQ("", DiscoveryIdentifierText(bad, 6).Text());
}
}  // namespace
