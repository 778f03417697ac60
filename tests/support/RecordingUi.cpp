#include "tests/support/RecordingUi.h"
#include <algorithm>
#include "base/LogTypes.h"
#include "operations/LogLines.h"
#include "tests/support/ScriptedPeer.h"

void RecordingUi::LockCheck(bool takeLock)
{
    if (takeLock == (std::this_thread::get_id() == guiThread_)) ++mistakes_;
}

void RecordingUi::Append(const std::string& text, int style, bool endLine, bool startsLine, bool stamped)
{
    if (startsLine || !open_) {
        if (open_) lines_.back().text += "<unterminated>";
        lines_.push_back({"", {}, stamped});
    }
    lines_.back().text += text;
    lines_.back().styles.push_back(style);
    open_ = !endLine;
}

time_t RecordingUi::LogAdd(const SString& text, uint32_t mode, bool takeLock, int style)
{
    LockCheck(takeLock);
    std::lock_guard<std::mutex> hold(mutex_);
    const bool starts = LogModeHasPrefix(mode);
    const time_t now = clockBase.load() ? (time_t)clockBase.load() : time(nullptr);
    const time_t stamp = starts && !(mode & kLogNoTime) ? now + (time_t)clockShift.load() : 0;
    const std::string prefix = starts ? LogPrefix(0, runner_ ? runner_->IndentDepth() : 0).Text() : "";
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

void RecordingUi::RunStateChanged(bool takeLock)
{
    LockCheck(takeLock);
    AppState state = AppState::Unknown;
    if (runner_) runner_->StateGet(&state, nullptr);
    Locked([&] { states_.push_back(state); });
}

void RecordingUi::FoundUnitSet(const DFIND_DevInfo& unit, bool add)
{
    const bool late = Find("Get extra information") >= 0;
    std::lock_guard<std::mutex> hold(mutex_);
    if (add ? unit.row != (int)rows_.size() : unit.row < 0 || unit.row >= (int)rows_.size()) return (void)++mistakes_;
    if (add) rows_.push_back({"", late});
    rows_[(size_t)unit.row].first = std::string(unit.ipConnect.Text()) + " " + unit.ip.Text() + " " + unit.mac.Text() +
                                    " " + unit.id.Text() + " " + unit.version.Text();
}

std::vector<std::string> RecordingUi::Rows()
{
    std::vector<std::string> rows;
    for (const auto& r : Locked([&] { return rows_; })) rows.push_back(r.first + (r.second ? " (late)" : ""));
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::vector<std::string> RecordingUi::Texts()
{
    std::vector<std::string> texts;
    for (const LoggedLine& l : Lines()) texts.push_back(l.text);
    return texts;
}

int RecordingUi::Find(const std::string& needle)
{
    std::vector<std::string> texts = Texts();
    auto at = std::find_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(needle) != std::string::npos; });
    return at == texts.end() ? -1 : (int)(at - texts.begin());
}

int RecordingUi::Count(const std::string& needle)
{
    std::vector<std::string> texts = Texts();
    return (int)std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.find(needle) != std::string::npos; });
}

int RecordingUi::StyleOf(const std::string& needle)
{
    int at = Find(needle);
    return at < 0 || Lines()[(size_t)at].styles.empty() ? -1 : Lines()[(size_t)at].styles.back();
}

bool RecordingUi::WaitForLine(const std::string& needle, int timeoutMs)
{
    return WaitUntil([&] { return Find(needle) >= 0; }, timeoutMs);
}

std::string RecordingUi::Dump()
{
    std::string all;
    for (const std::string& t : Texts()) all += t + "\n";
    return all;
}

std::string RecordingUi::Missing(const std::vector<std::string>& present, const std::vector<std::string>& absent)
{
    std::string wrong;
    for (const std::string& line : present) wrong += Find(line) < 0 ? "missing '" + line + "'; " : "";
    for (const std::string& line : absent) wrong += Find(line) >= 0 ? "unexpected '" + line + "'; " : "";
    return wrong.empty() ? wrong : wrong + "log:\n" + Dump();
}

bool WaitIdle(OperationRunner& runner, int timeoutMs)
{
    if (!WaitUntil([&] { return !runner.IsBusy(); }, timeoutMs)) return false;
    runner.WorkerJoin();
    return true;
}
