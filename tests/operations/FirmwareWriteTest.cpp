// Firmware and loader writing against the simulator: the records as staged, numbering across
// files, refusals before any request, the unit's result codes, the reboot hint; and the
// read-back check against a scripted unit (the simulator always echoes).
#include <unistd.h>

#include "base/Crc.h"
#include "base/LogTypes.h"
#include "operations/FirmwareRecords.h"
#include "tests/support/RecordFrames.h"
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

std::string Be(uint32_t value, int bytes)
{
    std::string out;
    while (bytes-- > 0)
        out += (char)(value >> (8 * bytes));
    return out;
}

// The records the unit must have staged, 16 bytes each, every field big-endian: the header
// (password 1, record count, size, CRC-32 of the masked image, mask), then the image's
// little-endian words, each XOR the mask, three to a record after the password and word count.
std::string Staged(const std::string& image, uint32_t mask)
{
    std::string masked = image, words;
    for (size_t at = 0; at < image.size(); ++at)
        masked[at] = (char)(masked[at] ^ (mask >> (8 * (at % 4))));
    for (size_t at = 0; at + 4 <= masked.size(); at += 4)
        words.append(masked.rend() - at - 4, masked.rend() - at);
    std::string out = Be(1, 2) + Be((uint32_t)(image.size() + 11) / 12, 2) + Be((uint32_t)image.size(), 4) +
                      Be(Crc32((const uint8_t*)masked.data(), masked.size()), 4) + Be(mask, 4);
    for (size_t at = 0; at < words.size(); at += 12)
        out += Be(1, 2) + Be((uint32_t)words.substr(at, 12).size() / 4, 2) + words.substr(at, 12) +
               std::string(12 - words.substr(at, 12).size(), '\0');
    return out;
}

class FirmwareWriteTest : public RunnerSimTest {
protected:
    AppState Write(const std::string& image, bool firmware = true, const char* file = nullptr)
    {
        if (!file)
            WriteText(scratch_ / "image.bin", image);
        runner_->ImageSet(SString((scratch_ / (file ? file : "image.bin")).c_str()));
        EXPECT_TRUE(runner_->WriteBegin(firmware));
        return Finish();
    }
};

TEST_F(FirmwareWriteTest, RecordsFollowTheImageWithANewMaskEachTimeAndTheRebootAppliesThem)
{
    StartSim({"--reboot-delay", "0"});
    uint32_t lastMask = 0;
    std::string image;
    for (size_t size : {0, 24, 4, 16, 49152}) {
        SCOPED_TRACE(size);
        const bool firmware = size != 24, big = size > 24;
        runner_->FlagsSet(RunFlags::TalkLog, big);
        image = ImageBytes(size, (uint32_t)size);
        EXPECT_EQ(AppState::Succeeded, Write(image, firmware)) << (big ? "" : ui_->Dump());
        const uint32_t mask = runner_->TransportMask();
        EXPECT_NE(lastMask, mask);
        lastMask = mask;
        EXPECT_EQ(Staged(image, mask), ReadText(stateDir_ + (firmware ? "/staged-firmware.rec" : "/staged-loader.rec")));
        const std::string n = std::to_string((size + 11) / 12), what = firmware ? "firmware" : "loader";
        EXPECT_EQ(size ? n + "/" + n : "0/0", ui_->ProgressText());
        const std::vector<LoggedLine> lines = ui_->Lines();
        ASSERT_TRUE(big || lines.size() == 8u) << ui_->Dump();
        EXPECT_EQ("Write " + what + " from 'image.bin' begin", lines[0].text);
        EXPECT_EQ(big ? -1 : 3, ui_->Find("  Device talk..."));
        EXPECT_EQ("Write " + what + " end: OK. Elapsed time: lower one second.||" + kRebootHint,
                  lines[lines.size() - 3].text + "|" + lines[lines.size() - 2].text + "|" + lines.back().text);
        EXPECT_TRUE(lines.back().styles.back() == LogStyleAttention && !lines.back().stamped) << lines.back().text;
        if (big) {  // both requests of every record in the talk log, numbers into the next file after 4095
            const int last = ui_->Find("code (record 3:4095)"), next = ui_->Find("code (record 4:0)");
            EXPECT_EQ(2 * 4097, ui_->Count("--> "));
            EXPECT_EQ(4097, ui_->Count("  Write and check "));
            EXPECT_TRUE(ui_->Find("  Write and check header (record 3:0)") >= 0 && last > 0 && next > last);
        }
    }
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::Reboot)) << ui_->Dump();
    EXPECT_EQ(-1, ui_->Find(kRebootHint));
    // The unit stores the applied image before it announces the reboot.
    ASSERT_TRUE(sim_->WaitForOutput("rebooting: ", 5000)) << sim_->Output();
    EXPECT_EQ(image, ReadText(stateDir_ + "/firmware.bin"));
}

TEST_F(FirmwareWriteTest, FailedWritesEndWithTheirLineAndNoHint)
{
    // A file far larger than memory is refused by its size, never loaded.
    ASSERT_EQ(0, truncate((WriteText(scratch_ / "huge.bin", ""), scratch_ / "huge.bin").c_str(), (off_t)1 << 40));
    WriteText(scratch_ / "ten.bin", ImageBytes(10, 3));
    WriteText(scratch_ / "big.bin", std::string(kMaxImageBytes + 4, '\0'));
    WriteText(scratch_ / "largest.bin", ImageBytes(kMaxImageBytes, 5));
    WriteText(scratch_ / "36.bin", ImageBytes(36, 5));
    const struct {
        const char *fault, *file, *line, *progress;  // fault "": refused before any request
    } cases[] = {
        {"", "ten.bin", "Wrong file size (size must be multiple 4)", "0/0"},
        {"", "big.bin", "Image too big: 786424 bytes (at most 786420 bytes)", "0/0"},
        {"", "huge.bin", "Image too big: 1099511627776 bytes (at most 786420 bytes)", "0/0"},
        {"", "none.bin", "Can't open file", "0/0"},
        // Result codes other than one; the largest image the header can describe is taken.
        {"0:2", "largest.bin", "Read record result not ok: 2 - 'CRC error'", "0/0"},
        {"2:0", "36.bin", "Read record result not ok: 0 - 'Block is empty'", "1/3"},
        {"1:7", "36.bin", "Read record result not ok: 7 - 'Unknown return code'", "0/0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        StartSim(*c.fault ? std::vector<std::string>{"--fault-result", c.fault} : std::vector<std::string>{});
        runner_->FlagsSet(RunFlags::TalkLog, !*c.fault);
        EXPECT_EQ(AppState::Error, Write("", true, c.file));
        EXPECT_EQ(LogStyleError, ui_->StyleOf(c.line)) << ui_->Dump();
        EXPECT_EQ(c.progress, ui_->ProgressText());
        EXPECT_EQ(0u, EndLine().find("Write firmware end: ERROR.")) << ui_->Dump();  // no reboot hint after it
        EXPECT_EQ("", *c.fault ? "" : ui_->Missing({}, {"-->", "Write and check"}));  // nothing sent
    }
}

// The word count and the words are compared, the unused word slots of the last record are not.
// A 16-byte image: record 1 holds three words, record 2 one word and two unused slots.
TEST_F(FirmwareWriteTest, ReadBackMustMatchInCountAndWordsNotInUnusedSlots)
{
    const struct {
        const char* what;
        uint16_t record;
        size_t offset;
        AppState state;
    } cases[] = {
        {"word count of the last record", 2, 3, AppState::Error}, {"header size field", 0, 7, AppState::Error},
        {"unused slot of the last record", 2, 10, AppState::Succeeded},
    };
    const std::string image(16, '\x5A');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunnerStart("");
        WriteText(scratch_ / "image.bin", image);
        runner_->ImageSet(SString((scratch_ / "image.bin").c_str()));
        const std::string staged = Staged(image, runner_->TransportMask());
        ScriptedPeer::Script script;
        for (uint16_t r = 0; r <= c.record; ++r) {  // the write stops at the record that failed
            Bytes record(staged.begin() + 16 * r, staged.begin() + 16 * (r + 1));
            script.insert(script.end(), {ExpectBytes(RecordWrite(3, r, record)), SendBytes(RecordWrite(3, r, record)),
                                         ExpectBytes(RecordRead(3, r, 8))});
            if (r == c.record)
                record[c.offset] ^= 0xFF;
            script.push_back(SendBytes(RecordAnswer(record)));
        }
        ScriptedPeer unit({script});
        ASSERT_TRUE(unit.Start());
        ui_->Inputs(unit.HostPort(), password_);
        ASSERT_TRUE(runner_->WriteBegin(true));
        EXPECT_EQ(c.state, Finish()) << ui_->Dump();
        EXPECT_EQ(c.state == AppState::Error ? LogStyleError : -1, ui_->StyleOf("Read data not equal write one"));
        EXPECT_EQ(std::vector<std::string>(), unit.Finish() ? unit.Problems() : std::vector<std::string>{"unfinished"});
    }
}
}  // namespace
