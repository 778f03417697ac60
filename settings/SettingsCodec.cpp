#include "settings/SettingsCodec.h"

#include <glib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/Messages.h"
#include "operations/OperationRunner.h"
#include "settings/SettingsXml.h"

namespace {
const char* kCodePage = "WINDOWS-1251";
const char* kMsgNoValue = "No value";
const char* kMsgWrongSize = "Wrong value size";
const char* kMsgOverflow = "Assert: Overflow regCount";
const int kBitsPerByte = 8;

bool FactorApplies(const DS_SignalInfo& info)
{
    return info.factorGiven && info.factor != 1.0;
}

double FactorOrOne(const DS_SignalInfo& info)
{
    return info.factorGiven ? info.factor : 1.0;
}

bool IsByteMode(const DS_SignalInfo& info, const DS_Position& position)
{
    return info.kind == DS_ValueKind::Integer && position.byte > 0;
}

// Whether the setting's bytes at position lie inside a record of regCount registers; the
// first byte of the setting goes to *first.
bool Fits(const DS_SignalInfo& info, const DS_Position& position, int64_t regCount, int64_t* first)
{
    if (position.offset < 0 || position.count < 0 || position.offset > regCount ||
        position.count > regCount)
        return false;
    *first = 2 * position.offset;
    const int64_t room = 2 * regCount - *first;
    if (IsByteMode(info, position))
        return position.byte <= room;
    return position.count * 2 <= room;
}

// Values of 8 bytes or more are signed (the low 64 bits); shorter ones are unsigned.
int64_t BigEndianNumber(const uint8_t* bytes, int64_t size)
{
    uint64_t value = 0;
    for (int64_t i = 0; i < size; ++i)
        value = (value << kBitsPerByte) | bytes[i];
    return (int64_t)value;
}

// Rounded half away from zero, as the integer text of the result.
SString RoundedText(double value)
{
    char text[352];
    double rounded = std::round(value);
    if (rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)
        Int64ToText(text, sizeof text, (int64_t)rounded, nullptr);
    else
        snprintf(text, sizeof text, "%.0f", rounded);
    return SString(text);
}

SString IntegerText(const DS_SignalInfo& info, int64_t number)
{
    if (FactorApplies(info))
        return RoundedText((double)number * info.factor);
    char text[32];
    Int64ToText(text, sizeof text, number, nullptr);
    return SString(text);
}

SString FloatText(const DS_SignalInfo& info, int64_t number)
{
    char text[64];
    DoubleToText(text, sizeof text, (double)number * FactorOrOne(info), nullptr);
    return SString(text);
}

// Up to the first zero byte; a byte the code page leaves undefined becomes '?'.
SString StringFromDevice(const uint8_t* bytes, int64_t size)
{
    const void* zero = memchr(bytes, 0, (size_t)size);
    const gssize length = zero ? (const uint8_t*)zero - bytes : (gssize)size;
    SString text;
    gsize written = 0;
    gchar* converted = g_convert((const gchar*)bytes, length, "UTF-8", kCodePage, nullptr, &written, nullptr);
    if (converted) {
        text.Assign(converted, (int32_t)written);
        g_free(converted);
        return text;
    }
    for (gssize i = 0; i < length; ++i) {
        gchar* one = g_convert((const gchar*)bytes + i, 1, "UTF-8", kCodePage, nullptr, &written, nullptr);
        if (one)
            text.Append(one, (int32_t)written);
        else
            text.Append('?');
        g_free(one);
    }
    return text;
}

SString FormattedFromDevice(const char* format, const uint8_t* bytes, int64_t size)
{
    SString text;
    int64_t at = 0;
    for (const char* f = format; *f; ++f) {
        const char c = *f;
        if (c != 'x' && c != 'X' && c != 'u') {
            text.Append(c);
            continue;
        }
        if (at >= size)
            continue;
        char piece[8];
        snprintf(piece, sizeof piece, c == 'x' ? "%02x" : c == 'X' ? "%02X" : "%u", (unsigned)bytes[at]);
        text.Append(piece);
        ++at;
    }
    return text;
}

// False when memory ran out.
bool Decode(TiXmlElement* element, const DS_SignalInfo& info, const uint8_t* first)
{
    const int64_t size = info.r.count * 2 / info.valuesCount;
    const char* format = element->Attribute("format");
    for (int32_t i = 0; i < info.valuesCount; ++i) {
        SString text;
        const uint8_t* bytes = first + (IsByteMode(info, info.r) ? 0 : (int64_t)i * size);
        if (IsByteMode(info, info.r)) {
            const uint8_t byte = first[info.r.byte - 1];
            if (!info.isArray)
                text = IntegerText(info, byte);
            else
                text.Assign(i < kBitsPerByte && (byte >> i) & 1 ? "1" : "0");
        } else if (info.kind == DS_ValueKind::Integer) {
            text = IntegerText(info, BigEndianNumber(bytes, size));
        } else if (info.kind == DS_ValueKind::Float) {
            text = FloatText(info, BigEndianNumber(bytes, size));
        } else if (format && *format) {
            text = FormattedFromDevice(format, bytes, size);
        } else {
            text = StringFromDevice(bytes, size);
        }
        if (!DS_ValueAppend(element, text.Text()))
            return false;
    }
    return true;
}

// ------------------------------------------------------------------------------- encoding

int64_t RoundToInt64(double value)
{
    double rounded = std::round(value);
    if (std::isnan(rounded))
        return 0;
    if (rounded >= 9223372036854775807.0)
        return INT64_MAX;
    if (rounded <= -9223372036854775808.0)
        return INT64_MIN;
    return (int64_t)rounded;
}

int64_t NumberToDevice(const DS_SignalInfo& info, const char* text)
{
    if (info.kind == DS_ValueKind::Float)
        return RoundToInt64(TextToDouble(text, 0.0, nullptr) / FactorOrOne(info));
    int64_t number = TextToInt64(text, 0, nullptr);
    if (FactorApplies(info))
        number = RoundToInt64((double)number / info.factor);
    return number;
}

void StringToDevice(const char* text, uint8_t* out, int64_t size)
{
    memset(out, 0, (size_t)size);
    gsize written = 0;
    gchar* converted = g_convert(text, -1, kCodePage, "UTF-8", nullptr, &written, nullptr);
    if (!converted)
        return;
    memcpy(out, converted, (size_t)((int64_t)written < size ? (int64_t)written : size));
    g_free(converted);
}

// One character further, never past the end of the text.
const char* NextCharacter(const char* p)
{
    if (!*p)
        return p;
    ++p;
    while ((*p & 0xC0) == 0x80)
        ++p;
    return p;
}

void FormattedToDevice(const char* format, const char* text, uint8_t* out, int64_t size)
{
    int64_t at = 0;
    const char* p = text;
    for (const char* f = format; *f && at < size;) {
        const char c = *f;
        if (c != 'x' && c != 'X' && c != 'u') {
            p = NextCharacter(p);
            f = NextCharacter(f);
            continue;
        }
        ++f;
        char* end = nullptr;
        const unsigned long number = strtoul(p, &end, c == 'u' ? 10 : 16);
        out[at++] = (uint8_t)number;
        if (end)
            p = end;
    }
}

bool StoreBigEndian(int64_t number, uint8_t* out, int64_t size)
{
    if (size != 1 && size != 2 && size != 4 && size != 8)
        return false;
    for (int64_t i = size - 1; i >= 0; --i) {
        out[i] = (uint8_t)number;
        number = (int64_t)((uint64_t)number >> kBitsPerByte);
    }
    return true;
}

void Log(OperationRunner* log, const char* msgid)
{
    if (log)
        log->LogError(msgid);
}

bool Encode(const TiXmlElement* element, const DS_SignalInfo& info, uint8_t* first, OperationRunner* log)
{
    const int64_t size = info.w.count * 2 / info.valuesCount;
    const char* format = element->Attribute("format");
    const TiXmlElement* values = DS_Values(element);
    const TiXmlElement* value = values ? values->FirstChildElement("value") : nullptr;
    for (int32_t i = 0; i < info.valuesCount; ++i) {
        if (!value) {
            Log(log, kMsgNoValue);
            return false;
        }
        const char* text = DS_NodeText(value) ? DS_NodeText(value) : "";
        uint8_t* bytes = first + (IsByteMode(info, info.w) ? 0 : (int64_t)i * size);
        if (IsByteMode(info, info.w)) {
            uint8_t& byte = first[info.w.byte - 1];
            if (!info.isArray) {
                byte = (uint8_t)NumberToDevice(info, text);
            } else if (i < kBitsPerByte) {
                const uint8_t bit = (uint8_t)(1u << i);
                byte = strtoll(text, nullptr, 10) != 0 ? (uint8_t)(byte | bit) : (uint8_t)(byte & ~bit);
            }
        } else if (info.kind != DS_ValueKind::String) {
            if (!StoreBigEndian(NumberToDevice(info, text), bytes, size)) {
                Log(log, kMsgWrongSize);
                return false;
            }
        } else if (format && *format) {
            FormattedToDevice(format, text, bytes, size);
        } else {
            StringToDevice(text, bytes, size);
        }
        value = value->NextSiblingElement("value");
    }
    return true;
}
}  // namespace

bool DS_DevAnsw2XML_th(TiXmlElement* element, int32_t regCount, const uint8_t* data)
{
    if (!element)
        return true;
    try {
        DS_ValuesRemove(element);
        if (!data || regCount <= 0 || data[0] != 0 || data[1] != 1)
            return true;
        const DS_SignalInfo* info = SignalInfo(element);
        if (!info)
            return true;
        int64_t first = 0;
        if (info->valuesCount < 1 || !Fits(*info, info->r, regCount, &first))
            return false;
        if (Decode(element, *info, data + first))
            return true;
    } catch (const std::bad_alloc&) {
    }
    DiagNoMem("DS_DevAnsw2XML_th");
    return false;
}

bool DS_XML2DevData(TiXmlElement* element, int32_t regCount, uint8_t* buffer, OperationRunner* log)
{
    const DS_SignalInfo* info = SignalInfo(element);
    if (regCount < 1 || !buffer || !info)
        return true;
    int64_t first = 0;
    if (info->valuesCount < 1 || !Fits(*info, info->w, regCount, &first)) {
        Log(log, kMsgOverflow);
        return false;
    }
    return Encode(element, *info, buffer + first, log);
}
