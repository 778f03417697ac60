// pelta-cli: the headless front end of the operation runner. One operation per run, on one
// unit or on many; every Ctrl-C (or SIGTERM) is a press of the window's stop button, a third
// within two seconds ends the program at once.
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/Messages.h"
#include "base/RuntimeDirs.h"
#include "cli/CliArgs.h"
#include "cli/ConsoleUi.h"
#include "cli/ImageFile.h"
#include "cli/Interrupts.h"
#include "cli/MultiRun.h"
#include "cli/SettingsCommand.h"
#include "operations/OperationRunner.h"

namespace {
const char kProgramTitle[] = "Pelta CLI";
const char kWakeInterrupt = 'i';

bool OperationStart(OperationRunner& runner, const CliRequest& request, const ImageFile& image)
{
    switch (request.kind) {
    case OperationKind::FirmwareWrite:
    case OperationKind::LoaderWrite:
        runner.ImageSet(SString(image.displayPath.c_str()), image.localPath);
        return runner.WriteBegin(request.kind == OperationKind::FirmwareWrite);
    case OperationKind::ChangePassword:
        return runner.ChangePasswordBegin(request.newPassword);
    case OperationKind::FindDevices:
        return runner.FindDevicesBegin();
    default:
        return runner.CommandBegin(request.kind);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
    Messages::Init();
    Messages::SetTitle(kProgramTitle);
    Messages::BindCatalogue(RuntimeDirsOfProgram().locale.Text());

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
    ImageFile image;
    if (request.kind == OperationKind::FirmwareWrite || request.kind == OperationKind::LoaderWrite) {
        std::string reason;
        if (!ImageFileCheck(request.file, &image, &reason)) {
            fprintf(stderr, "pelta-cli: %s\n", reason.c_str());
            return kExitUsage;
        }
    }

    // The settings commands load (and settings-check checks) before any unit is talked to.
    std::unique_ptr<SettingsCommand> settings;
    if (request.command >= CliCommand::SettingsRead) {
        settings.reset(new SettingsCommand(request, stdout, isatty(STDOUT_FILENO) != 0, stderr,
                                           isatty(STDERR_FILENO) != 0));
        int code = kExitFailed;
        if (!settings->Prepare(&code)) {
            settings.reset();
            Messages::Done();
            return code;
        }
    }

    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("pelta-cli: pipe");
        return kExitFailed;
    }
    // The worker starts with both signals blocked, so that a Ctrl-C never cuts one of its
    // socket calls short; the main thread takes them once the worker runs.
    InterruptsBlock();
    InterruptsInstall(wake[1], kWakeInterrupt, kExitAborted);
    signal(SIGPIPE, SIG_IGN);

    if (request.multi) {
        settings.reset();
        int code = MultiRun(request, image, wake[0], wake[1], kWakeInterrupt);
        InterruptsRemove();
        close(wake[0]);
        close(wake[1]);
        Messages::Done();
        return code;
    }
    // discover --json keeps standard output for the JSON lines.
    const bool discover = request.kind == OperationKind::FindDevices;
    FILE* log = discover && request.discover.json ? stderr : stdout;
    ConsoleUi ui(log, isatty(fileno(log)) != 0, request, wake[1]);
    RunnerOptions options;
    if (!DiscoverOptionsMake(request.discover, &options.discovery, &error)) {
        fprintf(stderr, "pelta-cli: %s\n", error.c_str());
        return kExitUsage;
    }
    int code = kExitFailed;
    {
        OperationRunner runner(&ui, options);
        ui.Attach(&runner);
        runner.FlagsSet(RunFlags::TalkLog, request.talkLog);
        if (settings)
            ui.BodySet([&](OperationKind kind, MODBUS_TalkInfo& talk) {
                return settings->OperationBody(runner, kind, talk);
            });
        bool started = settings ? settings->Start(runner) : OperationStart(runner, request, image);
        InterruptsUnblock();
        if (started)
            OperationWait(runner, wake[0], kWakeInterrupt, [&ui] { ui.FlushIfStale(); });
        AppState state;
        runner.StateGet(&state, nullptr);
        code = ExitCodeOf(state);
        if (state == AppState::Succeeded && request.kind == OperationKind::VersionRead)
            printf("%s\n", TrArgs("Firmware version: ^0", ui.Version().c_str()).Text());
        if (settings)
            code = settings->Finish(code);
        if (discover && started)
            DiscoverPrint(ui.Found(), request.discover.json, stdout);
    }
    settings.reset();
    InterruptsRemove();
    close(wake[0]);
    close(wake[1]);
    Messages::Done();
    return code;
}
