// Shared pieces of the settings tests: a front end that records what the model tells it, small
// descriptions in a private temporary folder, settings, values and groups as texts.
#pragma once
#include <sstream>
#include <string>
#include <vector>

#include "settings/DeviceSettings.h"
#include "settings/SettingsXml.h"
#include "tests/base/TempDir.h"

template <class List, class Text>
std::string Join(const List& list, const char* separator, Text text)
{
    std::string out;
    for (const auto& item : list)
        out += (out.empty() ? "" : separator) + std::string(text(item));
    return out;
}

class RecordingSettingsUi : public SettingsUiI {
public:
    void MsgBox(const SString& text) override { messages.emplace_back(text.Text()); }
    void GroupSelect(const std::vector<int>& path) override { selects.push_back(path); }
    void GroupShown() override { ++shown; }
    std::string Said() const { return Join(messages, " | ", [](const std::string& m) { return m; }); }

    std::vector<std::string> messages;
    std::vector<std::vector<int>> selects;
    int shown = 0;
};

// A position with "r" and "w" at the same place; byte above 0 selects one byte of a register.
inline std::string Pos(int file, int rec, int offset, int count, int byte = 0)
{
    std::string at = "{\"file\":" + std::to_string(file) + ",\"rec\":" + std::to_string(rec) + ",\"offset\":" +
                     std::to_string(offset) + ",\"count\":" + std::to_string(count) +
                     (byte ? ",\"byte\":" + std::to_string(byte) : "") + "}";
    return "{\"r\":" + at + ",\"w\":" + at + "}";
}

// A setting of group gid at pos (Pos or any JSON text); body: its children after "description".
inline std::string Item(const std::string& name, int gid, const std::string& type, const std::string& pos,
                        const std::string& body = "", const std::string& attrs = "")
{
    return "<scalar " + attrs + " gid=\"" + std::to_string(gid) + "\" type=\"" + type + "\" position='" + pos +
           "'><access>readwrite</access><description>" + name + "</description>" + body + "</scalar>\n";
}

inline std::string Description(const std::string& groups, const std::string& scalars,
                               const std::string& head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")
{
    return head + "<device><description>test unit</description><sygnals>\n<groups>" + groups + "</groups>\n" + scalars +
           "</sygnals></device>\n";
}

inline std::string Group(int gid, const std::string& title, int tab = 2, const std::string& inner = "")
{
    return "<group gid=\"" + std::to_string(gid) + "\" tab=\"" + std::to_string(tab) + "\" title=\"" + title + "\">" +
           inner + "</group>";
}

// Values as one text joined by ","; "" puts none, ValuesOf gives "<none>" for none.
inline void ValuesPut(TiXmlElement* element, const std::string& joined)
{
    DS_ValuesRemove(element);
    std::istringstream list(joined);
    for (std::string v; std::getline(list, v, ',');)
        DS_ValueAppend(element, v.c_str());
}

inline std::string ValuesOf(const TiXmlElement* element)
{
    return DS_Values(element) ? Join(DS_ValueTexts(element), ",", [](const SString& v) { return v.Text(); }) : "<none>";
}

// "gid title(children);" for every group.
inline std::string Tree(const std::vector<DS_Group>& groups)
{
    std::string out;
    for (const DS_Group& g : groups)
        out += std::to_string(g.gid) + " " + g.title.Text() + (g.children.empty() ? "" : "(" + Tree(g.children) + ")") + ";";
    return out;
}

inline std::string NamesOf(const std::vector<TiXmlElement*>& settings)
{
    return Join(settings, " ", DS_Description);
}

struct SettingsFixture {
    RecordingSettingsUi ui;
    DeviceSettings model{&ui};
    TempDir dir;

    std::string Write(const std::string& name, const std::string& text)
    {
        WriteText(dir / name, text);
        return dir / name;
    }
    bool Load(const std::string& text) { return model.DS_Load(Write("desc.xml", text).c_str()); }
    std::string Names() { return NamesOf(model.Scalars()); }
    TiXmlElement* Find(const std::string& name)
    {
        for (TiXmlElement* e : model.Scalars())
            if (name == DS_Description(e))
                return e;
        return nullptr;
    }
};
