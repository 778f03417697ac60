// What the worker hands to the window's log: finished insertions, clears and progress values,
// queued in order and taken by the GUI thread in batches; and the line-limit rule applied to a
// whole batch of insertions at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct LogEntry {
    enum Kind : uint8_t { Insert, Clear, Progress };
    Kind kind = Insert;
    bool lineEnd = false;  // Insert: a line feed follows the text
    int style = 0;         // Insert: the log style
    std::string text;      // Insert
    int64_t done = 0, total = 0;  // Progress
    // Insert: the line feeds of text, or -1 when it is not valid UTF-8 (the buffer refuses it);
    // counted once, by Push on the writer's thread, so that planning a batch never reads the text
    // of the lines it skips.
    mutable int32_t feeds = kFeedsUnknown;
    static const int32_t kFeedsUnknown = -2;
};

// Thread-safe FIFO of log entries with its flush: the first Push after an idle spell arms
// `flush` on the main loop one frame later; it runs with the GDK lock held, calls
// Take(true) and returns false (the next Push arms it again). The locking rule is described
// in GUIApp_Log.cpp, where the window's log uses the queue.
class LogQueue {
public:
    LogQueue(int (*flush)(void* data), void* data, unsigned frameMs) : flush_(flush), data_(data), frameMs_(frameMs) {}
    // Removes a flush still armed (the GUI thread destroys the queue, so it is not running).
    ~LogQueue();
    LogQueue(const LogQueue&) = delete;
    LogQueue& operator=(const LogQueue&) = delete;

    // Appends the entries as one unit: no other writer's entry comes between them.
    void Push(LogEntry* entries, size_t count);
    // Everything queued so far, oldest first. byFlush: called by the armed flush itself.
    std::vector<LogEntry> Take(bool byFlush);
    // Arms the flush `ms` from now unless it is armed already: the GUI thread still holds
    // entries it took but has not inserted yet.
    void Arm(unsigned ms);

private:
    int (*flush_)(void* data);
    void* data_;
    unsigned frameMs_;
    std::mutex mutex_;
    std::vector<LogEntry> entries_;
    unsigned source_ = 0;  // the armed flush's main-loop source, 0 when none is armed
};

// The insertions of a batch as the line-by-line rule would leave them: before every insertion
// a buffer of more than `limit` lines loses its first `limit` lines. Lines that would be cut
// within the batch are never inserted; the buffer's own lines are cut first instead.
struct LogBatchPlan {
    bool clearAll = false;  // the whole buffer goes (its last, unended line included)
    int cutLines = 0;       // otherwise: lines to delete from the start of the buffer
    std::string text;       // appended at the end of the buffer in one piece
    struct Span {
        long from, length;  // characters into text
        int style;
    };
    std::vector<Span> spans;  // styled stretches of text, adjacent ones of one style merged
    // The batch holds a line break other than a line feed (carriage return, paragraph
    // separator), where the text buffer's line count does not follow this plan: insert it
    // line by line instead.
    bool lineByLine = false;
};

// What the GUI thread holds of the queue's entries until they are in: appending a frame's take
// to a deque moves only that take, never what is still waiting (a vector moved all of it on
// every regrowth, tens of milliseconds a frame once the window fell behind).
using LogEntries = std::deque<LogEntry>;
using LogEntryAt = LogEntries::const_iterator;

// Counts the line feeds of the insertions' texts (their `feeds`).
void LogMeasure(LogEntry* entries, size_t count);

// The index of the insertion before which the line-by-line rule makes its last cut in this
// run of insertions (0: none). Everything before it is cut, but for the unended tail of its
// last line, so planning up to there costs no insertion.
size_t LogLastCut(int lineCount, int limit, LogEntryAt entries, size_t count,
                  bool (*styleHasText)(int style, void* context), void* context);

// Entries other than insertions are passed over. lineCount: the buffer's line count (line
// feeds + 1). styleHasText(style): whether an insertion of that style inserts its text (else
// only its line feed); text that is not valid UTF-8 is not inserted either.
LogBatchPlan LogPlanBatch(int lineCount, int limit, LogEntryAt entries, size_t count,
                          bool (*styleHasText)(int style, void* context), void* context);
