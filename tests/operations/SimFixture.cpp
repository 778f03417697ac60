#include "tests/operations/SimFixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "channels/TalkChannel_TCP.h"

namespace {
const int kFastSocketMs = 500;
const size_t kStagedRecordBytes = 16;
const int64_t kFrozenClock = 1700000000;

uint16_t Be16(const uint8_t* p) { return (uint16_t)((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
}  // namespace

RunnerOptions FastOptions()
{
    RunnerOptions options;
    options.timeouts.readWindowSec = 1;
    options.timeouts.pollWaitMs = 10;
    options.timeouts.drainQuietSec = 1;
    options.timeouts.retryWaitMs = 20;
    options.channelFactory = [](TalkChannelExtI* owner) -> TalkChannel* {
        return new TalkChannel_TCP(owner, "", kFastSocketMs);
    };
    return options;
}

std::string ScratchDir()
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pelta-ops-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char* made = mkdtemp(buffer.data());
    return made ? std::string(made) : std::string();
}

std::string FileWrite(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    return path;
}

std::vector<uint8_t> FileRead(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> ImageBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = (uint8_t)(x >> 16);
    }
    return bytes;
}

bool StagedRead(const std::string& path, StagedRecords* out)
{
    std::vector<uint8_t> raw = FileRead(path);
    if (raw.size() < kStagedRecordBytes || raw.size() % kStagedRecordBytes != 0)
        return false;
    const uint8_t* header = raw.data();
    out->recordCount = Be16(header + 2);
    out->size = Be32(header + 4);
    out->crc = Be32(header + 8);
    out->mask = Be32(header + 12);
    out->wordCounts.clear();
    out->unmasked.clear();
    for (size_t at = kStagedRecordBytes; at < raw.size(); at += kStagedRecordBytes) {
        const uint8_t* record = raw.data() + at;
        uint16_t count = Be16(record + 2);
        out->wordCounts.push_back(count);
        for (uint16_t w = 0; w < count && w < 3; ++w) {
            uint32_t word = Be32(record + 4 + 4 * w) ^ out->mask;
            for (int b = 0; b < 4; ++b)
                out->unmasked.push_back((uint8_t)(word >> (8 * b)));
        }
    }
    return true;
}

void RunnerSimTest::StartSim(std::vector<std::string> args)
{
    scratch_ = ScratchDir();
    ASSERT_FALSE(scratch_.empty());
    stateDir_ = scratch_ + "/state";
    args.push_back("--state-dir");
    args.push_back(stateDir_);
    sim_.reset(new SimProcess(args));
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
    ui_.reset(new RecordingUi());
    // A clock that stands still keeps the end lines' durations exact on a loaded machine.
    ui_->clockBase = kFrozenClock;
    runner_.reset(new OperationRunner(ui_.get(), FastOptions()));
    ui_->Attach(runner_.get());
    ui_->Inputs(sim_->HostPort(), password_);
}

void RunnerSimTest::TearDown()
{
    if (runner_)
        runner_->WorkerStop(true);
    if (ui_) {
        EXPECT_EQ(0, ui_->LockMistakes());
    }
    runner_.reset();
    ui_.reset();
    if (sim_) {
        sim_->Stop();
        if (HasFailure())
            printf("simulator output:\n%s\n", sim_->Output().c_str());
    }
    sim_.reset();
    if (!scratch_.empty()) {
        std::string command = "rm -rf '" + scratch_ + "'";
        EXPECT_EQ(0, system(command.c_str()));
        scratch_.clear();
    }
}

void RunnerSimTest::RunCommand(OperationKind kind)
{
    ASSERT_TRUE(runner_->CommandBegin(kind));
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs)) << ui_->Dump();
}

void RunnerSimTest::RunWriteFile(const std::string& path, bool firmware)
{
    runner_->ImageSet(SString(path.c_str()));
    ASSERT_TRUE(runner_->WriteBegin(firmware));
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs)) << ui_->Dump();
}

void RunnerSimTest::RunWrite(const std::vector<uint8_t>& image, bool firmware)
{
    RunWriteFile(FileWrite(scratch_, "image.bin", image), firmware);
}

AppState RunnerSimTest::State()
{
    AppState state;
    runner_->StateGet(&state, nullptr);
    return state;
}

std::string RunnerSimTest::EndLine()
{
    std::vector<std::string> texts = ui_->Texts();
    return texts.empty() ? std::string() : texts.back();
}
