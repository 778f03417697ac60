// pelta-cli's password and settings commands end to end against the simulator: exit codes,
// what reaches the unit, and the files and lines they leave.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/CliProcess.h"
#include "tests/support/SimProcess.h"

namespace {
const int kOk = 0, kFailed = 1, kUsage = 2, kAborted = 3, kDiffers = 4;

// One "scalar" at the same read and write place; values null: none (not available).
struct Setting {
    int gid;
    const char* type;
    const char* attributes;  // extra attributes, e.g. format="u.u.u.u"
    int file, rec, offset, count;
    const char* description;
    const char* children;  // extra children, e.g. <units>0.5</units>
    std::vector<const char*> values;
    bool available;
};

// Three settings in one write record, scaled numbers, a byte-mode array, named values.
std::vector<Setting> Sample()
{
    const char* modes = "<namedvalues><value><key>0</key><val>Off</val></value>"
                        "<value><key>2</key><val>Auto</val></value></namedvalues>";
    return {
        {10, "String", "format=\"u.u.u.u\"", 21, 0, 1, 2, "IP address", "", {"192.168.0.10"}, true},
        {10, "Integer", "", 21, 0, 3, 1, "Port", "", {"502"}, true},
        {10, "String", "", 21, 0, 4, 4, "Name", "", {"Pelta"}, true},
        {20, "Integer", "", 21, 16, 1, 1, "Speed", "<units>0.5</units>", {"14"}, true},
        {20, "Float", "", 21, 16, 2, 2, "Level", "<units>0.1</units>", {"2.5"}, true},
        {20, "IntArray", "", 22, 0, 1, 1, "Inputs", "<indexes>In1,In2,In3</indexes>", {"1", "0", "1"}, true},
        {20, "Integer", "", 22, 8, 1, 1, "Mode", modes, {"2"}, true},
    };
}

std::string Document(const std::vector<Setting>& settings)
{
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<device><description>Test unit</description><sygnals><groups>"
         "<group gid=\"10\" title=\"Network\" tab=\"2\"/><group gid=\"20\" title=\"Service\" tab=\"2\"/></groups>\n";
    for (const Setting& s : settings) {
        std::ostringstream place;
        place << "{\"file\":" << s.file << ",\"rec\":" << s.rec << ",\"offset\":" << s.offset
              << ",\"count\":" << s.count << (std::string(s.type) == "IntArray" ? ",\"byte\":1}" : "}");
        x << "<scalar gid=\"" << s.gid << "\" type=\"" << s.type << "\" " << s.attributes << " position='{\"r\":"
          << place.str() << ",\"w\":" << place.str() << "}'><access>readwrite</access><description>"
          << s.description << "</description>" << s.children;
        if (s.available) {
            x << "<values>";
            for (const char* v : s.values)
                x << "<value><![CDATA[" << v << "]]></value>";
            x << "</values>";
        }
        x << "</scalar>\n";
    }
    x << "</sygnals></device>\n";
    return x.str();
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What follows the operation's end line.
std::string AfterEndLine(const std::string& out)
{
    size_t end = out.find(" end: ");
    end = end == std::string::npos ? std::string::npos : out.find('\n', end);
    return end == std::string::npos ? std::string() : out.substr(end + 1);
}

std::string Joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& a : args)
        text += a + " ";
    return text;
}

class SettingsCliTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> args = {})
    {
        sim_.reset(new SimProcess(args));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
    }
    void TearDown() override
    {
        if (sim_)
            sim_->Stop();
        for (const std::string& f : files_)
            unlink(f.c_str());
    }
    // A file in the temporary folder, removed after the test; with text when not null.
    std::string File(const std::string& name, const char* text = nullptr)
    {
        const char* tmp = getenv("TMPDIR");
        std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelta-settings-" + std::to_string(getpid()) +
                           "-" + name;
        files_.push_back(path);
        if (text)
            std::ofstream(path, std::ios::trunc) << text;
        return path;
    }
    // The command with the simulator's address appended.
    CliResult Run(std::vector<std::string> args)
    {
        args.push_back("--host");
        args.push_back(sim_->HostPort());
        return CliRun(args);
    }

    std::unique_ptr<SimProcess> sim_;
    std::vector<std::string> files_;
};

TEST(SettingsCliArguments, BadArgumentsExitWithTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {"change-password", "32768", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "-1", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "12a", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "5", "--host", "127.0.0.1"},
        {"change-password", "--password", "1", "--host", "127.0.0.1"},
        {"settings-read", "--host", "127.0.0.1"},
        {"settings-read", "out.xml", "--host", "127.0.0.1", "--group", "1x"},
        {"settings-write", "in.xml", "--host", "127.0.0.1", "--description", "d.xml"},
        {"settings-diff", "in.xml"},
        {"settings-check", "in.xml", "--host", "127.0.0.1"},
        {"settings-check", "in.xml", "--group", "10"},
        {"settings-check", "in.xml", "extra.xml"},
    };
    for (const auto& args : cases) {
        CliResult r = CliRun(args);
        EXPECT_EQ(kUsage, r.exitCode) << Joined(args) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("usage: pelta-cli")) << Joined(args);
        EXPECT_TRUE(r.out.empty()) << Joined(args);
    }
}

TEST_F(SettingsCliTest, ChangePasswordTakesEffectOnTheUnit)
{
    Start({"--password", "1"});
    // Both ends of the range; the old password stops working once the new one is set.
    struct Step {
        const char* newPassword;
        const char* password;
        int exitCode;
    };
    const Step steps[] = {
        {"32767", "1", kOk}, {"5", "1", kFailed}, {"0", "32767", kOk}, {"1", "0", kOk}, {"2", "1", kOk},
    };
    for (const Step& s : steps) {
        CliResult r = Run({"change-password", s.newPassword, "--password", s.password});
        std::string label = std::string(s.password) + " -> " + s.newPassword;
        EXPECT_EQ(s.exitCode, r.exitCode) << label << "\n" << r.out << r.err;
        const char* end = s.exitCode == kOk ? "Change password end: OK." : "Change password end: ERROR.";
        EXPECT_NE(std::string::npos, r.out.find(end)) << label << "\n" << r.out;
        if (s.exitCode != kOk) {
            EXPECT_NE(std::string::npos, r.out.find("Device answer exception '0x3'")) << label << "\n" << r.out;
        }
    }
}

TEST_F(SettingsCliTest, CheckPrintsEveryFaultOfTheFile)
{
    std::vector<Setting> settings = Sample();
    std::string clean = File("clean.xml", Document(settings).c_str());
    CliResult r = CliRun({"settings-check", clean});
    EXPECT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings checked: 7, faults: 0\n", r.out);
    EXPECT_EQ("", r.err);

    settings[0].values = {"192.168.0.256"};
    settings[2].attributes = "uid=\"100005\"";
    settings[2].available = false;
    settings[5].values = {"1", "0"};
    settings[6].values = {"5"};
    settings.push_back({20, "Blob", "", 23, 0, 1, 1, "Blob", "", {}, false});
    std::string faulty = File("faulty.xml", Document(settings).c_str());
    r = CliRun({"settings-check", faulty});
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings checked: 7, faults: 5\n", r.out);
    const char* const faults[] = {
        "Parse signal error: 'Unsupported signal type 'Blob''\n",
        "Wrong value for 'IP address':\n'Value ('192.168.0.256') not conform format ('u.u.u.u'): numeric must be in "
        "range 0 - 255'\n",
        "Wrong value for 'Name':\n'This parameter can't be erased'\n",
        "Wrong value for 'Inputs':\n'Not enough values'\n",
        "Wrong value for 'Mode':\n'No list item selected'\n",
    };
    for (const char* fault : faults)
        EXPECT_NE(std::string::npos, r.err.find(fault)) << fault << "\n" << r.err;

    r = CliRun({"settings-check", File("missing.xml")});
    EXPECT_EQ(kFailed, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("Can't load file '")) << r.err;
}

TEST_F(SettingsCliTest, WriteReadAndDiffAgainstAUnitChangedBehindTheFile)
{
    Start();
    std::vector<Setting> settings = Sample();
    std::string a = File("a.xml", Document(settings).c_str());
    CliResult r = Run({"settings-write", a});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Write settings begin\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Write settings end: OK.")) << r.out;

    // What the unit gives back is what the file held.
    std::string b = File("b.xml");
    r = Run({"settings-read", b, "--description", a});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings saved to '" + b + "'\n", AfterEndLine(r.out));
    std::string read = FileText(b);
    for (const Setting& s : settings)
        for (const char* v : s.values)
            EXPECT_NE(std::string::npos, read.find(std::string("<![CDATA[") + v + "]]>")) << v << "\n" << read;
    r = Run({"settings-diff", a});
    EXPECT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings compared: 7, differing: 0\n", AfterEndLine(r.out));

    // Another file changes the unit; a text that reaches the unit as the same value is no change.
    std::vector<Setting> other = Sample();
    other[1].values = {"503"};
    other[4].values = {"2.50"};
    other[5].values = {"0", "0", "1"};
    other[6].available = false;
    ASSERT_EQ(kOk, Run({"settings-write", File("c.xml", Document(other).c_str())}).exitCode);
    r = Run({"settings-diff", a});
    EXPECT_EQ(kDiffers, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Port\n  unit: '503'\n  file: '502'\n"
              "Inputs\n  unit: '0', '0', '1'\n  file: '1', '0', '1'\n"
              "Mode\n  unit: not available\n  file: '2'\n"
              "Settings compared: 7, differing: 3\n",
              AfterEndLine(r.out));
    r = Run({"settings-diff", a, "--group", "10"});
    EXPECT_EQ(kDiffers, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Port\n  unit: '503'\n  file: '502'\nSettings compared: 3, differing: 1\n", AfterEndLine(r.out));

    // A group write puts back only that group.
    ASSERT_EQ(kOk, Run({"settings-write", a, "--group", "20"}).exitCode);
    r = Run({"settings-diff", a});
    EXPECT_EQ(kDiffers, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Port\n  unit: '503'\n  file: '502'\nSettings compared: 7, differing: 1\n", AfterEndLine(r.out));
}

TEST_F(SettingsCliTest, FailuresWriteNothingAndSaveNothing)
{
    Start();
    std::vector<Setting> settings = Sample();
    std::string a = File("a.xml", Document(settings).c_str());
    ASSERT_EQ(kOk, Run({"settings-write", a}).exitCode);

    std::vector<Setting> faulty = Sample();
    faulty[1].values = {"503"};
    faulty[0].values = {"10,0,0,1"};
    std::string out = File("out.xml");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {"check fault", {"settings-write", File("f.xml", Document(faulty).c_str())}, "Wrong value for 'IP address'"},
        {"unknown group", {"settings-write", a, "--group", "30"}, "No group with gid 30 in '"},
        {"file missing", {"settings-write", File("none.xml")}, "Can't load file '"},
        {"read of an unknown group", {"settings-read", out, "--description", a, "--group", "11"}, "No group with gid 11"},
        {"diff of a missing file", {"settings-diff", File("none.xml")}, "Can't load file '"},
    };
    for (const Case& c : cases) {
        CliResult r = Run(c.args);
        EXPECT_EQ(kFailed, r.exitCode) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.name << "\n" << r.err;
        EXPECT_EQ("", r.out) << c.name << ": the unit was talked to";
    }
    EXPECT_NE(0, access(out.c_str(), F_OK));
    CliResult r = Run({"settings-diff", a});
    EXPECT_EQ(kOk, r.exitCode) << r.out << r.err;

    // A unit that refuses the password.
    r = Run({"settings-write", a, "--password", "7"});
    EXPECT_EQ(kFailed, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Write settings end: ERROR.")) << r.out;
}

TEST_F(SettingsCliTest, GroupReadSavesTheGroupFile)
{
    Start();
    std::string a = File("a.xml", Document(Sample()).c_str());
    ASSERT_EQ(kOk, Run({"settings-write", a}).exitCode);
    std::string g = File("g.xml");
    CliResult r = Run({"settings-read", g, "--description", a, "--group", "20"});
    ASSERT_EQ(kOk, r.exitCode) << r.out << r.err;
    std::string text = FileText(g);
    EXPECT_NE(std::string::npos, text.find("<group gid=\"20\" tab=\"2\" title=\"Service\" />")) << text;
    EXPECT_EQ(std::string::npos, text.find("Network")) << text;
    EXPECT_EQ(std::string::npos, text.find("Port")) << text;
    EXPECT_NE(std::string::npos, text.find("<![CDATA[14]]>")) << text;
    // The group file is a settings file of its own: the unit holds what it says.
    r = Run({"settings-diff", g});
    EXPECT_EQ(kOk, r.exitCode) << r.out << r.err;
    EXPECT_EQ("Settings compared: 4, differing: 0\n", AfterEndLine(r.out));
}

TEST_F(SettingsCliTest, CtrlCStopsTheReadAndSavesNothing)
{
    Start({"--fault-delay", "300"});
    std::string a = File("a.xml", Document(Sample()).c_str());
    std::string out = File("out.xml");
    CliResult r = CliRun({"settings-read", out, "--description", a, "--host", sim_->HostPort()}, "Device talk...");
    ASSERT_TRUE(r.interrupted) << r.out;
    EXPECT_EQ(kAborted, r.exitCode) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Read settings end: ABORTED.")) << r.out;
    EXPECT_NE(0, access(out.c_str(), F_OK));
}
}  // namespace
