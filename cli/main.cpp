// pelta-cli: the headless front end of the operation runner. One operation per run; Ctrl-C
// stops it the way the window's stop button does.
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Messages.h"
#include "cli/CliArgs.h"
#include "cli/ConsoleUi.h"
#include "operations/OperationRunner.h"

namespace {
const char kProgramTitle[] = "Pelta CLI";
const char kWakeInterrupt = 'i';
// The main thread also looks at the run state this often, whatever the pipe says.
const int kWaitSliceMs = 250;

int wakeWrite = -1;

extern "C" void OnInterrupt(int)
{
    // Only async-signal-safe work here: the main thread turns the byte into the stop request.
    int saved = errno;
    ssize_t ignored = write(wakeWrite, &kWakeInterrupt, 1);
    (void)ignored;
    errno = saved;
}

// The catalogues live in res/locale beside the program.
void CatalogueBind()
{
    gchar* exe = g_file_read_link("/proc/self/exe", nullptr);
    if (!exe)
        return;
    gchar* dir = g_path_get_dirname(exe);
    gchar* locale = g_build_filename(dir, "res", "locale", nullptr);
    Messages::BindCatalogue(locale);
    g_free(locale);
    g_free(dir);
    g_free(exe);
}

SString AbsolutePath(const std::string& file)
{
    char* real = realpath(file.c_str(), nullptr);
    if (real) {
        SString path(real);
        free(real);
        return path;
    }
    // A missing file keeps its name, so the worker reports that it cannot open it.
    gchar* absolute = g_canonicalize_filename(file.c_str(), nullptr);
    SString path(absolute);
    g_free(absolute);
    return path;
}

bool OperationStart(OperationRunner& runner, const CliRequest& request)
{
    switch (request.kind) {
    case OperationKind::FirmwareWrite:
    case OperationKind::LoaderWrite:
        runner.ImageSet(AbsolutePath(request.file));
        return runner.WriteBegin(request.kind == OperationKind::FirmwareWrite);
    case OperationKind::ChangePassword:
        return runner.ChangePasswordBegin(request.newPassword);
    default:
        return runner.CommandBegin(request.kind);
    }
}

// Waits for the worker to leave the busy states, turning Ctrl-C into the stop request.
void OperationWait(OperationRunner& runner, int wakeRead)
{
    bool stopAsked = false;
    while (runner.IsBusy()) {
        struct pollfd p = {wakeRead, POLLIN, 0};
        if (poll(&p, 1, kWaitSliceMs) <= 0)
            continue;
        char bytes[64];
        ssize_t n = read(wakeRead, bytes, sizeof bytes);
        for (ssize_t i = 0; i < n; ++i) {
            if (bytes[i] == kWakeInterrupt && !stopAsked && runner.IsBusy()) {
                runner.TalkStop();
                stopAsked = true;
            }
        }
    }
    runner.WorkerJoin();
}

int ExitCodeOf(AppState state)
{
    switch (state) {
    case AppState::Succeeded:
        return kExitOk;
    case AppState::Aborted:
        return kExitAborted;
    default:
        return kExitFailed;
    }
}
}  // namespace

int main(int argc, char** argv)
{
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
    Messages::Init();
    Messages::SetTitle(kProgramTitle);
    CatalogueBind();

    CliRequest request;
    std::string error;
    if (!CliArgsParse(argc, argv, &request, &error)) {
        fprintf(stderr, "pelta-cli: %s\n%s", error.c_str(), CliUsage());
        return kExitUsage;
    }
    if (request.help) {
        fputs(CliUsage(), stdout);
        return kExitOk;
    }

    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("pelta-cli: pipe");
        return kExitFailed;
    }
    wakeWrite = wake[1];
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ConsoleUi ui(stdout, isatty(STDOUT_FILENO) != 0, request, wake[1]);
    int code = kExitFailed;
    {
        OperationRunner runner(&ui);
        ui.Attach(&runner);
        runner.FlagsSet(RunFlags::TalkLog, request.talkLog);
        if (OperationStart(runner, request))
            OperationWait(runner, wake[0]);
        AppState state;
        runner.StateGet(&state, nullptr);
        code = ExitCodeOf(state);
        if (state == AppState::Succeeded && request.kind == OperationKind::VersionRead)
            printf("%s\n", TrArgs("Firmware version: ^0", ui.Version().c_str()).Text());
    }
    signal(SIGINT, SIG_DFL);
    close(wake[0]);
    close(wake[1]);
    Messages::Done();
    return code;
}
