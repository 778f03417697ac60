// The device-find window against the simulator on loopback (the request goes to 127.0.0.1
// alone): rows appear while the search still listens, fill in afterwards, and activating one
// makes that unit the current device; a new search empties the list.
#include "AppTestSupport.h"

extern "C" {
void DevFindRefresh_cb(GtkWidget*, gpointer);
}

using namespace apptest;

namespace {
class FindWindowTest : public AppTest {
protected:
    GtkTreeModel* Model() { return GTK_TREE_MODEL(app->Object(W_DFIND_ListStore)); }
    int Rows() { return gtk_tree_model_iter_n_children(Model(), nullptr); }
    // The first row's cells.
    std::vector<std::string> Row()
    {
        std::vector<std::string> cells;
        GtkTreeIter it;
        for (int column = 0; column < 5 && gtk_tree_model_get_iter_first(Model(), &it); ++column) {
            gchar* text = nullptr;
            gtk_tree_model_get(Model(), &it, column, &text, -1);
            cells.push_back(text ? text : "");
            g_free(text);
        }
        return cells;
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
};

TEST_F(FindWindowTest, RowsAppearWhileSearchingAndActivationOpensTheUnit)
{
    StartSim({"--udp-port", "same", "--version", "1.2.0.15"});
    DiscoveryOnLoopback(app, sim->UdpPort(), 3000);  // long enough to see the row while it listens
    app->DevFindPlace().SetVisible(true, nullptr);
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(RunUntil([&] { return Rows() == 1; }));
    // Phase one still listens: the row has its address and MAC, not yet the details.
    EXPECT_TRUE(app->Runner().IsBusy());
    EXPECT_EQ(Row(), (std::vector<std::string>{"127.0.0.1", "127.0.0.1", "02:50:45:4C:54:41", "", ""}));
    // Activation while the search runs does nothing.
    EntrySet(app, W_DevHost, "10.9.9.9");
    Activate();
    EXPECT_EQ("10.9.9.9", EntryText(app, W_DevHost));
    EXPECT_FALSE(gtk_widget_get_visible(Widget("DLG_DevSettings")));

    ASSERT_TRUE(WaitIdle());
    EXPECT_NE(std::string::npos, LogText(app).find("Find devices end: OK")) << LogText(app);
    EXPECT_EQ(Row()[3], "\xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1");
    EXPECT_EQ(Row()[4], "1.2.0.15");
    EXPECT_EQ(1.0, Fraction());

    Activate();
    EXPECT_EQ("127.0.0.1:" + std::to_string(sim->TcpPort()), EntryText(app, W_DevHost));
    EXPECT_STREQ("1.2.0.15", gtk_label_get_text(GTK_LABEL(app->Object(W_DevFirmwareVersion))));
    EXPECT_TRUE(gtk_widget_get_visible(Widget("DLG_DevSettings")));
    EXPECT_EQ(1000, app->Settings().CurrentGroup());
    // The group read is the settings window's operation; it leaves its line in the log.
    ASSERT_TRUE(RunUntil([&] { return LogText(app).find("Read settings") != std::string::npos; })) << LogText(app);
    WaitIdle();

    sim->Stop();
    DiscoveryOnLoopback(app, sim->UdpPort(), 200);
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(0, Rows());
    EXPECT_EQ(0.0, Fraction());
}
}  // namespace
