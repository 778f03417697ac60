// Settings read and written by the model's walks on the runner: the whole path on the simulator,
// exact requests and failures on a scripted unit, and the record bodies' own checks.
#include <thread>

#include "base/LogTypes.h"
#include "settings/SettingsTalk.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/RunnerSim.h"
#include "tests/support/RecordFrames.h"

namespace {
class TalkTest : public RunnerSimTest, public DS_SettingChangedI {
protected:
    // Group 1 holds these settings, each "name type file rec offset count byte [children]"
    // and, after a last '=', its values "a,b". Group 2 holds nothing.
    void Load(const std::vector<std::string>& settings, const std::string& more = "")
    {
        std::string scalars;
        for (const std::string& s : settings) {
            char name[16], type[16];
            int file, rec, offset, count, byte, used = 0;
            ASSERT_EQ(7, sscanf(s.c_str(), "%15s %15s %d %d %d %d %d %n", name, type, &file, &rec, &offset, &count, &byte, &used));
            scalars += Item(name, 1, type, Pos(file, rec, offset, count, byte), s.substr((size_t)used, s.find('=') - used));
        }
        ASSERT_TRUE(model.Load(Description(Group(1, "G") + Group(2, "H"), scalars + more)));
        for (size_t i = 0; i < settings.size(); ++i)
            ValuesPut(model.model.Scalars()[i], settings[i].substr(std::min(settings[i].find('='), settings[i].size() - 1) + 1));
    }
    // The runner's settings bodies are the model's: group kinds walk the shown settings.
    void RunnerStart(const std::string& host, const RunnerOptions& options = FastOptions()) override
    {
        RunnerSimTest::RunnerStart(host, options);
        ui_->body = [this](OperationKind kind, MODBUS_TalkInfo& talk) {
            const bool all = kind == OperationKind::ReadSettingsAll || kind == OperationKind::WriteSettingsAll;
            if (kind == OperationKind::ReadSettingsGroup || kind == OperationKind::ReadSettingsAll)
                return model.model.DS_ReadFromDev_th(*runner_, talk, all, this);
            return model.model.DS_WriteToDev_th(*runner_, talk, all);
        };
    }
    void SettingChanged(TiXmlElement* element) override { changed.push_back(element); }
    // Every setting's values (or those of `of`), joined by blanks; shownOnly: "<none>" for the others.
    std::string Values(const std::vector<std::string>& of = {}, bool shownOnly = false)
    {
        std::string out;
        const std::vector<TiXmlElement*> all = model.model.Scalars();
        for (size_t i = 0; i < all.size(); ++i)
            out += (i ? " " : "") + (shownOnly && !model.model.IsShown(all[i]) ? "<none>" : of.empty() ? ValuesOf(all[i]) : of[i]);
        return out;
    }
    void Clear()
    {
        for (TiXmlElement* e : model.model.Scalars())
            DS_ValuesRemove(e);
        changed.clear();
    }

    SettingsFixture model;
    std::vector<TiXmlElement*> changed;
};

// A read record split by another is asked for twice; one marked 0 leaves its setting without
// values; a refused record stops the walk. A written record carries the password, or with all its
// settings unticked the password with bit 15 and zeros as far as they reach; a value that cannot
// be encoded stops the write before its request; a shown group without settings sends nothing.
TEST_F(TalkTest, RequestsAndFailuresAgainstAScriptedUnit)
{
    const std::string split = Item("c", 1, "Integer", "{\"r\":{\"file\":21,\"rec\":0,\"offset\":2,\"count\":1},"
                                                      "\"w\":{\"file\":23,\"rec\":0,\"offset\":1,\"count\":1}}");
    const Bytes values = RecordWrite(24, 1, Hex("00 01 12 34")), seven = RecordWrite(21, 0, Hex("00 01 00 07")),
                unticked = RecordWrite(24, 0, Hex("80 01 00 00 00 00 00 00 00 00"));
    auto Ask = [](uint16_t file, uint8_t registers) { return ExpectBytes(RecordRead(file, 0, registers)); };
    auto Give = [](const char* registers) { return SendBytes(RecordAnswer(Hex(registers))); };
    const PeerStep refused = SendBytes(Hex("00 7B 00 00 00 03 00 94 02"));
    const struct {
        std::vector<std::string> settings;
        OperationKind kind;
        ScriptedPeer::Script script;
        AppState end;
        std::string after, lines;
    } cases[] = {
        {{"a Integer 21 0 1 1 0", "b Integer 22 0 1 1 0 =1", "+"}, OperationKind::ReadSettingsAll,
         {Ask(21, 2), Give("00 01 00 05"), Ask(22, 2), Give("00 00 00 06"), Ask(21, 3), Give("00 01 00 07 00 08")},
         AppState::Succeeded, "5 <none> 8", "Read 'a'"},
        {{"a Integer 21 0 1 1 0 =9", "b Integer 22 0 1 1 0 =9", "c Integer 23 0 1 1 0 =9"}, OperationKind::ReadSettingsAll,
         {Ask(21, 2), Give("00 01 00 05"), Ask(22, 2), refused}, AppState::Error, "5 <none> 9", "Device answer exception '0x2'"},
        {{"a Integer 21 0 1 1 0 =9", "b Integer 22 0 1 1 0 =9"}, OperationKind::ReadSettingsAll,  // the last record
         {Ask(21, 2), Give("00 01 00 05"), Ask(22, 2), refused}, AppState::Error, "5 <none>", "Device answer exception '0x2'"},
        {{"v Integer 24 1 1 1 0 =0x1234", "x Integer 24 0 1 1 0", "y Integer 24 0 2 2 0", "z String 24 0 4 1 0"},
         OperationKind::WriteSettingsAll, {ExpectBytes(values), SendBytes(values), ExpectBytes(unticked), SendBytes(unticked)},
         AppState::Succeeded, "0x1234 <none> <none> <none>", "Write 'x' - 'z'"},
        {{"a Integer 21 0 1 1 0 =7", "b IntArray 22 0 1 3 0 <indexes>p,q</indexes>=1,2", "c Integer 23 0 1 1 0 =1"},
         OperationKind::WriteSettingsAll, {ExpectBytes(seven), SendBytes(seven)}, AppState::Error, "7 1,2 1", "Wrong value size"},
        {{"a Integer 21 0 1 1 0 =1"}, OperationKind::ReadSettingsGroup, {}, AppState::Succeeded, "1", ""},
        {{"a Integer 21 0 1 1 0 =1"}, OperationKind::WriteSettingsGroup, {}, AppState::Succeeded, "1", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines + " " + c.after);
        const bool withSplit = c.settings.back() == "+";
        Load(std::vector<std::string>(c.settings.begin(), c.settings.end() - withSplit), withSplit ? split : "");
        if (c.script.empty())
            model.model.SelectGroup(2, false);
        ScriptedPeer unit({c.script});
        ASSERT_TRUE(unit.Start());
        RunnerStart(unit.HostPort());
        runner_->FlagsSet(RunFlags::TalkLog, true);
        EXPECT_EQ(c.end, Run(c.kind)) << ui_->Dump();
        EXPECT_TRUE(unit.Finish());
        EXPECT_EQ(std::vector<std::string>(), unit.Problems());
        EXPECT_EQ(c.after, Values());
        EXPECT_GE(ui_->Find(c.lines), 0) << ui_->Dump();
    }
}

// The record bodies' own checks: each logs its line in the Error style and sends nothing (the
// descriptor has no channel, so a request would fail the test); a read leaves no values.
TEST_F(TalkTest, RecordBodiesRefuseRunsThatAreNotOneRecord)
{
    const struct {
        bool write;
        std::vector<const char*> run;  // settings by name; "-" is an element without a record
        const char* withValues;
        const char* line;  // null: the empty run succeeds silently
    } cases[] = {
        {true, {"-", "a"}, "", "Assert: no device setting"},
        {true, {"a", "b"}, "", "Assert: settings union is wrong"},
        {true, {"a", "b", "c", "d"}, "", "Assert: settings union is wrong"},
        {true, {"a", "b", "c"}, "a c", "Assert: availability is different"},
        {true, {"d", "far"}, "d far", "Assert: Overflow regCount"},
        {false, {"d", "far"}, "d far", "Assert: Overflow regCount"},
        {true, {}, "", nullptr},
        {false, {}, "", nullptr},
    };
    TiXmlElement plain("scalar");
    Load({"a Integer 21 0 1 1 0", "b Integer 21 0 2 1 0", "c Integer 21 0 3 1 0", "d Integer 22 0 1 1 0",
          "far Integer 22 0 63 2 0"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "empty");
        RunnerStart("127.0.0.1:1");
        Quill::List<TiXmlElement> run;
        for (const char* name : c.run)
            run.Add(std::string(name) == "-" ? &plain : model.Find(name));
        for (TiXmlElement* e : model.model.Scalars())
            ValuesPut(e, (" " + std::string(c.withValues) + " ").find(std::string(" ") + DS_Description(e) + " ") + 1 ? "1" : "");
        MODBUS_TalkInfo talk;
        bool ok = false;
        // Worker-thread bodies: they log taking the display lock.
        std::thread([&] { ok = c.write ? DS_WriteRecord_th(*runner_, talk, run) : DS_ReadRecord_th(*runner_, talk, run, nullptr); })
            .join();
        EXPECT_EQ(!c.line, ok);
        EXPECT_EQ(c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{}, ui_->Texts());
        EXPECT_EQ(c.line ? LogStyleError : -1, ui_->StyleOf(c.line ? c.line : "-"));
        EXPECT_TRUE(c.write || Values() == "<none> <none> <none> <none> <none>") << Values();
    }
}

// The sample settings file is the default description with a value for every setting: written
// and read back, and as the values the unit starts with (coded by the simulator's own code).
// The group kinds walk the shown settings only, the others keep what they hold.
TEST_F(TalkTest, SampleSettingsRoundTripThroughTheSimulator)
{
    const char* source = getenv("PELTA_SOURCE_DIR");
    const std::string dir = std::string(source && *source ? source : PELTA_TEST_SOURCE_DIR) + "/res/";
    ASSERT_TRUE(model.model.DS_Load((dir + "samples/Pelta-ru.xml").c_str()));
    std::vector<std::string> sample;
    for (TiXmlElement* e : model.model.Scalars())
        sample.push_back(ValuesOf(e));
    ASSERT_GE(sample.size(), 20u);
    ASSERT_EQ(std::string::npos, Values().find("<none>"));
    model.model.SelectGroup(1100, false);  // "Modbus service"
    ASSERT_FALSE(model.model.Shown().empty());
    for (bool seeded : {false, true}) {
        SCOPED_TRACE(seeded ? "seeded by the simulator" : "written");
        std::vector<std::string> args = {"--description", dir + "Pelta.xml"};
        if (seeded)
            args.insert(args.end(), {"--settings-values", dir + "samples/Pelta-ru.xml"});
        StartSim(args);
        if (!seeded) {
            ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsGroup)) << ui_->Dump();
            Clear();
            ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll)) << ui_->Dump();
            EXPECT_EQ(Values(sample, true), Values()) << "only the shown group written";
            for (size_t i = 0; i < sample.size(); ++i)
                ValuesPut(model.model.Scalars()[i], sample[i]);
            RunnerStart(sim_->HostPort());
            ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll)) << ui_->Dump();
            EXPECT_EQ(1, ui_->Count("Device talk..."));
            EXPECT_EQ(1 + model.model.Records().Count(), ui_->progressCalls);  // the reset, then one per record
            Clear();
            ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsGroup)) << ui_->Dump();
            EXPECT_EQ(Values(sample, true), Values()) << "only the shown group read";
        }
        Clear();
        runner_->FlagsSet(RunFlags::TalkLog, seeded);
        ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll)) << ui_->Dump();
        EXPECT_EQ(Values(sample), Values());
        EXPECT_EQ(model.model.Scalars(), changed);
        const std::string n = std::to_string(sample.size());
        EXPECT_EQ(n + "/" + n, ui_->ProgressText());
        EXPECT_EQ(seeded, ui_->Find("Device talk...") < 0);
        EXPECT_EQ(seeded, ui_->Find("Read '") >= 0);
    }
}
}  // namespace
