// pelta-cli end to end against the simulator: arguments, exit codes, the log lines it prints,
// the progress bar on a terminal, discovery, Ctrl-C and how the log reaches a file.
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include "cli/ConsoleUi.h"
#include "cli/Interrupts.h"
#include "operations/OperationRunner.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/ScriptedPeer.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

namespace {
std::string Unstamped(const std::string& text)
{
    return std::regex_replace(text, std::regex("(^|\n)[0-2][0-9]:[0-5][0-9]:[0-5][0-9]  "), "$1~ ");
}

TEST(CliArguments, BadArgumentsAndUnreadableImagesExitWithTwoBeforeAnyConnection)
{
    TempDir scratch;
    // Loopback addresses only: a case taken by mistake never leaves the machine.
    const std::string h = "127.0.0.1", list = scratch / "units.txt", bad = scratch / "bad.txt";
    const std::string fifo = scratch / "fifo.bin", locked = scratch / "locked.bin", none = scratch / "none.bin";
    ASSERT_TRUE(WriteText(list, "127.0.0.1:1\n127.0.0.2:1\n") && WriteText(bad, "127.0.0.1 127.0.0.2\n"));
    ASSERT_TRUE(WriteText(locked, "1234") && chmod(locked.c_str(), 0) == 0 && mkfifo(fifo.c_str(), 0600) == 0);
    std::vector<std::pair<Args, std::string>> cases = {
        {{}, "no command given"},
        {{"flash", "--host", h}, "unknown command 'flash'"},
        {{"version"}, "--host ADDR[:PORT] is required"},
        {{"version", "--host"}, "unknown or incomplete option '--host'"},
        {{"version", "--host", h, "--colour"}, "unknown or incomplete option '--colour'"},
        {{"version", "extra", "--host", h}, "unexpected argument 'extra'"},
        {{"version", "--host", h, "--broadcast", h}, "--broadcast and --port do not apply to version"},
        {{"write-firmware", "--host", h}, "write-firmware needs an image FILE"},
        {{"change-password", "32768", "--password", "1", "--host", h}, "from 0 to 32767, not '32768'"},
        {{"change-password", " -1", "--password", "1", "--host", h}, "from 0 to 32767, not ' -1'"},
        {{"change-password", "12a", "--password", "1", "--host", h}, "from 0 to 32767, not '12a'"},
        {{"change-password", "", "--password", "1", "--host", h}, "from 0 to 32767, not ''"},
        {{"change-password", "5", "--host", h}, "change-password needs the current --password"},
        {{"settings-read", "--host", h}, "settings-read needs a settings FILE"},
        {{"settings-read", "o.xml", "--host", h, "--group", "1x"}, "--group needs a whole number, not '1x'"},
        {{"settings-read", "o.xml", "--host", h, "--group="}, "--group needs a whole number, not ''"},
        {{"settings-write", "i.xml", "--host", h, "--description", "d.xml"}, "--description does not apply to"},
        {{"settings-diff", "i.xml", "--host", ""}, "--host ADDR[:PORT] is required"},
        {{"settings-check", "i.xml", "--host", h}, "settings-check works on the file alone, without --host"},
        {{"settings-check", "i.xml", "--group", "10"}, "--group does not apply to settings-check"},
        // Each would broadcast from here if taken: only values refused again before the runner starts.
        {{"discover", "--broadcast", "unit7"}, "--broadcast needs an IPv4 address, not 'unit7'"},
        {{"discover", "--broadcast", "0.0.0.0"}, "--broadcast needs an IPv4 address, not '0.0.0.0'"},
        {{"discover", "--broadcast", h, "--port", "65536"}, "--port needs a number from 1 to 65535"},
        {{"discover", "--broadcast", h, "--port=0"}, "--port needs a number from 1 to 65535, not '0'"},
        {{"discover", "--broadcast", h, "--port", "5x"}, "not '5x'"},
        {{"discover", "--broadcast", h, "--host", h}, "discover finds the units itself, without --host"},
        {{"settings-read", "out.xml", "--hosts", list}, "must hold {host}"},
        {{"version", "--host", h, "--jobs", "0"}, "--jobs needs a number from 1"},
        {{"version", "--hosts", bad}, "line 1: one address per line"},
        {{"version", "--hosts", scratch / "none.txt"}, "Cannot read the host list"},
        {{"settings-check", "f.xml", "--log", "x.log"}, "do not apply to settings-check"},
        {{"settings-check", "f.xml", "--json"}, "--json does not apply"},
        // An unreadable image: the reason alone, and no connection attempt (to a port nothing listens on).
        {{"write-firmware", none, "--host", h + ":1"}, "'" + none + "': No such file or directory"},
        {{"write-loader", scratch.Path(), "--host", h + ":1"}, "'" + scratch.Path() + "': not a regular file"},
        {{"write-firmware", fifo, "--host", h + ":1"}, "'" + fifo + "': not a regular file"},
        {{"write-loader", "/dev/null", "--host", h + ":1"}, "'/dev/null': not a regular file"},
    };
    if (geteuid() != 0)  // the super-user reads every file
        cases.push_back({{"write-loader", locked, "--host", h + ":1"}, "'" + locked + "': Permission denied"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        CliResult r = CliRun(c.first);
        EXPECT_EQ(kUsage, r.exitCode);
        if (c.second[0] == '\'')
            EXPECT_EQ("pelta-cli: " + c.second + "\n", r.err);
        else
            EXPECT_THAT(r.err, AllOf(HasSubstr(c.second), HasSubstr("\nusage: pelta-cli")));
        EXPECT_EQ("", r.out);
    }
    CliResult help = CliRun({"version", "--help"});
    EXPECT_TRUE(help.exitCode == kOk && help.out.find("usage: pelta-cli") == 0) << help.out;
}

using CliTest = CliSimTest;
// Discovery asks 127.0.0.1 alone, with the real receive time-out.
TEST_F(CliTest, OneUnitOnAPipeAndATerminalDiscoveryAndHowItFails)
{
    auto discover = [&](Args args, const CliOptions& options = {}) {
        args.insert(args.begin(), {"discover", "--broadcast", "127.0.0.1", "--port", std::to_string(sim_->UdpPort())});
        return CliRun(args, options);
    };
    // TCP on the discovery port, so that one --port reaches both.
    Start({"--udp-port", "same", "--mac", "00:1A:2B:3C:4D:5E", "--version", "1.2.0.15"});
    CliResult r = Run({"version"});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    // Time stamps are whole seconds: a short read may straddle a second boundary.
    EXPECT_THAT(Unstamped(r.out), MatchesRegex("~ Read firmware version begin\n~   Open TCP socket\n"
                                               "~   Connecting to '" + sim_->HostPort() + "'\n"
                                               "~   Device talk\\.\\.\\.\n~   Close socket\n"
                                               "~ Read firmware version end: OK\\. Elapsed time: "
                                               "(lower one second|1 s)\\.\nFirmware version: 1\\.2\\.0\\.15\n"));

    // A name that is not UTF-8 is shown with replacement characters and opened by its bytes.
    r = Run({"write-firmware", Image(240, "-\xff\xfe.bin")});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_THAT(Unstamped(r.out), MatchesRegex("~ Write firmware from '.*-\xef\xbf\xbd\xef\xbf\xbd.bin' begin\n.*"
                                               "~ Write firmware end: OK. Elapsed time: [^\n]*\n\nYou need "
                                               "reboot Pelta for applying new firmware/loader "
                                               "\\(menu \"Device->Reboot\"\\)\n"));
    EXPECT_EQ(std::string::npos, r.out.find_first_of("\r\033")) << "a progress bar or colours on a pipe";

    EXPECT_THAT(Unstamped(Run({"write-firmware", Image(24), "--talk-log"}).out),
                AllOf(HasSubstr("~   Write and check code (record 3:2)\n~   --> 32 bytes:"),
                      Not(HasSubstr("Device talk..."))));

    r = Run({"write-firmware", Image(12 * 200)}, {"", true});  // on a terminal
    for (const char* part : {"200/200 records", " rec/s ", " left", "\033[1;32mOK\033[0m"})
        EXPECT_THAT(r.out, HasSubstr(part));

    r = discover({});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    const std::string table =
        "IP (connect)  IP         MAC                ID      Version\n"
        "127.0.0.1     127.0.0.1  00:1A:2B:3C:4D:5E  \xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1  1.2.0.15\n";
    EXPECT_THAT(r.out, ::testing::EndsWith(table));
    EXPECT_THAT(r.out, AllOf(HasSubstr("Device founded on address 127.0.0.1\n"), HasSubstr("Find devices end: OK.")));

    r = discover({}, {"Device founded on address"});
    EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Find devices end: ABORTED."));

    const struct {
        Args sim, cli;
        const char* line;
    } failures[] = {
        {{}, {"reboot", "--password", "0x7"}, "Device answer exception '0x"},
        {{"--fault-result", "0:2"}, {"write-loader", Image(48)}, "Read record result not ok: 2 - 'CRC error'"},
        {{"--fault-tamrin", "check"}, {"test-gateway"}, "Wrong Tamrin CRC (want '0x"},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.line);
        if (!c.sim.empty())
            Start(c.sim);
        r = Run(c.cli);
        EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
        EXPECT_THAT(r.out, AllOf(HasSubstr(c.line), HasSubstr(" end: ERROR. Elapsed time: ")));
    }

    // Two answers from one address: both listed without details, and the search fails.
    Start({"--udp-port", "same", "--fault-discovery-duplicate"});
    r = discover({"--json"});
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    const std::string row =
        "{\"ip_connect\":\"127.0.0.1\",\"ip\":\"127.0.0.1\",\"mac\":\"02:50:45:4C:54:41\",\"id\":\"\",\"version\":\"\"}\n";
    EXPECT_EQ(row + row, r.out);
    EXPECT_THAT(r.err, AllOf(HasSubstr("Received some responses with one IP address"),
                             HasSubstr("Find devices end: ERROR.")));
}

// The threads of pid other than its main thread whose signal mask lets SIGINT or SIGTERM through.
Args ThreadsTakingSignals(pid_t pid)
{
    Args taking;
    for (const auto& thread : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        if (thread.path().filename() == std::to_string(pid))
            continue;
        std::ifstream status(thread.path() / "status");
        for (std::string line; std::getline(status, line);)  // the bits of SIGINT (2) and SIGTERM (15)
            if (line.compare(0, 7, "SigBlk:") == 0 && (~std::stoull(line.substr(7), nullptr, 16) & 0x4002))
                taking.push_back(thread.path());
    }
    return taking;
}

// Each Ctrl-C or SIGTERM is a press of the stop button taken by the main thread; the third within
// two seconds ends at once (the terminal's output suspended, so nothing the stop starts can finish).
TEST_F(CliTest, SignalsStopTheWriteLikeTheStopButton)
{
    Start({"--fault-delay", "40"});  // every answer waits: the write still runs when the signal comes
    for (int sig : {SIGINT, SIGTERM, 0}) {
        SCOPED_TRACE(sig ? strsignal(sig) : "three presses");
        CliOptions options{"Device talk...", sig == 0, sig ? sig : SIGINT, sig ? 1 : 3};
        options.suspendOutput = sig == 0;
        Args taking;
        options.beforeSignal = [&](pid_t pid) { taking = ThreadsTakingSignals(pid); };
        CliResult r = Run({"write-firmware", Image(1200)}, options);
        ASSERT_TRUE(r.interrupted) << r.out;
        EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
        if (sig == 0) {
            EXPECT_THAT(r.out, Not(HasSubstr("Write firmware end:")));
            continue;
        }
        EXPECT_EQ(Args(), taking) << "signals reach other threads than the main one";
        size_t attempt = r.out.find("Attempt to abort execution");
        ASSERT_NE(std::string::npos, attempt) << r.out;
        // A worker call cut short by the signal would report itself before the stop request.
        EXPECT_EQ(std::string::npos, r.out.substr(0, attempt).find("error")) << r.out;
        EXPECT_THAT(Unstamped(r.out), MatchesRegex(".*\n~ Write firmware end: ABORTED\\. Elapsed time: [^\n]*\n"));
    }
}

// A session channel whose Open waits until the test lets it go (the worker then holds the
// channel lock) and whose Connect waits until the channel is shut down.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool inOpen = false, openFree = false, inConnect = false, shut = false, connectShut = false;
    bool Mark(bool* flag, const bool& until)
    {
        std::unique_lock<std::mutex> hold(lock);
        if (flag)
            *flag = true;
        changed.notify_all();
        return changed.wait_for(hold, std::chrono::seconds(10), [&] { return until; });
    }
};
class GateChannel : public TalkChannel {
public:
    GateChannel(TalkChannelExtI* owner, Gate* gate) : TalkChannel(owner, ""), gate_(gate) {}
    bool Open() override { return gate_->Mark(&gate_->inOpen, gate_->openFree); }
    bool Connect(const SString&) override
    {
        gate_->connectShut = gate_->Mark(&gate_->inConnect, gate_->shut);
        return false;
    }
    bool Shutdown() override { return gate_->Mark(&gate_->shut, gate_->shut); }
    bool Close() override { return true; }
    bool Send(const void*, int) override { return false; }
    bool Receive(void*, int, int*, bool*) override { return false; }
    bool IsOpened() override { return true; }
    void ReportError(const char*, int, const char*, const char*) override {}

private:
    Gate* gate_;
};

TEST(CliInterrupts, SecondPressShutsDownWhatTheFirstFoundLocked)
{
    const std::string kAbort = "Attempt to abort execution";
    Gate gate;
    RecordingUi ui;
    ui.Inputs("127.0.0.1", "1");
    RunnerOptions options;
    options.channelFactory = [&gate](TalkChannelExtI* owner) { return new GateChannel(owner, &gate); };
    OperationRunner runner(&ui, options);
    int wake[2];
    ASSERT_EQ(0, pipe(wake));
    ASSERT_TRUE(runner.CommandBegin(OperationKind::VersionRead));
    ASSERT_TRUE(gate.Mark(nullptr, gate.inOpen));
    std::thread mainThread([&] { OperationWait(runner, wake[0], 'i', {}); });

    // The first press finds the channel lock taken: the stop request cannot reach the channel.
    const size_t statesBefore = ui.States().size();
    ASSERT_EQ(1, write(wake[1], "i", 1));
    EXPECT_TRUE(WaitUntil([&] { return ui.Count(kAbort) == 1 && ui.States().size() > statesBefore; }, 10000));
    {
        std::lock_guard<std::mutex> hold(gate.lock);
        EXPECT_FALSE(gate.shut);
    }
    EXPECT_TRUE(gate.Mark(&gate.openFree, gate.inConnect));
    // The second press reaches the channel and ends the connection attempt.
    ASSERT_EQ(1, write(wake[1], "i", 1));
    mainThread.join();
    EXPECT_TRUE(gate.connectShut) << "the connection attempt ran out its time";
    AppState state;
    runner.StateGet(&state, nullptr);
    EXPECT_EQ(AppState::Aborted, state);
    EXPECT_EQ(2, ui.Count(kAbort));
    close(wake[0]);
    close(wake[1]);
}

TEST(CliInterrupts, EveryPressStopsAndTheThirdWithinTwoSecondsExits)
{
    const struct {
        const char* name;
        std::vector<int64_t> pressesMs;
        std::string actions;  // S: stop, X: exit
    } cases[] = {
        {"third at once", {1000, 1100, 1200}, "SSX"},
        {"third at the window's end", {1000, 2000, 3000}, "SSX"},
        {"third just after it", {1000, 2000, 3001}, "SSS"},
        {"the window slides", {1000, 2500, 3500, 3600}, "SSSX"},
    };
    for (const auto& c : cases) {
        InterruptCounter counter;
        std::string actions;
        for (int64_t ms : c.pressesMs)
            actions += counter.Press(ms) == InterruptCounter::Exit ? 'X' : 'S';
        EXPECT_EQ(c.actions, actions) << c.name;
    }
}

// The log into a file or pipe: whole lines in blocks, nothing held back past a change of state or a quiet spell.
// Read() takes what reached the scratch file (past the stream's buffer) since the last Read().
struct FileOut {
    TempDir dir;
    FILE* file = fopen((dir / "log").c_str(), "w");
    size_t seen = 0;
    ~FileOut() { file && fclose(file); }
    std::string Read()
    {
        const std::string all = ReadText(dir / "log");
        return all.substr(std::exchange(seen, all.size()));
    }
};

const char kLine[] = "00 7B 00 00 00 12 01 14";

TEST(ConsoleBlock, WholeLinesInBlocksUntilAChangeOfStateAQuietSpellOrTheEnd)
{
    FileOut out, at, later;
    ASSERT_TRUE(out.file && at.file && later.file);
    CliRequest request;
    ConsoleUi ui(out.file, false, request, -1, 600000);  // no line waits that long here
    std::string written;
    for (int i = 0; i < 10; ++i) {
        ui.LogAdd(SString(kLine), LogModeLine | kLogNoTime, true, 3);
        written += std::string(kLine) + "\n";
    }
    EXPECT_EQ(out.Read(), "") << "every line was written by itself";
    // A change of state (the end of the run above all) lets everything out.
    ui.RunStateChanged(true);
    EXPECT_EQ(out.Read(), written);

    // A long burst goes out on its own, as whole lines, before the run ends.
    written.clear();
    for (int i = 0; i < 5000; ++i) {
        std::string line = std::string(kLine) + " " + std::to_string(i);
        ui.LogAdd(SString(line.c_str()), LogModeLine | kLogNoTime, true, 3);
        written += line + "\n";
    }
    std::string early = out.Read();
    ASSERT_GE(early.size(), 32u * 1024) << "a full block stayed behind";
    EXPECT_LT(early.size(), written.size()) << "flushed line by line";
    EXPECT_EQ(early.back(), '\n');
    ui.Flush();
    EXPECT_EQ(early + out.Read(), written);

    // With no wait at all, an open line still waits for its end.
    ConsoleUi now(at.file, false, request, -1, 0);
    now.LogAdd(SString("Write firmware end: "), LogModeOpen | kLogNoTime, true, 0);
    now.LogAdd(SString("OK"), LogModeAppend, true, 5);
    now.FlushIfStale();
    EXPECT_EQ(at.Read(), "");
    now.LogAdd(SString("."), LogModeClose, true, 0);
    EXPECT_EQ(at.Read(), "Write firmware end: OK.\n");
    // A style outside the table of styles shows no text, as in the window.
    now.LogAdd(SString("hidden"), LogModeLine | kLogNoTime, true, LogStyleResultAborted + 1);
    EXPECT_EQ(at.Read().find("hidden"), std::string::npos);

    // An ended line goes out when the main thread looks after the spell, not only with the next line.
    ConsoleUi spell(later.file, false, request, -1, 20);
    spell.LogAdd(SString("Retry"), LogModeLine | kLogNoTime, true, 0);
    std::string late;
    WaitUntil([&] { return spell.FlushIfStale(), !(late += later.Read()).empty(); }, 5000);
    EXPECT_EQ(late, "Retry\n");
}
}  // namespace
