// Writing the largest image the header can describe (786,420 bytes, 65,535 code records) into
// pelta-sim on loopback: (a) with pelta-cli, (b) from the window with the talk log off, (c) with
// the talk log on, (d) with pelta-cli and its talk log into a file; each run also measures the
// ping-pong floor of the same 131,072 round trips. Runs the window in-process, so start it under
// Xvfb: xvfb-run -a bin/flash_bench --runs 3 (--parts abcd picks the writes, --records N writes
// a shorter image of N code records).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtk/gtk.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/GUIApp.h"
#include "app/StartUp.h"
#include "base/FileUtil.h"
#include "bench/LoopbackFloor.h"
#include "tests/support/SimProcess.h"

extern char** environ;

namespace {
const int kMaxRecords = 65535;
const size_t kBytesPerRecord = 12;
// The image's code records (--records N for a shorter image) and the round trips of one write:
// each record and the header are written and read back.
int g_records = kMaxRecords;
size_t ImageBytes() { return kBytesPerRecord * (size_t)g_records; }
int RoundTrips() { return 2 * g_records + 2; }
// The window must redraw within this many milliseconds to count as responsive.
const int kTickMs = 20;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The loopback floor of the same number of round trips as one image write.
double FloorSeconds()
{
    int port = 0;
    pid_t child = StartFloorServer(&port);
    if (child < 0)
        return -1;
    int fd = ConnectLoopback(port);
    double seconds = -1;
    if (fd >= 0) {
        char request[kFloorRequest] = {}, answer[kFloorAnswer];
        auto start = Clock::now();
        int i = 0;
        for (; i < RoundTrips(); ++i)
            if (!WriteAll(fd, request, sizeof request) || !ReadExactly(fd, answer, sizeof answer))
                break;
        if (i == RoundTrips())
            seconds = SecondsSince(start);
        close(fd);
    }
    waitpid(child, nullptr, 0);
    return seconds;
}

bool SimStart(SimProcess& sim)
{
    std::string error;
    if (!sim.Start(&error)) {
        fprintf(stderr, "flash_bench: pelta-sim: %s\n", error.c_str());
        return false;
    }
    return true;
}

// (a) pelta-cli with its output on /dev/null (no terminal: no progress bar); (d) with the talk
// log on and its output into logFile.
double CliSeconds(const std::string& binDir, const std::string& image, const std::string& logFile = "")
{
    SimProcess sim;
    if (!SimStart(sim))
        return -1;
    std::string cli = binDir + "/pelta-cli", host = sim.HostPort();
    std::vector<const char*> argv = {cli.c_str(), "write-firmware", image.c_str(), "--host", host.c_str()};
    if (!logFile.empty())
        argv.push_back("--talk-log");
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (logFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    auto start = Clock::now();
    pid_t pid;
    int status = -1;
    if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, (char**)argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    double seconds = SecondsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    sim.Stop();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

struct GuiFigures {
    double seconds = -1;
    int logLines = 0;
    double maxStallMs = 0;
};

struct Ticker {
    Clock::time_point last = Clock::now();
    double maxGapMs = 0;
    static gboolean Tick(gpointer p)
    {
        Ticker* t = static_cast<Ticker*>(p);
        auto now = Clock::now();
        t->maxGapMs = std::max(t->maxGapMs, std::chrono::duration<double, std::milli>(now - t->last).count());
        t->last = now;
        return TRUE;
    }
};

// (b) and (c): the window's own write, started the way its begin step starts it.
GuiFigures GuiRun(const std::string& programDir, const std::string& image, bool talkLog)
{
    GuiFigures f;
    SimProcess sim;
    if (!SimStart(sim) || AppStart(0, nullptr, programDir.c_str()) != 0)
        return f;
    GUIApp* app = GUIApp::instance;
    gtk_entry_set_text(GTK_ENTRY(app->Object(W_DevHost)), sim.HostPort().c_str());
    app->TalkLogSwitch(talkLog);
    while (gtk_events_pending())
        gtk_main_iteration();

    Ticker ticker;
    guint source = gdk_threads_add_timeout(kTickMs, &Ticker::Tick, &ticker);
    auto start = Clock::now();
    app->Runner().ImageSet(SString(image.c_str()));
    app->Runner().WriteBegin(true);
    ticker.last = Clock::now();
    while (app->Runner().IsBusy())
        gtk_main_iteration_do(TRUE);
    app->Runner().WorkerJoin();
    f.seconds = SecondsSince(start);
    g_source_remove(source);
    AppState state;
    app->Runner().StateGet(&state, nullptr);
    if (state != AppState::Succeeded)
        f.seconds = -1;
    f.logLines = gtk_text_buffer_get_line_count(app->LogBuffer());
    f.maxStallMs = ticker.maxGapMs;
    app->TalkLogSwitch(false);
    AppQuitRequest();
    AppFinish();
    sim.Stop();
    return f;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    // Which writes to measure: a = pelta-cli, b = window, c = window with the talk log,
    // d = pelta-cli with the talk log into a file.
    std::string parts = "abcd";
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--runs") == 0)
            runs = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--parts") == 0)
            parts = argv[i + 1];
        if (strcmp(argv[i], "--records") == 0)
            g_records = std::max(1, std::min(kMaxRecords, atoi(argv[i + 1])));
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    GuiThreadsEnter();
    ErrnoTextInit();
    gtk_init(&argc, &argv);

    std::string binDir = ProgramDirectory().Text();
    if (!binDir.empty() && binDir.back() == '/')
        binDir.pop_back();
    setenv("PELTA_BIN_DIR", binDir.c_str(), 0);
    // A scratch program folder: the window saves its user settings there, not beside the build.
    gchar* scratch = g_dir_make_tmp("pelta-flash-bench-XXXXXX", nullptr);
    std::string programDir = scratch ? scratch : "/tmp";
    g_free(scratch);
    MakeDirs((programDir + "/res").c_str());
    CopyRecurs((binDir + "/res/UI").c_str(), (programDir + "/res/UI").c_str());
    // The settings description the window loads at start (a missing one stops it with a message).
    FileCopy((binDir + "/res/Pelta.xml").c_str(), (programDir + "/res/Pelta.xml").c_str());
    std::string image = programDir + "/largest.bin";
    {
        std::ofstream out(image, std::ios::binary);
        for (size_t i = 0; i < ImageBytes(); ++i)
            out.put((char)(i * 2654435761u >> 13));
    }

    printf("image %zu bytes, %d round trips per write, %d runs\n", ImageBytes(), RoundTrips(), runs);
    printf("run  floor s   cli s   gui s   gui+log s  log lines  max stall ms (off/on)  cli+log s\n");
    const std::string logFile = programDir + "/talk.log";
    std::vector<double> floor, cli, gui, guiLog, cliLog, rCli, rGui, rLog, rCliLog;
    for (int r = 1; r <= runs; ++r) {
        double fl = FloorSeconds();
        double a = parts.find('a') != std::string::npos ? CliSeconds(binDir, image) : -1;
        GuiFigures b = parts.find('b') != std::string::npos ? GuiRun(programDir, image, false) : GuiFigures();
        GuiFigures c = parts.find('c') != std::string::npos ? GuiRun(programDir, image, true) : GuiFigures();
        double d = parts.find('d') != std::string::npos ? CliSeconds(binDir, image, logFile) : -1;
        printf("%3d  %7.2f  %6.2f  %6.2f  %9.2f  %9d  %6.0f / %-6.0f  %9.2f\n", r, fl, a, b.seconds, c.seconds,
               c.logLines, b.maxStallMs, c.maxStallMs, d);
        fflush(stdout);
        floor.push_back(fl);
        cli.push_back(a);
        gui.push_back(b.seconds);
        guiLog.push_back(c.seconds);
        cliLog.push_back(d);
        rCliLog.push_back(d / a);
        rCli.push_back(a / fl);
        rGui.push_back(b.seconds / a);
        rLog.push_back(c.seconds / b.seconds);
    }
    printf("medians: floor %.2f s (%.1f us/round trip), cli %.2f s, gui %.2f s, gui+log %.2f s, cli+log %.2f s\n",
           Median(floor), Median(floor) / RoundTrips() * 1e6, Median(cli), Median(gui), Median(guiLog),
           Median(cliLog));
    printf("ratios (medians of per-run ratios): cli/floor %.2f, gui/cli %.2f, gui+log/gui %.2f, cli+log/cli %.2f\n",
           Median(rCli), Median(rGui), Median(rLog), Median(rCliLog));
    RemoveRecurs(programDir.c_str());
    ErrnoTextDone();
    gdk_threads_leave();
    return 0;
}
