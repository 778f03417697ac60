// The log view's line rules, tags, line limit and scrolling; progress and status texts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "AppTestSupport.h"

using namespace apptest;

namespace {
class LogTest : public ::testing::Test {
protected:
    ProgramDir dir;
    RunningApp run{dir};
    GUIApp* app = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(run.StartResult(), 0);
        app = run.App();
        app->LogClear(false);
    }
};

struct Piece {
    const char* text;
    uint32_t mode;
    int style;
};
struct LineCase {
    const char* what;
    std::vector<Piece> pieces;
    const char* expected;
};
}  // namespace

TEST_F(LogTest, LineModesAndBreaks)
{
    const uint32_t NT = kLogNoTime;
    const LineCase cases[] = {
        {"plain line", {{"abc", LogModeLine | NT, 0}}, "abc\n"},
        {"open, append, close make one line",
         {{"Write firmware end: ", LogModeOpen | NT, 0}, {"OK", LogModeAppend, LogStyleResultOK},
          {". Elapsed time: 5 s.", LogModeClose, 0}},
         "Write firmware end: OK. Elapsed time: 5 s.\n"},
        {"CR LF and LF run together", {{"A\r\nB\n", LogModeLine | NT, 0}}, "AB\n"},
        {"lone CR, LF, trailing breaks", {{"A\rB\nC\r\n\r\n", LogModeLine | NT, 0}}, "ABC\n"},
        {"LF CR is two separate breaks", {{"A\n\rB", LogModeLine | NT, 0}}, "AB\n"},
        {"raw keeps breaks", {{"A\r\nB\n", LogModeLine | NT | kLogRaw, 0}}, "A\r\nB\n\n"},
        {"close strips too", {{"x", LogModeOpen | NT, 0}, {"y\r\n", LogModeClose, 0}}, "xy\n"},
        {"style 10 adds only the line end", {{"zzz", LogModeLine | NT, 10}}, "\n"},
        {"negative style adds only the line end", {{"zzz", LogModeLine | NT, -1}}, "\n"},
        {"append keeps the line open", {{"a", LogModeAppend, 0}, {"b", LogModeAppend, 0}}, "ab"},
    };
    for (const LineCase& c : cases) {
        app->LogClear(false);
        for (const Piece& p : c.pieces)
            app->LogAdd(p.text, p.mode, false, p.style);
        EXPECT_EQ(LogText(app), c.expected) << c.what;
    }
}

TEST_F(LogTest, TimeStampPrefixAndResult)
{
    time_t before = time(nullptr);
    time_t stamp = app->LogAdd("hello", LogModeLine, false, 0);
    time_t after = time(nullptr);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    std::string text = LogText(app);
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]  hello\n"))) << text;

    EXPECT_EQ(app->LogAdd("x", LogModeLine | kLogNoTime, false, 0), 0);
    EXPECT_EQ(app->LogAdd("x", LogModeClose, false, 0), 0);
    EXPECT_EQ(app->LogAdd("x", LogModeAppend, false, 0), 0);
}

TEST_F(LogTest, StylesUseTheirTags)
{
    struct TagCase {
        int style;
        const char* tag;
        const char* foreground;  // null: not set
        int weight;              // 0: not set
    };
    const TagCase cases[] = {
        {LogStyleAttention, "attention", "blue", 700},
        {LogStyleError, "error", "red", 0},
        {LogStyleResultOK, "resultOK", "#008000", 700},
        {LogStyleResultConform, "resultConform", "#008000", 700},
        {LogStyleResultNotConform, "resultNotConform", "red", 700},
        {LogStyleResultError, "resultError", "red", 700},
        {LogStyleResultAborted, "resultAborted", "red", 700},
        {LogStyleMonospace, "monospace", nullptr, 0},
    };
    for (const TagCase& c : cases) {
        app->LogClear(false);
        app->LogAdd("text", LogModeLine | kLogNoTime, false, c.style);
        GtkTextIter it;
        gtk_text_buffer_get_start_iter(app->LogBuffer(), &it);
        GSList* tags = gtk_text_iter_get_tags(&it);
        ASSERT_EQ(g_slist_length(tags), 1u) << c.tag;
        GtkTextTag* tag = GTK_TEXT_TAG(tags->data);
        g_slist_free(tags);
        gchar* name = nullptr;
        gboolean fgSet = FALSE, weightSet = FALSE;
        GdkColor* fg = nullptr;
        int weight = 0;
        g_object_get(tag, "name", &name, "foreground-set", &fgSet, "foreground-gdk", &fg, "weight-set",
                     &weightSet, "weight", &weight, nullptr);
        EXPECT_STREQ(name, c.tag);
        g_free(name);
        EXPECT_EQ(fgSet != 0, c.foreground != nullptr) << c.tag;
        if (c.foreground && fg) {
            GdkColor want;
            ASSERT_TRUE(gdk_color_parse(c.foreground, &want));
            EXPECT_TRUE(gdk_color_equal(fg, &want)) << c.tag;
        }
        if (fg)
            gdk_color_free(fg);
        EXPECT_EQ(weightSet != 0, c.weight != 0) << c.tag;
        if (c.weight) {
            EXPECT_EQ(weight, c.weight) << c.tag;
        }
    }
    // Plain and traffic text carry no tag; the time prefix is monospace.
    for (int style : {LogStylePlain, LogStyleTraffic}) {
        app->LogClear(false);
        app->LogAdd("text", LogModeLine, false, style);
        GtkTextIter it;
        gtk_text_buffer_get_start_iter(app->LogBuffer(), &it);
        EXPECT_TRUE(gtk_text_iter_has_tag(&it, gtk_text_tag_table_lookup(
                                                   gtk_text_buffer_get_tag_table(app->LogBuffer()), "monospace")));
        gtk_text_iter_forward_chars(&it, 10);
        GSList* tags = gtk_text_iter_get_tags(&it);
        EXPECT_EQ(tags, nullptr) << style;
        g_slist_free(tags);
    }
    GtkTextTag* attention =
        gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(app->LogBuffer()), "attention");
    double scale = 0;
    g_object_get(attention, "scale", &scale, nullptr);
    EXPECT_DOUBLE_EQ(scale, 1.2);
}

TEST_F(LogTest, LineLimitCutsOldestBlockAndFollowsTheEnd)
{
    struct LimitCase {
        int prefilled;  // lines already in the log, each ended
        bool cut;
    };
    for (const LimitCase c : {LimitCase{kLogLineLimit - 1, false}, LimitCase{kLogLineLimit, true}}) {
        std::string fill;
        for (int i = 0; i < c.prefilled; ++i)
            fill += "L" + std::to_string(i) + "\n";
        gtk_text_buffer_set_text(app->LogBuffer(), fill.c_str(), (gint)fill.size());
        app->LogAdd("newest", LogModeLine | kLogNoTime, false, 0);
        std::string text = LogText(app);
        if (c.cut) {
            EXPECT_EQ(text, "newest\n");
        } else {
            EXPECT_EQ(gtk_text_buffer_get_line_count(app->LogBuffer()), c.prefilled + 2);
            EXPECT_EQ(text.compare(0, 3, "L0\n"), 0);
        }
        GtkTextMark* mark = gtk_text_buffer_get_mark(app->LogBuffer(), "scroll");
        ASSERT_NE(mark, nullptr);
        GtkTextIter at, end;
        gtk_text_buffer_get_iter_at_mark(app->LogBuffer(), &at, mark);
        gtk_text_buffer_get_end_iter(app->LogBuffer(), &end);
        EXPECT_TRUE(gtk_text_iter_equal(&at, &end));
    }
}

TEST_F(LogTest, ViewScrollsToTheNewestLine)
{
    for (int i = 0; i < 300; ++i)
        app->LogAdd(("line " + std::to_string(i)).c_str(), LogModeLine, false, 0);
    GtkTextView* view = GTK_TEXT_VIEW(app->Object(W_LogView));
    GtkTextMark* mark = gtk_text_buffer_get_mark(app->LogBuffer(), "scroll");
    bool visible = RunUntil([&] {
        GdkRectangle shown, where;
        GtkTextIter at;
        gtk_text_view_get_visible_rect(view, &shown);
        gtk_text_buffer_get_iter_at_mark(app->LogBuffer(), &at, mark);
        gtk_text_view_get_iter_location(view, &at, &where);
        return shown.y > 0 && where.y >= shown.y && where.y <= shown.y + shown.height;
    }, 5000);
    EXPECT_TRUE(visible);
}

namespace {
// Whether the view is scrolled down from the top, and whether the iterator's line is in sight.
bool ViewScrolled(GtkTextView* view)
{
    GdkRectangle shown;
    gtk_text_view_get_visible_rect(view, &shown);
    return shown.y > 0;
}
bool IterShown(GtkTextView* view, const GtkTextIter* at)
{
    GdkRectangle shown, where;
    gtk_text_view_get_visible_rect(view, &shown);
    gtk_text_view_get_iter_location(view, at, &where);
    return where.y >= shown.y && where.y + where.height <= shown.y + shown.height;
}
}  // namespace

TEST_F(LogTest, ViewFollowsWorkerLinesWhileTheyArriveAndEndsAtTheLast)
{
    GtkTextView* view = GTK_TEXT_VIEW(app->Object(W_LogView));
    GtkTextBuffer* buffer = app->LogBuffer();
    const int kMaxLines = 3000000;
    std::atomic<bool> stop{false}, done{false};
    // The worker writes as the operations do, in bursts with a short pause between them (a
    // queued line costs it far less than a frame), until the view has moved, then writes one
    // last line. It does not stop on its own before a generous time bound: on a loaded,
    // instrumented build the view may need many frames before its first layout, and a worker
    // that ended first would prove nothing either way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::thread worker([&] {
        for (int i = 0; i < kMaxLines && !stop && std::chrono::steady_clock::now() < deadline; ++i) {
            app->LogAdd(("worker line " + std::to_string(i)).c_str(), LogModeLine, true, LogStyleTraffic);
            if (i % 100 == 99)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        app->LogAdd("last worker line", LogModeLine, true, LogStylePlain);
        done = true;
    });
    bool followedWhileWriting = false;
    RunUntil([&] {
        if (!done && ViewScrolled(view))
            followedWhileWriting = true;
        return followedWhileWriting || done.load();
    }, 65000);
    stop = true;
    RunUntil([&] { return done.load(); }, 65000);
    gdk_threads_leave();
    worker.join();
    gdk_threads_enter();
    EXPECT_TRUE(followedWhileWriting) << "the view stayed at the top while the worker wrote";

    // Once the burst is over the view ends at the last line, and that line is the worker's last.
    GtkTextIter end, lastLine;
    bool lastShown = RunUntil([&] {
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_get_iter_at_line(buffer, &lastLine, gtk_text_buffer_get_line_count(buffer) - 2);
        return IterShown(view, &lastLine) && IterShown(view, &end);
    }, 5000);
    GdkRectangle shown, where;
    gtk_text_view_get_visible_rect(view, &shown);
    gtk_text_view_get_iter_location(view, &end, &where);
    EXPECT_TRUE(lastShown) << "view y " << shown.y << " height " << shown.height << ", end at y " << where.y
                           << " height " << where.height << ", lines " << gtk_text_buffer_get_line_count(buffer);
    GtkTextIter lineEnd = lastLine;
    gtk_text_iter_forward_to_line_end(&lineEnd);
    gchar* text = gtk_text_buffer_get_text(buffer, &lastLine, &lineEnd, FALSE);
    EXPECT_TRUE(std::string(text).find("last worker line") != std::string::npos) << text;
    g_free(text);
}

TEST_F(LogTest, ProgressRoundsToWholePercent)
{
    struct ProgressCase {
        int64_t done, total;
        const char* tip;
        double fraction;
    };
    const ProgressCase cases[] = {
        {1, 3, "33 %", 1.0 / 3}, {2, 3, "67 %", 2.0 / 3}, {5, 0, "0 %", 0},   {7, 5, "100 %", 1},
        {0, 0, "0 %", 0},        {-1, 4, "0 %", 0},       {1, 200, "1 %", 0.005}, {1, 1, "100 %", 1},
    };
    GtkWidget* bar = GTK_WIDGET(app->Object(W_Progress));
    for (const ProgressCase& c : cases) {
        app->ProgressSet(c.done, c.total, false);
        gchar* tip = gtk_widget_get_tooltip_text(bar);
        EXPECT_STREQ(tip, c.tip) << c.done << "/" << c.total;
        g_free(tip);
        EXPECT_NEAR(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)), c.fraction, 1e-9);
    }
}

TEST_F(LogTest, MarkupAndStatus)
{
    struct MarkupCase {
        const char* text;
        const char* colour;
        bool bold;
        const char* expected;
    };
    const MarkupCase cases[] = {
        {"Idle", nullptr, false, "Idle"},
        {"Error", "red", true, "<span color='red' weight='bold'>Error</span>"},
        {"Done", "#008000", false, "<span color='#008000'>Done</span>"},
        {"Bold", nullptr, true, "<span weight='bold'>Bold</span>"},
        {"a<b", nullptr, false, "a<b"},
    };
    for (const MarkupCase& c : cases)
        EXPECT_STREQ(GUIApp::MarkupMake(c.text, c.colour, c.bold).Text(), c.expected);

    GtkLabel* label = GTK_LABEL(app->Object(W_SB_Main));
    app->StatusSet("<span color='red'>Busy</span>", true);
    EXPECT_STREQ(gtk_label_get_text(label), "Busy");
    gchar* tip = gtk_widget_get_tooltip_markup(GTK_WIDGET(label));
    EXPECT_STREQ(tip, "<span color='red'>Busy</span>");
    g_free(tip);
    app->StatusSet("a <b> c", false);
    EXPECT_STREQ(gtk_label_get_text(label), "a <b> c");

    app->StateShow();
    EXPECT_STREQ(gtk_label_get_text(label), "Idle");
    EXPECT_FALSE(gtk_label_get_use_markup(label));
}
