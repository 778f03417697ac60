// The write records: how settings group into them and the load's grouping check.
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
std::string S(const char* name, int gid, int file, int rec, int offset)
{
    return Item(name, gid, "Integer", Pos(file, rec, offset, 1));
}

std::string Pair(const char* text, const char* a, const char* b)
{
    std::string s = std::string("Settings with equal file number and record number must be in ") + text;
    s.replace(s.find("^0"), 2, a);
    s.replace(s.find("^1"), 2, b);
    return s;
}

TEST(SettingsRecords, GroupingCheckNamesTheOffendingPair)
{
    const char* group = "one group.\n\nElement '^0' and '^1' in different groups.";
    const char* succession = "succession.\n\nElement '^0' and '^1' not in succession.";
    const std::string sameRead = "{\"r\":{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1},"
                                 "\"w\":{\"file\":2,\"rec\":9,\"offset\":1,\"count\":1}}";
    const struct {
        const char* name;
        std::string scalars;
        std::string message;  // empty: the load succeeds
    } cases[] = {
        {"third differs from the first", S("First", 1, 2, 0, 1) + S("Second", 1, 2, 0, 2) + S("Third", 2, 2, 0, 3),
         Pair(group, "First", "Third")},
        {"split by another record", S("A", 1, 2, 0, 1) + S("B", 1, 2, 1, 1) + S("C", 1, 2, 0, 2), Pair(succession, "A", "C")},
        {"second of three out of line", S("P", 1, 2, 0, 1) + S("Q", 1, 2, 0, 2) + S("R", 1, 2, 3, 1) + S("T", 1, 2, 0, 3),
         Pair(succession, "Q", "T")},
        {"a later record split", S("A", 1, 2, 0, 1) + S("B", 1, 2, 1, 1) + S("C", 1, 2, 2, 1) + S("D", 1, 2, 1, 2),
         Pair(succession, "B", "D")},
        {"only the read place shared", S("A", 1, 2, 0, 1) + S("B", 2, 2, 1, 1) + Item("C", 2, "Integer", sameRead), ""},
    };
    for (const auto& c : cases) {
        SettingsFixture f;
        EXPECT_EQ(f.Load(Description(Group(1, "G") + Group(2, "H"), c.scalars)), c.message.empty()) << c.name;
        EXPECT_EQ(f.ui.messages, c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message})
            << c.name;
        EXPECT_EQ(f.model.Scalars().empty(), !c.message.empty()) << c.name;
        EXPECT_EQ(f.model.Groups().empty(), !c.message.empty()) << c.name;
        EXPECT_EQ(f.model.Records().Count(), c.message.empty() ? 3 : 0) << c.name;
    }
}

TEST(SettingsRecords, ManyRecordsKeepTheirOrderAndMembers)
{
    SettingsFixture f;
    std::string scalars;
    const int records = 40;
    for (int r = 0; r < records; ++r)
        for (int k = 0; k < 1 + r % 3; ++k)
            scalars += S(("S" + std::to_string(r) + "." + std::to_string(k)).c_str(), 1, 30, r, 1 + k);
    ASSERT_TRUE(f.Load(Description(Group(1, "G"), scalars)));
    FileRecordsSet& set = f.model.Records();
    ASSERT_EQ(set.Count(), records);
    EXPECT_EQ(set.Capacity(), 48);
    for (int r = 0; r < records; ++r) {
        FileRecordEntry* entry = set.At(r);
        EXPECT_EQ(entry->key, FileRecordKey(30, r)) << r;
        ASSERT_EQ(entry->settings.Count(), 1 + r % 3) << r;
        for (int k = 0; k < entry->settings.Count(); ++k) {
            EXPECT_EQ(DS_Description(entry->settings.GetAt(k)), "S" + std::to_string(r) + "." + std::to_string(k));
            EXPECT_EQ(SignalInfo(entry->settings.GetAt(k))->entry, entry);
        }
    }
    EXPECT_EQ(set.At(records), nullptr);
    EXPECT_EQ(set.At(-1), nullptr);
}

TEST(SettingsRecords, FilesDifferingAboveBit16ShareAnEntry)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Description(Group(1, "G"), S("Low", 1, 21, 3, 1) + S("High", 1, 21 + 65536, 3 + 65536, 2) +
                                                      S("Other", 1, 22, 3, 1))));
    ASSERT_EQ(f.model.Records().Count(), 2);
    EXPECT_EQ(f.model.RecordSettings(f.Find("High")), (std::vector<TiXmlElement*>{f.Find("Low"), f.Find("High")}));
    EXPECT_EQ(f.model.RecordSettings(f.Find("Other")), std::vector<TiXmlElement*>{f.Find("Other")});
}
}  // namespace
