// The write records of the loaded description: for every write file and record number, the
// settings that travel together in one write request, in the order the records first appear.
#pragma once
#include <cstdint>

#include "settings/SettingsModel.h"

class FileRecordsSet {
public:
    // Capacity grows by this many entries when the array is full.
    static const int32_t kGrowBy = 16;

    FileRecordsSet() = default;
    FileRecordsSet(const FileRecordsSet&) = delete;
    FileRecordsSet& operator=(const FileRecordsSet&) = delete;
    ~FileRecordsSet() { Clear(); }

    // Registers a setting under its write file and record number and returns the entry now
    // holding it; null when memory ran out (the setting then belongs to no entry). Searches
    // from the last entry back, where the settings of one record almost always meet.
    FileRecordEntry* Add(TiXmlElement* element, int64_t file, int64_t rec);
    // Deletes every entry and the array.
    void Clear();

    int32_t Count() const { return count_; }
    int32_t Capacity() const { return capacity_; }
    // Null out of range.
    FileRecordEntry* At(int32_t index) const
    {
        return index >= 0 && index < count_ ? entries_[index] : nullptr;
    }

private:
    bool Expand();

    FileRecordEntry** entries_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};
