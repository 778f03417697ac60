// Number <-> text conversions of the settings editor and the hex dumps. Parsing follows the
// scanf integer rules (sign, 0x for hex, leading 0 for octal) and is independent of the locale.
#include "base/Messages.h"

#include <glib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
void SetFlag(bool* ok, bool value)
{
    if (ok)
        *ok = value;
}

// Parses with the given strto* function; the flag tells whether any character was consumed.
template <typename T, typename Parse>
T ParseNumber(const char* text, T def, bool* ok, Parse parse)
{
    SetFlag(ok, false);
    if (!text || !*text)
        return def;
    char* end = nullptr;
    T value = parse(text, &end);
    if (end == text)
        return def;
    SetFlag(ok, true);
    return value;
}

bool PrepareBuffer(char* buffer, size_t size, bool* ok)
{
    SetFlag(ok, false);
    if (!buffer || size == 0)
        return false;
    buffer[0] = '\0';
    return true;
}
}  // namespace

int64_t TextToInt64(const char* text, int64_t def, bool* ok)
{
    return ParseNumber<int64_t>(text, def, ok, [](const char* t, char** end) {
        return (int64_t)strtoll(t, end, 0);
    });
}

uint64_t TextToUInt64(const char* text, uint64_t def, bool* ok)
{
    return ParseNumber<uint64_t>(text, def, ok, [](const char* t, char** end) {
        return (uint64_t)strtoull(t, end, 0);
    });
}

double TextToDouble(const char* text, double def, bool* ok)
{
    return ParseNumber<double>(text, def, ok, [](const char* t, char** end) {
        return g_ascii_strtod(t, end);
    });
}

void Int64ToText(char* buffer, size_t size, int64_t value, bool* ok)
{
    if (PrepareBuffer(buffer, size, ok))
        SetFlag(ok, snprintf(buffer, size, "%lld", (long long)value) > 0);
}

void UInt64ToText(char* buffer, size_t size, uint64_t value, bool* ok)
{
    if (PrepareBuffer(buffer, size, ok))
        SetFlag(ok, snprintf(buffer, size, "%llu", (unsigned long long)value) > 0);
}

void DoubleToText(char* buffer, size_t size, double value, bool* ok)
{
    if (!PrepareBuffer(buffer, size, ok))
        return;
    if (std::isnan(value)) {
        SetFlag(ok, snprintf(buffer, size, "%s", "nan") > 0);
        return;
    }
    // The decimal point stays "." whatever the numeric locale is. Printed whole first, so that
    // the flag tells what the printer made, as for the integers, also when the buffer cuts it.
    char whole[G_ASCII_DTOSTR_BUF_SIZE];
    g_ascii_formatd(whole, sizeof whole, "%g", value);
    SetFlag(ok, snprintf(buffer, size, "%s", whole) > 0);
}

char HexDigit(unsigned value)
{
    static const char kDigits[] = "0123456789ABCDEF";
    return value < 16 ? kDigits[value] : '?';
}
