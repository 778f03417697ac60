// The user settings file: written at quit, read at start, and what a damaged or partial file
// leaves in place.
#include <gtest/gtest.h>

#include <glib/gstdio.h>

#include <regex>

#include "AppTestSupport.h"
#include "app/StartUp.h"

using namespace apptest;
using Quill::Rect;

namespace {
const char kGladeHost[] = "127.0.0.1";

std::string Settings(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE pelta_flasher_settings>\n"
           "<pelta_flasher_settings>\n" + body + "</pelta_flasher_settings>\n";
}

bool TalkLogOn(GUIApp* app)
{
    return (app->Runner().Flags() & RunFlags::TalkLog) != 0;
}

int Divider(GUIApp* app)
{
    return gtk_paned_get_position(GTK_PANED(app->Object(W_DS_Content)));
}

bool PlacedAt(GtkWidget* w, const Rect& r)
{
    return RunUntil([&] { return Quill::Window(w).GetPlace() == r; }, 5000);
}
}  // namespace

TEST(UserSettings, RoundTripKeepsEverything)
{
    ProgramDir dir;
    const Rect main{30, 40, 830, 640};
    const Rect find{100, 120, 600, 420};
    {
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        GUIApp* app = run.App();
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
    std::string text = dir.ReadSettings();
    const char* elements[] = {"pelta_flasher_settings", "fileHeader", "window", "dev",
                              "windowDevSettings", "windowDevFind", "devSettings", "options"};
    for (const char* e : elements)
        EXPECT_EQ(std::regex_search(text, std::regex(std::string("\n\t?<") + e + "[ >]")), true) << e;
    EXPECT_NE(text.find("\t<fileHeader formatVerMaj=\"1\" formatVerMin=\"0\" />\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\t<window left=\"30\" top=\"40\" right=\"830\" bottom=\"640\" />\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\t<dev host=\"10.0.0.7:1502\" password=\"a&amp;b&lt;&quot;&apos;&gt;\" />\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("\t<windowDevFind left=\"100\" top=\"120\" right=\"600\" bottom=\"420\" visible=\"1\" />"),
              std::string::npos) << text;
    EXPECT_NE(text.find("\t<devSettings contentDividerPos=\"300\" />"), std::string::npos) << text;
    EXPECT_NE(text.find("\t<options talkLog=\"1\" />"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("</pelta_flasher_settings>\n"), text.size() - 26);

    RunningApp again(dir);
    ASSERT_EQ(again.StartResult(), 0);
    GUIApp* app = again.App();
    EXPECT_EQ(EntryText(app, W_DevHost), "10.0.0.7:1502");
    EXPECT_EQ(EntryText(app, W_DevPassword), "a&b<\"'>");
    EXPECT_EQ(Divider(app), 300);
    EXPECT_TRUE(TalkLogOn(app));
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(app->Object(W_MB_TalkLog))));
    EXPECT_TRUE(PlacedAt(g_form1, main));
    GtkWidget* findDialog = app->DevFindPlace().Dialog().Widget();
    EXPECT_TRUE(gtk_widget_get_visible(findDialog));
    EXPECT_TRUE(gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(Widget("TB_DevFind"))));
    EXPECT_TRUE(PlacedAt(findDialog, find));
    EXPECT_FALSE(gtk_widget_get_visible(app->DevSettingsPlace().Dialog().Widget()));
}

TEST(UserSettings, FilesThatApplyInPart)
{
    struct FileCase {
        const char* what;
        std::string text;
        const char* host;
        const char* password;
        bool talkLog;
        int divider;  // 0: the interface's own
    };
    const FileCase cases[] = {
        {"no file", "", kGladeHost, "1", false, 0},
        {"host only keeps the password", Settings("\t<dev host=\"192.168.5.9\" />\n"), "192.168.5.9", "1", false, 0},
        {"empty password empties the entry", Settings("\t<dev password=\"\" />\n"), kGladeHost, "", false, 0},
        {"hexadecimal talk log", Settings("\t<options talkLog=\"0x1\" />\n"), kGladeHost, "1", true, 0},
        {"options without talkLog switch it off",
         Settings("\t<options talkLog=\"1\" />\n\t<options />\n"), kGladeHost, "1", false, 0},
        {"other format version is read all the same",
         Settings("\t<fileHeader formatVerMaj=\"7\" formatVerMin=\"3\" />\n\t<dev host=\"h7\" />\n"), "h7", "1", false, 0},
        {"elements count wherever they stand",
         "<other><deeper><dev host=\"nested\" /></deeper></other>", "nested", "1", false, 0},
        {"divider 0 is ignored", Settings("\t<devSettings contentDividerPos=\"0\" />\n"), kGladeHost, "1", false, 0},
        {"octal divider", Settings("\t<devSettings contentDividerPos=\"0400\" />\n"), kGladeHost, "1", false, 256},
        {"malformed: what came before the fault applies",
         "<pelta_flasher_settings><dev host=\"before\" /><options talkLog=\"1\" /><dev host=\"after\" pass",
         "before", "1", true, 0},
        {"not XML at all", "\x01\x02garbage<<<>>>", kGladeHost, "1", false, 0},
    };
    for (const FileCase& c : cases) {
        ProgramDir dir;
        if (!c.text.empty())
            dir.WriteSettings(c.text);
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0) << c.what;
        GUIApp* app = run.App();
        EXPECT_EQ(EntryText(app, W_DevHost), c.host) << c.what;
        EXPECT_EQ(EntryText(app, W_DevPassword), c.password) << c.what;
        EXPECT_EQ(TalkLogOn(app), c.talkLog) << c.what;
        if (c.divider) {
            EXPECT_EQ(Divider(app), c.divider) << c.what;
        }
    }
}

TEST(UserSettings, InvalidWindowRectangleIsIgnoredOthersApply)
{
    struct RectCase {
        const char* window;
        bool applied;
    };
    const RectCase cases[] = {
        {"left=\"50\" top=\"60\" right=\"50\" bottom=\"500\"", false},
        {"left=\"50\" top=\"60\" right=\"700\" bottom=\"60\"", false},
        {"left=\"-1\" top=\"60\" right=\"700\" bottom=\"500\"", false},
        {"left=\"50\" top=\"-1\" right=\"700\" bottom=\"500\"", false},
        {"", false},
        {"left=\"50\" top=\"60\" right=\"700\" bottom=\"500\"", true},
    };
    for (const RectCase& c : cases) {
        ProgramDir dir;
        dir.WriteSettings(Settings(std::string("\t<window ") + c.window + " />\n\t<dev host=\"kept\" />\n"));
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        EXPECT_EQ(EntryText(run.App(), W_DevHost), "kept") << c.window;
        Drain();
        Rect r = Quill::Window(g_form1).GetPlace();
        if (c.applied) {
            EXPECT_TRUE(PlacedAt(g_form1, (Rect{50, 60, 700, 500}))) << c.window;
        } else {
            EXPECT_EQ(r.Width(), 900) << c.window;  // the interface's default size
        }
    }
}

TEST(UserSettings, DialogPlacesFromTheFile)
{
    struct PlaceCase {
        const char* element;
        bool visible;
    };
    const PlaceCase cases[] = {
        {"<windowDevSettings />", false},
        {"<windowDevSettings visible=\"1\" />", true},
        {"<windowDevSettings left=\"10\" top=\"20\" right=\"410\" bottom=\"320\" visible=\"0\" />", false},
        {"<windowDevSettings left=\"10\" top=\"20\" right=\"410\" bottom=\"320\" visible=\"1\" />", true},
    };
    for (const PlaceCase& c : cases) {
        ProgramDir dir;
        dir.WriteSettings(Settings(std::string("\t") + c.element + "\n"));
        RunningApp run(dir);
        ASSERT_EQ(run.StartResult(), 0);
        Quill::WindowPlaceManagement& place = run.App()->DevSettingsPlace();
        EXPECT_EQ(gtk_widget_get_visible(place.Dialog().Widget()) != 0, c.visible) << c.element;
        EXPECT_EQ(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(Widget("MB_DevSettings"))) != 0, c.visible);
        if (std::string(c.element).find("left") != std::string::npos) {
            if (c.visible) {
                EXPECT_TRUE(PlacedAt(place.Dialog().Widget(), (Rect{10, 20, 410, 320})));
            } else {
                EXPECT_EQ(place.GetPlace().rect, (Rect{10, 20, 410, 320}));
            }
        }
    }
}

TEST(UserSettings, UnwritableFileEndsSavingQuietly)
{
    ProgramDir dir;
    RunningApp run(dir);
    ASSERT_EQ(run.StartResult(), 0);
    // A directory where the file should be: opening fails, the quit still goes on.
    ASSERT_EQ(g_mkdir(dir.Res("settings.xml").c_str(), 0700), 0);
    LogCapture log;
    EXPECT_TRUE(run.Quit());
    EXPECT_TRUE(log.Lines().empty());
}
