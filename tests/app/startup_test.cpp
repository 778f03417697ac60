// Start-up's failures, translated; the user settings file read at start and written at quit, partial,
// damaged or unwritable; one running window's message boxes, dialog places, About and keys.
#include <gdk/gdkkeysyms.h>
#include <sys/stat.h>

#include <array>
#include <clocale>
#include <regex>

#include "AppTestSupport.h"
#include "app/About.h"
#include "app/StartUp.h"
#include "ui/AboutDialog.h"

using namespace apptest;

extern "C" void About_cb(GtkWidget*, gpointer);

namespace {

// A failed start says why, in Russian, and leaves nothing behind: no instance, no window, no
// user settings.
TEST(StartUp, FailuresInRussian)
{
    GList* tops = gtk_window_list_toplevels();
    const guint windows = g_list_length(tops);
    g_list_free(tops);
    const char* oldLanguage = getenv("LANGUAGE");
    const std::string saved = oldLanguage ? oldLanguage : "", oldMessages = setlocale(LC_MESSAGES, nullptr);
    ASSERT_NE(setlocale(LC_MESSAGES, "C.UTF-8"), nullptr);
    setenv("LANGUAGE", "ru", 1);
    const struct {
        std::vector<std::string> broken;  // a resource, or widgets taken out of the interface
        std::string message, log;         // the message box's start; the log past the program's title
    } cases[] = {
        {{"UI/Main.glade"}, "Прошивальщик Pelta|warning: Не удалось построить интерфейс:\n\n'", ""},
        // Once the interface is built its menus are translated too.
        {{"Pelta.xml"}, "Прошивальщик Pelta|_Выход|warning: Не удалось загрузить файл '", ""},
        // The first stop button missing: the other two are not looked for.
        {{"TB_Stop0"}, "", "Элемент 'TB_Stop0' не найден\n"},
        // A missing earlier widget skips the stop buttons; columns and places are still looked for.
        {{"SB_Main", "DevHost", "DFIND_CMAC", "DS_Close"}, "",
         "Элемент 'SB_Main' не найден\nЭлемент 'DevHost' не найден\nЭлемент 'DFIND_CMAC' не найден\n"
         "Элемент 'DS_Close' не найден\n"},
        {{"Form1"}, "", "AppStart: widForm1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.broken[0]);
        ProgramDir dir;
        std::string glade = FileText(dir.Res("UI/Main.glade"));
        for (const std::string& id : c.broken)
            if (id.find('.') == std::string::npos)
                glade.replace(glade.find("id=\"" + id + "\""), id.size() + 5, "id=\"" + id + "_gone\"");
        dir.WriteRes("UI/Main.glade", glade);
        if (c.broken[0] == "Pelta.xml")
            dir.WriteRes("Pelta.xml", "<device><sygnals><groups>");
        if (c.broken[0] == "UI/Main.glade")
            remove(dir.Res(c.broken[0]).c_str());
        std::string message;
        DialogAnswer answer(0, [&](GtkWidget* d) {
            message = gtk_window_get_title(GTK_WINDOW(d)) + std::string("|");
            if (GtkWidget* quit = Widget("MB_Quit"))
                message += gtk_menu_item_get_label(GTK_MENU_ITEM(quit)) + std::string("|");
            message += MessageText(d);
        });
        LogCapture log(G_LOG_LEVEL_CRITICAL);
        RunningApp run(dir);
        EXPECT_EQ(run.StartResult(), 1);
        EXPECT_EQ(c.message.empty() ? message : message.substr(0, c.message.size()), c.message) << message;
        EXPECT_TRUE(c.message.empty() || message.find(dir.Res(c.broken[0])) != std::string::npos) << message;
        std::string all;
        for (const std::string& line : log.lines)
            all += line.substr(line.find(": ") + 2) + "\n";
        EXPECT_EQ(all, c.log);
        EXPECT_EQ(GUIApp::instance, nullptr);
        tops = gtk_window_list_toplevels();
        EXPECT_EQ(g_list_length(tops), windows) << "windows of the failed start left";
        g_list_free(tops);
        EXPECT_FALSE(g_file_test(dir.Res("settings.xml").c_str(), G_FILE_TEST_EXISTS));
    }
    oldLanguage ? setenv("LANGUAGE", saved.c_str(), 1) : unsetenv("LANGUAGE");
    setlocale(LC_MESSAGES, oldMessages.c_str());
}

TEST(UserSettings, PartialFileRoundTripAndUnwritableFile)
{
    ProgramDir dir;
    // The host alone keeps the default password; windows without width or height or off the
    // screen are left out; options without talkLog switch it off.
    dir.WriteRes("settings.xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pelta_flasher_settings><dev host=\"192.168.5.9\" />"
                 "<window left=\"50\" top=\"60\" right=\"50\" bottom=\"500\" />"
                 "<window left=\"50\" top=\"60\" right=\"700\" bottom=\"60\" />"
                 "<window left=\"-1\" top=\"60\" right=\"700\" bottom=\"500\" />"
                 "<window left=\"50\" top=\"-1\" right=\"700\" bottom=\"500\" />"
                 "<options talkLog=\"1\" /><options /><windowDevSettings visible=\"1\" />"
                 "</pelta_flasher_settings>");
    const Quill::Rect main{30, 40, 830, 640}, find{100, 120, 600, 420}, settings{20, 30, 1020, 550};
    {
        LogCapture log;
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        GUIApp* app = run.App();
        EXPECT_TRUE(log.lines.empty()) << log.lines.front();
        EXPECT_EQ(EntryText(app, W_DevHost) + " " + EntryText(app, W_DevPassword), "192.168.5.9 1");
        EXPECT_FALSE(app->Runner().Flags() & RunFlags::TalkLog);
        Drain();
        EXPECT_EQ(Quill::Window(g_form1).GetPlace().Width(), 900);
        EXPECT_TRUE(gtk_widget_get_visible(app->DevSettingsPlace().Dialog().Widget()) &&
                    gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(Widget("MB_DevSettings"))));
        EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(g_form1)), GTK_WIDGET(app->Object(W_DevHost)));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(Widget("DLG_DevFind"))), GTK_WINDOW(g_form1));

        EntrySet(app, W_DevHost, "10.0.0.7:1502");
        EntrySet(app, W_DevPassword, "a&b<\"'>");
        gtk_paned_set_position(GTK_PANED(app->Object(W_DS_Content)), 300);
        gtk_menu_item_activate(GTK_MENU_ITEM(app->Object(W_MB_TalkLog)));
        app->Form1().SetPlace(main);
        ASSERT_TRUE(PlacedAt(g_form1, main));
        app->DevFindPlace().SetVisible(true, &find);
        ASSERT_TRUE(PlacedAt(app->DevFindPlace().Dialog().Widget(), find));
        // A hidden window keeps the place it was given.
        app->DevSettingsPlace().SetVisible(true, &settings);
        ASSERT_TRUE(PlacedAt(app->DevSettingsPlace().Dialog().Widget(), settings));
        app->DevSettingsPlace().SetVisible(false, nullptr);
        ASSERT_TRUE(run.Quit());
    }
    EXPECT_EQ(FileText(dir.Res("settings.xml")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE pelta_flasher_settings>\n"
              "<pelta_flasher_settings>\n\t<fileHeader formatVerMaj=\"1\" formatVerMin=\"0\" />\n"
              "\t<window left=\"30\" top=\"40\" right=\"830\" bottom=\"640\" />\n"
              "\t<dev host=\"10.0.0.7:1502\" password=\"a&amp;b&lt;&quot;&apos;&gt;\" />\n"
              "\t<windowDevSettings left=\"20\" top=\"30\" right=\"1020\" bottom=\"550\""
              " visible=\"0\" />\n"
              "\t<windowDevFind left=\"100\" top=\"120\" right=\"600\" bottom=\"420\" visible=\"1\" />\n"
              "\t<devSettings contentDividerPos=\"300\" />\n\t<options talkLog=\"1\" />\n</pelta_flasher_settings>\n");

    RunningApp again(dir);
    ASSERT_EQ(again.StartResult(), 0);
    GUIApp* app = again.App();
    EXPECT_EQ(EntryText(app, W_DevHost) + " " + EntryText(app, W_DevPassword), "10.0.0.7:1502 a&b<\"'>");
    EXPECT_EQ(gtk_paned_get_position(GTK_PANED(app->Object(W_DS_Content))), 300);
    EXPECT_TRUE((app->Runner().Flags() & RunFlags::TalkLog) &&
                gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(app->Object(W_MB_TalkLog))));
    EXPECT_TRUE(PlacedAt(g_form1, main));
    EXPECT_TRUE(gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(Widget("TB_DevFind"))));
    EXPECT_TRUE(PlacedAt(app->DevFindPlace().Dialog().Widget(), find));
    EXPECT_FALSE(gtk_widget_get_visible(app->DevSettingsPlace().Dialog().Widget()));
    EXPECT_EQ(app->DevSettingsPlace().GetPlace().rect, settings);

    // A directory where the file should be: opening fails, the quit still goes on.
    ASSERT_EQ(remove(dir.Res("settings.xml").c_str()), 0);
    ASSERT_EQ(mkdir(dir.Res("settings.xml").c_str(), 0700), 0);
    LogCapture log;
    EXPECT_TRUE(again.Quit());
    EXPECT_TRUE(log.lines.empty());
}

// The running window, started on a damaged user settings file.
class StartedApp : public AppTest {
    void SetUp() override
    {
        dir.WriteRes("settings.xml",
                     "<pelta_flasher_settings><fileHeader formatVerMaj=\"7\" formatVerMin=\"3\" />"
                     "<dev host=\"before\" password=\"\" /><options talkLog=\"0x1\" />"
                     "<window left=\"50\" top=\"60\" right=\"700\" bottom=\"500\" />"
                     "<windowDevSettings left=\"10\" top=\"20\" right=\"1010\" bottom=\"540\""
                     " visible=\"1\" />"
                     "<dev host=\"after\" pass");
        StartApp();
    }
};

TEST_F(StartedApp, DamagedSettingsMessageBoxesDialogPlacesAboutAndKeys)
{
    // Another format version, an empty password and a hexadecimal talk log are read all the same,
    // what came after the fault is not.
    EXPECT_EQ(EntryText(app, W_DevHost) + " " + EntryText(app, W_DevPassword), "before ");
    EXPECT_TRUE(app->Runner().Flags() & RunFlags::TalkLog);
    EXPECT_TRUE(PlacedAt(g_form1, {50, 60, 700, 500}));
    EXPECT_TRUE(PlacedAt(Widget("DLG_DevSettings"), {10, 20, 1010, 540}));

    // {type, default response, pressed, look: text, buttons by response, the focused one (-1: none)}
    const std::tuple<int, int, int, const char*> boxes[] = {
        {0, -1, 0, "info: text gtk-ok, focus -1"},
        {1, 0, 0, "warning: text gtk-ok, focus 0"},
        {3, 2, 1, "question: text gtk-yes gtk-no gtk-cancel, focus 2"},
    };
    for (const auto& [type, defaultResponse, pressed, expected] : boxes) {
        std::string seen;
        DialogAnswer answer(kInspectAnswers, [&, pressed = pressed](GtkWidget* d) {
            seen = MessageText(d);
            for (int r = 0; GtkWidget* b = gtk_dialog_get_widget_for_response(GTK_DIALOG(d), r); ++r)
                seen += std::string(" ") + gtk_button_get_label(GTK_BUTTON(b));
            GtkWidget* f = gtk_window_get_focus(GTK_WINDOW(d));
            int focused = f && GTK_IS_BUTTON(f) ? gtk_dialog_get_response_for_widget(GTK_DIALOG(d), f) : -1;
            seen += ", focus " + std::to_string(focused);
            // A parent without a widget stands for the main window.
            seen += std::string(", ") + gtk_window_get_title(GTK_WINDOW(d)) +
                    (gtk_window_get_transient_for(GTK_WINDOW(d)) == GTK_WINDOW(g_form1) ? " over the main window" : "");
            gtk_button_clicked(GTK_BUTTON(gtk_dialog_get_widget_for_response(GTK_DIALOG(d), pressed)));
        });
        EXPECT_EQ(app->MsgBox("text", type, defaultResponse, Quill::Window()), pressed) << expected;
        EXPECT_EQ(seen, std::string(expected) + ", Pelta Flasher over the main window");
    }

    // A dialog opened from its tool button ticks its menu item; closed by the window manager or its
    // Close button, it unticks both; reopened from the menu, it comes back where it was.
    for (const auto& n : {std::array<const char*, 4>{"DLG_DevSettings", "MB_DevSettings", "TB_DevSettings", "DS_Close"},
                          {"DLG_DevFind", "MB_DevFind", "TB_DevFind", "DFIND_Close"}}) {
        SCOPED_TRACE(n[0]);
        GtkWidget *dialog = Widget(n[0]), *item = Widget(n[1]), *tool = Widget(n[2]);
        auto state = [&] {  // shown, menu item ticked, tool button down as three digits
            return 100 * gtk_widget_get_visible(dialog) +
                   10 * gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)) +
                   gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(tool));
        };
        gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(tool), TRUE);
        EXPECT_EQ(state(), 111);
        const Quill::Rect r{60, 70, 1060, 590};  // the settings window keeps its width: no tool button overflows
        Quill::Window(dialog).SetPlace(r);
        ASSERT_TRUE(PlacedAt(dialog, r));
        CloseRequest(dialog);
        EXPECT_EQ(state(), 0);
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
        EXPECT_EQ(state(), 111);
        EXPECT_TRUE(PlacedAt(dialog, r));
        gtk_button_clicked(GTK_BUTTON(Widget(n[3])));
        EXPECT_EQ(state(), 0);
    }

    std::string text;
    DialogAnswer about(GTK_RESPONSE_OK, [&](GtkWidget* d) {
        GtkTextIter s, e;
        gtk_text_buffer_get_bounds(Quill::AboutDialogBuffer(d), &s, &e);
        text = gtk_window_get_title(GTK_WINDOW(d)) + (": " + Take(gtk_text_iter_get_text(&s, &e)));
    });
    About_cb(nullptr, nullptr);
    const AboutForm& form = AboutFormFor(pango_language_to_string(gtk_get_default_language()));
    const std::string expected = "About: Pelta Flasher\nProgram for flashing Pelta\nVersion: 1\\.3\\.2\n"
                                 "Build: [0-3][0-9]\\.[01][0-9]\\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n" +
                                 std::string(form.maker) + "\nContributors:\n\t" + form.contributor + "\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
    // A library that went into this program: the build time cannot be older.
    struct stat input;
    ASSERT_EQ(0, stat(PELTA_BUILD_INPUT, &input)) << PELTA_BUILD_INPUT;
    EXPECT_GE(BuildTime(), input.st_mtime) << "built before " << PELTA_BUILD_INPUT;
    EXPECT_LE(BuildTime(), time(nullptr));

    // Keys reach a window's tool buttons while it is on screen; Ctrl+Q quits, so it comes last.
    app->DS_SelectGroup(1100, false);
    std::string asked;
    DialogAnswer password(GTK_RESPONSE_CANCEL, [&](GtkWidget* d) { asked = gtk_window_get_title(GTK_WINDOW(d)); });
    app->DevFindPlace().SetVisible(true, nullptr);
    app->DevSettingsPlace().SetVisible(true, nullptr);
    ASSERT_TRUE(RunUntil([] {
        return gtk_widget_get_mapped(Widget("DLG_DevFind")) && gtk_widget_get_mapped(Widget("DLG_DevSettings"));
    }));
    auto press = [](const char* window, guint key, int mods) {
        return gtk_accel_groups_activate(G_OBJECT(Widget(window)), key, GdkModifierType(mods));
    };
    // F5 searches (the silent loopback port of the test set-up) until idle again.
    EXPECT_TRUE(press("DLG_DevFind", GDK_F5, 0));
    EXPECT_TRUE(RunUntil([&] {
        return LogText(app).find("Find devices end: OK") != std::string::npos &&
               gtk_widget_is_sensitive(Widget("TB_DFIND_Refresh"));
    }));
    EXPECT_TRUE(press("DLG_DevSettings", GDK_d, GDK_CONTROL_MASK) && app->Settings().CurrentGroup() == 1000);
    EXPECT_TRUE(press("DLG_DevSettings", GDK_p, GDK_CONTROL_MASK) && asked == "Change password") << asked;
    // F2 must open the settings window, so it is closed first.
    app->DevSettingsPlace().SetVisible(false, nullptr);
    EXPECT_TRUE(press("Form1", GDK_F2, 0) && gtk_widget_get_visible(Widget("DLG_DevSettings")));
    EXPECT_TRUE(press("Form1", GDK_q, GDK_CONTROL_MASK) && GUIApp::instance == nullptr);
}
}  // namespace
