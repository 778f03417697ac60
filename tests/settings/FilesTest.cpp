// Settings files: whole and group export, loading them back, encodings, the fallback.
#include <glib.h>
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
std::string Sample(const std::string& net = "Net")
{
    return Description(Group(1, net, 2, Group(3, "Sub")) + Group(2, "Misc") + Group(4, "Gone", 3),
                       Scalar("Ip", "gid=\"1\" type=\"String\" format=\"u.u.u.u\" position='" + Pos(2, 0, 1, 2) + "'") +
                           Scalar("Port", "gid=\"1\" type=\"Integer\" position='" + Pos(2, 0, 3, 1) + "'") +
                           Scalar("Name", "gid=\"2\" type=\"String\" position='" + Pos(2, 1, 1, 4) + "'") +
                           Scalar("Bits", "gid=\"1\" type=\"IntArray\" position='" + Pos(2, 2, 1, 1) + "'",
                                  "<indexes>a,b</indexes><hint>two</hint>"));
}

std::vector<std::string> Values(SettingsFixture& f, const char* name)
{
    std::vector<std::string> out;
    for (const SString& s : DS_ValueTexts(f.Find(name)))
        out.emplace_back(s.Text());
    return out;
}

TEST(SettingsFiles, WholeExportLoadsBackWithItsValues)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Sample()));
    DS_ValueAppend(f.Find("Ip"), "10.0.0.7");
    DS_ValueAppend(f.Find("Name"), "k<&>\"x");
    DS_ValueAppend(f.Find("Bits"), "1");
    DS_ValueAppend(f.Find("Bits"), "0");
    std::string path = f.dir / "all.xml";
    ASSERT_TRUE(f.model.DS_Export(true, path.c_str()));

    SettingsFixture g;
    ASSERT_TRUE(g.model.DS_Load(path.c_str()));
    EXPECT_EQ(g.Names(), (std::vector<std::string>{"Ip", "Port", "Name", "Bits"}));
    EXPECT_EQ(Values(g, "Ip"), std::vector<std::string>{"10.0.0.7"});
    EXPECT_EQ(Values(g, "Name"), std::vector<std::string>{"k<&>\"x"});
    EXPECT_EQ(Values(g, "Bits"), (std::vector<std::string>{"1", "0"}));
    EXPECT_EQ(DS_Values(g.Find("Port")), nullptr);
    ASSERT_EQ(g.model.Groups().size(), 2u);
    EXPECT_EQ(g.model.Groups()[0].children.size(), 1u);
    EXPECT_STREQ(DS_ChildText(g.Find("Bits"), "hint"), "two");
    EXPECT_TRUE(g.ui.messages.empty());
}

TEST(SettingsFiles, GroupExportHoldsOneGroupAndItsSettings)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Sample("Сеть")));
    DS_ValueAppend(f.Find("Ip"), "10.0.0.7");
    DS_ValueAppend(f.Find("Name"), "other group");
    std::string path = f.dir / "group.xml";
    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));
    std::string text = ReadText(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0), 0u) << text;
    EXPECT_NE(text.find("<group gid=\"1\" tab=\"2\" title=\"Сеть\" />"), std::string::npos) << text;

    SettingsFixture g;
    ASSERT_TRUE(g.model.DS_Load(path.c_str()));
    EXPECT_EQ(g.Names(), (std::vector<std::string>{"Ip", "Port", "Bits"}));
    EXPECT_EQ(Values(g, "Ip"), std::vector<std::string>{"10.0.0.7"});
    EXPECT_EQ(DS_Values(g.Find("Port")), nullptr);
    ASSERT_EQ(g.model.Groups().size(), 1u);
    EXPECT_EQ(g.model.Groups()[0].gid, 1);
    EXPECT_STREQ(g.model.Groups()[0].title.Text(), "Сеть");
    EXPECT_TRUE(g.model.Groups()[0].children.empty());
    EXPECT_EQ(g.model.Shown().size(), 3u);
    const TiXmlElement* device = g.model.Document().FirstChildElement("device");
    EXPECT_STREQ(DS_ChildText(device, "description"), "test unit");

    // Another group: its own title and only its settings.
    f.model.SelectGroup(2, false);
    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));
    SettingsFixture h;
    ASSERT_TRUE(h.model.DS_Load(path.c_str()));
    EXPECT_EQ(h.Names(), std::vector<std::string>{"Name"});
    EXPECT_STREQ(h.model.Groups()[0].title.Text(), "Misc");
}

TEST(SettingsFiles, SaveFailureIsReported)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Sample()));
    std::string path = f.dir / "no-such-folder/out.xml";
    for (bool all : {true, false}) {
        f.ui.messages.clear();
        EXPECT_FALSE(f.model.DS_Export(all, path.c_str()));
        ASSERT_EQ(f.ui.messages.size(), 1u);
        EXPECT_EQ(f.ui.messages[0], "Can't save file '" + path + "':\n'No such file or directory'");
    }
}

TEST(SettingsFiles, Windows1251FileLoadsWithTheSameTexts)
{
    const std::string title = "Сеть", name = "Адрес устройства", value = "Привет";
    std::string utf8 = Description(Group(1, title),
                                   Scalar(name, "gid=\"1\" type=\"String\" position='" + Pos(2, 0, 1, 4) + "'",
                                          "<values><value><![CDATA[" + value + "]]></value></values>"),
                                   "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\n");
    gsize written = 0;
    gchar* cp1251 = g_convert(utf8.data(), (gssize)utf8.size(), "WINDOWS-1251", "UTF-8", nullptr, &written, nullptr);
    ASSERT_NE(cp1251, nullptr);
    std::string bytes(cp1251, written);
    g_free(cp1251);
    ASSERT_EQ(bytes.find(name), std::string::npos);

    SettingsFixture f;
    ASSERT_TRUE(f.Load(bytes));
    EXPECT_EQ(f.Names(), std::vector<std::string>{name});
    EXPECT_STREQ(f.model.Groups()[0].title.Text(), title.c_str());
    EXPECT_EQ(Values(f, name.c_str()), std::vector<std::string>{value});
    // Saved again it is UTF-8 and reads the same.
    std::string path = f.dir / "utf8.xml";
    ASSERT_TRUE(f.model.DS_Export(true, path.c_str()));
    EXPECT_NE(ReadText(path).find(name), std::string::npos);
}

TEST(SettingsFiles, FailedLoadFallsBackToTheDefaultDescription)
{
    SettingsFixture f;
    std::string defaults = f.Write("default.xml", Sample());
    f.model.DefaultPathSet(defaults.c_str());
    std::string split = f.Write("split.xml", Description(Group(1, "G") + Group(2, "H"),
                                                         Scalar("A", "gid=\"1\" type=\"Integer\" position='" + Pos(2, 0, 1, 1) + "'") +
                                                             Scalar("B", "gid=\"2\" type=\"Integer\" position='" + Pos(2, 0, 2, 1) + "'")));
    EXPECT_FALSE(f.model.LoadSettingsFile(split.c_str()));
    EXPECT_EQ(f.ui.messages,
              std::vector<std::string>{"Settings with equal file number and record number must be in one group.\n\n"
                                       "Element 'A' and 'B' in different groups."});
    EXPECT_TRUE(f.model.IsLoaded());
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"Ip", "Port", "Name", "Bits"}));

    std::string good = f.Write("good.xml", Description(Group(5, "Five"), Scalar("Z", "gid=\"5\" type=\"Float\" position='" + Pos(2, 0, 1, 1) + "'")));
    f.ui.messages.clear();
    EXPECT_TRUE(f.model.LoadSettingsFile(good.c_str()));
    EXPECT_EQ(f.Names(), std::vector<std::string>{"Z"});
    EXPECT_EQ(f.model.CurrentGroup(), 5);
    EXPECT_TRUE(f.ui.messages.empty());
}
}  // namespace
