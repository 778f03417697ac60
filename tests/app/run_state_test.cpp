// The window side of an operation: state texts, control sensitivity, indented worker lines, the
// abort and the quit guard; the device-find window against the simulator on 127.0.0.1 alone.
#include <regex>

#include "AppTestSupport.h"
#include "app/StartUp.h"

extern "C" void DevFindRefresh_cb(GtkWidget*, gpointer);

using namespace apptest;

namespace {
using RunStateTest = AppTest;

TEST_F(RunStateTest, FindRowsWhileSearchingActivationFailedSessionBusyControlsQuitGuardAndAbort)
{
    GtkTreeModel* model = GTK_TREE_MODEL(app->Object(W_DFIND_ListStore));
    auto row = [&] {  // the first row's cells, joined by '|'
        std::string cells;
        GtkTreeIter it;
        for (int column = 0; column < 5 && gtk_tree_model_get_iter_first(model, &it); ++column) {
            gchar* text = nullptr;
            gtk_tree_model_get(model, &it, column, &text, -1);
            cells += std::string(column ? "|" : "") + (text ? text : "");
            g_free(text);
        }
        return cells;
    };
    auto activate = [&] {  // selects the first row and activates it as a double click would
        GtkTreeView* view = GTK_TREE_VIEW(app->Object(W_DFIND_TreeView));
        GtkTreePath* path = gtk_tree_path_new_first();
        gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
        gtk_tree_view_row_activated(view, path, gtk_tree_view_get_column(view, 0));
        gtk_tree_path_free(path);
    };
    StartSim({"--udp-port", "same", "--version", "1.2.0.15"});
    // Listens long enough that even a loaded machine shows the row before the search ends.
    DiscoveryOnLoopback(app, sim->UdpPort(), 5000);
    app->DevFindPlace().SetVisible(true, nullptr);
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(RunUntil([&] { return gtk_tree_model_iter_n_children(model, nullptr) == 1; }));
    // Phase one still listens: the row has its address and MAC, not yet the details.
    EXPECT_TRUE(app->Runner().IsBusy());
    EXPECT_EQ(row(), "127.0.0.1|127.0.0.1|02:50:45:4C:54:41||");
    // Activation while the search runs does nothing.
    EntrySet(app, W_DevHost, "10.9.9.9");
    activate();
    EXPECT_EQ("10.9.9.9", EntryText(app, W_DevHost));

    ASSERT_TRUE(WaitIdle());
    EXPECT_NE(std::string::npos, LogText(app).find("Find devices end: OK")) << LogText(app);
    EXPECT_EQ(row(), "127.0.0.1|127.0.0.1|02:50:45:4C:54:41|\xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1|1.2.0.15");
    EXPECT_EQ(1.0, Fraction());

    activate();
    EXPECT_EQ("127.0.0.1:" + std::to_string(sim->TcpPort()), EntryText(app, W_DevHost));
    EXPECT_STREQ("1.2.0.15", gtk_label_get_text(GTK_LABEL(app->Object(W_DevFirmwareVersion))));
    EXPECT_TRUE(gtk_widget_get_visible(Widget("DLG_DevSettings")));
    // The group read is the settings window's operation; it leaves its line in the log.
    ASSERT_TRUE(RunUntil([&] { return LogText(app).find("Read settings") != std::string::npos; })) << LogText(app);
    WaitIdle();

    sim->Stop();  // a new search empties the list
    DiscoveryOnLoopback(app, sim->UdpPort(), 200);
    DevFindRefresh_cb(nullptr, nullptr);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(0, gtk_tree_model_iter_n_children(model, nullptr));
    EXPECT_EQ(0.0, Fraction());

    // One control of each kind: the operations' (idle only), the stop's (busy only) and the
    // settings files' (usable while no operation touches the document, as none here does).
    auto expectSensitive = [&](bool busy) {
        for (auto [id, sensitive] : {std::pair<WidgetId, bool>{W_TB_WriteFW, !busy}, {W_TB_DFIND_Refresh, !busy},
                                     {W_MB_Stop, busy}, {W_TB_Stop2, busy}, {W_DS_Content, true}})
            EXPECT_EQ(sensitive, gtk_widget_get_sensitive(GTK_WIDGET(app->Object(id))) != 0) << id;
    };
    EntrySet(app, W_DevHost, "127.0.0.1:1");  // nothing listens there
    app->LogClear(false);
    app->DevRefresh();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "<span color='red' weight='bold'>Error</span>");
    EXPECT_TRUE(gtk_label_get_use_markup(GTK_LABEL(app->Object(W_SB_Main))));
    // Begin and end lines sit at depth 0, the channel's own lines one level deeper.
    const std::string log = LogText(app), stamp = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]";
    EXPECT_TRUE(std::regex_search(log, std::regex("^" + stamp + "  Read firmware version begin\n" + stamp + "    \\S")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\n" + stamp + "  Read firmware version end: ERROR\\. .*\\.\n$")))
        << log;

    StartSim({"--fault-silence", "all"});
    app->DevRefresh();
    ASSERT_TRUE(app->Runner().IsBusy());
    expectSensitive(true);
    // Connected: the status names the running operation, in plain text.
    EXPECT_TRUE(RunUntil([&] { return Status() == "Version read"; })) << Status();
    EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(app->Object(W_SB_Main))));

    std::string shown;
    DialogAnswer answer(0, [&](GtkWidget* d) { shown = MessageText(d); });
    CloseRequest(g_form1);
    EXPECT_EQ(shown, "warning: You can't quit program now\nbecause device working in progress.");
    EXPECT_TRUE(g_form1 && GUIApp::instance);
    EXPECT_FALSE(g_file_test(dir.Res("settings.xml").c_str(), G_FILE_TEST_EXISTS));

    app->TalkStop();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "<span color='red' weight='bold'>Aborted</span>");
    expectSensitive(false);
    EXPECT_TRUE(run->Quit());
    EXPECT_TRUE(g_file_test(dir.Res("settings.xml").c_str(), G_FILE_TEST_EXISTS));
}
}  // namespace
