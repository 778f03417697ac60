#include "settings/SettingsXml.h"

#include <cstring>
#include <new>

namespace {
const char kValues[] = "values";
const char kValue[] = "value";
}  // namespace

const char* DS_NodeText(const TiXmlElement* element)
{
    if (!element)
        return nullptr;
    for (const TiXmlNode* n = element->FirstChild(); n; n = n->NextSibling())
        if (const TiXmlText* text = n->ToText())
            return text->Value();
    return nullptr;
}

const char* DS_ChildText(const TiXmlElement* element, const char* child)
{
    return element ? DS_NodeText(element->FirstChildElement(child)) : nullptr;
}

int DS_IntAttribute(const TiXmlElement* element, const char* name, int def)
{
    int value = def;
    if (!element || element->QueryIntAttribute(name, &value) != TIXML_SUCCESS)
        return def;
    return value;
}

const char* DS_Description(const TiXmlElement* element)
{
    const char* text = DS_ChildText(element, "description");
    return text ? text : "";
}

TiXmlElement* DS_Values(TiXmlElement* element)
{
    return element ? element->FirstChildElement(kValues) : nullptr;
}

const TiXmlElement* DS_Values(const TiXmlElement* element)
{
    return element ? element->FirstChildElement(kValues) : nullptr;
}

void DS_ValuesRemove(TiXmlElement* element)
{
    while (TiXmlElement* values = DS_Values(element))
        element->RemoveChild(values);
}

bool DS_ValueAppend(TiXmlElement* element, const char* text)
{
    if (!element)
        return false;
    TiXmlElement* values = DS_Values(element);
    if (!values) {
        values = new (std::nothrow) TiXmlElement(kValues);
        if (!values)
            return false;
        element->LinkEndChild(values);
    }
    TiXmlElement* value = new (std::nothrow) TiXmlElement(kValue);
    if (!value)
        return false;
    TiXmlText* cdata = new (std::nothrow) TiXmlText(text ? text : "");
    if (!cdata) {
        delete value;
        return false;
    }
    cdata->SetCDATA(true);
    value->LinkEndChild(cdata);
    values->LinkEndChild(value);
    return true;
}

std::vector<SString> DS_ValueTexts(const TiXmlElement* element)
{
    std::vector<SString> texts;
    const TiXmlElement* values = DS_Values(element);
    for (const TiXmlElement* v = values ? values->FirstChildElement(kValue) : nullptr; v;
         v = v->NextSiblingElement(kValue)) {
        const char* text = DS_NodeText(v);
        texts.emplace_back(text ? text : "");
    }
    return texts;
}

TiXmlElement* DS_NextScalar(TiXmlElement* element)
{
    return element ? element->NextSiblingElement("scalar") : nullptr;
}

TiXmlElement* DS_Sygnals(TiXmlNode* document)
{
    TiXmlElement* device = document ? document->FirstChildElement("device") : nullptr;
    return device ? device->FirstChildElement("sygnals") : nullptr;
}

std::vector<TiXmlElement*> DS_Scalars(TiXmlNode* document)
{
    std::vector<TiXmlElement*> scalars;
    TiXmlElement* sygnals = DS_Sygnals(document);
    for (TiXmlElement* e = sygnals ? sygnals->FirstChildElement("scalar") : nullptr; e;
         e = DS_NextScalar(e))
        scalars.push_back(e);
    return scalars;
}
