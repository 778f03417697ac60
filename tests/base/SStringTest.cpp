#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/SString.h"

TEST(SString, GrowthRule)
{
    SString s;
    std::string expected, seen;
    for (uint32_t i = 1; i <= 1000; ++i) {
        s.Append((char)('a' + i % 26));
        expected += (char)('a' + i % 26);
        if (i == 1 || i == 63 || i == 64 || i == 127 || i == 1000)
            seen += std::to_string(s.Capacity()) + "/" + std::to_string(s.Step()) + " ";
    }
    EXPECT_STREQ(s.Text(), expected.c_str());
    EXPECT_TRUE(s.Length() <= s.Capacity() && s.RawText()[s.Length()] == '\0');
    EXPECT_EQ(seen, "65/64 65/64 128/64 191/64 1079/256 ");
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
        EXPECT_STREQ(t.Text(), c.expected) << c.position << " " << c.insert << " " << c.count;
        EXPECT_TRUE(t.Length() <= t.Capacity() && t.RawText()[t.Length()] == '\0') << c.expected;
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
