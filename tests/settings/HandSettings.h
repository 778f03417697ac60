// Settings for tests without a description loader: each "scalar" element is parsed from its
// text here (type, position, indexes, units) and gets its record and write-record entry the
// way a loaded description gives them.
#pragma once
#include <tinyxml.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/SettingsModel.h"

// {"r":{...},"w":{...}} with the same place for reading and writing.
std::string Position(int file, int rec, int offset, int count, int byte = 0);
// Different places for reading and writing (same count).
std::string Position2(int rFile, int rRec, int rOffset, int wFile, int wRec, int wOffset, int count);
// A "scalar" element: its type, position, description and any further attributes and children.
std::string Setting(const std::string& type, const std::string& position, const std::string& description,
                   const std::string& attributes = "", const std::string& children = "");

class TestSettings {
public:
    TestSettings();
    ~TestSettings();
    // Adds the element under the document's root with its record and write-record entry;
    // null (and a test failure) when the text is no valid setting.
    TiXmlElement* Add(const std::string& xml);
    // Every setting added, in order.
    void All(Quill::List<TiXmlElement>& out) const;
    const std::vector<TiXmlElement*>& Elements() const { return elements_; }

private:
    TiXmlDocument doc_;
    TiXmlElement* root_;
    std::vector<TiXmlElement*> elements_;
    std::vector<std::unique_ptr<DS_SignalInfo>> infos_;
    std::vector<std::unique_ptr<FileRecordEntry>> entries_;
};

void Fill(Quill::List<TiXmlElement>& out, const std::vector<TiXmlElement*>& elements);
void ValuesSet(TiXmlElement* element, const std::vector<std::string>& values);
bool HasValues(const TiXmlElement* element);
std::vector<std::string> ValuesOf(const TiXmlElement* element);
// "[a, b]" or "no values", for failure messages.
std::string ValuesText(const TiXmlElement* element);
