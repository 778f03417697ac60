// Start-up: every failure path and the translated titles; then one running window through its
// message boxes, dialog places, Help and About, and the keyboard's reach.
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
using Quill::Rect;

extern "C" {
void About_cb(GtkWidget*, gpointer);
void Help_cb(GtkWidget*, gpointer);
}

namespace {
using StartedApp = AppTest;

TEST(StartUp, BrokenResourcesAndMissingWidgetsFail)
{
    // A resource that does not load: a message box naming it.
    for (auto [file, start] : {std::pair<const char*, const char*>{"UI/Main.glade", "Can't build UI:\n\n'"},
                               {"Pelta.xml", "Can't load file '"}}) {
        SCOPED_TRACE(file);
        ProgramDir dir;
        if (std::string(file) == "Pelta.xml")
            dir.WriteRes(file, "<device><sygnals><groups>");
        else
            remove(dir.Res(file).c_str());
        std::string text;
        DialogAnswer answer(0, [&](GtkWidget* d) { text = MessageText(d); });
        RunningApp run(dir);
        EXPECT_EQ(run.StartResult(), 1);
        EXPECT_TRUE(answer.Seen());
        EXPECT_EQ(text.rfind(start, 0), 0u) << text;
        EXPECT_NE(text.find(dir.Res(file)), std::string::npos) << text;
        EXPECT_EQ(GUIApp::instance, nullptr);
    }
    // Missing widgets: one log line each, and no user settings written.
    const std::pair<std::vector<std::string>, std::string> missing[] = {
        // The first stop button missing: the other two are not looked for.
        {{"TB_Stop0"}, "Widget 'TB_Stop0' not found\n"},
        // A missing earlier widget skips the stop buttons; columns and places are looked for all the same.
        {{"SB_Main", "DevHost", "DFIND_CMAC", "DS_Close"},
         "Widget 'SB_Main' not found\nWidget 'DevHost' not found\nWidget 'DFIND_CMAC' not found\n"
         "Widget 'DS_Close' not found\n"},
        {{"Form1"}, "AppStart: widForm1\n"},
    };
    for (const auto& [removed, reported] : missing) {
        SCOPED_TRACE(removed[0]);
        ProgramDir dir;
        std::string glade = FileText(dir.Res("UI/Main.glade"));
        for (const std::string& id : removed)
            glade.replace(glade.find("id=\"" + id + "\""), id.size() + 5, "id=\"" + id + "_gone\"");
        dir.WriteRes("UI/Main.glade", glade);
        LogCapture log(G_LOG_LEVEL_CRITICAL);
        RunningApp run(dir);
        EXPECT_EQ(run.StartResult(), 1);
        std::string all;
        for (const std::string& line : log.lines)
            all += line.substr(line.find(": ") + 2) + "\n";  // past the program's title
        EXPECT_EQ(all, reported);
        EXPECT_EQ(GUIApp::instance, nullptr);
        EXPECT_FALSE(g_file_test(dir.Res("settings.xml").c_str(), G_FILE_TEST_EXISTS));
    }
}

TEST(StartUp, RussianCatalogueTranslatesTitlesAndMenus)
{
    const char* oldLanguage = getenv("LANGUAGE");
    const std::string saved = oldLanguage ? oldLanguage : "", oldMessages = setlocale(LC_MESSAGES, nullptr);
    ASSERT_NE(setlocale(LC_MESSAGES, "C.UTF-8"), nullptr);
    setenv("LANGUAGE", "ru", 1);
    {
        ProgramDir dir;
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(g_form1)), "Прошивальщик Pelta");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(run.App()->Object(W_SB_Main))), "Ожидание");
        EXPECT_STREQ(gtk_menu_item_get_label(GTK_MENU_ITEM(Widget("MB_Quit"))), "_Выход");
        EXPECT_STREQ(GUIApp::TrArgs("Widget '^0' not found", "X").Text(), "Элемент 'X' не найден");
    }
    if (oldLanguage)
        setenv("LANGUAGE", saved.c_str(), 1);
    else
        unsetenv("LANGUAGE");
    setlocale(LC_MESSAGES, oldMessages.c_str());
}

// The buttons of a dialog listed by response, whatever order the theme lays them out in.
std::vector<GtkWidget*> Buttons(GtkWidget* d)
{
    GList* kids = gtk_container_get_children(GTK_CONTAINER(gtk_dialog_get_action_area(GTK_DIALOG(d))));
    std::vector<GtkWidget*> buttons(g_list_length(kids));
    for (GList* k = kids; k; k = k->next) {
        int response = gtk_dialog_get_response_for_widget(GTK_DIALOG(d), GTK_WIDGET(k->data));
        if (response >= 0 && response < (int)buttons.size())
            buttons[response] = GTK_WIDGET(k->data);
    }
    g_list_free(kids);
    return buttons;
}

TEST_F(StartedApp, MessageBoxesDialogPlacesHelpAboutAndKeys)
{
    const struct {
        int type;
        GtkMessageType look;
        std::vector<std::string> stock;
        int defaultResponse, pressed, focused;  // focused -1: no button has the focus
    } boxes[] = {
        {0, GTK_MESSAGE_INFO, {GTK_STOCK_OK}, -1, 0, -1},
        {1, GTK_MESSAGE_WARNING, {GTK_STOCK_OK}, 0, 0, 0},
        {2, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO}, -1, 1, -1},
        {3, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO, GTK_STOCK_CANCEL}, 2, 0, 2},
    };
    for (const auto& c : boxes) {
        SCOPED_TRACE(c.type);
        std::vector<std::string> stock;
        GtkMessageType look = GTK_MESSAGE_OTHER;
        std::string title;
        GtkWindow* parent = nullptr;
        int focused = -2;
        DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
            g_object_get(d, "message-type", &look, nullptr);
            title = gtk_window_get_title(GTK_WINDOW(d));
            parent = gtk_window_get_transient_for(GTK_WINDOW(d));
            for (GtkWidget* b : Buttons(d))
                stock.push_back(b ? gtk_button_get_label(GTK_BUTTON(b)) : "");
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(d));
            focused = focus && GTK_IS_BUTTON(focus) ? gtk_dialog_get_response_for_widget(GTK_DIALOG(d), focus) : -1;
            gtk_button_clicked(GTK_BUTTON(Buttons(d).at(c.pressed)));
        });
        EXPECT_EQ(app->MsgBox("text", c.type, c.defaultResponse, Quill::Window()), c.pressed);
        EXPECT_EQ(stock, c.stock);
        EXPECT_EQ(look, c.look);
        EXPECT_EQ(focused, c.focused);
        EXPECT_EQ(title, "Pelta Flasher");
        EXPECT_EQ(parent, GTK_WINDOW(g_form1)) << "a parent without a widget stands for the main window";
    }

    // A dialog opened from its tool button ticks its menu item; closed by the window manager or its
    // Close button, it unticks both; reopened from the menu, it comes back where it was.
    for (const auto& n : {std::array<const char*, 4>{"DLG_DevSettings", "MB_DevSettings", "TB_DevSettings", "DS_Close"},
                          {"DLG_DevFind", "MB_DevFind", "TB_DevFind", "DFIND_Close"}}) {
        SCOPED_TRACE(n[0]);
        GtkWidget* dialog = Widget(n[0]);
        auto state = [&] {  // shown, menu item ticked, tool button down as three digits
            return 100 * gtk_widget_get_visible(dialog) + 10 * gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(
                       Widget(n[1]))) + gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(Widget(n[2])));
        };
        gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(Widget(n[2])), TRUE);
        EXPECT_EQ(state(), 111);
        const Rect r{60, 70, 1060, 590};  // the settings window keeps its width: no tool button overflows
        Quill::Window(dialog).SetPlace(r);
        ASSERT_TRUE(PlacedAt(dialog, r));
        GdkEvent* e = gdk_event_new(GDK_DELETE);
        e->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
        e->any.send_event = TRUE;
        gtk_main_do_event(e);
        gdk_event_free(e);
        EXPECT_EQ(state(), 0);
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(Widget(n[1])), TRUE);
        EXPECT_EQ(state(), 111);
        EXPECT_TRUE(PlacedAt(dialog, r));
        gtk_button_clicked(GTK_BUTTON(Widget(n[3])));
        EXPECT_EQ(state(), 0);
    }

    // A rectangle off the screen or without size leaves the dialog where it was, still stored.
    Quill::WindowPlaceManagement& place = app->DevFindPlace();
    GtkWidget* dialog = place.Dialog().Widget();
    const Rect good{100, 110, 500, 410};
    place.SetVisible(true, &good);
    ASSERT_TRUE(PlacedAt(dialog, good));
    for (const Rect bad : {Rect{-5, 10, 300, 300}, Rect{50, 60, 50, 300}, Rect{50, 60, 300, 60}}) {
        place.SetVisible(false, nullptr);
        place.SetVisible(true, &bad);
        EXPECT_TRUE(gtk_widget_get_visible(dialog));
        Drain();
        EXPECT_EQ(Quill::Window(dialog).GetPlace(), good);
        place.SetVisible(false, nullptr);
        EXPECT_FALSE(place.GetPlace().visible);
        EXPECT_EQ(place.GetPlace().rect, good);
    }

    // Help is one dialog, hidden again by its Close button (through ActivateResponse_cb).
    for (int i = 0; i < 2; ++i) {
        GtkWidget* shown = nullptr;
        DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
            shown = d;
            gtk_button_clicked(GTK_BUTTON(Widget("DLG_Help_Close")));
        });
        Help_cb(nullptr, nullptr);
        EXPECT_EQ(shown, Widget("DLG_Help"));
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(shown)), "Help");
        EXPECT_FALSE(gtk_widget_get_visible(shown));
    }
    // About: the name in bold, version, build time, maker and contributor of the user's language.
    std::string text, title;
    int weight = 0;
    DialogAnswer about(GTK_RESPONSE_OK, [&](GtkWidget* d) {
        title = gtk_window_get_title(GTK_WINDOW(d));
        GtkTextIter s, e;
        gtk_text_buffer_get_bounds(Quill::AboutDialogBuffer(d), &s, &e);
        gchar* t = gtk_text_iter_get_text(&s, &e);
        text = t;
        g_free(t);
        GSList* tags = gtk_text_iter_get_tags(&s);
        if (tags)
            g_object_get(tags->data, "weight", &weight, nullptr);
        g_slist_free(tags);
    });
    About_cb(nullptr, nullptr);
    EXPECT_TRUE(about.Seen());
    EXPECT_EQ(title, "About");
    EXPECT_EQ(weight, 700);
    const AboutForm& form = AboutFormFor(pango_language_to_string(gtk_get_default_language()));
    const std::string expected = "Pelta Flasher\nProgram for flashing Pelta\nVersion: 1\\.3\\.2\n"
                                 "Build: [0-3][0-9]\\.[01][0-9]\\.20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n" +
                                 std::string(form.maker) + "\nContributors:\n\t" + form.contributor + "\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
    // A library that went into this program: the build time cannot be older.
    struct stat input;
    ASSERT_EQ(0, stat(PELTA_BUILD_INPUT, &input)) << PELTA_BUILD_INPUT;
    EXPECT_GE(BuildTime(), input.st_mtime) << "built before " << PELTA_BUILD_INPUT;
    EXPECT_LE(BuildTime(), time(nullptr));
    const AboutForm& russian = AboutFormFor("ru-ru");
    EXPECT_STRNE(russian.maker, AboutFormFor("en-us").maker);
    EXPECT_STRNE(russian.contributor, AboutFormFor("en-us").contributor);
    for (const char* other : {"ru", "ru-ua", "RU-RU", "c", static_cast<const char*>(nullptr)})
        EXPECT_NE(&AboutFormFor(other), &russian) << (other ? other : "null");

    // Keys reach a window's tool buttons only while it is on screen; the default load shows the
    // first group again, the password key opens its dialog, Ctrl+Q quits (so it comes last).
    app->DS_SelectGroup(1100, false);
    bool passwordAsked = false;
    DialogAnswer password(GTK_RESPONSE_CANCEL, [&](GtkWidget* d) {
        passwordAsked = std::string(gtk_window_get_title(GTK_WINDOW(d))) == "Change password";
    });
    const struct {
        const char* window;
        guint key;
        GdkModifierType mods;
        std::function<bool()> effect;
    } keys[] = {
        // F5 searches (the silent loopback port of the test set-up) and ends within a second, idle again.
        {"DLG_DevFind", GDK_F5, GdkModifierType(0), [&] {
             return RunUntil([&] {
                 return LogText(app).find("Find devices end: OK") != std::string::npos &&
                        gtk_widget_is_sensitive(Widget("TB_DFIND_Refresh"));
             });
         }},
        {"DLG_DevSettings", GDK_d, GDK_CONTROL_MASK, [&] { return app->Settings().CurrentGroup() == 1000; }},
        {"DLG_DevSettings", GDK_p, GDK_CONTROL_MASK, [&] { return passwordAsked; }},
        {"Form1", GDK_F2, GdkModifierType(0), [&] { return gtk_widget_get_visible(Widget("DLG_DevSettings")) != 0; }},
        {"Form1", GDK_F4, GdkModifierType(0), [&] { return app->IsTalkLog(); }},
        {"Form1", GDK_q, GDK_CONTROL_MASK, [&] { return GUIApp::instance == nullptr; }},
    };
    app->DevFindPlace().SetVisible(true, nullptr);
    app->DevSettingsPlace().SetVisible(true, nullptr);
    ASSERT_TRUE(RunUntil([] {
        return gtk_widget_get_mapped(Widget("DLG_DevFind")) && gtk_widget_get_mapped(Widget("DLG_DevSettings"));
    }));
    for (const auto& c : keys) {
        // F2 must open the settings window, so it is closed before the main window's keys.
        if (c.key == GDK_F2)
            app->DevSettingsPlace().SetVisible(false, nullptr);
        EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(Widget(c.window)), c.key, c.mods)) << c.window << c.key;
        EXPECT_TRUE(c.effect()) << c.window << " " << c.key;
    }
}
}  // namespace
