// A front end for runner tests: keeps the log as lines of text with their styles, the
// progress, the run states it was told about, and checks that every call asked for the
// display lock exactly when it came from a thread other than the one that drives the runner.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "operations/OperationRunner.h"

struct LoggedLine {
    std::string text;         // indentation and text, without the time stamp
    std::vector<int> styles;  // style of every piece of the line
    bool stamped = false;
};

class RecordingUi : public RunnerUiI {
public:
    // The calling thread counts as the GUI thread.
    RecordingUi();
    void Attach(OperationRunner* runner) { runner_ = runner; }

    time_t LogAdd(const SString& text, uint32_t mode, bool takeLock, int style) override;
    void LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style) override;
    void LogClear(bool takeLock) override;
    void ProgressSet(int64_t done, int64_t total, bool takeLock) override;
    void RunStateChanged(bool takeLock) override;
    void SessionInputs(SString& host, SString& password) override;
    void VersionShow(const SString& text) override;
    void GuiLockRelease() override { ++lockReleases; }
    void GuiLockAcquire() override { ++lockAcquires; }

    // Inputs the session reads.
    void Inputs(const std::string& host, const std::string& password);
    // Seconds added to every time stamp handed out after the next call (duration tests).
    std::atomic<int64_t> clockShift{0};
    // When not 0, the clock stands still at this time.
    std::atomic<int64_t> clockBase{0};

    std::vector<LoggedLine> Lines();
    std::vector<std::string> Texts();
    // Index of the first line containing needle, -1 when none.
    int Find(const std::string& needle);
    int Count(const std::string& needle);
    // Style of the last piece of the first line containing needle, -1 when none.
    int StyleOf(const std::string& needle);
    bool WaitForLine(const std::string& needle, int timeoutMs);
    std::string Dump();

    std::vector<AppState> States();
    std::string Version();
    void Progress(int64_t* done, int64_t* total, int* calls);
    // Calls whose lock request did not match the thread they came from.
    int LockMistakes() const { return lockMistakes_.load(); }

    std::atomic<int> lockReleases{0};
    std::atomic<int> lockAcquires{0};

private:
    void LockCheck(bool takeLock);
    void Append(const std::string& text, int style, bool endLine, bool startsLine, bool stamped);

    std::mutex mutex_;
    std::thread::id guiThread_;
    OperationRunner* runner_ = nullptr;
    std::vector<LoggedLine> lines_;
    bool open_ = false;
    std::string host_;
    std::string password_;
    std::string version_;
    std::vector<AppState> states_;
    int64_t done_ = -1;
    int64_t total_ = -1;
    int progressCalls_ = 0;
    std::atomic<int> lockMistakes_{0};
};

// Runs until the runner leaves the busy states (at most timeoutMs) and joins the worker.
bool WaitIdle(OperationRunner& runner, int timeoutMs);
