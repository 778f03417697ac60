// The window side of an operation: state texts and colours, control sensitivity, indented
// log lines from the worker, the abort request and the quit guard while a unit is busy.
#include <regex>

#include "AppTestSupport.h"
#include "app/StartUp.h"

using namespace apptest;

namespace {
const WidgetId kIdleControls[] = {W_MB_Quit, W_TB_WriteB, W_MB_WriteB, W_TB_WriteFW, W_MB_WriteFW,
                                  W_TB_Reboot, W_MB_Reboot, W_TB_TestGateway, W_MB_TestGateway,
                                  W_Settings, W_TB_DS_ReadGroupFromDev, W_TB_DS_ReadAllFromDev,
                                  W_TB_DS_WriteGroupToDev, W_TB_DS_WriteAllToDev,
                                  W_TB_DS_WritePasswordToDev, W_TB_DFIND_Refresh};
const WidgetId kStopControls[] = {W_TB_Stop0, W_TB_Stop1, W_TB_Stop2, W_MB_Stop};
const WidgetId kSettingsFileControls[] = {W_TB_DS_ReadAllDefault, W_TB_DS_ReadAllFromFile,
                                          W_TB_DS_WriteGroupToFile, W_TB_DS_WriteAllToFile, W_DS_Content};

class RunStateTest : public AppTest {
protected:
    void ExpectSensitive(bool busy)
    {
        for (WidgetId id : kIdleControls)
            EXPECT_EQ(!busy, gtk_widget_get_sensitive(GTK_WIDGET(app->Object(id))) != 0) << id;
        for (WidgetId id : kStopControls)
            EXPECT_EQ(busy, gtk_widget_get_sensitive(GTK_WIDGET(app->Object(id))) != 0) << id;
        // No operation here touches the settings document, so its file controls stay usable.
        for (WidgetId id : kSettingsFileControls)
            EXPECT_TRUE(gtk_widget_get_sensitive(GTK_WIDGET(app->Object(id)))) << id;
    }
};

TEST_F(RunStateTest, FailedSessionShowsErrorInRedAndIndentsWorkerLines)
{
    EntrySet(app, W_DevHost, "127.0.0.1:1");  // nothing listens there
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
    ExpectSensitive(false);
}

TEST_F(RunStateTest, BusyControlsQuitGuardAndAbort)
{
    StartSim({"--fault-silence", "all"});
    app->DevRefresh();
    ASSERT_TRUE(app->Runner().IsBusy());
    ExpectSensitive(true);
    // Connected: the status names the running operation, in plain text.
    EXPECT_TRUE(RunUntil([&] { return Status() == "Version read"; })) << Status();
    EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(app->Object(W_SB_Main))));

    // Quitting is refused with a warning and writes nothing.
    std::string shown;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    {
        DialogAnswer answer(0, [&](GtkWidget* d) {
            shown = MessageText(d);
            g_object_get(d, "message-type", &type, nullptr);
        });
        EXPECT_FALSE(run->Quit());
        EXPECT_TRUE(answer.Seen());
    }
    EXPECT_EQ(shown, "You can't quit program now\nbecause device working in progress.");
    EXPECT_EQ(type, GTK_MESSAGE_WARNING);
    EXPECT_NE(g_form1, nullptr);
    EXPECT_FALSE(g_file_test(dir.Res("settings.xml").c_str(), G_FILE_TEST_EXISTS));

    app->TalkStop();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "<span color='red' weight='bold'>Aborted</span>");
    EXPECT_TRUE(std::regex_search(LogText(app), std::regex("Attempt to abort execution\n(.*\n)*.*end: ABORTED\\.")))
        << LogText(app);
    ExpectSensitive(false);
    // Idle again: quitting saves the user settings.
    EXPECT_TRUE(run->Quit());
    EXPECT_TRUE(g_file_test(dir.Res("settings.xml").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(RunStateTest, TalkLogMenuItemSwitchesTheFlag)
{
    GtkWidget* item = GTK_WIDGET(app->Object(W_MB_TalkLog));
    for (bool on : {true, false}) {
        gtk_menu_item_activate(GTK_MENU_ITEM(item));
        EXPECT_EQ(on, (app->Runner().Flags() & RunFlags::TalkLog) != 0);
        EXPECT_EQ(on, app->IsTalkLog());
    }
}
}  // namespace
