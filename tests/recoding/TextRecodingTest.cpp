// Recoders: conversions between every pair of code pages, the unknown-character and
// truncated-sequence rules, line-break modes, block handling and the shared registry.
#include "recoding/TextRecoding.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// All 68 positions in UTF-8: 66 letters, the numero sign and the spare position (D0 20).
const std::string kRepertoireUtf8 =
    "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя\xE2\x84\x96\xD0\x20";

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

TEST(TextRecoding, EveryPairRoundTripsTheWholeRepertoire)
{
    const std::string text = "ascii 123 <&> " + kRepertoireUtf8 + " end";
    for (int32_t from = kCodepageFirst; from <= kCodepageLast; ++from) {
        std::string inFrom = Convert(kCodepageUTF8, from, text);
        ASSERT_EQ(Convert(from, kCodepageUTF8, inFrom), text) << "page " << from;
        for (int32_t to = kCodepageFirst; to <= kCodepageLast; ++to) {
            std::string inTo = Convert(from, to, inFrom);
            EXPECT_EQ(inTo, Convert(kCodepageUTF8, to, text)) << from << " -> " << to;
            EXPECT_EQ(Convert(to, kCodepageUTF8, inTo), text) << from << " -> " << to << " -> UTF-8";
        }
    }
}

TEST(TextRecoding, WordToWindows1251AndBack)
{
    std::string w = Convert(kCodepageUTF8, kCodepageWindows1251, "тест");
    EXPECT_EQ(Hex(w), "f2 e5 f1 f2");
    EXPECT_EQ(Convert(kCodepageWindows1251, kCodepageUTF8, w), "тест");
}

TEST(TextRecoding, UnknownCharactersBecomeQuestionMarksPerByte)
{
    struct Case {
        int32_t from, to;
        std::string source;
        std::string expected;
    };
    const Case cases[] = {
        {kCodepageUTF8, kCodepageCP866, "\xC3\xA9", "??"},
        {kCodepageUTF8, kCodepageXSwdCyrillic, "\xC3\xA9", "????"},
        {kCodepageUTF8, kCodepageWindows1251, "a\xE2\x82\xAC" "b", "a???b"},
        {kCodepageXSwdCyrillic, kCodepageUTF8, "\xC2\x41", "??"},
        {kCodepageWindows1251, kCodepageCP866, "\x98", "?"},
        {kCodepageCP866, kCodepageKOI8R, "\xB0\x80", "?\xE1"},
        {kCodepageUTF8, kCodepageCP866, "\xFF\xFE", "??"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hex(Convert(c.from, c.to, c.source)), Hex(c.expected)) << c.from << "->" << c.to;
}

TEST(TextRecoding, IncompleteSequenceStaysInTheSource)
{
    struct Case {
        int32_t from;
        std::string source;
        uint32_t left;
    };
    const Case cases[] = {
        {kCodepageUTF8, "\xD0\x90\xD0", 1},
        {kCodepageUTF8, "x\xE2\x84", 2},
        {kCodepageXSwdCyrillic, "\xC2\x80\xC3", 1},
    };
    for (const Case& c : cases) {
        TextRecoding* r = TextRecodingGet(c.from, kCodepageWindows1251, kLineBreakKeep);
        ASSERT_NE(r, nullptr);
        char out[16];
        char* dst = out;
        uint32_t room = sizeof out;
        const char* src = c.source.data();
        uint32_t available = (uint32_t)c.source.size();
        r->Recode(dst, room, src, available);
        EXPECT_EQ(available, c.left) << Hex(c.source);
        EXPECT_EQ(src, c.source.data() + c.source.size() - c.left);
        EXPECT_EQ((uint32_t)(dst - out) + room, (uint32_t)sizeof out);
        TextRecodingRelease(r);
    }
}

TEST(TextRecoding, RecodeStopsWhenTheDestinationIsFull)
{
    TextRecoding* r = TextRecodingGet(kCodepageWindows1251, kCodepageUTF8, kLineBreakKeep);
    const std::string src1251 = "\xC0\xC1\xC2";  // АБВ, two bytes each in UTF-8
    char out[5];
    char* dst = out;
    uint32_t room = sizeof out;
    const char* src = src1251.data();
    uint32_t available = 3;
    r->Recode(dst, room, src, available);
    EXPECT_EQ(available, 1u);
    EXPECT_EQ(room, 1u);
    EXPECT_EQ(std::string(out, 4), "АБ");
    TextRecodingRelease(r);
}

TEST(TextRecoding, LineBreakModes)
{
    struct Case {
        int32_t mode;
        const char* expected;
    };
    const char* source = "a\nb\r\nc\rd\n\ne";
    const Case cases[] = {
        {kLineBreakKeep, "a\nb\r\nc\rd\n\ne"},
        {kLineBreakCR, "a\rb\rc\rd\r\re"},
        {kLineBreakLF, "a\nb\nc\nd\n\ne"},
        {kLineBreakCRLF, "a\r\nb\r\nc\r\nd\r\n\r\ne"},
    };
    // Single-byte, any and self recoders share the rule.
    const int32_t pairs[][2] = {{kCodepageCP866, kCodepageWindows1251}, {kCodepageUTF8, kCodepageKOI8R}, {0, 0}};
    for (const auto& p : pairs)
        for (const Case& c : cases)
            EXPECT_EQ(Convert(p[0], p[1], source, c.mode), c.expected) << p[0] << "->" << p[1] << " mode " << c.mode;
}

TEST(TextRecoding, CrLfModeNeedsRoomForTwoBytes)
{
    TextRecoding* r = TextRecodingGet(kCodepageUTF8, kCodepageCP866, kLineBreakCRLF);
    char out[2];
    char* dst = out;
    uint32_t room = sizeof out;
    const char* src = "x\n";
    uint32_t available = 2;
    r->Recode(dst, room, src, available);
    EXPECT_EQ(available, 1u) << "the line break must wait for room";
    EXPECT_EQ(room, 1u);
    TextRecodingRelease(r);
}

TEST(TextRecoding, UnknownPagesCopyBytesUnchanged)
{
    std::string binary("\x00\x80\xFF\xD0", 4);
    EXPECT_EQ(Convert(0, kCodepageUTF8, binary), binary);
    EXPECT_EQ(Convert(kCodepageUTF8, 9, binary), binary);
}

TEST(TextRecoding, RegistrySharesAndReleases)
{
    int32_t before = TextRecodingRegistryCount();
    TextRecoding* a = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakKeep);
    TextRecoding* b = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakKeep);
    TextRecoding* c = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakLF);
    TextRecoding* d = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, 7);  // mode out of range: 0
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, d);
    EXPECT_NE(a, c);
    EXPECT_EQ(c->LineBreakMode(), kLineBreakLF);
    EXPECT_EQ(TextRecodingRegistryCount(), before + 2);
    TextRecodingRelease(a);
    TextRecodingRelease(b);
    EXPECT_EQ(TextRecodingRegistryCount(), before + 2) << "one reference is still out";
    TextRecodingRelease(d);
    EXPECT_EQ(TextRecodingRegistryCount(), before + 1);
    TextRecodingRelease(c);
    EXPECT_EQ(TextRecodingRegistryCount(), before);
    // A recoder made outside the registry is deleted at once (the sanitizer build checks it).
    TextRecodingRelease(new TextRecoding_self());
    TextRecodingRelease(nullptr);
    EXPECT_EQ(TextRecodingRegistryCount(), before);
}

TEST(TextRecoding, NullRecoderDoesNothing)
{
    uint32_t n = 5;
    EXPECT_EQ(TextRecodeToNew(nullptr, "abc", -1, &n), nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(TextRecodeWrite(nullptr, 1, "abc", -1));
}

TEST(TextRecoding, ToNewHandlesEmptyAndLongTexts)
{
    TextRecoding* r = TextRecodingGet(kCodepageUTF8, kCodepageXSwdCyrillic, kLineBreakKeep);
    uint32_t n = 9;
    char* empty = TextRecodeToNew(r, "", -1, &n);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_STREQ(empty, "");
    free(empty);
    // Several scratch blocks, with sequences that do not fit at a block's end.
    std::string longText;
    for (int i = 0; i < 3000; ++i)
        longText += "Ж№a";
    char* out = TextRecodeToNew(r, longText.c_str(), -1, &n);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(n, 3000u * 5);
    EXPECT_EQ(strlen(out), n);
    EXPECT_EQ(Convert(kCodepageXSwdCyrillic, kCodepageUTF8, std::string(out, n)), longText);
    free(out);
    TextRecodingRelease(r);
}

TEST(TextRecoding, WriteConvertsToTheDescriptor)
{
    TempDir dir;
    ASSERT_TRUE(dir.Ok());
    std::string path = dir.Path("out.txt");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "тест\n";
    TextRecoding* r = TextRecodingGet(kCodepageUTF8, kCodepageWindows1251, kLineBreakCRLF);
    EXPECT_TRUE(TextRecodeWrite(r, fd, text.data(), (int32_t)text.size()));
    close(fd);
    std::string expected;
    for (int i = 0; i < 4000; ++i)
        expected += "\xF2\xE5\xF1\xF2\r\n";
    EXPECT_EQ(ReadFileBytes(path), expected);
    EXPECT_FALSE(TextRecodeWrite(r, -1, "abc", -1)) << "a bad descriptor must fail";
    int full = open("/dev/full", O_WRONLY);
    if (full >= 0) {
        EXPECT_FALSE(TextRecodeWrite(r, full, "abc", -1)) << "a full device must fail";
        close(full);
    }
    TextRecodingRelease(r);
}

TEST(TextRecoding, NoBreakSpacePerPage)
{
    EXPECT_EQ(Hex(TextNoBreakSpace(kCodepageCP866).Text()), "ff");
    EXPECT_EQ(Hex(TextNoBreakSpace(kCodepageWindows1251).Text()), "80");
    EXPECT_EQ(Hex(TextNoBreakSpace(kCodepageUTF8).Text()), "d0 20");
    EXPECT_TRUE(TextNoBreakSpace(0).IsEmpty());
}

}  // namespace
