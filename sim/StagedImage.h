// One firmware or loader image as the unit receives it: a header record that opens the stream,
// then code records in order, checked against the header's CRC-32 when the last one arrives.
#pragma once
#include <cstdint>
#include <vector>

const uint32_t kImageRecordBytes = 16;        // 8 registers
const uint16_t kImageRecordRegisters = 8;
const uint32_t kRecordsPerFile = 4096;         // records 0..4095, then the next file number
const uint32_t kWordsPerCodeRecord = 3;
const uint32_t kMaxCodeRecords = 65535;        // the header's 16-bit record count
const uint16_t kFirmwareFile = 3;
const uint16_t kLoaderFile = 5;

// Read-back result codes in the first register of an image record.
enum ImageRecordResult : uint16_t { kRecordEmpty = 0, kRecordAccepted = 1, kRecordCrcError = 2 };

class StagedImage {
public:
    explicit StagedImage(uint16_t firstFile) : firstFile_(firstFile) {}

    uint16_t FirstFile() const { return firstFile_; }
    bool IsOpen() const { return !raw_.empty(); }
    uint32_t CodeRecords() const { return codeRecords_; }
    bool IsComplete() const { return IsOpen() && next_ > codeRecords_; }
    bool IsVerified() const { return IsComplete() && crcMatches_; }

    // Stream position of (file, record): 0 for the header, k for the k-th code record;
    // -1 when the pair lies before this stream's first file.
    long PositionOf(uint16_t file, uint16_t record) const;
    // True when the position holds or will hold a record of the open stream.
    bool Covers(long position) const { return IsOpen() && position >= 0 && position <= (long)codeRecords_; }
    // True when a write at position continues the stream: the next record, or the last one
    // again (a client repeating a write whose answer it lost).
    bool TakesWrite(long position) const;

    // Both return false, changing nothing, when the record's fields are inconsistent.
    bool WriteHeader(const uint8_t* record);
    bool WriteCode(long position, const uint8_t* record);
    // 16 bytes: result code, then bytes 2..15 as written (zeros for a record not yet written).
    void ReadBack(long position, uint8_t* out) const;

    // The image as it was before masking (little-endian words), once complete.
    std::vector<uint8_t> UnmaskedImage() const;
    // Header and code records written so far, 16 bytes each in stream order.
    const std::vector<uint8_t>& Records() const { return raw_; }
    uint32_t RecordsWritten() const { return next_; }
    uint32_t ImageSize() const { return imageSize_; }
    void Clear();

private:
    uint32_t WordsIn(long position) const;
    uint32_t MaskedWord(uint32_t index) const;
    void Verify();

    uint16_t firstFile_;
    std::vector<uint8_t> raw_;   // (codeRecords_ + 1) * 16 bytes once open
    uint32_t codeRecords_ = 0;
    uint32_t imageSize_ = 0;
    uint32_t crc_ = 0;
    uint32_t mask_ = 0;
    uint32_t next_ = 0;          // records written: the header is 0
    bool crcMatches_ = false;
};
