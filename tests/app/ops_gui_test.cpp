// The window's operations end to end against the simulator through their handlers, the file
// chooser answered from a timer: the worker, the log, the status, the progress and the table.
#include <fstream>
#include <regex>

#include "AppTestSupport.h"

using Handler = void(GtkWidget*, gpointer);
extern "C" Handler DevWriteFW_cb, DevWriteB_cb, DevSettingsWriteGroupToFile_cb, DevSettingsReadAllFromFile_cb,
    DevSettingsReadAllDefault_cb, DevSettingsReadAllFromDev_cb, DevSettingsReadGroupFromDev_cb,
    DevSettingsWriteGroupToDev_cb, DevSettingsWriteAllToDev_cb;

using namespace apptest;

namespace {
using OpsGuiTest = AppTest;

// A cancelled chooser starts nothing; the editor is locked while a unit operation runs.
TEST_F(OpsGuiTest, FirmwareWriteAndSettingsOperationsThroughTheHandlers)
{
    std::string title;
    DialogAnswer cancel(GTK_RESPONSE_CANCEL, [&](GtkWidget* d) { title = gtk_window_get_title(GTK_WINDOW(d)); });
    DevWriteB_cb(nullptr, nullptr);
    EXPECT_EQ("Choose file with loader", title);
    EXPECT_FALSE(app->Runner().IsBusy());

    const int kRecords = 100, kStagedRecordBytes = 16;
    StartSim({"--description", dir.Res("Pelta.xml"), "--settings-values", BuiltResFile("samples/Pelta-ru.xml")});
    const std::string image = dir.Path() + "/fw.bin";
    std::string bytes;
    for (int i = 0; i < kRecords * 12; ++i)
        bytes += (char)(i * 13 + 1);
    std::ofstream(image, std::ios::binary) << bytes;
    EXPECT_EQ("Choose file with firmware", ChooseFile(DevWriteFW_cb, image));
    ASSERT_TRUE(WaitIdle());
    // The reboot hint follows the end line, after an empty line.
    const std::string log = LogText(app);
    EXPECT_TRUE(std::regex_search(log, std::regex("  Write firmware end: OK\\. Elapsed time: [^\n]*\n\nYou need reboot "
                                                  "Pelta for applying new firmware/loader \\(menu \"Device->Reboot\"\\)\n$")))
        << log;
    EXPECT_EQ("<span color='#008000' weight='bold'>Firmware write successful</span>", Status());
    EXPECT_DOUBLE_EQ(1.0, Fraction());
    EXPECT_EQ(app->Runner().ImagePath(), SString(image.c_str()));
    // The unit holds the header and every code record.
    EXPECT_EQ((kRecords + 1) * kStagedRecordBytes, (int)FileText(dir.Path() + "/unit/staged-firmware.rec").size());

    auto entry = [&](const char* setting) { return GTK_ENTRY(W(setting).values.at(0)); };
    auto ticked = [&](const char* name) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W(name).check)); };
    auto runOperation = [&](Handler* handler, const char* endLine) {
        handler(nullptr, nullptr);
        EXPECT_TRUE(app->Runner().IsBusy());
        EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(W_DS_Content))));
        EXPECT_TRUE(WaitIdle(60000));
        Drain();
        EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(W_DS_Content))));
        EXPECT_NE(LogText(app).find(endLine), std::string::npos) << LogText(app);
    };
    runOperation(DevSettingsReadAllFromDev_cb, "  Read settings end: OK.");
    ASSERT_NE(DS_Values(Setting("IP address")), nullptr);
    EXPECT_STREQ(gtk_entry_get_text(entry("IP address")), DS_ValueTexts(Setting("IP address")).at(0).Text());
    EXPECT_TRUE(ticked("IP address"));
    gtk_entry_set_text(entry("Gateway"), "10.1.2.254");
    runOperation(DevSettingsWriteGroupToDev_cb, "  Write settings end: OK.");
    gtk_entry_set_text(entry("Gateway"), "1.1.1.1");
    runOperation(DevSettingsReadGroupFromDev_cb, "  Read settings end: OK.");
    EXPECT_STREQ(gtk_entry_get_text(entry("Gateway")), "10.1.2.254");

    // Writing all asks first, No focused; No starts nothing.
    std::string text;
    DialogAnswer no(1, [&](GtkWidget* d) {
        GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d));
        text = MessageText(d) + "|focus " +
               std::to_string(focus ? gtk_dialog_get_response_for_widget(GTK_DIALOG(d), focus) : -1);
    });
    DevSettingsWriteAllToDev_cb(nullptr, nullptr);
    EXPECT_EQ(text, "question: Are you sure to want to write all settings to Pelta?|focus 1");
    EXPECT_FALSE(app->Runner().IsBusy());

    // A name without a point gets ".xml".
    const std::string file = dir.Path() + "/network";
    EXPECT_EQ("Write settings to file", ChooseFile(DevSettingsWriteGroupToFile_cb, file));
    EXPECT_EQ(app->SettingsPath(), SString((file + ".xml").c_str()));
    EXPECT_NE(FileText(file + ".xml").find("<![CDATA[10.1.2.254]]>"), std::string::npos) << FileText(file + ".xml");

    // An unticked protected setting goes to a file but not to the unit.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Network mask").check), FALSE);
    const std::string unticked = dir.Path() + "/unticked.xml";
    ChooseFile(DevSettingsWriteGroupToFile_cb, unticked);
    EXPECT_TRUE(g_file_test(unticked.c_str(), G_FILE_TEST_IS_REGULAR)) << unticked;
    const std::string before = LogText(app);
    DialogAnswer refusal(0, [&](GtkWidget* d) { text = MessageText(d); });
    DevSettingsWriteGroupToDev_cb(nullptr, nullptr);
    // The record's first protected setting is named.
    EXPECT_EQ(text, "warning: Wrong value for 'IP address':\n'This parameter can't be erased'");
    EXPECT_EQ(LogText(app), before);

    // The file's one group is the tree's only row, and shown, ticks and values as written.
    DevSettingsReadAllDefault_cb(nullptr, nullptr);
    GtkTreeModel* tree = GTK_TREE_MODEL(app->Object(W_DS_TreeStore));
    EXPECT_GT(gtk_tree_model_iter_n_children(tree, nullptr), 1);
    EXPECT_EQ("Read settings from file", ChooseFile(DevSettingsReadAllFromFile_cb, file + ".xml"));
    ASSERT_EQ(gtk_tree_model_iter_n_children(tree, nullptr), 1);
    EXPECT_EQ(app->Settings().CurrentGroup(), 1000);
    EXPECT_EQ(app->Settings().Shown().size(), app->Settings().Scalars().size());
    EXPECT_STREQ(gtk_entry_get_text(entry("Gateway")), "10.1.2.254");
    EXPECT_TRUE(ticked("Network mask"));
}
}  // namespace
