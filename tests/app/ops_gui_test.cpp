// A firmware write from the window, end to end against the simulator: the handler, the file
// chooser (answered from a timer), the worker, the log, the status and the progress bar.
#include <fstream>
#include <regex>

#include "AppTestSupport.h"

extern "C" {
void DevWriteFW_cb(GtkWidget*, gpointer);
void DevWriteB_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
using OpsGuiTest = AppTest;

TEST_F(OpsGuiTest, FirmwareWriteThroughTheHandlers)
{
    const int kRecords = 100, kStagedRecordBytes = 16;
    StartSim();
    const std::string image = dir.Path() + "/fw.bin";
    std::ofstream out(image, std::ios::binary);
    for (int i = 0; i < kRecords * 12; ++i)
        out.put((char)(i * 13 + 1));
    out.close();
    EXPECT_EQ("Choose file with firmware", ChooseFile(DevWriteFW_cb, image));
    ASSERT_TRUE(WaitIdle());

    const std::string stamp = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]", log = LogText(app);
    EXPECT_TRUE(std::regex_search(log, std::regex("^" + stamp + "  Write firmware from 'fw.bin' begin\n"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\n" + stamp + "    Device talk...\n"))) << log;
    EXPECT_TRUE(std::regex_search(
        log, std::regex("\n" + stamp + "  Write firmware end: OK\\. Elapsed time: (lower one second|[0-9]+ s)\\.\n\n"
                                       "You need reboot Pelta for applying new firmware/loader \\(menu "
                                       "\"Device->Reboot\"\\)\n$")))
        << log;
    EXPECT_EQ("<span color='#008000' weight='bold'>Firmware write successful</span>", Status());
    EXPECT_DOUBLE_EQ(1.0, Fraction());
    EXPECT_EQ("100 %", ProgressTip());
    EXPECT_EQ(app->Runner().ImagePath(), SString(image.c_str()));
    // The unit holds the header and every code record.
    EXPECT_EQ((kRecords + 1) * kStagedRecordBytes, (int)FileText(dir.Path() + "/unit/staged-firmware.rec").size());
}

TEST_F(OpsGuiTest, CancelledChooserStartsNothing)
{
    std::string title;
    {
        DialogAnswer answer(GTK_RESPONSE_CANCEL, [&](GtkWidget* d) { title = gtk_window_get_title(GTK_WINDOW(d)); });
        DevWriteB_cb(nullptr, nullptr);
        ASSERT_TRUE(answer.Seen());
    }
    EXPECT_EQ("Choose file with loader", title);
    EXPECT_FALSE(app->Runner().IsBusy());
    EXPECT_EQ("", LogText(app));
    EXPECT_EQ("Idle", Status());
}
}  // namespace
