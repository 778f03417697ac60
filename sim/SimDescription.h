// What the simulated unit takes from a settings description (or a settings file, which is a
// description with values): where each setting is written and read, how its values are coded,
// and the values a settings file carries. Read with TinyXML and json-glib directly, never with
// the tool's own loader, so that a misreading of the format cannot hide on both sides.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Registers a settings record holds, register 0 (the validity mark / password) included.
const int64_t kRecordRegisterLimit = 64;

struct SimPosition {
    int64_t file = 0;
    int64_t rec = 0;
    int64_t offset = 0;   // registers from the start of the record
    int64_t count = 0;    // registers all values take together
    int64_t byte = 0;     // 1-based byte inside those registers; 0: whole registers
};

enum class SimValueKind { kInteger, kFloat, kString };

struct SimSetting {
    std::string description;
    SimValueKind kind = SimValueKind::kInteger;
    bool isArray = false;
    size_t valuesCount = 1;
    SimPosition r, w;
    double factor = 1.0;
    bool factorGiven = false;
    std::string format;
    bool hasValues = false;             // the element has "values"
    std::vector<std::string> values;    // UTF-8 texts, in order
};

struct SimDescription {
    std::vector<SimSetting> settings;   // document order
    // One line per "scalar" the unit cannot place (the tool drops those as well).
    std::vector<std::string> skipped;
};

// bytes: a whole file in the encoding its declaration names. False, with a one-line reason,
// when it is no description at all; settings that cannot be placed are only listed in skipped.
bool ParseDescription(const std::string& bytes, SimDescription* out, std::string* error);
bool LoadDescription(const std::string& path, SimDescription* out, std::string* error);
