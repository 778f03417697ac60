// Firmware and loader writing against the simulator: the records as staged, numbering across
// files, refusals before any request, the unit's result codes, the reboot hint.
#include <unistd.h>

#include "base/Crc.h"
#include "base/LogTypes.h"
#include "operations/FirmwareRecords.h"
#include "tests/support/RunnerSim.h"

namespace {
const char kRebootHint[] = "You need reboot Pelta for applying new firmware/loader (menu \"Device->Reboot\")";

std::string ImageBytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = (char)((seed = seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

uint32_t Be(const std::string& s, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | (uint8_t)s[at + i];
    return v;
}

// The records as the simulator staged them (16 bytes each, header first): "count size crc
// mask", the word count of every code record, and the image words with the mask removed.
struct Staged {
    std::string header;
    std::vector<uint32_t> wordCounts;
    std::string unmasked;
};

Staged StagedRead(const std::string& path, uint32_t mask)
{
    std::string raw = ReadText(path);
    Staged s;
    if (raw.size() < 16)
        return s;
    s.header = std::to_string(Be(raw, 2, 2)) + " " + std::to_string(Be(raw, 4, 4)) + " " +
               std::to_string(Be(raw, 8, 4)) + " " + std::to_string(Be(raw, 12, 4));
    for (size_t at = 16; at + 16 <= raw.size(); at += 16) {
        s.wordCounts.push_back(Be(raw, at + 2, 2));
        for (uint32_t w = 0; w < s.wordCounts.back() && w < 3; ++w)
            for (int b = 0, word = (int)(Be(raw, at + 4 + 4 * w, 4) ^ mask); b < 4; ++b)
                s.unmasked += (char)(word >> (8 * b));
    }
    return s;
}

class FirmwareWriteTest : public RunnerSimTest {
protected:
    AppState WriteFile(const std::string& path, bool firmware = true)
    {
        runner_->ImageSet(SString(path.c_str()));
        EXPECT_TRUE(runner_->WriteBegin(firmware));
        return Finish();
    }
    AppState Write(const std::string& image, bool firmware = true)
    {
        WriteText(scratch_ / "image.bin", image);
        return WriteFile(scratch_ / "image.bin", firmware);
    }
};

TEST_F(FirmwareWriteTest, RecordsFollowTheImageSizeWithANewMaskEachTime)
{
    const struct {
        size_t size;
        bool firmware;
        std::vector<uint32_t> wordCounts;
    } cases[] = {{0, true, {}}, {4, true, {1}}, {16, true, {3, 1}}, {24, false, {3, 3}}};
    StartSim();
    uint32_t lastMask = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string image = ImageBytes(c.size, (uint32_t)c.size);
        EXPECT_EQ(AppState::Succeeded, Write(image, c.firmware)) << ui_->Dump();
        const uint32_t mask = runner_->TransportMask();
        EXPECT_NE(lastMask, mask);
        lastMask = mask;
        std::string masked = image;
        ImageMask((uint8_t*)&masked[0], (uint32_t)masked.size(), mask);
        Staged s = StagedRead(stateDir_ + (c.firmware ? "/staged-firmware.rec" : "/staged-loader.rec"), mask);
        EXPECT_EQ(std::to_string(c.wordCounts.size()) + " " + std::to_string(c.size) + " " +
                      std::to_string(Crc32((const uint8_t*)masked.data(), masked.size())) + " " + std::to_string(mask),
                  s.header);
        EXPECT_EQ(c.wordCounts, s.wordCounts);
        EXPECT_EQ(image, s.unmasked);
        const std::string n = std::to_string(c.wordCounts.size());
        EXPECT_EQ(c.size ? n + "/" + n : "0/0", ui_->ProgressText());
        EXPECT_EQ("", ui_->Missing({"  Device talk..."}, {"Write and check", "-->"}));
    }
}

TEST_F(FirmwareWriteTest, ImagesRefusedBeforeAnyRequest)
{
    StartSim();
    // A file far larger than memory is refused by its size, never loaded.
    ASSERT_EQ(0, truncate((WriteText(scratch_ / "huge.bin", ""), scratch_ / "huge.bin").c_str(), (off_t)1 << 40));
    WriteText(scratch_ / "ten.bin", ImageBytes(10, 3));
    WriteText(scratch_ / "big.bin", std::string(kMaxImageBytes + 4, '\0'));
    const struct {
        const char* file;
        const char* line;
    } cases[] = {
        {"ten.bin", "Wrong file size (size must be multiple 4)"},
        {"big.bin", "Image too big: 786424 bytes (at most 786420 bytes)"},
        {"huge.bin", "Image too big: 1099511627776 bytes (at most 786420 bytes)"},
        {"none.bin", "Can't open file"},
    };
    for (const auto& c : cases) {
        runner_->FlagsSet(RunFlags::TalkLog, true);
        EXPECT_EQ(AppState::Error, WriteFile(scratch_ / c.file)) << c.file;
        EXPECT_EQ(LogStyleError, ui_->StyleOf(c.line)) << ui_->Dump();
        EXPECT_EQ("", ui_->Missing({"Write firmware end: ERROR."}, {"-->", "Write and check", kRebootHint}));
    }
}

TEST_F(FirmwareWriteTest, ResultCodesOtherThanOneEndTheWrite)
{
    const struct {
        const char* fault;
        size_t size;
        const char* line;
        const char* progress;
    } cases[] = {
        // The largest image the header can describe is taken: the unit refuses its header.
        {"0:2", kMaxImageBytes, "Read record result not ok: 2 - 'CRC error'", "0/0"},
        {"2:0", 36, "Read record result not ok: 0 - 'Block is empty'", "1/3"},
        {"1:7", 36, "Read record result not ok: 7 - 'Unknown return code'", "0/0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        StartSim({"--fault-result", c.fault});
        EXPECT_EQ(AppState::Error, Write(ImageBytes(c.size, 5)));
        EXPECT_EQ(LogStyleError, ui_->StyleOf(c.line)) << ui_->Dump();
        EXPECT_EQ(1, ui_->Count("Read record result not ok"));
        EXPECT_EQ(c.progress, ui_->ProgressText());
        EXPECT_EQ(0u, EndLine().find("Write firmware end: ERROR.")) << ui_->Dump();
    }
}

TEST_F(FirmwareWriteTest, RecordNumbersRunIntoTheNextFileAfter4095)
{
    StartSim();
    runner_->FlagsSet(RunFlags::TalkLog, true);
    std::string image = ImageBytes(49152, 7);
    ASSERT_EQ(AppState::Succeeded, Write(image)) << ui_->Dump();
    std::vector<std::string> records;
    for (const std::string& t : ui_->Texts())
        if (t.find("Write and check") != std::string::npos)
            records.push_back(t);
    ASSERT_EQ(4097u, records.size());
    EXPECT_EQ("  Write and check header (record 3:0)", records[0]);
    EXPECT_EQ("  Write and check code (record 3:4095)", records[4095]);
    EXPECT_EQ("  Write and check code (record 4:0)", records[4096]);
    EXPECT_EQ(2 * 4097, ui_->Count("--> "));  // the traffic of both requests of every record
    EXPECT_EQ(-1, ui_->Find("Device talk..."));
    EXPECT_EQ(image, StagedRead(stateDir_ + "/staged-firmware.rec", runner_->TransportMask()).unmasked);
}

TEST_F(FirmwareWriteTest, SuccessEndsWithTheRebootHintAndTheRebootAppliesTheImage)
{
    StartSim({"--reboot-delay", "0"});
    std::string image = ImageBytes(1200, 13);
    ASSERT_EQ(AppState::Succeeded, Write(image)) << ui_->Dump();
    std::vector<LoggedLine> lines = ui_->Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("Write firmware from 'image.bin' begin", lines[0].text);
    EXPECT_EQ("Write firmware end: OK. Elapsed time: lower one second.", lines[lines.size() - 3].text);
    EXPECT_EQ("", lines[lines.size() - 2].text);
    EXPECT_EQ(kRebootHint, lines.back().text);
    EXPECT_EQ(LogStyleAttention, lines.back().styles.back());
    EXPECT_FALSE(lines.back().stamped);
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::Reboot)) << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find(kRebootHint));
    // The unit stores the applied image before it announces the reboot.
    ASSERT_TRUE(sim_->WaitForOutput("rebooting: ", 5000)) << sim_->Output();
    EXPECT_EQ(image, ReadText(stateDir_ + "/firmware.bin"));
}
}  // namespace
