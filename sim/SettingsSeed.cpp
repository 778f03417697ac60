#include "sim/SettingsSeed.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "sim/ByteOrder.h"
#include "sim/Unit.h"

namespace {

const int kBitsInByte = 8;

int64_t RoundHalfAway(double value) { return (int64_t)std::llround(value); }

int64_t NumberOf(const SimSetting& s, const std::string& text) {
    if (s.kind == SimValueKind::kFloat) {
        double divisor = s.factorGiven ? s.factor : 1.0;
        return RoundHalfAway(g_ascii_strtod(text.c_str(), nullptr) / divisor);
    }
    int64_t number = g_ascii_strtoll(text.c_str(), nullptr, 0);
    if (s.factorGiven && s.factor != 1.0) number = RoundHalfAway((double)number / s.factor);
    return number;
}

void PutString(const SimSetting& s, const std::string& text, uint8_t* out, size_t size) {
    memset(out, 0, size);
    if (s.format.empty()) {
        gsize written = 0;
        gchar* cp1251 = g_convert(text.data(), (gssize)text.size(), "WINDOWS-1251", "UTF-8", nullptr, &written,
                                  nullptr);
        if (cp1251) memcpy(out, cp1251, written < size ? written : size);
        g_free(cp1251);
        return;
    }
    const char* at = text.c_str();
    size_t stored = 0;
    for (char f : s.format) {
        if (stored == size) break;
        if (f == 'x' || f == 'X' || f == 'u') {
            char* next = nullptr;
            unsigned long value = strtoul(at, &next, f == 'u' ? 10 : 16);
            out[stored++] = (uint8_t)value;
            at = next;
        } else if (*at != '\0') {
            ++at;
        }
    }
}

}  // namespace

bool EncodeSetting(const SimSetting& s, uint8_t* record, std::string* why) {
    size_t size = (size_t)(s.w.count * 2) / s.valuesCount;
    uint8_t* first = record + s.w.offset * 2;
    bool byteMode = s.kind == SimValueKind::kInteger && s.w.byte > 0;
    for (size_t i = 0; i < s.valuesCount; ++i) {
        if (i >= s.values.size()) {
            *why = "no value " + std::to_string(i + 1);
            return false;
        }
        const std::string& text = s.values[i];
        uint8_t* value = first + i * size;
        if (byteMode) {
            uint8_t& target = first[s.w.byte - 1];
            if (!s.isArray) {
                target = (uint8_t)NumberOf(s, text);
            } else if (i < kBitsInByte) {
                uint8_t bit = (uint8_t)(1u << i);
                target = g_ascii_strtoll(text.c_str(), nullptr, 10) != 0 ? (uint8_t)(target | bit)
                                                                           : (uint8_t)(target & ~bit);
            }
        } else if (s.kind == SimValueKind::kString) {
            PutString(s, text, value, size);
        } else {
            if (size != 1 && size != 2 && size != 4 && size != 8) {
                *why = "values of " + std::to_string(size) + " bytes cannot be coded";
                return false;
            }
            uint64_t number = (uint64_t)NumberOf(s, text);
            for (size_t b = 0; b < size; ++b) value[b] = (uint8_t)(number >> (8 * (size - 1 - b)));
        }
    }
    return true;
}

std::vector<SeedRecord> SeedRecords(const SimDescription& values, uint16_t password,
                                    std::vector<std::string>* skipped) {
    // Write records in the order of their first setting.
    std::vector<uint32_t> order;
    std::map<uint32_t, std::vector<const SimSetting*>> members;
    for (const SimSetting& s : values.settings) {
        uint32_t key = ((uint32_t)(uint16_t)s.w.file << 16) | (uint16_t)s.w.rec;
        if (!members.count(key)) order.push_back(key);
        members[key].push_back(&s);
    }
    std::vector<SeedRecord> records;
    for (uint32_t key : order) {
        const std::vector<const SimSetting*>& settings = members[key];
        size_t withValues = 0;
        int64_t length = 1;
        for (const SimSetting* s : settings) {
            withValues += s->hasValues ? 1 : 0;
            length = std::max(length, s->w.offset + s->w.count);
        }
        if (withValues == 0) continue;
        std::string where = "file " + std::to_string(key >> 16) + " record " + std::to_string(key & 0xFFFF);
        if (withValues != settings.size()) {
            skipped->push_back(where + ": some of its settings have no values");
            continue;
        }
        uint8_t buffer[kRecordRegisterLimit * 2] = {};
        PutBe16(buffer, password);
        std::string why;
        bool ok = true;
        for (const SimSetting* s : settings) {
            if (!EncodeSetting(*s, buffer, &why)) {
                skipped->push_back(where + ": '" + s->description + "': " + why);
                ok = false;
                break;
            }
        }
        if (ok) records.push_back(SeedRecord{(uint16_t)(key >> 16), (uint16_t)key,
                                             std::vector<uint8_t>(buffer, buffer + length * 2)});
    }
    return records;
}

bool SeedUnit(Unit& unit, const std::string& path, size_t* seeded, std::vector<std::string>* skipped,
              std::string* error) {
    SimDescription values;
    if (!LoadDescription(path, &values, error)) return false;
    *skipped = values.skipped;
    *seeded = 0;
    for (const SeedRecord& r : SeedRecords(values, unit.Password(), skipped)) {
        if (unit.Settings().Has(r.file, r.record)) continue;
        if (!unit.Settings().Write(r.file, r.record, r.registers.data(), (uint16_t)(r.registers.size() / 2))) {
            *error = path + ": the unit's settings store is full";
            return false;
        }
        ++*seeded;
    }
    return true;
}
