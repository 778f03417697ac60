// Loading a description: what survives, what is dropped and with which message.
#include <cstdio>

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
struct DropCase {
    const char* name;
    std::string scalar;
    std::string message;  // empty: dropped without a message
};

TEST(SettingsLoad, FaultySettingsAreDroppedEachWithItsMessage)
{
    const std::string good = Pos(2, 0, 1, 1), badJson = "{\"r\":{\"file\":2,";
    const std::string at = "{\"file\":2,\"rec\":0,\"offset\":1";
    const std::string countsDiffer = "{\"r\":" + at + ",\"count\":2},\"w\":" + at + ",\"count\":1}}";
    const DropCase cases[] = {
        {"read-only access", Scalar("S", "type=\"Integer\" position='" + good + "'", "", "read"), ""},
        {"no access", "<scalar type=\"Integer\" position='" + good + "'><description>S</description></scalar>", ""},
        {"write count missing", Item("S", 1, "Integer", "{\"r\":" + at + ",\"count\":1},\"w\":" + at + "}}"), ""},
        {"no position", Scalar("S", "type=\"Integer\""), ""},
        {"position not an object", Item("S", 1, "Integer", "[1,2]"), ""},
        {"bad JSON", Item("S", 1, "Integer", badJson), "Parse signal error: 'Can't parse position: '" + badJson + "''"},
        {"counts differ", Item("S", 1, "Integer", countsDiffer),
         "Parse signal error: 'Read, write registers count not equal (position='" + countsDiffer + "')'"},
        {"unsupported type", Item("S", 1, "integer", good), "Parse signal error: 'Unsupported signal type 'integer''"},
        {"array without indexes", Item("S", 1, "IntArray", good), "Parse signal error: 'Values count = 0'"},
        {"format too short", Scalar("S", "type=\"String\" format=\"x:x\" position='" + Pos(2, 0, 1, 2) + "'"),
         "Parse signal error: 'Format not conform registers count (format='x:x'; position='" + Pos(2, 0, 1, 2) + "')'"},
    };
    for (const DropCase& c : cases) {
        SettingsFixture f;
        ASSERT_TRUE(f.Load(Description(Group(1, "G"), c.scalar + Item("Kept", 1, "Integer", Pos(2, 1, 1, 1))))) << c.name;
        EXPECT_EQ(f.Names(), std::vector<std::string>{"Kept"}) << c.name;
        EXPECT_EQ(f.ui.messages, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message})
            << c.name;
    }
}

TEST(SettingsLoad, ValidSettingsGetTheirRecords)
{
    SettingsFixture f;
    const std::string apart = "{\"r\":{\"file\":21,\"rec\":4,\"offset\":2,\"count\":2,\"byte\":2},"
                              "\"w\":{\"file\":22,\"rec\":5,\"offset\":3,\"count\":2}}";
    ASSERT_TRUE(f.Load(Description("", Scalar("Ip", "type=\"String\" format=\"u.u.u.u\" position='" + Pos(2, 0, 1, 2) + "'") +
                                            Item("Bits", -1, "IntArray", Pos(2, 0, 3, 1), "<indexes>a,,b,</indexes>") +
                                            Item("Tenth", -1, "Float", apart, "<units>0.1e0xyz</units>") +
                                            Item("Junk", -1, "Integer", Pos(23, 0, 1, 1), "<units>abc</units>"))));
    EXPECT_TRUE(f.ui.messages.empty());
    EXPECT_EQ(SignalInfo(f.Find("Ip"))->kind, DS_ValueKind::String);
    DS_SignalInfo* bits = SignalInfo(f.Find("Bits"));
    ASSERT_EQ(bits->valuesCount, 4);
    EXPECT_TRUE(bits->isArray);
    EXPECT_STREQ(bits->indexes.GetAt(2)->Text(), "b");
    EXPECT_STREQ(bits->indexes.GetAt(3)->Text(), "");
    const DS_SignalInfo* t = SignalInfo(f.Find("Tenth"));
    EXPECT_EQ(t->kind, DS_ValueKind::Float);
    EXPECT_TRUE(t->factorGiven);
    EXPECT_DOUBLE_EQ(t->factor, 0.1);
    EXPECT_EQ(std::vector<int64_t>({t->r.file, t->r.rec, t->r.offset, t->r.byte, t->w.file, t->w.rec, t->w.offset, t->w.byte}),
              std::vector<int64_t>({21, 4, 2, 2, 22, 5, 3, 0}));
    EXPECT_EQ(t->entry->key, FileRecordKey(22, 5));
    EXPECT_FALSE(SignalInfo(f.Find("Junk"))->factorGiven);
    EXPECT_DOUBLE_EQ(SignalInfo(f.Find("Junk"))->factor, 1.0);
}

TEST(SettingsLoad, GroupsOffTheSettingsTabGoWithTheirSubgroups)
{
    SettingsFixture f;
    std::string groups = Group(1, "Net", 2, Group(11, "Inner", 2, Group(111, "Deep", 1)) + Group(12, "Other", 3)) +
                         Group(2, "Hidden", 1, Group(21, "Under hidden", 2)) + "<group gid=\"3\" title=\"No tab\"/>" +
                         Group(4, "Last");
    ASSERT_TRUE(f.Load(Description(groups, Item("In hidden", 21, "Integer", Pos(2, 0, 1, 1)))));
    const auto& g = f.model.Groups();
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[0].gid, 1);
    EXPECT_STREQ(g[0].title.Text(), "Net");
    ASSERT_EQ(g[0].children.size(), 1u);
    EXPECT_EQ(g[0].children[0].gid, 11);
    EXPECT_TRUE(g[0].children[0].children.empty());
    EXPECT_EQ(g[1].gid, 4);
    // The setting of a removed group stays in the document but is shown nowhere.
    EXPECT_EQ(f.Names(), std::vector<std::string>{"In hidden"});
    EXPECT_EQ(f.model.CurrentGroup(), 1);
    EXPECT_TRUE(f.model.Shown().empty());
}

TEST(SettingsLoad, DeclarationReplacedAndCommentsGone)
{
    SettingsFixture f;
    std::string scalars = "<!-- top -->" + Item("A", 1, "Integer", Pos(2, 0, 1, 1), "<!-- deep --><hint>h<!-- in --></hint>");
    ASSERT_TRUE(f.Load(Description(Group(1, "G", 2, "<!-- in group -->"), scalars,
                                   "<?xml version=\"1.0\" standalone=\"yes\"?>\n<!-- head -->\n")));
    std::string out = f.dir / "out.xml";
    ASSERT_TRUE(f.model.DS_Export(true, out.c_str()));
    std::string saved = ReadText(out);
    EXPECT_EQ(saved.find("<!--"), std::string::npos) << saved;
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<device>", 0), 0u) << saved;
    TiXmlDeclaration* first = f.model.Document().FirstChild()->ToDeclaration();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->Version(), "1.0");
    EXPECT_STREQ(first->Standalone(), "");
}

TEST(SettingsLoad, FailedLoadLeavesTheModelEmptyAndALoadReplacesIt)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Description(Group(1, "Old"), Item("Old", 1, "Integer", Pos(2, 0, 1, 1)))));
    std::string text = Description(Group(2, "New"), Item("New", 2, "Integer", Pos(2, 0, 1, 1)));
    FILE* file = fmemopen(&text[0], text.size(), "rb");
    ASSERT_TRUE(f.model.DS_LoadStream(file, "memory"));
    fclose(file);
    EXPECT_EQ(f.Names(), std::vector<std::string>{"New"});
    EXPECT_EQ(f.model.Groups().size(), 1u);
    EXPECT_EQ(f.model.Records().Count(), 1);

    std::string broken = f.Write("broken.xml", "<device><sygnals>");
    EXPECT_FALSE(f.model.DS_Load(broken.c_str()));
    ASSERT_EQ(f.ui.messages.size(), 1u);
    EXPECT_EQ(f.ui.messages[0].rfind("Can't load file '" + broken + "':\n'", 0), 0u) << f.ui.messages[0];
    EXPECT_FALSE(f.model.IsLoaded());
    EXPECT_EQ(f.model.Document().FirstChild(), nullptr);
    EXPECT_EQ(f.model.Records().Capacity(), 0);
    EXPECT_TRUE(f.model.Groups().empty());
    EXPECT_EQ(f.model.CurrentGroup(), -1);
}

TEST(SettingsLoad, ShownSettingsAreTheCurrentGroupsInDocumentOrder)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Description(Group(7, "Seven") + Group(8, "Eight", 2, Group(9, "Nine")),
                                   Item("A", 7, "Integer", Pos(2, 0, 1, 1)) + Item("B", 8, "Integer", Pos(2, 1, 1, 1)) +
                                       Item("C", 7, "Integer", Pos(2, 2, 1, 1)) + Item("D", -1, "Integer", Pos(2, 3, 1, 1)))));
    auto names = [&] {
        std::string out;
        for (TiXmlElement* e : f.model.Shown())
            out += DS_Description(e);
        return out;
    };
    EXPECT_EQ(names(), "AC");
    EXPECT_TRUE(f.model.IsShown(f.Find("C")));
    EXPECT_FALSE(f.model.IsShown(f.Find("B")));
    f.model.SelectGroup(9, false);
    EXPECT_EQ(f.model.SelectedPath(), (std::vector<int>{1, 0}));
    EXPECT_EQ(names(), "");
    int shown = f.ui.shown;
    f.model.SelectGroupAt({1});
    EXPECT_EQ(names(), "B");
    EXPECT_EQ(f.ui.shown, shown + 1);
    // No such row: nothing selected, the settings without a group are shown.
    f.model.SelectGroup(5, false);
    EXPECT_TRUE(f.model.SelectedPath().empty());
    EXPECT_EQ(names(), "D");
}

// The description the tool starts with must load without a single complaint.
TEST(SettingsLoad, DefaultDescriptionLoadsCleanly)
{
    SettingsFixture f;
    ASSERT_TRUE(f.model.DS_Load((std::string(PELTA_RES_DIR) + "/Pelta.xml").c_str()));
    EXPECT_TRUE(f.ui.messages.empty()) << f.ui.messages[0];
    EXPECT_GE(f.model.Groups().size(), 5u);
    EXPECT_FALSE(f.model.GroupPathOf(1000).empty());
    EXPECT_TRUE(f.model.CheckAll(true, false)) << (f.ui.messages.empty() ? "" : f.ui.messages[0]);
}
}  // namespace
