// The settings description model: what the description file says about each setting, kept
// beside the setting's XML element, and the write records the settings share. Headless: the
// editor keeps its widgets in a map of its own, keyed by the element.
#pragma once
#include <cstdint>

#include <tinyxml.h>

#include "base/QuillList.h"
#include "base/SString.h"

namespace Quill {
// Lists of elements never own them: the document does.
template <>
struct ListElementDeleter<TiXmlElement> {
    static void Delete(TiXmlElement*) {}
};
}  // namespace Quill

// A device record holds at most this many registers (a file-record request's limit here).
const int32_t kSettingsRecordRegisters = 64;
// Settings that must never reach the unit without a value: its address, mask, gateway and
// identifier.
const int64_t kUidProtectedFirst = 100002;
const int64_t kUidProtectedLast = 100005;

enum class DS_ValueKind : int32_t { Integer = 0, Float = 1, String = 2, Unsupported = 3 };

// Where a setting lives in the unit's file records ("r" or "w" of "position").
struct DS_Position {
    int64_t file = 0;
    int64_t rec = 0;
    int64_t offset = 0;  // registers from the start of the record
    int64_t count = 0;   // registers all values occupy together
    int64_t byte = 0;    // 1-based byte inside the setting's registers; 0: whole registers
};

struct FileRecordEntry;

// Attached to every valid "scalar" element as its user data; an element without one is not
// a setting. Owned by the settings model through the element.
struct DS_SignalInfo {
    DS_ValueKind kind = DS_ValueKind::Unsupported;
    bool isArray = false;
    int32_t valuesCount = 1;
    Quill::List<SString> indexes;  // array index names; empty for scalar types
    DS_Position r;
    DS_Position w;
    double factor = 1.0;
    bool factorGiven = false;
    FileRecordEntry* entry = nullptr;  // the write record this setting belongs to

    // Bytes of one value: read count * 2 / number of values.
    int64_t ValueSize() const { return valuesCount > 0 ? r.count * 2 / valuesCount : 0; }
};

// The record of a setting element, or null.
inline DS_SignalInfo* SignalInfo(const TiXmlElement* element)
{
    // The record belongs to the model, not to the element: a const element still has a
    // record the caller may use.
    return element ? static_cast<DS_SignalInfo*>(const_cast<void*>(element->GetUserData())) : nullptr;
}

// One write record: every setting that shares a write file number and record number.
struct FileRecordEntry {
    uint32_t key = 0;  // low 16 bits of the file << 16 | low 16 bits of the record
    Quill::List<TiXmlElement> settings;  // document order; not owned
};

inline uint32_t FileRecordKey(int64_t file, int64_t rec)
{
    return ((uint32_t)(file & 0xFFFF) << 16) | (uint32_t)(rec & 0xFFFF);
}
