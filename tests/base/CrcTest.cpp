#include <gtest/gtest.h>

#include <glib.h>

#include <vector>

#include "base/Crc.h"

TEST(Crc, CheckValues)
{
    const char* check = "123456789";
    EXPECT_EQ(Crc32(check, 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
    EXPECT_EQ(Crc32(check, 0), 0u);
    EXPECT_EQ(Crc32(nullptr, 9), 0u);
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(Crc16Modbus(request, sizeof request, 0xFFFF), 0x0A84);
    EXPECT_EQ(Crc16Modbus((const uint8_t*)check, 9, 0xFFFF), 0x4B37);
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < 9; ++i)
        Crc16ModbusStep(&crc, (uint8_t)check[i]);
    EXPECT_EQ(crc, 0x4B37);
}

TEST(Crc, TableStepMatchesBitwise)
{
    GRand* rand = g_rand_new_with_seed(1234);
    std::vector<uint8_t> data(255);
    for (int round = 0; round < 200; ++round) {
        for (uint8_t& b : data)
            b = (uint8_t)g_rand_int_range(rand, 0, 256);
        uint8_t count = (uint8_t)g_rand_int_range(rand, 0, 256);
        uint16_t start = (uint16_t)g_rand_int_range(rand, 0, 65536), crc = start;
        for (uint8_t i = 0; i < count; ++i)
            Crc16ModbusStep(&crc, data[i]);
        ASSERT_EQ(crc, Crc16Modbus(data.data(), count, start)) << "round " << round;
    }
    g_rand_free(rand);
}
