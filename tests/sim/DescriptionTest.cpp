// Settings descriptions in the simulator: reads follow the "r" positions, register 0 tells whether
// the feeding writes carried values, start-up values coded as the tool codes them, refusals. That
// the sample settings file's values come out of the unit as the tool reads them is the settings
// talk test's part; here the edges that file does not reach.
#include <gtest/gtest.h>
#include <glib.h>

#include <algorithm>
#include <cstring>

#include "sim/SettingsSeed.h"
#include "sim/SimDescription.h"
#include "tests/base/TempDir.h"
#include "tests/sim/SimTestClient.h"

namespace {

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

// Steps against a running unit: a write of `registers` (expect "ok" or "exception N"), or,
// with registers null, a read of `length` registers (expect their hex).
struct Step {
    const char* name;
    uint16_t file, record;
    const char* registers;
    uint16_t length;
    std::string expect;
};

void RunSteps(RawClient& client, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        Bytes a = client.Transact(s.registers ? WriteRecordFrame(s.file, s.record, Hex(s.registers))
                                              : ReadRecordFrame(s.file, s.record, s.length));
        std::string got = a.size() < 9 ? "no answer" : a[7] > 0x80 ? "exception " + std::to_string(a[8]) : "ok";
        EXPECT_EQ(s.expect, s.registers || a.size() < 9 || a[7] > 0x80 ? got : ToHex(RecordData(a))) << s.name;
    }
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
        {"4 registers at 3/0", 3, 0, "00 01 12 34 56 78 9A BC", 0, "ok"},
        {"read as settings", 3, 0, nullptr, 4, "00 01 12 34 56 78 9A BC"},
        {"8 registers with bit 15 at 5/0", 5, 0, "80 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 0, "ok"},
        {"read as settings without values", 5, 0, nullptr, 2, "00 00 00 00"},
        {"a header with a count of 5 for 0 bytes", 3, 0, "00 01 00 05 00 00 00 01 00 00 00 00 00 00 00 00", 0,
         "exception 3"},
        {"the settings record stays", 3, 0, nullptr, 2, "00 01 12 34"},
    });
    // A described read in an image file is settings once its write record is held.
    ASSERT_EQ("", WriteImage(client_, 3, PatternImage(24, 7), 0x11223344));
    RunSteps(client_, {
        {"the header replaced the settings record", 3, 0, nullptr, 4, "00 01 00 02 00 00 00 18"},
        {"feeding record not written: the image record", 3, 1, nullptr, 2, "00 01 00 03"},
        {"write the feeding record", 25, 0, "00 01 12 34", 0, "ok"},
        {"now the settings", 3, 1, nullptr, 2, "00 01 12 34"},
        {"an unnamed image record stays", 3, 2, nullptr, 1, "00 01"},
        {"never written", 22, 0, nullptr, 3, "00 00 00 00 00 00"},
        {"write 21/0", 21, 0, "00 01 11 11 22 22 33 33", 0, "ok"},
        {"24/0 not written yet", 22, 0, nullptr, 3, "00 00 00 00 11 11"},
        {"other record; unnamed registers 0", 21, 64, nullptr, 5, "00 01 22 22 33 33 00 00 00 00"},
        {"short read", 21, 64, nullptr, 2, "00 01 22 22"},
        {"unnamed record as written", 21, 0, nullptr, 4, "00 01 11 11 22 22 33 33"},
        {"write 24/0", 24, 0, "00 01 00 00 00 00 44 44", 0, "ok"},
        {"both feeders hold values", 22, 0, nullptr, 3, "00 01 44 44 11 11"},
        {"write 24/0 without values", 24, 0, "80 01 00 00 00 00 00 00", 0, "ok"},
        {"one feeder without values", 22, 0, nullptr, 3, "00 00 00 00 11 11"},
        {"write 21/0 without values", 21, 0, "80 01 00 00 00 00 00 00", 0, "ok"},
        {"other record without values", 21, 64, nullptr, 3, "00 00 00 00 00 00"},
        {"unnamed record without values", 21, 0, nullptr, 2, "00 00 00 00"},
        {"write an unnamed record", 100, 2, "00 01 12 34 56 78", 0, "ok"},
        {"read back zero-padded", 100, 2, nullptr, 5, "00 01 12 34 56 78 00 00 00 00"},
        {"a later settings write at 3/0 wins again", 3, 0, "00 01 00 2A", 0, "ok"},
        {"read as settings", 3, 0, nullptr, 2, "00 01 00 2A"},
    });
}

TEST(DescriptionReader, BadDescriptionsAreRefusedWithOneLine) {
    TempDir dir;
    const std::pair<std::string, const char*> cases[] = {
        {"", "0: No such file"},
        {"<device><sygnals>", "not XML"},
        {"<unit/>", "root element is not \"device\""},
        {"<device/>", "no \"sygnals\""},
        {"<?xml version=\"1.0\" encoding=\"no-such-code\"?><device/>", "cannot read it as no-such-code"},
        {Document(std::string(4u << 20, ' ')), "larger than 4 MiB"},
        {"<device><sygnals/></device>\xF3", "not valid UTF-8"},
    };
    auto openFiles = [] {
        GDir* fds = g_dir_open("/proc/self/fd", 0, nullptr);
        int n = 0;
        while (fds && g_dir_read_name(fds)) ++n;
        if (fds) g_dir_close(fds);
        return n;
    };
    int before = openFiles(), i = 0;
    for (const auto& c : cases) {
        std::string path = dir / std::to_string(i++), error;
        if (!c.first.empty()) WriteText(path, c.first);
        SimDescription d;
        EXPECT_FALSE(LoadDescription(path, &d, &error)) << c.second;
        EXPECT_NE(std::string::npos, error.find(c.second)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    }
    EXPECT_EQ(before, openFiles()) << "a refused file is closed";
    SimProcess sim({"--settings-values", dir / "1"});
    EXPECT_FALSE(sim.Start());
    EXPECT_EQ(2, sim.ExitCode());
    std::string out = sim.Output();
    EXPECT_EQ("pelta-sim: bad settings values " + dir / "1" + ": not XML", out.substr(0, out.find(": Error"))) << out;
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
}

TEST(DescriptionReader, SettingsTheUnitCannotPlaceAreSkippedWithAReason) {
    const std::string at1 = "{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1}";
    auto raw = [](const std::string& r, const std::string& w) { return "{\"r\":" + r + ",\"w\":" + w + "}"; };
    const std::pair<std::string, const char*> cases[] = {
        {"<scalar type=\"Integer\" position='" + Position(2, 0, 1, 1, 2, 0, 1) + "'><access>read</access></scalar>",
         "not readwrite"},
        {Scalar("Double", Position(2, 0, 1, 1, 2, 0, 1)), "unsupported type 'Double'"},
        {Scalar("Integer", "{\"r\":"), "position is no JSON"},
        {Scalar("Integer", raw(at1, "{\"file\":2,\"rec\":0,\"offset\":1}")), "lacks r or w"},
        {Scalar("Integer", raw(at1, "{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1.5}")), "lacks r or w"},
        {Scalar("Integer", raw("5", at1)), "lacks r or w"},
        {Scalar("Integer", raw("{\"file\":2,\"rec\":0,\"offset\":1,\"count\":2}", at1)), "counts differ"},
        {Scalar("Integer", Position(2, 0, 63, 2, 2, 0, 1)), "outside a 64-register record"},
        {Scalar("Integer", Position(2, 0, 1, 1, 2, 0, 1, 3)), "outside a 64-register record"},
        {Scalar("Integer", raw("{\"file\":2,\"rec\":0,\"offset\":9223372036854775807,\"count\":1}", at1)),
         "outside a 64-register"},
        {Scalar("Integer", Position(2, 0, 1, 1, 2, 0, 0)), "at register 0"},
        {Scalar("IntArray", Position(2, 0, 1, 1, 2, 0, 1)), "no values"},
        {Scalar("Integer", Position(2, 0, 63, 1, 2, 0, 62)), ""},   // the last register is still in the record
    };
    for (const auto& c : cases) {
        SimDescription d;
        std::string error;
        ASSERT_TRUE(ParseDescription(Document(c.first), &d, &error)) << error;
        std::string skipped = d.skipped.empty() ? "" : d.skipped[0];
        EXPECT_EQ(*c.second ? 0u : 1u, d.settings.size()) << c.second;
        EXPECT_EQ(*c.second ? 1u : 0u, d.skipped.size()) << c.second;
        EXPECT_NE(std::string::npos, skipped.find(c.second)) << skipped;
    }
}

// The start-up coder's edges, over a record prefilled with FF. Expect: the setting's registers,
// or "fails".
TEST(DescriptionReader, ValuesAreCodedAsTheToolWritesThem) {
    struct Case {
        const char* type;
        int count;
        const char* inner;   // units, indexes
        std::vector<const char*> values;
        const char* expect;
    } cases[] = {
        {"Integer", 2, "", {"0x10"}, "00 00 00 10"},
        {"Integer", 4, "", {"-1"}, "FF FF FF FF FF FF FF FF"},
        {"Float", 1, "<units>0.5</units>", {"-1.25"}, "FF FD"},
        {"IntArray", 2, "<indexes>a,b</indexes>", {"513", "2"}, "02 01 00 02"},
        {"IntArray", 2, "<indexes>a,b</indexes>", {"1"}, "fails"},
        {"String", 1, "", {"abc"}, "61 62"},
        {"StringArray", 2, "<indexes>a,b</indexes>", {"ab", "c"}, "61 62 63 00"},
        {"Integer", 3, "", {"1"}, "fails"},
    };
    for (const Case& c : cases) {
        std::string values = "<values>";
        for (const char* v : c.values) values += std::string("<value><![CDATA[") + v + "]]></value>";
        std::string scalar = Scalar(c.type, Position(30, 0, 1, c.count, 30, 0, 1), c.inner + values + "</values>");
        SimDescription d;
        std::string error, why;
        ASSERT_TRUE(ParseDescription(Document(scalar), &d, &error)) << error;
        ASSERT_EQ(1u, d.settings.size()) << c.type << " " << c.expect;
        uint8_t record[kRecordRegisterLimit * 2];
        memset(record, 0xFF, sizeof record);
        bool ok = EncodeSetting(d.settings[0], record, &why);
        EXPECT_EQ(c.expect, ok ? ToHex(Bytes(record + 2, record + 2 + c.count * 2)) : "fails")
            << c.type << " " << c.values[0] << " " << why;
    }
}

TEST(DescriptionReader, StartUpRecordsAreWholeWriteRecordsWithThePassword) {
    auto valued = [](const char* name, const std::string& position, const char* value) {
        return Scalar("Integer", position,
                      std::string("<description>") + name + "</description><values><value>" + value + "</value></values>");
    };
    SimDescription d;
    std::string error;
    ASSERT_TRUE(ParseDescription(
        Document(valued("a", Position(2, 0, 3, 1, 22, 0, 3), "7") + valued("b", Position(2, 0, 1, 1, 22, 0, 1), "8") +
                 Scalar("Integer", Position(2, 1, 1, 1, 23, 0, 1)) + valued("c", Position(2, 2, 1, 1, 24, 0, 1), "1") +
                 Scalar("Integer", Position(2, 2, 2, 1, 24, 0, 2)) + valued("e", Position(2, 4, 1, 3, 26, 5, 1), "1")),
        &d, &error))
        << error;
    std::vector<std::string> skipped;
    std::vector<SeedRecord> records = SeedRecords(d, 0x1234, &skipped);
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(22, records[0].file);
    EXPECT_EQ("12 34 00 08 00 00 00 07", ToHex(records[0].registers)) << "both settings, as long as the furthest";
    // 23/0 has no values at all and is not mentioned.
    EXPECT_EQ((std::vector<std::string>{"file 24 record 0: some of its settings have no values",
                                        "file 26 record 5: 'e': values of 6 bytes cannot be coded"}),
              skipped);
}

}  // namespace
