#include "base/Crc.h"

#include <array>

namespace {
constexpr uint32_t kCrc32Polynomial = 0xEDB88320u;  // 0x04C11DB7 reflected
constexpr uint32_t kCrc32Start = 0xFFFFFFFFu;
constexpr uint32_t kCrc32FinalXor = 0xFFFFFFFFu;
constexpr uint16_t kCrc16Polynomial = 0xA001;       // 0x8005 reflected

// Remainder of one byte shifted bit by bit through a reflected polynomial.
template <typename T>
constexpr T ByteRemainder(T value, T polynomial)
{
    for (int bit = 0; bit < 8; ++bit)
        value = (value & 1) ? (T)((value >> 1) ^ polynomial) : (T)(value >> 1);
    return value;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i)
        table[i] = ByteRemainder<uint32_t>(i, kCrc32Polynomial);
    return table;
}

struct Crc16Tables {
    std::array<uint8_t, 256> high{};
    std::array<uint8_t, 256> low{};
};

constexpr Crc16Tables MakeCrc16Tables()
{
    Crc16Tables tables{};
    for (uint16_t i = 0; i < 256; ++i) {
        uint16_t r = ByteRemainder<uint16_t>(i, kCrc16Polynomial);
        tables.high[i] = (uint8_t)(r >> 8);
        tables.low[i] = (uint8_t)(r & 0xFF);
    }
    return tables;
}

constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();
constexpr Crc16Tables kCrc16Tables = MakeCrc16Tables();
}  // namespace

uint32_t Crc32(const void* data, size_t length)
{
    if (!data || length == 0)
        return 0;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    uint32_t crc = kCrc32Start;
    for (size_t i = 0; i < length; ++i)
        crc = (crc >> 8) ^ kCrc32Table[(crc ^ bytes[i]) & 0xFF];
    return crc ^ kCrc32FinalXor;
}

uint16_t Crc16Modbus(const uint8_t* data, uint8_t count, uint16_t start)
{
    uint16_t crc = start;
    if (!data)
        return crc;
    for (uint8_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ kCrc16Polynomial) : (uint16_t)(crc >> 1);
    }
    return crc;
}

void Crc16ModbusStep(uint16_t* crc, uint8_t byte)
{
    if (!crc)
        return;
    unsigned index = (*crc ^ byte) & 0xFF;
    *crc = (uint16_t)((kCrc16Tables.high[index] << 8) + ((*crc >> 8) ^ kCrc16Tables.low[index]));
}
