// The value checks: one value text, one setting, all settings, and taking values back.
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
struct CheckFixture : SettingsFixture {
    CheckFixture()
    {
        const std::string named = "<namedvalues><value><key>0</key><val>off</val></value>"
                                  "<value><key>1</key><val>on</val></value><value><key>2</key></value></namedvalues>";
        EXPECT_TRUE(Load(Description(
            Group(1, "Net") + Group(2, "Misc"),
            Scalar("Ip", "gid=\"1\" uid=\"100003\" type=\"String\" format=\"u.u.u.u\" position='" + Pos(2, 0, 1, 2) + "'") +
                Scalar("Mac", "gid=\"1\" type=\"String\" format=\"x:X:x:x\" position='" + Pos(2, 1, 1, 2) + "'") +
                Scalar("Count", "gid=\"2\" uid=\"100001\" type=\"Integer\" position='" + Pos(2, 2, 1, 4) + "'") +
                Item("Mode", 2, "Integer", Pos(2, 3, 1, 1), named) + Item("Gain", 2, "Float", Pos(2, 4, 1, 2)) +
                Item("Name", 2, "String", Pos(2, 5, 1, 4)) +
                Item("Bits", 2, "IntArray", Pos(2, 6, 1, 3), "<indexes>a,b,c</indexes>"))));
        EXPECT_EQ(Names().size(), 7u);
    }
    std::string Fault(const char* name, const char* text)
    {
        SString error("unchanged");
        return model.DS_CheckValue(Find(name), text, error) ? "" : error.Text();
    }
};

TEST(SettingsCheck, ValueTexts)
{
    const char* tooShort = "value too short";
    const char* convert = "can't convert to integer";
    const char* range = "numeric must be in range 0 - 255";
    const char* symbol = "wrong symbol";
    const char* tooLong = "value too long";
    const struct {
        const char* setting;
        const char* text;
        const char* fault;  // "": accepted; a format fault is given by its tail
    } cases[] = {
        {"Ip", "10.0.0.1", ""},         {"Ip", " 10.+0.0.255", ""},    {"Ip", "10.0.0.256", range},
        {"Ip", "10.0.0.-1", range},     {"Ip", "10,0,0,1", symbol},    {"Ip", "10.0.0.1.5", tooLong},
        {"Ip", "10.0.0.1 ", tooLong},   {"Ip", "10.0.0", tooShort},    {"Ip", "10.0.0.", tooShort},
        {"Ip", "", tooShort},           {"Ip", "10.a.0.1", convert},   {"Mac", "00:1A:ff:0", ""},
        {"Mac", "12", tooShort},        {"Mac", "1g:00:00:00", symbol}, {"Mac", "100:00:00:00", range},
        {"Mac", "zz:00:00:00", convert},
        {"Count", "-12", ""},           {"Count", "0x1F", ""},         {"Count", "12abc", ""},
        {"Count", "abc", "Can't convert to numeric"},                 {"Count", "", "Can't convert to numeric"},
        {"Mode", "2", ""},              {"Mode", "0x1", ""},           {"Mode", "00", ""},
        {"Mode", "5", "No list item selected"},                       {"Mode", "-1", "No list item selected"},
        {"Mode", "on", "No list item selected"},
        {"Gain", "2.5e1", ""},          {"Gain", "-.5", ""},           {"Gain", "x2", "Can't convert to numeric"},
        {"Name", "anything, at all", ""},
    };
    CheckFixture f;
    for (const auto& c : cases) {
        std::string expected = c.fault;
        const char* format = f.Find(c.setting)->Attribute("format");
        if (*c.fault && format)
            expected = std::string("Value ('") + c.text + "') not conform format ('" + format +
                       "'): " + c.fault;
        EXPECT_EQ(f.Fault(c.setting, c.text), expected) << c.setting << " '" << c.text << "'";
    }
}

TEST(SettingsCheck, MissingValuesForFileAndForDevice)
{
    CheckFixture f;
    SString error;
    // No values at all: fine for a file; the protected identifier refuses a device write.
    EXPECT_TRUE(f.model.CheckSetting(f.Find("Ip"), &error, false));
    EXPECT_FALSE(f.model.CheckSetting(f.Find("Ip"), &error, true));
    EXPECT_STREQ(error.Text(), "This parameter can't be erased");
    EXPECT_TRUE(f.model.CheckSetting(f.Find("Count"), &error, true));
    EXPECT_TRUE(f.model.CheckSetting(f.Find("Mac"), &error, true));

    TiXmlElement* bits = f.Find("Bits");
    DS_ValueAppend(bits, "1");
    DS_ValueAppend(bits, "0");
    EXPECT_FALSE(f.model.CheckSetting(bits, &error, false));
    EXPECT_STREQ(error.Text(), "Not enough values");
    DS_ValueAppend(bits, "1");
    EXPECT_TRUE(f.model.CheckSetting(bits, &error, true));
    // An empty "values" is not the same as none: the values are missing.
    f.Find("Ip")->LinkEndChild(new TiXmlElement("values"));
    EXPECT_FALSE(f.model.CheckSetting(f.Find("Ip"), &error, false));
    EXPECT_STREQ(error.Text(), "Not enough values");
    EXPECT_TRUE(f.ui.messages.empty());
    // Without an error text out the fault is shown.
    DS_ValueAppend(f.Find("Mode"), "7");
    EXPECT_FALSE(f.model.CheckSetting(f.Find("Mode"), nullptr, false));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Mode':\n'No list item selected'"});
}

TEST(SettingsCheck, CheckAllStopsAtTheFirstFaultAndShowsItsGroup)
{
    CheckFixture f;
    EXPECT_TRUE(f.model.CheckAll(true, false));
    DS_ValueAppend(f.Find("Gain"), "x");
    DS_ValueAppend(f.Find("Name"), "n");
    // The shown group (1) has no fault; all settings do, in group 2.
    EXPECT_TRUE(f.model.CheckAll(false, false));
    EXPECT_FALSE(f.model.CheckAll(true, false));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Gain':\n'Can't convert to numeric'"});
    EXPECT_EQ(f.model.SelectedPath(), std::vector<int>{1});
    EXPECT_EQ(f.model.Shown().size(), 5u);
    // The protected setting of group 1 stops a device write before group 2 is looked at.
    f.ui.messages.clear();
    EXPECT_FALSE(f.model.CheckAll(true, true));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Ip':\n'This parameter can't be erased'"});
    EXPECT_EQ(f.model.CurrentGroup(), 1);
}

TEST(SettingsCheck, TakingValuesBack)
{
    CheckFixture f;
    TiXmlElement* ip = f.Find("Ip");
    SString error;
    std::vector<SString> good = {SString("192.168.0.1")}, bad = {SString("192.168.0")};
    ASSERT_TRUE(f.model.DS_ValuesSet(ip, &good, error));
    ASSERT_EQ(DS_ValueTexts(ip).size(), 1u);
    EXPECT_STREQ(DS_ValueTexts(ip)[0].Text(), "192.168.0.1");
    EXPECT_FALSE(f.model.DS_ValuesSet(ip, &bad, error));
    EXPECT_STREQ(error.Text(), "Value ('192.168.0') not conform format ('u.u.u.u'): value too short");
    EXPECT_TRUE(f.model.DS_ValuesSet(ip, nullptr, error));
    EXPECT_EQ(DS_Values(ip), nullptr);

    // A commit that fails selects the failing group without showing it and tells why.
    f.model.SelectGroup(2, false);
    int shownBefore = f.ui.shown;
    size_t selectsBefore = f.ui.selects.size();
    EXPECT_FALSE(f.model.CommitShown([](TiXmlElement* e, SString& fault) {
        fault = "too odd";
        return std::string(DS_Description(e)) != "Gain";
    }));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Gain':\n'too odd'"});
    EXPECT_EQ(f.ui.shown, shownBefore);
    EXPECT_EQ(f.ui.selects.size(), selectsBefore + 1);
    EXPECT_EQ(f.ui.selects.back(), std::vector<int>{1});
    int taken = 0;
    EXPECT_TRUE(f.model.CommitShown([&](TiXmlElement*, SString&) { return ++taken > 0; }));
    EXPECT_EQ(taken, 5);
}
}  // namespace
