// pelta-cli's front end for the runner: log lines on standard output (coloured on a
// terminal), a progress bar with records, rate and time left on a terminal, and a wake-up
// byte to the main thread whenever the run state changes. Into a file or a pipe the lines go
// out in blocks of whole lines rather than one write per line.
#pragma once
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "cli/CliArgs.h"
#include "cli/Discover.h"
#include "operations/OperationRunner.h"

class ConsoleUi : public RunnerUiI {
public:
    // terminal: out is a terminal (colours and the progress bar); wakeFd: written to on every
    // run state change, -1 for none; blockWaitMs: how long a line may wait in a block when out
    // is not a terminal.
    ConsoleUi(FILE* out, bool terminal, const CliRequest& request, int wakeFd, int blockWaitMs = 200);
    // Writes out what is held and leaves the stream unbuffered (its buffer goes with this).
    ~ConsoleUi() override;
    ConsoleUi(const ConsoleUi&) = delete;
    ConsoleUi& operator=(const ConsoleUi&) = delete;
    void Attach(OperationRunner* runner) { runner_ = runner; }

    time_t LogAdd(const SString& text, uint32_t mode, bool takeLock, int style) override;
    void LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style) override;
    void LogClear(bool takeLock) override;
    void ProgressSet(int64_t done, int64_t total, bool takeLock) override;
    void RunStateChanged(bool takeLock) override;
    void SessionInputs(SString& host, SString& password) override;
    void VersionShow(const SString& text) override;
    void GuiLockRelease() override {}
    void GuiLockAcquire() override {}
    void FoundUnitsClear() override { found_.Clear(); }
    void FoundUnitAdd(const DFIND_DevInfo& unit) override { found_.Add(unit); }
    void FoundUnitUpdate(const DFIND_DevInfo& unit) override { found_.Update(unit); }

    // Writes out the lines still held in the block (a terminal holds none).
    void Flush();
    // The same, only for a block of ended lines that has waited its time; the main thread
    // calls it while it waits, so a line made before a quiet spell does not wait for the next.
    void FlushIfStale();

    std::string Version();
    FoundUnits& Found() { return found_; }

    // The bodies of operations that live outside the runner (the settings commands'); without
    // one they are refused.
    using Body = std::function<bool(OperationKind, MODBUS_TalkInfo&)>;
    void BodySet(Body body) { body_ = std::move(body); }
    bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk) override;

private:
    // All with lock_ held.
    void Write(const SString& text, int style);
    // A line has ended: a terminal shows it now, a block goes out when full or old enough.
    void LineEnded();
    void BlockWrite();
    void BarEnd();
    void BarDraw(int64_t done, int64_t total, int64_t nowMs);

    std::mutex lock_;
    FoundUnits found_;
    FILE* out_;
    bool terminal_;
    bool showBar_;
    int wakeFd_;
    OperationRunner* runner_ = nullptr;
    Body body_;
    std::string host_;
    std::string password_;
    std::string version_;
    bool lineOpen_ = false;
    bool barShown_ = false;
    bool barFull_ = false;
    int64_t barStartMs_ = -1;
    int64_t barDrawnMs_ = -1;
    // Not a terminal: bytes written since the last flush, and when the first of them came.
    std::unique_ptr<char[]> streamBuffer_;
    int64_t blockWaitMs_;
    size_t blockBytes_ = 0;
    int64_t blockSinceMs_ = -1;
};
