#include "base/Messages.h"

#include <glib.h>
#include <libintl.h>

#include <cstring>
#include <mutex>

namespace {
const char kTextDomain[] = "messages";
const char kCodeset[] = "UTF-8";
// A translator writes this to translate a message to nothing.
const char kEmptyTranslation[] = "^^";

// Created by Messages::Init before any worker starts, freed after the last one ended.
GMutex* translationLock = nullptr;

// The title is set at start-up but read by DiagLog on any thread; a pthread-based mutex keeps
// this visible to the thread sanitizer, which cannot see GLib's futex mutexes.
std::mutex titleLock;
char* title = nullptr;

// Position of the first "^k" at or after from, or -1.
int64_t FindPlaceholder(const SString& s, char digit, uint32_t from)
{
    const char* text = s.Text();
    for (uint32_t p = from; p + 1 < s.Length(); ++p)
        if (text[p] == '^' && text[p + 1] == digit)
            return p;
    return -1;
}

void SubstituteOne(SString& s, char digit, const char* arg)
{
    uint32_t argLength = (uint32_t)strlen(arg);
    int64_t p = FindPlaceholder(s, digit, 0);
    while (p >= 0) {
        uint32_t at = (uint32_t)p;
        s.Delete(at, 2);
        uint32_t before = s.Length();
        s.Insert(at, arg, (int32_t)argLength);
        // When the string could not grow the placeholder is dropped and nothing is inserted.
        uint32_t next = at + (s.Length() - before);
        if (next >= s.Length())
            break;
        p = FindPlaceholder(s, digit, next);
    }
}
}  // namespace

namespace Messages {
void Init()
{
    if (translationLock)
        return;
    GMutex* lock = g_new0(GMutex, 1);
    g_mutex_init(lock);
    translationLock = lock;
}

void Done()
{
    if (translationLock) {
        g_mutex_clear(translationLock);
        g_free(translationLock);
        translationLock = nullptr;
    }
    std::lock_guard<std::mutex> hold(titleLock);
    g_free(title);
    title = nullptr;
}

void BindCatalogue(const char* localeDir)
{
    bindtextdomain(kTextDomain, localeDir);
    bind_textdomain_codeset(kTextDomain, kCodeset);
}

void SetTitle(const char* text)
{
    char* copy = g_strdup(text);
    char* old;
    {
        std::lock_guard<std::mutex> hold(titleLock);
        old = title;
        title = copy;
    }
    g_free(old);
}
}  // namespace Messages

SString Tr(const char* msgid)
{
    if (!msgid || !*msgid)
        return SString();
    GMutex* lock = translationLock;
    if (lock)
        g_mutex_lock(lock);
    const char* translated = dgettext(kTextDomain, msgid);
    SString s(translated);
    if (s == kEmptyTranslation)
        s.Clear();
    if (lock)
        g_mutex_unlock(lock);
    return s;
}

void SubstituteArgs(SString& s, const char* a0, const char* a1, const char* a2, const char* a3)
{
    const char* args[] = {a0, a1, a2, a3};
    for (int k = 0; k < 4; ++k)
        if (args[k])
            SubstituteOne(s, (char)('0' + k), args[k]);
}

SString TrArgs(const char* msgid, const char* a0, const char* a1, const char* a2, const char* a3)
{
    SString s = Tr(msgid);
    SubstituteArgs(s, a0, a1, a2, a3);
    return s;
}

void DiagLog(const char* where, const char* message)
{
    SString untranslated;
    {
        std::lock_guard<std::mutex> hold(titleLock);
        untranslated.Assign(title);
    }
    SString translatedTitle = Tr(untranslated.Text());
    if (!message)
        message = "";
    if (where && *where)
        g_log(nullptr, G_LOG_LEVEL_CRITICAL, "%s: %s: %s", translatedTitle.Text(), where, message);
    else
        g_log(nullptr, G_LOG_LEVEL_CRITICAL, "%s: %s", translatedTitle.Text(), message);
}

void DiagNoMem(const char* where)
{
    DiagLog(where, Tr("ASSERT no mem").Text());
}
