#include "sim/SimDescription.h"

#include <glib.h>
#include <json-glib/json-glib.h>
#include <tinyxml.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Far above any description (a thousand settings take some 500 KiB).
const size_t kMaxDescriptionBytes = 4u << 20;
const char kReadWrite[] = "readwrite";

struct TypeWord {
    const char* word;
    SimValueKind kind;
    bool isArray;
};
const TypeWord kTypes[] = {
    {"Integer", SimValueKind::kInteger, false},   {"Float", SimValueKind::kFloat, false},
    {"String", SimValueKind::kString, false},     {"IntArray", SimValueKind::kInteger, true},
    {"FloatArray", SimValueKind::kFloat, true},   {"StringArray", SimValueKind::kString, true},
};

// The encoding named by an XML declaration at the start of text; empty when there is none.
std::string DeclaredEncoding(const std::string& text) {
    if (text.compare(0, 5, "<?xml") != 0) return "";
    std::string declaration = text.substr(0, text.find("?>"));
    size_t at = declaration.find("encoding");
    if (at == std::string::npos) return "";
    size_t quote = declaration.find_first_of("\"'", at);
    if (quote == std::string::npos) return "";
    size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string::npos) return "";
    return declaration.substr(quote + 1, close - quote - 1);
}

bool ToUtf8(const std::string& bytes, std::string* text, std::string* error) {
    std::string encoding = DeclaredEncoding(bytes);
    if (encoding.empty() || g_ascii_strcasecmp(encoding.c_str(), "UTF-8") == 0 ||
        g_ascii_strcasecmp(encoding.c_str(), "UTF8") == 0) {
        // TinyXML steps over a multi-byte sequence by its lead byte alone: a sequence cut
        // short at the end of the text would make it read past the text.
        if (!g_utf8_validate(bytes.data(), (gssize)bytes.size(), nullptr)) {
            *error = "not valid UTF-8 text";
            return false;
        }
        *text = bytes;
        return true;
    }
    GError* failure = nullptr;
    gsize written = 0;
    gchar* converted = g_convert(bytes.data(), (gssize)bytes.size(), "UTF-8", encoding.c_str(), nullptr, &written,
                                 &failure);
    if (!converted) {
        *error = "cannot read it as " + encoding + ": " + (failure ? failure->message : "conversion failed");
        if (failure) g_error_free(failure);
        return false;
    }
    text->assign(converted, written);
    g_free(converted);
    return true;
}

std::string ChildText(const TiXmlElement* element, const char* name) {
    const TiXmlElement* child = element->FirstChildElement(name);
    const char* text = child ? child->GetText() : nullptr;
    return text ? text : "";
}

bool IntMember(JsonObject* object, const char* name, int64_t* out) {
    if (!json_object_has_member(object, name)) return false;
    JsonNode* node = json_object_get_member(object, name);
    if (!JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_INT64) return false;
    *out = json_node_get_int(node);
    return true;
}

bool ReadPosition(JsonObject* whole, const char* name, SimPosition* out) {
    if (!json_object_has_member(whole, name)) return false;
    JsonNode* node = json_object_get_member(whole, name);
    if (!JSON_NODE_HOLDS_OBJECT(node)) return false;
    JsonObject* object = json_node_get_object(node);
    if (!IntMember(object, "file", &out->file) || !IntMember(object, "rec", &out->rec) ||
        !IntMember(object, "offset", &out->offset) || !IntMember(object, "count", &out->count))
        return false;
    if (json_object_has_member(object, "byte") && !IntMember(object, "byte", &out->byte)) return false;
    return true;
}

// Empty when both positions were read; else why not.
std::string ParsePosition(const char* text, SimSetting* setting) {
    if (!text || !*text) return "no position";
    JsonParser* parser = json_parser_new();
    GError* failure = nullptr;
    std::string why;
    if (!json_parser_load_from_data(parser, text, -1, &failure)) {
        why = std::string("position is no JSON: ") + (failure ? failure->message : "");
        if (failure) g_error_free(failure);
    } else {
        JsonNode* root = json_parser_get_root(parser);
        if (!root || !JSON_NODE_HOLDS_OBJECT(root) ||
            !ReadPosition(json_node_get_object(root), "r", &setting->r) ||
            !ReadPosition(json_node_get_object(root), "w", &setting->w))
            why = "position lacks r or w with integer file, rec, offset and count";
    }
    g_object_unref(parser);
    return why;
}

// Register 0 is the record's mark (on reading) and password (on writing): no setting's.
// Compared so that no sum can overflow, whatever numbers the file holds.
bool FitsRecord(const SimPosition& p) {
    return p.offset >= 1 && p.offset < kRecordRegisterLimit && p.count >= 1 &&
           p.count <= kRecordRegisterLimit - p.offset && p.byte >= 0 && p.byte <= p.count * 2;
}

// Empty when the element is a setting the unit can place; else why not.
std::string ParseSetting(const TiXmlElement* scalar, SimSetting* s) {
    if (ChildText(scalar, "access") != kReadWrite) return "not readwrite";
    const char* type = scalar->Attribute("type");
    const TypeWord* word = nullptr;
    for (const TypeWord& t : kTypes)
        if (type && strcmp(type, t.word) == 0) word = &t;
    if (!word) return std::string("unsupported type '") + (type ? type : "") + "'";
    s->kind = word->kind;
    s->isArray = word->isArray;
    std::string why = ParsePosition(scalar->Attribute("position"), s);
    if (!why.empty()) return why;
    if (s->r.count != s->w.count) return "read and write counts differ";
    if (!FitsRecord(s->r) || !FitsRecord(s->w)) return "position at register 0 or outside a 64-register record";
    if (s->isArray) {
        const TiXmlElement* indexes = scalar->FirstChildElement("indexes");
        const char* names = indexes ? indexes->GetText() : nullptr;
        // Every comma separates two names, empty ones included; no text at all names nothing.
        s->valuesCount = names ? 1 + (size_t)std::count(names, names + strlen(names), ',') : 0;
        if (indexes && !names) s->valuesCount = 1;
    }
    if (s->valuesCount == 0) return "no values";
    const char* format = scalar->Attribute("format");
    s->format = format ? format : "";
    std::string units = ChildText(scalar, "units");
    char* end = nullptr;
    double factor = g_ascii_strtod(units.c_str(), &end);
    if (end != units.c_str()) {
        s->factor = factor;
        s->factorGiven = true;
    }
    const TiXmlElement* values = scalar->FirstChildElement("values");
    s->hasValues = values != nullptr;
    for (const TiXmlElement* v = values ? values->FirstChildElement("value") : nullptr; v;
         v = v->NextSiblingElement("value")) {
        const char* text = v->GetText();
        s->values.push_back(text ? text : "");
    }
    return "";
}

}  // namespace

bool ParseDescription(const std::string& bytes, SimDescription* out, std::string* error) {
    *out = SimDescription();
    std::string text;
    if (!ToUtf8(bytes, &text, error)) return false;
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document.Error()) {
        char where[64];
        snprintf(where, sizeof where, " (line %d)", document.ErrorRow());
        *error = std::string("not XML: ") + document.ErrorDesc() + where;
        return false;
    }
    const TiXmlElement* root = document.RootElement();
    if (!root || root->ValueStr() != "device") {
        *error = "the root element is not \"device\"";
        return false;
    }
    const TiXmlElement* sygnals = root->FirstChildElement("sygnals");
    if (!sygnals) {
        *error = "no \"sygnals\" element under \"device\"";
        return false;
    }
    for (const TiXmlElement* e = sygnals->FirstChildElement("scalar"); e; e = e->NextSiblingElement("scalar")) {
        SimSetting setting;
        setting.description = ChildText(e, "description");
        std::string why = ParseSetting(e, &setting);
        if (why.empty())
            out->settings.push_back(std::move(setting));
        else
            out->skipped.push_back("'" + setting.description + "': " + why);
    }
    return true;
}

bool LoadDescription(const std::string& path, SimDescription* out, std::string* error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    std::string bytes;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && bytes.size() <= kMaxDescriptionBytes)
        bytes.append(chunk, n);
    bool failed = ferror(f);
    fclose(f);
    if (failed || bytes.size() > kMaxDescriptionBytes) {
        *error = path + (failed ? ": cannot be read" : ": larger than 4 MiB");
        return false;
    }
    if (!ParseDescription(bytes, out, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}
