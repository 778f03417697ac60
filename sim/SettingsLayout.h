// The unit's read side of a settings description: a read of a record that some setting's "r"
// names is assembled from the records that the settings' "w" positions were written to.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "sim/SettingsRecords.h"
#include "sim/SimDescription.h"

class SettingsLayout {
public:
    explicit SettingsLayout(const SimDescription& description);

    // Requests carry the low 16 bits of file and record numbers; so does the layout.
    bool Names(uint16_t file, uint16_t record) const { return reads_.count(Key(file, record)) != 0; }
    // True when any record feeding this named read record has been written.
    bool Fed(const SettingsRecords& records, uint16_t file, uint16_t record) const;
    // length registers of a named record: register 0 is 1 when every feeding record was last
    // written with values, each setting's registers sit at its read offset, the rest are 0.
    void Read(const SettingsRecords& records, uint16_t file, uint16_t record, uint16_t length, uint8_t* out) const;
    size_t ReadRecords() const { return reads_.size(); }

private:
    struct Placement {
        uint16_t file, record;   // where the setting is written
        uint16_t from;           // its write offset
        uint16_t to;             // its read offset
        uint16_t count;
    };
    static uint32_t Key(uint16_t file, uint16_t record) { return ((uint32_t)file << 16) | record; }
    std::map<uint32_t, std::vector<Placement>> reads_;
};
