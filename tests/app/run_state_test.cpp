// The window side of an operation: state texts and colours, control sensitivity, indented
// log lines from the worker, the abort request and the quit guard while a unit is busy.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "AppTestSupport.h"
#include "app/StartUp.h"

using namespace apptest;

namespace {
// A loopback listener that accepts connections (the kernel does) and never answers.
class SilentUnit {
public:
    SilentUnit()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, (sockaddr*)&a, sizeof a);
        listen(fd_, 4);
        socklen_t len = sizeof a;
        getsockname(fd_, (sockaddr*)&a, &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentUnit() { close(fd_); }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A loopback port nobody listens on: connecting is refused at once.
std::string RefusingHost()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
}

bool Sensitive(GUIApp* app, WidgetId id)
{
    return gtk_widget_get_sensitive(GTK_WIDGET(app->Object(id)));
}

class RunStateTest : public ::testing::Test {
protected:
    ProgramDir dir;
    RunningApp run{dir};
    GUIApp* app = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(run.StartResult(), 0);
        app = run.App();
    }
    // The state turns idle before the worker's last window update; joining waits for that.
    bool WaitIdle()
    {
        bool idle = RunUntil([&] { return !app->Runner().IsBusy(); }, 20000);
        app->Runner().WorkerJoin();
        return idle;
    }
    std::string Status() { return gtk_label_get_label(GTK_LABEL(app->Object(W_SB_Main))); }
};

const WidgetId kIdleControls[] = {W_MB_Quit, W_TB_WriteB, W_MB_WriteB, W_TB_WriteFW, W_MB_WriteFW,
                                  W_TB_Reboot, W_MB_Reboot, W_TB_TestGateway, W_MB_TestGateway,
                                  W_Settings, W_TB_DS_ReadGroupFromDev, W_TB_DS_ReadAllFromDev,
                                  W_TB_DS_WriteGroupToDev, W_TB_DS_WriteAllToDev,
                                  W_TB_DS_WritePasswordToDev, W_TB_DFIND_Refresh};
const WidgetId kStopControls[] = {W_TB_Stop0, W_TB_Stop1, W_TB_Stop2, W_MB_Stop};
const WidgetId kSettingsFileControls[] = {W_TB_DS_ReadAllDefault, W_TB_DS_ReadAllFromFile,
                                          W_TB_DS_WriteGroupToFile, W_TB_DS_WriteAllToFile, W_DS_Content};
}  // namespace

TEST_F(RunStateTest, FailedSessionShowsErrorInRedAndIndentsWorkerLines)
{
    EntrySet(app, W_DevHost, RefusingHost().c_str());
    app->DevRefresh();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "<span color='red' weight='bold'>Error</span>");
    EXPECT_TRUE(gtk_label_get_use_markup(GTK_LABEL(app->Object(W_SB_Main))));

    std::string log = LogText(app);
    const std::string stamp = "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]";
    // Begin and end lines sit at depth 0, the channel's own lines one level deeper.
    EXPECT_TRUE(std::regex_search(log, std::regex("^" + stamp + "  Read firmware version begin\n")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\n" + stamp + "    \\S"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\n" + stamp +
                                                  "  Read firmware version end: ERROR\\. Elapsed time: .*\\.\n$")))
        << log;
    for (WidgetId id : kIdleControls)
        EXPECT_TRUE(Sensitive(app, id)) << id;
    for (WidgetId id : kStopControls)
        EXPECT_FALSE(Sensitive(app, id)) << id;
}

TEST_F(RunStateTest, BusyControlsQuitGuardAndAbort)
{
    SilentUnit unit;
    EntrySet(app, W_DevHost, unit.Host().c_str());
    app->DevRefresh();
    ASSERT_TRUE(app->Runner().IsBusy());
    for (WidgetId id : kIdleControls)
        EXPECT_FALSE(Sensitive(app, id)) << id;
    for (WidgetId id : kStopControls)
        EXPECT_TRUE(Sensitive(app, id)) << id;
    // Connected: the status names the running operation, in plain text.
    EXPECT_TRUE(RunUntil([&] { return Status() == "Version read"; }, 10000)) << Status();
    EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(app->Object(W_SB_Main))));
    // A version read leaves the settings document alone, so its file controls stay usable.
    for (WidgetId id : kSettingsFileControls)
        EXPECT_TRUE(Sensitive(app, id)) << id;

    // Quitting is refused with a warning and writes nothing.
    std::string shown;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    {
        DialogAnswer answer(0, [&](GtkWidget* d) {
            shown = MessageText(d);
            g_object_get(d, "message-type", &type, nullptr);
        });
        EXPECT_FALSE(run.Quit());
        EXPECT_TRUE(answer.Seen());
    }
    EXPECT_EQ(shown, "You can't quit program now\nbecause device working in progress.");
    EXPECT_EQ(type, GTK_MESSAGE_WARNING);
    EXPECT_NE(GUIApp::instance, nullptr);
    EXPECT_NE(g_form1, nullptr);
    EXPECT_FALSE(dir.SettingsExist());

    app->TalkStop();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Status(), "<span color='red' weight='bold'>Aborted</span>");
    std::string log = LogText(app);
    EXPECT_NE(log.find("Attempt to abort execution"), std::string::npos) << log;
    EXPECT_NE(log.find("end: ABORTED."), std::string::npos) << log;
    for (WidgetId id : kStopControls)
        EXPECT_FALSE(Sensitive(app, id)) << id;

    // Idle again: quitting saves the user settings.
    EXPECT_TRUE(run.Quit());
    EXPECT_TRUE(dir.SettingsExist());
}

TEST_F(RunStateTest, TalkLogMenuItemSwitchesTheFlag)
{
    GtkWidget* item = GTK_WIDGET(app->Object(W_MB_TalkLog));
    EXPECT_FALSE(app->Runner().Flags() & RunFlags::TalkLog);
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_TRUE(app->Runner().Flags() & RunFlags::TalkLog);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)));
    EXPECT_TRUE(app->IsTalkLog());
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
    EXPECT_FALSE(app->Runner().Flags() & RunFlags::TalkLog);
    EXPECT_FALSE(app->IsTalkLog());
}
