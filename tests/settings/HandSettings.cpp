#include "tests/settings/HandSettings.h"

#include <gtest/gtest.h>
#include <json-glib/json-glib.h>

#include <cstdlib>

namespace {
std::string Place(int file, int rec, int offset, int count, int byte)
{
    std::string text = "{\"file\":" + std::to_string(file) + ",\"rec\":" + std::to_string(rec) +
                       ",\"offset\":" + std::to_string(offset) + ",\"count\":" + std::to_string(count);
    if (byte)
        text += ",\"byte\":" + std::to_string(byte);
    return text + "}";
}

bool PlaceRead(JsonObject* root, const char* name, DS_Position* out)
{
    JsonNode* node = json_object_get_member(root, name);
    if (!node || !JSON_NODE_HOLDS_OBJECT(node))
        return false;
    JsonObject* place = json_node_get_object(node);
    int64_t* fields[] = {&out->file, &out->rec, &out->offset, &out->count};
    const char* names[] = {"file", "rec", "offset", "count"};
    for (int i = 0; i < 4; ++i) {
        if (!json_object_has_member(place, names[i]))
            return false;
        *fields[i] = json_object_get_int_member(place, names[i]);
    }
    out->byte = json_object_has_member(place, "byte") ? json_object_get_int_member(place, "byte") : 0;
    return true;
}

bool PositionParse(const char* text, DS_SignalInfo* info)
{
    JsonParser* parser = json_parser_new();
    bool ok = text && json_parser_load_from_data(parser, text, -1, nullptr);
    JsonNode* root = ok ? json_parser_get_root(parser) : nullptr;
    ok = root && JSON_NODE_HOLDS_OBJECT(root) && PlaceRead(json_node_get_object(root), "r", &info->r) &&
         PlaceRead(json_node_get_object(root), "w", &info->w);
    g_object_unref(parser);
    return ok;
}

struct TypeEntry {
    const char* word;
    DS_ValueKind kind;
    bool isArray;
};
const TypeEntry kTypes[] = {
    {"Integer", DS_ValueKind::Integer, false},   {"Float", DS_ValueKind::Float, false},
    {"String", DS_ValueKind::String, false},     {"IntArray", DS_ValueKind::Integer, true},
    {"FloatArray", DS_ValueKind::Float, true},   {"StringArray", DS_ValueKind::String, true},
};
}  // namespace

std::string Position(int file, int rec, int offset, int count, int byte)
{
    const std::string place = Place(file, rec, offset, count, byte);
    return "{\"r\":" + place + ",\"w\":" + place + "}";
}

std::string Position2(int rFile, int rRec, int rOffset, int wFile, int wRec, int wOffset, int count)
{
    return "{\"r\":" + Place(rFile, rRec, rOffset, count, 0) + ",\"w\":" + Place(wFile, wRec, wOffset, count, 0) +
           "}";
}

std::string Setting(const std::string& type, const std::string& position, const std::string& description,
                   const std::string& attributes, const std::string& children)
{
    return "<scalar type=\"" + type + "\" position='" + position + "' " + attributes +
           "><access>readwrite</access><description>" + description + "</description>" + children + "</scalar>";
}

TestSettings::TestSettings()
{
    root_ = new TiXmlElement("sygnals");
    doc_.LinkEndChild(root_);
}

TestSettings::~TestSettings() = default;

TiXmlElement* TestSettings::Add(const std::string& xml)
{
    TiXmlDocument parsed;
    parsed.Parse(xml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* source = parsed.RootElement();
    std::unique_ptr<DS_SignalInfo> info(new DS_SignalInfo());
    const char* type = source ? source->Attribute("type") : nullptr;
    for (const TypeEntry& t : kTypes) {
        if (type && t.word == std::string(type)) {
            info->kind = t.kind;
            info->isArray = t.isArray;
        }
    }
    if (!source || info->kind == DS_ValueKind::Unsupported || !PositionParse(source->Attribute("position"), info.get())) {
        ADD_FAILURE() << "not a setting: " << xml;
        return nullptr;
    }
    if (info->isArray) {
        const TiXmlElement* indexes = source->FirstChildElement("indexes");
        std::string names = indexes && indexes->GetText() ? indexes->GetText() : "";
        info->valuesCount = 0;
        for (size_t from = 0, comma = 0; indexes; from = comma + 1) {
            comma = names.find(',', from);
            info->indexes.Add(new SString(names.substr(from, comma - from).c_str()));
            ++info->valuesCount;
            if (comma == std::string::npos)
                break;
        }
    }
    const TiXmlElement* units = source->FirstChildElement("units");
    if (units && units->GetText()) {
        info->factor = g_ascii_strtod(units->GetText(), nullptr);
        info->factorGiven = true;
    }
    TiXmlElement* element = root_->InsertEndChild(*source)->ToElement();
    const uint32_t key = FileRecordKey(info->w.file, info->w.rec);
    for (auto it = entries_.rbegin(); it != entries_.rend() && !info->entry; ++it) {
        if ((*it)->key == key)
            info->entry = it->get();
    }
    if (!info->entry) {
        entries_.emplace_back(new FileRecordEntry());
        entries_.back()->key = key;
        info->entry = entries_.back().get();
    }
    info->entry->settings.Add(element);
    element->SetUserData(info.get());
    infos_.push_back(std::move(info));
    elements_.push_back(element);
    return element;
}

void TestSettings::All(Quill::List<TiXmlElement>& out) const
{
    Fill(out, elements_);
}

void Fill(Quill::List<TiXmlElement>& out, const std::vector<TiXmlElement*>& elements)
{
    out.Clear(false);
    for (TiXmlElement* e : elements)
        out.Add(e);
}

void ValuesSet(TiXmlElement* element, const std::vector<std::string>& values)
{
    while (TiXmlElement* old = element->FirstChildElement("values"))
        element->RemoveChild(old);
    TiXmlElement* list = new TiXmlElement("values");
    element->LinkEndChild(list);
    for (const std::string& v : values) {
        TiXmlElement* value = new TiXmlElement("value");
        list->LinkEndChild(value);
        TiXmlText* text = new TiXmlText(v.c_str());
        text->SetCDATA(true);
        value->LinkEndChild(text);
    }
}

bool HasValues(const TiXmlElement* element)
{
    return element->FirstChildElement("values") != nullptr;
}

std::vector<std::string> ValuesOf(const TiXmlElement* element)
{
    std::vector<std::string> out;
    const TiXmlElement* values = element->FirstChildElement("values");
    for (const TiXmlElement* v = values ? values->FirstChildElement("value") : nullptr; v;
         v = v->NextSiblingElement("value"))
        out.push_back(v->GetText() ? v->GetText() : "");
    return out;
}

std::string ValuesText(const TiXmlElement* element)
{
    if (!HasValues(element))
        return "no values";
    std::string text = "[";
    for (const std::string& v : ValuesOf(element))
        text += (text.size() > 1 ? ", " : "") + v;
    return text + "]";
}
