// The value checks: one value text, one setting, all settings, and taking values back.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Messages.h"
#include "settings/DeviceSettings.h"

namespace {
// A byte of a formatted string value.
const unsigned long kFormatByteMax = 255;

bool IsFormatChar(char c) { return c == 'x' || c == 'X' || c == 'u'; }

SString FormatFault(const char* msgid, const char* text, const char* format)
{
    return TrArgs(msgid, text, format);
}

// Walks the format over the text: each 'x'/'X'/'u' takes one number of 0 to 255, every other
// character must stand in the text as it is.
bool FormatCheck(const char* text, const char* format, SString& error)
{
    size_t length = strlen(text);
    size_t pos = 0;
    for (const char* f = format; *f; ++f) {
        if (pos >= length) {
            error = FormatFault("Value ('^0') not conform format ('^1'): value too short", text, format);
            return false;
        }
        if (IsFormatChar(*f)) {
            char* end = nullptr;
            errno = 0;
            unsigned long n = strtoul(text + pos, &end, *f == 'u' ? 10 : 16);
            if (end == text + pos) {
                error = FormatFault("Value ('^0') not conform format ('^1'): can't convert to integer",
                                    text, format);
                return false;
            }
            if (n > kFormatByteMax) {
                error = FormatFault("Value ('^0') not conform format ('^1'): numeric must be in range 0 - 255",
                                    text, format);
                return false;
            }
            pos = (size_t)(end - text);
        } else {
            if (text[pos] != *f) {
                error = FormatFault("Value ('^0') not conform format ('^1'): wrong symbol", text, format);
                return false;
            }
            ++pos;
        }
    }
    if (pos < length) {
        error = FormatFault("Value ('^0') not conform format ('^1'): value too long", text, format);
        return false;
    }
    return true;
}

// With "namedvalues" the number must be one of the keys.
bool NamedValueKnown(const TiXmlElement* named, int64_t number)
{
    for (const TiXmlElement* v = named->FirstChildElement("value"); v; v = v->NextSiblingElement("value")) {
        bool ok = false;
        int64_t key = TextToInt64(DS_ChildText(v, "key"), 0, &ok);
        if (ok && key == number)
            return true;
    }
    return false;
}

bool IsProtectedUid(const TiXmlElement* element)
{
    int uid = DS_IntAttribute(element, "uid", 0);
    return uid >= kUidProtectedFirst && uid <= kUidProtectedLast;
}
}  // namespace

bool DeviceSettings::DS_CheckValue(const TiXmlElement* element, const char* text, SString& error) const
{
    const DS_SignalInfo* info = SignalInfo(element);
    if (!info)
        return true;
    if (!text)
        text = "";
    bool ok = false;
    switch (info->kind) {
    case DS_ValueKind::Integer: {
        const TiXmlElement* named = element->FirstChildElement("namedvalues");
        int64_t number = TextToInt64(text, 0, &ok);
        if (!ok) {
            error = Tr(named ? "No list item selected" : "Can't convert to numeric");
            return false;
        }
        if (named && !NamedValueKnown(named, number)) {
            error = Tr("No list item selected");
            return false;
        }
        return true;
    }
    case DS_ValueKind::Float:
        TextToDouble(text, 0.0, &ok);
        if (!ok)
            error = Tr("Can't convert to numeric");
        return ok;
    case DS_ValueKind::String: {
        const char* format = element->Attribute("format");
        return !format || !*format || FormatCheck(text, format, error);
    }
    case DS_ValueKind::Unsupported:
        break;
    }
    return true;
}

void DeviceSettings::ValueFaultShow(const TiXmlElement* element, const SString& error)
{
    MsgBox(TrArgs("Wrong value for '^0':\n'^1'", DS_Description(element), error.Text()));
}

bool DeviceSettings::CheckSetting(const TiXmlElement* element, SString* error, bool forDevice)
{
    const DS_SignalInfo* info = SignalInfo(element);
    if (!info)
        return true;
    SString fault;
    bool ok = true;
    if (!DS_Values(element)) {
        if (forDevice && IsProtectedUid(element)) {
            fault = Tr("This parameter can't be erased");
            ok = false;
        }
    } else {
        std::vector<SString> texts = DS_ValueTexts(element);
        for (int32_t i = 0; ok && i < info->valuesCount; ++i) {
            if ((size_t)i >= texts.size()) {
                fault = Tr("Not enough values");
                ok = false;
            } else {
                ok = DS_CheckValue(element, texts[i].Text(), fault);
            }
        }
    }
    if (!ok) {
        if (error)
            *error = fault;
        else
            ValueFaultShow(element, fault);
    }
    return ok;
}

bool DeviceSettings::CheckAll(bool all, bool forDevice)
{
    std::vector<TiXmlElement*> settings = all ? Scalars() : shown_;
    for (TiXmlElement* e : settings) {
        SString fault;
        if (!CheckSetting(e, &fault, forDevice)) {
            SelectGroup(DS_Gid(e), false);
            ValueFaultShow(e, fault);
            return false;
        }
    }
    return true;
}

bool DeviceSettings::DS_ValuesSet(TiXmlElement* element, const std::vector<SString>* texts, SString& error)
{
    DS_ValuesRemove(element);
    if (!SignalInfo(element) || !texts)
        return true;
    for (const SString& text : *texts) {
        if (!DS_CheckValue(element, text.Text(), error))
            return false;
        if (!DS_ValueAppend(element, text.Text())) {
            DiagNoMem("GUIApp::DS_Widgets2XML");
            return false;
        }
    }
    return true;
}

bool DeviceSettings::CommitShown(const std::function<bool(TiXmlElement*, SString&)>& take)
{
    std::vector<TiXmlElement*> settings = shown_;
    for (TiXmlElement* e : settings) {
        SString fault;
        if (!take(e, fault)) {
            SelectGroup(DS_Gid(e), true);
            ValueFaultShow(e, fault);
            return false;
        }
    }
    return true;
}
