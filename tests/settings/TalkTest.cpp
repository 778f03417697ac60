// Reading and writing settings through the runner with the model's walks: against the
// simulator for the whole path, against a scripted unit for exact requests and failures, and
// the record bodies' own checks.
#include <chrono>
#include <thread>

#include "base/LogTypes.h"
#include "settings/SettingsTalk.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/RunnerSim.h"

namespace {
// A Modbus TCP frame of unit 0 with the tool's transaction identifier.
Bytes Frame(uint8_t function, const Bytes& data)
{
    const size_t n = data.size() + 2;
    return Concat({{0, (uint8_t)kModbusTransactionId, 0, 0, (uint8_t)(n >> 8), (uint8_t)n, 0, function}, data});
}
Bytes ReadRequest(uint8_t file, uint8_t rec, uint8_t registers) { return Frame(20, {7, 6, 0, file, 0, rec, 0, registers}); }
Bytes ReadAnswer(const char* registers)
{
    const Bytes r = Hex(registers);
    return Frame(20, Concat({{(uint8_t)(r.size() + 2), (uint8_t)(r.size() + 1), 6}, r}));
}
Bytes WriteRequest(uint8_t file, uint8_t rec, const char* registers)
{
    const Bytes r = Hex(registers);
    return Frame(21, Concat({{(uint8_t)(r.size() + 7), 6, 0, file, 0, rec, 0, (uint8_t)(r.size() / 2)}, r}));
}

class TalkTest : public RunnerSimTest, public DS_SettingChangedI {
protected:
    // One group (gid 1) with these settings, each "name type file rec offset count [children]".
    void Load(const std::vector<std::string>& settings, const std::string& more = "")
    {
        std::string scalars;
        for (const std::string& s : settings) {
            char name[16], type[16];
            int file, rec, offset, count, byte = 0, used = 0;
            const bool ok = sscanf(s.c_str(), "%15s %15s %d %d %d %d/%d %n", name, type, &file, &rec, &offset, &count, &byte,
                                   &used) == 7 ||
                            sscanf(s.c_str(), "%15s %15s %d %d %d %d %n", name, type, &file, &rec, &offset, &count, &used) == 6;
            ASSERT_TRUE(ok) << s;
            scalars += Item(name, 1, type, Pos(file, rec, offset, count, byte), s.substr((size_t)used));
        }
        ASSERT_TRUE(model.Load(Description(Group(1, "G") + Group(2, "H"), scalars + more)));
        ASSERT_TRUE(model.ui.messages.empty()) << model.ui.messages[0];
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
    TiXmlElement* Setting(const std::string& name) { return model.Find(name); }
    // The values of these settings (default: all), each joined by ",", separated by blanks.
    std::string Values(const std::vector<const char*>& names = {})
    {
        std::string out;
        for (TiXmlElement* e : model.model.Scalars()) {
            bool listed = names.empty();
            for (const char* n : names)
                listed = listed || n == std::string(DS_Description(e));
            std::string joined;
            for (const std::string& v : ValuesOf(e))
                joined += (joined.empty() ? "" : ",") + v;
            out += listed ? (out.empty() ? "" : " ") + joined : "";
        }
        return out;
    }
    // Runs kind against a unit that plays script; the unit must see exactly the script.
    AppState Scripted(OperationKind kind, const ScriptedPeer::Script& script, bool talkLog = false)
    {
        ScriptedPeer peer({script});
        EXPECT_TRUE(peer.Start());
        RunnerStart(peer.HostPort());
        runner_->FlagsSet(RunFlags::TalkLog, talkLog);
        const AppState end = Run(kind);
        EXPECT_TRUE(peer.Finish());
        EXPECT_EQ(std::vector<std::string>(), peer.Problems());
        return end;
    }

    SettingsFixture model;
    std::vector<TiXmlElement*> changed;
};

TEST_F(TalkTest, WriteAllThenReadAllThroughTheSimulator)
{
    // Two records with values of every kind, and a third whose settings were all unticked.
    Load({"count Integer 21 0 1 2", "temp Float 21 0 3 1 <units>0.1</units>", "name String 21 0 4 4",
          "flags IntArray 21 1 1 1/2 <indexes>a,b,c</indexes>", "mode Integer 21 1 4 1 <units>0.5</units>",
          "spare1 Integer 22 5 1 1", "spare2 Integer 22 5 2 2", "spare3 String 22 5 4 1"});
    const std::vector<std::vector<std::string>> values = {{"4294967295"}, {"2.5"}, {"Дом"}, {"1", "0", "1"}, {"14"}};
    const std::vector<TiXmlElement*> all = model.model.Scalars();
    for (size_t i = 0; i < values.size(); ++i)
        ValuesPut(all[i], values[i]);
    StartSim();
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll)) << ui_->Dump();
    EXPECT_EQ(1, ui_->Count("Device talk..."));
    const int writeCalls = ui_->progressCalls;
    for (TiXmlElement* e : all)
        ValuesPut(e, {"stale"});
    runner_->FlagsSet(RunFlags::TalkLog, true);
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll)) << ui_->Dump();
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(i < values.size() ? values[i] : std::vector<std::string>{"<none>"}, ValuesOf(all[i])) << i;
    EXPECT_EQ(all, changed);
    EXPECT_EQ("", ui_->Missing({"Read 'count' - 'name'", "Read 'flags' - 'mode'", "Read 'spare1' - 'spare3'"},
                               {"Device talk..."}));
    EXPECT_EQ("8/8", ui_->ProgressText());
    EXPECT_EQ(4, writeCalls);  // each operation: the reset at its start and one per record
    EXPECT_EQ(8, ui_->progressCalls);
}

TEST_F(TalkTest, GroupKindsWalkTheShownSettingsAllKindsEverySetting)
{
    ASSERT_TRUE(model.Load(Description(Group(1, "One") + Group(2, "Two"), Item("one", 1, "Integer", Pos(21, 0, 1, 1)) +
                                                                              Item("two", 2, "Integer", Pos(21, 1, 1, 1)))));
    StartSim();
    ValuesPut(Setting("one"), {"5"});
    ValuesPut(Setting("two"), {"6"});
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsGroup)) << ui_->Dump();
    ValuesPut(Setting("two"), {"7"});
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll)) << ui_->Dump();
    EXPECT_EQ(ValuesOf(Setting("one")), std::vector<std::string>{"5"});
    EXPECT_EQ(ValuesOf(Setting("two")), std::vector<std::string>{"<none>"});  // never written
    ValuesPut(Setting("two"), {"9"});
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll)) << ui_->Dump();
    ValuesPut(Setting("one"), {"1"});
    ValuesPut(Setting("two"), {"1"});
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsGroup)) << ui_->Dump();
    EXPECT_EQ(ValuesOf(Setting("one")), std::vector<std::string>{"5"});
    EXPECT_EQ(ValuesOf(Setting("two")), std::vector<std::string>{"1"});
}

TEST_F(TalkTest, SplitReadRecordAskedTwiceUnavailableRecordGoesOn)
{
    const std::string near = "{\"file\":21,\"rec\":0,\"offset\":2,\"count\":1}", far = "{\"file\":23,\"rec\":0,\"offset\":1,\"count\":1}";
    Load({"a Integer 21 0 1 1", "b Integer 22 0 1 1"}, Item("c", 1, "Integer", "{\"r\":" + near + ",\"w\":" + far + "}"));
    ValuesPut(Setting("b"), {"1"});
    EXPECT_EQ(AppState::Succeeded,
              Scripted(OperationKind::ReadSettingsAll,
                       {ExpectBytes(ReadRequest(21, 0, 2)), SendBytes(ReadAnswer("00 01 00 05")), ExpectBytes(ReadRequest(22, 0, 2)),
                        SendBytes(ReadAnswer("00 00 00 06")), ExpectBytes(ReadRequest(21, 0, 3)),
                        SendBytes(ReadAnswer("00 01 00 07 00 08"))}));
    EXPECT_EQ("5 <none> 8", Values());
}

TEST_F(TalkTest, RefusedRecordStopsTheWalkKeepingEarlierValues)
{
    Load({"a Integer 21 0 1 1", "b Integer 22 0 1 1", "c Integer 23 0 1 1"});
    for (const char* name : {"a", "b", "c"})
        ValuesPut(Setting(name), {"9"});
    EXPECT_EQ(AppState::Error, Scripted(OperationKind::ReadSettingsAll,
                                        {ExpectBytes(ReadRequest(21, 0, 2)), SendBytes(ReadAnswer("00 01 00 05")),
                                         ExpectBytes(ReadRequest(22, 0, 2)), SendBytes(Hex("00 7B 00 00 00 03 00 94 02"))}));
    EXPECT_EQ("5 <none> 9", Values());
    EXPECT_EQ("1/3", ui_->ProgressText());
}

// A record with values carries the plain password; one whose settings were all unticked goes
// out as the password with bit 15 and zeros, as far as its settings reach.
TEST_F(TalkTest, WriteRequestsCarryPasswordAndValues)
{
    Load({"v Integer 24 1 1 1", "x Integer 24 0 1 1", "y Integer 24 0 2 2", "z String 24 0 4 1"});
    ValuesPut(Setting("v"), {"0x1234"});
    const Bytes values = WriteRequest(24, 1, "00 01 12 34"), unticked = WriteRequest(24, 0, "80 01 00 00 00 00 00 00 00 00");
    EXPECT_EQ(AppState::Succeeded, Scripted(OperationKind::WriteSettingsAll, {ExpectBytes(values), SendBytes(values),
                                                                              ExpectBytes(unticked), SendBytes(unticked)},
                                            true));
    EXPECT_EQ("", ui_->Missing({"Write 'v'", "Write 'x' - 'z'"}));
}

// A value that cannot be encoded ends the write before its record's request; the records before
// it are written. A shown group without settings sends nothing.
TEST_F(TalkTest, WriteFailureStopsTheWalkAndNothingToWalkSendsNothing)
{
    Load({"a Integer 21 0 1 1", "b IntArray 22 0 1 3 <indexes>p,q</indexes>", "c Integer 23 0 1 1"});
    ValuesPut(Setting("a"), {"7"});
    ValuesPut(Setting("b"), {"1", "2"});
    ValuesPut(Setting("c"), {"1"});
    const Bytes first = WriteRequest(21, 0, "00 01 00 07");
    EXPECT_EQ(AppState::Error, Scripted(OperationKind::WriteSettingsAll, {ExpectBytes(first), SendBytes(first)}));
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Wrong value size")) << ui_->Dump();
    model.model.SelectGroup(2, false);
    EXPECT_EQ(AppState::Succeeded, Scripted(OperationKind::ReadSettingsGroup, {}));
    EXPECT_EQ(AppState::Succeeded, Scripted(OperationKind::WriteSettingsGroup, {}));
}

TEST_F(TalkTest, AbortDuringReadAllThenReadAgain)
{
    Load({"s0 Integer 21 0 1 1", "s1 Integer 21 1 1 1", "s2 Integer 21 2 1 1", "s3 Integer 21 3 1 1",
          "s4 Integer 21 4 1 1", "s5 Integer 21 5 1 1"});
    StartSim({"--fault-delay", "300:4"});
    runner_->ThreadCreate(OperationKind::ReadSettingsAll, SString("begin"));
    for (int waited = 0; ui_->progressCalls < 2 && waited < kOperationTimeoutMs; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    runner_->TalkStop();
    EXPECT_EQ(AppState::Aborted, Finish()) << ui_->Dump();
    EXPECT_EQ(1, ui_->Count("ABORTED")) << ui_->Dump();
    EXPECT_NE("6/6", ui_->ProgressText());
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll)) << ui_->Dump();
    EXPECT_EQ("6/6", ui_->ProgressText());
}

// The record bodies' own checks: each logs its line in the Error style and sends nothing (the
// descriptor has no channel, so a request would fail the test).
TEST_F(TalkTest, RecordBodiesRefuseRunsThatAreNotOneRecord)
{
    const struct {
        bool write;
        std::vector<const char*> run;  // settings by name; "-" is an element without a record
        std::vector<const char*> withValues;
        const char* line;  // null: the empty run succeeds silently
    } cases[] = {
        {true, {"-", "a"}, {}, "Assert: no device setting"},
        {true, {"a", "b"}, {}, "Assert: settings union is wrong"},
        {true, {"a", "c", "b"}, {}, "Assert: settings union is wrong"},
        {true, {"a", "b", "c", "d"}, {}, "Assert: settings union is wrong"},
        {true, {"a", "b", "c"}, {"a", "c"}, "Assert: availability is different"},
        {true, {"d", "far"}, {"d", "far"}, "Assert: Overflow regCount"},
        {false, {"d", "far"}, {"d", "far"}, "Assert: Overflow regCount"},
        {true, {}, {}, nullptr},
        {false, {}, {}, nullptr},
    };
    Load({"a Integer 21 0 1 1", "b Integer 21 0 2 1", "c Integer 21 0 3 1", "d Integer 22 0 1 1", "far Integer 22 0 63 2"});
    TiXmlElement plain("scalar");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "empty");
        RunnerStart("127.0.0.1:1");
        Quill::List<TiXmlElement> run;
        for (const char* name : c.run)
            run.Add(std::string(name) == "-" ? &plain : Setting(name));
        for (TiXmlElement* e : model.model.Scalars())
            DS_ValuesRemove(e);
        for (const char* name : c.withValues)
            ValuesPut(Setting(name), {"1"});
        MODBUS_TalkInfo talk;
        bool ok = false;
        // Worker-thread bodies: they log taking the display lock.
        std::thread([&] { ok = c.write ? DS_WriteRecord_th(*runner_, talk, run) : DS_ReadRecord_th(*runner_, talk, run, nullptr); })
            .join();
        EXPECT_EQ(!c.line, ok);
        EXPECT_EQ(c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{}, ui_->Texts());
        EXPECT_EQ(c.line ? LogStyleError : -1, ui_->StyleOf(c.line ? c.line : "-"));
        for (const char* name : c.run)
            EXPECT_TRUE(c.write || std::string(name) == "-" || !DS_Values(Setting(name))) << name;
    }
}

// The sample settings file is the default description with a value for every setting: written
// and read back, and as the values the unit starts with (coded by the simulator's own code).
TEST_F(TalkTest, SampleSettingsRoundTripThroughTheSimulator)
{
    const char* source = getenv("PELTA_SOURCE_DIR");
    const std::string dir = std::string(source && *source ? source : PELTA_TEST_SOURCE_DIR) + "/res/";
    ASSERT_TRUE(model.model.DS_Load((dir + "samples/Pelta-ru.xml").c_str()));
    ASSERT_TRUE(model.ui.messages.empty()) << model.ui.messages[0];
    const std::string expected = Values();
    ASSERT_GE(model.model.Scalars().size(), 20u);
    ASSERT_EQ(std::string::npos, expected.find("<none>"));
    for (bool seeded : {false, true}) {
        SCOPED_TRACE(seeded ? "seeded by the simulator" : "written");
        std::vector<std::string> args = {"--description", dir + "Pelta.xml"};
        if (seeded)
            args.insert(args.end(), {"--settings-values", dir + "samples/Pelta-ru.xml"});
        StartSim(args);
        if (!seeded) {
            ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll)) << ui_->Dump();
        }
        for (TiXmlElement* e : model.model.Scalars())
            DS_ValuesRemove(e);
        ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll)) << ui_->Dump();
        EXPECT_EQ(expected, Values());
    }
}
}  // namespace
