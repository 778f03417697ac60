// The model picks what a group or a whole read or write walks: the shown settings, or all.
#include "tests/settings/TalkTestSupport.h"

namespace {
class ModelUi : public TalkUi {
public:
    bool OperationBody(OperationKind kind, MODBUS_TalkInfo& talk) override
    {
        bool all = kind == OperationKind::ReadSettingsAll || kind == OperationKind::WriteSettingsAll;
        if (kind == OperationKind::ReadSettingsGroup || kind == OperationKind::ReadSettingsAll)
            return model->DS_ReadFromDev_th(*runner, talk, all, this);
        if (kind == OperationKind::WriteSettingsGroup || kind == OperationKind::WriteSettingsAll)
            return model->DS_WriteToDev_th(*runner, talk, all);
        return TalkUi::OperationBody(kind, talk);
    }
    DeviceSettings* model = nullptr;
};

class ModelTalkTest : public TalkTest {
protected:
    // The simulator's runner, now with a front end whose bodies ask the model.
    void ModelRunnerStart()
    {
        runner_->WorkerStop(true);
        runner_.reset();
        auto* ui = new ModelUi();
        ui->model = &model.model;
        ui_.reset(ui);
        runner_.reset(new OperationRunner(ui_.get(), FastOptions()));
        ui_->Attach(runner_.get());
        ui_->runner = runner_.get();
        ui_->Inputs(sim_->HostPort(), "1");
    }
    void Put(const char* name, const char* value)
    {
        DS_ValuesRemove(Setting(name));
        DS_ValueAppend(Setting(name), value);
    }
    std::string Value(const char* name)
    {
        std::vector<SString> values = DS_ValueTexts(Setting(name));
        return values.empty() ? "<none>" : values[0].Text();
    }
};

TEST_F(ModelTalkTest, GroupOperationsWalkTheShownSettingsAndAllOperationsEverySetting)
{
    ASSERT_TRUE(model.Load(Description(Group(1, "One") + Group(2, "Two"),
                                       Item("one", 1, "Integer", Pos(21, 0, 1, 1)) + Item("two", 2, "Integer", Pos(21, 1, 1, 1)))));
    ASSERT_EQ(model.model.CurrentGroup(), 1);
    SimStart();
    ModelRunnerStart();

    Put("one", "5");
    Put("two", "6");
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsGroup, {})) << ui_->Dump();
    Put("one", "7");
    Put("two", "7");
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsGroup, {})) << ui_->Dump();
    EXPECT_EQ(Value("one"), "5");
    EXPECT_EQ(Value("two"), "7");
    // The second record was never written: the unit marks it not available.
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll, {})) << ui_->Dump();
    EXPECT_EQ(Value("one"), "5");
    EXPECT_EQ(Value("two"), "<none>");

    Put("one", "8");
    Put("two", "9");
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::WriteSettingsAll, {})) << ui_->Dump();
    DS_ValuesRemove(Setting("one"));
    DS_ValuesRemove(Setting("two"));
    ASSERT_EQ(AppState::Succeeded, Run(OperationKind::ReadSettingsAll, {})) << ui_->Dump();
    EXPECT_EQ(Value("one"), "8");
    EXPECT_EQ(Value("two"), "9");
}
}  // namespace
