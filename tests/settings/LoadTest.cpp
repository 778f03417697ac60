// Loading a description: what is dropped with which message, groups, write records and their
// grouping check, shown settings; settings files exported, loaded back, and the fallback.
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
std::string S(const char* name, int gid, int file, int rec, int offset)
{
    return Item(name, gid, "Integer", Pos(file, rec, offset, 1));
}

// Faulty settings are dropped, with a message or silently; the settings of one write record
// must be in one group and in succession, or the load fails and leaves an empty model.
TEST(SettingsLoad, FaultySettingsAndRecordGrouping)
{
    const std::string good = Pos(2, 0, 1, 1), badJson = "{\"r\":{\"file\":2,", at = "{\"file\":2,\"rec\":0,\"offset\":1";
    const std::string countsDiffer = "{\"r\":" + at + ",\"count\":2},\"w\":" + at + ",\"count\":1}}";
    const std::string group = "Settings with equal file number and record number must be in one group.\n\nElement '";
    const std::string line = "Settings with equal file number and record number must be in succession.\n\nElement '";
    const std::string sameRead = "{\"r\":{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1},"
                                 "\"w\":{\"file\":2,\"rec\":9,\"offset\":1,\"count\":1}}";
    const char *kept = "Kept/1/2", *failed = "/0/0";
    const struct {
        const char* name;
        std::string scalars, message;
        const char* after;  // names/records/groups
    } cases[] = {
        {"read-only access",
         "<scalar type=\"Integer\" position='" + good + "'><access>read</access><description>S</description></scalar>", "", kept},
        {"no access", "<scalar type=\"Integer\" position='" + good + "'><description>S</description></scalar>", "", kept},
        {"write count missing", Item("S", 1, "Integer", "{\"r\":" + at + ",\"count\":1},\"w\":" + at + "}}"), "", kept},
        {"no position", "<scalar type=\"Integer\"><access>readwrite</access><description>S</description></scalar>", "", kept},
        {"position not an object", Item("S", 1, "Integer", "[1,2]"), "", kept},
        {"bad JSON", Item("S", 1, "Integer", badJson), "Parse signal error: 'Can't parse position: '" + badJson + "''", kept},
        {"counts differ", Item("S", 1, "Integer", countsDiffer),
         "Parse signal error: 'Read, write registers count not equal (position='" + countsDiffer + "')'", kept},
        {"unsupported type", Item("S", 1, "integer", good), "Parse signal error: 'Unsupported signal type 'integer''", kept},
        {"array without indexes", Item("S", 1, "IntArray", good), "Parse signal error: 'Values count = 0'", kept},
        {"format too short", Item("S", 1, "String", Pos(2, 0, 1, 2), "", "format=\"x:x\""),
         "Parse signal error: 'Format not conform registers count (format='x:x'; position='" + Pos(2, 0, 1, 2) + "')'", kept},
        {"third in another group", S("A", 1, 2, 0, 1) + S("B", 1, 2, 0, 2) + S("C", 2, 2, 0, 3),
         group + "A' and 'C' in different groups.", failed},
        {"split by another record", S("A", 1, 2, 0, 1) + S("B", 1, 2, 1, 1) + S("C", 1, 2, 0, 2),
         line + "A' and 'C' not in succession.", failed},
        {"second of three out of line", S("P", 1, 2, 0, 1) + S("Q", 1, 2, 0, 2) + S("R", 1, 2, 3, 1) + S("T", 1, 2, 0, 3),
         line + "Q' and 'T' not in succession.", failed},
        {"only the read place shared", S("A", 1, 2, 0, 1) + S("B", 2, 2, 1, 1) + Item("C", 2, "Integer", sameRead), "",
         "A B C Kept/4/2"},
        // Files and records that differ above bit 16 share an entry.
        {"keys of 16 bits", S("Low", 1, 21, 3, 1) + S("High", 1, 21 + 65536, 3 + 65536, 2) + S("X", 1, 22, 3, 1), "",
         "Low High X Kept/3/2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SettingsFixture f;
        EXPECT_EQ(f.Load(Description(Group(1, "G") + Group(2, "H"), c.scalars + S("Kept", 1, 9, 9, 1))), c.after != failed);
        EXPECT_EQ(f.ui.Said(), c.message);
        EXPECT_EQ(c.after, f.Names() + "/" + std::to_string(f.model.Records().Count()) + "/" +
                               std::to_string(f.model.Groups().size()));
    }
}

// Groups off the settings tab go with their subgroups; a setting of a removed group stays in
// the document but is shown nowhere. The shown settings are the current group's in order. A
// load replaces the model, a failed one empties it.
TEST(SettingsLoad, GroupsShownSettingsAndReplacingLoads)
{
    SettingsFixture f;
    std::string groups = Group(1, "Net", 2, Group(11, "Inner", 2, Group(111, "Deep", 1)) + Group(12, "Other", 3)) +
                         Group(2, "Hidden", 1, Group(21, "Under hidden", 2)) + "<group gid=\"3\" title=\"No tab\"/>" +
                         Group(7, "Seven") + Group(8, "Eight", 2, Group(9, "Nine"));
    ASSERT_TRUE(f.Load(Description(groups, S("A", 7, 2, 0, 1) + S("B", 8, 2, 1, 1) + S("C", 7, 2, 2, 1) +
                                               S("D", -1, 2, 3, 1) + S("In hidden", 21, 2, 4, 1))));
    EXPECT_EQ("1 Net(11 Inner;);7 Seven;8 Eight(9 Nine;);", Tree(f.model.Groups()));
    EXPECT_EQ("A B C D In hidden", f.Names());
    EXPECT_EQ(f.model.CurrentGroup(), 1);
    EXPECT_EQ("", NamesOf(f.model.Shown()));
    f.model.SelectGroup(7, false);
    EXPECT_EQ("A C", NamesOf(f.model.Shown()));
    EXPECT_TRUE(f.model.IsShown(f.Find("C")));
    EXPECT_FALSE(f.model.IsShown(f.Find("B")));
    f.model.SelectGroup(9, false);
    EXPECT_EQ(f.model.SelectedPath(), (std::vector<int>{2, 0}));
    EXPECT_EQ("", NamesOf(f.model.Shown()));
    f.model.SelectGroupAt({2});
    EXPECT_EQ("B", NamesOf(f.model.Shown()));
    EXPECT_EQ(f.ui.shown, 4);
    f.model.SelectGroup(5, false);  // no such row: nothing selected, the settings without a group shown
    EXPECT_TRUE(f.model.SelectedPath().empty());
    EXPECT_EQ("D", NamesOf(f.model.Shown()));

    std::string text = Description(Group(2, "New"), S("New", 2, 2, 0, 1));
    FILE* file = fmemopen(&text[0], text.size(), "rb");
    ASSERT_TRUE(f.model.DS_LoadStream(file, "memory"));
    fclose(file);
    EXPECT_EQ("New/2 New;/1", f.Names() + "/" + Tree(f.model.Groups()) + "/" + std::to_string(f.model.Records().Count()));
    std::string broken = f.Write("broken.xml", "<device><sygnals>");
    EXPECT_FALSE(f.model.DS_Load(broken.c_str()));
    EXPECT_EQ(f.ui.Said().rfind("Can't load file '" + broken + "':\n'", 0), 0u) << f.ui.Said();
    DeviceSettings& m = f.model;
    EXPECT_EQ(std::vector<int64_t>({0, 0, 0, 0, -1}),
              std::vector<int64_t>({m.IsLoaded(), m.Document().FirstChild() != nullptr, m.Records().Capacity(),
                                    (int64_t)m.Groups().size(), m.CurrentGroup()}))
        << "loaded, nodes, record capacity, groups, current group";
    // A file of nothing but a declaration loads as an empty model that still has one, in UTF-8.
    ASSERT_TRUE(f.Load("<?xml version=\"1.0\" encoding=\"WINDOWS-1251\"?>\n"));
    ASSERT_NE(f.model.Document().FirstChild(), nullptr);
    EXPECT_STREQ(f.model.Document().FirstChild()->ToDeclaration()->Encoding(), "UTF-8");
}

// With comments everywhere and a declaration of its own: a load drops the first, replaces the second.
std::string Sample(const std::string& net = "Net")
{
    return Description(Group(1, net, 2, Group(3, "Sub") + "<!-- in group -->") + Group(2, "Misc") + Group(4, "Gone", 3),
                       "<!-- top -->" + Item("Ip", 1, "String", Pos(2, 0, 1, 2), "", "format=\"u.u.u.u\"") +
                           Item("Port", 1, "Integer", Pos(2, 0, 3, 1)) + Item("Name", 2, "String", Pos(2, 1, 1, 4)) +
                           Item("Bits", 1, "IntArray", Pos(2, 2, 1, 1), "<indexes>a,b</indexes><hint>two<!-- in --></hint>"),
                       "<?xml version=\"1.0\" standalone=\"yes\"?>\n<!-- head -->\n");
}

// A failed load falls back to the default description; the one the tool starts with loads without a complaint.
TEST(SettingsFiles, ExportsLoadBackWithTheirValuesAndAFailedLoadFallsBack)
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
    ASSERT_TRUE(whole.model.DS_Load(path.c_str()));
    EXPECT_EQ("Ip Port Name Bits/1 Сеть(3 Sub;);2 Misc;", whole.Names() + "/" + Tree(whole.model.Groups()));
    EXPECT_EQ("k<&>\"x 1,0 <none>", ValuesOf(whole.Find("Name")) + " " + ValuesOf(whole.Find("Bits")) + " " +
                                       ValuesOf(whole.Find("Port")));
    EXPECT_STREQ(DS_ChildText(whole.Find("Bits"), "hint"), "two");

    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));  // the shown group, its settings only
    EXPECT_NE(ReadText(path).find("<group gid=\"1\" tab=\"2\" title=\"Сеть\" />"), std::string::npos) << ReadText(path);
    ASSERT_TRUE(group.model.DS_Load(path.c_str()));
    EXPECT_EQ("Ip Port Bits/10.0.0.7/1 Сеть;",
              group.Names() + "/" + ValuesOf(group.Find("Ip")) + "/" + Tree(group.model.Groups()));
    EXPECT_STREQ(DS_ChildText(group.model.Document().FirstChildElement("device"), "description"), "test unit");
    f.model.SelectGroup(2, false);
    ASSERT_TRUE(f.model.DS_Export(false, path.c_str()));
    ASSERT_TRUE(other.model.DS_Load(path.c_str()));
    EXPECT_EQ("Name/2 Misc;", other.Names() + "/" + Tree(other.model.Groups()));
    EXPECT_EQ("", whole.ui.Said() + group.ui.Said() + other.ui.Said());

    const std::string nowhere = f.dir / "no-such-folder/out.xml";
    for (bool all : {true, false})
        EXPECT_FALSE(f.model.DS_Export(all, nowhere.c_str())) << all;
    const std::string cannot = "Can't save file '" + nowhere + "':\n'No such file or directory'";
    EXPECT_EQ(f.ui.Said(), cannot + " | " + cannot);
    f.ui.messages.clear();
    f.model.DefaultPathSet(f.Write("default.xml", Sample()).c_str());
    std::string split = f.Write("split.xml", Description(Group(1, "G") + Group(2, "H"), Item("A", 1, "Integer", Pos(2, 0, 1, 1)) +
                                                                                           Item("B", 2, "Integer", Pos(2, 0, 2, 1))));
    EXPECT_FALSE(f.model.LoadSettingsFile(split.c_str()));
    EXPECT_EQ(f.ui.Said(), "Settings with equal file number and record number must be in one group.\n\n"
                           "Element 'A' and 'B' in different groups.");
    EXPECT_EQ("Ip Port Name Bits/1 Net(3 Sub;);2 Misc;", f.Names() + "/" + Tree(f.model.Groups()));
    f.ui.messages.clear();
    EXPECT_TRUE(f.model.LoadSettingsFile((std::string(PELTA_RES_DIR) + "/Pelta.xml").c_str()));
    EXPECT_GE(f.model.Groups().size(), 5u);
    EXPECT_FALSE(f.model.GroupPathOf(1000).empty());
    EXPECT_TRUE(f.model.CheckAll(true, false));
    EXPECT_EQ("", f.ui.Said());
}
}  // namespace
