// The user settings file: defaults on a first start, written at quit, read at start, and what a
// damaged, partial or unwritable file leaves in place.
#include <glib/gstdio.h>

#include "AppTestSupport.h"
#include "app/StartUp.h"

using namespace apptest;
using Quill::Rect;

namespace {
std::string Settings(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE pelta_flasher_settings>\n"
           "<pelta_flasher_settings>\n" + body + "</pelta_flasher_settings>\n";
}

TEST(UserSettings, FirstStartRoundTripAndUnwritableFile)
{
    ProgramDir dir;
    const Rect main{30, 40, 830, 640}, find{100, 120, 600, 420};
    {
        LogCapture log;
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        GUIApp* app = run.App();
        // A first start: nothing complains, the defaults stand, the host entry has the focus.
        EXPECT_TRUE(log.lines.empty()) << log.lines.front();
        EXPECT_EQ(EntryText(app, W_DevHost) + " " + EntryText(app, W_DevPassword), "127.0.0.1 1");
        EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(g_form1)), GTK_WIDGET(app->Object(W_DevHost)));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(Widget("DLG_DevFind"))), GTK_WINDOW(g_form1));
        EXPECT_EQ(Quill::Window(g_form1).GetPlace().Width(), 900);

        EntrySet(app, W_DevHost, "10.0.0.7:1502");
        EntrySet(app, W_DevPassword, "a&b<\"'>");
        gtk_paned_set_position(GTK_PANED(app->Object(W_DS_Content)), 300);
        gtk_menu_item_activate(GTK_MENU_ITEM(app->Object(W_MB_TalkLog)));
        app->Form1().SetPlace(main);
        ASSERT_TRUE(PlacedAt(g_form1, main));
        app->DevFindPlace().SetVisible(true, &find);
        ASSERT_TRUE(PlacedAt(app->DevFindPlace().Dialog().Widget(), find));
        ASSERT_TRUE(run.Quit());
    }
    const std::string text = FileText(dir.Res("settings.xml"));
    const char* lines[] = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE pelta_flasher_settings>\n"
                           "<pelta_flasher_settings>\n\t<fileHeader formatVerMaj=\"1\" formatVerMin=\"0\" />\n",
                           "\n\t<window left=\"30\" top=\"40\" right=\"830\" bottom=\"640\" />\n",
                           "\n\t<dev host=\"10.0.0.7:1502\" password=\"a&amp;b&lt;&quot;&apos;&gt;\" />\n",
                           "\n\t<windowDevSettings ",
                           "\n\t<windowDevFind left=\"100\" top=\"120\" right=\"600\" bottom=\"420\" visible=\"1\" />\n",
                           "\n\t<devSettings contentDividerPos=\"300\" />\n",
                           "\n\t<options talkLog=\"1\" />\n</pelta_flasher_settings>\n"};
    for (const char* line : lines)
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nnot in\n" << text;

    RunningApp again(dir);
    ASSERT_EQ(again.StartResult(), 0);
    GUIApp* app = again.App();
    EXPECT_EQ(EntryText(app, W_DevHost), "10.0.0.7:1502");
    EXPECT_EQ(EntryText(app, W_DevPassword), "a&b<\"'>");
    EXPECT_EQ(gtk_paned_get_position(GTK_PANED(app->Object(W_DS_Content))), 300);
    EXPECT_TRUE(app->Runner().Flags() & RunFlags::TalkLog);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(app->Object(W_MB_TalkLog))));
    EXPECT_TRUE(PlacedAt(g_form1, main));
    EXPECT_TRUE(gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(Widget("TB_DevFind"))));
    EXPECT_TRUE(PlacedAt(app->DevFindPlace().Dialog().Widget(), find));
    EXPECT_FALSE(gtk_widget_get_visible(app->DevSettingsPlace().Dialog().Widget()));

    // A directory where the file should be: opening fails, the quit still goes on.
    ASSERT_EQ(g_remove(dir.Res("settings.xml").c_str()), 0);
    ASSERT_EQ(g_mkdir(dir.Res("settings.xml").c_str(), 0700), 0);
    LogCapture log;
    EXPECT_TRUE(again.Quit());
    EXPECT_TRUE(log.lines.empty());
}

TEST(UserSettings, FilesThatApplyInPart)
{
    const std::string window = "<window left=\"50\" top=\"60\" right=\"700\" bottom=\"500\" />";
    const std::string dialog = "<windowDevSettings left=\"10\" top=\"20\" right=\"410\" bottom=\"320\" visible=";
    const struct {
        const char* what;
        std::string text;
        const char *host, *password;
        bool talkLog, mainApplied, dialogShown, dialogPlaced;
    } cases[] = {
        {"host alone keeps the password; windows without width or height or off the screen; options without "
         "talkLog switch it off",
         Settings("<dev host=\"192.168.5.9\" /><window left=\"50\" top=\"60\" right=\"50\" bottom=\"500\" />"
                  "<window left=\"50\" top=\"60\" right=\"700\" bottom=\"60\" />"
                  "<window left=\"-1\" top=\"60\" right=\"700\" bottom=\"500\" />"
                  "<window left=\"50\" top=\"-1\" right=\"700\" bottom=\"500\" />"
                  "<options talkLog=\"1\" /><options /><windowDevSettings visible=\"1\" />"),
         "192.168.5.9", "1", false, false, true, false},
        {"other format version, empty password, hexadecimal talk log",
         Settings("<fileHeader formatVerMaj=\"7\" formatVerMin=\"3\" /><dev password=\"\" />"
                  "<options talkLog=\"0x1\" />" + window + dialog + "\"0\" />"),
         "127.0.0.1", "", true, true, false, true},
        {"malformed: what came before the fault applies",
         "<pelta_flasher_settings><dev host=\"before\" /><options talkLog=\"1\" />" + dialog +
             "\"1\" /><dev host=\"after\" pass",
         "before", "1", true, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramDir dir;
        dir.WriteRes("settings.xml", c.text);
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        GUIApp* app = run.App();
        EXPECT_EQ(EntryText(app, W_DevHost), c.host);
        EXPECT_EQ(EntryText(app, W_DevPassword), c.password);
        EXPECT_EQ((app->Runner().Flags() & RunFlags::TalkLog) != 0, c.talkLog);
        Drain();
        const Rect main{50, 60, 700, 500}, place{10, 20, 410, 320};
        EXPECT_TRUE(c.mainApplied ? PlacedAt(g_form1, main) : Quill::Window(g_form1).GetPlace().Width() == 900);
        GtkWidget* settings = app->DevSettingsPlace().Dialog().Widget();
        EXPECT_EQ(gtk_widget_get_visible(settings) != 0, c.dialogShown);
        EXPECT_EQ(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(Widget("MB_DevSettings"))) != 0, c.dialogShown);
        EXPECT_TRUE(!c.dialogPlaced ||
                    (c.dialogShown ? PlacedAt(settings, place) : app->DevSettingsPlace().GetPlace().rect == place));
    }
}
}  // namespace
