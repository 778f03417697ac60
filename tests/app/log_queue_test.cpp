// The worker's lines reach the log in batches: the buffer after a batch must be exactly what
// inserting them one by one leaves (text, tags, the 100000-line cut), and lines keep their
// order against what the GUI thread writes directly.
#include <atomic>
#include <chrono>
#include <algorithm>
#include <deque>
#include <string>
#include <thread>

#include "AppTestSupport.h"

using namespace apptest;

namespace {

struct Call {
    enum Kind { Add, Insert, Clear } kind;
    std::string text;
    uint32_t mode;
    int style;
};

void Play(GUIApp* app, const std::vector<Call>& calls, bool queued)
{
    for (const Call& c : calls) {
        if (c.kind == Call::Add)
            app->LogAdd(SString(c.text.c_str()), c.mode, queued, c.style);
        else if (c.kind == Call::Insert)
            app->LogInsert(SString(c.text.c_str()), c.mode, queued, c.style);
        else
            app->LogClear(queued);
    }
}

std::vector<Call> Script(bool withReturn, bool withClear)
{
    const uint32_t NT = kLogNoTime;
    std::vector<Call> s = {
        {Call::Add, "plain", LogModeLine | NT, LogStylePlain},
        {Call::Add, "timed traffic", LogModeLine, LogStyleTraffic},
        {Call::Add, "\xD0\x97\xD0\xB0\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C", LogModeLine, LogStyleAttention},
        {Call::Add, "error", LogModeLine, LogStyleError},
        {Call::Add, "Write firmware end: ", LogModeOpen, LogStylePlain},
        {Call::Add, "OK", LogModeAppend, LogStyleResultOK},
        {Call::Add, ". Elapsed time: 5 s.", LogModeClose, LogStylePlain},
        {Call::Add, "style ten", LogModeLine | NT, 10},
        {Call::Add, "negative style", LogModeLine, -1},
        {Call::Insert, "\nreboot hint", LogModeLine, LogStyleAttention},
        {Call::Add, "", LogModeLine | NT, LogStylePlain},
        {Call::Add, "bad \xFF utf-8", LogModeLine, LogStylePlain},
        {Call::Add, "open", LogModeOpen | NT, LogStyleResultError},
    };
    if (withReturn)
        s.push_back({Call::Insert, "raw\r\nbreak\r", LogModeAppend, LogStylePlain});
    if (withClear)
        s.push_back({Call::Clear, "", 0, 0});
    for (int i = 0; i < 30; ++i) {
        s.push_back({Call::Add, "<-- 24 bytes:", LogModeLine, LogStyleTraffic});
        s.push_back({Call::Add, "00 7B 00 00 00 12 01 14", LogModeLine, LogStyleMonospace});
    }
    return s;
}

}  // namespace

class LogQueueTest : public AppTest {
protected:
    void Prefill(int lines, const char* tail)
    {
        app->LogClear(false);
        std::string fill;
        for (int i = 0; i < lines; ++i)
            fill += "L" + std::to_string(i) + "\n";
        fill += tail;
        gtk_text_buffer_set_text(app->LogBuffer(), fill.c_str(), (gint)fill.size());
    }
};

TEST_F(LogQueueTest, OneBatchLeavesWhatLineByLineInsertionLeaves)
{
    const struct {
        const char* name;
        int prefilled;     // ended lines already in the log
        const char* tail;  // an unended last line
        bool withReturn, withClear;
    } cases[] = {
        {"empty log", 0, "", false, false},
        {"cut inside the batch", kLogLineLimit - 20, "", false, false},
        {"cut at the first line", kLogLineLimit, "", false, false},
        {"cut inside a multi-line insertion", kLogLineLimit - 8, "", false, false},
        {"cut with an unended line", kLogLineLimit - 1, "part", false, false},
        {"carriage returns", kLogLineLimit - 10, "", true, false},
        {"log ends in a carriage return", kLogLineLimit - 10, "tail\r", false, false},
        {"clear inside the batch", kLogLineLimit - 10, "", false, true},
    };
    LogCapture quiet;  // the text buffer refuses the invalid UTF-8 line with a critical
    for (const auto& c : cases) {
        const std::vector<Call> calls = Script(c.withReturn, c.withClear);
        Prefill(c.prefilled, c.tail);
        Play(app, calls, false);
        const std::string want = Snapshot(app->LogBuffer());
        const int wantLines = gtk_text_buffer_get_line_count(app->LogBuffer());

        Prefill(c.prefilled, c.tail);
        const gint before = gtk_text_buffer_get_char_count(app->LogBuffer());
        Play(app, calls, true);
        EXPECT_EQ(gtk_text_buffer_get_char_count(app->LogBuffer()), before) << c.name << ": inserted at once";
        app->StateShow();  // the status shows after the queued lines: they are in the log now
        EXPECT_EQ(gtk_text_buffer_get_line_count(app->LogBuffer()), wantLines) << c.name;
        const std::string got = Snapshot(app->LogBuffer());
        size_t at = std::mismatch(got.begin(), got.begin() + std::min(got.size(), want.size()), want.begin()).first -
                    got.begin();
        EXPECT_EQ(got, want) << c.name << ": differs at " << at << "\n got: " << got.substr(at > 80 ? at - 80 : 0, 200)
                             << "\nwant: " << want.substr(at > 80 ? at - 80 : 0, 200);
    }
}

namespace {
// The line-by-line rule computed on its own: before each insertion a log of more than the
// limit's lines loses its first `limit` lines. Lines are kept as "{tag}text" runs.
class LineRule {
public:
    void Insert(const std::string& text, const char* tag, bool lineEnd)
    {
        if ((long)lines_.size() + 1 > kLogLineLimit)
            lines_.erase(lines_.begin(), lines_.begin() + kLogLineLimit);
        if (!text.empty())
            open_.push_back({tag, text});
        if (lineEnd) {
            open_.push_back({"", "\n"});
            lines_.push_back(open_);
            open_.clear();
        }
    }
    // As Snapshot shows it: neighbouring runs of one tag are one run.
    std::string Text() const
    {
        std::string out;
        const std::string* tag = nullptr;
        auto add = [&](const Runs& runs) {
            for (const auto& r : runs) {
                if (!tag || *tag != r.first)
                    out += "{" + r.first + "}";
                out += r.second;
                tag = &r.first;
            }
        };
        for (const Runs& l : lines_)
            add(l);
        add(open_);
        return out;
    }
    size_t Lines() const { return lines_.size() + 1; }

private:
    using Runs = std::vector<std::pair<std::string, std::string>>;
    std::deque<Runs> lines_;
    Runs open_;
};
}  // namespace

TEST_F(LogQueueTest, WorkerBurstOf250000Lines)
{
    const int kLines = 250000;
    app->LogClear(false);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i) {
            app->LogAdd(SString(("line " + std::to_string(i)).c_str()), LogModeLine | kLogNoTime, true,
                        i % 3 == 2 ? LogStyleError : LogStyleTraffic);
            if (i % 250 == 0)  // as a write reports its progress: the cuts must see past these
                app->ProgressSet(i, kLines, true);
        }
        app->LogAdd("Write firmware end: ", LogModeOpen | kLogNoTime, true, LogStylePlain);
        app->LogAdd("OK", LogModeAppend, true, LogStyleResultOK);
        app->LogAdd(".", LogModeClose, true, LogStylePlain);
        app->ProgressSet(3, 4, true);
        done = true;
    });
    // The GUI thread goes on with its frames meanwhile, so batches come in every size.
    RunUntil([&] { return done.load(); }, 120000);
    gdk_threads_leave();
    worker.join();
    gdk_threads_enter();
    ASSERT_TRUE(RunUntil([&] { return ProgressTip() == "75 %"; })) << "the progress queued after the last line never showed";

    // Independently: every line is a monospace prefix (empty here) and a styled text.
    LineRule rule;
    for (int i = 0; i < kLines; ++i) {
        rule.Insert("", "monospace", false);
        rule.Insert("line " + std::to_string(i), i % 3 == 2 ? "error" : "", true);
    }
    rule.Insert("", "monospace", false);
    rule.Insert("Write firmware end: ", "", false);
    rule.Insert("OK", "resultOK", false);
    rule.Insert(".", "", true);

    GtkTextBuffer* buffer = app->LogBuffer();
    EXPECT_EQ(gtk_text_buffer_get_line_count(buffer), (gint)rule.Lines());
    // Two cuts: the lines from 200000 on stay, then the end line.
    EXPECT_EQ(gtk_text_buffer_get_line_count(buffer), kLines - 2 * kLogLineLimit + 2);
    GtkTextIter first, firstEnd;
    gtk_text_buffer_get_start_iter(buffer, &first);
    firstEnd = first;
    gtk_text_iter_forward_to_line_end(&firstEnd);
    gchar* text = gtk_text_iter_get_text(&first, &firstEnd);
    EXPECT_STREQ(text, "line 200000");
    g_free(text);
    std::string got = Snapshot(buffer);
    EXPECT_TRUE(got == rule.Text()) << "the log differs from line-by-line insertion; its end: "
                                    << got.substr(got.size() > 300 ? got.size() - 300 : 0);
    const std::string tail = "{error}line 249998{}\nline 249999\nWrite firmware end: {resultOK}OK{}.\n";
    EXPECT_EQ(got.compare(got.size() - tail.size(), tail.size(), tail), 0) << got.substr(got.size() - tail.size());
    GtkTextIter mark, end;
    gtk_text_buffer_get_iter_at_mark(buffer, &mark, gtk_text_buffer_get_mark(buffer, "scroll"));
    gtk_text_buffer_get_end_iter(buffer, &end);
    EXPECT_TRUE(gtk_text_iter_equal(&mark, &end));
}

TEST_F(LogQueueTest, GuiLinesStatusAndProgressKeepTheirPlace)
{
    app->LogClear(false);
    std::atomic<int> phase{0};
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i)
            app->LogAdd(SString(("a" + std::to_string(i)).c_str()), LogModeLine | kLogNoTime, true, 0);
        phase = 1;
        while (phase != 2)
            std::this_thread::yield();
        for (int i = 0; i < 10; ++i)
            app->LogAdd(SString(("b" + std::to_string(i)).c_str()), LogModeLine | kLogNoTime, true, 0);
        app->ProgressSet(1, 2, true);
        // The state change shows the status with the GDK lock taken: the lines come first.
        app->RunStateChanged(true);
    });
    // The GUI thread writes its line while the worker's lines are still queued.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (phase != 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    app->LogAdd("abort", LogModeLine | kLogNoTime, false, LogStyleError);
    phase = 2;
    gdk_threads_leave();
    worker.join();
    gdk_threads_enter();

    std::string want;
    for (int i = 0; i < 1000; ++i)
        want += "a" + std::to_string(i) + "\n";
    want += "abort\n";
    for (int i = 0; i < 10; ++i)
        want += "b" + std::to_string(i) + "\n";
    EXPECT_EQ(LogText(app), want);  // no frame has run: the state change inserted them
    EXPECT_EQ(ProgressTip(), "50 %");
}
