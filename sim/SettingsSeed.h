// Start-up values for the simulated unit: the write records a settings file's values make,
// coded the way the tool codes them for a write, so that a demo unit starts configured.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimDescription.h"

class Unit;

struct SeedRecord {
    uint16_t file = 0, record = 0;
    std::vector<uint8_t> registers;   // register 0 (the password) included, big-endian
};

// Codes setting's values into a record buffer of kRecordRegisterLimit registers. False, with
// the reason, when a value is missing or its size cannot be coded.
bool EncodeSetting(const SimSetting& setting, uint8_t* record, std::string* why);

// One record per write record whose settings all carry values, in document order; the write
// records some of whose settings lack values, or whose values cannot be coded, go to skipped.
std::vector<SeedRecord> SeedRecords(const SimDescription& values, uint16_t password,
                                    std::vector<std::string>* skipped);

// Stores the seed records of the settings file at path that the unit does not hold yet.
// False with a one-line reason when the file is no description.
bool SeedUnit(Unit& unit, const std::string& path, size_t* seeded, std::vector<std::string>* skipped,
              std::string* error);
