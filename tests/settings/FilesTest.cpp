// Settings files: whole and group export, loading them back, encodings, the fallback.
#include <glib.h>
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
std::string Sample(const std::string& net = "Net")
{
    return Description(Group(1, net, 2, Group(3, "Sub")) + Group(2, "Misc") + Group(4, "Gone", 3),
                       Scalar("Ip", "gid=\"1\" type=\"String\" format=\"u.u.u.u\" position='" + Pos(2, 0, 1, 2) + "'") +
                           Item("Port", 1, "Integer", Pos(2, 0, 3, 1)) + Item("Name", 2, "String", Pos(2, 1, 1, 4)) +
                           Item("Bits", 1, "IntArray", Pos(2, 2, 1, 1), "<indexes>a,b</indexes><hint>two</hint>"));
}

std::string Values(SettingsFixture& f, const char* name)
{
    if (!DS_Values(f.Find(name)))
        return "<none>";
    std::string out;
    for (const SString& s : DS_ValueTexts(f.Find(name)))
        out += std::string(s.Text()) + ";";
    return out;
}

TEST(SettingsFiles, WholeExportLoadsBackWithItsValues)
{
    SettingsFixture f, g;
    ASSERT_TRUE(f.Load(Sample()));
    DS_ValueAppend(f.Find("Ip"), "10.0.0.7");
    DS_ValueAppend(f.Find("Name"), "k<&>\"x");
    DS_ValueAppend(f.Find("Bits"), "1");
    DS_ValueAppend(f.Find("Bits"), "0");
    std::string path = f.dir / "all.xml";
    ASSERT_TRUE(f.model.DS_Export(true, path.c_str()));
    ASSERT_TRUE(g.model.DS_Load(path.c_str()));
    EXPECT_EQ(g.Names(), (std::vector<std::string>{"Ip", "Port", "Name", "Bits"}));
    EXPECT_EQ(Values(g, "Ip") + Values(g, "Port") + Values(g, "Name") + Values(g, "Bits"), "10.0.0.7;<none>k<&>\"x;1;0;");
    ASSERT_EQ(g.model.Groups().size(), 2u);
    EXPECT_EQ(g.model.Groups()[0].children.size(), 1u);
    EXPECT_STREQ(DS_ChildText(g.Find("Bits"), "hint"), "two");
    EXPECT_TRUE(g.ui.messages.empty());
}

TEST(SettingsFiles, GroupExportHoldsOneGroupAndItsSettings)
{
    SettingsFixture f, g, h;
    ASSERT_TRUE(f.Load(Sample("Сеть")));
    DS_ValueAppend(f.Find("Ip"), "10.0.0.7");
    DS_ValueAppend(f.Find("Name"), "other group");
    std::string path = f.dir / "group.xml";
    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));
    std::string text = ReadText(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0), 0u) << text;
    EXPECT_NE(text.find("<group gid=\"1\" tab=\"2\" title=\"Сеть\" />"), std::string::npos) << text;

    ASSERT_TRUE(g.model.DS_Load(path.c_str()));
    EXPECT_EQ(g.Names(), (std::vector<std::string>{"Ip", "Port", "Bits"}));
    EXPECT_EQ(Values(g, "Ip") + Values(g, "Port"), "10.0.0.7;<none>");
    ASSERT_EQ(g.model.Groups().size(), 1u);
    EXPECT_STREQ(g.model.Groups()[0].title.Text(), "Сеть");
    EXPECT_TRUE(g.model.Groups()[0].children.empty());
    EXPECT_EQ(g.model.Shown().size(), 3u);
    EXPECT_STREQ(DS_ChildText(g.model.Document().FirstChildElement("device"), "description"), "test unit");

    // Another group: its own title and only its settings.
    f.model.SelectGroup(2, false);
    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));
    ASSERT_TRUE(h.model.DS_Load(path.c_str()));
    EXPECT_EQ(h.Names(), std::vector<std::string>{"Name"});
    EXPECT_EQ(h.model.Groups()[0].gid, 2);
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
        EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Can't save file '" + path + "':\n'No such file or directory'"});
    }
}

TEST(SettingsFiles, Windows1251FileLoadsWithTheSameTexts)
{
    const std::string title = "Сеть", name = "Адрес устройства";
    std::string utf8 = Description(Group(1, title),
                                   Item(name, 1, "String", Pos(2, 0, 1, 4), "<values><value><![CDATA[Привет]]></value></values>"),
                                   "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\n");
    gsize written = 0;
    gchar* cp1251 = g_convert(utf8.data(), (gssize)utf8.size(), "WINDOWS-1251", "UTF-8", nullptr, &written, nullptr);
    ASSERT_NE(cp1251, nullptr);
    std::string bytes(cp1251, written);
    g_free(cp1251);

    SettingsFixture f;
    ASSERT_TRUE(f.Load(bytes));
    EXPECT_EQ(f.Names(), std::vector<std::string>{name});
    EXPECT_STREQ(f.model.Groups()[0].title.Text(), title.c_str());
    EXPECT_EQ(Values(f, name.c_str()), "Привет;");
}

TEST(SettingsFiles, FailedLoadFallsBackToTheDefaultDescription)
{
    SettingsFixture f;
    f.model.DefaultPathSet(f.Write("default.xml", Sample()).c_str());
    std::string split = f.Write("split.xml", Description(Group(1, "G") + Group(2, "H"), Item("A", 1, "Integer", Pos(2, 0, 1, 1)) +
                                                                                           Item("B", 2, "Integer", Pos(2, 0, 2, 1))));
    EXPECT_FALSE(f.model.LoadSettingsFile(split.c_str()));
    EXPECT_EQ(f.ui.messages, std::vector<std::string>{"Settings with equal file number and record number must be in one group.\n\n"
                                                      "Element 'A' and 'B' in different groups."});
    EXPECT_TRUE(f.model.IsLoaded());
    EXPECT_EQ(f.Names(), (std::vector<std::string>{"Ip", "Port", "Name", "Bits"}));

    f.ui.messages.clear();
    EXPECT_TRUE(f.model.LoadSettingsFile(f.Write("good.xml", Description(Group(5, "Five"), Item("Z", 5, "Float", Pos(2, 0, 1, 1)))).c_str()));
    EXPECT_EQ(f.Names(), std::vector<std::string>{"Z"});
    EXPECT_EQ(f.model.CurrentGroup(), 5);
    EXPECT_TRUE(f.ui.messages.empty());
}
}  // namespace
