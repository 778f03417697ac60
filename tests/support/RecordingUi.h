// A front end for runner tests: the log as lines of text with their styles, progress, run
// states, found units, and a check that every call asked for the display lock exactly when it
// came from a thread other than the one that drives the runner.
#pragma once
#include <atomic>
#include <functional>
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
    void Attach(OperationRunner* runner) { runner_ = runner; }
    void Inputs(const std::string& host, const std::string& password) { Locked([&] { host_ = host; password_ = password; }); }
    time_t LogAdd(const SString& text, uint32_t mode, bool takeLock, int style) override;
    void LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style) override;
    void LogClear(bool takeLock) override
    {
        LockCheck(takeLock);
        Locked([&] { lines_.clear(); open_ = false; });
    }
    void ProgressSet(int64_t done, int64_t total, bool takeLock) override
    {
        LockCheck(takeLock);
        Locked([&] { done_ = done; total_ = total; ++progressCalls; });
    }
    void RunStateChanged(bool takeLock) override;
    void SessionInputs(SString& host, SString& password) override
    {
        Locked([&] { host.Assign(host_.c_str()); password.Assign(password_.c_str()); });
    }
    void VersionShow(const SString& text) override { Locked([&] { version_ = text.Text(); }); }
    void GuiLockRelease() override { ++lockReleases; }
    void GuiLockAcquire() override { ++lockAcquires; }
    bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk) override
    {
        return body ? body(kind, talk) : RunnerUiI::OperationBody(kind, talk);
    }
    void FoundUnitsClear() override { Locked([&] { rows_.clear(); ++clears; }); }
    void FoundUnitAdd(const DFIND_DevInfo& unit) override { FoundUnitSet(unit, true); }
    void FoundUnitUpdate(const DFIND_DevInfo& unit) override { FoundUnitSet(unit, false); }

    std::vector<LoggedLine> Lines() { return Locked([&] { return lines_; }); }
    std::vector<std::string> Texts();
    int Find(const std::string& needle);  // first line containing needle, -1 when none
    int Count(const std::string& needle);
    int StyleOf(const std::string& needle);  // style of the last piece of that line, -1: none
    bool WaitForLine(const std::string& needle, int timeoutMs);
    std::string Dump();
    // "" when every present needle is in the log and no absent one; else what is wrong.
    std::string Missing(const std::vector<std::string>& present, const std::vector<std::string>& absent = {});
    std::string ProgressText() { return Locked([&] { return std::to_string(done_) + "/" + std::to_string(total_); }); }
    std::vector<AppState> States() { return Locked([&] { return states_; }); }
    std::string Version() { return Locked([&] { return version_; }); }
    // Found units sorted by the address answered from: "ipConnect ip mac id version", with
    // " (late)" when the row appeared after phase one.
    std::vector<std::string> Rows();
    int Mistakes() const { return mistakes_.load(); }  // wrong lock requests or row numbers

    std::function<bool(OperationKind, MODBUS_TalkInfo&)> body;  // bodies of other libraries
    std::atomic<int64_t> clockShift{0};  // seconds added to every later time stamp
    std::atomic<int64_t> clockBase{0};   // when not 0, the clock stands still here
    std::atomic<int> lockReleases{0}, lockAcquires{0}, progressCalls{0}, clears{0};

private:
    template <typename F>
    auto Locked(F f) -> decltype(f())
    {
        std::lock_guard<std::mutex> hold(mutex_);
        return f();
    }
    void LockCheck(bool takeLock);
    void Append(const std::string& text, int style, bool endLine, bool startsLine, bool stamped);
    void FoundUnitSet(const DFIND_DevInfo& unit, bool add);

    std::mutex mutex_;
    std::thread::id guiThread_ = std::this_thread::get_id();  // the creator is the GUI thread
    OperationRunner* runner_ = nullptr;
    std::vector<LoggedLine> lines_;
    bool open_ = false;
    std::string host_, password_, version_;
    std::vector<AppState> states_;
    int64_t done_ = -1, total_ = -1;
    std::vector<std::pair<std::string, bool>> rows_;  // found units, added after phase one
    std::atomic<int> mistakes_{0};
};

// Waits until the runner leaves the busy states (at most timeoutMs) and joins the worker.
bool WaitIdle(OperationRunner& runner, int timeoutMs);
