// The log view's line rules, tags and scrolling; progress and status texts.
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "AppTestSupport.h"

using namespace apptest;

namespace {
using LogTest = AppTest;

bool IterShown(GtkTextView* view, const GtkTextIter* at)
{
    GdkRectangle shown, where;
    gtk_text_view_get_visible_rect(view, &shown);
    gtk_text_view_get_iter_location(view, at, &where);
    return where.y >= shown.y && where.y + where.height <= shown.y + shown.height;
}

TEST_F(LogTest, LineModesTagsProgressStatusAndTheViewFollowingTheWorker)
{
    const uint32_t NT = kLogNoTime, L = LogModeLine | NT;
    const struct {
        const char* what;
        std::vector<std::tuple<const char*, uint32_t, int>> pieces;  // text, mode, style
        const char* expected;
    } cases[] = {
        {"open, append, close: one line",
         {{"end: ", LogModeOpen | NT, 0}, {"OK", LogModeAppend | NT, LogStyleResultOK}, {".", LogModeClose | NT, 0}},
         "{}end: {resultOK}OK{}.\n"},
        {"breaks go", {{"A\r\nB\n", L, 0}}, "{}AB\n"},
        {"raw keeps breaks", {{"A\r\nB\n", L | kLogRaw, 0}}, "{}A\r\nB\n\n"},
        {"styles 10 and -1 add only the line end", {{"zzz", L, 10}, {"zzz", L, -1}}, "{}\n\n"},
        {"append keeps the line open", {{"a", LogModeAppend | NT, 0}, {"b", LogModeAppend | NT, 0}}, "{}ab"},
        // The time prefix is monospace; the text carries its style's tag alone; the line end none.
        {"timed plain", {{"text", LogModeLine, LogStylePlain}}, "{monospace}hh:mm:ss  {}text\n"},
        {"traffic", {{"text", L, LogStyleTraffic}}, "{}text\n"},
        {"monospace", {{"text", L, LogStyleMonospace}}, "{monospace}text{}\n"},
        {"attention", {{"text", L, LogStyleAttention}}, "{attention}text{}\n"},
        {"error", {{"text", L, LogStyleError}}, "{error}text{}\n"},
        {"ok", {{"text", L, LogStyleResultOK}}, "{resultOK}text{}\n"},
        {"aborted", {{"text", L, LogStyleResultAborted}}, "{resultAborted}text{}\n"},
    };
    for (const auto& c : cases) {
        app->LogClear(false);
        // A line returns its time (the operations' elapsed time starts there), untimed ones 0.
        for (auto [text, mode, style] : c.pieces)
            EXPECT_EQ(app->LogAdd(text, mode, false, style) == 0, (mode & NT) != 0) << c.what;
        EXPECT_EQ(Snapshot(app->LogBuffer()), c.expected) << c.what;
    }
    // The tags have their looks: one sample, the rest are the same table.
    GdkColor* fg = nullptr;
    int weight = 0;
    double scale = 0;
    g_object_get(gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(app->LogBuffer()), "attention"),
                 "foreground-gdk", &fg, "weight", &weight, "scale", &scale, nullptr);
    EXPECT_EQ(std::make_tuple(fg->blue >> 8, weight, scale), std::make_tuple(0xFF, 700, 1.2));
    gdk_color_free(fg);

    const std::tuple<int64_t, int64_t, const char*, double> progress[] = {
        {1, 3, "33 %", 1.0 / 3}, {2, 3, "67 %", 2.0 / 3}, {5, 0, "0 %", 0},
        {7, 5, "100 %", 1},      {-1, 4, "0 %", 0},       {1, 200, "1 %", 0.005},
    };
    for (auto [done, total, tip, fraction] : progress) {
        app->ProgressSet(done, total, false);
        EXPECT_EQ(ProgressTip(), tip) << done << "/" << total;
        EXPECT_NEAR(Fraction(), fraction, 1e-9) << done << "/" << total;
    }
    GtkLabel* label = GTK_LABEL(app->Object(W_SB_Main));
    app->StatusSet("<span color='red'>Busy</span>", true);
    EXPECT_EQ(gtk_label_get_text(label) + ("|" + Tooltip(GTK_WIDGET(label))), "Busy|Busy") << "text|tooltip";
    app->StatusSet("a <b> c", false);
    EXPECT_STREQ(gtk_label_get_text(label), "a <b> c");
    app->StateShow();
    EXPECT_EQ(gtk_label_get_text(label) + std::string(gtk_label_get_use_markup(label) ? " as markup" : ""), "Idle");

    GtkTextView* view = GTK_TEXT_VIEW(app->Object(W_LogView));
    std::atomic<bool> stop{false}, done{false};
    // The worker writes paced bursts, as the operations do, until the view has moved (a worker that
    // ended first proves nothing), then one last line; a loaded instrumented build needs many frames.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::thread worker([&] {
        for (int i = 0; i < 3000000 && !stop && std::chrono::steady_clock::now() < deadline; ++i) {
            app->LogAdd(("worker line " + std::to_string(i)).c_str(), LogModeLine, true, LogStyleTraffic);
            if (i % 100 == 99)  // paced so that a slow instrumented build keeps up too
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        app->LogAdd("last worker line", LogModeLine, true, LogStylePlain);
        done = true;
    });
    bool followed = false;
    RunUntil([&] {
        GdkRectangle shown;
        gtk_text_view_get_visible_rect(view, &shown);
        followed = followed || (!done && shown.y > 0);
        return followed || done.load();
    }, 65000);
    stop = true;
    RunUntil([&] { return done.load(); }, 65000);
    gdk_threads_leave();
    worker.join();
    gdk_threads_enter();
    EXPECT_TRUE(followed) << "the view stayed at the top while the worker wrote";

    // Once the worker's last line is the buffer's last (the queue has drained), the view ends
    // at that line. A long cut gives the view a fresh buffer: it is asked for each time.
    std::string last;
    EXPECT_TRUE(RunUntil([&] {
        GtkTextBuffer* buffer = app->LogBuffer();
        GtkTextIter line, end;
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_get_iter_at_line(buffer, &line, gtk_text_buffer_get_line_count(buffer) - 2);
        last = Take(gtk_text_buffer_get_text(buffer, &line, &end, FALSE));
        return last.find("last worker line") != std::string::npos && IterShown(view, &line) && IterShown(view, &end);
    }, 30000)) << "the buffer's last line: " << last;
}
}  // namespace
