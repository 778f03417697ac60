#include <gtest/gtest.h>

#include <vector>

#include "base/Crc.h"

TEST(Crc, CheckValuesAndTheTableStepMatchesTheBitwiseLoop)
{
    const char* check = "123456789";
    EXPECT_EQ(Crc32(check, 9), 0xCBF43926u);
    EXPECT_TRUE(Crc32(check, 0) == 0u && Crc32(nullptr, 9) == 0u);
    const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(Crc16Modbus(request, sizeof request, 0xFFFF), 0x0A84);
    EXPECT_EQ(Crc16Modbus((const uint8_t*)check, 9, 0xFFFF), 0x4B37);
    // Enough bytes from enough start values to pass every entry of the step's table.
    std::vector<uint8_t> data(255);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (uint8_t)(i * 37 + 11);
    for (uint32_t start = 0; start < 0x10000; start += 4099) {
        uint16_t crc = (uint16_t)start;
        for (uint8_t b : data)
            Crc16ModbusStep(&crc, b);
        EXPECT_EQ(crc, Crc16Modbus(data.data(), 255, (uint16_t)start)) << start;
    }
}
