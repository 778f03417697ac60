#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/SString.h"

namespace {
void ExpectInvariants(const SString& s, const char* expected)
{
    EXPECT_STREQ(s.Text(), expected);
    EXPECT_TRUE(s.RawText() ? s.Length() <= s.Capacity() && s.RawText()[s.Length()] == '\0' : s.Capacity() == 0);
}
}  // namespace

TEST(SString, GrowthRule)
{
    // {characters appended one at a time, capacity (0: not checked), step}
    const uint32_t cases[][3] = {{1, 65, 64}, {63, 65, 64}, {64, 128, 64}, {127, 191, 64}, {1000, 0, 256}};
    for (const auto& c : cases) {
        SString s;
        std::string expected;
        for (uint32_t i = 0; i < c[0]; ++i) {
            s.Append((char)('a' + i % 26));
            expected += (char)('a' + i % 26);
        }
        ExpectInvariants(s, expected.c_str());
        EXPECT_EQ(s.Step(), c[2]) << c[0];
        EXPECT_TRUE(c[1] == 0 || s.Capacity() == c[1]) << c[0];
    }
    SString big;
    big.Append(std::string(1000, 'x').c_str());
    EXPECT_EQ(big.Capacity(), 1256u);
}

TEST(SString, AssignInsertDelete)
{
    SString s("abcdefgh");
    s.Assign("xy");
    EXPECT_TRUE(s == "xy" && s.Capacity() == 8u);
    s.Assign("hello world");
    s.Assign(s.Text() + 6, 3);  // a part of itself
    s.Insert(1, s.Text());
    EXPECT_STREQ(s.Text(), "wworor");
    SString raw("a\0b", 3);
    EXPECT_TRUE(raw.Length() == 3 && !(raw == "a"));

    struct Case {
        uint32_t position;
        const char* insert;
        uint32_t count;  // deleted at position afterwards
        const char* expected;
    } const cases[] = {{1, "XY", 0, "aXYbcd"}, {4, "XY", 1, "abcdY"}, {99, "X", 2, "abcdX"},
                       {0, "", 2, "cd"},      {2, "XY", 99, "ab"},    {9, "", 1, "abcd"}};
    for (const Case& c : cases) {
        SString t("abcd");
        t.Insert(c.position, c.insert);
        t.Delete(c.position, c.count);
        ExpectInvariants(t, c.expected);
    }
}

TEST(SString, ClearResetReleaseAndCopies)
{
    SString s(std::string(500, 'z').c_str());
    s.Append('!');
    uint32_t capacity = s.Capacity();
    s.Clear();
    EXPECT_TRUE(s.Length() == 0 && s.Capacity() == capacity);
    s.Reset();
    EXPECT_TRUE(!s.RawText() && s.Capacity() == 0 && s.Step() == 128);
    s.Clear();
    EXPECT_TRUE(s.RawText() && s.Capacity() == 0) << "a cleared string has a text";

    SString a("original"), copy(a);
    copy.Append("!");
    SString moved(std::move(copy));
    EXPECT_TRUE(a == "original" && moved == "original!" && !copy.RawText());
    uint32_t length = 0;
    char* owned = a.Release(&length);
    EXPECT_TRUE(length == 8u && !a.RawText());
    EXPECT_STREQ(owned, "original");
    free(owned);
}
