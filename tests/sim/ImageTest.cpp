#include <gtest/gtest.h>

#include "tests/base/TempDir.h"
#include "tests/sim/SimTestClient.h"

namespace {

class ImageTest : public SimTest {
protected:
    std::string Result(uint16_t file, uint16_t record) { return client_.Read(file, record, 8).substr(0, 5); }
};

const uint16_t kFirmware = 3, kLoader = 5;

TEST_F(ImageTest, RefusedRecordsAndImagesChangeNothing) {
    StartSim();
    Connect();
    // A settings write whose second record is refused (wrong password, file 0, 65 registers).
    for (const char* second :
         {"06 00 64 00 02 00 02 00 09 56 78", "06 00 00 00 02 00 02 00 01 56 78", "06 00 64 00 02 00 41"}) {
        Bytes pdu = Concat({Hex("00 06 00 64 00 01 00 02 00 01 12 34"), Hex(second)});
        if (pdu.size() == 19) pdu.resize(19 + 65 * 2, 0x00), pdu[20] = 0x01;
        pdu[0] = (uint8_t)(pdu.size() - 1);
        EXPECT_EQ("00 7B 00 00 00 03 00 95", ToHex(client_.Transact(RecordFrame(21, pdu))).substr(0, 23)) << second;
        EXPECT_EQ("00 00 00 00", client_.Read(100, 1, 2)) << "neither record is stored: " << second;
    }
    ASSERT_EQ("", WriteImage(client_, kFirmware, PatternImage(24, 3), 0));
    // Rewriting the last record with a wrong count or password leaves it as it was.
    for (const char* record : {"00 01 00 02 00 00 00 00 00 00 00 00 00 00 00 00",
                               "00 05 00 03 00 00 00 00 00 00 00 00 00 00 00 00"})
        EXPECT_EQ("exception 3", client_.Write(kFirmware, 2, Hex(record)));
    EXPECT_EQ("", WriteImage(client_, kFirmware, PatternImage(24, 3), 0, 1, 0, false));

    for (size_t size : {0u, 4u, 40u}) {   // a bad CRC: only the completing record shows result 2
        uint16_t last = (uint16_t)((size + 11) / 12);
        EXPECT_NE("", WriteImage(client_, kFirmware, PatternImage(size, 9), 0x01020304, 1, 1));
        std::string first = last > 1 ? "00 01" : last ? "00 02" : "00 00";
        EXPECT_EQ(first + " 00 02", Result(kFirmware, 1) + " " + Result(kFirmware, last)) << size;
    }
    // A header with the wrong password changes nothing; a reboot applies no image that failed its check.
    std::string failure = WriteImage(client_, kFirmware, PatternImage(24, 3), 0, 2);
    EXPECT_NE(std::string::npos, failure.find("00 95 03")) << failure;
    EXPECT_EQ("00 02", Result(kFirmware, 4));
    ASSERT_EQ("ok", client_.Keyed(14, 1));
    ASSERT_TRUE(sim_->WaitForOutput("no staged image, version 1.0.0.1", kIoTimeoutMs)) << sim_->Output();
}

// The acceptance path: the largest image the record count can describe and a loader, written
// through the contract, verified, kept over a restart, applied by a reboot and kept again.
TEST_F(ImageTest, LargestImageAndALoaderSurviveRestartAndReboot) {
    TempDir dir;
    const Bytes image = PatternImage(786420, 2024);
    StartSim({"--state-dir", dir.Path()});
    Connect();
    ASSERT_EQ("", WriteImage(client_, kFirmware, image, 0xDEADBEEFu));
    // Settings and a new password go along; start-up values do not overwrite the settings held.
    ASSERT_EQ("ok", client_.Write(21, 0, Hex("00 01 01 F7")));
    ASSERT_EQ("ok", client_.Keyed(2, 4321));

    const std::string res = PELTA_TEST_SOURCE_DIR "/res/";
    StartSim({"--state-dir", dir.Path(), "--reboot-delay", "1000", "--description", res + "Pelta.xml",
              "--settings-values", res + "samples/Pelta-ru.xml"});
    Connect();
    EXPECT_EQ("", WriteImage(client_, kFirmware, image, 0xDEADBEEFu, 1, 0, false));
    // Its code records ran through the loader files; now that it is complete, record 0 of file 5
    // opens a loader (of a last record of one word), and the firmware stays staged.
    ASSERT_EQ("", WriteImage(client_, kLoader, PatternImage(40, 78), 7, 4321));
    EXPECT_EQ("00 01", Result(kFirmware, 1));
    EXPECT_EQ("00 01 01 F7", client_.Read(21, 0, 2));
    EXPECT_EQ("exception 3", client_.Keyed(14, 1)) << "the new password holds";
    EXPECT_EQ("ok", client_.Keyed(14, 1, 4321));
    EXPECT_TRUE(client_.WaitClosed());
    EXPECT_FALSE(SimClient().Connect(sim_->TcpPort())) << "no connection while it reboots";
    ASSERT_TRUE(sim_->WaitForOutput("applied firmware of 786420 bytes and loader of 40 bytes", kIoTimeoutMs))
        << sim_->Output();

    StartSim({"--state-dir", dir.Path()});
    Connect();
    EXPECT_EQ("00 7B 00 00 00 07 00 03 04 01 00 00 02", ToHex(client_.Transact(RecordFrame(3, Hex("00 02 00 02")))));
    EXPECT_EQ("00 00", Result(kFirmware, 0)) << "the applied image is no longer staged";
    EXPECT_TRUE(ReadText(dir / "firmware.bin") == std::string(image.begin(), image.end())) << "unmasked";
    StopSim();
}

}  // namespace
