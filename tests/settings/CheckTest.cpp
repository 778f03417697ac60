// The value checks: one value text, one setting, all settings, and taking values back.
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
const std::string kNamed =
    "<namedvalues><value><key>0</key><val>off</val></value><value><key>1</key><val>on</val></value>"
    "<value><key>2</key><val>auto</val></value></namedvalues>";

std::string Checked()
{
    return Description(Group(1, "Net") + Group(2, "Misc"),
                       Scalar("Ip", "gid=\"1\" uid=\"100003\" type=\"String\" format=\"u.u.u.u\" position='" +
                                        Pos(2, 0, 1, 2) + "'") +
                           Scalar("Mac", "gid=\"1\" type=\"String\" format=\"x:X:x:x\" position='" +
                                             Pos(2, 1, 1, 2) + "'") +
                           Scalar("Count", "gid=\"2\" uid=\"100001\" type=\"Integer\" position='" +
                                               Pos(2, 2, 1, 4) + "'") +
                           Scalar("Mode", "gid=\"2\" type=\"Integer\" position='" + Pos(2, 3, 1, 1) + "'", kNamed) +
                           Scalar("Gain", "gid=\"2\" type=\"Float\" position='" + Pos(2, 4, 1, 2) + "'") +
                           Scalar("Name", "gid=\"2\" type=\"String\" position='" + Pos(2, 5, 1, 4) + "'") +
                           Scalar("Bits", "gid=\"2\" type=\"IntArray\" position='" + Pos(2, 6, 1, 3) + "'",
                                  "<indexes>a,b,c</indexes>"));
}

struct ValueCase {
    const char* setting;
    const char* text;
    const char* fault;  // null: accepted
};

TEST(SettingsCheck, ValueTexts)
{
    const char* shortFault = "Value ('^0') not conform format ('^1'): value too short";
    const char* convert = "Value ('^0') not conform format ('^1'): can't convert to integer";
    const char* range = "Value ('^0') not conform format ('^1'): numeric must be in range 0 - 255";
    const char* symbol = "Value ('^0') not conform format ('^1'): wrong symbol";
    const char* longFault = "Value ('^0') not conform format ('^1'): value too long";
    const ValueCase cases[] = {
        {"Ip", "10.0.0.1", nullptr},
        {"Ip", " 10.+0.0.255", nullptr},
        {"Ip", "10.0.0.256", range},
        {"Ip", "10.0.0.-1", range},
        {"Ip", "10,0,0,1", symbol},
        {"Ip", "10.0.0.1.5", longFault},
        {"Ip", "10.0.0.1 ", longFault},
        {"Ip", "10.0.0", shortFault},
        {"Ip", "10.0.0.", shortFault},
        {"Ip", "", shortFault},
        {"Ip", "10.a.0.1", convert},
        {"Mac", "00:1A:ff:0", nullptr},
        {"Mac", "0:0:0:0", nullptr},
        {"Mac", "12", shortFault},
        {"Mac", "1g:00:00:00", symbol},
        {"Mac", "100:00:00:00", range},
        {"Mac", "zz:00:00:00", convert},
        {"Count", "-12", nullptr},
        {"Count", "0x1F", nullptr},
        {"Count", "9223372036854775807", nullptr},
        {"Count", "12abc", nullptr},
        {"Count", "abc", "Can't convert to numeric"},
        {"Count", "", "Can't convert to numeric"},
        {"Mode", "2", nullptr},
        {"Mode", "0x1", nullptr},
        {"Mode", "00", nullptr},
        {"Mode", "5", "No list item selected"},
        {"Mode", "-1", "No list item selected"},
        {"Mode", "on", "No list item selected"},
        {"Gain", "2.5e1", nullptr},
        {"Gain", "-.5", nullptr},
        {"Gain", "x2", "Can't convert to numeric"},
        {"Name", "anything, at all", nullptr},
        {"Name", "", nullptr},
    };
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Checked()));
    ASSERT_EQ(f.Names().size(), 7u) << f.ui.messages.size();
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(std::string(c.setting) + " '" + c.text + "'");
        TiXmlElement* e = f.Find(c.setting);
        ASSERT_NE(e, nullptr);
        SString error;
        bool ok = f.model.DS_CheckValue(e, c.text, error);
        EXPECT_EQ(ok, c.fault == nullptr);
        if (c.fault) {
            std::string expected = c.fault;
            for (const char* p : {"^0", "^1"}) {
                size_t at = expected.find(p);
                if (at != std::string::npos)
                    expected.replace(at, 2, p[1] == '0' ? c.text : e->Attribute("format"));
            }
            EXPECT_EQ(error.Text(), expected);
        }
    }
}

TEST(SettingsCheck, MissingValuesForFileAndForDevice)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Checked()));
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
    error.Clear();
    EXPECT_FALSE(f.model.CheckSetting(bits, &error, false));
    EXPECT_STREQ(error.Text(), "Not enough values");
    DS_ValueAppend(bits, "1");
    EXPECT_TRUE(f.model.CheckSetting(bits, &error, true));
    // An empty "values" is not the same as none: the values are missing.
    DS_ValuesRemove(f.Find("Ip"));
    f.Find("Ip")->LinkEndChild(new TiXmlElement("values"));
    EXPECT_FALSE(f.model.CheckSetting(f.Find("Ip"), &error, true));
    EXPECT_STREQ(error.Text(), "Not enough values");
    EXPECT_TRUE(f.ui.messages.empty());

    // Without an error text out the fault is shown.
    DS_ValueAppend(f.Find("Mode"), "7");
    EXPECT_FALSE(f.model.CheckSetting(f.Find("Mode"), nullptr, false));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Mode':\n'No list item selected'"});
}

TEST(SettingsCheck, CheckAllStopsAtTheFirstFaultAndShowsItsGroup)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Checked()));
    EXPECT_EQ(f.model.CurrentGroup(), 1);
    EXPECT_TRUE(f.model.CheckAll(true, false));
    DS_ValueAppend(f.Find("Gain"), "x");
    DS_ValueAppend(f.Find("Name"), "n");
    // The shown group (1) has no fault; all settings do, in group 2.
    EXPECT_TRUE(f.model.CheckAll(false, false));
    EXPECT_FALSE(f.model.CheckAll(true, false));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Gain':\n'Can't convert to numeric'"});
    EXPECT_EQ(f.model.CurrentGroup(), 2);
    EXPECT_EQ(f.model.SelectedPath(), std::vector<int>{1});
    ASSERT_EQ(f.model.Shown().size(), 5u);
    // The protected setting of group 1 stops a device write before group 2 is looked at.
    f.ui.messages.clear();
    EXPECT_FALSE(f.model.CheckAll(true, true));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Ip':\n'This parameter can't be erased'"});
    EXPECT_EQ(f.model.CurrentGroup(), 1);
}

TEST(SettingsCheck, TakingValuesBack)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Checked()));
    TiXmlElement* ip = f.Find("Ip");
    SString error;
    std::vector<SString> good = {SString("192.168.0.1")};
    ASSERT_TRUE(f.model.DS_ValuesSet(ip, &good, error));
    EXPECT_EQ(DS_ValueTexts(ip).size(), 1u);
    EXPECT_STREQ(DS_ValueTexts(ip)[0].Text(), "192.168.0.1");
    std::vector<SString> bad = {SString("192.168.0")};
    EXPECT_FALSE(f.model.DS_ValuesSet(ip, &bad, error));
    EXPECT_STREQ(error.Text(), "Value ('192.168.0') not conform format ('u.u.u.u'): value too short");
    EXPECT_TRUE(f.model.DS_ValuesSet(ip, nullptr, error));
    EXPECT_EQ(DS_Values(ip), nullptr);

    // A commit that fails selects the failing group without showing it and tells why.
    f.model.SelectGroup(2, false);
    int shownBefore = f.ui.shown;
    size_t selectsBefore = f.ui.selects.size();
    EXPECT_FALSE(f.model.CommitShown([](TiXmlElement* e, SString& fault) {
        if (std::string(DS_Description(e)) != "Gain")
            return true;
        fault = "value too odd";
        return false;
    }));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Wrong value for 'Gain':\n'value too odd'"});
    EXPECT_EQ(f.ui.shown, shownBefore);
    ASSERT_EQ(f.ui.selects.size(), selectsBefore + 1);
    EXPECT_EQ(f.ui.selects.back(), std::vector<int>{1});
    int taken = 0;
    EXPECT_TRUE(f.model.CommitShown([&](TiXmlElement*, SString&) { return ++taken > 0; }));
    EXPECT_EQ(taken, 5);
}
}  // namespace
