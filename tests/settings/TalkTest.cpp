// Reading and writing settings through the runner: against the simulator for the whole path,
// against a scripted unit for exact requests and failures, and the record bodies' own checks.
#include <chrono>
#include <thread>

#include "base/LogTypes.h"
#include "settings/SettingsXml.h"
#include "tests/settings/TalkTestSupport.h"

namespace {

const std::vector<std::string> kNone = {};

void ValuesPut(TiXmlElement* element, const std::vector<std::string>& values)
{
    DS_ValuesRemove(element);
    for (const std::string& v : values)
        ASSERT_TRUE(DS_ValueAppend(element, v.c_str()));
}

std::vector<std::string> Values(const TiXmlElement* element)
{
    std::vector<std::string> out;
    for (const SString& v : DS_ValueTexts(element))
        out.emplace_back(v.Text());
    return out;
}

// Two records with values of every kind and a third whose settings were all unticked.
const char* kRoundTripNames[] = {"count", "temp", "name", "flags", "address", "mode", "spare1", "spare2", "spare3"};

std::string RoundTripDescription()
{
    return Place("count", "Integer", 21, 0, 1, 2) + Place("temp", "Float", 21, 0, 3, 1, "<units>0.1</units>") +
           Place("name", "String", 21, 0, 4, 4) +
           Place("flags", "IntArray", 21, 1, 1, 1, "<indexes>a,b,c</indexes>", 2) +
           Place("address", "String", 21, 1, 2, 2, "", 0, "format=\"u.u.u.u\"") +
           Place("mode", "Integer", 21, 1, 4, 1, "<units>0.5</units>") + Place("spare1", "Integer", 22, 5, 1, 1) +
           Place("spare2", "Integer", 22, 5, 2, 2) + Place("spare3", "String", 22, 5, 4, 1);
}

const std::vector<std::vector<std::string>> kRoundTripValues = {
    {"4294967295"}, {"2.5"}, {"Дом"}, {"1", "0", "1"}, {"192.168.0.1"}, {"14"}, kNone, kNone, kNone};

TEST_F(TalkTest, WriteAllThenReadAllThroughTheSimulator)
{
    Load(RoundTripDescription());
    SimStart();
    std::vector<TiXmlElement*> all = model.model.Scalars();
    ASSERT_EQ(9u, all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        if (kRoundTripValues[i] != kNone)
            ValuesPut(all[i], kRoundTripValues[i]);
    }
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll, all)) << ui_->Dump();
    EXPECT_EQ(1, ui_->Count("Device talk..."));

    int64_t done = 0, total = 0;
    int writeCalls = 0;
    ui_->Progress(&done, &total, &writeCalls);
    for (size_t i = 0; i < all.size(); ++i)
        ValuesPut(all[i], {"stale"});
    runner_->FlagsSet(RunFlags::TalkLog, true);
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll, all)) << ui_->Dump();
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(kRoundTripValues[i], Values(all[i])) << kRoundTripNames[i];
        EXPECT_EQ(kRoundTripValues[i] != kNone, DS_Values(all[i]) != nullptr) << kRoundTripNames[i];
    }
    EXPECT_EQ(all, ui_->changed);
    EXPECT_EQ(0, ui_->Count("Device talk..."));
    EXPECT_EQ(1, ui_->Count("Read 'count' - 'name'")) << ui_->Dump();
    EXPECT_EQ(1, ui_->Count("Read 'flags' - 'mode'"));
    EXPECT_EQ(1, ui_->Count("Read 'spare1' - 'spare3'"));
    int calls = 0;
    ui_->Progress(&done, &total, &calls);
    EXPECT_EQ(9, done);
    EXPECT_EQ(9, total);
    // Each operation: the reset at its start and one per record.
    EXPECT_EQ(4, writeCalls);
    EXPECT_EQ(8, calls);
}

TEST_F(TalkTest, ReadOneSettingNamesIt)
{
    Load(Place("alone", "Integer", 21, 0, 1, 1) + Place("other", "Integer", 21, 2, 1, 1));
    SimStart();
    runner_->FlagsSet(RunFlags::TalkLog, true);
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsGroup, {Setting("alone")})) << ui_->Dump();
    EXPECT_EQ(1, ui_->Count("Read 'alone'"));
    EXPECT_EQ(0, ui_->Count("other"));
    EXPECT_FALSE(DS_Values(Setting("alone")));  // never written: not available
}

TEST_F(TalkTest, NothingToWalkSendsNothing)
{
    Load(Place("a", "Integer", 21, 0, 1, 1));
    ScriptedPeer peer({ScriptedPeer::Script(), ScriptedPeer::Script()});
    ASSERT_TRUE(peer.Start());
    RunnerStart(peer.HostPort());
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsGroup, {})) << ui_->Dump();
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsGroup, {})) << ui_->Dump();
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ(std::vector<std::string>(), peer.Problems());
}

// A read record split by another one is asked for twice; a record whose mark is 0 leaves its
// setting without values and the read goes on.
TEST_F(TalkTest, SplitRecordReadTwiceAndUnavailableRecordGoesOn)
{
    const std::string near = "{\"file\":21,\"rec\":0,\"offset\":2,\"count\":1}";
    const std::string far = "{\"file\":23,\"rec\":0,\"offset\":1,\"count\":1}";
    Load(Place("a", "Integer", 21, 0, 1, 1) + Place("b", "Integer", 22, 0, 1, 1) +
         Scalar("c", "gid=\"1\" type=\"Integer\" position='{\"r\":" + near + ",\"w\":" + far + "}'"));
    ScriptedPeer peer({{ExpectBytes(ReadRequest(21, 0, 2)), SendBytes(ReadAnswer(Hex("00 01 00 05"))),
                        ExpectBytes(ReadRequest(22, 0, 2)), SendBytes(ReadAnswer(Hex("00 00 00 06"))),
                        ExpectBytes(ReadRequest(21, 0, 3)), SendBytes(ReadAnswer(Hex("00 01 00 07 00 08")))}});
    ASSERT_TRUE(peer.Start());
    RunnerStart(peer.HostPort());
    ValuesPut(Setting("b"), {"1"});
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll, model.model.Scalars())) << ui_->Dump();
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ(std::vector<std::string>(), peer.Problems());
    EXPECT_EQ(std::vector<std::string>{"5"}, Values(Setting("a")));
    EXPECT_FALSE(DS_Values(Setting("b")));
    EXPECT_EQ(std::vector<std::string>{"8"}, Values(Setting("c")));
}

TEST_F(TalkTest, FailedRecordStopsTheWalkKeepingEarlierValues)
{
    Load(Place("a", "Integer", 21, 0, 1, 1) + Place("b", "Integer", 22, 0, 1, 1) + Place("c", "Integer", 23, 0, 1, 1));
    ScriptedPeer peer({{ExpectBytes(ReadRequest(21, 0, 2)), SendBytes(ReadAnswer(Hex("00 01 00 05"))),
                        ExpectBytes(ReadRequest(22, 0, 2)), SendBytes(Hex("00 7B 00 00 00 03 00 94 02"))}});
    ASSERT_TRUE(peer.Start());
    RunnerStart(peer.HostPort());
    for (const char* name : {"a", "b", "c"})
        ValuesPut(Setting(name), {"9"});
    EXPECT_EQ(AppState::Error, Run(OperationKind::ReadSettingsAll, model.model.Scalars())) << ui_->Dump();
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ(std::vector<std::string>(), peer.Problems());
    EXPECT_EQ(std::vector<std::string>{"5"}, Values(Setting("a")));
    EXPECT_FALSE(DS_Values(Setting("b")));
    EXPECT_EQ(std::vector<std::string>{"9"}, Values(Setting("c")));
    int64_t done = 0, total = 0;
    int calls = 0;
    ui_->Progress(&done, &total, &calls);
    EXPECT_EQ(1, done);
    EXPECT_EQ(3, total);
}

// A record with values carries the plain password; one whose settings were all unticked goes
// out as the password with bit 15 and zeros, as long as its settings reach.
TEST_F(TalkTest, WriteRequestsCarryPasswordAndValues)
{
    Load(Place("v", "Integer", 24, 1, 1, 1) + Place("x", "Integer", 24, 0, 1, 1) + Place("y", "Integer", 24, 0, 2, 2) +
         Place("z", "String", 24, 0, 4, 1));
    const Bytes withValues = WriteRequest(24, 1, Hex("00 01 12 34"));
    const Bytes unticked = WriteRequest(24, 0, Hex("80 01 00 00 00 00 00 00 00 00"));
    ScriptedPeer peer({{ExpectBytes(withValues), SendBytes(withValues), ExpectBytes(unticked), SendBytes(unticked)}});
    ASSERT_TRUE(peer.Start());
    RunnerStart(peer.HostPort());
    ValuesPut(Setting("v"), {"0x1234"});
    runner_->FlagsSet(RunFlags::TalkLog, true);
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll, model.model.Scalars())) << ui_->Dump();
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ(std::vector<std::string>(), peer.Problems());
    EXPECT_EQ(1, ui_->Count("Write 'v'"));
    EXPECT_EQ(1, ui_->Count("Write 'x' - 'z'"));
}

// A value that cannot be encoded ends the write before its record's request; the records
// before it are written, the ones after are not.
TEST_F(TalkTest, WriteFailureStopsTheWalk)
{
    Load(Place("a", "Integer", 21, 0, 1, 1) + Place("b", "IntArray", 22, 0, 1, 3, "<indexes>p,q</indexes>") +
         Place("c", "Integer", 23, 0, 1, 1));
    const Bytes first = WriteRequest(21, 0, Hex("00 01 00 07"));
    ScriptedPeer peer({{ExpectBytes(first), SendBytes(first)}});
    ASSERT_TRUE(peer.Start());
    RunnerStart(peer.HostPort());
    ValuesPut(Setting("a"), {"7"});
    ValuesPut(Setting("b"), {"1", "2"});
    ValuesPut(Setting("c"), {"1"});
    EXPECT_EQ(AppState::Error, Run(OperationKind::WriteSettingsAll, model.model.Scalars())) << ui_->Dump();
    EXPECT_EQ(LogStyleError, ui_->StyleOf("Wrong value size")) << ui_->Dump();
    EXPECT_TRUE(peer.Finish());
    EXPECT_EQ(std::vector<std::string>(), peer.Problems());
}

TEST_F(TalkTest, AbortDuringReadAllThenReadAgain)
{
    std::string scalars;
    for (int rec = 0; rec < 8; ++rec)
        scalars += Place("s" + std::to_string(rec), "Integer", 21, rec, 1, 1);
    Load(scalars);
    SimStart({"--fault-delay", "300:4"});
    const std::vector<TiXmlElement*> all = model.model.Scalars();
    ui_->walk = all;
    runner_->ThreadCreate(OperationKind::ReadSettingsAll, SString("begin"));
    int64_t done = 0, total = 0;
    int calls = 0;
    for (int waited = 0; calls < 2 && waited < kOperationTimeoutMs; waited += 5) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ui_->Progress(&done, &total, &calls);
    }
    ASSERT_GE(calls, 2) << ui_->Dump();
    runner_->TalkStop();
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
    AppState state = AppState::Unknown;
    runner_->StateGet(&state, nullptr);
    EXPECT_EQ(AppState::Aborted, state) << ui_->Dump();
    EXPECT_EQ(1, ui_->Count("ABORTED")) << ui_->Dump();
    ui_->Progress(&done, &total, &calls);
    EXPECT_LT(done, 8);

    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll, all)) << ui_->Dump();
    ui_->Progress(&done, &total, &calls);
    EXPECT_EQ(8, done);
}

// The record bodies' own checks: each logs its line in the Error style and sends nothing
// (the descriptor has no channel, so any request would fail the test).
struct AssertCase {
    const char* name;
    bool write;
    std::vector<const char*> run;  // settings by name; "-" is an element without a record
    std::vector<const char*> withValues;
    const char* line;
};

const AssertCase kAssertCases[] = {
    {"not a setting", true, {"-", "a"}, {}, "Assert: no device setting"},
    {"part of a record", true, {"a", "b"}, {}, "Assert: settings union is wrong"},
    {"record in another order", true, {"a", "c", "b"}, {}, "Assert: settings union is wrong"},
    {"record and more", true, {"a", "b", "c", "d"}, {}, "Assert: settings union is wrong"},
    {"availability differs", true, {"a", "b", "c"}, {"a", "c"}, "Assert: availability is different"},
    {"write beyond 64 registers", true, {"d", "far"}, {"d", "far"}, "Assert: Overflow regCount"},
    {"read beyond 64 registers", false, {"d", "far"}, {"d", "far"}, "Assert: Overflow regCount"},
};

class RecordAssertTest : public TalkTest, public ::testing::WithParamInterface<AssertCase> {};

TEST_P(RecordAssertTest, LogsAndFails)
{
    const AssertCase& c = GetParam();
    Load(Place("a", "Integer", 21, 0, 1, 1) + Place("b", "Integer", 21, 0, 2, 1) + Place("c", "Integer", 21, 0, 3, 1) +
         Place("d", "Integer", 22, 0, 1, 1) + Place("far", "Integer", 22, 0, 63, 2));
    RunnerStart("127.0.0.1:1");
    TiXmlElement plain("scalar");
    Quill::List<TiXmlElement> run;
    for (const char* name : c.run)
        run.Add(std::string(name) == "-" ? &plain : Setting(name));
    for (const char* name : c.withValues)
        ValuesPut(Setting(name), {"1"});
    MODBUS_TalkInfo talk;
    bool ok = true;
    // Worker-thread bodies: they log taking the display lock.
    std::thread worker([&] {
        ok = c.write ? DS_WriteRecord_th(*runner_, talk, run) : DS_ReadRecord_th(*runner_, talk, run, nullptr);
    });
    worker.join();
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(std::vector<std::string>{c.line}, ui_->Texts()) << c.name;
    EXPECT_EQ(LogStyleError, ui_->StyleOf(c.line)) << c.name;
    if (!c.write) {
        for (const char* name : c.run)
            EXPECT_FALSE(DS_Values(Setting(name))) << c.name << ": " << name;
    }
}

TEST_F(TalkTest, EmptyRunSucceedsSilently)
{
    Load(Place("a", "Integer", 21, 0, 1, 1));
    RunnerStart("127.0.0.1:1");
    Quill::List<TiXmlElement> run;
    MODBUS_TalkInfo talk;
    bool read = false;
    bool write = false;
    std::thread worker([&] {
        read = DS_ReadRecord_th(*runner_, talk, run, nullptr);
        write = DS_WriteRecord_th(*runner_, talk, run);
    });
    worker.join();
    EXPECT_TRUE(read);
    EXPECT_TRUE(write);
    EXPECT_TRUE(ui_->Texts().empty()) << ui_->Dump();
}

INSTANTIATE_TEST_SUITE_P(Talk, RecordAssertTest, ::testing::ValuesIn(kAssertCases),
                         [](const ::testing::TestParamInfo<AssertCase>& info) { return std::to_string(info.index); });

}  // namespace

namespace {

std::string SourcePath(const std::string& relative)
{
    const char* dir = getenv("PELTA_SOURCE_DIR");
    return std::string(dir && *dir ? dir : PELTA_TEST_SOURCE_DIR) + "/" + relative;
}

// The sample settings file is the default description with a value for every setting.
class PeltaRoundTripTest : public TalkTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(model.model.DS_Load(SourcePath("res/samples/Pelta-ru.xml").c_str()));
        ASSERT_TRUE(model.ui.messages.empty()) << model.ui.messages[0];
        all_ = model.model.Scalars();
        ASSERT_GE(all_.size(), 20u);
        for (TiXmlElement* e : all_) {
            ASSERT_TRUE(DS_Values(e)) << DS_Description(e);
            expected_.push_back(Values(e));
        }
    }

    void ReadAllAndCompare()
    {
        for (TiXmlElement* e : all_)
            DS_ValuesRemove(e);
        ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll, all_)) << ui_->Dump();
        for (size_t i = 0; i < all_.size(); ++i)
            EXPECT_EQ(expected_[i], Values(all_[i])) << DS_Description(all_[i]);
    }

    std::vector<TiXmlElement*> all_;
    std::vector<std::vector<std::string>> expected_;
};

TEST_F(PeltaRoundTripTest, EverySettingWrittenAndReadBack)
{
    SimStart({"--description", SourcePath("res/Pelta.xml")});
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll, all_)) << ui_->Dump();
    ReadAllAndCompare();
}

// The simulator codes the file's values with its own code: our reading must give them back.
TEST_F(PeltaRoundTripTest, ValuesTheUnitStartsWithReadBack)
{
    SimStart({"--description", SourcePath("res/Pelta.xml"), "--settings-values",
              SourcePath("res/samples/Pelta-ru.xml")});
    ReadAllAndCompare();
}

}  // namespace
