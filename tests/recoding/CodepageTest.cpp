// Code page names, the repertoire byte tables (checked against the system's iconv through
// g_convert) and the per-page codecs.
#include "recoding/Codepage.h"
#include "recoding/CodepageCodecs.h"
#include "recoding/TextRecoding.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>
#include <cstring>

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
    EXPECT_EQ(CodepageName(0), nullptr);
    EXPECT_EQ(CodepageName(6), nullptr);
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
            EXPECT_EQ(Hex(ToPage(CodepageFromName(page), letter)), Hex(std::string(system, n))) << page << letter;
            gunichar swd = letter == "Ё" ? 0xF8 : letter == "ё" ? 0xB8 : (uint8_t)system[0];
            char expected[8];
            if (page[0] == 'C') {
                std::string swdBytes(expected, (size_t)g_unichar_to_utf8(swd, expected));
                EXPECT_EQ(Hex(ToPage(kCodepageXSwdCyrillic, letter)), Hex(swdBytes)) << letter;
            }
            g_free(system);
        }
    }
    EXPECT_EQ(count, 66);
}

TEST(Codepage, NumeroSpareAndUnknownAreDistinctSequences)
{
    const struct {
        int32_t id;
        const char *numero, *spare, *unknown, *noBreakSpace;
    } rows[] = {
        {kCodepageCP866, "\xFC", "\xFF", "?", "\xFF"},
        {kCodepageKOI8R, "\xBF", "\x80", "?", "\x80"},
        {kCodepageWindows1251, "\xB9", "\x80", "?", "\x80"},
        {kCodepageXSwdCyrillic, "\xC2\xB9", "\xC2\x20", "??", "\xC2\x20"},
        {kCodepageUTF8, "\xE2\x84\x96", "\xD0\x20", "??", "\xD0\x20"},
    };
    auto bytes = [](const CodepageSequence& s) { return std::string((const char*)s.bytes, s.length); };
    for (const auto& r : rows) {
        const CodepageSequence* t = CodepageRepertoire(r.id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(Hex(bytes(t[kRepertoireNumero])), Hex(r.numero)) << r.id;
        EXPECT_EQ(Hex(bytes(t[kRepertoireSpare])), Hex(r.spare)) << r.id;
        EXPECT_EQ(Hex(bytes(t[kRepertoireUnknown])), Hex(r.unknown)) << r.id;
        EXPECT_EQ(Hex(TextNoBreakSpace(r.id).Text()), Hex(r.noBreakSpace)) << r.id;
        EXPECT_EQ(Hex(ToPage(r.id, "\xE2\x84\x96")), Hex(r.numero)) << r.id;
        // No two positions may share a sequence, or a round trip would lose one.
        for (uint32_t a = 0; a < kRepertoireSize; ++a)
            for (uint32_t b = a + 1; b < kRepertoireSize; ++b)
                EXPECT_NE(bytes(t[a]), bytes(t[b])) << "page " << r.id << " positions " << a << " and " << b;
    }
    EXPECT_EQ(CodepageRepertoire(6), nullptr);
    EXPECT_TRUE(TextNoBreakSpace(0).IsEmpty());
}

TEST(Codepage, GetStatusRules)
{
    struct Case {
        int32_t id;
        std::string source;
        int status;
        uint32_t value, used;
    } const cases[] = {
        {kCodepageCP866, "A", kCodecAscii, 'A', 1},
        {kCodepageCP866, "\xF0", kCodecCharacter, 6, 1},
        {kCodepageCP866, "\xB0", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageWindows1251, "\xB8", kCodecCharacter, 39, 1},
        {kCodepageKOI8R, "\xB3", kCodecCharacter, 6, 1},
        {kCodepageXSwdCyrillic, "\xC2\x80", kCodecCharacter, 0, 2},
        {kCodepageXSwdCyrillic, "\xC3\xB8", kCodecCharacter, 6, 2},
        {kCodepageXSwdCyrillic, "\xC2\x41", kCodecCharacter, kRepertoireUnknown, 2},
        {kCodepageXSwdCyrillic, "\xC2", kCodecIncomplete, 0, 0},
        {kCodepageXSwdCyrillic, "\xD0\x90", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageXSwdCyrillic, "\x80", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageUTF8, "\xD1\x91", kCodecCharacter, 39, 2},
        {kCodepageUTF8, "\xD0", kCodecIncomplete, 0, 0},
        {kCodepageUTF8, "\xE2\x84\x96", kCodecCharacter, kRepertoireNumero, 3},
        {kCodepageUTF8, "\xE2\x84", kCodecIncomplete, 0, 0},
        {kCodepageUTF8, "\xE2", kCodecIncomplete, 0, 0},
        {kCodepageUTF8, "\xE2\x82\xAC", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageUTF8, "\xC3\xA9", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageUTF8, "", kCodecIncomplete, 0, 0},
    };
    for (const Case& c : cases) {
        const TE_Codepage_Get* get = CodepageGetCodec(c.id);
        ASSERT_TRUE(get && get->IsValid());
        uint32_t used = 99;
        int status = -1;
        uint32_t value = get->Get((const uint8_t*)c.source.data(), (uint32_t)c.source.size(), used, status);
        EXPECT_EQ(status, c.status) << c.id << " " << Hex(c.source);
        EXPECT_EQ(used, c.used) << c.id << " " << Hex(c.source);
        EXPECT_TRUE(c.status == kCodecIncomplete || value == c.value) << c.id << " " << Hex(c.source) << ": " << value;
    }
    EXPECT_EQ(CodepageGetCodec(0), nullptr);
    EXPECT_EQ(CodepagePutCodec(6), nullptr);
}

TEST(Codepage, PutNeedsRoomForTheWholeSequence)
{
    const std::pair<int32_t, uint32_t> cases[] = {{kCodepageCP866, 0}, {kCodepageXSwdCyrillic, 0},
                                                  {kCodepageUTF8, kRepertoireNumero}, {kCodepageUTF8, kRepertoireUnknown}};
    for (const auto& c : cases) {
        const TE_Codepage_Put* put = CodepagePutCodec(c.first);
        ASSERT_TRUE(put && put->IsValid());
        uint32_t need = CodepageRepertoire(c.first)[c.second].length, written = 7;
        uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(put->Put(c.second, out, need - 1, written), kCodecNoRoom) << c.first << "/" << c.second;
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(out[0], 0xAA) << "nothing may be written without room";
        EXPECT_EQ(put->Put(c.second, out, need, written), kCodecWritten);
        EXPECT_EQ(written, need);
        EXPECT_EQ(out[need], 0xAA) << "wrote past the sequence";
    }
}

}  // namespace
