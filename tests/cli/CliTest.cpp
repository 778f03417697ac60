// pelta-cli end to end against the simulator: exit codes, the log lines it prints, the
// progress bar on a terminal and Ctrl-C.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>
#include <regex>
#include <sstream>

#include "cli/Interrupts.h"
#include "operations/OperationRunner.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/SimProcess.h"

namespace {
const int kOk = 0, kFailed = 1, kUsage = 2, kAborted = 3;

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The line without its "HH:MM:SS  " prefix; empty when the prefix is missing.
std::string Unstamped(const std::string& line)
{
    static const std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]  ");
    return std::regex_search(line, stamp) ? line.substr(10) : std::string();
}

class CliTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> args = {})
    {
        sim_.reset(new SimProcess(args));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
        const char* tmp = getenv("TMPDIR");
        image_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelta-cli-test-" + std::to_string(getpid()) + ".bin";
    }
    void TearDown() override
    {
        if (sim_)
            sim_->Stop();
        if (!image_.empty())
            unlink(image_.c_str());
    }
    void Image(size_t size)
    {
        std::ofstream out(image_, std::ios::binary | std::ios::trunc);
        for (size_t i = 0; i < size; ++i)
            out.put((char)(i * 7 + 3));
    }
    std::vector<std::string> Host() { return {"--host", sim_->HostPort()}; }
    std::vector<std::string> Args(std::vector<std::string> a)
    {
        for (const std::string& h : Host())
            a.push_back(h);
        return a;
    }

    std::unique_ptr<SimProcess> sim_;
    std::string image_;
};

TEST(CliArguments, BadArgumentsExitWithTwoAndTheUsage)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"flash", "--host", "127.0.0.1"},
        {"version"},
        {"write-firmware", "--host", "127.0.0.1"},
        {"version", "--host", "127.0.0.1", "--colour"},
        {"version", "extra", "--host", "127.0.0.1"},
        {"version", "--host"},
    };
    for (const auto& args : cases) {
        CliResult r = CliRun(args);
        std::string joined;
        for (const std::string& a : args)
            joined += a + " ";
        EXPECT_EQ(kUsage, r.exitCode) << joined;
        EXPECT_NE(std::string::npos, r.err.find("usage: pelta-cli")) << joined;
        EXPECT_TRUE(r.out.empty()) << joined;
    }
}

TEST_F(CliTest, VersionPrintsTheLogLinesAndTheVersion)
{
    Start({"--version", "1.2.0.15"});
    CliResult r = CliRun(Args({"version"}));
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    std::vector<std::string> lines = LinesOf(r.out);
    const std::vector<std::string> expected = {
        "Read firmware version begin",
        "  Open TCP socket",
        "  Connecting to '" + sim_->HostPort() + "'",
        "  Device talk...",
        "  Close socket",
    };
    ASSERT_EQ(expected.size() + 2, lines.size()) << r.out;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(expected[i], Unstamped(lines[i]));
    // Time stamps are whole seconds: a short read may straddle a second boundary.
    EXPECT_TRUE(std::regex_match(Unstamped(lines[expected.size()]),
                                 std::regex("Read firmware version end: OK\\. Elapsed time: (lower one second|1 s)\\.")))
        << r.out;
    EXPECT_EQ("Firmware version: 1.2.0.15", lines.back());
    EXPECT_EQ(std::string::npos, r.out.find('\033')) << "colours on a pipe";
}

TEST_F(CliTest, WriteFirmwareVerifiesAndEndsWithTheRebootHint)
{
    Start();
    Image(240);
    CliResult r = CliRun(Args({"write-firmware", image_}));
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    std::vector<std::string> lines = LinesOf(r.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(std::string::npos, Unstamped(lines[0]).find("Write firmware from 'pelta-cli-test-"));
    EXPECT_EQ(0u, Unstamped(lines[lines.size() - 3]).find("Write firmware end: OK. Elapsed time: ")) << r.out;
    EXPECT_EQ("", lines[lines.size() - 2]);
    EXPECT_EQ("You need reboot Pelta for applying new firmware/loader (menu \"Device->Reboot\")", lines.back());
    EXPECT_EQ(std::string::npos, r.out.find('\r')) << "a progress bar on a pipe";
}

TEST_F(CliTest, FailuresExitWithOne)
{
    struct Case {
        std::vector<std::string> sim;
        std::vector<std::string> cli;
        const char* line;
    };
    const Case cases[] = {
        {{"--fault-result", "0:2"}, {"write-loader", "IMAGE"}, "Read record result not ok: 2 - 'CRC error'"},
        {{"--fault-tamrin", "check"}, {"test-gateway"}, "Wrong Tamrin CRC (want '0x"},
        {{}, {"reboot", "--password", "0x7"}, "Device answer exception '0x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Start(c.sim);
        Image(48);
        std::vector<std::string> cli = c.cli;
        for (std::string& a : cli)
            if (a == "IMAGE")
                a = image_;
        CliResult r = CliRun(Args(cli));
        EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
        EXPECT_NE(std::string::npos, r.out.find(c.line)) << r.out;
        EXPECT_NE(std::string::npos, r.out.find(" end: ERROR. Elapsed time: ")) << r.out;
        TearDown();
    }
}

TEST(CliArguments, ImageFileProblemsExitWithTwoBeforeAnyConnection)
{
    const char* tmp = getenv("TMPDIR");
    const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelta-cli-files-" + std::to_string(getpid());
    ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
    const std::string fifo = dir + "/fifo.bin", locked = dir + "/locked.bin";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::ofstream(locked) << "1234";
    ASSERT_EQ(0, chmod(locked.c_str(), 0));
    struct Case {
        std::string file;
        const char* reason;
    };
    std::vector<Case> cases = {
        {dir + "/missing.bin", "No such file or directory"},
        {dir, "not a regular file"},
        {fifo, "not a regular file"},
        {"/dev/null", "not a regular file"},
    };
    // The super-user reads every file.
    if (geteuid() != 0)
        cases.push_back({locked, "Permission denied"});
    for (const Case& c : cases) {
        for (const char* command : {"write-firmware", "write-loader"}) {
            // A port nothing listens on: a connection attempt would show on standard output.
            CliResult r = CliRun({command, c.file, "--host", "127.0.0.1:1"});
            EXPECT_EQ(kUsage, r.exitCode) << command << " " << c.file;
            EXPECT_EQ("pelta-cli: '" + c.file + "': " + c.reason + "\n", r.err) << command;
            EXPECT_EQ("", r.out) << command << " " << c.file;
        }
    }
    unlink(fifo.c_str());
    unlink(locked.c_str());
    rmdir(dir.c_str());
}

TEST_F(CliTest, ImageNameThatIsNotUtf8ReachesTheReader)
{
    Start();
    Image(48);
    const std::string name = image_ + "-\xff\xfe.bin";
    ASSERT_EQ(0, rename(image_.c_str(), name.c_str()));
    CliResult r = CliRun(Args({"write-firmware", name}));
    rename(name.c_str(), image_.c_str());
    EXPECT_EQ(kOk, r.exitCode) << r.out << r.err;
    // Shown with replacement characters, opened by its own bytes.
    EXPECT_NE(std::string::npos, r.out.find(".bin-\xef\xbf\xbd\xef\xbf\xbd.bin' begin")) << r.out;
}

TEST_F(CliTest, TalkLogShowsRecordsAndTraffic)
{
    Start();
    Image(24);
    CliResult r = CliRun(Args({"write-firmware", image_, "--talk-log"}));
    ASSERT_EQ(kOk, r.exitCode) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("  Write and check header (record 3:0)\n"));
    EXPECT_NE(std::string::npos, r.out.find("  Write and check code (record 3:2)\n"));
    EXPECT_NE(std::string::npos, r.out.find("--> 32 bytes:")) << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("Device talk..."));
}

// The threads of pid other than its main thread whose signal mask lets sig through.
std::vector<std::string> ThreadsTaking(pid_t pid, int sig)
{
    std::vector<std::string> taking;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return {"no " + tasks};
    int others = 0;
    while (struct dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.' || std::to_string(pid) == e->d_name)
            continue;
        ++others;
        std::ifstream status(tasks + "/" + e->d_name + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.compare(0, 7, "SigBlk:") == 0 && !((std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1))
                taking.push_back(std::string("thread ") + e->d_name);
    }
    closedir(dir);
    if (others == 0)
        taking.push_back("no worker thread");
    return taking;
}

TEST_F(CliTest, CtrlCAndTermStopTheWriteLikeTheStopButton)
{
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        // Every answer waits, so the write is still running when the signal comes.
        Start({"--fault-delay", "40"});
        Image(1200);
        CliOptions options;
        options.interruptOn = "Device talk...";
        options.signal = sig;
        std::vector<std::string> taking;
        options.beforeSignal = [&](pid_t pid) {
            taking = ThreadsTaking(pid, SIGINT);
            for (const std::string& t : ThreadsTaking(pid, SIGTERM))
                taking.push_back(t);
        };
        CliResult r = CliRun(Args({"write-firmware", image_}), options);
        ASSERT_TRUE(r.interrupted) << r.out;
        EXPECT_TRUE(taking.empty()) << "signals reach other threads than the main one: " << taking.front();
        EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
        std::vector<std::string> lines = LinesOf(r.out);
        ASSERT_GE(lines.size(), 2u);
        size_t attempt = r.out.find("Attempt to abort execution");
        EXPECT_NE(std::string::npos, attempt) << r.out;
        // A worker call cut short by the signal would report itself before the stop request.
        EXPECT_EQ(std::string::npos, r.out.substr(0, attempt).find("error")) << r.out;
        EXPECT_EQ(0u, Unstamped(lines.back()).find("Write firmware end: ABORTED. Elapsed time: ")) << r.out;
        EXPECT_EQ(std::string::npos, r.out.find("You need reboot"));
        TearDown();
    }
}

TEST_F(CliTest, ThirdCtrlCWithinTwoSecondsEndsAtOnce)
{
    // With the terminal's output suspended nothing the stop request starts can finish.
    Start({"--fault-delay", "40"});
    Image(1200);
    CliOptions options;
    options.interruptOn = "Device talk...";
    options.terminal = true;
    options.suspendOutput = true;
    options.signalCount = 3;
    options.timeoutMs = 20000;
    CliResult r = CliRun(Args({"write-firmware", image_}), options);
    ASSERT_TRUE(r.interrupted) << r.out;
    EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("Write firmware end:")) << r.out;
}

// A session channel whose Open waits until the test lets it go (the worker then holds the
// channel lock) and whose Connect waits until the channel is shut down.
class GateChannel : public TalkChannel {
public:
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool inOpen = false, openFree = false, inConnect = false, shut = false, connectShut = false;
    };
    GateChannel(TalkChannelExtI* owner, Gate* gate) : TalkChannel(owner, ""), gate_(gate) {}
    bool Open() override
    {
        std::unique_lock<std::mutex> hold(gate_->lock);
        gate_->inOpen = true;
        gate_->changed.notify_all();
        gate_->changed.wait(hold, [&] { return gate_->openFree; });
        return true;
    }
    bool Connect(const SString&) override
    {
        std::unique_lock<std::mutex> hold(gate_->lock);
        gate_->inConnect = true;
        gate_->changed.notify_all();
        gate_->connectShut = gate_->changed.wait_for(hold, std::chrono::seconds(10), [&] { return gate_->shut; });
        return false;
    }
    bool Shutdown() override
    {
        std::lock_guard<std::mutex> hold(gate_->lock);
        gate_->shut = true;
        gate_->changed.notify_all();
        return true;
    }
    bool Close() override { return true; }
    bool Send(const void*, int) override { return false; }
    bool Receive(void*, int, int*, bool*) override { return false; }
    bool IsOpened() override { return true; }
    void ReportError(const char*, int, const char*, const char*) override {}

private:
    Gate* gate_;
};

// Counts the stop requests the main thread makes (its log line) and nothing else.
class StopCountUi : public RunnerUiI {
public:
    time_t LogAdd(const SString& text, uint32_t, bool, int) override
    {
        std::lock_guard<std::mutex> hold(lock);
        stops += std::string(text.Text()) == "Attempt to abort execution";
        changed.notify_all();
        return 0;
    }
    void LogInsert(const SString&, uint32_t, bool, int) override {}
    void LogClear(bool) override {}
    void ProgressSet(int64_t, int64_t, bool) override {}
    void RunStateChanged(bool) override
    {
        std::lock_guard<std::mutex> hold(lock);
        ++stateChanges;
        changed.notify_all();
    }
    void SessionInputs(SString& host, SString& password) override
    {
        host.Assign("127.0.0.1");
        password.Assign("1");
    }
    void VersionShow(const SString&) override {}
    void GuiLockRelease() override {}
    void GuiLockAcquire() override {}

    std::mutex lock;
    std::condition_variable changed;
    int stops = 0, stateChanges = 0;
};

TEST(CliInterrupts, SecondPressShutsDownWhatTheFirstFoundLocked)
{
    GateChannel::Gate gate;
    StopCountUi ui;
    RunnerOptions options;
    options.channelFactory = [&gate](TalkChannelExtI* owner) { return new GateChannel(owner, &gate); };
    OperationRunner runner(&ui, options);
    int wake[2];
    ASSERT_EQ(0, pipe(wake));
    const auto bound = std::chrono::seconds(10);
    ASSERT_TRUE(runner.CommandBegin(OperationKind::VersionRead));
    {
        std::unique_lock<std::mutex> hold(gate.lock);
        ASSERT_TRUE(gate.changed.wait_for(hold, bound, [&] { return gate.inOpen; }));
    }
    std::thread mainThread([&] { OperationWait(runner, wake[0], 'i', {}); });

    // The first press finds the channel lock taken: the stop request cannot reach the channel.
    int changesBefore;
    {
        std::lock_guard<std::mutex> hold(ui.lock);
        changesBefore = ui.stateChanges;
    }
    ASSERT_EQ(1, write(wake[1], "i", 1));
    {
        std::unique_lock<std::mutex> hold(ui.lock);
        // The press has ended with its state report.
        EXPECT_TRUE(ui.changed.wait_for(hold, bound, [&] { return ui.stops == 1 && ui.stateChanges > changesBefore; }));
    }
    {
        std::unique_lock<std::mutex> hold(gate.lock);
        EXPECT_FALSE(gate.shut);
        gate.openFree = true;
        gate.changed.notify_all();
        EXPECT_TRUE(gate.changed.wait_for(hold, bound, [&] { return gate.inConnect; }));
    }
    // The second press reaches the channel and ends the connection attempt.
    ASSERT_EQ(1, write(wake[1], "i", 1));
    mainThread.join();
    EXPECT_TRUE(gate.connectShut) << "the connection attempt ran out its time";
    AppState state;
    runner.StateGet(&state, nullptr);
    EXPECT_EQ(AppState::Aborted, state);
    EXPECT_EQ(2, ui.stops);
    close(wake[0]);
    close(wake[1]);
}

TEST(CliInterrupts, EveryPressStopsAndTheThirdWithinTwoSecondsExits)
{
    struct Case {
        const char* name;
        std::vector<int64_t> pressesMs;
        std::vector<InterruptCounter::Action> actions;
    };
    const InterruptCounter::Action S = InterruptCounter::Stop, X = InterruptCounter::Exit;
    const Case cases[] = {
        {"two presses both stop", {1000, 1100}, {S, S}},
        {"third at once", {1000, 1100, 1200}, {S, S, X}},
        {"third at the window's end", {1000, 2000, 3000}, {S, S, X}},
        {"third just after it", {1000, 2000, 3001}, {S, S, S}},
        {"the window slides", {1000, 2500, 3500, 3600}, {S, S, S, X}},
    };
    for (const Case& c : cases) {
        InterruptCounter counter;
        for (size_t i = 0; i < c.pressesMs.size(); ++i)
            EXPECT_EQ(c.actions[i], counter.Press(c.pressesMs[i])) << c.name << ", press " << i + 1;
    }
}

TEST_F(CliTest, TerminalGetsColoursAndAProgressBar)
{
    Start();
    Image(12 * 200);
    CliResult r = CliRun(Args({"write-firmware", image_}), "", true);
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("200/200 records")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(" rec/s ")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(" left")) << r.out;
    // The result word in bold green, as in the window's log.
    EXPECT_NE(std::string::npos, r.out.find("\033[1;32mOK\033[0m")) << r.out;
}
}  // namespace
