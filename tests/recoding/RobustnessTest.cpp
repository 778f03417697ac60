// Seeded random input for every recoder and for the event reader. Run under the address and
// undefined-behaviour sanitizers, this shows that no byte sequence reads or writes out of bounds.
#include "recoding/TextRecoding.h"
#include "recoding/XmlEventReader.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int kRounds = 300;
const uint32_t kMaxLength = 160;

// Bytes drawn mostly from the ones the parsers treat specially.
std::string RandomBytes(GRand* rand)
{
    static const char kSpecial[] = "<>/=&;#x'\" \n!-[]?CDATA\xD0\xD1\xE2\x84\x96\xC2\xC3\xFF\x80";
    uint32_t n = (uint32_t)g_rand_int_range(rand, 0, kMaxLength);
    std::string s;
    for (uint32_t i = 0; i < n; ++i) {
        if (g_rand_boolean(rand))
            s += kSpecial[g_rand_int_range(rand, 0, (gint32)sizeof kSpecial - 1)];
        else
            s += (char)g_rand_int_range(rand, 1, 256);
    }
    return s;
}

TEST(Robustness, RecodersTakeAnyBytes)
{
    GRand* rand = g_rand_new_with_seed(1251);
    for (int round = 0; round < kRounds; ++round) {
        std::string input = RandomBytes(rand);
        for (int32_t from = 0; from <= kCodepageLast; ++from) {
            for (int32_t to = 0; to <= kCodepageLast; ++to) {
                int32_t mode = g_rand_int_range(rand, 0, kLineBreakModes);
                TextRecoding* r = TextRecodingGet(from, to, mode);
                ASSERT_NE(r, nullptr);
                uint32_t n = 0;
                char* out = TextRecodeToNew(r, input.data(), (int32_t)input.size(), &n);
                ASSERT_NE(out, nullptr);
                // Input without NUL bytes gives output without them; the terminator is in place.
                EXPECT_EQ(strlen(out), n);
                // At most three bytes come out per byte in (a letter of a two-byte page
                // becomes at most two, a line break two, an unknown byte two).
                EXPECT_LE(n, 3 * input.size());
                free(out);
                TextRecodingRelease(r);
            }
        }
    }
    g_rand_free(rand);
}

TEST(Robustness, ReaderTakesAnyBytes)
{
    GRand* rand = g_rand_new_with_seed(866);
    uint8_t base64[8];
    uint32_t count = 0;
    for (int round = 0; round < 20 * kRounds; ++round) {
        std::string value = RandomBytes(rand);
        value.erase(std::remove(value.begin(), value.end(), '\''), value.end());
        std::string input = "<r a='" + value + "'>" + RandomBytes(rand);
        XmlEventReader reader;
        reader.SetCodepages(g_rand_int_range(rand, 0, 6), g_rand_int_range(rand, 0, 6));
        reader.SetOptions((uint32_t)g_rand_int_range(rand, 0, 2));
        uint32_t calls = 0;
        reader.SetElementStartHandler([&](XmlEventReader& r, const char* name, const XmlAttribute* a) {
            ++calls;
            r.SetBase64Target(base64, sizeof base64, &count);
            for (; a->name; ++a)
                EXPECT_LE(strlen(a->name) + (a->value ? strlen(a->value) : 0), 6 * input.size());
            return strlen(name) > 0 ? 0 : 1;
        });
        reader.SetTextHandler([&](XmlEventReader&, const char* text) {
            ++calls;
            return *text ? 0 : 1;
        });
        int result = reader.ParseText(input.data(), (int32_t)input.size());
        EXPECT_TRUE(result == kXmlReadOk || result == kXmlReadMalformed) << result;
        EXPECT_GE(calls, 1u) << "the root start tag is always well formed";
        EXPECT_LE(count, sizeof base64);
    }
    g_rand_free(rand);
}

}  // namespace
