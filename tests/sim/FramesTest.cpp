#include <gtest/gtest.h>

#include "tests/sim/SimTestClient.h"

namespace {

using FramesTest = SimTest;

TEST_F(FramesTest, ExactAnswersExceptionsAndUnparseableStreams) {
    StartSim({"--version", "1.2.0.15", "--mac", "00:1A:2B:3C:4D:5E", "--ip", "10.1.2.3", "--id", "\xD0\x81\xD0\xB6"});
    Connect();
    struct Case {
        const char *what, *request;
        int exception;
    } bad[] = {
        {"unknown function 7", "00 7B 00 00 00 02 00 07", 1},
        {"function 3 with 3 data bytes", "00 7B 00 00 00 05 00 03 00 02 00", 3},
        {"function 3 count 0", "00 7B 00 00 00 06 00 03 00 02 00 00", 3},
        {"function 3 count 126", "00 7B 00 00 00 06 00 03 00 00 00 7E", 3},
        {"function 3 past register 15", "00 7B 00 00 00 06 00 03 00 0F 00 02", 2},
        {"read record: byte count not 7", "00 7B 00 00 00 0A 00 14 06 06 00 01 00 00 00 08", 3},
        {"read record: byte count beyond frame", "00 7B 00 00 00 0A 00 14 0E 06 00 01 00 00 00 08", 3},
        {"read record: reference type 5", "00 7B 00 00 00 0A 00 14 07 05 00 01 00 00 00 08", 2},
        {"read record: file 0", "00 7B 00 00 00 0A 00 14 07 06 00 00 00 00 00 08", 2},
        {"read record: record 10000", "00 7B 00 00 00 0A 00 14 07 06 00 03 27 10 00 08", 2},
        {"read record: length 0", "00 7B 00 00 00 0A 00 14 07 06 00 03 00 01 00 00", 3},
        {"read record: discovery record of 9 registers", "00 7B 00 00 00 0A 00 14 07 06 00 01 00 00 00 09", 3},
        {"read record: file 1 record 2", "00 7B 00 00 00 0A 00 14 07 06 00 01 00 02 00 04", 2},
        {"read record: settings of 65 registers", "00 7B 00 00 00 0A 00 14 07 06 00 64 00 01 00 41", 3},
        {"read record: answer beyond 253 bytes", "00 7B 00 00 00 11 00 14 0E 06 00 64 00 01 00 40 06 00 64 00 02 00 40",
         3},
        {"write record: file 1 is read-only", "00 7B 00 00 00 0C 00 15 09 06 00 01 00 01 00 01 00 01", 2},
        {"write record: byte count disagrees", "00 7B 00 00 00 0C 00 15 0A 06 00 64 00 01 00 01 00 01", 3},
        {"write record: data shorter than length", "00 7B 00 00 00 0C 00 15 09 06 00 64 00 01 00 02 00 01", 3},
        {"write record: reference type 7", "00 7B 00 00 00 0C 00 15 09 07 00 64 00 01 00 01 00 01", 2},
        {"write record: header count disagrees with size",
         "00 7B 00 00 00 1A 00 15 17 06 00 03 00 00 00 08 00 01 00 02 00 00 00 04 00 00 00 00 00 00 00 00", 3},
        {"keyed write: register 5", "00 7B 00 00 00 0B 00 64 00 05 00 01 02 00 01 00 01", 2},
        {"keyed write: password above 32767", "00 7B 00 00 00 0B 00 64 00 02 00 01 02 00 01 9C 40", 3},
        {"keyed write: command 2", "00 7B 00 00 00 0B 00 64 00 0E 00 01 02 00 01 00 02", 3},
        {"keyed write: byte count disagrees", "00 7B 00 00 00 0B 00 64 00 0E 00 01 04 00 01 00 01", 3},
        {"gateway read before any send", "00 7B 00 00 00 02 00 41", 11},
        {"gateway read with data", "00 7B 00 00 00 03 00 41 06", 3},
        {"gateway send without data", "00 7B 00 00 00 02 00 43", 3},
    };
    for (const Case& c : bad) {
        Bytes request = Hex(c.request);
        Bytes expected = {request[0], request[1], 0, 0, 0, 3, 0, (uint8_t)(request[7] | 0x80), (uint8_t)c.exception};
        EXPECT_EQ(ToHex(expected), ToHex(client_.Transact(request))) << c.what;
    }
    // None of the refused writes changed anything: the password is still 1, no record exists.
    EXPECT_EQ("ok 00 00 00 00 00 00",
              client_.Keyed(2, 1) + " " + client_.Read(100, 1, 1) + " " + client_.Read(3, 0, 2));
    const char* cases[][3] = {   // what, request, answer
        {"version read", "00 7B 00 00 00 06 00 03 00 02 00 02", "00 7B 00 00 00 07 00 03 04 01 02 00 0F"},
        {"identifier in WINDOWS-1251", "00 7B 00 00 00 0A 00 14 07 06 00 01 00 01 00 04",
         "00 7B 00 00 00 0D 00 14 0A 09 06 00 01 A8 E6 00 00 00 00"},
        {"discovery record over TCP", "00 7B 00 00 00 0A 00 14 07 06 00 01 00 00 00 08",
         "00 7B 00 00 00 15 00 14 12 11 06 00 01 00 1A 2B 3C 4D 5E 00 00 00 00 0A 01 02 03"},
        {"password change to 7 with password 1", "00 7B 00 00 00 0B 00 64 00 02 00 01 02 00 01 00 07",
         "00 7B 00 00 00 06 00 64 00 02 00 01"},
    };
    for (auto& c : cases) EXPECT_EQ(ToHex(Hex(c[2])), ToHex(client_.Transact(Hex(c[1])))) << c[0];


    // Protocol 1, lengths 0, 1 and 300, and text.
    for (const char* bytes : {"00 7B 00 01 00 06 00 03 00 02 00 02", "00 7B 00 00 00 00 00 03", "00 7B 00 00 00 01 00",
                              "00 7B 00 00 01 2C 00 03 00 02 00 02", "47 45 54 20 2F 0D 0A 0D 0A"}) {
        Connect();
        ASSERT_TRUE(client_.Send(Hex(bytes)));
        EXPECT_TRUE(client_.WaitClosed()) << bytes;
    }
    // A frame in pieces, then two requests in one segment get two answers, in order.
    Connect();
    for (uint8_t b : RecordFrame(3, Hex("00 02 00 02"))) ASSERT_TRUE(client_.Send(Bytes{b}));
    EXPECT_EQ(13u, client_.ReceiveFrame().size());
    ASSERT_TRUE(client_.Send(Hex("00 7B 00 00 00 06 00 03 00 02 00 01 00 7C 00 00 00 06 00 03 00 03 00 01")));
    EXPECT_EQ("00 7B 00 00 00 05 00 03 02 01 02 00 7C 00 00 00 05 00 03 02 00 0F", ToHex(client_.Receive(22)));
}

}  // namespace
