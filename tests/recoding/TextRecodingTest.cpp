#include "recoding/Codepage.h"
#include "recoding/TextRecoding.h"
#include "tests/base/TempDir.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace {

std::string Convert(int32_t from, int32_t to, const std::string& text, int32_t mode = kLineBreakKeep)
{
    TextRecoding* r = TextRecodingGet(from, to, mode);
    uint32_t n = 0;
    char* out = TextRecodeToNew(r, text.data(), (int32_t)text.size(), &n);
    TextRecodingRelease(r);
    std::string result = out ? std::string(out, n) : "<null>";
    free(out);
    return result;
}

TEST(Codepage, NamesInAnyCaseAndLettersAsTheSystemConverterMakesThem)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"IBM866", 1}, {"csKOI8-r", 2}, {"ms-cyrl", 3}, {"Cp1251", 3}, {"x-swd-cyrillic", 4}, {"utf-8", 5},
        {"UTF8", 0},   {"", 0},         {" UTF-8", 0},  {"WINDOWS-1251-AND-A-VERY-LONG-TAIL-THAT-GOES-ON", 0},
        {"WINDOWS-1251-AND-A-TAIL-OF-32-CH", 0},  // one more than the longest the name buffer takes
        {nullptr, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodepageFromName(c.first), c.second) << c.first;
    for (int32_t id = kCodepageFirst; id <= kCodepageLast; ++id)
        EXPECT_EQ(CodepageFromName(CodepageName(id)), id);
    EXPECT_TRUE(!CodepageName(0) && !CodepageName(6) && !CodepageRepertoire(6));

    // The private scheme puts each letter at the code point of its CP866 byte (Ё and ё excepted),
    // encoded as in UTF-8.
    const std::string letters = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя";
    std::string swd;
    for (const char* page : {"WINDOWS-1251", "KOI8-R", "CP866"}) {
        gsize n = 0;
        gchar* system = g_convert(letters.data(), -1, page, "UTF-8", nullptr, &n, nullptr);
        ASSERT_TRUE(system);
        EXPECT_EQ(Convert(kCodepageUTF8, CodepageFromName(page), letters), std::string(system, n)) << page;
        for (gsize i = 0; i < n && page[0] == 'C'; ++i) {
            const uint8_t b = (uint8_t)system[i];
            char bytes[8];
            swd.append(bytes, (size_t)g_unichar_to_utf8(b == 0xF0 ? 0xF8 : b == 0xF1 ? 0xB8 : b, bytes));
        }
        g_free(system);
    }
    EXPECT_EQ(Convert(kCodepageUTF8, kCodepageXSwdCyrillic, letters), swd);
}

// Every pair of pages (0: none) takes the repertoire and seeded random bytes: under the sanitizers
// nothing reads or writes out of bounds; no NUL out, the terminator in place, at most 3 bytes per byte.
TEST(TextRecoding, EveryPairRoundTripsTheRepertoireAndTakesAnyBytes)
{
    const std::string text = "ascii 123 <&> АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя"
                             "\xE2\x84\x96\xD0\x20 end";
    static const char kSpecial[] = "\n\r\xD0\xD1\xE2\x84\x96\xC2\xC3\xFF\x80";
    GRand* rand = g_rand_new_with_seed(1251);
    std::vector<std::string> inputs(300);
    for (std::string& input : inputs)
        for (int32_t n = g_rand_int_range(rand, 0, 160); n > 0; --n)
            input += g_rand_boolean(rand) ? kSpecial[g_rand_int_range(rand, 0, (gint32)sizeof kSpecial - 1)]
                                          : (char)g_rand_int_range(rand, 1, 256);
    for (int32_t from = 0; from <= kCodepageLast; ++from) {
        std::string inFrom = Convert(kCodepageUTF8, from, text);
        ASSERT_EQ(Convert(from, kCodepageUTF8, inFrom), text) << "page " << from;
        for (int32_t to = 0; to <= kCodepageLast; ++to) {
            const bool same = !from || !to || Convert(from, to, inFrom) == Convert(kCodepageUTF8, to, text);
            EXPECT_TRUE(same) << from << "->" << to;
            for (const std::string& input : inputs) {
                TextRecoding* r = TextRecodingGet(from, to, g_rand_int_range(rand, 0, kLineBreakModes));
                uint32_t n = 0;
                char* out = TextRecodeToNew(r, input.data(), (int32_t)input.size(), &n);
                ASSERT_TRUE(strlen(out) == n && n <= 3 * input.size()) << from << "->" << to;
                free(out);
                TextRecodingRelease(r);
            }
        }
    }
    g_rand_free(rand);
    std::string binary("\x00\x80\xFF\xD0", 4);
    EXPECT_EQ(Convert(kCodepageUTF8, 9, binary), binary) << "unknown pages copy bytes unchanged";
}

TEST(TextRecoding, UnknownCharactersBecomeQuestionMarksPerByte)
{
    struct Case {
        int32_t from, to;
        const char *source, *expected;
    } const cases[] = {
        {kCodepageUTF8, kCodepageCP866, "\xC3\xA9", "??"}, {kCodepageUTF8, kCodepageXSwdCyrillic, "\xC3\xA9", "????"},
        {kCodepageUTF8, kCodepageWindows1251, "a\xE2\x82\xAC" "b", "a???b"},
        {kCodepageUTF8, kCodepageCP866, "\xFF\xFE", "??"}, {kCodepageWindows1251, kCodepageCP866, "\x98", "?"},
        {kCodepageXSwdCyrillic, kCodepageUTF8, "\xC2\x41", "??"}, {kCodepageCP866, kCodepageKOI8R, "\xB0\x80", "?\xE1"},
        // A lone byte from 0x80 up is no ASCII, and no lead byte takes a byte after it.
        {kCodepageXSwdCyrillic, kCodepageUTF8, "\x80\xD0\x90", "??????"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Convert(c.from, c.to, c.source), c.expected) << c.from << "->" << c.to;
}

// A cut sequence at the end stays for the next block; output stops before a character (or CR LF) that does not fit.
TEST(TextRecoding, RecodeStopsAtACutSequenceOrAFullDestination)
{
    struct Case {
        int32_t from, to, mode;
        std::string source;
        uint32_t room, sourceLeft, roomLeft;
    } const cases[] = {
        {kCodepageUTF8, kCodepageWindows1251, kLineBreakKeep, "\xD0\x90\xD0", 16, 1, 15},
        {kCodepageUTF8, kCodepageWindows1251, kLineBreakKeep, "x\xE2\x84", 16, 2, 15},
        {kCodepageXSwdCyrillic, kCodepageWindows1251, kLineBreakKeep, "\xC2\x80\xC3", 16, 1, 15},
        {kCodepageWindows1251, kCodepageUTF8, kLineBreakKeep, "\xC0\xC1\xC2", 5, 1, 1},
        {kCodepageUTF8, kCodepageCP866, kLineBreakCRLF, "x\n", 2, 1, 1},
    };
    for (const Case& c : cases) {
        TextRecoding* r = TextRecodingGet(c.from, c.to, c.mode);
        char out[16];
        char* dst = out;
        uint32_t room = c.room, available = (uint32_t)c.source.size();
        const char* src = c.source.data();
        r->Recode(dst, room, src, available);
        const size_t taken = c.source.size() - c.sourceLeft, made = c.room - c.roomLeft;
        EXPECT_EQ((std::vector<size_t>{available, (size_t)(src - c.source.data()), room, (size_t)(dst - out)}),
                  (std::vector<size_t>{c.sourceLeft, taken, c.roomLeft, made})) << c.source;
        TextRecodingRelease(r);
    }
}

TEST(TextRecoding, LineBreakModes)
{
    const char* source = "a\nb\r\nc\rd\n\ne";
    const char* expected[] = {"a\nb\r\nc\rd\n\ne", "a\rb\rc\rd\r\re", "a\nb\nc\nd\n\ne", "a\r\nb\r\nc\r\nd\r\n\r\ne"};
    // Single-byte, any and self recoders share the rule.
    const int32_t pairs[][2] = {{kCodepageCP866, kCodepageWindows1251}, {kCodepageUTF8, kCodepageKOI8R}, {0, 0}};
    for (const auto& p : pairs)
        for (int32_t mode = 0; mode < kLineBreakModes; ++mode)
            EXPECT_EQ(Convert(p[0], p[1], source, mode), expected[mode]) << p[0] << "->" << p[1] << " mode " << mode;
}

TEST(TextRecoding, RegistryToNewAndWrite)
{
    int32_t before = TextRecodingRegistryCount();
    TextRecoding* a = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakKeep);
    TextRecoding* b = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakKeep);
    TextRecoding* c = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakLF);
    TextRecoding* d = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, 7);  // mode out of range: 0
    EXPECT_TRUE(a && a == b && a == d && a != c && c->LineBreakMode() == kLineBreakLF);
    EXPECT_EQ(TextRecodingRegistryCount(), before + 2);
    TextRecodingRelease(a);
    TextRecodingRelease(b);
    EXPECT_EQ(TextRecodingRegistryCount(), before + 2) << "one reference is still out";
    TextRecodingRelease(d);
    TextRecodingRelease(c);
    EXPECT_EQ(TextRecodingRegistryCount(), before);
    // A recoder made outside the registry is deleted at once (the sanitizer build checks it).
    TextRecodingRelease(new TextRecoding_self());
    TextRecodingRelease(nullptr);
    uint32_t n = 5;
    EXPECT_TRUE(!TextRecodeToNew(nullptr, "abc", -1, &n) && n == 0u && !TextRecodeWrite(nullptr, 1, "abc", -1));
    EXPECT_EQ(Convert(kCodepageUTF8, kCodepageXSwdCyrillic, ""), "");
    // Several scratch blocks, with sequences and CR LF pairs that do not fit at a block's end.
    std::string longText;
    for (int i = 0; i < 3000; ++i)
        longText += "Ж№a\n";
    const std::string swd = Convert(kCodepageUTF8, kCodepageXSwdCyrillic, longText, kLineBreakCRLF);
    EXPECT_EQ(swd.size(), 3000u * 7);
    EXPECT_EQ(Convert(kCodepageXSwdCyrillic, kCodepageUTF8, swd, kLineBreakLF), longText);
    TempDir dir;
    const std::string path = dir / "out.txt";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    TextRecoding* r = TextRecodingGet(kCodepageUTF8, kCodepageXSwdCyrillic, kLineBreakCRLF);
    EXPECT_TRUE(TextRecodeWrite(r, fd, longText.data(), (int32_t)longText.size()));
    close(fd);
    EXPECT_EQ(ReadText(path), swd);
    EXPECT_FALSE(TextRecodeWrite(r, -1, "abc", -1)) << "a bad descriptor must fail";
    int full = open("/dev/full", O_WRONLY);
    EXPECT_FALSE(full >= 0 && TextRecodeWrite(r, full, "abc", -1)) << "a full device must fail";
    close(full);
    TextRecodingRelease(r);
}

}  // namespace
