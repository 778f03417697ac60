// The log queue and the batch form of the line-limit rule.
#include "app/LogQueue.h"

#include <gdk/gdk.h>

#include <cstring>
#include <iterator>
#include <string>

LogQueue::~LogQueue()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (source_)
        g_source_remove(source_);
}

void LogQueue::Push(LogEntry* entries, size_t count)
{
    LogMeasure(entries, count);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.insert(entries_.end(), std::make_move_iterator(entries), std::make_move_iterator(entries + count));
    if (!source_)
        source_ = gdk_threads_add_timeout_full(G_PRIORITY_DEFAULT, frameMs_, flush_, data_, nullptr);
}

void LogQueue::Arm(unsigned ms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!source_)
        source_ = gdk_threads_add_timeout_full(G_PRIORITY_DEFAULT, ms, flush_, data_, nullptr);
}

std::vector<LogEntry> LogQueue::Take(bool byFlush)
{
    std::vector<LogEntry> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(entries_);
    // The writer's next frame is likely as long: spare it the vector's regrowth under the lock.
    entries_.reserve(taken.size());
    if (byFlush)
        source_ = 0;
    return taken;
}

namespace {
long CountLineFeeds(const char* text, size_t length)
{
    long n = 0;
    for (const char* p = text; (p = static_cast<const char*>(memchr(p, '\n', length - (size_t)(p - text))));
         ++p)
        ++n;
    return n;
}

long CharCount(const char* text, size_t length)
{
    long n = 0;
    for (size_t i = 0; i < length; ++i)
        n += ((unsigned char)text[i] & 0xC0) != 0x80;
    return n;
}

int32_t Feeds(const LogEntry& e)
{
    if (e.feeds == LogEntry::kFeedsUnknown)
        e.feeds = g_utf8_validate(e.text.data(), (gssize)e.text.size(), nullptr)
                      ? (int32_t)CountLineFeeds(e.text.data(), e.text.size())
                      : -1;
    return e.feeds;
}

// Whether an insertion inserts its text: the line feeds it adds are those of its text then.
bool TextInserted(const LogEntry& e, bool (*styleHasText)(int style, void* context), void* context)
{
    return !e.text.empty() && styleHasText(e.style, context) && Feeds(e) >= 0;
}

// The line count after the insertions as the line-by-line rule leaves it, with the cuts made:
// the index of the insertion before the last cut and the number of cuts.
struct CutWalk {
    size_t last = 0;
    long cuts = 0;
};

CutWalk WalkCuts(int lineCount, int limit, LogEntryAt entries, size_t count,
                 bool (*styleHasText)(int style, void* context), void* context)
{
    CutWalk walk;
    long lines = lineCount;
    for (size_t i = 0; i < count; ++i) {
        const LogEntry& e = entries[i];
        if (e.kind != LogEntry::Insert)
            continue;
        if (lines > limit) {
            walk.last = i;
            ++walk.cuts;
            lines -= limit;
        }
        if (TextInserted(e, styleHasText, context))
            lines += Feeds(e);
        lines += e.lineEnd;
    }
    return walk;
}
}  // namespace

void LogMeasure(LogEntry* entries, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (entries[i].kind == LogEntry::Insert)
            Feeds(entries[i]);
}

size_t LogLastCut(int lineCount, int limit, LogEntryAt entries, size_t count,
                  bool (*styleHasText)(int style, void* context), void* context)
{
    return WalkCuts(lineCount, limit, entries, count, styleHasText, context).last;
}

LogBatchPlan LogPlanBatch(int lineCount, int limit, LogEntryAt entries, size_t count,
                          bool (*styleHasText)(int style, void* context), void* context)
{
    LogBatchPlan plan;
    // Every cut takes the first `limit` lines of what the buffer holds then, which is always a
    // prefix of the buffer followed by the batch: together they take its first cuts x limit lines.
    long gone = WalkCuts(lineCount, limit, entries, count, styleHasText, context).cuts * (long)limit;
    long bufferLineFeeds = lineCount - 1;
    long skip = 0;  // line feeds of the batch whose lines are cut before they are shown
    if (gone <= bufferLineFeeds) {
        plan.cutLines = (int)gone;
    } else {
        plan.clearAll = true;
        skip = gone - bufferLineFeeds;
    }

    long chars = 0;
    // Appends a stretch of an insertion (its text, or its line feed with style -1), less what
    // the cuts take: a stretch with fewer line feeds than are still to skip goes whole.
    auto add = [&](const char* text, size_t length, long feeds, int style) {
        if (skip > feeds) {
            skip -= feeds;
            return;
        }
        while (skip > 0) {
            const char* feed = static_cast<const char*>(memchr(text, '\n', length));
            length -= (size_t)(feed + 1 - text);
            text = feed + 1;
            --skip;
        }
        if (length == 0)
            return;
        long n = CharCount(text, length);
        if (style >= 0) {
            LogBatchPlan::Span* last = plan.spans.empty() ? nullptr : &plan.spans.back();
            if (last && last->style == style && last->from + last->length == chars)
                last->length += n;
            else
                plan.spans.push_back({chars, n, style});
        }
        plan.text.append(text, length);
        chars += n;
    };
    for (size_t i = 0; i < count; ++i) {
        const LogEntry& e = entries[i];
        if (e.kind != LogEntry::Insert)
            continue;
        if (TextInserted(e, styleHasText, context)) {
            if (e.text.find('\r') != std::string::npos || e.text.find("\xE2\x80\xA9") != std::string::npos)
                plan.lineByLine = true;
            add(e.text.data(), e.text.size(), Feeds(e), e.style == 0 || e.style == 1 ? -1 : e.style);
        }
        if (e.lineEnd)
            add("\n", 1, 1, -1);
    }
    return plan;
}
