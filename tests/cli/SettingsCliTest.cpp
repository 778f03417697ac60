// pelta-cli's password and settings commands end to end against the simulator: exit codes,
// what reaches the unit, and the files and lines they leave.
#include <unistd.h>

#include "tests/cli/CliProcess.h"

using ::testing::HasSubstr;

namespace {

// Three settings in one write record (group 10); scaled numbers, a byte-mode array and named
// values (group 20). Read and written at the same places.
const char kSample[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<device><description>Test unit</description><sygnals><groups>
<group gid="10" title="Network" tab="2"/><group gid="20" title="Service" tab="2"/></groups>
<scalar gid="10" type="String" format="u.u.u.u" position='{"r":{"file":21,"rec":0,"offset":1,"count":2},"w":{"file":21,"rec":0,"offset":1,"count":2}}'><access>readwrite</access><description>IP address</description><values><value><![CDATA[192.168.0.10]]></value></values></scalar>
<scalar gid="10" type="Integer" position='{"r":{"file":21,"rec":0,"offset":3,"count":1},"w":{"file":21,"rec":0,"offset":3,"count":1}}'><access>readwrite</access><description>Port</description><values><value><![CDATA[502]]></value></values></scalar>
<scalar gid="10" type="String" UID position='{"r":{"file":21,"rec":0,"offset":4,"count":4},"w":{"file":21,"rec":0,"offset":4,"count":4}}'><access>readwrite</access><description>Name</description><values><value><![CDATA[Pelta]]></value></values></scalar>
<scalar gid="20" type="Integer" position='{"r":{"file":21,"rec":16,"offset":1,"count":1},"w":{"file":21,"rec":16,"offset":1,"count":1}}'><access>readwrite</access><description>Speed</description><units>0.5</units><values><value><![CDATA[14]]></value></values></scalar>
<scalar gid="20" type="Float" position='{"r":{"file":21,"rec":16,"offset":2,"count":2},"w":{"file":21,"rec":16,"offset":2,"count":2}}'><access>readwrite</access><description>Level</description><units>0.1</units><values><value><![CDATA[2.5]]></value></values></scalar>
<scalar gid="20" type="IntArray" position='{"r":{"file":22,"rec":0,"offset":1,"count":1,"byte":1},"w":{"file":22,"rec":0,"offset":1,"count":1,"byte":1}}'><access>readwrite</access><description>Inputs</description><indexes>In1,In2,In3</indexes><values><value><![CDATA[1]]></value><value><![CDATA[0]]></value><value><![CDATA[1]]></value></values></scalar>
<scalar gid="20" type="Integer" position='{"r":{"file":22,"rec":8,"offset":1,"count":1},"w":{"file":22,"rec":8,"offset":1,"count":1}}'><access>readwrite</access><description>Mode</description><namedvalues><value><key>0</key><val>Off</val></value><value><key>2</key><val>Auto</val></value></namedvalues><values><value><![CDATA[2]]></value></values></scalar>
EXTRA</sygnals></device>
)";

// The sample with each {from, to} replaced once.
std::string Sample(const std::vector<std::pair<std::string, std::string>>& edits = {})
{
    std::string text = kSample;
    for (const auto& e : edits)
        text.replace(text.find(e.first), e.first.size(), e.second);
    for (const std::string mark : {"UID ", "EXTRA"})
        if (text.find(mark) != std::string::npos)
            text.erase(text.find(mark), mark.size());
    return text;
}

std::string AfterEndLine(const std::string& out)
{
    const size_t end = out.find('\n', out.find(" end: "));
    return end == std::string::npos ? std::string() : out.substr(end + 1);
}

using SettingsCliTest = CliSimTest;

// The file check; then on one unit a write, failures that save nothing, a read back, diffs against
// the unit changed behind the file, group files, the password change; then Ctrl-C in a read.
TEST_F(SettingsCliTest, CheckRoundTripDiffAndWhatFailsWritesAndSavesNothing)
{
    CliResult r = CliRun({"settings-check", File("clean.xml", Sample())});
    EXPECT_TRUE(r.exitCode == kOk && r.err.empty()) << r.err;
    EXPECT_EQ("Settings checked: 7, faults: 0\n", r.out);

    // A signal of an unknown type, a value out of its format, an erased value that must stay.
    std::string faulty = Sample({{"192.168.0.10", "192.168.0.256"},
                                 {"UID", "uid=\"100005\""},
                                 {"<values><value><![CDATA[Pelta]]></value></values>", ""},
                                 {"EXTRA", "<scalar type=\"Blob\" position='{\"r\":{\"file\":23,\"rec\":0,\"offset\":1,"
                                           "\"count\":1},\"w\":{\"file\":23,\"rec\":0,\"offset\":1,\"count\":1}}'>"
                                           "<access>readwrite</access></scalar>"}});
    r = CliRun({"settings-check", File("faulty.xml", faulty)});
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings checked: 7, faults: 3\n", r.out);
    EXPECT_EQ("Parse signal error: 'Unsupported signal type 'Blob''\n"
              "Wrong value for 'IP address':\n'Value ('192.168.0.256') not conform format ('u.u.u.u'): numeric must "
              "be in range 0 - 255'\n"
              "Wrong value for 'Name':\n'This parameter can't be erased'\n",
              r.err);

    Start();
    std::string a = File("a.xml", Sample()), b = File("b.xml");
    r = Run({"settings-write", a});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    const std::vector<Args> failures = {
        {"settings-write", File("f.xml", Sample({{"502", "503"}, {"192.168.0.10", "10,0,0,1"}})),
         "Wrong value for 'IP address'"},
        {"settings-write", a, "--group", "30", "No group with gid 30 in '"},
        {"settings-write", File("none.xml"), "Can't load file '"},
        {"settings-read", b, "--description", a, "--group", "11", "No group with gid 11"},
        {"settings-diff", File("none.xml"), "Can't load file '"},
    };
    for (Args args : failures) {
        const std::string message = args.back();
        args.pop_back();
        r = Run(args);
        EXPECT_TRUE(r.exitCode == kFailed && r.out.empty()) << message << ": the unit was talked to\n" << r.out;
        EXPECT_THAT(r.err, HasSubstr(message));
    }
    EXPECT_NE(0, access(b.c_str(), F_OK));
    r = Run({"settings-write", a, "--password", "7"});
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Write settings end: ERROR."));

    // The unit still holds a's values (the port above all, which the refused file changes first).
    r = Run({"settings-read", b, "--description", a});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings saved to '" + b + "'\n", AfterEndLine(r.out));
    for (const char* value : {"192.168.0.10", "502", "Pelta", "14", "2.5", "1", "0", "2"})
        EXPECT_THAT(ReadText(b), HasSubstr(std::string("<![CDATA[") + value + "]]>"));

    // Another file changes the unit; a text that reaches the unit as the same value is no change.
    std::string c = Sample({{"CDATA[502]", "CDATA[503]"},
                            {"CDATA[2.5]", "CDATA[2.50]"},
                            {"<value><![CDATA[1]]>", "<value><![CDATA[0]]>"},
                            {"<values><value><![CDATA[2]]></value></values>", ""}});
    ASSERT_EQ(kOk, Run({"settings-write", File("c.xml", c)}).exitCode);
    r = Run({"settings-diff", a});
    EXPECT_EQ(kDiffers, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Port\n  unit: '503'\n  file: '502'\n"
              "Inputs\n  unit: '0', '0', '1'\n  file: '1', '0', '1'\n"
              "Mode\n  unit: not available\n  file: '2'\n"
              "Settings compared: 7, differing: 3\n",
              AfterEndLine(r.out));
    const CliOptions terminal{"", true};
    r = Run({"settings-diff", a}, terminal);
    EXPECT_THAT(r.out, HasSubstr("\033[1mPort\033[0m"));
    EXPECT_THAT(r.out, HasSubstr("\033[1;31mSettings compared: 7, differing: 3\033[0m"));
    EXPECT_THAT(Run({"settings-diff", File("none.xml")}, terminal).out, HasSubstr("\033[31mCan't load file '"));

    // A group write puts back only that group; a group read saves the group file.
    ASSERT_EQ(kOk, Run({"settings-write", a, "--group", "20"}).exitCode);
    std::string g = File("g.xml");
    ASSERT_EQ(kOk, Run({"settings-read", g, "--description", a, "--group", "10"}).exitCode);
    EXPECT_THAT(ReadText(g), HasSubstr("<group gid=\"10\" tab=\"2\" title=\"Network\" />"));
    EXPECT_THAT(ReadText(g), ::testing::Not(HasSubstr("Service")));
    r = Run({"settings-diff", a});
    EXPECT_EQ(kDiffers, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Port\n  unit: '503'\n  file: '502'\nSettings compared: 7, differing: 1\n", AfterEndLine(r.out));
    r = Run({"settings-diff", g});
    EXPECT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings compared: 3, differing: 0\n", AfterEndLine(r.out));

    // Both ends of the range; the old password stops working once the new one is set.
    const std::vector<Args> steps = {{"32767", "1", "OK"}, {"5", "1", "ERROR"}, {"0", "32767", "OK"}, {"2", "0", "OK"}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s[1] + " -> " + s[0]);
        r = Run({"change-password", s[0], "--password", s[1]});
        EXPECT_EQ(s[2] == "OK" ? kOk : kFailed, r.exitCode) << r.out << r.err;
        EXPECT_THAT(r.out, HasSubstr("Change password end: " + s[2] + "."));
    }

    // Ctrl-C in the middle of a read: nothing saved either.
    Start({"--fault-delay", "1000"});
    const std::string out = File("out.xml");
    r = Run({"settings-read", out, "--description", a}, {"Device talk..."});
    ASSERT_TRUE(r.interrupted) << r.out;
    EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("Read settings end: ABORTED."));
    EXPECT_NE(0, access(out.c_str(), F_OK));
}
}  // namespace
