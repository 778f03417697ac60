#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "base/SString.h"

namespace {
void ExpectInvariants(const SString& s)
{
    if (!s.RawText()) {
        EXPECT_EQ(s.Capacity(), 0u);
        EXPECT_EQ(s.Length(), 0u);
    } else {
        EXPECT_LE(s.Length(), s.Capacity());
        EXPECT_EQ(s.RawText()[s.Length()], '\0');
    }
}
}  // namespace

TEST(SString, GrowthRule)
{
    // {characters appended one at a time, capacity, step}
    struct Case {
        int appended;
        uint32_t capacity, step;
    };
    const Case cases[] = {{1, 65, 64}, {63, 65, 64}, {64, 128, 64}, {127, 191, 64}, {1000, 0, 256}};
    for (const Case& c : cases) {
        SString s;
        for (int i = 0; i < c.appended; ++i)
            s.Append((char)('a' + i % 26));
        ExpectInvariants(s);
        EXPECT_EQ(s.Length(), (uint32_t)c.appended);
        EXPECT_EQ(s.Step(), c.step) << c.appended;
        if (c.capacity) {
            EXPECT_EQ(s.Capacity(), c.capacity) << c.appended;
        }
        EXPECT_EQ(s.Text()[c.appended - 1], (char)('a' + (c.appended - 1) % 26));
    }
    SString big;
    big.Append(std::string(1000, 'x').c_str());
    EXPECT_EQ(big.Step(), 256u);
    EXPECT_EQ(big.Capacity(), 1256u);
}

TEST(SString, AssignAllocatesExactlyWhenTooSmall)
{
    SString s("abc");
    EXPECT_EQ(s.Capacity(), 3u);
    s.Assign("abcdefgh");
    EXPECT_EQ(s.Capacity(), 8u);
    s.Assign("xy");
    EXPECT_EQ(s.Capacity(), 8u);
    EXPECT_TRUE(s == "xy");
    s.Assign(s.Text());
    EXPECT_TRUE(s == "xy");
    s.Assign("hello world");
    s.Assign(s.Text() + 6, 3);  // a part of itself
    EXPECT_TRUE(s == "wor");
    SString raw("a\0b", 3);
    EXPECT_EQ(raw.Length(), 3u);
    EXPECT_FALSE(raw == "a");
    ExpectInvariants(raw);
}

TEST(SString, InsertAndDelete)
{
    struct Case {
        const char* start;
        uint32_t position;
        const char* insert;
        const char* expected;
    };
    const Case inserts[] = {{"ad", 1, "bc", "abcd"}, {"ab", 2, "cd", "abcd"},
                            {"ab", 99, "c", "abc"}, {"", 0, "x", "x"}, {"ab", 1, "", "ab"}};
    for (const Case& c : inserts) {
        SString s(c.start);
        s.Insert(c.position, c.insert);
        EXPECT_TRUE(s == c.expected) << s.Text();
        ExpectInvariants(s);
    }
    SString self("abc");
    self.Insert(1, self.Text());
    EXPECT_TRUE(self == "aabcbc") << self.Text();

    struct Del {
        uint32_t position, count;
        const char* expected;
    };
    const Del deletes[] = {{1, 2, "adef"}, {4, 99, "abcd"}, {6, 1, "abcdef"}, {0, 6, ""}};
    for (const Del& d : deletes) {
        SString s("abcdef");
        s.Delete(d.position, d.count);
        EXPECT_TRUE(s == d.expected) << s.Text();
        ExpectInvariants(s);
    }
}

TEST(SString, ClearResetReleaseAndCopies)
{
    SString empty;
    EXPECT_EQ(empty.RawText(), nullptr);
    EXPECT_STREQ(empty.Text(), "");
    empty.Clear();
    ASSERT_NE(empty.RawText(), nullptr);
    EXPECT_EQ(empty.Capacity(), 0u);

    SString s;
    for (int i = 0; i < 500; ++i)
        s.Append('z');
    uint32_t capacity = s.Capacity();
    s.Clear();
    EXPECT_EQ(s.Length(), 0u);
    EXPECT_EQ(s.Capacity(), capacity);

    SString a("original");
    SString copy(a);
    copy.Append("!");
    EXPECT_TRUE(a == "original");
    SString moved(std::move(copy));
    EXPECT_TRUE(moved == "original!");
    EXPECT_EQ(copy.RawText(), nullptr);

    for (int i = 0; i < 500; ++i)
        moved.Append('y');
    moved.Reset();
    EXPECT_EQ(moved.Step(), 128u);
    EXPECT_EQ(moved.Capacity(), 0u);

    uint32_t length = 0;
    char* owned = a.Release(&length);
    EXPECT_EQ(length, 8u);
    EXPECT_STREQ(owned, "original");
    EXPECT_EQ(a.RawText(), nullptr);
    free(owned);
}
