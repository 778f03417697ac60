// A firmware write from the window, end to end against the simulator: the handler, the file
// chooser (answered from a timer), the worker, the log, the status and the progress bar.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "AppTestSupport.h"
#include "tests/support/SimProcess.h"

extern "C" {
void DevWriteFW_cb(GtkWidget*, gpointer);
void DevWriteB_cb(GtkWidget*, gpointer);
void TalkStop_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
const int kImageRecords = 100;
const size_t kImageBytes = kImageRecords * 12;
const size_t kStagedRecordBytes = 16;
const char kStamp[] = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]";

class OpsGuiTest : public ::testing::Test {
protected:
    ProgramDir dir;
    RunningApp run{dir};
    GUIApp* app = nullptr;
    std::unique_ptr<SimProcess> sim;
    std::string image;

    void SetUp() override
    {
        ASSERT_EQ(run.StartResult(), 0);
        app = run.App();
        sim.reset(new SimProcess({"--state-dir", dir.Path() + "/unit"}));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        EntrySet(app, W_DevHost, sim->HostPort().c_str());
        image = dir.Path() + "/fw.bin";
        std::ofstream out(image, std::ios::binary);
        for (size_t i = 0; i < kImageBytes; ++i)
            out.put((char)(i * 13 + 1));
    }
    void TearDown() override
    {
        if (sim)
            sim->Stop();
    }
    bool WaitIdle()
    {
        bool idle = RunUntil([&] { return !app->Runner().IsBusy(); }, 30000);
        app->Runner().WorkerJoin();
        return idle;
    }
    std::string Status() { return gtk_label_get_label(GTK_LABEL(app->Object(W_SB_Main))); }
    double Fraction() { return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(app->Object(W_Progress))); }
    std::string ProgressTip()
    {
        gchar* tip = gtk_widget_get_tooltip_text(GTK_WIDGET(app->Object(W_Progress)));
        std::string text = tip ? tip : "";
        g_free(tip);
        return text;
    }
};


TEST_F(OpsGuiTest, FirmwareWriteThroughTheHandlers)
{
    ChooserPick pick;
    pick.path = image;
    {
        DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) { pick.Pick(d); });
        DevWriteFW_cb(nullptr, nullptr);
        ASSERT_TRUE(answer.Seen());
    }
    EXPECT_EQ("Choose file with firmware", pick.title);
    ASSERT_GT(pick.triesLeft, 0) << "the chooser never took the file";
    ASSERT_TRUE(WaitIdle());

    std::string log = LogText(app);
    EXPECT_TRUE(std::regex_search(log, std::regex(std::string("^") + kStamp + "  Write firmware from 'fw.bin' begin\n")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(std::string("\n") + kStamp + "    Device talk...\n"))) << log;
    EXPECT_TRUE(std::regex_search(
        log, std::regex(std::string("\n") + kStamp +
                        "  Write firmware end: OK\\. Elapsed time: (lower one second|[0-9]+ s)\\.\n\n"
                        "You need reboot Pelta for applying new firmware/loader \\(menu \"Device->Reboot\"\\)\n$")))
        << log;
    EXPECT_EQ("<span color='#008000' weight='bold'>Firmware write successful</span>", Status());
    EXPECT_DOUBLE_EQ(1.0, Fraction());
    EXPECT_EQ("100 %", ProgressTip());
    EXPECT_EQ(app->Runner().ImagePath(), SString(image.c_str()));

    // The unit holds the header and every code record.
    std::ifstream staged(dir.Path() + "/unit/staged-firmware.rec", std::ios::binary | std::ios::ate);
    EXPECT_EQ((kImageRecords + 1) * kStagedRecordBytes, (size_t)staged.tellg());
}

TEST_F(OpsGuiTest, CancelledChooserStartsNothing)
{
    std::string before = LogText(app);
    std::string title;
    {
        DialogAnswer answer(GTK_RESPONSE_CANCEL,
                            [&](GtkWidget* d) { title = gtk_window_get_title(GTK_WINDOW(d)); });
        DevWriteB_cb(nullptr, nullptr);
        ASSERT_TRUE(answer.Seen());
    }
    EXPECT_EQ("Choose file with loader", title);
    EXPECT_FALSE(app->Runner().IsBusy());
    EXPECT_EQ(before, LogText(app));
    EXPECT_EQ("Idle", Status());
}
}  // namespace
