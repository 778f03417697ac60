#include "cli/UnitRun.h"

#include <glib.h>
#include <unistd.h>

#include <cstring>

#include "base/LogTypes.h"
#include "base/Messages.h"
#include "cli/HostList.h"
#include "operations/LogLines.h"

namespace {
// JSON progress events of one unit come at most this often (and at the first and last record).
const int64_t kProgressEveryMs = 250;
const int kBarWidth = 20;

bool IsErrorStyle(int style)
{
    return style == LogStyleError || style == LogStyleResultError || style == LogStyleResultNotConform ||
           style == LogStyleResultAborted;
}

}  // namespace

UnitRun::UnitRun(const CliRequest& request, const std::string& host, MultiOutput* out, int wakeFd)
    : request_(request), out_(out), wakeFd_(wakeFd)
{
    request_.host = host;
    request_.hosts.assign(1, host);
    if (request_.command == CliCommand::SettingsRead)
        request_.file = HostPatternApply(request_.file, host);
    outcome_.host = host;
}

UnitRun::~UnitRun()
{
    // The runner goes first: its worker may still write to the streams.
    if (runner_)
        runner_->WorkerStop(true);
    runner_.reset();
    settings_.reset();
    if (outStream_)
        fclose(outStream_);
    if (errStream_)
        fclose(errStream_);
    free(outBuffer_);
    free(errBuffer_);
}

void UnitRun::OwnLine(const SString& text, int style)
{
    std::lock_guard<std::mutex> hold(lock_);
    linePrefix_ = LogPrefix(time(nullptr), 0).Text();
    lineStamp_ = time(nullptr);
    Piece(text, style, true);
}

void UnitRun::StreamLines(FILE* stream, char* const& buffer, size_t& size, size_t from, int style)
{
    fflush(stream);
    if (!buffer || size <= from)
        return;
    gchar** lines = g_strsplit(std::string(buffer + from, size - from).c_str(), "\n", -1);
    for (gchar** line = lines; *line; ++line)
        if (**line)
            OwnLine(SString(*line), style);
    g_strfreev(lines);
}

bool UnitRun::Start(const ImageFile& image)
{
    startUs_ = g_get_monotonic_time();
    runner_.reset(new OperationRunner(this));
    runner_->FlagsSet(RunFlags::TalkLog, request_.talkLog);
    if (request_.command >= CliCommand::SettingsRead) {
        outStream_ = open_memstream(&outBuffer_, &outSize_);
        errStream_ = open_memstream(&errBuffer_, &errSize_);
        if (!outStream_ || !errStream_) {
            OwnLine(Tr("Out of memory"), LogStyleError);
            return false;
        }
        settings_.reset(new SettingsCommand(request_, outStream_, false, errStream_, false));
        int code = kExitFailed;
        if (!settings_->Prepare(&code)) {
            StreamLines(errStream_, errBuffer_, errSize_, 0, LogStyleError);
            return false;
        }
        // What the load said was shown once for every unit, before any started.
        fflush(outStream_);
        fflush(errStream_);
        outFrom_ = outSize_;
        errFrom_ = errSize_;
        return settings_->Start(*runner_);
    }
    switch (request_.kind) {
    case OperationKind::FirmwareWrite:
    case OperationKind::LoaderWrite:
        runner_->ImageSet(SString(image.displayPath.c_str()), image.localPath);
        return runner_->WriteBegin(request_.kind == OperationKind::FirmwareWrite);
    case OperationKind::ChangePassword:
        return runner_->ChangePasswordBegin(request_.newPassword);
    default:
        return runner_->CommandBegin(request_.kind);
    }
}

void UnitRun::Stop()
{
    if (!runner_ || !runner_->IsBusy())
        return;
    if (!stopped_)
        runner_->TalkStop();
    else
        runner_->WorkerStop(false);
    stopped_ = true;
}

void UnitRun::Finish()
{
    AppState state = AppState::Error;
    if (runner_) {
        runner_->WorkerJoin();
        runner_->StateGet(&state, nullptr);
    }
    int code = ExitCodeOf(state);
    if (settings_ && runner_) {
        code = settings_->Finish(code);
        StreamLines(errStream_, errBuffer_, errSize_, errFrom_, LogStyleError);
        StreamLines(outStream_, outBuffer_, outSize_, outFrom_, LogStylePlain);
    }
    std::string version;
    {
        std::lock_guard<std::mutex> hold(lock_);
        version = outcome_.version;
    }
    if (state == AppState::Succeeded && request_.kind == OperationKind::VersionRead)
        OwnLine(TrArgs("Firmware version: ^0", version.c_str()), LogStylePlain);
    std::lock_guard<std::mutex> hold(lock_);
    outcome_.result = code == kExitOk ? UnitResult::OK : code == kExitAborted ? UnitResult::Aborted : UnitResult::Error;
    if (code == kExitDiffers && outSize_ > outFrom_) {
        // The closing count of the differences says why.
        std::string said(outBuffer_ + outFrom_, outSize_ - outFrom_);
        while (!said.empty() && said.back() == '\n')
            said.pop_back();
        outcome_.firstError = said.substr(said.rfind('\n') + 1);
    }
    if (outcome_.result == UnitResult::OK)
        outcome_.firstError.clear();
    outcome_.elapsed = (double)(g_get_monotonic_time() - startUs_) / 1e6;
    out_->UnitEnd(outcome_);
}

void UnitRun::Skip()
{
    std::lock_guard<std::mutex> hold(lock_);
    outcome_.result = UnitResult::Aborted;
    outcome_.firstError = Tr("Not started").Text();
    out_->UnitEnd(outcome_);
}

std::string UnitRun::StatusLine()
{
    AppState state = AppState::Idle;
    OperationKind kind = OperationKind::VersionRead;
    if (runner_)
        runner_->StateGet(&state, &kind);
    std::lock_guard<std::mutex> hold(lock_);
    const char* colour = nullptr;
    if (state != AppState::Running || total_ <= 0)
        return StateText(state, kind, &colour).Text();
    int filled = (int)(done_ * kBarWidth / total_);
    std::string bar(filled, '#');
    bar.append(kBarWidth - filled, '-');
    double seconds = (double)(g_get_monotonic_time() - startUs_) / 1e6;
    char text[128];
    snprintf(text, sizeof text, "[%s] %lld/%lld  %.0f/s", bar.c_str(), (long long)done_, (long long)total_,
             seconds > 0 ? (double)done_ / seconds : 0.0);
    return text;
}

void UnitRun::Piece(const SString& text, int style, bool ends)
{
    if (text.Length())
        line_.push_back({style, text.Text()});
    if (!ends)
        return;
    std::string whole;
    bool error = false;
    for (const LineSegment& s : line_) {
        whole += s.text;
        error = error || IsErrorStyle(s.style);
    }
    if (error && outcome_.firstError.empty())
        outcome_.firstError = whole;
    if (!line_.empty() || !linePrefix_.empty())
        out_->Line(outcome_.host, lineStamp_, linePrefix_, line_);
    line_.clear();
    linePrefix_.clear();
    lineStamp_ = 0;
}

time_t UnitRun::LogAdd(const SString& text, uint32_t mode, bool, int style)
{
    std::lock_guard<std::mutex> hold(lock_);
    // A style outside the table of styles shows no text, as in the window.
    const bool shown = style >= LogStylePlain && style <= LogStyleResultAborted;
    time_t stamp = 0;
    if (LogModeHasPrefix(mode)) {
        // A new line while one is open: the open one ends first.
        if (!line_.empty())
            Piece(SString(), LogStylePlain, true);
        stamp = (mode & kLogNoTime) ? 0 : time(nullptr);
        lineStamp_ = stamp;
        linePrefix_ = LogPrefix(stamp, runner_ ? runner_->IndentDepth() : 0).Text();
    }
    Piece(shown ? LogTextClean(text, mode) : SString(), style, LogModeEndsLine(mode));
    return stamp;
}

void UnitRun::LogInsert(const SString& text, uint32_t lineMode, bool, int style)
{
    std::lock_guard<std::mutex> hold(lock_);
    const char* from = text.Text();
    for (const char* nl = strchr(from, '\n'); nl; nl = strchr(from, '\n')) {
        Piece(SString(from, (int32_t)(nl - from)), style, true);
        from = nl + 1;
    }
    Piece(SString(from), style, LogModeEndsLine(lineMode));
}

void UnitRun::ProgressSet(int64_t done, int64_t total, bool)
{
    std::lock_guard<std::mutex> hold(lock_);
    done_ = done;
    total_ = total;
    if (total <= 0)
        return;
    int64_t now = g_get_monotonic_time() / 1000;
    if (done != 0 && done != total && progressSentMs_ >= 0 && now - progressSentMs_ < kProgressEveryMs)
        return;
    progressSentMs_ = now;
    out_->Progress(outcome_.host, done, total);
}

void UnitRun::RunStateChanged(bool)
{
    if (wakeFd_ < 0)
        return;
    const char byte = 's';
    // A full pipe already holds a wake-up.
    ssize_t ignored = write(wakeFd_, &byte, 1);
    (void)ignored;
}

void UnitRun::SessionInputs(SString& host, SString& password)
{
    host.Assign(request_.host.c_str());
    password.Assign(request_.password.c_str());
}

void UnitRun::VersionShow(const SString& text)
{
    std::lock_guard<std::mutex> hold(lock_);
    outcome_.version = text.Text();
}

bool UnitRun::OperationBody(OperationKind kind, MODBUS_TalkInfo& talk)
{
    return settings_ ? settings_->OperationBody(*runner_, kind, talk) : RunnerUiI::OperationBody(kind, talk);
}
