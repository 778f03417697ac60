// Layout of the records that carry a firmware or loader image to the unit: a header record,
// then the masked image three 32-bit words per record, every field big-endian on the wire.
#pragma once
#include <cstddef>
#include <cstdint>

const uint16_t kFirmwareFile = 3;
const uint16_t kLoaderFile = 5;
const uint16_t kRecordRegisters = 8;
const size_t kRecordBytes = kRecordRegisters * 2;
const uint32_t kWordBytes = 4;
const uint32_t kWordsPerRecord = 3;
const uint32_t kImageBytesPerRecord = kWordsPerRecord * kWordBytes;
// Record numbers run 0..4095 within a file; the next record goes to record 0 of the next file.
const uint16_t kLastRecordNumber = 4095;
// The header's 16-bit record count describes at most this much image.
const uint32_t kMaxImageBytes = 0xFFFFu * kImageBytesPerRecord;
// The header record and the count-and-password head of a code record.
const uint16_t kHeaderRecordNumber = 0;
const size_t kRecordHeadBytes = 2;   // password, or the result code in a read-back
const size_t kRecordCountBytes = 2;  // record count (header) or word count (code record)

// The unit's result code in a read-back record.
const uint16_t kRecordAccepted = 1;

uint16_t TargetFile(bool firmware);
// Code records needed for an image of size bytes.
uint32_t CodeRecordCount(uint32_t size);
// XOR of every little-endian 32-bit word with the mask, in place; size is a multiple of 4.
void ImageMask(uint8_t* image, uint32_t size, uint32_t mask);

void FirmwareHeaderBuild(uint8_t record[kRecordBytes], uint16_t password, uint16_t recordCount,
                         uint32_t size, uint32_t crc, uint32_t mask);
// words points at count (1..3) masked words in file order; unused slots are zero.
void CodeRecordBuild(uint8_t record[kRecordBytes], uint16_t password, const uint8_t* words,
                     uint32_t count);
// Bytes of a code record, counted from offset 2, that the read-back must echo.
size_t CodeRecordEchoBytes(uint32_t count);

// The position after (file, record): the next record, or record 0 of the next file.
void RecordAdvance(uint16_t* file, uint16_t* record);
uint16_t RecordResultCode(const uint8_t readBack[kRecordBytes]);
