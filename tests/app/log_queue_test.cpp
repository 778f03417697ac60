// The worker's lines reach the log in batches: the buffer after one is exactly what inserting
// them one by one leaves (text, tags, the line cut), in order with the GUI thread's own lines.
#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "AppTestSupport.h"

using namespace apptest;

namespace {
using LogQueueTest = AppTest;

// Where two long logs part, with the text around it; empty when they are equal.
std::string Differs(const std::string& got, const std::string& want)
{
    if (got == want)
        return "";
    size_t at = std::mismatch(got.begin(), got.begin() + std::min(got.size(), want.size()), want.begin()).first -
                got.begin();
    const size_t from = at > 80 ? at - 80 : 0;
    return "differ at " + std::to_string(at) + "\n got: " + got.substr(from, 200) + "\nwant: " + want.substr(from, 200);
}

std::string Lines(const char* prefix, int from, int to)
{
    std::string s;
    for (int i = from; i < to; ++i)
        s += prefix + std::to_string(i) + "\n";
    return s;
}

TEST_F(LogQueueTest, BatchesLeaveWhatLineByLineInsertionLeavesInOrderWithTheGuiThreadsLines)
{
    struct Call {
        enum { Add, Insert, Clear } kind;
        std::string text;
        uint32_t mode;
        int style;
    };
    const uint32_t NT = kLogNoTime;
    const std::vector<Call> script = {
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
    const Call kReturns{Call::Insert, "raw\r\nbreak\r", LogModeAppend, LogStylePlain}, kClear{Call::Clear, "", 0, 0};
    const struct {
        const char* name;
        int prefilled;     // ended lines already in the log
        const char* tail;  // an unended last line
        std::vector<Call> more;
    } cases[] = {
        {"empty log", 0, "", {}},
        {"cut inside the batch", kLogLineLimit - 20, "", {}},
        {"cut at the first line", kLogLineLimit, "", {}},
        {"cut inside a multi-line insertion", kLogLineLimit - 8, "", {}},
        {"cut with an unended line", kLogLineLimit - 1, "part", {}},
        {"carriage returns", kLogLineLimit - 10, "", {kReturns}},
        {"log ends in a carriage return", kLogLineLimit - 10, "tail\r", {}},
        {"clear inside the batch", kLogLineLimit - 10, "", {kClear}},
    };
    auto play = [&](const std::vector<Call>& calls, int prefilled, const char* tail, bool queued) {
        app->LogClear(false);
        const std::string fill = Lines("L", 0, prefilled) + tail;
        gtk_text_buffer_set_text(app->LogBuffer(), fill.c_str(), (gint)fill.size());
        const gint before = gtk_text_buffer_get_char_count(app->LogBuffer());
        for (const Call& c : calls) {
            if (c.kind == Call::Add)
                app->LogAdd(SString(c.text.c_str()), c.mode, queued, c.style);
            else if (c.kind == Call::Insert)
                app->LogInsert(SString(c.text.c_str()), c.mode, queued, c.style);
            else
                app->LogClear(queued);
        }
        EXPECT_EQ(gtk_text_buffer_get_char_count(app->LogBuffer()) == before, queued) << "queued, not inserted";
        app->StateShow();  // the status shows after the queued lines: they are in the log now
        return Snapshot(app->LogBuffer());
    };
    LogCapture quiet;  // the text buffer refuses the invalid UTF-8 line with a critical
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Call> calls = script;
        calls.insert(calls.end(), c.more.begin(), c.more.end());
        for (int i = 0; i < 30; ++i) {
            calls.push_back({Call::Add, "<-- 24 bytes:", LogModeLine, LogStyleTraffic});
            calls.push_back({Call::Add, "00 7B 00 00 00 12 01 14", LogModeLine, LogStyleMonospace});
        }
        const std::string want = play(calls, c.prefilled, c.tail, false);
        EXPECT_EQ(Differs(play(calls, c.prefilled, c.tail, true), want), "");
    }

    auto onWorker = [](const std::function<void()>& work) {
        gdk_threads_leave();
        std::thread(work).join();
        gdk_threads_enter();
    };
    auto add = [&](const std::string& prefix, int count) {
        for (int i = 0; i < count; ++i)
            app->LogAdd(SString((prefix + std::to_string(i)).c_str()), LogModeLine | kLogNoTime, true, 0);
    };
    app->LogClear(false);
    onWorker([&] { add("a", 1000); });
    // The GUI thread writes its line while the worker's lines are still queued (no frame runs).
    app->LogAdd("abort", LogModeLine | kLogNoTime, false, LogStyleError);
    onWorker([&] {
        add("b", 10);
        app->ProgressSet(1, 2, true);
        // The state change shows the status with the GDK lock taken: the lines come first.
        app->RunStateChanged(true);
    });
    EXPECT_EQ(LogText(app), Lines("a", 0, 1000) + "abort\n" + Lines("b", 0, 10));
    EXPECT_EQ(ProgressTip(), "50 %");

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

    // Line by line, two cuts of the first 100000 lines would leave the lines from 200000 on.
    std::string want;
    for (int i = 2 * kLogLineLimit; i < kLines; ++i)
        want += i % 3 == 2 ? "{error}line " + std::to_string(i) + "{}\n" : "line " + std::to_string(i) + "\n";
    want += "Write firmware end: {resultOK}OK{}.\n";
    EXPECT_EQ(Differs(Snapshot(app->LogBuffer()), want), "");
    GtkTextIter mark;
    gtk_text_buffer_get_iter_at_mark(app->LogBuffer(), &mark, gtk_text_buffer_get_mark(app->LogBuffer(), "scroll"));
    EXPECT_TRUE(gtk_text_iter_is_end(&mark)) << "the view follows the end";
}
}  // namespace
