// Message translation (gettext, domain "messages") with "^0".."^3" substitution, and the
// critical diagnostics. GUIApp::Tr / GUIApp::TrArgs / GUIApp::DiagLog forward here so that
// code without GTK (channels, Modbus, operation bodies, tests) builds the same texts.
#pragma once
#include "base/SString.h"

namespace Messages {
// Creates the translation lock (after GLib threads are usable); idempotent.
void Init();
// Frees the lock at exit.
void Done();
// Binds the text domain "messages" to the catalogue folder (res/locale) with codeset UTF-8.
void BindCatalogue(const char* localeDir);
// Untranslated program title used by DiagLog; translated at use.
void SetTitle(const char* title);
}

SString Tr(const char* msgid);
SString TrArgs(const char* msgid, const char* a0, const char* a1 = nullptr,
               const char* a2 = nullptr, const char* a3 = nullptr);
// Substitution only (no translation) of "^0".."^3" inside s, as TrArgs does after translating.
void SubstituteArgs(SString& s, const char* a0, const char* a1, const char* a2, const char* a3);

void DiagLog(const char* where, const char* message);
void DiagNoMem(const char* where);

// Text <-> number conversions (scanf "%I64i"/"%I64u"/"%lf" semantics; ok may be null).
int64_t TextToInt64(const char* text, int64_t def, bool* ok);
uint64_t TextToUInt64(const char* text, uint64_t def, bool* ok);
double TextToDouble(const char* text, double def, bool* ok);
void Int64ToText(char* buffer, size_t size, int64_t value, bool* ok);
void UInt64ToText(char* buffer, size_t size, uint64_t value, bool* ok);
void DoubleToText(char* buffer, size_t size, double value, bool* ok);
char HexDigit(unsigned value);
