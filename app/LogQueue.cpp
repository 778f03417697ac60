// The log queue and the batch form of the line-limit rule.
#include "app/LogQueue.h"

#include <gdk/gdk.h>

#include <cstring>
#include <iterator>

LogQueue::~LogQueue()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (source_)
        g_source_remove(source_);
}

void LogQueue::Push(LogEntry* entries, size_t count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.insert(entries_.end(), std::make_move_iterator(entries), std::make_move_iterator(entries + count));
    if (!source_)
        source_ = gdk_threads_add_timeout_full(G_PRIORITY_DEFAULT, frameMs_, flush_, data_, nullptr);
}

std::vector<LogEntry> LogQueue::Take(bool byFlush)
{
    std::vector<LogEntry> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    taken.swap(entries_);
    if (byFlush)
        source_ = 0;
    return taken;
}

namespace {
// One stretch of an insertion: its text or its line feed.
struct Stretch {
    const char* text;
    size_t length;
    int style;  // -1: no tag (plain text, or a line feed)
};

long CountLineFeeds(const char* text, size_t length)
{
    long n = 0;
    for (size_t i = 0; i < length; ++i)
        n += text[i] == '\n';
    return n;
}

long CharCount(const char* text, size_t length)
{
    long n = 0;
    for (size_t i = 0; i < length; ++i)
        n += ((unsigned char)text[i] & 0xC0) != 0x80;
    return n;
}
}  // namespace

LogBatchPlan LogPlanBatch(int lineCount, int limit, const LogEntry* entries, size_t count,
                          bool (*styleHasText)(int style, void* context), void* context)
{
    LogBatchPlan plan;
    // The stretches each insertion adds, as the line-by-line path inserts them.
    std::vector<Stretch> stretches;
    stretches.reserve(count * 2);
    long lines = lineCount;
    long cuts = 0;
    for (size_t i = 0; i < count; ++i) {
        const LogEntry& e = entries[i];
        if (lines > limit) {
            ++cuts;
            lines -= limit;
        }
        if (!e.text.empty() && styleHasText(e.style, context) &&
            g_utf8_validate(e.text.data(), (gssize)e.text.size(), nullptr)) {
            if (e.text.find('\r') != std::string::npos || e.text.find("\xE2\x80\xA9") != std::string::npos)
                plan.lineByLine = true;
            int tagged = e.style == 0 || e.style == 1 ? -1 : e.style;
            stretches.push_back({e.text.data(), e.text.size(), tagged});
            lines += CountLineFeeds(e.text.data(), e.text.size());
        }
        if (e.lineEnd) {
            stretches.push_back({"\n", 1, -1});
            ++lines;
        }
    }

    // Every cut takes the first `limit` lines of what the buffer holds then, which is always a
    // prefix of the buffer followed by the batch: together they take its first cuts x limit lines.
    long gone = cuts * (long)limit;
    long bufferLineFeeds = lineCount - 1;
    long skip = 0;  // line feeds of the batch whose lines are cut before they are shown
    if (gone <= bufferLineFeeds) {
        plan.cutLines = (int)gone;
    } else {
        plan.clearAll = true;
        skip = gone - bufferLineFeeds;
    }

    long chars = 0;
    for (const Stretch& s : stretches) {
        const char* text = s.text;
        size_t length = s.length;
        while (skip > 0 && length > 0) {
            const char* feed = static_cast<const char*>(memchr(text, '\n', length));
            if (!feed) {
                length = 0;
                break;
            }
            length -= (size_t)(feed + 1 - text);
            text = feed + 1;
            --skip;
        }
        if (length == 0)
            continue;
        long n = CharCount(text, length);
        if (s.style >= 0) {
            LogBatchPlan::Span* last = plan.spans.empty() ? nullptr : &plan.spans.back();
            if (last && last->style == s.style && last->from + last->length == chars)
                last->length += n;
            else
                plan.spans.push_back({chars, n, s.style});
        }
        plan.text.append(text, length);
        chars += n;
    }
    return plan;
}
