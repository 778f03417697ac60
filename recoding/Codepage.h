// Code page identifiers and the 68-character Russian repertoire that every conversion goes
// through. ASCII passes through unchanged; everything else is a repertoire position.
#pragma once
#include <cstdint>

// Code page identifiers; 0 means unknown.
const int32_t kCodepageUnknown = 0;
const int32_t kCodepageCP866 = 1;
const int32_t kCodepageKOI8R = 2;
const int32_t kCodepageWindows1251 = 3;
const int32_t kCodepageXSwdCyrillic = 4;
const int32_t kCodepageUTF8 = 5;
const int32_t kCodepageFirst = kCodepageCP866;
const int32_t kCodepageLast = kCodepageUTF8;

// Repertoire positions: 0-32 capitals (Ё after Е), 33-65 small letters, then the numero
// sign and a spare position; kRepertoireUnknown stands for a character outside it.
const uint32_t kRepertoireCapitalFirst = 0;
const uint32_t kRepertoireSmallFirst = 33;
const uint32_t kRepertoireLetters = 33;
const uint32_t kRepertoireNumero = 66;
const uint32_t kRepertoireSpare = 67;
const uint32_t kRepertoireSize = 68;
const uint32_t kRepertoireUnknown = 68;

// Longest encoding of one position (the numero sign in UTF-8).
const uint32_t kCodepageMaxSequence = 3;

// The bytes that encode one repertoire position in one code page.
struct CodepageSequence {
    uint8_t length;
    uint8_t bytes[kCodepageMaxSequence];
};

// Id for a code page name, compared after turning a-z into capitals; 0 for null or unknown.
int32_t CodepageFromName(const char* name);
// Canonical name, null outside 1 to 5.
const char* CodepageName(int32_t id);
// True for the ids 1 to 5.
bool CodepageIsKnown(int32_t id);
// True for the single-byte code pages (CP866, KOI8-R, WINDOWS-1251).
bool CodepageIsSingleByte(int32_t id);
// The kRepertoireSize + 1 sequences of a code page (the last one is the unknown
// character), or null outside 1 to 5.
const CodepageSequence* CodepageRepertoire(int32_t id);
