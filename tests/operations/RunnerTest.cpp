// The runner: begin and end lines, durations, message filtering, abort at every stage, the
// busy rule and the channel slot.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/LogTypes.h"
#include "tests/operations/ScriptedUnit.h"
#include "tests/operations/SimFixture.h"

namespace {
class RunnerTest : public RunnerSimTest {};

struct DurationCase {
    int64_t seconds;
    const char* text;
};
const DurationCase kDurations[] = {
    {0, "lower one second"}, {1, "1 s"}, {59, "59 s"}, {60, "1 min 0 s"}, {125, "2 min 5 s"},
};

TEST(RunnerTexts, DurationText)
{
    for (const DurationCase& c : kDurations)
        EXPECT_STREQ(c.text, DurationText(c.seconds).Text()) << c.seconds;
}

TEST_F(RunnerTest, EndLineCarriesTheElapsedTimeFromTheBeginLine)
{
    // Every answer waits, so the clock shift is in place before the end line is written.
    StartSim({"--fault-delay", "200"});
    for (const DurationCase& c : kDurations) {
        SCOPED_TRACE(c.text);
        ui_->clockShift = 0;
        ASSERT_TRUE(runner_->CommandBegin(OperationKind::VersionRead));
        ui_->clockShift = c.seconds;
        ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
        EXPECT_EQ(std::string("Read firmware version end: OK. Elapsed time: ") + c.text + ".", EndLine());
    }
}

struct FilterCase {
    uint32_t flags;
    int style;
    bool shown;
};

TEST_F(RunnerTest, ChannelMessagesPassByTheRunningTalkLogAndQuietFlags)
{
    const uint32_t R = RunFlags::Running, T = RunFlags::TalkLog, Q = RunFlags::Quiet;
    const FilterCase cases[] = {
        {0, LogStyleError, false},     {T, LogStylePlain, false},    {R, LogStylePlain, true},
        {R | Q, LogStylePlain, false}, {R | Q | T, LogStylePlain, true}, {R | Q, LogStyleError, true},
        {R | Q, LogStyleTraffic, true},
    };
    ui_.reset(new RecordingUi());
    runner_.reset(new OperationRunner(ui_.get(), FastOptions()));
    ui_->Attach(runner_.get());
    int n = 0;
    for (const FilterCase& c : cases) {
        runner_->FlagsSet(R | T | Q, false);
        runner_->FlagsSet(c.flags, true);
        std::string text = "message " + std::to_string(n++);
        // Channels log from the worker thread.
        std::thread worker([&] { runner_->LogMessage(SString(text.c_str()), c.style, LogModeLine); });
        worker.join();
        EXPECT_EQ(c.shown, ui_->Find(text) >= 0) << "flags " << c.flags << " style " << c.style;
    }
    runner_->FlagsSet(R, false);
}

TEST_F(RunnerTest, RefusedConnectionEndsWithError)
{
    StartSim();
    // A port nobody listens on: the simulator's own port once it has gone.
    std::string host = sim_->HostPort();
    sim_->Stop();
    ui_->Inputs(host, "1");
    RunCommand(OperationKind::VersionRead);
    EXPECT_EQ(AppState::Error, State());
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Connection error: 'Connection refused'")) << ui_->Dump();
    EXPECT_EQ("Read firmware version end: ERROR. Elapsed time: lower one second.", EndLine());
    EXPECT_EQ(LogStyleResultError, ui_->Lines().back().styles[1]);
    std::vector<AppState> expected = {AppState::Connecting, AppState::Error};
    EXPECT_EQ(expected, ui_->States());
}

// A listener whose accept queue is full: a connection attempt to it waits for its time-out.
class FullListener {
public:
    FullListener()
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        bind(listener_, (sockaddr*)&a, sizeof a);
        listen(listener_, 0);
        getsockname(listener_, (sockaddr*)&a, &n);
        port_ = ntohs(a.sin_port);
        for (int& fd : fillers_) {
            fd = socket(AF_INET, SOCK_STREAM, 0);
            fcntl(fd, F_SETFL, O_NONBLOCK);
            connect(fd, (sockaddr*)&a, sizeof a);
        }
    }
    ~FullListener()
    {
        for (int fd : fillers_)
            close(fd);
        close(listener_);
    }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int listener_;
    int port_ = 0;
    int fillers_[3];
};

TEST_F(RunnerTest, AbortWhileConnectingEndsAborted)
{
    ui_.reset(new RecordingUi());
    RunnerOptions options = FastOptions();
    options.channelFactory = nullptr;  // the standard 5 s socket time-out
    runner_.reset(new OperationRunner(ui_.get(), options));
    ui_->Attach(runner_.get());
    FullListener listener;
    ui_->Inputs(listener.HostPort(), "1");

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(runner_->CommandBegin(OperationKind::VersionRead));
    ASSERT_TRUE(ui_->WaitForLine("Connecting to '" + listener.HostPort() + "'", 3000)) << ui_->Dump();
    AppState state;
    runner_->StateGet(&state, nullptr);
    EXPECT_EQ(AppState::Connecting, state);
    runner_->TalkStop();
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(4)) << "the abort did not interrupt the connection attempt";

    EXPECT_EQ(AppState::Aborted, State());
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Attempt to abort execution"));
    EXPECT_EQ(0u, EndLine().find("Read firmware version end: ABORTED. Elapsed time: ")) << ui_->Dump();
    EXPECT_EQ(LogStyleResultAborted, ui_->Lines().back().styles[1]);
}

TEST_F(RunnerTest, AbortMidWriteThenTheNextOperationsSucceed)
{
    // The first 60 answers are slow enough to abort in the middle of the write.
    StartSim({"--fault-delay", "25:60"});
    std::vector<uint8_t> image = ImageBytes(12 * 40, 21);
    std::string path = FileWrite(scratch_, "slow.bin", image);
    runner_->ImageSet(SString(path.c_str()));
    ASSERT_TRUE(runner_->WriteBegin(true));

    int64_t done = 0, total = 0;
    int calls = 0;
    for (int i = 0; i < 1000 && done < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ui_->Progress(&done, &total, &calls);
    }
    ASSERT_GE(done, 5);
    // Another begin while the write runs does nothing.
    EXPECT_FALSE(runner_->CommandBegin(OperationKind::VersionRead));
    EXPECT_FALSE(runner_->WriteBegin(false));
    OperationKind kind;
    runner_->StateGet(nullptr, &kind);
    EXPECT_EQ(OperationKind::FirmwareWrite, kind);
    EXPECT_EQ(1, ui_->Count("begin"));

    runner_->TalkStop();
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
    EXPECT_EQ(AppState::Aborted, State());
    EXPECT_EQ(0u, EndLine().find("Write firmware end: ABORTED.")) << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find("You need reboot"));
    ui_->Progress(&done, &total, &calls);
    EXPECT_LT(done, total);

    // Running is set again by the next begin.
    RunWriteFile(path, true);
    EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    StagedRecords staged;
    ASSERT_TRUE(StagedRead(stateDir_ + "/staged-firmware.rec", &staged));
    EXPECT_EQ(image, staged.unmasked);
    RunCommand(OperationKind::VersionRead);
    EXPECT_EQ(AppState::Succeeded, State());
    // Joining a finished worker lets go of the display lock and takes it again.
    EXPECT_EQ(ui_->lockReleases.load(), ui_->lockAcquires.load());
    EXPECT_GE(ui_->lockReleases.load(), 2);
}

// A channel that only counts how the runner treats it.
class CountingChannel : public TalkChannel {
public:
    CountingChannel(TalkChannelExtI* owner, int* closes, int* deletes)
        : TalkChannel(owner, ""), closes_(closes), deletes_(deletes) {}
    ~CountingChannel() override { ++*deletes_; }
    bool Open() override { return true; }
    bool Close() override { ++*closes_; return true; }
    bool Shutdown() override { return true; }
    bool Send(const void*, int) override { return false; }
    bool Receive(void*, int, int*, bool*) override { return false; }
    bool IsOpened() override { return true; }
    void ReportError(const char*, int, const char*, const char*) override {}

private:
    int* closes_;
    int* deletes_;
};

TEST_F(RunnerTest, ChannelLeftInTheSlotIsClosedBeforeTheSessionOpens)
{
    StartSim();
    int closes = 0, deletes = 0;
    runner_->ChannelLock();
    runner_->ChannelPutLocked(new CountingChannel(runner_.get(), &closes, &deletes));
    runner_->ChannelUnlock();
    RunCommand(OperationKind::VersionRead);
    EXPECT_EQ(1, closes);
    EXPECT_EQ(1, deletes);
    EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    runner_->ChannelLock();
    EXPECT_EQ(nullptr, runner_->ChannelLocked());
    runner_->ChannelUnlock();
}

TEST_F(RunnerTest, KindsWithoutBodyAndKindsOfOtherLibraries)
{
    StartSim();
    struct Case {
        OperationKind kind;
        AppState state;
        const char* end;
    };
    // Reading images does no work; the settings bodies come from the front end, which refuses
    // them here. (Discovery has its own tests: started here it would broadcast.)
    const Case cases[] = {
        {OperationKind::FirmwareRead, AppState::Succeeded, "Read firmware end: OK."},
        {OperationKind::LoaderRead, AppState::Succeeded, "Read loader end: OK."},
        {OperationKind::ReadSettingsAll, AppState::Error, "Read settings end: ERROR."},
    };
    for (const Case& c : cases) {
        runner_->ThreadCreate(c.kind, SString("begin"));
        ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
        EXPECT_EQ(c.state, State());
        EXPECT_EQ(0u, EndLine().find(c.end)) << ui_->Dump();
    }
}

TEST_F(RunnerTest, WorkerThatCannotStartLeavesTheBusyStates)
{
    ui_.reset(new RecordingUi());
    RunnerOptions options = FastOptions();
    options.workerStackBytes = 1;  // below any stack the thread library accepts
    runner_.reset(new OperationRunner(ui_.get(), options));
    ui_->Attach(runner_.get());
    ui_->Inputs("127.0.0.1:1", "1");
    EXPECT_TRUE(runner_->CommandBegin(OperationKind::VersionRead));
    EXPECT_FALSE(runner_->IsBusy());
    EXPECT_EQ(AppState::Error, State());
    EXPECT_EQ(0, runner_->IndentDepth());
    std::vector<std::string> expected = {"Read firmware version begin"};
    EXPECT_EQ(expected, ui_->Texts());
}
}  // namespace
