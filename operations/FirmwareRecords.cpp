#include "operations/FirmwareRecords.h"

#include <cstring>

namespace {
void Put16(uint8_t* out, uint16_t value)
{
    out[0] = (uint8_t)(value >> 8);
    out[1] = (uint8_t)value;
}

void Put32(uint8_t* out, uint32_t value)
{
    out[0] = (uint8_t)(value >> 24);
    out[1] = (uint8_t)(value >> 16);
    out[2] = (uint8_t)(value >> 8);
    out[3] = (uint8_t)value;
}

// Image words are little-endian in the file.
uint32_t WordAt(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
}  // namespace

uint16_t TargetFile(bool firmware)
{
    return firmware ? kFirmwareFile : kLoaderFile;
}

uint32_t CodeRecordCount(uint32_t size)
{
    return size / kImageBytesPerRecord + (size % kImageBytesPerRecord ? 1 : 0);
}

void ImageMask(uint8_t* image, uint32_t size, uint32_t mask)
{
    for (uint32_t at = 0; at + kWordBytes <= size; at += kWordBytes) {
        uint32_t word = WordAt(image + at) ^ mask;
        image[at] = (uint8_t)word;
        image[at + 1] = (uint8_t)(word >> 8);
        image[at + 2] = (uint8_t)(word >> 16);
        image[at + 3] = (uint8_t)(word >> 24);
    }
}

void FirmwareHeaderBuild(uint8_t record[kRecordBytes], uint16_t password, uint16_t recordCount,
                         uint32_t size, uint32_t crc, uint32_t mask)
{
    Put16(record, password);
    Put16(record + 2, recordCount);
    Put32(record + 4, size);
    Put32(record + 8, crc);
    Put32(record + 12, mask);
}

void CodeRecordBuild(uint8_t record[kRecordBytes], uint16_t password, const uint8_t* words,
                     uint32_t count)
{
    memset(record, 0, kRecordBytes);
    Put16(record, password);
    Put16(record + kRecordHeadBytes, (uint16_t)count);
    uint8_t* slot = record + kRecordHeadBytes + kRecordCountBytes;
    for (uint32_t i = 0; i < count; ++i)
        Put32(slot + i * kWordBytes, WordAt(words + i * kWordBytes));
}

size_t CodeRecordEchoBytes(uint32_t count)
{
    return kRecordCountBytes + count * kWordBytes;
}

void RecordAdvance(uint16_t* file, uint16_t* record)
{
    if (*record >= kLastRecordNumber) {
        ++*file;
        *record = 0;
    } else {
        ++*record;
    }
}

uint16_t RecordResultCode(const uint8_t readBack[kRecordBytes])
{
    return (uint16_t)((readBack[0] << 8) | readBack[1]);
}
