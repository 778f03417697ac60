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
    // A talk log makes thousands of lines a second: the clock text is made once per second
    // (and per thread, as both the worker and the GUI thread write lines).
    thread_local time_t shownStamp = 0;
    thread_local char shown[16];
    SString prefix;
    if (stamp != 0) {
        if (stamp != shownStamp) {
            struct tm local;
            localtime_r(&stamp, &local);
            strftime(shown, sizeof shown, "%H:%M:%S", &local);
            shownStamp = stamp;
        }
        prefix.Append(shown);
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
