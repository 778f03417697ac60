// The settings window's files and unit operations, end to end: the buttons, the file chooser
// (answered from a timer), the worker against the simulator, the table refreshed by a read.
#include <cstring>

#include "AppTestSupport.h"
#include "app/SettingsEditor.h"

extern "C" {
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
class SettingsOpsTest : public AppTest {
protected:
    void StartUnit()
    {
        StartSim({"--description", dir.Res("Pelta.xml"), "--settings-values", BuiltResFile("samples/Pelta-ru.xml")});
    }
    TiXmlElement* Setting(const char* description)
    {
        for (TiXmlElement* e : app->Settings().Scalars())
            if (!strcmp(DS_Description(e), description))
                return e;
        ADD_FAILURE() << "no setting " << description;
        return nullptr;
    }
    const DS_SettingWidgets* W(const char* description) { return app->Editor().WidgetsOf(Setting(description)); }
    GtkEntry* Entry(const char* description) { return GTK_ENTRY(W(description)->values.at(0)); }
    bool Ticked(const char* description) { return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W(description)->check)); }
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
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Gateway")->check), TRUE);
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

    EXPECT_EQ("Read settings from file", ChooseFile(DevSettingsReadAllFromFile_cb, file + ".xml"));
    ASSERT_EQ(gtk_tree_model_iter_n_children(tree, nullptr), 1);
    GtkTreeIter first;
    gchar* rowTitle = nullptr;
    ASSERT_TRUE(gtk_tree_model_get_iter_first(tree, &first));
    gtk_tree_model_get(tree, &first, 0, &rowTitle, -1);
    EXPECT_STREQ(rowTitle, "Network and identity");
    g_free(rowTitle);
    EXPECT_EQ(app->Settings().CurrentGroup(), 1000);
    EXPECT_EQ(app->Settings().Shown().size(), app->Settings().Scalars().size());
    EXPECT_STREQ(gtk_entry_get_text(Entry("Network mask")), "255.255.255.0");
    EXPECT_STREQ(gtk_entry_get_text(Entry("Gateway")), "10.0.0.1");
    EXPECT_TRUE(Ticked("IP address"));
    EXPECT_FALSE(Ticked("MAC address"));
}

TEST_F(SettingsOpsTest, ReadChangeWriteReadBack)
{
    StartUnit();
    std::string log = RunOperation(DevSettingsReadAllFromDev_cb);
    EXPECT_NE(log.find("  Read settings begin\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Read settings end: OK."), std::string::npos) << log;
    // The shown group was refreshed from what the unit holds.
    ASSERT_NE(DS_Values(Setting("IP address")), nullptr);
    EXPECT_STREQ(gtk_entry_get_text(Entry("IP address")), DS_ValueTexts(Setting("IP address")).at(0).Text());
    EXPECT_STRNE(gtk_entry_get_text(Entry("IP address")), "");
    EXPECT_TRUE(Ticked("IP address"));

    gtk_entry_set_text(Entry("Gateway"), "10.1.2.254");
    log = RunOperation(DevSettingsWriteGroupToDev_cb);
    EXPECT_NE(log.find("  Write settings begin\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Write settings end: OK."), std::string::npos) << log;

    gtk_entry_set_text(Entry("Gateway"), "1.1.1.1");
    log = RunOperation(DevSettingsReadGroupFromDev_cb);
    EXPECT_NE(log.find("  Read settings end: OK."), std::string::npos) << log;
    EXPECT_STREQ(gtk_entry_get_text(Entry("Gateway")), "10.1.2.254");
}

TEST_F(SettingsOpsTest, ProtectedSettingGoesToAFileButNotToTheUnit)
{
    StartUnit();
    RunOperation(DevSettingsReadAllFromDev_cb);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Network mask")->check), FALSE);
    const std::string file = dir.Path() + "/unticked.xml";
    ChooseFile(DevSettingsWriteGroupToFile_cb, file);
    EXPECT_TRUE(g_file_test(file.c_str(), G_FILE_TEST_IS_REGULAR)) << file;
    EXPECT_EQ(DS_Values(Setting("Network mask")), nullptr);

    const std::string before = LogText(app);
    std::string text;
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

TEST_F(SettingsOpsTest, WriteAllAsksFirstWithNoFocused)
{
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
}
}  // namespace
