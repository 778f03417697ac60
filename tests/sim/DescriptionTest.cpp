// Settings descriptions in the simulator: reads follow the "r" positions, register 0 tells
// whether the feeding writes carried values, start-up values coded as the tool codes them,
// refused descriptions, and settings records at record 0 of the image files.
#include <gtest/gtest.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/SettingsSeed.h"
#include "sim/SimDescription.h"
#include "tests/sim/SimFixture.h"

namespace {

const std::string kSource = PELTA_TEST_SOURCE_DIR;

std::string Position(int rFile, int rRec, int rOffset, int count, int wFile, int wRec, int wOffset, int byte = 0) {
    char text[256];
    snprintf(text, sizeof text,
             "{\"r\":{\"file\":%d,\"rec\":%d,\"offset\":%d,\"count\":%d,\"byte\":%d},"
             "\"w\":{\"file\":%d,\"rec\":%d,\"offset\":%d,\"count\":%d,\"byte\":%d}}",
             rFile, rRec, rOffset, count, byte, wFile, wRec, wOffset, count, byte);
    return text;
}

std::string Scalar(const std::string& type, const std::string& position, const std::string& inner = "") {
    return "<scalar gid=\"1\" type=\"" + type + "\" position='" + position + "'><access>readwrite</access>" + inner +
           "</scalar>\n";
}

std::string Document(const std::string& scalars) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<device><sygnals><groups/>\n" + scalars +
           "</sygnals></device>\n";
}

struct TempFile {
    std::string path;
    explicit TempFile(const std::string& content) {
        char name[] = "/tmp/pelta-desc-XXXXXX";
        int fd = mkstemp(name);
        path = name;
        if (fd >= 0) {
            EXPECT_EQ((ssize_t)content.size(), write(fd, content.data(), content.size()));
            close(fd);
        }
    }
    ~TempFile() { unlink(path.c_str()); }
};

std::string WriteOutcome(const Bytes& answer) {
    if (answer.size() >= 9 && answer[7] == 21) return "ok";
    return answer.size() >= 9 ? "exception " + std::to_string(answer[8]) : "no answer";
}

// One step against a running unit: a write (expect "ok" or "exception N") or a read of
// `length` registers (expect their hex).
struct Step {
    const char* name;
    uint16_t file, record;
    const char* write;   // registers to write, or null for a read
    uint16_t length;
    const char* expect;
};

void RunSteps(RawClient& client, const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        if (s.write)
            EXPECT_EQ(s.expect, WriteOutcome(client.Transact(WriteRecordFrame(s.file, s.record, Hex(s.write)))))
                << s.name;
        else
            EXPECT_EQ(s.expect, ToHex(RecordData(client.Transact(ReadRecordFrame(s.file, s.record, s.length)))))
                << s.name;
    }
}

using DescriptionTest = SimTest;

TEST_F(DescriptionTest, ReadsFollowTheReadPositionsAndMarkValues) {
    // A: other file and offset; B: other record of the same file; C: a second write record
    // feeding A's read record; D: a read in an image file. Record 21/0 itself is named by no "r".
    TempFile description(Document(Scalar("Integer", Position(22, 0, 2, 1, 21, 0, 1)) +
                                  Scalar("Integer", Position(21, 64, 1, 2, 21, 0, 2)) +
                                  Scalar("Integer", Position(22, 0, 1, 1, 24, 0, 3)) +
                                  Scalar("Integer", Position(3, 1, 1, 1, 25, 0, 1))));
    StartSim({"--description", description.path});
    Connect();
    // A described read in an image file is settings once its write record is held.
    ImageWriteResult image = WriteImage(client_, 3, PatternImage(24, 7), 0x11223344);
    ASSERT_TRUE(image.ok) << image.failure;
    RunSteps(client_, {
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
        {"unnamed, never written", 40, 0, nullptr, 2, "00 00 00 00"},
    });
}

TEST_F(DescriptionTest, WithoutADescriptionRecordsReadAsWrittenAndImageFilesTakeSettingsAtRecord0) {
    StartSim();
    Connect();
    const char* zeros14 = "00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    std::string flagged8 = std::string("80 01 ") + zeros14, zeros64 = "00";
    for (int i = 1; i < 128; ++i) zeros64 += " 00";
    RunSteps(client_, {
        {"values", 100, 2, "00 01 12 34 56 78", 0, "ok"},
        {"read back, zero-padded", 100, 2, nullptr, 5, "00 01 12 34 56 78 00 00 00 00"},
        {"written without values", 100, 3, "80 01 00 00 00 00", 0, "ok"},
        {"read as empty", 100, 3, nullptr, 3, "00 00 00 00 00 00"},
        {"never written, 64 registers", 7, 9, nullptr, 64, zeros64.c_str()},
        {"4 registers at 3/0", 3, 0, "00 01 12 34 56 78 9A BC", 0, "ok"},
        {"read as settings", 3, 0, nullptr, 4, "00 01 12 34 56 78 9A BC"},
        {"8 registers with bit 15 at 5/0", 5, 0, flagged8.c_str(), 0, "ok"},
        {"read as settings without values", 5, 0, nullptr, 2, "00 00 00 00"},
        {"8 registers, bit 15 clear: a header, inconsistent", 3, 0, "00 01 00 05 00 00 00 01 00 00 00 00 00 00 00 00",
         0, "exception 3"},
        {"the settings record stays", 3, 0, nullptr, 2, "00 01 12 34"},
    });
    ImageWriteResult image = WriteImage(client_, 3, PatternImage(24, 7), 0x11223344);
    ASSERT_TRUE(image.ok) << image.failure;
    Bytes header = RecordData(client_.Transact(ReadRecordFrame(3, 0, 8)));
    ASSERT_EQ(16u, header.size());
    EXPECT_EQ("00 01 00 02 00 00 00 18", ToHex(Bytes(header.begin(), header.begin() + 8)))
        << "the header replaced the settings record";
    RunSteps(client_, {
        {"a later settings write wins again", 3, 0, "00 01 00 2A", 0, "ok"},
        {"read as settings", 3, 0, nullptr, 2, "00 01 00 2A"},
    });
}

TEST_F(DescriptionTest, StartUpValuesAreCodedIntoTheRecordsNotYetHeld) {
    char dir[] = "/tmp/pelta-seed-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string state = dir;
    StartSim({"--state-dir", state});
    Connect();
    RunSteps(client_, {{"held before", 21, 0, "00 01 01 F7", 0, "ok"}});
    client_.Close();
    StopSim();
    StartSim({"--state-dir", state, "--description", kSource + "/res/Pelta.xml", "--settings-values",
              kSource + "/res/samples/Pelta-ru.xml"});
    EXPECT_TRUE(sim_->WaitForOutput("Pelta-ru.xml: 7 records stored", kIoTimeoutMs)) << sim_->Output();
    Connect();
    RunSteps(client_, {
        {"addresses", 2, 0, nullptr, 7, "00 01 C0 A8 0A 14 FF FF FF 00 C0 A8 0A 01"},
        {"CP1251 identifier, MAC, mode", 2, 64, nullptr, 8, "00 01 CD E0 F1 EE F1 33 02 50 45 4C 54 41 00 00"},
        {"a record the unit held is kept", 21, 0, nullptr, 2, "00 01 01 F7"},
        {"scaled values", 23, 0, nullptr, 8, "00 01 00 0A 07 D0 07 D0 07 D0 01 F4 00 00 30 D4"},
        {"bits and byte share a register", 24, 0, nullptr, 3, "00 01 17 14 CD E0"},
        {"Tamrin link read where r says", 26, 0, nullptr, 5, "00 01 00 00 4B 00 00 11 00 32"},
    });
    client_.Close();
    StopSim();
    ASSERT_EQ(0, system(("rm -rf '" + state + "'").c_str()));
}

TEST(DescriptionReader, BadDescriptionsAreRefusedWithOneLine) {
    TempFile notXml("<device><sygnals>");
    TempFile wrongRoot("<unit/>");
    TempFile noSygnals("<device/>");
    TempFile badEncoding("<?xml version=\"1.0\" encoding=\"no-such-code\"?><device/>");
    TempFile cutShort("<device><sygnals/></device>\xF3");
    TempFile huge(Document(std::string(4u << 20, ' ')));
    struct Case {
        std::string path;
        const char* reason;
    } cases[] = {
        {"/nonexistent/Pelta.xml", "/nonexistent/Pelta.xml: No such file"},
        {notXml.path, "not XML"},
        {wrongRoot.path, "root element is not \"device\""},
        {noSygnals.path, "no \"sygnals\""},
        {badEncoding.path, "cannot read it as no-such-code"},
        {huge.path, "larger than 4 MiB"},
        {cutShort.path, "not valid UTF-8"},
    };
    auto openFiles = [] {
        GDir* dir = g_dir_open("/proc/self/fd", 0, nullptr);
        int n = 0;
        while (dir && g_dir_read_name(dir)) ++n;
        if (dir) g_dir_close(dir);
        return n;
    };
    int before = openFiles();
    for (const Case& c : cases) {
        SimDescription d;
        std::string error;
        EXPECT_FALSE(LoadDescription(c.path, &d, &error)) << c.reason;
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    }
    EXPECT_EQ(before, openFiles()) << "a refused file is closed";
    for (const char* option : {"--description", "--settings-values"}) {
        SimProcess sim({option, notXml.path});
        EXPECT_FALSE(sim.Start());
        EXPECT_EQ(2, sim.ExitCode()) << option;
        std::string out = sim.Output();
        EXPECT_NE(std::string::npos, out.find(option[2] == 'd' ? "bad description " : "bad settings values ")) << out;
        EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    }
}

TEST(DescriptionReader, SettingsTheUnitCannotPlaceAreSkippedWithAReason) {
    const std::string at1 = "{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1}";
    auto raw = [](const std::string& r, const std::string& w) {
        return Scalar("Integer", "{\"r\":" + r + ",\"w\":" + w + "}");
    };
    struct Case {
        std::string scalar;
        const char* reason;
    } cases[] = {
        {"<scalar type=\"Integer\" position='" + Position(2, 0, 1, 1, 2, 0, 1) + "'><access>read</access></scalar>",
         "not readwrite"},
        {Scalar("Double", Position(2, 0, 1, 1, 2, 0, 1)), "unsupported type 'Double'"},
        {Scalar("Integer", "{\"r\":"), "position is no JSON"},
        {raw(at1, "{\"file\":2,\"rec\":0,\"offset\":1}"), "lacks r or w"},
        {raw(at1, "{\"file\":2,\"rec\":0,\"offset\":1,\"count\":1.5}"), "lacks r or w"},
        {raw("5", at1), "lacks r or w"},
        {raw("{\"file\":2,\"rec\":0,\"offset\":1,\"count\":2}", at1), "counts differ"},
        {Scalar("Integer", Position(2, 0, 63, 2, 2, 0, 1)), "outside a 64-register record"},
        {Scalar("Integer", Position(2, 0, 1, 1, 2, 0, 1, 3)), "outside a 64-register record"},
        {raw("{\"file\":2,\"rec\":0,\"offset\":9223372036854775807,\"count\":1}", at1), "outside a 64-register"},
        {Scalar("Integer", Position(2, 0, 1, 1, 2, 0, 0)), "at register 0"},
        {Scalar("IntArray", Position(2, 0, 1, 1, 2, 0, 1)), "no values"},
    };
    for (const Case& c : cases) {
        SimDescription d;
        std::string error;
        ASSERT_TRUE(ParseDescription(Document(c.scalar), &d, &error)) << error;
        EXPECT_TRUE(d.settings.empty()) << c.reason;
        ASSERT_EQ(1u, d.skipped.size()) << c.reason;
        EXPECT_NE(std::string::npos, d.skipped[0].find(c.reason)) << d.skipped[0];
    }
    SimDescription d;
    std::string error;
    ASSERT_TRUE(ParseDescription(Document(Scalar("Integer", Position(2, 0, 63, 1, 2, 0, 62))), &d, &error));
    EXPECT_EQ(1u, d.settings.size()) << "the last register of a record is still in it";
}

// The start-up coder against the write rules, over a record prefilled with FF so that
// byte-mode settings show which bits they keep. Expect: the setting's registers, or "fails".
TEST(DescriptionReader, ValuesAreCodedAsTheToolWritesThem) {
    struct Case {
        const char* type;
        int count;
        int byte;
        const char* inner;   // units, format, indexes
        std::vector<const char*> values;
        const char* expect;
    } cases[] = {
        {"Integer", 1, 0, "<units>0.5</units>", {"7"}, "00 0E"},
        {"Integer", 1, 0, "<units>1</units>", {"7"}, "00 07"},
        {"Integer", 2, 0, "", {"0x10"}, "00 00 00 10"},
        {"Integer", 1, 0, "", {"010"}, "00 08"},
        {"Integer", 4, 0, "", {"-1"}, "FF FF FF FF FF FF FF FF"},
        {"Integer", 1, 2, "", {"300"}, "FF 2C"},
        {"Float", 1, 0, "<units>0.1</units>", {"2.46"}, "00 19"},
        {"Float", 1, 0, "<units>0.5</units>", {"-1.25"}, "FF FD"},
        {"Float", 1, 0, "", {"2.5"}, "00 03"},
        {"IntArray", 1, 1, "<indexes>a,b,c</indexes>", {"1", "0", "1"}, "FD FF"},
        {"IntArray", 2, 0, "<indexes>a,b</indexes>", {"513", "2"}, "02 01 00 02"},
        {"IntArray", 2, 0, "<indexes>a,b</indexes>", {"1"}, "fails"},
        {"String", 4, 0, "", {"\xD0\x94\xD0\xBE\xD0\xBC"}, "C4 EE EC 00 00 00 00 00"},
        {"String", 1, 0, "", {"abc"}, "61 62"},
        {"String", 3, 0, "format=\"x:x:x:x:x:x\"", {"00:1a:2b:3c:4d:5e"}, "00 1A 2B 3C 4D 5E"},
        {"String", 2, 0, "format=\"u.u.u.u\"", {"192.168.0.1"}, "C0 A8 00 01"},
        {"String", 2, 0, "format=\"u.u.u.u\"", {"10.1"}, "0A 01 00 00"},
        {"StringArray", 2, 0, "<indexes>a,b</indexes>", {"ab", "c"}, "61 62 63 00"},
        {"Integer", 3, 0, "", {"1"}, "fails"},
    };
    for (const Case& c : cases) {
        std::string inner = c.inner, attributes;
        if (inner.compare(0, 7, "format=") == 0) {
            attributes = " " + inner;
            inner.clear();
        }
        std::string values = "<values>";
        for (const char* v : c.values) values += std::string("<value><![CDATA[") + v + "]]></value>";
        std::string scalar = Scalar(c.type, Position(30, 0, 1, c.count, 30, 0, 1, c.byte), inner + values + "</values>");
        scalar.insert(scalar.find(" position"), attributes);
        SimDescription d;
        std::string error;
        ASSERT_TRUE(ParseDescription(Document(scalar), &d, &error)) << error;
        ASSERT_EQ(1u, d.settings.size()) << c.type << " " << c.expect;
        uint8_t record[kRecordRegisterLimit * 2];
        memset(record, 0xFF, sizeof record);
        std::string why;
        bool ok = EncodeSetting(d.settings[0], record, &why);
        std::string got = ok ? ToHex(Bytes(record + 2, record + 2 + c.count * 2)) : "fails";
        EXPECT_EQ(c.expect, got) << c.type << " " << c.values[0] << " " << why;
    }
}

TEST(DescriptionReader, TheDeclarationNamesTheEncoding) {
    const std::string home = "\xD0\x94\xD0\xBE\xD0\xBC";   // a Cyrillic word in UTF-8
    const std::pair<std::string, std::string> cases[] = {
        {"", home},
        {"<?xml version=\"1.0\"?>", home},
        {"<?xml version=\"1.0\"?><!-- encoding=\"windows-1251\" -->", home},   // named after the declaration
        {"<?xml version=\"1.0\" encoding=\"utf8\"?>", home},
        {"<?xml version='1.0' encoding='windows-1251'?>", "\xC4\xEE\xEC"},
    };
    for (const auto& c : cases) {
        SimDescription d;
        std::string error, description = "<description>" + c.second + "</description>";
        ASSERT_TRUE(ParseDescription(c.first + "<device><sygnals>" +
                                         Scalar("Integer", Position(2, 0, 1, 1, 2, 0, 1), description) +
                                         "</sygnals></device>",
                                     &d, &error))
            << c.first << ": " << error;
        ASSERT_EQ(1u, d.settings.size()) << c.first;
        EXPECT_EQ(home, d.settings[0].description) << c.first;
    }
}

TEST(DescriptionReader, StartUpRecordsAreWholeWriteRecordsWithThePassword) {
    auto valued = [](const char* description, const std::string& position, const char* value) {
        return Scalar("Integer", position,
                      std::string("<description>") + description + "</description><values><value>" + value +
                          "</value></values>");
    };
    SimDescription d;
    std::string error;
    ASSERT_TRUE(ParseDescription(
        Document(valued("a", Position(2, 0, 2, 1, 22, 0, 2), "7") + valued("b", Position(2, 0, 1, 1, 22, 0, 1), "8") +
                 Scalar("Integer", Position(2, 1, 1, 1, 23, 0, 1)) +
                 valued("c", Position(2, 2, 1, 1, 24, 0, 1), "1") + Scalar("Integer", Position(2, 2, 2, 1, 24, 0, 2)) +
                 valued("d", Position(2, 3, 1, 2, 25, 0, 3), "5") + valued("e", Position(2, 4, 1, 3, 26, 5, 1), "1")),
        &d, &error))
        << error;
    std::vector<std::string> skipped;
    std::vector<SeedRecord> records = SeedRecords(d, 0x1234, &skipped);
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(22, records[0].file);
    EXPECT_EQ("12 34 00 08 00 07", ToHex(records[0].registers)) << "both settings, as long as the furthest";
    EXPECT_EQ(25, records[1].file);
    EXPECT_EQ("12 34 00 00 00 00 00 00 00 05", ToHex(records[1].registers));
    ASSERT_EQ(2u, skipped.size()) << "23/0 has no values at all and is not mentioned";
    EXPECT_EQ("file 24 record 0: some of its settings have no values", skipped[0]);
    EXPECT_NE(std::string::npos, skipped[1].find("file 26 record 5: 'e': values of 6 bytes")) << skipped[1];
}

}  // namespace
