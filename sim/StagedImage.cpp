#include "sim/StagedImage.h"

#include <cstring>

#include "base/Crc.h"
#include "sim/ByteOrder.h"

namespace {
// Header record layout: password, record count, image size, CRC-32, transport mask.
const size_t kHeaderCountAt = 2;
const size_t kHeaderSizeAt = 4;
const size_t kHeaderCrcAt = 8;
const size_t kHeaderMaskAt = 12;
// Code record layout: password, word count, up to three big-endian words.
const size_t kCodeCountAt = 2;
const size_t kCodeWordsAt = 4;
const size_t kResultAt = 0;
}  // namespace

long StagedImage::PositionOf(uint16_t file, uint16_t record) const {
    if (file < firstFile_ || record >= kRecordsPerFile) return -1;
    return (long)(file - firstFile_) * kRecordsPerFile + record;
}

bool StagedImage::TakesWrite(long position) const {
    if (!IsOpen() || position < 1 || position > (long)codeRecords_) return false;
    return position == (long)next_ || position == (long)next_ - 1;
}

uint32_t StagedImage::WordsIn(long position) const {
    uint32_t words = imageSize_ / 4;
    uint32_t before = (uint32_t)(position - 1) * kWordsPerCodeRecord;
    uint32_t left = words - before;
    return left < kWordsPerCodeRecord ? left : kWordsPerCodeRecord;
}

bool StagedImage::WriteHeader(const uint8_t* record) {
    uint32_t count = GetBe16(record + kHeaderCountAt);
    uint32_t size = GetBe32(record + kHeaderSizeAt);
    uint32_t needed = size / 12 + (size % 12 ? 1 : 0);
    if (size % 4 != 0 || needed != count) return false;
    codeRecords_ = count;
    imageSize_ = size;
    crc_ = GetBe32(record + kHeaderCrcAt);
    mask_ = GetBe32(record + kHeaderMaskAt);
    raw_.assign((size_t)(count + 1) * kImageRecordBytes, 0);
    memcpy(raw_.data(), record, kImageRecordBytes);
    next_ = 1;
    crcMatches_ = false;
    if (IsComplete()) Verify();   // an empty image is complete with its header
    return true;
}

bool StagedImage::WriteCode(long position, const uint8_t* record) {
    if (!TakesWrite(position)) return false;
    if (GetBe16(record + kCodeCountAt) != WordsIn(position)) return false;
    memcpy(raw_.data() + (size_t)position * kImageRecordBytes, record, kImageRecordBytes);
    if ((uint32_t)position == next_) next_++;
    if (IsComplete()) Verify();
    return true;
}

uint32_t StagedImage::MaskedWord(uint32_t index) const {
    const uint8_t* rec = raw_.data() + (size_t)(1 + index / kWordsPerCodeRecord) * kImageRecordBytes;
    return GetBe32(rec + kCodeWordsAt + (index % kWordsPerCodeRecord) * 4);
}

void StagedImage::Verify() {
    // The CRC runs over the masked image in memory order, i.e. each word little-endian.
    std::vector<uint8_t> masked(imageSize_);
    for (uint32_t w = 0; w < imageSize_ / 4; ++w) PutLe32(masked.data() + (size_t)w * 4, MaskedWord(w));
    crcMatches_ = Crc32(masked.data(), masked.size()) == crc_;
}

void StagedImage::ReadBack(long position, uint8_t* out) const {
    memset(out, 0, kImageRecordBytes);
    if (!Covers(position) || (uint32_t)position >= next_) return;   // result 0: block is empty
    memcpy(out, raw_.data() + (size_t)position * kImageRecordBytes, kImageRecordBytes);
    bool completing = (uint32_t)position == codeRecords_;
    uint16_t result = completing && !crcMatches_ ? kRecordCrcError : kRecordAccepted;
    PutBe16(out + kResultAt, result);
}

std::vector<uint8_t> StagedImage::UnmaskedImage() const {
    std::vector<uint8_t> image;
    if (!IsComplete()) return image;
    image.resize(imageSize_);
    for (uint32_t w = 0; w < imageSize_ / 4; ++w) PutLe32(image.data() + (size_t)w * 4, MaskedWord(w) ^ mask_);
    return image;
}

void StagedImage::Clear() {
    raw_.clear();
    raw_.shrink_to_fit();
    codeRecords_ = imageSize_ = crc_ = mask_ = next_ = 0;
    crcMatches_ = false;
}
