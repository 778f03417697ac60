// Code page names and the repertoire byte tables, checked against the system's iconv through
// g_convert (the recoder tests prove the tables round-trip; this proves their bytes).
#include "recoding/Codepage.h"
#include "recoding/TextRecoding.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>

namespace {

std::string ToPage(int32_t to, const std::string& utf8)
{
    TextRecoding* r = TextRecodingGet(kCodepageUTF8, to, kLineBreakKeep);
    uint32_t n = 0;
    char* out = TextRecodeToNew(r, utf8.data(), (int32_t)utf8.size(), &n);
    TextRecodingRelease(r);
    std::string result(out, n);
    free(out);
    return result;
}

TEST(Codepage, NamesInAnyCaseAndCanonicalNames)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"IBM866", 1}, {"csKOI8-r", 2}, {"ms-cyrl", 3}, {"Cp1251", 3}, {"x-swd-cyrillic", 4}, {"utf-8", 5},
        {"UTF8", 0},   {"", 0},         {" UTF-8", 0},  {"WINDOWS-1251-AND-A-VERY-LONG-TAIL-THAT-GOES-ON", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodepageFromName(c.first), c.second) << c.first;
    EXPECT_EQ(CodepageFromName(nullptr), 0);
    for (int32_t id = kCodepageFirst; id <= kCodepageLast; ++id)
        EXPECT_EQ(CodepageFromName(CodepageName(id)), id);
    EXPECT_TRUE(!CodepageName(0) && !CodepageName(6) && !CodepageRepertoire(6));
}

// Every letter gives the system converter's bytes; the private scheme puts each letter at the
// code point of its CP866 byte (Ё and ё excepted), encoded as in UTF-8.
TEST(Codepage, LettersMatchTheSystemConverter)
{
    const char* letters = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя";
    int count = 0;
    for (const char* p = letters; *p; p = g_utf8_next_char(p), ++count) {
        std::string letter(p, (size_t)(g_utf8_next_char(p) - p));
        for (const char* page : {"CP866", "KOI8-R", "WINDOWS-1251"}) {
            gsize n = 0;
            gchar* system = g_convert(letter.data(), -1, page, "UTF-8", nullptr, &n, nullptr);
            ASSERT_TRUE(system);
            EXPECT_EQ(ToPage(CodepageFromName(page), letter), std::string(system, n)) << page << letter;
            gunichar swd = letter == "Ё" ? 0xF8 : letter == "ё" ? 0xB8 : (uint8_t)system[0];
            char expected[8];
            std::string swdBytes(expected, (size_t)g_unichar_to_utf8(swd, expected));
            EXPECT_TRUE(page[0] != 'C' || ToPage(kCodepageXSwdCyrillic, letter) == swdBytes) << letter;
            g_free(system);
        }
    }
    EXPECT_EQ(count, 66);
}

// The numero sign, and the spare position that stands for the no-break space, have no
// system converter to compare with.
TEST(Codepage, NumeroAndNoBreakSpace)
{
    const std::tuple<int32_t, const char*, const char*> rows[] = {
        {kCodepageCP866, "\xFC", "\xFF"},          {kCodepageKOI8R, "\xBF", "\x80"},
        {kCodepageWindows1251, "\xB9", "\x80"},    {kCodepageXSwdCyrillic, "\xC2\xB9", "\xC2\x20"},
        {kCodepageUTF8, "\xE2\x84\x96", "\xD0\x20"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ToPage(std::get<0>(r), "\xE2\x84\x96"), std::get<1>(r)) << std::get<0>(r);
        EXPECT_STREQ(TextNoBreakSpace(std::get<0>(r)).Text(), std::get<2>(r)) << std::get<0>(r);
    }
    EXPECT_TRUE(TextNoBreakSpace(0).IsEmpty());
}

}  // namespace
