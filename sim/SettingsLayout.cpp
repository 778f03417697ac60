#include "sim/SettingsLayout.h"

#include <cstring>

#include "sim/ByteOrder.h"

namespace {
const uint16_t kHoldsValues = 1;
const uint16_t kNoValues = 0;
}  // namespace

SettingsLayout::SettingsLayout(const SimDescription& description) {
    for (const SimSetting& s : description.settings) {
        Placement p = {(uint16_t)s.w.file, (uint16_t)s.w.rec, (uint16_t)s.w.offset, (uint16_t)s.r.offset,
                       (uint16_t)s.r.count};
        reads_[Key((uint16_t)s.r.file, (uint16_t)s.r.rec)].push_back(p);
    }
}

bool SettingsLayout::Fed(const SettingsRecords& records, uint16_t file, uint16_t record) const {
    for (const Placement& p : reads_.at(Key(file, record)))
        if (records.Has(p.file, p.record)) return true;
    return false;
}

void SettingsLayout::Read(const SettingsRecords& records, uint16_t file, uint16_t record, uint16_t length,
                          uint8_t* out) const {
    memset(out, 0, (size_t)length * 2);
    auto it = reads_.find(Key(file, record));
    if (it == reads_.end()) return;
    bool valid = true;
    for (const Placement& p : it->second) {
        const std::vector<uint8_t>* stored = records.Stored(p.file, p.record);
        if (!stored) {
            valid = false;
            continue;
        }
        if (GetBe16(stored->data()) & kWithoutValuesFlag) valid = false;
        for (uint16_t i = 0; i < p.count; ++i) {
            size_t from = ((size_t)p.from + i) * 2, to = ((size_t)p.to + i) * 2;
            if (to + 2 > (size_t)length * 2) break;
            if (from + 2 <= stored->size()) memcpy(out + to, stored->data() + from, 2);
        }
    }
    PutBe16(out, valid ? kHoldsValues : kNoValues);
}
