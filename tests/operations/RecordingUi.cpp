#include "tests/operations/RecordingUi.h"

#include <chrono>

#include "base/LogTypes.h"
#include "operations/LogLines.h"

namespace {
const int kPollMs = 5;
}

RecordingUi::RecordingUi() : guiThread_(std::this_thread::get_id()) {}

void RecordingUi::LockCheck(bool takeLock)
{
    bool onGui = std::this_thread::get_id() == guiThread_;
    if (takeLock == onGui)
        ++lockMistakes_;
}

void RecordingUi::Append(const std::string& text, int style, bool endLine, bool startsLine, bool stamped)
{
    if (startsLine || !open_) {
        if (open_)
            lines_.back().text += "<unterminated>";
        lines_.push_back(LoggedLine());
        lines_.back().stamped = stamped;
    }
    lines_.back().text += text;
    lines_.back().styles.push_back(style);
    open_ = !endLine;
}

time_t RecordingUi::LogAdd(const SString& text, uint32_t mode, bool takeLock, int style)
{
    LockCheck(takeLock);
    std::lock_guard<std::mutex> hold(mutex_);
    time_t stamp = 0;
    std::string prefix;
    bool starts = LogModeHasPrefix(mode);
    if (starts) {
        time_t now = clockBase.load() ? (time_t)clockBase.load() : time(nullptr);
        stamp = (mode & kLogNoTime) ? 0 : now + (time_t)clockShift.load();
        prefix = LogPrefix(0, runner_ ? runner_->IndentDepth() : 0).Text();
    }
    Append(prefix + LogTextClean(text, mode).Text(), style, LogModeEndsLine(mode), starts, stamp != 0);
    return stamp;
}

void RecordingUi::LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style)
{
    LockCheck(takeLock);
    std::lock_guard<std::mutex> hold(mutex_);
    std::string rest = text.Text();
    for (size_t nl = rest.find('\n'); nl != std::string::npos; nl = rest.find('\n')) {
        Append(rest.substr(0, nl), style, true, false, false);
        rest.erase(0, nl + 1);
    }
    Append(rest, style, LogModeEndsLine(lineMode), false, false);
}

void RecordingUi::LogClear(bool takeLock)
{
    LockCheck(takeLock);
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.clear();
    open_ = false;
}

void RecordingUi::ProgressSet(int64_t done, int64_t total, bool takeLock)
{
    LockCheck(takeLock);
    std::lock_guard<std::mutex> hold(mutex_);
    done_ = done;
    total_ = total;
    ++progressCalls_;
}

void RecordingUi::RunStateChanged(bool takeLock)
{
    LockCheck(takeLock);
    AppState state = AppState::Unknown;
    if (runner_)
        runner_->StateGet(&state, nullptr);
    std::lock_guard<std::mutex> hold(mutex_);
    states_.push_back(state);
}

void RecordingUi::SessionInputs(SString& host, SString& password)
{
    std::lock_guard<std::mutex> hold(mutex_);
    host.Assign(host_.c_str());
    password.Assign(password_.c_str());
}

void RecordingUi::VersionShow(const SString& text)
{
    std::lock_guard<std::mutex> hold(mutex_);
    version_ = text.Text();
}

void RecordingUi::Inputs(const std::string& host, const std::string& password)
{
    std::lock_guard<std::mutex> hold(mutex_);
    host_ = host;
    password_ = password;
}

std::vector<LoggedLine> RecordingUi::Lines()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
}

std::vector<std::string> RecordingUi::Texts()
{
    std::vector<std::string> texts;
    for (const LoggedLine& l : Lines())
        texts.push_back(l.text);
    return texts;
}

int RecordingUi::Find(const std::string& needle)
{
    std::vector<std::string> texts = Texts();
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i].find(needle) != std::string::npos)
            return (int)i;
    return -1;
}

int RecordingUi::Count(const std::string& needle)
{
    int n = 0;
    for (const std::string& t : Texts())
        if (t.find(needle) != std::string::npos)
            ++n;
    return n;
}

int RecordingUi::StyleOf(const std::string& needle)
{
    for (const LoggedLine& l : Lines())
        if (l.text.find(needle) != std::string::npos)
            return l.styles.empty() ? -1 : l.styles.back();
    return -1;
}

bool RecordingUi::WaitForLine(const std::string& needle, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += kPollMs) {
        if (Find(needle) >= 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return false;
}

std::string RecordingUi::Dump()
{
    std::string all;
    for (const std::string& t : Texts())
        all += t + "\n";
    return all;
}

std::vector<AppState> RecordingUi::States()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return states_;
}

std::string RecordingUi::Version()
{
    std::lock_guard<std::mutex> hold(mutex_);
    return version_;
}

void RecordingUi::Progress(int64_t* done, int64_t* total, int* calls)
{
    std::lock_guard<std::mutex> hold(mutex_);
    *done = done_;
    *total = total_;
    *calls = progressCalls_;
}

bool WaitIdle(OperationRunner& runner, int timeoutMs)
{
    bool idle = false;
    for (int waited = 0; waited <= timeoutMs; waited += kPollMs) {
        if (!runner.IsBusy()) {
            idle = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    if (idle)
        runner.WorkerJoin();
    return idle;
}
