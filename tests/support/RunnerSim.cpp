#include "tests/support/RunnerSim.h"
#include "channels/TalkChannel_TCP.h"

RunnerOptions FastOptions()
{
    RunnerOptions options;
    options.timeouts = {1, 10, 1, 20};   // read window and drain quiet in seconds, poll and retry waits in ms
    options.channelFactory = [](TalkChannelExtI* owner) -> TalkChannel* { return new TalkChannel_TCP(owner, "", 500); };
    return options;
}

void RunnerSimTest::StartSim(std::vector<std::string> args)
{
    TearDown();
    stateDir_ = scratch_ / ("state" + std::to_string(++starts_));
    args.insert(args.end(), {"--state-dir", stateDir_});
    sim_.reset(new SimProcess(args));
    std::string error;
    EXPECT_TRUE(sim_->Start(&error)) << error;
    RunnerStart(sim_->HostPort());  // also without a simulator: the test fails, not crashes
}

void RunnerSimTest::RunnerStart(const std::string& host, const RunnerOptions& options)
{
    runner_.reset();  // idle here: nothing of the front end is touched
    ui_.reset(new RecordingUi());
    ui_->clockBase = 1700000000;
    runner_.reset(new OperationRunner(ui_.get(), options));
    ui_->Attach(runner_.get());
    ui_->Inputs(host, password_);
}

void RunnerSimTest::TearDown()
{
    if (runner_) runner_->WorkerStop(true);
    if (ui_) EXPECT_EQ(0, ui_->Mistakes());
    runner_.reset();
    ui_.reset();
    if (sim_ && HasFailure()) printf("simulator output:\n%s\n", sim_->Output().c_str());
    sim_.reset();
}

AppState RunnerSimTest::Run(OperationKind kind)
{
    if (!runner_->CommandBegin(kind)) runner_->ThreadCreate(kind, SString("begin"));
    return Finish();
}
