// Settings file records as the unit keeps them: what Write File Record stored per file and
// record, returned by Read File Record with register 0 telling whether values are held.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

const uint16_t kMaxSettingsRegisters = 64;
const size_t kMaxSettingsRecords = 4096;
const uint16_t kWithoutValuesFlag = 0x8000;   // bit 15 of register 0 of a settings write
const uint16_t kPasswordMask = 0x7FFF;

class SettingsRecords {
public:
    // registers: count registers as written, register 0 (password and flag) included.
    // False when the record is new and the store is full.
    bool Write(uint16_t file, uint16_t record, const uint8_t* registers, uint16_t count);
    bool Has(uint16_t file, uint16_t record) const { return records_.count(Key(file, record)) != 0; }
    void Erase(uint16_t file, uint16_t record) { records_.erase(Key(file, record)); }
    // The registers as last written, register 0 included; null for a record never written.
    const std::vector<uint8_t>* Stored(uint16_t file, uint16_t record) const {
        auto it = records_.find(Key(file, record));
        return it == records_.end() ? nullptr : &it->second;
    }
    // count registers: register 0 is 1 when the record holds values, then the stored registers
    // (zeros past what was written, and for a record never written).
    void Read(uint16_t file, uint16_t record, uint16_t count, uint8_t* out) const;

    // Every record as written: file, record, register count (2 bytes each, big-endian), registers.
    std::vector<uint8_t> Serialize() const;
    bool Deserialize(const std::vector<uint8_t>& bytes);
    size_t Size() const { return records_.size(); }

private:
    static uint32_t Key(uint16_t file, uint16_t record) { return ((uint32_t)file << 16) | record; }
    std::map<uint32_t, std::vector<uint8_t>> records_;
};
