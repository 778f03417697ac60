// The value checks: one value text, one setting, all settings, and taking values back.
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
TEST(SettingsCheck, ValueTextsSettingsAllSettingsAndTakingValuesBack)
{
    SettingsFixture f;
    const std::string named = "<namedvalues><value><key>0</key><val>off</val></value>"
                              "<value><key>1</key><val>on</val></value><value><key>2</key></value></namedvalues>";
    ASSERT_TRUE(f.Load(Description(
        Group(1, "Net") + Group(2, "Misc"),
        Item("Ip", 1, "String", Pos(2, 0, 1, 2), "", "uid=\"100003\" format=\"u.u.u.u\"") +
            Item("Mac", 1, "String", Pos(2, 1, 1, 2), "", "format=\"x:X:x:x\"") +
            Item("Count", 2, "Integer", Pos(2, 2, 1, 4), "", "uid=\"100001\"") +
            Item("Mode", 2, "Integer", Pos(2, 3, 1, 1), named) + Item("Gain", 2, "Float", Pos(2, 4, 1, 2)) +
            Item("Name", 2, "String", Pos(2, 5, 1, 4)) +
            Item("Bits", 2, "IntArray", Pos(2, 6, 1, 3), "<indexes>a,b,c</indexes>"))));
    const char *range = "numeric must be in range 0 - 255", *symbol = "wrong symbol", *tooLong = "value too long",
               *tooShort = "value too short", *convert = "can't convert to integer", *numeric = "Can't convert to numeric",
               *item = "No list item selected";
    const struct {
        const char *setting, *text, *fault;  // fault "": accepted; a format fault by its tail
    } cases[] = {
        {"Ip", " 10.+0.0.255", ""}, {"Ip", "10.0.0.256", range}, {"Ip", "10.0.0.-1", range},
        {"Ip", "10,0,0,1", symbol}, {"Ip", "10.0.0.1 ", tooLong}, {"Ip", "10.0.0.", tooShort},
        {"Ip", "", tooShort},       {"Ip", "10.a.0.1", convert}, {"Mac", "00:1A:ff:0", ""},
        {"Mac", "1g:00:00:00", symbol}, {"Mac", "100:00:00:00", range}, {"Count", "-12", ""},
        {"Count", "0x1F", ""},      {"Count", "12abc", ""},      {"Count", "", numeric},
        {"Mode", "2", ""},          {"Mode", "0x1", ""},         {"Mode", "5", item},
        {"Mode", "-1", item},       {"Mode", "on", item},        {"Gain", "-.5", ""},
        {"Gain", "x2", numeric},    {"Name", "anything, at all", ""},
    };
    for (const auto& c : cases) {
        std::string expected = c.fault;
        const char* format = f.Find(c.setting)->Attribute("format");
        if (*c.fault && format)
            expected = std::string("Value ('") + c.text + "') not conform format ('" + format + "'): " + c.fault;
        SString error("unchanged");
        EXPECT_EQ(f.model.DS_CheckValue(f.Find(c.setting), c.text, error) ? "" : error.Text(), expected)
            << c.setting << " '" << c.text << "'";
    }
    SString error;
    auto missing = [&](const char* name, bool device) {
        return f.model.CheckSetting(f.Find(name), &error, device) ? "" : std::string(error.Text());
    };
    // No values: fine for a file; the protected identifier refuses a device write.
    EXPECT_EQ("|This parameter can't be erased|",
              missing("Ip", false) + "|" + missing("Ip", true) + "|" + missing("Count", true));
    ValuesPut(f.Find("Bits"), "1,0");
    EXPECT_EQ("Not enough values", missing("Bits", false));
    ValuesPut(f.Find("Bits"), "1,0,1");
    EXPECT_EQ("", missing("Bits", true));
    EXPECT_TRUE(f.model.CheckAll(true, false));
    // The shown group (1) has no fault; all settings do, in group 2.
    ValuesPut(f.Find("Gain"), "x");
    EXPECT_TRUE(f.model.CheckAll(false, false));
    EXPECT_FALSE(f.model.CheckAll(true, false));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Gain':\n'Can't convert to numeric'"});
    EXPECT_EQ(f.model.SelectedPath(), std::vector<int>{1});
    EXPECT_EQ(f.model.Shown().size(), 5u);
    // The protected setting of group 1 stops a device write before group 2 is looked at.
    EXPECT_FALSE(f.model.CheckAll(true, true));
    EXPECT_EQ(f.ui.messages.back(), "Wrong value for 'Ip':\n'This parameter can't be erased'");
    EXPECT_EQ(f.model.CurrentGroup(), 1);

    TiXmlElement* ip = f.Find("Ip");
    std::vector<SString> good = {SString("192.168.0.1")}, bad = {SString("192.168.0")};
    ASSERT_TRUE(f.model.DS_ValuesSet(ip, &good, error));
    EXPECT_EQ(ValuesOf(ip), "192.168.0.1");
    EXPECT_FALSE(f.model.DS_ValuesSet(ip, &bad, error));
    EXPECT_STREQ(error.Text(), "Value ('192.168.0') not conform format ('u.u.u.u'): value too short");
    EXPECT_TRUE(f.model.DS_ValuesSet(ip, nullptr, error));
    ip->LinkEndChild(new TiXmlElement("values"));  // an empty "values" is not none
    EXPECT_EQ("Not enough values", missing("Ip", false));
    // A commit that fails selects the failing group without showing it and tells why.
    f.model.SelectGroup(2, false);
    f.ui.shown = 0;
    f.ui.selects.clear();
    EXPECT_FALSE(f.model.CommitShown([](TiXmlElement* e, SString& fault) {
        fault = "too odd";
        return std::string(DS_Description(e)) != "Gain";
    }));
    EXPECT_EQ(f.ui.messages.back(), "Wrong value for 'Gain':\n'too odd'");
    EXPECT_EQ(f.ui.shown, 0);
    EXPECT_EQ(f.ui.selects, std::vector<std::vector<int>>{{1}});
    int taken = 0;
    EXPECT_TRUE(f.model.CommitShown([&](TiXmlElement*, SString&) { return ++taken > 0; }));
    EXPECT_EQ(taken, 5);
}
}  // namespace
