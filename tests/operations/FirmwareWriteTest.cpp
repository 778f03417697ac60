// Firmware and loader writing against the simulator: record layout, numbering across files,
// the unit's result codes, and what reaches the unit.
#include <gtest/gtest.h>
#include <unistd.h>

#include "base/Crc.h"
#include "base/LogTypes.h"
#include "operations/FirmwareRecords.h"
#include "tests/operations/SimFixture.h"

namespace {
const char kWriteOk[] = "Write firmware end: OK. Elapsed time: ";
const char kRebootHint[] = "You need reboot Pelta for applying new firmware/loader (menu \"Device->Reboot\")";

class FirmwareWriteTest : public RunnerSimTest {};

struct SizeCase {
    size_t size;
    std::vector<uint16_t> wordCounts;
};

TEST_F(FirmwareWriteTest, RecordsAndWordCountsFollowTheImageSize)
{
    const SizeCase cases[] = {
        {0, {}}, {4, {1}}, {12, {3}}, {16, {3, 1}}, {24, {3, 3}},
    };
    StartSim();
    uint32_t seed = 1;
    for (const SizeCase& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        std::vector<uint8_t> image = ImageBytes(c.size, seed++);
        RunWrite(image, true);
        EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();

        StagedRecords staged;
        ASSERT_TRUE(StagedRead(stateDir_ + "/staged-firmware.rec", &staged));
        EXPECT_EQ(c.wordCounts.size(), staged.recordCount);
        EXPECT_EQ(c.size, staged.size);
        EXPECT_EQ(c.wordCounts, staged.wordCounts);
        EXPECT_EQ(image, staged.unmasked);
        EXPECT_EQ(runner_->TransportMask(), staged.mask);
        // The CRC runs over the masked image in memory order; an empty image gives 0.
        std::vector<uint8_t> masked = image;
        ImageMask(masked.data(), (uint32_t)masked.size(), staged.mask);
        EXPECT_EQ(Crc32(masked.data(), masked.size()), staged.crc);

        int64_t done, total;
        int calls;
        ui_->Progress(&done, &total, &calls);
        EXPECT_EQ((int64_t)c.wordCounts.size(), done);
    }
}

TEST_F(FirmwareWriteTest, TenByteImageRefusedBeforeAnyRequest)
{
    StartSim({"--verbose"});
    runner_->FlagsSet(RunFlags::TalkLog, true);
    RunWrite(ImageBytes(10, 3), true);
    EXPECT_EQ(AppState::Error, State());
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Wrong file size (size must be multiple 4)")) << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find("-->")) << "a request went out:\n" << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find("Write and check header"));
    EXPECT_NE(std::string::npos, EndLine().find("Write firmware end: ERROR."));
    EXPECT_EQ(-1, ui_->Find(kRebootHint));
}

TEST_F(FirmwareWriteTest, ImagesTheHeaderCannotDescribeAreRefused)
{
    StartSim();
    runner_->FlagsSet(RunFlags::TalkLog, true);
    RunWrite(std::vector<uint8_t>(kMaxImageBytes + 4), true);
    EXPECT_EQ(AppState::Error, State());
    EXPECT_GE(ui_->Find("Image too big: 786424 bytes (at most 786420 bytes)"), 0) << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find("-->"));

    // A file far larger than memory is refused by its size, never loaded.
    const std::string huge = scratch_ + "/huge.bin";
    const off_t terabyte = (off_t)1 << 40;
    ASSERT_EQ(0, truncate(FileWrite(scratch_, "huge.bin", {}).c_str(), terabyte));
    RunWriteFile(huge, true);
    EXPECT_EQ(AppState::Error, State());
    EXPECT_GE(ui_->Find("Image too big: 1099511627776 bytes (at most 786420 bytes)"), 0) << ui_->Dump();
}

TEST_F(FirmwareWriteTest, FileFaultsEndTheWriteWithTheirLine)
{
    StartSim();
    RunWriteFile(scratch_ + "/no-such-image.bin", true);
    EXPECT_EQ(AppState::Error, State());
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Can't open file")) << ui_->Dump();
}

struct NumberingCase {
    size_t size;
    bool firmware;
    const char* lastLine;
};

TEST_F(FirmwareWriteTest, RecordNumbersRunIntoTheNextFileAfter4095)
{
    const NumberingCase cases[] = {
        {49140, true, "Write and check code (record 3:4095)"},
        {49152, true, "Write and check code (record 4:0)"},
        {49152, false, "Write and check code (record 6:0)"},
    };
    StartSim();
    for (const NumberingCase& c : cases) {
        SCOPED_TRACE(c.lastLine);
        runner_->FlagsSet(RunFlags::TalkLog, true);
        std::vector<uint8_t> image = ImageBytes(c.size, 7);
        RunWrite(image, c.firmware);
        ASSERT_EQ(AppState::Succeeded, State()) << ui_->Dump();
        std::vector<std::string> texts = ui_->Texts();
        int last = -1;
        for (size_t i = 0; i < texts.size(); ++i)
            if (texts[i].find("Write and check code") != std::string::npos)
                last = (int)i;
        ASSERT_GE(last, 0);
        EXPECT_EQ(std::string("  ") + c.lastLine, texts[last]);
        EXPECT_EQ((int)CodeRecordCount((uint32_t)c.size), ui_->Count("Write and check code"));

        StagedRecords staged;
        const char* file = c.firmware ? "/staged-firmware.rec" : "/staged-loader.rec";
        ASSERT_TRUE(StagedRead(stateDir_ + file, &staged));
        EXPECT_EQ(image, staged.unmasked);
    }
}

struct ResultCase {
    const char* fault;
    const char* line;
};

TEST_F(FirmwareWriteTest, ResultCodesOtherThanOneEndTheWrite)
{
    const ResultCase cases[] = {
        {"0:2", "Read record result not ok: 2 - 'CRC error'"},
        {"2:0", "Read record result not ok: 0 - 'Block is empty'"},
        {"1:7", "Read record result not ok: 7 - 'Unknown return code'"},
    };
    for (const ResultCase& c : cases) {
        SCOPED_TRACE(c.fault);
        StartSim({"--fault-result", c.fault});
        RunWrite(ImageBytes(36, 5), true);
        EXPECT_EQ(AppState::Error, State());
        EXPECT_EQ(LogStyleError, ui_->StyleOf(c.line)) << ui_->Dump();
        EXPECT_EQ(1, ui_->Count("Read record result not ok"));
        EXPECT_NE(std::string::npos, EndLine().find("Write firmware end: ERROR.")) << ui_->Dump();
        TearDown();
    }
}

TEST_F(FirmwareWriteTest, TalkLogNamesEveryRecordAndHidesDeviceTalk)
{
    StartSim();
    runner_->FlagsSet(RunFlags::TalkLog, true);
    RunWrite(ImageBytes(24, 9), true);
    ASSERT_EQ(AppState::Succeeded, State());
    EXPECT_EQ(-1, ui_->Find("Device talk..."));
    const char* expected[] = {
        "  Write and check header (record 3:0)",
        "  Write and check code (record 3:1)",
        "  Write and check code (record 3:2)",
    };
    int previous = -1;
    for (const char* line : expected) {
        int at = ui_->Find(line);
        EXPECT_GT(at, previous) << line << "\n" << ui_->Dump();
        previous = at;
    }
    // The channel dumps the traffic of both requests of every record.
    EXPECT_EQ(6, ui_->Count("--> "));

    runner_->FlagsSet(RunFlags::TalkLog, false);
    RunWrite(ImageBytes(24, 9), true);
    EXPECT_EQ(1, ui_->Count("Device talk..."));
    EXPECT_EQ(-1, ui_->Find("Write and check"));
    EXPECT_EQ(-1, ui_->Find("-->"));
}

TEST_F(FirmwareWriteTest, EveryWriteDrawsANewMask)
{
    StartSim();
    std::vector<uint8_t> image = ImageBytes(48, 11);
    RunWrite(image, false);
    StagedRecords first;
    ASSERT_TRUE(StagedRead(stateDir_ + "/staged-loader.rec", &first));
    RunWrite(image, false);
    StagedRecords second;
    ASSERT_TRUE(StagedRead(stateDir_ + "/staged-loader.rec", &second));
    EXPECT_NE(first.mask, second.mask);
    EXPECT_NE(first.crc, second.crc);
    EXPECT_EQ(first.size, second.size);
    EXPECT_EQ(first.recordCount, second.recordCount);
    EXPECT_EQ(image, second.unmasked);
}

TEST_F(FirmwareWriteTest, SuccessEndsWithTheRebootHintAndTheRebootAppliesTheImage)
{
    StartSim({"--reboot-delay", "0"});
    std::vector<uint8_t> image = ImageBytes(1200, 13);
    RunWrite(image, true);
    ASSERT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    std::vector<LoggedLine> lines = ui_->Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(0u, lines[0].text.find("Write firmware from 'image.bin' begin"));
    EXPECT_EQ(0u, lines[lines.size() - 3].text.find(kWriteOk)) << ui_->Dump();
    EXPECT_EQ("", lines[lines.size() - 2].text);
    EXPECT_EQ(kRebootHint, lines.back().text);
    EXPECT_EQ(LogStyleAttention, lines.back().styles.back());
    EXPECT_FALSE(lines.back().stamped);

    RunCommand(OperationKind::Reboot);
    ASSERT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find(kRebootHint));
    // The unit stores the applied image before it announces the reboot.
    ASSERT_TRUE(sim_->WaitForOutput("rebooting: ", 5000)) << sim_->Output();
    std::vector<uint8_t> applied = FileRead(stateDir_ + "/firmware.bin");
    EXPECT_EQ(image, applied);
}
}  // namespace
