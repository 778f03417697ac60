// Settings files: whole and group export loaded back, a failed save, a WINDOWS-1251 file, the
// fallback to the default description.
#include <glib.h>
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
// With comments everywhere and a declaration of its own: a load drops the first, replaces the second.
std::string Sample(const std::string& net = "Net")
{
    return Description(Group(1, net, 2, Group(3, "Sub") + "<!-- in group -->") + Group(2, "Misc") + Group(4, "Gone", 3),
                       "<!-- top -->" + Item("Ip", 1, "String", Pos(2, 0, 1, 2), "", "format=\"u.u.u.u\"") +
                           Item("Port", 1, "Integer", Pos(2, 0, 3, 1)) + Item("Name", 2, "String", Pos(2, 1, 1, 4)) +
                           Item("Bits", 1, "IntArray", Pos(2, 2, 1, 1), "<indexes>a,b</indexes><hint>two<!-- in --></hint>"),
                       "<?xml version=\"1.0\" standalone=\"yes\"?>\n<!-- head -->\n");
}

TEST(SettingsFiles, WholeAndGroupExportsLoadBackWithTheirValues)
{
    SettingsFixture f, whole, group, other;
    ASSERT_TRUE(f.Load(Sample("Сеть")));
    ValuesPut(f.Find("Ip"), "10.0.0.7");
    ValuesPut(f.Find("Name"), "k<&>\"x");
    ValuesPut(f.Find("Bits"), "1,0");
    const std::string path = f.dir / "out.xml";
    ASSERT_TRUE(f.model.DS_Export(true, path.c_str()));
    EXPECT_EQ(ReadText(path).find("<!--"), std::string::npos) << ReadText(path);
    EXPECT_EQ(ReadText(path).rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<device>", 0), 0u) << ReadText(path);
    EXPECT_STREQ(f.model.Document().FirstChild()->ToDeclaration()->Standalone(), "");
    ASSERT_TRUE(whole.model.DS_Load(path.c_str()));
    EXPECT_EQ("Ip Port Name Bits", whole.Names());
    EXPECT_EQ("k<&>\"x 1,0 <none>", ValuesOf(whole.Find("Name")) + " " + ValuesOf(whole.Find("Bits")) + " " +
                                       ValuesOf(whole.Find("Port")));
    EXPECT_EQ("1 Сеть(3 Sub;);2 Misc;", Tree(whole.model.Groups()));
    EXPECT_STREQ(DS_ChildText(whole.Find("Bits"), "hint"), "two");

    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));  // the shown group, its settings only
    EXPECT_NE(ReadText(path).find("<group gid=\"1\" tab=\"2\" title=\"Сеть\" />"), std::string::npos) << ReadText(path);
    ASSERT_TRUE(group.model.DS_Load(path.c_str()));
    EXPECT_EQ("Ip Port Bits", group.Names());
    EXPECT_EQ("10.0.0.7", ValuesOf(group.Find("Ip")));
    EXPECT_EQ("1 Сеть;", Tree(group.model.Groups()));
    EXPECT_EQ(group.model.Shown().size(), 3u);
    EXPECT_STREQ(DS_ChildText(group.model.Document().FirstChildElement("device"), "description"), "test unit");
    f.model.SelectGroup(2, false);
    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));
    ASSERT_TRUE(other.model.DS_Load(path.c_str()));
    EXPECT_EQ("Name/2 Misc;", other.Names() + "/" + Tree(other.model.Groups()));
    EXPECT_EQ("", whole.ui.Said() + group.ui.Said() + other.ui.Said());

    const std::string nowhere = f.dir / "no-such-folder/out.xml";
    for (bool all : {true, false}) {
        f.ui.messages.clear();
        EXPECT_FALSE(f.model.DS_Export(all, nowhere.c_str()));
        EXPECT_EQ(f.ui.Said(), "Can't save file '" + nowhere + "':\n'No such file or directory'");
    }
}

TEST(SettingsFiles, Windows1251FileLoadsWithTheSameTexts)
{
    const std::string name = "Адрес устройства";
    std::string utf8 = Description(Group(1, "Сеть"),
                                   Item(name, 1, "String", Pos(2, 0, 1, 4), "<values><value><![CDATA[Привет]]></value></values>"),
                                   "<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\n");
    gsize written = 0;
    gchar* cp1251 = g_convert(utf8.data(), (gssize)utf8.size(), "WINDOWS-1251", "UTF-8", nullptr, &written, nullptr);
    ASSERT_NE(cp1251, nullptr);
    SettingsFixture f;
    ASSERT_TRUE(f.Load(std::string(cp1251, written)));
    g_free(cp1251);
    EXPECT_EQ(name + "/1 Сеть;/Привет", f.Names() + "/" + Tree(f.model.Groups()) + "/" + ValuesOf(f.Find(name)));
}

TEST(SettingsFiles, FailedLoadFallsBackToTheDefaultDescription)
{
    SettingsFixture f;
    f.model.DefaultPathSet(f.Write("default.xml", Sample()).c_str());
    std::string split = f.Write("split.xml", Description(Group(1, "G") + Group(2, "H"), Item("A", 1, "Integer", Pos(2, 0, 1, 1)) +
                                                                                           Item("B", 2, "Integer", Pos(2, 0, 2, 1))));
    EXPECT_FALSE(f.model.LoadSettingsFile(split.c_str()));
    EXPECT_EQ(f.ui.Said(), "Settings with equal file number and record number must be in one group.\n\n"
                           "Element 'A' and 'B' in different groups.");
    EXPECT_EQ("Ip Port Name Bits", f.Names());
    f.ui.messages.clear();
    EXPECT_TRUE(f.model.LoadSettingsFile(f.Write("good.xml", Description(Group(5, "Five"), Item("Z", 5, "Float", Pos(2, 0, 1, 1)))).c_str()));
    EXPECT_EQ("Z", f.Names());
    EXPECT_EQ(f.model.CurrentGroup(), 5);
    EXPECT_EQ("", f.ui.Said());
}
}  // namespace
