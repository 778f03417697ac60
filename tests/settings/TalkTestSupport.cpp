#include "tests/settings/TalkTestSupport.h"

#include "base/FileUtil.h"

namespace {
const int64_t kFrozenClock = 1700000000;

// Modbus TCP frame of unit 0 with the tool's transaction identifier.
Bytes Frame(uint8_t function, const Bytes& data)
{
    const size_t length = data.size() + 2;
    return Concat({{(uint8_t)(kModbusTransactionId >> 8), (uint8_t)kModbusTransactionId, 0, 0,
                    (uint8_t)(length >> 8), (uint8_t)length, 0, function},
                   data});
}
}  // namespace

bool TalkUi::OperationBody(OperationKind kind, MODBUS_TalkInfo& talk)
{
    switch (kind) {
    case OperationKind::ReadSettingsGroup:
    case OperationKind::ReadSettingsAll:
        return DS_ReadFromDev_th(*runner, talk, walk, this);
    case OperationKind::WriteSettingsGroup:
    case OperationKind::WriteSettingsAll:
        return DS_WriteToDev_th(*runner, talk, walk);
    default:
        return RunnerUiI::OperationBody(kind, talk);
    }
}

void TalkUi::SettingChanged(TiXmlElement* element)
{
    std::lock_guard<std::mutex> hold(changedLock);
    changed.push_back(element);
}

std::string Place(const std::string& name, const std::string& type, int file, int rec, int offset, int count,
                  const std::string& body, int byte, const std::string& attrs)
{
    std::string at = "{\"file\":" + std::to_string(file) + ",\"rec\":" + std::to_string(rec) +
                     ",\"offset\":" + std::to_string(offset) + ",\"count\":" + std::to_string(count) +
                     (byte ? ",\"byte\":" + std::to_string(byte) : std::string()) + "}";
    return Scalar(name, attrs + " gid=\"1\" type=\"" + type + "\" position='{\"r\":" + at + ",\"w\":" + at + "}'",
                  body);
}

Bytes ReadRequest(uint16_t file, uint16_t rec, uint16_t length)
{
    return Frame(kFnReadFileRecord, {7, 6, (uint8_t)(file >> 8), (uint8_t)file, (uint8_t)(rec >> 8), (uint8_t)rec,
                                     (uint8_t)(length >> 8), (uint8_t)length});
}

Bytes ReadAnswer(const Bytes& registers)
{
    return Frame(kFnReadFileRecord, Concat({{(uint8_t)(registers.size() + 2), (uint8_t)(registers.size() + 1), 6},
                                            registers}));
}

Bytes WriteRequest(uint16_t file, uint16_t rec, const Bytes& registers)
{
    const uint16_t length = (uint16_t)(registers.size() / 2);
    return Frame(kFnWriteFileRecord,
                 Concat({{(uint8_t)(registers.size() + 7), 6, (uint8_t)(file >> 8), (uint8_t)file, (uint8_t)(rec >> 8),
                          (uint8_t)rec, (uint8_t)(length >> 8), (uint8_t)length},
                         registers}));
}

void TalkTest::TearDown()
{
    if (runner_)
        runner_->WorkerStop(true);
    if (ui_) {
        EXPECT_EQ(0, ui_->LockMistakes());
    }
    runner_.reset();
    ui_.reset();
    if (sim_)
        sim_->Stop();
    if (!scratch_.empty())
        RemoveRecurs(scratch_.c_str());
}

void TalkTest::Load(const std::string& scalars)
{
    ASSERT_TRUE(model.Load(Description(Group(1, "G"), scalars)));
    ASSERT_TRUE(model.ui.messages.empty()) << model.ui.messages[0];
}

void TalkTest::RunnerStart(const std::string& host)
{
    ui_.reset(new TalkUi());
    ui_->clockBase = kFrozenClock;
    runner_.reset(new OperationRunner(ui_.get(), FastOptions()));
    ui_->Attach(runner_.get());
    ui_->runner = runner_.get();
    ui_->Inputs(host, "1");
}

void TalkTest::SimStart(std::vector<std::string> args)
{
    scratch_ = ScratchDir();
    ASSERT_FALSE(scratch_.empty());
    args.push_back("--state-dir");
    args.push_back(scratch_ + "/state");
    sim_.reset(new SimProcess(args));
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
    RunnerStart(sim_->HostPort());
}

AppState TalkTest::Run(OperationKind kind, const std::vector<TiXmlElement*>& walk)
{
    ui_->walk = walk;
    runner_->ThreadCreate(kind, SString("begin"));
    EXPECT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
    AppState state = AppState::Unknown;
    runner_->StateGet(&state, nullptr);
    return state;
}

TiXmlElement* TalkTest::Setting(const std::string& name)
{
    TiXmlElement* element = model.Find(name);
    EXPECT_NE(nullptr, element) << name;
    return element;
}
