// The settings window's files and unit operations, end to end: the buttons, the file chooser
// (answered from a timer), the worker against the simulator, the table refreshed by a read.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "AppTestSupport.h"
#include "app/SettingsEditor.h"
#include "tests/support/SimProcess.h"

extern "C" {
void DevSettingsWriteGroupToFile_cb(GtkWidget*, gpointer);
void DevSettingsReadAllFromFile_cb(GtkWidget*, gpointer);
void DevSettingsReadAllDefault_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
const char kNetworkGroup[] = "Network and identity";

class SettingsOpsTest : public ::testing::Test {
protected:
    ProgramDir dir;
    RunningApp run{dir};
    GUIApp* app = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(run.StartResult(), 0);
        app = run.App();
        ASSERT_EQ(app->Settings().CurrentGroup(), 1000);
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
    void EntryType(const char* description, const char* text)
    {
        gtk_entry_set_text(GTK_ENTRY(W(description)->values.at(0)), text);
    }
    std::string EntryShown(const char* description)
    {
        return gtk_entry_get_text(GTK_ENTRY(W(description)->values.at(0)));
    }
    // Runs a handler that opens the file chooser and picks path in it.
    std::string ChooseFile(void (*handler)(GtkWidget*, gpointer), const std::string& path)
    {
        ChooserPick pick;
        pick.path = path;
        {
            DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) { pick.Pick(d); });
            handler(nullptr, nullptr);
            EXPECT_TRUE(answer.Seen());
        }
        EXPECT_GT(pick.triesLeft, 0) << "the chooser never took " << path;
        return pick.title;
    }
    int TreeRows()
    {
        GtkTreeModel* model = GTK_TREE_MODEL(app->Object(W_DS_TreeStore));
        return gtk_tree_model_iter_n_children(model, nullptr);
    }
};
}  // namespace

TEST_F(SettingsOpsTest, GroupFileRoundTrip)
{
    // The address record's three settings become available together.
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Gateway")->check), TRUE);
    EntryType("IP address", "10.0.0.5");
    EntryType("Network mask", "255.255.255.0");
    EntryType("Gateway", "10.0.0.1");
    std::string file = dir.Path() + "/network";
    std::string title = ChooseFile(DevSettingsWriteGroupToFile_cb, file);
    EXPECT_EQ(title, "Write settings to file");
    // A name without a point gets ".xml".
    EXPECT_EQ(app->SettingsPath(), SString((file + ".xml").c_str()));
    std::ifstream saved(file + ".xml");
    std::stringstream text;
    text << saved.rdbuf();
    EXPECT_NE(text.str().find("<![CDATA[255.255.255.0]]>"), std::string::npos) << text.str();

    DevSettingsReadAllDefault_cb(nullptr, nullptr);
    EXPECT_EQ(DS_Values(Setting("Gateway")), nullptr);
    EXPECT_GT(TreeRows(), 1);

    title = ChooseFile(DevSettingsReadAllFromFile_cb, file + ".xml");
    EXPECT_EQ(title, "Read settings from file");
    ASSERT_EQ(TreeRows(), 1);
    GtkTreeIter first;
    GtkTreeModel* model = GTK_TREE_MODEL(app->Object(W_DS_TreeStore));
    ASSERT_TRUE(gtk_tree_model_get_iter_first(model, &first));
    gchar* rowTitle = nullptr;
    gtk_tree_model_get(model, &first, 0, &rowTitle, -1);
    EXPECT_STREQ(rowTitle, kNetworkGroup);
    g_free(rowTitle);
    EXPECT_EQ(app->Settings().CurrentGroup(), 1000);
    EXPECT_EQ(app->Settings().Shown().size(), app->Settings().Scalars().size());
    EXPECT_EQ(EntryShown("Network mask"), "255.255.255.0");
    EXPECT_EQ(EntryShown("Gateway"), "10.0.0.1");
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("IP address")->check)));
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("MAC address")->check)));
}

namespace {
class SettingsUnitTest : public SettingsOpsTest {
protected:
    std::unique_ptr<SimProcess> sim;

    void SetUp() override
    {
        SettingsOpsTest::SetUp();
        sim.reset(new SimProcess({"--state-dir", dir.Path() + "/unit", "--description", dir.Res("Pelta.xml"),
                                  "--settings-values", BuiltResFile("samples/Pelta-ru.xml")}));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        EntrySet(app, W_DevHost, sim->HostPort().c_str());
    }
    void TearDown() override
    {
        if (sim)
            sim->Stop();
    }
    // Runs a settings operation's handler to its end; the editor is locked while it runs.
    std::string RunOperation(void (*handler)(GtkWidget*, gpointer))
    {
        handler(nullptr, nullptr);
        EXPECT_TRUE(app->Runner().IsBusy());
        EXPECT_FALSE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(W_DS_Content))));
        EXPECT_TRUE(RunUntil([&] { return !app->Runner().IsBusy(); }, 60000));
        app->Runner().WorkerJoin();
        Drain();
        EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(W_DS_Content))));
        return LogText(app);
    }
};
}  // namespace

extern "C" {
void DevSettingsReadAllFromDev_cb(GtkWidget*, gpointer);
void DevSettingsReadGroupFromDev_cb(GtkWidget*, gpointer);
void DevSettingsWriteGroupToDev_cb(GtkWidget*, gpointer);
void DevSettingsWriteAllToDev_cb(GtkWidget*, gpointer);
}

TEST_F(SettingsUnitTest, ReadChangeWriteReadBack)
{
    std::string log = RunOperation(DevSettingsReadAllFromDev_cb);
    EXPECT_NE(log.find("  Read settings begin\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Read settings end: OK."), std::string::npos) << log;
    // The shown group was refreshed from what the unit holds.
    ASSERT_NE(DS_Values(Setting("IP address")), nullptr);
    EXPECT_EQ(EntryShown("IP address"), DS_ValueTexts(Setting("IP address")).at(0).Text());
    EXPECT_FALSE(EntryShown("IP address").empty());
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(W("IP address")->check)));

    EntryType("Gateway", "10.1.2.254");
    log = RunOperation(DevSettingsWriteGroupToDev_cb);
    EXPECT_NE(log.find("  Write settings begin\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Write settings end: OK."), std::string::npos) << log;

    EntryType("Gateway", "1.1.1.1");
    log = RunOperation(DevSettingsReadGroupFromDev_cb);
    EXPECT_NE(log.find("  Read settings end: OK."), std::string::npos) << log;
    EXPECT_EQ(EntryShown("Gateway"), "10.1.2.254");
}

TEST_F(SettingsUnitTest, ProtectedSettingGoesToAFileButNotToTheUnit)
{
    RunOperation(DevSettingsReadAllFromDev_cb);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(W("Network mask")->check), FALSE);
    std::string file = dir.Path() + "/unticked.xml";
    ChooseFile(DevSettingsWriteGroupToFile_cb, file);
    std::ifstream saved(file);
    EXPECT_TRUE(saved.good()) << file;
    EXPECT_EQ(DS_Values(Setting("Network mask")), nullptr);

    std::string before = LogText(app);
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

TEST_F(SettingsUnitTest, WriteAllAsksFirstWithNoFocused)
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
