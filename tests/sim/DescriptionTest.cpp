// The sample description's round trip through the tool is the settings talk test's part.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "sim/SettingsSeed.h"
#include "sim/Unit.h"
#include "tests/base/TempDir.h"
#include "tests/sim/SimTestClient.h"

namespace {

namespace fs = std::filesystem;

std::string Position(int rFile, int rRec, int rOffset, int count, int wFile, int wRec, int wOffset, int byte = 0) {
    auto at = [&](int file, int rec, int offset) {
        return "{\"file\":" + std::to_string(file) + ",\"rec\":" + std::to_string(rec) + ",\"offset\":" +
               std::to_string(offset) + ",\"count\":" + std::to_string(count) + ",\"byte\":" + std::to_string(byte) +
               "}";
    };
    return "{\"r\":" + at(rFile, rRec, rOffset) + ",\"w\":" + at(wFile, wRec, wOffset) + "}";
}

std::string Scalar(const std::string& type, const std::string& position, const std::string& inner = "") {
    return "<scalar gid=\"1\" type=\"" + type + "\" position='" + position + "'><access>readwrite</access>" + inner +
           "</scalar>\n";
}

std::string Document(const std::string& scalars) { return "<device><sygnals>" + scalars + "</sygnals></device>"; }

struct Step {
    const char* name;
    uint16_t file, record;
    const char* registers;   // a read of as many registers as expected when null
    std::string expect;
};

void RunSteps(SimClient& client, const std::vector<Step>& steps) {
    for (const Step& s : steps)
        EXPECT_EQ(s.expect, s.registers ? client.Write(s.file, s.record, Hex(s.registers))
                                        : client.Read(s.file, s.record, (uint16_t)(s.expect.size() + 1) / 6))
            << s.name;
}

using DescriptionTest = SimTest;

TEST_F(DescriptionTest, ReadsFollowTheReadPositionsAndMarkValues) {
    // A: other file and offset; B: other record of the same file; C: a second write record
    // feeding A's read record; D: a read in an image file. Record 21/0 itself is named by no "r".
    TempDir dir;
    WriteText(dir / "d.xml", Document(Scalar("Integer", Position(22, 0, 2, 1, 21, 0, 1)) +
                                      Scalar("Integer", Position(21, 64, 1, 2, 21, 0, 2)) +
                                      Scalar("Integer", Position(22, 0, 1, 1, 24, 0, 3)) +
                                      Scalar("Integer", Position(3, 1, 1, 1, 25, 0, 1))));
    StartSim({"--description", dir / "d.xml"});
    Connect();
    // Record 0 of an image file takes settings too, but 8 registers with bit 15 clear are a header.
    RunSteps(client_, {
        {"4 registers at 3/0", 3, 0, "00 01 12 34 56 78 9A BC", "ok"},
        {"read as settings", 3, 0, nullptr, "00 01 12 34 56 78 9A BC"},
        {"8 registers with bit 15 at 5/0", 5, 0, "80 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "ok"},
        {"read as settings without values", 5, 0, nullptr, "00 00 00 00"},
        {"a header of count 5 for 0 bytes", 3, 0, "00 01 00 05 00 00 00 01 00 00 00 00 00 00 00 00", "exception 3"},
        {"the settings record stays", 3, 0, nullptr, "00 01 12 34"},
    });
    // A described read in an image file is settings once its write record is held.
    ASSERT_EQ("", WriteImage(client_, 3, PatternImage(24, 7), 0x11223344));
    RunSteps(client_, {
        {"the header replaced the settings record", 3, 0, nullptr, "00 01 00 02 00 00 00 18"},
        {"feeding record not written: the image record", 3, 1, nullptr, "00 01 00 03"},
        {"write the feeding record", 25, 0, "00 01 12 34", "ok"},
        {"now the settings", 3, 1, nullptr, "00 01 12 34"},
        {"write 21/0", 21, 0, "00 01 11 11 22 22 33 33", "ok"},
        {"24/0 not written yet", 22, 0, nullptr, "00 00 00 00 11 11"},
        {"other record; unnamed registers 0", 21, 64, nullptr, "00 01 22 22 33 33 00 00 00 00"},
        {"write 24/0", 24, 0, "00 01 00 00 00 00 44 44", "ok"},
        {"both feeders hold values", 22, 0, nullptr, "00 01 44 44 11 11"},
        {"write 24/0 without values", 24, 0, "80 01 00 00 00 00 00 00", "ok"},
        {"one feeder without values", 22, 0, nullptr, "00 00 00 00 11 11"},
        {"write an unnamed record", 100, 2, "00 01 12 34 56 78", "ok"},
        {"read back zero-padded", 100, 2, nullptr, "00 01 12 34 56 78 00 00 00 00"},
        {"a later settings write at 3/0 wins again", 3, 0, "00 01 00 2A", "ok"},
        {"read as settings", 3, 0, nullptr, "00 01 00 2A"},
    });
}

// Refused files, and more start-up records than the unit holds: a clear error, not a unit that lost some.
TEST(DescriptionReader, BadDescriptionsAreRefusedWithOneLine) {
    TempDir dir;
    std::string many;
    for (int file = 1; file <= (int)kMaxSettingsRecords + 1; ++file)
        many += Scalar("Integer", Position(file, 0, 1, 1, file, 0, 1), "<values><value>1</value></values>");
    const std::pair<std::string, const char*> cases[] = {
        {"", "0: No such file"},
        {"<device><sygnals>", "not XML"},
        {"<unit/>", "root element is not \"device\""},
        {"<device/>", "no \"sygnals\""},
        {"<?xml version=\"1.0\" encoding=\"no-such-code\"?><device/>", "cannot read it as no-such-code"},
        {Document(std::string(4u << 20, ' ')), "larger than 4 MiB"},
        {"<device><sygnals/></device>\xF3", "not valid UTF-8"},
        {Document(many), "7: the unit's settings store is full"},
    };
    const uint8_t version[4] = {1, 0, 0, 1};
    Unit unit(UnitIdentity(), version, kDefaultPassword);
    auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    auto before = openFiles();
    int i = 0;
    for (const auto& c : cases) {
        std::string path = dir / std::to_string(i++), error;
        if (!c.first.empty()) WriteText(path, c.first);
        size_t seeded = 0;
        std::vector<std::string> skipped;
        EXPECT_FALSE(SeedUnit(unit, path, &seeded, &skipped, &error)) << c.second;
        EXPECT_NE(std::string::npos, error.find(c.second)) << error;
    }
    EXPECT_EQ(before, openFiles()) << "a refused file is closed";
    SimProcess sim({"--settings-values", dir / "1"});
    EXPECT_FALSE(sim.Start());
    EXPECT_EQ(2, sim.ExitCode());
    std::string out = sim.Output();
    EXPECT_EQ("pelta-sim: bad settings values " + dir / "1" + ": not XML", out.substr(0, out.find(": Error"))) << out;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
}

// Unplaceable settings are skipped with a reason; start-up values go into whole write records with
// the password, none when a setting cannot be coded or lacks values. Expect: the record or why not.
TEST(DescriptionReader, SettingsArePlacedOrSkippedAndStartUpValuesCodedIntoWholeWriteRecords) {
    const std::string at1 = "{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1}";
    auto raw = [&](const std::string& r) { return "{\"r\":" + r + ",\"w\":" + at1 + "}"; };
    const char* outside = "position at register 0 or outside";
    struct Case {
        const char* type;
        int file, offset, count;
        const char* inner;   // units, indexes, values
        const char* expect;
        std::string position = "";   // else r and w at (file, 0, offset, count)
    } cases[] = {
        {"Integer", 30, 1, 2, "<values><value>0x10</value></values>", "12 34 00 00 00 10"},
        {"Integer", 31, 1, 4, "<values><value>-1</value></values>", "12 34 FF FF FF FF FF FF FF FF"},
        {"Float", 32, 1, 1, "<units>0.5</units><values><value>-1.25</value></values>", "12 34 FF FD"},
        {"IntArray", 33, 1, 2, "<indexes>a,b</indexes><values><value>513</value><value>2</value></values>",
         "12 34 02 01 00 02"},
        {"IntArray", 34, 1, 2, "<indexes>a,b</indexes><values><value>1</value></values>", "'34': no value 2"},
        {"String", 35, 1, 1, "<values><value>abc</value></values>", "12 34 61 62"},
        {"StringArray", 36, 1, 2, "<indexes>a,b</indexes><values><value>ab</value><value>c</value></values>",
         "12 34 61 62 63 00"},
        {"Integer", 37, 1, 3, "<values><value>1</value></values>", "'37': values of 6 bytes cannot be coded"},
        {"Integer", 38, 3, 1, "<values><value>7</value></values>", "12 34 00 08 00 00 00 07"},
        {"Integer", 38, 1, 1, "<values><value>8</value></values>", "12 34 00 08 00 00 00 07"},
        {"Integer", 39, 1, 1, "<values><value>1</value></values>", "some of its settings have no values"},
        {"Integer", 39, 2, 1, "", "some of its settings have no values"},
        {"Integer", 40, 1, 1, "", "no record"},   // a record without any values is not mentioned
        {"Double", 41, 1, 1, "", "unsupported type 'Double'"},
        {"Integer", 42, 1, 1, "", "position is no JSON", "{\"r\":"},
        {"Integer", 43, 1, 1, "", "position lacks r or w", raw("5")},
        {"Integer", 44, 1, 1, "", "read and write counts", raw("{\"file\":2,\"rec\":0,\"offset\":1,\"count\":2}")},
        {"Integer", 45, 1, 1, "", outside, Position(2, 0, 63, 2, 2, 0, 1)},
        {"Integer", 46, 1, 1, "", outside, Position(2, 0, 1, 1, 2, 0, 1, 3)},
        {"Integer", 47, 1, 1, "", outside, raw("{\"file\":2,\"rec\":0,\"offset\":9223372036854775807,\"count\":1}")},
        {"Integer", 48, 1, 1, "", outside, Position(2, 0, 1, 1, 2, 0, 0)},
        {"IntArray", 49, 1, 1, "", "no values"},
        // The last register is still in the record.
        {"Integer", 50, 1, 1, "<values><value>5</value></values>", "12 34 00 05", Position(2, 0, 63, 1, 50, 0, 1)},
    };
    std::string scalars;
    for (const Case& c : cases) {
        std::string at = c.position.empty() ? Position(c.file, 0, c.offset, c.count, c.file, 0, c.offset) : c.position;
        scalars += Scalar(c.type, at, "<description>" + std::to_string(c.file) + "</description>" + c.inner);
    }
    SimDescription d;
    std::string error;
    ASSERT_TRUE(ParseDescription(Document(scalars), &d, &error)) << error;
    std::vector<std::string> skipped = d.skipped;
    std::vector<SeedRecord> records = SeedRecords(d, 0x1234, &skipped);
    for (const Case& c : cases) {
        std::string got = "no record", file = std::to_string(c.file);
        for (const SeedRecord& r : records)
            if (r.file == c.file) got = ToHex(r.registers);
        for (const std::string& s : skipped)   // from the reader or the coder
            for (const std::string& at : {"'" + file + "': ", "file " + file + " record 0: "})
                if (s.compare(0, at.size(), at) == 0) got = s.substr(at.size(), std::string(c.expect).size());
        EXPECT_EQ(c.expect, got) << c.type << " in file " << c.file;
    }
    // A read shorter than a setting fills only the registers asked for (a wider bound wrote past them).
    SettingsRecords held;
    ASSERT_TRUE(held.Write(31, 0, Hex("00 01 11 11 22 22 33 33 44 44").data(), 5));
    Bytes out(16, 0xEE);
    SettingsLayout(d).Read(held, 31, 0, 2, out.data());
    EXPECT_EQ("00 01 11 11 EE EE EE EE EE EE EE EE EE EE EE EE", ToHex(out));
}

}  // namespace
