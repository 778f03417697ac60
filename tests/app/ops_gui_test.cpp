// The window's operations end to end against the simulator: a firmware write and the settings
// window's files and unit operations through their handlers, the file chooser answered from a
// timer, the worker, the log, the status, the progress bar and the table refreshed by a read.
#include <fstream>
#include <regex>

#include "AppTestSupport.h"

extern "C" {
void DevWriteFW_cb(GtkWidget*, gpointer);
void DevWriteB_cb(GtkWidget*, gpointer);
void DevSettingsWriteGroupToFile_cb(GtkWidget*, gpointer);
void DevSettingsReadAllFromFile_cb(GtkWidget*, gpointer);
void DevSettingsReadAllDefault_cb(GtkWidget*, gpointer);
void DevSettingsReadAllFromDev_cb(GtkWidget*, gpointer);
void DevSettingsReadGroupFromDev_cb(GtkWidget*, gpointer);
void DevSettingsWriteGroupToDev_cb(GtkWidget*, gpointer);
void DevSettingsWriteAllToDev_cb(GtkWidget*, gpointer);
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

    // The reboot hint follows the end line, after an empty line.
    const std::string log = LogText(app);
    EXPECT_TRUE(std::regex_search(log, std::regex("  Write firmware end: OK\\. Elapsed time: [^\n]*\n\nYou need reboot "
                                                  "Pelta for applying new firmware/loader \\(menu \"Device->Reboot\"\\)\n$")))
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

class SettingsOpsTest : public AppTest {
protected:
    GtkEntry* Entry(const char* setting) { return GTK_ENTRY(W(setting).values.at(0)); }
    bool Ticked(const char* setting) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W(setting).check)); }
    // Runs a settings operation's handler to its end; the editor is locked while it runs.
    std::string RunOperation(void (*handler)(GtkWidget*, gpointer))
    {
        handler(nullptr, nullptr);
        EXPECT_TRUE(app->Runner().IsBusy());
        EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(W_DS_Content))));
        EXPECT_TRUE(WaitIdle(60000));
        Drain();
        EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(W_DS_Content))));
        return LogText(app);
    }
};

TEST_F(SettingsOpsTest, GroupFileRoundTrip)
{
    ASSERT_EQ(app->Settings().CurrentGroup(), 1000);
    // The address record's three settings become available together.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Gateway").check), TRUE);
    gtk_entry_set_text(Entry("IP address"), "10.0.0.5");
    gtk_entry_set_text(Entry("Network mask"), "255.255.255.0");
    gtk_entry_set_text(Entry("Gateway"), "10.0.0.1");
    const std::string file = dir.Path() + "/network";
    EXPECT_EQ("Write settings to file", ChooseFile(DevSettingsWriteGroupToFile_cb, file));
    // A name without a point gets ".xml".
    EXPECT_EQ(app->SettingsPath(), SString((file + ".xml").c_str()));
    EXPECT_NE(FileText(file + ".xml").find("<![CDATA[255.255.255.0]]>"), std::string::npos) << FileText(file + ".xml");

    DevSettingsReadAllDefault_cb(nullptr, nullptr);
    EXPECT_EQ(DS_Values(Setting("Gateway")), nullptr);
    GtkTreeModel* tree = GTK_TREE_MODEL(app->Object(W_DS_TreeStore));
    EXPECT_GT(gtk_tree_model_iter_n_children(tree, nullptr), 1);

    // The file's one group is the tree's only row, and shown.
    EXPECT_EQ("Read settings from file", ChooseFile(DevSettingsReadAllFromFile_cb, file + ".xml"));
    ASSERT_EQ(gtk_tree_model_iter_n_children(tree, nullptr), 1);
    EXPECT_EQ(app->Settings().CurrentGroup(), 1000);
    EXPECT_EQ(app->Settings().Shown().size(), app->Settings().Scalars().size());
    EXPECT_STREQ(gtk_entry_get_text(Entry("Network mask")), "255.255.255.0");
    EXPECT_STREQ(gtk_entry_get_text(Entry("Gateway")), "10.0.0.1");
    EXPECT_TRUE(Ticked("IP address"));
    EXPECT_FALSE(Ticked("MAC address"));
}

TEST_F(SettingsOpsTest, ReadChangeWriteReadBackAndRefusals)
{
    StartSim({"--description", dir.Res("Pelta.xml"), "--settings-values", BuiltResFile("samples/Pelta-ru.xml")});
    std::string log = RunOperation(DevSettingsReadAllFromDev_cb);
    EXPECT_NE(log.find("  Read settings end: OK."), std::string::npos) << log;
    // The shown group was refreshed from what the unit holds.
    ASSERT_NE(DS_Values(Setting("IP address")), nullptr);
    EXPECT_STREQ(gtk_entry_get_text(Entry("IP address")), DS_ValueTexts(Setting("IP address")).at(0).Text());
    EXPECT_STRNE(gtk_entry_get_text(Entry("IP address")), "");
    EXPECT_TRUE(Ticked("IP address"));

    gtk_entry_set_text(Entry("Gateway"), "10.1.2.254");
    log = RunOperation(DevSettingsWriteGroupToDev_cb);
    EXPECT_NE(log.find("  Write settings end: OK."), std::string::npos) << log;
    gtk_entry_set_text(Entry("Gateway"), "1.1.1.1");
    log = RunOperation(DevSettingsReadGroupFromDev_cb);
    EXPECT_NE(log.find("  Read settings end: OK."), std::string::npos) << log;
    EXPECT_STREQ(gtk_entry_get_text(Entry("Gateway")), "10.1.2.254");

    // Writing all asks first, No focused; No starts nothing.
    int focused = -2;
    std::string text;
    {
        DialogAnswer answer(1, [&](GtkWidget* d) {
            text = MessageText(d);
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d));
            focused = focus ? gtk_dialog_get_response_for_widget(GTK_DIALOG(d), focus) : -1;
        });
        DevSettingsWriteAllToDev_cb(nullptr, nullptr);
        EXPECT_TRUE(answer.Seen());
    }
    EXPECT_EQ(text, "Are you sure to want to write all settings to Pelta?");
    EXPECT_EQ(focused, 1);
    EXPECT_FALSE(app->Runner().IsBusy());

    // An unticked protected setting goes to a file but not to the unit.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Network mask").check), FALSE);
    const std::string file = dir.Path() + "/unticked.xml";
    ChooseFile(DevSettingsWriteGroupToFile_cb, file);
    EXPECT_TRUE(g_file_test(file.c_str(), G_FILE_TEST_IS_REGULAR)) << file;
    EXPECT_EQ(DS_Values(Setting("Network mask")), nullptr);
    const std::string before = LogText(app);
    {
        DialogAnswer answer(0, [&](GtkWidget* d) { text = MessageText(d); });
        DevSettingsWriteGroupToDev_cb(nullptr, nullptr);
        EXPECT_TRUE(answer.Seen());
    }
    // The record's first protected setting is named.
    EXPECT_EQ(text, "Wrong value for 'IP address':\n'This parameter can't be erased'");
    EXPECT_FALSE(app->Runner().IsBusy());
    EXPECT_EQ(LogText(app), before);
}
}  // namespace
