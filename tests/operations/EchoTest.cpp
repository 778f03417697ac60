// A read-back that does not echo the record: the count and the words are checked, the unused
// word slots of the last record are not.
#include <gtest/gtest.h>

#include "base/LogTypes.h"
#include "tests/operations/ScriptedUnit.h"
#include "tests/operations/SimFixture.h"

namespace {
struct EchoCase {
    const char* what;
    uint16_t record;
    int offset;
    AppState state;
};

TEST(ReadBackEcho, CountAndWordsMustMatchUnusedSlotsNeedNot)
{
    // A 16-byte image: record 1 holds three words, record 2 one word and two unused slots.
    const EchoCase cases[] = {
        {"word count of the last record", 2, 3, AppState::Error},
        {"second word of the first record", 1, 9, AppState::Error},
        {"header size field", 0, 7, AppState::Error},
        {"unused slot of the last record", 2, 10, AppState::Succeeded},
    };
    std::string scratch = ScratchDir();
    ASSERT_FALSE(scratch.empty());
    std::string path = FileWrite(scratch, "echo.bin", ImageBytes(16, 4));
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedUnit unit(3, c.record, c.offset);
        ASSERT_TRUE(unit.Start());
        RecordingUi ui;
        OperationRunner runner(&ui, FastOptions());
        ui.Attach(&runner);
        ui.Inputs(unit.HostPort(), "1");
        runner.ImageSet(SString(path.c_str()));
        ASSERT_TRUE(runner.WriteBegin(true));
        ASSERT_TRUE(WaitIdle(runner, kOperationTimeoutMs));
        AppState state;
        runner.StateGet(&state, nullptr);
        EXPECT_EQ(c.state, state) << ui.Dump();
        bool failed = c.state == AppState::Error;
        EXPECT_EQ(failed ? LogStyleError : -1, ui.StyleOf("Read data not equal write one")) << ui.Dump();
        // The write stops at the record that failed: two requests per record up to it.
        EXPECT_EQ(failed ? 2 * (c.record + 1) : 6, unit.Requests());
        EXPECT_EQ(0, ui.LockMistakes());
    }
    EXPECT_EQ(0, system(("rm -rf '" + scratch + "'").c_str()));
}
}  // namespace
