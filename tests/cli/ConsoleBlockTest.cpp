// pelta-cli's log into a file or pipe: whole lines in blocks, not one write per line, and nothing held
// back past a change of state or a quiet spell.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "cli/ConsoleUi.h"

namespace {

// A scratch file; Read() takes what reached it (past the stream's buffer) since the last Read().
struct FileOut {
    FILE* file = tmpfile();
    off_t seen = 0;
    ~FileOut()
    {
        if (file)
            fclose(file);
    }
    std::string Read()
    {
        std::string got;
        char buffer[65536];
        for (ssize_t n; (n = pread(fileno(file), buffer, sizeof buffer, seen)) > 0; seen += n)
            got.append(buffer, (size_t)n);
        return got;
    }
};

const char kLine[] = "00 7B 00 00 00 12 01 14";

}  // namespace

TEST(ConsoleBlock, WholeLinesInBlocksUntilAChangeOfStateAQuietSpellOrTheEnd)
{
    FileOut out, at, later;
    ASSERT_TRUE(out.file && at.file && later.file);
    CliRequest request;
    ConsoleUi ui(out.file, false, request, -1, 600000);  // no line waits that long here
    std::string written;
    for (int i = 0; i < 10; ++i) {
        ui.LogAdd(SString(kLine), LogModeLine | kLogNoTime, true, 3);
        written += std::string(kLine) + "\n";
    }
    EXPECT_EQ(out.Read(), "") << "every line was written by itself";
    // A change of state (the end of the run above all) lets everything out.
    ui.RunStateChanged(true);
    EXPECT_EQ(out.Read(), written);

    // A long burst goes out on its own, as whole lines, before the run ends.
    written.clear();
    for (int i = 0; i < 5000; ++i) {
        std::string line = std::string(kLine) + " " + std::to_string(i);
        ui.LogAdd(SString(line.c_str()), LogModeLine | kLogNoTime, true, 3);
        written += line + "\n";
    }
    std::string early = out.Read();
    ASSERT_GE(early.size(), 32u * 1024) << "a full block stayed behind";
    EXPECT_LT(early.size(), written.size()) << "flushed line by line";
    EXPECT_EQ(early.back(), '\n');
    ui.Flush();
    EXPECT_EQ(early + out.Read(), written);

    // With no wait at all, an open line still waits for its end.
    ConsoleUi now(at.file, false, request, -1, 0);
    now.LogAdd(SString("Write firmware end: "), LogModeOpen | kLogNoTime, true, 0);
    now.LogAdd(SString("OK"), LogModeAppend, true, 5);
    now.FlushIfStale();
    EXPECT_EQ(at.Read(), "");
    now.LogAdd(SString("."), LogModeClose, true, 0);
    EXPECT_EQ(at.Read(), "Write firmware end: OK.\n");

    // An ended line goes out when the main thread looks after the spell, not only with the next
    // line (bounded: 500 looks, 10 ms apart).
    ConsoleUi spell(later.file, false, request, -1, 20);
    spell.LogAdd(SString("Retry"), LogModeLine | kLogNoTime, true, 0);
    std::string late;
    for (int i = 0; i < 500 && late.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        spell.FlushIfStale();
        late = later.Read();
    }
    EXPECT_EQ(late, "Retry\n");
}
