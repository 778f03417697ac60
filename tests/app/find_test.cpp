// The device-find window against the simulator on loopback (the request goes to 127.0.0.1
// alone): rows appear while the search still listens, fill in afterwards, and activating one
// makes that unit the current device.
#include <gtest/gtest.h>

#include <string>

#include "AppTestSupport.h"
#include "tests/support/SimProcess.h"

extern "C" {
void DevFindRefresh_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
// Long enough that the first row is seen while the search still listens.
const int kListenMs = 3000;

class FindWindowTest : public ::testing::Test {
protected:
    ProgramDir dir;
    RunningApp run{dir};
    GUIApp* app = nullptr;
    std::unique_ptr<SimProcess> sim;

    void SetUp() override
    {
        ASSERT_EQ(run.StartResult(), 0);
        app = run.App();
        sim.reset(new SimProcess({"--udp-port", "same", "--version", "1.2.0.15"}));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        DiscoveryOnLoopback(app, sim->UdpPort(), kListenMs);
    }
    void TearDown() override
    {
        if (sim)
            sim->Stop();
    }
    GtkTreeModel* Model() { return GTK_TREE_MODEL(app->Object(W_DFIND_ListStore)); }
    int Rows() { return gtk_tree_model_iter_n_children(Model(), nullptr); }
    std::string Cell(int row, int column)
    {
        GtkTreeIter it;
        if (!gtk_tree_model_iter_nth_child(Model(), &it, nullptr, row))
            return "<no row>";
        gchar* text = nullptr;
        gtk_tree_model_get(Model(), &it, column, &text, -1);
        std::string value = text ? text : "";
        g_free(text);
        return value;
    }
    bool WaitIdle()
    {
        bool idle = RunUntil([&] { return !app->Runner().IsBusy(); }, 30000);
        app->Runner().WorkerJoin();
        return idle;
    }
    // Selects the first row and activates it as a double click would.
    void Activate()
    {
        GtkTreeView* view = GTK_TREE_VIEW(app->Object(W_DFIND_TreeView));
        GtkTreePath* path = gtk_tree_path_new_first();
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
        gtk_tree_view_row_activated(view, path, gtk_tree_view_get_column(view, 0));
        gtk_tree_path_free(path);
    }
    std::string Version() { return gtk_label_get_text(GTK_LABEL(app->Object(W_DevFirmwareVersion))); }
};

TEST_F(FindWindowTest, RowsAppearWhileSearchingAndActivationOpensTheUnit)
{
    app->DevFindPlace().SetVisible(true, nullptr);
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(app->Runner().IsBusy());
    ASSERT_TRUE(RunUntil([&] { return Rows() == 1; }, 10000));
    // Phase one still listens: the row has its address and MAC, not yet the details.
    EXPECT_TRUE(app->Runner().IsBusy());
    EXPECT_EQ("127.0.0.1", Cell(0, 0));
    EXPECT_EQ("127.0.0.1", Cell(0, 1));
    EXPECT_EQ("02:50:45:4C:54:41", Cell(0, 2));
    EXPECT_EQ("", Cell(0, 4));

    // Activation while the search runs does nothing.
    EntrySet(app, W_DevHost, "10.9.9.9");
    Activate();
    EXPECT_EQ("10.9.9.9", EntryText(app, W_DevHost));
    EXPECT_FALSE(gtk_widget_get_visible(Widget("DLG_DevSettings")));

    ASSERT_TRUE(WaitIdle());
    EXPECT_NE(std::string::npos, LogText(app).find("Find devices end: OK")) << LogText(app);
    EXPECT_EQ("\xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1", Cell(0, 3));
    EXPECT_EQ("1.2.0.15", Cell(0, 4));
    EXPECT_EQ(1.0, gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(app->Object(W_Progress))));

    Activate();
    EXPECT_EQ("127.0.0.1:" + std::to_string(sim->TcpPort()), EntryText(app, W_DevHost));
    EXPECT_EQ("1.2.0.15", Version());
    EXPECT_TRUE(gtk_widget_get_visible(Widget("DLG_DevSettings")));
    EXPECT_EQ(1000, app->Settings().CurrentGroup());
    // The group read is the settings window's operation; it leaves its line in the log.
    ASSERT_TRUE(RunUntil([&] { return LogText(app).find("Read settings") != std::string::npos; })) << LogText(app);
    WaitIdle();
}

TEST_F(FindWindowTest, ANewSearchEmptiesTheList)
{
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(1, Rows());
    sim->Stop();
    DiscoveryOnLoopback(app, sim->UdpPort(), 200);
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(0, Rows());
    EXPECT_EQ(0.0, gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(app->Object(W_Progress))));
}
}  // namespace
