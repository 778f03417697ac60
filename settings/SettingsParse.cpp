// Parsing the settings of a loaded description into their records (DS_Init).
#include <json-glib/json-glib.h>

#include <cstring>
#include <new>

#include "base/Messages.h"
#include "settings/DeviceSettings.h"

namespace {
struct TypeWord {
    const char* word;
    DS_ValueKind kind;
    bool isArray;
};
const TypeWord kTypes[] = {
    {"Integer", DS_ValueKind::Integer, false},   {"Float", DS_ValueKind::Float, false},
    {"String", DS_ValueKind::String, false},     {"IntArray", DS_ValueKind::Integer, true},
    {"FloatArray", DS_ValueKind::Float, true},   {"StringArray", DS_ValueKind::String, true},
};

// Only a setting with exactly this access is editable; others are dropped without a word.
const char kAccessReadWrite[] = "readwrite";

// An integer member of a JSON object; false when absent or not an integer.
bool JsonInt(JsonObject* object, const char* name, int64_t& out)
{
    JsonNode* node = json_object_get_member(object, name);
    if (!node || JSON_NODE_TYPE(node) != JSON_NODE_VALUE || json_node_get_value_type(node) != G_TYPE_INT64)
        return false;
    out = json_node_get_int(node);
    return true;
}

bool JsonPosition(JsonObject* root, const char* name, DS_Position& pos)
{
    JsonNode* node = json_object_get_member(root, name);
    if (!node || !JSON_NODE_HOLDS_OBJECT(node))
        return false;
    JsonObject* object = json_node_get_object(node);
    if (!JsonInt(object, "file", pos.file) || !JsonInt(object, "rec", pos.rec) ||
        !JsonInt(object, "offset", pos.offset) || !JsonInt(object, "count", pos.count))
        return false;
    if (!JsonInt(object, "byte", pos.byte))
        pos.byte = 0;
    return true;
}

enum class PositionResult { Ok, Missing, ParseError };

PositionResult PositionParse(const char* text, DS_SignalInfo& info)
{
    if (!text)
        return PositionResult::Missing;
    JsonParser* parser = json_parser_new();
    GError* error = nullptr;
    PositionResult result = PositionResult::Missing;
    if (!json_parser_load_from_data(parser, text, -1, &error)) {
        result = PositionResult::ParseError;
        g_clear_error(&error);
    } else if (JsonNode* root = json_parser_get_root(parser); root && JSON_NODE_HOLDS_OBJECT(root)) {
        JsonObject* object = json_node_get_object(root);
        if (JsonPosition(object, "r", info.r) && JsonPosition(object, "w", info.w))
            result = PositionResult::Ok;
    }
    g_object_unref(parser);
    return result;
}

// Splits at every comma without trimming: "a,,b," names "a", "", "b" and "".
void IndexesSplit(const char* text, Quill::List<SString>& out)
{
    if (!text)
        return;
    const char* start = text;
    for (;;) {
        const char* comma = strchr(start, ',');
        size_t length = comma ? (size_t)(comma - start) : strlen(start);
        out.Add(new (std::nothrow) SString(start, (int32_t)length));
        if (!comma)
            break;
        start = comma + 1;
    }
}

int64_t FormatBytes(const char* format)
{
    int64_t n = 0;
    for (const char* p = format; *p; ++p)
        if (*p == 'x' || *p == 'X' || *p == 'u')
            ++n;
    return n;
}

// The longest leading real number (point as separator); absent or no number: not given.
void UnitsParse(const char* text, DS_SignalInfo& info)
{
    info.factor = 1.0;
    info.factorGiven = false;
    if (!text)
        return;
    char* end = nullptr;
    double value = g_ascii_strtod(text, &end);
    if (end == text)
        return;
    info.factor = value;
    info.factorGiven = true;
}

// Result of parsing one "scalar".
enum class ParseResult { Ok, DropSilently, Fault, NoMemory };

ParseResult ParseScalar(TiXmlElement* e, DS_SignalInfo& info, SString& fault)
{
    const char* access = DS_ChildText(e, "access");
    if (!access || strcmp(access, kAccessReadWrite) != 0)
        return ParseResult::DropSilently;
    const char* type = e->Attribute("type");
    const TypeWord* word = nullptr;
    for (const TypeWord& t : kTypes)
        if (type && strcmp(type, t.word) == 0)
            word = &t;
    const char* position = e->Attribute("position");
    switch (PositionParse(position, info)) {
    case PositionResult::ParseError:
        fault = TrArgs("Can't parse position: '^0'", position);
        return ParseResult::Fault;
    case PositionResult::Missing:
        return ParseResult::DropSilently;
    case PositionResult::Ok:
        break;
    }
    if (info.r.count != info.w.count) {
        fault = TrArgs("Read, write registers count not equal (^0='^1')", "position", position);
        return ParseResult::Fault;
    }
    info.kind = word ? word->kind : DS_ValueKind::Unsupported;
    info.isArray = word && word->isArray;
    if (info.isArray) {
        IndexesSplit(DS_ChildText(e, "indexes"), info.indexes);
        info.valuesCount = info.indexes.Count();
    } else {
        info.valuesCount = 1;
    }
    if (!word) {
        fault = TrArgs("Unsupported signal type '^0'", type ? type : "");
        return ParseResult::Fault;
    }
    if (info.valuesCount < 1) {
        fault = Tr("Values count = 0");
        return ParseResult::Fault;
    }
    const char* format = e->Attribute("format");
    if (format && *format && FormatBytes(format) != info.r.count * 2 / info.valuesCount) {
        fault = TrArgs("Format not conform registers count (^0='^1'; ^2='^3')", "format", format,
                       "position", position);
        return ParseResult::Fault;
    }
    UnitsParse(DS_ChildText(e, "units"), info);
    return ParseResult::Ok;
}
}  // namespace

void DeviceSettings::DS_Init()
{
    TiXmlElement* sygnals = DS_Sygnals(&doc_);
    TiXmlElement* e = sygnals ? sygnals->FirstChildElement("scalar") : nullptr;
    while (e) {
        TiXmlElement* next = DS_NextScalar(e);
        delete SignalInfo(e);
        e->SetUserData(nullptr);
        DS_SignalInfo* info = new (std::nothrow) DS_SignalInfo;
        SString fault;
        ParseResult result = info ? ParseScalar(e, *info, fault) : ParseResult::NoMemory;
        if (result == ParseResult::Ok) {
            e->SetUserData(info);
            info->entry = records_.Add(e, info->w.file, info->w.rec);
        } else {
            delete info;
            if (result == ParseResult::Fault)
                MsgBox(TrArgs("Parse signal error: '^0'", fault.Text()));
            else if (result == ParseResult::NoMemory)
                DiagNoMem("DS_Init");
            sygnals->RemoveChild(e);
        }
        e = next;
    }
}
