// One unit of a many-unit run: its own runner (worker thread, session, channel), its own
// settings document for the settings commands, and the runner's front end that turns its log
// into whole lines for the shared output. Nothing here is shared with another unit.
#pragma once
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/ImageFile.h"
#include "cli/MultiOutput.h"
#include "cli/SettingsCommand.h"
#include "operations/OperationRunner.h"

class UnitRun : public RunnerUiI {
public:
    // request: the command as given (its file a {host} pattern for settings-read); wakeFd:
    // written to when the run state changes.
    UnitRun(const CliRequest& request, const std::string& host, MultiOutput* out, int wakeFd);
    ~UnitRun() override;
    UnitRun(const UnitRun&) = delete;
    UnitRun& operator=(const UnitRun&) = delete;

    // Main thread: starts the operation; false when it could not (the outcome says why).
    bool Start(const ImageFile& image);
    bool Busy() { return runner_ && runner_->IsBusy(); }
    // Main thread, Ctrl-C: the first call is the stop button; later ones shut the channel
    // again, in case the first came while the worker was opening it.
    void Stop();
    // Main thread, once Busy() is false: joins the worker, saves or compares the settings and
    // fixes the outcome, which it reports.
    void Finish();
    // Never started: ends ABORTED without a word to the unit.
    void Skip();
    const UnitOutcome& Outcome() const { return outcome_; }
    // One line for the terminal's progress block.
    std::string StatusLine();

    time_t LogAdd(const SString& text, uint32_t mode, bool takeLock, int style) override;
    void LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style) override;
    void LogClear(bool) override {}
    void ProgressSet(int64_t done, int64_t total, bool takeLock) override;
    void RunStateChanged(bool takeLock) override;
    void SessionInputs(SString& host, SString& password) override;
    void VersionShow(const SString& text) override;
    void GuiLockRelease() override {}
    void GuiLockAcquire() override {}
    bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk) override;

private:
    // With lock_ held: a piece of the current line; a line end sends it out.
    void Piece(const SString& text, int style, bool ends);
    // Lines a settings command printed to its stream since offset, as log lines in style.
    void StreamLines(FILE* stream, char* const& buffer, size_t& size, size_t from, int style);
    void OwnLine(const SString& text, int style);

    CliRequest request_;
    MultiOutput* out_;
    int wakeFd_;
    std::unique_ptr<OperationRunner> runner_;
    std::unique_ptr<SettingsCommand> settings_;
    // The settings command's standard output and error, kept per unit.
    char* outBuffer_ = nullptr;
    size_t outSize_ = 0;
    FILE* outStream_ = nullptr;
    char* errBuffer_ = nullptr;
    size_t errSize_ = 0;
    FILE* errStream_ = nullptr;
    size_t outFrom_ = 0, errFrom_ = 0;

    std::mutex lock_;
    std::vector<LineSegment> line_;
    std::string linePrefix_;
    time_t lineStamp_ = 0;
    int64_t done_ = 0, total_ = 0;
    int64_t progressSentMs_ = -1;
    int64_t startUs_ = 0;
    bool stopped_ = false;
    UnitOutcome outcome_;
};
