#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/SString.h"

namespace {
void ExpectInvariants(const SString& s)
{
    if (!s.RawText())
        EXPECT_EQ(s.Capacity() + s.Length(), 0u);
    else
        EXPECT_TRUE(s.Length() <= s.Capacity() && s.RawText()[s.Length()] == '\0');
}
}  // namespace

TEST(SString, GrowthRule)
{
    // {characters appended one at a time, capacity (0: not checked), step}
    struct Case {
        int appended;
        uint32_t capacity, step;
    } const cases[] = {{1, 65, 64}, {63, 65, 64}, {64, 128, 64}, {127, 191, 64}, {1000, 0, 256}};
    for (const Case& c : cases) {
        SString s;
        for (int i = 0; i < c.appended; ++i)
            s.Append((char)('a' + i % 26));
        ExpectInvariants(s);
        EXPECT_EQ(s.Length(), (uint32_t)c.appended);
        EXPECT_EQ(s.Step(), c.step) << c.appended;
        EXPECT_TRUE(c.capacity == 0 || s.Capacity() == c.capacity) << c.appended;
        EXPECT_EQ(s.Text()[c.appended - 1], (char)('a' + (c.appended - 1) % 26));
    }
    SString big;
    big.Append(std::string(1000, 'x').c_str());
    EXPECT_EQ(big.Capacity(), 1256u);
}

TEST(SString, AssignInsertDelete)
{
    SString s("abc");
    EXPECT_EQ(s.Capacity(), 3u);
    s.Assign("abcdefgh");
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
        EXPECT_STREQ(t.Text(), c.expected);
        ExpectInvariants(t);
    }
}

TEST(SString, ClearResetReleaseAndCopies)
{
    SString empty;
    EXPECT_STREQ(empty.Text(), "");
    empty.Clear();
    EXPECT_TRUE(empty.RawText() && empty.Capacity() == 0);
    SString s(std::string(500, 'z').c_str());
    s.Append('!');
    uint32_t capacity = s.Capacity();
    s.Clear();
    EXPECT_TRUE(s.Length() == 0 && s.Capacity() == capacity);
    s.Reset();
    EXPECT_TRUE(!s.RawText() && s.Capacity() == 0 && s.Step() == 128);

    SString a("original"), copy(a);
    copy.Append("!");
    SString moved(std::move(copy));
    EXPECT_TRUE(a == "original" && moved == "original!" && !copy.RawText());
    uint32_t length = 0;
    char* owned = a.Release(&length);
    EXPECT_EQ(length, 8u);
    EXPECT_STREQ(owned, "original");
    EXPECT_EQ(a.RawText(), nullptr);
    free(owned);
}
