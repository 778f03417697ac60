#include "sim/SettingsRecords.h"

#include <cstring>

#include "sim/ByteOrder.h"

namespace {
const size_t kEntryHeader = 6;
const uint16_t kHoldsValues = 1;
const uint16_t kNoValues = 0;
}  // namespace

bool SettingsRecords::Write(uint16_t file, uint16_t record, const uint8_t* registers, uint16_t count) {
    uint32_t key = Key(file, record);
    if (!records_.count(key) && records_.size() >= kMaxSettingsRecords) return false;
    records_[key].assign(registers, registers + (size_t)count * 2);
    return true;
}

void SettingsRecords::Read(uint16_t file, uint16_t record, uint16_t count, uint8_t* out) const {
    size_t size = (size_t)count * 2;
    memset(out, 0, size);
    auto it = records_.find(Key(file, record));
    if (it == records_.end()) return;
    const std::vector<uint8_t>& stored = it->second;
    size_t copy = stored.size() < size ? stored.size() : size;
    memcpy(out, stored.data(), copy);
    bool withValues = !(GetBe16(stored.data()) & kWithoutValuesFlag);
    PutBe16(out, withValues ? kHoldsValues : kNoValues);
}

std::vector<uint8_t> SettingsRecords::Serialize() const {
    std::vector<uint8_t> bytes;
    for (const auto& entry : records_) {
        uint8_t head[kEntryHeader];
        PutBe16(head, (uint16_t)(entry.first >> 16));
        PutBe16(head + 2, (uint16_t)entry.first);
        PutBe16(head + 4, (uint16_t)(entry.second.size() / 2));
        bytes.insert(bytes.end(), head, head + kEntryHeader);
        bytes.insert(bytes.end(), entry.second.begin(), entry.second.end());
    }
    return bytes;
}

bool SettingsRecords::Deserialize(const std::vector<uint8_t>& bytes) {
    records_.clear();
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < kEntryHeader) return false;
        uint16_t count = GetBe16(&bytes[at + 4]);
        if (count == 0 || count > kMaxSettingsRegisters || bytes.size() - at - kEntryHeader < (size_t)count * 2)
            return false;
        if (!Write(GetBe16(&bytes[at]), GetBe16(&bytes[at + 2]), &bytes[at + kEntryHeader], count)) return false;
        at += kEntryHeader + (size_t)count * 2;
    }
    return true;
}
