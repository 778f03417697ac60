// The log view's line rules, tags and scrolling; progress and status texts.
#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "AppTestSupport.h"

using namespace apptest;

namespace {
using LogTest = AppTest;

struct Piece {
    const char* text;
    uint32_t mode;
    int style;
};

TEST_F(LogTest, LineModesAndBreaks)
{
    const uint32_t NT = kLogNoTime;
    const struct {
        const char* what;
        std::vector<Piece> pieces;
        const char* expected;
    } cases[] = {
        {"plain line", {{"abc", LogModeLine | NT, 0}}, "abc\n"},
        {"open, append, close make one line",
         {{"Write firmware end: ", LogModeOpen | NT, 0}, {"OK", LogModeAppend, LogStyleResultOK},
          {". Elapsed time: 5 s.", LogModeClose, 0}},
         "Write firmware end: OK. Elapsed time: 5 s.\n"},
        {"breaks go", {{"A\r\nB\n", LogModeLine | NT, 0}}, "AB\n"},
        {"raw keeps breaks", {{"A\r\nB\n", LogModeLine | NT | kLogRaw, 0}}, "A\r\nB\n\n"},
        {"style 10 adds only the line end", {{"zzz", LogModeLine | NT, 10}}, "\n"},
        {"negative style adds only the line end", {{"zzz", LogModeLine | NT, -1}}, "\n"},
        {"append keeps the line open", {{"a", LogModeAppend, 0}, {"b", LogModeAppend, 0}}, "ab"},
    };
    for (const auto& c : cases) {
        app->LogClear(false);
        for (const Piece& p : c.pieces)
            EXPECT_EQ(app->LogAdd(p.text, p.mode, false, p.style), 0) << c.what << ": untimed";
        EXPECT_EQ(LogText(app), c.expected) << c.what;
    }
    // A timed line returns its time, shown as the prefix.
    app->LogClear(false);
    const time_t before = time(nullptr), stamp = app->LogAdd("hello", LogModeLine, false, 0);
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, time(nullptr));
    EXPECT_TRUE(std::regex_match(LogText(app), std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]  hello\n"))) << LogText(app);
}

TEST_F(LogTest, StylesUseTheirTags)
{
    // The time prefix is monospace; the text carries its style's tag alone; the line end none.
    const std::pair<int, const char*> cases[] = {
        {LogStyleAttention, "{attention}text{}\n"},   {LogStyleError, "{error}text{}\n"},
        {LogStyleResultOK, "{resultOK}text{}\n"},     {LogStyleResultConform, "{resultConform}text{}\n"},
        {LogStyleResultNotConform, "{resultNotConform}text{}\n"}, {LogStyleResultError, "{resultError}text{}\n"},
        {LogStyleResultAborted, "{resultAborted}text{}\n"}, {LogStyleMonospace, "text{}\n"},
        {LogStylePlain, "{}text\n"},                  {LogStyleTraffic, "{}text\n"},
    };
    for (auto [style, text] : cases) {
        app->LogClear(false);
        app->LogAdd("text", LogModeLine, false, style);
        EXPECT_EQ(Snapshot(app->LogBuffer()), "{monospace}hh:mm:ss  " + std::string(text));
    }
    // The tags have their looks: one sample, the rest are the same table.
    GdkColor* fg = nullptr;
    int weight = 0;
    g_object_get(gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(app->LogBuffer()), "resultOK"),
                 "foreground-gdk", &fg, "weight", &weight, nullptr);
    EXPECT_EQ(fg->green >> 8, 0x80);
    EXPECT_EQ(weight, 700);
    gdk_color_free(fg);
}

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

TEST_F(LogTest, ViewFollowsWorkerLinesWhileTheyArriveAndEndsAtTheLast)
{
    GtkTextView* view = GTK_TEXT_VIEW(app->Object(W_LogView));
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
            if (i % 100 == 99)  // paced so that a slow instrumented build keeps up too
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

    // Once the queue has drained into the view (the worker's last line is the buffer's last),
    // the view ends at that line. A long cut gives the view a fresh buffer, so the buffer is
    // asked for each time.
    GtkTextIter end, lastLine;
    GtkTextBuffer* buffer = app->LogBuffer();
    auto lastLineText = [&] {
        GtkTextIter lineEnd = lastLine;
        gtk_text_iter_forward_to_line_end(&lineEnd);
        gchar* text = gtk_text_buffer_get_text(buffer, &lastLine, &lineEnd, FALSE);
        std::string result(text);
        g_free(text);
        return result;
    };
    bool lastShown = RunUntil([&] {
        buffer = app->LogBuffer();
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_get_iter_at_line(buffer, &lastLine, gtk_text_buffer_get_line_count(buffer) - 2);
        return lastLineText().find("last worker line") != std::string::npos && IterShown(view, &lastLine) &&
               IterShown(view, &end);
    }, 30000);
    GdkRectangle shown, where;
    gtk_text_view_get_visible_rect(view, &shown);
    gtk_text_view_get_iter_location(view, &end, &where);
    EXPECT_TRUE(lastShown) << "view y " << shown.y << " height " << shown.height << ", end at y " << where.y
                           << " height " << where.height << ", lines " << gtk_text_buffer_get_line_count(buffer);
    EXPECT_TRUE(lastLineText().find("last worker line") != std::string::npos) << lastLineText();
}

TEST_F(LogTest, ProgressAndStatus)
{
    const struct {
        int64_t done, total;
        const char* tip;
        double fraction;
    } cases[] = {
        {1, 3, "33 %", 1.0 / 3}, {2, 3, "67 %", 2.0 / 3}, {5, 0, "0 %", 0},     {7, 5, "100 %", 1},
        {0, 0, "0 %", 0},        {-1, 4, "0 %", 0},       {1, 200, "1 %", 0.005}, {1, 1, "100 %", 1},
    };
    for (const auto& c : cases) {
        app->ProgressSet(c.done, c.total, false);
        EXPECT_EQ(ProgressTip(), c.tip) << c.done << "/" << c.total;
        EXPECT_NEAR(Fraction(), c.fraction, 1e-9) << c.done << "/" << c.total;
    }
    EXPECT_STREQ(GUIApp::MarkupMake("Done", "#008000", false).Text(), "<span color='#008000'>Done</span>");
    EXPECT_STREQ(GUIApp::MarkupMake("Bold", nullptr, true).Text(), "<span weight='bold'>Bold</span>");
    EXPECT_STREQ(GUIApp::MarkupMake("a<b", nullptr, false).Text(), "a<b");
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
}  // namespace
