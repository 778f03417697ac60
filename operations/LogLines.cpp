#include "operations/LogLines.h"

#include <cstring>

#include "base/LogTypes.h"

namespace {
void RemoveAll(SString& s, const char* what)
{
    const uint32_t n = (uint32_t)strlen(what);
    for (const char* at = strstr(s.Text(), what); at; at = strstr(s.Text(), what))
        s.Delete((uint32_t)(at - s.Text()), n);
}
}  // namespace

SString LogTextClean(const SString& text, uint32_t mode)
{
    SString s(text);
    if (mode & kLogRaw)
        return s;
    while (s.Length() > 0 && (s.Text()[s.Length() - 1] == '\r' || s.Text()[s.Length() - 1] == '\n'))
        s.Delete(s.Length() - 1, 1);
    RemoveAll(s, "\r\n");
    RemoveAll(s, "\r");
    RemoveAll(s, "\n");
    return s;
}

SString LogPrefix(time_t stamp, int depth)
{
    SString prefix;
    if (stamp != 0) {
        struct tm local;
        char text[16];
        localtime_r(&stamp, &local);
        strftime(text, sizeof text, "%H:%M:%S", &local);
        prefix.Append(text);
        prefix.Append("  ");
    }
    for (int i = 0; i < depth * kLogIndentBlanks; ++i)
        prefix.Append(' ');
    return prefix;
}

bool LogModeEndsLine(uint32_t mode)
{
    uint32_t line = mode & kLogModeMask;
    return line == LogModeLine || line == LogModeClose;
}

bool LogModeHasPrefix(uint32_t mode)
{
    uint32_t line = mode & kLogModeMask;
    return line == LogModeLine || line == LogModeOpen;
}
