// The runner's end lines, aborts and busy rule; the commands against the simulator, each also
// with the unit refusing or garbling its part.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/LogTypes.h"
#include "operations/LogLines.h"
#include "tests/support/RunnerSim.h"
#include "tests/support/ScriptedPeer.h"

namespace {
using RunnerTest = RunnerSimTest;

// End lines carry the time since the begin line; reading images does no work, settings bodies
// come from the front end (refused here); a unit gone ends with a connection error.
TEST_F(RunnerTest, EndLinesDurationsKindsWithoutBodyAndARefusedConnection)
{
    const struct {
        OperationKind kind;
        int64_t seconds;
        const char* end;
    } cases[] = {{OperationKind::VersionRead, 0, "Read firmware version end: OK. Elapsed time: lower one second."},
                 {OperationKind::VersionRead, 59, "Read firmware version end: OK. Elapsed time: 59 s."},
                 {OperationKind::VersionRead, 60, "Read firmware version end: OK. Elapsed time: 1 min 0 s."},
                 {OperationKind::VersionRead, 125, "Read firmware version end: OK. Elapsed time: 2 min 5 s."},
                 {OperationKind::FirmwareRead, 0, "Read firmware end: OK. Elapsed time: lower one second."},
                 {OperationKind::LoaderRead, 0, "Read loader end: OK. Elapsed time: lower one second."},
                 {OperationKind::ReadSettingsAll, 0, "Read settings end: ERROR. Elapsed time: lower one second."}};
    StartSim({"--fault-delay", "200"});  // slow answers: the shift is set before the end line
    for (const auto& c : cases) {
        ui_->clockShift = 0;
        if (!runner_->CommandBegin(c.kind))
            runner_->ThreadCreate(c.kind, SString("begin"));
        ui_->clockShift = c.seconds;
        Finish();
        EXPECT_EQ(c.end, EndLine());
    }
    sim_->Stop();  // nobody listens on its port any more
    RunnerStart(sim_->HostPort());
    EXPECT_EQ(AppState::Error, Run(OperationKind::VersionRead));
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Connection error: 'Connection refused'")) << ui_->Dump();
    EXPECT_EQ("Read firmware version end: ERROR. Elapsed time: lower one second.", EndLine());
    EXPECT_EQ(LogStyleResultError, ui_->Lines().back().styles[1]);
    EXPECT_EQ(std::vector<AppState>({AppState::Connecting, AppState::Error}), ui_->States());
}

TEST_F(RunnerTest, AbortWhileConnectingEndsAtOnceAndAWorkerThatCannotStartLeavesTheBusyStates)
{
    // A listener whose accept queue is full: a connection attempt waits for its time-out.
    int port = 0, fds[4] = {BindLoopback(SOCK_STREAM, &port)};
    sockaddr_in a = {AF_INET, htons((uint16_t)port), {htonl(INADDR_LOOPBACK)}, {}};
    ASSERT_EQ(0, listen(fds[0], 0));
    for (int i = 1; i < 4; ++i)
        connect(fds[i] = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0), (sockaddr*)&a, sizeof a);
    RunnerOptions options = FastOptions();
    options.channelFactory = nullptr;  // the standard 5 s socket time-out
    RunnerStart("127.0.0.1:" + std::to_string(port), options);
    ASSERT_TRUE(runner_->CommandBegin(OperationKind::VersionRead));
    // A loaded, instrumented build may take seconds to get there: the bound runs from the line.
    ASSERT_TRUE(ui_->WaitForLine("Connecting to '127.0.0.1:", 30000)) << ui_->Dump();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(AppState::Connecting, State());
    runner_->TalkStop();
    EXPECT_EQ(AppState::Aborted, Finish());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << "the connect was not cut short";
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Attempt to abort execution"));
    EXPECT_EQ(0u, EndLine().find("Read firmware version end: ABORTED. Elapsed time: ")) << ui_->Dump();
    EXPECT_EQ(LogStyleResultAborted, ui_->Lines().back().styles[1]);
    for (int fd : fds)
        close(fd);
    options.workerStackBytes = 1;  // below any stack the thread library accepts
    RunnerStart("127.0.0.1:1", options);
    EXPECT_TRUE(runner_->CommandBegin(OperationKind::VersionRead));
    EXPECT_EQ(std::make_tuple(false, AppState::Error, 0),
              std::make_tuple(runner_->IsBusy(), State(), runner_->IndentDepth()));
    EXPECT_EQ(std::vector<std::string>{"Read firmware version begin"}, ui_->Texts());
}

TEST_F(RunnerTest, AbortMidWriteThenTheNextOperationsSucceed)
{
    StartSim({"--fault-delay", "25:60"});  // slow enough to abort in the middle of the write
    const std::string path = scratch_ / "slow.bin";
    WriteText(path, std::string(12 * 40, 'x'));
    runner_->ImageSet(SString(path.c_str()));
    ASSERT_TRUE(runner_->WriteBegin(true));
    for (int i = 0; i < 2000 && ui_->progressCalls < 6; ++i)  // some records written
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(0, runner_->CommandBegin(OperationKind::VersionRead) + runner_->WriteBegin(false) +
                     runner_->ChangePasswordBegin(2) + runner_->FindDevicesBegin());
    runner_->WorkerStop(true);  // returns once the worker has ended
    EXPECT_FALSE(runner_->IsBusy());
    EXPECT_EQ(AppState::Aborted, State());
    EXPECT_EQ(1, ui_->Count("begin"));
    EXPECT_EQ(0u, EndLine().find("Write firmware end: ABORTED.")) << ui_->Dump();  // no reboot hint after it
    EXPECT_NE("40/40", ui_->ProgressText());
    // Running is set again by the next begin.
    ASSERT_TRUE(runner_->WriteBegin(true));
    EXPECT_EQ(AppState::Succeeded, Finish()) << ui_->Dump();
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::VersionRead));
    // Joining a finished worker lets go of the display lock and takes it again.
    EXPECT_EQ(ui_->lockReleases.load(), ui_->lockAcquires.load());
    EXPECT_GE(ui_->lockReleases.load(), 2);
}

TEST(LogTexts, LineBreaksGoAndThePrefixIndents)
{
    const struct {
        const char* text;
        uint32_t mode;
        const char* clean;
    } cases[] = {{"a\r\nb\n\r", LogModeLine, "ab"}, {"a\nb", LogModeLine, "ab"}, {"a\rb\r", LogModeOpen, "ab"},
                 {"a\nb\n", LogModeLine | kLogRaw, "a\nb\n"}};
    for (const auto& c : cases)
        EXPECT_STREQ(c.clean, LogTextClean(SString(c.text), c.mode).Text()) << c.text;
    EXPECT_STREQ("    ", LogPrefix(0, 2).Text());
    const std::string stamped = LogPrefix(1700000000, 1).Text();
    EXPECT_EQ("12:  ", std::to_string(stamped.size()) + stamped.substr(2, 1) + stamped.substr(8, 2)) << stamped;
}

// Typed passwords are read with their base and sent as sixteen bits; a change holds for the next operation.
TEST_F(RunnerTest, VersionReadAndPasswords)
{
    const struct {
        const char* typed;
        int32_t parsed;
    } cases[] = {{"0x1A2B", 6699}, {"017", 15}, {"abc", 0}, {"70000", 70000},
                 // Beyond 32 bits the number stops at the nearest limit, as a 32-bit strtol does.
                 {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}};
    for (const auto& c : cases)
        EXPECT_EQ(c.parsed, DevicePasswordParse(c.typed)) << c.typed;
    password_ = "70000";
    StartSim({"--version", "1.2.0.15", "--password", "4464", "--reboot-delay", "0"});
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::VersionRead));
    EXPECT_EQ("1.2.0.15", ui_->Version());
    EXPECT_EQ((std::vector<std::string>{"Read firmware version begin", "  Open TCP socket",
                                        "  Connecting to '" + sim_->HostPort() + "'", "  Device talk...", "  Close socket",
                                        "Read firmware version end: OK. Elapsed time: lower one second."}),
              ui_->Texts());
    EXPECT_EQ(LogStyleResultOK, ui_->Lines().back().styles[1]);
    EXPECT_EQ("1/1", ui_->ProgressText());
    EXPECT_EQ(std::vector<AppState>({AppState::Connecting, AppState::Running, AppState::Succeeded}), ui_->States());
    ASSERT_TRUE(runner_->ChangePasswordBegin(32767));
    EXPECT_EQ(AppState::Succeeded, Finish()) << ui_->Dump();  // 70000 sent as 4464
    EXPECT_EQ("Change password end: OK. Elapsed time: lower one second.", EndLine());
    EXPECT_EQ("1/1", ui_->ProgressText());
    EXPECT_EQ(AppState::Error, Run(OperationKind::Reboot));  // still with the old password
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Device answer exception '0x3'")) << ui_->Dump();
    EXPECT_EQ("Send 'reboot' command end: ERROR. Elapsed time: lower one second.", EndLine());
    // A change with the old password is refused too, and the new one holds.
    ASSERT_TRUE(runner_->ChangePasswordBegin(5));
    EXPECT_EQ(AppState::Error, Finish());
    EXPECT_EQ("0/0", ui_->ProgressText());
    ui_->Inputs(sim_->HostPort(), "32767");
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::Reboot)) << ui_->Dump();
}

// The gateway test checks the Tamrin answer; a refused version read shows no version.
TEST_F(RunnerTest, GatewayTestAndRefusals)
{
    const struct {
        std::vector<std::string> faults;
        bool talkLog;
        AppState state;
        const char *line, *progress;  // line: one the log must hold
    } cases[] = {
        {{}, true, AppState::Succeeded, "  Receive data from Tamrin", "1/1"},
        {{"--fault-tamrin", "prefix"}, false, AppState::Error, "Wrong Tamrin prefix (want '0x55'; read '0x54')", "1/2"},
        {{"--fault-tamrin", "check"}, false, AppState::Error, "Wrong Tamrin CRC (want '0x", "1/2"},
        {{"--fault-exception", "65:4"}, false, AppState::Error, "Device answer exception '0x4'", "1/2"},
        {{"--fault-exception", "67:4"}, true, AppState::Error, "  Send data to Tamrin", "0/0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        StartSim(c.faults);
        runner_->FlagsSet(RunFlags::TalkLog, c.talkLog);
        EXPECT_EQ(c.state, Run(OperationKind::TestGateway));
        EXPECT_GE(ui_->Find(c.line), 0) << ui_->Dump();
        EXPECT_EQ(c.state == AppState::Succeeded ? 0 : 1, ui_->Count("Wrong Tamrin") + ui_->Count("exception"));
        EXPECT_EQ(c.talkLog, ui_->Find("Device talk...") < 0);
        EXPECT_EQ(c.progress, ui_->ProgressText());
    }
    StartSim({"--fault-exception", "3:4"});
    EXPECT_EQ(AppState::Error, Run(OperationKind::VersionRead));
    EXPECT_EQ("/0/0", ui_->Version() + "/" + ui_->ProgressText());
}

}  // namespace
