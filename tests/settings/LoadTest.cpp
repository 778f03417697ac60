// Loading a description: what survives, what is dropped and with which message.
#include <cstdio>

#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
const std::string kGood = Pos(2, 0, 1, 1);

struct DropCase {
    const char* name;
    std::string scalar;
    std::string message;  // empty: dropped without a message
};

TEST(SettingsLoad, FaultySettingsAreDroppedEachWithItsMessage)
{
    const std::string badJson = "{\"r\":{\"file\":2,";
    const std::string countsDiffer =
        "{\"r\":{\"file\":2,\"rec\":0,\"offset\":1,\"count\":2},\"w\":{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1}}";
    const std::string noWriteCount =
        "{\"r\":{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1},\"w\":{\"file\":2,\"rec\":0,\"offset\":1}}";
    const DropCase cases[] = {
        {"read-only access", Scalar("S", "type=\"Integer\" position='" + kGood + "'", "", "read"), ""},
        {"no access", "<scalar type=\"Integer\" position='" + kGood + "'><description>S</description></scalar>", ""},
        {"write count missing", Scalar("S", "type=\"Integer\" position='" + noWriteCount + "'"), ""},
        {"no position", Scalar("S", "type=\"Integer\""), ""},
        {"position not an object", Scalar("S", "type=\"Integer\" position='[1,2]'"), ""},
        {"bad JSON", Scalar("S", "type=\"Integer\" position='" + badJson + "'"),
         "Parse signal error: 'Can't parse position: '" + badJson + "''"},
        {"counts differ", Scalar("S", "type=\"Integer\" position='" + countsDiffer + "'"),
         "Parse signal error: 'Read, write registers count not equal (position='" + countsDiffer + "')'"},
        {"unsupported type", Scalar("S", "type=\"integer\" position='" + kGood + "'"),
         "Parse signal error: 'Unsupported signal type 'integer''"},
        {"array without indexes", Scalar("S", "type=\"IntArray\" position='" + kGood + "'"),
         "Parse signal error: 'Values count = 0'"},
        {"format too short", Scalar("S", "type=\"String\" format=\"x:x\" position='" + Pos(2, 0, 1, 2) + "'"),
         "Parse signal error: 'Format not conform registers count (format='x:x'; position='" + Pos(2, 0, 1, 2) +
             "')'"},
    };
    for (const DropCase& c : cases) {
        SettingsFixture f;
        std::string keep = Scalar("Kept", "gid=\"1\" type=\"Integer\" position='" + Pos(2, 1, 1, 1) + "'");
        ASSERT_TRUE(f.Load(Description(Group(1, "G"), c.scalar + keep))) << c.name;
        EXPECT_EQ(f.Names(), std::vector<std::string>{"Kept"}) << c.name;
        std::vector<std::string> expected;
        if (!c.message.empty())
            expected.push_back(c.message);
        EXPECT_EQ(f.ui.messages, expected) << c.name;
    }
}

TEST(SettingsLoad, ValidSettingsGetTheirRecords)
{
    SettingsFixture f;
    std::string scalars =
        Scalar("Ip", "type=\"String\" format=\"u.u.u.u\" position='" + Pos(2, 0, 1, 2) + "'") +
        Scalar("Bits", "type=\"IntArray\" position='" + Pos(2, 0, 3, 1) + "'", "<indexes>a,,b,</indexes>") +
        Scalar("Tenth", "type=\"Float\" position='" +
                            std::string("{\"r\":{\"file\":21,\"rec\":4,\"offset\":2,\"count\":2,\"byte\":2},"
                                        "\"w\":{\"file\":22,\"rec\":5,\"offset\":3,\"count\":2}}") + "'",
               "<units>0.1e0xyz</units>") +
        Scalar("Junk units", "type=\"Integer\" position='" + Pos(23, 0, 1, 1) + "'", "<units>abc</units>");
    ASSERT_TRUE(f.Load(Description("", scalars)));
    EXPECT_TRUE(f.ui.messages.empty());

    const DS_SignalInfo* ip = SignalInfo(f.Find("Ip"));
    ASSERT_NE(ip, nullptr);
    EXPECT_EQ(ip->kind, DS_ValueKind::String);
    EXPECT_EQ(ip->ValueSize(), 4);

    DS_SignalInfo* bits = SignalInfo(f.Find("Bits"));
    ASSERT_NE(bits, nullptr);
    EXPECT_TRUE(bits->isArray);
    ASSERT_EQ(bits->valuesCount, 4);
    const char* names[] = {"a", "", "b", ""};
    for (int i = 0; i < 4; ++i)
        EXPECT_STREQ(bits->indexes.GetAt(i)->Text(), names[i]) << i;

    const DS_SignalInfo* tenth = SignalInfo(f.Find("Tenth"));
    ASSERT_NE(tenth, nullptr);
    EXPECT_EQ(tenth->kind, DS_ValueKind::Float);
    EXPECT_DOUBLE_EQ(tenth->factor, 0.1);
    EXPECT_TRUE(tenth->factorGiven);
    EXPECT_EQ(tenth->r.file, 21);
    EXPECT_EQ(tenth->r.rec, 4);
    EXPECT_EQ(tenth->r.offset, 2);
    EXPECT_EQ(tenth->r.byte, 2);
    EXPECT_EQ(tenth->w.file, 22);
    EXPECT_EQ(tenth->w.rec, 5);
    EXPECT_EQ(tenth->w.offset, 3);
    EXPECT_EQ(tenth->w.byte, 0);
    ASSERT_NE(tenth->entry, nullptr);
    EXPECT_EQ(tenth->entry->key, FileRecordKey(22, 5));

    const DS_SignalInfo* junk = SignalInfo(f.Find("Junk units"));
    ASSERT_NE(junk, nullptr);
    EXPECT_DOUBLE_EQ(junk->factor, 1.0);
    EXPECT_FALSE(junk->factorGiven);
}

TEST(SettingsLoad, GroupsOffTheSettingsTabGoWithTheirSubgroups)
{
    SettingsFixture f;
    std::string groups = Group(1, "Net", 2, Group(11, "Inner", 2, Group(111, "Deep", 1)) + Group(12, "Other", 3)) +
                         Group(2, "Hidden", 1, Group(21, "Under hidden", 2)) + "<group gid=\"3\" title=\"No tab\"/>" +
                         Group(4, "Last");
    std::string scalars = Scalar("In hidden", "gid=\"21\" type=\"Integer\" position='" + Pos(2, 0, 1, 1) + "'");
    ASSERT_TRUE(f.Load(Description(groups, scalars)));
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
    std::string scalars = "<!-- top -->" +
                          Scalar("A", "gid=\"1\" type=\"Integer\" position='" + Pos(2, 0, 1, 1) + "'",
                                 "<!-- deep --><hint>h<!-- in text --></hint>");
    std::string text = Description(Group(1, "G", 2, "<!-- in group -->"), scalars,
                                   "<?xml version=\"1.0\" standalone=\"yes\"?>\n<!-- head -->\n");
    ASSERT_TRUE(f.Load(text));
    std::string out = f.dir / "out.xml";
    ASSERT_TRUE(f.model.DS_Export(true, out.c_str()));
    std::string saved = ReadText(out);
    EXPECT_EQ(saved.find("<!--"), std::string::npos) << saved;
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n", 0), 0u) << saved;
    EXPECT_EQ(saved.find("standalone"), std::string::npos) << saved;
    TiXmlNode* first = f.model.Document().FirstChild();
    ASSERT_TRUE(first && first->ToDeclaration());
    EXPECT_STREQ(first->ToDeclaration()->Version(), "1.0");
    EXPECT_STREQ(first->ToDeclaration()->Encoding(), "UTF-8");
}

TEST(SettingsLoad, LoadingFromAnOpenFileReplacesTheModel)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Description(Group(1, "Old"), Scalar("Old", "gid=\"1\" type=\"Integer\" position='" + Pos(2, 0, 1, 1) + "'"))));
    std::string text = Description(Group(2, "New"), Scalar("New", "gid=\"2\" type=\"Integer\" position='" + Pos(2, 0, 1, 1) + "'"));
    FILE* file = fmemopen(&text[0], text.size(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(f.model.DS_LoadStream(file, "memory"));
    fclose(file);
    EXPECT_EQ(f.Names(), std::vector<std::string>{"New"});
    ASSERT_EQ(f.model.Groups().size(), 1u);
    EXPECT_EQ(f.model.Records().Count(), 1);
    EXPECT_TRUE(f.ui.messages.empty());
}

TEST(SettingsLoad, UnreadableFileLeavesTheModelEmpty)
{
    SettingsFixture f;
    std::string broken = f.Write("broken.xml", "<device><sygnals>");
    EXPECT_FALSE(f.model.DS_Load(broken.c_str()));
    ASSERT_EQ(f.ui.messages.size(), 1u);
    EXPECT_EQ(f.ui.messages[0].rfind("Can't load file '" + broken + "':\n'", 0), 0u) << f.ui.messages[0];
    EXPECT_FALSE(f.model.IsLoaded());
    EXPECT_TRUE(f.model.Scalars().empty());
    EXPECT_TRUE(f.model.Groups().empty());
    EXPECT_EQ(f.model.CurrentGroup(), -1);
}

TEST(SettingsLoad, ShownSettingsAreTheCurrentGroupsInDocumentOrder)
{
    SettingsFixture f;
    std::string scalars = Scalar("A", "gid=\"7\" type=\"Integer\" position='" + Pos(2, 0, 1, 1) + "'") +
                          Scalar("B", "gid=\"8\" type=\"Integer\" position='" + Pos(2, 1, 1, 1) + "'") +
                          Scalar("C", "gid=\"7\" type=\"Integer\" position='" + Pos(2, 2, 1, 1) + "'") +
                          Scalar("D", "type=\"Integer\" position='" + Pos(2, 3, 1, 1) + "'");
    ASSERT_TRUE(f.Load(Description(Group(7, "Seven") + Group(8, "Eight", 2, Group(9, "Nine")), scalars)));
    auto names = [&] {
        std::vector<std::string> out;
        for (TiXmlElement* e : f.model.Shown())
            out.emplace_back(DS_Description(e));
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "C"}));
    EXPECT_TRUE(f.model.IsShown(f.Find("C")));
    EXPECT_FALSE(f.model.IsShown(f.Find("B")));
    f.model.SelectGroup(9, false);
    EXPECT_EQ(f.model.SelectedPath(), (std::vector<int>{1, 0}));
    EXPECT_TRUE(names().empty());
    f.model.SelectGroupAt({1});
    EXPECT_EQ(names(), std::vector<std::string>{"B"});
    // No such row: nothing selected, the settings without a group are shown.
    f.model.SelectGroup(5, false);
    EXPECT_TRUE(f.model.SelectedPath().empty());
    EXPECT_EQ(names(), std::vector<std::string>{"D"});
}
}  // namespace

namespace {
// The description the tool starts with must load without a single complaint.
TEST(SettingsLoad, DefaultDescriptionLoadsCleanly)
{
    RecordingSettingsUi ui;
    DeviceSettings model(&ui);
    std::string path = std::string(PELTA_RES_DIR) + "/Pelta.xml";
    ASSERT_TRUE(model.DS_Load(path.c_str()));
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0];
    EXPECT_GE(model.Groups().size(), 5u);
    EXPECT_FALSE(model.GroupPathOf(1000).empty());
    for (TiXmlElement* e : model.Scalars())
        EXPECT_NE(SignalInfo(e), nullptr) << DS_Description(e);
    EXPECT_TRUE(model.CheckAll(true, false)) << (ui.messages.empty() ? "" : ui.messages[0]);
}
}  // namespace
