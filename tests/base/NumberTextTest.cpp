#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "base/Messages.h"

TEST(NumberText, ParsesLikeScanfAndPrints)
{
    struct Case {
        const char* text;
        int64_t value;
        bool ok;
    } const cases[] = {
        {"010", 8, true},   {"0x1F", 31, true},   {"12abc", 12, true}, {"", -5, false}, {nullptr, -5, false},
        {"abc", -5, false}, {"+7", 7, true},      {"   ", -5, false},  {"  -42", -42, true}, {"-0x10", -16, true},
        {"09", 0, true},    {"-9223372036854775808", INT64_MIN, true},
    };
    for (const Case& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(TextToInt64(c.text, -5, &ok), c.value) << (c.text ? c.text : "null");
        EXPECT_EQ(ok, c.ok) << (c.text ? c.text : "null");
    }
    bool ok = false;
    EXPECT_TRUE(TextToUInt64(" 0xffffffffffffffff", 1, &ok) == UINT64_MAX && ok);
    EXPECT_EQ(TextToUInt64("-1", 1, nullptr), UINT64_MAX);
    EXPECT_TRUE(TextToUInt64("x1", 1, &ok) == 1u && !ok);
    // "," is not a decimal point whatever the locale says.
    EXPECT_DOUBLE_EQ(TextToDouble(" -1,5e3", 9.0, &ok), -1.0);
    EXPECT_TRUE(TextToDouble("2.5e1kg", 9.0, &ok) == 25.0 && ok);
    EXPECT_TRUE(TextToDouble("kg", 9.0, &ok) == 9.0 && !ok);

    char buffer[32];
    Int64ToText(buffer, sizeof buffer, INT64_MIN, &ok);
    std::string printed = buffer + std::string(ok ? " " : "! ");
    UInt64ToText(buffer, sizeof buffer, UINT64_MAX, nullptr);
    EXPECT_STREQ(buffer, "18446744073709551615");
    for (double v : {0.5, (double)NAN, -(double)NAN, 1e20, -3.0}) {
        DoubleToText(buffer, sizeof buffer, v, &ok);
        printed += buffer + std::string(ok ? " " : "! ");
    }
    EXPECT_EQ(printed, "-9223372036854775808 0.5 nan nan 1e+20 -3 ");
    strcpy(buffer, "kept");
    Int64ToText(buffer, 0, 5, &ok);
    EXPECT_TRUE(!ok && std::string(buffer) == "kept") << buffer;
    UInt64ToText(buffer, 3, 12345, nullptr);
    EXPECT_STREQ(buffer, "12");
    // The flag tells that the printer made characters, also when none fit.
    ok = false;
    DoubleToText(buffer, 1, 0.5, &ok);
    EXPECT_TRUE(ok && buffer[0] == '\0');
    DoubleToText(buffer, 3, 0.125, &ok);
    EXPECT_STREQ(buffer, "0.");
}
