// GUIApp: the log view (tags, line modes, indentation, line limit, auto-scroll), the status
// label and the progress bar.
#include <cmath>
#include <cstring>
#include <cstdio>
#include <iterator>

#include "app/GUIApp.h"
#include "operations/LogLines.h"

namespace {
const char kScrollMark[] = "scroll";
// The view's follow timer: its state (object data on the view) and how many frames after the
// last insertion it may go on before the end is in sight.
const char kFollowArmed[] = "pelta-log-follow-armed";
const char kFollowFramesLeft[] = "pelta-log-follow-frames-left";
const int kFollowFrames = 250;
// A frame's flush inserts for about this long, in pieces of this many entries (two per line).
const gint64 kLogFrameBudgetUs = 8000;
const size_t kLogPieceEntries = 1024;
// Cuts of at least this many lines swap buffers; the old one loses this many per idle call.
const int kLogSwapLines = 2000;
const int kLogFreeLines = 4000;
const int kBold = 700;

// The look of each log style; styles without an entry are plain text.
struct LogTagLook {
    int style;
    const char* name;
    const char* foreground;
    int weight;    // 0: unset
    double scale;  // 0: unset
    const char* family;
};
const LogTagLook kLogTags[] = {
    {LogStyleAttention, "attention", "blue", kBold, 1.2, nullptr},
    {LogStyleMonospace, "monospace", nullptr, 0, 0, "mono"},
    {LogStyleError, "error", "red", 0, 0, nullptr},
    {LogStyleResultOK, "resultOK", "#008000", kBold, 0, nullptr},
    {LogStyleResultConform, "resultConform", "#008000", kBold, 0, nullptr},
    {LogStyleResultNotConform, "resultNotConform", "red", kBold, 0, nullptr},
    {LogStyleResultError, "resultError", "red", kBold, 0, nullptr},
    {LogStyleResultAborted, "resultAborted", "red", kBold, 0, nullptr},
};

bool EndsLine(uint32_t lineMode)
{
    return lineMode == LogModeLine || lineMode == LogModeClose;
}
}  // namespace

void GUIApp::LogTagsCreate()
{
    if (!logBuffer_)
        return;
    GtkTextTagTable* table = gtk_text_buffer_get_tag_table(logBuffer_);
    for (const LogTagLook& t : kLogTags) {
        GtkTextTag* tag = gtk_text_tag_table_lookup(table, t.name);
        if (!tag)
            tag = gtk_text_buffer_create_tag(logBuffer_, t.name, nullptr);
        if (t.foreground)
            g_object_set(tag, "foreground", t.foreground, nullptr);
        if (t.weight)
            g_object_set(tag, "weight", t.weight, nullptr);
        if (t.scale > 0)
            g_object_set(tag, "scale", t.scale, nullptr);
        if (t.family)
            g_object_set(tag, "family", t.family, nullptr);
        logTags_[t.style] = tag;
    }
}

time_t GUIApp::LogAdd(const char* text, uint32_t mode, bool takeLock, int style)
{
    return LogAdd(SString(text), mode, takeLock, style);
}

time_t GUIApp::LogAdd(const SString& text, uint32_t mode, bool takeLock, int style)
{
    SString s = LogTextClean(text, mode);
    uint32_t lineMode = mode & kLogModeMask;
    if (lineMode == LogModeClose || lineMode == LogModeAppend) {
        LogInsert(s, lineMode, takeLock, style);
        return 0;
    }
    time_t stamp = (mode & kLogNoTime) ? 0 : time(nullptr);
    SString prefix = LogPrefix(stamp, runner_.IndentDepth());
    if (takeLock) {
        // The prefix and the text go into the queue together: no other line can split them.
        LogEntry line[2];
        line[0].style = LogStyleMonospace;
        line[0].text.assign(prefix.Text(), prefix.Length());
        line[1].lineEnd = EndsLine(lineMode);
        line[1].style = style;
        line[1].text.assign(s.Text(), s.Length());
        logQueue_.Push(line, 2);
        return stamp;
    }
    LogInsert(prefix, LogModeAppend, false, LogStyleMonospace);
    LogInsert(s, lineMode, false, style);
    return stamp;
}

void GUIApp::LogInsert(const char* text, uint32_t lineMode, bool takeLock, int style)
{
    LogInsert(SString(text ? text : ""), lineMode, takeLock, style);
}

// How the log is written from two threads.
//
// A line from the worker (the callers that pass takeLock) no longer takes the GDK lock: the
// finished line, time prefix and text together, is queued under the queue's own mutex, and
// so are the worker's clears and progress values. The GUI thread takes the queue once per
// frame (16 ms after the first entry of a burst) and inserts it in one batch under the GDK
// lock, skipping the lines the line limit would cut within that batch, so that the buffer
// after every batch holds exactly what line-by-line insertion would have left. Whoever
// writes the log, the status or the progress bar directly (with the GDK lock held: the GUI
// thread, or the worker through its state change) first inserts everything queued, so the
// old guarantees hold: no line is lost, none is reordered against the others or against the
// abort line, the end line, the status and the progress, and none is shown more than a frame
// late. A worker's prefix and text can no longer be split by a line from the GUI thread.
void GUIApp::LogInsert(const SString& text, uint32_t lineMode, bool takeLock, int style)
{
    if (takeLock) {
        LogEntry entry;
        entry.lineEnd = EndsLine(lineMode);
        entry.style = style;
        entry.text.assign(text.Text(), text.Length());
        logQueue_.Push(&entry, 1);
        return;
    }
    LogQueueFlush(false);
    LogInsertLocked(text.Text(), (int32_t)text.Length(), lineMode, style);
    LogFollowUpdate();
}

int GUIApp::LogQueue_cb(void* self)
{
    static_cast<GUIApp*>(self)->LogQueueFlush(true);
    return FALSE;
}

bool GUIApp::LogStyleHasText(int style, void* self)
{
    if (style == LogStylePlain || style == LogStyleTraffic)
        return true;
    return style > LogStyleTraffic && style <= LogStyleResultAborted &&
           static_cast<GUIApp*>(self)->logTags_[style] != nullptr;
}

void GUIApp::LogQueueFlush(bool byFlush)
{
    std::vector<LogEntry> taken = logQueue_.Take(byFlush);
    logPending_.erase(logPending_.begin(), logPending_.begin() + (long)logPendingAt_);
    logPendingAt_ = 0;
    logPending_.insert(logPending_.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
    // The frame's own flush stops when its time is up and goes on in the next frame; any
    // other caller is about to show something after these lines and inserts them all.
    const gint64 deadline = g_get_monotonic_time() + kLogFrameBudgetUs;
    bool inserted = false;
    size_t i = logPendingAt_;
    const size_t n = logPending_.size();
    while (i < n && !(byFlush && inserted && g_get_monotonic_time() >= deadline)) {
        if (logPending_[i].kind == LogEntry::Clear) {
            LogClearLocked();
            ++i;
            continue;
        }
        // Up to the next clear: the progress values in between change nothing in the buffer, so
        // the lines the last cut of the run deletes cost nothing to plan past. The first piece
        // reaches that cut; the rest goes in pieces small enough to stop in time, each followed
        // by its last progress value.
        size_t end = i;
        while (end < n && logPending_[end].kind != LogEntry::Clear)
            ++end;
        size_t piece = i;
        if (logBuffer_)
            piece += LogLastCut(gtk_text_buffer_get_line_count(logBuffer_), kLogLineLimit,
                                logPending_.cbegin() + (long)i, end - i, &GUIApp::LogStyleHasText, this);
        while (i < end && !(byFlush && inserted && g_get_monotonic_time() >= deadline)) {
            size_t stop = std::min(end, piece + kLogPieceEntries);
            LogInsertBatch(logPending_.cbegin() + (long)i, stop - i);
            for (size_t k = stop; k-- > i;) {
                if (logPending_[k].kind == LogEntry::Progress) {
                    ProgressShow(logPending_[k].done, logPending_[k].total);
                    break;
                }
            }
            inserted = true;
            i = piece = stop;
        }
    }
    if (i == n) {
        logPending_.clear();
        logPendingAt_ = 0;
    } else {
        logPendingAt_ = i;
        // Leave the rest of the frame to drawing and input, then go on.
        logQueue_.Arm(kLogFrameMs / 4);
    }
    if (inserted)
        LogFollowUpdate();
}

void GUIApp::LogInsertBatch(LogEntryAt entries, size_t count)
{
    if (!logBuffer_)
        return;
    LogBatchPlan plan = LogPlanBatch(gtk_text_buffer_get_line_count(logBuffer_), kLogLineLimit, entries, count,
                                     &GUIApp::LogStyleHasText, this);
    GtkTextIter start, end;
    gtk_text_buffer_get_end_iter(logBuffer_, &end);
    bool afterReturn = gtk_text_iter_backward_char(&end) && gtk_text_iter_get_char(&end) == '\r';
    if (plan.lineByLine || afterReturn) {
        for (size_t i = 0; i < count; ++i)
            if (entries[i].kind == LogEntry::Insert)
                LogInsertLocked(entries[i].text.data(), (int32_t)entries[i].text.size(),
                            entries[i].lineEnd ? LogModeLine : LogModeAppend, entries[i].style);
        return;
    }
    if (plan.clearAll || plan.cutLines > 0)
        LogCutFront(plan.clearAll ? -1 : plan.cutLines);
    const int base = gtk_text_buffer_get_char_count(logBuffer_);
    gtk_text_buffer_get_end_iter(logBuffer_, &end);
    gtk_text_buffer_insert(logBuffer_, &end, plan.text.data(), (gint)plan.text.size());
    // One iterator walks the spans in order (a tag does not move characters, so it stays valid).
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(logBuffer_, &at, base);
    long atOffset = 0;
    for (const LogBatchPlan::Span& span : plan.spans) {
        gtk_text_iter_forward_chars(&at, (gint)(span.from - atOffset));
        start = at;
        gtk_text_iter_forward_chars(&at, (gint)span.length);
        atOffset = span.from + span.length;
        gtk_text_buffer_apply_tag(logBuffer_, logTags_[span.style], &start, &at);
    }
}

void GUIApp::LogInsertLocked(const char* text, int32_t length, uint32_t lineMode, int style)
{
    if (!logBuffer_)
        return;
    GtkTextIter end;
    if (gtk_text_buffer_get_line_count(logBuffer_) > kLogLineLimit)
        LogCutFront(kLogLineLimit);
    gtk_text_buffer_get_end_iter(logBuffer_, &end);
    if (style == LogStylePlain || style == LogStyleTraffic)
        gtk_text_buffer_insert(logBuffer_, &end, text, length);
    else if (style > LogStyleTraffic && style <= LogStyleResultAborted && logTags_[style])
        gtk_text_buffer_insert_with_tags(logBuffer_, &end, text, length, logTags_[style], nullptr);
    if (EndsLine(lineMode)) {
        gtk_text_buffer_get_end_iter(logBuffer_, &end);
        gtk_text_buffer_insert(logBuffer_, &end, "\n", 1);
    }
}

void GUIApp::LogFollowUpdate()
{
    if (!logBuffer_)
        return;
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(logBuffer_, &end);
    if (!scrollMark_)
        scrollMark_ = gtk_text_buffer_create_mark(logBuffer_, kScrollMark, &end, TRUE);
    else
        gtk_text_buffer_move_mark(logBuffer_, scrollMark_, &end);
    if (GObject* view = objects_[W_LogView])
        LogFollowArm(GTK_TEXT_VIEW(view));
}

// Scrolling the view to the mark and flushing GDK cost far more than inserting a line (a
// server round trip, and a layout pass near the end of a long buffer), and a burst of lines
// needs them only once: the first insertion arms a timer on the main loop that does both once
// a frame for every line inserted meanwhile. While the layout above the end is still being
// measured a scroll can fall short of the end, so after the last insertion the timer goes on
// each frame until the mark is in sight, for a bounded number of frames. The timer holds a
// reference on the view and keeps its state on it, so it stays safe if the window goes first.
void GUIApp::LogFollowArm(GtkTextView* view)
{
    g_object_set_data(G_OBJECT(view), kFollowFramesLeft, GINT_TO_POINTER(kFollowFrames));
    if (g_object_get_data(G_OBJECT(view), kFollowArmed))
        return;
    g_object_set_data(G_OBJECT(view), kFollowArmed, GINT_TO_POINTER(1));
    gdk_threads_add_timeout_full(G_PRIORITY_DEFAULT, kLogFrameMs, &GUIApp::LogFollow_cb, g_object_ref(view),
                                 g_object_unref);
}

gboolean GUIApp::LogFollow_cb(gpointer data)
{
    // Runs on the GUI thread with the GDK lock held (gdk_threads_add_timeout_full).
    GtkTextView* view = GTK_TEXT_VIEW(data);
    // A view destroyed with its window has no parent any more (and no buffer to ask).
    bool alive = gtk_widget_get_parent(GTK_WIDGET(view)) != nullptr;
    GtkTextMark* mark = alive ? gtk_text_buffer_get_mark(gtk_text_view_get_buffer(view), kScrollMark) : nullptr;
    int framesLeft = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(view), kFollowFramesLeft)) - 1;
    if (!mark || framesLeft < 0) {
        g_object_set_data(G_OBJECT(view), kFollowArmed, nullptr);
        return FALSE;
    }
    g_object_set_data(G_OBJECT(view), kFollowFramesLeft, GINT_TO_POINTER(framesLeft));
    gtk_text_view_scroll_mark_onscreen(view, mark);
    // The worker keeps working after this; show the text now rather than when it pauses.
    gdk_flush();
    if (framesLeft == kFollowFrames - 1)
        return TRUE;  // lines came in during the last frame: follow again in the next one

    // A frame without new lines: go on only while the end is not in sight yet.
    GdkRectangle shown, where;
    GtkTextIter at;
    gtk_text_view_get_visible_rect(view, &shown);
    gtk_text_buffer_get_iter_at_mark(gtk_text_view_get_buffer(view), &at, mark);
    gtk_text_view_get_iter_location(view, &at, &where);
    if (where.y >= shown.y && where.y + where.height <= shown.y + shown.height) {
        g_object_set_data(G_OBJECT(view), kFollowArmed, nullptr);
        return FALSE;
    }
    return TRUE;
}

void GUIApp::LogClear(bool takeLock)
{
    if (takeLock) {
        LogEntry entry;
        entry.kind = LogEntry::Clear;
        logQueue_.Push(&entry, 1);
        return;
    }
    LogQueueFlush(false);
    LogClearLocked();
}

void GUIApp::LogClearLocked()
{
    if (logBuffer_)
        LogCutFront(-1);
}

// Deleting 100000 lines from the shown buffer takes the text view a few hundred milliseconds
// (it drops its layout of every line), in one piece on the main loop. A long cut instead
// gives the view a fresh buffer, sharing the tag table, with what the cut keeps; the old one,
// no longer shown, is emptied a few thousand lines per idle call and then released.
void GUIApp::LogCutFront(int lines)
{
    GtkTextIter start, end, oldEnd;
    gtk_text_buffer_get_start_iter(logBuffer_, &start);
    gtk_text_buffer_get_end_iter(logBuffer_, &oldEnd);
    if (lines < 0)
        end = oldEnd;
    else
        gtk_text_buffer_get_iter_at_line(logBuffer_, &end, lines);
    GObject* view = objects_[W_LogView];
    if (gtk_text_iter_get_line(&end) < kLogSwapLines || !view || !GTK_IS_TEXT_VIEW(view) ||
        gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)) != logBuffer_) {
        gtk_text_buffer_delete(logBuffer_, &start, &end);
        return;
    }
    GtkTextBuffer* old = logBuffer_;
    GtkTextBuffer* fresh = gtk_text_buffer_new(gtk_text_buffer_get_tag_table(old));
    GtkTextIter to;
    gtk_text_buffer_get_start_iter(fresh, &to);
    if (!gtk_text_iter_equal(&end, &oldEnd))
        gtk_text_buffer_insert_range(fresh, &to, &end, &oldEnd);
    logOldBuffers_.push_back(GTK_TEXT_BUFFER(g_object_ref(old)));
    gtk_text_view_set_buffer(GTK_TEXT_VIEW(view), fresh);
    if (logBufferOwned_)
        g_object_unref(logBufferOwned_);
    logBufferOwned_ = fresh;
    logBuffer_ = fresh;
    objects_[W_LogBuffer] = G_OBJECT(fresh);
    scrollMark_ = nullptr;  // went with the old buffer; made again at the end of the new one
    if (!logFreeSource_)
        logFreeSource_ = gdk_threads_add_idle_full(G_PRIORITY_DEFAULT_IDLE, &GUIApp::LogOldBuffersFree_cb, this,
                                                   nullptr);
}

gboolean GUIApp::LogOldBuffersFree_cb(gpointer self)
{
    GUIApp* app = static_cast<GUIApp*>(self);
    GtkTextBuffer* old = app->logOldBuffers_.front();
    GtkTextIter start, end;
    gtk_text_buffer_get_start_iter(old, &start);
    if (gtk_text_buffer_get_line_count(old) > kLogFreeLines) {
        gtk_text_buffer_get_iter_at_line(old, &end, kLogFreeLines);
        gtk_text_buffer_delete(old, &start, &end);
        return TRUE;
    }
    gtk_text_buffer_get_end_iter(old, &end);
    gtk_text_buffer_delete(old, &start, &end);
    g_object_unref(old);
    app->logOldBuffers_.erase(app->logOldBuffers_.begin());
    if (!app->logOldBuffers_.empty())
        return TRUE;
    app->logFreeSource_ = 0;
    return FALSE;
}

void GUIApp::ProgressSet(int64_t done, int64_t total, bool takeLock)
{
    if (takeLock) {
        LogEntry entry;
        entry.kind = LogEntry::Progress;
        entry.done = done;
        entry.total = total;
        logQueue_.Push(&entry, 1);
        return;
    }
    LogQueueFlush(false);
    ProgressShow(done, total);
}

void GUIApp::ProgressShow(int64_t done, int64_t total)
{
    double fraction = 0;
    if (total >= 1) {
        fraction = (double)done / (double)total;
        fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
    }
    char tip[32];
    snprintf(tip, sizeof tip, "%ld %%", (long)lround(fraction * 100));
    if (GObject* bar = objects_[W_Progress]) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), fraction);
        gtk_widget_set_tooltip_text(GTK_WIDGET(bar), tip);
    }
}

void GUIApp::StatusSet(const char* text, bool markup)
{
    // Every caller holds the GDK lock; the lines queued before the new state show first.
    LogQueueFlush(false);
    GObject* label = objects_[W_SB_Main];
    if (!label)
        return;
    if (markup)
        gtk_label_set_markup(GTK_LABEL(label), text ? text : "");
    else
        gtk_label_set_text(GTK_LABEL(label), text ? text : "");
    gtk_widget_set_tooltip_markup(GTK_WIDGET(label), text ? text : "");
}

SString GUIApp::MarkupMake(const char* text, const char* colour, bool bold)
{
    if (!colour && !bold)
        return SString(text);
    SString s("<span");
    if (colour) {
        s.Append(" color='");
        s.Append(colour);
        s.Append("'");
    }
    if (bold)
        s.Append(" weight='bold'");
    s.Append(">");
    s.Append(text ? text : "");
    s.Append("</span>");
    return s;
}

void GUIApp::StateShow()
{
    AppState state;
    OperationKind kind;
    runner_.StateGet(&state, &kind);
    const char* colour = nullptr;
    SString text = StateText(state, kind, &colour);
    if (colour)
        StatusSet(MarkupMake(text.Text(), colour, true).Text(), true);
    else
        StatusSet(text.Text(), false);
}
