// Firmware and loader images, settings records, password, reboot and the state directory,
// driven through the contract by the independent test client.
#include <gtest/gtest.h>

#include <glib.h>

#include "tests/sim/SimFixture.h"

namespace {

using ImageTest = SimTest;

const uint16_t kFirmware = 3;
const uint16_t kLoader = 5;

TEST_F(ImageTest, ImagesOfEverySizeClassAreTakenAndVerified) {
    StartSim();
    Connect();
    struct Case {
        uint16_t file;
        size_t size;
        uint32_t records;
        uint16_t lastFile, lastRecord;   // where the last code record lands
    } cases[] = {
        {kFirmware, 0, 0, 3, 0},        {kFirmware, 4, 1, 3, 1},         {kFirmware, 12, 1, 3, 1},
        {kLoader, 16, 2, 5, 2},         {kFirmware, 49140, 4095, 3, 4095},
        {kFirmware, 49152, 4096, 4, 0}, {kLoader, 49152, 4096, 6, 0},
    };
    for (const Case& c : cases) {
        ImageWriteResult r = WriteImage(client_, c.file, PatternImage(c.size, (uint32_t)c.size), 0xA5C3F00Du);
        EXPECT_TRUE(r.ok) << c.size << ": " << r.failure;
        EXPECT_EQ(c.records, r.records);
        EXPECT_EQ(1, ResultOf(client_, c.lastFile, c.lastRecord)) << c.size;
        EXPECT_EQ(0, ResultOf(client_, c.lastFile, c.lastRecord + 1)) << "past the image: empty";
    }
}

TEST_F(ImageTest, BadCrcPasswordOrWordCountIsRefused) {
    StartSim();
    Connect();
    ASSERT_TRUE(WriteImage(client_, kFirmware, PatternImage(24, 3), 0).ok);
    // Rewriting the last record with a wrong count or password leaves it as it was.
    for (const char* record : {"00 01 00 02 00 00 00 00 00 00 00 00 00 00 00 00",
                               "00 05 00 03 00 00 00 00 00 00 00 00 00 00 00 00"})
        EXPECT_EQ("00 7B 00 00 00 03 00 95 03", ToHex(client_.Transact(WriteRecordFrame(kFirmware, 2, Hex(record)))));
    EXPECT_TRUE(VerifyImage(client_, kFirmware, PatternImage(24, 3), 0).ok);

    for (size_t size : {0u, 4u, 40u}) {
        ImageWriteResult r = WriteImage(client_, kFirmware, PatternImage(size, 9), 0x01020304, kSimPassword, 1);
        EXPECT_EQ(2, r.lastResult) << size << ": " << r.failure;
        uint16_t last = (uint16_t)((size + 11) / 12);
        if (last > 1) {
            EXPECT_EQ(1, ResultOf(client_, kFirmware, 1)) << "only the completing record shows it";
        }
        EXPECT_EQ(2, ResultOf(client_, kFirmware, last));
    }
    // A header with the wrong password changes nothing; a reboot applies no image that failed its check.
    ImageWriteResult r = WriteImage(client_, kFirmware, PatternImage(24, 3), 0, 2);
    EXPECT_NE(std::string::npos, r.failure.find("00 95 03")) << r.failure;
    EXPECT_EQ(2, ResultOf(client_, kFirmware, 4));
    ASSERT_EQ(12u, client_.Transact(WriteKeyedFrame(14, 1)).size());
    ASSERT_TRUE(sim_->WaitForOutput("no staged image, version 1.0.0.1", kIoTimeoutMs)) << sim_->Output();
}

TEST_F(ImageTest, ARefusedRecordLeavesEveryRecordOfItsWriteUnchanged) {
    StartSim();
    Connect();
    // One write of two settings records (file 100, records 1 and 2, two registers each); the
    // first is in order, the second is refused.
    struct Case {
        const char* what;
        const char* second;   // the second sub-record: type, file, record, length, registers
    } cases[] = {
        {"wrong password", "06 00 64 00 02 00 02 00 09 56 78"},
        {"file 0", "06 00 00 00 02 00 02 00 01 56 78"},
        {"too long", "06 00 64 00 02 00 41"},
    };
    for (const Case& c : cases) {
        Bytes second = Hex(c.second);
        if (second.size() == 7) second.resize(7 + 65 * 2, 0x00), second[8] = 0x01;   // 65 registers
        Bytes pdu = Hex("00 06 00 64 00 01 00 02 00 01 12 34");
        pdu.insert(pdu.end(), second.begin(), second.end());
        pdu[0] = (uint8_t)(pdu.size() - 1);
        Bytes answer = client_.Transact(FrameOf(21, pdu));
        ASSERT_EQ(9u, answer.size()) << c.what << ": " << ToHex(answer);
        EXPECT_EQ(0x95, answer[7]) << c.what;
        EXPECT_EQ("00 00 00 00", ToHex(RecordData(client_.Transact(ReadRecordFrame(100, 1, 2))))) << c.what;
    }
}

TEST_F(ImageTest, FirmwareRunsOnIntoTheLoaderFilesAndARebootAppliesBoth) {
    StartSim({"--version", "2.1.0.9", "--reboot-delay", "1000"});
    Connect();
    RawClient other;
    ASSERT_TRUE(other.Connect(sim_->TcpPort()));
    // 8,200 code records: records 8,192 to 8,200 lie in file 5, record 0 of which is no loader header.
    Bytes firmware = PatternImage(8200 * 12, 77);
    ImageWriteResult r = WriteImage(client_, kFirmware, firmware, 0x55AA55AAu);
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_EQ(0, ResultOf(client_, 5, 9));
    // With the firmware complete, record 0 of file 5 opens a loader; the firmware stays staged.
    ASSERT_TRUE(WriteImage(client_, kLoader, PatternImage(36, 78), 7).ok);
    EXPECT_EQ(1, ResultOf(client_, kFirmware, 1));
    EXPECT_EQ("00 7B 00 00 00 06 00 64 00 0E 00 01", ToHex(client_.Transact(WriteKeyedFrame(14, 1))));
    EXPECT_TRUE(client_.WaitClosed());
    EXPECT_TRUE(other.WaitClosed());
    // Refused while away, back on the same port after the delay.
    EXPECT_FALSE(client_.Connect(sim_->TcpPort()));
    ASSERT_TRUE(sim_->WaitForOutput("applied firmware of 98400 bytes and loader of 36 bytes, version 2.1.0.10; "
                                    "back in 1000 ms",
                                    kIoTimeoutMs))
        << sim_->Output();
    ASSERT_TRUE(sim_->WaitForOutput("listening", kIoTimeoutMs, sim_->Output().find("back in"))) << sim_->Output();
    Connect();
    EXPECT_EQ("00 7B 00 00 00 07 00 03 04 02 01 00 0A", ToHex(client_.Transact(ReadRegistersFrame(2, 2))));
    EXPECT_EQ(0, ResultOf(client_, kFirmware, 0)) << "the applied image is no longer staged";
}

// The acceptance path: the largest image the record count can describe, written through the
// contract, verified, kept over a restart, applied by a reboot and kept again.
TEST_F(ImageTest, LargestImageSurvivesRestartAndReboot) {
    gchar* made = g_dir_make_tmp("pelta-sim-test-XXXXXX", nullptr);
    ASSERT_TRUE(made);
    const std::string dir = made;
    g_free(made);
    const Bytes image = PatternImage(786420, 2024);
    const uint32_t mask = 0xDEADBEEFu;
    StartSim({"--state-dir", dir, "--reboot-delay", "0"});
    Connect();
    ImageWriteResult r = WriteImage(client_, kFirmware, image, mask);
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_EQ(65535u, r.records);
    EXPECT_EQ(1, ResultOf(client_, 18, 4095));   // record 65,535 = file 3 + 15, record 4095
    // Settings and a new password go along.
    Bytes settings = WriteRecordFrame(100, 1, Hex("00 01 AB CD"));
    ASSERT_EQ(ToHex(settings), ToHex(client_.Transact(settings)));
    ASSERT_EQ(12u, client_.Transact(WriteKeyedFrame(2, 4321)).size());

    StartSim({"--state-dir", dir, "--reboot-delay", "0"});
    Connect();
    r = VerifyImage(client_, kFirmware, image, mask);
    EXPECT_TRUE(r.ok) << r.failure;
    EXPECT_EQ("00 01 AB CD", ToHex(RecordData(client_.Transact(ReadRecordFrame(100, 1, 2)))));
    EXPECT_EQ("00 7B 00 00 00 03 00 E4 03", ToHex(client_.Transact(WriteKeyedFrame(14, 1))));
    EXPECT_EQ(12u, client_.Transact(WriteKeyedFrame(14, 1, 4321)).size());
    ASSERT_TRUE(sim_->WaitForOutput("applied firmware of 786420 bytes, version 1.0.0.2", kIoTimeoutMs));

    StartSim({"--state-dir", dir});
    Connect();
    EXPECT_EQ("00 7B 00 00 00 07 00 03 04 01 00 00 02", ToHex(client_.Transact(ReadRegistersFrame(2, 2))));
    gchar* applied = nullptr;
    gsize size = 0;
    EXPECT_TRUE(g_file_get_contents((dir + "/firmware.bin").c_str(), &applied, &size, nullptr));
    EXPECT_TRUE(applied && Bytes(applied, applied + size) == image) << "the applied image is the unmasked file";
    g_free(applied);
    StopSim();
    ASSERT_EQ(0, system(("rm -rf '" + dir + "'").c_str()));
}

}  // namespace
