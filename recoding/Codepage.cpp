#include "recoding/Codepage.h"

#include <cstddef>
#include <cstring>

namespace {

struct CodepageAlias {
    const char* name;
    int32_t id;
};

// Every name a file may declare, in capitals.
const CodepageAlias kAliases[] = {
    {"866", kCodepageCP866},
    {"CP866", kCodepageCP866},
    {"IBM866", kCodepageCP866},
    {"CSIBM866", kCodepageCP866},
    {"KOI8-R", kCodepageKOI8R},
    {"CSKOI8-R", kCodepageKOI8R},
    {"CP1251", kCodepageWindows1251},
    {"MS-CYRL", kCodepageWindows1251},
    {"WINDOWS-1251", kCodepageWindows1251},
    {"X-SWD-CYRILLIC", kCodepageXSwdCyrillic},
    {"UTF-8", kCodepageUTF8},
};

const CodepageAlias kCanonicalNames[] = {
    {"CP866", kCodepageCP866},
    {"KOI8-R", kCodepageKOI8R},
    {"WINDOWS-1251", kCodepageWindows1251},
    {"X-SWD-CYRILLIC", kCodepageXSwdCyrillic},
    {"UTF-8", kCodepageUTF8},
};

// Letters in repertoire order: 33 capitals (А Б В Г Д Е Ё Ж ... Я), then 33 small letters.
const uint8_t kLettersCP866[2 * kRepertoireLetters] = {
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0xF0, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xF1, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
};

// RFC 1489 orders the letters phonetically after Latin, so the table is irregular.
const uint8_t kLettersKOI8R[2 * kRepertoireLetters] = {
    0xE1, 0xE2, 0xF7, 0xE7, 0xE4, 0xE5, 0xB3, 0xF6, 0xFA, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
    0xF2, 0xF3, 0xF4, 0xF5, 0xE6, 0xE8, 0xE3, 0xFE, 0xFB, 0xFD, 0xFF, 0xF9, 0xF8, 0xFC, 0xE0, 0xF1,
    0xC1, 0xC2, 0xD7, 0xC7, 0xC4, 0xC5, 0xA3, 0xD6, 0xDA, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    0xD2, 0xD3, 0xD4, 0xD5, 0xC6, 0xC8, 0xC3, 0xDE, 0xDB, 0xDD, 0xDF, 0xD9, 0xD8, 0xDC, 0xC0, 0xD1,
};

const uint8_t kLettersWindows1251[2 * kRepertoireLetters] = {
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xA8, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xB8, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

// Position of Ё within the capitals (and of ё within the small letters).
const uint32_t kIoOffset = 6;
const uint32_t kUnicodeCapitalA = 0x0410;
const uint32_t kUnicodeSmallA = 0x0430;
const uint32_t kUnicodeCapitalIo = 0x0401;
const uint32_t kUnicodeSmallIo = 0x0451;
// The private scheme puts Ё and ё at these code points instead of where CP866 has them.
const uint32_t kSwdCapitalIo = 0x00F8;
const uint32_t kSwdSmallIo = 0x00B8;

CodepageSequence Single(uint8_t b)
{
    return CodepageSequence{1, {b, 0, 0}};
}

CodepageSequence Pair(uint8_t b0, uint8_t b1)
{
    return CodepageSequence{2, {b0, b1, 0}};
}

// Two-byte UTF-8 form of a code point from U+0080 to U+07FF.
CodepageSequence Utf8Pair(uint32_t cp)
{
    return Pair((uint8_t)(0xC0 | (cp >> 6)), (uint8_t)(0x80 | (cp & 0x3F)));
}

uint32_t UnicodeOfLetter(uint32_t position)
{
    bool small = position >= kRepertoireSmallFirst;
    uint32_t i = position - (small ? kRepertoireSmallFirst : kRepertoireCapitalFirst);
    if (i == kIoOffset)
        return small ? kUnicodeSmallIo : kUnicodeCapitalIo;
    if (i > kIoOffset)
        --i;
    return (small ? kUnicodeSmallA : kUnicodeCapitalA) + i;
}

uint32_t SwdCodePointOfLetter(uint32_t position)
{
    if (position == kRepertoireCapitalFirst + kIoOffset)
        return kSwdCapitalIo;
    if (position == kRepertoireSmallFirst + kIoOffset)
        return kSwdSmallIo;
    return kLettersCP866[position];
}

struct RepertoireTables {
    CodepageSequence table[kCodepageLast + 1][kRepertoireSize + 1];

    RepertoireTables()
    {
        memset(table, 0, sizeof table);
        const uint8_t* singles[] = {nullptr, kLettersCP866, kLettersKOI8R, kLettersWindows1251};
        for (uint32_t p = 0; p < 2 * kRepertoireLetters; ++p) {
            for (int32_t id = kCodepageCP866; id <= kCodepageWindows1251; ++id)
                table[id][p] = Single(singles[id][p]);
            table[kCodepageXSwdCyrillic][p] = Utf8Pair(SwdCodePointOfLetter(p));
            table[kCodepageUTF8][p] = Utf8Pair(UnicodeOfLetter(p));
        }
        table[kCodepageCP866][kRepertoireNumero] = Single(0xFC);
        table[kCodepageKOI8R][kRepertoireNumero] = Single(0xBF);
        table[kCodepageWindows1251][kRepertoireNumero] = Single(0xB9);
        table[kCodepageXSwdCyrillic][kRepertoireNumero] = Pair(0xC2, 0xB9);
        table[kCodepageUTF8][kRepertoireNumero] = CodepageSequence{3, {0xE2, 0x84, 0x96}};

        table[kCodepageCP866][kRepertoireSpare] = Single(0xFF);
        table[kCodepageKOI8R][kRepertoireSpare] = Single(0x80);
        table[kCodepageWindows1251][kRepertoireSpare] = Single(0x80);
        table[kCodepageXSwdCyrillic][kRepertoireSpare] = Pair(0xC2, 0x20);
        table[kCodepageUTF8][kRepertoireSpare] = Pair(0xD0, 0x20);

        for (int32_t id = kCodepageCP866; id <= kCodepageWindows1251; ++id)
            table[id][kRepertoireUnknown] = Single('?');
        table[kCodepageXSwdCyrillic][kRepertoireUnknown] = Pair('?', '?');
        table[kCodepageUTF8][kRepertoireUnknown] = Pair('?', '?');
    }
};

}  // namespace

int32_t CodepageFromName(const char* name)
{
    if (!name)
        return kCodepageUnknown;
    char upper[32];
    size_t n = strlen(name);
    if (n >= sizeof upper)
        return kCodepageUnknown;
    for (size_t i = 0; i <= n; ++i) {
        char c = name[i];
        upper[i] = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    }
    for (const CodepageAlias& a : kAliases)
        if (strcmp(a.name, upper) == 0)
            return a.id;
    return kCodepageUnknown;
}

const char* CodepageName(int32_t id)
{
    for (const CodepageAlias& a : kCanonicalNames)
        if (a.id == id)
            return a.name;
    return nullptr;
}

bool CodepageIsKnown(int32_t id)
{
    return id >= kCodepageFirst && id <= kCodepageLast;
}

bool CodepageIsSingleByte(int32_t id)
{
    return id >= kCodepageCP866 && id <= kCodepageWindows1251;
}

const CodepageSequence* CodepageRepertoire(int32_t id)
{
    static const RepertoireTables tables;
    return CodepageIsKnown(id) ? tables.table[id] : nullptr;
}
