// Small readers and writers of the description document's elements, shared by the model, the
// codec, the editor and pelta-cli so that all of them read a setting the same way.
#pragma once
#include <cstdint>
#include <vector>

#include <tinyxml.h>

#include "base/SString.h"

// Text of the first text node (CDATA included) of the element; null when there is none.
const char* DS_NodeText(const TiXmlElement* element);
// DS_NodeText of the first child element of that name; null when no such child.
const char* DS_ChildText(const TiXmlElement* element, const char* child);
// Integer attribute read as the XML library reads one (decimal); def when absent or not a number.
int DS_IntAttribute(const TiXmlElement* element, const char* name, int def);
// The group id of a "group" or "scalar": -1 when absent.
inline int DS_Gid(const TiXmlElement* element) { return DS_IntAttribute(element, "gid", -1); }
// The "description" text, or the empty text.
const char* DS_Description(const TiXmlElement* element);

// The "values" child, or null (the setting has no value).
TiXmlElement* DS_Values(TiXmlElement* element);
const TiXmlElement* DS_Values(const TiXmlElement* element);
// Removes "values" (the setting becomes not available).
void DS_ValuesRemove(TiXmlElement* element);
// Appends one "value" holding text as a CDATA section, creating "values" as the last child
// on first use; false when memory ran out.
bool DS_ValueAppend(TiXmlElement* element, const char* text);
// The texts of the "value" children in order (a value without text gives the empty text).
std::vector<SString> DS_ValueTexts(const TiXmlElement* element);

// The next "scalar" sibling after element, or null.
TiXmlElement* DS_NextScalar(TiXmlElement* element);
// device/sygnals, or null.
TiXmlElement* DS_Sygnals(TiXmlNode* document);
// Every "scalar" directly under device/sygnals, in document order.
std::vector<TiXmlElement*> DS_Scalars(TiXmlNode* document);
