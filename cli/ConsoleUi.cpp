#include "cli/ConsoleUi.h"

#include <glib.h>
#include <unistd.h>

#include "base/LogTypes.h"
#include "operations/LogLines.h"

namespace {
struct StyleColour {
    int style;
    const char* sgr;
};
// Terminal colours close to the window's log tags.
const StyleColour kStyleColours[] = {
    {LogStyleAttention, "\033[1;34m"},
    {LogStyleError, "\033[31m"},
    {LogStyleResultOK, "\033[1;32m"},
    {LogStyleResultConform, "\033[1;32m"},
    {LogStyleResultNotConform, "\033[1;31m"},
    {LogStyleResultError, "\033[1;31m"},
    {LogStyleResultAborted, "\033[1;31m"},
};
const char kSgrReset[] = "\033[0m";
const char kClearLine[] = "\r\033[K";
const int kBarWidth = 30;
// Redrawing more often than this only costs terminal time.
const int64_t kBarRedrawMs = 100;
const int kLastLogStyle = LogStyleResultAborted;
// Into a file or a pipe: the stream's buffer and the bytes of whole lines that make a block.
const size_t kStreamBufferBytes = 128 * 1024;
const size_t kBlockBytes = 64 * 1024;

const char* StyleSgr(int style)
{
    for (const StyleColour& e : kStyleColours)
        if (e.style == style)
            return e.sgr;
    return nullptr;
}

int64_t NowMs()
{
    return g_get_monotonic_time() / 1000;
}
}  // namespace

ConsoleUi::ConsoleUi(FILE* out, bool terminal, const CliRequest& request, int wakeFd, int blockWaitMs)
    : out_(out),
      terminal_(terminal),
      showBar_(terminal && (request.kind == OperationKind::FirmwareWrite ||
                            request.kind == OperationKind::LoaderWrite)),
      wakeFd_(wakeFd),
      host_(request.host),
      password_(request.password),
      blockWaitMs_(blockWaitMs)
{
    // The stream flushes only when this object says so: its buffer holds two blocks, so it
    // never fills up in the middle of a line shorter than a block. Nothing has been written
    // to the stream yet.
    if (!terminal_) {
        streamBuffer_.reset(new char[kStreamBufferBytes]);
        setvbuf(out_, streamBuffer_.get(), _IOFBF, kStreamBufferBytes);
    }
}

ConsoleUi::~ConsoleUi()
{
    if (!streamBuffer_)
        return;
    // Flushed first, the stream lets go of the buffer (glibc allows this after output).
    fflush(out_);
    setvbuf(out_, nullptr, _IONBF, 0);
}

void ConsoleUi::Write(const SString& text, int style)
{
    // A style outside the table of styles shows no text, as in the window.
    if (style < 0 || style > kLastLogStyle)
        return;
    const char* sgr = terminal_ ? StyleSgr(style) : nullptr;
    if (sgr)
        fputs(sgr, out_);
    fputs(text.Text(), out_);
    if (sgr)
        fputs(kSgrReset, out_);
    if (!terminal_) {
        if (blockBytes_ == 0)
            blockSinceMs_ = NowMs();
        blockBytes_ += text.Length();
    }
}

void ConsoleUi::LineEnded()
{
    if (terminal_) {
        fflush(out_);
        return;
    }
    ++blockBytes_;
    if (blockBytes_ >= kBlockBytes || NowMs() - blockSinceMs_ >= blockWaitMs_)
        BlockWrite();
}

void ConsoleUi::BlockWrite()
{
    fflush(out_);
    blockBytes_ = 0;
}

void ConsoleUi::Flush()
{
    std::lock_guard<std::mutex> hold(lock_);
    BlockWrite();
}

void ConsoleUi::FlushIfStale()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (blockBytes_ > 0 && !lineOpen_ && NowMs() - blockSinceMs_ >= blockWaitMs_)
        BlockWrite();
}

void ConsoleUi::BarEnd()
{
    if (!barShown_)
        return;
    // A finished bar stays on screen; an unfinished one makes room for the line.
    fputs(barFull_ ? "\n" : kClearLine, out_);
    barShown_ = false;
}

time_t ConsoleUi::LogAdd(const SString& text, uint32_t mode, bool, int style)
{
    std::lock_guard<std::mutex> hold(lock_);
    BarEnd();
    SString clean = LogTextClean(text, mode);
    time_t stamp = 0;
    if (LogModeHasPrefix(mode)) {
        stamp = (mode & kLogNoTime) ? 0 : time(nullptr);
        Write(LogPrefix(stamp, runner_ ? runner_->IndentDepth() : 0), LogStylePlain);
    }
    Write(clean, style);
    lineOpen_ = !LogModeEndsLine(mode);
    if (!lineOpen_) {
        fputc('\n', out_);
        LineEnded();
    } else if (terminal_) {
        fflush(out_);
    }
    return stamp;
}

void ConsoleUi::LogInsert(const SString& text, uint32_t lineMode, bool, int style)
{
    std::lock_guard<std::mutex> hold(lock_);
    BarEnd();
    Write(text, style);
    lineOpen_ = !LogModeEndsLine(lineMode);
    if (!lineOpen_) {
        fputc('\n', out_);
        LineEnded();
    } else if (terminal_) {
        fflush(out_);
    }
}

void ConsoleUi::LogClear(bool)
{
    // Standard output keeps what it printed; a new operation starts on a fresh bar.
    std::lock_guard<std::mutex> hold(lock_);
    barStartMs_ = -1;
    barDrawnMs_ = -1;
}

void ConsoleUi::BarDraw(int64_t done, int64_t total, int64_t nowMs)
{
    double fraction = total > 0 ? (double)done / (double)total : 0.0;
    fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
    int filled = (int)(fraction * kBarWidth);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = '\0';

    double seconds = (double)(nowMs - barStartMs_) / 1000.0;
    double rate = seconds > 0 ? (double)done / seconds : 0.0;
    long left = rate > 0 ? (long)((double)(total - done) / rate + 0.5) : 0;
    fprintf(out_, "%s[%s] %lld/%lld records  %.0f rec/s  %ld:%02ld left", kClearLine, bar,
            (long long)done, (long long)total, rate, left / 60, left % 60);
    fflush(out_);
    barShown_ = true;
    barFull_ = done >= total;
    barDrawnMs_ = nowMs;
}

void ConsoleUi::ProgressSet(int64_t done, int64_t total, bool)
{
    if (!showBar_)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    int64_t now = NowMs();
    if (barStartMs_ < 0 || done == 0)
        barStartMs_ = now;
    if (total < 1 || lineOpen_)
        return;
    if (done < total && barDrawnMs_ >= 0 && now - barDrawnMs_ < kBarRedrawMs)
        return;
    BarDraw(done, total, now);
}

void ConsoleUi::RunStateChanged(bool)
{
    // The lines before a change of state (the end line above all) are out before it is seen.
    Flush();
    if (wakeFd_ < 0)
        return;
    const char byte = 's';
    // The main thread only needs to wake up; a full pipe already holds a wake-up.
    ssize_t ignored = write(wakeFd_, &byte, 1);
    (void)ignored;
}

void ConsoleUi::SessionInputs(SString& host, SString& password)
{
    std::lock_guard<std::mutex> hold(lock_);
    host.Assign(host_.c_str());
    password.Assign(password_.c_str());
}

void ConsoleUi::VersionShow(const SString& text)
{
    std::lock_guard<std::mutex> hold(lock_);
    version_ = text.Text();
}

std::string ConsoleUi::Version()
{
    std::lock_guard<std::mutex> hold(lock_);
    return version_;
}

bool ConsoleUi::OperationBody(OperationKind kind, MODBUS_TalkInfo& talk)
{
    return body_ ? body_(kind, talk) : RunnerUiI::OperationBody(kind, talk);
}
