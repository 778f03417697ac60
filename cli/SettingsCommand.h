// pelta-cli's settings commands (settings-read, -write, -check, -diff) on the settings model
// the window uses: the same load, checks, read and write walks and export. The model's message
// boxes go to standard error as lines.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "cli/CliArgs.h"
#include "operations/OperationRunner.h"
#include "settings/DeviceSettings.h"

// A settings front end that prints every message box on a stream and counts them; null: silent.
class SettingsConsole : public SettingsUiI {
public:
    SettingsConsole(FILE* err, bool terminal) : err_(err), terminal_(terminal) {}
    void MsgBox(const SString& text) override;
    int Count() const { return count_; }

private:
    FILE* err_;
    bool terminal_;
    int count_ = 0;
};

// The decimal text of a number, for the messages' arguments.
std::string DecimalText(int64_t n);

class SettingsCommand {
public:
    // out: the differences and the closing lines; err: message boxes and faults; each with
    // whether it is a terminal (colours).
    SettingsCommand(const CliRequest& request, FILE* out, bool outTerminal, FILE* err, bool errTerminal);
    ~SettingsCommand();

    // Loads and checks what the command needs; settings-check does all its work here. False:
    // the command ends with *exitCode and no operation starts.
    bool Prepare(int* exitCode);
    // Starts the read or write on the runner (main thread).
    bool Start(OperationRunner& runner);
    // Worker thread: the body of the settings operations (kinds 8 to 11).
    bool OperationBody(OperationRunner& runner, OperationKind kind, const MODBUS_TalkInfo& talk);
    // After the operation ended with the exit code code: saves the file read or prints the
    // differences; returns the command's exit code.
    int Finish(int code);

    // The default description: Pelta.xml of the run-time folder (res/ or share/pelta).
    static SString DefaultDescription();

private:
    bool GroupSelect(DeviceSettings& settings, const char* file);
    bool CheckFile(int* exitCode);
    int DiffPrint();

    CliRequest request_;
    FILE* out_;
    bool outTerminal_;
    SettingsConsole console_;
    SettingsConsole quiet_;
    // The settings the operation works on; for settings-diff the unit's copy of the file.
    std::unique_ptr<DeviceSettings> settings_;
    // settings-diff: the file as it is.
    std::unique_ptr<DeviceSettings> file_;
};
