// Message boxes and the dialog place managers.
#include <array>

#include "AppTestSupport.h"
#include "app/StartUp.h"
#include "ui/Window.h"
#include "ui/WindowPlace.h"

using namespace apptest;
using Quill::Rect;

namespace {
using WindowApp = AppTest;

bool ToggleActive(const char* name)
{
    GtkWidget* w = Widget(name);
    if (GTK_IS_TOGGLE_TOOL_BUTTON(w))
        return gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(w));
    return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w));
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

TEST_F(WindowApp, MsgBoxKindsButtonsAndFocus)
{
    const struct {
        int type;
        GtkMessageType look;
        std::vector<std::string> stock;
        int defaultResponse, pressed, focused;  // focused -1: no button has the focus
    } cases[] = {
        {0, GTK_MESSAGE_INFO, {GTK_STOCK_OK}, -1, 0, -1},
        {1, GTK_MESSAGE_WARNING, {GTK_STOCK_OK}, 0, 0, 0},
        {2, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO}, -1, 1, -1},
        {3, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO, GTK_STOCK_CANCEL}, 2, 0, 2},
        {3, GTK_MESSAGE_QUESTION, {GTK_STOCK_YES, GTK_STOCK_NO, GTK_STOCK_CANCEL}, 0, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type * 10 + c.defaultResponse);
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
        // A parent without a widget stands for the main window.
        EXPECT_EQ(parent, GTK_WINDOW(g_form1));
    }
}

TEST_F(WindowApp, DialogCloseHidesUnticksAndReopensAtTheSamePlace)
{
    for (const auto& n : {std::array<const char*, 4>{"DLG_DevSettings", "MB_DevSettings", "TB_DevSettings", "DS_Close"},
                          {"DLG_DevFind", "MB_DevFind", "TB_DevFind", "DFIND_Close"}}) {
        SCOPED_TRACE(n[0]);
        GtkWidget* dialog = Widget(n[0]);
        // Opening through the tool button shows the dialog and ticks the menu item too.
        gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(Widget(n[2])), TRUE);
        EXPECT_TRUE(gtk_widget_get_visible(dialog));
        EXPECT_TRUE(ToggleActive(n[1]));
        const Rect r{60, 70, 560, 430};
        Quill::Window(dialog).SetPlace(r);
        ASSERT_TRUE(PlacedAt(dialog, r));
        // What the window manager's close button sends.
        GdkEvent* e = gdk_event_new(GDK_DELETE);
        e->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
        e->any.send_event = TRUE;
        gtk_main_do_event(e);
        gdk_event_free(e);
        EXPECT_FALSE(gtk_widget_get_visible(dialog));
        EXPECT_FALSE(ToggleActive(n[1]));
        EXPECT_FALSE(ToggleActive(n[2]));
        // Reopening puts it back where it was closed.
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(Widget(n[1])), TRUE);
        EXPECT_TRUE(gtk_widget_get_visible(dialog));
        EXPECT_TRUE(ToggleActive(n[2]));
        EXPECT_TRUE(PlacedAt(dialog, r));
        gtk_button_clicked(GTK_BUTTON(Widget(n[3])));
        EXPECT_FALSE(gtk_widget_get_visible(dialog));
        EXPECT_FALSE(ToggleActive(n[1]));
        EXPECT_FALSE(ToggleActive(n[2]));
    }
}

TEST_F(WindowApp, UnusableRectangleLeavesPlacementToGtk)
{
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
        // Still stored, and reported while hidden.
        place.SetVisible(false, nullptr);
        EXPECT_FALSE(place.GetPlace().visible);
        EXPECT_EQ(place.GetPlace().rect, good);
    }
}
}  // namespace
