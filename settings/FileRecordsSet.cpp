#include "settings/FileRecordsSet.h"

#include <new>

#include "base/Messages.h"

bool FileRecordsSet::Expand()
{
    int32_t capacity = capacity_ + kGrowBy;
    FileRecordEntry** entries = new (std::nothrow) FileRecordEntry*[capacity];
    if (!entries) {
        DiagNoMem("FileRecordsSet::Expand");
        return false;
    }
    for (int32_t i = 0; i < count_; ++i)
        entries[i] = entries_[i];
    delete[] entries_;
    entries_ = entries;
    capacity_ = capacity;
    return true;
}

FileRecordEntry* FileRecordsSet::Add(TiXmlElement* element, int64_t file, int64_t rec)
{
    uint32_t key = FileRecordKey(file, rec);
    for (int32_t i = count_ - 1; i >= 0; --i) {
        if (entries_[i]->key == key) {
            entries_[i]->settings.Add(element);
            return entries_[i];
        }
    }
    if (count_ == capacity_ && !Expand())
        return nullptr;
    FileRecordEntry* entry = new (std::nothrow) FileRecordEntry;
    if (!entry) {
        DiagNoMem("FileRecordsSet::Expand");
        return nullptr;
    }
    entry->key = key;
    entry->settings.Add(element);
    entries_[count_++] = entry;
    return entry;
}

void FileRecordsSet::Clear()
{
    for (int32_t i = 0; i < count_; ++i)
        delete entries_[i];
    delete[] entries_;
    entries_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}
