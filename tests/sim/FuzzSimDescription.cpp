// A whole description or settings file, pushed through everything the unit does with it (start-up
// values coded into records and stored, every named read record assembled); a broken promise aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/ByteOrder.h"
#include "sim/SettingsLayout.h"
#include "sim/SettingsRecords.h"
#include "sim/SettingsSeed.h"
#include "sim/SimDescription.h"

static void Check(bool holds, const char* what) {
    if (!holds) fprintf(stderr, "invariant broken: %s\n", what), abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimDescription description;
    std::string error;
    if (!ParseDescription(std::string((const char*)data, size), &description, &error)) {
        Check(!error.empty(), "a refused description says why");
        return 0;
    }
    for (const SimSetting& s : description.settings) {
        Check(s.valuesCount >= 1, "placed settings have values");
        Check(s.r.count == s.w.count, "read and write counts agree");
        Check(s.w.offset >= 0 && s.w.offset + s.w.count <= kRecordRegisterLimit, "write position inside a record");
        Check(s.r.offset >= 0 && s.r.offset + s.r.count <= kRecordRegisterLimit, "read position inside a record");
    }
    std::vector<std::string> skipped;
    SettingsRecords records;
    for (const SeedRecord& r : SeedRecords(description, 1, &skipped)) {
        Check(r.registers.size() >= 2 && r.registers.size() <= (size_t)kRecordRegisterLimit * 2, "record size");
        Check(GetBe16(r.registers.data()) == 1, "register 0 carries the password");
        records.Write(r.file, r.record, r.registers.data(), (uint16_t)(r.registers.size() / 2));
    }
    SettingsLayout layout(description);
    uint8_t out[kRecordRegisterLimit * 2];
    for (const SimSetting& s : description.settings) {
        uint16_t file = (uint16_t)s.r.file, record = (uint16_t)s.r.rec;
        Check(layout.Names(file, record), "every placed setting's read record is named");
        layout.Read(records, file, record, (uint16_t)kRecordRegisterLimit, out);
        Check(GetBe16(out) <= 1, "register 0 is a validity mark");
        Check(GetBe16(out) == 0 || layout.Fed(records, file, record), "a valid read was written");
    }
    return 0;
}
