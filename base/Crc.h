// CRC-32 (ISO-HDLC / IEEE 802.3) of firmware images and CRC-16/MODBUS of RTU framing.
#pragma once
#include <cstdint>
#include <cstddef>

uint32_t Crc32(const void* data, size_t length);
uint16_t Crc16Modbus(const uint8_t* data, uint8_t count, uint16_t start);
void Crc16ModbusStep(uint16_t* crc, uint8_t byte);
