// Seeded random input for every recoder (the event reader has a fuzz target of its own). Run under
// the address and undefined-behaviour sanitizers, this shows that no byte sequence reads or writes
// out of bounds.
#include "recoding/TextRecoding.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <cstdlib>
#include <cstring>

namespace {

// Bytes drawn mostly from the ones the parsers treat specially.
std::string RandomBytes(GRand* rand)
{
    static const char kSpecial[] = "<>/=&;#x'\" \n!-[]?CDATA\xD0\xD1\xE2\x84\x96\xC2\xC3\xFF\x80";
    std::string s;
    for (int32_t n = g_rand_int_range(rand, 0, 160); n > 0; --n)
        s += g_rand_boolean(rand) ? kSpecial[g_rand_int_range(rand, 0, (gint32)sizeof kSpecial - 1)]
                                  : (char)g_rand_int_range(rand, 1, 256);
    return s;
}

TEST(Robustness, RecodersTakeAnyBytes)
{
    GRand* rand = g_rand_new_with_seed(1251);
    for (int round = 0; round < 300; ++round) {
        std::string input = RandomBytes(rand);
        for (int32_t from = 0; from <= kCodepageLast; ++from) {
            for (int32_t to = 0; to <= kCodepageLast; ++to) {
                TextRecoding* r = TextRecodingGet(from, to, g_rand_int_range(rand, 0, kLineBreakModes));
                uint32_t n = 0;
                char* out = TextRecodeToNew(r, input.data(), (int32_t)input.size(), &n);
                // No NUL in, none out, the terminator in place; at most three bytes per byte in.
                ASSERT_EQ(strlen(out), n) << from << "->" << to;
                EXPECT_LE(n, 3 * input.size());
                free(out);
                TextRecodingRelease(r);
            }
        }
    }
    g_rand_free(rand);
}

}  // namespace
