// Start-up: every failure path, translated titles, the keyboard's reach, and the About and
// Help dialogs.
#include <gdk/gdkkeysyms.h>
#include <sys/stat.h>

#include <clocale>
#include <regex>

#include "AppTestSupport.h"
#include "app/About.h"
#include "app/StartUp.h"
#include "ui/AboutDialog.h"

using namespace apptest;

extern "C" {
void About_cb(GtkWidget*, gpointer);
void Help_cb(GtkWidget*, gpointer);
}

namespace {
using StartedApp = AppTest;

TEST(StartUp, BrokenResourcesWarnAndFail)
{
    const struct {
        const char* file;
        std::string text;
        const char* start;
    } cases[] = {
        {"UI/Main.glade", "", "Can't build UI:\n\n'"},
        {"Pelta.xml", "<device><sygnals><groups>", "Can't load file '"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ProgramDir dir;
        if (c.text.empty())
            remove(dir.Res(c.file).c_str());
        else
            dir.WriteRes(c.file, c.text);
        std::string text;
        DialogAnswer answer(0, [&](GtkWidget* d) { text = MessageText(d); });
        RunningApp run(dir);
        EXPECT_EQ(run.StartResult(), 1);
        EXPECT_TRUE(answer.Seen());
        EXPECT_EQ(text.rfind(c.start, 0), 0u) << text;
        EXPECT_NE(text.find(dir.Res(c.file)), std::string::npos) << text;
        EXPECT_EQ(GUIApp::instance, nullptr);
    }
}

TEST(StartUp, MissingWidgetsLogOneLineEachAndFail)
{
    const struct {
        std::vector<std::string> removed, reported, notReported;
    } cases[] = {
        // The first stop button missing: the other two are not looked for.
        {{"TB_Stop0"}, {"Widget 'TB_Stop0' not found"}, {"TB_Stop1", "TB_Stop2"}},
        // A missing earlier widget skips the stop buttons entirely.
        {{"SB_Main", "DevHost"}, {"Widget 'SB_Main' not found", "Widget 'DevHost' not found"}, {"TB_Stop0"}},
        {{"DS_Close"}, {"Widget 'DS_Close' not found"}, {}},
        {{"DFIND_CMAC"}, {"Widget 'DFIND_CMAC' not found"}, {}},
        {{"Form1"}, {"widForm1"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.removed[0]);
        ProgramDir dir;
        std::string glade = FileText(dir.Res("UI/Main.glade"));
        for (const std::string& id : c.removed)
            glade.replace(glade.find("id=\"" + id + "\""), id.size() + 5, "id=\"" + id + "_gone\"");
        dir.WriteRes("UI/Main.glade", glade);
        LogCapture log(G_LOG_LEVEL_CRITICAL);
        RunningApp run(dir);
        EXPECT_EQ(run.StartResult(), 1);
        std::string all;
        for (const std::string& line : log.lines)
            all += line + "\n";
        EXPECT_EQ(log.lines.size(), c.reported.size()) << all;
        for (const std::string& line : c.reported)
            EXPECT_NE(all.find(line), std::string::npos) << line;
        for (const std::string& id : c.notReported)
            EXPECT_EQ(all.find("'" + id + "'"), std::string::npos) << id;
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

TEST_F(StartedApp, KeyboardReachesTheActions)
{
    // The default load shows the first group again; the password key opens its dialog.
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
    } cases[] = {
        // F5 searches (the silent loopback port of the test set-up) and ends within a second.
        {"DLG_DevFind", GDK_F5, GdkModifierType(0),
         [&] { return RunUntil([&] { return LogText(app).find("Find devices end: OK") != std::string::npos; }); }},
        {"DLG_DevSettings", GDK_d, GDK_CONTROL_MASK, [&] { return app->Settings().CurrentGroup() == 1000; }},
        {"DLG_DevSettings", GDK_p, GDK_CONTROL_MASK, [&] { return passwordAsked; }},
        {"Form1", GDK_F2, GdkModifierType(0), [&] { return gtk_widget_get_visible(Widget("DLG_DevSettings")) != 0; }},
        {"Form1", GDK_F4, GdkModifierType(0), [&] { return app->IsTalkLog(); }},
        {"Form1", GDK_q, GDK_CONTROL_MASK, [&] { return GUIApp::instance == nullptr; }},
    };
    // Keys reach a window's tool buttons only while it is on screen.
    app->DevFindPlace().SetVisible(true, nullptr);
    app->DevSettingsPlace().SetVisible(true, nullptr);
    ASSERT_TRUE(RunUntil([] {
        return gtk_widget_get_mapped(Widget("DLG_DevFind")) && gtk_widget_get_mapped(Widget("DLG_DevSettings"));
    }));
    for (const auto& c : cases) {
        // F2 must open the settings window, so it is closed before the main window's keys.
        if (c.key == GDK_F2)
            app->DevSettingsPlace().SetVisible(false, nullptr);
        EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(Widget(c.window)), c.key, c.mods)) << c.window << c.key;
        EXPECT_TRUE(c.effect()) << c.window << " " << c.key;
    }
}

TEST_F(StartedApp, HelpIsOneDialogAboutListsVersionBuildAndMaker)
{
    for (int i = 0; i < 2; ++i) {
        GtkWidget* shown = nullptr;
        // The Close button answers through ActivateResponse_cb.
        DialogAnswer answer(kInspectAnswers, [&](GtkWidget* d) {
            shown = d;
            gtk_button_clicked(GTK_BUTTON(Widget("DLG_Help_Close")));
        });
        Help_cb(nullptr, nullptr);
        EXPECT_EQ(shown, Widget("DLG_Help"));
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(shown)), "Help");
        EXPECT_FALSE(gtk_widget_get_visible(shown));
    }

    std::string text, title;
    int weight = 0;
    DialogAnswer answer(GTK_RESPONSE_OK, [&](GtkWidget* d) {
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
    EXPECT_TRUE(answer.Seen());
    EXPECT_EQ(title, "About");
    EXPECT_EQ(weight, 700) << "the program's name in bold";
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
}
}  // namespace
