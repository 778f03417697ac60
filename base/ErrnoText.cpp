#include <glib.h>

#include <cstring>

#include "base/FileUtil.h"

namespace {
GMutex* errnoTextLock = nullptr;

// The GNU strerror_r may return a static text instead of filling the buffer.
void CopyErrorText(const char* text, char* buffer, size_t size)
{
    if (text && text != buffer)
        g_strlcpy(buffer, text, size);
}

// The XSI variant fills the buffer itself and returns a status.
[[maybe_unused]] void CopyErrorText(int, char*, size_t) {}
}  // namespace

void ErrnoTextInit()
{
    if (errnoTextLock)
        return;
    GMutex* lock = g_new0(GMutex, 1);
    g_mutex_init(lock);
    errnoTextLock = lock;
}

void ErrnoTextDone()
{
    if (!errnoTextLock)
        return;
    g_mutex_clear(errnoTextLock);
    g_free(errnoTextLock);
    errnoTextLock = nullptr;
}

const char* ErrnoText(int number, char* buffer, size_t size)
{
    GMutex* lock = errnoTextLock;
    if (!buffer || size == 0 || !lock)
        return "";
    buffer[0] = '\0';
    g_mutex_lock(lock);
    CopyErrorText(strerror_r(number, buffer, size), buffer, size);
    g_mutex_unlock(lock);
    return buffer;
}
