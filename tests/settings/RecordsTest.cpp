// The write records: how settings group into them and the load's grouping check.
#include <gtest/gtest.h>

#include "tests/settings/SettingsTestSupport.h"

namespace {
std::string At(int gid, int file, int rec, int offset)
{
    return "gid=\"" + std::to_string(gid) + "\" type=\"Integer\" position='" + Pos(file, rec, offset, 1) + "'";
}

struct GroupingCase {
    const char* name;
    std::string scalars;
    std::string message;
};

TEST(SettingsRecords, GroupingCheckNamesTheOffendingPair)
{
    const std::string oneGroup =
        "Settings with equal file number and record number must be in one group.\n\n"
        "Element '^0' and '^1' in different groups.";
    const std::string succession =
        "Settings with equal file number and record number must be in succession.\n\n"
        "Element '^0' and '^1' not in succession.";
    auto msg = [](std::string text, const char* a, const char* b) {
        text.replace(text.find("^0"), 2, a);
        text.replace(text.find("^1"), 2, b);
        return text;
    };
    const GroupingCase cases[] = {
        {"third differs from the first",
         Scalar("First", At(1, 2, 0, 1)) + Scalar("Second", At(1, 2, 0, 2)) + Scalar("Third", At(2, 2, 0, 3)),
         msg(oneGroup, "First", "Third")},
        {"split by another record",
         Scalar("A", At(1, 2, 0, 1)) + Scalar("B", At(1, 2, 1, 1)) + Scalar("C", At(1, 2, 0, 2)),
         msg(succession, "A", "C")},
        {"second of three out of line",
         Scalar("P", At(1, 2, 0, 1)) + Scalar("Q", At(1, 2, 0, 2)) + Scalar("R", At(1, 2, 3, 1)) +
             Scalar("S", At(1, 2, 0, 3)),
         msg(succession, "Q", "S")},
        {"first record is fine, second split",
         Scalar("A", At(1, 2, 0, 1)) + Scalar("B", At(1, 2, 1, 1)) + Scalar("C", At(1, 2, 2, 1)) +
             Scalar("D", At(1, 2, 1, 2)),
         msg(succession, "B", "D")},
    };
    for (const GroupingCase& c : cases) {
        SettingsFixture f;
        EXPECT_FALSE(f.Load(Description(Group(1, "G") + Group(2, "H"), c.scalars))) << c.name;
        EXPECT_EQ(f.ui.messages, std::vector<std::string>{c.message}) << c.name;
        EXPECT_TRUE(f.model.Scalars().empty()) << c.name;
        EXPECT_TRUE(f.model.Groups().empty()) << c.name;
        EXPECT_EQ(f.model.Records().Count(), 0) << c.name;
    }
}

TEST(SettingsRecords, SharingOnlyTheReadPositionIsNotChecked)
{
    SettingsFixture f;
    std::string sameRead = "{\"r\":{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1},"
                           "\"w\":{\"file\":2,\"rec\":9,\"offset\":1,\"count\":1}}";
    std::string scalars = Scalar("A", At(1, 2, 0, 1)) + Scalar("B", At(2, 2, 1, 1)) +
                          Scalar("C", "gid=\"2\" type=\"Integer\" position='" + sameRead + "'");
    EXPECT_TRUE(f.Load(Description(Group(1, "G") + Group(2, "H"), scalars)));
    EXPECT_TRUE(f.ui.messages.empty());
    EXPECT_EQ(f.model.Records().Count(), 3);
}

TEST(SettingsRecords, ManyRecordsKeepTheirOrderAndMembers)
{
    SettingsFixture f;
    std::string scalars;
    const int records = 40;
    for (int r = 0; r < records; ++r)
        for (int k = 0; k < 1 + r % 3; ++k)
            scalars += Scalar("S" + std::to_string(r) + "." + std::to_string(k), At(1, 30, r, 1 + k));
    ASSERT_TRUE(f.Load(Description(Group(1, "G"), scalars)));
    FileRecordsSet& set = f.model.Records();
    ASSERT_EQ(set.Count(), records);
    EXPECT_EQ(set.Capacity(), 48);
    for (int r = 0; r < records; ++r) {
        FileRecordEntry* entry = set.At(r);
        EXPECT_EQ(entry->key, FileRecordKey(30, r)) << r;
        ASSERT_EQ(entry->settings.Count(), 1 + r % 3) << r;
        for (int k = 0; k < entry->settings.Count(); ++k) {
            TiXmlElement* e = entry->settings.GetAt(k);
            EXPECT_EQ(DS_Description(e), "S" + std::to_string(r) + "." + std::to_string(k));
            EXPECT_EQ(SignalInfo(e)->entry, entry);
        }
    }
    EXPECT_EQ(set.At(records), nullptr);
    EXPECT_EQ(set.At(-1), nullptr);
}

TEST(SettingsRecords, FilesDifferingAboveBit16ShareAnEntry)
{
    SettingsFixture f;
    std::string scalars = Scalar("Low", At(1, 21, 3, 1)) + Scalar("High", At(1, 21 + 65536, 3 + 65536, 2)) +
                          Scalar("Other", At(1, 22, 3, 1));
    ASSERT_TRUE(f.Load(Description(Group(1, "G"), scalars)));
    ASSERT_EQ(f.model.Records().Count(), 2);
    EXPECT_EQ(f.model.Records().At(0)->settings.Count(), 2);
    std::vector<TiXmlElement*> together = f.model.RecordSettings(f.Find("High"));
    ASSERT_EQ(together.size(), 2u);
    EXPECT_EQ(together[0], f.Find("Low"));
    EXPECT_EQ(together[1], f.Find("High"));
}

TEST(SettingsRecords, ClearEmptiesEverything)
{
    SettingsFixture f;
    ASSERT_TRUE(f.Load(Description(Group(1, "G"), Scalar("A", At(1, 2, 0, 1)))));
    int rebuilt = f.ui.rebuilt;
    f.model.DS_Clear();
    EXPECT_EQ(f.model.Records().Count(), 0);
    EXPECT_EQ(f.model.Records().Capacity(), 0);
    EXPECT_TRUE(f.model.Groups().empty());
    EXPECT_TRUE(f.model.Shown().empty());
    EXPECT_EQ(f.model.Document().FirstChild(), nullptr);
    EXPECT_GT(f.ui.rebuilt, rebuilt);
}
}  // namespace
