// pelta-cli's log into a pipe: whole lines in blocks, not one write per line, and nothing held
// back past a change of state or a quiet spell.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "cli/ConsoleUi.h"

namespace {

// A pipe with room for several blocks without a reader; Read() takes what reached it so far.
struct PipeOut {
    int fds[2] = {-1, -1};
    FILE* file = nullptr;
    PipeOut()
    {
        if (pipe2(fds, O_CLOEXEC) == 0 && fcntl(fds[1], F_SETPIPE_SZ, 1 << 20) > 0 &&
            fcntl(fds[0], F_SETFL, O_NONBLOCK) == 0)
            file = fdopen(fds[1], "w");
    }
    ~PipeOut()
    {
        if (file)
            fclose(file);
        close(fds[0]);
    }
    std::string Read()
    {
        std::string got;
        char buffer[65536];
        for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
            got.append(buffer, (size_t)n);
        return got;
    }
};

const char kLine[] = "00 7B 00 00 00 12 01 14";

}  // namespace

TEST(ConsoleBlock, LinesGoOutInBlocksOfWholeLines)
{
    PipeOut pipe;
    ASSERT_NE(pipe.file, nullptr);
    CliRequest request;
    ConsoleUi ui(pipe.file, false, request, -1, 600000);  // no line waits that long here

    for (int i = 0; i < 10; ++i)
        ui.LogAdd(SString(kLine), LogModeLine | kLogNoTime, true, 3);
    EXPECT_EQ(pipe.Read(), "") << "every line was written by itself";
    // A change of state (the end of the run above all) lets everything out.
    ui.RunStateChanged(true);
    std::string want;
    for (int i = 0; i < 10; ++i)
        want += std::string(kLine) + "\n";
    EXPECT_EQ(pipe.Read(), want);

    // A long burst goes out on its own, as whole lines, before the run ends.
    std::string written;
    for (int i = 0; i < 5000; ++i) {
        std::string line = std::string(kLine) + " " + std::to_string(i);
        ui.LogAdd(SString(line.c_str()), LogModeLine | kLogNoTime, true, 3);
        written += line + "\n";
    }
    std::string early = pipe.Read();
    EXPECT_GE(early.size(), 32u * 1024) << "a full block stayed behind";
    EXPECT_LT(early.size(), written.size()) << "flushed line by line";
    ASSERT_FALSE(early.empty());
    EXPECT_EQ(early.back(), '\n');
    ui.Flush();
    EXPECT_EQ(early + pipe.Read(), written);
}

TEST(ConsoleBlock, QuietSpellLetsTheLastEndedLinesOut)
{
    PipeOut pipe;
    ASSERT_NE(pipe.file, nullptr);
    CliRequest request;
    ConsoleUi ui(pipe.file, false, request, -1, 20);
    // An open line waits for its end whatever the time; an ended one goes out when the main
    // thread looks after the spell, not only with the next line.
    ui.LogAdd(SString("Write firmware end: "), LogModeOpen | kLogNoTime, true, 0);
    ui.LogAdd(SString("OK"), LogModeAppend, true, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ui.FlushIfStale();
    EXPECT_EQ(pipe.Read(), "");
    ui.LogAdd(SString("."), LogModeClose, true, 0);
    ui.Flush();
    EXPECT_EQ(pipe.Read(), "Write firmware end: OK.\n");

    ui.LogAdd(SString("Retry"), LogModeLine | kLogNoTime, true, 0);
    std::string late;
    for (int i = 0; i < 500 && late.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ui.FlushIfStale();
        late = pipe.Read();
    }
    EXPECT_EQ(late, "Retry\n");
}
