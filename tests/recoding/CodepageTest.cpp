// Code page names, the repertoire byte tables (checked against the system's iconv through
// g_convert) and the per-page codecs.
#include "recoding/Codepage.h"
#include "recoding/CodepageCodecs.h"
#include "recoding/TextRecoding.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char kCapitals[] = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ";
const char kSmalls[] = "абвгдеёжзийклмнопрстуфхцчшщъыьэюя";

// The 66 letters in repertoire order, one UTF-8 string each.
std::vector<std::string> Letters()
{
    std::vector<std::string> out;
    for (const char* s : {kCapitals, kSmalls})
        for (const char* p = s; *p; p = g_utf8_next_char(p))
            out.emplace_back(p, (size_t)(g_utf8_next_char(p) - p));
    return out;
}

std::string Convert(int32_t from, int32_t to, const std::string& text, int32_t mode = kLineBreakKeep)
{
    TextRecoding* r = TextRecodingGet(from, to, mode);
    if (!r)
        return "<no recoder>";
    uint32_t n = 0;
    char* out = TextRecodeToNew(r, text.data(), (int32_t)text.size(), &n);
    TextRecodingRelease(r);
    std::string result = out ? std::string(out, n) : "<null>";
    free(out);
    return result;
}

std::string Iconv(const std::string& utf8, const char* to)
{
    gsize n = 0;
    gchar* out = g_convert(utf8.data(), (gssize)utf8.size(), to, "UTF-8", nullptr, &n, nullptr);
    std::string result = out ? std::string(out, n) : "<iconv failed>";
    g_free(out);
    return result;
}

TEST(CodepageNames, FromNameAcceptsAliasesInAnyCase)
{
    struct Case {
        const char* name;
        int32_t id;
    };
    const Case cases[] = {
        {"866", 1}, {"cp866", 1}, {"IBM866", 1}, {"csIBM866", 1},
        {"koi8-r", 2}, {"CSKOI8-R", 2},
        {"windows-1251", 3}, {"Cp1251", 3}, {"ms-cyrl", 3}, {"WINDOWS-1251", 3},
        {"x-swd-cyrillic", 4}, {"utf-8", 5}, {"UTF-8", 5},
        {"cp-1251", 0}, {"ISO-8859-5", 0}, {"UTF8", 0}, {"", 0}, {" UTF-8", 0},
        {"WINDOWS-1251-AND-A-VERY-LONG-TAIL-THAT-GOES-ON", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CodepageFromName(c.name), c.id) << c.name;
    EXPECT_EQ(CodepageFromName(nullptr), 0);
}

TEST(CodepageNames, CanonicalNamesRoundTrip)
{
    for (int32_t id = kCodepageFirst; id <= kCodepageLast; ++id) {
        ASSERT_NE(CodepageName(id), nullptr);
        EXPECT_EQ(CodepageFromName(CodepageName(id)), id);
    }
    EXPECT_EQ(CodepageName(0), nullptr);
    EXPECT_EQ(CodepageName(6), nullptr);
    EXPECT_EQ(CodepageName(-1), nullptr);
    EXPECT_STREQ(CodepageName(4), "X-SWD-CYRILLIC");
}

// Every letter converted from UTF-8 must give the same bytes as the system's converter.
TEST(CodepageTables, LettersMatchSystemConverter)
{
    const struct {
        int32_t id;
        const char* iconvName;
    } pages[] = {{kCodepageCP866, "CP866"}, {kCodepageKOI8R, "KOI8-R"}, {kCodepageWindows1251, "WINDOWS-1251"}};
    std::vector<std::string> letters = Letters();
    ASSERT_EQ(letters.size(), 66u);
    for (const auto& page : pages) {
        for (size_t i = 0; i < letters.size(); ++i) {
            std::string expected = Iconv(letters[i], page.iconvName);
            EXPECT_EQ(Hex(Convert(kCodepageUTF8, page.id, letters[i])), Hex(expected))
                << page.iconvName << " position " << i << " " << letters[i];
        }
    }
}

// The private scheme puts each letter at the code point of its CP866 byte (Ё, ё excepted).
TEST(CodepageTables, SwdLettersFollowCP866Bytes)
{
    std::vector<std::string> letters = Letters();
    for (size_t i = 0; i < letters.size(); ++i) {
        std::string cp866 = Iconv(letters[i], "CP866");
        ASSERT_EQ(cp866.size(), 1u);
        gunichar cp = (unsigned char)cp866[0];
        if (letters[i] == "Ё")
            cp = 0xF8;
        if (letters[i] == "ё")
            cp = 0xB8;
        char expected[8];
        int n = g_unichar_to_utf8(cp, expected);
        EXPECT_EQ(Hex(Convert(kCodepageUTF8, kCodepageXSwdCyrillic, letters[i])), Hex(std::string(expected, n)))
            << "position " << i;
    }
}

TEST(CodepageTables, NumeroSpareAndUnknownPerPage)
{
    struct Row {
        int32_t id;
        const char* numero;
        const char* spare;
        const char* unknown;
    };
    const Row rows[] = {
        {kCodepageCP866, "\xFC", "\xFF", "?"},
        {kCodepageKOI8R, "\xBF", "\x80", "?"},
        {kCodepageWindows1251, "\xB9", "\x80", "?"},
        {kCodepageXSwdCyrillic, "\xC2\xB9", "\xC2\x20", "??"},
        {kCodepageUTF8, "\xE2\x84\x96", "\xD0\x20", "??"},
    };
    for (const Row& r : rows) {
        const CodepageSequence* t = CodepageRepertoire(r.id);
        ASSERT_NE(t, nullptr);
        auto bytes = [](const CodepageSequence& s) { return std::string((const char*)s.bytes, s.length); };
        EXPECT_EQ(Hex(bytes(t[kRepertoireNumero])), Hex(r.numero)) << r.id;
        EXPECT_EQ(Hex(bytes(t[kRepertoireSpare])), Hex(r.spare)) << r.id;
        EXPECT_EQ(Hex(bytes(t[kRepertoireUnknown])), Hex(r.unknown)) << r.id;
        EXPECT_EQ(Convert(kCodepageUTF8, r.id, "\xE2\x84\x96"), r.numero) << r.id;
    }
    EXPECT_EQ(CodepageRepertoire(0), nullptr);
    EXPECT_EQ(CodepageRepertoire(6), nullptr);
}

// Within one page no two positions may share a byte sequence, or a round trip would lose one.
TEST(CodepageTables, SequencesAreDistinctWithinEachPage)
{
    for (int32_t id = kCodepageFirst; id <= kCodepageLast; ++id) {
        const CodepageSequence* t = CodepageRepertoire(id);
        for (uint32_t a = 0; a < kRepertoireSize; ++a) {
            ASSERT_GE(t[a].length, 1);
            for (uint32_t b = a + 1; b < kRepertoireSize; ++b)
                EXPECT_FALSE(t[a].length == t[b].length && memcmp(t[a].bytes, t[b].bytes, t[a].length) == 0)
                    << "page " << id << " positions " << a << " and " << b;
        }
    }
}

TEST(CodepageCodecs, GetStatusRules)
{
    struct Case {
        int32_t id;
        std::string source;
        int status;
        uint32_t value;
        uint32_t used;
    };
    const Case cases[] = {
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
        {kCodepageUTF8, "\xD0\x90", kCodecCharacter, 0, 2},
        {kCodepageUTF8, "\xD1\x91", kCodecCharacter, 39, 2},
        {kCodepageUTF8, "\xD0", kCodecIncomplete, 0, 0},
        {kCodepageUTF8, "\xE2\x84\x96", kCodecCharacter, kRepertoireNumero, 3},
        {kCodepageUTF8, "\xE2\x84", kCodecIncomplete, 0, 0},
        {kCodepageUTF8, "\xE2", kCodecIncomplete, 0, 0},
        {kCodepageUTF8, "\xE2\x82\xAC", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageUTF8, "\xE2\x82", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageUTF8, "\xC3\xA9", kCodecCharacter, kRepertoireUnknown, 1},
        {kCodepageUTF8, "", kCodecIncomplete, 0, 0},
    };
    for (const Case& c : cases) {
        const TE_Codepage_Get* get = CodepageGetCodec(c.id);
        ASSERT_NE(get, nullptr);
        ASSERT_TRUE(get->IsValid());
        uint32_t used = 99;
        int status = -1;
        uint32_t value = get->Get((const uint8_t*)c.source.data(), (uint32_t)c.source.size(), used, status);
        EXPECT_EQ(status, c.status) << c.id << " " << Hex(c.source);
        EXPECT_EQ(used, c.used) << c.id << " " << Hex(c.source);
        if (c.status != kCodecIncomplete) {
            EXPECT_EQ(value, c.value) << c.id << " " << Hex(c.source);
        }
    }
    EXPECT_EQ(CodepageGetCodec(0), nullptr);
    EXPECT_EQ(CodepagePutCodec(6), nullptr);
}

TEST(CodepageCodecs, PutNeedsRoomForTheWholeSequence)
{
    struct Case {
        int32_t id;
        uint32_t value;
        uint32_t need;
    };
    const Case cases[] = {
        {kCodepageCP866, 0, 1}, {kCodepageXSwdCyrillic, 0, 2}, {kCodepageUTF8, 0, 2},
        {kCodepageUTF8, kRepertoireNumero, 3}, {kCodepageUTF8, kRepertoireUnknown, 2},
        {kCodepageXSwdCyrillic, kRepertoireUnknown, 2},
    };
    for (const Case& c : cases) {
        const TE_Codepage_Put* put = CodepagePutCodec(c.id);
        ASSERT_TRUE(put && put->IsValid());
        uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
        uint32_t written = 7;
        EXPECT_EQ(put->Put(c.value, out, c.need - 1, written), kCodecNoRoom) << c.id << "/" << c.value;
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(out[0], 0xAA) << "nothing may be written without room";
        EXPECT_EQ(put->Put(c.value, out, c.need, written), kCodecWritten);
        EXPECT_EQ(written, c.need);
        EXPECT_EQ(out[c.need], 0xAA) << "wrote past the sequence";
    }
}

}  // namespace
